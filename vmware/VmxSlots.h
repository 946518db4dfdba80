// Hard-disk slots: the positions of the IDE, SCSI and SATA controllers that
// a configuration names, which of them count as the machine's hard disks,
// and the codes the disk copy derives from them.
#ifndef QVT_VMWARE_VMXSLOTS_H
#define QVT_VMWARE_VMXSLOTS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "VmxPatterns.h"

namespace qvt {

// Where a captured value sits: its line and its code units in that line.
struct VmxValueRef {
  std::size_t line = 0;
  std::size_t position = 0;
  std::size_t length = 0;
};

struct DiskSlot {
  // Still escaped, from the last line of its kind (empty when none).
  std::wstring fileName;
  std::wstring deviceType;
  // Every file-name line of the slot, in file order. The rewrite edits all of
  // them: leaving an earlier duplicate unchanged would keep the parent's disk
  // named in the child.
  std::vector<VmxValueRef> fileNameLines;
};

// The slot key: kind letter, bus digit, unit digit ("s01").
std::wstring VmxSlotKey(VmxBus bus, wchar_t busDigit, wchar_t unitDigit);

class VmxSlotTable {
 public:
  void NoteFileName(VmxBus bus, wchar_t busDigit, wchar_t unitDigit, const std::wstring& value,
                    const VmxValueRef& where);
  void NoteDeviceType(VmxBus bus, wchar_t busDigit, wchar_t unitDigit, const std::wstring& value);
  void NoteUnitAbsent(VmxBus bus, wchar_t busDigit, wchar_t unitDigit);
  void NoteControllerAbsent(VmxBus bus, wchar_t busDigit);
  void NoteIndependent(VmxBus bus, wchar_t busDigit, wchar_t unitDigit);

  // Tries the fifteen controller patterns on one line and notes what the
  // first that matches says. kGaveUp when the matcher gave up on any.
  VmxMatch Scan(const VmxKeyPatterns& patterns, const std::wstring& text, std::size_t lineIndex);

  struct Disk {
    const std::wstring* key;
    const DiskSlot* slot;
  };
  // The slots that count as hard disks, in slot-key order: a disk device type
  // (none, "disk", "vmdk", "ata-hardDisk"), neither the unit nor its
  // controller absent, and not independent unless `includeIndependent`.
  std::vector<Disk> HardDisks(bool includeIndependent) const;

  const std::map<std::wstring, DiskSlot>& Slots() const { return slots_; }

 private:
  DiskSlot& SlotAt(VmxBus bus, wchar_t busDigit, wchar_t unitDigit);

  std::map<std::wstring, DiskSlot> slots_;
  // Exclusions as small patterns over slot keys ("^s01$" for a unit, "^s0[0-9]$"
  // for a controller), so that they apply whatever the order of the lines. A
  // set: a file that repeats one line a million times still makes one.
  std::set<std::wstring> absent_;
  std::set<std::wstring> independent_;
};

// hwIndex from a virtualHW.version value: "3" -> 0 ... "9" -> 6, "11" -> 8,
// "12" -> 9, anything else 7. kNoHardwareIndex when the file has no such line.
constexpr std::int32_t kNoHardwareIndex = -1;
std::int32_t VmxHardwareIndex(const std::wstring& version);

// adapterKind of a hard disk by its slot key: IDE 0; SCSI 2 when its bus has
// a virtualDev line, else 1; SATA -1. kNoAdapterKind also stands for a disk
// no slot named.
constexpr std::int32_t kNoAdapterKind = -1;
std::int32_t VmxAdapterKind(const std::wstring& slotKey,
                            const std::set<wchar_t>& scsiBusesWithModel);

}  // namespace qvt

#endif
