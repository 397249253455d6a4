// Formatting of operation-log entries and saving the log. Plain functions.
#pragma once

#include <QDateTime>
#include <QString>

namespace dv {

inline constexpr const char *kLogSeparator = "--------------------------------------"; // 38

// The memo text after appending one addition: when `text` is empty or ends
// with a line break, addition + CR LF goes at its end; otherwise CR LF +
// addition (so the text again ends without a line break).
QString appendLogLine(const QString &text, const QString &addition);
// The memo text after one whole entry: time stamp, entry text, separator.
QString appendLogEntry(const QString &text, const QString &entry, const QDateTime &when);
// "yyyy-mm-dd hh:mm:ss"
QString logTimeStamp(const QDateTime &when);

// The bytes of a saved log: GBK (code page 936) without BOM, characters the
// code page cannot hold replaced by "?".
QByteArray encodeLogText(const QString &text);

// The memo's plain text with every line feed turned into CR LF, in one pass.
QString withCrLf(const QString &text);

// Writes `bytes` to `fileName` through a temporary file in the same folder
// that replaces the target only when complete, so a failed save never loses
// an existing file. Throws std::runtime_error with "Cannot create file "%s".
// %s" or "Stream write error".
void saveLogFile(const QString &fileName, const QByteArray &bytes);

} // namespace dv
