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

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestConsoleE2e t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_console_e2e.moc"
