// The maintenance pages end to end: the window's real ODBC connection against
// the test server, checking outcomes, log entries, pickers and files on disk.
#include "client/dbclient.h"
#include "client/query.h"
#include "client/resultset.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/boxcapture.h"
#include "support/odbclogin.h"
#include "support/operatorinput.h"
#include "support/testserverprocess.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <optional>

namespace {

const QString kSeparator = QStringLiteral("--------------------------------------");

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestMaintenanceE2e : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void createWithAndWithoutMaximum();
    void backupDropRestore();
    void detachAttach();
    void shrinkDependsOnServerVersion_data();
    void shrinkDependsOnServerVersion();
    void failures_data();
    void failures();
    void restoreTakesNewestSetOfTheDatabase();
    void unicodeNamesAndPaths_data();
    void unicodeNamesAndPaths();

private:
    bool startAndLogin(const QStringList &serverArgs = {});
    QStringList pickerItems(QComboBox *cb) const;
    bool listedEverywhere(const QString &db) const;
    bool listedNowhere(const QString &db) const;
    // Body of the last log entry: the lines between its time stamp and its
    // separator.
    QStringList lastEntryBody() const;
    QString path(const QString &name) const { return m_server->filesDir() + QLatin1Char('/') + name; }
    void createDb(const QString &name, const QString &mMax = {}, const QString &lMax = {});
    QString scalar(const QString &sql) const; // one value through a second query on the window's connection
    void exec(const QString &sql) const;       // a statement through a second query on the window's connection
    // Types `text` into a field on its page as an operator does, replacing
    // what it held; true when the field then holds exactly `text`.
    bool type(QWidget *field, const QString &text) { return dvtest::typeOnPage(*win, field, text); }
    // Clicks a button on its page.
    bool press(QWidget *button) { return dvtest::clickOnPage(*win, button); }

    std::unique_ptr<dvtest::TestServerProcess> m_server;
    std::unique_ptr<TFMAIN> win;
    std::optional<dvtest::BoxCapture> m_boxes; // what the boxes showed in this test
};

void TestMaintenanceE2e::init()
{
    m_boxes.emplace();
    dv::FileDialog::responder = [](dv::FileDialog &) { return false; };
    m_server = std::make_unique<dvtest::TestServerProcess>();
}

void TestMaintenanceE2e::cleanup()
{
    win.reset();
    m_server.reset();
    m_boxes.reset();
    dv::FileDialog::responder = nullptr;
}

bool TestMaintenanceE2e::startAndLogin(const QStringList &serverArgs)
{
    win = dvtest::startServerAndLogin(*m_server, serverArgs);
    if (!win)
        return false;
    m_boxes->messages.clear();
    if (!win->conn->isConnected()) {
        // Login discards its error; repeat the open here to show why.
        try {
            dv::makeOdbcConnection()->open(dvtest::connectParams(*m_server));
        } catch (const dv::DbError &e) {
            qWarning("login failed: %s", qPrintable(e.message()));
        }
        return false;
    }
    return true;
}

QStringList TestMaintenanceE2e::pickerItems(QComboBox *cb) const
{
    QStringList items;
    for (int i = 0; i < cb->count(); ++i)
        items << cb->itemText(i);
    return items;
}

bool TestMaintenanceE2e::listedEverywhere(const QString &db) const
{
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        if (!pickerItems(cb).contains(db))
            return false;
    return true;
}

bool TestMaintenanceE2e::listedNowhere(const QString &db) const
{
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        if (pickerItems(cb).contains(db))
            return false;
    return true;
}

QStringList TestMaintenanceE2e::lastEntryBody() const
{
    QStringList lines = win->tb_memo->toPlainText().split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty() || lines.last() != kSeparator)
        return {};
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    for (int i = lines.size() - 2; i >= 0; --i)
        if (stamp.match(lines[i]).hasMatch())
            return lines.mid(i + 1, lines.size() - i - 2);
    return {};
}

void TestMaintenanceE2e::createDb(const QString &name, const QString &mMax, const QString &lMax)
{
    QVERIFY(type(win->tb_db, name));
    QVERIFY(type(win->tb_m_file, path(name + QStringLiteral(".mdf"))));
    QVERIFY(type(win->tb_m_size, QStringLiteral("8MB"))); // the size of model: no smaller primary is accepted
    QVERIFY(type(win->tb_m_group, QStringLiteral("1MB")));
    QVERIFY(type(win->tb_m_max, mMax));
    QVERIFY(type(win->tb_l_file, path(name + QStringLiteral("_log.ldf"))));
    QVERIFY(type(win->tb_l_size, QStringLiteral("1MB")));
    QVERIFY(type(win->tb_l_group, QStringLiteral("10%")));
    QVERIFY(type(win->tb_l_max, lMax));
    QVERIFY(press(win->Button15));
}

QString TestMaintenanceE2e::scalar(const QString &sql) const
{
    dv::Query probe(QStringLiteral("probe"), win->conn.get());
    probe.setLines({sql});
    probe.open();
    const QString v = probe.eof() ? QString() : probe.fieldByName(probe.resultSet()->columns().first().name);
    probe.close();
    return v;
}

void TestMaintenanceE2e::exec(const QString &sql) const
{
    dv::Query probe(QStringLiteral("probe"), win->conn.get());
    probe.setLines({sql});
    probe.execute();
}

// Two backups of one database to one file, then a restore: the newest set
// comes back, named by FILE = n; a file with sets of two databases restores
// each database from its own newest set.
void TestMaintenanceE2e::restoreTakesNewestSetOfTheDatabase()
{
    QVERIFY(startAndLogin());
    win->show();
    createDb(QStringLiteral("sales"));
    createDb(QStringLiteral("stock"));
    QVERIFY(listedEverywhere(QStringLiteral("stock")));
    exec(QStringLiteral("create table sales..t (v nvarchar(20)) insert sales..t values (N'sales first')"));
    exec(QStringLiteral("create table stock..t (v nvarchar(20)) insert stock..t values (N'stock only')"));
    const QString file = path("shared.BAK");

    auto backup = [&](const QString &db) {
        m_boxes->messages.clear();
        QVERIFY(type(win->cb_db, db));
        QVERIFY(type(win->tb_bak_path, file));
        QVERIFY(press(win->Button3));
        QCOMPARE(m_boxes->messages, QStringList{"操作编号:1100\r\n\r\n备份成功,可进行其它操作"});
    };
    backup(QStringLiteral("sales"));
    exec(QStringLiteral("update sales..t set v = N'sales second'"));
    backup(QStringLiteral("sales"));
    backup(QStringLiteral("stock"));
    exec(QStringLiteral("update sales..t set v = N'sales third'"));
    exec(QStringLiteral("update stock..t set v = N'stock changed'"));

    auto restore = [&](const QString &db, const QString &from) {
        m_boxes->messages.clear();
        QVERIFY(type(win->cb_db2, db));
        QVERIFY(type(win->tb_bak_path2, from));
        QVERIFY(press(win->Button5));
        QCOMPARE(m_boxes->messages, QStringList{"操作编号:1101\r\n\r\n还原成功,可进行其它操作"});
    };
    restore(QStringLiteral("sales"), file);
    QCOMPARE(scalar(QStringLiteral("select v from sales..t")), QStringLiteral("sales second"));
    QCOMPARE(lastEntryBody(),
             (QStringList{"还原数据库", "use master",
                          "if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'",
                          "restore database sales from disk=N'" + file + "' with replace, FILE = 2", "操作成功"}));
    restore(QStringLiteral("stock"), file);
    QCOMPARE(scalar(QStringLiteral("select v from stock..t")), QStringLiteral("stock only"));
    QVERIFY(lastEntryBody().contains("restore database stock from disk=N'" + file + "' with replace, FILE = 3"));
    // The other database was not touched by either restore.
    QCOMPARE(scalar(QStringLiteral("select v from sales..t")), QStringLiteral("sales second"));

    // A file with one set gets the batch exactly as it always was.
    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db, QStringLiteral("stock")));
    QVERIFY(type(win->tb_bak_path, path("single.BAK")));
    QVERIFY(press(win->Button3));
    restore(QStringLiteral("stock"), path("single.BAK"));
    QVERIFY(lastEntryBody().contains("restore database stock from disk=N'" + path("single.BAK") + "' with replace"));
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestMaintenanceE2e::unicodeNamesAndPaths_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<QString>("db");       // as created and attached
    QTest::addColumn<QString>("typedDb");  // as typed where the name is an identifier
    QTest::addColumn<QString>("folder");
    QTest::newRow("Chinese, default collation") << QStringList{} << "中文库" << "中文库" << "数据 目录";
    QTest::newRow("Chinese, Latin collation")
        << QStringList{"--collation", "SQL_Latin1_General_CP1_CI_AS"} << "中文库" << "中文库" << "数据 目录";
    // An emoji is no letter: as an identifier it goes in brackets.
    QTest::newRow("emoji, default collation") << QStringList{} << "库😀" << "[库😀]" << "备份😀";
    QTest::newRow("emoji, Latin collation")
        << QStringList{"--collation", "Latin1_General_CI_AS"} << "库😀" << "[库😀]" << "备份😀";
}

// Names and paths outside the server's code page reach the server intact:
// create, detach, attach, backup, restore and drop all act on that very name.
void TestMaintenanceE2e::unicodeNamesAndPaths()
{
    QFETCH(QStringList, serverArgs);
    QFETCH(QString, db);
    QFETCH(QString, typedDb);
    QFETCH(QString, folder);
    QVERIFY(startAndLogin(serverArgs));
    win->show();
    const QString dir = path(folder);
    QVERIFY(QDir().mkpath(dir));
    const QString mdf = dir + QLatin1Char('/') + db + QStringLiteral(".mdf");
    const QString ldf = dir + QLatin1Char('/') + db + QStringLiteral("_log.ldf");
    auto named = [&]() { return scalar("select count(*) from master..sysdatabases where name = N'" + db + "'"); };
    auto ok = [&](const char *code) {
        return m_boxes->messages.size() == 1
               && m_boxes->messages[0].startsWith(QStringLiteral("操作编号:") + QLatin1String(code));
    };

    m_boxes->messages.clear();
    QVERIFY(type(win->tb_db, typedDb));
    QVERIFY(type(win->tb_m_file, mdf));
    QVERIFY(type(win->tb_m_size, QStringLiteral("8MB")));
    QVERIFY(type(win->tb_m_group, QStringLiteral("1MB")));
    QVERIFY(type(win->tb_l_file, ldf));
    QVERIFY(type(win->tb_l_size, QStringLiteral("1MB")));
    QVERIFY(type(win->tb_l_group, QStringLiteral("1MB")));
    QVERIFY(press(win->Button15));
    if (typedDb.startsWith(QLatin1Char('['))) {
        // The page writes the typed name into the logical file names too, where
        // brackets do not fit: create the database by hand instead.
        QVERIFY2(!ok("1105"), qPrintable(m_boxes->messages.join('|')));
        exec("create database " + typedDb + " on (name = e_dat, filename = N'" + mdf + "', size = 8MB) log on (name = e_log, filename = N'"
             + ldf + "', size = 1MB)");
    } else {
        QVERIFY2(ok("1105"), qPrintable(m_boxes->messages.join('|')));
    }
    QCOMPARE(named(), QStringLiteral("1"));
    QVERIFY(QFileInfo::exists(mdf));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db3, db));
    QVERIFY(press(win->Button7));
    QVERIFY2(ok("1102"), qPrintable(m_boxes->messages.join('|')));
    QCOMPARE(named(), QStringLiteral("0"));
    QVERIFY(lastEntryBody().contains("EXEC sp_detach_db N'" + db + "'"));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db4, db));
    QVERIFY(type(win->tb_m_path, mdf));
    QVERIFY(type(win->tb_l_path, ldf));
    QVERIFY(press(win->Button9));
    QVERIFY2(ok("1103"), qPrintable(m_boxes->messages.join('|')));
    QCOMPARE(named(), QStringLiteral("1"));
    QVERIFY(listedEverywhere(db));

    const QString bak = dir + QLatin1Char('/') + db + QStringLiteral(".BAK");
    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db, typedDb));
    QVERIFY(type(win->tb_bak_path, bak));
    QVERIFY(press(win->Button3));
    QVERIFY2(ok("1100"), qPrintable(m_boxes->messages.join('|')));
    QVERIFY(QFileInfo(bak).size() > 0);

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db5, typedDb));
    QVERIFY(press(win->Button11));
    QVERIFY2(ok("1104"), qPrintable(m_boxes->messages.join('|')));
    QCOMPARE(named(), QStringLiteral("0"));
    QVERIFY(!QFileInfo::exists(mdf));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db2, typedDb));
    QVERIFY(type(win->tb_bak_path2, bak));
    QVERIFY(press(win->Button5));
    QVERIFY2(ok("1101"), qPrintable(m_boxes->messages.join('|')));
    QCOMPARE(named(), QStringLiteral("1"));
    QVERIFY(QFileInfo::exists(mdf));
    QVERIFY(listedEverywhere(db));
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestMaintenanceE2e::createWithAndWithoutMaximum()
{
    QVERIFY(startAndLogin());
    createDb(QStringLiteral("plain"));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1105\r\n\r\n创建成功,可进行其它操作"});
    QVERIFY(listedEverywhere(QStringLiteral("plain")));
    QVERIFY(QFileInfo::exists(path("plain.mdf")));
    QVERIFY(QFileInfo::exists(path("plain_log.ldf")));
    QCOMPARE(lastEntryBody().size(), 1 + 12 + 1);
    QCOMPARE(lastEntryBody().last(), QStringLiteral("操作成功"));

    m_boxes->messages.clear();
    createDb(QStringLiteral("bothmax"), QStringLiteral("50MB"), QStringLiteral("20MB"));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1105\r\n\r\n创建成功,可进行其它操作"});
    QCOMPARE(lastEntryBody().size(), 1 + 14 + 1);
    QVERIFY(lastEntryBody().contains(QStringLiteral("maxsize = 50MB,")));

    m_boxes->messages.clear();
    createDb(QStringLiteral("logmax"), QString(), QStringLiteral("20MB"));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1105\r\n\r\n创建成功,可进行其它操作"});
    QCOMPARE(lastEntryBody().size(), 1 + 13 + 1);

    for (const char *db : {"plain", "bothmax", "logmax"})
        QVERIFY2(listedEverywhere(QString::fromLatin1(db)), db);
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6}) {
        QCOMPARE(cb->currentText(), QString());
        QVERIFY(pickerItems(cb).contains(QStringLiteral("master")));
    }

    // The same name again is refused by the server.
    m_boxes->messages.clear();
    createDb(QStringLiteral("plain"));
    QCOMPARE(m_boxes->messages, QStringList{"错误编号:1001\r\n\r\n创建失败,请检查网络情况"});
    QCOMPARE(lastEntryBody().last(), QStringLiteral("操作失败"));
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestMaintenanceE2e::backupDropRestore()
{
    QVERIFY(startAndLogin());
    createDb(QStringLiteral("sales"));
    QVERIFY(listedEverywhere(QStringLiteral("sales")));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db, QStringLiteral("sales")));
    QVERIFY(type(win->tb_bak_path, path("one.BAK")));
    QVERIFY(press(win->Button3));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1100\r\n\r\n备份成功,可进行其它操作"});
    QVERIFY(QFileInfo(path("one.BAK")).size() > 0);
    QCOMPARE(lastEntryBody(),
             (QStringList{"备份数据库", "use master",
                          "if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'",
                          "EXEC sp_addumpdevice 'disk', 'DUMPX', N'" + path("one.BAK") + "'",
                          "BACKUP DATABASE sales TO DUMPX", "操作成功"}));
    // Backup does not refresh: the picker keeps its text.
    QCOMPARE(win->cb_db->currentText(), QStringLiteral("sales"));
    const QByteArray firstHash = fileHash(path("one.BAK"));
    const QDateTime firstTime = QFileInfo(path("one.BAK")).lastModified();

    // A second backup to another path re-creates the device there and leaves
    // the first file alone.
    m_boxes->messages.clear();
    QVERIFY(type(win->tb_bak_path, path("two.BAK")));
    QVERIFY(press(win->Button3));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1100\r\n\r\n备份成功,可进行其它操作"});
    QVERIFY(QFileInfo(path("two.BAK")).size() > 0);
    QCOMPARE(fileHash(path("one.BAK")), firstHash);
    QCOMPARE(QFileInfo(path("one.BAK")).lastModified(), firstTime);
    QCOMPARE(QDir::cleanPath(scalar(QStringLiteral("select phyname from master..sysdevices where name='DUMPX'"))),
             QDir::cleanPath(path("two.BAK")));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db5, QStringLiteral("sales")));
    QVERIFY(press(win->Button11));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1104\r\n\r\n删除成功,可进行其它操作"});
    QVERIFY(listedNowhere(QStringLiteral("sales")));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db2, QStringLiteral("sales")));
    QVERIFY(type(win->tb_bak_path2, path("one.BAK")));
    QVERIFY(press(win->Button5));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1101\r\n\r\n还原成功,可进行其它操作"});
    QVERIFY(listedEverywhere(QStringLiteral("sales")));
    QCOMPARE(win->cb_db2->currentText(), QStringLiteral("sales")); // never filled, keeps its text

    // "with replace": restoring over the existing database succeeds too.
    m_boxes->messages.clear();
    QVERIFY(press(win->Button5));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1101\r\n\r\n还原成功,可进行其它操作"});
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestMaintenanceE2e::detachAttach()
{
    QVERIFY(startAndLogin());
    createDb(QStringLiteral("moving"));
    QVERIFY(listedEverywhere(QStringLiteral("moving")));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db3, QStringLiteral("moving")));
    QVERIFY(press(win->Button7));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1102\r\n\r\n分离成功,可进行其它操作"});
    QVERIFY(listedNowhere(QStringLiteral("moving")));
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        QCOMPARE(cb->currentText(), QString());
    QVERIFY(QFileInfo::exists(path("moving.mdf")));
    QVERIFY(QFileInfo::exists(path("moving_log.ldf")));

    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db4, QStringLiteral("moving")));
    QVERIFY(type(win->tb_m_path, path("moving.mdf")));
    QVERIFY(type(win->tb_l_path, path("moving_log.ldf")));
    QVERIFY(press(win->Button9));
    QCOMPARE(m_boxes->messages, QStringList{"操作编号:1103\r\n\r\n附加成功,可进行其它操作"});
    QVERIFY(listedEverywhere(QStringLiteral("moving")));
    QCOMPARE(lastEntryBody(), (QStringList{"附加数据库", "use master",
                                           "EXEC sp_attach_db N'moving',N'" + path("moving.mdf") + "',N'" +
                                               path("moving_log.ldf") + "'",
                                           "操作成功"}));
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestMaintenanceE2e::shrinkDependsOnServerVersion_data()
{
    QTest::addColumn<QStringList>("serverArgs");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("current server refuses no_log")
        << QStringList{} << "错误编号:1001\r\n\r\n压缩失败,请检查网络情况" << "操作失败";
    QTest::newRow("2000 compatible") << QStringList{"--compat", "2000"}
                                     << "操作编号:1110\r\n\r\n压缩成功,可进行其它操作" << "操作成功";
}

void TestMaintenanceE2e::shrinkDependsOnServerVersion()
{
    QFETCH(QStringList, serverArgs);
    QFETCH(QString, message);
    QFETCH(QString, outcome);
    QVERIFY(startAndLogin(serverArgs));
    createDb(QStringLiteral("big"));
    m_boxes->messages.clear();
    QVERIFY(type(win->cb_db6, QStringLiteral("big")));
    QVERIFY(press(win->Button13));
    QCOMPARE(m_boxes->messages, QStringList{message});
    QCOMPARE(lastEntryBody(), (QStringList{"压缩数据库", "use master", "dump transaction big with no_log",
                                           "backup log big with no_log", "dbcc shrinkdatabase (big)", outcome}));
    QVERIFY(m_boxes->errors.isEmpty());
}

void TestMaintenanceE2e::failures_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("message");
    QTest::newRow("backup of a missing database") << "backup missing" << "错误编号:1001\r\n\r\n备份失败,请检查网络情况";
    QTest::newRow("backup to an unwritable path") << "backup unwritable" << "错误编号:1001\r\n\r\n备份失败,请检查网络情况";
    QTest::newRow("restore from a missing file") << "restore missing" << "错误编号:1001\r\n\r\n还原失败,请检查网络情况";
    QTest::newRow("restore over a database in use")
        << "restore in use" << "错误编号:1001\r\n\r\n还原失败,请检查网络情况";
    QTest::newRow("detach a missing database") << "detach missing" << "错误编号:1001\r\n\r\n分离失败,请检查网络情况";
    QTest::newRow("detach a database in use") << "detach in use" << "错误编号:1001\r\n\r\n分离失败,请检查网络情况";
    QTest::newRow("attach missing files") << "attach missing" << "错误编号:1001\r\n\r\n附加失败,请检查网络情况";
    QTest::newRow("drop a missing database") << "drop missing" << "错误编号:1001\r\n\r\n删除失败,请检查网络情况";
    QTest::newRow("drop a database in use") << "drop in use" << "错误编号:1001\r\n\r\n删除失败,请检查网络情况";
    QTest::newRow("create on an unwritable path") << "create unwritable" << "错误编号:1001\r\n\r\n创建失败,请检查网络情况";
}

void TestMaintenanceE2e::failures()
{
    QFETCH(QString, action);
    QFETCH(QString, message);
    QVERIFY(startAndLogin());
    createDb(QStringLiteral("busy"));
    QVERIFY(listedEverywhere(QStringLiteral("busy")));
    QVERIFY(type(win->cb_db, QStringLiteral("busy")));
    QVERIFY(type(win->tb_bak_path, path("busy.BAK")));
    QVERIFY(press(win->Button3));
    QVERIFY(QFileInfo::exists(path("busy.BAK")));

    // A second connection that sits in the database keeps it in use.
    std::unique_ptr<dv::Connection> other;
    if (action.endsWith(QLatin1String("in use"))) {
        other = dv::makeOdbcConnection();
        dv::Statement st;
        st.text = QStringLiteral("use busy");
        st.timeoutSec = 10;
        try {
            other->open(dvtest::connectParams(*m_server));
            other->execute(st);
        } catch (const dv::DbError &e) {
            QFAIL(qPrintable(QStringLiteral("second connection: ") + e.message()));
        }
    }

    const QString unwritable = m_server->filesDir() + QStringLiteral("/no/such/folder/");
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        QVERIFY(type(cb, QStringLiteral("typed")));
    m_boxes->messages.clear();

    if (action == QLatin1String("backup missing")) {
        QVERIFY(type(win->cb_db, QStringLiteral("nosuchdb")));
        QVERIFY(type(win->tb_bak_path, path("x.BAK")));
        QVERIFY(press(win->Button3));
    } else if (action == QLatin1String("backup unwritable")) {
        QVERIFY(type(win->cb_db, QStringLiteral("busy")));
        QVERIFY(type(win->tb_bak_path, unwritable + QStringLiteral("x.BAK")));
        QVERIFY(press(win->Button3));
        QVERIFY(!QFileInfo::exists(unwritable + QStringLiteral("x.BAK")));
    } else if (action == QLatin1String("restore missing")) {
        QVERIFY(type(win->cb_db2, QStringLiteral("busy")));
        QVERIFY(type(win->tb_bak_path2, path("nothere.BAK")));
        QVERIFY(press(win->Button5));
    } else if (action == QLatin1String("restore in use")) {
        QVERIFY(type(win->cb_db2, QStringLiteral("busy")));
        QVERIFY(type(win->tb_bak_path2, path("busy.BAK")));
        QVERIFY(press(win->Button5));
    } else if (action.startsWith(QLatin1String("detach"))) {
        QVERIFY(type(win->cb_db3, action.endsWith(QLatin1String("missing")) ? QStringLiteral("nosuchdb")
                                                                            : QStringLiteral("busy")));
        QVERIFY(press(win->Button7));
    } else if (action == QLatin1String("attach missing")) {
        QVERIFY(type(win->cb_db4, QStringLiteral("ghost")));
        QVERIFY(type(win->tb_m_path, path("ghost.mdf")));
        QVERIFY(type(win->tb_l_path, path("ghost.ldf")));
        QVERIFY(press(win->Button9));
    } else if (action.startsWith(QLatin1String("drop"))) {
        QVERIFY(type(win->cb_db5, action.endsWith(QLatin1String("missing")) ? QStringLiteral("nosuchdb")
                                                                            : QStringLiteral("busy")));
        QVERIFY(press(win->Button11));
    } else if (action == QLatin1String("create unwritable")) {
        QVERIFY(type(win->tb_db, QStringLiteral("nowhere")));
        QVERIFY(type(win->tb_m_file, unwritable + QStringLiteral("n.mdf")));
        QVERIFY(type(win->tb_m_size, QStringLiteral("8MB")));
        QVERIFY(type(win->tb_m_group, QStringLiteral("1MB")));
        QVERIFY(type(win->tb_l_file, unwritable + QStringLiteral("n.ldf")));
        QVERIFY(type(win->tb_l_size, QStringLiteral("1MB")));
        QVERIFY(type(win->tb_l_group, QStringLiteral("1MB")));
        QVERIFY(press(win->Button15));
    } else {
        QFAIL("unknown action");
    }

    QCOMPARE(m_boxes->messages, QStringList{message});
    QVERIFY(m_boxes->errors.isEmpty());
    const QStringList body = lastEntryBody();
    QVERIFY(body.size() >= 4);
    QCOMPARE(body.value(1), QStringLiteral("use master"));
    QCOMPARE(body.last(), QStringLiteral("操作失败"));
    // A failed operation does not refresh: typed texts stay, "busy" stays listed.
    for (QComboBox *cb : {win->cb_db, win->cb_db3, win->cb_db5, win->cb_db6})
        QVERIFY(pickerItems(cb).contains(QStringLiteral("busy")));
    QCOMPARE(win->cb_db6->currentText(), QStringLiteral("typed"));
    if (other)
        other->close();
}

QTEST_MAIN(TestMaintenanceE2e)
#include "tst_maintenance_e2e.moc"
