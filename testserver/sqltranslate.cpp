#include "sqltranslate.h"

#include "enginefunctions.h"
#include "collation.h"
#include "enginenumbers.h"
#include "textcollation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <set>

namespace ts {

SqlError makeError(int number, int severity, const std::string &text, bool abortBatch)
{
    SqlError e;
    e.msg.number = number;
    e.msg.severity = severity;
    e.msg.state = 1;
    e.msg.text = text;
    e.msg.line = 0; // filled in by whoever knows the statement's line
    e.abortBatch = abortBatch;
    return e;
}

SqlError syntaxError(const Token &t)
{
    SqlError e;
    if (t.kind == Token::End)
        e = makeError(102, 15, "Incorrect syntax near '" + t.text + "'.", true);
    else if (t.kind == Token::Ident && isReservedWord(t.value))
        e = makeError(156, 15, "Incorrect syntax near the keyword '" + t.value + "'.", true);
    else {
        std::string shown = t.kind == Token::String || t.kind == Token::NString || t.kind == Token::QuotedIdent ? t.value : t.text;
        e = makeError(102, 15, "Incorrect syntax near '" + shown + "'.", true);
    }
    e.msg.line = t.line;
    return e;
}

std::string quoteIdent(const std::string &name)
{
    std::string out = "\"";
    for (char c : name) { if (c == '"') out += '"'; out += c; }
    return out + "\"";
}

std::string quoteLiteral(const std::string &s)
{
    std::string out = "'";
    for (char c : s) { if (c == '\'') out += '\''; out += c; }
    return out + "'";
}

// A statement that raises error `number` (severity 16) when `cond` holds.
static void raiseWhere(Translation &tr, int number, const std::string &text, const std::string &cond)
{
    tr.sql.push_back("SELECT dv_raise(" + std::to_string(number) + ", 16, " + quoteLiteral(text) + ") WHERE " + cond);
}

const ColumnMeta *TableMeta::column(const std::string &n) const
{
    for (const auto &c : columns) if (iequals(c.name, n)) return &c;
    return nullptr;
}

bool TableMeta::hasIdentity() const
{
    for (const auto &c : columns) if (c.identity) return true;
    return false;
}

bool parseTypeName(const std::string &decl, ColumnMeta &out)
{
    std::string d = lower(decl);
    size_t p = d.find('(');
    std::string base = d.substr(0, p);
    while (!base.empty() && base.back() == ' ') base.pop_back();
    // Decimal and money columns are declared "decimal text(p,s)" for SQLite's text affinity.
    if (base.size() > 5 && base.compare(base.size() - 5, 5, " text") == 0) base.resize(base.size() - 5);
    static const std::set<std::string> known = {"int", "bigint", "smallint", "tinyint", "bit", "float", "real",
        "decimal", "numeric", "money", "smallmoney", "datetime", "datetime2", "smalldatetime", "date", "nvarchar",
        "varchar", "nchar", "char", "varbinary", "binary", "text", "ntext", "sysname", "uniqueidentifier", "image",
        "time", "datetimeoffset", "timestamp", "rowversion"};
    if (!known.count(base)) return false;
    out.type = base;
    out.length = 0; out.precision = 0; out.scale = 0;
    if (base == "sysname") { out.type = "nvarchar"; out.length = 128; }
    if (base == "text") { out.type = "varchar"; out.length = -1; }
    if (base == "ntext") { out.type = "nvarchar"; out.length = -1; }
    if (base == "image") { out.type = "varbinary"; out.length = -1; }
    if (base == "smalldatetime") out.type = "datetime";
    if (base == "rowversion" || base == "timestamp") { out.type = "timestamp"; out.length = 8; }
    bool temporal = base == "datetime2" || base == "time" || base == "datetimeoffset";
    if (temporal) out.scale = 7;
    bool isChar = out.type == "nvarchar" || out.type == "varchar" || out.type == "nchar" || out.type == "char"
        || out.type == "varbinary" || out.type == "binary";
    if (isChar && out.length == 0) out.length = 1;
    if (out.type == "decimal" || out.type == "numeric") { out.precision = 18; out.scale = 0; }
    if (p != std::string::npos && base != "sysname") {
        std::string args = d.substr(p + 1);
        if (isChar) {
            if (args.find("max") != std::string::npos) out.length = -1;
            else out.length = std::atoi(args.c_str());
        } else if (out.type == "decimal" || out.type == "numeric") {
            out.precision = std::atoi(args.c_str());
            size_t c = args.find(',');
            out.scale = c == std::string::npos ? 0 : std::atoi(args.c_str() + c + 1);
        } else if (temporal) {
            out.scale = std::atoi(args.c_str());
            if (out.scale < 0 || out.scale > 7) return false;
        }
    }
    return true;
}

ColumnDef columnDefFor(const ColumnMeta &c)
{
    ColumnDef d;
    d.name = c.name;
    d.nullable = c.nullable;
    d.identity = c.identity;
    d.length = c.length;
    const std::string &t = c.type;
    if (t == "int") d.type = SqlType::Int;
    else if (t == "bigint") d.type = SqlType::BigInt;
    else if (t == "smallint") d.type = SqlType::SmallInt;
    else if (t == "tinyint") d.type = SqlType::TinyInt;
    else if (t == "bit") d.type = SqlType::Bit;
    else if (t == "float") d.type = SqlType::Float;
    else if (t == "real") d.type = SqlType::Real;
    else if (t == "decimal") { d.type = SqlType::Decimal; d.precision = c.precision; d.scale = c.scale; }
    else if (t == "numeric") { d.type = SqlType::Numeric; d.precision = c.precision; d.scale = c.scale; }
    else if (t == "money") { d.type = SqlType::Money; d.precision = 19; d.scale = 4; }
    else if (t == "smallmoney") { d.type = SqlType::SmallMoney; d.precision = 10; d.scale = 4; }
    else if (t == "datetime") d.type = SqlType::DateTime;
    else if (t == "date") d.type = SqlType::Date;
    else if (t == "datetime2") { d.type = SqlType::DateTime2; d.scale = c.scale; }
    else if (t == "time") { d.type = SqlType::Time; d.scale = c.scale; }
    else if (t == "datetimeoffset") { d.type = SqlType::DateTimeOffset; d.scale = c.scale; }
    else if (t == "uniqueidentifier") d.type = SqlType::UniqueIdentifier;
    else if (t == "nvarchar") d.type = SqlType::NVarChar;
    else if (t == "varchar") d.type = SqlType::VarChar;
    else if (t == "nchar") d.type = SqlType::NChar;
    else if (t == "char") d.type = SqlType::Char;
    else d.type = SqlType::VarBinary;
    if (d.type != SqlType::NVarChar && d.type != SqlType::VarChar && d.type != SqlType::NChar
        && d.type != SqlType::Char && d.type != SqlType::VarBinary)
        d.length = 0;
    return d;
}

// ---------------------------------------------------------------- helpers

void Translator::expectOp(size_t &i, const char *op)
{
    if (!tok(i).isOp(op)) throw syntaxError(tok(i));
    ++i;
}

void Translator::expectWord(size_t &i, const char *w)
{
    if (!tok(i).isWord(w)) throw syntaxError(tok(i));
    ++i;
}

std::string Translator::name(size_t &i)
{
    const Token &k = tok(i);
    if (k.kind == Token::QuotedIdent || (k.kind == Token::Ident && !isReservedWord(k.value))) {
        ++i;
        return k.value;
    }
    throw syntaxError(k);
}

std::string Translator::param(Translation &tr, const Value &v)
{
    tr.params.push_back(v);
    return "?" + std::to_string(tr.params.size());
}

bool Translator::isAliasToken(size_t i) const
{
    const Token &k = tok(i);
    if (k.kind == Token::QuotedIdent) return true;
    if (k.kind != Token::Ident || isReservedWord(k.value)) return false;
    static const std::set<std::string> no = {"OFFSET", "APPLY", "WINDOW"};
    return !no.count(upper(k.value));
}

std::string internalName(const std::string &owner, const std::string &name)
{
    return owner.empty() || iequals(owner, "dbo") ? name : owner + "." + name;
}

// Object names: [db.][schema.]name with empty parts allowed (db..t); system
// catalogue objects map to the attached catalogue or to per-database views.
// A name without schema is looked up in the login's default schema first,
// then in dbo; `plain` receives the object's internal (SQLite) name.
std::string Translator::objectName(size_t &i, std::string *written, std::string *schemaOut, std::string *plain)
{
    std::vector<std::string> parts;
    parts.push_back(name(i));
    while (tok(i).isOp(".") && parts.size() < 4) {
        ++i;
        if (tok(i).isOp(".")) { parts.push_back(""); continue; }
        parts.push_back(name(i));
    }
    std::string w;
    for (size_t k = 0; k < parts.size(); ++k) { if (k) w += "."; w += parts[k]; }
    if (written) *written = w;
    std::string last = parts.back();
    std::string owner = parts.size() >= 2 ? parts[parts.size() - 2] : "";
    std::string sch = lower(owner);
    std::string db = parts.size() >= 3 ? parts[parts.size() - 3] : "";
    std::string l = lower(last);
    std::string target;
    bool catalogue = false;
    if (sch == "information_schema") {
        if (l == "tables") target = "__dv_is_tables";
        else if (l == "columns") target = "__dv_is_columns";
        else if (l == "table_constraints") target = "__dv_is_tc";
        else if (l == "key_column_usage") target = "__dv_is_kcu";
        else if (l == "views") target = "__dv_is_views";
    } else if (sch == "sys") {
        if (l == "databases") { target = "sys_databases"; catalogue = true; }
        else if (l == "master_files") { target = "sys_master_files"; catalogue = true; }
        else if (l == "backup_devices") { target = "sys_backup_devices"; catalogue = true; }
        else if (l == "sysdatabases" || l == "sysdevices") { target = l; catalogue = true; }
        else if (l == "tables") target = "__dv_sys_tables";
        else if (l == "views") target = "__dv_sys_views";
        else if (l == "objects") target = "__dv_sys_objects";
        else if (l == "columns") target = "__dv_sys_columns";
        else if (l == "schemas") target = "__dv_sys_schemas";
        else if (l == "indexes") target = "__dv_sys_indexes";
        else if (l == "index_columns") target = "__dv_sys_index_columns";
        else if (l == "types") target = "__dv_sys_types";
        else if (l == "computed_columns") target = "__dv_sys_computed_columns";
        else if (l == "triggers") target = "__dv_sys_triggers";
    } else if ((sch.empty() || sch == "dbo") && (l == "sysdatabases" || l == "sysdevices")) {
        target = l;
        catalogue = true;
    }
    // inserted/deleted inside a trigger: the statement's rows.
    std::string pseudoName;
    if (parts.size() == 1 && ctx && (l == "inserted" || l == "deleted") && ctx->pseudoTable(l, &pseudoName)) {
        if (schemaOut) *schemaOut = "temp";
        m_owner = "dbo";
        m_objName = last;
        if (plain) *plain = pseudoName;
        return quoteIdent("temp") + "." + quoteIdent(pseudoName);
    }
    std::string schema;
    if (catalogue) schema = "dvcat";
    else schema = ctx ? ctx->schemaFor(db) : "main";
    // #name lives in tempdb, whatever the current database, and belongs to this connection.
    bool localTemp = false;
    if (!catalogue && target.empty() && last.size() > 1 && last[0] == '#' && last[1] != '#' && ctx) {
        schema = ctx->schemaFor("tempdb");
        target = ctx->localTempName(last);
        localTemp = true;
    }
    if (schemaOut) *schemaOut = schema;
    if (!target.empty()) {
        m_owner = localTemp ? std::string("dbo") : sch;
        m_objName = last;
        if (plain) *plain = localTemp ? target : last;
        return quoteIdent(schema) + "." + quoteIdent(target);
    }
    if (owner.empty()) {
        owner = "dbo";
        if (ctx) {
            std::string def = ctx->defaultSchema();
            if (!iequals(def, "dbo") && (m_creating || !ctx->objectType(schema, internalName(def, last)).empty())) owner = def;
        }
    }
    m_owner = owner;
    m_objName = last;
    std::string internal = internalName(owner, last);
    if (plain) *plain = internal;
    return quoteIdent(schema) + "." + quoteIdent(internal);
}

// ---------------------------------------------------------------- expressions

std::string Translator::collationName(size_t &i)
{
    const Token &k = tok(i);
    std::string n = name(i);
    if (iequals(n, "DATABASE_DEFAULT") && k.kind == Token::Ident) return serverCollation().name;
    std::string known = textCollationName(n);
    if (known.empty()) throw makeError(448, 16, "Invalid collation '" + n + "'.", true);
    return known;
}

// The tables a select core at `i` reads (FROM ... , JOIN ...), found ahead of
// its select list so that column references there have types.
std::vector<Translator::ScopeTable> Translator::fromTables(size_t i)
{
    std::vector<ScopeTable> out;
    if (!ctx) return out;
    auto stops = [&](size_t k) {
        const Token &x = tok(k);
        if (x.kind == Token::End || x.isOp(";")) return true;
        static const char *words[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "WHERE", "GROUP", "ORDER", "HAVING", "UNION",
                                      "EXCEPT", "INTERSECT", "OPTION", "END", "ELSE", "BEGIN", "IF", "WHILE", "SET",
                                      "DECLARE", "EXEC", "EXECUTE", "RETURN", "PRINT", "FOR", "OUTPUT"};
        for (const char *w : words) if (x.isWord(w)) return true;
        return false;
    };
    // Skips to the next token at parenthesis depth 0 that `pred` accepts; false at a stop or when the level closes.
    auto skipTo = [&](size_t &k, const std::function<bool(size_t)> &pred) {
        int depth = 0;
        for (; k < t.size(); ++k) {
            if (tok(k).isOp("(")) { ++depth; continue; }
            if (tok(k).isOp(")")) { if (--depth < 0) return false; continue; }
            if (depth > 0) continue;
            if (pred(k)) return true;
            if (stops(k)) return false;
        }
        return false;
    };
    size_t k = i;
    if (!skipTo(k, [&](size_t x) { return tok(x).isWord("FROM"); })) return out;
    ++k;
    for (;;) {
        if (tok(k).isName() || tok(k).kind == Token::Variable) {
            std::optional<TableMeta> meta;
            std::string alias;
            if (tok(k).kind == Token::Variable) {
                std::string sqlName;
                meta = ctx->tableVariable(lower(tok(k).value), &sqlName);
                alias = tok(k).value;
                ++k;
            } else {
                const std::string owner = m_owner, objName = m_objName;
                try {
                    std::string schema, plain;
                    objectName(k, nullptr, &schema, &plain);
                    if (!tok(k).isOp("(")) meta = ctx->table(schema, plain);
                } catch (const SqlError &) {
                    meta.reset();
                }
                m_owner = owner;
                m_objName = objName;
                alias = tok(k - 1).value;
            }
            if (tok(k).isWord("AS")) ++k;
            if (isAliasToken(k) || tok(k).kind == Token::QuotedIdent) alias = tok(k).value;
            if (meta) out.push_back({alias, std::move(*meta)});
        }
        if (!skipTo(k, [&](size_t x) { return tok(x).isOp(",") || tok(x).isWord("JOIN") || tok(x).isWord("APPLY"); }))
            break;
        ++k;
    }
    return out;
}

ColumnMeta Translator::typeSpec(size_t &i)
{
    const Token &k = tok(i);
    if (!k.isName()) throw syntaxError(k);
    std::string tname = k.value;
    ++i;
    if (tok(i).isOp(".")) { ++i; tname = name(i); } // dbo.int, sys.sysname
    std::string decl = tname;
    if (tok(i).isOp("(")) {
        ++i;
        decl += "(";
        if (tok(i).isWord("MAX")) { decl += "max"; ++i; }
        else {
            if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
            decl += tok(i).value; ++i;
            if (tok(i).isOp(",")) {
                ++i;
                if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                decl += "," + tok(i).value; ++i;
            }
        }
        expectOp(i, ")");
        decl += ")";
    }
    ColumnMeta m;
    if (!parseTypeName(decl, m)) {
        if (ctx) throw makeError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + tname + ".", true);
        m.type = "int";
    }
    return m;
}

std::string typeArgs(const ColumnMeta &m)
{
    return quoteLiteral(m.type) + ", " + std::to_string(m.length) + ", " + std::to_string(m.precision) + ", "
        + std::to_string(m.scale);
}

// ---------------------------------------------------------------- SELECT

std::string Translator::tableSource(size_t &i, Translation &tr)
{
    std::string s;
    if (tok(i).isOp("(")) {
        ++i;
        if (tok(i).isWord("SELECT")) {
            s = "(" + select(i, false, tr) + ")";
            expectOp(i, ")");
            if (tok(i).isWord("AS")) ++i;
            s += " AS " + quoteIdent(name(i));
            return s;
        }
        s = "(" + tableSources(i, tr) + ")";
        expectOp(i, ")");
        return s;
    }
    if (cteSource(i, tr, s)) return s;
    std::string written, plain;
    s = targetName(i, tr, &written, nullptr, &plain);
    tr.writtenNames[lower(plain)] = written;
    if (tok(i).isWord("AS")) { ++i; s += " AS " + quoteIdent(name(i)); }
    else if (isAliasToken(i)) s += " AS " + quoteIdent(name(i));
    if (tok(i).isWord("WITH") && tok(i + 1).isOp("(")) {
        i += 2;
        while (!tok(i).isOp(")") && tok(i).kind != Token::End) ++i;
        expectOp(i, ")");
    }
    return s;
}

std::string Translator::tableSources(size_t &i, Translation &tr)
{
    std::string s = tableSource(i, tr);
    for (;;) {
        if (tok(i).isOp(",")) { ++i; s += ", " + tableSource(i, tr); continue; }
        std::string kind;
        size_t j = i;
        if (tok(j).isWord("INNER")) { kind = "INNER JOIN"; ++j; }
        else if (tok(j).isWord("LEFT")) { kind = "LEFT JOIN"; ++j; if (tok(j).isWord("OUTER")) ++j; }
        else if (tok(j).isWord("RIGHT")) { kind = "RIGHT JOIN"; ++j; if (tok(j).isWord("OUTER")) ++j; }
        else if (tok(j).isWord("FULL")) { kind = "FULL JOIN"; ++j; if (tok(j).isWord("OUTER")) ++j; }
        else if (tok(j).isWord("CROSS")) { kind = "CROSS JOIN"; ++j; }
        if (!tok(j).isWord("JOIN")) {
            if (!kind.empty()) throw syntaxError(tok(j));
            break;
        }
        if (kind.empty()) kind = "JOIN";
        i = j + 1;
        s += " " + kind + " " + tableSource(i, tr);
        if (kind != "CROSS JOIN") {
            expectWord(i, "ON");
            s += " ON " + expr(i, tr);
        }
    }
    return s;
}

static bool plainColumnRef(const std::vector<Token> &t, size_t a, size_t b)
{
    for (size_t k = a; k < b; ++k) {
        if (t[k].isOp(".")) continue;
        if (t[k].kind == Token::QuotedIdent) continue;
        if (t[k].kind == Token::Ident && !isReservedWord(t[k].value)) continue;
        return false;
    }
    return b > a;
}

std::string Translator::selectCore(size_t &i, Translation &tr, std::string &limit)
{
    expectWord(i, "SELECT");
    bool intoOk = m_intoAllowed;
    m_intoAllowed = false;
    bool savedWindowOk = m_windowOk;
    m_windowOk = true;
    std::vector<std::string> names, numTypes;
    ScopeGuard scope(m_scopes, fromTables(i));
    // The members of a recursive CTE carry their recursion level in an extra column.
    bool recMember = m_rec && m_rec->depth == m_selectDepth;
    if (recMember) m_rec->refAlias.clear();
    std::string s = "SELECT ";
    if (tok(i).isWord("ALL")) ++i;
    else if (tok(i).isWord("DISTINCT")) { ++i; s += "DISTINCT "; }
    if (tok(i).isWord("TOP")) {
        ++i;
        if (tok(i).isOp("(")) { ++i; limit = expr(i, tr); expectOp(i, ")"); }
        else if (tok(i).kind == Token::Number || tok(i).kind == Token::Variable) limit = primary(i, tr);
        else throw syntaxError(tok(i));
        if (tok(i).isWord("PERCENT")) throw syntaxError(tok(i));
        if (tok(i).isWord("WITH")) throw syntaxError(tok(i));
    }
    bool first = true;
    size_t items = 0;
    std::vector<ColumnMeta> types;
    for (;;) {
        if (!first) s += ", ";
        first = false;
        ++items;
        const size_t itemBegin = i;
        m_type = num::Type{};
        if (tok(i).isOp("*")) { ++i; s += "*"; names.push_back("*"); }
        else if (tok(i).isName() && tok(i + 1).isOp(".") && tok(i + 2).isOp("*")) {
            s += quoteIdent(tok(i).value) + ".*";
            i += 3;
            names.push_back("*");
        } else if (tok(i).kind == Token::Variable && tok(i + 1).isOp("=")) {
            tr.assignVars.push_back(tok(i).value);
            i += 2;
            s += expr(i, tr);
        } else if (tok(i).isName() && tok(i + 1).isOp("=") && (tok(i).kind == Token::QuotedIdent || !isReservedWord(tok(i).value))) {
            std::string alias = tok(i).value;
            i += 2;
            s += collatedUnlessColumn(expr(i, tr)) + " AS " + quoteIdent(alias);
            names.push_back(alias);
        } else if (tok(i).kind == Token::String && tok(i + 1).isOp("=")) {
            std::string alias = tok(i).value;
            i += 2;
            s += collatedUnlessColumn(expr(i, tr)) + " AS " + quoteIdent(alias);
            names.push_back(alias);
        } else {
            size_t a = i;
            std::string e = expr(i, tr);
            bool plain = plainColumnRef(t, a, i);
            // An expression's column compares by the server collation in DISTINCT, UNION,
            // ORDER BY and outer queries, as a column compares by its own.
            e = collatedUnlessColumn(e);
            if (tok(i).isWord("AS")) {
                ++i;
                if (tok(i).kind == Token::String) { s += e + " AS " + quoteIdent(tok(i).value); names.push_back(tok(i).value); ++i; }
                else { std::string alias = name(i); s += e + " AS " + quoteIdent(alias); names.push_back(alias); }
            } else if (isAliasToken(i) || tok(i).kind == Token::String) {
                s += e + " AS " + quoteIdent(tok(i).value);
                names.push_back(tok(i).value);
                ++i;
            } else if (plain) {
                s += e;
                names.push_back(t[i - 1].value);
            } else {
                s += e + " AS \"\""; // SQL Server leaves expression columns unnamed
                names.push_back("");
            }
        }
        // An item that is one typed call (alias aside) has that call's type.
        size_t exprBegin = tok(itemBegin + 1).isOp("=") ? itemBegin + 2 : itemBegin;
        if (m_typedBegin == exprBegin && m_typedEnd > exprBegin && m_typedEnd <= i
            && (m_typedEnd == i || tok(m_typedEnd).isWord("AS") || isAliasToken(m_typedEnd) || tok(m_typedEnd).kind == Token::String))
            types.push_back(m_typedResult);
        else
            types.emplace_back();
        numTypes.push_back(num::typeCode(m_type));
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    if (!tr.assignVars.empty() && tr.assignVars.size() != items) {
        // Mixed assignment and retrieval is not allowed.
        throw makeError(141, 15, "A SELECT statement that assigns a value to a variable must not be combined with data-retrieval operations.", true);
    }
    const std::string levelMarker = "\x01level\x01";
    if (recMember) s += levelMarker;
    if (tok(i).isWord("INTO")) {
        if (!intoOk) throw syntaxError(tok(i));
        ++i;
        size_t from = i;
        objectName(i, nullptr);
        for (size_t k = from; k < i; ++k) tr.intoTarget += t[k].text;
    }
    m_windowOk = false; // windowed functions belong in the select list and ORDER BY only
    if (tok(i).isWord("FROM")) { ++i; s += " FROM " + tableSources(i, tr); }
    std::string where;
    if (tok(i).isWord("WHERE")) { ++i; where = expr(i, tr); }
    if (recMember) {
        // Anchor members start at level 0; a recursive member adds one to the row it extends
        // and stops one level past the limit, which the CTE's reader reports as error 530.
        std::string level = ", 0";
        if (!m_rec->refAlias.empty()) {
            if (m_rec->member == 0)
                throw makeError(246, 16, "No anchor member was specified for recursive query '" + m_rec->name + "'.", true);
            m_rec->recursiveSeen = true;
            std::string lv = quoteIdent(m_rec->refAlias) + ".\"__dv_lvl\"";
            level = ", " + lv + " + 1";
            std::string cond = lv + " <= ?" + std::to_string(m_recLimitParam);
            where = where.empty() ? cond : "(" + where + ") AND " + cond;
        }
        s.replace(s.find(levelMarker), levelMarker.size(), level);
        ++m_rec->member;
    }
    if (!where.empty()) s += " WHERE " + where;
    if (tok(i).isWord("GROUP")) {
        ++i;
        expectWord(i, "BY");
        s += " GROUP BY " + collatedUnlessColumn(expr(i, tr));
        while (tok(i).isOp(",")) { ++i; s += ", " + collatedUnlessColumn(expr(i, tr)); }
    }
    if (tok(i).isWord("HAVING")) { ++i; s += " HAVING " + expr(i, tr); }
    m_windowOk = savedWindowOk;
    m_coreNames = names;
    m_coreTypes = names.size() == types.size() ? types : std::vector<ColumnMeta>();
    m_coreNumTypes = numTypes;
    return s;
}

std::string Translator::select(size_t &i, bool topLevel, Translation &tr)
{
    struct Depth {
        int &d;
        explicit Depth(int &x) : d(x) { ++d; }
        ~Depth() { --d; }
    } depth(m_selectDepth);
    std::string limit;
    std::string s = selectCore(i, tr, limit);
    std::vector<std::string> names = m_coreNames;
    if (topLevel && m_selectDepth == 1) tr.resultTypes = m_coreTypes;
    if (topLevel && std::find(names.begin(), names.end(), "*") == names.end()) tr.columnTypes = m_coreNumTypes;
    while (tok(i).isWord("UNION") || tok(i).isWord("EXCEPT") || tok(i).isWord("INTERSECT")) {
        std::string op = upper(tok(i).value);
        ++i;
        if (op == "UNION" && tok(i).isWord("ALL")) { op += " ALL"; ++i; }
        std::string ignored;
        s += " " + op + " " + selectCore(i, tr, ignored);
        // The recursive members of a CTE are joined to the anchor by UNION ALL only.
        if (m_rec && m_rec->depth == m_selectDepth && !m_rec->refAlias.empty() && op != "UNION ALL")
            throw makeError(252, 16, "Recursive common table expression '" + m_rec->name
                            + "' does not contain a top-level UNION ALL operator.", true);
    }
    bool ordered = false, offset = false;
    if (tok(i).isWord("ORDER")) {
        ++i;
        expectWord(i, "BY");
        ordered = true;
        bool savedWindowOk = m_windowOk;
        m_windowOk = true;
        s += " ORDER BY ";
        for (;;) {
            // A position (ORDER BY 2) sorts by that column's own collation.
            const size_t at = i;
            std::string e = expr(i, tr);
            s += tok(at).kind == Token::Number && i == at + 1 ? e : collatedUnlessColumn(e);
            if (tok(i).isWord("ASC")) { ++i; s += " ASC"; }
            else if (tok(i).isWord("DESC")) { ++i; s += " DESC"; }
            if (!tok(i).isOp(",")) break;
            ++i;
            s += ", ";
        }
        m_windowOk = savedWindowOk;
        if (tok(i).isWord("OFFSET")) {
            offset = true;
            s += offsetFetch(i, tr, limit);
        }
    } else if (tok(i).isWord("OFFSET")) {
        // OFFSET belongs to ORDER BY; without one SQL Server reads OFFSET as an alias.
        throw syntaxError(tok(i + 1));
    }
    if (ordered && !topLevel && limit.empty() && !offset)
        throw makeError(1033, 15, "The ORDER BY clause is invalid in views, inline functions, derived tables, subqueries, "
                        "and common table expressions, unless TOP, OFFSET or FOR XML is also specified.", true);
    if (!limit.empty()) s += " LIMIT " + limit;
    m_selectNames = names;
    return s;
}

// ---------------------------------------------------------------- DML

// OUTPUT INSERTED.*|INSERTED.col|expr [AS alias], ... becomes SQLite's
// RETURNING list; `deleted` for DELETE (old values), else INSERTED (new).
std::string Translator::outputClause(size_t &i, Translation &tr, const std::optional<TableMeta> &meta, bool deleted)
{
    expectWord(i, "OUTPUT");
    tr.output = true;
    std::string pseudo = deleted ? "deleted" : "inserted";
    if (tr.verb == "UPDATE") pseudo = "both";
    std::string s;
    auto add = [&](const std::string &sql, const std::string &colName, std::optional<ColumnMeta> m) {
        if (!s.empty()) s += ", ";
        s += sql + " AS " + quoteIdent(colName);
        tr.outputCols.push_back({colName, std::move(m)});
    };
    for (;;) {
        const Token &k = tok(i);
        if (k.isName() && tok(i + 1).isOp(".") && tok(i + 2).isOp("*")) {
            std::string p = lower(k.value);
            if (p != "inserted" && p != "deleted") throw syntaxError(k);
            if (p != pseudo && pseudo != "both")
                throw makeError(4104, 16, "The multi-part identifier \"" + k.value + ".*\" could not be bound.", true);
            i += 3;
            const bool old = pseudo == "both" && p == "deleted";
            if (old) tr.captureOld = true;
            auto column = [&](const std::string &c) {
                return old ? "(SELECT o." + quoteIdent(c) + " FROM \"__dv_old\" o WHERE o.\"__dv_rid\" = "
                        + quoteIdent(m_pseudoTarget) + ".rowid)"
                           : quoteIdent(c);
            };
            if (meta) for (const auto &c : meta->columns) add(column(c.name), c.name, c);
            else { if (!s.empty()) s += ", "; s += "*"; }
        } else {
            size_t a = i;
            m_pseudo = pseudo;
            std::string e;
            try { e = expr(i, tr); } catch (...) { m_pseudo.clear(); throw; }
            m_pseudo.clear();
            std::optional<ColumnMeta> m;
            std::string colName;
            // A plain pseudo-table column keeps its declared type and name.
            if (i == a + 3 && t[a].isName() && t[a + 1].isOp(".") && t[a + 2].isName()) {
                colName = t[a + 2].value;
                if (meta) {
                    const ColumnMeta *c = meta->column(colName);
                    if (!c) throw makeError(207, 16, "Invalid column name '" + colName + "'.", true);
                    m = *c;
                    colName = c->name;
                }
            }
            if (tok(i).isWord("AS")) { ++i; colName = tok(i).kind == Token::String ? tok(i++).value : name(i); }
            else if (isAliasToken(i) && !tok(i).isWord("INTO")) colName = name(i);
            add(e, colName, m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    if (tok(i).isWord("INTO")) {
        ++i;
        std::string written, schema, plain;
        const bool derived = tr.derived;
        tr.intoSql = targetName(i, tr, &written, &schema, &plain);
        tr.derived = derived;
        std::optional<TableMeta> into;
        if (ctx) {
            into = schema == "temp" ? ctx->table("temp", plain) : ctx->table(schema, plain);
            if (!into) throw makeError(208, 16, "Invalid object name '" + written + "'.", true);
        }
        if (tok(i).isOp("(")) {
            ++i;
            tr.intoCols.push_back(name(i));
            while (tok(i).isOp(",")) { ++i; tr.intoCols.push_back(name(i)); }
            expectOp(i, ")");
            if (into)
                for (const auto &c : tr.intoCols)
                    if (!into->column(c)) throw makeError(207, 16, "Invalid column name '" + c + "'.", true);
        } else if (into) {
            for (const auto &c : into->columns)
                if (!c.identity && c.writable()) tr.intoCols.push_back(c.name);
        }
        if (ctx && tr.intoCols.size() != tr.outputCols.size())
            throw makeError(213, 16, "Column name or number of supplied values does not match table definition.", true);
    }
    return " RETURNING " + s;
}

// The table an INSERT, UPDATE or DELETE writes, as the catalogue knows it:
// 208 when it does not exist, 8180 for a view (writes through views are not
// emulated); none for the server's own catalogue or without a session.
std::optional<TableMeta> Translator::writtenTable(const std::string &schema, const std::string &plain,
                                                  const std::string &written)
{
    if (!ctx || schema == "dvcat") return std::nullopt;
    std::optional<TableMeta> meta = ctx->table(schema, plain);
    if (!meta) throw makeError(208, 16, "Invalid object name '" + written + "'.", true);
    if (meta->type == "V")
        throw makeError(8180, 16, "Statement(s) could not be prepared. This test server does not support writing through the view '"
                        + written + "'; write to its base table.", true);
    return meta;
}

std::string Translator::insert(size_t &i, Translation &tr)
{
    expectWord(i, "INSERT");
    if (tok(i).isWord("INTO")) ++i;
    std::string written, schema, plain;
    std::string target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::vector<std::string> cols;
    bool explicitCols = false;
    if (tok(i).isOp("(") && !tok(i + 1).isWord("SELECT")) {
        ++i;
        explicitCols = true;
        cols.push_back(name(i));
        while (tok(i).isOp(",")) { ++i; cols.push_back(name(i)); }
        expectOp(i, ")");
    }
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    if (meta) {
        for (const auto &c : cols) {
            const ColumnMeta *m = meta->column(c);
            if (!m) throw makeError(207, 16, "Invalid column name '" + c + "'.", true);
            if (m->identity && !ctx->identityInsert(plain))
                throw makeError(544, 16, "Cannot insert explicit value for identity column in table '" + m_objName
                                + "' when IDENTITY_INSERT is set to OFF.");
            if (!m->computed.empty())
                throw makeError(271, 16, "The column \"" + m->name + "\" cannot be modified because it is either a computed column or is the result of a UNION operator.");
            if (m->type == "timestamp")
                throw makeError(273, 16, "Cannot insert an explicit value into a timestamp column. Use INSERT with a column list to "
                                "exclude the timestamp column, or insert a DEFAULT into the timestamp column.");
        }
        if (!explicitCols)
            for (const auto &c : meta->columns)
                if ((!c.identity || ctx->identityInsert(plain)) && c.writable()) cols.push_back(c.name);
    }
    auto colList = [&]() {
        if (cols.empty()) return std::string();
        std::string s = " (";
        for (size_t k = 0; k < cols.size(); ++k) { if (k) s += ", "; s += quoteIdent(cols[k]); }
        return s + ")";
    };
    std::string s = "INSERT INTO " + target;
    std::string returning;
    if (tok(i).isWord("OUTPUT")) returning = outputClause(i, tr, meta, false);
    if (tok(i).isWord("VALUES")) {
        ++i;
        std::string rows;
        for (;;) {
            expectOp(i, "(");
            std::vector<std::string> vals;
            vals.push_back(expr(i, tr));
            while (tok(i).isOp(",")) { ++i; vals.push_back(expr(i, tr)); }
            expectOp(i, ")");
            if (meta) {
                if (explicitCols && vals.size() < cols.size())
                    throw makeError(109, 15, "There are more columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement.", true);
                if (explicitCols && vals.size() > cols.size())
                    throw makeError(110, 15, "There are fewer columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement.", true);
                if (!explicitCols && vals.size() != cols.size())
                    throw makeError(213, 16, "Column name or number of supplied values does not match table definition.", true);
            }
            if (!rows.empty()) rows += ", ";
            rows += "(";
            for (size_t k = 0; k < vals.size(); ++k) { if (k) rows += ", "; rows += vals[k]; }
            rows += ")";
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        s += colList() + " VALUES " + rows;
    } else if (tok(i).isWord("SELECT")) {
        s += colList() + " " + select(i, true, tr);
    } else if (tok(i).isOp("(") && tok(i + 1).isWord("SELECT")) {
        ++i;
        s += colList() + " " + select(i, true, tr);
        expectOp(i, ")");
    } else if (tok(i).isWord("DEFAULT") && tok(i + 1).isWord("VALUES")) {
        i += 2;
        s += " DEFAULT VALUES";
    } else {
        throw syntaxError(tok(i));
    }
    return s + returning;
}

std::string Translator::update(size_t &i, Translation &tr)
{
    expectWord(i, "UPDATE");
    std::string written, schema, plain;
    std::string target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    std::vector<ScopeTable> targetScope;
    if (meta) targetScope.push_back({written.substr(written.rfind('.') + 1), *meta});
    ScopeGuard scope(m_scopes, std::move(targetScope));
    expectWord(i, "SET");
    std::string s = "UPDATE " + target + " SET ";
    bool first = true;
    for (;;) {
        std::string col = name(i);
        while (tok(i).isOp(".")) { ++i; col = name(i); }
        if (meta) {
            const ColumnMeta *m = meta->column(col);
            if (!m) throw makeError(207, 16, "Invalid column name '" + col + "'.", true);
            if (m->identity) throw makeError(8102, 16, "Cannot update identity column '" + m->name + "'.");
            if (!m->computed.empty())
                throw makeError(271, 16, "The column \"" + m->name + "\" cannot be modified because it is either a computed column or is the result of a UNION operator.");
            if (m->type == "timestamp") throw makeError(272, 16, "Cannot update a timestamp column.");
        }
        expectOp(i, "=");
        if (!first) s += ", ";
        first = false;
        s += quoteIdent(col) + " = " + expr(i, tr);
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    // Every update of a row gives its rowversion the database's next value.
    if (meta)
        for (const auto &c : meta->columns)
            if (c.type == "timestamp") s += ", " + quoteIdent(c.name) + " = dv_nextts()";
    std::string returning;
    if (tok(i).isWord("OUTPUT")) {
        m_pseudoTarget = plain;
        returning = outputClause(i, tr, meta, false);
    }
    if (tok(i).isWord("FROM")) { ++i; s += " FROM " + tableSources(i, tr); }
    if (tok(i).isWord("WHERE")) { ++i; s += " WHERE " + expr(i, tr); }
    return s + returning;
}

std::string Translator::del(size_t &i, Translation &tr)
{
    expectWord(i, "DELETE");
    if (tok(i).isWord("FROM")) ++i;
    std::string written, schema, plain;
    std::string target = targetName(i, tr, &written, &schema, &plain);
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    tr.writtenNames[lower(plain)] = written;
    std::optional<TableMeta> meta = writtenTable(schema, plain, written);
    std::vector<ScopeTable> targetScope;
    if (meta) targetScope.push_back({written.substr(written.rfind('.') + 1), *meta});
    ScopeGuard scope(m_scopes, std::move(targetScope));
    std::string s = "DELETE FROM " + target;
    std::string returning;
    if (tok(i).isWord("OUTPUT")) returning = outputClause(i, tr, meta, true);
    if (tok(i).isWord("WHERE")) { ++i; s += " WHERE " + expr(i, tr); }
    return s + returning;
}

static std::string randomHex(int n)
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char *hex = "0123456789ABCDEF";
    std::string s;
    for (int k = 0; k < n; ++k) s += hex[rng() % 16];
    return s;
}

std::string sqliteDecl(const ColumnMeta &m)
{
    std::string d = m.type;
    bool isChar = m.type == "nvarchar" || m.type == "varchar" || m.type == "nchar" || m.type == "char";
    // SQLite type names take numbers only; (max) is kept in the column metadata.
    if ((isChar || m.type == "varbinary" || m.type == "binary") && m.length >= 0)
        d += "(" + std::to_string(m.length) + ")";
    // Decimals and money are kept as exact text (text affinity: SQLite turns numeric text
    // into doubles otherwise) and compared as numbers.
    if (m.type == "decimal" || m.type == "numeric")
        d += " text(" + std::to_string(m.precision) + "," + std::to_string(m.scale) + ")";
    if (m.type == "money" || m.type == "smallmoney") d += " text";
    if (m.type == "decimal" || m.type == "numeric" || m.type == "money" || m.type == "smallmoney")
        d += std::string(" COLLATE ") + kDecimalCollation;
    // Text compares, sorts and is unique by its collation (see textcollation.h).
    if (isChar) d += " COLLATE " + quoteIdent(m.collation.empty() ? serverCollation().name : m.collation);
    if (m.type == "datetime" || m.type == "date" || isTemporalType(m.type)) d += std::string(" COLLATE ") + kTimeCollation;
    if (m.type == "uniqueidentifier") d += std::string(" COLLATE ") + kGuidCollation;
    return d;
}

void Translator::createTable(size_t &i, Translation &tr)
{
    expectWord(i, "CREATE");
    expectWord(i, "TABLE");
    std::string written, schema, plain;
    m_creating = true;
    std::string target = objectName(i, &written, &schema, &plain);
    m_creating = false;
    const std::string owner = m_owner, objName = m_objName;
    tr.kind = Translation::Ddl;
    tr.table = written;
    tr.schema = schema;
    tr.targetInternal = plain;
    if (ctx && schema != "dvcat") {
        if (!ctx->schemaExists(schema, owner))
            throw makeError(2760, 16, "The specified schema name \"" + owner + "\" either does not exist or you do not have permission to use it.");
        if (!ctx->objectType(schema, plain).empty())
            throw makeError(2714, 16, "There is already an object named '" + objName + "' in the database.");
    }
    expectOp(i, "(");
    std::vector<ColumnMeta> cols;
    std::vector<std::string> pkCols;
    std::string pkName;
    std::vector<std::pair<std::string, std::vector<std::string>>> uniques;
    std::vector<std::pair<int64_t, int64_t>> identitySeed;
    auto columnList = [&](std::vector<std::string> &out) {
        expectOp(i, "(");
        out.push_back(name(i));
        if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
        while (tok(i).isOp(",")) {
            ++i;
            out.push_back(name(i));
            if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
        }
        expectOp(i, ")");
    };
    int64_t seed = 1;
    for (;;) {
        std::string cname;
        if (tok(i).isWord("CONSTRAINT")) { ++i; cname = name(i); }
        if (tok(i).isWord("PRIMARY")) {
            ++i;
            expectWord(i, "KEY");
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            if (!pkCols.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '" + objName + "'.", true);
            columnList(pkCols);
            pkName = cname;
        } else if (tok(i).isWord("UNIQUE")) {
            ++i;
            if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
            std::vector<std::string> u;
            columnList(u);
            uniques.push_back({cname, u});
        } else {
            if (!cname.empty()) throw syntaxError(tok(i));
            ColumnMeta m;
            m.name = name(i);
            if (tok(i).isWord("AS")) {
                // A computed column: SQLite computes it from the row (STORED when PERSISTED).
                ++i;
                Translation scratch;
                m.computed = expr(i, scratch);
                if (!scratch.params.empty()) throw syntaxError(tok(i - 1));
                if (tok(i).isWord("PERSISTED")) { ++i; m.persisted = true; }
                if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
                    if (!m.persisted)
                        throw makeError(8183, 16, "Only UNIQUE or PRIMARY KEY constraints can be created on computed columns, while CHECK, "
                                        "FOREIGN KEY, and NOT NULL constraints require that computed columns be persisted.", true);
                    i += 2;
                    m.nullable = false;
                }
                cols.push_back(m);
                if (!tok(i).isOp(",")) break;
                ++i;
                if (tok(i).isOp(")")) break;
                continue;
            }
            ColumnMeta ty = typeSpec(i);
            m.type = ty.type; m.length = ty.length; m.precision = ty.precision; m.scale = ty.scale;
            if (m.type == "timestamp") m.nullable = false;
            bool explicitNull = false;
            for (;;) {
                if (tok(i).isWord("IDENTITY")) {
                    ++i;
                    m.identity = true;
                    m.nullable = false;
                    if (tok(i).isOp("(")) {
                        ++i;
                        bool neg = false;
                        if (tok(i).isOp("-")) { neg = true; ++i; }
                        if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                        seed = std::atoll(tok(i).value.c_str()) * (neg ? -1 : 1);
                        ++i;
                        expectOp(i, ",");
                        if (tok(i).isOp("-")) ++i;
                        if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                        ++i;
                        expectOp(i, ")");
                    }
                } else if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
                    i += 2; m.nullable = false; explicitNull = true;
                } else if (tok(i).isWord("NULL")) {
                    ++i; m.nullable = true; explicitNull = true;
                } else if (tok(i).isWord("CONSTRAINT")) {
                    ++i; cname = name(i);
                } else if (tok(i).isWord("PRIMARY")) {
                    ++i;
                    expectWord(i, "KEY");
                    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
                    if (!pkCols.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '" + objName + "'.", true);
                    pkCols.push_back(m.name);
                    pkName = cname;
                    cname.clear();
                } else if (tok(i).isWord("UNIQUE")) {
                    ++i;
                    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
                    uniques.push_back({cname, {m.name}});
                    cname.clear();
                } else if (tok(i).isWord("DEFAULT")) {
                    ++i;
                    Translation scratch;
                    m.defaultSql = expr(i, scratch);
                    if (!scratch.params.empty()) throw syntaxError(tok(i - 1)); // variables are not constants
                    cname.clear();
                } else if (tok(i).isWord("COLLATE")) {
                    ++i;
                    m.collation = collationName(i);
                } else break;
            }
            (void)explicitNull;
            if (m.identity && m.type != "int" && m.type != "bigint" && m.type != "smallint" && m.type != "tinyint"
                && m.type != "decimal" && m.type != "numeric")
                throw makeError(2749, 16, "Identity column '" + m.name + "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric with a scale of 0, and constrained to be nonnullable.", true);
            cols.push_back(m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
        if (tok(i).isOp(")")) break; // SQL Server accepts a trailing comma
    }
    expectOp(i, ")");
    if (cols.empty()) throw syntaxError(tok(i));
    int ord = 0;
    for (const auto &p : pkCols) {
        ++ord;
        bool found = false;
        for (auto &c : cols) if (iequals(c.name, p)) { c.pkOrdinal = ord; c.nullable = false; found = true; }
        if (!found) throw makeError(1911, 16, "Column name '" + p + "' does not exist in the target table or view.", true);
    }
    int identities = 0;
    for (const auto &c : cols) identities += c.identity ? 1 : 0;
    const ColumnMeta *rowversion = nullptr;
    for (const auto &c : cols) {
        if (c.type != "timestamp") continue;
        if (rowversion)
            throw makeError(2738, 16, "A table can only have one timestamp column. Because table '" + objName
                            + "' already has one, the column '" + c.name + "' cannot be added.", true);
        rowversion = &c;
    }
    if (identities > 1) throw makeError(2744, 16, "Multiple identity columns specified for table '" + objName + "'. Only one identity column per table is allowed.", true);
    if (!pkCols.empty() && pkName.empty()) pkName = "PK__" + objName.substr(0, 8) + "__" + randomHex(16);
    std::string shortName = objName.substr(0, 8);

    std::string qschema = quoteIdent(schema);
    std::string ddl = "CREATE TABLE " + target + " (";
    bool firstCol = true;
    bool identityIsKey = false;
    for (const auto &c : cols) {
        if (!firstCol) ddl += ", ";
        firstCol = false;
        if (c.identity) {
            // The identity column is SQLite's rowid: values are assigned on insert.
            ddl += quoteIdent(c.name) + " INTEGER PRIMARY KEY AUTOINCREMENT";
            identityIsKey = pkCols.size() == 1 && c.pkOrdinal == 1;
            continue;
        }
        if (!c.computed.empty()) {
            ddl += quoteIdent(c.name) + " AS (" + c.computed + ")" + (c.persisted ? " STORED" : " VIRTUAL");
            if (!c.nullable) ddl += " NOT NULL";
            continue;
        }
        ddl += quoteIdent(c.name) + " " + sqliteDecl(c);
        if (!c.nullable) ddl += " NOT NULL";
        // A rowversion takes the database's next value on insert (and on update, see update()).
        if (c.type == "timestamp") ddl += " DEFAULT (dv_nextts())";
        else if (!c.defaultSql.empty()) ddl += " DEFAULT (" + c.defaultSql + ")";
        ddl += " CHECK (dv_check(" + quoteIdent(c.name) + ", " + typeArgs(c) + "))";
    }
    auto quotedList = [&](const std::vector<std::string> &v) {
        std::string s;
        for (size_t k = 0; k < v.size(); ++k) { if (k) s += ", "; s += quoteIdent(v[k]); }
        return s;
    };
    bool hasIdentity = identities > 0;
    if (!pkCols.empty() && !identityIsKey) ddl += hasIdentity ? ", UNIQUE (" + quotedList(pkCols) + ")" : ", PRIMARY KEY (" + quotedList(pkCols) + ")";
    for (const auto &u : uniques) ddl += ", UNIQUE (" + quotedList(u.second) + ")";
    ddl += ")";
    tr.sql.push_back(ddl);
    tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_tables\"(name, object_id, create_date, pk_name, schema_name, obj_name, type) VALUES ("
                     + quoteLiteral(plain) + ", (SELECT coalesce(max(object_id), 901578250) + 16 FROM " + qschema
                     + ".\"__dv_tables\"), dv_getdate(), " + (pkName.empty() ? "NULL" : quoteLiteral(pkName)) + ", "
                     + quoteLiteral(owner) + ", " + quoteLiteral(objName) + ", 'U')");
    // Keys and unique constraints are indexes too (sys.indexes): the primary key is index 1.
    auto recordIndex = [&](const std::string &idx, int id, bool pk, bool uc, const std::vector<std::string> &keyCols) {
        tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_indexes\" VALUES (" + quoteLiteral(plain) + ", "
                         + quoteLiteral(idx) + ", " + std::to_string(id) + ", 1, " + (pk ? "1" : "0") + ", "
                         + (uc ? "1" : "0") + ")");
        for (size_t k = 0; k < keyCols.size(); ++k)
            tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_index_columns\" VALUES (" + quoteLiteral(plain) + ", "
                             + quoteLiteral(idx) + ", " + std::to_string(k + 1) + ", " + quoteLiteral(keyCols[k]) + ", 0)");
    };
    if (!pkCols.empty()) recordIndex(pkName, 1, true, false, pkCols);
    int n = 0;
    // A computed column's type is what its expression gives for a row of sample values.
    std::string sampleRow;
    for (const auto &c : cols) {
        if (!c.computed.empty()) continue;
        std::string v = c.type == "int" || c.type == "bigint" || c.type == "smallint" || c.type == "tinyint" || c.type == "bit" ? "1"
            : c.type == "float" || c.type == "real" || c.type == "decimal" || c.type == "numeric" || c.type == "money" || c.type == "smallmoney" ? "1.5"
            : c.type == "datetime" || c.type == "date" || isTemporalType(c.type) ? "'2000-01-01'"
            : c.type == "uniqueidentifier" ? "'00000000-0000-0000-0000-000000000000'"
            : c.type == "varbinary" || c.type == "binary" || c.type == "timestamp" ? "x'00'" : "'1'";
        sampleRow += std::string(sampleRow.empty() ? "SELECT " : ", ") + v + " AS " + quoteIdent(c.name);
    }
    for (const auto &c : cols) {
        ++n;
        std::string uq = "NULL";
        std::string type = quoteLiteral(c.type) + ", " + std::to_string(c.length) + ", " + std::to_string(c.precision)
            + ", " + std::to_string(c.scale);
        if (!c.computed.empty())
            type = "(SELECT CASE typeof(" + c.computed + ") WHEN 'integer' THEN 'int' WHEN 'real' THEN 'float' WHEN 'blob' "
                "THEN 'varbinary' WHEN 'null' THEN 'int' ELSE 'nvarchar' END FROM (" + sampleRow + ")), "
                "(SELECT CASE typeof(" + c.computed + ") WHEN 'text' THEN 4000 WHEN 'blob' THEN -1 ELSE 0 END FROM ("
                + sampleRow + ")), 0, 0";
        tr.sql.push_back("INSERT INTO " + qschema + ".\"__dv_columns\" VALUES (" + quoteLiteral(plain) + ", "
                         + quoteLiteral(c.name) + ", " + std::to_string(n) + ", " + type + ", "
                         + (c.nullable ? "1" : "0") + ", " + (c.identity ? "1" : "0") + ", "
                         + std::to_string(c.pkOrdinal) + ", " + uq + ", " + (c.computed.empty() ? "NULL" : quoteLiteral(c.computed)) + ")");
    }
    // Key violations are reported by triggers so that the message carries the key value.
    auto keyTrigger = [&](const std::string &cons, const std::string &kind, const std::vector<std::string> &keyCols) {
        std::string cond, values, upd;
        for (size_t k = 0; k < keyCols.size(); ++k) {
            if (k) { cond += " AND "; values += ", "; }
            cond += quoteIdent(keyCols[k]) + " = NEW." + quoteIdent(keyCols[k]);
            values += "NEW." + quoteIdent(keyCols[k]);
        }
        std::string msg = "'Violation of " + kind + " constraint ''" + cons + "''. Cannot insert duplicate key in object ''"
            + owner + "." + objName + "''. The duplicate key value is (' || dv_keytext(" + values + ") || ').'";
        std::string trg = "__dv_" + randomHex(12);
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_i") + " BEFORE INSERT ON "
                         + quoteIdent(plain) + " WHEN EXISTS (SELECT 1 FROM " + quoteIdent(plain) + " WHERE " + cond
                         + ") BEGIN SELECT dv_raise(2627, 14, " + msg + "); END");
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_u") + " BEFORE UPDATE ON "
                         + quoteIdent(plain) + " WHEN EXISTS (SELECT 1 FROM " + quoteIdent(plain) + " WHERE " + cond
                         + " AND rowid <> OLD.rowid) BEGIN SELECT dv_raise(2627, 14, " + msg + "); END");
    };
    if (!pkCols.empty() && !identityIsKey) keyTrigger(pkName, "PRIMARY KEY", pkCols);
    int nextIndex = 2;
    for (auto &u : uniques) {
        std::string cons = u.first.empty() ? "UQ__" + shortName + "__" + randomHex(16) : u.first;
        keyTrigger(cons, "UNIQUE KEY", u.second);
        recordIndex(cons, nextIndex++, false, true, u.second);
        tr.sql.push_back("UPDATE " + qschema + ".\"__dv_columns\" SET uq_name = " + quoteLiteral(cons)
                         + " WHERE tbl = " + quoteLiteral(plain) + " AND col = " + quoteLiteral(u.second.front())
                         + " AND uq_name IS NULL");
    }
    // Dates, uniqueidentifiers and numbers are stored in one form (decimals as text with the
    // column's scale, real as a 4-byte float) so that comparisons with parameters match;
    // char(n) and nchar(n) blank-padded to their length, as SQL Server holds and returns them.
    std::string sets;
    for (const auto &c : cols) {
        const bool number = c.type == "decimal" || c.type == "numeric" || c.type == "money" || c.type == "smallmoney"
            || c.type == "real";
        const bool fixedText = (c.type == "char" || c.type == "nchar") && c.length > 0;
        if (c.type != "datetime" && c.type != "date" && !isTemporalType(c.type) && c.type != "uniqueidentifier" && !number
            && !fixedText)
            continue;
        if (!sets.empty()) sets += ", ";
        if (fixedText)
            sets += quoteIdent(c.name) + " = dv_pad(" + quoteIdent(c.name) + ", " + std::to_string(c.length) + ", "
                + (c.type == "nchar" ? "1" : "0") + ")";
        else if (c.type == "uniqueidentifier" || number)
            sets += quoteIdent(c.name) + " = dv_cast(" + quoteIdent(c.name) + ", " + typeArgs(c) + ")";
        else if (isTemporalType(c.type))
            sets += quoteIdent(c.name) + " = dv_temporal(" + quoteIdent(c.name) + ", " + quoteLiteral(c.type) + ", "
                + std::to_string(c.scale) + ")";
        else
            sets += quoteIdent(c.name) + " = dv_datetext(" + quoteIdent(c.name) + ", " + quoteLiteral(c.type) + ")";
    }
    if (!sets.empty()) {
        std::string trg = "__dv_" + randomHex(12);
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_di") + " AFTER INSERT ON "
                         + quoteIdent(plain) + " BEGIN UPDATE " + quoteIdent(plain) + " SET " + sets
                         + " WHERE rowid = NEW.rowid; END");
        tr.sql.push_back("CREATE TRIGGER " + qschema + "." + quoteIdent(trg + "_du") + " AFTER UPDATE ON "
                         + quoteIdent(plain) + " BEGIN UPDATE " + quoteIdent(plain) + " SET " + sets
                         + " WHERE rowid = NEW.rowid; END");
    }
    if (hasIdentity && seed != 1)
        tr.sql.push_back("INSERT INTO " + qschema + ".sqlite_sequence(name, seq) VALUES (" + quoteLiteral(plain)
                         + ", " + std::to_string(seed - 1) + ")");
}

void Translator::dropTable(size_t &i, Translation &tr)
{
    expectWord(i, "DROP");
    expectWord(i, "TABLE");
    bool ifExists = false;
    if (tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string written, schema, plain;
    std::string target = objectName(i, &written, &schema, &plain);
    tr.kind = Translation::Ddl;
    tr.table = written;
    tr.schema = schema;
    if (ctx) {
        if (schema == "dvcat" || !ctx->table(schema, plain)) {
            if (ifExists) return;
            throw makeError(3701, 11, "Cannot drop the table '" + written + "', because it does not exist or you do not have permission.");
        }
        if (ctx->objectType(schema, plain) == "V")
            throw makeError(3705, 16, "Cannot use DROP TABLE with '" + written + "' because '" + written + "' is a view. Use DROP VIEW.");
    }
    std::string q = quoteIdent(schema);
    tr.dropTable = plain;
    tr.sql.push_back("DROP TABLE " + target);
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_columns\" WHERE tbl = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_tables\" WHERE name = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_indexes\" WHERE tbl = " + quoteLiteral(plain));
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_index_columns\" WHERE tbl = " + quoteLiteral(plain));
    // Its triggers go with it.
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_triggers\" WHERE name IN (SELECT name FROM " + q
                     + ".\"__dv_tables\" WHERE type = 'TR' AND parent = " + quoteLiteral(plain) + ")");
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_tables\" WHERE type = 'TR' AND parent = " + quoteLiteral(plain));
}

void Translator::createIndex(size_t &i, Translation &tr)
{
    expectWord(i, "CREATE");
    bool unique = false;
    if (tok(i).isWord("UNIQUE")) { unique = true; ++i; }
    if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
    expectWord(i, "INDEX");
    std::string index = name(i);
    expectWord(i, "ON");
    std::string written, schema, plain;
    objectName(i, &written, &schema, &plain);
    tr.kind = Translation::Ddl;
    tr.writtenNames[lower(plain)] = written;
    if (ctx && schema != "dvcat" && !ctx->table(schema, plain))
        throw makeError(1088, 16, "Cannot find the object \"" + written + "\" because it does not exist or you do not have permissions.");
    expectOp(i, "(");
    std::string cols;
    std::vector<std::pair<std::string, bool>> keyCols;
    for (;;) {
        if (!cols.empty()) cols += ", ";
        std::string c = name(i);
        cols += quoteIdent(c);
        bool desc = false;
        if (tok(i).isWord("ASC")) { ++i; cols += " ASC"; }
        else if (tok(i).isWord("DESC")) { ++i; cols += " DESC"; desc = true; }
        keyCols.push_back({c, desc});
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    const std::string qs = quoteIdent(schema);
    // Index names are per table in SQL Server and per database in SQLite.
    tr.sql.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + qs + "."
                     + quoteIdent(plain + "$" + index) + " ON " + quoteIdent(plain) + " (" + cols + ")");
    tr.sql.push_back("INSERT INTO " + qs + ".\"__dv_indexes\" VALUES (" + quoteLiteral(plain) + ", " + quoteLiteral(index)
                     + ", (SELECT max(2, coalesce(max(index_id), 0) + 1) FROM " + qs + ".\"__dv_indexes\" WHERE tbl = "
                     + quoteLiteral(plain) + "), " + (unique ? "1" : "0") + ", 0, 0)");
    for (size_t k = 0; k < keyCols.size(); ++k)
        tr.sql.push_back("INSERT INTO " + qs + ".\"__dv_index_columns\" VALUES (" + quoteLiteral(plain) + ", "
                         + quoteLiteral(index) + ", " + std::to_string(k + 1) + ", " + quoteLiteral(keyCols[k].first) + ", "
                         + (keyCols[k].second ? "1" : "0") + ")");
}

// CREATE SCHEMA name [AUTHORIZATION owner] / DROP SCHEMA [IF EXISTS] name
void Translator::createSchema(size_t &i, Translation &tr)
{
    bool create = tok(i).isWord("CREATE");
    ++i;
    expectWord(i, "SCHEMA");
    tr.kind = Translation::Ddl;
    bool ifExists = false;
    if (!create && tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string schemaName = name(i);
    if (create && tok(i).isWord("AUTHORIZATION")) { ++i; name(i); }
    if (!ctx) return;
    std::string q = quoteIdent(ctx->schemaFor(""));
    bool exists = ctx->schemaExists("main", schemaName);
    if (create) {
        if (exists) throw makeError(2714, 16, "There is already an object named '" + schemaName + "' in the database.");
        tr.sql.push_back("INSERT INTO " + q + ".\"__dv_schemas\" VALUES (" + quoteLiteral(schemaName)
                         + ", (SELECT max(4, max(schema_id)) + 1 FROM " + q + ".\"__dv_schemas\"))");
        return;
    }
    if (!exists) {
        if (ifExists) return;
        throw makeError(3701, 11, "Cannot drop the schema '" + schemaName + "', because it does not exist or you do not have permission.");
    }
    static const std::set<std::string> builtIn = {"dbo", "guest", "information_schema", "sys"};
    if (builtIn.count(lower(schemaName)))
        throw makeError(15150, 16, "Cannot drop the schema '" + schemaName + "'.");
    tr.sql.push_back("SELECT dv_raise(3729, 16, " + quoteLiteral("Cannot drop schema '" + schemaName + "' because it is being referenced by object '")
                     + " || name || '''.') FROM " + q + ".\"__dv_objects\" WHERE schema_name = " + quoteLiteral(schemaName) + " LIMIT 1");
    tr.sql.push_back("DELETE FROM " + q + ".\"__dv_schemas\" WHERE name = " + quoteLiteral(schemaName));
}

// option = value [, ...] after WITH: `known` parses an option it knows and
// returns true; any other `name = value` is accepted and ignored.
void Translator::withOptions(size_t &i, const std::function<bool(size_t &)> &known)
{
    for (;;) {
        if (!known(i)) {
            if (tok(i).kind != Token::Ident) throw syntaxError(tok(i));
            ++i;
            expectOp(i, "=");
            ++i;
        }
        if (!tok(i).isOp(",")) break;
        ++i;
    }
}

// CREATE USER name [{FOR|FROM} LOGIN login | WITHOUT LOGIN] [WITH DEFAULT_SCHEMA = s]
// ALTER USER name WITH DEFAULT_SCHEMA = s [, ...] ; DROP USER [IF EXISTS] name
void Translator::userStatement(size_t &i, Translation &tr)
{
    std::string verb = upper(tok(i).value);
    ++i;
    expectWord(i, "USER");
    tr.kind = Translation::Ddl;
    bool ifExists = false;
    if (verb == "DROP" && tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { ifExists = true; i += 2; }
    std::string user = name(i);
    std::string login, defSchema;
    bool hasDefault = false;
    if (verb == "CREATE") {
        login = user;
        if (tok(i).isWord("FOR") || tok(i).isWord("FROM")) { ++i; expectWord(i, "LOGIN"); login = name(i); }
        else if (tok(i).isWord("WITHOUT")) { ++i; expectWord(i, "LOGIN"); login.clear(); }
    }
    if (verb != "DROP" && tok(i).isWord("WITH")) {
        ++i;
        withOptions(i, [&](size_t &j) {
            if (!tok(j).isWord("DEFAULT_SCHEMA")) return false;
            ++j;
            expectOp(j, "=");
            if (tok(j).isWord("NULL")) { ++j; defSchema.clear(); }
            else defSchema = name(j);
            hasDefault = true;
            return true;
        });
    }
    if (!ctx) return;
    std::string q = quoteIdent(ctx->schemaFor(""));
    std::string exists = "(SELECT count(*) FROM " + q + ".\"__dv_users\" WHERE name = " + quoteLiteral(user) + ")";
    if (verb == "CREATE") {
        static const std::set<std::string> builtIn = {"dbo", "guest", "sys", "information_schema"};
        if (builtIn.count(lower(user)))
            throw makeError(15023, 16, "User, group, or role '" + user + "' already exists in the current database.");
        raiseWhere(tr, 15023, "User, group, or role '" + user + "' already exists in the current database.", exists + " > 0");
        tr.sql.push_back("INSERT INTO " + q + ".\"__dv_users\" VALUES (" + quoteLiteral(user) + ", "
                         + (login.empty() ? "NULL" : quoteLiteral(login)) + ", "
                         + (hasDefault && !defSchema.empty() ? quoteLiteral(defSchema) : "NULL")
                         + ", (SELECT coalesce(max(principal_id), 4) + 1 FROM " + q + ".\"__dv_users\"))");
    } else if (verb == "ALTER") {
        raiseWhere(tr, 15151, "Cannot alter the user '" + user + "', because it does not exist or you do not have permission.", exists + " = 0");
        if (hasDefault)
            tr.sql.push_back("UPDATE " + q + ".\"__dv_users\" SET default_schema = "
                             + (defSchema.empty() ? "NULL" : quoteLiteral(defSchema)) + " WHERE name = " + quoteLiteral(user));
    } else {
        if (!ifExists)
            raiseWhere(tr, 15151, "Cannot drop the user '" + user + "', because it does not exist or you do not have permission.", exists + " = 0");
        tr.sql.push_back("DELETE FROM " + q + ".\"__dv_users\" WHERE name = " + quoteLiteral(user));
    }
}

// CREATE LOGIN name WITH PASSWORD = 'pw' [, option = value ...], ALTER LOGIN
// name WITH PASSWORD = 'pw', DROP LOGIN name: SQL logins kept in the catalogue
// that the server accepts next to the ones it was started with.
void Translator::loginStatement(size_t &i, Translation &tr)
{
    std::string verb = upper(tok(i).value);
    ++i;
    expectWord(i, "LOGIN");
    tr.kind = Translation::Ddl;
    std::string login = name(i);
    std::string password, defaultDb;
    bool hasPassword = false;
    if (verb != "DROP") {
        if (tok(i).isWord("FROM")) throw makeError(15401, 16, "Windows NT user or group '" + login + "' not found. Check the name again.");
        expectWord(i, "WITH");
        withOptions(i, [&](size_t &j) {
            if (tok(j).isWord("PASSWORD")) {
                ++j;
                expectOp(j, "=");
                if (tok(j).kind != Token::String && tok(j).kind != Token::NString) throw syntaxError(tok(j));
                password = tok(j).value;
                hasPassword = true;
                ++j;
                while (tok(j).isWord("MUST_CHANGE") || tok(j).isWord("HASHED")) ++j;
                return true;
            }
            if (!tok(j).isWord("DEFAULT_DATABASE")) return false;
            ++j;
            expectOp(j, "=");
            defaultDb = name(j);
            return true;
        });
        if (verb == "CREATE" && !hasPassword) throw syntaxError(tok(i));
    }
    if (!ctx) return;
    std::string exists = "(SELECT count(*) FROM \"dvcat\".\"dv_logins\" WHERE name = " + quoteLiteral(login) + ")";
    if (verb == "CREATE") {
        if (iequals(login, "sa")) throw makeError(15025, 16, "The server principal '" + login + "' already exists.");
        raiseWhere(tr, 15025, "The server principal '" + login + "' already exists.", exists + " > 0");
        tr.sql.push_back("INSERT INTO \"dvcat\".\"dv_logins\" VALUES (" + quoteLiteral(login) + ", " + quoteLiteral(password)
                         + ", " + quoteLiteral(defaultDb.empty() ? "master" : defaultDb) + ")");
    } else if (verb == "ALTER") {
        raiseWhere(tr, 15151, "Cannot alter the login '" + login + "', because it does not exist or you do not have permission.", exists + " = 0");
        if (hasPassword)
            tr.sql.push_back("UPDATE \"dvcat\".\"dv_logins\" SET password = " + quoteLiteral(password) + " WHERE name = " + quoteLiteral(login));
        if (!defaultDb.empty())
            tr.sql.push_back("UPDATE \"dvcat\".\"dv_logins\" SET default_db = " + quoteLiteral(defaultDb) + " WHERE name = " + quoteLiteral(login));
    } else {
        raiseWhere(tr, 15151, "Cannot drop the login '" + login + "', because it does not exist or you do not have permission.", exists + " = 0");
        tr.sql.push_back("DELETE FROM \"dvcat\".\"dv_logins\" WHERE name = " + quoteLiteral(login));
    }
}

Translation Translator::translate(size_t begin)
{
    Translation tr;
    size_t i = begin;
    m_ctes.clear();
    m_rec = nullptr;
    m_recLimitParam = m_recMessageParam = 0;
    std::string with;
    if (tok(i).isWord("WITH")) with = withClause(i, tr);
    const Token &k = tok(i);
    if (!with.empty() && !k.isWord("SELECT") && !k.isWord("INSERT") && !k.isWord("UPDATE") && !k.isWord("DELETE"))
        throw syntaxError(k);
    if (k.isWord("SELECT")) {
        tr.kind = Translation::Query;
        m_intoAllowed = true;
        tr.sql.push_back(select(i, true, tr));
        m_intoAllowed = false;
    } else if (k.isWord("INSERT")) {
        tr.kind = Translation::Change;
        tr.verb = "INSERT";
        tr.sql.push_back(insert(i, tr));
    } else if (k.isWord("UPDATE")) {
        tr.kind = Translation::Change;
        tr.verb = "UPDATE";
        tr.sql.push_back(update(i, tr));
    } else if (k.isWord("DELETE")) {
        tr.kind = Translation::Change;
        tr.verb = "DELETE";
        tr.sql.push_back(del(i, tr));
    } else if (k.isWord("TRUNCATE")) {
        ++i;
        expectWord(i, "TABLE");
        std::string written, schema, plain;
        std::string target = objectName(i, &written, &schema, &plain);
        if (ctx && schema != "dvcat" && !ctx->table(schema, plain))
            throw makeError(4701, 16, "Cannot find the object \"" + written + "\" because it does not exist or you do not have permissions.");
        tr.kind = Translation::Ddl;
        tr.sql.push_back("DELETE FROM " + target);
    } else if ((k.isWord("CREATE") || k.isWord("DROP")) && tok(i + 1).isWord("SCHEMA")) {
        createSchema(i, tr);
    } else if ((k.isWord("CREATE") || k.isWord("ALTER") || k.isWord("DROP")) && tok(i + 1).isWord("USER")) {
        userStatement(i, tr);
    } else if ((k.isWord("CREATE") || k.isWord("ALTER") || k.isWord("DROP")) && tok(i + 1).isWord("LOGIN")) {
        loginStatement(i, tr);
    } else if (k.isWord("CREATE") && tok(i + 1).isWord("TABLE")) {
        createTable(i, tr);
    } else if (k.isWord("DROP") && tok(i + 1).isWord("TABLE")) {
        dropTable(i, tr);
    } else if (k.isWord("CREATE") && (tok(i + 1).isWord("INDEX") || tok(i + 1).isWord("UNIQUE")
                                      || tok(i + 1).isWord("CLUSTERED") || tok(i + 1).isWord("NONCLUSTERED"))) {
        createIndex(i, tr);
    } else {
        throw syntaxError(k);
    }
    if (tok(i).isWord("OPTION")) optionClause(i, tr);
    if (!with.empty()) tr.sql.back() = with + tr.sql.back();
    if (m_recLimitParam) {
        // No OPTION (MAXRECURSION n): SQL Server's default of 100.
        if (tr.params[m_recLimitParam - 1].kind == Value::Null) {
            tr.params[m_recLimitParam - 1] = Value::integer(100);
            tr.params[m_recMessageParam - 1] = Value::text(
                "The statement terminated. The maximum recursion 100 has been exhausted before statement completion.");
        }
    }
    m_ctes.clear();
    pos = i;
    return tr;
}

Translation Translator::translateExpr(size_t begin, size_t end)
{
    Translation tr;
    size_t i = begin;
    tr.sql.push_back("SELECT " + expr(i, tr));
    if (i != end) throw syntaxError(tok(i));
    pos = i;
    return tr;
}

} // namespace ts
