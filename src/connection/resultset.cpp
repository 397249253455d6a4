// SCAFFOLD: replaced by the paged storage.
#include "resultset.h"
namespace dv {
struct ResultSet::Impl {};
ResultSet::ResultSet(QVector<ColumnInfo> columns) : m_columns(std::move(columns)), d(new Impl) {}
ResultSet::~ResultSet() = default;
int ResultSet::columnIndex(const QString &) const { return -1; }
qint64 ResultSet::rowCount() const { return 0; }
bool ResultSet::isNull(qint64, int) const { return true; }
QVariant ResultSet::value(qint64, int) const { return {}; }
QString ResultSet::text(qint64, int) const { return {}; }
}
namespace dv {
void ResultSet::addNull() {}
void ResultSet::addInteger(qint64) {}
void ResultSet::addDouble(double) {}
void ResultSet::addText(const char16_t *, qsizetype) {}
void ResultSet::addBytes(const char *, qsizetype) {}
void ResultSet::addDate(int, int, int) {}
void ResultSet::addTime(int, int, int, int) {}
void ResultSet::addDateTime(int, int, int, int, int, int, int) {}
void ResultSet::endRow() {}
void ResultSet::setRow(qint64, const QVector<QVariant> &) {}
void ResultSet::insertRow(qint64, const QVector<QVariant> &) {}
void ResultSet::removeRow(qint64) {}
qint64 ResultSet::bytesUsed() const { return 0; }
}
