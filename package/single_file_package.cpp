// Bounds and layout checks of single-file package headers, and positioned
// reads and writes on package files.
#include "package/single_file_package.h"

#include <string>

#include "platform/file.h"
#include "platform/stream.h"
#include "platform/stream_length.h"

int RvPack_IsAreaInFile(uint64_t uOffset, uint64_t uSize, uint64_t uFileLength)
{
    return uOffset <= uFileLength && uSize <= uFileLength - uOffset;
}

int RvPack_IsPackageAreasInFile(const Rv_PackageHeader& Header, uint64_t uFileLength)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(uFileLength < RVPK_MAX_PACKAGE_FILE_SIZE);
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(Header.uDataAreaOffset, Header.uDataAreaSize, uFileLength));
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(Header.uDirectoryAreaOffset, Header.uDirectoryAreaSize, uFileLength));
    RVLOG_PROCESS_ERROR(RvPack_IsAreaInFile(Header.uIndexAreaOffset, Header.uIndexAreaSize, uFileLength));
    nResult = 1;
Exit0:
    return nResult;
}

int RvPack_IsPackageLayoutRestorable(const Rv_PackageHeader& Header, uint64_t uFileLength)
{
    int nResult = 0;

    RVLOG_PROCESS_ERROR(RvPack_IsPackageAreasInFile(Header, uFileLength));
    RVLOG_PROCESS_ERROR(RvPack_IsPackageAreasInFile(Header, Header.uFileSize));
    nResult = 1;
Exit0:
    return nResult;
}

int RvPack_SyncParentDir(const char* cszFileName)
{
    std::string strName = cszFileName ? cszFileName : "";
    size_t uSlash = strName.find_last_of("/\\");
    std::string strDir = uSlash == std::string::npos ? std::string(".") : strName.substr(0, uSlash + 1);
    return Pf_SyncDir(strDir);
}

void RvPack_CloseRead(FILE* pFile)
{
    if (pFile)
        fclose(pFile);
}
