// Resource and command identifiers of skyrelay.rc; the core uses the same numbers. The menu
// "IDR_MENU1" and the dialog "ABOUTBOX" are named resources, so their names are not defined here.
#pragma once

#define IDS_ABOUTBOX 101
#define IDD_SKYRELAY_DIALOG 102
#define IDR_MAINFRAME 103
#define IDC_STATUS 104
#define IDC_FSPATH 1007

#define ID_FILE_FSPATH 135
#define ID_MULTIPLAYERCONNECT_TCPIP 154
#define ID_MULTIPLAYERCONNECT_IPXSPX 155
#define ID_CONFIG_USINGSQUAWKBOX 156
#define ID_CONFIG_MANUALCONNECTONLY 157

#ifndef ID_APP_EXIT
#define ID_APP_EXIT 0xE141
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
