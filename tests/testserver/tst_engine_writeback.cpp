// What a client writing rows back relies on: OUTPUT, @@ROWCOUNT, savepoints,
// THROW, exact values, as the engine reports them.
#include "enginefixture.h"
#include "base/textcollation.h"
#include "engine/enginefunctions.h"

#include <QtTest>

#include <cstring>
#include <sqlite3.h>

using namespace ts;

class EngineWritebackTest : public QObject, EngineFixture {
    Q_OBJECT
    // A session of `user` in the database these tests share.
    std::unique_ptr<Session> open(const std::string &user = "sa") { return openSession("wb", user); }
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
        const std::string err = startEngine();
        QVERIFY2(err.empty(), err.c_str());
        auto k = run("create database wb");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        m_session = open();
        QVERIFY(m_session);
    }
    void cleanupTestCase() { stopEngine(); }

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
        // Old and new values of an UPDATE side by side.
        k = run("update ou set v = v * 10, note = 'z' output deleted.id, deleted.v, inserted.v, deleted.note + '>' + inserted.note "
                "where id >= 2");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.at(0).rows.size(), size_t(2));
        QCOMPARE(k.results.at(0).cols.at(1).name, std::string("v"));
        QCOMPARE(k.text(0, 0, 0) + " " + k.text(0, 0, 1) + " " + k.text(0, 0, 2) + " " + k.text(0, 0, 3), std::string("2 21 210 b>z"));
        QCOMPARE(k.text(0, 1, 0) + " " + k.text(0, 1, 1) + " " + k.text(0, 1, 2) + " " + k.text(0, 1, 3), std::string("3 31 310 c>z"));
        k = run("update ou set v = 1 output deleted.* where id = 2");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 1), std::string("210"));
    }

    // OUTPUT ... INTO a table variable or a table: no rows to the client, the
    // statement's count, the rows where they were sent.
    void outputInto()
    {
        run("create table oin (id int identity(1,1) primary key, v nvarchar(10)) create table oin_log (id int, old nvarchar(10), new nvarchar(10))");
        auto k = run("declare @t table (id int, v nvarchar(10)) "
                     "insert oin (v) output inserted.id, inserted.v into @t values (N'a'), (N'b') "
                     "select @@rowcount "
                     "select id, v from @t order by id");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.size(), size_t(2));
        QCOMPARE(k.text(0, 0, 0), std::string("2"));
        QCOMPARE(k.text(1, 1, 0) + k.text(1, 1, 1), std::string("2b"));
        k = run("update oin set v = v + N'!' output inserted.id, deleted.v, inserted.v into oin_log (id, old, new) where id = 2");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QVERIFY(k.results.empty());
        QCOMPARE(k.dones.back().count, uint64_t(1));
        QCOMPARE(scalar("select old + '|' + new from oin_log"), std::string("b|b!"));
        // With a trigger on the table OUTPUT ... INTO is allowed (only OUTPUT without INTO is not).
        run("create trigger tr_oin on oin after delete as\ninsert oin_log (id) select id from deleted");
        k = run("delete oin output deleted.id, deleted.v, null into oin_log where id = 1 select count(*) from oin_log");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("3"));
    }

    void outputErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("deleted in insert") << "insert ou (id) output deleted.id values (5)" << 4104;
        QTest::newRow("inserted in delete") << "delete ou output inserted.* where id = 2" << 4104;
        QTest::newRow("unknown column") << "delete ou output deleted.nope where id = 2" << 207;
        QTest::newRow("duplicate key") << "insert ou (id, v) output inserted.* values (9, 1), (2, 2)" << 2627;
        QTest::newRow("into an undeclared variable") << "update ou set v = 1 output inserted.id into @nope" << 1087;
        QTest::newRow("into a missing table") << "update ou set v = 1 output inserted.id into nowhere" << 208;
        QTest::newRow("into too few columns") << "declare @t table (a int, b int) update ou set v = 1 output inserted.id into @t" << 213;
        QTest::newRow("into a duplicate key") << "create table ou_k (a int primary key) update ou set v = 1 output 1 into ou_k" << 2627;
    }
    void outputErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        const QString state = "select cast(count(*) as varchar(9)) + ':' + cast(sum(v) as varchar(20)) from ou";
        QString before = QString::fromStdString(scalar(state));
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        // A failed statement sends no OUTPUT rows and changes nothing.
        for (const auto &res : k.results) QCOMPARE(res.rows.size(), size_t(0));
        QCOMPARE(QString::fromStdString(scalar(state)), before);
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

    void castToTypes_data()
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
        QTest::newRow("uniqueidentifier in upper case") << "cast('6f9619ff-8b86-d011-b42d-00c04fc964ff' as uniqueidentifier)"
                                                        << "6F9619FF-8B86-D011-B42D-00C04FC964FF";
        QTest::newRow("uniqueidentifier in braces") << "convert(uniqueidentifier, '{6F9619FF-8B86-D011-B42D-00C04FC964FF}')"
                                                    << "6F9619FF-8B86-D011-B42D-00C04FC964FF";
        QTest::newRow("uniqueidentifier cut to 36 characters")
            << "cast('0E984725-C51C-4BF4-9960-E1C80E27ABA0wrong' as uniqueidentifier)" << "0E984725-C51C-4BF4-9960-E1C80E27ABA0";
        QTest::newRow("uniqueidentifier from binary(16)") << "cast(0xFF19966F868B11D0B42D00C04FC964FF as uniqueidentifier)"
                                                          << "6F9619FF-8B86-D011-B42D-00C04FC964FF";
        QTest::newRow("not a uniqueidentifier") << "cast('6F9619FF-8B86-D011-B42D-00C04FC964F' as uniqueidentifier)"
                                                << "<8169: Conversion failed when converting from a character string to uniqueidentifier.\n>";
    }
    void castToTypes()
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

    void schemasAndDefaultSchema()
    {
        auto k = run("create schema sales");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("create table sales.t (id int primary key, v nvarchar(10)) create table dbo.t (id int primary key, v nvarchar(10)) "
                "insert sales.t values (1, N'sales') insert t values (1, N'dbo') "
                "create user alice for login alice with default_schema = sales "
                "create user bob");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        auto alice = open("alice");
        auto bob = open("bob");
        QVERIFY(alice && bob);
        // The same unqualified name: alice reads sales.t, sa and bob read dbo.t.
        QCOMPARE(scalar("select v from t", alice.get()), std::string("sales"));
        QCOMPARE(scalar("select v from t", bob.get()), std::string("dbo"));
        QCOMPARE(scalar("select v from t"), std::string("dbo"));
        QCOMPARE(scalar("select v from dbo.t", alice.get()), std::string("dbo"));
        QCOMPARE(scalar("select schema_name()", alice.get()), std::string("sales"));
        QCOMPARE(scalar("select schema_name()"), std::string("dbo"));
        QCOMPARE(scalar("select user_name()", alice.get()), std::string("alice"));
        // OBJECT_ID resolves a name as written the same way; the ids tell the tables apart.
        QCOMPARE(scalar("select case when object_id('t') = object_id(N'sales.t') then 1 else 0 end", alice.get()),
                 std::string("1"));
        QCOMPARE(scalar("select case when object_id('t') = object_id('[dbo].[t]') then 1 else 0 end"), std::string("1"));
        QCOMPARE(scalar("select object_schema_name(object_id('t')) + '.' + object_name(object_id('t'))", alice.get()),
                 std::string("sales.t"));
        QCOMPARE(scalar("select object_id('nosuch')"), std::string("NULL"));
        QCOMPARE(scalar("select objectproperty(object_id('sales.t'), 'IsView')"), std::string("0"));
        QCOMPARE(scalar("select objectproperty(object_id('sales.t'), 'IsUserTable')"), std::string("1"));
        // Writes follow the same resolution; a table alice creates without schema goes to sales.
        k = run("update t set v = N'edited' where id = 1 create table mine (a int)", alice.get());
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(scalar("select v from sales.t"), std::string("edited"));
        QCOMPARE(scalar("select v from dbo.t"), std::string("dbo"));
        QCOMPARE(scalar("select count(*) from sales.mine"), std::string("0"));
        // A table only dbo has is found from alice's default schema too.
        run("create table only_dbo (a int) insert only_dbo values (5)");
        QCOMPARE(scalar("select a from only_dbo", alice.get()), std::string("5"));
        // Result columns carry schema-qualified base tables (browse information on request).
        k = run("set no_browsetable on select * from t set no_browsetable off", alice.get());
        QCOMPARE(k.results.at(0).cols.at(0).baseTable, std::string("sales.t"));
        QVERIFY(k.results.at(0).cols.at(0).key);
        run("alter user alice with default_schema = dbo");
        QCOMPARE(scalar("select v from t", alice.get()), std::string("dbo"));
    }

    void schemaCatalogue()
    {
        auto k = run("select table_schema + '.' + table_name from information_schema.tables where table_name = 't' "
                     "order by table_schema");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results[0].rows.size(), size_t(2));
        QCOMPARE(k.text(0, 0, 0), std::string("dbo.t"));
        QCOMPARE(k.text(0, 1, 0), std::string("sales.t"));
        QCOMPARE(scalar("select count(*) from information_schema.columns where table_schema = 'sales' and table_name = 't'"),
                 std::string("2"));
        QCOMPARE(scalar("select c.column_name from information_schema.table_constraints t "
                        "join information_schema.key_column_usage c on c.constraint_name = t.constraint_name "
                        "and c.table_schema = t.table_schema where t.table_schema = 'sales' and t.table_name = 't' "
                        "and t.constraint_type = 'PRIMARY KEY'"),
                 std::string("id"));
        QCOMPARE(scalar("select s.name from sys.tables t join sys.schemas s on s.schema_id = t.schema_id "
                        "where t.object_id = object_id('sales.t')"),
                 std::string("sales"));
    }

    void uniqueIndexesAreKeys()
    {
        auto k = run("create table ux (id int, code varchar(10) not null, a int, b int, constraint uq_ab unique (a, b)) "
                     "create unique index ix_code on ux (code desc) create index ix_plain on ux (a)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("select i.name, i.is_unique, i.is_primary_key, i.is_unique_constraint, c.name, ic.key_ordinal "
                "from sys.indexes i join sys.index_columns ic on ic.object_id = i.object_id and ic.index_id = i.index_id "
                "join sys.columns c on c.object_id = ic.object_id and c.column_id = ic.column_id "
                "where i.object_id = object_id('dbo.ux') order by i.name, ic.key_ordinal");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results[0].rows.size(), size_t(4));
        QCOMPARE(k.text(0, 0, 0), std::string("ix_code"));
        QCOMPARE(k.text(0, 0, 1), std::string("1"));
        QCOMPARE(k.text(0, 0, 4), std::string("code"));
        QCOMPARE(k.text(0, 1, 0), std::string("ix_plain"));
        QCOMPARE(k.text(0, 1, 1), std::string("0"));
        QCOMPARE(k.text(0, 2, 0), std::string("uq_ab"));
        QCOMPARE(k.text(0, 2, 3), std::string("1"));
        QCOMPARE(k.text(0, 3, 4), std::string("b"));
        QCOMPARE(k.text(0, 3, 5), std::string("2"));
        // Both columns of a two-column unique constraint are in the key usage.
        QCOMPARE(scalar("select count(*) from information_schema.key_column_usage where constraint_name = 'uq_ab'"),
                 std::string("2"));
        k = run("insert ux values (1, 'x', 1, 1) insert ux values (2, 'x', 2, 2)");
        QCOMPARE(k.errorNumbers(), std::vector<int>{2601});
        QVERIFY2(k.messages[0].text.find("'dbo.ux' with unique index 'ix_code'") != std::string::npos, k.messages[0].text.c_str());
    }

    void schemaErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("no such schema") << "create table nowhere.t (a int)" << 2760;
        QTest::newRow("schema exists") << "create schema sales" << 2714;
        QTest::newRow("create schema not first") << "select 1 create schema later" << 111;
        QTest::newRow("same name twice in a schema") << "create table sales.t (a int)" << 2714;
        QTest::newRow("missing in the schema") << "select * from sales.only_dbo" << 208;
        QTest::newRow("schema with objects") << "drop schema sales" << 3729;
        QTest::newRow("user exists") << "create user alice" << 15023;
        QTest::newRow("no such user") << "alter user nobody with default_schema = sales" << 15151;
    }
    void schemaErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
    }

    // The columns a row gets from the server: a newid() key, a default, a
    // computed column, a rowversion and an identity.
    void serverFilledColumns()
    {
        auto k = run("create table sf (id uniqueidentifier not null default newid() primary key, n int not null default 5, "
                     "c as n * 2, rv rowversion, name nvarchar(20) null, seq int identity(10, 1) not null) "
                     "insert sf (name) output inserted.* values (N'x')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        const auto &cols = k.results.at(0).cols;
        QCOMPARE(cols.at(0).type, SqlType::UniqueIdentifier);
        QCOMPARE(cols.at(2).type, SqlType::Int);
        QCOMPARE(cols.at(3).type, SqlType::VarBinary);
        QCOMPARE(cols.at(3).length, 8);
        const std::string id = k.text(0, 0, 0);
        std::string canonical;
        QVERIFY2(parseGuid(id, canonical) && canonical == id, id.c_str());
        QCOMPARE(k.text(0, 0, 2), std::string("10"));
        const std::string rv1 = k.text(0, 0, 3);
        QCOMPARE(rv1.size(), size_t(8));
        QCOMPARE(scalar("select @@dbts"), rv1);
        // The key is found whatever the case of the text it is compared with.
        QString lowerId = QString::fromStdString(id).toLower();
        QCOMPARE(scalar("select name from sf where id = '" + lowerId + "'"), std::string("x"));
        QCOMPARE(scalar("select count(*) from sf where id = cast('" + lowerId + "' as uniqueidentifier)"), std::string("1"));
        // An update gives a new, larger rowversion and recomputes c.
        k = run("update sf set n = 6 output inserted.c, inserted.rv where id = '" + lowerId + "'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("12"));
        const std::string rv2 = k.text(0, 0, 1);
        QVERIFY(rv2 > rv1); // big-endian bytes compare as numbers
        QCOMPARE(scalar("select count(*) from sf where rv = @@dbts"), std::string("1"));
        k = run("select c, rv, name from sf");
        QCOMPARE(k.text(0, 0, 0), std::string("12"));
        const auto &read = k.results.at(0).cols;
        QVERIFY(!read.at(0).updateable && !read.at(1).updateable && read.at(2).updateable);
        // What a client sees in the catalogue.
        k = run("select c.name, c.is_computed, t.name from sys.columns c join sys.types t on t.user_type_id = c.system_type_id "
                "where c.object_id = object_id('sf') order by c.column_id");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.at(0).rows.size(), size_t(6));
        std::string shown;
        for (size_t r = 0; r < 6; ++r) shown += k.text(0, r, 0) + " " + k.text(0, r, 1) + " " + k.text(0, r, 2) + ";";
        QCOMPARE(shown, std::string("id 0 uniqueidentifier;n 0 int;c 1 int;rv 0 timestamp;name 0 nvarchar;seq 0 int;"));
    }

    void serverFilledColumnErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("insert into a rowversion") << "insert sfe (k, rv) values (2, 0x01)" << 273;
        QTest::newRow("update a rowversion") << "update sfe set rv = 0x01" << 272;
        QTest::newRow("insert into a computed column") << "insert sfe (k, c) values (2, 1)" << 271;
        QTest::newRow("update a computed column") << "update sfe set c = 1" << 271;
        QTest::newRow("a bad uniqueidentifier") << "insert sfe (k, g) values (2, 'nope')" << 8169;
        QTest::newRow("two rowversions") << "create table sfe2 (a int, r1 rowversion, r2 timestamp)" << 2738;
        QTest::newRow("not null on a virtual computed column") << "create table sfe3 (a int, c as a + 1 not null)" << 8183;
    }
    void serverFilledColumnErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        run("if object_id('sfe') is null create table sfe (k int primary key, g uniqueidentifier null, c as k + 1, rv rowversion) "
            "if not exists (select * from sfe) insert sfe (k) values (1)");
        const std::string before = scalar("select cast(k as nvarchar(5)) + ':' + cast(rv as nvarchar(30)) from sfe");
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QCOMPARE(scalar("select cast(k as nvarchar(5)) + ':' + cast(rv as nvarchar(30)) from sfe"), before);
    }

    // SQL Server orders uniqueidentifiers by their last group first.
    void uniqueidentifierOrder()
    {
        auto k = run("create table go1 (g uniqueidentifier) insert go1 values ('00000000-0000-0000-0000-000000000002'), "
                     "('00000000-0000-0000-0001-000000000001'), ('FF000000-0000-0000-0000-000000000001'), "
                     "('00000001-0000-0000-0000-000000000001') select left(g, 1) + substring(g, 8, 1) + substring(g, 23, 1) "
                     "+ right(g, 1) from go1 order by g");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        std::string order;
        for (const auto &row : k.results.at(0).rows) order += row.at(0).s + " ";
        QCOMPARE(order, std::string("F001 0101 0011 0002 "));
    }

    // AFTER triggers run once per statement with the statement's rows; the
    // statement's count and @@ROWCOUNT stay its own.
    void afterTriggers()
    {
        auto k = run("create table tt (id int identity(1,1) primary key, v nvarchar(20) null) "
                     "create table tt_audit (n int identity(100,1) primary key, id int null, note nvarchar(20) null)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("create trigger tr_tt on tt after insert, update, delete as\n"
                "insert into tt_audit (id, note) select id, 'new ' + v from inserted\n"
                "insert into tt_audit (id, note) select id, 'old ' + v from deleted\n"
                "insert into tt_audit (note) select 'fired ' + cast(count(*) as nvarchar(5)) from inserted");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert tt (v) values (N'a'), (N'b') select @@rowcount, scope_identity(), @@identity");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.dones.back().count, uint64_t(1));
        // The statement's own DONE carries 2; the trigger's inserts come as DONEINPROC.
        bool ownDone = false;
        for (const auto &d : k.dones) if (d.kind == DoneKind::Done && d.hasCount && d.count == 2) ownDone = true;
        QVERIFY(ownDone);
        QCOMPARE(k.text(0, 0, 0), std::string("2"));
        QCOMPARE(k.text(0, 0, 1), std::string("2"));   // SCOPE_IDENTITY(): the statement's table
        QCOMPARE(k.text(0, 0, 2), std::string("102"));  // @@IDENTITY: the trigger's last insert
        QCOMPARE(scalar("update tt set v = v + N'x' where id = 1 select @@rowcount"), std::string("1"));
        QCOMPARE(scalar("delete tt where id = 99 select @@rowcount"), std::string("0"));
        k = run("select note from tt_audit order by n");
        std::string notes;
        for (const auto &row : k.results.at(0).rows) notes += row.at(0).s + ";";
        QCOMPARE(notes, std::string("new a;new b;fired 2;new ax;old a;fired 1;fired 0;"));
    }

    void insteadOfTriggers()
    {
        run("create table io (k int primary key, v nvarchar(20) null) insert io values (1, N'a')");
        auto k = run("create trigger tr_io on io instead of insert as\nprint 'dropped'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert io values (2, N'b') select @@rowcount");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.messages.at(0).text, std::string("dropped"));
        QCOMPARE(k.text(0, 0, 0), std::string("1")); // the statement counts its row
        QCOMPARE(scalar("select count(*) from io"), std::string("1"));
        // A body that writes its own table does so without firing itself again,
        // and the AFTER trigger of the table runs for that write.
        run("create table io_log (v nvarchar(20))");
        k = run("alter trigger tr_io on io instead of insert as\ninsert io select k, upper(v) from inserted");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        run("create trigger tr_io_after on io after insert as\ninsert io_log select v from inserted");
        k = run("insert io values (3, N'c')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(scalar("select v from io where k = 3"), std::string("C"));
        QCOMPARE(scalar("select v from io_log"), std::string("C"));
    }

    void triggerRollbackAndErrors()
    {
        run("create table tr_r (k int primary key) create table tr_other (k int primary key) insert tr_other values (1)");
        auto k = run("create trigger tr_r_no on tr_r after insert as\n"
                     "if exists (select * from inserted where k < 0) begin raiserror('negative', 16, 1) rollback end");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert tr_r values (-1) select 'not reached'");
        QCOMPARE(k.errorNumbers(), (std::vector<int>{50000, 3609}));
        QVERIFY(k.results.empty());
        QCOMPARE(scalar("select count(*) from tr_r"), std::string("0"));
        QCOMPARE(scalar("select @@trancount"), std::string("0"));
        // Inside the caller's transaction: all of it is undone.
        k = run("begin tran insert tr_other values (2) insert tr_r values (-2)");
        QCOMPARE(k.errorNumbers(), (std::vector<int>{50000, 3609}));
        QCOMPARE(scalar("select count(*) from tr_other"), std::string("1"));
        QCOMPARE(scalar("select @@trancount"), std::string("0"));
        // A failing statement in a trigger undoes the triggering one and ends the batch.
        run("create trigger tr_r_dup on tr_r after insert as\ninsert tr_other values (1)");
        k = run("insert tr_r values (5) select 'not reached'");
        QCOMPARE(k.errorNumbers(), std::vector<int>{2627});
        QVERIFY(k.results.empty());
        QCOMPARE(scalar("select count(*) from tr_r"), std::string("0"));
        // OUTPUT without INTO is refused while a trigger is enabled, and allowed once none is.
        k = run("insert tr_r output inserted.k values (7)");
        QCOMPARE(k.errorNumbers(), std::vector<int>{334});
        QCOMPARE(scalar("select count(*) from tr_r"), std::string("0"));
        // The trigger is on INSERT only: a DELETE may carry a bare OUTPUT.
        k = run("delete tr_r output deleted.k where k = 0");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("disable trigger all on tr_r insert tr_r output inserted.k values (7)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("7"));
        QCOMPARE(scalar("select count(*) from sys.triggers where parent_id = object_id('tr_r') and is_disabled = 0"),
                 std::string("0"));
        run("enable trigger tr_r_no on tr_r");
        QCOMPARE(scalar("select name from sys.triggers where parent_id = object_id('tr_r') and is_disabled = 0"),
                 std::string("tr_r_no"));
    }

    // A trigger's write fires the triggers of other tables; two tables that
    // write each other stop at 32 levels.
    void nestedTriggers()
    {
        run("create table na (k int) create table nb (k int) create table nc (k int)");
        run("create trigger tr_na on na after insert as\ninsert nb select k + 1 from inserted");
        run("create trigger tr_nb on nb after insert as\ninsert nc select k + 1 from inserted");
        auto k = run("insert na values (1)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(scalar("select k from nc"), std::string("3"));
        run("create trigger tr_nc on nc after insert as\ninsert na select k + 1 from inserted");
        k = run("insert na values (10)");
        QCOMPARE(k.errorNumbers(), std::vector<int>{217});
        QCOMPARE(scalar("select count(*) from na"), std::string("1"));
    }

    void triggerCatalogue()
    {
        run("create table tc (k int)");
        auto k = run("create trigger tr_tc on tc instead of delete as\nselect 1");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(scalar("select cast(is_instead_of_trigger as varchar(1)) + type + cast(is_disabled as varchar(1)) from sys.triggers "
                        "where object_id = object_id('tr_tc', 'TR') and parent_id = object_id('tc')"),
                 std::string("1TR0"));
        QCOMPARE(scalar("select type_desc from sys.objects where name = 'tr_tc'"), std::string("SQL_TRIGGER"));
        k = run("drop trigger tr_tc select count(*) from sys.triggers where name = 'tr_tc'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("0"));
    }

    void triggerDdlErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("not first in the batch") << "select 1\ncreate trigger tr_x on tde after insert as print 1" << 111;
        QTest::newRow("no such table") << "create trigger tr_x on nowhere after insert as print 1" << 8197;
        QTest::newRow("name taken") << "create trigger tde on tde after insert as print 1" << 2714;
        QTest::newRow("drop a missing trigger") << "drop trigger tr_missing" << 3701;
        QTest::newRow("alter a missing trigger") << "alter trigger tr_missing on tde after insert as print 1" << 208;
        QTest::newRow("body with a syntax error") << "create trigger tr_x on tde after insert as select from" << 156;
    }
    void triggerDdlErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        run("if object_id('tde') is null create table tde (k int)");
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QCOMPARE(scalar("select count(*) from sys.triggers where name = 'tr_x'"), std::string("0"));
    }

    void views()
    {
        run("create table vb (k int primary key, v nvarchar(20) null, d datetime2(3) null) "
            "insert vb values (1, N'a', '2024-01-02 03:04:05.678'), (2, N'b', null)");
        auto k = run("create view vv as select k, v, d from vb where k < 10");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("select k, v, d from vv order by k");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.at(0).rows.size(), size_t(2));
        QCOMPARE(k.results.at(0).cols.at(2).type, SqlType::DateTime2);
        QCOMPARE(k.text(0, 0, 2), std::string("2024-01-02 03:04:05.678"));
        QCOMPARE(scalar("select o.type + '|' + s.name from sys.objects o join sys.schemas s on s.schema_id = o.schema_id "
                        "where o.object_id = object_id('vv', 'V')"),
                 std::string("V|dbo"));
        QCOMPARE(scalar("select count(*) from sys.views where name = 'vv'"), std::string("1"));
        QCOMPARE(scalar("select table_type from information_schema.tables where table_name = 'vv'"), std::string("VIEW"));
        QCOMPARE(scalar("select count(*) from information_schema.views where table_name = 'vv'"), std::string("1"));
        k = run("exec sp_tables @table_name = 'v%'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.at(0).rows.size(), size_t(2)); // the table and the view
        QCOMPARE(k.text(0, 1, 2) + " " + k.text(0, 1, 3), std::string("vv VIEW"));
        k = run("select c.name, t.name from sys.columns c join sys.types t on t.user_type_id = c.system_type_id "
                "where c.object_id = object_id('vv') order by c.column_id");
        QCOMPARE(k.results.at(0).rows.size(), size_t(3));
        QCOMPARE(k.text(0, 1, 0) + " " + k.text(0, 1, 1), std::string("v nvarchar"));
        // Named columns, and a changed definition.
        k = run("create or alter view vv (num, label) as select k, upper(v) from vb");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(scalar("select label from vv where num = 2"), std::string("B"));
        k = run("drop view vv select count(*) from sys.objects where name = 'vv'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("0"));
    }

    void viewErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("not first in the batch") << "select 1\ncreate view vx as select k from ve" << 111;
        QTest::newRow("insert through a view") << "insert vw values (5)" << 8180;
        QTest::newRow("update through a view") << "update vw set k = 5" << 8180;
        QTest::newRow("delete through a view") << "delete vw" << 8180;
        QTest::newRow("drop table on a view") << "drop table vw" << 3705;
        QTest::newRow("drop view on a table") << "drop view ve" << 3705;
        QTest::newRow("drop a missing view") << "drop view vx" << 3701;
        QTest::newRow("name taken") << "create view ve as select 1 as a" << 2714;
        QTest::newRow("unnamed column") << "create view vx as select k + 1 from ve" << 4511;
        QTest::newRow("column twice") << "create view vx as select k, k from ve" << 4506;
        QTest::newRow("fewer names than columns") << "create view vx (a) as select k, k + 1 as b from ve" << 4502;
        QTest::newRow("more names than columns") << "create view vx (a, b) as select k from ve" << 8159;
        QTest::newRow("no such table") << "create view vx as select k from nowhere" << 208;
    }
    void viewErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        run("if object_id('ve') is null create table ve (k int primary key) if not exists (select * from ve) insert ve values (1)");
        if (scalar("select count(*) from sys.views where name = 'vw'") == "0") run("create view vw as select k from ve");
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QCOMPARE(scalar("select count(*) from ve"), std::string("1"));
        QCOMPARE(scalar("select count(*) from sys.objects where name = 'vx'"), std::string("0"));
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

    // A database file written before computed columns and triggers existed
    // (layout 2) is brought up to date when the server opens it again. Runs
    // last: it restarts the engine.
    void olderFileUpgraded()
    {
        auto k = run("create table up (k int primary key, v nvarchar(10)) insert up values (1, N'a') "
                     "select physical_name from sys.master_files where database_id = db_id() and file_id = 1");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        const std::string path = k.text(0, 0, 0);
        stopEngine();
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ts::registerTextFunctions(db); // indexes on text columns name the server's collations
        char *msg = nullptr;
        const int rc = sqlite3_exec(db, "DROP VIEW __dv_sys_computed_columns; DROP VIEW __dv_sys_columns; DROP VIEW __dv_sys_triggers; "
                                        "DROP VIEW __dv_sys_types; DROP VIEW __dv_is_views; DROP TABLE __dv_triggers; "
                                        "ALTER TABLE __dv_columns DROP COLUMN computed; PRAGMA user_version = 2;",
                                    nullptr, nullptr, &msg);
        const std::string err = msg ? msg : "";
        sqlite3_free(msg);
        sqlite3_close(db);
        QVERIFY2(rc == SQLITE_OK, err.c_str());
        const std::string started = startEngine();
        QVERIFY2(started.empty(), started.c_str());
        m_session = open();
        QVERIFY(m_session);
        k = run("create table up2 (k int, c as k + 1)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("create view up_v as select k, v from up");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("create trigger tr_up on up after insert as\nupdate up set v = upper(v) where k in (select k from inserted)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert up values (2, N'b') insert up2 (k) values (4) "
                "select (select v from up_v where k = 2) + ':' + cast((select c from up2) as varchar(5)) + ':' "
                "+ cast((select count(*) from sys.columns c join sys.types t on t.user_type_id = c.system_type_id "
                "where c.object_id = object_id('up')) as varchar(5))");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(k.results.size() - 1, 0, 0), std::string("B:5:2"));
    }
};

QTEST_APPLESS_MAIN(EngineWritebackTest)
#include "tst_engine_writeback.moc"
