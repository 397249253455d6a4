// dv_bench_emptywindow: the baseline for start-up and memory, a minimal Qt
// Widgets program that shows an empty maximised QMainWindow.
#include "benchutil.h"
#include "startupprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>

int main(int argc, char **argv)
{
    const double m0 = bench::nowSec();
    QApplication app(argc, argv);
    const double m1 = bench::nowSec();
    QMainWindow w;
    bench::report("phase_application_ms", (m1 - m0) * 1000);
    bench::StartupProbe probe(&w, [&] {
        bench::report("phase_show_to_painted_ms", (bench::nowSec() - m1) * 1000);
        bench::report("shown_rss_kb", bench::rssKb());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        bench::report("idle_rss_kb", bench::rssKb());
        QApplication::quit();
    });
    w.showMaximized();
    return app.exec();
}
