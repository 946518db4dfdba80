// Ctrl+C as a clean stop: the handler only raises a flag, which the progress
// reports turn into a cancellation of the engine's work. One implementation
// per system (posix/, win32/).
#ifndef QVT_TOOLS_QVTDISK_CANCEL_H
#define QVT_TOOLS_QVTDISK_CANCEL_H

namespace qvt::qvtdisk {

// Installs the handler; false when the system refuses. A second Ctrl+C after
// the first ends the program the system's way, for work that no longer
// reports.
bool InstallCancelHandler();
bool CancelFlagRaised();
// Lowers the flag (for tests).
void ClearCancelFlag();

}  // namespace qvt::qvtdisk

#endif
