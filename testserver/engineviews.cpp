// CREATE/ALTER/DROP VIEW: a view is a SQLite view over the translated SELECT,
// with its columns recorded like a table's (sys.columns, result metadata).
#include "enginesession.h"

namespace ts {

namespace {

// The statement's text from its tokens, line breaks kept.
std::string tokensText(const std::vector<Token> &toks, size_t begin)
{
    std::string out;
    int line = begin < toks.size() ? toks[begin].line : 1;
    for (size_t k = begin; k < toks.size() && toks[k].kind != Token::End; ++k) {
        if (k > begin) out += toks[k].line > line ? std::string(size_t(toks[k].line - line), '\n') : std::string(" ");
        line = toks[k].line;
        out += toks[k].text;
        for (char c : toks[k].text) if (c == '\n') ++line;
    }
    return out;
}

// A view stored in a database file must not name its own database: the file
// may be attached under another name when a three-part name reaches it.
std::string withoutMainSchema(std::string sql)
{
    const std::string prefix = "\"main\".";
    for (size_t p = sql.find(prefix); p != std::string::npos; p = sql.find(prefix, p)) sql.erase(p, prefix.size());
    return sql;
}

} // namespace

SessionImpl::Flow SessionImpl::runViewDdl(const Stmt &s, Run &r)
{
    const Stmt::Trigger &v = s.trigger;
    auto fail = [&](int number, int severity, const std::string &text) {
        m_stmtFailed = true;
        message(r, number, severity, text, s.line);
        done(r, true, false, 0);
        return Flow::Next;
    };
    auto exec = [&](const std::string &sql, const std::vector<Value> &params, std::string *err = nullptr) {
        sqlite3_stmt *st = nullptr;
        std::string e;
        bool ok = prepare(sql, params, &st, &e);
        if (ok && sqlite3_step(st) != SQLITE_DONE) { ok = false; e = sqlite3_errmsg(m_conn); }
        sqlite3_finalize(st);
        if (err) *err = e;
        return ok;
    };
    if (s.kind == Stmt::DropView) {
        openTransaction();
        for (const auto &[schema, name] : v.names) {
            const std::string written = schema.empty() ? name : schema + "." + name;
            std::string internal = internalName(resolveOwner(schema, name), name);
            std::string type = objectType("main", internal);
            if (type == "U") return fail(3705, 16, "Cannot use DROP VIEW with '" + written + "' because '" + written + "' is a table. Use DROP TABLE.");
            if (type != "V") {
                if (v.ifExists) continue;
                return fail(3701, 11, "Cannot drop the view '" + written + "', because it does not exist or you do not have permission.");
            }
            execSimple("DROP VIEW IF EXISTS main." + quoteIdent(internal));
            exec("DELETE FROM main.__dv_columns WHERE tbl = ?1", {Value::text(internal)});
            exec("DELETE FROM main.__dv_tables WHERE name = ?1", {Value::text(internal)});
        }
        done(r, false, false, 0);
        return Flow::Next;
    }
    const auto &[schemaGiven, name] = v.names.front();
    const std::string owner = schemaGiven.empty() ? defaultSchema() : schemaGiven;
    const std::string internal = internalName(owner, name);
    if (!schemaExists("main", owner))
        return fail(2760, 16, "The specified schema name \"" + owner + "\" either does not exist or you do not have permission to use it.");
    const std::string existing = objectType("main", internal);
    if (!existing.empty() && (existing != "V" || !v.alter))
        return fail(2714, 16, "There is already an object named '" + name + "' in the database.");
    if (existing.empty() && !v.create) return fail(208, 16, "Invalid object name '" + name + "'.");
    Translation tr;
    try {
        Translator t(r.toks, this, m_engine->opts.compat2000);
        tr = t.translate(s.selectBegin);
    } catch (const SqlError &e) {
        m_stmtFailed = true;
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    if (!tr.params.empty() || !tr.intoTarget.empty())
        return fail(8180, 16, "Statement(s) could not be prepared. This test server does not support variables, system "
                              "functions or SELECT INTO in a view.");
    const std::string select = tr.sql.back();
    // The columns: names and types as a query of the view would give them.
    std::vector<ColumnDef> cols;
    {
        sqlite3_stmt *st = nullptr;
        std::string err;
        if (!prepare(select, {}, &st, &err)) {
            SqlError e = mapSqliteError(err, tr);
            m_stmtFailed = true;
            report(r, e, s.line);
            done(r, true, false, 0);
            return Flow::Next;
        }
        sqlite3_step(st); // the first row types expressions
        std::map<std::string, std::optional<TableMeta>> cache;
        for (int c = 0; c < sqlite3_column_count(st); ++c) cols.push_back(describe(st, c, cache));
        sqlite3_finalize(st);
    }
    if (!s.viewColumns.empty()) {
        if (s.viewColumns.size() < cols.size())
            return fail(4502, 16, "View or function '" + name + "' has more column names specified than columns defined.");
        if (s.viewColumns.size() > cols.size())
            return fail(8159, 16, "'" + name + "' has fewer columns than were specified in the column list.");
        for (size_t k = 0; k < cols.size(); ++k) cols[k].name = s.viewColumns[k];
    }
    for (size_t k = 0; k < cols.size(); ++k) {
        if (cols[k].name.empty())
            return fail(4511, 16, "Create View or Function failed because no column name was specified for column " + std::to_string(k + 1) + ".");
        for (size_t j = 0; j < k; ++j)
            if (iequals(cols[j].name, cols[k].name))
                return fail(4506, 16, "Column names in each view or function must be unique. Column name '" + cols[k].name
                            + "' in view or function '" + name + "' is specified more than once.");
    }
    openTransaction();
    execSimple("SAVEPOINT dvview");
    auto undo = [&](const std::string &err) {
        execSimple("ROLLBACK TO dvview; RELEASE dvview");
        return fail(8180, 16, "Statement(s) could not be prepared. " + err);
    };
    std::string err;
    if (!existing.empty()) {
        execSimple("DROP VIEW IF EXISTS main." + quoteIdent(internal));
        exec("DELETE FROM main.__dv_columns WHERE tbl = ?1", {Value::text(internal)});
    }
    std::string names;
    for (const auto &c : cols) names += (names.empty() ? "" : ", ") + quoteIdent(c.name);
    if (!execSimple("CREATE VIEW main." + quoteIdent(internal) + " (" + names + ") AS " + withoutMainSchema(select), &err))
        return undo(err);
    const std::string definition = tokensText(r.toks, s.begin);
    if (existing.empty())
        exec("INSERT INTO main.__dv_tables(name, object_id, create_date, schema_name, obj_name, type, definition) VALUES "
             "(?1, (SELECT coalesce(max(object_id), 901578250) + 16 FROM main.__dv_tables), dv_getdate(), ?2, ?3, 'V', ?4)",
             {Value::text(internal), Value::text(owner), Value::text(name), Value::text(definition)});
    else
        exec("UPDATE main.__dv_tables SET definition = ?2 WHERE name = ?1", {Value::text(internal), Value::text(definition)});
    for (size_t k = 0; k < cols.size(); ++k) {
        ColumnMeta m;
        if (!parseTypeName(sqlTypeName(cols[k]), m)) m.type = "nvarchar", m.length = 4000;
        if (!exec("INSERT INTO main.__dv_columns VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, 0, NULL, NULL)",
                  {Value::text(internal), Value::text(cols[k].name), Value::integer(int64_t(k + 1)), Value::text(m.type),
                   Value::integer(m.length), Value::integer(m.precision), Value::integer(m.scale),
                   Value::integer(cols[k].nullable ? 1 : 0)}, &err))
            return undo(err);
    }
    execSimple("RELEASE dvview");
    done(r, false, false, 0);
    return Flow::Next;
}

} // namespace ts
