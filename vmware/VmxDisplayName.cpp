#include "VmxDisplayName.h"

#include <new>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "ReplaceSet.h"
#include "TextForms.h"
#include "VmxEscape.h"
#include "VmxPatterns.h"
#include "VmxText.h"

namespace qvt {
namespace {

// The engine form of a path; false for a name Shift_JIS cannot spell, which
// the engine could not move.
bool EngineForm(const std::wstring& path, std::string* out) {
  try {
    *out = ToEnginePath(path);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void RemoveTemporary(const std::wstring& temp) {
  if (PathExists(temp)) DeletePath(temp, false);
}

}  // namespace

bool WriteVmxDisplayName(const CQVTNode& node) {
  const std::wstring full = node.directory + L"\\" + node.vmxFile;
  const std::wstring temp = full + L"_TEMP";

  // Everything the commit needs is checked before a byte is written.
  std::string liveEngine;
  std::string tempEngine;
  if (!EngineForm(full, &liveEngine) || !EngineForm(temp, &tempEngine)) return false;
  ReplaceSet set;
  ReplaceSetInit(&set);
  if (ReplaceEntrySet(&set.main, liveEngine.c_str()) != DISK_OK ||
      !PathAssign(&set.main.temp, tempEngine.c_str(), ENC_SHIFT_JIS)) {
    return false;
  }

  std::vector<std::string> lines;
  if (!ReadVmxFileLines(full, &lines)) return false;
  std::string title;
  VmxValueBytes(EscapeVmxLineValue(node.title), VmxValueUse::kLabel, &title);
  const boost::wregex& pattern = VmxFileOnlyPatterns().displayName;
  bool found = false;
  for (std::string& raw : lines) {
    const std::wstring text = AnsiToWide(raw);
    boost::wsmatch m;
    const VmxMatch result = MatchVmxLine(pattern, text, &m);
    if (result == VmxMatch::kGaveUp) return false;
    if (result == VmxMatch::kNo) continue;
    found = true;
    if (!SpliceVmxValue(&raw, text, static_cast<std::size_t>(m.position(1)),
                        static_cast<std::size_t>(m.length(1)), title)) {
      return false;
    }
  }
  if (!found) lines.push_back("displayName = \"" + title + "\"");

  if (!WriteVmxFileLines(temp, lines)) {
    RemoveTemporary(temp);
    return false;
  }
  set.created = 1;
  if (ReplaceSetCommit(&set, "_DEL", false) != DISK_OK) {
    RemoveTemporary(temp);
    return false;
  }
  return true;
}

}  // namespace qvt
