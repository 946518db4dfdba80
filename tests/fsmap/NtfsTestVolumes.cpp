#include "NtfsTestVolumes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "ByteOrder.h"
#include "FsmapTestKit.h"
#include "TempFolder.h"

namespace qvt::test {
namespace {

TempFolder& Store() {
  static TempFolder folder;  // the volumes live as long as the program
  return folder;
}

bool FillByMount(const NtfsVolume& v, const std::string& mnt) {
  if (Shell("mkdir -p " + ShellQuote(mnt) + " && ntfs-3g " + ShellQuote(v.image) + " " + ShellQuote(mnt)) != 0) {
    return false;
  }
  const int copied = CopyPeerFilesIn(v.files, mnt);
  const std::string m = ShellQuote(mnt);
    Shell("umount " + m + " || { sleep 1; umount " + m + "; } || umount -l " + m);
  return copied == 0;
}

// Without a mount ntfscp cannot make folders: only the top-level files go in.
bool FillByNtfscp(NtfsVolume* v) {
  for (PeerFile& f : v->files) {
    if (f.path.find('/') != std::string::npos) f.kept = false;
    if (!f.kept) continue;
    if (Shell("ntfscp -f " + ShellQuote(v->image) + " " + ShellQuote(f.host) + " " + ShellQuote(f.path)) != 0) {
      return false;
    }
  }
  return true;
}

bool ReadGeometry(NtfsVolume* v) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(v->image);
  if (bytes.size() < 512) return false;
  v->sectors = static_cast<std::uint32_t>(bytes.size() / 512);
  v->sectorsPerCluster = bytes[13];
  v->clusters = ReadLE64(bytes.data() + 40) / v->sectorsPerCluster;
  v->mftCluster = ReadLE64(bytes.data() + 48);
  return true;
}

}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool MakeNtfsVolume(const std::string& name, std::uint64_t bytes, std::uint32_t cluster, bool fill,
                    std::uint64_t bigBytes, const NtfsVolume** out, std::string* why) {
  static std::map<std::string, std::unique_ptr<NtfsVolume>> made;
  if (made.count(name) != 0) {
    *out = made[name].get();
    return true;
  }
  for (const char* tool : {"mkntfs", "ntfscat", "ntfscp", "ntfsfix"}) {
    if (!HaveTool(tool)) {
      *why = std::string(tool) + " is not installed (package ntfs-3g)";
      return false;
    }
  }
  auto v = std::make_unique<NtfsVolume>();
  const std::string dir = Store().Native().string();
  v->image = dir + "/" + name + ".ntfs";
  if (Shell("truncate -s " + std::to_string(bytes) + " " + ShellQuote(v->image) + " && mkntfs -F -f -q -c " +
            std::to_string(cluster) + " " + ShellQuote(v->image)) != 0) {
    *why = "mkntfs failed";
    return false;
  }
  if (fill) {
    v->files = WritePeerFiles(dir + "/" + name + "-files", static_cast<std::uint32_t>(bytes + cluster), bigBytes);
    v->mounted = FillByMount(*v, dir + "/" + name + "-mnt");
    if (!v->mounted) {
      if (Shell("ntfsfix -n " + ShellQuote(v->image)) != 0 || !FillByNtfscp(v.get())) {
        *why = "neither ntfs-3g nor ntfscp could fill the volume";
        return false;
      }
    }
  }
  std::string text;
  if (!ReadGeometry(v.get()) || Shell("ntfscat " + ShellQuote(v->image) + " '$Bitmap' > " +
                                      ShellQuote(v->image + ".bitmap")) != 0) {
    *why = "ntfscat could not read $Bitmap";
    return false;
  }
  v->bitmap = ReadWholeFile(v->image + ".bitmap");
  *out = v.get();
  made[name] = std::move(v);
  return true;
}

bool NtfsClusterUsed(const NtfsVolume& v, std::uint64_t c) {
  if (c >= v.clusters || c / 8 >= v.bitmap.size()) return true;
  return ((v.bitmap[c / 8] >> (c % 8)) & 1) != 0;
}

std::vector<bool> NtfsUsedSectors(const NtfsVolume& v) {
  std::vector<bool> used(v.sectors);
  for (std::uint32_t s = 0; s < v.sectors; ++s) used[s] = NtfsClusterUsed(v, s / v.sectorsPerCluster);
  return used;
}

}  // namespace qvt::test
