// dv_bench_result: a large console result through the client layer and the
// result model (default), or through the real window until the grid has
// painted its first row (--grid).
//
//   dv_bench_result --server H,P --user U --password P --sql "select ..." [--grid]
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "client/dbclient.h"
#include "client/query.h"
#include "client/resultset.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>

#include <cstdio>

namespace {

// Bytes the values take as SQL Server sends them: fixed types at their
// storage size, character types at two bytes per character. This is the
// "raw data size" the resident memory is compared with.
qint64 rawBytes(const dv::ResultSet &rs)
{
    qint64 total = 0;
    const auto &cols = rs.columns();
    QList<int> fixed;
    QList<int> texts;
    for (int c = 0; c < rs.columnCount(); ++c) {
        switch (cols[c].kind) {
        case dv::ValueKind::Integer:
            fixed << (cols[c].size > 10 ? 8 : 4);
            break;
        case dv::ValueKind::Double:
        case dv::ValueKind::DateTime:
            fixed << 8;
            break;
        case dv::ValueKind::Decimal:
            // 1 sign byte + 4/8/12/16 magnitude bytes by precision
            fixed << (cols[c].size <= 9 ? 5 : cols[c].size <= 19 ? 9 : cols[c].size <= 28 ? 13 : 17);
            break;
        case dv::ValueKind::Boolean:
            fixed << 1;
            break;
        case dv::ValueKind::Date:
            fixed << 3;
            break;
        case dv::ValueKind::Time:
            fixed << 5;
            break;
        default:
            fixed << -1;
            texts << c;
        }
    }
    qint64 perRowFixed = 0;
    for (int f : fixed)
        if (f > 0)
            perRowFixed += f;
    total = perRowFixed * rs.rowCount();
    for (qint64 r = 0; r < rs.rowCount(); ++r)
        for (int c : texts)
            if (!rs.isNull(r, c))
                total += rs.text(r, c).size() * 2;
    return total;
}

int runModel(const bench::Args &args, const QString &sql)
{
    auto conn = dv::makeOdbcConnection();
    bench::openConnection(*conn, args);
    dv::Query query(QStringLiteral("AdoQExec"), conn.get());
    dv::ResultModel model(&query);
    // Touch the code paths once so that the figure below is the result's cost,
    // not the first use of the driver's statement machinery.
    query.setLines({QStringLiteral("select 1 as x")});
    query.open();
    query.close();

    const long emptyKb = bench::rssKb();
    bench::resetPeakRss();
    const double t0 = bench::nowSec();
    query.setLines({sql});
    query.open();
    const int rows = model.rowCount();
    const double t1 = bench::nowSec();
    const long peakKb = bench::peakRssKb();
    const long heldKb = bench::rssKb();
    auto rs = query.resultSet();
    if (!rs || rows == 0) {
        std::fprintf(stderr, "dv_bench_result: no rows\n");
        return 1;
    }
    // Reading cells as the grid does (display text), over the first rows.
    const int sampleRows = qMin(rows, 20000);
    const double t2 = bench::nowSec();
    qint64 chars = 0;
    for (int r = 0; r < sampleRows; ++r)
        for (int c = 0; c < model.columnCount(); ++c)
            chars += model.data(model.index(r, c)).toString().size();
    const double t3 = bench::nowSec();
    const double cells = double(sampleRows) * model.columnCount();

    bench::report("rows", rows);
    bench::report("held_s", t1 - t0);
    bench::report("empty_kb", emptyKb);
    bench::report("peak_kb", peakKb);
    bench::report("held_kb", heldKb);
    bench::report("raw_kb", double(rawBytes(*rs)) / 1024.0);
    bench::report("store_kb", double(rs->bytesUsed()) / 1024.0);
    bench::report("cell_read_us", (t3 - t2) / cells * 1e6);
    bench::note(QStringLiteral("display characters read: %1").arg(chars));
    return 0;
}

// Records the moment the grid finished a paint that showed row 0.
class FirstRowWatch : public QObject {
public:
    FirstRowWatch(QTableView *grid) : m_grid(grid) { grid->viewport()->installEventFilter(this); }
    double paintedAt = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() != QEvent::Paint || paintedAt > 0 || !m_grid->model()
            || m_grid->model()->rowCount() == 0)
            return false;
        const QRect cell = m_grid->visualRect(m_grid->model()->index(0, 0));
        if (!cell.isValid() || !cell.intersects(m_grid->viewport()->rect()))
            return false;
        // Let the grid paint now, then take the time.
        watched->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, e);
        paintedAt = bench::nowSec();
        return true;
    }

private:
    QTableView *m_grid;
};

int runGrid(int argc, char **argv, const bench::Args &args, const QString &sql)
{
    dv::Application app(argc, argv);
    bench::prepareApplication(app);
    TFMAIN w(dv::makeOdbcConnection());
    w.show();
    bench::processEventsFor(0.2);
    bench::login(w, args);
    w.pc->setCurrentWidget(w.TabSheet1);
    bench::processEventsFor(0.2);
    w.RtSql->setPlainText(sql);

    FirstRowWatch watch(w.DbGridResult);
    // The model resets when the rows are held: what follows is the grid's share.
    double fetchedAt = 0;
    QObject::connect(w.dsResult, &QAbstractItemModel::modelAboutToBeReset, [&] {
        if (w.dsResult->resultSet() == nullptr && fetchedAt == 0 && w.AdoQExec->isOpen())
            fetchedAt = bench::nowSec();
    });
    const double t0 = bench::nowSec();
    w.btnExecClick();
    const double t1 = bench::nowSec();
    QElapsedTimer guard;
    guard.start();
    while (watch.paintedAt == 0 && guard.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (watch.paintedAt == 0) {
        std::fprintf(stderr, "dv_bench_result: the grid never painted row 0\n");
        return 1;
    }
    bench::report("grid_rows", w.DbGridResult->model()->rowCount());
    bench::report("exec_click_s", t1 - t0);
    bench::report("first_row_s", watch.paintedAt - t0);
    if (fetchedAt > 0)
        bench::report("grid_share_s", watch.paintedAt - fetchedAt);
    bench::report("grid_peak_kb", bench::peakRssKb());
    return bench::checkBoxes();
}

} // namespace

int main(int argc, char **argv)
{
    const bench::Args args = bench::parseArgs(argc, argv);
    const QString sql = args.value(QStringLiteral("--sql"));
    if (sql.isEmpty()) {
        std::fprintf(stderr, "usage: dv_bench_result --server H,P --user U --password P --sql TEXT [--grid]\n");
        return 2;
    }
    try {
        if (args.flag(QStringLiteral("--grid")))
            return runGrid(argc, argv, args, sql);
        QCoreApplication app(argc, argv);
        return runModel(args, sql);
    } catch (const dv::DbError &e) {
        std::fprintf(stderr, "dv_bench_result: %s\n", e.what());
        return 1;
    }
}
