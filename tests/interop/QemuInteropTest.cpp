// Against qemu-img and qemu-io: every VMDK subformat qemu can make opens and
// exports exactly as qemu reads it; chains whose children have VMware-style
// descriptors read alike in both; what qvtdisk writes passes qemu's check and
// compares equal; and qemu's own child descriptors are refused by the rules
// this program keeps, yet can be mended with set-parent-hint.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "ImageOpen.h"
#include "SparseTestKit.h"
#include "VmdkDescriptor.h"
#include "VmdkImage.h"

namespace qvt {
namespace {

using test::PeerWrite;
using test::QemuWrites;
using test::Quote;

#define QVT_NEED_PEER_TOOLS()                                                           \
  if (!test::PeerToolsAvailable()) {                                                    \
    GTEST_SKIP() << "qemu-img and qemu-io are not available here (Linux only, package " \
                    "qemu-utils); the interop checks are skipped";                      \
  }

constexpr std::uint64_t kMiB = 1024 * 1024;

// The exit status of a command test::Run ran.
int ExitCode(int status) {
#if defined(_WIN32)
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

class Interop : public testing::Test {
 protected:
  std::string Native(const std::wstring& name) const { return dir_.Native(name).string(); }
  std::string Q(const std::wstring& name) const { return Quote(Native(name)); }

  void Must(const std::string& command) {
    std::string log;
    ASSERT_EQ(test::Run(command, &log), 0) << command << "\n" << log;
  }
  // qvtdisk's exit status; its output in `log`.
  int Qvtdisk(const std::string& arguments, std::string* log = nullptr) {
    std::string output;
    const int status = test::Run(Quote(QVT_QVTDISK_PATH) + " " + arguments, &output);
    if (log != nullptr) *log = output;
    return ExitCode(status);
  }
  // The disk's content through qemu and through qvtdisk must be the same
  // bytes, and the two files the same size.
  void ExportsAlike(const std::wstring& disk) {
    const std::wstring ours = disk + L".ours.raw";
    const std::wstring theirs = disk + L".theirs.raw";
    std::string log;
    ASSERT_EQ(Qvtdisk("export " + Q(disk) + " " + Q(ours), &log), 0) << log;
    Must("qemu-img convert -f vmdk -O raw " + Q(disk) + " " + Q(theirs));
    EXPECT_EQ(std::filesystem::file_size(dir_.Native(ours)),
              std::filesystem::file_size(dir_.Native(theirs)));
    // qemu-img compare skips the holes of both files, so that a mostly
    // empty 2 GiB disk compares quickly.
    Must("qemu-img compare -q -f raw -F raw " + Q(ours) + " " + Q(theirs));
  }
  DiskResult OpenWith(const std::wstring& name, std::uint32_t mode, ImageHandle* image) {
    return ImageOpen(image, dir_.Engine(name).c_str(), true, mode, nullptr, nullptr);
  }
  std::string Cid(const std::wstring& name) {
    VmdkDescriptor* d = new VmdkDescriptor();
    ByteBuffer text{};
    std::string cid;
    if (VmdkReadDescriptor(dir_.Engine(name).c_str(), d, &text) == DISK_OK) {
      cid.assign(reinterpret_cast<const char*>(d->cid.data), d->cid.length);
    }
    VmdkFreeDescriptorText(&text);
    delete d;
    return cid;
  }
  // A VMware-style child (separate descriptor, one sparse extent, no disk
  // database) over `parent`, its extent made empty by qemu-img.
  void VmwareChild(const std::wstring& name, const std::string& hint, const std::wstring& parent,
                   std::uint64_t bytes) {
    const std::wstring stem = name.substr(0, name.rfind(L'.'));
    Must("qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse " + Q(L"scratch.vmdk") +
         " " + std::to_string(bytes));
    std::filesystem::rename(dir_.Native(L"scratch-s001.vmdk"), dir_.Native(stem + L"-s001.vmdk"));
    std::filesystem::remove(dir_.Native(L"scratch.vmdk"));
    std::string extent;
    for (wchar_t c : stem.substr(stem.rfind(L'\\') + 1)) extent.push_back(static_cast<char>(c));
    dir_.WriteFile(name, "# Disk DescriptorFile\nversion=1\nCID=0badc0de\nparentCID=" +
                             Cid(parent) +
                             "\ncreateType=\"twoGbMaxExtentSparse\"\nparentFileNameHint=\"" +
                             hint + "\"\n\n# Extent description\nRW " +
                             std::to_string(bytes / 512) + " SPARSE \"" + extent +
                             "-s001.vmdk\"\n");
  }

  test::TempFolder dir_;
};

TEST_F(Interop, EverySubformatQemuMakesExportsAsQemuReadsIt) {
  QVT_NEED_PEER_TOOLS();
  struct Subformat {
    const char* name;
    std::uint64_t bytes;
    bool converted;  // written to a raw file first and converted (qemu writes these in one pass)
  };
  // The split sparse disk has two extents, the second short.
  const Subformat formats[] = {
      {"monolithicSparse", 6 * kMiB + 8192, false},
      {"twoGbMaxExtentSparse", 2048 * kMiB + 3 * kMiB, false},
      {"monolithicFlat", 6 * kMiB, false},
      {"twoGbMaxExtentFlat", 6 * kMiB, false},
      {"streamOptimized", 6 * kMiB + 8192, true},
  };
  for (const Subformat& f : formats) {
    SCOPED_TRACE(f.name);
    const std::wstring disk = std::wstring(f.name, f.name + std::strlen(f.name)) + L".vmdk";
    const std::vector<PeerWrite> writes = {
        {0, 4096, 0x11},
        {kMiB + 100 * 512, 70000, 0x22},         // across grains
        {3 * kMiB, 65536, 0x00},                 // a grain of written zeros
        {f.bytes - 1024, 1024, 0x44},            // the end (a short last grain)
        {f.bytes / 2 - 1000, 3000, 0x55},        // the split disk's extent boundary
    };
    if (f.converted) {
      Must("qemu-img create -q -f raw " + Q(L"source.raw") + " " + std::to_string(f.bytes));
      Must("qemu-io -f raw" + QemuWrites(writes) + " " + Q(L"source.raw"));
      Must("qemu-img convert -f raw -O vmdk -o subformat=" + std::string(f.name) + " " +
           Q(L"source.raw") + " " + Q(disk));
    } else {
      Must("qemu-img create -q -f vmdk -o subformat=" + std::string(f.name) + " " + Q(disk) + " " +
           std::to_string(f.bytes));
      Must("qemu-io -f vmdk" + QemuWrites(writes) + " " + Q(disk));
    }
    ImageHandle image = NoImage();
    ASSERT_EQ(OpenWith(disk, VMDK_PARENT_OPEN, &image), DISK_OK);
    EXPECT_EQ(image.kind, IMAGE_VMDK);
    ImageGeometry g{};
    ASSERT_EQ(ImageGetSize(&image, &g), DISK_OK);
    EXPECT_EQ(g.sectors, f.bytes / 512);
    ImageClose(&image);
    ExportsAlike(disk);
  }
}

TEST_F(Interop, AChainOfThreeReadsAlikeAndTakesQvtdiskWritesThatQemuAccepts) {
  QVT_NEED_PEER_TOOLS();
  // 40 MiB: two GTs, so that writes cross a GT boundary.
  constexpr std::uint64_t kBytes = 40 * kMiB;
  Must("qemu-img create -q -f vmdk -o subformat=monolithicSparse " + Q(L"base.vmdk") + " " +
       std::to_string(kBytes));
  Must("qemu-io -f vmdk" + QemuWrites({{0, 3 * 65536, 0x11}, {33 * kMiB, 5000, 0x12}}) + " " +
       Q(L"base.vmdk"));
  VmwareChild(L"mid.vmdk", "base.vmdk", L"base.vmdk", kBytes);
  Must("qemu-io -f vmdk" + QemuWrites({{65536 + 512, 1024, 0x21}, {20 * kMiB, 65536, 0x22}}) +
       " " + Q(L"mid.vmdk"));
  ASSERT_TRUE(std::filesystem::create_directory(dir_.Native(L"top")));
  VmwareChild(L"top\\top.vmdk", "..\\mid.vmdk", L"mid.vmdk", kBytes);
  // qemu takes the backslash for a character of the name: it reads this
  // child through a copy of its descriptor with a POSIX hint.
  const std::string descriptor = dir_.ReadFile(L"top\\top.vmdk");
  std::string posix = descriptor;
  posix.replace(posix.find("..\\mid.vmdk"), 11, "../mid.vmdk");
  dir_.WriteFile(L"top\\qemu-top.vmdk", posix);
  Must("qemu-io -f vmdk" + QemuWrites({{2 * 65536 - 100, 300, 0x31}}) + " " +
       Q(L"top\\qemu-top.vmdk"));

  ImageHandle image = NoImage();
  ASSERT_EQ(OpenWith(L"top\\top.vmdk", VMDK_PARENT_OPEN, &image), DISK_OK);
  int disks = 0;
  for (VmdkImage* at = VmdkImageFromHandle(&image); at != nullptr;
       at = VmdkImageFromHandle(VmdkImageParent(at))) {
    ++disks;
  }
  EXPECT_EQ(disks, 3);
  ImageClose(&image);

  // qvtdisk's export against qemu's reading of the same chain.
  std::string log;
  ASSERT_EQ(Qvtdisk("export " + Q(L"top\\top.vmdk") + " " + Q(L"ours.raw"), &log), 0) << log;
  Must("qemu-img convert -f vmdk -O raw " + Q(L"top\\qemu-top.vmdk") + " " + Q(L"expected.raw"));
  Must("cmp " + Q(L"ours.raw") + " " + Q(L"expected.raw"));

  // Writes: into a grain the top holds, into grains only the parents hold
  // (the rest of each grain comes from them), across the GT boundary, and at
  // the very end.
  const std::vector<PeerWrite> patches = {
      {2 * 65536 + 10, 100, 0x41},
      {65536 + 300, 2000, 0x42},
      {32 * kMiB - 700, 1400, 0x43},
      {kBytes - 512, 512, 0x44},
  };
  Must("qemu-img convert -f vmdk -O raw " + Q(L"base.vmdk") + " " + Q(L"base-before.raw"));
  Must("qemu-img convert -f vmdk -O raw " + Q(L"mid.vmdk") + " " + Q(L"mid-before.raw"));
  std::vector<std::uint8_t> expected(kBytes);
  {
    std::ifstream in(dir_.Native(L"expected.raw"), std::ios::binary);
    in.read(reinterpret_cast<char*>(expected.data()), static_cast<std::streamsize>(kBytes));
  }
  for (const PeerWrite& p : patches) {
    std::string bytes(p.length, '\0');
    for (std::uint32_t i = 0; i < p.length; ++i) bytes[i] = static_cast<char>(p.pattern + i * 3);
    dir_.WriteFile(L"patch.raw", bytes);
    ASSERT_EQ(Qvtdisk("write " + Q(L"top\\top.vmdk") + " " + std::to_string(p.offset) + " " +
                          Q(L"patch.raw"),
                      &log),
              0)
        << log;
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(p.offset));
  }
  dir_.WriteFile(L"expected.raw", std::string(expected.begin(), expected.end()));
  Must("qemu-img check -q -f vmdk " + Q(L"top\\qemu-top.vmdk"));
  Must("qemu-img compare -q -f vmdk -F raw " + Q(L"top\\qemu-top.vmdk") + " " +
       Q(L"expected.raw"));
  Must("qemu-img compare -q -f vmdk -F raw " + Q(L"base.vmdk") + " " + Q(L"base-before.raw"));
  Must("qemu-img compare -q -f vmdk -F raw " + Q(L"mid.vmdk") + " " + Q(L"mid-before.raw"));
  ASSERT_EQ(Qvtdisk("export " + Q(L"top\\top.vmdk") + " " + Q(L"ours.raw"), &log), 0) << log;
  Must("cmp " + Q(L"ours.raw") + " " + Q(L"expected.raw"));

  // A write into a base qemu made.
  dir_.WriteFile(L"patch.raw", std::string(70000, '\x61'));
  Must("qemu-img convert -f vmdk -O raw " + Q(L"base.vmdk") + " " + Q(L"base.raw"));
  ASSERT_EQ(Qvtdisk("write " + Q(L"base.vmdk") + " 5000000 " + Q(L"patch.raw"), &log), 0) << log;
  Must("qemu-io -f raw -c 'write -q -P 0x61 5000000 70000' " + Q(L"base.raw"));
  Must("qemu-img check -q -f vmdk " + Q(L"base.vmdk"));
  Must("qemu-img compare -q -f vmdk -F raw " + Q(L"base.vmdk") + " " + Q(L"base.raw"));
}

TEST_F(Interop, QemuChildDescriptorsAreRefusedAndCanBeMended) {
  QVT_NEED_PEER_TOOLS();
  Must("qemu-img create -q -f vmdk -o subformat=monolithicSparse " + Q(L"base.vmdk") + " 8M");
  Must("qemu-io -f vmdk" + QemuWrites({{kMiB, 70000, 0x71}}) + " " + Q(L"base.vmdk"));
  // qemu's children keep the disk database and name the parent by its
  // POSIX path.
  Must("qemu-img create -q -f vmdk -b " + Q(L"base.vmdk") + " -F vmdk " + Q(L"single.vmdk"));
  Must("qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse -b " + Q(L"base.vmdk") +
       " -F vmdk " + Q(L"split.vmdk"));
  const std::string text = dir_.ReadFile(L"split.vmdk");
  ASSERT_NE(text.find("parentFileNameHint=\"/"), std::string::npos) << text;
  ASSERT_NE(text.find("ddb.geometry"), std::string::npos) << text;

  for (const wchar_t* name : {L"single.vmdk", L"split.vmdk"}) {
    ImageHandle image = NoImage();
    EXPECT_EQ(OpenWith(name, VMDK_PARENT_TOLERATE, &image), DISK_E_LIMIT);
    VmdkImage* vmdk = nullptr;
    EXPECT_EQ(VmdkImageOpen(&vmdk, dir_.Engine(name).c_str(), true, VMDK_PARENT_TOLERATE, nullptr,
                            nullptr),
              DISK_E_READ)
        << "a child with a disk database does not parse";
    std::string log;
    EXPECT_EQ(Qvtdisk("info " + Q(name), &log), 3);
    EXPECT_NE(log.find("DISK_E_LIMIT"), std::string::npos) << log;
    EXPECT_NE(log.find("as a VMDK disk: DISK_E_READ"), std::string::npos) << log;
  }

  // Without its disk database the split child parses; its hint is refused.
  std::string stripped;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at + 1);
    if (line.rfind("ddb.", 0) != 0) stripped += line;
    at = end == std::string::npos ? text.size() : end + 1;
  }
  dir_.WriteFile(L"split.vmdk", stripped);
  VmdkImage* vmdk = nullptr;
  EXPECT_EQ(VmdkImageOpen(&vmdk, dir_.Engine(L"split.vmdk").c_str(), true, VMDK_PARENT_OPEN,
                          nullptr, nullptr),
            DISK_E_FORMAT);
  ASSERT_EQ(VmdkImageOpen(&vmdk, dir_.Engine(L"split.vmdk").c_str(), true, VMDK_PARENT_TOLERATE,
                          nullptr, nullptr),
            DISK_OK);
  EXPECT_TRUE(vmdk->parentMissing);
  VmdkImageClose(vmdk);
  std::string log;
  EXPECT_EQ(Qvtdisk("export " + Q(L"split.vmdk") + " " + Q(L"out.raw"), &log), 3);
  EXPECT_NE(log.find("as a VMDK disk: DISK_E_FORMAT"), std::string::npos) << log;
  EXPECT_FALSE(dir_.Exists(L"out.raw"));

  // A hint with slashes is refused; a Windows one is written, and then both
  // this program and qemu read the chain alike.
  EXPECT_EQ(Qvtdisk("set-parent-hint " + Q(L"split.vmdk") + " ./base.vmdk", &log), 3);
  EXPECT_NE(log.find("DISK_E_FORMAT"), std::string::npos) << log;
  ASSERT_EQ(Qvtdisk("set-parent-hint " + Q(L"split.vmdk") + " base.vmdk", &log), 0) << log;
  EXPECT_NE(dir_.ReadFile(L"split.vmdk").find("parentFileNameHint=\"base.vmdk\""),
            std::string::npos);
  ExportsAlike(L"split.vmdk");
}

}  // namespace
}  // namespace qvt
