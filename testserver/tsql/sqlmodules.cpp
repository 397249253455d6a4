// Parsing of CREATE/ALTER/DROP TRIGGER and VIEW and of ENABLE/DISABLE TRIGGER:
// the engine keeps a module's text and runs it itself.
#include "tsql/sqltranslate.h"

namespace ts {

// [schema.]name at the current token: {schema or "", name}.
std::pair<std::string, std::string> Translator::twoPartName()
{
    size_t &i = pos;
    std::string a = name(i);
    if (!tok(i).isOp(".")) return {std::string(), a};
    ++i;
    return {a, name(i)};
}

// [schema.]name[, ...]
void Translator::twoPartNames(std::vector<std::pair<std::string, std::string>> &out)
{
    out.push_back(twoPartName());
    while (tok(pos).isOp(",")) { ++pos; out.push_back(twoPartName()); }
}

// The head that triggers and views share: DROP <keyword> [IF EXISTS] names
// (returns false, the statement is complete) or CREATE [OR ALTER] | ALTER
// <keyword> name (returns true, the caller parses the rest).
bool Translator::parseModuleHead(Stmt &s, Stmt::Kind dropKind, Stmt::Kind createKind, const char *keyword)
{
    size_t &i = pos;
    Stmt::Trigger &m = s.trigger;
    if (tok(i).isWord("DROP")) {
        i += 2;
        s.kind = dropKind;
        if (tok(i).isWord("IF") && tok(i + 1).isWord("EXISTS")) { m.ifExists = true; i += 2; }
        twoPartNames(m.names);
        return false;
    }
    s.kind = createKind;
    if (tok(i).isWord("ALTER")) {
        m.alter = true;
        ++i;
    } else {
        m.create = true;
        ++i;
        if (tok(i).isWord("OR")) { i += 2; m.alter = true; }
    }
    expectWord(i, keyword);
    m.names.push_back(twoPartName());
    return true;
}

// CREATE [OR ALTER] TRIGGER [s.]name ON [s.]t {AFTER|FOR|INSTEAD OF} {INSERT|UPDATE|DELETE}[, ...] AS body
// (the body is the rest of the batch), ALTER TRIGGER ..., DROP TRIGGER [IF EXISTS] [s.]name[, ...].
void Translator::parseTrigger(Stmt &s)
{
    size_t &i = pos;
    Stmt::Trigger &tg = s.trigger;
    if (!parseModuleHead(s, Stmt::DropTrigger, Stmt::CreateTrigger, "TRIGGER"))
        return;
    expectWord(i, "ON");
    auto onTable = twoPartName();
    tg.tableSchema = onTable.first;
    tg.table = onTable.second;
    if (tok(i).isWord("WITH")) { ++i; name(i); while (tok(i).isOp(",")) { ++i; name(i); } }
    if (tok(i).isWord("INSTEAD")) { ++i; expectWord(i, "OF"); tg.insteadOf = true; }
    else if (tok(i).isWord("AFTER") || tok(i).isWord("FOR")) ++i;
    else throw syntaxError(tok(i));
    for (;;) {
        const Token &e = tok(i);
        if (!e.isWord("INSERT") && !e.isWord("UPDATE") && !e.isWord("DELETE")) throw syntaxError(e);
        std::string ev = upper(e.value);
        if (tg.events.find(ev) == std::string::npos) tg.events += (tg.events.empty() ? "" : ",") + ev;
        ++i;
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    if (tok(i).isWord("NOT")) { ++i; expectWord(i, "FOR"); expectWord(i, "REPLICATION"); }
    expectWord(i, "AS");
    // The body: every statement up to the end of the batch, checked here, kept as text.
    size_t bodyBegin = i;
    if (tok(i).kind == Token::End) throw syntaxError(tok(i));
    while (tok(i).kind != Token::End) {
        while (tok(i).isOp(";")) ++i;
        if (tok(i).kind == Token::End) break;
        parseStatement();
    }
    int line = tok(bodyBegin).line;
    for (size_t k = bodyBegin; tok(k).kind != Token::End; ++k) {
        if (k > bodyBegin) {
            if (tok(k).line > line) tg.body += std::string(size_t(tok(k).line - line), '\n');
            else tg.body += ' ';
        }
        line = tok(k).line;
        tg.body += tok(k).text;
        for (char c : tok(k).text) if (c == '\n') ++line;
    }
}

// CREATE [OR ALTER] VIEW [s.]v [(col, ...)] [WITH SCHEMABINDING] AS select [WITH CHECK OPTION],
// ALTER VIEW ..., DROP VIEW [IF EXISTS] [s.]v[, ...].
void Translator::parseView(Stmt &s)
{
    size_t &i = pos;
    if (!parseModuleHead(s, Stmt::DropView, Stmt::CreateView, "VIEW"))
        return;
    if (tok(i).isOp("(")) {
        ++i;
        s.viewColumns.push_back(name(i));
        while (tok(i).isOp(",")) { ++i; s.viewColumns.push_back(name(i)); }
        expectOp(i, ")");
    }
    if (tok(i).isWord("WITH")) { ++i; name(i); while (tok(i).isOp(",")) { ++i; name(i); } }
    expectWord(i, "AS");
    s.selectBegin = i;
    if (!tok(i).isWord("SELECT") && !tok(i).isWord("WITH")) throw syntaxError(tok(i));
    TranslateContext *saved = ctx;
    ctx = nullptr;
    translate(i); // checks the query, moves pos past it
    ctx = saved;
    if (tok(i).isWord("WITH") && tok(i + 1).isWord("CHECK")) { i += 2; expectWord(i, "OPTION"); }
    while (tok(i).isOp(";")) ++i;
    if (tok(i).kind != Token::End) throw syntaxError(tok(i));
}

// ENABLE|DISABLE TRIGGER {name[, ...] | ALL} ON [s.]t
void Translator::parseEnableTrigger(Stmt &s)
{
    size_t &i = pos;
    Stmt::Trigger &tg = s.trigger;
    s.kind = Stmt::EnableTrigger;
    s.flag = tok(i).isWord("ENABLE");
    ++i;
    expectWord(i, "TRIGGER");
    if (tok(i).isWord("ALL")) { ++i; tg.all = true; }
    else twoPartNames(tg.names);
    expectWord(i, "ON");
    if (tok(i).isWord("DATABASE") || tok(i).isWord("ALL")) throw syntaxError(tok(i));
    auto onTable = twoPartName();
    tg.tableSchema = onTable.first;
    tg.table = onTable.second;
}

} // namespace ts
