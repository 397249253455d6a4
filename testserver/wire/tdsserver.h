// The listening side of the test server: accepts TDS clients on 127.0.0.1,
// logs them in and runs their requests on engine sessions, one thread per
// connection plus a reader thread that watches for attention.
#pragma once

#include "engine/engine.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ts::tds {

class TlsContext;

// What the server answers to the ENCRYPTION option of PRELOGIN.
enum class Encryption {
    NotSupported, // ENCRYPT_NOT_SUP: everything in clear
    Offered,      // encrypts the LOGIN7 of a client that asks OFF, all of a client that asks ON
    Required,     // ENCRYPT_REQ: all encrypted; a client that cannot encrypt is refused
};

struct LoginAccount {
    std::string user;
    std::string password;
};

struct ServerOptions {
    int port = 0; // 0 = any free port
    std::vector<LoginAccount> logins;
    // Logins made while the server runs (CREATE LOGIN): true when user and
    // password match one; `name` gets the login's spelling.
    std::function<bool(const std::string &user, const std::string &password, std::string *name)> checkLogin;
    // Integrated (Kerberos) logins: the keytab with the service's keys;
    // empty = integrated logins are refused.
    std::string keytab;
    // Domain logins ("REALM\\user") allowed to log in with integrated
    // security; empty = every principal the keytab authenticates.
    std::vector<std::string> windowsLogins;
    std::string tracePath;  // empty = no trace
    std::string serverName = "DORVANE-TS";
    Encryption encryption = Encryption::NotSupported;
    std::shared_ptr<const TlsContext> tls; // the certificate; needed unless NotSupported
    // Fault switches for robustness tests.
    int dropAfter = 0;      // close each connection after its N-th request
    bool stallLogin = false; // never answer PRELOGIN/LOGIN7
    // The TLS handshake goes wrong: Stall reads and never answers, Garbage
    // answers with bytes that are no TLS record, Truncate sends half the
    // answer and closes.
    enum class TlsFault { None, Stall, Garbage, Truncate } tlsFault = TlsFault::None;
    int dieAfter = 0;       // _exit while writing the response to the N-th batch/RPC/transaction
                            // request, counted over all connections (logins do not count)
};

// Opens a session for a logged-in user; null with `err` set when the
// database cannot be opened.
using SessionOpener = std::function<std::unique_ptr<Session>(const std::string &user, const std::string &database,
                                                             int spid, Message *err)>;

class Server {
public:
    Server(ServerOptions opts, SessionOpener opener);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Binds and listens on 127.0.0.1; false with `error` set on failure.
    bool listen(std::string *error);
    int port() const;
    // Accepts clients until stop(); then closes every connection and waits
    // (a few seconds at most) for their threads. False if some did not end.
    bool run();
    // Safe to call from a signal handler or another thread.
    void stop();

    struct Impl;
private:
    std::unique_ptr<Impl> d;
};

} // namespace ts::tds
