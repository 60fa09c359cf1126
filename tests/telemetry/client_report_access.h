// Reaches into the reporter for the tests of its set-up, slots, clicks and
// reports: its fields, and its thread functions run on the test's thread.
#pragma once
#include "telemetry/client_report.h"

#include <cstdio>
#include <string>

struct NyClientReportTestAccess {
    // The state a successful set-up leaves, without the click sender.
    static void Prepare(NyClientReport& Report, const std::string& strExeFolder, const char* cszFelnUUID,
                        const char* cszClientType, const char* cszMachineUUID)
    {
        Report.m_strExeFolder = strExeFolder;
        snprintf(Report.m_szFelnUUIDEx, sizeof(Report.m_szFelnUUIDEx), "%s", cszFelnUUID);
        snprintf(Report.m_szClientType, sizeof(Report.m_szClientType), "%s", cszClientType);
        snprintf(Report.m_szMachineUUID, sizeof(Report.m_szMachineUUID), "%s", cszMachineUUID);
        Report.m_bInitFlag = 1;
    }
    // Starts the click sender as the set-up does.
    static int StartClickSender(NyClientReport& Report)
    {
        Report.m_nRunFlag = 1;
        return Report.m_ClickThread.Create(NyClientReport::_ReportControlClickThreadFunc, &Report);
    }
    static void SetUUIDChanged(NyClientReport& Report, int bChanged) { Report.m_bUUIDChanged = bChanged; }
    static int UUIDChanged(const NyClientReport& Report) { return Report.m_bUUIDChanged; }
    static int InitFlag(const NyClientReport& Report) { return Report.m_bInitFlag; }
    static std::string FelnUUID(const NyClientReport& Report) { return Report.m_szFelnUUIDEx; }
    static std::string ClientType(const NyClientReport& Report) { return Report.m_szClientType; }
    static std::string MachineUUID(const NyClientReport& Report) { return Report.m_szMachineUUID; }
    static std::string ExeFolder(const NyClientReport& Report) { return Report.m_strExeFolder; }
    static size_t ClickCount(NyClientReport& Report) { return Report.m_uClickCount; }
    static int IsInfoReported(NyClientReport& Report, const char* cszKey, int nNumber)
    {
        return Report._IsInfoReported(cszKey, nNumber);
    }
    static int SetInfoReported(NyClientReport& Report, const char* cszKey, int nNumber)
    {
        return Report._SetInfoReported(cszKey, nNumber);
    }
    static void SetExeFolder(NyClientReport& Report, const std::string& strFolder) { Report.m_strExeFolder = strFolder; }
    static int IsWow64(NyClientReport& Report) { return Report._IsWow64(); }
    // The probes' own answers ("" for a failing probe).
    static std::string Probe(NyClientReport& Report, int (NyClientReport::*pfnProbe)(std::string*))
    {
        std::string strValue;
        if (!(Report.*pfnProbe)(&strValue))
            strValue.clear();
        return strValue;
    }
    static std::string OSInfo(NyClientReport& r) { return Probe(r, &NyClientReport::_GetOSInfo); }
    static std::string OSInfoEx(NyClientReport& r) { return Probe(r, &NyClientReport::_GetOSInfoEx); }
    static std::string CPUInfo(NyClientReport& r) { return Probe(r, &NyClientReport::_GetCPUInfo); }
    static std::string VideoCardInfo(NyClientReport& r) { return Probe(r, &NyClientReport::_GetVideoCardInfo); }
    static std::string MemorySize(NyClientReport& r) { return Probe(r, &NyClientReport::_GetMemorySize); }
    static std::string DirectX(NyClientReport& r) { return Probe(r, &NyClientReport::_GetDirectXVersionInfo); }
    static std::string DirectXEx(NyClientReport& r) { return Probe(r, &NyClientReport::_GetDirectXVersionInfoEx); }
    static std::string HardDisk(NyClientReport& r) { return Probe(r, &NyClientReport::_GetHardDiskInfo); }
    static std::string Metrics(NyClientReport& r) { return Probe(r, &NyClientReport::_GetMetricsInfo); }
    static void RunMachineReport(NyClientReport& Report) { NyClientReport::_ReportMachineInfoThreadFunc(&Report); }
    static void RunDeviceReport(NyClientReport& Report) { NyClientReport::_ReportDeviceInfoThreadFunc(&Report); }
    static void RunChannelReport(NyClientReport& Report) { NyClientReport::_ReportChannelInfoThreadFunc(&Report); }
    static void RunAddonReport(NyClientReport& Report) { NyClientReport::_ReportQV7AddonThreadFunc(&Report); }
};
