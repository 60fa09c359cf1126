// The movie's host window: creation, the message loop, pacing, dragging.
#include "app/ui/flash_window.h"

#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/file.h"

#include <strings.h>

static uint64_t _MonotonicNow()
{
    return Pf_GetMonotonicMs();
}

NyFlashWindow::NyFlashWindow() : m_pfnNow(_MonotonicNow), m_ullStartTick(_MonotonicNow())
{
}

NyFlashWindow::~NyFlashWindow()
{
    Pf_MutexGuard guard(m_Lock);
    m_CallMap.clear();
}

void NyFlashWindow::SetClockForTest(NowFunction pfnNow)
{
    m_pfnNow = pfnNow;
    m_ullStartTick = pfnNow();
}

int NyFlashWindow::Create(const char* cszMoviePath, IFlashCallBack* piCallBack, const char* cszClassName,
                          const char* cszTitle, int nX, int nY, uint32_t uColorKey)
{
    int nResult = 0;
    int nRetCode = 0;

    m_piCallBack = piCallBack;
    m_uColorKey = uColorKey;

    nRetCode = _CreateWindow(cszClassName, cszTitle, nX, nY);
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _CreateFlashOLE();
    RVLOG_PROCESS_ERROR(nRetCode);
    nRetCode = _LoadFlash(cszMoviePath);
    RVLOG_PROCESS_ERROR(nRetCode);

    m_nErrorCode = 0;
    nResult = 1;
Exit0:
    if (!nResult)
        RvLog_Write(RVLOG_INFO, "create window. err = %d", m_nErrorCode);
    return nResult;
}

int NyFlashWindow::_CreateWindow(const char* /*cszClassName*/, const char* /*cszTitle*/, int nX, int nY)
{
    if (!m_Window.Create(nX, nY, NY_FLASH_WIDTH, NY_FLASH_HEIGHT)) {
        m_nErrorCode = 4;
        return 0;
    }
    m_Window.GetRect(&m_LastRect);
    return 1;
}

int NyFlashWindow::_CreateFlashOLE()
{
    int nResult = 0;
    int nRetCode = 0;
    int nPlayerError = 0;

    nRetCode = m_Player.Create(&m_Window, &nPlayerError);
    if (!nRetCode)
        m_nErrorCode = 1;
    RVLOG_PROCESS_ERROR(nRetCode);
    m_bPlayerCreated = 1;

    m_uFlashVersion = m_Player.GetVersion();
    if (((m_uFlashVersion >> 16) & 0xFF) < 9)
        m_nErrorCode = 2;
    RVLOG_PROCESS_ERROR(((m_uFlashVersion >> 16) & 0xFF) >= 9);

    m_Player.SetInvalidate(_OnInvalidate, this);
    nResult = 1;
Exit0:
    return nResult;
}

int NyFlashWindow::_LoadFlash(const char* cszMoviePath)
{
    int nResult = 0;
    int nRetCode = 0;
    Pf_Message message;

    nRetCode = cszMoviePath && Pf_FileExists(cszMoviePath);
    if (!nRetCode)
        m_nErrorCode = 3;
    RVLOG_PROCESS_ERROR(nRetCode);

    nRetCode = m_Player.LoadMovie(cszMoviePath);
    RVLOG_PROCESS_ERROR(nRetCode && "LoadMovie");
    nRetCode = m_Player.Play();
    RVLOG_PROCESS_ERROR(nRetCode && "Play");

    while (m_Window.Peek(&message)) {
        if (message.uMessage == WM_FLASH_QUIT) {
            m_Window.Post(WM_FLASH_QUIT, 0, 0);
            break;
        }
        WindowProc(message);
    }
    nResult = 1;
Exit0:
    return nResult;
}

void NyFlashWindow::_OnInvalidate(void* pvThis)
{
    ((NyFlashWindow*)pvThis)->Draw();
}

int NyFlashWindow::RunMessageLoop()
{
    static const std::vector<std::string> s_vecNoArgs;
    int bQuit = 0;
    Pf_Message message;

    if (m_piCallBack)
        m_piCallBack->FlashCallback("_FlashWindowReady_", s_vecNoArgs);
    while (!bQuit) {
        while (m_Window.Peek(&message)) {
            if (message.uMessage == WM_FLASH_QUIT) {
                bQuit = 1;
                break;
            }
            WindowProc(message);
        }
        if (m_piCallBack)
            m_piCallBack->FlashCallback("CheckQuit", s_vecNoArgs);
        Pf_Sleep(10);
    }
    return 1;
}

void NyFlashWindow::WindowProc(const Pf_Message& message)
{
    switch (message.uMessage) {
    case PF_WM_MOUSEMOVE:
        MoveWindowByMouse(message.wParam);
        break;
    case PF_WM_LBUTTONDOWN:
    case PF_WM_LBUTTONUP:
        m_bCanMove = 0;
        break;
    case WM_FLASH_CALL:
        _DeliverCall(message.wParam);
        return;
    case PF_WM_MOVIE_CALL:
        _ProcessFlashCall(message.strText);
        return;
    default:
        break;
    }
    if (!m_bPlayerCreated)
        return;
    switch (message.uMessage) {
    case PF_WM_SETCURSOR:
    case PF_WM_KEYDOWN:
    case PF_WM_KEYUP:
    case PF_WM_CHAR:
    case PF_WM_MOUSEMOVE:
    case PF_WM_LBUTTONDOWN:
    case PF_WM_LBUTTONUP:
    case PF_WM_LBUTTONDBLCLK:
    case PF_WM_MBUTTONDOWN:
    case PF_WM_MBUTTONUP:
    case PF_WM_MBUTTONDBLCLK:
    case PF_WM_MOUSEWHEEL:
    case PF_WM_TIMER:
    case PF_WM_WORK_ENDED:
        m_Player.OnWindowMessage(message);
        break;
    default:
        break;
    }
}

void NyFlashWindow::Draw()
{
    int nRetCode = 0;
    Pf_Rect rect;
    // 64-bit time and arithmetic: the pacing never wraps.
    uint64_t ullElapsed = m_pfnNow() - m_ullStartTick;
    uint64_t ullAllowed = ullElapsed * 24 / 1000;

    if (m_ullFramesDrawn >= ullAllowed)
        return;
    ++m_ullFramesDrawn;

    if (!m_Window.GetRect(&rect))
        rect = m_LastRect;
    if (rect.nRight - rect.nLeft > NY_FLASH_WIDTH || rect.nBottom - rect.nTop > NY_FLASH_HEIGHT) {
        RvLog_Write(RVLOG_ERROR, "GetWindowRect Error, Top=%d, left=%d, right=%d, bottom=%d", rect.nTop, rect.nLeft,
                    rect.nRight, rect.nBottom);
        rect = m_LastRect;
    }
    nRetCode = m_bPlayerCreated && m_Player.Draw();
    if (!nRetCode) {
        RvLog_Write(RVLOG_DEBUG, "RVLOG_PROCESS_ERROR(%s) at line %d in %s\n", "nRetCode", __LINE__, "NyFlashWindow::Draw");
        return;
    }
    m_LastRect = rect;
}

void NyFlashWindow::MoveWindowByMouse(uintptr_t uKeyFlags)
{
    static int s_nLastX = 0;
    static int s_nLastY = 0;
    int nX = 0;
    int nY = 0;
    Pf_Rect rect;

    Pf_GetCursorPos(&nX, &nY);
    if (m_bCanMove && uKeyFlags == PF_MK_LBUTTON && m_Window.GetRect(&rect)) {
        if (!m_Window.Move(rect.nLeft + nX - s_nLastX, rect.nTop + nY - s_nLastY))
            RvLog_Write(RVLOG_DEBUG, "RVLOG_PROCESS_ERROR(%s) at line %d in %s\n", "nRetCode", __LINE__,
                        "NyFlashWindow::MoveWindowByMouse");
    }
    s_nLastX = nX;
    s_nLastY = nY;
}
