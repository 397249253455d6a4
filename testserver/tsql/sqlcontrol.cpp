// Parsing of control of flow, variables and transactions: IF, WHILE,
// BEGIN ... END, BEGIN/COMMIT/ROLLBACK/SAVE TRANSACTION, THROW, DECLARE, SET,
// PRINT, RAISERROR, WAITFOR and RETURN.
#include "tsql/sqltranslate.h"

#include <cstdlib>

namespace ts {

// Transaction and savepoint names: an identifier or a variable holding one.
void Translator::tranName(Stmt &s)
{
    const Token &n = tok(pos);
    if (n.kind == Token::Variable) { s.name = n.value; s.flag = true; ++pos; }
    else if (n.kind == Token::QuotedIdent || (n.kind == Token::Ident && !isReservedWord(n.value))) { s.name = n.value; ++pos; }
}

// "+" for the token "+=" ... : the operators of compound assignment; "" for any other token.
std::string compoundOperator(const Token &k)
{
    for (const char *o : {"+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="})
        if (k.isOp(o)) return std::string(1, o[0]);
    return {};
}

void Translator::parseIfWhile(Stmt &s)
{
    size_t &i = pos;
    const bool isIf = tok(i).isWord("IF");
    ++i;
    s.kind = isIf ? Stmt::If : Stmt::While;
    s.condBegin = i;
    Translation scratch;
    expr(i, scratch);
    s.condEnd = i;
    if (tok(i).kind == Token::End || tok(i).isOp(";")) throw syntaxError(tok(i));
    s.body.push_back(parseStatement());
    if (isIf && tok(i).isWord("ELSE")) {
        ++i;
        s.body.push_back(parseStatement());
    }
}

void Translator::parseBegin(Stmt &s)
{
    size_t &i = pos;
    ++i;
    if (tok(i).isWord("TRAN") || tok(i).isWord("TRANSACTION")) {
        ++i;
        s.kind = Stmt::BeginTran;
        tranName(s);
        return;
    }
    if (tok(i).isWord("TRY")) return parseTryCatch(s);
    s.kind = Stmt::Block;
    for (;;) {
        while (tok(i).isOp(";")) ++i;
        if (tok(i).isWord("END")) { ++i; break; }
        if (tok(i).kind == Token::End) throw syntaxError(tok(i));
        s.body.push_back(parseStatement());
    }
}

// The statements of a TRY or CATCH block up to END TRY / END CATCH.
Stmt Translator::tryCatchBlock(const char *word, bool mayBeEmpty)
{
    size_t &i = pos;
    Stmt block;
    block.kind = Stmt::Block;
    block.begin = i;
    block.line = tok(i).line;
    for (;;) {
        while (tok(i).isOp(";")) ++i;
        if (tok(i).isWord("END") && tok(i + 1).isWord(word)) break;
        if (tok(i).kind == Token::End) throw syntaxError(tok(i));
        block.body.push_back(parseStatement());
    }
    if (block.body.empty() && !mayBeEmpty) throw syntaxError(tok(i));
    i += 2;
    block.end = i;
    return block;
}

// BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH: body[0] the TRY block, body[1] the CATCH block.
void Translator::parseTryCatch(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::TryCatch;
    s.body.push_back(tryCatchBlock("TRY", false));
    while (tok(i).isOp(";")) ++i;
    if (!tok(i).isWord("BEGIN") || !tok(i + 1).isWord("CATCH")) throw syntaxError(tok(i));
    i += 2;
    s.body.push_back(tryCatchBlock("CATCH", true));
}

void Translator::parseCommitRollback(Stmt &s)
{
    size_t &i = pos;
    s.kind = tok(i).isWord("COMMIT") ? Stmt::CommitTran : Stmt::RollbackTran;
    ++i;
    if (tok(i).isWord("TRAN") || tok(i).isWord("TRANSACTION")) {
        ++i;
        tranName(s);
    } else if (tok(i).isWord("WORK")) {
        ++i;
    }
}

void Translator::parseSave(Stmt &s)
{
    size_t &i = pos;
    ++i;
    if (!tok(i).isWord("TRAN") && !tok(i).isWord("TRANSACTION")) throw syntaxError(tok(i));
    ++i;
    s.kind = Stmt::SaveTran;
    tranName(s);
    if (s.name.empty()) throw syntaxError(tok(i));
}

// One argument that is an expression: its tokens, checked, kept for the engine.
Stmt::Arg Translator::expressionArg()
{
    Stmt::Arg a;
    a.tok = pos;
    Translation scratch;
    expr(pos, scratch);
    a.tokEnd = pos;
    return a;
}

void Translator::parseThrow(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Throw;
    // THROW alone re-raises inside CATCH; with arguments: number, message, state.
    if (tok(i).kind == Token::End || tok(i).isOp(";") || startsStatement(tok(i))) return;
    for (int n = 0; n < 3; ++n) {
        if (n) expectOp(i, ",");
        s.args.push_back(expressionArg());
    }
}

void Translator::parseDeclare(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Declare;
    if (tok(i).isName() && (tok(i + 1).isWord("CURSOR") || tok(i + 1).isWord("INSENSITIVE") || tok(i + 1).isWord("SCROLL")))
        return parseDeclareCursor(s);
    for (;;) {
        if (tok(i).kind != Token::Variable) throw syntaxError(tok(i));
        std::string var = tok(i).value;
        ++i;
        if (tok(i).isWord("AS")) ++i;
        if (tok(i).isWord("TABLE") && s.declares.empty()) {
            // DECLARE @t TABLE (...): checked here, created when the statement runs.
            s.kind = Stmt::DeclareTable;
            s.name = var;
            s.condBegin = i;
            TableMeta scratch;
            tableVariable(i, "check", scratch);
            s.condEnd = i;
            return;
        }
        ColumnMeta m;
        if (tok(i).isWord("CURSOR")) { m.type = "cursor"; ++i; } // a cursor variable: SET @c = CURSOR ...
        else m = typeSpec(i);
        std::pair<size_t, size_t> init{0, 0};
        if (tok(i).isOp("=")) {
            ++i;
            init.first = i;
            Translation scratch;
            expr(i, scratch);
            init.second = i;
        }
        s.declares.push_back({var, m});
        s.declareInit.push_back(init);
        if (!tok(i).isOp(",")) break;
        ++i;
    }
}

void Translator::parseSet(Stmt &s)
{
    size_t &i = pos;
    ++i;
    if (tok(i).kind == Token::Variable) {
        s.kind = Stmt::SetVar;
        s.name = tok(i).value;
        ++i;
        if (xmlModifyAt(t, i)) { // SET @x.modify('dml') is SET @x = the changed value
            s.condBegin = i - 1;
            Translation scratch;
            --i;
            expr(i, scratch);
            s.condEnd = i;
            return;
        }
        // SET @v op= expr keeps the operator in `text`.
        if (const std::string o = compoundOperator(tok(i)); !o.empty()) { s.text = o; ++i; }
        else expectOp(i, "=");
        if (s.text.empty() && tok(i).isWord("CURSOR")) { // SET @c = CURSOR [options] FOR select
            ++i;
            s.kind = Stmt::DeclareCursor;
            s.cursor.variable = true;
            cursorDefinition(s);
            return;
        }
        s.condBegin = i;
        Translation scratch;
        expr(i, scratch);
        s.condEnd = i;
        return;
    }
    s.kind = Stmt::SetOption;
    if (tok(i).isWord("TRANSACTION")) {
        ++i;
        expectWord(i, "ISOLATION");
        expectWord(i, "LEVEL");
        while (tok(i).isWord("READ") || tok(i).isWord("COMMITTED") || tok(i).isWord("UNCOMMITTED")
               || tok(i).isWord("REPEATABLE") || tok(i).isWord("SERIALIZABLE") || tok(i).isWord("SNAPSHOT"))
            ++i;
        return;
    }
    if (tok(i).kind != Token::Ident) throw syntaxError(tok(i));
    s.name = upper(tok(i).value);
    ++i;
    while (tok(i).isOp(",")) { ++i; if (tok(i).kind != Token::Ident) throw syntaxError(tok(i)); ++i; }
    if (s.name == "IDENTITY_INSERT") {
        std::string w;
        objectName(i, &w, nullptr, &s.text);
    }
    const Token &v = tok(i);
    if (v.isWord("ON")) { s.flag = true; ++i; }
    else if (v.isWord("OFF")) { ++i; }
    else if (v.isOp("-")) { ++i; if (tok(i).kind != Token::Number) throw syntaxError(tok(i)); s.text = "-" + tok(i).value; ++i; }
    else if (v.kind == Token::Number || v.kind == Token::String || v.kind == Token::NString
             || v.kind == Token::Variable || (v.kind == Token::Ident && !isReservedWord(v.value)))
        s.text = t[i++].value;
    else throw syntaxError(v);
}

void Translator::parsePrint(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Print;
    s.condBegin = i;
    Translation scratch;
    expr(i, scratch);
    s.condEnd = i;
}

void Translator::parseRaiserror(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Raiserror;
    expectOp(i, "(");
    for (;;) {
        s.args.push_back(expressionArg());
        if (!tok(i).isOp(",")) break;
        ++i;
    }
    expectOp(i, ")");
    if (s.args.size() < 3) throw syntaxError(tok(i - 1));
    if (tok(i).isWord("WITH")) {
        ++i;
        name(i);
        while (tok(i).isOp(",")) { ++i; name(i); }
    }
}

void Translator::parseWaitfor(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Waitfor;
    if (tok(i).isWord("DELAY")) s.flag = true;
    else if (!tok(i).isWord("TIME")) throw syntaxError(tok(i));
    ++i;
    if (tok(i).kind != Token::String && tok(i).kind != Token::Variable) throw syntaxError(tok(i));
    s.condBegin = i;
    ++i;
    s.condEnd = i;
}

void Translator::parseReturn(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Return;
    if (tok(i).kind == Token::Number) ++i;
}

} // namespace ts
