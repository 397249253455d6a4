// Little-endian byte building and bounds-checked reading for TDS payloads.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ts::tds {

// Thrown on any read past the end or an impossible value in client data;
// the connection that sent it is closed (or the request answered with an error).
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Writer {
public:
    explicit Writer(std::string &out) : m_out(out) {}
    void u8(uint8_t v) { m_out.push_back(char(v)); }
    void u16(uint16_t v) { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
    void u16be(uint16_t v) { u8(uint8_t(v >> 8)); u8(uint8_t(v)); }
    void u32(uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
    void u64(uint64_t v) { u32(uint32_t(v)); u32(uint32_t(v >> 32)); }
    void bytes(std::string_view b) { m_out.append(b.data(), b.size()); }
    void zeros(size_t n) { m_out.append(n, '\0'); }
    // Length-prefixed UCS-2 strings: B_VARCHAR (byte count of characters) and
    // US_VARCHAR (USHORT count of characters). Too-long text is cut.
    void bVarchar(std::string_view utf8);
    void usVarchar(std::string_view utf8);
    size_t size() const { return m_out.size(); }
    std::string &out() { return m_out; }

private:
    std::string &m_out;
};

class Reader {
public:
    Reader(const char *data, size_t size) : m_p(reinterpret_cast<const uint8_t *>(data)), m_size(size) {}
    explicit Reader(std::string_view s) : Reader(s.data(), s.size()) {}

    size_t pos() const { return m_pos; }
    size_t size() const { return m_size; }
    size_t remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    void need(size_t n) const
    {
        if (n > remaining())
            throw ProtocolError("truncated data");
    }
    void seek(size_t pos)
    {
        if (pos > m_size)
            throw ProtocolError("offset out of range");
        m_pos = pos;
    }
    void skip(size_t n) { need(n); m_pos += n; }
    uint8_t peek() const { need(1); return m_p[m_pos]; }
    uint8_t u8() { need(1); return m_p[m_pos++]; }
    uint16_t u16() { need(2); uint16_t v = uint16_t(m_p[m_pos] | (m_p[m_pos + 1] << 8)); m_pos += 2; return v; }
    uint16_t u16be() { need(2); uint16_t v = uint16_t((m_p[m_pos] << 8) | m_p[m_pos + 1]); m_pos += 2; return v; }
    uint32_t u32() { uint32_t lo = u16(); uint32_t hi = u16(); return lo | (hi << 16); }
    uint64_t u64() { uint64_t lo = u32(); uint64_t hi = u32(); return lo | (hi << 32); }
    std::string bytes(size_t n)
    {
        need(n);
        std::string s(reinterpret_cast<const char *>(m_p + m_pos), n);
        m_pos += n;
        return s;
    }
    // UCS-2LE text of `chars` characters, returned as UTF-8.
    std::string ucs2(size_t chars);
    std::string bVarchar() { return ucs2(u8()); }
    std::string usVarchar() { return ucs2(u16()); }

private:
    const uint8_t *m_p;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace ts::tds
