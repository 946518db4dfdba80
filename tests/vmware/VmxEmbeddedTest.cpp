#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VmxEmbedded.h"

namespace qvt {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;
using Names = std::vector<std::wstring>;

struct EmbeddedCase {
  const char* what;
  Lines lines;
  Names oldDisks;
  Names newDisks;
  std::wstring nvram;
  bool includeIndependent;
  Lines expected;
};

TEST(RewriteEmbeddedVmx, ReplacesDisksAndNvramKeepingEachLinesTerminator) {
  const EmbeddedCase cases[] = {
      {"each terminator stays",
       {"ide0:0.fileName = \"a.vmdk\"\r\n", "scsi0:0.fileName = \"b.vmdk\"\r",
        "nvram = \"p.nvram\"\n", "memsize = \"256\"\r\n"},
       {L"a.vmdk", L"b.vmdk"},
       {L"a2.vmdk", L"b2.vmdk"},
       L"c.nvram",
       false,
       {"ide0:0.fileName = \"a2.vmdk\"\r\n", "scsi0:0.fileName = \"b2.vmdk\"\r",
        "nvram = \"c.nvram\"\n", "memsize = \"256\"\r\n"}},
      {"a line without a terminator matches nothing",
       {
           "ide0:0.fileName = \"a.vmdk\"\n",
           "sata0:0.fileName = \"s.vmdk\"",
       },
       {L"a.vmdk"},
       {L"a2.vmdk"},
       L"c.nvram",
       false,
       {"ide0:0.fileName = \"a2.vmdk\"\n", "sata0:0.fileName = \"s.vmdk\""}},
      {"a last nvram line without a terminator stays",
       {"nvram = \"p.nvram\""},
       {},
       {},
       L"c.nvram",
       false,
       {"nvram = \"p.nvram\""}},
      {"disk names are escaped, the nvram name is not",
       {"ide0:0.fileName = \"a|7Cb.vmdk\"\r\n", "nvram = \"p\" # old\r\n"},
       {L"a|b.vmdk"},
       {L"c#d.vmdk"},
       L"n#1|x.nvram",
       false,
       {"ide0:0.fileName = \"c|23d.vmdk\"\r\n", "nvram = \"n#1|x.nvram\" # old\r\n"}},
      {"suspend, display name and other keys are not touched",
       {"checkpoint.vmState = \"p.vmss\"\n", "displayName = \"p\"\n", "scsi0.virtualDev = \"x\"\n"},
       {},
       {},
       L"c.nvram",
       false,
       {"checkpoint.vmState = \"p.vmss\"\n", "displayName = \"p\"\n",
        "scsi0.virtualDev = \"x\"\n"}},
      {"independent disks only with the flag",
       {"ide0:0.fileName = \"a.vmdk\"\n", "ide0:0.mode = \"independent-nonpersistent\"\n"},
       {L"a.vmdk"},
       {L"a2.vmdk"},
       L"",
       false,
       {"ide0:0.fileName = \"a.vmdk\"\n", "ide0:0.mode = \"independent-nonpersistent\"\n"}},
      {"with the flag",
       {"ide0:0.fileName = \"a.vmdk\"\n", "ide0:0.mode = \"independent-nonpersistent\"\n"},
       {L"a.vmdk"},
       {L"a2.vmdk"},
       L"",
       true,
       {"ide0:0.fileName = \"a2.vmdk\"\n", "ide0:0.mode = \"independent-nonpersistent\"\n"}},
      {"an absent controller's disk stays",
       {"scsi1.present = \"FALSE\"\r\n", "scsi1:0.fileName = \"x.vmdk\"\r\n"},
       {},
       {},
       L"",
       false,
       {"scsi1.present = \"FALSE\"\r\n", "scsi1:0.fileName = \"x.vmdk\"\r\n"}},
      {"an empty nvram name empties the value",
       {"nvram = \"p.nvram\"\r\n"},
       {},
       {},
       L"",
       false,
       {"nvram = \"\"\r\n"}},
      {"bytes around a value stay",
       {"ide0:0.fileName = \"a.vmdk\" # \xFF\x81\x1A\r\n"s, "\x82\xA0 junk \0\r\n"s},
       {L"a.vmdk"},
       {L"b.vmdk"},
       L"",
       false,
       {"ide0:0.fileName = \"b.vmdk\" # \xFF\x81\x1A\r\n"s, "\x82\xA0 junk \0\r\n"s}},
      {"no lines", {}, {}, {}, L"n", false, {}},
  };
  for (const EmbeddedCase& c : cases) {
    Lines lines = c.lines;
    ASSERT_TRUE(RewriteEmbeddedVmx(&lines, c.oldDisks, c.newDisks, c.nvram, c.includeIndependent))
        << c.what;
    EXPECT_EQ(lines, c.expected) << c.what;
  }
}

TEST(RewriteEmbeddedVmx, FailureLeavesTheLinesAsTheyWere) {
  const EmbeddedCase cases[] = {
      {"disk not among the old disks",
       {"nvram = \"p\"\n", "ide0:0.fileName = \"a.vmdk\"\n"},
       {L"b.vmdk"},
       {L"c.vmdk"},
       L"n",
       false,
       {}},
      {"file name that cannot be unescaped",
       {"ide0:0.fileName = \"a|\"\n"},
       {L"a|"},
       {L"c"},
       L"n",
       false,
       {}},
      {"disk slot without a file-name line",
       {"sata0:0.deviceType = \"ata-hardDisk\"\r\n"},
       {L""},
       {L"c.vmdk"},
       L"n",
       false,
       {}},
      {"lists of different lengths", {"ide0:0.fileName = \"a\"\n"}, {L"a"}, {}, L"n", false, {}},
      // Unescaped, these would end the value, the line or the text.
      {"nvram name with a quote", {"nvram = \"p\"\n"}, {}, {}, L"a\"b", false, {}},
      {"nvram name with a line feed", {"nvram = \"p\"\n"}, {}, {}, L"a\nb", false, {}},
      {"nvram name with a NUL", {"nvram = \"p\"\n"}, {}, {}, std::wstring(L"a\0b", 3), false, {}},
      {"nvram name the code page cannot hold", {"nvram = \"p\"\n"}, {}, {}, L"\xD55C", false, {}},
  };
  for (const EmbeddedCase& c : cases) {
    Lines lines = c.lines;
    EXPECT_FALSE(RewriteEmbeddedVmx(&lines, c.oldDisks, c.newDisks, c.nvram, c.includeIndependent))
        << c.what;
    EXPECT_EQ(lines, c.lines) << c.what;
  }
}

TEST(RewriteEmbeddedVmx, AnUnusableNvramNameIsFineWithoutAnNvramLine) {
  Lines lines = {"ide0:0.fileName = \"a\"\n"};
  ASSERT_TRUE(RewriteEmbeddedVmx(&lines, {L"a"}, {L"b"}, L"x\"y", false));
  EXPECT_EQ(lines, Lines{"ide0:0.fileName = \"b\"\n"});
}

}  // namespace
}  // namespace qvt
