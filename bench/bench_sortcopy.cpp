// dv_bench_sortcopy: sorting and copying a large result in the console's grid,
// each next to a baseline measured in the same run on the same values.
//
//   dv_bench_sortcopy [--rows N]
//
// The rows are made in memory, so no server is needed. Sorting: one column of
// each kind the grid sorts (integer, bit, float, decimal, money, text under a
// case-insensitive collation, uniqueidentifier as the driver hands it over,
// binary, date, time, date-time), each sorted through the result model as a
// click on its title does (descending, so that no column is already in
// order). Its baseline is std::stable_sort of an index over the same values
// held in a plain vector (numbers, words, QStrings, QByteArrays; text by code
// unit). Copying: the columns of the benchmark table (int, nvarchar, float,
// datetime, decimal), Ctrl+A and Ctrl+C in the grid up to the clipboard
// holding the text; its baseline joins the same texts, made beforehand, with
// tabs and line breaks into one string.
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "client/resultset.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

namespace {

dv::ColumnInfo column(const char *name, dv::ValueKind kind)
{
    dv::ColumnInfo c;
    c.name = QString::fromLatin1(name);
    c.kind = kind;
    return c;
}

void addString(dv::ResultSet &rs, const QString &s)
{
    rs.addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
}

// Scrambled so that no column arrives in order.
qint64 scramble(qint64 k, qint64 rows) { return (k * 7919) % rows; }

QString nameOf(qint64 k, qint64 s)
{
    static const QString tail = QStringLiteral("abcdefghijKLMNOPQRST");
    return QStringLiteral("名称-%1-").arg(s, 7, 10, QLatin1Char('0')) + tail.left(int(k % 20));
}

QString amountOf(qint64 s)
{
    return QStringLiteral("%1%2.%3")
        .arg(s % 3 ? QString() : QStringLiteral("-"))
        .arg(s * 13 % 100000)
        .arg(s % 100, 2, 10, QLatin1Char('0'));
}

// The columns of the benchmark table: what the copy takes.
std::shared_ptr<dv::ResultSet> tableRows(qint64 rows)
{
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        column("id", dv::ValueKind::Integer), column("name", dv::ValueKind::Text),
        column("val", dv::ValueKind::Double), column("ts", dv::ValueKind::DateTime),
        column("amount", dv::ValueKind::Decimal)});
    for (qint64 k = 0; k < rows; ++k) {
        const qint64 s = scramble(k, rows);
        rs->addInteger(k);
        addString(*rs, nameOf(k, s));
        rs->addDouble(double(s) / 7.0 - 1000.0);
        rs->addDateTime(2020 + int(s % 5), 1 + int(s % 12), 1 + int(s % 28), int(s % 24), int(s % 60), int(s % 59),
                        int(s % 1000));
        addString(*rs, amountOf(s));
        rs->endRow();
    }
    return rs;
}

// One column of each kind the grid sorts.
std::shared_ptr<dv::ResultSet> kindRows(qint64 rows)
{
    using K = dv::ValueKind;
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        column("int", K::Integer), column("bit", K::Boolean), column("float", K::Double),
        column("decimal", K::Decimal), column("money", K::Decimal), column("text_ci", K::Text),
        column("guid", K::Text), column("binary", K::Binary), column("date", K::Date), column("time", K::Time),
        column("datetime", K::DateTime)});
    for (qint64 k = 0; k < rows; ++k) {
        const qint64 s = scramble(k, rows);
        rs->addInteger(s * 1000003 - 500000000000LL);
        rs->addInteger(s & 1);
        rs->addDouble(double(s) / 7.0 - 1000.0);
        addString(*rs, amountOf(s));
        addString(*rs, QStringLiteral("%1.%2").arg(s * 37 - 10000000).arg(s % 10000, 4, 10, QLatin1Char('0')));
        addString(*rs, (k % 2 ? nameOf(k, s).toUpper() : nameOf(k, s)));
        addString(*rs, QStringLiteral("%1-%2-%3-%4-%5")
                           .arg(s * 2654435761LL % 4294967296LL, 8, 16, QLatin1Char('0'))
                           .arg(s % 65536, 4, 16, QLatin1Char('0'))
                           .arg(k % 65536, 4, 16, QLatin1Char('0'))
                           .arg((s * 31) % 65536, 4, 16, QLatin1Char('0'))
                           .arg(s * 40503, 12, 16, QLatin1Char('0'))
                           .toUpper());
        const quint64 b = quint64(s) * 0x9E3779B97F4A7C15ULL;
        rs->addBytes(reinterpret_cast<const char *>(&b), 1 + qsizetype(s % 8));
        rs->addDate(1 + int(s % 9999), 1 + int(s % 12), 1 + int(s % 28));
        rs->addTime(int(s % 24), int(s % 60), int(s % 59), int(s % 1000));
        rs->addDateTime(1900 + int(s % 200), 1 + int(s % 12), 1 + int(s % 28), int(s % 24), int(s % 60),
                        int(s % 59), int(s % 1000));
        rs->endRow();
    }
    return rs;
}

template <typename Key>
double baselineSort(const std::vector<Key> &keys)
{
    std::vector<qint64> idx(keys.size());
    std::iota(idx.begin(), idx.end(), qint64(0));
    const double t0 = bench::nowSec();
    std::stable_sort(idx.begin(), idx.end(), [&](qint64 a, qint64 b) { return keys[size_t(b)] < keys[size_t(a)]; });
    return bench::nowSec() - t0;
}

// The same values as a plain vector, sorted by std::stable_sort.
double baselineFor(const dv::ResultSet &rs, int c)
{
    const qint64 rows = rs.rowCount();
    switch (rs.columns()[c].kind) {
    case dv::ValueKind::Double: {
        std::vector<double> k;
        k.reserve(size_t(rows));
        for (qint64 r = 0; r < rows; ++r)
            k.push_back(std::bit_cast<double>(rs.word(r, c)));
        return baselineSort(k);
    }
    case dv::ValueKind::Text:
    case dv::ValueKind::Decimal: {
        std::vector<QString> k;
        k.reserve(size_t(rows));
        for (qint64 r = 0; r < rows; ++r)
            k.push_back(rs.textView(r, c).toString());
        return baselineSort(k);
    }
    case dv::ValueKind::Binary: {
        std::vector<QByteArray> k;
        k.reserve(size_t(rows));
        for (qint64 r = 0; r < rows; ++r)
            k.push_back(rs.bytesView(r, c).toByteArray());
        return baselineSort(k);
    }
    default: {
        std::vector<qint64> k;
        k.reserve(size_t(rows));
        for (qint64 r = 0; r < rows; ++r)
            k.push_back(rs.word(r, c));
        return baselineSort(k);
    }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const bench::Args args = bench::parseArgs(argc, argv);
    const qint64 rows = args.value(QStringLiteral("--rows"), QStringLiteral("1000000")).toLongLong();
    dv::Application app(argc, argv);
    bench::prepareApplication(app);

    dv::ResultModel model(nullptr);
    dv::ResultGrid grid;
    grid.setResultModel(&model);
    grid.resize(900, 600);
    grid.show();

    // Sorting: each column descending, through the model as the title click does.
    {
        auto rs = kindRows(rows);
        model.setResultSet(rs);
        bench::processEventsFor(0.2);
        for (int c = 0; c < rs->columnCount(); ++c) {
            const QString name = rs->columns()[c].name;
            model.sortBy(-1);
            const double t0 = bench::nowSec();
            model.sortBy(c, Qt::DescendingOrder);
            const double t1 = bench::nowSec();
            bench::report(QStringLiteral("sort_%1_s").arg(name), t1 - t0);
            bench::report(QStringLiteral("sort_%1_base_s").arg(name), baselineFor(*rs, c));
        }
        model.setResultSet(nullptr);
    }

    // Copying everything as the operator does: Ctrl+A, Ctrl+C.
    auto rs = tableRows(rows);
    model.setResultSet(rs);
    bench::processEventsFor(0.2);
    grid.setFocus();
    const double c0 = bench::nowSec();
    for (Qt::Key key : {Qt::Key_A, Qt::Key_C}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier, QString(QChar(key - Qt::Key_A + 1)));
        QCoreApplication::sendEvent(&grid, &press);
    }
    const QString copied = QGuiApplication::clipboard()->text();
    const double c1 = bench::nowSec();

    // The baseline's strings exist before its clock starts.
    const int columns = rs->columnCount();
    std::vector<QString> cells;
    cells.reserve(size_t(rows * columns));
    for (qint64 r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            cells.push_back(rs->text(r, c));
    const double j0 = bench::nowSec();
    QString joined;
    joined.reserve(copied.size());
    for (qint64 r = 0; r < rows; ++r) {
        if (r > 0)
            joined += QLatin1String("\r\n");
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                joined += u'\t';
            joined += cells[size_t(r * columns + c)];
        }
    }
    const double j1 = bench::nowSec();
    bench::report("rows", double(rows));
    bench::report("copy_columns", double(columns));
    bench::report("copy_s", c1 - c0);
    bench::report("copy_base_s", j1 - j0);
    bench::report("copy_chars", double(copied.size()));
    // The benchmark's names hold no tab or line break, so the copy is the join.
    if (copied != joined) {
        std::fprintf(stderr, "dv_bench_sortcopy: the copy (%lld characters) differs from the join (%lld)\n",
                     static_cast<long long>(copied.size()), static_cast<long long>(joined.size()));
        return 1;
    }
    return bench::checkBoxes();
}
