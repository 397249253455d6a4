// The scalar functions of the mathematical, string, date, logical and JSON
// families, by a table from name to handler: each handler sees its
// arguments' SQLite expressions and static types and gives the call's SQLite
// expression, its numeric type (for arithmetic around it) and the column type
// a client sees when the call is a whole select item.
#include "tsql/sqltranslate.h"

#include <algorithm>
#include <cstdint>

namespace ts {

namespace {

struct ScalarArg {
    std::string sql;
    num::Type type;
};

struct ScalarCall {
    std::string name; // upper case
    std::vector<ScalarArg> args;
    ColumnMeta result;  // the column type; "" = from the values
    num::Type number;   // the numeric type of the result, Unknown = none
    std::string dateFirst; // SQLite expression of @@DATEFIRST
    std::string schema;    // SQLite expression of the default schema (names resolve there, then in dbo)

    std::string list(size_t from = 0) const
    {
        std::string s;
        for (size_t k = from; k < args.size(); ++k) s += (k > from ? ", " : "") + args[k].sql;
        return s;
    }
    std::string code(size_t k) const { return quoteLiteral(num::typeCode(args[k].type)); }
};

ColumnMeta typed(const char *type, int length = 0, int precision = 0, int scale = 0)
{
    ColumnMeta m;
    m.type = type;
    m.length = length;
    m.precision = precision;
    m.scale = scale;
    return m;
}

// The column type of a numeric type, where it is one a client sees.
ColumnMeta columnOf(const num::Type &t)
{
    switch (t.kind) {
    case num::Type::Int:
    case num::Type::IntLiteral: return typed(t.precision >= 19 ? "bigint" : "int");
    case num::Type::Float: return typed("float");
    case num::Type::Real: return typed("real");
    case num::Type::Money: return typed("money");
    case num::Type::SmallMoney: return typed("smallmoney");
    case num::Type::Decimal: return typed(t.decimalName ? "decimal" : "numeric", 0, t.precision, t.scale);
    default: return ColumnMeta{};
    }
}

num::Type floatType()
{
    num::Type t;
    t.kind = num::Type::Float;
    return t;
}

// ABS, CEILING, FLOOR, SIGN, ROUND keep their argument's type (an int type
// widens to int; decimal scale goes for CEILING and FLOOR; text counts as float).
num::Type sameNumberType(const num::Type &in, bool dropScale)
{
    num::Type t = in;
    if (t.kind == num::Type::IntLiteral || (t.kind == num::Type::Int && t.precision < 10)) {
        t.kind = num::Type::Int;
        t.precision = 10;
    } else if (t.kind == num::Type::Other) {
        t = floatType();
    } else if (t.kind == num::Type::Real) {
        t = floatType();
    }
    if (dropScale && t.kind == num::Type::Decimal) t = num::decimalType(t.precision, 0);
    return t;
}

std::string exactCall(ScalarCall &c, const char *fn, bool dropScale)
{
    c.number = sameNumberType(c.args[0].type, dropScale);
    c.result = columnOf(c.number);
    std::string s = std::string(fn) + "(" + c.args[0].sql;
    for (size_t k = 1; k < c.args.size(); ++k) s += ", " + c.args[k].sql;
    if (std::string(fn) == "dv_round" && c.args.size() == 2) s += ", 0";
    return s + ", " + quoteLiteral(num::typeCode(c.number)) + ")";
}

std::string absCall(ScalarCall &c) { return exactCall(c, "dv_abs", false); }
std::string signCall(ScalarCall &c) { return exactCall(c, "dv_sign", false); }
std::string floorCall(ScalarCall &c) { return exactCall(c, c.name == "FLOOR" ? "dv_floor" : "dv_ceiling", true); }
std::string roundCall(ScalarCall &c) { return exactCall(c, "dv_round", false); }

// POWER: the first argument's type, decimal(p, s) as decimal(38, s).
std::string powerCall(ScalarCall &c)
{
    num::Type t = sameNumberType(c.args[0].type, false);
    if (t.kind == num::Type::Decimal) t = num::decimalType(38, t.scale);
    if (t.kind == num::Type::Unknown) t = floatType();
    c.number = t;
    c.result = columnOf(t);
    return "dv_power(" + c.list() + ", " + quoteLiteral(num::typeCode(t)) + ")";
}

// DEGREES and RADIANS keep the argument's type; the rest give float.
std::string floatCall(ScalarCall &c)
{
    c.number = floatType();
    if (c.name == "DEGREES" || c.name == "RADIANS") {
        num::Type t = sameNumberType(c.args[0].type, false);
        if (t.kind == num::Type::Decimal) t = num::decimalType(38, t.scale);
        if (t.kind != num::Type::Unknown) c.number = t;
    }
    c.result = columnOf(c.number);
    std::string s = "dv_fmath(" + quoteLiteral(lower(c.name));
    for (const auto &a : c.args) s += ", " + a.sql;
    s += ")";
    if (c.number.kind != num::Type::Float) return "dv_totype(" + s + ", " + quoteLiteral(num::typeCode(c.number)) + ")";
    return s;
}

std::string randCall(ScalarCall &c)
{
    c.number = floatType();
    c.result = typed("float");
    return "dv_rand(" + (c.args.empty() ? std::string("NULL") : c.args[0].sql) + ")";
}

// STR(float [, length [, decimal]]): varchar of the length given (10 by default).
std::string strCall(ScalarCall &c)
{
    const std::string length = c.args.size() > 1 ? c.args[1].sql : "10";
    int n = 10;
    if (c.args.size() > 1) n = std::atoi(c.args[1].sql.c_str());
    c.result = typed("varchar", n > 0 && n <= 8000 ? n : 10);
    return "dv_str(" + c.args[0].sql + ", " + length + ", " + (c.args.size() > 2 ? c.args[2].sql : "0") + ")";
}

std::string plainCall(ScalarCall &c, const char *fn, ColumnMeta result)
{
    c.result = std::move(result);
    if (c.result.type == "int" || c.result.type == "bigint") c.number = num::typeFromName(c.result.type, 0, 0);
    if (c.result.type == "float") c.number = floatType();
    return std::string(fn) + "(" + c.list() + ")";
}

std::string charIndexCall(ScalarCall &c)
{
    c.result = typed("int");
    c.number = num::typeFromName("int", 0, 0);
    return "dv_charindex(" + c.args[0].sql + ", " + c.args[1].sql + ", " + (c.args.size() > 2 ? c.args[2].sql : "1") + ")";
}

std::string unicodeCall(ScalarCall &c) { return plainCall(c, "dv_unicode", typed("int")); }
std::string asciiCall(ScalarCall &c) { return plainCall(c, "dv_ascii", typed("int")); }
std::string charCall(ScalarCall &c) { return plainCall(c, "dv_char", typed("char", 1)); }
std::string ncharCall(ScalarCall &c) { return plainCall(c, "dv_nchar", typed("nchar", 1)); }
std::string replicateCall(ScalarCall &c) { return plainCall(c, "dv_replicate", ColumnMeta{}); }
std::string spaceCall(ScalarCall &c)
{
    c.result = typed("varchar", 8000);
    return "dv_replicate(' ', " + c.args[0].sql + ")";
}
std::string stuffCall(ScalarCall &c) { return plainCall(c, "dv_stuff", ColumnMeta{}); }
std::string quotenameCall(ScalarCall &c)
{
    if (c.args.size() == 1) c.args.push_back({"'['", num::Type{}});
    return plainCall(c, "dv_quotename", typed("nvarchar", 258));
}
std::string concatCall(ScalarCall &c) { return plainCall(c, c.name == "CONCAT" ? "dv_concat" : "dv_concat_ws", ColumnMeta{}); }
std::string translateCall(ScalarCall &c) { return plainCall(c, "dv_translate", ColumnMeta{}); }
std::string reverseCall(ScalarCall &c) { return plainCall(c, "dv_reverse", ColumnMeta{}); }
std::string soundexCall(ScalarCall &c) { return plainCall(c, "dv_soundex", typed("varchar", 4)); }
std::string differenceCall(ScalarCall &c) { return plainCall(c, "dv_difference", typed("int")); }
std::string isnumericCall(ScalarCall &c)
{
    c.result = typed("int");
    c.number = num::typeFromName("int", 0, 0);
    const bool number = c.args[0].type.numeric();
    return "dv_isnumeric(" + c.args[0].sql + ", " + (number ? "1" : "0") + ")";
}
std::string isdateCall(ScalarCall &c) { return plainCall(c, "dv_isdate", typed("int")); }
std::string datefrompartsCall(ScalarCall &c) { return plainCall(c, "dv_datefromparts", typed("date")); }
std::string datetimefrompartsCall(ScalarCall &c) { return plainCall(c, "dv_datetimefromparts", typed("datetime")); }
std::string datetime2frompartsCall(ScalarCall &c)
{
    const int scale = std::clamp(std::atoi(c.args.back().sql.c_str()), 0, 7);
    return plainCall(c, "dv_datetime2fromparts", typed("datetime2", 0, 0, scale));
}
std::string timefrompartsCall(ScalarCall &c)
{
    const int scale = std::clamp(std::atoi(c.args.back().sql.c_str()), 0, 7);
    return plainCall(c, "dv_timefromparts", typed("time", 0, 0, scale));
}
std::string smalldatetimefrompartsCall(ScalarCall &c) { return plainCall(c, "dv_smalldatetimefromparts", typed("smalldatetime")); }

// GREATEST and LEAST: the arguments compare as the type of highest precedence.
std::string extremeCall(ScalarCall &c)
{
    num::Type t = c.args[0].type;
    for (const auto &a : c.args) t = commonType(t, a.type);
    c.number = t.numeric() ? t : num::Type{};
    c.result = columnOf(c.number);
    return std::string(c.name == "GREATEST" ? "dv_greatest(" : "dv_least(") + quoteLiteral(num::typeCode(c.number)) + ", "
        + c.list() + ")";
}

// ISJSON: 1 for a JSON object or array.
std::string isjsonCall(ScalarCall &c)
{
    c.result = typed("int");
    c.number = num::typeFromName("int", 0, 0);
    const std::string &j = c.args[0].sql;
    return "(CASE WHEN (" + j + ") IS NULL THEN NULL WHEN json_valid(" + j + ") AND json_type(" + j
        + ") IN ('object', 'array') THEN 1 ELSE 0 END)";
}

// JSON_VALUE and JSON_QUERY through SQLite's JSON functions; the path is
// checked and its lax/strict mode read by dv_json_path.
std::string jsonValueCall(ScalarCall &c)
{
    if (c.args.size() == 1) c.args.push_back({"'$'", num::Type{}});
    const std::string &j = c.args[0].sql;
    const std::string p = "dv_json_path(" + c.args[1].sql + ")";
    const bool query = c.name == "JSON_QUERY";
    c.result = typed("nvarchar", query ? -1 : 4000);
    return std::string(query ? "dv_json_query(" : "dv_json_value(") + j + ", " + c.args[1].sql + ", json_type(dv_json_checked(" + j
        + ", json_valid(" + j + ")), " + p + "), json_extract(" + j + ", " + p + "), (" + j + ") -> " + p + ")";
}

// JSON_MODIFY(json, path, value): NULL deletes the property in lax mode; append adds to an array.
std::string jsonModifyCall(ScalarCall &c)
{
    c.result = typed("nvarchar", -1);
    const std::string j = "dv_json_checked(" + c.args[0].sql + ", json_valid(" + c.args[0].sql + "))";
    const std::string &raw = c.args[1].sql, &v = c.args[2].sql;
    const std::string p = "dv_json_path(" + raw + ")";
    return "(CASE WHEN dv_json_append(" + raw + ") THEN json_insert(" + j + ", " + p + " || '[#]', " + v + ") WHEN ("
        + v + ") IS NULL THEN json_remove(" + j + ", " + p + ") ELSE json_set(" + j + ", " + p + ", " + v + ") END)";
}

std::string sysutcCall(ScalarCall &c) { return plainCall(c, "dv_sysutcdatetime", typed("datetime2", 0, 0, 7)); }
std::string sysoffsetCall(ScalarCall &c) { return plainCall(c, "dv_sysdatetimeoffset", typed("datetimeoffset", 0, 0, 7)); }
std::string getdateCall(ScalarCall &c)
{
    return plainCall(c, "dv_getdate", c.name == "SYSDATETIME" ? typed("datetime2", 0, 0, 7) : typed("datetime"));
}
std::string newidCall(ScalarCall &c) { return plainCall(c, "dv_newid", typed("uniqueidentifier")); }

// NEWSEQUENTIALID belongs in a column's DEFAULT only.
std::string newsequentialidCall(ScalarCall &)
{
    throw makeError(302, 16, "The newsequentialid() built-in function can only be used in a DEFAULT expression for a column of "
                    "type 'uniqueidentifier' in a CREATE TABLE or ALTER TABLE statement. It cannot be combined with other "
                    "operators to form a complex scalar expression.", true);
}

// STRING_ESCAPE(text, 'json'): JSON's escapes.
std::string stringEscapeCall(ScalarCall &c) { return plainCall(c, "dv_string_escape", typed("nvarchar", -1)); }

// JSON_PATH_EXISTS(json, path): 1 when the path leads to a value.
std::string jsonPathExistsCall(ScalarCall &c)
{
    c.result = typed("int");
    c.number = num::typeFromName("int", 0, 0);
    const std::string &j = c.args[0].sql;
    return "(CASE WHEN (" + j + ") IS NULL THEN NULL WHEN json_type(dv_json_checked(" + j + ", json_valid(" + j
        + ")), dv_json_path(" + c.args[1].sql + ")) IS NULL THEN 0 ELSE 1 END)";
}

// DATETIMEOFFSETFROMPARTS(..., precision): the precision is a literal.
std::string datetimeoffsetfrompartsCall(ScalarCall &c)
{
    const std::string &n = c.args[9].sql;
    const bool literal = n.size() == 1 && n[0] >= '0' && n[0] <= '7';
    if (!literal) throw makeError(10760, 16, "Scale argument is not valid. Valid expressions for data type datetimeoffset scale argument are integer constants and integer constant expressions.", true);
    return plainCall(c, "dv_datetimeoffsetfromparts", typed("datetimeoffset", 0, 0, n[0] - '0'));
}

// SWITCHOFFSET and TODATETIMEOFFSET keep their argument's fraction digits.
std::string switchOffsetCall(ScalarCall &c)
{
    return plainCall(c, c.name == "SWITCHOFFSET" ? "dv_switchoffset" : "dv_todatetimeoffset", typed("temporal"));
}

// The catalogue look-ups: a missing object, column or type gives NULL.
// COL_LENGTH(table, column): the column's length in bytes (-1 for max).
std::string colLengthCall(ScalarCall &c)
{
    c.result = typed("smallint");
    c.number = num::typeFromName("smallint", 0, 0);
    return catalogLookup("\"main\".\"__dv_sys_columns\"", {"max_length", "object_id", "name"}, "\"__dv_c_max_length\"",
                         {"\"__dv_c_object_id\"", "\"__dv_c_name\""},
                         {"dv_object_id(" + c.args[0].sql + ", " + c.schema + ", NULL)", c.args[1].sql});
}

// COL_NAME(table id, column id).
std::string colNameCall(ScalarCall &c)
{
    c.result = typed("nvarchar", 128);
    return catalogLookup("\"main\".\"__dv_sys_columns\"", {"name", "object_id", "column_id"}, "\"__dv_c_name\"",
                         {"\"__dv_c_object_id\"", "\"__dv_c_column_id\""}, {c.args[0].sql, c.args[1].sql});
}

// TYPE_NAME(user type id): sysname is 256, nvarchar 231.
std::string typeNameCall(ScalarCall &c)
{
    c.result = typed("nvarchar", 128);
    return catalogLookup("\"main\".\"__dv_sys_types\"", {"name", "user_type_id"}, "\"__dv_c_name\"",
                         {"\"__dv_c_user_type_id\""}, {c.args[0].sql});
}

// TYPE_ID(name): the user type id of a type name.
std::string typeIdCall(ScalarCall &c)
{
    c.result = typed("int");
    c.number = num::typeFromName("int", 0, 0);
    return catalogLookup("\"main\".\"__dv_sys_types\"", {"name", "user_type_id"}, "\"__dv_c_user_type_id\"",
                         {"lower(\"__dv_c_name\")"}, {"lower(" + c.args[0].sql + ")"});
}

// IDENT_CURRENT(table): the last identity value given out for the table in any session.
std::string identCurrentCall(ScalarCall &c)
{
    c.result = typed("numeric", 0, 38, 0);
    return "dv_ident_current(dv_object_id(" + c.args[0].sql + ", " + c.schema + ", NULL))";
}

// DATABASEPROPERTYEX(database, property) for an online, read-write database.
std::string databasePropertyExCall(ScalarCall &c)
{
    return "(SELECT CASE lower(" + c.args[1].sql + ") WHEN 'collation' THEN v.collation_name WHEN 'status' THEN v.state_desc "
        "WHEN 'recovery' THEN v.recovery_model_desc WHEN 'updateability' THEN (CASE v.is_read_only WHEN 1 THEN "
        "'READ_ONLY' ELSE 'READ_WRITE' END) WHEN 'useraccess' THEN v.user_access_desc WHEN 'version' THEN d.version "
        "WHEN 'isautoclose' THEN 0 WHEN 'isautoshrink' THEN 0 WHEN 'isautocreatestatistics' THEN 1 "
        "WHEN 'isautoupdatestatistics' THEN 1 END FROM \"dvcat\".\"sys_databases\" v JOIN \"dvcat\".\"sysdatabases\" d "
        "ON d.name = v.name WHERE v.name = " + c.args[0].sql + ")";
}

} // namespace

// The type both of two numeric types convert to: float over real over
// decimal over money over smallmoney over the int types; decimals keep the
// larger integral part and scale.
num::Type commonType(const num::Type &a, const num::Type &b)
{
    if (a.kind == num::Type::Unknown) return b;
    if (b.kind == num::Type::Unknown) return a;
    auto rank = [](const num::Type &t) {
        switch (t.kind) {
        case num::Type::Float: return 6;
        case num::Type::Real: return 5;
        case num::Type::Decimal: return 4;
        case num::Type::Money: return 3;
        case num::Type::SmallMoney: return 2;
        case num::Type::Int: case num::Type::IntLiteral: return 1;
        default: return 0;
        }
    };
    if (rank(a) == 0 || rank(b) == 0) { num::Type o; o.kind = num::Type::Other; return o; }
    if (a.kind == num::Type::Decimal || b.kind == num::Type::Decimal) {
        if (rank(a) > 4 || rank(b) > 4) return rank(a) > rank(b) ? a : b;
        const num::Type x = num::asDecimal(a), y = num::asDecimal(b);
        const int s = std::max(x.scale, y.scale);
        const int whole = std::max(x.precision - x.scale, y.precision - y.scale);
        return num::decimalType(std::min(whole + s, 38), s);
    }
    if (rank(a) != rank(b)) return rank(a) > rank(b) ? a : b;
    num::Type t = a;
    if (t.kind == num::Type::IntLiteral || b.kind == num::Type::IntLiteral) { t.kind = num::Type::Int; t.precision = 10; }
    t.precision = std::max({t.precision, a.precision, b.precision, 10});
    if (t.precision > 10) t.precision = 19;
    return t;
}

bool Translator::scalarCall(size_t &i, Translation &tr, std::string &out)
{
    using Handler = std::string (*)(ScalarCall &);
    constexpr size_t any = 254;
    static const struct { const char *name; size_t lo, hi; Handler handler; } table[] = {
        {"ABS", 1, 1, absCall}, {"SIGN", 1, 1, signCall}, {"CEILING", 1, 1, floorCall}, {"FLOOR", 1, 1, floorCall},
        {"ROUND", 2, 3, roundCall}, {"POWER", 2, 2, powerCall}, {"SQRT", 1, 1, floatCall}, {"SQUARE", 1, 1, floatCall},
        {"EXP", 1, 1, floatCall}, {"LOG", 1, 2, floatCall}, {"LOG10", 1, 1, floatCall}, {"PI", 0, 0, floatCall},
        {"SIN", 1, 1, floatCall}, {"COS", 1, 1, floatCall}, {"TAN", 1, 1, floatCall}, {"COT", 1, 1, floatCall},
        {"ASIN", 1, 1, floatCall}, {"ACOS", 1, 1, floatCall}, {"ATAN", 1, 1, floatCall}, {"ATN2", 2, 2, floatCall},
        {"DEGREES", 1, 1, floatCall}, {"RADIANS", 1, 1, floatCall}, {"RAND", 0, 1, randCall},
        {"CHARINDEX", 2, 3, charIndexCall}, {"STR", 1, 3, strCall}, {"UNICODE", 1, 1, unicodeCall},
        {"ASCII", 1, 1, asciiCall}, {"CHAR", 1, 1, charCall}, {"NCHAR", 1, 1, ncharCall},
        {"REPLICATE", 2, 2, replicateCall}, {"SPACE", 1, 1, spaceCall}, {"STUFF", 4, 4, stuffCall},
        {"QUOTENAME", 1, 2, quotenameCall}, {"CONCAT", 2, any, concatCall}, {"CONCAT_WS", 3, any, concatCall},
        {"TRANSLATE", 3, 3, translateCall}, {"REVERSE", 1, 1, reverseCall}, {"SOUNDEX", 1, 1, soundexCall},
        {"DIFFERENCE", 2, 2, differenceCall}, {"ISNUMERIC", 1, 1, isnumericCall}, {"ISDATE", 1, 1, isdateCall},
        {"DATEFROMPARTS", 3, 3, datefrompartsCall}, {"DATETIMEFROMPARTS", 7, 7, datetimefrompartsCall},
        {"DATETIME2FROMPARTS", 8, 8, datetime2frompartsCall}, {"TIMEFROMPARTS", 5, 5, timefrompartsCall},
        {"SMALLDATETIMEFROMPARTS", 5, 5, smalldatetimefrompartsCall}, {"SYSUTCDATETIME", 0, 0, sysutcCall},
        {"SYSDATETIMEOFFSET", 0, 0, sysoffsetCall}, {"GETDATE", 0, 0, getdateCall}, {"GETUTCDATE", 0, 0, getdateCall},
        {"SYSDATETIME", 0, 0, getdateCall}, {"NEWID", 0, 0, newidCall}, {"NEWSEQUENTIALID", 0, 0, newsequentialidCall},
        {"STRING_ESCAPE", 2, 2, stringEscapeCall}, {"JSON_PATH_EXISTS", 2, 2, jsonPathExistsCall},
        {"GREATEST", 1, any, extremeCall}, {"LEAST", 1, any, extremeCall}, {"ISJSON", 1, 1, isjsonCall},
        {"JSON_VALUE", 2, 2, jsonValueCall}, {"JSON_QUERY", 1, 2, jsonValueCall}, {"JSON_MODIFY", 3, 3, jsonModifyCall},
        {"COL_LENGTH", 2, 2, colLengthCall}, {"COL_NAME", 2, 2, colNameCall}, {"TYPE_NAME", 1, 1, typeNameCall},
        {"TYPE_ID", 1, 1, typeIdCall},
        {"DATETIMEOFFSETFROMPARTS", 10, 10, datetimeoffsetfrompartsCall}, {"SWITCHOFFSET", 2, 2, switchOffsetCall},
        {"TODATETIMEOFFSET", 2, 2, switchOffsetCall},
        {"IDENT_CURRENT", 1, 1, identCurrentCall}, {"DATABASEPROPERTYEX", 2, 2, databasePropertyExCall}};
    const size_t begin = i;
    const Token &fn = tok(i);
    ScalarCall c;
    c.name = upper(fn.value);
    if (c.name == "DATETRUNC" || c.name == "TRIM") return specialScalar(i, tr, out);
    if (c.name == "JSON_OBJECT" || c.name == "JSON_ARRAY") return jsonConstructor(i, tr, out);
    if (c.name == "PARSE" || c.name == "TRY_PARSE") return parseCall(i, tr, out);
    const auto *entry = std::find_if(std::begin(table), std::end(table), [&](const auto &e) { return c.name == e.name; });
    if (entry == std::end(table)) return false;
    i += 2; // name and "("
    if (!tok(i).isOp(")")) {
        for (;;) {
            std::string e = expr(i, tr);
            c.args.push_back({e, m_type});
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    }
    expectOp(i, ")");
    // Only the calls that resolve a table name take the default schema as a parameter
    // (a column's DEFAULT, stored as SQL text, can hold no parameter).
    if (c.name == "COL_LENGTH" || c.name == "IDENT_CURRENT") c.schema = param(tr, Value::text(ctx ? ctx->defaultSchema() : "dbo"));
    if (c.args.size() < entry->lo || c.args.size() > entry->hi) {
        if (entry->hi == any)
            throw makeError(189, 15, "The " + lower(c.name) + " function requires " + std::to_string(entry->lo)
                            + " to 254 arguments.", true);
        throw makeError(174, 15, "The " + lower(c.name) + " function requires " + std::to_string(entry->lo)
                        + " argument(s).", true);
    }
    out = entry->handler(c);
    m_type = c.number;
    m_plain = false;
    if (!c.result.type.empty()) {
        m_typedBegin = begin;
        m_typedEnd = i;
        m_typedResult = c.result;
    }
    return true;
}

// DATETRUNC(part, date) and TRIM([chars FROM] text): arguments of their own form.
bool Translator::specialScalar(size_t &i, Translation &tr, std::string &out)
{
    const size_t begin = i;
    const std::string u = upper(tok(i).value);
    i += 2;
    if (u == "TRIM") {
        std::string first = expr(i, tr);
        if (tok(i).isWord("FROM")) {
            ++i;
            std::string text = expr(i, tr);
            out = "dv_trim(" + text + ", " + first + ")";
        } else {
            out = "dv_trim(" + first + ", ' ')";
        }
        expectOp(i, ")");
        m_type = num::Type{};
        return true;
    }
    const std::string part = datePartName(i, "datetrunc");
    if (part == "'tzoffset'" || part == "'nanosecond'" || part == "'weekday'")
        throw makeError(9810, 16, "The datepart " + part.substr(1, part.size() - 2)
                        + " is not supported by date function datetrunc for data type datetime2.", true);
    const size_t dateBegin = i;
    std::string date = expr(i, tr);
    const bool literal = i == dateBegin + 1 && (t[dateBegin].kind == Token::String || t[dateBegin].kind == Token::NString);
    expectOp(i, ")");
    const Value first = ctx ? ctx->systemValue("@@DATEFIRST") : Value::integer(7);
    out = "dv_datetrunc(" + part + ", " + date + ", " + (literal ? "1" : "0") + ", " + param(tr, first) + ")";
    m_type = num::Type{};
    m_plain = false;
    m_typedBegin = begin;
    m_typedEnd = i;
    m_typedResult = literal ? typed("datetime2", 0, 0, 7) : typed("temporal");
    return true;
}

// CONVERT's styles: money to text (0: two decimals, 1: with thousands
// commas, 2: four decimals), float and real to text (0 to 3), binary to and
// from text (1: 0x and hex digits, 2: hex digits alone), dates and times to
// text (datetime's style 0 too, which CAST also uses) and text to dates.
std::string Translator::styledCast(const std::string &e, num::Type source, const ColumnMeta &m, const std::string &style,
                                   const std::string &sourceType)
{
    const bool toText = m.type == "varchar" || m.type == "nvarchar" || m.type == "char" || m.type == "nchar";
    const bool toBinary = m.type == "varbinary" || m.type == "binary";
    if (toText && (source.kind == num::Type::Money || source.kind == num::Type::SmallMoney))
        return castTo("dv_moneytext(" + e + ", " + style + ")", num::Type{}, m);
    if (toText && (source.kind == num::Type::Float || source.kind == num::Type::Real))
        return castTo("dv_floattext(" + e + ", " + style + ", 1)", num::Type{}, m);
    if (toText && style == "0" && (sourceType == "datetime" || sourceType == "smalldatetime"))
        return castTo("dv_datestyle(" + e + ", 0)", num::Type{}, m);
    if (toText && style != "0")
        return castTo("dv_datestyle(dv_binarystyle(dv_floattext(" + e + ", " + style + ", 0), " + style + ", 1), " + style + ")",
                      num::Type{}, m);
    if (toBinary && style != "0") return castTo("dv_binarystyle(" + e + ", " + style + ", 0)", num::Type{}, m);
    if (style != "0" && (isTemporalType(m.type) || m.type == "datetime" || m.type == "date" || m.type == "smalldatetime"))
        return castTo("dv_textdate(" + e + ", " + style + ")", source, m);
    return castTo(e, source, m);
}

} // namespace ts
