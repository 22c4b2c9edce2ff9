#pragma once

// Dialog templates.
#define IDD_STATUS_WINDOW 1000
#define IDD_PATCH 1015

// Status window controls.
#define IDC_PORT 1001
#define IDC_APPLY 1003
#define IDC_STATUS_LINE 1005
#define IDC_SESSION_LINE 1006
#define IDC_INFO_LINE 1007
#define IDC_CLOSE 1008
#define IDC_VERSION 1012
#define IDC_PATCH 1070
#define IDC_RECONNECT 1072
#define IDC_USER_NUMBER 1076

// Tray icons.
#define IDI_TRAY_PRODUCT 1004
#define IDI_TRAY_WARNING 1008
#define IDI_TRAY_EMBLEM 1012
#define IDI_TRAY_EMBLEM_ALT 1013
