#include "StringTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// True when `text` is well-formed UTF-8 of code points up to U+FFFF, which
// is what the resource compiler and the UTF-16 string table can carry.
bool IsUtf8OfTheBasicPlane(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    int follow = 0;
    if (*p < 0x80) follow = 0;
    else if ((*p & 0xE0) == 0xC0 && *p >= 0xC2) follow = 1;
    else if ((*p & 0xF0) == 0xE0) follow = 2;
    else return false;
    ++p;
    for (int i = 0; i < follow; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
    }
  }
  return true;
}

TEST(StringTable, GivesTheCaptionsOfMessages) {
  EXPECT_STREQ(qvt::StringText(qvt::IDS_CAPTION_ERROR), "エラー");
  EXPECT_STREQ(qvt::StringText(132), "エラー");
  EXPECT_STREQ(qvt::StringText(138), "確認");
}

TEST(StringTable, KeepsLineFeedsAndInserts) {
  EXPECT_STREQ(qvt::StringText(qvt::IDS_QVT_OPEN_FAILED), "QVTファイルが開けませんでした。\n%0");
}

TEST(StringTable, AnswersNullForAnUnknownId) {
  EXPECT_EQ(qvt::StringText(0), nullptr);
  EXPECT_EQ(qvt::StringText(131), nullptr);
  EXPECT_EQ(qvt::StringText(-1), nullptr);
  EXPECT_EQ(qvt::StringText(65536), nullptr);
}

TEST(StringTable, EveryEntryIsFoundByItsIdAndFitsAMessageBox) {
  for (const qvt::StringEntry* e = qvt::StringTableBegin(); e != qvt::StringTableEnd(); ++e) {
    SCOPED_TRACE(e->id);
    EXPECT_GT(e->id, 0);
    EXPECT_LT(e->id, 65536) << "string ids are 16-bit in the resource";
    EXPECT_EQ(qvt::StringText(e->id), e->text);
    EXPECT_GT(std::strlen(e->text), 0u);
    // Message boxes take caption and text from buffers of 2047 bytes; a UTF-8
    // text of that size is never shorter in a double-byte code page.
    EXPECT_LE(std::strlen(e->text), 2047u);
    EXPECT_TRUE(IsUtf8OfTheBasicPlane(e->text));
  }
}

}  // namespace
