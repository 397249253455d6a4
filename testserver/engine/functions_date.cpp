// Date functions over the stored text of the date types (see
// normaliseTemporal): DATEFROMPARTS and its kin, ISDATE, DATETRUNC,
// SYSUTCDATETIME, and the logical GREATEST and LEAST.
#include "engine/functions.h"

#include "base/civildays.h"
#include "base/collation.h"
#include "base/textcollation.h"
#include "engine/datetext.h"
#include "engine/enginefunctions.h"

#include <chrono>
#include <ctime>
#include <cstdio>

namespace ts {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = 86400 * kTicksPerSecond;

bool anyNull(int argc, sqlite3_value **a)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(a[k]) == SQLITE_NULL) return true;
    return false;
}

bool validDate(int64_t y, int64_t m, int64_t d)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

void cannotConstruct(sqlite3_context *ctx, const char *type)
{
    fn::raise(ctx, 289, 16, std::string("Cannot construct data type ") + type
              + ", some of the arguments have values which are not valid.");
}

// The parts of a date and time from the arguments `from` on: year, month, day,
// hour, minute, second and a fraction of `fractionDigits` digits (0..7).
bool fromParts(sqlite3_value **a, int count, int fractionDigits, DateTimeParts &p)
{
    int64_t v[7] = {1900, 1, 1, 0, 0, 0, 0};
    for (int k = 0; k < count; ++k) v[k] = sqlite3_value_int64(a[k]);
    if (!validDate(v[0], v[1], v[2]) || v[3] < 0 || v[3] > 23 || v[4] < 0 || v[4] > 59 || v[5] < 0 || v[5] > 59)
        return false;
    int64_t unit = 1;
    for (int k = fractionDigits; k < 7; ++k) unit *= 10;
    if (v[6] < 0 || v[6] * unit >= kTicksPerSecond) return false;
    p.hasDate = p.hasTime = true;
    p.days = daysFromCivil(v[0], unsigned(v[1]), unsigned(v[2]));
    p.ticks = ((v[3] * 60 + v[4]) * 60 + v[5]) * kTicksPerSecond + v[6] * unit;
    return true;
}

void fnDateFromParts(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    DateTimeParts p;
    if (!fromParts(a, 3, 0, p)) return cannotConstruct(ctx, "date");
    fn::resultText(ctx, formatDateTimeParts(p, "datetime2", 0).substr(0, 10));
}

// DATETIMEFROMPARTS(y, m, d, h, mi, s, ms): datetime from 1753 on.
void fnDateTimeFromParts(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    DateTimeParts p;
    if (!fromParts(a, 7, 3, p) || sqlite3_value_int64(a[0]) < 1753) return cannotConstruct(ctx, "datetime");
    std::string out;
    if (!normaliseDateTime(formatDateTimeParts(p, "datetime2", 3), out)) return cannotConstruct(ctx, "datetime");
    fn::resultText(ctx, out);
}

// DATETIME2FROMPARTS(y, m, d, h, mi, s, fractions, precision).
void fnDateTime2FromParts(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    const int precision = sqlite3_value_int(a[7]);
    DateTimeParts p;
    if (precision < 0 || precision > 7 || !fromParts(a, 7, precision, p)) return cannotConstruct(ctx, "datetime2");
    fn::resultText(ctx, formatDateTimeParts(p, "datetime2", precision));
}

// TIMEFROMPARTS(h, mi, s, fractions, precision).
void fnTimeFromParts(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    DateTimeParts p;
    const int precision = sqlite3_value_int(a[4]);
    int64_t h = sqlite3_value_int64(a[0]), mi = sqlite3_value_int64(a[1]), s = sqlite3_value_int64(a[2]);
    int64_t f = sqlite3_value_int64(a[3]), unit = 1;
    for (int k = precision; k < 7; ++k) unit *= 10;
    if (precision < 0 || precision > 7 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || f < 0
        || f * unit >= kTicksPerSecond)
        return cannotConstruct(ctx, "time");
    p.hasTime = true;
    p.ticks = ((h * 60 + mi) * 60 + s) * kTicksPerSecond + f * unit;
    fn::resultText(ctx, formatDateTimeParts(p, "time", precision));
}

// SMALLDATETIMEFROMPARTS(y, m, d, h, mi): 1900-01-01 to 2079-06-06.
void fnSmallDateTimeFromParts(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc, a)) return sqlite3_result_null(ctx);
    DateTimeParts p;
    const int64_t y = sqlite3_value_int64(a[0]);
    if (!fromParts(a, 5, 0, p) || y < 1900 || y > 2079) return cannotConstruct(ctx, "smalldatetime");
    std::string out;
    normaliseDateTime(formatDateTimeParts(p, "datetime2", 0), out);
    fn::resultText(ctx, out);
}

// ISDATE: 1 for text that converts to datetime.
void fnIsDate(sqlite3_context *ctx, int, sqlite3_value **a)
{
    std::string out;
    sqlite3_result_int(ctx, sqlite3_value_type(a[0]) == SQLITE_TEXT && normaliseDateTime(fn::text(a[0]), out));
}

void fnSysUtcDateTime(sqlite3_context *ctx, int, sqlite3_value **)
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    DateTimeParts p;
    p.hasDate = p.hasTime = true;
    p.days = ticks / kTicksPerDay;
    p.ticks = ticks % kTicksPerDay;
    fn::resultText(ctx, formatDateTimeParts(p, "datetime2", 7));
}

// SYSDATETIMEOFFSET: the local time with the local offset.
void fnSysDateTimeOffset(sqlite3_context *ctx, int, sqlite3_value **)
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100
        + int64_t(local.tm_gmtoff) * kTicksPerSecond;
    DateTimeParts p;
    p.hasDate = p.hasTime = p.hasOffset = true;
    p.days = ticks / kTicksPerDay;
    p.ticks = ticks % kTicksPerDay;
    p.offset = int(local.tm_gmtoff / 60);
    fn::resultText(ctx, formatDateTimeParts(p, "datetimeoffset", 7));
}

// CONVERT's date and time styles to text: 1-14 and 20-25 with two-digit
// years where 101-114 and 120-126 have four; a style code is mapped to a
// pattern of y (year), m, d (D: blank-padded), M (month name), H/I (24 h/12 h hour), n, s, f
// (milliseconds), F (the stored fraction), p (AM/PM).
const char *datePattern(int style)
{
    static const struct { int style; const char *pattern; } styles[] = {
        {100, "M D yyyy I:np"}, {101, "mm/dd/yyyy"}, {102, "yyyy.mm.dd"}, {103, "dd/mm/yyyy"}, {104, "dd.mm.yyyy"},
        {105, "dd-mm-yyyy"}, {106, "dd M yyyy"}, {107, "M dd, yyyy"}, {108, "H:n:s"}, {109, "M D yyyy I:n:s:fp"},
        {110, "mm-dd-yyyy"}, {111, "yyyy/mm/dd"}, {112, "yyyymmdd"}, {113, "dd M yyyy H:n:s:f"}, {114, "H:n:s:f"},
        {120, "yyyy-mm-dd H:n:s"}, {121, "yyyy-mm-dd H:n:sF"}, {126, "yyyy-mm-ddTH:n:sF"}, {127, "yyyy-mm-ddTH:n:sFZ"},
        {23, "yyyy-mm-dd"}, {20, "yyyy-mm-dd H:n:s"}, {21, "yyyy-mm-dd H:n:sF"}, {22, "mm/dd/yy I:n:s p"},
        {24, "H:n:s"}, {25, "yyyy-mm-dd H:n:sF"}, {1, "mm/dd/yy"}, {2, "yy.mm.dd"}, {3, "dd/mm/yy"}, {4, "dd.mm.yy"}, {5, "dd-mm-yy"},
        {6, "dd M yy"}, {7, "M dd, yy"}, {8, "H:n:s"}, {10, "mm-dd-yy"}, {11, "yy/mm/dd"}, {12, "yymmdd"}, {14, "H:n:s:f"},
        {0, "M D yyyy I:np"}, {9, "M D yyyy I:n:s:fp"}, {13, "dd M yyyy H:n:s:f"}};
    for (const auto &e : styles)
        if (e.style == style) return e.pattern;
    return nullptr;
}

std::string styledDate(const std::string &pattern, const DateTimeParts &p, const std::string &fraction)
{
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int y, m, d;
    civilFromDays(p.days, y, m, d);
    const int64_t secs = p.ticks / kTicksPerSecond;
    const int hour = int(secs / 3600), minute = int(secs / 60 % 60), second = int(secs % 60);
    std::string out;
    char buf[16];
    for (size_t k = 0; k < pattern.size(); ++k) {
        const char c = pattern[k];
        const size_t run = pattern.find_first_not_of(c, k) == std::string::npos ? pattern.size() - k : pattern.find_first_not_of(c, k) - k;
        if (c == 'y') std::snprintf(buf, sizeof buf, run == 4 ? "%04d" : "%02d", run == 4 ? y : y % 100);
        else if (c == 'm') std::snprintf(buf, sizeof buf, "%02d", m);
        else if (c == 'd') std::snprintf(buf, sizeof buf, "%02d", d);
        else if (c == 'D') std::snprintf(buf, sizeof buf, "%2d", d);
        else if (c == 'M') std::snprintf(buf, sizeof buf, "%s", months[m - 1]);
        else if (c == 'H') std::snprintf(buf, sizeof buf, "%02d", hour);
        else if (c == 'I') std::snprintf(buf, sizeof buf, "%2d", hour % 12 == 0 ? 12 : hour % 12);
        else if (c == 'n') std::snprintf(buf, sizeof buf, "%02d", minute);
        else if (c == 's') std::snprintf(buf, sizeof buf, "%02d", second);
        else if (c == 'f') std::snprintf(buf, sizeof buf, "%03d", int(p.ticks / 10000 % 1000));
        else if (c == 'F') std::snprintf(buf, sizeof buf, "%s", fraction.c_str());
        else if (c == 'p') std::snprintf(buf, sizeof buf, "%s", hour < 12 ? "AM" : "PM");
        else std::snprintf(buf, sizeof buf, "%c", c);
        out += buf;
        if (std::string("ymdHns").find(c) != std::string::npos) k += run - 1;
    }
    return out;
}

// dv_datestyle(value, style): a date or time value written in a CONVERT style; other values pass.
void fnDateStyle(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const char *pattern = datePattern(sqlite3_value_int(a[1]));
    int scale = 0;
    const std::string value = fn::text(a[0]);
    DateTimeParts p;
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT || !pattern || dateTypeOfText(value, scale).empty()
        || !parseDateTimeParts(value, p))
        return sqlite3_result_value(ctx, a[0]);
    const size_t dot = value.find('.');
    std::string fraction = dot == std::string::npos ? std::string() : value.substr(dot, value.find(' ', dot) - dot);
    fn::resultText(ctx, styledDate(pattern, p, fraction));
}

// dv_textdate(text, style): text CONVERT reads as a date with a style, in
// the order that style writes dates (103: day/month/year ...), as ISO text
// the cast then reads; anything else, and text the order does not read, passes.
void fnTextDate(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const std::string order = styleDateOrder(sqlite3_value_int(a[1]));
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT || order.empty()) return sqlite3_result_value(ctx, a[0]);
    DateTimeParts p;
    {
        const DateOrderScope scope(&order);
        if (!parseDateTimeParts(fn::text(a[0]), p)) return sqlite3_result_value(ctx, a[0]);
    }
    if (!p.hasDate) return sqlite3_result_value(ctx, a[0]);
    fn::resultText(ctx, formatDateTimeParts(p, p.hasOffset ? "datetimeoffset" : "datetime2", 7));
}

// The start of the unit `part` that `p` falls in; false for a part the type has not.
bool truncateTo(const std::string &part, int dateFirst, DateTimeParts &p)
{
    int y, m, d;
    civilFromDays(p.days, y, m, d);
    const int64_t units[] = {kTicksPerDay, 3600 * kTicksPerSecond, 60 * kTicksPerSecond, kTicksPerSecond, 10000, 10};
    const char *const names[] = {"day", "hour", "minute", "second", "millisecond", "microsecond"};
    for (size_t k = 0; k < 6; ++k) {
        if (part != names[k] && !(k == 0 && part == "dayofyear")) continue;
        if (k > 0 && !p.hasTime) return false;
        p.ticks -= p.ticks % units[k];
        return k != 0 || p.hasDate;
    }
    if (!p.hasDate) return false;
    p.ticks = 0;
    if (part == "year") p.days = daysFromCivil(y, 1, 1);
    else if (part == "quarter") p.days = daysFromCivil(y, unsigned((m - 1) / 3 * 3 + 1), 1);
    else if (part == "month") p.days = daysFromCivil(y, unsigned(m), 1);
    else if (part == "week" || part == "iso_week") {
        const int sunday0 = int(((p.days + 4) % 7 + 7) % 7); // 0 = Sunday
        const int first = part == "iso_week" ? 1 : dateFirst % 7;
        p.days -= (sunday0 - first + 7) % 7;
    } else {
        return false;
    }
    return true;
}

// dv_datetrunc(part, value, isLiteral, dateFirst): the value's own type (datetime2(7) for a literal).
void fnDateTrunc(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const std::string part = fn::text(a[0]), value = fn::text(a[1]);
    DateTimeParts p;
    int scale = 7;
    std::string type = sqlite3_value_int(a[2]) ? "datetime2" : dateTypeOfText(value, scale);
    if (type.empty() || !parseDateTimeParts(value, p))
        return fn::raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
    if (sqlite3_value_int(a[2])) p.hasTime = p.hasDate = true;
    if (!truncateTo(part, sqlite3_value_int(a[3]), p))
        return fn::raise(ctx, 9810, 16, "The datepart " + part + " is not supported by date function datetrunc for data type "
                         + type + ".");
    if (type == "date") return fn::resultText(ctx, formatDateTimeParts(p, "datetime2", 0).substr(0, 10));
    if (type == "datetime") {
        std::string out;
        normaliseDateTime(formatDateTimeParts(p, "datetime2", 3), out);
        return fn::resultText(ctx, out);
    }
    fn::resultText(ctx, formatDateTimeParts(p, type, scale));
}

// dv_greatest(type, a, b, ...), dv_least(...): NULLs are passed over; numbers
// compare exactly, text by the server collation.
void extreme(sqlite3_context *ctx, int argc, sqlite3_value **a, int sign)
{
    const num::Type t = num::typeFromCode(fn::text(a[0]));
    const std::string collation = textCollationName(serverCollation().name);
    int best = -1;
    num::Dec bestDec;
    for (int k = 1; k < argc; ++k) {
        if (sqlite3_value_type(a[k]) == SQLITE_NULL) continue;
        num::Dec d;
        const bool number = t.numeric() || sqlite3_value_type(a[k]) != SQLITE_TEXT;
        if (number && !fn::toDec(a[k], d))
            return fn::raise(ctx, 8114, 16, "Error converting data type varchar to numeric.");
        int c = 1;
        if (best >= 0) {
            if (number) c = num::compare(d, bestDec);
            else c = collation.empty() ? fn::text(a[k]).compare(fn::text(a[best]))
                                       : compareText(collation, fn::text(a[k]), fn::text(a[best]));
            c *= sign;
        }
        if (c > 0) { best = k; bestDec = d; }
    }
    if (best < 0) return sqlite3_result_null(ctx);
    if (t.decimalLike()) return fn::resultText(ctx, num::format(num::rescale(bestDec, t.kind == num::Type::Decimal ? t.scale : 4)));
    if (t.kind == num::Type::Float || t.kind == num::Type::Real) return sqlite3_result_double(ctx, sqlite3_value_double(a[best]));
    sqlite3_result_value(ctx, a[best]);
}

void fnGreatest(sqlite3_context *ctx, int argc, sqlite3_value **a) { extreme(ctx, argc, a, 1); }
void fnLeast(sqlite3_context *ctx, int argc, sqlite3_value **a) { extreme(ctx, argc, a, -1); }

} // namespace

void registerDateFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    static const struct { const char *name; int args; void (*f)(sqlite3_context *, int, sqlite3_value **); } table[] = {
        {"dv_datefromparts", 3, fnDateFromParts}, {"dv_datetimefromparts", 7, fnDateTimeFromParts},
        {"dv_datetime2fromparts", 8, fnDateTime2FromParts}, {"dv_timefromparts", 5, fnTimeFromParts},
        {"dv_smalldatetimefromparts", 5, fnSmallDateTimeFromParts}, {"dv_isdate", 1, fnIsDate},
        {"dv_datetrunc", 4, fnDateTrunc}, {"dv_datestyle", 2, fnDateStyle}, {"dv_textdate", 2, fnTextDate}, {"dv_greatest", -1, fnGreatest}, {"dv_least", -1, fnLeast}};
    for (const auto &f : table) sqlite3_create_function(db, f.name, f.args, det, nullptr, f.f, nullptr, nullptr);
    sqlite3_create_function(db, "dv_sysutcdatetime", 0, SQLITE_UTF8, nullptr, fnSysUtcDateTime, nullptr, nullptr);
    sqlite3_create_function(db, "dv_sysdatetimeoffset", 0, SQLITE_UTF8, nullptr, fnSysDateTimeOffset, nullptr, nullptr);
}

} // namespace ts
