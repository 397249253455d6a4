// Exact numbers in the engine: decimal/numeric, money and smallmoney keep
// every digit in storage, comparison and arithmetic; real is a 4-byte float.
#include "base/decimal.h"
#include "enginefixture.h"

#include <QtTest>

using namespace ts;

class EngineNumbersTest : public QObject, EngineFixture {
    Q_OBJECT

    // The type of result column 0 as "decimal(8,6)", "money", "real" ...
    static QString typeOf(const RecordingSink &k) { return QString::fromStdString(sqlTypeName(k.results.at(0).cols.at(0))); }

private slots:
    void initTestCase()
    {
        const std::string err = startEngine();
        QVERIFY2(err.empty(), err.c_str());
        auto k = run("create table lim (id int primary key, d38 decimal(38,10), d18 decimal(18,4), m money, "
                     "sm smallmoney, r real, f float, n5 numeric(5,2))");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
    }
    void cleanupTestCase() { stopEngine(); }

    // Result precision and scale of decimal arithmetic, worked out once by
    // the translator and once by the function that computes at run time.
    void resultTypes_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("type");
        QTest::newRow("sum") << "+" << "d5,2" << "d7,3" << "d8,3";
        QTest::newRow("difference with an int") << "-" << "d5,2" << "i10" << "d13,2";
        QTest::newRow("product") << "*" << "d5,2" << "d7,3" << "d13,5";
        QTest::newRow("quotient keeps six places") << "/" << "d2,1" << "l1" << "d7,6";
        QTest::newRow("quotient by an int column") << "/" << "d5,2" << "i10" << "d16,13";
        QTest::newRow("product over 38 keeps the integral part") << "*" << "d38,30" << "l1" << "d38,28";
        QTest::newRow("product of two wide") << "*" << "d38,10" << "d38,10" << "d38,6";
        QTest::newRow("quotient of two wide") << "/" << "d38,10" << "d38,10" << "d38,6";
        QTest::newRow("sum over 38") << "+" << "d38,10" << "d38,10" << "d38,10";
        QTest::newRow("modulo") << "%" << "d5,2" << "d7,3" << "d6,3";
        QTest::newRow("money with int stays money") << "*" << "m" << "i10" << "m";
        QTest::newRow("decimal beats money") << "+" << "m" << "d5,2" << "d20,4";
        QTest::newRow("float beats decimal") << "/" << "d5,2" << "f" << "f";
        QTest::newRow("unknown stays unknown") << "+" << "d5,2" << "" << "";
    }
    void resultTypes()
    {
        QFETCH(QString, op);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, type);
        const num::Type r = num::resultType(op.toLatin1()[0], num::typeFromCode(a.toStdString()), num::typeFromCode(b.toStdString()));
        QCOMPARE(QString::fromStdString(num::typeCode(r)), type);
    }

    void rounding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("result");
        QTest::newRow("half up") << "2.345" << 2 << "2.35";
        QTest::newRow("half away from zero") << "-2.345" << 2 << "-2.35";
        QTest::newRow("below half") << "2.3449999" << 2 << "2.34";
        QTest::newRow("to a wider scale") << "7" << 3 << "7.000";
        QTest::newRow("exponent") << "1.5E3" << 1 << "1500.0";
        QTest::newRow("negative exponent") << "25e-3" << 4 << "0.0250";
        QTest::newRow("no sign on zero") << "-0.004" << 2 << "0.00";
        QTest::newRow("38 digits") << "12345678901234567890123456789.012345678" << 9
                                   << "12345678901234567890123456789.012345678";
        QTest::newRow("negative zero") << "-0.00" << 2 << "0.00";
        QTest::newRow("no integral digits") << ".25" << 3 << "0.250";
        QTest::newRow("leading zeros") << "007.5" << 1 << "7.5";
    }
    void rounding()
    {
        QFETCH(QString, text);
        QFETCH(int, scale);
        QFETCH(QString, result);
        num::Dec d;
        QVERIFY(num::parse(text.toStdString(), d));
        QCOMPARE(QString::fromStdString(num::format(num::rescale(d, scale))), result);
        // The quick path for stored values, where it applies, agrees.
        std::string quick;
        if (num::quickFormat(text.toStdString(), scale, 38, quick))
            QCOMPARE(QString::fromStdString(quick), result);
    }

    void literalTypes_data()
    {
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("type");
        QTest::newRow("int") << "10" << "l2";
        QTest::newRow("largest int") << "2147483647" << "l10";
        QTest::newRow("beyond int is numeric") << "2147483648" << "d10,0";
        QTest::newRow("one point zero") << "1.0" << "d2,1";
        QTest::newRow("a tenth") << "0.1" << "d1,1";
        QTest::newRow("point five") << ".5" << "d1,1";
        QTest::newRow("exponent is float") << "1e3" << "f";
    }
    void literalTypes()
    {
        QFETCH(QString, literal);
        QFETCH(QString, type);
        QCOMPARE(QString::fromStdString(num::typeCode(num::literalType(literal.toStdString()))), type);
    }

    // Values at the limits of each type are stored, read back and found
    // again by the comparison the grid's optimistic check makes.
    void limitsRoundTrip_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("readBack");
        QTest::addColumn<QString>("sameValue"); // an expression equal to it under SQL Server's rules
        QTest::newRow("decimal(38,10)") << "d38" << "1234567890123456789012345678.0123456789"
                                        << "1234567890123456789012345678.0123456789"
                                        << "cast('1234567890123456789012345678.0123456789' as decimal(38,10))";
        QTest::newRow("decimal(38,10) lowest") << "d38" << "-9999999999999999999999999999.9999999999"
                                               << "-9999999999999999999999999999.9999999999"
                                               << "cast('-9999999999999999999999999999.9999999999' as decimal(38,10))";
        QTest::newRow("decimal(18,4) highest") << "d18" << "99999999999999.9999" << "99999999999999.9999"
                                               << "cast('99999999999999.9999' as decimal(18,4))";
        QTest::newRow("decimal(18,4) lowest") << "d18" << "-99999999999999.9999" << "-99999999999999.9999"
                                              << "-99999999999999.9999";
        QTest::newRow("decimal rounds on the way in") << "n5" << "1.005" << "1.01" << "1.01";
        QTest::newRow("money highest") << "m" << "922337203685477.5807" << "922337203685477.5807"
                                       << "cast('922337203685477.5807' as money)";
        QTest::newRow("money lowest") << "m" << "-922337203685477.5808" << "-922337203685477.5808"
                                      << "cast('-922337203685477.5808' as money)";
        QTest::newRow("smallmoney highest") << "sm" << "214748.3647" << "214748.3647" << "cast(214748.3647 as smallmoney)";
        QTest::newRow("smallmoney lowest") << "sm" << "-214748.3648" << "-214748.3648" << "-214748.3648";
        QTest::newRow("real is 4 bytes") << "r" << "0.1" << QString::number(double(0.1f), 'g', 17)
                                         << "cast(cast(0.10000000149011612 as float) as real)";
        QTest::newRow("real compared with a literal") << "r" << "0.1" << QString::number(double(0.1f), 'g', 17) << "0.1";
        QTest::newRow("real highest") << "r" << "3.4028234e38" << QString::number(double(3.4028234e38f), 'g', 17)
                                      << "cast(3.4028234e38 as real)";
    }
    void limitsRoundTrip()
    {
        QFETCH(QString, column);
        QFETCH(QString, literal);
        QFETCH(QString, readBack);
        QFETCH(QString, sameValue);
        QVERIFY(!run("delete from lim").anyError());
        auto k = run(QStringLiteral("insert into lim (id, %1) values (1, %2)").arg(column, literal));
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run(QStringLiteral("select %1 from lim").arg(column));
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        const Value &v = k.results.at(0).rows.at(0).at(0);
        const QString got = v.kind == Value::Float ? QString::number(v.d, 'g', 17) : QString::fromStdString(v.s);
        QCOMPARE(got, readBack);
        k = run(QStringLiteral("select count(*) from lim where %1 = %2 and %1 is not null").arg(column, sameValue));
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("1"));
        // The other way round, with the column on the right.
        k = run(QStringLiteral("select count(*) from lim where %2 = %1").arg(column, sameValue));
        QCOMPARE(k.text(0, 0, 0), std::string("1"));
    }

    // Expressions: exact values and SQL Server's result types.
    void expressions_data()
    {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("type"); // "" = not checked here
        QTest::newRow("one third") << "1.0/3" << "0.333333" << "numeric(7,6)";
        QTest::newRow("decimal(5,2) by an int literal") << "cast(10 as decimal(5,2))/3" << "3.333333" << "numeric(9,6)";
        QTest::newRow("tenth times three") << "cast(0.1 as decimal(38,30)) * 3" << "0.3000000000000000000000000000"
                                           << "numeric(38,28)";
        QTest::newRow("tenth plus fifth") << "0.1 + 0.2" << "0.3" << "numeric(2,1)";
        QTest::newRow("quotient rounds") << "2.0/3" << "0.666667" << "numeric(7,6)";
        QTest::newRow("negative quotient rounds away") << "-2.0/3" << "-0.666667" << "numeric(7,6)";
        QTest::newRow("long literal keeps its digits") << "1234567890123456789012345678.0123456789 + 0"
                                                       << "1234567890123456789012345678.0123456789" << "numeric(38,10)";
        QTest::newRow("cast keeps digits") << "cast('12345678901234.5678' as decimal(18,4))" << "12345678901234.5678"
                                           << "decimal(18,4)";
        QTest::newRow("convert to varchar") << "convert(varchar(40), cast(12345678901234.5678 as decimal(18,4)))"
                                            << "12345678901234.5678" << "";
        QTest::newRow("money arithmetic") << "cast(1 as money) / 3" << "0.3333" << "money";
        QTest::newRow("money from a float") << "cast(0.1e0 as money)" << "0.1000" << "money";
        QTest::newRow("unary minus") << "-cast(2.50 as decimal(4,2))" << "-2.50" << "decimal(4,2)";
        QTest::newRow("decimal text plus decimal is a sum") << "cast('1.5' as decimal(3,1)) + cast('2.25' as decimal(4,2))"
                                                            << "3.75" << "numeric(5,2)";
    }
    void expressions()
    {
        QFETCH(QString, expr);
        QFETCH(QString, value);
        QFETCH(QString, type);
        auto k = run("select " + expr);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(0, 0, 0)), value);
        if (!type.isEmpty())
            QCOMPARE(typeOf(k), type);
    }

    // Columns: arithmetic, aggregates and order over stored decimals.
    void columns_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("type");
        QTest::newRow("sum is decimal(38,s)") << "select sum(d18) from acc" << "100000000000010.0000" << "numeric(38,4)";
        QTest::newRow("avg has six places") << "select avg(d18) from acc" << "33333333333336.666667" << "numeric(38,6)";
        QTest::newRow("min by number") << "select min(d18) from acc" << "0.0001" << "decimal(18,4)";
        QTest::newRow("max by number") << "select max(d18) from acc" << "99999999999999.9999" << "decimal(18,4)";
        QTest::newRow("sum of money") << "select sum(m) from acc" << "922337203685477.5807" << "money";
        QTest::newRow("avg of money") << "select avg(m) from acc" << "307445734561825.8602" << "money";
        QTest::newRow("column times literal") << "select d18 * 2 from acc where id = 1" << "0.0002" << "numeric(20,4)";
        QTest::newRow("two columns add up") << "select d18 + n5 from acc where id = 2" << "10.5000" << "numeric(19,4)";
        QTest::newRow("order is numeric") << "select top 1 id from acc order by d18 desc" << "3" << "int";
        QTest::newRow("compared with an int") << "select count(*) from acc where d18 > 5" << "2" << "int";
        QTest::newRow("compared with an expression") << "select count(*) from acc where d18 * 2 > 10" << "2" << "int";
        QTest::newRow("distinct sum") << "select sum(distinct n5) from acc" << "0.75" << "numeric(38,2)";
        QTest::newRow("qualified column of a join") << "select a.d18 / b.n5 from acc a join acc b on b.id = a.id where a.id = 2"
                                                   << "20.0000000000" << "numeric(26,10)";
        QTest::newRow("update computes exactly") << "update acc set d18 = d18 + 0.00005 where id = 1 select d18 from acc where id = 1"
                                                 << "0.0002" << "decimal(18,4)";
    }
    void columns()
    {
        QFETCH(QString, sql);
        QFETCH(QString, value);
        QFETCH(QString, type);
        auto k = run("if object_id('acc') is not null drop table acc\n"
                     "create table acc (id int primary key, d18 decimal(18,4), m money, n5 numeric(5,2))\n"
                     "insert into acc values (1, 0.0001, 0, 0.25), (2, 10, 922337203685477.5807, 0.50), "
                     "(3, 99999999999999.9999, 0, 0.25)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run(sql);
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(QString::fromStdString(k.text(k.results.size() - 1, 0, 0)), value);
        QCOMPARE(QString::fromStdString(sqlTypeName(k.results.back().cols.at(0))), type);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("too many digits for the column") << "insert into lim (id, d18) values (9, 123456789012345.1)" << 8115
                                                        << "Arithmetic overflow error converting numeric to data type numeric.";
        QTest::newRow("money above its range") << "insert into lim (id, m) values (9, 922337203685477.5808)" << 8115
                                               << "Arithmetic overflow error converting numeric to data type money.";
        QTest::newRow("smallmoney below its range") << "select cast(-214748.3649 as smallmoney)" << 8115
                                                    << "Arithmetic overflow error converting numeric to data type smallmoney.";
        QTest::newRow("float into a narrow decimal") << "select cast(1e20 as decimal(5,2))" << 8115
                                                     << "Arithmetic overflow error converting float to data type numeric.";
        QTest::newRow("sum beyond 38 digits") << "select cast('99999999999999999999999999999999999999' as decimal(38,0)) + 1" << 8115
                                              << "Arithmetic overflow error converting expression to data type numeric.";
        QTest::newRow("division by zero") << "select 1.5 / 0" << 8134 << "Divide by zero error encountered.";
        QTest::newRow("text that is no number") << "select cast('abc' as decimal(5,2))" << 8114
                                                << "Error converting data type varchar to numeric.";
    }
    void errors()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        QFETCH(QString, text);
        auto k = run(sql);
        QCOMPARE(k.errorNumbers(), std::vector<int>{error});
        QCOMPARE(QString::fromStdString(k.messages.at(0).text), text);
    }

    // Keys compare numbers: 12.5 and 12.50 are the same key.
    void keysCompareNumbers()
    {
        auto k = run("create table keyed (k decimal(6,2) primary key, v int)\ninsert into keyed values (12.5, 1)");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        k = run("insert into keyed values (12.50, 2)");
        QCOMPARE(k.errorNumbers(), std::vector<int>{2627});
        k = run("insert into keyed values (9, 3)\nselect k from keyed order by k");
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
        QCOMPARE(k.text(0, 0, 0), std::string("9.00"));
        QCOMPARE(k.text(0, 1, 0), std::string("12.50"));
        k = run("select v from keyed where k = '12.5'");
        QCOMPARE(k.text(0, 0, 0), std::string("1"));
    }
};

QTEST_GUILESS_MAIN(EngineNumbersTest)
#include "tst_engine_numbers.moc"
