#include "base/textcodec.h"

#include "base/collation.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

namespace ts {

namespace {

// Decodes one code point from UTF-8 at s[i]; advances i. Invalid -> U+FFFD.
char32_t nextCodePoint(std::string_view s, size_t &i)
{
    const auto b0 = uint8_t(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
    else { ++i; return 0xFFFD; }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = uint8_t(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += extra + 1;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0xFFFD;
    return cp;
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// iconv descriptors are not thread-safe; one converter per direction behind a lock.
struct Converter {
    std::mutex mu;
    iconv_t cd;
    Converter(const char *to, const char *from) : cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (cd != iconv_t(-1))
            iconv_close(cd);
    }
};

// Converts with `c`; characters it cannot convert become `replacement` and
// conversion resumes after skipping `skipUnit` input bytes.
std::string convert(Converter &c, std::string_view in, std::string_view replacement, size_t skipUnit)
{
    std::string out;
    if (in.empty())
        return out;
    std::lock_guard lock(c.mu);
    if (c.cd == iconv_t(-1))
        return std::string(in); // no converter available: pass bytes through
    iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char *dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t r = iconv(c.cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, size_t(dst - buf));
        if (r == size_t(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: replace one input unit and go on.
            out.append(replacement);
            size_t skip = skipUnit;
            if (skipUnit == 0) { // UTF-8 input: skip one whole sequence
                size_t i = 0;
                std::string_view rest(src, srcLeft);
                nextCodePoint(rest, i);
                skip = i;
            }
            skip = std::min(skip, srcLeft);
            src += skip;
            srcLeft -= skip;
            iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

} // namespace

std::string utf8ToUtf16le(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            const char16_t hi = char16_t(0xD800 + (cp >> 10));
            const char16_t lo = char16_t(0xDC00 + (cp & 0x3FF));
            out.push_back(char(hi & 0xFF));
            out.push_back(char(hi >> 8));
            out.push_back(char(lo & 0xFF));
            out.push_back(char(lo >> 8));
        } else {
            out.push_back(char(cp & 0xFF));
            out.push_back(char(cp >> 8));
        }
    }
    return out;
}

std::string utf16leToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const size_t n = bytes.size() / 2;
    auto unit = [&](size_t k) { return char16_t(uint8_t(bytes[2 * k]) | (uint8_t(bytes[2 * k + 1]) << 8)); };
    for (size_t k = 0; k < n; ++k) {
        const char16_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n) {
            const char16_t lo = unit(k + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (lo - 0xDC00));
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            appendUtf8(out, 0xFFFD);
        else
            appendUtf8(out, u);
    }
    if (bytes.size() % 2)
        appendUtf8(out, 0xFFFD);
    return out;
}

size_t utf16Length(std::string_view utf8)
{
    size_t n = 0;
    size_t i = 0;
    while (i < utf8.size())
        n += nextCodePoint(utf8, i) >= 0x10000 ? 2 : 1;
    return n;
}

// One converter per code page and direction, made on first use.
static Converter &converterFor(const char *to, const char *from)
{
    static std::mutex mu;
    static std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> all;
    std::lock_guard lock(mu);
    auto &slot = all[{to, from}];
    if (!slot) slot = std::make_unique<Converter>(to, from);
    return *slot;
}

std::string utf8ToCodePage(std::string_view utf8)
{
    return convert(converterFor(serverCollation().charset, "UTF-8"), utf8, "?", 0);
}

std::string codePageToUtf8(std::string_view bytes)
{
    const Collation &c = serverCollation();
    // A double-byte code page skips a whole bad pair; a single-byte one has no bad bytes to speak of.
    return convert(converterFor("UTF-8", c.charset), bytes, "\xEF\xBF\xBD", 1);
}

} // namespace ts
