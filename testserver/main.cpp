// dorvane-testserver: a SQL Server-compatible server on 127.0.0.1 for tests.
#include "collation.h"
#include "engine.h"
#include "gssauth.h"
#include "tdsserver.h"

#include <cerrno>
#include <csignal>
#include <signal.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
                 "                          [--drop-after N] [--stall-login] [--die-after N]\n"
                 "                          [--rowcount-after-output 0]\n"
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
                 "  --rowcount-after-output 0  @@ROWCOUNT reads 0 after an INSERT, UPDATE or DELETE\n"
                 "                   with an OUTPUT clause (the statement's DONE count stays right)\n",
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

} // namespace

int main(int argc, char **argv)
{
    ts::tds::ServerOptions opts;
    ts::EngineOptions engineOpts;
    bool defaultLogin = true;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--port" && hasValue) {
            if (!toInt(argv[++i], opts.port) || opts.port > 65535) {
                usage();
                return 2;
            }
        } else if (a == "--data-dir" && hasValue) {
            engineOpts.dataDir = argv[++i];
        } else if (a == "--login" && hasValue) {
            const std::string v = argv[++i];
            const size_t colon = v.find(':');
            if (colon == std::string::npos || colon == 0) {
                usage();
                return 2;
            }
            opts.logins.push_back({v.substr(0, colon), v.substr(colon + 1)});
            defaultLogin = false;
        } else if (a == "--keytab" && hasValue) {
            opts.keytab = argv[++i];
        } else if (a == "--windows-login" && hasValue) {
            const std::string v = argv[++i];
            const size_t slash = v.find('\\');
            if (slash == std::string::npos || slash == 0 || slash + 1 == v.size()) {
                usage();
                return 2;
            }
            opts.windowsLogins.push_back(v);
        } else if (a == "--trace" && hasValue) {
            opts.tracePath = argv[++i];
        } else if (a == "--compat" && hasValue) {
            if (std::strcmp(argv[++i], "2000") != 0) {
                usage();
                return 2;
            }
            engineOpts.compat2000 = true;
        } else if (a == "--collation" && hasValue) {
            const ts::Collation *c = ts::findCollation(argv[++i]);
            if (!c) {
                usage();
                return 2;
            }
            ts::setServerCollation(*c);
        } else if (a == "--drop-after" && hasValue) {
            if (!toInt(argv[++i], opts.dropAfter)) {
                usage();
                return 2;
            }
        } else if (a == "--die-after" && hasValue) {
            if (!toInt(argv[++i], opts.dieAfter)) {
                usage();
                return 2;
            }
        } else if (a == "--rowcount-after-output" && hasValue) {
            if (std::strcmp(argv[++i], "0") != 0) {
                usage();
                return 2;
            }
            engineOpts.rowcountZeroAfterOutput = true;
        } else if (a == "--stall-login") {
            opts.stallLogin = true;
        } else {
            usage();
            return 2;
        }
    }
    if (!opts.windowsLogins.empty() && opts.keytab.empty()) {
        usage();
        return 2;
    }
    if (!opts.keytab.empty()) {
        std::string why;
        if (!ts::tds::checkKeytab(opts.keytab, &why)) {
            std::fprintf(stderr, "dorvane-testserver: %s\n", why.c_str());
            return 1;
        }
    }
    if (defaultLogin)
        opts.logins.push_back({"sa", randomPassword()});
    opts.serverName = engineOpts.serverName;

    std::signal(SIGPIPE, SIG_IGN);

    ts::Engine engine(engineOpts);
    std::string error;
    if (!engine.start(&error)) {
        std::fprintf(stderr, "dorvane-testserver: %s\n", error.c_str());
        return 1;
    }
    opts.checkLogin = [&engine](const std::string &user, const std::string &password, std::string *name) {
        return engine.checkLogin(user, password, name);
    };
    ts::tds::Server server(opts, [&engine](const std::string &user, const std::string &db, int spid,
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
    if (defaultLogin)
        std::printf("login: %s:%s\n", opts.logins[0].user.c_str(), opts.logins[0].password.c_str());
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
