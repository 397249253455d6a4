#include "sqllexer.h"

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
        "TRAN", "TRANSACTION", "TRIGGER", "TRUNCATE", "UNION", "UNIQUE", "UPDATE", "USE", "USER",
        "VALUES", "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH"};
    return words.count(upper(word)) != 0;
}

bool tokenize(const std::string &sql, std::vector<Token> &out, size_t *errorPos)
{
    out.clear();
    size_t i = 0, n = sql.size();
    int line = 1;
    auto isIdStart = [](unsigned char c) { return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80; };
    auto isIdChar = [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '#' || c == '$' || c == '@' || c >= 0x80; };
    auto countLines = [&](size_t from, size_t to) {
        for (size_t k = from; k < to && k < n; ++k) if (sql[k] == '\n') ++line;
    };
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(sql[i]);
        if (c == '\n') { ++line; ++i; continue; }
        if (std::isspace(c)) { ++i; continue; }
        if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            // T-SQL block comments nest.
            size_t start = i;
            int depth = 0;
            while (i < n) {
                if (sql[i] == '/' && i + 1 < n && sql[i + 1] == '*') { ++depth; i += 2; continue; }
                if (sql[i] == '*' && i + 1 < n && sql[i + 1] == '/') { i += 2; if (--depth == 0) break; continue; }
                if (sql[i] == '\n') ++line;
                ++i;
            }
            if (depth != 0) { if (errorPos) *errorPos = start; return false; }
            continue;
        }
        Token t;
        t.line = line;
        t.pos = i;
        size_t start = i;
        if ((c == 'N' || c == 'n') && i + 1 < n && sql[i + 1] == '\'') {
            ++i;
            c = '\'';
            t.kind = Token::NString;
        }
        if (c == '\'') {
            if (t.kind != Token::NString) t.kind = Token::String;
            ++i;
            std::string v;
            bool closed = false;
            while (i < n) {
                if (sql[i] == '\'') {
                    if (i + 1 < n && sql[i + 1] == '\'') { v += '\''; i += 2; continue; }
                    ++i; closed = true; break;
                }
                v += sql[i++];
            }
            if (!closed) { if (errorPos) *errorPos = start; return false; }
            t.value = v;
        } else if (c == '[' || c == '"') {
            char close = c == '[' ? ']' : '"';
            ++i;
            std::string v;
            bool closed = false;
            while (i < n) {
                if (sql[i] == close) {
                    if (i + 1 < n && sql[i + 1] == close) { v += close; i += 2; continue; }
                    ++i; closed = true; break;
                }
                v += sql[i++];
            }
            if (!closed) { if (errorPos) *errorPos = start; return false; }
            t.kind = Token::QuotedIdent;
            t.value = v;
        } else if (c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
            i += 2;
            while (i < n && std::isxdigit(static_cast<unsigned char>(sql[i]))) ++i;
            t.kind = Token::Binary;
            t.value = sql.substr(start + 2, i - start - 2);
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
            while (i < n && std::isdigit(static_cast<unsigned char>(sql[i]))) ++i;
            if (i < n && sql[i] == '.') { ++i; while (i < n && std::isdigit(static_cast<unsigned char>(sql[i]))) ++i; }
            if (i < n && (sql[i] == 'e' || sql[i] == 'E')) {
                size_t k = i + 1;
                if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
                if (k < n && std::isdigit(static_cast<unsigned char>(sql[k]))) {
                    i = k;
                    while (i < n && std::isdigit(static_cast<unsigned char>(sql[i]))) ++i;
                }
            }
            t.kind = Token::Number;
            t.value = sql.substr(start, i - start);
        } else if (c == '@') {
            bool sys = i + 1 < n && sql[i + 1] == '@';
            i += sys ? 2 : 1;
            while (i < n && isIdChar(static_cast<unsigned char>(sql[i]))) ++i;
            t.kind = sys ? Token::SysVar : Token::Variable;
            t.value = lower(sql.substr(start, i - start));
        } else if (isIdStart(c)) {
            while (i < n && isIdChar(static_cast<unsigned char>(sql[i]))) ++i;
            t.kind = Token::Ident;
            t.value = sql.substr(start, i - start);
        } else {
            static const char *two[] = {"<=", ">=", "<>", "!=", "!<", "!>", "+=", "-=", "*=", "/=", "::", nullptr};
            t.kind = Token::Op;
            std::string op(1, char(c));
            for (int k = 0; two[k]; ++k)
                if (sql.compare(i, 2, two[k]) == 0) { op = two[k]; break; }
            i += op.size();
            t.value = op;
        }
        t.text = sql.substr(start, i - start);
        countLines(start, i);
        out.push_back(std::move(t));
    }
    Token end;
    end.kind = Token::End;
    end.line = line;
    end.pos = n;
    out.push_back(end);
    return true;
}

} // namespace ts
