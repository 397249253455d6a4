#include "resultset.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <bit>
#include <charconv>
#include <unordered_map>
#include <vector>

namespace dv {

namespace {

// Rows per page. Large enough that per-page overhead vanishes, small enough
// that a growing result never copies more than one page's buffers at a time.
constexpr qint64 kPageRows = 4096;
constexpr qint64 kMsPerDay = 86400000;

bool isVarKind(ValueKind k)
{
    return k == ValueKind::Text || k == ValueKind::Decimal || k == ValueKind::Binary;
}

QMetaType metaTypeOf(ValueKind k)
{
    switch (k) {
    case ValueKind::Integer: return QMetaType::fromType<qint64>();
    case ValueKind::Boolean: return QMetaType::fromType<bool>();
    case ValueKind::Double: return QMetaType::fromType<double>();
    case ValueKind::Decimal:
    case ValueKind::Text: return QMetaType::fromType<QString>();
    case ValueKind::Binary: return QMetaType::fromType<QByteArray>();
    case ValueKind::Date: return QMetaType::fromType<QDate>();
    case ValueKind::Time: return QMetaType::fromType<QTime>();
    case ValueKind::DateTime: return QMetaType::fromType<QDateTime>();
    }
    return QMetaType::fromType<QString>();
}

// Fixed-size kinds are kept as one 64-bit word: integers and booleans as
// themselves, doubles by their bits, dates as Julian days, times as ms of the
// day, date-times as Julian day * ms per day + ms of the day.
qint64 encodeDate(const QDate &d) { return d.toJulianDay(); }
qint64 encodeTime(const QTime &t) { return t.msecsSinceStartOfDay(); }
qint64 encodeDateTime(const QDate &d, const QTime &t)
{
    return d.toJulianDay() * kMsPerDay + (t.isValid() ? t.msecsSinceStartOfDay() : 0);
}

QDate decodeDateTimeDate(qint64 v)
{
    qint64 day = v / kMsPerDay;
    if (v % kMsPerDay < 0)
        --day;
    return QDate::fromJulianDay(day);
}

QTime decodeDateTimeTime(qint64 v)
{
    qint64 ms = v % kMsPerDay;
    if (ms < 0)
        ms += kMsPerDay;
    return QTime::fromMSecsSinceStartOfDay(int(ms));
}

QString timeText(const QTime &t)
{
    return t.toString(t.msec() ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss"));
}

// A value given by an editor, converted to the column's kind. Returns a null
// QVariant of the column's type when the value is null or does not convert.
QVariant toKind(ValueKind k, const QVariant &v)
{
    const QMetaType mt = metaTypeOf(k);
    if (v.isNull())
        return QVariant(mt);
    bool ok = true;
    switch (k) {
    case ValueKind::Integer: {
        const qint64 x = v.toLongLong(&ok);
        return ok ? QVariant::fromValue(x) : QVariant(mt);
    }
    case ValueKind::Boolean:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed().toLower();
            if (s == QLatin1String("1") || s == QLatin1String("true"))
                return QVariant(true);
            if (s == QLatin1String("0") || s == QLatin1String("false"))
                return QVariant(false);
            return QVariant(mt);
        }
        return QVariant(v.toBool());
    case ValueKind::Double: {
        const double x = v.toDouble(&ok);
        return ok ? QVariant(x) : QVariant(mt);
    }
    case ValueKind::Decimal:
    case ValueKind::Text: return QVariant(v.toString());
    case ValueKind::Binary: return QVariant(v.toByteArray());
    case ValueKind::Date: {
        const QDate d = v.typeId() == QMetaType::QString ? QDate::fromString(v.toString(), Qt::ISODate) : v.toDate();
        return d.isValid() ? QVariant(d) : QVariant(mt);
    }
    case ValueKind::Time: {
        QTime t = v.toTime();
        if (v.typeId() == QMetaType::QString) {
            t = QTime::fromString(v.toString(), QStringLiteral("hh:mm:ss.zzz"));
            if (!t.isValid())
                t = QTime::fromString(v.toString(), Qt::ISODate);
        }
        return t.isValid() ? QVariant(t) : QVariant(mt);
    }
    case ValueKind::DateTime: {
        QDateTime dt = v.toDateTime();
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString();
            dt = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
            if (!dt.isValid())
                dt = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            if (!dt.isValid())
                dt = QDateTime::fromString(s, Qt::ISODateWithMs);
            if (!dt.isValid())
                dt = QDateTime(QDate::fromString(s, Qt::ISODate), QTime(0, 0));
        }
        return dt.isValid() ? QVariant(dt) : QVariant(mt);
    }
    }
    return QVariant(mt);
}

QString formatValue(ValueKind k, const QVariant &v)
{
    if (v.isNull())
        return {};
    switch (k) {
    case ValueKind::Integer: return QString::number(v.toLongLong());
    case ValueKind::Boolean: return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case ValueKind::Double: return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case ValueKind::Decimal:
    case ValueKind::Text: return v.toString();
    case ValueKind::Binary: return QStringLiteral("0x") + QString::fromLatin1(v.toByteArray().toHex().toUpper());
    case ValueKind::Date: return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case ValueKind::Time: return timeText(v.toTime());
    case ValueKind::DateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.date().toString(QStringLiteral("yyyy-MM-dd")) + u' ' + timeText(dt.time());
    }
    }
    return v.toString();
}

// The stored word of a fixed-size value given as a QVariant of its kind (an
// edited or inserted row's value).
qint64 wordOf(ValueKind k, const QVariant &v)
{
    switch (k) {
    case ValueKind::Integer: return v.toLongLong();
    case ValueKind::Boolean: return v.toBool() ? 1 : 0;
    case ValueKind::Double: return std::bit_cast<qint64>(v.toDouble());
    case ValueKind::Date: return encodeDate(v.toDate());
    case ValueKind::Time: return encodeTime(v.toTime());
    case ValueKind::DateTime: {
        const QDateTime dt = v.toDateTime();
        return encodeDateTime(dt.date(), dt.time());
    }
    default: return 0;
    }
}

// The text forms of formatValue() written straight from stored words into a
// buffer: no QDate/QTime/QDateTime strings, no format strings parsed per
// cell. Each returns false where it leaves the value to formatValue().
void appendDigits(QString &out, int v, int width)
{
    char buf[12];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = char('0' + v % 10);
        v /= 10;
    }
    out.append(QLatin1StringView(buf, width));
}

bool appendDateText(QString &out, qint64 julianDay)
{
    int y = 0, m = 0, day = 0;
    QDate::fromJulianDay(julianDay).getDate(&y, &m, &day);
    if (y < 1 || y > 9999)
        return false;
    appendDigits(out, y, 4);
    out.append(u'-');
    appendDigits(out, m, 2);
    out.append(u'-');
    appendDigits(out, day, 2);
    return true;
}

void appendTimeText(QString &out, qint64 ms)
{
    const int v = int(ms);
    appendDigits(out, v / 3600000, 2);
    out.append(u':');
    appendDigits(out, v / 60000 % 60, 2);
    out.append(u':');
    appendDigits(out, v / 1000 % 60, 2);
    if (v % 1000) {
        out.append(u'.');
        appendDigits(out, v % 1000, 3);
    }
}

bool appendWordText(QString &out, ValueKind k, qint64 w)
{
    switch (k) {
    case ValueKind::Integer: {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, w);
        out.append(QLatin1StringView(buf, r.ptr));
        return true;
    }
    case ValueKind::Boolean: out.append(w ? u'1' : u'0'); return true;
    case ValueKind::Double:
        out.append(QString::number(std::bit_cast<double>(w), 'g', QLocale::FloatingPointShortest));
        return true;
    case ValueKind::Date: return appendDateText(out, w);
    case ValueKind::Time:
        if (w < 0 || w >= kMsPerDay)
            return false;
        appendTimeText(out, w);
        return true;
    case ValueKind::DateTime: {
        qint64 day = w / kMsPerDay, ms = w % kMsPerDay;
        if (ms < 0) {
            --day;
            ms += kMsPerDay;
        }
        if (!appendDateText(out, day))
            return false;
        out.append(u' ');
        appendTimeText(out, ms);
        return true;
    }
    default: return false;
    }
}

void appendHexText(QString &out, QByteArrayView bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    const qsizetype at = out.size();
    out.resize(at + 2 + 2 * bytes.size());
    QChar *p = out.data() + at;
    *p++ = u'0';
    *p++ = u'x';
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *p++ = QLatin1Char(digits[b >> 4]);
        *p++ = QLatin1Char(digits[b & 15]);
    }
}

struct Page {
    std::vector<quint64> nulls;      // one bit per row
    std::vector<qint64> fixed;       // fixed-size kinds
    std::vector<char16_t> chars;     // Text and Decimal
    std::vector<char> bytes;         // Binary
    std::vector<quint32> offsets;    // variable kinds: start of each row, plus one end

    qint64 bytesUsed() const
    {
        return qint64(nulls.capacity() * sizeof(quint64) + fixed.capacity() * sizeof(qint64)
                      + chars.capacity() * sizeof(char16_t) + bytes.capacity() + offsets.capacity() * sizeof(quint32));
    }
};

} // namespace

struct ResultSet::Impl {
    // pages[col][page]
    std::vector<std::vector<Page>> pages;
    qint64 physRows = 0;    // completed fetched rows
    int fillCol = 0;        // next column of the row being added
    // Logical row -> row id. Empty while rows are in fetch order; built on the
    // first insert or removal. Ids >= 0 are fetched rows, ids < 0 inserted ones.
    std::vector<qint64> order;
    bool ordered = false;
    qint64 nextInsertedId = -1;
    // Edited or inserted rows by id, already converted to the columns' kinds.
    std::unordered_map<qint64, QVector<QVariant>> overrides;

    qint64 logicalCount() const { return ordered ? qint64(order.size()) : physRows; }
    qint64 idOf(qint64 row) const { return ordered ? order[size_t(row)] : row; }

    void materializeOrder()
    {
        if (ordered)
            return;
        order.resize(size_t(physRows));
        for (qint64 i = 0; i < physRows; ++i)
            order[size_t(i)] = i;
        ordered = true;
    }

    Page &fillPage(int col, ValueKind kind)
    {
        auto &list = pages[size_t(col)];
        const size_t p = size_t(physRows / kPageRows);
        if (list.size() <= p) {
            list.emplace_back();
            Page &pg = list.back();
            pg.nulls.assign(size_t((kPageRows + 63) / 64), 0);
            if (isVarKind(kind)) {
                pg.offsets.reserve(size_t(kPageRows + 1));
                pg.offsets.push_back(0);
            } else {
                pg.fixed.reserve(size_t(kPageRows));
            }
        }
        return list[p];
    }

    const Page &page(int col, qint64 id) const { return pages[size_t(col)][size_t(id / kPageRows)]; }

    // An edited or inserted row's value of `col`; null when the row is as fetched.
    const QVariant *overrideOf(qint64 id, int col) const
    {
        if (overrides.empty())
            return nullptr;
        const auto it = overrides.find(id);
        return it == overrides.end() ? nullptr : &it->second[col];
    }

    bool physNull(int col, qint64 id) const
    {
        const qint64 r = id % kPageRows;
        return (page(col, id).nulls[size_t(r / 64)] >> (r % 64)) & 1u;
    }
};

ResultSet::ResultSet(QVector<ColumnInfo> columns) : m_columns(std::move(columns)), d(new Impl)
{
    d->pages.resize(size_t(m_columns.size()));
}

ResultSet::~ResultSet() = default;

int ResultSet::columnIndex(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

qint64 ResultSet::rowCount() const { return d->logicalCount(); }

bool ResultSet::isNull(qint64 row, int col) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return true;
    const qint64 id = d->idOf(row);
    auto it = d->overrides.find(id);
    if (it != d->overrides.end())
        return it->second[col].isNull();
    return d->physNull(col, id);
}

QVariant ResultSet::value(qint64 row, int col) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return {};
    const ValueKind kind = m_columns[col].kind;
    const qint64 id = d->idOf(row);
    auto it = d->overrides.find(id);
    if (it != d->overrides.end())
        return it->second[col];
    if (d->physNull(col, id))
        return QVariant(metaTypeOf(kind));
    const Page &pg = d->page(col, id);
    const size_t r = size_t(id % kPageRows);
    switch (kind) {
    case ValueKind::Integer: return QVariant::fromValue(pg.fixed[r]);
    case ValueKind::Boolean: return QVariant(pg.fixed[r] != 0);
    case ValueKind::Double: return QVariant(std::bit_cast<double>(pg.fixed[r]));
    case ValueKind::Decimal:
    case ValueKind::Text: {
        const quint32 b = pg.offsets[r], e = pg.offsets[r + 1];
        return QVariant(QString(reinterpret_cast<const QChar *>(pg.chars.data() + b), qsizetype(e - b)));
    }
    case ValueKind::Binary: {
        const quint32 b = pg.offsets[r], e = pg.offsets[r + 1];
        return QVariant(QByteArray(pg.bytes.data() + b, qsizetype(e - b)));
    }
    case ValueKind::Date: return QVariant(QDate::fromJulianDay(pg.fixed[r]));
    case ValueKind::Time: return QVariant(QTime::fromMSecsSinceStartOfDay(int(pg.fixed[r])));
    case ValueKind::DateTime:
        return QVariant(QDateTime(decodeDateTimeDate(pg.fixed[r]), decodeDateTimeTime(pg.fixed[r])));
    }
    return {};
}

QString ResultSet::text(qint64 row, int col) const
{
    if (col < 0 || col >= columnCount())
        return {};
    return formatValue(m_columns[col].kind, value(row, col));
}

qint64 ResultSet::word(qint64 row, int col) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return 0;
    const ValueKind kind = m_columns[col].kind;
    if (isVarKind(kind))
        return 0;
    const qint64 id = d->idOf(row);
    if (const QVariant *v = d->overrideOf(id, col))
        return v->isNull() ? 0 : wordOf(kind, *v);
    // A NULL is stored as 0.
    return d->page(col, id).fixed[size_t(id % kPageRows)];
}

QStringView ResultSet::textView(qint64 row, int col) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return {};
    const ValueKind kind = m_columns[col].kind;
    if (kind != ValueKind::Text && kind != ValueKind::Decimal)
        return {};
    const qint64 id = d->idOf(row);
    if (const QVariant *v = d->overrideOf(id, col)) {
        if (v->isNull() || v->typeId() != QMetaType::QString)
            return {};
        return *static_cast<const QString *>(v->constData());
    }
    // A NULL is stored as no characters.
    const Page &pg = d->page(col, id);
    const size_t r = size_t(id % kPageRows);
    return QStringView(pg.chars.data() + pg.offsets[r], qsizetype(pg.offsets[r + 1] - pg.offsets[r]));
}

QByteArrayView ResultSet::bytesView(qint64 row, int col) const
{
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount() || m_columns[col].kind != ValueKind::Binary)
        return {};
    const qint64 id = d->idOf(row);
    if (const QVariant *v = d->overrideOf(id, col)) {
        if (v->isNull() || v->typeId() != QMetaType::QByteArray)
            return {};
        return *static_cast<const QByteArray *>(v->constData());
    }
    const Page &pg = d->page(col, id);
    const size_t r = size_t(id % kPageRows);
    return QByteArrayView(pg.bytes.data() + pg.offsets[r], qsizetype(pg.offsets[r + 1] - pg.offsets[r]));
}

QStringView ResultSet::textInto(qint64 row, int col, QString &buffer) const
{
    buffer.resize(0); // keeps the allocation, unlike clear()
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount())
        return {};
    const ValueKind kind = m_columns[col].kind;
    if (kind == ValueKind::Text || kind == ValueKind::Decimal)
        return textView(row, col);
    const qint64 id = d->idOf(row);
    if (const QVariant *v = d->overrideOf(id, col)) {
        buffer.append(formatValue(kind, *v));
        return buffer;
    }
    if (d->physNull(col, id))
        return {};
    if (kind == ValueKind::Binary)
        appendHexText(buffer, bytesView(row, col));
    else if (!appendWordText(buffer, kind, d->page(col, id).fixed[size_t(id % kPageRows)]))
        buffer.append(formatValue(kind, value(row, col)));
    return buffer;
}

// ---- filling ----

void ResultSet::addNull()
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    Page &pg = d->fillPage(col, kind);
    const qint64 r = d->physRows % kPageRows;
    pg.nulls[size_t(r / 64)] |= quint64(1) << (r % 64);
    if (isVarKind(kind))
        pg.offsets.push_back(pg.offsets.back());
    else
        pg.fixed.push_back(0);
    ++d->fillCol;
}

namespace {
void pushFixed(Page &pg, qint64 v) { pg.fixed.push_back(v); }
} // namespace

void ResultSet::addInteger(qint64 v)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    switch (kind) {
    case ValueKind::Integer: pushFixed(d->fillPage(col, kind), v); break;
    case ValueKind::Boolean: pushFixed(d->fillPage(col, kind), v != 0); break;
    case ValueKind::Double: pushFixed(d->fillPage(col, kind), std::bit_cast<qint64>(double(v))); break;
    default: {
        const QString s = QString::number(v);
        addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
        return;
    }
    }
    ++d->fillCol;
}

void ResultSet::addDouble(double v)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    switch (kind) {
    case ValueKind::Double: pushFixed(d->fillPage(col, kind), std::bit_cast<qint64>(v)); break;
    case ValueKind::Integer: pushFixed(d->fillPage(col, kind), qint64(v)); break;
    case ValueKind::Boolean: pushFixed(d->fillPage(col, kind), v != 0); break;
    default: {
        const QString s = QString::number(v, 'g', QLocale::FloatingPointShortest);
        addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
        return;
    }
    }
    ++d->fillCol;
}

void ResultSet::addText(const char16_t *s, qsizetype len)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    if (kind == ValueKind::Text || kind == ValueKind::Decimal) {
        Page &pg = d->fillPage(col, kind);
        pg.chars.insert(pg.chars.end(), s, s + len);
        pg.offsets.push_back(quint32(pg.chars.size()));
        ++d->fillCol;
        return;
    }
    // A text for a typed column: convert, or store NULL when it does not parse.
    const QVariant v = toKind(kind, QString(reinterpret_cast<const QChar *>(s), len));
    if (v.isNull()) {
        addNull();
        return;
    }
    Page &pg = d->fillPage(col, kind);
    switch (kind) {
    case ValueKind::Integer: pushFixed(pg, v.toLongLong()); break;
    case ValueKind::Boolean: pushFixed(pg, v.toBool()); break;
    case ValueKind::Double: pushFixed(pg, std::bit_cast<qint64>(v.toDouble())); break;
    case ValueKind::Date: pushFixed(pg, encodeDate(v.toDate())); break;
    case ValueKind::Time: pushFixed(pg, encodeTime(v.toTime())); break;
    case ValueKind::DateTime: pushFixed(pg, encodeDateTime(v.toDateTime().date(), v.toDateTime().time())); break;
    case ValueKind::Binary: {
        const QByteArray b = v.toByteArray();
        pg.bytes.insert(pg.bytes.end(), b.begin(), b.end());
        pg.offsets.push_back(quint32(pg.bytes.size()));
        break;
    }
    default: break;
    }
    ++d->fillCol;
}

void ResultSet::addBytes(const char *p, qsizetype len)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    if (kind != ValueKind::Binary) {
        const QString s = QStringLiteral("0x") + QString::fromLatin1(QByteArray(p, len).toHex().toUpper());
        if (kind == ValueKind::Text || kind == ValueKind::Decimal)
            addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
        else
            addNull();
        return;
    }
    Page &pg = d->fillPage(col, kind);
    pg.bytes.insert(pg.bytes.end(), p, p + len);
    pg.offsets.push_back(quint32(pg.bytes.size()));
    ++d->fillCol;
}

void ResultSet::addDate(int y, int m, int day)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    const QDate date(y, m, day);
    if (kind == ValueKind::Date && date.isValid()) {
        pushFixed(d->fillPage(col, kind), encodeDate(date));
        ++d->fillCol;
    } else if (kind == ValueKind::DateTime && date.isValid()) {
        pushFixed(d->fillPage(col, kind), encodeDateTime(date, QTime(0, 0)));
        ++d->fillCol;
    } else if ((kind == ValueKind::Text || kind == ValueKind::Decimal) && date.isValid()) {
        const QString s = date.toString(QStringLiteral("yyyy-MM-dd"));
        addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size());
    } else {
        addNull();
    }
}

void ResultSet::addTime(int h, int mi, int s, int ms)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    const QTime t(h, mi, s, ms);
    if (kind == ValueKind::Time && t.isValid()) {
        pushFixed(d->fillPage(col, kind), encodeTime(t));
        ++d->fillCol;
    } else if ((kind == ValueKind::Text || kind == ValueKind::Decimal) && t.isValid()) {
        const QString txt = timeText(t);
        addText(reinterpret_cast<const char16_t *>(txt.utf16()), txt.size());
    } else {
        addNull();
    }
}

void ResultSet::addDateTime(int y, int mo, int day, int h, int mi, int s, int ms)
{
    const int col = d->fillCol;
    if (col >= columnCount())
        return;
    const ValueKind kind = m_columns[col].kind;
    const QDate date(y, mo, day);
    const QTime t(h, mi, s, ms);
    if (!date.isValid() || !t.isValid()) {
        addNull();
        return;
    }
    switch (kind) {
    case ValueKind::DateTime: pushFixed(d->fillPage(col, kind), encodeDateTime(date, t)); break;
    case ValueKind::Date: pushFixed(d->fillPage(col, kind), encodeDate(date)); break;
    case ValueKind::Time: pushFixed(d->fillPage(col, kind), encodeTime(t)); break;
    case ValueKind::Text:
    case ValueKind::Decimal: {
        const QString txt = date.toString(QStringLiteral("yyyy-MM-dd")) + u' ' + timeText(t);
        addText(reinterpret_cast<const char16_t *>(txt.utf16()), txt.size());
        return;
    }
    default: addNull(); return;
    }
    ++d->fillCol;
}

void ResultSet::endRow()
{
    // Columns the caller left out of this row are NULL.
    while (d->fillCol < columnCount())
        addNull();
    d->fillCol = 0;
    if (d->ordered)
        d->order.push_back(d->physRows);
    ++d->physRows;
    // A full page never grows again: give back what vector growth over-reserved.
    if (d->physRows % kPageRows == 0) {
        for (auto &col : d->pages) {
            Page &pg = col.back();
            pg.chars.shrink_to_fit();
            pg.bytes.shrink_to_fit();
        }
    }
}

// ---- editing ----

namespace {
QVector<QVariant> convertRow(const QVector<ColumnInfo> &cols, const QVector<QVariant> &values)
{
    QVector<QVariant> out;
    out.reserve(cols.size());
    for (int c = 0; c < cols.size(); ++c)
        out << toKind(cols[c].kind, c < values.size() ? values[c] : QVariant());
    return out;
}
} // namespace

void ResultSet::setRow(qint64 row, const QVector<QVariant> &values)
{
    if (row < 0 || row >= rowCount())
        return;
    d->overrides[d->idOf(row)] = convertRow(m_columns, values);
}

void ResultSet::insertRow(qint64 row, const QVector<QVariant> &values)
{
    row = qBound<qint64>(0, row, rowCount());
    d->materializeOrder();
    const qint64 id = d->nextInsertedId--;
    d->overrides[id] = convertRow(m_columns, values);
    d->order.insert(d->order.begin() + row, id);
}

void ResultSet::removeRow(qint64 row)
{
    if (row < 0 || row >= rowCount())
        return;
    d->materializeOrder();
    const qint64 id = d->order[size_t(row)];
    d->overrides.erase(id);
    d->order.erase(d->order.begin() + row);
}

qint64 ResultSet::bytesUsed() const
{
    qint64 n = 0;
    for (const auto &col : d->pages)
        for (const Page &pg : col)
            n += pg.bytesUsed();
    n += qint64(d->order.capacity() * sizeof(qint64));
    for (const auto &[id, vals] : d->overrides)
        n += qint64(sizeof(id) + vals.size() * sizeof(QVariant));
    return n;
}

} // namespace dv
