#include "PeerChainKit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "SparseTestKit.h"
#include "ToolConsole.h"

namespace qvt::test {
namespace {

// FNV-1a over the file's 64-bit words (a short tail as one more word), with
// its size: enough to tell any change, and quick over large disks.
std::string Digest(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t hash = 1469598103934665603ull;
  std::uint64_t size = 0;
  std::vector<char> chunk(1 << 20);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto n = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < n; i += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, chunk.data() + i, std::min<std::size_t>(8, n - i));
      hash = (hash ^ word) * 1099511628211ull;
    }
    size += n;
  }
  return std::to_string(size) + ":" + std::to_string(hash);
}

}  // namespace

FolderState Snapshot(const TempFolder& dir) {
  FolderState files;
  for (const auto& f : std::filesystem::directory_iterator(dir.Native())) {
    if (f.is_regular_file()) files[f.path().filename().string()] = Digest(f.path());
  }
  return files;
}

std::string Shell(const TempFolder& dir, const std::wstring& name) {
  return Quote(dir.Native(name).string());
}

int RunIn(const TempFolder& dir, const std::string& command, std::string* log) {
  return Run("cd " + Quote(dir.Native().string()) + " && " + command, log);
}

bool MakeChain(const TempFolder& dir, const std::string& subformat, const std::string& size,
               const std::vector<ChainDisk>& disks, std::string* log) {
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const std::string disk = Shell(dir, disks[i].name);
    if (i == 0) {
      const std::string create =
          "qemu-img create -q -f vmdk -o subformat=" + subformat + " " + disk + " " + size;
      if (RunIn(dir, create, log) != 0) return false;
    } else {
      ToolConsole console;
      if (RunTool({"child", dir.Native(disks[i - 1].name).string(),
                   dir.Native(disks[i].name).string()},
                  &console) != 0) {
        *log = console.err;
        return false;
      }
    }
    if (!disks[i].writes.empty() &&
        // Without its flushes (cache mode "unsafe") qemu-io allocates grains
        // many times faster; the bytes reach the file all the same.
        RunIn(dir, "qemu-io -t unsafe -f vmdk " + disks[i].writes + " " + disk, log) != 0) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> BackingFiles(const TempFolder& dir, const std::wstring& name,
                                      std::string* log) {
  std::vector<std::string> files;
  if (RunIn(dir, "qemu-img info --backing-chain " + Shell(dir, name), log) != 0) return files;
  const std::string key = "backing file: ";
  for (std::size_t at = log->find(key); at != std::string::npos; at = log->find(key, at + 1)) {
    const std::size_t value = at + key.size();
    std::string file = log->substr(value, log->find('\n', value) - value);
    file = file.substr(0, file.find(" (actual path: "));
    files.push_back(file);
  }
  return files;
}

}  // namespace qvt::test
