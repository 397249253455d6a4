// Marker scan, connection strings and driver-prefix stripping.
#include "core/sqltext.h"

#include <QtTest>

using namespace dv;

class TstSqlText : public QObject {
    Q_OBJECT
private slots:
    void markers_data();
    void markers();
    void quote_data();
    void quote();
    void serverName_data();
    void serverName();
    void driverChoice_data();
    void driverChoice();
    void odbcStrings_data();
    void odbcStrings();
    void representable_data();
    void representable();
    void prefixes_data();
    void prefixes();
};

void TstSqlText::markers_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("none") << "select 1" << "select 1" << QStringList{};
    QTest::newRow("alias") << "select 1 as a:b" << "select 1 as a?" << QStringList{"b"};
    QTest::newRow("blank ends") << "where x = :id and y" << "where x = ? and y" << QStringList{"id"};
    QTest::newRow("CR ends") << "x=:a\r\ny" << "x=?\r\ny" << QStringList{"a"};
    QTest::newRow("LF ends") << "x=:a\ny" << "x=?\ny" << QStringList{"a"};
    QTest::newRow("paren ends") << "f(:a)" << "f(?)" << QStringList{"a"};
    QTest::newRow("comma ends") << "values(:a,:b)" << "values(?,?)" << QStringList{"a", "b"};
    QTest::newRow("semicolon ends") << "x=:a;select 2" << "x=?;select 2" << QStringList{"a"};
    QTest::newRow("tab does not end") << "x=:a\ty z" << "x=? z" << QStringList{"a\ty"};
    QTest::newRow("other punctuation is name") << "x=:a+b-c z" << "x=? z" << QStringList{"a+b-c"};
    QTest::newRow("at end") << "x=:abc" << "x=?" << QStringList{"abc"};
    QTest::newRow("colon at end") << "select 1:" << "select 1?" << QStringList{""};
    QTest::newRow("empty name") << "a : b" << "a ? b" << QStringList{""};
    QTest::newRow("double colon") << "select a::b" << "select a::b" << QStringList{};
    QTest::newRow("triple colon") << "a:::b" << "a::?" << QStringList{"b"};
    QTest::newRow("single quote") << "select ':x' as a" << "select ':x' as a" << QStringList{};
    QTest::newRow("double quote") << "select \":x\" from t" << "select \":x\" from t" << QStringList{};
    QTest::newRow("back quote") << "select `:x` from t" << "select `:x` from t" << QStringList{};
    QTest::newRow("mixed quotes inside") << "'a\":b' :c" << "'a\":b' ?" << QStringList{"c"};
    QTest::newRow("unclosed quote runs to end") << "select 'abc :x" << "select 'abc :x" << QStringList{};
    QTest::newRow("doubled quote") << "'it''s :x' :y" << "'it''s :x' ?" << QStringList{"y"};
    QTest::newRow("quote after colon") << "x=:'a b' y" << "x=? y" << QStringList{"'a b'"};
    QTest::newRow("quote after colon unclosed") << "x=:\"a b" << "x=?" << QStringList{"\"a b"};
    QTest::newRow("quote after colon back") << "x=:`a,b`,1" << "x=?,1" << QStringList{"`a,b`"};
    QTest::newRow("quote inside unquoted name") << "x=:a'b c' :d" << "x=? c' :d" << QStringList{"a'b"};
    QTest::newRow("several") << ":a :b\r\n:c" << "? ?\r\n?" << QStringList{"a", "b", "c"};
    QTest::newRow("time literal in quotes") << "waitfor delay '00:00:05'" << "waitfor delay '00:00:05'"
                                            << QStringList{};
    QTest::newRow("chinese name") << "x=:名称 y" << "x=? y" << QStringList{"名称"};
}

void TstSqlText::markers()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QFETCH(QStringList, names);
    const MarkerScan s = scanParameterMarkers(in);
    QCOMPARE(s.text, out);
    QCOMPARE(s.names, names);
}

void TstSqlText::quote_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("plain") << "secret" << "secret";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("inner blank") << "a b" << "a b";
    QTest::newRow("semicolon") << "a;b" << "{a;b}";
    QTest::newRow("equals") << "a=b" << "{a=b}";
    QTest::newRow("open brace") << "{a" << "{{a}";
    QTest::newRow("close brace doubled") << "a}b" << "{a}}b}";
    QTest::newRow("all") << "Dorvane-Test;{pw}=1" << "{Dorvane-Test;{pw}}=1}";
    QTest::newRow("leading blank") << " a" << "{ a}";
    QTest::newRow("trailing blank") << "a " << "{a }";
}

void TstSqlText::quote()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(odbcQuote(in), out);
}

void TstSqlText::serverName_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<int>("port");
    QTest::newRow("host") << "dbhost" << true << "dbhost" << "" << 0;
    QTest::newRow("instance") << "dbhost\\SQL2000" << true << "dbhost" << "SQL2000" << 0;
    QTest::newRow("port") << "127.0.0.1,14330" << true << "127.0.0.1" << "" << 14330;
    QTest::newRow("port with blank") << "127.0.0.1, 1433" << true << "127.0.0.1" << "" << 1433;
    QTest::newRow("instance and port") << "h\\I,2000" << true << "h" << "I" << 2000;
    QTest::newRow("bad port") << "h,abc" << false << "" << "" << 0;
    QTest::newRow("port out of range") << "h,70000" << false << "" << "" << 0;
    QTest::newRow("empty instance") << "h\\" << false << "" << "" << 0;
    QTest::newRow("empty") << "" << false << "" << "" << 0;
    QTest::newRow("only port") << ",1433" << false << "" << "" << 1433;
}

void TstSqlText::serverName()
{
    QFETCH(QString, in);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(QString, instance);
    QFETCH(int, port);
    const ServerAddress a = parseServerName(in);
    QCOMPARE(a.valid, valid);
    if (valid) {
        QCOMPARE(a.host, host);
        QCOMPARE(a.instance, instance);
        QCOMPARE(a.port, port);
    }
}

void TstSqlText::odbcStrings_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("integrated");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    const QString ftds = QStringLiteral("FreeTDS");
    const QString ms18 = QStringLiteral("ODBC Driver 18 for SQL Server");
    const QString ms17 = QStringLiteral("ODBC Driver 17 for SQL Server");

    QTest::newRow("freetds port") << ftds << false << "127.0.0.1,5000" << "Dorvane-Test;{pw}=1"
                                  << "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=5000;UID=sa;"
                                     "PWD={Dorvane-Test;{pw}=1};TDS_Version=7.4;ClientCharset=UTF-8;";
    // FreeTDS takes a braced value literally up to "};": no doubling.
    QTest::newRow("freetds brace kept single") << ftds << false << "h,1" << "a}b"
                                               << "DRIVER={FreeTDS};SERVER=h;PORT=1;UID=sa;PWD={a}b};"
                                                  "TDS_Version=7.4;ClientCharset=UTF-8;";
    QTest::newRow("freetds instance") << ftds << false << "dbhost\\SQL2000" << "pw"
                                      << "DRIVER={FreeTDS};SERVER=dbhost\\SQL2000;UID=sa;PWD=pw;"
                                         "TDS_Version=7.4;ClientCharset=UTF-8;";
    QTest::newRow("freetds host") << ftds << false << "dbhost" << ""
                                  << "DRIVER={FreeTDS};SERVER=dbhost;PORT=1433;UID=sa;PWD=;"
                                     "TDS_Version=7.4;ClientCharset=UTF-8;";
    QTest::newRow("freetds integrated") << ftds << true << "dbhost,1500" << "ignored"
                                        << "DRIVER={FreeTDS};SERVER=dbhost;PORT=1500;Trusted_Connection=Yes;"
                                           "TDS_Version=7.4;ClientCharset=UTF-8;";
    QTest::newRow("ms18 port") << ms18 << false << "127.0.0.1,5000" << "a}b"
                               << "DRIVER={ODBC Driver 18 for SQL Server};SERVER=127.0.0.1,5000;UID=sa;"
                                  "PWD={a}}b};Encrypt=Optional;TrustServerCertificate=Yes;";
    QTest::newRow("ms18 instance integrated") << ms18 << true << "h\\INST" << ""
                                              << "DRIVER={ODBC Driver 18 for SQL Server};SERVER=h\\INST;"
                                                 "Trusted_Connection=Yes;Encrypt=Optional;"
                                                 "TrustServerCertificate=Yes;";
    QTest::newRow("ms17 host") << ms17 << false << "h" << "p"
                               << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=h;UID=sa;PWD=p;"
                                  "TrustServerCertificate=Yes;";
    QTest::newRow("ms17 port integrated") << ms17 << true << "h,1500" << "x"
                                          << "DRIVER={ODBC Driver 17 for SQL Server};SERVER=h,1500;"
                                             "Trusted_Connection=Yes;TrustServerCertificate=Yes;";
    // Windows' own driver: server and login only, the port after a comma.
    const QString win = QStringLiteral("SQL Server");
    QTest::newRow("windows driver port") << win << false << "10.0.0.5,1500" << "p;w"
                                         << "DRIVER={SQL Server};SERVER=10.0.0.5,1500;UID=sa;PWD={p;w};";
    QTest::newRow("windows driver instance integrated") << win << true << "h\\SQLEXPRESS" << "ignored"
                                                        << "DRIVER={SQL Server};SERVER=h\\SQLEXPRESS;"
                                                           "Trusted_Connection=Yes;";
    QTest::newRow("windows driver host") << win << false << "dbhost" << ""
                                         << "DRIVER={SQL Server};SERVER=dbhost;UID=sa;PWD=;";
}

void TstSqlText::driverChoice_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("onUnix");
    QTest::addColumn<QString>("onWindows");
    const QString ms18 = QStringLiteral("ODBC Driver 18 for SQL Server");
    const QString ms17 = QStringLiteral("ODBC Driver 17 for SQL Server");
    const QString win = QStringLiteral("SQL Server");
    const QString ftds = QStringLiteral("FreeTDS");
    QTest::newRow("all") << QStringList{win, ftds, ms17, ms18} << ms18 << ms18;
    QTest::newRow("17 before the system driver") << QStringList{win, ms17, ftds} << ms17 << ms17;
    QTest::newRow("system driver before FreeTDS") << QStringList{ftds, win} << ftds << win;
    // Wine's driver manager lists the host's unixODBC drivers.
    QTest::newRow("FreeTDS only") << QStringList{ftds} << ftds << ftds;
    QTest::newRow("case differs, listed spelling kept")
        << QStringList{QStringLiteral("sql server"), QStringLiteral("FREETDS")} << "FREETDS" << "sql server";
    QTest::newRow("prefix is no match") << QStringList{QStringLiteral("SQL Server Native Client 11.0")} << ftds << win;
    QTest::newRow("none") << QStringList{} << ftds << win;
}

void TstSqlText::driverChoice()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, onUnix);
    QFETCH(QString, onWindows);
    QCOMPARE(chooseOdbcDriver(installed, OdbcPlatform::Unix), onUnix);
    QCOMPARE(chooseOdbcDriver(installed, OdbcPlatform::Windows), onWindows);
}

void TstSqlText::odbcStrings()
{
    QFETCH(QString, driver);
    QFETCH(bool, integrated);
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    ConnectParams p;
    p.server = server;
    p.integrated = integrated;
    p.user = QStringLiteral("sa");
    p.password = password;
    QCOMPARE(odbcConnectionString(driver, p), expected);
}

void TstSqlText::representable_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("ok");
    QTest::newRow("freetds plain") << "FreeTDS" << "Dorvane-Test;{pw}=1" << true;
    QTest::newRow("freetds brace at end") << "FreeTDS" << "ab}" << true;
    QTest::newRow("freetds brace semicolon") << "FreeTDS" << "a};b" << false;
    QTest::newRow("microsoft brace semicolon") << "ODBC Driver 18 for SQL Server" << "a};b" << true;
}

void TstSqlText::representable()
{
    QFETCH(QString, driver);
    QFETCH(QString, value);
    QFETCH(bool, ok);
    QCOMPARE(connectionValueRepresentable(driver, value), ok);
}

void TstSqlText::prefixes_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("two") << "[FreeTDS][SQL Server]Invalid object name 't'." << "Invalid object name 't'.";
    QTest::newRow("three") << "[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Login failed"
                           << "Login failed";
    QTest::newRow("none") << "Login failed for user 'sa'." << "Login failed for user 'sa'.";
    QTest::newRow("inner brackets stay") << "[A]Invalid column [x]." << "Invalid column [x].";
    QTest::newRow("unclosed") << "[FreeTDS]text [" << "text [";
    QTest::newRow("only unclosed") << "[broken" << "[broken";
    QTest::newRow("empty") << "" << "";
}

void TstSqlText::prefixes()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(stripDriverPrefixes(in), out);
}

QTEST_APPLESS_MAIN(TstSqlText)
#include "tst_sqltext.moc"
