// CREATE/ALTER/DROP VIEW: a view is a SQLite view over the translated SELECT,
// with its columns recorded like a table's (sys.columns, result metadata).
#include "engine/enginesession.h"

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

// Why a view's columns cannot be named: 4502 and 8159 when the column list
// does not match the query, 4511 for a column without a name, 4506 for a name
// given twice.
struct ColumnRefusal {
    int number, severity;
    std::string text;
};

// Names the view's columns from the statement's column list, if it has one.
std::optional<ColumnRefusal> nameViewColumns(std::vector<ColumnDef> &cols, const std::vector<std::string> &given,
                                             const std::string &view)
{
    if (!given.empty()) {
        if (given.size() < cols.size())
            return ColumnRefusal{4502, 16, "View or function '" + view + "' has more column names specified than columns defined."};
        if (given.size() > cols.size())
            return ColumnRefusal{8159, 16, "'" + view + "' has fewer columns than were specified in the column list."};
        for (size_t k = 0; k < cols.size(); ++k) cols[k].name = given[k];
    }
    for (size_t k = 0; k < cols.size(); ++k) {
        if (cols[k].name.empty())
            return ColumnRefusal{4511, 16, "Create View or Function failed because no column name was specified for column "
                                 + std::to_string(k + 1) + "."};
        for (size_t j = 0; j < k; ++j)
            if (iequals(cols[j].name, cols[k].name))
                return ColumnRefusal{4506, 16, "Column names in each view or function must be unique. Column name '" + cols[k].name
                                     + "' in view or function '" + view + "' is specified more than once."};
    }
    return std::nullopt;
}

} // namespace

// One CREATE, ALTER or DROP VIEW statement, the SQLite view it makes and the
// catalogue rows that describe it.
struct SessionImpl::ViewDdl {
    SessionImpl &session;
    const Stmt &s;
    Run &r;

    Flow fail(int number, int severity, const std::string &text);
    Flow reportError(const SqlError &e);
    bool exec(const std::string &sql, const std::vector<Value> &params, std::string *err = nullptr);
    Flow drop();
    Flow define();
    bool describeColumns(const std::string &select, std::vector<ColumnDef> &cols, std::string *err);
    Flow store(const std::string &internal, const std::string &owner, const std::string &name, const std::string &existing,
               const std::string &select, const std::vector<ColumnDef> &cols);
};

SessionImpl::Flow SessionImpl::runViewDdl(const Stmt &s, Run &r)
{
    ViewDdl view{*this, s, r};
    return s.kind == Stmt::DropView ? view.drop() : view.define();
}

SessionImpl::Flow SessionImpl::ViewDdl::fail(int number, int severity, const std::string &text)
{
    session.m_stmtFailed = true;
    session.message(r, number, severity, text, s.line);
    session.done(r, true, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::ViewDdl::reportError(const SqlError &e)
{
    session.m_stmtFailed = true;
    session.report(r, e, s.line);
    session.done(r, true, false, 0);
    return Flow::Next;
}

// Runs one statement with parameters to its end.
bool SessionImpl::ViewDdl::exec(const std::string &sql, const std::vector<Value> &params, std::string *err)
{
    sqlite3_stmt *st = nullptr;
    std::string e;
    bool ok = session.prepare(sql, params, &st, &e);
    if (ok && sqlite3_step(st) != SQLITE_DONE) { ok = false; e = sqlite3_errmsg(session.m_conn); }
    sqlite3_finalize(st);
    if (err) *err = e;
    return ok;
}

SessionImpl::Flow SessionImpl::ViewDdl::drop()
{
    const Stmt::Trigger &v = s.trigger;
    session.openTransaction();
    for (const auto &[schema, name] : v.names) {
        const std::string written = schema.empty() ? name : schema + "." + name;
        std::string internal = internalName(session.resolveOwner(schema, name), name);
        std::string type = session.objectType("main", internal);
        if (type == "U") return fail(3705, 16, "Cannot use DROP VIEW with '" + written + "' because '" + written + "' is a table. Use DROP TABLE.");
        if (type != "V") {
            if (v.ifExists) continue;
            return fail(3701, 11, "Cannot drop the view '" + written + "', because it does not exist or you do not have permission.");
        }
        session.execSimple("DROP VIEW IF EXISTS main." + quoteIdent(internal));
        exec("DELETE FROM main.__dv_columns WHERE tbl = ?1", {Value::text(internal)});
        exec("DELETE FROM main.__dv_tables WHERE name = ?1", {Value::text(internal)});
    }
    session.done(r, false, false, 0);
    return Flow::Next;
}

// CREATE or ALTER VIEW.
SessionImpl::Flow SessionImpl::ViewDdl::define()
{
    const Stmt::Trigger &v = s.trigger;
    const auto &[schemaGiven, name] = v.names.front();
    const std::string owner = schemaGiven.empty() ? session.defaultSchema() : schemaGiven;
    const std::string internal = internalName(owner, name);
    if (!session.schemaExists("main", owner))
        return fail(2760, 16, "The specified schema name \"" + owner + "\" either does not exist or you do not have permission to use it.");
    const std::string existing = session.objectType("main", internal);
    if (!existing.empty() && (existing != "V" || !v.alter))
        return fail(2714, 16, "There is already an object named '" + name + "' in the database.");
    if (existing.empty() && !v.create) return fail(208, 16, "Invalid object name '" + name + "'.");
    Translation tr;
    try {
        Translator t(r.toks, &session, session.m_engine->opts.compat2000);
        tr = t.translate(s.selectBegin);
    } catch (const SqlError &e) {
        reportError(e);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
    if (!tr.params.empty() || !tr.intoTarget.empty())
        return fail(8180, 16, "Statement(s) could not be prepared. This test server does not support variables, system "
                              "functions or SELECT INTO in a view.");
    const std::string select = tr.sql.back();
    std::vector<ColumnDef> cols;
    std::string err;
    if (!describeColumns(select, cols, &err)) return reportError(session.mapSqliteError(err, tr));
    if (auto why = nameViewColumns(cols, s.viewColumns, name)) return fail(why->number, why->severity, why->text);
    return store(internal, owner, name, existing, select, cols);
}

// The columns: names and types as a query of the view would give them.
bool SessionImpl::ViewDdl::describeColumns(const std::string &select, std::vector<ColumnDef> &cols, std::string *err)
{
    sqlite3_stmt *st = nullptr;
    if (!session.prepare(select, {}, &st, err)) return false;
    sqlite3_step(st); // the first row types expressions
    std::map<std::string, std::optional<TableMeta>> cache;
    for (int c = 0; c < sqlite3_column_count(st); ++c) cols.push_back(session.describe(st, c, cache));
    sqlite3_finalize(st);
    return true;
}

// Makes the SQLite view (replacing the old one on ALTER) and records its
// definition and columns, all undone when a step fails.
SessionImpl::Flow SessionImpl::ViewDdl::store(const std::string &internal, const std::string &owner, const std::string &name,
                                              const std::string &existing, const std::string &select,
                                              const std::vector<ColumnDef> &cols)
{
    session.openTransaction();
    session.execSimple("SAVEPOINT dvview");
    auto undo = [&](const std::string &err) {
        session.execSimple("ROLLBACK TO dvview; RELEASE dvview");
        return fail(8180, 16, "Statement(s) could not be prepared. " + err);
    };
    std::string err;
    if (!existing.empty()) {
        session.execSimple("DROP VIEW IF EXISTS main." + quoteIdent(internal));
        exec("DELETE FROM main.__dv_columns WHERE tbl = ?1", {Value::text(internal)});
    }
    std::string names;
    for (const auto &c : cols) names += (names.empty() ? "" : ", ") + quoteIdent(c.name);
    if (!session.execSimple("CREATE VIEW main." + quoteIdent(internal) + " (" + names + ") AS " + withoutMainSchema(select), &err))
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
    session.execSimple("RELEASE dvview");
    session.done(r, false, false, 0);
    return Flow::Next;
}

} // namespace ts
