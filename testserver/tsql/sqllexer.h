// Tokenizer for T-SQL batches.
#pragma once

#include <string>
#include <vector>

namespace ts {

struct Token {
    enum Kind { Ident, QuotedIdent, String, NString, Number, Binary, Variable, SysVar, Op, End } kind = End;
    std::string text;   // as written
    std::string value;  // identifier without brackets/quotes, string contents, upper-case operator
    int line = 1;
    size_t pos = 0;     // byte offset in the batch

    bool isWord(const char *upper) const; // identifier (not quoted) equal ignoring case
    bool isOp(const char *op) const { return kind == Op && value == op; }
    bool isName() const { return kind == Ident || kind == QuotedIdent; }
};

// Splits `sql` into tokens (comments dropped); the last token is End.
// Returns false and sets errorPos when a quote or comment is not closed.
bool tokenize(const std::string &sql, std::vector<Token> &out, size_t *errorPos = nullptr);

// True for words SQL Server reserves (they produce error 156 instead of 102).
bool isReservedWord(const std::string &word);

std::string upper(std::string s);
std::string lower(std::string s);
bool iequals(const std::string &a, const std::string &b);

} // namespace ts
