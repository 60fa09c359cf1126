// The names and texts that the reporter's files share.
#include "telemetry/client_report_common.h"

#include "platform/ini.h"

const char RV_REPORT_UPDATER_INI[] = "refitter.ini";
const char RV_REPORT_MACHINE_SECTION[] = "MachineInfo";
const char RV_REPORT_VERSION_CFG[] = "version.cfg";
const char RV_REPORT_GAME_NAME[] = "q7";

int Rv_ReadReportIniText(const std::string& strFile, const char* cszSection, const char* cszKey,
                         const char* cszDefault, unsigned uBufferSize, std::string* pstrRetValue)
{
    std::string strValue = Pf_IniReadString(strFile, cszSection, cszKey, cszDefault);
    if (strValue.size() >= uBufferSize)
        return 0;
    *pstrRetValue = strValue;
    return 1;
}

const char* Rv_ReportFlagText(int nValue)
{
    return nValue ? "1" : "0";
}

void Rv_AddReportOutcome(Rv_ReportFields* pFields, int nCode)
{
    pFields->emplace_back("successful", Rv_ReportFlagText(nCode == 0));
    pFields->emplace_back("errorcode", std::to_string(nCode));
}
