// Where the reporting service lives: its host name and port. The system
// always posts to the same host on port 80; a run may name another one
// ("host" or "host:port", in RV_REPORT_SERVICE or the simulated machine's fact
// "report_service"), which is how tests point the reports at a loopback server.
#pragma once
#include <string>

extern const char RV_REPORT_SERVICE_HOST[];     // "report.refitter.net"
enum { RV_REPORT_SERVICE_PORT = 80 };

// The host and port to use. Fails (logged) when the setting is not a host
// name with an optional port in 1..65535.
int Rv_GetReportService(std::string* pstrRetHost, int* pnRetPort);

// The same rule for any service: the setting cszFact when present (see
// platform/service_setting.h), else cszDefaultHost on port 80.
int Rv_GetServiceAddress(const char* cszFact, const char* cszDefaultHost, std::string* pstrRetHost, int* pnRetPort);
