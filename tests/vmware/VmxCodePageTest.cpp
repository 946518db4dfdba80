// Japanese configurations in the ANSI code page they were written in: read,
// rewritten and renamed, they keep every byte the program does not change.
// Shift_JIS needs code page 932 (Windows, or Wine with a Japanese locale);
// the UTF-8 form needs a UTF-8 C locale (POSIX). Each test skips where its
// code page cannot be had.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "PathForms.h"
#include "TempFolder.h"
#include "TextForms.h"
#include "VmxChildWriter.h"
#include "VmxDiskList.h"
#include "VmxDisplayName.h"
#include "VmxEmbedded.h"
#include "VmxFixtures.h"
#include "VmxStateFiles.h"
#include "VmxTestKit.h"

namespace qvt {
namespace {

using Names = std::vector<std::wstring>;
using Encoder = std::string (*)(const std::wstring&);

const char kJapaneseFixture[] = "player-hw9-japanese-sjis.vmx";
const wchar_t kStamp[] = L"_QVT20240102030405";

// CP932 bytes to UTF-16, for making other encodings of the fixture.
std::wstring DecodeCp932(const std::string& bytes) {
  std::wstring out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::uint16_t code = lead;
    if (((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) &&
        i + 1 < bytes.size()) {
      code = static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(bytes[++i]));
    }
    char16_t unit = 0;
    if (!platform::Cp932ToUnicode(code, &unit)) throw std::runtime_error("not CP932");
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

std::wstring Stamped(const std::wstring& stem, const std::wstring& extension) {
  return stem + kStamp + extension;
}

// Reads, rewrites unchanged, renames and re-titles the Japanese machine
// whose configuration `source` is in the current ANSI code page, `encode`
// giving that code page's bytes of a text.
void CheckJapaneseMachine(const std::string& source, Encoder encode) {
  test::TempFolder folder;
  const std::wstring parent = folder.WriteFile(L"開発用マシン.vmx", source);

  Names disks;
  std::wstring displayName;
  ASSERT_TRUE(ReadVmxDiskList(parent, false, &disks, &displayName));
  EXPECT_EQ(disks, (Names{L"開発用マシン-表示.vmdk", L"D:\\仮想マシン\\共有ソフト.vmdk"}));
  EXPECT_EQ(displayName, L"開発用マシン \"表示\"");
  std::wstring suspend;
  std::wstring nvram;
  ASSERT_TRUE(ReadVmxStateFiles(parent, &suspend, &nvram));
  EXPECT_EQ(suspend, L"開発用マシン-表示.vmss");
  EXPECT_EQ(nvram, L"開発用マシン.nvram");

  // Everything written back as it was read: the same bytes.
  ASSERT_TRUE(WriteChildVmx(parent, disks, folder.Windows(L"同じ.vmx"), disks, suspend, nvram, true,
                            displayName, false));
  EXPECT_EQ(folder.ReadFile(L"同じ.vmx"), source);

  // New names: exactly those five lines change.
  const Names fresh = {Stamped(L"開発用マシン-表示", L".vmdk"),
                       Stamped(L"D:\\仮想マシン\\共有ソフト", L".vmdk")};
  const std::wstring freshNvram = Stamped(L"開発用マシン", L".nvram");
  ASSERT_TRUE(WriteChildVmx(parent, disks, folder.Windows(L"子.vmx"), fresh,
                            Stamped(L"開発用マシン-表示", L".vmss"), freshNvram, true,
                            L"開発用マシン「子」", false));
  std::vector<std::string> expected = test::SplitConfigLines(source);
  ASSERT_EQ(expected.size(), 31u);
  expected[9] = encode(L"scsi0:0.fileName = \"" + fresh[0] + L"\"");
  expected[11] = encode(L"scsi0:1.fileName = \"" + fresh[1] + L"\" # 共有ディスク");
  expected[21] = encode(L"displayName = \"開発用マシン「子」\"");
  expected[23] = encode(L"nvram = \"" + freshNvram + L"\"");
  expected[27] =
      encode(L"checkpoint.vmState = \"" + Stamped(L"開発用マシン-表示", L".vmss") + L"\"");
  EXPECT_EQ(folder.ReadFile(L"子.vmx"), test::JoinCrLf(expected));
  Names childDisks;
  ASSERT_TRUE(ReadVmxDiskList(folder.Windows(L"子.vmx"), false, &childDisks, &displayName));
  EXPECT_EQ(childDisks, fresh);
  EXPECT_EQ(displayName, L"開発用マシン「子」");

  // The copy inside a suspend file: the same lines with their terminators.
  std::vector<std::string> embedded;
  for (const std::string& line : test::SplitConfigLines(source)) embedded.push_back(line + "\r\n");
  ASSERT_TRUE(RewriteEmbeddedVmx(&embedded, disks, fresh, freshNvram, false));
  std::vector<std::string> expectedEmbedded;
  for (const std::string& line : expected) expectedEmbedded.push_back(line + "\r\n");
  const std::vector<std::string> original = test::SplitConfigLines(source);
  expectedEmbedded[21] = original[21] + "\r\n";  // no display name inside
  expectedEmbedded[27] = original[27] + "\r\n";  // nor the suspend file
  EXPECT_EQ(embedded, expectedEmbedded);

  // A new title for the machine itself.
  CQVTNode node;
  node.directory = folder.Windows();
  node.vmxFile = L"開発用マシン.vmx";
  node.title = L"表計算「ソ」";
  ASSERT_TRUE(WriteVmxDisplayName(node));
  std::vector<std::string> retitled = test::SplitConfigLines(source);
  retitled[21] = encode(L"displayName = \"表計算「ソ」\"");
  EXPECT_EQ(folder.ReadFile(L"開発用マシン.vmx"), test::JoinCrLf(retitled));
}

TEST(VmxCodePage, ShiftJisMachineKeepsEveryByte) {
  test::AnsiCodePageScope scope(L"表", "\x95\x5C",
                                {"ja_JP.SJIS", "ja_JP.sjis", "ja_JP.shiftjis", "ja_JP.Shift_JIS"});
  if (!scope.Active()) {
    GTEST_SKIP() << "no Shift_JIS ANSI code page here; Windows or Wine with code page 932 has one";
  }
  CheckJapaneseMachine(test::FixtureBytes(kJapaneseFixture), &test::ToShiftJis);
}

TEST(VmxCodePage, Utf8MachineKeepsEveryByte) {
  test::AnsiCodePageScope scope(L"表", "\xE8\xA1\xA8",
                                {"ja_JP.UTF-8", "ja_JP.utf8", "C.UTF-8", "C.utf8", "en_US.UTF-8"});
  if (!scope.Active()) {
    GTEST_SKIP() << "no UTF-8 ANSI code page here (POSIX: no UTF-8 locale installed)";
  }
  CheckJapaneseMachine(WideToUtf8(DecodeCp932(test::FixtureBytes(kJapaneseFixture))), &WideToUtf8);
}

}  // namespace
}  // namespace qvt
