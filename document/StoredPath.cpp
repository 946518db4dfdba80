#include "StoredPath.h"

#include <new>
#include <utility>

#include "PathRules.h"

namespace qvt {

bool ResolveRelative(const std::wstring& folder, const std::wstring& text, std::wstring* path) {
  std::wstring joined = folder + text;
  if (text.empty()) StripTrailingBackslash(&joined);
  return NormalizePath(joined, path);
}

bool RelativeFormLeadingBack(const std::wstring& base, const std::wstring& target,
                             std::wstring* text) {
  bool relative = false;
  std::wstring candidate;
  try {
    candidate = RelativeIfSameDrive(base, target, &relative);
  } catch (const std::bad_alloc&) {
    return false;  // longer than the path limit
  }
  std::wstring baseFolder;
  std::wstring baseName;
  SplitFileName(base, &baseFolder, &baseName);
  std::wstring back;
  std::wstring expected;
  if (!relative || !ResolveRelative(baseFolder, candidate, &back) ||
      !NormalizePath(target, &expected) || !EqualsNoCase(back, expected)) {
    return false;
  }
  *text = std::move(candidate);
  return true;
}

}  // namespace qvt
