#include "VmxDiskList.h"

#include "TextForms.h"
#include "VmxEscape.h"
#include "VmxPatterns.h"
#include "VmxSlots.h"
#include "VmxText.h"

namespace qvt {

bool ReadVmxDiskList(const std::wstring& path, bool includeIndependent,
                     std::vector<std::wstring>* disks, std::wstring* displayName) {
  std::vector<std::string> lines;
  if (!ReadVmxFileLines(path, &lines)) return false;

  const VmxKeyPatterns& keys = VmxPatternsFor(VmxLineEnd::kPlain);
  const boost::wregex& displayPattern = VmxFileOnlyPatterns().displayName;
  VmxSlotTable table;
  std::wstring rawDisplayName;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::wstring text = AnsiToWide(lines[i]);
    boost::wsmatch m;
    if (MatchVmxLine(VmxLineGrammar(), text, &m) != VmxMatch::kYes) return false;
    const VmxMatch controller = table.Scan(keys, text, i);
    if (controller == VmxMatch::kGaveUp) return false;
    if (controller == VmxMatch::kYes) continue;
    const VmxMatch display = MatchVmxLine(displayPattern, text, &m);
    if (display == VmxMatch::kGaveUp) return false;
    if (display == VmxMatch::kYes) rawDisplayName = m.str(1);
  }

  std::vector<std::wstring> names;
  for (const VmxSlotTable::Disk& disk : table.HardDisks(includeIndependent)) {
    std::wstring name;
    names.push_back(UnescapeVmxValue(disk.slot->fileName, &name) ? name : disk.slot->fileName);
  }
  std::wstring name;
  if (!UnescapeVmxValue(rawDisplayName, &name)) name.clear();
  *disks = std::move(names);
  if (displayName != nullptr) *displayName = std::move(name);
  return true;
}

}  // namespace qvt
