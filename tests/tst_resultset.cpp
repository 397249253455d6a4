// The client-held result: typed reads, text forms, edits, paging and memory.
#include "client/resultset.h"

#include <QtTest>

#include <bit>
#include <limits>

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
    void storedForms_data();
    void storedForms();
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

// The stored forms that sorting and copying read: textInto() must give
// exactly text() (what the grid shows), for fetched, edited and inserted
// rows, and words must order as the values do.
void TstResultSet::storedForms_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariantList>("values"); // ascending after any NULL; a null QVariant is NULL
    QTest::addColumn<QStringList>("texts");

    const QVariant null;
    QTest::newRow("integer") << int(ValueKind::Integer)
                             << QVariantList{null, std::numeric_limits<qint64>::min(), qint64(-1), qint64(0),
                                             qint64(7), std::numeric_limits<qint64>::max()}
                             << QStringList{"", "-9223372036854775808", "-1", "0", "7", "9223372036854775807"};
    QTest::newRow("bit") << int(ValueKind::Boolean) << QVariantList{null, qint64(0), qint64(1)}
                         << QStringList{"", "0", "1"};
    QTest::newRow("float") << int(ValueKind::Double)
                           << QVariantList{null, -1.5e308, -0.1, 0.0, 1e-7, 0.30000000000000004, 1.2345678901234568e20}
                           << QStringList{"", "-1.5e+308", "-0.1", "0", "1e-07", "0.30000000000000004",
                                          "123456789012345680000"};
    QTest::newRow("decimal") << int(ValueKind::Decimal)
                             << QVariantList{null, "-922337203685477.5808", "-0.50", "0.00",
                                             "99999999999999999999999999999999999999"}
                             << QStringList{"", "-922337203685477.5808", "-0.50", "0.00",
                                            "99999999999999999999999999999999999999"};
    const QString longText(5000, u'长');
    QTest::newRow("text") << int(ValueKind::Text)
                          << QVariantList{null, "", "line\r\nbreak", "tab\there", "数据库  ", longText}
                          << QStringList{"", "", "line\r\nbreak", "tab\there", "数据库  ", longText};
    QTest::newRow("binary") << int(ValueKind::Binary)
                            << QVariantList{null, QByteArray(), QByteArray("\x00\xff\x10\xab", 4), QByteArray(3, '\x7f')}
                            << QStringList{"", "0x", "0x00FF10AB", "0x7F7F7F"};
    QTest::newRow("date") << int(ValueKind::Date)
                          << QVariantList{null, QDate(1, 1, 1), QDate(1753, 1, 1), QDate(2000, 2, 29), QDate(9999, 12, 31)}
                          << QStringList{"", "0001-01-01", "1753-01-01", "2000-02-29", "9999-12-31"};
    QTest::newRow("time") << int(ValueKind::Time)
                          << QVariantList{null, QTime(0, 0), QTime(0, 0, 0, 1), QTime(9, 5, 7, 40), QTime(12, 34, 56, 700),
                                          QTime(23, 59, 59, 999)}
                          << QStringList{"", "00:00:00", "00:00:00.001", "09:05:07.040", "12:34:56.700", "23:59:59.999"};
    QTest::newRow("datetime") << int(ValueKind::DateTime)
                              << QVariantList{null, QDateTime(QDate(1, 1, 1), QTime(0, 0)),
                                              QDateTime(QDate(1753, 1, 1), QTime(0, 0, 0, 3)),
                                              QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 997)),
                                              QDateTime(QDate(2000, 1, 1), QTime(0, 0)),
                                              QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999))}
                              << QStringList{"", "0001-01-01 00:00:00", "1753-01-01 00:00:00.003",
                                             "1999-12-31 23:59:59.997", "2000-01-01 00:00:00",
                                             "9999-12-31 23:59:59.999"};
}

void TstResultSet::storedForms()
{
    QFETCH(int, kind);
    QFETCH(QVariantList, values);
    QFETCH(QStringList, texts);
    const auto k = ValueKind(kind);
    // The column under test between two others, so that its index is not 0.
    ResultSet rs({col("before", ValueKind::Text), col("v", k), col("after", ValueKind::Integer)});
    for (const QVariant &v : values) {
        addString(rs, QStringLiteral("x"));
        if (v.isNull()) {
            rs.addNull();
        } else {
            switch (k) {
            case ValueKind::Integer:
            case ValueKind::Boolean: rs.addInteger(v.toLongLong()); break;
            case ValueKind::Double: rs.addDouble(v.toDouble()); break;
            case ValueKind::Binary: rs.addBytes(v.toByteArray().constData(), v.toByteArray().size()); break;
            case ValueKind::Date: rs.addDate(v.toDate().year(), v.toDate().month(), v.toDate().day()); break;
            case ValueKind::Time:
                rs.addTime(v.toTime().hour(), v.toTime().minute(), v.toTime().second(), v.toTime().msec());
                break;
            case ValueKind::DateTime: {
                const QDate d = v.toDate();
                const QTime t = v.toTime();
                rs.addDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
                break;
            }
            default: addString(rs, v.toString());
            }
        }
        rs.endRow();
    }
    const qint64 n = rs.rowCount();
    QCOMPARE(n, qint64(values.size()));

    // One buffer for every call, as a copy uses it.
    QString buffer;
    auto check = [&](qint64 row, const QString &expected) {
        QCOMPARE(rs.text(row, 1), expected);
        QCOMPARE(rs.textInto(row, 1, buffer).toString(), expected);
        if (k == ValueKind::Text || k == ValueKind::Decimal)
            QCOMPARE(rs.textView(row, 1).toString(), expected);
        else
            QVERIFY(rs.textView(row, 1).isEmpty());
        if (k == ValueKind::Binary)
            QCOMPARE(rs.bytesView(row, 1).toByteArray(), rs.value(row, 1).toByteArray());
        else
            QVERIFY(rs.bytesView(row, 1).isEmpty());
        if (k == ValueKind::Double && !rs.isNull(row, 1))
            QCOMPARE(std::bit_cast<double>(rs.word(row, 1)), rs.value(row, 1).toDouble());
    };
    std::vector<qint64> words;
    for (qint64 r = 0; r < n; ++r) {
        check(r, texts[r]);
        if (QTest::currentTestFailed())
            return;
        words.push_back(rs.word(r, 1));
    }
    const bool ordered = k == ValueKind::Integer || k == ValueKind::Boolean || k == ValueKind::Date
        || k == ValueKind::Time || k == ValueKind::DateTime;
    for (qint64 r = 2; ordered && r < n; ++r)
        QVERIFY2(words[size_t(r - 1)] < words[size_t(r)], qPrintable(texts[r]));

    // Edited rows hold their values apart from the fetched ones: the same
    // value edited in gives the same text and word. Then each row again as
    // an inserted copy at the front.
    for (qint64 r = 0; r < n; ++r)
        rs.setRow(r, {QStringLiteral("y"), rs.value(r, 1), qint64(r)});
    for (qint64 r = 0; r < n; ++r) {
        check(r, texts[r]);
        QCOMPARE(rs.word(r, 1), words[size_t(r)]);
    }
    QVariantList held;
    for (qint64 r = 0; r < n; ++r)
        held << rs.value(r, 1);
    for (qint64 r = 0; r < n; ++r)
        rs.insertRow(r, {QStringLiteral("z"), held[r], qint64(-1)});
    QCOMPARE(rs.rowCount(), 2 * n);
    for (qint64 r = 0; r < n; ++r) {
        check(r, texts[r]);
        QCOMPARE(rs.word(r, 1), words[size_t(r)]);
        check(n + r, texts[r]);
    }
    // Other columns and rows out of range read as empty.
    QVERIFY(rs.textInto(2 * n, 1, buffer).isEmpty());
    QVERIFY(rs.textInto(0, 3, buffer).isEmpty());
    QCOMPARE(rs.word(-1, 1), qint64(0));
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
