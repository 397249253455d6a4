// Where the password must never show up: the operation log, the server's
// request trace, the process arguments, error texts of failed logins; and the
// password field is emptied at logout. The test server listens on loopback
// only.
#include "app/application.h"
#include "client/dbclient.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
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

const QString kUser = QStringLiteral("dba");

// Local addresses of listening TCP sockets on `port` from /proc/net/tcp{,6}.
QStringList listeningAddresses(int port)
{
    QStringList out;
    for (const char *file : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f(QString::fromLatin1(file));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = f.readAll().split('\n');
        for (const QByteArray &line : lines.mid(1)) {
            const QList<QByteArray> cols = line.simplified().split(' ');
            if (cols.size() < 4 || cols[3] != "0A") // 0A = LISTEN
                continue;
            const QList<QByteArray> local = cols[1].split(':');
            if (local.size() == 2 && local[1].toInt(nullptr, 16) == port)
                out << QString::fromLatin1(local[0]);
        }
    }
    return out;
}

} // namespace

class TestSecurity : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void passwordNowhereAfterSession_data();
    void passwordNowhereAfterSession();
    void failedLoginErrorsHoldNoPassword_data();
    void failedLoginErrorsHoldNoPassword();
    void serverListensOnLoopbackOnly();

private:
    std::unique_ptr<dvtest::TestServerProcess> m_server;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
};

void TestSecurity::init()
{
    m_boxes.emplace();
    m_server = std::make_unique<dvtest::TestServerProcess>();
}

void TestSecurity::cleanup()
{
    m_server.reset();
    m_boxes.reset();
}

void TestSecurity::passwordNowhereAfterSession_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("plain") << QStringLiteral("Plain7Secret");
    QTest::newRow("semicolon and equals") << QStringLiteral("a;b=Secret9");
    QTest::newRow("braces and quotes") << QStringLiteral("{x}'\"Secret");
    QTest::newRow("chinese") << QStringLiteral("密码Secret口令");
    QTest::newRow("blanks around") << QStringLiteral("  Secret blank  ");
}

void TestSecurity::passwordNowhereAfterSession()
{
    QFETCH(QString, password);
    QVERIFY2(m_server->start({QStringLiteral("--login"), kUser + QLatin1Char(':') + password}),
             qPrintable(m_server->error()));
    TFMAIN win(dv::makeOdbcConnection());
    QVERIFY(dvtest::showWindow(win));
    QVERIFY(dvtest::typeInto(win.tb_server, m_server->server()));
    QVERIFY(win.rb1->isChecked());
    QVERIFY(dvtest::typeInto(win.tb_uid, kUser));
    QVERIFY(dvtest::typeInto(win.tb_pwd, password));
    QCOMPARE(win.tb_pwd->text(), password);
    QVERIFY(dvtest::clickOn(win.Button1));
    QVERIFY(win.conn->isConnected());
    // A console statement and a maintenance failure add more log text.
    QVERIFY(dvtest::clickPage(win, 9));
    QVERIFY(dvtest::typeInto(win.RtSql, QStringLiteral("select 1 as one")));
    QVERIFY(dvtest::clickOn(win.btnExec));
    QVERIFY(dvtest::clickPage(win, 6));
    QVERIFY(dvtest::typeInto(win.cb_db5, QStringLiteral("nosuchdb")));
    QVERIFY(dvtest::clickOn(win.Button11));
    QVERIFY(dvtest::clickPage(win, 0));
    QVERIFY(dvtest::clickOn(win.Button1)); // log out
    QVERIFY(!win.conn->isConnected());

    QCOMPARE(win.tb_pwd->text(), QString());
    QCOMPARE(win.tb_uid->text(), QString());
    const QString memo = win.tb_memo->toPlainText();
    QVERIFY(memo.contains(QStringLiteral("成功登录数据库服务器:[")));
    QVERIFY(memo.contains(QStringLiteral("成功退出数据库服务器:[")));
    QVERIFY2(!memo.contains(password), qPrintable(memo));
    for (const QString &t : m_boxes->messages + m_boxes->errors)
        QVERIFY2(!t.contains(password), qPrintable(t));

    const QString trace = m_server->trace();
    QVERIFY(trace.contains(QStringLiteral("#### LOGIN")));
    QVERIFY2(!trace.contains(password), "the password is in the server's trace");

    QFile cmd(QStringLiteral("/proc/self/cmdline"));
    QVERIFY(cmd.open(QIODevice::ReadOnly));
    QVERIFY(!cmd.readAll().contains(password.toUtf8()));
}

void TestSecurity::failedLoginErrorsHoldNoPassword_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::newRow("wrong password") << true;
    QTest::newRow("nobody listening") << false;
}

void TestSecurity::failedLoginErrorsHoldNoPassword()
{
    QFETCH(bool, serverUp);
    const QString password = QStringLiteral("Wrong;Secret=42");
    QVERIFY(m_server->start());
    const QString server = m_server->server();
    if (!serverUp)
        m_server->kill();

    dv::ConnectParams p;
    p.server = server;
    p.user = kUser;
    p.password = password;
    p.loginTimeoutSec = 3;
    QString text;
    try {
        dv::makeOdbcConnection()->open(p);
        QFAIL("the login succeeded");
    } catch (const dv::DbError &e) {
        text = e.message();
    }
    QVERIFY(!text.isEmpty());
    QVERIFY2(!text.contains(QStringLiteral("Secret")), qPrintable(text));

    // Through the window: silent, nothing logged, the fields keep their text.
    TFMAIN win(dv::makeOdbcConnection());
    QVERIFY(dvtest::showWindow(win));
    QVERIFY(dvtest::typeInto(win.tb_server, server));
    QVERIFY(dvtest::typeInto(win.tb_uid, kUser));
    QVERIFY(dvtest::typeInto(win.tb_pwd, password));
    QVERIFY(dvtest::clickOn(win.Button1));
    QVERIFY(!win.conn->isConnected());
    QCOMPARE(win.tb_memo->toPlainText(), QString());
    QCOMPARE(m_boxes->messages, QStringList{});
    QCOMPARE(m_boxes->errors, QStringList{});
    if (serverUp)
        QVERIFY(!m_server->trace().contains(QStringLiteral("Secret")));
}

void TestSecurity::serverListensOnLoopbackOnly()
{
    QVERIFY(m_server->start());
    const QStringList addrs = listeningAddresses(m_server->port());
    QVERIFY2(!addrs.isEmpty(), "no listening socket found");
    for (const QString &a : addrs) // 127.0.0.1 as /proc/net/tcp writes it
        QCOMPARE(a, QStringLiteral("0100007F"));
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestSecurity t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_security.moc"
