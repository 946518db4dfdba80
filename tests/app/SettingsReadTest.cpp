#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SettingsFile.h"
#include "TempFolder.h"

namespace qvt {
namespace {

using test::TempFolder;

const wchar_t kExe[] = L"C:\\Tools\\QVT\\";

const char kPlacement[] =
    "<windowPlacement><length>44</length><flags>0</flags><showCmd>1</showCmd>"
    "<ptMinPosition><x>-1</x><y>-1</y></ptMinPosition>"
    "<ptMaxPosition><x>-8</x><y>-8</y></ptMaxPosition>"
    "<rcNormalPosition><left>-1500</left><top>20</top><right>-300</right><bottom>700</bottom>"
    "</rcNormalPosition></windowPlacement>";

// Every setting away from both kinds of default, and one document.
const char kAllSet[] =
    "<VMwarePlayer><![CDATA[C:\\vmplayer.exe]]></VMwarePlayer>"
    "<secondExecute>C:\\second.exe</secondExecute>"
    "<secondExecuteLeafNodeOnly>1</secondExecuteLeafNodeOnly>"
    "<secondExecuteName>名前</secondExecuteName>"
    "<executeFunction>1</executeFunction>"
    "<renameVmxExtension>1</renameVmxExtension>"
    "<fileDeleteAllowUndo>1</fileDeleteAllowUndo>"
    "<setDisplayName>0</setDisplayName>"
    "<createIndependentDiskChild>1</createIndependentDiskChild>"
    "<preventFragment>1</preventFragment>"
    "<preferencesIni>C:\\p.ini</preferencesIni>"
    "<datQvtAbsolute>0</datQvtAbsolute>"
    "<qvtNodeAbsolute>1</qvtNodeAbsolute>"
    "<hardDiskExecute1Path>C:\\h1.exe</hardDiskExecute1Path>"
    "<hardDiskExecute1LeafNodeOnly>1</hardDiskExecute1LeafNodeOnly>"
    "<hardDiskExecute1Name>H1</hardDiskExecute1Name>"
    "<hardDiskExecute2Path>C:\\h2.exe</hardDiskExecute2Path>"
    "<hardDiskExecute2LeafNodeOnly>1</hardDiskExecute2LeafNodeOnly>"
    "<hardDiskExecute2Name>H2</hardDiskExecute2Name>"
    "<tabIndex>0</tabIndex>";

const char kOneDocument[] = "<qvtList><qvt><title>t</title><path>a.qvt</path></qvt></qvtList>";

std::string Dat(const std::string& body) { return "<qvtData>" + body + "</qvtData>"; }

std::string WindowData(const std::string& placement, const std::string& bands) {
  return "<windowData>" + placement + bands + "</windowData>";
}

void ExpectConstructorDefaults(const SettingsFileRead& read) {
  const Settings& s = read.settings;
  EXPECT_EQ(s.VMwarePlayer, L"");
  EXPECT_EQ(s.secondExecute, L"");
  EXPECT_TRUE(s.secondExecuteLeafNodeOnly);
  EXPECT_EQ(s.secondExecuteName, L"第二実行(&S)");
  EXPECT_EQ(s.executeFunction, 0u);
  EXPECT_FALSE(s.renameVmxExtension);
  EXPECT_FALSE(s.fileDeleteAllowUndo);
  EXPECT_TRUE(s.setDisplayName);
  EXPECT_FALSE(s.createIndependentDiskChild);
  EXPECT_FALSE(s.preventFragment);
  EXPECT_EQ(s.preferencesIni, L"");
  EXPECT_TRUE(s.copyNvram);
  EXPECT_TRUE(s.datQvtAbsolute);
  EXPECT_FALSE(s.qvtNodeAbsolute);
  EXPECT_EQ(read.hardDisk.hardDiskExecute1Path, L"");
  EXPECT_TRUE(read.hardDisk.hardDiskExecute1LeafNodeOnly);
  EXPECT_EQ(read.hardDisk.hardDiskExecute1Name, L"");
  EXPECT_EQ(read.hardDisk.hardDiskExecute2Path, L"");
  EXPECT_TRUE(read.hardDisk.hardDiskExecute2LeafNodeOnly);
  EXPECT_EQ(read.hardDisk.hardDiskExecute2Name, L"");
}

TEST(SettingsDefaults, WithoutQvtDatTheConstructorDefaultsStay) {
  TempFolder dir;
  SettingsFileRead read;
  read.settings.VMwarePlayer = L"stale";
  read.startList.push_back(StartListEntry{});
  EXPECT_FALSE(ReadSettingsFile(dir.Windows() + L"\\", &read));
  ExpectConstructorDefaults(read);
  EXPECT_FALSE(read.placementRead);
  EXPECT_TRUE(read.bands.empty());
  EXPECT_TRUE(read.startList.empty());
  EXPECT_EQ(read.tabIndex, -1);

  EXPECT_FALSE(ReadSettingsFile(L"", &read)) << "no folder, no file";
  ExpectConstructorDefaults(read);
}

TEST(SettingsDefaults, AQvtDatWithoutTheElementsGivesTheReaderDefaults) {
  SettingsFileRead read;
  ASSERT_TRUE(
      ParseSettingsText(Dat("<VMwarePlayer><![CDATA[]]></VMwarePlayer><qvtList/>"), kExe, &read));
  const Settings& s = read.settings;
  EXPECT_FALSE(s.secondExecuteLeafNodeOnly) << "off, unlike a program without QVT.DAT";
  EXPECT_FALSE(read.hardDisk.hardDiskExecute1LeafNodeOnly);
  EXPECT_FALSE(read.hardDisk.hardDiskExecute2LeafNodeOnly);
  EXPECT_EQ(s.secondExecuteName, L"第二実行(&S)");
  EXPECT_TRUE(s.setDisplayName);
  EXPECT_TRUE(s.datQvtAbsolute);
  EXPECT_FALSE(s.renameVmxExtension);
  EXPECT_FALSE(s.qvtNodeAbsolute);
  EXPECT_TRUE(s.copyNvram);
  EXPECT_EQ(s.executeFunction, 0u);
  EXPECT_FALSE(read.placementRead) << "windowData is optional";
  EXPECT_TRUE(read.startList.empty());
  EXPECT_EQ(read.tabIndex, -1) << "an empty list selects no tab";
}

TEST(SettingsReading, ReadsEveryValueInAnyOrder) {
  SettingsFileRead read;
  ASSERT_TRUE(ParseSettingsText(
      Dat(std::string(kOneDocument) + kAllSet +
          WindowData(kPlacement,
                     "<bandInfoList><bandInfo><break>1</break><cx>300</cx><id>7</id>"
                     "</bandInfo><bandInfo><id>3</id><cx>0</cx><break>0</break>"
                     "</bandInfo></bandInfoList>")),
      kExe, &read));
  const Settings& s = read.settings;
  EXPECT_EQ(s.VMwarePlayer, L"C:\\vmplayer.exe");
  EXPECT_EQ(s.secondExecute, L"C:\\second.exe");
  EXPECT_TRUE(s.secondExecuteLeafNodeOnly);
  EXPECT_EQ(s.secondExecuteName, L"名前");
  EXPECT_EQ(s.executeFunction, 1u);
  EXPECT_TRUE(s.renameVmxExtension);
  EXPECT_TRUE(s.fileDeleteAllowUndo);
  EXPECT_FALSE(s.setDisplayName);
  EXPECT_TRUE(s.createIndependentDiskChild);
  EXPECT_TRUE(s.preventFragment);
  EXPECT_EQ(s.preferencesIni, L"C:\\p.ini");
  EXPECT_FALSE(s.datQvtAbsolute);
  EXPECT_TRUE(s.qvtNodeAbsolute);
  EXPECT_EQ(read.hardDisk.hardDiskExecute1Path, L"C:\\h1.exe");
  EXPECT_TRUE(read.hardDisk.hardDiskExecute1LeafNodeOnly);
  EXPECT_EQ(read.hardDisk.hardDiskExecute1Name, L"H1");
  EXPECT_EQ(read.hardDisk.hardDiskExecute2Path, L"C:\\h2.exe");
  EXPECT_TRUE(read.hardDisk.hardDiskExecute2LeafNodeOnly);
  EXPECT_EQ(read.hardDisk.hardDiskExecute2Name, L"H2");

  ASSERT_TRUE(read.placementRead);
  EXPECT_EQ(read.placement.length, 44u);
  EXPECT_EQ(read.placement.showCmd, 1u);
  EXPECT_EQ(read.placement.ptMinPosition.x, -1);
  EXPECT_EQ(read.placement.ptMaxPosition.y, -8);
  EXPECT_EQ(read.placement.rcNormalPosition.left, -1500);
  EXPECT_EQ(read.placement.rcNormalPosition.top, 20);
  EXPECT_EQ(read.placement.rcNormalPosition.right, -300);
  EXPECT_EQ(read.placement.rcNormalPosition.bottom, 700);
  ASSERT_EQ(read.bands.size(), 2u);
  EXPECT_EQ(read.bands[0].id, 7u);
  EXPECT_EQ(read.bands[0].cx, 300u);
  EXPECT_TRUE(read.bands[0].newRow);
  EXPECT_EQ(read.bands[1].id, 3u);
  EXPECT_FALSE(read.bands[1].newRow);
  EXPECT_EQ(read.tabIndex, 0);
  ASSERT_EQ(read.startList.size(), 1u);
  EXPECT_EQ(read.startList[0].path, L"C:\\Tools\\QVT\\a.qvt");
}

struct OptionCase {
  const char* what;
  std::string element;  // replaces the element in kAllSet
  std::string name;     // which element that is
};

// Reads kAllSet with one element replaced by `element` (or removed).
SettingsFileRead ReadWithOne(const std::string& name, const std::string& element) {
  std::string body = kAllSet;
  const std::string open = "<" + name + ">";
  const std::string close = "</" + name + ">";
  const std::size_t at = body.find(open);
  const std::size_t end = body.find(close, at) + close.size();
  body.replace(at, end - at, element);
  SettingsFileRead read;
  EXPECT_TRUE(ParseSettingsText(Dat(body + kOneDocument), kExe, &read));
  return read;
}

TEST(SettingsReading, BoolsOtherThanZeroOrOneTakeTheReaderDefault) {
  const std::string values[] = {"",
                                "<renameVmxExtension>2</renameVmxExtension>",
                                "<renameVmxExtension>-1</renameVmxExtension>",
                                "<renameVmxExtension>yes</renameVmxExtension>",
                                "<renameVmxExtension> 1</renameVmxExtension>",
                                "<renameVmxExtension/>"};
  for (const std::string& element : values) {
    SCOPED_TRACE(element);
    EXPECT_FALSE(ReadWithOne("renameVmxExtension", element).settings.renameVmxExtension);
    std::string onByDefault = element;
    for (std::size_t at; (at = onByDefault.find("renameVmxExtension")) != std::string::npos;) {
      onByDefault.replace(at, 18, "setDisplayName");
    }
    EXPECT_TRUE(ReadWithOne("setDisplayName", onByDefault).settings.setDisplayName);
  }
  EXPECT_FALSE(ReadWithOne("secondExecuteLeafNodeOnly",
                           "<secondExecuteLeafNodeOnly>on"
                           "</secondExecuteLeafNodeOnly>")
                   .settings.secondExecuteLeafNodeOnly);
  EXPECT_FALSE(
      ReadWithOne("hardDiskExecute2LeafNodeOnly", "").hardDisk.hardDiskExecute2LeafNodeOnly);
  EXPECT_TRUE(
      ReadWithOne("datQvtAbsolute", "<datQvtAbsolute>3</datQvtAbsolute>").settings.datQvtAbsolute);
}

TEST(SettingsReading, NumbersThatAreNotDecimalCountAsMissing) {
  const OptionCase cases[] = {
      {"executeFunction missing", "", "executeFunction"},
      {"executeFunction words", "<executeFunction>shell</executeFunction>", "executeFunction"},
      {"executeFunction negative", "<executeFunction>-1</executeFunction>", "executeFunction"},
      {"executeFunction too large", "<executeFunction>4294967296</executeFunction>",
       "executeFunction"},
      {"executeFunction hexadecimal", "<executeFunction>0x1</executeFunction>", "executeFunction"},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ReadWithOne(c.name, c.element).settings.executeFunction, 0u);
  }
  EXPECT_EQ(ReadWithOne("executeFunction", "<executeFunction>7</executeFunction>")
                .settings.executeFunction,
            7u)
      << "any other value means the shell";

  const OptionCase tabs[] = {
      {"tabIndex missing", "", "tabIndex"},
      {"tabIndex words", "<tabIndex>first</tabIndex>", "tabIndex"},
      {"tabIndex fraction", "<tabIndex>1.5</tabIndex>", "tabIndex"},
      {"tabIndex empty", "<tabIndex/>", "tabIndex"},
  };
  for (const OptionCase& c : tabs) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ReadWithOne(c.name, c.element).tabIndex, 0);
  }
  EXPECT_EQ(ReadWithOne("tabIndex", "<tabIndex>-1</tabIndex>").tabIndex, -1);
}

TEST(SettingsReading, MissingTextsBecomeEmptyOrTheDefaultMenuName) {
  EXPECT_EQ(ReadWithOne("secondExecute", "").settings.secondExecute, L"");
  EXPECT_EQ(ReadWithOne("secondExecuteName", "").settings.secondExecuteName, L"第二実行(&S)");
  EXPECT_EQ(ReadWithOne("secondExecuteName", "<secondExecuteName/>").settings.secondExecuteName,
            L"第二実行(&S)");
  EXPECT_EQ(ReadWithOne("secondExecuteName",
                        "<secondExecuteName><![CDATA[]]>"
                        "</secondExecuteName>")
                .settings.secondExecuteName,
            L"")
      << "an empty text is a text";
  EXPECT_EQ(ReadWithOne("preferencesIni", "").settings.preferencesIni, L"");
  EXPECT_EQ(ReadWithOne("hardDiskExecute1Name", "").hardDisk.hardDiskExecute1Name, L"");
}

TEST(SettingsReading, WithoutVMwarePlayerEveryLaterSettingKeepsItsDefault) {
  for (const char* player : {"", "<VMwarePlayer/>"}) {
    std::string body = kAllSet;
    const std::size_t end = body.find("</VMwarePlayer>") + 15;
    body.replace(0, end, player);
    SettingsFileRead read;
    EXPECT_FALSE(ParseSettingsText(
        Dat(WindowData(kPlacement, "<bandInfoList/>") + body + kOneDocument), kExe, &read));
    ExpectConstructorDefaults(read);
    EXPECT_TRUE(read.placementRead) << "the window data came first";
    EXPECT_TRUE(read.startList.empty());
    EXPECT_EQ(read.tabIndex, -1);
  }
}

TEST(SettingsReading, WindowDataWithoutBandsMovesTheWindowButFailsTheRead) {
  SettingsFileRead read;
  EXPECT_FALSE(
      ParseSettingsText(Dat(WindowData(kPlacement, "") + kAllSet + kOneDocument), kExe, &read));
  ASSERT_TRUE(read.placementRead);
  EXPECT_EQ(read.placement.rcNormalPosition.left, -1500);
  EXPECT_EQ(read.placement.rcNormalPosition.bottom, 700);
  EXPECT_TRUE(read.bands.empty());
  ExpectConstructorDefaults(read);
  EXPECT_TRUE(read.startList.empty()) << "no tab opens";
  EXPECT_EQ(read.tabIndex, -1);
}

TEST(SettingsReading, AnIncompletePlacementIsNotApplied) {
  const std::pair<std::string, std::string> damage[] = {
      {"<length>44</length>", ""},
      {"<flags>0</flags>", "<flags>-1</flags>"},
      {"<showCmd>1</showCmd>", "<showCmd>x</showCmd>"},
      {"<ptMinPosition><x>-1</x><y>-1</y></ptMinPosition>", ""},
      {"<ptMinPosition><x>-1</x>", "<ptMinPosition><x>-1.0</x>"},
      {"<y>-8</y>", ""},
      {"<left>-1500</left>", ""},
      {"<top>20</top>", "<top>2147483648</top>"},
      {"<right>-300</right>", "<right/>"},
      {"<bottom>700</bottom>", ""},
      {"</rcNormalPosition>", "</rcNormalPositio>"},  // not XML any more
  };
  for (const auto& [find, replace] : damage) {
    SCOPED_TRACE(find);
    std::string placement = kPlacement;
    placement.replace(placement.find(find), find.size(), replace);
    SettingsFileRead read;
    EXPECT_FALSE(ParseSettingsText(
        Dat(WindowData(placement, "<bandInfoList/>") + kAllSet + kOneDocument), kExe, &read));
    EXPECT_FALSE(read.placementRead);
    ExpectConstructorDefaults(read);
    EXPECT_TRUE(read.startList.empty());
  }
  SettingsFileRead read;
  EXPECT_FALSE(ParseSettingsText(Dat(WindowData("", "<bandInfoList/>") + kAllSet + kOneDocument),
                                 kExe, &read));
  EXPECT_FALSE(read.placementRead);
}

TEST(SettingsReading, BandsTakeEffectOneByOneUntilADamagedOne) {
  const std::string bands =
      "<bandInfoList><other/><bandInfo><id>1</id><cx>10</cx><break>0</break></bandInfo>"
      "<bandInfo><id>2</id><cx>20</cx><break>5</break></bandInfo>"
      "<bandInfo><id>3</id><break>0</break></bandInfo>"
      "<bandInfo><id>4</id><cx>40</cx><break>0</break></bandInfo></bandInfoList>";
  SettingsFileRead read;
  EXPECT_FALSE(
      ParseSettingsText(Dat(WindowData(kPlacement, bands) + kAllSet + kOneDocument), kExe, &read));
  EXPECT_TRUE(read.placementRead);
  ASSERT_EQ(read.bands.size(), 2u);
  EXPECT_EQ(read.bands[0].id, 1u);
  EXPECT_EQ(read.bands[1].id, 2u);
  EXPECT_EQ(read.bands[1].cx, 20u);
  EXPECT_TRUE(read.bands[1].newRow) << "any number but 0 starts a row";
  ExpectConstructorDefaults(read);

  const std::string strange =
      "<bandInfoList><bandInfo><id>1</id><cx>10</cx><break>0</break></bandInfo>"
      "<other><id>9</id><cx>90</cx><break>1</break></other></bandInfoList>";
  ASSERT_TRUE(ParseSettingsText(Dat(WindowData(kPlacement, strange) + kAllSet + kOneDocument), kExe,
                                &read));
  ASSERT_EQ(read.bands.size(), 2u) << "every sibling after the first bandInfo is a band";
  EXPECT_EQ(read.bands[1].id, 9u);
}

TEST(SettingsReading, WithoutTheDocumentListTheSettingsStillHold) {
  SettingsFileRead read;
  EXPECT_FALSE(ParseSettingsText(Dat(kAllSet), kExe, &read));
  EXPECT_EQ(read.settings.VMwarePlayer, L"C:\\vmplayer.exe");
  EXPECT_EQ(read.hardDisk.hardDiskExecute2Name, L"H2");
  EXPECT_TRUE(read.settings.qvtNodeAbsolute);
  EXPECT_TRUE(read.startList.empty());
  EXPECT_EQ(read.tabIndex, -1);
}

TEST(SettingsReading, ADamagedDocumentEntryOpensNoTabAtAll) {
  const char* lists[] = {
      "<qvtList><qvt><title>a</title><path>a.qvt</path></qvt><qvt><path>b.qvt</path></qvt>"
      "</qvtList>",
      "<qvtList><qvt><title>a</title><path>a.qvt</path></qvt><qvt><title>b</title></qvt>"
      "</qvtList>",
      "<qvtList><qvt><title>a</title><path>a.qvt</path></qvt><qvt><title>b</title><path/>"
      "</qvt></qvtList>",
      "<qvtList><qvt><title>a</title><path>a.qvt</path></qvt><other/></qvtList>",
      "<qvtList><qvt><title>a</title><path>..\\..\\..\\..\\a.qvt</path></qvt></qvtList>",
  };
  for (const char* list : lists) {
    SCOPED_TRACE(list);
    SettingsFileRead read;
    EXPECT_FALSE(ParseSettingsText(Dat(std::string(kAllSet) + list), kExe, &read));
    EXPECT_EQ(read.settings.VMwarePlayer, L"C:\\vmplayer.exe");
    EXPECT_TRUE(read.startList.empty());
    EXPECT_EQ(read.tabIndex, -1);
  }
}

TEST(SettingsReading, DocumentPathsResolveAgainstTheExecutableFolder) {
  struct Case {
    const char* stored;
    const wchar_t* path;
    bool absolute;
  };
  const Case cases[] = {
      {"<![CDATA[]]>", L"C:\\Tools\\QVT", false},
      {"a.qvt", L"C:\\Tools\\QVT\\a.qvt", false},
      {"..\\vm\\a.qvt", L"C:\\Tools\\vm\\a.qvt", false},
      {"..\\..\\a.qvt", L"C:\\a.qvt", false},
      {"docs/./x/../a.qvt", L"C:\\Tools\\QVT\\docs\\a.qvt", false},
      {"D:\\vm\\..\\a.qvt", L"D:\\vm\\..\\a.qvt", true},
      {"\\\\server\\share\\a.qvt", L"\\\\server\\share\\a.qvt", true},
      {"仮想\\木.qvt", L"C:\\Tools\\QVT\\仮想\\木.qvt", false},
  };
  std::string list = "<qvtList><comment/>";
  for (const Case& c : cases) {
    list += std::string("<qvt><title>t</title><path>") + c.stored + "</path></qvt>";
  }
  list += "</qvtList>";
  for (const wchar_t* folder : {L"C:\\Tools\\QVT\\", L"C:\\Tools\\QVT"}) {
    SettingsFileRead read;
    ASSERT_TRUE(ParseSettingsText(Dat(std::string(kAllSet) + list), folder, &read));
    ASSERT_EQ(read.startList.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      EXPECT_EQ(read.startList[i].path, cases[i].path) << cases[i].stored;
      EXPECT_EQ(read.startList[i].pathAbsolute, cases[i].absolute) << cases[i].stored;
    }
  }
}

TEST(SettingsReading, FilesThatAreNotQvtDataFailWithTheDefaults) {
  const std::string texts[] = {
      "",
      "not xml",
      "<qvtdata>" + std::string(kAllSet) + kOneDocument + "</qvtdata>",
      "<settings/>",
      "<qvtData>" + std::string(kAllSet) + kOneDocument,
  };
  for (const std::string& text : texts) {
    SettingsFileRead read;
    EXPECT_FALSE(ParseSettingsText(text, kExe, &read)) << text;
    ExpectConstructorDefaults(read);
    EXPECT_TRUE(read.startList.empty());
  }
}

TEST(SettingsReading, ReadsTheFileInTheExecutableFolder) {
  TempFolder dir;
  dir.WriteFile(L"QVT.DAT", "\xEF\xBB\xBF" + Dat(std::string(kAllSet) + kOneDocument));
  SettingsFileRead read;
  ASSERT_TRUE(ReadSettingsFile(dir.Windows(), &read));
  EXPECT_EQ(read.settings.VMwarePlayer, L"C:\\vmplayer.exe");
  ASSERT_EQ(read.startList.size(), 1u);
  EXPECT_EQ(read.startList[0].path, dir.Windows(L"a.qvt"));
}

}  // namespace
}  // namespace qvt
