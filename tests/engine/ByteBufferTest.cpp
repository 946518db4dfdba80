// ByteBuffer never grows and PathBuffer keeps its own storage.
#include "ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace qvt {
namespace {

constexpr std::uint8_t kSentinel = 0xEE;

// A buffer over a vector whose every byte starts as kSentinel, holding
// `text` at first; the vector is exactly `capacity` long, so AddressSanitizer
// sees any write past the capacity.
struct Fixture {
  std::vector<std::uint8_t> storage;
  ByteBuffer buffer{};

  Fixture(std::uint32_t capacity, const std::string& text) : storage(capacity, kSentinel) {
    BufferInit(&buffer, storage.data(), capacity);
    EXPECT_TRUE(BufferAppend(&buffer, text.data(), static_cast<std::uint32_t>(text.size())));
  }
  std::string Text() const { return std::string(buffer.data, buffer.data + buffer.length); }
};

// --- Appending checks the room, and a failure changes nothing -------------

struct AppendCase {
  const char* name;
  std::uint32_t capacity;
  const char* before;
  std::uint32_t n;  // bytes appended, taken from kSource (or claimed, beyond it)
  bool ok;
};
void PrintTo(const AppendCase& c, std::ostream* os) { *os << c.name; }

constexpr char kSource[] = "0123456789";

const AppendCase kAppendCases[] = {
    {"IntoEmpty", 8, "", 5, true},
    {"FillsExactly", 8, "abc", 5, true},
    {"OneByteTooMany", 8, "abc", 6, false},
    {"NothingIntoFull", 4, "abcd", 0, true},
    {"NothingIntoZeroCapacity", 0, "", 0, true},
    {"OneIntoZeroCapacity", 0, "", 1, false},
    // length + n wraps to a small number: only a check written as
    // n <= capacity - length refuses it (and then never reads the source).
    {"SumWrapsAround", 16, "abcdefghij", 0xFFFFFFFFu - 5, false},
    {"HugeIntoEmpty", 16, "", 0xFFFFFFFFu, false},
};

class BufferAppendTest : public ::testing::TestWithParam<AppendCase> {};

TEST_P(BufferAppendTest, AppendsWhenItFitsElseLeavesEverythingAsItWas) {
  const AppendCase& c = GetParam();
  Fixture f(c.capacity, c.before);
  const std::vector<std::uint8_t> storageBefore = f.storage;
  const std::uint32_t lengthBefore = f.buffer.length;

  ASSERT_EQ(BufferAppend(&f.buffer, kSource, c.n), c.ok);

  if (c.ok) {
    EXPECT_EQ(f.Text(), std::string(c.before) + std::string(kSource, c.n));
  } else {
    EXPECT_EQ(f.buffer.length, lengthBefore);
    EXPECT_EQ(f.storage, storageBefore);
  }
  EXPECT_EQ(f.buffer.capacity, c.capacity);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferAppendTest, ::testing::ValuesIn(kAppendCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(BufferAppendForms, BufferAndViewAppendTheirBytesOrNothing) {
  Fixture source(8, "xyz");
  Fixture target(6, "ab");

  EXPECT_TRUE(BufferAppendBuffer(&target.buffer, source.buffer));
  EXPECT_EQ(target.Text(), "abxyz");
  EXPECT_FALSE(BufferAppendView(&target.buffer, BufferView(source.buffer)));
  EXPECT_EQ(target.Text(), "abxyz");
  EXPECT_TRUE(BufferAppendView(&target.buffer, MakeView("!", 1)));
  EXPECT_EQ(target.Text(), "abxyz!");
}

TEST(BufferAppendForms, ABufferCanAppendItself) {
  Fixture f(8, "abcd");
  EXPECT_TRUE(BufferAppendBuffer(&f.buffer, f.buffer));
  EXPECT_EQ(f.Text(), "abcdabcd");
  EXPECT_FALSE(BufferAppendBuffer(&f.buffer, f.buffer));
  EXPECT_EQ(f.Text(), "abcdabcd");
}

// --- Assigning empties first --------------------------------------------

struct AssignCase {
  const char* name;
  std::uint32_t capacity;
  const char* text;
  bool ok;
  const char* after;
};
void PrintTo(const AssignCase& c, std::ostream* os) { *os << c.name; }

const AssignCase kAssignCases[] = {
    {"ShorterText", 8, "xy", true, "xy"},
    {"FillsExactly", 4, "wxyz", true, "wxyz"},
    {"TooLongLeavesEmpty", 4, "vwxyz", false, ""},
    {"EmptyText", 4, "", true, ""},
};

class BufferAssignTest : public ::testing::TestWithParam<AssignCase> {};

TEST_P(BufferAssignTest, ReplacesTheTextOrEmptiesTheBuffer) {
  const AssignCase& c = GetParam();
  Fixture f(c.capacity, "abc");
  EXPECT_EQ(BufferAssign(&f.buffer, c.text, static_cast<std::uint32_t>(std::strlen(c.text))), c.ok);
  EXPECT_EQ(f.Text(), c.after);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferAssignTest, ::testing::ValuesIn(kAssignCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(BufferAssign, TakesASliceOfItsOwnText) {
  Fixture f(8, "abcdef");
  EXPECT_TRUE(BufferAssign(&f.buffer, f.buffer.data + 2, 3));
  EXPECT_EQ(f.Text(), "cde");
}

// --- Reset, fill and swap --------------------------------------------------

TEST(BufferFill, WritesOnlyPastTheLength) {
  Fixture f(6, "ab");
  BufferFill(&f.buffer, 0x00);
  EXPECT_EQ(f.storage, (std::vector<std::uint8_t>{'a', 'b', 0, 0, 0, 0}));
  EXPECT_EQ(f.buffer.length, 2u);

  Fixture full(2, "ab");
  BufferFill(&full.buffer, 0x00);
  EXPECT_EQ(full.storage, (std::vector<std::uint8_t>{'a', 'b'}));
}

TEST(BufferReset, EmptiesWithoutTouchingStorage) {
  Fixture f(4, "abc");
  BufferReset(&f.buffer);
  EXPECT_EQ(f.buffer.length, 0u);
  EXPECT_EQ(f.buffer.capacity, 4u);
  EXPECT_EQ(f.storage[0], 'a');
}

TEST(BufferSwap, ExchangesStorageLengthAndCapacity) {
  Fixture a(4, "ab");
  Fixture b(8, "wxyz1");
  BufferSwap(&a.buffer, &b.buffer);
  EXPECT_EQ(a.buffer.data, b.storage.data());
  EXPECT_EQ(a.buffer.capacity, 8u);
  EXPECT_EQ(a.Text(), "wxyz1");
  EXPECT_EQ(b.buffer.data, a.storage.data());
  EXPECT_EQ(b.buffer.capacity, 4u);
  EXPECT_EQ(b.Text(), "ab");
}

// --- Terminating writes the encoding's NUL behind the text -----------------

struct TerminateCase {
  TextEncoding encoding;
  std::uint32_t nulBytes;
};

const TerminateCase kTerminateCases[] = {
    {ENC_SHIFT_JIS, 1}, {ENC_EUC_JP, 1},  {ENC_UTF8, 1},    {ENC_UTF16LE, 2},
    {ENC_UTF16BE, 2},   {ENC_UTF32LE, 4}, {ENC_UTF32BE, 4},
};

class BufferTerminateTest : public ::testing::TestWithParam<TerminateCase> {};

TEST_P(BufferTerminateTest, WritesTheNulWithoutCountingIt) {
  const TerminateCase& c = GetParam();
  Fixture f(4 + c.nulBytes + 1, "abcd");
  ASSERT_TRUE(BufferTerminate(&f.buffer, c.encoding));
  EXPECT_EQ(f.buffer.length, 4u);
  for (std::uint32_t i = 0; i < c.nulBytes; ++i) EXPECT_EQ(f.storage[4 + i], 0) << i;
  EXPECT_EQ(f.storage[4 + c.nulBytes], kSentinel) << "wrote more than the NUL";
}

TEST_P(BufferTerminateTest, FailsWhenTheNulDoesNotFitAndWritesNothing) {
  const TerminateCase& c = GetParam();
  // Room for all but one byte of the NUL; the last case is a text that
  // exactly fills its buffer.
  for (std::uint32_t room = 0; room < c.nulBytes; ++room) {
    Fixture f(4 + room, "abcd");
    const std::vector<std::uint8_t> before = f.storage;
    EXPECT_FALSE(BufferTerminate(&f.buffer, c.encoding)) << "room " << room;
    EXPECT_EQ(f.storage, before);
    EXPECT_EQ(f.buffer.length, 4u);
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, BufferTerminateTest, ::testing::ValuesIn(kTerminateCases));

TEST(BufferTerminate, RefusesAnUnknownEncoding) {
  Fixture f(8, "ab");
  EXPECT_FALSE(BufferTerminate(&f.buffer, static_cast<TextEncoding>(kEncodingCount)));
  EXPECT_EQ(f.storage[2], kSentinel);
}

// --- PathBuffer ------------------------------------------------------------

std::vector<std::uint8_t> NulTerminated(std::uint32_t textBytes, std::uint32_t nulBytes) {
  std::vector<std::uint8_t> text(textBytes + nulBytes, 0);
  for (std::uint32_t i = 0; i < textBytes; ++i) text[i] = static_cast<std::uint8_t>('a' + i % 26);
  return text;
}

TEST(PathBuffer, StartsEmptyAndTerminatedOverItsOwnStorage) {
  PathBuffer p;
  EXPECT_TRUE(p.IsEmpty());
  EXPECT_EQ(p.buffer.data, p.storage);
  EXPECT_EQ(p.buffer.capacity, kPathBufferSize);
  EXPECT_STREQ(p.CString(), "");
}

TEST(PathBuffer, CopiesPointAtTheirOwnStorage) {
  PathBuffer original;
  ASSERT_TRUE(PathAssign(&original, "C:\\vm\\disk.vmdk", ENC_SHIFT_JIS));

  PathBuffer copy(original);
  EXPECT_EQ(copy.buffer.data, copy.storage);
  EXPECT_EQ(copy.buffer.length, original.buffer.length);
  EXPECT_STREQ(copy.CString(), "C:\\vm\\disk.vmdk");

  PathBuffer assigned;
  assigned = original;
  EXPECT_EQ(assigned.buffer.data, assigned.storage);
  EXPECT_STREQ(assigned.CString(), "C:\\vm\\disk.vmdk");

  // Changing a copy leaves the original alone.
  ASSERT_TRUE(BufferAppend(&copy.buffer, "x", 1));
  ASSERT_TRUE(BufferTerminate(&copy.buffer, ENC_SHIFT_JIS));
  EXPECT_STREQ(original.CString(), "C:\\vm\\disk.vmdk");
  EXPECT_STREQ(copy.CString(), "C:\\vm\\disk.vmdkx");
}

TEST(PathBuffer, SelfAssignmentKeepsTheText) {
  PathBuffer p;
  ASSERT_TRUE(PathAssign(&p, "a.vmdk", ENC_SHIFT_JIS));
  PathBuffer& same = p;
  p = same;
  EXPECT_EQ(p.buffer.data, p.storage);
  EXPECT_STREQ(p.CString(), "a.vmdk");
}

struct PathAssignCase {
  const char* name;
  TextEncoding encoding;
  std::uint32_t textBytes;
  bool ok;
};
void PrintTo(const PathAssignCase& c, std::ostream* os) { *os << c.name; }

const PathAssignCase kPathAssignCases[] = {
    {"ShiftJis519Fits", ENC_SHIFT_JIS, 519, true},
    {"ShiftJis520DoesNotFit", ENC_SHIFT_JIS, 520, false},
    {"Utf8Empty", ENC_UTF8, 0, true},
    {"Utf16With518Fits", ENC_UTF16LE, 518, true},
    {"Utf16With520DoesNotFit", ENC_UTF16BE, 520, false},
    {"Utf32With516Fits", ENC_UTF32LE, 516, true},
    {"Utf32With520DoesNotFit", ENC_UTF32BE, 520, false},
    {"FarTooLong", ENC_SHIFT_JIS, 5000, false},
};

class PathAssignTest : public ::testing::TestWithParam<PathAssignCase> {};

TEST_P(PathAssignTest, SetsAndTerminatesOrEmpties) {
  const PathAssignCase& c = GetParam();
  const std::uint32_t nul = UnitSize(c.encoding);
  const std::vector<std::uint8_t> text = NulTerminated(c.textBytes, nul);
  PathBuffer p;
  ASSERT_TRUE(PathAssign(&p, "old", ENC_SHIFT_JIS));

  ASSERT_EQ(PathAssign(&p, text.data(), c.encoding), c.ok);

  if (c.ok) {
    EXPECT_EQ(p.buffer.length, c.textBytes);
    EXPECT_EQ(std::memcmp(p.storage, text.data(), c.textBytes + nul), 0);
  } else {
    EXPECT_TRUE(p.IsEmpty());
    EXPECT_STREQ(p.CString(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PathAssignTest, ::testing::ValuesIn(kPathAssignCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(PathAssign, DoesNotReadPastWhatCouldFit) {
  // No NUL anywhere in the 520 bytes: the scan must stop at the buffer's
  // size instead of running off the end (AddressSanitizer watches).
  const std::vector<std::uint8_t> unterminated(kPathBufferSize, 'a');
  PathBuffer p;
  EXPECT_FALSE(PathAssign(&p, unterminated.data(), ENC_SHIFT_JIS));
  EXPECT_FALSE(PathAssign(&p, unterminated.data(), ENC_UTF16LE));
  EXPECT_FALSE(PathAssign(&p, unterminated.data(), ENC_UTF32BE));
  EXPECT_TRUE(p.IsEmpty());
}

TEST(PathAssign, RefusesANullText) {
  PathBuffer p;
  ASSERT_TRUE(PathAssign(&p, "old", ENC_SHIFT_JIS));
  EXPECT_FALSE(PathAssign(&p, nullptr, ENC_SHIFT_JIS));
  EXPECT_TRUE(p.IsEmpty());
}

}  // namespace
}  // namespace qvt
