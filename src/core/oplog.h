// Formatting of operation-log entries and saving the log. Plain functions.
#pragma once

#include <QDateTime>
#include <QString>

namespace dv {

inline constexpr const char *kLogSeparator = "--------------------------------------"; // 38

// What one log entry adds at the end of the memo: the time stamp, the entry
// text and the separator, a line each. Each line goes after the text when the
// text so far is empty or ends with a line break (`atLineStart` for the memo
// before the entry), followed by a line break; otherwise it goes after a line
// break, and the text again ends without one (the operator typed at the end
// without Enter). Line breaks are LF; a CR LF or a lone CR in the entry
// becomes one LF. The window inserts exactly this text.
QString logEntryAddition(bool atLineStart, const QString &entry, const QDateTime &when);
// "yyyy-mm-dd hh:mm:ss"
QString logTimeStamp(const QDateTime &when);

// The bytes of a saved log: GBK (code page 936) without BOM, characters the
// code page cannot hold replaced by "?".
QByteArray encodeLogText(const QString &text);

// The memo's plain text with every line feed turned into CR LF, in one pass.
QString withCrLf(const QString &text);

// Writes `bytes` to `fileName` through a temporary file in the same folder
// that replaces the target only when complete, so a failed save never loses
// an existing file. Where the folder takes no new file but the existing file
// may be written, the file is written in place. Throws std::runtime_error with "Cannot create file "%s".
// %s" or "Stream write error".
void saveLogFile(const QString &fileName, const QByteArray &bytes);

} // namespace dv
