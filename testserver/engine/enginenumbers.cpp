#include "engine/enginenumbers.h"

#include "base/decimal.h"
#include "engine/enginefunctions.h"
#include "engine/functions.h"

#include <cmath>
#include <cstring>
#include <new>

namespace ts {

namespace {

void raise(sqlite3_context *ctx, int number, const std::string &text)
{
    const std::string e = encodeError(number, 16, text);
    sqlite3_result_error(ctx, e.c_str(), int(e.size()));
}

// Numbers are read as the scalar function families read them.
using fn::toDec;

// The source type an overflow message names: the static type when known;
// otherwise numbers count as numeric (literals with more digits than a
// double reach SQLite as text).
const char *sourceName(sqlite3_value *v, const num::Type &declared)
{
    switch (declared.kind) {
    case num::Type::Decimal: return "numeric";
    case num::Type::Money: return "money";
    case num::Type::SmallMoney: return "smallmoney";
    case num::Type::Int: return declared.precision >= 19 ? "bigint" : "int";
    case num::Type::IntLiteral: return "int";
    case num::Type::Float: return "float";
    case num::Type::Real: return "real";
    case num::Type::Other: return "varchar";
    case num::Type::Unknown: break;
    }
    num::Dec d;
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return "int";
    case SQLITE_FLOAT: return "numeric";
    case SQLITE_TEXT: return num::parse(fn::text(v), d) ? "numeric" : "varchar";
    default: return "varbinary";
    }
}

// dv_numcast(value, type, precision, scale, sourceType): CAST/CONVERT to decimal, money or smallmoney.
void fnNumCast(sqlite3_context *ctx, int, sqlite3_value **a)
{
    convertNumber(ctx, a[0], fn::text(a[1]), sqlite3_value_int(a[2]), sqlite3_value_int(a[3]), true, fn::text(a[4]));
}

const char *targetName(const num::Type &t)
{
    return t.kind == num::Type::Money ? "money" : t.kind == num::Type::SmallMoney ? "smallmoney" : "numeric";
}

void resultDec(sqlite3_context *ctx, const num::Dec &d)
{
    const std::string s = num::format(d);
    sqlite3_result_text(ctx, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
}

// The type of an operand the translator could not type: from its value.
num::Type runtimeType(sqlite3_value *v)
{
    num::Type t;
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 x = sqlite3_value_int64(v);
        t.kind = num::Type::Int;
        t.precision = x >= INT32_MIN && x <= INT32_MAX ? 10 : 19;
        return t;
    }
    case SQLITE_FLOAT:
        t.kind = num::Type::Float;
        return t;
    case SQLITE_TEXT: {
        num::Dec d;
        if (!num::parse(fn::text(v), d)) break;
        const int digits = int(mpz_class(abs(d.units)).get_str(10).size());
        return num::decimalType(std::max(digits, d.scale), d.scale);
    }
    default:
        break;
    }
    t.kind = num::Type::Other;
    return t;
}

// dv_num(op, a, b, typeA, typeB): a op b with SQL Server's result type for
// decimal, money and smallmoney operands, computed exactly.
void fnNum(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[1]) == SQLITE_NULL || sqlite3_value_type(a[2]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const char op = fn::text(a[0]).c_str()[0];
    num::Type ta = num::typeFromCode(fn::text(a[3])), tb = num::typeFromCode(fn::text(a[4]));
    // Untyped operands and text take the type their value has.
    if (ta.kind == num::Type::Unknown || ta.kind == num::Type::Other) ta = runtimeType(a[1]);
    if (tb.kind == num::Type::Unknown || tb.kind == num::Type::Other) tb = runtimeType(a[2]);
    if (op == 'n') {
        // Unary minus keeps the operand's type.
        num::Dec x;
        if (ta.kind == num::Type::Float || ta.kind == num::Type::Real) sqlite3_result_double(ctx, -sqlite3_value_double(a[1]));
        else if (!toDec(a[1], x)) raise(ctx, 8114, "Error converting data type varchar to numeric.");
        else if (ta.kind == num::Type::Int || ta.kind == num::Type::IntLiteral) sqlite3_result_int64(ctx, -sqlite3_value_int64(a[1]));
        else {
            x.units = -x.units;
            resultDec(ctx, num::rescale(x, ta.kind == num::Type::Decimal ? ta.scale : 4));
        }
        return;
    }
    if (ta.kind == num::Type::Other || tb.kind == num::Type::Other) {
        raise(ctx, 8114, "Error converting data type varchar to numeric.");
        return;
    }
    const num::Type r = num::resultType(op, ta, tb);
    if (r.kind == num::Type::Float || r.kind == num::Type::Real) {
        const double x = sqlite3_value_double(a[1]), y = sqlite3_value_double(a[2]);
        if ((op == '/' || op == '%') && y == 0) {
            raise(ctx, 8134, "Divide by zero error encountered.");
            return;
        }
        double z = op == '+' ? x + y : op == '-' ? x - y : op == '*' ? x * y : op == '/' ? x / y : std::fmod(x, y);
        if (r.kind == num::Type::Real) z = double(float(z));
        sqlite3_result_double(ctx, z);
        return;
    }
    num::Dec x, y, out;
    if (!toDec(a[1], x) || !toDec(a[2], y)) {
        raise(ctx, 8114, "Error converting data type varchar to numeric.");
        return;
    }
    if (r.kind == num::Type::Int) {
        // Integers: the quotient truncates; overflow of the type is an error.
        mpz_class z;
        if ((op == '/' || op == '%') && y.units == 0) {
            raise(ctx, 8134, "Divide by zero error encountered.");
            return;
        }
        switch (op) {
        case '+': z = x.units + y.units; break;
        case '-': z = x.units - y.units; break;
        case '*': z = x.units * y.units; break;
        case '/': mpz_tdiv_q(z.get_mpz_t(), x.units.get_mpz_t(), y.units.get_mpz_t()); break;
        default: mpz_tdiv_r(z.get_mpz_t(), x.units.get_mpz_t(), y.units.get_mpz_t()); break;
        }
        const bool big = r.precision >= 19;
        if (!z.fits_slong_p() || (!big && (z < INT32_MIN || z > INT32_MAX))) {
            raise(ctx, 8115, std::string("Arithmetic overflow error converting expression to data type ") + (big ? "bigint." : "int."));
            return;
        }
        sqlite3_result_int64(ctx, z.get_si());
        return;
    }
    bool divZero = false;
    if (!num::apply(op, x, y, r, out, &divZero)) {
        if (divZero) raise(ctx, 8134, "Divide by zero error encountered.");
        else raise(ctx, 8115, std::string("Arithmetic overflow error converting expression to data type ") + targetName(r) + ".");
        return;
    }
    resultDec(ctx, out);
}

int compareDecimal(void *, int na, const void *a, int nb, const void *b)
{
    num::Dec x, y;
    const std::string_view sa(static_cast<const char *>(a), size_t(na)), sb(static_cast<const char *>(b), size_t(nb));
    if (num::parse(sa, x) && num::parse(sb, y)) return num::compare(x, y);
    const int c = std::memcmp(a, b, size_t(std::min(na, nb)));
    return c != 0 ? c : na - nb;
}

// SUM and AVG of decimal and money values: exact, as decimal(38, s) (SUM),
// decimal(38, max(s, 6)) (AVG) or money. The state lives on the heap; the
// aggregate context holds its pointer.
struct Sum {
    num::Dec total;
    long long count = 0;
    num::Type type;
};

Sum *sumState(sqlite3_context *ctx, bool create)
{
    auto **slot = static_cast<Sum **>(sqlite3_aggregate_context(ctx, create ? int(sizeof(Sum *)) : 0));
    if (!slot) return nullptr;
    if (!*slot && create) *slot = new (std::nothrow) Sum;
    return *slot;
}

// dv_decsum(x, type) and dv_decavg(x, type); with DISTINCT the type is left
// out and the scale comes from the values.
void sumStep(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    Sum *st = sumState(ctx, true);
    if (!st || sqlite3_value_type(a[0]) == SQLITE_NULL) return;
    if (st->count == 0 && argc > 1) st->type = num::typeFromCode(fn::text(a[1]));
    num::Dec d;
    if (!toDec(a[0], d)) {
        raise(ctx, 8114, "Error converting data type varchar to numeric.");
        return;
    }
    num::apply('+', st->total, d, num::decimalType(38, std::max(st->total.scale, d.scale)), st->total, nullptr);
    st->count++;
}

void sumInverse(sqlite3_context *ctx, int, sqlite3_value **a)
{
    Sum *st = sumState(ctx, true);
    num::Dec d;
    if (!st || sqlite3_value_type(a[0]) == SQLITE_NULL || !toDec(a[0], d)) return;
    num::apply('-', st->total, d, num::decimalType(38, std::max(st->total.scale, d.scale)), st->total, nullptr);
    st->count--;
}

void finish(sqlite3_context *ctx, bool average, bool final)
{
    Sum *st = sumState(ctx, false);
    if (!st || st->count == 0) {
        sqlite3_result_null(ctx);
    } else {
        const num::Type in = st->type;
        num::Type out = in.kind == num::Type::Money || in.kind == num::Type::SmallMoney
            ? num::typeFromName("money", 0, 0)
            : num::decimalType(38, average ? std::max(in.scale, 6) : in.scale);
        if (!in.decimalLike()) out = num::decimalType(38, average ? std::max(st->total.scale, 6) : st->total.scale);
        num::Dec v = st->total;
        bool ok = true;
        if (average) {
            num::Dec n;
            n.units = static_cast<long>(st->count);
            ok = num::apply('/', st->total, n, out, v, nullptr);
        } else {
            v = num::rescale(v, out.kind == num::Type::Decimal ? out.scale : 4);
            ok = num::fits(v, out);
        }
        if (ok) resultDec(ctx, v);
        else raise(ctx, 8115, std::string("Arithmetic overflow error converting expression to data type ") + targetName(out) + ".");
    }
    if (final && st) {
        delete st;
        *static_cast<Sum **>(sqlite3_aggregate_context(ctx, 0)) = nullptr;
    }
}

void sumValue(sqlite3_context *ctx) { finish(ctx, false, false); }
void sumFinal(sqlite3_context *ctx) { finish(ctx, false, true); }
void avgValue(sqlite3_context *ctx) { finish(ctx, true, false); }
void avgFinal(sqlite3_context *ctx) { finish(ctx, true, true); }

} // namespace

bool convertNumber(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, int precision, int scale,
                   bool storeResult, const std::string &sourceType)
{
    const int vt = sqlite3_value_type(v);
    if (vt == SQLITE_NULL) {
        if (storeResult) sqlite3_result_null(ctx);
        return true;
    }
    const num::Type target = num::typeFromName(type, precision, scale);
    if (target.kind == num::Type::Float || target.kind == num::Type::Real) {
        double d = 0;
        num::Dec dec;
        if (vt == SQLITE_INTEGER || vt == SQLITE_FLOAT) d = sqlite3_value_double(v);
        else if (vt == SQLITE_TEXT && num::parse(fn::text(v), dec)) d = num::toDouble(dec);
        else {
            raise(ctx, 8114, "Error converting data type " + std::string(vt == SQLITE_TEXT ? "varchar" : "varbinary") + " to float.");
            return false;
        }
        if (target.kind == num::Type::Real) {
            if (std::isfinite(d) && std::fabs(d) > 3.40282346638528859811704183484516925440e+38) {
                raise(ctx, 8115, "Arithmetic overflow error converting expression to data type real.");
                return false;
            }
            d = double(float(d));
        }
        if (storeResult) sqlite3_result_double(ctx, d);
        return true;
    }
    // Stored values arrive as text with at most the column's scale: no arithmetic needed.
    std::string quick;
    if (vt == SQLITE_TEXT && target.kind == num::Type::Decimal
        && num::quickFormat(fn::text(v), target.scale, target.precision - target.scale, quick)) {
        if (storeResult) sqlite3_result_text(ctx, quick.c_str(), int(quick.size()), SQLITE_TRANSIENT);
        return true;
    }
    num::Dec d;
    if (!toDec(v, d)) {
        raise(ctx, 8114, "Error converting data type " + std::string(vt == SQLITE_TEXT ? "varchar" : "varbinary") + " to "
                             + targetName(target) + ".");
        return false;
    }
    const num::Dec r = num::rescale(d, target.kind == num::Type::Decimal ? target.scale : 4);
    if (!num::fits(r, target)) {
        raise(ctx, 8115, std::string("Arithmetic overflow error converting ") + sourceName(v, num::typeFromCode(sourceType))
                             + " to data type " + targetName(target) + ".");
        return false;
    }
    if (storeResult) resultDec(ctx, r);
    return true;
}

std::string decimalText(sqlite3_value *v, int scale)
{
    std::string quick;
    if (sqlite3_value_type(v) == SQLITE_TEXT && num::quickFormat(fn::text(v), scale, 38, quick)) return quick;
    num::Dec d;
    if (!toDec(v, d)) return fn::text(v);
    return num::format(num::rescale(d, scale));
}

void registerNumberFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_num", 5, det, nullptr, fnNum, nullptr, nullptr);
    sqlite3_create_function(db, "dv_numcast", 5, det, nullptr, fnNumCast, nullptr, nullptr);
    sqlite3_create_collation(db, kDecimalCollation, SQLITE_UTF8, nullptr, compareDecimal);
    for (int argc = 1; argc <= 2; ++argc) {
        sqlite3_create_window_function(db, "dv_decsum", argc, SQLITE_UTF8, nullptr, sumStep, sumFinal, sumValue, sumInverse, nullptr);
        sqlite3_create_window_function(db, "dv_decavg", argc, SQLITE_UTF8, nullptr, sumStep, avgFinal, avgValue, sumInverse, nullptr);
    }
}

} // namespace ts
