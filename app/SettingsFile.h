// QVT.DAT, the settings file in the executable's folder: the two settings
// records, the main window's placement and bar layout, the selected tab and
// the open documents. Read once when the main window is made, written once
// when it goes.
//
// Every function takes the executable's folder (its path up to and including
// the last backslash); an empty folder means it could not be determined, and
// then the file is neither read nor written.
#ifndef QVT_APP_SETTINGSFILE_H
#define QVT_APP_SETTINGSFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "FileReplace.h"
#include "Settings.h"
#include "WindowLayout.h"

namespace qvt {

// A document to open at start.
struct StartListEntry {
  std::wstring title;
  // Absolute: relative texts are resolved against the executable's folder.
  std::wstring path;
  // The file stored the path absolute.
  bool pathAbsolute = false;
};

// What a read leaves for the main frame, also after a failed read: the
// settings read before the failure are in force and the rest keep their
// defaults.
struct SettingsFileRead {
  Settings settings;
  HardDiskExecuteSettings hardDisk;
  // The file held a whole placement. The main frame applies it even when
  // the read failed afterwards: the window moved as soon as it was read.
  bool placementRead = false;
  WindowPlacementRecord placement;
  // The bands read, in order: band bands[i].id goes to position i. After a
  // failure among the bands, those before it still apply.
  std::vector<BandRecord> bands;
  // The tab to select; -1 when the start list is empty.
  std::int32_t tabIndex = -1;
  // Empty after a failed read: no tab opens.
  std::vector<StartListEntry> startList;
};

// One open tab, as the main frame writes it.
struct OpenTabRecord {
  std::wstring title;
  std::wstring documentPath;
  // The document frame's datPathAbsolute: store the path as it is, or
  // relative to the executable's folder when the drive is the same.
  bool datPathAbsolute = true;
};

struct SettingsFileContents {
  Settings settings;
  HardDiskExecuteSettings hardDisk;
  WindowPlacementRecord placement;
  std::vector<BandRecord> bands;
  // The selected tab; -1 when none.
  std::int32_t tabIndex = -1;
  // Left to right.
  std::vector<OpenTabRecord> tabs;
};

// executableFolder + "QVT.DAT"; empty when the folder is empty.
std::wstring SettingsFilePath(const std::wstring& executableFolder);

// The contents of a QVT.DAT in `bytes`. True when the start list may be
// opened; `read` is set either way (see SettingsFileRead).
bool ParseSettingsText(const std::string& bytes, const std::wstring& executableFolder,
                       SettingsFileRead* read);
// Reads QVT.DAT; a missing or unreadable file leaves every default.
bool ReadSettingsFile(const std::wstring& executableFolder, SettingsFileRead* read);

// The `path` text of a tab.
std::wstring StoredDocumentPath(const OpenTabRecord& tab, const std::wstring& executableFolder);
// The file's bytes.
std::string SettingsText(const SettingsFileContents& contents,
                         const std::wstring& executableFolder);
// Replaces QVT.DAT so that a failure keeps the previous file. False when
// nothing was written; the caller reports nothing.
bool WriteSettingsFile(const std::wstring& executableFolder, const SettingsFileContents& contents,
                       CFileWriter& files);
bool WriteSettingsFile(const std::wstring& executableFolder, const SettingsFileContents& contents);

}  // namespace qvt

#endif
