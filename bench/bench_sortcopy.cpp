// dv_bench_sortcopy: sorting and copying a large result in the console's grid,
// each next to a baseline measured in the same run on the same values.
//
//   dv_bench_sortcopy [--rows N]
//
// The rows are made in memory with the columns of the benchmark table (int,
// nvarchar, float, datetime, decimal), so no server is needed. Sorting goes
// through the result model as a click on a column title does (descending, so
// that no column is already in order); the baseline is std::stable_sort over
// the same values held in a plain vector. Copying is Ctrl+A and Ctrl+C in the
// grid, up to the clipboard holding the text; the baseline joins the cells'
// texts with tabs and line breaks into one string.
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "client/resultset.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::shared_ptr<dv::ResultSet> makeRows(qint64 rows)
{
    QVector<dv::ColumnInfo> cols(5);
    cols[0].name = QStringLiteral("id");
    cols[0].kind = dv::ValueKind::Integer;
    cols[1].name = QStringLiteral("name");
    cols[1].kind = dv::ValueKind::Text;
    cols[2].name = QStringLiteral("val");
    cols[2].kind = dv::ValueKind::Double;
    cols[3].name = QStringLiteral("ts");
    cols[3].kind = dv::ValueKind::DateTime;
    cols[4].name = QStringLiteral("amount");
    cols[4].kind = dv::ValueKind::Decimal;
    auto rs = std::make_shared<dv::ResultSet>(cols);
    const QString tail = QStringLiteral("abcdefghijKLMNOPQRST");
    for (qint64 k = 0; k < rows; ++k) {
        // Scrambled so that no column arrives in order.
        const qint64 s = (k * 7919) % rows;
        rs->addInteger(k);
        const QString name = QStringLiteral("名称-%1-").arg(s, 7, 10, QLatin1Char('0')) + tail.left(int(k % 20));
        rs->addText(reinterpret_cast<const char16_t *>(name.utf16()), name.size());
        rs->addDouble(double(s) / 7.0 - 1000.0);
        rs->addDateTime(2020 + int(s % 5), 1 + int(s % 12), 1 + int(s % 28), int(s % 24), int(s % 60), int(s % 59),
                        int(s % 1000));
        const QString amount = QStringLiteral("%1%2.%3").arg(s % 3 ? QString() : QStringLiteral("-")).arg(s * 13 % 100000).arg(s % 100, 2, 10, QLatin1Char('0'));
        rs->addText(reinterpret_cast<const char16_t *>(amount.utf16()), amount.size());
        rs->endRow();
    }
    return rs;
}

template <typename Key>
double baselineSort(std::vector<Key> keys)
{
    std::vector<qint64> idx(keys.size());
    for (size_t i = 0; i < idx.size(); ++i)
        idx[i] = qint64(i);
    const double t0 = bench::nowSec();
    std::stable_sort(idx.begin(), idx.end(), [&](qint64 a, qint64 b) { return keys[size_t(b)] < keys[size_t(a)]; });
    return bench::nowSec() - t0;
}

} // namespace

int main(int argc, char **argv)
{
    const bench::Args args = bench::parseArgs(argc, argv);
    const qint64 rows = args.value(QStringLiteral("--rows"), QStringLiteral("1000000")).toLongLong();
    dv::Application app(argc, argv);
    bench::prepareApplication(app);

    auto rs = makeRows(rows);
    dv::ResultModel model(nullptr);
    dv::ResultGrid grid;
    grid.setResultModel(&model);
    grid.resize(900, 600);
    grid.show();
    model.setResultSet(rs);
    bench::processEventsFor(0.2);

    // Sorting: each column descending, through the model as the title click does.
    const char *names[] = {"int", "text", "float", "datetime", "decimal"};
    for (int c = 0; c < rs->columnCount(); ++c) {
        model.sortBy(-1);
        const double t0 = bench::nowSec();
        model.sortBy(c, Qt::DescendingOrder);
        const double t1 = bench::nowSec();
        double base = 0;
        switch (rs->columns()[c].kind) {
        case dv::ValueKind::Double: {
            std::vector<double> k;
            for (qint64 r = 0; r < rows; ++r)
                k.push_back(rs->value(r, c).toDouble());
            base = baselineSort(std::move(k));
            break;
        }
        case dv::ValueKind::Text:
        case dv::ValueKind::Decimal: {
            std::vector<QString> k;
            for (qint64 r = 0; r < rows; ++r)
                k.push_back(rs->text(r, c));
            base = baselineSort(std::move(k));
            break;
        }
        default: {
            std::vector<qint64> k;
            for (qint64 r = 0; r < rows; ++r)
                k.push_back(rs->columns()[c].kind == dv::ValueKind::DateTime
                                ? rs->value(r, c).toDateTime().toMSecsSinceEpoch()
                                : rs->value(r, c).toLongLong());
            base = baselineSort(std::move(k));
        }
        }
        bench::report(QStringLiteral("sort_%1_s").arg(QLatin1String(names[c])), t1 - t0);
        bench::report(QStringLiteral("sort_%1_base_s").arg(QLatin1String(names[c])), base);
    }
    model.sortBy(-1);

    // Copying everything as the operator does: Ctrl+A, Ctrl+C.
    grid.setFocus();
    const double c0 = bench::nowSec();
    for (Qt::Key key : {Qt::Key_A, Qt::Key_C}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier, QString(QChar(key - Qt::Key_A + 1)));
        QCoreApplication::sendEvent(&grid, &press);
    }
    const QString copied = QGuiApplication::clipboard()->text();
    const double c1 = bench::nowSec();

    const double j0 = bench::nowSec();
    QString joined;
    joined.reserve(copied.size());
    for (qint64 r = 0; r < rows; ++r) {
        if (r > 0)
            joined += QLatin1String("\r\n");
        for (int c = 0; c < rs->columnCount(); ++c) {
            if (c > 0)
                joined += u'\t';
            joined += rs->text(r, c);
        }
    }
    const double j1 = bench::nowSec();
    bench::report("rows", double(rows));
    bench::report("copy_s", c1 - c0);
    bench::report("copy_base_s", j1 - j0);
    bench::report("copy_chars", double(copied.size()));
    if (copied.size() != joined.size()) {
        std::fprintf(stderr, "dv_bench_sortcopy: copied %lld characters, the join has %lld\n",
                     static_cast<long long>(copied.size()), static_cast<long long>(joined.size()));
        return 1;
    }
    return bench::checkBoxes();
}
