// The database client layer: one connection to a SQL Server instance and the
// statements sent over it. The window talks only to these interfaces; the ODBC
// implementation (odbcclient.h) lives behind them, and tests may substitute an
// in-process fake.
#pragma once

#include "core/connectparams.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <exception>
#include <memory>

namespace dv {

class ResultSet;

// An error reported by the server or the client library. message() is the
// server's own text with the driver's "[vendor][component]" prefixes removed;
// several diagnostic records are joined with "\n".
class DbError : public std::exception {
public:
    DbError(QString message, QString sqlState = {}, int nativeError = 0);
    const QString &message() const { return m_message; }
    const QString &sqlState() const { return m_sqlState; }
    int nativeError() const { return m_nativeError; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QString m_sqlState;
    int m_nativeError = 0;
    QByteArray m_utf8;
};

// One batch sent to the server. `text` is sent as it stands (after the
// parameter-marker rewrite done by Query). `markerCount` markers ("?") are in
// the text; `params` holds the values bound to the first params.size() of them.
// A marker without a value makes the run fail with a DbError.
struct Statement {
    QString text;
    int markerCount = 0;
    QVector<QVariant> params;
    int timeoutSec = 30; // 0 = no time-out
    bool allResults = false; // open(): keep every result that has columns, not only the first
};

struct RunResult {
    std::shared_ptr<ResultSet> rows; // Open: the first result that has columns
    qint64 rowsAffected = -1;        // sum of the counts the server reported, -1 if none
    // Open with Statement::allResults: every result that has columns, in order.
    QVector<std::shared_ptr<ResultSet>> results;
};

class Connection {
public:
    virtual ~Connection() = default;

    // Opens the connection; never prompts. Throws DbError on any failure
    // (refused login, unreachable server, login time-out).
    virtual void open(const ConnectParams &params) = 0;
    // True from a successful open() until close(), and only those two change
    // it: a link the driver reports lost keeps it true (the window stays
    // logged in until the operator logs out), and every later statement then
    // fails with a DbError of state 08S01 without waiting for the network.
    virtual bool isConnected() const = 0;
    // Closing a closed connection does nothing. Never throws.
    virtual void close() = 0;

    // Execute: sends the batch in one call and drains every result; any error
    // in any statement of the batch throws DbError (after draining).
    virtual RunResult execute(const Statement &st) = 0;
    // Open: as execute, but keeps the first result that has columns (zero rows
    // is still a result), fully fetched into the client. Throws DbError with
    // "CommandText does not return a result set" (without a name prefix; Query
    // adds its own) when no result has columns.
    virtual RunResult open(const Statement &st) = 0;
    // The database the connection is in now, as the driver tracked it from
    // the server's reports (no round trip); "" when unknown or closed.
    virtual QString currentDatabase() const { return {}; }
};

// The one text the open failure carries, without the query object's prefix.
inline constexpr const char *kNoResultSetText = "CommandText does not return a result set";

} // namespace dv

namespace dv {
// The ODBC implementation (odbcclient.cpp).
std::unique_ptr<Connection> makeOdbcConnection();
} // namespace dv
