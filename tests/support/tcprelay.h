// A loopback TCP relay between a client and a server port that records the
// bytes of every connection in both directions, for tests that look at what
// actually crossed the socket (encryption, what a password looks like).
#pragma once

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace dvtest {

class TcpRelay {
public:
    explicit TcpRelay(int targetPort) : m_target(targetPort) {}
    ~TcpRelay();
    TcpRelay(const TcpRelay &) = delete;
    TcpRelay &operator=(const TcpRelay &) = delete;

    // Listens on a free port of 127.0.0.1; false when it cannot.
    bool start();
    int port() const { return m_port; }
    // Everything the clients sent to the server, and the server to them,
    // connection after connection.
    QByteArray toServer() const;
    QByteArray toClient() const;

private:
    void acceptLoop();
    void pump(int client, int server);

    int m_target;
    int m_port = 0;
    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_pumps; // touched by the acceptor only, joined after it
    mutable std::mutex m_mu;
    QByteArray m_toServer, m_toClient;
};

} // namespace dvtest
