// The line patterns of a VMware configuration: the line grammar, the five
// keys of each controller kind, and the few single keys the program reads.
// Every pattern is a Perl-syntax regular expression over the UTF-16 line,
// matched against the whole line, case-sensitive.
#ifndef QVT_VMWARE_VMXPATTERNS_H
#define QVT_VMWARE_VMXPATTERNS_H

#include <boost/regex.hpp>
#include <string>

namespace qvt {

// Controller kinds in the order of their slot-key letters (i < s < t).
enum class VmxBus { kIde = 0, kScsi = 1, kSata = 2 };
constexpr int kVmxBusCount = 3;
constexpr VmxBus kVmxBuses[kVmxBusCount] = {VmxBus::kIde, VmxBus::kScsi, VmxBus::kSata};

// "ide", "scsi", "sata": how the keys spell the kind.
const wchar_t* VmxBusName(VmxBus bus);
// "i", "s", "t": the first letter of a slot key.
wchar_t VmxBusLetter(VmxBus bus);

// The five keys of a controller. Captures: 1 bus digit; 2 unit digit (not
// for kControllerAbsent); 3 the value (file name and device type only).
enum class VmxControllerKey {
  kFileName = 0,      // busN:U.fileName = "..."
  kDeviceType,        // busN:U.deviceType = "..."
  kUnitAbsent,        // busN:U.present = "FALSE"
  kControllerAbsent,  // busN.present = "FALSE"
  kIndependent,       // busN:U.mode = "independent-persistent" or "...-nonpersistent"
};
constexpr int kVmxControllerKeyCount = 5;

// Keys of their own. Capture 1 is the value, except for kScsiModel: 1 bus
// digit, 2 the value.
enum class VmxSingleKey {
  kSuspendFile,      // checkpoint.vmState
  kNvram,            // nvram
  kDisplayName,      // displayName
  kHardwareVersion,  // virtualHW.version
  kScsiModel,        // scsiN.virtualDev
};

// A configuration file's lines come without their line ends (plain); the
// copy inside a suspend file keeps them, so its patterns end with one
// terminator (CR LF, CR or LF). Capture numbers are the same in both.
enum class VmxLineEnd { kPlain, kTerminated };

// The pattern texts, as the matchers below are built from them.
std::wstring VmxControllerPatternText(VmxBus bus, VmxControllerKey key, VmxLineEnd end);
std::wstring VmxSinglePatternText(VmxSingleKey key, VmxLineEnd end);
std::wstring VmxLineGrammarText();

// The patterns that exist in both forms: the fifteen controller patterns and
// nvram.
struct VmxKeyPatterns {
  boost::wregex controller[kVmxBusCount][kVmxControllerKeyCount];
  boost::wregex nvram;

  const boost::wregex& Controller(VmxBus bus, VmxControllerKey key) const {
    return controller[static_cast<int>(bus)][static_cast<int>(key)];
  }
};
const VmxKeyPatterns& VmxPatternsFor(VmxLineEnd end);

// Keys only the configuration file itself is searched for (plain form).
struct VmxFilePatterns {
  boost::wregex suspendFile;
  boost::wregex displayName;
  boost::wregex hardwareVersion;
  boost::wregex scsiModel;
};
const VmxFilePatterns& VmxFileOnlyPatterns();

// A valid line: an assignment of a quoted value or a bare word, or a blank
// or comment-only line (see VmxLineGrammarText for why it is written with
// possessive repeats).
const boost::wregex& VmxLineGrammar();

enum class VmxMatch {
  kNo,
  kYes,
  // The matcher gave up (boost's complexity or memory limits). No pattern
  // here is known to get there, but an operation that meets it fails rather
  // than guess, since taking the line for "not a key" could leave a parent's
  // disk named in a child.
  kGaveUp,
};

// Whole-line match of `line` against `pattern`; `captures` refer into `line`,
// so a temporary line is refused.
VmxMatch MatchVmxLine(const boost::wregex& pattern, const std::wstring& line,
                      boost::wsmatch* captures);
VmxMatch MatchVmxLine(const boost::wregex& pattern, std::wstring&& line,
                      boost::wsmatch* captures) = delete;

}  // namespace qvt

#endif
