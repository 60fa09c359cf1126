// The steps around an update run of the window copy: before the window
// exists, and once the client is up to date (after an update, or when none
// was needed). Every step's failure is only logged; the chain goes on.
#pragma once
#include <string>

// Stops the streaming downloader, makes sure of the Flash control, sets the
// mouse compatibility flag, records the installed version and starts the
// start-up reports.
int Rv_RunBeforeUpdate();
// Reports, reloads the configuration, prunes leftovers, writes the
// installation's registry values, checks DirectX, restarts the streaming
// downloader and fills the warnings for the user ("<code>|<text>" entries
// joined by "&"; empty when there is nothing to warn of).
int Rv_RunAfterUpdate(std::string* pstrRetWarning);
// The same when no update was needed, without the version report and the warnings.
int Rv_RunIfNotNeedUpdate();

// Writes "version", "installPath" and "UUIDEx" under the game's key of the
// version type; each failure is logged and the next value still written.
int _WriteRegisterInfo(const char* cszVersionType, const char* cszVersion, const char* cszInstallPath);
