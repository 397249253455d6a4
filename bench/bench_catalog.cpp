// dv_bench_catalog: RefreshDatabaseList of the real window, filling its four
// pickers from the server's catalogue.
//
//   dv_bench_catalog --server H,P --user U --password P [--repeat N]
#include "benchutil.h"
#include "session.h"

#include "app/application.h"
#include "client/dbclient.h"
#include "client/query.h"
#include "main/tfmain.h"

#include <QComboBox>
#include <QStringListModel>

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
        // Where the time goes: the query and the walk alone, then the pickers
        // filled item by item as the list does, then filled in one call each.
        const double q0 = bench::nowSec();
        QStringList names;
        w.q->close();
        w.q->setLines({QStringLiteral("select name from master..sysdatabases order by name")});
        w.q->open();
        const double q1 = bench::nowSec();
        while (!w.q->eof()) {
            names << w.q->fieldByName(QStringLiteral("name"));
            w.q->next();
        }
        w.q->close();
        const double q2 = bench::nowSec();
        {
            QComboBox probes[4];
            for (QComboBox &cb : probes)
                cb.setEditable(true);
            const double a0 = bench::nowSec();
            for (const QString &n : names)
                for (QComboBox &cb : probes) {
                    cb.addItem(n);
                    if (cb.currentIndex() != -1)
                        cb.setCurrentIndex(-1);
                }
            const double a1 = bench::nowSec();
            bench::report("step_additem_s", a1 - a0);
        }
        {
            QComboBox probes[4];
            for (QComboBox &cb : probes)
                cb.setEditable(true);
            const double a0 = bench::nowSec();
            for (QComboBox &cb : probes) {
                cb.addItems(names);
                cb.setCurrentIndex(-1);
            }
            const double a1 = bench::nowSec();
            bench::report("step_additems_s", a1 - a0);
        }
        {
            // One list model shared by the four pickers, refilled as a refresh would.
            QStringListModel shared(names);
            QComboBox probes[4];
            for (QComboBox &cb : probes) {
                cb.setEditable(true);
                cb.setModel(&shared);
                cb.setCurrentIndex(-1);
            }
            const double a0 = bench::nowSec();
            shared.setStringList(names);
            for (QComboBox &cb : probes)
                cb.setCurrentIndex(-1);
            const double a1 = bench::nowSec();
            bench::report("step_sharedmodel_s", a1 - a0);
        }
        bench::report("step_open_s", q1 - q0);
        bench::report("step_walk_s", q2 - q1);

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
