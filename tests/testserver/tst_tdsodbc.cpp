// The real server process driven through the FreeTDS ODBC driver: bound
// parameters (RPC), prepare/execute, manual-commit transactions and query
// time-outs, i.e. the requests that tsql and isql never send. The driver
// manager is loaded at run time so that this test needs no extra link step.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sql.h>
#include <sqlext.h>

#include <dlfcn.h>

#include <cstring>

namespace {

struct Odbc {
    void *lib = nullptr;
#define DV_ODBC_FN(name, ret, ...) ret (*name)(__VA_ARGS__) = nullptr;
    DV_ODBC_FN(AllocHandle, SQLRETURN, SQLSMALLINT, SQLHANDLE, SQLHANDLE *)
    DV_ODBC_FN(FreeHandle, SQLRETURN, SQLSMALLINT, SQLHANDLE)
    DV_ODBC_FN(SetEnvAttr, SQLRETURN, SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER)
    DV_ODBC_FN(SetConnectAttr, SQLRETURN, SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER)
    DV_ODBC_FN(SetStmtAttr, SQLRETURN, SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER)
    DV_ODBC_FN(DriverConnect, SQLRETURN, SQLHDBC, SQLHWND, SQLCHAR *, SQLSMALLINT, SQLCHAR *, SQLSMALLINT,
               SQLSMALLINT *, SQLUSMALLINT)
    DV_ODBC_FN(Disconnect, SQLRETURN, SQLHDBC)
    DV_ODBC_FN(ExecDirect, SQLRETURN, SQLHSTMT, SQLCHAR *, SQLINTEGER)
    DV_ODBC_FN(Prepare, SQLRETURN, SQLHSTMT, SQLCHAR *, SQLINTEGER)
    DV_ODBC_FN(Execute, SQLRETURN, SQLHSTMT)
    DV_ODBC_FN(BindParameter, SQLRETURN, SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN,
               SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN *)
    DV_ODBC_FN(Fetch, SQLRETURN, SQLHSTMT)
    DV_ODBC_FN(NumResultCols, SQLRETURN, SQLHSTMT, SQLSMALLINT *)
    DV_ODBC_FN(RowCount, SQLRETURN, SQLHSTMT, SQLLEN *)
    DV_ODBC_FN(ColAttribute, SQLRETURN, SQLHSTMT, SQLUSMALLINT, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT *,
               SQLLEN *)
    DV_ODBC_FN(GetData, SQLRETURN, SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN *)
    DV_ODBC_FN(MoreResults, SQLRETURN, SQLHSTMT)
    DV_ODBC_FN(CloseCursor, SQLRETURN, SQLHSTMT)
    DV_ODBC_FN(EndTran, SQLRETURN, SQLSMALLINT, SQLHANDLE, SQLSMALLINT)
    DV_ODBC_FN(GetDiagRec, SQLRETURN, SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR *, SQLINTEGER *, SQLCHAR *,
               SQLSMALLINT, SQLSMALLINT *)
#undef DV_ODBC_FN

    bool load()
    {
        lib = dlopen("libodbc.so.2", RTLD_NOW);
        if (!lib)
            return false;
        auto get = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            return fn != nullptr;
        };
        return get(AllocHandle, "SQLAllocHandle") && get(FreeHandle, "SQLFreeHandle")
               && get(SetEnvAttr, "SQLSetEnvAttr") && get(SetConnectAttr, "SQLSetConnectAttr")
               && get(SetStmtAttr, "SQLSetStmtAttr") && get(DriverConnect, "SQLDriverConnect")
               && get(Disconnect, "SQLDisconnect") && get(ExecDirect, "SQLExecDirect") && get(Prepare, "SQLPrepare")
               && get(Execute, "SQLExecute") && get(BindParameter, "SQLBindParameter") && get(Fetch, "SQLFetch") && get(NumResultCols, "SQLNumResultCols") && get(RowCount, "SQLRowCount")
               && get(ColAttribute, "SQLColAttribute")
               && get(GetData, "SQLGetData") && get(MoreResults, "SQLMoreResults")
               && get(CloseCursor, "SQLCloseCursor") && get(EndTran, "SQLEndTran")
               && get(GetDiagRec, "SQLGetDiagRec");
    }
};

Odbc odbc;

bool ok(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

} // namespace

class TstTdsOdbc : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
    SQLHENV m_env = nullptr;
    SQLHDBC m_dbc = nullptr;

    QString trace() const
    {
        QFile f(m_dir.filePath("trace.log"));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

    QString diag(SQLSMALLINT type, SQLHANDLE h) const
    {
        QString out;
        SQLCHAR state[8], text[1024];
        SQLINTEGER native;
        SQLSMALLINT len;
        for (SQLSMALLINT i = 1; ok(odbc.GetDiagRec(type, h, i, state, &native, text, sizeof text, &len)); ++i)
            out += QStringLiteral("[%1] %2\n").arg(QString::fromLatin1(reinterpret_cast<char *>(state)),
                                                   QString::fromUtf8(reinterpret_cast<char *>(text)));
        return out;
    }

    SQLHSTMT newStmt()
    {
        SQLHSTMT h = nullptr;
        odbc.AllocHandle(SQL_HANDLE_STMT, m_dbc, &h);
        return h;
    }

    bool exec(SQLHSTMT h, const char *sql)
    {
        const SQLRETURN r = odbc.ExecDirect(h, (SQLCHAR *)sql, SQL_NTS);
        if (!ok(r) && r != SQL_NO_DATA) {
            qWarning("%s: %s", sql, qPrintable(diag(SQL_HANDLE_STMT, h)));
            return false;
        }
        return true;
    }

    // First column of the first row as text; "NULL" for NULL, "" when no row.
    QString firstValue(SQLHSTMT h)
    {
        QString v;
        if (ok(odbc.Fetch(h))) {
            char buf[20000];
            SQLLEN ind = 0;
            if (ok(odbc.GetData(h, 1, SQL_C_CHAR, buf, sizeof buf, &ind)))
                v = ind == SQL_NULL_DATA ? QStringLiteral("NULL") : QString::fromUtf8(buf);
        }
        odbc.CloseCursor(h);
        return v;
    }

    QString scalar(const char *sql)
    {
        SQLHSTMT h = newStmt();
        const QString v = exec(h, sql) ? firstValue(h) : QStringLiteral("<error>");
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        return v;
    }

private slots:
    void initTestCase()
    {
        if (!odbc.load())
            QSKIP("the unixODBC driver manager is not installed");
        QDir().mkpath(m_dir.filePath("data"));
        m_server.start(QStringLiteral(DV_TESTSERVER_EXE),
                       {"--port", "0", "--data-dir", m_dir.filePath("data"), "--trace", m_dir.filePath("trace.log"),
                        "--login", "sa:Odbc:pw"});
        QVERIFY(m_server.waitForStarted(10000));
        QElapsedTimer started;
        started.start();
        while (!m_server.canReadLine() && started.elapsed() < 15000 && m_server.state() == QProcess::Running)
            m_server.waitForReadyRead(200);
        m_port = m_server.readLine().trimmed().toInt();
        QVERIFY(m_port > 0);

        odbc.AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        odbc.SetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        odbc.AllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        const QByteArray cs = QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD={Odbc:pw};"
                                             "TDS_Version=7.4;ClientCharset=UTF-8")
                                  .arg(m_port)
                                  .toUtf8();
        const SQLRETURN r = odbc.DriverConnect(m_dbc, nullptr, (SQLCHAR *)cs.constData(), SQL_NTS, nullptr, 0,
                                               nullptr, SQL_DRIVER_NOPROMPT);
        QVERIFY2(ok(r), qPrintable(diag(SQL_HANDLE_DBC, m_dbc)));
    }

    void cleanupTestCase()
    {
        if (m_dbc) {
            odbc.Disconnect(m_dbc);
            odbc.FreeHandle(SQL_HANDLE_DBC, m_dbc);
            odbc.FreeHandle(SQL_HANDLE_ENV, m_env);
        }
        m_server.terminate();
        QVERIFY(m_server.waitForFinished(10000));
        // The server's own report (a sanitizer's, say) tells why it did not end cleanly.
        QVERIFY2(m_server.exitCode() == 0, m_server.readAllStandardError().right(6000).constData());
    }

    void boundParameters_data()
    {
        QTest::addColumn<int>("cType");
        QTest::addColumn<int>("sqlType");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QByteArray>("data"); // raw C value; empty = NULL
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("traced"); // the parameter's trace line
        auto raw = [](const auto &v) { return QByteArray(reinterpret_cast<const char *>(&v), sizeof v); };
        QTest::newRow("int") << SQL_C_SLONG << SQL_INTEGER << 0 << 0 << raw(SQLINTEGER(-42)) << "-42" << "@P1 int = -42";
        QTest::newRow("bigint") << SQL_C_SBIGINT << SQL_BIGINT << 0 << 0 << raw(SQLBIGINT(9000000000LL))
                                << "9000000000" << "@P1 bigint = 9000000000";
        QTest::newRow("double") << SQL_C_DOUBLE << SQL_DOUBLE << 0 << 0 << raw(2.5) << "2.5" << "@P1 float = 2.5";
        QTest::newRow("narrow text") << SQL_C_CHAR << SQL_VARCHAR << 20 << 0 << QByteArray("abc") << "abc"
                                     << "@P1 varchar(20) = abc";
        const QString wide = QStringLiteral("中文");
        QTest::newRow("wide text") << SQL_C_WCHAR << SQL_WVARCHAR << 20 << 0
                                   << QByteArray(reinterpret_cast<const char *>(wide.utf16()), 4) << "中文"
                                   << "@P1 nvarchar(20) = 中文";
        QTest::newRow("decimal from text") << SQL_C_CHAR << SQL_DECIMAL << 10 << 2 << QByteArray("-12.34") << "-12.34"
                                           << "@P1 decimal(10,2) = -12.34";
        SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 13, 14, 15, 500000000};
        QTest::newRow("timestamp") << SQL_C_TYPE_TIMESTAMP << SQL_TYPE_TIMESTAMP << 23 << 3 << raw(ts)
                                   << "2024-02-29 13:14:15.5000000" << "@P1 datetime2(7) = 2024-02-29 13:14:15.5000000";
        // Seven fraction digits: the driver sends datetime2(7) and nothing is lost on the way.
        SQL_TIMESTAMP_STRUCT ts7{2024, 2, 29, 13, 14, 15, 123456700};
        QTest::newRow("timestamp 100 ns") << SQL_C_TYPE_TIMESTAMP << SQL_TYPE_TIMESTAMP << 27 << 7 << raw(ts7)
                                          << "2024-02-29 13:14:15.1234567"
                                          << "@P1 datetime2(7) = 2024-02-29 13:14:15.1234567";
        QTest::newRow("double exact") << SQL_C_DOUBLE << SQL_DOUBLE << 0 << 0 << raw(0.1 + 0.2) << "0.30000000000000004"
                                      << "@P1 float = 0.30000000000000004";
        QTest::newRow("NULL int") << SQL_C_SLONG << SQL_INTEGER << 0 << 0 << QByteArray() << "NULL"
                                  << "@P1 int = NULL";
        // The driver sends a GUID as uniqueidentifier, its first three groups little-endian.
        SQLGUID guid{0x6F9619FF, 0x8B86, 0xD011, {0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF}};
        QTest::newRow("guid") << SQL_C_GUID << SQL_GUID << 0 << 0 << raw(guid) << "6F9619FF-8B86-D011-B42D-00C04FC964FF"
                              << "@P1 uniqueidentifier = 6F9619FF-8B86-D011-B42D-00C04FC964FF";
    }

    void boundParameters()
    {
        QFETCH(int, cType);
        QFETCH(int, sqlType);
        QFETCH(int, size);
        QFETCH(int, digits);
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QFETCH(QString, traced);
        SQLHSTMT h = newStmt();
        QByteArray buf = data.isEmpty() ? QByteArray(16, '\0') : data;
        SQLLEN ind = data.isEmpty() ? SQL_NULL_DATA : SQLLEN(data.size());
        QVERIFY(ok(odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQLSMALLINT(cType), SQLSMALLINT(sqlType), SQLULEN(size),
                                      SQLSMALLINT(digits), buf.data(), buf.size(), &ind)));
        QVERIFY(exec(h, "SELECT ? AS v"));
        QCOMPARE(firstValue(h), expected);
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QVERIFY2(trace().contains(QStringLiteral("SELECT @P1 AS v\n") + traced + QStringLiteral("\n#### END\n")),
                 qPrintable(trace().right(400)));
    }

    // An output parameter of a call the client makes: the value the statement
    // left in it comes back in a RETURNVALUE token and lands in the buffer the
    // client bound, after the last result. Both parameters are bound as text
    // so that one table covers every type; `outFirst` binds the output first.
    void outputParameters_data()
    {
        QTest::addColumn<QByteArray>("stmt");
        QTest::addColumn<QByteArray>("defs");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("sqlType"); // of both parameters
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("digits");
        QTest::addColumn<bool>("inOut");   // SQL_PARAM_INPUT_OUTPUT with `initial`, else SQL_PARAM_OUTPUT
        QTest::addColumn<QByteArray>("initial");
        QTest::addColumn<bool>("outFirst");
        QTest::addColumn<QString>("expected"); // "NULL" for NULL
        QTest::newRow("int") << QByteArray("SET @o = @i * 2") << QByteArray("@i int, @o int OUTPUT")
                             << QByteArray("21") << SQL_INTEGER << 0 << 0 << false << QByteArray() << false << "42";
        QTest::newRow("int in and out") << QByteArray("SET @o = @o + @i") << QByteArray("@i int, @o int OUTPUT")
                                        << QByteArray("5") << SQL_INTEGER << 0 << 0 << true << QByteArray("10")
                                        << false << "15";
        QTest::newRow("output bound first") << QByteArray("SET @o = @i - 1") << QByteArray("@o int OUTPUT, @i int")
                                            << QByteArray("100") << SQL_INTEGER << 0 << 0 << false << QByteArray()
                                            << true << "99";
        QTest::newRow("nvarchar") << QByteArray("SET @o = @i + N'-x'") << QByteArray("@i nvarchar(10), @o nvarchar(20) OUTPUT")
                                  << QByteArray("ab") << SQL_WVARCHAR << 20 << 0 << false << QByteArray() << false
                                  << "ab-x";
        QTest::newRow("decimal") << QByteArray("SET @o = @i / 4")
                                 << QByteArray("@i decimal(10,3), @o decimal(10,3) OUTPUT") << QByteArray("10.000")
                                 << SQL_DECIMAL << 10 << 3 << false << QByteArray() << false << "2.500";
        QTest::newRow("NULL replaces a value") << QByteArray("SET @o = NULL") << QByteArray("@i int, @o int OUTPUT")
                                               << QByteArray("1") << SQL_INTEGER << 0 << 0 << true << QByteArray("7")
                                               << false << "NULL";
        QTest::newRow("after a result set") << QByteArray("SELECT @i AS echo; SET @o = @i + 1")
                                            << QByteArray("@i int, @o int OUTPUT") << QByteArray("8") << SQL_INTEGER
                                            << 0 << 0 << false << QByteArray() << false << "9";
    }

    void outputParameters()
    {
        QFETCH(QByteArray, stmt);
        QFETCH(QByteArray, defs);
        QFETCH(QByteArray, input);
        QFETCH(int, sqlType);
        QFETCH(int, size);
        QFETCH(int, digits);
        QFETCH(bool, inOut);
        QFETCH(QByteArray, initial);
        QFETCH(bool, outFirst);
        QFETCH(QString, expected);
        SQLHSTMT h = newStmt();
        QByteArray in = input, out(64, '\0');
        std::memcpy(out.data(), initial.constData(), size_t(initial.size()));
        SQLLEN inInd = SQLLEN(in.size()), outInd = inOut ? SQLLEN(initial.size()) : SQL_NULL_DATA;
        const SQLUSMALLINT inNo = outFirst ? 4 : 3, outNo = outFirst ? 3 : 4;
        QVERIFY(ok(odbc.BindParameter(h, inNo, SQL_PARAM_INPUT, SQL_C_CHAR, SQLSMALLINT(sqlType), SQLULEN(size),
                                      SQLSMALLINT(digits), in.data(), in.size(), &inInd)));
        QVERIFY(ok(odbc.BindParameter(h, outNo, inOut ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_OUTPUT, SQL_C_CHAR,
                                      SQLSMALLINT(sqlType), SQLULEN(size), SQLSMALLINT(digits), out.data(),
                                      out.size(), &outInd)));
        // The statement and its definitions are parameters too: the driver
        // then sends the call as an RPC to sp_executesql itself.
        QByteArray text = stmt, definitions = defs;
        SQLLEN textInd = SQLLEN(text.size()), defsInd = SQLLEN(definitions.size());
        QVERIFY(ok(odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 200, 0, text.data(), text.size(),
                                      &textInd)));
        QVERIFY(ok(odbc.BindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 200, 0, definitions.data(),
                                      definitions.size(), &defsInd)));
        QVERIFY(exec(h, "{call sp_executesql(?, ?, ?, ?)}"));
        SQLRETURN r;
        do
            r = odbc.MoreResults(h);
        while (ok(r));
        QCOMPARE(int(r), int(SQL_NO_DATA));
        const QString got = outInd == SQL_NULL_DATA ? QStringLiteral("NULL") : QString::fromUtf8(out.constData());
        QCOMPARE(got, expected);
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
    }

    // A char(n) value comes back blank-padded; as a bound parameter, padded or
    // not and in any case, it finds its row again (Chinese_PRC_CI_AS).
    void textComparedByCollation_data()
    {
        QTest::addColumn<QByteArray>("param");
        QTest::addColumn<QString>("count");
        QTest::newRow("as read") << QByteArray("ab    ") << "1";
        QTest::newRow("unpadded") << QByteArray("ab") << "1";
        QTest::newRow("other case") << QByteArray("AB  ") << "1";
        QTest::newRow("accent differs") << QByteArray("áb") << "0";
        QTest::newRow("leading space") << QByteArray(" ab") << "0";
    }
    void textComparedByCollation()
    {
        QFETCH(QByteArray, param);
        QFETCH(QString, count);
        if (scalar("SELECT OBJECT_ID('padded')") == QStringLiteral("NULL"))
            QVERIFY(exec(newStmt(), "CREATE TABLE padded (k INT PRIMARY KEY, c CHAR(6)) INSERT padded VALUES (1, 'ab')"));
        QCOMPARE(scalar("SELECT c FROM padded"), QStringLiteral("ab    "));
        SQLHSTMT h = newStmt();
        SQLLEN ind = param.size();
        QVERIFY(ok(odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, param.data(), param.size(), &ind)));
        QVERIFY(exec(h, "SELECT COUNT(*) FROM padded WHERE c = ?"));
        QCOMPARE(firstValue(h), count);
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
    }

    void keyIgnoresCase()
    {
        QVERIFY(exec(newStmt(), "CREATE TABLE ci_key (code NVARCHAR(10) PRIMARY KEY) INSERT ci_key VALUES (N'abc')"));
        SQLHSTMT h = newStmt();
        QCOMPARE(odbc.ExecDirect(h, (SQLCHAR *)"INSERT ci_key VALUES (N'ABC')", SQL_NTS), SQLRETURN(SQL_ERROR));
        const QString d = diag(SQL_HANDLE_STMT, h);
        QVERIFY2(d.contains("[23000] ") && d.contains("Violation of PRIMARY KEY constraint"), qPrintable(d));
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QCOMPARE(scalar("SELECT COUNT(*) FROM ci_key"), QStringLiteral("1"));
    }

    void longWideParameter()
    {
        // Longer than 4000 characters: the driver sends it as nvarchar(max) in PLP chunks.
        const QString text = QString(6000, QLatin1Char('x')) + QStringLiteral("尾");
        SQLHSTMT h = newStmt();
        SQLLEN ind = SQLLEN(text.size() * 2);
        QVERIFY(ok(odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR, SQLULEN(text.size()), 0,
                                      const_cast<ushort *>(text.utf16()), ind, &ind)));
        QVERIFY(exec(h, "SELECT LEN(?) AS n"));
        QCOMPARE(firstValue(h), QString::number(text.size()));
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
    }

    void prepareAndExecuteTwice()
    {
        SQLHSTMT h = newStmt();
        SQLINTEGER v = 0;
        SQLLEN ind = 0;
        QVERIFY(ok(odbc.Prepare(h, (SQLCHAR *)"SELECT ? + 1 AS n", SQL_NTS)));
        QVERIFY(ok(odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, &ind)));
        for (int k : {10, 20}) {
            v = k;
            QVERIFY2(ok(odbc.Execute(h)), qPrintable(diag(SQL_HANDLE_STMT, h)));
            QCOMPARE(firstValue(h), QString::number(k + 1));
        }
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        const QString t = trace();
        QVERIFY2(t.contains(QRegularExpression("#### RPC spid=\\d+ sp_prepexec\nSELECT @P1 \\+ 1 AS n\n@P1 int = 10\n")),
                 qPrintable(t.right(600)));
        QVERIFY(t.contains(QRegularExpression("#### RPC spid=\\d+ sp_execute\n@handle int = \\d+\n@P1 int = 20\n"))
                || t.contains(QRegularExpression("#### RPC spid=\\d+ sp_execute\n@ int = \\d+\n@P1 int = 20\n")));
    }

    void describeBeforeExecute()
    {
        SQLHSTMT h = newStmt();
        QVERIFY(ok(odbc.Prepare(h, (SQLCHAR *)"SELECT 1 AS a, N'x' AS b", SQL_NTS)));
        SQLSMALLINT n = -1;
        QVERIFY2(ok(odbc.NumResultCols(h, &n)), qPrintable(diag(SQL_HANDLE_STMT, h)));
        QCOMPARE(int(n), 2);
        QVERIFY(ok(odbc.Execute(h)));
        QCOMPARE(firstValue(h), QStringLiteral("1"));
        odbc.FreeHandle(SQL_HANDLE_STMT, h);

        // Describing a statement that writes must not run it.
        h = newStmt();
        QVERIFY(ok(odbc.Prepare(h, (SQLCHAR *)"CREATE TABLE made_by_describe (i INT) SELECT 1 AS a", SQL_NTS)));
        odbc.NumResultCols(h, &n);
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QCOMPARE(scalar("SELECT COUNT(*) FROM made_by_describe"), QStringLiteral("<error>"));
        QCOMPARE(scalar("CREATE TABLE made_by_execute (i INT) SELECT 1 AS a"), QStringLiteral("1"));
        QCOMPARE(scalar("SELECT COUNT(*) FROM made_by_execute"), QStringLiteral("0"));
    }

    // A plain select carries no browse-mode tokens: the driver learns base
    // tables only after the client asked for them.
    void baseTablesOnlyWhenAsked()
    {
        QVERIFY(exec(newStmt(), "CREATE TABLE browsed (k INT PRIMARY KEY, v NVARCHAR(10)) INSERT browsed VALUES (1, N'a')"));
        auto baseTable = [&](const char *sql) {
            SQLHSTMT h = newStmt();
            QString name = QStringLiteral("<error>");
            if (exec(h, sql)) {
                char buf[256] = {};
                SQLSMALLINT len = 0;
                if (ok(odbc.ColAttribute(h, 2, SQL_DESC_BASE_TABLE_NAME, buf, sizeof buf, &len, nullptr)))
                    name = QString::fromUtf8(buf);
                if (firstValue(h) != QStringLiteral("1"))
                    name = QStringLiteral("<no row>");
            }
            odbc.FreeHandle(SQL_HANDLE_STMT, h);
            return name;
        };
        QCOMPARE(baseTable("SELECT k, v FROM browsed"), QString());
        QCOMPARE(baseTable("SET NO_BROWSETABLE ON SELECT k, v FROM browsed"), QStringLiteral("browsed"));
        QVERIFY(exec(newStmt(), "SET NO_BROWSETABLE OFF"));
        QCOMPARE(baseTable("SELECT k, v FROM browsed"), QString());
    }

    void manualCommitTransactions()
    {
        QVERIFY(exec(newStmt(), "CREATE TABLE txn (id INT)"));
        QVERIFY(ok(odbc.SetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0)));
        SQLHSTMT h = newStmt();
        QVERIFY(exec(h, "INSERT INTO txn VALUES (1)"));
        QVERIFY2(ok(odbc.EndTran(SQL_HANDLE_DBC, m_dbc, SQL_ROLLBACK)), qPrintable(diag(SQL_HANDLE_DBC, m_dbc)));
        QCOMPARE(scalar("SELECT COUNT(*) FROM txn"), QStringLiteral("0"));
        QVERIFY(exec(h, "INSERT INTO txn VALUES (2)"));
        QVERIFY2(ok(odbc.EndTran(SQL_HANDLE_DBC, m_dbc, SQL_COMMIT)), qPrintable(diag(SQL_HANDLE_DBC, m_dbc)));
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QVERIFY(ok(odbc.SetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0)));
        QCOMPARE(scalar("SELECT SUM(id) FROM txn"), QStringLiteral("2"));
        QVERIFY(trace().contains(QRegularExpression("#### TRAN spid=\\d+ BEGIN\n")));
        QVERIFY(trace().contains(QRegularExpression("#### TRAN spid=\\d+ ROLLBACK\n")));
    }

    // Decimal, money, smallmoney and real at their limits through the driver:
    // the type it reports, the value it reads, and the comparison the grid's
    // optimistic check makes with the value bound as a parameter.
    void exactNumbersThroughDriver_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("text");  // as the driver converts it to SQL_C_CHAR; empty = real, read as float
        QTest::addColumn<int>("sqlType");   // SQL_DECIMAL: decimal or numeric
        QTest::addColumn<int>("precision");
        QTest::addColumn<int>("scale");
        QTest::newRow("decimal(38,10)") << "decimal(38,10)" << "1234567890123456789012345678.0123456789"
                                        << "1234567890123456789012345678.0123456789" << SQL_DECIMAL << 38 << 10;
        QTest::newRow("numeric(38,10) lowest") << "numeric(38,10)" << "-9999999999999999999999999999.9999999999"
                                               << "-9999999999999999999999999999.9999999999" << SQL_DECIMAL << 38 << 10;
        QTest::newRow("decimal(18,4)") << "decimal(18,4)" << "-99999999999999.9999" << "-99999999999999.9999"
                                       << SQL_DECIMAL << 18 << 4;
        QTest::newRow("money highest") << "money" << "922337203685477.5807" << "922337203685477.5807" << SQL_DECIMAL << 19 << 4;
        QTest::newRow("money lowest") << "money" << "-922337203685477.5808" << "-922337203685477.5808" << SQL_DECIMAL << 19 << 4;
        QTest::newRow("smallmoney highest") << "smallmoney" << "214748.3647" << "214748.3647" << SQL_DECIMAL << 10 << 4;
        QTest::newRow("smallmoney lowest") << "smallmoney" << "-214748.3648" << "-214748.3648" << SQL_DECIMAL << 10 << 4;
        QTest::newRow("real") << "real" << "0.1" << "" << SQL_REAL << 24 << 0;
    }

    void exactNumbersThroughDriver()
    {
        QFETCH(QString, type);
        QFETCH(QString, literal);
        QFETCH(QString, text);
        QFETCH(int, sqlType);
        QFETCH(int, precision);
        QFETCH(int, scale);
        const QByteArray setup = QStringLiteral("IF OBJECT_ID('odbcnum') IS NOT NULL DROP TABLE odbcnum "
                                                "CREATE TABLE odbcnum (id INT PRIMARY KEY, c %1, other INT) "
                                                "INSERT odbcnum VALUES (1, %2, 0)")
                                     .arg(type, literal)
                                     .toUtf8();
        SQLHSTMT h = newStmt();
        const bool made = exec(h, setup.constData());
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QVERIFY(made);
        h = newStmt();
        QVERIFY(exec(h, "SELECT c FROM odbcnum"));
        SQLLEN concise = 0, prec = 0, sc = 0;
        odbc.ColAttribute(h, 1, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &concise);
        odbc.ColAttribute(h, 1, SQL_DESC_PRECISION, nullptr, 0, nullptr, &prec);
        odbc.ColAttribute(h, 1, SQL_DESC_SCALE, nullptr, 0, nullptr, &sc);
        // The driver reports decimal and numeric columns alike.
        const bool typeOk = sqlType == SQL_REAL ? concise == SQL_REAL
                                                : (concise == SQL_DECIMAL || concise == SQL_NUMERIC) && prec == precision && sc == scale;
        if (!typeOk)
            odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QVERIFY2(typeOk, qPrintable(QStringLiteral("type %1 (%2,%3)").arg(concise).arg(prec).arg(sc)));
        float f = 0;
        QByteArray param;
        if (text.isEmpty()) {
            SQLLEN ind = 0;
            QVERIFY(ok(odbc.Fetch(h)));
            QVERIFY(ok(odbc.GetData(h, 1, SQL_C_FLOAT, &f, sizeof f, &ind)));
            QCOMPARE(f, literal.toFloat());
            odbc.CloseCursor(h);
        } else {
            QCOMPARE(firstValue(h), text);
            param = text.toLatin1();
        }
        odbc.FreeHandle(SQL_HANDLE_STMT, h);

        // WHERE c = CAST(? AS type): a text parameter for exact types, the double a client holds for real.
        h = newStmt();
        double d = double(f);
        SQLLEN ind = text.isEmpty() ? SQLLEN(sizeof d) : SQLLEN(param.size());
        const SQLRETURN bound = text.isEmpty()
            ? odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &d, 0, &ind)
            : odbc.BindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, SQLULEN(param.size()), 0, param.data(),
                                 param.size(), &ind);
        QVERIFY(ok(bound));
        const QByteArray update = QStringLiteral("UPDATE odbcnum SET other = 1 WHERE id = 1 AND c = CAST(? AS %1)")
                                      .arg(type)
                                      .toUtf8();
        QVERIFY(exec(h, update.constData()));
        SQLLEN rows = -1;
        QVERIFY(ok(odbc.RowCount(h, &rows)));
        QCOMPARE(int(rows), 1);
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        // Nothing else in the row moved.
        QCOMPARE(scalar("SELECT COUNT(*) FROM odbcnum WHERE other = 1 AND id = 1"), QStringLiteral("1"));
        if (!text.isEmpty())
            QCOMPARE(scalar("SELECT c FROM odbcnum"), text);
    }

    void queryTimeoutCancelsAndConnectionGoesOn()
    {
        SQLHSTMT h = newStmt();
        QVERIFY(ok(odbc.SetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)1, 0)));
        const SQLRETURN r = odbc.ExecDirect(h, (SQLCHAR *)"WAITFOR DELAY '00:00:20'", SQL_NTS);
        QCOMPARE(r, SQLRETURN(SQL_ERROR));
        QVERIFY(diag(SQL_HANDLE_STMT, h).contains("[HYT00]"));
        odbc.FreeHandle(SQL_HANDLE_STMT, h);
        QCOMPARE(scalar("SELECT 'alive'"), QStringLiteral("alive"));
    }
};

QTEST_APPLESS_MAIN(TstTdsOdbc)
#include "tst_tdsodbc.moc"
