// FOR XML RAW | PATH after a select: each row becomes markup made by
// dv_forxml_row (the engine writes each value by the kind its column's type
// gives it), the rows one text. At the top of a statement the text comes back
// in one column split into rows of 2033 characters (with TYPE: one xml
// value); in a subquery it is one nvarchar(max) value (with TYPE: xml), NULL
// when there are no rows. AUTO and EXPLICIT are not built.
#include "tsql/sqltranslate.h"

#include <cctype>
#include <cstdio>

namespace ts {

namespace {

const char *const kXmlColumn = "XML_F52E2B61-18A1-11d1-B105-00805F49916B";

struct XmlOptions {
    bool raw = false;
    std::string row = "row";    // the row element; "" = none (PATH(''))
    bool hasRoot = false;
    std::string root = "root";
    bool elements = false, xsinil = false, type = false;
};

// 6850 for a name that cannot be an XML name (a PATH name may hold '/' and '@').
void checkXmlName(const std::string &name, bool pathMode)
{
    if (name.empty() || name == "*" || name == "text()" || name == "data()") return;
    for (size_t k = 0; k < name.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(name[k]);
        const bool start = k == 0 || (pathMode && (name[k - 1] == '/' || name[k - 1] == '@'));
        bool okChar = std::isalpha(c) || c == '_' || c >= 0x80 || (pathMode && (c == '/' || (c == '@' && start)));
        if (!start) okChar = okChar || std::isdigit(c) || c == '-' || c == '.';
        if (!okChar) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04X", c);
            throw makeError(6850, 16, "Column name '" + name + "' contains an invalid XML identifier as required by FOR XML; '"
                            + std::string(1, static_cast<char>(c)) + "' (0x" + hex + ") is the first character at fault.", true);
        }
    }
}

// 6852 for an attribute after an element or text of the same element.
void checkAttributeOrder(const std::vector<std::string> &names)
{
    bool content = false;
    for (const auto &n : names) {
        if (!n.empty() && n[0] == '@') {
            if (content)
                throw makeError(6852, 16, "Attribute-centric column '" + n + "' must not come after a non-attribute-centric "
                                "sibling in XML hierarchy in FOR XML PATH.", true);
        } else if (n.find('/') == std::string::npos) {
            content = true;
        }
    }
}

} // namespace

// FOR XML RAW|PATH [('row')] [, ROOT[('r')]] [, ELEMENTS [XSINIL|ABSENT]] [, TYPE] [, BINARY BASE64]
// after the select `inner` that starts at token `selectBegin`.
std::string Translator::forXml(size_t &i, Translation &tr, const std::string &inner, size_t selectBegin, bool topLevel)
{
    const std::vector<std::string> names = m_selectNames;
    const std::vector<Translation::ResultType> types = m_coreTypes;
    expectWord(i, "FOR");
    expectWord(i, "XML");
    XmlOptions o;
    o.raw = tok(i).isWord("RAW");
    if (!o.raw && !tok(i).isWord("PATH")) throw syntaxError(tok(i)); // AUTO and EXPLICIT are not built
    ++i;
    auto nameArg = [&](std::string &out) {
        if (!tok(i).isOp("(")) return;
        ++i;
        if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
        out = tok(i++).value;
        expectOp(i, ")");
    };
    nameArg(o.row);
    while (tok(i).isOp(",")) {
        ++i;
        if (tok(i).isWord("ROOT")) { ++i; o.hasRoot = true; nameArg(o.root); }
        else if (tok(i).isWord("ELEMENTS")) {
            ++i;
            o.elements = true;
            if (tok(i).isWord("XSINIL")) { ++i; o.xsinil = true; }
            else if (tok(i).isWord("ABSENT")) ++i;
        } else if (tok(i).isWord("TYPE")) { ++i; o.type = true; }
        else if (tok(i).isWord("BINARY")) { ++i; expectWord(i, "BASE64"); }
        else throw syntaxError(tok(i));
    }
    std::vector<ColumnMeta> cols;
    std::vector<std::string> keys = names;
    const bool positional = ctx && derivedColumns(selectBegin, names, cols);
    if (positional) {
        keys.clear();
        for (const auto &c : cols) keys.push_back(c.name);
    }
    for (const auto &k : keys) checkXmlName(k, !o.raw);
    if (o.raw) {
        for (const auto &k : keys)
            if (k.empty())
                throw makeError(6851, 16, "FOR XML RAW requires a column name or alias for every column.", true);
    } else {
        checkAttributeOrder(keys);
    }
    std::string flags = o.raw ? "r" : "p";
    if (o.elements || !o.raw) flags += "e";
    if (o.xsinil) flags += o.hasRoot ? "X" : "x";
    std::string call = "dv_forxml_row(" + quoteLiteral(flags) + ", " + quoteLiteral(o.row);
    const std::vector<std::string> kinds = itemKinds(selectBegin, names, types, true);
    for (size_t c = 0; c < keys.size(); ++c)
        call += ", " + quoteLiteral(keys[c]) + ", " + quoteLiteral(c < kinds.size() ? kinds[c] : "") + ", \"__dv_fx\"."
            + quoteIdent(positional ? "c" + std::to_string(c + 1) : keys[c]);
    call += ")";
    // The columns are read by position: unnamed ones ('' + x) and names given twice are common here.
    std::string source = "(" + inner + ") AS \"__dv_fx\"";
    if (positional) {
        std::string list;
        for (size_t c = 0; c < keys.size(); ++c) list += (c ? ", \"c" : "\"c") + std::to_string(c + 1) + "\"";
        source = "(WITH \"__dv_fx\"(" + list + ") AS (" + inner + ") SELECT * FROM \"__dv_fx\") AS \"__dv_fx\"";
    }
    return forXmlSql(tr, source, call, o.hasRoot ? o.root : std::string(), o.hasRoot, o.xsinil, o.type, topLevel);
}

// The rows' markup as one text, under the root element if there is one.
std::string Translator::forXmlSql(Translation &tr, const std::string &inner, const std::string &row, const std::string &root,
                                  bool hasRoot, bool xsinil, bool type, bool topLevel)
{
    tr.derived = true;
    std::string agg = "group_concat(\"o\", '')";
    if (hasRoot) {
        const std::string ns = xsinil ? " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"" : "";
        agg = quoteLiteral("<" + root + ns + ">") + " || coalesce(" + agg + ", '') || " + quoteLiteral("</" + root + ">");
    }
    const std::string rows = "SELECT CASE WHEN count(*) = 0 THEN NULL ELSE " + agg + " END AS \"j\" FROM (SELECT " + row
        + " AS \"o\" FROM " + inner + ")";
    if (!topLevel) return rows;
    ColumnMeta m;
    m.type = type ? "xml" : "nvarchar";
    m.length = -1;
    tr.resultTypes.assign(1, Translation::ResultType{m, ""});
    m_selectNames = {kXmlColumn};
    const std::string col = quoteIdent(kXmlColumn);
    if (type) return "SELECT \"j\" AS " + col + " FROM (" + rows + ") WHERE \"j\" IS NOT NULL";
    return "SELECT " + col + " FROM (WITH RECURSIVE \"__dv_js\"(\"j\") AS (" + rows + "), \"__dv_jp\"(\"k\") AS (SELECT 0 "
        "UNION ALL SELECT \"k\" + 1 FROM \"__dv_jp\", \"__dv_js\" WHERE (\"k\" + 1) * 2033 < length(\"j\")) SELECT "
        "substr(\"j\", \"k\" * 2033 + 1, 2033) AS " + col + " FROM \"__dv_jp\", \"__dv_js\" WHERE \"j\" IS NOT NULL "
        "ORDER BY \"k\")";
}

} // namespace ts
