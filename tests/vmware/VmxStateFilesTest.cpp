#include <gtest/gtest.h>

#include <string>

#include "TempFolder.h"
#include "VmxFixtures.h"
#include "VmxStateFiles.h"

namespace qvt {
namespace {

TEST(ReadVmxStateFiles, ReadsSuspendAndNvramNamesOfProductConfigurations) {
  const struct {
    const char* file;
    std::wstring suspend;
    std::wstring nvram;
  } cases[] = {
      {"esx-in-the-wild-12.vmx", L"", L"Auto-esx8.0-rhell9.3-efi-with-empty-cdrom.nvram"},
      {"fusion-in-the-wild-1.vmx", L"", L""},
      {"gsx-in-the-wild-1.vmx", L"", L"Debian-System1.nvram"},
      {"gsx-in-the-wild-3.vmx", L"", L"Debian-System3.nvram"},
      {"harddisk-transient.vmx", L"", L""},
      {"workstation4-hw3.vmx", L"winNT.vmss", L"nvram"},
      {"player-hw7-suspended.vmx", L"Windows XP Professional.vmss",
       L"Windows XP Professional.nvram"},
      {"workstation-hw11-sata.vmx", L"", L"Ubuntu 64-bit.nvram"},
      // checkpoint.vmState.readOnly is another key.
      {"workstation-hw12-multi.vmx", L"Windows Server 2012-a1b2c3d4.vmss",
       L"Windows Server 2012.nvram"},
  };
  test::TempFolder folder;
  for (const auto& c : cases) {
    const std::wstring path = folder.WriteFile(L"m.vmx", test::FixtureBytes(c.file));
    std::wstring suspend = L"was set";
    std::wstring nvram = L"was set";
    ASSERT_TRUE(ReadVmxStateFiles(path, &suspend, &nvram)) << c.file;
    EXPECT_EQ(suspend, c.suspend) << c.file;
    EXPECT_EQ(nvram, c.nvram) << c.file;
  }
}

TEST(ReadVmxStateFiles, TheFirstLineOfEachKeyCountsAndValuesAreUnescaped) {
  const struct {
    const char* what;
    std::string text;
    std::wstring suspend;
    std::wstring nvram;
  } cases[] = {
      {"first wins",
       "checkpoint.vmState = \"one.vmss\"\nnvram = \"one.nvram\"\n"
       "checkpoint.vmState = \"two.vmss\"\nnvram = \"two.nvram\"\n",
       L"one.vmss", L"one.nvram"},
      {"unescaped", "checkpoint.vmState = \"a|23b.vmss\"\nnvram = \"|7C.nvram\"\n", L"a#b.vmss",
       L"|.nvram"},
      {"lines after both are found are not read",
       "nvram = \"n\"\ncheckpoint.vmState = \"s\"\ncheckpoint.vmState = \"bad|zz\"\n", L"s", L"n"},
      {"a later unreadable duplicate is ignored", "nvram = \"n\"\nnvram = \"bad|q\"\n", L"", L"n"},
      // Lines the disk-list grammar refuses do not matter here.
      {"invalid lines are accepted",
       "annotation = two words\nkey = \"unbalanced\ncheckpoint.vmState = \"s.vmss\" # c\n",
       L"s.vmss", L""},
      {"empty file", "", L"", L""},
  };
  test::TempFolder folder;
  for (const auto& c : cases) {
    const std::wstring path = folder.WriteFile(L"m.vmx", c.text);
    std::wstring suspend;
    std::wstring nvram;
    ASSERT_TRUE(ReadVmxStateFiles(path, &suspend, &nvram)) << c.what;
    EXPECT_EQ(suspend, c.suspend) << c.what;
    EXPECT_EQ(nvram, c.nvram) << c.what;
  }
}

TEST(ReadVmxStateFiles, FailsForAnUnreadableFileOrAValueThatCannotBeUnescaped) {
  const std::string cases[] = {
      "checkpoint.vmState = \"a|7c.vmss\"\n",
      "nvram = \"x|\"\ncheckpoint.vmState = \"s\"\n",
  };
  test::TempFolder folder;
  for (const std::string& text : cases) {
    const std::wstring path = folder.WriteFile(L"m.vmx", text);
    std::wstring suspend = L"kept";
    std::wstring nvram = L"kept";
    EXPECT_FALSE(ReadVmxStateFiles(path, &suspend, &nvram)) << text;
    EXPECT_EQ(suspend, L"kept");
    EXPECT_EQ(nvram, L"kept");
  }
  std::wstring suspend;
  std::wstring nvram;
  EXPECT_FALSE(ReadVmxStateFiles(folder.Windows(L"missing.vmx"), &suspend, &nvram));
}

}  // namespace
}  // namespace qvt
