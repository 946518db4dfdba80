// The path rules of the program, on UTF-16 Windows paths. Folders are kept
// without a trailing backslash; a full path is folder + "\" + name.
#ifndef QVT_VMWARE_TEXTPATH_PATHRULES_H
#define QVT_VMWARE_TEXTPATH_PATHRULES_H

#include <cstddef>
#include <string>

namespace qvt {

// Working limit of the normaliser and the relative-path routine.
constexpr std::size_t kPathWorkUnits = 520;

// Stem and extension (from the last "." on, with the dot). No extension when
// there is no "." or the last backslash comes after the last ".".
void SplitExtension(const std::wstring& path, std::wstring* stem, std::wstring* extension);
// Folder part (with its final backslash) and file name. Without a backslash
// the folder part is empty.
void SplitFileName(const std::wstring& path, std::wstring* folder, std::wstring* name);
// Drive and directory (with the trailing separator), base name, and extension
// without its dot, by the C library's rules: "\" and "/" separate, and the
// last "." of the last component starts the extension.
void SplitPathParts(const std::wstring& path, std::wstring* driveAndDirectory,
                    std::wstring* baseName, std::wstring* extension);

// True for "\..." and for a letter, ":" and "\" followed by anything.
bool IsAbsolutePath(const std::wstring& path);
// Splits at "\" and "/", drops "." and empty components, lets ".." remove
// the component before it, joins with "\". The root (drive, colon and
// backslash; a leading backslash; "\\server\") stays; a ".." that would
// climb above it or above the start fails, and so does a result longer than
// the working limit. On failure `out` is left as it was.
bool NormalizePath(const std::wstring& path, std::wstring* out);
// A relative path is taken from `baseFolder`; then normalised.
bool MakeAbsolutePath(const std::wstring& path, const std::wstring& baseFolder,
                      std::wstring* out);
// The first characters are equal, ignoring the case of A-Z.
bool IsSameDrive(const std::wstring& a, const std::wstring& b);
// The path from `base` to `target` on the same drive: only base components
// followed by a separator count (a folder base ends with "\"), shared leading
// components are skipped ignoring the case of A-Z, each remaining base
// component becomes "..\". A result over the working limit raises
// std::bad_alloc.
std::wstring RelativePath(const std::wstring& base, const std::wstring& target);
// RelativePath on the same drive, else the target itself; one trailing
// backslash is removed in both cases. `relative` tells which.
std::wstring RelativeIfSameDrive(const std::wstring& base, const std::wstring& target,
                                 bool* relative);
void StripTrailingBackslash(std::wstring* path);
// Relative paths and paths beginning with a letter, ":" and "\" whose rest has
// no / : * ? " < > |, no leading backslash and no two backslashes in a row.
bool IsValidPath(const std::wstring& path);
// Same length and every code unit equal after upper-casing each on its own
// with the current locale.
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

}  // namespace qvt

#endif
