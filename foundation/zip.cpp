// Zip archives over the unzip library: a handle per archive, sequential
// positioning with a cached description, and extraction to files.
#include "foundation/zip.h"

#include "foundation/zip_entry.h"
#include "platform/file.h"
#include "platform/local_time.h"
#include "platform/path.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <minizip/unzip.h>
#include <string>
#include <vector>

namespace {

const size_t s_uExtractBufferSize = 16384;

bool _IsAbsolute(const std::string& strPath)
{
    return (!strPath.empty() && Pf_IsSeparator(strPath[0])) || (strPath.size() >= 2 && strPath[1] == ':');
}

// Opens the archive file through the platform's path rules.
voidpf ZCALLBACK _OpenArchiveFile(voidpf /*opaque*/, const void* pvFileName, int /*nMode*/)
{
    if (!pvFileName)
        return nullptr;
    return Pf_FOpen((const char*)pvFileName, "rb");
}

// Creates strBase when missing, then base plus every prefix of strPath that
// ends before a separator, then base plus the whole path. Failures are left
// to the file creation that follows.
void _CreateFolderChain(const std::string& strBase, const std::string& strPath)
{
    if (!strBase.empty() && !Pf_DirExists(strBase))
        Pf_CreateDir(strBase);
    for (size_t i = 0; i < strPath.size(); ++i) {
        if (!Pf_IsSeparator(strPath[i]) || i == 0)
            continue;
        std::string strFolder = strBase + strPath.substr(0, i);
        if (!Pf_DirExists(strFolder))
            Pf_CreateDir(strFolder);
    }
    if (!strPath.empty() && !Pf_DirExists(strBase + strPath))
        Pf_CreateDir(strBase + strPath);
}

void _DosTimeToFileTime(const tm_unz& dosTime, Pf_FILETIME* pRetTime)
{
    Pf_SYSTEMTIME localTime = {(int)dosTime.tm_year, (int)dosTime.tm_mon + 1, (int)dosTime.tm_mday,
                               (int)dosTime.tm_hour, (int)dosTime.tm_min, (int)dosTime.tm_sec, 0};
    int64_t llSeconds = 0;
    if (!Pf_LocalTimeToUnix(localTime, &llSeconds))
        llSeconds = 0;
    *pRetTime = Pf_UnixToFileTime(llSeconds, 0);
}

} // namespace

class ZipArchive {
public:
    ZipArchive() : m_hUnzip(nullptr), m_nItemCount(0), m_nPosition(-1), m_nOpenItem(-1), m_nCachedIndex(-1),
                   m_cszPassword(nullptr), m_cachedEntry() {}
    ~ZipArchive() { Close(); }

    ZRESULT Open(const char* cszFileName);
    ZRESULT Describe(int nIndex, ZipEntry* pEntry);
    ZRESULT Extract(int nIndex, const char* cszTarget);
    void Close();

private:
    void _CloseItem();
    ZRESULT _GoTo(int nIndex);
    ZRESULT _ReadEntry(int nIndex, ZipEntry* pEntry);
    ZRESULT _ExtractFile(const ZipEntry& entry, const std::string& strFullPath);

    unzFile m_hUnzip;
    int m_nItemCount;
    int m_nPosition;          // the item the unzip library stands on
    int m_nOpenItem;          // the item open for reading, -1 when none
    int m_nCachedIndex;
    const char* m_cszPassword;   // no password is ever set
    ZipEntry m_cachedEntry;
    std::vector<unsigned char> m_vecBuffer;
    std::string m_strRoot;
};

ZRESULT ZipArchive::Open(const char* cszFileName)
{
    if (m_hUnzip)
        return ZR_ALREADY_OPEN;
    if (!cszFileName || !cszFileName[0])
        return ZR_FILE_ERROR;
    std::string strCurrent;
    if (!Pf_GetCurrentDir(&strCurrent))
        return ZR_FILE_ERROR;
    if (strCurrent.empty() || !Pf_IsSeparator(strCurrent.back()))
        strCurrent += '\\';
    m_strRoot = strCurrent;

    zlib_filefunc64_def fileFuncs;
    fill_fopen64_filefunc(&fileFuncs);
    fileFuncs.zopen64_file = _OpenArchiveFile;
    m_hUnzip = unzOpen2_64(cszFileName, &fileFuncs);
    if (!m_hUnzip)
        return ZR_FILE_ERROR;
    unz_global_info64 globalInfo;
    if (unzGetGlobalInfo64(m_hUnzip, &globalInfo) != UNZ_OK || globalInfo.number_entry > (ZPOS64_T)INT_MAX) {
        Close();
        return ZR_FILE_ERROR;
    }
    m_nItemCount = (int)globalInfo.number_entry;
    m_nPosition = m_nItemCount ? 0 : -1;
    return ZR_OK;
}

void ZipArchive::Close()
{
    _CloseItem();
    if (m_hUnzip)
        unzClose(m_hUnzip);
    m_hUnzip = nullptr;
    m_nItemCount = 0;
    m_nPosition = -1;
    m_nCachedIndex = -1;
}

void ZipArchive::_CloseItem()
{
    if (m_nOpenItem >= 0)
        unzCloseCurrentFile(m_hUnzip);
    m_nOpenItem = -1;
}

ZRESULT ZipArchive::_GoTo(int nIndex)
{
    if (nIndex < m_nPosition || m_nPosition < 0) {
        if (unzGoToFirstFile(m_hUnzip) != UNZ_OK)
            return ZR_CORRUPT_ITEM;
        m_nPosition = 0;
    }
    while (m_nPosition < nIndex) {
        if (unzGoToNextFile(m_hUnzip) != UNZ_OK) {
            m_nPosition = -1;
            return ZR_CORRUPT_ITEM;
        }
        ++m_nPosition;
    }
    return ZR_OK;
}

ZRESULT ZipArchive::_ReadEntry(int nIndex, ZipEntry* pEntry)
{
    ZRESULT zr = _GoTo(nIndex);
    if (zr != ZR_OK)
        return zr;

    unz_file_info64 info;
    char szName[sizeof(pEntry->name)];
    memset(szName, 0, sizeof(szName));
    if (unzGetCurrentFileInfo64(m_hUnzip, &info, szName, sizeof(szName), nullptr, 0, nullptr, 0) != UNZ_OK)
        return ZR_CORRUPT_ITEM;
    // The library leaves a name that fills the buffer unterminated: cut it.
    szName[sizeof(szName) - 1] = '\0';

    // Opening the item checks its local header against the directory entry.
    if (unzOpenCurrentFile(m_hUnzip) != UNZ_OK)
        return ZR_CORRUPT_ITEM;
    m_nOpenItem = nIndex;
    std::vector<unsigned char> vecExtra;
    int nExtraSize = unzGetLocalExtrafield(m_hUnzip, nullptr, 0);
    if (nExtraSize < 0) {
        _CloseItem();
        return ZR_READ_ERROR;
    }
    vecExtra.resize((size_t)nExtraSize);
    if (nExtraSize > 0 && unzGetLocalExtrafield(m_hUnzip, vecExtra.data(), (unsigned)nExtraSize) != nExtraSize) {
        _CloseItem();
        return ZR_READ_ERROR;
    }
    _CloseItem();

    ZipMakeRelativeName(szName);
    memset(pEntry, 0, sizeof(*pEntry));
    pEntry->index = nIndex;
    memcpy(pEntry->name, szName, sizeof(szName));
    pEntry->attr = ZipAttributes((uint32_t)info.version, (uint32_t)info.external_fa);
    pEntry->comp_size = (int32_t)info.compressed_size;
    pEntry->unc_size = (int32_t)info.uncompressed_size;
    _DosTimeToFileTime(info.tmu_date, &pEntry->mtime);
    pEntry->atime = pEntry->mtime;
    pEntry->ctime = pEntry->mtime;
    ZipReadUnixTimes(vecExtra.data(), vecExtra.size(), &pEntry->mtime, &pEntry->atime, &pEntry->ctime);

    m_cachedEntry = *pEntry;
    m_nCachedIndex = nIndex;
    return ZR_OK;
}

ZRESULT ZipArchive::Describe(int nIndex, ZipEntry* pEntry)
{
    if (nIndex < -1 || nIndex >= m_nItemCount)
        return ZR_BAD_ARGUMENT;
    _CloseItem();
    if (nIndex == -1) {
        memset(pEntry, 0, sizeof(*pEntry));
        pEntry->index = m_nItemCount;
        return ZR_OK;
    }
    if (nIndex == m_nCachedIndex) {
        *pEntry = m_cachedEntry;
        return ZR_OK;
    }
    return _ReadEntry(nIndex, pEntry);
}

ZRESULT ZipArchive::Extract(int nIndex, const char* cszTarget)
{
    _CloseItem();
    if (nIndex < 0 || nIndex >= m_nItemCount || !cszTarget)
        return ZR_BAD_ARGUMENT;
    ZipEntry entry;
    ZRESULT zr = Describe(nIndex, &entry);
    if (zr == ZR_OK)
        zr = _GoTo(nIndex);   // a cached description leaves the position where it was
    if (zr != ZR_OK)
        return zr;

    std::string strTarget = cszTarget;
    if (entry.attr & ZIP_ATTR_DIRECTORY) {
        if (_IsAbsolute(strTarget))
            _CreateFolderChain("", strTarget);
        else
            _CreateFolderChain(m_strRoot, strTarget);
        return ZR_OK;
    }

    size_t uSplit = strTarget.find_last_of("\\/");
    std::string strFolder = (uSplit == std::string::npos) ? "" : strTarget.substr(0, uSplit + 1);
    std::string strFile = (uSplit == std::string::npos) ? strTarget : strTarget.substr(uSplit + 1);
    std::string strFullPath;
    if (_IsAbsolute(strFolder)) {
        strFullPath = strFolder + strFile;
        _CreateFolderChain("", strFolder);
    } else {
        strFullPath = m_strRoot + strFolder + strFile;
        _CreateFolderChain(m_strRoot, strFolder);
    }
    return _ExtractFile(entry, strFullPath);
}

ZRESULT ZipArchive::_ExtractFile(const ZipEntry& entry, const std::string& strFullPath)
{
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(m_hUnzip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return ZR_CORRUPT_ITEM;
    // No password is ever given, so an encrypted item cannot be read; it is
    // refused before the target is touched.
    if (info.flag & 1)
        return ZR_PASSWORD_ERROR;
    if (unzOpenCurrentFilePassword(m_hUnzip, m_cszPassword) != UNZ_OK)
        return ZR_CORRUPT_ITEM;
    m_nOpenItem = entry.index;

    FILE* pFile = Pf_FOpen(strFullPath, "wb");
    if (!pFile) {
        _CloseItem();
        return ZR_FILE_ERROR;
    }
    if (m_vecBuffer.empty())
        m_vecBuffer.resize(s_uExtractBufferSize);

    ZRESULT zr = ZR_OK;
    uint64_t ullWritten = 0;
    for (;;) {
        int nRead = unzReadCurrentFile(m_hUnzip, m_vecBuffer.data(), (unsigned)m_vecBuffer.size());
        if (nRead < 0) {
            zr = ZR_INFLATE_ERROR;
            break;
        }
        if (nRead == 0) {
            if (!unzeof(m_hUnzip) || ullWritten != info.uncompressed_size)
                zr = ZR_INFLATE_ERROR;
            break;
        }
        if (fwrite(m_vecBuffer.data(), 1, (size_t)nRead, pFile) != (size_t)nRead) {
            zr = ZR_WRITE_ERROR;
            break;
        }
        ullWritten += (uint64_t)nRead;
    }
    if (fclose(pFile) != 0 && zr == ZR_OK)
        zr = ZR_WRITE_ERROR;
    // Closing the fully read item checks its CRC.
    int nClose = unzCloseCurrentFile(m_hUnzip);
    m_nOpenItem = -1;
    if (zr == ZR_OK && nClose != UNZ_OK)
        zr = ZR_INFLATE_ERROR;
    if (zr == ZR_OK) {
        Pf_SetFileTimes(strFullPath, &entry.atime, &entry.mtime);
        if (entry.attr & ZIP_ATTR_READONLY)
            Pf_SetReadOnly(strFullPath, 1);
    }
    return zr;
}

ZipHandle* OpenZip(const char* cszFileName)
{
    ZipArchive* pArchive = new ZipArchive();
    if (pArchive->Open(cszFileName) != ZR_OK) {
        delete pArchive;
        return nullptr;
    }
    return new ZipHandle{ZIP_HANDLE_READ, pArchive};
}

ZRESULT GetZipItem(ZipHandle* hZip, int nIndex, ZipEntry* pEntry)
{
    if (pEntry) {
        pEntry->index = 0;
        pEntry->name[0] = '\0';
        pEntry->unc_size = 0;
    }
    if (!hZip || !pEntry)
        return ZR_BAD_ARGUMENT;
    if (hZip->nKind != ZIP_HANDLE_READ || !hZip->pArchive)
        return ZR_WRONG_HANDLE;
    return hZip->pArchive->Describe(nIndex, pEntry);
}

ZRESULT ExtractZipItem(ZipHandle* hZip, int nIndex, const char* cszTarget)
{
    if (!hZip)
        return ZR_BAD_ARGUMENT;
    if (hZip->nKind != ZIP_HANDLE_READ || !hZip->pArchive)
        return ZR_WRONG_HANDLE;
    return hZip->pArchive->Extract(nIndex, cszTarget);
}

ZRESULT CloseZipHandle(ZipHandle* hZip)
{
    if (!hZip)
        return ZR_BAD_ARGUMENT;
    if (hZip->nKind != ZIP_HANDLE_READ || !hZip->pArchive)
        return ZR_WRONG_HANDLE;
    delete hZip->pArchive;
    delete hZip;
    return ZR_OK;
}
