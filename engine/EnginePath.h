// Path helpers of the engine, on text in any engine encoding. Separators are
// found character by character, so a Shift_JIS trail byte 0x5C (as in ソ or
// 表) is never taken for a backslash.
#ifndef QVT_ENGINE_ENGINEPATH_H
#define QVT_ENGINE_ENGINEPATH_H

#include "ByteBuffer.h"
#include "TextEncoding.h"

namespace qvt {

// True when the path begins with an ASCII letter, a colon and a backslash.
bool PathIsDriveAbsolute(TextView path, TextEncoding e);

// Resolves `path` against `base` (a file path: its directory part is used):
// an absolute path is taken as it is, any other is appended to the base's
// directory; the result is normalised, converted to outEnc and terminated in
// `out`. False when ".." climbs above the root, a conversion fails or the
// result does not fit.
bool PathResolve(TextView base, TextEncoding baseEnc, TextView path, TextEncoding pathEnc,
                 PathBuffer* out, TextEncoding outEnc);

// Normalises a path into `out` (same encoding, terminated): the root (drive,
// colon and backslash; a single leading backslash; or two backslashes, the
// server and its backslash) is kept; the rest is split at backslash and
// slash; "." and empty components are dropped; ".." removes the component
// before it (above the root it fails; in a path without a root it is kept);
// components are joined with backslashes.
bool PathNormalize(TextView path, TextEncoding e, PathBuffer* out);

// Directory (up to and including the last backslash or slash), base name, and
// extension (after the last dot of the file name, without the dot). The views
// point into `path`.
void PathSplit(TextView path, TextEncoding e, TextView* directory, TextView* baseName,
               TextView* extension);

// The path from directory `from` to `to` (both absolute, same encoding): the
// first three characters of both are skipped, the leading directory
// components they share (ignoring case) are dropped, each remaining component
// of `from` becomes "..\" and the rest of `to` follows. Callers check first
// that both are on the same drive. Terminated; false when it does not fit.
bool PathMakeRelative(TextView from, TextView to, TextEncoding e, PathBuffer* out);

}  // namespace qvt

#endif
