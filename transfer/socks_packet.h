// SOCKS4, SOCKS4A and SOCKS5 request packets sent through a buffered socket,
// and their replies read and judged.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CBufSocket;

enum {
    RV_SOCKS4_CONNECT = 1,
    RV_SOCKS4A_CONNECT = 2,
    RV_SOCKS5_METHODS = 3,
    RV_SOCKS5_USERPASS = 4,
    RV_SOCKS5_CONNECT = 5,
};

enum {
    RV_SOCKS5_ATYP_IPV4 = 1,
    RV_SOCKS5_ATYP_DOMAIN = 3,
};

// The fields a request packet is built from.
struct Rv_SocksFields {
    int nPort = 0;
    uint32_t uAddress = 0;          // IPv4, network order
    std::string strUserId;          // SOCKS4 user id
    std::string strHost;            // SOCKS4A and SOCKS5 host name
    int bAuth = 0;                  // SOCKS5: offer the user/password method too
    int nAddressType = RV_SOCKS5_ATYP_IPV4;
    std::string strUser;
    std::string strPassword;
};

struct Rv_SocksReply {
    int nVersion = 0;
    int nStatus = 0;
    int nReserved = 0;
    int nAddressType = 0;
    std::vector<uint8_t> vecAddress;
    int nPort = 0;
};

class CSocksPacket {
public:
    explicit CSocksPacket(CBufSocket* pSocket) : m_pSocket(pSocket) {}
    virtual ~CSocksPacket() = default;

    // The bytes of a request of that kind; 0 when a field does not fit (a
    // length over 255 where one byte holds it) or the kind is unknown.
    static int Build(const Rv_SocksFields& fields, int nKind, std::vector<uint8_t>* pvecRetBytes);
    // Sends a request: 1 when every byte went out, 0 on a send failure, -1
    // when the packet cannot be built.
    int Send(const Rv_SocksFields& fields, int nKind, int nTimeout);
    int SendUserPassword(const char* cszUser, const char* cszPassword, int nTimeout);
    // Reads the reply to a request of that kind; 0 when a byte did not come.
    int Receive(int nKind, int nTimeout);
    int IsReplyOK() const;
    const Rv_SocksReply& Reply() const { return m_Reply; }

private:
    int _ReadBytes(uint8_t* pbyBuffer, int nCount, int nTimeout);

    CBufSocket* m_pSocket;
    int m_nReplyKind = 0;
    Rv_SocksReply m_Reply;
};
