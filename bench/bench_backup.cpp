// dv_bench_backup: the backup page's action (Button3Click, through
// RunMaintenance) end to end, repeated; writes the batch it sent so that the
// baseline can send exactly the same text.
//
//   dv_bench_backup --server H,P --user U --password P --db NAME --path FILE
//                   --batch-out FILE [--repeat N]
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "client/dbclient.h"
#include "client/query.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "core/operations.h"

#include <QComboBox>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    const bench::Args args = bench::parseArgs(argc, argv);
    const QString db = args.value(QStringLiteral("--db"));
    const QString path = args.value(QStringLiteral("--path"));
    const QString batchOut = args.value(QStringLiteral("--batch-out"));
    const int repeat = args.value(QStringLiteral("--repeat"), QStringLiteral("20")).toInt();
    if (db.isEmpty() || path.isEmpty() || batchOut.isEmpty()) {
        std::fprintf(stderr, "dv_bench_backup: --db, --path and --batch-out are required\n");
        return 2;
    }
    try {
        bench::prepareApplication(app);
        TFMAIN w(dv::makeOdbcConnection());
        w.show();
        bench::processEventsFor(0.2);
        bench::login(w, args);
        w.pc->setCurrentWidget(w.ts2);
        bench::processEventsFor(0.1);
        w.cb_db->setCurrentText(db);
        w.tb_bak_path->setText(path);

        const QString success = QString::fromUtf8(dv::ops::Backup.successMessage);
        QList<double> samples;
        for (int i = 0; i <= repeat; ++i) {
            bench::messageBoxes().clear();
            const double t0 = bench::nowSec();
            w.Button3Click();
            const double dt = bench::nowSec() - t0;
            if (bench::messageBoxes() != QStringList{success}) {
                std::fprintf(stderr, "dv_bench_backup: the backup did not succeed: %s\n",
                             qPrintable(bench::messageBoxes().join(QLatin1Char('|'))));
                return 1;
            }
            if (i > 0) // the first run warms the driver and the server up
                samples << dt;
            QApplication::processEvents();
        }
        QFile out(batchOut);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "dv_bench_backup: cannot write %s\n", qPrintable(batchOut));
            return 1;
        }
        out.write(w.q->commandText().toUtf8());
        double sum = 0;
        for (double v : samples)
            sum += v;
        bench::report("backup_s", bench::median(samples));
        // The baseline's per-batch figure is an average; this is its match.
        bench::report("backup_mean_s", sum / samples.size());
        bench::report("backup_min_s", *std::min_element(samples.begin(), samples.end()));
        bench::report("backup_bytes", double(QFile(path).size()));
        return bench::checkBoxes();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dv_bench_backup: %s\n", e.what());
        return 1;
    }
}
