#include "PeerVolumeFiles.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "FsmapTestKit.h"

namespace qvt::test {
namespace {

void WriteRandom(const std::string& path, std::uint64_t bytes, std::mt19937* random) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string chunk(65536, '\0');
  while (bytes > 0) {
    const std::size_t n = bytes < chunk.size() ? static_cast<std::size_t>(bytes) : chunk.size();
    for (std::size_t i = 0; i < n; ++i) chunk[i] = static_cast<char>((*random)() & 0xFF);
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    bytes -= n;
  }
}

}  // namespace

std::vector<PeerFile> WritePeerFiles(const std::string& hostDir, std::uint32_t seed, std::uint64_t bigBytes) {
  struct Plan { const char* path; std::uint64_t bytes; bool kept; };
  static const Plan kPlan[] = {
      {"empty.txt", 0, true},          {"one.bin", 1, true},
      {"small.bin", 700, true},        {"gone1.bin", 300000, false},
      {"d1/page.bin", 4096, true},     {"d1/mid.bin", 70000, true},
      {"d1/gone2.bin", 200000, false}, {"d1/d2/large.bin", 1500000, true},
      {"d1/d2/odd.bin", 123457, true}, {"after.bin", 250000, true},
  };
  std::mt19937 random(seed);
  std::vector<PeerFile> files;
  std::filesystem::create_directories(hostDir + "/d1/d2");
  for (const Plan& p : kPlan) {
    files.push_back({p.path, hostDir + "/" + p.path, p.kept});
    WriteRandom(files.back().host, p.bytes, &random);
  }
  if (bigBytes > 0) {
    files.push_back({"big.bin", hostDir + "/big.bin", true});
    WriteRandom(files.back().host, bigBytes, &random);
  }
  return files;
}

int CopyPeerFilesIn(const std::vector<PeerFile>& files, const std::string& mountDir) {
  std::string command = "set -e; mkdir -p " + ShellQuote(mountDir + "/d1/d2");
  for (const PeerFile& f : files) {
    if (f.path == "big.bin") continue;  // last, once the holes are made
    command += "; cp " + ShellQuote(f.host) + " " + ShellQuote(mountDir + "/" + f.path);
  }
  for (const PeerFile& f : files) {
    if (!f.kept) command += "; rm " + ShellQuote(mountDir + "/" + f.path);
  }
  for (const PeerFile& f : files) {
    if (f.path == "big.bin") command += "; cp " + ShellQuote(f.host) + " " + ShellQuote(mountDir + "/big.bin");
  }
  return Shell(command + "; sync");
}

}  // namespace qvt::test
