// hierarchyid in the translator: hierarchyid::GetRoot() and ::Parse(), and
// the methods called on a value (h.GetLevel(), h.GetDescendant(a, b) ...),
// each typed as SQL Server types its result. Arguments that are text are
// parsed as paths, as SQL Server converts them implicitly.
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

const char *const kMethods[] = {"ToString", "GetLevel", "GetAncestor", "GetDescendant", "IsDescendantOf", "GetReparentedValue"};

ColumnMeta resultOf(const char *type, int length = 0)
{
    ColumnMeta m;
    m.type = type;
    m.length = length;
    return m;
}

} // namespace

bool hierarchyIdMethodAt(const std::vector<Token> &toks, size_t i)
{
    if (i + 2 >= toks.size() || !toks[i].isOp(".") || !toks[i + 2].isOp("(") || toks[i + 1].kind != Token::Ident)
        return false;
    for (const char *m : kMethods)
        if (iequals(toks[i + 1].value, m)) return true;
    return false;
}

// The arguments of a call from its "(" at `i` to its ")", each as a path.
std::vector<std::string> Translator::hierarchyIdArgs(size_t &i, Translation &tr)
{
    std::vector<std::string> args;
    expectOp(i, "(");
    while (!tok(i).isOp(")")) {
        if (!args.empty()) expectOp(i, ",");
        args.push_back("dv_hid_parse(" + expr(i, tr) + ")");
    }
    expectOp(i, ")");
    return args;
}

// operand.Method(...) from the "." at `i`.
std::string Translator::hierarchyIdMethod(size_t &i, Translation &tr, const std::string &operand, ColumnMeta &type)
{
    const Token &m = tok(i + 1);
    const std::string name = lower(m.value);
    i += 2;
    std::vector<std::string> args;
    if (name == "getancestor") {
        expectOp(i, "(");
        args.push_back(expr(i, tr));
        expectOp(i, ")");
    } else {
        args = hierarchyIdArgs(i, tr);
    }
    const size_t want = name == "getdescendant" || name == "getreparentedvalue" ? 2
        : name == "getancestor" || name == "isdescendantof" ? 1 : 0;
    if (args.size() != want)
        throw makeError(10504, 16, "The number of parameters passed to the method '" + m.value
                        + "' of type 'Microsoft.SqlServer.Types.SqlHierarchyId' is incorrect.", true);
    const std::string self = "dv_hid_parse(" + operand + ")";
    if (name == "tostring") { type = resultOf("nvarchar", 4000); return "dv_hid_tostring(" + self + ")"; }
    if (name == "getlevel") { type = resultOf("smallint"); return "dv_hid_level(" + self + ")"; }
    if (name == "isdescendantof") { type = resultOf("bit"); return "dv_hid_isdescendantof(" + self + ", " + args[0] + ")"; }
    type = resultOf("hierarchyid", 892);
    if (name == "getancestor") return "dv_hid_ancestor(" + self + ", " + args[0] + ")";
    if (name == "getreparentedvalue") return "dv_hid_reparent(" + self + ", " + args[0] + ", " + args[1] + ")";
    return "dv_hid_descendant(" + self + ", " + args[0] + ", " + args[1] + ")";
}

// hierarchyid::GetRoot() | hierarchyid::Parse(text) from the type name at `i`.
std::string Translator::hierarchyIdStatic(size_t &i, Translation &tr, ColumnMeta &type)
{
    i += 2;
    const Token &m = tok(i);
    ++i;
    type = resultOf("hierarchyid", 892);
    if (m.isWord("GetRoot")) {
        expectOp(i, "(");
        expectOp(i, ")");
        return "dv_hid_root()";
    }
    if (m.isWord("Parse")) {
        const std::vector<std::string> args = hierarchyIdArgs(i, tr);
        if (args.size() != 1)
            throw makeError(10504, 16, "The number of parameters passed to the method 'Parse' of type "
                            "'Microsoft.SqlServer.Types.SqlHierarchyId' is incorrect.", true);
        return args[0];
    }
    throw makeError(6506, 16, "Could not find method '" + m.value + "' for type 'Microsoft.SqlServer.Types.SqlHierarchyId' "
                    "in assembly 'Microsoft.SqlServer.Types'", true);
}

} // namespace ts
