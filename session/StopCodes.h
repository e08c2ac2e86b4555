// The stop codes that end a run, and their messages.
#pragma once

constexpr unsigned STOP_FTP_CONNECT = 0;
constexpr unsigned STOP_PATCH_NOT_FOUND = 1;
constexpr unsigned STOP_PATCH_DOWNLOAD = 2;
constexpr unsigned STOP_UNFORESEEN = 3;
constexpr unsigned STOP_MUSIC_DATA = 4;
constexpr unsigned STOP_MUSIC_FILE = 5;
constexpr unsigned STOP_CLIENT_PATCH = 6;
constexpr unsigned STOP_CLIENT = 7;
constexpr unsigned STOP_NO_INSTALL_INFO = 9;
constexpr unsigned STOP_BAD_INSTALL_INFO = 10;
constexpr unsigned STOP_SILENT = 12;
constexpr unsigned STOP_DONE = 14;
constexpr unsigned STOP_CLIENT_TOO_OLD = 16;
constexpr unsigned STOP_NO_SERVER_INFO = 17;

// The message shown for a stop code, or null for the codes that end the run silently.
const char* StopCodeMessage(unsigned code);
