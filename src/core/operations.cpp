#include "operations.h"

namespace dv {

QStringList maintenanceBatch(const QStringList &lines)
{
    QStringList batch;
    batch.reserve(lines.size() + 1);
    batch << QStringLiteral("use master") << lines;
    return batch;
}

namespace ops {
const MaintenanceOperation Create{"创建数据库\r\n", "操作编号:1105\r\n\r\n创建成功,可进行其它操作",
                                  "错误编号:1001\r\n\r\n创建失败,请检查网络情况", true};
const MaintenanceOperation Backup{"备份数据库\r\n", "操作编号:1100\r\n\r\n备份成功,可进行其它操作",
                                  "错误编号:1001\r\n\r\n备份失败,请检查网络情况", false};
const MaintenanceOperation Restore{"还原数据库\r\n", "操作编号:1101\r\n\r\n还原成功,可进行其它操作",
                                   "错误编号:1001\r\n\r\n还原失败,请检查网络情况", true};
const MaintenanceOperation Detach{"分离数据库\r\n", "操作编号:1102\r\n\r\n分离成功,可进行其它操作",
                                  "错误编号:1001\r\n\r\n分离失败,请检查网络情况", true};
const MaintenanceOperation Attach{"附加数据库\r\n", "操作编号:1103\r\n\r\n附加成功,可进行其它操作",
                                  "错误编号:1001\r\n\r\n附加失败,请检查网络情况", true};
const MaintenanceOperation Drop{"删除数据库\r\n", "操作编号:1104\r\n\r\n删除成功,可进行其它操作",
                                "错误编号:1001\r\n\r\n删除失败,请检查网络情况", true};
// Shrink's success code is 1110, not 1106.
const MaintenanceOperation Shrink{"压缩数据库\r\n", "操作编号:1110\r\n\r\n压缩成功,可进行其它操作",
                                  "错误编号:1001\r\n\r\n压缩失败,请检查网络情况", true};
} // namespace ops

namespace {
// The backup device that each backup re-creates for its file.
const QString kDropDumpDevice =
    QStringLiteral("if exists(select 1 from sysdevices where name='DUMPX') exec sp_dropdevice 'DUMPX'");
} // namespace

QStringList createDatabaseLines(const CreateDatabaseFields &f)
{
    for (const QString *required : {&f.db, &f.mFile, &f.mSize, &f.mGrowth, &f.lFile, &f.lSize, &f.lGrowth})
        if (required->isEmpty())
            return {};

    const QString maxKeyword = QString::fromUtf8(kCreateMaxSizeKeyword);
    QStringList lines;
    lines << QStringLiteral("create database ") + f.db
          << QStringLiteral("on")
          << QStringLiteral("( name = ") + f.db + QStringLiteral("_dat,")
          << QStringLiteral("filename=N'") + f.mFile + QStringLiteral("',")
          << QStringLiteral("size=") + f.mSize + QStringLiteral(",");
    if (!f.mMax.isEmpty())
        lines << maxKeyword + f.mMax + QStringLiteral(",");
    lines << QStringLiteral("filegrowth=") + f.mGrowth + QStringLiteral(")")
          << QStringLiteral("log on")
          << QStringLiteral("( name = ") + f.db + QStringLiteral("_log,")
          << QStringLiteral("filename=N'") + f.lFile + QStringLiteral("',")
          << QStringLiteral("size=") + f.lSize + QStringLiteral(",");
    if (!f.lMax.isEmpty())
        lines << maxKeyword + f.lMax + QStringLiteral(",");
    lines << QStringLiteral("filegrowth=") + f.lGrowth + QStringLiteral(")");
    return lines;
}

QStringList backupLines(const QString &db, const QString &path)
{
    return {kDropDumpDevice,
            QStringLiteral("EXEC sp_addumpdevice 'disk', 'DUMPX', N'") + path + QStringLiteral("'"),
            QStringLiteral("BACKUP DATABASE ") + db + QStringLiteral(" TO DUMPX")};
}

QStringList restoreLines(const QString &db, const QString &path, int fileNumber)
{
    QString restore = QStringLiteral("restore database ") + db + QStringLiteral(" from disk=N'") + path +
                      QStringLiteral("' with replace");
    if (fileNumber > 0)
        restore += QStringLiteral(", FILE = ") + QString::number(fileNumber);
    return {kDropDumpDevice, restore};
}

QString restoreHeaderQuery(const QString &path)
{
    return QStringLiteral("RESTORE HEADERONLY FROM DISK = N'") + path + QStringLiteral("'");
}

int newestBackupSetOf(const QString &db, const QList<BackupSetInfo> &sets)
{
    if (sets.size() < 2)
        return 0;
    QString name = db;
    if (name.size() >= 2 && name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("]]"), QStringLiteral("]"));
    int newest = 0;
    for (const BackupSetInfo &s : sets)
        if (s.databaseName.compare(name, Qt::CaseInsensitive) == 0 && s.position > newest)
            newest = s.position;
    return newest;
}

QStringList detachLines(const QString &db)
{
    return {QStringLiteral("EXEC sp_detach_db N'") + db + QStringLiteral("'")};
}

QStringList attachLines(const QString &db, const QString &dataPath, const QString &logPath)
{
    return {QStringLiteral("EXEC sp_attach_db N'") + db + QStringLiteral("',N'") + dataPath + QStringLiteral("',N'") +
            logPath + QStringLiteral("'")};
}

QStringList dropLines(const QString &db)
{
    return {QStringLiteral("drop database ") + db};
}

QStringList shrinkLines(const QString &db)
{
    return {QStringLiteral("dump transaction ") + db + QStringLiteral(" with no_log"),
            QStringLiteral("backup log ") + db + QStringLiteral(" with no_log"),
            QStringLiteral("dbcc shrinkdatabase (") + db + QStringLiteral(")")};
}

QString proposedBackupFileName(const QString &db, const QDateTime &now)
{
    QString name = db;
    for (QChar &c : name)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return name + now.toString(QStringLiteral("yyMMddhhmmss")) + QStringLiteral(".BAK");
}

} // namespace dv
