// dsResult: the console's result as a table model for DbGridResult and DBNaV.
//
// Cells are read straight from the ResultSet held by the query; the model
// keeps no copy of them. At most one row is being edited or inserted at a
// time; its changed values are kept apart (column -> value) until posted.
// Posting, inserting and deleting write to the server at once through the
// query's connection, with the values bound as parameters. The model shows no
// boxes: every failure is reported with failed(), and the console decides how
// the operator sees it.
#pragma once

#include "editsql.h"
#include "rowsort.h"

#include <QAbstractTableModel>
#include <QMap>

#include <memory>
#include <optional>
#include <vector>

namespace dv {

class Query;
class ResultSet;

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit ResultModel(Query *query, QObject *parent = nullptr);
    ~ResultModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Edits arrive as text (what the editor holds) or as a typed value; an
    // edit of a row in Browse state first puts that row into Edit state.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Shows `rows` (null: no result). Normally driven by the query's
    // opened()/closed() signals; pending edits are dropped.
    void setResultSet(std::shared_ptr<ResultSet> rows);
    std::shared_ptr<ResultSet> resultSet() const { return m_rows; }

    State state() const;
    int editRow() const { return m_editRow; } // -1 in Browse state
    bool isModified() const { return !m_changes.isEmpty(); }

    // The grid's current row, shown by the row indicator.
    int currentRow() const { return m_current; }
    void setCurrentRow(int row);

    // Record operations; each returns false (after failed()) when refused or
    // when the server refused the write. The model then shows exactly what it
    // showed before.
    bool beginEdit(int row);
    bool insertRow(int row);       // a new empty row before `row` (rowCount() appends)
    bool post();
    void cancel();
    bool deleteRow(int row);
    bool setNull(const QModelIndex &index);
    // Runs the statement again and shows the new result, sorted as before.
    bool refresh();

    // Why the rows cannot be written back: known from the statement as soon
    // as the rows are shown, or from the server's catalogue once a write was
    // tried. Empty while the rows may be writable. stateChanged() reports a
    // change.
    QString readOnlyReason() const { return m_targetError; }

    // Orders the rows held by `column` (a negative column: back to the order
    // the server sent). Only while browsing: false (after failed()) while a
    // row is being edited or inserted. Rows edited later stay where they are
    // until the next sort; a new row is placed where it was inserted.
    bool sortBy(int column, Qt::SortOrder order = Qt::AscendingOrder);
    int sortColumn() const { return m_sortColumn; } // -1: the server's order
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // A cell's whole value as text, "" for NULL (what copying takes).
    QString cellText(int row, int col) const;
    // The same text without a QVariant: a view of the held characters, or of
    // `buffer` holding the formatted value (see ResultSet::textInto()).
    // Valid until the next call with the same buffer or a change of the rows.
    QStringView cellTextView(int row, int col, QString &buffer) const;

    QString lastError() const { return m_lastError; }
    int failureCount() const { return m_failures; }

    // Display forms, shared with the tests.
    static constexpr int kDisplayChars = 256;
    static QString displayText(const QVariant &v, ValueKind kind); // "" for NULL
    // Parses an editor's text for a column; nullopt when it is no valid value.
    // An empty text is NULL for every kind but Text.
    static std::optional<QVariant> parseInput(const QString &text, ValueKind kind, QString *error);

signals:
    void failed(const QString &message);
    // Something the operator should know about a write that went through.
    void notice(const QString &message);
    void stateChanged();

private:
    bool validCell(const QModelIndex &index) const;
    qint64 storageRow(int row) const; // -1 for the pending new row
    QVariant storedValue(qint64 row, int col) const;
    QVariant cellValue(int row, int col) const; // pending value first
    QVector<QVariant> storedRow(qint64 row) const;
    bool ensureTarget();
    SelectSource analyzeResult() const;
    // The column as described by the driver, with the type name of a CLR
    // column the driver left unnamed (FreeTDS names none) taken from the
    // table's catalogue, read once per result.
    ColumnInfo describedColumn(int column);
    QMap<int, QString> readTableTypeNames() const;
    bool refuseWrites(const QString &reason);
    bool lookupCatalog(const SelectSource &src, TableCatalog *cat) const;
    RunResult runOnConnection(Statement st, bool allResults = false) const;
    WriteOutcome runWrite(const Statement &st) const;
    bool refreshEditedRow();
    bool fail(const QString &message);
    void finishEdit();
    bool postUpdate();
    bool postInsert();
    const TextOrder &textOrder();
    void applySort();

    Query *m_query;
    std::shared_ptr<ResultSet> m_rows;
    State m_state = State::Inactive;
    int m_editRow = -1;
    QMap<int, QVariant> m_changes; // column -> new value (null QVariant = NULL)
    int m_current = -1;
    QString m_lastError;
    int m_failures = 0;
    // What the current result writes to, worked out on the first write.
    std::optional<WriteTarget> m_target;
    QString m_targetError;
    QString m_readDatabase; // the connection's database when the rows were read
    // Sorted view: grid row -> row of m_rows; empty in the server's order.
    std::vector<qint64> m_order;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::optional<TextOrder> m_textOrder; // the server collation's, looked up on the first text sort
    std::optional<QMap<int, QString>> m_clrTypeNames; // column -> type, looked up on the first sort by a CLR column
};

} // namespace dv
