#include "VmxStateFiles.h"

#include <vector>

#include "TextForms.h"
#include "VmxEscape.h"
#include "VmxPatterns.h"
#include "VmxText.h"

namespace qvt {
namespace {

// Notes the value of the first line that matches `pattern`. False when the
// line cannot be decided or its value cannot be unescaped.
bool TakeFirst(const boost::wregex& pattern, const std::wstring& text, bool* found,
               std::wstring* value) {
  if (*found) return true;
  boost::wsmatch m;
  const VmxMatch result = MatchVmxLine(pattern, text, &m);
  if (result == VmxMatch::kGaveUp) return false;
  if (result == VmxMatch::kNo) return true;
  *found = true;
  return UnescapeVmxValue(m.str(1), value);
}

}  // namespace

bool ReadVmxStateFiles(const std::wstring& path, std::wstring* suspendFile,
                       std::wstring* nvramFile) {
  std::vector<std::string> lines;
  if (!ReadVmxFileLines(path, &lines)) return false;

  const boost::wregex& suspendPattern = VmxFileOnlyPatterns().suspendFile;
  const boost::wregex& nvramPattern = VmxPatternsFor(VmxLineEnd::kPlain).nvram;
  bool suspendFound = false;
  bool nvramFound = false;
  std::wstring suspend;
  std::wstring nvram;
  for (std::size_t i = 0; i < lines.size() && !(suspendFound && nvramFound); ++i) {
    const std::wstring text = AnsiToWide(lines[i]);
    if (!TakeFirst(suspendPattern, text, &suspendFound, &suspend) ||
        !TakeFirst(nvramPattern, text, &nvramFound, &nvram)) {
      return false;
    }
  }
  *suspendFile = std::move(suspend);
  *nvramFile = std::move(nvram);
  return true;
}

}  // namespace qvt
