// The mini backup of a single-file package: create, find, remove, restore.
#include "package/mini_backup.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/log.h"
#include "package/single_file_package.h"
#include "platform/crash_point.h"
#include "platform/file.h"
#include "platform/stream.h"
#include "platform/stream_length.h"

#define RVPK_MAX_PATH 260

int RvPack_MakeMiniBackupName(const char* cszPackageFileName, char* szRetName, unsigned uSize)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszPackageFileName);
    RVLOG_PROCESS_ERROR(szRetName && uSize > 0);
    szRetName[0] = '\0';
    nRetCode = snprintf(szRetName, uSize, "%s.%s", cszPackageFileName, "bak");
    RVLOG_PROCESS_ERROR(nRetCode > 0 && (unsigned)nRetCode < uSize);
    nResult = 1;
Exit0:
    if (!nResult && szRetName && uSize > 0)
        szRetName[0] = '\0';
    return nResult;
}

int RvPack_CreateMiniBackup(const char* cszPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* pPackageFile = nullptr;
    FILE* pBackupFile = nullptr;
    size_t uReadCount = 0;
    size_t uWriteCount = 0;
    long lOffset = 0;
    uint64_t uPackageLength = 0;
    char szBackupName[RVPK_MAX_PATH];
    Rv_PackageHeader PackageHeader {};
    RvPack_MiniBackupHeader MiniBackupHeader {};
    const RvPack_MiniBackupHeader ZeroHeader {};
    std::unique_ptr<uint8_t[]> pbyIndexArea;
    std::unique_ptr<uint8_t[]> pbyDirectoryArea;

    RVLOG_PROCESS_ERROR(cszPackageFileName);
    nRetCode = RvPack_MakeMiniBackupName(cszPackageFileName, szBackupName, sizeof(szBackupName));
    RVLOG_PROCESS_ERROR(nRetCode);

    pPackageFile = Pf_FOpen(cszPackageFileName, "rb");
    RVLOG_PROCESS_ERROR(pPackageFile);
    uReadCount = fread(&PackageHeader, sizeof(PackageHeader), 1, pPackageFile);
    RVLOG_PROCESS_ERROR(uReadCount == 1);

    RVPK_PROCESS_PACKAGE_HEADER_ERROR(PackageHeader);
    nRetCode = Pf_GetStreamLength(pPackageFile, &uPackageLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = RvPack_IsPackageLayoutRestorable(PackageHeader, uPackageLength);
    RVLOG_PROCESS_ERROR(nRetCode);

    pbyIndexArea.reset(new (std::nothrow) uint8_t[PackageHeader.uIndexAreaSize]);
    RVLOG_PROCESS_ERROR(pbyIndexArea);
    nRetCode = fseek(pPackageFile, (long)PackageHeader.uIndexAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(pbyIndexArea.get(), 1, (size_t)PackageHeader.uIndexAreaSize, pPackageFile);
    RVLOG_PROCESS_ERROR(uReadCount == PackageHeader.uIndexAreaSize);

    pbyDirectoryArea.reset(new (std::nothrow) uint8_t[PackageHeader.uDirectoryAreaSize]);
    RVLOG_PROCESS_ERROR(pbyDirectoryArea);
    nRetCode = fseek(pPackageFile, (long)PackageHeader.uDirectoryAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(pbyDirectoryArea.get(), 1, (size_t)PackageHeader.uDirectoryAreaSize, pPackageFile);
    RVLOG_PROCESS_ERROR(uReadCount == PackageHeader.uDirectoryAreaSize);

    Pf_CrashPoint();
    pBackupFile = Pf_FOpen(szBackupName, "wb");
    RVLOG_PROCESS_ERROR(pBackupFile);

    Pf_CrashPoint();
    uWriteCount = fwrite(&ZeroHeader, sizeof(ZeroHeader), 1, pBackupFile);
    RVLOG_PROCESS_ERROR(uWriteCount == 1);

    lOffset = ftell(pBackupFile);
    RVLOG_PROCESS_ERROR(lOffset > 0);
    MiniBackupHeader.uPackageHeaderOffset = (uint64_t)lOffset;
    MiniBackupHeader.uPackageHeaderSize = sizeof(PackageHeader);
    Pf_CrashPoint();
    uWriteCount = fwrite(&PackageHeader, sizeof(PackageHeader), 1, pBackupFile);
    RVLOG_PROCESS_ERROR(uWriteCount == 1);

    lOffset = ftell(pBackupFile);
    RVLOG_PROCESS_ERROR(lOffset > 0);
    MiniBackupHeader.uDirectoryAreaOffset = (uint64_t)lOffset;
    MiniBackupHeader.uDirectoryAreaSize = PackageHeader.uDirectoryAreaSize;
    Pf_CrashPoint();
    uWriteCount = fwrite(pbyDirectoryArea.get(), 1, (size_t)PackageHeader.uDirectoryAreaSize, pBackupFile);
    RVLOG_PROCESS_ERROR(uWriteCount == (size_t)PackageHeader.uDirectoryAreaSize);

    lOffset = ftell(pBackupFile);
    RVLOG_PROCESS_ERROR(lOffset > 0);
    MiniBackupHeader.uIndexAreaOffset = (uint64_t)lOffset;
    MiniBackupHeader.uIndexAreaSize = PackageHeader.uIndexAreaSize;
    Pf_CrashPoint();
    uWriteCount = fwrite(pbyIndexArea.get(), 1, (size_t)PackageHeader.uIndexAreaSize, pBackupFile);
    RVLOG_PROCESS_ERROR(uWriteCount == (size_t)PackageHeader.uIndexAreaSize);

    // The areas go to the disk before the signature that makes them valid.
    Pf_CrashPoint();
    nRetCode = Pf_SyncStream(pBackupFile);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_SyncStream(pBackupFile)");

    MiniBackupHeader.uSignature = RV_MINI_BACKUP_SIGNATURE;
    nRetCode = fseek(pBackupFile, 0, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    Pf_CrashPoint();
    uWriteCount = fwrite(&MiniBackupHeader, sizeof(MiniBackupHeader), 1, pBackupFile);
    RVLOG_PROCESS_ERROR(uWriteCount == 1);

    Pf_CrashPoint();
    nRetCode = Pf_CloseWrittenStream(pBackupFile, 1);
    pBackupFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_CloseWrittenStream(pBackupFile, 1)");
    nRetCode = RvPack_SyncParentDir(szBackupName);
    RVLOG_PROCESS_ERROR(nRetCode && "RvPack_SyncParentDir(szBackupName)");

    nResult = 1;
Exit0:
    RvPack_CloseRead(pPackageFile);
    if (pBackupFile)
        fclose(pBackupFile);
    // An incomplete backup is worth nothing: the package has not been touched.
    if (!nResult && cszPackageFileName && szBackupName[0] && Pf_PathExists(szBackupName))
        Pf_DeleteFile(szBackupName);
    return nResult;
}

int RvPack_IsMiniBackupExist(const char* cszPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* pBackupFile = nullptr;
    char szBackupName[RVPK_MAX_PATH];

    RVLOG_PROCESS_ERROR(cszPackageFileName);
    nRetCode = RvPack_MakeMiniBackupName(cszPackageFileName, szBackupName, sizeof(szBackupName));
    RVLOG_PROCESS_ERROR(nRetCode);
    pBackupFile = Pf_FOpen(szBackupName, "rb");
    if (!pBackupFile)
        goto Exit0;
    fclose(pBackupFile);
    nResult = 1;
Exit0:
    return nResult;
}

int RvPack_RemoveMiniBackup(const char* cszPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    char szBackupName[RVPK_MAX_PATH];

    RVLOG_PROCESS_ERROR(cszPackageFileName);
    nRetCode = RvPack_MakeMiniBackupName(cszPackageFileName, szBackupName, sizeof(szBackupName));
    RVLOG_PROCESS_ERROR(nRetCode);
    Pf_CrashPoint();
    nRetCode = Pf_DeleteFile(szBackupName);
    RVLOG_PROCESS_ERROR(nRetCode);
    RvPack_SyncParentDir(szBackupName);
    nResult = 1;
Exit0:
    return nResult;
}

static int _IsAllZero(const uint8_t* pbyData, size_t uSize)
{
    for (size_t i = 0; i < uSize; i++) {
        if (pbyData[i])
            return 0;
    }
    return 1;
}

int RvPack_RestoreMiniBackup(const char* cszPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* pBackupFile = nullptr;
    FILE* pPackageFile = nullptr;
    size_t uReadCount = 0;
    size_t uWriteCount = 0;
    size_t uHeaderBytes = 0;
    uint64_t uBackupLength = 0;
    uint64_t uPackageLength = 0;
    char szBackupName[RVPK_MAX_PATH];
    uint8_t byRawHeader[sizeof(RvPack_MiniBackupHeader)];
    RvPack_MiniBackupHeader MiniBackupHeader {};
    Rv_PackageHeader PackageHeader {};
    std::unique_ptr<uint8_t[]> pbyIndexArea;
    std::unique_ptr<uint8_t[]> pbyDirectoryArea;

    RVLOG_PROCESS_ERROR(cszPackageFileName);
    nRetCode = RvPack_MakeMiniBackupName(cszPackageFileName, szBackupName, sizeof(szBackupName));
    RVLOG_PROCESS_ERROR(nRetCode);
    pBackupFile = Pf_FOpen(szBackupName, "rb");
    RVLOG_PROCESS_ERROR(pBackupFile);
    uHeaderBytes = fread(byRawHeader, 1, sizeof(byRawHeader), pBackupFile);
    RVLOG_PROCESS_ERROR(!ferror(pBackupFile));

    // The header is written as zeros first and filled in last, once the areas
    // are on the disk; all zero means the creation was cut short before the
    // package was touched, so there is nothing to bring back.
    if (_IsAllZero(byRawHeader, uHeaderBytes)) {
        RvLog_Write(RVLOG_DEBUG, "mini backup %s was cut short while being created; the package is unchanged\n", szBackupName);
        nResult = 1;
        goto Exit0;
    }
    uReadCount = uHeaderBytes == sizeof(byRawHeader) ? 1 : 0;
    RVLOG_PROCESS_ERROR(uReadCount == 1);
    memcpy(&MiniBackupHeader, byRawHeader, sizeof(MiniBackupHeader));

    RVLOG_PROCESS_ERROR(MiniBackupHeader.uSignature == RV_MINI_BACKUP_SIGNATURE);
    RVLOG_PROCESS_ERROR(MiniBackupHeader.uPackageHeaderOffset >= sizeof(RvPack_MiniBackupHeader));
    RVLOG_PROCESS_ERROR(MiniBackupHeader.uPackageHeaderSize > 0);
    RVLOG_PROCESS_ERROR(MiniBackupHeader.uDirectoryAreaOffset >= sizeof(RvPack_MiniBackupHeader));
    RVLOG_PROCESS_ERROR(MiniBackupHeader.uDirectoryAreaSize > 0);
    RVLOG_PROCESS_ERROR(MiniBackupHeader.uIndexAreaOffset >= sizeof(RvPack_MiniBackupHeader));
    RVLOG_PROCESS_ERROR(MiniBackupHeader.uIndexAreaSize > 0);

    nRetCode = Pf_GetStreamLength(pBackupFile, &uBackupLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(MiniBackupHeader.uPackageHeaderOffset, sizeof(Rv_PackageHeader), uBackupLength));
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(MiniBackupHeader.uDirectoryAreaOffset, MiniBackupHeader.uDirectoryAreaSize, uBackupLength));
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(MiniBackupHeader.uIndexAreaOffset, MiniBackupHeader.uIndexAreaSize, uBackupLength));
    RVLOG_PROCESS_ERROR(uBackupLength < RVPK_MAX_PACKAGE_FILE_SIZE);

    pbyIndexArea.reset(new (std::nothrow) uint8_t[MiniBackupHeader.uIndexAreaSize]);
    RVLOG_PROCESS_ERROR(pbyIndexArea);
    pbyDirectoryArea.reset(new (std::nothrow) uint8_t[MiniBackupHeader.uDirectoryAreaSize]);
    RVLOG_PROCESS_ERROR(pbyDirectoryArea);

    nRetCode = fseek(pBackupFile, (long)MiniBackupHeader.uPackageHeaderOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(&PackageHeader, sizeof(PackageHeader), 1, pBackupFile);
    RVLOG_PROCESS_ERROR(uReadCount == 1);

    RVLOG_PROCESS_ERROR(PackageHeader.uIndexAreaSize == MiniBackupHeader.uIndexAreaSize);
    RVLOG_PROCESS_ERROR(PackageHeader.uDirectoryAreaSize == MiniBackupHeader.uDirectoryAreaSize);
    // The saved header was checked when the backup was made; checked again, it
    // keeps every write below within the package as it was.
    RVPK_PROCESS_PACKAGE_HEADER_ERROR(PackageHeader);
    nRetCode = RvPack_IsPackageLayoutRestorable(PackageHeader, PackageHeader.uFileSize);
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = fseek(pBackupFile, (long)MiniBackupHeader.uIndexAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(pbyIndexArea.get(), 1, (size_t)MiniBackupHeader.uIndexAreaSize, pBackupFile);
    RVLOG_PROCESS_ERROR(uReadCount == MiniBackupHeader.uIndexAreaSize);
    nRetCode = fseek(pBackupFile, (long)MiniBackupHeader.uDirectoryAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    uReadCount = fread(pbyDirectoryArea.get(), 1, (size_t)MiniBackupHeader.uDirectoryAreaSize, pBackupFile);
    RVLOG_PROCESS_ERROR(uReadCount == MiniBackupHeader.uDirectoryAreaSize);

    pPackageFile = Pf_FOpen(cszPackageFileName, "r+b");
    RVLOG_PROCESS_ERROR(pPackageFile);
    // A patch only appends behind the data area: a package shorter than that
    // is not the one this backup was made of.
    nRetCode = Pf_GetStreamLength(pPackageFile, &uPackageLength);
    RVLOG_PROCESS_ERROR(nRetCode);
    RVLOG_PROCESS_ERROR(PackageHeader.uDataAreaOffset + PackageHeader.uDataAreaSize <= uPackageLength);

    nRetCode = fseek(pPackageFile, (long)PackageHeader.uDirectoryAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    Pf_CrashPoint();
    uWriteCount = fwrite(pbyDirectoryArea.get(), 1, (size_t)PackageHeader.uDirectoryAreaSize, pPackageFile);
    RVLOG_PROCESS_ERROR(uWriteCount == PackageHeader.uDirectoryAreaSize);
    nRetCode = fseek(pPackageFile, (long)PackageHeader.uIndexAreaOffset, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    Pf_CrashPoint();
    uWriteCount = fwrite(pbyIndexArea.get(), 1, (size_t)PackageHeader.uIndexAreaSize, pPackageFile);
    RVLOG_PROCESS_ERROR(uWriteCount == PackageHeader.uIndexAreaSize);
    nRetCode = fseek(pPackageFile, 0, SEEK_SET);
    RVLOG_PROCESS_ERROR(nRetCode == 0);
    Pf_CrashPoint();
    uWriteCount = fwrite(&PackageHeader, sizeof(PackageHeader), 1, pPackageFile);
    RVLOG_PROCESS_ERROR(uWriteCount == 1);

    Pf_CrashPoint();
    nRetCode = Pf_TruncateStream(pPackageFile, PackageHeader.uFileSize);
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_TruncateStream(pPackageFile, PackageHeader.uFileSize)");
    Pf_CrashPoint();
    nRetCode = Pf_CloseWrittenStream(pPackageFile, 1);
    pPackageFile = nullptr;
    RVLOG_PROCESS_ERROR(nRetCode && "Pf_CloseWrittenStream(pPackageFile, 1)");

    nResult = 1;
Exit0:
    RvPack_CloseRead(pBackupFile);
    if (pPackageFile)
        fclose(pPackageFile);
    return nResult;
}

int RvPack_RecoverFromMiniBackup(const char* cszPackageFileName)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszPackageFileName);
    if (!RvPack_IsMiniBackupExist(cszPackageFileName))
        goto Exit1;
    nRetCode = RvPack_RestoreMiniBackup(cszPackageFileName);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = RvPack_RemoveMiniBackup(cszPackageFileName);
    RVLOG_PROCESS_ERROR(nRetCode);
Exit1:
    nResult = 1;
Exit0:
    return nResult;
}
