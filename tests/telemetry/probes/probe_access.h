// Reaches the reporter's probes and its benchmark steps for the tests of
// this folder, and a simulated machine to run them on: facts, a /proc, /sys
// and /etc tree, a private registry and a log in the test's folder.
#pragma once
#include "platform/file.h"
#include "telemetry/client_report.h"
#include "tests/foundation/log_capture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

typedef int (NyClientReport::*Rv_TestProbe)(std::string* pstrRetInfo);

struct NyClientReportTestAccess {
    static Rv_TestProbe OSInfo() { return &NyClientReport::_GetOSInfo; }
    static Rv_TestProbe OSInfoEx() { return &NyClientReport::_GetOSInfoEx; }
    static Rv_TestProbe CPUInfo() { return &NyClientReport::_GetCPUInfo; }
    static Rv_TestProbe VideoCardInfo() { return &NyClientReport::_GetVideoCardInfo; }
    static Rv_TestProbe MemorySize() { return &NyClientReport::_GetMemorySize; }
    static Rv_TestProbe DirectXVersionInfo() { return &NyClientReport::_GetDirectXVersionInfo; }
    static Rv_TestProbe DirectXVersionInfoEx() { return &NyClientReport::_GetDirectXVersionInfoEx; }
    static Rv_TestProbe DxDiagVersionInfo() { return &NyClientReport::_GetDxDiagVersionInfo; }
    static Rv_TestProbe DxDiagVersionInfoEx() { return &NyClientReport::_GetDxDiagVersionInfoEx; }
    static Rv_TestProbe DxVersionInfoInRegister() { return &NyClientReport::_GetDxVersionInfoInRegister; }
    static Rv_TestProbe HardDiskInfo() { return &NyClientReport::_GetHardDiskInfo; }
    static Rv_TestProbe MetricsInfo() { return &NyClientReport::_GetMetricsInfo; }
    static Rv_TestProbe CurrentVersionNumber() { return &NyClientReport::_GetCurrentVersionNumber; }

    static int IsWow64(NyClientReport& Report) { return Report._IsWow64(); }
    static int IsDx9Installed(NyClientReport& Report) { return Report._IsDx9Installed(); }
    static int IsDx11Installed(NyClientReport& Report) { return Report._IsDx11Installed(); }
    static int IsDx11Enable(NyClientReport& Report) { return Report._IsDx11Enable(); }
    // The state a successful set-up leaves, without the click sender.
    static void Prepare(NyClientReport& Report, const std::string& strExeFolder, const char* cszFelnUUID,
                        const char* cszClientType)
    {
        Report.m_strExeFolder = strExeFolder;
        snprintf(Report.m_szFelnUUIDEx, sizeof(Report.m_szFelnUUIDEx), "%s", cszFelnUUID);
        snprintf(Report.m_szClientType, sizeof(Report.m_szClientType), "%s", cszClientType);
        Report.m_bInitFlag = 1;
    }
    static void SetToolWait(NyClientReport& Report, uint32_t uMs) { Report.m_uToolWaitMs = uMs; }
    static void SetUUIDChanged(NyClientReport& Report, int bChanged) { Report.m_bUUIDChanged = bChanged; }
    static int BenchmarkSent(const NyClientReport& Report) { return Report.m_bBenchmarkSent; }
    static void RunBenchmark(NyClientReport& Report) { NyClientReport::_BenchmarkThreadFunc(&Report); }
    static int ReportBenchmarkRes(NyClientReport& Report) { return Report._ReportBenchmarkRes(); }
    static int AutoConfigDisplay(NyClientReport& Report) { return Report._AutoConfigDisplay(); }
    static int64_t LogTime(const char* cszName) { return NyClientReport::_GetBenchmarkLogTime(cszName); }
    static int LogContent(NyClientReport& Report, std::string& rstrContent)
    {
        return Report._GetBenchmarkLogContent(rstrContent);
    }
    static int FileContent(std::string& rstrContent, const std::string& strPath)
    {
        return NyClientReport::_GetFileContent(rstrContent, strPath);
    }
    static int GetEnvironment(NyClientReport& Report, std::string* pstrCpu, std::string* pstrFree,
                              std::string* pstrDx9, std::string* pstrDx11)
    {
        return Report._GetEnvironment(pstrCpu, pstrFree, pstrDx9, pstrDx11);
    }
};

// A simulated machine in the test's folder.
class ProbeMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("RV_SIM_ROOT", m_Dir.File("sim").c_str(), 1);
        setenv("RV_REGISTRY_DIR", m_Dir.File("registry").c_str(), 1);
        Pf_CreateDirChain(m_Dir.File("sim/machine"));
        Pf_CreateDirChain(m_Dir.File("registry"));
    }
    void TearDown() override
    {
        unsetenv("RV_SIM_ROOT");
        unsetenv("RV_REGISTRY_DIR");
    }
    // A fact of the simulated machine.
    void Fact(const std::string& strName, const std::string& strValue)
    {
        Rv_TestWriteFile(m_Dir.File("sim/" + strName), strValue);
    }
    // A file of the machine's tree ("/proc/meminfo").
    void MachineFile(const std::string& strPath, const std::string& strText)
    {
        Rv_TestWriteFile(m_Dir.File("sim/machine" + strPath), strText);
    }
    std::string MachinePath(const std::string& strPath) const { return m_Dir.File("sim/machine" + strPath); }
    // Runs a probe on an empty text; the text, or "<failed>".
    std::string Probe(Rv_TestProbe pfnProbe)
    {
        std::string strText;
        if (!(m_Report.*pfnProbe)(&strText))
            return "<failed>";
        return strText;
    }

    Rv_TestTempDir m_Dir;
    Rv_TestLogCapture m_Log{m_Dir};
    NyClientReport m_Report;
};
