// qvtdisk's entry on Windows: the command line in UTF-16, turned into UTF-8
// for the portable part; text to a console goes out as UTF-16.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Cancel.h"
#include "QvtDisk.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

void Write(DWORD which, FILE* stream, const std::string& text) {
  const HANDLE handle = GetStdHandle(which);
  if (IsConsole(handle)) {
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

class WinConsole : public qvt::qvtdisk::Console {
 public:
  void Out(const std::string& text) override { Write(STD_OUTPUT_HANDLE, stdout, text); }
  void Err(const std::string& text) override { Write(STD_ERROR_HANDLE, stderr, text); }
  bool ErrIsTerminal() override { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }
  bool CancelRequested() override { return qvt::qvtdisk::CancelFlagRaised(); }
};

}  // namespace

int main() {
  qvt::qvtdisk::InstallCancelHandler();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) args.push_back(Utf8(argv[i]));
  if (argv != nullptr) LocalFree(argv);
  WinConsole console;
  const int status = qvt::qvtdisk::Run(args, console);
  std::fflush(stdout);
  return status;
}
