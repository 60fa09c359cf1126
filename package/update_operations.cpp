// The operation stream of an update file: the dispatcher and the handlers of
// directory entries, inline data, data files, moves, stand-alone files and
// new directory files. Every size read from the update file is checked
// against the bytes the file still holds before memory is sized by it, and
// every name is checked before it becomes part of a path.
#include "package/update_operations.h"

#include "package/durable_file.h"
#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/update_package.h"
#include "package/wide_string.h"
#include "platform/file.h"

#include <cstring>
#include <vector>

enum { RVPK_UPDATE_PATH_LEN = 260, RVPK_NAME_UNITS = 64 };

// Reads an inline payload of uSize bytes into a new buffer.
static int _ReadInlineData(Rv_UpdateFileReader* pReader, uint32_t uSize, IRv_Buffer** ppiRetBuffer)
{
    int nResult = 0;
    int nRetCode = 0;
    HRESULT hRetCode = E_FAIL;
    IRv_Buffer* piBuffer = nullptr;

    nRetCode = pReader->CheckDataAvailable(uSize);
    RVPK_PROCESS_ERROR(nRetCode);
    hRetCode = Rv_CreateBuffer(uSize, &piBuffer);
    RVPK_COM_PROCESS_ERROR(hRetCode);
    // A size of 0 fails here ("uDataSize > 0"): an empty payload cannot be added.
    nRetCode = pReader->GetNextData(piBuffer->GetData(), uSize);
    RVPK_PROCESS_ERROR(nRetCode);
    *ppiRetBuffer = piBuffer;
    piBuffer = nullptr;
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    return nResult;
}

int _AddDirIndex(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_DIRECTORY_ENTRY_OPERATION Operation;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDirectoryFile->AddDirectoryItem(Operation.ullFileNameHash, Operation.ullAddress, Operation.ullSize);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int _ModifyDirectoryEntry(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_DIRECTORY_ENTRY_OPERATION Operation;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDirectoryFile->ModifyDirectoryItem(Operation.ullFileNameHash, Operation.ullAddress, Operation.ullSize);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int _AddData(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_DATA_SEGMENT Operation;
    IRv_Buffer* pbyDataBuffer = nullptr;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    // The payload is read with a 32-bit size: a larger one would be cut while the write takes it whole.
    RVPK_PROCESS_ERROR(Operation.ullSize <= UINT32_MAX);
    nRetCode = _ReadInlineData(rTargets.pUpdateFileReader, (uint32_t)Operation.ullSize, &pbyDataBuffer);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "pbyDataBuffer");
    nRetCode = rTargets.pDataFileWriter->WriteData(Operation.ullAddress, Operation.ullSize, pbyDataBuffer->GetData());
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    Rv_ComRelease(pbyDataBuffer);
    return nResult;
}

int _RemoveData(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_DATA_SEGMENT Operation;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDataFileWriter->RemoveData(Operation.ullAddress, Operation.ullSize);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int _AddEmptyDataFile(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_ADD_EMPTY_DATA_FILE_OPERATION AddEmptyDataFile;
    RVPK_DATA_CONFIG* pDataConfig = rTargets.pDataConfig;
    uint64_t ullFreeBytes = 0;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&AddEmptyDataFile, sizeof(AddEmptyDataFile));
    RVPK_PROCESS_ERROR(nRetCode);
    RVPK_ASSERT_EXIT(pDataConfig);
    RVPK_PROCESS_ERROR(AddEmptyDataFile.uFirstDataFileIndex == pDataConfig->uDataFileCount);
    RVPK_PROCESS_ERROR(AddEmptyDataFile.uDataFileCount <= UINT32_MAX - pDataConfig->uDataFileCount);
    // The count comes from the update file: every new file is written whole,
    // so together they must fit the free space before the first is made.
    nRetCode = Pf_GetFreeSpace(Rv_ToNarrow(rTargets.strPackageDirectory), &ullFreeBytes);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Pf_GetFreeSpace(pcszPackageDirectory)");
    if (AddEmptyDataFile.uDataFileCount > ullFreeBytes / pDataConfig->ullMaxSizePerDataFile) {
        Rv_LogPrintf(u"ERROR: not enough disk space for %u new data files of %llu bytes, free = %llu", AddEmptyDataFile.uDataFileCount,
                     (unsigned long long)pDataConfig->ullMaxSizePerDataFile, (unsigned long long)ullFreeBytes);
    }
    RVPK_PROCESS_ERROR(AddEmptyDataFile.uDataFileCount <= ullFreeBytes / pDataConfig->ullMaxSizePerDataFile);
    for (uint32_t i = 0; i < AddEmptyDataFile.uDataFileCount; ++i) {
        nRetCode = rTargets.pDataFileWriter->AddEmptyDataFile(pDataConfig->uDataFileCount);
        RVPK_PROCESS_ERROR(nRetCode);
        pDataConfig->uDataFileCount++;
    }
    nResult = 1;
Exit0:
    return nResult;
}

int _MoveData(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_MOVE_DATA_OPERATION Operation;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDataFileWriter->MoveDataBlock(Operation.ullSrcAddress, Operation.ullSize, Operation.ullDestAddress);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDirectoryFiles->MoveDirectoryAddress(Operation.ullSrcAddress, Operation.ullDestAddress);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int _AddAloneFile(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_ADD_FILE_OPERATION Operation;
    std::u16string strRelativePath;
    std::u16string strPrefix;
    std::u16string strNewFilePath;
    std::u16string strParent;
    size_t pszTerminal = 0;
    IRv_Buffer* piBuffer = nullptr;

    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_ReadFixedString(Operation.szName, RVPK_NAME_UNITS, &strRelativePath);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szName terminated");
    // Sub-folders are allowed, but nothing that leaves the package folder.
    nRetCode = Rv_IsSafeRelativePath(strRelativePath);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_IsSafeRelativePath(szName)");
    // Stand-alone files live beside the files the store manages: none may
    // take (or put a folder at) the name of one of them.
    nRetCode = Rv_ReadFixedString(rTargets.pDataConfig->szFileNamePrefix, RVPK_NAME_UNITS, &strPrefix);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szFileNamePrefix terminated");
    nRetCode = !_IsNameManagedByPackage(strRelativePath.substr(0, strRelativePath.find_first_of(u"\\/")), rTargets.strConfigFileName,
                                        strPrefix);
    if (!nRetCode)
        Rv_LogPrintf(u"Error: the stand-alone file takes a name of the package's own files. szName = %s", strRelativePath.c_str());
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "!_IsNameManagedByPackage(szName)");
    nRetCode = _ReadInlineData(rTargets.pUpdateFileReader, Operation.uSize, &piBuffer);
    RVPK_PROCESS_ERROR(nRetCode);
    strNewFilePath = rTargets.strPackageDirectory + u"/" + strRelativePath;
    RVPK_PROCESS_ERROR_QUOTING(strNewFilePath.size() < RVPK_UPDATE_PATH_LEN, "nRetCode != -1");
    pszTerminal = strNewFilePath.find_last_of(u"\\/");
    RVPK_PROCESS_ERROR_QUOTING(pszTerminal != std::u16string::npos, "pszTerminal != 0");
    strParent = strNewFilePath.substr(0, pszTerminal);
    nRetCode = Rv_RecursiveCreateDirectory(strParent.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_WriteFileDurably(strNewFilePath, strParent, piBuffer->GetData(), piBuffer->GetSize(), nullptr, 0,
                                   Rv_DurableWriteLog{u"Error: open file failed. szNewFilePath = %s", 0, "fpFile", "uRetCode == 1"});
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    return nResult;
}

int _AddDirectoryFile(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    RVPK_ADD_FILE_OPERATION Operation;
    std::u16string strBranchName;
    std::u16string strDirectoryFilePath;
    IRv_Buffer* piBuffer = nullptr;
    RVPK_DIRECTORY_HEADER Header;

    RVPK_ASSERT_EXIT_QUOTING(!rTargets.strPackageDirectory.empty(), "pcszPackageDirectory");
    nRetCode = rTargets.pUpdateFileReader->GetNextData(&Operation, sizeof(Operation));
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = Rv_ReadFixedString(Operation.szName, RVPK_NAME_UNITS, &strBranchName);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szName terminated");
    nRetCode = Rv_IsSafeFileName(strBranchName);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_IsSafeFileName(szName)");
    // A loaded branch is never written over.
    RVPK_PROCESS_ERROR_QUOTING(!rTargets.pDirectoryFiles->IsBranchLoaded(strBranchName), "ibRetCode.second");
    nRetCode = _ReadInlineData(rTargets.pUpdateFileReader, Operation.uSize, &piBuffer);
    RVPK_PROCESS_ERROR(nRetCode);
    RVPK_PROCESS_ERROR_QUOTING(piBuffer->GetSize() >= sizeof(Header), "directory file header");
    // On disk until the final save the new file carries a data version the
    // package does not hold: when the update is interrupted and rolled back,
    // the next clean-up removes it, and the retry can add the branch again.
    memcpy(&Header, piBuffer->GetData(), sizeof(Header));
    Header.uDataVersion = rTargets.pDataConfig->uDataVersion == 0 ? 1 : 0;
    memcpy(piBuffer->GetData(), &Header, sizeof(Header));
    strDirectoryFilePath = rTargets.strPackageDirectory + u"/" + strBranchName + u".DIR";
    RVPK_PROCESS_ERROR_QUOTING(strDirectoryFilePath.size() < RVPK_UPDATE_PATH_LEN, "nRetCode != -1");
    nRetCode = Rv_WriteFileDurably(strDirectoryFilePath, rTargets.strPackageDirectory, piBuffer->GetData(), piBuffer->GetSize(), nullptr, 0,
                                   Rv_DurableWriteLog{u"Error: open file failed. szDirectoryFilePath = %s", 0, "fpFile", "uRetCode == 1"});
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDirectoryFiles->Load(rTargets.strPackageDirectory.c_str(), strBranchName.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    Rv_ComRelease(piBuffer);
    return nResult;
}

int _BatchMoveData(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    uint32_t uCount = 0;
    uint64_t ullListSize = 0;
    std::vector<RVPK_MOVE_DATA_BLOCK> vecMoves;

    static_assert(sizeof(RVPK_MOVE_DATA_BLOCK) == sizeof(RVPK_MOVE_DATA_OPERATION), "batch move records are read whole");
    nRetCode = rTargets.pUpdateFileReader->GetNextData(&uCount, sizeof(uCount));
    RVPK_PROCESS_ERROR(nRetCode);
    ullListSize = (uint64_t)uCount * sizeof(RVPK_MOVE_DATA_BLOCK);
    RVPK_PROCESS_ERROR(ullListSize <= UINT32_MAX);
    nRetCode = rTargets.pUpdateFileReader->CheckDataAvailable(ullListSize);
    RVPK_PROCESS_ERROR(nRetCode);
    vecMoves.resize(uCount);
    // A count of 0 fails here ("uDataSize > 0").
    nRetCode = rTargets.pUpdateFileReader->GetNextData(vecMoves.data(), (uint32_t)ullListSize);
    RVPK_PROCESS_ERROR(nRetCode);
    nRetCode = rTargets.pDataFileWriter->BatchMoveMoveDataBlock(vecMoves);
    RVPK_PROCESS_ERROR(nRetCode);
    for (const RVPK_MOVE_DATA_BLOCK& Move : vecMoves) {
        nRetCode = rTargets.pDirectoryFiles->MoveDirectoryAddress(Move.ullSrcAddress, Move.ullDestAddress);
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nResult = 1;
Exit0:
    return nResult;
}

int _ExecuteOperation(Rv_UpdateTargets& rTargets)
{
    int nResult = 0;
    int nRetCode = 0;
    int8_t cOperationType = 0;
    int bNoMoreOperation = 0;

    for (;;) {
        nRetCode = rTargets.pUpdateFileReader->GetNextOpeartionType(&cOperationType, &bNoMoreOperation);
        RVPK_PROCESS_ERROR(nRetCode);
        if (bNoMoreOperation)
            break;
        switch (cOperationType) {
        case RVPK_OP_ADD_DIR_INDEX:
            nRetCode = _AddDirIndex(rTargets);
            break;
        case RVPK_OP_MODIFY_DIRECTORY_ENTRY:
            nRetCode = _ModifyDirectoryEntry(rTargets);
            break;
        case RVPK_OP_ADD_DATA:
            nRetCode = _AddData(rTargets);
            break;
        case RVPK_OP_REMOVE_DATA:
            nRetCode = _RemoveData(rTargets);
            break;
        case RVPK_OP_ADD_EMPTY_DATA_FILE:
            nRetCode = _AddEmptyDataFile(rTargets);
            break;
        case RVPK_OP_MOVE_DATA:
            nRetCode = _MoveData(rTargets);
            break;
        case RVPK_OP_ADD_ALONE_FILE:
            nRetCode = _AddAloneFile(rTargets);
            break;
        case RVPK_OP_ADD_DIRECTORY_FILE:
            nRetCode = _AddDirectoryFile(rTargets);
            break;
        case RVPK_OP_BATCH_MOVE_DATA:
            nRetCode = _BatchMoveData(rTargets);
            break;
        case RVPK_OP_BATCH_ADD_DATA:
            nRetCode = _BatchAddData(rTargets);
            break;
        default:
            Rv_LogPrintf(u"No matching operation. Operation type:%d", (int)cOperationType);
            nRetCode = 0;
            break;
        }
        RVPK_PROCESS_ERROR(nRetCode);
    }
    nRetCode = rTargets.pDirectoryFiles->FlushMoveDirectory();
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}
