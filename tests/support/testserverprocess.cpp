#include "testserverprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace dvtest {

TestServerProcess::TestServerProcess() : m_password(QStringLiteral("Dorvane-Test;{pw}=1"))
{
    QDir().mkpath(dataDir());
    QDir().mkpath(filesDir());
}

TestServerProcess::~TestServerProcess() { stop(); }

bool TestServerProcess::start(const QStringList &extraArgs)
{
    stop();
    m_lastArgs = extraArgs;
    m_proc = std::make_unique<QProcess>();
    m_proc->setProcessChannelMode(QProcess::SeparateChannels);
    QStringList args{QStringLiteral("--port"), QStringLiteral("0"),
                     QStringLiteral("--data-dir"), dataDir(),
                     QStringLiteral("--trace"), tracePath(),
                     QStringLiteral("--login"), user() + QLatin1Char(':') + m_password};
    args += extraArgs;
    m_proc->start(QStringLiteral(DV_TESTSERVER_EXE), args);
    if (!m_proc->waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start test server: ") + m_proc->errorString();
        return false;
    }
    // The first line on stdout is the port.
    QElapsedTimer t;
    t.start();
    QByteArray line;
    while (t.elapsed() < 15000) {
        if (m_proc->canReadLine()) {
            line = m_proc->readLine().trimmed();
            break;
        }
        if (m_proc->state() != QProcess::Running)
            break;
        m_proc->waitForReadyRead(200);
    }
    bool ok = false;
    m_port = line.toInt(&ok);
    if (!ok || m_port <= 0) {
        m_error = QStringLiteral("test server printed no port: ") + QString::fromUtf8(line)
                  + QString::fromUtf8(m_proc->readAllStandardError());
        return false;
    }
    return true;
}

void TestServerProcess::stop()
{
    if (!m_proc)
        return;
    if (m_proc->state() != QProcess::NotRunning) {
        m_proc->terminate();
        if (!m_proc->waitForFinished(5000)) {
            m_proc->kill();
            m_proc->waitForFinished(5000);
        }
    }
    m_proc.reset();
}

void TestServerProcess::kill()
{
    if (!m_proc)
        return;
    m_proc->kill();
    m_proc->waitForFinished(5000);
    m_proc.reset();
}

bool TestServerProcess::restart(const QStringList &extraArgs)
{
    stop();
    return start(extraArgs.isEmpty() ? m_lastArgs : extraArgs);
}

QString TestServerProcess::trace() const
{
    QFile f(tracePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace dvtest
