// The copy of the configuration that a suspend file carries.
#ifndef QVT_VMWARE_VMXEMBEDDED_H
#define QVT_VMWARE_VMXEMBEDDED_H

#include <string>
#include <vector>

namespace qvt {

// `lines` are the copy's lines as ANSI bytes, each with its own terminator
// (CR LF, CR or LF). The hard disks' file names are replaced as in
// WriteChildVmx (escaped) and every nvram value by `nvramName` as it is (the
// copy's nvram value is written without escaping); other keys are not
// touched, and a line without a terminator matches nothing. On success the
// edited lines replace `lines`; on failure `lines` is left as it was. Fails
// as WriteChildVmx does for the disks, and for an nvram name that the ANSI
// code page cannot hold or that holds a quote, CR, LF or NUL (without
// escaping, any of them would end the value, the line or the text).
bool RewriteEmbeddedVmx(std::vector<std::string>* lines, const std::vector<std::wstring>& oldDisks,
                        const std::vector<std::wstring>& newDisks, const std::wstring& nvramName,
                        bool includeIndependent);

}  // namespace qvt

#endif
