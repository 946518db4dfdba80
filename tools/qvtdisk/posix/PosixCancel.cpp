#include <csignal>

#include "Cancel.h"

namespace qvt::qvtdisk {
namespace {

volatile std::sig_atomic_t raised = 0;

extern "C" void OnInterrupt(int) { raised = 1; }

}  // namespace

bool InstallCancelHandler() {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  // One clean stop; a second Ctrl+C ends the program at once.
  action.sa_flags = SA_RESETHAND;
  return sigaction(SIGINT, &action, nullptr) == 0;
}

bool CancelFlagRaised() { return raised != 0; }

void ClearCancelFlag() { raised = 0; }

}  // namespace qvt::qvtdisk
