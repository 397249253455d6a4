// Drives ts::Engine / ts::Session directly and checks what a client would see
// and what lands on disk.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include "enginefixture.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <chrono>
#include <thread>

using namespace ts;

// An object left without its destructor on purpose (a simulated crash): the
// leak checker treats it, and what it holds, as still in use.
static void abandon(const void *object)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(object);
#else
    (void)object;
#endif
}

class EngineTest : public QObject, EngineFixture {
    Q_OBJECT

private:
    QString files() const { return m_tmp.path() + "/files"; }
    std::string file(const char *name) const { return (files() + "/" + name).toStdString(); }
    // Starts the engine, or starts it again; the tests open their sessions themselves.
    void restartEngine(bool compat2000 = false)
    {
        const std::string err = startBareEngine(compat2000);
        QVERIFY2(err.empty(), err.c_str());
    }
    std::string createSql(const std::string &db)
    {
        return "create database " + db + "\non\n( name = " + db + "_dat,\nfilename='" + file((db + ".mdf").c_str())
            + "',\nsize=8MB,\nmaxsize = 20MB,\nfilegrowth=1MB)\nlog on\n( name = " + db + "_log,\nfilename='"
            + file((db + ".ldf").c_str()) + "',\nsize=2MB,\nfilegrowth=10%)";
    }
    QStringList databaseNames(Session &s)
    {
        auto k = run(s, "select name from master..sysdatabases order by name");
        QStringList out;
        if (k.results.empty()) return out;
        for (size_t r = 0; r < k.results[0].rows.size(); ++r) out << QString::fromStdString(k.text(0, r, 0));
        return out;
    }

private slots:
    void init()
    {
        QVERIFY(m_tmp.isValid());
        QDir(m_tmp.path()).removeRecursively();
        QDir().mkpath(files());
        restartEngine();
    }
    void cleanup() { stopEngine(); }

    void systemDatabasesAndOrdering();
    void useChangesDatabase();
    void createDatabaseWritesFiles();
    void createDatabaseErrors_data();
    void createDatabaseErrors();
    void backupDropRestoreRoundTrip();
    void backupAndRestoreErrors_data();
    void backupAndRestoreErrors();
    void backupMediaSets();
    void restoreWhileInUse();
    void detachAndAttach();
    void attachErrors();
    void dropDatabase();
    void dropInUseByAnotherSession();
    void shrinkBatch();
    void shrinkBatchCompat2000();
    void deviceProcedures();
    void syntaxErrorRunsNothing_data();
    void syntaxErrorRunsNothing();
    void runtimeErrorContinues();
    void userSqlErrors_data();
    void userSqlErrors();
    void tableMetadata();
    void identityAndVariables();
    void threePartNames();
    void selectFeatures_data();
    void selectFeatures();
    void informationSchema();
    void waitforCancelled();
    void restartKeepsCatalogue();
    void printAndRaiserror();
    void executesqlRpc();
    void largeResultStreams();
    void manyDatabases();
    void concurrentSessions();
    void longStatementCancelled();
    void survivesUncleanStop();
    void guardedSingleRowWrite();
    void slowClientDoesNotBlockOthers();
};

void EngineTest::systemDatabasesAndOrdering()
{
    auto s = openSession();
    QVERIFY(s);
    QCOMPARE(s->currentDatabase(), std::string("master"));
    for (const char *db : {"zeta", "Alpha", "beta"}) QVERIFY(!run(*s, std::string("create database ") + db).anyError());
    // Case-insensitive order as with SQL Server's default collation.
    QCOMPARE(databaseNames(*s), QStringList({"Alpha", "beta", "master", "model", "msdb", "tempdb", "zeta"}));
    auto k = run(*s, "select name, dbid, cmptlevel, filename from sysdatabases where name = 'MASTER'");
    QCOMPARE(k.results.at(0).rows.size(), size_t(1));
    QCOMPARE(k.text(0, 0, 1), std::string("1"));
    QCOMPARE(k.results[0].cols.at(0).type, SqlType::NVarChar);
    QCOMPARE(k.results[0].cols.at(1).type, SqlType::SmallInt);
    k = run(*s, "select name, database_id, state_desc from sys.databases where name = 'beta'");
    QCOMPARE(k.text(0, 0, 2), std::string("ONLINE"));
    k = run(*s, "select count(*) from master.dbo.sysdatabases");
    QCOMPARE(k.text(0, 0, 0), std::string("7"));
}

void EngineTest::useChangesDatabase()
{
    auto s = openSession();
    QVERIFY(!run(*s, "create database Shop").anyError());
    auto k = run(*s, "use shop\r\nselect db_name()");
    QCOMPARE(k.dbChanges.size(), size_t(1));
    QCOMPARE(k.dbChanges[0].first, std::string("master"));
    QCOMPARE(k.dbChanges[0].second, std::string("Shop"));
    QCOMPARE(k.messages.at(0).number, 5701);
    QCOMPARE(k.messages.at(0).severity, 0);
    QCOMPARE(k.messages.at(0).text, std::string("Changed database context to 'Shop'."));
    QCOMPARE(k.text(0, 0, 0), std::string("Shop"));
    QCOMPARE(s->currentDatabase(), std::string("Shop"));

    k = run(*s, "use nosuchdb");
    QCOMPARE(k.errorNumbers(), std::vector<int>{911});
    QCOMPARE(k.messages[0].text, std::string("Database 'nosuchdb' does not exist. Make sure that the name is entered correctly."));
    QCOMPARE(s->currentDatabase(), std::string("Shop"));

    Message m;
    QVERIFY(!m_engine->openSession("sa", "nosuchdb", 99, &m));
    QCOMPARE(m.number, 4060);
}

void EngineTest::createDatabaseWritesFiles()
{
    auto s = openSession();
    auto k = run(*s, "use master\r\n" + createSql("Sales") + "\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(QFile::exists(files() + "/Sales.mdf"));
    QVERIFY(QFile::exists(files() + "/Sales.ldf"));
    QCOMPARE(QFile(files() + "/Sales.ldf").size(), qint64(2 * 1024 * 1024));
    QCOMPARE(databaseNames(*s).count("Sales"), 1);
    k = run(*s, "select name, physical_name, size, max_size, growth, is_percent_growth from sys.master_files "
                "where database_id = db_id('Sales') order by file_id");
    QCOMPARE(k.results.at(0).rows.size(), size_t(2));
    QCOMPARE(k.text(0, 0, 0), std::string("Sales_dat"));
    QCOMPARE(k.text(0, 0, 1), file("Sales.mdf"));
    QCOMPARE(k.text(0, 0, 2), std::string("1024"));  // 8 MB in 8 KB pages
    QCOMPARE(k.text(0, 0, 3), std::string("2560"));
    QCOMPARE(k.text(0, 0, 4), std::string("128"));
    QCOMPARE(k.text(0, 1, 4), std::string("10"));
    QCOMPARE(k.text(0, 1, 5), std::string("1"));
    // The data file is a working database.
    k = run(*s, "use Sales create table t (a int) insert t values (1) select * from t");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
}

void EngineTest::createDatabaseErrors_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<int>>("errors");
    QTest::newRow("exists") << "create database master" << QList<int>{1801};
    QTest::newRow("file exists") << "create database X on (name=x, filename='@/taken.mdf') log on (name=y, filename='@/y.ldf')" << QList<int>{5170, 1802};
    QTest::newRow("no directory") << "create database X on (name=x, filename='@/none/x.mdf') log on (name=y, filename='@/y.ldf')" << QList<int>{5133, 1802};
    QTest::newRow("bad unit") << "create database X on (name=x, filename='@/x.mdf', size=5XB) log on (name=y, filename='@/y.ldf')" << QList<int>{102};
    QTest::newRow("size word") << "create database X on (name=x, filename='@/x.mdf', size=big) log on (name=y, filename='@/y.ldf')" << QList<int>{102};
    QTest::newRow("max keyword") << "create database X on (name=x, filename='@/x.mdf', max = 20MB) log on (name=y, filename='@/y.ldf')" << QList<int>{153};
    QTest::newRow("percent size") << "create database X on (name=x, filename='@/x.mdf', size=5%) log on (name=y, filename='@/y.ldf')" << QList<int>{102};
    QTest::newRow("same logical") << "create database X on (name=x, filename='@/x.mdf') log on (name=x, filename='@/y.ldf')" << QList<int>{1828};
    QTest::newRow("primary smaller than model") << "create database X on (name=x, filename='@/x.mdf', size=7MB) log on (name=y, filename='@/y.ldf')" << QList<int>{1803};
    QTest::newRow("maximum below size") << "create database X on (name=x, filename='@/x.mdf', size=8MB, maxsize=4MB) log on (name=y, filename='@/y.ldf')" << QList<int>{5103};
    QTest::newRow("relative data file") << "create database X on (name=x, filename='x.mdf') log on (name=y, filename='@/y.ldf')" << QList<int>{5105, 1802};
    QTest::newRow("relative log file") << "create database X on (name=x, filename='@/x.mdf') log on (name=y, filename='y.ldf')" << QList<int>{5105, 1802};
}

void EngineTest::createDatabaseErrors()
{
    QFETCH(QString, sql);
    QFETCH(QList<int>, errors);
    QFile taken(files() + "/taken.mdf");
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.write("keep");
    taken.close();
    auto s = openSession();
    auto k = run(*s, sql.replace("@", files()).toStdString());
    std::vector<int> expected(errors.begin(), errors.end());
    QCOMPARE(k.errorNumbers(), expected);
    QVERIFY(k.dones.back().error);
    // Nothing half-made stays behind.
    QVERIFY(!QFile::exists(files() + "/x.mdf"));
    QVERIFY(!QFile::exists(files() + "/y.ldf"));
    QCOMPARE(QFile(files() + "/taken.mdf").size(), qint64(4));
    QCOMPARE(databaseNames(*s).count("X"), 0);
}

void EngineTest::backupDropRestoreRoundTrip()
{
    auto s = openSession();
    QVERIFY(!run(*s, createSql("Books")).anyError());
    auto k = run(*s, "use Books create table b (id int identity(1,1) primary key, title nvarchar(50)) "
                     "insert b (title) values (N'一'), ('two'), ('three')");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    std::string bak = file("BOOKS200214085149.BAK");
    k = run(*s, "use master\r\nif exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'\r\n"
                "EXEC sp_addumpdevice 'disk', 'DUMPX', '" + bak + "'\r\nBACKUP DATABASE Books TO DUMPX\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(QFile::exists(QString::fromStdString(bak)));
    std::vector<int> infos;
    for (const auto &m : k.messages) infos.push_back(m.number);
    QCOMPARE(infos, (std::vector<int>{5701, 4035, 4035, 3014}));
    QVERIFY(QString::fromStdString(k.messages[1].text).startsWith("Processed "));
    QVERIFY(QString::fromStdString(k.messages[1].text).endsWith(" pages for database 'Books', file 'Books_dat' on file 1."));
    QVERIFY(QString::fromStdString(k.messages[3].text).startsWith("BACKUP DATABASE successfully processed "));

    k = run(*s, "use master\r\ndrop database Books\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(!QFile::exists(files() + "/Books.mdf"));
    QVERIFY(!QFile::exists(files() + "/Books.ldf"));

    k = run(*s, "use master\r\nif exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'\r\n"
                "restore database Books from disk='" + bak + "' with replace\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.messages.back().number, 3014);
    QVERIFY(QFile::exists(files() + "/Books.mdf"));
    QVERIFY(QFile::exists(files() + "/Books.ldf"));
    k = run(*s, "select id, title from Books..b order by id");
    QCOMPARE(k.results.at(0).rows.size(), size_t(3));
    QCOMPARE(k.text(0, 0, 1), std::string("一"));
    QCOMPARE(k.text(0, 2, 0), std::string("3"));

    // Restoring over the existing database replaces its content.
    run(*s, "insert Books..b (title) values ('four')");
    k = run(*s, "restore database Books from disk='" + bak + "' with replace");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "select count(*) from Books.dbo.b");
    QCOMPARE(k.text(0, 0, 0), std::string("3"));
    // The identity continues after the restored rows.
    run(*s, "insert Books..b (title) values ('five')");
    k = run(*s, "select max(id) from Books..b");
    QCOMPARE(k.text(0, 0, 0), std::string("4"));
}

void EngineTest::backupAndRestoreErrors_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<int>>("errors");
    QTest::newRow("no directory") << "BACKUP DATABASE master TO DISK='@/none/x.bak'" << QList<int>{3201, 3013};
    QTest::newRow("no database") << "BACKUP DATABASE nosuch TO DISK='@/x.bak'" << QList<int>{911, 3013};
    QTest::newRow("no device") << "BACKUP DATABASE master TO NODEVICE" << QList<int>{3206, 3013};
    QTest::newRow("restore missing file") << "restore database R from disk='@/missing.bak' with replace" << QList<int>{3201, 3013};
    QTest::newRow("restore not a backup") << "restore database R from disk='@/junk.bak' with replace" << QList<int>{3241, 3013};
    QTest::newRow("empty name") << "BACKUP DATABASE  TO DUMPX" << QList<int>{156};
    // A file that is not backup media is never written over, unless formatted.
    QTest::newRow("append to a file that is not a backup") << "BACKUP DATABASE master TO DISK='@/junk.bak'" << QList<int>{3241, 3013};
    QTest::newRow("init over a file that is not a backup") << "BACKUP DATABASE master TO DISK='@/junk.bak' WITH INIT" << QList<int>{3241, 3013};
    QTest::newRow("backup tempdb") << "BACKUP DATABASE tempdb TO DISK='@/t.bak'" << QList<int>{3147, 3013};
    QTest::newRow("restore tempdb") << "RESTORE DATABASE tempdb FROM DISK='@/junk.bak'" << QList<int>{3147, 3013};
    QTest::newRow("header of a file that is not a backup") << "RESTORE HEADERONLY FROM DISK='@/junk.bak'" << QList<int>{3241, 3013};
}

void EngineTest::backupAndRestoreErrors()
{
    QFETCH(QString, sql);
    QFETCH(QList<int>, errors);
    QFile junk(files() + "/junk.bak");
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a backup");
    junk.close();
    auto s = openSession();
    auto k = run(*s, sql.replace("@", files()).toStdString());
    std::vector<int> expected(errors.begin(), errors.end());
    QCOMPARE(k.errorNumbers(), expected);
    if (expected.back() == 3013) {
        QVERIFY(QString::fromStdString(k.messages.back().text).endsWith("is terminating abnormally."));
        QVERIFY(QString::fromStdString(k.messages.front().text).contains("Operating system error")
                || expected.front() != 3201);
    }
    QCOMPARE(databaseNames(*s).count("R"), 0);
    QCOMPARE(QFile(files() + "/junk.bak").size(), qint64(12));
    QVERIFY(!QFile::exists(files() + "/t.bak"));
}

// Backups append sets to a file; RESTORE takes set 1 unless FILE = n names another.
void EngineTest::backupMediaSets()
{
    auto s = openSession();
    QVERIFY(!run(*s, createSql("Media")).anyError());
    QVERIFY(!run(*s, "create table Media..t (v nvarchar(10)) insert Media..t values (N'first')").anyError());
    const std::string bak = file("media.bak");
    auto k = run(*s, "BACKUP DATABASE Media TO DISK='" + bak + "'");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(!run(*s, "update Media..t set v = N'second'").anyError());
    k = run(*s, "BACKUP DATABASE Media TO DISK='" + bak + "' WITH NAME = N'evening'");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(QString::fromStdString(k.messages.at(0).text).endsWith("file 'Media_dat' on file 2."));
    QVERIFY(!run(*s, "update Media..t set v = N'third'").anyError());

    k = run(*s, "RESTORE HEADERONLY FROM DISK='" + bak + "'");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.size(), size_t(1));
    const auto &cols = k.results[0].cols;
    auto colIndex = [&](const char *name) {
        for (size_t i = 0; i < cols.size(); ++i) if (cols[i].name == name) return i;
        return size_t(-1);
    };
    const size_t position = colIndex("Position"), dbName = colIndex("DatabaseName"), backupName = colIndex("BackupName");
    QCOMPARE(cols.at(0).name, std::string("BackupName"));
    QVERIFY(colIndex("BackupFinishDate") != size_t(-1));
    QCOMPARE(k.results[0].rows.size(), size_t(2));
    QCOMPARE(k.text(0, 0, position), std::string("1"));
    QCOMPARE(k.text(0, 1, position), std::string("2"));
    QCOMPARE(k.text(0, 1, dbName), std::string("Media"));
    QCOMPARE(k.text(0, 0, backupName), std::string("NULL"));
    QCOMPARE(k.text(0, 1, backupName), std::string("evening"));

    k = run(*s, "RESTORE FILELISTONLY FROM DISK='" + bak + "' WITH FILE = 2");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.at(0).rows.size(), size_t(2));
    QCOMPARE(k.text(0, 0, 0), std::string("Media_dat"));
    QCOMPARE(k.text(0, 0, 2), std::string("D"));
    QCOMPARE(k.text(0, 1, 2), std::string("L"));

    // Without FILE the oldest set comes back.
    k = run(*s, "RESTORE DATABASE Media FROM DISK='" + bak + "' WITH REPLACE");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(run(*s, "select v from Media..t").text(0, 0, 0), std::string("first"));
    k = run(*s, "RESTORE DATABASE Media FROM DISK='" + bak + "' WITH REPLACE, FILE = 2");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(run(*s, "select v from Media..t").text(0, 0, 0), std::string("second"));
    k = run(*s, "RESTORE DATABASE Media FROM DISK='" + bak + "' WITH REPLACE, FILE = 3");
    QCOMPARE(k.errorNumbers(), (std::vector<int>{4038, 3013}));
    QCOMPARE(run(*s, "select v from Media..t").text(0, 0, 0), std::string("second"));

    // INIT starts the media over with this set as set 1.
    QVERIFY(!run(*s, "BACKUP DATABASE Media TO DISK='" + bak + "' WITH INIT").anyError());
    QCOMPARE(run(*s, "RESTORE HEADERONLY FROM DISK='" + bak + "'").results.at(0).rows.size(), size_t(1));

    // FORMAT writes media over a file that was none.
    QFile junk(files() + "/junk.bak");
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a backup");
    junk.close();
    QCOMPARE(run(*s, "BACKUP DATABASE Media TO DISK='" + file("junk.bak") + "'").errorNumbers(), (std::vector<int>{3241, 3013}));
    QVERIFY(!run(*s, "BACKUP DATABASE Media TO DISK='" + file("junk.bak") + "' WITH FORMAT").anyError());
    QCOMPARE(run(*s, "RESTORE HEADERONLY FROM DISK='" + file("junk.bak") + "'").text(0, 0, position), std::string("1"));

    // A relative path lands in the default backup folder under the data folder.
    QVERIFY(!run(*s, "BACKUP DATABASE Media TO DISK='rel.bak'").anyError());
    QVERIFY(QFile::exists(dataDir() + "/Backup/rel.bak"));
    QVERIFY(!run(*s, "RESTORE VERIFYONLY FROM DISK='rel.bak'").anyError());
}

void EngineTest::restoreWhileInUse()
{
    auto s = openSession();
    auto other = openSession();
    QVERIFY(!run(*s, createSql("Busy")).anyError());
    QVERIFY(!run(*s, "backup database Busy to disk='" + file("busy.bak") + "'").anyError());
    QVERIFY(!run(*other, "use Busy").anyError());
    auto k = run(*s, "restore database Busy from disk='" + file("busy.bak") + "' with replace");
    QCOMPARE(k.errorNumbers(), (std::vector<int>{3101, 3013}));
    QCOMPARE(k.messages[0].text, std::string("Exclusive access could not be obtained because the database is in use."));
    QCOMPARE(k.messages[1].text, std::string("RESTORE DATABASE is terminating abnormally."));
    // A backup restored under another name cannot take the files of the first database.
    run(*other, "use master");
    k = run(*s, "restore database Busy2 from disk='" + file("busy.bak") + "' with replace");
    QCOMPARE(k.errorNumbers(), (std::vector<int>{1834, 3156, 3119, 3013}));
    k = run(*s, "restore database Busy2 from disk='" + file("busy.bak") + "' with replace, move 'Busy_dat' to '"
                + file("b2.mdf") + "', move 'Busy_log' to '" + file("b2.ldf") + "'");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(QFile::exists(files() + "/b2.mdf"));
}

void EngineTest::detachAndAttach()
{
    auto s = openSession();
    QVERIFY(!run(*s, createSql("Arch")).anyError());
    QVERIFY(!run(*s, "use Arch create table a (x int) insert a values (7) use master").anyError());
    auto k = run(*s, "use master\r\nEXEC sp_detach_db 'Arch'\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.events, (std::vector<std::string>{"env master", "msg 5701", "done", "status 0", "doneproc"}));
    QCOMPARE(databaseNames(*s).count("Arch"), 0);
    QVERIFY(QFile::exists(files() + "/Arch.mdf"));
    QVERIFY(QFile::exists(files() + "/Arch.ldf"));
    QVERIFY(!QFile::exists(files() + "/Arch.mdf-wal") || QFile(files() + "/Arch.mdf-wal").size() == 0);

    k = run(*s, "use master\r\nEXEC sp_attach_db 'Arch2','" + file("Arch.mdf") + "','" + file("Arch.ldf") + "'\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "select x from Arch2..a");
    QCOMPARE(k.text(0, 0, 0), std::string("7"));
    k = run(*s, "select name from sys.master_files where database_id = db_id('Arch2') order by file_id");
    QCOMPARE(k.text(0, 0, 0), std::string("Arch_dat"));
}

void EngineTest::attachErrors()
{
    auto s = openSession();
    auto k = run(*s, "EXEC sp_attach_db 'Gone','" + file("gone.mdf") + "','" + file("gone.ldf") + "'");
    QCOMPARE(k.errorNumbers(), (std::vector<int>{5120, 1813}));
    QCOMPARE(k.messages[0].text, "Unable to open the physical file \"" + file("gone.mdf")
                                     + "\". Operating system error 2: \"2(The system cannot find the file specified.)\".");
    QCOMPARE(k.messages[1].text, std::string("Could not open new database 'Gone'. CREATE DATABASE is aborted."));
    QCOMPARE(k.statuses, std::vector<int>{1});
    k = run(*s, "EXEC sp_attach_db 'msdb','" + file("gone.mdf") + "','" + file("gone.ldf") + "'");
    QCOMPARE(k.errorNumbers(), std::vector<int>{1801});
    QVERIFY(!run(*s, createSql("Live")).anyError());
    // The files of an attached database cannot be attached twice.
    k = run(*s, "EXEC sp_attach_db 'Twice','" + file("Live.mdf") + "','" + file("Live.ldf") + "'");
    QCOMPARE(k.errorNumbers(), (std::vector<int>{5120, 1813}));
    k = run(*s, "EXEC sp_detach_db 'nosuch'");
    QCOMPARE(k.errorNumbers(), std::vector<int>{15010});
    QCOMPARE(k.messages[0].text, std::string("The database 'nosuch' does not exist. Supply a valid database name. To see available databases, use sys.databases."));
}

void EngineTest::dropDatabase()
{
    auto s = openSession();
    auto k = run(*s, "drop database Nothing");
    QCOMPARE(k.errorNumbers(), std::vector<int>{3701});
    QCOMPARE(k.messages[0].severity, 11);
    QCOMPARE(k.messages[0].text, std::string("Cannot drop the database 'Nothing', because it does not exist or you do not have permission."));
    k = run(*s, "drop database master");
    QCOMPARE(k.errorNumbers(), std::vector<int>{3708});
    QVERIFY(!run(*s, "create database Lazy").anyError());
    QVERIFY(!run(*s, "use Lazy create table t(a int) use master").anyError());
    QVERIFY(QFile::exists(dataDir() + "/Lazy.mdf"));
    QVERIFY(!run(*s, "drop database Lazy").anyError());
    QVERIFY(!QFile::exists(dataDir() + "/Lazy.mdf"));
}

void EngineTest::dropInUseByAnotherSession()
{
    auto s = openSession();
    auto other = openSession();
    QVERIFY(!run(*s, createSql("Used")).anyError());
    QVERIFY(!run(*other, "use Used").anyError());
    auto k = run(*s, "use master\r\ndrop database Used\r\n");
    QCOMPARE(k.errorNumbers(), std::vector<int>{3702});
    QCOMPARE(k.messages.back().text, std::string("Cannot drop database \"Used\" because it is currently in use."));
    k = run(*s, "EXEC sp_detach_db 'Used'");
    QCOMPARE(k.errorNumbers(), std::vector<int>{3703});
    QVERIFY(QFile::exists(files() + "/Used.mdf"));
    other.reset(); // the other session logs out
    k = run(*s, "drop database Used");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(!QFile::exists(files() + "/Used.mdf"));
}

void EngineTest::shrinkBatch()
{
    auto s = openSession();
    QVERIFY(!run(*s, createSql("Big")).anyError());
    QVERIFY(!run(*s, "use Big create table t (a int, b nvarchar(200)) "
                     "insert t select 1, 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' "
                     "insert t select a, b from t insert t select a, b from t insert t select a, b from t "
                     "insert t select a, b from t insert t select a, b from t insert t select a, b from t "
                     "insert t select a, b from t insert t select a, b from t insert t select a, b from t "
                     "delete from t use master").anyError());
    // Current servers reject the log-discarding statements at parse time: nothing runs.
    std::string batch = "use master\r\ndump transaction Big with no_log\r\nbackup log Big with no_log\r\ndbcc shrinkdatabase (Big)\r\n";
    auto k = run(*s, batch);
    QCOMPARE(k.errorNumbers().size(), size_t(1));
    QCOMPARE(k.messages[0].severity, 15);
    QVERIFY(k.results.empty());
    QVERIFY(k.dbChanges.empty());
    k = run(*s, "backup log Big with no_log");
    QCOMPARE(k.errorNumbers(), std::vector<int>{155});
    QCOMPARE(k.messages[0].text, std::string("'no_log' is not a recognized BACKUP option."));

    qint64 before = QFile(files() + "/Big.mdf").size() + QFile(files() + "/Big.mdf-wal").size();
    k = run(*s, "dbcc shrinkdatabase (Big)");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.size(), size_t(1));
    std::vector<std::string> names;
    for (const auto &c : k.results[0].cols) names.push_back(c.name);
    QCOMPARE(names, (std::vector<std::string>{"DbId", "FileId", "CurrentSize", "MinimumSize", "UsedPages", "EstimatedPages"}));
    QCOMPARE(k.messages.back().number, 2528);
    QCOMPARE(k.messages.back().severity, 10);
    qint64 after = QFile(files() + "/Big.mdf").size() + QFile(files() + "/Big.mdf-wal").size();
    QVERIFY2(after < before, qPrintable(QString("%1 -> %2").arg(before).arg(after)));
    k = run(*s, "dbcc shrinkdatabase (NoSuch)");
    QCOMPARE(k.errorNumbers(), std::vector<int>{2520});
}

void EngineTest::shrinkBatchCompat2000()
{
    restartEngine(true);
    auto s = openSession();
    QVERIFY(!run(*s, createSql("Old")).anyError());
    auto k = run(*s, "use master\r\ndump transaction Old with no_log\r\nbackup log Old with no_log\r\ndbcc shrinkdatabase (Old)\r\n");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.size(), size_t(1));
    k = run(*s, "select @@version");
    QVERIFY(QString::fromStdString(k.text(0, 0, 0)).contains("2000"));
}

void EngineTest::deviceProcedures()
{
    auto s = openSession();
    auto k = run(*s, "EXEC sp_dropdevice 'DUMPX'");
    QCOMPARE(k.errorNumbers(), std::vector<int>{15012});
    QCOMPARE(k.messages[0].text, std::string("The device 'DUMPX' does not exist. Use sp_helpdevice to show available devices."));
    QCOMPARE(k.events.back(), std::string("doneproc error"));
    QVERIFY(!run(*s, "EXEC sp_addumpdevice 'disk', 'DUMPX', '/a/first.BAK'").anyError());
    k = run(*s, "EXEC sp_addumpdevice 'disk', 'dumpx', '/a/other.BAK'");
    QCOMPARE(k.errorNumbers(), std::vector<int>{15026});
    // Replacing the device, as every backup does.
    k = run(*s, "if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'\r\n"
                "EXEC sp_addumpdevice 'disk', 'DUMPX', '/a/second.BAK'");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "select phyname, cntrltype from sysdevices where name = 'DUMPX'");
    QCOMPARE(k.results.at(0).rows.size(), size_t(1));
    QCOMPARE(k.text(0, 0, 0), std::string("/a/second.BAK"));
    QCOMPARE(k.text(0, 0, 1), std::string("2"));
    k = run(*s, "exec sp_nosuchproc");
    QCOMPARE(k.errorNumbers(), std::vector<int>{2812});
}

void EngineTest::syntaxErrorRunsNothing_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line");
    QTest::newRow("keyword") << "create table s1 (a int)\ninsert s1 values (1)\nselect * from where" << 156 << "Incorrect syntax near the keyword 'where'." << 3;
    QTest::newRow("token") << "create table s1 (a int)\nselect 1 2" << 102 << "Incorrect syntax near '2'." << 2;
    QTest::newRow("end") << "create table s1 (a int)\nselect * from s1 where a =" << 102 << "Incorrect syntax near ''." << 2;
    QTest::newRow("unclosed quote") << "create table s1 (a int)\nselect 'abc" << 105 << "Unclosed quotation mark after the character string 'abc'." << 2;
    QTest::newRow("unknown function") << "create table s1 (a int)\nselect nofunc(1)" << 195 << "'nofunc' is not a recognized built-in function name." << 2;
}

void EngineTest::syntaxErrorRunsNothing()
{
    QFETCH(QString, sql);
    QFETCH(int, error);
    QFETCH(QString, text);
    QFETCH(int, line);
    auto s = openSession();
    auto k = run(*s, sql.toStdString());
    QCOMPARE(k.errorNumbers(), std::vector<int>{error});
    QCOMPARE(QString::fromStdString(k.messages[0].text), text);
    QCOMPARE(k.dones.size(), size_t(1));
    QVERIFY(k.dones[0].error);
    QCOMPARE(k.messages[0].line, line);
    k = run(*s, "select * from s1");
    QCOMPARE(k.errorNumbers(), std::vector<int>{208}); // the CREATE never ran
}

void EngineTest::runtimeErrorContinues()
{
    auto s = openSession();
    QVERIFY(!run(*s, "create table r (a int primary key)").anyError());
    auto k = run(*s, "insert r values (1)\ninsert r values (1)\ninsert r values (2)\nselect count(*) from r");
    QCOMPARE(k.errorNumbers(), std::vector<int>{2627});
    QCOMPARE(k.messages[0].line, 2);
    QCOMPARE(k.dones.size(), size_t(4));
    QVERIFY(!k.dones[0].error && k.dones[0].hasCount && k.dones[0].count == 1);
    QVERIFY(k.dones[1].error);
    QVERIFY(!k.dones[2].error);
    QCOMPARE(k.text(0, 0, 0), std::string("2"));
    // A missing table ends the batch, like a compile error on the real server.
    k = run(*s, "select 1\nselect * from nosuch\nselect 2");
    QCOMPARE(k.results.size(), size_t(1));
    QCOMPARE(k.errorNumbers(), std::vector<int>{208});
    // SET NOCOUNT ON drops the counts.
    k = run(*s, "set nocount on insert r values (3) set nocount off insert r values (4)");
    QCOMPARE(k.dones.size(), size_t(4));
    QVERIFY(!k.dones[1].hasCount);
    QVERIFY(k.dones[3].hasCount);
}

void EngineTest::userSqlErrors_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("severity");
    QTest::addColumn<QString>("text");
    QTest::newRow("208") << "select * from nosuch" << 208 << 16 << "Invalid object name 'nosuch'.";
    QTest::newRow("208 three part") << "select * from master.dbo.nosuch" << 208 << 16 << "Invalid object name 'master.dbo.nosuch'.";
    QTest::newRow("207") << "select nocol from e" << 207 << 16 << "Invalid column name 'nocol'.";
    QTest::newRow("207 qualified") << "select x.id, x.nocol from e x" << 207 << 16 << "Invalid column name 'nocol'.";
    QTest::newRow("2714") << "create table e (z int)" << 2714 << 16 << "There is already an object named 'e' in the database.";
    QTest::newRow("515") << "insert e (id, name) values (5, null)" << 515 << 16 << "Cannot insert the value NULL into column 'name', table 'master.dbo.e'; column does not allow nulls. INSERT fails.";
    QTest::newRow("2627") << "insert e (id, name) values (1, 'dup')" << 2627 << 14 << "Violation of PRIMARY KEY constraint 'PK_e'. Cannot insert duplicate key in object 'dbo.e'. The duplicate key value is (1).";
    QTest::newRow("245") << "select 1 + 'abc'" << 245 << 16 << "Conversion failed when converting the varchar value 'abc' to data type int.";
    QTest::newRow("245 insert") << "insert e (id, name) values ('x', 'a')" << 245 << 16 << "Conversion failed when converting the varchar value 'x' to data type int.";
    QTest::newRow("8114") << "select cast('abc' as decimal(5,2))" << 8114 << 16 << "Error converting data type varchar to numeric.";
    QTest::newRow("8134") << "select 1 / 0" << 8134 << 16 << "Divide by zero error encountered.";
    QTest::newRow("8152") << "insert e (id, name) values (9, 'much too long for ten')" << 8152 << 16 << "String or binary data would be truncated.";
    QTest::newRow("3701 table") << "drop table nosuch" << 3701 << 11 << "Cannot drop the table 'nosuch', because it does not exist or you do not have permission.";
    QTest::newRow("544") << "create table idt (id int identity(1,1), v int) insert idt (id, v) values (1, 1)" << 544 << 16 << "Cannot insert explicit value for identity column in table 'idt' when IDENTITY_INSERT is set to OFF.";
    QTest::newRow("213") << "insert e values (1)" << 213 << 16 << "Column name or number of supplied values does not match table definition.";
    QTest::newRow("2601") << "create unique index ux on e (name) insert e values (2, 'ONE')" << 2601 << 14 << "Cannot insert duplicate key row in object 'dbo.e' with unique index 'ux'.";
    QTest::newRow("137") << "select @undeclared" << 137 << 15 << "Must declare the scalar variable \"@undeclared\".";
}

void EngineTest::userSqlErrors()
{
    QFETCH(QString, sql);
    QFETCH(int, error);
    QFETCH(int, severity);
    QFETCH(QString, text);
    auto s = openSession();
    auto k = run(*s, "create table e (id int constraint PK_e primary key, name nvarchar(10) not null) insert e values (1, 'one')");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, sql.toStdString());
    QCOMPARE(k.errorNumbers(), std::vector<int>{error});
    QCOMPARE(k.messages.back().severity, severity);
    QCOMPARE(QString::fromStdString(k.messages.back().text), text);
    QVERIFY(k.dones.back().error);
    // A failing statement changes nothing.
    k = run(*s, "select count(*) from e");
    QCOMPARE(k.text(0, 0, 0), std::string("1"));
}

void EngineTest::tableMetadata()
{
    auto s = openSession();
    auto k = run(*s, "create table [dbo].[m] (id int identity(1,1) not null, code char(4) not null, name nvarchar(max), "
                     "price decimal(10,2), qty smallint, flag bit, ratio float, at datetime, d date, raw varbinary(16), "
                     "big bigint, cash money, constraint PK_m primary key (code))");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "insert m (code, name, price, qty, flag, ratio, at, d, raw, big, cash) values "
                "('A1', N'名字', 12.5, 3, 1, 0.25, '2020-02-14 08:51:49', '2020-02-14', 0x0102, 5000000000, 1.5)");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    // Base tables are reported only to a client that asks for browse information.
    k = run(*s, "select * from m");
    QVERIFY(k.results.at(0).cols.at(1).baseTable.empty());
    k = run(*s, "set no_browsetable on select * from m");
    const auto &c = k.results.at(0).cols;
    QCOMPARE(c.size(), size_t(12));
    QCOMPARE(c[0].type, SqlType::Int);
    QVERIFY(c[0].identity);
    QVERIFY(!c[0].nullable);
    QVERIFY(!c[0].key);
    QCOMPARE(c[1].type, SqlType::Char);
    QCOMPARE(c[1].length, 4);
    QVERIFY(c[1].key);
    QVERIFY(!c[1].nullable);
    QCOMPARE(c[1].baseTable, std::string("dbo.m"));
    QCOMPARE(c[1].baseColumn, std::string("code"));
    QCOMPARE(c[2].type, SqlType::NVarChar);
    QCOMPARE(c[2].length, -1);
    QVERIFY(c[2].nullable);
    QCOMPARE(c[3].type, SqlType::Decimal);
    QCOMPARE(c[3].precision, 10);
    QCOMPARE(c[3].scale, 2);
    QCOMPARE(c[4].type, SqlType::SmallInt);
    QCOMPARE(c[5].type, SqlType::Bit);
    QCOMPARE(c[6].type, SqlType::Float);
    QCOMPARE(c[7].type, SqlType::DateTime);
    QCOMPARE(c[8].type, SqlType::Date);
    QCOMPARE(c[9].type, SqlType::VarBinary);
    QCOMPARE(c[9].length, 16);
    QCOMPARE(c[10].type, SqlType::BigInt);
    QCOMPARE(c[11].type, SqlType::Money);
    QCOMPARE(k.text(0, 0, 2), std::string("名字"));
    QCOMPARE(k.text(0, 0, 3), std::string("12.50"));
    QCOMPARE(k.text(0, 0, 7), std::string("2020-02-14 08:51:49.000"));
    QCOMPARE(k.text(0, 0, 8), std::string("2020-02-14"));
    QCOMPARE(k.text(0, 0, 9), std::string("\x01\x02"));
    QCOMPARE(k.text(0, 0, 10), std::string("5000000000"));
    QCOMPARE(k.text(0, 0, 11), std::string("1.5000"));
    // Dates are compared in their normal form, however they were written.
    k = run(*s, "update m set at = '2021-1-2 3:04' where code = 'A1' select code from m where at = '2021-01-02 03:04:00.000'");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.at(0).rows.size(), size_t(1));
    k = run(*s, "update m set at = '2021-02-30' where code = 'A1'");
    QCOMPARE(k.errorNumbers(), std::vector<int>{241});
    // Expressions carry no base table.
    k = run(*s, "select code + 'x' as c2, price * 2 from m");
    QVERIFY(k.results.at(0).cols[0].baseTable.empty());
    QCOMPARE(k.results[0].cols[0].name, std::string("c2"));
    QCOMPARE(k.results[0].cols[1].name, std::string(""));
    QCOMPARE(k.text(0, 0, 0), std::string("A1  x")); // char(4) holds its value blank-padded
}

void EngineTest::identityAndVariables()
{
    auto s = openSession();
    auto k = run(*s, "create table i (id int identity(100,1) primary key, v nvarchar(10)) "
                     "insert i (v) values ('a') insert i values ('b') "
                     "declare @x int set @x = scope_identity() select @x, @@identity, @@rowcount");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.text(0, 0, 0), std::string("101"));
    QCOMPARE(k.text(0, 0, 1), std::string("101"));
    k = run(*s, "declare @n nvarchar(5) = 'abcdefgh', @c int select @c = count(*) from i select @n, @c");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.text(0, 0, 0), std::string("abcde"));
    QCOMPARE(k.text(0, 0, 1), std::string("2"));
    k = run(*s, "select @@spid, @@servername");
    QCOMPARE(k.text(0, 0, 1), std::string("DORVANE-TS"));
    k = run(*s, "if exists (select 1 from i where v = 'A') print 'yes' else print 'no'");
    QCOMPARE(k.messages.at(0).text, std::string("yes")); // case-insensitive comparison
    k = run(*s, "begin declare @k int set @k = 1 if @k = 2 begin select 'two' end else begin select 'one' end end");
    QCOMPARE(k.text(0, 0, 0), std::string("one"));
    k = run(*s, "declare @w int = 0, @sum int = 0 while @w < 5 begin set @w = @w + 1 set @sum = @sum + @w end select @w, @sum");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.text(0, 0, 1), std::string("15"));
}

void EngineTest::threePartNames()
{
    auto s = openSession();
    QVERIFY(!run(*s, "create database Other").anyError());
    auto k = run(*s, "create table Other.dbo.o (a int, b nvarchar(10)) insert Other..o values (1, 'x') "
                     "insert into Other.dbo.o select a + 1, b + 'y' from Other..o");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "set no_browsetable on select a, b from [Other].[dbo].[o] order by a");
    QCOMPARE(k.results.at(0).rows.size(), size_t(2));
    QCOMPARE(k.text(0, 1, 1), std::string("xy"));
    QCOMPARE(k.results[0].cols[1].baseTable, std::string("dbo.o"));
    QCOMPARE(s->currentDatabase(), std::string("master"));
    k = run(*s, "select * from NoDb..o");
    QCOMPARE(k.errorNumbers(), std::vector<int>{911});
}

void EngineTest::selectFeatures_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("top order") << "select top 2 name from f order by qty desc" << QStringList{"c", "b"};
    QTest::newRow("top paren") << "select top (1) name from f order by name" << QStringList{"a"};
    QTest::newRow("distinct") << "select distinct grp from f order by grp" << QStringList{"1", "2"};
    QTest::newRow("group") << "select grp, sum(qty) from f group by grp having count(*) > 1" << QStringList{"1|30"};
    QTest::newRow("alias eq") << "select n = upper(name) from f where qty = 10" << QStringList{"A"};
    QTest::newRow("join") << "select f.name, g.label from f join g on g.grp = f.grp where f.qty > 10 order by f.name" << QStringList{"b|one", "c|two"};
    QTest::newRow("left join") << "select g.label, f.name from g left outer join f on f.grp = g.grp and f.qty > 100 order by g.label" << QStringList{"one|NULL", "two|NULL"};
    QTest::newRow("in between like") << "select name from f where qty between 15 and 40 and name like 'b%' and grp in (1, 3)" << QStringList{"b"};
    QTest::newRow("case") << "select case when qty > 15 then 'big' else 'small' end from f order by qty" << QStringList{"small", "big", "big"};
    QTest::newRow("string plus") << "select name + N'-' + cast(qty as nvarchar(10)) from f where grp = 2" << QStringList{"c-30"};
    QTest::newRow("integer division") << "select qty / 4, qty % 4 from f where name = 'a'" << QStringList{"2|2"};
    QTest::newRow("isnull len") << "select isnull(null, 'z'), len('ab  '), left('hello', 2), right('hello', 3)" << QStringList{"z|2|he|llo"};
    QTest::newRow("subquery") << "select name from f where qty = (select max(qty) from f)" << QStringList{"c"};
    QTest::newRow("union") << "select name from f where grp = 2 union all select label from g where grp = 1" << QStringList{"c", "one"};
    QTest::newRow("update count") << "update f set qty = qty + 1 where grp = 1 select sum(qty) from f" << QStringList{"62"};
    QTest::newRow("delete") << "delete from f where grp = 1 select count(*) from f" << QStringList{"1"};
    QTest::newRow("bracket names") << "select [name] as [the name] from [dbo].[f] where [qty] = 30" << QStringList{"c"};
    QTest::newRow("default") << "create table dflt (a int, b nvarchar(5) default 'x', c int default (2 + 3)) insert dflt (a) values (1) select b, c from dflt" << QStringList{"x|5"};
    QTest::newRow("index") << "create index ix on f (grp, qty desc) select name from f where grp = 2" << QStringList{"c"};
    QTest::newRow("order case-insensitive") << "select name from f order by name desc" << QStringList{"c", "b", "a"};
}

void EngineTest::selectFeatures()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, rows);
    auto s = openSession();
    auto k = run(*s, "create table f (name nvarchar(10), qty int, grp int) insert f values ('a', 10, 1), ('b', 20, 1), ('c', 30, 2) "
                     "create table g (grp int, label varchar(10)) insert g values (1, 'one'), (2, 'two')");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, sql.toStdString());
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QVERIFY(!k.results.empty());
    const auto &res = k.results.back();
    QStringList got;
    for (size_t r = 0; r < res.rows.size(); ++r) {
        QStringList cells;
        for (size_t c = 0; c < res.cols.size(); ++c) cells << QString::fromStdString(k.text(k.results.size() - 1, r, c));
        got << cells.join("|");
    }
    QCOMPARE(got, rows);
}

void EngineTest::informationSchema()
{
    auto s = openSession();
    QVERIFY(!run(*s, "create database Meta").anyError());
    auto k = run(*s, "use Meta create table p (id int not null, sub int not null, note varchar(30), primary key (id, sub))");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "select TABLE_CATALOG, TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, IS_NULLABLE, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH "
                "from INFORMATION_SCHEMA.COLUMNS where TABLE_NAME = 'p' order by ORDINAL_POSITION");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.at(0).rows.size(), size_t(3));
    QCOMPARE(k.text(0, 0, 0), std::string("Meta"));
    QCOMPARE(k.text(0, 2, 2), std::string("note"));
    QCOMPARE(k.text(0, 2, 4), std::string("YES"));
    QCOMPARE(k.text(0, 2, 5), std::string("varchar"));
    QCOMPARE(k.text(0, 2, 6), std::string("30"));
    k = run(*s, "select kcu.COLUMN_NAME from INFORMATION_SCHEMA.TABLE_CONSTRAINTS tc join INFORMATION_SCHEMA.KEY_COLUMN_USAGE kcu "
                "on kcu.CONSTRAINT_NAME = tc.CONSTRAINT_NAME where tc.TABLE_NAME = 'p' and tc.CONSTRAINT_TYPE = 'PRIMARY KEY' "
                "order by kcu.ORDINAL_POSITION");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.results.at(0).rows.size(), size_t(2));
    QCOMPARE(k.text(0, 1, 0), std::string("sub"));
    k = run(*s, "select t.name, c.name from sys.tables t join sys.columns c on c.object_id = t.object_id "
                "where t.object_id = object_id('dbo.p') order by c.column_id");
    QCOMPARE(k.results.at(0).rows.size(), size_t(3));
    k = run(*s, "select TABLE_NAME from INFORMATION_SCHEMA.TABLES");
    QCOMPARE(k.results.at(0).rows.size(), size_t(1));
}

void EngineTest::waitforCancelled()
{
    auto s = openSession();
    auto other = openSession();
    RecordingSink k;
    auto started = std::chrono::steady_clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // Another session works normally while this one waits.
        auto o = run(*other, "create table w (a int) insert w values (1)");
        QVERIFY(!o.anyError());
        k.cancel = true;
    });
    // The wait is far longer than the bound, so passing the bound proves the
    // cancel ended it; the bound itself is generous for a loaded machine.
    s->executeBatch("waitfor delay '00:03:00'\nselect 1", k);
    canceller.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    QVERIFY2(secs < 60, qPrintable(QString::number(secs)));
    QVERIFY(k.results.empty()); // the rest of the batch did not run
    RecordingSink w;
    s->executeBatch("waitfor delay '00:00:00.100' select 2", w);
    QCOMPARE(w.text(0, 0, 0), std::string("2"));
    auto bad = run(*s, "waitfor delay 'soon'");
    QCOMPARE(bad.errorNumbers(), std::vector<int>{148});
}

void EngineTest::restartKeepsCatalogue()
{
    {
        auto s = openSession();
        QVERIFY(!run(*s, createSql("Keep")).anyError());
        QVERIFY(!run(*s, "create database LazyKeep").anyError());
        QVERIFY(!run(*s, "exec sp_addumpdevice 'disk', 'DUMPX', '/x/y.BAK'").anyError());
        QVERIFY(!run(*s, "create table Keep..k (a int) insert Keep..k values (42)").anyError());
    }
    restartEngine();
    auto s = openSession();
    QStringList names = databaseNames(*s);
    QVERIFY(names.contains("Keep"));
    QVERIFY(names.contains("LazyKeep"));
    auto k = run(*s, "select a from Keep..k");
    QCOMPARE(k.text(0, 0, 0), std::string("42"));
    k = run(*s, "select count(*) from sysdevices");
    QCOMPARE(k.text(0, 0, 0), std::string("1"));
    QVERIFY(!run(*s, "use LazyKeep").anyError());
}

void EngineTest::printAndRaiserror()
{
    auto s = openSession();
    auto k = run(*s, "print 'hello' raiserror('bad %s %d', 16, 2, 'thing', 5) raiserror('note', 10, 1) select 1");
    QCOMPARE(k.messages.size(), size_t(3));
    QCOMPARE(k.messages[0].number, 0);
    QCOMPARE(k.messages[0].severity, 0);
    QCOMPARE(k.messages[0].text, std::string("hello"));
    QCOMPARE(k.messages[1].number, 50000);
    QCOMPARE(k.messages[1].severity, 16);
    QCOMPARE(k.messages[1].state, 2);
    QCOMPARE(k.messages[1].text, std::string("bad thing 5"));
    QCOMPARE(k.messages[2].severity, 10);
    QCOMPARE(k.results.size(), size_t(1)); // RAISERROR does not stop the batch
}

void EngineTest::executesqlRpc()
{
    auto s = openSession();
    QVERIFY(!run(*s, "create table q (a int, b nvarchar(10))").anyError());
    RpcCall call;
    call.procName = "sp_executesql";
    RpcParam stmt; stmt.value = Value::text("insert q values (@P1, @P2) select b from q where a = @P1");
    RpcParam defs; defs.value = Value::text("@P1 int,@P2 nvarchar(10)");
    RpcParam p1; p1.value = Value::integer(7);
    RpcParam p2; p2.value = Value::text("seven");
    call.params = {stmt, defs, p1, p2};
    RecordingSink k;
    s->executeRpc(call, k);
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    QCOMPARE(k.text(0, 0, 0), std::string("seven"));
    QCOMPARE(k.events, (std::vector<std::string>{"doneinproc", "cols", "row", "doneinproc", "status 0", "doneproc"}));

    // System procedures by RPC, as ODBC sends a bound EXEC.
    RpcCall add;
    add.procName = "sp_addumpdevice";
    for (const char *v : {"disk", "RPCDEV", "/x/rpc.BAK"}) { RpcParam p; p.value = Value::text(v); add.params.push_back(p); }
    RecordingSink a;
    s->executeRpc(add, a);
    QCOMPARE(a.events, (std::vector<std::string>{"status 0", "doneproc"}));
    RpcCall missing;
    missing.procName = "sp_nosuch";
    RecordingSink m;
    s->executeRpc(missing, m);
    QCOMPARE(m.errorNumbers(), std::vector<int>{2812});
    QCOMPARE(m.events.back(), std::string("doneproc error"));
}

void EngineTest::largeResultStreams()
{
    auto s = openSession();
    auto k = run(*s, "create table big (id int identity(1,1) primary key, v nvarchar(20)) "
                     "insert big (v) values ('a'), ('b'), ('c'), ('d'), ('e'), ('f'), ('g'), ('h'), ('i'), ('j')");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    for (int i = 0; i < 5; ++i) QVERIFY(!run(*s, "insert big (v) select v from big").anyError());
    k = run(*s, "select count(*) from big");
    QCOMPARE(k.text(0, 0, 0), std::string("320"));
    // Cancelling in the middle stops the rows: they are not produced all at once.
    RecordingSink c;
    c.cancelAfterRows = 10;
    s->executeBatch("select a.id, b.v from big a cross join big b", c);
    QVERIFY(c.results.at(0).rows.size() < 1000);
    QVERIFY(c.dones.empty() || c.dones.back().count < 1000);
}

void EngineTest::manyDatabases()
{
    auto s = openSession();
    for (int i = 0; i < 500; ++i) {
        auto k = run(*s, "create database many" + std::to_string(i));
        QVERIFY2(!k.anyError(), k.allMessages().c_str());
    }
    auto k = run(*s, "select count(*) from sysdatabases");
    QCOMPARE(k.text(0, 0, 0), std::string("504"));
    QVERIFY(!QFile::exists(dataDir() + "/many7.mdf")); // files appear on first use
    QVERIFY(!run(*s, "use many7").anyError());
    QVERIFY(QFile::exists(dataDir() + "/many7.mdf"));
}

void EngineTest::concurrentSessions()
{
    // Sessions on their own threads, each with its database, plus one reading the catalogue.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    std::string failure;
    std::mutex failureMu;
    // The shared table exists before any session thread can insert into it.
    {
        auto s = openSession();
        run(*s, "create table shared (t int)");
    }
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Message m;
            auto s = m_engine->openSession("sa", "", 200 + t, &m);
            std::string db = "conc" + std::to_string(t);
            std::vector<std::string> batches = {
                "create database " + db,
                "use " + db + " create table c (a int primary key, b nvarchar(20))",
            };
            for (int i = 0; i < 50; ++i)
                batches.push_back("insert c values (" + std::to_string(i) + ", 'v') insert master..shared values (" + std::to_string(t) + ")");
            batches.push_back("select count(*) from c");
            for (const auto &b : batches) {
                RecordingSink k;
                s->executeBatch(b, k);
                if (k.anyError()) {
                    std::lock_guard<std::mutex> g(failureMu);
                    failure = b + ": " + k.allMessages();
                    ++failures;
                    return;
                }
            }
        });
    }
    threads.emplace_back([&] {
        Message m;
        auto s = m_engine->openSession("sa", "", 300, &m);
        for (int i = 0; i < 100; ++i) {
            RecordingSink k;
            s->executeBatch("select name from sysdatabases order by name", k);
            if (k.anyError()) { ++failures; return; }
        }
    });
    for (auto &th : threads) th.join();
    QVERIFY2(failures == 0, failure.c_str());
    auto s = openSession();
    auto k = run(*s, "select count(*) from shared");
    QCOMPARE(k.text(0, 0, 0), std::string("200"));
    k = run(*s, "select count(*) from conc3..c");
    QCOMPARE(k.text(0, 0, 0), std::string("50"));
}

void EngineTest::longStatementCancelled()
{
    auto s = openSession();
    QVERIFY(!run(*s, "create table n (a int) insert n values (1), (2), (3), (4), (5), (6), (7), (8), (9), (10)").anyError());
    RecordingSink k;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        k.cancel = true;
    });
    auto started = std::chrono::steady_clock::now();
    // Ten to the eighth rows to count: only attention ends it in time.
    s->executeBatch("select count(*) from n a, n b, n c, n d, n e, n f, n g, n h\nselect 1", k);
    canceller.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    QVERIFY2(secs < 60, qPrintable(QString::number(secs)));
    QVERIFY(k.results.empty());
    // The session is usable afterwards.
    auto after = run(*s, "select count(*) from n");
    QCOMPARE(after.text(0, 0, 0), std::string("10"));
}

void EngineTest::survivesUncleanStop()
{
    auto s = openSession();
    QVERIFY(!run(*s, createSql("Crash")).anyError());
    QVERIFY(!run(*s, "create table Crash..c (a int) insert Crash..c values (1), (2)").anyError());
    // Neither the session nor the engine is shut down, as when the process is
    // killed. They are abandoned on purpose, so the leak checker is told.
    abandon(s.release());
    abandon(m_engine.release());
    restartEngine();
    auto s2 = openSession();
    QVERIFY(databaseNames(*s2).contains("Crash"));
    auto k = run(*s2, "select count(*) from Crash..c");
    QCOMPARE(k.text(0, 0, 0), std::string("2"));
}

void EngineTest::guardedSingleRowWrite()
{
    // The grid's write: a transaction kept only when exactly one row changed.
    auto s = openSession();
    QVERIFY(!run(*s, "create database G create table G.dbo.g (k int, v nvarchar(10)) "
                     "insert G..g values (1, 'a'), (2, 'b'), (2, 'c')").anyError());
    auto k = run(*s, "BEGIN TRAN\r\nUPDATE [G].[dbo].[g] SET [v] = N'z' WHERE [k] = 1\r\n"
                     "IF @@ROWCOUNT <> 1 ROLLBACK TRAN ELSE COMMIT TRAN");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "BEGIN TRAN\r\nUPDATE [G].[dbo].[g] SET [v] = N'y' WHERE [k] = 2\r\n"
                "IF @@ROWCOUNT <> 1 ROLLBACK TRAN ELSE COMMIT TRAN");
    QVERIFY2(!k.anyError(), k.allMessages().c_str());
    k = run(*s, "select v from G..g order by v");
    QCOMPARE(k.text(0, 0, 0), std::string("b"));
    QCOMPARE(k.text(0, 1, 0), std::string("c"));
    QCOMPARE(k.text(0, 2, 0), std::string("z"));
    k = run(*s, "select @@trancount");
    QCOMPARE(k.text(0, 0, 0), std::string("0"));
    k = run(*s, "commit tran");
    QCOMPARE(k.errorNumbers(), std::vector<int>{3902});
}

void EngineTest::slowClientDoesNotBlockOthers()
{
    // A sink that stalls on its first message, like a client that stopped reading.
    struct StallingSink : RecordingSink {
        std::atomic<bool> release{false};
        void message(const Message &m) override
        {
            for (int i = 0; i < 500 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            RecordingSink::message(m);
        }
    };
    auto slow = openSession();
    auto other = openSession();
    StallingSink stalled;
    std::thread a([&] { slow->executeBatch("drop database NotThere", stalled); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::atomic<bool> finished{false};
    std::thread b([&] {
        RecordingSink k;
        other->executeBatch("create database Meanwhile select count(*) from sysdatabases", k);
        finished = !k.anyError();
    });
    for (int i = 0; i < 300 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool wasFinished = finished;
    stalled.release = true;
    a.join();
    b.join();
    QVERIFY2(wasFinished, "another session waited for the stalled client");
    QCOMPARE(stalled.errorNumbers(), std::vector<int>{3701});
}

QTEST_APPLESS_MAIN(EngineTest)
#include "tst_engine.moc"
