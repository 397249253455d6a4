// STRING_SPLIT and OPENJSON as SQLite table-valued functions (eponymous
// virtual tables with hidden argument columns). SQLite evaluates such a
// function once per row of the tables left of it, with arguments that may
// name their columns, which is what CROSS APPLY and OUTER APPLY over them
// mean; a derived table in FROM could not see those columns.
#include "engine/enginefunctions.h"
#include "engine/functions.h"
#include "engine/functions_xml.h"
#include "base/values.h"

#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace ts {

namespace {

using Rows = std::vector<std::vector<Value>>;

struct TvfModule {
    const char *schema;   // the declared columns: outputs first, then the HIDDEN arguments
    int outputs;
    int args;
    // Fills `rows` from the arguments; false with `error` (encoded SQL Server error) set.
    bool (*produce)(sqlite3 *db, sqlite3_value **argv, Rows &rows, std::string &error);
};

// A table of one of the modules: a built-in (module set) or a lateral
// source, whose rows are those of the statement `sql` run with the arguments
// bound as ?1, ?2 ...
struct Tab {
    sqlite3_vtab base;
    const TvfModule *module = nullptr;
    sqlite3 *db = nullptr;
    int outputs = 0;
    int args = 0;
    std::string sql;
};

struct Cursor {
    sqlite3_vtab_cursor base;
    Rows rows;
    size_t at = 0;
};

std::string utf8(sqlite3_value *v)
{
    const unsigned char *p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
}

// Length in bytes of the UTF-8 sequence starting with `c`.
size_t sequenceLength(unsigned char c)
{
    if (c < 0x80) return 1;
    if ((c >> 5) == 6) return 2;
    if ((c >> 4) == 14) return 3;
    return 4;
}

// STRING_SPLIT(string, separator): one row per piece, its 1-based position second.
bool stringSplit(sqlite3 *, sqlite3_value **argv, Rows &rows, std::string &error)
{
    const std::string sep = sqlite3_value_type(argv[1]) == SQLITE_NULL ? std::string() : utf8(argv[1]);
    if (sep.empty() || sequenceLength(static_cast<unsigned char>(sep[0])) != sep.size()) {
        error = encodeError(214, 16, "Procedure expects parameter 'separator' of type 'nchar(1)/nvarchar(1)'.");
        return false;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return true;
    const std::string s = utf8(argv[0]);
    size_t from = 0;
    for (int64_t ordinal = 1;; ++ordinal) {
        const size_t at = s.find(sep, from);
        rows.push_back({Value::text(s.substr(from, at == std::string::npos ? std::string::npos : at - from)),
                        Value::integer(ordinal)});
        if (at == std::string::npos) break;
        from = at + sep.size();
    }
    return true;
}

// SQL Server's OPENJSON type codes by SQLite's json_each type names.
int jsonTypeCode(const std::string &t)
{
    if (t == "null") return 0;
    if (t == "text") return 1;
    if (t == "integer" || t == "real") return 2;
    if (t == "true" || t == "false") return 3;
    return t == "array" ? 4 : 5;
}

// "[lax|strict] $...": the path as SQLite reads it; `strict` set by the mode.
bool jsonPath(const std::string &raw, std::string &path, bool &strict, std::string &error)
{
    size_t p = raw.find_first_not_of(' ');
    strict = false;
    for (const char *mode : {"lax", "strict"}) {
        const std::string m(mode);
        if (p != std::string::npos && raw.compare(p, m.size(), m) == 0 && raw.size() > p + m.size()
            && (raw[p + m.size()] == ' ' || raw[p + m.size()] == '$')) {
            strict = m == "strict";
            p = raw.find_first_not_of(' ', p + m.size());
            break;
        }
    }
    path = p == std::string::npos ? std::string() : raw.substr(p);
    if (path.empty() || path[0] != '$') {
        const size_t at = p == std::string::npos ? raw.size() : p;
        error = encodeError(13607, 16, "JSON path is not properly formatted. Unexpected character '"
                            + (at < raw.size() ? raw.substr(at, 1) : std::string()) + "' is found at position "
                            + std::to_string(at) + ".");
        return false;
    }
    return true;
}

bool jsonValid(sqlite3 *db, const std::string &json)
{
    sqlite3_stmt *st = nullptr;
    bool valid = false;
    if (sqlite3_prepare_v2(db, "SELECT json_valid(?1)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, json.c_str(), int(json.size()), SQLITE_TRANSIENT);
        valid = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == 1;
    }
    sqlite3_finalize(st);
    return valid;
}

// The value at `path` of `json`: its json_type ("" when there is none).
std::string typeAt(sqlite3 *db, const std::string &json, const std::string &path)
{
    sqlite3_stmt *st = nullptr;
    std::string type;
    if (sqlite3_prepare_v2(db, "SELECT json_type(?1, ?2)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, json.c_str(), int(json.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, path.c_str(), int(path.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
            type = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
    return type;
}

// OPENJSON(json [, path]) with the default schema: key, value, type of each
// member of the object or element of the array at the path.
bool openJson(sqlite3 *db, sqlite3_value **argv, Rows &rows, std::string &error)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return true;
    const std::string json = utf8(argv[0]);
    std::string path = "$";
    bool strict = false;
    if (sqlite3_value_type(argv[1]) != SQLITE_NULL && !jsonPath(utf8(argv[1]), path, strict, error)) return false;
    if (!jsonValid(db, json)) {
        error = encodeError(13609, 16, "JSON text is not properly formatted.");
        return false;
    }
    const std::string at = typeAt(db, json, path);
    if (at.empty()) {
        if (!strict) return true;
        error = encodeError(13608, 16, "Property cannot be found on the specified JSON path.");
        return false;
    }
    if (at != "array" && at != "object") {
        if (!strict) return true;
        error = encodeError(13611, 16, "Value referenced by JSON path is not an array or object and cannot be opened with OPENJSON.");
        return false;
    }
    sqlite3_stmt *st = nullptr;
    const char *sql = "SELECT CAST(key AS TEXT), CASE WHEN type IN ('true', 'false') THEN type WHEN type = 'null' THEN NULL"
                      " ELSE CAST(value AS TEXT) END, type FROM json_each(?1, ?2)";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        error = encodeError(13609, 16, "JSON text is not properly formatted.");
        return false;
    }
    sqlite3_bind_text(st, 1, json.c_str(), int(json.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, path.c_str(), int(path.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        auto text = [&](int c) {
            return sqlite3_column_type(st, c) == SQLITE_NULL
                ? Value::null() : Value::text(reinterpret_cast<const char *>(sqlite3_column_text(st, c)));
        };
        rows.push_back({text(0), text(1), Value::integer(jsonTypeCode(reinterpret_cast<const char *>(sqlite3_column_text(st, 2))))});
    }
    sqlite3_finalize(st);
    return true;
}

// STRING_SPLIT's value is nvarchar for a Unicode string, else varchar; ordinal only when asked for.
// Runs a lateral source's statement with `argv` bound: its rows.
bool lateralRows(Tab *tab, int argc, sqlite3_value **argv, Rows &rows, std::string &error)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(tab->db, tab->sql.c_str(), int(tab->sql.size()), &st, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(tab->db);
        return false;
    }
    for (int k = 0; k < argc; ++k) sqlite3_bind_value(st, k + 1, argv[k]);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        std::vector<Value> row;
        for (int c = 0; c < tab->outputs; ++c) {
            switch (sqlite3_column_type(st, c)) {
            case SQLITE_INTEGER: row.push_back(Value::integer(sqlite3_column_int64(st, c))); break;
            case SQLITE_FLOAT: row.push_back(Value::real(sqlite3_column_double(st, c))); break;
            case SQLITE_TEXT:
                row.push_back(Value::text(std::string(reinterpret_cast<const char *>(sqlite3_column_text(st, c)),
                                                      size_t(sqlite3_column_bytes(st, c)))));
                break;
            case SQLITE_BLOB: {
                const char *p = static_cast<const char *>(sqlite3_column_blob(st, c));
                row.push_back(Value::blob(std::string(p ? p : "", size_t(sqlite3_column_bytes(st, c)))));
                break;
            }
            default: row.push_back(Value::null()); break;
            }
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(tab->db);
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
}

// 'text' or "name" as written in a module argument, without its quotes.
std::string unquoted(const char *arg)
{
    std::string s(arg);
    if (s.size() < 2 || (s[0] != '\'' && s[0] != '"') || s.back() != s[0]) return s;
    const char q = s[0];
    std::string out;
    for (size_t k = 1; k + 1 < s.size(); ++k) {
        out += s[k];
        if (s[k] == q && s[k + 1] == q) ++k;
    }
    return out;
}

std::string quotedName(const std::string &name)
{
    std::string out = "\"";
    for (char ch : name) {
        out += ch;
        if (ch == '"') out += '"';
    }
    return out + "\"";
}

// CREATE VIRTUAL TABLE temp.name USING dv_lateral('statement', arguments [, "column" ...]):
// the columns are the statement's (names as given, else the statement's; declared types kept).
int lateralConnect(sqlite3 *db, void *, int argc, const char *const *argv, sqlite3_vtab **out, char **err)
{
    if (argc < 5) return SQLITE_ERROR;
    auto *tab = new Tab{};
    tab->db = db;
    tab->sql = unquoted(argv[3]);
    tab->args = std::atoi(argv[4]);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, tab->sql.c_str(), int(tab->sql.size()), &st, nullptr) != SQLITE_OK) {
        *err = sqlite3_mprintf("%s", sqlite3_errmsg(db));
        delete tab;
        return SQLITE_ERROR;
    }
    tab->outputs = sqlite3_column_count(st);
    std::string schema = "CREATE TABLE x(";
    for (int c = 0; c < tab->outputs; ++c) {
        const char *decl = sqlite3_column_decltype(st, c);
        const std::string name = argc > 5 + c ? unquoted(argv[5 + c]) : std::string(sqlite3_column_name(st, c));
        schema += quotedName(name) + " " + (decl ? decl : "") + ", ";
    }
    sqlite3_finalize(st);
    for (int a = 0; a < tab->args; ++a) schema += "\"__dv_arg" + std::to_string(a) + "\" HIDDEN, ";
    schema.resize(schema.size() - 2);
    schema += ")";
    const int rc = sqlite3_declare_vtab(db, schema.c_str());
    if (rc != SQLITE_OK) {
        *err = sqlite3_mprintf("%s", sqlite3_errmsg(db));
        delete tab;
        return rc;
    }
    *out = &tab->base;
    return SQLITE_OK;
}

const TvfModule kStringSplitN{"CREATE TABLE x(value nvarchar(4000), string HIDDEN, separator HIDDEN)", 1, 2, stringSplit};
const TvfModule kStringSplitV{"CREATE TABLE x(value varchar(8000), string HIDDEN, separator HIDDEN)", 1, 2, stringSplit};
const TvfModule kStringSplitNO{"CREATE TABLE x(value nvarchar(4000), ordinal bigint NOT NULL, string HIDDEN, separator HIDDEN)",
                               2, 2, stringSplit};
const TvfModule kStringSplitVO{"CREATE TABLE x(value varchar(8000), ordinal bigint NOT NULL, string HIDDEN, separator HIDDEN)",
                               2, 2, stringSplit};
const TvfModule kXmlNodes{"CREATE TABLE x(node, xml HIDDEN, path HIDDEN)", 1, 2, xmlNodesRows};
const TvfModule kOpenJson{"CREATE TABLE x([key] nvarchar(4000), value ntext, type int, json HIDDEN, path HIDDEN)", 3, 2,
                          openJson};

int tvfConnect(sqlite3 *db, void *aux, int, const char *const *, sqlite3_vtab **out, char **)
{
    const auto *module = static_cast<const TvfModule *>(aux);
    const int rc = sqlite3_declare_vtab(db, module->schema);
    if (rc != SQLITE_OK) return rc;
    auto *tab = new Tab{};
    tab->module = module;
    tab->db = db;
    tab->outputs = module->outputs;
    tab->args = module->args;
    *out = &tab->base;
    return SQLITE_OK;
}

int tvfDisconnect(sqlite3_vtab *v)
{
    delete reinterpret_cast<Tab *>(v);
    return SQLITE_OK;
}

// Every argument must be given (by the call's argument list, as an equality on
// its hidden column); argument k goes to xFilter as argv[k].
int tvfBestIndex(sqlite3_vtab *v, sqlite3_index_info *info)
{
    const Tab *m = reinterpret_cast<Tab *>(v);
    int seen = 0;
    for (int c = 0; c < info->nConstraint; ++c) {
        const auto &con = info->aConstraint[c];
        if (con.iColumn < m->outputs || con.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
        if (!con.usable) return SQLITE_CONSTRAINT;
        const int arg = con.iColumn - m->outputs;
        info->aConstraintUsage[c].argvIndex = arg + 1;
        info->aConstraintUsage[c].omit = 1;
        seen |= 1 << arg;
    }
    if (seen != (1 << m->args) - 1) return SQLITE_CONSTRAINT;
    info->estimatedCost = 10;
    info->estimatedRows = 10;
    return SQLITE_OK;
}

int tvfOpen(sqlite3_vtab *, sqlite3_vtab_cursor **out)
{
    auto *c = new Cursor{};
    *out = &c->base;
    return SQLITE_OK;
}

int tvfClose(sqlite3_vtab_cursor *c)
{
    delete reinterpret_cast<Cursor *>(c);
    return SQLITE_OK;
}

int tvfFilter(sqlite3_vtab_cursor *vc, int, const char *, int argc, sqlite3_value **argv)
{
    auto *c = reinterpret_cast<Cursor *>(vc);
    auto *tab = reinterpret_cast<Tab *>(vc->pVtab);
    c->rows.clear();
    c->at = 0;
    std::string error;
    if (!(tab->module ? tab->module->produce(tab->db, argv, c->rows, error) : lateralRows(tab, argc, argv, c->rows, error))) {
        sqlite3_free(tab->base.zErrMsg);
        tab->base.zErrMsg = sqlite3_mprintf("%s", error.c_str());
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

int tvfNext(sqlite3_vtab_cursor *vc)
{
    ++reinterpret_cast<Cursor *>(vc)->at;
    return SQLITE_OK;
}

int tvfEof(sqlite3_vtab_cursor *vc)
{
    auto *c = reinterpret_cast<Cursor *>(vc);
    return c->at >= c->rows.size();
}

int tvfColumn(sqlite3_vtab_cursor *vc, sqlite3_context *ctx, int col)
{
    auto *c = reinterpret_cast<Cursor *>(vc);
    const std::vector<Value> &row = c->rows[c->at];
    const int outputs = reinterpret_cast<Tab *>(vc->pVtab)->outputs;
    if (col >= outputs || size_t(col) >= row.size()) { sqlite3_result_null(ctx); return SQLITE_OK; }
    const Value &v = row[size_t(col)];
    switch (v.kind) {
    case Value::Int: sqlite3_result_int64(ctx, v.i); break;
    case Value::Float: sqlite3_result_double(ctx, v.d); break;
    case Value::Text: sqlite3_result_text(ctx, v.s.c_str(), int(v.s.size()), SQLITE_TRANSIENT); break;
    case Value::Blob: sqlite3_result_blob(ctx, v.s.data(), int(v.s.size()), SQLITE_TRANSIENT); break;
    case Value::Null: sqlite3_result_null(ctx); break;
    }
    return SQLITE_OK;
}

int tvfRowid(sqlite3_vtab_cursor *vc, sqlite3_int64 *rowid)
{
    *rowid = sqlite3_int64(reinterpret_cast<Cursor *>(vc)->at);
    return SQLITE_OK;
}

const sqlite3_module kModule = {
    0, nullptr, tvfConnect, tvfBestIndex, tvfDisconnect, nullptr, tvfOpen, tvfClose, tvfFilter, tvfNext, tvfEof,
    tvfColumn, tvfRowid, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// Lateral sources are tables made by CREATE VIRTUAL TABLE, not eponymous.
const sqlite3_module kLateralModule = {
    0, lateralConnect, lateralConnect, tvfBestIndex, tvfDisconnect, tvfDisconnect, tvfOpen, tvfClose, tvfFilter, tvfNext,
    tvfEof, tvfColumn, tvfRowid, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr};

} // namespace

void registerTableFunctions(sqlite3 *db)
{
    sqlite3_create_module(db, "dv_string_split_n", &kModule, const_cast<TvfModule *>(&kStringSplitN));
    sqlite3_create_module(db, "dv_string_split_v", &kModule, const_cast<TvfModule *>(&kStringSplitV));
    sqlite3_create_module(db, "dv_string_split_no", &kModule, const_cast<TvfModule *>(&kStringSplitNO));
    sqlite3_create_module(db, "dv_string_split_vo", &kModule, const_cast<TvfModule *>(&kStringSplitVO));
    sqlite3_create_module(db, "dv_openjson", &kModule, const_cast<TvfModule *>(&kOpenJson));
    sqlite3_create_module(db, "dv_xml_nodes", &kModule, const_cast<TvfModule *>(&kXmlNodes));
    sqlite3_create_module(db, "dv_lateral", &kLateralModule, nullptr);
}

} // namespace ts
