// The socket side of a hand-written TDS client for protocol tests: packets
// out (a message cut to a packet size), packets and whole messages in.
#pragma once

#include "wire/tdsbuffer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

struct Packet {
    uint8_t type = 0;
    uint8_t status = 0;
    uint16_t spid = 0;
    uint8_t id = 0;
    std::string payload;
};

class RawTdsSocket {
public:
    RawTdsSocket() = default;
    RawTdsSocket(const RawTdsSocket &) = delete;
    RawTdsSocket &operator=(const RawTdsSocket &) = delete;
    ~RawTdsSocket() { close(); }

    bool connectTo(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    void sendRaw(const std::string &bytes) { ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Sends a message cut into packets of `packetSize`.
    void send(uint8_t type, const std::string &payload, size_t packetSize = 4096)
    {
        size_t pos = 0;
        uint8_t id = 1;
        do {
            const size_t n = std::min(payload.size() - pos, packetSize - 8);
            const bool last = pos + n == payload.size();
            std::string p;
            ts::tds::Writer w(p);
            w.u8(type);
            w.u8(last ? 1 : 0);
            w.u16be(uint16_t(n + 8));
            w.u16be(0);
            w.u8(id++);
            w.u8(0);
            p.append(payload, pos, n);
            sendRaw(p);
            pos += n;
        } while (pos < payload.size());
    }

    bool readExact(char *p, size_t n)
    {
        while (n > 0) {
            const ssize_t k = ::recv(m_fd, p, n, 0);
            if (k <= 0)
                return false;
            p += k;
            n -= size_t(k);
        }
        return true;
    }

    bool readPacket(Packet &pk)
    {
        unsigned char h[8];
        if (!readExact(reinterpret_cast<char *>(h), 8))
            return false;
        pk.type = h[0];
        pk.status = h[1];
        const size_t len = (size_t(h[2]) << 8) | h[3];
        pk.spid = uint16_t((h[4] << 8) | h[5]);
        pk.id = h[6];
        if (len < 8)
            return false;
        pk.payload.assign(len - 8, '\0');
        return readExact(pk.payload.data(), pk.payload.size());
    }

    // One whole reply; the packets it came in go to `packets`.
    bool readMessage(std::string &payload, std::vector<Packet> *packets = nullptr)
    {
        payload.clear();
        for (;;) {
            Packet p;
            if (!readPacket(p))
                return false;
            payload += p.payload;
            if (packets)
                packets->push_back(p);
            if (p.status & 1)
                return true;
        }
    }

    // True when the server closed the connection (EOF, not a time-out).
    bool closedByServer()
    {
        char c;
        return ::recv(m_fd, &c, 1, 0) == 0;
    }

protected:
    int m_fd = -1;
};
