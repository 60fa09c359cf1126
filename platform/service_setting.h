// Where the program's outside services live, when a run is told so: the
// environment variable "RV_<NAME>" (the fact's name in upper case, e.g.
// RV_REPORT_SERVICE for "report_service"), else the simulated machine's fact.
// Without either the caller keeps its built-in address.
#pragma once
#include <string>

// Returns 1 and the value when the environment or the simulated machine names one.
int Pf_ReadServiceSetting(const char* cszName, std::string* pstrRetValue);
