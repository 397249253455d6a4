#include "wire/tdsbuffer.h"

#include "base/textcodec.h"

namespace ts::tds {

void Writer::bVarchar(std::string_view utf8)
{
    std::string u = utf8ToUtf16le(utf8);
    if (u.size() > 255 * 2)
        u.resize(255 * 2);
    u8(uint8_t(u.size() / 2));
    bytes(u);
}

void Writer::usVarchar(std::string_view utf8)
{
    std::string u = utf8ToUtf16le(utf8);
    if (u.size() > 65535 * 2)
        u.resize(65535 * 2);
    u16(uint16_t(u.size() / 2));
    bytes(u);
}

std::string Reader::ucs2(size_t chars)
{
    need(chars * 2);
    std::string_view v(reinterpret_cast<const char *>(m_p + m_pos), chars * 2);
    m_pos += chars * 2;
    return utf16leToUtf8(v);
}

} // namespace ts::tds
