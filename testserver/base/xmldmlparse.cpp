// Reading XML DML statements and SQL Server's static checks of their targets.
#include "base/xmlmodify.h"

#include <algorithm>
#include <cctype>

namespace ts {

namespace {

std::string trimmed(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

bool syntaxError(const std::string &near, XmlError &err)
{
    err.number = 2216;
    err.text = "XQuery [modify()]: Syntax error near '" + near + "'";
    return false;
}

// Positions where `word` stands alone at nesting depth 0, outside quotes and
// markup. XQuery's keywords are lower case and case-sensitive.
std::vector<size_t> wordsAt(const std::string &s, const std::string &word)
{
    std::vector<size_t> out;
    int depth = 0;
    char quote = 0;
    for (size_t k = 0; k < s.size(); ++k) {
        const char c = s[k];
        if (quote) { if (c == quote) quote = 0; continue; }
        if (c == '"' || c == '\'') { quote = c; continue; }
        if (c == '(' || c == '[' || c == '{' || c == '<') { ++depth; continue; }
        if (c == ')' || c == ']' || c == '}' || c == '>') { --depth; continue; }
        if (depth == 0 && s.compare(k, word.size(), word) == 0 && (k == 0 || std::isspace(static_cast<unsigned char>(s[k - 1])))
            && (k + word.size() == s.size() || std::isspace(static_cast<unsigned char>(s[k + word.size()]))))
            out.push_back(k);
    }
    return out;
}

// The static type SQL Server names for a path's last step, untyped.
std::string staticType(const std::string &path)
{
    std::string step = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    while (!step.empty() && (step.back() == ']' || step.back() == ')')) {
        if (step.back() == ')') step.pop_back();
        else step.erase(std::min(step.size() - 1, step.rfind('[')));
    }
    if (step == "text(" || step == "text") return "text";
    if (!step.empty() && step[0] == '@') return "attribute(" + step.substr(1) + ",xdt:untypedAtomic)";
    return "element(" + step + ",xdt:untyped)";
}

// A path that gives one node at most as SQL Server sees it without the data: one ending in a position.
bool singleton(const std::string &path)
{
    std::string p = trimmed(path);
    const size_t open = p.rfind('[');
    if (p.empty() || p.back() != ']' || open == std::string::npos) return false;
    return std::all_of(p.begin() + std::ptrdiff_t(open) + 1, p.end() - 1, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })
        && open + 2 < p.size();
}

// insert's content: a string literal, an element constructor or a parenthesised list of them.
bool readContent(std::string c, XmlDml &out)
{
    c = trimmed(c);
    if (c.size() >= 2 && (c[0] == '"' || c[0] == '\'') && c.back() == c[0]) {
        out.content = c.substr(1, c.size() - 2);
        out.contentIsText = true;
        return true;
    }
    if (c.size() >= 2 && c[0] == '(' && c.back() == ')') {
        c = c.substr(1, c.size() - 2);
        for (size_t k = c.find(','); k != std::string::npos; k = c.find(',', k)) {
            const std::string before = trimmed(c.substr(0, k)), after = trimmed(c.substr(k + 1));
            if (!before.empty() && before.back() == '>' && !after.empty() && after[0] == '<') c.erase(k, 1);
            else ++k;
        }
        c = trimmed(c);
    }
    if (c.empty() || c[0] != '<') return false;
    XmlError ignored;
    if (!checkXml(c, &ignored, &out.content)) return false;
    return true;
}

bool readInsert(const std::string &rest, XmlDml &out, XmlError &err)
{
    struct Place { const char *word; XmlDml::Where where; };
    static const Place places[] = {{"as first into", XmlDml::AsFirst}, {"as last into", XmlDml::AsLast},
                                   {"into", XmlDml::Into}, {"after", XmlDml::After}, {"before", XmlDml::Before}};
    for (const Place &p : places)
        for (size_t at : wordsAt(rest, p.word)) {
            if (!readContent(rest.substr(0, at), out)) continue;
            out.where = p.where;
            out.target = trimmed(rest.substr(at + std::string(p.word).size()));
            if (out.target.empty()) return syntaxError(rest, err);
            if (singleton(out.target)) return true;
            err.number = 2226;
            err.text = "XQuery [modify()]: The target of 'insert' must be a single node, found '" + staticType(out.target) + " *'";
            return false;
        }
    return syntaxError(rest, err);
}

bool readReplace(const std::string &rest, XmlDml &out, XmlError &err)
{
    const std::vector<size_t> with = wordsAt(rest, "with");
    if (with.empty()) return syntaxError(rest, err);
    out.target = trimmed(rest.substr(0, with.back()));
    out.with = trimmed(rest.substr(with.back() + 4));
    if (out.target.empty() || out.with.empty()) return syntaxError(rest, err);
    const std::string type = staticType(out.target);
    if (!singleton(out.target)) {
        err.number = 2337;
        err.text = "XQuery [modify()]: The target of 'replace' must be at most one node, found '" + type + " *'";
        return false;
    }
    if (type.compare(0, 8, "element(") == 0) {
        err.number = 2356;
        err.text = "XQuery [modify()]: The target of 'replace value of' must be a non-metadata attribute or an element with "
                   "simple typed content, found '" + type + " ?'";
        return false;
    }
    return true;
}

} // namespace

bool parseXmlDml(const std::string &dml, XmlDml &out, XmlError &err)
{
    out = XmlDml{};
    const std::string s = trimmed(dml);
    if (s.compare(0, 7, "delete ") == 0) {
        out.kind = XmlDml::Delete;
        out.target = trimmed(s.substr(7));
        return !out.target.empty() || syntaxError(s, err);
    }
    if (s.compare(0, 7, "insert ") == 0) {
        out.kind = XmlDml::Insert;
        return readInsert(trimmed(s.substr(7)), out, err);
    }
    const std::vector<size_t> of = wordsAt(s, "of");
    if (s.compare(0, 8, "replace ") == 0 && !of.empty() && trimmed(s.substr(8, of.front() - 8)) == "value") {
        out.kind = XmlDml::Replace;
        return readReplace(trimmed(s.substr(of.front() + 2)), out, err);
    }
    return syntaxError(s.substr(0, s.find(' ')), err);
}

} // namespace ts
