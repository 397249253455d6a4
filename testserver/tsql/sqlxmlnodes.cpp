// xml's nodes() method as a table source: @x.nodes('path') AS T(c), and
// t.col.nodes(...) / T.c.nodes(...) on the right of CROSS or OUTER APPLY. The
// rows come from the engine's dv_xml_nodes; its column is renamed to the one
// the alias names through a lateral statement (SQLite cannot rename a
// table-valued function's column), whose argument is the left row's xml.
// The column is a context node, typed "xmlnode" in the scope so that any use
// but its xml methods and IS [NOT] NULL is refused.
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

SqlError usedDirectly(const std::string &column)
{
    return makeError(493, 16, "The column '" + column + "' that was returned from the nodes() method cannot be used directly. "
                     "It can only be used with one of the four XML data type methods, exist(), nodes(), query(), and "
                     "value(), or in IS NULL and IS NOT NULL checks.", true);
}

} // namespace

// A column of nodes() stands for a context node, not a value: only its xml
// methods and IS [NOT] NULL may use it.
void Translator::refuseBareXmlNode(size_t begin, size_t end) const
{
    if (tok(end).isWord("IS") || expressionTypeName(begin, end) != "xmlnode") return;
    throw usedDirectly(tok(end - 1).value);
}

// * or T.* would read a nodes() column as a value too.
void Translator::refuseXmlNodesInStar(const std::string &alias) const
{
    if (m_scopes.empty()) return;
    for (const ScopeTable &table : m_scopes.back()) {
        if (!alias.empty() && !iequals(alias, table.alias)) continue;
        for (const ColumnMeta &c : table.meta.columns)
            if (c.type == "xmlnode") throw usedDirectly(c.name);
    }
}

// Whether a nodes() call starts at `k` (@v.nodes( or a.b.nodes( ); `call` gets the "." before nodes.
bool Translator::xmlNodesAt(size_t k, size_t *call) const
{
    if (tok(k).kind == Token::Variable) {
        ++k;
    } else {
        if (!tok(k).isName()) return false;
        ++k;
        while (tok(k).isOp(".") && tok(k + 1).isName() && !(tok(k + 1).isWord("nodes") && tok(k + 2).isOp("("))) k += 2;
    }
    if (!tok(k).isOp(".") || !tok(k + 1).isWord("nodes") || !tok(k + 2).isOp("(")) return false;
    if (call) *call = k;
    return true;
}

// The alias and column after a nodes() call's ")" at `k`: AS T(c), required as SQL Server requires them.
Translator::ScopeTable Translator::xmlNodesAlias(size_t &k)
{
    ScopeTable out;
    out.alias = sourceAlias(k);
    expectOp(k, "(");
    ColumnMeta c;
    c.name = name(k);
    c.type = "xmlnode";
    expectOp(k, ")");
    out.meta.columns.push_back(c);
    return out;
}

// The scope entry of the nodes() call at `k`, for the select list read before FROM.
bool Translator::xmlNodesScope(size_t k, ScopeTable &out)
{
    size_t call = 0;
    if (!xmlNodesAt(k, &call)) return false;
    k = call + 3;
    if (tok(k).kind != Token::String && tok(k).kind != Token::NString) return false;
    k += 2;
    try {
        out = xmlNodesAlias(k);
    } catch (const SqlError &) {
        return false;
    }
    return true;
}

bool Translator::xmlNodesSource(size_t &i, Translation &tr, std::string &out)
{
    size_t call = 0;
    if (!xmlNodesAt(i, &call)) return false;
    Lateral lat;
    lat.all = true;
    std::string operand;
    if (tok(i).kind == Token::Variable) {
        operand = variableValue(i, tr);
    } else {
        std::vector<std::string> parts;
        for (; i < call; i += 2) parts.push_back(tok(i).value);
        Lateral *const saved = m_lateral;
        m_lateral = &lat;
        lateralReference(parts, operand);
        m_lateral = saved;
    }
    i = call + 3;
    if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
    const std::string path = tok(i++).value;
    expectOp(i, ")");
    const ScopeTable scope = xmlNodesAlias(i);
    const std::string inner = "SELECT node AS " + quoteIdent(scope.meta.columns[0].name) + " FROM dv_xml_nodes(" + operand
        + ", " + quoteLiteral(path) + ")";
    out = (lat.refs.empty() ? "(" + inner + ")" : lateralCall(inner, lat.refs, {}, tr)) + " AS " + quoteIdent(scope.alias);
    if (!m_scopes.empty()) m_scopes.back().push_back(scope);
    return true;
}

} // namespace ts
