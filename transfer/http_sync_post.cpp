// Form POST to the reporting service over the web-client library: fixed
// boundary, fields sent unescaped, the body ending with the last value's line
// end (the service expects exactly this), HTTP/1.0, answer 200 or failure.
#include "transfer/http_sync_post.h"

#include "foundation/log.h"
#include "platform/web_client.h"
#include "transfer/http_common.h"
#include "transfer/report_service.h"

#include <cstdio>
#include <vector>

const char RV_HTTP_SYNC_POST_BOUNDARY[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

enum {
    RV_HTTP_SYNC_POST_SEND_TIMEOUT = 20000,
    RV_HTTP_SYNC_POST_FIELD_RESERVE = 256,      // room for the part's lines besides name and value
};

int Rv_HttpSyncPost::Init(const char* cszObject)
{
    int nResult = 0;
    int nRetCode = 0;
    std::string strHost;
    int nPort = 0;

    RVLOG_PROCESS_ERROR(cszObject);
    RVLOG_PROCESS_ERROR(cszObject[0]);

    nRetCode = Rv_GetReportService(&strHost, &nPort);
    RVLOG_PROCESS_ERROR(nRetCode);

    m_strHostName = strHost;
    m_nPort = nPort;
    m_strObject = cszObject;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpSyncPost::AddParam(const char* cszName, const char* cszValue)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(cszName);
    RVLOG_PROCESS_ERROR(cszName[0]);
    RVLOG_PROCESS_ERROR(cszValue);

    m_vecParams.emplace_back(cszName, cszValue);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpSyncPost::_MakeBody(std::string* pstrRetBody)
{
    int nResult = 0;
    int nRetCode = 0;
    size_t uBufferSize = 1;         // the formatting's terminating NUL
    std::vector<char> vecBuffer;
    char* pchBuffer = nullptr;
    char* pchWritePos = nullptr;
    char* pchTailPos = nullptr;

    for (const auto& param : m_vecParams)
        uBufferSize += param.second.size() + param.first.size() + RV_HTTP_SYNC_POST_FIELD_RESERVE;
    vecBuffer.resize(uBufferSize);
    pchBuffer = vecBuffer.data();
    RVLOG_PROCESS_ERROR(pchBuffer);
    pchWritePos = pchBuffer;
    pchTailPos = pchBuffer + uBufferSize;

    for (const auto& param : m_vecParams) {
        nRetCode = snprintf(pchWritePos, (size_t)(pchTailPos - pchWritePos),
                            "--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n",
                            RV_HTTP_SYNC_POST_BOUNDARY, param.first.c_str(), param.second.c_str());
        RVLOG_PROCESS_ERROR(nRetCode > 0);
        RVLOG_PROCESS_ERROR(nRetCode < pchTailPos - pchWritePos);
        pchWritePos += nRetCode;
    }
    pstrRetBody->assign(pchBuffer, (size_t)(pchWritePos - pchBuffer));
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_HttpSyncPost::Post()
{
    int nResult = 0;
    int nRetCode = 0;
    int hSession = 0;
    int hConnection = 0;
    Pf_WebSession session;
    Pf_WebRequest request;
    std::string strUrl;
    std::string strBody;
    char szHeader[1024];
    uint32_t dwStatusCode = 0;

    hSession = session.Open(RV_HTTP_AGENT, PF_WEB_ACCESS_PRECONFIG);
    RVLOG_PROCESS_ERROR(hSession);
    session.SetSendTimeout(RV_HTTP_SYNC_POST_SEND_TIMEOUT);

    hConnection = !m_strHostName.empty();
    RVLOG_PROCESS_ERROR(hConnection);
    // The path goes on the request line as given; it must be one.
    RVLOG_PROCESS_ERROR(!m_strObject.empty() && m_strObject[0] == '/');
    strUrl = "http://" + m_strHostName;
    if (m_nPort != 80)
        strUrl += ":" + std::to_string(m_nPort);
    strUrl += m_strObject;

    nRetCode = _MakeBody(&strBody);
    RVLOG_PROCESS_ERROR(nRetCode && "pchBuffer");
    RVLOG_PROCESS_ERROR(strBody.size() <= 0xFFFFFFFFu);

    nRetCode = snprintf(szHeader, sizeof(szHeader),
                        "Content-Type: multipart/form-data; boundary=%s\r\nContent-Length: %u\r\n",
                        RV_HTTP_SYNC_POST_BOUNDARY, (unsigned)strBody.size());
    RVLOG_PROCESS_ERROR(nRetCode > 0);
    RVLOG_PROCESS_ERROR(nRetCode < (int)sizeof(szHeader));

    nRetCode = request.SendRequest(session, "POST", strUrl, "HTTP/1.0", szHeader, strBody);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = request.QueryStatusCode(&dwStatusCode);
    RVLOG_PROCESS_ERROR(nRetCode);
    if (dwStatusCode != 200) {
        RvLog_Write(RVLOG_ERROR, "Http Query Info Failed, StatusCode:%lu", (unsigned long)dwStatusCode);
        RVLOG_PROCESS_ERROR(false);
    }

    nResult = 1;
Exit0:
    if (!nResult) {
        RvLog_Write(RVLOG_ERROR, "Failed to post info to %s%s, GetLastError()=%d.", m_strHostName.c_str(),
                    m_strObject.c_str(), Pf_WebGetLastError());
    }
    request.Close();
    return nResult;
}
