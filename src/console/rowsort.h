// Ordering the rows of a console result by one column, in the client, as the
// server would order them: NULL first, numbers, dates and times as values,
// decimals exactly, bytes by their values, text by the rules of the server's
// collation as far as the client can follow them.
#pragma once

#include "client/resultset.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringView>

#include <vector>

namespace dv {

// How text compares under a SQL Server collation.
struct TextOrder {
    bool binary = false;                          // _BIN / _BIN2: by code point
    Qt::CaseSensitivity caseSensitivity = Qt::CaseInsensitive;
    QLocale locale = QLocale::c();                // the language the collation sorts for
};

// The text order of a collation named as SERVERPROPERTY('Collation') names it
// ("Chinese_PRC_CI_AS", "SQL_Latin1_General_CP1_CS_AS", "Latin1_General_BIN2").
// An empty or unknown name gives a case-insensitive order, as SQL Server's
// default collations are.
TextOrder textOrderForCollation(const QString &collation);

// A key for a decimal text ("-12.50", "3", ".5": what the result holds for
// decimal and money columns) whose order as text is the values' order, and
// <0, 0, >0 as the exact values of two such texts compare.
QString decimalSortKey(QStringView text);
int compareDecimalText(QStringView a, QStringView b);

// Why the grid does not order rows by a column the server cannot order by
// (xml, geography, geometry) or may not (a CLR type other than hierarchyid,
// or one whose name is not known), for the operator; empty for any other
// column.
// Such a column keeps the current order rather than showing one no ORDER BY
// would give.
QString unsortableReason(const ColumnInfo &c);
// Why typing into a cell of the column is refused, empty when it is not:
// sql_variant (typed text would change the value's base type) and the CLR
// types hierarchyid, geography and geometry (the grid shows no text the
// server reads back as the same value).
QString untypableReason(const ColumnInfo &c);

// A key whose byte order is SQL Server's order of uniqueidentifiers (the
// last six bytes count first, then bytes 8-9, 6-7, 4-5 and 0-3 as stored),
// for a GUID's text with or without braces; empty for any other text.
QByteArray guidSortKey(QStringView text);

// The result's rows (their positions in `rows`) ordered by `column`: a
// stable sort, so equal values keep the order the server sent them in, in
// both directions. NULL sorts before every value, as on the server.
std::vector<qint64> sortedRowOrder(const ResultSet &rows, int column, Qt::SortOrder order, const TextOrder &text);

} // namespace dv
