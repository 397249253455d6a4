// Table variables (SQLite tables in the connection's temp schema, dropped
// with the batch that declared them) and SELECT ... INTO.
#include "engine/enginesession.h"

namespace ts {

namespace {

std::string bracket(const std::string &name)
{
    std::string out = "[";
    for (char c : name) { out += c; if (c == ']') out += ']'; }
    return out + "]";
}

// The CREATE TABLE statement for SELECT ... INTO's new table from the query's
// result columns; `names` gets their quoted list. Throws 1038 for a column
// without a name and 2705 for a name given twice.
std::string intoTableDdl(const std::vector<ColumnDef> &cols, const std::string &target, std::string &names)
{
    std::string create = "CREATE TABLE " + target + " (";
    for (size_t k = 0; k < cols.size(); ++k) {
        const ColumnDef &c = cols[k];
        if (c.name.empty())
            throw makeError(1038, 15, "An object or column name is missing or empty. For SELECT INTO statements, verify each "
                            "column has a name. For other statements, look for empty alias names. Aliases defined as \"\" "
                            "or [] are not allowed. Change the alias to a valid name.", true);
        for (size_t j = 0; j < k; ++j)
            if (iequals(cols[j].name, c.name))
                throw makeError(2705, 16, "Column names in each table must be unique. Column name '" + c.name + "' in table '"
                                + target + "' is specified more than once.", true);
        if (k) { create += ", "; names += ", "; }
        ColumnDef sized = c; // an empty string's column is still one character wide
        if (sized.length >= 0) sized.length = std::max(1, sized.length);
        create += bracket(c.name) + " " + sqlTypeName(sized) + (c.identity ? " IDENTITY" : "") + (c.nullable ? " NULL" : " NOT NULL");
        names += quoteIdent(c.name);
    }
    return create + ")";
}

} // namespace

std::optional<TableMeta> SessionImpl::tableVariable(const std::string &lowerName, std::string *sqlName)
{
    auto it = m_tableVars.find(lowerName);
    if (it == m_tableVars.end()) return std::nullopt;
    if (sqlName) *sqlName = it->second.first;
    return it->second.second;
}

SessionImpl::Flow SessionImpl::runDeclareTable(const Stmt &s, Run &r)
{
    try {
        if (m_vars.count(s.name) || m_tableVars.count(s.name))
            throw makeError(134, 15, "The variable name '" + s.name + "' has already been declared. Variable names must be unique within a query batch or stored procedure.", true);
        std::string sqlName = "__dv_tv" + std::to_string(++m_tableVarSeq) + "_" + s.name.substr(1);
        Translator t(r.toks, this, m_engine->opts.compat2000);
        size_t i = s.condBegin;
        TableMeta meta;
        std::vector<std::string> ddl = t.tableVariable(i, sqlName, meta);
        for (const auto &sql : ddl) {
            std::string err;
            if (!execSimple(sql, &err)) throw makeError(8180, 16, "Statement(s) could not be prepared. " + err, true);
        }
        m_tableVars[s.name] = {sqlName, meta};
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    return Flow::Next;
}

void SessionImpl::dropTableVariables(const std::map<std::string, std::pair<std::string, TableMeta>> &keep)
{
    for (auto it = m_tableVars.begin(); it != m_tableVars.end();) {
        if (keep.count(it->first)) { ++it; continue; }
        if (m_conn) execSimple("DROP TABLE IF EXISTS \"temp\"." + quoteIdent(it->second.first));
        it = m_tableVars.erase(it);
    }
}

// SELECT ... INTO t: a new table with the result's columns, then its rows.
SessionImpl::Flow SessionImpl::runSelectInto(const Stmt &s, const Translation &tr, Run &r)
{
    auto fail = [&](const SqlError &e) {
        if (e.msg.number == 0) return Flow::Cancelled;
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    };
    if (m_trancount > 0 && !m_txnOpen) {
        execSimple("BEGIN");
        m_txnOpen = true;
    }
    // The columns come from the query itself (expressions are typed by their first value).
    sqlite3_stmt *st = nullptr;
    std::string err;
    if (!prepare(tr.sql.back(), tr.params, &st, &err)) return fail(mapSqliteError(err, tr));
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        std::string msg = sqlite3_errmsg(m_conn);
        sqlite3_finalize(st);
        return fail(mapSqliteError(msg, tr));
    }
    std::vector<ColumnDef> cols;
    std::map<std::string, std::optional<TableMeta>> cache;
    for (int c = 0; c < sqlite3_column_count(st); ++c) cols.push_back(describe(st, c, cache));
    applyResultTypes(st, tr.resultTypes, cols);
    sqlite3_finalize(st);
    std::string names;
    std::vector<Token> toks;
    Translation ddl;
    try {
        tokenize(intoTableDdl(cols, tr.intoTarget, names), toks);
        Translator t(toks, this, m_engine->opts.compat2000);
        ddl = t.translate(0);
    } catch (const SqlError &e) {
        return fail(e);
    }
    execSimple("SAVEPOINT dvinto");
    auto undo = [&](const std::string &msg, const Translation &which) {
        execSimple("ROLLBACK TO dvinto; RELEASE dvinto");
        return fail(mapSqliteError(msg, which));
    };
    for (const auto &sql : ddl.sql) {
        sqlite3_stmt *d = nullptr;
        if (!prepare(sql, ddl.params, &d, &err)) return undo(err, ddl);
        rc = sqlite3_step(d);
        std::string msg = sqlite3_errmsg(m_conn);
        sqlite3_finalize(d);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) return undo(msg, ddl);
    }
    // The stored name: a #table's carries the session, a schema's table its schema.
    std::string insert = "INSERT INTO " + quoteIdent(ddl.schema.empty() ? "main" : ddl.schema) + "."
        + quoteIdent(ddl.targetInternal) + " (" + names + ") " + tr.sql.back();
    if (!prepare(insert, tr.params, &st, &err)) return undo(err, tr);
    rc = sqlite3_step(st);
    std::string msg = sqlite3_errmsg(m_conn);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return undo(msg, tr);
    int64_t rows = sqlite3_changes(m_conn);
    execSimple("RELEASE dvinto");
    m_rowcount = rows;
    m_error = 0;
    done(r, false, true, uint64_t(rows));
    return Flow::Next;
}

} // namespace ts
