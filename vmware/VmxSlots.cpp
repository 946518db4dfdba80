#include "VmxSlots.h"

namespace qvt {
namespace {

bool IsHardDiskType(const std::wstring& type) {
  return type.empty() || type == L"disk" || type == L"vmdk" || type == L"ata-hardDisk";
}

std::wstring UnitPattern(VmxBus bus, wchar_t busDigit, wchar_t unitDigit) {
  return std::wstring(L"^") + VmxBusLetter(bus) + busDigit + unitDigit + L"$";
}

std::vector<boost::wregex> Compile(const std::set<std::wstring>& patterns) {
  std::vector<boost::wregex> compiled;
  compiled.reserve(patterns.size());
  for (const std::wstring& p : patterns) compiled.emplace_back(p);
  return compiled;
}

bool AnyMatches(const std::vector<boost::wregex>& patterns, const std::wstring& key) {
  for (const boost::wregex& p : patterns) {
    if (boost::regex_match(key, p)) return true;
  }
  return false;
}

wchar_t Digit(const boost::wsmatch& m, int index) { return m[index].first[0]; }

}  // namespace

std::wstring VmxSlotKey(VmxBus bus, wchar_t busDigit, wchar_t unitDigit) {
  return std::wstring{VmxBusLetter(bus), busDigit, unitDigit};
}

DiskSlot& VmxSlotTable::SlotAt(VmxBus bus, wchar_t busDigit, wchar_t unitDigit) {
  return slots_[VmxSlotKey(bus, busDigit, unitDigit)];
}

void VmxSlotTable::NoteFileName(VmxBus bus, wchar_t busDigit, wchar_t unitDigit,
                                const std::wstring& value, const VmxValueRef& where) {
  DiskSlot& slot = SlotAt(bus, busDigit, unitDigit);
  slot.fileName = value;
  slot.fileNameLines.push_back(where);
}

void VmxSlotTable::NoteDeviceType(VmxBus bus, wchar_t busDigit, wchar_t unitDigit,
                                  const std::wstring& value) {
  SlotAt(bus, busDigit, unitDigit).deviceType = value;
}

void VmxSlotTable::NoteUnitAbsent(VmxBus bus, wchar_t busDigit, wchar_t unitDigit) {
  absent_.insert(UnitPattern(bus, busDigit, unitDigit));
}

void VmxSlotTable::NoteControllerAbsent(VmxBus bus, wchar_t busDigit) {
  absent_.insert(std::wstring(L"^") + VmxBusLetter(bus) + busDigit + L"[0-9]$");
}

void VmxSlotTable::NoteIndependent(VmxBus bus, wchar_t busDigit, wchar_t unitDigit) {
  independent_.insert(UnitPattern(bus, busDigit, unitDigit));
}

VmxMatch VmxSlotTable::Scan(const VmxKeyPatterns& patterns, const std::wstring& text,
                            std::size_t lineIndex) {
  for (const VmxBus bus : kVmxBuses) {
    for (int k = 0; k < kVmxControllerKeyCount; ++k) {
      const auto key = static_cast<VmxControllerKey>(k);
      boost::wsmatch m;
      const VmxMatch result = MatchVmxLine(patterns.Controller(bus, key), text, &m);
      if (result == VmxMatch::kGaveUp) return result;
      if (result == VmxMatch::kNo) continue;
      switch (key) {
        case VmxControllerKey::kFileName: {
          const VmxValueRef where{lineIndex, static_cast<std::size_t>(m.position(3)),
                                  static_cast<std::size_t>(m.length(3))};
          NoteFileName(bus, Digit(m, 1), Digit(m, 2), m.str(3), where);
          break;
        }
        case VmxControllerKey::kDeviceType:
          NoteDeviceType(bus, Digit(m, 1), Digit(m, 2), m.str(3));
          break;
        case VmxControllerKey::kUnitAbsent:
          NoteUnitAbsent(bus, Digit(m, 1), Digit(m, 2));
          break;
        case VmxControllerKey::kControllerAbsent:
          NoteControllerAbsent(bus, Digit(m, 1));
          break;
        case VmxControllerKey::kIndependent:
          NoteIndependent(bus, Digit(m, 1), Digit(m, 2));
          break;
      }
      return VmxMatch::kYes;
    }
  }
  return VmxMatch::kNo;
}

std::vector<VmxSlotTable::Disk> VmxSlotTable::HardDisks(bool includeIndependent) const {
  const std::vector<boost::wregex> absent = Compile(absent_);
  const std::vector<boost::wregex> independent =
      includeIndependent ? std::vector<boost::wregex>() : Compile(independent_);
  std::vector<Disk> disks;
  for (const auto& [key, slot] : slots_) {
    if (!IsHardDiskType(slot.deviceType)) continue;
    if (AnyMatches(absent, key) || AnyMatches(independent, key)) continue;
    disks.push_back(Disk{&key, &slot});
  }
  return disks;
}

std::int32_t VmxHardwareIndex(const std::wstring& version) {
  static const struct {
    const wchar_t* version;
    std::int32_t index;
  } kKnown[] = {{L"3", 0}, {L"4", 1}, {L"5", 2},  {L"6", 3}, {L"7", 4},
                {L"8", 5}, {L"9", 6}, {L"11", 8}, {L"12", 9}};
  for (const auto& known : kKnown) {
    if (version == known.version) return known.index;
  }
  return 7;
}

std::int32_t VmxAdapterKind(const std::wstring& slotKey,
                            const std::set<wchar_t>& scsiBusesWithModel) {
  if (slotKey.size() != 3) return kNoAdapterKind;
  switch (slotKey[0]) {
    case L'i':
      return 0;
    case L's':
      return scsiBusesWithModel.count(slotKey[1]) != 0 ? 2 : 1;
    default:
      return kNoAdapterKind;
  }
}

}  // namespace qvt
