// The user's settings as the main frame keeps them and the documents read
// them (GetSettings, GetHardDiskExecuteSettings). The defaults here are
// those of a program without QVT.DAT; a QVT.DAT that lacks an element gives
// the reader's default instead, which differs for the leaf-only switches.
#ifndef QVT_APP_SETTINGS_H
#define QVT_APP_SETTINGS_H

#include <cstdint>
#include <string>

namespace qvt {

inline constexpr wchar_t kDefaultSecondExecuteName[] = L"第二実行(&S)";

struct Settings {
  std::wstring VMwarePlayer;
  std::wstring secondExecute;
  bool secondExecuteLeafNodeOnly = true;
  std::wstring secondExecuteName = kDefaultSecondExecuteName;
  // 0 starts programs by process creation, anything else by the shell's Open.
  std::uint32_t executeFunction = 0;
  bool renameVmxExtension = false;
  bool fileDeleteAllowUndo = false;
  bool setDisplayName = true;
  bool createIndependentDiskChild = false;
  bool preventFragment = false;
  std::wstring preferencesIni;
  // Never stored and offered by no control, so always on.
  bool copyNvram = true;
  bool datQvtAbsolute = true;
  bool qvtNodeAbsolute = false;
};

struct HardDiskExecuteSettings {
  std::wstring hardDiskExecute1Path;
  bool hardDiskExecute1LeafNodeOnly = true;
  std::wstring hardDiskExecute1Name;
  std::wstring hardDiskExecute2Path;
  bool hardDiskExecute2LeafNodeOnly = true;
  std::wstring hardDiskExecute2Name;
};

}  // namespace qvt

#endif
