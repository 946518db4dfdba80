#include <gtest/gtest.h>

#include <string>

#include "VmxEscape.h"

namespace qvt {
namespace {

struct EscapeCase {
  std::wstring value;
  std::wstring escaped;
};

TEST(EscapeVmxValue, WritesBarQuoteAndHashAsBarCodes) {
  const EscapeCase cases[] = {
      {L"", L""},
      {L"plain name.vmdk", L"plain name.vmdk"},
      {L"a|b", L"a|7Cb"},
      {L"say \"hi\"", L"say |22hi|22"},
      {L"disk #2", L"disk |232"},
      {L"|\"#", L"|7C|22|23"},
      {L"||", L"|7C|7C"},
      // Only those three: other punctuation, backslashes and non-ASCII stay.
      {L"C:\\vm\\表 (1)'s.vmdk", L"C:\\vm\\表 (1)'s.vmdk"},
      {L"a\tb", L"a\tb"},
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(EscapeVmxValue(c.value), c.escaped) << c.escaped;
}

TEST(UnescapeVmxValue, DecodesBarAndTwoUpperCaseDigits) {
  const EscapeCase cases[] = {
      {L"", L""},
      {L"a|b", L"a|7Cb"},
      {L"\"x\"", L"|22x|22"},
      {L"|", L"|7C"},
      {std::wstring(1, L'\0'), L"|00"},
      {std::wstring(1, wchar_t(0xFF)), L"|FF"},
      {L"line\r\nbreak", L"line|0D|0Abreak"},
      {L"A", L"|41"},
      {L"表", L"表"},
  };
  for (const EscapeCase& c : cases) {
    std::wstring value = L"untouched";
    ASSERT_TRUE(UnescapeVmxValue(c.escaped, &value)) << c.escaped;
    EXPECT_EQ(value, c.value) << c.escaped;
  }
}

TEST(UnescapeVmxValue, BarWithoutTwoDigitsFailsTheWholeText) {
  const std::wstring cases[] = {
      L"a|7cb",  // lower-case digit
      L"|ab",    // lower-case letters
      L"|G0",    // not a digit
      L"x|",     // bar at the end
      L"x|7",    // one digit, then the end
      L"|7 ",    // one digit, then a blank
      L"ok|22 but then |zz",
      L"|||",
  };
  for (const std::wstring& text : cases) {
    std::wstring value = L"untouched";
    EXPECT_FALSE(UnescapeVmxValue(text, &value)) << text;
    EXPECT_EQ(value, L"untouched") << text;
  }
}

TEST(EscapeVmxValue, UnescapeGivesTheValueBack) {
  const std::wstring values[] = {
      L"", L"a|b\"c#d", L"|7C", L"|||###\"\"\"", L"表|ソ#", std::wstring(L"x\r\n\0y", 5)};
  for (const std::wstring& v : values) {
    std::wstring back;
    ASSERT_TRUE(UnescapeVmxValue(EscapeVmxValue(v), &back)) << v;
    EXPECT_EQ(back, v);
    ASSERT_TRUE(UnescapeVmxValue(EscapeVmxLineValue(v), &back)) << v;
    EXPECT_EQ(back, v);
  }
}

TEST(EscapeVmxLineValue, AlsoEscapesWhatWouldEndTheLine) {
  const EscapeCase cases[] = {
      {L"two\r\nlines", L"two|0D|0Alines"},
      {L"a\nb", L"a|0Ab"},
      {std::wstring(L"nul\0here", 8), L"nul|00here"},
      {L"\"#|", L"|22|23|7C"},
      {L"tab\tstays", L"tab\tstays"},
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(EscapeVmxLineValue(c.value), c.escaped) << c.escaped;
}

}  // namespace
}  // namespace qvt
