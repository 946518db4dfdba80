// Formatted text into a fixed buffer: conversions, encodings, and what is
// left in the buffer when a call fails.
#include "TextFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qvt {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSentinel = 0xEE;

Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A buffer over exactly `capacity` sentinel bytes.
struct Output {
  std::vector<std::uint8_t> storage;
  ByteBuffer buffer{};

  explicit Output(std::uint32_t capacity = 128) : storage(capacity, kSentinel) {
    BufferInit(&buffer, storage.data(), capacity);
  }
  Bytes Text() const { return Bytes(buffer.data, buffer.data + buffer.length); }
};

// Each case makes one call into `out`; captureless lambdas keep the
// arguments of every call next to the format they belong to.
using Call = bool (*)(ByteBuffer* out);

struct FormatCase {
  const char* name;
  Call call;
  TextEncoding outEnc;
  Bytes expected;
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

const std::uint8_t kUtf16Ab[] = {'a', 0, 'b', 0, 0, 0};
const std::uint8_t kUtf8Hyou[] = {0xE8, 0xA1, 0xA8, 0};
const std::uint8_t kSjisHyouSo[] = {0x95, 0x5C, 0x83, 0x5C};
// "表=%u" in UTF-16LE.
const std::uint8_t kUtf16Format[] = {0x68, 0x88, '=', 0, '%', 0, 'u', 0, 0, 0};
// U+2541 then U+3000: bytes 1 and 2 are "%" and a zero byte, which only a
// scan that ignores unit boundaries would take for a "%".
const std::uint8_t kUtf16Misaligned[] = {0x41, 0x25, 0x00, 0x30, 0, 0};

const FormatCase kFormatCases[] = {
    {"PlainText",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "plain", ENC_SHIFT_JIS); },
     ENC_SHIFT_JIS, Ascii("plain")},
    {"EmptyFormat",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF16LE, "", ENC_SHIFT_JIS); },
     ENC_UTF16LE,
     {}},
    {"Percent", [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "100%%", ENC_SHIFT_JIS); },
     ENC_SHIFT_JIS, Ascii("100%")},
    {"WidthPadsWithBlanks",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%5u", ENC_SHIFT_JIS, 42u); },
     ENC_SHIFT_JIS, Ascii("   42")},
    {"ZeroFlagPadsWithZeros",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%05u", ENC_SHIFT_JIS, 42u); },
     ENC_SHIFT_JIS, Ascii("00042")},
    {"ZeroPaddedHex",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%08x", ENC_SHIFT_JIS, 0x1234u); },
     ENC_SHIFT_JIS, Ascii("00001234")},
    {"WidthOfTenZeroPadded",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%010u", ENC_SHIFT_JIS, 7u); },
     ENC_SHIFT_JIS, Ascii("0000000007")},
    {"WidthSmallerThanNumber",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%2u", ENC_SHIFT_JIS, 12345u); },
     ENC_SHIFT_JIS, Ascii("12345")},
    {"LowercaseHex",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%x", ENC_SHIFT_JIS, 0xDEADBEEFu); },
     ENC_SHIFT_JIS, Ascii("deadbeef")},
    {"UppercaseHex",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%X", ENC_SHIFT_JIS, 0xDEADBEEFu); },
     ENC_SHIFT_JIS, Ascii("DEADBEEF")},
    {"UnsignedMaximum",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%u", ENC_SHIFT_JIS, UINT32_MAX); },
     ENC_SHIFT_JIS, Ascii("4294967295")},
    {"UnsignedZero",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%x", ENC_SHIFT_JIS, 0u); },
     ENC_SHIFT_JIS, Ascii("0")},
    {"SignedMinimum",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%d", ENC_SHIFT_JIS, INT32_MIN); },
     ENC_SHIFT_JIS, Ascii("-2147483648")},
    {"SignedI", [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%i", ENC_SHIFT_JIS, -7); },
     ENC_SHIFT_JIS, Ascii("-7")},
    {"SignedIgnoresWidth",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "[%5d][%05d]", ENC_SHIFT_JIS, 42, -3);
     },
     ENC_SHIFT_JIS, Ascii("[42][-3]")},
    {"Signed64Minimum",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "%w", ENC_SHIFT_JIS, std::int64_t{INT64_MIN});
     },
     ENC_SHIFT_JIS, Ascii("-9223372036854775808")},
    {"Signed64Maximum",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "%w", ENC_SHIFT_JIS, std::int64_t{INT64_MAX});
     },
     ENC_SHIFT_JIS, Ascii("9223372036854775807")},
    // The 64-bit argument is taken whole: the one after it comes out right.
    {"Signed64ThenUnsigned",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "%w|%u", ENC_SHIFT_JIS, std::int64_t{-1}, 7u);
     },
     ENC_SHIFT_JIS, Ascii("-1|7")},
    {"Character", [](ByteBuffer* b) { return TextFormat(b, ENC_UTF8, "<%c>", ENC_UTF8, 'A'); },
     ENC_UTF8, Ascii("<A>")},
    {"CharacterLastAscii",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF8, "%c", ENC_UTF8, 127u); },
     ENC_UTF8,
     {0x7F}},
    {"StringFromUtf16",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "[%s]", ENC_SHIFT_JIS, kUtf16Ab, ENC_UTF16LE);
     },
     ENC_SHIFT_JIS, Ascii("[ab]")},
    {"StringKanjiIntoShiftJis",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "%s", ENC_SHIFT_JIS, kUtf8Hyou, ENC_UTF8);
     },
     ENC_SHIFT_JIS,
     {0x95, 0x5C}},
    {"ViewFromShiftJisIntoUtf16",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_UTF16LE, "%t", ENC_SHIFT_JIS, MakeView(kSjisHyouSo, 4),
                         ENC_SHIFT_JIS);
     },
     ENC_UTF16LE,
     {0x68, 0x88, 0xBD, 0x30}},
    // The view is taken whole: the conversion after it gets its own argument.
    {"ViewThenUnsigned",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "%t%u", ENC_SHIFT_JIS, MakeView("ab", 2), ENC_UTF8, 9u);
     },
     ENC_SHIFT_JIS, Ascii("ab9")},
    {"Utf16FormatIntoShiftJis",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, kUtf16Format, ENC_UTF16LE, 42u); },
     ENC_SHIFT_JIS,
     {0x95, 0x5C, '=', '4', '2'}},
    {"ShiftJisFormatIntoUtf16",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF16LE, "\x95\x5C=%u", ENC_SHIFT_JIS, 42u); },
     ENC_UTF16LE,
     {0x68, 0x88, '=', 0, '4', 0, '2', 0}},
    {"Utf32BeOutput",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF32BE, "%X", ENC_SHIFT_JIS, 0xABu); },
     ENC_UTF32BE,
     {0, 0, 0, 'A', 0, 0, 0, 'B'}},
    {"Utf16ScannedByUnits",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF16LE, kUtf16Misaligned, ENC_UTF16LE); },
     ENC_UTF16LE,
     {0x41, 0x25, 0x00, 0x30}},
    {"Mixed",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_UTF8, "%s-%03u.%s", ENC_UTF8, "disk", ENC_SHIFT_JIS, 7u, "vmdk",
                         ENC_UTF8);
     },
     ENC_UTF8, Ascii("disk-007.vmdk")},
};

class TextFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(TextFormatTest, AppendsTheTextAndTerminatesIt) {
  const FormatCase& c = GetParam();
  Output out;
  ASSERT_TRUE(c.call(&out.buffer));
  EXPECT_EQ(out.Text(), c.expected);
  const std::uint32_t nul = UnitSize(c.outEnc);
  for (std::uint32_t i = 0; i < nul; ++i) EXPECT_EQ(out.storage[c.expected.size() + i], 0) << i;
  EXPECT_EQ(out.storage[c.expected.size() + nul], kSentinel) << "wrote past the NUL";
}

TEST_P(TextFormatTest, AppendsBehindWhatIsThere) {
  const FormatCase& c = GetParam();
  Output out;
  ASSERT_TRUE(BufferAppend(&out.buffer, "pre", 3));
  ASSERT_TRUE(c.call(&out.buffer));
  Bytes expected = Ascii("pre");
  expected.insert(expected.end(), c.expected.begin(), c.expected.end());
  EXPECT_EQ(out.Text(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextFormatTest, ::testing::ValuesIn(kFormatCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

// --- Failures keep what was appended before them ---------------------------

struct FailureCase {
  const char* name;
  Call call;
  Bytes kept;  // the buffer's text after the failed call
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const std::uint8_t kBadUtf8[] = {'o', 'k', 0xC0, 0xAF, 0};
const std::uint8_t kEmoji[] = {0xF0, 0x9F, 0x98, 0x80, 0};

const FailureCase kFailureCases[] = {
    {"CharacterAbove127",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "ab%c", ENC_SHIFT_JIS, 200u); },
     Ascii("ab")},
    {"Float",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "x%fy", ENC_SHIFT_JIS, 1.5); },
     Ascii("x")},
    {"FailsAfterEarlierConversions",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "ab%uc%g", ENC_SHIFT_JIS, 5u, 1.0); },
     Ascii("ab5c")},
    {"EndsInsideConversion",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "abc%05", ENC_SHIFT_JIS); },
     Ascii("abc")},
    {"EndsAfterPercent",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "abc%", ENC_SHIFT_JIS); },
     Ascii("abc")},
    {"MinusFlag",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%-5u", ENC_SHIFT_JIS, 1u); },
     {}},
    {"Precision",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%5.2u", ENC_SHIFT_JIS, 1u); },
     {}},
    {"LengthModifier",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%lu", ENC_SHIFT_JIS, 1u); },
     {}},
    {"FlagAfterWidth",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%5-u", ENC_SHIFT_JIS, 1u); },
     {}},
    {"WidthOverflows",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%99999999999u", ENC_SHIFT_JIS, 1u); },
     {}},
    {"WidthBeyondRoom",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%4000000000u", ENC_SHIFT_JIS, 1u); },
     {}},
    {"NonAsciiInsideConversion",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%5\x95\x5Cu", ENC_SHIFT_JIS, 1u); },
     {}},
    {"NullString",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "a%s", ENC_SHIFT_JIS, static_cast<const void*>(nullptr),
                         ENC_UTF8);
     },
     Ascii("a")},
    {"StringOfUnknownEncoding",
     [](ByteBuffer* b) { return TextFormat(b, ENC_SHIFT_JIS, "%s", ENC_SHIFT_JIS, "x", 9u); },
     {}},
    {"StringMalformed",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "a%s", ENC_SHIFT_JIS, kBadUtf8, ENC_UTF8);
     },
     Ascii("a")},
    {"StringNotRepresentable",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_SHIFT_JIS, "a%s", ENC_SHIFT_JIS, kEmoji, ENC_UTF8);
     },
     Ascii("a")},
    {"ViewCutOff",
     [](ByteBuffer* b) {
       return TextFormat(b, ENC_UTF8, "a%t", ENC_UTF8, MakeView(kSjisHyouSo, 3), ENC_SHIFT_JIS);
     },
     Ascii("a")},
    {"MalformedFormat",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF8, "a\xC0\xAF", ENC_UTF8); },
     {}},
    {"UnknownOutputEncoding",
     [](ByteBuffer* b) { return TextFormat(b, static_cast<TextEncoding>(7), "a", ENC_UTF8); },
     {}},
    {"UnknownFormatEncoding",
     [](ByteBuffer* b) { return TextFormat(b, ENC_UTF8, "a", static_cast<TextEncoding>(7)); },
     {}},
    {"NullFormat", [](ByteBuffer* b) { return TextFormat(b, ENC_UTF8, nullptr, ENC_UTF8); }, {}},
};

class TextFormatFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(TextFormatFailureTest, FailsKeepingWhatCameBefore) {
  const FailureCase& c = GetParam();
  Output out;
  EXPECT_FALSE(c.call(&out.buffer));
  EXPECT_EQ(out.Text(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextFormatFailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(TextFormatFailure, NullBufferFails) {
  EXPECT_FALSE(TextFormat(nullptr, ENC_UTF8, "a", ENC_UTF8));
}

// Every letter of the set that ends a conversion but is not implemented.
class UnsupportedLetterTest : public ::testing::TestWithParam<char> {};

TEST_P(UnsupportedLetterTest, FailsTheCall) {
  const std::string format = std::string("ab%") + GetParam() + "cd";
  Output out;
  EXPECT_FALSE(TextFormat(&out.buffer, ENC_UTF8, format.c_str(), ENC_UTF8, 0u, 0u));
  EXPECT_EQ(out.Text(), Ascii("ab"));
}

INSTANTIATE_TEST_SUITE_P(Letters, UnsupportedLetterTest,
                         ::testing::Values('C', 'o', 'e', 'E', 'f', 'F', 'g', 'G', 'a', 'A', 'S',
                                           'p'),
                         [](const auto& tp) { return std::string(1, tp.param); });

// --- Room for the text and its terminator ----------------------------------

struct RoomCase {
  const char* name;
  TextEncoding outEnc;
  std::uint32_t capacity;
  bool ok;
  std::uint32_t length;  // after the call
};
void PrintTo(const RoomCase& c, std::ostream* os) { *os << c.name; }

// "ab%u" of 12: four characters, then the NUL.
const RoomCase kRoomCases[] = {
    {"RoomForTextAndNul", ENC_SHIFT_JIS, 5, true, 4},
    {"TextFillsBufferNulDoesNotFit", ENC_SHIFT_JIS, 4, false, 4},
    {"NumberDoesNotFit", ENC_SHIFT_JIS, 3, false, 2},
    {"Utf16RoomForTextAndNul", ENC_UTF16LE, 10, true, 8},
    {"Utf16HalfANul", ENC_UTF16LE, 9, false, 8},
    {"Utf32NulDoesNotFit", ENC_UTF32BE, 19, false, 16},
    {"NothingFits", ENC_UTF32LE, 0, false, 0},
};

class TextFormatRoomTest : public ::testing::TestWithParam<RoomCase> {};

TEST_P(TextFormatRoomTest, NeedsRoomForTheTerminatorToo) {
  const RoomCase& c = GetParam();
  Output out(c.capacity);
  EXPECT_EQ(TextFormat(&out.buffer, c.outEnc, "ab%u", ENC_SHIFT_JIS, 12u), c.ok);
  EXPECT_EQ(out.buffer.length, c.length);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextFormatRoomTest, ::testing::ValuesIn(kRoomCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(TextFormatRoom, APaddedNumberThatDoesNotFitAppendsNothing) {
  Output out(8);
  const Bytes before = out.storage;
  EXPECT_FALSE(TextFormat(&out.buffer, ENC_SHIFT_JIS, "ab%7u", ENC_SHIFT_JIS, 1u));
  EXPECT_EQ(out.Text(), Ascii("ab"));
  EXPECT_TRUE(std::equal(before.begin() + 2, before.end(), out.storage.begin() + 2));
}

// --- The va_list form ------------------------------------------------------

bool FormatThroughV(ByteBuffer* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = TextFormatV(out, ENC_UTF16BE, format, ENC_UTF8, args);
  va_end(args);
  return ok;
}

TEST(TextFormatV, TakesItsArgumentsFromTheList) {
  Output out;
  ASSERT_TRUE(FormatThroughV(&out.buffer, "%u%s", 3u, "z", ENC_UTF8));
  EXPECT_EQ(out.Text(), (Bytes{0, '3', 0, 'z'}));
}

}  // namespace
}  // namespace qvt
