// DbGridResult: the console's result grid. Adds to QTableView what a data
// grid does: a row being edited is posted when the operator leaves it (and
// the move is undone when the server refuses), an untouched new row is
// dropped, Ctrl+Delete deletes the current row after confirmation, Ctrl+0
// sets a cell to NULL, Insert adds a row and Esc cancels the row's edits.
// Ctrl+C copies the selected cells as tab-separated text (Ctrl+Shift+C with
// the column titles); the row indicator selects rows, a column title clicked
// with Ctrl held selects the column. A plain click on a column title sorts the
// rows by it: ascending, then descending, then back to the server's order.
#pragma once

#include <QTableView>

namespace dv {

class ResultModel;

class ResultGrid : public QTableView {
    Q_OBJECT
public:
    explicit ResultGrid(QWidget *parent = nullptr);

    void setResultModel(ResultModel *model);
    ResultModel *resultModel() const { return m_model; }

    // Record actions shared with the navigator and the context menu.
    void moveToRow(int row);
    void insertRecord();
    void deleteRecord(); // asks "Delete record?" first
    void editRecord();
    void postRecord();
    void cancelRecord();
    void refreshRecords();
    void setCurrentCellNull();
    // Hands an open editor's text to the model (commit) or drops it; false
    // when the model refused the text.
    bool closeOpenEditor(bool commit);

    // Whether a cell editor is open.
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }

    // Sizes the columns from the titles and the first rows only.
    void fitColumns(int sampleRows = 100);

    // Puts the selected cells (the current cell when none is selected) on
    // the clipboard, with the column titles first when `withTitles`.
    void copySelection(bool withTitles);
    // The next step of the sort cycle for `column`, as a click on its title.
    void cycleSort(int column);

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showSortIndicator();
    void columnTitlePressed(int column);

    ResultModel *m_model = nullptr;
    bool m_titleCtrlPress = false; // the last press on a column title had Ctrl held
    bool m_reverting = false;
};

} // namespace dv
