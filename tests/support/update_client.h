// The simulated machine and the client's version file for whole runs of the
// built Refitter.exe (end-to-end tests and the update run bench).
#pragma once
#include <string>

#include "tests/support/temp_dir.h"

// Under Dir: "sim/" with plenty of free disk, sleeps cut a hundredfold, the
// four DirectX libraries in "system/" (so that only patches are fetched) and
// a movie that closes the window once the run shows its end (state 1, latest
// or an error, at once; state 4, a chain applied, as soon as the worker
// ended); "events/" for the named events. Points RV_SIM_ROOT and
// RV_EVENT_PREFIX there and clears the proxy settings. The machine is a
// desktop on mains power with plenty of free memory and an idle processor,
// its shared data folder is in "sim/", and its registry store is
// "registry/" (RV_REGISTRY_DIR).
void Rv_TestPrepareSimMachine(const Rv_TestTempDir& Dir);
// Writes the facts of that desktop into a simulated machine's folder; its
// reports go to a closed loopback port.
void Rv_TestWriteDesktopFacts(const std::string& strSimDir);

// The text of a client's "version.cfg" at strVersion on the version line "zhcn".
std::string Rv_TestVersionCfg(const std::string& strVersion);
// The version that strVersionCfgPath gives ("" when none).
std::string Rv_TestInstalledVersion(const std::string& strVersionCfgPath);
