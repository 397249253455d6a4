// Reports when a top-level widget has first been painted and flushed:
// "RESULT shown_ns <CLOCK_MONOTONIC>" (dv_bench_exec turns it into the time
// since the process was started), then runs `then`.
#pragma once

#include "benchutil.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace bench {

class StartupProbe : public QObject {
public:
    StartupProbe(QWidget *w, std::function<void()> then) : m_then(std::move(then)) { w->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            watched->removeEventFilter(this);
            // A zero timer fires after this paint and the flush to the screen.
            QTimer::singleShot(0, this, [this] {
                std::printf("RESULT shown_ns %lld\n", static_cast<long long>(monotonicNs()));
                std::fflush(stdout);
                m_then();
            });
        }
        return false;
    }

private:
    std::function<void()> m_then;
    bool m_seen = false;
};

} // namespace bench
