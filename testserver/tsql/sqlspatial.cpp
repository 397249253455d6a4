// geography and geometry in the translator: the static calls
// (geography::Point, geometry::STGeomFromText ...), the methods and
// properties of a value (g.STAsText(), g.STDistance(h), g.Lat ...), each
// typed as SQL Server types its result. Member names are case-sensitive, as
// the CLR's are; a name in the wrong case is refused as SQL Server refuses it.
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

struct Member {
    const char *name;
    bool method;        // called with ( ... ); else a property
    int args;
    const char *onlyFor;  // "geography" / "geometry" / nullptr for both
    const char *type;
    int length;
};

const Member kMembers[] = {
    {"STAsText", true, 0, nullptr, "nvarchar", -1},
    {"STAsBinary", true, 0, nullptr, "varbinary", -1},
    {"AsTextZM", true, 0, nullptr, "nvarchar", -1},
    {"ToString", true, 0, nullptr, "nvarchar", -1},
    {"STDistance", true, 1, nullptr, "float", 0},
    {"STLength", true, 0, nullptr, "float", 0},
    {"STArea", true, 0, nullptr, "float", 0},
    {"STNumPoints", true, 0, nullptr, "int", 0},
    {"STIsValid", true, 0, nullptr, "bit", 0},
    {"STIsEmpty", true, 0, nullptr, "bit", 0},
    {"STGeometryType", true, 0, nullptr, "nvarchar", 4000},
    {"STX", false, 0, "geometry", "float", 0},
    {"STY", false, 0, "geometry", "float", 0},
    {"Lat", false, 0, "geography", "float", 0},
    {"Long", false, 0, "geography", "float", 0},
    {"Z", false, 0, nullptr, "float", 0},
    {"M", false, 0, nullptr, "float", 0},
    {"STSrid", false, 0, nullptr, "int", 0},
};

const Member *memberNamed(const std::string &name)
{
    for (const Member &m : kMembers)
        if (iequals(name, m.name)) return &m;
    return nullptr;
}

std::string clrName(bool geography)
{
    return geography ? "Microsoft.SqlServer.Types.SqlGeography" : "Microsoft.SqlServer.Types.SqlGeometry";
}

ColumnMeta typed(const char *type, int length)
{
    ColumnMeta m;
    m.type = type;
    m.length = length;
    return m;
}

bool isSpatial(const std::string &type) { return type == "geography" || type == "geometry"; }

const char *operatorName(const std::string &op)
{
    if (op == "=") return "equal to";
    if (op == "<>") return "not equal to";
    if (op == "<") return "less than";
    if (op == ">") return "greater than";
    if (op == "<=") return "less than or equal to";
    return "greater than or equal to";
}

} // namespace

bool Translator::spatialMemberAt(size_t begin, size_t i) const
{
    if (i + 1 >= t.size() || !t[i].isOp(".") || t[i + 1].kind != Token::Ident) return false;
    const Member *m = memberNamed(t[i + 1].value);
    if (!m || m->method != (i + 2 < t.size() && t[i + 2].isOp("("))) return false;
    // Without a session (a batch checked before it runs) nothing is typed:
    // a member's name is taken at its word.
    return isSpatial(spatialTypeOf(begin, i)) || !ctx;
}

// "geography", "geometry" or another type of t[begin, end).
std::string Translator::spatialTypeOf(size_t begin, size_t end) const
{
    if (end == begin + 1 && t[begin].kind == Token::Variable && ctx) return ctx->variableType(lower(t[begin].value)).type;
    return staticType(begin, end, {}).type;
}

// The argument of STDistance: a spatial value, or text read as one.
std::string Translator::spatialArgument(size_t &i, Translation &tr, bool geography)
{
    const size_t at = i;
    const std::string e = expr(i, tr);
    if (isSpatial(spatialTypeOf(at, i))) return e;
    return "dv_geo_convert(" + e + ", " + (geography ? "1" : "0") + ")";
}

// The members called on the value t[begin, i), from the "." at `i`, one after another.
std::string Translator::spatialMembers(size_t begin, size_t &i, Translation &tr, std::string operand, ColumnMeta &result)
{
    while (spatialMemberAt(begin, i)) {
        const std::string type = spatialTypeOf(begin, i);
        const bool geography = type == "geography";
        const std::string flag = geography ? "1" : "0";
        const Token &name = tok(i + 1);
        const Member &m = *memberNamed(name.value);
        const bool wrongType = m.onlyFor && geography != (std::string(m.onlyFor) == "geography");
        if (isSpatial(type) && (name.value != m.name || wrongType)) {
            if (m.method)
                throw makeError(6506, 16, "Could not find method '" + name.value + "' for type '" + clrName(geography)
                                + "' in assembly 'Microsoft.SqlServer.Types'", true);
            throw makeError(6592, 16, "Could not find property or field '" + name.value + "' for type '"
                            + clrName(geography) + "' in assembly 'Microsoft.SqlServer.Types'.", true);
        }
        i += 2;
        std::vector<std::string> args;
        if (m.method) {
            expectOp(i, "(");
            while (!tok(i).isOp(")")) {
                if (!args.empty()) expectOp(i, ",");
                args.push_back(spatialArgument(i, tr, geography));
            }
            expectOp(i, ")");
            if (int(args.size()) != m.args)
                throw makeError(10504, 16, "The number of parameters passed to the method '" + name.value
                                + "' of type '" + clrName(geography) + "' is incorrect.", true);
        }
        const std::string n = lower(m.name);
        if (n == "stastext" || n == "tostring" || n == "astextzm")
            operand = "dv_geo_text(" + operand + ", " + flag + ", " + (n == "stastext" ? "0" : "1") + ")";
        else if (n == "stdistance")
            operand = "dv_geo_distance(" + operand + ", " + args[0] + ", " + flag + ")";
        else
            operand = "dv_geo_member(" + operand + ", " + flag + ", '" + (n == "stgeometrytype" ? std::string("type")
                      : n.rfind("st", 0) == 0 && n != "stx" && n != "sty" ? n.substr(2) : n) + "')";
        result = typed(m.type, m.length);
        m_typedBegin = begin;
        m_typedEnd = i;
        m_typedResult = result;
    }
    return operand;
}

// geography::Method(...) | geometry::Method(...) from the type name at `i`.
std::string Translator::spatialStatic(size_t &i, Translation &tr, ColumnMeta &type)
{
    const bool geography = tok(i).isWord("geography");
    const std::string flag = geography ? "1" : "0";
    i += 2;
    const Token &m = tok(i);
    ++i;
    expectOp(i, "(");
    const std::vector<std::string> args = argumentList(i, tr);
    type = typed(geography ? "geography" : "geometry", -1);
    static const char *const parsers[] = {"STGeomFromText", "STPointFromText", "STLineFromText", "STPolyFromText"};
    int want = -1;
    std::string call;
    if (m.value == "Point") {
        want = 3;
        if (args.size() == 3) call = "dv_geo_point(" + args[0] + ", " + args[1] + ", " + args[2] + ", " + flag + ")";
    } else if (m.value == "Parse") {
        want = 1;
        if (args.size() == 1) call = "dv_geo_parse(" + args[0] + ", " + (geography ? "4326" : "0") + ", " + flag + ", 0)";
    }
    for (int k = 0; k < 4; ++k) {
        if (m.value != parsers[k]) continue;
        want = 2;
        if (args.size() == 2)
            call = "dv_geo_parse(" + args[0] + ", " + args[1] + ", " + flag + ", " + std::to_string(k) + ")";
    }
    if (want < 0)
        throw makeError(6506, 16, "Could not find method '" + m.value + "' for type '" + clrName(geography)
                        + "' in assembly 'Microsoft.SqlServer.Types'", true);
    if (call.empty())
        throw makeError(10504, 16, "The number of parameters passed to the method '" + m.value + "' of type '"
                        + clrName(geography) + "' is incorrect.", true);
    return call;
}

// A spatial value on either side of a comparison operator is refused (403).
void Translator::requireSpatialOperand(size_t begin, size_t end, const std::string &op) const
{
    const std::string type = spatialTypeOf(begin, end);
    if (isSpatial(type))
        throw makeError(403, 16, "Invalid operator for data type. Operator equals " + std::string(operatorName(op))
                        + ", type equals " + type + ".", true);
}

// Sorting or grouping by a spatial value is refused (249), naming the clause.
void Translator::requireOrderable(size_t begin, size_t end, const char *clause) const
{
    const std::string type = spatialTypeOf(begin, end);
    if (isSpatial(type))
        throw makeError(249, 16, "The type \"" + type + "\" is not comparable. It cannot be used in the "
                        + std::string(clause) + " clause.", true);
}

// SELECT DISTINCT over a spatial value is refused (421). The item may end
// in an alias ("g AS a", "g a"): the value is tried without it too.
void Translator::requireDistinctable(size_t begin, size_t end) const
{
    for (size_t e = end; e > begin && e + 2 >= end; --e) {
        const std::string type = spatialTypeOf(begin, e);
        if (isSpatial(type))
            throw makeError(421, 16, "The " + type + " data type cannot be selected as DISTINCT because it is not "
                            "comparable.", true);
    }
}

} // namespace ts
