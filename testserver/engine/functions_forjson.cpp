// The row objects of FOR JSON: each value written as SQL Server writes it
// (numbers bare, decimals with their scale, bit as true/false, dates with a
// T, binary in base64, strings with / escaped), NULLs left out unless asked
// for, dotted PATH names as nested objects.
#include "engine/enginenumbers.h"
#include "engine/functions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace ts {

namespace {

std::string jsonString(const std::string &s)
{
    return "\"" + fn::jsonEscape(s) + "\"";
}

// The shortest text that reads back as the same double.
std::string floatText(double d)
{
    char buf[40];
    for (int prec = 1; prec <= 17; ++prec) {
        std::snprintf(buf, sizeof buf, "%.*g", prec, d);
        if (std::strtod(buf, nullptr) == d) break;
    }
    return buf;
}

std::string runtimeValue(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return floatText(sqlite3_value_double(v));
    case SQLITE_BLOB:
        return jsonString(fn::base64(static_cast<const unsigned char *>(sqlite3_value_blob(v)), sqlite3_value_bytes(v)));
    default: return jsonString(fn::text(v));
    }
}

// A date or time as JSON writes it: "2024-01-31T10:20:30.123", an offset right after the time.
std::string temporal(std::string s)
{
    if (s.size() > 10 && s[10] == ' ' && s[4] == '-') s[10] = 'T';
    const size_t sp = s.rfind(' ');
    if (sp != std::string::npos && sp + 1 < s.size() && (s[sp + 1] == '+' || s[sp + 1] == '-')) s.erase(sp, 1);
    return jsonString(s);
}

// The JSON text of one value by the kind the translator gave its column.
std::string jsonValue(sqlite3_value *v, const std::string &kind)
{
    if (kind == "j") return fn::text(v);
    if (kind == "b") return sqlite3_value_int64(v) != 0 ? "true" : "false";
    if (kind == "t" || kind == "T") {
        std::string s = fn::text(v);
        if (kind == "T" && s.size() > 4 && s.compare(s.size() - 4, 4, ".000") == 0) s.resize(s.size() - 4);
        return temporal(s);
    }
    if (!kind.empty() && kind[0] == 'd') return decimalText(v, std::atoi(kind.c_str() + 1));
    if (kind == "x" && sqlite3_value_type(v) == SQLITE_BLOB) return runtimeValue(v);
    if (kind == "s") return jsonString(fn::text(v));
    return runtimeValue(v);
}

struct Member {
    std::vector<std::string> path;
    std::string json; // empty: NULL
};

// Writes the members [from, to) that share the first `depth` path parts.
void writeObject(const std::vector<Member> &m, size_t from, size_t to, size_t depth, std::string &out)
{
    out += '{';
    bool first = true;
    for (size_t k = from; k < to;) {
        const std::string &key = m[k].path[depth];
        if (m[k].path.size() == depth + 1) {
            out += (first ? "" : ",") + jsonString(key) + ":" + (m[k].json.empty() ? "null" : m[k].json);
            first = false;
            ++k;
            continue;
        }
        size_t end = k + 1;
        while (end < to && m[end].path.size() > depth + 1 && m[end].path[depth] == key) ++end;
        out += (first ? "" : ",") + jsonString(key) + ":";
        writeObject(m, k, end, depth + 1, out);
        first = false;
        k = end;
    }
    out += '}';
}

std::vector<std::string> splitPath(const std::string &name, bool pathMode)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t dot = pathMode ? name.find('.') : std::string::npos; dot != std::string::npos; dot = name.find('.', from)) {
        out.push_back(name.substr(from, dot - from));
        from = dot + 1;
    }
    out.push_back(name.substr(from));
    return out;
}

// dv_forjson_object(flags, key, kind, value, ...): flags "p" (PATH) or "a" (AUTO), "n": keep NULLs.
void fnForJsonObject(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    const std::string flags = fn::text(a[0]);
    const bool pathMode = flags.find('p') != std::string::npos;
    const bool nulls = flags.find('n') != std::string::npos;
    std::vector<Member> members;
    for (int k = 1; k + 2 < argc; k += 3) {
        const bool isNull = sqlite3_value_type(a[k + 2]) == SQLITE_NULL;
        if (isNull && !nulls) continue;
        members.push_back({splitPath(fn::text(a[k]), pathMode), isNull ? std::string() : jsonValue(a[k + 2], fn::text(a[k + 1]))});
    }
    std::string out;
    writeObject(members, 0, members.size(), 0, out);
    fn::resultText(ctx, out);
}

// dv_forjson_key(name): the name as a JSON string (ROOT's name).
void fnForJsonKey(sqlite3_context *ctx, int, sqlite3_value **a)
{
    fn::resultText(ctx, jsonString(fn::text(a[0])));
}

} // namespace

// Base64 as FOR JSON and FOR XML write binary; the engine's libraries (SQLite, GMP, ICU,
// libxml2) offer no plain encoder, and this one is a dozen lines.
std::string fn::base64(const unsigned char *p, int n)
{
    static const char abc[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (int k = 0; k < n; k += 3) {
        const unsigned v = unsigned(p[k]) << 16 | (k + 1 < n ? unsigned(p[k + 1]) << 8 : 0u) | (k + 2 < n ? p[k + 2] : 0u);
        out += abc[v >> 18 & 63];
        out += abc[v >> 12 & 63];
        out += k + 1 < n ? abc[v >> 6 & 63] : '=';
        out += k + 2 < n ? abc[v & 63] : '=';
    }
    return out;
}

void registerForJsonFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_forjson_object", -1, det, nullptr, fnForJsonObject, nullptr, nullptr);
    sqlite3_create_function(db, "dv_forjson_key", 1, det, nullptr, fnForJsonKey, nullptr, nullptr);
}

} // namespace ts
