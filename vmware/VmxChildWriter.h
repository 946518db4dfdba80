// Writing a child's (or an independent copy's) configuration from its
// source's: every line as it was, except the values of the keys that name
// the machine's own files.
#ifndef QVT_VMWARE_VMXCHILDWRITER_H
#define QVT_VMWARE_VMXCHILDWRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvt {

// Reads `sourcePath` and writes `targetPath` (created or truncated) with:
// the file name of each hard disk replaced by the entry of `newDisks` that
// stands where its name stands in `oldDisks` (compared ignoring case); every
// checkpoint.vmState value replaced by `suspendName`, every nvram value by
// `nvramName`; with `setDisplayName`, every displayName value replaced by
// `title` (and a displayName line appended when the source has none). All
// values are escaped. Every other byte of every line is kept; line ends
// become CR LF.
//
// `hwIndex` (may be null) gets the code of the last virtualHW.version line
// (kNoHardwareIndex without one); `adapterKinds` (may be null) gets one
// adapterKind per entry of `newDisks` (kNoAdapterKind where no slot names
// it). Both are set only on success.
//
// Fails when a file cannot be read or written, the two disk lists differ in
// length, the target names the source, a hard disk is not among the old
// disks or has no file-name line, or a file name cannot be written in the
// ANSI code page. Everything is worked out before the target is created, so
// a failure found in the source leaves no target behind; only a failed
// write leaves a partial one.
bool WriteChildVmx(const std::wstring& sourcePath, const std::vector<std::wstring>& oldDisks,
                   const std::wstring& targetPath, const std::vector<std::wstring>& newDisks,
                   const std::wstring& suspendName, const std::wstring& nvramName,
                   bool setDisplayName, const std::wstring& title, bool includeIndependent,
                   std::int32_t* hwIndex = nullptr,
                   std::vector<std::int32_t>* adapterKinds = nullptr);

}  // namespace qvt

#endif
