// Facts of this machine that identify it: its computer name and the shared
// application data folder of all users. Under RV_SIM_ROOT the facts
// "computer_name" and "common_app_data" (a folder) answer instead.
#pragma once
#include <string>

// The machine's name (at most 260 bytes).
int Pf_GetComputerName(std::string* pstrRetName);
// The application data folder shared by all users, without a final
// separator, created when missing; "/var/lib" unless the simulated machine
// names another. Fails when it is not a folder and cannot be made one.
int Pf_GetCommonAppDataDir(std::string* pstrRetDir);
