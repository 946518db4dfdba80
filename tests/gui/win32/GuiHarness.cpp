#include "GuiHarness.h"

#include <utility>

namespace qvt::gui {
namespace {

constexpr DWORD kPollMs = 50;

std::wstring Parent(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

struct WindowSearch {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  if (search->className != nullptr && ClassName(window) != search->className) return TRUE;
  if (search->caption != nullptr && WindowText(window) != search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

std::wstring ProgramDirectory() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
  return Parent(std::wstring(buffer, length));
}

std::wstring QvtExecutable() { return ProgramDirectory() + L"\\QVT.exe"; }

std::wstring ArtifactDirectory() {
  const std::wstring dir = Parent(ProgramDirectory()) + L"\\artifacts";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

Process::~Process() { Kill(); }

Process::Process(Process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    handle_ = std::exchange(other.handle_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

Process Process::Start(const std::wstring& exe, std::wstring* error) {
  Process process;
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    if (error != nullptr) {
      *error = L"CreateProcess failed for " + exe + L", error " + std::to_wstring(GetLastError());
    }
    return process;
  }
  CloseHandle(info.hThread);
  process.handle_ = info.hProcess;
  process.id_ = info.dwProcessId;
  return process;
}

bool Process::IsRunning() const {
  return handle_ != nullptr && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

bool Process::WaitForExit(DWORD ms, DWORD* exitCode) {
  if (handle_ == nullptr || WaitForSingleObject(handle_, ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(handle_, &code);
  if (exitCode != nullptr) *exitCode = code;
  return true;
}

void Process::Kill() {
  if (handle_ == nullptr) return;
  if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(handle_, 255);
    WaitForSingleObject(handle_, kWaitMs);
  }
  CloseHandle(handle_);
  handle_ = nullptr;
  id_ = 0;
}

HWND WaitForWindow(DWORD processId, const wchar_t* className, const wchar_t* caption, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    WindowSearch search{processId, className, caption, nullptr};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitForWindowGone(HWND window, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (IsWindow(window)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
  return true;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = L"";
  // WM_GETTEXT across processes is answered by the system for the caption.
  const int length = GetWindowTextW(window, buffer, 1024);
  return std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::wstring ClassName(HWND window) {
  wchar_t buffer[256] = L"";
  const int length = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::vector<std::wstring> MenuItemTexts(HMENU menu) {
  std::vector<std::wstring> texts;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t buffer[512] = L"";
    const int length = GetMenuStringW(menu, static_cast<UINT>(i), buffer, 512, MF_BYPOSITION);
    texts.emplace_back(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
  }
  return texts;
}

UINT MenuItemState(HMENU menu, UINT commandId) {
  return GetMenuState(menu, commandId, MF_BYCOMMAND);
}

void PostCommand(HWND window, UINT commandId) {
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
}

bool PressKeys(HWND window, const std::vector<WORD>& keys) {
  SetForegroundWindow(window);
  SetActiveWindow(window);
  std::vector<INPUT> inputs;
  for (WORD key : keys) {
    INPUT down{};
    down.type = INPUT_KEYBOARD;
    down.ki.wVk = key;
    inputs.push_back(down);
  }
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
    INPUT up{};
    up.type = INPUT_KEYBOARD;
    up.ki.wVk = *it;
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(up);
  }
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  return sent == inputs.size();
}

bool CloseAndWait(Process& process, HWND window, DWORD* exitCode) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  return process.WaitForExit(kWaitMs, exitCode);
}

}  // namespace qvt::gui
