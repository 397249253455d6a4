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
    QTest::addColumn<bool>("atLineStart");
    QTest::addColumn<QString>("entry");
    QTest::newRow("emoji") << true << QStringLiteral("😀 emoji");
    QTest::newRow("entry with lone LF and CR") << false << QStringLiteral("a\nb\rc");
    QTest::newRow("surrogate half") << false << QString(QChar(0xD800));
    QTest::newRow("CR at the end") << false << QStringLiteral("x\r");
}

void TestFuzzRegress::logAppend()
{
    QFETCH(bool, atLineStart);
    QFETCH(QString, entry);
    const QDateTime when(QDate(2026, 12, 8), QTime(18, 30, 5));
    const QString out = dv::logEntryAddition(atLineStart, entry, when);
    const QString sep = QString::fromLatin1(dv::kLogSeparator);
    QString body = entry;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QCOMPARE(out.startsWith(QLatin1Char('\n')), !atLineStart);
    QVERIFY(!out.contains(QLatin1Char('\r')));
    QVERIFY(out.contains(body));
    QVERIFY(out.contains(QStringLiteral("2026-12-08 18:30:05")));
    QVERIFY(out.endsWith(sep) || out.endsWith(sep + QStringLiteral("\n")));
    // Each of the three lines brings exactly one line break.
    QCOMPARE(out.size(), body.size() + sep.size() + 19 + 3);
    QVERIFY(!dv::encodeLogText(out).isEmpty());
}

QTEST_APPLESS_MAIN(TestFuzzRegress)
#include "tst_fuzzregress.moc"
