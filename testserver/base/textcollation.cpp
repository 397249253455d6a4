#include "base/textcollation.h"

#include "base/collation.h"
#include "base/textcodec.h"

#include <unicode/ucol.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace ts {

namespace {

struct Family {
    const char *prefix;
    const char *locale; // ICU's: "zh" orders Chinese by pinyin
    bool hasBinary;     // SQL_ collations have no _BIN variants of code page 1252
};

const Family kFamilies[] = {
    {"Chinese_PRC", "zh", true},
    {"Latin1_General", "en", true},
    {"SQL_Latin1_General_CP1", "en", false},
};

// Kana and width differences are tertiary in ICU, so every style below
// ignores them, as SQL Server's names without _KS/_WS do.
struct Style {
    const char *suffix;
    UColAttributeValue strength;
    bool caseLevel; // case counts although the strength would ignore it
    bool binary;    // code point order
};

const Style kStyles[] = {
    {"CI_AS", UCOL_SECONDARY, false, false},
    {"CS_AS", UCOL_SECONDARY, true, false},
    {"CI_AI", UCOL_PRIMARY, false, false},
    {"CS_AI", UCOL_PRIMARY, true, false},
    {"BIN", UCOL_DEFAULT, false, true},
    {"BIN2", UCOL_DEFAULT, false, true},
};

constexpr size_t kMaxEntries = std::size(kFamilies) * std::size(kStyles);

struct Entry {
    std::string name;
    const Family *family;
    const Style *style;
    size_t index;
};

const std::vector<Entry> &entries()
{
    static const std::vector<Entry> all = [] {
        std::vector<Entry> v;
        for (const Family &f : kFamilies)
            for (const Style &s : kStyles) {
                if (s.binary && !f.hasBinary) continue;
                v.push_back({std::string(f.prefix) + "_" + s.suffix, &f, &s, v.size()});
            }
        return v;
    }();
    return all;
}

// Names compare ignoring the case of ASCII letters.
bool sameName(std::string_view a, std::string_view b)
{
    auto low = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return low(x) == low(y); });
}

const Entry *findEntry(std::string_view name)
{
    for (const Entry &e : entries())
        if (sameName(e.name, name)) return &e;
    return nullptr;
}

// Collators are opened on first use, one per collation and thread, and live
// as long as the thread.
struct ThreadCollators {
    std::array<UCollator *, kMaxEntries> open{};
    ~ThreadCollators()
    {
        for (UCollator *c : open)
            if (c) ucol_close(c);
    }
};

UCollator *collatorFor(const Entry &e)
{
    thread_local ThreadCollators t;
    UCollator *&c = t.open[e.index];
    if (!c) {
        UErrorCode st = U_ZERO_ERROR;
        c = ucol_open(e.family->locale, &st);
        if (U_FAILURE(st)) {
            if (c) ucol_close(c);
            c = nullptr;
            return nullptr;
        }
        // ICU's Chinese puts Han before Latin; Windows sorts Latin letters first.
        const int32_t rootOrder = UCOL_REORDER_CODE_NONE;
        ucol_setReorderCodes(c, &rootOrder, 1, &st);
        ucol_setStrength(c, e.style->strength);
        ucol_setAttribute(c, UCOL_CASE_LEVEL, e.style->caseLevel ? UCOL_ON : UCOL_OFF, &st);
    }
    return c;
}

size_t withoutTrailingSpaces(const char *s, size_t n)
{
    while (n > 0 && s[n - 1] == ' ') --n;
    return n;
}

int compareBytes(const char *a, size_t la, const char *b, size_t lb)
{
    int r = std::memcmp(a, b, std::min(la, lb));
    if (r != 0) return r < 0 ? -1 : 1;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

int compareEntry(const Entry &e, const char *a, size_t la, const char *b, size_t lb)
{
    la = withoutTrailingSpaces(a, la);
    lb = withoutTrailingSpaces(b, lb);
    if (la == lb && std::memcmp(a, b, la) == 0) return 0;
    // UTF-8 in byte order is code point order.
    if (e.style->binary) return compareBytes(a, la, b, lb);
    UCollator *c = collatorFor(e);
    if (!c) return compareBytes(a, la, b, lb);
    UErrorCode st = U_ZERO_ERROR;
    UCollationResult r = ucol_strcollUTF8(c, a, int32_t(la), b, int32_t(lb), &st);
    if (U_FAILURE(st)) return compareBytes(a, la, b, lb);
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

std::u32string codePoints(std::string_view s)
{
    std::u32string out;
    out.reserve(s.size());
    int32_t i = 0;
    const auto n = int32_t(s.size());
    const auto *p = reinterpret_cast<const uint8_t *>(s.data());
    while (i < n) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        out.push_back(c < 0 ? 0xFFFD : char32_t(c));
    }
    return out;
}

// One character against another under the collation: equal, or the order.
class CharOrder {
public:
    explicit CharOrder(const Entry &e) : m_entry(e), m_collator(e.style->binary ? nullptr : collatorFor(e)) {}

    int compare(char32_t a, char32_t b) const
    {
        if (a == b) return 0;
        if (!m_collator) return a < b ? -1 : 1;
        UChar ua[2], ub[2];
        int32_t na = 0, nb = 0;
        U16_APPEND_UNSAFE(ua, na, a);
        U16_APPEND_UNSAFE(ub, nb, b);
        UCollationResult r = ucol_strcoll(m_collator, ua, na, ub, nb);
        return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
    }

    bool equal(char32_t a, char32_t b) const
    {
        if (a == b) return true;
        if (!m_collator) return false;
        // Letters of ASCII differ only in case; the rest of ASCII is distinct.
        if (a < 0x80 && b < 0x80) {
            if (m_entry.style->caseLevel) return false;
            auto lower = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
            return lower(a) == lower(b);
        }
        return compare(a, b) == 0;
    }

private:
    const Entry &m_entry;
    UCollator *m_collator;
};

struct PatternItem {
    enum Kind { AnyString, AnyChar, Literal, Set } kind = Literal;
    char32_t c = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges; // Set: single characters are ranges of one
};

// Splits a LIKE pattern into items; false when a [set] is not closed, which
// matches nothing.
bool parsePattern(const std::u32string &p, std::optional<char32_t> escape, std::vector<PatternItem> &out)
{
    for (size_t k = 0; k < p.size(); ++k) {
        PatternItem it;
        char32_t c = p[k];
        if (escape && c == *escape) {
            if (k + 1 >= p.size()) return false;
            it.c = p[++k];
        } else if (c == '%') {
            if (!out.empty() && out.back().kind == PatternItem::AnyString) continue;
            it.kind = PatternItem::AnyString;
        } else if (c == '_') {
            it.kind = PatternItem::AnyChar;
        } else if (c == '[') {
            it.kind = PatternItem::Set;
            size_t j = k + 1;
            if (j < p.size() && p[j] == '^') { it.negated = true; ++j; }
            bool closed = false;
            for (; j < p.size(); ++j) {
                char32_t lo = p[j];
                if (lo == ']') { closed = true; break; }
                if (escape && lo == *escape && j + 1 < p.size()) lo = p[++j];
                if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
                    it.ranges.push_back({lo, p[j + 2]});
                    j += 2;
                } else {
                    it.ranges.push_back({lo, lo});
                }
            }
            if (!closed) return false;
            k = j;
        } else {
            it.c = c;
        }
        out.push_back(std::move(it));
    }
    return true;
}

bool itemMatches(const PatternItem &it, char32_t c, const CharOrder &order)
{
    switch (it.kind) {
    case PatternItem::AnyChar: return true;
    case PatternItem::Literal: return order.equal(it.c, c);
    case PatternItem::Set: {
        bool in = false;
        for (const auto &[lo, hi] : it.ranges) {
            in = lo == hi ? order.equal(lo, c) : order.compare(lo, c) <= 0 && order.compare(c, hi) <= 0;
            if (in) break;
        }
        return in != it.negated;
    }
    case PatternItem::AnyString: break;
    }
    return false;
}

// Every item but % takes exactly one character, so backtracking to the last
// % is enough.
bool matchItems(const std::vector<PatternItem> &items, const std::u32string &v, const CharOrder &order)
{
    size_t p = 0, s = 0, starItem = std::u32string::npos, starAt = 0;
    while (s < v.size()) {
        if (p < items.size() && items[p].kind == PatternItem::AnyString) {
            starItem = p++;
            starAt = s;
        } else if (p < items.size() && itemMatches(items[p], v[s], order)) {
            ++p;
            ++s;
        } else if (starItem != std::u32string::npos) {
            p = starItem + 1;
            s = ++starAt;
        } else {
            return false;
        }
    }
    while (p < items.size() && items[p].kind == PatternItem::AnyString) ++p;
    return p == items.size();
}

const Entry &serverEntry()
{
    const Entry *e = findEntry(serverCollation().name);
    return e ? *e : entries().front();
}

} // namespace

std::string textCollationName(std::string_view name)
{
    const Entry *e = findEntry(name);
    return e ? e->name : std::string();
}

int compareText(std::string_view collation, std::string_view a, std::string_view b)
{
    const Entry *e = findEntry(collation);
    return compareEntry(e ? *e : serverEntry(), a.data(), a.size(), b.data(), b.size());
}

std::optional<bool> likeMatch(std::string_view collation, std::string_view value, std::string_view pattern,
                              std::optional<std::string_view> escape)
{
    const Entry *e = findEntry(collation);
    const CharOrder order(e ? *e : serverEntry());
    std::optional<char32_t> esc;
    if (escape) {
        std::u32string ec = codePoints(*escape);
        if (ec.size() != 1) return std::nullopt;
        esc = ec[0];
    }
    std::vector<PatternItem> items;
    if (!parsePattern(codePoints(pattern), esc, items)) return false;
    const std::u32string v = codePoints(value);
    if (matchItems(items, v, order)) return true;
    // The value's trailing spaces need not be matched: 'abc  ' LIKE 'abc'.
    size_t n = v.size();
    while (n > 0 && v[n - 1] == ' ') --n;
    return n < v.size() && matchItems(items, v.substr(0, n), order);
}

std::vector<TextCollationHandle> textCollations()
{
    std::vector<TextCollationHandle> out;
    for (const Entry &e : entries())
        out.push_back({e.name, &e});
    return out;
}

int compareTextBy(const void *handle, std::string_view a, std::string_view b)
{
    return compareEntry(*static_cast<const Entry *>(handle), a.data(), a.size(), b.data(), b.size());
}

std::string padText(std::string_view value, size_t n, bool unicode)
{
    size_t units = 0;
    if (unicode) {
        for (char32_t c : codePoints(value)) units += c > 0xFFFF ? 2 : 1;
    } else {
        units = utf8ToCodePage(value).size();
    }
    std::string out(value);
    if (units < n) out.append(n - units, ' ');
    return out;
}

} // namespace ts
