// The suspend and nvram file names of a configuration.
#ifndef QVT_VMWARE_VMXSTATEFILES_H
#define QVT_VMWARE_VMXSTATEFILES_H

#include <string>

namespace qvt {

// The values of the first checkpoint.vmState and the first nvram line,
// unescaped; empty for a key the file lacks. Lines after both have been
// found are not looked at. Fails, leaving both outputs as they were, when the
// file cannot be read or a value that counts cannot be unescaped. A machine
// whose suspend value is empty counts as powered off, so nothing is guessed:
// a line the matcher gives up on fails the read.
bool ReadVmxStateFiles(const std::wstring& path, std::wstring* suspendFile,
                       std::wstring* nvramFile);

}  // namespace qvt

#endif
