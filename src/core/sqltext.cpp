#include "sqltext.h"

namespace dv {

namespace {

bool isQuote(QChar c)
{
    return c == u'\'' || c == u'"' || c == u'`';
}

// Characters that end an unquoted marker name. Only the plain blank counts:
// a tab stays part of the name, as the command parser always did.
bool endsName(QChar c)
{
    return c == u' ' || c == u'\r' || c == u'\n' || c == u')' || c == u',' || c == u';';
}

// Index just past the quote that closes the one at `open`, or the end.
qsizetype skipQuoted(const QString &s, qsizetype open)
{
    const qsizetype close = s.indexOf(s.at(open), open + 1);
    return close < 0 ? s.size() : close + 1;
}

} // namespace

MarkerScan scanParameterMarkers(const QString &text)
{
    MarkerScan out;
    out.text.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (isQuote(c)) {
            const qsizetype end = skipQuoted(text, i);
            out.text += QStringView(text).mid(i, end - i);
            i = end;
            continue;
        }
        if (c != u':') {
            out.text += c;
            ++i;
            continue;
        }
        if (i + 1 < n && text.at(i + 1) == u':') {
            out.text += QStringLiteral("::");
            i += 2;
            continue;
        }
        // A marker: ':' followed by its name.
        const qsizetype start = i + 1;
        qsizetype end = start;
        if (start < n && isQuote(text.at(start))) {
            end = skipQuoted(text, start);
        } else {
            while (end < n && !endsName(text.at(end)))
                ++end;
        }
        out.names << text.mid(start, end - start);
        out.text += u'?';
        i = end;
    }
    return out;
}

namespace {

// Whether an attribute value must be braced to reach the driver unchanged.
bool needsBraces(const QString &value)
{
    return value.contains(u';') || value.contains(u'{') || value.contains(u'}') || value.contains(u'=')
           || (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()));
}

} // namespace

QString odbcQuote(const QString &value)
{
    if (!needsBraces(value))
        return value;
    QString v = value;
    v.replace(QStringLiteral("}"), QStringLiteral("}}"));
    return u'{' + v + u'}';
}

ServerAddress parseServerName(const QString &server)
{
    ServerAddress a;
    QString rest = server.trimmed();
    const qsizetype comma = rest.indexOf(u',');
    if (comma >= 0) {
        bool ok = false;
        const int port = rest.mid(comma + 1).trimmed().toInt(&ok);
        if (!ok || port <= 0 || port > 65535)
            return a;
        a.port = port;
        rest.truncate(comma);
    }
    const qsizetype slash = rest.indexOf(u'\\');
    if (slash >= 0) {
        a.instance = rest.mid(slash + 1).trimmed();
        rest.truncate(slash);
        if (a.instance.isEmpty())
            return a;
    }
    a.host = rest.trimmed();
    a.valid = !a.host.isEmpty();
    return a;
}

namespace {

// FreeTDS ends a braced value at the first "}" that is followed by ";" and
// takes everything before it literally: "}" must not be doubled there, and a
// value holding "};" cannot be given at all (see freetdsCanQuote).
QString freetdsQuote(const QString &value)
{
    return needsBraces(value) ? u'{' + value + u'}' : value;
}

} // namespace

bool isFreeTdsDriver(const QString &driver)
{
    return driver.contains(QStringLiteral("FreeTDS"), Qt::CaseInsensitive);
}

bool connectionValueRepresentable(const QString &driver, const QString &value)
{
    return !isFreeTdsDriver(driver) || !value.contains(QStringLiteral("};"));
}

QString chooseOdbcDriver(const QStringList &installed, OdbcPlatform platform)
{
    QList<QLatin1String> preferred{QLatin1String("ODBC Driver 18 for SQL Server"),
                                   QLatin1String("ODBC Driver 17 for SQL Server")};
    if (platform == OdbcPlatform::Windows)
        preferred << QLatin1String("SQL Server");
    preferred << QLatin1String("FreeTDS");
    for (const QLatin1String &want : preferred)
        for (const QString &name : installed)
            if (name.compare(want, Qt::CaseInsensitive) == 0)
                return name;
    return platform == OdbcPlatform::Windows ? QStringLiteral("SQL Server") : QStringLiteral("FreeTDS");
}

QString odbcConnectionString(const QString &driver, const ConnectParams &p)
{
    const ServerAddress a = parseServerName(p.server);
    const bool freetds = isFreeTdsDriver(driver);
    const auto quote = freetds ? freetdsQuote : odbcQuote;
    QString s = QStringLiteral("DRIVER={") + driver + QStringLiteral("};");
    if (freetds) {
        // An explicit port wins over the instance name (no SQL Browser lookup
        // then); with neither, SQL Server's default port.
        if (a.port > 0)
            s += QStringLiteral("SERVER=") + quote(a.host) + QStringLiteral(";PORT=")
                 + QString::number(a.port) + u';';
        else if (!a.instance.isEmpty())
            s += QStringLiteral("SERVER=") + quote(a.host + u'\\' + a.instance) + u';';
        else
            s += QStringLiteral("SERVER=") + quote(a.host) + QStringLiteral(";PORT=1433;");
    } else {
        QString server = a.host;
        if (!a.instance.isEmpty())
            server += u'\\' + a.instance;
        if (a.port > 0)
            server += u',' + QString::number(a.port);
        s += QStringLiteral("SERVER=") + quote(server) + u';';
    }
    if (p.integrated)
        s += QStringLiteral("Trusted_Connection=Yes;");
    else
        s += QStringLiteral("UID=") + quote(p.user) + QStringLiteral(";PWD=") + quote(p.password) + u';';
    if (freetds)
        s += QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8;");
    else if (driver.contains(QStringLiteral("18")))
        // Driver 18 encrypts by default and checks the certificate; the tool
        // has always logged in to servers without a trusted certificate.
        s += QStringLiteral("Encrypt=Optional;TrustServerCertificate=Yes;");
    else if (driver.contains(QStringLiteral("17")))
        s += QStringLiteral("TrustServerCertificate=Yes;");
    // Windows' own "SQL Server" driver takes just the server and the login.
    return s;
}

QString stripDriverPrefixes(const QString &message)
{
    qsizetype i = 0;
    while (i < message.size() && message.at(i) == u'[') {
        const qsizetype close = message.indexOf(u']', i);
        if (close < 0)
            break;
        i = close + 1;
    }
    return message.mid(i);
}

} // namespace dv
