// The patch list: names and versions of the listed patches, and the chain.
#include "app/patch_list.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "transfer/http_download.h"

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <map>

namespace {

typedef std::map<Rv_VersionNumber, Rv_PatchRecord> PatchMap;
// The list section's values by key in lower case, the first of a key only.
typedef std::map<std::string, std::string> PatchList;

// Values are read as into a buffer of 256 characters.
const size_t s_uMaxListValue = 255;

std::string _Lower(std::string str)
{
    for (char& ch : str)
        if (ch >= 'A' && ch <= 'Z')
            ch = (char)(ch - 'A' + 'a');
    return str;
}

// The whole list section at once: a long list is not read again per key.
// A file without the section is an empty list.
int _LoadList(const char* cszListFile, PatchList* pRetList)
{
    std::vector<std::pair<std::string, std::string>> vecValues;
    if (!Pf_FileExists(cszListFile))
        return 0;
    if (!Pf_IniGetSectionValues(cszListFile, "PatchList", &vecValues))
        return errno == ENOENT && Pf_FileExists(cszListFile);
    for (const auto& value : vecValues)
        pRetList->emplace(_Lower(value.first), value.second.substr(0, s_uMaxListValue));
    return 1;
}

// The value's length, 0 when it is absent or empty.
int _ListValue(const PatchList& mapList, const char* cszKey, std::string* pstrRetValue)
{
    auto it = mapList.find(_Lower(cszKey));
    pstrRetValue->clear();
    if (it != mapList.end())
        *pstrRetValue = it->second;
    return (int)pstrRetValue->size();
}

// Appends to the chain, from Current upwards, until no patch leads on.
void _BuildChain(const PatchMap& mapPatches, const Rv_VersionNumber& Current, std::vector<Rv_PatchRecord>* pRetChain)
{
    Rv_VersionNumber Cur = Current;
    PatchMap::const_iterator itStart = mapPatches.begin();

    pRetChain->clear();
    while (itStart != mapPatches.end()) {
        Rv_VersionNumber Best;
        PatchMap::const_iterator itCandidate = mapPatches.end();
        for (PatchMap::const_iterator it = itStart; it != mapPatches.end(); ++it) {
            if (it->first == Cur) {
                itCandidate = it;
                break;
            }
            if (it->first > Cur)
                break;
            if (it->second.VersionTo > Cur && it->second.VersionTo > Best) {
                itCandidate = it;
                Best = it->second.VersionTo;
            }
        }
        if (itCandidate == mapPatches.end())
            break;
        pRetChain->push_back(itCandidate->second);
        Cur = itCandidate->second.VersionTo;
        itStart = std::next(itCandidate);
    }
}

} // namespace

int Rv_ParsePatchVersionInfo(const char* cszPachName, Rv_VersionNumber* pRetVersionFrom,
                             Rv_VersionNumber* pRetVersionTo)
{
    int nResult = 0;
    int nRetCode = 0;
    int nPos = 0;
    std::string strRest;
    std::string strFrom;
    std::string strTo;

    RVLOG_PROCESS_ERROR(cszPachName && cszPachName[0]);
    RVLOG_PROCESS_ERROR(pRetVersionFrom);
    RVLOG_PROCESS_ERROR(pRetVersionTo);

    strRest = cszPachName;
    nPos = (int)strRest.find("_c_");
    RVLOG_PROCESS_ERROR(nPos != (int)std::string::npos && "Can not find `_c_`");
    strRest = strRest.substr((size_t)nPos + 3);

    nPos = (int)strRest.find("-to-");
    RVLOG_PROCESS_ERROR(nPos != (int)std::string::npos && "Can not find `-to-`");
    strFrom = strRest.substr(0, (size_t)nPos);
    strRest = strRest.substr((size_t)nPos + 4);

    nPos = (int)strRest.find('_');
    RVLOG_PROCESS_ERROR(nPos != (int)std::string::npos && "Can not find `_`");
    strTo = strRest.substr(0, (size_t)nPos);

    nRetCode = pRetVersionFrom->ParseString(strFrom.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "pRetVersionFrom->ParseString()");
    nRetCode = pRetVersionTo->ParseString(strTo.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "pRetVersionTo->ParseString()");
    RVLOG_PROCESS_ERROR((*pRetVersionFrom) < (*pRetVersionTo));

    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_DEBUG, "Failed to parse patch `%s`", cszPachName ? cszPachName : "");
    return nResult;
}

int Rv_IsValidPatchFileName(const std::string& strName)
{
    if (!CHttpDownload::IsValidFileName(strName) || strName == "." || strName == "..")
        return 0;
    for (unsigned char ch : strName)
        if (ch < 0x20 || ch == 0x7F)
            return 0;
    return 1;
}

int Rv_ReadPatchListValue(const char* cszListFile, const char* cszSection, const char* cszKey, unsigned uBufferSize,
                          std::string* pstrRetValue)
{
    std::string strValue;

    pstrRetValue->clear();
    if (!Pf_IniGetString(cszListFile, cszSection, cszKey, &strValue) || uBufferSize == 0)
        return 0;
    if (strValue.size() > uBufferSize - 1)
        strValue.resize(uBufferSize - 1);
    *pstrRetValue = strValue;
    return (int)strValue.size();
}

int Rv_ReadPatchList(const char* cszListFile, const Rv_VersionNumber& Current, const Rv_VersionNumber& Latest,
                     std::vector<Rv_PatchRecord>* pRetChain)
{
    int nResult = 0;
    int nRetCode = 0;
    char szKey[64];
    PatchList mapList;
    PatchMap mapPatches;
    std::vector<Rv_PatchRecord> vecChain;

    RVLOG_PROCESS_ERROR(cszListFile && cszListFile[0]);
    RVLOG_PROCESS_ERROR(pRetChain);
    nRetCode = _LoadList(cszListFile, &mapList);
    RVLOG_PROCESS_ERROR(nRetCode && "_LoadList()");

    for (int n = 1;; ++n) {
        Rv_PatchRecord Record;

        nRetCode = snprintf(szKey, sizeof(szKey), "%s%d", "Patch_", n);
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szKey));
        nRetCode = _ListValue(mapList, szKey, &Record.strFileName);
        if (nRetCode <= 0)
            break;

        nRetCode = snprintf(szKey, sizeof(szKey), "%s%d", "PatchMD5_", n);
        RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)sizeof(szKey));
        nRetCode = _ListValue(mapList, szKey, &Record.strMD5);
        RVLOG_PROCESS_ERROR(nRetCode > 0);

        // The name becomes a local path and the last part of a URL.
        nRetCode = Rv_IsValidPatchFileName(Record.strFileName);
        if (!nRetCode)
            RvLog_Write(RVLOG_ERROR, "Invalid patch file name `%s`", Record.strFileName.c_str());
        RVLOG_PROCESS_ERROR(nRetCode && "Rv_IsValidPatchFileName()");

        nRetCode = Rv_ParsePatchVersionInfo(Record.strFileName.c_str(), &Record.VersionFrom, &Record.VersionTo);
        RVLOG_PROCESS_ERROR(nRetCode && "Rv_ParsePatchVersionInfo()");

        if (Record.VersionTo > Latest)
            continue;
        auto itFound = mapPatches.find(Record.VersionFrom);
        if (itFound == mapPatches.end())
            mapPatches.emplace(Record.VersionFrom, Record);
        else if (Record.VersionTo > itFound->second.VersionTo)
            itFound->second = Record;
    }

    _BuildChain(mapPatches, Current, &vecChain);
    pRetChain->swap(vecChain);

    nResult = 1;
Exit0:
    return nResult;
}
