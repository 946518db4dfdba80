#include "TempFolder.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "PathForms.h"

namespace qvt::test {
namespace fs = std::filesystem;

TempFolder::TempFolder() {
  static std::atomic<unsigned> serial{0};
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / ("qvt-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      native_ = fs::canonical(candidate);
      windows_ = ToWindows(native_);
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code error;
  fs::remove_all(native_, error);
}

std::string TempFolder::Engine(const std::wstring& name) const { return ToShiftJis(Windows(name)); }

fs::path TempFolder::Native(const std::wstring& name) const { return ToNative(Windows(name)); }

std::wstring TempFolder::WriteFile(const std::wstring& name, const std::string& bytes) const {
  std::ofstream out(Native(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write a test file");
  return Windows(name);
}

std::string TempFolder::ReadFile(const std::wstring& name) const {
  std::ifstream in(Native(name), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();  // in one pass: a character at a time is slow in sanitizer builds
  return bytes.str();
}

bool TempFolder::Exists(const std::wstring& name) const {
  std::error_code error;
  return fs::exists(Native(name), error);
}

}  // namespace qvt::test
