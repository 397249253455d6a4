#include "base/hierarchyid.h"

#include <cctype>
#include <limits>

namespace ts::hid {

namespace {

// The label ranges: lowest value, highest value, bit pattern. In a
// pattern '0' and '1' are fixed bits, 'x' carries the offset from the
// lowest value (high bit first), 'T' is the slash-or-dot bit.
struct Range {
    int64_t lo, hi;
    const char *pattern;
};

const Range kRanges[] = {
    {-4294971464LL, -4169, "000101xxxxxxxxxxxxxxxxxxx0xxxxxx0xxx0x1xxxT"},
    {-4168, -73, "000110xxxxx0xxx0x1xxxT"},
    {-72, -9, "0010xx0x1xxxT"},
    {-8, -1, "00111xxxT"},
    {0, 3, "01xxT"},
    {4, 7, "100xxT"},
    {8, 15, "101xxxT"},
    {16, 79, "110xx0x1xxxT"},
    {80, 1103, "1110xxx0xxx0x1xxxT"},
    {1104, 5199, "11110xxxxx0xxx0x1xxxT"},
    {5200, 4294972495LL, "111110xxxxxxxxxxxxxxxxxxx0xxxxxx0xxx0x1xxxT"},
};

const Range *rangeOf(int64_t v)
{
    for (const Range &r : kRanges)
        if (v >= r.lo && v <= r.hi) return &r;
    return nullptr;
}

int countX(const char *p)
{
    int n = 0;
    for (; *p; ++p) n += *p == 'x';
    return n;
}

void putBits(std::vector<bool> &bits, const Range &r, int64_t v, bool slash)
{
    const int width = countX(r.pattern);
    const uint64_t off = uint64_t(v - r.lo);
    int k = width - 1;
    for (const char *p = r.pattern; *p; ++p) {
        if (*p == 'x') bits.push_back(((off >> k--) & 1U) != 0);
        else if (*p == 'T') bits.push_back(slash);
        else bits.push_back(*p == '1');
    }
}

bool matchesPrefix(const std::vector<bool> &bits, size_t at, const Range &r)
{
    size_t n = 0;
    for (const char *p = r.pattern; *p && *p != 'x'; ++p, ++n)
        if (at + n >= bits.size() || bits[at + n] != (*p == '1')) return false;
    return true;
}

// Reads one integer at `at`; false when the bits fit no range.
bool takeBits(const std::vector<bool> &bits, size_t &at, int64_t &v, bool &slash)
{
    for (const Range &r : kRanges) {
        if (!matchesPrefix(bits, at, r)) continue;
        uint64_t off = 0;
        size_t k = at;
        for (const char *p = r.pattern; *p; ++p, ++k) {
            if (k >= bits.size()) return false;
            if (*p == 'x') off = (off << 1) | (bits[k] ? 1U : 0U);
            else if (*p == 'T') slash = bits[k];
            else if (bits[k] != (*p == '1')) return false;
        }
        at = k;
        v = r.lo + int64_t(off);
        return true;
    }
    return false;
}

bool restIsZero(const std::vector<bool> &bits, size_t at)
{
    for (; at < bits.size(); ++at)
        if (bits[at]) return false;
    return true;
}

// An integer without leading zeros ("-0" and "01" are refused).
bool readInt(const std::string &s, size_t &i, int64_t &v)
{
    const bool neg = i < s.size() && s[i] == '-';
    size_t k = neg ? i + 1 : i;
    const size_t digits = k;
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
    if (k == digits || k - digits > 15) return false;
    if (s[digits] == '0' && (k - digits > 1 || neg)) return false;
    v = std::stoll(s.substr(digits, k - digits));
    if (neg) v = -v;
    i = k;
    return rangeOf(v) != nullptr;
}

// -1, 0, 1 as a compares to b as sibling labels.
int compareLevel(const Level &a, const Level &b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool isChildOf(const Path &c, const Path &parent)
{
    return c.size() == parent.size() + 1 && isDescendantOf(c, parent);
}

// A label strictly between lo and hi (lo < hi): past their common start,
// one more than lo where the integers leave room; else lo's last integer
// raised by one, or lo extended by ".1" when lo stops there.
Level between(const Level &lo, const Level &hi)
{
    size_t i = 0;
    while (i < lo.size() && lo[i] == hi[i]) ++i;
    Level out(lo.begin(), lo.begin() + std::ptrdiff_t(i));
    if (i == lo.size()) {
        out.push_back(hi[i] - 1);
        return out;
    }
    if (hi[i] - lo[i] > 1) {
        out.push_back(lo[i] + 1);
        return out;
    }
    out = lo;
    if (i + 1 == lo.size()) out.push_back(1);
    else ++out.back();
    return out;
}

} // namespace

bool parseText(const std::string &text, Path &out)
{
    out.clear();
    if (text.empty() || text[0] != '/') return false;
    size_t i = 1;
    while (i < text.size()) {
        Level level;
        for (;;) {
            int64_t v = 0;
            if (!readInt(text, i, v)) return false;
            level.push_back(v);
            if (i < text.size() && text[i] == '.') { ++i; continue; }
            break;
        }
        if (i >= text.size() || text[i] != '/') return false;
        ++i;
        out.push_back(level);
    }
    return true;
}

std::string toText(const Path &p)
{
    std::string s = "/";
    for (const Level &l : p) {
        for (size_t k = 0; k < l.size(); ++k) {
            if (k) s += '.';
            s += std::to_string(l[k]);
        }
        s += '/';
    }
    return s;
}

bool encode(const Path &p, std::string &bytes)
{
    std::vector<bool> bits;
    for (const Level &l : p) {
        for (size_t k = 0; k < l.size(); ++k) {
            const bool slash = k + 1 == l.size();
            // An integer followed by a dot is stored one higher.
            const int64_t v = slash ? l[k] : l[k] + 1;
            const Range *r = rangeOf(v);
            if (!r) return false;
            putBits(bits, *r, v, slash);
        }
    }
    bytes.assign((bits.size() + 7) / 8, '\0');
    for (size_t k = 0; k < bits.size(); ++k)
        if (bits[k]) bytes[k / 8] = char(static_cast<unsigned char>(bytes[k / 8]) | (0x80U >> (k % 8)));
    return bytes.size() <= 892;
}

bool decode(const std::string &bytes, Path &out)
{
    out.clear();
    std::vector<bool> bits;
    for (unsigned char c : bytes)
        for (int k = 7; k >= 0; --k) bits.push_back(((c >> k) & 1U) != 0);
    size_t at = 0;
    Level level;
    while (!restIsZero(bits, at)) {
        int64_t v = 0;
        bool slash = false;
        if (!takeBits(bits, at, v, slash)) return false;
        level.push_back(slash ? v : v - 1);
        if (slash) {
            out.push_back(level);
            level.clear();
        }
    }
    return level.empty();
}

bool textToBytes(const std::string &text, std::string &bytes)
{
    Path p;
    return parseText(text, p) && encode(p, bytes);
}

bool bytesToText(const std::string &bytes, std::string &text)
{
    Path p;
    if (!decode(bytes, p)) return false;
    text = toText(p);
    return true;
}

bool ancestor(const Path &p, int64_t n, Path &out)
{
    if (n < 0 || uint64_t(n) > p.size()) return false;
    out.assign(p.begin(), p.end() - std::ptrdiff_t(n));
    return true;
}

bool isDescendantOf(const Path &child, const Path &parent)
{
    if (parent.size() > child.size()) return false;
    for (size_t i = 0; i < parent.size(); ++i)
        if (compareLevel(child[i], parent[i]) != 0) return false;
    return true;
}

bool reparent(const Path &p, const Path &oldRoot, const Path &newRoot, Path &out)
{
    if (!isDescendantOf(p, oldRoot)) return false;
    out = newRoot;
    out.insert(out.end(), p.begin() + std::ptrdiff_t(oldRoot.size()), p.end());
    return true;
}

std::string descendant(const Path &parent, const Path *lo, const Path *hi, Path &out)
{
    if ((lo && !isChildOf(*lo, parent)) || (hi && !isChildOf(*hi, parent)))
        return "24009: SqlHierarchyId.GetDescendant failed because 'child1' and 'child2' are not both children of 'this'.";
    out = parent;
    if (!lo && !hi) {
        out.push_back(Level{1});
    } else if (lo && !hi) {
        out.push_back(Level{lo->back()[0] + 1});
    } else if (!lo) {
        out.push_back(Level{hi->back()[0] - 1});
    } else {
        if (compareLevel(lo->back(), hi->back()) >= 0)
            return "24010: SqlHierarchyId.GetDescendant failed because 'child1' must be less than 'child2' in the "
                   "hierarchy.";
        out.push_back(between(lo->back(), hi->back()));
    }
    return std::string();
}

} // namespace ts::hid
