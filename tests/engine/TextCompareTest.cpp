// Comparing texts byte by byte per character, folding only single-unit A-Z.
#include "TextCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qvt {
namespace {

using Bytes = std::vector<std::uint8_t>;

int Sign(int v) { return (v > 0) - (v < 0); }

// Compares exact-size heap copies, so that a read past a view is caught.
int Compare(const Bytes& a, const Bytes& b, TextEncoding e, bool ignoreCase) {
  const Bytes ca(a);
  const Bytes cb(b);
  return TextCompare(
      TextView{ca.empty() ? nullptr : ca.data(), static_cast<std::uint32_t>(ca.size())},
      TextView{cb.empty() ? nullptr : cb.data(), static_cast<std::uint32_t>(cb.size())}, e,
      ignoreCase);
}

struct CompareCase {
  const char* name;
  TextEncoding encoding;
  Bytes a;
  Bytes b;
  bool ignoreCase;
  int sign;  // of TextCompare(a, b)
};
void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }

const CompareCase kCompareCases[] = {
    {"EmptyEqual", ENC_SHIFT_JIS, {}, {}, false, 0},
    {"EmptyFirst", ENC_SHIFT_JIS, {}, {'a'}, false, -1},
    {"SameText", ENC_SHIFT_JIS, {'a', 'b'}, {'a', 'b'}, false, 0},
    {"PrefixFirst", ENC_SHIFT_JIS, {'a', 'b'}, {'a', 'b', 'c'}, false, -1},
    {"CaseMattersByDefault", ENC_SHIFT_JIS, {'A', 'B', 'C'}, {'a', 'b', 'c'}, false, -1},
    {"CaseIgnored", ENC_SHIFT_JIS, {'A', 'B', 'C'}, {'a', 'b', 'c'}, true, 0},
    {"CaseIgnoredThenDiffers", ENC_SHIFT_JIS, {'A', 'b'}, {'a', 'c'}, true, -1},
    // Folding goes to lowercase: '_' (0x5F) sorts before 'a' but after 'A'.
    {"FoldsToLowercase", ENC_SHIFT_JIS, {'_'}, {'A'}, true, -1},
    {"UnfoldedUppercaseFirst", ENC_SHIFT_JIS, {'_'}, {'A'}, false, 1},
    // The neighbours of A-Z and a-z are no letters.
    {"AtIsNoLetter", ENC_SHIFT_JIS, {'@'}, {'`'}, true, -1},
    {"BracketIsNoLetter", ENC_SHIFT_JIS, {'['}, {'{'}, true, -1},
    // 0x83 0x41 (ア) and 0x83 0x61 (ッ): the trail bytes look like 'A' and 'a'.
    {"SjisTrailByteDoesNotFold", ENC_SHIFT_JIS, {0x83, 0x41}, {0x83, 0x61}, true, -1},
    {"SjisTrailThenLetterFolds", ENC_SHIFT_JIS, {0x83, 0x41, 'X'}, {0x83, 0x41, 'x'}, true, 0},
    {"SjisBytesUnsigned", ENC_SHIFT_JIS, {0x95, 0x5C}, {'a'}, false, 1},
    {"Utf16LatinCapitalDoesNotFold", ENC_UTF16LE, {0xC1, 0x00}, {0xE1, 0x00}, true, -1},
    {"EucLetterFolds", ENC_EUC_JP, {0xC9, 0xBD, 'Q'}, {0xC9, 0xBD, 'q'}, true, 0},
    {"Utf8AccentedCapitalDoesNotFold", ENC_UTF8, {0xC3, 0x89}, {0xC3, 0xA9}, true, -1},
    {"Utf8LetterFolds", ENC_UTF8, {'V', 'M', 'D', 'K'}, {'v', 'm', 'd', 'k'}, true, 0},
    {"Utf16LeLetterFolds", ENC_UTF16LE, {'A', 0x00}, {'a', 0x00}, true, 0},
    // U+0141 and U+0161: the low bytes look like 'A' and 'a'.
    {"Utf16LeOnlyWholeUnitFolds", ENC_UTF16LE, {0x41, 0x01}, {0x61, 0x01}, true, -1},
    {"Utf16BeLetterFolds", ENC_UTF16BE, {0x00, 'Z'}, {0x00, 'z'}, true, 0},
    {"Utf16BeOnlyWholeUnitFolds", ENC_UTF16BE, {'A', 0x00}, {'a', 0x00}, true, -1},
    {"Utf16ComparesBytesNotUnits", ENC_UTF16LE, {0x00, 0x01}, {0x01, 0x00}, false, -1},
    {"Utf32LeLetterFolds", ENC_UTF32LE, {'M', 0, 0, 0}, {'m', 0, 0, 0}, true, 0},
    {"Utf32LeOnlyWholeUnitFolds", ENC_UTF32LE, {'M', 0, 1, 0}, {'m', 0, 1, 0}, true, -1},
    {"Utf32BeLetterFolds", ENC_UTF32BE, {0, 0, 0, 'M'}, {0, 0, 0, 'm'}, true, 0},
    {"Utf32BeOnlyWholeUnitFolds", ENC_UTF32BE, {0, 1, 0, 'M'}, {0, 1, 0, 'm'}, true, -1},
    // Broken text still compares, byte by byte, and nothing past it is read.
    {"SjisInvalidLeadThenLetter", ENC_SHIFT_JIS, {0x80, 'A'}, {0x80, 'a'}, true, 0},
    {"SjisLeadCutOffAtEnd", ENC_SHIFT_JIS, {'A', 0x95}, {'a', 0x95}, true, 0},
    {"SjisLeadCutOffDiffers", ENC_SHIFT_JIS, {'a', 0x95}, {'a', 0x96}, true, -1},
    {"Utf16OddByteAtEnd", ENC_UTF16LE, {'A', 0x00, 'B'}, {'a', 0x00, 'B'}, true, 0},
    {"Utf16PairCutOff", ENC_UTF16BE, {0xD8, 0x3D, 0xDE}, {0xD8, 0x3D, 0xDE}, false, 0},
    {"Utf32Fragment", ENC_UTF32LE, {'A', 0, 0}, {'A', 0, 1}, true, -1},
    // An encoding the engine does not know has no letters: bytes, unfolded.
    {"UnknownEncodingComparesBytes",
     static_cast<TextEncoding>(kEncodingCount),
     {'a', 'B'},
     {'a', 'b'},
     true,
     -1},
};

class TextCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(TextCompareTest, OrdersAsExpected) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(Sign(Compare(c.a, c.b, c.encoding, c.ignoreCase)), c.sign);
}

TEST_P(TextCompareTest, SwappingTheTextsTurnsTheOrder) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(Sign(Compare(c.b, c.a, c.encoding, c.ignoreCase)), -c.sign);
}

TEST_P(TextCompareTest, EqualsAgreesWithCompare) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(TextEquals(MakeView(c.a.data(), static_cast<std::uint32_t>(c.a.size())),
                       MakeView(c.b.data(), static_cast<std::uint32_t>(c.b.size())), c.encoding,
                       c.ignoreCase),
            c.sign == 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextCompareTest, ::testing::ValuesIn(kCompareCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

// --- Against an ASCII literal ----------------------------------------------

struct AsciiCase {
  const char* name;
  TextEncoding encoding;
  Bytes text;
  const char* literal;
  bool ignoreCase;
  bool equal;
};
void PrintTo(const AsciiCase& c, std::ostream* os) { *os << c.name; }

const AsciiCase kAsciiCases[] = {
    {"SjisSame", ENC_SHIFT_JIS, {'v', 'm', 'd', 'k'}, "vmdk", false, true},
    {"SjisCaseDiffers", ENC_SHIFT_JIS, {'V', 'M', 'D', 'K'}, "vmdk", false, false},
    {"SjisCaseIgnored", ENC_SHIFT_JIS, {'V', 'M', 'D', 'K'}, "vmdk", true, true},
    {"LiteralCaseIgnored", ENC_SHIFT_JIS, {'v', 'm', 'd', 'k'}, "VmDk", true, true},
    {"TextLonger", ENC_SHIFT_JIS, {'v', 'm', 'd', 'k', 'x'}, "vmdk", false, false},
    {"TextShorter", ENC_SHIFT_JIS, {'v', 'm', 'd'}, "vmdk", false, false},
    {"BothEmpty", ENC_UTF16LE, {}, "", false, true},
    {"EmptyLiteral", ENC_UTF16LE, {'a', 0}, "", false, false},
    // The trail byte 0x5C of 表 is no backslash.
    {"SjisTrailIsNoBackslash", ENC_SHIFT_JIS, {0x95, 0x5C}, "\\", false, false},
    {"SjisTrailAndLeadAreNoLetters",
     ENC_SHIFT_JIS,
     {0x83, 0x41},
     "\x83"
     "a",
     true,
     false},
    {"Utf16LeSame", ENC_UTF16LE, {'.', 0, '.', 0}, "..", false, true},
    {"Utf16LeByteOrderMatters", ENC_UTF16LE, {0, '.', 0, '.'}, "..", false, false},
    {"Utf16BeCaseIgnored", ENC_UTF16BE, {0, 'A', 0, 'b', 0, '.'}, "aB.", true, true},
    {"Utf16LeWideUnitIsNoLetter", ENC_UTF16LE, {'A', 0x01}, "a", true, false},
    {"Utf32BeCaseIgnored", ENC_UTF32BE, {0, 0, 0, 'X', 0, 0, 0, '1'}, "x1", true, true},
    {"Utf32LeFragment", ENC_UTF32LE, {'x', 0, 0}, "x", false, false},
    {"EucSame", ENC_EUC_JP, {'d', 'd', 'b'}, "ddb", false, true},
    // Only ASCII literals can be made in the view's encoding.
    {"NonAsciiLiteralMatchesNothing", ENC_UTF8, {0xC3, 0xA9}, "\xC3\xA9", false, false},
};

class TextEqualsAsciiTest : public ::testing::TestWithParam<AsciiCase> {};

TEST_P(TextEqualsAsciiTest, MatchesTheLiteralMadeInTheEncoding) {
  const AsciiCase& c = GetParam();
  const Bytes copy(c.text);
  const TextView view{copy.empty() ? nullptr : copy.data(),
                      static_cast<std::uint32_t>(copy.size())};
  EXPECT_EQ(TextEqualsAscii(view, c.encoding, c.literal, c.ignoreCase), c.equal);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextEqualsAsciiTest, ::testing::ValuesIn(kAsciiCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(TextEqualsAscii, ANullLiteralMatchesNothing) {
  EXPECT_FALSE(TextEqualsAscii(TextView{nullptr, 0}, ENC_UTF8, nullptr, false));
}

}  // namespace
}  // namespace qvt
