// Integrated logins at the protocol level, with this process as the client's
// GSSAPI side in a throwaway realm: a Kerberos token with mutual
// authentication (the server's token must complete the client's context),
// SPNEGO as Windows clients wrap it, in the two-round form where the second
// token travels in an SSPI message, and tokens the server must refuse.
#include "rawtdssocket.h"
#include "wire/tdsbuffer.h"
#include "wire/tdsserver.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace ts;
using namespace ts::tds;

namespace {

const std::string kKrb5Oid("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02", 9); // 1.2.840.113554.1.2.2
const std::string kSpnegoOid("\x2b\x06\x01\x05\x05\x02", 6);           // 1.3.6.1.5.5.2

// DER, as much as SPNEGO needs.
std::string der(uint8_t tag, const std::string &content)
{
    std::string out(1, char(tag));
    const size_t n = content.size();
    if (n < 0x80) {
        out += char(n);
    } else if (n < 0x100) {
        out += '\x81';
        out += char(n);
    } else {
        out += '\x82';
        out += char(n >> 8);
        out += char(n & 0xFF);
    }
    return out + content;
}

// The content of the element with `tag` among the elements of `seq`; empty
// when there is none.
std::string derField(const std::string &seq, uint8_t tag)
{
    size_t i = 0;
    while (i + 2 <= seq.size()) {
        const auto t = uint8_t(seq[i]);
        size_t n = uint8_t(seq[i + 1]);
        size_t head = 2;
        if (n & 0x80) {
            const size_t bytes = n & 0x7F;
            n = 0;
            for (size_t k = 0; k < bytes && i + 2 + k < seq.size(); ++k)
                n = (n << 8) | uint8_t(seq[i + 2 + k]);
            head += bytes;
        }
        if (i + head + n > seq.size())
            return {};
        if (t == tag)
            return seq.substr(i + head, n);
        i += head + n;
    }
    return {};
}

// NegTokenInit offering Kerberos only, with no optimistic token.
std::string negTokenInitWithoutToken()
{
    const std::string mechTypes = der(0x30, der(0x06, kKrb5Oid));
    return der(0x60, der(0x06, kSpnegoOid) + der(0xA0, der(0x30, der(0xA0, mechTypes))));
}

// NegTokenResp carrying a mechanism token.
std::string negTokenResp(const std::string &token) { return der(0xA1, der(0x30, der(0xA2, der(0x04, token)))); }

struct NegResp {
    int state = -1; // 0 accept-completed, 1 accept-incomplete
    std::string mech, token;
};

NegResp parseNegTokenResp(const std::string &t)
{
    NegResp r;
    const std::string seq = derField(derField(t, 0xA1), 0x30);
    const std::string state = derField(derField(seq, 0xA0), 0x0A);
    if (state.size() == 1)
        r.state = uint8_t(state[0]);
    r.mech = derField(derField(seq, 0xA1), 0x06);
    r.token = derField(derField(seq, 0xA2), 0x04);
    return r;
}

class Session0 : public Session {
public:
    void executeBatch(const std::string &, ResultSink &) override {}
    void executeRpc(const RpcCall &, ResultSink &) override {}
    std::string currentDatabase() const override { return "master"; }
};

struct Reply {
    std::vector<uint8_t> tokens;
    std::string sspi;
    std::vector<int> errors;
    bool ok = false;
};

class Client : public RawTdsSocket {
public:
    // LOGIN7 with integrated security and `token` as its SSPI data.
    void sendLogin(const std::string &token)
    {
        std::string fixed;
        Writer f(fixed);
        f.u32(0);
        f.u32(0x74000004);
        f.u32(4096);
        f.u32(7);
        f.u32(1234);
        f.u32(0);
        f.u8(0xE0);
        f.u8(0x83); // ODBC, fIntSecurity
        f.u8(0);
        f.u8(0);
        f.u32(0);
        f.u32(0x409);
        for (int k = 0; k < 9; ++k) {
            f.u16(94);
            f.u16(0);
        }
        f.bytes(std::string(6, '\x01'));
        f.u16(94);
        f.u16(uint16_t(token.size()));
        f.u16(0); f.u16(0); f.u16(0); f.u16(0);
        f.u32(0);
        std::string msg = fixed + token;
        const auto total = uint32_t(msg.size());
        std::memcpy(msg.data(), &total, 4);
        send(0x10, msg);
    }
    Reply reply()
    {
        Reply out;
        std::string payload;
        if (!readMessage(payload))
            return out;
        Reader r(payload);
        while (!r.atEnd()) {
            const uint8_t t = r.u8();
            out.tokens.push_back(t);
            if (t == 0xFD) {
                r.skip(12);
                continue;
            }
            const uint16_t n = r.u16();
            const size_t at = r.pos();
            if (t == 0xED)
                out.sspi = payload.substr(at, n);
            if (t == 0xAA)
                out.errors.push_back(int(uint8_t(payload[at]) | uint8_t(payload[at + 1]) << 8));
            r.skip(n);
        }
        out.ok = true;
        return out;
    }
};

// The client's side of a Kerberos context for MSSQLSvc/127.0.0.1:PORT.
class Initiator {
public:
    explicit Initiator(int port)
    {
        const std::string spn = "MSSQLSvc/127.0.0.1:" + std::to_string(port);
        gss_buffer_desc b{spn.size(), const_cast<char *>(spn.data())};
        OM_uint32 minor = 0;
        gss_import_name(&minor, &b, GSS_KRB5_NT_PRINCIPAL_NAME, &m_target);
    }
    ~Initiator()
    {
        OM_uint32 minor = 0;
        if (m_ctx != GSS_C_NO_CONTEXT)
            gss_delete_sec_context(&minor, &m_ctx, GSS_C_NO_BUFFER);
        gss_release_name(&minor, &m_target);
    }
    // The next token, given the acceptor's last one (none at first).
    OM_uint32 step(const std::string *in, std::string *out)
    {
        OM_uint32 minor = 0;
        gss_buffer_desc inBuf{in ? in->size() : 0, in ? const_cast<char *>(in->data()) : nullptr};
        gss_buffer_desc outBuf = GSS_C_EMPTY_BUFFER;
        gss_OID_desc krb5{9, const_cast<char *>(kKrb5Oid.data())};
        const OM_uint32 major = gss_init_sec_context(&minor, GSS_C_NO_CREDENTIAL, &m_ctx, m_target, &krb5,
                                                     GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG, 0,
                                                     GSS_C_NO_CHANNEL_BINDINGS, in ? &inBuf : GSS_C_NO_BUFFER,
                                                     nullptr, &outBuf, nullptr, nullptr);
        out->assign(static_cast<const char *>(outBuf.value), outBuf.length);
        gss_release_buffer(&minor, &outBuf);
        return major;
    }

private:
    gss_name_t m_target = GSS_C_NO_NAME;
    gss_ctx_id_t m_ctx = GSS_C_NO_CONTEXT;
};

} // namespace

class TestTdsGss : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void kerberosWithMutualAuthentication();
    void spnegoInTwoRounds();
    void refused_data();
    void refused();
    void otherMessageDuringHandshakeCloses();

private:
    bool realmScript(const QStringList &args);
    std::string lastUser()
    {
        std::lock_guard lock(m_mu);
        return m_user;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mu;
    std::string m_user;
};

bool TestTdsGss::realmScript(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), QStringList{QStringLiteral(DV_SOURCE_DIR "/tests/testserver/lib/krbrealm.sh")} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning("krbrealm.sh %s: %s", qPrintable(args.join(u' ')), p.readAll().constData());
        return false;
    }
    return true;
}

void TestTdsGss::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(realmScript({QStringLiteral("create"), m_dir.path()}),
             "the realm could not be set up (scripts/setup-deps.sh installs the Kerberos packages)");
    const QByteArray dir = m_dir.path().toLocal8Bit();
    qputenv("KRB5_CONFIG", dir + "/krb5.conf");
    qputenv("KRB5_KDC_PROFILE", dir + "/kdc.conf");
    qputenv("KRB5RCACHEDIR", dir);
    qputenv("KRB5CCNAME", "FILE:" + dir + "/ccache");

    ServerOptions o;
    o.keytab = (dir + "/server.keytab").toStdString();
    m_server = std::make_unique<Server>(o, [this](const std::string &user, const std::string &, int, Message *) {
        std::lock_guard lock(m_mu);
        m_user = user;
        return std::unique_ptr<Session>(std::make_unique<Session0>());
    });
    std::string error;
    QVERIFY2(m_server->listen(&error), error.c_str());
    m_port = m_server->port();
    m_thread = std::thread([this] { m_server->run(); });
    QVERIFY(realmScript({QStringLiteral("service"), m_dir.path(), QString::number(m_port)}));
    QCOMPARE(QProcess::execute(QStringLiteral("kinit"), {QStringLiteral("-k"), QStringLiteral("-t"),
                                                        m_dir.filePath(QStringLiteral("alice.keytab")),
                                                        QStringLiteral("alice")}),
             0);
}

void TestTdsGss::cleanupTestCase()
{
    if (m_server) {
        m_server->stop();
        m_thread.join();
    }
    realmScript({QStringLiteral("stop"), m_dir.path()});
}

void TestTdsGss::kerberosWithMutualAuthentication()
{
    Initiator gss(m_port);
    std::string token;
    QCOMPARE(gss.step(nullptr, &token), OM_uint32(GSS_S_CONTINUE_NEEDED)); // mutual: the server must answer
    Client c;
    QVERIFY(c.connectTo(m_port));
    c.sendLogin(token);
    const Reply r = c.reply();
    QVERIFY(r.ok);
    QVERIFY(r.errors.empty());
    QCOMPARE(r.tokens.front(), uint8_t(0xED));
    QVERIFY(std::count(r.tokens.begin(), r.tokens.end(), uint8_t(0xAD)) == 1);
    QCOMPARE(r.tokens.back(), uint8_t(0xFD));
    std::string none;
    QCOMPARE(gss.step(&r.sspi, &none), OM_uint32(GSS_S_COMPLETE));
    QCOMPARE(none, std::string());
    QCOMPARE(lastUser(), std::string("DORVANE.TEST\\alice"));
}

void TestTdsGss::spnegoInTwoRounds()
{
    Client c;
    QVERIFY(c.connectTo(m_port));
    c.sendLogin(negTokenInitWithoutToken());
    // First round: only the acceptor's choice of mechanism, no login reply yet.
    const Reply first = c.reply();
    QVERIFY(first.ok);
    QCOMPARE(first.tokens, std::vector<uint8_t>{0xED});
    const NegResp choice = parseNegTokenResp(first.sspi);
    QCOMPARE(choice.state, 1);
    QVERIFY(choice.mech == kKrb5Oid);

    Initiator gss(m_port);
    std::string apReq;
    QCOMPARE(gss.step(nullptr, &apReq), OM_uint32(GSS_S_CONTINUE_NEEDED));
    c.send(0x11, negTokenResp(apReq));
    const Reply done = c.reply();
    QVERIFY(done.ok);
    QVERIFY(done.errors.empty());
    QCOMPARE(done.tokens.front(), uint8_t(0xED));
    QVERIFY(std::count(done.tokens.begin(), done.tokens.end(), uint8_t(0xAD)) == 1);
    const NegResp last = parseNegTokenResp(done.sspi);
    QCOMPARE(last.state, 0);
    std::string none;
    QCOMPARE(gss.step(&last.token, &none), OM_uint32(GSS_S_COMPLETE));
    QCOMPARE(lastUser(), std::string("DORVANE.TEST\\alice"));
}

void TestTdsGss::refused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("no token") << "none";
    QTest::newRow("not a security token") << "garbage";
    QTest::newRow("Kerberos token altered in transit") << "altered";
}

void TestTdsGss::refused()
{
    QFETCH(QString, kind);
    std::string token;
    if (kind == QLatin1String("garbage")) {
        token = "NTLMSSP";
        token += std::string("\0\x01\0\0\0", 5);
    } else if (kind == QLatin1String("altered")) {
        Initiator gss(m_port);
        gss.step(nullptr, &token);
        QVERIFY(token.size() > 100);
        token[token.size() - 20] = char(token[token.size() - 20] ^ 0x01); // inside the sealed authenticator
    }
    Client c;
    QVERIFY(c.connectTo(m_port));
    c.sendLogin(token);
    const Reply r = c.reply();
    QVERIFY(r.ok);
    QCOMPARE(r.errors, std::vector<int>{18452});
    QVERIFY(std::count(r.tokens.begin(), r.tokens.end(), uint8_t(0xAD)) == 0);
    QVERIFY(std::count(r.tokens.begin(), r.tokens.end(), uint8_t(0xED)) == 0);
    QVERIFY(c.closedByServer());
}

void TestTdsGss::otherMessageDuringHandshakeCloses()
{
    Client c;
    QVERIFY(c.connectTo(m_port));
    c.sendLogin(negTokenInitWithoutToken());
    QCOMPARE(c.reply().tokens, std::vector<uint8_t>{0xED});
    c.send(0x01, std::string("\x16\0\0\0", 4)); // a SQL batch instead of the SSPI message
    QVERIFY(c.closedByServer());
}

QTEST_APPLESS_MAIN(TestTdsGss)
#include "tst_tdsgss.moc"
