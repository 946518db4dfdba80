// The names a VMDK disk links to (its parent hint and its extent files):
// the form they must have, and their resolution against the descriptor's
// folder.
#ifndef QVT_ENGINE_VMDK_VMDKIMAGEPATH_H
#define QVT_ENGINE_VMDK_VMDKIMAGEPATH_H

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "TextEncoding.h"

namespace qvt {

// True for a well-formed Windows path in encoding 0: a leading letter and
// colon are followed by a backslash; after that the name neither starts nor
// ends with a backslash, holds no doubled backslash, none of / : * ? " < > |
// and no control character, and is not empty. Paths that other systems'
// tools write (forward slashes, POSIX roots) fail, and so do network paths.
bool VmdkNameIsWellFormed(TextView name);

// Converts `name` (in nameEnc) to encoding 0, checks its form and resolves it
// against the folder of `base` (encoding 0) into `out`. DISK_E_FORMAT when
// any step fails.
DiskResult VmdkResolveName(const PathBuffer& base, TextView name, TextEncoding nameEnc,
                           PathBuffer* out);

}  // namespace qvt

#endif
