// The mathematical functions: ABS, SIGN, CEILING, FLOOR, ROUND and POWER keep
// their argument's type (decimal and money exactly, through GMP); the others
// compute IEEE doubles with libm. The translator passes the static type of the
// result as a type code (num::typeCode), "" where it is unknown.
#include "engine/functions.h"

#include "base/decimal.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace ts {

namespace {

// The type a value has when the translator could not tell: from the value.
num::Type typeOfValue(sqlite3_value *v, const std::string &code)
{
    num::Type t = num::typeFromCode(code);
    if (t.kind != num::Type::Unknown && t.kind != num::Type::Other && t.kind != num::Type::IntLiteral) return t;
    num::Dec d;
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: t.kind = num::Type::Int; t.precision = 19; break;
    case SQLITE_TEXT:
        if (fn::toDec(v, d) && fn::text(v).find_first_of("eE") == std::string::npos) {
            t = num::decimalType(38, d.scale);
            break;
        }
        [[fallthrough]];
    default: t.kind = num::Type::Float; break;
    }
    return t;
}

const char *overflowTarget(const num::Type &t)
{
    switch (t.kind) {
    case num::Type::Money: return "money";
    case num::Type::SmallMoney: return "smallmoney";
    case num::Type::Int: return t.precision >= 19 ? "bigint" : "int";
    case num::Type::Float: return "float";
    default: return "numeric";
    }
}

void overflow(sqlite3_context *ctx, const num::Type &t)
{
    fn::raise(ctx, 8115, 16, std::string("Arithmetic overflow error converting expression to data type ") + overflowTarget(t) + ".");
}

// An exact result of type `t`: an int as an integer, a decimal or money as its text.
void exactResult(sqlite3_context *ctx, const num::Dec &d, const num::Type &t)
{
    if (t.kind == num::Type::Int) {
        const mpz_class lo = t.precision >= 19 ? mpz_class("-9223372036854775808") : mpz_class(-2147483648L);
        const mpz_class hi = t.precision >= 19 ? mpz_class("9223372036854775807") : mpz_class(2147483647L);
        const num::Dec whole = num::rescale(d, 0);
        if (whole.units < lo || whole.units > hi) return overflow(ctx, t);
        sqlite3_result_int64(ctx, whole.units.get_si());
        return;
    }
    num::Type shape = t;
    const int scale = t.kind == num::Type::Decimal ? t.scale : 4;
    const num::Dec r = num::rescale(d, scale);
    if (!num::fits(r, shape)) return overflow(ctx, t);
    fn::resultText(ctx, num::format(r));
}

// A double result: NaN and infinities are SQL Server's errors.
void floatResult(sqlite3_context *ctx, double x)
{
    if (std::isnan(x)) return fn::raise(ctx, 3623, 16, "An invalid floating point operation occurred.");
    if (std::isinf(x)) return fn::raise(ctx, 8115, 16, "Arithmetic overflow error converting expression to data type float.");
    sqlite3_result_double(ctx, x);
}

// A double converted to the result type `t` (an int type truncates, as a conversion from float does).
void doubleAs(sqlite3_context *ctx, double x, const num::Type &t)
{
    if (std::isnan(x) || std::isinf(x) || t.kind == num::Type::Float || t.kind == num::Type::Real
        || t.kind == num::Type::Unknown)
        return floatResult(ctx, x);
    if (t.kind == num::Type::Int) {
        const double limit = t.precision >= 19 ? 9223372036854775808.0 : 2147483648.0;
        if (std::trunc(x) >= limit || std::trunc(x) < -limit) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.6f", x);
            return fn::raise(ctx, 232, 16, std::string("Arithmetic overflow error for type ") + overflowTarget(t)
                             + ", value = " + buf + ".");
        }
        sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(std::trunc(x)));
        return;
    }
    exactResult(ctx, num::fromDouble(x), t);
}

bool anyNull(int argc, sqlite3_value **a)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(a[k]) == SQLITE_NULL) return true;
    return false;
}

// Rounds `d` to `digits` fraction digits (negative: to tens, hundreds ...), or cuts it off there.
num::Dec roundAt(const num::Dec &d, long digits, bool truncate)
{
    if (digits >= d.scale) return d;
    const long drop = d.scale - digits;
    num::Dec out = d;
    if (drop > 80) { out.units = 0; return out; }
    mpz_class unit;
    mpz_ui_pow_ui(unit.get_mpz_t(), 10, static_cast<unsigned long>(drop));
    mpz_class q = d.units / unit; // toward zero
    if (!truncate) {
        const mpz_class rest = abs(d.units - q * unit);
        if (rest * 2 >= unit) q += sgn(d.units) < 0 ? -1 : 1;
    }
    out.units = q * unit;
    return out;
}

// dv_round(x, length, function, type)
void fnRound(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (anyNull(argc - 1, a)) return sqlite3_result_null(ctx);
    const num::Type t = typeOfValue(a[0], fn::text(a[3]));
    const long digits = static_cast<long>(sqlite3_value_int64(a[1]));
    const bool truncate = sqlite3_value_int64(a[2]) != 0;
    if (t.kind == num::Type::Float || t.kind == num::Type::Real) {
        const double x = sqlite3_value_double(a[0]);
        if (digits > 308) return floatResult(ctx, x);
        const double scale = std::pow(10.0, static_cast<double>(digits));
        const double y = truncate ? std::trunc(x * scale) : std::round(x * scale);
        return floatResult(ctx, std::isinf(scale) ? x : y / scale);
    }
    num::Dec d;
    if (!fn::toDec(a[0], d)) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    exactResult(ctx, roundAt(d, digits, truncate), t);
}

// dv_floor(x, type), dv_ceiling(x, type)
void floorOrCeiling(sqlite3_context *ctx, sqlite3_value **a, bool up)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const num::Type t = typeOfValue(a[0], fn::text(a[1]));
    if (t.kind == num::Type::Float || t.kind == num::Type::Real) {
        const double x = sqlite3_value_double(a[0]);
        return floatResult(ctx, up ? std::ceil(x) : std::floor(x));
    }
    num::Dec d;
    if (!fn::toDec(a[0], d)) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    num::Dec whole = roundAt(d, 0, true);
    if (whole.units != d.units) {
        mpz_class unit;
        mpz_ui_pow_ui(unit.get_mpz_t(), 10, static_cast<unsigned long>(std::max(d.scale, 0)));
        if (up && sgn(d.units) > 0) whole.units += unit;
        if (!up && sgn(d.units) < 0) whole.units -= unit;
    }
    exactResult(ctx, whole, t);
}

void fnFloor(sqlite3_context *ctx, int, sqlite3_value **a) { floorOrCeiling(ctx, a, false); }
void fnCeiling(sqlite3_context *ctx, int, sqlite3_value **a) { floorOrCeiling(ctx, a, true); }

// dv_abs(x, type), dv_sign(x, type)
void absOrSign(sqlite3_context *ctx, sqlite3_value **a, bool sign)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const num::Type t = typeOfValue(a[0], fn::text(a[1]));
    if (t.kind == num::Type::Float || t.kind == num::Type::Real) {
        const double x = sqlite3_value_double(a[0]);
        return floatResult(ctx, sign ? double((x > 0) - (x < 0)) : std::fabs(x));
    }
    num::Dec d;
    if (!fn::toDec(a[0], d)) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    if (sign) {
        d.units = sgn(d.units);
        d.scale = 0;
    } else {
        d.units = abs(d.units);
    }
    exactResult(ctx, d, t);
}

void fnAbs(sqlite3_context *ctx, int, sqlite3_value **a) { absOrSign(ctx, a, false); }
void fnSign(sqlite3_context *ctx, int, sqlite3_value **a) { absOrSign(ctx, a, true); }

// dv_power(x, y, type): computed in doubles, given the first argument's type.
void fnPower(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(2, a)) return sqlite3_result_null(ctx);
    double x = 0, y = 0;
    if (!fn::toDouble(a[0], x) || !fn::toDouble(a[1], y))
        return fn::raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    doubleAs(ctx, std::pow(x, y), typeOfValue(a[0], fn::text(a[2])));
}

// dv_totype(x, type): a double result in the type of the function's argument (DEGREES, RADIANS).
void fnToType(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    doubleAs(ctx, sqlite3_value_double(a[0]), num::typeFromCode(fn::text(a[1])));
}

double unary(const std::string &name, double x)
{
    static const struct { const char *name; double (*f)(double); } table[] = {
        {"sqrt", [](double v) { return v < 0 ? NAN : std::sqrt(v); }},
        {"square", [](double v) { return v * v; }},
        {"exp", [](double v) { return std::exp(v); }},
        {"log", [](double v) { return v <= 0 ? NAN : std::log(v); }},
        {"log10", [](double v) { return v <= 0 ? NAN : std::log10(v); }},
        {"sin", [](double v) { return std::sin(v); }}, {"cos", [](double v) { return std::cos(v); }},
        {"tan", [](double v) { return std::tan(v); }}, {"cot", [](double v) { return v == 0 ? NAN : 1 / std::tan(v); }},
        {"asin", [](double v) { return v < -1 || v > 1 ? NAN : std::asin(v); }},
        {"acos", [](double v) { return v < -1 || v > 1 ? NAN : std::acos(v); }},
        {"atan", [](double v) { return std::atan(v); }},
        {"degrees", [](double v) { return v * 180 / M_PI; }}, {"radians", [](double v) { return v * M_PI / 180; }}};
    for (const auto &e : table)
        if (name == e.name) return e.f(x);
    return NAN;
}

// dv_fmath(name, x [, y]): the float functions.
void fnFloatMath(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    const std::string name = fn::text(a[0]);
    if (name == "pi") return sqlite3_result_double(ctx, M_PI);
    if (anyNull(argc - 1, a + 1)) return sqlite3_result_null(ctx);
    double x = 0, y = 0;
    if (!fn::toDouble(a[1], x) || (argc > 2 && !fn::toDouble(a[2], y)))
        return fn::raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    if (name == "atn2") return floatResult(ctx, std::atan2(x, y));
    if (name == "log" && argc > 2) {
        if (x <= 0 || y <= 0 || y == 1) return floatResult(ctx, NAN);
        return floatResult(ctx, std::log(x) / std::log(y));
    }
    floatResult(ctx, unary(name, x));
}

// dv_rand(seed): a seed starts the session's sequence again.
void fnRand(sqlite3_context *ctx, int, sqlite3_value **a)
{
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    if (sqlite3_value_type(a[0]) != SQLITE_NULL) engine.seed(static_cast<uint64_t>(sqlite3_value_int64(a[0])));
    sqlite3_result_double(ctx, std::uniform_real_distribution<double>(0.0, 1.0)(engine));
}

// dv_str(x, length, decimals): right-aligned in `length` characters; '*' when the integral part does not fit.
void fnStr(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (anyNull(3, a)) return sqlite3_result_null(ctx);
    double x = 0;
    if (!fn::toDouble(a[0], x)) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to float.");
    const long length = static_cast<long>(sqlite3_value_int64(a[1]));
    long decimals = std::min(static_cast<long>(sqlite3_value_int64(a[2])), 16L);
    if (length <= 0 || length > 8000 || decimals < 0) return sqlite3_result_null(ctx);
    char buf[400];
    for (;;) {
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(decimals), x);
        if (static_cast<long>(std::strlen(buf)) <= length || decimals == 0) break;
        --decimals; // a long number gives up fraction digits first
    }
    std::string s = buf;
    if (static_cast<long>(s.size()) > length) s.assign(static_cast<size_t>(length), '*');
    else s.insert(0, static_cast<size_t>(length) - s.size(), ' ');
    fn::resultText(ctx, s);
}

// dv_floattext(x, style, isFloat): a float or real as CONVERT writes it to
// text; an integer too when the caller knows the expression is a float
// (isFloat), else only a double; other values pass.
void fnFloatText(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const int t = sqlite3_value_type(a[0]);
    if (t != SQLITE_FLOAT && !(t == SQLITE_INTEGER && sqlite3_value_int(a[2])))
        return sqlite3_result_value(ctx, a[0]);
    fn::resultText(ctx, fn::floatText(sqlite3_value_double(a[0]), sqlite3_value_int(a[1])));
}

// dv_moneytext(x, style): money as CONVERT writes it to text.
void fnMoneyText(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    num::Dec d;
    if (!fn::toDec(a[0], d)) return sqlite3_result_value(ctx, a[0]);
    const int style = sqlite3_value_int(a[1]);
    std::string s = num::format(num::rescale(d, style == 2 || style == 126 ? 4 : 2));
    if (style == 1) {
        const size_t begin = s[0] == '-' ? 1 : 0;
        for (long k = static_cast<long>(s.find('.')) - 3; k > static_cast<long>(begin); k -= 3)
            s.insert(static_cast<size_t>(k), 1, ',');
    }
    fn::resultText(ctx, s);
}

// dv_binarystyle(x, style, toText): binary to "0x..." (1) or "..." (2) hex text, and back.
void fnBinaryStyle(sqlite3_context *ctx, int, sqlite3_value **a)
{
    const int style = sqlite3_value_int(a[1]);
    const int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_NULL || (style != 1 && style != 2)) return sqlite3_result_value(ctx, a[0]);
    static const char digits[] = "0123456789ABCDEF";
    if (sqlite3_value_int(a[2])) {
        if (t != SQLITE_BLOB) return sqlite3_result_value(ctx, a[0]);
        const auto *p = static_cast<const unsigned char *>(sqlite3_value_blob(a[0]));
        std::string s = style == 1 ? "0x" : "";
        for (int k = 0; k < sqlite3_value_bytes(a[0]); ++k) {
            s += digits[p[k] >> 4];
            s += digits[p[k] & 15];
        }
        return fn::resultText(ctx, s);
    }
    if (t == SQLITE_BLOB) return sqlite3_result_value(ctx, a[0]);
    std::string s = fn::text(a[0]);
    const bool prefixed = s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    if (style == 1 && !prefixed) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to varbinary.");
    if (prefixed) s.erase(0, 2);
    std::string out;
    auto value = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    if (s.size() % 2) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to varbinary.");
    for (size_t k = 0; k < s.size(); k += 2) {
        const int hi = value(s[k]), lo = value(s[k + 1]);
        if (hi < 0 || lo < 0) return fn::raise(ctx, 8114, 16, "Error converting data type varchar to varbinary.");
        out += static_cast<char>(hi * 16 + lo);
    }
    sqlite3_result_blob(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

// dv_intbytes(x, width, n, fixed): an integer of `width` bytes (0: int, or left
// as it is when it does not fit one) as binary: big-endian, cut or (binary(n))
// padded with zeros on the left to n bytes.
void fnIntBytes(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) != SQLITE_INTEGER) return sqlite3_result_value(ctx, a[0]);
    const int64_t x = sqlite3_value_int64(a[0]);
    int width = sqlite3_value_int(a[1]);
    if (width == 0 && (x < INT32_MIN || x > INT32_MAX)) return sqlite3_result_value(ctx, a[0]);
    if (width == 0) width = 4;
    std::string b;
    for (int k = width - 1; k >= 0; --k) b += static_cast<char>((static_cast<uint64_t>(x) >> (8 * k)) & 0xFF);
    const int n = sqlite3_value_int(a[2]);
    if (n > 0 && static_cast<size_t>(n) < b.size()) b.erase(0, b.size() - static_cast<size_t>(n));
    else if (n > 0 && sqlite3_value_int(a[3])) b.insert(0, static_cast<size_t>(n) - b.size(), '\0');
    sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

} // namespace

void registerMathFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_round", 4, det, nullptr, fnRound, nullptr, nullptr);
    sqlite3_create_function(db, "dv_floor", 2, det, nullptr, fnFloor, nullptr, nullptr);
    sqlite3_create_function(db, "dv_ceiling", 2, det, nullptr, fnCeiling, nullptr, nullptr);
    sqlite3_create_function(db, "dv_abs", 2, det, nullptr, fnAbs, nullptr, nullptr);
    sqlite3_create_function(db, "dv_sign", 2, det, nullptr, fnSign, nullptr, nullptr);
    sqlite3_create_function(db, "dv_power", 3, det, nullptr, fnPower, nullptr, nullptr);
    sqlite3_create_function(db, "dv_totype", 2, det, nullptr, fnToType, nullptr, nullptr);
    sqlite3_create_function(db, "dv_fmath", -1, det, nullptr, fnFloatMath, nullptr, nullptr);
    sqlite3_create_function(db, "dv_rand", 1, SQLITE_UTF8, nullptr, fnRand, nullptr, nullptr);
    sqlite3_create_function(db, "dv_str", 3, det, nullptr, fnStr, nullptr, nullptr);
    sqlite3_create_function(db, "dv_moneytext", 2, det, nullptr, fnMoneyText, nullptr, nullptr);
    sqlite3_create_function(db, "dv_floattext", 3, det, nullptr, fnFloatText, nullptr, nullptr);
    sqlite3_create_function(db, "dv_binarystyle", 3, det, nullptr, fnBinaryStyle, nullptr, nullptr);
    sqlite3_create_function(db, "dv_intbytes", 4, det, nullptr, fnIntBytes, nullptr, nullptr);
}

namespace fn {

// float and real as CONVERT writes them to text: style 0 at most 6 digits
// (scientific when the exponent asks), 1 and 2 always scientific with 8 and
// 16 digits, 3 17 digits, enough to read back the same double. Exponents
// have three digits ("1.23457e+008").
std::string floatText(double v, int style)
{
    const char *format = style == 1 ? "%.7e" : style == 2 ? "%.15e" : style == 3 ? "%.17g" : "%.6g";
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    std::string s = buf;
    const size_t e = s.find('e');
    if (e != std::string::npos && s.size() - e == 4) s.insert(e + 2, 1, '0');
    return s;
}

} // namespace fn

} // namespace ts
