// FORMAT(value, format [, culture]): .NET's standard and custom format strings
// for numbers and dates. Numbers go through ICU's decimal formatter (its
// pattern language is .NET's custom numeric one for the common cases); date
// patterns are read here token by token, with month, day and AM/PM names from
// ICU's data for the culture. The default culture is the session language's,
// en-US; an unknown culture raises 9818, a format .NET rejects gives NULL.
#include "engine/enginefunctions.h"

#include "base/civildays.h"

#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace ts {

namespace {

std::string text(sqlite3_value *v)
{
    const unsigned char *p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
}

std::u16string toUtf16(const std::string &s)
{
    UErrorCode st = U_ZERO_ERROR;
    int32_t n = 0;
    u_strFromUTF8(nullptr, 0, &n, s.data(), int32_t(s.size()), &st);
    std::u16string out(size_t(n), u'\0');
    st = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), n, nullptr, s.data(), int32_t(s.size()), &st);
    return U_SUCCESS(st) ? out : std::u16string();
}

std::string toUtf8(const UChar *p, int32_t len)
{
    UErrorCode st = U_ZERO_ERROR;
    int32_t n = 0;
    u_strToUTF8(nullptr, 0, &n, p, len, &st);
    std::string out(size_t(n), '\0');
    st = U_ZERO_ERROR;
    u_strToUTF8(out.data(), n, nullptr, p, len, &st);
    return U_SUCCESS(st) ? out : std::string();
}

// The ICU locale of a .NET culture name ("en-US", "zh-CN"); nullopt when ICU
// has no data for its language.
std::optional<std::string> localeFor(const std::string &culture)
{
    char id[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode st = U_ZERO_ERROR;
    uloc_forLanguageTag(culture.c_str(), id, sizeof id, nullptr, &st);
    if (U_FAILURE(st) || !id[0]) return std::nullopt;
    char lang[ULOC_LANG_CAPACITY] = {};
    st = U_ZERO_ERROR;
    uloc_getLanguage(id, lang, sizeof lang, &st);
    if (U_FAILURE(st) || !lang[0]) return std::nullopt;
    for (int32_t k = 0, n = uloc_countAvailable(); k < n; ++k) {
        const char *a = uloc_getAvailable(k);
        size_t len = std::strlen(lang);
        if (std::strncmp(a, lang, len) == 0 && (a[len] == '\0' || a[len] == '_')) return std::string(id);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- numbers

struct Number {
    enum Kind { Int, Real, Decimal } kind = Int;
    int64_t i = 0;
    double d = 0;
    std::string dec; // decimal text as stored: "-1234.50"
    bool negative() const { return kind == Int ? i < 0 : kind == Real ? d < 0 : !dec.empty() && dec[0] == '-'; }
};

bool decimalText(const std::string &s)
{
    size_t k = 0;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
    bool digits = false, dot = false;
    for (; k < s.size(); ++k) {
        if (std::isdigit(static_cast<unsigned char>(s[k]))) digits = true;
        else if (s[k] == '.' && !dot) dot = true;
        else return false;
    }
    return digits;
}

// Formats with an ICU number format; false when ICU rejects it.
bool icuFormat(UNumberFormat *f, const Number &n, std::string &out)
{
    UErrorCode st = U_ZERO_ERROR;
    UChar buf[512];
    int32_t len = 0;
    unum_setAttribute(f, UNUM_ROUNDING_MODE, UNUM_ROUND_HALFUP); // .NET rounds half away from zero
    if (n.kind == Number::Int) len = unum_formatInt64(f, n.i, buf, 512, nullptr, &st);
    else if (n.kind == Number::Real) len = unum_formatDouble(f, n.d, buf, 512, nullptr, &st);
    else len = unum_formatDecimal(f, n.dec.c_str(), int32_t(n.dec.size()), buf, 512, nullptr, &st);
    if (U_FAILURE(st)) return false;
    out = toUtf8(buf, len);
    return true;
}

bool withPattern(const std::string &locale, const std::string &pattern, const Number &n, std::string &out)
{
    std::u16string p = toUtf16(pattern);
    UErrorCode st = U_ZERO_ERROR;
    UParseError pe;
    UNumberFormat *f = unum_open(UNUM_PATTERN_DECIMAL, reinterpret_cast<const UChar *>(p.data()), int32_t(p.size()),
                                 locale.c_str(), &pe, &st);
    if (U_FAILURE(st)) { unum_close(f); return false; }
    bool ok = icuFormat(f, n, out);
    unum_close(f);
    return ok;
}

bool withStyle(const std::string &locale, UNumberFormatStyle style, int digits, const Number &n, std::string &out)
{
    UErrorCode st = U_ZERO_ERROR;
    UNumberFormat *f = unum_open(style, nullptr, 0, locale.c_str(), nullptr, &st);
    if (U_FAILURE(st)) { unum_close(f); return false; }
    if (digits >= 0) {
        unum_setAttribute(f, UNUM_MIN_FRACTION_DIGITS, digits);
        unum_setAttribute(f, UNUM_MAX_FRACTION_DIGITS, digits);
    }
    bool ok = icuFormat(f, n, out);
    unum_close(f);
    return ok;
}

Number absolute(Number n)
{
    if (n.kind == Number::Int) n.i = n.i < 0 ? -n.i : n.i;
    else if (n.kind == Number::Real) n.d = std::fabs(n.d);
    else if (!n.dec.empty() && n.dec[0] == '-') n.dec.erase(0, 1);
    return n;
}

// A standard numeric format: one letter and an optional precision of 0-99.
bool standardNumber(const std::string &locale, char letter, int prec, const Number &n, std::string &out)
{
    switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'N': case 'F': {
        int digits = prec < 0 ? 2 : prec;
        std::string pattern = std::toupper(static_cast<unsigned char>(letter)) == 'N' ? "#,##0" : "0";
        if (digits > 0) pattern += "." + std::string(size_t(digits), '0');
        return withPattern(locale, pattern, n, out);
    }
    case 'D': {
        if (n.kind != Number::Int) return false; // integers only
        return withPattern(locale, std::string(size_t(prec < 1 ? 1 : prec), '0'), n, out);
    }
    case 'C': {
        // en-US shows a negative amount in parentheses.
        if (n.negative() && locale.rfind("en_US", 0) == 0) {
            if (!withStyle(locale, UNUM_CURRENCY, prec, absolute(n), out)) return false;
            out = "(" + out + ")";
            return true;
        }
        return withStyle(locale, UNUM_CURRENCY, prec, n, out);
    }
    case 'P':
        return withStyle(locale, UNUM_PERCENT, prec < 0 ? 2 : prec, n, out);
    case 'X': {
        if (n.kind != Number::Int) return false;
        char buf[32];
        uint64_t u = n.i >= INT32_MIN && n.i <= INT32_MAX ? uint64_t(uint32_t(int32_t(n.i))) : uint64_t(n.i);
        std::snprintf(buf, sizeof buf, letter == 'x' ? "%0*llx" : "%0*llX", prec < 0 ? 0 : prec, static_cast<unsigned long long>(u));
        out = buf;
        return true;
    }
    case 'E': {
        double d = n.kind == Number::Int ? double(n.i) : n.kind == Number::Real ? n.d : std::strtod(n.dec.c_str(), nullptr);
        char buf[512];
        std::snprintf(buf, sizeof buf, letter == 'e' ? "%.*e" : "%.*E", prec < 0 ? 6 : prec, d);
        // .NET writes at least three exponent digits: 1.234500E+003.
        std::string s = buf;
        size_t e = s.find_first_of("eE");
        std::string exp = s.substr(e + 2);
        while (exp.size() < 3) exp = "0" + exp;
        out = s.substr(0, e + 2) + exp;
        return true;
    }
    case 'G': case 'R': {
        if (n.kind == Number::Int) { out = std::to_string(n.i); return true; }
        if (n.kind == Number::Decimal) { out = n.dec; return true; }
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15G", n.d);
        out = buf;
        return true;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------- dates

struct Names {
    std::string months[12], shortMonths[12], days[7], shortDays[7], ampm[2];
};

bool namesFor(const std::string &locale, Names &names)
{
    UErrorCode st = U_ZERO_ERROR;
    UDateFormat *f = udat_open(UDAT_PATTERN, UDAT_PATTERN, locale.c_str(), u"UTC", -1, u"y", -1, &st);
    if (U_FAILURE(st)) { udat_close(f); return false; }
    auto get = [&](UDateFormatSymbolType type, int index) {
        UChar buf[64];
        UErrorCode e = U_ZERO_ERROR;
        int32_t n = udat_getSymbols(f, type, index, buf, 64, &e);
        return U_SUCCESS(e) ? toUtf8(buf, n) : std::string();
    };
    for (int k = 0; k < 12; ++k) {
        names.months[k] = get(UDAT_MONTHS, k);
        names.shortMonths[k] = get(UDAT_SHORT_MONTHS, k);
    }
    for (int k = 0; k < 7; ++k) { // ICU counts weekdays from 1 = Sunday
        names.days[k] = get(UDAT_WEEKDAYS, k + 1);
        names.shortDays[k] = get(UDAT_SHORT_WEEKDAYS, k + 1);
    }
    names.ampm[0] = get(UDAT_AM_PMS, 0);
    names.ampm[1] = get(UDAT_AM_PMS, 1);
    udat_close(f);
    return true;
}

// The patterns behind .NET's one-letter date formats, for the cultures an
// operator here uses; other cultures take en-US's.
std::string standardDatePattern(char c, const std::string &locale)
{
    const bool zh = locale.rfind("zh", 0) == 0;
    const std::string shortDate = zh ? "yyyy/M/d" : "M/d/yyyy";
    const std::string longDate = zh ? "yyyy'年'M'月'd'日'" : "dddd, MMMM d, yyyy";
    const std::string shortTime = zh ? "H:mm" : "h:mm tt";
    const std::string longTime = zh ? "H:mm:ss" : "h:mm:ss tt";
    switch (c) {
    case 'd': return shortDate;
    case 'D': return longDate;
    case 't': return shortTime;
    case 'T': return longTime;
    case 'f': return longDate + " " + shortTime;
    case 'F': return longDate + " " + longTime;
    case 'g': return shortDate + " " + shortTime;
    case 'G': return shortDate + " " + longTime;
    case 'm': case 'M': return zh ? "M'月'd'日'" : "MMMM d";
    case 'y': case 'Y': return zh ? "yyyy'年'M'月'" : "MMMM yyyy";
    case 's': return "yyyy'-'MM'-'dd'T'HH':'mm':'ss";
    case 'u': return "yyyy'-'MM'-'dd HH':'mm':'ss'Z'";
    case 'o': case 'O': return "yyyy'-'MM'-'dd'T'HH':'mm':'ss'.'fffffffK";
    default: return std::string();
    }
}

std::string padded(int64_t v, int width)
{
    std::string s = std::to_string(v < 0 ? -v : v);
    while (int(s.size()) < width) s = "0" + s;
    return v < 0 ? "-" + s : s;
}

// What a date or time pattern holds at pat[i] besides its fields: a quoted
// literal ('…' or "…"), an escaped character (\c) or the % that makes a
// single-letter pattern custom.
enum class PatternLiteral { None, Taken, Unclosed };

// Appends such a literal to `out` and moves `i` past it.
PatternLiteral takeLiteral(const std::string &pat, size_t &i, std::string &out)
{
    const char c = pat[i];
    if (c == '\'' || c == '"') {
        size_t close = pat.find(c, i + 1);
        if (close == std::string::npos) return PatternLiteral::Unclosed;
        out += pat.substr(i + 1, close - i - 1);
        i = close + 1;
        return PatternLiteral::Taken;
    }
    if (c == '\\') {
        if (i + 1 >= pat.size()) return PatternLiteral::Unclosed;
        out += pat[i + 1];
        i += 2;
        return PatternLiteral::Taken;
    }
    if (c == '%') {
        ++i;
        return PatternLiteral::Taken;
    }
    return PatternLiteral::None;
}

// Applies a .NET custom date and time pattern; false for a pattern .NET rejects.
bool customDate(const std::string &pat, const DateTimeParts &v, bool dto, const Names &names, std::string &out)
{
    int y, mo, d;
    civilFromDays(v.days, y, mo, d);
    const int64_t secs = v.ticks / 10000000;
    const int h = int(secs / 3600), mi = int(secs / 60 % 60), s = int(secs % 60);
    const int64_t frac = v.ticks % 10000000;
    const int dow = int(((v.days + 4) % 7 + 7) % 7);
    for (size_t i = 0; i < pat.size();) {
        const PatternLiteral literal = takeLiteral(pat, i, out);
        if (literal == PatternLiteral::Unclosed) return false;
        if (literal == PatternLiteral::Taken) continue;
        char c = pat[i];
        size_t run = 1;
        while (i + run < pat.size() && pat[i + run] == c) ++run;
        switch (c) {
        case 'd':
            if (run == 1) out += std::to_string(d);
            else if (run == 2) out += padded(d, 2);
            else out += run == 3 ? names.shortDays[dow] : names.days[dow];
            break;
        case 'M':
            if (run == 1) out += std::to_string(mo);
            else if (run == 2) out += padded(mo, 2);
            else out += run == 3 ? names.shortMonths[mo - 1] : names.months[mo - 1];
            break;
        case 'y':
            if (run == 1) out += std::to_string(y % 100);
            else if (run == 2) out += padded(y % 100, 2);
            else out += padded(y, int(run));
            break;
        case 'h': out += run == 1 ? std::to_string((h + 11) % 12 + 1) : padded((h + 11) % 12 + 1, 2); break;
        case 'H': out += run == 1 ? std::to_string(h) : padded(h, 2); break;
        case 'm': out += run == 1 ? std::to_string(mi) : padded(mi, 2); break;
        case 's': out += run == 1 ? std::to_string(s) : padded(s, 2); break;
        case 'f': case 'F': {
            if (run > 7) return false;
            std::string digits = padded(frac, 7).substr(0, run);
            if (c == 'F') {
                while (!digits.empty() && digits.back() == '0') digits.pop_back();
                // An empty F part takes the separator just written with it.
                if (digits.empty() && !out.empty() && out.back() == '.') out.pop_back();
            }
            out += digits;
            break;
        }
        case 't': {
            const std::string &des = names.ampm[h < 12 ? 0 : 1];
            out += run == 1 ? des.substr(0, des.empty() ? 0 : 1) : des;
            break;
        }
        case 'z': case 'K': {
            int o = dto ? v.offset : 0;
            if (c == 'K' && !dto) break;
            char buf[16];
            int ao = std::abs(o);
            if (c == 'K' || run >= 3) std::snprintf(buf, sizeof buf, "%c%02d:%02d", o < 0 ? '-' : '+', ao / 60, ao % 60);
            else if (run == 2) std::snprintf(buf, sizeof buf, "%c%02d", o < 0 ? '-' : '+', ao / 60);
            else std::snprintf(buf, sizeof buf, "%c%d", o < 0 ? '-' : '+', ao / 60);
            out += buf;
            break;
        }
        case 'g': out += "A.D."; break;
        default:
            out += pat.substr(i, run);
            break;
        }
        i += run;
    }
    return true;
}

// A time value is a .NET TimeSpan: only h, m, s, f, F and d, literals quoted or escaped.
bool customTime(const std::string &pat, const DateTimeParts &v, std::string &out)
{
    const int64_t secs = v.ticks / 10000000;
    const int64_t frac = v.ticks % 10000000;
    for (size_t i = 0; i < pat.size();) {
        const PatternLiteral literal = takeLiteral(pat, i, out);
        if (literal == PatternLiteral::Unclosed) return false;
        if (literal == PatternLiteral::Taken) continue;
        char c = pat[i];
        size_t run = 1;
        while (i + run < pat.size() && pat[i + run] == c) ++run;
        switch (c) {
        case 'h': if (run > 2) return false; out += run == 1 ? std::to_string(secs / 3600) : padded(secs / 3600, 2); break;
        case 'm': if (run > 2) return false; out += run == 1 ? std::to_string(secs / 60 % 60) : padded(secs / 60 % 60, 2); break;
        case 's': if (run > 2) return false; out += run == 1 ? std::to_string(secs % 60) : padded(secs % 60, 2); break;
        case 'd': out += padded(0, int(run)); break;
        case 'f': case 'F': {
            if (run > 7) return false;
            std::string digits = padded(frac, 7).substr(0, run);
            if (c == 'F') while (!digits.empty() && digits.back() == '0') digits.pop_back();
            out += digits;
            break;
        }
        default:
            return false;
        }
        i += run;
    }
    return true;
}

void fnFormat(sqlite3_context *ctx, int n, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::string culture = n > 2 && sqlite3_value_type(a[2]) != SQLITE_NULL ? text(a[2]) : "en-US";
    std::optional<std::string> locale = localeFor(culture);
    if (!locale) {
        std::string e = encodeError(9818, 16, "The culture parameter '" + culture + "' provided in the function call is not supported.");
        sqlite3_result_error(ctx, e.c_str(), int(e.size()));
        return;
    }
    const std::string format = text(a[1]);
    std::string out;
    bool ok = false;
    int vt = sqlite3_value_type(a[0]);
    std::string value = vt == SQLITE_TEXT ? text(a[0]) : std::string();
    bool standard = !format.empty() && std::isalpha(static_cast<unsigned char>(format[0])) && format.size() <= 3;
    int prec = -1;
    if (standard && format.size() > 1) {
        for (size_t k = 1; k < format.size(); ++k)
            if (!std::isdigit(static_cast<unsigned char>(format[k]))) standard = false;
        if (standard) prec = std::atoi(format.c_str() + 1);
    }
    if (vt == SQLITE_INTEGER || vt == SQLITE_FLOAT || (vt == SQLITE_TEXT && decimalText(value))) {
        Number num;
        if (vt == SQLITE_INTEGER) { num.kind = Number::Int; num.i = sqlite3_value_int64(a[0]); }
        else if (vt == SQLITE_FLOAT) { num.kind = Number::Real; num.d = sqlite3_value_double(a[0]); }
        else { num.kind = Number::Decimal; num.dec = value; }
        ok = standard ? standardNumber(*locale, format[0], prec, num, out) : withPattern(*locale, format, num, out);
    } else if (vt == SQLITE_TEXT) {
        DateTimeParts v;
        if (!parseDateTimeParts(value, v)) {
            std::string e = encodeError(8116, 16, "Argument data type varchar is invalid for argument 1 of format function.");
            sqlite3_result_error(ctx, e.c_str(), int(e.size()));
            return;
        }
        if (!v.hasDate) {
            if (standard && format.size() == 1 && format[0] == 'c') {
                char buf[32];
                int64_t secs = v.ticks / 10000000;
                std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(secs / 3600),
                              static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
                out = buf;
                if (v.ticks % 10000000) out += "." + padded(v.ticks % 10000000, 7);
                ok = true;
            } else {
                ok = !standard && customTime(format, v, out);
            }
        } else {
            Names names;
            std::string pattern = format;
            if (format.size() == 1) pattern = standardDatePattern(format[0], *locale);
            ok = !pattern.empty() && namesFor(*locale, names) && customDate(pattern, v, v.hasOffset, names, out);
        }
    } else {
        std::string e = encodeError(8116, 16, "Argument data type varbinary is invalid for argument 1 of format function.");
        sqlite3_result_error(ctx, e.c_str(), int(e.size()));
        return;
    }
    if (!ok) { sqlite3_result_null(ctx); return; }
    sqlite3_result_text(ctx, out.c_str(), int(out.size()), SQLITE_TRANSIENT);
}

} // namespace

std::string icuLocaleFor(const std::string &culture) { return localeFor(culture).value_or(std::string()); }

void registerFormatFunction(sqlite3 *db)
{
    sqlite3_create_function(db, "dv_format", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnFormat, nullptr, nullptr);
    registerParseFunction(db);
}

} // namespace ts
