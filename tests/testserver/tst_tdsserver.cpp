// The TDS side of the test server, driven over a real socket by a small raw
// client, with a scripted stand-in session behind it so that framing, token
// order, DONE bits, attention and RPC parameter decoding are checked exactly.
#include "base/collation.h"
#include "base/textcodec.h"
#include "wire/gssauth.h"
#include "base/textcodec.h"
#include "wire/tdsbuffer.h"
#include "rawtdssocket.h"
#include "wire/tdsserver.h"
#include "wire/tdstypes.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

using namespace ts;
using namespace ts::tds;

namespace {

// ---- stand-in session ----------------------------------------------------

std::mutex g_mu;
RpcCall g_lastRpc;

// Statements separated by ';': "rows N", "print TEXT", "error", "warn",
// "wait" (until cancelled, 10 s at most), "use DB".
class ScriptSession : public Session {
public:
    explicit ScriptSession(std::string db) : m_db(std::move(db)) {}

    void executeBatch(const std::string &sql, ResultSink &sink) override
    {
        size_t start = 0;
        while (start <= sql.size()) {
            size_t end = sql.find(';', start);
            if (end == std::string::npos)
                end = sql.size();
            run(sql.substr(start, end - start), sink);
            start = end + 1;
            if (sink.cancelled())
                break;
        }
    }

    void executeRpc(const RpcCall &call, ResultSink &sink) override
    {
        {
            std::lock_guard lock(g_mu);
            g_lastRpc = call;
        }
        ColumnDef c;
        c.name = "n";
        sink.columns({c});
        sink.row({Value::integer(int64_t(call.params.size()))});
        sink.done(DoneKind::DoneInProc, false, true, 1);
        // Output parameters come back as ten times their value, reported
        // under the lower-case name (as the engine knows them); 7 stays unreported.
        for (const RpcParam &p : call.params)
            if (p.output && !(p.value.kind == Value::Int && p.value.i == 7)) {
                std::string n = p.name;
                for (char &ch : n)
                    ch = char(std::tolower(static_cast<unsigned char>(ch)));
                sink.outputValue(n, p.value.kind == Value::Int ? Value::integer(p.value.i * 10) : Value::null());
            }
    }

    std::string currentDatabase() const override { return m_db; }

private:
    void run(const std::string &stmt, ResultSink &sink)
    {
        if (stmt.rfind("rows ", 0) == 0) {
            const int n = std::stoi(stmt.substr(5));
            ColumnDef id;
            id.name = "id";
            id.nullable = false;
            ColumnDef name;
            name.name = "name";
            name.type = SqlType::NVarChar;
            name.length = 20;
            sink.columns({id, name});
            for (int k = 0; k < n && !sink.cancelled(); ++k)
                sink.row({Value::integer(k), k % 7 == 3 ? Value::null() : Value::text("行" + std::to_string(k))});
            sink.done(DoneKind::Done, false, true, uint64_t(n));
        } else if (stmt.rfind("print ", 0) == 0) {
            Message m;
            m.number = 0;
            m.severity = 0;
            m.text = stmt.substr(6);
            sink.message(m);
            sink.done(DoneKind::Done, false, false, 0);
        } else if (stmt == "error" || stmt == "warn") {
            Message m;
            m.number = stmt == "error" ? 208 : 50000;
            m.severity = stmt == "error" ? 16 : 10;
            m.text = stmt == "error" ? "Invalid object name 't'." : "just a warning";
            sink.message(m);
            sink.done(DoneKind::Done, stmt == "error", false, 0);
        } else if (stmt == "wait") {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!sink.cancelled() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            sink.done(DoneKind::Done, false, false, 0);
        } else if (stmt.rfind("use ", 0) == 0) {
            const std::string old = m_db;
            m_db = stmt.substr(4);
            sink.databaseChanged(old, m_db);
            sink.done(DoneKind::Done, false, false, 0);
        }
    }

    std::string m_db;
};

// ---- raw client ------------------------------------------------------------

struct Tok {
    uint8_t type = 0;
    uint16_t status = 0;   // DONE*
    uint64_t count = 0;    // DONE*
    int number = 0;        // ERROR/INFO
    int severity = 0;
    std::string text;      // ERROR/INFO text, RETURNVALUE name
    int envType = 0;       // ENVCHANGE
    std::string envNew;    // ENVCHANGE (string kinds)
    int64_t value = 0;     // RETURNSTATUS, RETURNVALUE (int)
    int ordinal = -1;      // RETURNVALUE: the parameter's position in the call
    int paramStatus = -1;  // RETURNVALUE: 1 output parameter
    bool null = false;     // RETURNVALUE: the value is NULL
    std::vector<std::string> row; // ROW: values as text, "NULL" for null
};

// Reads the tokens of one reply. Knows the types the stand-in sends.
std::vector<Tok> parseTokens(const std::string &payload)
{
    std::vector<Tok> out;
    Reader r(payload);
    std::vector<uint8_t> colTypes;
    while (!r.atEnd()) {
        Tok t;
        t.type = r.u8();
        switch (t.type) {
        case 0x81: {
            const int n = r.u16();
            colTypes.clear();
            for (int k = 0; k < n; ++k) {
                r.u32();
                r.u16();
                const uint8_t ty = r.u8();
                colTypes.push_back(ty);
                if (ty == 0x26)
                    r.u8();
                else if (ty == 0xE7)
                    r.skip(7);
                else
                    throw ProtocolError("test parser: unknown column type");
                r.bVarchar();
            }
            break;
        }
        case 0xD1:
            for (uint8_t ty : colTypes) {
                if (ty == 0x26) {
                    const int len = r.u8();
                    int64_t v = 0;
                    for (int k = 0; k < len; ++k)
                        v |= int64_t(r.u8()) << (8 * k);
                    t.row.push_back(len ? std::to_string(v) : "NULL");
                } else {
                    const uint16_t len = r.u16();
                    t.row.push_back(len == 0xFFFF ? "NULL" : utf16leToUtf8(r.bytes(len)));
                }
            }
            break;
        case 0xAA:
        case 0xAB: {
            r.u16();
            t.number = int(r.u32());
            r.u8();
            t.severity = r.u8();
            t.text = r.usVarchar();
            r.bVarchar();
            r.bVarchar();
            r.u32();
            break;
        }
        case 0xE3: {
            const uint16_t len = r.u16();
            const size_t end = r.pos() + len;
            t.envType = r.u8();
            if (t.envType == 1 || t.envType == 2 || t.envType == 4)
                t.envNew = r.bVarchar();
            r.seek(end);
            break;
        }
        case 0xAD:
        case 0xA4:
        case 0xA5:
            r.skip(r.u16());
            break;
        case 0x79:
            t.value = int32_t(r.u32());
            break;
        case 0xAC: {
            t.ordinal = r.u16();
            t.text = r.bVarchar();
            t.paramStatus = r.u8();
            r.u32();
            r.u16();
            if (r.u8() != 0x26)
                throw ProtocolError("test parser: RETURNVALUE type");
            r.u8();
            const int len = r.u8();
            t.null = len == 0;
            for (int k = 0; k < len; ++k)
                t.value |= int64_t(r.u8()) << (8 * k);
            break;
        }
        case 0xFD:
        case 0xFE:
        case 0xFF:
            t.status = r.u16();
            r.u16();
            t.count = r.u64();
            break;
        default:
            throw ProtocolError("test parser: unknown token " + std::to_string(t.type));
        }
        out.push_back(t);
    }
    return out;
}

// Replies to random requests may hold any column types: only check that the
// reply is non-empty and ends with a DONE-type token.
std::vector<int> parseTokensLoose(const std::string &payload)
{
    if (payload.size() < 13)
        return {};
    const auto last = uint8_t(payload[payload.size() - 13]);
    if (last < 0xFD)
        return {};
    return {last};
}

std::string ucs2(const std::string &utf8) { return utf8ToUtf16le(utf8); }

class RawClient : public RawTdsSocket {
public:
    std::vector<Tok> reply()
    {
        std::string payload;
        if (!readMessage(payload))
            return {};
        return parseTokens(payload);
    }


    std::vector<Tok> login(const std::string &user, const std::string &password, const std::string &db = "",
                           uint32_t packetSize = 4096, bool sspi = false)
    {
        // PRELOGIN: VERSION and ENCRYPTION (off).
        std::string pre;
        Writer p(pre);
        p.u8(0); p.u16be(11); p.u16be(6);
        p.u8(1); p.u16be(17); p.u16be(1);
        p.u8(0xFF);
        p.bytes(std::string("\x07\x00\x00\x00\x00\x00", 6));
        p.u8(0);
        send(0x12, pre);
        std::string answer;
        if (!readMessage(answer))
            return {};

        const std::string strings[9] = {"host", user, password, "tst", "srv", "", "raw", "", db};
        std::string fixed, data;
        Writer f(fixed);
        const uint16_t base = 94;
        std::string body[9];
        for (int k = 0; k < 9; ++k) {
            body[k] = ucs2(strings[k]);
            if (k == 2)
                for (char &c : body[k]) {
                    const auto b = uint8_t(c);
                    c = char(uint8_t(((b << 4) | (b >> 4)) ^ 0xA5));
                }
        }
        f.u32(0); // patched below
        f.u32(kTds74);
        f.u32(packetSize);
        f.u32(7); f.u32(1234); f.u32(0);
        f.u8(0xE0);
        f.u8(sspi ? 0x83 : 0x03);
        f.u8(0);
        f.u8(0);
        f.u32(0); f.u32(0x409);
        for (int k = 0; k < 9; ++k) {
            f.u16(uint16_t(base + data.size()));
            f.u16(uint16_t(strings[k].empty() ? 0 : body[k].size() / 2));
            data += body[k];
        }
        f.bytes(std::string(6, '\x01'));
        const std::string blob = sspi ? std::string("NTLMSSP\0\x01\0\0\0", 12) : std::string();
        f.u16(uint16_t(base + data.size()));
        f.u16(uint16_t(blob.size()));
        data += blob;
        f.u16(0); f.u16(0); f.u16(0); f.u16(0);
        f.u32(0);
        std::string msg = fixed + data;
        const auto total = uint32_t(msg.size());
        std::memcpy(msg.data(), &total, 4);
        send(0x10, msg);
        return reply();
    }

    static std::string allHeaders()
    {
        std::string h;
        Writer w(h);
        w.u32(22);
        w.u32(18);
        w.u16(2);
        w.u64(0);
        w.u32(1);
        return h;
    }

    std::vector<Tok> batch(const std::string &sql)
    {
        send(0x01, allHeaders() + ucs2(sql));
        return reply();
    }
};

// RPC building blocks.
// The head of one RPC by well-known procedure id (10 sp_executesql, 13 sp_prepexec), no option flags.
void rpcById(Writer &w, uint16_t procId)
{
    w.u16(0xFFFF);
    w.u16(procId);
    w.u16(0);
}
void paramHead(Writer &w, const std::string &name, uint8_t status = 0)
{
    w.bVarchar(name);
    w.u8(status);
}
void intParam(Writer &w, const std::string &name, int32_t v, bool null = false, uint8_t status = 0)
{
    paramHead(w, name, status);
    w.u8(0x26);
    w.u8(4);
    if (null) {
        w.u8(0);
    } else {
        w.u8(4);
        w.u32(uint32_t(v));
    }
}
void ntextParam(Writer &w, const std::string &name, const std::string &v)
{
    paramHead(w, name);
    const std::string u = ucs2(v);
    w.u8(0x63);
    w.u32(0x7FFFFFFF);
    w.bytes(ts::collationBytes(ts::serverCollation()));
    w.u32(uint32_t(u.size()));
    w.bytes(u);
}
void nvarcharParam(Writer &w, const std::string &name, const std::string &v, uint16_t maxBytes)
{
    paramHead(w, name);
    const std::string u = ucs2(v);
    w.u8(0xE7);
    w.u16(maxBytes);
    w.bytes(ts::collationBytes(ts::serverCollation()));
    w.u16(uint16_t(u.size()));
    w.bytes(u);
}

int count(const std::vector<Tok> &toks, uint8_t type)
{
    return int(std::count_if(toks.begin(), toks.end(), [&](const Tok &t) { return t.type == type; }));
}

std::vector<const Tok *> dones(const std::vector<Tok> &toks)
{
    std::vector<const Tok *> out;
    for (const Tok &t : toks)
        if (t.type >= 0xFD)
            out.push_back(&t);
    return out;
}

// Every DONE-type token but the last carries DONE_MORE; the last does not.
bool doneMoreBitsRight(const std::vector<Tok> &toks)
{
    const auto d = dones(toks);
    if (d.empty())
        return false;
    for (size_t k = 0; k < d.size(); ++k)
        if (bool(d[k]->status & 0x01) != (k + 1 < d.size()))
            return false;
    return true;
}

} // namespace

class TstTdsServer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    // Connects c to the server and logs in as sa; false when either fails.
    bool connectAndLogin(RawClient &c) const { return c.connectTo(m_port) && !c.login("sa", "Secret:1").empty(); }

    QString tracePath() const { return m_dir.filePath("trace.log"); }
    QString trace() const
    {
        QFile f(tracePath());
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

private slots:
    void initTestCase()
    {
        ServerOptions o;
        o.logins = {{"sa", "Secret:1"}, {"reader", "r"}};
        o.tracePath = tracePath().toStdString();
        m_server = std::make_unique<Server>(o, [](const std::string &, const std::string &db, int, Message *err)
                                                   -> std::unique_ptr<Session> {
            if (db == "nodb") {
                err->number = 4060;
                err->severity = 11;
                err->text = "Cannot open database \"nodb\" requested by the login. The login failed.";
                return nullptr;
            }
            return std::make_unique<ScriptSession>(db.empty() ? "master" : db);
        });
        std::string error;
        QVERIFY2(m_server->listen(&error), error.c_str());
        m_port = m_server->port();
        QVERIFY(m_port > 0);
        m_thread = std::thread([this] { m_server->run(); });
    }

    void cleanupTestCase()
    {
        m_server->stop();
        m_thread.join();
    }

    void loginReplyOrder()
    {
        RawClient c;
        QVERIFY(c.connectTo(m_port));
        const auto t = c.login("SA", "Secret:1", "", 4096); // user names are not case-sensitive
        QCOMPARE(int(t.size()), 8);
        QCOMPARE(t[0].type, uint8_t(0xE3));
        QCOMPARE(t[0].envType, 1);
        QCOMPARE(t[0].envNew, std::string("master"));
        QCOMPARE(t[1].number, 5701);
        QCOMPARE(t[2].envType, 7);
        QCOMPARE(t[3].envType, 2);
        QCOMPARE(t[4].number, 5703);
        QCOMPARE(t[5].type, uint8_t(0xAD));
        QCOMPARE(t[6].envType, 4);
        QCOMPARE(t[6].envNew, std::string("4096"));
        QCOMPARE(t[7].type, uint8_t(0xFD));
        QCOMPARE(t[7].status, uint16_t(0));
        QVERIFY(trace().contains("#### LOGIN spid="));
        QVERIFY(!trace().contains("Secret:1"));
    }

    void windowsLoginName_data()
    {
        QTest::addColumn<QString>("principal");
        QTest::addColumn<QString>("login");
        QTest::newRow("user") << "alice@DORVANE.TEST" << "DORVANE.TEST\\alice";
        QTest::newRow("two components") << "svc/host@R" << "R\\svc/host";
        QTest::newRow("escaped @ in the name") << "a\\@b@R" << "R\\a\\@b";
        QTest::newRow("escaped @ only") << "a\\@b" << "a\\@b";
        QTest::newRow("no realm") << "alice" << "alice";
    }

    void windowsLoginName()
    {
        QFETCH(QString, principal);
        QFETCH(QString, login);
        QCOMPARE(QString::fromStdString(ts::tds::windowsLoginName(principal.toStdString())), login);
    }

    void loginFailures_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("db");
        QTest::addColumn<bool>("sspi");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("text");
        QTest::newRow("wrong password") << "sa" << "secret:1" << "" << false << QList<int>{18456}
                                        << "Login failed for user 'sa'.";
        QTest::newRow("unknown user") << "bob" << "Secret:1" << "" << false << QList<int>{18456}
                                      << "Login failed for user 'bob'.";
        QTest::newRow("integrated") << "" << "" << "" << true << QList<int>{18452}
                                    << "Login failed. The login is from an untrusted domain and cannot be used with "
                                       "Integrated authentication.";
        QTest::newRow("database cannot be opened") << "sa" << "Secret:1" << "nodb" << false
                                                   << QList<int>{4060, 18456} << "Login failed for user 'sa'.";
    }

    void loginFailures()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, db);
        QFETCH(bool, sspi);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, text);
        RawClient c;
        QVERIFY(c.connectTo(m_port));
        const auto t = c.login(user.toStdString(), password.toStdString(), db.toStdString(), 4096, sspi);
        QList<int> got;
        for (const Tok &x : t)
            if (x.type == 0xAA) {
                got << x.number;
                QCOMPARE(x.severity, x.number == 4060 ? 11 : 14);
            }
        QCOMPARE(got, numbers);
        QCOMPARE(QString::fromStdString(t[size_t(got.size()) - 1].text), text);
        QCOMPARE(count(t, 0xAD), 0);
        QCOMPARE(t.back().type, uint8_t(0xFD));
        QVERIFY(t.back().status & 0x02);
        QVERIFY(c.closedByServer());
    }

    void batchDoneBitsAndMessages()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        const auto t = c.batch("rows 2;print hello;error;warn;rows 1");
        QCOMPARE(count(t, 0xD1), 3);
        QVERIFY(doneMoreBitsRight(t));
        const auto d = dones(t);
        QCOMPARE(int(d.size()), 5);
        QCOMPARE(d[0]->status & 0x10, 0x10);
        QCOMPARE(d[0]->count, uint64_t(2));
        QCOMPARE(d[2]->status & 0x02, 0x02);
        QCOMPARE(d[3]->status & 0x02, 0);
        // Severity decides the token: INFO for <= 10, ERROR above.
        QCOMPARE(count(t, 0xAB), 2);
        QCOMPARE(count(t, 0xAA), 1);
        for (const Tok &x : t)
            if (x.type == 0xAA)
                QCOMPARE(x.text, std::string("Invalid object name 't'."));
        // Unicode text and NULL arrive intact.
        QCOMPARE(t[1].row.at(1), std::string("行0"));
        QVERIFY(trace().contains("#### BATCH spid="));
        QVERIFY(trace().contains("\nrows 2;print hello;error;warn;rows 1\n#### END\n"));
    }

    void databaseChangeSendsEnvChange()
    {
        RawClient c;
        QVERIFY(c.connectTo(m_port));
        QVERIFY(!c.login("sa", "Secret:1", "model").empty());
        const auto t = c.batch("use tempdb");
        QCOMPARE(t.at(0).envType, 1);
        QCOMPARE(t.at(0).envNew, std::string("tempdb"));
    }

    void responseSplitAtPacketSize_data()
    {
        QTest::addColumn<int>("packetSize");
        QTest::addColumn<int>("rows");
        QTest::newRow("512") << 512 << 3000;
        QTest::newRow("4096") << 4096 << 3000;
        QTest::newRow("one small packet") << 4096 << 1;
    }

    void responseSplitAtPacketSize()
    {
        QFETCH(int, packetSize);
        QFETCH(int, rows);
        RawClient c;
        QVERIFY(c.connectTo(m_port));
        const auto lt = c.login("sa", "Secret:1", "", uint32_t(packetSize));
        QCOMPARE(lt.at(6).envNew, std::to_string(packetSize));
        c.send(0x01, RawClient::allHeaders() + ucs2("rows " + std::to_string(rows)));
        std::string payload;
        std::vector<Packet> packets;
        QVERIFY(c.readMessage(payload, &packets));
        for (size_t k = 0; k < packets.size(); ++k) {
            QVERIFY(packets[k].payload.size() + 8 <= size_t(packetSize));
            QCOMPARE(bool(packets[k].status & 1), k + 1 == packets.size());
            QVERIFY(packets[k].spid != 0);
            if (k + 1 < packets.size())
                QCOMPARE(packets[k].payload.size() + 8, size_t(packetSize));
        }
        const auto t = parseTokens(payload);
        QCOMPARE(count(t, 0xD1), rows);
        QCOMPARE(t[size_t(rows)].row.at(0), std::to_string(rows - 1));
        QVERIFY(doneMoreBitsRight(t));
    }

    void attentionCancelsRunningBatch()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        c.send(0x01, RawClient::allHeaders() + ucs2("wait;rows 5"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.send(0x06, std::string());
        // First the (cut short) response, then the acknowledgement on its own.
        const auto first = c.reply();
        QVERIFY(!first.empty());
        QCOMPARE(count(first, 0xD1), 0);
        QVERIFY(!(first.back().status & 0x20));
        const auto ack = c.reply();
        QCOMPARE(int(ack.size()), 1);
        QCOMPARE(ack[0].status, uint16_t(0x20));
        // The connection is usable afterwards and the flag was reset.
        QCOMPARE(count(c.batch("rows 4"), 0xD1), 4);
    }

    void attentionAfterResponseIsAcknowledged()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        QCOMPARE(count(c.batch("rows 2"), 0xD1), 2);
        c.send(0x06, std::string());
        const auto ack = c.reply();
        QCOMPARE(int(ack.size()), 1);
        QCOMPARE(ack[0].type, uint8_t(0xFD));
        QCOMPARE(ack[0].status, uint16_t(0x20));
        QCOMPARE(count(c.batch("rows 3"), 0xD1), 3);
    }

    void malformedInputClosesOnlyThatConnection_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("length below header") << true << QByteArray("\x01\x01\x00\x03\x00\x00\x01\x00", 8);
        QTest::newRow("garbage before login") << false << QByteArray("GET / HTTP/1.0\r\n\r\n");
        QTest::newRow("login message without body") << false << QByteArray("\x10\x01\x00\x0C\x00\x00\x01\x00\x05\x00\x00\x00", 12);
        QTest::newRow("second login") << true << QByteArray("\x10\x01\x00\x09\x00\x00\x01\x00\x00", 9);
        QTest::newRow("type change inside a message") << true
            << QByteArray("\x01\x00\x00\x09\x00\x00\x01\x00\x41\x03\x01\x00\x09\x00\x00\x02\x00\x41", 18);
    }

    void malformedInputClosesOnlyThatConnection()
    {
        QFETCH(bool, loggedIn);
        QFETCH(QByteArray, bytes);
        RawClient good;
        QVERIFY(connectAndLogin(good));

        RawClient bad;
        QVERIFY(bad.connectTo(m_port));
        if (loggedIn)
            QVERIFY(!bad.login("sa", "Secret:1").empty());
        bad.sendRaw(bytes.toStdString());
        QVERIFY(bad.closedByServer());

        QCOMPARE(count(good.batch("rows 2"), 0xD1), 2);
        RawClient fresh;
        QVERIFY(connectAndLogin(fresh));
    }

    void rpcParametersDecoded()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        std::string p = RawClient::allHeaders();
        Writer w(p);
        rpcById(w, 10); // sp_executesql
        ntextParam(w, "", "SELECT * FROM t WHERE a = @P1 AND b = @P2");
        ntextParam(w, "", "@P1 int,@P2 nvarchar(10),@P3 decimal(10,2),@P4 nvarchar(max),@P5 datetime,@P6 int");
        intParam(w, "", 42);
        nvarcharParam(w, "", "你好", 20);
        paramHead(w, "");
        w.u8(0x6A); w.u8(5); w.u8(10); w.u8(2); // decimal(10,2) = -12.50
        w.u8(5); w.u8(0); w.u32(1250);
        paramHead(w, "");
        w.u8(0xE7); w.u16(0xFFFF); w.bytes(ts::collationBytes(ts::serverCollation())); // PLP in two chunks
        w.u64(12); w.u32(6); w.bytes(ucs2("abc")); w.u32(6); w.bytes(ucs2("def")); w.u32(0);
        paramHead(w, "");
        w.u8(0x6F); w.u8(8); w.u8(8); w.u32(45000); w.u32(300 * 3661 + 150); // 2023-03-17 01:01:01.500
        intParam(w, "", 0, true);
        c.send(0x03, p, 512); // several packets
        const auto t = c.reply();
        QVERIFY(doneMoreBitsRight(t));
        QCOMPARE(t.back().type, uint8_t(0xFE));
        QCOMPARE(count(t, 0x79), 1);

        RpcCall call;
        {
            std::lock_guard lock(g_mu);
            call = g_lastRpc;
        }
        QCOMPARE(call.procName, std::string("sp_executesql"));
        QCOMPARE(int(call.params.size()), 8);
        QCOMPARE(call.params[0].value.s, std::string("SELECT * FROM t WHERE a = @P1 AND b = @P2"));
        const RpcParam *v = &call.params[2];
        QCOMPARE(v[0].name, std::string("@P1"));
        QCOMPARE(v[0].value.i, int64_t(42));
        QCOMPARE(v[1].name, std::string("@P2"));
        QCOMPARE(v[1].value.s, std::string("你好"));
        QCOMPARE(v[1].type.length, 10);
        QCOMPARE(int(v[2].type.type), int(SqlType::Decimal));
        QCOMPARE(v[2].value.s, std::string("-12.50"));
        QCOMPARE(v[3].value.s, std::string("abcdef"));
        QCOMPARE(v[3].type.length, -1);
        QCOMPARE(v[4].value.s, std::string("2023-03-17 01:01:01.500"));
        QCOMPARE(v[5].value.kind, Value::Null);
        QCOMPARE(v[5].name, std::string("@P6"));

        const QString tr = trace();
        QVERIFY2(tr.contains("#### RPC spid="), qPrintable(tr));
        QVERIFY(tr.contains(" sp_executesql\nSELECT * FROM t WHERE a = @P1 AND b = @P2\n@P1 int = 42\n"
                            "@P2 nvarchar(10) = 你好\n@P3 decimal(10,2) = -12.50\n@P4 nvarchar(max) = abcdef\n"
                            "@P5 datetime = 2023-03-17 01:01:01.500\n@P6 int = NULL\n#### END\n"));
    }

    // RETURNVALUE tokens: one per output parameter, after RETURNSTATUS and
    // before DONEPROC, with its position in the call, its name as the client
    // sent it (or from the definitions when unnamed), status 1 and the value
    // the session reported; input parameters get none.
    void outputParameters()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        std::string p = RawClient::allHeaders();
        Writer w(p);
        rpcById(w, 10); // sp_executesql
        ntextParam(w, "", "SET @b = @a");
        ntextParam(w, "", "@a int, @B int OUTPUT, @c int OUTPUT, @d int OUTPUT, @e int OUTPUT");
        intParam(w, "@a", 1);
        intParam(w, "@B", 2, false, 1);
        intParam(w, "", 3, false, 1);
        intParam(w, "", 0, true, 1);
        intParam(w, "", 7, false, 1);
        c.send(0x03, p);
        const auto t = c.reply();
        QVERIFY(doneMoreBitsRight(t));
        QVERIFY(t.size() >= 6);
        QCOMPARE(t[t.size() - 6].type, uint8_t(0x79));
        QCOMPARE(t.back().type, uint8_t(0xFE));
        struct Expected {
            int ordinal;
            const char *name;
            int64_t value;
            bool null;
        };
        const Expected want[] = {{3, "@B", 20, false}, {4, "@c", 30, false}, {5, "@d", 0, true}, {6, "@e", 7, false}};
        for (size_t k = 0; k < 4; ++k) {
            const Tok &rv = t[t.size() - 5 + k];
            QCOMPARE(rv.type, uint8_t(0xAC));
            QCOMPARE(rv.ordinal, want[k].ordinal);
            QCOMPARE(rv.text, std::string(want[k].name));
            QCOMPARE(rv.paramStatus, 1);
            QCOMPARE(rv.null, want[k].null);
            QCOMPARE(rv.value, want[k].value);
        }
    }

    void preparedStatements()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        std::string p = RawClient::allHeaders();
        Writer w(p);
        rpcById(w, 13); // sp_prepexec
        intParam(w, "@handle", 0, true, 1);
        ntextParam(w, "", "@P1 int");
        ntextParam(w, "", "SELECT @P1");
        intParam(w, "", 7);
        c.send(0x03, p);
        auto t = c.reply();
        QVERIFY(doneMoreBitsRight(t));
        // ... RETURNSTATUS, RETURNVALUE (the handle), DONEPROC.
        QCOMPARE(t.size() >= 3, true);
        QCOMPARE(t[t.size() - 3].type, uint8_t(0x79));
        QCOMPARE(t[t.size() - 2].type, uint8_t(0xAC));
        QCOMPARE(t[t.size() - 2].text, std::string("@handle"));
        const int64_t handle = t[t.size() - 2].value;
        QVERIFY(handle > 0);
        QCOMPARE(t.back().type, uint8_t(0xFE));

        auto execute = [&](int32_t h) {
            std::string q = RawClient::allHeaders();
            Writer x(q);
            x.u16(10);
            x.bytes(ucs2("sp_execute"));
            x.u16(0);
            intParam(x, "", h);
            intParam(x, "", 9);
            c.send(0x03, q);
            return c.reply();
        };
        t = execute(int32_t(handle));
        QCOMPARE(count(t, 0xAA), 0);
        RpcCall call;
        {
            std::lock_guard lock(g_mu);
            call = g_lastRpc;
        }
        QCOMPARE(call.procName, std::string("sp_executesql"));
        QCOMPARE(call.params.at(0).value.s, std::string("SELECT @P1"));
        QCOMPARE(call.params.at(2).name, std::string("@P1"));
        QCOMPARE(call.params.at(2).value.i, int64_t(9));

        t = execute(int32_t(handle) + 100);
        QCOMPARE(count(t, 0xAA), 1);
        QCOMPARE(t.front().number, 8179);
        QVERIFY(t.back().status & 0x02);
    }

    void transactionRequests_data()
    {
        QTest::addColumn<QList<int>>("requests"); // 5 begin, 7 commit, 8 rollback
        QTest::addColumn<QList<int>>("envTypes"); // ENVCHANGE type of each reply, 0 = error
        QTest::newRow("begin commit") << QList<int>{5, 7} << QList<int>{8, 9};
        QTest::newRow("begin rollback begin commit") << QList<int>{5, 8, 5, 7} << QList<int>{8, 10, 8, 9};
        QTest::newRow("commit without begin") << QList<int>{7} << QList<int>{0};
        QTest::newRow("rollback without begin") << QList<int>{8} << QList<int>{0};
        QTest::newRow("begin twice") << QList<int>{5, 5, 8} << QList<int>{8, 0, 10};
        QTest::newRow("unknown request") << QList<int>{99} << QList<int>{0};
    }

    void transactionRequests()
    {
        QFETCH(QList<int>, requests);
        QFETCH(QList<int>, envTypes);
        RawClient c;
        QVERIFY(connectAndLogin(c));
        for (int k = 0; k < requests.size(); ++k) {
            std::string p = RawClient::allHeaders();
            Writer w(p);
            w.u16(uint16_t(requests[k]));
            if (requests[k] == 5)
                w.u8(0); // isolation level unchanged
            w.u8(0);     // no transaction name
            if (requests[k] != 5)
                w.u8(0); // no flags
            c.send(0x0E, p);
            const auto t = c.reply();
            QVERIFY(!t.empty());
            QVERIFY(doneMoreBitsRight(t));
            if (envTypes[k] == 0) {
                QCOMPARE(count(t, 0xAA), 1);
                QVERIFY(t.back().status & 0x02);
            } else {
                QCOMPARE(t.front().envType, envTypes[k]);
                QCOMPARE(t.back().status, uint16_t(0));
            }
        }
        QCOMPARE(count(c.batch("rows 1"), 0xD1), 1);
    }

    // Well-framed requests with random bodies: each is answered or closes its
    // connection; the server never falls over and keeps serving.
    void randomRequestBodiesNeverCrash()
    {
        std::mt19937 rng(20261208);
        std::string valid = RawClient::allHeaders();
        {
            Writer w(valid);
            rpcById(w, 10);
            ntextParam(w, "", "SELECT @P1");
            ntextParam(w, "", "@P1 int");
            intParam(w, "", 5);
            nvarcharParam(w, "@x", "abc", 20);
        }
        RawClient c;
        QVERIFY(connectAndLogin(c));
        int answered = 0;
        int reconnects = 0;
        for (int i = 0; i < 400; ++i) {
            std::string body = valid;
            const int flips = 1 + int(rng() % 6);
            for (int k = 0; k < flips; ++k) {
                const size_t at = 22 + rng() % (body.size() - 22);
                body[at] = char(rng());
            }
            if (rng() % 4 == 0)
                body.resize(22 + rng() % (body.size() - 22));
            const uint8_t type = (i % 3 == 0) ? 0x01 : (i % 3 == 1) ? 0x03 : 0x0E;
            c.send(type, body);
            std::string reply;
            if (c.readMessage(reply)) {
                ++answered;
                QVERIFY(!parseTokensLoose(reply).empty());
                continue;
            }
            // The server closed this connection: start a new one.
            ++reconnects;
            c.close();
            QVERIFY(connectAndLogin(c));
        }
        QVERIFY(answered > 100);
        QCOMPARE(count(c.batch("rows 2"), 0xD1), 2);
        qInfo("answered %d, reconnected %d", answered, reconnects);
    }

    void severalRpcsInOneRequest()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        std::string p = RawClient::allHeaders();
        Writer w(p);
        for (int k = 0; k < 3; ++k) {
            if (k > 0)
                w.u8(0xFF); // batch separator
            rpcById(w, 10);
            ntextParam(w, "", "SELECT " + std::to_string(k));
        }
        c.send(0x03, p);
        const auto t = c.reply();
        QVERIFY(doneMoreBitsRight(t));
        QCOMPARE(count(t, 0xFE), 3);
        QCOMPARE(count(t, 0x79), 3);
        QCOMPARE(count(t, 0xD1), 3);
        int c1 = 0;
        for (size_t k = 0; k < t.size(); ++k)
            if (t[k].type == 0x79) {
                QCOMPARE(t[k + 1].type, uint8_t(0xFE));
                ++c1;
            }
        QCOMPARE(c1, 3);
    }

    void badRpcAnsweredWithError()
    {
        RawClient c;
        QVERIFY(connectAndLogin(c));
        std::string p = RawClient::allHeaders();
        Writer w(p);
        rpcById(w, 10);
        paramHead(w, "");
        w.u8(0xE7); w.u16(8000); w.bytes(ts::collationBytes(ts::serverCollation())); w.u16(4000); // value cut short
        w.bytes("ab");
        c.send(0x03, p);
        const auto t = c.reply();
        QCOMPARE(count(t, 0xAA), 1);
        QCOMPARE(t.front().number, 8009);
        QCOMPARE(count(c.batch("rows 1"), 0xD1), 1);
    }
};

QTEST_APPLESS_MAIN(TstTdsServer)
#include "tst_tdsserver.moc"
