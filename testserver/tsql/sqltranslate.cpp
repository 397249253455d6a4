#include "tsql/sqltranslate.h"

#include "base/sqlitenames.h"
#include "base/collation.h"
#include "base/textcollation.h"

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
    // sql_variant columns are declared "sql_variant blob" so that SQLite keeps each value's storage class.
    if (base == "sql_variant blob") base = "sql_variant";
    if (base == "hierarchyid blob") base = "hierarchyid";
    if (base == "geography blob") base = "geography";
    if (base == "geometry blob") base = "geometry";
    static const std::set<std::string> known = {"int", "bigint", "smallint", "tinyint", "bit", "float", "real",
        "decimal", "numeric", "money", "smallmoney", "datetime", "datetime2", "smalldatetime", "date", "nvarchar",
        "varchar", "nchar", "char", "varbinary", "binary", "text", "ntext", "sysname", "uniqueidentifier", "image",
        "time", "datetimeoffset", "timestamp", "rowversion", "xml", "sql_variant", "hierarchyid",
        "geography", "geometry"};
    if (!known.count(base)) return false;
    out.type = base;
    out.length = 0; out.precision = 0; out.scale = 0;
    if (base == "sysname") { out.type = "nvarchar"; out.length = 128; }
    if (base == "text") { out.type = "varchar"; out.length = -1; }
    if (base == "ntext") { out.type = "nvarchar"; out.length = -1; }
    if (base == "image") { out.type = "varbinary"; out.length = -1; }
    if (base == "xml") out.length = -1;
    if (base == "hierarchyid") out.length = 892;
    if (base == "geography" || base == "geometry") out.length = -1;
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
    else if (t == "datetime" || t == "smalldatetime") d.type = SqlType::DateTime;
    else if (t == "date") d.type = SqlType::Date;
    else if (t == "datetime2") { d.type = SqlType::DateTime2; d.scale = c.scale; }
    else if (t == "time") { d.type = SqlType::Time; d.scale = c.scale; }
    else if (t == "datetimeoffset") { d.type = SqlType::DateTimeOffset; d.scale = c.scale; }
    else if (t == "uniqueidentifier") d.type = SqlType::UniqueIdentifier;
    else if (t == "xml") d.type = SqlType::Xml;
    else if (t == "sql_variant") d.type = SqlType::Variant;
    else if (t == "hierarchyid") d.type = SqlType::HierarchyId;
    else if (t == "geography") d.type = SqlType::Geography;
    else if (t == "geometry") d.type = SqlType::Geometry;
    else if (t == "nvarchar") d.type = SqlType::NVarChar;
    else if (t == "varchar") d.type = SqlType::VarChar;
    else if (t == "nchar") d.type = SqlType::NChar;
    else if (t == "char") d.type = SqlType::Char;
    else d.type = SqlType::VarBinary;
    if (d.type != SqlType::NVarChar && d.type != SqlType::VarChar && d.type != SqlType::NChar
        && d.type != SqlType::Char && d.type != SqlType::VarBinary)
        d.length = d.type == SqlType::Xml ? -1 : d.type == SqlType::Variant ? 8016
            : d.type == SqlType::HierarchyId ? 892
            : d.type == SqlType::Geography || d.type == SqlType::Geometry ? -1 : 0;
    if (t == "smalldatetime") d.length = 4; // a datetime of 4 bytes on the wire
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

// The table or view behind a catalogue object named schema.name (both lower case), "" for
// none: INFORMATION_SCHEMA and sys views over the database's own tables, and the server-wide
// tables of the attached catalogue (`catalogue` set).
static std::string catalogueObject(const std::string &sch, const std::string &l, bool &catalogue)
{
    static const std::map<std::string, std::string> informationSchema = {
        {"tables", "__dv_is_tables"}, {"columns", "__dv_is_columns"}, {"table_constraints", "__dv_is_tc"},
        {"key_column_usage", "__dv_is_kcu"}, {"views", "__dv_is_views"}};
    static const std::map<std::string, std::string> serverWide = {
        {"databases", "sys_databases"}, {"master_files", "sys_master_files"}, {"backup_devices", "sys_backup_devices"},
        {"sysdatabases", "sysdatabases"}, {"sysdevices", "sysdevices"}};
    static const std::map<std::string, std::string> sysViews = {
        {"tables", "__dv_sys_tables"}, {"views", "__dv_sys_views"}, {"objects", "__dv_sys_objects"},
        {"columns", "__dv_sys_columns"}, {"schemas", "__dv_sys_schemas"}, {"indexes", "__dv_sys_indexes"},
        {"index_columns", "__dv_sys_index_columns"}, {"types", "__dv_sys_types"},
        {"computed_columns", "__dv_sys_computed_columns"}, {"triggers", "__dv_sys_triggers"}};
    auto find = [&](const std::map<std::string, std::string> &m) {
        auto it = m.find(l);
        return it == m.end() ? std::string() : it->second;
    };
    if (sch == "information_schema") return find(informationSchema);
    if (sch == "sys") {
        std::string server = find(serverWide);
        if (!server.empty()) { catalogue = true; return server; }
        return find(sysViews);
    }
    if ((sch.empty() || sch == "dbo") && (l == "sysdatabases" || l == "sysdevices")) {
        catalogue = true;
        return l;
    }
    return "";
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
    bool catalogue = false;
    std::string target = catalogueObject(sch, l, catalogue);
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
        if (x.isWord("GROUP") && k > 0 && tok(k - 1).isWord("WITHIN")) return false; // STRING_AGG ... WITHIN GROUP
        static const char *words[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "WHERE", "GROUP", "ORDER", "HAVING", "UNION",
                                      "EXCEPT", "INTERSECT", "OPTION", "END", "ELSE", "BEGIN", "IF", "WHILE", "SET",
                                      "DECLARE", "EXEC", "EXECUTE", "RETURN", "PRINT", "FOR", "OUTPUT"};
        for (const char *w : words) if (x.isWord(w)) return true;
        return false;
    };
    // Skips to the next token at parenthesis depth 0 that `pred` accepts; false at a stop or when the level closes.
    auto skipTo = [&](size_t &k, const std::function<bool(size_t)> &pred) {
        int depth = 0, cases = 0;
        for (; k < t.size(); ++k) {
            if (tok(k).isOp("(")) { ++depth; continue; }
            if (tok(k).isOp(")")) { if (--depth < 0) return false; continue; }
            if (depth > 0) continue;
            // A CASE expression's ELSE and END are not the statement's.
            if (tok(k).isWord("CASE")) { ++cases; continue; }
            if (cases > 0) { cases -= tok(k).isWord("END") ? 1 : 0; continue; }
            if (pred(k)) return true;
            if (stops(k)) return false;
        }
        return false;
    };
    size_t k = i;
    if (!skipTo(k, [&](size_t x) { return tok(x).isWord("FROM"); })) return out;
    ++k;
    for (;;) {
        ScopeTable nodes;
        if (xmlNodesScope(k, nodes)) {
            out.push_back(std::move(nodes));
        } else if (tok(k).isName() || tok(k).kind == Token::Variable) {
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
    std::string tname = k.value, schema;
    ++i;
    if (tok(i).isOp(".")) { ++i; schema = tname; tname = name(i); } // dbo.int, sys.sysname, dbo.phone
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
    if (parseTypeName(decl, m)) return m;
    if (decl == tname) return aliasTypeSpec(schema, tname);
    if (ctx) throw makeError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + tname + ".", true);
    m.type = "int";
    return m;
}

// A type name that is no system type: an alias type of the current database.
// Without a catalogue (checking syntax) the name is kept for the run to resolve.
ColumnMeta Translator::aliasTypeSpec(const std::string &schema, const std::string &tname)
{
    ColumnMeta m;
    if (!ctx) {
        m.type = "int";
        m.userType = schema.empty() ? tname : schema + "." + tname;
        return m;
    }
    std::optional<AliasType> alias = ctx->aliasType(schema, tname);
    if (!alias || !parseTypeName(alias->decl, m))
        throw makeError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + tname + ".", true);
    m.userType = alias->name;
    m.userTypeId = alias->userTypeId;
    m.nullable = alias->nullable;
    return m;
}

std::string typeArgs(const ColumnMeta &m)
{
    return quoteLiteral(m.type) + ", " + std::to_string(m.length) + ", " + std::to_string(m.precision) + ", "
        + std::to_string(m.scale);
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
    } else if ((k.isWord("CREATE") || k.isWord("DROP")) && tok(i + 1).isWord("TYPE")) {
        typeStatement(i, tr);
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

Translation Translator::translateExpr(size_t begin, size_t end, bool variant)
{
    Translation tr;
    size_t i = begin;
    std::string e = expr(i, tr);
    if (variant) e = asVariant(e, begin, i, m_type);
    tr.sql.push_back("SELECT " + e);
    if (i != end) throw syntaxError(tok(i));
    pos = i;
    return tr;
}

} // namespace ts
