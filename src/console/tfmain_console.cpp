// The SQL console page (page 9) and the record navigator DBNaV.
#include "main/tfmain.h"

#include "client/dbclient.h"
#include "client/query.h"
#include "console/dbnavigator.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/uikit.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

QFont consoleFont()
{
    QFont f(QStringLiteral("Segoe UI Light"));
    f.setPixelSize(19);
    return f;
}

} // namespace

void TFMAIN::buildConsolePage()
{
    auto *page = TabSheet1;
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    RtSql = new QTextEdit(page);
    RtSql->setObjectName(QStringLiteral("RtSql"));
    RtSql->setAcceptRichText(true);
    RtSql->setFont(consoleFont());
    RtSql->setFixedHeight(89);
    // Lines are not wrapped: Qt lays out a long unbroken line (a pasted
    // one-line script or literal) in time quadratic in its length when it
    // must find a break, which froze the window for minutes on a megabyte.
    RtSql->setLineWrapMode(QTextEdit::NoWrap);
    v->addWidget(RtSql);
    onKeyPress(RtSql, &TFMAIN::RtSqlKeyDown);
    // The band between the editor and the grid holds btnExec and, floating
    // over it at window level, the navigator.
    v->addSpacing(46);

    auto *grid = new dv::ResultGrid(page);
    grid->setObjectName(QStringLiteral("DbGridResult"));
    grid->horizontalHeader()->setFont(consoleFont());
    DbGridResult = grid;
    v->addWidget(grid, 1);

    lbl_readonly = new QLabel(page);
    lbl_readonly->setObjectName(QStringLiteral("lbl_readonly"));
    lbl_readonly->setWordWrap(true);
    lbl_readonly->setContentsMargins(6, 4, 6, 4);
    QPalette readOnlyPalette = lbl_readonly->palette();
    readOnlyPalette.setColor(QPalette::WindowText, QColor(0xa0, 0x30, 0x00));
    lbl_readonly->setPalette(readOnlyPalette);
    lbl_readonly->hide();
    v->addWidget(lbl_readonly);

    dsResult = new dv::ResultModel(AdoQExec, this);
    dsResult->setObjectName(QStringLiteral("dsResult"));
    grid->setResultModel(dsResult);
    // The model reports refused and failed writes; the operator sees them in
    // the application's error display.
    connect(dsResult, &dv::ResultModel::failed, this, [](const QString &msg) { dv::showErrorDisplay(msg); });
    connect(dsResult, &dv::ResultModel::notice, this, [](const QString &msg) { dv::showMessageBox(msg); });
    // A read-only result says so while it is shown, before anyone types.
    connect(dsResult, &dv::ResultModel::stateChanged, this, [this] {
        const QString reason = dsResult->resultSet() ? dsResult->readOnlyReason() : QString();
        lbl_readonly->setText(reason);
        lbl_readonly->setVisible(!reason.isEmpty());
    });

    // Not in the layout: the button keeps its place when the page grows.
    btnExec = new QPushButton(QStringLiteral("执行"), page);
    btnExec->setObjectName(QStringLiteral("btnExec"));
    btnExec->setGeometry(440, 98, 75, 31);
    btnExec->setToolTip(QStringLiteral("执行 (F5 或 Ctrl+Enter)"));
    btnExec->raise();
    connect(btnExec, &QPushButton::clicked, this, &TFMAIN::btnExecClick);
}

void TFMAIN::showNavigator(bool shown)
{
    if (!DBNaV)
        return;
    DBNaV->setVisible(shown);
    if (shown)
        DBNaV->raise();
}

void TFMAIN::buildNavigator()
{
    DBNaV = new dv::DbNavigator(this);
    DBNaV->setObjectName(QStringLiteral("DBNaV"));
    DBNaV->setGeometry(80, 184, 240, 25);
    DBNaV->bind(static_cast<dv::ResultGrid *>(DbGridResult), dsResult);
    DBNaV->hide();
}

void TFMAIN::btnExecClick()
{
    if (!conn->isConnected()) {
        dv::showMessageBox(QStringLiteral("请先连接服务器！"));
        return;
    }
    DBNaV->show();
    DBNaV->raise();
    const QString text = RtSql->toPlainText();
    // Replacing the lines closes the previous result: the grid empties here.
    AdoQExec->setLines(QStringList{text});
    // A failed statement goes to the default error display and is not logged.
    // It is caught here: an exception must not leave a slot through Qt's
    // signal dispatch.
    try {
        if (text.contains(QStringLiteral("select"), Qt::CaseSensitive))
            AdoQExec->open();
        else
            AdoQExec->execute();
    } catch (const std::exception &e) {
        dv::showErrorDisplay(dv::exceptionText(e));
        return;
    }
    AppendLog(QStringLiteral("执行sql：") + text);
    m_sqlHistory.ran(text);
}

void TFMAIN::RtSqlKeyDown(QKeyEvent *e)
{
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    const int key = e->key();
    if ((key == Qt::Key_F5 && mods == Qt::NoModifier)
        || ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::ControlModifier)) {
        e->accept(); // no line break for Ctrl+Enter
        btnExecClick();
        return;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && mods == Qt::AltModifier) {
        e->accept();
        const QString shown = RtSql->toPlainText();
        const std::optional<QString> text = key == Qt::Key_Up ? m_sqlHistory.older(shown) : m_sqlHistory.newer(shown);
        if (!text)
            return;
        // Replaced as one edit, so that Ctrl+Z brings back what was shown.
        QTextCursor c(RtSql->document());
        c.beginEditBlock();
        c.select(QTextCursor::Document);
        c.insertText(*text);
        c.endEditBlock();
        RtSql->setTextCursor(c);
    }
}
