// Where the client's fetches look on the FTP server, below the announced root folder.
#pragma once

namespace publish {

constexpr const char* kPatchFolder = "TarvoPatch";  // archives, launcher, agent list, client, music list
constexpr const char* kListFolder = "PatchInfo";    // FileList_NNN.dat
constexpr const char* kMusicFolder = "TarvoMusic";  // zoma*.qkn

constexpr const char* kLauncherName = "Tarvo.exe";
constexpr const char* kAgentListName = "AgentIP.ini";
constexpr const char* kClientName = "TarvoPatchClient.exe";
constexpr const char* kMusicListName = "QKNList.dat";

}  // namespace publish
