// Conversions between the engine's encodings: what converts to what, what
// fails, and that a failure leaves the output buffer exactly as it was.
#include "TextConvert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qvt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Form = std::optional<Bytes>;  // nullopt: the encoding cannot hold it

constexpr std::uint8_t kSentinel = 0xEE;

const char* const kEncodingNames[] = {"ShiftJis", "EucJp",   "Utf8",   "Utf16Le",
                                      "Utf16Be",  "Utf32Le", "Utf32Be"};

// An output buffer over exactly `capacity` bytes holding "xy", the rest
// sentinels, so that a failed conversion can be shown to have changed nothing.
struct Output {
  std::vector<std::uint8_t> storage;
  ByteBuffer buffer{};

  explicit Output(std::uint32_t capacity = 256) : storage(capacity, kSentinel) {
    BufferInit(&buffer, storage.data(), capacity);
    EXPECT_TRUE(BufferAppend(&buffer, "xy", 2));
  }
  Bytes Appended() const { return Bytes(buffer.data + 2, buffer.data + buffer.length); }
};

// Converts from an exact-size heap copy of `in`, so that AddressSanitizer
// catches a read past the view.
bool Convert(Output* out, TextEncoding outEnc, const Bytes& in, TextEncoding inEnc) {
  const std::vector<std::uint8_t> copy(in);
  const TextView view{copy.empty() ? nullptr : copy.data(),
                      static_cast<std::uint32_t>(copy.size())};
  return TextConvertAppend(&out->buffer, outEnc, view, inEnc);
}

// --- One character in all seven encodings ----------------------------------

struct Character {
  const char* name;
  // Shift_JIS, EUC-JP, UTF-8, UTF-16LE, UTF-16BE, UTF-32LE, UTF-32BE
  Form forms[kEncodingCount];
};

const Form kNone = std::nullopt;

const Character kCharacters[] = {
    {"AsciiAndBackslash",
     {Bytes{0x41, 0x5C}, Bytes{0x41, 0x5C}, Bytes{0x41, 0x5C}, Bytes{0x41, 0x00, 0x5C, 0x00},
      Bytes{0x00, 0x41, 0x00, 0x5C}, Bytes{0x41, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x00, 0x00},
      Bytes{0x00, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0x5C}}},
    // 表 and ソ: the trail byte is 0x5C, a backslash if read byte by byte.
    {"Hyou",
     {Bytes{0x95, 0x5C}, Bytes{0xC9, 0xBD}, Bytes{0xE8, 0xA1, 0xA8}, Bytes{0x68, 0x88},
      Bytes{0x88, 0x68}, Bytes{0x68, 0x88, 0x00, 0x00}, Bytes{0x00, 0x00, 0x88, 0x68}}},
    {"KatakanaSo",
     {Bytes{0x83, 0x5C}, Bytes{0xA5, 0xBD}, Bytes{0xE3, 0x82, 0xBD}, Bytes{0xBD, 0x30},
      Bytes{0x30, 0xBD}, Bytes{0xBD, 0x30, 0x00, 0x00}, Bytes{0x00, 0x00, 0x30, 0xBD}}},
    {"Kan",
     {Bytes{0x8A, 0xBF}, Bytes{0xB4, 0xC1}, Bytes{0xE6, 0xBC, 0xA2}, Bytes{0x22, 0x6F},
      Bytes{0x6F, 0x22}, Bytes{0x22, 0x6F, 0x00, 0x00}, Bytes{0x00, 0x00, 0x6F, 0x22}}},
    // 亜: first kanji of row 16, on an even row (trail 0x9F).
    {"A",
     {Bytes{0x88, 0x9F}, Bytes{0xB0, 0xA1}, Bytes{0xE4, 0xBA, 0x9C}, Bytes{0x9C, 0x4E},
      Bytes{0x4E, 0x9C}, Bytes{0x9C, 0x4E, 0x00, 0x00}, Bytes{0x00, 0x00, 0x4E, 0x9C}}},
    // Row 1, cell 1.
    {"IdeographicSpace",
     {Bytes{0x81, 0x40}, Bytes{0xA1, 0xA1}, Bytes{0xE3, 0x80, 0x80}, Bytes{0x00, 0x30},
      Bytes{0x30, 0x00}, Bytes{0x00, 0x30, 0x00, 0x00}, Bytes{0x00, 0x00, 0x30, 0x00}}},
    {"HalfWidthKatakanaA",
     {Bytes{0xB1}, Bytes{0x8E, 0xB1}, Bytes{0xEF, 0xBD, 0xB1}, Bytes{0x71, 0xFF}, Bytes{0xFF, 0x71},
      Bytes{0x71, 0xFF, 0x00, 0x00}, Bytes{0x00, 0x00, 0xFF, 0x71}}},
    // The first user-defined character: CP932 has it, JIS X 0208 does not.
    {"UserDefined",
     {Bytes{0xF0, 0x40}, kNone, Bytes{0xEE, 0x80, 0x80}, Bytes{0x00, 0xE0}, Bytes{0xE0, 0x00},
      Bytes{0x00, 0xE0, 0x00, 0x00}, Bytes{0x00, 0x00, 0xE0, 0x00}}},
    {"LatinSmallEAcute",
     {kNone, kNone, Bytes{0xC3, 0xA9}, Bytes{0xE9, 0x00}, Bytes{0x00, 0xE9},
      Bytes{0xE9, 0x00, 0x00, 0x00}, Bytes{0x00, 0x00, 0x00, 0xE9}}},
    // Some converters "best fit" ¥ to 0x5C, a backslash: no conversion for a
    // file name.
    {"YenSign",
     {kNone, kNone, Bytes{0xC2, 0xA5}, Bytes{0xA5, 0x00}, Bytes{0x00, 0xA5},
      Bytes{0xA5, 0x00, 0x00, 0x00}, Bytes{0x00, 0x00, 0x00, 0xA5}}},
    // Windows' CP932 gives these the single bytes 0x80 and 0xA0, which no
    // Shift_JIS reader takes for characters.
    {"Control0080",
     {kNone, kNone, Bytes{0xC2, 0x80}, Bytes{0x80, 0x00}, Bytes{0x00, 0x80},
      Bytes{0x80, 0x00, 0x00, 0x00}, Bytes{0x00, 0x00, 0x00, 0x80}}},
    {"PrivateUseF8F0",
     {kNone, kNone, Bytes{0xEF, 0xA3, 0xB0}, Bytes{0xF0, 0xF8}, Bytes{0xF8, 0xF0},
      Bytes{0xF0, 0xF8, 0x00, 0x00}, Bytes{0x00, 0x00, 0xF8, 0xF0}}},
    {"TwoByteUtf8Last",
     {kNone, kNone, Bytes{0xDF, 0xBF}, Bytes{0xFF, 0x07}, Bytes{0x07, 0xFF},
      Bytes{0xFF, 0x07, 0x00, 0x00}, Bytes{0x00, 0x00, 0x07, 0xFF}}},
    {"BmpLast",
     {kNone, kNone, Bytes{0xEF, 0xBF, 0xBF}, Bytes{0xFF, 0xFF}, Bytes{0xFF, 0xFF},
      Bytes{0xFF, 0xFF, 0x00, 0x00}, Bytes{0x00, 0x00, 0xFF, 0xFF}}},
    {"Emoji",
     {kNone, kNone, Bytes{0xF0, 0x9F, 0x98, 0x80}, Bytes{0x3D, 0xD8, 0x00, 0xDE},
      Bytes{0xD8, 0x3D, 0xDE, 0x00}, Bytes{0x00, 0xF6, 0x01, 0x00}, Bytes{0x00, 0x01, 0xF6, 0x00}}},
    {"UnicodeLast",
     {kNone, kNone, Bytes{0xF4, 0x8F, 0xBF, 0xBF}, Bytes{0xFF, 0xDB, 0xFF, 0xDF},
      Bytes{0xDB, 0xFF, 0xDF, 0xFF}, Bytes{0xFF, 0xFF, 0x10, 0x00}, Bytes{0x00, 0x10, 0xFF, 0xFF}}},
};

struct Pair {
  TextEncoding from;
  TextEncoding to;
};
void PrintTo(const Pair& p, std::ostream* os) {
  *os << kEncodingNames[p.from] << "To" << kEncodingNames[p.to];
}

std::vector<Pair> AllPairs() {
  std::vector<Pair> pairs;
  for (std::uint32_t from = 0; from < kEncodingCount; ++from) {
    for (std::uint32_t to = 0; to < kEncodingCount; ++to) {
      pairs.push_back({static_cast<TextEncoding>(from), static_cast<TextEncoding>(to)});
    }
  }
  return pairs;
}

class ConvertPairTest : public ::testing::TestWithParam<Pair> {};

TEST_P(ConvertPairTest, EachCharacterBecomesItsFormOrFails) {
  const Pair p = GetParam();
  for (const Character& c : kCharacters) {
    if (!c.forms[p.from]) continue;
    Output out;
    const Bytes before = out.storage;
    const bool ok = Convert(&out, p.to, *c.forms[p.from], p.from);
    if (c.forms[p.to]) {
      ASSERT_TRUE(ok) << c.name;
      EXPECT_EQ(out.Appended(), *c.forms[p.to]) << c.name;
    } else {
      EXPECT_FALSE(ok) << c.name;
      EXPECT_EQ(out.storage, before) << c.name;
      EXPECT_EQ(out.buffer.length, 2u) << c.name;
    }
  }
}

TEST_P(ConvertPairTest, AWholeTextConvertsAsItsCharactersDo) {
  const Pair p = GetParam();
  Bytes in;
  Bytes expected;
  for (const Character& c : kCharacters) {
    if (!c.forms[p.from] || !c.forms[p.to]) continue;
    in.insert(in.end(), c.forms[p.from]->begin(), c.forms[p.from]->end());
    expected.insert(expected.end(), c.forms[p.to]->begin(), c.forms[p.to]->end());
  }
  Output out;
  ASSERT_TRUE(Convert(&out, p.to, in, p.from));
  EXPECT_EQ(out.Appended(), expected);
}

TEST_P(ConvertPairTest, AnEmptyViewAppendsNothing) {
  const Pair p = GetParam();
  Output out;
  EXPECT_TRUE(TextConvertAppend(&out.buffer, p.to, TextView{nullptr, 0}, p.from));
  EXPECT_EQ(out.buffer.length, 2u);
}

INSTANTIATE_TEST_SUITE_P(AllPairs, ConvertPairTest, ::testing::ValuesIn(AllPairs()),
                         [](const auto& tp) {
                           return std::string(kEncodingNames[tp.param.from]) + "To" +
                                  kEncodingNames[tp.param.to];
                         });

// --- Shift_JIS and EUC-JP by row and cell ----------------------------------

struct JisCase {
  const char* name;
  Bytes sjis;
  Bytes euc;
};
void PrintTo(const JisCase& c, std::ostream* os) { *os << c.name; }

// Both directions, arithmetic alone: some of these CP932 does not define.
const JisCase kJisCases[] = {
    {"Row1Cell63", {0x81, 0x7E}, {0xA1, 0xDF}},
    {"Row1Cell64SkipsTrail7F", {0x81, 0x80}, {0xA1, 0xE0}},
    {"Row1Cell94", {0x81, 0x9E}, {0xA1, 0xFE}},
    {"Row2Cell1", {0x81, 0x9F}, {0xA2, 0xA1}},
    {"Row9Unassigned", {0x85, 0x40}, {0xA9, 0xA1}},
    {"Row62Cell94", {0x9F, 0xFC}, {0xDE, 0xFE}},
    {"Row63Cell1", {0xE0, 0x40}, {0xDF, 0xA1}},
    {"LastJisKanji", {0xEA, 0xA4}, {0xF4, 0xA6}},
    {"Row89NecSelected", {0xED, 0x40}, {0xF9, 0xA1}},
    {"Row94Cell94", {0xEF, 0xFC}, {0xFE, 0xFE}},
    {"HalfWidthFirst", {0xA1}, {0x8E, 0xA1}},
    {"HalfWidthLast", {0xDF}, {0x8E, 0xDF}},
    {"AsciiDelete", {0x7F}, {0x7F}},
};

class JisArithmeticTest : public ::testing::TestWithParam<JisCase> {};

TEST_P(JisArithmeticTest, ShiftJisToEuc) {
  Output out;
  ASSERT_TRUE(Convert(&out, ENC_EUC_JP, GetParam().sjis, ENC_SHIFT_JIS));
  EXPECT_EQ(out.Appended(), GetParam().euc);
}

TEST_P(JisArithmeticTest, EucToShiftJis) {
  Output out;
  ASSERT_TRUE(Convert(&out, ENC_SHIFT_JIS, GetParam().euc, ENC_EUC_JP));
  EXPECT_EQ(out.Appended(), GetParam().sjis);
}

INSTANTIATE_TEST_SUITE_P(Cases, JisArithmeticTest, ::testing::ValuesIn(kJisCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

// --- Conversions that hold in one direction only ---------------------------

struct OneWayCase {
  const char* name;
  TextEncoding from;
  Bytes in;
  TextEncoding to;
  Bytes out;
};
void PrintTo(const OneWayCase& c, std::ostream* os) { *os << c.name; }

const OneWayCase kOneWayCases[] = {
    // IBM extensions and NEC-selected duplicates decode; which code Unicode
    // goes back to is the table's choice.
    {"IbmExtensionToUtf8", ENC_SHIFT_JIS, {0xFA, 0x40}, ENC_UTF8, {0xE2, 0x85, 0xB0}},
    {"NecSelectedToUtf8", ENC_SHIFT_JIS, {0xED, 0x40}, ENC_UTF8, {0xE7, 0xBA, 0x8A}},
    {"NecSelectedEucToUtf16", ENC_EUC_JP, {0xF9, 0xA1}, ENC_UTF16LE, {0x8A, 0x7E}},
    // Within one encoding the text is checked but copied as it is.
    {"ShiftJisUndefinedCopied",
     ENC_SHIFT_JIS,
     {0x85, 0x40, 0x41},
     ENC_SHIFT_JIS,
     {0x85, 0x40, 0x41}},
    {"EucJisX0212Copied", ENC_EUC_JP, {0x8F, 0xB0, 0xA1}, ENC_EUC_JP, {0x8F, 0xB0, 0xA1}},
};

class OneWayTest : public ::testing::TestWithParam<OneWayCase> {};

TEST_P(OneWayTest, Converts) {
  const OneWayCase& c = GetParam();
  Output out;
  ASSERT_TRUE(Convert(&out, c.to, c.in, c.from));
  EXPECT_EQ(out.Appended(), c.out);
}

INSTANTIATE_TEST_SUITE_P(Cases, OneWayTest, ::testing::ValuesIn(kOneWayCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

// --- Malformed, cut-off and unrepresentable input --------------------------

struct BadCase {
  const char* name;
  TextEncoding from;
  Bytes in;
  TextEncoding to;
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

const BadCase kBadCases[] = {
    // Shift_JIS
    {"SjisInvalidLead80", ENC_SHIFT_JIS, {'a', 0x80}, ENC_UTF8},
    {"SjisInvalidLeadA0", ENC_SHIFT_JIS, {0xA0}, ENC_EUC_JP},
    {"SjisInvalidLeadFD", ENC_SHIFT_JIS, {0xFD, 0x40}, ENC_SHIFT_JIS},
    {"SjisLeadCutOff", ENC_SHIFT_JIS, {'a', 0x95}, ENC_UTF16LE},
    {"SjisLeadCutOffToEuc", ENC_SHIFT_JIS, {0x95}, ENC_EUC_JP},
    {"SjisTrail7F", ENC_SHIFT_JIS, {0x95, 0x7F}, ENC_UTF8},
    {"SjisTrail3F", ENC_SHIFT_JIS, {0x95, 0x3F}, ENC_EUC_JP},
    {"SjisTrailFD", ENC_SHIFT_JIS, {0x95, 0xFD}, ENC_SHIFT_JIS},
    {"SjisUndefinedToUnicode", ENC_SHIFT_JIS, {0x85, 0x40}, ENC_UTF8},
    {"SjisUserDefinedToEuc", ENC_SHIFT_JIS, {0xF0, 0x40}, ENC_EUC_JP},
    {"SjisUserDefinedLastToEuc", ENC_SHIFT_JIS, {0xF9, 0xFC}, ENC_EUC_JP},
    {"SjisIbmExtensionToEuc", ENC_SHIFT_JIS, {0xFA, 0x40}, ENC_EUC_JP},
    {"SjisIbmExtensionLastToEuc", ENC_SHIFT_JIS, {0xFC, 0x4B}, ENC_EUC_JP},
    // EUC-JP
    {"EucJisX0212ToSjis", ENC_EUC_JP, {0x8F, 0xB0, 0xA1}, ENC_SHIFT_JIS},
    {"EucJisX0212ToUtf8", ENC_EUC_JP, {0x8F, 0xB0, 0xA1}, ENC_UTF8},
    {"EucJisX0212CutOff", ENC_EUC_JP, {0x8F, 0xB0}, ENC_EUC_JP},
    {"EucHalfWidthBadByte", ENC_EUC_JP, {0x8E, 0x41}, ENC_SHIFT_JIS},
    {"EucHalfWidthBeyondDF", ENC_EUC_JP, {0x8E, 0xE0}, ENC_UTF8},
    {"EucBadSecondByte", ENC_EUC_JP, {0xC9, 0x41}, ENC_SHIFT_JIS},
    {"EucBadSecondByteCopy", ENC_EUC_JP, {0xC9, 0xFF}, ENC_EUC_JP},
    {"EucCutOff", ENC_EUC_JP, {0xC9}, ENC_UTF16BE},
    {"EucInvalidLead", ENC_EUC_JP, {0xA0, 0xA1}, ENC_SHIFT_JIS},
    // UTF-8
    {"Utf8OverlongTwo", ENC_UTF8, {0xC0, 0xAF}, ENC_UTF16LE},
    {"Utf8OverlongThree", ENC_UTF8, {0xE0, 0x80, 0xAF}, ENC_UTF16LE},
    {"Utf8OverlongFour", ENC_UTF8, {0xF0, 0x8F, 0xBF, 0xBF}, ENC_UTF32LE},
    {"Utf8Surrogate", ENC_UTF8, {0xED, 0xA0, 0x80}, ENC_UTF16LE},
    {"Utf8SurrogateCopy", ENC_UTF8, {0xED, 0xBF, 0xBF}, ENC_UTF8},
    {"Utf8BeyondUnicode", ENC_UTF8, {0xF4, 0x90, 0x80, 0x80}, ENC_UTF32BE},
    {"Utf8LeadF5", ENC_UTF8, {0xF5, 0x80, 0x80, 0x80}, ENC_UTF16LE},
    {"Utf8BadContinuation", ENC_UTF8, {0xE8, 0x41, 0xA8}, ENC_SHIFT_JIS},
    {"Utf8LoneContinuation", ENC_UTF8, {'a', 0xA8}, ENC_UTF8},
    {"Utf8CutOff", ENC_UTF8, {'a', 0xE8, 0xA1}, ENC_UTF16LE},
    {"Utf8EmojiToSjis", ENC_UTF8, {0xF0, 0x9F, 0x98, 0x80}, ENC_SHIFT_JIS},
    {"Utf8EmojiToEuc", ENC_UTF8, {0xF0, 0x9F, 0x98, 0x80}, ENC_EUC_JP},
    // UTF-16
    {"Utf16LoneHighAtEnd", ENC_UTF16LE, {0x41, 0x00, 0x3D, 0xD8}, ENC_UTF8},
    {"Utf16HighThenNoLow", ENC_UTF16LE, {0x3D, 0xD8, 0x41, 0x00}, ENC_UTF8},
    {"Utf16HighThenHigh", ENC_UTF16BE, {0xD8, 0x3D, 0xD8, 0x3D}, ENC_UTF16LE},
    {"Utf16LoneLow", ENC_UTF16LE, {0x00, 0xDE}, ENC_UTF32LE},
    {"Utf16LoneLowCopy", ENC_UTF16BE, {0xDE, 0x00}, ENC_UTF16BE},
    {"Utf16OddLength", ENC_UTF16LE, {0x41, 0x00, 0x42}, ENC_UTF8},
    // UTF-32
    {"Utf32BeyondUnicode", ENC_UTF32LE, {0x00, 0x00, 0x11, 0x00}, ENC_UTF8},
    {"Utf32TopBitSet", ENC_UTF32BE, {0x80, 0x00, 0x00, 0x41}, ENC_UTF16BE},
    {"Utf32Surrogate", ENC_UTF32LE, {0x00, 0xD8, 0x00, 0x00}, ENC_UTF16LE},
    {"Utf32SurrogateCopy", ENC_UTF32BE, {0x00, 0x00, 0xDF, 0xFF}, ENC_UTF32BE},
    {"Utf32CutOff", ENC_UTF32LE, {0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, ENC_UTF8},
};

class BadInputTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInputTest, FailsAndLeavesTheBufferAsItWas) {
  const BadCase& c = GetParam();
  Output out;
  const Bytes before = out.storage;
  EXPECT_FALSE(Convert(&out, c.to, c.in, c.from));
  EXPECT_EQ(out.buffer.length, 2u);
  EXPECT_EQ(out.storage, before);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputTest, ::testing::ValuesIn(kBadCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

// --- Room in the output ----------------------------------------------------

TEST(ConvertRoom, AResultThatFitsExactlyIsAppended) {
  // ｱ is one Shift_JIS byte and three UTF-8 bytes.
  Output out(2 + 3 + 2);
  ASSERT_TRUE(Convert(&out, ENC_UTF8, {0xB1, 'a', 'b'}, ENC_SHIFT_JIS));
  EXPECT_EQ(out.Appended(), (Bytes{0xEF, 0xBD, 0xB1, 'a', 'b'}));
}

TEST(ConvertRoom, AResultOneByteTooLongAppendsNothing) {
  Output out(2 + 3 + 1);
  const Bytes before = out.storage;
  EXPECT_FALSE(Convert(&out, ENC_UTF8, {0xB1, 'a', 'b'}, ENC_SHIFT_JIS));
  EXPECT_EQ(out.buffer.length, 2u);
  EXPECT_EQ(out.storage, before);
}

TEST(ConvertRoom, AnUnknownEncodingFails) {
  Output out;
  const auto unknown = static_cast<TextEncoding>(kEncodingCount);
  EXPECT_FALSE(Convert(&out, unknown, {'a'}, ENC_UTF8));
  EXPECT_FALSE(Convert(&out, ENC_UTF8, {'a'}, unknown));
  EXPECT_EQ(out.buffer.length, 2u);
}

// --- Single code points ----------------------------------------------------

struct CodePointCase {
  const char* name;
  TextEncoding encoding;
  std::uint32_t codePoint;
  Bytes bytes;  // empty: cannot be encoded
};
void PrintTo(const CodePointCase& c, std::ostream* os) { *os << c.name; }

const CodePointCase kCodePointCases[] = {
    {"SjisKanji", ENC_SHIFT_JIS, 0x8868, {0x95, 0x5C}},
    {"SjisBeyondBmp", ENC_SHIFT_JIS, 0x1F600, {}},
    {"SjisSurrogate", ENC_SHIFT_JIS, 0xD800, {}},
    {"EucKanji", ENC_EUC_JP, 0x6F22, {0xB4, 0xC1}},
    {"EucBeyondBmp", ENC_EUC_JP, 0x20000, {}},
    {"Utf8ThreeBytesFirst", ENC_UTF8, 0x800, {0xE0, 0xA0, 0x80}},
    {"Utf8FourBytesFirst", ENC_UTF8, 0x10000, {0xF0, 0x90, 0x80, 0x80}},
    {"Utf8Surrogate", ENC_UTF8, 0xDFFF, {}},
    {"Utf8BeyondUnicode", ENC_UTF8, 0x110000, {}},
    {"Utf16BeBeyondUnicode", ENC_UTF16BE, 0x110000, {}},
    {"Utf16LeFirstSupplementary", ENC_UTF16LE, 0x10000, {0x00, 0xD8, 0x00, 0xDC}},
    {"Utf32LeSurrogate", ENC_UTF32LE, 0xDC00, {}},
    {"Utf32BeLast", ENC_UTF32BE, 0x10FFFF, {0x00, 0x10, 0xFF, 0xFF}},
};

class CodePointTest : public ::testing::TestWithParam<CodePointCase> {};

TEST_P(CodePointTest, EncodesOrRefuses) {
  const CodePointCase& c = GetParam();
  std::uint8_t out[4] = {0, 0, 0, 0};
  const std::uint32_t n = EncodeCodePoint(c.encoding, c.codePoint, out);
  EXPECT_EQ(Bytes(out, out + n), c.bytes);
}

TEST_P(CodePointTest, DecodesWhatItEncodes) {
  const CodePointCase& c = GetParam();
  if (c.bytes.empty()) return;
  std::uint32_t codePoint = 0;
  ASSERT_TRUE(DecodeCodePoint(c.encoding, c.bytes.data(),
                              static_cast<std::uint32_t>(c.bytes.size()), &codePoint));
  EXPECT_EQ(codePoint, c.codePoint);
}

INSTANTIATE_TEST_SUITE_P(Cases, CodePointTest, ::testing::ValuesIn(kCodePointCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

struct WrongLengthCase {
  const char* name;
  TextEncoding encoding;
  Bytes bytes;
  std::uint32_t length;  // not what CharLength says
};
void PrintTo(const WrongLengthCase& c, std::ostream* os) { *os << c.name; }

const WrongLengthCase kWrongLengthCases[] = {
    {"Utf8Shorter", ENC_UTF8, {0xE8, 0xA1, 0xA8}, 2},
    {"Utf8Longer", ENC_UTF8, {0x41, 0x42}, 2},
    {"SjisLeadAlone", ENC_SHIFT_JIS, {0x95, 0x5C}, 1},
    {"Utf16HighAlone", ENC_UTF16LE, {0x3D, 0xD8, 0x00, 0xDE}, 2},
    {"EucThreeAsTwo", ENC_EUC_JP, {0x8F, 0xB0, 0xA1}, 2},
    {"Utf32Short", ENC_UTF32LE, {0x41, 0x00, 0x00, 0x00}, 3},
};

class DecodeLengthTest : public ::testing::TestWithParam<WrongLengthCase> {};

TEST_P(DecodeLengthTest, RefusesALengthTheFirstUnitDoesNotAnnounce) {
  const WrongLengthCase& c = GetParam();
  std::uint32_t codePoint = 0xFFFFFFFF;
  EXPECT_FALSE(DecodeCodePoint(c.encoding, c.bytes.data(), c.length, &codePoint));
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeLengthTest, ::testing::ValuesIn(kWrongLengthCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

}  // namespace
}  // namespace qvt
