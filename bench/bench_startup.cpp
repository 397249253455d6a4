// dv_bench_startup: the program's own start-up (theme, translations, title,
// TFMAIN maximised) until the window has been painted, then, with a server
// given, the resident memory of the idle window after logging in.
//
//   dv_bench_startup [--server H,P --user U --password P]
#include "benchutil.h"
#include "session.h"
#include "startupprobe.h"

#include "app/application.h"
#include "connection/dbclient.h"
#include "main/tfmain.h"

#include <cstdio>

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    const bench::Args args = bench::parseArgs(argc, argv);
    bench::prepareApplication(app);
    TFMAIN FMAIN(dv::makeOdbcConnection());
    int rc = 0;
    bench::StartupProbe probe(&FMAIN, [&] {
        bench::report("shown_rss_kb", bench::rssKb());
        if (!args.server.isEmpty()) {
            try {
                bench::login(FMAIN, args);
            } catch (const std::exception &e) {
                std::fprintf(stderr, "dv_bench_startup: %s\n", e.what());
                rc = 1;
            }
            bench::processEventsFor(1.0);
            bench::report("idle_rss_kb", bench::rssKb());
        }
        QApplication::quit();
    });
    FMAIN.showMaximized();
    app.exec();
    return rc ? rc : bench::checkBoxes();
}
