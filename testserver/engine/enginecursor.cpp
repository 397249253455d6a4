// Cursors: DECLARE CURSOR, cursor variables, OPEN, FETCH, CLOSE, DEALLOCATE,
// @@FETCH_STATUS and CURSOR_STATUS. SQLite has no cursors: a cursor's rows
// are read into memory when it opens, so every cursor behaves as STATIC (it
// does not see changes made after OPEN); a DBA's loop over a table it also
// updates sees the rows as they were at OPEN, as a STATIC cursor does.
#include "engine/enginesession.h"

namespace ts {

namespace {

// Takes the rows of the cursor's SELECT; messages go on to the client.
class CollectSink : public ResultSink {
public:
    explicit CollectSink(ResultSink &target) : m_target(target) {}
    void columns(const std::vector<ColumnDef> &c) override { cols = c; }
    void row(const std::vector<Value> &v) override { rows.push_back(v); }
    void message(const Message &m) override { m_target.message(m); }
    void done(DoneKind, bool e, bool, uint64_t) override { failed = failed || e; }
    void databaseChanged(const std::string &, const std::string &) override {}
    void returnStatus(int32_t) override {}
    bool cancelled() const override { return m_target.cancelled(); }
    std::vector<ColumnDef> cols;
    std::vector<std::vector<Value>> rows;
    bool failed = false;

private:
    ResultSink &m_target;
};

std::string cursorKey(char scope, const std::string &name) { return std::string(1, scope) + ":" + lower(name); }

// Where the select list of a translated SELECT ends: its first " FROM " outside
// parentheses and quotes; npos when there is none.
size_t topLevelFrom(const std::string &sql)
{
    int depth = 0;
    char quote = 0;
    for (size_t k = 0; k < sql.size(); ++k) {
        const char ch = sql[k];
        if (quote) {
            if (ch == quote) quote = 0;
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
        } else if (ch == '(') {
            ++depth;
        } else if (ch == ')') {
            --depth;
        } else if (depth == 0 && sql.compare(k, 6, " FROM ") == 0) {
            return k;
        }
    }
    return std::string::npos;
}

} // namespace

// The cursor a statement names: a variable's, else a local one before a global one.
SessionImpl::Cursor *SessionImpl::findCursor(const Stmt &s)
{
    if (s.cursor.variable) {
        auto it = m_cursors.find(cursorKey('V', s.name));
        return it == m_cursors.end() ? nullptr : &it->second;
    }
    if (!s.cursor.global) {
        auto it = m_cursors.find(cursorKey('L', s.name));
        if (it != m_cursors.end()) return &it->second;
    }
    auto it = m_cursors.find(cursorKey('G', s.name));
    return it == m_cursors.end() ? nullptr : &it->second;
}

SessionImpl::Flow SessionImpl::cursorError(Run &r, const Stmt &s, int number, const std::string &text)
{
    message(r, number, 16, text, s.line);
    done(r, true, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runDeclareCursor(const Stmt &s, Run &r)
{
    std::string key;
    if (s.cursor.variable) {
        bool found = false;
        variable(s.name, &found);
        if (!found) return cursorError(r, s, 137, "Must declare the scalar variable \"" + s.name + "\".");
        key = cursorKey('V', s.name);
        auto old = m_cursors.find(key); // SET @c = CURSOR ... replaces what it pointed to
        if (old != m_cursors.end() && &old->second == m_lastOpened) m_lastOpened = nullptr;
        if (old != m_cursors.end()) m_cursors.erase(old);
    } else {
        key = cursorKey(s.cursor.global ? 'G' : 'L', s.name);
        if (m_cursors.count(key))
            return cursorError(r, s, 16915, "A cursor with the name '" + s.name + "' already exists.");
    }
    Cursor c;
    c.name = s.name;
    c.scroll = s.cursor.scroll;
    c.populated = s.cursor.populated;
    c.readOnly = s.cursor.readOnly;
    c.toks.assign(r.toks.begin() + long(s.selectBegin), r.toks.begin() + long(s.cursor.selectEnd));
    c.toks.push_back(r.toks.back());
    c.line = r.toks[s.selectBegin].line;
    m_cursors[key] = std::move(c);
    done(r, false, false, 0);
    return Flow::Next;
}

std::string SessionImpl::cursorMissing(const Stmt &s) const
{
    return s.cursor.variable ? "The variable '" + s.name + "' does not currently have a cursor allocated to it."
                             : "A cursor with the name '" + s.name + "' does not exist.";
}

SessionImpl::Flow SessionImpl::runOpenCursor(const Stmt &s, Run &r)
{
    Cursor *c = findCursor(s);
    if (!c) return cursorError(r, s, s.cursor.variable ? 16950 : 16916, cursorMissing(s));
    if (c->open) return cursorError(r, s, 16905, "The cursor is already open.");
    CollectSink collect(r.sink);
    Run cr{collect, c->toks, r.done};
    Stmt select;
    select.kind = Stmt::Sql;
    select.line = c->line;
    Flow f = runSql(select, cr);
    r.anyError = r.anyError || cr.anyError;
    if (collect.failed || f != Flow::Next) {
        r.anyDone = true;
        r.sink.done(r.done, true, false, 0);
        return f;
    }
    c->cols = std::move(collect.cols);
    c->rows = std::move(collect.rows);
    cursorRowids(*c);
    c->pos = -1;
    c->open = true;
    m_lastOpened = c;
    m_cursorRows = c->populated ? int64_t(c->rows.size()) : -1;
    done(r, false, false, 0);
    return Flow::Next;
}

// The row a FETCH direction moves to; -1 before the first, rows.size() after the last.
bool SessionImpl::fetchTarget(const Stmt &s, Run &r, const Cursor &c, int64_t &target)
{
    const auto n = int64_t(c.rows.size());
    const std::string &d = s.cursor.fetch;
    int64_t k = 0;
    if (d == "ABSOLUTE" || d == "RELATIVE") {
        Value v = eval(r.toks, s.cursor.offset.tok, s.cursor.offset.tokEnd);
        if (v.kind != Value::Int) throw makeError(16909, 16, "fetch: The fetch type " + upper(d.substr(0, 1)) + lower(d.substr(1)) + " requires an integer value.");
        k = v.i;
    }
    if (d == "NEXT") target = c.pos + 1;
    else if (d == "PRIOR") target = c.pos - 1;
    else if (d == "FIRST") target = 0;
    else if (d == "LAST") target = n - 1;
    else if (d == "ABSOLUTE") target = k > 0 ? k - 1 : k < 0 ? n + k : -1;
    else target = c.pos + k;
    if (n == 0 && (d == "FIRST" || d == "LAST")) target = -1;
    return target >= 0 && target < n;
}

SessionImpl::Flow SessionImpl::runFetch(const Stmt &s, Run &r)
{
    Cursor *c = findCursor(s);
    if (!c) return cursorError(r, s, s.cursor.variable ? 16950 : 16916, cursorMissing(s));
    if (!c->open) return cursorError(r, s, 16917, "Cursor is not open.");
    if (!c->scroll && s.cursor.fetch != "NEXT")
        return cursorError(r, s, 16911, "fetch: The fetch type " + s.cursor.fetch + " cannot be used with forward only cursors.");
    if (!s.cursor.into.empty() && s.cursor.into.size() != c->cols.size())
        return cursorError(r, s, 16924, "Cursorfetch: The number of variables declared in the INTO list must match that of selected columns.");
    try {
        for (const auto &v : s.cursor.into)
            if (!m_vars.count(v)) throw makeError(137, 15, "Must declare the scalar variable \"" + v + "\".", true);
        int64_t target = 0;
        const bool hit = fetchTarget(s, r, *c, target);
        const auto n = int64_t(c->rows.size());
        c->pos = target < 0 ? -1 : target > n ? n : target;
        m_fetchStatus = hit ? 0 : -1;
        if (s.cursor.into.empty()) { // the row goes to the client as a result set
            r.sink.columns(c->cols);
            if (hit) r.sink.row(c->rows[size_t(target)]);
            done(r, false, true, hit ? 1 : 0);
            return Flow::Next;
        }
        if (hit)
            for (size_t k = 0; k < s.cursor.into.size(); ++k) setVariable(s.cursor.into[k], c->rows[size_t(target)][k]);
        done(r, false, false, 0);
        return Flow::Next;
    } catch (const SqlError &e) {
        report(r, e, s.line);
        done(r, true, false, 0);
        return e.abortBatch ? Flow::Abort : Flow::Next;
    }
}

SessionImpl::Flow SessionImpl::runCloseDeallocate(const Stmt &s, Run &r)
{
    Cursor *c = findCursor(s);
    if (!c) return cursorError(r, s, s.cursor.variable ? 16950 : 16916, cursorMissing(s));
    if (c == m_lastOpened) {
        m_cursorRows = 0;
        m_lastOpened = nullptr;
    }
    if (s.kind == Stmt::CloseCursor) {
        if (!c->open) return cursorError(r, s, 16917, "Cursor is not open.");
        c->open = false;
        c->rows.clear();
    } else {
        for (auto it = m_cursors.begin(); it != m_cursors.end(); ++it)
            if (&it->second == c) { m_cursors.erase(it); break; }
    }
    done(r, false, false, 0);
    return Flow::Next;
}

// CURSOR_STATUS('local' | 'global' | 'variable', name): 1 open with rows, 0 open
// and empty, -1 closed, -2 a variable with no cursor, -3 no such cursor.
Value SessionImpl::cursorStatus(const std::string &scope, const std::string &name) const
{
    const std::string sc = lower(scope);
    char k = sc == "local" ? 'L' : sc == "global" ? 'G' : sc == "variable" ? 'V' : 0;
    if (!k) return Value::null();
    auto it = m_cursors.find(cursorKey(k, name));
    if (it == m_cursors.end()) return Value::integer(k == 'V' && m_vars.count(lower(name)) ? -2 : -3);
    if (!it->second.open) return Value::integer(-1);
    return Value::integer(it->second.rows.empty() ? 0 : 1);
}

// Local cursors and cursor variables end with their batch; global ones stay on the connection.
void SessionImpl::endBatchCursors()
{
    for (auto it = m_cursors.begin(); it != m_cursors.end();) {
        if (it->first[0] == 'G') { ++it; continue; }
        if (&it->second == m_lastOpened) m_lastOpened = nullptr;
        it = m_cursors.erase(it);
    }
}

// Moves the local cursors and cursor variables out, for a nested batch (EXEC of a string, sp_executesql).
std::map<std::string, SessionImpl::Cursor> SessionImpl::takeLocalCursors()
{
    std::map<std::string, Cursor> out;
    for (auto it = m_cursors.begin(); it != m_cursors.end();) {
        if (it->first[0] == 'G') { ++it; continue; }
        out.insert(m_cursors.extract(it++));
    }
    return out;
}

// A cursor over one base table can change the rows it fetched (WHERE CURRENT
// OF): the same SELECT is run once more at OPEN with the table's rowid as an
// extra last column. DISTINCT, grouping, set operators, joins and derived
// rows leave the cursor read only, as they make SQL Server's cursor static.
void SessionImpl::cursorRowids(Cursor &c)
{
    c.table.clear();
    c.rowids.clear();
    if (c.readOnly) return;
    for (const Token &t : c.toks)
        for (const char *w : {"DISTINCT", "GROUP", "HAVING", "UNION", "EXCEPT", "INTERSECT", "JOIN", "APPLY", "PIVOT", "UNPIVOT"})
            if (t.isWord(w)) return;
    Translation tr;
    try {
        Translator t(c.toks, this, m_engine->opts.compat2000);
        tr = t.translate(0);
    } catch (const std::exception &) {
        return;
    }
    if (tr.kind != Translation::Query || tr.sql.size() != 1 || tr.derived || tr.writtenNames.size() != 1) return;
    const std::string &sql = tr.sql.back();
    const size_t from = topLevelFrom(sql);
    if (sql.rfind("SELECT ", 0) != 0 || from == std::string::npos) return;
    sqlite3_stmt *st = nullptr;
    std::string err;
    if (!prepare(sql.substr(0, from) + ", _rowid_" + sql.substr(from), tr.params, &st, &err)) return;
    const int last = sqlite3_column_count(st) - 1;
    std::vector<int64_t> ids;
    while (sqlite3_step(st) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(st, last));
    sqlite3_finalize(st);
    if (ids.size() != c.rows.size()) return;
    c.table = tr.writtenNames.begin()->first;
    c.rowids = std::move(ids);
}

int64_t SessionImpl::cursorCurrentRow(const std::string &cursor, bool global, bool variable, const std::string &table)
{
    Stmt s;
    s.name = cursor;
    s.cursor.global = global;
    s.cursor.variable = variable;
    const Cursor *c = findCursor(s);
    if (!c) throw makeError(variable ? 16950 : 16916, 16, cursorMissing(s));
    if (!c->open) throw makeError(16917, 16, "Cursor is not open.");
    if (c->readOnly || c->table.empty()) throw makeError(16929, 16, "The cursor is READ ONLY.");
    if (c->table != lower(table))
        throw makeError(16933, 16, "The cursor does not include the table being modified or the table is not updatable through the cursor.");
    if (c->pos < 0 || c->pos >= int64_t(c->rowids.size()))
        throw makeError(16930, 16, "The requested row is not in the fetch buffer.");
    return c->rowids[size_t(c->pos)];
}

} // namespace ts
