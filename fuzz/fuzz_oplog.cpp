// Log appending over arbitrary memo text and entries: the old text is kept as
// a prefix, the entry text appears in the result, the separator ends it, and
// encoding the result for saving never fails.
#include "core/oplog.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *p = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(p, 0, size);
    const size_t split = nul ? size_t(static_cast<const char *>(nul) - p) : size / 2;
    const QString memo = QString::fromUtf8(p, qsizetype(split));
    const QString entry = QString::fromUtf8(p + split + (nul ? 1 : 0), qsizetype(size - split - (nul ? 1 : 0)));

    const QString line = dv::appendLogLine(memo, entry);
    if (!line.startsWith(memo) || !line.contains(entry))
        std::abort();

    const QDateTime when(QDate(2026, 12, 8), QTime(18, 30, 5));
    const QString out = dv::appendLogEntry(memo, entry, when);
    const QString sep = QString::fromLatin1(dv::kLogSeparator);
    if (!out.startsWith(memo) || !out.contains(entry) || !out.contains(dv::logTimeStamp(when)))
        std::abort();
    if (!out.endsWith(sep + QStringLiteral("\r\n")) && !out.endsWith(sep))
        std::abort();
    // Appending never rewrites what was there: the growth is the three additions
    // plus at most two characters of line break for each.
    const qsizetype grown = out.size() - memo.size();
    if (grown < entry.size() + sep.size() + 19 || grown > entry.size() + sep.size() + 19 + 6)
        std::abort();
    (void)dv::encodeLogText(out);
    return 0;
}
