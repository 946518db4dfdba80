#include "QvtNode.h"

#include <utility>

namespace qvt {

void CQVTNode::AppendChild(std::shared_ptr<CQVTNode> child) {
  child->parent = this;
  children.push_back(std::move(child));
}

}  // namespace qvt
