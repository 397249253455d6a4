// Faults met through the real ODBC driver against the test server: the server
// killed or restarted while logged in, dying in the middle of a batch, a
// dropped connection during a console statement, a login that is never
// answered, statements past the command time-out, and F10 saves that cannot
// be written. Each case checks the reported outcome, that the log stays
// intact, and that logging out and in again works afterwards.
#include "app/application.h"
#include "client/dbclient.h"
#include "client/query.h"
#include "console/resultmodel.h"
#include "core/oplog.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/odbclogin.h"
#include "support/operatorinput.h"
#include "support/testserverprocess.h"
#include "support/unprivileged.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <atomic>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <thread>

namespace {

const QString kBackupFailed = QStringLiteral("错误编号:1001\r\n\r\n备份失败,请检查网络情况");
const QString kDropFailed = QStringLiteral("错误编号:1001\r\n\r\n删除失败,请检查网络情况");
const QString kBackupOk = QStringLiteral("操作编号:1100\r\n\r\n备份成功,可进行其它操作");

// Number of requests (batches, RPCs, transaction requests) in a trace.
int traceRequests(const QString &trace)
{
    static const QRegularExpression re(QStringLiteral("^#### (BATCH|RPC|TRAN) "),
                                       QRegularExpression::MultilineOption);
    return int(trace.count(re));
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void maintenanceAfterServerLoss_data();
    void maintenanceAfterServerLoss();
    void serverDiesWhileAnsweringBackup();
    void connectionDroppedDuringConsoleStatement();
    void consoleStatementPastCommandTimeout();
    void maintenancePastCommandTimeout();
    void loginNeverAnswered();
    void tlsHandshakeNeverAnswered();
    void tlsHandshakeRejected_data();
    void tlsHandshakeRejected();
    void logSaveFailures_data();
    void logSaveFailures();
    void logSaveReplacesChangedFile();
    void logSaveIntoReadOnlyFolder_data();
    void logSaveIntoReadOnlyFolder();

private:
    bool startServer(const QStringList &args = {});
    bool login();
    // As the operator: the login page's "断开[&1]".
    bool logout() { return dvtest::clickPage(*win, 0) && dvtest::clickOn(win->Button1); }
    // As the operator: type the statement on the console page and click "执行".
    bool runConsole(const QString &sql);
    // As the operator: back master up to `fileName` in the server's files folder.
    bool runBackup(const QString &fileName);
    // "" when the login page shows one of its two states and it matches the
    // connection; otherwise what is wrong.
    QString loginPageProblem() const;
    QString memo() const { return win->tb_memo->toPlainText(); }
    // The tool is usable again: log out (if still logged in), restart a
    // healthy server, log in, run a backup and a console statement.
    void checkRecovers();

    std::unique_ptr<dvtest::TestServerProcess> m_server;
    std::unique_ptr<TFMAIN> win;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
};

void TestFaults::init()
{
    m_boxes.emplace();
    dv::FileDialog::responder = [](dv::FileDialog &) { return false; };
    m_server = std::make_unique<dvtest::TestServerProcess>();
    win = std::make_unique<TFMAIN>(dv::makeOdbcConnection());
}

void TestFaults::cleanup()
{
    win.reset();
    m_server.reset();
    m_boxes.reset();
    dv::FileDialog::responder = nullptr;
}

bool TestFaults::startServer(const QStringList &args)
{
    if (!m_server->start(args)) {
        qWarning("%s", qPrintable(m_server->error()));
        return false;
    }
    return true;
}

bool TestFaults::login()
{
    if (!dvtest::loginThroughFields(*win, *m_server)) {
        QTest::qFail("the login page could not be used as the operator uses it", __FILE__, __LINE__);
        return false;
    }
    return win->conn->isConnected();
}

bool TestFaults::runConsole(const QString &sql)
{
    return dvtest::clickPage(*win, 9) && dvtest::typeInto(win->RtSql, sql) && dvtest::clickOn(win->btnExec);
}

bool TestFaults::runBackup(const QString &fileName)
{
    return dvtest::clickPage(*win, 2) && dvtest::typeInto(win->cb_db, QStringLiteral("master"))
           && dvtest::typeInto(win->tb_bak_path, m_server->filesDir() + QLatin1Char('/') + fileName)
           && dvtest::clickOn(win->Button3);
}

QString TestFaults::loginPageProblem() const
{
    const TFMAIN &w = *win;
    const bool locked = !w.tb_server->isEnabled() && !w.rb1->isEnabled() && !w.rb2->isEnabled()
                        && !w.tb_uid->isEnabled() && !w.tb_pwd->isEnabled();
    if (w.conn->isConnected() && w.Button1->text() == QStringLiteral("断开[&1]")
        && w.lbl_ini->text() == QStringLiteral("登录中") && locked)
        return {};
    if (!w.conn->isConnected() && w.Button1->text() == QStringLiteral("登录[&1]")
        && w.lbl_ini->text() == QStringLiteral("未连接") && w.tb_server->isEnabled() && w.rb1->isEnabled()
        && w.rb2->isEnabled() && w.tb_uid->isEnabled() && w.tb_pwd->isEnabled())
        return {};
    return QStringLiteral("connected %1, button \"%2\", label \"%3\", server field %4")
        .arg(w.conn->isConnected() ? QStringLiteral("yes") : QStringLiteral("no"), w.Button1->text(),
             w.lbl_ini->text(), w.tb_server->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
}

void TestFaults::checkRecovers()
{
    if (win->conn->isConnected()) {
        const QString before = memo();
        QVERIFY(logout());
        QVERIFY(!win->conn->isConnected());
        QCOMPARE(loginPageProblem(), QString());
        QVERIFY2(memo().startsWith(before), "logging out rewrote the log");
        QVERIFY(memo().contains(QStringLiteral("成功退出数据库服务器:[")));
    }
    m_server->kill();
    QVERIFY(startServer());
    QVERIFY(login());
    m_boxes->clear();
    QVERIFY(runBackup(QStringLiteral("after.bak")));
    QCOMPARE(m_boxes->messages, QStringList{kBackupOk});
    QVERIFY(QFile::exists(m_server->filesDir() + QStringLiteral("/after.bak")));
    QVERIFY(runConsole(QStringLiteral("select 1 as one")));
    QCOMPARE(m_boxes->errors, QStringList{});
    QVERIFY(memo().contains(QStringLiteral("执行sql：select 1 as one")));
}

void TestFaults::maintenanceAfterServerLoss_data()
{
    QTest::addColumn<bool>("restart"); // restarted (new port) rather than killed
    QTest::newRow("killed between operations") << false;
    QTest::newRow("restarted while logged in") << true;
}

void TestFaults::maintenanceAfterServerLoss()
{
    // The whole road as the operator walks it: log in, the server goes away,
    // an operation fails with its own message, "断开[&1]" brings the page
    // back to its start state, and a login to the server at its new address
    // works without restarting the program.
    QFETCH(bool, restart);
    QVERIFY(startServer());
    QVERIFY(login());
    const QString oldAddress = m_server->server();
    QVERIFY(runBackup(QStringLiteral("one.bak")));
    QCOMPARE(m_boxes->messages, QStringList{kBackupOk});
    m_boxes->messages.clear();

    if (restart)
        QVERIFY(m_server->restart());
    else
        m_server->kill();
    const QString logBefore = memo();

    QVERIFY(runBackup(QStringLiteral("two.bak")));
    QCOMPARE(m_boxes->messages, QStringList{kBackupFailed});
    QVERIFY2(memo().startsWith(logBefore), "the failure rewrote earlier entries");
    const QString added = memo().mid(logBefore.size());
    QVERIFY2(added.contains(QStringLiteral("备份数据库")) && added.contains(QStringLiteral("two.bak"))
                 && added.contains(QStringLiteral("操作失败")),
             qPrintable(added));
    QVERIFY(!added.contains(QStringLiteral("操作成功")));
    // Still logged in: the window changes state only by login and logout.
    QCOMPARE(loginPageProblem(), QString());
    QVERIFY(win->conn->isConnected());

    // The console fails through the error display and logs nothing.
    const QString logBeforeConsole = memo();
    m_boxes->messages.clear();
    QVERIFY(runConsole(QStringLiteral("select 1 as one")));
    QCOMPARE(win->pc->currentIndex(), 9); // the gate let the page open
    QCOMPARE(m_boxes->messages, QStringList{});
    QCOMPARE(m_boxes->errors.size(), 1);
    QVERIFY2(m_boxes->errors[0].contains(QStringLiteral("Communication link failure")), qPrintable(m_boxes->errors[0]));
    QCOMPARE(memo(), logBeforeConsole);
    QCOMPARE(loginPageProblem(), QString());

    // "断开[&1]" logs out: start state, logged, no login attempt.
    QVERIFY(logout());
    QCOMPARE(loginPageProblem(), QString());
    QVERIFY(!win->conn->isConnected());
    QVERIFY(win->tb_uid->text().isEmpty() && win->tb_pwd->text().isEmpty() && win->rb1->isChecked());
    QCOMPARE(win->tb_server->text(), oldAddress);
    QVERIFY(memo().endsWith(QStringLiteral("成功退出数据库服务器:[%1]\n%2\n").arg(oldAddress, QString(38, u'-'))));
    QCOMPARE(m_boxes->messages, QStringList{});
    // The gate is closed again.
    QVERIFY(dvtest::clickPage(*win, 2));
    QCOMPARE(win->pc->currentIndex(), 0);
    QCOMPARE(m_boxes->messages.size(), 1);
    m_boxes->clear();

    // A server at a new address: typed into the server field, logged in.
    if (!restart) // (a restarted server already listens at its new address)
        QVERIFY(startServer());
    QVERIFY(m_server->server() != oldAddress);
    QVERIFY(login());
    QCOMPARE(loginPageProblem(), QString());
    QVERIFY(memo().contains(QStringLiteral("成功登录数据库服务器:[%1]").arg(m_server->server())));
    QVERIFY(runBackup(QStringLiteral("three.bak")));
    QCOMPARE(m_boxes->messages, QStringList{kBackupOk});
    QVERIFY(QFile::exists(m_server->filesDir() + QStringLiteral("/three.bak")));
    QVERIFY(runConsole(QStringLiteral("select 1 as one")));
    QCOMPARE(m_boxes->errors, QStringList{});
    QVERIFY(memo().endsWith(QStringLiteral("执行sql：select 1 as one\n%1\n").arg(QString(38, u'-'))));
}

void TestFaults::serverDiesWhileAnsweringBackup()
{
    // Count the requests a login makes, then let the server die while it
    // writes the answer to the next one: the backup batch.
    QVERIFY(startServer());
    QVERIFY(login());
    const int loginRequests = traceRequests(m_server->trace());
    QVERIFY(loginRequests >= 1);
    QVERIFY(logout());
    QVERIFY(m_server->restart({QStringLiteral("--die-after"), QString::number(loginRequests + 1)}));
    QVERIFY(login());
    m_boxes->messages.clear();
    const QString logBefore = memo();
    QVERIFY(runBackup(QStringLiteral("mid.bak")));
    QCOMPARE(m_boxes->messages, QStringList{kBackupFailed});
    QVERIFY(m_server->trace().contains(QStringLiteral("mid.bak")));
    QVERIFY(memo().startsWith(logBefore));
    QVERIFY(memo().mid(logBefore.size()).contains(QStringLiteral("操作失败")));
    QVERIFY(m_server->process()->waitForFinished(10000));
    checkRecovers();
}

void TestFaults::connectionDroppedDuringConsoleStatement()
{
    QVERIFY(startServer());
    QVERIFY(login());
    const QString logBefore = memo();
    // The statement blocks the window's thread; another one kills the server
    // once the server's trace shows the statement arrived (the server writes
    // it before running the batch), so the kill lands while it runs.
    const qint64 pid = m_server->process()->processId();
    QVERIFY(dvtest::clickPage(*win, 9));
    QVERIFY(dvtest::typeInto(win->RtSql, QStringLiteral("waitfor delay '00:00:20'\r\nselect 1 as late")));
    const QString tracePath = m_server->tracePath();
    std::atomic<bool> killed{false};
    std::thread killer([pid, tracePath, &killed] {
        for (int i = 0; i < 600 && !killed; ++i) {
            QFile f(tracePath);
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains("select 1 as late")) {
                ::kill(pid_t(pid), SIGKILL);
                killed = true;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    });
    QVERIFY(dvtest::clickOn(win->btnExec));
    killer.join();
    QVERIFY2(killed, "the statement never reached the server's trace");
    QCOMPARE(m_boxes->errors.size(), 1);
    QCOMPARE(memo(), logBefore);
    QCOMPARE(win->dsResult->rowCount(), 0);
    checkRecovers();
}

void TestFaults::consoleStatementPastCommandTimeout()
{
    QVERIFY(startServer());
    QVERIFY(login());
    const QString logBefore = memo();
    win->AdoQExec->setCommandTimeout(2);
    QVERIFY(runConsole(QStringLiteral("waitfor delay '00:00:20'")));
    QCOMPARE(m_boxes->errors.size(), 1);
    QCOMPARE(memo(), logBefore);
    // The same connection still serves the next statement.
    m_boxes->errors.clear();
    QVERIFY(runConsole(QStringLiteral("select 2 as two")));
    QCOMPARE(m_boxes->errors, QStringList{});
    QVERIFY(memo().contains(QStringLiteral("执行sql：select 2 as two")));
    checkRecovers();
}

void TestFaults::maintenancePastCommandTimeout()
{
    QVERIFY(startServer());
    QVERIFY(login());
    m_boxes->messages.clear();
    const QString logBefore = memo();
    win->q->setCommandTimeout(2);
    // Names go into the batch as typed, so a name can carry a long statement.
    QVERIFY(dvtest::clickPage(*win, 6));
    QVERIFY(dvtest::typeInto(win->cb_db5, QStringLiteral("nosuchdb waitfor delay '00:00:20'")));
    QVERIFY(dvtest::clickOn(win->Button11));
    QCOMPARE(m_boxes->messages, QStringList{kDropFailed});
    QVERIFY(memo().startsWith(logBefore));
    const QString added = memo().mid(logBefore.size());
    QVERIFY2(added.contains(QStringLiteral("删除数据库")) && added.contains(QStringLiteral("waitfor delay"))
                 && added.contains(QStringLiteral("操作失败")),
             qPrintable(added));
    checkRecovers();
}

void TestFaults::loginNeverAnswered()
{
    // The real 15-second login time-out: the login gives up silently.
    QVERIFY(startServer({QStringLiteral("--stall-login")}));
    QVERIFY(!login());
    QCOMPARE(m_boxes->messages, QStringList{});
    QCOMPARE(m_boxes->errors, QStringList{});
    QCOMPARE(memo(), QString());
    QVERIFY(win->tb_server->isEnabled());
    checkRecovers();
}

void TestFaults::tlsHandshakeNeverAnswered()
{
    // The server answers PRELOGIN with encryption and then never answers the
    // TLS handshake: the 15-second login time-out ends it as any unreachable
    // server ends, and the window works on.
    QVERIFY(startServer({QStringLiteral("--tls-fault"), QStringLiteral("stall")}));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!login());
    QVERIFY2(clock.elapsed() < 25000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_boxes->messages, QStringList{});
    QCOMPARE(m_boxes->errors, QStringList{});
    QCOMPARE(memo(), QString());
    QCOMPARE(loginPageProblem(), QString());
    checkRecovers();
}

void TestFaults::tlsHandshakeRejected_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("garbage instead of a TLS record") << QStringLiteral("garbage");
    QTest::newRow("half a TLS answer, then the socket closes") << QStringLiteral("truncate");
}

void TestFaults::tlsHandshakeRejected()
{
    // A handshake the client rejects ends as a failed login: silently, at
    // once rather than at the time-out, and the window works on.
    QFETCH(QString, fault);
    QVERIFY(startServer({QStringLiteral("--tls-fault"), fault}));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!login());
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_boxes->messages, QStringList{});
    QCOMPARE(m_boxes->errors, QStringList{});
    QCOMPARE(memo(), QString());
    QCOMPARE(loginPageProblem(), QString());
    checkRecovers();
}

void TestFaults::logSaveFailures_data()
{
    QTest::addColumn<QString>("target"); // relative to a temporary folder; "" parts filled in below
    QTest::addColumn<bool>("existing");  // a file is there before the save
    QTest::addColumn<int>("fileSizeLimit"); // bytes; 0 = none (simulates a full disk)
    QTest::addColumn<QString>("error");     // how the error display's text starts
    const QString cannotCreate = QStringLiteral("Cannot create file \"");
    const QString writeError = QStringLiteral("Stream write error");
    QTest::newRow("missing folder") << "nosuch/dir/log.txt" << false << 0 << cannotCreate;
    QTest::newRow("target is a folder") << "adir" << false << 0 << cannotCreate;
    QTest::newRow("disk full, new file") << "full.txt" << false << 4096 << writeError;
    QTest::newRow("disk full, existing file kept") << "full.txt" << true << 4096 << writeError;
    QTest::newRow("path too long") << QString(5000, QLatin1Char('x')) << false << 0 << cannotCreate;
}

void TestFaults::logSaveFailures()
{
    QFETCH(QString, target);
    QFETCH(bool, existing);
    QFETCH(int, fileSizeLimit);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("adir")));
    const QString path = dir.filePath(target);
    const QByteArray oldBytes("old log contents\r\n");
    if (existing) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(oldBytes);
    }
    // A memo bigger than the size limit.
    QString text;
    for (int i = 0; i < 400; ++i)
        text += QStringLiteral("第%1行 entry text of the operation log\n").arg(i);
    // The log page opens once logged in; the operator pastes the text there.
    QVERIFY(startServer());
    QVERIFY(login());
    QVERIFY(dvtest::clickPageOf(*win, win->tb_memo));
    QVERIFY(dvtest::pasteInto(win->tb_memo, text));
    QCOMPARE(win->tb_memo->toPlainText(), text);
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = path;
        return true;
    };

    rlimit saved{};
    if (fileSizeLimit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = rlim_t(fileSizeLimit);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    if (fileSizeLimit > 0)
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);

    QCOMPARE(m_boxes->errors.size(), 1);
    QVERIFY2(m_boxes->errors[0].startsWith(error), qPrintable(m_boxes->errors[0]));
    QCOMPARE(win->tb_memo->toPlainText(), text);
    if (existing) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), oldBytes);
    }
    // Nothing half-written is left behind in the folder.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, existing ? QStringList{QFileInfo(path).fileName()} : QStringList{});

    // A later save to a good place works.
    m_boxes->errors.clear();
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = good;
        return true;
    };
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    QCOMPARE(m_boxes->errors, QStringList{});
    QFile g(good);
    QVERIFY(g.open(QIODevice::ReadOnly));
    QCOMPARE(g.readAll(), dv::encodeLogText(QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n"))));
}

void TestFaults::logSaveReplacesChangedFile()
{
    // The target is replaced by another program between two saves (even by a
    // bigger file): the save writes the whole log and nothing of the other
    // file survives.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(startServer());
    QVERIFY(login());
    QVERIFY(dvtest::typeOnPage(*win, win->tb_memo, QStringLiteral("short")));
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = path;
        return true;
    };
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    QCOMPARE(m_boxes->errors, QStringList{});
    {
        QFile::remove(path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'Z'));
    }
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    QCOMPARE(m_boxes->errors, QStringList{});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("short"));
}

void TestFaults::logSaveIntoReadOnlyFolder_data()
{
    QTest::addColumn<bool>("fileWritable");
    QTest::newRow("writable file") << true;
    QTest::newRow("write-protected file") << false;
}

void TestFaults::logSaveIntoReadOnlyFolder()
{
    // F10 into a folder that takes no new file: a log file there that may be
    // written is written in place; a write-protected one is refused.
    if (dvtest::ranAsNobodyInChild())
        return;
    QFETCH(bool, fileWritable);
    QVERIFY(startServer());
    QVERIFY(login());
    QVERIFY(runConsole(QStringLiteral("select 1 as one")));
    QCOMPARE(m_boxes->errors, QStringList{});

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    const QByteArray oldBytes(5000, 'o'); // longer than the log: nothing of it may survive
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(oldBytes);
    }
    if (!fileWritable)
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    QFile probe(dir.filePath(QStringLiteral("probe")));
    const bool probeCreated = probe.open(QIODevice::WriteOnly);

    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = path;
        return true;
    };
    QVERIFY(dvtest::clickPage(*win, 8));
    QVERIFY(dvtest::clickOn(win->tb_memo));
    const QString text = memo();
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

    QVERIFY2(!probeCreated, "the folder's permissions do not bind on this user");
    QCOMPARE(memo(), text);
    QCOMPARE(left, QStringList{QStringLiteral("log.txt")});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    if (fileWritable) {
        QCOMPARE(m_boxes->errors, QStringList{});
        QCOMPARE(f.readAll(), dv::encodeLogText(dv::withCrLf(text)));
    } else {
        QCOMPARE(m_boxes->errors.size(), 1);
        QVERIFY2(m_boxes->errors[0].startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)),
                 qPrintable(m_boxes->errors[0]));
        QCOMPARE(f.readAll(), oldBytes);
    }
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestFaults t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_faults.moc"
