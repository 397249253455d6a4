// The create statement's lines and the proposed backup file name. The other
// batches, texts and field checks are covered through the pages in
// tst_maintenance_gui.
#include "core/operations.h"

#include <QTest>

using dv::CreateDatabaseFields;

Q_DECLARE_METATYPE(CreateDatabaseFields)

namespace {
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
    void createLines_data();
    void createLines();
    void proposedName_data();
    void proposedName();
    void restoreSet_data();
    void restoreSet();
};

void TestOperations::createLines_data()
{
    QTest::addColumn<CreateDatabaseFields>("fields");
    QTest::addColumn<QStringList>("lines");

    const CreateDatabaseFields f = fullCreate();
    const QStringList dataHead{"create database sales", "on", "( name = sales_dat,", "filename=N'D:\\data\\sales.mdf',",
                               "size=10MB,"};
    const QStringList dataTail{"filegrowth=1MB)", "log on", "( name = sales_log,", "filename=N'D:\\data\\sales.ldf',",
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
        << QStringList{"create database  my db ", "on", "( name =  my db _dat,", "filename=N'C:\\o'brien.mdf',",
                       "size= 3 MB,", "maxsize =  ,", "filegrowth=  )", "log on", "( name =  my db _log,",
                       "filename=N'数据.ldf',", "size=1,", "filegrowth=2)"};
}

void TestOperations::createLines()
{
    QFETCH(CreateDatabaseFields, fields);
    QTEST(dv::createDatabaseLines(fields), "lines");
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

using Sets = QList<dv::BackupSetInfo>;
Q_DECLARE_METATYPE(Sets)

// Which set a restore of `db` names, and the restore line that results.
void TestOperations::restoreSet_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<Sets>("sets");
    QTest::addColumn<QString>("restoreLine");
    const QString plain = QStringLiteral("restore database shop from disk=N'/b/x.bak' with replace");
    QTest::newRow("one set: as asked") << "shop" << Sets{{1, "shop"}} << plain;
    QTest::newRow("one set of another database: as asked") << "shop" << Sets{{1, "other"}} << plain;
    QTest::newRow("file not read: as asked") << "shop" << Sets{} << plain;
    QTest::newRow("two sets: the newer") << "shop" << Sets{{1, "shop"}, {2, "shop"}} << plain + ", FILE = 2";
    QTest::newRow("newest of this database, not the last set")
        << "shop" << Sets{{1, "shop"}, {2, "shop"}, {3, "other"}} << plain + ", FILE = 2";
    QTest::newRow("only set of this database is the first")
        << "shop" << Sets{{1, "shop"}, {2, "other"}} << plain + ", FILE = 1";
    QTest::newRow("name compared without case") << "shop" << Sets{{1, "SHOP"}, {2, "Shop"}} << plain + ", FILE = 2";
    QTest::newRow("no set of this database: as asked") << "shop" << Sets{{1, "a"}, {2, "b"}} << plain;
}

void TestOperations::restoreSet()
{
    QFETCH(QString, db);
    QFETCH(Sets, sets);
    const QStringList lines = dv::restoreLines(db, QStringLiteral("/b/x.bak"), dv::newestBackupSetOf(db, sets));
    QCOMPARE(lines.size(), 2);
    QTEST(lines.at(1), "restoreLine");
}

QTEST_APPLESS_MAIN(TestOperations)
#include "tst_operations.moc"
