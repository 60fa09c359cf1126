// The signed report client: one report sent as a multipart/form-data POST to
// a path on the reporting service. The fields are kept in name order and
// signed with HMAC-SHA1 under the report's access key; the signature goes
// along as the field "sig", so the service can check that the fields came
// from a holder of the key. One object per report, used on one thread.
#pragma once
#include <map>
#include <string>

class Rv_HttpUpload {
public:
    // Sets the service's address, the path ("/report/...") and the access key,
    // and clears the fields and the reply. 0 when either is null or the
    // service's address cannot be had.
    int Init(const char* cszPath, const char* cszKey);
    // Adds a field, or replaces the value of a field of the same name.
    int AddParam(const char* cszName, const char* cszValue);
    // Signs and sends the fields; 1 only when the service answered 200.
    int Post();
    // Forgets address, path, key, fields and reply; returns 1.
    int UnInit();
    // The reply of the last post answered 200 whose body could be read whole
    // ("" otherwise).
    const std::string& GetReply() const { return m_strReply; }

private:
    // The fields as sent, keyed by UTF-8 name, with the field "sig" added.
    typedef std::map<std::string, std::string> Utf8Fields;
    // "_url=" + path + "&" + the fields joined with "&" in name order.
    int _MakeSignatureText(Utf8Fields* pRetFields, std::string* pstrRetText);
    // Sends the fields to strUrl; the status code, 0 when any step failed.
    int _Send(const std::string& strUrl, const Utf8Fields& fields, std::string* pstrRetReply);

    std::string m_strBaseAddress;               // "http://host[:port]", no path
    std::string m_strPath;
    std::string m_strKey;
    std::map<std::u16string, std::u16string> m_mapTextParams;   // ordered by UTF-16 code units
    std::string m_strReply;
};

// The boundary of a multipart body: 27 hyphens and two random values as
// "%08X%08X" (43 characters).
std::string Rv_MakeUploadBoundary();
// The body for the fields in order: one part per field, an empty line and the
// closing boundary line. Fails for an empty boundary.
int Rv_MakeUploadBody(const std::string& strBoundary, const std::map<std::string, std::string>& fields,
                      std::string* pstrRetBody);
