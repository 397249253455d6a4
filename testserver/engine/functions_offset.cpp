// The datetimeoffset functions: DATETIMEOFFSETFROMPARTS, SWITCHOFFSET and
// TODATETIMEOFFSET over the stored text of the date types. A stored value
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

} // namespace

void registerOffsetFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_switchoffset", 2, det, nullptr, fnSwitchOffset, nullptr, nullptr);
    sqlite3_create_function(db, "dv_todatetimeoffset", 2, det, nullptr, fnToDateTimeOffset, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datetimeoffsetfromparts", 10, det, nullptr, fnDateTimeOffsetFromParts, nullptr, nullptr);
}

} // namespace ts
