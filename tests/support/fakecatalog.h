// Answers the console's catalogue look-ups (object, columns, unique keys,
// triggers) for one table, for tests over the in-process fake connection.
#pragma once

#include "client/dbclient.h"

#include <QStringList>

#include <optional>

namespace dvtest {

struct FakeTable {
    QString database = QStringLiteral("shop");
    QString schema = QStringLiteral("dbo");
    QString name;
    QString type = QStringLiteral("U");
    // name, system type, max_length in bytes (-1 = max)
    struct Column {
        QString name, type;
        int maxLength = 4;
    };
    QList<Column> columns;
    QStringList primaryKey;
    bool hasTriggers = false;
};

// The answer when `st` is one of the look-ups (the object resolves when the
// statement names the table as "[name]" or "[schema].[name]"), nullopt for
// every other statement.
std::optional<dv::RunResult> answerCatalog(const dv::Statement &st, const FakeTable &table);

// Whether `text` is one of the grid's write batches.
bool isWriteBatch(const QString &text);

// What the write batch `st` answers for `count` rows written (all results
// kept): the count as "dv_n" where the batch reports one, else that many
// OUTPUT rows (of one column, so the tool keeps its own row).
dv::RunResult writeAnswer(const dv::Statement &st, qint64 count);

} // namespace dvtest
