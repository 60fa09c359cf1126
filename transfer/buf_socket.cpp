// The buffered socket: a ring of received bytes over the platform's TCP socket.
#include "transfer/buf_socket.h"
#include "platform/socket.h"

#include <cstring>

CBufSocket::~CBufSocket()
{
    Close();
}

int CBufSocket::Create()
{
    Close();
    int nError = 0;
    Pf_Socket hSocket = PF_INVALID_SOCKET;
    if (!Pf_SocketCreate(&hSocket, &nError)) {
        m_nLastError = nError;
        return 0;
    }
    {
        Pf_MutexGuard guard(m_SocketLock);
        m_hSocket = hSocket;
    }
    m_Ring.assign(RV_BUFSOCKET_SIZE, 0);
    m_Scratch.assign(RV_BUFSOCKET_SIZE, 0);
    m_nCount = m_nReadPos = m_nWritePos = 0;
    m_bPeerClosed = 0;
    return 1;
}

void CBufSocket::Close()
{
    {
        Pf_MutexGuard guard(m_SocketLock);
        if (m_hSocket >= 0)
            Pf_SocketClose(m_hSocket);
        m_hSocket = -1;
    }
    m_Ring.clear();
    m_Ring.shrink_to_fit();
    m_Scratch.clear();
    m_Scratch.shrink_to_fit();
    m_nCount = m_nReadPos = m_nWritePos = 0;
}

void CBufSocket::Interrupt()
{
    Pf_MutexGuard guard(m_SocketLock);
    Pf_SocketShutdown(m_hSocket);
}

uint32_t CBufSocket::ResolveHost(const char* cszName, int nTimeout, int* pnRetError)
{
    return Pf_ResolveHostIPv4(cszName, nTimeout, pnRetError);
}

int CBufSocket::Connect(const char* cszHost, int nPort, int nTimeout)
{
    int nError = 0;
    uint32_t uAddress = 0;
    if (m_hSocket < 0) {
        m_nLastError = PF_WSAENOTSOCK;
        return 0;
    }
    uAddress = ResolveHost(cszHost, nTimeout, &nError);
    if (uAddress == PF_INADDR_NONE) {
        m_nLastError = nError ? nError : PF_WSAHOST_NOT_FOUND;
        return 0;
    }
    if (!Pf_SocketConnect(m_hSocket, uAddress, nPort, nTimeout, &nError)) {
        m_nLastError = nError;
        return 0;
    }
    return 1;
}

int CBufSocket::SendAll(const void* pvData, int nLength, int nTimeout)
{
    int nError = 0;
    int nSent = 0;
    if (nLength < 1 || m_hSocket < 0)
        return 0;
    nSent = Pf_SocketSend(m_hSocket, pvData, nLength, nTimeout, &nError);
    if (nSent < nLength)
        m_nLastError = nError;
    return nSent;
}

int CBufSocket::_FillBuffer(int nTimeout)
{
    int nError = 0;
    int nFree = RV_BUFSOCKET_SIZE - m_nCount;
    int nRecv = 0;
    int nFirst = 0;
    if (m_hSocket < 0 || nFree <= 0)
        return -1;
    nRecv = Pf_SocketRecv(m_hSocket, m_Scratch.data(), nFree, nTimeout, &nError);
    if (nRecv < 0) {
        m_nLastError = nError;
        m_bPeerClosed = 0;
        return -1;
    }
    if (nRecv == 0) {
        m_bPeerClosed = 1;
        return 0;
    }
    nFirst = RV_BUFSOCKET_SIZE - m_nWritePos;
    if (nFirst > nRecv)
        nFirst = nRecv;
    memcpy(m_Ring.data() + m_nWritePos, m_Scratch.data(), (size_t)nFirst);
    memcpy(m_Ring.data(), m_Scratch.data() + nFirst, (size_t)(nRecv - nFirst));
    m_nWritePos = (m_nWritePos + nRecv) % RV_BUFSOCKET_SIZE;
    m_nCount += nRecv;
    return nRecv;
}

int CBufSocket::ReadByte(int nTimeout)
{
    int nByte = 0;
    if (m_hSocket < 0)
        return 256;
    if (m_nCount == 0 && _FillBuffer(nTimeout) <= 0)
        return 256;
    nByte = (unsigned char)m_Ring[(size_t)m_nReadPos];
    m_nReadPos = (m_nReadPos + 1) % RV_BUFSOCKET_SIZE;
    m_nCount--;
    return nByte;
}

int CBufSocket::ReadLine(char* pszBuffer, int nTimeout)
{
    int nLength = 0;
    while (nLength < 1023) {
        int nByte = ReadByte(nTimeout);
        if (nByte == 256) {
            pszBuffer[nLength] = '\0';
            return -1;
        }
        if (nByte == '\n') {
            if (nLength > 0 && pszBuffer[nLength - 1] == '\r')
                nLength--;
            pszBuffer[nLength] = '\0';
            return 0;
        }
        pszBuffer[nLength++] = (char)nByte;
    }
    pszBuffer[nLength] = '\0';
    return 1;
}

int CBufSocket::Read(char* pBuffer, int nTimeout, int nMaxLength)
{
    int nTake = 0;
    int nFirst = 0;
    if (m_hSocket < 0) {
        m_bPeerClosed = 0;
        return -1;
    }
    if (nMaxLength > RV_BUFSOCKET_SIZE)
        nMaxLength = RV_BUFSOCKET_SIZE;
    if (nMaxLength <= 0)
        return -1;
    if (m_nCount == 0) {
        int nFill = _FillBuffer(nTimeout);
        if (nFill <= 0)
            return nFill;
    }
    nTake = m_nCount < nMaxLength ? m_nCount : nMaxLength;
    nFirst = RV_BUFSOCKET_SIZE - m_nReadPos;
    if (nFirst > nTake)
        nFirst = nTake;
    memcpy(pBuffer, m_Ring.data() + m_nReadPos, (size_t)nFirst);
    memcpy(pBuffer + nFirst, m_Ring.data(), (size_t)(nTake - nFirst));
    m_nReadPos = (m_nReadPos + nTake) % RV_BUFSOCKET_SIZE;
    m_nCount -= nTake;
    return nTake;
}

int StartupWinsock()
{
    return 1;
}

void CleanupWinsock()
{
}
