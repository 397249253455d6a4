// JSON_OBJECT('key': value, ... [NULL | ABSENT ON NULL]) and
// JSON_ARRAY(value, ... [NULL | ABSENT ON NULL]): JSON text built from the
// values, text quoted, numbers as written, JSON from a JSON function as it is.
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

struct JsonMember {
    std::string key; // SQLite expression of the key (JSON_OBJECT only)
    std::string value;
    num::Type type;
};

// One member with the comma before it (the list drops the first comma); a
// NULL value is JSON's null or, with ABSENT ON NULL, nothing.
std::string memberSql(const JsonMember &m, bool object, bool absent)
{
    const std::string key = object ? "json_quote(CAST(" + m.key + " AS TEXT)) || ':' || " : "";
    const std::string item = m.type.decimalLike() ? "CAST(" + m.value + " AS TEXT)" : "json_quote(" + m.value + ")";
    const std::string ifNull = absent ? "''" : "',' || " + key + "'null'";
    return "(CASE WHEN (" + m.value + ") IS NULL THEN " + ifNull + " ELSE ',' || " + key + item + " END)";
}

} // namespace

bool Translator::jsonConstructor(size_t &i, Translation &tr, std::string &out)
{
    const size_t begin = i;
    const bool object = upper(tok(i).value) == "JSON_OBJECT";
    i += 2; // name and "("
    bool absent = !object; // JSON_OBJECT keeps NULLs by default, JSON_ARRAY leaves them out
    std::vector<JsonMember> members;
    while (!tok(i).isOp(")")) {
        if ((tok(i).isWord("NULL") && tok(i + 1).isWord("ON")) || tok(i).isWord("ABSENT")) {
            absent = tok(i).isWord("ABSENT");
            i += absent ? 1 : 2;
            if (absent) expectWord(i, "ON");
            expectWord(i, "NULL");
            break;
        }
        if (!members.empty()) expectOp(i, ",");
        JsonMember m;
        if (object) {
            m.key = expr(i, tr);
            expectOp(i, ":");
        }
        m.value = expr(i, tr);
        m.type = m_type;
        members.push_back(m);
    }
    expectOp(i, ")");
    std::string list;
    for (const auto &m : members) list += (list.empty() ? "" : " || ") + memberSql(m, object, absent);
    const std::string open = object ? "'{'" : "'['", close = object ? "'}'" : "']'";
    out = "json(" + open + " || " + (list.empty() ? "" : "substr(" + list + ", 2) || ") + close + ")";
    m_type = num::Type{};
    m_plain = false;
    m_typedBegin = begin;
    m_typedEnd = i;
    m_typedResult = ColumnMeta{};
    m_typedResult.type = "nvarchar";
    m_typedResult.length = -1;
    return true;
}

} // namespace ts
