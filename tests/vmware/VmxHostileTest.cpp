// Hostile configurations: huge lines, odd bytes, missing terminators. Each
// operation gives its documented result, touches no file it should not, and
// finishes (the matching is linear, so a long line costs time in proportion).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "PathRules.h"
#include "TempFolder.h"
#include "VmxChildWriter.h"
#include "VmxDiskList.h"
#include "VmxDisplayName.h"
#include "VmxEmbedded.h"
#include "VmxStateFiles.h"
#include "VmxTestKit.h"
#include "VmxText.h"

namespace qvt {
namespace {

using namespace std::string_literals;
using Names = std::vector<std::wstring>;

const std::size_t kMiB = std::size_t(1) << 20;

std::string Repeat(const std::string& piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  out.resize(bytes);
  return out;
}

struct LongLineCase {
  const char* what;
  std::string line;
  bool valid;  // for the disk-list grammar
};

std::vector<LongLineCase> LongLines() {
  return {
      {"a word without \"=\"", std::string(kMiB, 'a'), false},
      {"quotes", std::string(kMiB, '"'), false},
      {"bars", std::string(kMiB, '|'), false},
      {"NULs", std::string(kMiB, '\0'), false},
      {"quotes, bars and NULs", Repeat("\"|\0|"s, kMiB), false},
      {"a key and an unclosed value", "annotation = \"" + std::string(kMiB, 'x'), false},
      {"a long quoted value", "guestinfo.userdata = \"" + Repeat("QUJD|7C", kMiB) + "\"", true},
      {"blanks", std::string(kMiB, ' '), true},
      {"a comment of quotes and NULs", "# " + Repeat("\"\0|#"s, kMiB), true},
      // Shorter: here the time goes to the code page's byte-by-byte recovery,
      // which is the platform's, not to the matching.
      {"bytes no code page decodes", "#" + Repeat("\xFF\x81\xFE", kMiB / 8), true},
  };
}

// Each long line sits in an otherwise ordinary configuration: between its
// keys, or as its last line without a line end.
const std::vector<std::string> kParentKeys = {"ide0:0.fileName = \"a.vmdk\"", "nvram = \"p.nvram\"",
                                              "checkpoint.vmState = \"p.vmss\"",
                                              "displayName = \"p\""};
const std::vector<std::string> kChildKeys = {"ide0:0.fileName = \"c.vmdk\"", "nvram = \"c.nvram\"",
                                             "checkpoint.vmState = \"c.vmss\"",
                                             "displayName = \"c\""};

std::vector<std::string> Around(const std::string& line, bool last, std::vector<std::string> keys) {
  keys.insert(last ? keys.end() : keys.begin() + 2, line);
  return keys;
}

std::string Text(const std::vector<std::string>& lines, bool lineEndAtTheEnd) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  if (!lineEndAtTheEnd) text.pop_back();
  return text;
}

TEST(HostileVmx, OneMebibyteLinesAreReadAndKeptByteForByte) {
  for (const LongLineCase& c : LongLines()) {
    for (const bool last : {false, true}) {
      test::TempFolder folder;
      const std::vector<std::string> lines = Around(c.line, last, kParentKeys);
      const std::string source = Text(lines, !last);
      const std::wstring parent = folder.WriteFile(L"p.vmx", source);

      Names disks;
      EXPECT_EQ(ReadVmxDiskList(parent, false, &disks, nullptr), c.valid) << c.what;
      if (c.valid) {
        EXPECT_EQ(disks, Names{L"a.vmdk"}) << c.what;
      }
      std::wstring suspend;
      std::wstring nvram;
      ASSERT_TRUE(ReadVmxStateFiles(parent, &suspend, &nvram)) << c.what;
      EXPECT_EQ(suspend, L"p.vmss");
      EXPECT_EQ(nvram, L"p.nvram");

      ASSERT_TRUE(WriteChildVmx(parent, {L"a.vmdk"}, folder.Windows(L"c.vmx"), {L"c.vmdk"},
                                L"c.vmss", L"c.nvram", true, L"c", false))
          << c.what;
      EXPECT_TRUE(folder.ReadFile(L"c.vmx") == test::JoinCrLf(Around(c.line, last, kChildKeys)))
          << c.what;

      CQVTNode node;
      node.directory = folder.Windows();
      node.vmxFile = L"p.vmx";
      node.title = L"T";
      ASSERT_TRUE(WriteVmxDisplayName(node)) << c.what;
      std::vector<std::string> renamed = lines;
      for (std::string& line : renamed) {
        if (line == "displayName = \"p\"") line = "displayName = \"T\"";
      }
      EXPECT_TRUE(folder.ReadFile(L"p.vmx") == test::JoinCrLf(renamed)) << c.what;
    }
  }
}

TEST(HostileVmx, OneMebibyteValuesAndCommentsOnTheKeysItEdits) {
  test::TempFolder folder;
  const std::wstring longName(kMiB, L'n');
  const std::string comment = " # " + Repeat("\"|\0\xFF"s, kMiB);
  const std::string source = "ide0:0.fileName = \"" + std::string(kMiB, 'n') + "\"\n" +
                             "ide0:1.fileName = \"b.vmdk\"" + comment + "\n" + "nvram = \"" +
                             std::string(kMiB, 'v') + "\"" + comment + "\n";
  const std::wstring parent = folder.WriteFile(L"p.vmx", source);
  Names disks;
  ASSERT_TRUE(ReadVmxDiskList(parent, false, &disks, nullptr));
  EXPECT_TRUE(disks == (Names{longName, L"b.vmdk"}));
  ASSERT_TRUE(WriteChildVmx(parent, disks, folder.Windows(L"c.vmx"), {L"a2.vmdk", L"b2.vmdk"}, L"",
                            L"n2", false, L"", false));
  EXPECT_TRUE(folder.ReadFile(L"c.vmx") ==
              "ide0:0.fileName = \"a2.vmdk\"\r\nide0:1.fileName = \"b2.vmdk\"" + comment +
                  "\r\nnvram = \"n2\"" + comment + "\r\n");

  std::vector<std::string> lines = {"ide0:1.fileName = \"b.vmdk\"" + comment + "\r\n",
                                    "nvram = \"x\"" + comment + "\n", std::string(kMiB, '"')};
  ASSERT_TRUE(RewriteEmbeddedVmx(&lines, {L"b.vmdk"}, {L"b3.vmdk"}, L"n3", false));
  EXPECT_TRUE(lines == (std::vector<std::string>{"ide0:1.fileName = \"b3.vmdk\"" + comment + "\r\n",
                                                 "nvram = \"n3\"" + comment + "\n",
                                                 std::string(kMiB, '"')}));
}

TEST(HostileVmx, AFileOverTheSizeLimitIsRefusedAndNothingIsWritten) {
  test::TempFolder folder;
  const std::string head = "ide0:0.fileName = \"a.vmdk\"\nnvram = \"n\"\n#";
  const std::wstring atLimit =
      folder.WriteFile(L"limit.vmx", head + std::string(kMaxVmxFileBytes - head.size(), 'x'));
  const std::wstring over =
      folder.WriteFile(L"over.vmx", head + std::string(kMaxVmxFileBytes + 1 - head.size(), 'x'));

  std::wstring suspend;
  std::wstring nvram;
  EXPECT_TRUE(ReadVmxStateFiles(atLimit, &suspend, &nvram));
  EXPECT_EQ(nvram, L"n");
  EXPECT_FALSE(ReadVmxStateFiles(over, &suspend, &nvram));
  Names disks;
  EXPECT_FALSE(ReadVmxDiskList(over, false, &disks, nullptr));
  EXPECT_FALSE(WriteChildVmx(over, {L"a.vmdk"}, folder.Windows(L"c.vmx"), {L"c.vmdk"}, L"", L"",
                             false, L"", false));
  EXPECT_FALSE(folder.Exists(L"c.vmx"));
}

// Random configurations built from the pieces the patterns look for, odd
// bytes and broken lines among them.
class ConfigurationMaker {
 public:
  explicit ConfigurationMaker(unsigned seed) : random_(seed) {}

  std::string Make() {
    std::string text;
    const int lines = Pick(30);
    for (int i = 0; i < lines; ++i) {
      text += Pick(6) == 0 ? Junk() : Assignment();
      text += Pick(8) == 0 ? "\r\n" : "\n";
    }
    if (Pick(2) == 0 && !text.empty()) text.pop_back();  // no line end at the end
    return text;
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

  template <std::size_t N>
  std::string From(const char* const (&pieces)[N]) {
    return pieces[Pick(static_cast<int>(N))];
  }

  std::string Assignment() {
    static const char* const kKeys[] = {"ide0:0.fileName",
                                        "ide0:1.fileName",
                                        "scsi0:0.fileName",
                                        "sata1:9.fileName",
                                        "scsi0:0.deviceType",
                                        "ide0:1.deviceType",
                                        "ide0:0.present",
                                        "scsi0.present",
                                        "sata1.present",
                                        "ide0:1.mode",
                                        "scsi0:0.mode",
                                        "nvram",
                                        "checkpoint.vmState",
                                        "displayName",
                                        "virtualHW.version",
                                        "scsi0.virtualDev",
                                        "memsize",
                                        "scsi0:10.fileName"};
    static const char* const kValues[] = {
        "a.vmdk", "A.VMDK", "b|7Cc.vmdk", "bad|7c",      "|",
        "FALSE",  "TRUE",   "disk",       "cdrom-image", "independent-persistent",
        "11",     "",       "x#y",        "\xFF\x81",    "\x1A"};
    std::string line = Pick(4) == 0 ? " \t" : "";
    line += From(kKeys);
    line += Pick(3) == 0 ? "=" : " = ";
    line += "\"" + From(kValues) + (Pick(3) == 0 ? From(kValues) : "") + "\"";
    if (Pick(5) == 0) line += " # c\"\0|"s;
    return line;
  }

  std::string Junk() {
    static const char* const kPieces[] = {
        "\"", "|", "#", "=", " ", "\r", "\xFF", "key", "ide0:0.fileName", "\x81", "|7C"};
    std::string line;
    const int n = Pick(12);
    for (int i = 0; i < n; ++i) line += From(kPieces);
    if (Pick(4) == 0) line.push_back('\0');
    return line;
  }

  std::mt19937 random_;
};

// What a child's disk list must be: each of the parent's disks replaced by
// the new name at the first index equal to it.
Names ExpectedChildDisks(const Names& disks, const Names& fresh) {
  Names out;
  for (const std::wstring& d : disks) {
    for (std::size_t j = 0; j < disks.size(); ++j) {
      if (EqualsNoCase(disks[j], d)) {
        out.push_back(fresh[j]);
        break;
      }
    }
  }
  return out;
}

TEST(HostileVmx, RandomConfigurationsGiveConsistentResults) {
  ConfigurationMaker maker(77);
  test::TempFolder folder;
  int childrenWritten = 0;
  for (int n = 0; n < 300; ++n) {
    const std::string source = maker.Make();
    const std::wstring parent = folder.WriteFile(L"p.vmx", source);
    const bool includeIndependent = n % 2 == 0;

    Names disks;
    const bool listed = ReadVmxDiskList(parent, includeIndependent, &disks, nullptr);
    std::wstring suspend;
    std::wstring nvram;
    ReadVmxStateFiles(parent, &suspend, &nvram);

    Names oldDisks = listed ? disks : Names{L"a.vmdk", L"b|c.vmdk"};
    Names fresh;
    for (std::size_t i = 0; i < oldDisks.size(); ++i) fresh.push_back(L"n" + std::to_wstring(i));
    DeletePath(folder.Windows(L"c.vmx"), false);
    const bool written = WriteChildVmx(parent, oldDisks, folder.Windows(L"c.vmx"), fresh, L"s.vmss",
                                       L"n.nvram", n % 3 == 0, L"t", includeIndependent);
    ASSERT_EQ(folder.ReadFile(L"p.vmx"), source) << "the source changed";
    ASSERT_EQ(folder.Exists(L"c.vmx"), written);
    if (written) {
      ++childrenWritten;
      // The child names only the new state files...
      ASSERT_TRUE(ReadVmxStateFiles(folder.Windows(L"c.vmx"), &suspend, &nvram)) << n;
      EXPECT_TRUE(suspend.empty() || suspend == L"s.vmss") << n;
      EXPECT_TRUE(nvram.empty() || nvram == L"n.nvram") << n;
      // ...and, where the parent's list could be read, only the new disks.
      if (listed) {
        Names childDisks;
        ASSERT_TRUE(
            ReadVmxDiskList(folder.Windows(L"c.vmx"), includeIndependent, &childDisks, nullptr))
            << n;
        EXPECT_EQ(childDisks, ExpectedChildDisks(disks, fresh)) << n;
      }
    }

    std::vector<std::string> lines;
    for (std::size_t at = 0; at < source.size();) {
      // As the suspend file's copy is split: CR LF, CR or LF ends a line.
      const std::size_t end = source.find_first_of("\r\n", at);
      std::size_t stop = end == std::string::npos ? source.size() : end + 1;
      if (end != std::string::npos && source[end] == '\r' && stop < source.size() &&
          source[stop] == '\n') {
        ++stop;
      }
      lines.push_back(source.substr(at, stop - at));
      at = stop;
    }
    const std::vector<std::string> before = lines;
    if (!RewriteEmbeddedVmx(&lines, oldDisks, fresh, L"n.nvram", includeIndependent)) {
      ASSERT_EQ(lines, before) << n;
    } else {
      ASSERT_EQ(lines.size(), before.size()) << n;
    }
  }
  // The maker gives both kinds of file.
  EXPECT_GT(childrenWritten, 20);
  EXPECT_LT(childrenWritten, 280);
}

}  // namespace
}  // namespace qvt
