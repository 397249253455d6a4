// Statement-level parsing of a batch: a statement's first word picks its
// parser (administration in sqladmin.cpp, control of flow and variables in
// sqlcontrol.cpp, triggers and views in sqlmodules.cpp). DML/DDL statements
// are validated by translating them.
#include "tsql/sqltranslate.h"

namespace ts {

bool startsStatement(const Token &k)
{
    static const char *w[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER", "USE", "EXEC",
        "EXECUTE", "BACKUP", "RESTORE", "DBCC", "DUMP", "IF", "ELSE", "BEGIN", "END", "DECLARE", "SET", "PRINT",
        "RAISERROR", "WAITFOR", "TRUNCATE", "COMMIT", "ROLLBACK", "RETURN", "WHILE", "SAVE", "THROW", "ENABLE",
        "DISABLE", "OPEN", "FETCH", "CLOSE", "DEALLOCATE", "MERGE", nullptr};
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
    if (((create || drop) && (what.isWord("TABLE") || what.isWord("SCHEMA") || what.isWord("TYPE"))) || what.isWord("USER") || what.isWord("LOGIN")
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
        {"OPEN", &Translator::parseCursorStatement}, {"CLOSE", &Translator::parseCursorStatement},
        {"DEALLOCATE", &Translator::parseCursorStatement}, {"FETCH", &Translator::parseFetch},
        {"MERGE", &Translator::parseMerge},
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

} // namespace ts
