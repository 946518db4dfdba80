// Child creation (its layout byte by byte, the short-footer parent, the
// locator paths for another drive) and the parent search with its modes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "ImageOpen.h"
#include "TempFolder.h"
#include "VhdImage.h"
#include "VhdLocators.h"
#include "VhdTestKit.h"

namespace qvt {
namespace {

using test::Bytes;

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

class VhdChild : public ::testing::Test {
 protected:
  std::string Path(const wchar_t* name) { return dir_.Engine(name); }
  void MakeBase(Bytes bytes = test::DynamicImage({})) { test::WriteBytes(dir_, L"base.vhd", bytes); }
  DiskResult Child(const wchar_t* parent = L"base.vhd", const wchar_t* child = L"child.vhd") {
    return VhdCreateChild(Path(parent).c_str(), Path(child).c_str());
  }
  test::TempFolder dir_;
};

TEST_F(VhdChild, TheChildHasTheLayoutVirtualPcGivesIt) {
  MakeBase();
  ASSERT_EQ(Child(), DISK_OK);
  const Bytes base = test::ReadBytes(dir_, L"base.vhd");
  const Bytes c = test::ReadBytes(dir_, L"child.vhd");
  EXPECT_EQ(test::PeekBE64(c, 16), 512u);        // footer copy: header at 512
  EXPECT_EQ(test::PeekBE32(c, 60), 4u);          // differencing
  EXPECT_NE(std::memcmp(c.data() + 68, base.data() + 68, 16), 0);  // a new id
  EXPECT_EQ(test::PeekBE64(c, 512 + 16), 1536u);  // table offset
  EXPECT_EQ(std::memcmp(c.data() + 512 + 40, base.data() + 68, 16), 0);  // parent's id
  EXPECT_EQ(test::PeekBE32(c, 1536), 0xFFFFFFFFu);
  EXPECT_EQ(test::PeekBE32(c, 1536 + 4), 0xFFFFFFFFu);
  EXPECT_EQ(test::PeekBE32(c, 1536 + 8), 0u);  // the table's sector padded with zeros
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.data()) + 512 + 64, 16),
            std::string("\0b\0a\0s\0e\0.\0v\0h\0d", 16));

  // Entries 0..3: W2ku, W2ru, Wi2k, Wi2r; their data in the file in the
  // order Wi2r, Wi2k, W2ru, W2ku from the sector after the table's.
  const std::uint32_t codes[] = {0x57326B75, 0x57327275, 0x5769326B, 0x57693272};
  const std::string absolute = Path(L"base.vhd");
  const std::string datas[] = {Utf16Le(absolute), Utf16Le(".\\base.vhd"), absolute, ".\\base.vhd"};
  std::uint64_t at = 2048 + 512;
  for (int entry : {3, 2, 1, 0}) {
    const std::uint64_t e = 512 + 576 + 24 * static_cast<std::uint64_t>(entry);
    EXPECT_EQ(test::PeekBE32(c, e), codes[entry]) << entry;
    EXPECT_EQ(test::PeekBE32(c, e + 8), datas[entry].size()) << entry;
    EXPECT_EQ(test::PeekBE32(c, e + 4), (datas[entry].size() + 511) / 512 * 512) << entry;
    EXPECT_EQ(test::PeekBE64(c, e + 16), at) << entry;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.data()) + at, datas[entry].size()), datas[entry]);
    at += (datas[entry].size() + 511) / 512 * 512;
  }
  EXPECT_EQ(c.size(), at + 512);
  EXPECT_EQ(std::memcmp(c.data(), c.data() + at, 512), 0);

  VhdImage* image = nullptr;
  PathBuffer parent;
  ASSERT_EQ(VhdImageOpen(&image, Path(L"child.vhd").c_str(), true, VHD_OPEN_CHAIN, &parent), DISK_OK);
  EXPECT_STREQ(parent.CString(), absolute.c_str());
  EXPECT_FALSE(image->parentMissing);
  VhdImageClose(image);
}

TEST_F(VhdChild, AShortFooterParentGivesAShortTrailingFooter) {
  Bytes b = test::DynamicImage({});
  b.pop_back();
  MakeBase(b);
  ASSERT_EQ(Child(), DISK_OK);
  const Bytes c = test::ReadBytes(dir_, L"child.vhd");
  EXPECT_EQ(c.size() % 512, 511u);
  EXPECT_EQ(std::memcmp(c.data(), c.data() + c.size() - 511, 511), 0);
  DiskResult r;
  EXPECT_EQ(test::EngineRead(Path(L"child.vhd"), &r), std::string(1360 * 512, '\0'));
  EXPECT_EQ(r, DISK_OK);
}

TEST_F(VhdChild, ParentsThatAreNoVhdAreRefused) {
  EXPECT_EQ(Child(L"missing.vhd"), DISK_E_OPEN);
  dir_.WriteFile(L"raw.img", std::string(4096, '\0'));
  dir_.WriteFile(L"raw.ndi", "NDI 0 8 1 8 512");
  EXPECT_EQ(Child(L"raw.img"), DISK_E_FORMAT);
  EXPECT_FALSE(dir_.Exists(L"child.vhd"));
}

TEST_F(VhdChild, TheRelativeLocatorLeadsFromTheChildsFolder) {
  struct Case {
    const char* child;
    const char* parent;
    bool has;
    const char* relative;
  };
  const Case cases[] = {
      {"Z:\\vm\\c.vhd", "Z:\\vm\\b.vhd", true, ".\\b.vhd"},
      {"Z:\\vm\\c\\c.vhd", "z:\\vm\\b\\b.vhd", true, "..\\b\\b.vhd"},
      {"Z:\\vm\\c.vhd", "Z:\\vm\\sub\\b.vhd", true, ".\\sub\\b.vhd"},
      {"Y:\\vm\\c.vhd", "Z:\\vm\\b.vhd", false, ""},
  };
  for (const Case& c : cases) {
    PathBuffer out;
    bool has = true;
    ASSERT_EQ(VhdChildRelative(c.child, c.parent, &out, &has), DISK_OK) << c.child;
    EXPECT_EQ(has, c.has) << c.child;
    EXPECT_STREQ(out.CString(), c.relative) << c.child;
  }
}

class VhdParentSearch : public VhdChild {
 protected:
  void SetUp() override {
    MakeBase();
    ASSERT_EQ(Child(), DISK_OK);
    child_ = test::ReadBytes(dir_, L"child.vhd");
  }
  std::uint64_t Entry(int i) const { return 512 + 576 + 24 * static_cast<std::uint64_t>(i); }
  // Renames the file the entry's data names: "base" becomes `stem`.
  void Rename(int entry, const char* stem, bool wide) {
    const std::uint64_t at = test::PeekBE64(child_, Entry(entry) + 16);
    const std::uint32_t length = test::PeekBE32(child_, Entry(entry) + 8);
    std::string data(reinterpret_cast<const char*>(child_.data()) + at, length);
    const std::string from = wide ? Utf16Le("base.vhd") : "base.vhd";
    const std::string to = wide ? Utf16Le(std::string(stem) + ".vhd") : std::string(stem) + ".vhd";
    const std::size_t where = data.find(from);
    ASSERT_NE(where, std::string::npos);
    data.replace(where, from.size(), to);
    std::memcpy(child_.data() + at, data.data(), data.size());
  }
  DiskResult Open(std::uint32_t mode) {
    // Windows keeps an open image from being rewritten.
    VhdImageClose(image_);
    image_ = nullptr;
    test::WriteBytes(dir_, L"child.vhd", child_);
    return VhdImageOpen(&image_, Path(L"child.vhd").c_str(), true, mode, &parent_);
  }
  ~VhdParentSearch() override { VhdImageClose(image_); }
  Bytes child_;
  VhdImage* image_ = nullptr;
  PathBuffer parent_;
};

TEST_F(VhdParentSearch, EntriesAreTriedInOrderUntilOneNamesAnExistingFile) {
  std::filesystem::copy_file(dir_.Native(L"base.vhd"), dir_.Native(L"bbbb.vhd"));
  Rename(0, "gone", true);   // W2ku: a missing file
  Rename(1, "bbbb", true);   // W2ru: an existing one
  ASSERT_EQ(Open(VHD_OPEN_CHAIN), DISK_OK);
  EXPECT_STREQ(parent_.CString(), Path(L"bbbb.vhd").c_str());
}

TEST_F(VhdParentSearch, WithoutAnyFoundEntryTheUnicodeNameIsTaken) {
  for (int e : {0, 1}) Rename(e, "gone", true);
  for (int e : {2, 3}) Rename(e, "gone", false);
  ASSERT_EQ(Open(VHD_OPEN_CHAIN), DISK_OK);  // base.vhd, beside the child
  EXPECT_STREQ(parent_.CString(), Path(L"base.vhd").c_str());
}

TEST_F(VhdParentSearch, AMissingParentFailsModeZeroAndIsToleratedInModeOne) {
  std::filesystem::remove(dir_.Native(L"base.vhd"));
  EXPECT_EQ(Open(VHD_OPEN_CHAIN), DISK_E_OPEN);
  ASSERT_EQ(Open(VHD_OPEN_TOLERATE), DISK_OK);
  EXPECT_TRUE(image_->parentMissing);
  EXPECT_STREQ(parent_.CString(), Path(L"base.vhd").c_str());
  std::string sector(512, '\0');
  EXPECT_EQ(VhdImageRead(image_, 0, 512, &sector[0]), DISK_OK);
  ASSERT_EQ(Open(VHD_OPEN_ALONE), DISK_OK);
  EXPECT_TRUE(parent_.IsEmpty());
}

TEST_F(VhdParentSearch, UnknownLocatorCodesAreCheckedOnlyWhenTheParentIsWanted) {
  test::PokeBE32(&child_, Entry(5), 0x41424344);
  test::Reseal(&child_);
  EXPECT_EQ(Open(VHD_OPEN_CHAIN), DISK_E_FORMAT);
  EXPECT_EQ(Open(VHD_OPEN_TOLERATE), DISK_E_FORMAT);
  EXPECT_EQ(Open(VHD_OPEN_ALONE), DISK_OK);
  test::PokeBE32(&child_, Entry(5), 0);
  test::PokeBE32(&child_, Entry(1) + 12, 1);  // a reserved word
  test::Reseal(&child_);
  EXPECT_EQ(Open(VHD_OPEN_CHAIN), DISK_E_FORMAT);
}

TEST_F(VhdParentSearch, AChainThatLoopsEndsWithAnError) {
  // base becomes a child of child: child -> base -> child -> ...
  ASSERT_EQ(Child(L"child.vhd", L"loop.vhd"), DISK_OK);
  std::filesystem::remove(dir_.Native(L"base.vhd"));
  std::filesystem::copy_file(dir_.Native(L"loop.vhd"), dir_.Native(L"base.vhd"));
  // The link back is refused where it is found, two opens down; detection
  // reports a parent no handler takes as DISK_E_LIMIT.
  EXPECT_EQ(Open(VHD_OPEN_CHAIN), DISK_E_LIMIT);
  EXPECT_EQ(Open(VHD_OPEN_TOLERATE), DISK_OK);
  EXPECT_TRUE(image_->parentMissing);
}

TEST_F(VhdParentSearch, HostileLocatorAreasAreRefusedOrSkipped) {
  // A data area that would overlap the first block, and one beyond the file.
  Bytes far = child_;
  test::PokeBE64(&far, Entry(0) + 16, 1ull << 50);
  test::Reseal(&far);
  child_.swap(far);
  EXPECT_EQ(Open(VHD_OPEN_CHAIN), DISK_E_FORMAT);
  child_.swap(far);
  test::PokeBE32(&child_, Entry(0) + 8, 0x7FFFFFFF);  // a length no path has
  test::Reseal(&child_);
  ASSERT_EQ(Open(VHD_OPEN_CHAIN), DISK_OK);  // the next entry leads there
  EXPECT_STREQ(parent_.CString(), Path(L"base.vhd").c_str());
}

}  // namespace
}  // namespace qvt
