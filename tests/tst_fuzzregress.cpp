// Inputs found by the fuzz targets in fuzz/, replayed as ordinary tests.
#include "core/sqltext.h"
#include "core/oplog.h"

#include <QTest>

class TestFuzzRegress : public QObject {
    Q_OBJECT
private slots:
    void markerScan_data();
    void markerScan();
    void logAppend_data();
    void logAppend();
};

void TestFuzzRegress::markerScan_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    // A marker name may hold "?" and ":" (only blank, CR, LF, ")", "," and ";"
    // end it), so the output's question marks do not count the markers.
    QTest::newRow("question marks and a colon inside a name")
        << QByteArray::fromBase64("ZXhlAAAAAAAAAAAAYyBwIDp4LDo/Pz8/Pz8/ebsdHR0dHR0dHR0dHR06eik=")
        << QStringLiteral("exe") + QString(9, QChar(0)) + QStringLiteral("c p ?,?)")
        << QStringList{QStringLiteral("x"),
                       QStringLiteral("???????y") + QChar(0xFFFD) + QString(12, QChar(0x1D)) + QStringLiteral(":z")};
    QTest::newRow("NUL does not end a name")
        << QByteArray("select :a\0b from t", 18) << QStringLiteral("select ? from t")
        << QStringList{QStringLiteral("a") + QChar(0) + QStringLiteral("b")};
    QTest::newRow("unclosed quote after colon runs to the end")
        << QByteArray("x = :'abc ; y") << QStringLiteral("x = ?") << QStringList{QStringLiteral("'abc ; y")};
}

void TestFuzzRegress::markerScan()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    const dv::MarkerScan r = dv::scanParameterMarkers(QString::fromUtf8(input));
    QCOMPARE(r.text, text);
    QCOMPARE(r.names, names);
}

void TestFuzzRegress::logAppend_data()
{
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QString>("entry");
    QTest::newRow("memo ends with lone CR") << QStringLiteral("\r") << QStringLiteral("😀 emoji");
    QTest::newRow("entry with lone LF and CR") << QStringLiteral("typed") << QStringLiteral("a\nb\rc");
    QTest::newRow("surrogate half") << QStringLiteral("x") << QString(QChar(0xD800));
}

void TestFuzzRegress::logAppend()
{
    QFETCH(QString, memo);
    QFETCH(QString, entry);
    const QDateTime when(QDate(2026, 12, 8), QTime(18, 30, 5));
    const QString out = dv::appendLogEntry(memo, entry, when);
    const QString sep = QString::fromLatin1(dv::kLogSeparator);
    QVERIFY(out.startsWith(memo));
    QVERIFY(out.contains(entry));
    QVERIFY(out.contains(QStringLiteral("2026-12-08 18:30:05")));
    QVERIFY(out.endsWith(sep) || out.endsWith(sep + QStringLiteral("\r\n")));
    QCOMPARE(out.size() - memo.size(), entry.size() + sep.size() + 19 + 6);
    QVERIFY(!dv::encodeLogText(out).isEmpty());
}

QTEST_APPLESS_MAIN(TestFuzzRegress)
#include "tst_fuzzregress.moc"
