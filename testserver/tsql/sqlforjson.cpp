// FOR JSON PATH | AUTO after a select: each row becomes an object made by
// dv_forjson_object (the engine formats each value by the kind the column's
// type gives it), the rows one array. At the top of a statement the text comes
// back as SQL Server sends it: one nvarchar(max) column split into rows of
// 2033 characters; in a subquery it is one value, NULL when there are no rows.
#include "tsql/sqltranslate.h"

#include <algorithm>

namespace ts {

namespace {

const char *const kJsonColumn = "JSON_F52E2B61-18A1-11d1-B105-00805F49916B";

// How the engine writes a value of a column of type `m` (see dv_forjson_object).
std::string kindOfType(const ColumnMeta &m)
{
    const std::string &t = m.type;
    if (t == "bit") return "b";
    if (t == "tinyint" || t == "smallint" || t == "int" || t == "bigint" || t == "float" || t == "real") return "n";
    if (t == "decimal" || t == "numeric") return "d" + std::to_string(m.scale);
    if (t == "money" || t == "smallmoney") return "d4";
    if (t == "datetime" || t == "smalldatetime") return "T"; // no fraction when it is .000
    if (t == "date" || t == "datetime2" || t == "datetimeoffset" || t == "time") return "t";
    if (t == "binary" || t == "varbinary" || t == "image" || t == "timestamp" || t == "rowversion") return "x";
    if (t == "xml") return "m";
    if (t.empty()) return "";
    return "s";
}

std::string kindOfNumber(const std::string &code)
{
    const num::Type t = num::typeFromCode(code);
    if (t.decimalLike()) return "d" + std::to_string(t.kind == num::Type::Decimal ? t.scale : 4);
    if (t.numeric()) return "n";
    return "";
}

// The key path of a column: PATH mode nests at dots; AUTO keeps the name whole.
std::vector<std::string> keyPath(const std::string &name, bool pathMode)
{
    std::vector<std::string> out;
    if (!pathMode) return {name};
    size_t from = 0;
    for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', from)) {
        out.push_back(name.substr(from, dot - from));
        from = dot + 1;
    }
    out.push_back(name.substr(from));
    return out;
}

bool startsWith(const std::vector<std::string> &path, const std::vector<std::string> &prefix)
{
    if (prefix.size() > path.size()) return false;
    for (size_t k = 0; k < prefix.size(); ++k)
        if (path[k] != prefix[k]) return false;
    return true;
}

// 13601 where one column's path is another's prefix, or a nested object's
// properties are not next to each other (SQL Server writes each object once).
void checkPaths(const std::vector<std::vector<std::string>> &paths, const std::vector<std::string> &names)
{
    for (size_t a = 0; a < paths.size(); ++a) {
        for (size_t b = 0; b < paths.size(); ++b) {
            if (a == b) continue;
            const bool prefix = startsWith(paths[b], paths[a]) && paths[a].size() < paths[b].size();
            bool split = false;
            if (b > a + 1 && paths[a].size() > 1 && paths[b].size() > 1 && paths[a][0] == paths[b][0])
                for (size_t m = a + 1; m < b; ++m) split = split || paths[m].size() < 2 || paths[m][0] != paths[a][0];
            if (prefix || split)
                throw makeError(13601, 16, "Property '" + names[b] + "' cannot be generated in JSON output due to a "
                                "conflict with another column name or alias. Use different names and aliases for each "
                                "column in SELECT list.", true);
        }
    }
}

} // namespace

// The kind of the select item [a, b) (see kindOfType): a nested FOR JSON (in
// JSON) or JSON_QUERY is JSON already, a nested FOR XML ... TYPE markup (in
// XML); a column or CAST by its type; else by `number`.
std::string Translator::forJsonKind(size_t a, size_t b, const std::vector<ScopeTable> &tables, const std::string &number,
                                    bool xml)
{
    size_t e = b;
    if (e > a + 2 && tok(e - 2).isWord("AS")) e -= 2;
    else if (e > a + 1 && (isAliasToken(e - 1) || tok(e - 1).kind == Token::String) && !tok(e - 2).isOp(".")) e -= 1;
    size_t x = a;
    if (b > a + 2 && tok(a + 1).isOp("=") && (tok(a).isName() || tok(a).kind == Token::String)) { x = a + 2; e = b; }
    if (!xml && tok(x).isWord("JSON_QUERY") && tok(x + 1).isOp("(")) return "j";
    if (tok(x).isOp("(") && tok(x + 1).isWord("SELECT")) {
        int depth = 0;
        bool forXml = false;
        for (size_t k = x; k < e; ++k) {
            if (tok(k).isOp("(")) ++depth;
            else if (tok(k).isOp(")")) --depth;
            else if (depth == 1 && tok(k).isWord("FOR") && tok(k + 1).isWord("JSON")) return xml ? "s" : "j";
            else if (depth == 1 && tok(k).isWord("FOR") && tok(k + 1).isWord("XML")) forXml = true;
            else if (depth == 1 && forXml && tok(k).isWord("TYPE")) return xml ? "m" : "s";
        }
        if (forXml) return "s";
    }
    std::string byType = kindOfType(derivedItemType(a, b, tables));
    if (byType == "m" && !xml) byType = "s";
    return byType.empty() ? kindOfNumber(number) : byType;
}

// The kinds of the columns of the select at `selectBegin`, a star's columns by their table's types.
std::vector<std::string> Translator::itemKinds(size_t selectBegin, const std::vector<std::string> &names,
                                               const std::vector<Translation::ResultType> &types, bool xml)
{
    const std::vector<ScopeTable> tables = fromTables(selectBegin + 1);
    std::vector<std::string> kinds;
    size_t i = selectBegin + 1;
    if (tok(i).isWord("ALL") || tok(i).isWord("DISTINCT")) ++i;
    if (tok(i).isWord("TOP")) { Translation scratch; topClause(i, scratch); }
    for (size_t item = 0; item < names.size(); ++item) {
        size_t a = i;
        for (int depth = 0; tok(i).kind != Token::End; ++i) {
            if (tok(i).isOp("(")) ++depth;
            else if (tok(i).isOp(")") && --depth < 0) break;
            else if (depth == 0 && (tok(i).isOp(",") || tok(i).isWord("FROM") || tok(i).isWord("FOR")
                                    || tok(i).isWord("WHERE") || tok(i).isWord("ORDER") || tok(i).isWord("INTO"))) break;
        }
        if (names[item] == "*") {
            const std::string qualifier = i == a + 3 ? tok(a).value : std::string();
            for (const auto &table : tables)
                if (qualifier.empty() || iequals(table.alias, qualifier))
                    for (const auto &c : table.meta.columns) {
                        std::string k = kindOfType(c);
                        kinds.push_back(k == "m" && !xml ? "s" : k);
                    }
        } else {
            kinds.push_back(forJsonKind(a, i, tables, item < types.size() ? types[item].number : std::string(), xml));
        }
        if (tok(i).isOp(",")) ++i;
    }
    return kinds;
}

// FOR JSON PATH|AUTO [, ROOT[('name')]] [, INCLUDE_NULL_VALUES] [, WITHOUT_ARRAY_WRAPPER]
// after the select `inner` that starts at token `selectBegin`.
std::string Translator::forJson(size_t &i, Translation &tr, const std::string &inner, size_t selectBegin, bool topLevel)
{
    const std::vector<std::string> names = m_selectNames;
    const std::vector<Translation::ResultType> types = m_coreTypes;
    expectWord(i, "FOR");
    expectWord(i, "JSON");
    const bool pathMode = tok(i).isWord("PATH");
    if (!pathMode && !tok(i).isWord("AUTO")) throw syntaxError(tok(i));
    ++i;
    std::string root;
    bool nulls = false, unwrapped = false, hasRoot = false;
    while (tok(i).isOp(",")) {
        ++i;
        if (tok(i).isWord("ROOT")) {
            ++i;
            hasRoot = true;
            root = "root";
            if (tok(i).isOp("(")) {
                ++i;
                if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
                root = tok(i++).value;
                expectOp(i, ")");
            }
        } else if (tok(i).isWord("INCLUDE_NULL_VALUES")) { ++i; nulls = true; }
        else if (tok(i).isWord("WITHOUT_ARRAY_WRAPPER")) { ++i; unwrapped = true; }
        else throw syntaxError(tok(i));
    }
    if (hasRoot && unwrapped)
        throw makeError(13620, 16, "ROOT option and WITHOUT_ARRAY_WRAPPER option cannot be used together in FOR JSON. "
                        "Remove one of these options.", true);
    std::vector<ColumnMeta> cols;
    if (ctx && !derivedColumns(selectBegin, names, cols)) {
        for (const auto &n : names)
            if (n.empty() || n == "*")
                throw makeError(13605, 16, "Column expressions and data sources without names or aliases cannot be "
                                "formatted as JSON text using FOR JSON clause. Add alias to the unnamed column or table.", true);
    }
    return forJsonSql(tr, inner, forJsonObject(selectBegin, names, types, pathMode, nulls), root, unwrapped, topLevel);
}

// dv_forjson_object(flags, key, kind, value, ...) over the columns of the select at `selectBegin`.
std::string Translator::forJsonObject(size_t selectBegin, const std::vector<std::string> &names,
                                      const std::vector<Translation::ResultType> &types, bool pathMode, bool nulls)
{
    std::vector<ColumnMeta> cols;
    const bool expanded = derivedColumns(selectBegin, names, cols);
    const std::vector<std::string> kinds = itemKinds(selectBegin, names, types, false);
    std::vector<std::string> keys;
    if (expanded) for (const auto &c : cols) keys.push_back(c.name);
    else keys = names;
    std::vector<std::vector<std::string>> paths;
    for (const auto &k : keys) {
        if (pathMode && !k.empty() && (k.find("..") != std::string::npos || k.front() == '.' || k.back() == '.'))
            throw makeError(13603, 16, "Property '" + k + "' cannot be generated in JSON output due to an invalid character "
                            "in the column name or alias. Column names or aliases that contain '..', start or end with '.' "
                            "are not allowed in queries that use the FOR JSON clause.", true);
        paths.push_back(keyPath(k, pathMode));
    }
    checkPaths(paths, keys);
    std::string call = std::string("dv_forjson_object(") + quoteLiteral(std::string(pathMode ? "p" : "a") + (nulls ? "n" : ""));
    for (size_t c = 0; c < keys.size(); ++c)
        call += ", " + quoteLiteral(keys[c]) + ", " + quoteLiteral(c < kinds.size() ? kinds[c] : "") + ", "
            + "\"__dv_fj\"." + quoteIdent(keys[c]);
    return call + ")";
}

// The rows' objects as one array (or the objects alone, or under a root);
// at the top of a statement split into rows of 2033 characters.
std::string Translator::forJsonSql(Translation &tr, const std::string &inner, const std::string &object,
                                   const std::string &root, bool unwrapped, bool topLevel)
{
    tr.derived = true;
    std::string agg = "group_concat(\"o\", ',')";
    if (!unwrapped) agg = "'[' || " + agg + " || ']'";
    if (!root.empty()) agg = "'{' || dv_forjson_key(" + quoteLiteral(root) + ") || ':' || " + agg + " || '}'";
    const std::string rows = "SELECT CASE WHEN count(*) = 0 THEN NULL ELSE " + agg + " END AS \"j\" FROM (SELECT " + object
        + " AS \"o\" FROM (" + inner + ") AS \"__dv_fj\")";
    if (!topLevel) return rows;
    ColumnMeta text;
    text.type = "nvarchar";
    text.length = -1;
    tr.resultTypes.assign(1, Translation::ResultType{text, ""});
    m_selectNames = {kJsonColumn};
    const std::string col = quoteIdent(kJsonColumn);
    return "SELECT " + col + " FROM (WITH RECURSIVE \"__dv_js\"(\"j\") AS (" + rows + "), \"__dv_jp\"(\"k\") AS (SELECT 0 "
        "UNION ALL SELECT \"k\" + 1 FROM \"__dv_jp\", \"__dv_js\" WHERE (\"k\" + 1) * 2033 < length(\"j\")) SELECT "
        "substr(\"j\", \"k\" * 2033 + 1, 2033) AS " + col + " FROM \"__dv_jp\", \"__dv_js\" WHERE \"j\" IS NOT NULL "
        "ORDER BY \"k\")";
}

} // namespace ts
