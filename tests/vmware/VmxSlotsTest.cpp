#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VmxSlots.h"

namespace qvt {
namespace {

// Scans the lines into a table, as the readers do.
VmxSlotTable ScanAll(const std::vector<std::wstring>& lines) {
  VmxSlotTable table;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(table.Scan(VmxPatternsFor(VmxLineEnd::kPlain), lines[i], i), VmxMatch::kGaveUp);
  }
  return table;
}

std::vector<std::wstring> DiskKeys(const VmxSlotTable& table, bool includeIndependent) {
  std::vector<std::wstring> keys;
  for (const VmxSlotTable::Disk& d : table.HardDisks(includeIndependent)) keys.push_back(*d.key);
  return keys;
}

struct CountCase {
  const char* what;
  std::vector<std::wstring> lines;
  std::vector<std::wstring> disks;  // without independent disks
  std::vector<std::wstring> withIndependent;
};

TEST(VmxSlotTable, CountsSlotsAsHardDisksByTypePresenceAndMode) {
  const CountCase cases[] = {
      {"a slot without a device type is a disk",
       {L"scsi0:0.fileName = \"a.vmdk\""},
       {L"s00"},
       {L"s00"}},
      {"disk types",
       {L"ide0:0.fileName = \"a\"", L"ide0:0.deviceType = \"disk\"", L"ide0:1.fileName = \"b\"",
        L"ide0:1.deviceType = \"vmdk\"", L"ide1:0.fileName = \"c\"",
        L"ide1:0.deviceType = \"ata-hardDisk\"", L"ide1:1.fileName = \"d\"",
        L"ide1:1.deviceType = \"\""},
       {L"i00", L"i01", L"i10", L"i11"},
       {L"i00", L"i01", L"i10", L"i11"}},
      {"other types are not disks",
       {L"scsi0:0.fileName = \"a\"", L"scsi0:0.deviceType = \"scsi-hardDisk\"",
        L"ide1:0.fileName = \"auto detect\"", L"ide1:0.deviceType = \"atapi-cdrom\"",
        L"sata0:1.fileName = \"x.iso\"", L"sata0:1.deviceType = \"cdrom-image\"",
        L"ide0:0.fileName = \"r\"", L"ide0:0.deviceType = \"rawDisk\"", L"ide0:1.fileName = \"d\"",
        L"ide0:1.deviceType = \"Disk\""},
       {},
       {}},
      {"a device type alone makes a slot", {L"sata0:2.deviceType = \"disk\""}, {L"t02"}, {L"t02"}},
      {"an absent controller excludes its whole bus",
       {L"scsi0.present = \"FALSE\"", L"scsi0:0.fileName = \"a\"", L"scsi0:9.fileName = \"b\"",
        L"scsi1:0.fileName = \"c\""},
       {L"s10"},
       {L"s10"}},
      {"an absent unit excludes only itself",
       {L"scsi0:1.present = \"FALSE\"", L"scsi0:0.fileName = \"a\"", L"scsi0:1.fileName = \"b\"",
        L"scsi0:2.fileName = \"c\""},
       {L"s00", L"s02"},
       {L"s00", L"s02"}},
      {"exclusions apply whatever their place in the file",
       {L"ide0:0.fileName = \"a\"", L"sata0:0.fileName = \"b\"", L"ide0:0.present = \"FALSE\"",
        L"sata0.present = \"FALSE\""},
       {},
       {}},
      {"present TRUE excludes nothing",
       {L"ide0.present = \"TRUE\"", L"ide0:0.present = \"TRUE\"", L"ide0:0.fileName = \"a\""},
       {L"i00"},
       {L"i00"}},
      {"an exclusion names one kind only",
       {L"ide0.present = \"FALSE\"", L"scsi0:0.present = \"FALSE\"", L"scsi0:0.fileName = \"a\"",
        L"sata0:0.fileName = \"b\"", L"ide1:0.fileName = \"c\""},
       {L"i10", L"t00"},
       {L"i10", L"t00"}},
      {"independent disks only with the flag",
       {L"ide0:0.fileName = \"a\"", L"ide0:0.mode = \"independent-persistent\"",
        L"ide0:1.fileName = \"b\"", L"ide0:1.mode = \"independent-nonpersistent\"",
        L"ide1:0.fileName = \"c\"", L"ide1:0.mode = \"persistent\""},
       {L"i10"},
       {L"i00", L"i01", L"i10"}},
      {"key order: IDE, SCSI, SATA, each by bus and unit",
       {L"sata1:0.fileName = \"a\"", L"sata0:1.fileName = \"b\"", L"scsi2:0.fileName = \"c\"",
        L"scsi0:3.fileName = \"d\"", L"ide1:1.fileName = \"e\"", L"ide0:1.fileName = \"f\""},
       {L"i01", L"i11", L"s03", L"s20", L"t01", L"t10"},
       {L"i01", L"i11", L"s03", L"s20", L"t01", L"t10"}},
  };
  for (const CountCase& c : cases) {
    const VmxSlotTable table = ScanAll(c.lines);
    EXPECT_EQ(DiskKeys(table, false), c.disks) << c.what;
    EXPECT_EQ(DiskKeys(table, true), c.withIndependent) << c.what;
  }
}

TEST(VmxSlotTable, LaterLinesReplaceEarlierValuesAndEveryFileLineIsKept) {
  const VmxSlotTable table = ScanAll(
      {L"ide0:0.deviceType = \"cdrom-raw\"", L"ide0:0.fileName = \"first.vmdk\"", L"other = \"x\"",
       L"  ide0:0.fileName = \"second.vmdk\"", L"ide0:0.deviceType = \"disk\""});
  ASSERT_EQ(table.Slots().size(), 1u);
  const DiskSlot& slot = table.Slots().at(L"i00");
  EXPECT_EQ(slot.fileName, L"second.vmdk");
  EXPECT_EQ(slot.deviceType, L"disk");
  ASSERT_EQ(slot.fileNameLines.size(), 2u);
  EXPECT_EQ(slot.fileNameLines[0].line, 1u);
  EXPECT_EQ(slot.fileNameLines[0].position, 19u);
  EXPECT_EQ(slot.fileNameLines[0].length, 10u);
  EXPECT_EQ(slot.fileNameLines[1].line, 3u);
  EXPECT_EQ(slot.fileNameLines[1].position, 21u);
  EXPECT_EQ(slot.fileNameLines[1].length, 11u);
  EXPECT_EQ(DiskKeys(table, false), std::vector<std::wstring>{L"i00"});
}

TEST(VmxHardwareIndex, MapsVersionsToTheEngineCodes) {
  const struct {
    std::wstring version;
    std::int32_t index;
  } cases[] = {{L"3", 0},  {L"4", 1},  {L"5", 2},  {L"6", 3},  {L"7", 4},  {L"8", 5},
               {L"9", 6},  {L"10", 7}, {L"11", 8}, {L"12", 9}, {L"13", 7}, {L"14", 7},
               {L"20", 7}, {L"", 7},   {L"07", 7}, {L"2", 7},  {L"4 ", 7}, {L"x", 7}};
  for (const auto& c : cases) EXPECT_EQ(VmxHardwareIndex(c.version), c.index) << c.version;
}

TEST(VmxAdapterKind, FollowsTheControllerKindAndTheScsiModelLine) {
  const std::set<wchar_t> busesWithModel = {L'1'};
  const struct {
    std::wstring key;
    std::int32_t kind;
  } cases[] = {{L"i00", 0}, {L"i13", 0},  {L"s00", 1}, {L"s15", 2},
               {L"s20", 1}, {L"t00", -1}, {L"t19", -1}};
  for (const auto& c : cases) EXPECT_EQ(VmxAdapterKind(c.key, busesWithModel), c.kind) << c.key;
}

}  // namespace
}  // namespace qvt
