#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "XmlText.h"

namespace qvt::xml {
namespace {

TEST(TextElements, AreOneCdataSectionPerLineSplitOnlyAtTheClosingMark) {
  struct Case {
    std::wstring value;
    std::string line;
  };
  const Case cases[] = {
      {L"", "<t><![CDATA[]]></t>\r\n"},
      {L"plain", "<t><![CDATA[plain]]></t>\r\n"},
      {L"a]]>b", "<t><![CDATA[a]]]]><![CDATA[>b]]></t>\r\n"},
      {L"]]>", "<t><![CDATA[]]]]><![CDATA[>]]></t>\r\n"},
      {L"]] >]>", "<t><![CDATA[]] >]>]]></t>\r\n"},
      {L"<&\"'>", "<t><![CDATA[<&\"'>]]></t>\r\n"},
      {L"a\r\nb\nc\rd", "<t><![CDATA[a\r\nb\r\nc\rd]]></t>\r\n"},
      {L"仮想", "<t><![CDATA[\xE4\xBB\xAE\xE6\x83\xB3]]></t>\r\n"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendTextElement(&out, "t", c.value);
    EXPECT_EQ(out, c.line);
  }
}

TEST(TextElements, ReadBackJoinsTheSplitSections) {
  const std::wstring values[] = {L"a]]>b", L"]]>", L"]]>]]>", L"x]]", L"]]]]>>"};
  for (const std::wstring& value : values) {
    std::string text = "<r>";
    AppendTextElement(&text, "t", value);
    text += "</r>";
    tinyxml2::XMLDocument document;
    ASSERT_TRUE(ParseBytes(text, &document));
    std::wstring back;
    ASSERT_TRUE(ChildText(*document.RootElement(), "t", &back));
    EXPECT_EQ(back, value);
  }
}

TEST(TextElements, AnElementWithoutTextCountsAsMissing) {
  tinyxml2::XMLDocument document;
  ASSERT_TRUE(
      ParseBytes("<r><a/><b></b><c><!--x-->t</c><d><e/>t</d><f><![CDATA[]]></f>"
                 "<g>t<!--x--><![CDATA[u]]></g><h>&lt;&amp;</h></r>",
                 &document));
  const tinyxml2::XMLElement& r = *document.RootElement();
  std::wstring text = L"unchanged";
  for (const char* name : {"a", "b", "c", "d", "missing"}) {
    EXPECT_FALSE(ChildText(r, name, &text)) << name;
  }
  EXPECT_EQ(text, L"unchanged");
  ASSERT_TRUE(ChildText(r, "f", &text));
  EXPECT_EQ(text, L"");
  ASSERT_TRUE(ChildText(r, "g", &text));
  EXPECT_EQ(text, L"t") << "the text ends at the first node that is not text";
  ASSERT_TRUE(ChildText(r, "h", &text));
  EXPECT_EQ(text, L"<&");
}

TEST(Numbers, SignedAreDecimalWithinThirtyTwoBits) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"-1", true, -1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"007", true, 7},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"1e3", false, 0},
      {"0x1", false, 0},
      {"1.0", false, 0},
      {"１", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t value = 99;
    EXPECT_EQ(ParseSigned(c.text, &value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 99) << c.text;
  }
}

TEST(Numbers, UnsignedRefuseSigns) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},           {"4294967295", true, 4294967295u},
      {"4294967296", false, 0}, {"-1", false, 0},
      {"-0", false, 0},         {"", false, 0},
      {"12a", false, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t value = 99;
    EXPECT_EQ(ParseUnsigned(c.text, &value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 99u) << c.text;
  }
}

TEST(Numbers, BoolsAreZeroOrOne) {
  tinyxml2::XMLDocument document;
  ASSERT_TRUE(ParseBytes("<r><a>0</a><b>1</b><c>2</c><d>01</d><e>true</e><f/></r>", &document));
  const tinyxml2::XMLElement& r = *document.RootElement();
  bool value = true;
  ASSERT_TRUE(ChildBool(r, "a", &value));
  EXPECT_FALSE(value);
  ASSERT_TRUE(ChildBool(r, "b", &value));
  EXPECT_TRUE(value);
  for (const char* name : {"c", "d", "e", "f", "g"}) {
    bool untouched = false;
    EXPECT_FALSE(ChildBool(r, name, &untouched)) << name;
    EXPECT_FALSE(untouched);
  }
}

TEST(Utf8, DecodesEveryLengthAndRefusesDamage) {
  std::wstring out;
  ASSERT_TRUE(Utf8ToWide("a\xC3\xA9\xE4\xBB\xAE\xF0\x9F\x98\x80", &out));
  EXPECT_EQ(out, (std::wstring{L'a', static_cast<wchar_t>(0xE9), static_cast<wchar_t>(0x4EEE),
                               static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}));
  for (const char* bad : {"\x80", "\xC3", "\xE4\xBB", "\xF0\x9F\x98", "\xC0\xAF", "\xED\xA0\x80",
                          "\xFF", "\x82\xA0"}) {
    std::wstring untouched = L"u";
    EXPECT_FALSE(Utf8ToWide(bad, &untouched)) << testing::PrintToString(std::string(bad));
    EXPECT_EQ(untouched, L"u");
  }
}

}  // namespace
}  // namespace qvt::xml
