// Progress and version texts of the updater window (see progress_text.h).
#include "app/progress_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "foundation/log.h"

namespace {

// printf into a buffer of nBufferSize characters; 0 when it is empty or does
// not fit, as the window's fixed text buffers refuse it.
int FormatInto(std::string* pstrRet, int nBufferSize, const char* cszFormat, ...)
    __attribute__((format(printf, 3, 4)));

int FormatInto(std::string* pstrRet, int nBufferSize, const char* cszFormat, ...)
{
    int nResult = 0;
    int nRetCode = 0;
    char szText[512];
    va_list args;

    RVLOG_PROCESS_ERROR(nBufferSize <= (int)sizeof(szText));
    va_start(args, cszFormat);
    nRetCode = vsnprintf(szText, (size_t)nBufferSize, cszFormat, args);
    va_end(args);
    RVLOG_PROCESS_ERROR(nRetCode > 0 && nRetCode < nBufferSize);
    pstrRet->assign(szText, (size_t)nRetCode);
    nResult = 1;
Exit0:
    return nResult;
}

const double s_adUnitDivisor[] = {1.0, 1024.0, 1048576.0, 1073741824.0};
const char s_acUnitLetter[] = {'B', 'K', 'M', 'G'};

// A version text of 127 characters or more does not fit the line.
const int s_nVersionLimit = RV_VERSION_TEXT_MAX - 1;

} // namespace

RvSizeUnit Rv_SizeUnitOf(int64_t llTotal)
{
    if (llTotal >= (int64_t)4 * 1073741824)
        return RV_SIZE_UNIT_GIB;
    if (llTotal < 1000)
        return RV_SIZE_UNIT_BYTE;
    if (llTotal < 1024000)
        return RV_SIZE_UNIT_KIB;
    if (llTotal < 1048576000)
        return RV_SIZE_UNIT_MIB;
    return RV_SIZE_UNIT_GIB;
}

int Rv_FormatSizeWithUnit(int64_t llSize, RvSizeUnit eUnit, std::string* pstrRet)
{
    if (eUnit == RV_SIZE_UNIT_BYTE)
        return FormatInto(pstrRet, RV_SIZE_TEXT_MAX, "%" PRId64 "B", llSize);
    return FormatInto(pstrRet, RV_SIZE_TEXT_MAX, "%.2f%c", (double)llSize / s_adUnitDivisor[eUnit],
                      s_acUnitLetter[eUnit]);
}

int Rv_FormatSizeInUnit(int64_t llSize, RvSizeUnit eUnit, std::string* pstrRet)
{
    if (eUnit == RV_SIZE_UNIT_BYTE)
        return FormatInto(pstrRet, RV_SIZE_TEXT_MAX, "%" PRId64, llSize);
    return FormatInto(pstrRet, RV_SIZE_TEXT_MAX, "%.2f", (double)llSize / s_adUnitDivisor[eUnit]);
}

int Rv_FormatPercent(double dPercent, std::string* pstrRet)
{
    return FormatInto(pstrRet, 128, "%.3f", dPercent);
}

int RvDownloadProgress::OnProgress(const void* pvDownloader, int64_t llTotal, int64_t llDownloaded, uint32_t uNow,
                                   const char* cszLabel, RvProgressUpdate* pRet)
{
    int nResult = 0;
    int nRetCode = 0;
    double dPercent = 0.0;
    std::string strDownloaded;
    std::lock_guard<std::mutex> guard(m_Lock);

    pRet->strPercent.clear();
    pRet->strText.clear();

    if (llTotal != m_llTotal || pvDownloader != m_pvLastDownloader) {
        RvSizeUnit eUnit = Rv_SizeUnitOf(llTotal);
        nRetCode = Rv_FormatSizeWithUnit(llTotal, eUnit, &m_strTotal);
        RVLOG_PROCESS_ERROR(nRetCode);
        m_eUnit = eUnit;
        m_llTotal = llTotal;
        m_llFirstSize = m_llSampleSize = llDownloaded;
        m_uFirstTick = m_uSampleTick = uNow;
        m_llPeakSpeed = 0;
        m_llAverageSpeed = 0;
        m_dLastPercent = 0.0;
        m_pvLastDownloader = pvDownloader;
    }

    // A run whose total is not known yet has no percent to show.
    if (llTotal > 0) {
        dPercent = (double)llDownloaded * 100.0 / (double)llTotal;
        if (dPercent >= m_dLastPercent + 0.001) {
            nRetCode = Rv_FormatPercent(dPercent, &pRet->strPercent);
            RVLOG_PROCESS_ERROR(nRetCode);
            nRetCode = Rv_FormatSizeInUnit(llDownloaded, m_eUnit, &strDownloaded);
            RVLOG_PROCESS_ERROR(nRetCode);
            pRet->strText = std::string(cszLabel ? cszLabel : "") + "  " + strDownloaded + "/" + m_strTotal;
            m_dLastPercent = dPercent;
        }
    }

    if (llTotal > RV_SPEED_MIN_TOTAL)
        _MeasureSpeeds(llDownloaded, uNow);

    nResult = 1;
Exit0:
    return nResult;
}

void RvDownloadProgress::_MeasureSpeeds(int64_t llDownloaded, uint32_t uNow)
{
    uint32_t uSinceFirst = uNow - m_uFirstTick;
    uint32_t uSinceSample = uNow - m_uSampleTick;

    if (uSinceFirst > 1000)
        m_llAverageSpeed = (llDownloaded - m_llFirstSize) / (int64_t)uSinceFirst;

    if (llDownloaded > m_llSampleSize && uSinceSample >= 1000) {
        int64_t llRate = (llDownloaded - m_llSampleSize) / (int64_t)uSinceSample;
        if (llRate > m_llPeakSpeed)
            m_llPeakSpeed = llRate;
        m_llSampleSize = llDownloaded;
        m_uSampleTick = uNow;
    }
}

int64_t RvDownloadProgress::GetTotal() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_llTotal;
}

int64_t RvDownloadProgress::GetPeakSpeed() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_llPeakSpeed;
}

int64_t RvDownloadProgress::GetAverageSpeed() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_llAverageSpeed;
}

int RvVersionText::FormatUpdating(const char* cszDescribe, const char* cszCurrent, const char* cszLatest, int bError,
                                  const char* cszCurrentLabel, const char* cszLatestLabel, std::string* pstrRet)
{
    static const char* const s_aszFrames[] = {
        "%s: %s&gt;&gt;&gt;   %s",
        "%s: %s &gt;&gt;&gt;  %s",
        "%s: %s  &gt;&gt;&gt; %s",
        "%s: %s   &gt;&gt;&gt;%s",
    };
    int nRetCode = 0;
    std::lock_guard<std::mutex> guard(m_Lock);

    if (bError)
        return FormatInto(pstrRet, s_nVersionLimit, "%s:%s / %s:%s", cszCurrentLabel, cszCurrent, cszLatestLabel,
                          cszLatest);

    if (m_uUpdatingFrame >= 4)
        m_uUpdatingFrame = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    nRetCode = FormatInto(pstrRet, s_nVersionLimit, s_aszFrames[m_uUpdatingFrame], cszDescribe, cszCurrent,
                          cszLatest);
#pragma GCC diagnostic pop
    if (nRetCode)
        m_uUpdatingFrame++;
    return nRetCode;
}

int RvVersionText::FormatShowVersion(const char* cszDescribe, const char* cszCurrent, std::string* pstrRet)
{
    static const char* const s_aszFrames[] = {
        "&gt;&gt;&gt;   %s   &lt;&lt;&lt; %s",
        " &gt;&gt;&gt;  %s  &lt;&lt;&lt;  %s",
        "  &gt;&gt;&gt; %s &lt;&lt;&lt;   %s",
    };
    int nRetCode = 0;
    std::lock_guard<std::mutex> guard(m_Lock);

    if (m_uShowFrame >= 3)
        m_uShowFrame = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    nRetCode = FormatInto(pstrRet, s_nVersionLimit, s_aszFrames[m_uShowFrame], cszDescribe, cszCurrent);
#pragma GCC diagnostic pop
    if (nRetCode)
        m_uShowFrame++;
    return nRetCode;
}

int RvVersionText::Format(const char* cszDescribe, const char* cszCurrent, const char* cszLatest, int bFlag,
                          int bError, const char* cszCurrentLabel, const char* cszLatestLabel, std::string* pstrRet)
{
    int nResult = 0;
    int nRetCode = 0;

    RVLOG_PROCESS_ERROR(cszDescribe);
    RVLOG_PROCESS_ERROR(cszCurrent);

    if (cszLatest)
        nRetCode = FormatUpdating(cszDescribe, cszCurrent, cszLatest, bError, cszCurrentLabel, cszLatestLabel,
                                  pstrRet);
    else if (!bFlag)
        nRetCode = FormatInto(pstrRet, s_nVersionLimit, "  %s  %s", cszDescribe, cszCurrent);
    else
        nRetCode = FormatShowVersion(cszDescribe, cszCurrent, pstrRet);
    RVLOG_PROCESS_ERROR(nRetCode);

    nResult = 1;
Exit0:
    return nResult;
}

int Rv_FormatExecuteVersionName(int bX64, const std::string& strBetaFolder, const std::string& strBetaName, int bDx11,
                                std::string* pstrRet, int* pbRetFlag)
{
    int nResult = 0;
    int nRetCode = 0;
    const char* cszBits = bX64 ? "[64位]" : "[32位]";

    if (!strBetaFolder.empty())
        nRetCode = FormatInto(pstrRet, 260, "%s%s", strBetaName.c_str(), cszBits);
    else if (bDx11)
        nRetCode = FormatInto(pstrRet, 260, "DX11优化版%s", cszBits);
    else
        nRetCode = FormatInto(pstrRet, 260, "正式版%s", cszBits);
    RVLOG_PROCESS_ERROR(nRetCode);

    *pbRetFlag = (bDx11 || !strBetaFolder.empty()) ? 1 : 0;
    nResult = 1;
Exit0:
    return nResult;
}
