// The SQL side of the test server: catalogue, databases on disk (SQLite files),
// administration statements and user SQL. The TDS side (tds*.cpp) turns what
// a Session reports to its ResultSink into tokens on the wire.
#pragma once

#include "base/values.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ts {

enum class DoneKind { Done, DoneInProc, DoneProc };

// Receives what a batch or RPC produces, in order. The TDS layer sets the
// DONE_MORE bit itself on all but the last DONE of a response.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void columns(const std::vector<ColumnDef> &cols) = 0;
    virtual void row(const std::vector<Value> &values) = 0;
    virtual void message(const Message &m) = 0;
    // error: DONE_ERROR; hasCount/count: DONE_COUNT and the row count.
    virtual void done(DoneKind kind, bool error, bool hasCount, uint64_t count) = 0;
    virtual void databaseChanged(const std::string &oldDb, const std::string &newDb) = 0;
    virtual void returnStatus(int32_t status) = 0;
    // True once the client sent attention: stop at the next opportunity.
    virtual bool cancelled() const = 0;
    // The final value of an RPC parameter the client marked as output
    // (reported before returnStatus); sinks that send no RPC reply ignore it.
    virtual void outputValue(const std::string & /*name*/, const Value & /*value*/) {}
};

// A typed parameter of an RPC call (sp_executesql's @P1..., or a procedure's).
struct RpcParam {
    std::string name;   // "@P1" or "" when sent unnamed
    ColumnDef type;
    Value value;
    bool output = false;
};

struct RpcCall {
    std::string procName; // "sp_executesql", "sp_prepexec", ... (ids mapped to names)
    std::vector<RpcParam> params;
};

struct EngineOptions {
    std::string dataDir;        // catalogue and system databases live here
    bool compat2000 = false;    // accept DUMP TRANSACTION / BACKUP LOG ... WITH NO_LOG
    std::string serverName = "DORVANE-TS"; // @@SERVERNAME, ERROR token server name
    // Fault switch: @@ROWCOUNT reads 0 after an INSERT/UPDATE/DELETE with an
    // OUTPUT clause, as one SQL Server-compatible server was seen to leave it.
    bool rowcountZeroAfterOutput = false;
};

class Session;

class Engine {
public:
    explicit Engine(EngineOptions opts);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Loads or creates the catalogue under dataDir; false with `error` set
    // when it cannot.
    bool start(std::string *error);

    // A session for a logged-in user, in `database` ("" = master). Returns
    // null and fills `err` (e.g. 4060) when the database cannot be opened.
    std::unique_ptr<Session> openSession(const std::string &user, const std::string &database,
                                         int spid, Message *err);

    const EngineOptions &options() const;
    // A login made with CREATE LOGIN and its password; `name` gets the login's spelling.
    bool checkLogin(const std::string &user, const std::string &password, std::string *name);

    struct Impl;
private:
    std::unique_ptr<Impl> d;
};

class Session {
public:
    virtual ~Session() = default;
    // Runs one SQL batch (UTF-8 text exactly as received).
    virtual void executeBatch(const std::string &sql, ResultSink &sink) = 0;
    // Runs one RPC request.
    virtual void executeRpc(const RpcCall &call, ResultSink &sink) = 0;
    virtual std::string currentDatabase() const = 0;
    // The workstation and program the client named at login (HOST_NAME(), APP_NAME()).
    virtual void setClientNames(const std::string &host, const std::string &app) { (void)host; (void)app; }
};

} // namespace ts
