// The reporter's set-up, slots and click queue. For now every operation
// only answers; the report threads come with the reporting service.
#include "telemetry/client_report.h"

NyClientReport g_ClientReport;

NyClientReport::NyClientReport() = default;
NyClientReport::~NyClientReport() = default;

int NyClientReport::Init() { return 1; }
void NyClientReport::UnInit() {}
int NyClientReport::ReportVersionInfo() { return 1; }
int NyClientReport::ReportMachineInfo() { return 1; }
int NyClientReport::Benchmark() { return 1; }
int NyClientReport::ReportQV7ChannelInfo() { return 1; }
int NyClientReport::ReportQV7AddonInfo() { return 1; }
int NyClientReport::ReportDownloadSpeed(int64_t, int64_t) { return 1; }
int NyClientReport::ReportMainStartInfo(int, int) { return 1; }
int NyClientReport::ReportDx11Info() { return 1; }
int NyClientReport::ReportFullClientInfo() { return 1; }
int NyClientReport::ReportDeviceInfo() { return 1; }
int NyClientReport::ReportStartUpdaterInfo() { return 1; }
int NyClientReport::ReportUpdateInfo() { return 1; }
int NyClientReport::ReportSyncInfo() { return 1; }
int NyClientReport::ReportStartClientInfo() { return 1; }
int NyClientReport::ReportLaptopConfig() { return 1; }
int NyClientReport::ReportControlClick(const char*, const char*) { return 1; }
int NyClientReport::SetRefitter(NyRefitter* pRefitter)
{
    m_pRefitter = pRefitter;
    return pRefitter != nullptr;
}
int NyClientReport::RecordVersionNumber() { return 1; }
int NyClientReport::_StartReportThread(int, Rv_ThreadFunction) { return 1; }
void NyClientReport::_WaitReportThread(int) {}
int NyClientReport::_IsInfoReported(const char*, int) { return 0; }
int NyClientReport::_SetInfoReported(const char*, int) { return 1; }
