#include "engine/catalog.h"

#include "base/collation.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace ts {

const DbFile *DbInfo::dataFile() const
{
    for (const auto &f : files) if (f.type == 0) return &f;
    return nullptr;
}

const DbFile *DbInfo::logFile() const
{
    for (const auto &f : files) if (f.type == 1) return &f;
    return nullptr;
}

namespace {

struct Stmt {
    sqlite3_stmt *s = nullptr;
    Stmt(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
    ~Stmt() { sqlite3_finalize(s); }
    Stmt &bind(int i, const std::string &v) { sqlite3_bind_text(s, i, v.data(), int(v.size()), SQLITE_TRANSIENT); return *this; }
    Stmt &bind(int i, int64_t v) { sqlite3_bind_int64(s, i, v); return *this; }
    int step() { return sqlite3_step(s); }
    std::string text(int i) { auto p = sqlite3_column_text(s, i); return p ? reinterpret_cast<const char *>(p) : ""; }
    int64_t integer(int i) { return sqlite3_column_int64(s, i); }
};

} // namespace

Catalog::~Catalog()
{
    if (m_db) sqlite3_close_v2(m_db);
}

std::string Catalog::now()
{
    using namespace std::chrono;
    auto t = system_clock::now();
    auto secs = system_clock::to_time_t(t);
    int ms = int(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return buf;
}

bool Catalog::exec(const std::string &sql, std::string *error)
{
    char *msg = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
        if (error) *error = msg ? msg : "sqlite error";
        sqlite3_free(msg);
        return false;
    }
    return true;
}

bool Catalog::open(const std::string &dataDir, int cmptlevel, std::string *error)
{
    m_cmptlevel = cmptlevel;
    m_path = dataDir + "/catalog.db";
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        if (error) *error = "cannot open " + m_path;
        return false;
    }
    sqlite3_busy_timeout(m_db, 30000);
    // Column declarations carry SQL Server type names: result metadata is read from them.
    const char *schema = R"SQL(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=OFF;
CREATE TABLE IF NOT EXISTS sysdatabases(
  name nvarchar(128) COLLATE NOCASE NOT NULL PRIMARY KEY, dbid smallint NOT NULL UNIQUE, sid varbinary(85),
  mode smallint, status int, status2 int, crdate datetime, reserved datetime, category int,
  cmptlevel tinyint, filename nvarchar(260), version smallint, dv_pending int DEFAULT 0);
CREATE TABLE IF NOT EXISTS dv_files(
  dbid smallint NOT NULL, fileid int NOT NULL, type tinyint, name nvarchar(128) COLLATE NOCASE,
  physical_name nvarchar(260), size int, max_size int, growth int, is_percent_growth bit,
  PRIMARY KEY(dbid, fileid));
CREATE TABLE IF NOT EXISTS sysdevices(
  name nvarchar(128) COLLATE NOCASE NOT NULL PRIMARY KEY, size int, low int, high int, status smallint,
  cntrltype smallint, phyname nvarchar(260));
CREATE TABLE IF NOT EXISTS dv_logins(name nvarchar(128) COLLATE NOCASE NOT NULL PRIMARY KEY, password nvarchar(128),
  default_db nvarchar(128));
DROP VIEW IF EXISTS sys_databases;
CREATE VIEW sys_databases AS SELECT name, dbid AS database_id, sid AS owner_sid,
  crdate AS create_date, cmptlevel AS compatibility_level,
  '@COLLATION@' AS collation_name, 0 AS user_access, 'MULTI_USER' AS user_access_desc,
  0 AS is_read_only, 0 AS state, 'ONLINE' AS state_desc, 3 AS recovery_model,
  'SIMPLE' AS recovery_model_desc FROM sysdatabases;
CREATE VIEW IF NOT EXISTS sys_master_files AS SELECT dbid AS database_id, fileid AS file_id, type,
  CASE type WHEN 0 THEN 'ROWS' ELSE 'LOG' END AS type_desc, name, physical_name, size, max_size, growth,
  is_percent_growth FROM dv_files;
CREATE VIEW IF NOT EXISTS sys_backup_devices AS SELECT name, 2 AS type, 'DISK' AS type_desc,
  phyname AS physical_name FROM sysdevices;
)SQL";
    // The databases take the collation the server runs with now.
    std::string text = schema;
    const std::string mark = "@COLLATION@";
    text.replace(text.find(mark), mark.size(), serverCollation().name);
    if (!exec(text, error)) return false;
    return true;
}

bool Catalog::checkLogin(const std::string &user, const std::string &password, std::string *name)
{
    Stmt s(m_db, "SELECT name, password FROM dv_logins WHERE name = ?1");
    s.bind(1, user);
    if (s.step() != SQLITE_ROW || s.text(1) != password) return false;
    if (name) *name = s.text(0);
    return true;
}

std::optional<DbInfo> Catalog::find(const std::string &name)
{
    Stmt s(m_db, "SELECT name, dbid, crdate, dv_pending FROM sysdatabases WHERE name = ?1");
    s.bind(1, name);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    DbInfo info;
    info.name = s.text(0);
    info.dbid = int(s.integer(1));
    info.crdate = s.text(2);
    info.pending = s.integer(3) != 0;
    Stmt f(m_db, "SELECT name, physical_name, type, size, max_size, growth, is_percent_growth FROM dv_files "
                 "WHERE dbid = ?1 ORDER BY fileid");
    f.bind(1, int64_t(info.dbid));
    while (f.step() == SQLITE_ROW) {
        DbFile file;
        file.logical = f.text(0);
        file.physical = f.text(1);
        file.type = int(f.integer(2));
        file.sizeKb = f.integer(3) * 8;
        file.maxKb = f.integer(4) < 0 ? -1 : f.integer(4) * 8;
        file.percentGrowth = f.integer(6) != 0;
        file.growth = file.percentGrowth ? f.integer(5) : f.integer(5) * 8;
        info.files.push_back(file);
    }
    return info;
}

int Catalog::count()
{
    Stmt s(m_db, "SELECT count(*) FROM sysdatabases");
    return s.step() == SQLITE_ROW ? int(s.integer(0)) : 0;
}

int Catalog::freeDbid()
{
    // Ids grow upwards; gaps left by dropped databases are reused once the top is reached.
    {
        Stmt top(m_db, "SELECT coalesce(max(dbid), 4) + 1 FROM sysdatabases");
        if (top.step() == SQLITE_ROW && top.integer(0) <= 32767) return int(top.integer(0));
    }
    Stmt s(m_db, "SELECT coalesce((SELECT min(a.dbid) + 1 FROM sysdatabases a WHERE a.dbid >= 4 AND NOT EXISTS "
                 "(SELECT 1 FROM sysdatabases b WHERE b.dbid = a.dbid + 1)), 5)");
    return s.step() == SQLITE_ROW ? int(s.integer(0)) : 5;
}

bool Catalog::add(DbInfo &info, std::string *error)
{
    if (!exec("SAVEPOINT dvadd", error)) return false;
    if (info.dbid == 0) info.dbid = freeDbid();
    if (info.crdate.empty()) info.crdate = now();
    const DbFile *data = info.dataFile();
    Stmt s(m_db, "INSERT INTO sysdatabases(name, dbid, sid, mode, status, status2, crdate, reserved, category, "
                 "cmptlevel, filename, version, dv_pending) VALUES (?1, ?2, x'01', 0, 65544, 1090519040, ?3, "
                 "'1900-01-01 00:00:00.000', 0, ?4, ?5, ?6, ?7)");
    s.bind(1, info.name).bind(2, int64_t(info.dbid)).bind(3, info.crdate).bind(4, int64_t(m_cmptlevel))
        .bind(5, data ? data->physical : std::string()).bind(6, int64_t(m_cmptlevel == 80 ? 539 : 904))
        .bind(7, int64_t(info.pending ? 1 : 0));
    bool ok = s.step() == SQLITE_DONE;
    int fileid = 1;
    for (const auto &f : info.files) {
        if (!ok) break;
        Stmt fs(m_db, "INSERT INTO dv_files VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        fs.bind(1, int64_t(info.dbid)).bind(2, int64_t(fileid++)).bind(3, int64_t(f.type)).bind(4, f.logical)
            .bind(5, f.physical).bind(6, f.sizeKb / 8).bind(7, f.maxKb < 0 ? int64_t(-1) : f.maxKb / 8)
            .bind(8, f.percentGrowth ? f.growth : f.growth / 8).bind(9, int64_t(f.percentGrowth ? 1 : 0));
        ok = fs.step() == SQLITE_DONE;
    }
    if (!ok) {
        if (error) *error = sqlite3_errmsg(m_db);
        exec("ROLLBACK TO dvadd; RELEASE dvadd");
        return false;
    }
    return exec("RELEASE dvadd", error);
}

bool Catalog::remove(const std::string &name)
{
    auto info = find(name);
    if (!info) return false;
    if (!exec("SAVEPOINT dvrm")) return false;
    Stmt a(m_db, "DELETE FROM dv_files WHERE dbid = ?1");
    a.bind(1, int64_t(info->dbid));
    bool ok = a.step() == SQLITE_DONE;
    Stmt b(m_db, "DELETE FROM sysdatabases WHERE dbid = ?1");
    b.bind(1, int64_t(info->dbid));
    ok = ok && b.step() == SQLITE_DONE;
    if (!ok) { exec("ROLLBACK TO dvrm; RELEASE dvrm"); return false; }
    return exec("RELEASE dvrm");
}

bool Catalog::markCreated(const std::string &name)
{
    Stmt s(m_db, "UPDATE sysdatabases SET dv_pending = 0 WHERE name = ?1");
    s.bind(1, name);
    return s.step() == SQLITE_DONE;
}

std::optional<Device> Catalog::device(const std::string &name)
{
    Stmt s(m_db, "SELECT name, phyname, cntrltype FROM sysdevices WHERE name = ?1");
    s.bind(1, name);
    if (s.step() != SQLITE_ROW) return std::nullopt;
    Device d;
    d.name = s.text(0);
    d.phyname = s.text(1);
    d.cntrltype = int(s.integer(2));
    return d;
}

bool Catalog::addDevice(const Device &dev)
{
    Stmt s(m_db, "INSERT INTO sysdevices VALUES (?1, 0, 0, 0, 16, ?2, ?3)");
    s.bind(1, dev.name).bind(2, int64_t(dev.cntrltype)).bind(3, dev.phyname);
    return s.step() == SQLITE_DONE;
}

bool Catalog::dropDevice(const std::string &name)
{
    Stmt s(m_db, "DELETE FROM sysdevices WHERE name = ?1");
    s.bind(1, name);
    return s.step() == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

} // namespace ts
