#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "VmxPatterns.h"

namespace qvt {
namespace {

bool Matches(const boost::wregex& pattern, const std::wstring& line) {
  boost::wsmatch m;
  const VmxMatch result = MatchVmxLine(pattern, line, &m);
  EXPECT_NE(result, VmxMatch::kGaveUp) << line.substr(0, 80);
  return result == VmxMatch::kYes;
}

struct GrammarCase {
  std::wstring line;
  bool valid;
};

TEST(VmxLineGrammar, AcceptsAssignmentsBlanksAndComments) {
  const GrammarCase cases[] = {
      {L"", true},
      {L"   \t ", true},
      {L"# a comment", true},
      {L"#!/usr/bin/vmware", true},
      {L"  \t# indented comment", true},
      {L"displayName = \"Server1\"", true},
      {L".encoding = \"UTF-8\"", true},
      {L"sched.scsi0:0.shares = \"normal\"", true},
      {L"pciBridge1:0.pxm = \"0\"", true},
      {L"ide0:0.fileName = \"\"", true},
      {L"key=\"no blanks\"", true},
      {L"\t key \t = \t \"v\" \t ", true},
      {L"usb_xhci.present = \"TRUE\"", true},
      {L"a-b = \"x\"", true},
      {L"memsize = \"512\" # was 256", true},
      {L"memsize = \"512\"#tight", true},
      {L"bare = word", true},
      {L"bare = 42 # comment", true},
      {L"empty =", true},
      {L"empty = ", true},
      {L"key = \"single 'quotes' and | bars # inside\"", true},
      {L"key.with.dots and blanks = \"v\"", true},
      {std::wstring(L"key = \"nul\0inside\"", 18), true},
      {std::wstring(L"key = \"v\" # nul\0in comment", 26), true},
      // A bare value with a blank, an unbalanced or an extra quote.
      {L"key = two words", false},
      {L"key = \"unbalanced", false},
      {L"key = unbalanced\"", false},
      {L"key = \"a\"\"b\"", false},
      {L"key = \"a\" trailing", false},
      // No key, no "=", or a key that starts with something else.
      {L"= \"v\"", false},
      {L"just words", false},
      {L"key \"v\"", false},
      {L"..key = \"v\"", false},
      {L":key = \"v\"", false},
      {L"key == \"v\"", false},
      {L"ke/y = \"v\"", false},
      // A CR left inside the line (a CR CR LF ending) is not blank space.
      {L"key = \"v\"\r", false},
      {L"\r", false},
  };
  for (const GrammarCase& c : cases) {
    EXPECT_EQ(Matches(VmxLineGrammar(), c.line), c.valid) << c.line;
  }
}

// The grammar as the configuration model states it, without possessive
// repeats: the matcher must accept exactly the lines this accepts.
const wchar_t kStatedGrammar[] =
    L"^([ \\t]*\\.?[\\w\\-]+[\\w.: \\t]*=[ \\t]*(\"[^\"]*\"|\\w*)[ \\t]*(#.*)?)|([ \\t]*(#.*)?)$";

TEST(VmxLineGrammar, AcceptsExactlyTheLinesOfTheStatedGrammar) {
  const boost::wregex stated(kStatedGrammar);
  std::mt19937 random(20240611);
  const std::vector<std::wstring> pieces = {
      L" ",   L"\t",  L".",     L"key", L"k",   L"-",  L":",
      L"=",   L"\"",  L"\"v\"", L"#",   L"# c", L"w",  L"7",
      L"_",   L"a b", L"|",     L"'",   L"é",   L"\r", std::wstring(1, L'\0'),
      L"\"\""};
  std::size_t accepted = 0;
  for (int n = 0; n < 40000; ++n) {
    std::wstring line;
    const int count = static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) line += pieces[random() % pieces.size()];
    const bool expected = boost::regex_match(line, stated);
    ASSERT_EQ(Matches(VmxLineGrammar(), line), expected) << line;
    accepted += expected ? 1 : 0;
  }
  // Both kinds of line were tried.
  EXPECT_GT(accepted, 1000u);
  EXPECT_LT(accepted, 39000u);
}

struct ControllerCase {
  std::wstring line;
  VmxBus bus;
  VmxControllerKey key;
  bool matches;
  std::wstring busDigit;
  std::wstring unitDigit;
  std::wstring value;
};

TEST(VmxControllerPatterns, CaptureBusUnitAndValue) {
  using K = VmxControllerKey;
  const ControllerCase cases[] = {
      {L"ide0:1.fileName = \"a.vmdk\"", VmxBus::kIde, K::kFileName, true, L"0", L"1", L"a.vmdk"},
      {L"  scsi3:7.fileName=\"\"  # x", VmxBus::kScsi, K::kFileName, true, L"3", L"7", L""},
      {L"sata0:5.fileName = \"C:\\vm\\d.vmdk\"", VmxBus::kSata, K::kFileName, true, L"0", L"5",
       L"C:\\vm\\d.vmdk"},
      {L"scsi0:0.deviceType = \"scsi-hardDisk\"", VmxBus::kScsi, K::kDeviceType, true, L"0", L"0",
       L"scsi-hardDisk"},
      {L"ide1:0.present = \"FALSE\"", VmxBus::kIde, K::kUnitAbsent, true, L"1", L"0", L"FALSE"},
      {L"scsi0.present = \"FALSE\"", VmxBus::kScsi, K::kControllerAbsent, true, L"0", L"", L""},
      {L"ide0:0.mode = \"independent-persistent\"", VmxBus::kIde, K::kIndependent, true, L"0", L"0",
       L""},
      {L"sata1:2.mode = \"independent-nonpersistent\"", VmxBus::kSata, K::kIndependent, true, L"1",
       L"2", L""},
      // One digit each: unit 10 is not recognised.
      {L"scsi0:10.fileName = \"ten.vmdk\"", VmxBus::kScsi, K::kFileName, false, L"", L"", L""},
      {L"ide10:0.fileName = \"ten.vmdk\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      // Keys are case-sensitive, and so are the values they look for.
      {L"ide0:0.filename = \"auto detect\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"IDE0:0.fileName = \"a.vmdk\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"ide0:0.present = \"false\"", VmxBus::kIde, K::kUnitAbsent, false, L"", L"", L""},
      {L"ide0:0.present = \"TRUE\"", VmxBus::kIde, K::kUnitAbsent, false, L"", L"", L""},
      {L"scsi0.present = \"TRUE\"", VmxBus::kScsi, K::kControllerAbsent, false, L"", L"", L""},
      {L"ide0:0.mode = \"persistent\"", VmxBus::kIde, K::kIndependent, false, L"", L"", L""},
      {L"ide0:0.mode = \"Independent-persistent\"", VmxBus::kIde, K::kIndependent, false, L"", L"",
       L""},
      // The quoted form only, whole line, nothing but a comment behind it.
      {L"ide0:0.fileName = a.vmdk", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"ide0:0.fileName = \"a.vmdk\" junk", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"ide0:0.fileName = \"a\"b\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"sched.ide0:0.fileName = \"a\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"ide0:0.fileName.old = \"a\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"ide0:0.fileName = \"a\"\n", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      // The other kinds' keys are not this kind's.
      {L"scsi0:0.fileName = \"a\"", VmxBus::kIde, K::kFileName, false, L"", L"", L""},
      {L"nvme0:0.fileName = \"a\"", VmxBus::kSata, K::kFileName, false, L"", L"", L""},
  };
  for (const ControllerCase& c : cases) {
    const boost::wregex& pattern = VmxPatternsFor(VmxLineEnd::kPlain).Controller(c.bus, c.key);
    boost::wsmatch m;
    ASSERT_NE(MatchVmxLine(pattern, c.line, &m), VmxMatch::kGaveUp);
    ASSERT_EQ(MatchVmxLine(pattern, c.line, &m) == VmxMatch::kYes, c.matches) << c.line;
    if (!c.matches) continue;
    EXPECT_EQ(m.str(1), c.busDigit) << c.line;
    if (c.key == K::kControllerAbsent) continue;
    EXPECT_EQ(m.str(2), c.unitDigit) << c.line;
    if (c.key == K::kFileName || c.key == K::kDeviceType) {
      EXPECT_EQ(m.str(3), c.value) << c.line;
      // The capture's place is what the rewrite replaces.
      EXPECT_EQ(c.line.substr(static_cast<std::size_t>(m.position(3)),
                              static_cast<std::size_t>(m.length(3))),
                c.value);
    }
  }
}

struct TerminatedCase {
  std::wstring line;
  bool matches;
};

TEST(VmxControllerPatterns, TerminatedFormNeedsExactlyOneLineEnd) {
  const TerminatedCase cases[] = {
      {L"ide0:0.fileName = \"a.vmdk\"\r\n", true},
      {L"ide0:0.fileName = \"a.vmdk\"\r", true},
      {L"ide0:0.fileName = \"a.vmdk\"\n", true},
      {L"ide0:0.fileName = \"a.vmdk\" # note\r\n", true},
      {L"ide0:0.fileName = \"a.vmdk\"  \t\n", true},
      {L"ide0:0.fileName = \"a.vmdk\"", false},
      {L"ide0:0.fileName = \"a.vmdk\"\n\r", false},
      {L"ide0:0.fileName = \"a.vmdk\"\r\n\r\n", false},
      {L"ide0:0.fileName = \"a.vmdk\"\n\n", false},
  };
  const boost::wregex& file =
      VmxPatternsFor(VmxLineEnd::kTerminated).Controller(VmxBus::kIde, VmxControllerKey::kFileName);
  for (const TerminatedCase& c : cases) {
    boost::wsmatch m;
    ASSERT_EQ(MatchVmxLine(file, c.line, &m) == VmxMatch::kYes, c.matches) << c.line;
    if (c.matches) {
      EXPECT_EQ(m.str(3), L"a.vmdk");
    }
  }
  const boost::wregex& nvram = VmxPatternsFor(VmxLineEnd::kTerminated).nvram;
  EXPECT_TRUE(Matches(nvram, L"nvram = \"x.nvram\"\r\n"));
  EXPECT_FALSE(Matches(nvram, L"nvram = \"x.nvram\""));
  EXPECT_FALSE(Matches(VmxPatternsFor(VmxLineEnd::kPlain).nvram, L"nvram = \"x.nvram\"\r\n"));
}

struct SingleCase {
  const boost::wregex* pattern;
  std::wstring line;
  bool matches;
  std::wstring value;
};

TEST(VmxSinglePatterns, CaptureTheirValue) {
  const VmxFilePatterns& file = VmxFileOnlyPatterns();
  const boost::wregex* nvram = &VmxPatternsFor(VmxLineEnd::kPlain).nvram;
  const SingleCase cases[] = {
      {&file.suspendFile, L"checkpoint.vmState = \"a.vmss\"", true, L"a.vmss"},
      {&file.suspendFile, L"checkpoint.vmState = \"\"", true, L""},
      {&file.suspendFile, L"checkpoint.vmState.readOnly = \"FALSE\"", false, L""},
      {&file.suspendFile, L"checkpoint_vmState = \"a\"", false, L""},
      {nvram, L"nvram = \"Debian-System1.nvram\"", true, L"Debian-System1.nvram"},
      {nvram, L"  nvram\t=\t\"n\"\t# c", true, L"n"},
      {nvram, L"nvram.old = \"n\"", false, L""},
      {&file.displayName, L"displayName = \"Windows XP |22build|22\"", true,
       L"Windows XP |22build|22"},
      {&file.displayName, L"displayname = \"x\"", false, L""},
      {&file.hardwareVersion, L"virtualHW.version = \"20\"", true, L"20"},
      {&file.hardwareVersion, L"virtualHW.productCompatibility = \"hosted\"", false, L""},
      {&file.hardwareVersion, L"virtualHWxversion = \"7\"", false, L""},
  };
  for (const SingleCase& c : cases) {
    boost::wsmatch m;
    ASSERT_EQ(MatchVmxLine(*c.pattern, c.line, &m) == VmxMatch::kYes, c.matches) << c.line;
    if (c.matches) {
      EXPECT_EQ(m.str(1), c.value) << c.line;
    }
  }
  boost::wsmatch m;
  const std::wstring model = L"scsi1.virtualDev = \"lsisas1068\"";
  ASSERT_EQ(MatchVmxLine(file.scsiModel, model, &m), VmxMatch::kYes);
  EXPECT_EQ(m.str(1), L"1");
  EXPECT_EQ(m.str(2), L"lsisas1068");
  EXPECT_FALSE(Matches(file.scsiModel, L"ethernet0.virtualDev = \"e1000\""));
  EXPECT_FALSE(Matches(file.scsiModel, L"scsi10.virtualDev = \"pvscsi\""));
}

TEST(MatchVmxLine, AMatcherThatGivesUpIsReportedAsSuch) {
  // Nested repeats: 2^64 ways to split the line, which boost abandons.
  const boost::wregex runaway(L"(a+)+b");
  const std::wstring line(64, L'a');
  boost::wsmatch m;
  EXPECT_EQ(MatchVmxLine(runaway, line, &m), VmxMatch::kGaveUp);
}

TEST(VmxLineGrammar, LongLinesAreDecidedInLinearTime) {
  // Each of these took the plainly written grammar hours at this length.
  const std::size_t n = std::size_t(1) << 20;
  const GrammarCase cases[] = {
      {std::wstring(n, L'a'), false},
      {std::wstring(n / 2, L'a') + std::wstring(n / 2, L' '), false},
      {std::wstring(n / 2, L'a') + L" = \"" + std::wstring(n / 2, L'b'), false},
      {std::wstring(n / 2, L'a') + L": : :" + std::wstring(n / 2, L'a'), false},
      {std::wstring(n, L'"'), false},
      {std::wstring(n, L'|'), false},
      {std::wstring(n, L'\0'), false},
      {L"guestinfo.userdata = \"" + std::wstring(n, L'Q') + L"\"", true},
      {L"key = \"v\" #" + std::wstring(n, L'"'), true},
      {std::wstring(n, L' '), true},
  };
  for (const GrammarCase& c : cases) {
    EXPECT_EQ(Matches(VmxLineGrammar(), c.line), c.valid) << c.line.substr(0, 40);
  }
  const VmxKeyPatterns& keys = VmxPatternsFor(VmxLineEnd::kPlain);
  for (const GrammarCase& c : cases) {
    for (const VmxBus bus : kVmxBuses) {
      EXPECT_FALSE(Matches(keys.Controller(bus, VmxControllerKey::kFileName), c.line));
    }
  }
}

}  // namespace
}  // namespace qvt
