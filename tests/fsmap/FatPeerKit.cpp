#include "FatPeerKit.h"

#include <fstream>
#include <sstream>

#include "FsmapTestKit.h"

namespace qvt::test {
namespace {

const std::string kMtools = "MTOOLS_SKIP_CHECK=1 ";

// Bytes that differ from file to file and from cluster to cluster, so that
// a lost or misplaced cluster shows in the comparison.
void WriteGenerated(const std::string& path, std::size_t size, std::uint32_t seed) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    out.put(static_cast<char>(x >> 24));
  }
}

std::string Run(const std::string& command) {
  std::string log;
  return Shell(command, &log) == 0 ? std::string() : command + "\n" + log;
}

}  // namespace

bool HaveFatPeers() {
  return HaveTool("mkfs.fat") && HaveTool("fsck.fat") && HaveTool("mcopy") && HaveTool("blkls");
}

std::string MakeFatVolume(const FatVolumeCase& c, const std::string& scratch, const std::string& volume) {
  const std::string img = ShellQuote(volume);
  const std::string tree = scratch + "/tree";
  std::string fail = Run("rm -rf " + ShellQuote(scratch) + " && mkdir -p " + ShellQuote(tree + "/docs/deep") +
                         " " + ShellQuote(tree + "/gone") + " && rm -f " + img + " && mkfs.fat -C -F " +
                         std::to_string(c.fatBits) + " -s " + std::to_string(c.sectorsPerCluster) + " " + img +
                         " " + std::to_string(c.kib));
  if (!fail.empty()) return fail;
  const std::size_t sizes[] = {0, 1, 511, 513, 4096, 33000, 200000, 70001};
  for (std::size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
    WriteGenerated(tree + "/f" + std::to_string(i) + ".bin", sizes[i], static_cast<std::uint32_t>(i));
    WriteGenerated(tree + "/docs/deep/g" + std::to_string(i) + ".dat", sizes[i] / 3 + 7,
                   static_cast<std::uint32_t>(100 + i));
    WriteGenerated(tree + "/gone/h" + std::to_string(i), sizes[i] / 2 + 3, static_cast<std::uint32_t>(200 + i));
  }
  const std::string m = kMtools;
  fail = Run("cd " + ShellQuote(tree) + " && " + m + "mcopy -s -i " + img + " f0.bin f1.bin f2.bin f3.bin f4.bin "
             "f5.bin f6.bin f7.bin docs gone ::/ && " + m + "mdel -i " + img + " ::/f2.bin ::/f5.bin ::/docs/deep/g3.dat"
             " && " + m + "mdeltree -i " + img + " ::/gone && " + m + "mmd -i " + img + " ::/later && " + m +
             "mcopy -i " + img + " f6.bin ::/later/again.bin");
  if (!fail.empty() || !c.fill) return fail;
  // Fill the volume with 64 KiB files until mtools says it is full (it
  // removes the file it could not finish), then free two of them.
  WriteGenerated(scratch + "/fill", 65536, 999);
  Shell("cd " + ShellQuote(scratch) + " && i=0; while [ $i -lt 4000 ] && " + m + "mcopy -i " + img +
        " fill ::/later/fill$i 2>/dev/null; do i=$((i+1)); done");
  return Run(m + "mdel -i " + img + " ::/later/fill3 ::/later/fill10");
}

std::vector<bool> BlklsAllocated(const std::string& image, std::uint32_t offset, std::uint32_t sectors) {
  std::string out;
  if (Shell("blkls -e -l -o " + std::to_string(offset) + " " + ShellQuote(image), &out) != 0) return {};
  std::vector<bool> allocated(sectors, true);
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const std::size_t bar = line.find('|');
    if (bar == std::string::npos || bar == 0 || line[0] < '0' || line[0] > '9') continue;
    const unsigned long addr = std::stoul(line.substr(0, bar));
    if (addr < sectors) allocated[addr] = line.compare(bar + 1, 1, "a") == 0;
  }
  return allocated;
}

std::string ExtractFatFiles(const std::string& volume, const std::string& out) {
  return Run("rm -rf " + ShellQuote(out) + " && mkdir -p " + ShellQuote(out) + " && " + kMtools + "mcopy -s -n -i " +
             ShellQuote(volume) + " '::/*' " + ShellQuote(out));
}

}  // namespace qvt::test
