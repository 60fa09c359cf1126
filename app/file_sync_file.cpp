// One differing file of the sync: its archive fetched in the background,
// unpacked aside in the temporary folder and deleted, the file verified,
// stamped and synced, then renamed over the old file in one step, so a kill
// leaves either the old file or the new one in place, never neither, and
// nothing of a file in line behind.
#include "app/file_sync.h"

#include "foundation/file_mapping.h"
#include "foundation/log.h"
#include "foundation/system_helpers.h"
#include "foundation/zip.h"
#include "platform/clock.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "transfer/http_async_file.h"
#include "transfer/http_common.h"

#include <cstdint>
#include <cstdio>

namespace {

const char* const s_cszArchiveExtension = "QZIP";
// The unpacked file waits under this extension until it is verified.
const char* const s_cszNewFileExtension = "new";
const uint32_t s_uPollMs = 100;
// The index lists no archive sizes: an archive is bounded by what the zip
// reader can open (item sizes are signed 32-bit), with room for its headers.
const uint64_t s_ullMaxArchiveSize = (uint64_t)INT32_MAX + 65536;

// A path of the server's folders for a URL: '\' as '/', and every byte that
// a URL may not hold as it is percent-encoded.
std::string _EncodeURLPath(std::string strPath)
{
    for (char& c : strPath) {
        if (c == '\\')
            c = '/';
    }
    return Rv_PercentEncode(strPath, "/");
}

} // namespace

std::string Rv_SyncFile::_FileURL(const Rv_CorruptFileInfo& crCorruptFileInfo) const
{
    return m_strURLPrefix + _EncodeURLPath(m_DirNameVector[crCorruptFileInfo.uDirID] + "/" +
                                           crCorruptFileInfo.CheckInfo.strName + "." + s_cszArchiveExtension);
}

int Rv_SyncFile::_SyncDifferentFile(const Rv_CorruptFileInfo& crCorruptFileInfo)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCheckCRC = 0;
    const std::string& strName = crCorruptFileInfo.CheckInfo.strName;
    std::string strURL;
    std::string strArchive = m_strTempFilePath + strName + "." + s_cszArchiveExtension;
    std::string strNew = m_strTempFilePath + strName + "." + s_cszNewFileExtension;
    std::string strTarget = m_strClientPath + strName;

    RVLOG_PROCESS_ERROR(crCorruptFileInfo.uDirID < (unsigned)m_DirNameVector.size());
    strURL = _FileURL(crCorruptFileInfo);

    nRetCode = Rv_MakeSureDirForFile(strArchive.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_MakeSureDirForFile()");
    Pf_DeleteNormalFile(strArchive);
    Pf_DeleteNormalFile(strNew);
    nRetCode = _DownloadArchive(strURL, strArchive);
    RVLOG_PROCESS_ERROR(nRetCode && "_DownloadArchive()");

    nRetCode = _UnpackArchive(strArchive.c_str(), strNew.c_str());
    RVLOG_PROCESS_ERROR(nRetCode);
    // The archive goes before the new file is put in place: once the file is
    // in line, no later run would come back to delete it.
    Pf_DeleteNormalFile(strArchive);
    nRetCode = Rv_GetFileCRC(strNew.c_str(), &uCheckCRC);
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_GetFileCRC()");
    RVLOG_PROCESS_ERROR(uCheckCRC == crCorruptFileInfo.CheckInfo.uCRC);
    nRetCode = Pf_SetFileTimes(strNew, nullptr, &crCorruptFileInfo.CheckInfo.ftLastModifyTime);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = Pf_SyncFile(strNew);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_SyncFile()");

    nRetCode = Rv_MakeSureDirForFile(strTarget.c_str());
    RVLOG_PROCESS_ERROR(nRetCode && "Rv_MakeSureDirForFile()");
    nRetCode = _ReplaceFile(strNew, strTarget);
    RVLOG_PROCESS_ERROR(nRetCode && "_ReplaceFile()");
    RvLog_Write(RVLOG_DEBUG, "Sync file %s successfully. CheckInfo.uCRC = %u. uCheckCRC = %u.", strName.c_str(),
                crCorruptFileInfo.CheckInfo.uCRC, uCheckCRC);
    nResult = 1;
Exit0:
    Pf_DeleteNormalFile(strArchive);
    Pf_DeleteNormalFile(strNew);
    if (!nResult)
        RvLog_Write(RVLOG_ERROR, "Failed to sync file %s, GetLastError() = %d.", strName.c_str(), Pf_GetLastError());
    return nResult;
}

int Rv_SyncFile::_DownloadArchive(const std::string& strURL, const std::string& strArchive)
{
    int nResult = 0;
    int nRetCode = 0;
    int bStarted = 0;
    Rv_HttpAsyncFile HttpAsyncFile;

    nRetCode = HttpAsyncFile.Init(strURL.c_str(), strArchive.c_str(), s_ullMaxArchiveSize);
    RVLOG_PROCESS_ERROR(nRetCode && "HttpAsyncFile.Init()");
    bStarted = 1;
    nRetCode = HttpAsyncFile.StartDownload();
    RVLOG_PROCESS_ERROR(nRetCode && "HttpAsyncFile.StartDownload()");
    for (;;) {
        RVLOG_PROCESS_ERROR(m_nStatusCode != RV_RFSC_ERROR_ABROT);
        nRetCode = HttpAsyncFile.m_nStatusCode;
        if (nRetCode >= RV_HADSC_SUCCESS)
            break;
        Pf_Sleep(s_uPollMs);
    }
    RVLOG_PROCESS_ERROR(nRetCode < RV_HADSC_ERROR_UNKNOWN);
    // The worker has closed the file before it reported success; joined so
    // that nothing writes to it any more.
    HttpAsyncFile.m_WorkTread.Wait();
    if (!Pf_FileExists(strArchive)) {
        // The background download does not tell the server's status.
        RvLog_Write(RVLOG_ERROR, "%s Does not download. HTTP status code: %d", strArchive.c_str(), 0);
        goto Exit0;
    }
    nResult = 1;
Exit0:
    if (bStarted) {
        // Ends the transfer at once, not at its next look at the status.
        HttpAsyncFile.Abort();
        HttpAsyncFile.m_WorkTread.Wait();
    }
    return nResult;
}

int Rv_SyncFile::_UnpackArchive(const char* pcszCompressdFilePath, const char* pcszDecompressedFilePath)
{
    int nResult = 0;
    ZRESULT zResult = ZR_OK;
    ZipHandle* hCompressFile = nullptr;
    ZipEntry Entry;
    int nItemCount = 0;

    RVLOG_PROCESS_ERROR(pcszCompressdFilePath);
    RVLOG_PROCESS_ERROR(pcszDecompressedFilePath);
    hCompressFile = OpenZip(pcszCompressdFilePath);
    RVLOG_PROCESS_ERROR(hCompressFile);
    zResult = GetZipItem(hCompressFile, -1, &Entry);
    RVLOG_PROCESS_ERROR(zResult == ZR_OK && "GetZipItem(-1)");
    nItemCount = Entry.index;
    if (nItemCount != 1)
        RvLog_Write(RVLOG_ERROR, "There can be only one zip item in QZIP file. ");
    RVLOG_PROCESS_ERROR(nItemCount > 0);
    for (int i = 0; i < nItemCount; ++i) {
        zResult = GetZipItem(hCompressFile, i, &Entry);
        RVLOG_PROCESS_ERROR(zResult == ZR_OK && "GetZipItem(i)");
        // A folder item would put a folder where the file belongs.
        RVLOG_PROCESS_ERROR(!(Entry.attr & ZIP_ATTR_DIRECTORY));
        Pf_SetReadOnly(pcszDecompressedFilePath, 0);
        zResult = ExtractZipItem(hCompressFile, i, pcszDecompressedFilePath);
        RVLOG_PROCESS_ERROR(zResult == ZR_OK);
    }
    nResult = 1;
Exit0:
    if (hCompressFile)
        CloseZipHandle(hCompressFile);
    return nResult;
}

int Rv_SyncFile::_ReplaceFile(const std::string& strNew, const std::string& strTarget)
{
    int nResult = 0;
    int nRetCode = 0;

    // Only a file is replaced: a folder of that name stays as it is.
    if (Pf_PathExists(strTarget))
        RVLOG_PROCESS_ERROR(Pf_FileExists(strTarget));
    Pf_CrashPoint();
    nRetCode = _MoveFile(strNew, strTarget);
    RVLOG_PROCESS_ERROR(nRetCode && "_MoveFile()");
    Pf_CrashPoint();
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_SyncFile::_MoveFile(const std::string& strFrom, const std::string& strTo)
{
    int nResult = 0;
    int nRetCode = 0;

    if (Rv_MoveFileWithRetries(strFrom, strTo, nullptr))
        goto Exit1;
    nRetCode = Pf_CopyFile(strFrom, strTo, 0);
    if (!nRetCode) {
        RvLog_Write(RVLOG_ERROR, "Failed to move file `%s` to `%s`, Error code : %d.", strFrom.c_str(), strTo.c_str(),
                    Pf_GetLastError());
        RVLOG_PROCESS_ERROR(nRetCode);
    }
    Pf_DeleteNormalFile(strFrom);
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}
