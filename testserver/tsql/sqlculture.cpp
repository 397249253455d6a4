// PARSE(text AS type [USING culture]) and TRY_PARSE: text read for a culture
// (the session language's when none is named) into a number or date type.
#include "tsql/sqltranslate.h"

#include <algorithm>

namespace ts {

bool Translator::parseCall(size_t &i, Translation &tr, std::string &out)
{
    const size_t begin = i;
    const bool tryParse = upper(tok(i).value) == "TRY_PARSE";
    const std::string fname = tryParse ? "try_parse" : "parse";
    i += 2; // name and "("
    const size_t valueBegin = i;
    const std::string value = expr(i, tr);
    if (i == valueBegin + 1 && tok(valueBegin).isWord("NULL"))
        throw makeError(8116, 16, "Argument data type NULL is invalid for argument 1 of " + fname + " function.", true);
    expectWord(i, "AS");
    const ColumnMeta m = typeSpec(i);
    static const char *const allowed[] = {"bigint", "int", "smallint", "tinyint", "decimal", "numeric", "float", "real",
                                          "smallmoney", "money", "date", "time", "datetime", "smalldatetime",
                                          "datetime2", "datetimeoffset"};
    if (std::find(std::begin(allowed), std::end(allowed), m.type) == std::end(allowed))
        throw makeError(10761, 16, "Invalid data type " + m.type + " in function " + fname + ".", true);
    std::string culture = "NULL";
    if (tok(i).isWord("USING")) {
        ++i;
        culture = expr(i, tr);
    }
    expectOp(i, ")");
    const Value language = ctx ? ctx->systemValue("@@LANGUAGE") : Value::text("us_english");
    const std::string parsed = "dv_parse(" + value + ", " + quoteLiteral(m.type) + ", " + culture + ", " + param(tr, language)
        + ", " + (tryParse ? "1" : "0") + ")";
    out = tryParse ? "dv_try_cast(" + parsed + ", " + typeArgs(m) + ")" : castTo(parsed, num::Type{}, m);
    m_type = num::typeFromName(m.type, m.precision, m.scale);
    m_plain = false;
    m_typedBegin = begin;
    m_typedEnd = i;
    m_typedResult = m;
    return true;
}

} // namespace ts
