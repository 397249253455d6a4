// NT mode through the real window against the test server taking Kerberos
// logins, in a throwaway realm on loopback: a ticket logs in (log entry,
// database list, a backup), no ticket, an expired ticket and a ticket of a
// realm the server does not trust fail silently, and SQL logins keep working
// beside it. The Kerberos variables are set for this process and the server
// it starts only; the window itself is given nothing but the server name.
#include "client/dbclient.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/operatorinput.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class TestLoginKerberos : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void ticketLogsInInNtMode();
    void sqlLoginBesideIntegrated();
    void failsSilently_data();
    void failsSilently();

private:
    QString realm(const QString &file) const { return m_realm.filePath(file); }
    // Runs the realm script or a Kerberos tool; false (with a warning) when it fails.
    bool run(const QString &program, const QStringList &args);
    bool kinit(const QString &keytab, const QString &principal, const QStringList &extra = {});
    // The operator's way into NT mode: the server name typed, NT mode clicked,
    // Enter on the NT-mode button.
    void loginInNtMode(TFMAIN &w);
    int traceCount(const QString &needle) const { return int(m_server.trace().count(needle)); }

    QTemporaryDir m_realm;
    QTemporaryDir m_files;
    dvtest::TestServerProcess m_server;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
    QByteArray m_config;
    int m_case = 0;
};

bool TestLoginKerberos::run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(args.join(u' ')), p.readAll().constData());
        return false;
    }
    return true;
}

bool TestLoginKerberos::kinit(const QString &keytab, const QString &principal, const QStringList &extra)
{
    return run(QStringLiteral("kinit"), extra + QStringList{QStringLiteral("-k"), QStringLiteral("-t"), keytab, principal});
}

void TestLoginKerberos::initTestCase()
{
    QVERIFY(m_realm.isValid());
    const QString script = QStringLiteral(DV_SOURCE_DIR "/tests/testserver/lib/krbrealm.sh");
    QVERIFY2(run(QStringLiteral("bash"), {script, QStringLiteral("create"), m_realm.path()}),
             "the realm could not be set up (scripts/setup-deps.sh installs the Kerberos packages)");
    m_config = realm(QStringLiteral("krb5.conf")).toLocal8Bit();
    qputenv("KRB5_CONFIG", m_config);
    qputenv("KRB5_KDC_PROFILE", realm(QStringLiteral("kdc.conf")).toLocal8Bit());
    qputenv("KRB5RCACHEDIR", m_realm.path().toLocal8Bit());
    QVERIFY2(m_server.start({QStringLiteral("--keytab"), realm(QStringLiteral("server.keytab"))}),
             qPrintable(m_server.error()));
    QVERIFY(run(QStringLiteral("bash"), {script, QStringLiteral("service"), m_realm.path(),
                                         QString::number(m_server.port())}));
}

void TestLoginKerberos::cleanupTestCase()
{
    m_server.stop();
    run(QStringLiteral("bash"), {QStringLiteral(DV_SOURCE_DIR "/tests/testserver/lib/krbrealm.sh"),
                                 QStringLiteral("stop"), m_realm.path()});
}

void TestLoginKerberos::init()
{
    m_boxes.emplace();
    qputenv("KRB5_CONFIG", m_config);
    // Each case starts without a ticket.
    qputenv("KRB5CCNAME", "FILE:" + realm(QStringLiteral("ccache-%1").arg(++m_case)).toLocal8Bit());
}

void TestLoginKerberos::cleanup()
{
    m_boxes.reset();
    qputenv("KRB5_CONFIG", m_config);
}

void TestLoginKerberos::loginInNtMode(TFMAIN &w)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.tb_server->isVisible() && w.tb_server->isEnabled());
    w.tb_server->setFocus();
    QTest::keyClicks(w.tb_server, m_server.server());
    QVERIFY(w.rb2->isVisible() && w.rb2->isEnabled());
    QTest::mouseClick(w.rb2, Qt::LeftButton);
    QVERIFY(w.rb2->isChecked());
    QVERIFY(!w.tb_uid->isEnabled());
    QVERIFY(!w.tb_pwd->isEnabled());
    QTest::keyClick(w.rb2, Qt::Key_Return);
}

void TestLoginKerberos::ticketLogsInInNtMode()
{
    QVERIFY(kinit(realm(QStringLiteral("alice.keytab")), QStringLiteral("alice")));
    TFMAIN w(dv::makeOdbcConnection());
    loginInNtMode(w);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(w.conn->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("断开[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("登录中"));
    QVERIFY(w.tb_memo->toPlainText().contains(QStringLiteral("成功登录数据库服务器:[%1]").arg(m_server.server())));
    // The server ran the session as the ticket's principal, shown as a domain login.
    QCOMPARE(traceCount(QStringLiteral(" user=DORVANE.TEST\\alice database=")), 1);
    const QStringList expected{QStringLiteral("master"), QStringLiteral("model"), QStringLiteral("msdb"),
                               QStringLiteral("tempdb")};
    for (QComboBox *cb : {w.cb_db, w.cb_db3, w.cb_db5, w.cb_db6}) {
        QStringList items;
        for (int i = 0; i < cb->count(); ++i)
            items << cb->itemText(i);
        QCOMPARE(items, expected);
    }

    // A backup runs on that connection.
    QVERIFY(dvtest::clickPage(w, 2));
    QVERIFY(w.cb_db->isVisible() && w.cb_db->isEnabled());
    QTest::keyClicks(w.cb_db->lineEdit(), QStringLiteral("msdb"));
    const QString file = m_files.filePath(QStringLiteral("msdb.BAK"));
    QVERIFY(w.tb_bak_path->isVisible() && w.tb_bak_path->isEnabled());
    QTest::keyClicks(w.tb_bak_path, file);
    QVERIFY(w.Button3->isVisible() && w.Button3->isEnabled());
    QTest::mouseClick(w.Button3, Qt::LeftButton);
    QCOMPARE(m_boxes->messages, QStringList{QStringLiteral("操作编号:1100\r\n\r\n备份成功,可进行其它操作")});
    QVERIFY(QFileInfo(file).size() > 0);
    QVERIFY2(m_boxes->errors.isEmpty(), qPrintable(m_boxes->errors.join(u'|')));
}

void TestLoginKerberos::sqlLoginBesideIntegrated()
{
    // NT mode first, then log out (which returns to database mode) and log in
    // with the SQL login in the same window.
    QVERIFY(kinit(realm(QStringLiteral("carol.keytab")), QStringLiteral("carol")));
    TFMAIN w(dv::makeOdbcConnection());
    loginInNtMode(w);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(w.conn->isConnected());
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    QVERIFY(!w.conn->isConnected());
    QVERIFY(w.rb1->isChecked());
    QVERIFY(w.tb_uid->isVisible() && w.tb_uid->isEnabled());
    QTest::keyClicks(w.tb_uid, m_server.user());
    QVERIFY(w.tb_pwd->isVisible() && w.tb_pwd->isEnabled());
    QTest::keyClicks(w.tb_pwd, m_server.password());
    QTest::keyClick(w.tb_pwd, Qt::Key_Return);
    QVERIFY(w.conn->isConnected());
    QCOMPARE(traceCount(QStringLiteral(" user=DORVANE.TEST\\carol database=")), 1);
    QVERIFY(traceCount(QStringLiteral(" user=sa database=")) >= 1);
    QCOMPARE(w.tb_memo->toPlainText().count(QStringLiteral("成功登录数据库服务器:[%1]").arg(m_server.server())), 2);
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestLoginKerberos::failsSilently_data()
{
    QTest::addColumn<QString>("ticket");
    // Whether the server gets to see (and refuse) a token: a client without a
    // usable ticket gives up before it sends one.
    QTest::addColumn<bool>("serverRefuses");
    QTest::newRow("no ticket") << "" << false;
    QTest::newRow("expired ticket") << "expired" << false;
    QTest::newRow("ticket of an untrusted realm") << "other realm" << true;
}

void TestLoginKerberos::failsSilently()
{
    QFETCH(QString, ticket);
    QFETCH(bool, serverRefuses);
    if (ticket == QLatin1String("expired")) {
        // The principal may hold a ticket for 10 seconds at most; wait until
        // it has run out (klist calls it expired a second before GSSAPI does).
        QVERIFY(kinit(realm(QStringLiteral("shortlived.keytab")), QStringLiteral("shortlived"),
                      {QStringLiteral("-l"), QStringLiteral("5s")}));
        bool expired = false;
        for (int i = 0; i < 60 && !expired; ++i) {
            expired = QProcess::execute(QStringLiteral("klist"), {QStringLiteral("-s")}) != 0;
            QTest::qWait(1000);
        }
        QVERIFY(expired);
        QTest::qWait(1500);
    } else if (ticket == QLatin1String("other realm")) {
        // A machine of OTHER.TEST: its service ticket is sealed with a key the
        // server's keytab does not hold.
        qputenv("KRB5_CONFIG", realm(QStringLiteral("krb5-other.conf")).toLocal8Bit());
        QVERIFY(kinit(realm(QStringLiteral("alice-other.keytab")), QStringLiteral("alice")));
    }
    const int refusedBefore = traceCount(QStringLiteral(" user= database="));

    TFMAIN w(dv::makeOdbcConnection());
    loginInNtMode(w);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!w.conn->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QVERIFY(w.tb_server->isEnabled());
    QVERIFY(w.rb2->isChecked());
    QCOMPARE(w.tb_memo->toPlainText(), QString());
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(m_boxes->errors.isEmpty());
    QCOMPARE(w.cb_db->count(), 0);
    QCOMPARE(traceCount(QStringLiteral(" user= database=")) - refusedBefore, serverRefuses ? 1 : 0);
}

QTEST_MAIN(TestLoginKerberos)
#include "tst_login_kerberos.moc"
