#include "support/tcprelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dvtest {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool sendAll(int fd, const char *p, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

} // namespace

TcpRelay::~TcpRelay()
{
    m_stop = true;
    if (m_listen >= 0)
        ::shutdown(m_listen, SHUT_RDWR);
    if (m_acceptor.joinable())
        m_acceptor.join();
    for (std::thread &t : m_pumps)
        t.join();
    if (m_listen >= 0)
        ::close(m_listen);
}

bool TcpRelay::start()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || ::listen(m_listen, 8) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return false;
    m_port = ntohs(a.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
    return true;
}

void TcpRelay::acceptLoop()
{
    while (!m_stop) {
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(m_target);
        if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
            ::close(client);
            if (server >= 0)
                ::close(server);
            continue;
        }
        m_pumps.emplace_back([this, client, server] { pump(client, server); });
    }
}

// Copies both ways until either side closes (or the relay stops), recording.
void TcpRelay::pump(int client, int server)
{
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    char buf[16384];
    while (!m_stop) {
        if (::poll(fds, 2, 100) < 0)
            break;
        bool done = false;
        for (int k = 0; k < 2 && !done; ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(fds[k].fd, buf, sizeof buf, 0);
            if (n <= 0) {
                done = true;
                break;
            }
            {
                std::lock_guard lock(m_mu);
                (k == 0 ? m_toServer : m_toClient).append(buf, qsizetype(n));
            }
            done = !sendAll(fds[1 - k].fd, buf, size_t(n));
        }
        if (done)
            break;
    }
    ::close(client);
    ::close(server);
}

QByteArray TcpRelay::toServer() const
{
    std::lock_guard lock(m_mu);
    return m_toServer;
}

QByteArray TcpRelay::toClient() const
{
    std::lock_guard lock(m_mu);
    return m_toClient;
}

} // namespace dvtest
