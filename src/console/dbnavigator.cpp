#include "dbnavigator.h"

#include "resultgrid.h"
#include "resultmodel.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QToolButton>

namespace dv {

DbNavigator::DbNavigator(QWidget *parent) : QWidget(parent)
{
    struct Face {
        const char *glyph;
        const char *tip;
    };
    static const Face faces[ButtonCount] = {
        {"⇤", "第一条记录"}, {"◀", "上一条记录"}, {"▶", "下一条记录"}, {"⇥", "最后一条记录"},
        {"+", "插入记录"},   {"−", "删除记录"},   {"▲", "编辑记录"},   {"✔", "保存修改"},
        {"✖", "取消修改"},   {"↻", "刷新数据"},
    };
    QFont glyphFont = font();
    glyphFont.setPixelSize(13);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int b = 0; b < ButtonCount; ++b) {
        auto *btn = new QToolButton(this);
        btn->setText(QString::fromUtf8(faces[b].glyph));
        btn->setFont(glyphFont);
        btn->setToolTip(QString::fromUtf8(faces[b].tip));
        btn->setFocusPolicy(Qt::NoFocus); // a click leaves the grid's editor in place
        btn->setAutoRaise(false);
        btn->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        btn->setEnabled(false);
        connect(btn, &QToolButton::clicked, this, [this, b] { trigger(Button(b)); });
        row->addWidget(btn);
        m_buttons[b] = btn;
    }
}

void DbNavigator::bind(ResultGrid *grid, ResultModel *model)
{
    m_grid = grid;
    m_model = model;
    auto update = [this] { updateButtons(); };
    connect(model, &ResultModel::stateChanged, this, update);
    connect(model, &QAbstractItemModel::modelReset, this, update);
    connect(model, &QAbstractItemModel::rowsInserted, this, update);
    connect(model, &QAbstractItemModel::rowsRemoved, this, update);
    connect(model, &QAbstractItemModel::headerDataChanged, this, update);
    if (grid->selectionModel())
        connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, this, update);
    updateButtons();
}

void DbNavigator::updateButtons()
{
    bool on[ButtonCount] = {};
    if (m_model && m_grid && m_model->state() != ResultModel::State::Inactive) {
        const bool browsing = m_model->state() == ResultModel::State::Browse;
        const bool writable = m_model->readOnlyReason().isEmpty();
        const int rows = m_model->rowCount();
        const int cur = m_grid->currentIndex().isValid() ? m_grid->currentIndex().row() : -1;
        // Moving is allowed only once the row being edited is posted.
        on[First] = on[Prior] = browsing && cur > 0;
        on[Next] = on[Last] = browsing && rows > 0 && cur < rows - 1;
        on[Insert] = writable && browsing;
        on[Delete] = writable && rows > 0 && cur >= 0;
        on[Edit] = writable && browsing && rows > 0 && cur >= 0;
        on[Post] = writable && !browsing;
        on[Cancel] = !browsing;
        // While a row is edited, refresh re-reads that row and keeps the typed values.
        on[Refresh] = browsing || m_model->state() == ResultModel::State::Edit;
    }
    for (int b = 0; b < ButtonCount; ++b)
        m_buttons[b]->setEnabled(on[b]);
}

void DbNavigator::trigger(Button b)
{
    if (!m_grid || !m_model)
        return;
    const int cur = m_grid->currentIndex().row();
    switch (b) {
    case First:
        m_grid->moveToRow(0);
        break;
    case Prior:
        m_grid->moveToRow(cur - 1);
        break;
    case Next:
        m_grid->moveToRow(cur + 1);
        break;
    case Last:
        m_grid->moveToRow(m_model->rowCount() - 1);
        break;
    case Insert:
        m_grid->insertRecord();
        break;
    case Delete:
        m_grid->deleteRecord();
        break;
    case Edit:
        m_grid->editRecord();
        break;
    case Post:
        m_grid->postRecord();
        break;
    case Cancel:
        m_grid->cancelRecord();
        break;
    case Refresh:
        m_grid->refreshRecords();
        break;
    case ButtonCount:
        break;
    }
    updateButtons();
}

} // namespace dv
