// The relative path forms that the program's own files store: node folders
// relative to their document, document paths relative to the executable.
#ifndef QVT_DOCUMENT_STOREDPATH_H
#define QVT_DOCUMENT_STOREDPATH_H

#include <string>

namespace qvt {

// `text` seen from `folder` (which ends with a backslash): the folder itself
// without its backslash for an empty text, else folder + text, normalised.
// False when normalising fails (a ".." above the drive, a result over the
// path limit).
bool ResolveRelative(const std::wstring& folder, const std::wstring& text, std::wstring* path);

// RelativeIfSameDrive(base, target), but only when the drives match and the
// form leads back to `target` through ResolveRelative from the base's folder
// (the base up to its last backslash). Two network shares, for one, share
// the "drive" \ without sharing a root, and their relative form would lead
// nowhere. False means the caller stores the absolute form.
bool RelativeFormLeadingBack(const std::wstring& base, const std::wstring& target,
                             std::wstring* text);

}  // namespace qvt

#endif
