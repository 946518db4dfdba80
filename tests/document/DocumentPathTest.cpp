#include <gtest/gtest.h>

#include <string>

#include "PlatformFile.h"
#include "QvtDocument.h"
#include "TempFolder.h"
#include "TextForms.h"
#include "TreeSupport.h"

namespace qvt {
namespace {

using test::ExpectSameTree;
using test::MakeNode;
using test::TempFolder;

struct FolderCase {
  const char* what;
  const wchar_t* documentPath;
  const wchar_t* directory;
  bool absolute;
  const wchar_t* stored;
  const wchar_t* readBack;  // the folder after the next load
  bool readBackAbsolute;
};

const FolderCase kFolders[] = {
    {"same folder", L"Z:\\docs\\a.qvt", L"Z:\\docs", false, L"", L"Z:\\docs", false},
    {"sub-folder", L"Z:\\docs\\a.qvt", L"Z:\\docs\\vm1", false, L"vm1", L"Z:\\docs\\vm1", false},
    {"deeper sub-folder", L"Z:\\docs\\a.qvt", L"Z:\\docs\\vm\\1", false, L"vm\\1",
     L"Z:\\docs\\vm\\1", false},
    {"sibling folder", L"Z:\\docs\\a.qvt", L"Z:\\vm1", false, L"..\\vm1", L"Z:\\vm1", false},
    {"cousin folder", L"Z:\\a\\b\\t.qvt", L"Z:\\a\\c\\d", false, L"..\\c\\d", L"Z:\\a\\c\\d",
     false},
    {"folders compared without case", L"Z:\\Docs\\a.qvt", L"z:\\docs\\VM", false, L"VM",
     L"Z:\\Docs\\VM", false},
    {"Japanese names", L"Z:\\仮想\\木.qvt", L"Z:\\仮想\\子", false, L"子", L"Z:\\仮想\\子", false},
    {"other drive", L"C:\\docs\\a.qvt", L"D:\\vm", false, L"D:\\vm", L"D:\\vm", true},
    {"absolute on the same drive", L"Z:\\docs\\a.qvt", L"Z:\\docs\\vm1", true, L"Z:\\docs\\vm1",
     L"Z:\\docs\\vm1", true},
    {"absolute elsewhere", L"C:\\docs\\a.qvt", L"D:\\vm", true, L"D:\\vm", L"D:\\vm", true},
    {"drive root, relative", L"C:\\docs\\a.qvt", L"C:", false, L"..", L"C:", false},
    {"drive root, other drive", L"C:\\docs\\a.qvt", L"D:", false, L"D:\\", L"D:", true},
    {"drive root, absolute", L"C:\\docs\\a.qvt", L"C:", true, L"C:\\", L"C:", true},
    {"document in a drive root", L"C:\\a.qvt", L"C:\\vm", false, L"vm", L"C:\\vm", false},
    {"shares on two servers", L"\\\\srvA\\s\\a.qvt", L"\\\\srvB\\t\\vm", false, L"\\\\srvB\\t\\vm",
     L"\\\\srvB\\t\\vm", true},
    {"folders on one share", L"\\\\srv\\s\\d\\a.qvt", L"\\\\srv\\s\\d\\vm", false, L"vm",
     L"\\\\srv\\s\\d\\vm", false},
};

class NodeFolders : public testing::TestWithParam<FolderCase> {};

TEST_P(NodeFolders, AreStoredInTheirFormAndDerivedAnewAtTheNextLoad) {
  const FolderCase& c = GetParam();
  auto node = MakeNode(L"n", c.directory, c.absolute);
  EXPECT_EQ(StoredDirectory(*node, c.documentPath), c.stored);

  std::string text;
  ASSERT_TRUE(DocumentText(kTypeVMware, *node, c.documentPath, &text));
  EXPECT_NE(text.find("<directory><![CDATA[" + WideToUtf8(c.stored) + "]]></directory>"),
            std::string::npos);
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  ASSERT_TRUE(ParseDocument(text, c.documentPath, &type, &loaded));
  EXPECT_EQ(loaded->directory, c.readBack);
  EXPECT_EQ(loaded->directoryAbsolute, c.readBackAbsolute);
}

INSTANTIATE_TEST_SUITE_P(Forms, NodeFolders, testing::ValuesIn(kFolders),
                         test::CaseName<FolderCase>);

struct StoredCase {
  const wchar_t* stored;
  const wchar_t* directory;
  bool absolute;
};

TEST(NodeFolders, StoredTextsResolveAgainstTheDocumentFolder) {
  const StoredCase cases[] = {
      {L"", L"Z:\\docs", false},
      {L"vm", L"Z:\\docs\\vm", false},
      {L".\\vm\\..\\other\\.", L"Z:\\docs\\other", false},
      {L"vm/sub", L"Z:\\docs\\vm\\sub", false},
      {L"..", L"Z:", false},
      {L"\\vm", L"\\vm", true},
      {L"D:\\vm\\..\\x", L"D:\\vm\\..\\x", true},  // an absolute text is taken as it is
      {L"D:\\", L"D:", true},
      {L"D:vm", L"Z:\\docs\\D:vm", false},  // a drive without backslash is not absolute
  };
  for (const StoredCase& c : cases) {
    std::wstring directory = L"unchanged";
    bool absolute = !c.absolute;
    ASSERT_TRUE(ResolveDirectory(c.stored, L"Z:\\docs\\", &directory, &absolute)) << c.stored;
    EXPECT_EQ(directory, c.directory) << c.stored;
    EXPECT_EQ(absolute, c.absolute) << c.stored;
  }
  std::wstring directory = L"unchanged";
  bool absolute = true;
  EXPECT_FALSE(ResolveDirectory(L"..\\..", L"Z:\\docs\\", &directory, &absolute));
  EXPECT_EQ(directory, L"unchanged");
  EXPECT_TRUE(absolute);
}

TEST(NodeFolders, MovingTheDocumentWithItsRelativeFoldersKeepsItValid) {
  TempFolder dir;
  ASSERT_TRUE(platform::DirectoryCreate(dir.Windows(L"old")));
  ASSERT_TRUE(platform::DirectoryCreate(dir.Windows(L"new")));
  const std::wstring oldPath = dir.Windows(L"old\\tree.qvt");
  auto root = MakeNode(L"root", dir.Windows(L"old"));
  auto relative = MakeNode(L"relative", dir.Windows(L"old\\vm\\child"));
  auto absolute = MakeNode(L"absolute", dir.Windows(L"elsewhere\\vm"), true);
  root->AppendChild(relative);
  root->AppendChild(absolute);
  ASSERT_TRUE(SaveDocument(oldPath, kTypeVMware, *root));

  ASSERT_TRUE(platform::FileMove(oldPath, dir.Windows(L"new\\tree.qvt")));
  std::wstring type;
  std::shared_ptr<CQVTNode> moved;
  ASSERT_TRUE(LoadDocument(dir.Windows(L"new\\tree.qvt"), &type, &moved));
  EXPECT_EQ(moved->directory, dir.Windows(L"new"));
  EXPECT_EQ(moved->children[0]->directory, dir.Windows(L"new\\vm\\child"));
  EXPECT_FALSE(moved->children[0]->directoryAbsolute);
  EXPECT_EQ(moved->children[1]->directory, dir.Windows(L"elsewhere\\vm"));
  EXPECT_TRUE(moved->children[1]->directoryAbsolute);
}

TEST(NodeFolders, ANodeStoredAbsoluteForItsDriveStaysAbsolute) {
  auto root = MakeNode(L"root", L"C:\\docs\\root");
  root->AppendChild(MakeNode(L"away", L"D:\\vm\\away"));
  std::string text;
  ASSERT_TRUE(DocumentText(kTypeVMware, *root, L"C:\\docs\\a.qvt", &text));
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  ASSERT_TRUE(ParseDocument(text, L"C:\\docs\\a.qvt", &type, &loaded));
  EXPECT_FALSE(loaded->directoryAbsolute);
  EXPECT_TRUE(loaded->children[0]->directoryAbsolute);

  // Saved again, both keep their new forms, and the tree is unchanged.
  std::string again;
  ASSERT_TRUE(DocumentText(kTypeVMware, *loaded, L"C:\\docs\\a.qvt", &again));
  EXPECT_EQ(again, text);
  std::shared_ptr<CQVTNode> reloaded;
  ASSERT_TRUE(ParseDocument(again, L"C:\\docs\\a.qvt", &type, &reloaded));
  ExpectSameTree(*loaded, *reloaded);
}

}  // namespace
}  // namespace qvt
