#include "TextForms.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace qvt {
namespace {

struct Utf8Case {
  std::wstring text;
  std::string utf8;
};

TEST(WideToUtf8, EncodesOneToFourByteSequences) {
  const Utf8Case cases[] = {
      {L"", ""},
      {L"A~", "A~"},
      {std::wstring(1, wchar_t(0x00E9)), "\xC3\xA9"},
      {std::wstring(1, wchar_t(0x07FF)), "\xDF\xBF"},
      {L"仮想", "\xE4\xBB\xAE\xE6\x83\xB3"},
      {std::wstring(1, wchar_t(0xFFFD)), "\xEF\xBF\xBD"},
      // U+1F600 as the surrogate pair D83D DE00
      {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, "\xF0\x9F\x98\x80"},
      {std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}, "\xF4\x8F\xBF\xBF"},
  };
  for (const Utf8Case& c : cases) EXPECT_EQ(WideToUtf8(c.text), c.utf8);
}

TEST(WideToUtf8, LoneSurrogatesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(WideToUtf8(std::wstring{L'a', wchar_t(0xD800)}), "a" + fffd) << "high at the end";
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xDC00), L'b'}), fffd + "b") << "low first";
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xD800), L'x'}), fffd + "x") << "high, no low";
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xD800), wchar_t(0xD800), wchar_t(0xDC00)}),
            fffd + "\xF0\x90\x80\x80");
}

TEST(Utf16BytesToUtf8, ConvertsEachUnitInEitherByteOrder) {
  EXPECT_EQ(Utf16BytesToUtf8(std::string("A\0\xE9\0", 4), true), "A\xC3\xA9");
  EXPECT_EQ(Utf16BytesToUtf8(std::string("\0A\x4E\xEE", 4), false), "A\xE4\xBB\xAE");
  // Units on their own: a surrogate pair gives two three-byte sequences.
  EXPECT_EQ(Utf16BytesToUtf8(std::string("\x3D\xD8\x00\xDE", 4), true),
            "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(Utf16BytesToUtf8(std::string("A\0B", 3), true), "") << "odd length";
}

TEST(Utf8ToUtf16Bytes, DecodesUpToThreeBytesAndStopsAtWhatItCannot) {
  EXPECT_EQ(Utf8ToUtf16Bytes("A\xC3\xA9", true), std::string("A\0\xE9\0", 4));
  EXPECT_EQ(Utf8ToUtf16Bytes("\xE4\xBB\xAE", false), std::string("\x4E\xEE", 2));
  EXPECT_EQ(Utf8ToUtf16Bytes("ab\x80z", true), std::string("a\0b\0", 4)) << "stray continuation";
  EXPECT_EQ(Utf8ToUtf16Bytes("a\xF0\x9F\x98\x80z", true), std::string("a\0", 2)) << "four bytes";
  EXPECT_EQ(Utf8ToUtf16Bytes("a\xE4\xBB", true), std::string("a\0", 2)) << "cut off at the end";
  EXPECT_EQ(Utf8ToUtf16Bytes("a\xC3", true), std::string("a\0", 2)) << "cut off at the end";
  EXPECT_EQ(Utf8ToUtf16Bytes("a\xE4Zb", true), std::string("a\0", 2)) << "continuation missing";
  EXPECT_EQ(Utf8ToUtf16Bytes("", true), "");
}

TEST(EnginePath, RoundTripsThroughShiftJis) {
  const std::wstring path = L"C:\\仮想マシン\\ソ表\\disk.vmdk";
  const std::string sjis = ToEnginePath(path);
  EXPECT_EQ(sjis, "C:\\\x89\xBC\x91\x7A\x83\x7D\x83\x56\x83\x93\\\x83\x5C\x95\x5C\\disk.vmdk");
  EXPECT_EQ(FromEngineText(MakeView(sjis.data(), static_cast<std::uint32_t>(sjis.size())),
                           ENC_SHIFT_JIS),
            path);
}

TEST(EnginePath, CharactersShiftJisLacksEndTheCommand) {
  const std::wstring hangul = L"C:\\\xD55C.vmdk";
  EXPECT_THROW(ToEnginePath(hangul), std::bad_alloc);
  const char bad[] = "\x81";  // lead byte without its trail
  EXPECT_THROW(FromEngineText(MakeView(bad, 1), ENC_SHIFT_JIS), std::bad_alloc);
}

TEST(FromEngineText, TakesUtf16LittleEndianAsItIs) {
  const char units[] = "C\0:\0\x4E\x97";  // "C:" and U+974E
  EXPECT_EQ(FromEngineText(MakeView(units, 6), ENC_UTF16LE), std::wstring(L"C:\u974E"));
  EXPECT_EQ(FromEngineText(MakeView("a\xC3\xA9", 3), ENC_UTF8), std::wstring(L"a\u00E9"));
}

TEST(AnsiForm, AsciiRoundTrips) {
  EXPECT_EQ(WideToAnsi(L"scsi0:0.fileName = \"a.vmdk\""), "scsi0:0.fileName = \"a.vmdk\"");
  EXPECT_EQ(AnsiToWide("displayName"), L"displayName");
  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
}

}  // namespace
}  // namespace qvt
