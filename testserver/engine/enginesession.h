// One client session: its current database connection, variables and options.
#pragma once

#include "engine/engineinternal.h"
#include "tsql/sqllexer.h"

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <map>
#include <set>

namespace ts {

struct BackupSet;

// Holds what a statement reports while it runs under the engine lock, and
// passes it on afterwards, so that a slow client never holds up other sessions.
class BufferedSink : public ResultSink {
public:
    explicit BufferedSink(ResultSink &target) : m_target(target) {}
    void columns(const std::vector<ColumnDef> &c) override { m_events.push_back([c](ResultSink &s) { s.columns(c); }); }
    void row(const std::vector<Value> &v) override { m_events.push_back([v](ResultSink &s) { s.row(v); }); }
    void message(const Message &m) override { m_events.push_back([m](ResultSink &s) { s.message(m); }); }
    void done(DoneKind k, bool e, bool h, uint64_t c) override { m_events.push_back([=](ResultSink &s) { s.done(k, e, h, c); }); }
    void databaseChanged(const std::string &o, const std::string &n) override
    {
        m_events.push_back([o, n](ResultSink &s) { s.databaseChanged(o, n); });
    }
    void returnStatus(int32_t st) override { m_events.push_back([st](ResultSink &s) { s.returnStatus(st); }); }
    bool cancelled() const override { return m_target.cancelled(); }
    void replay()
    {
        for (auto &e : m_events) e(m_target);
        m_events.clear();
    }

private:
    ResultSink &m_target;
    std::vector<std::function<void(ResultSink &)>> m_events;
};

class SessionImpl : public Session, public TranslateContext {
public:
    SessionImpl(Engine::Impl *engine, std::string user, int spid);
    ~SessionImpl() override;

    bool open(const DbInfo &db, std::string *error); // caller holds engine->mu
    void executeBatch(const std::string &sql, ResultSink &sink) override;
    void executeRpc(const RpcCall &call, ResultSink &sink) override;
    std::string currentDatabase() const override;

    // TranslateContext
    std::string schemaFor(const std::string &db) override;
    std::optional<TableMeta> table(const std::string &schema, const std::string &name) override;
    Value variable(const std::string &lowerName, bool *found) override;
    ColumnMeta variableType(const std::string &lowerName) override;
    Value systemValue(const std::string &upperName) override;
    bool identityInsert(const std::string &table) override;
    std::string defaultSchema() override;
    bool schemaExists(const std::string &dbSchema, const std::string &name) override;
    std::string objectType(const std::string &dbSchema, const std::string &internal) override;
    std::optional<AliasType> aliasType(const std::string &schema, const std::string &name) override;
    std::string localTempName(const std::string &name) override;
    std::optional<TableMeta> tableVariable(const std::string &lowerName, std::string *sqlName) override;
    bool pseudoTable(const std::string &lowerName, std::string *sqlName) override;

    // Called by the capture triggers while a statement with T-SQL triggers runs:
    // rowid [, old values] of each row it touches.
    void capture(bool inserted, int argc, sqlite3_value **argv);

    // Databases this session's connection has attached for three-part names
    // (lower-case names); guarded by engine->mu.
    std::set<std::string> attachedDbs;
    std::string dbName;        // guarded by engine->mu for writers

    enum class Flow { Next, Abort, Cancelled, Return };

private:
    struct Run {
        ResultSink &sink;
        const std::vector<Token> &toks;
        DoneKind done;
        bool anyDone = false;
        bool anyError = false;
        bool rpc = false;       // called as an RPC request, not from a batch
    };
    // One system procedure call: its arguments, found by name or position,
    // and the messages, return status and DONEPROC it ends with.
    struct ProcCall {
        SessionImpl &session;
        const std::string &proc;
        const std::vector<std::pair<std::string, Value>> &args;
        Run &r;
        int line;
        bool failed = false;
        // The argument passed as `name` or else unnamed at `pos`; nullopt when absent or NULL.
        std::optional<std::string> arg(size_t pos, const char *name) const;
        // Sends a message from the procedure; severity above 10 makes the call fail.
        void error(int number, int severity, const std::string &text, int state = 1);
        // Return status 0 or 1 and the closing DONEPROC.
        Flow finish();
        // Error 201 for a required parameter left out, then finish().
        Flow missing(const char *param);
    };
    void runBatch(const std::string &sql, ResultSink &sink, DoneKind done, bool *hadError);
    Flow run(const Stmt &s, Run &r);
    template <typename F> Flow buffered(Run &r, F fn);
    Flow runSql(const Stmt &s, Run &r);
    // Pieces of statement execution (engineexec.cpp).
    template <typename F> Flow guarded(const Stmt &s, Run &r, F fn);
    Flow runIfWhile(const Stmt &s, Run &r);
    Flow runDeclare(const Stmt &s, Run &r);
    Flow runSetVar(const Stmt &s, Run &r);
    Flow runSetOption(const Stmt &s, Run &r);
    Value compoundValue(const Stmt &s, const std::vector<Token> &toks);
    Flow runPrint(const Stmt &s, Run &r);
    Flow failStatement(const std::string &msg, const Translation &tr, const Stmt &s, Run &r);
    std::optional<Flow> runTriggered(const Stmt &s, const Translation &tr, Run &r);
    bool runBookkeeping(const Translation &tr, std::string *msg);
    Flow runChange(sqlite3_stmt *st, const Translation &tr, const Stmt &s, Run &r, bool multi);
    Flow runQuery(sqlite3_stmt *st, const Translation &tr, Run &r, int line);
    Flow runOutput(sqlite3_stmt *st, const Translation &tr, Run &r, int line);
    bool insertOutputRows(const Translation &tr, const std::vector<std::vector<Value>> &rows, std::string *error);
    struct OldRows {
        OldRows(SessionImpl *session, const Translation &tr);
        ~OldRows();
        OldRows(const OldRows &) = delete;
        OldRows &operator=(const OldRows &) = delete;
        SessionImpl *s = nullptr;
    };
    static Value outputValue(const Value &v, const ColumnDef &def);
    static Value temporalValue(const std::string &stored, const ColumnDef &def);
    Flow runExec(const Stmt &s, Run &r);
    Flow runProc(const std::string &name, const std::vector<std::pair<std::string, Value>> &args, Run &r, int line);
    Flow runUse(const Stmt &s, Run &r);
    Flow runCreateDatabase(const Stmt &s, Run &r);
    Flow runDropDatabase(const Stmt &s, Run &r);
    Flow runBackup(const Stmt &s, Run &r);
    Flow runRestore(const Stmt &s, Run &r);
    // Pieces of the administration statements and procedures (engineadmin.cpp).
    bool writeDatabaseFiles(const DbInfo &info, std::string *error);
    Flow sendBackupHeaders(const Stmt &s, const std::vector<BackupSet> &sets, Run &r);
    Flow sendBackupFileList(const BackupSet &set, Run &r);
    Flow procAddDumpDevice(ProcCall &call);
    Flow procDropDevice(ProcCall &call);
    Flow procDetachDb(ProcCall &call);
    Flow procAttachDb(ProcCall &call);
    Flow runShrink(const Stmt &s, Run &r);
    Flow runNoLog(const Stmt &s, Run &r);
    Flow runWaitfor(const Stmt &s, Run &r);
    Flow runRaiserror(const Stmt &s, Run &r);
    // Catalogue procedures and informational DBCC commands (enginecatalogprocs.cpp).
    static bool isCatalogProc(const std::string &proc);
    Flow runCatalogProc(const std::string &proc, const std::vector<std::pair<std::string, Value>> &args, Run &r, int line);
    Flow runDbccInfo(const Stmt &s, Run &r);
    std::vector<std::vector<std::optional<std::string>>> catalogRows(const std::string &sql, const std::vector<Value> &params);
    ColumnMeta declaredType(const ColumnMeta &meta);
    // A catalogue procedure call with one handler per procedure, and a DBCC
    // command with one per command; defined where they are implemented.
    struct CatalogProc;
    struct DbccCommand;
    // Table variables and SELECT ... INTO (enginequery.cpp).
    Flow runDeclareTable(const Stmt &s, Run &r);
    Flow runSelectInto(const Stmt &s, const Translation &tr, Run &r);
    // Drops the table variables declared since `keep` was taken.
    void dropTableVariables(const std::map<std::string, std::pair<std::string, TableMeta>> &keep);

    // Evaluates an expression range; throws SqlError.
    Value eval(const std::vector<Token> &toks, size_t begin, size_t end, bool variant = false);
    // eval() of a value assigned to a variable of type `target` (257 for a sql_variant going elsewhere).
    Value evalAssigned(const std::vector<Token> &toks, size_t begin, size_t end, const ColumnMeta &target);
    bool prepare(const std::string &sql, const std::vector<Value> &params, sqlite3_stmt **st, std::string *error);
    SqlError mapSqliteError(const std::string &msg, const Translation &tr);
    void report(Run &r, const SqlError &e, int line);
    void message(Run &r, int number, int severity, const std::string &text, int line, int state = 1,
                 const std::string &procedure = {});
    void done(Run &r, bool error, bool hasCount, uint64_t count);
    void detachAll();
    bool execSimple(const std::string &sql, std::string *error = nullptr);
    // `types`: the types the translator gave the result columns (their numeric types count here).
    ColumnDef describe(sqlite3_stmt *st, int col, std::map<std::string, std::optional<TableMeta>> &metaCache,
                       const std::vector<Translation::ResultType> *types = nullptr);
    // Columns that are typed calls (Translation::ResultType::call) take the call's type.
    static void applyResultTypes(sqlite3_stmt *st, const std::vector<Translation::ResultType> &types,
                                 std::vector<ColumnDef> &cols);
    Value toValue(sqlite3_stmt *st, int col, const ColumnDef &def);
    void setVariable(const std::string &name, const Value &v);
    std::vector<std::pair<std::string, Value>> procArgs(const Stmt &s, const std::vector<Token> &toks);
    static bool truthyValue(const Value &v);
    static std::string valueText(const Value &v);
    static Value columnValue(sqlite3_stmt *st, int col);
    // First column of the first row of a query with text parameters; nullopt when no row.
    std::optional<std::string> lookup(const std::string &sql, const std::vector<std::string> &args);

    Engine::Impl *m_engine;
    std::string m_user;
    std::string m_hostName, m_appName; // from the login
    void setClientNames(const std::string &host, const std::string &app) override
    {
        m_hostName = host;
        m_appName = app;
    }
    int m_spid;
    sqlite3 *m_conn = nullptr;
    ResultSink *m_sink = nullptr;   // for the progress handler (attention)
    std::map<std::string, std::pair<ColumnMeta, Value>> m_vars;
    // Table variables of the running batch: name -> (SQLite table in temp, columns).
    std::map<std::string, std::pair<std::string, TableMeta>> m_tableVars;
    int m_tableVarSeq = 0;
    bool m_nocount = false;
    // SET DATEFIRST, SET LANGUAGE and SET DATEFORMAT (us_english's by default).
    int m_dateFirst = 7;
    std::string m_language = "us_english";
    std::string m_dateFormat = "mdy";
    Flow runSetDateOption(const Stmt &s, Run &r);
    bool m_browseTables = false;   // SET NO_BROWSETABLE ON: report base tables of result columns
    bool m_usedTemp = false;       // named a #table: drop this session's #tables at the end
    int64_t m_rowcount = 0;
    Value m_identity;
    int m_error = 0;
    int m_trancount = 0;
    bool m_txnOpen = false;        // SQLite transaction begun (after the first statement's ATTACHes)
    std::string m_identityInsert;  // table with IDENTITY_INSERT ON
    std::string m_tranName;        // name given to the outermost BEGIN TRAN
    // SAVE TRAN names, oldest first; false until the SQLite transaction is
    // open (a savepoint taken before any work marks the transaction's start).
    std::vector<std::pair<std::string, bool>> m_savepoints;
    void openTransaction();        // BEGIN in SQLite once a statement needs it
    void endTransaction(bool commit);
    std::string tranNameOf(const Stmt &s);
    Flow runTransaction(const Stmt &s, Run &r);

    // Triggers (enginetriggers.cpp).
    struct TriggerDef {
        std::string name, body;
        bool insteadOf = false;
    };
    struct Firing {
        std::string table;       // schema.internal name of the table whose trigger runs
        bool insteadOf = false;
        std::string inserted, deleted; // SQLite tables in temp
        TableMeta meta;
    };
    Flow runTriggerDdl(const Stmt &s, Run &r);
    // MERGE (enginemerge.cpp).
    Flow runMerge(const Stmt &s, Run &r);
    bool mergePrepare(const MergePlan &p, std::string *err, bool *duplicate);
    bool mergeExec(const std::string &sql, const std::vector<Value> &params, std::string *err);
    Flow mergeAction(const Stmt &s, const MergePlan &p, size_t clause, Run &r, int64_t *rows, std::string *err);
    Flow mergeOutput(const MergePlan &p, Run &r, int line);
    bool mergeTriggered(const MergePlan &p, Run &r, int line);
    void mergeCleanup();
    Flow runViewDdl(const Stmt &s, Run &r);
    struct ViewDdl; // one view statement's steps (engineviews.cpp)
    // Enabled triggers of `table` for `verb`, as they fire from the running
    // trigger (no direct recursion; INSTEAD OF not again from its own body).
    std::vector<TriggerDef> triggersFor(const std::string &schema, const std::string &table, const std::string &verb,
                                        bool *anyEnabled);
    Flow runWithTriggers(const Stmt &s, const Translation &tr, const std::vector<TriggerDef> &triggers, Run &r);
    // Pieces of a statement run with triggers (enginetriggers.cpp).
    int runCaptured(const Translation &tr, const TableMeta &meta, const std::string &target, const std::string &level,
                    bool insteadOf, int64_t *rows, std::string *err);
    bool insteadOfOutput(const Translation &tr, std::string *err);
    std::vector<std::vector<Value>> m_insteadOutput; // OUTPUT ... INTO rows of a statement an INSTEAD OF trigger replaces
    void takeCapturedRows(const std::string &target, const TableMeta &meta, std::vector<std::vector<Value>> &inserted,
                          std::vector<std::vector<Value>> &deleted);
    Firing createPseudoTables(const Translation &tr, const TableMeta &meta, bool insteadOf, const std::string &level,
                              const std::vector<std::vector<Value>> &inserted, const std::vector<std::vector<Value>> &deleted);
    void dropPseudoTables(const Firing &firing);
    Flow fireTriggers(const std::vector<TriggerDef> &triggers, const Firing &firing, Run &r, bool *failed);
    Flow runTriggerBody(const TriggerDef &t, Run &r);
    std::string resolveOwner(const std::string &schema, const std::string &name);
    std::vector<Firing> m_firing;
    std::vector<std::pair<int64_t, std::vector<Value>>> m_capInserted, m_capDeleted;
    int m_nestLevel = 0;
    Value m_scopeIdentity;         // SCOPE_IDENTITY(): not changed by a trigger's inserts
    bool m_stmtFailed = false;     // a statement failed since the flag was cleared
    Flow runThrow(const Stmt &s, Run &r);

    // TRY ... CATCH, XACT_ABORT and doomed transactions (enginetry.cpp).
    Flow dispatch(const Stmt &s, Run &r);
    Flow runGuarded(const Stmt &s, Run &r);
    Flow runTryCatch(const Stmt &s, Run &r);
    // Whether a TRY block takes the error `m` instead of the client (sets @@ERROR either way).
    bool trapError(const Message &m);
    std::optional<Value> errorValue(const std::string &upperName) const;
    bool refuseInDoomed(Run &r, int line);
    void endDoomedBatch(Run &r);
    std::vector<int> m_tryLevels;    // TRY blocks running: the batch nesting level of each
    int m_execLevel = 0;             // batches running: 1 the client's, more inside EXEC (string) / sp_executesql
    std::optional<Message> m_caught; // the error that ends the innermost TRY block
    std::vector<Message> m_catchErrors; // errors of the CATCH blocks running, innermost last
    int m_errorCount = 0;            // errors raised so far (to tell a statement that failed)
    bool m_failedOutsideTry = false; // the running statement raised an error no TRY caught
    bool m_xactAbort = false;        // SET XACT_ABORT ON
    bool m_doomed = false;           // the transaction can only be rolled back

    // Cursors (enginecursor.cpp), by "L:name", "G:name" (global) or "V:@var" (lower case).
    struct Cursor {
        std::string name;
        bool scroll = false;
        bool populated = false;         // STATIC, KEYSET, INSENSITIVE: a known row count
        bool open = false;
        std::vector<Token> toks;        // the SELECT, ended by an End token
        int line = 1;
        std::vector<ColumnDef> cols;
        std::vector<std::vector<Value>> rows; // read at OPEN
        int64_t pos = -1;               // current row; -1 before the first, rows.size() after the last
        bool readOnly = false;          // declared READ_ONLY, STATIC, FAST_FORWARD, INSENSITIVE ...
        std::string table;              // WHERE CURRENT OF: the one base table read ("" = none)
        std::vector<int64_t> rowids;    // its rowid of each row in `rows`
    };
    std::map<std::string, Cursor> m_cursors;
    int m_fetchStatus = -1;
    // @@CURSOR_ROWS: of the cursor opened last (-1 dynamic, n rows), 0 once it is closed or none was opened.
    int64_t m_cursorRows = 0;
    const Cursor *m_lastOpened = nullptr;
    // EXEC sp_executesql in a batch: the OUTPUT parameters' values at the end of the statement.
    std::map<std::string, Value> *m_rpcOutputs = nullptr;
    Cursor *findCursor(const Stmt &s);
    Flow cursorError(Run &r, const Stmt &s, int number, const std::string &text);
    std::string cursorMissing(const Stmt &s) const;
    Flow runDeclareCursor(const Stmt &s, Run &r);
    Flow runOpenCursor(const Stmt &s, Run &r);
    bool fetchTarget(const Stmt &s, Run &r, const Cursor &c, int64_t &target);
    Flow runFetch(const Stmt &s, Run &r);
    Flow runCloseDeallocate(const Stmt &s, Run &r);
    void endBatchCursors();
    std::map<std::string, Cursor> takeLocalCursors();
    Value cursorStatus(const std::string &scope, const std::string &name) const;
    void cursorRowids(Cursor &c);
    int64_t cursorCurrentRow(const std::string &cursor, bool global, bool variable, const std::string &table) override;
};

} // namespace ts
