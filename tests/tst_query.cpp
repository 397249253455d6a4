// The query object over an in-process fake connection.
#include "client/query.h"
#include "client/resultset.h"
#include "support/fakeconnection.h"

#include <QSignalSpy>
#include <QtTest>

using namespace dv;
using dvtest::FakeConnection;

class TstQuery : public QObject {
    Q_OBJECT
private slots:
    void init();
    void commandTextJoinsLinesWithCrLf();
    void everyLineChangeCloses_data();
    void everyLineChangeCloses();
    void walkRows();
    void fieldByNameFailures();
    void openWithoutResult_data();
    void openWithoutResult();
    void otherErrorsPassThrough();
    void failedOpenLeavesClosed();
    void markersRewrittenAndParametersSent();
    void executeSendsBatchAndDiscards();
    void closeTwiceIsQuiet();

private:
    std::unique_ptr<FakeConnection> m_conn;
};

void TstQuery::init()
{
    m_conn = std::make_unique<FakeConnection>();
    m_conn->open(ConnectParams{});
}

void TstQuery::commandTextJoinsLinesWithCrLf()
{
    Query q("q", m_conn.get());
    QCOMPARE(q.commandText(), QString());
    q.addLine("use master");
    q.addLine("");
    q.addLine("select 1");
    QCOMPARE(q.commandText(), QStringLiteral("use master\r\n\r\nselect 1\r\n"));
    q.setLines({"a"});
    QCOMPARE(q.commandText(), QStringLiteral("a\r\n"));
    q.clearLines();
    QCOMPARE(q.commandText(), QString());
}

void TstQuery::everyLineChangeCloses_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("setLines") << 0;
    QTest::newRow("addLine") << 1;
    QTest::newRow("clearLines") << 2;
}

void TstQuery::everyLineChangeCloses()
{
    QFETCH(int, change);
    Query q("q", m_conn.get());
    QSignalSpy closed(&q, &Query::closed);
    q.setLines({"select name from master..sysdatabases order by name"});
    q.open();
    QVERIFY(q.isOpen());
    auto held = q.resultSet();
    switch (change) {
    case 0: q.setLines({"x"}); break;
    case 1: q.addLine("x"); break;
    case 2: q.clearLines(); break;
    }
    QVERIFY(!q.isOpen());
    QVERIFY(!q.resultSet());
    QVERIFY(q.eof());
    QCOMPARE(closed.count(), 1);
    // A holder of the shared result (the console's model) keeps its rows.
    QCOMPARE(held->rowCount(), 4);
}

void TstQuery::walkRows()
{
    Query q("q", m_conn.get());
    QSignalSpy opened(&q, &Query::opened);
    q.setLines({"select name from master..sysdatabases order by name"});
    q.open();
    QCOMPARE(opened.count(), 1);
    QStringList names;
    while (!q.eof()) {
        names << q.fieldByName("NAME");
        q.next();
    }
    QCOMPARE(names, m_conn->databases);
    QCOMPARE(q.currentRow(), 4);
    q.next(); // past the end stays at the end
    QCOMPARE(q.currentRow(), 4);
    QVERIFY(q.eof());
}

void TstQuery::fieldByNameFailures()
{
    Query q("q", m_conn.get());
    QVERIFY_THROWS_EXCEPTION(DbError, q.fieldByName("name")); // closed
    q.setLines({"select name from master..sysdatabases"});
    q.open();
    QVERIFY_THROWS_EXCEPTION(DbError, q.fieldByName("nope"));
    while (!q.eof())
        q.next();
    QVERIFY_THROWS_EXCEPTION(DbError, q.fieldByName("name")); // at the end
}

void TstQuery::openWithoutResult_data()
{
    QTest::addColumn<bool>("throwsFromConnection");
    QTest::newRow("connection reports it") << true;
    QTest::newRow("connection returns no rows") << false;
}

void TstQuery::openWithoutResult()
{
    QFETCH(bool, throwsFromConnection);
    m_conn->handler = [&](const Statement &, bool) -> RunResult {
        if (throwsFromConnection)
            throw DbError(QString::fromLatin1(kNoResultSetText));
        return {};
    };
    Query q("q", m_conn.get());
    q.setLines({"update t set a = 1"});
    try {
        q.open();
        QFAIL("open did not fail");
    } catch (const DbError &e) {
        QCOMPARE(e.message(), QStringLiteral("q: CommandText does not return a result set"));
    }
    QVERIFY(!q.isOpen());
}

void TstQuery::otherErrorsPassThrough()
{
    m_conn->handler = [](const Statement &, bool) -> RunResult {
        throw DbError(QStringLiteral("Invalid object name 't'."), QStringLiteral("42S02"), 208);
    };
    Query q("AdoQExec", m_conn.get());
    q.setLines({"select * from t"});
    try {
        q.open();
        QFAIL("open did not fail");
    } catch (const DbError &e) {
        QCOMPARE(e.message(), QStringLiteral("Invalid object name 't'."));
        QCOMPARE(e.sqlState(), QStringLiteral("42S02"));
        QCOMPARE(e.nativeError(), 208);
    }
    QVERIFY_THROWS_EXCEPTION(DbError, q.execute());
}

void TstQuery::failedOpenLeavesClosed()
{
    Query q("q", m_conn.get());
    q.setLines({"select name from master..sysdatabases"});
    q.open();
    QSignalSpy closed(&q, &Query::closed);
    m_conn->handler = [](const Statement &, bool) -> RunResult { throw DbError("lost"); };
    QVERIFY_THROWS_EXCEPTION(DbError, q.open()); // same lines, opened again
    QVERIFY(!q.isOpen());
    QCOMPARE(closed.count(), 1);
}

void TstQuery::markersRewrittenAndParametersSent()
{
    Query q("q", m_conn.get());
    q.setCommandTimeout(7);
    q.setLines({"select * from t where a = :a and b = ':x'", "and c = :c"});
    q.setParameterValues({1, QStringLiteral("two")});
    q.execute();
    QCOMPARE(m_conn->calls.size(), 1);
    const Statement &st = m_conn->calls[0].statement;
    QVERIFY(!m_conn->calls[0].open);
    QCOMPARE(st.text, QStringLiteral("select * from t where a = ? and b = ':x'\r\nand c = ?\r\n"));
    QCOMPARE(st.markerCount, 2);
    QCOMPARE(st.params, (QVector<QVariant>{1, QStringLiteral("two")}));
    QCOMPARE(st.timeoutSec, 7);
    // Values stay until replaced.
    q.execute();
    QCOMPARE(m_conn->calls[1].statement.params.size(), 2);
}

void TstQuery::executeSendsBatchAndDiscards()
{
    Query q("q", m_conn.get());
    q.setLines({"select name from master..sysdatabases"});
    q.open();
    q.setLines({"use master", "drop database x"});
    q.execute();
    QVERIFY(!q.isOpen());
    QCOMPARE(m_conn->texts().last(), QStringLiteral("use master\r\ndrop database x\r\n"));
    QCOMPARE(m_conn->calls.last().statement.timeoutSec, 30);
}

void TstQuery::closeTwiceIsQuiet()
{
    Query q("q", m_conn.get());
    QSignalSpy closed(&q, &Query::closed);
    q.close();
    q.close();
    QCOMPARE(closed.count(), 0);
}

QTEST_MAIN(TstQuery)
#include "tst_query.moc"
