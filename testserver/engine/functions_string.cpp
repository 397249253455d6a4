// The string functions: positions and lengths count characters (code points
// of the UTF-8 text SQLite holds, read with ICU); CHARINDEX compares by the
// server collation, as SQL Server compares by the input's.
#include "engine/functions.h"

#include "base/collation.h"
#include "base/textcodec.h"
#include "base/textcollation.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace ts {

namespace {

using fn::text;

std::u32string chars(sqlite3_value *v)
{
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text(v));
    std::u32string out(static_cast<size_t>(u.countChar32()), U'\0');
    UErrorCode status = U_ZERO_ERROR;
    u.toUTF32(reinterpret_cast<UChar32 *>(out.data()), static_cast<int32_t>(out.size()), status);
    return out;
}

std::string utf8(const std::u32string &s)
{
    const icu::UnicodeString u = icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32 *>(s.data()),
                                                               static_cast<int32_t>(s.size()));
    std::string out;
    u.toUTF8String(out);
    return out;
}

void resultChars(sqlite3_context *ctx, const std::u32string &s) { fn::resultText(ctx, utf8(s)); }

bool anyNull(int argc, sqlite3_value **a)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(a[k]) == SQLITE_NULL) return true;
    return false;
}

// dv_charindex(find, in, start): 1-based, 0 when not found; a start below 1 searches from the first.
void fnCharIndex(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(3, a)) return sqlite3_result_null(ctx);
    const std::u32string find = chars(a[0]), in = chars(a[1]);
    long start = static_cast<long>(sqlite3_value_int64(a[2]));
    if (start < 1) start = 1;
    if (find.empty()) return sqlite3_result_int(ctx, 0);
    const std::string collation = textCollationName(serverCollation().name);
    const std::string needle = utf8(find);
    for (size_t k = static_cast<size_t>(start - 1); k + find.size() <= in.size(); ++k) {
        const std::string part = utf8(in.substr(k, find.size()));
        const bool same = collation.empty() ? part == needle : compareText(collation, part, needle) == 0;
        if (same) return sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(k + 1));
    }
    sqlite3_result_int(ctx, 0);
}

// dv_unicode(s): the first character's code point; dv_ascii(s): its byte in the server's code page.
void fnUnicode(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const std::u32string s = chars(a[0]);
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || s.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(s[0]));
}

void fnAscii(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const std::string s = utf8ToCodePage(text(a[0]));
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || s.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, static_cast<unsigned char>(s[0]));
}

// dv_char(n): the code page's character n (0-255); dv_nchar(n): the code point n.
void fnChar(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const sqlite3_int64 n = sqlite3_value_int64(a[0]);
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || n < 0 || n > 255) return sqlite3_result_null(ctx);
    fn::resultText(ctx, codePageToUtf8(std::string(1, static_cast<char>(n))));
}

void fnNChar(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const sqlite3_int64 n = sqlite3_value_int64(a[0]);
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || n < 0 || n > 0x10FFFF) return sqlite3_result_null(ctx);
    resultChars(ctx, std::u32string(1, static_cast<char32_t>(n)));
}

// dv_replicate(s, n): NULL for a negative count.
void fnReplicate(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(2, a)) return sqlite3_result_null(ctx);
    const sqlite3_int64 n = sqlite3_value_int64(a[1]);
    if (n < 0) return sqlite3_result_null(ctx);
    const std::string s = text(a[0]);
    if (s.size() * static_cast<size_t>(n) > 1024 * 1024 * 1024)
        return fn::raise(ctx, 1101, 17, "The result of REPLICATE is too large.");
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (sqlite3_int64 k = 0; k < n; ++k) out += s;
    fn::resultText(ctx, out);
}

// dv_stuff(s, start, length, insert): NULL for a start outside the text or a negative length.
void fnStuff(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(3, a)) return sqlite3_result_null(ctx);
    std::u32string s = chars(a[0]);
    const sqlite3_int64 start = sqlite3_value_int64(a[1]), length = sqlite3_value_int64(a[2]);
    if (start < 1 || start > static_cast<sqlite3_int64>(s.size()) || length < 0) return sqlite3_result_null(ctx);
    const size_t from = static_cast<size_t>(start - 1);
    s.replace(from, std::min(static_cast<size_t>(length), s.size() - from), chars(a[3]));
    resultChars(ctx, s);
}

// dv_quotename(s, quote): NULL for input over 128 characters or an unknown quote character.
void fnQuotename(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(2, a)) return sqlite3_result_null(ctx);
    const std::u32string s = chars(a[0]), q = chars(a[1]);
    if (s.size() > 128 || q.size() != 1) return sqlite3_result_null(ctx);
    static const std::u32string opens = U"[]\"'()<>{}`", closes = U"]]\"')(><}{`";
    const size_t k = opens.find(q[0]);
    if (k == std::u32string::npos) return sqlite3_result_null(ctx);
    // Brackets, parentheses and braces quote with the pair; the closing character is doubled.
    const char32_t open = k % 2 == 1 && k < 10 ? closes[k] : q[0];
    const char32_t close = k % 2 == 1 && k < 10 ? q[0] : closes[k];
    std::u32string out(1, open);
    for (char32_t c : s) {
        out += c;
        if (c == close) out += c;
    }
    out += close;
    resultChars(ctx, out);
}

// dv_concat(a, b, ...): NULL counts as empty; dv_concat_ws(sep, a, b, ...) skips NULLs.
void fnConcat(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    std::string out;
    for (int k = 0; k < argc; ++k) out += text(a[k]);
    fn::resultText(ctx, out);
}

void fnConcatWs(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    const std::string sep = text(a[0]);
    std::string out;
    bool first = true;
    for (int k = 1; k < argc; ++k) {
        if (sqlite3_value_type(a[k]) == SQLITE_NULL) continue;
        if (!first) out += sep;
        out += text(a[k]);
        first = false;
    }
    fn::resultText(ctx, out);
}

// dv_translate(s, from, to): each character of `from` becomes the one at its place in `to`.
void fnTranslate(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(3, a)) return sqlite3_result_null(ctx);
    std::u32string s = chars(a[0]);
    const std::u32string from = chars(a[1]), to = chars(a[2]);
    if (from.size() != to.size())
        return fn::raise(ctx, 9828, 16, "The second and third arguments of the TRANSLATE built-in function must contain an equal number of characters.");
    for (char32_t &c : s) {
        const size_t k = from.find(c);
        if (k != std::u32string::npos) c = to[k];
    }
    resultChars(ctx, s);
}

void fnReverse(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::u32string s = chars(a[0]);
    std::reverse(s.begin(), s.end());
    resultChars(ctx, s);
}

// dv_trim(s, characters): the characters removed from both ends.
void fnTrim(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(2, a)) return sqlite3_result_null(ctx);
    const std::u32string s = chars(a[0]), set = chars(a[1]);
    size_t b = 0, e = s.size();
    while (b < e && set.find(s[b]) != std::u32string::npos) ++b;
    while (e > b && set.find(s[e - 1]) != std::u32string::npos) --e;
    resultChars(ctx, s.substr(b, e - b));
}

// The four-character code of American Soundex: H and W do not separate equal codes.
std::string soundex(const std::string &s)
{
    static const char codes[] = "01230120022455012623010202"; // A..Z
    std::string out;
    char last = 0;
    for (unsigned char c : s) {
        if (!std::isalpha(c)) {
            if (out.empty()) continue;
            break;
        }
        const char u = static_cast<char>(std::toupper(c));
        const char code = codes[u - 'A'];
        if (out.empty()) {
            out += u;
            last = code;
            continue;
        }
        if (code != '0' && code != last) out += code;
        if (u != 'H' && u != 'W') last = code;
        if (out.size() == 4) break;
    }
    if (out.empty()) return "";
    out.resize(4, '0');
    return out;
}

void fnSoundex(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    fn::resultText(ctx, soundex(text(a[0])));
}

// dv_difference(a, b): how many of the four Soundex characters agree.
void fnDifference(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(2, a)) return sqlite3_result_null(ctx);
    const std::string x = soundex(text(a[0])), y = soundex(text(a[1]));
    int same = 0;
    for (size_t k = 0; k < 4 && k < x.size() && k < y.size(); ++k) same += x[k] == y[k];
    sqlite3_result_int(ctx, same);
}

// ISNUMERIC: text that converts to some number type (int, decimal, money, float):
// blanks around, a sign, a currency sign, thousands commas, a fraction, an exponent.
bool numericText(const std::string &in)
{
    std::string s = in;
    s.erase(0, s.find_first_not_of(" \t\r\n"));
    s.erase(s.find_last_not_of(" \t\r\n") + 1);
    if (s.empty()) return false;
    size_t p = 0;
    auto skip = [&](const char *set) { if (p < s.size() && std::strchr(set, s[p])) ++p; };
    skip("+-");
    skip("$");
    skip("+-");
    size_t digits = 0, commas = 0;
    while (p < s.size() && (std::isdigit(static_cast<unsigned char>(s[p])) || s[p] == ',')) {
        s[p] == ',' ? ++commas : ++digits;
        ++p;
    }
    if (p < s.size() && s[p] == '.') {
        ++p;
        while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) { ++p; ++digits; }
    }
    if (p < s.size() && (s[p] == 'e' || s[p] == 'E') && digits > 0 && commas == 0) {
        ++p;
        skip("+-");
        size_t exp = 0;
        while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) { ++p; ++exp; }
        if (exp == 0) return false;
    }
    return p == s.size() && (digits > 0 || s.find_first_of("0123456789") == std::string::npos);
}

// dv_isnumeric(x, isNumberType)
void fnIsNumeric(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_NULL || t == SQLITE_BLOB) return sqlite3_result_int(ctx, 0);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT || sqlite3_value_int(a[1])) return sqlite3_result_int(ctx, 1);
    sqlite3_result_int(ctx, numericText(text(a[0])) ? 1 : 0);
}

// dv_string_escape(text, type): JSON's escapes for quotes, solidus, backslash and control characters.
void fnStringEscape(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(2, a)) return sqlite3_result_null(ctx);
    if (text(a[1]) != "json")
        return fn::raise(ctx, 13606, 16, "The second argument of STRING_ESCAPE is not a supported type.");
    fn::resultText(ctx, fn::jsonEscape(text(a[0])));
}

} // namespace

void registerStringFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    static const struct { const char *name; int args; void (*f)(sqlite3_context *, int, sqlite3_value **); } table[] = {
        {"dv_charindex", 3, fnCharIndex}, {"dv_unicode", 1, fnUnicode}, {"dv_ascii", 1, fnAscii},
        {"dv_char", 1, fnChar}, {"dv_nchar", 1, fnNChar}, {"dv_replicate", 2, fnReplicate},
        {"dv_stuff", 4, fnStuff}, {"dv_quotename", 2, fnQuotename}, {"dv_concat", -1, fnConcat},
        {"dv_concat_ws", -1, fnConcatWs}, {"dv_translate", 3, fnTranslate}, {"dv_reverse", 1, fnReverse},
        {"dv_trim", 2, fnTrim}, {"dv_soundex", 1, fnSoundex}, {"dv_difference", 2, fnDifference},
        {"dv_isnumeric", 2, fnIsNumeric}, {"dv_string_escape", 2, fnStringEscape}};
    for (const auto &f : table) sqlite3_create_function(db, f.name, f.args, det, nullptr, f.f, nullptr, nullptr);
}

} // namespace ts

// JSON's escapes for quotes, solidus, backslash and control characters
// (STRING_ESCAPE, FOR JSON).
std::string ts::fn::jsonEscape(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}
