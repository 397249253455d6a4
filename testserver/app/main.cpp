// dorvane-testserver: a SQL Server-compatible server on 127.0.0.1 for tests.
#include "functiontable.h"
#include "base/collation.h"
#include "engine/engine.h"
#include "wire/gssauth.h"
#include "wire/tdsserver.h"
#include "wire/tlschannel.h"

#include <cerrno>
#include <csignal>
#include <signal.h>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

namespace {

ts::tds::Server *g_server = nullptr;

void onSignal(int)
{
    if (g_server)
        g_server->stop();
}

void usage()
{
    std::fprintf(stderr,
                 "usage: dorvane-testserver [--port N] [--data-dir DIR] [--login NAME:PASSWORD]...\n"
                 "                          [--keytab FILE [--windows-login REALM\\USER]...]\n"
                 "                          [--trace FILE] [--compat 2000] [--collation NAME]\n"
                 "                          [--drop-after N] [--stall-login] [--die-after N] [--tls-fault F]\n"
                 "                          [--rowcount-after-output 0] [--function-table]\n"
                 "                          [--encrypt offered|required|not-supported] [--cert FILE --key FILE]\n"
                 "  --port N         listen on 127.0.0.1:N (0 = a free port); the port is the first line on stdout\n"
                 "  --data-dir DIR   where the catalogue and databases live\n"
                 "  --login U:P      accept this login (repeatable); default: sa with a random password,\n"
                 "                   printed as the second line \"login: sa:<password>\"\n"
                 "  --keytab FILE    accept integrated (Kerberos) logins whose tickets the keys in FILE\n"
                 "                   decrypt (service principals MSSQLSvc/HOST:PORT); a principal\n"
                 "                   user@REALM logs in as REALM\\user\n"
                 "  --windows-login REALM\\USER  allow only these integrated logins (repeatable);\n"
                 "                   default: every principal the keytab authenticates\n"
                 "  --trace FILE     append every request to FILE\n"
                 "  --compat 2000    accept the SQL Server 2000 log statements\n"
                 "  --collation NAME server collation (default Chinese_PRC_CI_AS); one of\n"
                 "                   %s\n"
                 "  --drop-after N   close each connection after its N-th request\n"
                 "  --stall-login    accept connections but never answer the login\n"
                 "  --die-after N    exit abruptly while writing the N-th response\n"
                 "                   (requests counted: batches, RPCs and transaction requests of all\n"
                 "                   connections, the ones traced as BATCH, RPC and TRAN)\n"
                 "  --tls-fault F    spoil the TLS handshake: stall (never answer it), garbage (answer\n"
                 "                   with bytes that are no TLS record), truncate (half an answer, then close)\n"
                 "  --encrypt MODE   what PRELOGIN answers (default offered): offered encrypts the login of a\n"
                 "                   client that asks for no encryption and the whole session of one that asks\n"
                 "                   for it; required encrypts every session and refuses a client that cannot\n"
                 "                   encrypt; not-supported keeps everything in clear\n"
                 "  --cert FILE, --key FILE  the server's certificate (chain) and private key, PEM;\n"
                 "                   default: a self-signed certificate made at start\n"
                 "  --rowcount-after-output 0  @@ROWCOUNT reads 0 after an INSERT, UPDATE or DELETE\n"
                 "                   with an OUTPUT clause (the statement's DONE count stays right)\n"
                 "  --function-table print which built-in functions this server answers (Markdown) and exit\n",
                 ts::knownCollations().c_str());
}

bool toInt(const char *s, int &out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < 0 || v > 65535 * 1000L)
        return false;
    out = int(v);
    return true;
}

std::string randomPassword()
{
    static const char chars[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    std::random_device rd;
    std::string pw;
    for (int k = 0; k < 16; ++k)
        pw.push_back(chars[rd() % (sizeof chars - 1)]);
    return pw;
}

struct Settings {
    ts::tds::ServerOptions server;
    ts::EngineOptions engine;
    bool defaultLogin = true; // no --login: sa with a random password
    bool functionTable = false; // --function-table: print the function table and exit
    std::string certFile, keyFile;
    Settings() { server.encryption = ts::tds::Encryption::Offered; }
};

// The options that take a value, each with what it does with it; false refuses the value.
using OptionHandler = std::function<bool(Settings &, const std::string &)>;

const std::map<std::string, OptionHandler> &valueOptions()
{
    static const std::map<std::string, OptionHandler> options = {
        {"--port", [](Settings &s, const std::string &v) { return toInt(v.c_str(), s.server.port) && s.server.port <= 65535; }},
        {"--data-dir", [](Settings &s, const std::string &v) { s.engine.dataDir = v; return true; }},
        {"--login", [](Settings &s, const std::string &v) {
             const size_t colon = v.find(':');
             if (colon == std::string::npos || colon == 0) return false;
             s.server.logins.push_back({v.substr(0, colon), v.substr(colon + 1)});
             s.defaultLogin = false;
             return true;
         }},
        {"--keytab", [](Settings &s, const std::string &v) { s.server.keytab = v; return true; }},
        {"--windows-login", [](Settings &s, const std::string &v) {
             const size_t slash = v.find('\\');
             if (slash == std::string::npos || slash == 0 || slash + 1 == v.size()) return false;
             s.server.windowsLogins.push_back(v);
             return true;
         }},
        {"--trace", [](Settings &s, const std::string &v) { s.server.tracePath = v; return true; }},
        {"--compat", [](Settings &s, const std::string &v) {
             s.engine.compat2000 = v == "2000";
             return s.engine.compat2000;
         }},
        {"--collation", [](Settings &, const std::string &v) {
             const ts::Collation *c = ts::findCollation(v);
             if (c) ts::setServerCollation(*c);
             return c != nullptr;
         }},
        {"--encrypt", [](Settings &s, const std::string &v) {
             using ts::tds::Encryption;
             static const std::map<std::string, Encryption> modes = {
                 {"offered", Encryption::Offered}, {"required", Encryption::Required},
                 {"not-supported", Encryption::NotSupported}};
             const auto m = modes.find(v);
             if (m != modes.end()) s.server.encryption = m->second;
             return m != modes.end();
         }},
        {"--tls-fault", [](Settings &s, const std::string &v) {
             using Fault = ts::tds::ServerOptions::TlsFault;
             static const std::map<std::string, Fault> faults = {
                 {"stall", Fault::Stall}, {"garbage", Fault::Garbage}, {"truncate", Fault::Truncate}};
             const auto f = faults.find(v);
             if (f != faults.end()) s.server.tlsFault = f->second;
             return f != faults.end();
         }},
        {"--cert", [](Settings &s, const std::string &v) { s.certFile = v; return true; }},
        {"--key", [](Settings &s, const std::string &v) { s.keyFile = v; return true; }},
        {"--drop-after", [](Settings &s, const std::string &v) { return toInt(v.c_str(), s.server.dropAfter); }},
        {"--die-after", [](Settings &s, const std::string &v) { return toInt(v.c_str(), s.server.dieAfter); }},
        {"--rowcount-after-output", [](Settings &s, const std::string &v) {
             s.engine.rowcountZeroAfterOutput = v == "0";
             return s.engine.rowcountZeroAfterOutput;
         }},
    };
    return options;
}

// False for an unknown option, a missing or refused value, or --windows-login without --keytab.
bool parseArguments(int argc, char **argv, Settings &s)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--function-table") {
            s.functionTable = true;
            continue;
        }
        if (a == "--stall-login") {
            s.server.stallLogin = true;
            continue;
        }
        const auto it = valueOptions().find(a);
        if (it == valueOptions().end() || i + 1 >= argc || !it->second(s, argv[++i]))
            return false;
    }
    return (s.server.windowsLogins.empty() || !s.server.keytab.empty()) && s.certFile.empty() == s.keyFile.empty();
}

// The certificate for encrypted connections: from --cert/--key, or made now
// under the name SQL Server gives the one it makes for itself.
bool loadCertificate(Settings &s)
{
    if (s.server.encryption == ts::tds::Encryption::NotSupported)
        return true;
    std::string why;
    s.server.tls = s.certFile.empty() ? ts::tds::TlsContext::selfSigned("SSL_Self_Signed_Fallback", &why)
                                      : ts::tds::TlsContext::fromFiles(s.certFile, s.keyFile, &why);
    if (!s.server.tls)
        std::fprintf(stderr, "dorvane-testserver: %s\n", why.c_str());
    return s.server.tls != nullptr;
}

// Starts the engine and listens; prints the port (and the default login), then
// serves until SIGTERM or SIGINT.
int serve(Settings &s)
{
    std::signal(SIGPIPE, SIG_IGN);

    ts::Engine engine(s.engine);
    std::string error;
    if (!engine.start(&error)) {
        std::fprintf(stderr, "dorvane-testserver: %s\n", error.c_str());
        return 1;
    }
    s.server.checkLogin = [&engine](const std::string &user, const std::string &password, std::string *name) {
        return engine.checkLogin(user, password, name);
    };
    ts::tds::Server server(s.server, [&engine](const std::string &user, const std::string &db, int spid,
                                               ts::Message *err) { return engine.openSession(user, db, spid, err); });
    if (!server.listen(&error)) {
        std::fprintf(stderr, "dorvane-testserver: %s\n", error.c_str());
        return 1;
    }
    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::printf("%d\n", server.port());
    if (s.defaultLogin)
        std::printf("login: %s:%s\n", s.server.logins[0].user.c_str(), s.server.logins[0].password.c_str());
    std::fflush(stdout);

    if (!server.run()) {
        // A connection thread is stuck in the engine: leave without tearing it down.
        std::fprintf(stderr, "dorvane-testserver: connections did not end; exiting\n");
        std::fflush(stderr);
        _exit(0);
    }
    g_server = nullptr;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Settings s;
    if (!parseArguments(argc, argv, s)) {
        usage();
        return 2;
    }
    if (s.functionTable) return printFunctionTable(s.engine.dataDir);
    if (!s.server.keytab.empty()) {
        std::string why;
        if (!ts::tds::checkKeytab(s.server.keytab, &why)) {
            std::fprintf(stderr, "dorvane-testserver: %s\n", why.c_str());
            return 1;
        }
    }
    if (!loadCertificate(s))
        return 1;
    if (s.defaultLogin)
        s.server.logins.push_back({"sa", randomPassword()});
    s.server.serverName = s.engine.serverName;
    return serve(s);
}
