// sql_variant where SQL Server converts nothing by itself: an operator of
// arithmetic on it is refused (8117), a value of it assigned to a variable or
// column of another type is refused (257), and IN and BETWEEN against it
// compare sql_variant values, as its comparison operators do.
#include "tsql/sqltranslate.h"

#include "base/sqlitenames.h"

namespace ts {

namespace {

const char *operatorName(const std::string &o)
{
    if (o == "+") return "add";
    if (o == "-") return "subtract";
    if (o == "*") return "multiply";
    if (o == "/") return "divide";
    if (o == "%") return "modulo";
    return nullptr;
}

} // namespace

void Translator::refuseVariantArithmetic(const std::string &o, size_t leftBegin, size_t leftEnd, size_t rightBegin,
                                         size_t rightEnd) const
{
    const char *name = operatorName(o);
    if (name && (isVariant(leftBegin, leftEnd) || isVariant(rightBegin, rightEnd)))
        throw makeError(8117, 16, std::string("Operand data type sql_variant is invalid for ") + name + " operator.", true);
}

void Translator::refuseVariantTo(size_t begin, size_t end, const ColumnMeta &target) const
{
    if (target.type.empty() || target.type == "sql_variant" || !isVariant(begin, end)) return;
    throw makeError(257, 16, "Implicit conversion from data type sql_variant to " + target.type
                    + " is not allowed. Use the CONVERT function to run this query.", true);
}

// The token ranges of IN's list or BETWEEN's bounds from `i`, found by a
// translation thrown away; false for IN (SELECT ...).
bool Translator::memberRanges(size_t i, bool isIn, std::vector<std::pair<size_t, size_t>> &ranges)
{
    const num::Type savedType = m_type;
    const bool savedPlain = m_plain;
    Translation scratch;
    if (isIn) {
        if (!tok(i).isOp("(") || tok(i + 1).isWord("SELECT")) return false;
        ++i;
        for (;;) {
            const size_t b = i;
            expr(i, scratch);
            ranges.push_back({b, i});
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    } else {
        for (int bound = 0; bound < 2; ++bound) {
            const size_t b = i;
            expr(i, scratch, 5);
            ranges.push_back({b, i});
            if (bound == 0 && !tok(i).isWord("AND")) return false;
            ++i;
        }
    }
    m_type = savedType;
    m_plain = savedPlain;
    return true;
}

bool Translator::variantMembership(size_t &i, Translation &tr, const VariantOperand &left, bool isIn, bool negated,
                                   std::string &out)
{
    std::vector<std::pair<size_t, size_t>> ranges;
    if (!memberRanges(i, isIn, ranges)) return false;
    bool variant = isVariant(left.begin, left.end);
    for (const auto &[b, e] : ranges) variant = variant || isVariant(b, e);
    if (!variant) return false;
    const std::string l = asVariant(left.sql, left.begin, left.end, left.type) + " COLLATE " + kVariantCollation;
    if (isIn) ++i;
    std::vector<std::string> values;
    for (const auto &[b, e] : ranges) {
        i = b;
        const std::string v = isIn ? expr(i, tr) : expr(i, tr, 5);
        values.push_back(asVariant(v, b, e, m_type));
    }
    i = ranges.back().second;
    if (isIn) expectOp(i, ")");
    std::string test;
    if (isIn)
        for (const std::string &v : values) test += (test.empty() ? "" : " OR ") + l + " = " + v;
    else
        test = l + " >= " + values[0] + " AND " + l + " <= " + values[1];
    out = std::string(negated ? "(NOT (" : "((") + test + "))";
    return true;
}

} // namespace ts
