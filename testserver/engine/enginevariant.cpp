// sql_variant in SQL: wrapping a value with its base type, reading the base
// value back, SQL_VARIANT_PROPERTY, and the collation that orders a
// sql_variant column by type family and value.
#include "engine/enginevariant.h"

#include "base/collation.h"
#include "base/sqlitenames.h"
#include "base/textcollation.h"
#include "base/variantvalue.h"
#include "engine/enginefunctions.h"
#include "engine/functions.h"

#include <cstdio>
#include <cstring>

namespace ts {

namespace {

int byTimeCollation(std::string_view a, std::string_view b)
{
    return compareTimeText(nullptr, int(a.size()), a.data(), int(b.size()), b.data());
}

int byGuidCollation(std::string_view a, std::string_view b)
{
    return compareGuidText(nullptr, int(a.size()), a.data(), int(b.size()), b.data());
}

int byServerCollation(std::string_view a, std::string_view b)
{
    return compareText(textCollationName(serverCollation().name), a, b);
}

const VariantOrder kOrder{byServerCollation, byTimeCollation, byGuidCollation};

void resultVariant(sqlite3_context *ctx, const Variant &v)
{
    fn::resultText(ctx, variantText(v));
}

// The base value as SQLite holds it: the text of a number or date, the
// bytes of a binary value.
std::string storedValue(sqlite3_value *v)
{
    if (sqlite3_value_type(v) == SQLITE_FLOAT) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", sqlite3_value_double(v));
        return buf;
    }
    if (sqlite3_value_type(v) == SQLITE_BLOB) {
        const char *p = static_cast<const char *>(sqlite3_value_blob(v));
        return std::string(p ? p : "", size_t(sqlite3_value_bytes(v)));
    }
    return fn::text(v);
}

size_t utf8Chars(const std::string &s)
{
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// A value whose type nothing names: the type its SQLite storage shows.
Variant inferred(sqlite3_value *v)
{
    Variant out;
    out.value = storedValue(v);
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 x = sqlite3_value_int64(v);
        out.type = x >= INT32_MIN && x <= INT32_MAX ? "int" : "bigint";
        break;
    }
    case SQLITE_FLOAT: out.type = "float"; break;
    case SQLITE_BLOB: out.type = "varbinary"; out.length = int(out.value.size()); break;
    default: out.type = "nvarchar"; out.length = int(utf8Chars(out.value)); break;
    }
    if (out.length == 0 && (out.type == "nvarchar" || out.type == "varbinary")) out.length = 1;
    return out;
}

// dv_tovariant(value, type, length, precision, scale): the value (already
// converted to the type) wrapped with it; an empty type takes the storage's.
void fnToVariant(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    const std::string s = fn::text(a[0]);
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT && isVariantText(s)) { sqlite3_result_value(ctx, a[0]); return; }
    Variant v;
    v.type = fn::text(a[1]);
    if (v.type.empty()) { resultVariant(ctx, inferred(a[0])); return; }
    v.length = sqlite3_value_int(a[2]);
    v.precision = sqlite3_value_int(a[3]);
    v.scale = sqlite3_value_int(a[4]);
    if (!variantBaseAllowed(v.type, v.length)) {
        const std::string shown = v.length < 0 ? v.type + "(max)" : v.type;
        fn::raise(ctx, 206, 16, "Operand type clash: " + shown + " is incompatible with sql_variant");
        return;
    }
    v.value = storedValue(a[0]);
    resultVariant(ctx, v);
}

// dv_fromvariant(v): the base value, for a CAST or CONVERT to another type.
void fnFromVariant(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Variant v;
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT || !parseVariant(fn::text(a[0]), v)) {
        sqlite3_result_value(ctx, a[0]);
        return;
    }
    const Value base = variantBaseValue(v);
    switch (base.kind) {
    case Value::Int: sqlite3_result_int64(ctx, base.i); break;
    case Value::Float: sqlite3_result_double(ctx, base.d); break;
    case Value::Blob: sqlite3_result_blob(ctx, base.s.data(), int(base.s.size()), SQLITE_TRANSIENT); break;
    default: fn::resultText(ctx, base.s); break;
    }
}

void fnVariantProperty(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Variant v, out;
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT || !parseVariant(fn::text(a[0]), v)
        || !variantProperty(v, fn::text(a[1]), out)) {
        sqlite3_result_null(ctx);
        return;
    }
    resultVariant(ctx, out);
}

int variantCollation(void *, int na, const void *a, int nb, const void *b)
{
    const std::string_view sa(static_cast<const char *>(a), size_t(na)), sb(static_cast<const char *>(b), size_t(nb));
    Variant va, vb;
    const bool pa = parseVariant(sa, va), pb = parseVariant(sb, vb);
    if (pa && pb) return compareVariants(va, vb, kOrder);
    if (pa != pb) return pa ? 1 : -1;
    const int c = std::memcmp(sa.data(), sb.data(), std::min(sa.size(), sb.size()));
    return c != 0 ? c : int(sa.size()) - int(sb.size());
}

} // namespace

bool toVariant(sqlite3_context *ctx, sqlite3_value *v, bool storeResult)
{
    if (!storeResult) return true;
    const std::string s = sqlite3_value_type(v) == SQLITE_TEXT ? fn::text(v) : std::string();
    if (isVariantText(s)) sqlite3_result_value(ctx, v);
    else resultVariant(ctx, inferred(v));
    return true;
}

void registerVariantFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_tovariant", 5, det, nullptr, fnToVariant, nullptr, nullptr);
    sqlite3_create_function(db, "dv_fromvariant", 1, det, nullptr, fnFromVariant, nullptr, nullptr);
    sqlite3_create_function(db, "dv_variant_property", 2, det, nullptr, fnVariantProperty, nullptr, nullptr);
    sqlite3_create_collation(db, kVariantCollation, SQLITE_UTF8, nullptr, variantCollation);
}

} // namespace ts
