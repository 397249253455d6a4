// The login page through the real ODBC connection against the test server:
// log in, the database list, a refused password, log out, and F10 saving the
// log that the session wrote.
#include "client/dbclient.h"
#include "core/oplog.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/operatorinput.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class TestLoginServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void loginListLogout();
    void wrongPasswordIsSilent();
    void unreachableServerIsSilent();

private:
    QStringList items(QComboBox *cb) const;
    dvtest::TestServerProcess m_server;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
};

void TestLoginServer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void TestLoginServer::cleanupTestCase()
{
    m_server.stop();
    m_boxes.reset();
    dv::FileDialog::responder = nullptr;
}

void TestLoginServer::init()
{
    m_boxes.emplace();
}

QStringList TestLoginServer::items(QComboBox *cb) const
{
    QStringList out;
    for (int i = 0; i < cb->count(); ++i)
        out << cb->itemText(i);
    return out;
}

void TestLoginServer::loginListLogout()
{
    TFMAIN w(dv::makeOdbcConnection());
    QVERIFY(dvtest::showWindow(w));
    QVERIFY(dvtest::typeInto(w.tb_server, m_server.server()));
    QVERIFY(dvtest::typeInto(w.tb_uid, m_server.user()));
    QVERIFY(dvtest::typeInto(w.tb_pwd, m_server.password()));
    QTest::keyClick(w.tb_pwd, Qt::Key_Return);
    QVERIFY(w.conn->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("断开[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("登录中"));
    QVERIFY(!w.tb_server->isEnabled());
    const QStringList expected{QStringLiteral("master"), QStringLiteral("model"), QStringLiteral("msdb"),
                               QStringLiteral("tempdb")};
    for (QComboBox *cb : {w.cb_db, w.cb_db3, w.cb_db5, w.cb_db6}) {
        QCOMPARE(items(cb), expected);
        QCOMPARE(cb->currentText(), QString());
    }
    QVERIFY(w.tb_memo->toPlainText().contains(QStringLiteral("成功登录数据库服务器:[%1]").arg(m_server.server())));
    // The pages open now.
    QVERIFY(dvtest::clickPage(w, 8));
    QCOMPARE(w.pc->currentIndex(), 8);

    // Log out.
    QVERIFY(dvtest::clickPage(w, 0));
    QVERIFY(dvtest::clickOn(w.Button1));
    QVERIFY(!w.conn->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QVERIFY(w.tb_pwd->text().isEmpty());
    QVERIFY(w.tb_memo->toPlainText().contains(QStringLiteral("成功退出数据库服务器:[%1]").arg(m_server.server())));

    // F10 saves both entries as GBK text with CR LF.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("session.TXT"));
    dv::FileDialog::responder = [&](dv::FileDialog &d) {
        d.fileName = file;
        return true;
    };
    QTest::keyClick(w.tb_memo, Qt::Key_F10);
    dv::FileDialog::responder = nullptr;
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QStringDecoder gbk("GBK");
    const QString text = gbk.decode(bytes);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 7); // two entries of three lines, then the empty rest after the last CR LF
    QCOMPARE(lines[1], QStringLiteral("成功登录数据库服务器:[%1]").arg(m_server.server()));
    QCOMPARE(lines[4], QStringLiteral("成功退出数据库服务器:[%1]").arg(m_server.server()));
    QCOMPARE(lines[5], QString::fromLatin1(dv::kLogSeparator));
    QCOMPARE(lines[6], QString());
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY2(m_boxes->errors.isEmpty(), qPrintable(m_boxes->errors.join(QLatin1Char('|'))));
}

void TestLoginServer::wrongPasswordIsSilent()
{
    TFMAIN w(dv::makeOdbcConnection());
    QVERIFY(dvtest::showWindow(w));
    QVERIFY(dvtest::typeInto(w.tb_server, m_server.server()));
    QVERIFY(dvtest::typeInto(w.tb_uid, m_server.user()));
    QVERIFY(dvtest::typeInto(w.tb_pwd, m_server.password() + QStringLiteral("-wrong")));
    QVERIFY(dvtest::clickOn(w.Button1));
    QVERIFY(!w.conn->isConnected());
    QCOMPARE(w.Button1->text(), QStringLiteral("登录[&1]"));
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QVERIFY(w.tb_server->isEnabled());
    QVERIFY(w.tb_memo->toPlainText().isEmpty());
    QCOMPARE(w.cb_db->count(), 0);
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(m_boxes->errors.isEmpty());

    // The right password then works on the same window.
    QVERIFY(dvtest::typeInto(w.tb_pwd, m_server.password()));
    QVERIFY(dvtest::clickOn(w.Button1));
    QVERIFY(w.conn->isConnected());
    QCOMPARE(w.cb_db6->count(), 4);
    w.close(); // closing the window closes the connection
    QVERIFY(!w.conn->isConnected());
}

void TestLoginServer::unreachableServerIsSilent()
{
    // A loopback port with nothing listening: refused at once.
    TFMAIN w(dv::makeOdbcConnection());
    QVERIFY(dvtest::showWindow(w));
    QVERIFY(dvtest::typeInto(w.tb_server, QStringLiteral("127.0.0.1,1")));
    QVERIFY(dvtest::typeInto(w.tb_uid, QStringLiteral("sa")));
    QVERIFY(dvtest::clickOn(w.Button1));
    QVERIFY(!w.conn->isConnected());
    QCOMPARE(w.lbl_ini->text(), QStringLiteral("未连接"));
    QVERIFY(w.tb_memo->toPlainText().isEmpty());
    QVERIFY(m_boxes->messages.isEmpty());
    QVERIFY(m_boxes->errors.isEmpty());
}

QTEST_MAIN(TestLoginServer)
#include "tst_login_server.moc"
