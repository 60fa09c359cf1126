// SOCKS packets: layouts of RFC 1928 and RFC 1929 and of SOCKS4 and SOCKS4A.
#include "transfer/socks_packet.h"
#include "transfer/buf_socket.h"

static void _PutPort(std::vector<uint8_t>* pvec, int nPort)
{
    pvec->push_back((uint8_t)((nPort >> 8) & 0xFF));
    pvec->push_back((uint8_t)(nPort & 0xFF));
}

static void _PutText(std::vector<uint8_t>* pvec, const std::string& str)
{
    pvec->insert(pvec->end(), str.begin(), str.end());
}

int CSocksPacket::Build(const Rv_SocksFields& fields, int nKind, std::vector<uint8_t>* pvecRetBytes)
{
    std::vector<uint8_t>& vec = *pvecRetBytes;
    const uint8_t* pbyAddress = (const uint8_t*)&fields.uAddress;
    vec.clear();
    switch (nKind) {
    case RV_SOCKS4_CONNECT:
    case RV_SOCKS4A_CONNECT:
        if (fields.strUserId.find('\0') != std::string::npos || fields.strHost.find('\0') != std::string::npos)
            return 0;
        vec.push_back(4);
        vec.push_back(1);
        _PutPort(&vec, fields.nPort);
        if (nKind == RV_SOCKS4_CONNECT) {
            vec.insert(vec.end(), pbyAddress, pbyAddress + 4);
        } else {
            if (fields.strHost.empty() || fields.strHost.size() > 255)
                return 0;
            vec.insert(vec.end(), {0, 0, 0, 16});
        }
        _PutText(&vec, fields.strUserId);
        vec.push_back(0);
        if (nKind == RV_SOCKS4A_CONNECT) {
            _PutText(&vec, fields.strHost);
            vec.push_back(0);
        }
        return 1;
    case RV_SOCKS5_METHODS:
        vec.push_back(5);
        vec.push_back(fields.bAuth ? 2 : 1);
        vec.push_back(0);
        if (fields.bAuth)
            vec.push_back(2);
        return 1;
    case RV_SOCKS5_USERPASS:
        if (fields.strUser.size() > 255 || fields.strPassword.size() > 255)
            return 0;
        vec.push_back(1);
        vec.push_back((uint8_t)fields.strUser.size());
        _PutText(&vec, fields.strUser);
        vec.push_back((uint8_t)fields.strPassword.size());
        _PutText(&vec, fields.strPassword);
        return 1;
    case RV_SOCKS5_CONNECT:
        vec.insert(vec.end(), {5, 1, 0});
        if (fields.nAddressType == RV_SOCKS5_ATYP_IPV4) {
            vec.push_back(RV_SOCKS5_ATYP_IPV4);
            vec.insert(vec.end(), pbyAddress, pbyAddress + 4);
        } else if (fields.nAddressType == RV_SOCKS5_ATYP_DOMAIN) {
            if (fields.strHost.empty() || fields.strHost.size() > 255)
                return 0;
            vec.push_back(RV_SOCKS5_ATYP_DOMAIN);
            vec.push_back((uint8_t)fields.strHost.size());
            _PutText(&vec, fields.strHost);
        } else {
            return 0;
        }
        _PutPort(&vec, fields.nPort);
        return 1;
    default:
        return 0;
    }
}

int CSocksPacket::Send(const Rv_SocksFields& fields, int nKind, int nTimeout)
{
    std::vector<uint8_t> vecBytes;
    if (!Build(fields, nKind, &vecBytes))
        return -1;
    return m_pSocket->SendAll(vecBytes.data(), (int)vecBytes.size(), nTimeout) == (int)vecBytes.size() ? 1 : 0;
}

int CSocksPacket::SendUserPassword(const char* cszUser, const char* cszPassword, int nTimeout)
{
    Rv_SocksFields fields;
    fields.strUser = cszUser ? cszUser : "";
    fields.strPassword = cszPassword ? cszPassword : "";
    return Send(fields, RV_SOCKS5_USERPASS, nTimeout);
}

int CSocksPacket::_ReadBytes(uint8_t* pbyBuffer, int nCount, int nTimeout)
{
    for (int i = 0; i < nCount; i++) {
        int nByte = m_pSocket->ReadByte(nTimeout);
        if (nByte == 256)
            return 0;
        pbyBuffer[i] = (uint8_t)nByte;
    }
    return 1;
}

int CSocksPacket::Receive(int nKind, int nTimeout)
{
    uint8_t aby[4] = {0, 0, 0, 0};
    m_Reply = Rv_SocksReply();
    m_nReplyKind = nKind;
    switch (nKind) {
    case RV_SOCKS4_CONNECT:
    case RV_SOCKS4A_CONNECT:
        if (!_ReadBytes(aby, 2, nTimeout))
            return 0;
        m_Reply.nVersion = aby[0];
        m_Reply.nStatus = aby[1];
        if (!_ReadBytes(aby, 2, nTimeout))
            return 0;
        m_Reply.nPort = (aby[0] << 8) | aby[1];
        m_Reply.vecAddress.resize(4);
        return _ReadBytes(m_Reply.vecAddress.data(), 4, nTimeout);
    case RV_SOCKS5_METHODS:
    case RV_SOCKS5_USERPASS:
        if (!_ReadBytes(aby, 2, nTimeout))
            return 0;
        m_Reply.nVersion = aby[0];
        m_Reply.nStatus = aby[1];
        return 1;
    case RV_SOCKS5_CONNECT: {
        int nLength = 0;
        if (!_ReadBytes(aby, 4, nTimeout))
            return 0;
        m_Reply.nVersion = aby[0];
        m_Reply.nStatus = aby[1];
        m_Reply.nReserved = aby[2];
        m_Reply.nAddressType = aby[3];
        if (m_Reply.nStatus != 0)
            return 1;
        if (m_Reply.nAddressType == 1) {
            nLength = 4;
        } else if (m_Reply.nAddressType == 3) {
            if (!_ReadBytes(aby, 1, nTimeout))
                return 0;
            nLength = aby[0];
        } else if (m_Reply.nAddressType == 4) {
            nLength = 16;
        }
        m_Reply.vecAddress.resize((size_t)nLength);
        if (nLength > 0 && !_ReadBytes(m_Reply.vecAddress.data(), nLength, nTimeout))
            return 0;
        if (!_ReadBytes(aby, 2, nTimeout))
            return 0;
        m_Reply.nPort = (aby[0] << 8) | aby[1];
        return 1;
    }
    default:
        m_nReplyKind = 0;
        return 0;
    }
}

int CSocksPacket::IsReplyOK() const
{
    switch (m_nReplyKind) {
    case RV_SOCKS4_CONNECT:
    case RV_SOCKS4A_CONNECT:
        return m_Reply.nStatus == 90;
    case RV_SOCKS5_METHODS:
        return m_Reply.nStatus >= 0 && m_Reply.nStatus <= 3;
    case RV_SOCKS5_USERPASS:
    case RV_SOCKS5_CONNECT:
        return m_Reply.nStatus == 0;
    default:
        return 0;
    }
}
