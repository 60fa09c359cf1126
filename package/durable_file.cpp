// Whole files written through a synced temporary file renamed over the path.
#include "package/durable_file.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "platform/crash_point.h"

#include <cstdio>

enum { RVPK_DURABLE_PATH_LEN = 260 };

int Rv_WriteFileDurably(const std::u16string& strPath, const std::u16string& strFolder, const void* pvFirst, size_t uFirstSize,
                        const void* pvSecond, size_t uSecondSize, const Rv_DurableWriteLog& rLog)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string strTempFileName = strPath + u".tmp";
    FILE* fpFile = nullptr;
    size_t uWriteCount = 0;
    int bTempCreated = 0;

    RVPK_PROCESS_ERROR_QUOTING(strTempFileName.size() < RVPK_DURABLE_PATH_LEN, "nRetCode > 0");
    Pf_CrashPoint();
    fpFile = Rv_FOpen(strTempFileName.c_str(), "wb");
    if (!fpFile)
        Rv_LogPrintf(rLog.pcszOpenFailed, rLog.bTemporaryPath ? strTempFileName.c_str() : strPath.c_str());
    RVPK_PROCESS_ERROR_QUOTING(fpFile, rLog.cszStream);
    bTempCreated = 1;
    if (uFirstSize > 0) {
        uWriteCount = fwrite(pvFirst, uFirstSize, 1, fpFile);
        RVPK_PROCESS_ERROR_QUOTING(uWriteCount == 1, rLog.cszWrite);
    }
    if (uSecondSize > 0) {
        uWriteCount = fwrite(pvSecond, uSecondSize, 1, fpFile);
        RVPK_PROCESS_ERROR_QUOTING(uWriteCount == 1, rLog.cszWrite);
    }
    // A full disk may show only at the flush: the short file must never replace the good one.
    nRetCode = Rv_CloseWrittenFile(&fpFile, 1);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, rLog.cszWrite);

    // One rename: the path holds the old file or the new one at every moment.
    Pf_CrashPoint();
    nRetCode = Rv_MoveFileOverwrite(strTempFileName.c_str(), strPath.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    bTempCreated = 0;
    nRetCode = Rv_SyncDirectory(strFolder.c_str());
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(folder)");
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    if (bTempCreated)
        Rv_DeleteFile(strTempFileName.c_str());
    return nResult;
}
