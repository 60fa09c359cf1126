// The host window of the movie: the message loop of the window copy, frame
// pacing, dragging and minimising, and the call bridge between the movie and
// the application (requests queued under sequence numbers from any thread,
// delivered on the main thread; the movie's calls parsed and dispatched).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/movie_player.h"
#include "platform/thread.h"
#include "platform/window.h"

enum {
    WM_FLASH_CALL = 0x113D,
    WM_FLASH_QUIT = 0x113E,
};

enum {
    NY_FLASH_WIDTH = 1440,
    NY_FLASH_HEIGHT = 865,
};

// The application's side of the movie's calls.
class IFlashCallBack {
public:
    virtual ~IFlashCallBack() = default;
    // Non-zero when the call was handled.
    virtual int FlashCallback(const std::string& strName, const std::vector<std::string>& vecArgs) = 0;
};

// Builds the request text of a call to the movie (nothing is escaped).
std::string NyFlash_BuildRequest(const std::string& strName, const std::vector<std::string>& vecArgs);
// Parses a call of the movie. Returns 0 on malformed XML or a root element
// without an attribute; an absent arguments element or an empty argument
// element give an empty list or an empty argument.
int NyFlash_ParseCall(const std::string& strXml, std::string* pstrRetName, std::vector<std::string>* pvecRetArgs);
// The next sequence number after uCounter: 1 after 0xFFFFFFFF, never 0.
uint32_t NyFlash_NextSequence(uint32_t uCounter);

class NyFlashWindow {
public:
    NyFlashWindow();
    ~NyFlashWindow();
    NyFlashWindow(const NyFlashWindow&) = delete;
    NyFlashWindow& operator=(const NyFlashWindow&) = delete;

    int Create(const char* cszMoviePath, IFlashCallBack* piCallBack, const char* cszClassName, const char* cszTitle,
               int nX, int nY, uint32_t uColorKey);
    int RunMessageLoop();
    // Any thread.
    int SendCommandToFlash(const std::string& strName, const std::vector<std::string>& vecArgs);
    void Draw();
    void MoveWindowByMouse(uintptr_t uKeyFlags);
    // Any thread: asks the loop to end when the window exists.
    void PostQuit()
    {
        if (m_Window.IsCreated())
            m_Window.Post(WM_FLASH_QUIT, 0, 0);
    }
    // Any thread: tells the movie's player that the application's work has ended.
    void PostWorkEnded()
    {
        if (m_Window.IsCreated())
            m_Window.Post(PF_WM_WORK_ENDED, 0, 0);
    }
    int GetErrorCode() const { return m_nErrorCode; }
    uint32_t GetFlashVersion() const { return m_uFlashVersion; }

    // Tests.
    Pf_Window* GetWindow() { return &m_Window; }
    Pf_MoviePlayer* GetPlayer() { return &m_Player; }
    typedef uint64_t (*NowFunction)();
    void SetClockForTest(NowFunction pfnNow);
    uint64_t GetFramesDrawn() const { return m_ullFramesDrawn; }
    int CanMove() const { return m_bCanMove; }
    // Handles one message as the window procedure does.
    void WindowProc(const Pf_Message& message);

private:
    int _CreateWindow(const char* cszClassName, const char* cszTitle, int nX, int nY);
    int _CreateFlashOLE();
    int _LoadFlash(const char* cszMoviePath);
    void _DeliverCall(uintptr_t uSequence);
    int _ProcessFlashCall(const std::string& strXml);
    int _Dispatch(const std::string& strName, const std::vector<std::string>& vecArgs);
    static void _OnInvalidate(void* pvThis);

    IFlashCallBack* m_piCallBack = nullptr;
    NowFunction m_pfnNow;
    uint64_t m_ullStartTick;
    uint64_t m_ullFramesDrawn = 0;
    int m_nErrorCode = 4;
    int m_bCanMove = 0;
    std::map<int, std::string> m_CallMap;
    Pf_Window m_Window;
    Pf_MoviePlayer m_Player;
    int m_bPlayerCreated = 0;
    uint32_t m_uFlashVersion = 0;
    uint32_t m_uColorKey = 0;
    Pf_Rect m_LastRect{0, 0, 0, 0};
    Pf_Mutex m_Lock;
};
