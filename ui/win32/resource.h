// Ids of the Windows window's resources and controls, shared by the resource script and the code
// that uses them. The same numbers as the client's own (the dialog's control ids, res/), kept here
// as plain macros because the resource compiler reads this file too.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDD_TARVOPATCHCLIENT_DIALOG 102
#define IDB_BACKGROUND 141
#define IDB_START 142
#define IDB_CANCEL 143
#define IDC_HANDCURSOR 144

#define IDS_ABOUTBOX 101
#define IDS_SOCKETS_INIT_FAILED 103
#define IDS_RECV_FAILED 104

#define IDM_ABOUTBOX 0x0010

#define IDC_NOTICE 1000
#define IDC_STATUS 1001
#define IDC_FILE_PROGRESS 1002
#define IDC_TOTAL_PROGRESS 1003
#define IDC_FILE_BYTES 1004
#define IDC_TOTAL_BYTES 1005
#define IDC_START 1014
#define IDC_ABOUT_ICON 1100

// The window class of the notice control: the web-browser control's class id, as the template names it.
#define NOTICE_CONTROL_CLASS "{8856F961-340A-11D0-A96B-00C04FD705A2}"
