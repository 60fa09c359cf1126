// The socket HTTP client: request, response header, body, resume and redirects.
#include "transfer/http_download.h"
#include "foundation/log.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "transfer/socks_packet.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {
enum { BODY_DONE, BODY_STOPPED, BODY_WRITE_FAILED, BODY_LOST, BODY_BAD };
enum { PARSE_FAILED, PARSE_OK, PARSE_REDIRECT, PARSE_REDIRECT_FTP };
// A response header longer than this is refused.
const size_t s_uMaxHeader = 65536;
// Requests started again because sending timed out, before the request fails.
const int s_nMaxSendRestarts = 20;
}

static std::string _Trim(const std::string& str)
{
    size_t uBegin = 0;
    size_t uEnd = str.size();
    while (uBegin < uEnd && isspace((unsigned char)str[uBegin]))
        uBegin++;
    while (uEnd > uBegin && isspace((unsigned char)str[uEnd - 1]))
        uEnd--;
    return str.substr(uBegin, uEnd - uBegin);
}

static std::string _Lower(std::string str)
{
    for (char& c : str)
        c = (char)tolower((unsigned char)c);
    return str;
}

// The value of a header line "name: value" (strLowerName with the colon),
// searched from line starts of the lower-case header; "" and 0 when absent.
static int _HeaderValue(const std::string& strHeader, const std::string& strLower, const char* cszName,
                        std::string* pstrRetValue)
{
    std::string strKey = std::string("\r\n") + cszName;
    size_t uPos = strLower.find(strKey);
    size_t uEnd = 0;
    if (uPos == std::string::npos)
        return 0;
    uPos += strKey.size();
    uEnd = strLower.find("\r\n", uPos);
    if (uEnd == std::string::npos)
        uEnd = strLower.size();
    *pstrRetValue = _Trim(strHeader.substr(uPos, uEnd - uPos));
    return 1;
}

// A decimal in 0..INT_MAX and nothing else.
static int _ParseLength(const std::string& strValue, int* pnRetValue)
{
    long long llValue = 0;
    if (strValue.empty() || strValue.size() > 10)
        return 0;
    for (char c : strValue) {
        if (c < '0' || c > '9')
            return 0;
        llValue = llValue * 10 + (c - '0');
    }
    if (llValue > INT_MAX)
        return 0;
    *pnRetValue = (int)llValue;
    return 1;
}

CHttpDownload::CHttpDownload()
{
    m_llLastModified = (int64_t)time(nullptr);
    m_bStopEventValid = m_StopEvent.Init(1, 0);
}

CHttpDownload::~CHttpDownload()
{
    m_Socket.Close();
}

void CHttpDownload::RequestStop()
{
    m_nStopFlag = 1;
    if (m_bStopEventValid)
        m_StopEvent.Set();
    // A transfer waiting for the server ends now, not at its time-out.
    m_Socket.Interrupt();
}

std::string CHttpDownload::Base64Encode(const std::string& strText)
{
    static const char s_szAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string strResult;
    size_t i = 0;
    for (; i + 2 < strText.size(); i += 3) {
        uint32_t u = ((uint8_t)strText[i] << 16) | ((uint8_t)strText[i + 1] << 8) | (uint8_t)strText[i + 2];
        strResult += s_szAlphabet[(u >> 18) & 63];
        strResult += s_szAlphabet[(u >> 12) & 63];
        strResult += s_szAlphabet[(u >> 6) & 63];
        strResult += s_szAlphabet[u & 63];
    }
    if (i + 1 == strText.size()) {
        uint32_t u = (uint8_t)strText[i] << 16;
        strResult += s_szAlphabet[(u >> 18) & 63];
        strResult += s_szAlphabet[(u >> 12) & 63];
        strResult += "==";
    } else if (i + 2 == strText.size()) {
        uint32_t u = ((uint8_t)strText[i] << 16) | ((uint8_t)strText[i + 1] << 8);
        strResult += s_szAlphabet[(u >> 18) & 63];
        strResult += s_szAlphabet[(u >> 12) & 63];
        strResult += s_szAlphabet[(u >> 6) & 63];
        strResult += '=';
    }
    return strResult;
}

int CHttpDownload::ParseURL(const std::string& strURL, std::string* pstrRetHost, std::string* pstrRetObject,
                            int* pnRetPort)
{
    std::string strTrimmed = _Trim(strURL);
    size_t uScheme = strTrimmed.find("://");
    std::string strRest;
    std::string strHostPort;
    size_t uSlash = 0;
    size_t uColon = 0;
    int nPort = 80;
    if (uScheme == std::string::npos)
        return 0;
    if (_Lower(strTrimmed.substr(0, uScheme + 3)) != "http://")
        return 0;
    strRest = strTrimmed.substr(uScheme + 3);
    uSlash = strRest.find('/');
    if (strRest.empty() || uSlash == std::string::npos)
        return 0;
    strHostPort = strRest.substr(0, uSlash);
    uColon = strHostPort.find(':');
    if (uColon != std::string::npos) {
        std::string strPort = strHostPort.substr(uColon + 1);
        if (!_ParseLength(strPort, &nPort) || nPort < 1 || nPort > 65535)
            return 0;
        strHostPort = strHostPort.substr(0, uColon);
    }
    if (strHostPort.empty())
        return 0;
    *pstrRetHost = strHostPort;
    *pstrRetObject = strRest.substr(uSlash);
    *pnRetPort = nPort;
    return 1;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
static int64_t _DaysFromCivil(int64_t llYear, int nMonth, int nDay)
{
    llYear -= nMonth <= 2;
    int64_t llEra = (llYear >= 0 ? llYear : llYear - 399) / 400;
    int64_t llYearOfEra = llYear - llEra * 400;
    int64_t llDayOfYear = (153 * (nMonth > 2 ? nMonth - 3 : nMonth + 9) + 2) / 5 + nDay - 1;
    int64_t llDayOfEra = llYearOfEra * 365 + llYearOfEra / 4 - llYearOfEra / 100 + llDayOfYear;
    return llEra * 146097 + llDayOfEra - 719468;
}

// The year (UTC) of a time in seconds since 1970.
static int64_t _YearOf(int64_t llTime)
{
    int64_t llDays = (llTime >= 0 ? llTime : llTime - 86399) / 86400 + 719468;
    int64_t llEra = (llDays >= 0 ? llDays : llDays - 146096) / 146097;
    int64_t llDayOfEra = llDays - llEra * 146097;
    int64_t llYearOfEra = (llDayOfEra - llDayOfEra / 1460 + llDayOfEra / 36524 - llDayOfEra / 146096) / 365;
    int64_t llDayOfYear = llDayOfEra - (365 * llYearOfEra + llYearOfEra / 4 - llYearOfEra / 100);
    int64_t llMonthIndex = (5 * llDayOfYear + 2) / 153;
    return llYearOfEra + llEra * 400 + (llMonthIndex >= 10);
}

// uMinDigits to uMaxDigits decimal digits, and nothing else, as a number.
static int _DateNumber(const std::string& strText, size_t uMinDigits, size_t uMaxDigits, int* pnRetValue)
{
    int nValue = 0;
    if (strText.size() < uMinDigits || strText.size() > uMaxDigits)
        return 0;
    for (char c : strText) {
        if (c < '0' || c > '9')
            return 0;
        nValue = nValue * 10 + (c - '0');
    }
    *pnRetValue = nValue;
    return 1;
}

static int _DateMonth(const std::string& strText, int* pnRetMonth)
{
    static const char* s_aszMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; i++) {
        if (strText == s_aszMonths[i]) {
            *pnRetMonth = i + 1;
            return 1;
        }
    }
    return 0;
}

// A weekday name, short ("sun") or long ("sunday").
static int _DateWeekday(const std::string& strText)
{
    static const char* s_aszDays[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    for (const char* cszDay : s_aszDays) {
        if (strText == cszDay || strText == std::string(cszDay, 3))
            return 1;
    }
    return 0;
}

// "hh:mm:ss".
static int _DateClock(const std::string& strText, int* pnRetHour, int* pnRetMinute, int* pnRetSecond)
{
    if (strText.size() != 8 || strText[2] != ':' || strText[5] != ':')
        return 0;
    return _DateNumber(strText.substr(0, 2), 2, 2, pnRetHour) && _DateNumber(strText.substr(3, 2), 2, 2, pnRetMinute) &&
           _DateNumber(strText.substr(6, 2), 2, 2, pnRetSecond);
}

int CHttpDownload::ParseHttpDate(const std::string& strLowerValue, int64_t llNow, int64_t* pllRetTime)
{
    static const int s_anDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::vector<std::string> vecTokens;
    std::string strWeekday;
    int nDay = 0;
    int nMonth = 0;
    int nYear = 0;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int bLeap = 0;
    size_t uPos = 0;
    while (uPos < strLowerValue.size()) {
        size_t uEnd = strLowerValue.find_first_of(" \t", uPos);
        if (uEnd == std::string::npos)
            uEnd = strLowerValue.size();
        if (uEnd > uPos)
            vecTokens.push_back(strLowerValue.substr(uPos, uEnd - uPos));
        uPos = uEnd + 1;
    }
    if (vecTokens.empty())
        return 0;
    strWeekday = vecTokens[0];
    if (strWeekday.back() == ',') {
        strWeekday.pop_back();
        if (vecTokens.size() == 6) {
            // "sun, 06 nov 1994 08:49:37 gmt"
            if (!_DateNumber(vecTokens[1], 1, 2, &nDay) || !_DateMonth(vecTokens[2], &nMonth) ||
                !_DateNumber(vecTokens[3], 4, 4, &nYear) || !_DateClock(vecTokens[4], &nHour, &nMinute, &nSecond))
                return 0;
        } else if (vecTokens.size() == 4) {
            // "sunday, 06-nov-94 08:49:37 gmt": a two-digit year more than
            // 50 years ahead is the latest past year with those digits.
            const std::string& strDate = vecTokens[1];
            size_t uDash1 = strDate.find('-');
            size_t uDash2 = uDash1 == std::string::npos ? uDash1 : strDate.find('-', uDash1 + 1);
            int64_t llNowYear = _YearOf(llNow);
            int64_t llYear = 0;
            if (uDash2 == std::string::npos || !_DateNumber(strDate.substr(0, uDash1), 1, 2, &nDay) ||
                !_DateMonth(strDate.substr(uDash1 + 1, uDash2 - uDash1 - 1), &nMonth) ||
                !_DateNumber(strDate.substr(uDash2 + 1), 2, 2, &nYear) ||
                !_DateClock(vecTokens[2], &nHour, &nMinute, &nSecond))
                return 0;
            llYear = llNowYear - llNowYear % 100 + nYear;
            if (llYear > llNowYear + 50)
                llYear -= 100;
            nYear = (int)llYear;
        } else {
            return 0;
        }
        if (vecTokens.back() != "gmt" && vecTokens.back() != "utc")
            return 0;
    } else {
        // asctime: "sun nov  6 08:49:37 1994", always in GMT.
        if (vecTokens.size() != 5 || !_DateMonth(vecTokens[1], &nMonth) || !_DateNumber(vecTokens[2], 1, 2, &nDay) ||
            !_DateClock(vecTokens[3], &nHour, &nMinute, &nSecond) || !_DateNumber(vecTokens[4], 4, 4, &nYear))
            return 0;
    }
    bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
    if (!_DateWeekday(strWeekday) || nYear < 1601 || nDay < 1 || nDay > s_anDaysInMonth[nMonth - 1] ||
        (nMonth == 2 && nDay == 29 && !bLeap) || nHour > 23 || nMinute > 59 || nSecond > 60)
        return 0;
    *pllRetTime = _DaysFromCivil(nYear, nMonth, nDay) * 86400 + nHour * 3600 + nMinute * 60 + nSecond;
    return 1;
}

int CHttpDownload::IsValidFileName(const std::string& strName)
{
    if (strName.empty())
        return 0;
    return strName.find_first_of("\\?|><\"/*:") == std::string::npos;
}

std::string CHttpDownload::GetFileNameFromURL(const std::string& strObject)
{
    std::string strName;
    size_t uPos = strObject.rfind('/');
    if (uPos == std::string::npos)
        uPos = strObject.rfind('\\');
    if (strObject.size() < 2)
        strName = strObject;
    else
        strName = uPos == std::string::npos ? strObject : strObject.substr(uPos + 1);
    strName = _Trim(strName);
    if (!IsValidFileName(strName) || strName == "." || strName == "..")
        strName = "Unknown.htm";
    return strName;
}

int CHttpDownload::_SetURL(const std::string& strURL)
{
    std::string strHost;
    std::string strObject;
    int nPort = 80;
    if (!ParseURL(strURL, &strHost, &strObject, &nPort))
        return 0;
    m_strURL = _Trim(strURL);
    m_strHost = strHost;
    m_strObject = strObject;
    m_nPort = nPort;
    return 1;
}

int CHttpDownload::_IsUpToDate()
{
    uint64_t ullSize = 0;
    Pf_FILETIME ftWrite;
    int64_t llSeconds = 0;
    uint32_t uNanoseconds = 0;
    // Only a stated size can say that the file is current.
    if (!m_bHaveLength)
        return 0;
    if (!Pf_FileExists(m_strLocalPath) || !Pf_GetFileSize(m_strLocalPath, &ullSize))
        return 0;
    if (ullSize != (uint64_t)(int64_t)m_nTotalSize)
        return 0;
    if (!Pf_GetFileTimes(m_strLocalPath, nullptr, nullptr, &ftWrite))
        return 0;
    Pf_FileTimeToUnix(ftWrite, &llSeconds, &uNanoseconds);
    return llSeconds - m_llLastModified <= 2 && m_llLastModified - llSeconds <= 2;
}

int CHttpDownload::Download(const char* cszURL, const char* cszLocalPath)
{
    std::string strURL = _Trim(cszURL ? cszURL : "");
    FILE* pFile = nullptr;
    int nRet = 0;
    int bBusy = 0;
    // The most the .tmp held in this call: a resume counts as progress only
    // when it gets the file past it.
    int nMostInFile = 0;
    m_nRetryCount = 0;
    m_strTempPath.clear();
    m_bWriteBody = 1;
    if (strURL.empty())
        return RV_HTTP_FAILED;
    if (!_SetURL(strURL) && !_SetURL("http://" + strURL))
        return RV_HTTP_FAILED;
    // The name is the asked URL's, wherever the server redirects.
    m_strFileName = GetFileNameFromURL(m_strObject);
    m_strLocalPath = _Trim(cszLocalPath ? cszLocalPath : "");
    if (m_strLocalPath.empty())
        m_strLocalPath = "C:\\";
    if (m_strLocalPath.back() == '\\')
        m_strLocalPath += m_strFileName;
    m_strTempPath = m_strLocalPath + ".tmp";
    if (!m_bStopEventValid)
        return RV_HTTP_FAILED;
    m_StopEvent.Reset();
    m_uBytesOfResponse = 0;
    m_nBytesInFile = 0;
    m_nTotalSize = 0;
    m_nResponseLength = 0;
    if (m_Buffer.size() < RV_BUFSOCKET_SIZE + 1)
        m_Buffer.resize(RV_BUFSOCKET_SIZE + 1);

    for (;;) {
        uint64_t ullHeld = 0;
        nRet = _SendRequest();
        if (m_nStopFlag)
            return RV_HTTP_STOPPED;
        if (nRet == 2)
            return RV_HTTP_STOPPED;
        if (nRet == 4)
            return RV_HTTP_FTP_REDIRECT;
        if (nRet == 1)
            goto NetworkFailure;
        if (nRet != 0)
            return RV_HTTP_FAILED;

        if (_IsUpToDate()) {
            m_Socket.Close();
            return RV_HTTP_UP_TO_DATE;
        }
        if (Pf_GetFileSize(m_strTempPath, &ullHeld) && ullHeld > (uint64_t)nMostInFile)
            nMostInFile = ullHeld > (uint64_t)INT_MAX ? INT_MAX : (int)ullHeld;
        Pf_SetReadOnly(m_strTempPath, 0);
        // Locked against every other writer until it is moved into place; a
        // response that does not continue the file replaces all of it.
        if (!Pf_FOpenLocked(m_strTempPath, m_bAppend, &pFile, &bBusy)) {
            if (bBusy)
                RvLog_Write(RVLOG_WARNING, "%s is being written by another download", m_strTempPath.c_str());
            m_Socket.Close();
            return RV_HTTP_FAILED;
        }
        setvbuf(pFile, nullptr, _IONBF, 0);
        m_uBytesOfResponse = 0;
        nRet = _ReadBody(pFile);
        if (nRet == BODY_DONE && fflush(pFile) != 0)
            nRet = BODY_WRITE_FAILED;
        if (nRet == BODY_DONE) {
            nRet = _Finish();
            fclose(pFile);
            return nRet;
        }
        fclose(pFile);
        pFile = nullptr;
        m_Socket.Close();
        if (nRet == BODY_STOPPED || m_nStopFlag)
            return RV_HTTP_STOPPED;
        if (nRet == BODY_WRITE_FAILED || nRet == BODY_BAD)
            return RV_HTTP_FAILED;
        // The body was cut off: a response that got the file further than
        // ever is resumed at once; one that did not (nothing new, or a server
        // that starts again from 0 and is cut at the same place) is a network
        // failure.
        if (m_nBytesInFile > nMostInFile) {
            nMostInFile = m_nBytesInFile;
            continue;
        }

    NetworkFailure:
        m_Socket.Close();
        if (m_nRetryMode == 0)
            return RV_HTTP_FAILED;
        if (m_nRetryMode == 1) {
            if (m_nRetryCount > m_nMaxRetries)
                return RV_HTTP_FAILED;
            m_nRetryCount++;
        } else if (m_nRetryMode != 2) {
            return RV_HTTP_FAILED;
        }
        if (m_nRetryWait > 0 && m_StopEvent.Wait((uint32_t)m_nRetryWait))
            return RV_HTTP_STOPPED;
    }
}

// Called with the .tmp still open and locked, so that no other writer takes
// it between the last byte and the move.
int CHttpDownload::_Finish()
{
    Pf_FILETIME ftWrite = Pf_UnixToFileTime(m_llLastModified, 0);
    if (m_pProgressOwner)
        m_pProgressOwner->OnProgress(m_nTotalSize, m_nBytesInFile, 0);
    m_Socket.Close();
    // Replaced in one step, so a failed move keeps both the old file and the .tmp.
    if (!Pf_MoveFile(m_strTempPath, m_strLocalPath, 1))
        return RV_HTTP_FAILED;
    Pf_SetFileTimes(m_strLocalPath, nullptr, &ftWrite);
    return RV_HTTP_COMPLETE;
}

// Writes one read of at most nMax body bytes. BODY_DONE means "go on".
int CHttpDownload::_ReadPiece(FILE* pFile, int nMax)
{
    int nRead = 0;
    if (m_nStopFlag)
        return BODY_STOPPED;
    nRead = m_Socket.Read(m_Buffer.data(), m_nRecvTimeout, nMax);
    if (m_nStopFlag)
        return BODY_STOPPED;
    if (nRead <= 0)
        return BODY_LOST;
    if (fwrite(m_Buffer.data(), 1, (size_t)nRead, pFile) != (size_t)nRead) {
        RvLog_Write(RVLOG_ERROR, "write to %s failed, errno %d", m_strTempPath.c_str(), Pf_GetLastError());
        return BODY_WRITE_FAILED;
    }
    if (m_nBytesInFile > INT_MAX - nRead)
        return BODY_BAD;
    m_nBytesInFile += nRead;
    m_uBytesOfResponse += (unsigned)nRead;
    if (m_pProgressOwner && m_nBytesInFile - m_nLastReport > 65536) {
        m_nLastReport = m_nBytesInFile;
        m_pProgressOwner->OnProgress(m_nTotalSize, m_nBytesInFile, nRead);
    }
    return BODY_DONE;
}

int CHttpDownload::_ReadBody(FILE* pFile)
{
    m_nLastReport = m_nBytesInFile;
    if (m_bChunked)
        return _ReadChunked(pFile);
    if (m_bHaveLength) {
        while (m_uBytesOfResponse < (unsigned)m_nResponseLength) {
            unsigned uLeft = (unsigned)m_nResponseLength - m_uBytesOfResponse;
            int nRet = _ReadPiece(pFile, uLeft > RV_BUFSOCKET_SIZE ? RV_BUFSOCKET_SIZE : (int)uLeft);
            if (nRet != BODY_DONE)
                return nRet;
        }
        return BODY_DONE;
    }
    // Without a length only an orderly close by the server ends the body.
    m_nResponseLength = -1;
    for (;;) {
        int nRet = _ReadPiece(pFile, RV_BUFSOCKET_SIZE);
        if (nRet == BODY_LOST && m_Socket.PeerClosed())
            return BODY_DONE;
        if (nRet != BODY_DONE)
            return nRet;
    }
}

int CHttpDownload::_ReadChunked(FILE* pFile)
{
    char szLine[1024];
    for (;;) {
        std::string strLine;
        int nRet = 0;
        char* pszEnd = nullptr;
        unsigned long ulSize = 0;
        nRet = m_Socket.ReadLine(szLine, m_nRecvTimeout);
        if (m_nStopFlag)
            return BODY_STOPPED;
        if (nRet < 0)
            return BODY_LOST;
        if (nRet == 1)
            return BODY_BAD;
        strLine = _Trim(szLine);
        strLine = strLine.substr(0, strLine.find(';'));
        strLine = _Trim(strLine);
        if (strLine.empty() || strLine.size() > 8 || !isxdigit((unsigned char)strLine[0]))
            return BODY_BAD;
        ulSize = strtoul(strLine.c_str(), &pszEnd, 16);
        if (*pszEnd != '\0' || ulSize > (unsigned long)INT_MAX)
            return BODY_BAD;
        if (ulSize == 0) {
            // Trailer lines up to the empty line.
            for (int i = 0; i < 100; i++) {
                nRet = m_Socket.ReadLine(szLine, m_nRecvTimeout);
                if (nRet < 0)
                    return BODY_LOST;
                if (nRet == 0 && szLine[0] == '\0')
                    return BODY_DONE;
            }
            return BODY_BAD;
        }
        while (ulSize > 0) {
            int nBefore = m_nBytesInFile;
            nRet = _ReadPiece(pFile, ulSize > RV_BUFSOCKET_SIZE ? RV_BUFSOCKET_SIZE : (int)ulSize);
            if (nRet != BODY_DONE)
                return nRet;
            ulSize -= (unsigned long)(m_nBytesInFile - nBefore);
        }
        nRet = m_Socket.ReadLine(szLine, m_nRecvTimeout);
        if (nRet < 0)
            return BODY_LOST;
        if (nRet != 0 || szLine[0] != '\0')
            return BODY_BAD;
    }
}

int CHttpDownload::_ReadHeader(std::string* pstrRetHeader)
{
    char szLine[1024];
    std::string strLine;
    pstrRetHeader->clear();
    for (;;) {
        int nRet = 0;
        if (m_nStopFlag)
            return 2;
        nRet = m_Socket.ReadLine(szLine, m_nRecvTimeout);
        if (m_nStopFlag)
            return 2;
        if (nRet < 0)
            return 1;
        strLine += szLine;
        if (pstrRetHeader->size() + strLine.size() > s_uMaxHeader) {
            RvLog_Write(RVLOG_ERROR, "response header of %s too long", m_strURL.c_str());
            return 3;
        }
        if (nRet == 1)
            continue;
        *pstrRetHeader += strLine + "\r\n";
        if (strLine.empty())
            return 0;
        strLine.clear();
    }
}

int CHttpDownload::_Redirect(const std::string& strLocationIn)
{
    std::string strLocation = strLocationIn;
    m_strReferer = m_strURL;
    if (strLocation.size() >= 6 && _Lower(strLocation.substr(0, 6)) == "ftp://")
        return PARSE_REDIRECT_FTP;
    if (strLocation.size() >= 7 && _Lower(strLocation.substr(0, 7)) == "http://")
        return _SetURL(strLocation) ? PARSE_REDIRECT : PARSE_FAILED;
    for (char& c : strLocation) {
        if (c == '\\')
            c = '/';
    }
    if (!strLocation.empty() && strLocation[0] == '/') {
        // Same server: the whole URL is rebuilt, so that the proxy request
        // line, the Referer and later relative redirects see the new path.
        std::string strURL = "http://" + m_strHost;
        if (m_nPort != 80)
            strURL += ":" + std::to_string(m_nPort);
        return _SetURL(strURL + strLocation) ? PARSE_REDIRECT : PARSE_FAILED;
    }
    {
        int nUp = 0;
        size_t uPos = 0;
        std::string strBase = m_strURL;
        size_t uRoot = strBase.find("://");
        while ((uPos = strLocation.find("../")) != std::string::npos) {
            nUp++;
            strLocation = strLocation.substr(uPos + 3);
        }
        // Never cut into the host: the path's first "/" is the limit.
        uRoot = uRoot == std::string::npos ? 0 : strBase.find('/', uRoot + 3);
        for (int i = 0; i <= nUp; i++) {
            size_t uSlash = strBase.rfind('/');
            if (uSlash == std::string::npos || uSlash <= uRoot) {
                strBase = strBase.substr(0, uRoot);
                break;
            }
            strBase = strBase.substr(0, uSlash);
        }
        return _SetURL(strBase + "/" + strLocation) ? PARSE_REDIRECT : PARSE_FAILED;
    }
}

int CHttpDownload::_ParseResponseHeader(const std::string& strHeader, int* pnRetLength, int* pnRetStatus)
{
    std::string strLower = _Lower(strHeader);
    std::string strStatusLine;
    std::string strValue;
    size_t uLineEnd = strLower.find("\r\n");
    size_t uSpace1 = 0;
    size_t uSpace2 = 0;
    *pnRetLength = 0;
    *pnRetStatus = 0;
    m_llLastModified = (int64_t)time(nullptr);
    m_bHaveLength = 0;
    m_bChunked = 0;
    m_llContentRangeFirst = -1;
    if (uLineEnd == std::string::npos)
        return PARSE_FAILED;
    strStatusLine = _Trim(strHeader.substr(0, uLineEnd));
    uSpace1 = strStatusLine.find(' ');
    if (uSpace1 == std::string::npos)
        return PARSE_FAILED;
    uSpace2 = strStatusLine.find(' ', uSpace1 + 1);
    if (uSpace2 == std::string::npos)
        return PARSE_FAILED;
    if (!_ParseLength(strStatusLine.substr(uSpace1 + 1, uSpace2 - uSpace1 - 1), pnRetStatus))
        return PARSE_FAILED;
    if (*pnRetStatus < 300) {
        if (_HeaderValue(strHeader, strLower, "content-length:", &strValue)) {
            if (!_ParseLength(strValue, pnRetLength)) {
                RvLog_Write(RVLOG_ERROR, "bad Content-Length \"%s\" from %s", strValue.c_str(), m_strURL.c_str());
                return PARSE_FAILED;
            }
            m_bHaveLength = 1;
        }
        // "bytes first-last/total": the first byte; -2 when unreadable.
        if (_HeaderValue(strHeader, strLower, "content-range:", &strValue)) {
            std::string strRange = _Lower(strValue);
            int nFirst = 0;
            m_llContentRangeFirst = -2;
            if (strRange.compare(0, 6, "bytes ") == 0) {
                strRange = _Trim(strRange.substr(6));
                if (_ParseLength(strRange.substr(0, strRange.find('-')), &nFirst) &&
                    strRange.find('-') != std::string::npos)
                    m_llContentRangeFirst = nFirst;
            }
        }
        if (_HeaderValue(strHeader, strLower, "transfer-encoding:", &strValue) &&
            _Lower(strValue).find("chunked") != std::string::npos) {
            m_bChunked = 1;
            m_bHaveLength = 0;
            *pnRetLength = 0;
        }
        // A date in none of the HTTP forms counts as no date.
        if (_HeaderValue(strHeader, strLower, "last-modified:", &strValue) &&
            !ParseHttpDate(_Lower(strValue), m_llLastModified, &m_llLastModified))
            RvLog_Write(RVLOG_INFO, "unreadable Last-Modified \"%s\" from %s", strValue.c_str(), m_strURL.c_str());
        return PARSE_OK;
    }
    if (*pnRetStatus < 400) {
        if (!_HeaderValue(strHeader, strLower, "location:", &strValue) || strValue.empty())
            return PARSE_FAILED;
        return _Redirect(strValue);
    }
    return PARSE_FAILED;
}

int CHttpDownload::_ConnectSocks4(int bAllowName)
{
    CSocksPacket packet(&m_Socket);
    Rv_SocksFields fields;
    int nKind = RV_SOCKS4_CONNECT;
    int nRet = 0;
    fields.nPort = m_nPort;
    fields.strUserId = m_strProxyUser;
    fields.uAddress = CBufSocket::ResolveHost(m_strHost.c_str(), m_nConnectTimeout);
    if (fields.uAddress == PF_INADDR_NONE) {
        if (!bAllowName)
            return 1;
        nKind = RV_SOCKS4A_CONNECT;
        fields.strHost = m_strHost;
    }
    if (m_nStopFlag)
        return 2;
    if (!m_Socket.Connect(m_strProxyHost.c_str(), m_nProxyPort, m_nConnectTimeout))
        return 1;
    if (m_nStopFlag)
        return 2;
    nRet = packet.Send(fields, nKind, m_nSendTimeout);
    if (nRet < 0)
        return 3;
    if (nRet == 0)
        return 1;
    if (m_nStopFlag)
        return 2;
    if (!packet.Receive(nKind, m_nRecvTimeout))
        return 1;
    return packet.IsReplyOK() ? 0 : 3;
}

int CHttpDownload::_ConnectSocks5()
{
    CSocksPacket packet(&m_Socket);
    Rv_SocksFields fields;
    int nRet = 0;
    int nMethod = 0;
    fields.bAuth = m_bProxyAuth;
    if (m_nStopFlag)
        return 2;
    if (!m_Socket.Connect(m_strProxyHost.c_str(), m_nProxyPort, m_nConnectTimeout))
        return 1;
    if (m_nStopFlag)
        return 2;
    if (packet.Send(fields, RV_SOCKS5_METHODS, m_nSendTimeout) != 1)
        return 1;
    if (!packet.Receive(RV_SOCKS5_METHODS, m_nRecvTimeout))
        return 1;
    if (!packet.IsReplyOK())
        return 3;
    nMethod = packet.Reply().nStatus;
    if (nMethod == 1 || nMethod == 3 || (nMethod == 2 && !m_bProxyAuth))
        return 3;
    if (nMethod == 2) {
        if (m_nStopFlag)
            return 2;
        nRet = packet.SendUserPassword(m_strProxyUser.c_str(), m_strProxyPassword.c_str(), m_nSendTimeout);
        if (nRet < 0)
            return 3;
        if (nRet == 0 || !packet.Receive(RV_SOCKS5_USERPASS, m_nRecvTimeout))
            return 1;
        if (!packet.IsReplyOK())
            return 3;
    }
    if (m_nStopFlag)
        return 2;
    fields.nPort = m_nPort;
    fields.uAddress = CBufSocket::ResolveHost(m_strHost.c_str(), m_nConnectTimeout);
    if (fields.uAddress == PF_INADDR_NONE) {
        fields.nAddressType = RV_SOCKS5_ATYP_DOMAIN;
        fields.strHost = m_strHost;
    }
    nRet = packet.Send(fields, RV_SOCKS5_CONNECT, m_nSendTimeout);
    if (nRet < 0)
        return 3;
    if (nRet == 0 || !packet.Receive(RV_SOCKS5_CONNECT, m_nRecvTimeout))
        return 1;
    return packet.IsReplyOK() ? 0 : 3;
}

int CHttpDownload::_ConnectToServer()
{
    if (m_nStopFlag)
        return 2;
    switch (m_nProxyType) {
    case RV_HTTP_PROXY_NONE:
        return m_Socket.Connect(m_strHost.c_str(), m_nPort, m_nConnectTimeout) ? 0 : 1;
    case RV_HTTP_PROXY_HTTP:
        return m_Socket.Connect(m_strProxyHost.c_str(), m_nProxyPort, m_nConnectTimeout) ? 0 : 1;
    case RV_HTTP_PROXY_SOCKS4:
        return _ConnectSocks4(0);
    case RV_HTTP_PROXY_SOCKS4A:
        return _ConnectSocks4(1);
    case RV_HTTP_PROXY_SOCKS5:
        return _ConnectSocks5();
    default:
        return 3;
    }
}

int CHttpDownload::_SendRequest()
{
    int nRedirects = 0;
    int nSendRestarts = 0;
    // Set once a partial answer started at the wrong byte: no Range any more.
    int bFromStart = 0;
    for (;;) {
        std::string strRequest;
        int nRet = 0;
        int bRangeSent = 0;
        int nLength = 0;
        int nStatus = 0;
        m_nBytesInFile = 0;
        m_nResponseLength = 0;
        m_strHeader.clear();
        m_Socket.Close();
        if (!m_Socket.Create())
            return 3;
        if (m_nStopFlag)
            return 2;
        nRet = _ConnectToServer();
        if (nRet != 0)
            return nRet;
        if (m_nStopFlag)
            return 2;

        if (m_nProxyType == RV_HTTP_PROXY_HTTP) {
            strRequest = "GET " + m_strURL + " HTTP/1.1\r\n";
            if (m_bProxyAuth)
                strRequest += "Proxy-Authorization: Basic " + Base64Encode(m_strProxyUser + ":" + m_strProxyPassword) + "\r\n";
        } else {
            strRequest = "GET " + m_strObject + " HTTP/1.1\r\n";
        }
        if (m_bSiteAuth)
            strRequest += "Authorization: Basic " + Base64Encode(m_strSiteUser + ":" + m_strSitePassword) + "\r\n";
        strRequest += "Host: " + m_strHost + "\r\n";
        strRequest += "Accept: */*\r\n";
        strRequest += "Pragma: no-cache\r\n";
        strRequest += "Cache-Control: no-cache\r\n";
        strRequest += "User-Agent: " + m_strUserAgent + "\r\n";
        if (!m_strReferer.empty())
            strRequest += "Referer: " + m_strReferer + "\r\n";
        strRequest += "Connection: close\r\n";
        if (!m_strCookie.empty())
            strRequest += "Cookie: " + m_strCookie + "\r\n";
        if (m_bWriteBody) {
            uint64_t ullSize = 0;
            if (m_strTempPath != "|" && Pf_FileExists(m_strTempPath) && Pf_GetFileSize(m_strTempPath, &ullSize)) {
                m_nBytesInFile = ullSize > (uint64_t)INT_MAX ? 0 : (int)ullSize;
                if (bFromStart)
                    m_nBytesInFile = 0;
                if (m_nBytesInFile != 0) {
                    char szRange[64];
                    snprintf(szRange, sizeof(szRange), "Range: bytes=%d-\r\n", m_nBytesInFile);
                    strRequest += szRange;
                    bRangeSent = 1;
                }
            }
        }
        strRequest += "\r\n";

        nRet = m_Socket.SendAll(strRequest.data(), (int)strRequest.size(), m_nSendTimeout);
        RvLog_Write(RVLOG_INFO, "Send strHeader = %s", strRequest.c_str());
        if (nRet != (int)strRequest.size()) {
            if (m_Socket.GetLastError() == PF_WSAETIMEDOUT && ++nSendRestarts <= s_nMaxSendRestarts)
                continue;
            return 1;
        }

        for (;;) {
            nRet = _ReadHeader(&m_strHeader);
            if (nRet != 0)
                return nRet;
            m_nHeaderLength = (int)m_strHeader.size();
            RvLog_Write(RVLOG_INFO, "Recv strHeader = %s", m_strHeader.c_str());
            nRet = _ParseResponseHeader(m_strHeader, &nLength, &nStatus);
            if (nRet == PARSE_OK && nStatus >= 100 && nStatus < 200)
                continue;
            break;
        }
        if (nRet == PARSE_OK) {
            if (m_bWriteBody) {
                m_nResponseLength = nLength;
                // A part that does not start where the file ends would put
                // its bytes in the wrong place: ask for the whole file.
                if (nStatus == 206 && m_llContentRangeFirst != -1 &&
                    m_llContentRangeFirst != (bRangeSent ? m_nBytesInFile : 0)) {
                    RvLog_Write(RVLOG_WARNING, "partial answer of %s does not start at byte %d, starting again from 0",
                                m_strURL.c_str(), bRangeSent ? m_nBytesInFile : 0);
                    if (!bRangeSent)
                        return 3;
                    bFromStart = 1;
                    continue;
                }
                if (bRangeSent && nStatus == 206) {
                    if (nLength > INT_MAX - m_nBytesInFile)
                        return 3;
                    m_nTotalSize = m_nBytesInFile + nLength;
                    m_bAppend = 1;
                } else {
                    m_nBytesInFile = 0;
                    m_nTotalSize = nLength;
                    m_bAppend = 0;
                }
            }
            return 0;
        }
        if (nRet == PARSE_REDIRECT) {
            if (++nRedirects > RV_HTTP_MAX_REDIRECTS) {
                RvLog_Write(RVLOG_ERROR, "more than %d redirects at %s", RV_HTTP_MAX_REDIRECTS, m_strURL.c_str());
                return 3;
            }
            continue;
        }
        if (nRet == PARSE_REDIRECT_FTP)
            return 4;
        return 3;
    }
}

int CHttpDownload::QueryFileSize(const char* cszURL, const char* cszLocalFolder, int* pnRetRemoteSize,
                                 int* pnRetLocalSize, int* pbRetKnownSize)
{
    std::string strURL = _Trim(cszURL ? cszURL : "");
    std::string strPath;
    uint64_t ullSize = 0;
    int nRet = 0;
    *pnRetRemoteSize = 0;
    *pnRetLocalSize = 0;
    if (pbRetKnownSize)
        *pbRetKnownSize = 0;
    if (strURL.empty() || (!_SetURL(strURL) && !_SetURL("http://" + strURL)))
        return 0;
    // The name the transfer will save under: the asked URL's, not that of
    // an object the server redirects to.
    strPath = _Trim(cszLocalFolder ? cszLocalFolder : "") + GetFileNameFromURL(m_strObject);
    m_strLocalPath = "|";
    m_strTempPath = "|";
    m_bWriteBody = 1;
    m_nStopFlag = 0;
    nRet = _SendRequest();
    m_Socket.Close();
    if (nRet != 0)
        return 0;
    *pnRetRemoteSize = m_nResponseLength > 0 ? m_nResponseLength : 0;
    if (pbRetKnownSize)
        *pbRetKnownSize = m_bHaveLength;
    if (Pf_FileExists(strPath)) {
        if (Pf_GetFileSize(strPath, &ullSize) && ullSize == (uint64_t)(int64_t)*pnRetRemoteSize)
            *pnRetLocalSize = *pnRetRemoteSize;
        else
            Pf_DeleteFile(strPath);
    } else if (Pf_FileExists(strPath + ".tmp") && Pf_GetFileSize(strPath + ".tmp", &ullSize)) {
        *pnRetLocalSize = ullSize > (uint64_t)INT_MAX ? INT_MAX : (int)ullSize;
        if (ullSize == (uint64_t)(int64_t)*pnRetRemoteSize)
            Pf_MoveFile(strPath + ".tmp", strPath, 1);
    }
    return 1;
}
