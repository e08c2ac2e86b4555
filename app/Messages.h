// Window messages, control ids and message-box flags of the main dialog.
#pragma once
#include <cstdint>

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_NET_STATE = 0x8064;
constexpr uint32_t WM_NET_RECV = 0x8066;
constexpr uint32_t WM_PATCH_STOP = 0x806A;
constexpr uint32_t WM_PATCH_LIST = 0x806B;

// Control ids of dialog template 102.
constexpr int IDCANCEL = 2;
constexpr int IDC_START = 1014;
constexpr int IDC_STATUS = 1001;       // name of the file being handled, or a status text
constexpr int IDC_FILE_PROGRESS = 1002;
constexpr int IDC_TOTAL_PROGRESS = 1003;
constexpr int IDC_FILE_BYTES = 1004;
constexpr int IDC_TOTAL_BYTES = 1005;

// Message-box flags and results.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONSTOP = 0x10;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
