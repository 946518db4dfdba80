#include <gtest/gtest.h>

#include <string>

#include "VmdkDescriptor.h"
#include "VmdkDescriptorTestSupport.h"

namespace qvt {
namespace {

using test::Encoded;
using test::StringOf;
using test::ViewOf;

struct HintCase {
  const char* what;
  const char* child;
  const char* parent;
  bool absolute;
  const char* hint;
};

void PrintTo(const HintCase& c, std::ostream* os) { *os << c.what; }

class ParentHint : public testing::TestWithParam<std::tuple<HintCase, TextEncoding>> {};

// Paths in either engine encoding give the same hint, written in the
// child descriptor's encoding.
TEST_P(ParentHint, NamesTheParentFromTheChild) {
  const auto& [c, hintEnc] = GetParam();
  const std::string child = Encoded(c.child, ENC_SHIFT_JIS);
  const std::string parent = Encoded(c.parent, ENC_SHIFT_JIS);
  PathBuffer hint;
  ASSERT_EQ(
      VmdkMakeParentHint(ViewOf(child), ViewOf(parent), ENC_SHIFT_JIS, c.absolute, &hint, hintEnc),
      DISK_OK);
  EXPECT_EQ(StringOf(BufferView(hint.buffer)), Encoded(c.hint, hintEnc));
  EXPECT_EQ(hint.storage[hint.buffer.length], 0) << "terminated";
}

const HintCase kHints[] = {
    {"same folder", "C:\\vm\\child.vmdk", "C:\\vm\\base.vmdk", false, "base.vmdk"},
    {"same folder in other case", "C:\\VM\\child.vmdk", "c:\\vm\\Base.vmdk", false, "Base.vmdk"},
    {"parent one folder up", "C:\\vm\\child\\c.vmdk", "C:\\vm\\base\\disk.vmdk", false,
     "..\\base\\disk.vmdk"},
    {"parent below", "C:\\vm\\c.vmdk", "C:\\vm\\base\\p.vmdk", false, "base\\p.vmdk"},
    {"parent at the root", "C:\\a\\b\\c.vmdk", "C:\\p.vmdk", false, "..\\..\\p.vmdk"},
    {"drive letters in other case", "C:\\A\\B\\c.vmdk", "c:\\a\\x.vmdk", false, "..\\x.vmdk"},
    {"other drive", "E:\\vm\\c.vmdk", "D:\\vm\\p.vmdk", false, "D:\\vm\\p.vmdk"},
    {"absolute mode", "C:\\vm\\c.vmdk", "C:\\vm\\p.vmdk", true, "C:\\vm\\p.vmdk"},
    {"absolute mode keeps the path as given", "C:\\vm\\c.vmdk", "C:\\vm\\.\\p.vmdk", true,
     "C:\\vm\\.\\p.vmdk"},
    {"shares on different servers", "\\\\srvA\\vm\\c\\c.vmdk", "\\\\srvB\\vm\\p.vmdk", false,
     "\\\\srvB\\vm\\p.vmdk"},
    {"share and drive", "\\\\srv\\vm\\c.vmdk", "C:\\vm\\p.vmdk", false, "C:\\vm\\p.vmdk"},
    {"share folder", "\\\\srv\\vm\\c.vmdk", "\\\\srv\\vm\\p.vmdk", false, "p.vmdk"},
    {"Japanese folders", "C:\\仮想\\子\\c.vmdk", "C:\\仮想\\表ソ\\親.vmdk", false,
     "..\\表ソ\\親.vmdk"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ParentHint,
                         testing::Combine(testing::ValuesIn(kHints),
                                          testing::Values(ENC_SHIFT_JIS, ENC_UTF8)));

TEST(ParentHintLimits, AHintThatDoesNotFitIsALimitError) {
  const std::string child = "C:\\vm\\c.vmdk";
  const std::string fits = "D:\\" + std::string(519 - 3, 'p');
  const std::string tooLong = fits + "p";
  PathBuffer hint;
  EXPECT_EQ(
      VmdkMakeParentHint(ViewOf(child), ViewOf(fits), ENC_SHIFT_JIS, false, &hint, ENC_SHIFT_JIS),
      DISK_OK);
  EXPECT_EQ(hint.buffer.length, 519u);
  EXPECT_EQ(
      VmdkMakeParentHint(ViewOf(child), ViewOf(tooLong), ENC_SHIFT_JIS, true, &hint, ENC_SHIFT_JIS),
      DISK_E_LIMIT);
  EXPECT_TRUE(hint.IsEmpty());
  // 200 Shift_JIS characters of two bytes are 600 bytes of UTF-8.
  const std::string japanese = Encoded(
      "D:\\" + std::string() +
          [] {
            std::string s;
            for (int i = 0; i < 200; ++i) s += "表";
            return s;
          }(),
      ENC_SHIFT_JIS);
  EXPECT_EQ(VmdkMakeParentHint(ViewOf(child), ViewOf(japanese), ENC_SHIFT_JIS, false, &hint,
                               ENC_SHIFT_JIS),
            DISK_OK);
  EXPECT_EQ(
      VmdkMakeParentHint(ViewOf(child), ViewOf(japanese), ENC_SHIFT_JIS, false, &hint, ENC_UTF8),
      DISK_E_LIMIT);
}

TEST(ParentHintLimits, ADeepRelativePathThatDoesNotFitIsALimitError) {
  std::string child = "C:\\";
  for (int i = 0; i < 200; ++i) child += "a\\";
  child += "c.vmdk";
  const std::string parent = "C:\\" + std::string(100, 'b') + "\\p.vmdk";
  PathBuffer hint;
  EXPECT_EQ(
      VmdkMakeParentHint(ViewOf(child), ViewOf(parent), ENC_SHIFT_JIS, false, &hint, ENC_SHIFT_JIS),
      DISK_E_LIMIT)
      << "200 times ..\\ does not fit";
}

}  // namespace
}  // namespace qvt
