// xml's modify() method: SET @x.modify('dml') and UPDATE ... SET col.modify('dml')
// become an assignment of dv_xml_modify(value, 'dml', name); the statement is read
// here so that its static errors come before anything runs. Anywhere else
// modify() is refused, as SQL Server refuses a mutator in a query.
#include "tsql/sqltranslate.h"

#include "base/xmlmodify.h"

namespace ts {

bool xmlModifyAt(const std::vector<Token> &toks, size_t i)
{
    return i + 2 < toks.size() && toks[i].isOp(".") && toks[i + 1].isWord("modify") && toks[i + 2].isOp("(");
}

// .modify('dml') at `i` on `operand`: the SQL of the changed value; `mutable`
// says whether the place takes a mutator (SET @x.modify, UPDATE's SET).
std::string xmlModifyCall(const std::vector<Token> &toks, size_t &i, const std::string &operand, bool mutable_)
{
    const std::string target = toks[i - 1].value; // the variable or column, named by the error for a NULL
    if (!mutable_)
        throw makeError(8137, 16, "Incorrect use of the XML data type method 'modify'. A non-mutator method is expected in this context.", true);
    i += 3;
    if (toks[i].kind != Token::String && toks[i].kind != Token::NString) throw syntaxError(toks[i]);
    const std::string dml = toks[i++].value;
    if (!toks[i].isOp(")")) throw syntaxError(toks[i]);
    ++i;
    XmlDml parsed;
    XmlError err;
    if (!parseXmlDml(dml, parsed, err)) throw makeError(err.number, 16, err.text, true);
    return "dv_xml_modify(" + operand + ", " + quoteLiteral(dml) + ", " + quoteLiteral(target) + ")";
}

} // namespace ts
