// Hostile and unusual input on every page, through the real ODBC driver
// against the test server: quotes, brackets, semicolons and comment markers in
// names and paths, Chinese and emoji, blanks, empty fields, NUL characters,
// very long paths, missing folders, megabyte and ten-thousand-line console
// statements. Each batch must reach the server exactly as composed, each
// outcome must be the operation's own message (and true: a reported success
// left its trace on disk or in the catalogue), and the log only grows.
#include "app/application.h"
#include "client/dbclient.h"
#include "core/sqltext.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "core/operations.h"
#include "support/boxcapture.h"
#include "support/odbclogin.h"
#include "support/operatorinput.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include <optional>

namespace {

enum class Expect { Ok, Fail };

struct OpTexts {
    QString title, ok, fail;
};

OpTexts opTexts(const QString &op)
{
    static const QHash<QString, QPair<QString, QString>> t{
        {"create", {"创建", "1105"}}, {"backup", {"备份", "1100"}}, {"restore", {"还原", "1101"}},
        {"detach", {"分离", "1102"}}, {"attach", {"附加", "1103"}}, {"drop", {"删除", "1104"}},
        {"shrink", {"压缩", "1110"}}};
    const auto v = t.value(op);
    return {v.first + QStringLiteral("数据库"),
            QStringLiteral("操作编号:%1\r\n\r\n%2成功,可进行其它操作").arg(v.second, v.first),
            QStringLiteral("错误编号:1001\r\n\r\n%1失败,请检查网络情况").arg(v.first)};
}

} // namespace

Q_DECLARE_METATYPE(Expect)

class TestBadInput : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void maintenanceInputs_data();
    void maintenanceInputs();
    void consoleInputs_data();
    void consoleInputs();
    void loginInputs_data();
    void loginInputs();

private:
    QString files() const { return m_server.filesDir(); }
    QString dbExists(const QString &name); // "1" or "0" through a second connection
    void prepare(const QString &setup);     // a row's own state, through the second connection
    // The operator's typing into a field, and click on a button, on its page.
    bool type(QWidget *field, const QString &text) { return dvtest::typeOnPage(*win, field, text); }
    bool press(QWidget *button) { return dvtest::clickOnPage(*win, button); }

    dvtest::TestServerProcess m_server;
    std::unique_ptr<TFMAIN> win;
    std::unique_ptr<dv::Connection> m_check;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
};

void TestBadInput::initTestCase()
{
    m_boxes.emplace();
    dv::FileDialog::responder = [](dv::FileDialog &) { return false; };
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    win = std::make_unique<TFMAIN>(dv::makeOdbcConnection());
    dvtest::loginThroughFields(*win, m_server);
    QVERIFY(win->conn->isConnected());
    dv::ConnectParams p;
    p.server = m_server.server();
    p.user = m_server.user();
    p.password = m_server.password();
    m_check = dv::makeOdbcConnection();
    m_check->open(p);
}

void TestBadInput::cleanupTestCase()
{
    win.reset();
    m_check.reset();
    m_boxes.reset();
    dv::FileDialog::responder = nullptr;
}

void TestBadInput::init()
{
    m_boxes->clear();
}

QString TestBadInput::dbExists(const QString &name)
{
    dv::Statement st;
    st.text = QStringLiteral("select count(*) as n from master..sysdatabases where name = N'%1'")
                  .arg(QString(name).replace(QLatin1Char('\''), QStringLiteral("''")));
    const dv::RunResult r = m_check->open(st);
    return r.rows && r.rows->rowCount() == 1 ? r.rows->text(0, 0) : QString();
}

void TestBadInput::prepare(const QString &setup)
{
    auto run = [this](const QStringList &lines) {
        dv::Statement st;
        st.text = QStringLiteral("use master\r\n") + lines.join(QStringLiteral("\r\n"));
        m_check->execute(st);
    };
    auto createLines = [this](const QString &db) {
        dv::CreateDatabaseFields cf;
        cf.db = db;
        cf.mFile = files() + QLatin1Char('/') + db + QStringLiteral(".mdf");
        cf.mSize = QStringLiteral("8"); // MB: the size of model
        cf.mGrowth = QStringLiteral("1");
        cf.lFile = files() + QLatin1Char('/') + db + QStringLiteral(".ldf");
        cf.lSize = QStringLiteral("1");
        cf.lGrowth = QStringLiteral("1");
        return dv::createDatabaseLines(cf);
    };
    if (setup == QLatin1String("source backup")) {
        // A backup whose database is gone, so that restoring it under another
        // name finds its file names free.
        const QString db = QStringLiteral("还原源");
        run(createLines(db));
        run({QStringLiteral("backup database %1 to disk=N'%2/%1.bak'").arg(db, files())});
        run(dv::dropLines(db));
        QVERIFY(QFile::exists(files() + QStringLiteral("/还原源.bak")));
    } else if (setup == QLatin1String("drop target")) {
        run(createLines(QStringLiteral("删除库")));
        QCOMPARE(dbExists(QStringLiteral("删除库")), QStringLiteral("1"));
    } else {
        QVERIFY2(setup.isEmpty(), qPrintable(setup));
    }
}

void TestBadInput::maintenanceInputs_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("db");    // the database field of the page
    QTest::addColumn<QString>("path");  // the page's path field (data file for create/attach)
    QTest::addColumn<Expect>("expect");
    // State a row needs, made just before it through a second connection:
    // "" none, "source backup" a backup of a database that no longer exists
    // (@F@/还原源.bak), "drop target" a database 删除库 to drop.
    QTest::addColumn<QString>("setup");
    const QString f = QStringLiteral("@F@"); // replaced by the server's files folder
    const QString longName = QString(240, QLatin1Char('n'));
    const QString longPath = f + QLatin1Char('/') + QString(300, QLatin1Char('p')) + QStringLiteral(".bak");
    const QString deepPath = f + QStringLiteral("/a").repeated(1200) + QStringLiteral("/x.bak");

    QTest::newRow("backup: chinese path") << "backup" << "master" << f + "/备份 文件.bak" << Expect::Ok << QString();
    QTest::newRow("backup: emoji path") << "backup" << "master" << f + "/😀.bak" << Expect::Ok << QString();
    QTest::newRow("backup: quote in path") << "backup" << "master" << f + "/it's.bak" << Expect::Fail << QString();
    QTest::newRow("backup: semicolon in path") << "backup" << "master" << f + "/a;b.bak" << Expect::Ok << QString();
    QTest::newRow("backup: comment marker in path") << "backup" << "master" << f + "/a--b.bak" << Expect::Ok << QString();
    QTest::newRow("backup: missing folder") << "backup" << "master" << f + "/nosuch/dir/x.bak" << Expect::Fail << QString();
    QTest::newRow("backup: empty path") << "backup" << "master" << "" << Expect::Fail << QString();
    QTest::newRow("backup: empty database") << "backup" << "" << f + "/e.bak" << Expect::Fail << QString();
    QTest::newRow("backup: name with blanks around") << "backup" << " master " << f + "/b.bak" << Expect::Ok << QString();
    QTest::newRow("backup: name with bracket") << "backup" << "mas]ter" << f + "/c.bak" << Expect::Fail << QString();
    QTest::newRow("backup: name with comment") << "backup" << "master --" << f + "/d.bak" << Expect::Fail << QString();
    QTest::newRow("backup: name with semicolon and drop")
        << "backup" << "master; drop database nothere" << f + "/g.bak" << Expect::Fail << QString();
    QTest::newRow("backup: 300-character file name") << "backup" << "master" << longPath << Expect::Fail << QString();
    QTest::newRow("backup: 2400-character path") << "backup" << "master" << deepPath << Expect::Fail << QString();
    QTest::newRow("backup: NUL in path") << "backup" << "master" << f + QStringLiteral("/n") + QChar(0) + "ul.bak"
                                         << Expect::Fail << QString();
    QTest::newRow("backup: colon marker in path") << "backup" << "master" << f + "/:x.bak" << Expect::Ok << QString();
    QTest::newRow("restore: missing file") << "restore" << "rdb" << f + "/none.bak" << Expect::Fail << QString();
    QTest::newRow("restore: chinese name") << "restore" << "还原库" << f + "/还原源.bak" << Expect::Ok
                                         << "source backup";
    QTest::newRow("restore: quote in name") << "restore" << "r'db" << f + "/备份 文件.bak" << Expect::Fail << QString();
    QTest::newRow("create: chinese name") << "create" << "中文库" << f + "/中文库.mdf" << Expect::Ok << QString();
    QTest::newRow("create: emoji name") << "create" << "db😀" << f + "/db😀.mdf" << Expect::Fail << QString();
    QTest::newRow("create: quote in name") << "create" << "bad'name" << f + "/bad.mdf" << Expect::Fail << QString();
    QTest::newRow("create: bracket in name") << "create" << "[br]" << f + "/br.mdf" << Expect::Fail << QString();
    QTest::newRow("create: 240-character name") << "create" << longName << f + "/long.mdf" << Expect::Fail << QString();
    QTest::newRow("create: missing folder") << "create" << "nofolder" << f + "/nosuch/x.mdf" << Expect::Fail << QString();
    QTest::newRow("create: empty name") << "create" << "" << f + "/empty.mdf" << Expect::Fail << QString();
    QTest::newRow("detach: unknown") << "detach" << "nosuchdb" << "" << Expect::Fail << QString();
    QTest::newRow("detach: comment only") << "detach" << "--" << "" << Expect::Fail << QString();
    QTest::newRow("attach: missing files") << "attach" << "att" << f + "/none.mdf" << Expect::Fail << QString();
    QTest::newRow("drop: chinese name") << "drop" << "删除库" << "" << Expect::Ok << "drop target";
    QTest::newRow("drop: unknown with quote") << "drop" << "x'y" << "" << Expect::Fail << QString();
    QTest::newRow("drop: blank") << "drop" << " " << "" << Expect::Fail << QString();
    QTest::newRow("shrink: semicolon") << "shrink" << "master;" << "" << Expect::Fail << QString();
    QTest::newRow("shrink: emoji") << "shrink" << "😀" << "" << Expect::Fail << QString();
}

void TestBadInput::maintenanceInputs()
{
    QFETCH(QString, op);
    QFETCH(QString, db);
    QFETCH(QString, path);
    QFETCH(Expect, expect);
    QFETCH(QString, setup);
    path.replace(QStringLiteral("@F@"), files());
    try {
        prepare(setup);
    } catch (const dv::DbError &e) {
        QFAIL(qPrintable(QStringLiteral("set-up \"%1\" failed: %2").arg(setup, e.message())));
    }
    if (QTest::currentTestFailed())
        return;
    const QString logBefore = win->tb_memo->toPlainText();
    const qsizetype traceBefore = m_server.trace().size();

    QStringList lines;
    if (op == "backup") {
        QVERIFY(type(win->cb_db, db));
        QVERIFY(type(win->tb_bak_path, path));
        lines = dv::backupLines(win->cb_db->currentText(), win->tb_bak_path->text());
        QVERIFY(press(win->Button3));
    } else if (op == "restore") {
        QVERIFY(type(win->cb_db2, db));
        QVERIFY(type(win->tb_bak_path2, path));
        lines = dv::restoreLines(win->cb_db2->currentText(), win->tb_bak_path2->text());
        QVERIFY(press(win->Button5));
    } else if (op == "create") {
        QVERIFY(type(win->tb_db, db));
        QVERIFY(type(win->tb_m_file, path));
        QVERIFY(type(win->tb_m_size, QStringLiteral("8"))); // MB: the size of model
        QVERIFY(type(win->tb_m_group, QStringLiteral("1")));
        QVERIFY(type(win->tb_m_max, QString()));
        QVERIFY(type(win->tb_l_file, QString(path).replace(QStringLiteral(".mdf"), QStringLiteral(".ldf"))));
        QVERIFY(type(win->tb_l_size, QStringLiteral("1")));
        QVERIFY(type(win->tb_l_group, QStringLiteral("1")));
        QVERIFY(type(win->tb_l_max, QString()));
        const bool filled = !db.isEmpty();
        QVERIFY(press(win->Button15));
        if (!filled) { // the page refuses an empty name before composing anything
            QVERIFY(m_server.trace().size() == traceBefore);
            QCOMPARE(win->tb_memo->toPlainText(), logBefore);
            return;
        }
        dv::CreateDatabaseFields cf;
        cf.db = db;
        cf.mFile = path;
        cf.mSize = QStringLiteral("8");
        cf.mGrowth = QStringLiteral("1");
        cf.lFile = win->tb_l_file->text();
        cf.lSize = QStringLiteral("1");
        cf.lGrowth = QStringLiteral("1");
        lines = dv::createDatabaseLines(cf);
    } else if (op == "detach") {
        QVERIFY(type(win->cb_db3, db));
        lines = dv::detachLines(db);
        QVERIFY(press(win->Button7));
    } else if (op == "attach") {
        QVERIFY(type(win->cb_db4, db));
        QVERIFY(type(win->tb_m_path, path));
        QVERIFY(type(win->tb_l_path, path + QStringLiteral(".ldf")));
        lines = dv::attachLines(db, path, path + QStringLiteral(".ldf"));
        QVERIFY(press(win->Button9));
    } else if (op == "drop") {
        QVERIFY(type(win->cb_db5, db));
        lines = dv::dropLines(db);
        QVERIFY(press(win->Button11));
    } else if (op == "shrink") {
        QVERIFY(type(win->cb_db6, db));
        lines = dv::shrinkLines(db);
        QVERIFY(press(win->Button13));
    }
    const OpTexts t = opTexts(op);
    const QString log = win->tb_memo->toPlainText();
    QVERIFY2(log.startsWith(logBefore), "the log lost earlier text");
    if (m_boxes->messages.isEmpty()) {
        // A page may refuse an unfilled field before composing: nothing sent.
        QVERIFY(db.isEmpty() || db.trimmed().isEmpty() || path.isEmpty());
        QCOMPARE(log, logBefore);
        return;
    }
    QCOMPARE(m_boxes->messages.size(), 1);
    QVERIFY2(m_boxes->messages[0] == t.ok || m_boxes->messages[0] == t.fail, qPrintable(m_boxes->messages[0]));
    const bool ok = m_boxes->messages[0] == t.ok;
    // SQL Server refuses both names (an identifier holds at most 128
    // characters; a regular identifier holds no supplementary character such
    // as an emoji); the test server still accepts them.
    static const QStringList laxServer{QStringLiteral("create: emoji name"), QStringLiteral("create: 240-character name")};
    if (laxServer.contains(QString::fromUtf8(QTest::currentDataTag())))
        QEXPECT_FAIL("", "the test server accepts a name SQL Server refuses", Abort);
    QVERIFY2(ok == (expect == Expect::Ok), qPrintable(m_server.trace().mid(traceBefore)));
    QCOMPARE(m_boxes->errors, QStringList{});

    // The batch went out as composed: "use master" then the lines, each with
    // CR LF, after the parameter-marker rewrite every command text gets.
    const QString composed = QStringLiteral("use master\r\n") + lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    const dv::MarkerScan scan = dv::scanParameterMarkers(composed);
    const QString sent = m_server.trace().mid(traceBefore);
    if (!composed.contains(QChar(0)))
        QVERIFY2(sent.contains(scan.text), qPrintable(sent.left(2000)));

    // The log entry: title, the batch, the outcome word, nothing else lost.
    const QString added = log.mid(logBefore.size());
    QVERIFY(added.contains(t.title));
    QVERIFY(added.contains(ok ? QStringLiteral("操作成功") : QStringLiteral("操作失败")));
    QVERIFY(added.contains(QStringLiteral("use master")));

    // A success is true.
    if (ok && op == "backup")
        QVERIFY2(QFile::exists(path), qPrintable(path));
    if (ok && op == "create")
        QCOMPARE(dbExists(db), QStringLiteral("1"));
    if (ok && (op == "drop" || op == "detach"))
        QCOMPARE(dbExists(db), QStringLiteral("0"));
}

void TestBadInput::consoleInputs_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<Expect>("expect");
    // A megabyte on one line without a space, as a generated literal comes:
    // wrapping such a line took the editor minutes (the test then runs out
    // of time); unwrapped it takes about a second.
    const QString big = QStringLiteral("select '") + QString(1024 * 1024, QLatin1Char('x'))
        + QStringLiteral("' as big");
    QString manyLines;
    for (int i = 0; i < 10000; ++i)
        manyLines += QStringLiteral("-- line %1\r\n").arg(i);
    manyLines += QStringLiteral("select 10000 as n");
    QString manyRows = QStringLiteral("select 1 as n");
    for (int i = 2; i <= 400; ++i)
        manyRows += QStringLiteral("\nunion all select %1").arg(i);
    QTest::newRow("1 MB statement") << big << Expect::Ok;
    QTest::newRow("10,000-line statement") << manyLines << Expect::Ok;
    QTest::newRow("400-line union") << manyRows << Expect::Ok;
    QTest::newRow("chinese and emoji") << QStringLiteral("select N'中文😀' as 列") << Expect::Ok;
    QTest::newRow("NUL inside literal") << QStringLiteral("select 'a") + QChar(0) + QStringLiteral("b' as v") << Expect::Fail;
    QTest::newRow("unclosed quote") << QStringLiteral("select 'abc as v") << Expect::Fail;
    QTest::newRow("unclosed bracket") << QStringLiteral("select 1 as [abc") << Expect::Fail;
    QTest::newRow("block comment open") << QStringLiteral("select 1 as v /* no end") << Expect::Fail;
    QTest::newRow("only a comment") << QStringLiteral("-- nothing") << Expect::Ok;
    QTest::newRow("empty") << QString() << Expect::Ok;
    QTest::newRow("blanks only") << QStringLiteral("   \r\n\t ") << Expect::Ok;
    QTest::newRow("semicolons") << QStringLiteral(";;;select 1 as v;;;") << Expect::Ok;
    QTest::newRow("colon markers") << QStringLiteral("select :a as v") << Expect::Fail;
    QTest::newRow("stacked statements") << QStringLiteral("select 1 as a; select 2 as b") << Expect::Ok;
    QTest::newRow("error after rows") << QStringLiteral("select 1 as a\r\nselect * from nosuchtable") << Expect::Fail;
    QTest::newRow("raiserror") << QStringLiteral("raiserror('boom', 16, 1)") << Expect::Fail;
}

void TestBadInput::consoleInputs()
{
    QFETCH(QString, sql);
    QFETCH(Expect, expect);
    const QString logBefore = win->tb_memo->toPlainText();
    if (sql.size() > 1000) { // what nobody types: pasted
        QVERIFY(dvtest::clickPageOf(*win, win->RtSql));
        QVERIFY(dvtest::pasteInto(win->RtSql, sql));
        QCOMPARE(dvtest::textOf(win->RtSql), QString(sql).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    } else {
        QVERIFY(type(win->RtSql, sql));
    }
    QVERIFY(press(win->btnExec));
    const QString log = win->tb_memo->toPlainText();
    QVERIFY(m_boxes->errors.size() <= 1);
    QCOMPARE(m_boxes->messages, QStringList{});
    const bool ok = m_boxes->errors.isEmpty();
    QVERIFY2(ok == (expect == Expect::Ok), qPrintable(m_boxes->errors.value(0)));
    if (ok) {
        QVERIFY(log.startsWith(logBefore));
        // The whole statement is in the entry (the memo shows CR LF as one break).
        const QString added = log.mid(logBefore.size());
        QVERIFY(added.contains(QStringLiteral("执行sql：")));
        QVERIFY(added.contains(sql) || added.contains(QString(sql).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));
    } else {
        QVERIFY(!m_boxes->errors[0].isEmpty());
        QCOMPARE(log, logBefore);
    }
    // The connection is still good for the next statement.
    m_boxes->errors.clear();
    QVERIFY(type(win->RtSql, QStringLiteral("select 7 as seven")));
    QVERIFY(press(win->btnExec));
    QCOMPARE(m_boxes->errors, QStringList{});
    QCOMPARE(win->dsResult->rowCount(), 1);
}

void TestBadInput::loginInputs_data()
{
    QTest::addColumn<QString>("server"); // "@S@" = the test server
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("server with semicolon") << "@S@;Database=master" << "sa" << "@P@";
    QTest::newRow("server with braces") << "{@S@}" << "sa" << "@P@";
    QTest::newRow("chinese server") << "服务器" << "sa" << "@P@";
    QTest::newRow("user with quote") << "@S@" << "s'a" << "@P@";
    QTest::newRow("user chinese") << "@S@" << "用户" << "@P@";
    QTest::newRow("password with brace-semicolon") << "@S@" << "sa" << "x};Server=elsewhere";
    QTest::newRow("password with NUL") << "@S@" << "sa" << QStringLiteral("a") + QChar(0) + "b";
    QTest::newRow("blank server") << " " << "sa" << "@P@";
}

void TestBadInput::loginInputs()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    server.replace(QStringLiteral("@S@"), m_server.server());
    password.replace(QStringLiteral("@P@"), m_server.password());
    TFMAIN w(dv::makeOdbcConnection());
    QVERIFY(dvtest::typeOnPage(w, w.tb_server, server));
    QVERIFY(dvtest::typeOnPage(w, w.tb_uid, user));
    QVERIFY(dvtest::typeOnPage(w, w.tb_pwd, password));
    QVERIFY(dvtest::clickOnPage(w, w.Button1));
    // None of these names a reachable server with a valid login: silent.
    QVERIFY(!w.conn->isConnected());
    QCOMPARE(w.tb_memo->toPlainText(), QString());
    QCOMPARE(m_boxes->messages, QStringList{});
    QCOMPARE(m_boxes->errors, QStringList{});
    QVERIFY(w.tb_server->isEnabled());
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestBadInput t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_badinput.moc"
