// The multi-file downloader: the pool of at most five threads, collecting
// finished threads in finishing order, stopping, totals and the serialised
// progress callback.
#include "transfer/downloader.h"
#include "foundation/log.h"

#include <algorithm>
#include <new>

NyHttpDownloader::NyHttpDownloader()
{
    m_Callback.m_pOwner = this;
}

NyHttpDownloader::~NyHttpDownloader()
{
    // A thread still running would outlive its file.
    if (!m_DownloadingFiles.empty())
        Stop();
    m_DownloadingFiles.clear();
    m_vecFiles.clear();
}

int NyHttpDownloader::AddFile(const char* szFileUrl, const char* szSavePath)
{
    int nResult = 0;
    NyHttpFile* pDownloader = nullptr;
    RVLOG_PROCESS_ERROR(szFileUrl);
    RVLOG_PROCESS_ERROR(szFileUrl[0]);
    RVLOG_PROCESS_ERROR(szSavePath);
    RVLOG_PROCESS_ERROR(szSavePath[0]);
    pDownloader = new (std::nothrow) NyHttpFile(szFileUrl, szSavePath, &m_Callback);
    RVLOG_PROCESS_ERROR(pDownloader);
    m_vecFiles.emplace_back(pDownloader);
    nResult = 1;
Exit0:
    return nResult;
}

int NyHttpDownloader::_StartThread(Pf_Thread* pThread, Pf_ThreadFunction pfnFunction, void* pvArg)
{
    return pThread->Start(pfnFunction, pvArg);
}

int NyHttpDownloader::_WaitForAny(Pf_Event** apEvents, int nCount, int* pnRetIndex)
{
    return Pf_WaitForAny(apEvents, nCount, PF_WAIT_INFINITE, pnRetIndex);
}

void NyHttpDownloader::_ThreadFunction(void* pvRunning)
{
    _Running* pRunning = (_Running*)pvRunning;
    pRunning->pFile->Download();
    pRunning->Done.Set();
}

void NyHttpDownloader::BatchDownload()
{
    while ((int)m_DownloadingFiles.size() < m_nMaxParallel && m_uNextFile < m_vecFiles.size()) {
        NyHttpFile* pFile = m_vecFiles[m_uNextFile++].get();
        std::shared_ptr<_Running> pRunning = std::make_shared<_Running>();
        pRunning->pFile = pFile;
        if (!pRunning->Done.Init(1, 0) || !_StartThread(&pRunning->Thread, _ThreadFunction, pRunning.get())) {
            // Never run: it fails, and is still returned like any other file.
            RvLog_Write(RVLOG_ERROR, "cannot start the download thread of %s", pFile->GetURL().c_str());
            pFile->SetStatus(dec_err_disconnect);
            m_FailedToStart.push_back(pFile);
            continue;
        }
        m_DownloadingFiles.push_back(pRunning);
    }
}

IHttpFile* NyHttpDownloader::StartAndWait()
{
    IHttpFile* pResult = nullptr;
    int nRetCode = 0;
    int nIndex = -1;
    int nCount = 0;
    Pf_Event* apEvents[10];
    std::vector<std::shared_ptr<_Running>> vecRunning;
    {
        Pf_MutexGuard guard(m_Lock);
        BatchDownload();
        if (!m_FailedToStart.empty()) {
            pResult = m_FailedToStart.front();
            m_FailedToStart.pop_front();
            return pResult;
        }
        vecRunning = m_DownloadingFiles;
    }
    if (vecRunning.empty())
        return nullptr;
    nCount = (int)std::min(vecRunning.size(), sizeof(apEvents) / sizeof(apEvents[0]));
    for (int i = 0; i < nCount; i++)
        apEvents[i] = &vecRunning[i]->Done;
    nRetCode = _WaitForAny(apEvents, nCount, &nIndex);
    RVLOG_PROCESS_ERROR(nRetCode);
    {
        Pf_MutexGuard guard(m_Lock);
        // nIndex is known not to be negative where it is compared with the size.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
        RVLOG_PROCESS_ERROR(nIndex >= 0 && nIndex < m_DownloadingFiles.size());
#pragma GCC diagnostic pop
        // Only the handles waited on can be the one signalled.
        RVLOG_PROCESS_ERROR(nIndex < nCount);
        auto it = std::find(m_DownloadingFiles.begin(), m_DownloadingFiles.end(), vecRunning[nIndex]);
        RVLOG_PROCESS_ERROR(it != m_DownloadingFiles.end());
        (*it)->Thread.Join();
        pResult = (*it)->pFile;
        m_DownloadingFiles.erase(it);
    }
Exit0:
    return pResult;
}

void NyHttpDownloader::Stop()
{
    std::vector<std::shared_ptr<_Running>> vecRunning;
    for (const auto& pFile : m_vecFiles)
        pFile->RequestStop();
    {
        Pf_MutexGuard guard(m_Lock);
        vecRunning = m_DownloadingFiles;
    }
    for (const auto& pRunning : vecRunning)
        pRunning->Done.Wait(PF_WAIT_INFINITE);
}

int64_t NyHttpDownloader::GetFileSize()
{
    int64_t llTotal = 0;
    for (const auto& pFile : m_vecFiles)
        llTotal += pFile->GetFileSize();
    return llTotal;
}

int64_t NyHttpDownloader::GetDownloadedSize()
{
    int64_t llTotal = 0;
    for (const auto& pFile : m_vecFiles)
        llTotal += pFile->GetDownloadedSize();
    return llTotal;
}

void NyHttpDownloader::NyHttpFileCallback::OnProgress(IHttpFile* pFile, int nValue)
{
    IDownloaderNotification* pNotification = m_pNotification;
    if (!pNotification)
        return;
    Pf_MutexGuard guard(m_Lock);
    pNotification->OnProgress(m_pOwner, pFile, nValue);
}
