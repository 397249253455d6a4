// The ODBC connection through the real FreeTDS driver against the test server.
#include "client/odbcclient.h"
#include "client/query.h"
#include "client/resultset.h"
#include "support/testserverprocess.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace dv;
using dvtest::TestServerProcess;

class TstOdbcClient : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void chooseDriver_data();
    void chooseDriver();
    void freetdsIsRegistered();
    void unreachableServerFails();
    void invalidServerNameFails();

    void login_data();
    void login();
    void integratedLoginFailsWithoutTicket();
    void loginTimesOutOnSilentServer();
    void closeIsQuietAndRepeatable();

    void catalogueInNameOrder();
    void batchErrors_data();
    void batchErrors();
    void openSkipsResultsWithoutColumns();
    void openWithoutRowsFails();
    void zeroRowResultIsAResult();
    void rowsAffectedAreSummed();
    void everyResultIsWalked();
    void manyRowsAcrossFetchBlocks();
    void wideColumnsReadInChunks();
    void informationalMessagesAreNotErrors();
    void timeoutFailsAndConnectionStaysUsable();
    void markerWithoutValueFails();
    void typedParametersRoundTrip();
    void columnMetadata();
    void traceShowsExactBatch();
    void lostConnectionIsNoticed();

private:
    ConnectParams params() const;
    std::unique_ptr<Connection> connect();
    QStringList column(const RunResult &r, int col = 0) const;

    TestServerProcess m_server;
    std::unique_ptr<Connection> m_conn;
};

ConnectParams TstOdbcClient::params() const
{
    ConnectParams p;
    p.server = m_server.server();
    p.user = m_server.user();
    p.password = m_server.password();
    return p;
}

std::unique_ptr<Connection> TstOdbcClient::connect()
{
    auto c = makeOdbcConnection();
    c->open(params());
    return c;
}

QStringList TstOdbcClient::column(const RunResult &r, int col) const
{
    QStringList out;
    if (r.rows)
        for (qint64 i = 0; i < r.rows->rowCount(); ++i)
            out << r.rows->text(i, col);
    return out;
}

namespace {
// An unexpected DbError fails the one test instead of aborting the run (and
// leaving its server processes behind).
template <typename F>
void guarded(F body)
{
    try {
        body();
    } catch (const DbError &e) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected DbError %1: %2").arg(e.sqlState(), e.message())), __FILE__,
                     __LINE__);
    }
}

Statement stmt(const QString &text, int timeout = 30)
{
    Statement s;
    s.text = text;
    s.timeoutSec = timeout;
    return s;
}
} // namespace

void TstOdbcClient::initTestCase()
{
    // Extra logins whose passwords test the connection-string quoting.
    QVERIFY2(m_server.start({"--login", "carl:a}b", "--login", "hal:{x}", "--login", "fay:a};b"}),
             qPrintable(m_server.error()));
}

void TstOdbcClient::init()
{
    // Tests that need no server leave m_conn empty; the rest log in here.
    const QByteArray name = QTest::currentTestFunction();
    static const QList<QByteArray> serverless{"chooseDriver", "freetdsIsRegistered", "unreachableServerFails",
                                              "invalidServerNameFails", "login",
                                              "integratedLoginFailsWithoutTicket", "loginTimesOutOnSilentServer",
                                              "lostConnectionIsNoticed"};
    if (serverless.contains(name))
        return;
    try {
        m_conn = connect();
    } catch (const DbError &e) {
        QFAIL(qPrintable(QStringLiteral("login failed: ") + e.message()));
    }
}

void TstOdbcClient::cleanup()
{
    if (m_conn)
        m_conn->close();
    m_conn.reset();
}

void TstOdbcClient::chooseDriver_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("freetds only") << QStringList{"FreeTDS"} << "FreeTDS";
    QTest::newRow("18 wins") << QStringList{"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"}
                             << "ODBC Driver 18 for SQL Server";
    QTest::newRow("17 over freetds") << QStringList{"FreeTDS", "ODBC Driver 17 for SQL Server"}
                                     << "ODBC Driver 17 for SQL Server";
    QTest::newRow("nothing known") << QStringList{"PostgreSQL Unicode"} << "FreeTDS";
    QTest::newRow("none") << QStringList{} << "FreeTDS";
}

void TstOdbcClient::chooseDriver()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, chosen);
    QCOMPARE(chooseOdbcDriver(installed), chosen);
}

void TstOdbcClient::freetdsIsRegistered()
{
    guarded([&] {
        QVERIFY2(installedOdbcDrivers().contains(QStringLiteral("FreeTDS")), qPrintable(installedOdbcDrivers().join(',')));
    });
}

void TstOdbcClient::unreachableServerFails()
{
    guarded([&] {
        auto c = makeOdbcConnection();
        ConnectParams p = params();
        p.server = QStringLiteral("127.0.0.1,1"); // nothing listens on port 1
        try {
            c->open(p);
            QFAIL("open succeeded");
        } catch (const DbError &e) {
            QVERIFY(!e.message().isEmpty());
            QVERIFY2(!e.message().startsWith(u'['), qPrintable(e.message()));
        }
        QVERIFY(!c->isConnected());
        QVERIFY_THROWS_EXCEPTION(DbError, c->execute(stmt("select 1")));
    });
}

void TstOdbcClient::invalidServerNameFails()
{
    guarded([&] {
        auto c = makeOdbcConnection();
        ConnectParams p = params();
        p.server = QStringLiteral("127.0.0.1,notaport");
        QVERIFY_THROWS_EXCEPTION(DbError, c->open(p));
        QVERIFY(!c->isConnected());
    });
}

void TstOdbcClient::login_data()
{
    QTest::addColumn<QString>("serverForm");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("good");
    QTest::addColumn<QString>("failure");
    const QString refused = QStringLiteral("Login failed");
    // The server's password holds ";", "{", "}" and "=".
    QTest::newRow("good") << "127.0.0.1,%1" << "sa" << "" << true << "";
    QTest::newRow("blank after comma") << "127.0.0.1, %1" << "sa" << "" << true << "";
    QTest::newRow("brace inside") << "127.0.0.1,%1" << "carl" << "a}b" << true << "";
    QTest::newRow("braces around") << "127.0.0.1,%1" << "hal" << "{x}" << true << "";
    QTest::newRow("wrong password") << "127.0.0.1,%1" << "sa" << "Dorvane-Test" << false << refused;
    QTest::newRow("password prefix up to semicolon") << "127.0.0.1,%1" << "sa" << "Dorvane-Test;" << false
                                                     << refused;
    QTest::newRow("empty password") << "127.0.0.1,%1" << "sa" << "<empty>" << false << refused;
    QTest::newRow("wrong user") << "127.0.0.1,%1" << "nobody" << "" << false << refused;
    // FreeTDS cannot be given "};" inside a value: refused before sending.
    QTest::newRow("brace semicolon") << "127.0.0.1,%1" << "fay" << "a};b" << false << "cannot take";
}

void TstOdbcClient::login()
{
    guarded([&] {
        QFETCH(QString, serverForm);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, good);
        QFETCH(QString, failure);
        ConnectParams p = params();
        p.server = serverForm.arg(m_server.port());
        p.user = user;
        if (password == QLatin1String("<empty>"))
            p.password.clear();
        else if (!password.isEmpty())
            p.password = password;
        auto c = makeOdbcConnection();
        if (good) {
            c->open(p);
            QVERIFY(c->isConnected());
            const RunResult r = c->open(stmt("select 1 as one"));
            QCOMPARE(column(r), QStringList{"1"});
            c->close();
            QVERIFY(!c->isConnected());
        } else {
            try {
                c->open(p);
                QFAIL("login succeeded");
            } catch (const DbError &e) {
                QVERIFY2(e.message().contains(failure), qPrintable(e.message()));
                QVERIFY(!e.message().startsWith(u'['));
            }
            QVERIFY(!c->isConnected());
        }
    });
}

void TstOdbcClient::integratedLoginFailsWithoutTicket()
{
    guarded([&] {
        ConnectParams p = params();
        p.integrated = true;
        p.loginTimeoutSec = 5;
        auto c = makeOdbcConnection();
        QVERIFY_THROWS_EXCEPTION(DbError, c->open(p));
        QVERIFY(!c->isConnected());
    });
}

void TstOdbcClient::loginTimesOutOnSilentServer()
{
    guarded([&] {
        TestServerProcess silent;
        QVERIFY2(silent.start({"--stall-login"}), qPrintable(silent.error()));
        ConnectParams p = params();
        p.server = silent.server();
        p.loginTimeoutSec = 2;
        auto c = makeOdbcConnection();
        QElapsedTimer t;
        t.start();
        QVERIFY_THROWS_EXCEPTION(DbError, c->open(p));
        // The server never answers: only the 2 s login time-out ends the wait.
        QVERIFY2(t.elapsed() < 60000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!c->isConnected());
    });
}

void TstOdbcClient::closeIsQuietAndRepeatable()
{
    guarded([&] {
        m_conn->close();
        m_conn->close();
        QVERIFY(!m_conn->isConnected());
        QVERIFY_THROWS_EXCEPTION(DbError, m_conn->execute(stmt("select 1")));
        m_conn->open(params()); // the same object logs in again
        QCOMPARE(column(m_conn->open(stmt("select 2"))), QStringList{"2"});
    });
}

void TstOdbcClient::catalogueInNameOrder()
{
    guarded([&] {
        m_conn->execute(stmt("create database zz_client_cat"));
        m_conn->execute(stmt("create database aa_client_cat"));
        Query q("q", m_conn.get());
        q.setLines({"select name from master..sysdatabases order by name"});
        q.open();
        QStringList names;
        while (!q.eof()) {
            names << q.fieldByName("name");
            q.next();
        }
        q.close();
        for (const char *n : {"master", "model", "msdb", "tempdb", "aa_client_cat", "zz_client_cat"})
            QVERIFY2(names.contains(QLatin1String(n)), qPrintable(names.join(',')));
        QStringList sorted = names;
        std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        QCOMPARE(names, sorted);
        m_conn->execute(stmt("drop database zz_client_cat\r\ndrop database aa_client_cat\r\n"));
    });
}

void TstOdbcClient::batchErrors_data()
{
    QTest::addColumn<QString>("batch");
    QTest::addColumn<bool>("useOpen");
    const QString missing = QStringLiteral("select * from no_such_table_x");
    QTest::newRow("first fails") << missing << false;
    QTest::newRow("after select") << "select 1\r\n" + missing << false;
    QTest::newRow("after use") << "use master\r\n" + missing << false;
    QTest::newRow("after insert") << "create table #b(a int)\r\ninsert into #b values(1)\r\n" + missing << false;
    QTest::newRow("before select") << missing + "\r\nselect 1" << false;
    QTest::newRow("open: after the kept result") << "select 1 as a\r\n" + missing << true;
    QTest::newRow("open: first fails") << missing + "\r\nselect 1 as a" << true;
}

void TstOdbcClient::batchErrors()
{
    guarded([&] {
        QFETCH(QString, batch);
        QFETCH(bool, useOpen);
        try {
            if (useOpen)
                m_conn->open(stmt(batch));
            else
                m_conn->execute(stmt(batch));
            QFAIL("the batch did not fail");
        } catch (const DbError &e) {
            QCOMPARE(e.message(), QStringLiteral("Invalid object name 'no_such_table_x'."));
            QCOMPARE(e.nativeError(), 208);
        }
        QVERIFY(m_conn->isConnected());
        QCOMPARE(column(m_conn->open(stmt("select 3"))), QStringList{"3"});
    });
}

void TstOdbcClient::openSkipsResultsWithoutColumns()
{
    guarded([&] {
        const RunResult r = m_conn->open(stmt("create table #s(a int, b nvarchar(10))\r\n"
                                              "insert into #s values(1, N'一'), (2, N'二')\r\n"
                                              "select a, b from #s order by a\r\n"
                                              "select 99 as later"));
        QVERIFY(r.rows);
        QCOMPARE(r.rows->columnCount(), 2);
        QCOMPARE(column(r, 0), (QStringList{"1", "2"}));
        QCOMPARE(column(r, 1), (QStringList{"一", "二"}));
        // The later result was drained: the connection answers the next batch.
        QCOMPARE(column(m_conn->open(stmt("select 4"))), QStringList{"4"});
    });
}

void TstOdbcClient::openWithoutRowsFails()
{
    guarded([&] {
        try {
            m_conn->open(stmt("create table #n(a int)\r\ninsert into #n values(1)"));
            QFAIL("open succeeded");
        } catch (const DbError &e) {
            QCOMPARE(e.message(), QString::fromLatin1(kNoResultSetText));
        }
        Query q("q", m_conn.get());
        q.setLines({"insert into #n values(2)"});
        try {
            q.open();
            QFAIL("open succeeded");
        } catch (const DbError &e) {
            QCOMPARE(e.message(), QStringLiteral("q: CommandText does not return a result set"));
        }
        // Both inserts ran.
        QCOMPARE(column(m_conn->open(stmt("select count(*) from #n"))), QStringList{"2"});
    });
}

void TstOdbcClient::zeroRowResultIsAResult()
{
    guarded([&] {
        const RunResult r = m_conn->open(stmt("select name from master..sysdatabases where name = 'no such db'"));
        QVERIFY(r.rows);
        QCOMPARE(r.rows->rowCount(), 0);
        QCOMPARE(r.rows->columnCount(), 1);
        QCOMPARE(r.rows->columns()[0].name, QStringLiteral("name"));
    });
}

void TstOdbcClient::rowsAffectedAreSummed()
{
    guarded([&] {
        m_conn->execute(stmt("create table #c(a int)"));
        const RunResult r = m_conn->execute(stmt("insert into #c values(1), (2)\r\ninsert into #c values(3)\r\n"
                                                 "update #c set a = a + 1 where a > 1"));
        QCOMPARE(r.rowsAffected, 5);
        QCOMPARE(m_conn->execute(stmt("select 1")).rowsAffected, -1);
    });
}

void TstOdbcClient::everyResultIsWalked()
{
    guarded([&] {
        // A loop whose every pass reports a count: the error at the end of
        // the batch must still reach the caller, however many results come
        // before it.
        m_conn->execute(stmt("create table #walk(a int)\r\ninsert into #walk values(0)"));
        const QString loop = QStringLiteral("declare @i int\r\nset @i = 0\r\n"
                                            "while @i < 100001 begin update #walk set a = @i set @i = @i + 1 end\r\n");
        try {
            m_conn->execute(stmt(loop + "raiserror('late failure', 16, 1)"));
            QFAIL("the batch did not fail");
        } catch (const DbError &e) {
            QVERIFY2(e.message().contains("late failure"), qPrintable(e.message()));
        }
    });
}

void TstOdbcClient::manyRowsAcrossFetchBlocks()
{
    guarded([&] {
        // More rows than one block fetch holds, with NULLs scattered through them.
        m_conn->execute(stmt("create table #m(id int, s nvarchar(20), f float)"));
        const int n = 3000;
        for (int start = 0; start < n; start += 500) {
            QStringList values;
            for (int i = start; i < start + 500; ++i)
                values << (i % 10 == 0 ? QStringLiteral("(%1, NULL, %1.5)").arg(i)
                                       : QStringLiteral("(%1, N'row%1', %1.5)").arg(i));
            m_conn->execute(stmt("insert into #m values " + values.join(',')));
        }
        const RunResult r = m_conn->open(stmt("select id, s, f from #m order by id"));
        QCOMPARE(r.rows->rowCount(), n);
        for (int i : {0, 1, 511, 512, 513, 1999, n - 1}) {
            QCOMPARE(r.rows->value(i, 0).toLongLong(), qint64(i));
            QCOMPARE(r.rows->isNull(i, 1), i % 10 == 0);
            if (i % 10)
                QCOMPARE(r.rows->text(i, 1), QStringLiteral("row%1").arg(i));
            QCOMPARE(r.rows->value(i, 2).toDouble(), i + 0.5);
        }
    });
}

void TstOdbcClient::wideColumnsReadInChunks()
{
    guarded([&] {
        // A column wider than the bound buffers sends the whole result through
        // SQLGetData, texts and bytes in several chunks.
        m_conn->execute(stmt("create table #w(i int, s varchar(8000), b varbinary(8000), d datetime, f float, "
                             "m decimal(10,2), n nvarchar(10))"));
        QString text;
        for (int k = 0; k < 7000; ++k)
            text += QChar(u'a' + k % 26);
        QByteArray bytes;
        for (int k = 0; k < 8000; ++k)
            bytes += char(k * 7);
        Statement ins = stmt("insert into #w values(1, ?, ?, '2001-02-03 04:05:06.007', 0.25, 9.50, N'短')\r\n"
                             "insert into #w values(2, NULL, NULL, NULL, NULL, NULL, NULL)\r\n"
                             "insert into #w values(3, '', 0x, NULL, NULL, NULL, N'')");
        ins.markerCount = 2;
        ins.params = {text, bytes};
        m_conn->execute(ins);
        const RunResult r = m_conn->open(stmt("select i, s, b, d, f, m, n from #w order by i"));
        const ResultSet &rs = *r.rows;
        QCOMPARE(rs.rowCount(), 3);
        QVERIFY(rs.columns()[1].size > 4000); // too wide to bind
        QCOMPARE(rs.text(0, 1), text);
        QCOMPARE(rs.value(0, 2).toByteArray(), bytes);
        QCOMPARE(rs.text(0, 3), QStringLiteral("2001-02-03 04:05:06.007"));
        QCOMPARE(rs.value(0, 4).toDouble(), 0.25);
        QCOMPARE(rs.text(0, 5), QStringLiteral("9.50"));
        QCOMPARE(rs.text(0, 6), QStringLiteral("短"));
        for (int c = 1; c < 7; ++c)
            QVERIFY2(rs.isNull(1, c), qPrintable(QString::number(c)));
        QVERIFY(!rs.isNull(2, 1));
        QCOMPARE(rs.text(2, 1), QString());
        QCOMPARE(rs.value(2, 2).toByteArray(), QByteArray());
        QVERIFY(!rs.isNull(2, 6));
    });
}

void TstOdbcClient::informationalMessagesAreNotErrors()
{
    guarded([&] {
        const RunResult r = m_conn->open(stmt("print 'hello'\r\nselect 5 as five\r\nprint 'bye'"));
        QCOMPARE(column(r), QStringList{"5"});
        m_conn->execute(stmt("use master\r\nprint 'x'"));
    });
}

void TstOdbcClient::timeoutFailsAndConnectionStaysUsable()
{
    guarded([&] {
        Query q("q", m_conn.get());
        q.setCommandTimeout(1);
        q.setLines({"waitfor delay '00:02:00'"});
        QElapsedTimer t;
        t.start();
        QVERIFY_THROWS_EXCEPTION(DbError, q.execute());
        // Far short of the two-minute wait: the 1 s time-out cut it.
        QVERIFY2(t.elapsed() < 60000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(m_conn->isConnected());
        QCOMPARE(column(m_conn->open(stmt("select 6"))), QStringList{"6"});
    });
}

void TstOdbcClient::markerWithoutValueFails()
{
    guarded([&] {
        Query q("q", m_conn.get());
        q.setLines({"select :a as x, ':not' as y"});
        try {
            q.open();
            QFAIL("open succeeded");
        } catch (const DbError &e) {
            QCOMPARE(e.sqlState(), QStringLiteral("07002"));
            QVERIFY(e.message().startsWith(QStringLiteral("COUNT field incorrect")));
        }
        QVERIFY(!q.isOpen());
        q.setParameterValues({QStringLiteral("值")});
        q.open();
        QCOMPARE(q.fieldByName("x"), QStringLiteral("值"));
        QCOMPARE(q.fieldByName("y"), QStringLiteral(":not"));
    });
}

void TstOdbcClient::typedParametersRoundTrip()
{
    guarded([&] {
        m_conn->execute(stmt("create table #p(i int, s nvarchar(40), n int null, d datetime, "
                             "m decimal(10,2), b varbinary(16), f float, t bit)"));
        Statement ins = stmt("insert into #p values(?, ?, ?, ?, ?, ?, ?, ?)");
        ins.markerCount = 8;
        const QDateTime when(QDate(2026, 12, 8), QTime(17, 30, 5, 120));
        const QByteArray bytes("\x00\x01\xfe\xff", 4);
        ins.params = {42, QStringLiteral("中文字符 text"), QVariant(QMetaType::fromType<int>()), when,
                      QStringLiteral("-1234.50"), bytes, 2.25, true};
        m_conn->execute(ins);
        const RunResult r = m_conn->open(stmt("select i, s, n, d, m, b, f, t from #p"));
        QCOMPARE(r.rows->rowCount(), 1);
        const ResultSet &rs = *r.rows;
        QCOMPARE(rs.value(0, 0).toLongLong(), 42);
        QCOMPARE(rs.text(0, 1), QStringLiteral("中文字符 text"));
        QVERIFY(rs.isNull(0, 2));
        QCOMPARE(rs.value(0, 3).toDateTime(), when);
        QCOMPARE(rs.text(0, 4), QStringLiteral("-1234.50"));
        QCOMPARE(rs.value(0, 5).toByteArray(), bytes);
        QCOMPARE(rs.value(0, 6).toDouble(), 2.25);
        QCOMPARE(rs.value(0, 7), QVariant(true));

        // Markers and values through the query object, with a NULL text.
        Query q("q", m_conn.get());
        q.setLines({"select count(*) as c from #p where i = :i and s = :s", "and n is null"});
        q.setParameterValues({42, QStringLiteral("中文字符 text")});
        q.open();
        QCOMPARE(q.fieldByName("c"), QStringLiteral("1"));
    });
}

void TstOdbcClient::columnMetadata()
{
    guarded([&] {
        m_conn->execute(stmt("create table #meta(i int not null, s nvarchar(12), m decimal(9,3), d datetime)\r\n"
                             "insert into #meta values(1, N'x', 1.5, getdate())"));
        const RunResult r = m_conn->open(stmt("select i, s, m, d from #meta"));
        const auto &cols = r.rows->columns();
        QCOMPARE(cols.size(), 4);
        QCOMPARE(cols[0].kind, ValueKind::Integer);
        QCOMPARE(cols[1].kind, ValueKind::Text);
        QCOMPARE(cols[1].size, 12);
        QCOMPARE(cols[2].kind, ValueKind::Decimal);
        QCOMPARE(cols[2].scale, 3);
        QCOMPARE(r.rows->text(0, 2), QStringLiteral("1.500"));
        QCOMPARE(cols[3].kind, ValueKind::DateTime);
        QVERIFY(!cols[0].nullable);
        QVERIFY(cols[1].nullable);
        QCOMPARE(cols[0].typeName, QStringLiteral("int"));
        QCOMPARE(cols[1].typeName, QStringLiteral("nvarchar"));
    });
}

void TstOdbcClient::traceShowsExactBatch()
{
    guarded([&] {
        Query q("q", m_conn.get());
        q.setLines({"use master", "select 'a:b' as x", ""});
        q.execute();
        QVERIFY2(m_server.trace().contains(QStringLiteral("\nuse master\r\nselect 'a:b' as x\r\n\r\n\n#### END")),
                 qPrintable(m_server.trace().right(400)));
    });
}

void TstOdbcClient::lostConnectionIsNoticed()
{
    guarded([&] {
        TestServerProcess doomed;
        QVERIFY2(doomed.start(), qPrintable(doomed.error()));
        ConnectParams p = params();
        p.server = doomed.server();
        p.password = doomed.password();
        auto c = makeOdbcConnection();
        c->open(p);
        QCOMPARE(column(c->open(stmt("select 1"))), QStringList{"1"});
        doomed.kill();
        try {
            c->execute(stmt("select 1", 5));
            QFAIL("execute succeeded on a dead server");
        } catch (const DbError &e) {
            QVERIFY(!e.message().isEmpty());
        }
        // Still open until closed (the window stays logged in until the
        // operator logs out); every later statement fails at once as a lost
        // link, without going to the network.
        QVERIFY(c->isConnected());
        QVERIFY(doomed.restart());
        for (bool rows : {false, true}) {
            try {
                rows ? c->open(stmt("select 1", 5)) : c->execute(stmt("select 1", 5));
                QFAIL("a statement succeeded over a lost link");
            } catch (const DbError &e) {
                QCOMPARE(e.sqlState(), QStringLiteral("08S01"));
                QCOMPARE(e.message(), QStringLiteral("Communication link failure"));
            }
        }
        QVERIFY(c->isConnected());
        c->close();
        QVERIFY(!c->isConnected());
        // The same object logs in to the server at its new address.
        p.server = doomed.server();
        c->open(p);
        QCOMPARE(column(c->open(stmt("select 1"))), QStringList{"1"});
        c->close();
    });
}

QTEST_MAIN(TstOdbcClient)
#include "tst_odbcclient.moc"
