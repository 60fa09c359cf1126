// The two stores of the machine identifier, shared with the security product
// on the same machine: a registry key under HKEY_CLASSES_ROOT and the ini
// file "hg.dat" (section "id") under the common application data folder.
// Both hold the text values "idex" (the identifier) and "idno" (a reset
// request, "0" normally).
#pragma once
#include <string>

#include "platform/registry.h"

extern const char RV_ID_REGISTRY_KEY[];     // "CLSID\{...}\Implemented Categories\{...}"

// The registry store's key.
class NyRegKey {
public:
    NyRegKey() = default;
    virtual ~NyRegKey();
    NyRegKey(const NyRegKey&) = delete;
    NyRegKey& operator=(const NyRegKey&) = delete;

    // Creates or opens the store's key; the system's result code.
    long Create();
    // Reads a value of at most 259 characters; the system's result code
    // (ERROR_MORE_DATA for a longer one).
    long QueryValue(const char* cszName, std::u16string* pwstrRetValue);
    long SetValue(const char* cszName, const std::u16string& wstrValue);
    void Close();

private:
    Pf_RegKey m_Key;                        // closed when not open
    std::u16string m_wstrKeyPath;
};

// The path of "hg.dat"; "" when the common application data folder cannot be had.
std::string GetIdFilePath();

// Writes the value to both stores; a store that cannot be written is skipped.
void WriteIdValue(const char* cszName, const std::u16string& wstrValue);
// Reads the value from the stores, the registry's first. A value only one
// store holds is copied to both; one that neither holds is made by
// CreateIdValue from *pwstrValue.
int ReadIdValue(const char* cszName, std::u16string* pwstrValue);
// "idex": a new identifier; any other name: the value given. Then written to
// both stores.
int CreateIdValue(const char* cszName, std::u16string* pwstrValue);
// Reads "idno" (creating it as "0"); a negative number is a reset request:
// "idno" goes back to "0" and the answer is 1.
int CheckIdReset();
// Deletes the registry store's key with its values; the system's result code.
long DeleteIdRegistryKey();
