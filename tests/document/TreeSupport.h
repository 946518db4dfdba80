// Building small trees and comparing them field by field.
#ifndef QVT_TESTS_DOCUMENT_TREESUPPORT_H
#define QVT_TESTS_DOCUMENT_TREESUPPORT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "QvtNode.h"

namespace qvt::test {

std::shared_ptr<CQVTNode> MakeNode(const std::wstring& title, const std::wstring& directory,
                                   bool directoryAbsolute = false);
// A chain: each node the only child of the one before; `levels` nodes.
std::shared_ptr<CQVTNode> MakeChain(int levels, const std::wstring& folder);
// Every stored field, the children in order, and each child's parent
// pointing at the node that holds it; `where` names the node in failures.
void ExpectSameTree(const CQVTNode& expected, const CQVTNode& actual,
                    const std::wstring& where = L"root");

// A test name from a case's `what`: its letters and digits.
std::string NameFromWords(const char* what);
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& param) {
  return NameFromWords(param.param.what);
}

}  // namespace qvt::test

#endif
