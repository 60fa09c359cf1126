// One directory file: loading it with every count and text field checked
// against the file, the in-memory changes of an update, and saving it in
// hash-bucket order through a synced temporary file renamed over the path.
// Also the empty directory file of a new branch.
#include "package/directory_file.h"

#include "package/durable_file.h"
#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_string.h"
#include "platform/stream_length.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

enum { RVPK_DIR_PATH_LEN = 260, RVPK_DIR_NAME_UNITS = 64 };

int Rv_DirectoryFile::Init(const char16_t* pcszDirectory, const char16_t* pcszBranchName, uint32_t uFileNameHashSizeType,
                           uint32_t uFileAddressSizeType, uint32_t uFileBufferSizeSizeType)
{
    int nResult = 0;
    std::u16string strBranch;
    std::u16string strPath;

    RVPK_ASSERT_EXIT(m_DirectoryItemMap.empty());
    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pcszBranchName);
    strBranch = pcszBranchName;
    // The branch becomes a file name of the package folder.
    RVPK_PROCESS_ERROR(Rv_IsSafeFileName(strBranch) && strBranch.size() < RVPK_DIR_NAME_UNITS);
    strPath = std::u16string(pcszDirectory) + u"\\" + strBranch + u".DIR";
    RVPK_PROCESS_ERROR_QUOTING(strPath.size() < RVPK_DIR_PATH_LEN, "nRetCode != -1");
    m_wstrDirectory = pcszDirectory;
    m_wstrFilePath = strPath;
    m_uFileNameHashSizeType = uFileNameHashSizeType;
    m_uFileAddressSizeType = uFileAddressSizeType;
    m_uFileBufferSizeSizeType = uFileBufferSizeSizeType;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFile::Load()
{
    int nResult = 0;
    int nRetCode = 0;
    FILE* fpDirFile = nullptr;
    size_t uReadCount = 0;
    RVPK_DIRECTORY_HEADER Header;
    std::u16string strText;
    uint64_t ullFileLength = 0;
    uint64_t ullArraySize = 0;
    RVPK_DirectoryEntryArray EntryArray;
    std::unique_ptr<unsigned char[]> pbyDirectoryBuffer;
    RVPK_DIRECTORY_ITEM_MAP ItemMap;
    RVPK_DIRECTORY_ENTRY Entry;

    RVPK_ASSERT_EXIT(!m_wstrFilePath.empty());
    fpDirFile = Rv_FOpen(m_wstrFilePath.c_str(), "rb");
    if (!fpDirFile)
        Rv_LogPrintf(u"Error: open file failed. m_szFilePath = %s", m_wstrFilePath.c_str());
    RVPK_PROCESS_ERROR(fpDirFile);
    uReadCount = fread(&Header, sizeof(Header), 1, fpDirFile);
    RVPK_PROCESS_ERROR(uReadCount == 1);
    RVPK_PROCESS_ERROR_QUOTING(Header.uSignature == RVPK_DIR_SIGNATURE, "m_DirectoryHeader.uSignature == RVPK_DIR_SIGNATURE");
    RVPK_PROCESS_ERROR_QUOTING(Header.uFileFormatVersion == RVPK_VERSION, "m_DirectoryHeader.uFileFormatVersion == RVPK_VERSION");
    // Text fields are read within their 64 units; one without terminator is malformed.
    nRetCode = Rv_ReadFixedString(Header.szBranchName, RVPK_DIR_NAME_UNITS, &strText);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szBranchName terminated");
    nRetCode = Rv_ReadFixedString(Header.szConfigFileName, RVPK_DIR_NAME_UNITS, &strText);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szConfigFileName terminated");

    if (Header.uEntryCount > 0) {
        nRetCode = EntryArray.Init(Header.uEntryCount, m_uFileNameHashSizeType, m_uFileAddressSizeType, m_uFileBufferSizeSizeType,
                                   &ullArraySize);
        RVPK_PROCESS_ERROR(nRetCode);
        // The entries must be in the file before any memory is sized by their count.
        nRetCode = Pf_GetStreamLength(fpDirFile, &ullFileLength);
        RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Pf_GetStreamLength(fpDirFile)");
        RVPK_PROCESS_ERROR_QUOTING(ullArraySize <= ullFileLength - sizeof(RVPK_DIRECTORY_HEADER), "entries within the file");
        pbyDirectoryBuffer.reset(new (std::nothrow) unsigned char[ullArraySize]);
        RVPK_PROCESS_ERROR(pbyDirectoryBuffer);
        uReadCount = fread(pbyDirectoryBuffer.get(), (size_t)ullArraySize, 1, fpDirFile);
        RVPK_PROCESS_ERROR_QUOTING(uReadCount == 1, "uReadCount");
        nRetCode = EntryArray.AttachToBuffer(pbyDirectoryBuffer.get(), ullArraySize);
        RVPK_PROCESS_ERROR(nRetCode);
        for (uint32_t i = 0; i < Header.uEntryCount; ++i) {
            nRetCode = EntryArray.GetFileNameHash(i, &Entry.ullFileNameHash);
            RVPK_PROCESS_ERROR(nRetCode);
            nRetCode = EntryArray.GetFileAddress(i, &Entry.ullAddress);
            RVPK_PROCESS_ERROR(nRetCode);
            nRetCode = EntryArray.GetFileBufferSize(i, &Entry.ullSize);
            RVPK_PROCESS_ERROR(nRetCode);
            nRetCode = ItemMap.emplace(Entry.ullFileNameHash, Entry).second;
            RVPK_PROCESS_ERROR_QUOTING(nRetCode, "pairRetCode.second");
        }
    }
    m_DirectoryHeader = Header;
    m_DirectoryItemMap.swap(ItemMap);
    nResult = 1;
Exit0:
    if (fpDirFile)
        fclose(fpDirFile);
    return nResult;
}

int Rv_DirectoryFile::AddDirectoryItem(uint64_t ullFileNameHash, uint64_t ullAddress, uint64_t ullSize)
{
    int nResult = 0;
    RVPK_DIRECTORY_ITEM_MAP::iterator it = m_DirectoryItemMap.find(ullFileNameHash);

    RVPK_PROCESS_ERROR(it == m_DirectoryItemMap.end());
    m_DirectoryItemMap.emplace(ullFileNameHash, RVPK_DIRECTORY_ENTRY{ullFileNameHash, ullAddress, ullSize});
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFile::ModifyDirectoryItem(uint64_t ullFileNameHash, uint64_t ullAddress, uint64_t ullSize)
{
    int nResult = 0;
    RVPK_DIRECTORY_ITEM_MAP::iterator it = m_DirectoryItemMap.find(ullFileNameHash);

    RVPK_PROCESS_ERROR(it != m_DirectoryItemMap.end());
    RVPK_PROCESS_ERROR(it->second.ullFileNameHash == ullFileNameHash);
    it->second.ullAddress = ullAddress;
    it->second.ullSize = ullSize;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFile::MoveAddresses(const std::vector<RVPK_DIRECTORY_MOVE>& rMoveList)
{
    for (auto& [ullHash, Entry] : m_DirectoryItemMap) {
        (void)ullHash;
        auto it = std::lower_bound(rMoveList.begin(), rMoveList.end(), Entry.ullAddress,
                                   [](const RVPK_DIRECTORY_MOVE& Move, uint64_t ullAddress) { return Move.ullSrcAddress < ullAddress; });
        if (it != rMoveList.end() && it->ullSrcAddress == Entry.ullAddress)
            Entry.ullAddress = it->ullDestAddress;
    }
    return 1;
}

int Rv_DirectoryFile::Save(uint32_t uDataVersion)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_DIRECTORY_HEADER Header = m_DirectoryHeader;
    RVPK_DirectoryEntryArray EntryArray;
    uint64_t ullArraySize = 0;
    std::unique_ptr<unsigned char[]> pbyDirBufferArray;
    uint32_t uIndex = 0;

    RVPK_ASSERT_EXIT(!m_wstrFilePath.empty());
    RVPK_PROCESS_ERROR(m_DirectoryItemMap.size() <= UINT32_MAX);
    Header.uDataVersion = uDataVersion;
    Header.uEntryCount = (uint32_t)m_DirectoryItemMap.size();
    nRetCode = EntryArray.Init(Header.uEntryCount, m_uFileNameHashSizeType, m_uFileAddressSizeType, m_uFileBufferSizeSizeType,
                               &ullArraySize);
    RVPK_PROCESS_ERROR(nRetCode);
    if (Header.uEntryCount > 0) {
        // Everything is laid out in memory first: a value too wide for its
        // field fails before anything is written.
        pbyDirBufferArray.reset(new (std::nothrow) unsigned char[ullArraySize]);
        RVPK_PROCESS_ERROR(pbyDirBufferArray);
        nRetCode = EntryArray.AttachToBuffer(pbyDirBufferArray.get(), ullArraySize);
        RVPK_PROCESS_ERROR(nRetCode);
        for (const auto& [ullHash, Entry] : m_DirectoryItemMap) {
            nRetCode = EntryArray.SetFileNameHash(uIndex, ullHash);
            RVPK_PROCESS_ERROR(nRetCode);
            nRetCode = EntryArray.SetFileAddress(uIndex, Entry.ullAddress);
            RVPK_PROCESS_ERROR(nRetCode);
            nRetCode = EntryArray.SetFileBufferSize(uIndex, Entry.ullSize);
            RVPK_PROCESS_ERROR(nRetCode);
            ++uIndex;
        }
        nRetCode = EntryArray.SortByHashBucket();
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nRetCode = Rv_WriteFileDurably(m_wstrFilePath, m_wstrDirectory, &Header, sizeof(Header), pbyDirBufferArray.get(), (size_t)ullArraySize,
                                   Rv_DurableWriteLog{u"Error: open file failed. szTempFileName = %s", 1, "fpDirFile", "uWriteCount == 1"});
    RVPK_PROCESS_ERROR(nRetCode);
    m_DirectoryHeader = Header;
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_CreateEmptyDirectoryFileInMemory(const char16_t* pcszBranchName, const char16_t* pcszConfigFileName, IRv_Buffer** ppiRetBuffer)
{
    int nResult = 0;
    int nRetCode = 0;
    HRESULT hRetCode = E_FAIL;
    RVPK_DIRECTORY_HEADER Header;
    IRv_Buffer* piBuffer = nullptr;

    RVPK_ASSERT_EXIT(pcszBranchName);
    RVPK_ASSERT_EXIT(pcszConfigFileName);
    RVPK_ASSERT_EXIT(ppiRetBuffer);
    memset(&Header, 0, sizeof(Header));
    Header.uSignature = RVPK_DIR_SIGNATURE;
    Header.uFileFormatVersion = RVPK_VERSION;
    nRetCode = Rv_WriteFixedString(Header.szBranchName, RVPK_DIR_NAME_UNITS, pcszBranchName);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_WriteFixedString(Header.szConfigFileName, RVPK_DIR_NAME_UNITS, pcszConfigFileName);
    RVPK_PROCESS_ERROR(nRetCode);
    hRetCode = Rv_CreateBuffer(sizeof(Header), &piBuffer);
    RVPK_COM_PROCESS_ERROR(hRetCode);
    memcpy(piBuffer->GetData(), &Header, sizeof(Header));
    *ppiRetBuffer = piBuffer;
    piBuffer = nullptr;
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    return nResult;
}

int Rv_CreateEmptyDirectoryFile(const char16_t* pcszDirectory, const char16_t* pcszBranchName, const char16_t* pcszConfigFileName)
{
    int nResult = 0;
    int nRetCode = 0;
    IRv_Buffer* piBuffer = nullptr;
    std::u16string strBranch;
    std::u16string strDirFilePath;

    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pcszBranchName);
    RVPK_ASSERT_EXIT(pcszConfigFileName);
    strBranch = pcszBranchName;
    RVPK_PROCESS_ERROR_QUOTING(Rv_IsSafeFileName(strBranch), "Rv_IsSafeFileName(pcszBranchName)");
    nRetCode = Rv_CreateEmptyDirectoryFileInMemory(pcszBranchName, pcszConfigFileName, &piBuffer);
    RVPK_PROCESS_ERROR(nRetCode);
    strDirFilePath = std::u16string(pcszDirectory) + u"\\" + strBranch + u".DIR";
    RVPK_PROCESS_ERROR_QUOTING(strDirFilePath.size() < RVPK_DIR_PATH_LEN, "nRetCode != -1");
    nRetCode = Rv_WriteFileDurably(strDirFilePath, pcszDirectory, piBuffer->GetData(), sizeof(RVPK_DIRECTORY_HEADER), nullptr, 0,
                                   Rv_DurableWriteLog{u"Error: open file failed. szDirFilePath = %s", 0, "fpFile", "uWriteCount == 1"});
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    return nResult;
}
