#include "engine/enginefunctions.h"
#include "engine/datetext.h"

#include "engine/catalog.h"
#include "base/civildays.h"
#include "engine/engine.h"
#include "engine/enginenumbers.h"
#include "engine/functions.h"
#include "base/textcollation.h"
#include "base/xmlvalue.h"
#include "engine/functions_xml.h"
#include "engine/enginevariant.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ts {

std::string encodeError(int number, int severity, const std::string &text)
{
    return "\x01" "DV|" + std::to_string(number) + "|" + std::to_string(severity) + "|" + text;
}

bool decodeError(const std::string &m, int &number, int &severity, std::string &text)
{
    if (m.compare(0, 4, "\x01" "DV|") != 0) return false;
    size_t a = m.find('|', 4);
    size_t b = a == std::string::npos ? a : m.find('|', a + 1);
    if (b == std::string::npos) return false;
    number = std::atoi(m.c_str() + 4);
    severity = std::atoi(m.c_str() + a + 1);
    text = m.substr(b + 1);
    return true;
}

static void raise(sqlite3_context *ctx, int number, int severity, const std::string &text)
{
    std::string e = encodeError(number, severity, text);
    sqlite3_result_error(ctx, e.c_str(), int(e.size()));
}

static std::string text(sqlite3_value *v)
{
    const unsigned char *p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
}

static bool parseInteger(const std::string &s, long long &out)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    if (b == std::string::npos) { out = 0; return true; } // '' converts to 0
    std::string t = s.substr(b, e - b + 1);
    char *end = nullptr;
    errno = 0;
    out = std::strtoll(t.c_str(), &end, 10);
    return end && *end == '\0' && errno == 0;
}

static bool parseNumber(const std::string &s, double &out)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    if (b == std::string::npos) return false;
    std::string t = s.substr(b, e - b + 1);
    char *end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == '\0';
}

static size_t utf8Length(const std::string &s)
{
    size_t n = 0;
    for (unsigned char c : s) if ((c & 0xC0) != 0x80) ++n;
    return n;
}

static std::string utf8Prefix(const std::string &s, size_t chars)
{
    size_t n = 0, i = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == chars) break;
            ++n;
        }
    }
    return s.substr(0, i);
}

// Defined after the parser it uses (below).
namespace {

const int64_t kTicksPerDay = 864000000000LL; // 100 ns units

// A point in time parsed from text: days (civil), 100 ns of the day, offset minutes.
struct Temporal {
    bool hasDate = false, hasTime = false, hasOffset = false;
    int64_t days = 0;
    int64_t ticks = 0;
    int offset = 0;
};

bool readInt(const std::string &s, size_t &p, size_t minDigits, size_t maxDigits, int &out)
{
    size_t start = p;
    int v = 0;
    while (p < s.size() && p - start < maxDigits && s[p] >= '0' && s[p] <= '9') v = v * 10 + (s[p++] - '0');
    out = v;
    return p - start >= minDigits;
}

// The time's "AM"/"PM" at s[p...] applied to hour h (1..12 then); false for an hour past 12.
bool readMeridiem(const std::string &s, size_t &p, int &h)
{
    size_t q = p;
    while (q < s.size() && s[q] == ' ') ++q;
    if (q + 1 >= s.size() || (s[q + 1] != 'M' && s[q + 1] != 'm')) return true;
    const char c = char(s[q] | 0x20);
    if (c != 'a' && c != 'p') return true;
    if (h > 12) return false;
    if (h == 12) h = 0;
    if (c == 'p') h += 12;
    p = q + 2;
    return true;
}

// The fraction of a second at s[p...] after '.' (digits of a fraction) or ':'
// (milliseconds), in 100 ns ticks.
bool readFraction(const std::string &s, size_t &p, int64_t &frac)
{
    if (p >= s.size() || (s[p] != '.' && s[p] != ':')) return true;
    if (s[p++] == ':') {
        int ms = 0;
        if (!readInt(s, p, 1, 3, ms)) return false;
        frac = int64_t(ms) * 10000;
        return true;
    }
    int digits = 0;
    bool roundUp = false;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        if (digits < 7) { frac = frac * 10 + (s[p] - '0'); ++digits; }
        else if (digits == 7) { roundUp = s[p] >= '5'; ++digits; }
        ++p;
    }
    for (int k = std::min(digits, 7); k < 7; ++k) frac *= 10;
    if (roundUp) ++frac;
    return true;
}

// The date at the start of s: YYYY-MM-DD and YYYYMMDD always; with `order`
// (text a statement converts, not stored values) also the session's numeric
// orders and month names.
bool readDate(const std::string &s, size_t &p, const std::string *order, int &y, int &mo, int &d)
{
    const size_t save = p;
    if (readInt(s, p, 4, 4, y) && p < s.size() && s[p] == '-') {
        ++p;
        return readInt(s, p, 1, 2, mo) && p < s.size() && s[p++] == '-' && readInt(s, p, 1, 2, d);
    }
    p = save;
    if (readInt(s, p, 8, 8, y) && (p == s.size() || s[p] == ' ' || s[p] == 'T')) {
        mo = y / 100 % 100;
        d = y % 100;
        y /= 10000;
        return true;
    }
    p = save;
    return order && readLooseDate(s, p, *order, y, mo, d);
}

// "[date][ |T][time][ ][offset]" with date YYYY-MM-DD or YYYYMMDD (and those
// readDate reads with `order`), time HH:MM[:SS[.fraction]][AM|PM], offset +hh:mm, -hh:mm or Z.
bool parseTemporal(const std::string &in, Temporal &t, const std::string *order = nullptr)
{
    std::string s = in;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    size_t p = 0;
    while (p < s.size() && s[p] == ' ') ++p;
    size_t save = p;
    int y = 0, mo = 0, d = 0;
    if (readDate(s, p, order, y, mo, d)) t.hasDate = true;
    else if (p != save) return false;
    if (t.hasDate) {
        static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > mdays[mo - 1] + (mo == 2 && leap ? 1 : 0)) return false;
        t.days = daysFromCivil(y, unsigned(mo), unsigned(d));
        if (p < s.size() && (s[p] == ' ' || s[p] == 'T')) ++p;
        while (p < s.size() && s[p] == ' ') ++p;
    }
    save = p;
    int h = 0, mi = 0, se = 0;
    if (readInt(s, p, 1, 2, h) && p < s.size() && s[p] == ':') {
        ++p;
        if (!readInt(s, p, 2, 2, mi)) return false;
        int64_t frac = 0;
        if (p < s.size() && s[p] == ':') {
            ++p;
            if (!readInt(s, p, 2, 2, se) || !readFraction(s, p, frac)) return false;
        }
        if (!readMeridiem(s, p, h) || h > 23 || mi > 59 || se > 59) return false;
        t.ticks = ((int64_t(h) * 60 + mi) * 60 + se) * 10000000LL + frac;
        t.hasTime = true;
    } else {
        p = save;
    }
    while (p < s.size() && s[p] == ' ') ++p;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
        int sign = s[p++] == '-' ? -1 : 1;
        int oh = 0, om = 0;
        if (!readInt(s, p, 2, 2, oh) || p >= s.size() || s[p] != ':') return false;
        ++p;
        if (!readInt(s, p, 2, 2, om) || oh > 14 || om > 59 || oh * 60 + om > 840) return false;
        t.offset = sign * (oh * 60 + om);
        t.hasOffset = true;
    } else if (p < s.size() && s[p] == 'Z') {
        ++p;
        t.hasOffset = true;
    }
    return p == s.size() && (t.hasDate || t.hasTime);
}

std::string formatTemporal(const Temporal &t, const std::string &type, int scale)
{
    int64_t days = t.days, ticks = t.ticks;
    int64_t unit = 1;
    for (int k = scale; k < 7; ++k) unit *= 10;
    ticks = (ticks + unit / 2) / unit * unit; // round half up to the scale
    if (ticks >= kTicksPerDay) { ticks -= kTicksPerDay; if (type != "time") ++days; }
    char buf[64];
    int64_t secs = ticks / 10000000;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(secs / 3600), int(secs / 60 % 60), int(secs % 60));
    std::string time = buf;
    if (scale > 0) {
        std::snprintf(buf, sizeof buf, "%07lld", static_cast<long long>(ticks % 10000000));
        time += "." + std::string(buf, size_t(scale));
    }
    if (type == "time") return time;
    int y, m, d;
    civilFromDays(days, y, m, d);
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d ", y, m, d);
    std::string out = buf + time;
    if (type == "datetimeoffset") {
        int o = t.offset < 0 ? -t.offset : t.offset;
        std::snprintf(buf, sizeof buf, " %c%02d:%02d", t.offset < 0 ? '-' : '+', o / 60, o % 60);
        out += buf;
    }
    return out;
}

const int64_t kDay1900 = daysFromCivil(1900, 1, 1);

// The instant a text denotes, as a comparable key (UTC for offsets; a time
// alone falls on 1900-01-01 as when SQL Server converts it).
bool temporalKey(const char *p, int n, std::string &key)
{
    if (n <= 0 || n > 64 || !((p[0] >= '0' && p[0] <= '9') || p[0] == ' ')) return false;
    Temporal t;
    if (!parseTemporal(std::string(p, size_t(n)), t)) return false;
    if (!t.hasDate) t.days = kDay1900;
    int64_t total = t.days * kTicksPerDay + t.ticks - int64_t(t.offset) * 600000000LL;
    Temporal u;
    u.days = total >= 0 ? total / kTicksPerDay : (total - kTicksPerDay + 1) / kTicksPerDay;
    u.ticks = total - u.days * kTicksPerDay;
    key = formatTemporal(u, "datetime2", 7);
    return true;
}

int compareTime(void *, int na, const void *a, int nb, const void *b)
{
    std::string ka, kb;
    const char *pa = static_cast<const char *>(a), *pb = static_cast<const char *>(b);
    if (temporalKey(pa, na, ka) && temporalKey(pb, nb, kb)) return ka.compare(kb) < 0 ? -1 : ka == kb ? 0 : 1;
    int c = std::memcmp(pa, pb, size_t(std::min(na, nb)));
    return c != 0 ? c : na - nb;
}

} // namespace

int compareTimeText(void *, int na, const void *a, int nb, const void *b)
{
    return compareTime(nullptr, na, a, nb, b);
}

bool parseDateTimeParts(const std::string &in, DateTimeParts &out, bool storedForm)
{
    Temporal t;
    if (!parseTemporal(in, t, storedForm ? nullptr : &currentDateOrder())) return false;
    out.hasDate = t.hasDate;
    out.hasTime = t.hasTime;
    out.hasOffset = t.hasOffset;
    out.days = t.days;
    out.ticks = t.ticks;
    out.offset = t.offset;
    return true;
}

std::string formatDateTimeParts(const DateTimeParts &v, const std::string &type, int scale)
{
    Temporal t;
    t.days = v.days;
    t.ticks = v.ticks;
    t.offset = v.offset;
    return formatTemporal(t, type, scale);
}

bool normaliseTemporal(const std::string &in, const std::string &type, int scale, std::string &out)
{
    Temporal t;
    if (!parseTemporal(in, t, &currentDateOrder())) return false;
    if (type == "time") {
        if (!t.hasTime && t.hasDate) t.ticks = 0;
    } else if (!t.hasDate) {
        t.days = kDay1900;
    }
    if (type == "datetime2" && t.hasOffset) t.offset = 0; // the offset is dropped
    out = formatTemporal(t, type, scale < 0 || scale > 7 ? 7 : scale);
    return true;
}

// datetime: from 1753 on, milliseconds, no offset; a time alone falls on 1900-01-01.
bool normaliseDateTime(const std::string &in, std::string &out)
{
    Temporal t;
    if (!parseTemporal(in, t, &currentDateOrder()) || t.hasOffset) return false;
    if (!t.hasDate) t.days = kDay1900;
    int y, mo, d;
    civilFromDays(t.days, y, mo, d);
    if (y < 1753) return false;
    const int64_t secs = t.ticks / 10000000;
    const int ms = int(std::min<int64_t>(999, (t.ticks % 10000000 + 5000) / 10000));
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, int(secs / 3600), int(secs / 60 % 60),
                  int(secs % 60), ms);
    out = buf;
    return true;
}

// smalldatetime: to the minute (29.998 s and less down, 29.999 s and more up),
// 1900-01-01 through 2079-06-06 23:59; `outOfRange` tells a date outside from no date.
bool normaliseSmallDateTime(const std::string &in, std::string &out, bool &outOfRange)
{
    outOfRange = false;
    Temporal t;
    if (!parseTemporal(in, t, &currentDateOrder()) || t.hasOffset) return false;
    int64_t days = t.hasDate ? t.days : kDay1900;
    const int64_t ms = (t.ticks + 5000) / 10000;
    int64_t minutes = ms / 60000 + (ms % 60000 >= 29999 ? 1 : 0);
    if (minutes >= 24 * 60) { minutes -= 24 * 60; ++days; }
    int y, mo, d;
    civilFromDays(days, y, mo, d);
    const long ymd = long(y) * 10000 + mo * 100 + d;
    if (ymd < 19000101 || ymd > 20790606) { outOfRange = true; return false; }
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:00.000", y, mo, d, int(minutes / 60), int(minutes % 60));
    out = buf;
    return true;
}

// SQL Server orders uniqueidentifiers by their stored bytes from the last
// group to the first: bytes 10-15, then 8-9, then the first three groups
// (stored little-endian, so their last byte counts first).
int compareGuidText(void *, int na, const void *a, int nb, const void *b)
{
    std::string ga, gb;
    const char *pa = static_cast<const char *>(a), *pb = static_cast<const char *>(b);
    if (parseGuid(std::string(pa, size_t(na)), ga) && parseGuid(std::string(pb, size_t(nb)), gb)) {
        static const int byteOrder[16] = {10, 11, 12, 13, 14, 15, 8, 9, 7, 6, 5, 4, 3, 2, 1, 0};
        static const int textPos[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
        for (int k : byteOrder) {
            int c = ga.compare(size_t(textPos[k]), 2, gb, size_t(textPos[k]), 2);
            if (c != 0) return c < 0 ? -1 : 1;
        }
        return 0;
    }
    int c = std::memcmp(pa, pb, size_t(std::min(na, nb)));
    return c != 0 ? c : na - nb;
}

static const char *sourceTypeName(sqlite3_value *v)
{
    return sqlite3_value_type(v) == SQLITE_TEXT ? "varchar" : "varbinary";
}

static bool toInteger(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, bool storeResult)
{
    const int vt = sqlite3_value_type(v);
    long long x = 0;
    if (vt == SQLITE_INTEGER) x = sqlite3_value_int64(v);
    else if (vt == SQLITE_FLOAT) x = static_cast<long long>(sqlite3_value_double(v));
    else {
        std::string s = text(v);
        if (!parseInteger(s, x)) {
            raise(ctx, 245, 16, "Conversion failed when converting the " + std::string(sourceTypeName(v))
                  + " value '" + s + "' to data type " + type + ".");
            return false;
        }
    }
    if (type == "bit") x = x != 0;
    long long lo = type == "int" ? -2147483648LL : type == "smallint" ? -32768 : type == "tinyint" ? 0 : LLONG_MIN;
    long long hi = type == "int" ? 2147483647LL : type == "smallint" ? 32767 : type == "tinyint" ? 255 : LLONG_MAX;
    if (x < lo || x > hi) {
        raise(ctx, 8115, 16, "Arithmetic overflow error converting expression to data type " + type + ".");
        return false;
    }
    if (storeResult) sqlite3_result_int64(ctx, x);
    return true;
}

// date, datetime, and datetime2, time and datetimeoffset with their fraction digits: from text only.
static bool toDateOrTime(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, int scale, bool storeResult)
{
    std::string out;
    bool valid = sqlite3_value_type(v) == SQLITE_TEXT;
    if (valid && isTemporalType(type)) valid = normaliseTemporal(text(v), type, scale, out);
    else if (valid && type == "date") {
        // A date runs from 0001-01-01, where datetime starts in 1753.
        valid = normaliseTemporal(text(v), "datetime2", 0, out);
        out = out.substr(0, 10);
    } else if (valid && type == "smalldatetime") {
        bool outOfRange = false;
        valid = normaliseSmallDateTime(text(v), out, outOfRange);
        if (outOfRange) {
            raise(ctx, 242, 16, std::string("The conversion of a ") + sourceTypeName(v)
                  + " data type to a smalldatetime data type resulted in an out-of-range value.");
            return false;
        }
    } else if (valid) {
        valid = normaliseDateTime(text(v), out);
        if (valid && type == "date") out = out.substr(0, 10);
    }
    if (!valid) {
        raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
        return false;
    }
    if (storeResult) sqlite3_result_text(ctx, out.c_str(), int(out.size()), SQLITE_TRANSIENT);
    return true;
}

static bool toGuid(sqlite3_context *ctx, sqlite3_value *v, bool storeResult)
{
    const int vt = sqlite3_value_type(v);
    std::string out;
    if (vt == SQLITE_BLOB && sqlite3_value_bytes(v) == 16) {
        // binary(16) in the stored (mixed-endian) byte order
        const unsigned char *p = static_cast<const unsigned char *>(sqlite3_value_blob(v));
        char buf[40];
        std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                      p[3], p[2], p[1], p[0], p[5], p[4], p[7], p[6], p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
        out = buf;
    } else {
        // Longer text is cut to the 36 characters a uniqueidentifier has, as SQL Server does.
        std::string s = text(v);
        if (vt != SQLITE_TEXT || !parseGuid(s.size() > 36 && s[0] != '{' ? s.substr(0, 36) : s, out)) {
            raise(ctx, 8169, 16, "Conversion failed when converting from a character string to uniqueidentifier.");
            return false;
        }
    }
    if (storeResult) sqlite3_result_text(ctx, out.c_str(), int(out.size()), SQLITE_TRANSIENT);
    return true;
}

// Binary and character types keep at most `length` bytes or characters (0: any);
// the fixed-length ones (binary, char, nchar) are padded to it, with 0x00 or blanks.
static void toBinary(sqlite3_context *ctx, sqlite3_value *v, int length, bool fixed)
{
    std::string b(reinterpret_cast<const char *>(sqlite3_value_blob(v)), size_t(sqlite3_value_bytes(v)));
    if (length > 0 && b.size() > size_t(length)) b.resize(size_t(length));
    if (fixed && length > 0) b.resize(size_t(length), '\0');
    sqlite3_result_blob(ctx, b.data(), int(b.size()), SQLITE_TRANSIENT);
}

static void toText(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, int length)
{
    std::string s;
    if (sqlite3_value_type(v) == SQLITE_FLOAT) s = fn::floatText(sqlite3_value_double(v), 0);
    else s = text(v);
    if (length > 0 && utf8Length(s) > size_t(length)) s = utf8Prefix(s, size_t(length));
    if (length > 0 && (type == "char" || type == "nchar")) s = padText(s, size_t(length), type == "nchar");
    sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
}

// Converts for CAST/CONVERT; returns false after raising an error.
// Text or bytes become xml when they are well-formed.
static bool toXml(sqlite3_context *ctx, sqlite3_value *v, bool storeResult)
{
    XmlError e;
    std::string stored;
    if (!checkXml(text(v), &e, &stored)) {
        raise(ctx, e.number, 16, e.text);
        return false;
    }
    if (storeResult) sqlite3_result_text(ctx, stored.data(), int(stored.size()), SQLITE_TRANSIENT);
    return true;
}

static bool convertTo(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, int length, int prec,
                      int scale, bool storeResult)
{
    if (sqlite3_value_type(v) == SQLITE_NULL) { if (storeResult) sqlite3_result_null(ctx); return true; }
    if (type == "int" || type == "bigint" || type == "smallint" || type == "tinyint" || type == "bit")
        return toInteger(ctx, v, type, storeResult);
    if (type == "float" || type == "real" || type == "decimal" || type == "numeric" || type == "money" || type == "smallmoney")
        return convertNumber(ctx, v, type, prec, scale, storeResult);
    if (isTemporalType(type) || type == "datetime" || type == "smalldatetime" || type == "date")
        return toDateOrTime(ctx, v, type, scale, storeResult);
    if (type == "uniqueidentifier") return toGuid(ctx, v, storeResult);
    if (type == "xml") return toXml(ctx, v, storeResult);
    if (type == "hierarchyid") return storeResult ? convertToHierarchyId(ctx, v) : true;
    if (type == "geography" || type == "geometry") return storeResult ? convertToSpatial(ctx, v, type == "geography") : true;
    if (type == "sql_variant") return toVariant(ctx, v, storeResult);
    // These conversions cannot fail.
    if (!storeResult) return true;
    if (type == "varbinary" || type == "binary" || type == "timestamp") toBinary(ctx, v, length, type == "binary");
    else toText(ctx, v, type, length);
    return true;
}

static void fnCast(sqlite3_context *ctx, int, sqlite3_value **a)
{
    convertTo(ctx, a[0], text(a[1]), sqlite3_value_int(a[2]), sqlite3_value_int(a[3]), sqlite3_value_int(a[4]), true);
}

// CHECK constraint of a typed column: the stored value must be valid for the declared type.
static void fnCheck(sqlite3_context *ctx, int, sqlite3_value **a)
{
    sqlite3_value *v = a[0];
    std::string type = text(a[1]);
    int length = sqlite3_value_int(a[2]);
    int vt = sqlite3_value_type(v);
    if (vt == SQLITE_NULL) { sqlite3_result_int(ctx, 1); return; }
    bool isChar = type == "nvarchar" || type == "varchar" || type == "nchar" || type == "char";
    if (isChar) {
        if (length > 0 && utf8Length(text(v)) > size_t(length)) {
            raise(ctx, 8152, 16, "String or binary data would be truncated.");
            return;
        }
        sqlite3_result_int(ctx, 1);
        return;
    }
    if (type == "varbinary" || type == "binary") {
        if (length > 0 && sqlite3_value_bytes(v) > length) {
            raise(ctx, 8152, 16, "String or binary data would be truncated.");
            return;
        }
        sqlite3_result_int(ctx, 1);
        return;
    }
    if ((type == "datetime" || type == "date") && vt == SQLITE_TEXT) {
        std::string out;
        if (type == "date" ? !normaliseTemporal(text(v), "datetime2", 0, out) : !normaliseDateTime(text(v), out)) {
            raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
            return;
        }
        sqlite3_result_int(ctx, 1);
        return;
    }
    if (!convertTo(ctx, v, type, length, sqlite3_value_int(a[3]), sqlite3_value_int(a[4]), false)) return;
    sqlite3_result_int(ctx, 1);
}

static bool isNumeric(int t) { return t == SQLITE_INTEGER || t == SQLITE_FLOAT; }

// Converts a text operand of arithmetic to a number like SQL Server's implicit conversion.
static bool numericOperand(sqlite3_context *ctx, sqlite3_value *v, bool otherIsInt, long long &i, double &d, bool &isInt)
{
    int t = sqlite3_value_type(v);
    if (t == SQLITE_INTEGER) { i = sqlite3_value_int64(v); d = double(i); isInt = true; return true; }
    if (t == SQLITE_FLOAT) { d = sqlite3_value_double(v); isInt = false; return true; }
    std::string s = text(v);
    if (otherIsInt) {
        if (parseInteger(s, i)) { d = double(i); isInt = true; return true; }
        raise(ctx, 245, 16, "Conversion failed when converting the varchar value '" + s + "' to data type int.");
        return false;
    }
    if (parseNumber(s, d)) { isInt = false; return true; }
    raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    return false;
}

static void arith(sqlite3_context *ctx, sqlite3_value **a, char op)
{
    int ta = sqlite3_value_type(a[0]), tb = sqlite3_value_type(a[1]);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    if (op == '+' && !isNumeric(ta) && !isNumeric(tb)) {
        if (ta == SQLITE_BLOB && tb == SQLITE_BLOB) {
            std::string s(reinterpret_cast<const char *>(sqlite3_value_blob(a[0])), size_t(sqlite3_value_bytes(a[0])));
            s.append(reinterpret_cast<const char *>(sqlite3_value_blob(a[1])), size_t(sqlite3_value_bytes(a[1])));
            sqlite3_result_blob(ctx, s.data(), int(s.size()), SQLITE_TRANSIENT);
            return;
        }
        std::string s = text(a[0]) + text(a[1]);
        sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
        return;
    }
    long long ia = 0, ib = 0;
    double da = 0, db = 0;
    bool inta = false, intb = false;
    if (!numericOperand(ctx, a[0], tb == SQLITE_INTEGER, ia, da, inta)) return;
    if (!numericOperand(ctx, a[1], ta == SQLITE_INTEGER, ib, db, intb)) return;
    if ((op == '/' || op == '%') && ((intb && ib == 0) || (!intb && db == 0))) {
        raise(ctx, 8134, 16, "Divide by zero error encountered.");
        return;
    }
    if (inta && intb) {
        long long r = 0;
        switch (op) {
        case '+':
            if (__builtin_add_overflow(ia, ib, &r)) { raise(ctx, 8115, 16, "Arithmetic overflow error converting expression to data type bigint."); return; }
            break;
        case '/': r = ia / ib; break;
        case '%': r = ia % ib; break;
        }
        sqlite3_result_int64(ctx, r);
        return;
    }
    double r = op == '+' ? da + db : op == '/' ? da / db : std::fmod(da, db);
    sqlite3_result_double(ctx, r);
}

static void fnAdd(sqlite3_context *ctx, int, sqlite3_value **a) { arith(ctx, a, '+'); }
static void fnDiv(sqlite3_context *ctx, int, sqlite3_value **a) { arith(ctx, a, '/'); }
static void fnMod(sqlite3_context *ctx, int, sqlite3_value **a) { arith(ctx, a, '%'); }

static void fnGetdate(sqlite3_context *ctx, int, sqlite3_value **)
{
    std::string now = Catalog::now();
    sqlite3_result_text(ctx, now.c_str(), int(now.size()), SQLITE_TRANSIENT);
}

// NEWID(): a random (version 4) uniqueidentifier.
static void fnNewid(sqlite3_context *ctx, int, sqlite3_value **)
{
    unsigned char b[16];
    sqlite3_randomness(16, b);
    b[6] = uint8_t((b[6] & 0x0F) | 0x40);
    b[8] = uint8_t((b[8] & 0x3F) | 0x80);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

// The next value of the database's rowversion counter (@@DBTS + 1), kept in
// __dv_dbinfo so that it survives restarts and follows the writer's transaction.
static void fnNextts(sqlite3_context *ctx, int, sqlite3_value **)
{
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    sqlite3_stmt *st = nullptr;
    long long next = 2001; // a new database starts at 0x7D0
    if (sqlite3_prepare_v2(db, "SELECT value FROM main.__dv_dbinfo WHERE key = 'dbts'", -1, &st, nullptr) == SQLITE_OK
        && sqlite3_step(st) == SQLITE_ROW)
        next = sqlite3_column_int64(st, 0) + 1;
    sqlite3_finalize(st);
    st = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO main.__dv_dbinfo(key, value) VALUES ('dbts', ?1)", -1, &st, nullptr) != SQLITE_OK
        || (sqlite3_bind_int64(st, 1, next), sqlite3_step(st)) != SQLITE_DONE) {
        std::string e = sqlite3_errmsg(db);
        sqlite3_finalize(st);
        sqlite3_result_error(ctx, e.c_str(), -1);
        return;
    }
    sqlite3_finalize(st);
    unsigned char b[8];
    for (int k = 0; k < 8; ++k) b[k] = uint8_t(uint64_t(next) >> (8 * (7 - k)));
    sqlite3_result_blob(ctx, b, 8, SQLITE_TRANSIENT);
}

// @@DBTS: the last rowversion value the current database gave out.
static void fnDbts(sqlite3_context *ctx, int, sqlite3_value **)
{
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    sqlite3_stmt *st = nullptr;
    long long last = 2000;
    if (sqlite3_prepare_v2(db, "SELECT value FROM main.__dv_dbinfo WHERE key = 'dbts'", -1, &st, nullptr) == SQLITE_OK
        && sqlite3_step(st) == SQLITE_ROW)
        last = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    unsigned char b[8];
    for (int k = 0; k < 8; ++k) b[k] = uint8_t(uint64_t(last) >> (8 * (7 - k)));
    sqlite3_result_blob(ctx, b, 8, SQLITE_TRANSIENT);
}

static void fnLen(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string s = text(a[0]);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    sqlite3_result_int64(ctx, static_cast<long long>(utf8Length(s)));
}

static void fnDatalength(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    sqlite3_result_int64(ctx, sqlite3_value_bytes(a[0]));
}

// DATALENGTH of nvarchar text: two bytes per UTF-16 unit (four for a
// character beyond the BMP, a four-byte UTF-8 sequence).
static void fnDatalengthUnicode(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    if (sqlite3_value_type(a[0]) == SQLITE_BLOB) { sqlite3_result_int64(ctx, sqlite3_value_bytes(a[0])); return; }
    long long units = 0;
    for (unsigned char ch : text(a[0]))
        if ((ch & 0xC0) != 0x80) units += (ch & 0xF8) == 0xF0 ? 2 : 1;
    sqlite3_result_int64(ctx, units * 2);
}

static void fnRight(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string s = text(a[0]);
    long long n = sqlite3_value_int64(a[1]);
    size_t len = utf8Length(s);
    if (n < 0) { raise(ctx, 536, 16, "Invalid length parameter passed to the right function."); return; }
    std::string r = size_t(n) >= len ? s : s.substr(utf8Prefix(s, len - size_t(n)).size());
    sqlite3_result_text(ctx, r.c_str(), int(r.size()), SQLITE_TRANSIENT);
}

static void fnRaise(sqlite3_context *ctx, int, sqlite3_value **a)
{
    raise(ctx, sqlite3_value_int(a[0]), sqlite3_value_int(a[1]), text(a[2]));
}

static void fnKeytext(sqlite3_context *ctx, int n, sqlite3_value **a)
{
    std::string s;
    for (int k = 0; k < n; ++k) {
        if (k) s += ", ";
        s += sqlite3_value_type(a[k]) == SQLITE_NULL ? "<NULL>" : text(a[k]);
    }
    sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
}

static void fnObjname(sqlite3_context *ctx, int, sqlite3_value **a)
{
    std::string s = text(a[0]);
    size_t p = s.find_last_of('.');
    if (p != std::string::npos) s = s.substr(p + 1);
    if (s.size() >= 2 && ((s.front() == '[' && s.back() == ']') || (s.front() == '"' && s.back() == '"')))
        s = s.substr(1, s.size() - 2);
    sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
}

// dv_object_id(name, defaultSchema, type): OBJECT_ID() of the current
// database. The name may be [db.][schema.]object with [brackets] or "quotes";
// without a schema the default schema is tried first, then dbo.
static void fnObjectId(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string s = text(a[0]);
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '[' || c == '"') {
            char close = c == '[' ? ']' : '"';
            for (++i; i < s.size(); ++i) {
                if (s[i] == close) {
                    if (i + 1 < s.size() && s[i + 1] == close) { parts.back() += close; ++i; continue; }
                    break;
                }
                parts.back() += s[i];
            }
        } else if (c == '.') {
            parts.emplace_back();
        } else if (c != ' ' || !parts.back().empty()) {
            parts.back() += c;
        }
    }
    while (!parts.back().empty() && parts.back().back() == ' ') parts.back().pop_back();
    auto *currentDb = static_cast<const std::string *>(sqlite3_user_data(ctx));
    if (parts.size() > 3 || parts.back().empty()
        || (parts.size() == 3 && !parts[0].empty() && currentDb && sqlite3_stricmp(parts[0].c_str(), currentDb->c_str()) != 0)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::vector<std::string> owners;
    if (parts.size() >= 2 && !parts[parts.size() - 2].empty()) owners.push_back(parts[parts.size() - 2]);
    else { owners.push_back(text(a[1])); owners.push_back("dbo"); }
    std::string type = sqlite3_value_type(a[2]) == SQLITE_NULL ? "" : text(a[2]);
    while (!type.empty() && type.back() == ' ') type.pop_back();
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT object_id FROM main.__dv_objects WHERE schema_name = ?1 AND name = ?2 "
                               "AND (?3 = '' OR type = upper(?3))", -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        sqlite3_result_null(ctx);
        return;
    }
    for (const auto &o : owners) {
        sqlite3_reset(st);
        sqlite3_bind_text(st, 1, o.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, parts.back().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, type.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) {
            sqlite3_result_int64(ctx, sqlite3_column_int64(st, 0));
            sqlite3_finalize(st);
            return;
        }
    }
    sqlite3_finalize(st);
    sqlite3_result_null(ctx);
}

static void fnCatalog(sqlite3_context *ctx, int, sqlite3_value **)
{
    auto *db = static_cast<const std::string *>(sqlite3_user_data(ctx));
    sqlite3_result_text(ctx, db->c_str(), int(db->size()), SQLITE_TRANSIENT);
}

// AVG of integers is an integer in T-SQL (the sum divided by the count,
// truncated). The state holds no long double: SQLite's aggregate context is
// only 8-byte aligned.
struct AvgState { long long isum; double dsum; long long count; bool allInt; bool intOverflow; bool init; };

static void avgStep(sqlite3_context *ctx, int, sqlite3_value **a)
{
    auto *st = static_cast<AvgState *>(sqlite3_aggregate_context(ctx, sizeof(AvgState)));
    if (!st) return;
    if (!st->init) { st->init = true; st->allInt = true; }
    int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_NULL) return;
    if (t != SQLITE_INTEGER) st->allInt = false;
    else if (__builtin_add_overflow(st->isum, sqlite3_value_int64(a[0]), &st->isum)) st->intOverflow = true;
    st->dsum += sqlite3_value_double(a[0]);
    st->count++;
}

static void avgFinal(sqlite3_context *ctx)
{
    auto *st = static_cast<AvgState *>(sqlite3_aggregate_context(ctx, 0));
    if (!st || st->count == 0) { sqlite3_result_null(ctx); return; }
    if (st->allInt && !st->intOverflow) sqlite3_result_int64(ctx, st->isum / st->count);
    else if (st->allInt) sqlite3_result_int64(ctx, static_cast<long long>(st->dsum / double(st->count)));
    else sqlite3_result_double(ctx, st->dsum / double(st->count));
}

// dv_temporal(value, type, scale): the stored form of a datetime2/time/datetimeoffset value.
static void fnTemporal(sqlite3_context *ctx, int, sqlite3_value **a)
{
    std::string out;
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT || !normaliseTemporal(text(a[0]), text(a[1]), sqlite3_value_int(a[2]), out)) {
        sqlite3_result_value(ctx, a[0]);
        return;
    }
    sqlite3_result_text(ctx, out.c_str(), int(out.size()), SQLITE_TRANSIENT);
}

// AVG(...) OVER (... ROWS ...): a row leaving the window frame.
static void avgInverse(sqlite3_context *ctx, int, sqlite3_value **a)
{
    auto *st = static_cast<AvgState *>(sqlite3_aggregate_context(ctx, sizeof(AvgState)));
    if (!st || sqlite3_value_type(a[0]) == SQLITE_NULL) return;
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && __builtin_sub_overflow(st->isum, sqlite3_value_int64(a[0]), &st->isum))
        st->intOverflow = true;
    st->dsum -= sqlite3_value_double(a[0]);
    st->count--;
}

static void fnDatetext(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT) { sqlite3_result_value(ctx, a[0]); return; }
    std::string out;
    bool outOfRange = false;
    if (text(a[1]) == "smalldatetime" ? !normaliseSmallDateTime(text(a[0]), out, outOfRange)
                                      : !normaliseDateTime(text(a[0]), out)) {
        sqlite3_result_value(ctx, a[0]);
        return;
    }
    if (text(a[1]) == "date") out = out.substr(0, 10);
    sqlite3_result_text(ctx, out.c_str(), int(out.size()), SQLITE_TRANSIENT);
}

void registerFunctions(sqlite3 *db, const std::string *currentDb)
{
    sqlite3_create_function(db, "dv_datetext", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnDatetext, nullptr, nullptr);
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_add", 2, det, nullptr, fnAdd, nullptr, nullptr);
    sqlite3_create_function(db, "dv_div", 2, det, nullptr, fnDiv, nullptr, nullptr);
    sqlite3_create_function(db, "dv_mod", 2, det, nullptr, fnMod, nullptr, nullptr);
    sqlite3_create_function(db, "dv_cast", 5, det, nullptr, fnCast, nullptr, nullptr);
    sqlite3_create_function(db, "dv_check", 5, det, nullptr, fnCheck, nullptr, nullptr);
    registerXmlFunctions(db);
    sqlite3_create_function(db, "dv_getdate", 0, SQLITE_UTF8, nullptr, fnGetdate, nullptr, nullptr);
    sqlite3_create_function(db, "dv_len", 1, det, nullptr, fnLen, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datalength", 1, det, nullptr, fnDatalength, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datalength_n", 1, det, nullptr, fnDatalengthUnicode, nullptr, nullptr);
    sqlite3_create_function(db, "dv_right", 2, det, nullptr, fnRight, nullptr, nullptr);
    sqlite3_create_function(db, "dv_raise", 3, SQLITE_UTF8, nullptr, fnRaise, nullptr, nullptr);
    sqlite3_create_function(db, "dv_keytext", -1, det, nullptr, fnKeytext, nullptr, nullptr);
    sqlite3_create_function(db, "dv_objname", 1, det, nullptr, fnObjname, nullptr, nullptr);
    sqlite3_create_function(db, "dv_catalog", 0, SQLITE_UTF8, const_cast<std::string *>(currentDb), fnCatalog, nullptr, nullptr);
    // An aggregate and a window function (AVG(x) OVER (...)); the current value is the final one.
    sqlite3_create_window_function(db, "dv_avg", 1, SQLITE_UTF8, nullptr, avgStep, avgFinal, avgFinal, avgInverse, nullptr);
    sqlite3_create_function(db, "dv_temporal", 3, det, nullptr, fnTemporal, nullptr, nullptr);
    sqlite3_create_function(db, "dv_object_id", 3, SQLITE_UTF8, const_cast<std::string *>(currentDb), fnObjectId, nullptr, nullptr);
    sqlite3_create_collation(db, kTimeCollation, SQLITE_UTF8, nullptr, compareTime);
    sqlite3_create_collation(db, kGuidCollation, SQLITE_UTF8, nullptr, compareGuidText);
    registerVariantFunctions(db);
    registerTextFunctions(db);
    sqlite3_create_function(db, "dv_newid", 0, SQLITE_UTF8, nullptr, fnNewid, nullptr, nullptr);
    sqlite3_create_function(db, "dv_nextts", 0, SQLITE_UTF8, nullptr, fnNextts, nullptr, nullptr);
    sqlite3_create_function(db, "dv_dbts", 0, SQLITE_UTF8, nullptr, fnDbts, nullptr, nullptr);
    registerBuiltinFunctions(db);
    registerNumberFunctions(db);
    registerMathFunctions(db);
    registerMetaFunctions(db);
    registerOffsetFunctions(db);
    registerStringFunctions(db);
    registerDateFunctions(db);
    registerJsonFunctions(db);
    registerTableFunctions(db);
    registerForJsonFunctions(db);
    registerForXmlFunctions(db);
    registerHierarchyIdFunctions(db);
    registerSpatialFunctions(db);
}

} // namespace ts
