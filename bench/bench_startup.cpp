// dv_bench_startup: the program's own start-up (theme, translations, title,
// TFMAIN maximised) until the window has been painted, then, with a server
// given, the resident memory of the idle window after logging in.
//
//   dv_bench_startup [--server H,P --user U --password P]
#include "benchutil.h"
#include "session.h"
#include "startupprobe.h"

#include "app/application.h"
#include "client/dbclient.h"
#include "main/tfmain.h"

#include <cstdio>

int main(int argc, char **argv)
{
    const double m0 = bench::nowSec();
    dv::Application app(argc, argv);
    const double m1 = bench::nowSec();
    const bench::Args args = bench::parseArgs(argc, argv);
    bench::prepareApplication(app);
    const double m2 = bench::nowSec();
    TFMAIN FMAIN(dv::makeOdbcConnection());
    const double m3 = bench::nowSec();
    // Phases inside the process (from main(), so without loading and linking).
    bench::report("phase_application_ms", (m1 - m0) * 1000);
    bench::report("phase_theme_translations_ms", (m2 - m1) * 1000);
    bench::report("phase_window_ctor_ms", (m3 - m2) * 1000);
    int rc = 0;
    bench::StartupProbe probe(&FMAIN, [&] {
        bench::report("phase_show_to_painted_ms", (bench::nowSec() - m3) * 1000);
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
