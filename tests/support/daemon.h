// Private servers started by tests (nginx, tinyproxy, danted): a free
// loopback port, the wait until one listens, and its shutdown.
#pragma once
#include <sys/types.h>

// A loopback port free now (bound once by the system and released), or 0.
int Rv_TestFreeLoopbackPort();
// True when something accepts connections on the loopback port.
bool Rv_TestCanConnect(int nPort);
// Waits up to five seconds for the started child to listen on nPort. False
// when it exited (*pPid becomes -1) or did not listen in time.
bool Rv_TestWaitListening(pid_t* pPid, int nPort);
// Ends the child (SIGTERM, then SIGKILL after four seconds) and reaps it.
void Rv_TestStopDaemon(pid_t* pPid);
