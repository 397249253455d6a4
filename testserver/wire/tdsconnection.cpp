// One client's connection to the test server: a reader thread assembles
// packets into messages (and takes attention at once), the connection's own
// thread logs the client in and answers batches, RPCs and transaction
// requests on an engine session.
#include "wire/tdsconnection.h"

#include "wire/gssauth.h"
#include "wire/tdsbuffer.h"
#include "wire/tdsresponse.h"
#include "wire/tdstypes.h"
#include "wire/tlschannel.h"
#include "base/textcodec.h"
#include "base/collation.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

namespace ts::tds {


namespace {

enum PacketType : uint8_t {
    PktBatch = 0x01,
    PktRpc = 0x03,
    PktReply = 0x04,
    PktAttention = 0x06,
    PktTransaction = 0x0E,
    PktLogin7 = 0x10,
    PktSspi = 0x11,
    PktPrelogin = 0x12,
};

bool knownPacketType(uint8_t t)
{
    return t == PktBatch || t == PktRpc || t == PktAttention || t == PktTransaction || t == PktLogin7
           || t == PktPrelogin || t == 0x07 /* bulk load */ || t == PktSspi;
}

// A request larger than this is treated as hostile and closes the connection.
constexpr size_t kMaxMessage = 64u << 20;

bool sameUser(const std::string &a, const std::string &b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                  return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
              });
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char *procIdName(uint16_t id)
{
    static const char *names[] = {nullptr, "sp_cursor", "sp_cursoropen", "sp_cursorprepare", "sp_cursorexecute",
                                  "sp_cursorprepexec", "sp_cursorunprepare", "sp_cursorfetch", "sp_cursoroption",
                                  "sp_cursorclose", "sp_executesql", "sp_prepare", "sp_execute", "sp_prepexec",
                                  "sp_prepexecrpc", "sp_unprepare"};
    return id >= 1 && id <= 15 ? names[id] : nullptr;
}

// Parameter names declared in an sp_executesql definition list
// ("@P1 int,@P2 nvarchar(10) OUTPUT" -> @P1, @P2).
std::vector<std::string> declaredNames(const std::string &decl)
{
    std::vector<std::string> names;
    int depth = 0;
    std::string cur;
    auto take = [&] {
        size_t b = cur.find_first_not_of(" \t\r\n");
        if (b != std::string::npos) {
            size_t e = cur.find_first_of(" \t\r\n", b);
            names.push_back(cur.substr(b, e == std::string::npos ? std::string::npos : e - b));
        }
        cur.clear();
    };
    for (char c : decl) {
        if (c == '(') ++depth;
        else if (c == ')') --depth;
        if (c == ',' && depth == 0)
            take();
        else
            cur.push_back(c);
    }
    take();
    return names;
}

std::string textOf(const RpcParam &p)
{
    return p.value.kind == Value::Text || p.value.kind == Value::Blob ? p.value.s : std::string();
}

// True for a lone SELECT that cannot change anything: the only kind of
// statement the server runs to describe a prepared statement's columns.
bool isReadOnlySelect(const std::string &sql)
{
    static const std::set<std::string> writers = {"INTO", "INSERT", "UPDATE", "DELETE", "MERGE", "EXEC", "EXECUTE",
                                                  "CREATE", "DROP", "ALTER", "TRUNCATE", "BACKUP", "RESTORE",
                                                  "DBCC", "WAITFOR", "DUMP", "USE", "SET", "DECLARE", "GRANT"};
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = sql.size();
    while (i < n) {
        const char c = sql[i];
        if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const size_t e = sql.find("*/", i + 2);
            i = e == std::string::npos ? n : e + 2;
        } else if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            ++i;
            while (i < n && sql[i] != close)
                ++i;
            ++i;
        } else if (c == ';') {
            return false;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t e = i;
            while (e < n && (std::isalnum(static_cast<unsigned char>(sql[e])) || sql[e] == '_'))
                ++e;
            std::string w = sql.substr(i, e - i);
            for (char &ch : w)
                ch = char(std::toupper(static_cast<unsigned char>(ch)));
            words.push_back(std::move(w));
            i = e;
        } else {
            ++i;
        }
    }
    if (words.empty() || words.front() != "SELECT")
        return false;
    return std::none_of(words.begin(), words.end(), [](const std::string &w) { return writers.count(w) > 0; });
}

// Keeps the first result's columns and asks the session to stop there.
class DescribeSink : public ResultSink {
public:
    std::vector<ColumnDef> cols;
    bool got = false;
    void columns(const std::vector<ColumnDef> &c) override
    {
        if (!got) {
            cols = c;
            got = true;
        }
    }
    void row(const std::vector<Value> &) override {}
    void message(const Message &) override {}
    void done(DoneKind, bool, bool, uint64_t) override {}
    void databaseChanged(const std::string &, const std::string &) override {}
    void returnStatus(int32_t) override {}
    bool cancelled() const override { return got; }
};

struct Prepared {
    std::string statement;
    std::string declaration;
};

// Swallows everything but messages: used for statements the server runs on
// the client's behalf (transaction requests).
class CollectSink : public ResultSink {
public:
    std::vector<Message> messages;
    void columns(const std::vector<ColumnDef> &) override {}
    void row(const std::vector<Value> &) override {}
    void message(const Message &m) override { messages.push_back(m); }
    void done(DoneKind, bool, bool, uint64_t) override {}
    void databaseChanged(const std::string &, const std::string &) override {}
    void returnStatus(int32_t) override {}
    bool cancelled() const override { return false; }
};

} // namespace

struct Connection {
    Server::Impl &srv;
    int fd;
    Channel chan;
    uint16_t spid;
    uint32_t packetSize = 4096;
    uint32_t version = kTds74;
    std::unique_ptr<Session> session;

    struct Msg {
        uint8_t type;
        std::string payload;
    };
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Msg> queue;
    bool readerEnded = false;
    bool readerRunning = false;
    // Packets of the message being assembled (reader side only).
    std::string acc;
    uint8_t accType = 0;
    bool inMessage = false;
    int pendingAttn = 0;
    std::atomic<bool> cancel{false};
    std::atomic<bool> broken{false};
    bool dieOnWrite = false;

    std::map<int32_t, Prepared> prepared;
    int32_t nextHandle = 1;
    uint64_t transaction = 0; // current transaction descriptor, 0 = none
    uint64_t nextTransaction = 1;
    const char *encryption = "none"; // of this connection: none, login (LOGIN7 only) or full

    Connection(Server::Impl &s, int f) : srv(s), fd(f), chan(f), spid(uint16_t(s.nextSpid++)) {}

    // ---- socket ----
    bool sendAll(const char *p, size_t n) { return chan.sendAll(p, n); }

    bool sendPacket(const std::string &packet)
    {
        if (broken)
            return false;
        if (dieOnWrite) {
            // Fault switch: the process dies in the middle of a response.
            sendAll(packet.data(), packet.size() / 2);
            _exit(3);
        }
        if (!sendAll(packet.data(), packet.size())) {
            broken = true;
            return false;
        }
        return true;
    }

    bool recvAll(char *p, size_t n) { return chan.recvAll(p, n); }

    // Sends `payload` as a message of `type`, split at the packet size.
    bool sendMessage(uint8_t type, const std::string &payload)
    {
        const size_t room = packetSize - 8;
        size_t at = 0;
        uint8_t id = 1;
        do {
            const size_t n = std::min(room, payload.size() - at);
            std::string packet;
            Writer p(packet);
            p.u8(type);
            p.u8(at + n == payload.size() ? 0x01 : 0x00);
            p.u16be(uint16_t(8 + n));
            p.u16be(0);
            p.u8(id++);
            p.u8(0);
            packet.append(payload, at, n);
            if (!sendPacket(packet))
                return false;
            at += n;
        } while (at < payload.size());
        return true;
    }

    // Reads packets until a whole message, or an attention packet (returned
    // as a message of its own); false when the stream ends or breaks.
    bool readMessage(Msg &m)
    {
        for (;;) {
            unsigned char hdr[8];
            if (!recvAll(reinterpret_cast<char *>(hdr), 8))
                return false;
            const uint8_t type = hdr[0];
            const uint8_t status = hdr[1];
            const size_t length = (size_t(hdr[2]) << 8) | hdr[3];
            if (!knownPacketType(type)) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: unknown packet type 0x%02X, closing\n", spid, type);
                return false;
            }
            if (length < 8) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: bad packet length %zu, closing\n", spid, length);
                return false;
            }
            std::string payload(length - 8, '\0');
            if (!recvAll(payload.data(), payload.size()))
                return false;
            if (type == PktAttention) {
                m = {type, std::string()};
                return true;
            }
            if (inMessage && type != accType) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: packet type changed inside a message, closing\n", spid);
                return false;
            }
            accType = type;
            inMessage = true;
            acc += payload;
            if (acc.size() > kMaxMessage) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: request too large, closing\n", spid);
                return false;
            }
            if (status & 0x01) {
                inMessage = false;
                m = {type, std::move(acc)};
                acc.clear();
                if (!(status & 0x02)) // 0x02: the client abandoned this message
                    return true;
            }
        }
    }

    // Reader thread: queues messages; attention is handled at once.
    void readLoop()
    {
        Msg m;
        while (readMessage(m)) {
            std::lock_guard lock(mu);
            if (m.type == PktAttention) {
                cancel = true;
                ++pendingAttn;
            } else {
                queue.push_back(std::move(m));
            }
            cv.notify_all();
        }
        // Client gone or stream broken: stop whatever runs for it.
        broken = true;
        ::shutdown(fd, SHUT_RDWR);
        std::lock_guard lock(mu);
        readerEnded = true;
        cv.notify_all();
    }

    // Next whole message, or false when the client is gone.
    bool nextMessage(Msg &m)
    {
        if (!readerRunning) {
            // Until the login ends the connection's own thread reads, so that
            // the channel turns TLS on and off exactly between two messages.
            while (readMessage(m))
                if (m.type != PktAttention)
                    return true;
            return false;
        }
        std::unique_lock lock(mu);
        cv.wait(lock, [&] { return !queue.empty() || readerEnded; });
        if (queue.empty())
            return false;
        m = std::move(queue.front());
        queue.pop_front();
        return true;
    }

    Response makeResponse()
    {
        return Response([this](const std::string &p) { return sendPacket(p); }, packetSize, spid, version);
    }

    // ---- main flow ----
    void run()
    {
        std::thread reader;
        if (login()) {
            readerRunning = true;
            reader = std::thread([this] { readLoop(); });
            serve();
        }
        ::shutdown(fd, SHUT_RDWR);
        if (reader.joinable())
            reader.join();
        try {
            session.reset();
        } catch (...) {
        }
    }

    void serve()
    {
        int requests = 0;
        for (;;) {
            Msg m;
            bool ackAttention = false;
            {
                std::unique_lock lock(mu);
                cv.wait(lock, [&] { return !queue.empty() || pendingAttn > 0 || readerEnded; });
                if (!queue.empty()) {
                    m = std::move(queue.front());
                    queue.pop_front();
                } else if (pendingAttn > 0) {
                    pendingAttn = 0;
                    cancel = false;
                    ackAttention = true;
                } else {
                    return;
                }
            }
            if (ackAttention) {
                // Attention is acknowledged in a message of its own.
                Response r = makeResponse();
                r.done(TokDone, DoneAttn);
                r.finish();
                continue;
            }
            if (m.type != PktBatch && m.type != PktRpc && m.type != PktTransaction) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: unexpected message type 0x%02X, closing\n", spid,
                             m.type);
                return;
            }
            if (srv.opts.dieAfter > 0 && ++srv.responses == srv.opts.dieAfter)
                dieOnWrite = true;
            bool ok = true;
            if (m.type == PktBatch)
                ok = handleBatch(m.payload);
            else if (m.type == PktRpc)
                ok = handleRpc(m.payload);
            else
                ok = handleTransaction(m.payload);
            if (!ok || broken)
                return;
            if (srv.opts.dropAfter > 0 && ++requests >= srv.opts.dropAfter)
                return;
        }
    }

    // ---- login ----
    enum class Crypt { Fail, None, LoginOnly, Full };

    bool login()
    {
        bool preloginSeen = false;
        Crypt crypt = Crypt::None;
        Msg m;
        while (nextMessage(m)) {
            if (srv.opts.stallLogin)
                continue; // fault switch: read and never answer
            if (m.type == PktPrelogin && !preloginSeen) {
                preloginSeen = true;
                crypt = answerPrelogin(m.payload);
                if (crypt == Crypt::Fail || (crypt != Crypt::None && !tlsHandshake()))
                    return false;
                continue;
            }
            if (m.type == PktLogin7 && crypt == Crypt::None && srv.opts.encryption == Encryption::Required) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: login in clear while encryption is required, "
                                     "closing\n", spid);
                return false;
            }
            if (m.type == PktLogin7) {
                if (crypt == Crypt::LoginOnly)
                    chan.setEncrypted(false);
                encryption = crypt == Crypt::LoginOnly ? "login" : crypt == Crypt::Full ? "full" : "none";
                return answerLogin(m.payload);
            }
            std::fprintf(stderr, "dorvane-testserver: spid %d: message type 0x%02X before login, closing\n", spid, m.type);
            return false;
        }
        return false;
    }

    // The client's ENCRYPTION byte (ENCRYPT_NOT_SUP when it sent none);
    // throws ProtocolError on a malformed option list.
    static uint8_t clientEncryption(const std::string &payload)
    {
        Reader r(payload);
        uint8_t value = 0x02;
        for (;;) {
            const uint8_t option = r.u8();
            if (option == 0xFF)
                return value;
            const uint16_t off = r.u16be();
            const uint16_t len = r.u16be();
            if (size_t(off) + len > payload.size())
                throw ProtocolError("PRELOGIN option out of range");
            if (option == 0x01 && len >= 1)
                value = uint8_t(payload[off]);
        }
    }

    // The server's ENCRYPTION answer to the client's `asked`, and what the
    // connection does after PRELOGIN: the negotiation table of TDS 7.x.
    std::pair<uint8_t, Crypt> negotiate(uint8_t asked) const
    {
        const bool clientCan = asked != 0x02;
        switch (srv.opts.encryption) {
        case Encryption::NotSupported:
            return {0x02, Crypt::None};
        case Encryption::Offered:
            if (!clientCan)
                return {0x02, Crypt::None};
            return asked == 0x00 ? std::pair{uint8_t(0x00), Crypt::LoginOnly} : std::pair{uint8_t(0x01), Crypt::Full};
        case Encryption::Required:
            break;
        }
        return {clientCan ? (asked == 0x00 ? uint8_t(0x03) : uint8_t(0x01)) : uint8_t(0x03),
                clientCan ? Crypt::Full : Crypt::Fail};
    }

    Crypt answerPrelogin(const std::string &payload)
    {
        uint8_t asked;
        try {
            asked = clientEncryption(payload);
        } catch (const ProtocolError &e) {
            std::fprintf(stderr, "dorvane-testserver: spid %d: bad PRELOGIN (%s), closing\n", spid, e.what());
            return Crypt::Fail;
        }
        const auto [answer, crypt] = negotiate(asked);
        struct Opt {
            uint8_t id;
            std::string data;
        };
        const Opt opts[] = {
            {0x00, std::string("\x0F\x00\x07\xD0\x00\x00", 6)}, // VERSION 15.0.2000
            {0x01, std::string(1, char(answer))},                // ENCRYPTION
            {0x02, std::string("\x00", 1)},                     // INSTOPT
            {0x03, std::string()},                              // THREADID
            {0x04, std::string("\x00", 1)},                     // MARS off
        };
        std::string head, data;
        Writer h(head);
        const size_t headSize = std::size(opts) * 5 + 1;
        for (const Opt &o : opts) {
            h.u8(o.id);
            h.u16be(uint16_t(headSize + data.size()));
            h.u16be(uint16_t(o.data.size()));
            data += o.data;
        }
        h.u8(0xFF);
        if (!sendMessage(PktReply, head + data))
            return Crypt::Fail;
        if (crypt == Crypt::Fail)
            std::fprintf(stderr, "dorvane-testserver: spid %d: the client cannot encrypt and encryption is required, "
                                 "closing\n", spid);
        return crypt;
    }

    // Fault switch: spoils the server's first handshake answer `out`; the
    // login never succeeds.
    bool handshakeFault(const std::string &out)
    {
        using Fault = ServerOptions::TlsFault;
        if (srv.opts.tlsFault == Fault::Truncate) {
            sendMessage(PktPrelogin, out.substr(0, out.size() / 2));
            return false;
        }
        if (srv.opts.tlsFault == Fault::Garbage)
            sendMessage(PktPrelogin, std::string(out.size(), '\xAB'));
        Msg m;
        while (nextMessage(m)) {
        }
        return false;
    }

    // The TLS handshake, carried in PRELOGIN packets both ways; on success the
    // channel encrypts from the next byte on.
    bool tlsHandshake()
    {
        if (!srv.opts.tls || !chan.startTls(*srv.opts.tls))
            return false;
        Msg m;
        while (nextMessage(m)) {
            if (m.type != PktPrelogin) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: message type 0x%02X inside the TLS handshake, "
                                     "closing\n", spid, m.type);
                return false;
            }
            std::string out, error;
            const Channel::Handshake step = chan.handshake(m.payload, &out, &error);
            if (srv.opts.tlsFault != ServerOptions::TlsFault::None)
                return handshakeFault(out);
            if (!out.empty() && !sendMessage(PktPrelogin, out))
                return false;
            if (step == Channel::Handshake::Done) {
                chan.setEncrypted(true);
                return true;
            }
            if (step == Channel::Handshake::Failed) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: %s, closing\n", spid, error.c_str());
                return false;
            }
        }
        return false;
    }

    void loginFailed(Response &r, const std::vector<Message> &msgs)
    {
        for (const Message &msg : msgs)
            writeMessage(r, msg, srv.opts.serverName);
        r.done(TokDone, DoneError);
        r.finish();
    }

    bool answerLogin(const std::string &payload)
    {
        std::string user, password, database, sspi, host, app;
        bool integrated = false;
        try {
            Reader r(payload);
            r.u32(); // length
            const uint32_t clientVersion = r.u32();
            const uint32_t requestedPacket = r.u32();
            r.skip(12); // client program version, PID, connection id
            r.u8();     // OptionFlags1
            const uint8_t flags2 = r.u8();
            r.u8();     // TypeFlags
            r.u8();     // OptionFlags3
            r.skip(8);  // time zone, LCID
            struct Field {
                uint16_t off, len;
            };
            Field f[9];
            for (Field &x : f) {
                x.off = r.u16();
                x.len = r.u16();
            }
            r.skip(6); // client id
            const uint16_t sspiOff = r.u16();
            const uint16_t sspiLen = r.u16();
            uint32_t sspiLong = 0;
            // 7.1 clients send an 86-byte fixed part: no change-password or long SSPI length.
            if (clientVersion >= kTds72) {
                r.skip(8); // attach-file and change-password
                sspiLong = r.u32();
            }
            const uint8_t major = uint8_t(clientVersion >> 24);
            if (major < 0x71) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: TDS version 0x%08X not supported, closing\n", spid,
                             clientVersion);
                return false;
            }
            version = clientVersion > kTds74 ? kTds74 : clientVersion;
            if (version != kTds71 && version < kTds72)
                version = kTds71;
            packetSize = requestedPacket == 0 ? 4096 : std::clamp<uint32_t>(requestedPacket, 512, 32767);

            auto str = [&](const Field &x) {
                if (size_t(x.off) + size_t(x.len) * 2 > payload.size())
                    throw ProtocolError("LOGIN7 string out of range");
                Reader s(payload);
                s.seek(x.off);
                return s.ucs2(x.len);
            };
            host = str(f[0]);
            user = str(f[1]);
            app = str(f[3]);
            database = str(f[8]);
            if (size_t(f[2].off) + size_t(f[2].len) * 2 > payload.size())
                throw ProtocolError("LOGIN7 password out of range");
            std::string clear;
            for (size_t k = 0; k < size_t(f[2].len) * 2; ++k) {
                const uint8_t b = uint8_t(payload[f[2].off + k]) ^ 0xA5;
                clear.push_back(char(uint8_t((b << 4) | (b >> 4))));
            }
            password = utf16leToUtf8(clear);
            // A security token of 64 KB or more gives its length in cbSSPILong.
            const size_t sspiBytes = sspiLen == 0xFFFF ? sspiLong : sspiLen;
            if (size_t(sspiOff) + sspiBytes > payload.size())
                throw ProtocolError("LOGIN7 SSPI data out of range");
            sspi = payload.substr(sspiOff, sspiBytes);
            integrated = (flags2 & 0x80) || sspiLen > 0 || sspiLong > 0;
        } catch (const ProtocolError &e) {
            std::fprintf(stderr, "dorvane-testserver: spid %d: bad LOGIN7 (%s), closing\n", spid, e.what());
            return false;
        }

        // An integrated login is traced once it is known who logged in.
        auto traceLogin = [&](const std::string &who) {
            srv.writeTrace("#### LOGIN spid=" + std::to_string(spid) + " user=" + who + " database=" + database
                           + " encryption=" + encryption + "\n#### END\n");
        };
        if (!integrated)
            traceLogin(user);

        auto failure = [&](int number, const std::string &text) {
            Message m;
            m.number = number;
            m.severity = 14;
            m.state = 1;
            m.text = text;
            return m;
        };
        // The account the session runs as, and for an integrated login the
        // security token that goes back with the login reply.
        std::string login, sspiReply;
        if (integrated) {
            const IntegratedResult result = srv.opts.keytab.empty() ? IntegratedResult::Refused
                                                                    : acceptIntegrated(sspi, &login, &sspiReply);
            if (result == IntegratedResult::Broken)
                return false;
            traceLogin(result == IntegratedResult::Accepted ? login : std::string());
            Response r = makeResponse();
            if (result == IntegratedResult::Refused) {
                loginFailed(r, {failure(18452, "Login failed. The login is from an untrusted domain and cannot be "
                                               "used with Integrated authentication.")});
                return false;
            }
            if (!srv.opts.windowsLogins.empty()
                && std::none_of(srv.opts.windowsLogins.begin(), srv.opts.windowsLogins.end(),
                                [&](const std::string &w) { return sameUser(w, login); })) {
                loginFailed(r, {failure(18456, "Login failed for user '" + login + "'.")});
                return false;
            }
        } else {
            const auto account =
                std::find_if(srv.opts.logins.begin(), srv.opts.logins.end(), [&](const LoginAccount &a) {
                    return sameUser(a.user, user) && a.password == password;
                });
            if (account != srv.opts.logins.end()) {
                login = account->user;
            } else if (!srv.opts.checkLogin || !srv.opts.checkLogin(user, password, &login)) {
                Response r = makeResponse();
                loginFailed(r, {failure(18456, "Login failed for user '" + user + "'.")});
                return false;
            }
        }
        Response r = makeResponse();
        Message err;
        try {
            session = srv.opener(login, database, spid, &err);
            if (session) session->setClientNames(host, app);
        } catch (const std::exception &e) {
            err.number = 4060;
            err.text = e.what();
        }
        if (!session) {
            if (err.text.empty()) {
                err.number = 4060;
                err.severity = 11;
                err.text = "Cannot open database \"" + database + "\" requested by the login. The login failed.";
            }
            loginFailed(r, {err, failure(18456, "Login failed for user '" + login + "'.")});
            return false;
        }

        // The acceptor's last token (Kerberos AP-REP for mutual
        // authentication) goes first in the login reply.
        if (!sspiReply.empty())
            writeSspiToken(r.token(), sspiReply);
        const std::string db = session->currentDatabase();
        writeEnvChange(r, 1, db, "master");
        Message info;
        info.severity = 0;
        info.state = 2;
        info.number = 5701;
        info.text = "Changed database context to '" + db + "'.";
        writeMessage(r, info, srv.opts.serverName);
        writeEnvChangeBytes(r, 7, collationBytes(serverCollation()), std::string());
        writeEnvChange(r, 2, "us_english", "");
        info.state = 1;
        info.number = 5703;
        info.text = "Changed language setting to us_english.";
        writeMessage(r, info, srv.opts.serverName);
        writeLoginAck(r, version);
        writeEnvChange(r, 4, std::to_string(packetSize), "4096");
        r.done(TokDone, 0);
        r.finish();
        return !r.failed();
    }

    enum class IntegratedResult { Accepted, Refused, Broken };

    static void writeSspiToken(Writer w, const std::string &token)
    {
        w.u8(TokSspi);
        w.u16(uint16_t(token.size()));
        w.bytes(token);
    }

    // A reply message holding only an SSPI token: the acceptor needs another
    // token from the client, which comes back in an SSPI message.
    bool sendSspiChallenge(const std::string &token)
    {
        std::string tokens;
        writeSspiToken(Writer(tokens), token);
        const size_t room = packetSize - 8;
        uint8_t id = 1;
        for (size_t at = 0; at < tokens.size(); at += room) {
            const size_t n = std::min(room, tokens.size() - at);
            const bool last = at + n == tokens.size();
            std::string packet;
            Writer p(packet);
            p.u8(PktReply);
            p.u8(last ? 0x01 : 0x00);
            p.u16be(uint16_t(8 + n));
            p.u16be(spid);
            p.u8(id++);
            p.u8(0);
            packet.append(tokens, at, n);
            if (!sendPacket(packet))
                return false;
        }
        return true;
    }

    // Runs the security context exchange for an integrated login, starting
    // with the token from LOGIN7. Refused: the token did not authenticate
    // (the reason goes to stderr, as SQL Server writes it to its error log
    // while the client only learns that the login failed).
    IntegratedResult acceptIntegrated(std::string token, std::string *login, std::string *finalToken)
    {
        IntegratedLogin gss(srv.opts.keytab);
        // Kerberos and SPNEGO finish in one or two rounds; a longer exchange
        // is not one this server takes part in.
        for (int round = 0; round < 4; ++round) {
            std::string reply;
            const IntegratedLogin::Step step = gss.step(token, &reply);
            if (step == IntegratedLogin::Step::Done) {
                *login = windowsLoginName(gss.principal());
                *finalToken = reply;
                return reply.size() > 0xFFFF ? IntegratedResult::Refused : IntegratedResult::Accepted;
            }
            if (step == IntegratedLogin::Step::Failed || reply.empty() || reply.size() > 0xFFFF) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: SSPI handshake failed: %s\n", spid,
                             step == IntegratedLogin::Step::Failed ? gss.error().c_str() : "unusable reply token");
                return IntegratedResult::Refused;
            }
            if (!sendSspiChallenge(reply))
                return IntegratedResult::Broken;
            Msg m;
            if (!nextMessage(m))
                return IntegratedResult::Broken;
            if (m.type != PktSspi) {
                std::fprintf(stderr, "dorvane-testserver: spid %d: message type 0x%02X during the SSPI handshake, "
                             "closing\n", spid, m.type);
                return IntegratedResult::Broken;
            }
            token = std::move(m.payload);
        }
        std::fprintf(stderr, "dorvane-testserver: spid %d: SSPI handshake failed: too many rounds\n", spid);
        return IntegratedResult::Refused;
    }

    // ---- requests ----
    void skipAllHeaders(Reader &r)
    {
        if (version < kTds72)
            return;
        const uint32_t total = r.u32();
        if (total < 4 || total > r.size())
            throw ProtocolError("bad ALL_HEADERS length");
        r.seek(total);
    }

    std::function<bool()> cancelFn()
    {
        return [this] { return cancel.load() || broken.load(); };
    }

    void internalError(TokenSink &sink, const std::string &what)
    {
        Message m;
        m.number = 50000;
        m.severity = 16;
        m.text = "Internal error in the test server: " + what;
        sink.message(m);
    }

    bool handleBatch(const std::string &payload)
    {
        std::string sql;
        try {
            Reader r(payload);
            skipAllHeaders(r);
            sql = utf16leToUtf8(std::string_view(payload).substr(r.pos()));
        } catch (const ProtocolError &e) {
            std::fprintf(stderr, "dorvane-testserver: spid %d: bad SQL batch (%s), closing\n", spid, e.what());
            return false;
        }
        srv.writeTrace("#### BATCH spid=" + std::to_string(spid) + "\n" + sql + "\n#### END\n");
        Response r = makeResponse();
        TokenSink sink(r, srv.opts.serverName, cancelFn());
        try {
            session->executeBatch(sql, sink);
        } catch (const std::exception &e) {
            internalError(sink, e.what());
        }
        r.finish();
        return true;
    }

    struct Call {
        RpcCall call;
        std::string wireName; // name as traced
    };

    bool handleRpc(const std::string &payload)
    {
        std::vector<Call> calls;
        std::string parseError;
        try {
            Reader r(payload);
            skipAllHeaders(r);
            while (!r.atEnd()) {
                Call c;
                const uint16_t nameLen = r.u16();
                if (nameLen == 0xFFFF) {
                    const uint16_t id = r.u16();
                    const char *n = procIdName(id);
                    if (!n)
                        throw ProtocolError("unknown procedure id " + std::to_string(id));
                    c.call.procName = n;
                } else {
                    c.call.procName = r.ucs2(nameLen);
                }
                r.u16(); // option flags
                while (!r.atEnd()) {
                    const uint8_t b = r.peek();
                    if (b == 0x80 || b == 0xFF || b == 0xFE) {
                        r.skip(1);
                        break;
                    }
                    c.call.params.push_back(readParam(r));
                }
                calls.push_back(std::move(c));
            }
        } catch (const ProtocolError &e) {
            parseError = e.what();
        }

        Response r = makeResponse();
        TokenSink sink(r, srv.opts.serverName, cancelFn());
        if (!parseError.empty()) {
            srv.writeTrace("#### RPC spid=" + std::to_string(spid) + " ?\n#### END\n");
            Message m;
            m.number = 8009;
            m.severity = 16;
            m.text = "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is incorrect: "
                     + parseError + ".";
            sink.beginRpc();
            sink.message(m);
            sink.endRpc();
            r.finish();
            return true;
        }
        for (Call &c : calls) {
            if (sink.cancelled())
                break;
            runRpc(c.call, sink);
        }
        r.finish();
        return true;
    }

    // Names unnamed values after the declaration list and writes the trace record.
    void nameValues(std::vector<RpcParam> &params, size_t first, const std::string &decl)
    {
        const std::vector<std::string> names = declaredNames(decl);
        for (size_t k = first; k < params.size(); ++k)
            if (params[k].name.empty() && k - first < names.size())
                params[k].name = names[k - first];
    }

    void traceRpc(const std::string &proc, const std::string *statement, const std::vector<RpcParam> &params,
                  size_t firstValue)
    {
        std::string rec = "#### RPC spid=" + std::to_string(spid) + " " + proc + "\n";
        if (statement)
            rec += *statement + "\n";
        for (size_t k = firstValue; k < params.size(); ++k) {
            const RpcParam &p = params[k];
            rec += (p.name.empty() ? std::string("@") : p.name) + " " + sqlTypeName(p.type) + " = "
                   + valueText(p.value) + "\n";
        }
        rec += "#### END\n";
        srv.writeTrace(rec);
    }

    void execute(const RpcCall &call, TokenSink &sink, std::vector<RpcParam> outputs = {})
    {
        sink.beginRpc(std::move(outputs));
        try {
            session->executeRpc(call, sink);
        } catch (const std::exception &e) {
            internalError(sink, e.what());
        }
        sink.endRpc();
    }

    RpcCall executesql(const std::string &stmt, const std::string &decl, const std::vector<RpcParam> &values,
                       size_t first)
    {
        RpcCall c;
        c.procName = "sp_executesql";
        RpcParam s;
        s.name = "@stmt";
        s.type.type = SqlType::NVarChar;
        s.type.length = -1;
        s.value = Value::text(stmt);
        c.params.push_back(s);
        if (!decl.empty() || first < values.size()) {
            RpcParam d = s;
            d.name = "@params";
            d.value = Value::text(decl);
            c.params.push_back(d);
        }
        c.params.insert(c.params.end(), values.begin() + long(std::min(first, values.size())), values.end());
        return c;
    }

    RpcParam handleParam(const std::string &name, int32_t handle)
    {
        RpcParam h;
        h.name = name;
        h.type.type = SqlType::Int;
        h.value = Value::integer(handle);
        h.output = true;
        return h;
    }

    void rpcError(TokenSink &sink, int number, const std::string &text)
    {
        Message m;
        m.number = number;
        m.severity = 16;
        m.text = text;
        sink.beginRpc();
        sink.message(m);
        sink.endRpc();
    }

    void runRpc(RpcCall &call, TokenSink &sink)
    {
        std::string proc = lower(call.procName);
        const size_t dot = proc.rfind('.');
        if (dot != std::string::npos)
            proc = proc.substr(dot + 1);
        auto &ps = call.params;

        if (proc == "sp_executesql") {
            if (ps.size() >= 2)
                nameValues(ps, 2, textOf(ps[1]));
            const std::string stmt = ps.empty() ? std::string() : textOf(ps[0]);
            traceRpc(call.procName, &stmt, ps, std::min<size_t>(2, ps.size()));
            execute(call, sink, ps);
        } else if (proc == "sp_prepexec" || proc == "sp_prepare") {
            if (ps.size() < 3) {
                traceRpc(call.procName, nullptr, ps, 0);
                rpcError(sink, 201, "Procedure or function '" + proc + "' expects parameter '@stmt', which was not supplied.");
                return;
            }
            const std::string decl = textOf(ps[1]);
            const std::string stmt = textOf(ps[2]);
            const bool exec = proc == "sp_prepexec";
            if (exec)
                nameValues(ps, 3, decl);
            traceRpc(call.procName, &stmt, ps, exec ? 3 : ps.size());
            const int32_t handle = nextHandle++;
            prepared[handle] = {stmt, decl};
            std::vector<RpcParam> outputs{handleParam(ps[0].name, handle)};
            if (exec) {
                std::vector<RpcParam> all = ps; // the handle and the statement's output parameters
                all[0] = outputs[0];
                execute(executesql(stmt, decl, ps, 3), sink, std::move(all));
            } else {
                // Describing a statement before it runs: the client wants its
                // columns. Only a read-only SELECT is run for them (with NULL
                // parameters); anything else is described as no columns.
                std::vector<ColumnDef> cols;
                if (isReadOnlySelect(stmt)) {
                    std::vector<RpcParam> nulls;
                    for (const std::string &name : declaredNames(decl)) {
                        RpcParam p;
                        p.name = name;
                        p.type.type = SqlType::NVarChar;
                        p.type.length = 4000;
                        nulls.push_back(p);
                    }
                    DescribeSink d;
                    try {
                        session->executeRpc(executesql(stmt, decl, nulls, 0), d);
                    } catch (const std::exception &) {
                    }
                    cols = std::move(d.cols);
                }
                sink.beginRpc(outputs);
                if (!cols.empty())
                    sink.columns(cols);
                sink.endRpc();
            }
        } else if (proc == "sp_execute") {
            const int32_t handle = ps.empty() || ps[0].value.kind != Value::Int ? -1 : int32_t(ps[0].value.i);
            const auto it = prepared.find(handle);
            if (it != prepared.end())
                nameValues(ps, 1, it->second.declaration);
            traceRpc(call.procName, nullptr, ps, 0);
            if (it == prepared.end()) {
                rpcError(sink, 8179, "Could not find prepared statement with handle " + std::to_string(handle) + ".");
                return;
            }
            execute(executesql(it->second.statement, it->second.declaration, ps, 1), sink, ps);
        } else if (proc == "sp_unprepare") {
            traceRpc(call.procName, nullptr, ps, 0);
            if (!ps.empty() && ps[0].value.kind == Value::Int)
                prepared.erase(int32_t(ps[0].value.i));
            sink.beginRpc();
            sink.endRpc();
        } else {
            traceRpc(call.procName, nullptr, ps, 0);
            execute(call, sink);
        }
    }

    bool handleTransaction(const std::string &payload)
    {
        uint16_t request = 0;
        uint8_t commitFlags = 0;
        try {
            Reader r(payload);
            skipAllHeaders(r);
            request = r.u16();
            if ((request == 7 || request == 8) && !r.atEnd()) {
                r.bVarchar(); // transaction name
                if (!r.atEnd())
                    commitFlags = r.u8();
            }
        } catch (const ProtocolError &e) {
            std::fprintf(stderr, "dorvane-testserver: spid %d: bad transaction request (%s), closing\n", spid, e.what());
            return false;
        }
        const char *name = request == 5 ? "BEGIN" : request == 7 ? "COMMIT" : request == 8 ? "ROLLBACK" : "OTHER";
        srv.writeTrace("#### TRAN spid=" + std::to_string(spid) + " " + name + "\n#### END\n");

        Response r = makeResponse();
        TokenSink sink(r, srv.opts.serverName, cancelFn());
        auto fail = [&](int number, const std::string &text) {
            Message m;
            m.number = number;
            m.severity = 16;
            m.text = text;
            sink.message(m);
            r.done(TokDone, DoneError);
            r.finish();
            return true;
        };
        // Runs the statement on the session; false (and the messages sent) if it failed.
        auto run = [&](const char *sql) {
            CollectSink c;
            try {
                session->executeBatch(sql, c);
            } catch (const std::exception &e) {
                Message m;
                m.number = 50000;
                m.text = e.what();
                c.messages.push_back(m);
            }
            bool ok = true;
            for (const Message &m : c.messages) {
                sink.message(m);
                if (m.severity > 10)
                    ok = false;
            }
            return ok;
        };
        auto descriptor = [](uint64_t t) {
            std::string d;
            Writer w(d);
            w.u64(t);
            return d;
        };
        auto begin = [&] {
            if (!run("BEGIN TRANSACTION"))
                return false;
            transaction = nextTransaction++;
            writeEnvChangeBytes(r, 8, descriptor(transaction), std::string());
            return true;
        };

        switch (request) {
        case 5:
            if (transaction != 0)
                return fail(3902, "A transaction is already active on this connection.");
            if (!begin()) {
                r.done(TokDone, DoneError);
                r.finish();
                return true;
            }
            break;
        case 7:
        case 8: {
            const bool commit = request == 7;
            if (transaction == 0)
                return fail(commit ? 3902 : 3903,
                            std::string("The ") + (commit ? "COMMIT" : "ROLLBACK")
                                + " TRANSACTION request has no corresponding BEGIN TRANSACTION.");
            if (!run(commit ? "COMMIT TRANSACTION" : "ROLLBACK TRANSACTION")) {
                r.done(TokDone, DoneError);
                r.finish();
                return true;
            }
            writeEnvChangeBytes(r, commit ? 9 : 10, std::string(), descriptor(transaction));
            transaction = 0;
            if (commitFlags & 0x01)
                begin(); // commit/rollback and begin a new transaction at once
            break;
        }
        default:
            return fail(8524, "The transaction manager request " + std::to_string(request)
                                  + " is not supported by this server.");
        }
        r.done(TokDone, 0);
        r.finish();
        return true;
    }
};

void startConnection(Server::Impl &srv, int fd)
{
    auto *conn = new Connection(srv, fd);
    {
        std::lock_guard lock(srv.connMu);
        srv.conns.insert(conn);
    }
    std::thread([&srv, conn] {
        conn->run();
        std::lock_guard lock(srv.connMu);
        srv.conns.erase(conn);
        ::close(conn->fd);
        delete conn;
        releaseThreadTls();
        srv.connCv.notify_all();
    }).detach();
}

bool closeConnections(Server::Impl &srv)
{
    std::unique_lock lock(srv.connMu);
    for (Connection *c : srv.conns)
        ::shutdown(c->fd, SHUT_RDWR);
    return srv.connCv.wait_for(lock, std::chrono::seconds(5), [&] { return srv.conns.empty(); });
}

} // namespace ts::tds
