#include "enginefunctions.h"

#include "catalog.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

bool normaliseDateTime(const std::string &in, std::string &out)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, ms = 0;
    std::string s = in;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    int n = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n) == 3) {
    } else if (std::sscanf(s.c_str(), "%4d%2d%2d%n", &y, &mo, &d, &n) == 3 && n == 8) {
    } else if (std::sscanf(s.c_str(), "%4d/%2d/%2d%n", &y, &mo, &d, &n) == 3) {
    } else return false;
    std::string rest = s.substr(size_t(n));
    if (!rest.empty()) {
        if (rest[0] != ' ' && rest[0] != 'T') return false;
        rest.erase(0, 1);
        int m = 0;
        double frac = 0;
        if (std::sscanf(rest.c_str(), "%2d:%2d%n", &h, &mi, &m) != 2) return false;
        rest = rest.substr(size_t(m));
        if (!rest.empty() && rest[0] == ':') {
            if (std::sscanf(rest.c_str(), ":%2d%n", &se, &m) != 1) return false;
            rest = rest.substr(size_t(m));
            if (!rest.empty() && rest[0] == '.') {
                if (std::sscanf(rest.c_str(), "%lf%n", &frac, &m) != 1) return false;
                rest = rest.substr(size_t(m));
                ms = int(std::lround(frac * 1000));
                if (ms > 999) ms = 999;
            }
        }
        if (!rest.empty()) return false;
    }
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1753 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > days[mo - 1]) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) return false;
    if (h > 23 || mi > 59 || se > 59) return false;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, se, ms);
    out = buf;
    return true;
}

static const char *sourceTypeName(sqlite3_value *v)
{
    return sqlite3_value_type(v) == SQLITE_TEXT ? "varchar" : "varbinary";
}

// Converts for CAST/CONVERT; returns false after raising an error.
static bool convertTo(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, int length, int prec,
                      int scale, bool storeResult)
{
    int vt = sqlite3_value_type(v);
    if (vt == SQLITE_NULL) { if (storeResult) sqlite3_result_null(ctx); return true; }
    if (type == "int" || type == "bigint" || type == "smallint" || type == "tinyint" || type == "bit") {
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
    if (type == "float" || type == "real" || type == "decimal" || type == "numeric" || type == "money") {
        double d = 0;
        if (vt == SQLITE_INTEGER) d = double(sqlite3_value_int64(v));
        else if (vt == SQLITE_FLOAT) d = sqlite3_value_double(v);
        else if (!parseNumber(text(v), d)) {
            std::string target = type == "money" ? "money" : type == "float" || type == "real" ? "float" : "numeric";
            raise(ctx, 8114, 16, "Error converting data type " + std::string(sourceTypeName(v)) + " to " + target + ".");
            return false;
        }
        if (type == "decimal" || type == "numeric") {
            double lim = std::pow(10.0, prec - scale);
            if (std::fabs(d) >= lim) {
                raise(ctx, 8115, 16, "Arithmetic overflow error converting " + std::string(vt == SQLITE_TEXT ? "varchar" : "numeric")
                      + " to data type numeric.");
                return false;
            }
            double f = std::pow(10.0, scale);
            d = std::round(d * f) / f;
        }
        if (storeResult) sqlite3_result_double(ctx, d);
        return true;
    }
    if (type == "datetime" || type == "date") {
        std::string out;
        if (vt != SQLITE_TEXT || !normaliseDateTime(text(v), out)) {
            raise(ctx, 241, 16, "Conversion failed when converting date and/or time from character string.");
            return false;
        }
        if (type == "date") out = out.substr(0, 10);
        if (storeResult) sqlite3_result_text(ctx, out.c_str(), int(out.size()), SQLITE_TRANSIENT);
        return true;
    }
    if (type == "varbinary" || type == "binary") {
        std::string b(reinterpret_cast<const char *>(sqlite3_value_blob(v)), size_t(sqlite3_value_bytes(v)));
        if (length > 0 && b.size() > size_t(length)) b.resize(size_t(length));
        if (storeResult) sqlite3_result_blob(ctx, b.data(), int(b.size()), SQLITE_TRANSIENT);
        return true;
    }
    std::string s;
    if (vt == SQLITE_FLOAT) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", sqlite3_value_double(v));
        s = buf;
    } else s = text(v);
    if (length > 0 && utf8Length(s) > size_t(length)) s = utf8Prefix(s, size_t(length));
    if (storeResult) sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
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
        if (!normaliseDateTime(text(v), out)) {
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
    if (!normaliseDateTime(text(a[0]), out)) { sqlite3_result_value(ctx, a[0]); return; }
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
    sqlite3_create_function(db, "dv_getdate", 0, SQLITE_UTF8, nullptr, fnGetdate, nullptr, nullptr);
    sqlite3_create_function(db, "dv_len", 1, det, nullptr, fnLen, nullptr, nullptr);
    sqlite3_create_function(db, "dv_datalength", 1, det, nullptr, fnDatalength, nullptr, nullptr);
    sqlite3_create_function(db, "dv_right", 2, det, nullptr, fnRight, nullptr, nullptr);
    sqlite3_create_function(db, "dv_raise", 3, SQLITE_UTF8, nullptr, fnRaise, nullptr, nullptr);
    sqlite3_create_function(db, "dv_keytext", -1, det, nullptr, fnKeytext, nullptr, nullptr);
    sqlite3_create_function(db, "dv_objname", 1, det, nullptr, fnObjname, nullptr, nullptr);
    sqlite3_create_function(db, "dv_catalog", 0, SQLITE_UTF8, const_cast<std::string *>(currentDb), fnCatalog, nullptr, nullptr);
    // An aggregate and a window function (AVG(x) OVER (...)); the current value is the final one.
    sqlite3_create_window_function(db, "dv_avg", 1, SQLITE_UTF8, nullptr, avgStep, avgFinal, avgFinal, avgInverse, nullptr);
}

} // namespace ts
