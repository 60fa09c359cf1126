// What the HTTP transfer paths share: the browser agent they present, the
// extra request headers, opening a URL with the bounded retries, and the
// percent-encoding of texts put into addresses.
#pragma once
#include "platform/web_client.h"

#include <string>

extern const char RV_HTTP_AGENT[];          // "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)"
extern const char RV_HTTP_ACCEPT_HEADER[];  // "Accept: */*\r\n\r\n"

enum { RV_HTTP_CONNECT_RETRY_MAX_COUNT = 5 };

// Opens strUrl on the session with the given extra headers; a failure is
// retried after 100 ms, RV_HTTP_CONNECT_RETRY_MAX_COUNT times. Returns 1 when
// one attempt opened it; *pnRetRetryCount is the number of retries made
// (RV_HTTP_CONNECT_RETRY_MAX_COUNT + 1 when every attempt failed). The
// session's abort check ends the retries early, counted as every attempt failed.
int RVU_OpenUrlWithRetry(const Pf_WebSession& session, const std::string& strUrl, const std::string& strHeaders,
                         Pf_WebRequest* pRequest, int* pnRetRetryCount);

// strText with every byte other than letters, digits, "-._~" and the
// characters of cszKeep written as %XX (upper-case hexadecimal).
std::string Rv_PercentEncode(const std::string& strText, const char* cszKeep);
