// Starts dorvane-testserver on a free loopback port with its own data folder
// and trace file, for tests that go through the real ODBC driver.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace dvtest {

class TestServerProcess {
public:
    TestServerProcess();
    ~TestServerProcess();

    // Starts the server (extra arguments such as "--compat", "2000" are added);
    // returns false and fills error() when it did not come up.
    bool start(const QStringList &extraArgs = {});
    // Stops it (SIGTERM, then kill); the data folder stays for a restart.
    void stop();
    // Kills it at once (SIGKILL).
    void kill();
    // Stops and starts again on a new port with the same data folder.
    bool restart(const QStringList &extraArgs = {});

    int port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); } // "127.0.0.1,PORT"
    QString user() const { return QStringLiteral("sa"); }
    QString password() const { return m_password; }
    QString dataDir() const { return m_dir.path() + QStringLiteral("/data"); }
    QString filesDir() const { return m_dir.path() + QStringLiteral("/files"); } // for database/backup files
    QString tracePath() const { return m_dir.path() + QStringLiteral("/trace.log"); }
    QString trace() const; // the trace file's contents
    QString error() const { return m_error; }
    QProcess *process() const { return m_proc.get(); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_proc;
    int m_port = 0;
    QString m_password;
    QString m_error;
    QStringList m_lastArgs;
};

} // namespace dvtest
