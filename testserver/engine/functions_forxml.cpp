// The row markup of FOR XML RAW and PATH: each value written as SQL Server
// writes it (& < > entitized, CR as &#x0D;, bit as 1/0, dates with a T,
// binary in base64, float in its e+000 form), NULLs left out unless XSINIL
// asks for xsi:nil, PATH names as attributes ('@a'), text ('', 'text()', '*')
// and nested elements ('a/b').
#include "engine/enginenumbers.h"
#include "engine/functions.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace ts {

namespace {

const char *const kXsiNs = " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";

std::string escapeXml(const std::string &s, bool attribute)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#x0D;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        case '\n': out += attribute ? "&#x0A;" : "\n"; break;
        case '\t': out += attribute ? "&#x09;" : "\t"; break;
        default: out += c;
        }
    }
    return out;
}

// float as FOR XML writes it: 1.500000000000000e+000.
std::string floatXml(double d)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.15e", d);
    std::string s = buf;
    const size_t e = s.find('e');
    if (e != std::string::npos && s.size() - e == 4) s.insert(e + 2, "0");
    return s;
}

// The text of one value (escaped unless it is markup) by its column's kind.
std::string xmlValue(sqlite3_value *v, const std::string &kind, bool attribute)
{
    if (kind == "m") return fn::text(v);
    if (kind == "b") return sqlite3_value_int64(v) != 0 ? "1" : "0";
    if (!kind.empty() && kind[0] == 'd') return decimalText(v, std::atoi(kind.c_str() + 1));
    if (sqlite3_value_type(v) == SQLITE_BLOB)
        return fn::base64(static_cast<const unsigned char *>(sqlite3_value_blob(v)), sqlite3_value_bytes(v));
    if (sqlite3_value_type(v) == SQLITE_FLOAT) return floatXml(sqlite3_value_double(v));
    std::string s = fn::text(v);
    if (kind == "T" && s.size() > 4 && s.compare(s.size() - 4, 4, ".000") == 0) s.resize(s.size() - 4);
    if (kind == "t" || kind == "T") {
        if (s.size() > 10 && s[10] == ' ' && s[4] == '-') s[10] = 'T';
        const size_t sp = s.rfind(' ');
        if (sp != std::string::npos && sp + 1 < s.size() && (s[sp + 1] == '+' || s[sp + 1] == '-')) s.erase(sp, 1);
    }
    return escapeXml(s, attribute);
}

struct Node {
    std::vector<std::string> path; // element names; a last part "@a" is an attribute, "" text
    sqlite3_value *value = nullptr;
    std::string kind;
};

bool isText(const std::string &part) { return part.empty() || part == "text()" || part == "*"; }

// Writes the element `name` (none when empty) holding nodes [from, to) below `depth`.
void writeElement(const std::string &name, const std::string &extra, const std::vector<Node> &n, size_t from, size_t to,
                  size_t depth, bool xsinil, std::string &out)
{
    std::string attrs, body;
    for (size_t k = from; k < to;) {
        const std::string &part = n[k].path[depth];
        const bool null = sqlite3_value_type(n[k].value) == SQLITE_NULL;
        if (n[k].path.size() == depth + 1) {
            if (!part.empty() && part[0] == '@') {
                if (!null) attrs += " " + part.substr(1) + "=\"" + xmlValue(n[k].value, n[k].kind, true) + "\"";
            } else if (isText(part)) {
                if (!null) body += xmlValue(n[k].value, n[k].kind, false);
            } else if (!null) {
                body += "<" + part + ">" + xmlValue(n[k].value, n[k].kind, false) + "</" + part + ">";
            } else if (xsinil) {
                body += "<" + part + " xsi:nil=\"true\"/>";
            }
            ++k;
            continue;
        }
        size_t end = k + 1;
        while (end < to && n[end].path.size() > depth + 1 && n[end].path[depth] == part) ++end;
        writeElement(part, "", n, k, end, depth + 1, xsinil, body);
        k = end;
    }
    if (name.empty()) { out += body; return; }
    out += "<" + name + extra + attrs + (body.empty() ? "/>" : ">" + body + "</" + name + ">");
}

std::vector<std::string> splitPath(const std::string &name, bool pathMode)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t slash = pathMode ? name.find('/') : std::string::npos; slash != std::string::npos; slash = name.find('/', from)) {
        out.push_back(name.substr(from, slash - from));
        from = slash + 1;
    }
    out.push_back(name.substr(from));
    return out;
}

// dv_forxml_row(flags, row, name, kind, value, ...): flags "r" RAW or "p" PATH,
// "e" elements (else RAW attributes), "x" XSINIL declared on the row, "X" on the root.
void fnForXmlRow(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    const std::string flags = fn::text(a[0]);
    const std::string row = fn::text(a[1]);
    const bool pathMode = flags.find('p') != std::string::npos;
    const bool elements = flags.find('e') != std::string::npos;
    const bool xsinil = flags.find_first_of("xX") != std::string::npos;
    std::vector<Node> nodes;
    for (int k = 2; k + 2 < argc; k += 3) {
        std::vector<std::string> path = splitPath(fn::text(a[k]), pathMode);
        if (!pathMode && !elements) path.back() = "@" + path.back();
        nodes.push_back({path, a[k + 2], fn::text(a[k + 1])});
    }
    std::string out;
    const std::string extra = xsinil && flags.find('x') != std::string::npos ? kXsiNs : "";
    writeElement(row, extra, nodes, 0, nodes.size(), 0, xsinil, out);
    fn::resultText(ctx, out);
}

} // namespace

void registerForXmlFunctions(sqlite3 *db)
{
    sqlite3_create_function(db, "dv_forxml_row", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnForXmlRow, nullptr,
                            nullptr);
}

} // namespace ts
