// Rows of one result held in the client. Storage is columnar and paged: a
// million-row result must not cost one heap object per cell. QVariant values
// are built only when a cell is read.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <QVector>

#include <cstdint>
#include <memory>

namespace dv {

// How a column's values are stored and shown.
enum class ValueKind : std::uint8_t {
    Integer,  // tinyint..bigint, stored as qint64
    Boolean,  // bit
    Double,   // float, real
    Decimal,  // decimal, numeric, money: exact text such as "-12.50"
    Text,     // char, varchar, nchar, nvarchar, text, xml, guid, other
    Binary,   // binary, varbinary, image
    Date,     // date            -> QDate
    Time,     // time            -> QTime
    DateTime, // datetime, datetime2, smalldatetime -> QDateTime (local, no zone)
};

struct ColumnInfo {
    QString name;
    ValueKind kind = ValueKind::Text;
    int sqlType = 0;        // ODBC SQL type code (SQL_INTEGER, SQL_WVARCHAR, ...)
    QString typeName;       // server's type name where known ("int", "nvarchar")
    qint64 size = 0;        // column size in characters/digits/bytes
    int scale = 0;          // decimal digits
    bool nullable = true;
    bool autoIncrement = false;
    // Where the driver reports them (browse-mode metadata); empty otherwise.
    QString baseCatalog;
    QString baseSchema;
    QString baseTable;
    QString baseColumn;
};

class ResultSet {
public:
    explicit ResultSet(QVector<ColumnInfo> columns);
    ~ResultSet();
    ResultSet(const ResultSet &) = delete;
    ResultSet &operator=(const ResultSet &) = delete;

    const QVector<ColumnInfo> &columns() const { return m_columns; }
    int columnCount() const { return int(m_columns.size()); }
    int columnIndex(const QString &name) const; // case-insensitive, -1 if absent
    qint64 rowCount() const;

    // Reading. value() gives a null QVariant of the column's type for NULL.
    bool isNull(qint64 row, int col) const;
    QVariant value(qint64 row, int col) const;
    // Text form, as a DBA reads it: "" for NULL, decimals exactly, dates as
    // "yyyy-MM-dd", date-times as "yyyy-MM-dd hh:mm:ss[.zzz]", bytes as "0x..".
    QString text(qint64 row, int col) const;

    // The stored forms, read without building a QVariant or a QDateTime per
    // cell: what sorting and copying a million rows read.
    //
    // word(): a fixed-size cell's 64-bit word: the integer; 0 or 1 for bit;
    // the double's bits (std::bit_cast<double> gives it back); a date's
    // Julian day; a time's milliseconds of the day; a date-time's Julian day
    // * 86400000 + milliseconds of the day. Words of one column order as
    // their values do, doubles excepted. 0 for NULL and for the other kinds.
    qint64 word(qint64 row, int col) const;
    // A Text or Decimal cell's characters, a Binary cell's bytes; empty for
    // NULL and for the other kinds. Valid until the rows are changed.
    QStringView textView(qint64 row, int col) const;
    QByteArrayView bytesView(qint64 row, int col) const;
    // text(row, col) as a view: the stored characters of a Text or Decimal
    // cell, otherwise the value formatted into `buffer` (cleared first, so
    // one buffer serves a whole copy). Valid until the next call with the
    // same buffer or a change of the rows.
    QStringView textInto(qint64 row, int col, QString &buffer) const;

    // Filling, row by row, in column order: one add* call per column, then
    // endRow(). The ODBC layer calls these while fetching.
    void addNull();
    void addInteger(qint64 v);
    void addDouble(double v);
    void addText(const char16_t *s, qsizetype len); // Text and Decimal columns
    void addBytes(const char *p, qsizetype len);    // Binary columns
    void addDate(int y, int m, int d);
    void addTime(int h, int mi, int s, int ms);
    void addDateTime(int y, int mo, int d, int h, int mi, int s, int ms);
    void endRow();

    // Editing the client-held copy (after the server accepted the change).
    // Values are given in column order; a null QVariant stores NULL.
    void setRow(qint64 row, const QVector<QVariant> &values);
    void insertRow(qint64 row, const QVector<QVariant> &values);
    void removeRow(qint64 row);

    // Bytes held for rows, for memory accounting in benchmarks.
    qint64 bytesUsed() const;

private:
    struct Impl;
    QVector<ColumnInfo> m_columns;
    std::unique_ptr<Impl> d;
};

} // namespace dv
