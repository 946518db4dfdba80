#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempFolder.h"
#include "VmxDiskList.h"
#include "VmxFixtures.h"

namespace qvt {
namespace {

using Names = std::vector<std::wstring>;

struct FixtureCase {
  const char* file;
  Names disks;  // without independent disks
  Names withIndependent;
  std::wstring displayName;
};

TEST(ReadVmxDiskList, ReadsTheDisksAndDisplayNameOfProductConfigurations) {
  const FixtureCase cases[] = {
      // scsi-hardDisk is not a hard disk here; the SATA unit is a CD-ROM.
      {"esx-in-the-wild-12.vmx", {}, {}, L"Auto-esx8.0-rhell9.3-efi-with-empty-cdrom"},
      // The CD-ROM's "filename" is not the fileName key.
      {"fusion-in-the-wild-1.vmx", {L"ATTM_VM.vmdk"}, {L"ATTM_VM.vmdk"}, L"ATTM_VM"},
      {"gsx-in-the-wild-1.vmx", {}, {L"Debian-System1-0-cl2.vmdk"}, L"Server1"},
      // The independent line comes long after the file name.
      {"gsx-in-the-wild-3.vmx", {}, {L"Debian-System1-0-cl1.vmdk"}, L"Router"},
      {"harddisk-transient.vmx", {}, {L"harddisk.vmdk"}, L"test"},
      {"workstation4-hw3.vmx",
       {L"winNT.vmdk", L"winNT-scsi.vmdk"},
       {L"winNT.vmdk", L"winNT-scsi.vmdk"},
       L"Windows NT"},
      {"player-hw7-suspended.vmx",
       {L"Windows XP Professional.vmdk", L"Windows XP Professional-0.vmdk"},
       {L"Windows XP Professional.vmdk", L"Windows XP Professional-0.vmdk"},
       L"Windows XP \"build\" | SP3"},
      // SATA is named first in the file but comes after IDE.
      {"workstation-hw11-sata.vmx",
       {L"Ubuntu 64-bit.vmdk"},
       {L"Ubuntu 64-bit-shared.vmdk", L"Ubuntu 64-bit.vmdk"},
       L"Ubuntu 64-bit"},
      {"workstation-hw12-multi.vmx",
       {L"Windows Server 2012.vmdk", L"Windows Server 2012-log.vmdk",
        L"Windows Server 2012-data.vmdk"},
       {L"Windows Server 2012.vmdk", L"Windows Server 2012-log.vmdk",
        L"Windows Server 2012-data.vmdk"},
       L"Windows Server 2012"},
  };
  test::TempFolder folder;
  for (const FixtureCase& c : cases) {
    const std::wstring path = folder.WriteFile(L"m.vmx", test::FixtureBytes(c.file));
    Names disks;
    std::wstring displayName;
    ASSERT_TRUE(ReadVmxDiskList(path, false, &disks, &displayName)) << c.file;
    EXPECT_EQ(disks, c.disks) << c.file;
    EXPECT_EQ(displayName, c.displayName) << c.file;
    ASSERT_TRUE(ReadVmxDiskList(path, true, &disks, &displayName)) << c.file;
    EXPECT_EQ(disks, c.withIndependent) << c.file;
  }
}

struct TextCase {
  const char* what;
  std::string text;
  Names disks;
  std::wstring displayName;
};

TEST(ReadVmxDiskList, NamesAreUnescapedWhereTheyCanBe) {
  const TextCase cases[] = {
      {"bar code", "ide0:0.fileName = \"a|7Cb.vmdk\"\n", {L"a|b.vmdk"}, L""},
      {"lower-case digits keep the raw text",
       "ide0:0.fileName = \"a|7cb.vmdk\"\n",
       {L"a|7cb.vmdk"},
       L""},
      {"display name unescaped", "displayName = \"say |22hi|22 |231\"\n", {}, L"say \"hi\" #1"},
      {"a display name that cannot be unescaped is empty", "displayName = \"bad|zz\"\n", {}, L""},
      {"the last display name counts",
       "displayName = \"one\"\ndisplayName = \"two\"\n",
       {},
       L"two"},
      {"absolute and relative names as written",
       "scsi0:0.fileName = \"D:\\vm\\base.vmdk\"\nscsi0:1.fileName = \"..\\base\\b.vmdk\"\n",
       {L"D:\\vm\\base.vmdk", L"..\\base\\b.vmdk"},
       L""},
      {"the last file name of a slot counts",
       "ide0:0.fileName = \"old.vmdk\"\nide0:0.fileName = \"new.vmdk\"\n",
       {L"new.vmdk"},
       L""},
      {"a device type without a file name gives an empty entry",
       "ide0:0.deviceType = \"disk\"\nide0:1.fileName = \"b.vmdk\"\n",
       {L"", L"b.vmdk"},
       L""},
      {"unit 10 is not recognised",
       "scsi0:10.fileName = \"ten.vmdk\"\nscsi0:1.fileName = \"one.vmdk\"\n",
       {L"one.vmdk"},
       L""},
      {"no disks at all", "config.version = \"8\"\n", {}, L""},
      {"an empty file", "", {}, L""},
      {"CR LF line ends and no line end at the end",
       "ide0:0.fileName = \"a.vmdk\"\r\ndisplayName = \"x\"",
       {L"a.vmdk"},
       L"x"},
  };
  test::TempFolder folder;
  for (const TextCase& c : cases) {
    const std::wstring path = folder.WriteFile(L"m.vmx", c.text);
    Names disks;
    std::wstring displayName = L"was set";
    ASSERT_TRUE(ReadVmxDiskList(path, false, &disks, &displayName)) << c.what;
    EXPECT_EQ(disks, c.disks) << c.what;
    EXPECT_EQ(displayName, c.displayName) << c.what;
  }
}

TEST(ReadVmxDiskList, OneInvalidLineFailsTheWholeRead) {
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"bare value with a blank", "ide0:0.fileName = \"a.vmdk\"\nannotation = two words\n"},
      {"unbalanced quote", "ide0:0.fileName = \"a.vmdk\nide0:1.fileName = \"b.vmdk\"\n"},
      {"text after the value", "displayName = \"x\" y\n"},
      {"a line of words", "ide0:0.fileName = \"a.vmdk\"\nthis is not a setting\n"},
      {"a CR left in the line", "ide0:0.fileName = \"a.vmdk\"\r\r\n"},
      {"a NUL outside the quotes", std::string("key = \"v\"\0\n", 11)},
  };
  test::TempFolder folder;
  for (const auto& c : cases) {
    const std::wstring path = folder.WriteFile(L"m.vmx", c.text);
    Names disks = {L"kept"};
    std::wstring displayName = L"kept";
    EXPECT_FALSE(ReadVmxDiskList(path, true, &disks, &displayName)) << c.what;
    EXPECT_EQ(disks, Names{L"kept"}) << c.what;
    EXPECT_EQ(displayName, L"kept") << c.what;
  }
}

TEST(ReadVmxDiskList, FailsForAFileThatCannotBeRead) {
  test::TempFolder folder;
  Names disks;
  EXPECT_FALSE(ReadVmxDiskList(folder.Windows(L"missing.vmx"), false, &disks, nullptr));
  EXPECT_FALSE(ReadVmxDiskList(folder.Windows(), false, &disks, nullptr)) << "a folder";
}

TEST(ReadVmxDiskList, DisplayNameMayBeLeftOut) {
  test::TempFolder folder;
  const std::wstring path = folder.WriteFile(L"m.vmx", "ide0:0.fileName = \"a.vmdk\"\n");
  Names disks;
  ASSERT_TRUE(ReadVmxDiskList(path, false, &disks, nullptr));
  EXPECT_EQ(disks, Names{L"a.vmdk"});
}

}  // namespace
}  // namespace qvt
