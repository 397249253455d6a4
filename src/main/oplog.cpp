#include "oplog.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <stdexcept>

namespace dv {

namespace {

bool endsWithLineBreak(const QString &text)
{
    return text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'));
}

// One piece of text in GBK, each character the code page cannot hold as "?".
QByteArray encodeCharwise(QStringView text)
{
    QByteArray out;
    QStringEncoder enc("GBK");
    QStringDecoder dec("GBK");
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
        const QStringView ch = text.mid(i, len);
        const QByteArray bytes = enc.encode(ch);
        const QString back = dec.decode(bytes);
        if (enc.hasError() || dec.hasError() || back != ch) {
            out += '?';
            // The converters keep their error; start with fresh ones.
            enc = QStringEncoder("GBK");
            dec = QStringDecoder("GBK");
        } else {
            out += bytes;
        }
        i += len;
    }
    return out;
}

[[noreturn]] void throwCannotCreate(const QString &fileName, const QString &reason)
{
    throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                 .arg(QFileInfo(fileName).absoluteFilePath(), reason)
                                 .toStdString());
}

} // namespace

QString logTimeStamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString appendLogLine(const QString &text, const QString &addition)
{
    if (text.isEmpty() || endsWithLineBreak(text))
        return text + addition + QLatin1String("\r\n");
    return text + QLatin1String("\r\n") + addition;
}

QString appendLogEntry(const QString &text, const QString &entry, const QDateTime &when)
{
    QString t = appendLogLine(text, logTimeStamp(when));
    t = appendLogLine(t, entry);
    return appendLogLine(t, QString::fromLatin1(kLogSeparator));
}

QByteArray encodeLogText(const QString &text)
{
    // Fast path: the whole text survives the round trip. Otherwise only the
    // lines that do not are encoded character by character.
    QStringEncoder enc("GBK");
    QStringDecoder dec("GBK");
    if (!enc.isValid())
        throw std::runtime_error("GBK encoding is not available");
    const QByteArray whole = enc.encode(text);
    if (!enc.hasError() && QString(dec.decode(whole)) == text && !dec.hasError())
        return whole;

    QByteArray out;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        end = end < 0 ? text.size() : end + 1;
        const QStringView line = QStringView(text).mid(start, end - start);
        QStringEncoder le("GBK");
        QStringDecoder ld("GBK");
        const QByteArray bytes = le.encode(line);
        if (!le.hasError() && QString(ld.decode(bytes)) == line && !ld.hasError())
            out += bytes;
        else
            out += encodeCharwise(line);
        start = end;
    }
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
    if (!file.open(QIODevice::WriteOnly))
        throwCannotCreate(fileName, file.errorString());
    if (file.write(bytes) != bytes.size()) {
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
