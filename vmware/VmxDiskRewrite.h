// The step that child creation and the independent copy share between the
// configuration file and its copy inside a suspend file: every hard disk the
// configuration names gets the new disk that stands for it.
#ifndef QVT_VMWARE_VMXDISKREWRITE_H
#define QVT_VMWARE_VMXDISKREWRITE_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "VmxSlots.h"

namespace qvt {

// For each slot that counts as a hard disk, in slot order: its file name,
// unescaped, is looked up among `oldDisks` (first entry equal ignoring case);
// that entry's index i gives the new value, `newDisks`[i] escaped, written
// over the value of each of the slot's file-name lines in `lines` (ANSI
// bytes, with or without terminators, as the slot table was scanned).
// `adapterKinds` (may be null) gets, at index i, the slot's adapterKind.
//
// Fails, with `lines` possibly partly edited, when a file name cannot be
// unescaped or is not among the old disks, when a new name cannot be written
// in the ANSI code page, when a slot has a device type but no file-name line
// (there is nothing to point at the new disk, and the caller would be left
// making a child of a disk that has no name), or when the lists' lengths
// differ.
bool RewriteVmxDisks(const VmxSlotTable& table, bool includeIndependent,
                     const std::vector<std::wstring>& oldDisks,
                     const std::vector<std::wstring>& newDisks,
                     const std::set<wchar_t>& scsiBusesWithModel, std::vector<std::string>* lines,
                     std::vector<std::int32_t>* adapterKinds);

}  // namespace qvt

#endif
