// dv_bench_log: AppendLog into the real memo, 10,000 and 100,000 entries, and
// saving the larger log. Baseline: the same texts appended straight to a bare
// QPlainTextEdit.
//
//   dv_bench_log --server H,P --user U --password P [--small N] [--large N]
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "client/dbclient.h"
#include "core/oplog.h"
#include "main/tfmain.h"

#include <QPlainTextEdit>

#include <QDateTime>
#include <QFile>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

// A backup entry as the maintenance pages write it, varied by `i`.
QString entryText(int i)
{
    const QString db = QStringLiteral("db%1").arg(i % 32767, 5, 10, QLatin1Char('0'));
    return QStringLiteral("备份数据库\r\nuse master\r\n"
                          "if exists(select * from master..sysdevices where name='%1') exec sp_dropdevice '%1'\r\n"
                          "exec sp_addumpdevice 'disk', '%1', '/srv/backup/%1.BAK'\r\n"
                          "backup database %1 to %1\r\n操作成功")
        .arg(db);
}

double timeWindow(const bench::Args &args, int n, double *cpuSeconds, double *saveSeconds, qint64 *savedBytes, const QString &savePath)
{
    TFMAIN w(dv::makeOdbcConnection());
    w.show();
    bench::processEventsFor(0.1);
    // Logged in, so that the page gate lets the log page show.
    bench::login(w, args);
    w.pc->setCurrentWidget(w.ts8);
    bench::processEventsFor(0.1);
    const double c0 = bench::threadCpuSec();
    const double t0 = bench::nowSec();
    for (int i = 0; i < n; ++i)
        w.AppendLog(entryText(i));
    QApplication::processEvents(); // the memo lays out and paints once
    const double t1 = bench::nowSec();
    *cpuSeconds = bench::threadCpuSec() - c0;
    if (saveSeconds) {
        const double s0 = bench::nowSec();
        w.saveLogTo(savePath);
        *saveSeconds = bench::nowSec() - s0;
        *savedBytes = QFile(savePath).size();
        // The same steps one by one, to show where the save spends its time.
        const double p0 = bench::nowSec();
        QString text = w.tb_memo->toPlainText();
        const double p1 = bench::nowSec();
        text = dv::withCrLf(text);
        const double p2 = bench::nowSec();
        const QByteArray bytes = dv::encodeLogText(text);
        const double p3 = bench::nowSec();
        dv::saveLogFile(savePath, bytes);
        const double p4 = bench::nowSec();
        bench::report("save_step_plaintext_s", p1 - p0);
        bench::report("save_step_linebreaks_s", p2 - p1);
        bench::report("save_step_encode_s", p3 - p2);
        bench::report("save_step_write_s", p4 - p3);
    }
    return t1 - t0;
}

double timeBare(int n)
{
    QPlainTextEdit memo;
    memo.resize(800, 600);
    memo.show();
    bench::processEventsFor(0.1);
    const double t0 = bench::nowSec();
    for (int i = 0; i < n; ++i) {
        QString e = dv::logTimeStamp(QDateTime::currentDateTime()) + QLatin1Char('\n') + entryText(i) + QLatin1Char('\n')
                    + QString::fromLatin1(dv::kLogSeparator);
        e.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        memo.appendPlainText(e);
    }
    QApplication::processEvents();
    return bench::nowSec() - t0;
}

} // namespace

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    const bench::Args args = bench::parseArgs(argc, argv);
    const int small = args.value(QStringLiteral("--small"), QStringLiteral("10000")).toInt();
    const int large = args.value(QStringLiteral("--large"), QStringLiteral("100000")).toInt();
    bench::prepareApplication(app);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    try {
        double cpuSmall = 0, cpuLarge = 0;
        const double tSmall = timeWindow(args, small, &cpuSmall, nullptr, nullptr, {});
        double save = 0;
        qint64 bytes = 0;
        const double tLarge = timeWindow(args, large, &cpuLarge, &save, &bytes, path);
        bench::report("small_cpu_s", cpuSmall);
        bench::report("large_cpu_s", cpuLarge);
        const double bSmall = timeBare(small);
        const double bLarge = timeBare(large);
        bench::report("small_n", small);
        bench::report("large_n", large);
        bench::report("small_s", tSmall);
        bench::report("large_s", tLarge);
        bench::report("bare_small_s", bSmall);
        bench::report("bare_large_s", bLarge);
        bench::report("save_s", save);
        bench::report("save_bytes", double(bytes));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dv_bench_log: %s\n", e.what());
        return 1;
    }
    return bench::checkBoxes();
}
