#include "VmxEscape.h"

namespace qvt {
namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

void AppendEscaped(std::wstring* out, const wchar_t* code) {
  out->push_back(L'|');
  out->append(code);
}

}  // namespace

std::wstring EscapeVmxValue(const std::wstring& value) {
  std::wstring out;
  out.reserve(value.size());
  for (const wchar_t c : value) {
    switch (c) {
      case L'|':
        AppendEscaped(&out, L"7C");
        break;
      case L'"':
        AppendEscaped(&out, L"22");
        break;
      case L'#':
        AppendEscaped(&out, L"23");
        break;
      default:
        out.push_back(c);
        break;
    }
  }
  return out;
}

bool UnescapeVmxValue(const std::wstring& text, std::wstring* value) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'|') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<wchar_t>(high * 16 + low));
    i += 2;
  }
  *value = std::move(out);
  return true;
}

std::wstring EscapeVmxLineValue(const std::wstring& value) {
  std::wstring out = EscapeVmxValue(value);
  std::wstring safe;
  safe.reserve(out.size());
  for (const wchar_t c : out) {
    switch (c) {
      case L'\r':
        AppendEscaped(&safe, L"0D");
        break;
      case L'\n':
        AppendEscaped(&safe, L"0A");
        break;
      case L'\0':
        AppendEscaped(&safe, L"00");
        break;
      default:
        safe.push_back(c);
        break;
    }
  }
  return safe;
}

}  // namespace qvt
