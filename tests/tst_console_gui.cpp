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
#include "support/boxcapture.h"
#include "support/fakecatalog.h"
#include "support/fakeconnection.h"
#include "support/operatorinput.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
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

struct Console : dvtest::FakeWindow, dvtest::BoxCapture {
    QString failWrites; // writes throw this when set
    QList<dv::Statement> writes;

    Console() : dvtest::BoxCapture(true)
    {
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

// k int, v nvarchar, d date: values with a tab, a line break and NULL.
std::shared_ptr<dv::ResultSet> copyRows()
{
    auto rs = std::make_shared<dv::ResultSet>(
        QVector<dv::ColumnInfo>{col("k", ValueKind::Integer), col("v", ValueKind::Text), col("d", ValueKind::Date)});
    rs->addInteger(1);
    addText(*rs, "a\tb");
    rs->addDate(2024, 1, 2);
    rs->endRow();
    rs->addInteger(2);
    addText(*rs, "line1\r\nline2");
    rs->addNull();
    rs->endRow();
    rs->addInteger(3);
    addText(*rs, "plain");
    rs->addDate(2024, 3, 4);
    rs->endRow();
    return rs;
}

// k int, v nvarchar: numbers that sort differently as text, mixed case.
std::shared_ptr<dv::ResultSet> sortRows()
{
    auto rs = std::make_shared<dv::ResultSet>(
        QVector<dv::ColumnInfo>{col("k", ValueKind::Integer), col("v", ValueKind::Text)});
    const QList<QVariant> ks{10, 9, QVariant(), 100};
    const QStringList vs{"b", "A", "a", "B"};
    for (int i = 0; i < 4; ++i) {
        if (ks[i].isNull())
            rs->addNull();
        else
            rs->addInteger(ks[i].toInt());
        addText(*rs, vs[i]);
        rs->endRow();
    }
    return rs;
}

QPoint titleCenter(QHeaderView *h, int section)
{
    return h->orientation() == Qt::Horizontal
               ? QPoint(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2)
               : QPoint(h->width() / 2, h->sectionViewportPosition(section) + h->sectionSize(section) / 2);
}

void clickTitle(QHeaderView *h, int section, Qt::KeyboardModifiers mods = {})
{
    QVERIFY(dvtest::whyUnusable(h).isEmpty());
    QTest::mouseClick(h->viewport(), Qt::LeftButton, mods, titleCenter(h, section));
}

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
    void runKeys_data();
    void runKeys();
    void historyKeys();
    void copyKeys_data();
    void copyKeys();
    void sortClicks_data();
    void sortClicks();
    void sortFollowsCurrentRow();
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

void TestConsoleGui::runKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("F5") << int(Qt::Key_F5) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Enter on the keypad") << int(Qt::Key_Enter) << int(Qt::ControlModifier | Qt::KeypadModifier);
}

// The run keys in the editor do what a click on "执行" does: the rows, the
// log entry, the error display; Ctrl+Enter adds no line break.
void TestConsoleGui::runKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Console c;
    c.connect();
    QVERIFY(dvtest::showWindow(*c.w));
    QVERIFY(dvtest::clickPageOf(*c.w, c.w->RtSql));
    QVERIFY(c.w->btnExec->toolTip().contains("F5"));
    QVERIFY(c.w->btnExec->toolTip().contains("Ctrl+Enter"));
    // The page's hint keeps its text.
    QCOMPARE(c.w->statusPanel1->text(), TFMAIN::pageHint(9));

    // First by click, then by key: the same outcome.
    const QString sql = "select k, v from t";
    c.run(sql);
    const QString clickedLog = c.log();
    QVERIFY(clickedLog.contains(QString("执行sql：") + sql));
    c.run("update t set v = 1");
    QVERIFY(dvtest::typeInto(c.w->RtSql, sql));
    QCOMPARE(c.model()->rowCount(), 0);
    QTest::keyClick(c.w->RtSql, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(c.w->RtSql->toPlainText(), sql);
    QCOMPARE(c.model()->rowCount(), 3);
    QCOMPARE(c.cell(2, 1), QString("c"));
    QCOMPARE(c.log().count("执行sql："), 3);
    QCOMPARE(c.log().count(QString("执行sql：") + sql), 2);
    QCOMPARE(c.w->DBNaV->isVisible(), true);
    QCOMPARE(c.errors, QStringList{});
    // The keys stay with the editor: the operator types on.
    QCOMPARE(QApplication::focusWidget(), c.w->RtSql);

    // A failing text: the error display as for the click, nothing logged,
    // the grid emptied.
    c.run("insert into t select 1");
    QCOMPARE(c.errors.size(), 1);
    const QString clickedError = c.errors[0];
    QVERIFY(dvtest::typeInto(c.w->RtSql, "insert into t select 1"));
    QTest::keyClick(c.w->RtSql, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(c.errors.size(), 2);
    QCOMPARE(c.errors[1], clickedError);
    QCOMPARE(c.log().count("执行sql："), 3);
    QCOMPARE(c.model()->rowCount(), 0);

    // Without a modifier Enter is a line break, as before.
    QVERIFY(dvtest::typeInto(c.w->RtSql, "select"));
    QTest::keyClick(c.w->RtSql, Qt::Key_Return);
    QCOMPARE(c.w->RtSql->toPlainText(), QString("select\n"));
    QCOMPARE(c.log().count("执行sql："), 3);
}

// Alt+Up and Alt+Down step through the texts run while the window is open.
void TestConsoleGui::historyKeys()
{
    Console c;
    c.connect();
    QVERIFY(dvtest::showWindow(*c.w));
    QVERIFY(dvtest::clickPageOf(*c.w, c.w->RtSql));
    QTextEdit *ed = c.w->RtSql;
    auto runByKey = [&](const QString &text) {
        QVERIFY(dvtest::typeInto(ed, text));
        QTest::keyClick(ed, Qt::Key_F5);
    };
    auto step = [&](bool up) {
        QTest::keyClick(ed, up ? Qt::Key_Up : Qt::Key_Down, Qt::AltModifier);
        return ed->toPlainText();
    };
    runByKey("select k, v from t");
    c.run("select v from t"); // a click counts as well
    runByKey("select v from t");
    runByKey("insert into t select 1"); // fails: not kept
    QCOMPARE(c.errors.size(), 1);
    QVERIFY(dvtest::typeInto(ed, "select draft"));

    QCOMPARE(step(true), QString("select v from t"));
    QCOMPARE(step(true), QString("select k, v from t"));
    QCOMPARE(step(true), QString("select k, v from t")); // nothing older
    QCOMPARE(step(false), QString("select v from t"));
    QCOMPARE(step(false), QString("select draft"));
    QCOMPARE(step(false), QString("select draft"));

    // A recalled text changed and left is there when the operator comes back.
    QCOMPARE(step(true), QString("select v from t"));
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, " where k = 2");
    QCOMPARE(step(true), QString("select k, v from t"));
    QCOMPARE(step(false), QString("select v from t where k = 2"));
    QTest::keyClick(ed, Qt::Key_F5);
    QCOMPARE(c.errors.size(), 1);
    QVERIFY(c.log().contains("执行sql：select v from t where k = 2"));
    QCOMPARE(step(true), QString("select v from t"));
    QCOMPARE(step(true), QString("select k, v from t"));
    QCOMPARE(step(false), QString("select v from t"));
    QCOMPARE(step(false), QString("select v from t where k = 2"));
    // The replaced text comes back with Ctrl+Z.
    QCOMPARE(step(true), QString("select v from t"));
    QTest::keyClick(ed, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ed->toPlainText(), QString("select v from t where k = 2"));
}

void TestConsoleGui::copyKeys_data()
{
    QTest::addColumn<QStringList>("gestures");
    QTest::addColumn<bool>("titles");
    QTest::addColumn<QString>("clipboard");

    const QString r0 = "1\ta b\t2024-01-02", r1 = "2\tline1 line2\t", r2 = "3\tplain\t2024-03-04";
    const QString crlf = "\r\n";
    QTest::newRow("the current cell") << QStringList{"cell 0 1"} << false << "a b";
    QTest::newRow("a range by Shift+click") << QStringList{"cell 0 0", "shift 1 1"} << false
                                          << "1\ta b" + crlf + "2\tline1 line2";
    QTest::newRow("a range by Shift+arrows") << QStringList{"cell 1 1", "key shift down", "key shift right"} << false
                                           << "line1 line2\t" + crlf + "plain\t2024-03-04";
    QTest::newRow("a row by its indicator, NULL empty") << QStringList{"row 1"} << false << r1;
    QTest::newRow("rows by indicator with Ctrl") << QStringList{"row 2", "ctrlrow 0"} << false << r0 + crlf + r2;
    QTest::newRow("a column by its title with Ctrl") << QStringList{"cell 1 1", "ctrltitle 2"} << false
                                                    << "2024-01-02" + crlf + crlf + "2024-03-04";
    QTest::newRow("two columns by their titles with Ctrl") << QStringList{"ctrltitle 2", "ctrltitle 0"} << true
                                                          << "k\td" + crlf + "1\t2024-01-02" + crlf + "2\t" + crlf
                                                                 + "3\t2024-03-04";
    QTest::newRow("a column taken out again") << QStringList{"ctrltitle 2", "ctrltitle 0", "ctrltitle 2"} << false
                                             << "1" + crlf + "2" + crlf + "3";
    QTest::newRow("cells with Ctrl: the gaps stay empty") << QStringList{"cell 0 0", "ctrlcell 2 2"} << false
                                                         << "1\t" + crlf + "\t2024-03-04";
    QTest::newRow("everything by Ctrl+A") << QStringList{"key ctrl a"} << false << r0 + crlf + r1 + crlf + r2;
    QTest::newRow("everything with titles") << QStringList{"key ctrl a"} << true
                                           << "k\tv\td" + crlf + r0 + crlf + r1 + crlf + r2;
    QTest::newRow("a plain title click sorts, selects nothing")
        << QStringList{"cell 1 1", "title 0"} << false << "line1 line2";
}

void TestConsoleGui::copyKeys()
{
    QFETCH(QStringList, gestures);
    QFETCH(bool, titles);
    QFETCH(QString, clipboard);
    Console c;
    c.connect();
    auto base = c.fake->handler;
    c.fake->handler = [base](const dv::Statement &st, bool open) {
        if (open && st.text.startsWith(QLatin1String("select k, v, d from t"))) {
            dv::RunResult r;
            r.rows = copyRows();
            return r;
        }
        return base(st, open);
    };
    QVERIFY(dvtest::showWindow(*c.w));
    c.run("select k, v, d from t");
    QCOMPARE(c.model()->rowCount(), 3);
    dv::ResultGrid *g = c.grid();
    QGuiApplication::clipboard()->setText("before");
    for (const QString &gesture : gestures) {
        const QStringList w = gesture.split(' ');
        auto cellAt = [&](int r, int col) { return g->visualRect(c.model()->index(r, col)).center(); };
        if (w[0] == "cell" || w[0] == "shift" || w[0] == "ctrlcell") {
            const Qt::KeyboardModifiers mods = w[0] == "shift"      ? Qt::ShiftModifier
                                               : w[0] == "ctrlcell" ? Qt::ControlModifier
                                                                    : Qt::NoModifier;
            QTest::mouseClick(g->viewport(), Qt::LeftButton, mods, cellAt(w[1].toInt(), w[2].toInt()));
        } else if (w[0] == "row" || w[0] == "ctrlrow") {
            clickTitle(g->verticalHeader(), w[1].toInt(), w[0] == "ctrlrow" ? Qt::ControlModifier : Qt::NoModifier);
        } else if (w[0] == "title" || w[0] == "ctrltitle") {
            clickTitle(g->horizontalHeader(), w[1].toInt(),
                       w[0] == "ctrltitle" ? Qt::ControlModifier : Qt::NoModifier);
        } else if (w[0] == "key") {
            const Qt::KeyboardModifiers mods = w[1] == "shift" ? Qt::ShiftModifier : Qt::ControlModifier;
            const Qt::Key key = w[2] == "a" ? Qt::Key_A : w[2] == "down" ? Qt::Key_Down : Qt::Key_Right;
            QTest::keyClick(g, key, mods);
        } else {
            QFAIL(qPrintable("unknown gesture " + gesture));
        }
    }
    QVERIFY(!g->isEditing());
    QTest::keyClick(g, Qt::Key_C, titles ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    // Copying changes nothing and writes nothing.
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Browse);
    QVERIFY(c.writes.isEmpty());
}

void TestConsoleGui::sortClicks_data()
{
    QTest::addColumn<QString>("collation"); // "": the server does not say
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("ascending");
    QTest::addColumn<QStringList>("descending");

    const QStringList server{"b", "A", "a", "B"};
    QTest::newRow("numbers as values, NULL first") << "" << 0 << QStringList{"(NULL)", "9", "10", "100"}
                                                  << QStringList{"100", "10", "9", "(NULL)"};
    QTest::newRow("text, no collation known: case-insensitive")
        << "" << 1 << QStringList{"A", "a", "b", "B"} << QStringList{"b", "B", "A", "a"};
    QTest::newRow("text, CI collation") << "Chinese_PRC_CI_AS" << 1 << QStringList{"A", "a", "b", "B"}
                                        << QStringList{"b", "B", "A", "a"};
    QTest::newRow("text, CS collation") << "Latin1_General_CS_AS" << 1 << QStringList{"a", "A", "b", "B"}
                                        << QStringList{"B", "b", "A", "a"};
    QTest::newRow("text, binary collation") << "Latin1_General_BIN" << 1 << QStringList{"A", "B", "a", "b"}
                                            << QStringList{"b", "a", "B", "A"};
}

// Clicking a column title sorts by it, again reverses, a third time gives
// the server's order back; the title shows which.
void TestConsoleGui::sortClicks()
{
    QFETCH(QString, collation);
    QFETCH(int, column);
    QFETCH(QStringList, ascending);
    QFETCH(QStringList, descending);
    Console c;
    c.connect();
    auto base = c.fake->handler;
    QStringList asked;
    c.fake->handler = [&, base](const dv::Statement &st, bool open) {
        dv::RunResult r;
        if (open && st.text.startsWith(QLatin1String("select k, v from t"))) {
            r.rows = sortRows();
            return r;
        }
        if (st.text.contains("SERVERPROPERTY('Collation')")) {
            asked << st.text;
            if (collation.isEmpty())
                throw dv::DbError("no collation");
            r.rows = textRows({""}, {{collation}});
            return r;
        }
        return base(st, open);
    };
    QVERIFY(dvtest::showWindow(*c.w));
    c.run("select k, v from t");
    QHeaderView *h = c.grid()->horizontalHeader();
    const QStringList server = dvtest::shownColumn(c.model(), column);
    QVERIFY(!h->isSortIndicatorShown());

    clickTitle(h, column);
    QCOMPARE(dvtest::shownColumn(c.model(), column), ascending);
    QVERIFY(h->isSortIndicatorShown());
    QCOMPARE(h->sortIndicatorSection(), column);
    QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);
    clickTitle(h, column);
    QCOMPARE(dvtest::shownColumn(c.model(), column), descending);
    QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
    clickTitle(h, column);
    QCOMPARE(dvtest::shownColumn(c.model(), column), server);
    QVERIFY(!h->isSortIndicatorShown());
    // Only a text column asks the server for its collation.
    QCOMPARE(asked.isEmpty(), column == 0);
    // Rows move whole: the other column comes along.
    clickTitle(h, 0);
    QCOMPARE(dvtest::shownColumn(c.model(), 1), (QStringList{"a", "A", "b", "B"}));
    // Sorting by another column starts ascending.
    clickTitle(h, 1);
    QCOMPARE(h->sortIndicatorSection(), 1);
    QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);
    // A new run shows the server's order and no indicator.
    c.run("select k, v from t");
    QVERIFY(!h->isSortIndicatorShown());
    QCOMPARE(dvtest::shownColumn(c.model(), column), server);
    QVERIFY(c.writes.isEmpty());
    QCOMPARE(c.errors, QStringList{});
}

// The current row stays on its record through a sort; an edited row is
// posted before the rows move.
void TestConsoleGui::sortFollowsCurrentRow()
{
    Console c;
    c.connect();
    auto base = c.fake->handler;
    c.fake->handler = [base](const dv::Statement &st, bool open) {
        if (open && st.text.startsWith(QLatin1String("select k, v from t"))) {
            dv::RunResult r;
            r.rows = sortRows();
            return r;
        }
        return base(st, open);
    };
    QVERIFY(dvtest::showWindow(*c.w));
    c.run("select k, v from t");
    dv::ResultGrid *g = c.grid();
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(c.model()->index(0, 1)).center());
    QCOMPARE(g->currentIndex().row(), 0); // k = 10
    clickTitle(g->horizontalHeader(), 0);
    QCOMPARE(g->currentIndex().row(), 2);
    QCOMPARE(g->currentIndex().column(), 1);
    QCOMPARE(c.cell(2, 0), QString("10"));
    QCOMPARE(c.model()->headerData(2, Qt::Vertical).toString(), QString::fromUtf8("▶"));
    QCOMPARE(c.model()->headerData(0, Qt::Vertical).toString(), QString());

    // Typing in the row, then a title click: the edit is posted first (for
    // k = 10), then the rows are sorted.
    QTest::keyClicks(g, "z");
    QVERIFY(g->isEditing());
    clickTitle(g->horizontalHeader(), 0);
    QCOMPARE(c.writes.size(), 1);
    QCOMPARE(c.writes[0].params.value(0).toString(), QString("z"));
    QCOMPARE(c.writes[0].params.value(1).toString(), QString("10"));
    QCOMPARE(dvtest::shownColumn(c.model(), 0), (QStringList{"100", "10", "9", "(NULL)"}));
    QCOMPARE(c.cell(1, 1), QString("z"));
    QCOMPARE(g->currentIndex().row(), 1);

    // A post the server refuses keeps the order and the edit.
    c.failWrites = "refused";
    QTest::keyClicks(g, "y");
    QVERIFY(g->isEditing());
    clickTitle(g->horizontalHeader(), 0);
    QCOMPARE(c.errors.size(), 1);
    QCOMPARE(dvtest::shownColumn(c.model(), 0), (QStringList{"100", "10", "9", "(NULL)"}));
    QCOMPARE(c.model()->state(), dv::ResultModel::State::Edit);
    QCOMPARE(c.cell(1, 1), QString("y"));
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestConsoleGui t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_console_gui.moc"
