#include "base/variantvalue.h"

#include "base/collation.h"
#include "base/decimal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ts {

namespace {

constexpr char kMark = '\x1F';

struct BaseInfo {
    const char *name;
    int family;   // higher compares greater
    int rank;     // within the family: higher is the type the other converts to
    SqlType wire;
};

// SQL Server's data type hierarchy for sql_variant comparisons.
const BaseInfo kBases[] = {
    {"datetime2", 6, 6, SqlType::DateTime2}, {"datetimeoffset", 6, 5, SqlType::DateTimeOffset},
    {"datetime", 6, 4, SqlType::DateTime}, {"smalldatetime", 6, 3, SqlType::DateTime},
    {"date", 6, 2, SqlType::Date}, {"time", 6, 1, SqlType::Time},
    {"float", 5, 2, SqlType::Float}, {"real", 5, 1, SqlType::Real},
    {"decimal", 4, 8, SqlType::Decimal}, {"numeric", 4, 8, SqlType::Numeric}, {"money", 4, 7, SqlType::Money},
    {"smallmoney", 4, 6, SqlType::SmallMoney}, {"bigint", 4, 5, SqlType::BigInt}, {"int", 4, 4, SqlType::Int},
    {"smallint", 4, 3, SqlType::SmallInt}, {"tinyint", 4, 2, SqlType::TinyInt}, {"bit", 4, 1, SqlType::Bit},
    {"nvarchar", 3, 4, SqlType::NVarChar}, {"nchar", 3, 3, SqlType::NChar}, {"varchar", 3, 2, SqlType::VarChar},
    {"char", 3, 1, SqlType::Char},
    {"varbinary", 2, 2, SqlType::VarBinary}, {"binary", 2, 1, SqlType::VarBinary},
    {"uniqueidentifier", 1, 1, SqlType::UniqueIdentifier}};

const BaseInfo *baseInfo(const std::string &type)
{
    for (const auto &b : kBases)
        if (type == b.name) return &b;
    return nullptr;
}

bool isCharacter(const std::string &t) { return t == "nvarchar" || t == "nchar" || t == "varchar" || t == "char"; }
bool isBinary(const std::string &t) { return t == "varbinary" || t == "binary"; }

int sign(int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

// A date or time text as a point on one time line: a date alone is its
// midnight, a time alone falls on 1900-01-01 (as converting it to datetime2 does).
std::string onTimeLine(const Variant &v)
{
    if (v.type == "time") return "1900-01-01 " + v.value;
    if (v.type == "date") return v.value + " 00:00:00";
    return v.value;
}

int compareNumbers(const Variant &a, const Variant &b, int family)
{
    if (family == 5) {
        const double x = std::strtod(a.value.c_str(), nullptr), y = std::strtod(b.value.c_str(), nullptr);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    num::Dec x, y;
    if (!num::parse(a.value, x) || !num::parse(b.value, y)) return sign(a.value.compare(b.value));
    return sign(num::compare(x, y));
}

int storageBytes(const Variant &v)
{
    static const std::pair<const char *, int> fixed[] = {
        {"int", 4}, {"bigint", 8}, {"smallint", 2}, {"tinyint", 1}, {"bit", 1}, {"float", 8}, {"real", 4},
        {"money", 8}, {"smallmoney", 4}, {"datetime", 8}, {"smalldatetime", 4}, {"date", 3},
        {"uniqueidentifier", 16}};
    for (const auto &[name, bytes] : fixed)
        if (v.type == name) return bytes;
    if (v.type == "decimal" || v.type == "numeric")
        return v.precision <= 9 ? 5 : v.precision <= 19 ? 9 : v.precision <= 28 ? 13 : 17;
    const int timeBytes = v.scale <= 2 ? 3 : v.scale <= 4 ? 4 : 5;
    if (v.type == "time") return timeBytes;
    if (v.type == "datetime2") return timeBytes + 3;
    if (v.type == "datetimeoffset") return timeBytes + 5;
    if (v.type == "nvarchar" || v.type == "nchar") return 2 * v.length;
    return v.length;
}

int precisionOf(const Variant &v)
{
    static const std::pair<const char *, int> fixed[] = {
        {"date", 10}, {"datetime", 23}, {"smalldatetime", 16}, {"float", 53}, {"real", 24}, {"money", 19},
        {"smallmoney", 10}, {"bigint", 19}, {"int", 10}, {"smallint", 5}, {"tinyint", 3}, {"bit", 1}};
    for (const auto &[name, p] : fixed)
        if (v.type == name) return p;
    if (v.type == "decimal" || v.type == "numeric") return v.precision;
    if (v.type == "datetime2") return v.scale == 0 ? 19 : v.scale + 20;
    if (v.type == "datetimeoffset") return v.scale == 0 ? 26 : v.scale + 27;
    if (v.type == "time") return v.scale == 0 ? 8 : v.scale + 9;
    return 0;
}

int scaleOf(const Variant &v)
{
    if (v.type == "decimal" || v.type == "numeric" || v.type == "datetime2" || v.type == "datetimeoffset"
        || v.type == "time")
        return v.scale;
    if (v.type == "money" || v.type == "smallmoney") return 4;
    if (v.type == "datetime") return 3;
    return 0;
}

Variant intVariant(int n)
{
    Variant out;
    out.type = "int";
    out.value = std::to_string(n);
    return out;
}

} // namespace

bool variantBaseAllowed(const std::string &type, int length)
{
    if (!baseInfo(type)) return false;
    return !(isCharacter(type) || isBinary(type)) || length >= 0;
}

std::string variantText(const Variant &v)
{
    return std::string(1, kMark) + v.type + ":" + std::to_string(v.length) + ":" + std::to_string(v.precision) + ":"
        + std::to_string(v.scale) + std::string(1, kMark) + v.value;
}

bool isVariantText(std::string_view s)
{
    return !s.empty() && s.front() == kMark && s.find(kMark, 1) != std::string_view::npos;
}

bool parseVariant(std::string_view s, Variant &out)
{
    if (!isVariantText(s)) return false;
    const size_t end = s.find(kMark, 1);
    const std::string head(s.substr(1, end - 1));
    const size_t c1 = head.find(':');
    if (c1 == std::string::npos) return false;
    out.type = head.substr(0, c1);
    if (!baseInfo(out.type)) return false;
    const char *p = head.c_str() + c1 + 1;
    char *e = nullptr;
    out.length = int(std::strtol(p, &e, 10));
    out.precision = *e == ':' ? int(std::strtol(e + 1, &e, 10)) : 0;
    out.scale = *e == ':' ? int(std::strtol(e + 1, &e, 10)) : 0;
    out.value = std::string(s.substr(end + 1));
    return true;
}

std::string variantOfValue(const Value &v)
{
    Variant out;
    switch (v.kind) {
    case Value::Int:
        out.type = v.i >= INT32_MIN && v.i <= INT32_MAX ? "int" : "bigint";
        out.value = std::to_string(v.i);
        break;
    case Value::Float: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v.d);
        out.type = "float";
        out.value = buf;
        break;
    }
    default:
        out.type = v.kind == Value::Blob ? "varbinary" : "nvarchar";
        out.value = v.s;
        out.length = 0;
        for (unsigned char c : v.s) out.length += v.kind == Value::Blob || (c & 0xC0) != 0x80;
        out.length = out.length < 1 ? 1 : out.length;
        break;
    }
    return variantText(out);
}

int compareVariants(const Variant &a, const Variant &b, const VariantOrder &order)
{
    const BaseInfo *ia = baseInfo(a.type), *ib = baseInfo(b.type);
    if (!ia || !ib) return sign(a.value.compare(b.value));
    if (ia->family != ib->family) return ia->family < ib->family ? -1 : 1;
    switch (ia->family) {
    case 6: return sign(order.time(onTimeLine(a), onTimeLine(b)));
    case 5: case 4: return compareNumbers(a, b, ia->family);
    case 3: return sign(order.text(a.value, b.value));
    case 2: {
        const int c = std::memcmp(a.value.data(), b.value.data(), std::min(a.value.size(), b.value.size()));
        return c != 0 ? sign(c) : sign(int(a.value.size()) - int(b.value.size()));
    }
    default: return sign(order.guid(a.value, b.value));
    }
}

bool variantProperty(const Variant &v, std::string_view property, Variant &out)
{
    std::string p(property);
    std::transform(p.begin(), p.end(), p.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (p == "basetype" || p == "collation") {
        out = Variant{};
        out.type = "nvarchar";
        out.length = 128;
        if (p == "basetype") out.value = v.type;
        else if (isCharacter(v.type)) out.value = serverCollation().name;
        else return false;
        return true;
    }
    if (p == "precision") { out = intVariant(precisionOf(v)); return true; }
    if (p == "scale") { out = intVariant(scaleOf(v)); return true; }
    if (p == "maxlength") { out = intVariant(storageBytes(v)); return true; }
    return false;
}

ColumnDef variantBaseColumn(const Variant &v)
{
    ColumnDef c;
    const BaseInfo *b = baseInfo(v.type);
    c.type = b ? b->wire : SqlType::NVarChar;
    c.length = v.length;
    c.precision = v.precision;
    c.scale = v.scale;
    return c;
}

Value variantBaseValue(const Variant &v)
{
    const BaseInfo *b = baseInfo(v.type);
    if (!b) return Value::text(v.value);
    if (b->family == 4 && b->rank <= 5) return Value::integer(std::strtoll(v.value.c_str(), nullptr, 10));
    if (b->family == 5) return Value::real(std::strtod(v.value.c_str(), nullptr));
    if (b->family == 2) return Value::blob(v.value);
    return Value::text(v.value);
}

} // namespace ts
