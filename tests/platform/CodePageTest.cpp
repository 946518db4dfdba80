// CP932 <-> UTF-16 as Windows converts it, from whichever system builds the
// tables.
#include "CodePage.h"
#include <gtest/gtest.h>

namespace qvt::platform {
namespace {

struct Mapping {
  char16_t unit;
  std::uint16_t code;
  const char* what;
};

// Where CP932 has several codes for one character, the one Windows writes.
TEST(Cp932Test, UnicodeGoesToTheCodeWindowsChooses) {
  const Mapping cases[] = {
      {u'\u2252', 0x81E0, "nearly equal: row 2, not NEC row 13 0x8790"},
      {u'\u2261', 0x81DF, "identical to: row 2, not 0x8791"},
      {u'\u2235', 0x81E6, "because: row 2, not 0x879A or 0xFA5B"},
      {u'\uFFE2', 0x81CA, "not sign: row 2, not 0xEEF9 or 0xFA54"},
      {u'\u2160', 0x8754, "Roman one: NEC row 13, not 0xFA4A"},
      {u'\u2170', 0xFA40, "small Roman one: IBM, not NEC-selected 0xEEEF"},
      {u'\u2116', 0x8782, "numero: NEC row 13, not 0xFA59"},
      {u'\u7E8A', 0xFA5C, "kanji in both IBM sets: 0xFA5C, not 0xED40"},
      {u'\uFFE4', 0xFA55, "broken bar: IBM, not 0xEEFA"},
      {u'\u30BD', 0x835C, "katakana so, trail byte 0x5C"},
      {u'\u8868', 0x955C, "kanji hyou, trail byte 0x5C"},
      {u'\uFF71', 0x00B1, "half-width katakana a"},
      {u'\u005C', 0x005C, "backslash is itself"},
      {u'\u007E', 0x007E, "tilde is itself"},
      {u'\uFF5E', 0x8160, "full-width tilde"},
      {u'\u2225', 0x8161, "parallel to"},
      {u'\uFF0D', 0x817C, "full-width hyphen-minus"},
      {u'\uE000', 0xF040, "first user-defined character"},
      {u'\u0000', 0x0000, "NUL"},
  };
  for (const Mapping& m : cases) {
    std::uint16_t code = 0;
    ASSERT_TRUE(UnicodeToCp932(m.unit, &code)) << m.what;
    EXPECT_EQ(code, m.code) << m.what << std::hex << ": got 0x" << code;
  }
}

// Each of a character's codes reads back as that character.
TEST(Cp932Test, EveryDuplicateCodeDecodes) {
  const Mapping cases[] = {
      {u'\u2252', 0x81E0, "row 2"},       {u'\u2252', 0x8790, "NEC row 13"},
      {u'\uFFE2', 0x81CA, "row 2"},       {u'\uFFE2', 0xEEF9, "NEC-selected IBM"},
      {u'\uFFE2', 0xFA54, "IBM"},         {u'\u2160', 0x8754, "NEC row 13"},
      {u'\u2160', 0xFA4A, "IBM"},         {u'\u2170', 0xEEEF, "NEC-selected IBM"},
      {u'\u2170', 0xFA40, "IBM"},         {u'\u7E8A', 0xED40, "NEC-selected IBM"},
      {u'\u7E8A', 0xFA5C, "IBM"},         {u'\u2235', 0x879A, "NEC row 13"},
      {u'\u30BD', 0x835C, "so"},          {u'\u8868', 0x955C, "hyou"},
      {u'\uFF71', 0x00B1, "half-width a"}, {u'\u0041', 0x0041, "A"},
  };
  for (const Mapping& m : cases) {
    char16_t unit = 0;
    ASSERT_TRUE(Cp932ToUnicode(m.code, &unit)) << m.what << std::hex << " 0x" << m.code;
    EXPECT_EQ(static_cast<unsigned>(unit), static_cast<unsigned>(m.unit))
        << m.what << std::hex << " 0x" << m.code;
  }
}

TEST(Cp932Test, UndefinedCodesAreRefused) {
  const struct {
    std::uint16_t code;
    const char* what;
  } cases[] = {
      {0x0080, "single byte 0x80"},
      {0x00A0, "single byte 0xA0"},
      {0x00FD, "single byte 0xFD"},
      {0x00FE, "single byte 0xFE"},
      {0x00FF, "single byte 0xFF"},
      {0x0081, "a lead byte alone"},
      {0x00E0, "another lead byte alone"},
      {0x817F, "lead 0x81 with trail 0x7F"},
      {0x8130, "lead 0x81 with trail 0x30"},
      {0x81FD, "lead 0x81 with trail 0xFD"},
      {0x85A0, "an empty cell of row 9"},
      {0x4142, "two single-byte characters"},
      {0xFF40, "0xFF is no lead byte"},
  };
  for (const auto& c : cases) {
    char16_t unit = 0;
    EXPECT_FALSE(Cp932ToUnicode(c.code, &unit)) << c.what << " gave U+" << std::hex
                                                << static_cast<unsigned>(unit);
  }
}

TEST(Cp932Test, UnitsWithoutAnExactCodeAreRefused) {
  const struct {
    char16_t unit;
    const char* what;
  } cases[] = {
      {u'\u00A5', "yen sign: only best fit gives 0x5C"},
      {u'\u203E', "overline: only best fit gives 0x7E"},
      {u'\u301C', "wave dash: CP932 has the full-width tilde instead"},
      {u'\u2016', "double vertical line: CP932 has parallel-to instead"},
      {u'\u2212', "minus sign: CP932 has the full-width hyphen-minus instead"},
      {u'\u00E9', "e acute"},
      {u'\uAC00', "hangul"},
      {static_cast<char16_t>(0xD800), "high surrogate"},
      {static_cast<char16_t>(0xDFFF), "low surrogate"},
      {u'\uFFFF', "noncharacter"},
  };
  for (const auto& c : cases) {
    std::uint16_t code = 0;
    EXPECT_FALSE(UnicodeToCp932(c.unit, &code)) << c.what << " gave 0x" << std::hex << code;
  }
}

// Every code that decodes gives a unit whose chosen code decodes to the same
// unit: the two tables agree everywhere, not only in the cases above.
TEST(Cp932Test, TheTablesAgreeForEveryCode) {
  int defined = 0;
  for (unsigned code = 0; code < 0x10000; ++code) {
    char16_t unit = 0;
    if (!Cp932ToUnicode(static_cast<std::uint16_t>(code), &unit)) continue;
    ++defined;
    std::uint16_t chosen = 0;
    ASSERT_TRUE(UnicodeToCp932(unit, &chosen)) << std::hex << "0x" << code;
    char16_t again = 0;
    ASSERT_TRUE(Cp932ToUnicode(chosen, &again));
    EXPECT_EQ(again, unit) << std::hex << "0x" << code;
  }
  // As Windows has them: 128 ASCII and 63 half-width katakana; JIS X 0208's
  // 6879, NEC row 13's 83, the 374 NEC-selected and 388 IBM extensions; and
  // 10 lead bytes of 188 user-defined characters.
  EXPECT_EQ(defined, 128 + 63 + 6879 + 83 + 374 + 388 + 10 * 188);
}

}  // namespace
}  // namespace qvt::platform
