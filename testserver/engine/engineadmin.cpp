// Administration statements and system procedures: databases, files,
// backup devices, backup/restore, detach/attach and shrink.
#include "engine/enginesession.h"

#include "engine/backup.h"
#include "base/collation.h"
#include "engine/enginefunctions.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace ts {

namespace {

std::string mbPerSec(long long bytes, double secs)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", secs > 0 ? double(bytes) / 1048576.0 / secs : 0.0);
    return buf;
}

std::string seconds(double secs)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", secs);
    return buf;
}

void removeDatabaseFiles(const DbInfo &info)
{
    for (const auto &f : info.files) {
        ::unlink(f.physical.c_str());
        if (f.type == 0) {
            ::unlink((f.physical + "-wal").c_str());
            ::unlink((f.physical + "-shm").c_str());
        }
    }
}

bool isSystemDb(const std::string &name)
{
    return iequals(name, "master") || iequals(name, "model") || iequals(name, "msdb") || iequals(name, "tempdb");
}

// Folds the WAL into the data file so that the file alone holds the database.
bool checkpointFile(const std::string &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 30000);
    bool ok = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}

} // namespace

SessionImpl::Flow SessionImpl::runUse(const Stmt &s, Run &r)
{
    std::string oldDb, newDb, error;
    {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        auto info = m_engine->catalog.find(s.name);
        if (!info || !m_engine->materialise(*info, &error)) {
            m_error = 911;
            r.anyError = true;
            Message m;
            m.number = 911;
            m.severity = 16;
            m.text = "Database '" + s.name + "' does not exist. Make sure that the name is entered correctly.";
            m.line = s.line;
            r.sink.message(m);
            done(r, true, false, 0);
            return Flow::Next;
        }
        oldDb = dbName;
        if (!iequals(info->name, dbName)) {
            if (m_txnOpen) execSimple("ROLLBACK");
            m_trancount = 0;
            m_txnOpen = false;
            m_tranName.clear();
            m_savepoints.clear();
            if (!open(*info, &error)) {
                message(r, 946, 14, "Cannot open database '" + info->name + "' version 0. Upgrade the database to the latest version.", s.line);
                done(r, true, false, 0);
                return Flow::Next;
            }
        }
        newDb = dbName;
    }
    r.sink.databaseChanged(oldDb, newDb);
    message(r, 5701, 0, "Changed database context to '" + newDb + "'.", s.line, 1);
    done(r, false, false, 0);
    return Flow::Next;
}

namespace {

using Messages = std::vector<std::pair<int, std::string>>;

const char *const createFailed = "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.";

// The files CREATE DATABASE names, with the defaults of those it leaves out:
// one data and one log file in the data folder, named after the database.
std::vector<DbFile> plannedFiles(const Stmt &s, const std::string &dir)
{
    auto toFile = [](const Stmt::FileSpec &f, int type, const std::string &defLogical) {
        DbFile df;
        df.type = type;
        df.logical = f.logical.empty() ? defLogical : f.logical;
        df.physical = f.physical;
        df.sizeKb = f.sizeKb < 0 ? 8192 : f.sizeKb;
        df.maxKb = f.maxKb == -2 ? -1 : f.maxKb;
        df.percentGrowth = f.percent;
        df.growth = f.growth < 0 ? 65536 : f.growth;
        return df;
    };
    std::vector<DbFile> files;
    if (s.dataFiles.empty()) files.push_back(toFile({"", dir + "/" + s.name + ".mdf"}, 0, s.name));
    for (size_t k = 0; k < s.dataFiles.size(); ++k)
        files.push_back(toFile(s.dataFiles[k], 0, k == 0 ? s.name : s.name + "_" + std::to_string(k)));
    if (s.logFiles.empty()) files.push_back(toFile({"", dir + "/" + s.name + "_log.ldf"}, 1, s.name + "_log"));
    for (const auto &f : s.logFiles) files.push_back(toFile(f, 1, s.name + "_log"));
    return files;
}

// Logical names unique, physical names unique and absolute.
Messages fileNameErrors(const std::vector<DbFile> &files)
{
    for (size_t a = 0; a < files.size(); ++a)
        for (size_t b = a + 1; b < files.size(); ++b) {
            if (iequals(files[a].logical, files[b].logical))
                return {{1828, "The logical file name \"" + files[b].logical + "\" is already in use. Choose a different name."}};
            if (files[a].physical == files[b].physical)
                return {{1726, "File '" + files[b].physical + "' is already in use by this database."}, {1802, createFailed}};
        }
    // SQL Server opens database files by full path only.
    for (const auto &f : files)
        if (f.physical.empty() || f.physical[0] != '/')
            return {{5105, "A file activation error occurred. The physical file name '" + f.physical
                               + "' may be incorrect. Diagnose and correct additional errors, and retry the operation."},
                    {1802, createFailed}};
    return {};
}

// SIZE at least 512 KB and not above MAXSIZE; with explicit files the primary
// file holds at least a copy of model (`modelKb`), as a new database starts as one.
Messages fileSizeErrors(const DbInfo &info, bool explicitFiles, int64_t modelKb)
{
    for (const auto &f : info.files) {
        if (f.sizeKb < 512) return {{5174, "Each file size must be greater than or equal to 512 KB."}, {1802, createFailed}};
        if (f.maxKb >= 0 && f.maxKb < f.sizeKb) return {{5103, "MAXSIZE cannot be less than SIZE for file '" + f.logical + "'."}};
    }
    if (explicitFiles && info.dataFile()->sizeKb < modelKb)
        return {{1803, "CREATE DATABASE failed. Primary file must be at least " + std::to_string((modelKb + 1023) / 1024)
                           + " MB to accommodate a copy of the model database."}};
    return {};
}

// Each file goes into an existing, writable folder and replaces nothing.
Messages fileCreationErrors(const std::vector<DbFile> &files)
{
    for (const auto &f : files) {
        if (!dirExists(parentDir(f.physical)))
            return {{5133, "Directory lookup for the file \"" + f.physical + "\" failed with the operating system error "
                               + osErrorText(ENOENT, true) + "."},
                    {1802, createFailed}};
        if (fileExists(f.physical) || dirExists(f.physical))
            return {{5170, "Cannot create file '" + f.physical + "' because it already exists. Change the file path or the file name, and retry the operation."},
                    {1802, createFailed}};
        if (::access(parentDir(f.physical).c_str(), W_OK) != 0)
            return {{5123, "CREATE FILE encountered operating system error " + osErrorText(EACCES, false)
                               + " while attempting to open or create the physical file '" + f.physical + "'."},
                    {1802, createFailed}};
    }
    return {};
}

// A log file: a marker line, sized as declared.
bool writeLogFile(const DbFile &f)
{
    FILE *fp = std::fopen(f.physical.c_str(), "wb");
    if (!fp) return false;
    std::fputs("DORVANE-LOG 1\n", fp);
    std::fclose(fp);
    std::error_code ec;
    std::filesystem::resize_file(f.physical, std::uintmax_t(f.sizeKb) * 1024, ec);
    return true;
}

} // namespace

// The data file with the server's own tables, then every log file; on failure
// nothing of the new database stays on disk.
bool SessionImpl::writeDatabaseFiles(const DbInfo &info, std::string *error)
{
    const DbFile *data = info.dataFile();
    bool ok = m_engine->initDatabaseFile(data->physical, data->logical, info.logFile()->logical, error);
    for (const auto &f : info.files) {
        if (!ok) break;
        if (f.type == 1) ok = writeLogFile(f);
    }
    if (!ok) removeDatabaseFiles(info);
    return ok;
}

SessionImpl::Flow SessionImpl::runCreateDatabase(const Stmt &s, Run &r)
{
    auto fail = [&](const Messages &msgs) {
        for (const auto &[n, t] : msgs) message(r, n, 16, t, s.line);
        done(r, true, false, 0);
        return Flow::Next;
    };
    if (m_trancount > 0)
        return fail({{226, "CREATE DATABASE statement not allowed within multi-statement transaction."}});
    std::lock_guard<std::mutex> lock(m_engine->mu);
    Catalog &cat = m_engine->catalog;
    if (cat.find(s.name))
        return fail({{1801, "Database '" + s.name + "' already exists. Choose a different database name."}});
    // SQL Server's limit on databases per instance.
    if (cat.count() >= 32767)
        return fail({{1807, "Could not create database '" + s.name + "'. The maximum number of databases (32767) has been reached."}});
    DbInfo info;
    info.name = s.name;
    info.files = plannedFiles(s, m_engine->opts.dataDir);
    const bool explicitFiles = !s.dataFiles.empty() || !s.logFiles.empty();
    int64_t modelKb = 8192;
    if (auto model = cat.find("model"); model && model->dataFile()) modelKb = model->dataFile()->sizeKb;
    Messages errors = fileNameErrors(info.files);
    if (errors.empty()) errors = fileSizeErrors(info, explicitFiles, modelKb);
    if (errors.empty()) errors = fileCreationErrors(info.files);
    if (!errors.empty()) return fail(errors);
    std::string error;
    // Without file options the files appear on first use, so that many
    // databases can be registered quickly.
    info.pending = !explicitFiles;
    if (!info.pending && !writeDatabaseFiles(info, &error))
        return fail({{5123, "CREATE FILE encountered operating system error " + osErrorText(EACCES, false)
                                + " while attempting to open or create the physical file '" + info.dataFile()->physical + "'."},
                     {1802, createFailed}});
    if (!cat.add(info, &error)) {
        if (!info.pending) removeDatabaseFiles(info);
        return fail({{1802, createFailed}});
    }
    done(r, false, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runDropDatabase(const Stmt &s, Run &r)
{
    std::vector<std::string> names{s.name};
    for (const auto &a : s.args) names.push_back(a.paramName);
    bool anyError = false;
    if (m_trancount > 0) {
        message(r, 226, 16, "DROP DATABASE statement not allowed within multi-statement transaction.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    for (const auto &n : names) {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        auto info = m_engine->catalog.find(n);
        if (!info) {
            message(r, 3701, 11, "Cannot drop the database '" + n + "', because it does not exist or you do not have permission.", s.line);
            anyError = true;
            continue;
        }
        if (isSystemDb(info->name)) {
            message(r, 3708, 16, "Cannot drop the database '" + info->name + "' because it is a system database.", s.line);
            anyError = true;
            continue;
        }
        // The dropping session's own current database counts as in use too.
        if (m_engine->inUse(info->name, this) || iequals(dbName, info->name)) {
            message(r, 3702, 16, "Cannot drop database \"" + info->name + "\" because it is currently in use.", s.line);
            anyError = true;
            continue;
        }
        m_engine->catalog.remove(info->name);
        if (!info->pending) removeDatabaseFiles(*info);
    }
    done(r, anyError, false, 0);
    return Flow::Next;
}

// A backup path as the server resolves it: a relative one lands in the
// server's default backup folder.
static std::string backupPath(const Engine::Impl *engine, const std::string &path)
{
    if (path.empty() || path[0] == '/') return path;
    return engine->backupDir() + "/" + path;
}

namespace {

std::string noDeviceText(const std::string &name)
{
    return "Backup device '" + name + "' does not exist. To view existing backup devices, use the "
           "sys.backup_devices catalog view. To create a new backup device use either sp_addumpdevice "
           "or SQL Server Management Studio.";
}

std::string cannotOpenText(const std::string &path, int err, bool dirMissing)
{
    return "Cannot open backup device '" + path + "'. Operating system error " + osErrorText(err, dirMissing) + ".";
}

std::string badMediaText(const std::string &path)
{
    return "The media family on device '" + path + "' is incorrectly formed. SQL Server cannot process this media family.";
}

// A consistent copy of the live database, taken through SQLite.
bool copyDatabaseImage(const std::string &dataFile, const std::string &image)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(dataFile.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK;
    static const std::string noDb;
    if (ok) {
        registerFunctions(db, &noDb); // CHECK constraints call them
        sqlite3_busy_timeout(db, 30000);
        ok = sqlite3_exec(db, ("VACUUM INTO " + quoteLiteral(image)).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close_v2(db);
    return ok;
}

// Copies the database in `dataFile` into `set` on the media at `path`, which
// is rewritten with `overwrite` and else gains the set; `bytes` is the copy's
// size. Returns 0 or the errno value of the failure.
int storeBackupSet(const std::string &dataFile, const std::string &path, BackupSet &set, bool overwrite, long long *bytes)
{
    std::string image = path + ".dvimage";
    ::unlink(image.c_str());
    if (!copyDatabaseImage(dataFile, image)) {
        ::unlink(image.c_str());
        return EACCES;
    }
    set.finished = Catalog::now();
    *bytes = fileSize(image);
    int err = writeBackupSet(path, set, image, overwrite);
    ::unlink(image.c_str());
    return err;
}

} // namespace

SessionImpl::Flow SessionImpl::runBackup(const Stmt &s, Run &r)
{
    auto fail = [&](int number, const std::string &text) {
        message(r, number, 16, text, s.line);
        message(r, 3013, 16, "BACKUP DATABASE is terminating abnormally.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    };
    if (m_trancount > 0)
        return fail(3021, "Cannot perform a backup or restore operation within a transaction.");
    std::lock_guard<std::mutex> lock(m_engine->mu);
    auto info = m_engine->catalog.find(s.name);
    if (!info) return fail(911, "Database '" + s.name + "' does not exist. Make sure that the name is entered correctly.");
    if (iequals(info->name, "tempdb")) return fail(3147, "Backup and restore operations are not allowed on database tempdb.");
    std::string path = s.text;
    if (!s.flag) {
        auto dev = m_engine->catalog.device(s.text);
        if (!dev) return fail(3206, noDeviceText(s.text));
        path = dev->phyname;
    }
    path = backupPath(m_engine, path);
    std::string error;
    if (!m_engine->materialise(*info, &error)) return fail(3201, cannotOpenText(path, EIO, false));
    bool dirMissing = !dirExists(parentDir(path));
    if (dirMissing || dirExists(path)) return fail(3201, cannotOpenText(path, dirMissing ? ENOENT : EACCES, dirMissing));
    // An existing file must be backup media: NOINIT appends to it, INIT
    // overwrites its sets; only FORMAT writes over whatever the file holds.
    std::vector<BackupSet> sets;
    if (fileExists(path) && !s.media.format) {
        int rc = readBackupMedia(path, sets);
        if (rc > 0) return fail(3201, cannotOpenText(path, rc, false));
        if (rc < 0) return fail(3241, badMediaText(path));
    }
    const bool overwrite = s.media.init || s.media.format;
    auto start = std::chrono::steady_clock::now();
    BackupSet set;
    set.position = overwrite ? 1 : int(sets.size()) + 1;
    set.started = Catalog::now();
    set.name = s.media.name;
    set.description = s.media.description;
    set.database = info->name;
    set.databaseCreated = info->crdate;
    set.server = m_engine->opts.serverName;
    set.user = m_user;
    set.collation = serverCollation().name;
    set.files = info->files;
    long long bytes = 0;
    if (int err = storeBackupSet(info->dataFile()->physical, path, set, overwrite, &bytes))
        return fail(3201, cannotOpenText(path, err, false));
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long long dataPages = std::max<long long>(1, bytes / 8192);
    long long logPages = 2;
    const DbFile *data = info->dataFile();
    const DbFile *log = info->logFile();
    const std::string onFile = "' on file " + std::to_string(set.position) + ".";
    message(r, 4035, 0, "Processed " + std::to_string(dataPages) + " pages for database '" + info->name + "', file '"
            + (data ? data->logical : info->name) + onFile, s.line);
    if (log)
        message(r, 4035, 0, "Processed " + std::to_string(logPages) + " pages for database '" + info->name + "', file '"
                + log->logical + onFile, s.line);
    message(r, 3014, 0, "BACKUP DATABASE successfully processed " + std::to_string(dataPages + logPages) + " pages in "
            + seconds(secs) + " seconds (" + mbPerSec(bytes, secs) + " MB/sec).", s.line);
    done(r, false, false, 0);
    return Flow::Next;
}

namespace {

ColumnDef col(const char *name, SqlType type, int length = 0, bool nullable = false, int precision = 0)
{
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.precision = precision;
    c.nullable = nullable;
    return c;
}

// A stable GUID text for a set, from its database, position and start time.
std::string setGuid(const BackupSet &s, int salt)
{
    uint64_t h = 1469598103934665603ULL + uint64_t(salt);
    for (char ch : s.database + "|" + s.started + "|" + std::to_string(s.position)) h = (h ^ uint8_t(ch)) * 1099511628211ULL;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", unsigned(h >> 32), unsigned((h >> 16) & 0xFFFF),
                  unsigned(h & 0xFFFF), unsigned((h >> 48) ^ 0x4000) & 0xFFFF, static_cast<unsigned long long>(h & 0xFFFFFFFFFFFFULL));
    return buf;
}

Value textOrNull(const std::string &s) { return s.empty() ? Value::null() : Value::text(s); }

// The result columns of RESTORE HEADERONLY.
std::vector<ColumnDef> headerOnlyColumns()
{
    return {
        col("BackupName", SqlType::NVarChar, 128, true), col("BackupDescription", SqlType::NVarChar, 255, true),
        col("BackupType", SqlType::SmallInt), col("ExpirationDate", SqlType::DateTime, 0, true),
        col("Compressed", SqlType::TinyInt), col("Position", SqlType::SmallInt), col("DeviceType", SqlType::TinyInt),
        col("UserName", SqlType::NVarChar, 128), col("ServerName", SqlType::NVarChar, 128),
        col("DatabaseName", SqlType::NVarChar, 128), col("DatabaseVersion", SqlType::Int),
        col("DatabaseCreationDate", SqlType::DateTime), col("BackupSize", SqlType::Numeric, 0, false, 20),
        col("FirstLSN", SqlType::Numeric, 0, false, 25), col("LastLSN", SqlType::Numeric, 0, false, 25),
        col("CheckpointLSN", SqlType::Numeric, 0, false, 25), col("DatabaseBackupLSN", SqlType::Numeric, 0, false, 25),
        col("BackupStartDate", SqlType::DateTime), col("BackupFinishDate", SqlType::DateTime),
        col("SortOrder", SqlType::SmallInt), col("CodePage", SqlType::SmallInt), col("UnicodeLocaleId", SqlType::Int),
        col("UnicodeComparisonStyle", SqlType::Int), col("CompatibilityLevel", SqlType::TinyInt),
        col("SoftwareVendorId", SqlType::Int), col("SoftwareVersionMajor", SqlType::Int),
        col("SoftwareVersionMinor", SqlType::Int), col("SoftwareVersionBuild", SqlType::Int),
        col("MachineName", SqlType::NVarChar, 128), col("Flags", SqlType::Int),
        col("BindingID", SqlType::NVarChar, 36), col("RecoveryForkID", SqlType::NVarChar, 36),
        col("Collation", SqlType::NVarChar, 128), col("FamilyGUID", SqlType::NVarChar, 36),
        col("HasBulkLoggedData", SqlType::Bit), col("IsSnapshot", SqlType::Bit), col("IsReadOnly", SqlType::Bit),
        col("IsSingleUser", SqlType::Bit), col("HasBackupChecksums", SqlType::Bit), col("IsDamaged", SqlType::Bit),
        col("BeginsLogChain", SqlType::Bit), col("HasIncompleteMetaData", SqlType::Bit),
        col("IsForceOffline", SqlType::Bit), col("IsCopyOnly", SqlType::Bit),
        col("FirstRecoveryForkID", SqlType::NVarChar, 36), col("ForkPointLSN", SqlType::Numeric, 0, true, 25),
        col("RecoveryModel", SqlType::NVarChar, 60), col("DifferentialBaseLSN", SqlType::Numeric, 0, true, 25),
        col("DifferentialBaseGUID", SqlType::NVarChar, 36, true), col("BackupTypeDescription", SqlType::NVarChar, 60),
        col("BackupSetGUID", SqlType::NVarChar, 36, true), col("CompressedBackupSize", SqlType::BigInt),
        col("Containment", SqlType::TinyInt)};
}

// One RESTORE HEADERONLY row; `onDevice`: the media was named by a backup device.
std::vector<Value> headerOnlyRow(const BackupSet &b, bool onDevice, const Collation &coll)
{
    const std::string lsn = std::to_string(34000000001600001LL + 100000LL * b.position);
    const std::string size = std::to_string(b.imageSize + 1024 * 16);
    return {
        textOrNull(b.name), textOrNull(b.description), Value::integer(1), Value::null(), Value::integer(0),
        Value::integer(b.position), Value::integer(onDevice ? 102 : 2), Value::text(b.user),
        Value::text(b.server), Value::text(b.database), Value::integer(904),
        Value::text(b.databaseCreated.empty() ? b.started : b.databaseCreated), Value::text(size),
        Value::text(lsn), Value::text(lsn), Value::text(lsn), Value::text("0"), Value::text(b.started),
        Value::text(b.finished), Value::integer(coll.sortId), Value::integer(coll.codePage),
        Value::integer(coll.lcid), Value::integer(coll.comparisonStyle), Value::integer(150),
        Value::integer(4608), Value::integer(15), Value::integer(0), Value::integer(2000), Value::text(b.server),
        Value::integer(512), Value::text(setGuid(b, 1)), Value::text(setGuid(b, 2)),
        Value::text(b.collation.empty() ? coll.name : b.collation), Value::text(setGuid(b, 3)),
        Value::integer(0), Value::integer(0), Value::integer(0), Value::integer(0), Value::integer(0),
        Value::integer(0), Value::integer(0), Value::integer(0), Value::integer(0), Value::integer(0),
        Value::text(setGuid(b, 2)), Value::null(), Value::text("SIMPLE"), Value::null(), Value::null(),
        Value::text("Database"), Value::text(setGuid(b, 4)), Value::integer(b.imageSize + 1024 * 16),
        Value::integer(0)};
}

// The result columns of RESTORE FILELISTONLY.
std::vector<ColumnDef> fileListColumns()
{
    return {
        col("LogicalName", SqlType::NVarChar, 128), col("PhysicalName", SqlType::NVarChar, 260),
        col("Type", SqlType::Char, 1), col("FileGroupName", SqlType::NVarChar, 128, true),
        col("Size", SqlType::Numeric, 0, false, 20), col("MaxSize", SqlType::Numeric, 0, false, 20),
        col("FileId", SqlType::BigInt), col("CreateLSN", SqlType::Numeric, 0, false, 25),
        col("DropLSN", SqlType::Numeric, 0, true, 25), col("UniqueId", SqlType::NVarChar, 36),
        col("ReadOnlyLSN", SqlType::Numeric, 0, true, 25), col("ReadWriteLSN", SqlType::Numeric, 0, true, 25),
        col("BackupSizeInBytes", SqlType::BigInt), col("SourceBlockSize", SqlType::Int),
        col("FileGroupId", SqlType::Int), col("LogGroupGUID", SqlType::NVarChar, 36, true),
        col("DifferentialBaseLSN", SqlType::Numeric, 0, true, 25),
        col("DifferentialBaseGUID", SqlType::NVarChar, 36, true), col("IsReadOnly", SqlType::Bit),
        col("IsPresent", SqlType::Bit), col("TDEThumbprint", SqlType::VarBinary, 32, true),
        col("SnapshotURL", SqlType::NVarChar, 360, true)};
}

// The sets on the media at `path`, or the errors that RESTORE reports when
// the media is missing, unreadable, malformed or empty.
Messages readRestoreMedia(const std::string &path, std::vector<BackupSet> &sets)
{
    int rc = fileExists(path) ? readBackupMedia(path, sets) : (dirExists(parentDir(path)) ? ENOENT : -2);
    if (rc == -2 || rc > 0) return {{3201, cannotOpenText(path, rc > 0 ? rc : ENOENT, rc == -2)}};
    if (rc < 0) return {{3241, badMediaText(path)}};
    if (sets.empty()) return {{3254, "The volume on device '" + path + "' is empty."}};
    return {};
}

// Target paths: the original ones unless WITH MOVE names another place.
std::vector<DbFile> restoreTargets(const BackupSet &set, const std::vector<Stmt::FileSpec> &moves)
{
    std::vector<DbFile> files = set.files;
    for (auto &f : files)
        for (const auto &mv : moves)
            if (iequals(mv.logical, f.logical)) f.physical = mv.physical;
    return files;
}

// The database whose file is at `physical`, or "" when none.
std::string fileOwner(Catalog &cat, const std::string &physical)
{
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(cat.db(), "SELECT d.name FROM dv_files f JOIN sysdatabases d ON d.dbid = f.dbid WHERE f.physical_name = ?1", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, physical.c_str(), -1, SQLITE_TRANSIENT);
    std::string owner;
    if (sqlite3_step(st) == SQLITE_ROW) owner = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return owner;
}

// Why a restored file cannot go to its target: another database's file is
// never overwritten, the folder must exist, and an unknown file only WITH
// REPLACE (`replace`) is overwritten.
Messages placementErrors(Catalog &cat, const std::vector<DbFile> &files, const std::optional<DbInfo> &existing, bool replace)
{
    const std::pair<int, std::string> planning{
        3119, "Problems were identified while planning for the RESTORE statement. Previous messages provide details."};
    for (const auto &f : files) {
        const std::pair<int, std::string> useMove{
            3156, "File '" + f.logical + "' cannot be restored to '" + f.physical + "'. Use WITH MOVE to identify a valid location for the file."};
        std::string owner = fileOwner(cat, f.physical);
        if (!owner.empty() && !(existing && iequals(owner, existing->name)))
            return {{1834, "The file '" + f.physical + "' cannot be overwritten.  It is being used by database '" + owner + "'."},
                    useMove, planning};
        if (!dirExists(parentDir(f.physical)))
            return {{3634, "The operating system returned the error '" + osErrorText(ENOENT, true) + "' while attempting 'RestoreContainer::ValidateTargetForCreation' on '" + f.physical + "'."},
                    useMove, planning};
        if (!replace && owner.empty() && fileExists(f.physical))
            return {{3142, "File \"" + f.logical + "\" cannot be restored over the existing \"" + f.physical + "\". Reissue the RESTORE statement using WITH REPLACE to overwrite pre-existing files, or WITH MOVE to identify an alternate location."},
                    planning};
    }
    return {};
}

// Puts the extracted image (`data`.dvrestore) in place as the data file and
// fresh log files beside it, and registers `name` with `files`, in place of
// `existing` (whose id and files it takes over).
bool installRestoredDatabase(Catalog &cat, const std::string &name, const std::vector<DbFile> &files,
                             const DbFile &data, const std::optional<DbInfo> &existing, std::string *error)
{
    int dbid = 0;
    if (existing) {
        dbid = existing->dbid;
        cat.remove(existing->name);
        if (!existing->pending) removeDatabaseFiles(*existing);
    }
    ::unlink((data.physical + "-wal").c_str());
    ::unlink((data.physical + "-shm").c_str());
    std::rename((data.physical + ".dvrestore").c_str(), data.physical.c_str());
    for (const auto &f : files) {
        if (f.type != 1) continue;
        FILE *fp = std::fopen(f.physical.c_str(), "wb");
        if (fp) { std::fputs("DORVANE-LOG 1\n", fp); std::fclose(fp); }
    }
    DbInfo info;
    info.name = name;
    info.dbid = dbid;
    info.files = files;
    return cat.add(info, error);
}

} // namespace

SessionImpl::Flow SessionImpl::sendBackupHeaders(const Stmt &s, const std::vector<BackupSet> &sets, Run &r)
{
    const Collation &coll = serverCollation();
    r.sink.columns(headerOnlyColumns());
    uint64_t rows = 0;
    for (const auto &b : sets) {
        if (s.media.file > 0 && b.position != s.media.file) continue;
        r.sink.row(headerOnlyRow(b, !s.args.empty(), coll));
        ++rows;
    }
    done(r, false, true, rows);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::sendBackupFileList(const BackupSet &set, Run &r)
{
    r.sink.columns(fileListColumns());
    uint64_t rows = 0;
    for (const auto &f : set.files) {
        ++rows;
        const long long maxBytes = f.maxKb < 0 ? 35184372080640LL : f.maxKb * 1024;
        r.sink.row({Value::text(f.logical), Value::text(f.physical), Value::text(f.type == 0 ? "D" : "L"),
                    f.type == 0 ? Value::text("PRIMARY") : Value::null(), Value::text(std::to_string(f.sizeKb * 1024)),
                    Value::text(std::to_string(maxBytes)), Value::integer(int64_t(rows)), Value::text("0"),
                    Value::null(), Value::text(setGuid(set, 10 + int(rows))), Value::null(), Value::null(),
                    Value::integer(f.type == 0 ? set.imageSize : 0), Value::integer(512),
                    Value::integer(f.type == 0 ? 1 : 0), Value::null(), Value::null(), Value::null(),
                    Value::integer(0), Value::integer(1), Value::null(), Value::null()});
    }
    done(r, false, true, rows);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runRestore(const Stmt &s, Run &r)
{
    const char *what = s.media.what == Stmt::Media::HeaderOnly ? "RESTORE HEADERONLY"
        : s.media.what == Stmt::Media::FileListOnly ? "RESTORE FILELIST"
        : s.media.what == Stmt::Media::VerifyOnly ? "VERIFY DATABASE" : "RESTORE DATABASE";
    auto fail = [&](const Messages &msgs) {
        for (const auto &[n, t] : msgs) message(r, n, 16, t, s.line);
        message(r, 3013, 16, std::string(what) + " is terminating abnormally.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    };
    if (m_trancount > 0)
        return fail({{3021, "Cannot perform a backup or restore operation within a transaction."}});
    if (s.media.what == Stmt::Media::Database && iequals(s.name, "tempdb"))
        return fail({{3147, "Backup and restore operations are not allowed on database tempdb."}});
    std::lock_guard<std::mutex> lock(m_engine->mu);
    Catalog &cat = m_engine->catalog;
    std::string path = s.text;
    if (!s.args.empty()) {
        auto dev = cat.device(s.args.front().paramName);
        if (!dev) return fail({{3206, noDeviceText(s.args.front().paramName)}});
        path = dev->phyname;
    }
    path = backupPath(m_engine, path);
    std::vector<BackupSet> sets;
    if (Messages errors = readRestoreMedia(path, sets); !errors.empty()) return fail(errors);
    const int fileNo = s.media.file > 0 ? s.media.file : 1;
    if (s.media.file < 0 || fileNo > int(sets.size()))
        return fail({{4038, "Cannot find file ID " + std::to_string(fileNo) + " on device '" + path + "'."}});
    if (s.media.what == Stmt::Media::HeaderOnly) return sendBackupHeaders(s, sets, r);
    const BackupSet &set = sets[size_t(fileNo - 1)];
    if (s.media.what == Stmt::Media::FileListOnly) return sendBackupFileList(set, r);
    if (s.media.what == Stmt::Media::VerifyOnly) {
        message(r, 3262, 10, "The backup set on file " + std::to_string(fileNo) + " is valid.", s.line);
        done(r, false, false, 0);
        return Flow::Next;
    }
    auto existing = cat.find(s.name);
    if (existing) {
        if (m_engine->inUse(existing->name, this) || iequals(dbName, existing->name))
            return fail({{3101, "Exclusive access could not be obtained because the database is in use."}});
        if (!s.flag && !iequals(existing->name, set.database))
            return fail({{3154, "The backup set holds a backup of a database other than the existing '" + existing->name + "' database."}});
    }
    const std::vector<DbFile> files = restoreTargets(set, s.dataFiles);
    if (Messages errors = placementErrors(cat, files, existing, s.flag); !errors.empty()) return fail(errors);
    auto start = std::chrono::steady_clock::now();
    const DbFile *dataTarget = nullptr;
    for (const auto &f : files) if (f.type == 0 && !dataTarget) dataTarget = &f;
    if (!dataTarget) return fail({{3241, badMediaText(path)}});
    if (int err = extractBackupImage(path, set, dataTarget->physical + ".dvrestore")) {
        ::unlink((dataTarget->physical + ".dvrestore").c_str());
        return fail({{3201, cannotOpenText(path, err, false)}});
    }
    std::string error;
    if (!installRestoredDatabase(cat, s.name, files, *dataTarget, existing, &error))
        return fail({{3013, "RESTORE DATABASE could not register the database: " + error}});
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long long bytes = fileSize(dataTarget->physical);
    long long dataPages = std::max<long long>(1, bytes / 8192);
    for (const auto &f : files)
        message(r, 4035, 0, "Processed " + std::to_string(f.type == 0 ? dataPages : 2) + " pages for database '" + s.name
                + "', file '" + f.logical + "' on file " + std::to_string(fileNo) + ".", s.line);
    message(r, 3014, 0, "RESTORE DATABASE successfully processed " + std::to_string(dataPages + 2) + " pages in "
            + seconds(secs) + " seconds (" + mbPerSec(bytes, secs) + " MB/sec).", s.line);
    done(r, false, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runNoLog(const Stmt &s, Run &r)
{
    std::lock_guard<std::mutex> lock(m_engine->mu);
    auto info = m_engine->catalog.find(s.name);
    if (!info) {
        message(r, 911, 16, "Database '" + s.name + "' does not exist. Make sure that the name is entered correctly.", s.line);
        if (s.kind == Stmt::BackupLogNoLog && s.flag) message(r, 3013, 16, "BACKUP LOG is terminating abnormally.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    if (s.kind == Stmt::BackupLogNoLog && s.flag) {
        // A real log backup: these databases use the simple recovery model.
        message(r, 4208, 16, "The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. Use BACKUP DATABASE or change the recovery model using ALTER DATABASE.", s.line);
        message(r, 3013, 16, "BACKUP LOG is terminating abnormally.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    // Discarding the log: fold the WAL into the data file and empty the log file.
    if (!info->pending) {
        checkpointFile(info->dataFile()->physical);
        if (const DbFile *log = info->logFile()) {
            std::error_code ec;
            if (fileExists(log->physical)) std::filesystem::resize_file(log->physical, 14, ec);
        }
    }
    done(r, false, false, 0);
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::runShrink(const Stmt &s, Run &r)
{
    if (s.name == "CHECKDB" || s.name == "SQLPERF") return runDbccInfo(s, r);
    if (s.name != "SHRINKDATABASE") {
        message(r, 2526, 16, "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    std::string target;
    if (!s.args.empty()) {
        const Token &k = r.toks[s.args.front().tok];
        if (k.kind == Token::Number && std::atoi(k.value.c_str()) == 0) target = dbName;
        else target = k.value;
    } else target = dbName;
    std::optional<DbInfo> info;
    {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        if (r.toks[s.args.empty() ? 0 : s.args.front().tok].kind == Token::Number && !s.args.empty() && target != dbName) {
            int id = std::atoi(target.c_str());
            sqlite3_stmt *st = nullptr;
            sqlite3_prepare_v2(m_engine->catalog.db(), "SELECT name FROM sysdatabases WHERE dbid = ?1", -1, &st, nullptr);
            sqlite3_bind_int(st, 1, id);
            if (sqlite3_step(st) == SQLITE_ROW) target = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            sqlite3_finalize(st);
        }
        info = m_engine->catalog.find(target);
        std::string error;
        if (info && !m_engine->materialise(*info, &error)) info.reset();
    }
    if (!info) {
        message(r, 2520, 16, "Could not find database '" + target + "'. The database either does not exist, or was dropped "
                "before a statement tried to use it. Verify if the database exists by querying the sys.databases catalog view.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    // VACUUM really compacts the file; the checkpoint empties the WAL first.
    const std::string dataPath = info->dataFile()->physical;
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(dataPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK;
    static const std::string noDb;
    if (ok) {
        registerFunctions(db, &noDb);
        sqlite3_busy_timeout(db, 30000);
        ok = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE); VACUUM; PRAGMA wal_checkpoint(TRUNCATE);", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close_v2(db);
    if (!ok) {
        message(r, 1222, 16, "Lock request time out period exceeded.", s.line);
        done(r, true, false, 0);
        return Flow::Next;
    }
    bool quiet = s.text == "NO_INFOMSGS";
    std::vector<ColumnDef> cols(6);
    const char *names[] = {"DbId", "FileId", "CurrentSize", "MinimumSize", "UsedPages", "EstimatedPages"};
    for (int k = 0; k < 6; ++k) {
        cols[size_t(k)].name = names[k];
        cols[size_t(k)].type = k == 0 ? SqlType::SmallInt : SqlType::Int;
        cols[size_t(k)].nullable = false;
    }
    r.sink.columns(cols);
    uint64_t rows = 0;
    int fileId = 0;
    for (const auto &f : info->files) {
        ++fileId;
        long long pages = std::max<long long>(1, (fileSize(f.physical) + 8191) / 8192);
        long long minimum = std::max<long long>(1, f.sizeKb / 8);
        long long used = f.type == 0 ? pages : 1;
        r.sink.row({Value::integer(info->dbid), Value::integer(fileId), Value::integer(pages), Value::integer(minimum),
                    Value::integer(used), Value::integer(used)});
        ++rows;
    }
    done(r, false, true, rows);
    if (!quiet)
        message(r, 2528, 10, "DBCC execution completed. If DBCC printed error messages, contact your system administrator.", s.line);
    return Flow::Next;
}

std::optional<std::string> SessionImpl::ProcCall::arg(size_t pos, const char *name) const
{
    for (const auto &[n, v] : args)
        if (!n.empty() && iequals(n, name)) return v.kind == Value::Null ? std::nullopt : std::optional<std::string>(valueText(v));
    if (pos < args.size() && args[pos].first.empty())
        return args[pos].second.kind == Value::Null ? std::nullopt : std::optional<std::string>(valueText(args[pos].second));
    return std::nullopt;
}

void SessionImpl::ProcCall::error(int number, int severity, const std::string &text, int state)
{
    if (severity > 10) failed = true;
    session.message(r, number, severity, text, line, state, proc);
}

SessionImpl::Flow SessionImpl::ProcCall::finish()
{
    r.sink.returnStatus(failed ? 1 : 0);
    r.sink.done(DoneKind::DoneProc, failed, false, 0);
    r.anyDone = true;
    return Flow::Next;
}

SessionImpl::Flow SessionImpl::ProcCall::missing(const char *param)
{
    error(201, 16, "Procedure or function '" + proc + "' expects parameter '" + param + "', which was not supplied.", 4);
    return finish();
}

SessionImpl::Flow SessionImpl::procAddDumpDevice(ProcCall &call)
{
    Catalog &cat = m_engine->catalog;
    auto type = call.arg(0, "@devtype");
    auto name = call.arg(1, "@logicalname");
    auto phys = call.arg(2, "@physicalname");
    if (!type) return call.missing("@devtype");
    if (!name) return call.missing("@logicalname");
    if (!phys) return call.missing("@physicalname");
    std::string t = lower(*type);
    if (t != "disk" && t != "tape") {
        call.error(15044, 16, "'" + *type + "' is an unknown device type. Use 'disk', 'tape', or 'virtual_device'.");
        return call.finish();
    }
    if (cat.device(*name)) {
        call.error(15026, 16, "Logical device '" + *name + "' already exists.");
        return call.finish();
    }
    Device d;
    d.name = *name;
    d.phyname = *phys;
    d.cntrltype = t == "disk" ? 2 : 5;
    if (!cat.addDevice(d)) call.error(15026, 16, "Logical device '" + *name + "' already exists.");
    return call.finish();
}

SessionImpl::Flow SessionImpl::procDropDevice(ProcCall &call)
{
    auto name = call.arg(0, "@logicalname");
    if (!name) return call.missing("@logicalname");
    if (!m_engine->catalog.dropDevice(*name)) {
        call.error(15012, 16, "The device '" + *name + "' does not exist. Use sp_helpdevice to show available devices.");
        return call.finish();
    }
    call.error(0, 0, "Device dropped.");
    return call.finish();
}

SessionImpl::Flow SessionImpl::procDetachDb(ProcCall &call)
{
    Catalog &cat = m_engine->catalog;
    auto name = call.arg(0, "@dbname");
    if (!name) return call.missing("@dbname");
    auto info = cat.find(*name);
    if (!info) {
        call.error(15010, 16, "The database '" + *name + "' does not exist. Supply a valid database name. To see available databases, use sys.databases.");
        return call.finish();
    }
    if (isSystemDb(info->name)) {
        call.error(7940, 16, "System databases master, model, msdb, and tempdb cannot be detached.");
        return call.finish();
    }
    if (m_engine->inUse(info->name, this) || iequals(dbName, info->name)) {
        call.error(3703, 16, "Cannot detach the database '" + info->name + "' because it is currently in use.");
        return call.finish();
    }
    std::string err;
    m_engine->materialise(*info, &err);
    checkpointFile(info->dataFile()->physical);
    cat.remove(info->name);
    return call.finish();
}

namespace {

// Why the files named to sp_attach_db cannot be opened: each must be given
// by full path, exist, and belong to no registered database.
Messages attachFileErrors(Catalog &cat, const std::vector<std::string> &paths, const std::string &name)
{
    const std::pair<int, std::string> aborted{1813, "Could not open new database '" + name + "'. CREATE DATABASE is aborted."};
    auto openFail = [&](const std::string &path, int errNo) -> Messages {
        return {{5120, "Unable to open the physical file \"" + path + "\". Operating system error " + std::to_string(errNo)
                           + ": \"" + (errNo == 32 ? std::string("32(The process cannot access the file because it is being used by another process.)")
                                       : osErrorText(ENOENT, false)) + "\"."},
                aborted};
    };
    for (const auto &p : paths) {
        if (p.empty() || p[0] != '/')
            return {{5105, "A file activation error occurred. The physical file name '" + p
                               + "' may be incorrect. Diagnose and correct additional errors, and retry the operation."},
                    aborted};
        if (!fileExists(p)) return openFail(p, 2);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(cat.db(), "SELECT 1 FROM dv_files WHERE physical_name = ?1", -1, &st, nullptr);
        sqlite3_bind_text(st, 1, p.c_str(), -1, SQLITE_TRANSIENT);
        bool used = sqlite3_step(st) == SQLITE_ROW;
        sqlite3_finalize(st);
        if (used) return openFail(p, 32);
    }
    return {};
}

// The logical data and log file names a database file of this server records;
// false when `path` is not such a file.
bool readLogicalNames(const std::string &path, std::string *dataLogical, std::string *logLogical)
{
    sqlite3 *db = nullptr;
    bool valid = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK;
    sqlite3_stmt *st = nullptr;
    valid = valid && sqlite3_prepare_v2(db, "SELECT key, value FROM __dv_dbinfo", -1, &st, nullptr) == SQLITE_OK;
    while (valid && sqlite3_step(st) == SQLITE_ROW) {
        std::string k = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        std::string v = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
        if (k == "data") *dataLogical = v;
        if (k == "log") *logLogical = v;
    }
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
    return valid;
}

} // namespace

SessionImpl::Flow SessionImpl::procAttachDb(ProcCall &call)
{
    Catalog &cat = m_engine->catalog;
    auto name = call.arg(0, "@dbname");
    if (!name) return call.missing("@dbname");
    std::vector<std::string> paths;
    for (int k = 1; k <= 16; ++k) {
        auto p = call.arg(size_t(k), ("@filename" + std::to_string(k)).c_str());
        if (p) paths.push_back(*p);
    }
    if (paths.empty()) {
        call.error(15036, 16, "The data device 'NULL' does not exist. Use sp_helpdevice to show available data devices.");
        return call.finish();
    }
    if (cat.find(*name)) {
        call.error(1801, 16, "Database '" + *name + "' already exists. Choose a different database name.");
        return call.finish();
    }
    if (Messages errors = attachFileErrors(cat, paths, *name); !errors.empty()) {
        for (const auto &[n, t] : errors) call.error(n, 16, t);
        return call.finish();
    }
    // The first file must be one of this server's database files.
    std::string dataLogical = *name, logLogical = *name + "_log";
    if (!readLogicalNames(paths[0], &dataLogical, &logLogical)) {
        call.error(5172, 16, "The header for file '" + paths[0] + "' is not a valid database file header. The FILE SIZE property is incorrect.");
        call.error(1813, 16, "Could not open new database '" + *name + "'. CREATE DATABASE is aborted.");
        return call.finish();
    }
    DbInfo info;
    info.name = *name;
    info.files.push_back({dataLogical, paths[0], 0, std::max<long long>(512, fileSize(paths[0]) / 1024), -1, 65536, false});
    for (size_t k = 1; k < paths.size(); ++k)
        info.files.push_back({k == 1 ? logLogical : logLogical + std::to_string(k), paths[k], 1,
                              std::max<long long>(512, fileSize(paths[k]) / 1024), -1, 10, true});
    std::string err;
    if (cat.count() >= 32767 || !cat.add(info, &err)) {
        call.error(1813, 16, "Could not open new database '" + *name + "'. CREATE DATABASE is aborted.");
        return call.finish();
    }
    return call.finish();
}

// System procedures: messages, then RETURNSTATUS and DONEPROC.
SessionImpl::Flow SessionImpl::runProc(const std::string &proc, const std::vector<std::pair<std::string, Value>> &args,
                                       Run &r, int line)
{
    if (isCatalogProc(proc)) return runCatalogProc(proc, args, r, line);
    static const std::map<std::string, Flow (SessionImpl::*)(ProcCall &)> handlers = {
        {"sp_addumpdevice", &SessionImpl::procAddDumpDevice},
        {"sp_dropdevice", &SessionImpl::procDropDevice},
        {"sp_detach_db", &SessionImpl::procDetachDb},
        {"sp_attach_db", &SessionImpl::procAttachDb},
    };
    ProcCall call{*this, proc, args, r, line};
    std::lock_guard<std::mutex> lock(m_engine->mu);
    if (auto h = handlers.find(proc); h != handlers.end()) return (this->*h->second)(call);
    call.error(2812, 16, "Could not find stored procedure '" + proc + "'.", 62);
    // A batch's EXEC ends with DONE; an RPC request always with DONEPROC.
    r.sink.done(r.rpc ? DoneKind::DoneProc : DoneKind::Done, true, false, 0);
    r.anyDone = true;
    return Flow::Next;
}

} // namespace ts
