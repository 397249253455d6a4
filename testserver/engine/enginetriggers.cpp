// T-SQL triggers: CREATE/ALTER/DROP/ENABLE/DISABLE TRIGGER, and statements
// on a table with triggers. A statement's rows are captured by temporary
// SQLite triggers, then each T-SQL trigger runs once for the statement with
// `inserted` and `deleted` as tables in temp. INSTEAD OF triggers see the rows
// the statement would have written; the statement itself is rolled back.
#include "engine/enginesession.h"

namespace ts {

namespace {

// A value handed to dv_capture().
Value capturedValue(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return Value::integer(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return Value::real(sqlite3_value_double(v));
    case SQLITE_TEXT:
        return Value::text(std::string(reinterpret_cast<const char *>(sqlite3_value_text(v)), size_t(sqlite3_value_bytes(v))));
    case SQLITE_BLOB: {
        const char *p = static_cast<const char *>(sqlite3_value_blob(v));
        return Value::blob(std::string(p ? p : "", size_t(sqlite3_value_bytes(v))));
    }
    default: return Value::null();
    }
}

bool hasEvent(const std::string &events, const std::string &verb)
{
    size_t p = 0;
    while (p <= events.size()) {
        size_t c = events.find(',', p);
        if (events.substr(p, c == std::string::npos ? std::string::npos : c - p) == verb) return true;
        if (c == std::string::npos) break;
        p = c + 1;
    }
    return false;
}

} // namespace

void SessionImpl::capture(bool inserted, int argc, sqlite3_value **argv)
{
    if (argc < 1) return;
    int64_t rowid = sqlite3_value_int64(argv[0]);
    auto &rows = inserted ? m_capInserted : m_capDeleted;
    // A row changed twice in one statement (SQLite's own AFTER triggers tidy
    // stored values) counts once, with its first old values.
    for (const auto &row : rows) if (row.first == rowid) return;
    std::vector<Value> values;
    for (int k = 1; k < argc; ++k) values.push_back(capturedValue(argv[k]));
    rows.push_back({rowid, std::move(values)});
}

bool SessionImpl::pseudoTable(const std::string &lowerName, std::string *sqlName)
{
    if (m_firing.empty()) return false;
    const Firing &f = m_firing.back();
    if (sqlName) *sqlName = lowerName == "inserted" ? f.inserted : f.deleted;
    return true;
}

std::string SessionImpl::resolveOwner(const std::string &schema, const std::string &name)
{
    if (!schema.empty()) return schema;
    std::string def = defaultSchema();
    if (!iequals(def, "dbo") && !objectType("main", internalName(def, name)).empty()) return def;
    return "dbo";
}

std::vector<SessionImpl::TriggerDef> SessionImpl::triggersFor(const std::string &schema, const std::string &table,
                                                              const std::string &verb, bool *anyEnabled)
{
    std::vector<TriggerDef> out;
    *anyEnabled = false;
    sqlite3_stmt *st = nullptr;
    std::string q = quoteIdent(schema);
    std::string sql = "SELECT o.name, o.definition, t.is_instead_of, t.events FROM " + q + ".__dv_tables o JOIN " + q
        + ".__dv_triggers t ON t.name = o.name WHERE o.type = 'TR' AND o.parent = ?1 AND t.is_disabled = 0 ORDER BY o.object_id";
    if (sqlite3_prepare_v2(m_conn, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return out;
    }
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    const std::string key = schema + "." + table;
    // RECURSIVE_TRIGGERS OFF: a trigger's write to its own table fires no trigger
    // of that table again, except that an INSTEAD OF trigger's own write fires
    // the AFTER triggers.
    const Firing *running = m_firing.empty() ? nullptr : &m_firing.back();
    bool ownTable = running && running->table == key;
    std::vector<TriggerDef> after, instead;
    while (sqlite3_step(st) == SQLITE_ROW) {
        TriggerDef t;
        t.name = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        const unsigned char *body = sqlite3_column_text(st, 1);
        t.body = body ? reinterpret_cast<const char *>(body) : "";
        t.insteadOf = sqlite3_column_int(st, 2) != 0;
        const unsigned char *ev = sqlite3_column_text(st, 3);
        if (!ev || !hasEvent(reinterpret_cast<const char *>(ev), verb)) continue;
        // Only a trigger on this statement's action forbids a bare OUTPUT (334):
        // an INSERT trigger does not stop UPDATE … OUTPUT.
        *anyEnabled = true;
        if (ownTable && (t.insteadOf || !running->insteadOf)) continue;
        (t.insteadOf ? instead : after).push_back(t);
    }
    sqlite3_finalize(st);
    if (!instead.empty()) return {instead.front()};
    return after;
}

SessionImpl::Flow SessionImpl::runTriggerBody(const TriggerDef &t, Run &r)
{
    std::vector<Token> toks;
    if (!tokenize(t.body, toks)) return Flow::Abort;
    std::vector<Stmt> stmts;
    try {
        Translator tr(toks, nullptr, m_engine->opts.compat2000);
        stmts = tr.parseBatch();
    } catch (const SqlError &e) {
        report(r, e, e.msg.line);
        return Flow::Abort;
    }
    // The body is its own scope: its variables and table variables are its own.
    auto savedVars = std::move(m_vars);
    auto savedTableVars = m_tableVars;
    m_vars.clear();
    Run br{r.sink, toks, DoneKind::DoneInProc};
    Flow f = Flow::Next;
    for (const auto &s : stmts) {
        if (r.sink.cancelled()) { f = Flow::Cancelled; break; }
        f = run(s, br);
        if (f != Flow::Next) break;
    }
    dropTableVariables(savedTableVars);
    m_vars = std::move(savedVars);
    r.anyError = r.anyError || br.anyError;
    return f == Flow::Return ? Flow::Next : f;
}

// Runs the statement with temporary triggers that capture the rowid (and,
// for UPDATE and DELETE, the old values) of each row it touches; OUTPUT ...
// INTO rows go to their table. Returns SQLite's result code, the changed
// row count in `rows` and the failure's text in `err`.
int SessionImpl::runCaptured(const Translation &tr, const TableMeta &meta, const std::string &target,
                             const std::string &level, bool insteadOf, int64_t *rows, std::string *err)
{
    std::string oldCols;
    for (const auto &c : meta.columns) oldCols += ", OLD." + quoteIdent(c.name);
    const std::string capIns = quoteIdent("__dv_cap_i" + level), capDel = quoteIdent("__dv_cap_d" + level);
    const std::string on = tr.verb == "INSERT" ? "INSERT" : tr.verb == "UPDATE" ? "UPDATE" : "DELETE";
    if (tr.verb != "DELETE")
        execSimple("CREATE TEMP TRIGGER " + capIns + " AFTER " + on + " ON " + target
                   + " BEGIN SELECT dv_capture(1, NEW.rowid); END");
    if (tr.verb != "INSERT")
        execSimple("CREATE TEMP TRIGGER " + capDel + " AFTER " + on + " ON " + target
                   + " BEGIN SELECT dv_capture(0, OLD.rowid" + oldCols + "); END");
    m_capInserted.clear();
    m_capDeleted.clear();
    sqlite3_stmt *st = nullptr;
    int rc = SQLITE_ERROR;
    std::vector<std::vector<Value>> outputRows; // OUTPUT ... INTO
    {
        OldRows oldRows(this, tr);
        if (prepare(tr.sql.back(), tr.params, &st, err)) {
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
                std::vector<Value> row;
                for (int c = 0; c < sqlite3_column_count(st); ++c) row.push_back(columnValue(st, c));
                outputRows.push_back(std::move(row));
            }
            if (rc != SQLITE_DONE) *err = sqlite3_errmsg(m_conn);
        }
        *rows = rc == SQLITE_DONE ? sqlite3_changes(m_conn) : 0;
        sqlite3_finalize(st);
    }
    // Under an INSTEAD OF trigger the rows go in after the statement is undone:
    // OUTPUT gives them as if the statement had run.
    if (rc == SQLITE_DONE && !tr.intoSql.empty()) {
        if (insteadOf) m_insteadOutput = std::move(outputRows);
        else if (!insertOutputRows(tr, outputRows, err)) rc = SQLITE_ERROR;
    }
    execSimple("DROP TRIGGER IF EXISTS temp." + capIns);
    execSimple("DROP TRIGGER IF EXISTS temp." + capDel);
    return rc;
}

// The captured rows: the new ones as stored (defaults, computed columns,
// rowversion included), the old ones as they were.
void SessionImpl::takeCapturedRows(const std::string &target, const TableMeta &meta,
                                   std::vector<std::vector<Value>> &inserted, std::vector<std::vector<Value>> &deleted)
{
    std::string cols;
    for (const auto &c : meta.columns) cols += (cols.empty() ? "" : ", ") + quoteIdent(c.name);
    sqlite3_stmt *q = nullptr;
    if (sqlite3_prepare_v2(m_conn, ("SELECT " + cols + " FROM " + target + " WHERE rowid = ?1").c_str(), -1, &q, nullptr) == SQLITE_OK) {
        for (const auto &row : m_capInserted) {
            sqlite3_reset(q);
            sqlite3_bind_int64(q, 1, row.first);
            if (sqlite3_step(q) != SQLITE_ROW) continue;
            std::vector<Value> v;
            for (int c = 0; c < sqlite3_column_count(q); ++c) v.push_back(columnValue(q, c));
            inserted.push_back(std::move(v));
        }
    }
    sqlite3_finalize(q);
    for (auto &row : m_capDeleted) deleted.push_back(std::move(row.second));
    m_capInserted.clear();
    m_capDeleted.clear();
}

// inserted and deleted: tables in temp with the target's columns, filled
// with the captured rows, for the triggers fired at nesting `level`.
SessionImpl::Firing SessionImpl::createPseudoTables(const Translation &tr, const TableMeta &meta, bool insteadOf,
                                                    const std::string &level,
                                                    const std::vector<std::vector<Value>> &inserted,
                                                    const std::vector<std::vector<Value>> &deleted)
{
    Firing firing;
    firing.table = tr.schema + "." + tr.targetInternal;
    firing.insteadOf = insteadOf;
    firing.inserted = "__dv_inserted" + level;
    firing.deleted = "__dv_deleted" + level;
    firing.meta = meta;
    for (auto &c : firing.meta.columns) { c.identity = false; c.computed.clear(); c.pkOrdinal = 0; }
    for (const auto &[sqlName, data] : {std::make_pair(firing.inserted, &inserted), std::make_pair(firing.deleted, &deleted)}) {
        std::string ddl, marks;
        for (const auto &c : firing.meta.columns) {
            ddl += (ddl.empty() ? "" : ", ") + quoteIdent(c.name) + " " + sqliteDecl(c);
            marks += std::string(marks.empty() ? "" : ", ") + "?";
        }
        execSimple("DROP TABLE IF EXISTS temp." + quoteIdent(sqlName));
        execSimple("CREATE TABLE temp." + quoteIdent(sqlName) + " (" + ddl + ")");
        for (const auto &row : *data) {
            sqlite3_stmt *ins = nullptr;
            std::string ignored;
            if (prepare("INSERT INTO temp." + quoteIdent(sqlName) + " VALUES (" + marks + ")", row, &ins, &ignored))
                sqlite3_step(ins);
            sqlite3_finalize(ins);
        }
    }
    return firing;
}

void SessionImpl::dropPseudoTables(const Firing &firing)
{
    execSimple("DROP TABLE IF EXISTS temp." + quoteIdent(firing.inserted));
    execSimple("DROP TABLE IF EXISTS temp." + quoteIdent(firing.deleted));
}

// Runs the triggers one level deeper with `firing` as their inserted and
// deleted tables; `failed` when one of them (or one it fired) failed.
SessionImpl::Flow SessionImpl::fireTriggers(const std::vector<TriggerDef> &triggers, const Firing &firing, Run &r, bool *failed)
{
    m_firing.push_back(firing);
    ++m_nestLevel;
    const Value scope = m_scopeIdentity;
    Flow f = Flow::Next;
    for (const auto &t : triggers) {
        m_stmtFailed = false;
        f = runTriggerBody(t, r);
        if (f == Flow::Cancelled) break;
        // A run-time error in a trigger (also in one it fired) ends the batch and undoes the transaction.
        if (f == Flow::Abort || m_stmtFailed) { *failed = true; break; }
        if (m_trancount == 0) break; // ROLLBACK in the trigger
    }
    --m_nestLevel;
    m_firing.pop_back();
    m_scopeIdentity = scope;
    return f;
}

// The statement an INSTEAD OF trigger replaces is undone; its OUTPUT ... INTO
// rows, kept by runCaptured, then go to their table (none without INTO).
bool SessionImpl::insteadOfOutput(const Translation &tr, std::string *err)
{
    execSimple("ROLLBACK TO dvtrig");
    std::vector<std::vector<Value>> rows = std::move(m_insteadOutput);
    m_insteadOutput.clear();
    return insertOutputRows(tr, rows, err);
}

SessionImpl::Flow SessionImpl::runWithTriggers(const Stmt &s, const Translation &tr, const std::vector<TriggerDef> &triggers, Run &r)
{
    auto fail = [&](int number, const std::string &text) {
        m_stmtFailed = true;
        message(r, number, 16, text, s.line);
        done(r, true, false, 0);
        return Flow::Abort;
    };
    if (m_nestLevel >= 32)
        return fail(217, "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).");
    std::optional<TableMeta> meta = table(tr.schema, tr.targetInternal);
    if (!meta) return fail(208, "Invalid object name '" + tr.table + "'.");
    const bool insteadOf = triggers.front().insteadOf;
    // The statement and its triggers are one transaction (ROLLBACK in a trigger undoes both).
    openTransaction();
    bool implicitTxn = false;
    if (m_trancount == 0) {
        execSimple("BEGIN");
        m_txnOpen = true;
        m_trancount = 1;
        implicitTxn = true;
    }
    auto endImplicit = [&](bool commit) {
        if (implicitTxn && m_trancount == 1) endTransaction(commit);
    };
    execSimple("SAVEPOINT dvtrig");
    const std::string target = quoteIdent(tr.schema) + "." + quoteIdent(tr.targetInternal);
    const std::string level = std::to_string(m_nestLevel);
    std::string err;
    int64_t rows = 0;
    m_insteadOutput.clear();
    std::vector<std::vector<Value>> inserted, deleted;
    const int rc = runCaptured(tr, *meta, target, level, insteadOf, &rows, &err);
    if (rc == SQLITE_DONE) takeCapturedRows(target, *meta, inserted, deleted);
    if (rc != SQLITE_DONE || (insteadOf && !insteadOfOutput(tr, &err))) {
        execSimple("ROLLBACK TO dvtrig; RELEASE dvtrig");
        endImplicit(false);
        SqlError e = mapSqliteError(err, tr);
        if (e.msg.number == 0) return Flow::Cancelled;
        m_stmtFailed = true;
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    if (insteadOf) {
        // The trigger acts instead: the statement leaves no trace (but its OUTPUT ... INTO rows), its count stays.
        rows = int64_t(tr.verb == "DELETE" ? deleted.size() : inserted.size());
    } else if (tr.verb == "INSERT" && rows > 0 && meta->hasIdentity()) {
        m_identity = m_scopeIdentity = Value::integer(sqlite3_last_insert_rowid(m_conn));
    }
    const Firing firing = createPseudoTables(tr, *meta, insteadOf, level, inserted, deleted);
    bool failed = false;
    Flow f = fireTriggers(triggers, firing, r, &failed);
    if (m_trancount == 0 && !failed && f != Flow::Cancelled) {
        dropPseudoTables(firing);
        return fail(3609, "The transaction ended in the trigger. The batch has been aborted.");
    }
    if (failed || f == Flow::Cancelled) {
        endTransaction(false);
        dropPseudoTables(firing);
        m_stmtFailed = true;
        done(r, true, false, 0);
        return f == Flow::Cancelled ? Flow::Cancelled : Flow::Abort;
    }
    dropPseudoTables(firing);
    execSimple("RELEASE dvtrig");
    endImplicit(true);
    m_rowcount = tr.output && m_engine->opts.rowcountZeroAfterOutput ? 0 : rows;
    m_error = 0;
    m_stmtFailed = false;
    done(r, false, true, uint64_t(rows));
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runTriggerDdl(const Stmt &s, Run &r)
{
    const Stmt::Trigger &tg = s.trigger;
    auto fail = [&](int number, int severity, const std::string &text) {
        m_stmtFailed = true;
        message(r, number, severity, text, s.line);
        done(r, true, false, 0);
        return Flow::Next;
    };
    auto exec = [&](const std::string &sql, const std::vector<Value> &params) {
        sqlite3_stmt *st = nullptr;
        std::string ignored;
        bool ok = prepare(sql, params, &st, &ignored) && sqlite3_step(st) == SQLITE_DONE;
        sqlite3_finalize(st);
        return ok;
    };
    openTransaction();
    if (s.kind == Stmt::DropTrigger) {
        for (const auto &[schema, name] : tg.names) {
            std::string internal = internalName(resolveOwner(schema, name), name);
            if (objectType("main", internal) != "TR") {
                if (tg.ifExists) continue;
                return fail(3701, 11, "Cannot drop the trigger '" + (schema.empty() ? name : schema + "." + name)
                            + "', because it does not exist or you do not have permission.");
            }
            exec("DELETE FROM main.__dv_triggers WHERE name = ?1", {Value::text(internal)});
            exec("DELETE FROM main.__dv_tables WHERE name = ?1", {Value::text(internal)});
        }
        done(r, false, false, 0);
        return Flow::Next;
    }
    const std::string owner = resolveOwner(tg.tableSchema, tg.table);
    const std::string table = internalName(owner, tg.table);
    const std::string written = tg.tableSchema.empty() ? tg.table : tg.tableSchema + "." + tg.table;
    if (objectType("main", table) != "U") {
        if (s.kind == Stmt::EnableTrigger)
            return fail(1088, 16, "Cannot find the object \"" + written + "\" because it does not exist or you do not have permissions.");
        return fail(8197, 16, "The object '" + written + "' does not exist or is invalid for this operation.");
    }
    if (s.kind == Stmt::EnableTrigger) {
        std::vector<std::string> names;
        for (const auto &[schema, name] : tg.names) {
            std::string internal = internalName(schema.empty() ? owner : schema, name);
            auto parent = lookup("SELECT parent FROM main.__dv_tables WHERE name = ?1 AND type = 'TR'", {internal});
            if (!parent || !iequals(*parent, table))
                return fail(3701, 11, "Cannot find the object \"" + name + "\" because it does not exist or you do not have permissions.");
            names.push_back(internal);
        }
        Value flag = Value::integer(s.flag ? 0 : 1);
        if (tg.all)
            exec("UPDATE main.__dv_triggers SET is_disabled = ?1 WHERE name IN (SELECT name FROM main.__dv_tables WHERE type = 'TR' "
                 "AND parent = ?2)", {flag, Value::text(table)});
        for (const auto &n : names) exec("UPDATE main.__dv_triggers SET is_disabled = ?1 WHERE name = ?2", {flag, Value::text(n)});
        done(r, false, false, 0);
        return Flow::Next;
    }
    // CREATE / ALTER: the trigger lives in its table's schema.
    const std::string &trName = tg.names.front().second;
    const std::string internal = internalName(owner, trName);
    const std::string type = objectType("main", internal);
    if (!type.empty() && (type != "TR" || !tg.alter))
        return fail(2714, 16, "There is already an object named '" + trName + "' in the database.");
    if (type.empty() && !tg.create) return fail(208, 16, "Invalid object name '" + trName + "'.");
    Value instead = Value::integer(tg.insteadOf ? 1 : 0);
    if (type.empty()) {
        exec("INSERT INTO main.__dv_tables(name, object_id, create_date, schema_name, obj_name, type, parent, definition) VALUES "
             "(?1, (SELECT coalesce(max(object_id), 901578250) + 16 FROM main.__dv_tables), dv_getdate(), ?2, ?3, 'TR', ?4, ?5)",
             {Value::text(internal), Value::text(owner), Value::text(trName), Value::text(table), Value::text(tg.body)});
        exec("INSERT OR REPLACE INTO main.__dv_triggers(name, is_disabled, is_instead_of, events) VALUES (?1, 0, ?2, ?3)",
             {Value::text(internal), instead, Value::text(tg.events)});
    } else {
        exec("UPDATE main.__dv_tables SET parent = ?2, definition = ?3 WHERE name = ?1",
             {Value::text(internal), Value::text(table), Value::text(tg.body)});
        exec("UPDATE main.__dv_triggers SET is_instead_of = ?2, events = ?3 WHERE name = ?1",
             {Value::text(internal), instead, Value::text(tg.events)});
    }
    done(r, false, false, 0);
    return Flow::Next;
}

} // namespace ts
