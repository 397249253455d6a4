// T-SQL semantics of expressions and text as the engine evaluates them.
#include "enginefixture.h"

#include <QtTest>

using namespace ts;

class EngineSqlTest : public QObject, EngineFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const std::string err = startEngine();
        QVERIFY2(err.empty(), err.c_str());
    }
    void cleanupTestCase() { stopEngine(); }

    void scalar_data()
    {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QString>("result");
        QTest::newRow("concat") << "'ab' + 'cd'" << "abcd";
        QTest::newRow("concat null") << "'ab' + null" << "NULL";
        QTest::newRow("int plus numeric text") << "1 + '2'" << "3";
        QTest::newRow("integer division") << "7 / 2" << "3";
        QTest::newRow("negative division truncates") << "-7 / 2" << "-3";
        QTest::newRow("modulo") << "-7 % 3" << "-1";
        QTest::newRow("float division") << "7.0 / 2" << "3.500000";
        QTest::newRow("precedence") << "2 + 3 * 4 - 1" << "13";
        QTest::newRow("unary minus") << "-(2 + 3) * 2" << "-10";
        QTest::newRow("nstring") << "N'中文' + N'字'" << "中文字";
        QTest::newRow("quote in string") << "'it''s'" << "it's";
        QTest::newRow("len trims trailing") << "len(N'ab  ')" << "2";
        QTest::newRow("len keeps leading") << "len('  ab')" << "4";
        QTest::newRow("substring") << "substring('abcdef', 2, 3)" << "bcd";
        QTest::newRow("cast int") << "cast(' 42 ' as int)" << "42";
        QTest::newRow("cast to varchar cuts") << "cast('abcdef' as varchar(3))" << "abc";
        QTest::newRow("convert") << "convert(int, '12')" << "12";
        QTest::newRow("cast datetime") << "cast('2020-2-3 4:05:06.7' as datetime)" << "2020-02-03 04:05:06.700";
        QTest::newRow("case simple") << "case 2 when 1 then 'one' when 2 then 'two' end" << "two";
        QTest::newRow("coalesce") << "coalesce(null, null, 'c')" << "c";
        QTest::newRow("nullif") << "nullif(1, 1)" << "NULL";
        QTest::newRow("comparison ci") << "case when 'ABC' like 'abc' then 1 else 0 end" << "1";
        QTest::newRow("not between") << "case when 5 not between 1 and 3 then 1 else 0 end" << "1";
        QTest::newRow("in list") << "case when 'b' in ('a', 'b') then 1 else 0 end" << "1";
        QTest::newRow("is not null") << "case when null is not null then 1 else 0 end" << "0";
        QTest::newRow("bitwise") << "6 & 3" << "2";
        QTest::newRow("xor") << "6 ^ 3" << "5";
        QTest::newRow("binary literal") << "datalength(0x0A0B0C)" << "3";
        QTest::newRow("line comment") << "1 -- + 1\n + 2" << "3";
        QTest::newRow("nested block comment") << "1 /* a /* b */ c */ + 4" << "5";
        QTest::newRow("avg of ints is int") << "(select avg(x) from (select 1 as x union all select 2) v)" << "1";
        QTest::newRow("db_name") << "db_name()" << "master";
        QTest::newRow("db_id") << "db_id('MODEL')" << "3";
    }
    void scalar()
    {
        QFETCH(QString, expr);
        QFETCH(QString, result);
        auto k = run("select " + expr);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), result);
    }

    void conversionErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("text to int") << "select cast('x1' as int)" << 245;
        QTest::newRow("decimal fraction to int") << "select cast('1.5' as int)" << 245;
        QTest::newRow("tinyint overflow") << "select cast(300 as tinyint)" << 8115;
        QTest::newRow("decimal overflow") << "select cast(12345 as decimal(4,1))" << 8115;
        QTest::newRow("bad date") << "select cast('2021-02-29' as datetime)" << 241;
        QTest::newRow("modulo zero") << "select 5 % 0" << 8134;
        QTest::newRow("float zero") << "select 1.5 / 0" << 8134;
    }
    void conversionErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QVERIFY(k.dones.back().error);
    }

    void identifiers()
    {
        auto k = run("create table [odd]]name] ([col one] int, \"quoted\" int) "
                     "insert [odd]]name] values (1, 2) select [col one] + quoted as [a b] from dbo.[odd]]name]");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.at(0).cols.at(0).name, std::string("a b"));
        QCOMPARE(k.text(0, 0, 0), std::string("3"));
        // A double-quoted name that does not exist is an error, not a string.
        k = run("select \"nocolumn\" from [odd]]name]");
        QCOMPARE(k.errorNumbers(), std::vector<int>{207});
    }

    void statementsWithoutSeparators()
    {
        auto k = run("declare @a int;set @a=1;;select @a select @a+1\r\nselect @a+2;");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.size(), size_t(3));
        QCOMPARE(k.text(2, 0, 0), std::string("3"));
        k = run("select 1 as a union select 1 union select 2 order by a");
        QCOMPARE(k.results.at(0).rows.size(), size_t(2));
    }
};

QTEST_APPLESS_MAIN(EngineSqlTest)
#include "tst_engine_sql.moc"
