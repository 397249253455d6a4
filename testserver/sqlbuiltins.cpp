// Translation of the built-in functions whose arguments are not all plain
// expressions (a datepart name, AS type, WITHIN GROUP) or that become CASE
// expressions, and the result types the client sees for them.
#include "sqltranslate.h"

namespace ts {

namespace {

// Datepart names and the abbreviations SQL Server accepts for them.
std::string canonicalDatePart(const std::string &written)
{
    static const struct { const char *name; const char *abbreviations[3]; } parts[] = {
        {"year", {"yy", "yyyy", nullptr}}, {"quarter", {"qq", "q", nullptr}}, {"month", {"mm", "m", nullptr}},
        {"dayofyear", {"dy", "y", nullptr}}, {"day", {"dd", "d", nullptr}}, {"week", {"wk", "ww", nullptr}},
        {"weekday", {"dw", "w", nullptr}}, {"hour", {"hh", nullptr, nullptr}}, {"minute", {"mi", "n", nullptr}},
        {"second", {"ss", "s", nullptr}}, {"millisecond", {"ms", nullptr, nullptr}},
        {"microsecond", {"mcs", nullptr, nullptr}}, {"nanosecond", {"ns", nullptr, nullptr}},
        {"tzoffset", {"tz", nullptr, nullptr}}, {"iso_week", {"isowk", "isoww", nullptr}}};
    std::string l = lower(written);
    for (const auto &p : parts) {
        if (l == p.name) return p.name;
        for (const char *a : p.abbreviations)
            if (a && l == a) return p.name;
    }
    return std::string();
}

ColumnMeta typeNamed(const char *type, int length = 0)
{
    ColumnMeta m;
    m.type = type;
    m.length = length;
    if (m.type == "int") m.precision = 10;
    return m;
}

} // namespace

// The datepart argument: a bare name, checked against the function's list
// (155 for any other name; DATEADD and DATEDIFF know no tzoffset or iso_week).
std::string Translator::datePartName(size_t &i, const std::string &function)
{
    const Token &k = tok(i);
    if (!k.isName()) throw syntaxError(k);
    std::string part = canonicalDatePart(k.value);
    bool onlyParts = function == "datepart" || function == "datename";
    if (part.empty() || (!onlyParts && (part == "tzoffset" || part == "iso_week")))
        throw makeError(155, 15, "'" + k.value + "' is not a recognized " + function + " option.", true);
    ++i;
    expectOp(i, ",");
    return quoteLiteral(part);
}

bool Translator::builtinCall(size_t &i, Translation &tr, std::string &out)
{
    const size_t begin = i;
    const Token &fn = tok(i);
    const std::string u = upper(fn.value);
    static const char *const names[] = {"DATEADD", "DATEDIFF", "DATEPART", "DATENAME", "EOMONTH", "FORMAT", "IIF",
                                        "CHOOSE", "STRING_AGG", "PATINDEX", "TRY_CAST", "TRY_CONVERT"};
    bool known = false;
    for (const char *n : names) known = known || u == n;
    if (!known) return false;
    i += 2; // name and "("
    auto need = [&](size_t count, size_t lo, size_t hi) {
        if (count < lo || count > hi)
            throw makeError(174, 15, "The " + lower(fn.value) + " function requires " + std::to_string(lo) + " argument(s).", true);
    };
    // The rest of the argument list as expressions.
    auto restArgs = [&](std::vector<std::string> &args) {
        if (!tok(i).isOp(")")) {
            args.push_back(expr(i, tr));
            while (tok(i).isOp(",")) { ++i; args.push_back(expr(i, tr)); }
        }
        expectOp(i, ")");
    };
    // A string literal given for a date converts to datetime, whatever it looks like.
    auto dateKind = [&](size_t a, size_t b) {
        return quoteLiteral(b == a + 1 && (t[a].kind == Token::String || t[a].kind == Token::NString) ? "datetime" : "");
    };
    ColumnMeta result;
    if (u == "DATEADD" || u == "DATEPART" || u == "DATENAME") {
        std::string part = datePartName(i, lower(u));
        std::vector<std::string> args;
        size_t dateBegin = i, dateEnd = i;
        for (;;) {
            dateBegin = i;
            args.push_back(expr(i, tr));
            dateEnd = i;
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        expectOp(i, ")");
        need(args.size() + 1, u == "DATEADD" ? 3 : 2, u == "DATEADD" ? 3 : 2);
        std::string kind = dateKind(dateBegin, dateEnd);
        if (u != "DATEADD" && kind != "''") kind = quoteLiteral("literal");
        if (u == "DATEADD") {
            out = "dv_dateadd(" + part + ", " + args[0] + ", " + args[1] + ", " + kind + ")";
            result = kind == "''" ? typeNamed("temporal") : typeNamed("datetime");
        } else if (u == "DATEPART") {
            out = "dv_datepart(" + part + ", " + args[0] + ", " + kind + ")";
            result = typeNamed("int");
        } else {
            out = "dv_datename(" + part + ", " + args[0] + ", " + kind + ")";
            result = typeNamed("nvarchar", 30);
        }
    } else if (u == "DATEDIFF") {
        std::string part = datePartName(i, "datediff");
        std::vector<std::string> args;
        restArgs(args);
        need(args.size() + 1, 3, 3);
        out = "dv_datediff(" + part + ", " + args[0] + ", " + args[1] + ")";
        result = typeNamed("int");
    } else if (u == "TRY_CAST" || u == "TRY_CONVERT") {
        std::string e;
        ColumnMeta m;
        if (u == "TRY_CAST") {
            e = expr(i, tr);
            expectWord(i, "AS");
            m = typeSpec(i);
        } else {
            m = typeSpec(i);
            expectOp(i, ",");
            e = expr(i, tr);
            if (tok(i).isOp(",")) { ++i; expr(i, tr); } // style: the formats this server reads need none
        }
        expectOp(i, ")");
        out = "dv_try_cast(" + e + ", " + typeArgs(m) + ")";
        result = m;
    } else if (u == "STRING_AGG") {
        std::vector<std::string> args;
        restArgs(args);
        need(args.size(), 2, 2);
        out = "dv_string_agg(" + args[0] + ", " + args[1];
        if (tok(i).isWord("WITHIN")) {
            ++i;
            expectWord(i, "GROUP");
            expectOp(i, "(");
            expectWord(i, "ORDER");
            expectWord(i, "BY");
            for (;;) {
                out += ", " + expr(i, tr);
                int dir = 1;
                if (tok(i).isWord("ASC")) ++i;
                else if (tok(i).isWord("DESC")) { ++i; dir = -1; }
                out += ", " + std::to_string(dir);
                if (!tok(i).isOp(",")) break;
                ++i;
            }
            expectOp(i, ")");
        }
        out += ")";
    } else {
        std::vector<std::string> args;
        restArgs(args);
        if (u == "EOMONTH") {
            need(args.size(), 1, 2);
            out = "dv_eomonth(" + args[0] + ", " + (args.size() > 1 ? args[1] : "0") + ")";
            result = typeNamed("date");
        } else if (u == "FORMAT") {
            need(args.size(), 2, 3);
            out = "dv_format(" + args[0] + ", " + args[1] + ", " + (args.size() > 2 ? args[2] : "NULL") + ")";
            result = typeNamed("nvarchar", 4000);
        } else if (u == "IIF") {
            need(args.size(), 3, 3);
            out = "(CASE WHEN " + args[0] + " THEN " + args[1] + " ELSE " + args[2] + " END)";
        } else if (u == "CHOOSE") {
            if (args.size() < 2) throw makeError(174, 15, "The choose function requires 2 or more arguments.", true);
            // The index is an int (a fraction is cut off); out of range gives NULL.
            out = "(CASE CAST(" + args[0] + " AS INTEGER)";
            for (size_t k = 1; k < args.size(); ++k) out += " WHEN " + std::to_string(k) + " THEN " + args[k];
            out += " END)";
        } else { // PATINDEX
            need(args.size(), 2, 2);
            out = "dv_patindex(" + args[0] + ", " + args[1] + ")";
            result = typeNamed("int");
        }
    }
    if (!result.type.empty()) {
        m_typedBegin = begin;
        m_typedEnd = i;
        m_typedResult = result;
    }
    return true;
}

} // namespace ts
