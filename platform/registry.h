// The registry store: keys holding named string values, kept in files.
//
// A key is a folder under the store's root, one folder per name of its
// path; its values are one file in that folder. Key and value names are
// found without regard to case. Every change is written to a temporary file,
// synced and renamed over under an exclusive lock of the key, so readers see
// the whole old or the whole new set of values, and writers from several
// threads or processes lose nothing.
//
// The root is $RV_REGISTRY_DIR, by default
// ${XDG_DATA_HOME:-~/.local/share}/refitter/registry.
//
// Results are the system's error numbers (ERROR_SUCCESS on success).
#pragma once
#include <cstddef>
#include <string>

#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_DATA 13L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#endif

enum Pf_RegRoot {
    PF_HKEY_LOCAL_MACHINE,
    PF_HKEY_CURRENT_USER,
    PF_HKEY_CLASSES_ROOT,
};

// The store's root folder.
std::string Pf_RegistryRoot();
// Deletes a key with its values; a key that still holds keys is refused
// (ERROR_ACCESS_DENIED), a missing one gives ERROR_FILE_NOT_FOUND.
long Pf_RegDeleteKey(Pf_RegRoot eRoot, const std::string& strSubKey);

class Pf_RegKey {
public:
    Pf_RegKey() = default;
    ~Pf_RegKey() { Close(); }
    Pf_RegKey(const Pf_RegKey&) = delete;
    Pf_RegKey& operator=(const Pf_RegKey&) = delete;

    // Opens an existing key ("SOFTWARE\Maker\Product"): ERROR_FILE_NOT_FOUND
    // when it is missing. An empty name or an empty step ("a\\b") is refused.
    long Open(Pf_RegRoot eRoot, const std::string& strSubKey);
    // Opens the key, creating it and every missing key above it.
    long Create(Pf_RegRoot eRoot, const std::string& strSubKey);
    void Close();
    int IsOpen() const { return !m_strFolder.empty(); }

    // Reads a string value into the buffer, always terminated. A value that
    // does not fit with its terminator gives ERROR_MORE_DATA (and an empty
    // buffer); *puRetLength (optional) then holds the size it needs.
    long QueryString(const std::string& strName, char* pszRetBuffer, size_t uBufferSize, size_t* puRetLength = nullptr);
    // Adds or replaces a string value. A value holding a NUL is refused.
    long SetString(const std::string& strName, const std::string& strValue);

private:
    friend long Pf_RegDeleteKey(Pf_RegRoot eRoot, const std::string& strSubKey);
    long _Locate(Pf_RegRoot eRoot, const std::string& strSubKey, int bCreate);

    std::string m_strFolder;
};
