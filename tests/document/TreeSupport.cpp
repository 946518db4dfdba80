#include "TreeSupport.h"

#include <gtest/gtest.h>

#include "TextForms.h"

namespace qvt::test {

std::shared_ptr<CQVTNode> MakeNode(const std::wstring& title, const std::wstring& directory,
                                   bool directoryAbsolute) {
  auto node = std::make_shared<CQVTNode>();
  node->title = title;
  node->directory = directory;
  node->directoryAbsolute = directoryAbsolute;
  node->vmxFile = title + L".vmx";
  node->hardDiskList = {title + L".vmdk"};
  return node;
}

std::shared_ptr<CQVTNode> MakeChain(int levels, const std::wstring& folder) {
  auto root = MakeNode(L"n0", folder + L"\\n0");
  CQVTNode* last = root.get();
  for (int i = 1; i < levels; ++i) {
    auto child = MakeNode(L"n" + std::to_wstring(i), folder + L"\\n" + std::to_wstring(i));
    CQVTNode* next = child.get();
    last->AppendChild(child);
    last = next;
  }
  return root;
}

std::string NameFromWords(const char* what) {
  std::string name;
  for (const char* c = what; *c != '\0'; ++c) {
    if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')) {
      name += *c;
    }
  }
  return name;
}

void ExpectSameTree(const CQVTNode& expected, const CQVTNode& actual, const std::wstring& where) {
  SCOPED_TRACE(WideToUtf8(where));
  EXPECT_EQ(actual.title, expected.title);
  EXPECT_EQ(actual.directory, expected.directory);
  EXPECT_EQ(actual.directoryAbsolute, expected.directoryAbsolute);
  EXPECT_EQ(actual.vmxFile, expected.vmxFile);
  EXPECT_EQ(actual.hardDiskList, expected.hardDiskList);
  EXPECT_EQ(actual.explanation, expected.explanation);
  EXPECT_EQ(actual.hasWindowPos, expected.hasWindowPos);
  if (expected.hasWindowPos) {
    EXPECT_EQ(actual.windowPos.x, expected.windowPos.x);
    EXPECT_EQ(actual.windowPos.y, expected.windowPos.y);
  }
  ASSERT_EQ(actual.children.size(), expected.children.size());
  for (std::size_t i = 0; i < actual.children.size(); ++i) {
    ASSERT_NE(actual.children[i], nullptr);
    EXPECT_EQ(actual.children[i]->parent, &actual);
    ExpectSameTree(*expected.children[i], *actual.children[i], where + L"/" + std::to_wstring(i));
  }
}

}  // namespace qvt::test
