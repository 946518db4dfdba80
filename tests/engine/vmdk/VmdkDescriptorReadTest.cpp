#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FileLayer.h"
#include "Heap.h"
#include "SparseHeader.h"
#include "TempFolder.h"
#include "VmdkDescriptor.h"
#include "VmdkDescriptorTestSupport.h"

namespace qvt {
namespace {

using test::Changed;
using test::EmbeddedDisk;
using test::kBaseText;
using test::kChildText;
using test::MemoryFile;
using test::NewRecord;
using test::OwnedText;
using test::StringOf;
using test::TempFolder;

class ReadDescriptor : public testing::Test {
 protected:
  void TearDown() override {
    InjectAllocationFailureAfter(-1);
    InjectFileFaults(-1, -1);
  }

  DiskResult Read(const std::wstring& name) {
    return VmdkReadDescriptor(dir_.Engine(name).c_str(), d_.get(), &text_.text);
  }

  DiskResult ReadMemory(MemoryFile* file, bool* embedded = nullptr) {
    FileStream s = file->Stream();
    return VmdkReadDescriptorFromStream(&s, d_.get(), &text_.text, embedded);
  }

  TempFolder dir_;
  std::unique_ptr<VmdkDescriptor> d_ = NewRecord();
  OwnedText text_;
};

TEST_F(ReadDescriptor, ASeparateFileIsTheWholeText) {
  dir_.WriteFile(L"d.vmdk", kBaseText);
  ASSERT_EQ(Read(L"d.vmdk"), DISK_OK);
  EXPECT_EQ(text_.String(), kBaseText);
  EXPECT_EQ(text_.text.capacity, std::strlen(kBaseText));
  EXPECT_EQ(StringOf(d_->cid), "12345678");
}

TEST_F(ReadDescriptor, AnEmbeddedTextEndsAtItsNul) {
  std::string padded = kChildText;
  ASSERT_LT(padded.size(), 300u);
  padded.resize(300, '#');  // a long comment line closes the text
  MemoryFile file{EmbeddedDisk(padded, 64)};
  bool embedded = false;
  ASSERT_EQ(ReadMemory(&file, &embedded), DISK_OK);
  EXPECT_TRUE(embedded);
  EXPECT_EQ(text_.text.length, 300u);
  EXPECT_EQ(text_.text.capacity, 64u * 512u);
  EXPECT_EQ(text_.String(), padded);
}

TEST_F(ReadDescriptor, AnEmbeddedTextWithoutNulFillsItsArea) {
  std::string full = kBaseText;
  full.resize(512, '#');
  MemoryFile file{EmbeddedDisk(full, 1)};
  ASSERT_EQ(ReadMemory(&file), DISK_OK);
  EXPECT_EQ(text_.text.length, 512u);
}

TEST_F(ReadDescriptor, TheSmallestEmbeddedAreaIsOneSectorAndTheLargest64) {
  for (std::uint32_t sectors : {1u, 64u}) {
    std::string text = kBaseText;
    MemoryFile file{EmbeddedDisk(text, sectors)};
    EXPECT_EQ(ReadMemory(&file), DISK_OK) << sectors;
    EXPECT_EQ(text_.text.capacity, sectors * 512u);
    VmdkFreeDescriptorText(&text_.text);
  }
}

TEST_F(ReadDescriptor, ASparseExtentWithoutDescriptorIsNoDescriptor) {
  MemoryFile file{EmbeddedDisk("", 0)};
  EXPECT_EQ(ReadMemory(&file), DISK_E_FORMAT);
  EXPECT_EQ(text_.text.data, nullptr);
}

TEST_F(ReadDescriptor, AnEmbeddedSplitLayoutIsRefused) {
  const std::string split = Changed(kBaseText, "monolithicSparse", "twoGbMaxExtentSparse");
  MemoryFile file{EmbeddedDisk(split, 20)};
  EXPECT_EQ(ReadMemory(&file), DISK_E_FORMAT);
  EXPECT_EQ(text_.text.data, nullptr);
}

TEST_F(ReadDescriptor, AHeaderThatIsNotValidMakesTheFileATextThatDoesNotParse) {
  std::string disk = EmbeddedDisk(kBaseText, 20);
  disk[0] = 'X';  // the magic
  MemoryFile file{disk};
  EXPECT_EQ(ReadMemory(&file), DISK_E_READ);
}

TEST_F(ReadDescriptor, AnAreaBeyondTheEndOfTheFileIsAReadError) {
  std::string disk = EmbeddedDisk(kBaseText, 64);
  disk.resize(512 + 10 * 512);
  MemoryFile file{disk};
  EXPECT_EQ(ReadMemory(&file), DISK_E_READ);
}

TEST_F(ReadDescriptor, ASeparateFileOf128KiBIsReadAndOneByteMoreIsRefused) {
  std::string text = kBaseText;
  text += "#";
  text.resize(kVmdkMaxDescriptorBytes - 1, 'x');
  text += "\n";
  dir_.WriteFile(L"big.vmdk", text);
  ASSERT_EQ(Read(L"big.vmdk"), DISK_OK);
  EXPECT_EQ(text_.text.length, kVmdkMaxDescriptorBytes);
  VmdkFreeDescriptorText(&text_.text);

  dir_.WriteFile(L"bigger.vmdk", text + "\n");
  EXPECT_EQ(Read(L"bigger.vmdk"), DISK_E_FORMAT);
  EXPECT_EQ(text_.text.data, nullptr);
}

TEST_F(ReadDescriptor, AHugeFileIsRefusedBeforeAnythingIsTaken) {
  // A multi-gigabyte flat extent handed in as a descriptor: only its size
  // is asked, nothing of that size is allocated or read.
  MemoryFile file{std::string(1024, '\0')};
  file.bytes.resize(kVmdkMaxDescriptorBytes + 1, 'x');
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(ReadMemory(&file), DISK_E_FORMAT);
  EXPECT_EQ(file.reads, 1) << "only the first 512 bytes are looked at";
}

TEST_F(ReadDescriptor, TheTextEndsAtTheNulOfTheEncodingThatWalksTheArea) {
  // "à" in UTF-8 is C3 A0; A0 starts no Shift_JIS character, so the area is
  // walked as UTF-8.
  const std::string utf8 = std::string(kBaseText) + "# \xC3\xA0\n";
  MemoryFile file{EmbeddedDisk(utf8, 20)};
  ASSERT_EQ(ReadMemory(&file), DISK_OK);
  EXPECT_EQ(text_.String(), utf8);
}

TEST_F(ReadDescriptor, AnAreaInvalidInBothEncodingsIsRefused) {
  // 0x80 starts neither a Shift_JIS nor a UTF-8 character.
  MemoryFile file{EmbeddedDisk(std::string(kBaseText) + "# \x80\n", 20)};
  EXPECT_EQ(ReadMemory(&file), DISK_E_FORMAT);
}

TEST_F(ReadDescriptor, AnInvalidByteBehindTheNulDoesNotMatter) {
  std::string area = std::string(kBaseText) + std::string(1, '\0') + "\x80\xFF";
  MemoryFile file{EmbeddedDisk(area, 20)};
  ASSERT_EQ(ReadMemory(&file), DISK_OK);
  EXPECT_EQ(text_.String(), kBaseText);
}

TEST_F(ReadDescriptor, FailuresGiveTheirOwnCodes) {
  dir_.WriteFile(L"child.vmdk", kChildText);
  dir_.WriteFile(L"bad.vmdk", Changed(kChildText, "version=1", "version=2"));
  dir_.WriteFile(L"empty.vmdk", "");
  EXPECT_EQ(Read(L"missing.vmdk"), DISK_E_OPEN);
  EXPECT_EQ(Read(L"bad.vmdk"), DISK_E_READ);
  EXPECT_EQ(Read(L"empty.vmdk"), DISK_E_READ);
  EXPECT_EQ(text_.text.data, nullptr);

  InjectFileFaults(0, -1);
  EXPECT_EQ(Read(L"child.vmdk"), DISK_E_READ) << "the first read fails";
  InjectFileFaults(1, -1);
  EXPECT_EQ(Read(L"child.vmdk"), DISK_E_READ) << "the read of the text fails";
  InjectFileFaults(-1, -1);
  EXPECT_EQ(Read(L"child.vmdk"), DISK_OK);
}

TEST_F(ReadDescriptor, NoMemoryForTheTextIsNoMemory) {
  MemoryFile file{kBaseText};
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(ReadMemory(&file), DISK_E_NOMEM);
  EXPECT_EQ(text_.text.data, nullptr);
  EXPECT_EQ(file.reads, 1) << "the text is not read without its storage";
}

TEST_F(ReadDescriptor, ASizeThatCannotBeFoundIsASizeError) {
  MemoryFile file{kBaseText};
  file.failSize = true;
  EXPECT_EQ(ReadMemory(&file), DISK_E_SIZE);
}

TEST_F(ReadDescriptor, AFileShorterThanAHeaderIsText) {
  // Under 512 bytes there is no header to test: the file is the text.
  const std::string text = std::string(kChildText);
  ASSERT_LT(text.size(), 512u);
  MemoryFile file{text};
  bool embedded = true;
  ASSERT_EQ(ReadMemory(&file, &embedded), DISK_OK);
  EXPECT_FALSE(embedded);
  EXPECT_EQ(file.reads, 2);
}

TEST(LocateDescriptor, FromTheHeadAndTheFileSize) {
  const std::string header = test::SparseHeaderBytes(1, 20);
  const auto* head = reinterpret_cast<const std::uint8_t*>(header.data());
  std::uint64_t offset = 99;
  std::uint32_t bytes = 0;
  bool embedded = false;
  ASSERT_EQ(VmdkLocateDescriptor(head, 512, 1 << 20, &offset, &bytes, &embedded), DISK_OK);
  EXPECT_TRUE(embedded);
  EXPECT_EQ(offset, 512u);
  EXPECT_EQ(bytes, 20u * 512u);
  // The same bytes in a file that is too short to hold a header are text.
  ASSERT_EQ(VmdkLocateDescriptor(head, 511, 511, &offset, &bytes, &embedded), DISK_OK);
  EXPECT_FALSE(embedded);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(bytes, 511u);
}

TEST(DescriptorTextLength, WalksAsShiftJisFirstThenAsUtf8) {
  struct Case {
    std::string area;
    bool ok;
    std::uint32_t length;
  };
  const Case cases[] = {
      {"abc", true, 3},
      {std::string("ab\0cd", 5), true, 2},
      {std::string("\0", 1), true, 0},
      {"", true, 0},
      // 0x81 leads a two-byte Shift_JIS character, which takes the NUL with
      // it; the walk goes on to the NUL behind.
      {std::string("a\x81\0b\0", 5), true, 4},
      {std::string("\xC3\xA0\0x", 4), true, 2},
      {std::string("\x80\0", 2), false, 0},
      // A lead byte cut off by the end of the area is invalid in Shift_JIS;
      // as UTF-8 0x81 is no lead byte either.
      {"abc\x81", false, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t length = 12345;
    const bool ok = VmdkDescriptorTextLength(reinterpret_cast<const std::uint8_t*>(c.area.data()),
                                             static_cast<std::uint32_t>(c.area.size()), &length);
    EXPECT_EQ(ok, c.ok) << testing::PrintToString(c.area);
    if (ok) {
      EXPECT_EQ(length, c.length) << testing::PrintToString(c.area);
    }
  }
}

// Descriptors made by qemu-img, read back by the engine.
struct QemuCase {
  const char* subformat;
  const char* size;  // MiB
  bool embedded;
  std::uint32_t split;
  std::uint32_t flat;
  std::uint32_t extents;
  std::uint32_t kind;
};

void PrintTo(const QemuCase& c, std::ostream* os) { *os << c.subformat; }

class QemuImgDescriptors : public testing::TestWithParam<QemuCase> {};

TEST_P(QemuImgDescriptors, ReadWithTheirLayout) {
  if (!test::QemuImgMissing().empty()) GTEST_SKIP() << test::QemuImgMissing();
  const QemuCase& c = GetParam();
  TempFolder dir;
  const std::string native = (dir.Native() / "disk.vmdk").string();
  ASSERT_EQ(
      test::RunQemuImg({"create", "-q", "-f", "vmdk", "-o", std::string("subformat=") + c.subformat,
                        native, std::string(c.size) + "M"}),
      0);
  auto d = NewRecord();
  OwnedText text;
  FileStream s{};
  ASSERT_TRUE(FsOpen(dir.Engine(L"disk.vmdk").c_str(), true, &s));
  bool embedded = !c.embedded;
  const DiskResult r = VmdkReadDescriptorFromStream(&s, d.get(), &text.text, &embedded);
  StreamClose(&s);
  ASSERT_EQ(r, DISK_OK) << text.String();
  EXPECT_EQ(embedded, c.embedded);
  EXPECT_EQ(d->split, c.split);
  EXPECT_EQ(d->flat, c.flat);
  EXPECT_EQ(d->isChild, 0u);
  ASSERT_EQ(d->extentCount, c.extents);
  std::uint64_t total = 0;
  for (std::uint32_t i = 0; i < d->extentCount; ++i) {
    EXPECT_EQ(d->extents[i].kind, c.kind);
    total += d->extents[i].sectors;
    // Every extent file qemu-img named is there, next to the descriptor.
    EXPECT_TRUE(dir.Exists(std::wstring(
        d->extents[i].fileName.data, d->extents[i].fileName.data + d->extents[i].fileName.length)))
        << StringOf(d->extents[i].fileName);
  }
  const std::uint64_t bytes = std::stoull(c.size) * 1024 * 1024;
  EXPECT_EQ(total * 512, bytes);
  EXPECT_EQ(d->adapterType, kVmdkAdapterIde);
  EXPECT_EQ(d->hwVersionIndex, 1u) << "qemu-img writes hardware version 4";

  // The path form reads the same.
  OwnedText again;
  EXPECT_EQ(VmdkReadDescriptor(dir.Engine(L"disk.vmdk").c_str(), d.get(), &again.text), DISK_OK);
  EXPECT_EQ(again.String(), text.String());
}

INSTANTIATE_TEST_SUITE_P(
    Subformats, QemuImgDescriptors,
    testing::Values(QemuCase{"monolithicSparse", "10", true, 0, 0, 1, kVmdkExtentSparse},
                    QemuCase{"streamOptimized", "10", true, 0, 0, 1, kVmdkExtentSparse},
                    QemuCase{"twoGbMaxExtentSparse", "4500", false, 1, 0, 3, kVmdkExtentSparse},
                    QemuCase{"monolithicFlat", "10", false, 0, 1, 1, kVmdkExtentFlat},
                    QemuCase{"twoGbMaxExtentFlat", "4500", false, 1, 1, 3, kVmdkExtentFlat}));

TEST(QemuImgChild, KeepsItsDiskDatabaseSoTheParserRefusesIt) {
  if (!test::QemuImgMissing().empty()) GTEST_SKIP() << test::QemuImgMissing();
  // qemu-img copies geometry and adapter into a child, which a child must
  // not carry here; its hint is also a POSIX-style path.
  TempFolder dir;
  const std::string base = (dir.Native() / "base.vmdk").string();
  const std::string child = (dir.Native() / "child.vmdk").string();
  ASSERT_EQ(test::RunQemuImg({"create", "-q", "-f", "vmdk", base, "10M"}), 0);
  ASSERT_EQ(test::RunQemuImg({"create", "-q", "-f", "vmdk", "-b", base, "-F", "vmdk", child}), 0);
  auto d = NewRecord();
  OwnedText text;
  EXPECT_EQ(VmdkReadDescriptor(dir.Engine(L"child.vmdk").c_str(), d.get(), &text.text),
            DISK_E_READ);
}

// Chains of children on disk.
class FindBase : public testing::Test {
 protected:
  void TearDown() override { InjectAllocationFailureAfter(-1); }

  // A child descriptor file whose hint is `hint` (UTF-8 test text written
  // in the file's encoding).
  void WriteChild(const std::wstring& name, const std::string& hint, const std::string& cid) {
    dir_.WriteFile(name, Changed(Changed(kChildText, "\"base.vmdk\"", "\"" + hint + "\""),
                                 "CID=abcdef01", "CID=" + cid));
  }

  DiskResult Find(const std::wstring& name, VmdkDescriptor* d) {
    return VmdkFindBaseDescriptor(dir_.Engine(name).c_str(), &text_.text, d);
  }

  TempFolder dir_;
  OwnedText text_;
};

TEST_F(FindBase, ABaseDiskIsItsOwnBase) {
  dir_.WriteFile(L"base.vmdk", kBaseText);
  auto d = NewRecord();
  ASSERT_EQ(Find(L"base.vmdk", d.get()), DISK_OK);
  EXPECT_EQ(text_.String(), kBaseText);
  EXPECT_EQ(d->isChild, 0u);
}

TEST_F(FindBase, FollowsHintsRelativeToEachDiskThroughFolders) {
  std::filesystem::create_directories(dir_.Native(L"vm\\base"));
  std::filesystem::create_directories(dir_.Native(L"vm\\c1\\c2"));
  dir_.WriteFile(L"vm\\base\\base.vmdk", kBaseText);
  WriteChild(L"vm\\c1\\mid.vmdk", "..\\base\\base.vmdk", "00000001");
  WriteChild(L"vm\\c1\\c2\\leaf.vmdk", "../mid.vmdk", "00000002");
  auto d = NewRecord();
  ASSERT_EQ(Find(L"vm\\c1\\c2\\leaf.vmdk", d.get()), DISK_OK);
  EXPECT_EQ(StringOf(d->cid), "12345678");
  EXPECT_EQ(text_.String(), kBaseText);
  // Without a record the text alone comes back.
  OwnedText alone;
  EXPECT_EQ(
      VmdkFindBaseDescriptor(dir_.Engine(L"vm\\c1\\c2\\leaf.vmdk").c_str(), &alone.text, nullptr),
      DISK_OK);
  EXPECT_EQ(alone.String(), kBaseText);
}

TEST_F(FindBase, AnAbsoluteHintIsTakenAsItIs) {
  dir_.WriteFile(L"base.vmdk", kBaseText);
  const std::string absolute = dir_.Engine(L"base.vmdk");  // ASCII test folder
  std::filesystem::create_directories(dir_.Native(L"other"));
  WriteChild(L"other\\child.vmdk", absolute, "00000001");
  auto d = NewRecord();
  EXPECT_EQ(Find(L"other\\child.vmdk", d.get()), DISK_OK);
  EXPECT_EQ(StringOf(d->cid), "12345678");
}

TEST_F(FindBase, ConvertsAUtf8HintToTheEngineNames) {
  dir_.WriteFile(L"\u89aa\u30c7\u30a3\u30b9\u30af.vmdk", kBaseText);  // 親ディスク.vmdk
  dir_.WriteFile(L"child.vmdk", Changed(Changed(kChildText, "\"base.vmdk\"", "\"親ディスク.vmdk\""),
                                        "version=1\n", "version=1\nencoding=\"UTF-8\"\n"));
  auto d = NewRecord();
  EXPECT_EQ(Find(L"child.vmdk", d.get()), DISK_OK);
  EXPECT_EQ(StringOf(d->cid), "12345678");
}

TEST_F(FindBase, AHintNamingTheDiskItselfEndsWithAFormatError) {
  WriteChild(L"self.vmdk", "self.vmdk", "00000001");
  auto d = NewRecord();
  EXPECT_EQ(Find(L"self.vmdk", d.get()), DISK_E_FORMAT);
  EXPECT_EQ(text_.text.data, nullptr);
}

TEST_F(FindBase, TwoDisksNamingEachOtherEndWithAFormatError) {
  WriteChild(L"a.vmdk", "b.vmdk", "0000000a");
  WriteChild(L"b.vmdk", ".\\a.vmdk", "0000000b");
  EXPECT_EQ(Find(L"a.vmdk", nullptr), DISK_E_FORMAT);
}

TEST_F(FindBase, FollowsTheLongestChainItAllowsAndNoLonger) {
  // c0 -> c1 -> ... -> cN -> base: N + 1 links.
  dir_.WriteFile(L"base.vmdk", kBaseText);
  const auto name = [](std::uint32_t i) { return "c" + std::to_string(i) + ".vmdk"; };
  for (std::uint32_t i = 0; i <= kVmdkMaxChainLinks; ++i) {
    const std::string parent = i == kVmdkMaxChainLinks ? "base.vmdk" : name(i + 1);
    const std::string self = name(i);
    WriteChild(std::wstring(self.begin(), self.end()), parent, "00000001");
  }
  auto d = NewRecord();
  EXPECT_EQ(Find(L"c1.vmdk", d.get()), DISK_OK) << "exactly the allowed number of links";
  VmdkFreeDescriptorText(&text_.text);
  EXPECT_EQ(Find(L"c0.vmdk", d.get()), DISK_E_FORMAT) << "one link more";
}

TEST_F(FindBase, ErrorsOnTheWayComeBackAsTheyAre) {
  WriteChild(L"orphan.vmdk", "gone.vmdk", "00000001");
  dir_.WriteFile(L"broken.vmdk", Changed(kBaseText, "version=1", "version=3"));
  WriteChild(L"to-broken.vmdk", "broken.vmdk", "00000002");
  WriteChild(L"long.vmdk", std::string(600, 'x') + ".vmdk", "00000003");
  WriteChild(L"climb.vmdk", "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\x.vmdk", "00000004");
  auto d = NewRecord();
  EXPECT_EQ(Find(L"orphan.vmdk", d.get()), DISK_E_OPEN);
  EXPECT_EQ(Find(L"to-broken.vmdk", d.get()), DISK_E_READ);
  EXPECT_EQ(Find(L"long.vmdk", d.get()), DISK_E_FORMAT) << "the parent's path does not fit";
  EXPECT_EQ(Find(L"climb.vmdk", d.get()), DISK_E_FORMAT) << "no such path above the root";
  EXPECT_EQ(text_.text.data, nullptr);

  const std::string tooLong = dir_.Engine(L"") + std::string(600, 'y');
  EXPECT_EQ(VmdkFindBaseDescriptor(tooLong.c_str(), &text_.text, d.get()), DISK_E_FORMAT);
}

TEST_F(FindBase, RunsOutOfMemoryCleanly) {
  dir_.WriteFile(L"base.vmdk", kBaseText);
  WriteChild(L"child.vmdk", "base.vmdk", "00000001");
  // Every allocation on the way fails once, in turn: the record, each
  // file's opening (which the file layer reports as a failed open) and each
  // text. Nothing may leak and no text may come back.
  int noMemory = 0;
  DiskResult r = DISK_E_NOMEM;
  for (long n = 0; n < 50 && r != DISK_OK; ++n) {
    InjectAllocationFailureAfter(n);
    r = Find(L"child.vmdk", nullptr);
    InjectAllocationFailureAfter(-1);
    if (r == DISK_OK) break;
    EXPECT_TRUE(r == DISK_E_NOMEM || r == DISK_E_OPEN) << n << ": " << r;
    EXPECT_EQ(text_.text.data, nullptr);
    noMemory += r == DISK_E_NOMEM;
  }
  EXPECT_EQ(r, DISK_OK);
  EXPECT_EQ(noMemory, 3) << "the record and the two texts";
  EXPECT_EQ(text_.String(), kBaseText);
}

}  // namespace
}  // namespace qvt
