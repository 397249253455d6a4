#include "resultgrid.h"

#include "editsql.h"
#include "gridcopy.h"
#include "resultmodel.h"

#include "client/resultset.h"
#include "main/uikit.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStyledItemDelegate>
#include <QTextCursor>

#include <algorithm>
#include <limits>

namespace dv {

namespace {
const char *const kDeleteQuestion = "Delete record?";

// Texts longer than this, or of more than one line, open in a multi-line editor.
constexpr int kLongValueChars = 200;

// The cell editors. A one-line edit without the default length cap for short
// values, a multi-line editor for long texts and binary values; an editor the
// operator did not change hands nothing back, so reading a value never writes
// it (nor a re-formatted copy of it).
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (isLong(index)) {
            auto *ed = new QPlainTextEdit(parent);
            ed->setObjectName(QStringLiteral("longValueEditor"));
            ed->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            ed->setFrameShape(QFrame::Box);
            return ed;
        }
        QWidget *w = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto *line = qobject_cast<QLineEdit *>(w))
            line->setMaxLength(std::numeric_limits<int>::max());
        return w;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        if (auto *ed = qobject_cast<QPlainTextEdit *>(editor)) {
            ed->setPlainText(index.data(Qt::EditRole).toString());
            ed->document()->setModified(false);
            ed->moveCursor(QTextCursor::Start);
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
        if (auto *line = qobject_cast<QLineEdit *>(editor))
            line->setModified(false);
    }

    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        if (auto *ed = qobject_cast<QPlainTextEdit *>(editor)) {
            // toPlainText() would turn every break into "\n" and no-break
            // spaces into spaces: the raw text keeps them.
            if (ed->document()->isModified())
                model->setData(index, editorText(index.data(Qt::EditRole).toString(), ed->document()->toRawText()),
                               Qt::EditRole);
            return;
        }
        if (auto *line = qobject_cast<QLineEdit *>(editor)) {
            if (line->isModified())
                model->setData(index, line->text(), Qt::EditRole);
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }

    // Tab and Shift+Tab leave the multi-line editor for the next or previous
    // cell as they leave a one-line editor; the text editor would otherwise
    // take them as typed tab characters.
    bool eventFilter(QObject *object, QEvent *event) override
    {
        auto *ed = qobject_cast<QPlainTextEdit *>(object);
        if (ed && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
                emit commitData(ed);
                emit closeEditor(ed, key == Qt::Key_Tab ? EditNextItem : EditPreviousItem);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override
    {
        if (!qobject_cast<QPlainTextEdit *>(editor)) {
            QStyledItemDelegate::updateEditorGeometry(editor, option, index);
            return;
        }
        // Room to read: wider and taller than the cell, kept inside the view.
        QRect r = option.rect;
        r.setWidth(qMax(r.width(), 480));
        r.setHeight(qMax(r.height(), 240));
        if (const QWidget *vp = editor->parentWidget()) {
            const QRect area = vp->rect();
            if (r.right() > area.right())
                r.moveRight(area.right());
            if (r.left() < area.left())
                r.moveLeft(area.left());
            if (r.bottom() > area.bottom())
                r.moveBottom(area.bottom());
            if (r.top() < area.top())
                r.moveTop(area.top());
        }
        editor->setGeometry(r);
    }

private:
    static bool isLong(const QModelIndex &index)
    {
        const auto *m = qobject_cast<const ResultModel *>(index.model());
        if (!m || !m->resultSet() || index.column() >= m->resultSet()->columnCount())
            return false;
        const ValueKind kind = m->resultSet()->columns()[index.column()].kind;
        if (kind != ValueKind::Text && kind != ValueKind::Binary)
            return false;
        const QString text = index.data(Qt::EditRole).toString();
        return text.size() > kLongValueChars || text.contains(u'\n') || text.contains(u'\r');
    }
};
}

ResultGrid::ResultGrid(QWidget *parent) : QTableView(parent)
{
    setShowGrid(true);
    setTabKeyNavigation(true);
    setWordWrap(false);
    // Cells, rows (by the row indicator) and columns are selected for copying.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                    | QAbstractItemView::AnyKeyPressed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    // A plain click on a column title sorts; only a click with Ctrl held
    // selects the column, so the view's own selecting on a title press (and
    // on dragging across titles) is replaced by columnTitlePressed().
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    disconnect(horizontalHeader(), SIGNAL(sectionPressed(int)), this, SLOT(selectColumn(int)));
    disconnect(horizontalHeader(), SIGNAL(sectionEntered(int)), this, SLOT(_q_selectColumn(int)));
    horizontalHeader()->viewport()->installEventFilter(this);
    connect(horizontalHeader(), &QHeaderView::sectionPressed, this, &ResultGrid::columnTitlePressed);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (!m_titleCtrlPress)
            cycleSort(column);
    });
    // A million rows: every row has the same height, nothing is measured.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    verticalHeader()->setMinimumWidth(22);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    setItemDelegate(new CellDelegate(this));
}

void ResultGrid::setResultModel(ResultModel *model)
{
    m_model = model;
    setModel(model);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        fitColumns();
        showSortIndicator();
        if (m_model->rowCount() > 0 && m_model->columnCount() > 0)
            setCurrentIndex(m_model->index(0, 0));
    });
    connect(model, &QAbstractItemModel::layoutChanged, this, &ResultGrid::showSortIndicator);
}

void ResultGrid::showSortIndicator()
{
    QHeaderView *h = horizontalHeader();
    const int column = m_model ? m_model->sortColumn() : -1;
    h->setSortIndicatorShown(column >= 0);
    h->setSortIndicator(column, m_model ? m_model->sortOrder() : Qt::AscendingOrder);
}

bool ResultGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonPress)
        m_titleCtrlPress = static_cast<QMouseEvent *>(event)->modifiers() & Qt::ControlModifier;
    return QTableView::eventFilter(watched, event);
}

void ResultGrid::columnTitlePressed(int column)
{
    if (!m_titleCtrlPress || !m_model || column < 0 || column >= m_model->columnCount() || m_model->rowCount() == 0)
        return;
    // Ctrl+click on a title selects that column. While only whole columns
    // are selected, it adds the column or takes it out again, so that
    // several columns can be copied together.
    const int last = m_model->rowCount() - 1;
    const QItemSelection whole(m_model->index(0, column), m_model->index(last, column));
    bool onlyColumns = selectionModel()->hasSelection();
    for (const QItemSelectionRange &r : selectionModel()->selection())
        onlyColumns = onlyColumns && r.top() == 0 && r.bottom() == last;
    const QModelIndex cur = currentIndex();
    if (!onlyColumns)
        selectionModel()->select(whole, QItemSelectionModel::ClearAndSelect);
    else
        selectionModel()->select(whole, selectionModel()->isColumnSelected(column) ? QItemSelectionModel::Deselect
                                                                                   : QItemSelectionModel::Select);
    // The current row stays: moving it would post an edited row.
    if (cur.isValid())
        selectionModel()->setCurrentIndex(m_model->index(cur.row(), column), QItemSelectionModel::NoUpdate);
}

void ResultGrid::cycleSort(int column)
{
    if (!m_model || m_model->state() == ResultModel::State::Inactive || column < 0
        || column >= m_model->columnCount())
        return;
    // A row being edited or inserted is posted first, as leaving it would.
    if (!closeOpenEditor(true) || !m_model->post())
        return;
    int next = column;
    Qt::SortOrder order = Qt::AscendingOrder;
    if (m_model->sortColumn() == column) {
        if (m_model->sortOrder() == Qt::AscendingOrder)
            order = Qt::DescendingOrder;
        else
            next = -1;
    }
    // A selection of cells means nothing in another order; a refused sort
    // (a column the server cannot order) leaves the order and the selection.
    if (m_model->sortBy(next, order))
        selectionModel()->clearSelection();
    showSortIndicator();
    if (currentIndex().isValid()) {
        m_model->setCurrentRow(currentIndex().row());
        scrollTo(currentIndex());
    }
}

void ResultGrid::copySelection(bool withTitles)
{
    if (!m_model || m_model->columnCount() == 0)
        return;
    const int rowCount = m_model->rowCount(), columnCount = m_model->columnCount();
    QItemSelection sel = selectionModel()->selection();
    if (sel.isEmpty()) {
        if (!currentIndex().isValid())
            return;
        sel.select(currentIndex(), currentIndex());
    }
    // The rows and columns that hold a selected cell, in grid order; when the
    // ranges do not fill that rectangle, unselected cells stay empty fields.
    std::vector<char> rowMarks(size_t(rowCount), 0), columnMarks(size_t(columnCount), 0);
    qint64 cells = 0;
    for (const QItemSelectionRange &r : sel) {
        if (!r.isValid())
            continue;
        std::fill(rowMarks.begin() + r.top(), rowMarks.begin() + r.bottom() + 1, 1);
        std::fill(columnMarks.begin() + r.left(), columnMarks.begin() + r.right() + 1, 1);
        cells += qint64(r.height()) * r.width();
    }
    std::vector<int> rows, columns;
    for (int i = 0; i < rowCount; ++i)
        if (rowMarks[size_t(i)])
            rows.push_back(i);
    for (int i = 0; i < columnCount; ++i)
        if (columnMarks[size_t(i)])
            columns.push_back(i);
    std::function<bool(int, int)> selected;
    if (cells != qint64(rows.size()) * qint64(columns.size()))
        selected = [this, &sel](int row, int column) { return sel.contains(m_model->index(row, column)); };
    QGuiApplication::clipboard()->setText(clipboardText(*m_model, rows, columns, withTitles, selected));
}

void ResultGrid::fitColumns(int sampleRows)
{
    if (!m_model)
        return;
    const QFontMetrics cellFm = fontMetrics();
    const QFontMetrics headFm = horizontalHeader()->fontMetrics();
    const int rows = qMin(sampleRows, m_model->rowCount());
    for (int c = 0; c < m_model->columnCount(); ++c) {
        int w = headFm.horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString()) + 24;
        for (int r = 0; r < rows; ++r)
            w = qMax(w, cellFm.horizontalAdvance(m_model->index(r, c).data().toString()) + 16);
        setColumnWidth(c, qMin(w, 360));
    }
}

bool ResultGrid::closeOpenEditor(bool commit)
{
    if (state() != QAbstractItemView::EditingState)
        return true;
    QWidget *ed = indexWidget(currentIndex());
    if (!ed)
        return true;
    const int failures = m_model ? m_model->failureCount() : 0;
    if (commit)
        commitData(ed);
    closeEditor(ed, commit ? QAbstractItemDelegate::NoHint : QAbstractItemDelegate::RevertModelCache);
    return !m_model || m_model->failureCount() == failures;
}

void ResultGrid::moveToRow(int row)
{
    if (!m_model || row < 0 || row >= m_model->rowCount())
        return;
    const int col = qMax(0, currentIndex().column());
    setCurrentIndex(m_model->index(row, col));
    scrollTo(currentIndex());
}

void ResultGrid::insertRecord()
{
    if (!m_model)
        return;
    // A row being edited or inserted is posted first (an untouched new row
    // is dropped by post()).
    if (!closeOpenEditor(true) || !m_model->post())
        return;
    const int row = qMax(0, currentIndex().row());
    if (!m_model->insertRow(row))
        return;
    const int col = qMax(0, currentIndex().column());
    setCurrentIndex(m_model->index(row, col));
    scrollTo(currentIndex());
}

void ResultGrid::deleteRecord()
{
    if (!m_model || !currentIndex().isValid())
        return;
    closeOpenEditor(false);
    if (!confirmBox(QString::fromLatin1(kDeleteQuestion)))
        return;
    m_model->deleteRow(currentIndex().row());
}

void ResultGrid::editRecord()
{
    if (!m_model || !currentIndex().isValid())
        return;
    if (m_model->beginEdit(currentIndex().row()))
        QAbstractItemView::edit(currentIndex());
}

void ResultGrid::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    // The view moves the current cell off the rows going away. That is no
    // leaving of the edited row: a new row being cancelled (or dropped after
    // its insert) must not be posted on the way out.
    const bool was = m_reverting;
    m_reverting = true;
    // The current cell goes to the row after the ones going away (else the
    // one before) here, under the guard: left to the selection model, it
    // would move only after this, and leave the row as the operator does.
    const QModelIndex cur = currentIndex();
    if (m_model && !parent.isValid() && cur.isValid() && cur.row() >= start && cur.row() <= end) {
        const int rows = m_model->rowCount();
        setCurrentIndex(end + 1 < rows ? m_model->index(end + 1, cur.column())
                        : start > 0    ? m_model->index(start - 1, cur.column())
                                       : QModelIndex());
    }
    QTableView::rowsAboutToBeRemoved(parent, start, end);
    m_reverting = was;
}

void ResultGrid::postRecord()
{
    if (!m_model)
        return;
    // A value the model refused stops the post: the operator corrects it first.
    if (closeOpenEditor(true))
        m_model->post();
}

void ResultGrid::cancelRecord()
{
    if (!m_model)
        return;
    closeOpenEditor(false);
    m_model->cancel();
}

void ResultGrid::refreshRecords()
{
    if (!m_model)
        return;
    const QModelIndex at = currentIndex();
    if (!m_model->refresh())
        return;
    if (m_model->rowCount() > 0 && at.isValid())
        setCurrentIndex(m_model->index(qMin(at.row(), m_model->rowCount() - 1),
                                       qMin(at.column(), m_model->columnCount() - 1)));
}

void ResultGrid::setCurrentCellNull()
{
    if (!m_model || !currentIndex().isValid())
        return;
    closeOpenEditor(false);
    m_model->setNull(currentIndex());
}

void ResultGrid::keyPressEvent(QKeyEvent *e)
{
    if (m_model && state() != QAbstractItemView::EditingState) {
        const auto mods = e->modifiers() & ~Qt::KeypadModifier;
        if (e->matches(QKeySequence::Copy)) {
            copySelection(false);
            return;
        }
        if (e->key() == Qt::Key_C && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
            copySelection(true);
            return;
        }
        if (e->key() == Qt::Key_Delete && mods == Qt::ControlModifier) {
            deleteRecord();
            return;
        }
        if (e->key() == Qt::Key_0 && mods == Qt::ControlModifier) {
            setCurrentCellNull();
            return;
        }
        if (e->key() == Qt::Key_Insert && mods == Qt::NoModifier) {
            insertRecord();
            return;
        }
        if (e->key() == Qt::Key_Escape && m_model->state() != ResultModel::State::Browse) {
            cancelRecord();
            return;
        }
    }
    QTableView::keyPressEvent(e);
}

void ResultGrid::contextMenuEvent(QContextMenuEvent *e)
{
    if (!m_model || m_model->state() == ResultModel::State::Inactive)
        return;
    const QModelIndex at = indexAt(e->pos());
    if (at.isValid() && at != currentIndex())
        setCurrentIndex(at);
    const bool browsing = m_model->state() == ResultModel::State::Browse;
    QMenu menu(this);
    QAction *setNull = menu.addAction(QStringLiteral("设为 NULL"));
    setNull->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    setNull->setEnabled(currentIndex().isValid());
    menu.addSeparator();
    QAction *ins = menu.addAction(QStringLiteral("插入记录"));
    ins->setEnabled(browsing);
    QAction *del = menu.addAction(QStringLiteral("删除记录"));
    del->setEnabled(currentIndex().isValid());
    QAction *post = menu.addAction(QStringLiteral("保存修改"));
    post->setEnabled(!browsing);
    QAction *cancel = menu.addAction(QStringLiteral("取消修改"));
    cancel->setEnabled(!browsing);
    QAction *chosen = menu.exec(e->globalPos());
    if (chosen == setNull)
        setCurrentCellNull();
    else if (chosen == ins)
        insertRecord();
    else if (chosen == del)
        deleteRecord();
    else if (chosen == post)
        postRecord();
    else if (chosen == cancel)
        cancelRecord();
}

void ResultGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous); // commits an open editor
    if (!m_model)
        return;
    if (!m_reverting && current.isValid() && current.row() != previous.row()
        && m_model->state() != ResultModel::State::Browse && current.row() != m_model->editRow()) {
        // Leaving the row being edited posts it; an untouched new row goes.
        const bool ok = m_model->state() == ResultModel::State::Insert && !m_model->isModified()
                            ? (m_model->cancel(), true)
                            : m_model->post();
        if (!ok) {
            m_reverting = true;
            setCurrentIndex(m_model->index(m_model->editRow(), qMax(0, previous.column())));
            m_reverting = false;
        }
    }
    m_model->setCurrentRow(currentIndex().row());
}

bool ResultGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // Opening an editor starts editing the row, so a result that cannot be
    // written back says so before anything is typed.
    if (m_model && index.isValid() && state() != QAbstractItemView::EditingState
        && m_model->state() == ResultModel::State::Browse
        && (trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger))) {
        if (trigger == QAbstractItemView::AnyKeyPressed) {
            auto *ke = static_cast<QKeyEvent *>(event);
            if (!ke || ke->text().isEmpty() || !ke->text().at(0).isPrint()
                || (ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
                return QTableView::edit(index, trigger, event);
        }
        if (!m_model->beginEdit(index.row()))
            return false;
    }
    return QTableView::edit(index, trigger, event);
}

} // namespace dv
