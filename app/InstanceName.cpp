#include "InstanceName.h"

#include <cstdint>

namespace qvt {
namespace {

// FNV-1a over the UTF-16 code units: stable across runs and builds, which a
// name that two processes must agree on needs.
std::uint64_t HashCodeUnits(const std::wstring& text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (wchar_t unit : text) {
    const auto value = static_cast<std::uint16_t>(unit);
    for (int shift = 0; shift < 16; shift += 8) {
      hash ^= (value >> shift) & 0xFFu;
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

std::wstring Hex16(std::uint64_t value) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out(16, L'0');
  for (int i = 15; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

}  // namespace

std::wstring InstanceMutexName(const std::wstring& executablePath) {
  std::wstring name = executablePath;
  for (wchar_t& c : name) {
    if (c == L'\\') c = L'_';
  }
  if (name.size() <= kMaxInstanceNameLength) return name;

  const std::wstring tail = L"#" + Hex16(HashCodeUnits(executablePath));
  name.resize(kMaxInstanceNameLength - tail.size());
  return name + tail;
}

}  // namespace qvt
