// The signed report client over the web-client library: fields in name
// order, the HMAC-SHA1 signature of "_url=<path>&<fields>" in Base64 as the
// field "sig", a random boundary, 30-second send and receive time-outs, and
// a reply read no further than its announced length.
#include "telemetry/http_upload.h"

#include "foundation/log.h"
#include "platform/text.h"
#include "platform/web_client.h"
#include "telemetry/base64.h"
#include "telemetry/hmac_sha1.h"
#include "transfer/report_service.h"

#include <cstdio>
#include <cstdlib>

enum {
    RV_HTTP_UPLOAD_TIMEOUT = 30000,
    RV_HTTP_UPLOAD_MAX_SCHEME = 16,
    RV_HTTP_UPLOAD_MAX_HOST = 256,
    RV_HTTP_UPLOAD_MAX_PATH = 256,
    RV_HTTP_UPLOAD_MAX_REPLY = 1 << 20,         // the service answers a few words
    RV_HTTP_UPLOAD_READ_CHUNK = 4096,
};

static const char s_szBoundaryPrefix[] = "---------------------------";

std::string Rv_MakeUploadBoundary()
{
    char szBoundary[64];
    // Two values of the runtime library's generator, each 0 to 32767.
    unsigned uFirst = (unsigned)(rand() & 0x7FFF);
    unsigned uSecond = (unsigned)(rand() & 0x7FFF);
    snprintf(szBoundary, sizeof(szBoundary), "%s%08X%08X", s_szBoundaryPrefix, uFirst, uSecond);
    return szBoundary;
}

int Rv_MakeUploadBody(const std::string& strBoundary, const std::map<std::string, std::string>& fields,
                      std::string* pstrRetBody)
{
    int nResult = 0;
    std::string strBody;

    RVLOG_PROCESS_ERROR(pstrRetBody);
    RVLOG_PROCESS_ERROR(!strBoundary.empty());

    for (const auto& field : fields) {
        strBody += "--" + strBoundary + "\r\n";
        strBody += "Content-Disposition: form-data; name=\"" + field.first + "\"\r\n\r\n";
        strBody += field.second + "\r\n";
    }
    strBody += "\r\n--" + strBoundary + "--\r\n";
    pstrRetBody->swap(strBody);
    nResult = 1;
Exit0:
    return nResult;
}

namespace {

struct UrlParts {
    std::string strScheme;
    std::string strHost;
    int nPort = 0;
    std::string strPath;
};

// "scheme://host[:port][path]" with the bounds of the system's URL buffers;
// only "http" and "https" are spoken.
int _SplitUrl(const std::string& strUrl, UrlParts* pRetParts)
{
    int nResult = 0;
    size_t uSchemeEnd = strUrl.find("://");
    size_t uHostStart = 0;
    size_t uPathStart = 0;
    size_t uColon = std::string::npos;
    std::string strPort;
    UrlParts parts;

    RVLOG_PROCESS_ERROR(uSchemeEnd != std::string::npos);
    parts.strScheme = strUrl.substr(0, uSchemeEnd);
    RVLOG_PROCESS_ERROR(parts.strScheme.size() <= RV_HTTP_UPLOAD_MAX_SCHEME);
    RVLOG_PROCESS_ERROR(parts.strScheme == "http" || parts.strScheme == "https");

    uHostStart = uSchemeEnd + 3;
    uPathStart = strUrl.find('/', uHostStart);
    if (uPathStart == std::string::npos)
        uPathStart = strUrl.size();
    parts.strHost = strUrl.substr(uHostStart, uPathStart - uHostStart);
    parts.nPort = parts.strScheme == "https" ? 443 : 80;
    uColon = parts.strHost.find(':');
    if (uColon != std::string::npos) {
        strPort = parts.strHost.substr(uColon + 1);
        parts.strHost.resize(uColon);
        RVLOG_PROCESS_ERROR(!strPort.empty() && strPort.size() <= 5);
        RVLOG_PROCESS_ERROR(strPort.find_first_not_of("0123456789") == std::string::npos);
        parts.nPort = atoi(strPort.c_str());
        RVLOG_PROCESS_ERROR(parts.nPort >= 1 && parts.nPort <= 65535);
    }
    RVLOG_PROCESS_ERROR(!parts.strHost.empty() && parts.strHost.size() < RV_HTTP_UPLOAD_MAX_HOST);

    parts.strPath = strUrl.substr(uPathStart);
    if (parts.strPath.empty())
        parts.strPath = "/";
    RVLOG_PROCESS_ERROR(parts.strPath.size() < RV_HTTP_UPLOAD_MAX_PATH);
    // The path goes on the request line as it is.
    RVLOG_PROCESS_ERROR(parts.strPath.find_first_of(" \r\n\t#") == std::string::npos);

    *pRetParts = parts;
    nResult = 1;
Exit0:
    return nResult;
}

// The reply body: no more than its Content-Length (when given) and never
// more than RV_HTTP_UPLOAD_MAX_REPLY bytes. 0 when it cannot be read whole.
int _ReadReply(Pf_WebRequest* pRequest, std::string* pstrRetReply)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uExpected = 0;
    int bLengthGiven = 0;
    std::string strReply;
    char szChunk[RV_HTTP_UPLOAD_READ_CHUNK];
    uint32_t uRead = 0;

    bLengthGiven = pRequest->QueryContentLength(&uExpected);
    if (bLengthGiven) {
        RVLOG_PROCESS_ERROR(uExpected <= RV_HTTP_UPLOAD_MAX_REPLY);
        strReply.reserve(uExpected);
    }
    for (;;) {
        nRetCode = pRequest->Read(szChunk, sizeof(szChunk), &uRead);
        RVLOG_PROCESS_ERROR(nRetCode);
        if (uRead == 0)
            break;
        RVLOG_PROCESS_ERROR(strReply.size() + uRead <= RV_HTTP_UPLOAD_MAX_REPLY);
        RVLOG_PROCESS_ERROR(!bLengthGiven || strReply.size() + uRead <= uExpected);
        strReply.append(szChunk, uRead);
        if (uRead < sizeof(szChunk))
            break;
    }
    RVLOG_PROCESS_ERROR(!bLengthGiven || strReply.size() == uExpected);
    pstrRetReply->swap(strReply);
    nResult = 1;
Exit0:
    return nResult;
}

} // namespace

int Rv_HttpUpload::Init(const char* cszPath, const char* cszKey)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strHost;
    int nPort = 0;

    RVLOG_PROCESS_ERROR(cszPath);
    RVLOG_PROCESS_ERROR(cszKey);

    UnInit();
    nRetCode = Rv_GetReportService(&strHost, &nPort);
    RVLOG_PROCESS_ERROR(nRetCode);

    m_strBaseAddress = "http://" + strHost;
    if (nPort != 80)
        m_strBaseAddress += ":" + std::to_string(nPort);
    m_strPath = cszPath;
    m_strKey = cszKey;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpUpload::AddParam(const char* cszName, const char* cszValue)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszName);
    RVLOG_PROCESS_ERROR(cszValue);

    m_mapTextParams[Pf_Utf8ToUtf16(cszName)] = Pf_Utf8ToUtf16(cszValue);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpUpload::UnInit()
{
    m_strBaseAddress.clear();
    m_strPath.clear();
    m_strKey.clear();
    m_mapTextParams.clear();
    m_strReply.clear();
    return 1;
}

int Rv_HttpUpload::_MakeSignatureText(Utf8Fields* pRetFields, std::string* pstrRetText)
{
    int nResult = 0;
    std::string strJoined;
    std::string strName;
    std::string strValue;
    Utf8Fields fields;

    for (const auto& param : m_mapTextParams) {
        strName = Pf_Utf16ToUtf8(param.first);
        strValue = Pf_Utf16ToUtf8(param.second);
        if (!strJoined.empty())
            strJoined += "&";
        strJoined += strName + "=" + strValue;
        fields[strName] = strValue;
    }
    pstrRetText->clear();
    if ((!m_strPath.empty() && !strJoined.empty()) || !m_strKey.empty())
        *pstrRetText = "_url=" + m_strPath + "&" + strJoined;
    pRetFields->swap(fields);
    nResult = 1;
    return nResult;
}

int Rv_HttpUpload::Post()
{
    int nResult = 0;
    int nRetCode = 0;
    Utf8Fields fields;
    std::string strSignText;
    std::string strSignature;
    unsigned char abyDigest[RV_SHA1_DIGEST_SIZE];
    std::string strReply;

    m_strReply.clear();
    RVLOG_PROCESS_ERROR(!m_strBaseAddress.empty());

    nRetCode = _MakeSignatureText(&fields, &strSignText);
    RVLOG_PROCESS_ERROR(nRetCode);
    if (!strSignText.empty()) {
        nRetCode = Rv_HmacSha1(strSignText.data(), strSignText.size(), m_strKey.data(), m_strKey.size(), abyDigest);
        RVLOG_PROCESS_ERROR(nRetCode);
        strSignature = Rv_Base64OfDigest(abyDigest);
    }
    RVLOG_PROCESS_ERROR(!strSignature.empty());
    fields["sig"] = strSignature;

    nRetCode = _Send(m_strBaseAddress + m_strPath, fields, &strReply);
    RVLOG_PROCESS_ERROR(nRetCode == 200);
    m_strReply.swap(strReply);

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpUpload::_Send(const std::string& strUrl, const Utf8Fields& fields, std::string* pstrRetReply)
{
    int nResult = 0;
    int nRetCode = 0;
    UrlParts parts;
    Pf_WebSession session;
    Pf_WebRequest request;
    std::string strBoundary;
    std::string strHeaders;
    std::string strBody;
    std::string strReply;
    uint32_t uStatus = 0;

    nRetCode = _SplitUrl(strUrl, &parts);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = session.Open("", PF_WEB_ACCESS_DIRECT);
    RVLOG_PROCESS_ERROR(nRetCode);

    strBoundary = Rv_MakeUploadBoundary();
    strHeaders = "Content-Type: multipart/form-data; boundary=" + strBoundary + "\r\n";

    nRetCode = Rv_MakeUploadBody(strBoundary, fields, &strBody);
    RVLOG_PROCESS_ERROR(nRetCode);

    session.SetSendTimeout(RV_HTTP_UPLOAD_TIMEOUT);
    session.SetReceiveTimeout(RV_HTTP_UPLOAD_TIMEOUT);

    nRetCode = request.SendRequest(session, "POST",
                                   parts.strScheme + "://" + parts.strHost + ":" + std::to_string(parts.nPort) +
                                       parts.strPath,
                                   "HTTP/1.1", strHeaders, strBody);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = request.QueryStatusCode(&uStatus);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(uStatus > 0 && uStatus < 1000);     // three digits, as the status text holds
    if (uStatus == 200) {
        // A reply that cannot be read leaves the result as it is.
        if (_ReadReply(&request, &strReply))
            pstrRetReply->swap(strReply);
    }
    nResult = (int)uStatus;
Exit0:
    request.Close();
    return nResult;
}
