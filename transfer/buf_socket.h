// The TCP socket under the HTTP client: connect, send and receive with
// time-outs, a 128 KiB receive ring with line and block reads, host lookup.
#pragma once
#include "platform/thread.h"

#include <cstdint>
#include <vector>

enum { RV_BUFSOCKET_SIZE = 131072 };

class CBufSocket {
public:
    CBufSocket() = default;
    virtual ~CBufSocket();
    CBufSocket(const CBufSocket&) = delete;
    CBufSocket& operator=(const CBufSocket&) = delete;

    int Create();
    void Close();
    int IsOpen() const { return m_hSocket >= 0; }
    int Connect(const char* cszHost, int nPort, int nTimeout);
    // From another thread: ends a send or receive that waits on the socket
    // now, instead of at its time-out. The socket stays open until Close.
    void Interrupt();
    // The bytes sent; short when a step failed (see GetLastError).
    int SendAll(const void* pvData, int nLength, int nTimeout);
    // The next byte (0 to 255), or 256 when the socket is closed or nothing came.
    int ReadByte(int nTimeout);
    // A line up to "\n" (a "\r" before it dropped) into a buffer of at least
    // 1024 bytes: 0 complete, 1 when 1023 bytes came without a line feed (the
    // rest follows), -1 when the peer closed or a receive failed.
    int ReadLine(char* pszBuffer, int nTimeout);
    // Up to nMaxLength (at most 131072) buffered bytes, filling once when the
    // ring is empty. 0 when the peer closed in order, -1 on a failure or a
    // time-out (GetLastError tells which).
    int Read(char* pBuffer, int nTimeout, int nMaxLength = RV_BUFSOCKET_SIZE);
    int GetLastError() const { return m_nLastError; }
    // 1 when the last failed read was an orderly close by the peer.
    int PeerClosed() const { return m_bPeerClosed; }

    // An IPv4 address in network order, or 0xFFFFFFFF when unresolvable.
    static uint32_t ResolveHost(const char* cszName, int nTimeout = 60000, int* pnRetError = nullptr);

private:
    int _FillBuffer(int nTimeout);

    int m_hSocket = -1;
    // Guards m_hSocket against Interrupt from another thread while the
    // owner creates or closes it.
    Pf_Mutex m_SocketLock;
    int m_nLastError = 0;
    int m_bPeerClosed = 0;
    std::vector<char> m_Ring;
    std::vector<char> m_Scratch;
    int m_nCount = 0;
    int m_nReadPos = 0;
    int m_nWritePos = 0;
};

// Network start-up for a download thread; nothing to start here (1).
int StartupWinsock();
void CleanupWinsock();
