// A bare loopback TCP peer for tests of the socket layer: listens on a port
// of its own, takes connections one at a time, sends exactly what the test
// gives it and reads back what the other side sent. Single-threaded: the
// test drives it between the calls of the code under test. Also the
// listening socket and the sending loop that the loopback servers share.
#pragma once
#include <string>

// A listening socket on 127.0.0.1 with a port chosen by the system (close-on-exec);
// throws on failure.
int Rv_TestListenOnLoopback(int nBacklog, int* pnRetPort);
// Sends every byte (no SIGPIPE); false when the connection failed.
bool Rv_TestSendAll(int nFd, const std::string& strData);

class Rv_TestTcpPeer {
public:
    Rv_TestTcpPeer() = default;
    ~Rv_TestTcpPeer();
    Rv_TestTcpPeer(const Rv_TestTcpPeer&) = delete;
    Rv_TestTcpPeer& operator=(const Rv_TestTcpPeer&) = delete;

    // Binds 127.0.0.1 port 0 and listens; throws on failure.
    void Start();
    int Port() const { return m_nPort; }
    // Takes the next connection (closing the one before); false after the time.
    bool Accept(unsigned uTimeoutMs);
    bool Send(const std::string& strData);
    // Up to uCount bytes: fewer when the other side closed or the time passed.
    std::string Receive(size_t uCount, unsigned uTimeoutMs);
    // Closes the connection in order (the other side reads its end).
    void Close();

private:
    int m_nListenFd = -1;
    int m_nFd = -1;
    int m_nPort = 0;
};
