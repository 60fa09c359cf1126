// The updater's telemetry reporter. One global object, g_ClientReport, lives
// for the whole process. The application writes outcome values into it and
// calls its report operations; each operation starts one thread (one slot
// per report kind) that gathers its fields and sends one request, so the
// caller never waits for the network. Clicks in the user interface are
// queued and sent in order by one long-lived sender thread.
//
// The object is implemented across several files:
//   client_report.cpp            set-up, shut-down, slots, flags, click queue
//   client_report_*.cpp          the report threads and their fields
//   client_report_probes*.cpp    the machine probes the reports send
//   client_report_benchmark.cpp  the benchmark and display auto-configuration
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>
#include "foundation/thread.h"
#include "platform/thread.h"

class NyRefitter;

enum {
    RV_REPORT_SLOT_VERSION_INFO = 0,
    RV_REPORT_SLOT_MACHINE_INFO = 1,
    RV_REPORT_SLOT_UNUSED = 2,
    RV_REPORT_SLOT_BENCHMARK = 3,
    RV_REPORT_SLOT_CHANNEL_INFO = 4,
    RV_REPORT_SLOT_ADDON_INFO = 5,
    RV_REPORT_SLOT_DOWNLOAD_SPEED = 6,
    RV_REPORT_SLOT_MAIN_START_INFO = 7,
    RV_REPORT_SLOT_DX11_INFO = 8,
    RV_REPORT_SLOT_FULL_CLIENT_INFO = 9,
    RV_REPORT_SLOT_DEVICE_INFO = 10,
    RV_REPORT_SLOT_START_UPDATER_INFO = 11,
    RV_REPORT_SLOT_UPDATE_INFO = 12,
    RV_REPORT_SLOT_SYNC_INFO = 13,
    RV_REPORT_SLOT_START_CLIENT_INFO = 14,
    RV_REPORT_SLOT_LAPTOP_CONFIG = 15,
    RV_REPORT_SLOT_COUNT = 16,
};

enum {
    RV_REPORT_TEXT_SIZE = 128,
    RV_REPORT_CLICK_QUEUE_MAX = 1024,   // clicks waiting to be sent; more are refused
};

class NyClientReport {
public:
    NyClientReport();
    ~NyClientReport();
    NyClientReport(const NyClientReport&) = delete;
    NyClientReport& operator=(const NyClientReport&) = delete;

    int Init();
    void UnInit();

    // Need a successful Init.
    int ReportVersionInfo();
    int ReportMachineInfo();
    int Benchmark();
    int ReportQV7ChannelInfo();
    int ReportQV7AddonInfo();
    int ReportDownloadSpeed(int64_t llPeakSpeed, int64_t llAverageSpeed);
    int ReportMainStartInfo(int nStartSuccess, int nIsX64);

    // Run without Init; the caller stores the matching outcome field first.
    int ReportDx11Info();
    int ReportFullClientInfo();
    int ReportDeviceInfo();
    int ReportStartUpdaterInfo();
    int ReportUpdateInfo();
    int ReportSyncInfo();
    int ReportStartClientInfo();
    int ReportLaptopConfig();

    int ReportControlClick(const char* cszControlID, const char* cszLinkURL);
    int SetRefitter(NyRefitter* pRefitter);
    int RecordVersionNumber();

    // Outcome fields, written by the application before it calls the
    // matching report; 0 means success.
    int clientIsX64 = 0;
    int m_nStartType = 0;
    int m_nStartUpdaterError = 0;
    int m_nUpdateError = 0;
    int m_nSyncError = 0;
    std::string m_strBeforeVersion = "0";

private:
    friend struct NyClientReportTestAccess;   // tests reach the threads and probes

    // --- set-up, slots, once-per-machine flags, clicks (client_report.cpp)
    // Waits for the slot's previous thread, stores the values (fnStore, may
    // be empty) and starts the slot's thread.
    int _StartReportThread(int nSlot, Rv_ThreadFunction pfnThreadFunction, const std::function<void()>& fnStore = {});
    void _WaitReportThread(int nSlot);
    int _IsInfoReported(const char* cszKeyName, int nNumber);
    int _SetInfoReported(const char* cszKeyName, int nNumber);
    // _SetInfoReported for a report that was sent with cszSentUUID; one sent
    // without an identifier is not flagged (and that is no failure).
    int _SetSentInfoReported(const char* cszKeyName, int nNumber, const char* cszSentUUID);
    static void _ReportControlClickThreadFunc(void* pvThis);

    // --- the report threads (client_report_*.cpp)
    static void _ReportVersionInfoThreadFunc(void* pvThis);
    static void _ReportMachineInfoThreadFunc(void* pvThis);
    static void _ReportChannelInfoThreadFunc(void* pvThis);
    static void _ReportQV7AddonThreadFunc(void* pvThis);
    static void _ReportDownloadSpeedThreadFunc(void* pvThis);
    static void _ReportMainStartInfoThreadFunc(void* pvThis);
    static void _ReportDx11InfoThreadFunc(void* pvThis);
    static void _ReportFullClientInfoThreadFunc(void* pvThis);
    static void _ReportDeviceInfoThreadFunc(void* pvThis);
    static void _ReportStartUpdaterInfoThreadFunc(void* pvThis);
    static void _ReportUpdateInfoThreadFunc(void* pvThis);
    static void _ReportSyncInfoThreadFunc(void* pvThis);
    static void _ReportStartClientInfoThreadFunc(void* pvThis);
    static void _ReportLaptopConfigThreadFunc(void* pvThis);
    int _ReportControlClickInfo(const char* cszGameName, const char* cszControlClickInfo);
    int _GetQV7AddonInfo(std::vector<std::string>* pvecRetAddonInfo);

    // --- probes (client_report_probes*.cpp); each fills one text
    int _IsWow64();
    int _GetOSInfo(std::string* pstrRetInfo);
    int _GetOSInfoEx(std::string* pstrRetInfo);
    int _GetCPUInfo(std::string* pstrRetInfo);
    int _GetVideoCardInfo(std::string* pstrRetInfo);
    int _GetMemorySize(std::string* pstrRetInfo);
    int _GetDirectXVersionInfo(std::string* pstrRetInfo);
    int _GetDirectXVersionInfoEx(std::string* pstrRetInfo);
    int _GetDxDiagVersionInfo(std::string* pstrRetInfo);
    int _GetDxDiagVersionInfoEx(std::string* pstrRetInfo);
    int _GetDxVersionInfoInRegister(std::string* pstrRetInfo);
    int _GetHardDiskInfo(std::string* pstrRetInfo);
    int _GetMetricsInfo(std::string* pstrRetInfo);
    int _GetEnvironment(std::string* pstrRetCpuUsage, std::string* pstrRetFreeMemory, std::string* pstrRetDx9,
                        std::string* pstrRetDx11);
    int _IsDx9Installed();
    int _IsDx11Installed();
    int _IsDx11Enable();
    int _GetCurrentVersionNumber(std::string* pstrRetVersion);

    // --- benchmark and display auto-configuration (client_report_benchmark.cpp)
    static void _BenchmarkThreadFunc(void* pvThis);
    int _ReportBenchmarkRes();
    int _CheckBenchmarkValidity();
    int _CheckBenchmarkVersion();
    int _GetBenchmarkResult(std::string& rstrBenchmarkResult, int* pbRetCrashed);
    int _GetBenchmarkLogContent(std::string& rstrLogContent);
    static int64_t _GetBenchmarkLogTime(const char* cszFileName);
    int _GetConfigContent(std::string& rstrConfigContent);
    static int _GetFileContent(std::string& rstrFileContent, const std::string& strFilePath);
    int _AutoConfigDisplay();
    int _CheckGameConfigVersion();
    int _RunTool(const std::string& strCommandLine);
    // How long each tool may run (two minutes); tests shorten it.
    uint32_t m_uToolWaitMs = 120000;

    // --- state
    Rv_Thread m_ReportThreads[RV_REPORT_SLOT_COUNT];
    Pf_Mutex m_SlotLocks[RV_REPORT_SLOT_COUNT];     // one caller at a time per slot
    int m_bInitFlag = 0;
    int64_t m_llPeakSpeed = 0;
    int64_t m_llAverageSpeed = 0;
    int m_nStartSuccess = 0;
    int m_nMainStartIsX64 = 0;
    // The outcome fields as each report's call found them; its thread reads
    // only these, so a later call cannot change what an earlier one sends.
    int m_nSentStartUpdaterError = 0;
    int m_nSentUpdateError = 0;
    int m_nSentSyncError = 0;
    int m_nSentClientIsX64 = 0;
    int m_nSentStartType = 0;
    std::string m_strExeFolder;
    char m_szFelnUUIDEx[RV_REPORT_TEXT_SIZE] = {};
    char m_szClientType[RV_REPORT_TEXT_SIZE] = {};
    int m_bUUIDChanged = 0;
    NyRefitter* m_pRefitter = nullptr;
    char m_szMachineUUID[RV_REPORT_TEXT_SIZE] = {};
    int m_bBenchmarkSent = 0;
    Rv_Thread m_ClickThread;
    std::atomic<int> m_nRunFlag{0};
    std::list<std::string> m_ClickQueue;
    size_t m_uClickCount = 0;
    Pf_Mutex m_ClickLock;
};

extern NyClientReport g_ClientReport;
