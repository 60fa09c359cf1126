// The set of a package's directory files by branch name, and the address
// moves of an update, applied to all of them at once.
#include "package/directory_file.h"

#include "package/log_stream.h"
#include "package/package_backup.h"
#include "package/wide_string.h"

#include <algorithm>
#include <new>

enum { RVPK_MAX_BRANCH_NAME_LEN = 63 };

int Rv_DirectoryFiles::Init(const char16_t* pcszDirFilesDirectory, uint32_t uFileNameHashSizeType, uint32_t uFileAddressSizeType,
                            uint32_t uFileBufferSizeSizeType)
{
    int nResult = 0;
    int nRetCode = 0;
    std::vector<std::u16string> vecNames;
    std::u16string strBranchName;
    size_t uDot = 0;
    size_t uBranceNameLength = 0;
    int bStarted = 0;

    RVPK_ASSERT_EXIT(pcszDirFilesDirectory);
    RVPK_ASSERT_EXIT(m_DirectoryFilesMap.empty());
    bStarted = 1;
    m_uFileNameHashSizeType = uFileNameHashSizeType;
    m_uFileAddressSizeType = uFileAddressSizeType;
    m_uFileBufferSizeSizeType = uFileBufferSizeSizeType;
    m_MoveList.clear();
    nRetCode = Rv_ListPackageFiles(pcszDirFilesDirectory, &vecNames);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const std::u16string& strName : vecNames) {
        uDot = strName.rfind(u'.');
        if (uDot == std::u16string::npos || !Rv_StrCaseEqual(strName.substr(uDot + 1), u"DIR"))
            continue;
        uBranceNameLength = uDot;
        RVPK_PROCESS_ERROR_QUOTING(uBranceNameLength > 0 && uBranceNameLength <= RVPK_MAX_BRANCH_NAME_LEN, "uBranceNameLength > 0");
        strBranchName = strName.substr(0, uDot);
        nRetCode = Load(pcszDirFilesDirectory, strBranchName.c_str());
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    if (!nResult && bStarted)
        UnInit();
    return nResult;
}

int Rv_DirectoryFiles::Load(const char16_t* pcszDirectory, const char16_t* pcszBranchName)
{
    int nResult = 0;
    int nRetCode = 0;
    std::unique_ptr<Rv_DirectoryFile> pDirectoryFile;

    RVPK_ASSERT_EXIT(pcszDirectory);
    RVPK_ASSERT_EXIT(pcszBranchName);
    RVPK_PROCESS_ERROR_QUOTING(!IsBranchLoaded(pcszBranchName), "ibRetCode.second");
    pDirectoryFile.reset(new (std::nothrow) Rv_DirectoryFile);
    RVPK_PROCESS_ERROR(pDirectoryFile);
    nRetCode = pDirectoryFile->Init(pcszDirectory, pcszBranchName, m_uFileNameHashSizeType, m_uFileAddressSizeType,
                                    m_uFileBufferSizeSizeType);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = pDirectoryFile->Load();
    RVPK_PROCESS_ERROR(nRetCode);
    m_DirectoryFilesMap.emplace(pcszBranchName, std::move(pDirectoryFile));
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFiles::IsBranchLoaded(const std::u16string& strBranchName) const
{
    for (const auto& [strLoaded, pDirectoryFile] : m_DirectoryFilesMap) {
        (void)pDirectoryFile;
        if (Rv_StrCaseEqual(strLoaded, strBranchName))
            return 1;
    }
    return 0;
}

int Rv_DirectoryFiles::Save(uint32_t uDataVersion)
{
    int nResult = 0;
    int nRetCode = 0;

    for (auto& [strBranch, pDirectoryFile] : m_DirectoryFilesMap) {
        (void)strBranch;
        nRetCode = pDirectoryFile->Save(uDataVersion);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFiles::GetDirectoryFile(const std::u16string& strBranchName, Rv_DirectoryFile** ppRetDirectoryFile)
{
    int nResult = 0;
    auto it = m_DirectoryFilesMap.find(strBranchName);

    RVPK_ASSERT_EXIT(!strBranchName.empty());
    RVPK_ASSERT_EXIT(ppRetDirectoryFile);
    RVPK_PROCESS_ERROR(it != m_DirectoryFilesMap.end());
    *ppRetDirectoryFile = it->second.get();
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFiles::MoveDirectoryAddress(uint64_t ullSrcAddress, uint64_t ullDestAddress)
{
    int nResult = 0;

    RVPK_PROCESS_ERROR(ullSrcAddress != ullDestAddress);
    m_MoveList.push_back(RVPK_DIRECTORY_MOVE{ullSrcAddress, ullDestAddress});
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFiles::FlushMoveDirectory()
{
    int nResult = 0;
    int nRetCode = 0;

    std::sort(m_MoveList.begin(), m_MoveList.end(),
              [](const RVPK_DIRECTORY_MOVE& A, const RVPK_DIRECTORY_MOVE& B) { return A.ullSrcAddress < B.ullSrcAddress; });
    for (auto& [strBranch, pDirectoryFile] : m_DirectoryFilesMap) {
        (void)strBranch;
        nRetCode = pDirectoryFile->MoveAddresses(m_MoveList);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    m_MoveList.clear();
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DirectoryFiles::UnInit()
{
    m_DirectoryFilesMap.clear();
    m_MoveList.clear();
    return 1;
}

std::vector<std::u16string> Rv_DirectoryFiles::GetFilePaths() const
{
    std::vector<std::u16string> vecPaths;
    for (const auto& [strBranch, pDirectoryFile] : m_DirectoryFilesMap) {
        (void)strBranch;
        vecPaths.push_back(pDirectoryFile->GetFilePath());
    }
    return vecPaths;
}
