#include "HfsPlusPeerKit.h"

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "FsmapTestKit.h"

namespace qvt::test {
namespace {

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

bool HaveSleuthkit() { return HaveTool("fls") && HaveTool("icat") && HaveTool("blkls") && HaveTool("fsstat"); }

std::string SleuthkitFiles(const std::string& volume, std::map<std::string, std::vector<std::uint8_t>>* files) {
  std::string listing;
  const std::string v = ShellQuote(volume);
  if (Shell("fls -f hfs -r -p -F " + v, &listing) != 0) return "fls failed:\n" + listing;
  static const std::regex line(R"(^r/r (\d+):\s+(.+)$)");
  std::istringstream in(listing);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) continue;
    const std::string name = m[2].str();
    if (name.rfind("$", 0) == 0) continue;  // sleuthkit's own view of the special files
    const std::string out = volume + ".icat";
    std::string log;
    if (Shell("icat -f hfs " + v + " " + m[1].str() + " > " + ShellQuote(out), &log) != 0) {
      return "icat " + m[1].str() + " failed: " + log;
    }
    (*files)[name] = FileBytes(out);
  }
  return "";
}

std::vector<bool> SleuthkitBlocks(const std::string& volume, std::uint32_t blocks) {
  std::string out;
  if (Shell("blkls -f hfs -e -l " + ShellQuote(volume), &out) != 0) return {};
  std::vector<bool> allocated(blocks, true);
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const std::size_t bar = line.find('|');
    if (bar == std::string::npos || bar == 0 || line[0] < '0' || line[0] > '9') continue;
    const unsigned long addr = std::stoul(line.substr(0, bar));
    if (addr < blocks) allocated[addr] = line.compare(bar + 1, 1, "a") == 0;
  }
  return allocated;
}

}  // namespace qvt::test
