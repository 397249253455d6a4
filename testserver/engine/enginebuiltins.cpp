// The date functions (DATEADD, DATEDIFF, DATEPART, DATENAME, EOMONTH),
// PATINDEX, STRING_AGG and TRY_CAST as SQLite functions. Dates arrive as the
// stored text of their column; a value's type is read from that text's shape.
// Names of months and weekdays are us_english, the server's only language.
#include "engine/enginefunctions.h"

#include "base/civildays.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace ts {

namespace {

const int64_t kTicksPerDay = 864000000000LL;
const int64_t kTicksPerSecond = 10000000LL;

void raise(sqlite3_context *ctx, int number, int severity, const std::string &text)
{
    std::string e = encodeError(number, severity, text);
    sqlite3_result_error(ctx, e.c_str(), int(e.size()));
}

std::string text(sqlite3_value *v)
{
    const unsigned char *p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
}

void resultText(sqlite3_context *ctx, const std::string &s)
{
    sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
}

// A date/time value with the type SQL Server would give it.
struct DateValue {
    DateTimeParts p;
    std::string type; // date, time, datetime, datetime2, datetimeoffset
    int scale = 3;
};

int fractionDigits(const std::string &s)
{
    size_t colon = s.find(':');
    if (colon == std::string::npos) return 0;
    size_t dot = s.find('.', colon);
    if (dot == std::string::npos) return 0;
    int n = 0;
    for (size_t k = dot + 1; k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])); ++k) ++n;
    return std::min(n, 7);
}

// Reads a date argument. `kind` is the type the caller knows ("datetime" for a
// string literal given to DATEADD, "literal" for one given to DATEPART or
// DATENAME, which take the type the text fits); empty = from the text's shape:
// a date column holds "YYYY-MM-DD", datetime "YYYY-MM-DD HH:MM:SS.mmm", time
// "HH:MM:SS[.f]", datetimeoffset ends with an offset, datetime2 has 0-7 digits.
bool readDate(sqlite3_context *ctx, sqlite3_value *v, const std::string &kind, DateValue &out)
{
    static const int64_t day1900 = daysFromCivil(1900, 1, 1);
    if (sqlite3_value_type(v) == SQLITE_INTEGER || sqlite3_value_type(v) == SQLITE_FLOAT) {
        // A number is a datetime: days (and a fraction of a day) since 1900-01-01.
        double d = sqlite3_value_double(v);
        double whole = std::floor(d);
        out.p.hasDate = out.p.hasTime = true;
        out.p.days = day1900 + int64_t(whole);
        out.p.ticks = int64_t(std::llround((d - whole) * 86400000.0)) * 10000;
        out.type = "datetime";
        out.scale = 3;
        return true;
    }
    std::string s = text(v);
    if (!parseDateTimeParts(s, out.p)) {
        raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
        return false;
    }
    if (!out.p.hasDate) out.p.days = day1900;
    if (kind == "literal") {
        // A string given to DATEPART or DATENAME: any part may be asked of it.
        out.type = out.p.hasOffset ? "datetimeoffset" : "datetime2";
        out.scale = 7;
    } else if (!kind.empty()) {
        out.type = kind;
        out.scale = kind == "datetime" ? 3 : 7;
        if (kind == "datetime" && out.p.hasOffset) out.p.offset = 0;
    } else if (out.p.hasOffset) {
        out.type = "datetimeoffset";
        out.scale = fractionDigits(s);
    } else if (!out.p.hasTime) {
        out.type = "date";
    } else if (!out.p.hasDate) {
        out.type = "time";
        out.scale = fractionDigits(s);
    } else {
        int digits = fractionDigits(s);
        out.type = digits == 3 || s.find('.') == std::string::npos ? "datetime" : "datetime2";
        out.scale = out.type == "datetime" ? 3 : digits;
    }
    return true;
}

std::string formatDate(const DateValue &v)
{
    if (v.type == "date") return formatDateTimeParts(v.p, "datetime2", 0).substr(0, 10);
    if (v.type == "datetime") {
        // Milliseconds, as the datetime columns of this server hold them.
        DateTimeParts p = v.p;
        p.ticks = (p.ticks + 5000) / 10000 * 10000;
        if (p.ticks >= kTicksPerDay) { p.ticks -= kTicksPerDay; ++p.days; }
        return formatDateTimeParts(p, "datetime2", 3);
    }
    return formatDateTimeParts(v.p, v.type, v.scale);
}

enum class Part { Year, Quarter, Month, DayOfYear, Day, Week, Weekday, Hour, Minute, Second, Millisecond,
                  Microsecond, Nanosecond, TzOffset, IsoWeek, Unknown };

Part partOf(const std::string &name)
{
    static const struct { const char *name; Part part; } parts[] = {
        {"year", Part::Year}, {"quarter", Part::Quarter}, {"month", Part::Month}, {"dayofyear", Part::DayOfYear},
        {"day", Part::Day}, {"week", Part::Week}, {"weekday", Part::Weekday}, {"hour", Part::Hour},
        {"minute", Part::Minute}, {"second", Part::Second}, {"millisecond", Part::Millisecond},
        {"microsecond", Part::Microsecond}, {"nanosecond", Part::Nanosecond}, {"tzoffset", Part::TzOffset},
        {"iso_week", Part::IsoWeek}};
    for (const auto &p : parts)
        if (name == p.name) return p.part;
    return Part::Unknown;
}

bool isTimePart(Part p) { return p >= Part::Hour && p <= Part::Nanosecond; }

// 9810: a date has no hours and a time no days.
bool partAllowed(sqlite3_context *ctx, const std::string &partName, Part part, const DateValue &v, const char *fn)
{
    bool bad = (v.type == "date" && isTimePart(part)) || (v.type == "time" && !isTimePart(part) && part != Part::TzOffset)
        || (part == Part::TzOffset && v.type != "datetimeoffset" && v.type != "datetime2");
    if (!bad) return true;
    raise(ctx, 9810, 16, "The datepart " + partName + " is not supported by date function " + fn + " for data type " + v.type + ".");
    return false;
}

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// 0 = Sunday.
int dayOfWeek(int64_t days) { return int(((days + 4) % 7 + 7) % 7); }

// The day's number in the week that SET DATEFIRST starts (7: Sunday is day 1).
int weekdayNumber(int64_t days, int dateFirst) { return (dayOfWeek(days) - dateFirst % 7 + 7) % 7 + 1; }

int isoWeek(int64_t days)
{
    int iso = (dayOfWeek(days) + 6) % 7 + 1; // Monday 1 .. Sunday 7
    int64_t thursday = days - iso + 4;
    int y, m, d;
    civilFromDays(thursday, y, m, d);
    return int((thursday - daysFromCivil(y, 1, 1)) / 7 + 1);
}

const char *const kMonthNames[] = {"January", "February", "March", "April", "May", "June", "July",
                                   "August", "September", "October", "November", "December"};
const char *const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
// SET LANGUAGE 简体中文: months are numbered, days named.
const char *const kChineseLanguage = "简体中文";
const char *const kChineseMonthNames[] = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"};
const char *const kChineseDayNames[] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};

int64_t datePart(Part part, const DateValue &v, int dateFirst)
{
    int y, m, d;
    civilFromDays(v.p.days, y, m, d);
    switch (part) {
    case Part::Year: return y;
    case Part::Quarter: return (m - 1) / 3 + 1;
    case Part::Month: return m;
    case Part::DayOfYear: return v.p.days - daysFromCivil(y, 1, 1) + 1;
    case Part::Day: return d;
    case Part::Week: {
        int64_t jan1 = daysFromCivil(y, 1, 1);
        return (v.p.days - jan1 + weekdayNumber(jan1, dateFirst) - 1) / 7 + 1;
    }
    case Part::Weekday: return weekdayNumber(v.p.days, dateFirst);
    case Part::Hour: return v.p.ticks / (3600 * kTicksPerSecond);
    case Part::Minute: return v.p.ticks / (60 * kTicksPerSecond) % 60;
    case Part::Second: return v.p.ticks / kTicksPerSecond % 60;
    case Part::Millisecond: return v.p.ticks / 10000 % 1000;
    case Part::Microsecond: return v.p.ticks / 10 % 1000000;
    case Part::Nanosecond: return v.p.ticks % kTicksPerSecond * 100;
    case Part::TzOffset: return v.p.offset;
    case Part::IsoWeek: return isoWeek(v.p.days);
    case Part::Unknown: break;
    }
    return 0;
}

void fnDatepart(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string name = text(a[0]);
    DateValue v;
    if (!readDate(ctx, a[1], text(a[2]), v)) return;
    Part part = partOf(name);
    if (!partAllowed(ctx, name, part, v, "datepart")) return;
    sqlite3_result_int64(ctx, datePart(part, v, sqlite3_value_int(a[3])));
}

void fnDatename(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string name = text(a[0]);
    DateValue v;
    if (!readDate(ctx, a[1], text(a[2]), v)) return;
    Part part = partOf(name);
    if (!partAllowed(ctx, name, part, v, "datename")) return;
    int64_t n = datePart(part, v, sqlite3_value_int(a[3]));
    const bool chinese = text(a[4]) == kChineseLanguage;
    if (part == Part::Month) { resultText(ctx, chinese ? kChineseMonthNames[n - 1] : kMonthNames[n - 1]); return; }
    if (part == Part::Weekday) {
        resultText(ctx, chinese ? kChineseDayNames[dayOfWeek(v.p.days)] : kDayNames[dayOfWeek(v.p.days)]);
        return;
    }
    if (part == Part::TzOffset) {
        char buf[16];
        int o = std::abs(v.p.offset);
        std::snprintf(buf, sizeof buf, "%c%02d:%02d", v.p.offset < 0 ? '-' : '+', o / 60, o % 60);
        resultText(ctx, buf);
        return;
    }
    resultText(ctx, std::to_string(n));
}

// The number argument of DATEADD is an int; a fraction is cut off.
bool addend(sqlite3_context *ctx, sqlite3_value *v, int64_t &n)
{
    double d = sqlite3_value_double(v);
    if (sqlite3_value_type(v) == SQLITE_INTEGER) n = sqlite3_value_int64(v);
    else n = int64_t(std::trunc(d));
    if (n < INT_MIN || n > INT_MAX || std::fabs(d) > 4.0e18) {
        raise(ctx, 8115, 16, "Arithmetic overflow error converting expression to data type int.");
        return false;
    }
    return true;
}

void fnDateadd(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL || sqlite3_value_type(a[2]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string name = text(a[0]);
    int64_t n = 0;
    if (!addend(ctx, a[1], n)) return;
    DateValue v;
    if (!readDate(ctx, a[2], text(a[3]), v)) return;
    Part part = partOf(name);
    if (part == Part::TzOffset || part == Part::IsoWeek || !partAllowed(ctx, name, part, v, "dateadd")) {
        if (part == Part::TzOffset || part == Part::IsoWeek)
            raise(ctx, 9810, 16, "The datepart " + name + " is not supported by date function dateadd for data type " + v.type + ".");
        return;
    }
    auto overflow = [&] { raise(ctx, 517, 16, "Adding a value to a '" + v.type + "' column caused an overflow."); };
    int64_t months = 0, ticks = 0;
    switch (part) {
    case Part::Year: months = n * 12; break;
    case Part::Quarter: months = n * 3; break;
    case Part::Month: months = n; break;
    case Part::DayOfYear: case Part::Day: case Part::Weekday: ticks = n * kTicksPerDay; break;
    case Part::Week: ticks = n * 7 * kTicksPerDay; break;
    case Part::Hour: ticks = n * 3600 * kTicksPerSecond; break;
    case Part::Minute: ticks = n * 60 * kTicksPerSecond; break;
    case Part::Second: ticks = n * kTicksPerSecond; break;
    case Part::Millisecond: ticks = n * 10000; break;
    case Part::Microsecond: ticks = n * 10; break;
    case Part::Nanosecond: ticks = (n >= 0 ? n + 50 : n - 50) / 100; break;
    default: break;
    }
    if (months != 0) {
        // The day stays, or becomes the last day of a shorter month.
        int y, m, d;
        civilFromDays(v.p.days, y, m, d);
        int64_t total = int64_t(y) * 12 + (m - 1) + months;
        int64_t ny = total >= 0 ? total / 12 : (total - 11) / 12;
        int nm = int(total - ny * 12) + 1;
        if (ny < 1 || ny > 9999) { overflow(); return; }
        v.p.days = daysFromCivil(ny, unsigned(nm), unsigned(std::min(d, daysInMonth(int(ny), nm))));
    }
    if (v.type == "time") {
        // A time wraps around midnight.
        v.p.ticks = ((v.p.ticks + ticks) % kTicksPerDay + kTicksPerDay) % kTicksPerDay;
    } else {
        int64_t total = v.p.days * kTicksPerDay + v.p.ticks + ticks;
        v.p.days = total >= 0 ? total / kTicksPerDay : (total - kTicksPerDay + 1) / kTicksPerDay;
        v.p.ticks = total - v.p.days * kTicksPerDay;
    }
    int y, m, d;
    civilFromDays(v.p.days, y, m, d);
    int minYear = v.type == "datetime" ? 1753 : 1;
    if (y < minYear || y > 9999) { overflow(); return; }
    resultText(ctx, formatDate(v));
}

// Floor division, for counting boundaries before 1970.
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

void fnDatediff(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL || sqlite3_value_type(a[2]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string name = text(a[0]);
    Part part = partOf(name);
    // DATEDIFF_BIG (user data set) counts in bigint, DATEDIFF in int.
    const bool big = sqlite3_user_data(ctx) != nullptr;
    const std::string function = big ? "datediff_big" : "datediff";
    DateValue s, e;
    if (!readDate(ctx, a[1], "", s) || !readDate(ctx, a[2], "", e)) return;
    if (part == Part::TzOffset || part == Part::IsoWeek) {
        raise(ctx, 9810, 16, "The datepart " + name + " is not supported by date function " + function + " for data type " + s.type + ".");
        return;
    }
    // Offsets count: both instants are compared in UTC.
    auto instant = [](const DateValue &v) { return v.p.days * kTicksPerDay + v.p.ticks - int64_t(v.p.offset) * 60 * kTicksPerSecond; };
    int64_t ts = instant(s), te = instant(e);
    int64_t ds = floorDiv(ts, kTicksPerDay), de = floorDiv(te, kTicksPerDay);
    int ys, ms, dd1, ye, me, dd2;
    civilFromDays(ds, ys, ms, dd1);
    civilFromDays(de, ye, me, dd2);
    __int128 r = 0;
    auto unit = [&](int64_t u) { return __int128(floorDiv(te, u)) - floorDiv(ts, u); };
    switch (part) {
    case Part::Year: r = ye - ys; break;
    case Part::Quarter: r = (ye * 4 + (me - 1) / 3) - (ys * 4 + (ms - 1) / 3); break;
    case Part::Month: r = (ye * 12 + me) - (ys * 12 + ms); break;
    case Part::DayOfYear: case Part::Day: case Part::Weekday: r = de - ds; break;
    // Weeks turn on Sunday whatever DATEFIRST says (1970-01-04 was a Sunday).
    case Part::Week: r = floorDiv(de - 3, 7) - floorDiv(ds - 3, 7); break;
    case Part::Hour: r = unit(3600 * kTicksPerSecond); break;
    case Part::Minute: r = unit(60 * kTicksPerSecond); break;
    case Part::Second: r = unit(kTicksPerSecond); break;
    case Part::Millisecond: r = unit(10000); break;
    case Part::Microsecond: r = unit(10); break;
    case Part::Nanosecond: r = (__int128(te) - ts) * 100; break;
    default: break;
    }
    const __int128 lo = big ? __int128(INT64_MIN) : INT_MIN, hi = big ? __int128(INT64_MAX) : INT_MAX;
    if (r < lo || r > hi) {
        raise(ctx, 535, 16, "The " + function + " function resulted in an overflow. The number of dateparts separating two "
                            "date/time instances is too large. Try to use " + function + " with a less precise datepart.");
        return;
    }
    sqlite3_result_int64(ctx, int64_t(r));
}

// EOMONTH(date [, months]): the last day of the month, as a date.
void fnEomonth(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    int64_t n = 0;
    if (!addend(ctx, a[1], n)) return;
    DateValue v;
    if (!readDate(ctx, a[0], "", v)) return;
    if (v.type == "time") {
        raise(ctx, 8116, 16, "Argument data type time is invalid for argument 1 of EOMONTH function.");
        return;
    }
    int y, m, d;
    civilFromDays(v.p.days, y, m, d);
    int64_t total = int64_t(y) * 12 + (m - 1) + n;
    int64_t ny = total >= 0 ? total / 12 : (total - 11) / 12;
    int nm = int(total - ny * 12) + 1;
    if (ny < 1 || ny > 9999) {
        raise(ctx, 517, 16, "Adding a value to a 'date' column caused an overflow.");
        return;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", int(ny), nm, daysInMonth(int(ny), nm));
    resultText(ctx, buf);
}

// ---------------------------------------------------------------- PATINDEX

// UTF-8 code points, so that positions count characters.
std::vector<char32_t> codePoints(const std::string &s)
{
    std::vector<char32_t> out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (int k = 1; k < n && i + size_t(k) < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
        out.push_back(cp);
        i += size_t(n);
    }
    return out;
}

char32_t fold(char32_t c) { return c < 128 ? char32_t(std::tolower(int(c))) : c; }

// One element of a LIKE pattern: a character, _ or a [set].
struct PatternItem {
    enum Kind { Char, Any, Set, Many } kind = Char;
    char32_t ch = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
    bool matches(char32_t c) const
    {
        if (kind == Any) return true;
        if (kind == Char) return fold(ch) == fold(c);
        bool in = false;
        for (const auto &r : ranges)
            if (fold(c) >= fold(r.first) && fold(c) <= fold(r.second)) in = true;
        return in != negated;
    }
};

std::vector<PatternItem> compilePattern(const std::vector<char32_t> &p)
{
    std::vector<PatternItem> out;
    for (size_t i = 0; i < p.size(); ++i) {
        PatternItem it;
        if (p[i] == '%') it.kind = PatternItem::Many;
        else if (p[i] == '_') it.kind = PatternItem::Any;
        else if (p[i] == '[') {
            size_t close = i + 1;
            if (close < p.size() && p[close] == '^') ++close;
            if (close < p.size()) ++close; // a ']' right after '[' or '[^' is a member
            while (close < p.size() && p[close] != ']') ++close;
            if (close >= p.size()) { it.ch = p[i]; out.push_back(it); continue; } // no ']': a plain '['
            it.kind = PatternItem::Set;
            size_t k = i + 1;
            if (p[k] == '^') { it.negated = true; ++k; }
            for (; k < close; ++k) {
                if (k + 2 < close && p[k + 1] == '-') { it.ranges.push_back({p[k], p[k + 2]}); k += 2; }
                else it.ranges.push_back({p[k], p[k]});
            }
            i = close;
        } else it.ch = p[i];
        out.push_back(it);
    }
    return out;
}

// Whether pattern items [pi..] match text [ti..] completely.
bool matchFrom(const std::vector<PatternItem> &pat, size_t pi, const std::vector<char32_t> &s, size_t ti)
{
    for (; pi < pat.size(); ++pi) {
        if (pat[pi].kind == PatternItem::Many) {
            while (pi + 1 < pat.size() && pat[pi + 1].kind == PatternItem::Many) ++pi;
            if (pi + 1 == pat.size()) return true;
            for (size_t k = ti; k <= s.size(); ++k)
                if (matchFrom(pat, pi + 1, s, k)) return true;
            return false;
        }
        if (ti >= s.size() || !pat[pi].matches(s[ti])) return false;
        ++ti;
    }
    return ti == s.size();
}

// PATINDEX('%pattern%', text): the 1-based position where the pattern's first
// fixed part starts, 0 when the text does not match. Case is ignored as the
// server's CI collation does.
void fnPatindex(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::vector<PatternItem> pat = compilePattern(codePoints(text(a[0])));
    std::vector<char32_t> s = codePoints(text(a[1]));
    // The pattern matches the whole text; with a leading % the match may start anywhere.
    if (pat.empty() || pat[0].kind != PatternItem::Many) {
        sqlite3_result_int64(ctx, matchFrom(pat, 0, s, 0) ? 1 : 0);
        return;
    }
    size_t first = 0;
    while (first < pat.size() && pat[first].kind == PatternItem::Many) ++first;
    if (first == pat.size()) { sqlite3_result_int64(ctx, s.empty() ? 0 : 1); return; }
    for (size_t k = 0; k < s.size(); ++k) {
        if (matchFrom(pat, first, s, k)) { sqlite3_result_int64(ctx, int64_t(k) + 1); return; }
    }
    sqlite3_result_int64(ctx, 0);
}

// ---------------------------------------------------------------- STRING_AGG

// Compares two ORDER BY values as SQLite orders them: NULL, numbers, text
// (case ignored, as the server's CI collation does), blobs.
int compareKeys(sqlite3_value *x, sqlite3_value *y)
{
    auto rank = [](int t) { return t == SQLITE_NULL ? 0 : t == SQLITE_INTEGER || t == SQLITE_FLOAT ? 1 : t == SQLITE_TEXT ? 2 : 3; };
    int tx = sqlite3_value_type(x), ty = sqlite3_value_type(y);
    if (rank(tx) != rank(ty)) return rank(tx) < rank(ty) ? -1 : 1;
    if (rank(tx) == 1) {
        if (tx == SQLITE_INTEGER && ty == SQLITE_INTEGER) {
            sqlite3_int64 a = sqlite3_value_int64(x), b = sqlite3_value_int64(y);
            return a < b ? -1 : a > b;
        }
        double a = sqlite3_value_double(x), b = sqlite3_value_double(y);
        return a < b ? -1 : a > b;
    }
    if (rank(tx) == 2) {
        int c = sqlite3_stricmp(reinterpret_cast<const char *>(sqlite3_value_text(x)), reinterpret_cast<const char *>(sqlite3_value_text(y)));
        return c < 0 ? -1 : c > 0;
    }
    if (rank(tx) == 3) {
        int nx = sqlite3_value_bytes(x), ny = sqlite3_value_bytes(y);
        int c = std::memcmp(sqlite3_value_blob(x), sqlite3_value_blob(y), size_t(std::min(nx, ny)));
        return c != 0 ? (c < 0 ? -1 : 1) : (nx < ny ? -1 : nx > ny);
    }
    return 0;
}

struct AggRow {
    std::string value;
    std::string separator;
    std::vector<sqlite3_value *> keys;
};

struct AggState {
    std::vector<AggRow> rows;
    std::vector<int> directions; // 1 ascending, -1 descending
};

// dv_string_agg(value, separator [, key, direction]...): the rows' keys are
// copied so that the final step can order them (WITHIN GROUP (ORDER BY ...)).
void stringAggStep(sqlite3_context *ctx, int n, sqlite3_value **a)
{
    auto **slot = static_cast<AggState **>(sqlite3_aggregate_context(ctx, sizeof(AggState *)));
    if (!slot) { sqlite3_result_error_nomem(ctx); return; }
    if (!*slot) *slot = new AggState;
    AggState &st = **slot;
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return; // NULLs and their separators are left out
    AggRow row;
    if (sqlite3_value_type(a[0]) == SQLITE_FLOAT) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", sqlite3_value_double(a[0]));
        row.value = buf;
    } else {
        row.value = text(a[0]);
    }
    row.separator = sqlite3_value_type(a[1]) == SQLITE_NULL ? std::string() : text(a[1]);
    if (st.directions.empty())
        for (int k = 2; k + 1 < n; k += 2) st.directions.push_back(sqlite3_value_int(a[k + 1]));
    for (int k = 2; k + 1 < n; k += 2) row.keys.push_back(sqlite3_value_dup(a[k]));
    st.rows.push_back(std::move(row));
}

void stringAggFinal(sqlite3_context *ctx)
{
    auto **slot = static_cast<AggState **>(sqlite3_aggregate_context(ctx, 0));
    if (!slot || !*slot) { sqlite3_result_null(ctx); return; }
    AggState *st = *slot;
    std::stable_sort(st->rows.begin(), st->rows.end(), [&](const AggRow &x, const AggRow &y) {
        for (size_t k = 0; k < st->directions.size(); ++k) {
            int c = compareKeys(x.keys[k], y.keys[k]) * (st->directions[k] < 0 ? -1 : 1);
            if (c != 0) return c < 0;
        }
        return false;
    });
    std::string out;
    for (size_t k = 0; k < st->rows.size(); ++k) {
        if (k) out += st->rows[k].separator;
        out += st->rows[k].value;
    }
    bool any = !st->rows.empty();
    for (auto &r : st->rows)
        for (auto *v : r.keys) sqlite3_value_free(v);
    delete st;
    *slot = nullptr;
    if (any) resultText(ctx, out);
    else sqlite3_result_null(ctx);
}

// ---------------------------------------------------------------- TRY_CAST

bool isConversionError(int number)
{
    // Conversion failed (245, 241, 8169, 8114), arithmetic overflow (8115, 232, 220), truncation (8152 is not raised by CAST).
    return number == 245 || number == 241 || number == 242 || number == 8114 || number == 8115 || number == 8169
        || number == 220 || number == 232 || number == 248 || number == 293 || number == 295;
}

const char *sourceTypeName(int t) { return t == SQLITE_INTEGER ? "int" : t == SQLITE_FLOAT ? "float" : "varchar"; }

// dv_try_cast(value, type, length, precision, scale): CAST's result, or NULL
// where CAST fails to convert the value. A conversion that is not allowed for
// the types involved still raises 529, as it does on SQL Server.
void fnTryCast(sqlite3_context *ctx, int, sqlite3_value **a)
{
    std::string type = text(a[1]);
    int vt = sqlite3_value_type(a[0]);
    if (vt == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    bool dateOnly = type == "date" || type == "time" || type == "datetime2" || type == "datetimeoffset";
    if ((vt == SQLITE_INTEGER || vt == SQLITE_FLOAT) && (dateOnly || type == "uniqueidentifier")) {
        raise(ctx, 529, 16, std::string("Explicit conversion from data type ") + sourceTypeName(vt) + " to " + type + " is not allowed.");
        return;
    }
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT dv_cast(?1, ?2, ?3, ?4, ?5)", -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_result_error(ctx, sqlite3_errmsg(db), -1);
        sqlite3_finalize(st);
        return;
    }
    for (int k = 0; k < 5; ++k) sqlite3_bind_value(st, k + 1, a[k]);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        sqlite3_result_value(ctx, sqlite3_column_value(st, 0));
    } else {
        std::string msg = sqlite3_errmsg(db), errText;
        int number = 0, severity = 0;
        const bool decoded = decodeError(msg, number, severity, errText);
        // A path that does not parse (6522 around 24001) makes TRY_CAST to hierarchyid NULL too.
        if (decoded && (isConversionError(number) || (number == 6522 && type == "hierarchyid"))) sqlite3_result_null(ctx);
        else sqlite3_result_error(ctx, msg.c_str(), int(msg.size()));
    }
    sqlite3_finalize(st);
}

} // namespace

std::string dateTypeOfText(const std::string &text, int &scale)
{
    DateValue v;
    if (!parseDateTimeParts(text, v.p, true)) return std::string();
    if (v.p.hasOffset) { scale = fractionDigits(text); return "datetimeoffset"; }
    if (!v.p.hasTime) { scale = 0; return "date"; }
    scale = fractionDigits(text);
    if (!v.p.hasDate) return "time";
    if (scale == 3 || text.find('.') == std::string::npos) { scale = 3; return "datetime"; }
    return "datetime2";
}

void registerBuiltinFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_dateadd", 4, det, nullptr, fnDateadd, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datediff", 3, det, nullptr, fnDatediff, nullptr, nullptr);
    static int bigFlag = 1;
    sqlite3_create_function(db, "dv_datediff_big", 3, det, &bigFlag, fnDatediff, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datepart", 4, det, nullptr, fnDatepart, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datename", 5, det, nullptr, fnDatename, nullptr, nullptr);
    sqlite3_create_function(db, "dv_eomonth", 2, det, nullptr, fnEomonth, nullptr, nullptr);
    sqlite3_create_function(db, "dv_patindex", 2, det, nullptr, fnPatindex, nullptr, nullptr);
    sqlite3_create_function(db, "dv_try_cast", 5, det, nullptr, fnTryCast, nullptr, nullptr);
    sqlite3_create_function(db, "dv_string_agg", -1, SQLITE_UTF8, nullptr, nullptr, stringAggStep, stringAggFinal);
    registerFormatFunction(db);
}

} // namespace ts
