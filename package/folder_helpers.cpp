// Wide-path folder listing, folder creation, path splitting and file helpers.
#include "package/folder_helpers.h"

#include "package/log_stream.h"
#include "package/wide_format.h"
#include "package/wide_string.h"
#include "platform/file.h"
#include "platform/stream.h"
#include "platform/text.h"

#include <cerrno>
#include <new>
#include <vector>

enum { RV_PATH_LEN = 260 };

struct Rv_DirectoryHandleImpl {
    std::vector<Pf_DirEntry> vecEntries;
    std::u16string wstrCurrentName;
    size_t uNext = 0;
    int bFirstItem = 1;
};

int Rv_OpenDirectory(const char16_t* pcszDirectory, RV_DIR_HANDLE* phRetHandle)
{
    int nResult = 0;
    int nRetCode = 0;
    Rv_DirectoryHandleImpl* pHandleImpl = nullptr;
    char16_t szDestDirectory[RV_PATH_LEN];

    if (!pcszDirectory || !pcszDirectory[0] || !phRetHandle)
        return 0;
    pHandleImpl = new (std::nothrow) Rv_DirectoryHandleImpl;
    RVPK_PROCESS_ERROR(pHandleImpl);
    nRetCode = Rv_Format(szDestDirectory, RV_PATH_LEN, u"%s\\*", pcszDirectory);
    RVPK_PROCESS_ERROR(nRetCode > 0 && nRetCode < (int)RV_PATH_LEN);
    nRetCode = Pf_ListDir(Rv_ToNarrow(pcszDirectory), &pHandleImpl->vecEntries);
    RVPK_PROCESS_ERROR(nRetCode && "pHandleImpl->hFindFile != INVALID_HANDLE_VALUE");
    pHandleImpl->bFirstItem = 1;
    *phRetHandle = pHandleImpl;
    pHandleImpl = nullptr;
    nResult = 1;
Exit0:
    delete pHandleImpl;
    return nResult;
}

int Rv_ReadDirectory(RV_DIR_HANDLE hHandle, RV_DIR_ITEM* pRetItem, int* pbRetNoMore)
{
    int nResult = 0;

    if (pRetItem) {
        pRetItem->eType = RV_DIR_ITEM_TYPE_NONE;
        pRetItem->pcszName = nullptr;
    }
    RVPK_ASSERT_EXIT(hHandle);
    RVPK_ASSERT_EXIT(pRetItem);
    RVPK_ASSERT_EXIT(pbRetNoMore);
    hHandle->bFirstItem = 0;
    if (hHandle->uNext >= hHandle->vecEntries.size()) {
        *pbRetNoMore = 1;
        nResult = 1;
        goto Exit0;
    }
    {
        const Pf_DirEntry& Entry = hHandle->vecEntries[hHandle->uNext++];
        hHandle->wstrCurrentName = Pf_Utf8ToUtf16(Entry.strName);
        pRetItem->eType = Entry.bIsDir ? RV_DIR_ITEM_TYPE_DIRECTORY : RV_DIR_ITEM_TYPE_FILE;
        pRetItem->pcszName = hHandle->wstrCurrentName.c_str();
    }
    *pbRetNoMore = 0;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_CloseDirectory(RV_DIR_HANDLE hHandle)
{
    if (!hHandle)
        return 0;
    delete hHandle;
    return 1;
}

// Creates one folder; an existing folder is fine.
static int _CreateOneDirectory(const std::u16string& wstrPath)
{
    std::string strPath = Rv_ToNarrow(wstrPath);
    if (Pf_CreateDir(strPath))
        return 1;
    return Pf_GetLastError() == EEXIST && Pf_DirExists(strPath);
}

int Rv_RecursiveCreateDirectory(const char16_t* pcszPath)
{
    int nResult = 0;
    int nRetCode = 0;
    char16_t szPath[RV_PATH_LEN];
    size_t uLen = 0;

    nRetCode = Rv_StrCopy(szPath, RV_PATH_LEN, pcszPath);
    RVPK_PROCESS_ERROR(nRetCode);
    uLen = Rv_StrLen(szPath);
    for (size_t i = 0; i < uLen; ++i) {
        if (szPath[i] != u'\\' && szPath[i] != u'/')
            continue;
        if (i == 0 || szPath[i - 1] == u':' || szPath[i - 1] == u'\\' || szPath[i - 1] == u'/')
            continue;   // the root, a drive, or a doubled separator
        nRetCode = _CreateOneDirectory(std::u16string(szPath, i));
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nRetCode = _CreateOneDirectory(std::u16string(szPath, uLen));
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_GetDirectoryAndFileName(const char16_t* pcszFilePath, char16_t* pszRetDirectoryBuffer, unsigned uDirectoryBufferLength,
                               char16_t* pszRetFileNameBuffer, unsigned uFileNameBufferLength)
{
    int nResult = 0;
    size_t uFilePathLength = 0;
    size_t uLastSplashPos = 0;
    size_t uDirectoryNameLength = 0;
    size_t uFileNameLength = 0;
    size_t i = 0;

    RVPK_ASSERT_EXIT(pcszFilePath);
    RVPK_ASSERT_EXIT(pcszFilePath[0]);
    RVPK_ASSERT_EXIT((pszRetDirectoryBuffer == NULL && uDirectoryBufferLength == 0) ||
                     (pszRetDirectoryBuffer != NULL && uDirectoryBufferLength > 0));
    RVPK_ASSERT_EXIT((pszRetFileNameBuffer == NULL && uFileNameBufferLength == 0) ||
                     (pszRetFileNameBuffer != NULL && uFileNameBufferLength > 0));
    uFilePathLength = Rv_StrLen(pcszFilePath);
    RVPK_PROCESS_ERROR(uFilePathLength > 0);
    for (i = uFilePathLength; i > 0; --i) {
        if (pcszFilePath[i - 1] == u'\\' || pcszFilePath[i - 1] == u'/')
            break;
    }
    if (i > 0) {
        i -= 1;   // the separator's position
        RVPK_PROCESS_ERROR(i != 0);
        uLastSplashPos = i;
    }
    RVPK_PROCESS_ERROR(uLastSplashPos > 0 && (uLastSplashPos < uFilePathLength - 1));
    uDirectoryNameLength = uLastSplashPos;
    uFileNameLength = uFilePathLength - uLastSplashPos - 1;
    if (pszRetDirectoryBuffer) {
        RVPK_PROCESS_ERROR(uDirectoryNameLength < uDirectoryBufferLength);
        std::char_traits<char16_t>::copy(pszRetDirectoryBuffer, pcszFilePath, uDirectoryNameLength);
        pszRetDirectoryBuffer[uDirectoryNameLength] = u'\0';
    }
    if (pszRetFileNameBuffer) {
        RVPK_PROCESS_ERROR(uFileNameLength < uFileNameBufferLength);
        std::char_traits<char16_t>::copy(pszRetFileNameBuffer, pcszFilePath + uLastSplashPos + 1, uFileNameLength);
        pszRetFileNameBuffer[uFileNameLength] = u'\0';
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_IsFileExist(const char16_t* pcszPath)
{
    if (!pcszPath)
        return 0;
    std::string strPath = Rv_ToNarrow(pcszPath);
    return Pf_FileExists(strPath) || Pf_DirExists(strPath);
}

int Rv_MoveFileOverwrite(const char16_t* pcszExistingFileName, const char16_t* pcszNewFileName)
{
    if (!pcszExistingFileName || !pcszNewFileName)
        return 0;
    return Pf_MoveFile(Rv_ToNarrow(pcszExistingFileName), Rv_ToNarrow(pcszNewFileName), 1);
}

int Rv_DeleteFile(const char16_t* pcszPath)
{
    return pcszPath && Pf_DeleteFile(Rv_ToNarrow(pcszPath));
}

int Rv_SyncFile(const char16_t* pcszPath)
{
    return pcszPath && Pf_SyncFile(Rv_ToNarrow(pcszPath));
}

int Rv_SyncDirectory(const char16_t* pcszPath)
{
    return pcszPath && Pf_SyncDir(Rv_ToNarrow(pcszPath));
}

FILE* Rv_FOpen(const char16_t* pcszPath, const char* cszMode)
{
    if (!pcszPath || !cszMode)
        return nullptr;
    return Pf_FOpen(Rv_ToNarrow(pcszPath), cszMode);
}

int Rv_CloseWrittenFile(FILE** pfp, int bSync)
{
    if (!pfp || !*pfp)
        return 0;
    int nRetCode = Pf_CloseWrittenStream(*pfp, bSync);
    *pfp = nullptr;
    return nRetCode;
}

std::u16string Rv_JoinPackagePath(const std::u16string& strFolder, const std::u16string& strName)
{
    return strFolder + u"/" + strName;
}
