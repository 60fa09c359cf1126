// A fresh temporary folder per test, removed with everything in it at the end.
#pragma once
#include <string>

class Rv_TestTempDir {
public:
    Rv_TestTempDir();
    ~Rv_TestTempDir();
    Rv_TestTempDir(const Rv_TestTempDir&) = delete;
    Rv_TestTempDir& operator=(const Rv_TestTempDir&) = delete;
    // The folder's path, without a final "/".
    const std::string& Path() const { return m_strPath; }
    // Path() + "/" + strName.
    std::string File(const std::string& strName) const { return m_strPath + "/" + strName; }

private:
    std::string m_strPath;
};

// Writes bytes to a file (creating its folders); reads a whole file ("" when missing).
void Rv_TestWriteFile(const std::string& strPath, const std::string& strData);
std::string Rv_TestReadFile(const std::string& strPath);
// Runs a shell command and returns its standard output; the exit status in *pnRetStatus.
std::string Rv_TestRun(const std::string& strCommand, int* pnRetStatus = nullptr);
