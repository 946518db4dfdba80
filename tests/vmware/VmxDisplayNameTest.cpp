#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "QvtNode.h"
#include "TempFolder.h"
#include "VmxDisplayName.h"
#include "VmxFixtures.h"
#include "VmxTestKit.h"

namespace qvt {
namespace {

using namespace std::string_literals;

CQVTNode NodeIn(const test::TempFolder& folder, const std::wstring& vmxFile,
                const std::wstring& title) {
  CQVTNode node;
  node.directory = folder.Windows();
  node.vmxFile = vmxFile;
  node.title = title;
  return node;
}

TEST(WriteVmxDisplayName, PutsTheTitleIntoEveryDisplayNameLine) {
  const struct {
    const char* what;
    std::string text;
    std::wstring title;
    std::string expected;
  } cases[] = {
      {"every line, nothing else",
       "displayName = \"old\"\nmemsize = \"256\" # keep\n\tdisplayName=\"older\"  # c\n", L"New",
       "displayName = \"New\"\r\nmemsize = \"256\" # keep\r\n\tdisplayName=\"New\"  # c\r\n"},
      {"appended when missing", "memsize = \"256\"", L"New",
       "memsize = \"256\"\r\ndisplayName = \"New\"\r\n"},
      {"appended to an empty file", "", L"New", "displayName = \"New\"\r\n"},
      {"escaped", "displayName = \"old\"\r\n", L"a \"b\" | #c\r\nd",
       "displayName = \"a |22b|22 |7C |23c|0D|0Ad\"\r\n"},
      {"an unrelated key that looks alike stays", "displayName.old = \"x\"\n", L"T",
       "displayName.old = \"x\"\r\ndisplayName = \"T\"\r\n"},
      {"bytes no code page decodes stay",
       "junk \xFF\xFE = 1\ndisplayName = \"old\" # \x81\0\x1A\n"s, L"T",
       "junk \xFF\xFE = 1\r\ndisplayName = \"T\" # \x81\0\x1A\r\n"s},
  };
  for (const auto& c : cases) {
    test::TempFolder folder;
    folder.WriteFile(L"m.vmx", c.text);
    ASSERT_TRUE(WriteVmxDisplayName(NodeIn(folder, L"m.vmx", c.title))) << c.what;
    EXPECT_EQ(folder.ReadFile(L"m.vmx"), c.expected) << c.what;
    EXPECT_FALSE(folder.Exists(L"m.vmx_TEMP")) << c.what;
    EXPECT_FALSE(folder.Exists(L"m.vmx_DEL")) << c.what;
  }
}

TEST(WriteVmxDisplayName, KeepsEveryOtherLineOfAProductConfiguration) {
  test::TempFolder folder;
  const std::string source = test::FixtureBytes("fusion-in-the-wild-1.vmx");
  folder.WriteFile(L"ATTM_VM.vmx", source);
  ASSERT_TRUE(WriteVmxDisplayName(NodeIn(folder, L"ATTM_VM.vmx", L"Renamed")));
  std::vector<std::string> expected = test::SplitConfigLines(source);
  ASSERT_EQ(expected[6], "displayName = \"ATTM_VM\"");
  expected[6] = "displayName = \"Renamed\"";
  EXPECT_EQ(folder.ReadFile(L"ATTM_VM.vmx"), test::JoinCrLf(expected));
}

TEST(WriteVmxDisplayName, LeftoversOfAnEarlierAttemptDoNotStopIt) {
  test::TempFolder folder;
  folder.WriteFile(L"m.vmx", "displayName = \"old\"\n");
  folder.WriteFile(L"m.vmx_TEMP", "stale temporary text that is longer than the new one\n");
  folder.WriteFile(L"m.vmx_DEL", "stale backup\n");
  ASSERT_TRUE(WriteVmxDisplayName(NodeIn(folder, L"m.vmx", L"New")));
  EXPECT_EQ(folder.ReadFile(L"m.vmx"), "displayName = \"New\"\r\n");
  EXPECT_FALSE(folder.Exists(L"m.vmx_TEMP"));
  EXPECT_FALSE(folder.Exists(L"m.vmx_DEL"));
}

TEST(WriteVmxDisplayName, AFailureLeavesTheConfigurationAsItWas) {
  const std::string text = "displayName = \"old\"\n";
  {
    test::TempFolder folder;
    EXPECT_FALSE(WriteVmxDisplayName(NodeIn(folder, L"missing.vmx", L"New")));
    EXPECT_FALSE(folder.Exists(L"missing.vmx"));
    EXPECT_FALSE(folder.Exists(L"missing.vmx_TEMP"));
  }
  {
    // The temporary file cannot be created.
    test::TempFolder folder;
    folder.WriteFile(L"m.vmx", text);
    std::filesystem::create_directory(folder.Native(L"m.vmx_TEMP"));
    EXPECT_FALSE(WriteVmxDisplayName(NodeIn(folder, L"m.vmx", L"New")));
    EXPECT_EQ(folder.ReadFile(L"m.vmx"), text);
  }
  {
    // The configuration cannot be moved to its backup name.
    test::TempFolder folder;
    folder.WriteFile(L"m.vmx", text);
    std::filesystem::create_directory(folder.Native(L"m.vmx_DEL"));
    folder.WriteFile(L"m.vmx_DEL\\inside", "x");
    EXPECT_FALSE(WriteVmxDisplayName(NodeIn(folder, L"m.vmx", L"New")));
    EXPECT_EQ(folder.ReadFile(L"m.vmx"), text);
    EXPECT_FALSE(folder.Exists(L"m.vmx_TEMP"));
  }
  {
    // A name Shift_JIS cannot spell cannot go through the engine's commit.
    test::TempFolder folder;
    folder.WriteFile(L"\xD55C.vmx", text);
    EXPECT_FALSE(WriteVmxDisplayName(NodeIn(folder, L"\xD55C.vmx", L"New")));
    EXPECT_EQ(folder.ReadFile(L"\xD55C.vmx"), text);
    EXPECT_FALSE(folder.Exists(L"\xD55C.vmx_TEMP"));
  }
  {
    // A file the reader refuses (over its size limit) is not touched.
    test::TempFolder folder;
    const std::string big = text + std::string((16u << 20) + 1 - text.size(), '#');
    folder.WriteFile(L"m.vmx", big);
    EXPECT_FALSE(WriteVmxDisplayName(NodeIn(folder, L"m.vmx", L"New")));
    EXPECT_EQ(folder.ReadFile(L"m.vmx").size(), big.size());
    EXPECT_FALSE(folder.Exists(L"m.vmx_TEMP"));
  }
}

}  // namespace
}  // namespace qvt
