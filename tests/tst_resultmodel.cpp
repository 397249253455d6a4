// The console's result model and the SQL behind its write-back: finding the
// base table of a statement, the statements built for a row, value display and
// parsing, the model over a ResultSet, and posting through a scripted
// connection.
#include "client/query.h"
#include "client/resultset.h"
#include "console/editsql.h"
#include "console/gridcopy.h"
#include "console/resultmodel.h"
#include "console/rowsort.h"
#include "support/fakecatalog.h"
#include "support/fakeconnection.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

#include <limits>
#include <tuple>

using dv::ValueKind;

namespace {

dv::ColumnInfo col(const QString &name, ValueKind kind, const QString &type = {}, bool autoInc = false)
{
    dv::ColumnInfo c;
    c.name = name;
    c.kind = kind;
    c.typeName = type;
    c.autoIncrement = autoInc;
    return c;
}

void addText(dv::ResultSet &rs, const QString &s) { rs.addText(reinterpret_cast<const char16_t *>(s.utf16()), s.size()); }

// id int, name nvarchar, note nvarchar: three rows, the second note NULL.
std::shared_ptr<dv::ResultSet> people()
{
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        col("id", ValueKind::Integer, "int"), col("name", ValueKind::Text, "nvarchar"),
        col("note", ValueKind::Text, "nvarchar")});
    const QStringList names{"ann", "bob", "cy"};
    for (int i = 0; i < 3; ++i) {
        rs->addInteger(i + 1);
        addText(*rs, names[i]);
        if (i == 1)
            rs->addNull();
        else
            addText(*rs, "n" + QString::number(i + 1));
        rs->endRow();
    }
    return rs;
}

// A one-row result set of the given columns and values (null QVariant = NULL).
std::shared_ptr<dv::ResultSet> rowOf(const QVector<dv::ColumnInfo> &cols, const QVector<QVariant> &vals)
{
    auto rs = std::make_shared<dv::ResultSet>(cols);
    for (const QVariant &v : vals) {
        if (v.isNull())
            rs->addNull();
        else if (v.typeId() == QMetaType::QString)
            addText(*rs, v.toString());
        else
            rs->addInteger(v.toLongLong());
    }
    rs->endRow();
    return rs;
}

// Answers the catalogue look-ups of the model for table dbo.people (columns
// id, name, note; primary key on id) and records every write. A write
// reports `affected` as its own row count.
struct Server {
    dvtest::FakeConnection conn;
    qint64 affected = 1;
    QString failWrite; // when set, writes throw this
    QList<dv::Statement> writes;

    Server()
    {
        conn.open(dv::ConnectParams{});
        conn.handler = [this](const dv::Statement &st, bool open) -> dv::RunResult {
            dv::RunResult r;
            if (st.markerCount != st.params.size())
                throw dv::DbError("marker without value");
            const QString t = st.text;
            dvtest::FakeTable table;
            table.name = "people";
            table.columns = {{"id", "int", 4}, {"name", "nvarchar", 40}, {"note", "nvarchar", -1}};
            table.primaryKey = {"id"};
            if (auto answer = dvtest::answerCatalog(st, table))
                return *answer;
            if (dvtest::isWriteBatch(t)) {
                writes << st;
                if (!failWrite.isEmpty())
                    throw dv::DbError(failWrite);
                return dvtest::writeAnswer(st, affected);
            }
            if (open)
                r.rows = people();
            return r;
        };
    }
};

} // namespace

class TestResultModel : public QObject {
    Q_OBJECT
private slots:
    void analyze_data();
    void analyze();
    void changesData_data();
    void changesData();
    void statements();
    void comparisonTypes_data();
    void comparisonTypes();
    void editorText_data();
    void editorText();
    void writeTarget_data();
    void writeTarget();
    void writeOutcome();
    void parseInput_data();
    void parseInput();
    void display();
    void modelTester();
    void followsQuery();
    void postUpdate();
    void failedPostKeepsEdit();
    void readOnlyResult();
    void refreshRefusesChangingBatch();
    void millionRows();
    void textOrder_data();
    void textOrder();
    void decimalOrder_data();
    void decimalOrder();
    void sortedRows_data();
    void sortedRows();
    void unsortableColumns_data();
    void unsortableColumns();
    void untypableColumns_data();
    void untypableColumns();
    void guidRows_data();
    void guidRows();
    void sortedWritesFindTheirRows();
    void sortRefusedWhileEditing();
    void clipboardField_data();
    void clipboardField();
    void clipboardCells();
    void copiedTextIsCellText();
};

void TestResultModel::analyze_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("table"); // db|schema|table
    QTest::addColumn<QStringList>("base");

    const QStringList abc{"a", "b", "c"};
    QTest::newRow("star") << "select * from t" << abc << true << "||t" << abc;
    QTest::newRow("list+where+order") << "select a, b from dbo.t where a > 1 order by b\r\n" << QStringList{"a", "b"}
                                      << true << "|dbo|t" << QStringList{"a", "b"};
    QTest::newRow("alias columns") << "select a as x, y = b, t.c z from t" << QStringList{"x", "y", "z"} << true << "||t"
                                   << abc;
    QTest::newRow("three-part, brackets") << "select [a b] from [my db].[dbo].[t]]x]" << QStringList{"a b"} << true
                                          << "my db|dbo|t]x" << QStringList{"a b"};
    QTest::newRow("db..t") << "select a from d..t" << QStringList{"a"} << true << "d||t" << QStringList{"a"};
    QTest::newRow("top, alias, hint") << "select top 10 q.* from t as q with (nolock) where q.a=1" << abc << true
                                      << "||t" << abc;
    QTest::newRow("star mixed") << "select a, * from t" << QStringList{"a", "a", "b"} << false << "" << QStringList{};
    QTest::newRow("star after explicit") << "select c, * from t" << QStringList{"c", "a", "b", "c"} << false << ""
                                         << QStringList{};
    QTest::newRow("insert then select") << "insert into t values (1, 'select')\r\nselect * from t" << abc << true
                                        << "||t" << abc;
    QTest::newRow("insert select then select")
        << "insert into u select * from v; select a from t" << QStringList{"a"} << true << "||t" << QStringList{"a"};
    QTest::newRow("comment hides select") << "-- select * from x\r\nselect a from t" << QStringList{"a"} << true
                                          << "||t" << QStringList{"a"};
    QTest::newRow("second row result") << "select a from t where a = 'x;y' select b from u" << QStringList{"a"}
                                       << false << "" << QStringList{};
    QTest::newRow("assignment select, then the read")
        << "declare @x int\r\nselect @x = max(a) from u\r\nselect a from t where a = @x" << QStringList{"a"} << true
        << "||t" << QStringList{"a"};
    QTest::newRow("select into, then the read") << "select * into #c from u; select a from t" << QStringList{"a"}
                                                << true << "||t" << QStringList{"a"};
    QTest::newRow("transaction and nocount") << "set nocount on begin tran select a from t" << QStringList{"a"}
                                             << true << "||t" << QStringList{"a"};
    QTest::newRow("insert exec, then the read") << "insert into u exec p\r\nselect a from t" << QStringList{"a"}
                                                << true << "||t" << QStringList{"a"};
    QTest::newRow("case in the where") << "select a from t where case when a > 1 then 1 else 0 end = 1"
                                       << QStringList{"a"} << true << "||t" << QStringList{"a"};
    QTest::newRow("if else") << "if 1 = 0 select a from archive_t else select a from t" << QStringList{"a"} << false
                             << "" << QStringList{};
    QTest::newRow("if exists") << "if exists (select 1 from u) select a from t" << QStringList{"a"} << false << ""
                               << QStringList{};
    QTest::newRow("while") << "while 1 = 0 break\r\nselect a from t" << QStringList{"a"} << false << ""
                           << QStringList{};
    QTest::newRow("begin end block") << "begin select a from t end" << QStringList{"a"} << false << ""
                                     << QStringList{};
    QTest::newRow("try catch") << "begin try select a from t end try begin catch end catch" << QStringList{"a"}
                               << false << "" << QStringList{};
    QTest::newRow("goto label") << "goto x\r\nx:\r\nselect a from t" << QStringList{"a"} << false << ""
                                << QStringList{};
    QTest::newRow("procedure before") << "exec p\r\nselect a from t" << QStringList{"a"} << false << ""
                                      << QStringList{};
    QTest::newRow("bare procedure before") << "sp_who\r\nselect a from t" << QStringList{"a"} << false << ""
                                           << QStringList{};
    QTest::newRow("output clause") << "update u set x = 1 output inserted.x\r\nselect a from t" << QStringList{"a"}
                                   << false << "" << QStringList{};
    QTest::newRow("cte") << "with c as (select a from t) select a from c" << QStringList{"a"} << false << ""
                         << QStringList{};
    QTest::newRow("cte with columns") << ";with c (a) as (select a from t) select a from c" << QStringList{"a"}
                                      << false << "" << QStringList{};
    QTest::newRow("table variable") << "declare @v table (a int)\r\nselect a from @v" << QStringList{"a"} << false
                                    << "" << QStringList{};
    QTest::newRow("use after the read") << "select a from t\r\nuse other" << QStringList{"a"} << false << ""
                                        << QStringList{};
    QTest::newRow("use before the read") << "use other\r\nselect a from t" << QStringList{"a"} << true << "||t"
                                         << QStringList{"a"};
    QTest::newRow("cursor fetch") << "open c fetch next from c\r\nselect a from t" << QStringList{"a"} << false
                                  << "" << QStringList{};
    QTest::newRow("join") << "select a from t join u on t.a = u.a" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("comma join") << "select a from t, u" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("expression") << "select a + 1 from t" << QStringList{""} << false << "" << QStringList{};
    QTest::newRow("function") << "select count(*) from t" << QStringList{""} << false << "" << QStringList{};
    QTest::newRow("literal") << "select 1 as a from t" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("group by") << "select a from t group by a" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("union") << "select a from t union select a from u" << QStringList{"a"} << false << ""
                           << QStringList{};
    QTest::newRow("distinct") << "select distinct a from t" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("derived table") << "select a from (select a from t) x" << QStringList{"a"} << false << ""
                                   << QStringList{};
    QTest::newRow("no from") << "select 1" << QStringList{""} << false << "" << QStringList{};
    QTest::newRow("other qualifier") << "select u.a from t" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("column mismatch") << "select a, b from t" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("same column twice") << "select a, a as b from t" << QStringList{"a", "b"} << false << ""
                                       << QStringList{};
    QTest::newRow("into") << "select a into x from t" << QStringList{"a"} << false << "" << QStringList{};
    QTest::newRow("cte named like a table") << "with t as (select a from u) select a from t" << QStringList{"a"} << false
                                            << "" << QStringList{};
}

void TestResultModel::analyze()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, columns);
    QFETCH(bool, ok);
    QFETCH(QString, table);
    QFETCH(QStringList, base);
    const dv::SelectSource s = dv::analyzeSelect(sql, columns);
    QCOMPARE(s.ok, ok);
    if (!ok) {
        QVERIFY(!s.reason.isEmpty());
        return;
    }
    QCOMPARE(s.database + "|" + s.schema + "|" + s.table, table);
    QCOMPARE(s.baseColumns, base);
}

void TestResultModel::changesData_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("changes");
    QTest::newRow("select") << "select * from t where a = 'insert'" << false;
    QTest::newRow("declare and select") << "declare @x int\r\nset @x = 1\r\nselect @x" << false;
    QTest::newRow("bracketed update column") << "select [update] from t" << false;
    QTest::newRow("insert then select") << "insert into t values (1) select * from t" << true;
    QTest::newRow("select into") << "select * into u from t" << true;
    QTest::newRow("exec") << "exec sp_who" << true;
    QTest::newRow("bare procedure") << "sp_who" << true;
    QTest::newRow("delete in comment") << "/* delete */ select 1" << false;
}

void TestResultModel::changesData()
{
    QFETCH(QString, sql);
    QFETCH(bool, changes);
    QCOMPARE(dv::batchChangesData(sql), changes);
}

void TestResultModel::statements()
{
    dv::WriteTarget t;
    t.table = dv::qualifiedName("", "dbo", "t");
    t.columns = {"id", "na]me", "pic"};
    t.info = {col("id", ValueKind::Integer, "int", true), col("name", ValueKind::Text, "nvarchar"),
              col("pic", ValueKind::Binary, "image")};
    t.compareTypes = {"int", "nvarchar(20)", ""};
    t.generated = {true, false, false};
    t.keyColumns = {0};
    t.identityColumn = 0;
    const QVector<QVariant> orig{QVariant(qint64(7)), QVariant("x"), QVariant()};

    // Key plus the original values of the comparable columns, cast to the
    // column's type; the statement alone, its OUTPUT rows being the count
    // and the row as stored.
    dv::Statement up = dv::buildUpdate(t, orig, {{1, QVariant("y")}, {2, QVariant()}});
    QCOMPARE(up.text, QString("UPDATE [dbo].[t] SET [na]]me] = ?, [pic] = NULL OUTPUT INSERTED.[id], "
                              "INSERTED.[na]]me], INSERTED.[pic] WHERE [id] = CAST(? AS int) AND [na]]me] = "
                              "CAST(? AS nvarchar(20))"));
    QCOMPARE(up.markerCount, 3);
    QCOMPARE(up.params, (QVector<QVariant>{QVariant("y"), QVariant(qlonglong(7)), QVariant("x")}));
    // A delete returns the key it removed.
    QCOMPARE(dv::buildDelete(t, orig).text,
             QString("DELETE FROM [dbo].[t] OUTPUT DELETED.[id] WHERE [id] = CAST(? AS int) AND [na]]me] = "
                     "CAST(? AS nvarchar(20))"));

    // Without a key: under a savepoint, undone unless exactly one row, the
    // count taken from the OUTPUT rows kept in a table variable (never from
    // @@ROWCOUNT), the row read from it after the count.
    t.keyColumns.clear();
    const QVector<QVariant> orig2{QVariant(qint64(7)), QVariant(), QVariant(QByteArray("\x01", 1))};
    dv::Statement del = dv::buildDelete(t, orig2);
    QCOMPARE(del.text, QString("DECLARE @dv_n int\r\nDECLARE @dv_o TABLE ([id] int NULL, [na]]me] nvarchar(20) NULL)\r\n"
                               "BEGIN TRAN\r\nSAVE TRAN dv_row\r\n"
                               "DELETE FROM [dbo].[t] OUTPUT DELETED.[id], DELETED.[na]]me] INTO @dv_o ([id], [na]]me]) "
                               "WHERE [id] = CAST(? AS int) AND [na]]me] IS NULL\r\n"
                               "SET @dv_n = (SELECT COUNT(*) FROM @dv_o)\r\nIF @dv_n <> 1 ROLLBACK TRAN dv_row\r\n"
                               "COMMIT TRAN\r\nSELECT @dv_n AS dv_n\r\nIF @dv_n = 1 SELECT [id], [na]]me] FROM @dv_o"));
    QCOMPARE(del.markerCount, 1);
    QVERIFY(dv::writeNeedsGuard(t));
    // The whole row is kept for an update, an image in varbinary(max).
    dv::Statement up2 = dv::buildUpdate(t, orig2, {{1, QVariant("z")}});
    QVERIFY2(up2.text.startsWith("DECLARE @dv_n int\r\nDECLARE @dv_o TABLE ([id] int NULL, [na]]me] nvarchar(20) "
                                 "NULL, [pic] varbinary(max) NULL)\r\n"),
             qPrintable(up2.text));
    QVERIFY2(up2.text.contains("UPDATE [dbo].[t] SET [na]]me] = ? OUTPUT INSERTED.[id], INSERTED.[na]]me], "
                               "INSERTED.[pic] INTO @dv_o ([id], [na]]me], [pic]) WHERE "),
             qPrintable(up2.text));
    QVERIFY2(up2.text.endsWith("\r\nIF @dv_n = 1 SELECT [id], [na]]me], [pic] FROM @dv_o"), qPrintable(up2.text));
    QVERIFY(!up2.text.contains("ROWCOUNT"));

    // A table with triggers takes no OUTPUT: the row is read back by its
    // key, an identity through SCOPE_IDENTITY(); server-filled columns are
    // never inserted.
    t.keyColumns = {0};
    t.hasTriggers = true;
    QVERIFY(dv::buildDelete(t, orig).text.endsWith("\r\nSET @dv_n = @@ROWCOUNT\r\nSELECT @dv_n AS dv_n"));
    dv::Statement ins = dv::buildInsert(t, {{0, QVariant(5)}, {1, QVariant("n")}, {2, QVariant()}});
    QCOMPARE(ins.text, QString("DECLARE @dv_n int\r\nINSERT INTO [dbo].[t] ([na]]me], [pic]) VALUES (?, NULL)\r\n"
                               "SET @dv_n = @@ROWCOUNT\r\nSELECT @dv_n AS dv_n\r\n"
                               "IF @dv_n = 1 SELECT [id], [na]]me], [pic] FROM [dbo].[t] WHERE [id] = SCOPE_IDENTITY()"));
    QCOMPARE(ins.params, (QVector<QVariant>{QVariant("n")}));
    // A key made up by the server on a table with triggers: captured with
    // OUTPUT … INTO, whose rows are the count (@@ROWCOUNT may be 0 after
    // OUTPUT), and the row read back by it.
    t.identityColumn = -1;
    t.generated[0] = false;
    QCOMPARE(dv::buildInsert(t, {{1, QVariant("n")}}).text,
             QString("DECLARE @dv_n int\r\nDECLARE @dv_k TABLE ([id] int)\r\nINSERT INTO [dbo].[t] ([na]]me]) "
                     "OUTPUT INSERTED.[id] INTO @dv_k VALUES (?)\r\nSET @dv_n = (SELECT COUNT(*) FROM @dv_k)\r\n"
                     "SELECT @dv_n AS dv_n\r\nIF @dv_n = 1 SELECT [id], [na]]me], [pic] FROM [dbo].[t] WHERE "
                     "[id] = (SELECT [id] FROM @dv_k)"));
    t.identityColumn = 0;
    t.generated[0] = true;
    t.hasTriggers = false;
    QCOMPARE(dv::buildInsert(t, {}).text,
             QString("INSERT INTO [dbo].[t] OUTPUT INSERTED.[id], INSERTED.[na]]me], INSERTED.[pic] DEFAULT VALUES"));

    // A rowversion shown: key and rowversion are the whole check.
    t.columns << "rv";
    t.info << col("rv", ValueKind::Binary, "timestamp");
    t.compareTypes << "binary(8)";
    t.generated << true;
    t.rowVersionColumn = 3;
    dv::Statement rv = dv::buildDelete(t, {QVariant(qint64(7)), QVariant("x"), QVariant(), QVariant(QByteArray(8, 'r'))});
    QVERIFY2(rv.text.endsWith("WHERE [id] = CAST(? AS int) AND [rv] = CAST(? AS binary(8))"), qPrintable(rv.text));
    QCOMPARE(rv.markerCount, 2);

    QCOMPARE(dv::buildRowReread(t, {QVariant(qint64(7)), QVariant(), QVariant(), QVariant()}).text,
             QString("SELECT [id], [na]]me], [pic], [rv] FROM [dbo].[t] WHERE [id] = CAST(? AS int)"));
    QCOMPARE(dv::buildWriteCleanup(1).text, QString("IF @@TRANCOUNT > ? BEGIN ROLLBACK TRAN dv_row COMMIT TRAN END"));

    QCOMPARE(dv::qualifiedName("d", "", "t"), QString("[d]..[t]"));
    QCOMPARE(dv::qualifiedName("d", "s", "t"), QString("[d].[s].[t]"));
    dv::SelectSource src;
    src.schema = "sales";
    src.table = "t";
    const dv::Statement look = dv::buildObjectLookup(src);
    QCOMPARE(look.params, QVector<QVariant>{QVariant("[sales].[t]")});
    QVERIFY(look.text.contains("OBJECT_ID(?)"));
    src.database = "arch]ive";
    QVERIFY(dv::buildObjectLookup(src).text.contains("FROM [arch]]ive].sys.objects o JOIN [arch]]ive].sys.schemas"));
}

void TestResultModel::editorText_data()
{
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("raw"); // the multi-line editor's text after the edit, breaks as U+2029
    QTest::addColumn<QString>("stored");
    const QString P(QChar::ParagraphSeparator);
    QTest::newRow("crlf kept") << "a\r\nb\r\nc" << "a" + P + "bX" + P + "c" << "a\r\nbX\r\nc";
    QTest::newRow("mixed breaks kept one for one") << "a\r\nb\nc\rd" << "aX" + P + "b" + P + "c" + P + "d"
                                                   << "aX\r\nb\nc\rd";
    QTest::newRow("a literal U+2029 kept") << "a" + P + "b\nc" << "a" + P + "b" + P + "cX" << "a" + P + "b\ncX";
    QTest::newRow("new line in an LF text") << "a\nb" << "a" + P + "b" + P + "c" << "a\nb\nc";
    QTest::newRow("new line in a one-line text") << "ab" << "a" + P + "b" << "a\r\nb";
    QTest::newRow("new line in a mixed text") << "a\nb\r\nc" << "a" + P + P + "b" + P + "c" << "a\r\n\r\nb\r\nc";
    QTest::newRow("no-break space and tab kept") << QString::fromUtf8("a\u00a0b\tc")
                                                 << QString::fromUtf8("a\u00a0b\tcX")
                                                 << QString::fromUtf8("a\u00a0b\tcX");
}

void TestResultModel::editorText()
{
    QFETCH(QString, original);
    QFETCH(QString, raw);
    QFETCH(QString, stored);
    QCOMPARE(dv::editorText(original, raw), stored);
}

void TestResultModel::comparisonTypes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<int>("precision");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("declared");
    QTest::newRow("nvarchar bytes to chars") << "nvarchar" << 40 << 0 << 0 << "nvarchar(20)";
    QTest::newRow("nvarchar max") << "nvarchar" << -1 << 0 << 0 << "nvarchar(max)";
    QTest::newRow("varbinary") << "varbinary" << 16 << 0 << 0 << "varbinary(16)";
    QTest::newRow("char") << "CHAR" << 3 << 0 << 0 << "char(3)";
    QTest::newRow("decimal") << "decimal" << 9 << 10 << 2 << "decimal(10,2)";
    QTest::newRow("datetime2") << "datetime2" << 8 << 27 << 7 << "datetime2(7)";
    QTest::newRow("time(3)") << "time" << 4 << 12 << 3 << "time(3)";
    QTest::newRow("rowversion") << "timestamp" << 8 << 0 << 0 << "binary(8)";
    QTest::newRow("float") << "float" << 8 << 53 << 0 << "float";
    QTest::newRow("guid") << "uniqueidentifier" << 16 << 0 << 0 << "uniqueidentifier";
    QTest::newRow("ntext") << "ntext" << 16 << 0 << 0 << "";
    QTest::newRow("xml") << "xml" << -1 << 0 << 0 << "";
    QTest::newRow("variant") << "sql_variant" << 8016 << 0 << 0 << "";
    QTest::newRow("geography") << "geography" << -1 << 0 << 0 << "";
}

void TestResultModel::comparisonTypes()
{
    QFETCH(QString, type);
    QFETCH(int, maxLength);
    QFETCH(int, precision);
    QFETCH(int, scale);
    QFETCH(QString, declared);
    dv::TableColumn c;
    c.type = type;
    c.maxLength = maxLength;
    c.precision = precision;
    c.scale = scale;
    QCOMPARE(dv::comparisonType(c), declared);
}

void TestResultModel::writeTarget_data()
{
    QTest::addColumn<QString>("objectType");
    QTest::addColumn<QStringList>("shown"); // result columns, all plain references
    QTest::addColumn<QString>("error");     // part of the refusal; empty when writable
    QTest::addColumn<QString>("key");       // result column numbers of the key, "0,1"
    QTest::addColumn<int>("rowVersion");
    QTest::newRow("primary key shown") << "U" << QStringList{"id", "name"} << "" << "0" << -1;
    QTest::newRow("unique index when the primary key is not shown")
        << "U" << QStringList{"code", "name"} << "" << "0" << -1;
    QTest::newRow("composite unique index") << "U" << QStringList{"name", "a", "b"} << "" << "1,2" << -1;
    QTest::newRow("no key shown: all values") << "U" << QStringList{"name"} << "" << "" << -1;
    QTest::newRow("rowversion") << "U" << QStringList{"id", "rv"} << "" << "0" << 1;
    QTest::newRow("view") << "V" << QStringList{"id"} << "视图" << "" << -1;
    QTest::newRow("synonym") << "SN" << QStringList{"id"} << "只读" << "" << -1;
    QTest::newRow("column the table lacks") << "U" << QStringList{"zzz"} << "zzz" << "" << -1;
    QTest::newRow("nothing comparable") << "U" << QStringList{"memo"} << "只读" << "" << -1;
}

void TestResultModel::writeTarget()
{
    QFETCH(QString, objectType);
    QFETCH(QStringList, shown);
    QFETCH(QString, error);
    QFETCH(QString, key);
    QFETCH(int, rowVersion);
    dv::TableCatalog cat;
    cat.database = "shop";
    cat.schema = "sales";
    cat.name = "t";
    cat.type = objectType;
    auto column = [](const char *name, const char *type, int len, bool identity = false) {
        dv::TableColumn c;
        c.name = name;
        c.type = type;
        c.maxLength = len;
        c.identity = identity;
        return c;
    };
    cat.columns = {column("id", "int", 4, true), column("Name", "nvarchar", 20), column("code", "varchar", 5),
                   column("a", "int", 4), column("b", "int", 4), column("rv", "timestamp", 8),
                   column("memo", "ntext", 16)};
    cat.uniqueKeys = {{"id"}, {"CODE"}, {"a", "b"}};
    dv::SelectSource src;
    src.ok = true;
    src.table = "t";
    src.baseColumns = shown;
    QVector<dv::ColumnInfo> info;
    for (const QString &s : shown)
        info << col(s, ValueKind::Text);
    QString why;
    const auto t = dv::makeWriteTarget(src, cat, info, &why);
    if (!error.isEmpty()) {
        QVERIFY(!t);
        QVERIFY2(why.contains(error), qPrintable(why));
        return;
    }
    QVERIFY2(t, qPrintable(why));
    QCOMPARE(t->table, QString("[shop].[sales].[t]"));
    QStringList keyText;
    for (int c : t->keyColumns)
        keyText << QString::number(c);
    QCOMPARE(keyText.join(','), key);
    QCOMPARE(t->rowVersionColumn, rowVersion);
    QCOMPARE(t->columns.size(), shown.size());
    QCOMPARE(t->columns.value(0).toLower(), shown.value(0).toLower()); // the table's own spelling
    if (rowVersion >= 0)
        QVERIFY(t->generated[rowVersion]);
}

void TestResultModel::writeOutcome()
{
    const QVector<dv::ColumnInfo> two{col("a", ValueKind::Integer), col("b", ValueKind::Text)};
    auto count = [](qint64 n) { return rowOf({col("dv_n", ValueKind::Integer)}, {n}); };
    auto rows = [&](int n) {
        auto rs = std::make_shared<dv::ResultSet>(two);
        for (int i = 0; i < n; ++i) {
            rs->addInteger(i);
            addText(*rs, "x");
            rs->endRow();
        }
        return rs;
    };
    // Without a count from the server, the OUTPUT rows are the count.
    dv::WriteOutcome o = dv::readWriteOutcome({rows(1)}, 2);
    QCOMPARE(o.count, 1);
    QVERIFY(o.row);
    QCOMPARE(o.row->value(1).toString(), QString("x"));
    QVERIFY(!o.rowMissing);
    o = dv::readWriteOutcome({rows(0)}, 2);
    QCOMPARE(o.count, 0);
    QVERIFY(!o.row);
    QVERIFY(!o.rowMissing);
    o = dv::readWriteOutcome({rows(2)}, 2);
    QCOMPARE(o.count, 2);
    QVERIFY(!o.row);
    // OUTPUT of the key only (a delete): counted, no row taken.
    o = dv::readWriteOutcome({rowOf({col("a", ValueKind::Integer)}, {5})}, 2);
    QCOMPARE(o.count, 1);
    QVERIFY(!o.row);
    // The count, then a read-back that found nothing.
    o = dv::readWriteOutcome({count(1), std::make_shared<dv::ResultSet>(two)}, 2);
    QCOMPARE(o.count, 1);
    QVERIFY(!o.row);
    QVERIFY(o.rowMissing);
    // The count, then the row read back.
    o = dv::readWriteOutcome({count(1), rowOf(two, {5, "y"})}, 2);
    QCOMPARE(o.count, 1);
    QVERIFY(o.row);
    QCOMPARE(o.row->value(1).toString(), QString("y"));
    // A count of 0 and nothing read back.
    o = dv::readWriteOutcome({count(0)}, 2);
    QCOMPARE(o.count, 0);
    QVERIFY(!o.row);
    QVERIFY(!o.rowMissing);
    // Nothing at all: not a success.
    QCOMPARE(dv::readWriteOutcome({}, 2).count, -1);
}

void TestResultModel::parseInput_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("int") << int(ValueKind::Integer) << " -42 " << true << QVariant(qlonglong(-42));
    QTest::newRow("int bad") << int(ValueKind::Integer) << "4x" << false << QVariant();
    QTest::newRow("int empty is NULL") << int(ValueKind::Integer) << "" << true << QVariant();
    QTest::newRow("text empty is empty") << int(ValueKind::Text) << "" << true << QVariant(QString(""));
    QTest::newRow("text kept as typed") << int(ValueKind::Text) << " a " << true << QVariant(QString(" a "));
    QTest::newRow("bit") << int(ValueKind::Boolean) << "true" << true << QVariant(true);
    QTest::newRow("bit bad") << int(ValueKind::Boolean) << "2" << false << QVariant();
    QTest::newRow("decimal") << int(ValueKind::Decimal) << "-12.50" << true << QVariant(QString("-12.50"));
    QTest::newRow("decimal bad") << int(ValueKind::Decimal) << "1e5" << false << QVariant();
    QTest::newRow("hex") << int(ValueKind::Binary) << "0x0aFF" << true << QVariant(QByteArray("\x0a\xff", 2));
    QTest::newRow("hex odd") << int(ValueKind::Binary) << "0xABC" << false << QVariant();
    QTest::newRow("date") << int(ValueKind::Date) << "2024-02-29" << true << QVariant(QDate(2024, 2, 29));
    QTest::newRow("date bad") << int(ValueKind::Date) << "2023-02-29" << false << QVariant();
    QTest::newRow("datetime") << int(ValueKind::DateTime) << "2024-01-02 03:04:05.600" << true
                              << QVariant(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 600)));
    QTest::newRow("time") << int(ValueKind::Time) << "23:59" << true << QVariant(QTime(23, 59));
}

void TestResultModel::parseInput()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QVariant, value);
    QString err;
    const auto v = dv::ResultModel::parseInput(text, ValueKind(kind), &err);
    QCOMPARE(v.has_value(), valid);
    if (!valid) {
        QVERIFY(err.contains(text));
        return;
    }
    QCOMPARE(v->isValid(), value.isValid());
    if (value.isValid())
        QCOMPARE(*v, value);
}

void TestResultModel::display()
{
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        col("n", ValueKind::Integer), col("t", ValueKind::Text), col("b", ValueKind::Binary),
        col("d", ValueKind::DateTime), col("x", ValueKind::Decimal)});
    rs->addNull();
    const QString longText = QString(300, 'w') + "\nmore";
    addText(*rs, longText);
    rs->addBytes("\x00\xab", 2);
    rs->addDateTime(2024, 5, 6, 7, 8, 9, 0);
    addText(*rs, "-12.50");
    rs->endRow();
    dv::ResultModel m(nullptr);
    m.setResultSet(rs);
    auto cell = [&](int c, int role) { return m.data(m.index(0, c), role); };
    QCOMPARE(cell(0, Qt::DisplayRole).toString(), QString("(NULL)"));
    QCOMPARE(cell(0, Qt::EditRole).toString(), QString());
    QVERIFY(cell(0, Qt::ForegroundRole).isValid());
    QVERIFY(!cell(1, Qt::ForegroundRole).isValid());
    const QString shown = cell(1, Qt::DisplayRole).toString();
    QCOMPARE(shown.size(), dv::ResultModel::kDisplayChars + 1);
    QVERIFY(shown.endsWith(QString::fromUtf8("…")));
    QCOMPARE(cell(1, Qt::ToolTipRole).toString(), longText);
    QCOMPARE(cell(1, Qt::EditRole).toString(), longText);
    QCOMPARE(cell(2, Qt::DisplayRole).toString(), QString("0x00AB"));
    QCOMPARE(cell(3, Qt::DisplayRole).toString(), QString("2024-05-06 07:08:09"));
    QCOMPARE(cell(4, Qt::DisplayRole).toString(), QString("-12.50"));
    QCOMPARE(m.headerData(0, Qt::Horizontal).toString(), QString("n"));
}

void TestResultModel::modelTester()
{
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select * from people"});
    dv::ResultModel m(&q);
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.setResultSet(people());
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.columnCount(), 3);
    QVERIFY(m.insertRow(1));
    QCOMPARE(m.rowCount(), 4);
    QVERIFY(m.setData(m.index(1, 1), "dan"));
    QVERIFY(m.post());
    QCOMPARE(m.rowCount(), 4);
    QVERIFY(m.insertRow(4));
    m.cancel();
    QCOMPARE(m.rowCount(), 4);
    QVERIFY(m.deleteRow(0));
    QCOMPARE(m.rowCount(), 3);
    m.setResultSet(nullptr);
    QCOMPARE(m.rowCount(), 0);
}

void TestResultModel::followsQuery()
{
    Server srv;
    srv.conn.handler = [](const dv::Statement &, bool) {
        dv::RunResult r;
        r.rows = people();
        return r;
    };
    dv::Query q("AdoQExec", &srv.conn);
    dv::ResultModel m(&q);
    q.setLines({"select * from people"});
    q.open();
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.state(), dv::ResultModel::State::Browse);
    QCOMPARE(m.currentRow(), 0);
    QCOMPARE(m.headerData(0, Qt::Vertical).toString(), QString::fromUtf8("▶"));
    q.setLines({"select 1"}); // closes the query: the grid empties
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(m.columnCount(), 0);
    QCOMPARE(m.state(), dv::ResultModel::State::Inactive);
}

void TestResultModel::postUpdate()
{
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select id, name, note from people order by id"});
    dv::ResultModel m(&q);
    auto rs = people();
    m.setResultSet(rs);

    // An unchanged value starts no edit.
    QVERIFY(m.setData(m.index(1, 2), ""));
    QCOMPARE(m.state(), dv::ResultModel::State::Browse);

    QVERIFY(m.setData(m.index(1, 1), "bobby"));
    QVERIFY(m.setNull(m.index(1, 0))); // a key column may be set to NULL too
    QCOMPARE(m.state(), dv::ResultModel::State::Edit);
    QCOMPARE(m.editRow(), 1);
    QCOMPARE(m.headerData(1, Qt::Vertical).toString(), QString::fromUtf8("✎"));
    // Pending values show, the stored row is untouched until posted.
    QCOMPARE(m.data(m.index(1, 1)).toString(), QString("bobby"));
    QCOMPARE(rs->text(1, 1), QString("bob"));
    QVERIFY(srv.writes.isEmpty());

    QVERIFY(m.post());
    QCOMPARE(srv.writes.size(), 1);
    QVERIFY2(srv.writes[0].text.contains("UPDATE [shop].[dbo].[people] SET [id] = NULL, [name] = ? OUTPUT "),
             qPrintable(srv.writes[0].text));
    QVERIFY2(srv.writes[0].text.endsWith(
                 " WHERE [id] = CAST(? AS int) AND [name] = CAST(? AS nvarchar(20)) AND [note] IS NULL"),
             qPrintable(srv.writes[0].text));
    QCOMPARE(srv.writes[0].params,
             (QVector<QVariant>{QVariant("bobby"), QVariant(qlonglong(2)), QVariant(QString("bob"))}));
    QCOMPARE(m.state(), dv::ResultModel::State::Browse);
    QCOMPARE(rs->text(1, 1), QString("bobby"));
    QVERIFY(rs->isNull(1, 0));
}

void TestResultModel::failedPostKeepsEdit()
{
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select * from people"});
    dv::ResultModel m(&q);
    auto rs = people();
    m.setResultSet(rs);
    QSignalSpy failed(&m, &dv::ResultModel::failed);

    srv.failWrite = "Cannot insert the value NULL into column 'name'";
    QVERIFY(m.setData(m.index(0, 1), "zed"));
    QVERIFY(!m.post());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed[0][0].toString(), srv.failWrite);
    QCOMPARE(m.state(), dv::ResultModel::State::Edit);
    QCOMPARE(rs->text(0, 1), QString("ann"));
    QCOMPARE(m.data(m.index(0, 1)).toString(), QString("zed"));

    // A server message quoting a huge value is cut for the box.
    srv.failWrite = "Conversion failed when converting the nvarchar value '" + QString(100000, 'x') + "' to int.";
    QVERIFY(!m.post());
    QVERIFY(failed.last()[0].toString().size() < 2000);
    QVERIFY(failed.last()[0].toString().startsWith("Conversion failed"));
    QVERIFY(failed.last()[0].toString().endsWith("' to int."));

    // The row vanished on the server: a keyed update touching 0 rows fails.
    srv.failWrite.clear();
    srv.affected = 0;
    QVERIFY(!m.post());
    QVERIFY(failed.last()[0].toString().contains(QString::fromUtf8("其他用户")));
    QCOMPARE(rs->text(0, 1), QString("ann"));
    m.cancel();
    QCOMPARE(m.state(), dv::ResultModel::State::Browse);
    QCOMPARE(m.data(m.index(0, 1)).toString(), QString("ann"));

    // A value the column cannot hold is refused before anything is sent.
    const int sent = srv.writes.size();
    QVERIFY(!m.setData(m.index(0, 0), "abc"));
    QCOMPARE(m.state(), dv::ResultModel::State::Browse);
    QCOMPARE(srv.writes.size(), sent);
}

void TestResultModel::readOnlyResult()
{
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select p.id, p.name from people p join people r on r.id = p.id"});
    dv::ResultModel m(&q);
    m.setResultSet(people());
    QSignalSpy failed(&m, &dv::ResultModel::failed);
    QVERIFY(!m.setData(m.index(0, 1), "x"));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed[0][0].toString(), QString::fromUtf8("此结果来自连接、表达式或多个表,结果只读"));
    QVERIFY(!m.insertRow(0));
    QVERIFY(!m.deleteRow(0));
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.data(m.index(0, 1)).toString(), QString("ann"));
    QVERIFY(srv.writes.isEmpty());

    // A table the server does not know is not written either.
    q.setLines({"select * from ghosts"});
    m.setResultSet(people());
    QVERIFY(!m.beginEdit(0));
    QVERIFY(failed.last()[0].toString().contains("ghosts"));
}

void TestResultModel::refreshRefusesChangingBatch()
{
    Server srv;
    int opens = 0;
    srv.conn.handler = [&](const dv::Statement &, bool) {
        ++opens;
        dv::RunResult r;
        r.rows = people();
        return r;
    };
    dv::Query q("AdoQExec", &srv.conn);
    dv::ResultModel m(&q);
    q.setLines({"insert into people values (4, 'x', null)\r\nselect * from people"});
    q.open();
    QCOMPARE(opens, 1);
    QVERIFY(!m.refresh());
    QCOMPARE(opens, 1); // the insert was not sent again
    QCOMPARE(m.rowCount(), 3);

    q.setLines({"select * from people"});
    q.open();
    QVERIFY(m.refresh());
    QCOMPARE(opens, 3);
    QCOMPARE(m.rowCount(), 3);
}

void TestResultModel::millionRows()
{
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        col("a", ValueKind::Integer), col("b", ValueKind::Integer), col("c", ValueKind::Double),
        col("d", ValueKind::Text), col("e", ValueKind::Integer)});
    const QString s = "row";
    for (int i = 0; i < 1000000; ++i) {
        rs->addInteger(i);
        rs->addInteger(i * 2);
        rs->addDouble(i / 2.0);
        addText(*rs, s);
        rs->addInteger(-i);
        rs->endRow();
    }
    dv::ResultModel m(nullptr);
    m.setResultSet(rs);
    QCOMPARE(m.rowCount(), 1000000);
    QCOMPARE(m.data(m.index(999999, 4)).toString(), QString("-999999"));
    QCOMPARE(m.headerData(999999, Qt::Vertical).toString(), QString());
}

void TestResultModel::textOrder_data()
{
    QTest::addColumn<QString>("collation");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("language");

    QTest::newRow("Chinese CI") << "Chinese_PRC_CI_AS" << false << false << int(QLocale::Chinese);
    QTest::newRow("Chinese stroke CS") << "Chinese_PRC_Stroke_CS_AS" << false << true << int(QLocale::Chinese);
    QTest::newRow("SQL Latin1 CI") << "SQL_Latin1_General_CP1_CI_AS" << false << false << int(QLocale::English);
    QTest::newRow("Latin1 CS") << "Latin1_General_CS_AS_KS_WS" << false << true << int(QLocale::English);
    QTest::newRow("BIN2") << "Latin1_General_BIN2" << true << false << int(QLocale::English);
    QTest::newRow("100 BIN") << "Japanese_XJIS_100_BIN" << true << false << int(QLocale::Japanese);
    QTest::newRow("Turkish UTF8") << "Turkish_100_CI_AI_SC_UTF8" << false << false << int(QLocale::Turkish);
    QTest::newRow("unknown: default CI") << "" << false << false << int(QLocale::English);
    // "CS" inside a word is not the case flag.
    QTest::newRow("lower-case name") << "cyrillic_general_cs_as" << false << true << int(QLocale::Russian);
}

void TestResultModel::textOrder()
{
    QFETCH(QString, collation);
    QFETCH(bool, binary);
    QFETCH(bool, caseSensitive);
    QFETCH(int, language);
    const dv::TextOrder t = dv::textOrderForCollation(collation);
    QCOMPARE(t.binary, binary);
    QCOMPARE(t.caseSensitivity == Qt::CaseSensitive, caseSensitive);
    QCOMPARE(int(t.locale.language()), language);
}

void TestResultModel::decimalOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");

    QTest::newRow("longer whole part") << "100.00" << "99.99" << 1;
    QTest::newRow("trailing zeros") << "10.50" << "10.5" << 0;
    QTest::newRow("leading zeros") << "007" << "7.000" << 0;
    QTest::newRow("fraction digits") << "0.05" << "0.5" << -1;
    QTest::newRow("fraction prefix") << "1.5" << "1.55" << -1;
    QTest::newRow("negatives reversed") << "-100" << "-99.5" << -1;
    QTest::newRow("negative fraction prefix") << "-1.5" << "-1.55" << 1;
    QTest::newRow("negative below positive") << "-0.01" << "0" << -1;
    QTest::newRow("minus zero") << "-0.00" << "0" << 0;
    QTest::newRow("no whole part") << ".5" << "0.49" << 1;
    QTest::newRow("38 digits") << "99999999999999999999999999999999999998" << "99999999999999999999999999999999999999" << -1;
    QTest::newRow("money") << "-922337203685477.5808" << "-922337203685477.5807" << -1;
}

void TestResultModel::decimalOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    auto sgn = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
    QCOMPARE(sgn(dv::compareDecimalText(a, b)), sign);
    QCOMPARE(sgn(dv::compareDecimalText(b, a)), -sign);
}

void TestResultModel::sortedRows_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("collation");
    QTest::addColumn<QStringList>("values"); // "NULL" is NULL
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QList<qint64>>("expected");

    using L = QList<qint64>;
    const int i = int(ValueKind::Integer), t = int(ValueKind::Text);
    const QStringList ints{"10", "9", "NULL", "100", "-1"};
    QTest::newRow("int ascending, NULL first") << i << "" << ints << false << L{2, 4, 1, 0, 3};
    QTest::newRow("int descending, NULL last") << i << "" << ints << true << L{3, 0, 1, 4, 2};
    QTest::newRow("bit") << int(ValueKind::Boolean) << "" << QStringList{"1", "0", "1", "0"} << false << L{1, 3, 0, 2};
    QTest::newRow("float") << int(ValueKind::Double) << "" << QStringList{"1.5", "-2", "1e3", "0.25"} << false
                           << L{1, 3, 0, 2};
    QTest::newRow("decimal exactly, equal values stay")
        << int(ValueKind::Decimal) << "" << QStringList{"10.50", "9.9", "-0.01", "-10", "10.5"} << false
        << L{3, 2, 1, 0, 4};
    QTest::newRow("decimal descending, equal values stay")
        << int(ValueKind::Decimal) << "" << QStringList{"10.50", "9.9", "10.5"} << true << L{0, 2, 1};
    const QStringList mixed{"b", "A", "a", "B", "a  "};
    QTest::newRow("text CI: case ties keep server order, trailing blanks ignored")
        << t << "Chinese_PRC_CI_AS" << mixed << false << L{1, 2, 4, 0, 3};
    QTest::newRow("text CI descending") << t << "Latin1_General_CI_AS" << QStringList{"a", "A", "b"} << true
                                        << L{2, 0, 1};
    QTest::newRow("text CS: lower case first") << t << "Latin1_General_CS_AS" << QStringList{"b", "A", "a", "B"}
                                               << false << L{2, 1, 0, 3};
    QTest::newRow("text BIN2: by code point") << t << "Latin1_General_BIN2" << QStringList{"b", "A", "a", "B"}
                                              << false << L{1, 3, 2, 0};
    QTest::newRow("text, Chinese collation: pinyin") << t << "Chinese_PRC_CI_AS" << QStringList{"张", "阿", "李"}
                                                     << false << L{1, 2, 0};
    QTest::newRow("text, Chinese collation: Latin before Han") << t << "Chinese_PRC_CI_AS"
                                                              << QStringList{"张", "b", "阿", "A"} << false
                                                              << L{3, 1, 2, 0};
    QTest::newRow("text, numbers as text") << t << "Chinese_PRC_CI_AS" << QStringList{"10", "9", "100"} << false
                                           << L{0, 2, 1};
    QTest::newRow("date") << int(ValueKind::Date) << "" << QStringList{"2024-03-01", "2023-12-31", "NULL"} << false
                          << L{2, 1, 0};
    QTest::newRow("datetime to the millisecond")
        << int(ValueKind::DateTime) << "" << QStringList{"2024-01-01 10:00:00.000", "2024-01-01 09:59:59.999", "1999-12-31 23:00:00.000"}
        << false << L{2, 1, 0};
    QTest::newRow("time") << int(ValueKind::Time) << "" << QStringList{"13:00:00.000", "09:30:00.500", "09:30:00.000"}
                          << false << L{2, 1, 0};
    QTest::newRow("binary by byte values") << int(ValueKind::Binary) << "" << QStringList{"10", "0f", "1000", "ff"}
                                           << false << L{1, 0, 2, 3};
}

void TestResultModel::sortedRows()
{
    QFETCH(int, kind);
    QFETCH(QString, collation);
    QFETCH(QStringList, values);
    QFETCH(bool, descending);
    QFETCH(QList<qint64>, expected);

    const auto k = ValueKind(kind);
    dv::ResultSet rs({col("c", k)});
    for (const QString &v : values) {
        if (v == "NULL") {
            rs.addNull();
        } else if (k == ValueKind::Integer || k == ValueKind::Boolean) {
            rs.addInteger(v.toLongLong());
        } else if (k == ValueKind::Double) {
            rs.addDouble(v.toDouble());
        } else if (k == ValueKind::Binary) {
            const QByteArray b = QByteArray::fromHex(v.toLatin1());
            rs.addBytes(b.constData(), b.size());
        } else if (k == ValueKind::Date) {
            const QDate d = QDate::fromString(v, Qt::ISODate);
            rs.addDate(d.year(), d.month(), d.day());
        } else if (k == ValueKind::Time) {
            const QTime tm = QTime::fromString(v, "HH:mm:ss.zzz");
            rs.addTime(tm.hour(), tm.minute(), tm.second(), tm.msec());
        } else if (k == ValueKind::DateTime) {
            const QDateTime dt = QDateTime::fromString(v, "yyyy-MM-dd HH:mm:ss.zzz");
            rs.addDateTime(dt.date().year(), dt.date().month(), dt.date().day(), dt.time().hour(), dt.time().minute(),
                           dt.time().second(), dt.time().msec());
        } else {
            addText(rs, v);
        }
        rs.endRow();
    }
    const std::vector<qint64> got = dv::sortedRowOrder(rs, 0, descending ? Qt::DescendingOrder : Qt::AscendingOrder,
                                                       dv::textOrderForCollation(collation));
    QCOMPARE(QList<qint64>(got.begin(), got.end()), expected);
}

void TestResultModel::unsortableColumns_data()
{
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<int>("sqlType");
    QTest::addColumn<bool>("sortable");
    // What ORDER BY refuses, the grid refuses; the rest it orders.
    QTest::newRow("xml by name, as a long wide text") << "xml" << -10 << false;
    QTest::newRow("xml by the driver's code only") << "" << -152 << false;
    QTest::newRow("geography") << "geography" << -151 << false;
    QTest::newRow("geometry") << "GEOMETRY" << -151 << false;
    QTest::newRow("hierarchyid orders") << "hierarchyid" << -151 << true;
    // FreeTDS names no CLR type; nor does the catalogue of a join's column.
    QTest::newRow("a CLR type not named") << "" << -151 << false;
    QTest::newRow("a user's CLR type") << "Point" << -151 << false;
    QTest::newRow("sql_variant orders") << "sql_variant" << -150 << true;
    QTest::newRow("nvarchar(max)") << "nvarchar" << -10 << true;
    QTest::newRow("uniqueidentifier") << "uniqueidentifier" << -11 << true;
}

void TestResultModel::unsortableColumns()
{
    QFETCH(QString, typeName);
    QFETCH(int, sqlType);
    QFETCH(bool, sortable);
    dv::ColumnInfo c = col("c", ValueKind::Text, typeName);
    c.sqlType = sqlType;
    QCOMPARE(dv::unsortableReason(c).isEmpty(), sortable);
}

void TestResultModel::untypableColumns_data()
{
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<int>("sqlType");
    QTest::addColumn<bool>("typable");
    QTest::newRow("sql_variant by name") << "sql_variant" << -150 << false;
    QTest::newRow("sql_variant by the driver's code only") << "" << -150 << false;
    QTest::newRow("hierarchyid") << "hierarchyid" << -151 << false;
    QTest::newRow("geography") << "GEOGRAPHY" << -151 << false;
    QTest::newRow("a CLR type by the driver's code only") << "" << -151 << false;
    QTest::newRow("xml is written back as xml") << "xml" << -152 << true;
    QTest::newRow("nvarchar") << "nvarchar" << -9 << true;
    QTest::newRow("varbinary") << "varbinary" << -3 << true;
}

void TestResultModel::untypableColumns()
{
    QFETCH(QString, typeName);
    QFETCH(int, sqlType);
    QFETCH(bool, typable);
    dv::ColumnInfo c = col("c", ValueKind::Text, typeName);
    c.sqlType = sqlType;
    QCOMPARE(dv::untypableReason(c).isEmpty(), typable);
}

void TestResultModel::guidRows_data()
{
    QTest::addColumn<bool>("byTypeCode"); // the column known by SQL_GUID rather than its type name
    QTest::addColumn<QStringList>("values"); // "NULL" is NULL
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QList<qint64>>("expected");

    using L = QList<qint64>;
    // One byte set in each: SQL Server orders by stored bytes 10-15, 8-9,
    // 6-7, 4-5, 0-3, the first three groups being stored little-endian.
    const QStringList oneByte{
        "00000000-0000-0000-0000-000000000001", "00000000-0000-0000-0001-000000000000",
        "00000000-0000-0000-0100-000000000000", "00000000-0000-0001-0000-000000000000",
        "00000000-0000-0100-0000-000000000000", "00000000-0001-0000-0000-000000000000",
        "00000000-0100-0000-0000-000000000000", "00000001-0000-0000-0000-000000000000",
        "01000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-010000000000"};
    QTest::newRow("byte groups, not text") << false << oneByte << false << L{8, 7, 6, 5, 4, 3, 1, 2, 0, 9};
    QTest::newRow("byte groups descending") << true << oneByte << true << L{9, 0, 2, 1, 3, 4, 5, 6, 7, 8};
    QTest::newRow("last six bytes outweigh the rest")
        << false << QStringList{"FFFFFFFF-FFFF-FFFF-FFFF-000000000000", "00000000-0000-0000-0000-000000000001"}
        << false << L{0, 1};
    QTest::newRow("case and braces ignored, equal values stay, NULL first")
        << false
        << QStringList{"0000000b-0000-0000-0000-000000000000", "{0000000A-0000-0000-0000-000000000000}", "NULL",
                       "0000000a-0000-0000-0000-000000000000"}
        << false << L{2, 1, 3, 0};
    QTest::newRow("not a GUID: after every GUID")
        << false << QStringList{"zz", "00000000-0000-0000-0000-00000000000g", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"}
        << false << L{2, 0, 1};
}

void TestResultModel::guidRows()
{
    QFETCH(bool, byTypeCode);
    QFETCH(QStringList, values);
    QFETCH(bool, descending);
    QFETCH(QList<qint64>, expected);

    dv::ColumnInfo c = col("g", ValueKind::Text, byTypeCode ? QString() : QString("uniqueidentifier"));
    if (byTypeCode)
        c.sqlType = -11;
    dv::ResultSet rs({c});
    for (const QString &v : values) {
        if (v == "NULL")
            rs.addNull();
        else
            addText(rs, v);
        rs.endRow();
    }
    const std::vector<qint64> got = dv::sortedRowOrder(rs, 0, descending ? Qt::DescendingOrder : Qt::AscendingOrder,
                                                       dv::textOrderForCollation("Chinese_PRC_CI_AS"));
    QCOMPARE(QList<qint64>(got.begin(), got.end()), expected);
}

// Sorted, the grid's rows are not the held rows' positions: edits, deletes,
// inserts and a refresh must still reach the row the operator sees.
void TestResultModel::sortedWritesFindTheirRows()
{
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select id, name, note from people"});
    dv::ResultModel m(&q);
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    q.open(); // ann, bob, cy
    auto names = [&m] {
        QStringList out;
        for (int r = 0; r < m.rowCount(); ++r)
            out << m.data(m.index(r, 1)).toString();
        return out;
    };

    QVERIFY(m.sortBy(1, Qt::DescendingOrder));
    QCOMPARE(m.sortColumn(), 1);
    QCOMPARE(names(), (QStringList{"cy", "bob", "ann"}));
    QCOMPARE(m.data(m.index(0, 0)).toString(), QString("3"));

    // Row 0 of the sorted grid is id 3.
    QVERIFY(m.setData(m.index(0, 2), "changed"));
    QVERIFY(m.post());
    QCOMPARE(srv.writes.size(), 1);
    QCOMPARE(srv.writes[0].params.value(1), QVariant(qlonglong(3)));
    QCOMPARE(m.data(m.index(0, 2)).toString(), QString("changed"));
    QCOMPARE(m.data(m.index(2, 2)).toString(), QString("n1"));

    // Deleting grid row 2 deletes ann (id 1) and leaves the others in place.
    QVERIFY(m.deleteRow(2));
    QCOMPARE(srv.writes.size(), 2);
    QVERIFY(srv.writes[1].text.contains("DELETE"));
    QCOMPARE(srv.writes[1].params.value(0), QVariant(qlonglong(1)));
    QCOMPARE(names(), (QStringList{"cy", "bob"}));
    QCOMPARE(m.data(m.index(1, 0)).toString(), QString("2"));

    // A new row stays where it was typed while sorted.
    QVERIFY(m.insertRow(1));
    QVERIFY(m.setData(m.index(1, 0), "7"));
    QVERIFY(m.setData(m.index(1, 1), "dee"));
    QVERIFY(m.post());
    QCOMPARE(names(), (QStringList{"cy", "dee", "bob"}));
    // Editing the row below it still reaches bob (id 2).
    QVERIFY(m.setData(m.index(2, 2), "bob's"));
    QVERIFY(m.post());
    QCOMPARE(srv.writes.last().params.value(1), QVariant(qlonglong(2)));

    // The server's order: the rows as held, the new one last.
    QVERIFY(m.sortBy(-1));
    QCOMPARE(m.sortColumn(), -1);
    QCOMPARE(names(), (QStringList{"bob", "cy", "dee"}));

    // A refresh reads the rows again and sorts them as they were sorted.
    QVERIFY(m.sortBy(0, Qt::DescendingOrder));
    QVERIFY(m.refresh());
    QCOMPARE(m.sortColumn(), 0);
    QCOMPARE(m.sortOrder(), Qt::DescendingOrder);
    QCOMPARE(names(), (QStringList{"cy", "bob", "ann"}));
    // A new statement comes in the server's order.
    q.open();
    QCOMPARE(m.sortColumn(), -1);
    QCOMPARE(names(), (QStringList{"ann", "bob", "cy"}));
}

void TestResultModel::sortRefusedWhileEditing()
{
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select id, name, note from people"});
    dv::ResultModel m(&q);
    q.open();
    QSignalSpy failed(&m, &dv::ResultModel::failed);
    QVERIFY(m.setData(m.index(0, 1), "annie"));
    QVERIFY(!m.sortBy(1));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(m.sortColumn(), -1);
    QCOMPARE(m.data(m.index(0, 1)).toString(), QString("annie"));
    m.cancel();
    QVERIFY(m.insertRow(0));
    QVERIFY(!m.sortBy(1));
    QCOMPARE(failed.size(), 2);
}

void TestResultModel::clipboardField_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("field");

    QTest::newRow("plain") << "abc 末" << "abc 末";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("tab") << "a\tb" << "a b";
    QTest::newRow("CR LF is one break") << "a\r\nb" << "a b";
    QTest::newRow("LF LF are two") << "a\n\nb" << "a  b";
    QTest::newRow("lone CR") << "a\rb" << "a b";
    QTest::newRow("LF CR are two") << "a\n\rb" << "a  b";
    QTest::newRow("breaks at the ends") << "\r\nx\t" << " x ";
}

void TestResultModel::clipboardField()
{
    QFETCH(QString, value);
    QFETCH(QString, field);
    QString out = "pre|";
    dv::appendClipboardField(out, value);
    QCOMPARE(out, "pre|" + field);
}

void TestResultModel::clipboardCells()
{
    dv::ResultModel m(nullptr);
    m.setResultSet(people()); // 1 ann n1 / 2 bob NULL / 3 cy n3
    QCOMPARE(dv::clipboardText(m, {0, 1, 2}, {0, 1, 2}, false), QString("1\tann\tn1\r\n2\tbob\t\r\n3\tcy\tn3"));
    QCOMPARE(dv::clipboardText(m, {1}, {2, 0}, true), QString("note\tid\r\n\t2"));
    QCOMPARE(dv::clipboardText(m, {}, {1}, true), QString("name"));
    // A ragged selection keeps every field in its column.
    const auto diagonal = [](int r, int c) { return r == c; };
    QCOMPARE(dv::clipboardText(m, {0, 1, 2}, {0, 1, 2}, false, diagonal), QString("1\t\t\r\n\tbob\t\r\n\t\tn3"));
    // Long values are copied whole, not as the grid shows them.
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{col("t", ValueKind::Text)});
    const QString longText = QString(300, u'x') + "\nend";
    addText(*rs, longText);
    rs->endRow();
    m.setResultSet(rs);
    QCOMPARE(dv::clipboardText(m, {0}, {0}, false), QString(300, u'x') + " end");
}

// Copying reads the held values without a QVariant per cell; what it gives
// must be cellText() (the value as the grid shows it) for every kind, sorted,
// with an edit pending and with a new row typed into.
void TestResultModel::copiedTextIsCellText()
{
    auto rs = std::make_shared<dv::ResultSet>(QVector<dv::ColumnInfo>{
        col("id", ValueKind::Integer, "int"), col("b", ValueKind::Boolean, "bit"), col("f", ValueKind::Double, "float"),
        col("m", ValueKind::Decimal, "money"), col("s", ValueKind::Text, "nvarchar"),
        col("x", ValueKind::Binary, "varbinary"), col("d", ValueKind::Date, "date"), col("t", ValueKind::Time, "time"),
        col("dt", ValueKind::DateTime, "datetime")});
    auto row = [&](qint64 id, bool nulls, int y, int ms, const QString &s, const QByteArray &x, double f, const QString &m) {
        rs->addInteger(id);
        if (nulls) {
            rs->endRow(); // the rest NULL
            return;
        }
        rs->addInteger(id & 1);
        rs->addDouble(f);
        addText(*rs, m);
        addText(*rs, s);
        rs->addBytes(x.constData(), x.size());
        rs->addDate(y, 12, 31);
        rs->addTime(23, 59, 59, ms);
        rs->addDateTime(y, 1, 1, 0, 0, 0, ms);
        rs->endRow();
    };
    row(std::numeric_limits<qint64>::min(), false, 1, 0, "tab\there", QByteArray("\x00\xff", 2), -1.5e300, "-922337203685477.5808");
    row(2, true, 0, 0, {}, {}, 0, {});
    row(std::numeric_limits<qint64>::max(), false, 9999, 997, "line\r\nbreak\n", {}, 0.1, "922337203685477.5807");
    row(-7, false, 2000, 3, "数据库  ", QByteArray(3, '\x10'), 1e-7, "0.0000");

    auto compareAll = [](const dv::ResultModel &m, const char *when) {
        std::vector<int> rows, cols;
        QString joined, buffer;
        for (int r = 0; r < m.rowCount(); ++r) {
            rows.push_back(r);
            if (r > 0)
                joined += "\r\n";
            for (int c = 0; c < m.columnCount(); ++c) {
                const QString expected = m.cellText(r, c);
                QCOMPARE(m.cellTextView(r, c, buffer).toString(), expected);
                if (c > 0)
                    joined += u'\t';
                dv::appendClipboardField(joined, expected);
            }
        }
        for (int c = 0; c < m.columnCount(); ++c)
            cols.push_back(c);
        QVERIFY2(dv::clipboardText(m, rows, cols, false) == joined, when);
    };
    dv::ResultModel m(nullptr);
    m.setResultSet(rs);
    compareAll(m, "as fetched");
    // The references themselves: what the grid shows for each kind.
    QCOMPARE(dv::clipboardText(m, {0, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8}, false),
             QString("-9223372036854775808\t0\t-1.5e+300\t-922337203685477.5808\ttab here\t0x00FF\t0001-12-31\t23:59:59"
                     "\t0001-01-01 00:00:00\r\n2\t\t\t\t\t\t\t\t"));
    QCOMPARE(dv::clipboardText(m, {2, 3}, {0, 1, 2, 6, 7, 8}, false),
             QString("9223372036854775807\t1\t0.1\t9999-12-31\t23:59:59.997\t9999-01-01 00:00:00.997\r\n"
                     "-7\t1\t1e-07\t2000-12-31\t23:59:59.003\t2000-01-01 00:00:00.003"));
    for (int c = 0; c < m.columnCount(); ++c) {
        QVERIFY(m.sortBy(c, Qt::DescendingOrder));
        compareAll(m, "sorted");
    }
    // An edit pending on a sorted writable result, then a new row typed into.
    Server srv;
    dv::Query q("AdoQExec", &srv.conn);
    q.setLines({"select id, name, note from people"});
    dv::ResultModel w(&q);
    q.open(); // ann, bob, cy
    QVERIFY(w.sortBy(1, Qt::DescendingOrder));
    QVERIFY(w.setData(w.index(1, 2), "typed\tin"));
    QCOMPARE(w.state(), dv::ResultModel::State::Edit);
    compareAll(w, "editing");
    QString buffer;
    QCOMPARE(w.cellTextView(1, 2, buffer).toString(), QString("typed\tin"));
    QCOMPARE(w.cellTextView(1, 1, buffer).toString(), QString("bob"));
    w.cancel();
    QVERIFY(w.insertRow(2));
    QVERIFY(w.setData(w.index(2, 0), "5"));
    compareAll(w, "inserting");
    QCOMPARE(w.cellTextView(2, 0, buffer).toString(), QString("5"));
    QVERIFY(w.cellTextView(2, 1, buffer).isEmpty());
    QCOMPARE(w.cellTextView(3, 1, buffer).toString(), QString("ann"));
}

QTEST_MAIN(TestResultModel)
#include "tst_resultmodel.moc"
