// Where a path really leads: links, "." and ".." resolved, for checks that a
// path stays inside a folder.
#pragma once
#include <string>

// The absolute path (relative ones against the current folder) with links,
// "." and ".." resolved as far as the path exists; a missing rest is added
// by name. Fails for a refused path and for a ".." in the missing rest.
int Pf_ResolvePath(const std::string& strPath, std::string* pstrRetPath);
// Whether the path is inside the folder (not the folder itself), both resolved.
int Pf_IsPathInside(const std::string& strPath, const std::string& strFolder);
// The path names a link (not followed).
int Pf_IsLink(const std::string& strPath);
