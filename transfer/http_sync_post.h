// Form POST to the reporting service: named text fields sent as one
// multipart/form-data request to a path on the service's host; success is a
// 200 answer. One object per report, used on one thread.
#pragma once
#include <string>
#include <utility>
#include <vector>

extern const char RV_HTTP_SYNC_POST_BOUNDARY[];     // "--MULTI-PARTS-FORM-DATA-BOUNDARY"

class Rv_HttpSyncPost {
public:
    // Sets the host to the reporting service's and the path to cszObject.
    int Init(const char* cszObject);
    // Appends one field; repeated names are sent as they are, an empty value is allowed.
    int AddParam(const char* cszName, const char* cszValue);
    // Sends every field; 1 when the server answered 200. Nothing is cleared,
    // so it can be called again.
    int Post();

private:
    // The request body: one part per field, no closing delimiter line.
    int _MakeBody(std::string* pstrRetBody);

    std::string m_strHostName;
    int m_nPort = 0;
    std::string m_strObject;
    std::vector<std::pair<std::string, std::string>> m_vecParams;
};
