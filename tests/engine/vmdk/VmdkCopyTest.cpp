// The standalone copy's layouts and descriptors: what a derived layout takes
// from the source and its ancestors, how the mode picks the hardware version
// and the adapter, how extents are named, what the descriptor's encoding key
// says, and the layouts and sources that are refused before anything is
// written. Sources are made by the engine's own writer (so that these run
// under Wine as well); qemu-img checks the copies where it is installed.
#include "VmdkCopy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ImageOpen.h"
#include "SparseTestKit.h"
#include "TempFolder.h"
#include "VmdkCopyTestKit.h"
#include "VmdkImage.h"
#include "VmdkImageTestKit.h"
#include "ZeroImage.h"

namespace qvt {
namespace {

using test::DiskMaker;
using test::MemoryDisk;
using test::TempFolder;
using test::TestLayout;

constexpr std::uint32_t kSectors = 16384;  // 8 MiB, one GT

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void Replace(std::string* text, const std::string& from, const std::string& to) {
  const std::size_t at = text->find(from);
  ASSERT_NE(at, std::string::npos) << from << " in " << *text;
  text->replace(at, from.size(), to);
}

class VmdkCopy : public testing::Test {
 protected:
  std::string E(const std::string& name) const { return dir_.Engine(Wide(name)); }
  std::string N(const std::string& name) const { return dir_.Native(Wide(name)).string(); }
  bool Exists(const std::string& name) const { return dir_.Exists(Wide(name)); }
  std::string Text(const std::string& name) const { return dir_.ReadFile(Wide(name)); }
  void SetText(const std::string& name, const std::string& text) const {
    dir_.WriteFile(Wide(name), text);
  }
  // The content as the engine reads it through the chain.
  test::Bytes Content(const std::string& name, std::uint32_t mode = VMDK_PARENT_OPEN) const {
    ImageHandle image = NoImage();
    DiskResult r = ImageOpen(&image, E(name).c_str(), true, mode, nullptr, nullptr);
    EXPECT_EQ(r, DISK_OK) << name;
    test::Bytes bytes = test::ReadImage(&image, &r);
    EXPECT_EQ(r, DISK_OK) << name;
    ImageClose(&image);
    return bytes;
  }
  void QemuChecks(const std::string& name) const {
    if (!test::PeerToolsAvailable()) return;
    std::string log;
    EXPECT_EQ(test::Run("qemu-img check -f vmdk " + test::Quote(N(name)), &log), 0) << log;
  }

  TempFolder dir_;
  DiskMaker maker_{dir_};
};

MemoryDisk Patterned(std::uint32_t sectors, const std::vector<std::uint32_t>& grains,
                     std::uint8_t seed) {
  MemoryDisk disk(sectors);
  for (std::uint32_t g : grains) disk.Pattern(static_cast<std::uint64_t>(g) * 65536, 65536, seed);
  return disk;
}

// --- Chains ---------------------------------------------------------------

TEST_F(VmdkCopy, TwoLevelChainBecomesOneMonolithicSparseFileWithBothGrains) {
  MemoryDisk base = Patterned(kSectors, {0}, 0x10);
  MemoryDisk child = Patterned(kSectors, {5}, 0x20);
  maker_.SingleFile(L"base.vmdk", base);
  maker_.SingleFile(L"child.vmdk", child, "base.vmdk");

  const TestLayout layout = test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterLsiLogic, 7);
  ASSERT_EQ(test::CopyDisk(E("child.vmdk"), E("copy.vmdk"), layout.layout), DISK_OK);

  EXPECT_EQ(test::OwnGrainSet(E("copy.vmdk")), (std::vector<std::uint32_t>{0, 5}));
  const std::string text = test::DescriptorOf(N("copy.vmdk"));
  EXPECT_NE(text.find("createType=\"monolithicSparse\""), std::string::npos) << text;
  EXPECT_EQ(text.find("parentFileNameHint"), std::string::npos) << text;
  EXPECT_NE(text.find("RW 16384 SPARSE \"copy.vmdk\""), std::string::npos) << text;
  // One file: the embedded descriptor area of 20 sectors.
  const std::vector<std::uint8_t> file = test::NativeBytes(N("copy.vmdk"));
  ASSERT_GE(file.size(), 512u);
  EXPECT_EQ(test::PeekLE64(file, 28), 1u);
  EXPECT_EQ(test::PeekLE64(file, 36), 20u);
  EXPECT_TRUE(Content("copy.vmdk", VMDK_PARENT_NONE) == Content("child.vmdk"));
  QemuChecks("copy.vmdk");
}

// A base whose disk database the copy must carry (cylinders 99, which no
// computation gives, and a uuid), a middle child with a uuid of its own,
// and a top child with no disk database at all.
class VmdkCopyAncestors : public VmdkCopy {
 protected:
  void SetUp() override {
    MemoryDisk base = Patterned(kSectors, {0, 9}, 0x31);
    maker_.Flat(L"base.vmdk", base, {kSectors});
    std::string text = Text("base.vmdk");
    Replace(&text, "ddb.geometry.cylinders = \"16\"", "ddb.geometry.cylinders = \"99\"");
    text += "ddb.uuid = \"60 00 base\"\n";
    SetText("base.vmdk", text);
    MemoryDisk middle = Patterned(kSectors, {3}, 0x32);
    maker_.Split(L"mid.vmdk", middle, {kSectors}, "base.vmdk");
    SetText("mid.vmdk", Text("mid.vmdk") + "ddb.uuid = \"60 00 middle\"\n");
    MemoryDisk top = Patterned(kSectors, {7}, 0x33);
    maker_.Split(L"top.vmdk", top, {kSectors}, "mid.vmdk");
  }
};

struct ModeCase {
  const char* name;
  std::uint32_t mode;
  const char* adapter;  // expected
  const char* hwVersion;
};

// The layout asks for buslogic and version "10"; the chain has ide (the
// base) and, for the top disk that has no key, the default "12".
const ModeCase kModes[] = {
    {"derived", kVmdkLayoutDerived, "buslogic", "10"},
    {"given_values", kVmdkLayoutGivenValues, "buslogic", "10"},
    {"source_only", kVmdkLayoutSourceOnly, "ide", "12"},
    {"source_first", kVmdkLayoutSourceFirst, "ide", "12"},
};

TEST_F(VmdkCopyAncestors, ModeDecidesAdapterAndVersionWhileAncestorsFillTheRest) {
  for (const ModeCase& c : kModes) {
    SCOPED_TRACE(c.name);
    const std::string target = std::string("copy-") + c.name + ".vmdk";
    const TestLayout layout = test::DerivedLayout(c.mode, kVmdkAdapterBusLogic, 7);
    ASSERT_EQ(test::CopyDisk(E("top.vmdk"), E(target), layout.layout), DISK_OK);
    const std::string text = test::DescriptorOf(N(target));
    EXPECT_NE(text.find(std::string("ddb.adapterType = \"") + c.adapter + "\""), std::string::npos)
        << text;
    EXPECT_NE(text.find(std::string("ddb.virtualHWVersion = \"") + c.hwVersion + "\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ddb.uuid = \"60 00 middle\""), std::string::npos) << "nearest first\n"
                                                                          << text;
    EXPECT_NE(text.find("ddb.geometry.cylinders = \"99\""), std::string::npos) << text;
    EXPECT_NE(text.find("ddb.geometry.heads = \"16\""), std::string::npos) << text;
    EXPECT_NE(text.find("ddb.geometry.sectors = \"63\""), std::string::npos) << text;
    EXPECT_TRUE(Content(target, VMDK_PARENT_NONE) == Content("top.vmdk"));
    EXPECT_EQ(test::OwnGrainSet(E(target)), (std::vector<std::uint32_t>{0, 3, 7, 9}));
  }
}

TEST_F(VmdkCopyAncestors, SourceOnlyModeWithoutAnyAdapterInTheChainIsRefused) {
  // Opened without its parents, the top disk has no adapter anywhere.
  ImageHandle image = NoImage();
  ASSERT_EQ(ImageOpen(&image, E("top.vmdk").c_str(), true, VMDK_PARENT_NONE, nullptr, nullptr),
            DISK_OK);
  const TestLayout only = test::DerivedLayout(kVmdkLayoutSourceOnly, kVmdkAdapterLsiLogic, 7);
  EXPECT_EQ(VmdkCopyImage(E("a.vmdk").c_str(), &image, nullptr, nullptr, nullptr, only.layout),
            DISK_E_LIMIT);
  EXPECT_FALSE(Exists("a.vmdk"));
  const TestLayout first = test::DerivedLayout(kVmdkLayoutSourceFirst, kVmdkAdapterNone, 7);
  EXPECT_EQ(VmdkCopyImage(E("b.vmdk").c_str(), &image, nullptr, nullptr, nullptr, first.layout),
            DISK_E_LIMIT);
  EXPECT_FALSE(Exists("b.vmdk"));
  // Where the layout has one, the source-first mode takes it.
  const TestLayout fill = test::DerivedLayout(kVmdkLayoutSourceFirst, kVmdkAdapterLsiLogic, 7);
  EXPECT_EQ(VmdkCopyImage(E("c.vmdk").c_str(), &image, nullptr, nullptr, nullptr, fill.layout),
            DISK_OK);
  ImageClose(&image);
  EXPECT_NE(test::DescriptorOf(N("c.vmdk")).find("ddb.adapterType = \"lsilogic\""),
            std::string::npos);
}

// --- Geometry of a source that has none -----------------------------------

struct GeometryCase {
  std::uint32_t adapter;
  const char* cylinders;
};

TEST_F(VmdkCopy, SourceWithoutGeometryGetsSixteenHeadsAndCylindersCappedForIde) {
  // A 10 GiB flat base (a sparse file) and its child, opened alone: the
  // child reports no heads and no sectors per track.
  constexpr std::uint32_t kBig = 20971520;
  SetText("big.vmdk", test::DescriptorText("monolithicFlat", {{kBig, "FLAT", "big-flat.vmdk"}}));
  SetText("big-flat.vmdk", "");
  std::filesystem::resize_file(dir_.Native(L"big-flat.vmdk"), std::uint64_t{kBig} * 512);
  ASSERT_EQ(test::MakeChild(E("big.vmdk"), E("bigc.vmdk")), DISK_OK);
  ImageHandle image = NoImage();
  ASSERT_EQ(ImageOpen(&image, E("bigc.vmdk").c_str(), true, VMDK_PARENT_NONE, nullptr, nullptr),
            DISK_OK);
  ImageGeometry g{};
  ASSERT_EQ(ImageGetSize(&image, &g), DISK_OK);
  ASSERT_EQ(g.heads, 0u);

  const GeometryCase cases[] = {{kVmdkAdapterIde, "16383"}, {kVmdkAdapterLsiLogic, "20805"}};
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.cylinders);
    const std::string target = std::string("g") + c.cylinders + ".vmdk";
    const TestLayout layout = test::DerivedLayout(kVmdkLayoutDerived, c.adapter, 7);
    ASSERT_EQ(VmdkCopyImage(E(target).c_str(), &image, nullptr, nullptr, nullptr, layout.layout),
              DISK_OK);
    const std::string text = test::DescriptorOf(N(target));
    EXPECT_NE(text.find(std::string("ddb.geometry.cylinders = \"") + c.cylinders + "\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ddb.geometry.heads = \"16\""), std::string::npos) << text;
    EXPECT_NE(text.find("ddb.geometry.sectors = \"63\""), std::string::npos) << text;
  }
  ImageClose(&image);
}

// --- A derived layout is sparse -------------------------------------------

TEST_F(VmdkCopy, DerivedCopyOfFlatExtentsNamesSparseFilesWithoutOffsets) {
  MemoryDisk data = Patterned(kSectors, {1, 70, 127}, 0x41);
  for (std::uint64_t offset : {0u, 3u}) {
    SCOPED_TRACE(offset);
    maker_.Flat(L"flat.vmdk", data, {8192, 8192}, offset);
    const std::string target = "fc" + std::to_string(offset) + ".vmdk";
    const TestLayout layout = test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterLsiLogic, 7);
    ASSERT_EQ(test::CopyDisk(E("flat.vmdk"), E(target), layout.layout), DISK_OK);
    const std::string text = Text(target);
    EXPECT_NE(text.find("createType=\"twoGbMaxExtentSparse\""), std::string::npos) << text;
    const std::string stem = "fc" + std::to_string(offset);
    EXPECT_NE(text.find("RW 8192 SPARSE \"" + stem + "-s001.vmdk\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("RW 8192 SPARSE \"" + stem + "-s002.vmdk\"\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("FLAT"), std::string::npos) << text;
    EXPECT_TRUE(Content(target) == data.bytes);
    QemuChecks(target);
  }
}

TEST_F(VmdkCopy, DerivedCopyOfAStreamOptimizedDiskIsAPlainSparseDisk) {
  MemoryDisk data = Patterned(kSectors, {2, 60}, 0x42);
  maker_.SingleFile(L"stream.vmdk", data, "", true);
  const TestLayout layout = test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterLsiLogic, 7);
  ASSERT_EQ(test::CopyDisk(E("stream.vmdk"), E("copy.vmdk"), layout.layout), DISK_OK);
  const std::string text = test::DescriptorOf(N("copy.vmdk"));
  EXPECT_NE(text.find("createType=\"monolithicSparse\""), std::string::npos) << text;
  EXPECT_NE(text.find("RW 16384 SPARSE \"copy.vmdk\""), std::string::npos) << text;
  const std::vector<std::uint8_t> file = test::NativeBytes(N("copy.vmdk"));
  ASSERT_GE(file.size(), 512u);
  EXPECT_EQ(test::PeekLE32(file, 4), 1u) << "a hosted sparse header, not a stream";
  EXPECT_TRUE(Content("copy.vmdk") == data.bytes);
  QemuChecks("copy.vmdk");
}

// --- Naming ---------------------------------------------------------------

struct NamingCase {
  const char* name;
  const char* target;
  std::uint32_t split;
  std::uint32_t kind;
  std::vector<std::uint32_t> sizes;
  std::vector<std::string> files;  // the data files written besides the target
  std::vector<std::string> lines;  // extent lines of the descriptor file
};

const NamingCase kNaming[] = {
    {"single_flat", "new.vmdk", 0, kVmdkLayoutFlat, {kSectors}, {"new-flat.vmdk"},
     {"RW 16384 FLAT \"new-flat.vmdk\" 0\n"}},
    {"single_vmfs", "new.vmdk", 0, kVmdkLayoutVmfs, {kSectors}, {"new-flat.vmdk"},
     {"RW 16384 VMFS \"new-flat.vmdk\"\n"}},
    {"split_sparse", "new.vmdk", 1, kVmdkLayoutSparse, {5000, 5000, 6384},
     {"new-s001.vmdk", "new-s002.vmdk", "new-s003.vmdk"},
     {"RW 5000 SPARSE \"new-s001.vmdk\"\n", "RW 5000 SPARSE \"new-s002.vmdk\"\n",
      "RW 6384 SPARSE \"new-s003.vmdk\"\n"}},
    {"split_flat", "new.vmdk", 1, kVmdkLayoutFlat, {10000, 6384},
     {"new-s001.vmdk", "new-s002.vmdk"},
     {"RW 10000 FLAT \"new-s001.vmdk\" 0\n", "RW 6384 FLAT \"new-s002.vmdk\" 0\n"}},
    {"no_extension_flat", "new", 0, kVmdkLayoutFlat, {kSectors}, {"new-flat"},
     {"RW 16384 FLAT \"new-flat\" 0\n"}},
    {"no_extension_split", "new", 1, kVmdkLayoutSparse, {kSectors}, {"new-s001"},
     {"RW 16384 SPARSE \"new-s001\"\n"}},
};

TEST_F(VmdkCopy, GivenLayoutNamesEmptyExtentsAfterTheTarget) {
  MemoryDisk data = Patterned(kSectors, {0, 77, 127}, 0x51);
  maker_.SingleFile(L"src.vmdk", data);
  for (const NamingCase& c : kNaming) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::string target = folder.Engine(Wide(c.target));
    const TestLayout layout = test::GivenLayout(c.split, c.kind, false, c.sizes);
    ASSERT_EQ(test::CopyDisk(E("src.vmdk"), target, layout.layout), DISK_OK);
    const std::string text = folder.ReadFile(Wide(c.target));
    for (const std::string& file : c.files) EXPECT_TRUE(folder.Exists(Wide(file))) << file;
    for (const std::string& line : c.lines) EXPECT_NE(text.find(line), std::string::npos) << text;
    ImageHandle copy = NoImage();
    ASSERT_EQ(ImageOpen(&copy, target.c_str(), true, VMDK_PARENT_OPEN, nullptr, nullptr), DISK_OK);
    DiskResult r = DISK_OK;
    EXPECT_TRUE(test::ReadImage(&copy, &r) == data.bytes);
    ImageClose(&copy);
  }
}

TEST_F(VmdkCopy, GivenNamesAreKept) {
  MemoryDisk data = Patterned(kSectors, {4}, 0x52);
  maker_.SingleFile(L"src.vmdk", data);
  TestLayout layout = test::GivenLayout(1, kVmdkLayoutSparse, false, {});
  layout.Add(8000, "first part.vmdk");
  layout.Add(8384);  // named by the engine: its number is its place
  ASSERT_EQ(test::CopyDisk(E("src.vmdk"), E("named.vmdk"), layout.layout), DISK_OK);
  const std::string text = Text("named.vmdk");
  EXPECT_NE(text.find("RW 8000 SPARSE \"first part.vmdk\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("RW 8384 SPARSE \"named-s002.vmdk\"\n"), std::string::npos) << text;
  EXPECT_TRUE(Exists("first part.vmdk"));
  EXPECT_TRUE(Content("named.vmdk") == data.bytes);
}

TEST_F(VmdkCopy, NameThatDoesNotFitIsRefusedBeforeAnythingIsWritten) {
  MemoryDisk data(kSectors);
  maker_.SingleFile(L"src.vmdk", data);
  // "B-flat.vmdk" with a 510-byte B needs 521 bytes with its terminator.
  const std::string base(510, 'n');
  const TestLayout layout = test::GivenLayout(0, kVmdkLayoutFlat, false, {kSectors});
  const std::string target = dir_.Engine(L"") + base + ".vmdk";
  EXPECT_EQ(test::CopyDisk(E("src.vmdk"), target, layout.layout), DISK_E_LIMIT);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Native())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u) << "only the source";
}

// --- Encoding key ---------------------------------------------------------

struct EncodingCase {
  const char* name;
  const char* sourceKey;  // "" for none
  bool onChild;           // the key is on the base; the copy is of a child
  std::uint32_t layoutEncoding;
  const char* keyLine;  // expected; "" for no encoding key at all
  bool utf8Text;
};

const EncodingCase kEncodings[] = {
    {"none_stays_none", "", false, kVmdkEncodingNone, "", false},
    {"none_to_utf8", "", false, kVmdkEncodingUtf8, "encoding=\"UTF-8\"\n", true},
    {"none_to_shift_jis", "", false, kVmdkEncodingShiftJis, "encoding=\"Shift_JIS\"\n", false},
    {"utf8_written_as_shift_jis", "UTF-8", false, kVmdkEncodingNone, "encoding=\"Shift_JIS\"\n",
     false},
    {"shift_jis_to_utf8", "Shift_JIS", false, kVmdkEncodingUtf8, "encoding=\"UTF-8\"\n", true},
    {"unknown_name_kept", "windows-1252", false, kVmdkEncodingNone, "encoding=\"windows-1252\"\n",
     false},
    {"ancestor_shift_jis", "Shift_JIS", true, kVmdkEncodingNone, "encoding=\"Shift_JIS\"\n", false},
    {"ancestor_utf8_written_as_shift_jis", "UTF-8", true, kVmdkEncodingNone,
     "encoding=\"Shift_JIS\"\n", false},
};

TEST_F(VmdkCopy, EncodingKeyNamesTheEncodingTheTextIsWrittenIn) {
  // 日本 in a comment: Shift_JIS 93 FA 96 7B, UTF-8 E6 97 A5 E6 9C AC.
  const std::string sjis = "\x93\xfa\x96\x7b";
  const std::string utf8 = "\xe6\x97\xa5\xe6\x9c\xac";
  MemoryDisk data = Patterned(4096, {1}, 0x61);
  for (const EncodingCase& c : kEncodings) {
    SCOPED_TRACE(c.name);
    maker_.Flat(L"enc.vmdk", data, {4096});
    std::string text = Text("enc.vmdk");
    const bool utf8Source = std::string(c.sourceKey) == "UTF-8";
    const std::string key =
        *c.sourceKey != '\0' ? std::string("encoding=\"") + c.sourceKey + "\"\n" : "";
    Replace(&text, "version=1\n", "version=1\n" + key + "# " + (utf8Source ? utf8 : sjis) + "\n");
    SetText("enc.vmdk", text);
    std::string source = "enc.vmdk";
    if (c.onChild) {
      MemoryDisk none(4096);
      maker_.Split(L"encc.vmdk", none, {4096}, "enc.vmdk");
      source = "encc.vmdk";
    }
    TestLayout layout = test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterLsiLogic, 7);
    layout.layout.encoding = c.layoutEncoding;
    const std::string target = std::string(c.name) + ".vmdk";
    ASSERT_EQ(test::CopyDisk(E(source), E(target), layout.layout), DISK_OK);
    const std::string copy = test::DescriptorOf(N(target));
    if (*c.keyLine == '\0') {
      EXPECT_EQ(copy.find("encoding"), std::string::npos) << copy;
    } else {
      EXPECT_NE(copy.find(std::string("version=1\n") + c.keyLine), std::string::npos) << copy;
    }
    if (!c.onChild) {
      EXPECT_NE(copy.find("# " + (c.utf8Text ? utf8 : sjis) + "\n"), std::string::npos) << copy;
    }
    EXPECT_TRUE(Content(target) == data.bytes);
  }
}

// --- Refusals -------------------------------------------------------------

struct RefusalCase {
  const char* name;
  bool zeroSource;  // a source that is not a VMDK
  TestLayout layout;
  DiskResult result;
};

TestLayout WithMode(TestLayout t, std::uint32_t mode) {
  t.layout.mode = mode;
  return t;
}

TestLayout Tweaked(TestLayout t, std::uint32_t adapter, std::uint32_t hw, std::uint32_t split) {
  t.layout.adapter = adapter;
  t.layout.hwVersionIndex = hw;
  t.layout.split = split;
  return t;
}

std::vector<RefusalCase> Refusals() {
  const TestLayout single = test::GivenLayout(0, kVmdkLayoutSparse, false, {kSectors});
  return {
      {"mode_past_four", false, test::DerivedLayout(5, kVmdkAdapterLsiLogic, 7), DISK_E_LIMIT},
      {"mode_past_four_given", true, WithMode(single, 7), DISK_E_LIMIT},
      {"source_only_over_non_vmdk", true, WithMode(single, kVmdkLayoutSourceOnly), DISK_E_LIMIT},
      {"derived_over_non_vmdk", true, WithMode(single, kVmdkLayoutDerived), DISK_E_LIMIT},
      {"derived_unknown_version", false,
       test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterIde, kVmdkHwVersionUnknown),
       DISK_E_LIMIT},
      {"given_values_unknown_adapter", false,
       test::DerivedLayout(kVmdkLayoutGivenValues, kVmdkAdapterNone, 7), DISK_E_LIMIT},
      {"derived_encoding_unknown", false,
       [] {
         TestLayout t = test::DerivedLayout(kVmdkLayoutDerived, kVmdkAdapterIde, 7);
         t.layout.encoding = 3;
         return t;
       }(),
       DISK_E_FORMAT},
      {"not_split_two_extents", false,
       test::GivenLayout(0, kVmdkLayoutSparse, false, {8192, 8192}), DISK_E_FORMAT},
      {"extents_short_of_the_source", false,
       test::GivenLayout(0, kVmdkLayoutSparse, false, {kSectors - 128}), DISK_E_FORMAT},
      {"extents_past_the_source", false,
       test::GivenLayout(1, kVmdkLayoutSparse, false, {kSectors, 128}), DISK_E_FORMAT},
      {"empty_extent", false, test::GivenLayout(1, kVmdkLayoutSparse, false, {kSectors, 0}),
       DISK_E_FORMAT},
      {"name_without_end", false,
       [&single] {
         TestLayout t = single;
         std::memset(t.entries[0].fileName, 'a', sizeof t.entries[0].fileName);
         return t;
       }(),
       DISK_E_LIMIT},
      {"no_extents", false, test::GivenLayout(0, kVmdkLayoutSparse, false, {}), DISK_E_FORMAT},
      {"stream_with_descriptor_file", false,
       Tweaked(test::GivenLayout(1, kVmdkLayoutSparse, true, {kSectors}), kVmdkAdapterIde, 7, 1),
       DISK_E_FORMAT},
      {"given_unknown_adapter", true, Tweaked(single, kVmdkAdapterNone, 7, 0), DISK_E_FORMAT},
      {"given_unknown_version", false, Tweaked(single, kVmdkAdapterIde, 99, 0), DISK_E_FORMAT},
      {"mode_one_over_non_vmdk_with_unknown_adapter", true,
       WithMode(Tweaked(single, kVmdkAdapterNone, 7, 0), kVmdkLayoutSourceFirst), DISK_E_FORMAT},
  };
}

TEST_F(VmdkCopy, LayoutsAndSourcesItCannotServeAreRefusedBeforeAnythingIsWritten) {
  MemoryDisk data = Patterned(kSectors, {0}, 0x71);
  maker_.SingleFile(L"src.vmdk", data);
  for (const RefusalCase& c : Refusals()) {
    SCOPED_TRACE(c.name);
    TempFolder out;
    ImageHandle source = NoImage();
    if (c.zeroSource) {
      ASSERT_EQ(ZeroImageOpen(&source, kSectors, 16, 63), DISK_OK);
    } else {
      ASSERT_EQ(ImageOpen(&source, E("src.vmdk").c_str(), true, VMDK_PARENT_OPEN, nullptr,
                          nullptr),
                DISK_OK);
    }
    test::ProgressLog progress;
    EXPECT_EQ(VmdkCopyImage(out.Engine(L"copy.vmdk").c_str(), &source, nullptr,
                            &test::ProgressLog::Record, &progress, c.layout.layout),
              c.result);
    ImageClose(&source);
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_TRUE(std::filesystem::is_empty(out.Native())) << "a file was written";
  }
}

TEST_F(VmdkCopy, NonVmdkSourceTakesTheGivenLayoutInTheFirstTwoModes) {
  for (std::uint32_t mode : {kVmdkLayoutAsGiven, kVmdkLayoutSourceFirst, kVmdkLayoutGivenValues}) {
    SCOPED_TRACE(mode);
    ImageHandle zero = NoImage();
    ASSERT_EQ(ZeroImageOpen(&zero, 5000, 0, 0), DISK_OK);
    TestLayout layout = test::GivenLayout(0, kVmdkLayoutSparse, false, {5000});
    layout.layout.mode = mode;
    const std::string target = "z" + std::to_string(mode) + ".vmdk";
    EXPECT_EQ(VmdkCopyImage(E(target).c_str(), &zero, nullptr, nullptr, nullptr, layout.layout),
              DISK_OK);
    ImageClose(&zero);
    const std::string text = test::DescriptorOf(N(target));
    EXPECT_NE(text.find("ddb.adapterType = \"lsilogic\""), std::string::npos) << text;
    // No geometry from the source: the template's 16 heads and 63 sectors.
    EXPECT_NE(text.find("ddb.geometry.heads = \"16\""), std::string::npos) << text;
    EXPECT_EQ(test::OwnGrains(E(target)), 0);
    EXPECT_TRUE(Content(target) == test::Bytes(5000 * 512, 0));
  }
}

TEST_F(VmdkCopy, VhdSourceWithASourceOnlyModeIsLimit) {
  if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img is not installed";
  ASSERT_EQ(test::Run("qemu-img create -q -f vpc " + test::Quote(N("d.vhd")) + " 8M"), 0);
  for (std::uint32_t mode : {kVmdkLayoutSourceOnly, kVmdkLayoutDerived}) {
    const TestLayout layout = test::DerivedLayout(mode, kVmdkAdapterLsiLogic, 7);
    EXPECT_EQ(test::CopyDisk(E("d.vhd"), E("v.vmdk"), layout.layout), DISK_E_LIMIT) << mode;
    EXPECT_FALSE(Exists("v.vmdk"));
  }
}

}  // namespace
}  // namespace qvt
