#include "VmxDiskRewrite.h"

#include "PathRules.h"
#include "TextForms.h"
#include "VmxEscape.h"
#include "VmxText.h"

namespace qvt {
namespace {

// The index of the first old disk equal to `name` ignoring case, or -1.
std::ptrdiff_t FindOldDisk(const std::vector<std::wstring>& oldDisks, const std::wstring& name) {
  for (std::size_t i = 0; i < oldDisks.size(); ++i) {
    if (EqualsNoCase(oldDisks[i], name)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

}  // namespace

bool RewriteVmxDisks(const VmxSlotTable& table, bool includeIndependent,
                     const std::vector<std::wstring>& oldDisks,
                     const std::vector<std::wstring>& newDisks,
                     const std::set<wchar_t>& scsiBusesWithModel, std::vector<std::string>* lines,
                     std::vector<std::int32_t>* adapterKinds) {
  if (oldDisks.size() != newDisks.size()) return false;
  if (adapterKinds != nullptr) adapterKinds->assign(newDisks.size(), kNoAdapterKind);
  for (const VmxSlotTable::Disk& disk : table.HardDisks(includeIndependent)) {
    if (disk.slot->fileNameLines.empty()) return false;
    std::ptrdiff_t index = -1;
    for (const VmxValueRef& where : disk.slot->fileNameLines) {
      if (where.line >= lines->size()) return false;
      std::string& raw = (*lines)[where.line];
      const std::wstring text = AnsiToWide(raw);
      if (where.position > text.size() || where.length > text.size() - where.position) {
        return false;
      }
      std::wstring name;
      if (!UnescapeVmxValue(text.substr(where.position, where.length), &name)) return false;
      index = FindOldDisk(oldDisks, name);
      if (index < 0) return false;
      std::string bytes;
      if (!VmxValueBytes(EscapeVmxLineValue(newDisks[static_cast<std::size_t>(index)]),
                         VmxValueUse::kFileName, &bytes) ||
          !SpliceVmxValue(&raw, text, where.position, where.length, bytes)) {
        return false;
      }
    }
    if (adapterKinds != nullptr) {
      (*adapterKinds)[static_cast<std::size_t>(index)] =
          VmxAdapterKind(*disk.key, scsiBusesWithModel);
    }
  }
  return true;
}

}  // namespace qvt
