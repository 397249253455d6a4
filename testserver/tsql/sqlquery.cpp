// SELECT, its table sources, and the query forms SQLite has under other
// spellings: common table expressions (recursive ones without the RECURSIVE
// keyword and with SQL Server's recursion limit), windowed functions,
// OFFSET ... FETCH and query options.
#include "tsql/sqltranslate.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>

namespace ts {

namespace {

// (a, b[, "__dv_lvl"]): a CTE's column list, with the recursion level of a raw recursive CTE.
std::string cteColumnList(const std::vector<std::string> &names, bool level)
{
    std::string s = "(";
    for (size_t k = 0; k < names.size(); ++k) { if (k) s += ", "; s += quoteIdent(names[k]); }
    if (level) s += ", \"__dv_lvl\"";
    return s + ")";
}

bool namesKnown(const std::vector<std::string> &names)
{
    return std::find(names.begin(), names.end(), "*") == names.end();
}

} // namespace

// WITH name [(columns)] AS (select) [, ...]: the SQLite WITH clause, ending in a blank.
std::string Translator::withClause(size_t &i, Translation &tr)
{
    expectWord(i, "WITH");
    tr.derived = true;
    std::string out = "WITH ";
    for (;;) {
        out += cteDefinition(i, tr);
        if (!tok(i).isOp(",")) break;
        ++i;
        out += ", ";
    }
    return out + " ";
}

// Whether a CTE's body, from `i` up to its closing parenthesis, names the CTE: then it is recursive.
bool Translator::cteIsRecursive(size_t i, const std::string &cte) const
{
    int depth = 1;
    for (size_t end = i; tok(end).kind != Token::End; ++end) {
        if (tok(end).isOp("(")) ++depth;
        else if (tok(end).isOp(")") && --depth == 0) break;
        else if (tok(end).isName() && iequals(tok(end).value, cte) && !tok(end - 1).isOp(".") && !tok(end + 1).isOp("."))
            return true;
    }
    return false;
}

// The names of a CTE's columns: its column list, else its query's ("*" among them: not known here).
// 8158/8159 when the list and the query differ in count, 8155 for an unnamed column, 8156 for a name twice.
std::vector<std::string> Translator::cteColumnNames(const std::string &cte, const std::vector<std::string> &cols) const
{
    std::vector<std::string> names = cols.empty() ? m_selectNames : cols;
    const bool known = namesKnown(names);
    if (!cols.empty() && known && m_selectNames.size() != cols.size() && namesKnown(m_selectNames)) {
        if (m_selectNames.size() > cols.size())
            throw makeError(8158, 16, "'" + cte + "' has more columns than were specified in the column list.", true);
        throw makeError(8159, 16, "'" + cte + "' has fewer columns than were specified in the column list.", true);
    }
    if (known) {
        std::set<std::string> seen;
        for (size_t k = 0; k < names.size(); ++k) {
            if (names[k].empty())
                throw makeError(8155, 16, "No column name was specified for column " + std::to_string(k + 1) + " of '" + cte + "'.", true);
            if (!seen.insert(lower(names[k])).second)
                throw makeError(8156, 16, "The column '" + names[k] + "' was specified multiple times for '" + cte + "'.", true);
        }
    }
    return names;
}

// The raw CTE carries each row's recursion level; the CTE the query reads drops it
// and stops with SQL Server's error once a row lies past the recursion limit.
std::string Translator::recursiveCteSql(const RecursiveCte &rec, const std::vector<std::string> &names,
                                        const std::string &body) const
{
    if (!namesKnown(names))
        throw makeError(8155, 16, "No column name was specified for column 1 of '" + rec.name + "'.", true);
    std::string cl;
    for (size_t k = 0; k < names.size(); ++k) { if (k) cl += ", "; cl += quoteIdent(names[k]); }
    return quoteIdent(rec.rawName) + cteColumnList(names, true) + " AS (" + body + "), " + quoteIdent(rec.name)
        + cteColumnList(names, false) + " AS (SELECT " + cl + " FROM " + quoteIdent(rec.rawName)
        + " WHERE \"__dv_lvl\" <= ?" + std::to_string(m_recLimitParam) + " OR dv_raise(530, 16, ?"
        + std::to_string(m_recMessageParam) + "))";
}

// name [(columns)] AS (select): one CTE of a WITH clause, as SQLite's WITH clause holds it.
std::string Translator::cteDefinition(size_t &i, Translation &tr)
{
    std::string cte = name(i);
    for (const auto &c : m_ctes)
        if (iequals(c.name, cte))
            throw makeError(252, 16, "The CTE name '" + cte + "' is specified more than once in the WITH clause.", true);
    std::vector<std::string> cols;
    if (tok(i).isOp("(")) {
        ++i;
        cols.push_back(name(i));
        while (tok(i).isOp(",")) { ++i; cols.push_back(name(i)); }
        expectOp(i, ")");
    }
    expectWord(i, "AS");
    expectOp(i, "(");
    const bool recursive = cteIsRecursive(i, cte);
    RecursiveCte rec;
    if (recursive) {
        rec.name = cte;
        rec.rawName = cte + "$dvrec";
        rec.depth = m_selectDepth + 1;
        if (!m_recLimitParam) {
            param(tr, Value::null());
            m_recLimitParam = tr.params.size();
            param(tr, Value::null());
            m_recMessageParam = tr.params.size();
        }
        m_ctes.push_back({cte, rec.rawName});
        m_rec = &rec;
    }
    std::string body;
    try {
        body = select(i, false, tr);
    } catch (...) {
        m_rec = nullptr;
        throw;
    }
    m_rec = nullptr;
    expectOp(i, ")");
    std::vector<std::string> names = cteColumnNames(cte, cols);
    if (recursive) {
        std::string sql = recursiveCteSql(rec, names, body);
        m_ctes.back().sqlName = cte;
        return sql;
    }
    m_ctes.push_back({cte, cte});
    return quoteIdent(cte) + (cols.empty() ? std::string() : cteColumnList(names, false)) + " AS (" + body + ")";
}

// A table source that names a CTE of the statement.
bool Translator::cteSource(size_t &i, Translation &tr, std::string &out)
{
    const Token &k = tok(i);
    if (!k.isName() || tok(i + 1).isOp(".")) return false;
    const Cte *cte = nullptr;
    for (const auto &c : m_ctes) if (iequals(c.name, k.value)) cte = &c;
    if (!cte) return false;
    ++i;
    std::string alias = k.value;
    if (tok(i).isWord("AS")) { ++i; alias = name(i); }
    else if (isAliasToken(i)) alias = name(i);
    tr.derived = true;
    if (m_rec && iequals(m_rec->name, k.value)) {
        if (m_selectDepth != m_rec->depth)
            throw makeError(465, 16, "Recursive references are not allowed in subqueries.", true);
        if (!m_rec->refAlias.empty())
            throw makeError(253, 16, "Recursive member of a common table expression '" + m_rec->name
                            + "' has multiple recursive references.", true);
        m_rec->refAlias = alias;
        out = quoteIdent(m_rec->rawName) + " AS " + quoteIdent(alias);
        return true;
    }
    out = quoteIdent(cte->sqlName) + " AS " + quoteIdent(alias);
    return true;
}

// The target or source of a statement: a table variable or a table name.
std::string Translator::targetName(size_t &i, Translation &tr, std::string *written, std::string *schemaOut, std::string *plain)
{
    const Token &k = tok(i);
    if (k.kind != Token::Variable) return objectName(i, written, schemaOut, plain);
    ++i;
    tr.derived = true;
    std::string sqlName = "__dv_tv_unresolved";
    if (ctx) {
        if (!ctx->tableVariable(lower(k.value), &sqlName))
            throw makeError(1087, 15, "Must declare the table variable \"" + k.text + "\".", true);
    }
    if (written) *written = k.text;
    if (schemaOut) *schemaOut = "temp";
    if (plain) *plain = sqlName;
    return "\"temp\"." + quoteIdent(sqlName);
}

// OVER ( [PARTITION BY ...] [ORDER BY ...] [ROWS|RANGE frame] )
std::string Translator::overClause(size_t &i, Translation &tr, const std::string &fn, bool needsOrder)
{
    if (!m_windowOk) throw makeError(4108, 15, "Windowed functions can only appear in the SELECT or ORDER BY clauses.", true);
    expectWord(i, "OVER");
    expectOp(i, "(");
    tr.derived = true;
    bool saved = m_windowOk;
    m_windowOk = false;
    std::string s = " OVER (";
    if (tok(i).isWord("PARTITION")) {
        ++i;
        expectWord(i, "BY");
        s += "PARTITION BY " + expr(i, tr);
        while (tok(i).isOp(",")) { ++i; s += ", " + expr(i, tr); }
    }
    if (tok(i).isWord("ORDER")) {
        ++i;
        expectWord(i, "BY");
        s += " ORDER BY ";
        for (;;) {
            s += expr(i, tr);
            if (tok(i).isWord("ASC")) { ++i; s += " ASC"; }
            else if (tok(i).isWord("DESC")) { ++i; s += " DESC"; }
            if (!tok(i).isOp(",")) break;
            ++i;
            s += ", ";
        }
    } else if (needsOrder) {
        throw makeError(4112, 15, "The function '" + fn + "' must have an OVER clause with ORDER BY.", true);
    }
    if (tok(i).isWord("ROWS") || tok(i).isWord("RANGE")) {
        // The frame is spelled the same way in both dialects.
        while (!tok(i).isOp(")") && tok(i).kind != Token::End) {
            const Token &f = tok(i);
            if (f.kind == Token::Ident) s += " " + upper(f.value);
            else if (f.kind == Token::Number) s += " " + f.value;
            else throw syntaxError(f);
            ++i;
        }
    }
    expectOp(i, ")");
    m_windowOk = saved;
    return s + ")";
}

// ROW_NUMBER(), RANK(), DENSE_RANK(), NTILE(n), LAG/LEAD, FIRST_VALUE/LAST_VALUE ...: only with OVER.
std::string Translator::rankingFunction(size_t &i, Translation &tr)
{
    const Token &fn = tok(i);
    std::string u = upper(fn.value);
    i += 2;
    std::vector<std::string> args;
    if (!tok(i).isOp(")")) {
        args.push_back(expr(i, tr));
        while (tok(i).isOp(",")) { ++i; args.push_back(expr(i, tr)); }
    }
    expectOp(i, ")");
    size_t lo = 0, hi = 0;
    if (u == "NTILE" || u == "FIRST_VALUE" || u == "LAST_VALUE") lo = hi = 1;
    else if (u == "LAG" || u == "LEAD") { lo = 1; hi = 3; }
    if (args.size() < lo || args.size() > hi)
        throw makeError(174, 15, "The " + lower(fn.value) + " function requires " + std::to_string(lo) + " argument(s).", true);
    if (!tok(i).isWord("OVER"))
        throw makeError(10753, 15, "The function '" + fn.value + "' must have an OVER clause.", true);
    std::string s = lower(u) + "(";
    for (size_t k = 0; k < args.size(); ++k) { if (k) s += ", "; s += args[k]; }
    return s + ")" + overClause(i, tr, fn.value, true);
}

// OFFSET n ROWS [FETCH NEXT m ROWS ONLY] after ORDER BY.
std::string Translator::offsetFetch(size_t &i, Translation &tr, const std::string &limit)
{
    expectWord(i, "OFFSET");
    if (!limit.empty())
        throw makeError(10741, 15, "A TOP can not be used in the same query or sub-query as a OFFSET.", true);
    std::string off = expr(i, tr);
    if (!tok(i).isWord("ROW") && !tok(i).isWord("ROWS")) throw syntaxError(tok(i));
    ++i;
    std::string fetch = "-1";
    if (tok(i).isWord("FETCH")) {
        ++i;
        if (!tok(i).isWord("NEXT") && !tok(i).isWord("FIRST")) throw syntaxError(tok(i));
        ++i;
        std::string n = expr(i, tr);
        if (!tok(i).isWord("ROW") && !tok(i).isWord("ROWS")) throw syntaxError(tok(i));
        ++i;
        expectWord(i, "ONLY");
        fetch = "(CASE WHEN " + n + " < 1 THEN dv_raise(10744, 16, "
            + quoteLiteral("The number of rows provided for a FETCH clause must be greater then zero.") + ") ELSE " + n + " END)";
    }
    return " LIMIT " + fetch + " OFFSET (CASE WHEN " + off + " < 0 THEN dv_raise(10742, 16, "
        + quoteLiteral("The offset specified in a OFFSET clause may not be negative.") + ") ELSE " + off + " END)";
}

// OPTION (MAXRECURSION n [, other hints])
void Translator::optionClause(size_t &i, Translation &tr)
{
    expectWord(i, "OPTION");
    expectOp(i, "(");
    for (;;) {
        if (tok(i).isWord("MAXRECURSION")) {
            ++i;
            if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
            long long n = std::atoll(tok(i).value.c_str());
            if (n > 32767)
                throw makeError(310, 15, "The value " + tok(i).value
                                + " specified for the MAXRECURSION option exceeds the allowed maximum of 32767.", true);
            ++i;
            if (m_recLimitParam) {
                // 0 lifts the limit.
                tr.params[m_recLimitParam - 1] = Value::integer(n == 0 ? INT64_MAX : n);
                tr.params[m_recMessageParam - 1] = Value::text("The statement terminated. The maximum recursion "
                                                                + std::to_string(n) + " has been exhausted before statement completion.");
            }
        } else {
            // Other query hints change plans, not results.
            if (tok(i).kind != Token::Ident) throw syntaxError(tok(i));
            while (!tok(i).isOp(",") && !tok(i).isOp(")") && tok(i).kind != Token::End) {
                if (tok(i).isOp("(")) {
                    int depth = 0;
                    do {
                        if (tok(i).isOp("(")) ++depth;
                        if (tok(i).isOp(")")) --depth;
                        ++i;
                    } while (depth > 0 && tok(i).kind != Token::End);
                } else {
                    ++i;
                }
            }
        }
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
}

std::string Translator::tableSource(size_t &i, Translation &tr)
{
    std::string s;
    if (tok(i).isOp("(") && tok(i + 1).isWord("VALUES")) return lateralSource(i, tr);
    if (tok(i).isOp("(")) {
        ++i;
        if (tok(i).isWord("SELECT")) {
            const size_t selectBegin = i;
            s = "(" + select(i, false, tr) + ")";
            const std::vector<std::string> names = m_selectNames;
            expectOp(i, ")");
            if (tok(i).isWord("AS")) ++i;
            s += " AS " + quoteIdent(name(i));
            if (!tok(i).isWord("PIVOT") && !tok(i).isWord("UNPIVOT")) return s;
            std::vector<ColumnMeta> cols;
            const bool known = ctx && derivedColumns(selectBegin, names, cols);
            return rotatedSource(i, tr, s, cols, known);
        }
        s = "(" + tableSources(i, tr) + ")";
        expectOp(i, ")");
        return s;
    }
    if (cteSource(i, tr, s) || tableFunction(i, tr, s)) return s;
    std::string written, plain, schema;
    const size_t nameAt = i;
    s = targetName(i, tr, &written, &schema, &plain);
    tr.writtenNames[lower(plain)] = written;
    if (tok(i).isWord("AS")) { ++i; s += " AS " + quoteIdent(name(i)); }
    else if (isAliasToken(i)) s += " AS " + quoteIdent(name(i));
    if (tok(i).isWord("WITH") && tok(i + 1).isOp("(")) {
        i += 2;
        while (!tok(i).isOp(")") && tok(i).kind != Token::End) ++i;
        expectOp(i, ")");
    }
    if (!tok(i).isWord("PIVOT") && !tok(i).isWord("UNPIVOT")) return s;
    std::optional<TableMeta> meta;
    if (ctx && tok(nameAt).kind == Token::Variable) meta = ctx->tableVariable(lower(tok(nameAt).value), &plain);
    else if (ctx) meta = ctx->table(schema, plain);
    return rotatedSource(i, tr, s, meta ? meta->columns : std::vector<ColumnMeta>(), meta.has_value());
}

std::string Translator::tableSources(size_t &i, Translation &tr)
{
    std::string s = tableSource(i, tr);
    for (;;) {
        if (tok(i).isOp(",")) { ++i; s += ", " + tableSource(i, tr); continue; }
        const std::string apply = applyJoin(i, tr);
        if (!apply.empty()) { s += apply; continue; }
        std::string kind;
        size_t j = i;
        if (tok(j).isWord("INNER")) { kind = "INNER JOIN"; ++j; }
        else if (tok(j).isWord("LEFT")) { kind = "LEFT JOIN"; ++j; if (tok(j).isWord("OUTER")) ++j; }
        else if (tok(j).isWord("RIGHT")) { kind = "RIGHT JOIN"; ++j; if (tok(j).isWord("OUTER")) ++j; }
        else if (tok(j).isWord("FULL")) { kind = "FULL JOIN"; ++j; if (tok(j).isWord("OUTER")) ++j; }
        else if (tok(j).isWord("CROSS")) { kind = "CROSS JOIN"; ++j; }
        if (!tok(j).isWord("JOIN")) {
            if (!kind.empty()) throw syntaxError(tok(j));
            break;
        }
        if (kind.empty()) kind = "JOIN";
        i = j + 1;
        s += " " + kind + " " + tableSource(i, tr);
        if (kind != "CROSS JOIN") {
            expectWord(i, "ON");
            s += " ON " + expr(i, tr);
        }
    }
    return s;
}

static bool plainColumnRef(const std::vector<Token> &t, size_t a, size_t b)
{
    for (size_t k = a; k < b; ++k) {
        if (t[k].isOp(".")) continue;
        if (t[k].kind == Token::QuotedIdent) continue;
        if (t[k].kind == Token::Ident && !isReservedWord(t[k].value)) continue;
        return false;
    }
    return b > a;
}

// One item of a select list: *, t.*, @v = expr, alias = expr, 'alias' = expr or expr [[AS] alias].
// Adds the item's output name to `names` ("*" unknown, "" unnamed); an assignment adds none.
std::string Translator::selectItem(size_t &i, Translation &tr, std::vector<std::string> &names)
{
    if (tok(i).isOp("*")) { refuseXmlNodesInStar(""); ++i; names.push_back("*"); return "*"; }
    if (tok(i).isName() && tok(i + 1).isOp(".") && tok(i + 2).isOp("*")) {
        refuseXmlNodesInStar(tok(i).value);
        std::string s = quoteIdent(tok(i).value) + ".*";
        i += 3;
        names.push_back("*");
        return s;
    }
    if (tok(i).kind == Token::Variable && tok(i + 1).isOp("=")) {
        tr.assignVars.push_back(tok(i).value);
        i += 2;
        return expr(i, tr);
    }
    if ((tok(i).isName() && tok(i + 1).isOp("=") && (tok(i).kind == Token::QuotedIdent || !isReservedWord(tok(i).value)))
        || (tok(i).kind == Token::String && tok(i + 1).isOp("="))) {
        std::string alias = tok(i).value;
        i += 2;
        names.push_back(alias);
        return collatedUnlessColumn(expr(i, tr)) + " AS " + quoteIdent(alias);
    }
    size_t a = i;
    std::string e = expr(i, tr);
    bool plain = plainColumnRef(t, a, i);
    // An expression's column compares by the server collation in DISTINCT, UNION,
    // ORDER BY and outer queries, as a column compares by its own.
    e = collatedUnlessColumn(e);
    if (tok(i).isWord("AS")) {
        ++i;
        if (tok(i).kind == Token::String) { names.push_back(tok(i).value); return e + " AS " + quoteIdent(tok(i++).value); }
        std::string alias = name(i);
        names.push_back(alias);
        return e + " AS " + quoteIdent(alias);
    }
    if (isAliasToken(i) || tok(i).kind == Token::String) {
        names.push_back(tok(i).value);
        return e + " AS " + quoteIdent(tok(i++).value);
    }
    if (plain) {
        names.push_back(t[i - 1].value);
        return e;
    }
    names.push_back("");
    return e + " AS \"\""; // SQL Server leaves expression columns unnamed
}

// The type of the select item from `itemBegin` to `end`: an item that is one typed call
// (alias aside) has that call's type, any other none.
ColumnMeta Translator::selectItemType(size_t itemBegin, size_t end) const
{
    size_t exprBegin = tok(itemBegin + 1).isOp("=") ? itemBegin + 2 : itemBegin;
    if (m_typedBegin == exprBegin && m_typedEnd > exprBegin && m_typedEnd <= end
        && (m_typedEnd == end || tok(m_typedEnd).isWord("AS") || isAliasToken(m_typedEnd) || tok(m_typedEnd).kind == Token::String))
        return m_typedResult;
    return ColumnMeta{};
}

// SELECT ... INTO table: the new table's name as written (only where the statement allows it).
void Translator::selectInto(size_t &i, Translation &tr, bool allowed)
{
    if (!allowed) throw syntaxError(tok(i));
    expectWord(i, "INTO");
    size_t from = i;
    objectName(i, nullptr);
    for (size_t k = from; k < i; ++k) tr.intoTarget += t[k].text;
}

// The recursion level a member of a recursive CTE gives its rows: anchor members start at
// level 0; a recursive member adds one to the row it extends and stops one level past the
// limit (added to `where`), which the CTE's reader reports as error 530.
std::string Translator::recursiveMemberLevel(std::string &where)
{
    std::string level = ", 0";
    if (!m_rec->refAlias.empty()) {
        if (m_rec->member == 0)
            throw makeError(246, 16, "No anchor member was specified for recursive query '" + m_rec->name + "'.", true);
        m_rec->recursiveSeen = true;
        std::string lv = quoteIdent(m_rec->refAlias) + ".\"__dv_lvl\"";
        level = ", " + lv + " + 1";
        std::string cond = lv + " <= ?" + std::to_string(m_recLimitParam);
        where = where.empty() ? cond : "(" + where + ") AND " + cond;
    }
    ++m_rec->member;
    return level;
}

std::string Translator::selectCore(size_t &i, Translation &tr, std::string &limit)
{
    expectWord(i, "SELECT");
    bool intoOk = m_intoAllowed;
    m_intoAllowed = false;
    bool savedWindowOk = m_windowOk;
    m_windowOk = true;
    std::vector<std::string> names;
    ScopeGuard scope(m_scopes, fromTables(i));
    // The members of a recursive CTE carry their recursion level in an extra column.
    bool recMember = m_rec && m_rec->depth == m_selectDepth;
    if (recMember) m_rec->refAlias.clear();
    std::string s = "SELECT ";
    CoreParts parts;
    if (tok(i).isWord("ALL")) ++i;
    const bool distinct = tok(i).isWord("DISTINCT");
    if (distinct) { ++i; s += "DISTINCT "; }
    if (tok(i).isWord("TOP")) { parts.top = topClause(i, tr); limit = parts.top.count; }
    size_t items = 0;
    std::vector<Translation::ResultType> types;
    for (;;) {
        if (items) s += ", ";
        ++items;
        const size_t itemBegin = i;
        m_type = num::Type{};
        parts.items.push_back(selectItem(i, tr, names));
        if (distinct) requireDistinctable(itemBegin, i);
        s += parts.items.back();
        types.push_back({selectItemType(itemBegin, i), num::typeCode(m_type)});
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    parts.itemsEnd = s.size();
    if (!tr.assignVars.empty() && tr.assignVars.size() != items) {
        // Mixed assignment and retrieval is not allowed.
        throw makeError(141, 15, "A SELECT statement that assigns a value to a variable must not be combined with data-retrieval operations.", true);
    }
    const std::string levelMarker = "\x01level\x01";
    if (recMember) s += levelMarker;
    if (tok(i).isWord("INTO")) selectInto(i, tr, intoOk);
    m_windowOk = false; // windowed functions belong in the select list and ORDER BY only
    if (tok(i).isWord("FROM")) { ++i; s += " FROM " + tableSources(i, tr); }
    std::string where;
    if (tok(i).isWord("WHERE")) { ++i; where = expr(i, tr); }
    if (recMember) s.replace(s.find(levelMarker), levelMarker.size(), recursiveMemberLevel(where));
    if (!where.empty()) s += " WHERE " + where;
    if (tok(i).isWord("GROUP")) {
        ++i;
        expectWord(i, "BY");
        for (bool first = true;; first = false) {
            const size_t at = i;
            const std::string e = expr(i, tr);
            requireComparable(at, i);
            requireOrderable(at, i, "GROUP BY");
            s += (first ? " GROUP BY " : ", ") + collatedUnlessColumn(e);
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    }
    if (tok(i).isWord("HAVING")) { ++i; s += " HAVING " + expr(i, tr); }
    m_windowOk = savedWindowOk;
    m_coreParts = std::move(parts);
    m_coreNames = names;
    m_coreTypes = names.size() == types.size() ? types : std::vector<Translation::ResultType>();
    if (!m_scopes.empty()) m_coreTables = m_scopes.back();
    return s;
}

// The result types of a top-level select: the calls' types of the outermost
// select core; numeric types only where no "*" stands in the list, since a
// star's columns are known only once it is expanded.
void Translator::resultTypes(const std::vector<std::string> &names, Translation &tr) const
{
    const bool star = std::find(names.begin(), names.end(), "*") != names.end();
    if (m_selectDepth != 1 && star) return;
    tr.resultTypes = m_coreTypes;
    for (Translation::ResultType &type : tr.resultTypes) {
        if (m_selectDepth != 1) type.call = ColumnMeta();
        if (star) type.number.clear();
    }
}

std::string Translator::select(size_t &i, bool topLevel, Translation &tr)
{
    struct Depth {
        int &d;
        explicit Depth(int &x) : d(x) { ++d; }
        ~Depth() { --d; }
    } depth(m_selectDepth);
    const size_t begin = i;
    std::string limit;
    std::string s = selectCore(i, tr, limit);
    const CoreParts core = m_coreParts;
    const std::string coreSql = s;
    std::vector<std::string> names = m_coreNames;
    if (topLevel) resultTypes(names, tr);
    while (tok(i).isWord("UNION") || tok(i).isWord("EXCEPT") || tok(i).isWord("INTERSECT")) {
        std::string op = upper(tok(i).value);
        ++i;
        if (op == "UNION" && tok(i).isWord("ALL")) { op += " ALL"; ++i; }
        std::string ignored;
        s += " " + op + " " + selectCore(i, tr, ignored);
        // The recursive members of a CTE are joined to the anchor by UNION ALL only.
        if (m_rec && m_rec->depth == m_selectDepth && !m_rec->refAlias.empty() && op != "UNION ALL")
            throw makeError(252, 16, "Recursive common table expression '" + m_rec->name
                            + "' does not contain a top-level UNION ALL operator.", true);
    }
    bool ordered = false, offset = false;
    const std::string body = s;
    std::string windowKeys; // the ORDER BY as a window's ORDER BY sees it (TOP ... WITH TIES)
    if (tok(i).isWord("ORDER")) {
        ++i;
        expectWord(i, "BY");
        ordered = true;
        bool savedWindowOk = m_windowOk;
        m_windowOk = true;
        s += " ORDER BY ";
        const std::vector<ScopeTable> sorted = m_coreTables;
        for (;;) {
            // A position (ORDER BY 2) sorts by that column's own collation.
            const size_t at = i;
            std::string e = expr(i, tr);
            m_scopes.push_back(sorted);
            try {
                requireComparable(at, i);
                requireOrderable(at, i, "ORDER BY");
            } catch (...) {
                m_scopes.pop_back();
                throw;
            }
            m_scopes.pop_back();
            s += tok(at).kind == Token::Number && i == at + 1 ? e : collatedUnlessColumn(e);
            windowKeys += windowKey(at, i, collatedUnlessColumn(e), core, names);
            if (tok(i).isWord("ASC")) { ++i; s += " ASC"; }
            else if (tok(i).isWord("DESC")) { ++i; s += " DESC"; windowKeys += " DESC"; }
            if (!tok(i).isOp(",")) break;
            ++i;
            s += ", ";
            windowKeys += ", ";
        }
        m_windowOk = savedWindowOk;
        if (tok(i).isWord("OFFSET")) {
            offset = true;
            s += offsetFetch(i, tr, limit);
        }
    } else if (tok(i).isWord("OFFSET")) {
        // OFFSET belongs to ORDER BY; without one SQL Server reads OFFSET as an alias.
        throw syntaxError(tok(i + 1));
    }
    const bool forJsonXml = tok(i).isWord("FOR") && (tok(i + 1).isWord("JSON") || tok(i + 1).isWord("XML"));
    if (ordered && !topLevel && limit.empty() && !offset && !forJsonXml)
        throw makeError(1033, 15, "The ORDER BY clause is invalid in views, inline functions, derived tables, subqueries, "
                        "and common table expressions, unless TOP, OFFSET or FOR XML is also specified.", true);
    if (core.top.ties && !ordered)
        throw makeError(1062, 16, "The TOP N WITH TIES clause is not allowed without a corresponding ORDER BY clause.", true);
    if (core.top.percent || core.top.ties) limit = topLimit(core, coreSql, body, windowKeys);
    if (!limit.empty()) s += " LIMIT " + limit;
    m_selectNames = names;
    if (forJsonXml && tok(i + 1).isWord("JSON")) return forJson(i, tr, s, begin, topLevel);
    if (forJsonXml) return forXml(i, tr, s, begin, topLevel);
    return s;
}

} // namespace ts
