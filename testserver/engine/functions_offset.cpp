// The datetimeoffset functions (DATETIMEOFFSETFROMPARTS, SWITCHOFFSET,
// TODATETIMEOFFSET) and DATE_BUCKET over the stored text of the date types. A stored value
// holds its local date and time and its offset in minutes.
#include "engine/functions.h"

#include "base/civildays.h"
#include "engine/enginefunctions.h"

#include <cctype>

namespace ts {

namespace {

constexpr int64_t kTicksPerMinute = 60 * int64_t(10000000);
constexpr int64_t kTicksPerDay = 1440 * kTicksPerMinute;
constexpr int kMaxOffset = 14 * 60;

int64_t daysInMonth(int64_t y, unsigned m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return days[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool anyNull(int argc, sqlite3_value **a)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(a[k]) == SQLITE_NULL) return true;
    return false;
}

// A time zone written [+|-]hh:mm, or a whole number of minutes.
bool readOffset(sqlite3_value *v, int &minutes)
{
    if (sqlite3_value_type(v) == SQLITE_INTEGER) {
        const sqlite3_int64 m = sqlite3_value_int64(v);
        if (m < -kMaxOffset || m > kMaxOffset) return false;
        minutes = int(m);
        return true;
    }
    const std::string s = fn::text(v);
    if (s.size() != 6 || (s[0] != '+' && s[0] != '-') || s[3] != ':') return false;
    for (size_t k : {1u, 2u, 4u, 5u})
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    const int h = (s[1] - '0') * 10 + (s[2] - '0'), m = (s[4] - '0') * 10 + (s[5] - '0');
    if (m > 59 || h * 60 + m > kMaxOffset) return false;
    minutes = (s[0] == '-' ? -1 : 1) * (h * 60 + m);
    return true;
}

void invalidZone(sqlite3_context *ctx, const char *function)
{
    fn::raise(ctx, 9812, 16, std::string("The timezone provided to builtin function ") + function + " is invalid.");
}

// Moves the local date and time of `p` by `minutes`.
void shift(DateTimeParts &p, int64_t minutes)
{
    int64_t t = p.ticks + minutes * kTicksPerMinute;
    int64_t d = t >= 0 ? t / kTicksPerDay : -((-t + kTicksPerDay - 1) / kTicksPerDay);
    p.days += d;
    p.ticks = t - d * kTicksPerDay;
}

// The date value of `v` and its fraction digits; false for text that is no date.
bool readValue(sqlite3_value *v, DateTimeParts &p, int &scale)
{
    const std::string s = fn::text(v);
    if (dateTypeOfText(s, scale).empty() || !parseDateTimeParts(s, p)) return false;
    if (!p.hasDate) p.days = daysFromCivil(1900, 1, 1);
    p.hasDate = p.hasTime = true;
    return true;
}

// SWITCHOFFSET(datetimeoffset, zone): the same instant at another offset;
// a value without an offset is taken as +00:00.
void fnSwitchOffset(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    int zone = 0, scale = 7;
    DateTimeParts p;
    if (!readOffset(a[1], zone)) return invalidZone(ctx, "switchoffset");
    if (!readValue(a[0], p, scale)) return fn::raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
    if (!p.hasOffset) p.offset = 0;
    shift(p, int64_t(zone) - p.offset);
    p.offset = zone;
    p.hasOffset = true;
    fn::resultText(ctx, formatDateTimeParts(p, "datetimeoffset", scale));
}

// TODATETIMEOFFSET(datetime2, zone): the same local date and time with the offset.
void fnToDateTimeOffset(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    int zone = 0, scale = 7;
    DateTimeParts p;
    if (!readOffset(a[1], zone)) return invalidZone(ctx, "todatetimeoffset");
    if (!readValue(a[0], p, scale)) return fn::raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
    p.offset = zone;
    p.hasOffset = true;
    fn::resultText(ctx, formatDateTimeParts(p, "datetimeoffset", scale));
}

// DATETIMEOFFSETFROMPARTS(y, m, d, h, mi, s, fractions, hour offset, minute offset, precision).
void fnDateTimeOffsetFromParts(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    int64_t v[10];
    for (int k = 0; k < 10; ++k) v[k] = sqlite3_value_int64(a[k]);
    const int64_t precision = v[9], oh = v[7], om = v[8];
    bool ok = precision >= 0 && precision <= 7 && oh >= -14 && oh <= 14 && om >= -59 && om <= 59
        && !(oh > 0 && om < 0) && !(oh < 0 && om > 0) && (oh * 60 + om >= -kMaxOffset) && (oh * 60 + om <= kMaxOffset);
    int64_t unit = 1;
    for (int64_t k = precision; k < 7; ++k) unit *= 10;
    ok = ok && v[6] >= 0 && v[6] * unit < 10000000 && v[3] >= 0 && v[3] <= 23 && v[4] >= 0 && v[4] <= 59 && v[5] >= 0
        && v[5] <= 59 && v[0] >= 1 && v[0] <= 9999 && v[1] >= 1 && v[1] <= 12 && v[2] >= 1
        && v[2] <= daysInMonth(v[0], unsigned(v[1]));
    if (!ok)
        return fn::raise(ctx, 289, 16, "Cannot construct data type datetimeoffset, some of the arguments have values which are not valid.");
    DateTimeParts p;
    p.hasDate = p.hasTime = p.hasOffset = true;
    p.days = daysFromCivil(v[0], unsigned(v[1]), unsigned(v[2]));
    p.ticks = ((v[3] * 60 + v[4]) * 60 + v[5]) * 10000000 + v[6] * unit;
    p.offset = int(oh * 60 + om);
    fn::resultText(ctx, formatDateTimeParts(p, "datetimeoffset", int(precision)));
}

// The value in the stored text of its own date type.
std::string formatAs(const DateTimeParts &p, const std::string &type, int scale)
{
    if (type == "date") return formatDateTimeParts(p, "datetime2", 0).substr(0, 10);
    if (type == "datetime") {
        std::string out;
        normaliseDateTime(formatDateTimeParts(p, "datetime2", 3), out);
        return out;
    }
    return formatDateTimeParts(p, type, scale);
}

// dv_date_bucket(part, width, date, origin): the start of the bucket of
// `width` parts, counted from the origin (1900-01-01 00:00 by default), that
// holds the date; the result has the date's type.
void fnDateBucket(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL || sqlite3_value_type(a[2]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const std::string part = fn::text(a[0]);
    const int64_t width = sqlite3_value_int64(a[1]);
    if (width <= 0)
        return fn::raise(ctx, 9834, 16, "Invalid bucket width value passed to date_bucket function. Only positive values are allowed.");
    int scale = 7;
    DateTimeParts p, o;
    const std::string s = fn::text(a[2]);
    const std::string type = dateTypeOfText(s, scale);
    if (type.empty() || !parseDateTimeParts(s, p)) return fn::raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
    o.days = daysFromCivil(1900, 1, 1);
    if (sqlite3_value_type(a[3]) != SQLITE_NULL && !parseDateTimeParts(fn::text(a[3]), o))
        return fn::raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
    auto floorDiv = [](int64_t x, int64_t y) { return x >= 0 ? x / y : -((-x + y - 1) / y); };
    static const struct { const char *name; int64_t ticks; } fixed[] = {
        {"week", 7 * kTicksPerDay}, {"day", kTicksPerDay}, {"hour", 60 * kTicksPerMinute}, {"minute", kTicksPerMinute},
        {"second", 10000000}, {"millisecond", 10000}};
    for (const auto &f : fixed) {
        if (part != f.name) continue;
        const __int128 t = __int128(p.days) * kTicksPerDay + p.ticks, t0 = __int128(o.days) * kTicksPerDay + o.ticks;
        const __int128 w = __int128(f.ticks) * width, d = t - t0;
        const __int128 k = d >= 0 ? d / w : -((-d + w - 1) / w);
        const __int128 start = t0 + k * w;
        p.days = int64_t(start / kTicksPerDay) - (start % kTicksPerDay < 0 ? 1 : 0);
        p.ticks = int64_t(start - __int128(p.days) * kTicksPerDay);
        return fn::resultText(ctx, formatAs(p, type, scale));
    }
    const int64_t months = part == "month" ? 1 : part == "quarter" ? 3 : part == "year" ? 12 : 0;
    if (months == 0) return fn::raise(ctx, 9810, 16, "The datepart " + part + " is not supported by date function date_bucket for data type " + type + ".");
    int y, m, d, y0, m0, d0;
    civilFromDays(p.days, y, m, d);
    civilFromDays(o.days, y0, m0, d0);
    const int64_t span = (int64_t(y) * 12 + m) - (int64_t(y0) * 12 + m0) - ((d < d0 || (d == d0 && p.ticks < o.ticks)) ? 1 : 0);
    const int64_t total = int64_t(y0) * 12 + (m0 - 1) + floorDiv(span, months * width) * months * width;
    p.days = daysFromCivil(floorDiv(total, 12), unsigned(total - floorDiv(total, 12) * 12 + 1), unsigned(d0));
    p.ticks = o.ticks;
    fn::resultText(ctx, formatAs(p, type, scale));
}

} // namespace

void registerOffsetFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_switchoffset", 2, det, nullptr, fnSwitchOffset, nullptr, nullptr);
    sqlite3_create_function(db, "dv_todatetimeoffset", 2, det, nullptr, fnToDateTimeOffset, nullptr, nullptr);
    sqlite3_create_function(db, "dv_date_bucket", 4, det, nullptr, fnDateBucket, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datetimeoffsetfromparts", 10, det, nullptr, fnDateTimeOffsetFromParts, nullptr, nullptr);
}

} // namespace ts
