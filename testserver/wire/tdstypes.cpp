#include "wire/tdstypes.h"
#include "base/textcodec.h"
#include "base/civildays.h"
#include "base/collation.h"
#include "base/variantvalue.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ts::tds {

namespace {

const char *const kHierarchyIdAssembly = "Microsoft.SqlServer.Types.SqlHierarchyId, Microsoft.SqlServer.Types, "
                                         "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";
const char *const kGeographyAssembly = "Microsoft.SqlServer.Types.SqlGeography, Microsoft.SqlServer.Types, "
                                       "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";
const char *const kGeometryAssembly = "Microsoft.SqlServer.Types.SqlGeometry, Microsoft.SqlServer.Types, "
                                      "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";

} // namespace

namespace {

using u128 = unsigned __int128;

const int64_t kEpoch1900 = daysFromCivil(1900, 1, 1);
const int64_t kEpoch0001 = daysFromCivil(1, 1, 1);

bool digits(std::string_view s, size_t pos, size_t n, int &out)
{
    if (pos + n > s.size())
        return false;
    int v = 0;
    for (size_t k = 0; k < n; ++k) {
        const char c = s[pos + k];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool validDate(int y, int m, int d)
{
    static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= mdays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// "YYYY-MM-DD" at the start of text.
bool parseYmd(std::string_view s, int &y, int &m, int &d)
{
    return digits(s, 0, 4, y) && s.size() >= 10 && s[4] == '-' && digits(s, 5, 2, m) && s[7] == '-'
           && digits(s, 8, 2, d) && validDate(y, m, d);
}

// Time of day after the date: "[ |T]HH:MM[:SS[.fraction]]" -> milliseconds
// and the fraction in units of 10^-7 s.
bool parseTime(std::string_view s, int64_t &hundredNs)
{
    hundredNs = 0;
    if (s.empty())
        return true;
    if (s[0] != ' ' && s[0] != 'T')
        return false;
    int h = 0, mi = 0, sec = 0;
    if (!digits(s, 1, 2, h) || s.size() < 6 || s[3] != ':' || !digits(s, 4, 2, mi))
        return false;
    size_t p = 6;
    if (p < s.size() && s[p] == ':') {
        if (!digits(s, p + 1, 2, sec))
            return false;
        p += 3;
    }
    int64_t frac = 0;
    if (p < s.size() && s[p] == '.') {
        ++p;
        int scale = 0;
        while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
            if (scale < 7) {
                frac = frac * 10 + (s[p] - '0');
                ++scale;
            }
            ++p;
        }
        for (; scale < 7; ++scale)
            frac *= 10;
    }
    if (p != s.size() || h > 23 || mi > 59 || sec > 59)
        return false;
    hundredNs = ((int64_t(h) * 60 + mi) * 60 + sec) * 10000000 + frac;
    return true;
}

// "YYYY-MM-DD[ time]" -> the date as daysFromCivil counts it and the time of day.
bool parseDateAndTime(std::string_view s, int64_t &civilDays, int64_t &hundredNs)
{
    int y, m, d;
    if (!parseYmd(s, y, m, d) || !parseTime(s.substr(10), hundredNs))
        return false;
    civilDays = daysFromCivil(y, unsigned(m), unsigned(d));
    return true;
}

int64_t toInt(const Value &v)
{
    switch (v.kind) {
    case Value::Int: return v.i;
    case Value::Float: return std::isfinite(v.d) ? int64_t(std::llround(v.d)) : 0;
    case Value::Text: return std::strtoll(v.s.c_str(), nullptr, 10);
    default: return 0;
    }
}

double toDouble(const Value &v)
{
    switch (v.kind) {
    case Value::Int: return double(v.i);
    case Value::Float: return v.d;
    case Value::Text: return std::strtod(v.s.c_str(), nullptr);
    default: return 0;
    }
}

std::string doubleText(double d)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string toText(const Value &v)
{
    switch (v.kind) {
    case Value::Int: return std::to_string(v.i);
    case Value::Float: return doubleText(v.d);
    case Value::Text:
    case Value::Blob: return v.s;
    default: return {};
    }
}

int timeBytes(int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

struct Wire {
    uint8_t type = 0;
    int size = 0;      // TYPE_INFO length (bytes)
    bool plp = false;  // (max) type, PLP values
    bool text = false; // character data
    bool unicode = false;
    bool fixedPad = false; // NCHAR/CHAR: pad values to size
    int precision = 0;
    int scale = 0;
};

int decimalSize(int precision)
{
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

Wire wireFor(const ColumnDef &c, uint32_t ver)
{
    Wire w;
    const bool maxOk = ver >= kTds72;
    auto sized = [&](uint8_t type, int bytesPerChar, bool text, bool unicode, bool fixed) {
        w.type = type;
        w.text = text;
        w.unicode = unicode;
        const int limit = 8000 / bytesPerChar;
        if (c.length <= 0 || c.length > limit) {
            if (maxOk) {
                w.plp = true;
                w.size = 0xFFFF;
                if (type == 0xEF) w.type = 0xE7; // no nchar(max)
                if (type == 0xAF) w.type = 0xA7;
                return;
            }
            w.size = 8000;
            return;
        }
        w.size = c.length * bytesPerChar;
        w.fixedPad = fixed;
    };
    switch (c.type) {
    case SqlType::Int: w.type = 0x26; w.size = 4; break;
    case SqlType::BigInt: w.type = 0x26; w.size = 8; break;
    case SqlType::SmallInt: w.type = 0x26; w.size = 2; break;
    case SqlType::TinyInt: w.type = 0x26; w.size = 1; break;
    case SqlType::Bit: w.type = 0x68; w.size = 1; break;
    case SqlType::Float: w.type = 0x6D; w.size = 8; break;
    case SqlType::Real: w.type = 0x6D; w.size = 4; break;
    case SqlType::Decimal:
    case SqlType::Numeric:
        w.type = c.type == SqlType::Decimal ? 0x6A : 0x6C;
        w.precision = c.precision >= 1 && c.precision <= 38 ? c.precision : 18;
        w.scale = c.scale >= 0 && c.scale <= w.precision ? c.scale : 0;
        w.size = decimalSize(w.precision);
        break;
    case SqlType::Money: w.type = 0x6E; w.size = 8; break;
    case SqlType::SmallMoney: w.type = 0x6E; w.size = 4; break;
    case SqlType::DateTime: w.type = 0x6F; w.size = c.length == 4 ? 4 : 8; break;
    case SqlType::Date:
        if (ver >= kTds73) {
            w.type = 0x28;
            w.size = 3;
        } else {
            w.type = 0x6F;
            w.size = 8;
        }
        break;
    case SqlType::DateTime2:
    case SqlType::Time:
    case SqlType::DateTimeOffset:
        w.scale = c.scale >= 0 && c.scale <= 7 ? c.scale : 7;
        if (ver >= kTds73) {
            w.type = c.type == SqlType::Time ? 0x29 : c.type == SqlType::DateTime2 ? 0x2A : 0x2B;
            w.size = timeBytes(w.scale) + (c.type == SqlType::Time ? 0 : 3) + (c.type == SqlType::DateTimeOffset ? 2 : 0);
        } else {
            // Older clients get the text, as SQL Server sends it to them.
            w.type = 0xE7;
            w.text = w.unicode = true;
            w.size = 2 * (c.type == SqlType::Time ? 16 : c.type == SqlType::DateTime2 ? 27 : 34);
        }
        break;
    case SqlType::NVarChar: sized(0xE7, 2, true, true, false); break;
    case SqlType::NChar: sized(0xEF, 2, true, true, true); break;
    case SqlType::VarChar: sized(0xA7, 1, true, false, false); break;
    case SqlType::Char: sized(0xAF, 1, true, false, true); break;
    case SqlType::VarBinary: sized(0xA5, 1, false, false, false); break;
    case SqlType::UniqueIdentifier: w.type = 0x24; w.size = 16; break;
    case SqlType::Xml:
        // XMLTYPE: UTF-16 text in PLP chunks; older clients get nvarchar.
        if (!maxOk) { sized(0xE7, 2, true, true, false); break; }
        w.type = 0xF1;
        w.plp = w.text = w.unicode = true;
        break;
    case SqlType::Variant: w.type = 0x62; w.size = 8016; break;
    case SqlType::HierarchyId:
    case SqlType::Geography:
    case SqlType::Geometry:
        // UDTTYPE: the serialized bytes in PLP chunks, hierarchyid at most 892
        // of them, the spatial types unlimited (0xFFFF); older clients get
        // varbinary.
        if (!maxOk) { sized(0xA5, 1, false, false, false); break; }
        w.type = 0xF0;
        w.size = c.type == SqlType::HierarchyId ? 892 : 0xFFFF;
        w.plp = true;
        break;
    }
    return w;
}

void writeLE(Writer &w, uint64_t v, int bytes)
{
    for (int k = 0; k < bytes; ++k)
        w.u8(uint8_t(v >> (8 * k)));
}

// Encodes text for a character column, cut to `maxBytes` on a character boundary.
std::string encodeText(const std::string &utf8, bool unicode, size_t maxBytes)
{
    std::string enc = unicode ? utf8ToUtf16le(utf8) : utf8ToCodePage(utf8);
    if (enc.size() <= maxBytes)
        return enc;
    if (unicode) {
        enc.resize(maxBytes & ~size_t(1));
        // Do not leave half a surrogate pair at the end.
        if (enc.size() >= 2) {
            const auto last = uint16_t(uint8_t(enc[enc.size() - 2]) | (uint8_t(enc[enc.size() - 1]) << 8));
            if (last >= 0xD800 && last <= 0xDBFF)
                enc.resize(enc.size() - 2);
        }
        return enc;
    }
    // Double-byte code page: shorten the source until it fits.
    std::string src = utf8;
    while (!src.empty() && enc.size() > maxBytes) {
        size_t cut = src.size() - 1;
        while (cut > 0 && (uint8_t(src[cut]) & 0xC0) == 0x80)
            --cut;
        src.resize(cut);
        enc = utf8ToCodePage(src);
    }
    return enc;
}

void writeNull(Writer &w, const Wire &t)
{
    if (t.plp)
        w.u64(~uint64_t(0));
    else if (t.type == 0xE7 || t.type == 0xEF || t.type == 0xA7 || t.type == 0xAF || t.type == 0xA5)
        w.u16(0xFFFF);
    else if (t.type == 0x62)
        w.u32(0);
    else
        w.u8(0);
}

// The TDS type of a value inside a sql_variant: the fixed-length type for
// the nullable one that a column of the base type would use.
uint8_t variantBaseType(const Wire &b)
{
    switch (b.type) {
    case 0x26: return b.size == 1 ? 0x30 : b.size == 2 ? 0x34 : b.size == 4 ? 0x38 : 0x7F;
    case 0x68: return 0x32;
    case 0x6D: return b.size == 4 ? 0x3B : 0x3E;
    case 0x6E: return b.size == 4 ? 0x7A : 0x3C;
    case 0x6F: return b.size == 4 ? 0x3A : 0x3D;
    default: return b.type;
    }
}

} // namespace

// A sql_variant value: its length, then the base type, its properties and
// the base value without the length prefix its own column would carry.
void writeVariant(Writer &w, const Value &v, uint32_t ver)
{
    Variant var;
    if (!parseVariant(v.s, var)) {
        w.u32(0);
        return;
    }
    const ColumnDef base = variantBaseColumn(var);
    const Wire b = wireFor(base, ver);
    std::string data;
    Writer dw(data);
    writeValue(dw, base, variantBaseValue(var), ver);
    const bool longLength = b.type == 0xE7 || b.type == 0xEF || b.type == 0xA7 || b.type == 0xAF || b.type == 0xA5;
    data.erase(0, longLength ? 2 : 1);
    std::string props;
    Writer pw(props);
    if (b.type == 0x29 || b.type == 0x2A || b.type == 0x2B) {
        pw.u8(uint8_t(b.scale));
    } else if (b.type == 0x6A || b.type == 0x6C) {
        pw.u8(uint8_t(b.precision));
        pw.u8(uint8_t(b.scale));
    } else if (b.type == 0xA5) {
        pw.u16(uint16_t(b.size));
    } else if (longLength) {
        pw.bytes(collationBytes(serverCollation()));
        pw.u16(uint16_t(b.size));
    }
    w.u32(uint32_t(2 + props.size() + data.size()));
    w.u8(variantBaseType(b));
    w.u8(uint8_t(props.size()));
    w.bytes(props);
    w.bytes(data);
}

bool toScaled(const Value &v, int scale, unsigned __int128 &magnitude, bool &negative)
{
    std::string text;
    if (v.kind == Value::Int) {
        text = std::to_string(v.i);
    } else if (v.kind == Value::Float) {
        if (!std::isfinite(v.d))
            return false;
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*f", scale, v.d);
        text = buf;
    } else if (v.kind == Value::Text) {
        text = v.s;
    } else {
        return false;
    }
    size_t p = 0;
    while (p < text.size() && text[p] == ' ')
        ++p;
    negative = false;
    if (p < text.size() && (text[p] == '-' || text[p] == '+')) {
        negative = text[p] == '-';
        ++p;
    }
    static const unsigned __int128 kLimit = [] {
        unsigned __int128 l = 1;
        for (int k = 0; k < 38; ++k)
            l *= 10;
        return l;
    }();
    unsigned __int128 m = 0;
    bool any = false;
    int fracDigits = 0;
    bool inFrac = false;
    bool roundUp = false;
    for (; p < text.size(); ++p) {
        const char c = text[p];
        if (c == '.' && !inFrac) {
            inFrac = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        any = true;
        if (inFrac) {
            if (fracDigits == scale) {
                // Round half up on the first digit past the scale; ignore the rest.
                roundUp = c >= '5';
                while (p + 1 < text.size() && text[p + 1] >= '0' && text[p + 1] <= '9')
                    ++p;
                continue;
            }
            ++fracDigits;
        }
        m = m * 10 + unsigned(c - '0');
        if (m >= kLimit)
            return false;
    }
    while (p < text.size() && text[p] == ' ')
        ++p;
    if (!any || p != text.size())
        return false;
    for (; fracDigits < scale; ++fracDigits) {
        m *= 10;
        if (m >= kLimit)
            return false;
    }
    if (roundUp && ++m >= kLimit)
        return false;
    if (m == 0)
        negative = false;
    magnitude = m;
    return true;
}

std::string scaledToText(unsigned __int128 magnitude, bool negative, int scale)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude > 0);
    if (scale > 0) {
        while (int(digits.size()) <= scale)
            digits.insert(digits.begin(), '0');
        digits.insert(digits.end() - scale, '.');
    }
    if (negative)
        digits.insert(digits.begin(), '-');
    return digits;
}

bool parseDateTime(std::string_view text, int32_t &days, uint32_t &ticks)
{
    int64_t civil = 0, hns = 0;
    if (!parseDateAndTime(text, civil, hns))
        return false;
    int64_t dd = civil - kEpoch1900;
    // 1/300 s ticks, rounded; a day's last tick carries into the next day.
    int64_t t = (hns * 3 + 50000) / 100000;
    if (t >= 25920000) {
        t -= 25920000;
        ++dd;
    }
    if (dd < -53690 || dd > 2958463)
        return false;
    days = int32_t(dd);
    ticks = uint32_t(t);
    return true;
}

std::string formatDateTime(int32_t days, uint32_t ticks)
{
    int y, m, d;
    civilFromDays(kEpoch1900 + days, y, m, d);
    const uint64_t ms = (uint64_t(ticks) * 10 + 1) / 3;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d, int(ms / 3600000),
                  int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
    return buf;
}

bool parseDate(std::string_view text, int32_t &daysSince0001)
{
    int64_t civil = 0, hns = 0;
    if (!parseDateAndTime(text, civil, hns))
        return false;
    daysSince0001 = int32_t(civil - kEpoch0001);
    return true;
}

std::string formatDate(int32_t daysSince0001)
{
    int y, m, d;
    civilFromDays(kEpoch0001 + daysSince0001, y, m, d);
    char buf[40]; // room for any int, so the compiler can prove nothing is cut
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

void writeColumnType(Writer &w, const ColumnDef &c, uint32_t ver)
{
    const Wire t = wireFor(c, ver);
    if (ver >= kTds72)
        w.u32(0); // UserType
    else
        w.u16(0); // 7.1: USHORT
    uint16_t flags = 0;
    if (c.nullable) flags |= 0x01;
    if (c.updateable) flags |= 0x08;
    if (c.identity) flags |= 0x10;
    w.u16(flags);
    w.u8(t.type);
    switch (t.type) {
    case 0x28:
        break;
    case 0x29: case 0x2A: case 0x2B:
        w.u8(uint8_t(t.scale));
        break;
    case 0x6A:
    case 0x6C:
        w.u8(uint8_t(t.size));
        w.u8(uint8_t(t.precision));
        w.u8(uint8_t(t.scale));
        break;
    case 0xE7: case 0xEF: case 0xA7: case 0xAF:
        w.u16(uint16_t(t.size));
        w.bytes(collationBytes(serverCollation()));
        break;
    case 0xA5:
        w.u16(uint16_t(t.size));
        break;
    case 0xF1:
        w.u8(0); // SCHEMA_PRESENT: untyped
        break;
    case 0x62:
        w.u32(uint32_t(t.size));
        break;
    case 0xF0:
        // UDT_INFO: max size, then where the type lives and its CLR name.
        w.u16(uint16_t(t.size));
        w.bVarchar("");
        w.bVarchar("sys");
        w.bVarchar(c.type == SqlType::Geography ? "geography" : c.type == SqlType::Geometry ? "geometry" : "hierarchyid");
        w.usVarchar(c.type == SqlType::Geography ? kGeographyAssembly
                    : c.type == SqlType::Geometry ? kGeometryAssembly : kHierarchyIdAssembly);
        break;
    default:
        w.u8(uint8_t(t.size));
        break;
    }
}

void writeValue(Writer &w, const ColumnDef &c, const Value &v, uint32_t ver)
{
    const Wire t = wireFor(c, ver);
    if (v.kind == Value::Null) {
        writeNull(w, t);
        return;
    }
    switch (t.type) {
    case 0x62:
        writeVariant(w, v, ver);
        return;
    case 0x26:
        w.u8(uint8_t(t.size));
        writeLE(w, uint64_t(toInt(v)), t.size);
        return;
    case 0x68:
        w.u8(1);
        w.u8(v.kind == Value::Text ? (v.s != "0" && !v.s.empty()) : toDouble(v) != 0);
        return;
    case 0x6D: {
        const double d = toDouble(v);
        w.u8(uint8_t(t.size));
        if (t.size == 4) {
            const float f = float(d);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            w.u32(bits);
        } else {
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            w.u64(bits);
        }
        return;
    }
    case 0x6A:
    case 0x6C: {
        unsigned __int128 mag;
        bool neg;
        unsigned __int128 limit = 1;
        for (int k = 0; k < t.precision; ++k)
            limit *= 10;
        if (!toScaled(v, t.scale, mag, neg) || mag >= limit) {
            std::fprintf(stderr, "dorvane-testserver: value '%s' does not fit decimal(%d,%d); sent as NULL\n",
                         toText(v).c_str(), t.precision, t.scale);
            w.u8(0);
            return;
        }
        w.u8(uint8_t(t.size));
        w.u8(neg ? 0 : 1);
        for (int k = 0; k < t.size - 1; ++k)
            w.u8(uint8_t(mag >> (8 * k)));
        return;
    }
    case 0x6E: {
        unsigned __int128 mag;
        bool neg;
        // The ranges are asymmetric: -922337203685477.5808 fits, its opposite does not.
        const unsigned __int128 most = t.size == 4 ? u128(INT32_MAX) : u128(INT64_MAX);
        if (!toScaled(v, 4, mag, neg) || mag > most + (neg ? 1 : 0)) {
            std::fprintf(stderr, "dorvane-testserver: value '%s' does not fit %s; sent as NULL\n", toText(v).c_str(),
                         t.size == 4 ? "smallmoney" : "money");
            w.u8(0);
            return;
        }
        const uint64_t units = neg ? uint64_t(0) - uint64_t(mag) : uint64_t(mag);
        if (t.size == 4) {
            w.u8(4);
            w.u32(uint32_t(units));
            return;
        }
        w.u8(8);
        w.u32(uint32_t(units >> 32));
        w.u32(uint32_t(units));
        return;
    }
    case 0x6F: {
        int32_t days;
        uint32_t ticks;
        if (!parseDateTime(toText(v), days, ticks)) {
            w.u8(0);
            return;
        }
        if (t.size == 4) {
            w.u8(4);
            w.u16(uint16_t(days));
            w.u16(uint16_t(ticks / (60 * 300)));
            return;
        }
        w.u8(8);
        w.u32(uint32_t(days));
        w.u32(ticks);
        return;
    }
    case 0x28: {
        int32_t days;
        if (!parseDate(toText(v), days)) {
            w.u8(0);
            return;
        }
        w.u8(3);
        writeLE(w, uint32_t(days), 3);
        return;
    }
    case 0x24: {
        // The first three groups go little-endian, the last two as written.
        std::string g;
        if (!parseGuid(toText(v), g)) {
            w.u8(0);
            return;
        }
        std::string hex;
        for (char ch : g) if (ch != '-') hex += ch;
        auto byteAt = [&](int k) { return uint8_t(std::stoi(hex.substr(size_t(2 * k), 2), nullptr, 16)); };
        static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        w.u8(16);
        for (int k : order) w.u8(byteAt(k));
        return;
    }
    case 0x29: case 0x2A: case 0x2B: {
        // Time in units of 10^-scale s [, days since 0001-01-01] [, offset minutes]; with an
        // offset the date and time are UTC.
        std::string text = toText(v);
        int64_t civil = kEpoch0001, hns = 0;
        int offset = 0;
        bool ok;
        if (t.type == 0x29) {
            ok = parseTime(" " + text, hns);
        } else {
            if (t.type == 0x2B && text.size() > 7 && (text[text.size() - 6] == '+' || text[text.size() - 6] == '-')) {
                int oh = 0, om = 0;
                ok = digits(text, text.size() - 5, 2, oh) && digits(text, text.size() - 2, 2, om);
                offset = (oh * 60 + om) * (text[text.size() - 6] == '-' ? -1 : 1);
                text.resize(text.size() - 6);
                while (!text.empty() && text.back() == ' ') text.pop_back();
            }
            ok = parseDateAndTime(text, civil, hns);
            if (ok && offset != 0) {
                int64_t total = civil * 864000000000LL + hns - int64_t(offset) * 600000000LL;
                civil = total / 864000000000LL;
                hns = total % 864000000000LL;
                if (hns < 0) { hns += 864000000000LL; --civil; }
            }
        }
        if (!ok) {
            w.u8(0);
            return;
        }
        uint64_t div = 1;
        for (int k = t.scale; k < 7; ++k)
            div *= 10;
        w.u8(uint8_t(t.size));
        writeLE(w, uint64_t(hns) / div, timeBytes(t.scale));
        if (t.type != 0x29)
            writeLE(w, uint64_t(civil - kEpoch0001), 3);
        if (t.type == 0x2B)
            w.u16(uint16_t(int16_t(offset)));
        return;
    }
    default:
        break;
    }
    // Character and binary data.
    std::string data;
    if (t.text) {
        data = encodeText(toText(v), t.unicode, t.plp ? SIZE_MAX : size_t(t.size));
        if (t.fixedPad && data.size() < size_t(t.size)) {
            while (data.size() < size_t(t.size)) {
                data.push_back(' ');
                if (t.unicode)
                    data.push_back('\0');
            }
        }
    } else {
        data = toText(v);
        if (!t.plp && data.size() > size_t(t.size))
            data.resize(size_t(t.size));
    }
    if (t.plp) {
        w.u64(data.size());
        if (!data.empty()) {
            w.u32(uint32_t(data.size()));
            w.bytes(data);
        }
        w.u32(0);
    } else {
        w.u16(uint16_t(data.size()));
        w.bytes(data);
    }
}

namespace {

// Reads a PLP value (total length, chunks, terminator). `isNull` on the NULL marker.
std::string readPlp(Reader &r, bool &isNull)
{
    const uint64_t total = r.u64();
    isNull = total == ~uint64_t(0);
    std::string out;
    if (isNull)
        return out;
    for (;;) {
        const uint32_t chunk = r.u32();
        if (chunk == 0)
            break;
        r.need(chunk);
        out += r.bytes(chunk);
    }
    if (total != ~uint64_t(0) - 1 && total != out.size())
        throw ProtocolError("PLP length mismatch");
    return out;
}

std::string moneyText(int64_t units)
{
    const bool neg = units < 0;
    const unsigned __int128 mag = neg ? u128(-(units + 1)) + 1 : u128(units);
    return scaledToText(mag, neg, 4);
}

int64_t readSignedLE(Reader &r, int bytes)
{
    uint64_t v = 0;
    for (int k = 0; k < bytes; ++k)
        v |= uint64_t(r.u8()) << (8 * k);
    if (bytes < 8 && (v >> (8 * bytes - 1)) & 1)
        v |= ~uint64_t(0) << (8 * bytes);
    return int64_t(v);
}

// Time part of TIME/DATETIME2/DATETIMEOFFSET: units of 10^-scale s.
std::string timeText(uint64_t units, int scale)
{
    scale = scale < 0 ? 0 : scale > 7 ? 7 : scale;
    uint64_t div = 1;
    for (int k = 0; k < scale; ++k)
        div *= 10;
    const uint64_t secs = units / div;
    const uint64_t frac = units % div;
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(secs / 3600 % 24), int(secs / 60 % 60), int(secs % 60));
    if (scale > 0)
        std::snprintf(buf + n, sizeof buf - size_t(n), ".%0*llu", scale, static_cast<unsigned long long>(frac));
    return buf;
}

} // namespace

RpcParam readParam(Reader &r)
{
    RpcParam p;
    p.name = r.bVarchar();
    const uint8_t status = r.u8();
    p.output = status & 0x01;
    const uint8_t type = r.u8();
    ColumnDef &c = p.type;
    Value &v = p.value;
    c.nullable = true;

    auto fixedInt = [&](SqlType st, int bytes) {
        c.type = st;
        v = Value::integer(readSignedLE(r, bytes));
    };
    auto intOfLen = [&](int len) {
        switch (len) {
        case 1: c.type = SqlType::TinyInt; break;
        case 2: c.type = SqlType::SmallInt; break;
        case 4: c.type = SqlType::Int; break;
        case 8: c.type = SqlType::BigInt; break;
        default: throw ProtocolError("bad integer length");
        }
    };
    auto readFloat = [&](int len) {
        if (len == 4) {
            const uint32_t bits = r.u32();
            float f;
            std::memcpy(&f, &bits, 4);
            v = Value::real(f);
        } else if (len == 8) {
            const uint64_t bits = r.u64();
            double d;
            std::memcpy(&d, &bits, 8);
            v = Value::real(d);
        } else {
            throw ProtocolError("bad float length");
        }
    };
    auto readMoney = [&](int len) {
        if (len == 8) {
            const uint64_t hi = r.u32();
            const uint64_t lo = r.u32();
            v = Value::text(moneyText(int64_t((hi << 32) | lo)));
        } else if (len == 4) {
            v = Value::text(moneyText(int32_t(r.u32())));
        } else {
            throw ProtocolError("bad money length");
        }
    };
    auto readDateTime = [&](int len) {
        if (len == 8) {
            const auto days = int32_t(r.u32());
            const uint32_t ticks = r.u32();
            v = Value::text(formatDateTime(days, ticks));
        } else if (len == 4) {
            const uint16_t days = r.u16();
            const uint16_t minutes = r.u16();
            v = Value::text(formatDateTime(days, uint32_t(minutes) * 60 * 300));
        } else {
            throw ProtocolError("bad datetime length");
        }
    };

    switch (type) {
    case 0x1F: c.type = SqlType::Int; break; // NULL type
    case 0x30: c.type = SqlType::TinyInt; v = Value::integer(r.u8()); break;
    case 0x32: c.type = SqlType::Bit; v = Value::integer(r.u8() ? 1 : 0); break;
    case 0x34: fixedInt(SqlType::SmallInt, 2); break;
    case 0x38: fixedInt(SqlType::Int, 4); break;
    case 0x7F: fixedInt(SqlType::BigInt, 8); break;
    case 0x3B: c.type = SqlType::Real; readFloat(4); break;
    case 0x3E: c.type = SqlType::Float; readFloat(8); break;
    case 0x3C: c.type = SqlType::Money; readMoney(8); break;
    case 0x7A: c.type = SqlType::SmallMoney; readMoney(4); break;
    case 0x3D: c.type = SqlType::DateTime; readDateTime(8); break;
    case 0x3A: c.type = SqlType::DateTime; readDateTime(4); break;
    case 0x26: case 0x68: case 0x6D: case 0x6E: case 0x6F: case 0x24: {
        const int max = r.u8();
        if (type == 0x26) intOfLen(max);
        else if (type == 0x68) c.type = SqlType::Bit;
        else if (type == 0x6D) c.type = max == 4 ? SqlType::Real : SqlType::Float;
        else if (type == 0x6E) c.type = max == 4 ? SqlType::SmallMoney : SqlType::Money;
        else if (type == 0x6F) c.type = SqlType::DateTime;
        else c.type = SqlType::UniqueIdentifier;
        const int len = r.u8();
        if (len == 0)
            break;
        if (len > max)
            throw ProtocolError("value longer than its type");
        switch (type) {
        case 0x26: v = Value::integer(readSignedLE(r, len)); if (len != 1 && len != 2 && len != 4 && len != 8) throw ProtocolError("bad integer length"); if (len == 1) v.i &= 0xFF; break;
        case 0x68: v = Value::integer(r.u8() ? 1 : 0); break;
        case 0x6D: readFloat(len); break;
        case 0x6E: readMoney(len); break;
        case 0x6F: readDateTime(len); break;
        default: {
            if (len != 16)
                throw ProtocolError("bad uniqueidentifier length");
            const std::string g = r.bytes(16);
            auto b = [&](int k) { return unsigned(uint8_t(g[size_t(k)])); };
            char buf[40];
            std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                          b(3), b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13),
                          b(14), b(15));
            v = Value::text(buf);
        }
        }
        break;
    }
    case 0x6A: case 0x6C: {
        const int max = r.u8();
        c.type = type == 0x6A ? SqlType::Decimal : SqlType::Numeric;
        c.precision = r.u8();
        c.scale = r.u8();
        if (c.precision < 1 || c.precision > 38 || c.scale > c.precision || max > 17)
            throw ProtocolError("bad decimal type");
        const int len = r.u8();
        if (len == 0)
            break;
        if (len > max || len < 2)
            throw ProtocolError("bad decimal length");
        const bool positive = r.u8() != 0;
        unsigned __int128 mag = 0;
        for (int k = 0; k < len - 1; ++k)
            mag |= u128(r.u8()) << (8 * k);
        v = Value::text(scaledToText(mag, !positive && mag != 0, c.scale));
        break;
    }
    case 0x28: {
        c.type = SqlType::Date;
        const int len = r.u8();
        if (len == 0)
            break;
        if (len != 3)
            throw ProtocolError("bad date length");
        uint32_t days = r.u8();
        days |= uint32_t(r.u8()) << 8;
        days |= uint32_t(r.u8()) << 16;
        v = Value::text(formatDate(int32_t(days)));
        break;
    }
    case 0x29: case 0x2A: case 0x2B: {
        const int scale = r.u8();
        if (scale > 7)
            throw ProtocolError("bad time scale");
        c.type = type == 0x29 ? SqlType::Time : type == 0x2A ? SqlType::DateTime2 : SqlType::DateTimeOffset;
        c.scale = scale;
        const int len = r.u8();
        if (len == 0)
            break;
        const int tb = timeBytes(scale);
        const int want = tb + (type == 0x29 ? 0 : 3) + (type == 0x2B ? 2 : 0);
        if (len != want)
            throw ProtocolError("bad time length");
        uint64_t units = 0;
        for (int k = 0; k < tb; ++k)
            units |= uint64_t(r.u8()) << (8 * k);
        // Full precision: the value compares equal to what it was read from.
        uint32_t days = 0;
        if (type != 0x29) {
            days = r.u8();
            days |= uint32_t(r.u8()) << 8;
            days |= uint32_t(r.u8()) << 16;
        }
        int16_t off = 0;
        if (type == 0x2B) {
            // Sent as UTC: the text shows the local time at the offset.
            off = int16_t(r.u16());
            uint64_t div = 1;
            for (int k = 0; k < scale; ++k)
                div *= 10;
            int64_t perDay = int64_t(86400) * int64_t(div);
            int64_t total = int64_t(days) * perDay + int64_t(units) + int64_t(off) * 60 * int64_t(div);
            if (total < 0) total = 0;
            days = uint32_t(total / perDay);
            units = uint64_t(total % perDay);
        }
        std::string text;
        if (type != 0x29)
            text = formatDate(int32_t(days)) + " ";
        text += timeText(units, scale);
        if (type == 0x2B) {
            char buf[16];
            std::snprintf(buf, sizeof buf, " %c%02d:%02d", off < 0 ? '-' : '+', std::abs(off) / 60, std::abs(off) % 60);
            text += buf;
        }
        v = Value::text(text);
        break;
    }
    case 0xE7: case 0xEF: case 0xA7: case 0xAF: case 0xA5: case 0xAD: {
        const uint16_t max = r.u16();
        const bool unicode = type == 0xE7 || type == 0xEF;
        const bool binary = type == 0xA5 || type == 0xAD;
        if (!binary)
            r.skip(5); // collation
        c.type = binary ? SqlType::VarBinary
                 : type == 0xE7 ? SqlType::NVarChar
                 : type == 0xEF ? SqlType::NChar
                 : type == 0xA7 ? SqlType::VarChar : SqlType::Char;
        std::string data;
        bool isNull = false;
        if (max == 0xFFFF) {
            c.length = -1;
            data = readPlp(r, isNull);
        } else {
            c.length = unicode ? max / 2 : max;
            const uint16_t len = r.u16();
            isNull = len == 0xFFFF;
            if (!isNull) {
                if (len > max)
                    throw ProtocolError("value longer than its type");
                data = r.bytes(len);
            }
        }
        if (!isNull)
            v = binary ? Value::blob(data) : Value::text(unicode ? utf16leToUtf8(data) : codePageToUtf8(data));
        break;
    }
    case 0x63: case 0x23: case 0x22: {
        r.u32(); // declared maximum
        if (type != 0x22)
            r.skip(5);
        c.type = type == 0x63 ? SqlType::NVarChar : type == 0x23 ? SqlType::VarChar : SqlType::VarBinary;
        c.length = -1;
        const uint32_t len = r.u32();
        if (len == 0xFFFFFFFF)
            break;
        const std::string data = r.bytes(len);
        v = type == 0x22 ? Value::blob(data)
            : Value::text(type == 0x63 ? utf16leToUtf8(data) : codePageToUtf8(data));
        break;
    }
    case 0xF1: {
        // XMLTYPE: untyped, or a schema collection's three names (not checked here).
        if (r.u8()) { r.bVarchar(); r.bVarchar(); r.usVarchar(); }
        c.type = SqlType::Xml;
        c.length = -1;
        bool isNull = false;
        std::string data = readPlp(r, isNull);
        // A client may send the UTF-16 byte order mark first.
        if (data.size() >= 2 && uint8_t(data[0]) == 0xFF && uint8_t(data[1]) == 0xFE) data.erase(0, 2);
        if (!isNull) v = Value::text(utf16leToUtf8(data));
        break;
    }
    default: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "unsupported parameter type 0x%02X", type);
        throw ProtocolError(buf);
    }
    }
    return p;
}

std::string valueText(const Value &v)
{
    switch (v.kind) {
    case Value::Null: return "NULL";
    case Value::Int: return std::to_string(v.i);
    case Value::Float: return doubleText(v.d);
    case Value::Text: {
        std::string out;
        for (char ch : v.s) {
            if (ch == '\n') out += "\\n";
            else if (ch == '\r') out += "\\r";
            else out.push_back(ch);
        }
        return out;
    }
    case Value::Blob: {
        static const char hex[] = "0123456789ABCDEF";
        std::string out = "0x";
        for (unsigned char ch : v.s) {
            out.push_back(hex[ch >> 4]);
            out.push_back(hex[ch & 15]);
        }
        return out;
    }
    }
    return {};
}

} // namespace ts::tds
