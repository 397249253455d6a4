// The T-SQL a DBA types first: CTEs, windowed functions, table variables,
// SELECT INTO, OFFSET/FETCH, the catalogue procedures and informational DBCC.
#include "enginefixture.h"

#include <QFile>
#include <QtTest>

using namespace ts;

class EngineTsqlTest : public QObject, EngineFixture {
    Q_OBJECT

    // The rows of one result as "a,b;c,d".
    static QString rows(const RecordingSink &k, size_t result = 0)
    {
        QStringList out;
        for (size_t r = 0; r < k.results.at(result).rows.size(); ++r) {
            QStringList cells;
            for (size_t c = 0; c < k.results.at(result).cols.size(); ++c)
                cells << QString::fromStdString(k.text(result, r, c)).trimmed();
            out << cells.join(u',');
        }
        return out.join(u';');
    }
    static QString columns(const RecordingSink &k, size_t result)
    {
        QStringList out;
        for (const auto &c : k.results.at(result).cols) out << QString::fromStdString(c.name);
        return out.join(u',');
    }

private slots:
    void initTestCase()
    {
        const std::string err = startEngine();
        QVERIFY2(err.empty(), err.c_str());
        auto k = run("create table emp (id int primary key, name nvarchar(20) not null, boss int null, dept char(1) not null, pay int not null)\n"
                     "insert emp values (1, N'root', null, 'a', 50), (2, N'ann', 1, 'a', 30), (3, N'bob', 1, 'b', 30),"
                     " (4, N'cat', 2, 'b', 20), (5, N'dan', 4, 'a', 10)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
    }
    void cleanupTestCase() { stopEngine(); }

    void queries_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cte") << "with c as (select 1 as x) select * from c" << "1";
        QTest::newRow("cte column list") << "with c(a, b) as (select id, name from emp where id < 3) select b, a from c order by a"
                                         << "root,1;ann,2";
        QTest::newRow("cte chained") << "with a as (select id from emp where pay >= 30), b as (select id * 10 as t from a) "
                                        "select sum(t) from b" << "60";
        QTest::newRow("cte shadows a table") << "with emp as (select 7 as id) select id from emp" << "7";
        QTest::newRow("recursive counter") << "with n(i) as (select 1 union all select i + 1 from n where i < 5) select * from n"
                                           << "1;2;3;4;5";
        QTest::newRow("recursive hierarchy with alias")
            << "with chain as (select id, name, 0 as depth from emp where boss is null union all "
               "select e.id, e.name, c.depth + 1 from emp e join chain as c on e.boss = c.id) "
               "select name, depth from chain order by depth, name"
            << "root,0;ann,1;bob,1;cat,2;dan,3";
        QTest::newRow("maxrecursion 0 lifts the limit")
            << "with n(i) as (select 1 union all select i + 1 from n where i < 300) select count(*) from n option (maxrecursion 0)"
            << "300";
        QTest::newRow("exactly 100 recursions pass")
            << "with n(i) as (select 1 union all select i + 1 from n where i < 101) select max(i) from n" << "101";
        QTest::newRow("cte feeds insert")
            << "declare @t table (id int); with c as (select id from emp where dept = 'b') insert @t select id from c; "
               "select id from @t order by id" << "3;4";
        QTest::newRow("row_number by partition")
            << "select name, row_number() over (partition by dept order by pay desc, name) from emp order by dept, 2"
            << "root,1;ann,2;dan,3;bob,1;cat,2";
        QTest::newRow("rank and dense_rank with ties")
            << "select name, rank() over (order by pay desc), dense_rank() over (order by pay desc) from emp order by pay desc, name"
            << "root,1,1;ann,2,2;bob,2,2;cat,4,3;dan,5,4";
        QTest::newRow("aggregate over partition")
            << "select name, sum(pay) over (partition by dept), count(*) over () from emp where id in (2, 3, 4) order by id"
            << "ann,30,3;bob,50,3;cat,50,3";
        QTest::newRow("int average over a frame truncates")
            << "select id, avg(pay) over (order by id rows between 1 preceding and current row) from emp order by id"
            << "1,50;2,40;3,30;4,25;5,15";
        QTest::newRow("lag and lead") << "select id, lag(id) over (order by id), lead(id, 2, 0) over (order by id) from emp order by id"
                                      << "1,NULL,3;2,1,4;3,2,5;4,3,0;5,4,0";
        QTest::newRow("ntile") << "select id, ntile(2) over (order by id) from emp order by id" << "1,1;2,1;3,1;4,2;5,2";
        QTest::newRow("window in order by") << "select name from emp order by row_number() over (order by pay, name) desc"
                                            << "root;bob;ann;cat;dan";
        QTest::newRow("offset fetch") << "select id from emp order by id offset 1 rows fetch next 2 rows only" << "2;3";
        QTest::newRow("offset only") << "select id from emp order by id desc offset 3 rows" << "2;1";
        QTest::newRow("top in a cte allows order by")
            << "with c as (select top 2 id from emp order by pay) select id from c order by id" << "4;5";
        QTest::newRow("table variable") << "declare @t table (a int primary key, b nvarchar(10) default N'x'); "
                                           "insert into @t (a) values (2), (1); update @t set b = N'y' where a = 2; "
                                           "delete from @t where a = 3; select a, b from @t order by a"
                                        << "1,x;2,y";
        QTest::newRow("table variable identity and join")
            << "declare @t table (n int identity(10, 1), id int); insert @t (id) select id from emp where pay = 30; "
               "select t.n, e.name from @t as t join emp e on e.id = t.id order by t.n"
            << "10,ann;11,bob";
        QTest::newRow("two table variables") << "declare @a table (x int); declare @b table (x int); insert @a values (1); "
                                                "insert @b select x + 1 from @a; select x from @b" << "2";
    }
    void queries()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        auto k = run(sql);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QVERIFY(!k.results.empty());
        QCOMPARE(rows(k, k.results.size() - 1), expected);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("ranking without over") << "select row_number() from emp" << 10753;
        QTest::newRow("ranking without order") << "select rank() over (partition by dept) from emp" << 4112;
        QTest::newRow("window in where") << "select id from emp where row_number() over (order by id) = 1" << 4108;
        QTest::newRow("window in group by") << "select count(*) from emp group by sum(pay) over ()" << 4108;
        QTest::newRow("distinct with over") << "select count(distinct dept) over () from emp" << 10759;
        QTest::newRow("order by in a cte") << "with c as (select id from emp order by id) select * from c" << 1033;
        QTest::newRow("order by in a derived table") << "select * from (select id from emp order by id) d" << 1033;
        QTest::newRow("recursion limit") << "with n(i) as (select 1 union all select i + 1 from n) select * from n" << 530;
        QTest::newRow("maxrecursion option")
            << "with n(i) as (select 1 union all select i + 1 from n where i < 20) select * from n option (maxrecursion 10)" << 530;
        QTest::newRow("maxrecursion too big") << "with n(i) as (select 1) select * from n option (maxrecursion 40000)" << 310;
        QTest::newRow("recursive union without all")
            << "with n(i) as (select 1 union select i + 1 from n where i < 3) select * from n" << 252;
        QTest::newRow("recursive without anchor") << "with n(i) as (select i from n) select * from n" << 246;
        QTest::newRow("recursive reference in subquery")
            << "with n(i) as (select 1 union all select 2 where 1 in (select i from n)) select * from n" << 465;
        QTest::newRow("cte after unterminated statement") << "select 1\nwith c as (select 1 as x) select * from c" << 319;
        QTest::newRow("cte with more columns") << "with c(a) as (select 1, 2) select * from c" << 8158;
        QTest::newRow("cte with fewer columns") << "with c(a, b) as (select 1) select * from c" << 8159;
        QTest::newRow("cte column without a name") << "with c as (select 1) select * from c" << 8155;
        QTest::newRow("undeclared table variable") << "select * from @nope" << 1087;
        QTest::newRow("table variable declared twice") << "declare @t table (a int); declare @t table (b int)" << 134;
        QTest::newRow("table variable as a scalar") << "declare @t table (a int); select @t" << 137;
        QTest::newRow("table variable not null") << "declare @t table (a int not null); insert @t values (null)" << 515;
        QTest::newRow("table variable check") << "declare @t table (a int check (a > 0)); insert @t values (0)" << 547;
        QTest::newRow("select into an existing table") << "select id into emp from emp" << 2714;
        QTest::newRow("select into an unnamed column") << "select id + 1 into into_unnamed from emp" << 1038;
        QTest::newRow("select into a variable") << "declare @t table (a int); select 1 as a into @t" << 102;
        QTest::newRow("top with offset") << "select top 2 id from emp order by id offset 1 rows" << 10741;
        QTest::newRow("negative offset") << "select id from emp order by id offset -1 rows" << 10742;
        QTest::newRow("fetch of no rows") << "select id from emp order by id offset 0 rows fetch next 0 rows only" << 10744;
        QTest::newRow("offset without order by") << "select id from emp offset 1 rows" << 102;
        QTest::newRow("sp_help of a missing table") << "exec sp_help 'nosuch'" << 15009;
        QTest::newRow("sp_spaceused of a missing table") << "exec sp_spaceused 'nosuch'" << 15009;
        QTest::newRow("sp_helpdb of a missing database") << "exec sp_helpdb 'nosuch'" << 15010;
        QTest::newRow("sp_columns without a table") << "exec sp_columns" << 201;
        QTest::newRow("sp_who of an unknown login") << "exec sp_who 'nobody_here'" << 15007;
        QTest::newRow("sp_tables of another database") << "exec sp_tables @table_qualifier = 'model'" << 15250;
        QTest::newRow("too many arguments") << "exec sp_helpdb 'master', 'x'" << 8144;
        QTest::newRow("unknown parameter") << "exec sp_help @name = 'emp'" << 8145;
        QTest::newRow("checkdb of a missing database") << "dbcc checkdb ('nosuch')" << 2520;
        QTest::newRow("sqlperf of an unknown option") << "dbcc sqlperf (nothing)" << 2526;
    }
    void errors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QVERIFY(k.dones.back().error);
    }

    // Rows before the recursion limit arrive, then the error ends the statement.
    void recursionLimitRows()
    {
        auto k = run("with n(i) as (select 1 union all select i + 1 from n) select i from n");
        QCOMPARE(k.errorNumbers(), std::vector<int>{530});
        QCOMPARE(k.results.at(0).rows.size(), size_t(101));
        QCOMPARE(k.text(0, 100, 0), std::string("101"));
    }

    // Variables and table variables belong to their batch, as on SQL Server.
    void batchScope()
    {
        auto k = run("declare @x int = 5; declare @t table (a int); insert @t values (@x); select a from @t");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(rows(k), QString("5"));
        k = run("select @x");
        QCOMPARE(k.errorNumbers(), std::vector<int>{137});
        k = run("select * from @t");
        QCOMPARE(k.errorNumbers(), std::vector<int>{1087});
        // The same names can be declared again by the next batch.
        k = run("declare @x int = 6; declare @t table (a int); insert @t values (@x); select a from @t");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(rows(k), QString("6"));
        // Dynamic SQL runs in a scope of its own.
        k = run("declare @y int = 1; exec ('select @y')");
        QCOMPARE(k.errorNumbers(), std::vector<int>{137});
        k = run("declare @y int = 1; exec sp_executesql N'select @y'");
        QCOMPARE(k.errorNumbers(), std::vector<int>{137});
        k = run("declare @t table (a int); insert @t values (1); exec ('declare @t table (b int); insert @t values (2); select b from @t'); "
                "select a from @t");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(rows(k, 0), QString("2"));
        QCOMPARE(rows(k, 1), QString("1"));
        k = run("declare @t table (a int); exec sp_executesql N'select * from @t'");
        QCOMPARE(k.errorNumbers(), std::vector<int>{1087});
    }

    void selectInto()
    {
        auto k = run("select id, name, pay * 2 as double_pay into emp_copy from emp where dept = 'a'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.dones.back().count, uint64_t(3));
        k = run("select name, double_pay from emp_copy order by id");
        QCOMPARE(rows(k), QString("root,100;ann,60;dan,20"));
        // The new table carries the source's column types.
        QCOMPARE(k.results.at(0).cols.at(0).type, SqlType::NVarChar);
        QCOMPARE(k.results.at(0).cols.at(0).length, 20);
        QCOMPARE(k.results.at(0).cols.at(0).nullable, false);
        k = run("with c as (select id from emp where id > 3) select id into cte_copy from c; select count(*) from cte_copy");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(rows(k), QString("2"));
        // A failed SELECT INTO leaves no table behind.
        k = run("select cast(name as int) as n into bad_copy from emp");
        QCOMPARE(k.errorNumbers(), std::vector<int>{245});
        k = run("select * from bad_copy");
        QCOMPARE(k.errorNumbers(), std::vector<int>{208});
    }

    // The type a client sees for each built-in function's result.
    void builtinResultTypes_data()
    {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("value");
        const int noScale = -1;
        QTest::newRow("datediff is int") << "datediff(day, '2024-01-01', '2024-03-01')" << int(SqlType::Int) << noScale << "60";
        QTest::newRow("dateadd of a string is datetime")
            << "dateadd(day, 1, '2024-02-28')" << int(SqlType::DateTime) << noScale << "2024-02-29 00:00:00.000";
        QTest::newRow("dateadd of a date is a date")
            << "dateadd(month, 1, cast('2024-01-31' as date))" << int(SqlType::Date) << noScale << "2024-02-29";
        QTest::newRow("dateadd of a datetime2 keeps its scale")
            << "dateadd(ms, 1, cast('2024-01-31 10:00:00.12345' as datetime2(5)))" << int(SqlType::DateTime2) << 5
            << "2024-01-31 10:00:00.12445";
        QTest::newRow("dateadd of a time wraps") << "dateadd(hour, 3, cast('22:30' as time(0)))" << int(SqlType::Time) << 0 << "01:30:00";
        QTest::newRow("datepart is int") << "datepart(dw, '2024-06-09')" << int(SqlType::Int) << noScale << "1";
        QTest::newRow("datename is nvarchar") << "datename(weekday, '2024-06-10')" << int(SqlType::NVarChar) << noScale << "Monday";
        QTest::newRow("eomonth is a date") << "eomonth('2024-02-10 13:00')" << int(SqlType::Date) << noScale << "2024-02-29";
        QTest::newRow("format is nvarchar") << "format(1234.5, 'N2')" << int(SqlType::NVarChar) << noScale << "1,234.50";
        QTest::newRow("patindex is int") << "patindex('%b%', 'abc')" << int(SqlType::Int) << noScale << "2";
        QTest::newRow("try_cast has the target type") << "try_cast('2024-02-29' as date)" << int(SqlType::Date) << noScale << "2024-02-29";
        QTest::newRow("try_convert that fails is a typed NULL")
            << "try_convert(datetime, 'never')" << int(SqlType::DateTime) << noScale << "NULL";
    }
    void builtinResultTypes()
    {
        QFETCH(QString, expr);
        QFETCH(int, type);
        QFETCH(int, scale);
        QFETCH(QString, value);
        // Alone, with an alias, and as the first column of two.
        for (const QString &sql : {"select " + expr, "select " + expr + " as r", "select " + expr + " r, 1 as other"}) {
            auto k = run(sql);
            QVERIFY2(!k.anyError(), k.allMessages().c_str());
            QCOMPARE(int(k.results.at(0).cols.at(0).type), type);
            if (scale >= 0) QCOMPARE(k.results.at(0).cols.at(0).scale, scale);
            QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), value);
        }
        // Inside a larger expression the call's type no longer describes the column.
        auto k = run("select isnull(" + expr + ", null)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), value);
    }

    // FORMAT's .NET patterns: numbers through ICU, dates read here.
    void format_data()
    {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QString>("expected");
        QTest::newRow("N0 groups and rounds") << "format(1234.5, 'N0')" << "1,235";
        QTest::newRow("F3 without groups") << "format(1234.5678, 'F3')" << "1234.568";
        QTest::newRow("half away from zero") << "format(0.125, '0.00')" << "0.13";
        QTest::newRow("negative half away from zero") << "format(-0.125, '0.00')" << "-0.13";
        QTest::newRow("leading zeros") << "format(12, '000')" << "012";
        QTest::newRow("percent pattern") << "format(0.5, '0%')" << "50%";
        QTest::newRow("lower-case hex with width") << "format(255, 'x4')" << "00ff";
        QTest::newRow("hex of a negative int") << "format(-1, 'X')" << "FFFFFFFF";
        QTest::newRow("D of a negative") << "format(-42, 'D4')" << "-0042";
        QTest::newRow("D of a fraction is refused") << "isnull(format(1.5, 'D'), 'null')" << "null";
        QTest::newRow("E with a negative exponent") << "format(-0.000123, 'E2')" << "-1.23E-004";
        QTest::newRow("German groups and comma") << "format(1234567.891, '#,##0.00', 'de-DE')" << "1.234.567,89";
        QTest::newRow("zh-CN numbers") << "format(1234.5, 'N2', 'zh-CN')" << "1,234.50";
        QTest::newRow("12-hour clock without padding") << "format(cast('2024-01-05 00:07:09' as datetime), 'h:m:s tt')" << "12:7:9 AM";
        QTest::newRow("noon is PM") << "format(cast('2024-01-05 12:00' as datetime), 'hh t')" << "12 P";
        QTest::newRow("F digits trim zeros") << "format(cast('2024-01-05 13:07:09.5' as datetime2), 'HH:mm:ss.FFF')" << "13:07:09.5";
        QTest::newRow("F digits take the dot when zero") << "format(cast('2024-01-05 13:07:09' as datetime2), 'HH:mm:ss.FFF')" << "13:07:09";
        QTest::newRow("five-digit year") << "format(cast('2024-01-05' as date), 'yyyyy')" << "02024";
        QTest::newRow("one-digit year needs %") << "format(cast('2005-01-05' as date), '%y')" << "5";
        QTest::newRow("y alone is the year-month pattern") << "format(cast('2005-01-05' as date), 'y')" << "January 2005";
        QTest::newRow("quoted and escaped literals") << "format(cast('2024-01-05' as date), '''Year'' yyyy \\Q')" << "Year 2024 Q";
        QTest::newRow("offset") << "format(cast('2024-01-05 10:00 +05:30' as datetimeoffset), 'yyyy-MM-dd HH:mm zzz')"
                                << "2024-01-05 10:00 +05:30";
        QTest::newRow("month and day pattern") << "format(cast('2024-01-05' as date), 'M')" << "January 5";
        QTest::newRow("sortable pattern") << "format(cast('2024-01-05 13:07:09' as datetime), 's')" << "2024-01-05T13:07:09";
        QTest::newRow("zh-CN weekday") << "format(cast('2024-01-05' as date), 'dddd', 'zh-CN')" << "星期五";
        QTest::newRow("zh-CN short month") << "format(cast('2024-01-05' as date), 'MMM', 'zh-CN')" << "1月";
        QTest::newRow("zh-CN afternoon") << "format(cast('2024-01-05 13:00' as datetime), 'tt h:mm', 'zh-CN')" << "下午 1:00";
        QTest::newRow("zh-CN short time") << "format(cast('2024-01-05 13:07' as datetime), 't', 'zh-CN')" << "13:07";
    }
    void format()
    {
        QFETCH(QString, expr);
        QFETCH(QString, expected);
        auto k = run("select " + expr);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), expected);
    }

    // Date arithmetic at month ends, leap days, before 1970 and at 100 ns.
    void dateValues_data()
    {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QString>("expected");
        QTest::newRow("back from March 31") << "dateadd(month, -1, '2024-03-31')" << "2024-02-29 00:00:00.000";
        QTest::newRow("back from a leap day") << "dateadd(year, -1, '2024-02-29')" << "2023-02-28 00:00:00.000";
        QTest::newRow("microseconds on datetime2")
            << "dateadd(mcs, 1, cast('2024-01-01' as datetime2(7)))" << "2024-01-01 00:00:00.0000010";
        QTest::newRow("offset kept") << "dateadd(minute, -1, cast('2024-01-01 00:00 +02:00' as datetimeoffset(0)))"
                                     << "2023-12-31 23:59:00 +02:00";
        QTest::newRow("days across midnight") << "datediff(day, '2024-01-01 23:59', '2024-01-02 00:01')" << "1";
        QTest::newRow("hours across midnight") << "datediff(hour, '2024-01-01 23:59', '2024-01-02 00:01')" << "1";
        QTest::newRow("minutes across midnight") << "datediff(minute, '2024-01-01 23:59', '2024-01-02 00:01')" << "2";
        QTest::newRow("same year") << "datediff(year, '2024-12-31', '2024-01-01')" << "0";
        QTest::newRow("quarter boundary") << "datediff(quarter, '2024-03-31', '2024-04-01')" << "1";
        QTest::newRow("a Sunday backwards") << "datediff(week, '2024-06-09', '2024-06-08')" << "-1";
        QTest::newRow("before 1970") << "datediff(day, '1899-12-31', '1900-01-01')" << "1";
        QTest::newRow("hours before 1970") << "datediff(hour, '1969-12-31 23:30', '1970-01-01 00:10')" << "1";
        QTest::newRow("last day of a year") << "datepart(dy, '2023-12-31')" << "365";
        QTest::newRow("week 53 of a leap year") << "datepart(week, '2024-12-31')" << "53";
        QTest::newRow("quarter name is a number") << "datename(quarter, '2024-05-01')" << "2";
        QTest::newRow("year of a time literal") << "datepart(year, '10:00')" << "1900";
        QTest::newRow("nanoseconds of a literal") << "datepart(nanosecond, '00:00:01.1234567')" << "123456700";
        QTest::newRow("eomonth back a year") << "eomonth('2024-03-15', -13)" << "2023-02-28";
    }
    void dateValues()
    {
        QFETCH(QString, expr);
        QFETCH(QString, expected);
        auto k = run("select " + expr);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), expected);
    }

    // What the new functions refuse, with SQL Server's numbers.
    void builtinErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("unknown datepart") << "select dateadd(fortnight, 1, '2024-01-01')" << 155;
        QTest::newRow("datepart as a string") << "select datepart('year', '2024-01-01')" << 102;
        QTest::newRow("iso_week is no dateadd option") << "select dateadd(iso_week, 1, '2024-01-01')" << 155;
        QTest::newRow("tzoffset is no datediff option") << "select datediff(tz, '2024-01-01', '2024-01-02')" << 155;
        QTest::newRow("dateadd with two arguments") << "select dateadd(day, 1)" << 174;
        QTest::newRow("datediff with two arguments") << "select datediff(day, '2024-01-01')" << 174;
        QTest::newRow("eomonth with three arguments") << "select eomonth('2024-01-01', 1, 2)" << 174;
        QTest::newRow("format with one argument") << "select format(1)" << 174;
        QTest::newRow("iif with two arguments") << "select iif(1 = 1, 2)" << 174;
        QTest::newRow("choose with only an index") << "select choose(1)" << 174;
        QTest::newRow("string_agg without separator") << "select string_agg(name) from emp" << 174;
        QTest::newRow("hour of a date") << "select datepart(hour, cast('2024-01-01' as date))" << 9810;
        QTest::newRow("month of a time") << "select dateadd(month, 1, cast('10:00' as time))" << 9810;
        QTest::newRow("dateadd past 9999") << "select dateadd(year, 1, '9999-06-01')" << 517;
        QTest::newRow("datetime before 1753") << "select dateadd(day, -1, '1753-01-01')" << 517;
        QTest::newRow("dateadd number beyond int") << "select dateadd(day, 3000000000, '2024-01-01')" << 8115;
        QTest::newRow("seconds over a century") << "select datediff(ss, '1900-01-01', '2024-01-01')" << 535;
        QTest::newRow("not a date") << "select datediff(day, 'soon', '2024-01-01')" << 241;
        QTest::newRow("eomonth of a time") << "select eomonth(cast('10:00' as time))" << 8116;
        QTest::newRow("format of text") << "select format('abc', 'N2')" << 8116;
        QTest::newRow("unknown culture") << "select format(1, 'N', 'xx-nowhere')" << 9818;
        QTest::newRow("try_cast of a number to date") << "select try_cast(5 as date)" << 529;
        QTest::newRow("try_convert of a number to uniqueidentifier") << "select try_convert(uniqueidentifier, 1)" << 529;
        QTest::newRow("try_cast to an unknown type") << "select try_cast(1 as nosuchtype)" << 2715;
    }
    void builtinErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
    }

    // Functions over the rows of a table, grouped and ordered.
    void builtinOverRows_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("string_agg per group, ordered by another column")
            << "select dept, string_agg(name, '/') within group (order by pay desc, name) from emp group by dept order by dept"
            << "a,root/ann/dan;b,bob/cat";
        QTest::newRow("string_agg of numbers, descending")
            << "select string_agg(id, ',') within group (order by id desc) from emp" << "5,4,3,2,1";
        QTest::newRow("string_agg ignores NULL and its separator")
            << "select string_agg(cast(boss as varchar(5)), '+') within group (order by id) from emp" << "1+1+2+4";
        QTest::newRow("string_agg of no rows is NULL") << "select string_agg(name, ',') from emp where id > 99" << "NULL";
        QTest::newRow("iif in a sum") << "select sum(iif(dept = 'a', pay, 0)), sum(iif(dept = 'b', pay, 0)) from emp" << "90,50";
        QTest::newRow("choose by a column") << "select choose(id, 'one', 'two') from emp where id <= 3 order by id" << "one;two;NULL";
        QTest::newRow("patindex in where") << "select name from emp where patindex('%[ao]%', name) = 2 order by id" << "root;bob;cat;dan";
        QTest::newRow("patindex without a leading %") << "select patindex('a%', name), patindex('_n_', name) from emp where id = 2" << "1,1";
        QTest::newRow("format of a column") << "select format(pay * 1000, 'N0') from emp where id = 1" << "50,000";
        QTest::newRow("datediff in group by")
            << "select datediff(month, '2024-01-15', dateadd(month, pay / 10, '2024-01-01')) m, count(*) from emp "
               "group by datediff(month, '2024-01-15', dateadd(month, pay / 10, '2024-01-01')) order by m"
            << "1,1;2,1;3,2;5,1";
        QTest::newRow("try_cast over text that is and is not a number")
            << "select try_cast(x as int) from (select '12' as x union all select 'n/a' union all select ' 3') v order by 1"
            << "NULL;3;12";
    }
    void builtinOverRows()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        auto k = run(sql);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(rows(k), expected);
    }

    // A DATEADD whose first value is NULL still reads the later dates as dates.
    void dateaddAfterNull()
    {
        auto k = run("select dateadd(day, 1, d) from (select cast(null as date) as d union all "
                     "select cast('2024-01-31' as date)) v");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.results.at(0).cols.at(0).type, SqlType::DateTime2);
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), QString("NULL"));
        QCOMPARE(QString::fromStdString(k.text(0, 1, 0)), QString("2024-02-01 00:00:00.0000000"));
    }

    // SELECT INTO #t makes a table of this session that later statements of the batch read.
    void selectIntoTempTable()
    {
        auto k = run("select id, name, dateadd(day, id, '2024-01-01') as due into #mine from emp where dept = 'b'; "
                     "select name, due from #mine order by id");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.dones.front().count, uint64_t(2));
        QCOMPARE(rows(k), QString("bob,2024-01-04 00:00:00.000;cat,2024-01-05 00:00:00.000"));
        QCOMPARE(k.results.at(0).cols.at(1).type, SqlType::DateTime);
        k = run("select count(*) from #mine");
        QCOMPARE(rows(k), QString("2"));
        // Statements before a missing table keep their effect; the missing one is 208 when it runs.
        k = run("select 1 as a into #first; select a from #nothing_here; select 'not reached'");
        QCOMPARE(k.errorNumbers(), std::vector<int>{208});
        k = run("select a from #first");
        QCOMPARE(rows(k), QString("1"));
    }

    // Rows of a CTE, window or table variable cannot be tied to a table for write-back.
    void derivedResultsHaveNoBaseTable_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("base");
        QTest::newRow("plain table") << "select id, name from emp" << true;
        QTest::newRow("cte") << "with c as (select id, name from emp) select id, name from c" << false;
        QTest::newRow("window") << "select id, name, row_number() over (order by id) as rn from emp" << false;
        QTest::newRow("table variable") << "declare @t table (id int primary key, name nvarchar(5)); insert @t values (1, 'a'); "
                                           "select id, name from @t" << false;
    }
    void derivedResultsHaveNoBaseTable()
    {
        QFETCH(QString, sql);
        QFETCH(bool, base);
        // Base tables are reported only to a client that asks for browse information.
        auto k = run("set no_browsetable on;\n" + sql);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        const auto &cols = k.results.back().cols;
        QCOMPARE(cols.at(1).baseTable.empty(), !base);
        QCOMPARE(cols.at(0).key, base);
    }

    void procedureColumns_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sp_who") << "exec sp_who" << 0 << "spid,ecid,status,loginame,hostname,blk,dbname,cmd,request_id";
        QTest::newRow("sp_who2") << "exec sp_who2" << 0
                                 << "SPID,Status,Login,HostName,BlkBy,DBName,Command,CPUTime,DiskIO,LastBatch,ProgramName,SPID,REQUESTID";
        QTest::newRow("sp_helpdb") << "exec sp_helpdb" << 0 << "name,db_size,owner,dbid,created,status,compatibility_level";
        QTest::newRow("sp_helpdb files") << "exec sp_helpdb 'master'" << 1 << "name,fileid,filename,filegroup,size,maxsize,growth,usage";
        QTest::newRow("sp_databases") << "exec sp_databases" << 0 << "DATABASE_NAME,DATABASE_SIZE,REMARKS";
        QTest::newRow("sp_tables") << "exec sp_tables" << 0 << "TABLE_QUALIFIER,TABLE_OWNER,TABLE_NAME,TABLE_TYPE,REMARKS";
        QTest::newRow("sp_columns") << "exec sp_columns emp" << 0
                                    << "TABLE_QUALIFIER,TABLE_OWNER,TABLE_NAME,COLUMN_NAME,DATA_TYPE,TYPE_NAME,PRECISION,LENGTH,"
                                       "SCALE,RADIX,NULLABLE,REMARKS,COLUMN_DEF,SQL_DATA_TYPE,SQL_DATETIME_SUB,"
                                       "CHAR_OCTET_LENGTH,ORDINAL_POSITION,IS_NULLABLE,SS_DATA_TYPE";
        QTest::newRow("sp_help table") << "exec sp_help 'dbo.emp'" << 0 << "Name,Owner,Type,Created_datetime";
        QTest::newRow("sp_help columns") << "exec sp_help 'emp'" << 1
                                         << "Column_name,Type,Computed,Length,Prec,Scale,Nullable,TrimTrailingBlanks,"
                                            "FixedLenNullInSource,Collation";
        QTest::newRow("sp_help identity") << "exec sp_help 'emp'" << 2 << "Identity,Seed,Increment,Not For Replication";
        QTest::newRow("sp_help indexes") << "exec sp_help 'emp'" << 5 << "index_name,index_description,index_keys";
        QTest::newRow("sp_spaceused") << "exec sp_spaceused" << 0 << "database_name,database_size,unallocated space";
        QTest::newRow("sp_spaceused usage") << "exec sp_spaceused" << 1 << "reserved,data,index_size,unused";
        QTest::newRow("sp_spaceused table") << "exec sp_spaceused 'emp'" << 0 << "name,rows,reserved,data,index_size,unused";
        QTest::newRow("sqlperf") << "dbcc sqlperf(logspace)" << 0 << "Database Name,Log Size (MB),Log Space Used (%),Status";
    }
    void procedureColumns()
    {
        QFETCH(QString, sql);
        QFETCH(int, result);
        QFETCH(QString, expected);
        auto k = run(sql);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QVERIFY(k.results.size() > size_t(result));
        QCOMPARE(columns(k, size_t(result)), expected);
    }

    void procedureRows()
    {
        auto k = run("exec sp_columns @table_name = 'emp', @column_name = 'n%'");
        QCOMPARE(rows(k).section(u',', 3, 7), QString("name,-9,nvarchar,20,40"));
        k = run("exec sp_tables @table_name = 'em_', @table_type = \"'TABLE'\"");
        QCOMPARE(rows(k), QString("master,dbo,emp,TABLE,NULL"));
        k = run("exec sp_help 'emp'");
        QCOMPARE(rows(k, 1).section(u';', 1, 1), QString("name,nvarchar,no,40,,,no,no,no,SQL_Latin1_General_CP1_CI_AS"));
        QCOMPARE(rows(k, 5).section(u',', -1), QString("id"));
        k = run("exec sp_spaceused 'emp'");
        QCOMPARE(rows(k).section(u',', 0, 1), QString("emp,5"));
        k = run("exec sp_helpdb 'model'");
        QCOMPARE(rows(k, 0).section(u',', 0, 0), QString("model"));
        QCOMPARE(rows(k, 1).section(u';', 1).section(u',', 7), QString("log only"));
        k = run("exec sp_who @loginame = 'active'");
        QCOMPARE(k.results.at(0).rows.size(), size_t(1));
        QCOMPARE(k.text(0, 0, 0), std::string("60"));
        QCOMPARE(k.statuses, std::vector<int>{0});
    }

    void checkdb()
    {
        auto k = run("dbcc checkdb");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        std::vector<int> numbers;
        for (const auto &m : k.messages) numbers.push_back(m.number);
        QVERIFY(numbers.size() >= 4);
        QCOMPARE(numbers.front(), 2536);
        QCOMPARE(numbers[numbers.size() - 2], 8989);
        QCOMPARE(numbers.back(), 2528);
        QCOMPARE(k.messages[numbers.size() - 2].text,
                 std::string("CHECKDB found 0 allocation errors and 0 consistency errors in database 'master'."));
        bool empRows = false;
        for (const auto &m : k.messages)
            empRows = empRows || m.text == "There are 5 rows in 1 pages for object \"emp\".";
        QVERIFY(empRows);
        k = run("dbcc checkdb (model) with no_infomsgs");
        QVERIFY(k.messages.empty());
        QVERIFY(!k.dones.back().error);
    }

    // CHECKDB really reads the file: a damaged database reports consistency errors.
    void checkdbFindsDamage()
    {
        auto k = run("create database dmg on (name = dmg, filename = '" + m_tmp.path() + "/dmg.mdf') "
                     "log on (name = dmg_log, filename = '" + m_tmp.path() + "/dmg_log.ldf')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("use dmg; create table big (id int primary key, pad nvarchar(400)); "
                "with n(i) as (select 1 union all select i + 1 from n where i < 400) "
                "insert big select i, replicate_me from (select i, N'" + QString(300, u'x') + "' as replicate_me from n) s "
                "option (maxrecursion 0); use master");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QFile f(m_tmp.path() + "/dmg.mdf");
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.size() > 40 * 4096);
        f.seek(19 * 4096); // the b-tree header of page 20
        f.write(QByteArray(64, '\x5a'));
        f.close();
        k = run("dbcc checkdb ('dmg')");
        QVERIFY(k.anyError());
        QCOMPARE(k.errorNumbers().front(), 8989);
        QVERIFY(k.dones.back().error);
    }

    void sqlperf()
    {
        auto k = run("dbcc sqlperf(logspace)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QVERIFY(k.results.at(0).rows.size() >= 4);
        QCOMPARE(k.text(0, 0, 0), std::string("master"));
        QVERIFY(k.results.at(0).rows.at(0).at(1).d > 0);
        QCOMPARE(k.messages.back().number, 2528);
    }
};

QTEST_GUILESS_MAIN(EngineTsqlTest)
#include "tst_engine_tsql.moc"
