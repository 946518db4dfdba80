// Units, character lengths from the first unit, ASCII characters and NUL
// scanning in every engine encoding.
#include "TextEncoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qvt {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(UnitSize, IsOneTwoOrFourBytes) {
  const std::uint32_t expected[] = {1, 1, 1, 2, 2, 4, 4};
  for (std::uint32_t e = 0; e < kEncodingCount; ++e) {
    EXPECT_EQ(UnitSize(static_cast<TextEncoding>(e)), expected[e]) << "encoding " << e;
  }
  EXPECT_EQ(UnitSize(static_cast<TextEncoding>(kEncodingCount)), 0u);
}

// --- Character length from the first unit ---------------------------------

struct LengthCase {
  const char* name;
  TextEncoding encoding;
  Bytes bytes;  // exactly the available bytes (a heap copy of this size is judged)
  std::uint32_t expected;
};
void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

const LengthCase kLengthCases[] = {
    // Shift_JIS
    {"SjisAscii", ENC_SHIFT_JIS, {0x7F}, 1},
    {"Sjis80Invalid", ENC_SHIFT_JIS, {0x80, 0x40}, 0},
    {"Sjis81Lead", ENC_SHIFT_JIS, {0x81, 0x40}, 2},
    {"Sjis9FLead", ENC_SHIFT_JIS, {0x9F, 0xFC}, 2},
    {"SjisA0Invalid", ENC_SHIFT_JIS, {0xA0, 0x40}, 0},
    {"SjisA1HalfWidth", ENC_SHIFT_JIS, {0xA1, 0x40}, 1},
    {"SjisDFHalfWidth", ENC_SHIFT_JIS, {0xDF}, 1},
    {"SjisE0Lead", ENC_SHIFT_JIS, {0xE0, 0x40}, 2},
    {"SjisFCLead", ENC_SHIFT_JIS, {0xFC, 0x40}, 2},
    {"SjisFDInvalid", ENC_SHIFT_JIS, {0xFD, 0x40}, 0},
    {"SjisFFInvalid", ENC_SHIFT_JIS, {0xFF, 0x40}, 0},
    {"SjisLeadCutOff", ENC_SHIFT_JIS, {0x95}, 0},
    // EUC-JP
    {"EucAscii", ENC_EUC_JP, {0x41}, 1},
    {"Euc80Invalid", ENC_EUC_JP, {0x80, 0xA1}, 0},
    {"Euc8DInvalid", ENC_EUC_JP, {0x8D, 0xA1}, 0},
    {"Euc8EHalfWidth", ENC_EUC_JP, {0x8E, 0xB1}, 2},
    {"Euc8FThreeBytes", ENC_EUC_JP, {0x8F, 0xA1, 0xA1}, 3},
    {"Euc8FCutOff", ENC_EUC_JP, {0x8F, 0xA1}, 0},
    {"Euc90Invalid", ENC_EUC_JP, {0x90, 0xA1}, 0},
    {"EucA0Invalid", ENC_EUC_JP, {0xA0, 0xA1}, 0},
    {"EucA1Lead", ENC_EUC_JP, {0xA1, 0xA1}, 2},
    {"EucFELead", ENC_EUC_JP, {0xFE, 0xFE}, 2},
    {"EucFFInvalid", ENC_EUC_JP, {0xFF, 0xA1}, 0},
    {"EucLeadCutOff", ENC_EUC_JP, {0xC9}, 0},
    // UTF-8
    {"Utf8Ascii", ENC_UTF8, {0x7F}, 1},
    {"Utf8ContinuationFirst", ENC_UTF8, {0x80, 0x80}, 0},
    {"Utf8C0Invalid", ENC_UTF8, {0xC0, 0x80}, 0},
    {"Utf8C1Invalid", ENC_UTF8, {0xC1, 0x80}, 0},
    {"Utf8C2Two", ENC_UTF8, {0xC2, 0x80}, 2},
    {"Utf8DFTwo", ENC_UTF8, {0xDF, 0xBF}, 2},
    {"Utf8E0Three", ENC_UTF8, {0xE0, 0xA0, 0x80}, 3},
    {"Utf8EFThree", ENC_UTF8, {0xEF, 0xBF, 0xBF}, 3},
    {"Utf8F0Four", ENC_UTF8, {0xF0, 0x90, 0x80, 0x80}, 4},
    {"Utf8F4Four", ENC_UTF8, {0xF4, 0x8F, 0xBF, 0xBF}, 4},
    {"Utf8F5Invalid", ENC_UTF8, {0xF5, 0x80, 0x80, 0x80}, 0},
    {"Utf8FFInvalid", ENC_UTF8, {0xFF}, 0},
    {"Utf8ThreeCutOff", ENC_UTF8, {0xE8, 0xA1}, 0},
    // UTF-16: the unit is read in the encoding's byte order
    {"Utf16LeBmp", ENC_UTF16LE, {0x41, 0x00}, 2},
    {"Utf16LeHighSurrogate", ENC_UTF16LE, {0x3D, 0xD8, 0x00, 0xDE}, 4},
    {"Utf16LeLastHighSurrogate", ENC_UTF16LE, {0xFF, 0xDB, 0xFF, 0xDF}, 4},
    {"Utf16LeLowSurrogateFirst", ENC_UTF16LE, {0x00, 0xDC, 0x00, 0xD8}, 2},
    {"Utf16LeByteOrderMatters", ENC_UTF16LE, {0xD8, 0x3D, 0xDE, 0x00}, 2},
    {"Utf16LePairCutOff", ENC_UTF16LE, {0x3D, 0xD8, 0x00}, 0},
    {"Utf16LeHalfUnit", ENC_UTF16LE, {0x41}, 0},
    {"Utf16BeHighSurrogate", ENC_UTF16BE, {0xD8, 0x3D, 0xDE, 0x00}, 4},
    {"Utf16BeByteOrderMatters", ENC_UTF16BE, {0x3D, 0xD8, 0x00, 0xDE}, 2},
    {"Utf16BePairCutOff", ENC_UTF16BE, {0xDB, 0xFF}, 0},
    // UTF-32
    {"Utf32LeUnit", ENC_UTF32LE, {0x41, 0x00, 0x00, 0x00, 0x42}, 4},
    {"Utf32LeCutOff", ENC_UTF32LE, {0x41, 0x00, 0x00}, 0},
    {"Utf32BeUnit", ENC_UTF32BE, {0x00, 0x01, 0xF6, 0x00}, 4},
    {"Utf32BeCutOff", ENC_UTF32BE, {0x00}, 0},
    // nothing available
    {"Utf8Nothing", ENC_UTF8, {}, 0},
    {"Utf32Nothing", ENC_UTF32LE, {}, 0},
};

class CharLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(CharLengthTest, JudgesTheFirstUnitWithinTheAvailableBytes) {
  const LengthCase& c = GetParam();
  // An exact-size heap copy, so that a look past `available` is caught.
  const std::vector<std::uint8_t> copy(c.bytes);
  const std::uint8_t* p = copy.empty() ? nullptr : copy.data();
  EXPECT_EQ(CharLength(c.encoding, p, static_cast<std::uint32_t>(copy.size())), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CharLengthTest, ::testing::ValuesIn(kLengthCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(CharLength, UnknownEncodingStartsNothing) {
  const std::uint8_t a[4] = {'a', 0, 0, 0};
  EXPECT_EQ(CharLength(static_cast<TextEncoding>(kEncodingCount), a, 4), 0u);
}

// --- ASCII characters in each encoding -------------------------------------

struct AsciiCase {
  TextEncoding encoding;
  Bytes backslash;  // '\' as that encoding writes it
};

const AsciiCase kAsciiCases[] = {
    {ENC_SHIFT_JIS, {0x5C}},
    {ENC_EUC_JP, {0x5C}},
    {ENC_UTF8, {0x5C}},
    {ENC_UTF16LE, {0x5C, 0x00}},
    {ENC_UTF16BE, {0x00, 0x5C}},
    {ENC_UTF32LE, {0x5C, 0x00, 0x00, 0x00}},
    {ENC_UTF32BE, {0x00, 0x00, 0x00, 0x5C}},
};

class AsciiCharTest : public ::testing::TestWithParam<AsciiCase> {};

TEST_P(AsciiCharTest, EncodesInTheEncodingsByteOrder) {
  const AsciiCase& c = GetParam();
  std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const std::uint32_t n = EncodeAscii(c.encoding, '\\', out);
  EXPECT_EQ(Bytes(out, out + n), c.backslash);
}

TEST_P(AsciiCharTest, KnowsTheCharactersPathsAndLinesAreMadeOf) {
  const AsciiCase& c = GetParam();
  // The backslash pattern with its 0x5C swapped for each character.
  for (const char ch : {'\0', '\r', '\n', '\\', '/', '.'}) {
    Bytes expected = c.backslash;
    for (auto& b : expected) b = b == 0x5C ? static_cast<std::uint8_t>(ch) : b;
    std::uint8_t out[4];
    ASSERT_EQ(EncodeAscii(c.encoding, ch, out), expected.size());
    EXPECT_EQ(Bytes(out, out + expected.size()), expected) << int(ch);
    EXPECT_TRUE(
        IsAsciiChar(c.encoding, expected.data(), static_cast<std::uint32_t>(expected.size()), ch));
  }
}

TEST_P(AsciiCharTest, RecognisesOnlyTheExactUnit) {
  const AsciiCase& c = GetParam();
  const Bytes& bs = c.backslash;
  const auto n = static_cast<std::uint32_t>(bs.size());
  EXPECT_TRUE(IsAsciiChar(c.encoding, bs.data(), n, '\\'));
  EXPECT_FALSE(IsAsciiChar(c.encoding, bs.data(), n, '/'));
  Bytes longer = bs;
  longer.push_back(0);
  EXPECT_FALSE(IsAsciiChar(c.encoding, longer.data(), n + 1, '\\'));
  if (n > 1) {
    EXPECT_FALSE(IsAsciiChar(c.encoding, bs.data(), n - 1, '\\'));
    const Bytes reversed(bs.rbegin(), bs.rend());  // the other byte order
    EXPECT_FALSE(IsAsciiChar(c.encoding, reversed.data(), n, '\\'));
  }
}

TEST_P(AsciiCharTest, RefusesCharactersBeyondAscii) {
  std::uint8_t out[4];
  EXPECT_EQ(EncodeAscii(GetParam().encoding, static_cast<char>(0x80), out), 0u);
  const std::uint8_t high[4] = {0x80, 0, 0, 0};
  EXPECT_FALSE(IsAsciiChar(GetParam().encoding, high, 1, static_cast<char>(0x80)));
}

INSTANTIATE_TEST_SUITE_P(Encodings, AsciiCharTest, ::testing::ValuesIn(kAsciiCases));

// --- NUL-terminated length reads whole units -------------------------------

struct NulCase {
  const char* name;
  TextEncoding encoding;
  Bytes text;  // includes the NUL
  std::uint32_t expected;
};
void PrintTo(const NulCase& c, std::ostream* os) { *os << c.name; }

const NulCase kNulCases[] = {
    {"SjisEmpty", ENC_SHIFT_JIS, {0x00}, 0},
    {"SjisKanji", ENC_SHIFT_JIS, {0x95, 0x5C, 0x41, 0x00}, 3},
    {"Utf16Empty", ENC_UTF16LE, {0x00, 0x00}, 0},
    {"Utf16ZeroByteInsideAUnit", ENC_UTF16LE, {0x00, 0x30, 0x41, 0x00, 0x00, 0x00}, 4},
    // Zero bytes at 1 and 2 straddle two units and are no NUL.
    {"Utf16ZeroPairAcrossUnits", ENC_UTF16BE, {0x30, 0x00, 0x00, 0x41, 0x00, 0x00}, 4},
    {"Utf32ZeroBytesInsideUnit", ENC_UTF32LE, {0x00, 0x00, 0x01, 0x00, 0, 0, 0, 0}, 4},
    {"Utf32ZeroRunAcrossUnits",
     ENC_UTF32BE,
     {0x00, 0x00, 0x00, 0x41, 0, 0, 0, 0x42, 0, 0, 0, 0},
     8},
};

class NulTerminatedLengthTest : public ::testing::TestWithParam<NulCase> {};

TEST_P(NulTerminatedLengthTest, CountsBytesBeforeTheNulUnit) {
  const NulCase& c = GetParam();
  const Bytes copy(c.text);
  EXPECT_EQ(NulTerminatedLength(copy.data(), c.encoding), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, NulTerminatedLengthTest, ::testing::ValuesIn(kNulCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

}  // namespace
}  // namespace qvt
