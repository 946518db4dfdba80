// The .qvt tree document: reading it into a tree of CQVTNode and writing a
// tree back, byte for byte in the program's own format (UTF-8 without BOM,
// CR LF, every text value in CDATA).
#ifndef QVT_DOCUMENT_QVTDOCUMENT_H
#define QVT_DOCUMENT_QVTDOCUMENT_H

#include <tinyxml2.h>

#include <memory>
#include <string>

#include "FileReplace.h"
#include "QvtNode.h"

namespace qvt {

// The type words; each selects its backend.
inline constexpr wchar_t kTypeVMware[] = L"VMware";
inline constexpr wchar_t kTypeVirtualPC[] = L"VirtualPC";

// The deepest node level (the root is 0) that a saved document can hold and
// still be opened again. tinyxml2 reads at most TINYXML2_MAX_ELEMENT_DEPTH - 2
// nested elements, and a node at level d needs 4 + 2d of them (qvt, the node
// blocks and node lists above it, its own block, hardDiskList, hardDisk).
inline constexpr int kMaxNodeLevel = (TINYXML2_MAX_ELEMENT_DEPTH - 2 - 4) / 2;

// documentPath up to and including its last backslash; empty without one.
std::wstring DocumentFolder(const std::wstring& documentPath);

// The `directory` text the file stores for `node`: the folder itself when
// the node is absolute, else its form relative to the document when the
// drive is the same. A relative form is kept only when it leads back to the
// same folder (two network shares, for one, share the "drive" \ without
// sharing a root); otherwise the folder itself is stored. A drive root is
// stored as X:\, the form that reads back as absolute.
std::wstring StoredDirectory(const CQVTNode& node, const std::wstring& documentPath);
// A stored `directory` text back to the absolute folder, and whether the node
// counts as absolute from now on. False when a relative text cannot be
// normalised (a ".." above the drive).
bool ResolveDirectory(const std::wstring& stored, const std::wstring& documentFolder,
                      std::wstring* directory, bool* absolute);

// Reads one node block into `node` with its subtree; `parent` becomes its
// parent. False for any missing or malformed element in the subtree.
bool ParseNode(CQVTNode* node, const tinyxml2::XMLElement& element, CQVTNode* parent,
               const std::wstring& documentFolder);
// The document in `bytes`, read as if it were the file at documentPath.
// On failure `typeWord` and `root` are left as they were.
bool ParseDocument(const std::string& bytes, const std::wstring& documentPath,
                   std::wstring* typeWord, std::shared_ptr<CQVTNode>* root);
// Reads the file; false when it cannot be opened, parsed or understood, in
// which case the caller shows IDS_QVT_OPEN_FAILED with documentPath.
bool LoadDocument(const std::wstring& documentPath, std::wstring* typeWord,
                  std::shared_ptr<CQVTNode>* root);

// Appends the node block of `node` and its subtree. False, with `out` holding
// a partial block, for a tree deeper than kMaxNodeLevel below `node` (a
// cycle among the children is one) or a null child.
bool WriteNode(const CQVTNode& node, const std::wstring& documentPath, std::string* out);
// The whole file. False for a type word other than the two above and for
// the trees WriteNode refuses: a file that could not be opened again is
// never written.
bool DocumentText(const std::wstring& typeWord, const CQVTNode& root,
                  const std::wstring& documentPath, std::string* out);
// Writes the document so that a failure at any point leaves the previous
// file whole. False when the document could not be saved; the caller then
// shows "QVTファイルに保存できませんでした。" with the error icon.
bool SaveDocument(const std::wstring& documentPath, const std::wstring& typeWord,
                  const CQVTNode& root, CFileWriter& files);
bool SaveDocument(const std::wstring& documentPath, const std::wstring& typeWord,
                  const CQVTNode& root);

}  // namespace qvt

#endif
