// JSON_VALUE, JSON_QUERY, ISJSON and JSON_MODIFY over SQLite's JSON functions
// (json_valid, json_type, json_extract, ->): these functions add SQL Server's
// path modes (lax, strict, append) and its errors.
#include "engine/functions.h"

#include <cctype>
#include <string>

namespace ts {

namespace {

struct JsonPath {
    bool strict = false;
    bool append = false;
    std::string path; // as SQLite reads it: "$.a.b[0]"
};

// "[append] [lax|strict] $..."; false (error 13607 raised) for a path that does not start with $.
bool readPath(sqlite3_context *ctx, const std::string &raw, JsonPath &out)
{
    size_t p = 0;
    auto word = [&](const char *w) {
        const size_t n = std::char_traits<char>::length(w);
        size_t q = p;
        while (q < raw.size() && raw[q] == ' ') ++q;
        // The mode may touch the $ that follows it: 'strict$.a'.
        if (raw.size() - q > n && raw.compare(q, n, w) == 0 && (raw[q + n] == ' ' || raw[q + n] == '$')) {
            p = q + n;
            return true;
        }
        return false;
    };
    out.append = word("append");
    if (word("strict")) out.strict = true;
    else word("lax");
    while (p < raw.size() && raw[p] == ' ') ++p;
    out.path = raw.substr(p);
    if (out.path.empty() || out.path[0] != '$') {
        const std::string c = p < raw.size() ? raw.substr(p, 1) : std::string();
        fn::raise(ctx, 13607, 16, "JSON path is not properly formatted. Unexpected character '" + c
                  + "' is found at position " + std::to_string(p) + ".");
        return false;
    }
    return true;
}

// dv_json_path(path): the path without its modes, for SQLite's functions.
void fnJsonPath(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    JsonPath p;
    if (readPath(ctx, fn::text(a[0]), p)) fn::resultText(ctx, p.path);
}

// dv_json_append(path): whether the path says append.
void fnJsonAppend(sqlite3_context *ctx, int, sqlite3_value **a)
{
    JsonPath p;
    if (readPath(ctx, fn::text(a[0]), p)) sqlite3_result_int(ctx, p.append);
}

// dv_json_checked(json, isValid): the text when it is JSON, else error 13609.
void fnJsonChecked(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    if (!sqlite3_value_int(a[1])) return fn::raise(ctx, 13609, 16, "JSON text is not properly formatted.");
    sqlite3_result_value(ctx, a[0]);
}

// The start JSON_VALUE and JSON_QUERY share (arguments json, path, type of the
// value found): NULL for a NULL argument, the path read, and a missing value
// NULL in lax mode and 13608 in strict mode. False once the result is set.
bool lookUp(sqlite3_context *ctx, sqlite3_value **a, JsonPath &p, std::string &type)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return false;
    }
    if (!readPath(ctx, fn::text(a[1]), p)) return false;
    if (sqlite3_value_type(a[2]) == SQLITE_NULL) {
        if (p.strict) fn::raise(ctx, 13608, 16, "Property cannot be found on the specified JSON path.");
        else sqlite3_result_null(ctx);
        return false;
    }
    type = fn::text(a[2]);
    return true;
}

// dv_json_value(json, path, type, extracted, jsonText): a scalar as text;
// an object, an array or a missing value is NULL in lax mode and an error in strict mode.
void fnJsonValue(sqlite3_context *ctx, int, sqlite3_value **a)
{
    JsonPath p;
    std::string type;
    if (!lookUp(ctx, a, p, type)) return;
    if (type == "object" || type == "array") {
        if (p.strict) return fn::raise(ctx, 13623, 16, "Scalar value cannot be found in the specified JSON path.");
        return sqlite3_result_null(ctx);
    }
    if (type == "null") return sqlite3_result_null(ctx);
    const std::string value = type == "text" ? fn::text(a[3]) : type == "true" || type == "false" ? type : fn::text(a[4]);
    if (value.size() > 4000) {
        if (p.strict) return fn::raise(ctx, 13625, 16, "String value in the specified JSON path would be truncated.");
        return sqlite3_result_null(ctx);
    }
    fn::resultText(ctx, value);
}

// dv_json_query(json, path, type, extracted, jsonText): an object or an array as JSON text.
void fnJsonQuery(sqlite3_context *ctx, int, sqlite3_value **a)
{
    JsonPath p;
    std::string type;
    if (!lookUp(ctx, a, p, type)) return;
    if (type != "object" && type != "array") {
        if (p.strict) return fn::raise(ctx, 13624, 16, "Object or array cannot be found in the specified JSON path.");
        return sqlite3_result_null(ctx);
    }
    fn::resultText(ctx, fn::text(a[4]));
}

} // namespace

void registerJsonFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_json_path", 1, det, nullptr, fnJsonPath, nullptr, nullptr);
    sqlite3_create_function(db, "dv_json_append", 1, det, nullptr, fnJsonAppend, nullptr, nullptr);
    sqlite3_create_function(db, "dv_json_checked", 2, det, nullptr, fnJsonChecked, nullptr, nullptr);
    sqlite3_create_function(db, "dv_json_value", 5, det, nullptr, fnJsonValue, nullptr, nullptr);
    sqlite3_create_function(db, "dv_json_query", 5, det, nullptr, fnJsonQuery, nullptr, nullptr);
}

} // namespace ts
