// Exact decimal numbers for decimal/numeric, money and smallmoney: a GMP
// integer scaled by 10^-scale, and SQL Server's rules for the type of a
// sum, difference, product and quotient.
#pragma once

#include <gmpxx.h>

#include <string>
#include <string_view>

namespace ts::num {

struct Dec {
    mpz_class units;  // value = units / 10^scale
    int scale = 0;
};

// "-12.50", "+3", ".5", "1e3", "1.5E-2", surrounding blanks allowed.
bool parse(std::string_view text, Dec &out);
// The shortest decimal that reads back as `d` (17 significant digits at most).
Dec fromDouble(double d);
// Exactly `scale` fraction digits, no sign on zero: "-12.50", "0.000".
std::string format(const Dec &d);
// Plain decimal text ("-12.5", "7", ".25") written with `scale` fraction
// digits when that needs no rounding and the integral part has at most
// `maxIntegral` digits; false otherwise (then parse, rescale and format).
// The quick path for values that are stored or read.
bool quickFormat(std::string_view text, int scale, int maxIntegral, std::string &out);
// To another scale, rounding half away from zero.
Dec rescale(const Dec &d, int scale);
int compare(const Dec &a, const Dec &b);
// Digits of the integral part (0 for |d| < 1).
int integralDigits(const Dec &d);
double toDouble(const Dec &d);

// The type of a numeric expression as far as arithmetic needs it.
struct Type {
    enum Kind { Unknown, IntLiteral, Int, Decimal, Money, SmallMoney, Float, Real, Other } kind = Unknown;
    int precision = 0;  // IntLiteral: its digits; Int: 3, 5, 10 or 19
    int scale = 0;
    bool decimalName = false; // Decimal: declared "decimal" (else numeric, as arithmetic results are)
    bool exact() const { return kind == IntLiteral || kind == Int || kind == Decimal || kind == Money || kind == SmallMoney; }
    bool numeric() const { return exact() || kind == Float || kind == Real; }
    bool decimalLike() const { return kind == Decimal || kind == Money || kind == SmallMoney; }
};
Type decimalType(int precision, int scale);
// "d5,2" (numeric), "D5,2" (decimal), "l1", "i10", "m", "s", "f", "r", "o", "" (unknown): the form
// the translator passes to the functions that compute at run time.
std::string typeCode(const Type &t);
Type typeFromCode(std::string_view code);
// The type of a column or CAST target ("decimal", 18, 2); Other for non-numbers.
Type typeFromName(const std::string &name, int precision, int scale);
// The type of a numeric literal as written: 10 -> int, 1.0 -> numeric(2,1), 1e0 -> float.
Type literalType(const std::string &text);

// The result type of `a op b` (op one of + - * / %); Unknown when an operand is.
Type resultType(char op, Type a, Type b);
// A decimal operand's precision and scale (an int as decimal(10,0), a literal
// 3 as decimal(1,0), money as decimal(19,4)).
Type asDecimal(Type t);

// Computes `a op b` exactly and rounds it to `result`'s scale. Returns false
// for a division by zero (`*divZero` set) or a result that does not fit
// `result`'s precision.
bool apply(char op, const Dec &a, const Dec &b, const Type &result, Dec &out, bool *divZero);
// Whether `d` fits the type (digits of the integral part, money ranges).
bool fits(const Dec &d, const Type &t);

} // namespace ts::num
