// Resource and command ids shared by QVT.rc, the Win32 code and the tests.
// Plain #defines only: the resource compiler reads this file too.
#ifndef QVT_RESOURCES_RESOURCE_H
#define QVT_RESOURCES_RESOURCE_H

// Main frame: menu bar, accelerators, program icon.
#define IDR_MAINFRAME 128
// About dialog.
#define IDD_ABOUTBOX 100
#define IDC_ABOUT_ICON 1000
#define IDC_ABOUT_PRODUCT 1001

// Commands of the main menu.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_VIEW_TOOLBAR 59392
#define ID_VIEW_STATUS_BAR 59393
#define ID_OPTION_OPTIONS 32775
#define ID_OPTION_PATH_KIND 32808
#define ID_OPTION_HARD_DISK_EXECUTE 32797
#define ID_OPTION_SHOW_SCREENSHOT 32804
#define ID_OPTION_READ_POWER_STATE 32806

#endif
