// The file manager for files outside any package, its whole-file mappings and
// their view buffers; mappings and views are recycled through object caches.
#include "package/file_mapping.h"

#include "package/log_stream.h"
#include "package/object_cache.h"
#include "package/wide_string.h"
#include "platform/file.h"
#include "platform/mapping.h"
#include "platform/text.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace {

class Rv_OutsidePackageFileMapping;

class Rv_FileMappingFileBuffer : public IRv_FileBuffer {
public:
    Rv_FileMappingFileBuffer() = default;
    ~Rv_FileMappingFileBuffer() override { UnInit(); }

    HRESULT QueryInterface(const Rv_GUID&, void**) override { return E_FAIL; }
    uint32_t AddRef() override { return ++m_uRefCount; }
    uint32_t Release() override;
    uint32_t GetSize() override { return m_uSize; }
    void* GetData() override { return m_pbyData; }

    virtual HRESULT Init(Rv_OutsidePackageFileMapping* pFileMapping, uint64_t ullOffset, uint32_t uSize, Pf_Mapping* hFileMapping,
                         uint32_t uViewAccess, uint32_t uAllocationGranularity);
    virtual void UnInit();

    void ResetRefCount() { m_uRefCount = 1; }

private:
    std::atomic<uint32_t> m_uRefCount{1};
    Rv_OutsidePackageFileMapping* m_pFileMapping = nullptr;
    unsigned char* m_pbyData = nullptr;
    uint32_t m_uSize = 0;
    void* m_pvAlignedData = nullptr;
    uint32_t m_uAlignedSize = 0;
};

// How views of a mapping may be used.
enum RV_VIEW_ACCESS {
    RV_VIEW_ACCESS_COPY = 0,
    RV_VIEW_ACCESS_WRITE = 1,
    RV_VIEW_ACCESS_READ = 2,
};

class Rv_OutsidePackageFileMapping : public IRv_FileMapping {
public:
    Rv_OutsidePackageFileMapping() = default;
    ~Rv_OutsidePackageFileMapping() override { UnInit(); }

    HRESULT QueryInterface(const Rv_GUID&, void**) override { return E_FAIL; }
    uint32_t AddRef() override { return ++m_uRefCount; }
    uint32_t Release() override;
    HRESULT MapView(uint64_t ullOffset, uint32_t uSize, IRv_FileBuffer** ppRetBuffer) override;
    HRESULT GetFileInfo(Rv_FileInfo* pRetFileInfo) override;
    HRESULT Read(uint64_t ullOffset, uint32_t uSize, void* pvRetData) override { return _Copy(ullOffset, uSize, nullptr, pvRetData); }
    HRESULT Write(uint64_t ullOffset, uint32_t uSize, const void* pvData) override { return _Copy(ullOffset, uSize, pvData, nullptr); }

    virtual HRESULT Init(const std::string& strPath, uint32_t uMode);
    virtual void UnInit();

    void ResetRefCount() { m_uRefCount = 1; }

private:
    HRESULT _Copy(uint64_t ullOffset, uint32_t uSize, const void* pvIn, void* pvOut);

    std::atomic<uint32_t> m_uRefCount{1};
    uint32_t m_uMode = 0;
    uint32_t m_uViewAccess = RV_VIEW_ACCESS_READ;
    uint64_t m_ullFileSize = 0;
    uint32_t m_uAllocationGranularity = 0;
    Pf_Mapping* m_hFileMapping = nullptr;
    Pf_MapFile* m_hFile = nullptr;
    std::string m_strPath;
};

Rv_ObjectCache<Rv_OutsidePackageFileMapping> s_FileMappingCache;
Rv_ObjectCache<Rv_FileMappingFileBuffer> s_FileBufferCache;

uint32_t Rv_FileMappingFileBuffer::Release()
{
    uint32_t uCount = --m_uRefCount;
    if (uCount == 0) {
        UnInit();
        s_FileBufferCache.Give(this);
    }
    return uCount;
}

HRESULT Rv_FileMappingFileBuffer::Init(Rv_OutsidePackageFileMapping* pFileMapping, uint64_t ullOffset, uint32_t uSize,
                                       Pf_Mapping* hFileMapping, uint32_t uViewAccess, uint32_t uAllocationGranularity)
{
    HRESULT hrResult = E_FAIL;
    int nRetCode = 0;
    uint64_t ullMisalignment = 0;
    uint64_t ullAlignedOffset = 0;
    uint64_t ullAlignedSize = 0;
    void* pvView = nullptr;

    RVPK_ASSERT_EXIT(pFileMapping);
    RVPK_ASSERT_EXIT(hFileMapping);
    RVPK_ASSERT_EXIT(uAllocationGranularity > 0);
    RVPK_ASSERT_EXIT(m_pFileMapping == nullptr);
    pFileMapping->AddRef();
    m_pFileMapping = pFileMapping;
    m_uSize = uSize;
    ullMisalignment = ullOffset % uAllocationGranularity;
    ullAlignedOffset = ullOffset - ullMisalignment;
    // In 64 bits: a size near 4 GiB plus the misalignment must not wrap
    // into a small view that the caller would then overrun.
    ullAlignedSize = (uint64_t)uSize + ullMisalignment;
    RVPK_PROCESS_ERROR(ullAlignedSize <= UINT32_MAX);
    m_uAlignedSize = (uint32_t)ullAlignedSize;
    if (uViewAccess == RV_VIEW_ACCESS_COPY)
        nRetCode = Pf_MapViewCopyOnWrite(hFileMapping, ullAlignedOffset, m_uAlignedSize, &pvView);
    else
        nRetCode = Pf_MapView(hFileMapping, ullAlignedOffset, m_uAlignedSize, uViewAccess == RV_VIEW_ACCESS_WRITE, &pvView);
    if (!nRetCode) {
        int nError = Pf_GetLastError();
        if (nError == ENOMEM)
            Rv_LogPrintf(u"ERROR: No enough memory for FileMapping");
        Rv_LogPrintf(u"ERROR: MapViewOfFile failed. m_uAlignedSize = %llu,  ErrCode = %u", (unsigned long long)m_uAlignedSize,
                     (unsigned)nError);
        goto Exit0;
    }
    m_pvAlignedData = pvView;
    m_pbyData = (unsigned char*)pvView + ullMisalignment;
    RVPK_PROCESS_ERROR(m_pbyData);
    hrResult = S_OK;
Exit0:
    if (FAILED(hrResult))
        UnInit();
    return hrResult;
}

void Rv_FileMappingFileBuffer::UnInit()
{
    m_uSize = 0;
    m_pbyData = nullptr;
    if (m_pvAlignedData) {
        if (!Pf_UnmapView(m_pvAlignedData, m_uAlignedSize))
            Rv_LogPrintf(u"UnmapViewOfFile error. m_pvAlignedData = %p", m_pvAlignedData);
    }
    m_pvAlignedData = nullptr;
    m_uAlignedSize = 0;
    Rv_ComRelease(m_pFileMapping);
}

uint32_t Rv_OutsidePackageFileMapping::Release()
{
    uint32_t uCount = --m_uRefCount;
    if (uCount == 0) {
        UnInit();
        s_FileMappingCache.Give(this);
    }
    return uCount;
}

HRESULT Rv_OutsidePackageFileMapping::Init(const std::string& strPath, uint32_t uMode)
{
    HRESULT hrResult = E_FAIL;
    int nRetCode = 0;
    int bWritable = 0;

    if (m_hFile || m_hFileMapping)
        goto Exit0;
    switch (uMode) {
    case RV_FILE_MAPPING_MODE_WRITE_COPY:
        m_uViewAccess = RV_VIEW_ACCESS_COPY;
        break;
    case RV_FILE_MAPPING_MODE_READ_WRITE:
        m_uViewAccess = RV_VIEW_ACCESS_WRITE;
        bWritable = 1;
        break;
    case RV_FILE_MAPPING_MODE_READ_ONLY:
        m_uViewAccess = RV_VIEW_ACCESS_READ;
        break;
    default:
        goto Exit0;
    }
    m_uMode = uMode;
    m_strPath = strPath;
    m_hFile = Pf_OpenMapFile(strPath, bWritable);
    if (!m_hFile)
        goto Exit0;
    m_hFileMapping = Pf_CreateMapping(m_hFile, bWritable, 0);
    RVPK_PROCESS_ERROR(m_hFileMapping != NULL);
    nRetCode = Pf_GetMapFileSize(m_hFile, &m_ullFileSize);
    RVPK_PROCESS_ERROR(nRetCode);
    m_uAllocationGranularity = Pf_GetAllocationGranularity();
    hrResult = S_OK;
Exit0:
    if (FAILED(hrResult))
        UnInit();
    return hrResult;
}

void Rv_OutsidePackageFileMapping::UnInit()
{
    if (m_hFileMapping) {
        Pf_CloseMapping(m_hFileMapping);
        m_hFileMapping = nullptr;
    }
    if (m_hFile) {
        Pf_CloseMapFile(m_hFile);
        m_hFile = nullptr;
    }
    m_ullFileSize = 0;
}

HRESULT Rv_OutsidePackageFileMapping::MapView(uint64_t ullOffset, uint32_t uSize, IRv_FileBuffer** ppRetBuffer)
{
    HRESULT hrResult = E_FAIL;
    HRESULT hrRetCode = E_FAIL;
    Rv_FileMappingFileBuffer* pBuffer = nullptr;
    uint64_t ullRemainSize = 0;

    RVPK_ASSERT_EXIT(m_hFileMapping);
    RVPK_ASSERT_EXIT(uSize <= m_ullFileSize);
    // Written so that a huge offset cannot wrap the sum.
    RVPK_ASSERT_EXIT(ullOffset <= m_ullFileSize && uSize <= m_ullFileSize - ullOffset && "ullOffset + uSize <= m_ullFileSize");
    RVPK_ASSERT_EXIT(ppRetBuffer);
    if (uSize == 0) {
        ullRemainSize = m_ullFileSize - ullOffset;
        RVPK_PROCESS_ERROR(ullRemainSize > 0);
        RVPK_PROCESS_ERROR(ullRemainSize <= UINT32_MAX);
        uSize = (uint32_t)ullRemainSize;
    }
    pBuffer = s_FileBufferCache.Take();
    RVPK_PROCESS_ERROR(pBuffer && "*ppRetBuffer");
    pBuffer->ResetRefCount();
    hrRetCode = pBuffer->Init(this, ullOffset, uSize, m_hFileMapping, m_uViewAccess, m_uAllocationGranularity);
    if (FAILED(hrRetCode))
        goto Exit0;
    *ppRetBuffer = pBuffer;
    pBuffer = nullptr;
    hrResult = S_OK;
Exit0:
    if (pBuffer)
        s_FileBufferCache.Give(pBuffer);
    return hrResult;
}

// A read (pvOut) or a write (pvIn) through the file, checked as a view would be.
HRESULT Rv_OutsidePackageFileMapping::_Copy(uint64_t ullOffset, uint32_t uSize, const void* pvIn, void* pvOut)
{
    HRESULT hrResult = E_FAIL;
    int nRetCode = 0;

    RVPK_ASSERT_EXIT(m_hFile);
    RVPK_ASSERT_EXIT(pvIn || pvOut);
    RVPK_ASSERT_EXIT(!pvIn || m_uViewAccess == RV_VIEW_ACCESS_WRITE);
    RVPK_ASSERT_EXIT(ullOffset <= m_ullFileSize && uSize <= m_ullFileSize - ullOffset && "ullOffset + uSize <= m_ullFileSize");
    nRetCode = pvIn ? Pf_WriteMapFile(m_hFile, ullOffset, pvIn, uSize) : Pf_ReadMapFile(m_hFile, ullOffset, pvOut, uSize);
    if (!nRetCode)
        Rv_LogPrintf(u"ERROR: %s failed. ullOffset = %llu, uSize = %u, ErrCode = %u", pvIn ? u"WriteFile" : u"ReadFile",
                     (unsigned long long)ullOffset, (unsigned)uSize, (unsigned)Pf_GetLastError());
    RVPK_PROCESS_ERROR(nRetCode);
    hrResult = S_OK;
Exit0:
    return hrResult;
}

HRESULT Rv_OutsidePackageFileMapping::GetFileInfo(Rv_FileInfo* pRetFileInfo)
{
    HRESULT hrResult = E_FAIL;
    int nRetCode = 0;
    Pf_FILETIME ftCreation{};
    Pf_FILETIME ftWrite{};
    const uint64_t ullEpochDifference = 116444736000000000ULL;

    RVPK_ASSERT_EXIT(pRetFileInfo);
    memset(pRetFileInfo, 0, sizeof(*pRetFileInfo));
    RVPK_ASSERT_EXIT(m_hFile);
    nRetCode = Pf_GetFileTimes(m_strPath, &ftCreation, nullptr, &ftWrite);
    RVPK_PROCESS_ERROR(nRetCode);
    pRetFileInfo->ullFileSize = m_ullFileSize;
    pRetFileInfo->ullCreationTime = (Pf_FileTimeToU64(ftCreation) - ullEpochDifference) / 10000000;
    pRetFileInfo->ullLastWriteTime = (Pf_FileTimeToU64(ftWrite) - ullEpochDifference) / 10000000;
    pRetFileInfo->uMode = m_uMode;
    pRetFileInfo->uReserved = 0;
    hrResult = S_OK;
Exit0:
    return hrResult;
}

class Rv_OutsidePackageFileManager : public IRv_FileManager {
public:
    explicit Rv_OutsidePackageFileManager(std::u16string wstrRootDirectory) : m_wstrRootDirectory(std::move(wstrRootDirectory)) {}

    HRESULT QueryInterface(const Rv_GUID&, void**) override { return E_FAIL; }
    uint32_t AddRef() override { return ++m_uRefCount; }
    uint32_t Release() override
    {
        uint32_t uCount = --m_uRefCount;
        if (uCount == 0)
            delete this;
        return uCount;
    }
    HRESULT CreateFileMapping(const char16_t* cszFilePath, uint32_t uMode, IRv_FileMapping** ppRetFileMapping) override;
    int IsFileExists(const char16_t* cszFilePath, int* pbRetExist) override;

private:
    ~Rv_OutsidePackageFileManager() override = default;
    std::atomic<uint32_t> m_uRefCount{1};
    std::u16string m_wstrRootDirectory;
};

HRESULT Rv_OutsidePackageFileManager::CreateFileMapping(const char16_t* cszFilePath, uint32_t uMode, IRv_FileMapping** ppRetFileMapping)
{
    HRESULT hrResult = E_FAIL;
    HRESULT hrRetCode = E_FAIL;
    int nRetCode = 0;
    std::u16string wstrRealPath;
    Rv_OutsidePackageFileMapping* pFileMapping = nullptr;

    RVPK_ASSERT_EXIT(cszFilePath);
    RVPK_ASSERT_EXIT(ppRetFileMapping);
    if (cszFilePath[0] == u'\0')
        goto Exit0;
    nRetCode = Rv_GetOutsidePackageRealPath(m_wstrRootDirectory.c_str(), cszFilePath, &wstrRealPath);
    RVPK_PROCESS_ERROR(nRetCode);
    pFileMapping = s_FileMappingCache.Take();
    RVPK_PROCESS_ERROR(pFileMapping && "*ppRetFileMapping");
    pFileMapping->ResetRefCount();
    hrRetCode = pFileMapping->Init(Rv_ToNarrow(wstrRealPath), uMode);
    if (FAILED(hrRetCode))
        goto Exit0;
    *ppRetFileMapping = pFileMapping;
    pFileMapping = nullptr;
    hrResult = S_OK;
Exit0:
    if (pFileMapping)
        s_FileMappingCache.Give(pFileMapping);
    return hrResult;
}

int Rv_OutsidePackageFileManager::IsFileExists(const char16_t* cszFilePath, int* pbRetExist)
{
    int nResult = 0;

    RVPK_ASSERT_EXIT(cszFilePath);
    RVPK_ASSERT_EXIT(pbRetExist);
    *pbRetExist = Pf_PathExists(Rv_ToNarrow(cszFilePath)) ? 1 : 0;
    nResult = 1;
Exit0:
    return nResult;
}

} // namespace

int Rv_GetOutsidePackageRealPath(const char16_t* pcszRootDirectory, const char16_t* pcszPath, std::u16string* pwstrRetPath)
{
    int nResult = 0;
    int nRetCode = 0;
    std::u16string wstrBase;
    std::string strCurrentDir;

    RVPK_ASSERT_EXIT(pcszPath);
    RVPK_ASSERT_EXIT(pwstrRetPath);
    if (pcszPath[0] == u'/' || pcszPath[0] == u'\\' || (pcszPath[0] != u'\0' && pcszPath[1] == u':')) {
        *pwstrRetPath = pcszPath;   // absolute: taken unchanged
        nResult = 1;
        goto Exit0;
    }
    if (pcszRootDirectory && pcszRootDirectory[0]) {
        wstrBase = pcszRootDirectory;
    } else {
        nRetCode = Pf_GetCurrentDir(&strCurrentDir);
        RVPK_PROCESS_ERROR(nRetCode && "nRetCode > 0");
        wstrBase = Pf_Utf8ToUtf16(strCurrentDir);
    }
    *pwstrRetPath = wstrBase + u"/" + pcszPath;
    RVPK_PROCESS_ERROR(pwstrRetPath->size() < RV_OUTSIDE_PACKAGE_PATH_LEN && "nRetCode > 0");
    nResult = 1;
Exit0:
    return nResult;
}

HRESULT Rv_CreateOutsidePackageFileManager(const char16_t* cpszRootDirectory, IRv_FileManager** ppRetFileManager)
{
    HRESULT hrResult = E_FAIL;
    std::u16string wstrRoot;
    Rv_OutsidePackageFileManager* pManager = nullptr;

    RVPK_ASSERT_EXIT(ppRetFileManager);
    if (cpszRootDirectory)
        wstrRoot = cpszRootDirectory;
    RVPK_PROCESS_ERROR(wstrRoot.size() < RV_OUTSIDE_PACKAGE_PATH_LEN && "nRetCode");
    pManager = new (std::nothrow) Rv_OutsidePackageFileManager(wstrRoot);
    RVPK_PROCESS_ERROR(pManager);
    *ppRetFileManager = pManager;
    hrResult = S_OK;
Exit0:
    return hrResult;
}

unsigned Rv_GetIdleFileMappingCount()
{
    return s_FileMappingCache.IdleCount();
}

unsigned Rv_GetIdleFileBufferCount()
{
    return s_FileBufferCache.IdleCount();
}
