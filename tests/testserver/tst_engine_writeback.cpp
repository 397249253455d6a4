// What a client writing rows back relies on: OUTPUT, @@ROWCOUNT, savepoints,
// THROW, exact values, as the engine reports them.
#include "engine.h"
#include "enginetestsink.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace ts;

class EngineWritebackTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<Session> m_session;
    int m_spid = 70;

    RecordingSink run(const QString &sql, Session *s = nullptr)
    {
        RecordingSink k;
        (s ? s : m_session.get())->executeBatch(sql.toStdString(), k);
        return k;
    }
    std::unique_ptr<Session> open(const std::string &user = "sa")
    {
        Message m;
        return m_engine->openSession(user, "wb", ++m_spid, &m);
    }
    // The single value of the last result set of a batch.
    std::string scalar(const QString &sql, Session *s = nullptr)
    {
        auto k = run(sql, s);
        if (k.anyError() || k.results.empty() || k.results.back().rows.empty()) return "<" + k.allMessages() + ">";
        return k.text(k.results.size() - 1, 0, 0);
    }

private slots:
    void initTestCase()
    {
        EngineOptions o;
        o.dataDir = (m_tmp.path() + "/data").toStdString();
        m_engine = std::make_unique<Engine>(o);
        std::string err;
        QVERIFY2(m_engine->start(&err), err.c_str());
        Message m;
        auto master = m_engine->openSession("sa", "", 60, &m);
        QVERIFY(master);
        RecordingSink k;
        master->executeBatch("create database wb", k);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        m_session = open();
        QVERIFY(m_session);
    }
    void cleanupTestCase()
    {
        m_session.reset();
        m_engine.reset();
    }

    void outputInsertedOnInsert()
    {
        auto k = run("create table oi (id int identity(10,1) primary key, name nvarchar(20) not null, "
                     "qty int default 7, price decimal(9,2) null) "
                     "insert into oi (name, price) output inserted.* values (N'一', 1.5), (N'二', null)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.size(), size_t(1));
        const auto &res = k.results[0];
        QCOMPARE(res.cols.size(), size_t(4));
        QCOMPARE(res.cols[0].name, std::string("id"));
        QVERIFY(res.cols[0].identity);
        QCOMPARE(res.cols[3].type, SqlType::Decimal);
        QCOMPARE(res.rows.size(), size_t(2));
        // Identity and default as stored, decimal at its scale.
        QCOMPARE(k.text(0, 0, 0), std::string("10"));
        QCOMPARE(k.text(0, 1, 0), std::string("11"));
        QCOMPARE(k.text(0, 0, 2), std::string("7"));
        QCOMPARE(k.text(0, 0, 3), std::string("1.50"));
        QCOMPARE(k.text(0, 1, 3), std::string("NULL"));
        QVERIFY(k.dones.back().hasCount);
        QCOMPARE(k.dones.back().count, uint64_t(2));
        QCOMPARE(scalar("select scope_identity()"), std::string("11"));
    }

    void outputOnUpdateAndDelete()
    {
        run("create table ou (id int primary key, v int, note varchar(10))"
            " insert ou values (1, 10, 'a'), (2, 20, 'b'), (3, 30, 'c')");
        auto k = run("update ou set v = v + 1 output inserted.id, inserted.v as newv, inserted.v * 2 where id >= 2 "
                     "select @@rowcount");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.size(), size_t(2));
        QCOMPARE(k.results[0].cols[1].name, std::string("newv"));
        QCOMPARE(k.results[0].cols[2].name, std::string(""));
        QCOMPARE(k.results[0].rows.size(), size_t(2));
        QCOMPARE(k.text(0, 1, 1), std::string("31"));
        QCOMPARE(k.text(0, 1, 2), std::string("62"));
        QCOMPARE(k.text(1, 0, 0), std::string("2"));
        // Nothing matched: the columns still arrive, with no rows and a count of 0.
        k = run("update ou set v = 0 output inserted.* where id = 99");
        QCOMPARE(k.results.size(), size_t(1));
        QCOMPARE(k.results[0].cols.size(), size_t(3));
        QCOMPARE(k.results[0].rows.size(), size_t(0));
        QCOMPARE(k.dones.back().count, uint64_t(0));
        k = run("delete from ou output deleted.* where id = 1");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 2), std::string("a"));
        QCOMPARE(scalar("select count(*) from ou"), std::string("2"));
    }

    void outputErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("deleted in insert") << "insert ou (id) output deleted.id values (5)" << 4104;
        QTest::newRow("inserted in delete") << "delete ou output inserted.* where id = 2" << 4104;
        QTest::newRow("unknown column") << "delete ou output deleted.nope where id = 2" << 207;
        QTest::newRow("duplicate key") << "insert ou (id, v) output inserted.* values (9, 1), (2, 2)" << 2627;
    }
    void outputErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        QString before = QString::fromStdString(scalar("select count(*) from ou"));
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        // A failed statement sends no OUTPUT rows and changes nothing.
        for (const auto &res : k.results) QCOMPARE(res.rows.size(), size_t(0));
        QCOMPARE(QString::fromStdString(scalar("select count(*) from ou")), before);
    }

    void rowcountRules()
    {
        run("create table rc (id int primary key, v int) insert rc values (1, 1), (2, 2), (3, 3)");
        QCOMPARE(scalar("update rc set v = 0 where id < 3 declare @n int select @n = @@rowcount select @n"),
                 std::string("2"));
        QCOMPARE(scalar("update rc set v = 0 select @@rowcount"), std::string("3"));
        QCOMPARE(scalar("update rc set v = 0 declare @x int set @x = 5 select @@rowcount"), std::string("1"));
        QCOMPARE(scalar("update rc set v = 0 set nocount off select @@rowcount"), std::string("0"));
        QCOMPARE(scalar("update rc set v = 1 where id = 9 select @@rowcount"), std::string("0"));
    }

    void nocountDropsCounts()
    {
        auto k = run("set nocount on update rc set v = 2 select v from rc where id = 1 set nocount off update rc set v = 3");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        std::vector<bool> counted;
        for (const auto &d : k.dones) counted.push_back(d.hasCount);
        // SET, UPDATE, SELECT under NOCOUNT: no counts; the last UPDATE has one.
        QCOMPARE(counted, (std::vector<bool>{false, false, false, false, true}));
        QCOMPARE(k.dones.back().count, uint64_t(3));
    }

    void savepoints()
    {
        run("create table sp (id int primary key)");
        auto k = run("begin tran insert sp values (1) save tran s1 insert sp values (2) "
                     "rollback tran s1 select @@trancount insert sp values (3) commit select @@trancount");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("1"));
        QCOMPARE(k.text(1, 0, 0), std::string("0"));
        auto rows = run("select id from sp order by id");
        QCOMPARE(rows.results[0].rows.size(), size_t(2));
        QCOMPARE(rows.text(0, 1, 0), std::string("3"));

        // A savepoint taken before any work; the transaction stays open afterwards.
        k = run("begin tran save tran first insert sp values (4) rollback tran first select @@trancount");
        QCOMPARE(k.text(0, 0, 0), std::string("1"));
        QCOMPARE(scalar("commit select count(*) from sp where id = 4"), std::string("0"));

        // The same name twice: back to the latest one only.
        k = run("begin tran save tran a insert sp values (5) save tran a insert sp values (6) rollback tran a commit");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(scalar("select count(*) from sp where id in (5, 6)"), std::string("1"));

        // The outer transaction's name rolls everything back.
        k = run("begin tran outer_t insert sp values (7) save tran s insert sp values (8) rollback tran outer_t select @@trancount");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("0"));
        QCOMPARE(scalar("select count(*) from sp where id >= 7"), std::string("0"));

        // Names are case sensitive and may come from a variable.
        k = run("begin tran declare @n varchar(10) = 'Mix' save tran @n insert sp values (9) rollback tran mix");
        QCOMPARE(k.errorNumbers(), std::vector<int>{6401});
        k = run("declare @n varchar(10) = 'Mix' rollback tran @n select @@trancount");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("1"));
        run("rollback");
        QCOMPARE(scalar("select count(*) from sp where id = 9"), std::string("0"));
    }

    void transactionErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("save outside") << "save tran x" << 628;
        QTest::newRow("commit outside") << "commit tran" << 3902;
        QTest::newRow("rollback outside") << "rollback" << 3903;
        QTest::newRow("unknown savepoint") << "begin tran rollback tran nowhere" << 6401;
    }
    void transactionErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        run("if @@trancount > 0 rollback");
    }

    void throwEndsTheBatch()
    {
        auto k = run("select 1 if 1 = 1 begin throw 50001, N'行已被修改', 3 end select 2");
        QCOMPARE(k.errorNumbers(), std::vector<int>{50001});
        QCOMPARE(k.messages[0].state, 3);
        QCOMPARE(k.messages[0].severity, 16);
        QCOMPARE(k.messages[0].text, std::string("行已被修改"));
        QCOMPARE(k.results.size(), size_t(1));
        k = run("throw 49999, 'low', 1");
        QCOMPARE(k.errorNumbers(), std::vector<int>{35100});
        k = run("if 1 = 0 raiserror('no', 16, 1) else raiserror('yes %d', 16, 1, 5) select 3");
        QCOMPARE(k.errorNumbers(), std::vector<int>{50000});
        QCOMPARE(k.messages[0].text, std::string("yes 5"));
        QCOMPARE(k.results.size(), size_t(1));
    }

    void controlFlowSelectsRows()
    {
        run("create table archive_t (a int) create table cf (b int) insert archive_t values (1) insert cf values (2), (3)");
        auto k = run("if 1 = 0 select * from archive_t else select * from cf");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.size(), size_t(1));
        QCOMPARE(k.results[0].cols[0].name, std::string("b"));
        QCOMPARE(k.results[0].rows.size(), size_t(2));
    }

    void dateAndTimeTypes_data()
    {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QString>("result");
        QTest::newRow("datetime2(7)") << "cast('2024-02-29 23:59:59.1234567' as datetime2)" << "2024-02-29 23:59:59.1234567";
        QTest::newRow("datetime2(3) rounds") << "cast('2024-02-29 23:59:59.1235' as datetime2(3))" << "2024-02-29 23:59:59.124";
        QTest::newRow("rounding carries into the next day") << "cast('2024-12-31 23:59:59.9999999' as datetime2(0))"
                                                            << "2025-01-01 00:00:00";
        QTest::newRow("datetime2 before 1753") << "cast('0001-01-01' as datetime2(2))" << "0001-01-01 00:00:00.00";
        QTest::newRow("time(7)") << "cast('1:02:03.1' as time)" << "01:02:03.1000000";
        QTest::newRow("time from a datetime text") << "cast('2020-01-01 10:11:12.5' as time(1))" << "10:11:12.5";
        QTest::newRow("datetimeoffset") << "cast('2024-01-02T03:04:05.5 -03:30' as datetimeoffset(1))"
                                        << "2024-01-02 03:04:05.5 -03:30";
        QTest::newRow("datetime2 drops an offset") << "cast('2024-01-02 03:04:05 +08:00' as datetime2(0))"
                                                   << "2024-01-02 03:04:05";
    }
    void dateAndTimeTypes()
    {
        QFETCH(QString, expr);
        QFETCH(QString, result);
        QCOMPARE(QString::fromStdString(scalar("select " + expr)), result);
    }

    void dateAndTimeColumnsCompareByValue()
    {
        auto k = run("create table tcmp (id int primary key, d2 datetime2(7), t time(3), dto datetimeoffset, dt datetime) "
                     "insert tcmp values (1, '2024-05-06 07:08:09.1', '10:00:00.5', '2024-01-01 08:00:00 +08:00', "
                     "'2024-05-06 07:08:09.100') "
                     "select d2, t, dto from tcmp");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results[0].cols[0].type, SqlType::DateTime2);
        QCOMPARE(k.results[0].cols[0].scale, 7);
        QCOMPARE(k.results[0].cols[1].type, SqlType::Time);
        QCOMPARE(k.results[0].cols[1].scale, 3);
        QCOMPARE(k.text(0, 0, 0), std::string("2024-05-06 07:08:09.1000000"));
        QCOMPARE(k.text(0, 0, 1), std::string("10:00:00.500"));
        // Any precision of the same instant matches; the same instant at another offset too.
        QCOMPARE(scalar("select count(*) from tcmp where d2 = '2024-05-06 07:08:09.1' and t = '10:00:00.5000000' "
                        "and dto = '2024-01-01 00:00:00 +00:00' and dt = '2024-05-06 07:08:09.1000000'"),
                 std::string("1"));
        QCOMPARE(scalar("select count(*) from tcmp where d2 = '2024-05-06 07:08:09.1000001'"), std::string("0"));
        QCOMPARE(scalar("select count(*) from tcmp where d2 > '2024-05-06 07:08:09.09'"), std::string("1"));
        k = run("insert tcmp (id, d2) values (2, '2024-13-01')");
        QCOMPARE(k.errorNumbers(), std::vector<int>{241});
    }

    void floatsRoundTripExactly()
    {
        run("create table fl (id int primary key, f float, r real)");
        auto k = run("insert fl values (1, 0.30000000000000004, 0.1), (2, 1e0 / 3, 0) "
                     "select f, r from fl order by id");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        const Value &a = k.results[0].rows[0][0];
        const Value &b = k.results[0].rows[1][0];
        QCOMPARE(a.kind, Value::Float);
        QVERIFY(a.d == 0.1 + 0.2);
        QVERIFY(b.d == 1.0 / 3);
        // The exact value finds its row again.
        QCOMPARE(scalar("select id from fl where f = 0.30000000000000004"), std::string("1"));
        QCOMPARE(scalar("select count(*) from fl where f = 0.3"), std::string("0"));
    }
};

QTEST_APPLESS_MAIN(EngineWritebackTest)
#include "tst_engine_writeback.moc"
