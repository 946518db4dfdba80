// Child disks made by the engine over parents that qemu-img made, checked by
// qemu-img itself and read back through the engine.
#include "VmdkCreateChild.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "ImageHandle.h"
#include "SparseTestKit.h"
#include "TempFolder.h"

namespace qvt {
namespace {

using test::TempFolder;

constexpr std::uint32_t kDiskBytes = 4 * 1024 * 1024;

std::string ReadNative(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The whole disk as the engine sees it through its chain.
std::string EngineRaw(const std::string& path, DiskResult* result) {
  VmdkImage* image = nullptr;
  *result = VmdkImageOpen(&image, path.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr);
  if (*result != DISK_OK) return std::string();
  std::string raw(image->capacity * 512ull, '\0');
  *result = VmdkImageRead(image, 0, static_cast<std::uint32_t>(raw.size()), &raw[0]);
  VmdkImageClose(image);
  return raw;
}

DiskResult CreateChildOf(const std::string& parentPath, const std::string& childPath,
                         bool absolute) {
  VmdkImage* parent = nullptr;
  DiskResult r = VmdkImageOpen(&parent, parentPath.c_str(), true, VMDK_PARENT_OPEN, nullptr,
                               nullptr);
  if (r != DISK_OK) return r;
  r = VmdkCreateChild(parent, parentPath.c_str(), childPath.c_str(), absolute);
  VmdkImageClose(parent);
  return r;
}

class ChildOverQemuParent : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
  }
  std::string Native(const std::wstring& name) const { return dir_.Native(name).string(); }
  TempFolder dir_;
};

TEST_P(ChildOverQemuParent, IsAValidDeltaThatQemuFollowsAndTheEngineReads) {
  const std::string parent = Native(L"p.vmdk");
  const std::string child = Native(L"c.vmdk");
  ASSERT_EQ(test::Run("qemu-img create -q -f vmdk -o subformat=" + std::string(GetParam()) + " " +
                      test::Quote(parent) + " 4M"),
            0);
  if (std::string(GetParam()) != "streamOptimized") {
    ASSERT_EQ(test::Run("qemu-io -f vmdk -c 'write -P 0x5a 64k 192k' -c 'write -P 0xa5 3M 4k' " +
                        test::Quote(parent)),
              0);
  }
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c.vmdk"), false), DISK_OK);

  std::string log;
  EXPECT_EQ(test::Run("qemu-img check -f vmdk " + test::Quote(child), &log), 0) << log;
  ASSERT_EQ(test::Run("qemu-img info --backing-chain " + test::Quote(child), &log), 0) << log;
  EXPECT_NE(log.find("backing file: p.vmdk"), std::string::npos) << log;
  EXPECT_EQ(test::Run("qemu-img compare " + test::Quote(child) + " " + test::Quote(parent), &log),
            0)
      << "a new child reads as its parent: " << log;

  // Writes by qemu into the child show through the engine, over the parent.
  ASSERT_EQ(test::Run("qemu-io -f vmdk -c 'write -P 0x11 100k 8k' -c 'write -P 0x22 4032k 64k' " +
                      test::Quote(child)),
            0);
  ASSERT_EQ(test::Run("qemu-img convert -O raw " + test::Quote(child) + " " +
                      test::Quote(Native(L"c.raw"))),
            0);
  DiskResult r = DISK_OK;
  const std::string raw = EngineRaw(dir_.Engine(L"c.vmdk"), &r);
  ASSERT_EQ(r, DISK_OK);
  EXPECT_TRUE(raw == ReadNative(dir_.Native(L"c.raw"))) << "engine and qemu disagree on the child";
}

INSTANTIATE_TEST_SUITE_P(Subformats, ChildOverQemuParent,
                         testing::Values("monolithicSparse", "twoGbMaxExtentSparse",
                                         "monolithicFlat", "twoGbMaxExtentFlat",
                                         "streamOptimized"));

// Over 2 GiB a split flat parent has several extents; each of the child's
// sparse extent lines must come without the parent's flat offset, which
// readers refuse on a sparse line.
TEST_F(ChildOverQemuParent, OfASplitFlatParentWithSeveralExtentsIsReadByQemu) {
  const std::string parent = Native(L"p.vmdk");
  const std::string child = Native(L"c.vmdk");
  ASSERT_EQ(test::Run("qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentFlat " +
                      test::Quote(parent) + " 3G"),
            0);
  ASSERT_EQ(test::Run("qemu-io -f vmdk -c 'write -P 0x5a 2500M 64k' " + test::Quote(parent)), 0);
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c.vmdk"), false), DISK_OK);
  const std::string text = ReadNative(dir_.Native(L"c.vmdk"));
  EXPECT_NE(text.find("RW 4194304 SPARSE \"c-s001.vmdk\"\n"), std::string::npos) << text;
  std::string log;
  EXPECT_EQ(test::Run("qemu-img check -f vmdk " + test::Quote(child), &log), 0) << log;
  EXPECT_EQ(test::Run("qemu-io -f vmdk -c 'read -P 0x5a 2500M 64k' " + test::Quote(child), &log),
            0)
      << log;
}

class ChildDescriptor : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
  }
  void MakeParent(const char* subformat, const std::wstring& name) {
    ASSERT_EQ(test::Run("qemu-img create -q -f vmdk -o subformat=" + std::string(subformat) + " " +
                        test::Quote(dir_.Native(name).string()) + " 4M"),
              0);
  }
  std::string Descriptor(const std::wstring& name) const {
    const std::string bytes = dir_.ReadFile(name);
    const std::size_t at = bytes.find("# Disk DescriptorFile");
    if (at == std::string::npos) return std::string();
    return bytes.substr(at, bytes.find('\0', at) - at);
  }
  TempFolder dir_;
};

TEST_F(ChildDescriptor, CarriesANewCidTheParentsCidAndNoDiskDatabase) {
  MakeParent("monolithicFlat", L"p.vmdk");
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c.vmdk"), false), DISK_OK);
  const std::string parent = dir_.ReadFile(L"p.vmdk");
  const std::string child = Descriptor(L"c.vmdk");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(parent, m, std::regex("\nCID=([0-9a-f]{1,8})\n")));
  const std::string parentCid = m[1];
  EXPECT_NE(child.find("parentCID=" + parentCid), std::string::npos) << child;
  EXPECT_TRUE(std::regex_search(child, std::regex("\nCID=[0-9a-f]{8}\n"))) << child;
  EXPECT_NE(child.find("createType=\"monolithicSparse\""), std::string::npos) << child;
  EXPECT_NE(child.find("parentFileNameHint=\"p.vmdk\""), std::string::npos) << child;
  EXPECT_NE(child.find("RW 8192 SPARSE \"c.vmdk\""), std::string::npos) << child;
  EXPECT_EQ(child.find("ddb."), std::string::npos) << child;
  // The embedded descriptor area is 20 sectors behind the header.
  const std::string file = dir_.ReadFile(L"c.vmdk");
  ASSERT_GE(file.size(), 512u);
  EXPECT_EQ(static_cast<unsigned char>(file[36]), 20u);
}

TEST_F(ChildDescriptor, SplitParentGetsOneNumberedExtentPerParentExtent) {
  // 5 GiB in 2 GiB extents: three of them (no data is written).
  ASSERT_EQ(test::Run("qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse " +
                      test::Quote(dir_.Native(L"p.vmdk").string()) + " 5G"),
            0);
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c.vmdk"), false), DISK_OK);
  const std::string child = dir_.ReadFile(L"c.vmdk");
  for (const char* name : {"c-s001.vmdk", "c-s002.vmdk", "c-s003.vmdk"}) {
    EXPECT_NE(child.find(std::string("\"") + name + "\""), std::string::npos) << child;
    EXPECT_TRUE(dir_.Exists(std::wstring(name, name + std::strlen(name)))) << name;
  }
  EXPECT_NE(child.find("createType=\"twoGbMaxExtentSparse\""), std::string::npos);
  std::string log;
  EXPECT_EQ(test::Run("qemu-img check -f vmdk " + test::Quote(dir_.Native(L"c.vmdk").string()),
                      &log),
            0)
      << log;
}

TEST_F(ChildDescriptor, HintIsRelativeFromASubFolderAndAbsoluteWhenAsked) {
  MakeParent("monolithicSparse", L"p.vmdk");
  std::filesystem::create_directory(dir_.Native(L"sub"));
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"sub\\c.vmdk"), false), DISK_OK);
  EXPECT_NE(Descriptor(L"sub\\c.vmdk").find("parentFileNameHint=\"..\\p.vmdk\""),
            std::string::npos);
  DiskResult r = DISK_OK;
  const std::string childRaw = EngineRaw(dir_.Engine(L"sub\\c.vmdk"), &r);
  ASSERT_EQ(r, DISK_OK) << "the engine follows the relative hint";
  EXPECT_EQ(childRaw.size(), kDiskBytes);

  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"sub\\a.vmdk"), true), DISK_OK);
  EXPECT_NE(Descriptor(L"sub\\a.vmdk").find("parentFileNameHint=\"" + dir_.Engine(L"p.vmdk") + "\""),
            std::string::npos);
}

TEST_F(ChildDescriptor, ChildOfAChildChainsToTheBase) {
  MakeParent("monolithicSparse", L"p.vmdk");
  ASSERT_EQ(test::Run("qemu-io -f vmdk -c 'write -P 0x77 0 64k' " +
                      test::Quote(dir_.Native(L"p.vmdk").string())),
            0);
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c1.vmdk"), false), DISK_OK);
  ASSERT_EQ(CreateChildOf(dir_.Engine(L"c1.vmdk"), dir_.Engine(L"c2.vmdk"), false), DISK_OK);
  std::string log;
  ASSERT_EQ(test::Run("qemu-img info --backing-chain " +
                      test::Quote(dir_.Native(L"c2.vmdk").string()), &log),
            0);
  EXPECT_NE(log.find("backing file: c1.vmdk"), std::string::npos) << log;
  EXPECT_NE(log.find("backing file: p.vmdk"), std::string::npos) << log;
  EXPECT_EQ(test::Run("qemu-img compare " + test::Quote(dir_.Native(L"c2.vmdk").string()) + " " +
                      test::Quote(dir_.Native(L"p.vmdk").string())),
            0);
}

TEST_F(ChildDescriptor, TextTooLongForTheEmbeddedAreaFailsBeforeAnythingIsWritten) {
  MakeParent("monolithicFlat", L"p.vmdk");
  // A comment of 11 000 bytes: kept by the rewrite, too long for 20 sectors.
  std::string text = dir_.ReadFile(L"p.vmdk");
  text += "# " + std::string(11000, 'x') + "\n";
  dir_.WriteFile(L"p.vmdk", text);
  EXPECT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c.vmdk"), false), DISK_E_LIMIT);
  EXPECT_FALSE(dir_.Exists(L"c.vmdk"));
}

TEST_F(ChildDescriptor, VmfsParentIsRefusedBeforeAnythingIsWritten) {
  MakeParent("monolithicFlat", L"p.vmdk");
  std::string text = dir_.ReadFile(L"p.vmdk");
  text = std::regex_replace(text, std::regex("createType=\"monolithicFlat\""), "createType=\"vmfs\"");
  dir_.WriteFile(L"p.vmdk", text);
  EXPECT_EQ(CreateChildOf(dir_.Engine(L"p.vmdk"), dir_.Engine(L"c.vmdk"), false),
            DISK_E_UNSUPPORTED);
  EXPECT_FALSE(dir_.Exists(L"c.vmdk"));
}

}  // namespace
}  // namespace qvt
