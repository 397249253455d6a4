// Plain functions over SQL text and connection values, kept apart from any
// widget so they can be tested directly.
#pragma once

#include "core/connectparams.h"

#include <QString>
#include <QStringList>

namespace dv {

// Parameter-marker rewrite applied to every command text before it is sent.
// Text inside single, double or back quotes is skipped (an unclosed quote runs
// to the end); "::" goes out unchanged; every other ":" and the name after it
// become one "?". The name runs to the next blank, CR, LF, ")", "," or ";" or
// the end, or, when a quote follows the colon, to the matching quote (included)
// or the end.
struct MarkerScan {
    QString text;       // the rewritten text
    QStringList names;  // one entry per marker, in order (may be empty strings)
};
MarkerScan scanParameterMarkers(const QString &text);

// ODBC attribute value quoting: a value holding ";", "{", "}", "=" or leading
// or trailing blanks is wrapped in braces with "}" doubled.
QString odbcQuote(const QString &value);

// Splits the server field into host and port/instance parts, accepting SQL
// Server's forms "host", "host\\INSTANCE" and "host,port".
struct ServerAddress {
    QString host;
    QString instance; // empty unless host\INSTANCE
    int port = 0;     // 0 unless host,port
    bool valid = false;
};
ServerAddress parseServerName(const QString &server);

// The systems whose driver managers chooseOdbcDriver() knows.
enum class OdbcPlatform { Unix, Windows };
constexpr OdbcPlatform kThisOdbcPlatform =
#ifdef Q_OS_WIN
    OdbcPlatform::Windows;
#else
    OdbcPlatform::Unix;
#endif

// The driver to log in with, from the names the driver manager lists: Microsoft's
// "ODBC Driver 18 for SQL Server", then 17; on Windows then the "SQL Server"
// driver every Windows ships; then FreeTDS. Matching ignores case and the
// listed spelling is returned. With none of them listed: "SQL Server" on
// Windows, "FreeTDS" elsewhere, so the open fails with the manager's own
// message.
QString chooseOdbcDriver(const QStringList &installed, OdbcPlatform platform);

// The ODBC connection string for `driver` ("FreeTDS", "ODBC Driver 18 for SQL
// Server", ...), with every value quoted by odbcQuote.
QString odbcConnectionString(const QString &driver, const ConnectParams &p);

// FreeTDS reads a braced value up to the first "};" without undoubling "}}",
// so its values are braced as they stand, and one holding "};" cannot be
// passed at all: connectionValueRepresentable() says whether `value` can.
bool isFreeTdsDriver(const QString &driver);
bool connectionValueRepresentable(const QString &driver, const QString &value);

// Removes the driver's leading "[vendor][component]" prefixes from a
// diagnostic message: "[FreeTDS][SQL Server]Invalid object name 't'." ->
// "Invalid object name 't'.".
QString stripDriverPrefixes(const QString &message);

} // namespace dv
