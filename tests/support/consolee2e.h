// The console end to end: a window logged in over the real ODBC driver to a
// test server of its own, driven as the operator drives it, and a second
// connection that reads what the server holds. Shared by the console suites.
#pragma once

#include "client/dbclient.h"
#include "console/dbnavigator.h"
#include "main/tfmain.h"
#include "support/boxcapture.h"
#include "support/testserverprocess.h"

#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

namespace dv {
class ResultGrid;
class ResultModel;
}

namespace dvtest {

// Records the boxes the window shows; deletions are confirmed.
class ConsoleE2e : public BoxCapture {
public:
    ConsoleE2e();
    ~ConsoleE2e();

    // Starts the server (extra arguments as for TestServerProcess::start),
    // logs the window in through its fields, opens the checking connection
    // and shows the console page. False, with a warning, when any of it failed.
    bool start(const QStringList &serverArgs = {});

    // Types `text` into the console's editor and clicks "执行".
    void run(const QString &text);

    // Through the second connection: the rows of `sql`, "a|b" per row (NULL
    // as "NULL"); the one value of `sql`; a statement with bound values.
    QStringList serverRows(const QString &sql);
    QVariant serverValue(const QString &sql);
    void exec(const QString &sql, const QVector<QVariant> &params = {});

    dv::ResultGrid *grid() const;
    dv::ResultModel *model() const;
    QString cell(int row, int col) const;

    // Clicks a navigator button; false (nothing clicked) when it is hidden or disabled.
    bool click(dv::DbNavigator::Button b);
    // Clicks "post"; true when the row was written (the grid is back to browsing).
    bool post();
    // Inserts a row with the navigator at the current row; its row number, -1 when none was added.
    int insertRow();
    // Makes `row` current and clicks "delete" (confirmed); true when the row left the grid.
    bool deleteRow(int row);
    // Clicks the cell, as the operator makes a cell current (leaving an edited row posts it).
    bool selectCell(int row, int col);
    // Makes the cell current and sets it to NULL with Ctrl+0.
    bool setNull(int row, int col);
    // Opens the cell's editor with F2, as the operator does to read a value;
    // the editor, or null when none opened.
    QWidget *openEditor(int row, int col);
    // Opens the cell's editor, replaces its text by typing and leaves it
    // (Enter in a one-line editor, which keeps the cell current; Tab in the
    // multi-line one).
    bool typeCell(int row, int col, const QString &text);
    // Logs out with the login page's button; logs in there as `user`.
    bool logout();
    bool login(const QString &user, const QString &password);

    std::unique_ptr<TestServerProcess> server;
    std::unique_ptr<TFMAIN> win;
    std::unique_ptr<dv::Connection> check;
};

} // namespace dvtest
