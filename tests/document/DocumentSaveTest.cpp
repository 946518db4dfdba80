#include <gtest/gtest.h>

#include <string>

#include "FileReplace.h"
#include "QvtDocument.h"
#include "TempFolder.h"
#include "TreeSupport.h"

namespace qvt {
namespace {

using test::ExpectSameTree;
using test::MakeChain;
using test::MakeNode;
using test::TempFolder;

// Counts the steps of a save (creating the temporary file, each write, the
// final replace) and fails the one numbered `failAt` (from 1; 0 fails none).
class CFaultyWriter : public CFileWriter {
 public:
  explicit CFaultyWriter(int failAt) : failAt_(failAt) {}
  int steps() const { return steps_; }
  int writes() const { return writes_; }

  bool Create(const std::wstring& path, platform::NativeFile* file) override {
    return Step() && CFileWriter::Create(path, file);
  }
  bool WriteAt(platform::NativeFile file, std::uint64_t offset, std::uint32_t length,
               const void* data) override {
    ++writes_;
    if (Step()) return CFileWriter::WriteAt(file, offset, length, data);
    // A write that fails halfway: part of the bytes reach the file.
    CFileWriter::WriteAt(file, offset, length / 2, data);
    return false;
  }
  bool MoveReplacing(const std::wstring& from, const std::wstring& to) override {
    return Step() && CFileWriter::MoveReplacing(from, to);
  }

 private:
  bool Step() { return ++steps_ != failAt_; }
  int failAt_;
  int steps_ = 0;
  int writes_ = 0;
};

// Big enough for several pieces of kReplaceChunkBytes.
std::shared_ptr<CQVTNode> LargeTree(const std::wstring& folder, const std::wstring& mark) {
  auto root = MakeNode(mark, folder + L"\\root");
  for (int i = 0; i < 4; ++i) {
    auto child = MakeNode(mark + std::to_wstring(i), folder + L"\\c" + std::to_wstring(i));
    child->explanation.assign(kReplaceChunkBytes / 2, L'説');  // three bytes each in UTF-8
    root->AppendChild(child);
  }
  return root;
}

TEST(DocumentSave, AnInterruptedSaveLeavesTheOldDocumentWhole) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"tree.qvt");
  auto oldTree = LargeTree(dir.Windows(), L"old");
  auto newTree = LargeTree(dir.Windows(), L"new");
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *oldTree));
  const std::string oldBytes = dir.ReadFile(L"tree.qvt");

  CFaultyWriter counter(0);
  ASSERT_TRUE(SaveDocument(dir.Windows(L"count.qvt"), kTypeVMware, *newTree, counter));
  ASSERT_GE(counter.writes(), 4) << "the document should take several writes";
  ASSERT_EQ(counter.steps(), counter.writes() + 2);

  for (int failAt = 1; failAt <= counter.steps(); ++failAt) {
    SCOPED_TRACE(failAt);
    CFaultyWriter faulty(failAt);
    EXPECT_FALSE(SaveDocument(path, kTypeVMware, *newTree, faulty));
    EXPECT_EQ(dir.ReadFile(L"tree.qvt"), oldBytes);
    EXPECT_FALSE(dir.Exists(L"tree.qvt_QVT_SAVE"));
    std::wstring type;
    std::shared_ptr<CQVTNode> loaded;
    ASSERT_TRUE(LoadDocument(path, &type, &loaded));
    ExpectSameTree(*oldTree, *loaded);
  }

  CFaultyWriter none(0);
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *newTree, none));
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  ASSERT_TRUE(LoadDocument(path, &type, &loaded));
  ExpectSameTree(*newTree, *loaded);
  EXPECT_FALSE(dir.Exists(L"tree.qvt_QVT_SAVE"));
}

TEST(DocumentSave, AFailedFirstSaveLeavesNoFile) {
  TempFolder dir;
  auto tree = LargeTree(dir.Windows(), L"t");
  for (int failAt : {1, 2, 3}) {
    CFaultyWriter faulty(failAt);
    EXPECT_FALSE(SaveDocument(dir.Windows(L"new.qvt"), kTypeVMware, *tree, faulty));
    EXPECT_FALSE(dir.Exists(L"new.qvt"));
    EXPECT_FALSE(dir.Exists(L"new.qvt_QVT_SAVE"));
  }
}

TEST(DocumentSave, FailsWhereNoFileCanBeMade) {
  TempFolder dir;
  auto root = MakeNode(L"r", dir.Windows(L"r"));
  EXPECT_FALSE(SaveDocument(dir.Windows(L"missing\\tree.qvt"), kTypeVMware, *root));
  EXPECT_FALSE(SaveDocument(L"Q:\\no such drive\\tree.qvt", kTypeVMware, *root));
  EXPECT_FALSE(SaveDocument(L"", kTypeVMware, *root));
}

TEST(DocumentSave, OverwritesTheDocumentAndLeavesNothingBeside) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"tree.qvt");
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *LargeTree(dir.Windows(), L"long")));
  auto small = MakeNode(L"small", dir.Windows(L"s"));
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *small));
  std::string expected;
  ASSERT_TRUE(DocumentText(kTypeVMware, *small, path, &expected));
  EXPECT_EQ(dir.ReadFile(L"tree.qvt"), expected);
  EXPECT_FALSE(dir.Exists(L"tree.qvt_QVT_SAVE"));
}

TEST(DocumentSave, ADeepestReadableTreeSavesAndLoads) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"deep.qvt");
  auto chain = MakeChain(kMaxNodeLevel + 1, dir.Windows());
  CQVTNode* leaf = chain.get();
  while (!leaf->children.empty()) leaf = leaf->children[0].get();
  leaf->hasWindowPos = true;  // windowPos nests as deep as hardDiskList
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *chain));
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  ASSERT_TRUE(LoadDocument(path, &type, &loaded));
  ExpectSameTree(*chain, *loaded);
}

TEST(DocumentSave, RefusesATreeTooDeepToBeOpenedAgain) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"deep.qvt");
  auto good = MakeNode(L"good", dir.Windows(L"good"));
  ASSERT_TRUE(SaveDocument(path, kTypeVMware, *good));
  const std::string goodBytes = dir.ReadFile(L"deep.qvt");

  auto chain = MakeChain(kMaxNodeLevel + 2, dir.Windows());
  EXPECT_FALSE(SaveDocument(path, kTypeVMware, *chain));
  EXPECT_EQ(dir.ReadFile(L"deep.qvt"), goodBytes);

  // The limit is tinyxml2's: the same tree written without the check would
  // not open again.
  std::string body;
  CQVTNode* leaf = chain.get();
  while (!leaf->children.empty()) leaf = leaf->children[0].get();
  CQVTNode* parent = leaf->parent;
  auto cut = parent->children[0];
  parent->children.clear();
  ASSERT_TRUE(WriteNode(*chain, path, &body));
  std::string leafBlock;
  ASSERT_TRUE(WriteNode(*cut, path, &leafBlock));
  const std::string emptyList = "<VMwareNodeList>\r\n</VMwareNodeList>\r\n";
  const std::size_t at = body.rfind(emptyList);
  ASSERT_NE(at, std::string::npos);
  body.insert(at + std::string("<VMwareNodeList>\r\n").size(), leafBlock);
  const std::string text = "<qvt>\r\n<type>VMware</type>\r\n" + body + "</qvt>\r\n";
  std::wstring type;
  std::shared_ptr<CQVTNode> loaded;
  EXPECT_FALSE(ParseDocument(text, path, &type, &loaded));
}

TEST(DocumentSave, RefusesCyclesAndEmptyChildren) {
  TempFolder dir;
  const std::wstring path = dir.Windows(L"bad.qvt");
  auto withNull = MakeNode(L"r", dir.Windows(L"r"));
  withNull->children.push_back(nullptr);
  EXPECT_FALSE(SaveDocument(path, kTypeVMware, *withNull));

  auto cyclic = MakeNode(L"r", dir.Windows(L"r"));
  auto child = MakeNode(L"c", dir.Windows(L"c"));
  cyclic->AppendChild(child);
  child->children.push_back(cyclic);
  EXPECT_FALSE(SaveDocument(path, kTypeVMware, *cyclic));
  child->children.clear();  // lets the two nodes go
  EXPECT_FALSE(dir.Exists(L"bad.qvt"));
}

}  // namespace
}  // namespace qvt
