#include "support/consolee2e.h"

#include "client/resultset.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/uikit.h"
#include "support/odbclogin.h"
#include "support/operatorinput.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

namespace dvtest {

ConsoleE2e::ConsoleE2e() : BoxCapture(true) {}

ConsoleE2e::~ConsoleE2e()
{
    check.reset();
    win.reset();
    server.reset();
}

bool ConsoleE2e::start(const QStringList &serverArgs)
{
    server = std::make_unique<TestServerProcess>();
    win = startServerAndLogin(*server, serverArgs);
    if (!win)
        return false;
    if (!win->conn->isConnected()) {
        qWarning("the window did not log in: %s", qPrintable(errors.join(u'\n')));
        return false;
    }
    messages.clear();
    check = dv::makeOdbcConnection();
    try {
        check->open(connectParams(*server));
    } catch (const dv::DbError &e) {
        qWarning("checking connection: %s", qPrintable(e.message()));
        return false;
    }
    return clickPage(*win, win->pc->indexOf(win->TabSheet1));
}

void ConsoleE2e::run(const QString &text)
{
    if (win->pc->currentWidget() != win->TabSheet1)
        clickPage(*win, win->pc->indexOf(win->TabSheet1));
    if (typeInto(win->RtSql, text))
        clickOn(win->btnExec);
}

QStringList ConsoleE2e::serverRows(const QString &sql)
{
    dv::Statement st;
    st.text = sql;
    const dv::RunResult r = check->open(st);
    QStringList out;
    for (qint64 i = 0; r.rows && i < r.rows->rowCount(); ++i) {
        QStringList vals;
        for (int c = 0; c < r.rows->columnCount(); ++c)
            vals << (r.rows->isNull(i, c) ? QStringLiteral("NULL") : r.rows->text(i, c));
        out << vals.join(u'|');
    }
    return out;
}

QVariant ConsoleE2e::serverValue(const QString &sql)
{
    dv::Statement st;
    st.text = sql;
    const dv::RunResult r = check->open(st);
    if (!r.rows || r.rows->rowCount() != 1)
        return QStringLiteral("<%1 rows>").arg(r.rows ? r.rows->rowCount() : -1);
    return r.rows->value(0, 0);
}

void ConsoleE2e::exec(const QString &sql, const QVector<QVariant> &params)
{
    dv::Statement st;
    st.text = sql;
    st.params = params;
    st.markerCount = int(params.size());
    check->execute(st);
}

dv::ResultGrid *ConsoleE2e::grid() const { return static_cast<dv::ResultGrid *>(win->DbGridResult); }

dv::ResultModel *ConsoleE2e::model() const { return win->dsResult; }

QString ConsoleE2e::cell(int row, int col) const { return model()->index(row, col).data().toString(); }

bool ConsoleE2e::click(dv::DbNavigator::Button b) { return clickOn(win->DBNaV->button(b)); }

bool ConsoleE2e::post()
{
    return click(dv::DbNavigator::Post) && model()->state() == dv::ResultModel::State::Browse;
}

int ConsoleE2e::insertRow()
{
    const int before = model()->rowCount();
    if (!click(dv::DbNavigator::Insert) || model()->rowCount() != before + 1)
        return -1;
    return grid()->currentIndex().row();
}

bool ConsoleE2e::deleteRow(int row)
{
    const int before = model()->rowCount();
    if (!selectCell(row, 0))
        return false;
    return click(dv::DbNavigator::Delete) && model()->rowCount() == before - 1;
}

bool ConsoleE2e::selectCell(int row, int col)
{
    const QModelIndex at = model()->index(row, col);
    if (!at.isValid() || !whyUnusable(grid()).isEmpty()) {
        qWarning("cell (%d, %d) cannot be clicked", row, col);
        return false;
    }
    grid()->scrollTo(at);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(at).center());
    return grid()->currentIndex() == at;
}

bool ConsoleE2e::setNull(int row, int col)
{
    if (!selectCell(row, col))
        return false;
    QTest::keyClick(grid(), Qt::Key_0, Qt::ControlModifier);
    return true;
}

QWidget *ConsoleE2e::openEditor(int row, int col)
{
    if (!selectCell(row, col))
        return nullptr;
    QTest::keyClick(grid(), Qt::Key_F2);
    if (!grid()->isEditing())
        return nullptr;
    QWidget *ed = QApplication::focusWidget();
    return ed && ed != grid() ? ed : nullptr;
}

bool ConsoleE2e::typeCell(int row, int col, const QString &text)
{
    QWidget *ed = openEditor(row, col);
    if (!ed) {
        qWarning("no editor opened on cell (%d, %d)", row, col);
        return false;
    }
    if (!typeInto(ed, text))
        return false;
    QWidget *now = QApplication::focusWidget();
    QTest::keyClick(now, qobject_cast<QPlainTextEdit *>(now) ? Qt::Key_Tab : Qt::Key_Return);
    // The view commits an editor left with Enter from the event loop.
    QCoreApplication::processEvents();
    return !grid()->isEditing();
}

bool ConsoleE2e::logout()
{
    if (!clickPage(*win, 0) || !clickOn(win->Button1))
        return false;
    if (win->conn->isConnected()) {
        qWarning("still connected after the logout click");
        return false;
    }
    return true;
}

bool ConsoleE2e::login(const QString &user, const QString &password)
{
    if (win->pc->currentIndex() != 0 && !clickPage(*win, 0))
        return false;
    if (!typeInto(win->tb_uid, user) || !typeInto(win->tb_pwd, password) || !clickOn(win->Button1))
        return false;
    return win->conn->isConnected() && clickPage(*win, win->pc->indexOf(win->TabSheet1));
}

} // namespace dvtest
