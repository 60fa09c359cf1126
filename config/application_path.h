// The application's own path, and the "laptop" to "zhcn" switch.
#pragma once
#include <string>

// When the executable's folder is named "laptop" (any case), the path and the
// current folder move to the sibling folder "zhcn". strPath holds a full
// path with "\" or "/" separators (below 260 characters). Returns 0 when the
// path has no folder part or the switch cannot be made.
int Rv_AdjustApplicationPath(std::string* pstrPath);

// The executable's full path (1 to 259 characters).
int Rv_GetApplicationName(std::string* pstrRetPath);
// The path up to and including its last "\" or "/"; 0 when there is none.
int Rv_CutAfterLastSeparator(const std::string& strPath, std::string* pstrRetFolder);
// Tests: the path Rv_GetApplicationName gives instead of the executable's ("" ends it).
void Rv_SetApplicationNameForTest(const std::string& strPath);
