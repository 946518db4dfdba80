#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "QvtDocument.h"
#include "TempFolder.h"
#include "TreeSupport.h"

namespace qvt {
namespace {

using test::ExpectSameTree;
using test::MakeNode;
using test::TempFolder;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The root in the document's sub-folder, a child on another drive with a
// window position and a two-line explanation, and a leaf in the document's
// own folder with every text empty.
std::shared_ptr<CQVTNode> SampleTree() {
  auto root = MakeNode(L"base", L"Z:\\docs\\base");
  auto child = MakeNode(L"子ノード", L"D:\\vm\\child");
  child->vmxFile = L"child.vmx";
  child->hardDiskList = {L"child-000001.vmdk", L"..\\base\\second.vmdk"};
  child->explanation = L"一行目\r\n二行目";
  child->hasWindowPos = true;
  child->windowPos = WindowPos{-1280, 40};
  auto leaf = MakeNode(L"", L"Z:\\docs");
  leaf->vmxFile.clear();
  leaf->hardDiskList.clear();
  root->AppendChild(child);
  root->AppendChild(leaf);
  return root;
}

const std::vector<std::string> kSampleLines = {
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)",
    "<qvt>",
    "<type>VMware</type>",
    "<VMwareNode>",
    "<title><![CDATA[base]]></title>",
    "<directory><![CDATA[base]]></directory>",
    "<vmxFile><![CDATA[base.vmx]]></vmxFile>",
    "<hardDiskList>",
    "<hardDisk><![CDATA[base.vmdk]]></hardDisk>",
    "</hardDiskList>",
    "<explanation><![CDATA[]]></explanation>",
    "<VMwareNodeList>",
    "<VMwareNode>",
    "<title><![CDATA[子ノード]]></title>",
    R"(<directory><![CDATA[D:\vm\child]]></directory>)",
    "<vmxFile><![CDATA[child.vmx]]></vmxFile>",
    "<hardDiskList>",
    "<hardDisk><![CDATA[child-000001.vmdk]]></hardDisk>",
    R"(<hardDisk><![CDATA[..\base\second.vmdk]]></hardDisk>)",
    "</hardDiskList>",
    "<explanation><![CDATA[一行目",
    "二行目]]></explanation>",
    "<windowPos>",
    "<x>-1280</x>",
    "<y>40</y>",
    "</windowPos>",
    "<VMwareNodeList>",
    "</VMwareNodeList>",
    "</VMwareNode>",
    "<VMwareNode>",
    "<title><![CDATA[]]></title>",
    "<directory><![CDATA[]]></directory>",
    "<vmxFile><![CDATA[]]></vmxFile>",
    "<hardDiskList>",
    "</hardDiskList>",
    "<explanation><![CDATA[]]></explanation>",
    "<VMwareNodeList>",
    "</VMwareNodeList>",
    "</VMwareNode>",
    "</VMwareNodeList>",
    "</VMwareNode>",
    "</qvt>",
};

TEST(DocumentWriting, ProducesExactlyTheDocumentedBytes) {
  std::string text;
  ASSERT_TRUE(DocumentText(kTypeVMware, *SampleTree(), L"Z:\\docs\\tree.qvt", &text));
  EXPECT_EQ(text, Lines(kSampleLines));
}

TEST(DocumentWriting, NamesTheVirtualPcTypeButKeepsTheNodeElementName) {
  std::string text;
  ASSERT_TRUE(DocumentText(kTypeVirtualPC, *SampleTree(), L"Z:\\docs\\tree.qvt", &text));
  std::vector<std::string> lines = kSampleLines;
  lines[2] = "<type>VirtualPC</type>";
  EXPECT_EQ(text, Lines(lines));
}

TEST(DocumentWriting, RefusesATypeWordNoReaderAccepts) {
  for (const wchar_t* type : {L"vmware", L"", L"VMware ", L"Hyper-V"}) {
    std::string text = "untouched";
    EXPECT_FALSE(DocumentText(type, *SampleTree(), L"Z:\\docs\\tree.qvt", &text));
    EXPECT_EQ(text, "untouched");
  }
}

TEST(DocumentWriting, SavedFileHoldsTheTextWithoutByteOrderMark) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"tree.qvt");
  auto root = SampleTree();
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *root));
  std::string expected;
  ASSERT_TRUE(DocumentText(kTypeVMware, *root, path, &expected));
  const std::string bytes = dir.ReadFile(L"tree.qvt");
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(bytes.rfind("<?xml", 0), 0u);
  EXPECT_FALSE(dir.Exists(L"tree.qvt_QVT_SAVE"));
}

struct TextCase {
  const char* what;
  std::wstring value;
};

std::vector<TextCase> AwkwardTexts() {
  return {
      {"empty", L""},
      {"Japanese", L"仮想マシン　基本"},
      {"surrogate pair",
       std::wstring{L'a', static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00), L'b'}},
      {"CDATA end", L"a]]>b"},
      {"CDATA end at both ends", L"]]>x]]>"},
      {"brackets", L"]]]>>]]"},
      {"markup", L"<a href=\"x\">&amp;'</a>"},
      {"spaces", L"  lead and trail  "},
      {"only spaces", L"   "},
      {"tab", L"a\tb"},
  };
}

TEST(DocumentRoundTrip, KeepsEveryFieldOfEveryNode) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"往復.qvt");
  auto root = MakeNode(L"root", dir.Windows(L"仮想\\root"));
  int index = 0;
  for (const TextCase& c : AwkwardTexts()) {
    auto node = MakeNode(c.value, dir.Windows(L"n" + std::to_wstring(index)), index % 2 == 0);
    node->vmxFile = c.value;
    node->hardDiskList = {c.value, L"", L"C:\\abs\\disk.vmdk", c.value};
    node->explanation = c.value + L"\r\n\r\n" + c.value + L"\r\n";
    node->hasWindowPos = index % 3 != 0;
    node->windowPos = WindowPos{-index * 1000, index};
    root->AppendChild(node);
    ++index;
  }
  auto extreme = MakeNode(L"extreme", dir.Windows(L"x"));
  extreme->hasWindowPos = true;
  extreme->windowPos =
      WindowPos{std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
  root->children[1]->AppendChild(extreme);

  ASSERT_TRUE(SaveDocument(path, kTypeVirtualPC, *root));
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  ASSERT_TRUE(LoadDocument(path, &type, &loaded));
  EXPECT_EQ(type, kTypeVirtualPC);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->parent, nullptr);
  ExpectSameTree(*root, *loaded);
}

TEST(DocumentRoundTrip, TextElementsSurviveByName) {
  for (const TextCase& c : AwkwardTexts()) {
    SCOPED_TRACE(c.what);
    auto root = MakeNode(c.value, L"Z:\\d\\n");
    std::string text;
    ASSERT_TRUE(DocumentText(kTypeVMware, *root, L"Z:\\d\\a.qvt", &text));
    std::wstring type;
    std::shared_ptr<CQVTNode> loaded;
    ASSERT_TRUE(ParseDocument(text, L"Z:\\d\\a.qvt", &type, &loaded));
    EXPECT_EQ(loaded->title, c.value);
    EXPECT_EQ(loaded->vmxFile, c.value + L".vmx");
  }
}

TEST(DocumentRoundTrip, ExplanationLineEndsAreCrLfInTheFileAndInMemory) {
  struct Case {
    std::wstring memory;
    std::string file;
    std::wstring back;
  };
  const Case cases[] = {
      {L"one\r\ntwo", "one\r\ntwo", L"one\r\ntwo"},
      {L"one\ntwo", "one\r\ntwo", L"one\r\ntwo"},  // a bare LF comes back as CR LF
      {L"\r\n\r\nend\r\n", "\r\n\r\nend\r\n", L"\r\n\r\nend\r\n"},
  };
  for (const Case& c : cases) {
    auto root = MakeNode(L"n", L"Z:\\d\\n");
    root->explanation = c.memory;
    std::string text;
    ASSERT_TRUE(DocumentText(kTypeVMware, *root, L"Z:\\d\\a.qvt", &text));
    EXPECT_NE(text.find("<explanation><![CDATA[" + c.file + "]]></explanation>\r\n"),
              std::string::npos);
    std::wstring type;
    std::shared_ptr<CQVTNode> loaded;
    ASSERT_TRUE(ParseDocument(text, L"Z:\\d\\a.qvt", &type, &loaded));
    EXPECT_EQ(loaded->explanation, c.back);
  }
}

TEST(DocumentRoundTrip, NulCodeUnitsAreLeftOutSoTheFileStaysReadable) {
  auto root = MakeNode(std::wstring(L"a\0b", 3), L"Z:\\d\\n");
  std::string text;
  ASSERT_TRUE(DocumentText(kTypeVMware, *root, L"Z:\\d\\a.qvt", &text));
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  ASSERT_TRUE(ParseDocument(text, L"Z:\\d\\a.qvt", &type, &loaded));
  EXPECT_EQ(loaded->title, L"ab");
}

TEST(DocumentReading, TakesEnvelopeLessFilesAsVMwareAndSavesThemWithTheEnvelope) {
  TempFolder dir;
  const std::string old =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<VMwareNode><title>old</title><directory>vm</directory><vmxFile>old.vmx</vmxFile>"
      "<hardDiskList><hardDisk>old.vmdk</hardDisk></hardDiskList>"
      "<explanation>line1\nline2</explanation><VMwareNodeList/></VMwareNode>\n";
  const std::wstring path = dir.WriteFile(L"old.qvt", old);
  std::wstring type;
  std::shared_ptr<CQVTNode> root;
  ASSERT_TRUE(LoadDocument(path, &type, &root));
  EXPECT_EQ(type, kTypeVMware);
  EXPECT_EQ(root->title, L"old");
  EXPECT_EQ(root->directory, dir.Windows(L"vm"));
  EXPECT_EQ(root->hardDiskList, std::vector<std::wstring>{L"old.vmdk"});
  EXPECT_EQ(root->explanation, L"line1\r\nline2");

  ASSERT_TRUE(SaveDocument(path, type, *root));
  const std::string saved = dir.ReadFile(L"old.qvt");
  EXPECT_NE(saved.find("<qvt>\r\n<type>VMware</type>\r\n<VMwareNode>\r\n"), std::string::npos);
  std::shared_ptr<CQVTNode> again;
  ASSERT_TRUE(LoadDocument(path, &type, &again));
  ExpectSameTree(*root, *again);
}

TEST(DocumentReading, FindsElementsByNameWhateverTheirOrder) {
  const std::string text =
      "<qvt><VMwareNode>"
      "<VMwareNodeList><VMwareNode><VMwareNodeList/><explanation>c</explanation>"
      "<hardDiskList/><vmxFile>c.vmx</vmxFile><directory>c</directory><title>C</title>"
      "</VMwareNode></VMwareNodeList>"
      "<windowPos><y>-2</y><x>7</x></windowPos>"
      "<explanation><![CDATA[]]></explanation><hardDiskList/><vmxFile>r.vmx</vmxFile>"
      "<directory>r</directory><title>R</title></VMwareNode>"
      "<type>VirtualPC</type></qvt>";
  std::wstring type;
  std::shared_ptr<CQVTNode> root;
  ASSERT_TRUE(ParseDocument(text, L"Z:\\d\\a.qvt", &type, &root));
  EXPECT_EQ(type, kTypeVirtualPC);
  EXPECT_EQ(root->title, L"R");
  EXPECT_TRUE(root->hasWindowPos);
  EXPECT_EQ(root->windowPos.x, 7);
  EXPECT_EQ(root->windowPos.y, -2);
  ASSERT_EQ(root->children.size(), 1u);
  EXPECT_EQ(root->children[0]->title, L"C");
  EXPECT_EQ(root->children[0]->directory, L"Z:\\d\\c");
  EXPECT_FALSE(root->children[0]->hasWindowPos);
  EXPECT_EQ(root->children[0]->windowPos.x, 0);
  EXPECT_EQ(root->children[0]->windowPos.y, 0);
}

TEST(DocumentReading, ListsRunFromTheFirstNamedElementThroughEveryLaterSibling) {
  const std::string text =
      "<qvt><type>VMware</type><VMwareNode><title>R</title><directory/>"
      "<directory>r</directory><vmxFile>r.vmx</vmxFile><explanation>e</explanation>"
      "<hardDiskList><skipped>s</skipped><hardDisk>a.vmdk</hardDisk><hardDisk/>"
      "<other>b.vmdk</other><hardDisk><![CDATA[]]></hardDisk></hardDiskList>"
      "<VMwareNodeList><note/><VMwareNode><title>c</title><directory>c</directory>"
      "<vmxFile>c.vmx</vmxFile><hardDiskList/><explanation/><VMwareNodeList/></VMwareNode>"
      "</VMwareNodeList></VMwareNode></qvt>";
  std::wstring type;
  std::shared_ptr<CQVTNode> root;
  // The first `directory` has no text: the node lacks its folder.
  EXPECT_FALSE(ParseDocument(text, L"Z:\\d\\a.qvt", &type, &root));

  std::string fixed = text;
  fixed.erase(fixed.find("<directory/>"), std::string("<directory/>").size());
  // The child's explanation has no text either.
  EXPECT_FALSE(ParseDocument(fixed, L"Z:\\d\\a.qvt", &type, &root));

  fixed.replace(fixed.find("<explanation/>"), std::string("<explanation/>").size(),
                "<explanation>x</explanation>");
  ASSERT_TRUE(ParseDocument(fixed, L"Z:\\d\\a.qvt", &type, &root));
  EXPECT_EQ(root->hardDiskList, (std::vector<std::wstring>{L"a.vmdk", L"", L"b.vmdk", L""}));
  ASSERT_EQ(root->children.size(), 1u);
  EXPECT_EQ(root->children[0]->parent, root.get());
}

}  // namespace
}  // namespace qvt
