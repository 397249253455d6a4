// The window's login through the real ODBC driver to test servers in each
// encryption mode, with a relay of the test's own between them that keeps
// every byte: the password must not cross the socket in any readable form
// when the server offers or requires encryption, and the rows of a session
// that must be encrypted must not either.
#include "client/dbclient.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/operatorinput.h"
#include "support/tcprelay.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

QByteArray utf16le(const QString &s)
{
    QByteArray out;
    for (const QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

// How LOGIN7 carries a password: each UTF-16LE byte with its two nibbles
// swapped, then XOR 0xA5.
QByteArray loginObfuscated(const QString &password)
{
    QByteArray out = utf16le(password);
    for (char &c : out) {
        const auto b = uchar(c);
        c = char(uchar(((b << 4) | (b >> 4)) ^ 0xA5));
    }
    return out;
}

} // namespace

class TestLoginTls : public QObject {
    Q_OBJECT
private slots:
    void obfuscationMatchesTheReference();
    void passwordOnTheWire_data();
    void passwordOnTheWire();
};

void TestLoginTls::obfuscationMatchesTheReference()
{
    // By the LOGIN7 rule, "a" (0x61 0x00): 0x61 swapped is 0x16, XOR 0xA5 is
    // 0xB3; 0x00 stays 0x00, XOR 0xA5 is 0xA5.
    QCOMPARE(loginObfuscated(QStringLiteral("a")), QByteArray("\xB3\xA5", 2));
}

void TestLoginTls::passwordOnTheWire_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("clearLogin"); // the obfuscated password is on the wire
    QTest::addColumn<bool>("clearRows");  // the database list is readable on the wire
    QTest::newRow("offered: the login is encrypted") << QStringLiteral("offered") << false << true;
    QTest::newRow("required: everything is encrypted") << QStringLiteral("required") << false << false;
    QTest::newRow("not supported: nothing is") << QStringLiteral("not-supported") << true << true;
}

void TestLoginTls::passwordOnTheWire()
{
    QFETCH(QString, mode);
    QFETCH(bool, clearLogin);
    QFETCH(bool, clearRows);
    dvtest::TestServerProcess server;
    QVERIFY2(server.start({QStringLiteral("--encrypt"), mode}), qPrintable(server.error()));
    dvtest::TcpRelay relay(server.port());
    QVERIFY(relay.start());
    dvtest::BoxCapture boxes;

    // The operator logs in by keys, through the relay.
    TFMAIN w(dv::makeOdbcConnection());
    QVERIFY(dvtest::showWindow(w));
    const QString address = QStringLiteral("127.0.0.1,%1").arg(relay.port());
    QVERIFY(dvtest::typeInto(w.tb_server, address));
    QVERIFY(dvtest::typeInto(w.tb_uid, server.user()));
    QVERIFY(dvtest::typeInto(w.tb_pwd, server.password()));
    QTest::keyClick(w.tb_pwd, Qt::Key_Return);
    QVERIFY2(w.conn->isConnected(), qPrintable(boxes.errors.join(QLatin1Char('\n'))));
    QVERIFY(w.tb_memo->toPlainText().contains(QStringLiteral("成功登录数据库服务器:[%1]").arg(address)));
    QCOMPARE(w.cb_db->findText(QStringLiteral("master")) >= 0, true);
    QVERIFY(dvtest::clickOn(w.Button1)); // log out

    const QByteArray sent = relay.toServer();
    QVERIFY(sent.size() > 100);
    QVERIFY(!sent.contains(utf16le(server.password())));
    QCOMPARE(sent.contains(loginObfuscated(server.password())), clearLogin);
    QCOMPARE(relay.toClient().contains(utf16le(QStringLiteral("master"))), clearRows);
}

QTEST_MAIN(TestLoginTls)
#include "tst_login_tls.moc"
