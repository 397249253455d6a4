// Log entry formatting, GBK encoding and saving; the error display text and
// the file dialogs' filter conversion.
#include "core/oplog.h"
#include "main/uikit.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

using namespace dv;

class TestOpLog : public QObject {
    Q_OBJECT
private slots:
    void timeStamp_data();
    void timeStamp();
    void entry_data();
    void entry();
    void encode_data();
    void encode();
    void crLf_data();
    void crLf();
    void saveReplacesExisting();
    void saveInUnwritableFolder_data();
    void saveInUnwritableFolder();
    void saveRefusesWriteProtectedFile();
    void unprivilegedCasesRunAsNobody();
    void saveFailsInMissingFolder();
    void saveWriteErrorKeepsOldFile();
    void errorText_data();
    void errorText();
    void filters_data();
    void filters();
};

void TestOpLog::timeStamp_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");
    QTest::newRow("padded") << QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)) << "2024-01-02 03:04:05";
    QTest::newRow("afternoon") << QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58)) << "1999-12-31 23:59:58";
}

void TestOpLog::timeStamp()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(logTimeStamp(when), expected);
}

void TestOpLog::entry_data()
{
    QTest::addColumn<bool>("atLineStart");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("expected");
    const QString sep = QString::fromLatin1(kLogSeparator);
    const QString ts = QStringLiteral("2024-05-06 07:08:09");
    QTest::newRow("first entry") << true << "成功登录数据库服务器:[srv]"
                                 << ts + "\n成功登录数据库服务器:[srv]\n" + sep + "\n";
    QTest::newRow("maintenance lines, CR LF")
        << true << "备份数据库\r\nuse master\r\nbackup x\r\n操作成功"
        << ts + "\n备份数据库\nuse master\nbackup x\n操作成功\n" + sep + "\n";
    QTest::newRow("lone CR and LF") << true << "a\rb\nc" << ts + "\na\nb\nc\n" + sep + "\n";
    QTest::newRow("after typed text") << false << "e" << "\n" + ts + "\ne\n" + sep;
    QTest::newRow("empty entry") << true << "" << ts + "\n\n" + sep + "\n";
    // The empty entry goes after a break, so that break ends the stamp's line
    // and the separator follows on the next.
    QTest::newRow("empty entry after typed text") << false << "" << "\n" + ts + "\n" + sep + "\n";
    QTest::newRow("entry ending with a break after typed text")
        << false << "e\r\n" << "\n" + ts + "\ne\n" + sep + "\n";
}

void TestOpLog::entry()
{
    QFETCH(bool, atLineStart);
    QFETCH(QString, entry);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromLatin1(kLogSeparator).size(), 38);
    QCOMPARE(logEntryAddition(atLineStart, entry, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9))), expected);
}

void TestOpLog::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    // Expected bytes taken from iconv -t CP936.
    QTest::newRow("ascii") << "ab\r\n" << QByteArray("ab\r\n");
    QTest::newRow("chinese") << "日志" << QByteArray("\xC8\xD5\xD6\xBE");
    QTest::newRow("euro sign") << "€" << QByteArray("\x80");
    QTest::newRow("unencodable") << "a\u00e9\u0e01b" << QByteArray("a\xA8\xA6?b");
    QTest::newRow("emoji in second line") << "日\r\nx\U0001F600y" << QByteArray("\xC8\xD5\r\nx?y");
    QTest::newRow("lone surrogate, NUL") << QString(QChar(0xD800)) + QChar(0) + "z" << QByteArray("?\0z", 3);
    QTest::newRow("full-width and CJK punctuation") << "！，。" << QByteArray("\xA3\xA1\xA3\xAC\xA1\xA3");
}

void TestOpLog::crLf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("no break") << "abc" << "abc";
    QTest::newRow("ends with break") << "a\nb\n" << "a\r\nb\r\n";
    QTest::newRow("empty lines") << "\n\nx" << "\r\n\r\nx";
}

void TestOpLog::crLf()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(withCrLf(text), expected);
}

void TestOpLog::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QByteArray out = encodeLogText(text);
    QCOMPARE(out.toHex(' '), bytes.toHex(' '));
    QVERIFY(!out.startsWith("\xEF\xBB\xBF"));
}

void TestOpLog::saveReplacesExisting()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    saveLogFile(path, QByteArray("first contents that are longer"));
    saveLogFile(path, QByteArray("second"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("second"));
    // No temporary files are left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("log.txt")});
}

namespace {

// What a save did: "" when it succeeded, else the error's text.
QString trySave(const QString &path, const QByteArray &bytes)
{
    try {
        saveLogFile(path, bytes);
    } catch (const std::runtime_error &e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<cannot read>");
}

} // namespace

void TestOpLog::saveInUnwritableFolder_data()
{
    QTest::addColumn<bool>("existing");      // the file is there before the save
    QTest::addColumn<bool>("fileWritable");  // and may be written
    QTest::addColumn<int>("fileSizeLimit");  // bytes, 0 = none (a full disk)
    QTest::addColumn<QString>("error");      // start of the expected error, "" = saved
    QTest::newRow("writable file: written in place") << true << true << 0 << "";
    QTest::newRow("new file: refused") << false << true << 0 << "Cannot create file \"";
    QTest::newRow("write-protected file: refused") << true << false << 0 << "Cannot create file \"";
    QTest::newRow("writable file, disk full") << true << true << 4096 << "Stream write error";
}

void TestOpLog::saveInUnwritableFolder()
{
    if (dvtest::ranAsNobodyInChild())
        return;
    QFETCH(bool, existing);
    QFETCH(bool, fileWritable);
    QFETCH(int, fileSizeLimit);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("old.txt"));
    if (existing)
        QCOMPARE(trySave(path, QByteArray("old")), QString());
    if (!fileWritable)
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    // The permissions must bind: this process cannot make a file here.
    QFile probe(dir.filePath(QStringLiteral("probe")));
    const bool probeCreated = probe.open(QIODevice::WriteOnly);

    const QByteArray bytes = fileSizeLimit > 0 ? QByteArray(1 << 20, 'x') : QByteArray("new log");
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    if (fileSizeLimit > 0) {
        rlimit small = old;
        small.rlim_cur = rlim_t(fileSizeLimit);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    const QString message = trySave(path, bytes);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QVERIFY2(!probeCreated, "the folder's permissions do not bind on this user");
    if (error.isEmpty()) {
        QCOMPARE(message, QString());
        QCOMPARE(contents(path), bytes);
    } else {
        QVERIFY2(message.startsWith(error), qPrintable(message));
        if (error.startsWith(QLatin1String("Cannot create file"))) {
            QVERIFY2(message.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)), qPrintable(message));
            if (existing)
                QCOMPARE(contents(path), QByteArray("old"));
        }
    }
    // Never a temporary file left, nor a file that was not there.
    QCOMPARE(left, existing ? QStringList{QStringLiteral("old.txt")} : QStringList{});
}

void TestOpLog::saveRefusesWriteProtectedFile()
{
    if (dvtest::ranAsNobodyInChild())
        return;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ro.txt"));
    saveLogFile(path, QByteArray("keep"));
    QFile::setPermissions(path, QFile::ReadOwner);
    QFile probe(path);
    QVERIFY2(!probe.open(QIODevice::WriteOnly | QIODevice::Append), "the file's permissions do not bind on this user");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, saveLogFile(path, QByteArray("new")));
    QCOMPARE(contents(path), QByteArray("keep"));
}

void TestOpLog::unprivilegedCasesRunAsNobody()
{
    // Only root can show it: a case re-run as root itself (not as nobody)
    // must fail, so the pass of the nobody run is the permissions' doing;
    // and the nobody run of the same case passes.
    if (geteuid() != 0)
        QSKIP("needs root to start a child as root and as nobody");
    const QString testCase = QStringLiteral("saveInUnwritableFolder:new file: refused");
    const dvtest::ChildRun asRoot = dvtest::runTestInChild(testCase, false);
    QVERIFY2(asRoot.started, qPrintable(asRoot.output));
    QVERIFY2(!dvtest::childPassed(asRoot, QStringLiteral("TestOpLog"), testCase), qPrintable(asRoot.output));
    QVERIFY2(asRoot.output.contains(QStringLiteral("permissions do not bind")), qPrintable(asRoot.output));
    const dvtest::ChildRun asNobody = dvtest::runTestInChild(testCase, true);
    QVERIFY2(dvtest::childPassed(asNobody, QStringLiteral("TestOpLog"), testCase), qPrintable(asNobody.output));
}

void TestOpLog::saveFailsInMissingFolder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/log.txt"));
    QString message;
    try {
        saveLogFile(path, QByteArray("x"));
    } catch (const std::runtime_error &e) {
        message = QString::fromUtf8(e.what());
    }
    const QString prefix = QStringLiteral("Cannot create file \"%1\". ").arg(path);
    QVERIFY2(message.startsWith(prefix), qPrintable(message));
    QVERIFY2(message.size() > prefix.size(), qPrintable(message)); // the system's reason follows
}

void TestOpLog::saveWriteErrorKeepsOldFile()
{
    // A file size limit makes the write fail half way, as a full disk would.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    saveLogFile(path, QByteArray("previous log"));
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString message;
    try {
        saveLogFile(path, QByteArray(1 << 20, 'x'));
    } catch (const std::runtime_error &e) {
        message = QString::fromUtf8(e.what());
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(message, QStringLiteral("Stream write error"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("previous log"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("log.txt")});
}

void TestOpLog::errorText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("letter") << "Stream write error" << "Stream write error.";
    QTest::newRow("already full stop") << "done." << "done.";
    QTest::newRow("below full stop") << "what?" << "what?."; // '?' (0x3F) is above '.'
    QTest::newRow("exclamation below") << "stop!" << "stop!";
    QTest::newRow("blank") << "a " << "a ";
    QTest::newRow("line break") << "a\r\n" << "a\r\n";
    QTest::newRow("chinese") << "错误" << "错误.";
    QTest::newRow("hyphen") << "x-" << "x-";
    QTest::newRow("slash") << "x/" << "x/.";
    QTest::newRow("empty") << "" << "";
}

void TestOpLog::errorText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(errorDisplayText(text), expected);
}

void TestOpLog::filters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QStringList>("matches");
    QTest::addColumn<QStringList>("misses");
    const QString log = QStringLiteral("所有文件|*.TXT;*.SQL|TXT文件|*.TXT|SQL文件|*.SQL");
    QTest::newRow("both") << log << 0 << "所有文件" << QStringList{"a.TXT", "b.txt", "c.Sql"}
                          << QStringList{"a.bak", "txt", "a.txt.gz"};
    QTest::newRow("txt only") << log << 1 << "TXT文件" << QStringList{"x.tXt"} << QStringList{"x.sql"};
    QTest::newRow("sql only") << log << 2 << "SQL文件" << QStringList{"x.SQL"} << QStringList{"x.txt"};
    QTest::newRow("everything") << QStringLiteral("所有文件|*.*|MDF文件|*.MDF") << 0 << "所有文件"
                                << QStringList{"noext", "a.b"} << QStringList{};
}

void TestOpLog::filters()
{
    QFETCH(QString, filter);
    QFETCH(int, choice);
    QFETCH(QString, description);
    QFETCH(QStringList, matches);
    QFETCH(QStringList, misses);
    const FileDialog dlg(FileDialog::Save, QStringLiteral("t"), filter);
    const QStringList qt = dlg.qtFilters();
    QCOMPARE(qt.size(), filter.count(QLatin1Char('|')) / 2 + 1);
    const QString entry = qt.at(choice);
    // "desc (p1 p2)": Qt's own parser must find the patterns.
    const QRegularExpression form(QStringLiteral("^(.*) \\(([^()]*)\\)$"));
    const auto m = form.match(entry);
    QVERIFY2(m.hasMatch(), qPrintable(entry));
    QCOMPARE(m.captured(1), description);
    const QStringList patterns = m.captured(2).split(QLatin1Char(' '));
    auto matched = [&](const QString &name) {
        for (const QString &p : patterns) {
            const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(p));
            if (re.match(name).hasMatch())
                return true;
        }
        return false;
    };
    for (const QString &name : matches)
        QVERIFY2(matched(name), qPrintable(name + " vs " + entry));
    for (const QString &name : misses)
        QVERIFY2(!matched(name), qPrintable(name + " vs " + entry));
}

QTEST_APPLESS_MAIN(TestOpLog)
#include "tst_oplog.moc"
