#include "ExfatTestVolumes.h"

#include <map>
#include <memory>
#include <sstream>

#include "ByteOrder.h"
#include "FsmapTestKit.h"
#include "NtfsTestVolumes.h"
#include "TempFolder.h"

namespace qvt::test {
namespace {

TempFolder& Store() {
  static TempFolder folder;  // the volumes live as long as the program
  return folder;
}

// Through a loop device: exfat-fuse wants a block device. Unmounted and
// detached on every path.
bool FillByMount(const ExfatVolume& v, const std::string& mnt) {
  std::string loop;
  if (Shell("losetup -f --show " + ShellQuote(v.image), &loop) != 0) return false;
  while (!loop.empty() && (loop.back() == '\n' || loop.back() == '\r')) loop.pop_back();
  bool ok = Shell("mkdir -p " + ShellQuote(mnt) + " && mount.exfat-fuse " + ShellQuote(loop) + " " +
                  ShellQuote(mnt)) == 0;
  if (ok) {
    ok = CopyPeerFilesIn(v.files, mnt) == 0;
    const std::string m = ShellQuote(mnt);
    Shell("umount " + m + " || { sleep 1; umount " + m + "; } || umount -l " + m);
  }
  Shell("losetup -d " + ShellQuote(loop));
  return ok;
}

bool ReadUsed(ExfatVolume* v) {
  std::string listing;
  if (Shell("blkls -l -a " + ShellQuote(v->image), &listing) != 0) return false;
  v->used.assign(v->sectors, false);
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t bar = line.find('|');
    if (bar == std::string::npos || line.compare(bar, 2, "|a") != 0 || line[0] < '0' || line[0] > '9') continue;
    const unsigned long s = std::stoul(line.substr(0, bar));
    if (s < v->sectors) v->used[s] = true;
  }
  return true;
}

}  // namespace

bool MakeExfatVolume(const std::string& name, std::uint64_t bytes, std::uint32_t cluster, bool fill,
                     std::uint64_t bigBytes, const ExfatVolume** out, std::string* why) {
  static std::map<std::string, std::unique_ptr<ExfatVolume>> made;
  if (made.count(name) != 0) {
    *out = made[name].get();
    return true;
  }
  for (const char* tool : {"mkfs.exfat", "fsck.exfat", "blkls", "icat"}) {
    if (!HaveTool(tool)) {
      *why = std::string(tool) + " is not installed (packages exfatprogs, sleuthkit)";
      return false;
    }
  }
  auto v = std::make_unique<ExfatVolume>();
  const std::string dir = Store().Native().string();
  v->image = dir + "/" + name + ".exfat";
  if (Shell("truncate -s " + std::to_string(bytes) + " " + ShellQuote(v->image) + " && mkfs.exfat -c " +
            std::to_string(cluster) + " " + ShellQuote(v->image) + " >/dev/null") != 0) {
    *why = "mkfs.exfat failed";
    return false;
  }
  if (fill) {
    v->files = WritePeerFiles(dir + "/" + name + "-files", static_cast<std::uint32_t>(bytes + cluster), bigBytes);
    if (!HaveTool("mount.exfat-fuse") || !FillByMount(*v, dir + "/" + name + "-mnt")) {
      *why = "exfat-fuse could not mount the volume (loop devices, /dev/fuse)";
      return false;
    }
  }
  const std::vector<std::uint8_t> boot = ReadWholeFile(v->image);
  v->sectors = static_cast<std::uint32_t>(boot.size() / 512);
  v->heapOffset = ReadLE32(boot.data() + 88) << (boot[108] - 9);
  v->clusterSectors = 1u << (boot[108] + boot[109] - 9);
  v->clusters = ReadLE32(boot.data() + 92);
  if (!ReadUsed(v.get())) {
    *why = "blkls could not read the volume";
    return false;
  }
  *out = v.get();
  made[name] = std::move(v);
  return true;
}

}  // namespace qvt::test
