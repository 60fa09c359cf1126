// Sends the process-wide log into a test's temporary folder and reads back
// what was written.
#pragma once
#include "foundation/log.h"
#include "tests/support/temp_dir.h"

#include <cstdio>
#include <string>

class Rv_TestLogCapture {
public:
    explicit Rv_TestLogCapture(const Rv_TestTempDir& dir) : m_strRoot(dir.File("logs"))
    {
        Rv_LogParam param{};
        snprintf(param.szPath, sizeof(param.szPath), "%s", m_strRoot.c_str());
        snprintf(param.szIdent, sizeof(param.szIdent), "%s", "test");
        param.nOptions = RVLOG_OPTION_FILE;
        RvLog_Init(&param);
    }
    ~Rv_TestLogCapture() { RvLog_UnInit(); }
    Rv_TestLogCapture(const Rv_TestLogCapture&) = delete;
    Rv_TestLogCapture& operator=(const Rv_TestLogCapture&) = delete;

    // Every line written so far, in file order.
    std::string Text() const
    {
        return Rv_TestRun("find '" + m_strRoot + "' -name '*.log' -type f | sort | xargs -r cat");
    }

private:
    std::string m_strRoot;
};
