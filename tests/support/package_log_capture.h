// Collects the package log's lines (as UTF-8) for the life of the object, so
// that a test can check which failure was reported. Header-only: use it from
// test binaries that link the package library.
#pragma once
#include "package/log_stream.h"
#include "platform/text.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class Rv_TestPackageLog : public IRv_LogStream {
public:
    Rv_TestPackageLog() { m_hStream = Rv_AddLogStream(this); }
    ~Rv_TestPackageLog() override
    {
        if (m_hStream)
            Rv_RemoveLogStream(m_hStream);
    }
    HRESULT QueryInterface(const Rv_GUID&, void**) override { return E_FAIL; }
    uint32_t AddRef() override { return ++m_uRefCount; }
    uint32_t Release() override { return --m_uRefCount; }   // owned by the test
    HRESULT Write(const char16_t* cpszLine) override
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        m_vecLines.push_back(Pf_Utf16ToUtf8(cpszLine));
        return S_OK;
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        return m_vecLines;
    }
    // True when some line contains the text.
    bool Has(const std::string& strText)
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        for (const std::string& strLine : m_vecLines)
            if (strLine.find(strText) != std::string::npos)
                return true;
        return false;
    }
    std::string All()
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        std::string strAll;
        for (const std::string& strLine : m_vecLines)
            strAll += strLine + "\n";
        return strAll;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        m_vecLines.clear();
    }
    uint32_t RefCount() const { return m_uRefCount.load(); }

private:
    RV_LOG_STREAM_HANDLE m_hStream = nullptr;
    std::atomic<uint32_t> m_uRefCount{1};
    std::mutex m_Lock;
    std::vector<std::string> m_vecLines;
};
