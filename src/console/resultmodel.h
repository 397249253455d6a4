// dsResult: the console's result as a table model for DbGridResult and DBNaV.
#pragma once

#include <QAbstractTableModel>

#include <memory>

namespace dv {

class Query;
class ResultSet;

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultModel(Query *query, QObject *parent = nullptr);
    ~ResultModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    void reset();
    Query *m_query;
    std::shared_ptr<ResultSet> m_rows;
};

} // namespace dv
