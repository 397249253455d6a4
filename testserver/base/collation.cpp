#include "base/collation.h"

#include "base/textcodec.h"

#include <atomic>
#include <cctype>

namespace ts {

namespace {

// Comparison styles: ignore case (0x1), accents (0x2), kana (0x10000) and
// width (0x20000); CI_AS ignores all but accents, CS_AS kana and width only.
const Collation kKnown[] = {
    {"Chinese_PRC_CI_AS", "GBK", 936, 0x0804, 0, 196609},
    {"SQL_Latin1_General_CP1_CI_AS", "CP1252", 1252, 0x0409, 52, 196609},
    {"Latin1_General_CI_AS", "CP1252", 1252, 0x0409, 0, 196609},
    {"Latin1_General_CS_AS", "CP1252", 1252, 0x0409, 0, 196608},
};

std::atomic<const Collation *> g_server{&kKnown[0]};

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k])))
            return false;
    return true;
}

} // namespace

const Collation *findCollation(std::string_view name)
{
    for (const Collation &c : kKnown)
        if (sameName(c.name, name)) return &c;
    return nullptr;
}

std::string knownCollations()
{
    std::string out;
    for (const Collation &c : kKnown) {
        if (!out.empty()) out += ", ";
        out += c.name;
    }
    return out;
}

const Collation &serverCollation() { return *g_server.load(); }

void setServerCollation(const Collation &c)
{
    const Collation *known = findCollation(c.name);
    g_server.store(known ? known : &kKnown[0]);
}

std::string collationBytes(const Collation &c)
{
    std::string b(5, '\0');
    // The TDS flags in the same order: case 0x01, accent 0x02, kana 0x04, width 0x08.
    const uint32_t flags = (c.comparisonStyle & 0x3) | ((c.comparisonStyle >> 14) & 0xC);
    const uint32_t info = (c.lcid & 0xFFFFF) | (flags << 20);
    for (int k = 0; k < 4; ++k) b[size_t(k)] = char(uint8_t(info >> (8 * k)));
    b[4] = char(c.sortId);
    return b;
}

std::string throughCodePage(std::string_view utf8)
{
    bool ascii = true;
    for (char ch : utf8)
        if (static_cast<unsigned char>(ch) >= 0x80) { ascii = false; break; }
    if (ascii) return std::string(utf8);
    return codePageToUtf8(utf8ToCodePage(utf8));
}

} // namespace ts
