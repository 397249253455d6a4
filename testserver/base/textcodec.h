// Text conversions: UTF-8, the UTF-16LE that TDS carries, and the code page
// of the server collation that varchar values are held in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ts {

// UTF-8 <-> UTF-16LE. Invalid input becomes U+FFFD; nothing throws.
std::string utf8ToUtf16le(std::string_view utf8);
std::string utf16leToUtf8(std::string_view bytes);
// Number of UTF-16 code units `utf8` needs.
size_t utf16Length(std::string_view utf8);

// The code page behind the server collation (GBK for Chinese_PRC_CI_AS,
// cp1252 for the Latin ones): what VARCHAR/CHAR values travel in. Characters
// the code page cannot hold become "?".
std::string utf8ToCodePage(std::string_view utf8);
std::string codePageToUtf8(std::string_view bytes);

} // namespace ts
