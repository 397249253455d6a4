// dv_bench_emptywindow: the baseline for start-up and memory, a minimal Qt
// Widgets program that shows an empty maximised QMainWindow.
#include "benchutil.h"
#include "startupprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow w;
    bench::StartupProbe probe(&w, [] {
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
