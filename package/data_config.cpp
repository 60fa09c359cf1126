// Loading and saving the package configuration file.
#include "package/data_config.h"

#include "package/folder_helpers.h"
#include "package/log_stream.h"
#include "package/wide_string.h"
#include "platform/crash_point.h"

#include <cstdio>
#include <string>

Rv_DataConfigFile::Rv_DataConfigFile()
{
    m_szDataFilePath[0] = u'\0';
}

int Rv_DataConfigFile::Init(const char16_t* pcszConfigFilePath)
{
    int nResult = 0;
    int nRetCode = 0;

    RVPK_ASSERT_EXIT(pcszConfigFilePath);
    RVPK_ASSERT_EXIT(pcszConfigFilePath[0]);
    nRetCode = Rv_StrCopy(m_szDataFilePath, 260, pcszConfigFilePath);
    RVPK_PROCESS_ERROR(nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

int Rv_DataConfigFile::LoadDataConfig(RVPK_DATA_CONFIG* pRetDataConfig)
{
    int nResult = 0;
    FILE* fpDataConfigFile = nullptr;
    size_t uReadCount = 0;
    int nRetCode = 0;
    long lFileSize = -1L;
    RVPK_DATA_CONFIG Config;
    std::u16string strPrefix;

    RVPK_ASSERT_EXIT(pRetDataConfig);
    RVPK_ASSERT_EXIT(m_szDataFilePath[0]);
    fpDataConfigFile = Rv_FOpen(m_szDataFilePath, "rb");
    if (!fpDataConfigFile)
        Rv_LogPrintf(u"Error: open file failed. m_szDataFilePath = %s", m_szDataFilePath);
    RVPK_PROCESS_ERROR(fpDataConfigFile);
    uReadCount = fread(&Config, sizeof(Config), 1, fpDataConfigFile);
    RVPK_PROCESS_ERROR(uReadCount == 1);
    nRetCode = fseek(fpDataConfigFile, 0, SEEK_END);
    RVPK_PROCESS_ERROR(nRetCode == 0);
    lFileSize = ftell(fpDataConfigFile);
    RVPK_PROCESS_ERROR(lFileSize != -1L);
    RVPK_PROCESS_ERROR(lFileSize == sizeof(RVPK_DATA_CONFIG));
    // The prefix becomes part of every data-file name: a terminated plain name only.
    nRetCode = Rv_ReadFixedString(Config.szFileNamePrefix, 64, &strPrefix);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "szFileNamePrefix terminated");
    nRetCode = Rv_IsSafeFileName(strPrefix);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_IsSafeFileName(szFileNamePrefix)");
    // Every data address is split by this size, and every data file is
    // made and mapped with a 32-bit length: a larger size could never be
    // written, so it is refused before the package is touched.
    RVPK_PROCESS_ERROR(Config.ullMaxSizePerDataFile > 0);
    if (Config.ullMaxSizePerDataFile > UINT32_MAX)
        Rv_LogPrintf(u"Error: the maximum size per data file is above 4 GiB. ullMaxSizePerDataFile = %llu",
                     (unsigned long long)Config.ullMaxSizePerDataFile);
    RVPK_PROCESS_ERROR(Config.ullMaxSizePerDataFile <= UINT32_MAX);

    *pRetDataConfig = Config;
    Rv_LogPrintf(u"Load Data Config Finished. PackageState = %u", (unsigned)Config.PackageState);
    nResult = 1;
Exit0:
    if (fpDataConfigFile)
        fclose(fpDataConfigFile);
    return nResult;
}

int Rv_DataConfigFile::SaveDataConfig(const RVPK_DATA_CONFIG* pDataConfig)
{
    int nResult = 0;
    FILE* fpTempDataConfig = nullptr;
    size_t uFileWriteCount = 0;
    int nRetCode = 0;
    std::u16string strPath = m_szDataFilePath;
    std::u16string strTempPath = strPath + u".temp";
    std::u16string strFolder;
    size_t uSlash = strPath.find_last_of(u"\\/");

    RVPK_ASSERT_EXIT(pDataConfig);
    RVPK_ASSERT_EXIT(m_szDataFilePath[0]);
    RVPK_PROCESS_ERROR_QUOTING(strTempPath.size() < 260, "nRetCode != -1");

    Pf_CrashPoint();
    fpTempDataConfig = Rv_FOpen(strTempPath.c_str(), "wb");
    if (!fpTempDataConfig)
        Rv_LogPrintf(u"Error: open file failed. szTempDataConfigFilePath = %s", strTempPath.c_str());
    RVPK_PROCESS_ERROR(fpTempDataConfig);
    uFileWriteCount = fwrite(pDataConfig, sizeof(RVPK_DATA_CONFIG), 1, fpTempDataConfig);
    RVPK_PROCESS_ERROR(uFileWriteCount == 1);
    // A full disk may show only here: the short file must never replace the good one.
    nRetCode = Rv_CloseWrittenFile(&fpTempDataConfig, 1);
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_CloseWrittenFile(fpTempDataConfig)");

    Pf_CrashPoint();
    nRetCode = Rv_MoveFileOverwrite(strTempPath.c_str(), strPath.c_str());
    RVPK_PROCESS_ERROR(nRetCode);
    strFolder = (uSlash == std::u16string::npos) ? std::u16string(u".") : strPath.substr(0, uSlash ? uSlash : 1);
    nRetCode = Rv_SyncDirectory(strFolder.c_str());
    RVPK_PROCESS_ERROR_QUOTING(nRetCode, "Rv_SyncDirectory(folder)");

    Rv_LogPrintf(u"The package has been upgraded to the latest version successfully...(latest version = %u)",
                 pDataConfig->uDataVersion);
    nResult = 1;
Exit0:
    if (fpTempDataConfig)
        fclose(fpTempDataConfig);
    return nResult;
}

int Rv_GetPakV3DataVersion(uint32_t* puRetDataVersion, const char16_t* pwszPackageDir)
{
    int nResult = 0;
    std::u16string strPath;
    FILE* fpFile = nullptr;
    RVPK_DATA_CONFIG Config;
    long lFileSize = -1L;

    RVPK_ASSERT_EXIT(puRetDataVersion);
    // Without a folder the name would fall back to the file-system root.
    RVPK_ASSERT_EXIT(pwszPackageDir);
    // Built at its full length: a long folder never cuts the file name.
    strPath = std::u16string(pwszPackageDir) + u"\\Package.CFG";
    fpFile = Rv_FOpen(strPath.c_str(), "rb");
    RVPK_PROCESS_ERROR(fpFile);
    RVPK_PROCESS_ERROR(fseek(fpFile, 0, SEEK_END) == 0);
    lFileSize = ftell(fpFile);
    RVPK_PROCESS_ERROR(lFileSize >= (long)sizeof(RVPK_DATA_CONFIG));
    RVPK_PROCESS_ERROR(fseek(fpFile, 0, SEEK_SET) == 0);
    RVPK_PROCESS_ERROR(fread(&Config, sizeof(Config), 1, fpFile) == 1);
    *puRetDataVersion = Config.uDataVersion;
    nResult = 1;
Exit0:
    if (fpFile)
        fclose(fpFile);
    return nResult;
}
