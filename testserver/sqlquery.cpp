// Query forms SQLite has under other spellings: common table expressions
// (recursive ones without the RECURSIVE keyword and with SQL Server's
// recursion limit), windowed functions, OFFSET ... FETCH, query options and
// table variables.
#include "sqltranslate.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>

namespace ts {

// WITH name [(columns)] AS (select) [, ...]: the SQLite WITH clause, ending in a blank.
std::string Translator::withClause(size_t &i, Translation &tr)
{
    expectWord(i, "WITH");
    tr.derived = true;
    std::string out = "WITH ";
    bool first = true;
    for (;;) {
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
        // A CTE that names itself in its body is recursive.
        size_t end = i;
        int depth = 1;
        bool recursive = false;
        for (; tok(end).kind != Token::End; ++end) {
            if (tok(end).isOp("(")) ++depth;
            else if (tok(end).isOp(")") && --depth == 0) break;
            else if (tok(end).isName() && iequals(tok(end).value, cte) && !tok(end - 1).isOp(".") && !tok(end + 1).isOp("."))
                recursive = true;
        }
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
        std::vector<std::string> names = cols.empty() ? m_selectNames : cols;
        bool known = std::find(names.begin(), names.end(), "*") == names.end();
        if (!cols.empty() && known && m_selectNames.size() != cols.size() && std::find(m_selectNames.begin(), m_selectNames.end(), "*") == m_selectNames.end()) {
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
        auto columnList = [&](bool level) {
            std::string s = "(";
            for (size_t k = 0; k < names.size(); ++k) { if (k) s += ", "; s += quoteIdent(names[k]); }
            if (level) s += ", \"__dv_lvl\"";
            return s + ")";
        };
        if (!first) out += ", ";
        first = false;
        if (recursive) {
            if (!known)
                throw makeError(8155, 16, "No column name was specified for column 1 of '" + cte + "'.", true);
            m_ctes.back().sqlName = cte;
            // The raw CTE carries each row's recursion level; the CTE the query reads drops it
            // and stops with SQL Server's error once a row lies past the recursion limit.
            std::string cl;
            for (size_t k = 0; k < names.size(); ++k) { if (k) cl += ", "; cl += quoteIdent(names[k]); }
            out += quoteIdent(rec.rawName) + columnList(true) + " AS (" + body + "), " + quoteIdent(cte) + columnList(false)
                + " AS (SELECT " + cl + " FROM " + quoteIdent(rec.rawName) + " WHERE \"__dv_lvl\" <= ?"
                + std::to_string(m_recLimitParam) + " OR dv_raise(530, 16, ?" + std::to_string(m_recMessageParam) + "))";
        } else {
            m_ctes.push_back({cte, cte});
            out += quoteIdent(cte) + (cols.empty() ? std::string() : columnList(false)) + " AS (" + body + ")";
        }
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    return out + " ";
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

// TABLE ( column definitions and table constraints )
std::vector<std::string> Translator::tableVariable(size_t &i, const std::string &sqlName, TableMeta &meta)
{
    expectWord(i, "TABLE");
    expectOp(i, "(");
    std::vector<ColumnMeta> cols;
    std::vector<std::string> pk;
    std::vector<std::vector<std::string>> uniques;
    std::vector<std::string> checks;
    int64_t seed = 1;
    auto columnList = [&](std::vector<std::string> &out) {
        expectOp(i, "(");
        for (;;) {
            out.push_back(name(i));
            if (tok(i).isWord("ASC") || tok(i).isWord("DESC")) ++i;
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        expectOp(i, ")");
    };
    auto constraintWords = [&]() {
        if (tok(i).isWord("CLUSTERED") || tok(i).isWord("NONCLUSTERED")) ++i;
    };
    Translation scratch;
    for (;;) {
        if (tok(i).isWord("PRIMARY")) {
            ++i;
            expectWord(i, "KEY");
            constraintWords();
            if (!pk.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '@table variable'.", true);
            columnList(pk);
        } else if (tok(i).isWord("UNIQUE")) {
            ++i;
            constraintWords();
            uniques.emplace_back();
            columnList(uniques.back());
        } else if (tok(i).isWord("CHECK")) {
            ++i;
            expectOp(i, "(");
            checks.push_back(expr(i, scratch));
            expectOp(i, ")");
        } else {
            ColumnMeta m;
            m.name = name(i);
            ColumnMeta ty = typeSpec(i);
            m.type = ty.type; m.length = ty.length; m.precision = ty.precision; m.scale = ty.scale;
            for (;;) {
                if (tok(i).isWord("IDENTITY")) {
                    ++i;
                    m.identity = true;
                    m.nullable = false;
                    if (tok(i).isOp("(")) {
                        ++i;
                        bool neg = tok(i).isOp("-");
                        if (neg) ++i;
                        if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                        seed = std::atoll(tok(i).value.c_str()) * (neg ? -1 : 1);
                        ++i;
                        expectOp(i, ",");
                        if (tok(i).isOp("-")) ++i;
                        if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                        ++i;
                        expectOp(i, ")");
                    }
                } else if (tok(i).isWord("NOT") && tok(i + 1).isWord("NULL")) {
                    i += 2; m.nullable = false;
                } else if (tok(i).isWord("NULL")) {
                    ++i; m.nullable = true;
                } else if (tok(i).isWord("PRIMARY")) {
                    ++i;
                    expectWord(i, "KEY");
                    constraintWords();
                    if (!pk.empty()) throw makeError(8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '@table variable'.", true);
                    pk.push_back(m.name);
                } else if (tok(i).isWord("UNIQUE")) {
                    ++i;
                    constraintWords();
                    uniques.push_back({m.name});
                } else if (tok(i).isWord("DEFAULT")) {
                    ++i;
                    Translation d;
                    m.defaultSql = expr(i, d);
                    if (!d.params.empty()) throw syntaxError(tok(i - 1));
                } else if (tok(i).isWord("CHECK")) {
                    ++i;
                    expectOp(i, "(");
                    checks.push_back(expr(i, scratch));
                    expectOp(i, ")");
                } else if (tok(i).isWord("COLLATE")) {
                    ++i;
                    name(i);
                } else {
                    break;
                }
            }
            for (const auto &c : cols)
                if (iequals(c.name, m.name))
                    throw makeError(2705, 16, "Column names in each table must be unique. Column name '" + m.name
                                    + "' in table '@table variable' is specified more than once.", true);
            cols.push_back(m);
        }
        if (!tok(i).isOp(",")) break;
        ++i;
        if (tok(i).isOp(")")) break;
    }
    expectOp(i, ")");
    if (!scratch.params.empty()) throw syntaxError(tok(i - 1)); // constraints hold no variables
    int ord = 0;
    for (const auto &p : pk) {
        ++ord;
        bool found = false;
        for (auto &c : cols)
            if (iequals(c.name, p)) { c.pkOrdinal = ord; c.nullable = false; found = true; }
        if (!found) throw makeError(1911, 16, "Column name '" + p + "' does not exist in the target table or view.", true);
    }
    int identities = 0;
    for (const auto &c : cols) identities += c.identity ? 1 : 0;
    if (identities > 1)
        throw makeError(2744, 16, "Multiple identity columns specified for table '@table variable'. Only one identity column per table is allowed.", true);
    meta.name = sqlName;
    meta.columns = cols;

    std::string ddl = "CREATE TABLE \"temp\"." + quoteIdent(sqlName) + " (";
    bool identityIsKey = false;
    for (size_t k = 0; k < cols.size(); ++k) {
        const ColumnMeta &c = cols[k];
        if (k) ddl += ", ";
        if (c.identity) {
            ddl += quoteIdent(c.name) + " INTEGER PRIMARY KEY AUTOINCREMENT";
            identityIsKey = pk.size() == 1 && c.pkOrdinal == 1;
            continue;
        }
        ddl += quoteIdent(c.name) + " " + sqliteDecl(c);
        if (!c.nullable) ddl += " NOT NULL";
        if (!c.defaultSql.empty()) ddl += " DEFAULT (" + c.defaultSql + ")";
        ddl += " CHECK (dv_check(" + quoteIdent(c.name) + ", " + typeArgs(c) + "))";
    }
    auto quoted = [](const std::vector<std::string> &v) {
        std::string s;
        for (size_t k = 0; k < v.size(); ++k) { if (k) s += ", "; s += quoteIdent(v[k]); }
        return s;
    };
    if (!pk.empty() && !identityIsKey) ddl += (identities ? ", UNIQUE (" : ", PRIMARY KEY (") + quoted(pk) + ")";
    for (const auto &u : uniques) ddl += ", UNIQUE (" + quoted(u) + ")";
    for (const auto &c : checks) ddl += ", CHECK (" + c + ")";
    ddl += ")";
    std::vector<std::string> out{ddl};
    if (identities && seed != 1)
        out.push_back("INSERT INTO \"temp\".sqlite_sequence(name, seq) VALUES (" + quoteLiteral(sqlName) + ", "
                      + std::to_string(seed - 1) + ")");
    return out;
}

} // namespace ts
