// The application object of the updater's window copy: it owns the movie's
// host window and the configuration, shows statuses, errors, versions and
// progress in the movie, answers the movie's named calls (start the game,
// open the configuration tool, close, report a click, change the skin) and
// runs the update on its worker thread. The version line is redrawn by a
// refresher thread every 500 ms.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/file_sync.h"
#include "app/patch_downloader.h"
#include "app/progress_text.h"
#include "app/updater_codes.h"
#include "app/ui/flash_window.h"
#include "config/ny_config.h"
#include "foundation/thread.h"
#include "platform/thread.h"

class NyRefitter : public IFlashCallBack, public IDownloaderNotification, public IRvProcessRate {
public:
    NyRefitter();
    ~NyRefitter() override;
    NyRefitter(const NyRefitter&) = delete;
    NyRefitter& operator=(const NyRefitter&) = delete;

    int Init(const char* cszMoviePath);
    // Both events or none: the window copy of a self-update waits for one of them.
    int AutoUpdate(Pf_Event* phSuccessSelfUpdateEvent, Pf_Event* phFailedSelfUpdateEvent);
    int ManualUpdate(const char* cszPatchFileName);
    int UnInit();
    // The "-q" mode: quit by itself once the update is complete or not needed.
    void SetQuitWhenDone(int bQuitWhenDone) { m_bQuitWhenDone = bQuitWhenDone; }

    int FlashCallback(const std::string& strName, const std::vector<std::string>& vecArgs) override;

    // Progress of the patch downloader, from its threads.
    void OnProgress(IDownloader* pDownloader, IHttpFile* pFile, int nValue) override;
    void OnDownloadProgress(const void* pvDownloader, int64_t llTotal, int64_t llDownloaded);
    // Progress of the file synchroniser, from its thread.
    int SetPercentRate(float fPercent) override;
    int SetProgressPercent(float fPercent);

    int _SetStatusCode(int nStatus);
    int _SetErrorCode(int nError);
    int _CallFlash(const char* cszCommand, const char* cszParameter);
    int _SetShowVersion(const char* cszDescribe, const char* cszCurrent, const char* cszLatest, int bFlag);
    int _UpdateShowVersion();
    int _GetExecuteVersionName(NyConfig* pConfig, std::string* pstrRetName, int* pbRetFlag);

    int GetStatusCode() const { return m_nStatusCode; }
    int GetErrorCode() const { return m_nErrorCode; }
    NyFlashWindow* GetFlashWindow() { return &m_FlashWindow; }

protected:
    // The update itself, run by the worker: the manual patch, the automatic
    // update, a reload of the configuration and the file synchronisation. A
    // failure ends the run in the general update error unless an error was
    // shown before.
    virtual int _RunUpdateFlows();

private:
    typedef int (NyRefitter::*Handler)(const std::vector<std::string>& vecArgs);
    struct CallEntry {
        const char* cszName;
        Handler pfnHandler;
    };

    // Handlers of the movie's calls.
    int _OnBeginUpdate(const std::vector<std::string>& vecArgs);
    int _OnCheckQuit(const std::vector<std::string>& vecArgs);
    int _OnStartGame(const std::vector<std::string>& vecArgs);
    int _OnCloseWindow(const std::vector<std::string>& vecArgs);
    int _OnConfigGame(const std::vector<std::string>& vecArgs);
    int _OnPrintFlahLog(const std::vector<std::string>& vecArgs);
    int _OnReportControlClick(const std::vector<std::string>& vecArgs);
    int _OnSetSkinID(const std::vector<std::string>& vecArgs);

    int _SendInitCommandToFlashWindow();
    int _CheckNecessaryConfig();
    int _CloseWindow();
    int _IsX64ClientUsable(const NyConfig& config);
    int _GetClientEXEPath(std::string* pstrRetClientEXE, int* pbRetStartX64Client, int* pbRetLaptop);
    int _CreateProcess(const std::string& strCommandLine);
    // Starts the update report; bFailed stores the current error code first.
    void _ReportUpdateOutcome(int bFailed);
    int _WriteStartMarker(const std::string& strClientEXE);
    int _ShowMissingFileBox(const std::string& strPath);
    static std::string _LoadText(unsigned uId);
    void _PostQuit();

    // The worker, the version-text refresher and the update flows.
    static void _WorkThreadFunction(void* pvThis);
    int _ThreadFunction();
    int _ManualUpdate();
    int _AutoUpdate();
    int _SyncFunction();
    int _WaitForSelfUpdate();
    int _WaitForGameClient();
    int _MapDownloadError();
    int _CheckDownloadFileMD5(const Rv_PatchFileInfoList& PatchList, int* pbRetHasUpdateFileWithWrong);
    int _ExtractUpdatePackage(const std::string& strPatchPath);
    int _ExtractDirectXInstaller(const std::string& strPackagePath);
    // The installed version and the folders, read under the configuration lock.
    void _GetConfigCopy(NyConfig* pRetConfig);
    int _StartAutoRefreshShowVersion();
    static void _AutoRefreshShowVersionThread(void* pvThis);
    void _StopDownloaders();
    void _JoinRefresher();

    // The development-message thread: the message page shown in the movie's
    // activity window.
    int _ShowDevMessageWindow();
    static void _ShowDevMessageWindowWorkFunc(void* pvThis);
    int _RunDevMessage();
    int _GetHTMLContentString(const NyConfig& config, const std::string& strPageFile, std::string* pstrRetText);
    int _GetRemoteAndLocalMessageVersionNum(const NyConfig& config, const std::string& strDownloadedIni,
                                            int* pnRetLocal, int* pnRetRemote);
    int _SaveRemoteMessageVersionNumToConfig(const NyConfig& config, int nNumber);

public:
    int ShowActivityWindow(const std::string& strButtonLink, const std::string& strHTMLText, int bIsNew);

private:

    std::string m_strApplicationPath;
    std::string m_strLatestVersion;
    NyFlashWindow m_FlashWindow;
    char m_szManualPatchFileName[260];
    Pf_Event* m_phSuccessSelfUpdateEvent = nullptr;
    Pf_Event* m_phFailedSelfUpdateEvent = nullptr;
    // Guards every load and read of m_Config: the worker reloads it while the
    // main thread reads it for the handlers.
    Pf_Mutex m_ConfigLock;
    NyConfig m_Config;
    std::atomic<int> m_nStatusCode{UPDATE_STATUS_PREPARING};
    std::atomic<int> m_nErrorCode{UPDATE_ERROR_NONE};
    Rv_Thread m_WorkThread;
    Rv_Thread m_DevMessageThread;
    Rv_Thread m_RefreshThread;
    std::atomic<int> m_bDownloading{0};
    Rv_PatchDownloader m_PatchDownloader;
    Rv_SyncFile m_SyncFile;
    std::atomic<int> m_bSynchronising{0};
    // Set when the worker has ended: the window may close whatever the status.
    std::atomic<int> m_bWorkerEnded{0};
    // The progress line's label, loaded once: progress arrives with every read.
    const std::string m_strUpdatingLabel;
    RvDownloadProgress m_Progress;
    RvVersionText m_VersionText;
    std::atomic<int> m_bQuitWhenDone{0};
    std::atomic<int> m_bQuit{0};
    std::atomic<int> m_bStop{0};
    // The worker and the main thread may both end the refresher.
    Pf_Mutex m_RefreshJoinLock;
};
