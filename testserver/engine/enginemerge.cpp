// MERGE, emulated: the source rows go to temp."__dv_msrc", each (source,
// target) pair with the clause that acts on it to temp."__dv_mpair"; then each
// clause runs as the UPDATE, DELETE or INSERT it stands for (firing that
// statement's triggers), all within one savepoint so a failure leaves nothing.
#include "engine/enginesession.h"

namespace ts {

namespace {

const std::string kSrc = "temp.\"__dv_msrc\"";
const std::string kPairs = "temp.\"__dv_mpair\"";

// Passes everything on but the last DONE: an action run as its own statement
// ends with a DONE that the MERGE's own DONE replaces.
class ActionSink : public ResultSink {
public:
    explicit ActionSink(ResultSink &target) : m_target(target) {}
    void columns(const std::vector<ColumnDef> &c) override { flush(); m_target.columns(c); }
    void row(const std::vector<Value> &v) override { flush(); m_target.row(v); }
    void message(const Message &m) override { flush(); m_target.message(m); }
    void done(DoneKind k, bool e, bool h, uint64_t c) override
    {
        flush();
        m_pending = [=](ResultSink &s) { s.done(k, e, h, c); };
    }
    void databaseChanged(const std::string &o, const std::string &n) override { flush(); m_target.databaseChanged(o, n); }
    void returnStatus(int32_t st) override { flush(); m_target.returnStatus(st); }
    bool cancelled() const override { return m_target.cancelled(); }

private:
    void flush()
    {
        if (m_pending) m_pending(m_target);
        m_pending = nullptr;
    }
    ResultSink &m_target;
    std::function<void(ResultSink &)> m_pending;
};

// CASE WHEN cond THEN k ... END over the clauses of one kind; "" when there is none.
std::string clauseCase(const MergePlan &p, MergePlan::Clause::When when)
{
    std::string s;
    for (size_t k = 0; k < p.clauses.size(); ++k) {
        if (p.clauses[k].when != when) continue;
        s += " WHEN " + (p.clauses[k].cond.empty() ? std::string("1") : "(" + p.clauses[k].cond + ")") + " THEN "
            + std::to_string(k);
    }
    return s.empty() ? s : "CASE" + s + " END";
}

// The statement clause `k` stands for, over the pairs it acts on.
std::string actionSql(const MergePlan &p, size_t k)
{
    const MergePlan::Clause &c = p.clauses[k];
    const std::string &S = p.sourceAlias, &T = p.targetAlias;
    const std::string act = "\"__dv_p\".act = " + std::to_string(k);
    if (c.verb == "DELETE")
        return "DELETE FROM " + p.target + " WHERE rowid IN (SELECT trid FROM " + kPairs + " AS \"__dv_p\" WHERE " + act + ")";
    if (c.verb == "UPDATE")
        return "UPDATE " + p.target + " AS " + T + " SET " + c.set + " FROM (SELECT \"__dv_p\".trid AS \"__dv_trid\", " + S
            + ".* FROM " + kPairs + " AS \"__dv_p\" LEFT JOIN " + kSrc + " AS " + S + " ON " + S + ".rowid = \"__dv_p\".srid WHERE "
            + act + ") AS " + S + " WHERE " + T + ".rowid = " + S + ".\"__dv_trid\"";
    return "INSERT INTO " + p.target + " " + c.columns + " SELECT " + c.values + " FROM " + kPairs + " AS \"__dv_p\" JOIN "
        + kSrc + " AS " + S + " ON " + S + ".rowid = \"__dv_p\".srid WHERE " + act + " ORDER BY \"__dv_p\".rowid";
}

} // namespace

bool SessionImpl::mergeExec(const std::string &sql, const std::vector<Value> &params, std::string *err)
{
    sqlite3_stmt *st = nullptr;
    if (!prepare(sql, params, &st, err)) return false;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {}
    if (rc != SQLITE_DONE) *err = sqlite3_errmsg(m_conn);
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
}

void SessionImpl::mergeCleanup()
{
    execSimple("DROP TABLE IF EXISTS temp.\"__dv_msrc\"");
    execSimple("DROP TABLE IF EXISTS temp.\"__dv_mpair\"");
    execSimple("DROP TABLE IF EXISTS temp.\"__dv_mold\"");
}

// The source rows, the pairs and the clause each pair falls to, as SQL Server
// decides them before it changes anything; `duplicate` when a target row
// that an UPDATE or DELETE acts on matched more than one source row.
bool SessionImpl::mergePrepare(const MergePlan &p, std::string *err, bool *duplicate)
{
    const std::vector<Value> &params = p.tr.params;
    const std::string &S = p.sourceAlias, &T = p.targetAlias;
    mergeCleanup();
    if (!mergeExec("CREATE TEMP TABLE \"__dv_msrc\" AS " + p.source, params, err)) return false;
    execSimple("CREATE TEMP TABLE \"__dv_mpair\" (srid INTEGER, trid INTEGER, act INTEGER, verb TEXT, nrid INTEGER)");
    std::vector<std::string> steps = {
        "INSERT INTO " + kPairs + " (srid, trid) SELECT " + S + ".rowid, " + T + ".rowid FROM " + kSrc + " AS " + S + " JOIN "
            + p.target + " AS " + T + " ON " + p.on + " WHERE 1"};
    const std::string matched = clauseCase(p, MergePlan::Clause::Matched);
    const std::string byTarget = clauseCase(p, MergePlan::Clause::NotMatchedByTarget);
    const std::string bySource = clauseCase(p, MergePlan::Clause::NotMatchedBySource);
    if (!matched.empty())
        steps.push_back("UPDATE " + kPairs + " SET act = (SELECT " + matched + " FROM " + kSrc + " AS " + S + ", " + p.target
                        + " AS " + T + " WHERE " + S + ".rowid = \"__dv_mpair\".srid AND " + T + ".rowid = \"__dv_mpair\".trid)");
    if (!byTarget.empty())
        steps.push_back("INSERT INTO " + kPairs + " (srid, act) SELECT " + S + ".rowid, " + byTarget + " FROM " + kSrc + " AS "
                        + S + " WHERE " + S + ".rowid NOT IN (SELECT srid FROM " + kPairs + ")");
    if (!bySource.empty())
        steps.push_back("INSERT INTO " + kPairs + " (trid, act) SELECT " + T + ".rowid, " + bySource + " FROM " + p.target
                        + " AS " + T + " WHERE " + T + ".rowid NOT IN (SELECT trid FROM " + kPairs + " WHERE trid IS NOT NULL)");
    steps.push_back("DELETE FROM " + kPairs + " WHERE act IS NULL");
    if (!p.top.empty())
        steps.push_back("DELETE FROM " + kPairs + " WHERE rowid NOT IN (SELECT rowid FROM " + kPairs
                        + " ORDER BY rowid LIMIT max(0, (" + p.top + ")))");
    std::string verbs;
    for (size_t k = 0; k < p.clauses.size(); ++k) verbs += " WHEN " + std::to_string(k) + " THEN '" + p.clauses[k].verb + "'";
    steps.push_back("UPDATE " + kPairs + " SET verb = CASE act" + verbs + " END");
    steps.push_back("UPDATE " + kPairs + " SET nrid = trid WHERE verb = 'UPDATE'");
    for (const auto &sql : steps)
        if (!mergeExec(sql, params, err)) return false;
    if (lookup("SELECT 1 FROM " + kPairs + " WHERE trid IS NOT NULL GROUP BY trid HAVING count(*) > 1", {})) {
        *duplicate = true;
        return false;
    }
    if (p.tr.output)
        return mergeExec("CREATE TEMP TABLE \"__dv_mold\" AS SELECT rowid AS \"__dv_rid\", * FROM " + p.target
                         + " WHERE rowid IN (SELECT trid FROM " + kPairs + ")", {}, err);
    return true;
}

// One clause's action as its own statement: with the target's triggers for
// that action when it has any. Adds the rows it changed to `rows`; an
// SQLite failure leaves its text in `err` and returns Abort before reporting.
SessionImpl::Flow SessionImpl::mergeAction(const Stmt &s, const MergePlan &p, size_t clause, Run &r, int64_t *rows,
                                           std::string *err)
{
    const MergePlan::Clause &c = p.clauses[clause];
    if (!lookup("SELECT 1 FROM " + kPairs + " WHERE act = " + std::to_string(clause), {})) return Flow::Next;
    Translation tr = p.tr;
    tr.verb = c.verb;
    tr.output = false;
    tr.intoSql.clear();
    tr.outputCols.clear();
    tr.sql = {actionSql(p, clause)};
    if (c.verb == "INSERT" && c.columns.empty()) tr.sql = {"INSERT INTO " + p.target + " DEFAULT VALUES"};
    const std::string maxRow = lookup("SELECT coalesce(max(rowid), 0) FROM " + p.target, {}).value_or("0");
    bool any = false;
    std::vector<TriggerDef> triggers;
    if (tr.schema != "temp") triggers = triggersFor(tr.schema, tr.targetInternal, c.verb, &any);
    const int64_t repeat = c.verb == "INSERT" && c.columns.empty()
        ? std::stoll(lookup("SELECT count(*) FROM " + kPairs + " WHERE act = " + std::to_string(clause), {}).value_or("0"))
        : 1;
    for (int64_t n = 0; n < repeat; ++n) {
        if (!triggers.empty()) {
            ActionSink sink(r.sink);
            Run ar{sink, r.toks, r.done};
            ar.rpc = r.rpc;
            m_stmtFailed = false;
            Flow f = runWithTriggers(s, tr, triggers, ar);
            r.anyError = r.anyError || ar.anyError;
            if (f != Flow::Next || m_stmtFailed) return f == Flow::Next ? Flow::Return : f;
            *rows += m_rowcount;
        } else {
            if (!mergeExec(tr.sql.back(), tr.params, err)) return Flow::Abort;
            *rows += sqlite3_changes(m_conn);
        }
    }
    if (c.verb != "INSERT") return Flow::Next;
    // The new rows, in the order of the pairs that made them.
    std::vector<int64_t> pairs, made;
    auto ids = [&](const std::string &sql, std::vector<int64_t> &out) {
        sqlite3_stmt *q = nullptr;
        if (sqlite3_prepare_v2(m_conn, sql.c_str(), -1, &q, nullptr) == SQLITE_OK)
            while (sqlite3_step(q) == SQLITE_ROW) out.push_back(sqlite3_column_int64(q, 0));
        sqlite3_finalize(q);
    };
    ids("SELECT rowid FROM " + kPairs + " WHERE act = " + std::to_string(clause) + " ORDER BY rowid", pairs);
    ids("SELECT rowid FROM " + p.target + " WHERE rowid > " + maxRow + " ORDER BY rowid", made);
    for (size_t k = 0; k < pairs.size() && k < made.size(); ++k)
        execSimple("UPDATE " + kPairs + " SET nrid = " + std::to_string(made[k]) + " WHERE rowid = " + std::to_string(pairs[k]));
    auto meta = table(tr.schema, tr.targetInternal);
    if (meta && meta->hasIdentity() && *rows > 0) m_identity = m_scopeIdentity = Value::integer(sqlite3_last_insert_rowid(m_conn));
    return Flow::Next;
}

// OUTPUT: one row per action, in the order of the pairs.
SessionImpl::Flow SessionImpl::mergeOutput(const MergePlan &p, Run &r, int line)
{
    const std::string &S = p.sourceAlias;
    const std::string sql = "SELECT " + p.output + " FROM " + kPairs + " AS \"__dv_p\" LEFT JOIN " + kSrc + " AS " + S + " ON "
        + S + ".rowid = \"__dv_p\".srid LEFT JOIN temp.\"__dv_mold\" AS \"deleted\" ON \"deleted\".\"__dv_rid\" = \"__dv_p\".trid "
        "LEFT JOIN " + p.target + " AS \"inserted\" ON \"inserted\".rowid = \"__dv_p\".nrid ORDER BY \"__dv_p\".rowid";
    sqlite3_stmt *st = nullptr;
    std::string err;
    if (!prepare(sql, p.tr.params, &st, &err)) {
        SqlError e = mapSqliteError(err, p.tr);
        report(r, e, line);
        done(r, true, false, 0);
        return Flow::Abort;
    }
    Flow f = runOutput(st, p.tr, r, line);
    sqlite3_finalize(st);
    return f;
}

// A bare OUTPUT on a target with enabled triggers for one of the actions is refused (334).
bool SessionImpl::mergeTriggered(const MergePlan &p, Run &r, int line)
{
    if (!p.tr.output || !p.tr.intoSql.empty() || p.tr.schema == "temp") return false;
    bool any = false;
    for (const auto &c : p.clauses) {
        bool enabled = false;
        triggersFor(p.tr.schema, p.tr.targetInternal, c.verb, &enabled);
        any = any || enabled;
    }
    if (!any) return false;
    m_stmtFailed = true;
    message(r, 334, 16, "The target table '" + p.tr.table + "' of the DML statement cannot have any enabled triggers if "
            "the statement contains an OUTPUT clause without INTO clause.", line);
    done(r, true, false, 0);
    return true;
}

SessionImpl::Flow SessionImpl::runMerge(const Stmt &s, Run &r)
{
    MergePlan p;
    try {
        Translator t(r.toks, this, m_engine->opts.compat2000);
        size_t i = s.begin;
        p = t.translateMerge(i);
    } catch (const SqlError &e) {
        m_stmtFailed = true;
        report(r, e, s.line);
        done(r, true, false, 0);
        detachAll();
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    if (refuseInDoomed(r, s.line) || mergeTriggered(p, r, s.line)) return Flow::Next;
    // The MERGE and the triggers of its actions are one transaction.
    openTransaction();
    const bool implicit = m_trancount == 0;
    if (implicit) {
        execSimple("BEGIN");
        m_txnOpen = true;
        m_trancount = 1;
    }
    execSimple("SAVEPOINT dvmerge");
    auto undo = [&] {
        if (m_txnOpen) execSimple("ROLLBACK TO dvmerge; RELEASE dvmerge");
        mergeCleanup();
        if (implicit && m_trancount == 1) endTransaction(false);
    };
    auto fail = [&](const SqlError &e) {
        undo();
        if (e.msg.number == 0) return Flow::Cancelled;
        m_stmtFailed = true;
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    };
    std::string err;
    bool duplicate = false;
    if (!mergePrepare(p, &err, &duplicate))
        return fail(duplicate ? makeError(8672, 16, "The MERGE statement attempted to UPDATE or DELETE the same row more than once. "
                                          "This happens when a target row matches more than one source row. A MERGE statement "
                                          "cannot UPDATE/DELETE the same row of the target table multiple times. Refine the ON "
                                          "clause to ensure a target row matches at most one source row, or use the GROUP BY "
                                          "clause to group the source rows.")
                              : mapSqliteError(err, p.tr));
    int64_t rows = 0;
    // Updates and deletes before inserts, so an inserted key may replace a deleted one.
    for (const char *verb : {"UPDATE", "DELETE", "INSERT"}) {
        for (size_t k = 0; k < p.clauses.size(); ++k) {
            if (p.clauses[k].verb != verb) continue;
            Flow f = mergeAction(s, p, k, r, &rows, &err);
            if (f == Flow::Next) continue;
            if (f == Flow::Abort && !err.empty()) {
                Translation tr = p.tr;
                tr.verb = verb;
                return fail(mapSqliteError(err, tr));
            }
            // A trigger failed or ended the transaction: it has reported why.
            undo();
            done(r, true, false, 0);
            return f == Flow::Return ? Flow::Next : f;
        }
    }
    Flow f = Flow::Next;
    if (p.tr.output) {
        f = mergeOutput(p, r, s.line);
        if (f != Flow::Next) { undo(); return f; }
    }
    mergeCleanup();
    execSimple("RELEASE dvmerge");
    if (implicit && m_trancount == 1) endTransaction(true);
    m_rowcount = p.tr.output && m_engine->opts.rowcountZeroAfterOutput ? 0 : rows;
    m_error = 0;
    m_stmtFailed = false;
    if (!p.tr.output) done(r, false, true, uint64_t(rows));
    return f;
}

} // namespace ts
