// SCAFFOLD: replaced by the console's model.
#include "resultmodel.h"
#include "connection/query.h"
namespace dv {
ResultModel::ResultModel(Query *query, QObject *parent) : QAbstractTableModel(parent), m_query(query) {}
ResultModel::~ResultModel() = default;
int ResultModel::rowCount(const QModelIndex &) const { return 0; }
int ResultModel::columnCount(const QModelIndex &) const { return 0; }
QVariant ResultModel::data(const QModelIndex &, int) const { return {}; }
QVariant ResultModel::headerData(int, Qt::Orientation, int) const { return {}; }
Qt::ItemFlags ResultModel::flags(const QModelIndex &) const { return {}; }
bool ResultModel::setData(const QModelIndex &, const QVariant &, int) { return false; }
void ResultModel::reset() {}
}
