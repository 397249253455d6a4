// The SQL side of the test server: catalogue, databases on disk (SQLite files),
// administration statements and user SQL. The TDS side (tds*.cpp) turns what
// a Session reports to its ResultSink into tokens on the wire.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ts {

// SQL Server column types the server sends.
enum class SqlType {
    Int, BigInt, SmallInt, TinyInt, Bit, Float, Real, Decimal, Numeric, Money, SmallMoney,
    DateTime, Date, NVarChar, VarChar, NChar, Char, VarBinary,
    DateTime2, Time, DateTimeOffset,  // scale = fractional second digits (0-7)
    UniqueIdentifier                  // text "6F9619FF-8B86-D011-B42D-00C04FC964FF"
};

struct ColumnDef {
    std::string name;       // UTF-8
    SqlType type = SqlType::Int;
    int length = 0;         // characters for (n)(var)char, bytes for varbinary; -1 = max
    int precision = 0;      // decimal/numeric
    int scale = 0;
    bool nullable = true;
    bool identity = false;
    bool updateable = false;
    // Browse-mode base table of this column (sent as TABNAME/COLINFO when the
    // session asked for them with SET NO_BROWSETABLE ON); empty = expression.
    std::string baseTable;  // e.g. "dbo.t"
    std::string baseColumn;
    bool key = false;       // part of the base table's primary key
};

// The T-SQL type of a column as written in DDL: "int", "nvarchar(20)",
// "decimal(10,2)", "varbinary(max)" ...
std::string sqlTypeName(const ColumnDef &c);

// A uniqueidentifier written as text: 36 hex digits and dashes, optionally in
// braces, any case. `canonical` gets the upper-case form without braces.
bool parseGuid(const std::string &text, std::string &canonical);

// One value of a row. Text holds UTF-8 text, decimal text ("-12.50") or a
// date/time as "YYYY-MM-DD[ HH:MM:SS[.mmm]]"; Blob holds raw bytes.
struct Value {
    enum Kind { Null, Int, Float, Text, Blob } kind = Null;
    int64_t i = 0;
    double d = 0;
    std::string s;

    static Value null() { return {}; }
    static Value integer(int64_t v) { Value x; x.kind = Int; x.i = v; return x; }
    static Value real(double v) { Value x; x.kind = Float; x.d = v; return x; }
    static Value text(std::string v) { Value x; x.kind = Text; x.s = std::move(v); return x; }
    static Value blob(std::string v) { Value x; x.kind = Blob; x.s = std::move(v); return x; }
};

// An ERROR (severity > 10) or INFO (severity <= 10) message.
struct Message {
    int number = 0;
    int state = 1;
    int severity = 16;
    std::string text;       // UTF-8
    std::string procedure;  // empty outside procedures
    int line = 1;
};

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
};

} // namespace ts
