// Resource ids of the updater: dialog, icon, picture, embedded font and update image, and the
// main window's control ids.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 130
#define IDR_UPDATE_IMAGE 135
#define IDR_FONT 137

#define IDC_SETUP 1000
#define IDC_STATUS 1001
#define IDC_UPDATE 1002
#define IDC_FILE_SELECT 1003
#define IDC_PROGRESS 1004
#define IDC_VERSION 1006
