// Statement-level parsing of a batch: administration statements, control of
// flow and variables. DML/DDL statements are validated by translating them.
#include "sqltranslate.h"

#include "collation.h"

#include <cmath>
#include <cstdlib>

namespace ts {

// The text of a string literal: '...' is varchar and holds only what the
// server's code page can; N'...' keeps every character.
static std::string literalText(const Token &t)
{
    return t.kind == Token::String ? throughCodePage(t.value) : t.value;
}

static bool startsStatement(const Token &k)
{
    static const char *w[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER", "USE", "EXEC",
        "EXECUTE", "BACKUP", "RESTORE", "DBCC", "DUMP", "IF", "ELSE", "BEGIN", "END", "DECLARE", "SET", "PRINT",
        "RAISERROR", "WAITFOR", "TRUNCATE", "COMMIT", "ROLLBACK", "RETURN", "WHILE", "SAVE", "THROW", "ENABLE",
        "DISABLE", nullptr};
    if (k.kind != Token::Ident) return false;
    for (int n = 0; w[n]; ++n) if (k.isWord(w[n])) return true;
    return false;
}

std::vector<Stmt> Translator::parseBatch()
{
    std::vector<Stmt> out;
    pos = 0;
    for (;;) {
        while (tok(pos).isOp(";")) ++pos;
        if (tok(pos).kind == Token::End) break;
        // A procedure name alone at the start of a batch is an implicit EXEC.
        if (out.empty() && tok(pos).isName() && !startsStatement(tok(pos))
            && !(tok(pos).kind == Token::Ident && isReservedWord(tok(pos).value))) {
            Stmt s;
            s.kind = Stmt::Exec;
            s.begin = pos;
            s.line = tok(pos).line;
            size_t i = pos;
            std::string last = name(i);
            while (tok(i).isOp(".")) { ++i; if (tok(i).isOp(".")) continue; last = name(i); }
            s.name = last;
            while (tok(i).kind != Token::End && !tok(i).isOp(";") && !startsStatement(tok(i))) {
                Stmt::Arg a;
                if (tok(i).kind == Token::Variable && tok(i + 1).isOp("=")) { a.paramName = tok(i).value; i += 2; }
                a.tok = i;
                if (tok(i).isOp("-")) ++i;
                ++i;
                a.tokEnd = i;
                if (tok(i).isWord("OUTPUT") || tok(i).isWord("OUT")) ++i;
                s.args.push_back(a);
                if (!tok(i).isOp(",")) break;
                ++i;
            }
            pos = i;
            s.end = pos;
            out.push_back(s);
            continue;
        }
        int line = tok(pos).line;
        // These must open their batch.
        if (!out.empty() && (tok(pos).isWord("CREATE") || tok(pos).isWord("ALTER"))) {
            size_t w = pos + 1;
            if (tok(pos).isWord("CREATE") && tok(w).isWord("OR") && tok(w + 1).isWord("ALTER")) w += 2;
            for (const char *what : {"SCHEMA", "TRIGGER", "VIEW"}) {
                if (!tok(w).isWord(what) || (tok(pos).isWord("ALTER") && std::string(what) == "SCHEMA")) continue;
                SqlError e = makeError(111, 15, "'" + upper(tok(pos).value) + " " + what + "' must be the first statement in a query batch.", true);
                e.msg.line = line;
                throw e;
            }
        }
        try {
            out.push_back(parseStatement());
        } catch (SqlError &e) {
            if (e.msg.line == 0) e.msg.line = line;
            throw;
        }
    }
    return out;
}

int64_t Translator::sizeValue(size_t &i, bool allowPercent, bool *percent, bool allowUnlimited)
{
    if (percent) *percent = false;
    if (allowUnlimited && tok(i).isWord("UNLIMITED")) { ++i; return -1; }
    if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
    double v = std::atof(tok(i).value.c_str());
    ++i;
    double kb = v * 1024; // a bare number means MB
    if (tok(i).kind == Token::Ident) {
        std::string u = upper(tok(i).value);
        if (u == "KB") kb = v;
        else if (u == "MB") kb = v * 1024;
        else if (u == "GB") kb = v * 1024 * 1024;
        else if (u == "TB") kb = v * 1024.0 * 1024 * 1024;
        else throw syntaxError(tok(i));
        ++i;
    } else if (tok(i).isOp("%")) {
        if (!allowPercent) throw syntaxError(tok(i));
        ++i;
        if (percent) *percent = true;
        return int64_t(v);
    }
    return int64_t(std::llround(kb));
}

static std::string stringOrName(const Token &k)
{
    return k.value;
}

// Transaction and savepoint names: an identifier or a variable holding one.
void Translator::tranName(Stmt &s)
{
    const Token &n = tok(pos);
    if (n.kind == Token::Variable) { s.name = n.value; s.flag = true; ++pos; }
    else if (n.kind == Token::QuotedIdent || (n.kind == Token::Ident && !isReservedWord(n.value))) { s.name = n.value; ++pos; }
}

// Statements the translator checks: their syntax is validated by translating
// them without a context (no names are resolved).
void Translator::parseTranslated(Stmt &s)
{
    const Token &k = tok(pos);
    if (k.isWord("WITH")) {
        // A CTE after another statement needs that statement ended with a semicolon.
        if (pos > 0 && !tok(pos - 1).isOp(";") && !tok(pos - 1).isWord("BEGIN") && !tok(pos - 1).isWord("AS"))
            throw makeError(319, 15, "Incorrect syntax near the keyword '" + k.value + "'. If this statement is a common table "
                            "expression, an xmlnamespaces clause or a change tracking context clause, the previous statement "
                            "must be terminated with a semicolon.", true);
    }
    TranslateContext *saved = ctx;
    ctx = nullptr;
    translate(pos); // moves pos to the statement's end
    ctx = saved;
    s.kind = Stmt::Sql;
}

// CREATE/ALTER/DROP: databases are run by the engine, other objects translated.
void Translator::parseDdl(Stmt &s)
{
    const Token &k = tok(pos);
    const Token &what = tok(pos + 1);
    const bool create = k.isWord("CREATE"), drop = k.isWord("DROP");
    if (create && what.isWord("DATABASE")) return parseCreateDatabase(s);
    if (what.isWord("TRIGGER") || (create && what.isWord("OR") && tok(pos + 2).isWord("ALTER") && tok(pos + 3).isWord("TRIGGER")))
        return parseTrigger(s);
    if (what.isWord("VIEW") || (create && what.isWord("OR") && tok(pos + 2).isWord("ALTER") && tok(pos + 3).isWord("VIEW")))
        return parseView(s);
    if (drop && what.isWord("DATABASE")) return parseDropDatabase(s);
    if (((create || drop) && (what.isWord("TABLE") || what.isWord("SCHEMA"))) || what.isWord("USER") || what.isWord("LOGIN")
        || (create && (what.isWord("INDEX") || what.isWord("UNIQUE") || what.isWord("CLUSTERED") || what.isWord("NONCLUSTERED"))))
        return parseTranslated(s);
    throw syntaxError(k);
}

Stmt Translator::parseStatement()
{
    using Parser = void (Translator::*)(Stmt &);
    static const std::pair<const char *, Parser> parsers[] = {
        {"SELECT", &Translator::parseTranslated}, {"INSERT", &Translator::parseTranslated},
        {"UPDATE", &Translator::parseTranslated}, {"DELETE", &Translator::parseTranslated},
        {"TRUNCATE", &Translator::parseTranslated}, {"WITH", &Translator::parseTranslated},
        {"CREATE", &Translator::parseDdl}, {"ALTER", &Translator::parseDdl}, {"DROP", &Translator::parseDdl},
        {"USE", &Translator::parseUse}, {"BACKUP", &Translator::parseBackup}, {"DUMP", &Translator::parseDump},
        {"RESTORE", &Translator::parseRestore}, {"EXEC", &Translator::parseExec}, {"EXECUTE", &Translator::parseExec},
        {"DBCC", &Translator::parseDbcc}, {"IF", &Translator::parseIfWhile}, {"WHILE", &Translator::parseIfWhile},
        {"BEGIN", &Translator::parseBegin}, {"COMMIT", &Translator::parseCommitRollback},
        {"ROLLBACK", &Translator::parseCommitRollback}, {"SAVE", &Translator::parseSave}, {"THROW", &Translator::parseThrow},
        {"DECLARE", &Translator::parseDeclare}, {"SET", &Translator::parseSet}, {"PRINT", &Translator::parsePrint},
        {"RAISERROR", &Translator::parseRaiserror}, {"WAITFOR", &Translator::parseWaitfor}, {"RETURN", &Translator::parseReturn},
        {"ENABLE", &Translator::parseEnableTrigger}, {"DISABLE", &Translator::parseEnableTrigger},
    };
    Stmt s;
    s.begin = pos;
    s.line = tok(pos).line;
    const Token &k = tok(pos);
    if (k.kind == Token::Ident) {
        for (const auto &[word, parse] : parsers) {
            if (!k.isWord(word)) continue;
            (this->*parse)(s);
            s.end = pos;
            return s;
        }
    }
    throw syntaxError(k);
}

void Translator::parseUse(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Use;
    s.name = name(i);
}

void Translator::parseCreateDatabase(Stmt &s)
{
    size_t &i = pos;
    i += 2;
    s.kind = Stmt::CreateDatabase;
    s.name = name(i);
    auto fileSpec = [&](std::vector<Stmt::FileSpec> &out) {
        expectOp(i, "(");
        Stmt::FileSpec f;
        bool any = false;
        for (;;) {
            const Token &opt = tok(i);
            if (opt.isOp(")")) break;
            if (opt.kind != Token::Ident) throw syntaxError(opt);
            std::string o = upper(opt.value);
            if (o != "NAME" && o != "NEWNAME" && o != "FILENAME" && o != "SIZE" && o != "MAXSIZE" && o != "FILEGROWTH")
                throw makeError(153, 15, "Invalid usage of the option " + opt.value + " in the CREATE/ALTER DATABASE statement.", true);
            ++i;
            expectOp(i, "=");
            if (o == "NAME") {
                if (!tok(i).isName() && tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
                f.logical = stringOrName(tok(i));
                ++i;
            } else if (o == "FILENAME") {
                if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
                f.physical = literalText(tok(i));
                ++i;
            } else if (o == "SIZE") {
                f.sizeKb = sizeValue(i, false, nullptr, false);
            } else if (o == "MAXSIZE") {
                f.maxKb = sizeValue(i, false, nullptr, true);
            } else if (o == "FILEGROWTH") {
                f.growth = sizeValue(i, true, &f.percent, false);
            } else {
                ++i;
            }
            any = true;
            if (!tok(i).isOp(",")) break;
            ++i;
        }
        expectOp(i, ")");
        if (!any || f.physical.empty()) throw syntaxError(tok(i - 1));
        out.push_back(f);
    };
    if (tok(i).isWord("ON")) {
        ++i;
        if (tok(i).isWord("PRIMARY")) ++i;
        fileSpec(s.dataFiles);
        while (tok(i).isOp(",")) { ++i; fileSpec(s.dataFiles); }
    }
    if (tok(i).isWord("LOG")) {
        ++i;
        expectWord(i, "ON");
        fileSpec(s.logFiles);
        while (tok(i).isOp(",")) { ++i; fileSpec(s.logFiles); }
    }
    if (tok(i).isWord("COLLATE")) { ++i; name(i); }
}

void Translator::parseDropDatabase(Stmt &s)
{
    size_t &i = pos;
    i += 2;
    s.kind = Stmt::DropDatabase;
    s.name = name(i);
    while (tok(i).isOp(",")) { ++i; Stmt::Arg a; a.paramName = name(i); s.args.push_back(a); }
}

void Translator::parseBackup(Stmt &s)
{
    size_t &i = pos;
    ++i;
    if (tok(i).isWord("LOG")) {
        ++i;
        s.kind = Stmt::BackupLogNoLog;
        s.name = name(i);
        if (tok(i).isWord("WITH")) {
            ++i;
            const Token &opt = tok(i);
            if (opt.isWord("NO_LOG") || opt.isWord("TRUNCATE_ONLY")) {
                // Current servers no longer know these options; the parser rejects them (class 15).
                if (!compat2000)
                    throw makeError(155, 15, "'" + opt.value + "' is not a recognized BACKUP option.", true);
                ++i;
                return;
            }
            throw syntaxError(opt);
        }
        // A log backup to a device: the database uses the simple recovery model.
        s.flag = true;
        expectWord(i, "TO");
        while (tok(i).kind != Token::End && !tok(i).isOp(";") && !startsStatement(tok(i))) ++i;
        return;
    }
    expectWord(i, "DATABASE");
    s.kind = Stmt::BackupDatabase;
    s.name = name(i);
    expectWord(i, "TO");
    if (tok(i).isWord("DISK")) {
        ++i;
        expectOp(i, "=");
        if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
        s.text = literalText(tok(i));
        s.flag = true;
        ++i;
    } else {
        if (tok(i).kind == Token::String || tok(i).kind == Token::NString) { s.text = literalText(tok(i)); ++i; }
        else s.text = name(i);
    }
    if (tok(i).isWord("WITH")) {
        ++i;
        for (;;) {
            const Token &opt = tok(i);
            if (opt.kind != Token::Ident) throw syntaxError(opt);
            ++i;
            if (opt.isWord("INIT")) s.media.init = true;
            else if (opt.isWord("NOINIT")) s.media.init = false;
            else if (opt.isWord("FORMAT")) s.media.format = s.media.init = true;
            else if (opt.isWord("NOFORMAT")) s.media.format = false;
            if (tok(i).isOp("=")) {
                ++i;
                const Token &v = tok(i);
                if (v.kind != Token::String && v.kind != Token::NString && v.kind != Token::Number
                    && v.kind != Token::Variable && v.kind != Token::Ident)
                    throw syntaxError(v);
                if (opt.isWord("NAME")) s.media.name = v.value;
                else if (opt.isWord("DESCRIPTION")) s.media.description = v.value;
                ++i;
            }
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    }
}

void Translator::parseDump(Stmt &s)
{
    size_t &i = pos;
    // DUMP TRANSACTION was removed from the language; only the old servers take it.
    if (!compat2000) throw syntaxError(tok(i));
    ++i;
    if (!tok(i).isWord("TRANSACTION") && !tok(i).isWord("TRAN")) throw syntaxError(tok(i));
    ++i;
    s.kind = Stmt::DumpTranNoLog;
    s.name = name(i);
    expectWord(i, "WITH");
    if (!tok(i).isWord("NO_LOG") && !tok(i).isWord("TRUNCATE_ONLY")) throw syntaxError(tok(i));
    ++i;
}

void Translator::parseRestore(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Restore;
    if (tok(i).isWord("HEADERONLY")) { s.media.what = Stmt::Media::HeaderOnly; ++i; }
    else if (tok(i).isWord("FILELISTONLY")) { s.media.what = Stmt::Media::FileListOnly; ++i; }
    else if (tok(i).isWord("VERIFYONLY")) { s.media.what = Stmt::Media::VerifyOnly; ++i; }
    else {
        expectWord(i, "DATABASE");
        s.name = name(i);
    }
    expectWord(i, "FROM");
    if (tok(i).isWord("DISK")) {
        ++i;
        expectOp(i, "=");
        if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
        s.text = literalText(tok(i));
        s.flag = false;
        ++i;
    } else {
        Stmt::Arg dev;
        dev.paramName = name(i);
        s.args.push_back(dev);   // restore from a named device
    }
    if (tok(i).isWord("WITH")) {
        ++i;
        for (;;) {
            const Token &opt = tok(i);
            if (opt.isWord("REPLACE")) { s.flag = true; ++i; }
            else if (opt.isWord("MOVE")) {
                ++i;
                if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
                std::string from = literalText(tok(i));
                ++i;
                expectWord(i, "TO");
                if (tok(i).kind != Token::String && tok(i).kind != Token::NString) throw syntaxError(tok(i));
                s.dataFiles.push_back({from, literalText(tok(i))});
                ++i;
            } else if (opt.isWord("FILE")) {
                ++i;
                expectOp(i, "=");
                if (tok(i).kind != Token::Number) throw syntaxError(tok(i));
                s.media.file = std::atoi(tok(i).value.c_str());
                ++i;
            } else if (opt.kind == Token::Ident) {
                ++i;
                if (tok(i).isOp("=")) { ++i; ++i; }
            } else throw syntaxError(opt);
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    }
}

void Translator::parseExec(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::Exec;
    if (tok(i).isOp("(")) {
        // EXEC ('batch text')
        ++i;
        s.condBegin = i;
        Translation scratch;
        expr(i, scratch); // validated only
        s.condEnd = i;
        expectOp(i, ")");
        s.name.clear();
        return;
    }
    if (tok(i).kind == Token::Variable && tok(i + 1).isOp("=")) i += 2; // @ret = proc
    std::string last = name(i);
    while (tok(i).isOp(".")) { ++i; if (tok(i).isOp(".")) continue; last = name(i); }
    s.name = last;
    if (!(tok(i).kind == Token::End || tok(i).isOp(";") || startsStatement(tok(i)))) {
        for (;;) {
            Stmt::Arg a;
            if (tok(i).kind == Token::Variable && tok(i + 1).isOp("=")) { a.paramName = tok(i).value; i += 2; }
            a.tok = i;
            const Token &v = tok(i);
            if (v.isOp("-")) { ++i; if (tok(i).kind != Token::Number) throw syntaxError(tok(i)); ++i; }
            else if (v.kind == Token::String || v.kind == Token::NString || v.kind == Token::Number
                     || v.kind == Token::Variable || v.kind == Token::Binary || v.isName()) {
                if (v.kind == Token::Ident && isReservedWord(v.value) && !v.isWord("NULL") && !v.isWord("DEFAULT"))
                    throw syntaxError(v);
                ++i;
            } else throw syntaxError(v);
            a.tokEnd = i;
            if (tok(i).isWord("OUTPUT") || tok(i).isWord("OUT")) ++i;
            s.args.push_back(a);
            if (!tok(i).isOp(",")) break;
            ++i;
        }
    }
}

void Translator::parseDbcc(Stmt &s)
{
    size_t &i = pos;
    ++i;
    s.kind = Stmt::DbccShrink;
    s.name = tok(i).kind == Token::Ident ? upper(tok(i).value) : "";
    if (tok(i).kind != Token::Ident) throw syntaxError(tok(i));
    ++i;
    if (tok(i).isOp("(")) {
        ++i;
        while (!tok(i).isOp(")")) {
            if (tok(i).kind == Token::End) throw syntaxError(tok(i));
            Stmt::Arg a;
            a.tok = i;
            ++i;
            a.tokEnd = i;
            s.args.push_back(a);
            if (tok(i).isOp(",")) ++i;
        }
        ++i;
    }
    if (tok(i).isWord("WITH")) {
        ++i;
        s.text = upper(tok(i).value);
        name(i);
        while (tok(i).isOp(",")) { ++i; name(i); }
    }
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
    s.kind = Stmt::Block;
    for (;;) {
        while (tok(i).isOp(";")) ++i;
        if (tok(i).isWord("END")) { ++i; break; }
        if (tok(i).kind == Token::End) throw syntaxError(tok(i));
        s.body.push_back(parseStatement());
    }
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
        ColumnMeta m = typeSpec(i);
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
        expectOp(i, "=");
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
    else if (v.isOp("-")) { ++i; if (tok(i).kind != Token::Number) throw syntaxError(tok(i)); ++i; }
    else if (v.kind == Token::Number || v.kind == Token::String || v.kind == Token::NString
             || v.kind == Token::Variable || (v.kind == Token::Ident && !isReservedWord(v.value)))
        ++i;
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
