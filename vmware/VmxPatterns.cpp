#include "VmxPatterns.h"

#include <stdexcept>

namespace qvt {
namespace {

const wchar_t kPlainEnd[] = L"[ \\t]*(#.*)?$";
const wchar_t kTerminatedEnd[] = L"[ \\t]*(#.*)?((\\r\\n)|\\r|\\n)$";

// Blanks, "=", blanks, then the value in quotes: the part every key pattern
// shares between its key and its value.
const wchar_t kQuotedAny[] = L"[ \\t]*=[ \\t]*\"([^\"]*)\"";

std::wstring WithEnd(std::wstring head, VmxLineEnd end) {
  return head + (end == VmxLineEnd::kPlain ? kPlainEnd : kTerminatedEnd);
}

VmxKeyPatterns BuildKeyPatterns(VmxLineEnd end) {
  VmxKeyPatterns p;
  for (const VmxBus bus : kVmxBuses) {
    for (int k = 0; k < kVmxControllerKeyCount; ++k) {
      const auto key = static_cast<VmxControllerKey>(k);
      p.controller[static_cast<int>(bus)][k].assign(VmxControllerPatternText(bus, key, end));
    }
  }
  p.nvram.assign(VmxSinglePatternText(VmxSingleKey::kNvram, end));
  return p;
}

}  // namespace

const wchar_t* VmxBusName(VmxBus bus) {
  switch (bus) {
    case VmxBus::kIde:
      return L"ide";
    case VmxBus::kScsi:
      return L"scsi";
    case VmxBus::kSata:
      return L"sata";
  }
  return L"";
}

wchar_t VmxBusLetter(VmxBus bus) {
  switch (bus) {
    case VmxBus::kIde:
      return L'i';
    case VmxBus::kScsi:
      return L's';
    case VmxBus::kSata:
      return L't';
  }
  return L'?';
}

std::wstring VmxControllerPatternText(VmxBus bus, VmxControllerKey key, VmxLineEnd end) {
  const std::wstring start = std::wstring(L"^[ \\t]*") + VmxBusName(bus);
  const std::wstring unit = L"([0-9]):([0-9])";
  switch (key) {
    case VmxControllerKey::kFileName:
      return WithEnd(start + unit + L"\\.fileName" + kQuotedAny, end);
    case VmxControllerKey::kDeviceType:
      return WithEnd(start + unit + L"\\.deviceType" + kQuotedAny, end);
    case VmxControllerKey::kUnitAbsent:
      return WithEnd(start + unit + L"\\.present[ \\t]*=[ \\t]*\"(FALSE)\"", end);
    case VmxControllerKey::kControllerAbsent:
      return WithEnd(start + L"([0-9])\\.present[ \\t]*=[ \\t]*\"(FALSE)\"", end);
    case VmxControllerKey::kIndependent:
      return WithEnd(start + unit +
                         L"\\.mode[ \\t]*=[ \\t]*"
                         L"\"(independent-persistent|independent-nonpersistent)\"",
                     end);
  }
  return std::wstring();
}

std::wstring VmxSinglePatternText(VmxSingleKey key, VmxLineEnd end) {
  const std::wstring start = L"^[ \\t]*";
  switch (key) {
    case VmxSingleKey::kSuspendFile:
      return WithEnd(start + L"checkpoint\\.vmState" + kQuotedAny, end);
    case VmxSingleKey::kNvram:
      return WithEnd(start + L"nvram" + kQuotedAny, end);
    case VmxSingleKey::kDisplayName:
      return WithEnd(start + L"displayName" + kQuotedAny, end);
    case VmxSingleKey::kHardwareVersion:
      return WithEnd(start + L"virtualHW\\.version" + kQuotedAny, end);
    case VmxSingleKey::kScsiModel:
      return WithEnd(start + L"scsi([0-9])\\.virtualDev" + kQuotedAny, end);
  }
  return std::wstring();
}

std::wstring VmxLineGrammarText() {
  // The grammar is
  //   ^([ \t]*\.?[\w\-]+[\w.: \t]*=[ \t]*("[^"]*"|\w*)[ \t]*(#.*)?)|([ \t]*(#.*)?)$
  // written here with possessive repeats. Plainly written, the overlap of
  // [\w\-]+ and [\w.: \t]* makes boost try every split of a long word, which
  // is quadratic: a 16 Ki line without "=" takes seconds and a 1 MiB line
  // hours. The possessive form accepts the same lines: no repeat below can
  // give back a character that would let the rest match (each is followed by
  // something its class cannot match, and a longest run of [\w\-] leaves
  // behind only what [\w.: \t]* takes anyway), so matching is linear.
  return L"^([ \\t]*+\\.?[\\w\\-]++[\\w.: \\t]*+=[ \\t]*+(\"[^\"]*+\"|\\w*+)[ \\t]*+(#.*)?)"
         L"|([ \\t]*+(#.*)?)$";
}

const VmxKeyPatterns& VmxPatternsFor(VmxLineEnd end) {
  static const VmxKeyPatterns plain = BuildKeyPatterns(VmxLineEnd::kPlain);
  static const VmxKeyPatterns terminated = BuildKeyPatterns(VmxLineEnd::kTerminated);
  return end == VmxLineEnd::kPlain ? plain : terminated;
}

const VmxFilePatterns& VmxFileOnlyPatterns() {
  static const VmxFilePatterns patterns = [] {
    VmxFilePatterns p;
    p.suspendFile.assign(VmxSinglePatternText(VmxSingleKey::kSuspendFile, VmxLineEnd::kPlain));
    p.displayName.assign(VmxSinglePatternText(VmxSingleKey::kDisplayName, VmxLineEnd::kPlain));
    p.hardwareVersion.assign(
        VmxSinglePatternText(VmxSingleKey::kHardwareVersion, VmxLineEnd::kPlain));
    p.scsiModel.assign(VmxSinglePatternText(VmxSingleKey::kScsiModel, VmxLineEnd::kPlain));
    return p;
  }();
  return patterns;
}

const boost::wregex& VmxLineGrammar() {
  static const boost::wregex grammar(VmxLineGrammarText());
  return grammar;
}

VmxMatch MatchVmxLine(const boost::wregex& pattern, const std::wstring& line,
                      boost::wsmatch* captures) {
  try {
    return boost::regex_match(line, *captures, pattern) ? VmxMatch::kYes : VmxMatch::kNo;
  } catch (const std::runtime_error&) {
    // boost::regex_error for a match that grew past boost's limits.
    return VmxMatch::kGaveUp;
  }
}

}  // namespace qvt
