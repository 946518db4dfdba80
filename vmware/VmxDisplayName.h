// Writing a node's title into its configuration as the display name.
#ifndef QVT_VMWARE_VMXDISPLAYNAME_H
#define QVT_VMWARE_VMXDISPLAYNAME_H

#include "QvtNode.h"

namespace qvt {

// Makes directory + "\" + vmxFile carry the node's title (escaped) as every
// displayName value, appending a displayName line when there is none. The
// new text goes to the name + "_TEMP" and takes the file's place through
// the engine's replacement commit with the backup suffix "_DEL" (the backup
// deleted, never to the recycle bin). Every other byte of every line is kept;
// line ends become CR LF. Fails when the file cannot be read, the temporary
// file cannot be written, a path has no engine form, or the commit fails; in
// every case the configuration is left as it was and no temporary file
// stays behind, except when only the backup could not be deleted (the new
// text is then in place beside the "_DEL" file, and the failure is still
// reported).
bool WriteVmxDisplayName(const CQVTNode& node);

}  // namespace qvt

#endif
