// The console end to end: the window's real ODBC connection against the test
// server, with a second connection checking what reached the server.
#include "app/application.h"
#include "client/dbclient.h"
#include "client/query.h"
#include "client/resultset.h"
#include "console/dbnavigator.h"
#include "console/editsql.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/consolee2e.h"
#include "support/operatorinput.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <memory>

using dv::DbNavigator;
using State = dv::ResultModel::State;

class TestConsoleE2e : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void insertThenSelect();
    void editInsertDeleteRefresh();
    void identityReadBack();
    void keylessDuplicates();
    void rowGoneElsewhere_data();
    void rowGoneElsewhere();
    void failedPosts_data();
    void failedPosts();
    void typedValues_data();
    void typedValues();
    void joinIsReadOnly();
    void derivedResultsAreReadOnly_data();
    void derivedResultsAreReadOnly();
    void afterLogout();
    void sortedEditsReachTheirRows();
    void sortByServerCollation();
    void runKeysAndHistory();
    void copyWithTitles();
    void everyTypeCopiedAndSorted();
    void guidColumnSortedAsServerOrdersIt();
    void xmlAndAliasShownCopiedNotSorted();
    void xmlCellWrittenBackAsXml();
    void variantShownCopiedNotTyped();

private:
    QString cell(int r, int col) const { return c->cell(r, col); }

    std::unique_ptr<dvtest::ConsoleE2e> c;
};

void TestConsoleE2e::init()
{
    c = std::make_unique<dvtest::ConsoleE2e>();
    QVERIFY(c->start());
}

void TestConsoleE2e::cleanup() { c.reset(); }

void TestConsoleE2e::insertThenSelect()
{
    c->run("create table t (k int primary key, v nvarchar(20) not null)");
    QCOMPARE(c->errors, QStringList{});
    c->run("insert into t values (1, N'一')\r\ninsert into t values (2, N'b')\r\nselect * from t order by k");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->win->dsResult->rowCount(), 2);
    QCOMPARE(cell(0, 1), QString("一"));
    QCOMPARE(cell(1, 0), QString("2"));
    QVERIFY(c->win->tb_memo->toPlainText().contains("执行sql：insert into t values (1, N'一')"));
    // The insert ran once: refreshing refuses to repeat it.
    QVERIFY(c->click(DbNavigator::Refresh));
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(c->serverRows("select count(*) from t"), QStringList{"2"});
}

void TestConsoleE2e::editInsertDeleteRefresh()
{
    c->run("create table t (k int primary key, v nvarchar(20) not null, n int null)\r\n"
        "insert into t values (1, 'a', 10)\r\ninsert into t values (2, 'b', null)\r\ninsert into t values (3, 'c', 30)");
    c->run("select k, v, n from t order by k");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->win->dsResult->rowCount(), 3);
    dv::ResultModel *m = c->model();

    // Edit: a text and a NULL.
    QVERIFY(c->selectCell(1, 0));
    QVERIFY(c->typeCell(1, 1, "bee"));
    QVERIFY(c->typeCell(1, 2, "22"));
    QVERIFY(c->setNull(1, 2));
    QVERIFY(c->typeCell(1, 2, "22"));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select k, v, n from t order by k"), (QStringList{"1|a|10", "2|bee|22", "3|c|30"}));
    QVERIFY(c->setNull(0, 2));
    QVERIFY(c->selectCell(2, 0)); // leaving the row posts it
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select n from t where k = 1"), QStringList{"NULL"});

    // Insert through the navigator.
    QVERIFY(c->click(DbNavigator::Insert));
    QCOMPARE(m->state(), State::Insert);
    const int newRow = c->grid()->currentIndex().row();
    QVERIFY(c->typeCell(newRow, 0, "4"));
    QVERIFY(c->typeCell(newRow, 1, "d"));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(m->rowCount(), 4);
    QCOMPARE(c->serverRows("select k, v, n from t where k = 4"), QStringList{"4|d|NULL"});

    // Delete, confirmed.
    QVERIFY(c->deleteRow(0));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(c->serverRows("select k from t order by k"), (QStringList{"2", "3", "4"}));

    // Refresh reads what another session changed.
    c->check->execute(dv::Statement{"update t set v = 'changed' where k = 3", 0, {}, 30});
    QVERIFY(c->click(DbNavigator::Refresh));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(cell(1, 1), QString("changed"));
}

void TestConsoleE2e::identityReadBack()
{
    c->run("create table p (id int identity(1,1) primary key, name nvarchar(30) null)\r\n"
        "insert into p (name) values ('x')");
    c->run("select * from p");
    QCOMPARE(c->errors, QStringList{});
    const int row = c->insertRow();
    QVERIFY(row >= 0);
    QVERIFY(c->typeCell(row, 1, "y"));
    QVERIFY(c->post());
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(cell(row, 0), QString("2"));
    QCOMPARE(c->serverRows("select id, name from p order by id"), (QStringList{"1|x", "2|y"}));
    // The read-back identity identifies the row for the next edit.
    QVERIFY(c->typeCell(row, 1, "yy"));
    QVERIFY(c->post());
    QCOMPARE(c->serverRows("select name from p where id = 2"), QStringList{"yy"});
}

void TestConsoleE2e::keylessDuplicates()
{
    c->run("create table d (a int null, b nvarchar(10) null)\r\n"
        "insert into d values (1, 'x')\r\ninsert into d values (1, 'x')\r\ninsert into d values (2, null)");
    c->run("select a, b from d");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QCOMPARE(m->rowCount(), 3);
    int dup = -1, single = -1;
    for (int r = 0; r < 3; ++r)
        (cell(r, 0) == "1" ? dup : single) = r;
    QVERIFY(c->typeCell(dup, 1, "z"));
    QVERIFY(!c->post());
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("完全相同"), qPrintable(c->errors[0]));
    QCOMPARE(m->state(), State::Edit);
    QVERIFY(c->click(DbNavigator::Cancel));
    QCOMPARE(cell(dup, 1), QString("x"));
    QCOMPARE(c->serverRows("select b from d where a = 1"), (QStringList{"x", "x"}));
    // Deleting one of two equal rows is refused as well.
    QVERIFY(!c->deleteRow(dup));
    QCOMPARE(c->serverRows("select count(*) from d"), QStringList{"3"});
    // The row with a NULL is found through IS NULL.
    QVERIFY(c->typeCell(single, 1, "w"));
    QVERIFY(c->post());
    QCOMPARE(c->serverRows("select b from d where a = 2"), QStringList{"w"});

    // Should a twin appear between reading and writing, the write's own
    // savepoint guard undoes the change of both.
    dv::WriteTarget t;
    t.table = "[d]";
    t.columns = {"a", "b"};
    t.info = m->resultSet()->columns();
    t.compareTypes = {"int", "nvarchar(10)"};
    dv::Statement st = dv::buildUpdate(t, {QVariant(1), QVariant("x")}, {{1, QVariant("q")}});
    st.allResults = true;
    QCOMPARE(dv::readWriteOutcome(c->check->open(st).results, 2).count, 2);
    QCOMPARE(c->serverRows("select b from d where a = 1"), (QStringList{"x", "x"}));
    st = dv::buildUpdate(t, {QVariant(2), QVariant("w")}, {{1, QVariant("q")}});
    st.allResults = true;
    QCOMPARE(dv::readWriteOutcome(c->check->open(st).results, 2).count, 1);
    QCOMPARE(c->serverRows("select b from d where a = 2"), QStringList{"q"});
}

void TestConsoleE2e::rowGoneElsewhere_data()
{
    QTest::addColumn<QString>("prefix"); // run before the query, in its batch
    QTest::addColumn<bool>("remove");
    QTest::newRow("update") << "" << false;
    QTest::newRow("delete") << "" << true;
    // With NOCOUNT on the server reports no counts: a write that touched no
    // row must still not pass for a success.
    QTest::newRow("update, nocount on") << "set nocount on\r\n" << false;
    QTest::newRow("delete, nocount on") << "set nocount on\r\n" << true;
}

void TestConsoleE2e::rowGoneElsewhere()
{
    QFETCH(QString, prefix);
    QFETCH(bool, remove);
    c->run("create table t (k int primary key, v nvarchar(20) not null)\r\n"
        "insert into t values (1, 'a')\r\ninsert into t values (2, 'b')");
    c->run(prefix + "select k, v from t order by k");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QCOMPARE(m->rowCount(), 2);
    c->check->execute(dv::Statement{"delete from t where k = 1", 0, {}, 30});
    if (remove) {
        QVERIFY(!c->deleteRow(0));
    } else {
        QVERIFY(c->typeCell(0, 1, "x"));
        QVERIFY(!c->post());
        QCOMPARE(m->state(), State::Edit);
    }
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("其他用户"), qPrintable(c->errors[0]));
    QCOMPARE(m->resultSet()->rowCount(), 2);
    QCOMPARE(m->resultSet()->text(0, 1), QString("a"));
    QCOMPARE(c->serverRows("select k, v from t order by k"), QStringList{"2|b"});
}

void TestConsoleE2e::failedPosts_data()
{
    QTest::addColumn<bool>("insert");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("duplicate key on insert") << true << 0 << "1" << "PRIMARY KEY";
    QTest::newRow("NULL into NOT NULL on update") << false << 1 << "" << "NULL";
    QTest::newRow("duplicate key on update") << false << 0 << "2" << "PRIMARY KEY";
}

void TestConsoleE2e::failedPosts()
{
    QFETCH(bool, insert);
    QFETCH(int, column);
    QFETCH(QString, value);
    QFETCH(QString, errorPart);
    c->run("create table t (k int primary key, v nvarchar(20) not null)\r\n"
        "insert into t values (1, 'a')\r\ninsert into t values (2, 'b')");
    c->run("select * from t order by k");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    int row = 0;
    if (insert) {
        row = c->insertRow();
        QVERIFY(row >= 0);
        QVERIFY(c->typeCell(row, 1, "new"));
    }
    if (value.isEmpty())
        QVERIFY(c->setNull(row, column));
    else
        QVERIFY(c->typeCell(row, column, value));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains(errorPart), qPrintable(c->errors[0]));
    // Still pending, nothing stored, and the server unchanged.
    QCOMPARE(m->state(), insert ? State::Insert : State::Edit);
    QCOMPARE(m->resultSet()->rowCount(), 2);
    QCOMPARE(m->resultSet()->text(0, 0), QString("1"));
    QCOMPARE(m->resultSet()->text(0, 1), QString("a"));
    QCOMPARE(c->serverRows("select k, v from t order by k"), (QStringList{"1|a", "2|b"}));
    QVERIFY(c->click(DbNavigator::Cancel));
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(cell(0, 1), QString("a"));
}

void TestConsoleE2e::typedValues_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("stored"); // as the second connection reads it
    QTest::newRow("int") << "int" << "-42" << "-42";
    QTest::newRow("bigint") << "bigint" << "9000000000" << "9000000000";
    QTest::newRow("bit") << "bit" << "1" << "1";
    QTest::newRow("float") << "float" << "2.5" << "2.5";
    QTest::newRow("decimal") << "decimal(10,2)" << "-12.5" << "-12.50";
    QTest::newRow("date") << "date" << "2024-02-29" << "2024-02-29";
    QTest::newRow("datetime") << "datetime" << "2024-01-02 03:04:05" << "2024-01-02 03:04:05";
    QTest::newRow("nvarchar") << "nvarchar(20)" << "中文 text" << "中文 text";
    QTest::newRow("varbinary") << "varbinary(10)" << "0x00AB10" << "0x00AB10";
}

void TestConsoleE2e::typedValues()
{
    QFETCH(QString, type);
    QFETCH(QString, input);
    QFETCH(QString, stored);
    c->run("create table v (k int primary key, x " + type + " null)\r\ninsert into v (k) values (1)");
    c->run("select k, x from v");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(cell(0, 1), QString("(NULL)"));
    QVERIFY(c->typeCell(0, 1, input));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select x from v where k = 1"), QStringList{stored});
    // A new row with the value, then the first row's value back to NULL.
    const int added = c->insertRow();
    QVERIFY(added >= 0);
    QVERIFY(c->typeCell(added, 0, "2"));
    QVERIFY(c->typeCell(added, 1, input));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select x from v where k = 2"), QStringList{stored});
    const int first = added == 0 ? 1 : 0;
    QVERIFY(c->setNull(first, 1));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select x from v where k = 1"), QStringList{"NULL"});
    // Reading it again shows the same value the grid showed.
    const QString shown = cell(added, 1);
    c->run("select k, x from v order by k");
    QCOMPARE(cell(1, 1), shown);
}

void TestConsoleE2e::joinIsReadOnly()
{
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    c->run("select a.k, b.v from t a join t b on a.k = b.k");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->win->dsResult->rowCount(), 1);
    QVERIFY(!c->openEditor(0, 1));
    QCOMPARE(c->errors, QStringList{QString("此结果来自连接、表达式或多个表,结果只读.")});
}

void TestConsoleE2e::derivedResultsAreReadOnly_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("shown"); // the first row's first cell
    QTest::addColumn<QString>("reason"); // shown on the page with the rows
    const QString cte = "结果来自公用表表达式(WITH),结果只读";
    QTest::newRow("cte") << "with c as (select k, v from t) select k, v from c" << "1" << cte;
    // The grid must not take the CTE's rows for rows of the real table t.
    QTest::newRow("cte named like a table") << "with t as (select k + 10 as k, v from u) select k, v from t" << "11"
                                            << cte;
    QTest::newRow("window") << "select k, v, row_number() over (order by k) as rn from t" << "1"
                            << "此结果来自连接、表达式或多个表,结果只读";
    // The console opens a result when the text holds "select" (here a comment).
    QTest::newRow("procedure") << "exec sp_helpdb -- select the databases" << "master"
                               << "批处理调用了存储过程,无法确定结果来自哪里,结果只读";
}

// Rows from a CTE or a procedure belong to no single table: the grid shows
// them and refuses to write them back.
void TestConsoleE2e::derivedResultsAreReadOnly()
{
    QFETCH(QString, sql);
    QFETCH(QString, shown);
    QFETCH(QString, reason);
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')\r\n"
        "create table u (k int primary key, v nvarchar(20) null)\r\ninsert into u values (1, 'a')");
    c->run(sql);
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->win->dsResult->rowCount() >= 1);
    QCOMPARE(cell(0, 0), shown);
    // Said at once, and no write offered, before the operator types.
    auto *label = c->win->findChild<QLabel *>("lbl_readonly");
    QVERIFY(label && label->isVisible());
    QCOMPARE(label->text(), reason);
    for (DbNavigator::Button b : {DbNavigator::Insert, DbNavigator::Delete, DbNavigator::Edit, DbNavigator::Post})
        QVERIFY2(!c->click(b), qPrintable(QString("navigator button %1 is enabled").arg(int(b))));
    QCOMPARE(c->errors, QStringList{});
    // The table itself is editable: the label goes.
    c->run("select k, v from t");
    QVERIFY(!label->isVisible());
    QVERIFY(c->win->DBNaV->button(DbNavigator::Edit)->isEnabled());
    c->run(sql);
    QVERIFY(label->isVisible());
    QVERIFY(!c->openEditor(0, 1));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].endsWith(QString("结果只读.")), qPrintable(c->errors[0]));
    QCOMPARE(c->serverRows("select v from t"), QStringList{"a"});
    QCOMPARE(c->serverRows("select v from u"), QStringList{"a"});
}

void TestConsoleE2e::afterLogout()
{
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    c->run("select * from t");
    dv::ResultModel *m = c->model();
    QVERIFY(c->typeCell(0, 1, "b"));
    QVERIFY(c->logout());
    QCOMPARE(m->rowCount(), 1); // the result stays shown
    QCOMPARE(cell(0, 1), QString("b"));
    // Posting fails with the client's error; the edit stays pending.
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY(!c->errors[0].isEmpty());
    QCOMPARE(m->state(), State::Edit);
    QCOMPARE(m->resultSet()->text(0, 1), QString("a"));
    QCOMPARE(c->serverRows("select v from t"), QStringList{"a"});
    // Logged in again, the pending edit can be posted.
    QVERIFY(c->login(c->server->user(), c->server->password()));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(m->state(), State::Browse);
    QCOMPARE(c->serverRows("select v from t"), QStringList{"b"});
}

namespace {

// Clicks a column title of the grid, as the operator does to sort.
bool clickTitle(dv::ResultGrid *g, int column, Qt::KeyboardModifiers mods = {})
{
    QHeaderView *h = g->horizontalHeader();
    if (!dvtest::whyUnusable(h).isEmpty() || column >= h->count())
        return false;
    const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, mods, at);
    return true;
}

} // namespace

// Sorted in the grid, the rows are not where the server sent them: every
// write must still reach the row the operator sees, checked on the server.
void TestConsoleE2e::sortedEditsReachTheirRows()
{
    c->run("create table s (k int primary key, name nvarchar(20) not null, qty int null)\r\n"
           "insert into s values (1, N'delta', 5)\r\ninsert into s values (2, N'Alpha', 7)\r\n"
           "insert into s values (3, N'charlie', null)\r\ninsert into s values (4, N'bravo', 2)");
    c->run("select k, name, qty from s order by k");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QHeaderView *h = c->grid()->horizontalHeader();

    QVERIFY(clickTitle(c->grid(), 1));
    QCOMPARE(dvtest::shownColumn(m, 1), (QStringList{"Alpha", "bravo", "charlie", "delta"}));
    QCOMPARE(h->sortIndicatorSection(), 1);

    // Row 1 of the sorted grid is k = 2, not the server's first row.
    QVERIFY(c->typeCell(0, 2, "70"));
    QVERIFY(c->post());
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select k, qty from s order by k"), (QStringList{"1|5", "2|70", "3|NULL", "4|2"}));
    // And row 2 is k = 4; leaving it posts it.
    QVERIFY(c->typeCell(1, 1, "bravo2"));
    QVERIFY(c->selectCell(3, 0));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select name from s where k = 4"), QStringList{"bravo2"});

    // Descending by qty: 70 (k 2), 5 (k 1), 2 (k 4), NULL (k 3).
    QVERIFY(clickTitle(c->grid(), 2));
    QVERIFY(clickTitle(c->grid(), 2));
    QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"2", "1", "4", "3"}));
    QVERIFY(c->deleteRow(1));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select k from s order by k"), (QStringList{"2", "3", "4"}));
    QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"2", "4", "3"}));

    // A new row while sorted goes to the server and stays where it was typed.
    QVERIFY(c->selectCell(1, 0));
    const int row = c->insertRow();
    QCOMPARE(row, 1);
    QVERIFY(c->typeCell(row, 0, "5"));
    QVERIFY(c->typeCell(row, 1, "echo"));
    QVERIFY(c->typeCell(row, 2, "1"));
    QVERIFY(c->post());
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select k, name, qty from s where k = 5"), QStringList{"5|echo|1"});
    QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"2", "5", "4", "3"}));
    // The row below the new one is still k = 4 for the write-back.
    QVERIFY(c->typeCell(2, 2, "3"));
    QVERIFY(c->post());
    QCOMPARE(c->serverRows("select qty from s where k = 4"), QStringList{"3"});

    // Refresh reads the server again and keeps the order.
    c->exec("update s set qty = 100 where k = 3");
    QVERIFY(c->click(DbNavigator::Refresh));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"3", "2", "4", "5"}));
    QCOMPARE(h->sortIndicatorSection(), 2);
    QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
    QVERIFY(c->typeCell(0, 1, "charlie2"));
    QVERIFY(c->post());
    QCOMPARE(c->serverRows("select name from s where k = 3"), QStringList{"charlie2"});

    // The third click: the server's order again.
    QVERIFY(clickTitle(c->grid(), 2));
    QVERIFY(!h->isSortIndicatorShown());
    QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"2", "3", "4", "5"}));
    QCOMPARE(c->errors, QStringList{});
}

// Text sorts by the server collation as the window reads it from the
// server: the test server's Chinese_PRC_CI_AS ignores case and orders
// Chinese by pinyin (by code point it would be 张 < 李 < 阿).
void TestConsoleE2e::sortByServerCollation()
{
    QCOMPARE(c->serverValue("select convert(nvarchar(128), serverproperty('Collation'))").toString(),
             QString("Chinese_PRC_CI_AS"));
    c->run("create table n (k int primary key, v nvarchar(10) null)");
    const QStringList values{"张", "b", "阿", "A", "李", "a", "", "B"};
    for (int i = 0; i < values.size(); ++i) {
        if (values[i].isEmpty())
            c->exec(QString("insert into n values (%1, null)").arg(i + 1));
        else
            c->exec("insert into n values (?, ?)", {i + 1, values[i]});
    }
    c->run("select k, v from n order by k");
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(clickTitle(c->grid(), 1));
    QCOMPARE(dvtest::shownColumn(c->model(), 1), (QStringList{"(NULL)", "A", "a", "b", "B", "阿", "李", "张"}));
    QVERIFY(clickTitle(c->grid(), 1));
    QCOMPARE(dvtest::shownColumn(c->model(), 1), (QStringList{"张", "李", "阿", "b", "B", "A", "a", "(NULL)"}));
}

// F5 and Ctrl+Enter run the editor's text through the real driver as the
// button does; Alt+Up brings back what ran.
void TestConsoleE2e::runKeysAndHistory()
{
    QTextEdit *ed = c->win->RtSql;
    QVERIFY(dvtest::typeInto(ed, "create table h (k int primary key)\ninsert into h values (1)"));
    QTest::keyClick(ed, Qt::Key_F5);
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select k from h"), QStringList{"1"});
    QVERIFY(dvtest::typeInto(ed, "select k from h"));
    QTest::keyClick(ed, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(ed->toPlainText(), QString("select k from h"));
    QCOMPARE(c->model()->rowCount(), 1);
    QVERIFY(dvtest::typeInto(ed, "select nothing from nowhere"));
    QTest::keyClick(ed, Qt::Key_F5);
    QCOMPARE(c->errors.size(), 1);
    const QString log = c->win->tb_memo->toPlainText();
    QCOMPARE(log.count("执行sql："), 2);
    QVERIFY(log.contains("执行sql：select k from h"));
    QVERIFY(!log.contains("nowhere"));

    QTest::keyClick(ed, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(ed->toPlainText(), QString("select k from h"));
    QTest::keyClick(ed, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(ed->toPlainText(), QString("create table h (k int primary key)\ninsert into h values (1)"));
    QTest::keyClick(ed, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(ed, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(ed->toPlainText(), QString("select nothing from nowhere"));
    // A recalled text runs as typed.
    QTest::keyClick(ed, Qt::Key_Up, Qt::AltModifier);
    QTest::keyClick(ed, Qt::Key_F5);
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(c->model()->rowCount(), 1);
    QCOMPARE(c->win->tb_memo->toPlainText().count("执行sql："), 3);
}

// What the server holds, copied as a spreadsheet takes it.
void TestConsoleE2e::copyWithTitles()
{
    c->run("create table cp (k int primary key, t nvarchar(40) null, d datetime null, m decimal(9,2) null)");
    c->exec("insert into cp values (1, ?, '2024-05-06 07:08:09', 12.5)", {QString("tab\there\r\nnext line")});
    c->exec("insert into cp values (2, null, null, -1.25)");
    c->run("select k, t, d, m from cp order by k");
    QCOMPARE(c->errors, QStringList{});
    c->grid()->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QString("k\tt\td\tm\r\n1\ttab here next line\t2024-05-06 07:08:09\t12.50\r\n2\t\t\t-1.25"));
    // Sorted descending by k, the copy follows the grid's order.
    QVERIFY(clickTitle(c->grid(), 0));
    QVERIFY(clickTitle(c->grid(), 0));
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QString("2\t\t\t-1.25\r\n1\ttab here next line\t2024-05-06 07:08:09\t12.50"));
}

// Every kind of column the grid sorts and copies, read through the driver:
// the copy is the grid's text, and a click on each title orders the rows as
// the server's ORDER BY does (ties in the order the rows came).
void TestConsoleE2e::everyTypeCopiedAndSorted()
{
    c->run("create table ty (k int primary key, i bigint null, b bit null, f float null, m money null,"
           " d decimal(38,4) null, s nvarchar(40) null, x varbinary(8) null, dd date null, tm time(3) null,"
           " dt datetime null, d2 datetime2(3) null)");
    c->exec("insert into ty values (1, -9223372036854775808, 0, -1.5e300, -922337203685477.5808,"
            " -1234567890123456789012345678901234.5678, ?, 0x00ff, '1753-01-01', '00:00:00',"
            " '1753-01-01 00:00:00.003', '0001-01-01 00:00:00')",
            {QString("tab\there")});
    c->exec("insert into ty (k) values (2)");
    c->exec("insert into ty values (3, 9223372036854775807, 1, 0.5, 922337203685477.5807, 0.0001, ?, 0x,"
            " '9999-12-31', '23:59:59.999', '9999-12-31 23:59:59.997', '9999-12-31 23:59:59.999')",
            {QString("数据库")});
    c->exec("insert into ty values (4, 0, 1, 0, 0, -0.5, ?, 0x10, '2000-02-29', '12:34:56.700',"
            " '2000-02-29 12:00:00', '2000-02-29 12:00:00.010')",
            {QString("line\r\nbreak")});
    c->run("select k, i, b, f, m, d, s, x, dd, tm, dt, d2 from ty order by k");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QCOMPARE(m->rowCount(), 4);

    c->grid()->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QString("1\t-9223372036854775808\t0\t-1.5e+300\t-922337203685477.5808\t"
                     "-1234567890123456789012345678901234.5678\ttab here\t0x00FF\t1753-01-01\t00:00:00\t"
                     "1753-01-01 00:00:00.003\t0001-01-01 00:00:00\r\n"
                     "2\t\t\t\t\t\t\t\t\t\t\t\r\n"
                     "3\t9223372036854775807\t1\t0.5\t922337203685477.5807\t0.0001\t数据库\t0x\t9999-12-31\t"
                     "23:59:59.999\t9999-12-31 23:59:59.997\t9999-12-31 23:59:59.999\r\n"
                     "4\t0\t1\t0\t0.0000\t-0.5000\tline break\t0x10\t2000-02-29\t12:34:56.700\t"
                     "2000-02-29 12:00:00\t2000-02-29 12:00:00.010"));

    const QStringList names{"k", "i", "b", "f", "m", "d", "s", "x", "dd", "tm", "dt", "d2"};
    for (int col = 1; col < names.size(); ++col) {
        QVERIFY(clickTitle(c->grid(), col));
        QCOMPARE(m->sortColumn(), col);
        QCOMPARE(dvtest::shownColumn(m, 0), c->serverRows(QString("select k from ty order by %1, k").arg(names[col])));
        QVERIFY(clickTitle(c->grid(), col));
        QCOMPARE(m->sortOrder(), Qt::DescendingOrder);
        QCOMPARE(dvtest::shownColumn(m, 0), c->serverRows(QString("select k from ty order by %1 desc, k").arg(names[col])));
    }
}

// A title click on a uniqueidentifier column orders the rows as the server's
// ORDER BY does (by byte groups), not as their texts would.
void TestConsoleE2e::guidColumnSortedAsServerOrdersIt()
{
    c->run("create table gu (k int primary key, g uniqueidentifier null)");
    const QStringList guids{"00000000-0000-0000-0000-000000000001", "00000000-0000-0000-0001-000000000000",
                            "00000000-0000-0000-0100-000000000000", "00000000-0000-0001-0000-000000000000",
                            "00000000-0000-0100-0000-000000000000", "00000000-0001-0000-0000-000000000000",
                            "00000000-0100-0000-0000-000000000000", "00000001-0000-0000-0000-000000000000",
                            "01000000-0000-0000-0000-000000000000", "ffffffff-ffff-ffff-ffff-000000000000",
                            "00000000-0000-0000-0000-010000000000"};
    for (int i = 0; i < guids.size(); ++i)
        c->exec(QString("insert into gu values (%1, '%2')").arg(i + 1).arg(guids[i]));
    c->exec(QString("insert into gu values (%1, null)").arg(guids.size() + 1));
    c->run("select k, g from gu order by k");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QCOMPARE(m->rowCount(), int(guids.size()) + 1);

    QVERIFY(clickTitle(c->grid(), 1));
    const QStringList ascending = c->serverRows("select k from gu order by g, k");
    QCOMPARE(dvtest::shownColumn(m, 0), ascending);
    QVERIFY(clickTitle(c->grid(), 1));
    QCOMPARE(m->sortOrder(), Qt::DescendingOrder);
    QCOMPARE(dvtest::shownColumn(m, 0), c->serverRows("select k from gu order by g desc, k"));
    // The values were chosen so that their texts order otherwise.
    QVERIFY(ascending != c->serverRows("select k from gu order by cast(g as char(36)), k"));
}

namespace {

// A table with an xml and an alias-typed column, two rows, and the query
// that reads what the server holds as text.
const char *const kXmlTable = "create type dbo.phone from varchar(20)\r\n"
                              "create table xm (k int primary key, note nvarchar(20) null, x xml null, p dbo.phone null)";
const char *const kXmlCheck = "select k, note, cast(x as nvarchar(max)), p from xm order by k";
const QString kXmlValue = QStringLiteral("<r a=\"1\"><i>中</i></r>");

} // namespace

// xml and alias-typed columns read through the driver show and copy as their
// text; a title click on the xml column is refused as ORDER BY refuses it.
void TestConsoleE2e::xmlAndAliasShownCopiedNotSorted()
{
    c->run(kXmlTable);
    QCOMPARE(c->errors, QStringList{});
    c->exec("insert into xm values (1, N'n', ?, '555-0100')", {kXmlValue});
    c->exec("insert into xm values (2, N'm', null, null)");
    QCOMPARE(c->serverRows(kXmlCheck), (QStringList{"1|n|" + kXmlValue + "|555-0100", "2|m|NULL|NULL"}));
    c->run("select k, note, x, p from xm order by k desc");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QCOMPARE(cell(1, 2), kXmlValue);
    QCOMPARE(cell(1, 3), QString("555-0100"));

    c->grid()->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), "2\tm\t\t\r\n1\tn\t" + kXmlValue + "\t555-0100");

    QVERIFY(clickTitle(c->grid(), 2));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("xml"), qPrintable(c->errors[0]));
    QCOMPARE(m->sortColumn(), -1);
    QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"2", "1"}));
    // The refused click leaves the selection: the same cells copy again.
    QGuiApplication::clipboard()->clear();
    c->grid()->setFocus();
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), "2\tm\t\t\r\n1\tn\t" + kXmlValue + "\t555-0100");
    // The alias-typed column sorts as its base type does.
    QVERIFY(clickTitle(c->grid(), 3));
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(dvtest::shownColumn(m, 0), c->serverRows("select k from xm order by p, k"));
}

// An xml cell typed into is written as xml, which the server checks: a
// malformed value is refused with the server's error and nothing changes.
// An edit of another cell lands once and leaves the xml as it was.
void TestConsoleE2e::xmlCellWrittenBackAsXml()
{
    c->run(kXmlTable);
    c->exec("insert into xm values (1, N'n', ?, '555-0100')", {kXmlValue});
    c->exec("insert into xm values (2, N'm', N'<o/>', '555-0200')");
    const QStringList before = c->serverRows(kXmlCheck);
    c->run("select k, note, x, p from xm order by k");
    QCOMPARE(c->errors, QStringList{});

    QVERIFY(c->typeCell(0, 1, "edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows(kXmlCheck), (QStringList{"1|edited|" + kXmlValue + "|555-0100", before[1]}));
    // Again from what the grid read back after the write.
    QVERIFY(c->typeCell(0, 1, "again"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows(kXmlCheck), (QStringList{"1|again|" + kXmlValue + "|555-0100", before[1]}));

    QVERIFY(c->typeCell(0, 2, "<r><j>2</j></r>"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    const QStringList written{"1|again|<r><j>2</j></r>|555-0100", before[1]};
    QCOMPARE(c->serverRows(kXmlCheck), written);
    QCOMPARE(c->serverRows("select count(*) from xm where x.exist('/r/j') = 1"), QStringList{"1"});

    QVERIFY(c->typeCell(0, 2, "<r><j>"));
    QVERIFY(!c->post());
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("XML parsing"), qPrintable(c->errors[0]));
    QCOMPARE(c->serverRows(kXmlCheck), written);
}

// sql_variant values read through the driver show and copy as their base
// values' text; typing into one is refused with the reason; an edit of another
// cell lands once and every value keeps its base type.
void TestConsoleE2e::variantShownCopiedNotTyped()
{
    c->run("create table vt (k int primary key, note nvarchar(20) null, v sql_variant null)");
    QCOMPARE(c->errors, QStringList{});
    c->exec("insert into vt values (1, N'n', 5)");
    c->exec("insert into vt values (2, N'm', N'abc')");
    c->exec("insert into vt values (3, N'o', cast(2.50 as decimal(5,2)))");
    const char *const check = "select k, note, cast(v as nvarchar(50)), "
                              "cast(sql_variant_property(v, 'BaseType') as nvarchar(20)) from vt order by k";
    const QStringList before = c->serverRows(check);
    QCOMPARE(before, (QStringList{"1|n|5|int", "2|m|abc|nvarchar", "3|o|2.50|decimal"}));
    c->run("select k, note, v from vt order by k");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(cell(0, 2), QString("5"));
    QCOMPARE(cell(1, 2), QString("abc"));
    QCOMPARE(cell(2, 2), QString("2.50"));

    c->grid()->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("1\tn\t5\r\n2\tm\tabc\r\n3\to\t2.50"));

    c->typeCell(1, 2, "x");
    if (c->grid()->isEditing())
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("sql_variant"), qPrintable(c->errors[0]));
    QCOMPARE(c->serverRows(check), before);

    QVERIFY(c->typeCell(0, 1, "edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows(check), (QStringList{"1|edited|5|int", before[1], before[2]}));
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestConsoleE2e t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_console_e2e.moc"
