// The table-valued built-ins STRING_SPLIT and OPENJSON in FROM, and CROSS
// APPLY / OUTER APPLY. The built-ins are SQLite table-valued functions
// (engine/enginetvf.cpp), which SQLite runs once per row of the tables left
// of them with arguments that may name those tables' columns: CROSS APPLY is
// an inner join to such a call, OUTER APPLY a left join that keeps a row for
// which the call gives no rows, with NULLs. A derived table or VALUES list on
// the right that names the left tables' columns becomes such a call too.
#include "tsql/sqltranslate.h"

#include <cstdlib>
#include <functional>

namespace ts {

// Whether the text expression [begin, end) is of a Unicode type: an N'...'
// literal, a variable or a column declared nchar/nvarchar/ntext; anything else
// is taken as what SQL Server computes most often, nvarchar.
bool Translator::unicodeOperand(size_t begin, size_t end) const
{
    if (end != begin + 1 && !(end == begin + 3 && tok(begin + 1).isOp("."))) return true;
    const Token &last = tok(end - 1);
    if (last.kind == Token::String) return false;
    if (last.kind == Token::NString) return true;
    ColumnMeta m;
    if (last.kind == Token::Variable && ctx) m = ctx->variableType(lower(last.value));
    if (last.isName()) {
        for (auto scope = m_scopes.rbegin(); scope != m_scopes.rend() && m.type.empty(); ++scope)
            for (const ScopeTable &table : *scope) {
                if (end == begin + 3 && !iequals(table.alias, tok(begin).value)) continue;
                if (const ColumnMeta *c = table.meta.column(last.value)) { m = *c; break; }
            }
    }
    return m.type.empty() || m.type[0] == 'n';
}

// STRING_SPLIT(string, separator [, enable_ordinal]) from its name at `i`.
std::string Translator::stringSplitSource(size_t &i, Translation &tr)
{
    i += 2;
    const size_t stringBegin = i;
    const std::string text = expr(i, tr);
    const bool unicode = unicodeOperand(stringBegin, i);
    expectOp(i, ",");
    const std::string separator = expr(i, tr);
    bool ordinal = false;
    if (tok(i).isOp(",")) {
        ++i;
        // enable_ordinal is a constant 0 or 1 (NULL: off).
        if (tok(i).isWord("NULL")) {
            ++i;
        } else if (tok(i).kind == Token::Number) {
            const std::string v = tok(i++).value;
            if (v != "0" && v != "1")
                throw makeError(4199, 16, "Argument value " + v + " is invalid for argument 3 of string_split function.", true);
            ordinal = v == "1";
        } else {
            throw makeError(8748, 16, "The enable_ordinal argument for string_split only supports constant values "
                            "(not variables or columns).", true);
        }
    }
    expectOp(i, ")");
    tr.derived = true;
    return std::string("dv_string_split_") + (unicode ? "n" : "v") + (ordinal ? "o" : "") + "(" + text + ", " + separator + ")";
}

// One column of OPENJSON's WITH clause, name type ['path'] [AS JSON], as an
// expression over the row's value and type: the value at the path (lax: NULL
// where there is none; strict: error 13608), cast to the column's type.
std::string Translator::openJsonColumn(size_t &i)
{
    const std::string column = name(i);
    const ColumnMeta m = typeSpec(i);
    std::string path = "$." + column;
    if (tok(i).kind == Token::String) path = tok(i++).value;
    bool asJson = false;
    if (tok(i).isWord("AS")) {
        ++i;
        if (!tok(i).isWord("JSON")) throw syntaxError(tok(i));
        ++i;
        asJson = true;
        if (m.type != "nvarchar" || m.length != -1)
            throw makeError(13618, 16, "AS JSON option can be specified only for column of nvarchar(max) type in WITH clause.", true);
    }
    bool strict = false;
    const size_t mode = path.find_first_not_of(' ');
    for (const char *word : {"lax", "strict"}) {
        const std::string w(word);
        if (mode != std::string::npos && path.compare(mode, w.size(), w) == 0) {
            strict = w == "strict";
            path = path.substr(path.find_first_not_of(' ', mode + w.size()));
        }
    }
    const std::string p = quoteLiteral(path);
    const std::string jt = "json_type(\"value\", " + p + ")", je = "json_extract(\"value\", " + p + ")";
    const std::string inObject = asJson ? "CASE WHEN " + jt + " IN ('object', 'array') THEN " + je + " END"
        : "CASE " + jt + " WHEN 'true' THEN 'true' WHEN 'false' THEN 'false' WHEN 'object' THEN NULL WHEN 'array' THEN NULL ELSE "
            + je + " END";
    std::string e = path == "$" ? (asJson ? "CASE WHEN \"type\" IN (4, 5) THEN \"value\" END" : "CASE WHEN \"type\" IN (4, 5) THEN NULL ELSE \"value\" END")
        : "CASE WHEN \"type\" IN (4, 5) THEN (" + inObject + ") END";
    if (strict && path != "$")
        e = "CASE WHEN \"type\" IN (4, 5) AND " + jt + " IS NOT NULL THEN " + e + " ELSE dv_raise(13608, 16, "
            + quoteLiteral("Property cannot be found on the specified JSON path.") + ") END";
    if (!asJson) e = castTo(e, num::Type{}, m);
    return e + " AS " + quoteIdent(column);
}

// OPENJSON(json [, path]) with the default schema (key, value, type), or with
// WITH (columns): then a statement over the default one, lateral when its
// arguments name columns of the tables left of it.
std::string Translator::openJsonSource(size_t &i, Translation &tr)
{
    i += 2;
    const bool with = [&] {
        int depth = 0;
        size_t k = i;
        for (; tok(k).kind != Token::End; ++k) {
            if (tok(k).isOp("(")) ++depth;
            else if (tok(k).isOp(")") && depth-- == 0) break;
        }
        return tok(k + 1).isWord("WITH") && tok(k + 2).isOp("(");
    }();
    Lateral lat;
    lat.all = true;
    Lateral *const saved = m_lateral;
    if (with) m_lateral = &lat;
    std::string json, path = "NULL";
    try {
        json = expr(i, tr);
        if (tok(i).isOp(",")) { ++i; path = expr(i, tr); }
    } catch (...) {
        m_lateral = saved;
        throw;
    }
    m_lateral = saved;
    expectOp(i, ")");
    tr.derived = true;
    if (!with) return "dv_openjson(" + json + ", " + path + ")";
    i += 2;
    std::string cols;
    for (;;) {
        cols += (cols.empty() ? "" : ", ") + openJsonColumn(i);
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    const std::string inner = "SELECT " + cols + " FROM dv_openjson(" + json + ", " + path + ")";
    if (lat.refs.empty()) return "(" + inner + ")";
    return lateralCall(inner, lat.refs, {}, tr);
}

// A table-valued built-in at `i`, with its alias: its SQL in `out`.
bool Translator::tableFunction(size_t &i, Translation &tr, std::string &out)
{
    if (xmlNodesSource(i, tr, out)) return true;
    if (!tok(i + 1).isOp("(") || tok(i).kind != Token::Ident) return false;
    if (tok(i).isWord("STRING_SPLIT")) out = stringSplitSource(i, tr);
    else if (tok(i).isWord("OPENJSON")) out = openJsonSource(i, tr);
    else return false;
    std::string alias;
    if (tok(i).isWord("AS")) { ++i; alias = name(i); }
    else if (isAliasToken(i)) alias = name(i);
    if (!alias.empty()) out += " AS " + quoteIdent(alias);
    // A later lateral source may name its columns.
    if (!alias.empty() && !m_scopes.empty()) m_scopes.back().push_back({alias, TableMeta{}});
    return true;
}

// A column qualified by a table left of the lateral source (and not by one of
// the source's own): a marker that lateralCall() turns into a parameter.
bool Translator::lateralReference(const std::vector<std::string> &parts, std::string &out)
{
    if (m_lateral->all) {
        out = "\x02" + std::to_string(m_lateral->refs.size()) + "\x02";
        std::string ref;
        for (size_t p = parts.size() > 2 ? parts.size() - 2 : 0; p < parts.size(); ++p) ref += (ref.empty() ? "" : ".") + quoteIdent(parts[p]);
        m_lateral->refs.push_back(ref);
        return true;
    }
    if (parts.size() != 2) return false;
    for (size_t d = m_lateral->scopeDepth; d < m_scopes.size(); ++d)
        for (const ScopeTable &table : m_scopes[d])
            if (iequals(table.alias, parts[0])) return false;
    bool outer = false;
    for (const std::string &alias : m_lateral->outerAliases) outer = outer || iequals(alias, parts[0]);
    if (!outer) return false;
    out = "\x02" + std::to_string(m_lateral->refs.size()) + "\x02";
    m_lateral->refs.push_back(quoteIdent(parts[0]) + "." + quoteIdent(parts[1]));
    return true;
}

// The lateral source's statement as a table-valued call: the statement, with
// the batch's parameters and the left columns as its arguments, becomes a
// dv_lateral table made before the statement runs.
std::string Translator::lateralCall(std::string inner, const std::vector<std::string> &args,
                                    const std::vector<std::string> &columns, Translation &tr)
{
    const size_t shared = tr.params.size();
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string marker = "\x02" + std::to_string(k) + "\x02";
        for (size_t at = inner.find(marker); at != std::string::npos; at = inner.find(marker, at))
            inner.replace(at, marker.size(), "?" + std::to_string(shared + k + 1));
    }
    std::string call, names;
    for (size_t p = 1; p <= shared; ++p) call += (call.empty() ? "" : ", ") + std::string("?") + std::to_string(p);
    for (const std::string &a : args) call += (call.empty() ? "" : ", ") + a;
    for (const std::string &c : columns) names += ", " + quoteIdent(c);
    const std::string table = "__dv_lat_" + std::to_string(std::hash<std::string>{}(inner + names));
    tr.sql.push_back("CREATE VIRTUAL TABLE IF NOT EXISTS temp." + quoteIdent(table) + " USING dv_lateral("
                     + quoteLiteral(inner) + ", " + std::to_string(shared + args.size()) + names + ")");
    tr.derived = true;
    return quoteIdent(table) + "(" + call + ")";
}

// VALUES (a, b), (c, d) ...: the rows as a SELECT ... UNION ALL; the columns' names
// are markers that lateralSource() replaces by the names after the alias.
std::string Translator::valuesList(size_t &i, Translation &tr, size_t &columns)
{
    expectWord(i, "VALUES");
    std::string s;
    columns = 0;
    for (size_t row = 0;; ++row) {
        expectOp(i, "(");
        size_t n = 0;
        s += row ? " UNION ALL SELECT " : "SELECT ";
        for (;; ++n) {
            s += (n ? ", " : "") + expr(i, tr) + " AS \x03" + std::to_string(n) + "\x03";
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        expectOp(i, ")");
        if (row == 0) columns = n + 1;
        else if (n + 1 != columns)
            throw makeError(10709, 16, "The number of columns for each row in a table value constructor must be the same.", true);
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    return s;
}

// [AS] alias after a derived table: required, as SQL Server requires it.
std::string Translator::sourceAlias(size_t &i)
{
    if (tok(i).isWord("AS")) { ++i; return name(i); }
    if (!isAliasToken(i) && tok(i).kind != Token::QuotedIdent) throw syntaxError(tok(i));
    return name(i);
}

// (a, b, ...) after a derived table's alias: its column names; none when absent.
std::vector<std::string> Translator::columnAliases(size_t &i)
{
    std::vector<std::string> out;
    if (!tok(i).isOp("(")) return out;
    ++i;
    for (;;) {
        out.push_back(name(i));
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    return out;
}

// (SELECT ...) alias [(columns)] or (VALUES ...) alias (columns) from its "(":
// a plain derived table when it names no left column, else a lateral call.
std::string Translator::lateralSource(size_t &i, Translation &tr)
{
    Lateral lat;
    if (!m_scopes.empty())
        for (const ScopeTable &table : m_scopes.back()) lat.outerAliases.push_back(table.alias);
    lat.scopeDepth = m_scopes.size();
    Lateral *const saved = m_lateral;
    m_lateral = &lat;
    std::string inner;
    std::vector<std::string> names;
    size_t columns = 0;
    const bool values = tok(i + 1).isWord("VALUES");
    try {
        expectOp(i, "(");
        if (values) inner = valuesList(i, tr, columns);
        else if (tok(i).isWord("SELECT")) { inner = select(i, false, tr); names = m_selectNames; }
        else throw syntaxError(tok(i));
        expectOp(i, ")");
    } catch (...) {
        m_lateral = saved;
        throw;
    }
    m_lateral = saved;
    const std::string alias = sourceAlias(i);
    std::vector<std::string> cols = columnAliases(i);
    if (values) {
        if (cols.empty()) throw makeError(8155, 16, "No column name was specified for column 1 of '" + alias + "'.", true);
        if (cols.size() != columns)
            throw makeError(cols.size() < columns ? 8158 : 8159, 16, "'" + alias + "' has " + (cols.size() < columns ? "more" : "fewer")
                            + " columns than were specified in the column list.", true);
        for (size_t k = 0; k < columns; ++k) {
            const std::string marker = "\x03" + std::to_string(k) + "\x03";
            for (size_t at = inner.find(marker); at != std::string::npos; at = inner.find(marker, at))
                inner.replace(at, marker.size(), quoteIdent(cols[k]));
        }
        cols.clear();
    }
    if (!m_scopes.empty()) m_scopes.back().push_back({alias, TableMeta{}});
    if (lat.refs.empty() && cols.empty()) return "(" + inner + ") AS " + quoteIdent(alias);
    return lateralCall(inner, lat.refs, cols, tr) + " AS " + quoteIdent(alias);
}

// CROSS APPLY source | OUTER APPLY source at `i`: the join's SQL, or "" when `i` starts no APPLY.
std::string Translator::applyJoin(size_t &i, Translation &tr)
{
    if (!(tok(i).isWord("CROSS") || tok(i).isWord("OUTER")) || !tok(i + 1).isWord("APPLY")) return {};
    const bool outer = tok(i).isWord("OUTER");
    i += 2;
    const std::string source = tok(i).isOp("(") ? lateralSource(i, tr) : tableSource(i, tr);
    return outer ? " LEFT JOIN " + source + " ON 1" : " CROSS JOIN " + source;
}

} // namespace ts
