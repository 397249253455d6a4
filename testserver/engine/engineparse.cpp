// PARSE and TRY_PARSE: numbers and dates written for a culture, read with
// ICU's number and date formats of that culture (ICU is what the test server
// already uses for FORMAT), into the plain text CAST then reads.
#include "engine/datetext.h"
#include "engine/enginefunctions.h"
#include "engine/functions.h"

#include "base/civildays.h"

#include <unicode/uchar.h>
#include <unicode/udat.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace ts {

namespace {

std::u16string utf16(const std::string &s)
{
    std::u16string out(s.size() + 1, u'\0');
    int32_t len = 0;
    UErrorCode st = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), int32_t(out.size()), &len, s.c_str(), int32_t(s.size()), &st);
    out.resize(U_SUCCESS(st) ? size_t(len) : 0);
    return out;
}

std::u16string trimmed(std::u16string s, bool dropCurrency)
{
    std::u16string out;
    for (char16_t c : s)
        if (!(dropCurrency && u_charType(c) == U_CURRENCY_SYMBOL)) out += c;
    while (!out.empty() && u_isWhitespace(out.back())) out.pop_back();
    size_t b = 0;
    while (b < out.size() && u_isWhitespace(out[b])) ++b;
    return out.substr(b);
}

// A number written in `locale` as plain decimal text ("-1234.5"); exponents
// only for float and real.
bool parseNumber(const std::string &text, const std::string &locale, bool money, bool floating, std::string &out)
{
    const std::u16string s = trimmed(utf16(text), money);
    if (s.empty()) return false;
    UErrorCode st = U_ZERO_ERROR;
    UNumberFormat *f = unum_open(UNUM_DECIMAL, nullptr, 0, locale.c_str(), nullptr, &st);
    if (U_FAILURE(st)) return false;
    char buf[128];
    int32_t pos = 0;
    const int32_t n = unum_parseDecimal(f, s.data(), int32_t(s.size()), &pos, buf, int32_t(sizeof buf), &st);
    unum_close(f);
    if (U_FAILURE(st) || pos != int32_t(s.size()) || n <= 0 || n >= int32_t(sizeof buf)) return false;
    out.assign(buf, size_t(n));
    if (!floating && (out.find('E') != std::string::npos || out.find('e') != std::string::npos)) return false;
    return true;
}

// The order of day, month and year in the culture's short date ("M/d/yy": mdy).
std::string cultureDateOrder(const std::string &locale)
{
    UErrorCode st = U_ZERO_ERROR;
    UDateFormat *f = udat_open(UDAT_NONE, UDAT_SHORT, locale.c_str(), u"UTC", -1, nullptr, 0, &st);
    if (U_FAILURE(st)) return "mdy";
    UChar pattern[64];
    const int32_t n = udat_toPattern(f, false, pattern, 64, &st);
    udat_close(f);
    std::string order;
    for (int32_t k = 0; k < n && k < 64; ++k) {
        const char c = pattern[k] == u'y' ? 'y' : pattern[k] == u'M' ? 'm' : pattern[k] == u'd' ? 'd' : 0;
        if (c && order.find(c) == std::string::npos) order += c;
    }
    return order.size() == 3 ? order : "mdy";
}

// A date (and time) by ICU's lenient parse of the culture's own formats.
bool icuDate(const std::u16string &s, const std::string &locale, DateTimeParts &p)
{
    static const UDateFormatStyle dates[] = {UDAT_FULL, UDAT_LONG, UDAT_MEDIUM, UDAT_SHORT};
    static const UDateFormatStyle times[] = {UDAT_NONE, UDAT_SHORT, UDAT_MEDIUM};
    for (UDateFormatStyle d : dates) {
        for (UDateFormatStyle t : times) {
            UErrorCode st = U_ZERO_ERROR;
            UDateFormat *f = udat_open(t, d, locale.c_str(), u"UTC", -1, nullptr, 0, &st);
            if (U_FAILURE(st)) continue;
            udat_setLenient(f, true);
            int32_t pos = 0;
            const UDate ms = udat_parse(f, s.data(), int32_t(s.size()), &pos, &st);
            udat_close(f);
            if (U_FAILURE(st) || pos != int32_t(s.size())) continue;
            const int64_t total = int64_t(ms);
            p.days = total >= 0 ? total / 86400000 : (total - 86399999) / 86400000;
            p.ticks = (total - p.days * 86400000) * 10000;
            p.hasDate = p.hasTime = true;
            return true;
        }
    }
    return false;
}

// A date written in `locale`: first the forms CAST reads (in the culture's
// day/month/year order, an English weekday before it dropped), then ICU's.
bool parseDate(const std::string &text, const std::string &locale, std::string &out)
{
    static const char *const weekdays[] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    std::string s = text, lowered;
    for (char c : text) lowered += char(std::tolower(static_cast<unsigned char>(c)));
    for (const char *w : weekdays) {
        const std::string name = w;
        if (lowered.compare(0, name.size(), name) == 0) {
            s = s.substr(name.size());
            while (!s.empty() && (s[0] == ',' || s[0] == ' ')) s.erase(0, 1);
            break;
        }
    }
    DateTimeParts p;
    const std::string order = cultureDateOrder(locale);
    bool ok;
    {
        const DateOrderScope scope(&order);
        ok = parseDateTimeParts(s, p);
    }
    if (!ok && !icuDate(trimmed(utf16(text), false), locale, p)) return false;
    if (!p.hasDate) p.days = daysFromCivil(1900, 1, 1);
    out = formatDateTimeParts(p, p.hasOffset ? "datetimeoffset" : "datetime2", 7);
    return true;
}

// The culture of a session language (PARSE without USING).
std::string cultureOfLanguage(const std::string &language)
{
    return language == "简体中文" ? "zh-CN" : "en-US";
}

// dv_parse(text, type, culture, language, try): text PARSE reads as `type`
// ready for the cast to it; NULL where TRY_PARSE fails.
void fnParse(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const std::string text = fn::text(a[0]), type = fn::text(a[1]);
    const std::string culture = sqlite3_value_type(a[2]) == SQLITE_NULL ? cultureOfLanguage(fn::text(a[3])) : fn::text(a[2]);
    const std::string locale = icuLocaleFor(culture);
    if (locale.empty())
        return fn::raise(ctx, 9818, 16, "The culture parameter '" + culture + "' provided in the function call is not supported.");
    std::string out;
    const bool integer = type == "int" || type == "bigint" || type == "smallint" || type == "tinyint";
    const bool money = type == "money" || type == "smallmoney";
    bool ok;
    if (type == "float" || type == "real" || integer || money || type == "decimal" || type == "numeric") {
        ok = parseNumber(text, locale, money, type == "float" || type == "real", out);
        // A whole-number type takes a fraction of zeros only.
        if (ok && integer && out.find('.') != std::string::npos)
            ok = out.find_first_not_of('0', out.find('.') + 1) == std::string::npos, out = out.substr(0, out.find('.'));
    } else {
        ok = parseDate(text, locale, out);
    }
    if (ok) return fn::resultText(ctx, out);
    if (sqlite3_value_int(a[4])) return sqlite3_result_null(ctx);
    fn::raise(ctx, 9819, 16, "Error converting string value '" + text + "' into data type " + type + " using culture '"
              + culture + "'.");
}

} // namespace

void registerParseFunction(sqlite3 *db)
{
    sqlite3_create_function(db, "dv_parse", 5, SQLITE_UTF8, nullptr, fnParse, nullptr, nullptr);
}

} // namespace ts
