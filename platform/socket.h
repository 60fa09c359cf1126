// TCP sockets over IPv4 for the system's own HTTP client: connect, send and
// receive, each bounded by a time-out, and host-name lookups with a time
// limit. Failures are reported with the Winsock error numbers that the log
// lines of the callers print (PF_WSAE*).
#pragma once
#include <cstdint>

enum {
    PF_WSAEINTR = 10004,
    PF_WSAEBADF = 10009,
    PF_WSAEACCES = 10013,
    PF_WSAEFAULT = 10014,
    PF_WSAEINVAL = 10022,
    PF_WSAEMFILE = 10024,
    PF_WSAEWOULDBLOCK = 10035,
    PF_WSAEINPROGRESS = 10036,
    PF_WSAENOTSOCK = 10038,
    PF_WSAEMSGSIZE = 10040,
    PF_WSAEAFNOSUPPORT = 10047,
    PF_WSAEADDRINUSE = 10048,
    PF_WSAEADDRNOTAVAIL = 10049,
    PF_WSAENETDOWN = 10050,
    PF_WSAENETUNREACH = 10051,
    PF_WSAENETRESET = 10052,
    PF_WSAECONNABORTED = 10053,
    PF_WSAECONNRESET = 10054,
    PF_WSAENOBUFS = 10055,
    PF_WSAENOTCONN = 10057,
    PF_WSAESHUTDOWN = 10058,
    PF_WSAETIMEDOUT = 10060,
    PF_WSAECONNREFUSED = 10061,
    PF_WSAEHOSTUNREACH = 10065,
    PF_WSAHOST_NOT_FOUND = 11001,
};

enum : uint32_t { PF_INADDR_NONE = 0xFFFFFFFFu };

// A socket handle; PF_INVALID_SOCKET while closed.
typedef int Pf_Socket;
enum { PF_INVALID_SOCKET = -1 };

// The Winsock number for an errno value (0 for 0).
int Pf_SocketErrorFromErrno(int nErrno);

// Opens a non-blocking IPv4 stream socket (close-on-exec, SO_REUSEADDR).
int Pf_SocketCreate(Pf_Socket* phRetSocket, int* pnRetError);
void Pf_SocketClose(Pf_Socket hSocket);
// Ends both directions at once from any thread: a send or receive waiting on
// the socket returns (a receive as an orderly close).
void Pf_SocketShutdown(Pf_Socket hSocket);
// Connects to an IPv4 address (network order) and port within the time.
int Pf_SocketConnect(Pf_Socket hSocket, uint32_t uAddress, int nPort, int nTimeoutMs, int* pnRetError);
// Sends all bytes; each wait for room is bounded by the time-out. Returns the
// count sent (short on failure, with the error). Never raises SIGPIPE.
int Pf_SocketSend(Pf_Socket hSocket, const void* pvData, int nLength, int nTimeoutMs, int* pnRetError);
// Receives once: the count received, 0 when the peer closed in order, -1 on a
// failure (PF_WSAETIMEDOUT when nothing came within the time, PF_WSAECONNRESET ...).
int Pf_SocketRecv(Pf_Socket hSocket, void* pvBuffer, int nLength, int nTimeoutMs, int* pnRetError);

// An IPv4 address in network order for a dotted address or a host name, or
// PF_INADDR_NONE. A name is looked up on a short-lived thread of its own; the
// caller waits at most nTimeoutMs for it (a lookup still running then is
// abandoned and ends by itself).
uint32_t Pf_ResolveHostIPv4(const char* cszHost, int nTimeoutMs, int* pnRetError);
// A dotted IPv4 address only (no lookup); PF_INADDR_NONE otherwise.
uint32_t Pf_ParseIPv4(const char* cszHost);
