// Batch execution: statement flow, user SQL on SQLite, results to the sink.
#include "engine/enginesession.h"

#include "base/collation.h"

#include "base/decimal.h"
#include "base/variantvalue.h"
#include "engine/datetext.h"
#include "engine/enginefunctions.h"
#include "engine/enginenumbers.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

namespace ts {

void SessionImpl::executeBatch(const std::string &sql, ResultSink &sink)
{
    m_vars.clear(); // variables live for one batch
    m_tryLevels.clear();
    m_catchErrors.clear();
    m_caught.reset();
    bool err = false;
    const DateOrderScope dateOrder(&m_dateFormat);
    runBatch(sql, sink, DoneKind::Done, &err);
    // Variables, table variables and local cursors live for one batch.
    endBatchCursors();
    m_vars.clear();
    dropTableVariables({});
}

void SessionImpl::runBatch(const std::string &sql, ResultSink &sink, DoneKind doneKind, bool *hadError)
{
    struct Level {
        int &n;
        explicit Level(int &level) : n(level) { ++n; }
        ~Level() { --n; }
    } level(m_execLevel);
    ResultSink *savedSink = m_sink;
    m_sink = &sink;
    std::vector<Token> toks;
    size_t errPos = 0;
    Run r{sink, toks, doneKind};
    if (!tokenize(sql, toks, &errPos)) {
        std::string rest = sql.substr(errPos);
        if (!rest.empty() && (rest[0] == '\'' || rest[0] == 'N' || rest[0] == 'n')) {
            size_t q = rest.find('\'');
            std::string body = rest.substr(q + 1);
            int line = 1;
            for (size_t k = 0; k < errPos; ++k) if (sql[k] == '\n') ++line;
            message(r, 105, 15, "Unclosed quotation mark after the character string '" + body + "'.", line);
        } else {
            message(r, 113, 15, "Missing end comment mark '*/'.", 1);
        }
        done(r, true, false, 0);
        *hadError = true;
        m_sink = savedSink;
        return;
    }
    std::vector<Stmt> stmts;
    try {
        Translator t(toks, nullptr, m_engine->opts.compat2000);
        stmts = t.parseBatch();
    } catch (const SqlError &e) {
        // A syntax error anywhere stops the whole batch before anything runs.
        report(r, e, e.msg.line ? e.msg.line : 1);
        done(r, true, false, 0);
        *hadError = true;
        m_sink = savedSink;
        return;
    }
    for (const auto &s : stmts) {
        if (sink.cancelled()) break;
        Flow f = run(s, r);
        if (f != Flow::Next) break;
    }
    if (m_execLevel == 1) endDoomedBatch(r); // the client's batch, not a string it runs
    detachAll();
    if (!r.anyDone && !sink.cancelled()) done(r, false, false, 0);
    *hadError = r.anyError;
    m_sink = savedSink;
}

template <typename F>
SessionImpl::Flow SessionImpl::buffered(Run &r, F fn)
{
    BufferedSink buf(r.sink);
    Run br{buf, r.toks, r.done};
    br.rpc = r.rpc;
    Flow f = fn(br); // takes and releases the engine lock itself
    buf.replay();
    r.anyDone = r.anyDone || br.anyDone;
    r.anyError = r.anyError || br.anyError;
    return f;
}

// Runs `fn`; a SqlError it throws is reported as the statement's error.
template <typename F>
SessionImpl::Flow SessionImpl::guarded(const Stmt &s, Run &r, F fn)
{
    try {
        return fn();
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
}

// IF runs its first or second body once; WHILE its body as long as the
// condition holds.
SessionImpl::Flow SessionImpl::runIfWhile(const Stmt &s, Run &r)
{
    return guarded(s, r, [&]() -> Flow {
        int guard = 0;
        for (;;) {
            bool cond = truthyValue(eval(r.toks, s.condBegin, s.condEnd));
            detachAll();
            if (s.kind == Stmt::If) {
                if (cond) return run(s.body[0], r);
                if (s.body.size() > 1) return run(s.body[1], r);
                return Flow::Next;
            }
            if (!cond) return Flow::Next;
            Flow f = run(s.body[0], r);
            if (f != Flow::Next) return f;
            if (r.sink.cancelled()) return Flow::Cancelled;
            if (++guard > 10000000) return Flow::Next;
        }
    });
}

// A variable's type named an alias type the batch's syntax check could not look up: it is looked up now.
ColumnMeta SessionImpl::declaredType(const ColumnMeta &meta)
{
    if (meta.userType.empty() || meta.userTypeId) return meta;
    const size_t dot = meta.userType.find('.');
    const std::string schema = dot == std::string::npos ? std::string() : meta.userType.substr(0, dot);
    const std::string name = dot == std::string::npos ? meta.userType : meta.userType.substr(dot + 1);
    ColumnMeta m;
    std::optional<AliasType> alias = aliasType(schema, name);
    if (!alias || !parseTypeName(alias->decl, m))
        throw makeError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + name + ".", true);
    m.userType = alias->name;
    m.userTypeId = alias->userTypeId;
    return m;
}

SessionImpl::Flow SessionImpl::runDeclare(const Stmt &s, Run &r)
{
    return guarded(s, r, [&]() -> Flow {
        for (size_t k = 0; k < s.declares.size(); ++k) {
            const auto &[name, meta] = s.declares[k];
            if (m_vars.count(name) || m_tableVars.count(name))
                throw makeError(134, 15, "The variable name '" + name + "' has already been declared. Variable names must be unique within a query batch or stored procedure.", true);
            m_vars[name] = {declaredType(meta), Value::null()};
            if (s.declareInit[k].second)
                setVariable(name, evalAssigned(r.toks, s.declareInit[k].first, s.declareInit[k].second, m_vars[name].first));
        }
        return Flow::Next;
    });
}

SessionImpl::Flow SessionImpl::runSetVar(const Stmt &s, Run &r)
{
    return guarded(s, r, [&]() -> Flow {
        if (!m_vars.count(s.name))
            throw makeError(137, 15, "Must declare the scalar variable \"" + s.name + "\".", true);
        setVariable(s.name, s.text.empty() ? evalAssigned(r.toks, s.condBegin, s.condEnd, m_vars[s.name].first)
                                           : compoundValue(s, r.toks));
        m_rowcount = 1;
        done(r, false, false, 0);
        return Flow::Next;
    });
}

// SET @v op= expr: the value of @v op (expr).
Value SessionImpl::compoundValue(const Stmt &s, const std::vector<Token> &toks)
{
    std::vector<Token> e;
    Token v = toks[s.begin + 1];
    e.push_back(v);
    Token op = toks[s.condBegin - 1];
    op.value = op.text = s.text;
    e.push_back(op);
    op.value = op.text = "(";
    e.push_back(op);
    e.insert(e.end(), toks.begin() + long(s.condBegin), toks.begin() + long(s.condEnd));
    op.value = op.text = ")";
    e.push_back(op);
    e.push_back(toks.back());
    return eval(e, 0, e.size() - 1);
}

SessionImpl::Flow SessionImpl::runSetOption(const Stmt &s, Run &r)
{
    m_rowcount = 0;
    if (s.name == "DATEFIRST" || s.name == "LANGUAGE" || s.name == "DATEFORMAT") return runSetDateOption(s, r);
    if (s.name == "NOCOUNT") m_nocount = s.flag;
    if (s.name == "NO_BROWSETABLE") m_browseTables = s.flag;
    if (s.name == "XACT_ABORT") m_xactAbort = s.flag;
    if (s.name == "IDENTITY_INSERT") m_identityInsert = s.flag ? s.text : std::string();
    done(r, false, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runPrint(const Stmt &s, Run &r)
{
    return guarded(s, r, [&]() -> Flow {
        Value v = eval(r.toks, s.condBegin, s.condEnd);
        message(r, 0, 0, valueText(v), s.line);
        done(r, false, false, 0);
        return Flow::Next;
    });
}

SessionImpl::Flow SessionImpl::run(const Stmt &s, Run &r)
{
    if (r.sink.cancelled()) return Flow::Cancelled;
    return runGuarded(s, r);
}

SessionImpl::Flow SessionImpl::dispatch(const Stmt &s, Run &r)
{
    switch (s.kind) {
    case Stmt::Sql: return runSql(s, r);
    case Stmt::Use: return buffered(r, [&](Run &b) { return runUse(s, b); });
    case Stmt::CreateDatabase: return buffered(r, [&](Run &b) { return runCreateDatabase(s, b); });
    case Stmt::DropDatabase: return buffered(r, [&](Run &b) { return runDropDatabase(s, b); });
    case Stmt::BackupDatabase: return buffered(r, [&](Run &b) { return runBackup(s, b); });
    case Stmt::BackupLogNoLog:
    case Stmt::DumpTranNoLog: return buffered(r, [&](Run &b) { return runNoLog(s, b); });
    case Stmt::Restore: return buffered(r, [&](Run &b) { return runRestore(s, b); });
    case Stmt::Exec: return runExec(s, r);
    case Stmt::DbccShrink: return runShrink(s, r);
    case Stmt::Waitfor: return runWaitfor(s, r);
    case Stmt::Raiserror: return runRaiserror(s, r);
    case Stmt::If:
    case Stmt::While: return runIfWhile(s, r);
    case Stmt::Block:
        for (const auto &b : s.body) {
            Flow f = run(b, r);
            if (f != Flow::Next) return f;
        }
        return Flow::Next;
    case Stmt::Declare: return runDeclare(s, r);
    case Stmt::DeclareTable: return runDeclareTable(s, r);
    case Stmt::SetVar: return runSetVar(s, r);
    case Stmt::SetOption: return runSetOption(s, r);
    case Stmt::Print: return runPrint(s, r);
    case Stmt::Return: return Flow::Return;
    case Stmt::BeginTran:
    case Stmt::CommitTran:
    case Stmt::RollbackTran:
    case Stmt::SaveTran: return runTransaction(s, r);
    case Stmt::Throw: return runThrow(s, r);
    case Stmt::CreateTrigger:
    case Stmt::DropTrigger:
    case Stmt::EnableTrigger: return runTriggerDdl(s, r);
    case Stmt::CreateView:
    case Stmt::DropView: return runViewDdl(s, r);
    case Stmt::TryCatch: return runTryCatch(s, r);
    case Stmt::DeclareCursor: return runDeclareCursor(s, r);
    case Stmt::OpenCursor: return runOpenCursor(s, r);
    case Stmt::FetchCursor: return runFetch(s, r);
    case Stmt::CloseCursor:
    case Stmt::DeallocateCursor: return runCloseDeallocate(s, r);
    case Stmt::Merge: return runMerge(s, r);
    }
    return Flow::Next;
}

void SessionImpl::openTransaction()
{
    if (m_trancount == 0 || m_txnOpen) return;
    execSimple("BEGIN");
    m_txnOpen = true;
    for (auto &sp : m_savepoints) {
        execSimple("SAVEPOINT " + quoteIdent("dvsp_" + sp.first));
        sp.second = true;
    }
}

void SessionImpl::endTransaction(bool commit)
{
    if (m_txnOpen) execSimple(commit ? "COMMIT" : "ROLLBACK");
    m_txnOpen = false;
    m_trancount = 0;
    m_doomed = false;
    m_tranName.clear();
    m_savepoints.clear();
    detachAll();
}

std::string SessionImpl::tranNameOf(const Stmt &s)
{
    if (!s.flag) return s.name;
    bool found = false;
    Value v = variable(s.name, &found);
    if (!found) throw makeError(137, 15, "Must declare the scalar variable \"" + s.name + "\".", true);
    return valueText(v);
}

// BEGIN/COMMIT/ROLLBACK/SAVE TRAN. Names are case sensitive and cut to 32
// characters as on SQL Server; savepoints map onto SQLite savepoints.
SessionImpl::Flow SessionImpl::runTransaction(const Stmt &s, Run &r)
{
    std::string name;
    try {
        name = tranNameOf(s).substr(0, 32);
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return Flow::Abort;
    }
    auto fail = [&](int number, const std::string &text) {
        message(r, number, 16, text, s.line);
        done(r, true, false, 0);
        return Flow::Next;
    };
    switch (s.kind) {
    case Stmt::BeginTran:
        // SQLite cannot ATTACH inside a transaction: it begins at the next statement, after its names are resolved.
        if (m_trancount == 0) m_tranName = name;
        ++m_trancount;
        m_rowcount = 0;
        break;
    case Stmt::CommitTran:
        if (m_trancount == 0) return fail(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        if (refuseInDoomed(r, s.line)) return Flow::Next;
        if (--m_trancount == 0) endTransaction(true);
        m_rowcount = 0;
        break;
    case Stmt::SaveTran:
        if (m_trancount == 0) return fail(628, "Cannot issue SAVE TRANSACTION when there is no active transaction.");
        if (m_txnOpen) execSimple("SAVEPOINT " + quoteIdent("dvsp_" + name));
        m_savepoints.push_back({name, m_txnOpen});
        break;
    default: { // ROLLBACK
        if (m_trancount == 0) return fail(3903, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        if (!name.empty() && name != m_tranName) {
            size_t k = m_savepoints.size();
            while (k > 0 && m_savepoints[k - 1].first != name) --k;
            if (k == 0)
                return fail(6401, "Cannot roll back " + name + ". No transaction or savepoint of that name was found.");
            // Back to the savepoint; it stays, later ones go. @@TRANCOUNT is unchanged.
            if (m_savepoints[k - 1].second) execSimple("ROLLBACK TO " + quoteIdent("dvsp_" + name));
            m_savepoints.resize(k);
            break;
        }
        endTransaction(false);
        break;
    }
    }
    done(r, false, false, 0);
    return Flow::Next;
}

// THROW number, message, state: severity 16, ends the batch.
SessionImpl::Flow SessionImpl::runThrow(const Stmt &s, Run &r)
{
    if (s.args.empty() && !m_catchErrors.empty()) { // re-raises the error the CATCH block handles
        const Message &e = m_catchErrors.back();
        message(r, e.number, e.severity, e.text, e.line, e.state, e.procedure);
        done(r, true, false, 0);
        return Flow::Abort;
    }
    if (s.args.empty()) {
        message(r, 10704, 15, "To rethrow an error, a THROW statement must be used inside a CATCH block.", s.line);
        done(r, true, false, 0);
        return Flow::Abort;
    }
    try {
        std::vector<Value> a;
        for (const auto &x : s.args) a.push_back(eval(r.toks, x.tok, x.tokEnd));
        int64_t number = a[0].kind == Value::Int ? a[0].i : std::atoll(valueText(a[0]).c_str());
        int64_t state = a[2].kind == Value::Int ? a[2].i : std::atoll(valueText(a[2]).c_str());
        if (number < 50000 || number > 2147483647)
            throw makeError(35100, 16, "Error number " + std::to_string(number) + " in the THROW statement is outside the valid range. Specify an error number in the valid range of 50000 to 2147483647.", true);
        if (state < 0 || state > 255)
            throw makeError(35101, 16, "The value " + std::to_string(state) + " for the state parameter in the THROW statement is outside the valid range. Specify a value in the valid range of 0 to 255.", true);
        message(r, int(number), 16, valueText(a[1]), s.line, int(state));
        done(r, true, false, 0);
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
    }
    return Flow::Abort;
}

bool SessionImpl::truthyValue(const Value &v)
{
    switch (v.kind) {
    case Value::Int: return v.i != 0;
    case Value::Float: return v.d != 0;
    case Value::Text: return std::atof(v.s.c_str()) != 0;
    default: return false;
    }
}

std::string SessionImpl::valueText(const Value &v)
{
    switch (v.kind) {
    case Value::Int: return std::to_string(v.i);
    case Value::Float: { char b[64]; std::snprintf(b, sizeof b, "%g", v.d); return b; }
    case Value::Text: case Value::Blob: return v.s;
    default: return "";
    }
}

// OUTPUT DELETED.x in an UPDATE reads the old rows a BEFORE UPDATE trigger
// keeps in temp."__dv_old" while the statement runs.
SessionImpl::OldRows::OldRows(SessionImpl *session, const Translation &tr)
{
    if (!tr.captureOld) return;
    auto meta = session->table(tr.schema, tr.targetInternal);
    if (!meta) return;
    s = session;
    std::string cols = "\"__dv_rid\"", vals = "OLD.rowid";
    for (const auto &c : meta->columns) { cols += ", " + quoteIdent(c.name); vals += ", OLD." + quoteIdent(c.name); }
    s->execSimple("DROP TABLE IF EXISTS temp.\"__dv_old\"");
    s->execSimple("CREATE TABLE temp.\"__dv_old\" (" + cols + ")");
    s->execSimple("CREATE TEMP TRIGGER \"__dv_old_t\" BEFORE UPDATE ON " + quoteIdent(tr.schema) + "." + quoteIdent(tr.targetInternal)
                  + " BEGIN INSERT INTO \"__dv_old\" VALUES (" + vals + "); END");
}

SessionImpl::OldRows::~OldRows()
{
    if (!s) return;
    s->execSimple("DROP TRIGGER IF EXISTS temp.\"__dv_old_t\"");
    s->execSimple("DROP TABLE IF EXISTS temp.\"__dv_old\"");
}

// A failure SQLite reported for the statement, as the server's error; an
// interrupt (attention) ends the batch without one.
SessionImpl::Flow SessionImpl::failStatement(const std::string &msg, const Translation &tr, const Stmt &s, Run &r)
{
    SqlError e = mapSqliteError(msg, tr);
    if (e.msg.number == 0) return Flow::Cancelled; // interrupted by attention
    m_stmtFailed = true;
    report(r, e, s.line);
    done(r, true, false, 0);
    return e.abortBatch ? Flow::Abort : Flow::Next;
}

// A change to a table with enabled T-SQL triggers runs through them; nullopt
// when the target has none to fire.
std::optional<SessionImpl::Flow> SessionImpl::runTriggered(const Stmt &s, const Translation &tr, Run &r)
{
    if (tr.kind != Translation::Change || tr.targetInternal.empty() || tr.schema == "dvcat" || tr.schema == "temp")
        return std::nullopt;
    bool anyEnabled = false;
    std::vector<TriggerDef> triggers = triggersFor(tr.schema, tr.targetInternal, tr.verb, &anyEnabled);
    if (anyEnabled && tr.output && tr.intoSql.empty()) {
        m_stmtFailed = true;
        message(r, 334, 16, "The target table '" + tr.table + "' of the DML statement cannot have any enabled triggers if "
                "the statement contains an OUTPUT clause without INTO clause.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    if (!triggers.empty()) return runWithTriggers(s, tr, triggers, r);
    return std::nullopt;
}

// Every translated statement but the last is DDL book-keeping; false with
// SQLite's message in `msg` when one fails (the savepoint then undoes them).
bool SessionImpl::runBookkeeping(const Translation &tr, std::string *msg)
{
    for (size_t k = 0; k + 1 < tr.sql.size(); ++k) {
        sqlite3_stmt *st = nullptr;
        if (!prepare(tr.sql[k], tr.params, &st, msg)) {
            execSimple("ROLLBACK TO dvstmt; RELEASE dvstmt");
            return false;
        }
        int rc = sqlite3_step(st);
        *msg = sqlite3_errmsg(m_conn);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            execSimple("ROLLBACK TO dvstmt; RELEASE dvstmt");
            return false;
        }
    }
    return true;
}

// A change, DDL or SELECT that assigns variables: steps `st` to its end and
// reports the row count. `multi`: the dvstmt savepoint is open.
SessionImpl::Flow SessionImpl::runChange(sqlite3_stmt *st, const Translation &tr, const Stmt &s, Run &r, bool multi)
{
    int64_t rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        ++rows;
        for (size_t c = 0; c < tr.assignVars.size() && int(c) < sqlite3_column_count(st); ++c)
            setVariable(tr.assignVars[c], columnValue(st, int(c)));
    }
    if (rc != SQLITE_DONE) {
        std::string msg = sqlite3_errmsg(m_conn);
        sqlite3_finalize(st);
        if (multi) execSimple("ROLLBACK TO dvstmt; RELEASE dvstmt");
        return failStatement(msg, tr, s, r);
    }
    if (tr.kind == Translation::Change) {
        rows = sqlite3_changes(m_conn);
        if (tr.verb == "INSERT" && rows > 0) {
            auto meta = table(tr.schema, tr.targetInternal);
            if (meta && meta->hasIdentity()) m_identity = m_scopeIdentity = Value::integer(sqlite3_last_insert_rowid(m_conn));
        }
    }
    sqlite3_finalize(st);
    if (multi) execSimple("RELEASE dvstmt");
    m_rowcount = rows;
    m_error = 0;
    done(r, false, tr.kind != Translation::Ddl, uint64_t(rows));
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runSql(const Stmt &s, Run &r)
{
    Translation tr;
    try {
        Translator t(r.toks, this, m_engine->opts.compat2000);
        tr = t.translate(s.begin);
    } catch (const SqlError &e) {
        m_stmtFailed = true;
        report(r, e, s.line);
        done(r, true, false, 0);
        detachAll();
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    if ((tr.kind != Translation::Query || !tr.intoTarget.empty()) && refuseInDoomed(r, s.line)) return Flow::Next;
    if (!tr.intoTarget.empty()) return runSelectInto(s, tr, r);
    if (std::optional<Flow> f = runTriggered(s, tr, r)) return *f;
    openTransaction();
    if (tr.sql.empty()) { // DROP TABLE IF EXISTS of a missing table
        done(r, false, false, 0);
        return Flow::Next;
    }
    bool multi = tr.sql.size() > 1;
    if (multi) execSimple("SAVEPOINT dvstmt");
    std::string err;
    if (!runBookkeeping(tr, &err)) return failStatement(err, tr, s, r);
    OldRows oldRows(this, tr);
    sqlite3_stmt *st = nullptr;
    if (!prepare(tr.sql.back(), tr.params, &st, &err)) {
        if (multi) execSimple("ROLLBACK TO dvstmt; RELEASE dvstmt");
        return failStatement(err, tr, s, r);
    }
    if (tr.kind == Translation::Query && tr.assignVars.empty()) {
        Flow f = runQuery(st, tr, r, s.line);
        sqlite3_finalize(st);
        return f;
    }
    if (tr.output) {
        Flow f = runOutput(st, tr, r, s.line);
        sqlite3_finalize(st);
        if (multi) execSimple(f == Flow::Next ? "RELEASE dvstmt" : "ROLLBACK TO dvstmt; RELEASE dvstmt");
        return f;
    }
    return runChange(st, tr, s, r, multi);
}

Value SessionImpl::columnValue(sqlite3_stmt *st, int col)
{
    switch (sqlite3_column_type(st, col)) {
    case SQLITE_INTEGER: return Value::integer(sqlite3_column_int64(st, col));
    case SQLITE_FLOAT: return Value::real(sqlite3_column_double(st, col));
    case SQLITE_TEXT: return Value::text(std::string(reinterpret_cast<const char *>(sqlite3_column_text(st, col)),
                                                     size_t(sqlite3_column_bytes(st, col))));
    case SQLITE_BLOB: {
        const char *p = static_cast<const char *>(sqlite3_column_blob(st, col));
        return Value::blob(std::string(p ? p : "", size_t(sqlite3_column_bytes(st, col))));
    }
    default: return Value::null();
    }
}

// An expression no declaration types: typed from the first row's value.
static ColumnDef typedByValue(sqlite3_stmt *st, int col)
{
    ColumnDef def;
    switch (sqlite3_column_type(st, col)) {
    case SQLITE_INTEGER: {
        int64_t v = sqlite3_column_int64(st, col);
        def.type = v >= INT32_MIN && v <= INT32_MAX ? SqlType::Int : SqlType::BigInt;
        break;
    }
    case SQLITE_FLOAT: def.type = SqlType::Float; break;
    case SQLITE_BLOB: def.type = SqlType::VarBinary; def.length = sqlite3_column_bytes(st, col) > 8000 ? -1 : 8000; break;
    case SQLITE_TEXT: {
        // A sql_variant's stored form stays a sql_variant.
        if (isVariantText(reinterpret_cast<const char *>(sqlite3_column_text(st, col)))) {
            def.type = SqlType::Variant;
            def.length = 8016;
            break;
        }
        def.type = SqlType::NVarChar;
        int bytes = sqlite3_column_bytes(st, col);
        def.length = bytes > 4000 ? -1 : 4000;
        break;
    }
    default: def.type = SqlType::Int; break;
    }
    def.nullable = true;
    return def;
}

ColumnDef SessionImpl::describe(sqlite3_stmt *st, int col, std::map<std::string, std::optional<TableMeta>> &cache,
                                const std::vector<Translation::ResultType> *types)
{
    const char *name = sqlite3_column_name(st, col);
    const char *table = sqlite3_column_table_name(st, col);
    const char *origin = sqlite3_column_origin_name(st, col);
    const char *schema = sqlite3_column_database_name(st, col);
    ColumnDef def;
    bool known = false;
    if (table && origin && schema && std::strcmp(schema, "dvcat") != 0 && std::strncmp(table, "__dv_", 5) != 0) {
        std::string key = std::string(schema) + "." + table;
        auto it = cache.find(key);
        if (it == cache.end()) it = cache.emplace(key, this->table(schema, table)).first;
        if (it->second) {
            if (const ColumnMeta *m = it->second->column(origin)) {
                def = columnDefFor(*m);
                def.baseTable = it->second->owner + "." + it->second->objName;
                def.baseColumn = m->name;
                def.key = m->pkOrdinal > 0;
                def.updateable = !m->identity && m->writable();
                known = true;
            }
        }
    }
    if (!known) {
        const char *decl = sqlite3_column_decltype(st, col);
        ColumnMeta m;
        if (decl && parseTypeName(decl, m)) {
            m.name = name ? name : "";
            int notNull = 0, pk = 0, autoinc = 0;
            if (table && origin && schema
                && sqlite3_table_column_metadata(m_conn, schema, table, origin, nullptr, nullptr, &notNull, &pk, &autoinc) == SQLITE_OK)
                m.nullable = !notNull;
            def = columnDefFor(m);
            known = true;
        }
    }
    if (!known && types && size_t(col) < types->size()) {
        // An expression of a type the translator knows: decimal, money, real.
        const num::Type t = num::typeFromCode((*types)[size_t(col)].number);
        known = true;
        def.nullable = true;
        if (t.kind == num::Type::Decimal) {
            def.type = t.decimalName ? SqlType::Decimal : SqlType::Numeric;
            def.precision = t.precision;
            def.scale = t.scale;
        } else if (t.kind == num::Type::Money || t.kind == num::Type::SmallMoney) {
            def.type = t.kind == num::Type::Money ? SqlType::Money : SqlType::SmallMoney;
            def.precision = t.precision;
            def.scale = 4;
        } else if (t.kind == num::Type::Real) {
            def.type = SqlType::Real;
        } else {
            known = false;
        }
    }
    if (!known) def = typedByValue(st, col);
    def.name = name ? name : "";
    return def;
}

// A DATEADD of a column takes the date type its first value shows; after a
// NULL, datetime2(7), which holds any later date or datetime unchanged.
void SessionImpl::applyResultTypes(sqlite3_stmt *st, const std::vector<Translation::ResultType> &types,
                                   std::vector<ColumnDef> &cols)
{
    if (types.size() != cols.size()) return;
    for (size_t c = 0; c < cols.size(); ++c) {
        ColumnMeta m = types[c].call;
        if (m.type.empty() || !cols[c].baseTable.empty()) continue;
        if (m.type == "temporal") {
            const unsigned char *p = sqlite3_column_type(st, int(c)) == SQLITE_TEXT ? sqlite3_column_text(st, int(c)) : nullptr;
            m.type = p ? dateTypeOfText(reinterpret_cast<const char *>(p), m.scale) : std::string();
            if (m.type.empty()) {
                m.type = "datetime2";
                m.scale = 7;
            }
        }
        m.name = cols[c].name;
        ColumnDef def = columnDefFor(m);
        def.nullable = true;
        cols[c] = def;
    }
}

static bool isMoney(SqlType t) { return t == SqlType::Money || t == SqlType::SmallMoney; }

Value SessionImpl::toValue(sqlite3_stmt *st, int col, const ColumnDef &def)
{
    int t = sqlite3_column_type(st, col);
    if (t == SQLITE_NULL) return Value::null();
    switch (def.type) {
    case SqlType::Int: case SqlType::BigInt: case SqlType::SmallInt: case SqlType::TinyInt: case SqlType::Bit: {
        int64_t v = t == SQLITE_FLOAT ? int64_t(sqlite3_column_double(st, col)) : sqlite3_column_int64(st, col);
        if (def.type == SqlType::Bit) v = v != 0;
        return Value::integer(v);
    }
    case SqlType::Float:
        return Value::real(sqlite3_column_double(st, col));
    case SqlType::Real:
        return Value::real(double(float(sqlite3_column_double(st, col))));
    case SqlType::Decimal: case SqlType::Numeric: case SqlType::Money: case SqlType::SmallMoney:
        return Value::text(decimalText(sqlite3_column_value(st, col), isMoney(def.type) ? 4 : def.scale));
    case SqlType::DateTime: case SqlType::Date: {
        std::string s = reinterpret_cast<const char *>(sqlite3_column_text(st, col));
        std::string out;
        if (normaliseDateTime(s, out)) s = out;
        if (def.type == SqlType::Date) s = s.substr(0, 10);
        return Value::text(s);
    }
    case SqlType::DateTime2: case SqlType::Time: case SqlType::DateTimeOffset: {
        std::string s(reinterpret_cast<const char *>(sqlite3_column_text(st, col)), size_t(sqlite3_column_bytes(st, col)));
        return temporalValue(s, def);
    }
    case SqlType::VarBinary: {
        const char *p = static_cast<const char *>(sqlite3_column_blob(st, col));
        return Value::blob(std::string(p ? p : "", size_t(sqlite3_column_bytes(st, col))));
    }
    default: {
        std::string s;
        if (t == SQLITE_FLOAT) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", sqlite3_column_double(st, col));
            s = buf;
        } else {
            s.assign(reinterpret_cast<const char *>(sqlite3_column_text(st, col)), size_t(sqlite3_column_bytes(st, col)));
        }
        // A varchar column holds only what the server's code page can.
        if (def.type == SqlType::VarChar || def.type == SqlType::Char) s = throughCodePage(s);
        return Value::text(std::move(s));
    }
    }
}

Value SessionImpl::temporalValue(const std::string &stored, const ColumnDef &def)
{
    const char *type = def.type == SqlType::Time ? "time" : def.type == SqlType::DateTime2 ? "datetime2" : "datetimeoffset";
    std::string out;
    return Value::text(normaliseTemporal(stored, type, def.scale, out) ? out : stored);
}

// What toValue() makes of a stored value, for rows already read (OUTPUT).
Value SessionImpl::outputValue(const Value &v, const ColumnDef &def)
{
    if (v.kind == Value::Null) return v;
    switch (def.type) {
    case SqlType::Int: case SqlType::BigInt: case SqlType::SmallInt: case SqlType::TinyInt: case SqlType::Bit: {
        int64_t x = v.kind == Value::Float ? int64_t(v.d) : v.kind == Value::Int ? v.i : std::atoll(v.s.c_str());
        if (def.type == SqlType::Bit) x = x != 0;
        return Value::integer(x);
    }
    case SqlType::Float: case SqlType::Real: {
        const double d = v.kind == Value::Float ? v.d : v.kind == Value::Int ? double(v.i) : std::atof(v.s.c_str());
        return Value::real(def.type == SqlType::Real ? double(float(d)) : d);
    }
    case SqlType::Decimal: case SqlType::Numeric: case SqlType::Money: case SqlType::SmallMoney: {
        const int scale = isMoney(def.type) ? 4 : def.scale;
        num::Dec d;
        if (v.kind == Value::Int) d.units = static_cast<long>(v.i);
        else if (v.kind == Value::Float) d = num::fromDouble(v.d);
        else if (!num::parse(v.s, d)) return Value::text(v.s);
        return Value::text(num::format(num::rescale(d, scale)));
    }
    case SqlType::DateTime: case SqlType::Date: {
        std::string s = valueText(v), out;
        if (normaliseDateTime(s, out)) s = out;
        if (def.type == SqlType::Date) s = s.substr(0, 10);
        return Value::text(s);
    }
    case SqlType::DateTime2: case SqlType::Time: case SqlType::DateTimeOffset:
        return temporalValue(valueText(v), def);
    case SqlType::VarBinary:
        return Value::blob(v.s);
    default:
        if (v.kind == Value::Float) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", v.d);
            return Value::text(buf);
        }
        if (v.kind == Value::Int) return Value::text(std::to_string(v.i));
        return Value::text(v.s);
    }
}

// Rows go to the sink as SQLite produces them; nothing is buffered.
SessionImpl::Flow SessionImpl::runQuery(sqlite3_stmt *st, const Translation &tr, Run &r, int line)
{
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        SqlError e = mapSqliteError(sqlite3_errmsg(m_conn), tr);
        if (e.msg.number == 0) return Flow::Cancelled;
        report(r, e, line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    int n = sqlite3_column_count(st);
    std::vector<ColumnDef> cols;
    std::map<std::string, std::optional<TableMeta>> cache;
    for (int c = 0; c < n; ++c) cols.push_back(describe(st, c, cache, &tr.resultTypes));
    applyResultTypes(st, tr.resultTypes, cols);
    // Base tables (TABNAME/COLINFO) go out only to a client that asked for
    // them; rows of a CTE, window or table variable belong to no table a
    // client could write back to.
    if (tr.derived || !m_browseTables) {
        for (auto &c : cols) {
            c.baseTable.clear();
            c.baseColumn.clear();
            c.key = false;
            if (tr.derived) c.updateable = false;
        }
    }
    r.sink.columns(cols);
    uint64_t rows = 0;
    std::vector<Value> values(static_cast<size_t>(n), Value());
    while (rc == SQLITE_ROW) {
        for (int c = 0; c < n; ++c) values[size_t(c)] = toValue(st, c, cols[size_t(c)]);
        r.sink.row(values);
        ++rows;
        if ((rows & 255) == 0 && r.sink.cancelled()) return Flow::Cancelled;
        rc = sqlite3_step(st);
    }
    if (rc != SQLITE_DONE) {
        SqlError e = mapSqliteError(sqlite3_errmsg(m_conn), tr);
        if (e.msg.number == 0) return Flow::Cancelled;
        report(r, e, line);
        r.anyDone = true;
        r.sink.done(r.done, true, !m_nocount, rows);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    m_rowcount = int64_t(rows);
    m_error = 0;
    done(r, false, true, rows);
    return Flow::Next;
}

// INSERT/UPDATE/DELETE with OUTPUT: all rows are changed first (an error
// sends nothing and undoes the statement), then the OUTPUT rows go out as a
// result set whose DONE carries the statement's own row count.
bool SessionImpl::insertOutputRows(const Translation &tr, const std::vector<std::vector<Value>> &rows, std::string *error)
{
    std::string cols, marks;
    for (const auto &c : tr.intoCols) {
        cols += (cols.empty() ? "" : ", ") + quoteIdent(c);
        marks += std::string(marks.empty() ? "" : ", ") + "?";
    }
    for (const auto &row : rows) {
        sqlite3_stmt *ins = nullptr;
        if (!prepare("INSERT INTO " + tr.intoSql + " (" + cols + ") VALUES (" + marks + ")", row, &ins, error)) return false;
        int rc = sqlite3_step(ins);
        if (rc != SQLITE_DONE) *error = sqlite3_errmsg(m_conn);
        sqlite3_finalize(ins);
        if (rc != SQLITE_DONE) return false;
    }
    return true;
}

SessionImpl::Flow SessionImpl::runOutput(sqlite3_stmt *st, const Translation &tr, Run &r, int line)
{
    std::vector<std::vector<Value>> raw;
    int n = sqlite3_column_count(st);
    std::vector<int> firstType(size_t(n), SQLITE_NULL);
    bool ownSavepoint = tr.sql.size() == 1;
    if (ownSavepoint) execSimple("SAVEPOINT dvout");
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        std::vector<Value> row;
        for (int c = 0; c < n; ++c) {
            row.push_back(columnValue(st, c));
            if (firstType[size_t(c)] == SQLITE_NULL) firstType[size_t(c)] = sqlite3_column_type(st, c);
        }
        raw.push_back(std::move(row));
        if ((raw.size() & 255) == 0 && r.sink.cancelled()) break;
    }
    if (rc != SQLITE_DONE) {
        std::string msg = rc == SQLITE_ROW ? std::string("interrupted") : std::string(sqlite3_errmsg(m_conn));
        sqlite3_reset(st);
        if (ownSavepoint) execSimple("ROLLBACK TO dvout; RELEASE dvout");
        SqlError e = mapSqliteError(msg, tr);
        if (e.msg.number == 0) return Flow::Cancelled;
        report(r, e, line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    if (!tr.intoSql.empty()) {
        // OUTPUT ... INTO: the rows go to the table; a failing insert undoes the statement.
        std::string err;
        if (!insertOutputRows(tr, raw, &err)) {
            if (ownSavepoint) execSimple("ROLLBACK TO dvout; RELEASE dvout");
            SqlError e = mapSqliteError(err, tr);
            report(r, e, line);
            done(r, true, false, 0);
            return e.abortBatch ? Flow::Abort : Flow::Next;
        }
    }
    if (ownSavepoint) execSimple("RELEASE dvout");
    std::vector<ColumnDef> cols;
    for (int c = 0; c < n; ++c) {
        ColumnDef def;
        const Translation::OutputCol *oc = size_t(c) < tr.outputCols.size() ? &tr.outputCols[size_t(c)] : nullptr;
        if (oc && oc->meta) {
            def = columnDefFor(*oc->meta);
        } else {
            switch (firstType[size_t(c)]) {
            case SQLITE_FLOAT: def.type = SqlType::Float; break;
            case SQLITE_TEXT: def.type = SqlType::NVarChar; def.length = 4000; break;
            case SQLITE_BLOB: def.type = SqlType::VarBinary; def.length = 8000; break;
            default: def.type = SqlType::Int; break;
            }
            def.nullable = true;
        }
        def.name = oc ? oc->name : std::string(sqlite3_column_name(st, c));
        cols.push_back(def);
    }
    if (tr.intoSql.empty()) {
        r.sink.columns(cols);
        for (const auto &row : raw) {
            std::vector<Value> out;
            for (int c = 0; c < n; ++c) out.push_back(outputValue(row[size_t(c)], cols[size_t(c)]));
            r.sink.row(out);
        }
    }
    int64_t rows = int64_t(raw.size());
    if (tr.verb == "INSERT" && rows > 0) {
        auto meta = table(tr.schema, tr.targetInternal);
        if (meta && meta->hasIdentity()) m_identity = m_scopeIdentity = Value::integer(sqlite3_last_insert_rowid(m_conn));
    }
    m_rowcount = m_engine->opts.rowcountZeroAfterOutput ? 0 : rows;
    m_error = 0;
    done(r, false, true, uint64_t(rows));
    return Flow::Next;
}

static bool parseWaitTime(const std::string &s, long long &ms)
{
    int h = 0, m = 0, sec = 0, n = 0;
    double frac = 0;
    std::string t = s;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    if (std::sscanf(t.c_str(), "%d:%d%n", &h, &m, &n) < 2) return false;
    std::string rest = t.substr(size_t(n));
    if (!rest.empty() && rest[0] == ':') {
        int k = 0;
        if (std::sscanf(rest.c_str(), ":%d%n", &sec, &k) != 1) return false;
        rest = rest.substr(size_t(k));
        if (!rest.empty() && rest[0] == '.') {
            if (std::sscanf(rest.c_str(), "%lf%n", &frac, &k) != 1) return false;
            rest = rest.substr(size_t(k));
        }
    }
    if (!rest.empty() || h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59) return false;
    ms = static_cast<long long>(h) * 3600000 + m * 60000 + sec * 1000 + std::llround(frac * 1000);
    return true;
}

// Holds no lock while waiting; attention ends the wait and the batch.
SessionImpl::Flow SessionImpl::runWaitfor(const Stmt &s, Run &r)
{
    const Token &k = r.toks[s.condBegin];
    std::string text = k.value;
    if (k.kind == Token::Variable) {
        bool found = false;
        Value v = variable(k.value, &found);
        if (!found) {
            message(r, 137, 15, "Must declare the scalar variable \"" + k.text + "\".", s.line);
            done(r, true, false, 0);
            return Flow::Abort;
        }
        text = valueText(v);
    }
    long long ms = 0;
    if (!parseWaitTime(text, ms)) {
        message(r, 148, 15, "Incorrect time syntax in time string '" + text + "' used with WAITFOR.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    if (!s.flag) { // TIME: until that time of day
        auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm tm{};
        localtime_r(&now, &tm);
        long long cur = (static_cast<long long>(tm.tm_hour) * 3600 + tm.tm_min * 60 + tm.tm_sec) * 1000;
        ms = ms >= cur ? ms - cur : ms + 86400000 - cur;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (r.sink.cancelled()) return Flow::Cancelled;
        auto left = end - std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
    }
    if (r.sink.cancelled()) return Flow::Cancelled;
    done(r, false, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runRaiserror(const Stmt &s, Run &r)
{
    try {
        std::vector<Value> args;
        for (const auto &a : s.args) args.push_back(eval(r.toks, a.tok, a.tokEnd));
        int severity = int(args[1].kind == Value::Int ? args[1].i : std::atoi(valueText(args[1]).c_str()));
        int state = int(args[2].kind == Value::Int ? args[2].i : std::atoi(valueText(args[2]).c_str()));
        int number = 50000;
        std::string fmt = valueText(args[0]);
        if (args[0].kind == Value::Int) { number = int(args[0].i); fmt = "Error " + fmt + ", severity " + std::to_string(severity) + ", state " + std::to_string(state) + " was raised, but no message with that error number was found in sys.messages. If error is larger than 50000, make sure the user-defined message is added using sp_addmessage."; number = 18054; severity = 16; }
        // printf-style substitution of %s, %d, %i, %u with the remaining arguments.
        std::string out;
        size_t next = 3;
        for (size_t i = 0; i < fmt.size(); ++i) {
            if (fmt[i] == '%' && i + 1 < fmt.size()) {
                size_t j = i + 1;
                while (j < fmt.size() && std::strchr("-+ #0123456789.*", fmt[j])) ++j;
                if (j < fmt.size() && std::strchr("sdiuxXo", fmt[j])) {
                    out += next < args.size() ? valueText(args[next++]) : "(null)";
                    i = j;
                    continue;
                }
                if (fmt[i + 1] == '%') { out += '%'; ++i; continue; }
            }
            out += fmt[i];
        }
        if (severity < 0) severity = 0;
        if (severity > 25) severity = 25;
        if (state < 0) state = 1;
        message(r, number, severity, out, s.line, state);
        done(r, severity > 10, false, 0);
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    return Flow::Next;
}

// ---------------------------------------------------------------- RPC

// sp_executesql's parameter definitions (its second argument): names and types, in order.
static std::vector<std::pair<std::string, ColumnMeta>> rpcParamDefs(const RpcCall &call)
{
    std::vector<std::pair<std::string, ColumnMeta>> defs;
    if (call.params.size() > 1 && call.params[1].value.kind == Value::Text) {
        std::vector<Token> dt;
        if (tokenize(call.params[1].value.s, dt)) {
            size_t i = 0;
            while (i < dt.size() && dt[i].kind == Token::Variable) {
                std::string n = dt[i].value;
                ++i;
                std::string decl;
                int depth = 0; // the comma of decimal(10,2) is no separator
                while (i < dt.size() && dt[i].kind != Token::End && !(depth == 0 && dt[i].isOp(","))) {
                    if (dt[i].isWord("OUTPUT") || dt[i].isWord("OUT")) { ++i; continue; }
                    depth += dt[i].isOp("(") ? 1 : dt[i].isOp(")") ? -1 : 0;
                    decl += dt[i].text;
                    ++i;
                }
                ColumnMeta m;
                if (!parseTypeName(decl, m)) m.type = "nvarchar", m.length = 4000;
                defs.push_back({n, m});
                if (i < dt.size() && dt[i].isOp(",")) ++i;
            }
        }
    }
    return defs;
}

void SessionImpl::executeRpc(const RpcCall &call, ResultSink &sink)
{
    ResultSink *savedSink = m_sink;
    m_sink = &sink;
    const DateOrderScope dateOrder(&m_dateFormat);
    std::vector<Token> none;
    tokenize("", none);
    Run r{sink, none, DoneKind::DoneInProc};
    r.rpc = true;
    std::string proc = lower(call.procName);
    size_t dot = proc.find_last_of('.');
    if (dot != std::string::npos) proc = proc.substr(dot + 1);
    if (proc == "sp_executesql") {
        if (call.params.empty() || call.params[0].value.kind != Value::Text) {
            message(r, 214, 16, "Procedure expects parameter '@statement' of type 'ntext/nchar/nvarchar'.", 1);
            sink.returnStatus(1);
            sink.done(DoneKind::DoneProc, true, false, 0);
            m_sink = savedSink;
            return;
        }
        // Parameter names come from the definitions when values arrive unnamed.
        const std::vector<std::pair<std::string, ColumnMeta>> defs = rpcParamDefs(call);
        auto saved = m_vars;
        auto savedTables = std::move(m_tableVars);
        m_vars.clear(); // the statement sees its parameters, not the caller's variables
        m_tableVars.clear();
        size_t pos = 0;
        std::vector<std::string> outNames; // the output parameters, in the call's order
        for (size_t k = 2; k < call.params.size(); ++k) {
            std::string n = lower(call.params[k].name);
            ColumnMeta m;
            if (n.empty() && pos < defs.size()) n = defs[pos].first;
            for (const auto &d : defs) if (d.first == n) m = d.second;
            if (m.type.empty()) m.type = "nvarchar";
            ++pos;
            if (!n.empty()) m_vars[n] = {m, call.params[k].value};
            if (!n.empty() && call.params[k].output) outNames.push_back(n);
        }
        for (const auto &d : defs) if (!m_vars.count(d.first)) m_vars[d.first] = {d.second, Value::null()};
        bool err = false;
        auto savedCursors = takeLocalCursors(); // local cursors are the statement's own
        runBatch(call.params[0].value.s, sink, DoneKind::DoneInProc, &err);
        endBatchCursors();
        m_cursors.merge(savedCursors);
        dropTableVariables({});
        // EXEC sp_executesql ... @p = @v OUTPUT in a batch: the values go back
        // to the caller's variables; from a client's RPC: into RETURNVALUE tokens.
        for (const std::string &n : outNames) {
            const Value v = m_vars.count(n) ? m_vars[n].second : Value::null();
            if (m_rpcOutputs) (*m_rpcOutputs)[n] = v;
            else sink.outputValue(n, v);
        }
        m_vars = saved;
        m_tableVars = std::move(savedTables);
        sink.returnStatus(err ? 1 : 0);
        sink.done(DoneKind::DoneProc, err, false, 0);
        m_sink = savedSink;
        return;
    }
    std::vector<std::pair<std::string, Value>> args;
    for (const auto &p : call.params) args.push_back({lower(p.name), p.value});
    buffered(r, [&](Run &b) { return runProc(proc, args, b, 1); });
    m_sink = savedSink;
}

std::vector<std::pair<std::string, Value>> SessionImpl::procArgs(const Stmt &s, const std::vector<Token> &toks)
{
    std::vector<std::pair<std::string, Value>> out;
    for (const auto &a : s.args) {
        const Token &k = toks[a.tok];
        Value v;
        if (k.kind == Token::String || k.kind == Token::NString)
            v = Value::text(k.kind == Token::String ? throughCodePage(k.value) : k.value); // '...' is varchar
        else if (k.kind == Token::Number || k.isOp("-")) {
            std::string txt = k.isOp("-") ? "-" + toks[a.tok + 1].value : k.value;
            if (txt.find_first_of(".eE") == std::string::npos) v = Value::integer(std::atoll(txt.c_str()));
            else v = Value::real(std::atof(txt.c_str()));
        } else if (k.kind == Token::Variable) {
            bool found = false;
            v = variable(k.value, &found);
            if (!found) throw makeError(137, 15, "Must declare the scalar variable \"" + k.text + "\".", true);
        } else if (k.isWord("NULL") || k.isWord("DEFAULT")) v = Value::null();
        else if (k.kind == Token::Binary) v = Value::blob(k.value);
        else v = Value::text(k.value); // bare word: a name given without quotes
        out.push_back({a.paramName, v});
    }
    return out;
}

SessionImpl::Flow SessionImpl::runExec(const Stmt &s, Run &r)
{
    if (s.name.empty()) {
        // EXEC ('...'): the string runs as a batch of its own.
        Value v;
        try {
            v = eval(r.toks, s.condBegin, s.condEnd);
        } catch (const SqlError &e) {
            report(r, e, s.line);
            done(r, true, false, 0);
            return e.abortBatch ? Flow::Abort : Flow::Next;
        }
        bool err = false;
        // The string is a batch of its own: the caller's variables are not visible in it.
        auto savedVars = std::move(m_vars);
        auto savedTables = std::move(m_tableVars);
        m_vars.clear();
        m_tableVars.clear();
        auto savedCursors = takeLocalCursors();
        runBatch(valueText(v), r.sink, r.done, &err);
        endBatchCursors();
        m_cursors.merge(savedCursors);
        dropTableVariables({});
        m_vars = std::move(savedVars);
        m_tableVars = std::move(savedTables);
        r.anyDone = true;
        if (err) r.anyError = true;
        return Flow::Next;
    }
    std::vector<std::pair<std::string, Value>> args;
    try {
        args = procArgs(s, r.toks);
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return Flow::Abort;
    }
    std::string proc = lower(s.name);
    if (proc == "sp_executesql") {
        RpcCall call;
        call.procName = proc;
        for (size_t k = 0; k < args.size(); ++k) {
            RpcParam p;
            p.name = args[k].first;
            p.value = args[k].second;
            p.output = s.args[k].output;
            call.params.push_back(p);
        }
        // Statements inside report DONEINPROC, the call itself DONEPROC.
        std::map<std::string, Value> outputs;
        m_rpcOutputs = &outputs;
        executeRpc(call, r.sink);
        m_rpcOutputs = nullptr;
        for (const auto &a : s.args) {
            const Token &v = r.toks[a.tok];
            if (a.output && v.kind == Token::Variable && outputs.count(lower(a.paramName)))
                guarded(s, r, [&]() { setVariable(v.value, outputs[lower(a.paramName)]); return Flow::Next; });
        }
        r.anyDone = true;
        return Flow::Next;
    }
    Run inner{r.sink, r.toks, DoneKind::DoneInProc};
    Flow f = buffered(inner, [&](Run &b) { return runProc(proc, args, b, s.line); });
    r.anyDone = true;
    if (inner.anyError) r.anyError = true;
    return f;
}

} // namespace ts
