// Numeric dates in a session's DATEFORMAT order and dates with month names.
#include "engine/datetext.h"

#include <cctype>

namespace ts {

namespace {

thread_local const std::string *t_order = nullptr;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits at s[p...], at most `maxDigits`; their count in `digits`.
bool readNumber(const std::string &s, size_t &p, size_t maxDigits, int &out, size_t &digits)
{
    const size_t start = p;
    out = 0;
    while (p < s.size() && p - start < maxDigits && isDigit(s[p])) out = out * 10 + (s[p++] - '0');
    digits = p - start;
    return digits > 0 && (p >= s.size() || !isDigit(s[p]));
}

int fullYear(int y, size_t digits) { return digits <= 2 ? (y < 50 ? 2000 + y : 1900 + y) : y; }

// The month 1..12 named at s[p...] (full English name or its first three letters).
int readMonthName(const std::string &s, size_t &p)
{
    static const char *const names[] = {"january", "february", "march",     "april",   "may",      "june",
                                        "july",    "august",   "september", "october", "november", "december"};
    size_t end = p;
    while (end < s.size() && std::isalpha(static_cast<unsigned char>(s[end]))) ++end;
    std::string word;
    for (size_t k = p; k < end; ++k) word += char(std::tolower(static_cast<unsigned char>(s[k])));
    if (word.size() < 3) return 0;
    for (int k = 0; k < 12; ++k) {
        const std::string name = names[k];
        if (word == name || word == name.substr(0, 3)) {
            p = end;
            return k + 1;
        }
    }
    return 0;
}

void skipSpaces(const std::string &s, size_t &p, bool comma)
{
    while (p < s.size() && (s[p] == ' ' || (comma && s[p] == ','))) ++p;
}

// "Dec 25 2026", "December 25, 2026", "25 Dec 2026", "25 December, 2026".
bool readAlphaDate(const std::string &s, size_t &p, int &y, int &m, int &d)
{
    size_t q = p, digits = 0;
    int first = 0;
    if ((m = readMonthName(s, q)) != 0) {
        skipSpaces(s, q, false);
        if (!readNumber(s, q, 2, d, digits)) return false;
    } else {
        if (!readNumber(s, q, 2, d, digits)) return false;
        skipSpaces(s, q, false);
        if ((m = readMonthName(s, q)) == 0) return false;
    }
    skipSpaces(s, q, true);
    if (!readNumber(s, q, 4, first, digits) || digits == 3) return false;
    y = fullYear(first, digits);
    p = q;
    return true;
}

} // namespace

const std::string &currentDateOrder()
{
    static const std::string mdy = "mdy";
    return t_order ? *t_order : mdy;
}

DateOrderScope::DateOrderScope(const std::string *order) : m_saved(t_order) { t_order = order; }
DateOrderScope::~DateOrderScope() { t_order = m_saved; }

bool readLooseDate(const std::string &s, size_t &p, const std::string &order, int &y, int &m, int &d)
{
    if (readAlphaDate(s, p, y, m, d)) return true;
    size_t q = p, digits[3] = {0, 0, 0};
    int n[3] = {0, 0, 0};
    size_t run = p;
    while (run < s.size() && isDigit(s[run])) ++run;
    if (run - p == 6) {
        // Six digits alone: yymmdd.
        const int v = std::stoi(s.substr(p, 6));
        y = fullYear(v / 10000, 2);
        m = v / 100 % 100;
        d = v % 100;
        p = run;
        return true;
    }
    if (!readNumber(s, q, 4, n[0], digits[0])) return false;
    if (q >= s.size() || (s[q] != '/' && s[q] != '-' && s[q] != '.')) return false;
    const char sep = s[q++];
    if (!readNumber(s, q, 4, n[1], digits[1]) || q >= s.size() || s[q] != sep) return false;
    ++q;
    if (!readNumber(s, q, 4, n[2], digits[2])) return false;
    std::string o = order;
    if (digits[0] == 4) o = order.find('m') < order.find('d') ? "ymd" : "ydm";
    const size_t yi = o.find('y'), mi = o.find('m'), di = o.find('d');
    if (digits[mi] > 2 || digits[di] > 2 || digits[yi] == 3) return false;
    y = fullYear(n[yi], digits[yi]);
    m = n[mi];
    d = n[di];
    p = q;
    return true;
}

std::string styleDateOrder(int style)
{
    switch (style % 100) {
    case 1: case 10: case 22: return "mdy";
    case 3: case 4: case 5: return "dmy";
    case 2: case 11: case 20: case 21: case 23: case 26: case 27: return "ymd";
    default: return "";
    }
}

} // namespace ts
