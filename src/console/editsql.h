// Plain functions behind the console's write-back: finding the one base table
// a result was read from, the catalogue look-ups that pin it down on the
// server, and the batches that apply an edited, new or deleted row to it and
// read the row back. No widgets, no connection.
#pragma once

#include "client/dbclient.h"
#include "client/resultset.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

namespace dv {

// The table a result's rows came from, as the statement wrote it, and per
// result column the column of that table it shows. Filled by analyzeSelect();
// `ok` false with `reason` when the rows cannot be tied to single rows of one
// table with certainty.
struct SelectSource {
    bool ok = false;
    QString reason;
    QString database; // as written, without brackets; empty when not given
    QString schema;
    QString table;
    QStringList baseColumns; // one per result column
};

// Finds the one statement of `sql` that returns rows and parses it in the
// simple form "select [top n] cols from [db.][schema.]table [alias] [where
// ...] [order by ...]" with plain column references or "*", mapping
// `resultColumns` onto the table's columns. Refuses batches where the rows
// could come from more than one statement (control flow, several row
// results, procedure calls, OUTPUT clauses) and reads that are not of one
// table (joins, expressions, CTEs, table variables, derived tables ...).
SelectSource analyzeSelect(const QString &sql, const QStringList &resultColumns);

// True when the batch has a part that changes data or objects (insert,
// update, delete, exec, select into, DDL ...): running it again would repeat
// that change.
bool batchChangesData(const QString &sql);

// "[name]" with "]" doubled.
QString quoteName(const QString &name);
// "[db].[schema].[table]", "[db]..[table]", "[schema].[table]" or "[table]".
QString qualifiedName(const QString &database, const QString &schema, const QString &table);

// ---- the table on the server ----

// One column as the server's catalogue describes it.
struct TableColumn {
    QString name;
    QString type; // system type name: "int", "nvarchar", "timestamp" ...
    int maxLength = 0; // bytes, -1 for (max)
    int precision = 0;
    int scale = 0;
    bool identity = false;
    bool computed = false;
};

// What the catalogue says about the object the statement's name resolves to.
struct TableCatalog {
    QString database; // the database that holds it
    QString schema;
    QString name;
    QString type; // sys.objects type: "U" user table, "V" view ...
    qint64 objectId = 0;
    QVector<TableColumn> columns;
    QVector<QStringList> uniqueKeys; // column names; the primary key first when there is one
    bool hasTriggers = false;
};

// The catalogue look-ups, run one after another on the operator's
// connection: the object the name resolves to for this login (its default
// schema first, as the server resolved the SELECT), then its columns, unique
// indexes and enabled triggers.
Statement buildObjectLookup(const SelectSource &src);
Statement buildColumnLookup(const QString &database, qint64 objectId);
Statement buildKeyLookup(const QString &database, qint64 objectId);
Statement buildTriggerLookup(const QString &database, qint64 objectId);

// The declaration a value of the column is cast to for an exact comparison
// ("nvarchar(20)", "decimal(10,2)", "datetime2(7)", "binary(8)" for a
// rowversion); empty when the type cannot be compared with "=" (text, ntext,
// image, xml, sql_variant, spatial types).
QString comparisonType(const TableColumn &c);

// Everything needed to write rows back to the base table of a result.
struct WriteTarget {
    QString table;              // qualified, quoted
    QStringList columns;        // base column per result column (unquoted)
    QVector<ColumnInfo> info;   // the result's column descriptions
    QStringList compareTypes;   // per result column, see comparisonType(); empty: not compared
    QVector<bool> generated;    // per result column: filled by the server (identity, computed, rowversion)
    QVector<int> keyColumns;    // result columns forming a unique key; empty = none shown
    int identityColumn = -1;    // result column filled by an identity, -1 = none
    int rowVersionColumn = -1;  // result column holding the table's rowversion, -1 = none
    bool hasTriggers = false;   // OUTPUT without INTO is refused on such tables
};

// Ties the result's columns to the table; nullopt with `error` set when the
// result cannot be written to it (a view, a column the table lacks, no way
// to tell one row from another).
std::optional<WriteTarget> makeWriteTarget(const SelectSource &src, const TableCatalog &cat,
                                           const QVector<ColumnInfo> &resultColumns, QString *error);

// ---- writes ----
//
// Every write is one batch judged by the statement's own row count, and it
// reads the written row back. On a table without triggers the statement's
// OUTPUT rows are that count (the tool counts them; @@ROWCOUNT, which one
// SQL Server-compatible server leaves at 0 after OUTPUT, never enters) and
// the row as stored. A table with triggers refuses a bare OUTPUT: there the
// count is @@ROWCOUNT taken right after the statement (triggers' counts
// never enter), reported as the one-row result "dv_n", and the row is read
// back by its key (a key the server makes up is captured with OUTPUT … INTO
// a table variable, whose rows count where @@ROWCOUNT says 0). A write
// without a key runs under a savepoint that is rolled back unless exactly
// one row was touched (its OUTPUT rows kept in a table variable and counted
// there, the count reported as "dv_n"); a transaction the operator opened is
// never ended. No connection setting is changed. Row values are given per
// result column; a null QVariant stands for NULL. Values travel only as
// parameters.

// UPDATE of the changed columns of the row whose values were `original`.
// The row is found by its key plus the original values of the comparable
// columns, or by key and rowversion where the result shows one: a row that
// another session changed or deleted meanwhile matches nothing.
Statement buildUpdate(const WriteTarget &t, const QVector<QVariant> &original, const QMap<int, QVariant> &changes);
Statement buildDelete(const WriteTarget &t, const QVector<QVariant> &original);
// INSERT of the columns the operator set (columns the server fills are skipped).
Statement buildInsert(const WriteTarget &t, const QMap<int, QVariant> &values);
// SELECT of the result's columns for the row with the key of `original`.
Statement buildRowReread(const WriteTarget &t, const QVector<QVariant> &original);
// After a failed keyless write: ends the transaction level the write opened,
// if an error stopped its batch half-way. `trancount` is @@TRANCOUNT before it.
Statement buildWriteCleanup(int trancount);
// Whether a write needs the savepoint guard (and so the @@TRANCOUNT before it).
bool writeNeedsGuard(const WriteTarget &t);

// What a write batch reported: the count from "dv_n" where there is one,
// else the number of rows of the first result (the OUTPUT rows).
struct WriteOutcome {
    qint64 count = -1;                      // the statement's own row count; -1 when not reported
    std::optional<QVector<QVariant>> row;   // the row as stored, when it was read back
    bool rowMissing = false;                // read back by key after the write, and not there
};
WriteOutcome readWriteOutcome(const QVector<std::shared_ptr<ResultSet>> &results, int columnCount);

// The value of a multi-line editor's text. The editor holds every line
// break ("\r\n", "\n", "\r", U+2029) as U+2029 in `raw`
// (QTextDocument::toRawText); this puts back the original's breaks one for
// one while the edit kept their number, else the original's one kind of
// break ("\r\n" when it had none or several kinds).
QString editorText(const QString &original, const QString &raw);

// A value converted to the form the client binds (texts for exact decimals
// and times, the variant itself otherwise).
QVariant parameterValue(const QVariant &v, ValueKind kind);

// Whether a column can take part in the optimistic check when nothing but
// the result is known (text, ntext, image and xml cannot be compared with "=").
bool comparableColumn(const ColumnInfo &c);

} // namespace dv
