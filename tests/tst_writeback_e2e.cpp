// Writing grid edits back, end to end: the window's real ODBC connection
// against the test server, driven as an operator drives it, and a second
// connection reading what the server holds afterwards. Each case is a way a
// careless write-back loses, truncates or misdirects data.
#include "app/application.h"
#include "client/dbclient.h"
#include "client/query.h"
#include "client/resultset.h"
#include "console/dbnavigator.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "main/uikit.h"
#include "support/odbclogin.h"
#include "support/testserverprocess.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

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
    void serverFilledColumnsReadBack();
    void rowversionCheck();
    void fractionalSecondsExact();
    void viewIsReadOnly();
    void defaultSchemaResolution();

private:
    void run(const QString &text);
    void exec(const QString &sql, const QVector<QVariant> &params = {});
    QStringList serverRows(const QString &sql);
    QVariant serverValue(const QString &sql);
    dv::ResultGrid *grid() const { return static_cast<dv::ResultGrid *>(win->DbGridResult); }
    dv::ResultModel *model() const { return win->dsResult; }
    // Clicks a navigator button as the operator does; it must be there to click.
    void click(DbNavigator::Button b)
    {
        QWidget *button = win->DBNaV->button(b);
        QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(QString("navigator button %1").arg(int(b))));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // Opens the cell's editor with F2, as the operator does to read a value.
    QWidget *openEditor(int row, int col);

    std::unique_ptr<dvtest::TestServerProcess> m_server;
    std::unique_ptr<TFMAIN> win;
    std::unique_ptr<dv::Connection> m_check;
    QStringList messages, errors;
};

void TestWritebackE2e::init()
{
    messages.clear();
    errors.clear();
    dv::BoxHooks::message = [this](const QString &t) { messages << t; };
    dv::BoxHooks::error = [this](const QString &t) { errors << t; };
    dv::BoxHooks::confirm = [](const QString &) { return true; };
    m_server = std::make_unique<dvtest::TestServerProcess>();
    win = dvtest::startServerAndLogin(*m_server);
    QVERIFY(win);
    QVERIFY(win->conn->isConnected());
    win->show();
    win->pc->setCurrentWidget(win->TabSheet1);
    QVERIFY(QTest::qWaitForWindowExposed(win.get()));
    m_check = dv::makeOdbcConnection();
    m_check->open(dvtest::connectParams(*m_server));
}

void TestWritebackE2e::cleanup()
{
    m_check.reset();
    win.reset();
    m_server.reset();
    dv::BoxHooks::message = nullptr;
    dv::BoxHooks::error = nullptr;
    dv::BoxHooks::confirm = nullptr;
}

void TestWritebackE2e::run(const QString &text)
{
    win->RtSql->setPlainText(text);
    QTest::mouseClick(win->btnExec, Qt::LeftButton);
}

void TestWritebackE2e::exec(const QString &sql, const QVector<QVariant> &params)
{
    dv::Statement st;
    st.text = sql;
    st.params = params;
    st.markerCount = int(params.size());
    m_check->execute(st);
}

QStringList TestWritebackE2e::serverRows(const QString &sql)
{
    dv::Statement st;
    st.text = sql;
    const dv::RunResult r = m_check->open(st);
    QStringList out;
    for (qint64 i = 0; i < r.rows->rowCount(); ++i) {
        QStringList vals;
        for (int c = 0; c < r.rows->columnCount(); ++c)
            vals << (r.rows->isNull(i, c) ? QStringLiteral("NULL") : r.rows->text(i, c));
        out << vals.join(u'|');
    }
    return out;
}

QVariant TestWritebackE2e::serverValue(const QString &sql)
{
    dv::Statement st;
    st.text = sql;
    const dv::RunResult r = m_check->open(st);
    if (!r.rows || r.rows->rowCount() != 1)
        return QStringLiteral("<%1 rows>").arg(r.rows ? r.rows->rowCount() : -1);
    return r.rows->value(0, 0);
}

QWidget *TestWritebackE2e::openEditor(int row, int col)
{
    grid()->setFocus();
    grid()->setCurrentIndex(model()->index(row, col));
    QTest::keyClick(grid(), Qt::Key_F2);
    if (!grid()->isEditing())
        return nullptr;
    QWidget *ed = QApplication::focusWidget();
    return ed && ed != grid() ? ed : nullptr;
}

// Long text and long binary values: opening the editor to read them and
// leaving it changes nothing on the server.
void TestWritebackE2e::longValuesSurviveReading()
{
    run("create table l (k int primary key, t nvarchar(max) null, b varbinary(max) null, s nvarchar(40) null)");
    QString text;
    for (int i = 0; i < 40000; ++i)
        text += QChar(u'a' + i % 26);
    text += QStringLiteral("\r\nsecond line 末");
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes += char(i * 7);
    exec("insert into l values (1, ?, ?, N'short')", {text, bytes});
    run("select k, t, b, s from l");
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->rowCount(), 1);
    // Another session changes the short column meanwhile: a write of the row
    // (for nothing) would be refused or would put 'short' back.
    exec("update l set s = N'elsewhere' where k = 1");

    for (int col : {1, 2}) {
        QWidget *ed = openEditor(0, col);
        QVERIFY2(ed, "no editor opened");
        QVERIFY(ed->isVisible() && ed->isEnabled());
        QTest::keyClick(ed, Qt::Key_Tab); // leaves the editor, commits
        QCOMPARE(errors, QStringList{});
        QVERIFY(!model()->isModified());
    }
    grid()->moveToRow(0);
    click(DbNavigator::Post);
    QCOMPARE(errors, QStringList{});
    QCOMPARE(serverValue("select t from l where k = 1").toString(), text);
    QCOMPARE(serverValue("select b from l where k = 1").toByteArray(), bytes);
    QCOMPARE(serverRows("select s from l"), QStringList{"elsewhere"});
}

// Long values edited through the editor are written whole, and a refused
// value does not fill the error box with the value.
void TestWritebackE2e::longValuesEdited()
{
    run("create table l (k int primary key, t nvarchar(max) null, b varbinary(max) null)");
    // Lines broken the Windows way and a no-break space: the editor shows
    // both as it shows any break and space, the stored value keeps them.
    QString text(33000, u'x');
    text.insert(100, QStringLiteral("\r\nline\u00a0two\r\n"));
    const QByteArray bytes(17000, '\x5a');
    exec("insert into l values (1, ?, ?)", {text, bytes});
    run("select k, t, b from l");
    QCOMPARE(errors, QStringList{});

    QWidget *ed = openEditor(0, 1);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, "yz");
    QTest::keyClick(ed, Qt::Key_Tab);
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->state(), State::Edit);
    click(DbNavigator::Post);
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->state(), State::Browse);
    QCOMPARE(serverValue("select t from l where k = 1").toString(), text + "yz");

    ed = openEditor(0, 2);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, "0C");
    QTest::keyClick(ed, Qt::Key_Tab);
    QCOMPARE(errors, QStringList{});
    click(DbNavigator::Post);
    QCOMPARE(errors, QStringList{});
    QCOMPARE(serverValue("select b from l where k = 1").toByteArray(), bytes + QByteArray("\x0c", 1));

    // Not hexadecimal: refused, with a message of sensible size.
    ed = openEditor(0, 2);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(ed, "zz");
    QTest::keyClick(ed, Qt::Key_Tab);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].size() < 300, qPrintable(QString::number(errors[0].size())));
    QCOMPARE(serverValue("select b from l where k = 1").toByteArray(), bytes + QByteArray("\x0c", 1));
}

// Floats keep every bit: reading or tabbing through them sends nothing, and
// typing the shown value again changes nothing.
void TestWritebackE2e::floatsRoundTrip()
{
    run("create table f (k int primary key, x float null, y float null, n nvarchar(10) null)");
    const double a = 0.1 + 0.2, b = 1.0 / 3.0;
    exec("insert into f values (1, ?, ?, N'n')", {a, b});
    run("select k, x, y, n from f");
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->index(0, 1).data().toString(), QString("0.30000000000000004"));
    exec("update f set n = N'other' where k = 1");

    QWidget *ed = openEditor(0, 1);
    QVERIFY(ed);
    QTest::keyClick(ed, Qt::Key_Tab);
    // Tabbing on through the row in edit state.
    QTest::keyClick(grid(), Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(grid(), Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    // The value typed again as shown.
    ed = openEditor(0, 2);
    QVERIFY(ed);
    auto *line = qobject_cast<QLineEdit *>(ed);
    QVERIFY(line);
    line->selectAll();
    QTest::keyClicks(line, model()->index(0, 2).data().toString());
    QTest::keyClick(line, Qt::Key_Tab);
    QCOMPARE(errors, QStringList{});
    QVERIFY(!model()->isModified());
    click(DbNavigator::Post);
    QCOMPARE(errors, QStringList{});
    QCOMPARE(serverValue("select x from f").toDouble(), a);
    QCOMPARE(serverValue("select y from f").toDouble(), b);
    QCOMPARE(serverRows("select n from f"), QStringList{"other"});

    // An edited float goes out exactly as typed.
    ed = openEditor(0, 1);
    QVERIFY(ed);
    qobject_cast<QLineEdit *>(ed)->selectAll();
    QTest::keyClicks(ed, "0.1");
    QTest::keyClick(ed, Qt::Key_Tab);
    click(DbNavigator::Post);
    QCOMPARE(errors.size(), 1); // 'n' changed elsewhere: the optimistic check refuses
    QCOMPARE(model()->state(), State::Edit);
    click(DbNavigator::Refresh); // shows the server's row, the typed value kept
    QCOMPARE(model()->index(0, 3).data().toString(), QString("other"));
    QCOMPARE(model()->index(0, 1).data().toString(), QString("0.1"));
    click(DbNavigator::Post);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(serverValue("select x from f").toDouble(), 0.1);
    QCOMPARE(serverValue("select y from f").toDouble(), b);
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
    run(create);
    QCOMPARE(errors, QStringList{});
    exec("insert into t values (1, N'a', 10)");
    exec("insert into t values (2, N'b', 20)");
    run("select k, v, w from t order by k");
    QCOMPARE(errors, QStringList{});
    const QStringList before = serverRows("select k, v, w from t order by k");
    exec(otherWrite);
    const QStringList after = serverRows("select k, v, w from t order by k");
    QVERIFY(before != after);

    if (remove) {
        grid()->moveToRow(0);
        click(DbNavigator::Delete);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("其他"), qPrintable(errors[0]));
        QCOMPARE(model()->rowCount(), 2);
        QCOMPARE(serverRows("select k, v, w from t order by k"), after);
        return;
    }
    QWidget *ed = openEditor(0, 1);
    QVERIFY(ed);
    qobject_cast<QLineEdit *>(ed)->selectAll();
    QTest::keyClicks(ed, "mine");
    QTest::keyClick(ed, Qt::Key_Tab);
    click(DbNavigator::Post);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("其他"), qPrintable(errors[0]));
    QCOMPARE(model()->state(), State::Edit);
    QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
    QCOMPARE(serverRows("select k, v, w from t order by k"), after);

    const bool deleted = otherWrite.startsWith("delete");
    click(DbNavigator::Refresh);
    if (!create.contains("primary key") && !create.contains("unique")) {
        // No key to find the row by: refresh says so and keeps the typed value.
        QCOMPARE(errors.size(), 2);
        QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
        click(DbNavigator::Cancel);
        QCOMPARE(serverRows("select k, v, w from t order by k"), after);
        return;
    }
    if (deleted) {
        // Nothing to show: the row is gone; the typed value is still there to copy.
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors[1].contains("删除"), qPrintable(errors[1]));
        QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
        click(DbNavigator::Cancel);
        QCOMPARE(serverRows("select k, v, w from t order by k"), after);
        return;
    }
    QCOMPARE(errors.size(), 1);
    QCOMPARE(model()->state(), State::Edit);
    QCOMPARE(model()->index(0, 1).data().toString(), QString("mine"));
    QCOMPARE(model()->index(0, 2).data().toString(), after[0].section(u'|', 2));
    click(DbNavigator::Post);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(model()->state(), State::Browse);
    QStringList expected = after;
    expected[0] = "1|mine|" + after[0].section(u'|', 2);
    QCOMPARE(serverRows("select k, v, w from t order by k"), expected);
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
    run("create table archive_t (k int primary key, v nvarchar(20) null)\r\n"
        "create table t (k int primary key, v nvarchar(20) null)\r\n"
        "insert into archive_t values (1, 'old')\r\ninsert into t values (1, 'new')");
    QCOMPARE(errors, QStringList{});
    run(query);
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->rowCount(), 1);
    QCOMPARE(model()->index(0, 1).data().toString(), QString("new"));
    QVERIFY(!model()->setData(model()->index(0, 1), "x"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("只读"), qPrintable(errors[0]));
    QVERIFY(!model()->deleteRow(0));
    QCOMPARE(serverRows("select v from archive_t"), QStringList{"old"});
    QCOMPARE(serverRows("select v from t"), QStringList{"new"});
}

// A write the grid undoes (a keyless row with a twin) must not undo the
// operator's own open transaction.
void TestWritebackE2e::operatorTransactionKept()
{
    run("create table d (a int null, b nvarchar(10) null)\r\n"
        "insert into d values (1, 'x')\r\ninsert into d values (1, 'x')\r\ninsert into d values (2, 'y')");
    run("begin tran\r\ninsert into d values (3, 'mine')");
    QCOMPARE(errors, QStringList{});
    run("select a, b from d where a < 3 order by a");
    QCOMPARE(model()->rowCount(), 3);
    // A twin: refused and undone.
    QVERIFY(model()->setData(model()->index(0, 1), "z"));
    QVERIFY(!model()->post());
    QCOMPARE(errors.size(), 1);
    model()->cancel();
    // A single row: written inside the operator's transaction.
    QVERIFY(model()->setData(model()->index(2, 1), "w"));
    QVERIFY(model()->post());
    QCOMPARE(errors.size(), 1);
    run("select @@trancount as n");
    QCOMPARE(model()->index(0, 0).data().toString(), QString("1"));
    run("commit tran");
    QCOMPARE(errors.size(), 1);
    QCOMPARE(serverRows("select a, b from d order by a, b"), (QStringList{"1|x", "1|x", "2|w", "3|mine"}));
}

// The write path leaves the operator's connection settings as it found them.
void TestWritebackE2e::nocountKept()
{
    run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    run("set nocount on\r\nselect k, v from t");
    QCOMPARE(errors, QStringList{});
    QVERIFY(model()->setData(model()->index(0, 1), "b"));
    QVERIFY(model()->post());
    QCOMPARE(serverRows("select v from t"), QStringList{"b"});
    dv::Statement st;
    st.text = "update t set v = v where k = 1";
    QCOMPARE(win->conn->execute(st).rowsAffected, qint64(-1)); // still no counts
    run("set nocount off");
    QCOMPARE(win->conn->execute(st).rowsAffected, qint64(1));
}

// AFTER triggers that write rows of their own: the write is judged by its
// own count, the grid keeps the committed value.
void TestWritebackE2e::triggersDoNotCount()
{
    run("create table t (k int primary key, v nvarchar(20) null)\r\n"
        "create table audit (n int identity(1,1) primary key, k int null, note nvarchar(20) null)\r\n"
        "insert into t values (1, 'a')\r\ninsert into t values (2, 'b')");
    run("create trigger tr_t on t after insert, update, delete as\r\n"
        "insert into audit (k, note) select k, 'new' from inserted\r\n"
        "insert into audit (k, note) select k, 'old' from deleted");
    QCOMPARE(errors, QStringList{});
    run("select k, v from t order by k");
    QCOMPARE(errors, QStringList{});
    QVERIFY(model()->setData(model()->index(0, 1), "aa"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QCOMPARE(model()->index(0, 1).data().toString(), QString("aa"));
    QCOMPARE(serverRows("select k, v from t order by k"), (QStringList{"1|aa", "2|b"}));
    QCOMPARE(serverRows("select count(*) from audit"), QStringList{"2"});
    // Insert and delete too.
    QVERIFY(model()->insertRow(2));
    QVERIFY(model()->setData(model()->index(2, 0), "3"));
    QVERIFY(model()->setData(model()->index(2, 1), "c"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QVERIFY2(model()->deleteRow(1), qPrintable(errors.join('\n')));
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->rowCount(), 2);
    QCOMPARE(serverRows("select k, v from t order by k"), (QStringList{"1|aa", "3|c"}));
    QCOMPARE(serverRows("select count(*) from audit"), QStringList{"4"});
}

// An INSTEAD OF INSERT trigger that drops the row: the server counts the
// insert, the table does not hold it, and the grid shows no phantom row.
void TestWritebackE2e::insteadOfInsertLeavesNoPhantom()
{
    run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    run("create trigger tr_i on t instead of insert as\r\nprint 'dropped'");
    QCOMPARE(errors, QStringList{});
    run("select k, v from t");
    QVERIFY(model()->insertRow(1));
    QVERIFY(model()->setData(model()->index(1, 0), "2"));
    QVERIFY(model()->setData(model()->index(1, 1), "b"));
    model()->post();
    QCOMPARE(model()->rowCount(), 1);
    QCOMPARE(model()->state(), State::Browse);
    QCOMPARE(messages.size() + errors.size(), 1);
    QCOMPARE(serverRows("select k, v from t"), QStringList{"1|a"});
}

// Defaults, computed columns, a newid() key and rowversion: an inserted row
// shows what the server stored and can be edited at once.
void TestWritebackE2e::serverFilledColumnsReadBack()
{
    run("create table r (id uniqueidentifier not null default newid() primary key, n int not null default 5,\r\n"
        "c as n * 2, rv rowversion, name nvarchar(20) null, seq int identity(10, 1) not null)");
    QCOMPARE(errors, QStringList{});
    run("select id, n, c, rv, name, seq from r");
    QCOMPARE(errors, QStringList{});
    QVERIFY(model()->insertRow(0));
    QVERIFY(model()->setData(model()->index(0, 4), "x"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    const QStringList stored = serverRows("select id, n, c, rv, name, seq from r");
    QCOMPARE(stored.size(), 1);
    QStringList shown;
    for (int c = 0; c < 6; ++c)
        shown << model()->resultSet()->text(0, c);
    QCOMPARE(shown.join('|'), stored[0]);
    QVERIFY(!model()->resultSet()->isNull(0, 0));
    QCOMPARE(shown[2], QString("10"));
    // A computed column cannot be typed into.
    QVERIFY(!model()->setData(model()->index(0, 2), "7"));
    QCOMPARE(errors.size(), 1);
    // The row stays editable: the next edit finds it.
    QVERIFY(model()->setData(model()->index(0, 1), "6"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QCOMPARE(model()->resultSet()->text(0, 2), QString("12"));
    QCOMPARE(serverRows("select n, c, name from r"), QStringList{"6|12|x"});
}

// With a rowversion shown, any change elsewhere is caught, also in a column
// the grid cannot compare.
void TestWritebackE2e::rowversionCheck()
{
    run("create table r (k int primary key, memo ntext null, name nvarchar(20) null, rv rowversion)\r\n"
        "insert into r (k, memo, name) values (1, N'm', N'a')");
    run("select k, memo, name, rv from r");
    QCOMPARE(errors, QStringList{});
    exec("update r set memo = N'changed' where k = 1");
    QVERIFY(model()->setData(model()->index(0, 2), "b"));
    QVERIFY(!model()->post());
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("其他"), qPrintable(errors[0]));
    QCOMPARE(serverRows("select name from r"), QStringList{"a"});
    click(DbNavigator::Refresh);
    QCOMPARE(errors.size(), 1);
    QVERIFY(model()->post());
    QCOMPARE(serverRows("select name from r"), QStringList{"b"});
}

// datetime2 and time keep their seven fractional digits: unchanged values
// are found exactly, and typed ones are stored exactly.
void TestWritebackE2e::fractionalSecondsExact()
{
    run("create table d (k int primary key, a datetime2(7) null, b time(7) null, n int null)\r\n"
        "insert into d values (1, '2024-01-02 03:04:05.1234567', '23:59:59.9999999', 0)");
    run("select k, a, b, n from d");
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->index(0, 1).data().toString(), QString("2024-01-02 03:04:05.1234567"));
    QCOMPARE(model()->index(0, 2).data().toString(), QString("23:59:59.9999999"));
    for (int col : {1, 2}) {
        QWidget *ed = openEditor(0, col);
        QVERIFY(ed);
        QTest::keyClick(ed, Qt::Key_Tab);
    }
    QVERIFY(model()->setData(model()->index(0, 3), "1"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QCOMPARE(serverRows("select a, b, n from d"),
             QStringList{"2024-01-02 03:04:05.1234567|23:59:59.9999999|1"});
    QVERIFY(model()->setData(model()->index(0, 1), "2024-01-02 03:04:05.1234568"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QCOMPARE(serverRows("select a from d"), QStringList{"2024-01-02 03:04:05.1234568"});
}

void TestWritebackE2e::viewIsReadOnly()
{
    run("create table t (k int primary key, v nvarchar(20) null)\r\ninsert into t values (1, 'a')");
    run("create view vt as select k, v from t");
    QCOMPARE(errors, QStringList{});
    run("select k, v from vt");
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->rowCount(), 1);
    QVERIFY(!model()->setData(model()->index(0, 1), "x"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("视图"), qPrintable(errors[0]));
    QVERIFY(!model()->deleteRow(0));
    QCOMPARE(serverRows("select v from t"), QStringList{"a"});
}

// With sales.t and dbo.t, a login whose default schema is sales reads
// sales.t through the unqualified name: the edits must go there too.
void TestWritebackE2e::defaultSchemaResolution()
{
    run("create schema sales");
    QCOMPARE(errors, QStringList{});
    run("create table sales.t (k int primary key, v nvarchar(20) null)\r\n"
        "create table dbo.t (k int primary key, v nvarchar(20) null)\r\n"
        "insert into sales.t values (1, 'in sales')\r\ninsert into dbo.t values (1, 'in dbo')");
    run("create login alice with password = 'Alice-pw.1'\r\n"
        "create user alice for login alice with default_schema = sales");
    QCOMPARE(errors, QStringList{});
    // Log out, and in again as alice, through the login page's fields.
    win->Button1Click();
    QVERIFY(!win->conn->isConnected());
    for (QLineEdit *f : {win->tb_uid, win->tb_pwd}) {
        QVERIFY(f->isVisible() && f->isEnabled());
        f->selectAll();
        QTest::keyClick(f, Qt::Key_Delete);
    }
    QTest::keyClicks(win->tb_uid, "alice");
    QTest::keyClicks(win->tb_pwd, "Alice-pw.1");
    win->Button1Click();
    QVERIFY(win->conn->isConnected());
    win->pc->setCurrentWidget(win->TabSheet1);

    run("select k, v from t");
    QCOMPARE(errors, QStringList{});
    QCOMPARE(model()->index(0, 1).data().toString(), QString("in sales"));
    QVERIFY(model()->setData(model()->index(0, 1), "edited"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QCOMPARE(serverRows("select v from sales.t"), QStringList{"edited"});
    QCOMPARE(serverRows("select v from dbo.t"), QStringList{"in dbo"});
    // The other table, named with its schema.
    run("select k, v from dbo.t");
    QVERIFY(model()->setData(model()->index(0, 1), "dbo edited"));
    QVERIFY2(model()->post(), qPrintable(errors.join('\n')));
    QCOMPARE(serverRows("select v from sales.t"), QStringList{"edited"});
    QCOMPARE(serverRows("select v from dbo.t"), QStringList{"dbo edited"});
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestWritebackE2e t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_writeback_e2e.moc"
