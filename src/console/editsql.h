// Plain functions behind the console's write-back: finding the one base table
// a result was read from, and building the parameterised statements that
// apply an edited, new or deleted row to it. No widgets, no connection.
#pragma once

#include "client/dbclient.h"
#include "client/resultset.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

namespace dv {

// The table a result's rows came from and, per result column, the column of
// that table it shows. Filled by analyzeSelect(); `ok` false with `reason`
// when the rows cannot be traced back to single rows of one table.
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

// Everything needed to write rows back to the base table of a result.
struct WriteTarget {
    QString table;              // qualified, quoted
    QStringList columns;        // base column per result column (unquoted)
    QVector<ColumnInfo> info;   // the result's column descriptions
    QVector<int> keyColumns;    // result columns forming the key; empty = none
    int identityColumn = -1;    // result column filled by the server, -1 = none
};

// Row values are given per result column; a null QVariant stands for NULL.
// Values travel only as parameters; a NULL is written as the NULL keyword so
// that no untyped parameter is ever bound.
Statement buildUpdate(const WriteTarget &t, const QVector<QVariant> &original,
                      const QMap<int, QVariant> &changes);
Statement buildDelete(const WriteTarget &t, const QVector<QVariant> &original);
// Wraps a keyless update or delete in a transaction that is rolled back
// unless exactly one row was touched, so that a row duplicated since the
// count is never changed with its twin.
Statement guardSingleRow(Statement st);
// SELECT COUNT(*) of the rows the WHERE of update/delete would touch.
Statement buildCount(const WriteTarget &t, const QVector<QVariant> &original);
// INSERT of the columns the operator set (the identity column is skipped),
// followed by "SELECT SCOPE_IDENTITY()" when the result shows an identity.
Statement buildInsert(const WriteTarget &t, const QMap<int, QVariant> &values);
// SELECT of the result's columns for the row with the given key values.
Statement buildReread(const WriteTarget &t, const QVector<QVariant> &keyValues);

// A value converted to the form the client binds (texts for exact decimals
// and times, the variant itself otherwise).
QVariant parameterValue(const QVariant &v, ValueKind kind);

// Whether a column can take part in the optimistic "all values equal" check
// (text, ntext, image and xml cannot be compared with "=").
bool comparableColumn(const ColumnInfo &c);

} // namespace dv
