// PIVOT and UNPIVOT after a table source. SQLite has neither: PIVOT becomes a
// GROUP BY over the source's other columns with one aggregate of a CASE per
// pivoted value, UNPIVOT a cross join of the source with the list of column
// names, the rows whose value is NULL left out.
#include "tsql/sqltranslate.h"

#include <set>

namespace ts {

namespace {

const std::set<std::string> &pivotAggregates()
{
    static const std::set<std::string> names = {"AVG", "CHECKSUM_AGG", "COUNT", "COUNT_BIG", "MAX", "MIN",
                                                "STDEV", "STDEVP", "SUM", "VAR", "VARP"};
    return names;
}

const ColumnMeta *findColumn(const std::vector<ColumnMeta> &cols, const std::string &name)
{
    for (const auto &c : cols)
        if (iequals(c.name, name)) return &c;
    return nullptr;
}

SqlError invalidColumn(const std::string &name)
{
    return makeError(207, 16, "Invalid column name '" + name + "'.", true);
}

bool sameType(const ColumnMeta &a, const ColumnMeta &b)
{
    return iequals(a.type, b.type) && a.length == b.length && a.precision == b.precision && a.scale == b.scale;
}

bool looksNumeric(const std::string &v)
{
    if (v.empty()) return false;
    size_t k = (v[0] == '-' || v[0] == '+') ? 1 : 0;
    bool digit = false, dot = false;
    for (; k < v.size(); ++k) {
        if (v[k] >= '0' && v[k] <= '9') digit = true;
        else if (v[k] == '.' && !dot) dot = true;
        else return false;
    }
    return digit;
}

} // namespace

// The type of one item [a, b) of a derived table's select list: a column of
// one of `tables`, or a CAST/CONVERT; an empty type where neither.
ColumnMeta Translator::derivedItemType(size_t a, size_t b, const std::vector<ScopeTable> &tables)
{
    if (b > a + 2 && tok(a + 1).isOp("=") && (tok(a).isName() || tok(a).kind == Token::String)) a += 2;
    else if (b > a + 2 && tok(b - 2).isWord("AS")) b -= 2;
    else if (b > a + 1 && (isAliasToken(b - 1) || tok(b - 1).kind == Token::String) && !tok(b - 2).isOp(".")) b -= 1;
    ColumnMeta out;
    if ((b == a + 1 && tok(a).isName()) || (b == a + 3 && tok(a).isName() && tok(a + 1).isOp(".") && tok(a + 2).isName())) {
        const std::string col = tok(b - 1).value, qualifier = b == a + 3 ? tok(a).value : std::string();
        for (const auto &table : tables)
            if (qualifier.empty() || iequals(table.alias, qualifier))
                if (const ColumnMeta *c = table.meta.column(col)) out = *c;
        return out;
    }
    if (!tok(b - 1).isOp(")") || !tok(a + 1).isOp("(")) return out;
    size_t k = a + 2;
    if (tok(a).isWord("CONVERT")) return typeSpec(k);
    if (!tok(a).isWord("CAST")) return out;
    for (int depth = 1; k < b && depth > 0; ++k) {
        if (tok(k).isOp("(")) ++depth;
        else if (tok(k).isOp(")")) --depth;
        else if (depth == 1 && tok(k).isWord("AS")) { ++k; return typeSpec(k); }
    }
    return out;
}

// The columns of the derived table whose select starts at `selectBegin` and
// whose output names select() gave; false when they cannot be told here.
bool Translator::derivedColumns(size_t selectBegin, const std::vector<std::string> &names, std::vector<ColumnMeta> &out)
{
    const std::vector<ScopeTable> tables = fromTables(selectBegin + 1);
    size_t i = selectBegin + 1;
    if (tok(i).isWord("ALL") || tok(i).isWord("DISTINCT")) ++i;
    if (tok(i).isWord("TOP")) { Translation scratch; topClause(i, scratch); }
    size_t item = 0;
    for (;;) {
        size_t a = i;
        for (int depth = 0; tok(i).kind != Token::End; ++i) {
            if (tok(i).isOp("(")) ++depth;
            else if (tok(i).isOp(")") && --depth < 0) break;
            else if (depth == 0 && (tok(i).isOp(",") || tok(i).isWord("FROM") || tok(i).isWord("INTO")
                                    || tok(i).isWord("WHERE") || tok(i).isWord("UNION") || tok(i).isWord("FOR")
                                    || tok(i).isWord("ORDER") || tok(i).isWord("GROUP"))) break;
        }
        if (item >= names.size()) return false;
        if (names[item] == "*") {
            const std::string qualifier = i == a + 3 ? tok(a).value : std::string();
            for (const auto &table : tables)
                if (qualifier.empty() || iequals(table.alias, qualifier))
                    out.insert(out.end(), table.meta.columns.begin(), table.meta.columns.end());
            if (tables.empty()) return false;
        } else {
            ColumnMeta c = derivedItemType(a, i, tables);
            c.name = names[item];
            if (c.name.empty()) return false;
            out.push_back(c);
        }
        ++item;
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    return item == names.size();
}

// The comparison of the pivot column with one value of the IN list, as the
// column's type reads the value.
std::string Translator::pivotMatch(const ColumnMeta &column, const std::string &value)
{
    const std::string ref = quoteIdent(column.name);
    const num::Type type = num::typeFromName(column.type, column.precision, column.scale);
    if (type.numeric()) {
        std::string lit = castTo(quoteLiteral(value), num::Type{}, column);
        return comparison("=", ref, type, true, lit, type, false);
    }
    if (column.type.empty() && looksNumeric(value)) return ref + " = " + value;
    if (column.type.empty() || column.type.find("char") != std::string::npos || column.type.find("text") != std::string::npos)
        return ref + " = " + quoteLiteral(value);
    return ref + " = " + castTo(quoteLiteral(value), num::Type{}, column);
}

// IN ( [v1], [v2], ... ): the names of a PIVOT or UNPIVOT list; 8156 for one named twice.
std::vector<std::string> Translator::rotationList(size_t &i, const std::string &alias)
{
    expectWord(i, "IN");
    expectOp(i, "(");
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (;;) {
        std::string v = name(i);
        if (!seen.insert(lower(v)).second)
            throw makeError(8156, 16, "The column '" + v + "' was specified multiple times for '" + alias + "'.", true);
        out.push_back(v);
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    return out;
}

// The alias a PIVOT or UNPIVOT must have: [AS] name.
std::string Translator::rotationAlias(size_t &i)
{
    if (tok(i).isWord("AS")) ++i;
    return name(i);
}

// PIVOT ( agg(value) FOR column IN (...) ) AS alias over `source` with `cols`.
std::string Translator::pivotClause(size_t &i, Translation &tr, const std::string &source,
                                    const std::vector<ColumnMeta> &cols, bool known)
{
    expectWord(i, "PIVOT");
    expectOp(i, "(");
    const Token &fn = tok(i);
    if (!fn.isName() || !pivotAggregates().count(upper(fn.value)) || !tok(i + 1).isOp("(")) throw syntaxError(fn);
    if (!tok(i + 2).isName()) throw syntaxError(tok(i + 2));
    const std::string valueName = tok(i + 2).value;
    if (known && !findColumn(cols, valueName)) throw invalidColumn(valueName);
    TableMeta scope;
    scope.columns = cols;
    std::string agg;
    {
        ScopeGuard guard(m_scopes, {{"", scope}});
        agg = functionCall(i, tr);
    }
    expectWord(i, "FOR");
    const std::string pivotName = name(i);
    const ColumnMeta *pivotCol = findColumn(cols, pivotName);
    if (known && !pivotCol) throw invalidColumn(pivotName);
    size_t a = i;
    while (tok(a).kind != Token::End && !tok(a).isOp(")")) ++a;
    a += 2;
    const std::string alias = rotationAlias(a);
    const std::vector<std::string> values = rotationList(i, alias);
    expectOp(i, ")");
    rotationAlias(i);
    if (!known) return source;
    tr.derived = true;
    ColumnMeta pc = *pivotCol;
    const std::string valueRef = quoteIdent(findColumn(cols, valueName)->name);
    std::string groups, items;
    for (const auto &c : cols) {
        if (iequals(c.name, valueName) || iequals(c.name, pivotName)) continue;
        groups += (groups.empty() ? "" : ", ") + quoteIdent(c.name);
    }
    for (const auto &v : values) {
        std::string one = agg;
        const std::string repl = "(CASE WHEN " + pivotMatch(pc, v) + " THEN " + valueRef + " END)";
        for (size_t at = one.find(valueRef); at != std::string::npos; at = one.find(valueRef, at + repl.size()))
            one.replace(at, valueRef.size(), repl);
        items += ", " + one + " AS " + quoteIdent(v);
    }
    // Without grouping columns the aggregates make one row, as SQL Server's do.
    if (groups.empty()) return "(SELECT " + items.substr(2) + " FROM " + source + ") AS " + quoteIdent(alias);
    return "(SELECT " + groups + items + " FROM " + source + " GROUP BY " + groups + ") AS " + quoteIdent(alias);
}

// UNPIVOT ( value FOR name IN (c1, c2, ...) ) AS alias over `source` with `cols`:
// 8167 when the listed columns differ in type.
std::string Translator::unpivotClause(size_t &i, Translation &tr, const std::string &source,
                                      const std::vector<ColumnMeta> &cols, bool known)
{
    expectWord(i, "UNPIVOT");
    expectOp(i, "(");
    const std::string valueName = name(i);
    expectWord(i, "FOR");
    const std::string nameCol = name(i);
    size_t a = i;
    while (tok(a).kind != Token::End && !tok(a).isOp(")")) ++a;
    a += 2;
    const std::string alias = rotationAlias(a);
    const std::vector<std::string> listed = rotationList(i, alias);
    expectOp(i, ")");
    rotationAlias(i);
    if (!known) return source;
    tr.derived = true;
    const ColumnMeta *first = nullptr;
    std::string cases, names;
    for (const auto &v : listed) {
        const ColumnMeta *c = findColumn(cols, v);
        if (!c) throw invalidColumn(v);
        if (!first) first = c;
        else if (!first->type.empty() && !c->type.empty() && !sameType(*first, *c))
            throw makeError(8167, 16, "The type of column \"" + c->name
                            + "\" conflicts with the type of other columns specified in the UNPIVOT list.", true);
        cases += " WHEN " + quoteLiteral(v) + " THEN " + quoteIdent(c->name);
        names += (names.empty() ? "SELECT " : " UNION ALL SELECT ") + quoteLiteral(v) + " AS \"n\"";
    }
    std::string kept;
    for (const auto &c : cols) {
        bool isListed = false;
        for (const auto &v : listed) isListed = isListed || iequals(c.name, v);
        if (!isListed) kept += quoteIdent(c.name) + ", ";
    }
    // CROSS JOIN keeps the source as the outer loop: each source row's values come out together, in list order.
    return "(SELECT * FROM (SELECT " + kept + "\"__dv_unpvt\".\"n\" AS " + quoteIdent(nameCol) + ", CASE \"__dv_unpvt\".\"n\""
        + cases + " END AS " + quoteIdent(valueName) + " FROM " + source + " CROSS JOIN (" + names
        + ") AS \"__dv_unpvt\") WHERE " + quoteIdent(valueName) + " IS NOT NULL) AS " + quoteIdent(alias);
}

// A table source followed by PIVOT or UNPIVOT: the rotated rows in its place.
std::string Translator::rotatedSource(size_t &i, Translation &tr, const std::string &source,
                                      const std::vector<ColumnMeta> &cols, bool known)
{
    if (tok(i).isWord("PIVOT")) return pivotClause(i, tr, source, cols, known);
    return unpivotClause(i, tr, source, cols, known);
}

} // namespace ts
