// The console page over the in-process fake connection: the "执行" handler
// step by step, the navigator's buttons per state, delete confirmation, posts
// on leaving a row, refusals, and the page after logout.
#include "app/application.h"
#include "client/query.h"
#include "client/resultset.h"
#include "console/dbnavigator.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/fakecatalog.h"
#include "support/fakeconnection.h"
#include "support/operatorinput.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QLabel>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <memory>

using dv::DbNavigator;
using dv::ValueKind;

namespace {

dv::ColumnInfo col(const QString &name, ValueKind kind)
{
    dv::ColumnInfo c;
    c.name = name;
    c.kind = kind;
    return c;
}

void addText(dv::ResultSet &rs, const QString &s) { rs.addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size()); }

std::shared_ptr<dv::ResultSet> textRows(const QStringList &cols, const QList<QStringList> &rows)
{
    QVector<dv::ColumnInfo> info;
    for (const QString &c : cols)
        info << col(c, ValueKind::Text);
    auto rs = std::make_shared<dv::ResultSet>(info);
    for (const QStringList &r : rows) {
        for (const QString &v : r)
            addText(*rs, v);
        rs->endRow();
    }
    return rs;
}

struct Console : dvtest::FakeWindow {
    QStringList messages, errors, confirms;
    bool confirmAnswer = true;
    QString failWrites; // writes throw this when set
    QList<dv::Statement> writes;

    Console()
    {
        dv::BoxHooks::message = [this](const QString &t) { messages << t; };
        dv::BoxHooks::error = [this](const QString &t) { errors << t; };
        dv::BoxHooks::confirm = [this](const QString &t) {
            confirms << t;
            return confirmAnswer;
        };
        // A table t(k, v) with primary key k; unbound markers fail as the
        // client layer makes them fail.
        fake->handler = [this](const dv::Statement &st, bool open) {
            if (st.markerCount > st.params.size())
                throw dv::DbError(QStringLiteral("COUNT field incorrect or syntax error"), QStringLiteral("07002"));
            dv::RunResult r;
            const QString t = st.text;
            dvtest::FakeTable table;
            table.name = "t";
            table.columns = {{"k", "int", 4}, {"v", "nvarchar", 40}};
            table.primaryKey = {"k"};
            if (auto answer = dvtest::answerCatalog(st, table))
                return *answer;
            if (dvtest::isWriteBatch(t)) {
                writes << st;
                if (!failWrites.isEmpty())
                    throw dv::DbError(failWrites);
                return dvtest::writeAnswer(st, 1);
            } else if (open) {
                // "insert ... select" and "select" without a table give no rows
                if (!t.contains(QLatin1String("from")) || t.startsWith(QLatin1String("insert into t select")))
                    throw dv::DbError(QString::fromLatin1(dv::kNoResultSetText));
                r.rows = textRows({"k", "v"}, {{"1", "a"}, {"2", "b"}, {"3", "c"}});
            }
            return r;
        };
    }
    ~Console()
    {
        dv::BoxHooks::message = nullptr;
        dv::BoxHooks::error = nullptr;
        dv::BoxHooks::confirm = nullptr;
    }
    void connect() { fake->open(dv::ConnectParams{}); }
    // Types the statement into the console and clicks the execute button.
    void run(const QString &text)
    {
        QVERIFY(dvtest::typeOnPage(*w, w->RtSql, text));
        QVERIFY(dvtest::clickOnPage(*w, w->btnExec));
    }
    dv::ResultGrid *grid() const { return static_cast<dv::ResultGrid *>(w->DbGridResult); }
    dv::ResultModel *model() const { return w->dsResult; }
    bool enabled(DbNavigator::Button b) const { return w->DBNaV->button(b)->isEnabled(); }
    void click(DbNavigator::Button b) { QTest::mouseClick(w->DBNaV->button(b), Qt::LeftButton); }
    QString cell(int r, int c) const { return model()->index(r, c).data().toString(); }
    QString log() const { return w->tb_memo->toPlainText(); }
};

} // namespace

class TestConsoleGui : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void notConnected();
    void failureHandledInsideHandler();
    void upperCaseSelectIsExecuted();
    void insertSelectFails();
    void selectShowsRows();
    void markers_data();
    void markers();
    void navigatorStates();
    void deleteAsks_data();
    void deleteAsks();
    void leavingRowPosts();
    void readOnlyResultRefusesEdit();
    void readOnlyShownWithRows_data();
    void readOnlyShownWithRows();
    void afterLogout();
    void typingInTheGrid();
    void refusedValueStopsPost();
    void millionRowsScroll();
};

void TestConsoleGui::layout()
{
    Console c;
    c.w->resize(1200, 900);
    c.w->show();
    c.w->pc->setCurrentWidget(c.w->TabSheet1);
    QVERIFY(QTest::qWaitForWindowExposed(c.w.get()));
    QCOMPARE(c.w->btnExec->text(), QString("执行"));
    QCOMPARE(c.w->btnExec->geometry(), QRect(440, 98, 75, 31));
    QCOMPARE(c.w->btnExec->parentWidget(), c.w->TabSheet1);
    QCOMPARE(c.w->RtSql->height(), 89);
    QCOMPARE(c.w->RtSql->width(), c.w->TabSheet1->width());
    QCOMPARE(c.w->RtSql->font().pixelSize(), 19);
    QVERIFY(c.w->DbGridResult->geometry().top() >= 98 + 31);
    QCOMPARE(c.w->DBNaV->parentWidget(), c.w.get());
    QCOMPARE(c.w->DBNaV->geometry(), QRect(80, 184, 240, 25));
    // The button keeps its place when the window grows.
    c.w->resize(1500, 1000);
    QTest::qWait(10);
    QCOMPARE(c.w->btnExec->geometry(), QRect(440, 98, 75, 31));
    QCOMPARE(c.w->RtSql->width(), c.w->TabSheet1->width());
    QCOMPARE(c.w->DbGridResult->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
}

void TestConsoleGui::notConnected()
{
    // The console page opens only while connected: the link goes after the
    // operator ran a query there. The handler stops before touching the
    // query, so the grid keeps its rows.
    Console c;
    c.connect();
    c.run("select * from t");
    QCOMPARE(c.model()->rowCount(), 3);
    const QString logBefore = c.log();
    c.fake->close();
    c.fake->calls.clear();
    c.run("select * from t where k = 1");
    QCOMPARE(c.messages, QStringList{QString("请先连接服务器！")});
    QVERIFY(c.fake->calls.isEmpty());
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.log(), logBefore);
}

void TestConsoleGui::upperCaseSelectIsExecuted()
{
    Console c;
    c.connect();
    c.run("SELECT * FROM t");
    QCOMPARE(c.fake->calls.size(), 1);
    QCOMPARE(c.fake->calls[0].open, false);
    QCOMPARE(c.fake->calls[0].statement.text, QString("SELECT * FROM t\r\n"));
    QCOMPARE(c.model()->rowCount(), 0);
    QVERIFY(c.errors.isEmpty());
    QVERIFY(c.log().contains("执行sql：SELECT * FROM t"));
    QVERIFY(!c.w->DBNaV->isHidden());
}

void TestConsoleGui::insertSelectFails()
{
    Console c;
    c.connect();
    c.run("insert into t select * from u");
    QCOMPARE(c.fake->calls.size(), 1);
    QVERIFY(c.fake->calls[0].open);
    // The error display appends the full stop.
    QCOMPARE(c.errors, QStringList{QString("AdoQExec: CommandText does not return a result set.")});
    QVERIFY(!c.log().contains("执行sql"));
    QVERIFY(!c.w->DBNaV->isHidden()); // shown before the statement ran
    QCOMPARE(c.model()->rowCount(), 0);
}

void TestConsoleGui::failureHandledInsideHandler()
{
    // Called directly, not through the button's signal: an error that left the
    // handler would reach the test instead of the error display.
    Console c;
    c.connect();
    c.w->show();
    c.w->pc->setCurrentWidget(c.w->TabSheet1);
    QVERIFY(QTest::qWaitForWindowExposed(c.w.get()));
    QVERIFY(c.w->RtSql->isVisible() && c.w->RtSql->isEnabled());
    c.w->RtSql->setFocus();
    QTest::keyClicks(c.w->RtSql, "select nothing");
    c.w->btnExecClick();
    QCOMPARE(c.errors.size(), 1);
    QVERIFY(!c.errors[0].isEmpty());
    QVERIFY(!c.log().contains("执行sql"));
}

void TestConsoleGui::selectShowsRows()
{
    Console c;
    c.connect();
    c.run("insert into t values ('4', 'd')\r\nselect * from t");
    QVERIFY(c.errors.isEmpty());
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.model()->headerData(1, Qt::Horizontal).toString(), QString("v"));
    QCOMPARE(c.grid()->currentIndex().row(), 0);
    QVERIFY(c.log().contains("执行sql：insert into t values ('4', 'd')"));
    // A new statement empties the grid before it runs, even when it fails.
    c.run("select nothing");
    QCOMPARE(c.errors.size(), 1);
    QCOMPARE(c.model()->rowCount(), 0);
}

void TestConsoleGui::markers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<int>("markers");
    QTest::newRow("colon outside quotes") << "select 1 as a:b from t" << "select 1 as a? from t\r\n" << 1;
    QTest::newRow("inside quotes") << "select 'a:b' from t" << "select 'a:b' from t\r\n" << 0;
    QTest::newRow("double colon") << "select a::b from t" << "select a::b from t\r\n" << 0;
}

void TestConsoleGui::markers()
{
    QFETCH(QString, text);
    QFETCH(QString, sent);
    QFETCH(int, markers);
    Console c;
    c.connect();
    c.run(text);
    QCOMPARE(c.fake->calls.size(), 1);
    QCOMPARE(c.fake->calls[0].statement.text, sent);
    QCOMPARE(c.fake->calls[0].statement.markerCount, markers);
    // A marker without a value fails and is not logged.
    QCOMPARE(c.errors.size(), markers ? 1 : 0);
    QCOMPARE(c.log().contains("执行sql"), markers == 0);
}

void TestConsoleGui::navigatorStates()
{
    Console c;
    c.connect();
    for (int b = 0; b < DbNavigator::ButtonCount; ++b)
        QVERIFY(!c.enabled(DbNavigator::Button(b)));
    c.run("select * from t");
    using B = DbNavigator;
    auto states = [&] {
        QString s;
        for (int b = 0; b < DbNavigator::ButtonCount; ++b)
            s += c.enabled(DbNavigator::Button(b)) ? '1' : '0';
        return s;
    };
    // first prior next last insert delete edit post cancel refresh
    QCOMPARE(states(), QString("0011111001"));
    c.click(B::Next);
    QCOMPARE(c.grid()->currentIndex().row(), 1);
    QCOMPARE(states(), QString("1111111001"));
    c.click(B::Last);
    QCOMPARE(c.grid()->currentIndex().row(), 2);
    QCOMPARE(states(), QString("1100111001"));
    c.click(B::Prior);
    QCOMPARE(c.grid()->currentIndex().row(), 1);
    // Editing: only post and cancel (and delete, and refresh of that row) until the row is posted.
    QVERIFY(c.model()->setData(c.model()->index(1, 1), "bb"));
    QCOMPARE(states(), QString("0000010111"));
    c.click(B::Post);
    QCOMPARE(c.writes.size(), 1);
    QCOMPARE(c.cell(1, 1), QString("bb"));
    QCOMPARE(states(), QString("1111111001"));
    c.click(B::Insert);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Insert);
    QCOMPARE(c.model()->rowCount(), 4);
    QCOMPARE(states(), QString("0000010110"));
    c.click(B::Cancel);
    QCOMPARE(c.model()->rowCount(), 3);
    // A new row with a typed value, cancelled: nothing is written (the view
    // moving off the row that goes away is no leaving that posts it).
    QVERIFY(dvtest::showWindow(*c.w));
    QVERIFY(dvtest::clickPage(*c.w, c.w->pc->indexOf(c.w->TabSheet1)));
    c.click(B::Insert);
    c.grid()->setFocus();
    QTest::keyClick(c.grid(), Qt::Key_F2);
    QVERIFY(c.grid()->isEditing());
    QWidget *editor = c.grid()->indexWidget(c.grid()->currentIndex());
    QVERIFY(editor && editor->isVisible() && editor->isEnabled());
    QTest::keyClicks(editor, "9");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QVERIFY(c.model()->isModified());
    c.click(B::Cancel);
    QCOMPARE(c.writes.size(), 1);
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Browse);
    c.click(B::First);
    QCOMPARE(c.grid()->currentIndex().row(), 0);
    QCOMPARE(states(), QString("0011111001"));
    c.click(B::Edit);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    c.click(B::Cancel);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Browse);
    // The refresh button reads the result again.
    const int before = c.fake->calls.size();
    c.click(B::Refresh);
    QCOMPARE(c.fake->calls.size(), before + 1);
    QCOMPARE(c.model()->rowCount(), 3);
    // A statement without rows leaves nothing to navigate.
    c.run("update t set v = 'x'");
    QCOMPARE(states(), QString("0000000000"));
}

void TestConsoleGui::deleteAsks_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("viaKeyboard");
    QTest::newRow("navigator OK") << true << false;
    QTest::newRow("navigator Cancel") << false << false;
    QTest::newRow("Ctrl+Delete OK") << true << true;
    QTest::newRow("Ctrl+Delete Cancel") << false << true;
}

void TestConsoleGui::deleteAsks()
{
    QFETCH(bool, answer);
    QFETCH(bool, viaKeyboard);
    Console c;
    c.connect();
    c.run("select * from t");
    c.grid()->moveToRow(1);
    c.confirmAnswer = answer;
    if (viaKeyboard)
        QTest::keyClick(c.grid(), Qt::Key_Delete, Qt::ControlModifier);
    else
        c.click(DbNavigator::Delete);
    QCOMPARE(c.confirms, QStringList{QString("Delete record?")});
    QCOMPARE(c.writes.size(), answer ? 1 : 0);
    QCOMPARE(c.model()->rowCount(), answer ? 2 : 3);
    QCOMPARE(c.cell(1, 1), QString(answer ? "c" : "b"));
    if (answer)
        QVERIFY2(c.writes[0].text.contains("DELETE FROM [shop].[dbo].[t] OUTPUT DELETED.[k] WHERE [k] = CAST(? AS int) "
                                           "AND [v] = CAST(? AS nvarchar(20))"),
                 qPrintable(c.writes[0].text));
}

void TestConsoleGui::leavingRowPosts()
{
    Console c;
    c.connect();
    c.run("select k, v from t");
    QVERIFY(c.model()->setData(c.model()->index(0, 1), "aa"));
    c.failWrites = "String or binary data would be truncated";
    c.grid()->moveToRow(2);
    // Refused: the error is shown and the grid stays on the edited row.
    QCOMPARE(c.errors, QStringList{QString("String or binary data would be truncated.")});
    QCOMPARE(c.grid()->currentIndex().row(), 0);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    c.failWrites.clear();
    c.grid()->moveToRow(2);
    QCOMPARE(c.grid()->currentIndex().row(), 2);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Browse);
    QCOMPARE(c.writes.size(), 2);
    QCOMPARE(c.cell(0, 1), QString("aa"));

    // A new row left without changes goes away without a write.
    c.click(DbNavigator::Insert);
    QCOMPARE(c.model()->rowCount(), 4);
    c.grid()->moveToRow(0);
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.writes.size(), 2);

    // Typing a value, Ctrl+0 sets the cell to NULL.
    c.grid()->setFocus();
    c.grid()->setCurrentIndex(c.model()->index(1, 1));
    QTest::keyClick(c.grid(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(c.cell(1, 1), QString("(NULL)"));
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    QTest::keyClick(c.grid(), Qt::Key_Escape);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Browse);
    QCOMPARE(c.cell(1, 1), QString("b"));
}

void TestConsoleGui::readOnlyResultRefusesEdit()
{
    Console c;
    c.connect();
    c.run("select k, v + 'x' as v from t");
    QVERIFY(!c.model()->setData(c.model()->index(0, 1), "zz"));
    QCOMPARE(c.errors, QStringList{QString("此结果来自连接、表达式或多个表,结果只读.")});
    QVERIFY(!c.enabled(DbNavigator::Insert));
    c.click(DbNavigator::Insert);
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.errors.size(), 1);
    QVERIFY(c.writes.isEmpty());
}

void TestConsoleGui::readOnlyShownWithRows_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("reason"); // empty: the rows can be written back
    QTest::newRow("cte") << "with x as (select k, v from t) select k, v from x"
                         << "结果来自公用表表达式(WITH),结果只读";
    QTest::newRow("expression") << "select k, v + 'x' as v from t" << "此结果来自连接、表达式或多个表,结果只读";
    QTest::newRow("control flow") << "if 1 = 1 select k, v from t"
                                  << "语句含有流程控制(IF、WHILE、BEGIN…END 等),无法确定结果来自哪一条语句,结果只读";
    QTest::newRow("table") << "select k, v from t" << "";
    QTest::newRow("table, where") << "select * from t where k > 0" << "";
}

// The reason a result is read-only shows with its rows, and the navigator
// offers no write for it, before the operator types anything; the next
// editable result takes both back.
void TestConsoleGui::readOnlyShownWithRows()
{
    QFETCH(QString, sql);
    QFETCH(QString, reason);
    Console c;
    c.connect();
    auto *label = c.w->findChild<QLabel *>("lbl_readonly");
    QVERIFY(label);
    using B = DbNavigator;
    const QList<B::Button> writes{B::Insert, B::Delete, B::Edit, B::Post};
    // Edit of the first row, insert, delete: "111" when all are offered.
    auto offered = [&] {
        QString s;
        for (B::Button b : {B::Insert, B::Delete, B::Edit})
            s += c.enabled(b) ? '1' : '0';
        return s;
    };
    for (int round = 0; round < 2; ++round) {
        c.run(sql);
        QCOMPARE(c.model()->rowCount(), 3);
        QCOMPARE(label->isVisible(), !reason.isEmpty());
        if (!reason.isEmpty())
            QCOMPARE(label->text(), reason);
        QCOMPARE(offered(), reason.isEmpty() ? QString("111") : QString("000"));
        QVERIFY(!c.enabled(B::Post));
        QVERIFY(c.enabled(B::Refresh));
        QCOMPARE(c.errors, QStringList{});
        // The clicks that are refused do nothing: no box, no write.
        if (!reason.isEmpty()) {
            for (B::Button b : writes)
                c.click(b);
            QCOMPARE(c.errors, QStringList{});
            QCOMPARE(c.model()->state(), dv::ResultModel::State::Browse);
        }
        // An editable result next: the label goes, the writes come back.
        c.run("select k, v from t");
        QVERIFY(!label->isVisible());
        QCOMPARE(offered(), QString("111"));
        // A statement without rows hides the label too.
        c.run(sql);
        c.run("update t set v = 'x'");
        QVERIFY(!label->isVisible());
    }
    QVERIFY(c.writes.isEmpty());
}

void TestConsoleGui::afterLogout()
{
    Console c;
    c.connect();
    c.run("select * from t");
    QVERIFY(c.model()->setData(c.model()->index(0, 1), "aa"));
    c.fake->close(); // logout closes the connection, not the result
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.cell(2, 1), QString("c"));
    // Posting needs the server: the client's own error is shown, the edit
    // stays pending and the stored row is unchanged.
    c.click(DbNavigator::Post);
    QCOMPARE(c.errors, QStringList{QString("Connection is closed.")});
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    QCOMPARE(c.cell(0, 1), QString("aa"));
    QCOMPARE(c.model()->resultSet()->text(0, 1), QString("a"));
    c.click(DbNavigator::Cancel);
    QCOMPARE(c.cell(0, 1), QString("a"));
    c.confirmAnswer = true;
    c.click(DbNavigator::Delete);
    QCOMPARE(c.errors.size(), 2);
    QCOMPARE(c.model()->rowCount(), 3);
    QVERIFY(c.writes.isEmpty());
    c.run("select * from t");
    QCOMPARE(c.messages, QStringList{QString("请先连接服务器！")});
    QCOMPARE(c.model()->rowCount(), 3); // the old result is still shown
}

void TestConsoleGui::typingInTheGrid()
{
    Console c;
    c.connect();
    c.w->show();
    c.w->pc->setCurrentWidget(c.w->TabSheet1);
    QVERIFY(QTest::qWaitForWindowExposed(c.w.get()));
    c.run("select k, v from t");
    c.grid()->setFocus();
    c.grid()->setCurrentIndex(c.model()->index(1, 1));
    // A key starts editing the row; Enter hands the text to the model.
    QTest::keyClicks(c.grid(), "z");
    QVERIFY(c.grid()->isEditing());
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    QWidget *editor = QApplication::focusWidget();
    QVERIFY(editor && editor != c.grid());
    QTest::keyClicks(editor, "zz");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits on a queued call
    QVERIFY(!c.grid()->isEditing());
    QCOMPARE(c.cell(1, 1), QString("zzz"));
    QCOMPARE(c.model()->headerData(1, Qt::Vertical).toString(), QString::fromUtf8("✎"));
    QVERIFY(c.writes.isEmpty());
    // Tab moves to the next cell of the same row: still not posted.
    c.grid()->setCurrentIndex(c.model()->index(1, 0));
    QTest::keyClick(c.grid(), Qt::Key_Tab);
    QCOMPARE(c.grid()->currentIndex(), c.model()->index(1, 1));
    QVERIFY(c.writes.isEmpty());
    QTest::keyClick(c.grid(), Qt::Key_Down);
    QCOMPARE(c.writes.size(), 1);
    QCOMPARE(c.writes[0].params.value(0).toString(), QString("zzz"));

    // On a result that cannot be written back no editor opens.
    c.run("select count(*) from t");
    c.grid()->setFocus();
    QTest::keyClicks(c.grid(), "9");
    QVERIFY(!c.grid()->isEditing());
    QCOMPARE(c.errors.size(), 1);
}

void TestConsoleGui::refusedValueStopsPost()
{
    Console c;
    c.connect();
    c.w->show();
    c.w->pc->setCurrentWidget(c.w->TabSheet1);
    QVERIFY(QTest::qWaitForWindowExposed(c.w.get()));
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{col("k", ValueKind::Integer), col("v", ValueKind::Text)});
    rs->addInteger(1);
    addText(*rs, "a");
    rs->endRow();
    c.w->AdoQExec->setLines({"select k, v from t"});
    c.model()->setResultSet(rs);
    c.grid()->setFocus();
    c.grid()->setCurrentIndex(c.model()->index(0, 1));
    QTest::keyClicks(c.grid(), "b");
    QVERIFY(c.grid()->isEditing());
    c.click(DbNavigator::Post); // the navigator commits the open editor first
    QCOMPARE(c.writes.size(), 1);
    QCOMPARE(c.cell(0, 1), QString("b"));

    c.grid()->setCurrentIndex(c.model()->index(0, 0));
    QTest::keyClicks(c.grid(), "x");
    QVERIFY(c.grid()->isEditing());
    c.click(DbNavigator::Post);
    // "x" is no integer: shown, nothing written, the row still being edited.
    QCOMPARE(c.errors.size(), 1);
    QVERIFY(c.errors[0].contains("x"));
    QCOMPARE(c.writes.size(), 1);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    QCOMPARE(c.cell(0, 0), QString("1"));

    // Insert posts or drops the pending row before adding a new one.
    c.click(DbNavigator::Cancel);
    QTest::keyClick(c.grid(), Qt::Key_Insert);
    QCOMPARE(c.model()->rowCount(), 2);
    QVERIFY(c.model()->setData(c.model()->index(0, 1), "new"));
    QTest::keyClick(c.grid(), Qt::Key_Insert);
    QCOMPARE(c.writes.size(), 2);
    QVERIFY2(c.writes[1].text.contains("INSERT INTO [shop].[dbo].[t] ([v]) OUTPUT"), qPrintable(c.writes[1].text));
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Insert);
}

void TestConsoleGui::millionRowsScroll()
{
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        col("a", ValueKind::Integer), col("b", ValueKind::Text), col("c", ValueKind::Double),
        col("d", ValueKind::Integer), col("e", ValueKind::Text)});
    const QString s = QStringLiteral("some text");
    for (int i = 0; i < 1000000; ++i) {
        rs->addInteger(i);
        addText(*rs, s);
        rs->addDouble(i / 4.0);
        rs->addInteger(-i);
        addText(*rs, s);
        rs->endRow();
    }
    Console c;
    c.w->resize(1000, 800);
    c.w->show();
    c.w->pc->setCurrentWidget(c.w->TabSheet1);
    QVERIFY(QTest::qWaitForWindowExposed(c.w.get()));
    c.model()->setResultSet(rs);
    QCoreApplication::processEvents();
    c.grid()->moveToRow(999999);
    QCoreApplication::processEvents();
    c.grid()->scrollToTop();
    QCoreApplication::processEvents();
    c.grid()->verticalScrollBar()->setValue(500000);
    QCoreApplication::processEvents();
    QCOMPARE(c.model()->rowCount(), 1000000);
    QCOMPARE(c.model()->headerData(999999, Qt::Vertical).toString(), QString::fromUtf8("▶"));
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestConsoleGui t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_console_gui.moc"
