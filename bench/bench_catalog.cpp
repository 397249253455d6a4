// dv_bench_catalog: RefreshDatabaseList of the real window, filling its four
// pickers from the server's catalogue.
//
//   dv_bench_catalog --server H,P --user U --password P [--repeat N]
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "connection/dbclient.h"
#include "connection/query.h"
#include "main/tfmain.h"

#include <QComboBox>

#include <cstdio>
#include <stdexcept>

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    const bench::Args args = bench::parseArgs(argc, argv);
    const int repeat = args.value(QStringLiteral("--repeat"), QStringLiteral("5")).toInt();
    try {
        bench::prepareApplication(app);
        TFMAIN w(dv::makeOdbcConnection());
        w.show();
        bench::processEventsFor(0.2);
        const double t0 = bench::nowSec();
        bench::login(w, args); // the login itself loads the list once
        const double t1 = bench::nowSec();

        // What the server holds, counted apart from the list.
        w.q->setLines({QStringLiteral("select count(*) as n from master..sysdatabases")});
        w.q->open();
        const int expected = w.q->fieldByName(QStringLiteral("n")).toInt();
        w.q->close();

        QList<double> samples;
        for (int i = 0; i < repeat; ++i) {
            const double s = bench::nowSec();
            w.RefreshDatabaseList();
            samples << bench::nowSec() - s;
            bench::processEventsFor(0.05);
        }
        for (QComboBox *cb : {w.cb_db, w.cb_db3, w.cb_db5, w.cb_db6}) {
            if (cb->count() != expected) {
                std::fprintf(stderr, "dv_bench_catalog: %s holds %d names, the server %d\n",
                             qPrintable(cb->objectName()), cb->count(), expected);
                return 1;
            }
        }
        bench::report("databases", expected);
        bench::report("login_s", t1 - t0);
        bench::report("refresh_s", bench::median(samples));
        bench::report("refresh_min_s", *std::min_element(samples.begin(), samples.end()));
        return bench::checkBoxes();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dv_bench_catalog: %s\n", e.what());
        return 1;
    }
}
