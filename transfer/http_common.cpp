// The shared agent and headers of the HTTP transfer paths, and opening a URL
// with retries.
#include "transfer/http_common.h"

#include <cstring>

#include "platform/clock.h"

const char RV_HTTP_AGENT[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
const char RV_HTTP_ACCEPT_HEADER[] = "Accept: */*\r\n\r\n";

int RVU_OpenUrlWithRetry(const Pf_WebSession& session, const std::string& strUrl, const std::string& strHeaders,
                         Pf_WebRequest* pRequest, int* pnRetRetryCount)
{
    int nRetryCount = 0;
    while (!pRequest->OpenUrl(session, strUrl, strHeaders)) {
        ++nRetryCount;
        if (session.ShouldAbort())
            nRetryCount = RV_HTTP_CONNECT_RETRY_MAX_COUNT + 1;     // no further attempt
        if (nRetryCount > RV_HTTP_CONNECT_RETRY_MAX_COUNT)
            break;
        Pf_Sleep(100);
    }
    *pnRetRetryCount = nRetryCount;
    return nRetryCount <= RV_HTTP_CONNECT_RETRY_MAX_COUNT;
}

std::string Rv_PercentEncode(const std::string& strText, const char* cszKeep)
{
    static const char s_cszHex[] = "0123456789ABCDEF";
    std::string strResult;
    for (unsigned char c : strText) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || (c != '\0' && strchr(cszKeep, c))) {
            strResult += (char)c;
        } else {
            strResult += '%';
            strResult += s_cszHex[c >> 4];
            strResult += s_cszHex[c & 0x0F];
        }
    }
    return strResult;
}
