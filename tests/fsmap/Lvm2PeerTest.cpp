// Physical volumes made by lvm2 itself on loop devices, read back by this
// reader and by libvslvm (vslvminfo and its Python binding), which must
// agree on where every logical volume lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "ByteOrder.h"
#include "Lvm2TestKit.h"

namespace qvt {
namespace {

using test::FoundVolume;
using test::RawDisk;
using test::Shell;
using test::ShellQuote;

// Attaches a loop device over [offset, offset + size) of the image, makes a
// PV and the volume group `vg` on it, runs the lvm2 commands in $1 (with
// $vg and $dev set), then deactivates and exports the group and detaches
// the loop on every path, so the host keeps nothing of it.
const char kMakePv[] = R"(
export LVM_SUPPRESS_FD_WARNINGS=1
make_pv() {
  img=$1 offset=$2 size=$3 vg=$4 commands=$5
  dev=$(losetup -f --show -o "$offset" --sizelimit "$size" "$img") || return 2
  status=0
  { pvcreate -q -y "$dev" && vgcreate -q "$vg" "$dev" && eval "$commands"; } || status=1
  vgchange -q -an "$vg" >/dev/null 2>&1
  vgexport -q "$vg" >/dev/null 2>&1
  losetup -d "$dev" || status=3
  return $status
}
lv() { lvcreate -q --driverloaded n -an -Zn -y "$@"; }
)";

// For every logical volume, as libvslvm reads it: name, sectors, and the
// sector marks (see MarkSectors) found at its first and last sectors.
const char kReadBack[] = R"(
import struct, sys, pyvslvm
class Part:
    def __init__(self, path, offset):
        self.f = open(path, 'rb'); self.o = offset; self.p = 0
        self.f.seek(0, 2); self.n = self.f.tell() - offset
    def seek(self, p, whence=0):
        self.p = p if whence == 0 else (self.p + p if whence == 1 else self.n + p)
        return self.p
    def tell(self): return self.p
    def get_size(self): return self.n
    def read(self, n=-1):
        self.f.seek(self.o + self.p)
        d = self.f.read(self.n - self.p if n < 0 else n); self.p += len(d); return d
h = pyvslvm.handle(); h.open_file_object(Part(sys.argv[1], int(sys.argv[2])))
h.open_physical_volume_files_as_file_objects([Part(sys.argv[1], int(sys.argv[2]))])
vg = h.get_volume_group()
for i in range(vg.number_of_logical_volumes):
    lv = vg.get_logical_volume(i)
    lv.seek_offset(0, 0); first = struct.unpack('<Q', lv.read_buffer(8))[0]
    lv.seek_offset(lv.size - 512, 0); last = struct.unpack('<Q', lv.read_buffer(8))[0]
    print(lv.name, lv.size // 512, first, last, lv.number_of_segments)
)";

struct PeerLv {
  std::string name;
  std::uint32_t sectors;
  std::uint64_t firstMark;
  std::uint64_t lastMark;
  int segments;
};

// Every sector of the image starts with its own number, so that what
// libvslvm reads from a volume tells where it took it from.
void MarkSectors(const std::string& path, std::uint32_t sectors) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sectors) * 512, 0);
  for (std::uint32_t s = 0; s < sectors; ++s) WriteLE64(bytes.data() + s * 512ull, s);
  std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

struct PeerDisk {
  std::unique_ptr<RawDisk> disk;
  std::uint32_t pvFirst = 0;
};

class Lvm2Peers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    skip_ = Missing();
    if (!skip_.empty()) return;
    folder_ = new test::TempFolder();
    const std::string vg = "qvtlvm" + std::to_string(static_cast<unsigned>(std::random_device{}()));
    Make(&whole_, L"whole", 131072, 0, vg + "a", "lv -L 8M -n lv1 $vg && lv -L 12M -n lv_two $vg");
    Make(&hyphen_, L"hyphen", 32768, 0, vg + "b", "lv -L 4M -n lv-home $vg");
    Make(&twoSegments_, L"twoseg", 32768, 0, vg + "c",
         "lv -L 4M -n a $vg && lv -L 4M -n b $vg && "
         "lvextend -q --driverloaded n -L +4M $vg/a");
    Make(&partition_, L"mbr", 81920, 2048, vg + "d",
         "lv -L 8M -n data $vg && lv -L 4M -n logs $vg");
  }
  static void TearDownTestSuite() {
    for (PeerDisk* d : {&whole_, &hyphen_, &twoSegments_, &partition_}) d->disk.reset();
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    if (!made_.empty()) FAIL() << made_;
  }

  static std::string Missing() {
    for (const char* tool :
         {"losetup", "pvcreate", "vgcreate", "lvcreate", "sfdisk", "vslvminfo"}) {
      if (!test::HaveTool(tool)) return std::string(tool) + " is not on the PATH";
    }
    if (Shell("/usr/bin/python3 -c 'import pyvslvm'") != 0) return "python3-libvslvm is missing";
    std::string out;
    if (Shell("id -u", &out) != 0 || out != "0\n") return "lvm2 on loop devices needs root";
    if (Shell("losetup -f", &out) != 0) return "no free loop device: " + out;
    return "";
  }

  // A marked image of `sectors`, with a PV at sector `pvFirst` (behind an
  // MBR entry of type 0x8E when not 0) holding what `commands` make.
  static void Make(PeerDisk* d, const std::wstring& name, std::uint32_t sectors,
                   std::uint32_t pvFirst, const std::string& vg, const std::string& commands) {
    d->disk = std::make_unique<RawDisk>(*folder_, name, sectors);
    d->pvFirst = pvFirst;
    const std::string img = d->disk->NativePath();
    MarkSectors(img, sectors);
    std::string log;
    if (pvFirst != 0) {
      const std::string table = "start=" + std::to_string(pvFirst) + ", type=8e\n";
      if (Shell("printf %s " + ShellQuote(table) + " | sfdisk -q " + ShellQuote(img), &log) != 0) {
        made_ += "sfdisk: " + log;
        return;
      }
    }
    const std::string size = std::to_string((static_cast<std::uint64_t>(sectors) - pvFirst) * 512);
    const std::string script = std::string(kMakePv) + "make_pv " + ShellQuote(img) + " " +
                               std::to_string(pvFirst * 512ull) + " " + size + " " + vg + " " +
                               ShellQuote(commands);
    if (Shell("bash -c " + ShellQuote(script), &log) != 0) made_ += "lvm2 on " + img + ": " + log;
  }

  static std::vector<PeerLv> ReadBack(const PeerDisk& d) {
    std::string out;
    const std::string script = folder_->Native(L"readback.py").string();
    std::ofstream(script) << kReadBack;
    EXPECT_EQ(Shell("/usr/bin/python3 " + ShellQuote(script) + " " +
                        ShellQuote(d.disk->NativePath()) + " " + std::to_string(d.pvFirst * 512ull),
                    &out),
              0)
        << out;
    std::vector<PeerLv> lvs;
    std::istringstream lines(out);
    PeerLv lv;
    while (lines >> lv.name >> lv.sectors >> lv.firstMark >> lv.lastMark >> lv.segments)
      lvs.push_back(lv);
    return lvs;
  }

  static std::vector<FoundVolume> Ours(PeerDisk* d, DiskResult* r) {
    std::vector<FoundVolume> found;
    *r = test::ReadPv(d->disk->Open(), d->pvFirst, &found);
    d->disk->Close();
    return found;
  }

  static std::string skip_;
  static std::string made_;
  static test::TempFolder* folder_;
  static PeerDisk whole_, hyphen_, twoSegments_, partition_;
};

std::string Lvm2Peers::skip_;
std::string Lvm2Peers::made_;
test::TempFolder* Lvm2Peers::folder_ = nullptr;
PeerDisk Lvm2Peers::whole_, Lvm2Peers::hyphen_, Lvm2Peers::twoSegments_, Lvm2Peers::partition_;

// Each volume lies where libvslvm reads it: its first and last sectors are
// the ones the marks say, and the sizes agree.
void ExpectSamePlaces(const std::vector<FoundVolume>& ours, const std::vector<PeerLv>& theirs) {
  ASSERT_EQ(ours.size(), theirs.size());
  for (std::size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(ours[i].first, theirs[i].firstMark) << theirs[i].name;
    EXPECT_EQ(ours[i].count, theirs[i].sectors) << theirs[i].name;
    EXPECT_EQ(ours[i].first + ours[i].count - 1ull, theirs[i].lastMark) << theirs[i].name;
    EXPECT_EQ(ours[i].type, 0) << theirs[i].name;
  }
}

TEST_F(Lvm2Peers, TwoLinearVolumesOfAWholeDiskPvLieWhereLibvslvmReadsThem) {
  DiskResult r = 0;
  const std::vector<FoundVolume> ours = Ours(&whole_, &r);
  ASSERT_EQ(r, DISK_OK);
  ASSERT_EQ(ours.size(), 2u);
  ExpectSamePlaces(ours, ReadBack(whole_));
  // pvcreate put the label in sector 1; lv_two starts two 4 MiB extents in.
  ImageHandle* image = whole_.disk->Open();
  char label[8] = {};
  ASSERT_EQ(ImageRead(image, 512, 8, label), DISK_OK);
  EXPECT_EQ(std::string(label, 8), "LABELONE");
  whole_.disk->Close();
  EXPECT_EQ(ours[1].first - ours[0].first, 16384u);
  // vslvminfo, the other face of libvslvm, sees the same sizes.
  std::string info;
  ASSERT_EQ(Shell("vslvminfo " + ShellQuote(whole_.disk->NativePath()), &info), 0) << info;
  EXPECT_NE(info.find("Size:\t\t\t\t8.0 MiB (8388608 bytes)"), std::string::npos) << info;
  EXPECT_NE(info.find("Data area offset:\t0x00800000 (8388608)"), std::string::npos) << info;
}

TEST_F(Lvm2Peers, APvInAnMbrPartitionIsFoundThroughVolumeDiscovery) {
  DiskResult r = 0;
  const std::vector<FoundVolume> ours = Ours(&partition_, &r);
  ASSERT_EQ(r, DISK_OK);
  ExpectSamePlaces(ours, ReadBack(partition_));
  std::vector<FoundVolume> discovered;
  ASSERT_EQ(test::Discover(partition_.disk->Open(), &discovered), DISK_OK);
  partition_.disk->Close();
  EXPECT_EQ(discovered, ours);
}

// What lvm2 wrote there is checked in its own words (libvslvm 20181227
// cannot open a volume of two segments, so it cannot be the witness there).
TEST_F(Lvm2Peers, LayoutsBeyondOneLinearSegmentAreRefused) {
  const struct {
    const char* what;
    PeerDisk* disk;
    const char* written;
  } cases[] = {
      {"a volume named lv-home", &hyphen_, "\nlv-home {\n"},
      {"a volume extended into a second segment", &twoSegments_, "\nsegment_count = 2\n"},
  };
  for (const auto& c : cases) {
    DiskResult r = 0;
    Ours(c.disk, &r);
    EXPECT_EQ(r, DISK_E_FS_UNKNOWN) << c.what;
    std::string head(1 << 20, '\0');
    std::ifstream(c.disk->disk->NativePath(), std::ios::binary).read(&head[0], 1 << 20);
    EXPECT_NE(head.find(c.written), std::string::npos) << c.what;
  }
  // libvslvm reads the hyphenated volume: the layout is sound, the refusal
  // is this reader's rule.
  const std::vector<PeerLv> theirs = ReadBack(hyphen_);
  ASSERT_EQ(theirs.size(), 1u);
  EXPECT_EQ(theirs[0].name, "lv-home");
}

// Damage to a copy of the real PV: the label and area header are covered by
// their CRCs, the text by the parse; the answer stays "refused" or a list on
// the PV, whatever the bytes.
TEST_F(Lvm2Peers, DamageToARealPvIsRefusedNeverFollowed) {
  RawDisk copy(*folder_, L"damaged", 131072);
  const auto refill = [&] {
    std::filesystem::copy_file(whole_.disk->NativePath(), copy.NativePath(),
                               std::filesystem::copy_options::overwrite_existing);
  };
  for (std::uint64_t at : {512ull + 16, 512ull + 100, 4096ull + 30}) {
    refill();
    // Flip the byte: a fixed value would leave it unchanged when it was
    // already that value (the CRCs and ids differ from PV to PV).
    char byte = 0;
    std::ifstream(copy.NativePath(), std::ios::binary).seekg(static_cast<std::streamoff>(at)).get(byte);
    copy.PutByte(at, static_cast<std::uint8_t>(~static_cast<std::uint8_t>(byte)));
    std::vector<FoundVolume> found;
    EXPECT_EQ(test::ReadPv(copy.Open(), 0, &found), DISK_E_FS_UNKNOWN) << at;
    copy.Close();
  }
  refill();
  std::vector<std::uint8_t> head(512);
  std::ifstream(copy.NativePath(), std::ios::binary)
      .seekg(4096)
      .read(reinterpret_cast<char*>(head.data()), 512);
  const std::uint64_t text = 4096 + ReadLE64(head.data() + 40);
  std::vector<std::uint8_t> original(ReadLE64(head.data() + 48));
  std::ifstream(copy.NativePath(), std::ios::binary)
      .seekg(static_cast<std::streamoff>(text))
      .read(reinterpret_cast<char*>(original.data()),
            static_cast<std::streamsize>(original.size()));
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> mutated = original;
    for (int e = 0; e < 2; ++e)
      mutated[random() % mutated.size()] = static_cast<std::uint8_t>(random());
    copy.Put(text, mutated);
    std::vector<FoundVolume> found;
    const DiskResult r = test::ReadPv(copy.Open(), 0, &found);
    copy.Close();
    ASSERT_TRUE(r == DISK_OK || r == DISK_E_FS_UNKNOWN) << r;
    for (const FoundVolume& v : found)
      EXPECT_LE(v.first + static_cast<std::uint64_t>(v.count), 131072u);
  }
}

}  // namespace
}  // namespace qvt
