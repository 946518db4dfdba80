// Reading a machine's hard disks and display name from its configuration.
#ifndef QVT_VMWARE_VMXDISKLIST_H
#define QVT_VMWARE_VMXDISKLIST_H

#include <string>
#include <vector>

namespace qvt {

// The file names of the machine's hard disks in slot order (IDE, SCSI, SATA;
// each by bus, then unit), unescaped where they can be and raw otherwise, as
// the file writes them (usually relative to the configuration's folder); and
// its display name (empty when it has none or it cannot be unescaped;
// `displayName` may be null). A slot with a device type but no file name
// gives an empty entry. Fails, leaving both outputs as they were, when the
// file cannot be read or any line is not a valid configuration line.
bool ReadVmxDiskList(const std::wstring& path, bool includeIndependent,
                     std::vector<std::wstring>* disks, std::wstring* displayName);

}  // namespace qvt

#endif
