#include "PathRules.h"

#include <cwctype>
#include <new>
#include <vector>

namespace qvt {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool EqualsAsciiNoCase(const std::wstring& a, std::size_t aAt, std::size_t aLength,
                       const std::wstring& b, std::size_t bAt, std::size_t bLength) {
  if (aLength != bLength) return false;
  for (std::size_t i = 0; i < aLength; ++i) {
    if (FoldAscii(a[aAt + i]) != FoldAscii(b[bAt + i])) return false;
  }
  return true;
}

bool HasDriveRoot(const std::wstring& path) {
  return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

// Length of the root that ".." may not climb above: "X:\", "\\server\" or "\".
std::size_t RootLength(const std::wstring& path) {
  if (HasDriveRoot(path)) return 3;
  if (path.empty() || path[0] != L'\\') return 0;
  if (path.size() < 2 || path[1] != L'\\') return 1;
  std::size_t at = 2;
  while (at < path.size() && !IsSeparator(path[at])) ++at;
  return at < path.size() ? at + 1 : at;
}

struct Part {
  std::size_t at;
  std::size_t length;
};

// Components of path[from...]; `onlyFollowed` keeps only those a separator
// follows (the directory components).
std::vector<Part> Components(const std::wstring& path, std::size_t from, bool onlyFollowed) {
  std::vector<Part> parts;
  std::size_t start = from;
  for (std::size_t i = from; i <= path.size(); ++i) {
    const bool end = i == path.size();
    if (!end && !IsSeparator(path[i])) continue;
    if (i > start && (!end || !onlyFollowed)) parts.push_back(Part{start, i - start});
    start = i + 1;
  }
  return parts;
}

}  // namespace

void SplitExtension(const std::wstring& path, std::wstring* stem, std::wstring* extension) {
  const std::size_t dot = path.rfind(L'.');
  const std::size_t slash = path.rfind(L'\\');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && slash > dot)) {
    *stem = path;
    extension->clear();
    return;
  }
  *stem = path.substr(0, dot);
  *extension = path.substr(dot);
}

void SplitFileName(const std::wstring& path, std::wstring* folder, std::wstring* name) {
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) {
    folder->clear();
    *name = path;
    return;
  }
  *folder = path.substr(0, slash + 1);
  *name = path.substr(slash + 1);
}

void SplitPathParts(const std::wstring& path, std::wstring* driveAndDirectory,
                    std::wstring* baseName, std::wstring* extension) {
  std::size_t nameStart = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) nameStart = i + 1;
  }
  if (nameStart == 0 && path.size() >= 2 && path[1] == L':') nameStart = 2;
  std::size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot < nameStart) dot = path.size();
  *driveAndDirectory = path.substr(0, nameStart);
  *baseName = path.substr(nameStart, dot - nameStart);
  *extension = dot < path.size() ? path.substr(dot + 1) : std::wstring();
}

bool IsAbsolutePath(const std::wstring& path) {
  if (path.empty()) return false;
  return path[0] == L'\\' || HasDriveRoot(path);
}

bool NormalizePath(const std::wstring& path, std::wstring* out) {
  const std::size_t root = RootLength(path);
  std::vector<Part> kept;
  for (const Part& part : Components(path, root, false)) {
    const std::wstring name = path.substr(part.at, part.length);
    if (name == L".") continue;
    if (name == L"..") {
      if (kept.empty()) return false;  // above the root or the start
      kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::wstring result = path.substr(0, root);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result += L'\\';
    result.append(path, kept[i].at, kept[i].length);
  }
  if (result.size() > kPathWorkUnits) return false;
  *out = result;
  return true;
}

bool MakeAbsolutePath(const std::wstring& path, const std::wstring& baseFolder,
                      std::wstring* out) {
  if (IsAbsolutePath(path)) return NormalizePath(path, out);
  return NormalizePath(baseFolder + L"\\" + path, out);
}

bool IsSameDrive(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && !b.empty() && FoldAscii(a[0]) == FoldAscii(b[0]);
}

std::wstring RelativePath(const std::wstring& base, const std::wstring& target) {
  const std::size_t baseFrom = base.size() < 3 ? base.size() : 3;
  const std::size_t targetFrom = target.size() < 3 ? target.size() : 3;
  const std::vector<Part> baseParts = Components(base, baseFrom, true);
  const std::vector<Part> targetParts = Components(target, targetFrom, true);

  std::size_t shared = 0;
  while (shared < baseParts.size() && shared < targetParts.size() &&
         EqualsAsciiNoCase(base, baseParts[shared].at, baseParts[shared].length, target,
                           targetParts[shared].at, targetParts[shared].length)) {
    ++shared;
  }
  std::wstring result;
  for (std::size_t i = shared; i < baseParts.size(); ++i) result += L"..\\";
  // The target's rest starts behind its last shared component.
  std::size_t rest = targetFrom;
  if (shared > 0) rest = targetParts[shared - 1].at + targetParts[shared - 1].length + 1;
  if (rest < target.size()) result.append(target, rest, std::wstring::npos);
  if (result.size() > kPathWorkUnits) throw std::bad_alloc();
  return result;
}

std::wstring RelativeIfSameDrive(const std::wstring& base, const std::wstring& target,
                                 bool* relative) {
  *relative = IsSameDrive(base, target);
  std::wstring text = *relative ? RelativePath(base, target) : target;
  StripTrailingBackslash(&text);
  return text;
}

void StripTrailingBackslash(std::wstring* path) {
  if (!path->empty() && path->back() == L'\\') path->pop_back();
}

bool IsValidPath(const std::wstring& path) {
  std::size_t rest = 0;
  if (path.size() > 2 && path[1] == L':') {
    if (!HasDriveRoot(path)) return false;
    if (path.size() == 3) return true;
    rest = 3;
  }
  if (path.find_first_of(L"/:*?\"<>|", rest) != std::wstring::npos) return false;
  if (rest < path.size() && path[rest] == L'\\') return false;
  return path.find(L"\\\\") == std::wstring::npos;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(static_cast<std::wint_t>(a[i])) !=
        std::towupper(static_cast<std::wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace qvt
