#include "VmxChildWriter.h"

#include <set>
#include <utility>

#include "PathRules.h"
#include "TextForms.h"
#include "VmxDiskRewrite.h"
#include "VmxEscape.h"
#include "VmxPatterns.h"
#include "VmxSlots.h"
#include "VmxText.h"

namespace qvt {
namespace {

// A value to write, worked out once; `ok` false when it cannot be written,
// which fails the operation only if a line needs it.
struct NewValue {
  std::string bytes;
  bool ok = false;

  NewValue(const std::wstring& value, VmxValueUse use) {
    ok = VmxValueBytes(EscapeVmxLineValue(value), use, &bytes);
  }
};

// Replaces the captured value of a matched line by `value`.
bool Replace(std::string* raw, const std::wstring& text, const boost::wsmatch& m, int capture,
             const NewValue& value) {
  return value.ok && SpliceVmxValue(raw, text, static_cast<std::size_t>(m.position(capture)),
                                    static_cast<std::size_t>(m.length(capture)), value.bytes);
}

}  // namespace

bool WriteChildVmx(const std::wstring& sourcePath, const std::vector<std::wstring>& oldDisks,
                   const std::wstring& targetPath, const std::vector<std::wstring>& newDisks,
                   const std::wstring& suspendName, const std::wstring& nvramName,
                   bool setDisplayName, const std::wstring& title, bool includeIndependent,
                   std::int32_t* hwIndex, std::vector<std::int32_t>* adapterKinds) {
  if (oldDisks.size() != newDisks.size()) return false;
  // Writing over the source would point the parent at the child's disks.
  if (EqualsNoCase(sourcePath, targetPath)) return false;
  std::vector<std::string> lines;
  if (!ReadVmxFileLines(sourcePath, &lines)) return false;

  const NewValue suspend(suspendName, VmxValueUse::kFileName);
  const NewValue nvram(nvramName, VmxValueUse::kFileName);
  const NewValue label(title, VmxValueUse::kLabel);
  const VmxKeyPatterns& keys = VmxPatternsFor(VmxLineEnd::kPlain);
  const VmxFilePatterns& file = VmxFileOnlyPatterns();

  // The single keys; the first that matches a line ends the line's turn.
  enum Single { kSuspend, kNvram, kDisplay, kModel, kVersion };
  const std::pair<Single, const boost::wregex*> singles[] = {{kSuspend, &file.suspendFile},
                                                             {kNvram, &keys.nvram},
                                                             {kDisplay, &file.displayName},
                                                             {kModel, &file.scsiModel},
                                                             {kVersion, &file.hardwareVersion}};

  VmxSlotTable table;
  std::set<wchar_t> scsiBusesWithModel;
  std::int32_t version = kNoHardwareIndex;
  bool hasDisplayName = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string& raw = lines[i];
    const std::wstring text = AnsiToWide(raw);
    const VmxMatch controller = table.Scan(keys, text, i);
    if (controller == VmxMatch::kGaveUp) return false;
    if (controller == VmxMatch::kYes) continue;
    for (const auto& [single, pattern] : singles) {
      boost::wsmatch m;
      const VmxMatch result = MatchVmxLine(*pattern, text, &m);
      if (result == VmxMatch::kGaveUp) return false;
      if (result == VmxMatch::kNo) continue;
      bool ok = true;
      switch (single) {
        case kSuspend:
          ok = Replace(&raw, text, m, 1, suspend);
          break;
        case kNvram:
          ok = Replace(&raw, text, m, 1, nvram);
          break;
        case kDisplay:
          hasDisplayName = true;
          if (setDisplayName) ok = Replace(&raw, text, m, 1, label);
          break;
        case kModel:
          scsiBusesWithModel.insert(m[1].first[0]);
          break;
        case kVersion:
          version = VmxHardwareIndex(m.str(1));
          break;
      }
      if (!ok) return false;
      break;
    }
  }

  std::vector<std::int32_t> adapters;
  if (!RewriteVmxDisks(table, includeIndependent, oldDisks, newDisks, scsiBusesWithModel, &lines,
                       &adapters)) {
    return false;
  }
  if (setDisplayName && !hasDisplayName) {
    lines.push_back("displayName = \"" + label.bytes + "\"");
  }
  if (!WriteVmxFileLines(targetPath, lines)) return false;
  if (hwIndex != nullptr) *hwIndex = version;
  if (adapterKinds != nullptr) *adapterKinds = std::move(adapters);
  return true;
}

}  // namespace qvt
