// Inside the test server: the state the listener shares with the
// connections it accepted, and the two calls through which it starts and
// closes them. The connection itself lives in tdsconnection.cpp.
#pragma once

#include "wire/tdsserver.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace ts::tds {

struct Connection;


struct Server::Impl {
    ServerOptions opts;
    SessionOpener opener;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    int port = 0;

    std::mutex traceMu;
    FILE *trace = nullptr;

    std::mutex connMu;
    std::condition_variable connCv;
    std::set<Connection *> conns;

    std::atomic<int> nextSpid{51};
    std::atomic<int> responses{0};

    void writeTrace(const std::string &record)
    {
        if (!trace)
            return;
        std::lock_guard lock(traceMu);
        std::fwrite(record.data(), 1, record.size(), trace);
        std::fflush(trace);
    }
};

// Serves the client on the accepted socket `fd` on a thread of its own. The
// connection is listed in srv.conns while it runs; when it ends it leaves
// the list, closes `fd` and notifies srv.connCv.
void startConnection(Server::Impl &srv, int fd);

// Shuts down the socket of every listed connection and waits (5 seconds at
// most) for all of them to end; false if some did not.
bool closeConnections(Server::Impl &srv);

} // namespace ts::tds
