// One virtual machine of a tree document, and the tree that the nodes make.
#ifndef QVT_DOCUMENT_QVTNODE_H
#define QVT_DOCUMENT_QVTNODE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvt {

struct WindowPos {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// Nodes are shared: the document frame holds the root, every node holds its
// children, and `parent` points back without owning (so a tree frees itself
// when its root goes). Tree view items keep plain pointers and live no
// longer than the tree.
class CQVTNode {
 public:
  std::wstring title;
  // Absolute, without a trailing backslash, whatever form the file stores.
  std::wstring directory;
  // How the file stores `directory`: as it is, or relative to the document.
  bool directoryAbsolute = false;
  // Relative to `directory`; the full path is directory + "\" + vmxFile.
  std::wstring vmxFile;
  // As the configuration names them, in the backend's order.
  std::vector<std::wstring> hardDiskList;
  // CR LF line ends in memory, as a multi-line edit control wants them.
  std::wstring explanation;
  bool hasWindowPos = false;
  // Where the launched machine's window goes; meaningful with hasWindowPos.
  WindowPos windowPos;
  CQVTNode* parent = nullptr;
  // Display order, which is also the file order.
  std::vector<std::shared_ptr<CQVTNode>> children;
  // Only while siblings are being reordered; never stored.
  std::int32_t sortKey = 0;

  bool IsLeaf() const { return children.empty(); }
  // Puts `child` last among the children and makes this node its parent.
  void AppendChild(std::shared_ptr<CQVTNode> child);
};

}  // namespace qvt

#endif
