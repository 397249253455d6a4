// A long session through the real ODBC driver: log in, then run a mix of
// maintenance operations and console statements over and over, checking
// every outcome, and watch resident memory and open file descriptors.
//
// In the default test run it does a short round (200 operations) and checks
// outcomes only. scripts/soak.sh runs it with "--soak N" for N operations;
// then resident memory at the end must be within 10 % of the level after
// warm-up (the first tenth), and the descriptor count unchanged. The log memo
// is emptied every 100 operations so that the measurement sees the database
// layer, not the (intended) growth of the log text.
#include "app/application.h"
#include "client/dbclient.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/odbclogin.h"
#include "support/operatorinput.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include <unistd.h>

namespace {

int g_operations = 200;
bool g_soak = false;

qint64 residentKb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> v = f.readAll().split(' ');
    return v.size() > 1 ? v[1].toLongLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

} // namespace

class TestFaultsSoak : public QObject {
    Q_OBJECT
private slots:
    void longSession();
};

void TestFaultsSoak::longSession()
{
    dvtest::BoxCapture boxes;
    dvtest::TestServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    TFMAIN win(dv::makeOdbcConnection());
    dvtest::loginThroughFields(win, server);
    QVERIFY(win.conn->isConnected());

    // The operator's typing and clicks, on the control's page.
    auto type = [&](QWidget *field, const QString &text) { return dvtest::typeOnPage(win, field, text); };
    auto press = [&](QWidget *button) { return dvtest::clickOnPage(win, button); };
    auto console = [&](const QString &sql) {
        QVERIFY(type(win.RtSql, sql));
        QVERIFY(press(win.btnExec));
    };
    console(QStringLiteral("create table soak (id int primary key, v nvarchar(50))"));
    QCOMPARE(boxes.errors, QStringList{});

    const QString bak = server.filesDir() + QStringLiteral("/soak.bak");
    const int warmup = qMax(1, g_operations / 10);
    qint64 rssWarm = 0;
    int fdWarm = 0;
    int failures = 0;
    for (int i = 0; i < g_operations; ++i) {
        boxes.clear();
        const QString db = QStringLiteral("soakdb%1").arg(i % 7);
        switch (i % 6) {
        case 0:
            QVERIFY(type(win.cb_db, QStringLiteral("master")));
            QVERIFY(type(win.tb_bak_path, bak));
            QVERIFY(press(win.Button3));
            if (boxes.messages != QStringList{QStringLiteral("操作编号:1100\r\n\r\n备份成功,可进行其它操作")})
                ++failures;
            break;
        case 1:
            console(QStringLiteral("insert into soak values (%1, N'行%1')").arg(i));
            break;
        case 2:
            console(QStringLiteral("select id, v from soak where id > %1").arg(i - 20));
            if (boxes.errors.isEmpty() && win.dsResult->rowCount() < 1)
                ++failures;
            break;
        case 3:
            QVERIFY(type(win.tb_db, db));
            QVERIFY(type(win.tb_m_file, server.filesDir() + QLatin1Char('/') + db + QStringLiteral(".mdf")));
            QVERIFY(type(win.tb_m_size, QStringLiteral("8"))); // MB: the size of model
            QVERIFY(type(win.tb_m_group, QStringLiteral("1")));
            QVERIFY(type(win.tb_m_max, QString()));
            QVERIFY(type(win.tb_l_file, server.filesDir() + QLatin1Char('/') + db + QStringLiteral(".ldf")));
            QVERIFY(type(win.tb_l_size, QStringLiteral("1")));
            QVERIFY(type(win.tb_l_group, QStringLiteral("1")));
            QVERIFY(type(win.tb_l_max, QString()));
            QVERIFY(press(win.Button15));
            if (boxes.messages != QStringList{QStringLiteral("操作编号:1105\r\n\r\n创建成功,可进行其它操作")})
                ++failures;
            break;
        case 4:
            QVERIFY(type(win.cb_db6, db));
            QVERIFY(press(win.Button13));
            if (boxes.messages.size() != 1)
                ++failures;
            break;
        case 5:
            QVERIFY(type(win.cb_db5, QStringLiteral("soakdb%1").arg((i - 2) % 7)));
            QVERIFY(press(win.Button11));
            if (boxes.messages != QStringList{QStringLiteral("操作编号:1104\r\n\r\n删除成功,可进行其它操作")})
                ++failures;
            break;
        }
        if (!boxes.errors.isEmpty())
            ++failures;
        if (failures) {
            qWarning() << "operation" << i << "messages" << boxes.messages << "errors" << boxes.errors;
            break;
        }
        if (i % 100 == 99)
            win.tb_memo->clear();
        if (i + 1 == warmup) {
            rssWarm = residentKb();
            fdWarm = openDescriptors();
        }
    }
    QCOMPARE(failures, 0);
    const qint64 rssEnd = residentKb();
    const int fdEnd = openDescriptors();
    qInfo("operations %d: resident after warm-up %lld kB, at end %lld kB (%+.1f %%); descriptors %d -> %d",
          g_operations, rssWarm, rssEnd, rssWarm > 0 ? 100.0 * double(rssEnd - rssWarm) / double(rssWarm) : 0.0,
          fdWarm, fdEnd);
    if (g_soak) {
        QVERIFY2(rssEnd <= rssWarm + rssWarm / 10, "resident memory grew by more than 10 %");
        QCOMPARE(fdEnd, fdWarm);
    }
    QVERIFY(press(win.Button1));
    QVERIFY(!win.conn->isConnected());
}

int main(int argc, char **argv)
{
    // "--soak N" is ours; everything else goes to QTest.
    QList<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--soak" && i + 1 < argc) {
            g_operations = QByteArray(argv[++i]).toInt();
            g_soak = true;
        } else {
            args << argv[i];
        }
    }
    int n = int(args.size());
    dv::Application app(n, args.data());
    TestFaultsSoak t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, n, args.data());
}

#include "tst_faults_soak.moc"
