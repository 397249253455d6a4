// Text compared as SQL Server compares it under the server collation
// (Chinese_PRC_CI_AS): case-insensitive, accent-sensitive, pinyin order,
// trailing spaces ignored except by LIKE; keys, grouping and order follow it;
// char(n) values are held blank-padded.
#include "enginefixture.h"
#include "base/textcollation.h"

#include <QtTest>

using namespace ts;

namespace {

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

} // namespace

class EngineCollationTest : public QObject, EngineFixture {
    Q_OBJECT

    // The rows of a one-column result, joined by "|".
    QString column(const QString &sql)
    {
        auto k = run(sql);
        if (k.anyError() || k.results.empty()) return "error: " + QString::fromStdString(k.allMessages());
        QStringList out;
        for (size_t r = 0; r < k.results.back().rows.size(); ++r)
            out << QString::fromStdString(k.text(k.results.size() - 1, r, 0));
        return out.join('|');
    }

private slots:
    void initTestCase()
    {
        const std::string err = startEngine();
        QVERIFY2(err.empty(), err.c_str());
    }
    void cleanupTestCase() { stopEngine(); }

    void compare_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        const QString zh = "Chinese_PRC_CI_AS";
        QTest::newRow("case ignored") << zh << "abc" << "ABC" << 0;
        QTest::newRow("trailing spaces ignored") << zh << "pad" << "pad   " << 0;
        QTest::newRow("leading spaces count") << zh << " pad" << "pad" << -1;
        QTest::newRow("accent counts") << "Latin1_General_CI_AS" << "e" << "é" << -1;
        QTest::newRow("pinyin tones before the bare letter") << zh << "é" << "e" << -1;
        QTest::newRow("width ignored") << zh << "Ａ" << "a" << 0;
        QTest::newRow("letters before case") << zh << "a" << "B" << -1;
        QTest::newRow("pinyin a before bei") << zh << "阿" << "北" << -1;
        QTest::newRow("pinyin bei before zhong") << zh << "北" << "中" << -1;
        QTest::newRow("latin ci") << "Latin1_General_CI_AS" << "Résumé" << "RÉSUMÉ" << 0;
        QTest::newRow("latin cs") << "Latin1_General_CS_AS" << "abc" << "ABC" << -1;
        QTest::newRow("cs ignores trailing spaces") << "Latin1_General_CS_AS" << "abc " << "abc" << 0;
        QTest::newRow("accent-insensitive") << "Latin1_General_CI_AI" << "é" << "E" << 0;
        QTest::newRow("kana ignored") << zh << "あ" << "ア" << 0;
        QTest::newRow("accent- and case-insensitive") << "Latin1_General_CI_AI" << "É" << "e" << 0;
        QTest::newRow("cs_ai: accents ignored") << "Latin1_General_CS_AI" << "é" << "e" << 0;
        QTest::newRow("cs_ai: case counts") << "Latin1_General_CS_AI" << "e" << "E" << -1;
        QTest::newRow("binary code points") << "Latin1_General_BIN2" << "a" << "B" << 1;
        QTest::newRow("bin code points") << "Chinese_PRC_BIN" << "中" << "北" << -1;
        QTest::newRow("binary trailing spaces") << "Chinese_PRC_BIN2" << "abc" << "abc  " << 0;
        QTest::newRow("name case ignored") << "chinese_prc_ci_as" << "X" << "x" << 0;
    }
    void compare()
    {
        QFETCH(QString, collation);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QVERIFY(!textCollationName(collation.toStdString()).empty());
        QCOMPARE(sign(compareText(collation.toStdString(), a.toStdString(), b.toStdString())), order);
        QCOMPARE(sign(compareText(collation.toStdString(), b.toStdString(), a.toStdString())), -order);
    }

    void names()
    {
        QCOMPARE(textCollationName("latin1_general_cs_as"), std::string("Latin1_General_CS_AS"));
        QCOMPARE(textCollationName("Chinese_PRC_CI_XX"), std::string());
        QCOMPARE(textCollationName("SQL_Latin1_General_CP1_BIN"), std::string()); // no such SQL collation
    }

    void like_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("escape"); // empty: none
        QTest::addColumn<bool>("matches");
        QTest::newRow("prefix any case") << "abc" << "AB%" << "" << true;
        QTest::newRow("pattern spaces must match") << "pad" << "pad   " << "" << false;
        QTest::newRow("value spaces may stay") << "pad   " << "pad" << "" << true;
        QTest::newRow("spaces on both") << "pad   " << "pad   " << "" << true;
        QTest::newRow("spaces inside count") << "p ad" << "pad" << "" << false;
        QTest::newRow("accent counts") << "café" << "cafe" << "" << false;
        QTest::newRow("one character") << "abc" << "_B_" << "" << true;
        QTest::newRow("one is not none") << "ab" << "ab_" << "" << false;
        QTest::newRow("range") << "Larsen" << "[C-P]arsen" << "" << true;
        QTest::newRow("range any case") << "karsen" << "[C-P]arsen" << "" << true;
        QTest::newRow("outside range") << "Sarsen" << "[C-P]arsen" << "" << false;
        QTest::newRow("negated set") << "del" << "de[^l]%" << "" << false;
        QTest::newRow("negated set other") << "dex" << "de[^l]%" << "" << true;
        QTest::newRow("bracketed wildcard") << "a_b" << "a[_]b" << "" << true;
        QTest::newRow("bracketed wildcard is literal") << "axb" << "a[_]b" << "" << false;
        QTest::newRow("unclosed set") << "a[b" << "a[b" << "" << false;
        QTest::newRow("escape percent") << "50%" << "50!%" << "!" << true;
        QTest::newRow("escaped percent is literal") << "500" << "50!%" << "!" << false;
        QTest::newRow("chinese inside") << "中文数据库" << "%数据%" << "" << true;
        QTest::newRow("backtracking") << "abcabd" << "%ab_" << "" << true;
        QTest::newRow("backtracking fails") << "abcabe" << "%abd" << "" << false;
        QTest::newRow("empty") << "" << "%" << "" << true;
    }
    void like()
    {
        QFETCH(QString, value);
        QFETCH(QString, pattern);
        QFETCH(QString, escape);
        QFETCH(bool, matches);
        std::optional<std::string_view> esc;
        const std::string e = escape.toStdString();
        if (!e.empty()) esc = e;
        std::optional<bool> m = likeMatch("Chinese_PRC_CI_AS", value.toStdString(), pattern.toStdString(), esc);
        QVERIFY(m.has_value());
        QCOMPARE(*m, matches);
    }

    void expressions_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("holds");
        QTest::newRow("= ignores case") << "'abc' = 'ABC'" << true;
        QTest::newRow("= ignores trailing spaces") << "'pad' = 'pad   '" << true;
        QTest::newRow("<> too") << "N'pad ' <> N'PAD'" << false;
        QTest::newRow("accent counts") << "N'é' = N'e'" << false;
        QTest::newRow("< by letters") << "'b' < 'C'" << true;
        QTest::newRow("pinyin order") << "N'阿' < N'北' and N'北' < N'中'" << true;
        QTest::newRow("like pattern spaces") << "'pad' like 'pad   '" << false;
        QTest::newRow("like any case") << "'abc' like 'AB%'" << true;
        QTest::newRow("not like") << "'abc' not like 'x%'" << true;
        QTest::newRow("like set") << "'b1' like '[a-c][0-9]'" << true;
        QTest::newRow("in list") << "'ABC' in ('x', 'abc')" << true;
        QTest::newRow("between") << "'B' between 'a' and 'c'" << true;
        QTest::newRow("variables") << "@a = @b" << true;
        QTest::newRow("explicit collation") << "'abc' collate Latin1_General_CS_AS = 'ABC'" << false;
        QTest::newRow("explicit on the right") << "'abc' = 'ABC' collate Latin1_General_CS_AS" << false;
        QTest::newRow("database_default") << "'abc' collate database_default = 'ABC'" << true;
        QTest::newRow("binary unchanged") << "0x61 = 0x41" << false;
        QTest::newRow("numbers unchanged") << "10 > 9" << true;
        QTest::newRow("dates unchanged")
            << "cast('2020-01-02' as datetime) > cast('2020-01-01 23:59' as datetime)" << true;
    }
    void expressions()
    {
        QFETCH(QString, condition);
        QFETCH(bool, holds);
        QCOMPARE(column("declare @a varchar(10) = 'Xy', @b nvarchar(10) = N'xY  '\n"
                        "select case when " + condition + " then 'yes' else 'no' end"),
                 QString(holds ? "yes" : "no"));
    }

    void simpleCase()
    {
        QCOMPARE(column("select case 'ABC' when 'abc' then 'hit' else 'miss' end"), QString("hit"));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("unknown collation") << "select 1 where 'a' collate Klingon_CI_AS = 'a'" << 448;
        QTest::newRow("unknown column collation") << "create table badc (v varchar(5) collate Nope_CI_AS)" << 448;
        QTest::newRow("two-character escape") << "select 1 where 'a' like 'a' escape 'xy'" << 506;
    }
    void errors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        auto k = run(sql);
        QVERIFY2(!k.errorNumbers().empty(), "no error");
        QCOMPARE(k.errorNumbers().front(), error);
    }

    void keys_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("error"); // 0: both rows go in
        QTest::newRow("primary key ignores case") << "(code varchar(10) primary key)" << "abc" << "ABC" << 2627;
        QTest::newRow("primary key ignores trailing spaces") << "(code varchar(10) primary key)" << "abc" << "abc  " << 2627;
        QTest::newRow("unique constraint") << "(id int, code nvarchar(10) unique)" << "Abc" << "aBC" << 2627;
        QTest::newRow("accents are different keys") << "(code nvarchar(10) primary key)" << "é" << "e" << 0;
        QTest::newRow("case-sensitive column") << "(code varchar(10) collate Latin1_General_CS_AS primary key)"
                                               << "abc" << "ABC" << 0;
        QTest::newRow("char key") << "(code char(6) primary key)" << "ab" << "AB" << 2627;
    }
    void keys()
    {
        QFETCH(QString, table);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, error);
        static int tables = 0;
        const QString name = "k" + QString::number(++tables);
        const QString cols = table.contains("id int") ? "(id, code)" : "(code)";
        const QString pre = table.contains("id int") ? "1, " : "";
        auto k = run("create table " + name + " " + table + "\ninsert " + name + cols + " values (" + pre + "N'" + first + "')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert " + name + cols + " values (" + pre + "N'" + second + "')");
        if (error == 0) {
            QVERIFY2(!k.anyError(), k.allMessages().c_str());
            return;
        }
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QVERIFY2(k.allMessages().find("Cannot insert duplicate key in object 'dbo." + name.toStdString() + "'")
                     != std::string::npos, k.allMessages().c_str());
    }

    void uniqueIndex()
    {
        auto k = run("create table ux (id int, code nvarchar(10))\ncreate unique index ux_code on ux(code)\n"
                     "insert ux values (1, N'abc')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert ux values (2, N'ABC ')");
        QCOMPARE(k.errorNumbers(), std::vector<int>{2601});
        QVERIFY2(k.allMessages().find("Cannot insert duplicate key row in object 'dbo.ux' with unique index 'ux_code'.")
                     != std::string::npos, k.allMessages().c_str());
        QCOMPARE(column("select count(*) from ux"), QString("1"));
    }

    void grouping()
    {
        auto k = run("create table g (v nvarchar(10))\n"
                     "insert g values (N'abc'), (N'ABC'), (N'abc  '), (N'Abc'), (N'é'), (N'e'), (N'E')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(column("select count(distinct v) from g"), QString("3"));
        QCOMPARE(column("select count(*) from (select distinct v from g) d"), QString("3"));
        QCOMPARE(column("select count(*) from g group by v order by count(*) desc"), QString("4|2|1"));
        QCOMPARE(column("select count(*) from g where v = 'ABC'"), QString("4"));
        QCOMPARE(column("select count(*) from g where 'ABC' = v"), QString("4"));
        QCOMPARE(column("select count(*) from g where v like 'ab_'"), QString("4"));
        QCOMPARE(column("select count(*) from g where upper(v) = 'abc'"), QString("4"));
        QCOMPARE(column("select count(*) from g a join g b on a.v = b.v where a.v = N'é'"), QString("1"));
    }

    void order()
    {
        auto k = run("create table o (v nvarchar(10))\n"
                     "insert o values (N'中'), (N'阿'), (N'北'), (N'c'), (N'a'), (N'B')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(column("select v from o order by v"), QString("a|B|c|阿|北|中"));
        QCOMPARE(column("select v from o order by v desc"), QString("中|北|阿|c|B|a"));
        QCOMPARE(column("select v from o order by 1"), QString("a|B|c|阿|北|中"));
        QCOMPARE(column("select v from o order by v + ''"), QString("a|B|c|阿|北|中"));
        QCOMPARE(column("select min(v) from o"), QString("a"));
        QCOMPARE(column("select max(v) from o"), QString("中"));
        QCOMPARE(column("select v from o order by v collate Latin1_General_BIN2"), QString("B|a|c|中|北|阿"));
        QCOMPARE(column("select x from (select N'中' as x union all select N'a' union all select N'北' union all select N'B') d "
                        "order by x"),
                 QString("a|B|北|中"));
    }

    void derivedColumns()
    {
        QCOMPARE(column("select count(*) from (select 'ABC' as x) d where d.x = 'abc'"), QString("1"));
        QCOMPARE(column("select count(*) from (select 'ABC' as x union select 'abc  ') d"), QString("1"));
        QCOMPARE(column("select count(distinct x) from (select N'é' as x union all select N'E' union all select N'e') d"),
                 QString("2"));
        // One row, whichever of the two spellings UNION keeps.
        QCOMPARE(column("select y = 'ABC' union select 'abc'").toUpper(), QString("ABC"));
    }

    void fixedLength()
    {
        auto k = run("create table cp (id int primary key, c char(5), n nchar(4), v varchar(5))\n"
                     "insert cp values (1, 'ab', N'中', 'ab')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(column("select c + '|' from cp"), QString("ab   |"));
        QCOMPARE(column("select n + N'|' from cp"), QString("中   |"));
        QCOMPARE(column("select datalength(c) from cp"), QString("5"));
        QCOMPARE(column("select len(c) from cp"), QString("2"));
        QCOMPARE(column("select v + '|' from cp"), QString("ab|"));
        QCOMPARE(column("select id from cp where c = 'ab' and n = N'中' and v = 'ab  '"), QString("1"));
        QCOMPARE(column("select id from cp where c like 'ab'"), QString("1"));
        k = run("update cp set c = 'xyz' where c = 'AB'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(column("select c + '|' from cp"), QString("xyz  |"));
        // A value that fills the column stays as it is.
        k = run("update cp set c = 'abcde'");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(column("select c + '|' from cp"), QString("abcde|"));
    }

    void temporaryTables()
    {
        auto k = run("create table #tk (code varchar(10) primary key)\ninsert #tk values ('abc')");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert #tk values ('ABC')");
        QCOMPARE(k.errorNumbers(), std::vector<int>{2627});
        k = run("declare @t table (code varchar(10) primary key)\ninsert @t values ('abc')\n"
                "select count(*) from @t where code = 'ABC  '");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), QString("1"));
    }
};

QTEST_APPLESS_MAIN(EngineCollationTest)
#include "tst_engine_collation.moc"
