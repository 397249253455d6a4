#include "wire/tdsserver.h"

#include "wire/tdsconnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace ts::tds {

Server::Server(ServerOptions opts, SessionOpener opener) : d(std::make_unique<Impl>())
{
    d->opts = std::move(opts);
    d->opener = std::move(opener);
}

Server::~Server()
{
    if (d->listenFd >= 0)
        ::close(d->listenFd);
    for (int fd : d->wake)
        if (fd >= 0)
            ::close(fd);
    if (d->trace)
        std::fclose(d->trace);
}

bool Server::listen(std::string *error)
{
    auto fail = [&](const std::string &what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        return false;
    };
    if (!d->opts.tracePath.empty()) {
        d->trace = std::fopen(d->opts.tracePath.c_str(), "a");
        if (!d->trace)
            return fail("cannot open trace file " + d->opts.tracePath);
    }
    if (::pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->listenFd < 0)
        return fail("socket");
    const int one = 1;
    ::setsockopt(d->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(d->opts.port));
    if (::bind(d->listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        return fail("cannot bind 127.0.0.1:" + std::to_string(d->opts.port));
    if (::listen(d->listenFd, 64) != 0)
        return fail("listen");
    socklen_t len = sizeof addr;
    ::getsockname(d->listenFd, reinterpret_cast<sockaddr *>(&addr), &len);
    d->port = ntohs(addr.sin_port);
    return true;
}

int Server::port() const { return d->port; }

void Server::stop()
{
    if (d->wake[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] ssize_t n = ::write(d->wake[1], &c, 1);
    }
}

bool Server::run()
{
    for (;;) {
        pollfd fds[2] = {{d->listenFd, POLLIN, 0}, {d->wake[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(d->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOMEM || errno == ENOBUFS)
                std::this_thread::sleep_for(std::chrono::milliseconds(50)); // out of resources: do not spin
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        startConnection(*d, fd);
    }
    ::close(d->listenFd);
    d->listenFd = -1;
    return closeConnections(*d);
}

} // namespace ts::tds