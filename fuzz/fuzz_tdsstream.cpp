// The test server's packet reader, PRELOGIN and LOGIN7 parsers, and whatever
// follows a login, fed through a real loopback connection: each input is the
// byte stream one client sends. The server runs in this process, so ASan sees
// every read of client data. The login parsers are private to the connection
// class; the socket is the only entry point that reaches them.
#include "engine/engine.h"
#include "wire/tdsserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace {

struct Fixture {
    std::unique_ptr<ts::Engine> engine;
    std::unique_ptr<ts::tds::Server> server;
    std::thread runner;

    Fixture()
    {
        std::signal(SIGPIPE, SIG_IGN);
        char tmpl[] = "/tmp/dv-fuzz-tds-XXXXXX";
        const char *dir = mkdtemp(tmpl);
        if (!dir)
            std::abort();
        ts::EngineOptions eo;
        eo.dataDir = dir;
        engine = std::make_unique<ts::Engine>(eo);
        std::string err;
        if (!engine->start(&err))
            std::abort();
        ts::tds::ServerOptions so;
        so.logins.push_back({"sa", "pw"}); // the seed corpus logs in with these
        server = std::make_unique<ts::tds::Server>(
            so, [this](const std::string &u, const std::string &db, int spid, ts::Message *e) {
                return engine->openSession(u, db, spid, e);
            });
        if (!server->listen(&err))
            std::abort();
        runner = std::thread([this] { server->run(); });
    }
};

Fixture &fixture()
{
    static Fixture *f = new Fixture; // lives for the whole run
    return *f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fixture &f = fixture();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(f.server->port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return 0;
    }
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
    // Read until the server closes (it sees end of input) so each input is
    // handled before the next starts.
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    ::close(fd);
    return 0;
}
