#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SettingsFile.h"
#include "TempFolder.h"
#include "TextForms.h"

namespace qvt {
namespace {

using test::TempFolder;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

SettingsFileContents SampleContents() {
  SettingsFileContents c;
  Settings& s = c.settings;
  s.VMwarePlayer = L"C:\\Program Files\\VMware\\vmplayer.exe";
  s.secondExecute = L"D:\\ツール\\run.exe";
  s.secondExecuteLeafNodeOnly = false;
  s.secondExecuteName = L"別の実行(&X)";
  s.executeFunction = 1;
  s.renameVmxExtension = true;
  s.fileDeleteAllowUndo = true;
  s.setDisplayName = false;
  s.createIndependentDiskChild = true;
  s.preventFragment = true;
  s.preferencesIni = L"C:\\Users\\u\\AppData\\Roaming\\VMware\\preferences.ini";
  s.datQvtAbsolute = false;
  s.qvtNodeAbsolute = true;
  HardDiskExecuteSettings& h = c.hardDisk;
  h.hardDiskExecute1Path = L"C:\\a.exe";
  h.hardDiskExecute1LeafNodeOnly = false;
  h.hardDiskExecute1Name = L"A(&A)";
  h.hardDiskExecute2Path = L"";
  h.hardDiskExecute2LeafNodeOnly = true;
  h.hardDiskExecute2Name = L"]]>";
  c.placement =
      WindowPlacementRecord{44, 2, 3, {-1, -1}, {-32000, -32000}, {-1920, 10, -100, 1000}};
  c.bands = {BandRecord{59392, 640, false}, BandRecord{59393, 0, true}};
  c.tabIndex = 1;
  c.tabs = {OpenTabRecord{L"基本", L"D:\\vm\\基本.qvt", true},
            OpenTabRecord{L"隣", L"C:\\docs\\tree.qvt", false}};
  return c;
}

TEST(SettingsWriting, ProducesExactlyTheDocumentedBytes) {
  const std::string expected = Lines({
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)",
      "<qvtData>",
      "<windowData>",
      "<windowPlacement>",
      "<length>44</length>",
      "<flags>2</flags>",
      "<showCmd>3</showCmd>",
      "<ptMinPosition>",
      "<x>-1</x>",
      "<y>-1</y>",
      "</ptMinPosition>",
      "<ptMaxPosition>",
      "<x>-32000</x>",
      "<y>-32000</y>",
      "</ptMaxPosition>",
      "<rcNormalPosition>",
      "<left>-1920</left>",
      "<top>10</top>",
      "<right>-100</right>",
      "<bottom>1000</bottom>",
      "</rcNormalPosition>",
      "</windowPlacement>",
      "<bandInfoList>",
      "<bandInfo>",
      "<id>59392</id>",
      "<cx>640</cx>",
      "<break>0</break>",
      "</bandInfo>",
      "<bandInfo>",
      "<id>59393</id>",
      "<cx>0</cx>",
      "<break>1</break>",
      "</bandInfo>",
      "</bandInfoList>",
      "</windowData>",
      R"(<VMwarePlayer><![CDATA[C:\Program Files\VMware\vmplayer.exe]]></VMwarePlayer>)",
      R"(<secondExecute><![CDATA[D:\ツール\run.exe]]></secondExecute>)",
      "<secondExecuteLeafNodeOnly>0</secondExecuteLeafNodeOnly>",
      "<secondExecuteName><![CDATA[別の実行(&X)]]></secondExecuteName>",
      "<executeFunction>1</executeFunction>",
      "<renameVmxExtension>1</renameVmxExtension>",
      "<fileDeleteAllowUndo>1</fileDeleteAllowUndo>",
      "<setDisplayName>0</setDisplayName>",
      "<createIndependentDiskChild>1</createIndependentDiskChild>",
      "<preventFragment>1</preventFragment>",
      R"(<preferencesIni><![CDATA[C:\Users\u\AppData\Roaming\VMware\preferences.ini]]></preferencesIni>)",
      "<datQvtAbsolute>0</datQvtAbsolute>",
      "<qvtNodeAbsolute>1</qvtNodeAbsolute>",
      R"(<hardDiskExecute1Path><![CDATA[C:\a.exe]]></hardDiskExecute1Path>)",
      "<hardDiskExecute1LeafNodeOnly>0</hardDiskExecute1LeafNodeOnly>",
      "<hardDiskExecute1Name><![CDATA[A(&A)]]></hardDiskExecute1Name>",
      "<hardDiskExecute2Path><![CDATA[]]></hardDiskExecute2Path>",
      "<hardDiskExecute2LeafNodeOnly>1</hardDiskExecute2LeafNodeOnly>",
      "<hardDiskExecute2Name><![CDATA[]]]]><![CDATA[>]]></hardDiskExecute2Name>",
      "<tabIndex>1</tabIndex>",
      "<qvtList>",
      "<qvt>",
      "<title><![CDATA[基本]]></title>",
      R"(<path><![CDATA[D:\vm\基本.qvt]]></path>)",
      "</qvt>",
      "<qvt>",
      "<title><![CDATA[隣]]></title>",
      R"(<path><![CDATA[..\docs\tree.qvt]]></path>)",
      "</qvt>",
      "</qvtList>",
      "</qvtData>",
  });
  EXPECT_EQ(SettingsText(SampleContents(), L"C:\\QVT\\"), expected);
}

TEST(SettingsWriting, NoOpenDocumentsGiveTabIndexMinusOneAndAnEmptyList) {
  SettingsFileContents none;
  const std::string text = SettingsText(none, L"C:\\QVT\\");
  EXPECT_NE(text.find("\r\n<tabIndex>-1</tabIndex>\r\n<qvtList>\r\n</qvtList>\r\n</qvtData>\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("<bandInfoList>\r\n</bandInfoList>\r\n"), std::string::npos);

  SettingsFileRead read;
  ASSERT_TRUE(ParseSettingsText(text, L"C:\\QVT\\", &read));
  EXPECT_TRUE(read.startList.empty());
  EXPECT_EQ(read.tabIndex, -1);
}

struct PathCase {
  const char* what;
  const wchar_t* executableFolder;
  const wchar_t* documentPath;
  bool absolute;
  const wchar_t* stored;
};

TEST(SettingsWriting, StoresDocumentPathsAbsoluteOrRelativeToTheExecutable) {
  const PathCase cases[] = {
      {"absolute", L"C:\\QVT\\", L"C:\\QVT\\a.qvt", true, L"C:\\QVT\\a.qvt"},
      {"beside", L"C:\\QVT\\", L"C:\\QVT\\a.qvt", false, L"a.qvt"},
      {"below", L"C:\\QVT\\", L"C:\\QVT\\docs\\a.qvt", false, L"docs\\a.qvt"},
      {"sibling", L"C:\\Tools\\QVT\\", L"C:\\Tools\\vm\\a.qvt", false, L"..\\vm\\a.qvt"},
      {"far", L"C:\\Tools\\QVT\\", L"C:\\a.qvt", false, L"..\\..\\a.qvt"},
      {"folder without backslash", L"C:\\QVT", L"C:\\QVT\\a.qvt", false, L"a.qvt"},
      {"other drive", L"C:\\QVT\\", L"D:\\vm\\a.qvt", false, L"D:\\vm\\a.qvt"},
      {"other server", L"\\\\a\\s\\QVT\\", L"\\\\b\\t\\a.qvt", false, L"\\\\b\\t\\a.qvt"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.what);
    const OpenTabRecord tab{L"t", c.documentPath, c.absolute};
    EXPECT_EQ(StoredDocumentPath(tab, c.executableFolder), c.stored);

    SettingsFileContents contents;
    contents.tabs = {tab};
    contents.tabIndex = 0;
    SettingsFileRead read;
    ASSERT_TRUE(
        ParseSettingsText(SettingsText(contents, c.executableFolder), c.executableFolder, &read));
    ASSERT_EQ(read.startList.size(), 1u);
    EXPECT_EQ(read.startList[0].path, c.documentPath);
    EXPECT_EQ(read.startList[0].pathAbsolute, std::wstring(c.stored) == c.documentPath);
  }
}

void ExpectSameSettings(const Settings& a, const Settings& b) {
  EXPECT_EQ(a.VMwarePlayer, b.VMwarePlayer);
  EXPECT_EQ(a.secondExecute, b.secondExecute);
  EXPECT_EQ(a.secondExecuteLeafNodeOnly, b.secondExecuteLeafNodeOnly);
  EXPECT_EQ(a.secondExecuteName, b.secondExecuteName);
  EXPECT_EQ(a.executeFunction, b.executeFunction);
  EXPECT_EQ(a.renameVmxExtension, b.renameVmxExtension);
  EXPECT_EQ(a.fileDeleteAllowUndo, b.fileDeleteAllowUndo);
  EXPECT_EQ(a.setDisplayName, b.setDisplayName);
  EXPECT_EQ(a.createIndependentDiskChild, b.createIndependentDiskChild);
  EXPECT_EQ(a.preventFragment, b.preventFragment);
  EXPECT_EQ(a.preferencesIni, b.preferencesIni);
  EXPECT_EQ(a.copyNvram, b.copyNvram);
  EXPECT_EQ(a.datQvtAbsolute, b.datQvtAbsolute);
  EXPECT_EQ(a.qvtNodeAbsolute, b.qvtNodeAbsolute);
}

void ExpectSameHardDisk(const HardDiskExecuteSettings& a, const HardDiskExecuteSettings& b) {
  EXPECT_EQ(a.hardDiskExecute1Path, b.hardDiskExecute1Path);
  EXPECT_EQ(a.hardDiskExecute1LeafNodeOnly, b.hardDiskExecute1LeafNodeOnly);
  EXPECT_EQ(a.hardDiskExecute1Name, b.hardDiskExecute1Name);
  EXPECT_EQ(a.hardDiskExecute2Path, b.hardDiskExecute2Path);
  EXPECT_EQ(a.hardDiskExecute2LeafNodeOnly, b.hardDiskExecute2LeafNodeOnly);
  EXPECT_EQ(a.hardDiskExecute2Name, b.hardDiskExecute2Name);
}

void ExpectSamePlacement(const WindowPlacementRecord& a, const WindowPlacementRecord& b) {
  EXPECT_EQ(a.length, b.length);
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.showCmd, b.showCmd);
  EXPECT_EQ(a.ptMinPosition.x, b.ptMinPosition.x);
  EXPECT_EQ(a.ptMinPosition.y, b.ptMinPosition.y);
  EXPECT_EQ(a.ptMaxPosition.x, b.ptMaxPosition.x);
  EXPECT_EQ(a.ptMaxPosition.y, b.ptMaxPosition.y);
  EXPECT_EQ(a.rcNormalPosition.left, b.rcNormalPosition.left);
  EXPECT_EQ(a.rcNormalPosition.top, b.rcNormalPosition.top);
  EXPECT_EQ(a.rcNormalPosition.right, b.rcNormalPosition.right);
  EXPECT_EQ(a.rcNormalPosition.bottom, b.rcNormalPosition.bottom);
}

TEST(SettingsRoundTrip, AWrittenFileReadsBackToTheSameRecordsAndStartList) {
  TempFolder dir;
  const std::wstring exeFolder = dir.Windows(L"QVT") + L"\\";
  ASSERT_TRUE(platform::DirectoryCreate(dir.Windows(L"QVT")));
  // A drive other than the temporary folder's has no relative form.
  const std::wstring otherDrive = exeFolder[0] == L'C' ? L"D" : L"C";
  SettingsFileContents contents = SampleContents();
  contents.settings.secondExecuteName = L"";
  contents.settings.preferencesIni = L"1行目\r\n2行目";  // nothing stops a dialog from it
  contents.tabs = {
      OpenTabRecord{L"隣の木", dir.Windows(L"docs\\隣.qvt"), false},
      OpenTabRecord{L"", dir.Windows(L"QVT\\beside.qvt"), false},
      OpenTabRecord{L"abs", L"D:\\vm\\a.qvt", true},
      OpenTabRecord{L"]]>", otherDrive + L":\\x]]>y.qvt", false},
  };
  contents.tabIndex = 3;
  ASSERT_TRUE(WriteSettingsFile(exeFolder, contents));
  EXPECT_TRUE(dir.Exists(L"QVT\\QVT.DAT"));
  EXPECT_FALSE(dir.Exists(L"QVT\\QVT.DAT_QVT_SAVE"));
  EXPECT_EQ(dir.ReadFile(L"QVT\\QVT.DAT"), SettingsText(contents, exeFolder));

  SettingsFileRead read;
  ASSERT_TRUE(ReadSettingsFile(exeFolder, &read));
  contents.settings.preferencesIni = L"1行目\n2行目";  // text values keep LF line ends
  ExpectSameSettings(contents.settings, read.settings);
  ExpectSameHardDisk(contents.hardDisk, read.hardDisk);
  EXPECT_TRUE(read.placementRead);
  ExpectSamePlacement(contents.placement, read.placement);
  ASSERT_EQ(read.bands.size(), contents.bands.size());
  for (std::size_t i = 0; i < read.bands.size(); ++i) {
    EXPECT_EQ(read.bands[i].id, contents.bands[i].id);
    EXPECT_EQ(read.bands[i].cx, contents.bands[i].cx);
    EXPECT_EQ(read.bands[i].newRow, contents.bands[i].newRow);
  }
  EXPECT_EQ(read.tabIndex, 3);
  ASSERT_EQ(read.startList.size(), contents.tabs.size());
  const bool absolute[] = {false, false, true, true};
  for (std::size_t i = 0; i < read.startList.size(); ++i) {
    EXPECT_EQ(read.startList[i].title, contents.tabs[i].title);
    EXPECT_EQ(read.startList[i].path, contents.tabs[i].documentPath);
    EXPECT_EQ(read.startList[i].pathAbsolute, absolute[i]);
  }
}

// Fails the step numbered `failAt` (from 1) of a replacement.
class CFaultyWriter : public CFileWriter {
 public:
  explicit CFaultyWriter(int failAt) : failAt_(failAt) {}
  int steps() const { return steps_; }
  bool Create(const std::wstring& path, platform::NativeFile* file) override {
    return Step() && CFileWriter::Create(path, file);
  }
  bool WriteAt(platform::NativeFile file, std::uint64_t offset, std::uint32_t length,
               const void* data) override {
    return Step() && CFileWriter::WriteAt(file, offset, length, data);
  }
  bool MoveReplacing(const std::wstring& from, const std::wstring& to) override {
    return Step() && CFileWriter::MoveReplacing(from, to);
  }

 private:
  bool Step() { return ++steps_ != failAt_; }
  int failAt_;
  int steps_ = 0;
};

TEST(SettingsWriting, AFailedWriteKeepsThePreviousFile) {
  TempFolder dir;
  const std::wstring exeFolder = dir.Windows() + L"\\";
  SettingsFileContents before;
  before.settings.VMwarePlayer = L"before.exe";
  ASSERT_TRUE(WriteSettingsFile(exeFolder, before));
  const std::string beforeBytes = dir.ReadFile(L"QVT.DAT");

  const SettingsFileContents after = SampleContents();
  for (int failAt = 1; failAt <= 3; ++failAt) {
    SCOPED_TRACE(failAt);
    CFaultyWriter faulty(failAt);
    EXPECT_FALSE(WriteSettingsFile(exeFolder, after, faulty));
    EXPECT_EQ(faulty.steps(), failAt);
    EXPECT_EQ(dir.ReadFile(L"QVT.DAT"), beforeBytes);
    EXPECT_FALSE(dir.Exists(L"QVT.DAT_QVT_SAVE"));
  }
  CFaultyWriter none(0);
  ASSERT_TRUE(WriteSettingsFile(exeFolder, after, none));
  EXPECT_EQ(none.steps(), 3) << "create, one write, replace";
  EXPECT_EQ(dir.ReadFile(L"QVT.DAT"), SettingsText(after, exeFolder));
}

TEST(SettingsWriting, WithoutAnExecutableFolderNothingIsWritten) {
  EXPECT_EQ(SettingsFilePath(L""), L"");
  EXPECT_EQ(SettingsFilePath(L"C:\\QVT\\"), L"C:\\QVT\\QVT.DAT");
  EXPECT_EQ(SettingsFilePath(L"C:\\QVT"), L"C:\\QVT\\QVT.DAT");
  CFaultyWriter files(0);
  EXPECT_FALSE(WriteSettingsFile(L"", SampleContents(), files));
  EXPECT_EQ(files.steps(), 0);
  TempFolder dir;
  EXPECT_FALSE(WriteSettingsFile(dir.Windows(L"missing\\"), SampleContents()));
}

}  // namespace
}  // namespace qvt
