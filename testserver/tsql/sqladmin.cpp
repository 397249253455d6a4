// Parsing of the administration statements the engine runs itself: USE,
// CREATE/DROP DATABASE, BACKUP, DUMP, RESTORE, EXEC and DBCC.
#include "tsql/sqltranslate.h"

#include "base/collation.h"

#include <cmath>
#include <cstdlib>

namespace ts {

// The text of a string literal: '...' is varchar and holds only what the
// server's code page can; N'...' keeps every character.
static std::string literalText(const Token &t)
{
    return t.kind == Token::String ? throughCodePage(t.value) : t.value;
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
            if (tok(i).isWord("OUTPUT") || tok(i).isWord("OUT")) { a.output = true; ++i; }
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

} // namespace ts
