#include "odbcclient.h"

#include "resultset.h"
#include "core/sqltext.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

// Windows' ODBC headers use its types without including their header.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <type_traits>
#include <vector>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16 wide characters");

namespace dv {

namespace {

// SQL Server's own type codes that the drivers report beyond ODBC's.
constexpr SQLSMALLINT kSsUdt = -151;
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

// Columns wider than this are read in chunks with SQLGetData.
constexpr SQLULEN kMaxBoundChars = 4000;
constexpr SQLULEN kMaxBoundBytes = 8000;
// Rows per block fetch, and the buffer budget that may lower it for wide rows.
constexpr SQLULEN kMaxRowArray = 512;
constexpr size_t kRowArrayBudget = 8u << 20;

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

const SQLWCHAR *wstr(const QString &s) { return reinterpret_cast<const SQLWCHAR *>(s.utf16()); }

QString fromW(const SQLWCHAR *s, qsizetype len) { return QString(reinterpret_cast<const QChar *>(s), len); }

// A move-only ODBC handle; freed in the destructor, which never throws.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type)
    {
        if (!ok(SQLAllocHandle(type, parent, &m_h))) {
            m_h = SQL_NULL_HANDLE;
            throw DbError(QStringLiteral("Cannot allocate an ODBC handle"), QStringLiteral("HY001"));
        }
    }
    ~Handle() { reset(); }
    Handle(Handle &&o) noexcept : m_type(o.m_type), m_h(o.m_h) { o.m_h = SQL_NULL_HANDLE; }
    Handle &operator=(Handle &&o) noexcept
    {
        if (this != &o) {
            reset();
            m_type = o.m_type;
            m_h = o.m_h;
            o.m_h = SQL_NULL_HANDLE;
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    void reset() noexcept
    {
        if (m_h != SQL_NULL_HANDLE)
            SQLFreeHandle(m_type, m_h);
        m_h = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return m_h; }
    SQLSMALLINT type() const { return m_type; }
    explicit operator bool() const { return m_h != SQL_NULL_HANDLE; }

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_h = SQL_NULL_HANDLE;
};

struct DiagRecord {
    QString state;
    int native = 0;
    QString message;
};

// Every diagnostic record of the handle's last call, in order.
QList<DiagRecord> diagnostics(SQLSMALLINT type, SQLHANDLE h)
{
    QList<DiagRecord> out;
    if (h == SQL_NULL_HANDLE)
        return out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> msg(1024);
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, h, i, state, &native, msg.data(), SQLSMALLINT(msg.size()), &len);
        if (rc == SQL_SUCCESS_WITH_INFO && len >= SQLSMALLINT(msg.size())) {
            msg.resize(size_t(len) + 1);
            rc = SQLGetDiagRecW(type, h, i, state, &native, msg.data(), SQLSMALLINT(msg.size()), &len);
        }
        if (!ok(rc))
            break;
        len = qMin<SQLSMALLINT>(len, SQLSMALLINT(msg.size() - 1));
        out << DiagRecord{fromW(state, 5), int(native), stripDriverPrefixes(fromW(msg.data(), len))};
    }
    return out;
}

bool isInformational(const DiagRecord &r) { return r.state.startsWith(QLatin1String("01")); }

// One error from the records of failed calls: messages joined with "\n",
// informational ones left out, the first error's SQLSTATE and number kept.
DbError makeError(const QList<DiagRecord> &records, const QString &fallback)
{
    QStringList messages;
    QString state;
    int native = 0;
    for (const DiagRecord &r : records) {
        if (isInformational(r))
            continue;
        if (messages.isEmpty()) {
            state = r.state;
            native = r.native;
        }
        messages << r.message;
    }
    if (messages.isEmpty())
        return DbError(fallback, QStringLiteral("HY000"));
    return DbError(messages.join(u'\n'), state, native);
}

bool reportsLinkLoss(const QList<DiagRecord> &records)
{
    for (const DiagRecord &r : records)
        if (r.state == QLatin1String("08S01"))
            return true;
    return false;
}

QString columnText(SQLHSTMT st, SQLUSMALLINT col, SQLUSMALLINT field)
{
    SQLWCHAR buf[512];
    SQLSMALLINT len = 0;
    if (!ok(SQLColAttributeW(st, col, field, buf, SQLSMALLINT(sizeof buf), &len, nullptr)))
        return {};
    const qsizetype chars = qMin<qsizetype>(len / qsizetype(sizeof(SQLWCHAR)), qsizetype(std::size(buf)) - 1);
    return fromW(buf, chars);
}

SQLLEN columnNumber(SQLHSTMT st, SQLUSMALLINT col, SQLUSMALLINT field)
{
    SQLLEN v = 0;
    if (!ok(SQLColAttributeW(st, col, field, nullptr, 0, nullptr, &v)))
        return 0;
    return v;
}

ValueKind kindOf(SQLSMALLINT type)
{
    switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return ValueKind::Integer;
    case SQL_BIT: return ValueKind::Boolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return ValueKind::Double;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return ValueKind::Decimal;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return ValueKind::Binary;
    case SQL_TYPE_DATE:
    case SQL_DATE: return ValueKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSsTime2: return ValueKind::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return ValueKind::DateTime;
    default: return ValueKind::Text; // chars, xml, guid, datetimeoffset, sql_variant, ...
    }
}

// FreeTDS writes the year of a date it converts to text as a plain number
// ("1-01-01 00:00:00.0000000" for datetime2 '0001-01-01'); SQL Server's text,
// which the server reads back as the same value, has four digits.
// missingYearDigits gives the zeros to put in front, 0 for a four-digit year
// (the common case, stored without a copy).
qsizetype missingYearDigits(QStringView s)
{
    const qsizetype dash = s.indexOf(u'-');
    if (dash < 1 || dash > 3)
        return 0;
    for (qsizetype i = 0; i < dash; ++i)
        if (!s[i].isDigit())
            return 0;
    return 4 - dash;
}

void addDateText(ResultSet &rs, QStringView s)
{
    if (const qsizetype zeros = missingYearDigits(s)) {
        QString padded(zeros, u'0');
        padded.append(s);
        rs.addText(reinterpret_cast<const char16_t *>(padded.utf16()), padded.size());
    } else {
        rs.addText(s.utf16(), s.size());
    }
}

// FreeTDS describes a column of a CLR type (hierarchyid, geography, geometry
// or a user's) as long varbinary without a type name, where the server's own
// driver says SQL_SS_UDT; the bytes are the value as stored. Varbinary and
// image columns carry their type's name.
void markClrType(ColumnInfo &ci)
{
    if (ci.sqlType == SQL_LONGVARBINARY && ci.typeName.isEmpty())
        ci.sqlType = kSsUdt;
}

// How one column is moved from the driver into the ResultSet.
struct ColumnBinding {
    ValueKind kind;
    bool dateText = false; // a date or date-time the driver gives as text
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLLEN width = 0;  // bytes per row in the bound buffer; 0 = read with SQLGetData
    std::vector<char> data;
    std::vector<SQLLEN> ind;
};

SQLSMALLINT cTypeOf(ValueKind k)
{
    switch (k) {
    case ValueKind::Integer: return SQL_C_SBIGINT;
    case ValueKind::Boolean: return SQL_C_BIT;
    case ValueKind::Double: return SQL_C_DOUBLE;
    case ValueKind::Date: return SQL_C_TYPE_DATE;
    // Time columns come as timestamps: the time part keeps milliseconds,
    // which the driver's time structure would drop.
    case ValueKind::Time:
    case ValueKind::DateTime: return SQL_C_TYPE_TIMESTAMP;
    case ValueKind::Binary: return SQL_C_BINARY;
    case ValueKind::Decimal:
    case ValueKind::Text: return SQL_C_WCHAR;
    }
    return SQL_C_WCHAR;
}

SQLLEN fixedWidth(SQLSMALLINT cType)
{
    switch (cType) {
    case SQL_C_SBIGINT: return sizeof(SQLBIGINT);
    case SQL_C_BIT: return sizeof(unsigned char);
    case SQL_C_DOUBLE: return sizeof(double);
    case SQL_C_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    default: return 0;
    }
}

// Adds one non-NULL fixed-size cell from its C buffer.
void addFixed(ResultSet &rs, ValueKind kind, SQLSMALLINT cType, const char *p)
{
    switch (cType) {
    case SQL_C_SBIGINT: {
        SQLBIGINT v;
        std::memcpy(&v, p, sizeof v);
        rs.addInteger(v);
        return;
    }
    case SQL_C_BIT: rs.addInteger(*reinterpret_cast<const unsigned char *>(p) ? 1 : 0); return;
    case SQL_C_DOUBLE: {
        double v;
        std::memcpy(&v, p, sizeof v);
        rs.addDouble(v);
        return;
    }
    case SQL_C_TYPE_DATE: {
        SQL_DATE_STRUCT v;
        std::memcpy(&v, p, sizeof v);
        rs.addDate(v.year, v.month, v.day);
        return;
    }
    case SQL_C_TYPE_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT v;
        std::memcpy(&v, p, sizeof v);
        const int ms = int(v.fraction / 1000000);
        if (kind == ValueKind::Time)
            rs.addTime(v.hour, v.minute, v.second, ms);
        else
            rs.addDateTime(v.year, v.month, v.day, v.hour, v.minute, v.second, ms);
        return;
    }
    default: rs.addNull(); return;
    }
}

// One typed parameter value with buffers that live until the batch is done.
struct ParamBuffer {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN columnSize = 1;
    SQLSMALLINT digits = 0;
    SQLLEN ind = 0;
    SQLBIGINT i64 = 0;
    double dbl = 0;
    unsigned char bit = 0;
    SQL_DATE_STRUCT date{};
    SQL_TIMESTAMP_STRUCT ts{};
    QString text;
    QByteArray bytes;
    void *ptr = nullptr;
    SQLLEN bufLen = 0;
};

// A fixed-size value bound from its own field of p.
template <typename T>
void bindFixed(ParamBuffer &p, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN columnSize, T &field,
               std::type_identity_t<T> value)
{
    p.cType = cType;
    p.sqlType = sqlType;
    p.columnSize = columnSize;
    field = value;
    p.ptr = &field;
    p.bufLen = sizeof field;
    p.ind = 0;
}

void describeParam(const QVariant &v, ParamBuffer &p)
{
    const bool null = v.isNull();
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        bindFixed(p, SQL_C_SBIGINT, SQL_BIGINT, 19, p.i64, v.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        bindFixed(p, SQL_C_DOUBLE, SQL_FLOAT, 53, p.dbl, v.toDouble());
        break;
    case QMetaType::Bool:
        bindFixed(p, SQL_C_BIT, SQL_BIT, 1, p.bit, v.toBool() ? 1 : 0);
        break;
    case QMetaType::QByteArray:
        p.bytes = v.toByteArray();
        p.cType = SQL_C_BINARY;
        p.sqlType = p.bytes.size() > qsizetype(kMaxBoundBytes) ? SQL_LONGVARBINARY : SQL_VARBINARY;
        p.columnSize = SQLULEN(qMax<qsizetype>(p.bytes.size(), 1));
        p.ptr = p.bytes.data();
        p.bufLen = SQLLEN(p.bytes.size());
        p.ind = SQLLEN(p.bytes.size());
        break;
    case QMetaType::QDate: {
        const QDate d = v.toDate();
        bindFixed(p, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, p.date,
                  SQL_DATE_STRUCT{SQLSMALLINT(d.year()), SQLUSMALLINT(d.month()), SQLUSMALLINT(d.day())});
        break;
    }
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        const QDate d = dt.date();
        const QTime t = dt.time();
        bindFixed(p, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, p.ts,
                  SQL_TIMESTAMP_STRUCT{SQLSMALLINT(d.year()), SQLUSMALLINT(d.month()), SQLUSMALLINT(d.day()),
                                       SQLUSMALLINT(t.hour()), SQLUSMALLINT(t.minute()), SQLUSMALLINT(t.second()),
                                       SQLUINTEGER(t.msec()) * 1000000u});
        p.digits = 3;
        break;
    }
    default: {
        // Texts, and everything else as its text form (times, decimals given
        // as text); the server converts to the target column's type.
        if (v.typeId() == QMetaType::QTime)
            p.text = v.toTime().toString(QStringLiteral("hh:mm:ss.zzz"));
        else
            p.text = v.toString();
        const qsizetype units = p.text.size();
        p.cType = SQL_C_WCHAR;
        p.sqlType = units > qsizetype(kMaxBoundChars) ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        p.columnSize = SQLULEN(qMax<qsizetype>(units, 1));
        p.ptr = const_cast<ushort *>(p.text.utf16());
        p.bufLen = SQLLEN(units * 2);
        p.ind = SQLLEN(units * 2);
        break;
    }
    }
    if (null) {
        p.ind = SQL_NULL_DATA;
        if (!v.isValid()) {
            p.cType = SQL_C_WCHAR;
            p.sqlType = SQL_WVARCHAR;
            p.columnSize = 1;
        }
    }
}

} // namespace

struct OdbcConnection::Impl {
    Handle env;
    Handle dbc;
    // Opened and not yet closed: only open() and close() change it, so the
    // window's logged-in state never changes under the operator's feet.
    bool connected = false;
    // The driver reported the link to the server lost. The connection stays
    // "connected" until it is closed; every statement fails at once.
    bool linkLost = false;
    QString driver;

    void requireOpen() const
    {
        if (!connected)
            throw DbError(QStringLiteral("Connection is closed"), QStringLiteral("08003"));
        if (linkLost)
            throw DbError(QStringLiteral("Communication link failure"), QStringLiteral("08S01"));
    }

    // Checks a call on `h`; throws its diagnostics when it failed.
    void check(SQLRETURN rc, const Handle &h, const char *what)
    {
        if (ok(rc) || rc == SQL_NO_DATA)
            return;
        const QList<DiagRecord> recs = diagnostics(h.type(), h.get());
        noteLinkLoss(recs);
        throw makeError(recs, QString::fromLatin1(what) + QStringLiteral(" failed"));
    }

    void noteLinkLoss(const QList<DiagRecord> &recs)
    {
        if (reportsLinkLoss(recs))
            linkLost = true;
    }

    // FreeTDS reports a dropped socket as "Unknown error" (HY000) rather than
    // 08S01; the driver's dead-connection flag tells the truth.
    bool linkDead() const
    {
        if (!dbc)
            return true;
        SQLUINTEGER dead = SQL_CD_FALSE;
        if (!ok(SQLGetConnectAttrW(dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)))
            return false;
        return dead == SQL_CD_TRUE;
    }

    // What a batch has given so far while its results are walked: the
    // results, and the records of every call that returned SQL_ERROR.
    struct Batch {
        RunResult result;
        QList<DiagRecord> errors;
        bool failed = false;
    };

    RunResult run(const Statement &st, bool wantRows);
    void bindParameters(const Handle &stmt, const Statement &st, std::deque<ParamBuffer> &buffers);
    void walkResults(SQLHSTMT h, const Statement &st, bool wantRows, Batch &batch);
    bool readResult(SQLHSTMT h, const Statement &st, bool wantRows, Batch &batch);
    bool noteMoreResultsError(SQLHSTMT h, Batch &batch);
    void noteError(Batch &batch, const QList<DiagRecord> &recs);
    bool walkEnded(const Batch &batch) const;
    [[noreturn]] void throwBatchError(QList<DiagRecord> errors);
    std::shared_ptr<ResultSet> fetchAll(SQLHSTMT st, SQLSMALLINT ncols, QList<DiagRecord> &errors, bool &failed);
};

OdbcConnection::OdbcConnection() : d(new Impl) {}

OdbcConnection::~OdbcConnection() { close(); }

QString OdbcConnection::driverName() const { return d->driver; }

bool OdbcConnection::isConnected() const { return d->connected; }

QString OdbcConnection::currentDatabase() const
{
    if (!d->connected || !d->dbc)
        return {};
    SQLWCHAR buf[260] = {};
    SQLINTEGER len = 0;
    if (!ok(SQLGetConnectAttrW(d->dbc.get(), SQL_ATTR_CURRENT_CATALOG, buf, SQLINTEGER(sizeof buf), &len)))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(buf),
                              qMin<qsizetype>(len / qsizetype(sizeof(SQLWCHAR)), 259));
}

void OdbcConnection::close()
{
    if (d->dbc) {
        // Also after a lost link: the driver manager frees only a
        // disconnected handle. Over TDS 7 the driver sends nothing here, so a
        // dead or silent peer cannot hold the window up.
        SQLDisconnect(d->dbc.get());
        d->dbc.reset();
    }
    d->connected = false;
    d->linkLost = false;
}

void OdbcConnection::open(const ConnectParams &params)
{
    close();
    if (!d->env) {
        d->env = Handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        SQLSetEnvAttr(d->env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    const ServerAddress addr = parseServerName(params.server);
    if (!addr.valid)
        throw DbError(QStringLiteral("Invalid server name \"%1\"").arg(params.server), QStringLiteral("08001"));

    d->driver = chooseOdbcDriver(installedOdbcDrivers());
    if (!params.integrated
        && (!connectionValueRepresentable(d->driver, params.user)
            || !connectionValueRepresentable(d->driver, params.password)))
        throw DbError(QStringLiteral("The %1 driver cannot take a user name or password that contains \"};\"")
                          .arg(d->driver),
                      QStringLiteral("28000"));

    Handle dbc(SQL_HANDLE_DBC, d->env.get());
    const SQLULEN timeout = SQLULEN(qMax(0, params.loginTimeoutSec));
    SQLSetConnectAttrW(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    SQLSetConnectAttrW(dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    SQLSetConnectAttrW(dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);

    const QString cs = odbcConnectionString(d->driver, params);
    SQLWCHAR out[1024];
    SQLSMALLINT outLen = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc.get(), nullptr, const_cast<SQLWCHAR *>(wstr(cs)), SQLSMALLINT(cs.size()),
                                           out, SQLSMALLINT(std::size(out)), &outLen, SQL_DRIVER_NOPROMPT);
    if (!ok(rc))
        throw makeError(diagnostics(SQL_HANDLE_DBC, dbc.get()), QStringLiteral("Login failed"));
    d->dbc = std::move(dbc);
    d->connected = true;
    d->linkLost = false;
}

RunResult OdbcConnection::execute(const Statement &st) { return d->run(st, false); }

RunResult OdbcConnection::open(const Statement &st) { return d->run(st, true); }

RunResult OdbcConnection::Impl::run(const Statement &st, bool wantRows)
{
    requireOpen();
    // FreeTDS fails a batch with an unbound marker without any diagnostic,
    // so the missing value is reported here and the driver is not called.
    if (st.markerCount > st.params.size())
        throw DbError(QStringLiteral("COUNT field incorrect or syntax error: the statement has %1 parameter "
                                     "marker(s) but %2 value(s)")
                          .arg(st.markerCount)
                          .arg(st.params.size()),
                      QStringLiteral("07002"));

    Handle stmt(SQL_HANDLE_STMT, dbc.get());
    SQLSetStmtAttrW(stmt.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(qMax(0, st.timeoutSec))),
                    0);
    std::deque<ParamBuffer> buffers;
    bindParameters(stmt, st, buffers);

    Batch batch;
    walkResults(stmt.get(), st, wantRows, batch);
    if (batch.failed)
        throwBatchError(std::move(batch.errors));
    if (wantRows && !batch.result.rows)
        throw DbError(QString::fromLatin1(kNoResultSetText));
    return batch.result;
}

// Binds one input parameter per marker; `buffers` holds the values until the
// statement has run.
void OdbcConnection::Impl::bindParameters(const Handle &stmt, const Statement &st, std::deque<ParamBuffer> &buffers)
{
    for (int i = 0; i < st.markerCount; ++i) {
        ParamBuffer &p = buffers.emplace_back();
        describeParam(st.params[i], p);
        check(SQLBindParameter(stmt.get(), SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, p.cType, p.sqlType, p.columnSize,
                               p.digits, p.ptr, p.bufLen, &p.ind),
              stmt, "SQLBindParameter");
    }
}

// Executes the batch and walks its results until the driver has no more:
// stopping early would drop the errors of the batch's later statements.
void OdbcConnection::Impl::walkResults(SQLHSTMT h, const Statement &st, bool wantRows, Batch &batch)
{
    SQLRETURN rc = SQLExecDirectW(h, const_cast<SQLWCHAR *>(wstr(st.text)), SQLINTEGER(st.text.size()));
    bool haveResult = ok(rc);
    if (rc == SQL_ERROR)
        noteError(batch, diagnostics(SQL_HANDLE_STMT, h));
    for (;;) {
        if (haveResult && !readResult(h, st, wantRows, batch))
            break;
        if (batch.failed && walkEnded(batch))
            break;
        rc = SQLMoreResults(h);
        if (rc == SQL_NO_DATA || rc == SQL_INVALID_HANDLE)
            break;
        haveResult = ok(rc);
        if (rc == SQL_ERROR && !noteMoreResultsError(h, batch))
            break;
    }
}

// Reads the current result: its rows when they are wanted, else the count of
// rows a statement without rows affected. False when the link was lost while
// reading rows.
bool OdbcConnection::Impl::readResult(SQLHSTMT h, const Statement &st, bool wantRows, Batch &batch)
{
    RunResult &result = batch.result;
    SQLSMALLINT ncols = 0;
    SQLNumResultCols(h, &ncols);
    if (ncols > 0) {
        if (wantRows && (!result.rows || st.allResults)) {
            auto rows = fetchAll(h, ncols, batch.errors, batch.failed);
            if (!result.rows)
                result.rows = rows;
            if (st.allResults)
                result.results.push_back(std::move(rows));
            if (linkLost)
                return false;
        }
        // Other row results: SQLMoreResults discards their rows.
    } else {
        SQLLEN count = -1;
        if (ok(SQLRowCount(h, &count)) && count >= 0)
            result.rowsAffected = qMax<qint64>(result.rowsAffected, 0) + count;
    }
    return true;
}

// Notes the records of a failed SQLMoreResults; false when the walk is over.
bool OdbcConnection::Impl::noteMoreResultsError(SQLHSTMT h, Batch &batch)
{
    const QList<DiagRecord> recs = diagnostics(SQL_HANDLE_STMT, h);
    // After a failed SQLExecDirect some drivers refuse to go on
    // (function sequence error, or nothing said): the batch is over.
    const bool refused = recs.isEmpty() || std::all_of(recs.begin(), recs.end(), [](const DiagRecord &r) {
                             return r.state == QLatin1String("HY010");
                         });
    if (refused && batch.failed)
        return false;
    noteError(batch, recs);
    return true;
}

// The records of a call that returned SQL_ERROR.
void OdbcConnection::Impl::noteError(Batch &batch, const QList<DiagRecord> &recs)
{
    noteLinkLoss(recs);
    batch.errors += recs;
    batch.failed = true;
    if (recs.isEmpty())
        batch.errors << DiagRecord{QStringLiteral("HY000"), 0,
                                   QStringLiteral("The ODBC driver reported a failure without a message")};
}

// A failure of the client side (time-out, cancel, lost link, sequence
// error) ends the walk: the driver has nothing more to give.
bool OdbcConnection::Impl::walkEnded(const Batch &batch) const
{
    if (linkLost)
        return true;
    for (const DiagRecord &r : batch.errors)
        if (r.state.startsWith(QLatin1String("HY")) || r.state.startsWith(QLatin1String("08")))
            return true;
    return false;
}

// Throws the batch's records, adding the lost link the driver only shows in
// its dead-connection flag.
void OdbcConnection::Impl::throwBatchError(QList<DiagRecord> errors)
{
    if (!linkLost && linkDead()) {
        linkLost = true;
        if (!reportsLinkLoss(errors))
            errors << DiagRecord{QStringLiteral("08S01"), 0, QStringLiteral("Communication link failure")};
    }
    throw makeError(errors, QStringLiteral("The batch failed"));
}

namespace {

// Reads one column of the current row with SQLGetData in chunks of `buf` (for
// text, one unit less: the driver ends each chunk with a terminator) and hands
// each chunk to `append`. Sets `isNull` for a NULL; returns the last call's
// result.
template <typename Unit, typename Append>
SQLRETURN readInChunks(SQLHSTMT h, SQLUSMALLINT c, SQLSMALLINT cType, std::vector<Unit> &buf, bool &isNull,
                       Append append)
{
    const SQLLEN unit = SQLLEN(sizeof(Unit));
    const qsizetype room = qsizetype(buf.size()) - (cType == SQL_C_WCHAR ? 1 : 0);
    for (;;) {
        SQLLEN ind = 0;
        const SQLRETURN rc = SQLGetData(h, c, cType, buf.data(), SQLLEN(buf.size()) * unit, &ind);
        if (rc == SQL_NO_DATA || !ok(rc))
            return rc;
        if (ind == SQL_NULL_DATA) {
            isNull = true;
            return rc;
        }
        const bool more = ind == SQL_NO_TOTAL || ind / unit > room;
        append(buf.data(), more ? room : qsizetype(ind / unit));
        if (!more)
            return rc;
    }
}

// A result with a long column: one row at a time, every column through
// SQLGetData, which drivers allow in column order without any binding. Stops
// after the row in which `failed` became true.
template <typename OnError>
void fetchRowByRow(SQLHSTMT h, const std::vector<ColumnBinding> &binds, ResultSet &rs, const bool &failed,
                   OnError noteFetchError)
{
    std::vector<SQLWCHAR> wbuf(2048);
    std::vector<char> bbuf(4096);
    for (;;) {
        SQLRETURN rc = SQLFetch(h);
        if (rc == SQL_NO_DATA)
            break;
        if (!ok(rc)) {
            noteFetchError(rc);
            break;
        }
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(binds.size()); ++c) {
            const ColumnBinding &b = binds[c - 1];
            if (b.cType == SQL_C_WCHAR || b.cType == SQL_C_BINARY) {
                const bool text = b.cType == SQL_C_WCHAR;
                QString s;
                QByteArray bytes;
                bool isNull = false;
                rc = text ? readInChunks(h, c, SQL_C_WCHAR, wbuf, isNull,
                                         [&](const SQLWCHAR *p, qsizetype n) { s += fromW(p, n); })
                          : readInChunks(h, c, SQL_C_BINARY, bbuf, isNull,
                                         [&](const char *p, qsizetype n) { bytes.append(p, n); });
                if (rc == SQL_ERROR) {
                    noteFetchError(rc);
                    rs.addNull();
                } else if (isNull) {
                    rs.addNull();
                } else if (text && b.dateText) {
                    addDateText(rs, s);
                } else if (text) {
                    rs.addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
                } else {
                    rs.addBytes(bytes.constData(), bytes.size());
                }
            } else {
                alignas(8) char buf[sizeof(SQL_TIMESTAMP_STRUCT) + 8];
                SQLLEN ind = 0;
                rc = SQLGetData(h, c, b.cType, buf, sizeof buf, &ind);
                if (!ok(rc)) {
                    if (rc == SQL_ERROR)
                        noteFetchError(rc);
                    rs.addNull();
                } else if (ind == SQL_NULL_DATA) {
                    rs.addNull();
                } else {
                    addFixed(rs, b.kind, b.cType, buf);
                }
            }
        }
        rs.endRow();
        if (failed)
            break;
    }
}

// A result of bounded columns: block fetches into column-wise bound arrays.
template <typename OnError>
void fetchBlocks(SQLHSTMT h, std::vector<ColumnBinding> &binds, size_t rowBytes, ResultSet &rs,
                 OnError noteFetchError)
{
    const SQLULEN arraySize = qBound<SQLULEN>(1, SQLULEN(kRowArrayBudget / qMax<size_t>(rowBytes, 1)), kMaxRowArray);
    for (ColumnBinding &b : binds) {
        b.data.resize(size_t(b.width) * arraySize);
        b.ind.resize(arraySize);
    }
    SQLULEN fetched = 0;
    std::vector<SQLUSMALLINT> status(arraySize);
    SQLSetStmtAttrW(h, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    SQLRETURN rc = SQLSetStmtAttrW(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(arraySize), 0);
    SQLULEN rowsPerFetch = arraySize;
    if (!ok(rc))
        rowsPerFetch = 1;
    SQLSetStmtAttrW(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLSetStmtAttrW(h, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(binds.size()); ++c) {
        ColumnBinding &b = binds[c - 1];
        SQLBindCol(h, c, b.cType, b.data.data(), b.width, b.ind.data());
    }
    for (;;) {
        fetched = 0;
        rc = SQLFetch(h);
        if (rc == SQL_NO_DATA)
            break;
        if (!ok(rc)) {
            noteFetchError(rc);
            break;
        }
        const SQLULEN n = qMin(fetched, rowsPerFetch);
        for (SQLULEN r = 0; r < n; ++r) {
            if (status[r] == SQL_ROW_NOROW || status[r] == SQL_ROW_ERROR)
                continue;
            for (const ColumnBinding &b : binds) {
                const SQLLEN ind = b.ind[r];
                const char *p = b.data.data() + size_t(b.width) * r;
                if (ind == SQL_NULL_DATA) {
                    rs.addNull();
                } else if (b.cType == SQL_C_WCHAR) {
                    const SQLLEN maxChars = b.width / SQLLEN(sizeof(SQLWCHAR)) - 1;
                    const SQLLEN chars = ind == SQL_NO_TOTAL ? maxChars : qMin(ind / SQLLEN(sizeof(SQLWCHAR)), maxChars);
                    if (b.dateText)
                        addDateText(rs, QStringView(reinterpret_cast<const char16_t *>(p), chars));
                    else
                        rs.addText(reinterpret_cast<const char16_t *>(p), chars);
                } else if (b.cType == SQL_C_BINARY) {
                    const SQLLEN len = ind == SQL_NO_TOTAL ? b.width : qMin(ind, b.width);
                    rs.addBytes(p, len);
                } else {
                    addFixed(rs, b.kind, b.cType, p);
                }
            }
            rs.endRow();
        }
    }
    // The buffers die with the caller's bindings: detach them before the walk goes on.
    SQLFreeStmt(h, SQL_UNBIND);
    SQLSetStmtAttrW(h, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttrW(h, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttrW(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
}

} // namespace

std::shared_ptr<ResultSet> OdbcConnection::Impl::fetchAll(SQLHSTMT h, SQLSMALLINT ncols, QList<DiagRecord> &errors,
                                                          bool &failed)
{
    QVector<ColumnInfo> cols;
    std::vector<ColumnBinding> binds;
    bool anyLong = false;
    size_t rowBytes = 0;
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(ncols); ++c) {
        SQLWCHAR name[512];
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
        SQLULEN size = 0;
        SQLDescribeColW(h, c, name, SQLSMALLINT(std::size(name)), &nameLen, &type, &size, &digits, &nullable);
        ColumnInfo ci;
        ci.name = fromW(name, qMin<qsizetype>(nameLen, qsizetype(std::size(name)) - 1));
        ci.sqlType = type;
        ci.kind = kindOf(type);
        if (type == kSsTimestampOffset || type == kSsXml)
            ci.kind = ValueKind::Text;
        // Fractions finer than a millisecond (datetime2, time) do not fit the
        // client's date and time values: such columns are carried as the
        // server's exact text, and written back as text the server converts.
        if ((ci.kind == ValueKind::DateTime || ci.kind == ValueKind::Time) && digits > 3)
            ci.kind = ValueKind::Text;
        ci.size = qint64(size);
        ci.scale = digits;
        ci.nullable = nullable != SQL_NO_NULLS;
        ci.typeName = columnText(h, c, SQL_DESC_TYPE_NAME);
        markClrType(ci);
        ci.autoIncrement = columnNumber(h, c, SQL_DESC_AUTO_UNIQUE_VALUE) == SQL_TRUE;
        ci.baseTable = columnText(h, c, SQL_DESC_BASE_TABLE_NAME);
        ci.baseColumn = columnText(h, c, SQL_DESC_BASE_COLUMN_NAME);
        ci.baseSchema = columnText(h, c, SQL_DESC_SCHEMA_NAME);
        ci.baseCatalog = columnText(h, c, SQL_DESC_CATALOG_NAME);
        cols << ci;

        ColumnBinding b;
        b.kind = ci.kind;
        b.dateText = ci.kind == ValueKind::Text
                     && (type == SQL_TYPE_TIMESTAMP || type == SQL_TIMESTAMP || type == SQL_TYPE_DATE
                         || type == kSsTimestampOffset);
        b.cType = cTypeOf(ci.kind);
        if (b.cType == SQL_C_WCHAR) {
            // Decimals need room for sign, point and a leading zero.
            const SQLULEN chars = ci.kind == ValueKind::Decimal ? size + 4 : size;
            if (size > 0 && chars <= kMaxBoundChars)
                b.width = SQLLEN((chars + 1) * sizeof(SQLWCHAR));
        } else if (b.cType == SQL_C_BINARY) {
            if (size > 0 && size <= kMaxBoundBytes)
                b.width = SQLLEN(size);
        } else {
            b.width = fixedWidth(b.cType);
        }
        if (b.width == 0)
            anyLong = true;
        rowBytes += size_t(b.width) + sizeof(SQLLEN);
        binds.push_back(std::move(b));
    }
    auto rs = std::make_shared<ResultSet>(cols);

    auto noteFetchError = [&](SQLRETURN rc) {
        const QList<DiagRecord> recs = diagnostics(SQL_HANDLE_STMT, h);
        noteLinkLoss(recs);
        errors += recs;
        if (rc == SQL_ERROR)
            failed = true;
    };

    if (anyLong)
        fetchRowByRow(h, binds, *rs, failed, noteFetchError);
    else
        fetchBlocks(h, binds, rowBytes, *rs, noteFetchError);
    return rs;
}

QStringList installedOdbcDrivers()
{
    QStringList out;
    SQLHENV env = SQL_NULL_HANDLE;
    if (!ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return out;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLWCHAR name[256];
    SQLWCHAR attrs[1024];
    SQLSMALLINT nameLen = 0, attrLen = 0;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    while (ok(SQLDriversW(env, dir, name, SQLSMALLINT(std::size(name)), &nameLen, attrs, SQLSMALLINT(std::size(attrs)),
                          &attrLen))) {
        out << fromW(name, qMin<qsizetype>(nameLen, qsizetype(std::size(name)) - 1));
        dir = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return out;
}

QString chooseOdbcDriver(const QStringList &installed) { return chooseOdbcDriver(installed, kThisOdbcPlatform); }

std::unique_ptr<Connection> makeOdbcConnection() { return std::make_unique<OdbcConnection>(); }

} // namespace dv
