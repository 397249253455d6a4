// The log entry the window appends, over arbitrary entry text: it starts with
// a line break exactly when the memo did not end with one, holds no CR, holds
// the entry (line breaks made LF), the time stamp and the separator at its
// end, and each of its three lines brings exactly one line break; encoding it
// for saving never fails.
#include "core/oplog.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool atLineStart = data[0] & 1;
    const QString entry = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QDateTime when(QDate(2026, 12, 8), QTime(18, 30, 5));
    const QString out = dv::logEntryAddition(atLineStart, entry, when);
    const QString sep = QString::fromLatin1(dv::kLogSeparator);
    QString body = entry;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (out.startsWith(QLatin1Char('\n')) == atLineStart || out.contains(QLatin1Char('\r')))
        std::abort();
    if (!out.contains(body) || !out.contains(dv::logTimeStamp(when)))
        std::abort();
    if (!out.endsWith(sep + QStringLiteral("\n")) && !out.endsWith(sep))
        std::abort();
    if (out.size() != body.size() + sep.size() + 19 + 3)
        std::abort();
    (void)dv::encodeLogText(out);
    return 0;
}
