// The ODBC implementation of Connection (unixODBC with FreeTDS, or
// Microsoft's driver where installed). ODBC's own headers stay in the .cpp.
#pragma once

#include "dbclient.h"

#include <QStringList>

#include <memory>

namespace dv {

class OdbcConnection : public Connection {
public:
    OdbcConnection();
    ~OdbcConnection() override;
    OdbcConnection(const OdbcConnection &) = delete;
    OdbcConnection &operator=(const OdbcConnection &) = delete;

    void open(const ConnectParams &params) override;
    bool isConnected() const override;
    void close() override;
    RunResult execute(const Statement &st) override;
    RunResult open(const Statement &st) override;
    QString currentDatabase() const override;

    // The driver the last open() used ("" before the first).
    QString driverName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Names of the ODBC drivers registered with the driver manager.
QStringList installedOdbcDrivers();
// The driver to use among `installed`, by this system's preference
// (dv::chooseOdbcDriver in core/sqltext.h).
QString chooseOdbcDriver(const QStringList &installed);

} // namespace dv
