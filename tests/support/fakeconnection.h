// An in-process Connection for unit tests: records every statement and
// answers through a scriptable handler.
#pragma once

#include "client/dbclient.h"
#include "client/resultset.h"

#include <QStringList>

#include <functional>

namespace dvtest {

class FakeConnection : public dv::Connection {
public:
    struct Call {
        bool open; // true for open(), false for execute()
        dv::Statement statement;
    };

    // Answers a statement; may throw dv::DbError. The default handler answers
    // the catalogue query with `databases` and everything else with success.
    std::function<dv::RunResult(const dv::Statement &, bool open)> handler;

    QStringList databases{QStringLiteral("master"), QStringLiteral("model"), QStringLiteral("msdb"),
                          QStringLiteral("tempdb")};
    QList<Call> calls;
    QList<dv::ConnectParams> opens; // every open() attempt
    bool failOpen = false;

    void open(const dv::ConnectParams &p) override;
    bool isConnected() const override { return m_connected; }
    void close() override
    {
        m_connected = false;
        m_linkLost = false;
    }
    // The link to the server breaks as the driver reports it: the connection
    // stays open until closed, and every statement fails with 08S01.
    void dropLink() { m_linkLost = true; }
    dv::RunResult execute(const dv::Statement &st) override;
    dv::RunResult open(const dv::Statement &st) override;

    // A one-column result set of texts.
    static std::shared_ptr<dv::ResultSet> textResult(const QString &column, const QStringList &values);
    // The statements' texts, in order.
    QStringList texts() const;

private:
    dv::RunResult answer(const dv::Statement &st, bool open);
    bool m_connected = false;
    bool m_linkLost = false;
};

} // namespace dvtest
