#include "VmxEmbedded.h"

#include <set>

#include "TextForms.h"
#include "VmxDiskRewrite.h"
#include "VmxPatterns.h"
#include "VmxSlots.h"
#include "VmxText.h"

namespace qvt {

bool RewriteEmbeddedVmx(std::vector<std::string>* lines, const std::vector<std::wstring>& oldDisks,
                        const std::vector<std::wstring>& newDisks, const std::wstring& nvramName,
                        bool includeIndependent) {
  if (oldDisks.size() != newDisks.size()) return false;
  std::string nvramBytes;
  const bool nvramOk =
      nvramName.find_first_of(std::wstring(L"\"\r\n\0", 4)) == std::wstring::npos &&
      VmxValueBytes(nvramName, VmxValueUse::kFileName, &nvramBytes);

  std::vector<std::string> edited = *lines;
  const VmxKeyPatterns& keys = VmxPatternsFor(VmxLineEnd::kTerminated);
  VmxSlotTable table;
  for (std::size_t i = 0; i < edited.size(); ++i) {
    std::string& raw = edited[i];
    const std::wstring text = AnsiToWide(raw);
    const VmxMatch controller = table.Scan(keys, text, i);
    if (controller == VmxMatch::kGaveUp) return false;
    if (controller == VmxMatch::kYes) continue;
    boost::wsmatch m;
    const VmxMatch nvram = MatchVmxLine(keys.nvram, text, &m);
    if (nvram == VmxMatch::kGaveUp) return false;
    if (nvram == VmxMatch::kYes &&
        !(nvramOk && SpliceVmxValue(&raw, text, static_cast<std::size_t>(m.position(1)),
                                    static_cast<std::size_t>(m.length(1)), nvramBytes))) {
      return false;
    }
  }
  if (!RewriteVmxDisks(table, includeIndependent, oldDisks, newDisks, std::set<wchar_t>(), &edited,
                       nullptr)) {
    return false;
  }
  *lines = std::move(edited);
  return true;
}

}  // namespace qvt
