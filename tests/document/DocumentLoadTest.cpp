#include <gtest/gtest.h>

#include <string>

#include "QvtDocument.h"
#include "TempFolder.h"
#include "TreeSupport.h"

namespace qvt {
namespace {

using test::MakeNode;
using test::TempFolder;

const wchar_t kPath[] = L"Z:\\docs\\tree.qvt";

// A root with one child that has a window position.
std::string GoodText() {
  auto root = MakeNode(L"root", L"Z:\\docs\\root");
  auto child = MakeNode(L"child", L"Z:\\docs\\child");
  child->hasWindowPos = true;
  child->windowPos = WindowPos{10, 20};
  root->AppendChild(child);
  std::string text;
  DocumentText(kTypeVMware, *root, kPath, &text);
  return text;
}

struct Patch {
  const char* what;
  std::string find;  // the n-th occurrence (1-based) of this is replaced
  int occurrence;
  std::string replace;
};

std::string Patched(const Patch& p) {
  std::string text = GoodText();
  std::size_t at = std::string::npos;
  for (int i = 0; i < p.occurrence; ++i) {
    at = text.find(p.find, at == std::string::npos ? 0 : at + 1);
    if (at == std::string::npos) return std::string();
  }
  return text.replace(at, p.find.size(), p.replace);
}

class DocumentLoadFailure : public testing::TestWithParam<Patch> {};

TEST_P(DocumentLoadFailure, FailsAndKeepsNothingOfThePartlyReadTree) {
  const std::string text = Patched(GetParam());
  ASSERT_FALSE(text.empty()) << "the patch did not apply";
  std::wstring type = L"before";
  auto before = std::make_shared<CQVTNode>();
  std::shared_ptr<CQVTNode> root = before;
  EXPECT_FALSE(ParseDocument(text, kPath, &type, &root));
  EXPECT_EQ(type, L"before");
  EXPECT_EQ(root, before);
}

const Patch kFailures[] = {
    {"broken start tag", "<qvt>", 1, "<qvt"},
    {"unclosed CDATA", "<![CDATA[root]]>", 1, "<![CDATA[root"},
    {"cut off", "</qvt>", 1, ""},
    {"mismatched end tag", "</title>", 1, "</titel>"},
    {"type missing", "<type>VMware</type>", 1, ""},
    {"type without text", "<type>VMware</type>", 1, "<type/>"},
    {"type in other letter case", "<type>VMware</type>", 1, "<type>vmware</type>"},
    {"type VMWare", "<type>VMware</type>", 1, "<type>VMWare</type>"},
    {"type with a space", "<type>VMware</type>", 1, "<type>VMware </type>"},
    {"unknown type", "<type>VMware</type>", 1, "<type>HyperV</type>"},
    {"title missing", "<title><![CDATA[root]]></title>", 1, ""},
    {"title without text", "<title><![CDATA[root]]></title>", 1, "<title/>"},
    {"title as an empty pair", "<title><![CDATA[root]]></title>", 1, "<title></title>"},
    {"directory missing", "<directory><![CDATA[root]]></directory>", 1, ""},
    {"directory above the drive", "<![CDATA[root]]></directory>", 1,
     "<![CDATA[..\\..\\root]]></directory>"},
    {"vmxFile missing", "<vmxFile><![CDATA[root.vmx]]></vmxFile>", 1, ""},
    {"hardDiskList missing",
     "<hardDiskList>\r\n<hardDisk><![CDATA[root.vmdk]]></hardDisk>\r\n"
     "</hardDiskList>",
     1, ""},
    {"explanation missing", "<explanation><![CDATA[]]></explanation>", 1, ""},
    {"node list missing", "<VMwareNodeList>\r\n</VMwareNodeList>", 1, ""},
    {"child title missing", "<title><![CDATA[child]]></title>", 1, ""},
    {"child explanation without text", "<explanation><![CDATA[]]></explanation>", 2,
     "<explanation/>"},
    {"x missing", "<x>10</x>", 1, ""},
    {"y missing", "<y>20</y>", 1, ""},
    {"x without text", "<x>10</x>", 1, "<x/>"},
    {"x empty", "<x>10</x>", 1, "<x><![CDATA[]]></x>"},
    {"x with letters", "<x>10</x>", 1, "<x>10px</x>"},
    {"x hexadecimal", "<x>10</x>", 1, "<x>0x10</x>"},
    {"x with spaces", "<x>10</x>", 1, "<x> 10</x>"},
    {"x with a plus sign", "<x>10</x>", 1, "<x>+10</x>"},
    {"x as a fraction", "<x>10</x>", 1, "<x>10.5</x>"},
    {"y above 32 bits", "<y>20</y>", 1, "<y>2147483648</y>"},
    {"y below 32 bits", "<y>20</y>", 1, "<y>-2147483649</y>"},
    {"title not UTF-8", "<![CDATA[root]]></title>", 1, "<![CDATA[r\x82\xa0]]></title>"},
    {"hard disk not UTF-8", "<![CDATA[root.vmdk]]>", 1, "<![CDATA[\xff]]>"},
};

INSTANTIATE_TEST_SUITE_P(Damage, DocumentLoadFailure, testing::ValuesIn(kFailures),
                         test::CaseName<Patch>);

TEST(DocumentLoad, TheUnpatchedTextAndTheLimitsOfTheNumbersLoad) {
  std::wstring type;
  std::shared_ptr<CQVTNode> root;
  ASSERT_TRUE(ParseDocument(GoodText(), kPath, &type, &root));
  const Patch limits[] = {
      {"smallest x", "<x>10</x>", 1, "<x>-2147483648</x>"},
      {"largest y", "<y>20</y>", 1, "<y>2147483647</y>"},
      {"x by character reference", "<x>10</x>", 1, "<x>&#45;3</x>"},
  };
  for (const Patch& p : limits) {
    SCOPED_TRACE(p.what);
    ASSERT_TRUE(ParseDocument(Patched(p), kPath, &type, &root));
    EXPECT_TRUE(root->children[0]->hasWindowPos);
  }
  EXPECT_EQ(root->children[0]->windowPos.x, -3);
}

TEST(DocumentLoad, DocumentsWithoutARootNodeFail) {
  const char* texts[] = {
      "<qvt><type>VMware</type></qvt>",
      "<qvt><type>VMware</type><vmwareNode/><VMwareNodeList/></qvt>",
      "<VMwareNodeList><VMwareNode/></VMwareNodeList>",
      "<?xml version=\"1.0\"?><!-- only a comment -->",
  };
  for (const char* text : texts) {
    std::wstring type;
    std::shared_ptr<CQVTNode> root;
    EXPECT_FALSE(ParseDocument(text, kPath, &type, &root)) << text;
  }
}

TEST(DocumentLoad, FilesThatCannotBeReadFail) {
  TempFolder dir;
  dir.WriteFile(L"empty.qvt", "");
  dir.WriteFile(L"bom.qvt", "\xEF\xBB\xBF");
  dir.WriteFile(L"other.qvt", "<?xml version=\"1.0\"?><settings/>");
  const std::wstring paths[] = {
      dir.Windows(L"missing.qvt"),
      dir.Windows(L"empty.qvt"),
      dir.Windows(L"bom.qvt"),
      dir.Windows(L"other.qvt"),
      dir.Windows(),
      L"Q:\\no such drive\\a.qvt",
      L"",
  };
  for (const std::wstring& path : paths) {
    std::wstring type;
    std::shared_ptr<CQVTNode> root;
    EXPECT_FALSE(LoadDocument(path, &type, &root)) << testing::PrintToString(path);
    EXPECT_EQ(root, nullptr);
  }
}

TEST(DocumentLoad, AByteOrderMarkIsAccepted) {
  TempFolder dir;
  const std::wstring path = dir.WriteFile(L"bom.qvt", "\xEF\xBB\xBF" + GoodText());
  std::wstring type;
  std::shared_ptr<CQVTNode> root;
  ASSERT_TRUE(LoadDocument(path, &type, &root));
  EXPECT_EQ(root->title, L"root");
}

}  // namespace
}  // namespace qvt
