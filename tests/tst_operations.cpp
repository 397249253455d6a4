// The maintenance operations' fixed texts, the SQL lines each composes, and
// the proposed backup file name.
#include "maintenance/operations.h"

#include <QTest>

using dv::CreateDatabaseFields;

Q_DECLARE_METATYPE(CreateDatabaseFields)

namespace {
const dv::MaintenanceOperation *opByName(const QString &name)
{
    static const QHash<QString, const dv::MaintenanceOperation *> ops{
        {QStringLiteral("create"), &dv::ops::Create}, {QStringLiteral("backup"), &dv::ops::Backup},
        {QStringLiteral("restore"), &dv::ops::Restore}, {QStringLiteral("detach"), &dv::ops::Detach},
        {QStringLiteral("attach"), &dv::ops::Attach}, {QStringLiteral("drop"), &dv::ops::Drop},
        {QStringLiteral("shrink"), &dv::ops::Shrink}};
    return ops.value(name);
}

CreateDatabaseFields fullCreate()
{
    CreateDatabaseFields f;
    f.db = QStringLiteral("sales");
    f.mFile = QStringLiteral("D:\\data\\sales.mdf");
    f.mSize = QStringLiteral("10MB");
    f.mGrowth = QStringLiteral("1MB");
    f.lFile = QStringLiteral("D:\\data\\sales.ldf");
    f.lSize = QStringLiteral("5MB");
    f.lGrowth = QStringLiteral("10%");
    return f;
}
} // namespace

class TestOperations : public QObject {
    Q_OBJECT
private slots:
    void rows_data();
    void rows();
    void createLines_data();
    void createLines();
    void createStopsOnMissingField_data();
    void createStopsOnMissingField();
    void otherLines_data();
    void otherLines();
    void proposedName_data();
    void proposedName();
};

void TestOperations::rows_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("success");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("refresh");
    QTest::newRow("create") << "create" << "创建数据库\r\n" << "操作编号:1105\r\n\r\n创建成功,可进行其它操作"
                            << "错误编号:1001\r\n\r\n创建失败,请检查网络情况" << true;
    QTest::newRow("backup") << "backup" << "备份数据库\r\n" << "操作编号:1100\r\n\r\n备份成功,可进行其它操作"
                            << "错误编号:1001\r\n\r\n备份失败,请检查网络情况" << false;
    QTest::newRow("restore") << "restore" << "还原数据库\r\n" << "操作编号:1101\r\n\r\n还原成功,可进行其它操作"
                             << "错误编号:1001\r\n\r\n还原失败,请检查网络情况" << true;
    QTest::newRow("detach") << "detach" << "分离数据库\r\n" << "操作编号:1102\r\n\r\n分离成功,可进行其它操作"
                            << "错误编号:1001\r\n\r\n分离失败,请检查网络情况" << true;
    QTest::newRow("attach") << "attach" << "附加数据库\r\n" << "操作编号:1103\r\n\r\n附加成功,可进行其它操作"
                            << "错误编号:1001\r\n\r\n附加失败,请检查网络情况" << true;
    QTest::newRow("drop") << "drop" << "删除数据库\r\n" << "操作编号:1104\r\n\r\n删除成功,可进行其它操作"
                          << "错误编号:1001\r\n\r\n删除失败,请检查网络情况" << true;
    QTest::newRow("shrink") << "shrink" << "压缩数据库\r\n" << "操作编号:1110\r\n\r\n压缩成功,可进行其它操作"
                            << "错误编号:1001\r\n\r\n压缩失败,请检查网络情况" << true;
}

void TestOperations::rows()
{
    QFETCH(QString, op);
    const dv::MaintenanceOperation *row = opByName(op);
    QVERIFY(row);
    QTEST(QString::fromUtf8(row->title), "title");
    QTEST(QString::fromUtf8(row->successMessage), "success");
    QTEST(QString::fromUtf8(row->failureMessage), "failure");
    QTEST(row->refresh, "refresh");
}

void TestOperations::createLines_data()
{
    QTest::addColumn<CreateDatabaseFields>("fields");
    QTest::addColumn<QStringList>("lines");

    const CreateDatabaseFields f = fullCreate();
    const QStringList dataHead{"create database sales", "on", "( name = sales_dat,", "filename='D:\\data\\sales.mdf',",
                               "size=10MB,"};
    const QStringList dataTail{"filegrowth=1MB)", "log on", "( name = sales_log,", "filename='D:\\data\\sales.ldf',",
                               "size=5MB,"};
    const QString logGrowth = QStringLiteral("filegrowth=10%)");

    QTest::newRow("no maximum") << f << (dataHead + dataTail + QStringList{logGrowth});

    CreateDatabaseFields both = f;
    both.mMax = QStringLiteral("50MB");
    both.lMax = QStringLiteral("1GB");
    QTest::newRow("both maximums") << both
                                   << (dataHead + QStringList{"maxsize = 50MB,"} + dataTail +
                                       QStringList{"maxsize = 1GB,", logGrowth});

    CreateDatabaseFields logOnly = f;
    logOnly.lMax = QStringLiteral("2GB");
    QTest::newRow("log maximum only") << logOnly
                                      << (dataHead + dataTail + QStringList{"maxsize = 2GB,", logGrowth});

    CreateDatabaseFields dataOnly = f;
    dataOnly.mMax = QStringLiteral("UNLIMITED");
    QTest::newRow("data maximum only") << dataOnly
                                       << (dataHead + QStringList{"maxsize = UNLIMITED,"} + dataTail +
                                           QStringList{logGrowth});

    // Values go in exactly as typed: blanks kept, quotes not escaped.
    CreateDatabaseFields raw;
    raw.db = QStringLiteral(" my db ");
    raw.mFile = QStringLiteral("C:\\o'brien.mdf");
    raw.mSize = QStringLiteral(" 3 MB");
    raw.mGrowth = QStringLiteral("  ");
    raw.mMax = QStringLiteral(" ");
    raw.lFile = QStringLiteral("数据.ldf");
    raw.lSize = QStringLiteral("1");
    raw.lGrowth = QStringLiteral("2");
    QTest::newRow("untrimmed, unquoted")
        << raw
        << QStringList{"create database  my db ", "on", "( name =  my db _dat,", "filename='C:\\o'brien.mdf',",
                       "size= 3 MB,", "maxsize =  ,", "filegrowth=  )", "log on", "( name =  my db _log,",
                       "filename='数据.ldf',", "size=1,", "filegrowth=2)"};
}

void TestOperations::createLines()
{
    QFETCH(CreateDatabaseFields, fields);
    QTEST(dv::createDatabaseLines(fields), "lines");
}

void TestOperations::createStopsOnMissingField_data()
{
    QTest::addColumn<int>("field");
    const char *names[] = {"db", "mFile", "mSize", "mGrowth", "lFile", "lSize", "lGrowth"};
    for (int i = 0; i < 7; ++i)
        QTest::newRow(names[i]) << i;
}

void TestOperations::createStopsOnMissingField()
{
    QFETCH(int, field);
    CreateDatabaseFields f = fullCreate();
    f.mMax = QStringLiteral("9MB");
    f.lMax = QStringLiteral("9MB");
    QString *required[] = {&f.db, &f.mFile, &f.mSize, &f.mGrowth, &f.lFile, &f.lSize, &f.lGrowth};
    QVERIFY(!dv::createDatabaseLines(f).isEmpty());
    required[field]->clear();
    QVERIFY(dv::createDatabaseLines(f).isEmpty());
}

void TestOperations::otherLines_data()
{
    QTest::addColumn<QStringList>("actual");
    QTest::addColumn<QStringList>("expected");
    const QString dropDevice =
        QStringLiteral("if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'");

    QTest::newRow("backup") << dv::backupLines("master", "C:\\bak\\m.BAK")
                            << QStringList{dropDevice, "EXEC sp_addumpdevice 'disk', 'DUMPX', 'C:\\bak\\m.BAK'",
                                           "BACKUP DATABASE master TO DUMPX"};
    QTest::newRow("backup, empty fields")
        << dv::backupLines("", "") << QStringList{dropDevice, "EXEC sp_addumpdevice 'disk', 'DUMPX', ''",
                                                  "BACKUP DATABASE  TO DUMPX"};
    QTest::newRow("restore") << dv::restoreLines("sales", "/srv/b/s.BAK")
                             << QStringList{dropDevice, "restore database sales from disk='/srv/b/s.BAK' with replace"};
    QTest::newRow("detach") << dv::detachLines("sales") << QStringList{"EXEC sp_detach_db 'sales'"};
    QTest::newRow("attach") << dv::attachLines("sales", "/d/s.mdf", "/d/s.ldf")
                            << QStringList{"EXEC sp_attach_db 'sales','/d/s.mdf','/d/s.ldf'"};
    QTest::newRow("drop") << dv::dropLines("old db") << QStringList{"drop database old db"};
    QTest::newRow("shrink") << dv::shrinkLines("sales")
                            << QStringList{"dump transaction sales with no_log", "backup log sales with no_log",
                                           "dbcc shrinkdatabase (sales)"};
}

void TestOperations::otherLines()
{
    QFETCH(QStringList, actual);
    QFETCH(QStringList, expected);
    QCOMPARE(actual, expected);
}

void TestOperations::proposedName_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("name");
    const QDateTime feb14(QDate(2020, 2, 14), QTime(8, 51, 49));
    QTest::newRow("master") << "master" << feb14 << "MASTER200214085149.BAK";
    QTest::newRow("empty") << "" << feb14 << "200214085149.BAK";
    QTest::newRow("afternoon, year 2009")
        << "Db_1" << QDateTime(QDate(2009, 12, 31), QTime(23, 5, 7)) << "DB_1091231230507.BAK";
    // Only a-z are upper-cased; other letters stay as they are.
    QTest::newRow("non-ASCII letters") << "销售äbç" << feb14 << "销售äBç200214085149.BAK";
    QTest::newRow("blanks kept") << " a b " << feb14 << " A B 200214085149.BAK";
}

void TestOperations::proposedName()
{
    QFETCH(QString, db);
    QFETCH(QDateTime, when);
    QTEST(dv::proposedBackupFileName(db, when), "name");
}

QTEST_APPLESS_MAIN(TestOperations)
#include "tst_operations.moc"
