#include "base/decimal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ts::num {

namespace {

mpz_class pow10(int n)
{
    mpz_class r;
    mpz_ui_pow_ui(r.get_mpz_t(), 10, static_cast<unsigned long>(n < 0 ? 0 : n));
    return r;
}

// Divides by 10^n, rounding half away from zero.
mpz_class shiftDown(const mpz_class &v, int n)
{
    if (n <= 0) return v * pow10(-n);
    const mpz_class d = pow10(n);
    mpz_class q, r;
    mpz_tdiv_qr(q.get_mpz_t(), r.get_mpz_t(), v.get_mpz_t(), d.get_mpz_t());
    mpz_class twice = abs(r) * 2;
    if (twice >= d) q += sgn(v) < 0 ? -1 : 1;
    return q;
}

int clampScale(int s) { return std::clamp(s, 0, 38); }

} // namespace

bool parse(std::string_view text, Dec &out)
{
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    std::string_view s = text.substr(b, e - b);
    size_t k = 0;
    bool neg = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) neg = s[k++] == '-';
    std::string digits;
    int scale = 0;
    bool point = false, any = false;
    for (; k < s.size(); ++k) {
        const char c = s[k];
        if (c >= '0' && c <= '9') {
            digits += c;
            any = true;
            if (point) ++scale;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    long exp = 0;
    if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
        const std::string rest(s.substr(k + 1));
        char *end = nullptr;
        exp = std::strtol(rest.c_str(), &end, 10);
        if (rest.empty() || *end != '\0' || exp > 400 || exp < -400) return false;
        k = s.size();
    }
    if (k != s.size()) return false;
    out.units.set_str(digits, 10);
    if (neg) out.units = -out.units;
    long sc = long(scale) - exp;
    if (sc < 0) {
        out.units *= pow10(int(-sc));
        sc = 0;
    }
    out.scale = int(sc);
    return true;
}

Dec fromDouble(double d)
{
    char buf[64];
    Dec out;
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*e", digits - 1, d);
        if (std::strtod(buf, nullptr) == d) break;
    }
    parse(buf, out);
    // Drop trailing zeros of the fraction so that 2.5 keeps scale 1.
    while (out.scale > 0 && mpz_divisible_ui_p(out.units.get_mpz_t(), 10)) {
        out.units /= 10;
        --out.scale;
    }
    return out;
}

std::string format(const Dec &d)
{
    std::string digits = mpz_class(abs(d.units)).get_str(10);
    if (int(digits.size()) <= d.scale) digits.insert(0, size_t(d.scale + 1) - digits.size(), '0');
    if (d.scale > 0) digits.insert(digits.size() - size_t(d.scale), 1, '.');
    return sgn(d.units) < 0 ? "-" + digits : digits;
}

bool quickFormat(std::string_view text, int scale, int maxIntegral, std::string &out)
{
    size_t k = 0;
    const bool neg = !text.empty() && text[0] == '-';
    if (neg || (!text.empty() && text[0] == '+')) ++k;
    size_t intBegin = k;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9') ++k;
    size_t intEnd = k;
    size_t fracBegin = k, fracEnd = k;
    if (k < text.size() && text[k] == '.') {
        fracBegin = ++k;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9') ++k;
        fracEnd = k;
    }
    if (k != text.size() || (intEnd == intBegin && fracEnd == fracBegin)) return false;
    if (int(fracEnd - fracBegin) > scale) return false;
    while (intBegin < intEnd && text[intBegin] == '0') ++intBegin;
    if (int(intEnd - intBegin) > maxIntegral) return false;
    bool zero = intBegin == intEnd;
    for (size_t f = fracBegin; f < fracEnd && zero; ++f) zero = text[f] == '0';
    out.clear();
    if (neg && !zero) out += '-';
    if (intBegin == intEnd) out += '0';
    else out.append(text.substr(intBegin, intEnd - intBegin));
    if (scale > 0) {
        out += '.';
        out.append(text.substr(fracBegin, fracEnd - fracBegin));
        out.append(size_t(scale) - (fracEnd - fracBegin), '0');
    }
    return true;
}

Dec rescale(const Dec &d, int scale)
{
    Dec out;
    out.scale = scale;
    out.units = shiftDown(d.units, d.scale - scale);
    return out;
}

int compare(const Dec &a, const Dec &b)
{
    const int s = std::max(a.scale, b.scale);
    const mpz_class x = a.units * pow10(s - a.scale), y = b.units * pow10(s - b.scale);
    const int c = cmp(x, y);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int integralDigits(const Dec &d)
{
    mpz_class whole = abs(d.units) / pow10(d.scale);
    return whole == 0 ? 0 : int(whole.get_str(10).size());
}

double toDouble(const Dec &d)
{
    return std::strtod(format(d).c_str(), nullptr);
}

Type decimalType(int precision, int scale)
{
    Type t;
    t.kind = Type::Decimal;
    t.precision = std::clamp(precision, 1, 38);
    t.scale = std::clamp(scale, 0, t.precision);
    return t;
}

std::string typeCode(const Type &t)
{
    switch (t.kind) {
    case Type::Unknown: return "";
    case Type::IntLiteral: return "l" + std::to_string(t.precision);
    case Type::Int: return "i" + std::to_string(t.precision);
    case Type::Decimal: return (t.decimalName ? "D" : "d") + std::to_string(t.precision) + "," + std::to_string(t.scale);
    case Type::Money: return "m";
    case Type::SmallMoney: return "s";
    case Type::Float: return "f";
    case Type::Real: return "r";
    case Type::Other: return "o";
    }
    return "";
}

Type typeFromCode(std::string_view code)
{
    Type t;
    if (code.empty()) return t;
    const std::string rest(code.substr(1));
    switch (code[0]) {
    case 'l': t.kind = Type::IntLiteral; t.precision = std::atoi(rest.c_str()); break;
    case 'i': t.kind = Type::Int; t.precision = std::atoi(rest.c_str()); break;
    case 'd': case 'D': {
        const size_t c = rest.find(',');
        t = decimalType(std::atoi(rest.c_str()), c == std::string::npos ? 0 : std::atoi(rest.c_str() + c + 1));
        t.decimalName = code[0] == 'D';
        return t;
    }
    case 'm': t.kind = Type::Money; t.precision = 19; t.scale = 4; break;
    case 's': t.kind = Type::SmallMoney; t.precision = 10; t.scale = 4; break;
    case 'f': t.kind = Type::Float; break;
    case 'r': t.kind = Type::Real; break;
    default: t.kind = Type::Other; break;
    }
    return t;
}

Type typeFromName(const std::string &name, int precision, int scale)
{
    Type t;
    if (name == "decimal" || name == "numeric") {
        t = decimalType(precision, scale);
        t.decimalName = name == "decimal";
        return t;
    }
    if (name == "int") { t.kind = Type::Int; t.precision = 10; }
    else if (name == "bigint") { t.kind = Type::Int; t.precision = 19; }
    else if (name == "smallint") { t.kind = Type::Int; t.precision = 5; }
    else if (name == "tinyint") { t.kind = Type::Int; t.precision = 3; }
    else if (name == "bit") { t.kind = Type::Int; t.precision = 1; }
    else if (name == "money") { t.kind = Type::Money; t.precision = 19; t.scale = 4; }
    else if (name == "smallmoney") { t.kind = Type::SmallMoney; t.precision = 10; t.scale = 4; }
    else if (name == "float") t.kind = Type::Float;
    else if (name == "real") t.kind = Type::Real;
    else t.kind = Type::Other;
    return t;
}

Type literalType(const std::string &text)
{
    Type t;
    if (text.find_first_of("eE") != std::string::npos) {
        t.kind = Type::Float;
        return t;
    }
    // Digits as written, without leading zeros: 1.0 is numeric(2,1), 0.1 numeric(1,1).
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const size_t first = whole.find_first_not_of('0');
    const int intDigits = first == std::string::npos ? 0 : int(whole.size() - first);
    const int scale = point == std::string::npos ? 0 : int(text.size() - point - 1);
    if (whole.find_first_not_of("0123456789") != std::string::npos
        || (point != std::string::npos && text.find_first_not_of("0123456789", point + 1) != std::string::npos)) {
        t.kind = Type::Other;
        return t;
    }
    if (point == std::string::npos) {
        // Integers beyond int's range are numeric(p,0).
        if (intDigits < 10 || (intDigits == 10 && whole.substr(first) <= "2147483647")) {
            t.kind = Type::IntLiteral;
            t.precision = std::max(intDigits, 1);
            return t;
        }
        return decimalType(intDigits, 0);
    }
    return decimalType(std::max(intDigits + scale, 1), scale);
}

Type asDecimal(Type t)
{
    switch (t.kind) {
    case Type::IntLiteral: return decimalType(std::max(t.precision, 1), 0);
    case Type::Int: return decimalType(t.precision, 0);
    case Type::Money: return decimalType(19, 4);
    case Type::SmallMoney: return decimalType(10, 4);
    default: return t;
    }
}

Type resultType(char op, Type a, Type b)
{
    Type r;
    if (a.kind == Type::Unknown || b.kind == Type::Unknown) return r;
    if (a.kind == Type::Other || b.kind == Type::Other) { r.kind = Type::Other; return r; }
    if (a.kind == Type::Float || b.kind == Type::Float) { r.kind = Type::Float; return r; }
    if (a.kind == Type::Real || b.kind == Type::Real) { r.kind = Type::Real; return r; }
    if (a.kind != Type::Decimal && b.kind != Type::Decimal) {
        if (a.kind == Type::Money || b.kind == Type::Money) return typeFromName("money", 0, 0);
        if (a.kind == Type::SmallMoney || b.kind == Type::SmallMoney) return typeFromName("smallmoney", 0, 0);
        r.kind = Type::Int;
        auto width = [](const Type &t) { return t.kind == Type::IntLiteral ? 10 : t.precision; };
        r.precision = std::max(width(a), width(b)) >= 19 ? 19 : 10;
        return r;
    }
    const Type x = asDecimal(a), y = asDecimal(b);
    const int p1 = x.precision, s1 = x.scale, p2 = y.precision, s2 = y.scale;
    int p = 0, s = 0;
    switch (op) {
    case '+': case '-': {
        s = std::max(s1, s2);
        const int whole = std::max(p1 - s1, p2 - s2);
        p = whole + s + 1;
        if (p > 38) { s = std::max(38 - whole, 0); p = 38; }
        return decimalType(p, s);
    }
    case '*': p = p1 + p2 + 1; s = s1 + s2; break;
    case '/': s = std::max(6, s1 + p2 + 1); p = p1 - s1 + s2 + s; break;
    default: // %
        s = std::max(s1, s2);
        p = std::min(p1 - s1, p2 - s2) + s;
        return decimalType(std::max(p, 1), s);
    }
    if (p > 38) {
        // The integral part is kept; the scale gives way, but not below 6 unless it was smaller.
        const int whole = p - s;
        s = std::max(std::min(s, 38 - whole), std::min(s, 6));
        p = 38;
    }
    return decimalType(p, clampScale(s));
}

bool fits(const Dec &d, const Type &t)
{
    switch (t.kind) {
    case Type::Money: {
        const Dec v = rescale(d, 4);
        return v.units >= mpz_class("-9223372036854775808") && v.units <= mpz_class("9223372036854775807");
    }
    case Type::SmallMoney: {
        const Dec v = rescale(d, 4);
        return v.units >= -2147483647L - 1 && v.units <= 2147483647L;
    }
    case Type::Decimal: {
        const Dec v = rescale(d, t.scale);
        return abs(v.units) < pow10(t.precision);
    }
    default:
        return true;
    }
}

bool apply(char op, const Dec &a, const Dec &b, const Type &result, Dec &out, bool *divZero)
{
    if (divZero) *divZero = false;
    const int s = result.kind == Type::Decimal ? result.scale : 4;
    Dec exact;
    switch (op) {
    case '+': case '-': {
        exact.scale = std::max(a.scale, b.scale);
        const mpz_class x = a.units * pow10(exact.scale - a.scale), y = b.units * pow10(exact.scale - b.scale);
        exact.units = op == '+' ? mpz_class(x + y) : mpz_class(x - y);
        break;
    }
    case '*':
        exact.units = a.units * b.units;
        exact.scale = a.scale + b.scale;
        break;
    case '/': case '%': {
        if (b.units == 0) {
            if (divZero) *divZero = true;
            return false;
        }
        if (op == '/') {
            // a/b at scale s + 1 digits more than needed, then rounded: units = a * 10^(s + 1 + sb - sa) / b.
            const int shift = s + 1 + b.scale - a.scale;
            mpz_class num = a.units, den = b.units;
            if (shift >= 0) num *= pow10(shift);
            else den *= pow10(-shift);
            exact.units = num / den; // truncates toward zero; the extra digit rounds below
            exact.scale = s + 1;
        } else {
            exact.scale = std::max(a.scale, b.scale);
            const mpz_class x = a.units * pow10(exact.scale - a.scale), y = b.units * pow10(exact.scale - b.scale);
            mpz_tdiv_r(exact.units.get_mpz_t(), x.get_mpz_t(), y.get_mpz_t());
        }
        break;
    }
    default:
        return false;
    }
    out = rescale(exact, s);
    return fits(out, result);
}

} // namespace ts::num
