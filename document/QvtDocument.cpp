#include "QvtDocument.h"

#include <utility>

#include "PathRules.h"
#include "StoredPath.h"
#include "XmlText.h"

namespace qvt {
namespace {

bool IsDriveOnly(const std::wstring& path) {
  return path.size() == 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

std::string Utf8OfType(const std::wstring& typeWord) {
  return typeWord == kTypeVMware ? "VMware" : "VirtualPC";
}

bool IsTypeWord(const std::wstring& text) { return text == kTypeVMware || text == kTypeVirtualPC; }

// Memory holds CR LF for the multi-line edit control; tinyxml2 has already
// turned the file's CR LF into LF.
std::wstring WithCrLf(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (wchar_t c : text) {
    if (c == L'\n') out.push_back(L'\r');
    out.push_back(c);
  }
  return out;
}

bool ReadHardDisks(const tinyxml2::XMLElement& list, std::vector<std::wstring>* disks) {
  for (const tinyxml2::XMLElement* e = list.FirstChildElement("hardDisk"); e != nullptr;
       e = e->NextSiblingElement()) {
    std::wstring entry;
    const tinyxml2::XMLNode* first = e->FirstChild();
    // An entry without text is an empty entry; text that is not UTF-8 is damage.
    if (first != nullptr && first->ToText() != nullptr && !xml::ElementText(*e, &entry)) {
      return false;
    }
    disks->push_back(std::move(entry));
  }
  return true;
}

bool WriteNodeAt(const CQVTNode& node, const std::wstring& documentPath, int level,
                 std::string* out) {
  if (level > kMaxNodeLevel) return false;
  xml::AppendLine(out, "<VMwareNode>");
  xml::AppendTextElement(out, "title", node.title);
  xml::AppendTextElement(out, "directory", StoredDirectory(node, documentPath));
  xml::AppendTextElement(out, "vmxFile", node.vmxFile);
  xml::AppendLine(out, "<hardDiskList>");
  for (const std::wstring& disk : node.hardDiskList) xml::AppendTextElement(out, "hardDisk", disk);
  xml::AppendLine(out, "</hardDiskList>");
  xml::AppendTextElement(out, "explanation", node.explanation);
  if (node.hasWindowPos) {
    xml::AppendLine(out, "<windowPos>");
    xml::AppendSigned(out, "x", node.windowPos.x);
    xml::AppendSigned(out, "y", node.windowPos.y);
    xml::AppendLine(out, "</windowPos>");
  }
  xml::AppendLine(out, "<VMwareNodeList>");
  for (const std::shared_ptr<CQVTNode>& child : node.children) {
    if (child == nullptr || !WriteNodeAt(*child, documentPath, level + 1, out)) return false;
  }
  xml::AppendLine(out, "</VMwareNodeList>");
  xml::AppendLine(out, "</VMwareNode>");
  return true;
}

}  // namespace

std::wstring DocumentFolder(const std::wstring& documentPath) {
  std::wstring folder;
  std::wstring name;
  SplitFileName(documentPath, &folder, &name);
  return folder;
}

std::wstring StoredDirectory(const CQVTNode& node, const std::wstring& documentPath) {
  std::wstring text = node.directory;
  if (!node.directoryAbsolute) {
    std::wstring relative;
    if (RelativeFormLeadingBack(documentPath, node.directory + L'\\', &relative)) {
      text = std::move(relative);
    } else {
      StripTrailingBackslash(&text);
    }
  }
  if (IsDriveOnly(text)) text += L'\\';
  return text;
}

bool ResolveDirectory(const std::wstring& stored, const std::wstring& documentFolder,
                      std::wstring* directory, bool* absolute) {
  std::wstring path;
  const bool isAbsolute = IsAbsolutePath(stored);
  if (isAbsolute) {
    path = stored;
  } else {
    if (!ResolveRelative(documentFolder, stored, &path)) return false;
  }
  // A drive root is held as X:, like every folder without its backslash.
  if (path.size() == 3 && IsDriveOnly(path.substr(0, 2)) && path[2] == L'\\') path.pop_back();
  *directory = std::move(path);
  *absolute = isAbsolute;
  return true;
}

bool ParseNode(CQVTNode* node, const tinyxml2::XMLElement& element, CQVTNode* parent,
               const std::wstring& documentFolder) {
  std::wstring stored;
  if (!xml::ChildText(element, "title", &node->title)) return false;
  if (!xml::ChildText(element, "directory", &stored) ||
      !ResolveDirectory(stored, documentFolder, &node->directory, &node->directoryAbsolute)) {
    return false;
  }
  if (!xml::ChildText(element, "vmxFile", &node->vmxFile)) return false;

  const tinyxml2::XMLElement* disks = element.FirstChildElement("hardDiskList");
  if (disks == nullptr || !ReadHardDisks(*disks, &node->hardDiskList)) return false;

  std::wstring explanation;
  if (!xml::ChildText(element, "explanation", &explanation)) return false;
  node->explanation = WithCrLf(explanation);

  node->windowPos = WindowPos{};
  const tinyxml2::XMLElement* position = element.FirstChildElement("windowPos");
  node->hasWindowPos = position != nullptr;
  if (position != nullptr && (!xml::ChildSigned(*position, "x", &node->windowPos.x) ||
                              !xml::ChildSigned(*position, "y", &node->windowPos.y))) {
    return false;
  }
  node->parent = parent;

  const tinyxml2::XMLElement* list = element.FirstChildElement("VMwareNodeList");
  if (list == nullptr) return false;
  // tinyxml2's nesting limit bounds this recursion.
  for (const tinyxml2::XMLElement* e = list->FirstChildElement("VMwareNode"); e != nullptr;
       e = e->NextSiblingElement()) {
    auto child = std::make_shared<CQVTNode>();
    if (!ParseNode(child.get(), *e, node, documentFolder)) return false;
    node->children.push_back(std::move(child));
  }
  return true;
}

bool ParseDocument(const std::string& bytes, const std::wstring& documentPath,
                   std::wstring* typeWord, std::shared_ptr<CQVTNode>* root) {
  tinyxml2::XMLDocument xmlDocument;
  if (!xml::ParseBytes(bytes, &xmlDocument)) return false;

  std::wstring type = kTypeVMware;
  const tinyxml2::XMLElement* rootElement = nullptr;
  if (const tinyxml2::XMLElement* envelope = xmlDocument.FirstChildElement("qvt")) {
    if (!xml::ChildText(*envelope, "type", &type) || !IsTypeWord(type)) return false;
    rootElement = envelope->FirstChildElement("VMwareNode");
  } else {
    // Files from before the envelope hold one VMware tree.
    rootElement = xmlDocument.FirstChildElement("VMwareNode");
  }
  if (rootElement == nullptr) return false;

  auto node = std::make_shared<CQVTNode>();
  if (!ParseNode(node.get(), *rootElement, nullptr, DocumentFolder(documentPath))) return false;
  *typeWord = std::move(type);
  *root = std::move(node);
  return true;
}

bool LoadDocument(const std::wstring& documentPath, std::wstring* typeWord,
                  std::shared_ptr<CQVTNode>* root) {
  std::string bytes;
  return xml::ReadFileBytes(documentPath, &bytes) &&
         ParseDocument(bytes, documentPath, typeWord, root);
}

bool WriteNode(const CQVTNode& node, const std::wstring& documentPath, std::string* out) {
  return WriteNodeAt(node, documentPath, 0, out);
}

bool DocumentText(const std::wstring& typeWord, const CQVTNode& root,
                  const std::wstring& documentPath, std::string* out) {
  if (!IsTypeWord(typeWord)) return false;
  std::string text;
  xml::AppendLine(&text, xml::kDeclaration);
  xml::AppendLine(&text, "<qvt>");
  xml::AppendPlainElement(&text, "type", Utf8OfType(typeWord));
  if (!WriteNode(root, documentPath, &text)) return false;
  xml::AppendLine(&text, "</qvt>");
  *out = std::move(text);
  return true;
}

bool SaveDocument(const std::wstring& documentPath, const std::wstring& typeWord,
                  const CQVTNode& root, CFileWriter& files) {
  std::string text;
  try {
    if (!DocumentText(typeWord, root, documentPath, &text)) return false;
  } catch (const std::bad_alloc&) {
    // A relative form over the path limit, or no memory: the old file stays.
    return false;
  }
  return ReplaceFileContents(documentPath, text, files);
}

bool SaveDocument(const std::wstring& documentPath, const std::wstring& typeWord,
                  const CQVTNode& root) {
  CFileWriter files;
  return SaveDocument(documentPath, typeWord, root, files);
}

}  // namespace qvt
