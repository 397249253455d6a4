// The seven maintenance operations: their fixed texts and the SQL lines each
// composes from its page's fields. Plain functions, no widgets.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace dv {

struct MaintenanceOperation {
    const char *title;          // log title, ends with CR LF
    const char *successMessage; // "操作编号:11xx\r\n\r\n..."
    const char *failureMessage; // "错误编号:1001\r\n\r\n..."
    bool refresh;               // refresh the database pickers after success
};

// The catalogue query that fills the database pickers.
inline constexpr const char *kCatalogueQuery = "select name from master..sysdatabases order by name";

// A maintenance batch: "use master", then the operation's own lines.
QStringList maintenanceBatch(const QStringList &lines);

namespace ops {
extern const MaintenanceOperation Create, Backup, Restore, Detach, Attach, Drop, Shrink;
}

// The maximum-size option of a create statement's file clause. CREATE DATABASE
// knows only MAXSIZE; a bare "max" is a syntax error on every server, so a
// create with a maximum would always fail.
inline constexpr const char *kCreateMaxSizeKeyword = "maxsize = ";

struct CreateDatabaseFields {
    QString db, mFile, mSize, mGrowth, mMax, lFile, lSize, lGrowth, lMax;
};
// Empty list when a required field is empty.
QStringList createDatabaseLines(const CreateDatabaseFields &f);
// Names and paths the operator typed go into string literals as N'...', so
// that characters outside the server's code page arrive intact.
QStringList backupLines(const QString &db, const QString &path);
// `fileNumber` > 0 restores that backup set of the file ("FILE = n").
QStringList restoreLines(const QString &db, const QString &path, int fileNumber = 0);
QStringList detachLines(const QString &db);
QStringList attachLines(const QString &db, const QString &dataPath, const QString &logPath);
QStringList dropLines(const QString &db);
QStringList shrinkLines(const QString &db);

// The statement that lists the backup sets of a backup file.
QString restoreHeaderQuery(const QString &path);

// One backup set of a file as RESTORE HEADERONLY lists it.
struct BackupSetInfo {
    int position = 0;
    QString databaseName;
};
// The set to restore database `db` from: the newest set of that database when
// the file holds more than one set; 0 (restore as asked, set 1) when the file
// holds one set or none of `db`. `db` may be written in brackets.
int newestBackupSetOf(const QString &db, const QList<BackupSetInfo> &sets);

// Proposed backup file name: ASCII letters of `db` upper-cased, then the local
// time as "yymmddhhmmss", then ".BAK".
QString proposedBackupFileName(const QString &db, const QDateTime &now);

} // namespace dv
