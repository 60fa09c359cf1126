// The host window: a message queue that any thread may post to and the main
// thread peeks and dispatches, a position on the screen, minimising, and the
// input events of a front end (mouse, buttons, keys).
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/thread.h"

enum {
    PF_WM_SETCURSOR = 0x0020,
    PF_WM_KEYDOWN = 0x0100,
    PF_WM_KEYUP = 0x0101,
    PF_WM_CHAR = 0x0102,
    PF_WM_TIMER = 0x0113,
    PF_WM_MOUSEMOVE = 0x0200,
    PF_WM_LBUTTONDOWN = 0x0201,
    PF_WM_LBUTTONUP = 0x0202,
    PF_WM_LBUTTONDBLCLK = 0x0203,
    PF_WM_RBUTTONDOWN = 0x0204,
    PF_WM_RBUTTONUP = 0x0205,
    PF_WM_RBUTTONDBLCLK = 0x0206,
    PF_WM_MBUTTONDOWN = 0x0207,
    PF_WM_MBUTTONUP = 0x0208,
    PF_WM_MBUTTONDBLCLK = 0x0209,
    PF_WM_MOUSEWHEEL = 0x020A,
    PF_WM_USER = 0x0400,
    // A call of the movie to its host; the message's text is the call's XML.
    PF_WM_MOVIE_CALL = 0x8001,
    // The host's work has ended: the movie's player is told.
    PF_WM_WORK_ENDED = 0x8002,
};

enum { PF_MK_LBUTTON = 0x0001, PF_MK_RBUTTON = 0x0002 };

struct Pf_Message {
    uint32_t uMessage;
    uintptr_t wParam;
    intptr_t lParam;
    std::string strText;
};

struct Pf_Rect {
    int nLeft;
    int nTop;
    int nRight;
    int nBottom;
};

// Something that produces messages when asked (a front end reading keys, a
// script firing its timed calls). Polled by Peek when the queue is empty.
class IPf_MessageSource {
public:
    virtual ~IPf_MessageSource() = default;
    virtual void PollMessages(class Pf_Window* pWindow) = 0;
};

class Pf_Window {
public:
    Pf_Window() = default;
    Pf_Window(const Pf_Window&) = delete;
    Pf_Window& operator=(const Pf_Window&) = delete;

    int Create(int nX, int nY, int nWidth, int nHeight);
    int IsCreated() const { return m_bCreated; }
    // Any thread: appends a message to the queue.
    int Post(uint32_t uMessage, uintptr_t wParam, intptr_t lParam, const std::string& strText = std::string());
    // Main thread: removes the first queued message; 0 when none is queued.
    int Peek(Pf_Message* pMessage);

    void AddSource(IPf_MessageSource* pSource);
    void RemoveSource(IPf_MessageSource* pSource);

    int GetRect(Pf_Rect* pRect);
    int Move(int nX, int nY);
    void Minimise();
    int IsMinimised() const { return m_bMinimised; }
    // Tests: the rectangle that GetRect reports next (once), as a system
    // resizing the window would.
    void ReportRectOnce(const Pf_Rect& rect);

private:
    Pf_Mutex m_Lock;
    std::deque<Pf_Message> m_Queue;
    std::vector<IPf_MessageSource*> m_vecSources;
    Pf_Rect m_Rect{0, 0, 0, 0};
    Pf_Rect m_ReportedRect{0, 0, 0, 0};
    int m_bReportOnce = 0;
    int m_bCreated = 0;
    int m_bMinimised = 0;
};

// The screen's cursor position (one for the process), moved by front ends.
void Pf_GetCursorPos(int* pnX, int* pnY);
void Pf_SetCursorPos(int nX, int nY);
