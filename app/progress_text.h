// The texts of the updater window's progress bar and version line: size texts
// in the unit of a download's total, the progress of one download run with its
// speed measurement, the moving frames of the version line and the name of the
// installed edition. The updater object sends what these produce to the movie.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

enum {
    RV_SIZE_TEXT_MAX = 32,     // buffer of a size text, terminator included
    RV_VERSION_TEXT_MAX = 128, // buffer of a version text, terminator included
    RV_SPEED_MIN_TOTAL = 0x100000,
};

// The unit a download's total picks for its size texts.
enum RvSizeUnit { RV_SIZE_UNIT_BYTE, RV_SIZE_UNIT_KIB, RV_SIZE_UNIT_MIB, RV_SIZE_UNIT_GIB };

RvSizeUnit Rv_SizeUnitOf(int64_t llTotal);
// The total's text with its unit letter ("%dB", "%.2fK", "%.2fM", "%.2fG").
int Rv_FormatSizeWithUnit(int64_t llSize, RvSizeUnit eUnit, std::string* pstrRet);
// A size in the given unit without the letter ("%d" for bytes, else "%.2f").
int Rv_FormatSizeInUnit(int64_t llSize, RvSizeUnit eUnit, std::string* pstrRet);
// "%.3f" of a percent, as the progress bar takes it.
int Rv_FormatPercent(double dPercent, std::string* pstrRet);

// What one progress notification asks to send; empty texts send nothing.
struct RvProgressUpdate {
    std::string strPercent; // "ProgressPercent"
    std::string strText;    // "SetTxtM"
};

// The progress of the current download run. Notifications come from the
// downloader's threads; the state is guarded by its own lock.
class RvDownloadProgress {
public:
    // One notification with the downloader's totals at tick uNow. cszLabel
    // leads the progress text. Returns 0 only when a size text cannot be made.
    int OnProgress(const void* pvDownloader, int64_t llTotal, int64_t llDownloaded, uint32_t uNow,
                   const char* cszLabel, RvProgressUpdate* pRet);

    int64_t GetTotal() const;
    int64_t GetPeakSpeed() const;    // bytes per millisecond
    int64_t GetAverageSpeed() const; // bytes per millisecond

private:
    void _MeasureSpeeds(int64_t llDownloaded, uint32_t uNow);

    mutable std::mutex m_Lock;
    const void* m_pvLastDownloader = nullptr;
    int64_t m_llTotal = 0;
    int64_t m_llPeakSpeed = 0;
    int64_t m_llAverageSpeed = 0;
    double m_dLastPercent = 0.0;
    int64_t m_llFirstSize = 0;
    uint32_t m_uFirstTick = 0;
    int64_t m_llSampleSize = 0;
    uint32_t m_uSampleTick = 0;
    RvSizeUnit m_eUnit = RV_SIZE_UNIT_BYTE;
    std::string m_strTotal;
};

// The version line. Both animations advance one frame per text made; several
// threads draw the line, so the frame counters are guarded.
class RvVersionText {
public:
    // The line while an update runs: the moving arrow, or after an error the
    // fixed "current / latest" form with the two labels.
    int FormatUpdating(const char* cszDescribe, const char* cszCurrent, const char* cszLatest, int bError,
                       const char* cszCurrentLabel, const char* cszLatestLabel, std::string* pstrRet);
    // The line once done, for a beta or optimised edition: arrows closing in on the name.
    int FormatShowVersion(const char* cszDescribe, const char* cszCurrent, std::string* pstrRet);
    // The whole rule of the version line: with a latest version the updating
    // form; without, the plain "  %s  %s" when bFlag is 0, else the closing arrows.
    int Format(const char* cszDescribe, const char* cszCurrent, const char* cszLatest, int bFlag, int bError,
               const char* cszCurrentLabel, const char* cszLatestLabel, std::string* pstrRet);

private:
    std::mutex m_Lock;
    unsigned m_uUpdatingFrame = 0;
    unsigned m_uShowFrame = 0;
};

// The name of the installed edition: a beta folder gives its readable name,
// else the DirectX 11 edition or the regular one, each with its bitness.
// *pbRetFlag tells whether the line animates (DirectX 11 flag or beta folder).
int Rv_FormatExecuteVersionName(int bX64, const std::string& strBetaFolder, const std::string& strBetaName, int bDx11,
                                std::string* pstrRet, int* pbRetFlag);
