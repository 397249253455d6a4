// sql_variant in the translator: a value goes into a sql_variant with the
// type SQL Server gives the expression (a literal 'a' is varchar, N'a'
// nvarchar, 1.5 numeric(2,1), a column its declared type), so that its base
// type survives into storage and onto the wire.
#include "tsql/sqltranslate.h"

#include <algorithm>
#include <cstdint>

namespace ts {

namespace {

size_t utf8Chars(const std::string &s)
{
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

ColumnMeta named(const std::string &type, int length = 0, int precision = 0, int scale = 0)
{
    ColumnMeta m;
    m.type = type;
    m.length = length;
    m.precision = precision;
    m.scale = scale;
    return m;
}

ColumnMeta fromNumeric(num::Type t)
{
    switch (t.kind) {
    case num::Type::Int:
        return named(t.precision <= 3 ? "tinyint" : t.precision <= 5 ? "smallint" : t.precision <= 10 ? "int" : "bigint");
    case num::Type::IntLiteral:
        return t.precision <= 9 ? named("int") : named("numeric", t.precision, 0, 0);
    case num::Type::Decimal: return named(t.decimalName ? "decimal" : "numeric", 0, t.precision, t.scale);
    case num::Type::Money: return named("money", 0, 19, 4);
    case num::Type::SmallMoney: return named("smallmoney", 0, 10, 4);
    case num::Type::Float: return named("float");
    case num::Type::Real: return named("real");
    default: return ColumnMeta{};
    }
}

ColumnMeta literalType(const Token &k)
{
    const int chars = std::max(1, int(utf8Chars(k.value)));
    switch (k.kind) {
    case Token::String: return named("varchar", chars);
    case Token::NString: return named("nvarchar", chars);
    case Token::Binary: return named("varbinary", std::max(1, int(k.value.size() + 1) / 2));
    default: {
        ColumnMeta m = fromNumeric(num::literalType(k.value));
        // An integer literal beyond int's range is numeric of its digits.
        if (m.type == "numeric" && m.precision == 0) m.precision = int(k.value.size());
        return m;
    }
    }
}

} // namespace

ColumnMeta Translator::staticType(size_t begin, size_t end, num::Type numeric) const
{
    if (end <= begin) return ColumnMeta{};
    if (m_typedBegin == begin && m_typedEnd == end && !m_typedResult.type.empty()) return m_typedResult;
    const Token &k = t[begin];
    if (end == begin + 1 && (k.kind == Token::String || k.kind == Token::NString || k.kind == Token::Binary
                             || k.kind == Token::Number))
        return literalType(k);
    if (end == begin + 1 && k.kind == Token::Variable && ctx) return ctx->variableType(k.value);
    // table.column or column.
    std::vector<std::string> parts;
    for (size_t p = begin; p < end; ++p) {
        const Token &x = t[p];
        if ((p - begin) % 2 == 0 && (x.kind == Token::Ident || x.kind == Token::QuotedIdent)) parts.push_back(x.value);
        else if ((p - begin) % 2 == 1 && x.isOp(".")) continue;
        else return fromNumeric(numeric);
    }
    if (parts.empty() || (end - begin) % 2 == 0) return fromNumeric(numeric);
    const std::string qualifier = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
    for (auto scope = m_scopes.rbegin(); scope != m_scopes.rend(); ++scope) {
        const ColumnMeta *found = nullptr;
        int matches = 0;
        for (const auto &table : *scope) {
            if (!qualifier.empty() && !iequals(table.alias, qualifier)) continue;
            if (const ColumnMeta *c = table.meta.column(parts.back())) { found = c; ++matches; }
        }
        if (matches == 1) return *found;
        if (matches > 1) break;
    }
    return fromNumeric(numeric);
}

std::string Translator::asVariant(const std::string &e, size_t begin, size_t end, num::Type numeric)
{
    const ColumnMeta m = staticType(begin, end, numeric);
    if (m.type == "sql_variant") return e;
    if (m.type.empty()) return "dv_tovariant(" + e + ", '', 0, 0, 0)";
    // Exact numbers are brought to their scale first: SQLite reads 0.1 as a double.
    const bool exact = m.type == "decimal" || m.type == "numeric" || m.type == "money" || m.type == "smallmoney";
    const num::Type savedType = m_type;
    const bool savedPlain = m_plain;
    std::string value = exact ? castTo(e, numeric, m) : e;
    m_type = savedType;
    m_plain = savedPlain;
    return "dv_tovariant(" + value + ", " + typeArgs(m) + ")";
}

void Translator::requireComparable(size_t begin, size_t end) const
{
    if (staticType(begin, end, {}).type == "xml")
        throw makeError(305, 16, "The XML data type cannot be compared or sorted, except when using the IS NULL operator.",
                        true);
}

// SQL_VARIANT_PROPERTY(expression, property): itself a sql_variant.
std::string Translator::variantPropertyCall(size_t &i, Translation &tr, const Token &fn, ColumnMeta &result)
{
    const std::vector<std::string> args = argumentList(i, tr);
    if (args.size() != 2)
        throw makeError(174, 15, "The " + lower(fn.value) + " function requires 2 argument(s).", true);
    result = named("sql_variant", 8016);
    m_type = num::Type{};
    return "dv_variant_property(" + args[0] + ", " + args[1] + ")";
}

} // namespace ts
