// The host window's queue, position and cursor.
#include "platform/window.h"

#include <algorithm>
#include <atomic>

static std::atomic<int64_t> s_llCursor{0};

void Pf_GetCursorPos(int* pnX, int* pnY)
{
    int64_t llValue = s_llCursor.load();
    *pnX = (int32_t)(llValue >> 32);
    *pnY = (int32_t)(uint32_t)llValue;
}

void Pf_SetCursorPos(int nX, int nY)
{
    s_llCursor.store(((int64_t)nX << 32) | (uint32_t)nY);
}

int Pf_Window::Create(int nX, int nY, int nWidth, int nHeight)
{
    Pf_MutexGuard guard(m_Lock);
    if (m_bCreated || nWidth <= 0 || nHeight <= 0)
        return 0;
    m_Rect = Pf_Rect{nX, nY, nX + nWidth, nY + nHeight};
    m_bCreated = 1;
    return 1;
}

int Pf_Window::Post(uint32_t uMessage, uintptr_t wParam, intptr_t lParam, const std::string& strText)
{
    Pf_MutexGuard guard(m_Lock);
    m_Queue.push_back(Pf_Message{uMessage, wParam, lParam, strText});
    return 1;
}

int Pf_Window::Peek(Pf_Message* pMessage)
{
    for (int nRound = 0; nRound < 2; ++nRound) {
        std::vector<IPf_MessageSource*> vecSources;
        {
            Pf_MutexGuard guard(m_Lock);
            if (!m_Queue.empty()) {
                *pMessage = std::move(m_Queue.front());
                m_Queue.pop_front();
                return 1;
            }
            if (nRound == 1)
                return 0;
            vecSources = m_vecSources;
        }
        for (IPf_MessageSource* pSource : vecSources)
            pSource->PollMessages(this);
    }
    return 0;
}

void Pf_Window::AddSource(IPf_MessageSource* pSource)
{
    Pf_MutexGuard guard(m_Lock);
    m_vecSources.push_back(pSource);
}

void Pf_Window::RemoveSource(IPf_MessageSource* pSource)
{
    Pf_MutexGuard guard(m_Lock);
    m_vecSources.erase(std::remove(m_vecSources.begin(), m_vecSources.end(), pSource), m_vecSources.end());
}

int Pf_Window::GetRect(Pf_Rect* pRect)
{
    Pf_MutexGuard guard(m_Lock);
    if (!m_bCreated)
        return 0;
    if (m_bReportOnce) {
        m_bReportOnce = 0;
        *pRect = m_ReportedRect;
        return 1;
    }
    *pRect = m_Rect;
    return 1;
}

int Pf_Window::Move(int nX, int nY)
{
    Pf_MutexGuard guard(m_Lock);
    if (!m_bCreated)
        return 0;
    int nWidth = m_Rect.nRight - m_Rect.nLeft;
    int nHeight = m_Rect.nBottom - m_Rect.nTop;
    m_Rect = Pf_Rect{nX, nY, nX + nWidth, nY + nHeight};
    return 1;
}

void Pf_Window::Minimise()
{
    Pf_MutexGuard guard(m_Lock);
    m_bMinimised = 1;
}

void Pf_Window::ReportRectOnce(const Pf_Rect& rect)
{
    Pf_MutexGuard guard(m_Lock);
    m_ReportedRect = rect;
    m_bReportOnce = 1;
}
