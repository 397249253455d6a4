// Leaks on purpose from a slot that Qt invokes (a queued call through the
// event loop, so every frame of the allocation's stack below the slot is
// QtCore's), the way a leak in a test slot or an event handler would happen.
// leakcanary.sh runs it and expects LeakSanitizer to report the leak: a
// suppression that matches any QtCore frame would hide it, and every leak of
// ours with it.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

char *volatile g_sink = nullptr;

class Leaker : public QObject {
    Q_OBJECT
public slots:
    void leakFromSlot()
    {
        // 77 bytes nobody frees; the pointer is dropped so the leak is direct.
        char *p = new char[77];
        std::memset(p, 'x', 77);
        g_sink = p;
        g_sink = nullptr;
        std::puts("leaked 77 bytes in Leaker::leakFromSlot");
        QCoreApplication::quit();
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Leaker leaker;
    QMetaObject::invokeMethod(&leaker, &Leaker::leakFromSlot, Qt::QueuedConnection);
    QTimer::singleShot(30000, &app, [] { QCoreApplication::exit(2); });
    return app.exec();
}

#include "leakcanary.moc"
