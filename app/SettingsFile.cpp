#include "SettingsFile.h"

#include <new>
#include <utility>

#include "PathRules.h"
#include "StoredPath.h"
#include "XmlText.h"

namespace qvt {
namespace {

using tinyxml2::XMLElement;

std::wstring FolderWithBackslash(const std::wstring& folder) {
  if (folder.empty() || folder.back() == L'\\') return folder;
  return folder + L'\\';
}

// Optional values: a missing or unreadable one takes the reader's default.
std::wstring OptionalText(const XMLElement& root, const char* name,
                          const std::wstring& fallback = std::wstring()) {
  std::wstring value;
  return xml::ChildText(root, name, &value) ? value : fallback;
}

bool OptionalBool(const XMLElement& root, const char* name, bool fallback) {
  bool value = fallback;
  return xml::ChildBool(root, name, &value) ? value : fallback;
}

std::uint32_t OptionalUnsigned(const XMLElement& root, const char* name) {
  std::uint32_t value = 0;
  return xml::ChildUnsigned(root, name, &value) ? value : 0;
}

std::int32_t OptionalSigned(const XMLElement& root, const char* name) {
  std::int32_t value = 0;
  return xml::ChildSigned(root, name, &value) ? value : 0;
}

bool ReadPoint(const XMLElement& parent, const char* name, PointRecord* point) {
  const XMLElement* e = parent.FirstChildElement(name);
  return e != nullptr && xml::ChildSigned(*e, "x", &point->x) &&
         xml::ChildSigned(*e, "y", &point->y);
}

bool ReadPlacement(const XMLElement& windowData, WindowPlacementRecord* placement) {
  const XMLElement* e = windowData.FirstChildElement("windowPlacement");
  if (e == nullptr) return false;
  const XMLElement* rect = e->FirstChildElement("rcNormalPosition");
  return xml::ChildUnsigned(*e, "length", &placement->length) &&
         xml::ChildUnsigned(*e, "flags", &placement->flags) &&
         xml::ChildUnsigned(*e, "showCmd", &placement->showCmd) &&
         ReadPoint(*e, "ptMinPosition", &placement->ptMinPosition) &&
         ReadPoint(*e, "ptMaxPosition", &placement->ptMaxPosition) && rect != nullptr &&
         xml::ChildSigned(*rect, "left", &placement->rcNormalPosition.left) &&
         xml::ChildSigned(*rect, "top", &placement->rcNormalPosition.top) &&
         xml::ChildSigned(*rect, "right", &placement->rcNormalPosition.right) &&
         xml::ChildSigned(*rect, "bottom", &placement->rcNormalPosition.bottom);
}

// The placement takes effect as soon as it is whole, before the bands; each
// band takes effect as it is read.
bool ReadWindowData(const XMLElement& windowData, SettingsFileRead* read) {
  WindowPlacementRecord placement;
  if (!ReadPlacement(windowData, &placement)) return false;
  read->placement = placement;
  read->placementRead = true;

  const XMLElement* list = windowData.FirstChildElement("bandInfoList");
  if (list == nullptr) return false;
  for (const XMLElement* e = list->FirstChildElement("bandInfo"); e != nullptr;
       e = e->NextSiblingElement()) {
    BandRecord band;
    std::uint32_t newRow = 0;
    if (!xml::ChildUnsigned(*e, "id", &band.id) || !xml::ChildUnsigned(*e, "cx", &band.cx) ||
        !xml::ChildUnsigned(*e, "break", &newRow)) {
      return false;
    }
    band.newRow = newRow != 0;
    read->bands.push_back(band);
  }
  return true;
}

void ReadOptionalSettings(const XMLElement& root, Settings* s, HardDiskExecuteSettings* h) {
  s->secondExecute = OptionalText(root, "secondExecute");
  s->secondExecuteLeafNodeOnly = OptionalBool(root, "secondExecuteLeafNodeOnly", false);
  s->secondExecuteName = OptionalText(root, "secondExecuteName", kDefaultSecondExecuteName);
  s->executeFunction = OptionalUnsigned(root, "executeFunction");
  s->renameVmxExtension = OptionalBool(root, "renameVmxExtension", false);
  s->fileDeleteAllowUndo = OptionalBool(root, "fileDeleteAllowUndo", false);
  s->setDisplayName = OptionalBool(root, "setDisplayName", true);
  s->createIndependentDiskChild = OptionalBool(root, "createIndependentDiskChild", false);
  s->preventFragment = OptionalBool(root, "preventFragment", false);
  s->preferencesIni = OptionalText(root, "preferencesIni");
  s->datQvtAbsolute = OptionalBool(root, "datQvtAbsolute", true);
  s->qvtNodeAbsolute = OptionalBool(root, "qvtNodeAbsolute", false);
  h->hardDiskExecute1Path = OptionalText(root, "hardDiskExecute1Path");
  h->hardDiskExecute1LeafNodeOnly = OptionalBool(root, "hardDiskExecute1LeafNodeOnly", false);
  h->hardDiskExecute1Name = OptionalText(root, "hardDiskExecute1Name");
  h->hardDiskExecute2Path = OptionalText(root, "hardDiskExecute2Path");
  h->hardDiskExecute2LeafNodeOnly = OptionalBool(root, "hardDiskExecute2LeafNodeOnly", false);
  h->hardDiskExecute2Name = OptionalText(root, "hardDiskExecute2Name");
}

bool ReadStartList(const XMLElement& root, const std::wstring& folder,
                   std::vector<StartListEntry>* startList) {
  const XMLElement* list = root.FirstChildElement("qvtList");
  if (list == nullptr) return false;
  std::vector<StartListEntry> entries;
  for (const XMLElement* e = list->FirstChildElement("qvt"); e != nullptr;
       e = e->NextSiblingElement()) {
    StartListEntry entry;
    std::wstring stored;
    if (!xml::ChildText(*e, "title", &entry.title) || !xml::ChildText(*e, "path", &stored)) {
      return false;
    }
    entry.pathAbsolute = IsAbsolutePath(stored);
    if (entry.pathAbsolute) {
      entry.path = std::move(stored);
    } else {
      if (!ResolveRelative(folder, stored, &entry.path)) return false;
    }
    entries.push_back(std::move(entry));
  }
  *startList = std::move(entries);
  return true;
}

// Reads in the order the file is written, so that a failure leaves exactly
// what came before it in force.
bool ReadInto(const XMLElement& root, const std::wstring& folder, SettingsFileRead* read) {
  if (const XMLElement* windowData = root.FirstChildElement("windowData")) {
    if (!ReadWindowData(*windowData, read)) return false;
  }
  if (!xml::ChildText(root, "VMwarePlayer", &read->settings.VMwarePlayer)) return false;
  ReadOptionalSettings(root, &read->settings, &read->hardDisk);
  read->tabIndex = OptionalSigned(root, "tabIndex");
  return ReadStartList(root, folder, &read->startList);
}

void AppendPoint(std::string* out, const char* name, const PointRecord& point) {
  xml::AppendLine(out, std::string("<") + name + ">");
  xml::AppendSigned(out, "x", point.x);
  xml::AppendSigned(out, "y", point.y);
  xml::AppendLine(out, std::string("</") + name + ">");
}

void AppendWindowData(std::string* out, const SettingsFileContents& c) {
  const WindowPlacementRecord& p = c.placement;
  xml::AppendLine(out, "<windowData>");
  xml::AppendLine(out, "<windowPlacement>");
  xml::AppendUnsigned(out, "length", p.length);
  xml::AppendUnsigned(out, "flags", p.flags);
  xml::AppendUnsigned(out, "showCmd", p.showCmd);
  AppendPoint(out, "ptMinPosition", p.ptMinPosition);
  AppendPoint(out, "ptMaxPosition", p.ptMaxPosition);
  xml::AppendLine(out, "<rcNormalPosition>");
  xml::AppendSigned(out, "left", p.rcNormalPosition.left);
  xml::AppendSigned(out, "top", p.rcNormalPosition.top);
  xml::AppendSigned(out, "right", p.rcNormalPosition.right);
  xml::AppendSigned(out, "bottom", p.rcNormalPosition.bottom);
  xml::AppendLine(out, "</rcNormalPosition>");
  xml::AppendLine(out, "</windowPlacement>");
  xml::AppendLine(out, "<bandInfoList>");
  for (const BandRecord& band : c.bands) {
    xml::AppendLine(out, "<bandInfo>");
    xml::AppendUnsigned(out, "id", band.id);
    xml::AppendUnsigned(out, "cx", band.cx);
    xml::AppendBool(out, "break", band.newRow);
    xml::AppendLine(out, "</bandInfo>");
  }
  xml::AppendLine(out, "</bandInfoList>");
  xml::AppendLine(out, "</windowData>");
}

void AppendSettings(std::string* out, const Settings& s, const HardDiskExecuteSettings& h) {
  xml::AppendTextElement(out, "VMwarePlayer", s.VMwarePlayer);
  xml::AppendTextElement(out, "secondExecute", s.secondExecute);
  xml::AppendBool(out, "secondExecuteLeafNodeOnly", s.secondExecuteLeafNodeOnly);
  xml::AppendTextElement(out, "secondExecuteName", s.secondExecuteName);
  xml::AppendUnsigned(out, "executeFunction", s.executeFunction);
  xml::AppendBool(out, "renameVmxExtension", s.renameVmxExtension);
  xml::AppendBool(out, "fileDeleteAllowUndo", s.fileDeleteAllowUndo);
  xml::AppendBool(out, "setDisplayName", s.setDisplayName);
  xml::AppendBool(out, "createIndependentDiskChild", s.createIndependentDiskChild);
  xml::AppendBool(out, "preventFragment", s.preventFragment);
  xml::AppendTextElement(out, "preferencesIni", s.preferencesIni);
  xml::AppendBool(out, "datQvtAbsolute", s.datQvtAbsolute);
  xml::AppendBool(out, "qvtNodeAbsolute", s.qvtNodeAbsolute);
  xml::AppendTextElement(out, "hardDiskExecute1Path", h.hardDiskExecute1Path);
  xml::AppendBool(out, "hardDiskExecute1LeafNodeOnly", h.hardDiskExecute1LeafNodeOnly);
  xml::AppendTextElement(out, "hardDiskExecute1Name", h.hardDiskExecute1Name);
  xml::AppendTextElement(out, "hardDiskExecute2Path", h.hardDiskExecute2Path);
  xml::AppendBool(out, "hardDiskExecute2LeafNodeOnly", h.hardDiskExecute2LeafNodeOnly);
  xml::AppendTextElement(out, "hardDiskExecute2Name", h.hardDiskExecute2Name);
}

}  // namespace

std::wstring SettingsFilePath(const std::wstring& executableFolder) {
  if (executableFolder.empty()) return std::wstring();
  return FolderWithBackslash(executableFolder) + L"QVT.DAT";
}

bool ParseSettingsText(const std::string& bytes, const std::wstring& executableFolder,
                       SettingsFileRead* read) {
  *read = SettingsFileRead{};
  tinyxml2::XMLDocument document;
  const XMLElement* root = nullptr;
  if (xml::ParseBytes(bytes, &document)) root = document.FirstChildElement("qvtData");
  const bool ok = root != nullptr && ReadInto(*root, FolderWithBackslash(executableFolder), read);
  if (!ok) read->startList.clear();
  if (read->startList.empty()) read->tabIndex = -1;
  return ok;
}

bool ReadSettingsFile(const std::wstring& executableFolder, SettingsFileRead* read) {
  *read = SettingsFileRead{};
  std::string bytes;
  const std::wstring path = SettingsFilePath(executableFolder);
  return !path.empty() && xml::ReadFileBytes(path, &bytes) &&
         ParseSettingsText(bytes, executableFolder, read);
}

std::wstring StoredDocumentPath(const OpenTabRecord& tab, const std::wstring& executableFolder) {
  std::wstring text;
  if (!tab.datPathAbsolute &&
      RelativeFormLeadingBack(FolderWithBackslash(executableFolder), tab.documentPath, &text)) {
    return text;
  }
  return tab.documentPath;
}

std::string SettingsText(const SettingsFileContents& contents,
                         const std::wstring& executableFolder) {
  std::string out;
  xml::AppendLine(&out, xml::kDeclaration);
  xml::AppendLine(&out, "<qvtData>");
  AppendWindowData(&out, contents);
  AppendSettings(&out, contents.settings, contents.hardDisk);
  xml::AppendSigned(&out, "tabIndex", contents.tabIndex);
  xml::AppendLine(&out, "<qvtList>");
  for (const OpenTabRecord& tab : contents.tabs) {
    xml::AppendLine(&out, "<qvt>");
    xml::AppendTextElement(&out, "title", tab.title);
    xml::AppendTextElement(&out, "path", StoredDocumentPath(tab, executableFolder));
    xml::AppendLine(&out, "</qvt>");
  }
  xml::AppendLine(&out, "</qvtList>");
  xml::AppendLine(&out, "</qvtData>");
  return out;
}

bool WriteSettingsFile(const std::wstring& executableFolder, const SettingsFileContents& contents,
                       CFileWriter& files) {
  const std::wstring path = SettingsFilePath(executableFolder);
  if (path.empty()) return false;
  std::string text;
  try {
    text = SettingsText(contents, executableFolder);
  } catch (const std::bad_alloc&) {
    return false;  // called while the window goes: nothing may escape
  }
  return ReplaceFileContents(path, text, files);
}

bool WriteSettingsFile(const std::wstring& executableFolder, const SettingsFileContents& contents) {
  CFileWriter files;
  return WriteSettingsFile(executableFolder, contents, files);
}

}  // namespace qvt
