#include "ResourceText.h"

#include <windows.h>

namespace qvt::win32 {

std::wstring LoadResourceText(int id) {
  // With a zero buffer size LoadStringW hands out a pointer into the
  // resource itself, so texts of any length come whole.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                 reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || text == nullptr) return std::wstring();
  return std::wstring(text, static_cast<std::size_t>(length));
}

}  // namespace qvt::win32
