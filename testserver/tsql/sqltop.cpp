// TOP n, TOP (expr) PERCENT and TOP ... WITH TIES of a SELECT. SQLite has only
// LIMIT, so PERCENT and WITH TIES become a LIMIT whose count a subquery works
// out: the share of the rows, rounded up, and the number of rows ranked no
// later than the n-th (RANK() over the statement's ORDER BY).
#include "tsql/sqltranslate.h"

#include <cstdlib>

namespace ts {

namespace {

// The item's SQL without its " AS alias", or "" when it has another alias.
std::string unaliased(const std::string &item, const std::string &alias)
{
    const std::string suffix = " AS " + quoteIdent(alias);
    if (item.size() > suffix.size() && item.compare(item.size() - suffix.size(), suffix.size(), suffix) == 0)
        return item.substr(0, item.size() - suffix.size());
    return {};
}

} // namespace

Translator::TopSpec Translator::topClause(size_t &i, Translation &tr)
{
    expectWord(i, "TOP");
    TopSpec top;
    if (tok(i).isOp("(")) { ++i; top.count = expr(i, tr); expectOp(i, ")"); }
    else if (tok(i).kind == Token::Number || tok(i).kind == Token::Variable) top.count = primary(i, tr);
    else throw syntaxError(tok(i));
    if (tok(i).isWord("PERCENT")) { ++i; top.percent = true; }
    if (tok(i).isWord("WITH")) {
        ++i;
        if (!tok(i).isWord("TIES")) throw syntaxError(tok(i));
        ++i;
        top.ties = true;
    }
    return top;
}

// An ORDER BY key (tokens [begin, end), translated) as a window's ORDER BY over
// the same rows reads it: a window sees neither output aliases nor positions,
// so those become the item's expression.
std::string Translator::windowKey(size_t begin, size_t end, const std::string &translated, const CoreParts &core,
                                  const std::vector<std::string> &names) const
{
    if (!core.top.ties) return {};
    size_t item = names.size();
    if (end == begin + 1 && tok(begin).kind == Token::Number) {
        const long k = std::atol(tok(begin).value.c_str());
        if (k >= 1 && size_t(k) <= names.size()) item = size_t(k - 1);
    } else if (end == begin + 1 && tok(begin).isName()) {
        for (size_t k = 0; k < names.size() && item == names.size(); ++k)
            if (iequals(names[k], tok(begin).value)) item = k;
    }
    if (item < names.size() && item < core.items.size()) {
        const std::string bare = unaliased(core.items[item], names[item]);
        if (!bare.empty()) return bare;
        if (tok(begin).kind == Token::Number) return core.items[item];
    }
    return translated;
}

// The LIMIT of TOP PERCENT / WITH TIES. `coreSql` is the first select core,
// `body` the whole statement before its ORDER BY.
std::string Translator::topLimit(const CoreParts &core, const std::string &coreSql, const std::string &body,
                                 const std::string &windowKeys) const
{
    std::string n = "(" + core.top.count + ")";
    if (core.top.percent) {
        n = "(CASE WHEN " + n + " < 0 OR " + n + " > 100 THEN dv_raise(1031, 16, "
            + quoteLiteral("Percent values must be between 0 and 100.") + ") ELSE " + n + " END)";
        // The share of the rows, rounded up: TOP (10) PERCENT of 11 rows is 2 rows.
        const std::string share = "(COUNT(*) * " + n + " / 100.0)";
        n = "(SELECT CAST(" + share + " AS INTEGER) + (" + share + " > CAST(" + share + " AS INTEGER)) FROM (" + body + "))";
        if (!core.top.ties) return n;
    }
    const std::string rank = "RANK() OVER (ORDER BY " + windowKeys + ") AS \"__dv_rank\"";
    // Under DISTINCT the rank adds nothing that tells rows apart: the ORDER BY
    // of a DISTINCT select names only selected columns.
    const std::string ranked = coreSql.substr(0, core.itemsEnd) + ", " + rank + coreSql.substr(core.itemsEnd);
    return "(SELECT COUNT(*) FROM (" + ranked + ") WHERE \"__dv_rank\" <= " + n + ")";
}

// TOP (n) [PERCENT] after UPDATE or DELETE: the parentheses are required and
// WITH TIES has no ORDER BY to tie on, so neither is taken.
Translator::TopSpec Translator::dmlTop(size_t &i, Translation &tr)
{
    TopSpec top;
    if (!tok(i).isWord("TOP")) return top;
    ++i;
    expectOp(i, "(");
    top.count = expr(i, tr);
    expectOp(i, ")");
    if (tok(i).isWord("PERCENT")) { ++i; top.percent = true; }
    return top;
}

// The WHERE of an UPDATE or DELETE: with TOP, only the first rows (by rowid)
// that the condition picks; a percentage of them is rounded up.
std::string Translator::topWhere(const TopSpec &top, const std::string &target, const std::string &where) const
{
    if (top.count.empty()) return where.empty() ? std::string() : " WHERE " + where;
    const std::string filter = where.empty() ? std::string() : " WHERE " + where;
    std::string n = "(" + top.count + ")";
    if (top.percent) {
        n = "(CASE WHEN " + n + " < 0 OR " + n + " > 100 THEN dv_raise(1031, 16, "
            + quoteLiteral("Percent values must be between 0 and 100.") + ") ELSE " + n + " END)";
        const std::string share = "(COUNT(*) * " + n + " / 100.0)";
        n = "(SELECT CAST(" + share + " AS INTEGER) + (" + share + " > CAST(" + share + " AS INTEGER)) FROM " + target + filter + ")";
    }
    const std::string picked = "rowid IN (SELECT rowid FROM " + target + filter + " LIMIT " + n + ")";
    return " WHERE " + (where.empty() ? picked : "(" + where + ") AND " + picked);
}

} // namespace ts
