#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "VmdkDescriptor.h"
#include "VmdkDescriptorTestSupport.h"

namespace qvt {
namespace {

using test::Changed;
using test::kBaseText;
using test::kChildText;
using test::NewRecord;
using test::Parse;
using test::StringOf;

// One change to a good descriptor, and whether the result still parses.
struct OneChange {
  const char* what;
  const char* base;  // kBaseText or kChildText
  const char* from;
  const char* to;
  bool parses;
};

void PrintTo(const OneChange& c, std::ostream* os) { *os << c.what; }

class OneChangeToAGoodDescriptor : public testing::TestWithParam<OneChange> {};

TEST_P(OneChangeToAGoodDescriptor, ParsesOrFailsAsTheRulesSay) {
  const OneChange& c = GetParam();
  const std::string text = Changed(c.base, c.from, c.to);
  auto d = NewRecord();
  EXPECT_EQ(Parse(text, d.get()), c.parses) << text;
}

const OneChange kVersionCases[] = {
    {"CID before version", kBaseText, "version=1\nCID=12345678\n", "CID=12345678\nversion=1\n",
     false},
    {"extent line before version", kChildText, "version=1\n", "RW 1 SPARSE \"x.vmdk\"\nversion=1\n",
     false},
    {"unknown key before version", kBaseText, "version=1\n", "isNativeSnapshot=\"no\"\nversion=1\n",
     true},
    {"version 2", kBaseText, "version=1", "version=2", false},
    {"version 01 is the number 1", kBaseText, "version=1", "version=01", true},
    {"version quoted", kBaseText, "version=1", "version=\"1\"", true},
    {"version empty", kBaseText, "version=1", "version=", false},
    {"no version", kBaseText, "version=1\n", "", false},
    {"key in capitals with blanks around =", kBaseText, "version=1", "VERSION = 1", true},
    {"version twice", kBaseText, "version=1\n", "version=1\nversion=1\n", false},
};
INSTANTIATE_TEST_SUITE_P(Version, OneChangeToAGoodDescriptor, testing::ValuesIn(kVersionCases));

const OneChange kKeyCases[] = {
    {"CID twice", kBaseText, "CID=12345678\n", "CID=12345678\nCID=12345679\n", false},
    {"unknown key twice", kBaseText, "#DDB\n",
     "#DDB\nddb.toolsVersion = \"1\"\nddb.toolsVersion = \"2\"\n", true},
    {"no CID", kBaseText, "CID=12345678\n", "", false},
    {"no parentCID", kBaseText, "parentCID=ffffffff\n", "", false},
    {"no createType", kBaseText, "createType=\"monolithicSparse\"\n", "", false},
    {"CID without value", kBaseText, "CID=12345678", "CID=", true},
    {"CID with only blanks after = is no key line", kBaseText, "CID=12345678", "CID= ", false},
    {"CID with comment as value", kBaseText, "CID=12345678", "CID= # none", true},
    {"CID followed by a second word is no key line", kBaseText, "CID=12345678", "CID=1234 5678",
     false},
    {"CID with = inside its bare value", kBaseText, "CID=12345678", "CID=12=45678", false},
    {"CID with a comment behind it", kBaseText, "CID=12345678", "CID=12345678   # made today",
     true},
    {"key with a quote inside is no key line", kBaseText, "CID=12345678", "C\"ID=12345678", false},
    {"key starting with = is no key line", kBaseText, "CID=12345678", "=12345678", false},
    {"unterminated quoted createType", kBaseText, "createType=\"monolithicSparse\"",
     "createType=\"monolithicSparse", false},
    {"quoted value with text behind it", kBaseText, "createType=\"monolithicSparse\"",
     "createType=\"monolithicSparse\" x", false},
    {"bare createType with a blank inside", kBaseText, "createType=\"monolithicSparse\"",
     "createType = monolithic Sparse", false},
    {"bare createType", kBaseText, "createType=\"monolithicSparse\"", "createType=monolithicSparse",
     true},
    {"createType in other case", kBaseText, "monolithicSparse\"", "MONOLITHICsparse\"", true},
    {"unknown createType", kBaseText, "monolithicSparse\"", "monolithicSparsely\"", false},
};
INSTANTIATE_TEST_SUITE_P(Keys, OneChangeToAGoodDescriptor, testing::ValuesIn(kKeyCases));

const OneChange kNumberCases[] = {
    {"hardware version 0", kBaseText, "Version = \"7\"", "Version = \"0\"", false},
    {"hardware version not a number", kBaseText, "Version = \"7\"", "Version = \"7a\"", false},
    {"hardware version empty", kBaseText, "Version = \"7\"", "Version = \"\"", false},
    {"hardware version past 32 bits", kBaseText, "Version = \"7\"", "Version = \"4294967296\"",
     false},
    {"hardware version with blanks inside the quotes", kBaseText, "Version = \"7\"",
     "Version = \" 7 \"", true},
    {"heads with a blank inside", kBaseText, "heads = \"16\"", "heads = \"1 6\"", false},
    {"heads negative", kBaseText, "heads = \"16\"", "heads = \"-16\"", false},
    {"heads at 32 bits", kBaseText, "heads = \"16\"", "heads = \"4294967295\"", true},
    {"cylinders past 32 bits", kBaseText, "cylinders = \"2\"", "cylinders = \"4294967296\"", false},
    {"sectors hexadecimal", kBaseText, "sectors = \"63\"", "sectors = \"0x3f\"", false},
};
INSTANTIATE_TEST_SUITE_P(Numbers, OneChangeToAGoodDescriptor, testing::ValuesIn(kNumberCases));

const OneChange kBaseOrChildCases[] = {
    {"base without adapter", kBaseText, "ddb.adapterType = \"lsilogic\"\n", "", false},
    {"adapter scsi", kBaseText, "\"lsilogic\"", "\"scsi\"", false},
    {"adapter buslogic", kBaseText, "\"lsilogic\"", "\"buslogic\"", true},
    {"adapter ide", kBaseText, "\"lsilogic\"", "\"ide\"", true},
    {"base without geometry", kBaseText,
     "ddb.geometry.cylinders = \"2\"\nddb.geometry.heads = \"16\"\nddb.geometry.sectors = \"63\"\n",
     "", true},
    {"child keeping ddb.geometry.heads", kChildText, "\"child.vmdk\"\n",
     "\"child.vmdk\"\nddb.geometry.heads = \"16\"\n", false},
    {"child keeping ddb.geometry.cylinders", kChildText, "\"child.vmdk\"\n",
     "\"child.vmdk\"\nddb.geometry.cylinders = \"16\"\n", false},
    {"child keeping ddb.adapterType", kChildText, "\"child.vmdk\"\n",
     "\"child.vmdk\"\nddb.adapterType = \"ide\"\n", false},
    {"child with a hardware version and uuid", kChildText, "\"child.vmdk\"\n",
     "\"child.vmdk\"\nddb.virtualHWVersion = \"4\"\nddb.uuid = \"1\"\n", true},
    {"child with an empty hint", kChildText, "\"base.vmdk\"", "\"\"", false},
    {"child with a blank hint", kChildText, "\"base.vmdk\"", "\" \t \"", false},
    {"child without parentCID", kChildText, "parentCID=12345678\n", "", false},
    {"hint twice", kChildText, "parentFileNameHint=\"base.vmdk\"\n",
     "parentFileNameHint=\"base.vmdk\"\nparentFileNameHint=\"base.vmdk\"\n", false},
};
INSTANTIATE_TEST_SUITE_P(BaseOrChild, OneChangeToAGoodDescriptor,
                         testing::ValuesIn(kBaseOrChildCases));

const OneChange kExtentCases[] = {
    {"no extent", kBaseText, "RW 2048 SPARSE \"base.vmdk\"\n", "", false},
    {"monolithicSparse with two extents", kBaseText, "RW 2048 SPARSE \"base.vmdk\"\n",
     "RW 2048 SPARSE \"base.vmdk\"\nRW 2048 SPARSE \"base2.vmdk\"\n", false},
    {"access NOACCESS", kBaseText, "RW 2048", "NOACCESS 2048", false},
    {"access rdonly in lower case", kBaseText, "RW 2048", "rdonly 2048", true},
    {"size not a number", kBaseText, "RW 2048", "RW 20x8", false},
    {"size past 32 bits", kBaseText, "RW 2048", "RW 4294967296", false},
    {"type ZERO", kBaseText, "SPARSE \"base", "ZERO \"base", false},
    {"type FLAT under monolithicSparse", kBaseText, "SPARSE \"base", "FLAT \"base", false},
    {"sparse extent with offset 0", kBaseText, "\"base.vmdk\"\n", "\"base.vmdk\" 0\n", true},
    {"sparse extent with offset 1", kBaseText, "\"base.vmdk\"\n", "\"base.vmdk\" 1\n", false},
    {"offset not a number", kBaseText, "\"base.vmdk\"\n", "\"base.vmdk\" 0x\n", false},
    {"tabs between the fields and a comment", kBaseText, "RW 2048 SPARSE \"base.vmdk\"",
     "\tRW\t2048 \t SPARSE\t\"base.vmdk\"\t# the disk", true},
    // Lines of another shape are not extent lines at all and are passed over.
    {"name without quotes is no extent line", kBaseText, "\"base.vmdk\"\n", "base.vmdk\n", false},
    {"offset glued to the name is no extent line", kBaseText, "\"base.vmdk\"\n", "\"base.vmdk\"0\n",
     false},
    {"unterminated name is no extent line", kBaseText, "\"base.vmdk\"\n", "\"base.vmdk\n", false},
};
INSTANTIATE_TEST_SUITE_P(Extents, OneChangeToAGoodDescriptor, testing::ValuesIn(kExtentCases));

const OneChange kLineBreakCases[] = {
    {"CR LF line breaks", kChildText, "\n# Extent description\n", "\r\n# Extent description\r\n",
     true},
    {"CR line breaks", kChildText, "\n# Extent description\n", "\r# Extent description\r", true},
    {"no break after the last line", kChildText, "\"child.vmdk\"\n", "\"child.vmdk\"", true},
};
INSTANTIATE_TEST_SUITE_P(LineBreaks, OneChangeToAGoodDescriptor,
                         testing::ValuesIn(kLineBreakCases));

// createType against the extents it demands.
struct LayoutCase {
  const char* createType;
  const char* extents;
  bool child;
  bool parses;
  std::uint32_t split;
  std::uint32_t flat;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.createType << (c.child ? " child: " : ": ") << c.extents;
}

class CreateTypeTable : public testing::TestWithParam<LayoutCase> {};

TEST_P(CreateTypeTable, DecidesSplitAndFlatAndChecksTheExtents) {
  const LayoutCase& c = GetParam();
  std::string text = std::string("version=1\nCID=1\nparentCID=ffffffff\ncreateType=\"") +
                     c.createType + "\"\n" + c.extents;
  text += c.child ? "parentFileNameHint=\"p.vmdk\"\n" : "ddb.adapterType = \"ide\"\n";
  auto d = NewRecord();
  ASSERT_EQ(Parse(text, d.get()), c.parses) << text;
  if (!c.parses) return;
  EXPECT_EQ(d->split, c.split);
  EXPECT_EQ(d->flat, c.flat);
  EXPECT_EQ(d->isChild, c.child ? 1u : 0u);
}

constexpr const char* kOneSparse = "RW 10 SPARSE \"a.vmdk\"\n";
constexpr const char* kTwoSparse = "RW 10 SPARSE \"a.vmdk\"\nRW 10 SPARSE \"b.vmdk\"\n";
constexpr const char* kOneFlat = "RW 10 FLAT \"a.vmdk\" 0\n";
constexpr const char* kTwoFlat = "RW 10 FLAT \"a.vmdk\" 0\nRW 10 VMFS \"b.vmdk\" 7\n";

const LayoutCase kLayouts[] = {
    {"monolithicSparse", kOneSparse, false, true, 0, 0},
    {"monolithicSparse", kOneSparse, true, true, 0, 0},
    {"monolithicSparse", kTwoSparse, false, false, 0, 0},
    {"monolithicSparse", kOneFlat, false, false, 0, 0},
    {"twoGbMaxExtentSparse", kTwoSparse, false, true, 1, 0},
    {"twoGbMaxExtentSparse", kOneSparse, true, true, 1, 0},
    {"twoGbMaxExtentSparse", "RW 10 SPARSE \"a.vmdk\"\nRW 10 SPARSE \"b.vmdk\" 1\n", false, false,
     0, 0},
    {"twoGbMaxExtentSparse", "RW 10 SPARSE \"a.vmdk\"\nRW 10 FLAT \"b.vmdk\" 0\n", false, false, 0,
     0},
    {"twoGbMaxExtentSparse", "", false, false, 0, 0},
    {"monolithicFlat", kOneFlat, false, true, 0, 1},
    {"monolithicFlat", "RW 10 VMFS \"a.vmdk\"\n", false, true, 0, 1},
    {"monolithicFlat", kOneFlat, true, false, 0, 0},
    {"monolithicFlat", kTwoFlat, false, false, 0, 0},
    {"monolithicFlat", kOneSparse, false, false, 0, 0},
    {"twoGbMaxExtentFlat", kTwoFlat, false, true, 1, 1},
    {"twoGbMaxExtentFlat", kTwoFlat, true, false, 0, 0},
    {"twoGbMaxExtentFlat", kTwoSparse, false, false, 0, 0},
    {"streamOptimized", kOneSparse, false, true, 0, 0},
    {"streamOptimized", kTwoSparse, false, false, 0, 0},
    {"streamOptimized", "RW 10 SPARSE \"a.vmdk\" 5\n", false, false, 0, 0},
    {"vmfs", kTwoFlat, false, true, 1, 1},
    {"vmfs", kOneFlat, true, false, 0, 0},
    {"vmfs", kOneSparse, false, false, 0, 0},
    {"monolithic", kOneSparse, false, false, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(AllCreateTypes, CreateTypeTable, testing::ValuesIn(kLayouts));

TEST(VmdkParseDescriptor, FillsTheRecordOfABaseDisk) {
  const std::string text = kBaseText;
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(d->split, 0u);
  EXPECT_EQ(d->flat, 0u);
  EXPECT_EQ(d->isChild, 0u);
  ASSERT_EQ(d->extentCount, 1u);
  EXPECT_EQ(d->extents[0].sectors, 2048u);
  EXPECT_EQ(StringOf(d->extents[0].fileName), "base.vmdk");
  EXPECT_EQ(d->extents[0].kind, kVmdkExtentSparse);
  EXPECT_EQ(d->extents[0].offset, 0u);
  EXPECT_EQ(d->encodingAbsent, 1);
  EXPECT_EQ(d->encodingKind, kVmdkEncodingNone);
  EXPECT_EQ(d->textEncoding, ENC_SHIFT_JIS);
  EXPECT_EQ(StringOf(d->cid), "12345678");
  EXPECT_EQ(StringOf(d->parentCid), "ffffffff");
  EXPECT_EQ(StringOf(d->createType), "monolithicSparse");
  EXPECT_EQ(d->parentFileNameHint.length, 0u);
  EXPECT_EQ(d->hwVersionIndex, 4u) << "version 7 is index 4";
  EXPECT_EQ(d->uuidAbsent, 0);
  EXPECT_EQ(StringOf(d->uuid), "60 00 C2 97 7d 00 44 2b-53 6d e1 38 f2 fd fc 4b");
  EXPECT_EQ(d->cylinders, 2u);
  EXPECT_EQ(d->heads, 16u);
  EXPECT_EQ(d->sectors, 63u);
  EXPECT_EQ(d->adapterType, kVmdkAdapterLsiLogic);
}

TEST(VmdkParseDescriptor, FillsTheRecordOfAChild) {
  const std::string text = Changed(kChildText, "\"base.vmdk\"", "\"  ..\\base\\base.vmdk\t\"");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(d->isChild, 1u);
  EXPECT_EQ(StringOf(d->parentFileNameHint), "..\\base\\base.vmdk") << "trimmed";
  EXPECT_EQ(StringOf(d->parentCid), "12345678");
  EXPECT_EQ(d->adapterType, kVmdkAdapterNone);
  EXPECT_EQ(d->hwVersionIndex, kVmdkHwVersionDefault);
  EXPECT_EQ(d->uuidAbsent, 1);
  EXPECT_EQ(d->cylinders, 0u);
  EXPECT_EQ(d->heads, 0u) << "a child has no geometry of its own";
  EXPECT_EQ(d->sectors, 0u);
}

TEST(VmdkParseDescriptor, BaseWithoutGeometryGetsTheDefaults) {
  const std::string text = Changed(Changed(kBaseText,
                                           "ddb.geometry.cylinders = \"2\"\nddb.geometry.heads = "
                                           "\"16\"\nddb.geometry.sectors = \"63\"\n",
                                           ""),
                                   "ddb.virtualHWVersion = \"7\"\n", "");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(d->cylinders, 0u);
  EXPECT_EQ(d->heads, 16u);
  EXPECT_EQ(d->sectors, 63u);
  EXPECT_EQ(d->hwVersionIndex, 9u);
}

TEST(VmdkParseDescriptor, KeepsValuesAsWrittenAndReadsTheValueBeforeAComment) {
  const std::string text = Changed(Changed(kBaseText, "CID=12345678", "  cid = 0a0b  # made"),
                                   "createType=\"monolithicSparse\"",
                                   "createType = \"monolithicSparse\"  # a comment \"x\"");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(StringOf(d->cid), "0a0b");
  EXPECT_EQ(StringOf(d->createType), "monolithicSparse");
}

TEST(VmdkParseDescriptor, AnEmptyValueIsKeptEmpty) {
  const std::string text = Changed(kBaseText, "CID=12345678", "CID=");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(d->cid.length, 0u);
}

struct HwVersionCase {
  const char* text;
  std::uint32_t index;
};

class HardwareVersions : public testing::TestWithParam<HwVersionCase> {};

TEST_P(HardwareVersions, MapToTheirIndex) {
  const std::string text =
      Changed(kBaseText, "Version = \"7\"", std::string("Version = \"") + GetParam().text + "\"");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(d->hwVersionIndex, GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Table, HardwareVersions,
                         testing::Values(HwVersionCase{"3", 0}, HwVersionCase{"4", 1},
                                         HwVersionCase{"9", 6}, HwVersionCase{"11", 8},
                                         HwVersionCase{"12", 9}, HwVersionCase{"13", 10},
                                         HwVersionCase{"14", 9}, HwVersionCase{"1", 9},
                                         HwVersionCase{"2", 9}, HwVersionCase{"21", 9}));

TEST(VmdkHwVersion, TextsOfTheTableAndNothingBeyond) {
  EXPECT_STREQ(VmdkHwVersionText(0), "3");
  EXPECT_STREQ(VmdkHwVersionText(9), "12");
  EXPECT_STREQ(VmdkHwVersionText(10), "13");
  EXPECT_EQ(VmdkHwVersionText(11), nullptr);
  EXPECT_EQ(VmdkHwVersionText(kVmdkHwVersionUnknown), nullptr);
  std::uint32_t index = 77;
  EXPECT_FALSE(VmdkHwVersionIndex(0, &index));
}

struct EncodingCase {
  const char* value;
  std::uint32_t kind;
  TextEncoding text;
};

class EncodingKey : public testing::TestWithParam<EncodingCase> {};

TEST_P(EncodingKey, SetsTheKindAndTheTextEncoding) {
  const EncodingCase& c = GetParam();
  const std::string text =
      Changed(kBaseText, "version=1\n", std::string("version=1\nencoding=\"") + c.value + "\"\n");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(text, d.get()));
  EXPECT_EQ(d->encodingAbsent, 0);
  EXPECT_EQ(StringOf(d->encodingValue), c.value);
  EXPECT_EQ(d->encodingKind, c.kind);
  EXPECT_EQ(d->textEncoding, c.text);
}

INSTANTIATE_TEST_SUITE_P(Values, EncodingKey,
                         testing::Values(EncodingCase{"Shift_JIS", 1, ENC_SHIFT_JIS},
                                         EncodingCase{"UTF-8", 2, ENC_UTF8},
                                         EncodingCase{"utf-8", 2, ENC_UTF8},
                                         EncodingCase{"windows-1252", 3, ENC_SHIFT_JIS},
                                         EncodingCase{"", 3, ENC_SHIFT_JIS}));

TEST(VmdkParseDescriptor, ReadsNamesInTheirEncoding) {
  // ソ and 表 end in the byte 0x5C in Shift_JIS; no delimiter of the
  // grammar can hide in a multibyte character.
  const std::string sjis = test::Encoded("ソフト表.vmdk", ENC_SHIFT_JIS);
  const std::string utf8 = "ソフト表.vmdk";
  const std::string inSjis = Changed(kBaseText, "\"base.vmdk\"", "\"" + sjis + "\"");
  const std::string inUtf8 = Changed(Changed(kBaseText, "\"base.vmdk\"", "\"" + utf8 + "\""),
                                     "version=1\n", "version=1\nencoding=\"UTF-8\"\n");
  auto d = NewRecord();
  ASSERT_TRUE(Parse(inSjis, d.get()));
  EXPECT_EQ(StringOf(d->extents[0].fileName), sjis);
  ASSERT_TRUE(Parse(inUtf8, d.get()));
  EXPECT_EQ(StringOf(d->extents[0].fileName), utf8);
  EXPECT_EQ(d->textEncoding, ENC_UTF8);
}

TEST(VmdkParseDescriptor, TakesAThousandExtentsAndRefusesOneMore) {
  std::string extents;
  for (int i = 0; i < 1000; ++i) extents += "RW 8 SPARSE \"d-s" + std::to_string(i) + ".vmdk\"\n";
  const std::string head =
      "version=1\nCID=1\nparentCID=ffffffff\ncreateType=\"twoGbMaxExtentSparse\"\n";
  const std::string tail = "ddb.adapterType = \"ide\"\n";
  auto d = NewRecord();
  const std::string thousand = head + extents + tail;
  ASSERT_TRUE(Parse(thousand, d.get()));
  EXPECT_EQ(d->extentCount, 1000u);
  EXPECT_EQ(StringOf(d->extents[999].fileName), "d-s999.vmdk");
  EXPECT_FALSE(Parse(head + extents + "RW 8 SPARSE \"one-more.vmdk\"\n" + tail, d.get()));
}

TEST(VmdkParseDescriptor, AFailedParseLeavesAnEmptyRecord) {
  const std::string text = Changed(kBaseText, "ddb.adapterType = \"lsilogic\"\n", "");
  auto d = NewRecord();
  EXPECT_FALSE(Parse(text, d.get()));
  EXPECT_EQ(d->extentCount, 0u);
  EXPECT_EQ(d->cid.length, 0u);
  EXPECT_EQ(d->adapterType, kVmdkAdapterNone);
}

TEST(VmdkParseDescriptor, HostileTextsFailWithoutReadingPastTheirEnd) {
  auto d = NewRecord();
  // Exactly sized heap copies, so that ASan sees any read past the end.
  const std::string texts[] = {
      "",
      "=",
      "\"",
      "version",
      "version=\"",
      "version=1\nCID=\"",
      "version=1\nRW 1 SPARSE \"",
      "version=1\nRW 1 SPARSE \"a\" ",
      "version=1\nRW 1 SPARSE \"a\" 1",
      std::string("version=1\0CID=1", 15),
      std::string(70000, '#'),
      std::string(70000, '='),
      std::string(70000, '\n'),
      std::string(70000, '"'),
  };
  for (const std::string& t : texts) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[t.size() + 1]);
    std::copy(t.begin(), t.end(), copy.get());
    EXPECT_FALSE(
        VmdkParseDescriptor(MakeView(copy.get(), static_cast<std::uint32_t>(t.size())), d.get()))
        << t.substr(0, 40);
  }
}

}  // namespace
}  // namespace qvt
