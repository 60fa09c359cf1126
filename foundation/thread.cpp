// The worker thread wrapper.
#include "foundation/thread.h"

Rv_Thread::~Rv_Thread()
{
    Wait();
}

int Rv_Thread::Create(Rv_ThreadFunction pfnThreadFunction, void* pvArg)
{
    // The running thread reads the stored function and argument: never
    // overwrite them while a thread is held.
    if (m_Thread.IsHeld() || !pfnThreadFunction)
        return 0;
    m_pfnThreadFunction = pfnThreadFunction;
    m_pvArg = pvArg;
    return m_Thread.Start(_ThreadProc, this);
}

int Rv_Thread::Wait()
{
    return m_Thread.Join();
}

void Rv_Thread::_ThreadProc(void* pvThread)
{
    Rv_Thread* pThis = (Rv_Thread*)pvThread;
    pThis->m_pfnThreadFunction(pThis->m_pvArg);
}
