// The server collation: its name, the code page that varchar text is held in
// and the five bytes that ENVCHANGE and COLMETADATA carry. One collation per
// server, chosen at start-up (--collation) before any session opens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ts {

struct Collation {
    const char *name;        // "Chinese_PRC_CI_AS"
    const char *charset;     // iconv name of the code page: "GBK"
    int codePage;            // 936
    uint32_t lcid;           // 0x0804
    uint8_t sortId;          // SQL collations have one; Windows collations 0
    uint32_t comparisonStyle; // as RESTORE HEADERONLY reports it
};

// The collations this server knows; nullptr for any other name (case ignored).
const Collation *findCollation(std::string_view name);
// Names of the known collations, comma-separated (usage text).
std::string knownCollations();

const Collation &serverCollation();
void setServerCollation(const Collation &c);

// TDS collation: LCID and the comparison flags of its style, version 0, then
// the sort id.
std::string collationBytes(const Collation &c);

// UTF-8 text as a varchar of the server's code page holds it: characters the
// code page has no place for come back as "?".
std::string throughCodePage(std::string_view utf8);

} // namespace ts
