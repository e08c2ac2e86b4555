// The game folder as the current directory. Every relative path of a run (downloads, the local
// version file, the music move, the game and the launcher) resolves against it, so no step may go
// on in whatever folder happens to be current when the game folder cannot be entered.
#pragma once
#include <string>

class CPatchClientDlg;

// Reads "defaultdir" of HKEY_LOCAL_MACHINE\subKey and makes that folder the current directory.
// The folder must be an absolute path that can be entered: a relative one would name a different
// folder depending on where the client was started. On failure, when pDlg is given, the run ends:
// a registry failure reports stop code 9 or 10; a folder that cannot be entered shows
// `stepMessage` first when one is given, then the message that names the folder. With pDlg the
// folder is also locked for the rest of the process; a folder another client holds ends the run
// with "Tarvo is already running!".
bool EnterGameFolder(const std::string& subKey, std::string& gameFolder, CPatchClientDlg* pDlg,
                     const char* stepMessage = nullptr);
