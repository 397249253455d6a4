// Translation of expressions: operators by precedence, operands, CAST and
// CONVERT, column references and the built-in function calls.
#include "tsql/sqltranslate.h"

#include "base/collation.h"
#include "base/sqlitenames.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace ts {

namespace {

// ".value(", ".query(" or ".exist(" at `i`: a method of the xml value before it.
bool xmlMethodAt(const std::vector<Token> &toks, size_t i)
{
    if (i + 2 >= toks.size() || !toks[i].isOp(".") || !toks[i + 2].isOp("(")) return false;
    const Token &m = toks[i + 1];
    return m.kind == Token::Ident && (m.isWord("value") || m.isWord("query") || m.isWord("exist") || m.isWord("modify"));
}

// value() needs a path that gives one node at most, as SQL Server sees it
// without the data: one ending in a position ([1], [2] ...), an attribute of such a step, or a function's result.
bool singletonPath(std::string p)
{
    while (!p.empty() && p.back() == ' ') p.pop_back();
    auto endsWithFirst = [](const std::string &s) {
        const size_t open = s.rfind('[');
        return !s.empty() && s.back() == ']' && open != std::string::npos && open + 2 < s.size()
            && std::all_of(s.begin() + std::ptrdiff_t(open) + 1, s.end() - 1, [](char c) { return c >= '0' && c <= '9'; });
    };
    if (endsWithFirst(p) || p == "." || (p.size() > 1 && p[0] == '@' && p.find('/') == std::string::npos)) return true;
    const size_t slash = p.rfind('/');
    if (slash != std::string::npos && slash + 1 < p.size() && p[slash + 1] == '@' && endsWithFirst(p.substr(0, slash)))
        return true;
    const size_t paren = p.find('(');
    return paren != std::string::npos && paren > 0
        && std::all_of(p.begin(), p.begin() + std::ptrdiff_t(paren), [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '-'; });
}

std::string stringArgument(const std::vector<Token> &toks, size_t &i)
{
    if (toks[i].kind != Token::String && toks[i].kind != Token::NString) throw syntaxError(toks[i]);
    return toks[i++].value;
}

// operand.value('path', 'type') | .query('path') | .exist('path'): the SQLite call, and its result type.
std::string xmlMethodCall(const std::vector<Token> &toks, size_t &i, const std::string &operand, ColumnMeta &type)
{
    const std::string method = lower(toks[i + 1].value);
    if (method == "modify") {
        type.type = "xml";
        type.length = -1;
        // SET @x.modify(...) is the one place an expression may hold it.
        const bool setVariable = i >= 2 && toks[i - 1].kind == Token::Variable && toks[i - 2].isWord("SET");
        return xmlModifyCall(toks, i, operand, setVariable);
    }
    i += 3;
    const std::string path = stringArgument(toks, i);
    std::string call;
    if (method == "value") {
        if (!toks[i].isOp(",")) throw syntaxError(toks[i]);
        ++i;
        const std::string typeName = stringArgument(toks, i);
        if (!parseTypeName(typeName, type) || type.type == "xml")
            throw makeError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + typeName + ".", true);
        if (!singletonPath(path))
            throw makeError(2389, 16, "XQuery [value()]: 'value()' requires a singleton (or empty sequence), found operand of type "
                            "'xdt:untypedAtomic *'", true);
        call = "dv_cast(dv_xml_value(" + operand + ", " + quoteLiteral(path) + "), " + typeArgs(type) + ")";
    } else {
        type.type = method == "exist" ? "bit" : "xml";
        type.length = method == "exist" ? 0 : -1;
        call = "dv_xml_" + method + "(" + operand + ", " + quoteLiteral(path) + ")";
    }
    if (!toks[i].isOp(")")) throw syntaxError(toks[i]);
    ++i;
    return call;
}

} // namespace

// Text compares by a collation: a column's own (SQLite prefers it to none),
// else the server's. An explicit COLLATE would outrank the column's, so it is
// added only where neither side is a column or already names one.
static bool isColumnSql(const std::string &e)
{
    // "c" or "t"."c", as primary() writes a column reference ("" is a quote inside).
    size_t k = 0;
    for (;;) {
        if (k >= e.size() || e[k] != '"') return false;
        for (++k;; ++k) {
            if (k >= e.size()) return false;
            if (e[k] != '"') continue;
            if (k + 1 < e.size() && e[k + 1] == '"') { ++k; continue; }
            break;
        }
        ++k;
        if (k == e.size()) return true;
        if (e[k] != '.') return false;
        ++k;
    }
}

static bool leavesCollation(const std::string &e)
{
    return isColumnSql(e) || e.find(" COLLATE ") != std::string::npos;
}

static std::string serverCollated(const std::string &e)
{
    return "(" + e + ") COLLATE " + quoteIdent(serverCollation().name);
}

std::string catalogLookup(const std::string &table, const std::vector<std::string> &columns,
                          const std::string &value, const std::vector<std::string> &keys,
                          const std::vector<std::string> &args)
{
    // Inside, each column is "__dv_c_<name>"; `value` and `keys` name them so.
    std::string inner;
    for (const std::string &c : columns) inner += (inner.empty() ? "" : ", ") + c + " AS \"__dv_c_" + c + "\"";
    std::string where;
    for (size_t k = 0; k < keys.size() && k < args.size(); ++k)
        where += (k ? " AND " : "") + keys[k] + " = " + args[k];
    return "(SELECT " + value + " FROM (SELECT " + inner + " FROM " + table + ") WHERE " + where + ")";
}

std::string collatedUnlessColumn(const std::string &e)
{
    return leavesCollation(e) ? e : serverCollated(e);
}

static int binaryPrecedence(const Token &k, const Token &next)
{
    if (k.kind == Token::Ident) {
        std::string u = upper(k.value);
        if (u == "OR") return 1;
        if (u == "AND") return 2;
        if (u == "IS" || u == "LIKE" || u == "IN" || u == "BETWEEN") return 4;
        if (u == "NOT") {
            std::string n = upper(next.value);
            if (next.kind == Token::Ident && (n == "LIKE" || n == "IN" || n == "BETWEEN")) return 4;
        }
        return -1;
    }
    if (k.kind != Token::Op) return -1;
    const std::string &v = k.value;
    if (v == "=" || v == "<>" || v == "!=" || v == "<" || v == ">" || v == "<=" || v == ">=" || v == "!<" || v == "!>") return 4;
    if (v == "+" || v == "-" || v == "&" || v == "|" || v == "^") return 6;
    if (v == "*" || v == "/" || v == "%") return 7;
    return -1;
}

std::string Translator::expr(size_t &i, Translation &tr, int minPrec)
{
    const size_t leftBegin = i;
    std::string left = prefixedOperand(i, tr, minPrec);
    for (;;) {
        const size_t leftEnd = i;
        const Token &op = tok(i);
        int prec = binaryPrecedence(op, tok(i + 1));
        if (prec < 0 || prec < minPrec) break;
        std::string u = upper(op.value);
        ++i;
        const num::Type lt = m_type;
        const bool lplain = m_plain;
        m_type = num::Type{};
        m_plain = false;
        if (u == "IS") {
            bool neg = false;
            if (tok(i).isWord("NOT")) { neg = true; ++i; }
            expectWord(i, "NULL");
            left = "(" + left + (neg ? " IS NOT NULL)" : " IS NULL)");
            continue;
        }
        bool neg = false;
        if (u == "NOT") { neg = true; u = upper(tok(i).value); ++i; }
        if (u == "LIKE") left = likePredicate(i, tr, left, neg);
        else if ((u == "IN" || u == "BETWEEN") && variantMembership(i, tr, {left, leftBegin, leftEnd, lt}, u == "IN", neg, left)) {}
        else if (u == "IN") left = inPredicate(i, tr, left, neg);
        else if (u == "BETWEEN") left = betweenPredicate(i, tr, left, neg);
        else if (prec == 4) {
            const size_t rightBegin = i;
            const bool leftPath = staticType(leftBegin, leftEnd, {}).type == "hierarchyid";
            std::string right = expr(i, tr, 5);
            requireComparable(leftBegin, leftEnd);
            requireComparable(rightBegin, i);
            std::string o = op.value;
            if (o == "!=") o = "<>";
            if (o == "!<") o = ">=";
            if (o == "!>") o = "<=";
            requireSpatialOperand(leftBegin, leftEnd, o);
            requireSpatialOperand(rightBegin, i, o);
            if (leftPath || staticType(rightBegin, i, {}).type == "hierarchyid")
                // A path compared with text or bytes: both as packed paths, compared bytewise.
                left = "(dv_hid_parse(" + left + ") " + o + " dv_hid_parse(" + right + "))";
            else if (isVariant(leftBegin, leftEnd) || isVariant(rightBegin, i))
                // Either side sql_variant: both compare as sql_variant values.
                left = "(" + asVariant(left, leftBegin, leftEnd, lt) + " COLLATE " + kVariantCollation + " " + o + " "
                    + asVariant(right, rightBegin, i, m_type) + ")";
            else
                left = comparison(o, left, lt, lplain, right, m_type, m_plain);
        } else {
            const size_t rightBegin = i;
            left = binaryOperator(i, tr, op.value, prec, left, lt);
            refuseVariantArithmetic(op.value, leftBegin, leftEnd, rightBegin, i);
        }
        if (prec != 6 && prec != 7) m_type = num::Type{};
        m_plain = false;
    }
    return left;
}

// An operand with its prefix operator (NOT, -, +, ~), or a primary with any COLLATE after it.
std::string Translator::prefixedOperand(size_t &i, Translation &tr, int minPrec)
{
    if (tok(i).isWord("NOT") && minPrec <= 3) {
        ++i;
        return "(NOT " + expr(i, tr, 3) + ")";
    }
    if (tok(i).isOp("-")) {
        ++i;
        std::string operand = expr(i, tr, 8);
        std::string negated;
        if (m_type.decimalLike() || m_type.kind == num::Type::Real)
            negated = "dv_num('n', " + operand + ", 0, " + quoteLiteral(num::typeCode(m_type)) + ", '')";
        else
            negated = "(-" + operand + ")";
        m_plain = false;
        return negated;
    }
    if (tok(i).isOp("+")) {
        ++i;
        return expr(i, tr, 8);
    }
    if (tok(i).isOp("~")) {
        ++i;
        return "(~" + expr(i, tr, 8) + ")";
    }
    std::string operand = primary(i, tr);
    while (tok(i).isWord("COLLATE")) {
        ++i;
        operand = "(" + operand + ") COLLATE " + quoteIdent(collationName(i));
    }
    return operand;
}

// SQL Server's LIKE: [sets], the collation's case rules, trailing spaces.
std::string Translator::likePredicate(size_t &i, Translation &tr, const std::string &left, bool negated)
{
    std::string right = expr(i, tr, 5);
    std::string esc;
    if (tok(i).isWord("ESCAPE")) { ++i; esc = ", " + expr(i, tr, 5); }
    return std::string(negated ? "(NOT " : "(") + "dv_like(" + left + ", " + right + esc + "))";
}

// IN (list) or IN (SELECT ...): the left side compares by the server collation unless it brings its own.
std::string Translator::inPredicate(size_t &i, Translation &tr, std::string left, bool negated)
{
    if (!leavesCollation(left)) left = serverCollated(left);
    expectOp(i, "(");
    std::string list;
    if (tok(i).isWord("SELECT")) list = select(i, false, tr);
    else {
        list = expr(i, tr);
        while (tok(i).isOp(",")) { ++i; list += ", " + expr(i, tr); }
    }
    expectOp(i, ")");
    return "(" + left + (negated ? " NOT IN (" : " IN (") + list + "))";
}

std::string Translator::betweenPredicate(size_t &i, Translation &tr, std::string left, bool negated)
{
    std::string a = expr(i, tr, 5);
    expectWord(i, "AND");
    std::string b = expr(i, tr, 5);
    if (!leavesCollation(a) || !leavesCollation(b)) left = collatedUnlessColumn(left);
    return "(" + left + (negated ? " NOT BETWEEN " : " BETWEEN ") + a + " AND " + b + ")";
}

// Arithmetic, bitwise and logical operators. Decimal, money and real operands
// go through exact arithmetic; + joins text as well as numbers.
std::string Translator::binaryOperator(size_t &i, Translation &tr, const std::string &o, int prec, const std::string &left,
                                       num::Type lt)
{
    std::string right = expr(i, tr, prec + 1);
    const num::Type rt = m_type;
    const bool numeric = o == "+" || o == "-" || o == "*" || o == "/" || o == "%";
    const bool exact = numeric
        && (lt.decimalLike() || rt.decimalLike() || lt.kind == num::Type::Real || rt.kind == num::Type::Real);
    m_type = numeric ? num::resultType(o[0], lt, rt) : num::Type{};
    if (exact) return arithmetic(o, left, lt, right, rt);
    if (o == "+") return "dv_add(" + left + ", " + right + ")";
    if (o == "/") return "dv_div(" + left + ", " + right + ")";
    if (o == "%") return "dv_mod(" + left + ", " + right + ")";
    if (o == "^") return "((" + left + " | " + right + ") - (" + left + " & " + right + "))";
    const std::string u = upper(o);
    if (u == "AND" || u == "OR") return "(" + left + " " + u + " " + right + ")";
    return "(" + left + " " + o + " " + right + ")";
}

// CAST/CONVERT; conversions to decimal and money learn the source's type for their overflow message.
std::string Translator::castTo(const std::string &e, num::Type source, const ColumnMeta &m)
{
    // An integer becomes its bytes, big-endian, cut or padded on the left.
    const bool integer = source.kind == num::Type::Int || source.kind == num::Type::IntLiteral;
    if ((m.type == "binary" || m.type == "varbinary") && integer) {
        const int width = source.kind == num::Type::IntLiteral ? 0 : source.precision <= 3 ? 1 : source.precision <= 5 ? 2
            : source.precision <= 10 ? 4 : 8;
        return castTo("dv_intbytes(" + e + ", " + std::to_string(width) + ", " + std::to_string(m.length) + ", "
                          + (m.type == "binary" ? "1" : "0") + ")", num::Type{}, m);
    }
    m_type = num::typeFromName(m.type, m.precision, m.scale);
    m_plain = false;
    if (m_type.decimalLike())
        return "dv_numcast(" + e + ", " + quoteLiteral(m.type) + ", " + std::to_string(m.precision) + ", "
            + std::to_string(m.scale) + ", " + quoteLiteral(num::typeCode(source)) + ")";
    return "dv_cast(" + e + ", " + typeArgs(m) + ")";
}

std::string Translator::arithmetic(const std::string &op, const std::string &left, num::Type lt, const std::string &right,
                                   num::Type rt)
{
    return "dv_num(" + quoteLiteral(op) + ", " + left + ", " + right + ", " + quoteLiteral(num::typeCode(lt)) + ", "
        + quoteLiteral(num::typeCode(rt)) + ")";
}

// Decimal and money values are text: a bare column compares them as numbers
// through its collation (and turns the other side into text by its
// affinity); any other decimal expression is compared the same way
// explicitly. A real compared with an exact number compares as real.
std::string Translator::comparison(const std::string &op, std::string left, num::Type lt, bool lplain, std::string right,
                                   num::Type rt, bool rplain)
{
    if (lt.kind == num::Type::Real && rt.exact()) right = "dv_cast(" + right + ", 'real', 0, 0, 0)";
    if (rt.kind == num::Type::Real && lt.exact()) left = "dv_cast(" + left + ", 'real', 0, 0, 0)";
    const bool decimal = lt.decimalLike() || rt.decimalLike();
    const bool numberSide = lt.kind == num::Type::Float || rt.kind == num::Type::Float || lt.kind == num::Type::Real
        || rt.kind == num::Type::Real;
    if (decimal && !numberSide && !lplain && !rplain) {
        const std::string collate = std::string(" COLLATE ") + kDecimalCollation;
        left = "CAST(" + left + " AS TEXT)" + collate;
        right = "CAST(" + right + " AS TEXT)";
    } else if (!lt.numeric() && !rt.numeric() && !leavesCollation(left) && !leavesCollation(right)) {
        // Text neither side's column decides compares by the server collation.
        left = serverCollated(left);
    }
    return "(" + left + " " + op + " " + right + ")";
}

num::Type Translator::columnType(const std::vector<std::string> &parts) const
{
    const std::string &col = parts.back();
    const std::string qualifier = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
    for (auto scope = m_scopes.rbegin(); scope != m_scopes.rend(); ++scope) {
        const ColumnMeta *found = nullptr;
        int matches = 0;
        for (const auto &table : *scope) {
            if (!qualifier.empty() && !iequals(table.alias, qualifier)) continue;
            if (const ColumnMeta *c = table.meta.column(col)) { found = c; ++matches; }
        }
        if (matches == 1) return num::typeFromName(found->type, found->precision, found->scale);
        if (matches > 1) break;
    }
    return num::Type{};
}

std::string Translator::expressionTypeName(size_t begin, size_t end) const
{
    if (m_typedBegin == begin && m_typedEnd == end) return m_typedResult.type;
    if (end == begin + 1 && t[begin].kind == Token::Variable && ctx) return ctx->variableType(lower(t[begin].value)).type;
    std::vector<std::string> parts;
    for (size_t k = begin; k < end; ++k) {
        if ((k - begin) % 2 == 1) {
            if (!t[k].isOp(".")) return std::string();
        } else if (t[k].kind == Token::QuotedIdent || (t[k].kind == Token::Ident && !isReservedWord(t[k].value))) {
            parts.push_back(t[k].value);
        } else {
            return std::string();
        }
    }
    if (parts.empty()) return std::string();
    const std::string &col = parts.back();
    const std::string qualifier = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
    for (auto scope = m_scopes.rbegin(); scope != m_scopes.rend(); ++scope) {
        for (const auto &table : *scope) {
            if (!qualifier.empty() && !iequals(table.alias, qualifier)) continue;
            if (const ColumnMeta *c = table.meta.column(col)) return c->type;
        }
    }
    return std::string();
}

std::string Translator::primary(size_t &i, Translation &tr)
{
    const Token &k = tok(i);
    m_type = num::Type{};
    m_plain = false;
    const size_t begin = i;
    // An xml method called on the value just read is typed as the method gives.
    auto withMethod = [&](std::string operand) {
        const bool spatial = spatialMemberAt(begin, i);
        if (!spatial && !xmlMethodAt(t, i) && !hierarchyIdMethodAt(t, i)) {
            refuseBareXmlNode(begin, i);
            return operand;
        }
        ColumnMeta type;
        if (spatial) operand = spatialMembers(begin, i, tr, operand, type);
        while (!spatial && hierarchyIdMethodAt(t, i)) operand = hierarchyIdMethod(i, tr, operand, type);
        if (xmlMethodAt(t, i)) operand = xmlMethodCall(t, i, operand, type);
        m_typedBegin = begin;
        m_typedEnd = i;
        m_typedResult = type;
        m_type = num::typeFromName(type.type, type.precision, type.scale);
        m_plain = false;
        return operand;
    };
    switch (k.kind) {
    case Token::Number:
    case Token::String:
    case Token::NString:
    case Token::Binary:
        return literal(i);
    case Token::Variable:
    case Token::SysVar:
        return withMethod(variableValue(i, tr));
    case Token::Op:
        if (k.value == "(") {
            ++i;
            std::string inner;
            if (tok(i).isWord("SELECT")) { inner = select(i, false, tr); m_type = num::Type{}; }
            else inner = expr(i, tr);
            m_plain = false;
            expectOp(i, ")");
            return withMethod("(" + inner + ")"); // (SELECT ... FOR XML ..., TYPE).value(...)
        }
        throw syntaxError(k);
    case Token::QuotedIdent:
        return withMethod(columnReference(i, tr));
    case Token::Ident: {
        std::string u = upper(k.value);
        if (u == "NULL") { ++i; return "NULL"; }
        if (u == "CASE") return caseExpression(i, tr);
        if (u == "EXISTS") return existsPredicate(i, tr);
        if (u == "CAST" || u == "CONVERT") return withMethod(castExpression(i, tr));
        if ((u == "HIERARCHYID" || u == "GEOGRAPHY" || u == "GEOMETRY") && tok(i + 1).isOp("::")) {
            ColumnMeta type;
            const std::string call = u == "HIERARCHYID" ? hierarchyIdStatic(i, tr, type) : spatialStatic(i, tr, type);
            m_typedBegin = begin;
            m_typedEnd = i;
            m_typedResult = type;
            return withMethod(call);
        }
        if (u == "CURRENT_TIMESTAMP") { ++i; return "dv_getdate()"; }
        // SYSTEM_USER is the login name, as SUSER_SNAME() gives it.
        if (u == "SYSTEM_USER" && !tok(i + 1).isOp("(")) {
            ++i;
            return param(tr, ctx ? ctx->systemValue("SUSER_SNAME()") : Value::null());
        }
        if (tok(i + 1).isOp("(") && (!isReservedWord(k.value) || u == "COALESCE" || u == "NULLIF"
                                     || u == "LEFT" || u == "RIGHT"))
            return namedCall(i, tr);
        if (isReservedWord(k.value)) throw syntaxError(k);
        return withMethod(columnReference(i, tr));
    }
    default:
        throw syntaxError(k);
    }
}

// A number, string or binary literal. Literal strings are varchar: the
// server's code page decides which characters they keep.
std::string Translator::literal(size_t &i)
{
    const Token &k = tok(i);
    ++i;
    switch (k.kind) {
    case Token::Number: {
        m_type = num::literalType(k.value);
        // SQLite reads a literal as a double: one with more digits than a double keeps goes as exact text.
        size_t digits = 0;
        for (char c : k.value) if (c >= '0' && c <= '9') ++digits;
        if (m_type.kind == num::Type::Decimal && digits > 15) return quoteLiteral(k.value);
        return k.value;
    }
    case Token::String: return quoteLiteral(throughCodePage(k.value));
    case Token::NString: return quoteLiteral(k.value);
    default: {
        std::string h = k.value;
        if (h.size() % 2) h = "0" + h;
        return "X'" + h + "'";
    }
    }
}

// @name is bound as a parameter with its current value; @@name is one of the
// system values the session knows (137 for any other, as for an undeclared variable).
std::string Translator::variableValue(size_t &i, Translation &tr)
{
    const Token &k = tok(i);
    ++i;
    if (k.kind == Token::Variable) {
        if (!ctx) return param(tr, Value::null());
        bool found = false;
        Value v = ctx->variable(k.value, &found);
        if (!found) throw makeError(137, 15, "Must declare the scalar variable \"" + k.text + "\".", true);
        const ColumnMeta m = ctx->variableType(k.value);
        const num::Type declared = num::typeFromName(m.type, m.precision, m.scale);
        if (declared.decimalLike()) m_type = declared;
        return param(tr, v);
    }
    std::string u = upper(k.value);
    static const std::set<std::string> known = {"@@VERSION", "@@SERVERNAME", "@@SPID", "@@ROWCOUNT",
        "@@IDENTITY", "@@TRANCOUNT", "@@ERROR", "@@LANGUAGE", "@@SERVICENAME", "@@MAX_PRECISION",
        "@@TEXTSIZE", "@@OPTIONS", "@@DBTS", "@@FETCH_STATUS", "@@MICROSOFTVERSION", "@@LOCK_TIMEOUT", "@@NESTLEVEL", "@@DATEFIRST",
        "@@CURSOR_ROWS"};
    if (!known.count(u)) throw makeError(137, 15, "Must declare the scalar variable \"" + k.text + "\".", true);
    if (u == "@@DBTS") return "dv_dbts()";
    return param(tr, ctx ? ctx->systemValue(u) : Value::null());
}

// CASE [input] WHEN ... THEN ... [ELSE ...] END; a simple CASE's input compares by the server collation.
std::string Translator::caseExpression(size_t &i, Translation &tr)
{
    ++i;
    std::string s = "CASE";
    if (!tok(i).isWord("WHEN")) s += " " + collatedUnlessColumn(expr(i, tr));
    if (!tok(i).isWord("WHEN")) throw syntaxError(tok(i));
    // The result has the type all branches convert to (a NULL branch has none).
    num::Type result;
    bool typedAll = true;
    auto branch = [&]() {
        std::string e = expr(i, tr);
        if (e != "NULL") {
            typedAll = typedAll && m_type.numeric();
            result = commonType(result, m_type);
        }
        return e;
    };
    while (tok(i).isWord("WHEN")) {
        ++i;
        s += " WHEN " + expr(i, tr);
        expectWord(i, "THEN");
        s += " THEN " + branch();
    }
    if (tok(i).isWord("ELSE")) { ++i; s += " ELSE " + branch(); }
    expectWord(i, "END");
    m_type = typedAll && result.decimalLike() ? result : num::Type{};
    m_plain = false;
    return s + " END";
}

std::string Translator::existsPredicate(size_t &i, Translation &tr)
{
    ++i;
    expectOp(i, "(");
    std::string s = select(i, false, tr);
    expectOp(i, ")");
    m_type = num::Type{};
    m_plain = false;
    return "EXISTS (" + s + ")";
}

// CAST(e AS type) and CONVERT(type, e [, style]).
std::string Translator::castExpression(size_t &i, Translation &tr)
{
    const size_t begin = i;
    const bool cast = tok(i).isWord("CAST");
    ++i;
    expectOp(i, "(");
    ColumnMeta m;
    // A character or binary type written without a length is 30 long here.
    auto target = [&]() {
        m = typeSpec(i);
        static const char *const sized[] = {"varchar", "nvarchar", "char", "nchar", "varbinary", "binary"};
        // Only a system type written bare: an alias type brings its own length.
        if (!t[i - 1].isOp(")") && iequals(t[i - 1].value, m.type)
            && std::find(std::begin(sized), std::end(sized), m.type) != std::end(sized))
            m.length = 30;
    };
    if (!cast) {
        target();
        expectOp(i, ",");
    }
    const size_t valueBegin = i;
    std::string e = expr(i, tr);
    const size_t valueEnd = i;
    const num::Type source = m_type;
    const std::string sourceType = expressionTypeName(valueBegin, i);
    if (cast) {
        expectWord(i, "AS");
        target();
    }
    std::string style = "0";
    if (!cast && tok(i).isOp(",")) {
        ++i;
        style = expr(i, tr);
    }
    expectOp(i, ")");
    std::string out;
    const bool toChars = m.type == "nvarchar" || m.type == "varchar" || m.type == "nchar" || m.type == "char";
    if (sourceType == "hierarchyid" && toChars) e = "dv_hid_tostring(dv_hid_parse(" + e + "))";
    if ((sourceType == "geography" || sourceType == "geometry") && toChars)
        e = "dv_geo_text(" + e + ", " + (sourceType == "geography" ? "1" : "0") + ", 1)";
    if (m.type == "sql_variant") out = asVariant(e, valueBegin, valueEnd, source);
    else out = styledCast(isVariant(valueBegin, valueEnd) ? "dv_fromvariant(" + e + ")" : e, source, m, style, sourceType);
    m_typedBegin = begin;
    m_typedEnd = i;
    m_typedResult = m;
    return out;
}

// A function call by name: ranking and offset functions take OVER; of the
// others only the aggregates may, and then without DISTINCT.
std::string Translator::namedCall(size_t &i, Translation &tr)
{
    const Token &k = tok(i);
    const std::string u = upper(k.value);
    if (u == "ROW_NUMBER" || u == "RANK" || u == "DENSE_RANK" || u == "NTILE" || u == "LAG" || u == "LEAD"
        || u == "FIRST_VALUE" || u == "LAST_VALUE" || u == "PERCENT_RANK" || u == "CUME_DIST")
        return rankingFunction(i, tr);
    std::string f = functionCall(i, tr);
    m_plain = false;
    if (tok(i).isWord("OVER")) {
        if (u != "COUNT" && u != "COUNT_BIG" && u != "SUM" && u != "AVG" && u != "MIN" && u != "MAX")
            throw syntaxError(tok(i));
        if (f.find("(DISTINCT ") != std::string::npos)
            throw makeError(10759, 15, "Use of DISTINCT is not allowed with the OVER clause.", true);
        f += overClause(i, tr, k.value, false);
    }
    return f;
}

// A column reference keeps its last two parts (table.column). In an OUTPUT
// list, INSERTED and DELETED name the rows written; an UPDATE's DELETED
// values come from the copy of the old rows.
std::string Translator::columnReference(size_t &i, Translation &tr)
{
    std::vector<std::string> parts;
    const size_t start = i;
    parts.push_back(name(i));
    while (tok(i).isOp(".") && !xmlMethodAt(t, i) && !hierarchyIdMethodAt(t, i) && !spatialMemberAt(start, i)) {
        ++i;
        if (tok(i).isOp(".")) { parts.push_back(""); continue; }
        parts.push_back(name(i));
    }
    if (!m_pseudo.empty() && parts.size() == 2) {
        std::string p = lower(parts[0]);
        if (p == "inserted" || p == "deleted") {
            if (p != m_pseudo && m_pseudo != "both")
                throw makeError(4104, 16, "The multi-part identifier \"" + parts[0] + "." + parts[1] + "\" could not be bound.", true);
            if (m_pseudo == "both" && p == "deleted") {
                tr.captureOld = true;
                return "(SELECT o." + quoteIdent(parts[1]) + " FROM \"__dv_old\" o WHERE o.\"__dv_rid\" = "
                    + quoteIdent(m_pseudoTarget) + ".rowid)";
            }
            m_type = columnType({parts[1]});
            m_plain = true;
            return quoteIdent(parts[1]);
        }
    }
    m_type = columnType(parts);
    m_plain = true;
    std::string s;
    if (m_lateral && lateralReference(parts, s)) return s;
    size_t from = parts.size() > 2 ? parts.size() - 2 : 0;
    for (size_t p = from; p < parts.size(); ++p) { if (p > from) s += "."; s += quoteIdent(parts[p]); }
    return s;
}

} // namespace ts
