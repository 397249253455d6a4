#include "rowsort.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <numeric>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <string>
#else
#include <unicode/ucol.h>
#endif

namespace dv {

namespace {

// Collation name prefixes and the language whose rules they sort by. A
// prefix not listed sorts as Latin1_General does.
struct CollationLanguage {
    const char *prefix;
    QLocale::Language language;
    QLocale::Territory territory;
};

const CollationLanguage kLanguages[] = {
    {"Chinese_Taiwan", QLocale::Chinese, QLocale::Taiwan},
    {"Chinese_Hong_Kong", QLocale::Chinese, QLocale::HongKong},
    {"Chinese", QLocale::Chinese, QLocale::China},
    {"Japanese", QLocale::Japanese, QLocale::Japan},
    {"Korean", QLocale::Korean, QLocale::SouthKorea},
    {"Cyrillic", QLocale::Russian, QLocale::Russia},
    {"Turkish", QLocale::Turkish, QLocale::Turkey},
    {"German", QLocale::German, QLocale::Germany},
    {"French", QLocale::French, QLocale::France},
    {"Modern_Spanish", QLocale::Spanish, QLocale::Spain},
    {"Traditional_Spanish", QLocale::Spanish, QLocale::Spain},
    {"Swedish", QLocale::Swedish, QLocale::Sweden},
    {"Polish", QLocale::Polish, QLocale::Poland},
    {"Czech", QLocale::Czech, QLocale::CzechRepublic},
};

// SQL Server ignores trailing blanks when it compares text ('a' = 'a  ').
QStringView withoutTrailingBlanks(QStringView s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    return s.first(n);
}

// Sorts `keys` (one per non-NULL row, in `rows` order) and returns the rows:
// NULL rows first when ascending, last when descending, as on the server.
template <typename Key, typename Less>
std::vector<qint64> orderByKeys(const std::vector<qint64> &rows, const std::vector<qint64> &nullRows,
                                const std::vector<Key> &keys, Qt::SortOrder order, Less less)
{
    std::vector<qint64> pos(keys.size());
    std::iota(pos.begin(), pos.end(), qint64(0));
    if (order == Qt::AscendingOrder)
        std::stable_sort(pos.begin(), pos.end(), [&](qint64 a, qint64 b) { return less(keys[size_t(a)], keys[size_t(b)]); });
    else
        std::stable_sort(pos.begin(), pos.end(), [&](qint64 a, qint64 b) { return less(keys[size_t(b)], keys[size_t(a)]); });
    std::vector<qint64> out;
    out.reserve(rows.size() + nullRows.size());
    if (order == Qt::AscendingOrder)
        out.insert(out.end(), nullRows.begin(), nullRows.end());
    for (qint64 p : pos)
        out.push_back(rows[size_t(p)]);
    if (order != Qt::AscendingOrder)
        out.insert(out.end(), nullRows.begin(), nullRows.end());
    return out;
}

// Sort keys of texts, all in one buffer; a key ends with a zero byte and
// holds no other, and keys compare as unsigned bytes.
struct SortKeys {
    std::vector<char> bytes;
    std::vector<size_t> starts;
    const char *key(size_t i) const { return bytes.data() + starts[i]; }
};

#ifdef _WIN32
// Windows sorts by its own rules (the ones its SQL Server collations follow):
// sort keys from LCMapStringEx for the collation's language, case ignored
// unless the collation is case-sensitive.
struct Collator {
    std::wstring locale;
    DWORD flags = 0;
};

std::unique_ptr<Collator> openCollator(const TextOrder &text)
{
    auto c = std::make_unique<Collator>();
    c->locale = text.locale.name().replace(u'_', u'-').toStdWString();
    if (!IsValidLocaleName(c->locale.c_str()))
        c->locale = LOCALE_NAME_INVARIANT;
    c->flags = LCMAP_SORTKEY | (text.caseSensitivity == Qt::CaseSensitive ? 0 : NORM_IGNORECASE);
    return c;
}

// Appends the sort key of `v` to `bytes`, ending with a zero byte.
void appendKey(const Collator *coll, QStringView v, std::vector<char> &bytes)
{
    const size_t at = bytes.size();
    const auto *src = reinterpret_cast<LPCWSTR>(v.utf16());
    const int need = v.isEmpty() ? 0 : LCMapStringEx(coll->locale.c_str(), coll->flags, src, int(v.size()),
                                                    nullptr, 0, nullptr, nullptr, 0);
    if (need <= 0) {
        bytes.push_back('\0'); // empty text, or no key: sorts first
        return;
    }
    bytes.resize(at + size_t(need));
    LCMapStringEx(coll->locale.c_str(), coll->flags, src, int(v.size()),
                  reinterpret_cast<LPWSTR>(bytes.data() + at), need, nullptr, nullptr, 0);
    if (bytes.back() != '\0')
        bytes.push_back('\0');
}
#else
struct CollatorCloser {
    void operator()(UCollator *c) const { ucol_close(c); }
};

// A collator for `text`, as SQL Server's Windows collations compare: case
// only at the tertiary strength, and scripts in the root order (Latin before
// Han) even where the language's own order puts its script first, as ICU's
// Chinese does.
std::unique_ptr<UCollator, CollatorCloser> openCollator(const TextOrder &text)
{
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<UCollator, CollatorCloser> c(ucol_open(text.locale.name().toLatin1().constData(), &err));
    if (U_FAILURE(err) || !c) {
        err = U_ZERO_ERROR;
        c.reset(ucol_open("", &err));
    }
    if (!c)
        return c;
    ucol_setStrength(c.get(), text.caseSensitivity == Qt::CaseSensitive ? UCOL_TERTIARY : UCOL_SECONDARY);
    const int32_t none = UCOL_REORDER_CODE_NONE;
    err = U_ZERO_ERROR;
    ucol_setReorderCodes(c.get(), &none, 1, &err);
    return c;
}

using Collator = UCollator;

// Appends the sort key of `v` to `bytes` (ICU's keys end with a zero byte).
void appendKey(const Collator *coll, QStringView v, std::vector<char> &bytes)
{
    const size_t at = bytes.size();
    int32_t room = int32_t(qMax<qsizetype>(16, v.size() * 4 + 8));
    for (;;) {
        bytes.resize(at + size_t(room));
        const int32_t need = ucol_getSortKey(coll, reinterpret_cast<const UChar *>(v.utf16()), int32_t(v.size()),
                                             reinterpret_cast<uint8_t *>(bytes.data() + at), room);
        if (need <= room) {
            bytes.resize(at + size_t(need));
            return;
        }
        room = need;
    }
}
#endif

// The sort keys of a column's texts, trailing blanks left out, each made by
// the platform's appendKey.
SortKeys sortKeys(const ResultSet &rs, int column, const std::vector<qint64> &rows, const Collator *coll)
{
    SortKeys k;
    k.starts.reserve(rows.size());
    k.bytes.reserve(rows.size() * 24);
    for (qint64 r : rows) {
        k.starts.push_back(k.bytes.size());
        appendKey(coll, withoutTrailingBlanks(rs.textView(r, column)), k.bytes);
    }
    return k;
}

bool isGuidColumn(const ColumnInfo &c)
{
    constexpr int kSqlGuid = -11; // ODBC's SQL_GUID
    return c.sqlType == kSqlGuid || c.typeName.compare(QLatin1String("uniqueidentifier"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString unsortableReason(const ColumnInfo &c)
{
    constexpr int kSqlSsUdt = -151, kSqlSsXml = -152; // the driver's codes
    const QString t = c.typeName.toLower();
    if (c.sqlType == kSqlSsXml || t == QLatin1String("xml"))
        return QStringLiteral("xml 列不能排序：SQL Server 不能比较或排序 xml 值(只能判断 IS NULL)");
    if (t == QLatin1String("geography") || t == QLatin1String("geometry"))
        return QStringLiteral("%1 列不能排序：SQL Server 不能比较或排序空间数据类型的值").arg(t);
    // hierarchyid orders by its bytes (depth first), as the grid sorts
    // binary values. Another CLR type orders only when its assembly says its
    // bytes do, which the result does not tell.
    if (c.sqlType == kSqlSsUdt && t != QLatin1String("hierarchyid"))
        return QStringLiteral("列 %1 是 CLR 类型%2:无法确定 SQL Server 能否按它排序,不排序")
            .arg(c.name, t.isEmpty() ? QString() : QStringLiteral("(%1)").arg(t));
    return {};
}

QString untypableReason(const ColumnInfo &c)
{
    constexpr int kSqlSsVariant = -150, kSqlSsUdt = -151; // the driver's codes
    const QString t = c.typeName.toLower();
    if (c.sqlType == kSqlSsVariant || t == QLatin1String("sql_variant"))
        return QStringLiteral("列 %1 是 sql_variant:输入的文字会改变值的基础类型,此列只读").arg(c.name);
    if (c.sqlType == kSqlSsUdt || t == QLatin1String("hierarchyid") || t == QLatin1String("geography")
        || t == QLatin1String("geometry"))
        return QStringLiteral("列 %1 是 CLR 类型(%2),表格中显示的内容不能原样写回,此列只读")
            .arg(c.name, t.isEmpty() ? QStringLiteral("UDT") : t);
    return {};
}

QByteArray guidSortKey(QStringView text)
{
    // The text's 16 hex pairs in the stored byte order: the first three
    // groups are stored little-endian ("00112233-4455-6677-..." is stored
    // 33 22 11 00 55 44 77 66 ...).
    static const int storedToText[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    // SQL Server compares the stored bytes most significant first: 10-15,
    // then 8-9, 6-7, 4-5 and 0-3.
    static const int significance[16] = {10, 11, 12, 13, 14, 15, 8, 9, 6, 7, 4, 5, 0, 1, 2, 3};
    QStringView s = text.trimmed();
    if (s.startsWith(u'{') && s.endsWith(u'}'))
        s = s.sliced(1, s.size() - 2);
    if (s.size() != 36 || s[8] != u'-' || s[13] != u'-' || s[18] != u'-' || s[23] != u'-')
        return {};
    QByteArray hex;
    for (QChar ch : s)
        if (ch != u'-')
            hex += char(ch.toLatin1());
    const QByteArray pairs = QByteArray::fromHex(hex);
    if (pairs.size() != 16 || pairs.toHex().compare(hex, Qt::CaseInsensitive) != 0)
        return {};
    QByteArray key(16, '\0');
    for (int i = 0; i < 16; ++i)
        key[i] = pairs[storedToText[significance[i]]];
    return key;
}

TextOrder textOrderForCollation(const QString &collation)
{
    TextOrder t;
    t.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    const QStringList parts = collation.split(u'_');
    for (const QString &p : parts) {
        if (p.compare(QLatin1String("CS"), Qt::CaseInsensitive) == 0)
            t.caseSensitivity = Qt::CaseSensitive;
        else if (p.startsWith(QLatin1String("BIN"), Qt::CaseInsensitive))
            t.binary = true;
    }
    // SQL_ collations name the language after the prefix.
    const QString name = collation.startsWith(QLatin1String("SQL_"), Qt::CaseInsensitive) ? collation.mid(4) : collation;
    for (const CollationLanguage &l : kLanguages) {
        if (name.startsWith(QLatin1String(l.prefix), Qt::CaseInsensitive)) {
            t.locale = QLocale(l.language, l.territory);
            break;
        }
    }
    return t;
}

QString decimalSortKey(QStringView text)
{
    QStringView s = text.trimmed();
    bool negative = false;
    if (!s.isEmpty() && (s[0] == u'-' || s[0] == u'+')) {
        negative = s[0] == u'-';
        s = s.mid(1);
    }
    const qsizetype dot = s.indexOf(u'.');
    QStringView whole = dot < 0 ? s : s.first(dot);
    QStringView fraction = dot < 0 ? QStringView() : s.mid(dot + 1);
    while (!whole.isEmpty() && whole[0] == u'0')
        whole = whole.mid(1);
    while (!fraction.isEmpty() && fraction[fraction.size() - 1] == u'0')
        fraction.chop(1);
    if (whole.isEmpty() && fraction.isEmpty())
        negative = false; // -0 is 0
    // Sign, then the number of whole digits (more digits: larger), then the
    // digits. A negative number's length and digits are complemented and
    // closed with '~', so that its key orders as its value does.
    QString key;
    key.reserve(whole.size() + fraction.size() + 3);
    key += negative ? u'0' : u'1';
    key += QChar(char16_t(0x40 + (negative ? 63 - whole.size() : whole.size())));
    for (QStringView part : {whole, fraction})
        for (QChar c : part)
            key += negative ? QChar(char16_t(u'0' + u'9' - c.unicode())) : c;
    if (negative)
        key += u'~';
    return key;
}

int compareDecimalText(QStringView a, QStringView b)
{
    return decimalSortKey(a).compare(decimalSortKey(b));
}

namespace {

// Uniqueidentifier rows by SQL Server's byte order; a text that is no GUID
// (none comes from a uniqueidentifier column) sorts after every GUID.
std::vector<qint64> sortedGuidRows(const ResultSet &rs, int column, const std::vector<qint64> &rows,
                                   const std::vector<qint64> &nullRows, Qt::SortOrder order)
{
    std::vector<QByteArray> keys;
    keys.reserve(rows.size());
    for (qint64 r : rows) {
        QByteArray k = guidSortKey(rs.textView(r, column));
        keys.push_back(k.isEmpty() ? QByteArray(17, '\xff') : k);
    }
    return orderByKeys(rows, nullRows, keys, order, std::less<QByteArray>());
}

} // namespace

std::vector<qint64> sortedRowOrder(const ResultSet &rs, int column, Qt::SortOrder order, const TextOrder &text)
{
    const qint64 n = rs.rowCount();
    std::vector<qint64> rows, nullRows;
    rows.reserve(size_t(n));
    for (qint64 r = 0; r < n; ++r)
        (rs.isNull(r, column) ? nullRows : rows).push_back(r);

    // Keys come from the stored forms (ResultSet::word() and the views), not
    // from a QVariant per row: building a QDateTime for each of a million
    // date-times alone took seconds.
    const ValueKind kind = rs.columns()[column].kind;
    switch (kind) {
    case ValueKind::Double: {
        std::vector<double> keys;
        keys.reserve(rows.size());
        for (qint64 r : rows)
            keys.push_back(std::bit_cast<double>(rs.word(r, column)));
        return orderByKeys(rows, nullRows, keys, order, std::less<double>());
    }
    case ValueKind::Decimal: {
        std::vector<QString> keys;
        keys.reserve(rows.size());
        for (qint64 r : rows)
            keys.push_back(decimalSortKey(rs.textView(r, column)));
        return orderByKeys(rows, nullRows, keys, order, std::less<QString>());
    }
    case ValueKind::Binary: {
        std::vector<QByteArrayView> keys;
        keys.reserve(rows.size());
        for (qint64 r : rows)
            keys.push_back(rs.bytesView(r, column));
        // By unsigned byte values; a prefix sorts first.
        return orderByKeys(rows, nullRows, keys, order, [](QByteArrayView a, QByteArrayView b) {
            const int c = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
            return c != 0 ? c < 0 : a.size() < b.size();
        });
    }
    case ValueKind::Text: {
        if (isGuidColumn(rs.columns()[column]))
            return sortedGuidRows(rs, column, rows, nullRows, order);
        if (text.binary) {
            std::vector<QStringView> keys;
            keys.reserve(rows.size());
            for (qint64 r : rows)
                keys.push_back(withoutTrailingBlanks(rs.textView(r, column)));
            return orderByKeys(rows, nullRows, keys, order, std::less<QStringView>());
        }
        const auto collator = openCollator(text);
        if (!collator)
            break; // no collator at all: by code point, below
        const SortKeys keys = sortKeys(rs, column, rows, collator.get());
        std::vector<size_t> pos(rows.size());
        std::iota(pos.begin(), pos.end(), size_t(0));
        return orderByKeys(rows, nullRows, pos, order, [&keys](size_t a, size_t b) {
            return std::strcmp(keys.key(a), keys.key(b)) < 0;
        });
    }
    case ValueKind::Integer:
    case ValueKind::Boolean:
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::DateTime:
        break;
    }
    if (kind == ValueKind::Text)
        return sortedRowOrder(rs, column, order, TextOrder{true, text.caseSensitivity, text.locale});
    // Integers, bits, dates, times and date-times: their words order as their values do.
    std::vector<qint64> keys;
    keys.reserve(rows.size());
    for (qint64 r : rows)
        keys.push_back(rs.word(r, column));
    return orderByKeys(rows, nullRows, keys, order, std::less<qint64>());
}

} // namespace dv
