// Parsing of the cursor statements: DECLARE name CURSOR, SET @c = CURSOR,
// OPEN, FETCH, CLOSE and DEALLOCATE. The cursor's SELECT is checked here and
// translated when the cursor opens.
#include "tsql/sqltranslate.h"

namespace ts {

// The cursor's options (after CURSOR), FOR select, and FOR READ ONLY / UPDATE [OF cols].
void Translator::cursorDefinition(Stmt &s)
{
    size_t &i = pos;
    bool forwardOnly = false, kindGiven = false;
    for (;; ++i) {
        const Token &o = tok(i);
        if (o.isWord("LOCAL")) s.cursor.global = false;
        else if (o.isWord("GLOBAL")) s.cursor.global = true;
        else if (o.isWord("FORWARD_ONLY") || o.isWord("FAST_FORWARD")) {
            forwardOnly = true;
            if (o.isWord("FAST_FORWARD")) s.cursor.readOnly = true;
        }
        else if (o.isWord("SCROLL")) s.cursor.scroll = true;
        else if (o.isWord("STATIC") || o.isWord("KEYSET") || o.isWord("DYNAMIC")) {
            kindGiven = true;
            s.cursor.populated = !o.isWord("DYNAMIC");
            if (o.isWord("STATIC")) s.cursor.readOnly = true;
        }
        else if (o.isWord("READ_ONLY")) s.cursor.readOnly = true;
        else if (!( o.isWord("SCROLL_LOCKS") || o.isWord("OPTIMISTIC") || o.isWord("TYPE_WARNING")))
            break;
    }
    if (forwardOnly && s.cursor.scroll)
        throw makeError(1048, 15, "Conflicting cursor options FORWARD_ONLY and SCROLL.", true);
    // STATIC, KEYSET and DYNAMIC cursors scroll unless FORWARD_ONLY or FAST_FORWARD says otherwise.
    if (kindGiven && !forwardOnly) s.cursor.scroll = true;
    expectWord(i, "FOR");
    if (!tok(i).isWord("SELECT") && !tok(i).isWord("WITH")) throw syntaxError(tok(i));
    s.selectBegin = i;
    TranslateContext *saved = ctx;
    ctx = nullptr;
    Translation tr = translate(i); // moves pos past the select
    ctx = saved;
    if (!tr.intoTarget.empty() || !tr.assignVars.empty()) throw syntaxError(tok(s.selectBegin));
    s.cursor.selectEnd = i;
    if (tok(i).isWord("FOR")) {
        ++i;
        if (tok(i).isWord("READ")) { ++i; expectWord(i, "ONLY"); s.cursor.readOnly = true; }
        else if (tok(i).isWord("UPDATE")) {
            ++i;
            if (tok(i).isWord("OF")) {
                ++i;
                name(i);
                while (tok(i).isOp(",")) { ++i; name(i); }
            }
        } else throw syntaxError(tok(i));
    }
}

// DECLARE name [INSENSITIVE] [SCROLL] CURSOR [options] FOR select ...
void Translator::parseDeclareCursor(Stmt &s)
{
    size_t &i = pos;
    s.kind = Stmt::DeclareCursor;
    s.cursor.global = true; // the server's default cursor scope, unless LOCAL
    s.name = name(i);
    bool iso = false;
    while (tok(i).isWord("INSENSITIVE") || tok(i).isWord("SCROLL")) {
        if (tok(i).isWord("SCROLL")) s.cursor.scroll = true;
        else s.cursor.populated = s.cursor.readOnly = true; // INSENSITIVE
        iso = true;
        ++i;
    }
    expectWord(i, "CURSOR");
    if (iso) {
        expectWord(i, "FOR");
        --i; // cursorDefinition reads FOR itself
    }
    cursorDefinition(s);
}

int64_t TranslateContext::cursorCurrentRow(const std::string &cursor, bool global, bool variable, const std::string &table)
{
    (void)global; (void)variable; (void)table;
    throw makeError(16916, 16, "A cursor with the name '" + cursor + "' does not exist.");
}

// WHERE CURRENT OF [GLOBAL] cursor | @variable: the row the cursor's last
// FETCH reached, by its rowid; any other condition is an expression.
std::string Translator::dmlCondition(size_t &i, Translation &tr, const std::string &plain)
{
    if (!(tok(i).isWord("CURRENT") && tok(i + 1).isWord("OF"))) return expr(i, tr);
    i += 2;
    bool global = false, variable = false;
    std::string cursor;
    if (tok(i).kind == Token::Variable) {
        variable = true;
        cursor = tok(i).value;
        ++i;
    } else {
        if (tok(i).isWord("GLOBAL") && tok(i + 1).isName()) { global = true; ++i; }
        if (!tok(i).isName()) throw syntaxError(tok(i));
        cursor = name(i);
    }
    if (!ctx) return "0"; // checked before it runs: no cursor to ask yet
    return "rowid = " + std::to_string(ctx->cursorCurrentRow(cursor, global, variable, plain));
}

// OPEN/CLOSE/DEALLOCATE/FETCH ... [GLOBAL] name | @variable
void Translator::cursorName(Stmt &s)
{
    size_t &i = pos;
    if (tok(i).kind == Token::Variable) {
        s.cursor.variable = true;
        s.name = tok(i).value;
        ++i;
        return;
    }
    if (tok(i).isWord("GLOBAL") && (tok(i + 1).isName())) { s.cursor.global = true; ++i; }
    if (!tok(i).isName()) throw syntaxError(tok(i));
    s.name = name(i);
}

void Translator::parseCursorStatement(Stmt &s)
{
    const Token &k = tok(pos);
    s.kind = k.isWord("OPEN") ? Stmt::OpenCursor : k.isWord("CLOSE") ? Stmt::CloseCursor : Stmt::DeallocateCursor;
    ++pos;
    cursorName(s);
}

// FETCH [NEXT | PRIOR | FIRST | LAST | ABSOLUTE n | RELATIVE n] [FROM] cursor [INTO @v, ...]
void Translator::parseFetch(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::FetchCursor;
    for (const char *d : {"NEXT", "PRIOR", "FIRST", "LAST", "ABSOLUTE", "RELATIVE"}) {
        if (!tok(i).isWord(d)) continue;
        s.cursor.fetch = d;
        ++i;
        if (s.cursor.fetch == "ABSOLUTE" || s.cursor.fetch == "RELATIVE") {
            if (tok(i).kind != Token::Number && tok(i).kind != Token::Variable && !tok(i).isOp("-")) throw syntaxError(tok(i));
            s.cursor.offset = expressionArg();
        }
        break;
    }
    if (tok(i).isWord("FROM")) ++i;
    else if (s.cursor.fetch != "NEXT" || tok(i - 1).isWord("NEXT")) throw syntaxError(tok(i));
    cursorName(s);
    if (tok(i).isWord("INTO")) {
        ++i;
        for (;;) {
            if (tok(i).kind != Token::Variable) throw syntaxError(tok(i));
            s.cursor.into.push_back(tok(i).value);
            ++i;
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    }
}

} // namespace ts
