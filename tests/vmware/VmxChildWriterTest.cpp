#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PathForms.h"
#include "TempFolder.h"
#include "VmxChildWriter.h"
#include "VmxDiskList.h"
#include "VmxFixtures.h"
#include "VmxTestKit.h"

namespace qvt {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::wstring>;

const std::wstring kTitle = L"Child #1 \"x\"";
const std::string kDisplayLine = "displayName = \"Child |231 |22x|22\"";

Names ChildNames(std::size_t count) {
  Names names;
  for (std::size_t i = 0; i < count; ++i) names.push_back(L"child" + std::to_wstring(i) + L".vmdk");
  return names;
}

struct Change {
  std::size_t line;  // from 1, as an editor counts
  std::string text;
};

struct RoundTripCase {
  const char* file;
  std::int32_t hwIndex;
  std::vector<std::int32_t> adapters;
  std::vector<Change> changes;
};

// A child of each configuration, every disk included: exactly the disk,
// suspend, nvram and display-name values change, every other byte of every
// line stays, and every line ends in CR LF.
TEST(WriteChildVmx, ChangesOnlyTheMachinesOwnFileNamesAndTheDisplayName) {
  const std::string nvram = "nvram = \"child.nvram\"";
  const std::string suspend = "checkpoint.vmState = \"child.vmss\"";
  const RoundTripCase cases[] = {
      {"esx-in-the-wild-12.vmx", 7, {}, {{31, kDisplayLine}, {43, nvram}}},
      {"fusion-in-the-wild-1.vmx",
       6,
       {2},
       {{7, kDisplayLine}, {23, "scsi0:0.fileName = \"child0.vmdk\""}}},
      {"gsx-in-the-wild-1.vmx",
       1,
       {0},
       {{5, kDisplayLine}, {7, nvram}, {17, "ide0:0.fileName = \"child0.vmdk\""}, {52, suspend}}},
      {"gsx-in-the-wild-3.vmx",
       1,
       {0},
       {{9, "ide0:0.fileName = \"child0.vmdk\""}, {20, kDisplayLine}, {22, nvram}, {55, suspend}}},
      {"harddisk-transient.vmx",
       1,
       {0},
       {{5, "ide0:0.fileName = \"child0.vmdk\""}, {7, kDisplayLine}}},
      {"workstation4-hw3.vmx",
       0,
       {0, 1},
       {{6, "ide0:0.fileName = \"child0.vmdk\""},
        {14, "scsi0:0.fileName = \"child1.vmdk\""},
        {18, kDisplayLine},
        {20, nvram},
        {21, suspend}}},
      {"player-hw7-suspended.vmx",
       4,
       {0, 2},
       {{8, "ide0:0.fileName = \"child0.vmdk\""},
        {27, kDisplayLine},
        {29, nvram},
        {36, "scsi0:0.fileName = \"child1.vmdk\" # build tools"},
        {46, suspend}}},
      // The absent SCSI controller's and IDE unit's disks stay as they were.
      {"workstation-hw11-sata.vmx",
       8,
       {0, -1},
       {{8, "sata0:0.fileName = \"child1.vmdk\"   # system disk"},
        {20, "ide1:0.fileName = \"child0.vmdk\""},
        {43, kDisplayLine},
        {45, nvram},
        {63, suspend}}},
      {"workstation-hw12-multi.vmx",
       9,
       {2, 1, -1},
       {{7, "scsi0:0.fileName = \"child0.vmdk\""},
        {12, "scsi1:0.fileName = \"child1.vmdk\""},
        {15, "sata0:0.fileName = \"child2.vmdk\""},
        {25, kDisplayLine},
        {27, nvram},
        {29, suspend}}},
      // Shift_JIS bytes around the values stay, whatever the code page.
      {"player-hw9-japanese-sjis.vmx",
       6,
       {2, 2},
       {{10, "scsi0:0.fileName = \"child0.vmdk\""},
        {12, "scsi0:1.fileName = \"child1.vmdk\" # " + test::ToShiftJis(L"共有ディスク")},
        {22, kDisplayLine},
        {24, nvram},
        {28, suspend}}},
  };
  test::TempFolder folder;
  for (const RoundTripCase& c : cases) {
    const std::string source = test::FixtureBytes(c.file);
    const std::wstring parent = folder.WriteFile(L"parent.vmx", source);
    Names disks;
    ASSERT_TRUE(ReadVmxDiskList(parent, true, &disks, nullptr)) << c.file;
    std::int32_t hwIndex = 99;
    std::vector<std::int32_t> adapters = {42};
    ASSERT_TRUE(WriteChildVmx(parent, disks, folder.Windows(L"child.vmx"), ChildNames(disks.size()),
                              L"child.vmss", L"child.nvram", true, kTitle, true, &hwIndex,
                              &adapters))
        << c.file;
    EXPECT_EQ(hwIndex, c.hwIndex) << c.file;
    EXPECT_EQ(adapters, c.adapters) << c.file;

    std::vector<std::string> expected = test::SplitConfigLines(source);
    for (const Change& change : c.changes) {
      ASSERT_LE(change.line, expected.size()) << c.file;
      ASSERT_NE(expected[change.line - 1], change.text) << c.file << " line " << change.line;
      expected[change.line - 1] = change.text;
    }
    EXPECT_EQ(test::SplitConfigLines(folder.ReadFile(L"child.vmx")), expected) << c.file;
    EXPECT_EQ(folder.ReadFile(L"child.vmx"), test::JoinCrLf(expected)) << c.file;
    EXPECT_EQ(folder.ReadFile(L"parent.vmx"), source) << c.file << ": the source changed";
  }
}

// Writes `source`, runs WriteChildVmx with the given lists into child.vmx,
// and tells how it went.
struct ChildRun {
  bool ok = false;
  std::string child;
  bool childExists = false;
};

ChildRun WriteChild(const std::string& source, const Names& oldDisks, const Names& newDisks,
                    bool setDisplayName = false, const std::wstring& title = L"",
                    bool includeIndependent = false, const std::wstring& suspend = L"s.vmss",
                    const std::wstring& nvram = L"n.nvram") {
  test::TempFolder folder;
  const std::wstring parent = folder.WriteFile(L"parent.vmx", source);
  ChildRun run;
  run.ok = WriteChildVmx(parent, oldDisks, folder.Windows(L"child.vmx"), newDisks, suspend, nvram,
                         setDisplayName, title, includeIndependent);
  run.childExists = folder.Exists(L"child.vmx");
  run.child = folder.ReadFile(L"child.vmx");
  EXPECT_EQ(folder.ReadFile(L"parent.vmx"), source) << "the source changed";
  return run;
}

TEST(WriteChildVmx, DisplayNameIsReplacedOrAppendedOnlyWhenAsked) {
  const struct {
    const char* what;
    std::string source;
    bool set;
    std::wstring title;
    std::string child;
  } cases[] = {
      {"appended when missing", "memsize = \"256\"\n", true, L"New \"one\"",
       "memsize = \"256\"\r\ndisplayName = \"New |22one|22\"\r\n"},
      {"every line replaced", "displayName = \"a\"\nx = \"1\"\n  displayName=\"b\" # c\n", true,
       L"T|#", "displayName = \"T|7C|23\"\r\nx = \"1\"\r\n  displayName=\"T|7C|23\" # c\r\n"},
      {"a line break in the title cannot tear the line", "displayName = \"a\"\n", true,
       L"two\r\nlines", "displayName = \"two|0D|0Alines\"\r\n"},
      {"an empty title", "displayName = \"a\"\n", true, L"", "displayName = \"\"\r\n"},
      {"left alone when not asked", "displayName = \"a|7C\"\n", false, L"ignored",
       "displayName = \"a|7C\"\r\n"},
      {"not appended when not asked", "memsize = \"256\"\n", false, L"ignored",
       "memsize = \"256\"\r\n"},
  };
  for (const auto& c : cases) {
    const ChildRun run = WriteChild(c.source, {}, {}, c.set, c.title);
    ASSERT_TRUE(run.ok) << c.what;
    EXPECT_EQ(run.child, c.child) << c.what;
  }
}

TEST(WriteChildVmx, EverySuspendAndNvramLineGetsTheNewName) {
  const ChildRun run = WriteChild(
      "checkpoint.vmState = \"a.vmss\"\nnvram = \"a.nvram\"\ncheckpoint.vmState = \"\"\n"
      "nvram = \"b.nvram\" # old\n",
      {}, {}, false, L"", false, L"c#1.vmss", L"c|1.nvram");
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.child,
            "checkpoint.vmState = \"c|231.vmss\"\r\nnvram = \"c|7C1.nvram\"\r\n"
            "checkpoint.vmState = \"c|231.vmss\"\r\nnvram = \"c|7C1.nvram\" # old\r\n");
}

TEST(WriteChildVmx, DisksAreFoundIgnoringCaseAndTakeTheNewNameAtTheSameIndex) {
  const struct {
    const char* what;
    std::string source;
    Names oldDisks;
    Names newDisks;
    bool includeIndependent;
    std::string child;
  } cases[] = {
      {"case does not matter",
       "ide0:0.fileName = \"Base.VMDK\"\n",
       {L"base.vmdk"},
       {L"c.vmdk"},
       false,
       "ide0:0.fileName = \"c.vmdk\"\r\n"},
      {"the first equal entry wins",
       "ide0:0.fileName = \"a.vmdk\"\n",
       {L"A.vmdk", L"a.vmdk"},
       {L"first.vmdk", L"second.vmdk"},
       false,
       "ide0:0.fileName = \"first.vmdk\"\r\n"},
      {"by index, not by order in the file",
       "sata0:0.fileName = \"s.vmdk\"\nide0:0.fileName = \"i.vmdk\"\n",
       {L"s.vmdk", L"i.vmdk"},
       {L"s2.vmdk", L"i2.vmdk"},
       false,
       "sata0:0.fileName = \"s2.vmdk\"\r\nide0:0.fileName = \"i2.vmdk\"\r\n"},
      {"new names are escaped",
       "ide0:0.fileName = \"a|7Cb.vmdk\"\n",
       {L"a|b.vmdk"},
       {L"c#\"d\".vmdk"},
       false,
       "ide0:0.fileName = \"c|23|22d|22.vmdk\"\r\n"},
      {"an independent disk stays without the flag",
       "ide0:0.fileName = \"a.vmdk\"\nide0:0.mode = \"independent-persistent\"\n",
       {},
       {},
       false,
       "ide0:0.fileName = \"a.vmdk\"\r\nide0:0.mode = \"independent-persistent\"\r\n"},
      {"and is rewritten with it",
       "ide0:0.fileName = \"a.vmdk\"\nide0:0.mode = \"independent-persistent\"\n",
       {L"a.vmdk"},
       {L"c.vmdk"},
       true,
       "ide0:0.fileName = \"c.vmdk\"\r\nide0:0.mode = \"independent-persistent\"\r\n"},
      {"CD-ROMs, absent units and unit 10 stay",
       "ide1:0.fileName = \"a.iso\"\nide1:0.deviceType = \"cdrom-image\"\n"
       "scsi0:1.fileName = \"gone.vmdk\"\nscsi0:1.present = \"FALSE\"\n"
       "scsi0:10.fileName = \"ten.vmdk\"\n",
       {},
       {},
       false,
       "ide1:0.fileName = \"a.iso\"\r\nide1:0.deviceType = \"cdrom-image\"\r\n"
       "scsi0:1.fileName = \"gone.vmdk\"\r\nscsi0:1.present = \"FALSE\"\r\n"
       "scsi0:10.fileName = \"ten.vmdk\"\r\n"},
      // A duplicate left unchanged would keep naming the parent's disk.
      {"every file-name line of a disk slot is rewritten",
       "ide0:0.fileName = \"a.vmdk\"\nx = \"1\"\nide0:0.fileName = \"A.vmdk\"\n",
       {L"a.vmdk"},
       {L"c.vmdk"},
       false,
       "ide0:0.fileName = \"c.vmdk\"\r\nx = \"1\"\r\nide0:0.fileName = \"c.vmdk\"\r\n"},
      {"old disks no slot names are fine",
       "ide0:0.fileName = \"a.vmdk\"\n",
       {L"other.vmdk", L"a.vmdk"},
       {L"o2.vmdk", L"a2.vmdk"},
       false,
       "ide0:0.fileName = \"a2.vmdk\"\r\n"},
  };
  for (const auto& c : cases) {
    const ChildRun run =
        WriteChild(c.source, c.oldDisks, c.newDisks, false, L"", c.includeIndependent);
    ASSERT_TRUE(run.ok) << c.what;
    EXPECT_EQ(run.child, c.child) << c.what;
  }
}

TEST(WriteChildVmx, AcceptsLinesTheDiskListGrammarRefuses) {
  const std::string source =
      "annotation = two words\nkey = \"unbalanced\nide0:0.fileName = \"a.vmdk\"\n";
  const ChildRun run = WriteChild(source, {L"a.vmdk"}, {L"c.vmdk"});
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.child,
            "annotation = two words\r\nkey = \"unbalanced\r\nide0:0.fileName = \"c.vmdk\"\r\n");
}

TEST(WriteChildVmx, FailsBeforeWritingWhenTheSourceCannotBeMapped) {
  const struct {
    const char* what;
    std::string source;
    Names oldDisks;
    Names newDisks;
    std::wstring suspend;
  } cases[] = {
      {"a disk that is not among the old disks",
       "ide0:0.fileName = \"a.vmdk\"\n",
       {L"b.vmdk"},
       {L"c.vmdk"},
       L"s"},
      {"a file name that cannot be unescaped",
       "ide0:0.fileName = \"a|7cb.vmdk\"\n",
       {L"a|7cb.vmdk"},
       {L"c.vmdk"},
       L"s"},
      {"a disk slot with a device type but no file name",
       "ide0:0.deviceType = \"disk\"\n",
       {L""},
       {L"c.vmdk"},
       L"s"},
      {"an earlier duplicate naming another disk",
       "ide0:0.fileName = \"stale.vmdk\"\nide0:0.fileName = \"a.vmdk\"\n",
       {L"a.vmdk"},
       {L"c.vmdk"},
       L"s"},
      {"lists of different lengths",
       "ide0:0.fileName = \"a.vmdk\"\n",
       {L"a.vmdk"},
       {L"c.vmdk", L"d.vmdk"},
       L"s"},
      // Hangul is in neither ASCII nor CP932: the name would be bent.
      {"a new disk name the code page cannot hold",
       "ide0:0.fileName = \"a.vmdk\"\n",
       {L"a.vmdk"},
       {L"\xD55C.vmdk"},
       L"s"},
      {"a suspend name the code page cannot hold",
       "checkpoint.vmState = \"a.vmss\"\n",
       {},
       {},
       L"\xD55C.vmss"},
  };
  for (const auto& c : cases) {
    const ChildRun run = WriteChild(c.source, c.oldDisks, c.newDisks, false, L"", false, c.suspend);
    EXPECT_FALSE(run.ok) << c.what;
    EXPECT_FALSE(run.childExists) << c.what;
  }
}

TEST(WriteChildVmx, AnUnwritableNameOnlyMattersWhereALineNeedsIt) {
  const ChildRun run = WriteChild("memsize = \"256\"\n", {}, {}, true, L"\xD55C", false,
                                  L"\xD55C.vmss", L"\xD55C.nvram");
  ASSERT_TRUE(run.ok);
  // The title is only shown, so the code page's default character will do.
  EXPECT_EQ(run.child, "memsize = \"256\"\r\ndisplayName = \"?\"\r\n");
}

TEST(WriteChildVmx, ReportsHardwareIndexAndAdapterKinds) {
  const struct {
    const char* what;
    std::string source;
    Names disks;
    std::int32_t hwIndex;
    std::vector<std::int32_t> adapters;
  } cases[] = {
      {"no version line", "ide0:0.fileName = \"a\"\n", {L"a"}, -1, {0}},
      {"version 10", "virtualHW.version = \"10\"\n", {}, 7, {}},
      {"version 14", "virtualHW.version = \"14\"\n", {}, 7, {}},
      {"the last line counts", "virtualHW.version = \"4\"\nvirtualHW.version = \"7\"\n", {}, 4, {}},
      {"SCSI model line after the disk",
       "scsi0:0.fileName = \"a\"\nscsi1:0.fileName = \"b\"\nscsi0.virtualDev = \"buslogic\"\n",
       {L"b", L"a"},
       -1,
       {1, 2}},
      {"SATA, and an old disk no slot names",
       "sata0:0.fileName = \"a\"\n",
       {L"gone", L"a"},
       -1,
       {-1, -1}},
      {"IDE", "ide1:1.fileName = \"a\"\n", {L"x", L"a"}, -1, {-1, 0}},
  };
  test::TempFolder folder;
  for (const auto& c : cases) {
    const std::wstring parent = folder.WriteFile(L"parent.vmx", c.source);
    std::int32_t hwIndex = 99;
    std::vector<std::int32_t> adapters;
    ASSERT_TRUE(WriteChildVmx(parent, c.disks, folder.Windows(L"child.vmx"), c.disks, L"", L"",
                              false, L"", false, &hwIndex, &adapters))
        << c.what;
    EXPECT_EQ(hwIndex, c.hwIndex) << c.what;
    EXPECT_EQ(adapters, c.adapters) << c.what;
  }
}

TEST(WriteChildVmx, OutputsStayAsTheyWereWhenItFails) {
  test::TempFolder folder;
  const std::wstring parent =
      folder.WriteFile(L"parent.vmx", "virtualHW.version = \"7\"\nide0:0.fileName = \"a\"\n");
  std::int32_t hwIndex = 99;
  std::vector<std::int32_t> adapters = {42};
  EXPECT_FALSE(WriteChildVmx(parent, {L"b"}, folder.Windows(L"child.vmx"), {L"c"}, L"", L"", false,
                             L"", false, &hwIndex, &adapters));
  EXPECT_EQ(hwIndex, 99);
  EXPECT_EQ(adapters, std::vector<std::int32_t>{42});
}

TEST(WriteChildVmx, FailsForFilesItCannotReadOrWrite) {
  test::TempFolder folder;
  const std::wstring parent = folder.WriteFile(L"parent.vmx", "memsize = \"256\"\n");
  EXPECT_FALSE(WriteChildVmx(folder.Windows(L"missing.vmx"), {}, folder.Windows(L"child.vmx"), {},
                             L"", L"", false, L"", false));
  EXPECT_FALSE(folder.Exists(L"child.vmx"));
  EXPECT_FALSE(WriteChildVmx(parent, {}, folder.Windows(L"no folder\\child.vmx"), {}, L"", L"",
                             false, L"", false));
  // Writing over the source would leave the parent naming the child's disks.
  EXPECT_FALSE(
      WriteChildVmx(parent, {}, folder.Windows(L"PARENT.VMX"), {}, L"", L"", false, L"", false));
  EXPECT_EQ(folder.ReadFile(L"parent.vmx"), "memsize = \"256\"\n");
}

TEST(WriteChildVmx, KeepsBytesAWindowsTextStreamWouldLose) {
  // A Ctrl-Z (end of file to a text stream), a CR before the CR LF, bytes no
  // code page decodes, and a NUL in a comment behind a value it rewrites.
  const std::string source =
      "annotation = \"a\x1A"
      "b\"\n"
      "memsize = \"256\"\r\r\n"
      "junk \xFF\xFE\x80 = 1\n"
      "ide0:0.fileName = \"a.vmdk\" # \xFF\x81\0 note\n"
      "nvram = \"x\" \t# \x82\xA0\n"s;
  const ChildRun run = WriteChild(source, {L"a.vmdk"}, {L"c.vmdk"}, false, L"", false, L"s", L"n");
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.child,
            "annotation = \"a\x1A"
            "b\"\r\n"
            "memsize = \"256\"\r\r\n"
            "junk \xFF\xFE\x80 = 1\r\n"
            "ide0:0.fileName = \"c.vmdk\" # \xFF\x81\0 note\r\n"
            "nvram = \"n\" \t# \x82\xA0\r\n"s);
}

}  // namespace
}  // namespace qvt
