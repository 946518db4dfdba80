// Against the peer tools: extents qemu-img makes read exactly as qemu-img
// reads them, our grain writes into them pass its check, and the extents our
// writer makes pass its check and compare against their source.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "FlatExtent.h"
#include "SparseExtent.h"
#include "SparseTestKit.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

using test::PeerWrite;
using test::QemuWrites;

using test::MemoryDisk;
using test::Quote;
using Bytes = std::vector<std::uint8_t>;

#define QVT_NEED_PEER_TOOLS()                                                           \
  if (!test::PeerToolsAvailable()) {                                                    \
    GTEST_SKIP() << "qemu-img and qemu-io are not available here (Linux only, package " \
                    "qemu-utils); the interop checks are skipped";                      \
  }

class Peer : public testing::Test {
 protected:
  std::string Native(const std::wstring& name) const { return dir_.Native(name).string(); }
  std::string Engine(const std::wstring& name) const { return dir_.Engine(name); }

  // Runs a command that must succeed.
  void Must(const std::string& command) {
    std::string log;
    ASSERT_EQ(test::Run(command, &log), 0) << command << "\n" << log;
  }

  Bytes RawRange(const std::wstring& name, std::uint64_t offset, std::uint32_t length) const {
    std::ifstream in(dir_.Native(name), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(length);
    in.read(reinterpret_cast<char*>(bytes.data()), length);
    EXPECT_TRUE(in.good()) << "raw range " << offset;
    return bytes;
  }

  test::TempFolder dir_;
};

constexpr std::uint64_t kMiB = 1024 * 1024;

// 40 MiB and 8 KiB: two GTs, the second holding a short last grain.
constexpr std::uint64_t kDiskBytes = 40 * kMiB + 8192;
const std::vector<PeerWrite> kScattered = {
    {0, 4096, 0x11},
    {5 * kMiB + 100 * 512, 70000, 0x22},  // across grains
    {32 * kMiB - 3 * 512, 4096, 0x33},    // across the GT boundary
    {20 * kMiB, 65536, 0x00},             // a grain of written zeros
    {kDiskBytes - 1024, 1024, 0x44},      // the short last grain
};

std::vector<std::uint8_t> ReadSparse(const std::string& path, std::uint64_t sectors, bool split,
                                     DiskResult* result) {
  SparseExtent e;
  *result = test::OpenExtent(&e, path, true, sectors, nullptr, 0, split);
  Bytes bytes;
  if (*result == DISK_OK) bytes = test::ReadWhole(&e, result);
  SparseClose(&e);
  return bytes;
}

TEST_F(Peer, QemuSparseAndStreamExtentsReadAsQemuReadsThem) {
  QVT_NEED_PEER_TOOLS();
  // monolithicSparse written in place by qemu-io; streamOptimized converted
  // from a raw file (qemu writes its grains only in one pass).
  Must("qemu-img create -q -f vmdk -o subformat=monolithicSparse " + Quote(Native(L"ms.vmdk")) +
       " " + std::to_string(kDiskBytes));
  Must("qemu-io -f vmdk" + QemuWrites(kScattered) + " " + Quote(Native(L"ms.vmdk")));
  Must("qemu-img create -q -f raw " + Quote(Native(L"src.raw")) + " " + std::to_string(kDiskBytes));
  Must("qemu-io -f raw" + QemuWrites(kScattered) + " " + Quote(Native(L"src.raw")));
  Must("qemu-img convert -f raw -O vmdk -o subformat=streamOptimized " + Quote(Native(L"src.raw")) +
       " " + Quote(Native(L"so.vmdk")));

  for (const wchar_t* name : {L"ms.vmdk", L"so.vmdk"}) {
    const std::wstring raw = std::wstring(name) + L".raw";
    Must("qemu-img convert -f vmdk -O raw " + Quote(Native(name)) + " " + Quote(Native(raw)));
    DiskResult r = DISK_OK;
    const Bytes ours = ReadSparse(Engine(name), kDiskBytes / 512, false, &r);
    ASSERT_EQ(r, DISK_OK) << Native(name);
    const Bytes theirs = test::FileBytes(dir_, raw);
    ASSERT_EQ(theirs.size(), kDiskBytes);
    EXPECT_TRUE(ours == theirs) << Native(name) << " reads differently";
  }
}

TEST_F(Peer, QemuSplitAndFlatExtentsReadAsQemuReadsThem) {
  QVT_NEED_PEER_TOOLS();
  // Two split extents: 2 GiB and 40 MiB.
  constexpr std::uint64_t kSplitBytes = 2048 * kMiB + 40 * kMiB;
  const std::vector<PeerWrite> writes = {
      {kMiB, 5000, 0x51},
      {2048 * kMiB - 1000, 3000, 0x52},  // across the two extents
      {2048 * kMiB + 33 * kMiB, 70000, 0x53},
  };
  Must("qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse " + Quote(Native(L"tw.vmdk")) +
       " " + std::to_string(kSplitBytes));
  Must("qemu-io -f vmdk" + QemuWrites(writes) + " " + Quote(Native(L"tw.vmdk")));
  Must("qemu-img convert -f vmdk -O raw " + Quote(Native(L"tw.vmdk")) + " " +
       Quote(Native(L"tw.raw")));

  SparseExtent first;
  SparseExtent second;
  constexpr std::uint64_t kFirstSectors = 2048 * kMiB / 512;
  ASSERT_EQ(
      test::OpenExtent(&first, Engine(L"tw-s001.vmdk"), true, kFirstSectors, nullptr, 0, true),
      DISK_OK);
  ASSERT_EQ(test::OpenExtent(&second, Engine(L"tw-s002.vmdk"), true, 40 * kMiB / 512, nullptr,
                             kFirstSectors, true),
            DISK_OK);
  // Around every write, and a stretch of nothing in between.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> windows = {{700 * kMiB, 1 << 20}};
  for (const PeerWrite& w : writes) windows.emplace_back(w.offset - 65536, w.length + 131072);
  for (const auto& [offset, length] : windows) {
    Bytes ours(length);
    for (std::uint64_t at = offset; at < offset + length;) {
      SparseExtent* e = at < 2048 * kMiB ? &first : &second;
      const std::uint64_t base = e == &first ? 0 : 2048 * kMiB;
      const std::uint64_t end = std::min<std::uint64_t>(offset + length, base + e->sectors * 512);
      ASSERT_EQ(SparseRead(e, at - base, static_cast<std::uint32_t>(end - at), &ours[at - offset]),
                DISK_OK);
      at = end;
    }
    EXPECT_TRUE(ours == RawRange(L"tw.raw", offset, length)) << offset;
  }
  DiskResult r = DISK_OK;
  EXPECT_TRUE(test::ReadWhole(&second, &r) == RawRange(L"tw.raw", 2048 * kMiB, 40 * kMiB));
  EXPECT_EQ(r, DISK_OK);
  SparseClose(&first);
  SparseClose(&second);

  Must("qemu-img create -q -f vmdk -o subformat=monolithicFlat " + Quote(Native(L"fl.vmdk")) +
       " 8M");
  Must("qemu-io -f vmdk" +
       QemuWrites({{0, 512, 0x61}, {3 * kMiB + 7, 10000, 0x62}, {8 * kMiB - 512, 512, 0x63}}) +
       " " + Quote(Native(L"fl.vmdk")));
  Must("qemu-img convert -f vmdk -O raw " + Quote(Native(L"fl.vmdk")) + " " +
       Quote(Native(L"fl.raw")));
  FlatExtent flat;
  ASSERT_EQ(FlatOpen(&flat, &ExtentOpenPlain, nullptr, Engine(L"fl-flat.vmdk").c_str(), true, 0, 0,
                     8 * kMiB / 512),
            DISK_OK);
  Bytes ours(8 * kMiB);
  ASSERT_EQ(FlatRead(&flat, 0, static_cast<std::uint32_t>(ours.size()), ours.data()), DISK_OK);
  EXPECT_TRUE(ours == test::FileBytes(dir_, L"fl.raw"));
  FlatClose(&flat);
}

TEST_F(Peer, OurGrainWritesIntoAQemuExtentPassItsCheck) {
  QVT_NEED_PEER_TOOLS();
  Must("qemu-img create -q -f vmdk -o subformat=monolithicSparse " + Quote(Native(L"ms.vmdk")) +
       " " + std::to_string(kDiskBytes));
  Must("qemu-io -f vmdk" + QemuWrites(kScattered) + " " + Quote(Native(L"ms.vmdk")));
  Must("qemu-img convert -f vmdk -O raw " + Quote(Native(L"ms.vmdk")) + " " +
       Quote(Native(L"expected.raw")));
  Bytes expected = test::FileBytes(dir_, L"expected.raw");

  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Engine(L"ms.vmdk"), false, kDiskBytes / 512), DISK_OK)
      << "qemu's file ends behind its last grain";
  const PeerWrite ours[] = {
      {100, 1000, 0x71},                // into qemu's grain
      {12 * kMiB - 700, 90000, 0x72},   // new grains
      {32 * kMiB + 512, 512, 0x73},     // new grain in GT 1
      {kDiskBytes - 4096, 4096, 0x74},  // the short last grain, held already
  };
  for (const PeerWrite& w : ours) {
    MemoryDisk data(w.length / 512 + 2);
    data.Pattern(0, w.length, static_cast<std::uint8_t>(w.pattern));
    ASSERT_EQ(SparseWrite(&e, w.offset, w.length, data.bytes.data()), DISK_OK) << w.offset;
    std::copy(data.bytes.begin(), data.bytes.begin() + w.length,
              expected.begin() + static_cast<std::ptrdiff_t>(w.offset));
  }
  SparseClose(&e);

  Must("qemu-img check -f vmdk " + Quote(Native(L"ms.vmdk")));
  test::PutFileBytes(dir_, L"expected.raw", expected);
  Must("qemu-img compare -f raw -F vmdk " + Quote(Native(L"expected.raw")) + " " +
       Quote(Native(L"ms.vmdk")));
}

struct Flavour {
  const char* name;
  bool compressed;
  bool stream;
};

class OurExtent : public Peer, public testing::WithParamInterface<Flavour> {};

TEST_P(OurExtent, PassesQemuCheckAndCompare) {
  QVT_NEED_PEER_TOOLS();
  MemoryDisk disk(static_cast<std::uint32_t>(kDiskBytes / 512));
  for (const PeerWrite& w : kScattered) {
    if (w.pattern != 0) disk.Pattern(w.offset, w.length, static_cast<std::uint8_t>(w.pattern));
  }
  test::PutFileBytes(dir_, L"src.raw", disk.bytes);
  ASSERT_EQ(
      test::WriteDisk(Engine(L"x.vmdk"), &disk, GetParam().compressed, GetParam().stream, "x.vmdk"),
      DISK_OK);
  Must("qemu-img check -f vmdk " + Quote(Native(L"x.vmdk")));
  Must("qemu-img compare -f raw -F vmdk " + Quote(Native(L"src.raw")) + " " +
       Quote(Native(L"x.vmdk")));

  if (GetParam().compressed) return;
  // Then grain writes of ours into it, and the check again.
  SparseExtent e;
  ASSERT_EQ(test::OpenExtent(&e, Engine(L"x.vmdk"), false, kDiskBytes / 512), DISK_OK);
  MemoryDisk data(300);
  data.Pattern(0, 300 * 512, 0x7E);
  ASSERT_EQ(SparseWrite(&e, 9 * kMiB + 3, 300 * 512, data.bytes.data()), DISK_OK);
  SparseClose(&e);
  std::copy(data.bytes.begin(), data.bytes.end(),
            disk.bytes.begin() + static_cast<std::ptrdiff_t>(9 * kMiB + 3));
  test::PutFileBytes(dir_, L"src.raw", disk.bytes);
  Must("qemu-img check -f vmdk " + Quote(Native(L"x.vmdk")));
  Must("qemu-img compare -f raw -F vmdk " + Quote(Native(L"src.raw")) + " " +
       Quote(Native(L"x.vmdk")));
}

INSTANTIATE_TEST_SUITE_P(Flavours, OurExtent,
                         testing::Values(Flavour{"MonolithicSparse", false, false},
                                         Flavour{"CompressedSparse", true, false},
                                         Flavour{"StreamOptimized", true, true}),
                         [](const testing::TestParamInfo<Flavour>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(Peer, AnEmptyExtentFromTheZeroImagePassesQemuCheck) {
  QVT_NEED_PEER_TOOLS();
  constexpr std::uint32_t kSectors = 3 * test::kGtSpan;
  const std::string text = test::SingleFileDescriptor(kSectors, "monolithicSparse", "e.vmdk");
  const TextView view = MakeView(text.data(), static_cast<std::uint32_t>(text.size()));
  ImageHandle zero = NoImage();
  ASSERT_EQ(ZeroImageOpen(&zero, kSectors, 16, 63), DISK_OK);
  SparseWriteRequest request;
  request.descriptor = &view;
  request.descriptorSectors = 20;
  request.hwVersionIndex = 4;
  request.sectors = kSectors;
  ASSERT_EQ(SparseWriteExtent(Engine(L"e.vmdk").c_str(), &zero, request), DISK_OK);
  ImageClose(&zero);
  Must("qemu-img check -f vmdk " + Quote(Native(L"e.vmdk")));
  Must("qemu-img create -q -f raw " + Quote(Native(L"zero.raw")) + " " +
       std::to_string(kSectors * 512ull));
  Must("qemu-img compare -f raw -F vmdk " + Quote(Native(L"zero.raw")) + " " +
       Quote(Native(L"e.vmdk")));
}

}  // namespace
}  // namespace qvt
