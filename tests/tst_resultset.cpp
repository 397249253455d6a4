// The client-held result: typed reads, text forms, edits, paging and memory.
#include "client/resultset.h"

#include <QtTest>

using namespace dv;

namespace {

ColumnInfo col(const QString &name, ValueKind kind)
{
    ColumnInfo c;
    c.name = name;
    c.kind = kind;
    return c;
}

void addString(ResultSet &rs, const QString &s)
{
    rs.addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
}

// One column per kind, two rows: values, then all NULL.
std::unique_ptr<ResultSet> allKinds()
{
    auto rs = std::make_unique<ResultSet>(QVector<ColumnInfo>{
        col("i", ValueKind::Integer), col("b", ValueKind::Boolean), col("f", ValueKind::Double),
        col("m", ValueKind::Decimal), col("s", ValueKind::Text), col("x", ValueKind::Binary),
        col("d", ValueKind::Date), col("t", ValueKind::Time), col("dt", ValueKind::DateTime)});
    rs->addInteger(-9223372036854775807LL);
    rs->addInteger(1);
    rs->addDouble(0.1);
    addString(*rs, QStringLiteral("-12.50"));
    addString(*rs, QStringLiteral("数据库"));
    rs->addBytes("\x00\xab\x10", 3);
    rs->addDate(1753, 1, 1);
    rs->addTime(23, 59, 59, 997);
    rs->addDateTime(2026, 12, 8, 17, 5, 9, 0);
    rs->endRow();
    for (int c = 0; c < rs->columnCount(); ++c)
        rs->addNull();
    rs->endRow();
    return rs;
}

QStringList column(const ResultSet &rs, int col)
{
    QStringList out;
    for (qint64 r = 0; r < rs.rowCount(); ++r)
        out << rs.text(r, col);
    return out;
}

} // namespace

class TstResultSet : public QObject {
    Q_OBJECT
private slots:
    void typedValues_data();
    void typedValues();
    void nullsKeepType();
    void columnIndexIgnoresCase();
    void outOfRange();
    void edits_data();
    void edits();
    void editConvertsToColumnKind();
    void editsAfterRemovalKeepIdentity();
    void manyPages();
    void memoryNearRawSize();
};

void TstResultSet::typedValues_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 0 << QVariant::fromValue(-9223372036854775807LL) << "-9223372036854775807";
    QTest::newRow("boolean") << 1 << QVariant(true) << "1";
    QTest::newRow("double") << 2 << QVariant(0.1) << "0.1";
    QTest::newRow("decimal exact") << 3 << QVariant(QStringLiteral("-12.50")) << "-12.50";
    QTest::newRow("text") << 4 << QVariant(QStringLiteral("数据库")) << "数据库";
    QTest::newRow("binary") << 5 << QVariant(QByteArray("\x00\xab\x10", 3)) << "0x00AB10";
    QTest::newRow("date") << 6 << QVariant(QDate(1753, 1, 1)) << "1753-01-01";
    QTest::newRow("time") << 7 << QVariant(QTime(23, 59, 59, 997)) << "23:59:59.997";
    QTest::newRow("datetime no ms") << 8 << QVariant(QDateTime(QDate(2026, 12, 8), QTime(17, 5, 9)))
                                    << "2026-12-08 17:05:09";
}

void TstResultSet::typedValues()
{
    QFETCH(int, col);
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    auto rs = allKinds();
    QCOMPARE(rs->rowCount(), 2);
    QVERIFY(!rs->isNull(0, col));
    const QVariant v = rs->value(0, col);
    QCOMPARE(v.metaType(), value.metaType());
    QCOMPARE(v, value);
    QCOMPARE(rs->text(0, col), text);
}

void TstResultSet::nullsKeepType()
{
    auto rs = allKinds();
    for (int c = 0; c < rs->columnCount(); ++c) {
        QVERIFY(rs->isNull(1, c));
        const QVariant v = rs->value(1, c);
        QVERIFY2(v.isNull(), qPrintable(rs->columns()[c].name));
        QCOMPARE(v.metaType(), rs->value(0, c).metaType());
        QCOMPARE(rs->text(1, c), QString());
    }
}

void TstResultSet::columnIndexIgnoresCase()
{
    auto rs = allKinds();
    QCOMPARE(rs->columnIndex("DT"), 8);
    QCOMPARE(rs->columnIndex("s"), 4);
    QCOMPARE(rs->columnIndex("nope"), -1);
}

void TstResultSet::outOfRange()
{
    auto rs = allKinds();
    QVERIFY(!rs->value(2, 0).isValid());
    QVERIFY(!rs->value(-1, 0).isValid());
    QVERIFY(!rs->value(0, 99).isValid());
    rs->removeRow(5); // ignored
    rs->setRow(7, {1});
    QCOMPARE(rs->rowCount(), 2);
}

// Edits on a 10-row integer/text result; the expected column of texts after.
void TstResultSet::edits_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("expected");
    const QStringList base{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    auto with = [&](auto f) { QStringList l = base; f(l); return l; };
    QTest::newRow("set first") << "set" << 0 << with([](QStringList &l) { l[0] = "100"; });
    QTest::newRow("set middle") << "set" << 5 << with([](QStringList &l) { l[5] = "100"; });
    QTest::newRow("set last") << "set" << 9 << with([](QStringList &l) { l[9] = "100"; });
    QTest::newRow("insert first") << "insert" << 0 << with([](QStringList &l) { l.insert(0, "100"); });
    QTest::newRow("insert middle") << "insert" << 4 << with([](QStringList &l) { l.insert(4, "100"); });
    QTest::newRow("insert end") << "insert" << 10 << with([](QStringList &l) { l.append("100"); });
    QTest::newRow("remove first") << "remove" << 0 << with([](QStringList &l) { l.removeAt(0); });
    QTest::newRow("remove middle") << "remove" << 6 << with([](QStringList &l) { l.removeAt(6); });
    QTest::newRow("remove last") << "remove" << 9 << with([](QStringList &l) { l.removeAt(9); });
}

void TstResultSet::edits()
{
    QFETCH(QString, op);
    QFETCH(int, row);
    QFETCH(QStringList, expected);
    ResultSet rs({col("n", ValueKind::Integer), col("s", ValueKind::Text)});
    for (int i = 0; i < 10; ++i) {
        rs.addInteger(i);
        addString(rs, QStringLiteral("r%1").arg(i));
        rs.endRow();
    }
    const QVector<QVariant> values{100, QStringLiteral("new")};
    if (op == "set")
        rs.setRow(row, values);
    else if (op == "insert")
        rs.insertRow(row, values);
    else
        rs.removeRow(row);
    QCOMPARE(column(rs, 0), expected);
    // The text column follows its integer: "new" for 100, "rN" otherwise.
    for (qint64 r = 0; r < rs.rowCount(); ++r) {
        const QString n = rs.text(r, 0);
        QCOMPARE(rs.text(r, 1), n == "100" ? QStringLiteral("new") : "r" + n);
    }
}

void TstResultSet::editConvertsToColumnKind()
{
    auto rs = allKinds();
    rs->setRow(1, {QStringLiteral("42"), QStringLiteral("1"), QStringLiteral("2.5"), QStringLiteral("3.10"),
                   QStringLiteral("x"), QByteArray("\x01", 1), QStringLiteral("2000-02-29"),
                   QStringLiteral("01:02:03"), QStringLiteral("2001-02-03 04:05:06.007")});
    QCOMPARE(rs->value(1, 0), QVariant::fromValue(qint64(42)));
    QCOMPARE(rs->value(1, 0).metaType(), QMetaType::fromType<qint64>());
    QCOMPARE(rs->value(1, 1), QVariant(true));
    QCOMPARE(rs->value(1, 2), QVariant(2.5));
    QCOMPARE(rs->text(1, 3), QStringLiteral("3.10"));
    QCOMPARE(rs->text(1, 5), QStringLiteral("0x01"));
    QCOMPARE(rs->value(1, 6), QVariant(QDate(2000, 2, 29)));
    QCOMPARE(rs->text(1, 7), QStringLiteral("01:02:03"));
    QCOMPARE(rs->text(1, 8), QStringLiteral("2001-02-03 04:05:06.007"));
    // A null or unconvertible value becomes NULL of the column's type.
    rs->setRow(0, {QVariant(), QStringLiteral("abc")});
    QVERIFY(rs->isNull(0, 0));
    QVERIFY(rs->isNull(0, 1));
    QVERIFY(rs->isNull(0, 8)); // not given at all
    QCOMPARE(rs->value(0, 0).metaType(), QMetaType::fromType<qint64>());
}

void TstResultSet::editsAfterRemovalKeepIdentity()
{
    ResultSet rs({col("n", ValueKind::Integer)});
    for (int i = 0; i < 5; ++i) {
        rs.addInteger(i);
        rs.endRow();
    }
    rs.setRow(3, {30});     // 0 1 2 30 4
    rs.removeRow(1);        // 0 2 30 4
    rs.insertRow(1, {10});  // 0 10 2 30 4
    rs.setRow(1, {11});     // 0 11 2 30 4
    rs.removeRow(0);        // 11 2 30 4
    // Rows fetched after the edits still append at the end.
    rs.addInteger(5);
    rs.endRow();
    QCOMPARE(column(rs, 0), (QStringList{"11", "2", "30", "4", "5"}));
}

void TstResultSet::manyPages()
{
    // Enough rows to span several pages, with NULLs and texts of varying length.
    ResultSet rs({col("n", ValueKind::Integer), col("s", ValueKind::Text), col("x", ValueKind::Binary)});
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        rs.addInteger(i);
        if (i % 7 == 0)
            rs.addNull();
        else
            addString(rs, QString(i % 13, QChar(u'a' + i % 26)));
        const QByteArray b(i % 5, char(i));
        rs.addBytes(b.constData(), b.size());
        rs.endRow();
    }
    QCOMPARE(rs.rowCount(), n);
    for (int i : {0, 1, 4095, 4096, 4097, 8191, 8192, 12345, n - 1}) {
        QCOMPARE(rs.value(i, 0).toLongLong(), qint64(i));
        QCOMPARE(rs.isNull(i, 1), i % 7 == 0);
        if (i % 7)
            QCOMPARE(rs.text(i, 1), QString(i % 13, QChar(u'a' + i % 26)));
        QCOMPARE(rs.value(i, 2).toByteArray(), QByteArray(i % 5, char(i)));
    }
    rs.removeRow(4096);
    QCOMPARE(rs.value(4096, 0).toLongLong(), 4097);
    QCOMPARE(rs.value(n - 2, 0).toLongLong(), qint64(n - 1));
}

void TstResultSet::memoryNearRawSize()
{
    // int, nvarchar ~20 chars, float, datetime, decimal: the raw data is about
    // 8 + 40 + 8 + 8 + 16 bytes a row plus offsets.
    ResultSet rs({col("id", ValueKind::Integer), col("name", ValueKind::Text), col("f", ValueKind::Double),
                  col("at", ValueKind::DateTime), col("amount", ValueKind::Decimal)});
    const int n = 200000;
    const QString name = QStringLiteral("customer-name-000000");
    const QString amount = QStringLiteral("12345.67");
    for (int i = 0; i < n; ++i) {
        rs.addInteger(i);
        addString(rs, name);
        rs.addDouble(i * 0.5);
        rs.addDateTime(2024, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60, 0);
        addString(rs, amount);
        rs.endRow();
    }
    const qint64 raw = qint64(n) * (8 + name.size() * 2 + 8 + 8 + amount.size() * 2);
    const qint64 used = rs.bytesUsed();
    QVERIFY2(used >= raw, qPrintable(QString::number(used)));
    QVERIFY2(used < raw * 13 / 10, qPrintable(QStringLiteral("%1 bytes for %2 raw").arg(used).arg(raw)));
    const int i = n - 1;
    QCOMPARE(rs.text(i, 3), QString::asprintf("2024-%02d-%02d %02d:%02d:%02d", 1 + i % 12, 1 + i % 28, i % 24,
                                               i % 60, i % 60));
}

QTEST_APPLESS_MAIN(TstResultSet)
#include "tst_resultset.moc"
