#include "oplog.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <stdexcept>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace dv {

namespace {

// GBK bytes of every BMP character, built once: 0 marks a character the code
// page cannot hold; a value below 0x100 is a single byte, otherwise lead and
// trail byte. A character counts as encodable only when it decodes back to
// itself, so best-fit substitutions never reach the file.
#ifdef _WIN32
// Qt without ICU has no GBK converter on Windows; the system's code page 936
// is GBK. Best-fit substitutions are refused and the bytes must decode back.
quint16 windowsGbkCode(char16_t c)
{
    const wchar_t w = wchar_t(c);
    char bytes[4];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &w, 1, bytes, int(sizeof bytes), nullptr,
                                      &usedDefault);
    if (n <= 0 || n > 2 || usedDefault)
        return 0;
    wchar_t back[2];
    if (MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, n, back, 2) != 1 || back[0] != w)
        return 0;
    return n == 1 ? quint16(quint8(bytes[0])) : quint16(quint8(bytes[0]) << 8 | quint8(bytes[1]));
}

const std::vector<quint16> &gbkTable()
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(0x10000, 0);
        for (char16_t c = 0; c < 0x80; ++c)
            t[c] = c;
        for (char32_t c = 0x80; c < 0x10000; ++c)
            if (c < 0xD800 || c >= 0xE000)
                t[c] = windowsGbkCode(char16_t(c));
        return t;
    }();
    return table;
}
#else
const std::vector<quint16> &gbkTable()
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(0x10000, 0);
        for (char16_t c = 0; c < 0x80; ++c)
            t[c] = c;
        QStringEncoder enc("GBK");
        QStringDecoder dec("GBK");
        if (!enc.isValid() || !dec.isValid())
            throw std::runtime_error("GBK encoding is not available");
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            if (c >= 0xD800 && c < 0xE000)
                continue; // surrogates: never encodable on their own
            const QChar ch{char16_t(c)};
            // A converter keeps its error flag once set: start a fresh one.
            const QByteArray bytes = enc.encode(QStringView(&ch, 1));
            if (enc.hasError()) {
                enc = QStringEncoder("GBK");
                continue;
            }
            const QString back = dec.decode(bytes);
            if (dec.hasError()) {
                dec = QStringDecoder("GBK");
                continue;
            }
            if (bytes.isEmpty() || bytes.size() > 2 || back.size() != 1 || back[0] != ch)
                continue;
            t[c] = bytes.size() == 1 ? quint16(quint8(bytes[0]))
                                     : quint16(quint8(bytes[0]) << 8 | quint8(bytes[1]));
        }
        return t;
    }();
    return table;
}
#endif

[[noreturn]] void throwCannotCreate(const QString &fileName, const QString &reason)
{
    throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                 .arg(QFileInfo(fileName).absoluteFilePath(), reason)
                                 .toStdString());
}

// Truncates and writes the existing file itself. A failed write leaves the
// file cut short; the error says so.
void writeInPlace(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throwCannotCreate(fileName, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error("Stream write error");
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error("Stream write error");
}

} // namespace

QString logTimeStamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString logEntryAddition(bool atLineStart, const QString &entry, const QDateTime &when)
{
    QString body = entry;
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QString lines[3] = {logTimeStamp(when), body, QString::fromLatin1(kLogSeparator)};
    QString out;
    out.reserve(body.size() + 64);
    bool open = atLineStart;
    for (const QString &line : lines) {
        if (open) {
            out += line;
            out += QLatin1Char('\n');
        } else {
            out += QLatin1Char('\n');
            out += line;
            open = line.isEmpty() || line.endsWith(QLatin1Char('\n'));
        }
    }
    return out;
}

QByteArray encodeLogText(const QString &text)
{
    // One pass over the text through a lookup table: a 100,000-entry log is
    // tens of megabytes, and a converter call per line or character is slow.
    const std::vector<quint16> &table = gbkTable();
    QByteArray out;
    out.reserve(text.size() * 2);
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *const e = p + text.size();
    while (p < e) {
        const char16_t c = *p++;
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        if (QChar::isHighSurrogate(c) && p < e && QChar::isLowSurrogate(*p))
            ++p; // a character outside the BMP: one replacement for the pair
        const quint16 code = table[c];
        if (code == 0) {
            out.append('?');
        } else if (code < 0x100) {
            out.append(char(code));
        } else {
            out.append(char(code >> 8));
            out.append(char(code & 0xFF));
        }
    }
    return out;
}

QString withCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.count(QLatin1Char('\n')));
    qsizetype from = 0;
    for (;;) {
        const qsizetype nl = text.indexOf(QLatin1Char('\n'), from);
        if (nl < 0)
            break;
        out.append(QStringView(text).mid(from, nl - from));
        out.append(QLatin1String("\r\n"));
        from = nl + 1;
    }
    out.append(QStringView(text).mid(from));
    return out;
}

void saveLogFile(const QString &fileName, const QByteArray &bytes)
{
    const QFileInfo target(fileName);
    // The temporary-file replacement would also replace a write-protected file;
    // such a file is refused as a direct write would refuse it.
    if (target.exists() && !target.isWritable())
        throwCannotCreate(fileName, QStringLiteral("Permission denied"));
    if (target.isDir())
        throwCannotCreate(fileName, QStringLiteral("Is a directory"));

    QSaveFile file(fileName);
    // Unbuffered, so a short write (full disk, file-size limit) shows in
    // write() itself; a buffered one surfaced only in commit()'s own flush,
    // which let a truncated temporary file replace the log.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // A folder that takes no new file leaves no room for the temporary
        // file; an existing file that may be written is then written in
        // place, as a direct write would. (QSaveFile's own fallback is not
        // used: its destructor removes the target after a failed write.)
        if (target.exists() && !QFileInfo(target.absolutePath()).isWritable()) {
            writeInPlace(fileName, bytes);
            return;
        }
        throwCannotCreate(fileName, file.errorString());
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        throw std::runtime_error("Stream write error");
    }
    if (!file.commit()) {
        if (file.error() == QFileDevice::WriteError)
            throw std::runtime_error("Stream write error");
        throwCannotCreate(fileName, file.errorString());
    }
}

} // namespace dv
