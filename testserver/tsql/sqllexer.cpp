#include "tsql/sqllexer.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace ts {

std::string upper(std::string s)
{
    for (auto &c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string lower(std::string s)
{
    for (auto &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool iequals(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool Token::isWord(const char *u) const
{
    return kind == Ident && iequals(value, u);
}

bool isReservedWord(const std::string &word)
{
    static const std::set<std::string> words = {
        "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BACKUP", "BEGIN",
        "BETWEEN", "BREAK", "BROWSE", "BULK", "BY", "CASCADE", "CASE", "CHECK", "CHECKPOINT",
        "CLOSE", "CLUSTERED", "COALESCE", "COLLATE", "COLUMN", "COMMIT", "COMPUTE", "CONSTRAINT",
        "CONTAINS", "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURRENT", "CURSOR", "DATABASE",
        "DBCC", "DEALLOCATE", "DECLARE", "DEFAULT", "DELETE", "DENY", "DESC", "DISK", "DISTINCT",
        "DISTRIBUTED", "DOUBLE", "DROP", "DUMP", "ELSE", "END", "ERRLVL", "ESCAPE", "EXCEPT",
        "EXEC", "EXECUTE", "EXISTS", "EXIT", "EXTERNAL", "FETCH", "FILE", "FILLFACTOR", "FOR",
        "FOREIGN", "FREETEXT", "FROM", "FULL", "FUNCTION", "GOTO", "GRANT", "GROUP", "HAVING",
        "HOLDLOCK", "IDENTITY", "IDENTITY_INSERT", "IF", "IN", "INDEX", "INNER", "INSERT",
        "INTERSECT", "INTO", "IS", "JOIN", "KEY", "KILL", "LEFT", "LIKE", "LINENO", "LOAD",
        "MERGE", "NATIONAL", "NOCHECK", "NONCLUSTERED", "NOT", "NULL", "NULLIF", "OF", "OFF",
        "OFFSETS", "ON", "OPEN", "OPTION", "OR", "ORDER", "OUTER", "OVER", "PERCENT", "PIVOT",
        "PLAN", "PRIMARY", "PRINT", "PROC", "PROCEDURE", "PUBLIC", "RAISERROR", "READ",
        "RECONFIGURE", "REFERENCES", "REPLICATION", "RESTORE", "RESTRICT", "RETURN", "REVERT",
        "REVOKE", "RIGHT", "ROLLBACK", "ROWCOUNT", "RULE", "SAVE", "SCHEMA", "SELECT", "SET",
        "SETUSER", "SHUTDOWN", "SOME", "STATISTICS", "TABLE", "TEXTSIZE", "THEN", "TO", "TOP",
        "TRAN", "TRANSACTION", "TRIGGER", "TRUNCATE", "UNION", "UNIQUE", "UNPIVOT", "UPDATE", "USE", "USER",
        "VALUES", "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH"};
    return words.count(upper(word)) != 0;
}

namespace {

bool isIdStart(unsigned char c) { return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80; }
bool isIdChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '#' || c == '$' || c == '@' || c >= 0x80; }
bool isDigit(unsigned char c) { return std::isdigit(c) != 0; }
bool isHexDigit(unsigned char c) { return std::isxdigit(c) != 0; }

// Reads a batch left to right, a run of blanks and comments or one token at a time, counting lines.
struct Lexer {
    const std::string &sql;
    size_t i = 0;
    int line = 1;

    bool at(size_t k, char c) const { return k < sql.size() && sql[k] == c; }
    bool digitAt(size_t k) const { return k < sql.size() && isDigit(static_cast<unsigned char>(sql[k])); }
    void skipWhile(bool (*accepts)(unsigned char))
    {
        while (i < sql.size() && accepts(static_cast<unsigned char>(sql[i]))) ++i;
    }

    bool skipBlanks(size_t &errorPos);
    bool blockComment(size_t &errorPos);
    bool readToken(Token &t);
    bool quoted(char close, std::string &value);
    void number();
    std::string op();
};

// Blanks, line comments and block comments; false at a block comment left open.
bool Lexer::skipBlanks(size_t &errorPos)
{
    while (i < sql.size()) {
        unsigned char c = static_cast<unsigned char>(sql[i]);
        if (c == '\n') { ++line; ++i; continue; }
        if (std::isspace(c)) { ++i; continue; }
        if (c == '-' && at(i + 1, '-')) {
            while (i < sql.size() && sql[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && at(i + 1, '*')) {
            if (!blockComment(errorPos)) return false;
            continue;
        }
        break;
    }
    return true;
}

// T-SQL block comments nest.
bool Lexer::blockComment(size_t &errorPos)
{
    const size_t start = i;
    int depth = 0;
    while (i < sql.size()) {
        if (sql[i] == '/' && at(i + 1, '*')) { ++depth; i += 2; continue; }
        if (sql[i] == '*' && at(i + 1, '/')) { i += 2; if (--depth == 0) break; continue; }
        if (sql[i] == '\n') ++line;
        ++i;
    }
    if (depth != 0) { errorPos = start; return false; }
    return true;
}

// The token at i; false when its quote is not closed.
bool Lexer::readToken(Token &t)
{
    t.line = line;
    t.pos = i;
    const size_t start = i;
    const unsigned char c = static_cast<unsigned char>(sql[i]);
    if ((c == 'N' || c == 'n') && at(i + 1, '\'')) {
        ++i;
        t.kind = Token::NString;
        if (!quoted('\'', t.value)) return false;
    } else if (c == '\'') {
        t.kind = Token::String;
        if (!quoted('\'', t.value)) return false;
    } else if (c == '[' || c == '"') {
        t.kind = Token::QuotedIdent;
        if (!quoted(c == '[' ? ']' : '"', t.value)) return false;
    } else if (c == '0' && (at(i + 1, 'x') || at(i + 1, 'X'))) {
        i += 2;
        skipWhile(isHexDigit);
        t.kind = Token::Binary;
        t.value = sql.substr(start + 2, i - start - 2);
    } else if (std::isdigit(c) || (c == '.' && digitAt(i + 1))) {
        number();
        t.kind = Token::Number;
        t.value = sql.substr(start, i - start);
    } else if (c == '@') {
        const bool sys = at(i + 1, '@');
        i += sys ? 2 : 1;
        skipWhile(isIdChar);
        t.kind = sys ? Token::SysVar : Token::Variable;
        t.value = lower(sql.substr(start, i - start));
    } else if (isIdStart(c)) {
        skipWhile(isIdChar);
        t.kind = Token::Ident;
        t.value = sql.substr(start, i - start);
    } else {
        t.kind = Token::Op;
        t.value = op();
    }
    t.text = sql.substr(start, i - start);
    for (size_t k = start; k < i; ++k) if (sql[k] == '\n') ++line;
    return true;
}

// A string or quoted identifier from its opening character; the closing
// character written twice stands for itself.
bool Lexer::quoted(char close, std::string &value)
{
    ++i;
    std::string v;
    while (i < sql.size()) {
        if (sql[i] == close) {
            if (at(i + 1, close)) { v += close; i += 2; continue; }
            ++i;
            value = v;
            return true;
        }
        v += sql[i++];
    }
    return false;
}

// Digits, a fraction and an exponent, which counts only when digits follow its E.
void Lexer::number()
{
    skipWhile(isDigit);
    if (at(i, '.')) { ++i; skipWhile(isDigit); }
    if (at(i, 'e') || at(i, 'E')) {
        size_t k = i + 1;
        if (at(k, '+') || at(k, '-')) ++k;
        if (digitAt(k)) {
            i = k;
            skipWhile(isDigit);
        }
    }
}

// An operator of two characters where one is written, else of one.
std::string Lexer::op()
{
    static const char *two[] = {"<=", ">=", "<>", "!=", "!<", "!>", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "::", nullptr};
    std::string o(1, sql[i]);
    for (int k = 0; two[k]; ++k)
        if (sql.compare(i, 2, two[k]) == 0) { o = two[k]; break; }
    i += o.size();
    return o;
}

} // namespace

bool tokenize(const std::string &sql, std::vector<Token> &out, size_t *errorPos)
{
    out.clear();
    Lexer lex{sql};
    for (;;) {
        size_t open = 0;
        if (!lex.skipBlanks(open)) { if (errorPos) *errorPos = open; return false; }
        if (lex.i >= sql.size()) break;
        Token t;
        if (!lex.readToken(t)) { if (errorPos) *errorPos = t.pos; return false; }
        out.push_back(std::move(t));
    }
    Token end;
    end.kind = Token::End;
    end.line = lex.line;
    end.pos = sql.size();
    out.push_back(end);
    return true;
}

} // namespace ts
