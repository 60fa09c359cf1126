// The fields of a signed report as the service receives them, with the
// signature checked against the report's key.
#pragma once
#include "telemetry/base64.h"
#include "telemetry/hmac_sha1.h"
#include "tests/support/http_server.h"

#include <map>
#include <string>

typedef std::map<std::string, std::string> Rv_TestSignedFields;

// The fields of the body without "sig"; "<bad body>" or "<bad sig>" mark a
// body that is not whole parts or a signature that the key does not give.
inline Rv_TestSignedFields Rv_TestSignedReport(const Rv_TestHttpRequest& request, const std::string& strKey)
{
    Rv_TestSignedFields fields;
    std::string strType = request.Header("Content-Type");
    std::string strBoundary = strType.substr(strType.find("boundary=") + 9);
    std::string strDelimiter = "--" + strBoundary + "\r\n";
    std::string strClose = "\r\n--" + strBoundary + "--\r\n";
    const std::string& strBody = request.strBody;
    size_t uPos = 0;
    std::string strSig;
    std::string strJoined;
    if (strBody.size() < strClose.size() || strBody.compare(strBody.size() - strClose.size(), strClose.size(), strClose) != 0)
        return {{"<bad body>", strBody}};
    while (uPos < strBody.size() - strClose.size()) {
        const std::string strHead = strDelimiter + "Content-Disposition: form-data; name=\"";
        if (strBody.compare(uPos, strHead.size(), strHead) != 0)
            return {{"<bad body>", strBody.substr(uPos)}};
        size_t uNameEnd = strBody.find("\"\r\n\r\n", uPos + strHead.size());
        size_t uValueEnd = strBody.find("\r\n" + strDelimiter, uNameEnd);
        if (uValueEnd == std::string::npos)
            uValueEnd = strBody.size() - strClose.size() - 2;
        std::string strName = strBody.substr(uPos + strHead.size(), uNameEnd - uPos - strHead.size());
        std::string strValue = strBody.substr(uNameEnd + 5, uValueEnd - uNameEnd - 5);
        if (strName == "sig") {
            strSig = strValue;
        } else {
            fields[strName] = strValue;
            strJoined += (strJoined.empty() ? "" : "&") + strName + "=" + strValue;
        }
        uPos = uValueEnd + 2;
    }
    std::string strText = "_url=" + request.strPath + "&" + strJoined;
    unsigned char abyDigest[RV_SHA1_DIGEST_SIZE];
    Rv_HmacSha1(strText.data(), strText.size(), strKey.data(), strKey.size(), abyDigest);
    if (strSig != Rv_Base64OfDigest(abyDigest))
        fields["<bad sig>"] = strSig;
    return fields;
}
