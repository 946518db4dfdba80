#include <windows.h>

#include <atomic>

#include "Cancel.h"

namespace qvt::qvtdisk {
namespace {

std::atomic<bool> raised{false};

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // One clean stop; a second Ctrl+C goes to the default handler, which ends
  // the program.
  if (raised.exchange(true)) return FALSE;
  return TRUE;
}

}  // namespace

bool InstallCancelHandler() { return SetConsoleCtrlHandler(&OnControl, TRUE) != 0; }

bool CancelFlagRaised() { return raised.load(); }

void ClearCancelFlag() { raised.store(false); }

}  // namespace qvt::qvtdisk
