// Writing grid edits back, end to end: the window's real ODBC connection
// against the test server, driven as an operator drives it, and a second
// connection reading what the server holds afterwards. Each case is a way a
// careless write-back loses, truncates or misdirects data.
#include "app/application.h"
#include "client/resultset.h"
#include "console/dbnavigator.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/consolee2e.h"
#include "support/operatorinput.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <memory>

using dv::DbNavigator;
using State = dv::ResultModel::State;

class TestWritebackE2e : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void longValuesSurviveReading();
    void longValuesEdited();
    void floatsRoundTrip();
    void changedElsewhere_data();
    void changedElsewhere();
    void controlFlowIsReadOnly_data();
    void controlFlowIsReadOnly();
    void operatorTransactionKept();
    void nocountKept();
    void triggersDoNotCount();
    void insteadOfInsertLeavesNoPhantom();
    void serverKeyReadBackWithTriggers();
    void serverFilledColumnsReadBack();
    void rowversionCheck();
    void fractionalSecondsExact();
    void viewIsReadOnly();
    void defaultSchemaResolution();
    void databaseChangedSinceRead();
    void outputCountedWithoutRowcount_data();
    void outputCountedWithoutRowcount();
    void twinsRefusedWithoutRowcount();
    void valuesAtLimitsKept_data();
    void valuesAtLimitsKept();

private:
    dv::ResultModel *model() const { return c->model(); }
    dv::ResultGrid *grid() const { return c->grid(); }

    std::unique_ptr<dvtest::ConsoleE2e> c;
};

void TestWritebackE2e::init()
{
    c = std::make_unique<dvtest::ConsoleE2e>();
    // A second login for the default-schema case; sa is the window's.
    QStringList args{"--login", "alice:Alice-pw.1"};
    // A server that leaves @@ROWCOUNT at 0 after a write with OUTPUT.
    if (QByteArray(QTest::currentTestFunction()).endsWith("WithoutRowcount"))
        args << "--rowcount-after-output" << "0";
    QVERIFY(c->start(args));
}

void TestWritebackE2e::cleanup() { c.reset(); }

// Long text and long binary values: opening the editor to read them and
// leaving it changes nothing on the server.
void TestWritebackE2e::longValuesSurviveReading()
{
    c->run("create table l (k int primary key, t nvarchar(max) null, b varbinary(max) null, s nvarchar(40) null)");
    QString text;
    for (int i = 0; i < 40000; ++i)
        text += QChar(u'a' + i % 26);
    text += QStringLiteral("\r\nsecond line 末");
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes += char(i * 7);
    c->exec("insert into l values (1, ?, ?, N'short')", {text, bytes});
    c->run("select k, t, b, s from l");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->rowCount(), 1);
    // Another session changes the short column meanwhile: a write of the row
    // (for nothing) would be refused or would put 'short' back.
    c->exec("update l set s = N'elsewhere' where k = 1");

    for (int col : {1, 2}) {
        QWidget *ed = c->openEditor(0, col);
        QVERIFY2(ed, "no editor opened");
        QVERIFY(ed->isVisible() && ed->isEnabled());
        QTest::keyClick(ed, Qt::Key_Tab); // leaves the editor, commits
        QCOMPARE(c->errors, QStringList{});
        QVERIFY(!model()->isModified());
    }
    grid()->moveToRow(0);
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverValue("select t from l where k = 1").toString(), text);
    QCOMPARE(c->serverValue("select b from l where k = 1").toByteArray(), bytes);
    QCOMPARE(c->serverRows("select s from l"), QStringList{"elsewhere"});
}

// Long values edited through the editor are written whole, and a refused
// value does not fill the error box with the value.
void TestWritebackE2e::longValuesEdited()
{
    c->run("create table l (k int primary key, t nvarchar(max) null, b varbinary(max) null)");
    // Lines broken the Windows way and a no-break space: the editor shows
    // both as it shows any break and space, the stored value keeps them.
    QString text(33000, u'x');
    text.insert(100, QStringLiteral("\r\nline\u00a0two\r\n"));
    const QByteArray bytes(17000, '\x5a');
    c->exec("insert into l values (1, ?, ?)", {text, bytes});
    c->run("select k, t, b from l");
    QCOMPARE(c->errors, QStringList{});

    QWidget *ed = c->openEditor(0, 1);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, "yz");
    QTest::keyClick(ed, Qt::Key_Tab);
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->state(), State::Edit);
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->state(), State::Browse);
    QCOMPARE(c->serverValue("select t from l where k = 1").toString(), text + "yz");

    ed = c->openEditor(0, 2);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, "0C");
    QTest::keyClick(ed, Qt::Key_Tab);
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverValue("select b from l where k = 1").toByteArray(), bytes + QByteArray("\x0c", 1));

    // Not hexadecimal: refused, with a message of sensible size.
    ed = c->openEditor(0, 2);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, "zz");
    QTest::keyClick(ed, Qt::Key_Tab);
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].size() < 300, qPrintable(QString::number(c->errors[0].size())));
    QCOMPARE(c->serverValue("select b from l where k = 1").toByteArray(), bytes + QByteArray("\x0c", 1));
}

// Floats keep every bit: reading or tabbing through them sends nothing, and
// typing the shown value again changes nothing.
void TestWritebackE2e::floatsRoundTrip()
{
    c->run("create table f (k int primary key, x float null, y float null, n nvarchar(10) null)");
    const double a = 0.1 + 0.2, b = 1.0 / 3.0;
    c->exec("insert into f values (1, ?, ?, N'n')", {a, b});
    c->run("select k, x, y, n from f");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->index(0, 1).data().toString(), QString("0.30000000000000004"));
    c->exec("update f set n = N'other' where k = 1");

    QWidget *ed = c->openEditor(0, 1);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_Tab);
    // Tabbing on through the row in edit state.
    QTest::keyClick(grid(), Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(grid(), Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    // The value typed again as shown.
    QVERIFY(c->typeCell(0, 2, c->cell(0, 2)));
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(!model()->isModified());
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverValue("select x from f").toDouble(), a);
    QCOMPARE(c->serverValue("select y from f").toDouble(), b);
    QCOMPARE(c->serverRows("select n from f"), QStringList{"other"});

    // An edited float goes out exactly as typed.
    QVERIFY(c->typeCell(0, 1, "0.1"));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1); // 'n' changed elsewhere: the optimistic check refuses
    QCOMPARE(model()->state(), State::Edit);
    QVERIFY(c->click(DbNavigator::Refresh)); // shows the server's row, the typed value kept
    QCOMPARE(model()->index(0, 3).data().toString(), QString("other"));
    QCOMPARE(model()->index(0, 1).data().toString(), QString("0.1"));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(c->serverValue("select x from f").toDouble(), 0.1);
    QCOMPARE(c->serverValue("select y from f").toDouble(), b);
}

void TestWritebackE2e::changedElsewhere_data()
{
    QTest::addColumn<QString>("create");
    QTest::addColumn<QString>("otherWrite"); // by the second connection, after the grid read the rows
    QTest::addColumn<bool>("remove");        // the grid deletes instead of editing
    const QString keyed = "create table t (k int primary key, v nvarchar(20) null, w int null)";
    const QString keyless = "create table t (k int null, v nvarchar(20) null, w int null)";
    QTest::newRow("keyed, other column changed") << keyed << "update t set w = 99 where k = 1" << false;
    QTest::newRow("keyed, same column changed") << keyed << "update t set v = N'theirs' where k = 1" << false;
    QTest::newRow("keyed, row deleted") << keyed << "delete from t where k = 1" << false;
    QTest::newRow("keyed, delete of a changed row") << keyed << "update t set w = 99 where k = 1" << true;
    QTest::newRow("keyless, other column changed") << keyless << "update t set w = 99 where k = 1" << false;
    QTest::newRow("keyless, delete of a changed row") << keyless << "update t set w = 99 where k = 1" << true;
    QTest::newRow("unique index, other column changed")
        << "create table t (k int not null, v nvarchar(20) null, w int null)\r\ncreate unique index ux on t (k)"
        << "update t set w = 99 where k = 1" << false;
}

// Another session changed or deleted the row after the grid read it: the
// write is refused with a plain message, the typed values stay pending, and
// refresh shows the server's row.
void TestWritebackE2e::changedElsewhere()
{
    QFETCH(QString, create);
    QFETCH(QString, otherWrite);
    QFETCH(bool, remove);
    c->run(create);
    QCOMPARE(c->errors, QStringList{});
    c->exec("insert into t values (1, N'a', 10)");
    c->exec("insert into t values (2, N'b', 20)");
    c->run("select k, v, w from t order by k");
    QCOMPARE(c->errors, QStringList{});
    const QStringList before = c->serverRows("select k, v, w from t order by k");
    c->exec(otherWrite);
    const QStringList after = c->serverRows("select k, v, w from t order by k");
    QVERIFY(before != after);

    if (remove) {
        grid()->moveToRow(0);
        QVERIFY(c->click(DbNavigator::Delete));
        QCOMPARE(c->errors.size(), 1);
        QVERIFY2(c->errors[0].contains("其他"), qPrintable(c->errors[0]));
        QCOMPARE(model()->rowCount(), 2);
        QCOMPARE(c->serverRows("select k, v, w from t order by k"), after);
        return;
    }
    QVERIFY(c->typeCell(0, 1, "mine"));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("其他"), qPrintable(c->errors[0]));
    QCOMPARE(model()->state(), State::Edit);
    QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
    QCOMPARE(c->serverRows("select k, v, w from t order by k"), after);

    const bool deleted = otherWrite.startsWith("delete");
    QVERIFY(c->click(DbNavigator::Refresh));
    if (!create.contains("primary key") && !create.contains("unique")) {
        // No key to find the row by: refresh says so and keeps the typed value.
        QCOMPARE(c->errors.size(), 2);
        QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
        QVERIFY(c->click(DbNavigator::Cancel));
        QCOMPARE(c->serverRows("select k, v, w from t order by k"), after);
        return;
    }
    if (deleted) {
        // Nothing to show: the row is gone; the typed value is still there to copy.
        QCOMPARE(c->errors.size(), 2);
        QVERIFY2(c->errors[1].contains("删除"), qPrintable(c->errors[1]));
        QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
        QVERIFY(c->click(DbNavigator::Cancel));
        QCOMPARE(c->serverRows("select k, v, w from t order by k"), after);
        return;
    }
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(model()->state(), State::Edit);
    QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
    QCOMPARE(model()->index(0, 2).data().toString(), after[0].section(u'|', 2));
    QVERIFY(c->click(DbNavigator::Post));
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(model()->state(), State::Browse);
    QStringList expected = after;
    expected[0] = "1|mine|" + after[0].section(u'|', 2);
    QCOMPARE(c->serverRows("select k, v, w from t order by k"), expected);
}

void TestWritebackE2e::controlFlowIsReadOnly_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("if else") << "if 1 = 0 select * from archive_t else select * from t";
    QTest::newRow("if without else") << "if 1 = 1 select * from t";
    QTest::newRow("while") << "declare @i int\r\nset @i = 0\r\nwhile @i < 1 begin select * from t set @i = @i + 1 end";
    QTest::newRow("begin end block") << "begin select * from t end";
    QTest::newRow("two results") << "select * from t\r\nselect * from archive_t";
    QTest::newRow("statement with a second select")
        << "select * from t where k = 1 select * from archive_t where k = 2";
}

// The rows cannot be tied to one statement with certainty: the result is
// read-only and says why; neither table is written.
void TestWritebackE2e::controlFlowIsReadOnly()
{
    QFETCH(QString, query);
    c->run("create table archive_t (k int primary key, v nvarchar(20) null)\r\n"
        "create table t (k int primary key, v nvarchar(20) null)\r\n"
        "insert into archive_t values (1, 'old')\r\ninsert into t values (1, 'new')");
    QCOMPARE(c->errors, QStringList{});
    c->run(query);
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->rowCount(), 1);
    QCOMPARE(model()->index(0, 1).data().toString(), QString("new"));
    QVERIFY(!c->openEditor(0, 1));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("只读"), qPrintable(c->errors[0]));
    QVERIFY(!c->deleteRow(0));
    QCOMPARE(c->serverRows("select v from archive_t"), QStringList{"old"});
    QCOMPARE(c->serverRows("select v from t"), QStringList{"new"});
}

// A write the grid undoes (a keyless row with a twin) must not undo the
// operator's own open transaction.
void TestWritebackE2e::operatorTransactionKept()
{
    c->run("create table d (a int null, b nvarchar(10) null)\r\n"
        "insert into d values (1, 'x')\r\ninsert into d values (1, 'x')\r\ninsert into d values (2, 'y')");
    c->run("begin tran\r\ninsert into d values (3, 'mine')");
    QCOMPARE(c->errors, QStringList{});
    c->run("select a, b from d where a < 3 order by a");
    QCOMPARE(model()->rowCount(), 3);
    // A twin: refused and undone.
    QVERIFY(c->typeCell(0, 0, "5"));
    QVERIFY(!c->post());
    QVERIFY2(c->errors.size() == 1 && c->errors[0].contains("完全相同"), qPrintable(c->errors.join('\n')));
    QVERIFY(c->click(DbNavigator::Cancel));
    // A single row: written inside the operator's transaction.
    QVERIFY(c->typeCell(2, 1, "w"));
    QVERIFY(c->post());
    QCOMPARE(c->errors.size(), 1);
    c->run("select @@trancount as n");
    QCOMPARE(model()->index(0, 0).data().toString(), QString("1"));
    c->run("commit tran");
    QCOMPARE(c->errors.size(), 1);
    QCOMPARE(c->serverRows("select a, b from d order by a, b"), (QStringList{"1|x", "1|x", "2|w", "3|mine"}));
}

// The write path leaves the operator's connection settings as it found them.
void TestWritebackE2e::nocountKept()
{
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    c->run("set nocount on\r\nselect k, v from t");
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->typeCell(0, 1, "b"));
    QVERIFY(c->post());
    QCOMPARE(c->serverRows("select v from t"), QStringList{"b"});
    dv::Statement st;
    st.text = "update t set v = v where k = 1";
    QCOMPARE(c->win->conn->execute(st).rowsAffected, qint64(-1)); // still no counts
    c->run("set nocount off");
    QCOMPARE(c->win->conn->execute(st).rowsAffected, qint64(1));
}

// AFTER triggers that write rows of their own: the write is judged by its
// own count, the grid keeps the committed value.
void TestWritebackE2e::triggersDoNotCount()
{
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\n"
        "create table audit (n int identity(1,1) primary key, k int null, note nvarchar(20) null)\r\n"
        "insert into t values (1, 'a')\r\ninsert into t values (2, 'b')");
    // Upper case: text holding "select" is opened as a query, and a CREATE TRIGGER returns no rows.
    c->run("create trigger tr_t on t after insert, update, delete as\r\n"
        "insert into audit (k, note) SELECT k, 'new' from inserted\r\n"
        "insert into audit (k, note) SELECT k, 'old' from deleted");
    QVERIFY2(c->errors.isEmpty(), qPrintable(c->errors.join('\n')));
    c->run("select k, v from t order by k");
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->typeCell(0, 1, "aa"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(model()->index(0, 1).data().toString(), QString("aa"));
    QCOMPARE(c->serverRows("select k, v from t order by k"), (QStringList{"1|aa", "2|b"}));
    QCOMPARE(c->serverRows("select count(*) from audit"), QStringList{"2"});
    // Insert and delete too.
    const int row = c->insertRow();
    QVERIFY(row >= 0);
    QVERIFY(c->typeCell(row, 0, "3"));
    QVERIFY(c->typeCell(row, 1, "c"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    int b = 0;
    while (b < model()->rowCount() && c->cell(b, 1) != "b")
        ++b;
    QVERIFY2(c->deleteRow(b), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->rowCount(), 2);
    QCOMPARE(c->serverRows("select k, v from t order by k"), (QStringList{"1|aa", "3|c"}));
    QCOMPARE(c->serverRows("select count(*) from audit"), QStringList{"4"});
}

// An INSTEAD OF INSERT trigger that drops the row: the server counts the
// insert, the table does not hold it, and the grid shows no phantom row.
void TestWritebackE2e::insteadOfInsertLeavesNoPhantom()
{
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    c->run("create trigger tr_i on t instead of insert as\r\nprint 'dropped'");
    QCOMPARE(c->errors, QStringList{});
    c->run("select k, v from t");
    const int row = c->insertRow();
    QVERIFY(row >= 0);
    QVERIFY(c->typeCell(row, 0, "2"));
    QVERIFY(c->typeCell(row, 1, "b"));
    c->post();
    QCOMPARE(model()->rowCount(), 1);
    QCOMPARE(model()->state(), State::Browse);
    QVERIFY2(c->messages.size() + c->errors.size() == 1, qPrintable((c->messages + c->errors).join('\n')));
    QCOMPARE(c->serverRows("select k, v from t"), QStringList{"1|a"});
}

// A table with triggers takes no bare OUTPUT: a key the server makes up
// (newid()) is captured and the row read back by it, so the grid shows the
// stored key and the next edit finds the row; with an INSTEAD OF trigger that
// drops the row, the captured key finds nothing and no phantom row is shown.
void TestWritebackE2e::serverKeyReadBackWithTriggers()
{
    c->run("create table g (id uniqueidentifier not null default newid() primary key, name nvarchar(20) null,\r\n"
           "n int not null default 5)\r\ncreate table audit (id uniqueidentifier null)");
    c->run("create trigger tr_g on g after insert as\r\ninsert into audit (id) SELECT id from inserted");
    QCOMPARE(c->errors, QStringList{});
    c->run("select id, name, n from g");
    QCOMPARE(c->insertRow(), 0);
    QVERIFY(c->typeCell(0, 1, "x"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QVERIFY(!model()->resultSet()->isNull(0, 0));
    const QString id = model()->resultSet()->text(0, 0);
    QCOMPARE(c->serverRows("select id, name, n from g"), QStringList{id + "|x|5"});
    QCOMPARE(c->serverRows("select id from audit"), QStringList{id});
    QVERIFY(c->typeCell(0, 1, "y"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select id, name from g"), QStringList{id + "|y"});

    c->run("create trigger tr_gi on g instead of insert as\r\nprint 'dropped'");
    QCOMPARE(c->errors, QStringList{});
    c->run("select id, name, n from g");
    const int row = c->insertRow();
    QVERIFY(row >= 0);
    QVERIFY(c->typeCell(row, 1, "z"));
    c->post();
    QCOMPARE(model()->rowCount(), 1);
    QCOMPARE(c->serverRows("select name from g"), QStringList{"y"});
}

// Defaults, computed columns, a newid() key and rowversion: an inserted row
// shows what the server stored and can be edited at once.
void TestWritebackE2e::serverFilledColumnsReadBack()
{
    c->run("create table r (id uniqueidentifier not null default newid() primary key, n int not null default 5,\r\n"
        "c as n * 2, rv rowversion, name nvarchar(20) null, seq int identity(10, 1) not null)");
    QCOMPARE(c->errors, QStringList{});
    c->run("select id, n, c, rv, name, seq from r");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->insertRow(), 0);
    QVERIFY(c->typeCell(0, 4, "x"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    const QStringList stored = c->serverRows("select id, n, c, rv, name, seq from r");
    QCOMPARE(stored.size(), 1);
    QStringList shown;
    for (int col = 0; col < 6; ++col)
        shown << model()->resultSet()->text(0, col);
    QCOMPARE(shown.join('|'), stored[0]);
    QVERIFY(!model()->resultSet()->isNull(0, 0));
    QCOMPARE(shown[2], QString("10"));
    // A value typed into a computed column is refused at once.
    QVERIFY(c->typeCell(0, 2, "7"));
    QCOMPARE(c->errors.size(), 1);
    // The row stays editable: the next edit finds it.
    QVERIFY(c->typeCell(0, 1, "6"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(model()->resultSet()->text(0, 2), QString("12"));
    QCOMPARE(c->serverRows("select n, c, name from r"), QStringList{"6|12|x"});
}

// With a rowversion shown, any change elsewhere is caught, also in a column
// the grid cannot compare.
void TestWritebackE2e::rowversionCheck()
{
    c->run("create table r (k int primary key, memo ntext null, name nvarchar(20) null, rv rowversion)\r\n"
        "insert into r (k, memo, name) values (1, N'm', N'a')");
    c->run("select k, memo, name, rv from r");
    QCOMPARE(c->errors, QStringList{});
    c->exec("update r set memo = N'changed' where k = 1");
    QVERIFY(c->typeCell(0, 2, "b"));
    QVERIFY(!c->post());
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("其他"), qPrintable(c->errors[0]));
    QCOMPARE(c->serverRows("select name from r"), QStringList{"a"});
    QVERIFY(c->click(DbNavigator::Refresh));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY(c->post());
    QCOMPARE(c->serverRows("select name from r"), QStringList{"b"});
}

// datetime2 and time keep their seven fractional digits: unchanged values
// are found exactly, and typed ones are stored exactly.
void TestWritebackE2e::fractionalSecondsExact()
{
    c->run("create table d (k int primary key, a datetime2(7) null, b time(7) null, n int null)\r\n"
        "insert into d values (1, '2024-01-02 03:04:05.1234567', '23:59:59.9999999', 0)");
    c->run("select k, a, b, n from d");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->index(0, 1).data().toString(), QString("2024-01-02 03:04:05.1234567"));
    QCOMPARE(model()->index(0, 2).data().toString(), QString("23:59:59.9999999"));
    for (int col : {1, 2}) {
        QWidget *ed = c->openEditor(0, col);
        QVERIFY(ed);
        QTest::keyClick(ed, Qt::Key_Tab);
    }
    QVERIFY(c->typeCell(0, 3, "1"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select a, b, n from d"),
             QStringList{"2024-01-02 03:04:05.1234567|23:59:59.9999999|1"});
    QVERIFY(c->typeCell(0, 1, "2024-01-02 03:04:05.1234568"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select a from d"), QStringList{"2024-01-02 03:04:05.1234568"});
}

// A view decides itself where its writes land: its rows are read-only.
void TestWritebackE2e::viewIsReadOnly()
{
    c->run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    c->run("create view vt as SELECT k, v from t"); // upper case: executed, not opened
    QCOMPARE(c->errors, QStringList{});
    c->run("select k, v from vt");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->rowCount(), 1);
    QVERIFY(!c->openEditor(0, 1));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("视图"), qPrintable(c->errors[0]));
    QVERIFY(!c->deleteRow(0));
    QCOMPARE(c->serverRows("select v from t"), QStringList{"a"});
}

// With sales.t and dbo.t, a login whose default schema is sales reads
// sales.t through the unqualified name: the edits must go there too.
void TestWritebackE2e::defaultSchemaResolution()
{
    c->run("create schema sales");
    QCOMPARE(c->errors, QStringList{});
    c->run("create table sales.t (k int primary key, v nvarchar(20) null)\r\n"
        "create table dbo.t (k int primary key, v nvarchar(20) null)\r\n"
        "insert into sales.t values (1, 'in sales')\r\ninsert into dbo.t values (1, 'in dbo')");
    c->run("create user alice for login alice with default_schema = sales");
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->logout());
    QVERIFY(c->login("alice", "Alice-pw.1"));

    c->run("select k, v from t");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->index(0, 1).data().toString(), QString("in sales"));
    QVERIFY(c->typeCell(0, 1, "edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select v from sales.t"), QStringList{"edited"});
    QCOMPARE(c->serverRows("select v from dbo.t"), QStringList{"in dbo"});
    // The other table, named with its schema.
    c->run("select k, v from dbo.t");
    QVERIFY(c->typeCell(0, 1, "dbo edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select v from sales.t"), QStringList{"edited"});
    QCOMPARE(c->serverRows("select v from dbo.t"), QStringList{"dbo edited"});
}

// A maintenance batch moves the connection to master after the rows were
// read from another database: the unqualified name must not be resolved in
// master, where a table of the same name is the wrong one.
void TestWritebackE2e::databaseChangedSinceRead()
{
    c->exec("create table master.dbo.t (k int primary key, v nvarchar(20) null)");
    c->exec("insert into master.dbo.t values (1, N'in master')");
    c->run("create database shop");
    c->run("use shop\r\ncreate table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, N'in shop')");
    QCOMPARE(c->errors, QStringList{});
    c->run("select k, v from t");
    QCOMPARE(c->cell(0, 1), QString("in shop"));

    // A backup on its page, as the operator makes one.
    QVERIFY(dvtest::typeOnPage(*c->win, c->win->cb_db, "shop"));
    QVERIFY(dvtest::typeOnPage(*c->win, c->win->tb_bak_path, c->server->filesDir() + "/shop.BAK"));
    QVERIFY(dvtest::clickOnPage(*c->win, c->win->Button3));
    QCOMPARE(c->messages, QStringList{"操作编号:1100\r\n\r\n备份成功,可进行其它操作"});
    QVERIFY(dvtest::clickPage(*c->win, c->win->pc->indexOf(c->win->TabSheet1)));

    QVERIFY(!c->openEditor(0, 1));
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("shop") && c->errors[0].contains("master"), qPrintable(c->errors[0]));
    QCOMPARE(c->serverRows("select v from master.dbo.t"), QStringList{"in master"});
    QCOMPARE(c->serverRows("select v from shop.dbo.t"), QStringList{"in shop"});

    // Read again in its database, the row is edited where it lives.
    c->run("use shop\r\nselect k, v from t");
    QVERIFY(c->typeCell(0, 1, "edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select v from shop.dbo.t"), QStringList{"edited"});
    QCOMPARE(c->serverRows("select v from master.dbo.t"), QStringList{"in master"});
}

void TestWritebackE2e::outputCountedWithoutRowcount_data()
{
    QTest::addColumn<QString>("create");
    QTest::addColumn<QString>("shown"); // the columns the grid reads; k and v first
    const QString kv = "create table t (k int %1, v nvarchar(20) null%2)";
    QTest::newRow("primary key") << kv.arg("primary key", "") << "k, v";
    QTest::newRow("no key") << kv.arg("null", "") << "k, v";
    QTest::newRow("unique index") << kv.arg("not null", "") + "\r\ncreate unique index ux on t (k)" << "k, v";
    QTest::newRow("identity key") << kv.arg("null", ", id int identity(1, 1) primary key") << "k, v, id";
    // Triggers refuse a bare OUTPUT: @@ROWCOUNT counts where there is none,
    // and a key the server makes up is captured with OUTPUT … INTO.
    QTest::newRow("triggers") << kv.arg("primary key", "") + "\r\ncreate table audit (k int null)" << "k, v";
    QTest::newRow("triggers, key made up by the server")
        << kv.arg("null", ", g uniqueidentifier not null default newid() primary key")
               + "\r\ncreate table audit (k int null)"
        << "k, v, g";
}

// On a server that leaves @@ROWCOUNT at 0 after a write with OUTPUT, an
// edit, an insert and a delete are judged by the rows the statement itself
// returned: each is taken once, none reads "changed elsewhere" or failed.
void TestWritebackE2e::outputCountedWithoutRowcount()
{
    QFETCH(QString, create);
    QFETCH(QString, shown);
    c->run(create);
    QCOMPARE(c->errors, QStringList{});
    if (create.contains("audit")) {
        // Upper case: text holding "select" is opened as a query.
        c->run("create trigger tr_t on t after insert, update, delete as\r\n"
               "insert into audit (k) SELECT k from inserted");
        QCOMPARE(c->errors, QStringList{});
    }
    for (const char *row : {"(1, N'a')", "(2, N'b')", "(3, N'c')"})
        c->exec(QString("insert into t (k, v) values %1").arg(row));
    c->run("select " + shown + " from t order by k");
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->rowCount(), 3);

    QVERIFY(c->typeCell(0, 1, "edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->cell(0, 1), QString("edited"));
    QCOMPARE(c->serverRows("select k, v from t order by k"), (QStringList{"1|edited", "2|b", "3|c"}));

    const int row = c->insertRow();
    QVERIFY(row >= 0);
    QVERIFY(c->typeCell(row, 0, "4"));
    QVERIFY(c->typeCell(row, 1, "d"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(model()->rowCount(), 4);
    QCOMPARE(c->serverRows("select k, v from t order by k"), (QStringList{"1|edited", "2|b", "3|c", "4|d"}));
    // The new row is found again: its server-filled key was read back.
    const QString serverKey = shown.section(',', 2).trimmed();
    if (!serverKey.isEmpty()) {
        QVERIFY(!model()->resultSet()->isNull(row, 2));
        QCOMPARE(c->serverRows("select " + serverKey + " from t where k = 4"),
                 QStringList{model()->resultSet()->text(row, 2)});
    }
    QVERIFY(c->typeCell(row, 1, "dd"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));

    int two = 0;
    while (two < model()->rowCount() && c->cell(two, 0) != "2")
        ++two;
    QVERIFY2(c->deleteRow(two), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(model()->rowCount(), 3);
    QCOMPARE(c->serverRows("select k, v from t order by k"), (QStringList{"1|edited", "3|c", "4|dd"}));
    if (create.contains("audit"))
        QCOMPARE(c->serverRows("select k from audit order by k"), (QStringList{"1", "1", "2", "3", "4", "4"}));
}

// Without a key, twins on the server are still refused and left as they
// were when @@ROWCOUNT says nothing: the statement's OUTPUT rows count.
void TestWritebackE2e::twinsRefusedWithoutRowcount()
{
    c->run("create table d (a int null, b nvarchar(10) null)\r\n"
        "insert into d values (1, 'x')\r\ninsert into d values (1, 'x')\r\ninsert into d values (2, 'y')");
    c->run("select a, b from d order by a");
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->typeCell(0, 1, "z"));
    QVERIFY(!c->post());
    QVERIFY2(c->errors.size() == 1 && c->errors[0].contains("完全相同"), qPrintable(c->errors.join('\n')));
    QVERIFY(c->click(DbNavigator::Cancel));
    QVERIFY(!c->deleteRow(1));
    QCOMPARE(c->errors.size(), 2);
    QCOMPARE(c->serverRows("select a, b from d order by a, b"), (QStringList{"1|x", "1|x", "2|y"}));
    c->run("select @@trancount as n");
    QCOMPARE(c->cell(0, 0), QString("0"));
}

void TestWritebackE2e::valuesAtLimitsKept_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("primary key") << "k int primary key";
    QTest::newRow("no key") << "k int null";
}

// A row holding values at the limits of their types, and text whose case and
// trailing spaces matter: editing another cell of it finds the row (no false
// "changed elsewhere") and leaves every other column exactly as it was.
void TestWritebackE2e::valuesAtLimitsKept()
{
    QFETCH(QString, key);
    struct Col {
        const char *name, *type, *literal, *shown; // shown: as the server converts it to text (exact)
    };
    const Col cols[] = {
        {"d38", "decimal(38,10)", "1234567890123456789012345678.0123456789",
         "cast(d38 as varchar(50))|1234567890123456789012345678.0123456789"},
        {"d18", "decimal(18,4)", "-99999999999999.9999", "cast(d18 as varchar(30))|-99999999999999.9999"},
        {"mmax", "money", "922337203685477.5807", "cast(cast(mmax as decimal(19,4)) as varchar(30))|922337203685477.5807"},
        {"mmin", "money", "-922337203685477.5808", "cast(cast(mmin as decimal(19,4)) as varchar(30))|-922337203685477.5808"},
        {"smax", "smallmoney", "214748.3647", "cast(cast(smax as decimal(10,4)) as varchar(30))|214748.3647"},
        {"smin", "smallmoney", "-214748.3648", "cast(cast(smin as decimal(10,4)) as varchar(30))|-214748.3648"},
        {"big", "bigint", "9223372036854775807", "cast(big as varchar(30))|9223372036854775807"},
        {"r", "real", "0.1", "case when r = cast(0.1 as real) then 'real 0.1' else 'other' end|real 0.1"},
        {"f", "float", "1.7976931348623157E+308",
         "case when f = 1.7976931348623157E+308 then 'float max' else 'other' end|float max"},
        {"c10", "char(10)", "'pad'", "'[' + c10 + ']'|[pad       ]"},
        {"nc", "nchar(4)", "N'中'", "N'[' + nc + N']'|[中   ]"},
        {"vc", "varchar(20)", "'trail   '", "'[' + vc + ']'|[trail   ]"},
        {"mixed", "nvarchar(20)", "N'MiXeD Case'",
         "case when cast(mixed as varbinary(40)) = cast(N'MiXeD Case' as varbinary(40)) then 'same bytes' else 'other' "
         "end|same bytes"},
        {"dt2", "datetime2(7)", "'9999-12-31 23:59:59.9999999'", "dt2|9999-12-31 23:59:59.9999999"},
    };
    QString create = "create table lim (" + key + ", note nvarchar(20) null";
    QStringList names, literals, shownExprs, expected;
    for (const Col &col : cols) {
        create += QString(", %1 %2 null").arg(col.name, col.type);
        names << col.name;
        literals << col.literal;
        shownExprs << QString(col.shown).section('|', 0, 0);
        expected << QString(col.shown).section('|', 1);
    }
    c->run(create + ")");
    QCOMPARE(c->errors, QStringList{});
    try {
        c->exec("insert into lim (k, note, " + names.join(", ") + ") values (1, N'n', " + literals.join(", ") + ")");
        c->exec("insert into lim (k, note) values (2, N'other row')");
    } catch (const dv::DbError &e) {
        QFAIL(qPrintable("the server refused the values: " + e.message()));
    }
    const QString check = "select " + shownExprs.join(", ") + " from lim where k = 1";
    // What the server holds, as SQL Server documents these values.
    QCOMPARE(c->serverRows(check), QStringList{expected.join('|')});

    c->run("select k, note, " + names.join(", ") + " from lim order by k");
    QCOMPARE(c->errors, QStringList{});
    QVERIFY(c->typeCell(0, 1, "edited"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(c->serverRows("select note from lim order by k"), (QStringList{"edited", "other row"}));
    QCOMPARE(c->serverRows(check), QStringList{expected.join('|')});
    // And once more from what the grid read back after the write.
    QVERIFY(c->typeCell(0, 1, "again"));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->serverRows("select note from lim order by k"), (QStringList{"again", "other row"}));
    QCOMPARE(c->serverRows(check), QStringList{expected.join('|')});
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestWritebackE2e t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_writeback_e2e.moc"
