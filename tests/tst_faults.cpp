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
#include "support/odbclogin.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <csignal>
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
    void logSaveFailures_data();
    void logSaveFailures();
    void logSaveReplacesChangedFile();

private:
    bool startServer(const QStringList &args = {});
    bool login();
    void logout() { win->Button1Click(); }
    void runConsole(const QString &sql);
    QString memo() const { return win->tb_memo->toPlainText(); }
    // The tool is usable again: log out (if still logged in), restart a
    // healthy server, log in, run a backup and a console statement.
    void checkRecovers();

    std::unique_ptr<dvtest::TestServerProcess> m_server;
    std::unique_ptr<TFMAIN> win;
    QStringList messages, errors;
};

void TestFaults::init()
{
    messages.clear();
    errors.clear();
    dv::BoxHooks::message = [this](const QString &t) { messages << t; };
    dv::BoxHooks::error = [this](const QString &t) { errors << t; };
    dv::FileDialog::responder = [](dv::FileDialog &) { return false; };
    m_server = std::make_unique<dvtest::TestServerProcess>();
    win = std::make_unique<TFMAIN>(dv::makeOdbcConnection());
}

void TestFaults::cleanup()
{
    win.reset();
    m_server.reset();
    dv::BoxHooks::message = nullptr;
    dv::BoxHooks::error = nullptr;
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
    dvtest::loginThroughFields(*win, *m_server);
    return win->conn->isConnected();
}

void TestFaults::runConsole(const QString &sql)
{
    win->RtSql->setPlainText(sql);
    QTest::mouseClick(win->btnExec, Qt::LeftButton);
}

void TestFaults::checkRecovers()
{
    if (win->conn->isConnected()) {
        const QString before = memo();
        logout();
        QVERIFY(!win->conn->isConnected());
        QVERIFY2(memo().startsWith(before), "logging out rewrote the log");
        QVERIFY(memo().contains(QStringLiteral("成功退出数据库服务器:[")));
    }
    m_server->kill();
    QVERIFY(startServer());
    QVERIFY(login());
    messages.clear();
    errors.clear();
    win->cb_db->setCurrentText(QStringLiteral("master"));
    win->tb_bak_path->setText(m_server->filesDir() + QStringLiteral("/after.bak"));
    win->Button3Click();
    QCOMPARE(messages, QStringList{kBackupOk});
    QVERIFY(QFile::exists(m_server->filesDir() + QStringLiteral("/after.bak")));
    runConsole(QStringLiteral("select 1 as one"));
    QCOMPARE(errors, QStringList{});
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
    QFETCH(bool, restart);
    QVERIFY(startServer());
    QVERIFY(login());
    win->cb_db->setCurrentText(QStringLiteral("master"));
    win->tb_bak_path->setText(m_server->filesDir() + QStringLiteral("/one.bak"));
    win->Button3Click();
    QCOMPARE(messages, QStringList{kBackupOk});
    messages.clear();

    if (restart)
        QVERIFY(m_server->restart());
    else
        m_server->kill();
    const QString logBefore = memo();

    win->tb_bak_path->setText(m_server->filesDir() + QStringLiteral("/two.bak"));
    win->Button3Click();
    QCOMPARE(messages, QStringList{kBackupFailed});
    QVERIFY2(memo().startsWith(logBefore), "the failure rewrote earlier entries");
    const QString added = memo().mid(logBefore.size());
    QVERIFY2(added.contains(QStringLiteral("备份数据库")) && added.contains(QStringLiteral("two.bak"))
                 && added.contains(QStringLiteral("操作失败")),
             qPrintable(added));
    QVERIFY(!added.contains(QStringLiteral("操作成功")));

    // The console reports the lost connection through the error display and
    // logs nothing.
    const QString logBeforeConsole = memo();
    messages.clear();
    runConsole(QStringLiteral("select 1 as one"));
    // The failed batch found the connection dead and closed it, so the
    // console refuses with its not-connected message; a connection that still
    // counted as open must fail through the error display instead.
    if (win->conn->isConnected()) {
        QCOMPARE(errors.size(), 1);
        QVERIFY(!errors[0].isEmpty());
    } else {
        QCOMPARE(messages, QStringList{QStringLiteral("请先连接服务器！")});
        QCOMPARE(errors, QStringList{});
    }
    QCOMPARE(memo(), logBeforeConsole);
    checkRecovers();
}

void TestFaults::serverDiesWhileAnsweringBackup()
{
    // Count the requests a login makes, then let the server die while it
    // writes the answer to the next one: the backup batch.
    QVERIFY(startServer());
    QVERIFY(login());
    const int loginRequests = traceRequests(m_server->trace());
    QVERIFY(loginRequests >= 1);
    logout();
    QVERIFY(m_server->restart({QStringLiteral("--die-after"), QString::number(loginRequests + 1)}));
    QVERIFY(login());
    messages.clear();
    const QString logBefore = memo();
    win->cb_db->setCurrentText(QStringLiteral("master"));
    win->tb_bak_path->setText(m_server->filesDir() + QStringLiteral("/mid.bak"));
    win->Button3Click();
    QCOMPARE(messages, QStringList{kBackupFailed});
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
    // The statement blocks the window's thread; kill the server from another.
    const qint64 pid = m_server->process()->processId();
    std::thread killer([pid] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        ::kill(pid_t(pid), SIGKILL);
    });
    runConsole(QStringLiteral("waitfor delay '00:00:20'\r\nselect 1 as late"));
    killer.join();
    QCOMPARE(errors.size(), 1);
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
    runConsole(QStringLiteral("waitfor delay '00:00:20'"));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(memo(), logBefore);
    // The same connection still serves the next statement.
    errors.clear();
    runConsole(QStringLiteral("select 2 as two"));
    QCOMPARE(errors, QStringList{});
    QVERIFY(memo().contains(QStringLiteral("执行sql：select 2 as two")));
    checkRecovers();
}

void TestFaults::maintenancePastCommandTimeout()
{
    QVERIFY(startServer());
    QVERIFY(login());
    messages.clear();
    const QString logBefore = memo();
    win->q->setCommandTimeout(2);
    // Names go into the batch as typed, so a name can carry a long statement.
    win->cb_db5->setCurrentText(QStringLiteral("nosuchdb waitfor delay '00:00:20'"));
    win->Button11Click();
    QCOMPARE(messages, QStringList{kDropFailed});
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
    QCOMPARE(messages, QStringList{});
    QCOMPARE(errors, QStringList{});
    QCOMPARE(memo(), QString());
    QVERIFY(win->tb_server->isEnabled());
    checkRecovers();
}

void TestFaults::logSaveFailures_data()
{
    QTest::addColumn<QString>("target"); // relative to a temporary folder; "" parts filled in below
    QTest::addColumn<bool>("existing");  // a file is there before the save
    QTest::addColumn<int>("fileSizeLimit"); // bytes; 0 = none (simulates a full disk)
    QTest::newRow("missing folder") << "nosuch/dir/log.txt" << false << 0;
    QTest::newRow("target is a folder") << "adir" << false << 0;
    QTest::newRow("disk full, new file") << "full.txt" << false << 4096;
    QTest::newRow("disk full, existing file kept") << "full.txt" << true << 4096;
    QTest::newRow("path too long") << QString(5000, QLatin1Char('x')) << false << 0;
}

void TestFaults::logSaveFailures()
{
    QFETCH(QString, target);
    QFETCH(bool, existing);
    QFETCH(int, fileSizeLimit);
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
    win->tb_memo->setPlainText(text);
    win->show();
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

    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.isEmpty() || !errors[0].isEmpty());
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
    errors.clear();
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = good;
        return true;
    };
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    QCOMPARE(errors, QStringList{});
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
    win->tb_memo->setPlainText(QStringLiteral("short"));
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = path;
        return true;
    };
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    QCOMPARE(errors, QStringList{});
    {
        QFile::remove(path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'Z'));
    }
    QTest::keyClick(win->tb_memo, Qt::Key_F10);
    QCOMPARE(errors, QStringList{});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("short"));
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestFaults t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_faults.moc"
