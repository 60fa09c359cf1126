// What the reporter's files share: the updater's and the version file's
// names, bounded ini reads, the flag and outcome texts, and the one form
// post that every form report goes through.
#pragma once
#include "foundation/countof.h"

#include <string>
#include <utility>
#include <vector>

extern const char RV_REPORT_UPDATER_INI[];      // "refitter.ini"
extern const char RV_REPORT_MACHINE_SECTION[];  // "MachineInfo"
extern const char RV_REPORT_VERSION_CFG[];      // "version.cfg"
extern const char RV_REPORT_GAME_NAME[];        // "q7"

typedef std::vector<std::pair<std::string, std::string>> Rv_ReportFields;

// Reads a text that must fit a buffer of uBufferSize characters with its
// terminator. An absent key gives strDefault; a longer value is refused
// (0), never cut.
int Rv_ReadReportIniText(const std::string& strFile, const char* cszSection, const char* cszKey,
                         const char* cszDefault, unsigned uBufferSize, std::string* pstrRetValue);

// "1" for a non-zero value, "0" for zero.
const char* Rv_ReportFlagText(int nValue);
// The outcome fields of a code: "successful" ("1" when 0) and "errorcode".
void Rv_AddReportOutcome(Rv_ReportFields* pFields, int nCode);

// The signed reports' access keys, one per report.
extern const char RV_REPORT_KEY_FULL_CLIENT[];
extern const char RV_REPORT_KEY_DEVICE[];
extern const char RV_REPORT_KEY_START_UPDATER[];
extern const char RV_REPORT_KEY_UPDATE[];
extern const char RV_REPORT_KEY_SYNC[];
extern const char RV_REPORT_KEY_START_CLIENT[];
extern const char RV_REPORT_KEY_LAPTOP_CONFIG[];

// Posts the fields as a form to the path of the reporting service; every
// failure is logged with the caller's line and function.
int Rv_ReportPostForm(const char* cszPath, const Rv_ReportFields& fields, int nLine, const char* cszPretty);
#define RV_REPORT_POST_FORM(cszPath, ...) Rv_ReportPostForm((cszPath), __VA_ARGS__, __LINE__, __PRETTY_FUNCTION__)

// Sends the fields as a signed report to the path under the report's key;
// every failure is logged with the caller's line and function unless bLog is 0.
int Rv_ReportPostSigned(const char* cszPath, const char* cszKey, const Rv_ReportFields& fields, int bLog, int nLine,
                        const char* cszPretty);
#define RV_REPORT_POST_SIGNED(cszPath, cszKey, ...) \
    Rv_ReportPostSigned((cszPath), (cszKey), __VA_ARGS__, 1, __LINE__, __PRETTY_FUNCTION__)
