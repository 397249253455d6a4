// Translation of the built-in function calls: those over a plain argument
// list by a table from name to handler, and those whose arguments are not all
// plain expressions (a datepart name, AS type, WITHIN GROUP) or that become
// CASE expressions, with the result types the client sees for them.
#include "tsql/sqltranslate.h"

#include "base/collation.h"
#include "base/sqlitenames.h"

#include <algorithm>
#include <map>
#include <cstdint>

namespace ts {

namespace {

// Datepart names and the abbreviations SQL Server accepts for them.
std::string canonicalDatePart(const std::string &written)
{
    static const struct { const char *name; const char *abbreviations[3]; } parts[] = {
        {"year", {"yy", "yyyy", nullptr}}, {"quarter", {"qq", "q", nullptr}}, {"month", {"mm", "m", nullptr}},
        {"dayofyear", {"dy", "y", nullptr}}, {"day", {"dd", "d", nullptr}}, {"week", {"wk", "ww", nullptr}},
        {"weekday", {"dw", "w", nullptr}}, {"hour", {"hh", nullptr, nullptr}}, {"minute", {"mi", "n", nullptr}},
        {"second", {"ss", "s", nullptr}}, {"millisecond", {"ms", nullptr, nullptr}},
        {"microsecond", {"mcs", nullptr, nullptr}}, {"nanosecond", {"ns", nullptr, nullptr}},
        {"tzoffset", {"tz", nullptr, nullptr}}, {"iso_week", {"isowk", "isoww", nullptr}}};
    std::string l = lower(written);
    for (const auto &p : parts) {
        if (l == p.name) return p.name;
        for (const char *a : p.abbreviations)
            if (a && l == a) return p.name;
    }
    return std::string();
}

ColumnMeta typeNamed(const char *type, int length = 0)
{
    ColumnMeta m;
    m.type = type;
    m.length = length;
    if (m.type == "int") m.precision = 10;
    return m;
}

void requireArgs(const Token &fn, size_t count, size_t lo, size_t hi)
{
    if (count < lo || count > hi)
        throw makeError(174, 15, "The " + lower(fn.value) + " function requires " + std::to_string(lo) + " argument(s).", true);
}

// Functions over an argument list that turn into one SQLite expression.
std::string eomonthCall(const Token &fn, const std::vector<std::string> &args, ColumnMeta &result)
{
    requireArgs(fn, args.size(), 1, 2);
    result = typeNamed("date");
    return "dv_eomonth(" + args[0] + ", " + (args.size() > 1 ? args[1] : "0") + ")";
}

std::string formatCall(const Token &fn, const std::vector<std::string> &args, ColumnMeta &result)
{
    requireArgs(fn, args.size(), 2, 3);
    result = typeNamed("nvarchar", 4000);
    return "dv_format(" + args[0] + ", " + args[1] + ", " + (args.size() > 2 ? args[2] : "NULL") + ")";
}

std::string iifCall(const Token &fn, const std::vector<std::string> &args, ColumnMeta &)
{
    requireArgs(fn, args.size(), 3, 3);
    return "(CASE WHEN " + args[0] + " THEN " + args[1] + " ELSE " + args[2] + " END)";
}

// The index is an int (a fraction is cut off); out of range gives NULL.
std::string chooseCall(const Token &, const std::vector<std::string> &args, ColumnMeta &)
{
    if (args.size() < 2) throw makeError(174, 15, "The choose function requires 2 or more arguments.", true);
    std::string out = "(CASE CAST(" + args[0] + " AS INTEGER)";
    for (size_t k = 1; k < args.size(); ++k) out += " WHEN " + std::to_string(k) + " THEN " + args[k];
    return out + " END)";
}

std::string patindexCall(const Token &fn, const std::vector<std::string> &args, ColumnMeta &result)
{
    requireArgs(fn, args.size(), 2, 2);
    result = typeNamed("int");
    return "dv_patindex(" + args[0] + ", " + args[1] + ")";
}

} // namespace

// The datepart argument: a bare name, checked against the function's list
// (155 for any other name; DATEADD and DATEDIFF know no tzoffset or iso_week).
std::string Translator::datePartName(size_t &i, const std::string &function)
{
    const Token &k = tok(i);
    if (!k.isName()) throw syntaxError(k);
    std::string part = canonicalDatePart(k.value);
    bool onlyParts = function == "datepart" || function == "datename";
    const bool isoWeekOk = onlyParts || function == "datetrunc";
    if (part.empty() || (!onlyParts && part == "tzoffset") || (!isoWeekOk && part == "iso_week"))
        throw makeError(155, 15, "'" + k.value + "' is not a recognized " + function + " option.", true);
    ++i;
    expectOp(i, ",");
    return quoteLiteral(part);
}

// The rest of an argument list as expressions, and its closing parenthesis.
std::vector<std::string> Translator::argumentList(size_t &i, Translation &tr)
{
    std::vector<std::string> args;
    if (!tok(i).isOp(")")) {
        args.push_back(expr(i, tr));
        while (tok(i).isOp(",")) { ++i; args.push_back(expr(i, tr)); }
    }
    expectOp(i, ")");
    return args;
}

bool Translator::builtinCall(size_t &i, Translation &tr, std::string &out)
{
    using Parsed = std::string (Translator::*)(size_t &, Translation &, const Token &, ColumnMeta &);
    static const std::pair<const char *, Parsed> parsed[] = {
        {"DATEADD", &Translator::dateFunctionCall}, {"DATEPART", &Translator::dateFunctionCall},
        {"DATENAME", &Translator::dateFunctionCall}, {"DATEDIFF", &Translator::dateDiffCall},
        {"DATEDIFF_BIG", &Translator::dateDiffCall}, {"DATE_BUCKET", &Translator::dateBucketCall},
        {"TRY_CAST", &Translator::tryCastCall}, {"TRY_CONVERT", &Translator::tryCastCall},
        {"DATALENGTH", &Translator::dataLengthCall},
        {"STRING_AGG", &Translator::stringAggCall}, {"SQL_VARIANT_PROPERTY", &Translator::variantPropertyCall}};
    using Listed = std::string (*)(const Token &, const std::vector<std::string> &, ColumnMeta &);
    static const std::pair<const char *, Listed> listed[] = {
        {"EOMONTH", eomonthCall}, {"FORMAT", formatCall}, {"IIF", iifCall}, {"CHOOSE", chooseCall},
        {"PATINDEX", patindexCall}};
    const size_t begin = i;
    const Token &fn = tok(i);
    const std::string u = upper(fn.value);
    ColumnMeta result;
    auto parsedIt = std::find_if(std::begin(parsed), std::end(parsed), [&](const auto &e) { return u == e.first; });
    auto listedIt = std::find_if(std::begin(listed), std::end(listed), [&](const auto &e) { return u == e.first; });
    if (parsedIt != std::end(parsed)) {
        i += 2; // name and "("
        out = (this->*parsedIt->second)(i, tr, fn, result);
    } else if (listedIt != std::end(listed)) {
        i += 2;
        out = listedIt->second(fn, argumentList(i, tr), result);
    } else {
        return false;
    }
    if (!result.type.empty()) {
        m_typedBegin = begin;
        m_typedEnd = i;
        m_typedResult = result;
    }
    return true;
}

// A string literal given for a date converts to datetime, whatever it looks like.
static std::string dateKind(const std::vector<Token> &t, size_t a, size_t b)
{
    return quoteLiteral(b == a + 1 && (t[a].kind == Token::String || t[a].kind == Token::NString) ? "datetime" : "");
}

// DATEADD(part, n, date), DATEPART(part, date), DATENAME(part, date).
std::string Translator::dateFunctionCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result)
{
    const std::string u = upper(fn.value);
    std::string part = datePartName(i, lower(u));
    std::vector<std::string> args;
    size_t dateBegin = i, dateEnd = i;
    for (;;) {
        dateBegin = i;
        args.push_back(expr(i, tr));
        dateEnd = i;
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    requireArgs(fn, args.size() + 1, u == "DATEADD" ? 3 : 2, u == "DATEADD" ? 3 : 2);
    std::string kind = dateKind(t, dateBegin, dateEnd);
    if (u != "DATEADD" && kind != "''") kind = quoteLiteral("literal");
    if (u == "DATEADD") {
        result = kind == "''" ? typeNamed("temporal") : typeNamed("datetime");
        return "dv_dateadd(" + part + ", " + args[0] + ", " + args[1] + ", " + kind + ")";
    }
    // Weeks and weekdays follow SET DATEFIRST; names follow SET LANGUAGE.
    const std::string first = param(tr, ctx ? ctx->systemValue("@@DATEFIRST") : Value::integer(7));
    if (u == "DATEPART") {
        result = typeNamed("int");
        return "dv_datepart(" + part + ", " + args[0] + ", " + kind + ", " + first + ")";
    }
    result = typeNamed("nvarchar", 30);
    const std::string language = param(tr, ctx ? ctx->systemValue("@@LANGUAGE") : Value::text("us_english"));
    return "dv_datename(" + part + ", " + args[0] + ", " + kind + ", " + first + ", " + language + ")";
}

std::string Translator::dateDiffCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result)
{
    const bool big = upper(fn.value) == "DATEDIFF_BIG";
    std::string part = datePartName(i, big ? "datediff_big" : "datediff");
    std::vector<std::string> args = argumentList(i, tr);
    requireArgs(fn, args.size() + 1, 3, 3);
    result = typeNamed(big ? "bigint" : "int");
    m_type = num::typeFromName(big ? "bigint" : "int", 0, 0);
    return std::string(big ? "dv_datediff_big(" : "dv_datediff(") + part + ", " + args[0] + ", " + args[1] + ")";
}

// DATE_BUCKET(part, width, date [, origin]): a text literal date is a datetime.
std::string Translator::dateBucketCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result)
{
    std::string part = datePartName(i, "date_bucket");
    std::vector<std::string> args;
    args.push_back(expr(i, tr));
    expectOp(i, ",");
    const size_t dateBegin = i;
    args.push_back(expr(i, tr));
    const std::string kind = dateKind(t, dateBegin, i);
    while (tok(i).isOp(",")) { ++i; args.push_back(expr(i, tr)); }
    expectOp(i, ")");
    requireArgs(fn, args.size() + 1, 3, 4);
    result = kind == "''" ? typeNamed("temporal") : typeNamed("datetime");
    std::string date = kind == "''" ? args[1] : castTo(args[1], num::Type{}, typeNamed("datetime"));
    return "dv_date_bucket(" + part + ", " + args[0] + ", " + date + ", " + (args.size() > 3 ? args[3] : "NULL") + ")";
}

// TRY_CAST(e AS type), TRY_CONVERT(type, e [, style]): NULL where CAST would fail.
std::string Translator::tryCastCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result)
{
    std::string e;
    ColumnMeta m;
    if (upper(fn.value) == "TRY_CAST") {
        e = expr(i, tr);
        expectWord(i, "AS");
        m = typeSpec(i);
    } else {
        m = typeSpec(i);
        expectOp(i, ",");
        e = expr(i, tr);
        if (tok(i).isOp(",")) {
            ++i;
            const std::string style = expr(i, tr);
            if (isTemporalType(m.type) || m.type == "datetime" || m.type == "date" || m.type == "smalldatetime")
                e = "dv_textdate(" + e + ", " + style + ")";
        }
    }
    expectOp(i, ")");
    result = m;
    return "dv_try_cast(" + e + ", " + typeArgs(m) + ")";
}

namespace {

// The storage size of a value of a fixed-size type, 0 for a type of varying size.
int fixedDataLength(const ColumnMeta &m)
{
    static const std::map<std::string, int> sizes = {{"int", 4}, {"bigint", 8}, {"smallint", 2}, {"tinyint", 1},
        {"bit", 1}, {"float", 8}, {"real", 4}, {"money", 8}, {"smallmoney", 4}, {"datetime", 8},
        {"smalldatetime", 4}, {"date", 3}, {"uniqueidentifier", 16}};
    if (auto it = sizes.find(m.type); it != sizes.end()) return it->second;
    if ((m.type == "decimal" || m.type == "numeric") && m.precision > 0)
        return m.precision <= 9 ? 5 : m.precision <= 19 ? 9 : m.precision <= 28 ? 13 : 17;
    const int timeBytes = m.scale <= 2 ? 3 : m.scale <= 4 ? 4 : 5;
    if (m.type == "time") return timeBytes;
    if (m.type == "datetime2") return timeBytes + 3;
    if (m.type == "datetimeoffset") return timeBytes + 5;
    return 0;
}

} // namespace

// DATALENGTH(e): the bytes of the value as SQL Server stores it. Text is held
// here as UTF-8; an nvarchar or nchar value takes two bytes per UTF-16 unit,
// a number or date its type's size.
std::string Translator::dataLengthCall(size_t &i, Translation &tr, const Token &, ColumnMeta &result)
{
    const size_t begin = i;
    const std::string e = expr(i, tr);
    const ColumnMeta m = staticType(begin, i, m_type);
    if (!tok(i).isOp(")")) throw makeError(174, 15, "The datalength function requires 1 argument(s).", true);
    expectOp(i, ")");
    result.type = m.length == -1 ? "bigint" : "int"; // bigint for the (max) types
    if (const int size = fixedDataLength(m))
        return "(CASE WHEN (" + e + ") IS NULL THEN NULL ELSE " + std::to_string(size) + " END)";
    const bool unicode = m.type == "nvarchar" || m.type == "nchar";
    return std::string(unicode ? "dv_datalength_n(" : "dv_datalength(") + e + ")";
}

// STRING_AGG(e, separator) [WITHIN GROUP (ORDER BY ...)]: the order keys follow
// the two arguments, each with its direction (1 or -1).
std::string Translator::stringAggCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &)
{
    std::vector<std::string> args = argumentList(i, tr);
    requireArgs(fn, args.size(), 2, 2);
    std::string out = "dv_string_agg(" + args[0] + ", " + args[1];
    if (tok(i).isWord("WITHIN")) {
        ++i;
        expectWord(i, "GROUP");
        expectOp(i, "(");
        expectWord(i, "ORDER");
        expectWord(i, "BY");
        for (;;) {
            out += ", " + expr(i, tr);
            int dir = 1;
            if (tok(i).isWord("ASC")) ++i;
            else if (tok(i).isWord("DESC")) { ++i; dir = -1; }
            out += ", " + std::to_string(dir);
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        expectOp(i, ")");
    }
    return out + ")";
}

// A call of a function over a plain argument list, as its handler sees it.
struct Translator::Call {
    Call(Translator &translator, Translation &translation, const Token &function)
        : self(translator), tr(translation), fn(function), name(upper(function.value)) {}

    Translator &self;
    Translation &tr;
    const Token &fn;
    std::string name;              // upper case
    std::vector<std::string> args; // SQLite expressions
    bool distinct = false;
    num::Type argType;             // the first argument's type, and whether it is a bare column
    bool argPlain = false;

    std::string translate();
    void need(size_t lo, size_t hi) const { requireArgs(fn, args.size(), lo, hi); }
    std::string joined(const std::string &f) const
    {
        std::string s = f + "(" + (distinct ? "DISTINCT " : "");
        for (size_t k = 0; k < args.size(); ++k) { if (k) s += ", "; s += args[k]; }
        return s + ")";
    }
    std::string param(const Value &v) { return self.param(tr, v); }
    std::string sessionValue(const std::string &key) { return param(self.ctx ? self.ctx->systemValue(key) : Value::null()); }
    std::string defaultSchema() { return param(Value::text(self.ctx ? self.ctx->defaultSchema() : "dbo")); }

    std::string aggregate();
    std::string left();
    std::string datePart();
    std::string databaseLookup();
    std::string objectId();
    std::string objectLookup();
    std::string objectProperty();
    std::string schemaLookup();
    std::string sessionFunction();
    std::string serverProperty();
    std::string cursorStatus();
    std::optional<std::string> constantText(size_t k) const;
};

std::string Translator::functionCall(size_t &i, Translation &tr)
{
    if (std::string call; builtinCall(i, tr, call) || scalarCall(i, tr, call)) return call;
    Call c(*this, tr, tok(i));
    i += 2; // name and "("
    if (c.name == "COUNT" || c.name == "COUNT_BIG") {
        if (tok(i).isOp("*")) { ++i; expectOp(i, ")"); return "count(*)"; }
    }
    static const char *const aggregates[] = {"COUNT", "SUM", "AVG", "MIN", "MAX", "COUNT_BIG"};
    const bool aggregate = std::find(std::begin(aggregates), std::end(aggregates), c.name) != std::end(aggregates);
    if (aggregate && tok(i).isWord("DISTINCT")) {
        c.distinct = true;
        ++i;
    }
    if (!tok(i).isOp(")")) {
        c.args.push_back(expr(i, tr));
        c.argType = m_type;
        c.argPlain = m_plain;
        while (tok(i).isOp(",")) { ++i; c.args.push_back(expr(i, tr)); }
    }
    expectOp(i, ")");
    m_type = num::Type{};
    return c.translate();
}

std::string Translator::Call::translate()
{
    using Handler = std::string (Call::*)();
    static const std::pair<const char *, Handler> handlers[] = {
        {"COUNT", &Call::aggregate}, {"COUNT_BIG", &Call::aggregate}, {"SUM", &Call::aggregate},
        {"AVG", &Call::aggregate}, {"MIN", &Call::aggregate}, {"MAX", &Call::aggregate},
        {"LEFT", &Call::left},
        {"YEAR", &Call::datePart}, {"MONTH", &Call::datePart}, {"DAY", &Call::datePart},
        {"DB_NAME", &Call::databaseLookup}, {"DB_ID", &Call::databaseLookup}, {"OBJECT_ID", &Call::objectId},
        {"OBJECT_NAME", &Call::objectLookup}, {"OBJECT_SCHEMA_NAME", &Call::objectLookup},
        {"OBJECTPROPERTY", &Call::objectProperty}, {"SCHEMA_NAME", &Call::schemaLookup},
        {"SCHEMA_ID", &Call::schemaLookup}, {"SCOPE_IDENTITY", &Call::sessionFunction},
        {"SUSER_SNAME", &Call::sessionFunction}, {"SUSER_NAME", &Call::sessionFunction},
        {"USER_NAME", &Call::sessionFunction}, {"HOST_NAME", &Call::sessionFunction},
        {"APP_NAME", &Call::sessionFunction}, {"SERVERPROPERTY", &Call::serverProperty},
        {"ERROR_NUMBER", &Call::sessionFunction}, {"ERROR_MESSAGE", &Call::sessionFunction},
        {"ERROR_SEVERITY", &Call::sessionFunction}, {"ERROR_STATE", &Call::sessionFunction},
        {"ERROR_LINE", &Call::sessionFunction}, {"ERROR_PROCEDURE", &Call::sessionFunction},
        {"XACT_STATE", &Call::sessionFunction}, {"CURSOR_STATUS", &Call::cursorStatus}};
    // Functions SQLite has under the same or another name (dv_ ones are this
    // server's); SQLite itself checks the argument count where none is given.
    constexpr size_t any = SIZE_MAX;
    static const struct { const char *name, *sqlite; size_t lo, hi; } renamed[] = {
        {"LEN", "dv_len", 1, 1}, {"UPPER", "upper", 0, any},
        {"LOWER", "lower", 0, any}, {"LTRIM", "ltrim", 0, any}, {"RTRIM", "rtrim", 0, any},
        {"REPLACE", "replace", 0, any}, {"COALESCE", "coalesce", 0, any}, {"NULLIF", "nullif", 0, any},
        {"ISNULL", "ifnull", 2, 2},
        {"SUBSTRING", "substr", 3, 3}, {"RIGHT", "dv_right", 2, 2}};
    for (const auto &[word, handler] : handlers)
        if (name == word) return (this->*handler)();
    for (const auto &r : renamed) {
        if (name != r.name) continue;
        need(r.lo, r.hi);
        return joined(r.sqlite);
    }
    throw makeError(195, 15, "'" + fn.value + "' is not a recognized built-in function name.", true);
}

// Decimal and money: exact sums and averages; MIN and MAX by number (text otherwise).
std::string Translator::Call::aggregate()
{
    if ((name == "SUM" || name == "AVG") && argType.decimalLike()) {
        need(1, 1);
        const num::Type in = argType;
        self.m_type = in.kind == num::Type::Decimal ? num::decimalType(38, name == "AVG" ? std::max(in.scale, 6) : in.scale)
                                                    : num::typeFromName("money", 0, 0);
        const std::string f = name == "SUM" ? "dv_decsum(" : "dv_decavg(";
        if (distinct) return f + "DISTINCT " + args[0] + ")";
        return f + args[0] + ", " + quoteLiteral(num::typeCode(in)) + ")";
    }
    if ((name == "MIN" || name == "MAX") && argType.decimalLike() && args.size() == 1) {
        self.m_type = argType;
        if (!argPlain) args[0] = "CAST(" + args[0] + " AS TEXT) COLLATE " + kDecimalCollation;
        return joined(lower(name));
    }
    need(1, 1);
    if (name == "COUNT" || name == "COUNT_BIG") return joined("count");
    return joined(name == "AVG" ? "dv_avg" : lower(name));
}

std::string Translator::Call::left()
{
    need(2, 2);
    return "substr(" + args[0] + ", 1, " + args[1] + ")";
}

// YEAR, MONTH, DAY.
std::string Translator::Call::datePart()
{
    need(1, 1);
    const char *f = name == "YEAR" ? "%Y" : name == "MONTH" ? "%m" : "%d";
    return std::string("CAST(strftime('") + f + "', " + args[0] + ") AS INTEGER)";
}

// DB_NAME([id]), DB_ID([name]): the current database's without an argument.
std::string Translator::Call::databaseLookup()
{
    need(0, 1);
    const bool id = name == "DB_ID";
    if (args.empty()) return sessionValue(id ? "DB_ID()" : "DB_NAME()");
    const std::string table = "\"dvcat\".\"sysdatabases\"";
    if (id) return catalogLookup(table, {"dbid", "name"}, "\"__dv_c_dbid\"", {"\"__dv_c_name\""}, {args[0]});
    return catalogLookup(table, {"dbid", "name"}, "\"__dv_c_name\"", {"\"__dv_c_dbid\""}, {args[0]});
}

// The name as written, resolved like a name in a statement (default schema, then dbo).
std::string Translator::Call::objectId()
{
    need(1, 2);
    std::string def = defaultSchema();
    std::string type = args.size() > 1 ? args[1] : "NULL";
    return "dv_object_id(" + args[0] + ", " + def + ", " + type + ")";
}

// OBJECT_NAME(id), OBJECT_SCHEMA_NAME(id).
std::string Translator::Call::objectLookup()
{
    need(1, 2);
    return catalogLookup("\"main\".\"__dv_objects\"", {"name", "schema_name", "object_id"},
                         name == "OBJECT_NAME" ? "\"__dv_c_name\"" : "\"__dv_c_schema_name\"",
                         {"\"__dv_c_object_id\""}, {args[0]});
}

std::string Translator::Call::objectProperty()
{
    need(2, 2);
    const std::string type = "\"__dv_c_type\"";
    return catalogLookup("\"main\".\"__dv_objects\"", {"type", "iname", "schema_name", "object_id"},
                         "CASE lower(" + args[1] + ") WHEN 'isview' THEN " + type + " = 'V' WHEN 'istable' THEN " + type
                             + " = 'U' WHEN 'isusertable' THEN " + type + " = 'U' WHEN 'istrigger' THEN " + type
                             + " = 'TR' WHEN 'tablehasidentity' THEN EXISTS (SELECT 1 FROM \"main\".\"__dv_columns\" c "
                               "WHERE c.tbl = \"__dv_c_iname\" AND c.is_identity = 1) WHEN 'ownerid' THEN 1 "
                               "WHEN 'schemaid' THEN (SELECT schema_id FROM \"main\".\"__dv_schemas\" s "
                               "WHERE s.name = \"__dv_c_schema_name\") END",
                         {"\"__dv_c_object_id\""}, {args[0]});
}

// SCHEMA_NAME([id]), SCHEMA_ID([name]): the default schema's without an argument.
std::string Translator::Call::schemaLookup()
{
    need(0, 1);
    if (name == "SCHEMA_NAME") {
        if (args.empty()) return defaultSchema();
        return catalogLookup("\"main\".\"__dv_schemas\"", {"name", "schema_id"}, "\"__dv_c_name\"",
                             {"\"__dv_c_schema_id\""}, {args[0]});
    }
    std::string n = args.empty() ? defaultSchema() : args[0];
    return catalogLookup("\"main\".\"__dv_schemas\"", {"name", "schema_id"}, "\"__dv_c_schema_id\"",
                         {"\"__dv_c_name\""}, {n});
}

// SCOPE_IDENTITY(), SUSER_SNAME(), USER_NAME(), HOST_NAME(), APP_NAME() ...: values of the session.
std::string Translator::Call::sessionFunction()
{
    need(0, 1);
    return sessionValue(name + "()");
}

// The text of argument k when it is a string literal or a variable's value; nullopt otherwise.
std::optional<std::string> Translator::Call::constantText(size_t k) const
{
    const std::string &a = args[k];
    if (a.size() > 1 && a[0] == '?') {
        const size_t n = size_t(std::atol(a.c_str() + 1));
        if (n >= 1 && n <= tr.params.size() && tr.params[n - 1].kind == Value::Text) return tr.params[n - 1].s;
        return std::nullopt;
    }
    const size_t open = a.find('\''), close = a.rfind('\'');
    if (open == std::string::npos || close <= open) return std::nullopt;
    std::string out;
    for (size_t c = open + 1; c < close; ++c) {
        out += a[c];
        if (a[c] == '\'' && c + 1 < close && a[c + 1] == '\'') ++c;
    }
    return out;
}

// CURSOR_STATUS('local' | 'global' | 'variable', name): the session knows its cursors.
std::string Translator::Call::cursorStatus()
{
    need(2, 2);
    const std::optional<std::string> scope = constantText(0), cursor = constantText(1);
    if (!scope || !cursor) return "NULL";
    return sessionValue("CURSOR_STATUS\x1f" + *scope + "\x1f" + *cursor);
}

std::string Translator::Call::serverProperty()
{
    need(1, 1);
    // The argument arrives as a SQLite literal ('Collation').
    if (iequals(args[0], quoteLiteral("Collation"))) return param(Value::text(serverCollation().name));
    return "NULL";
}

} // namespace ts
