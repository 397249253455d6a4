#include "engine/enginesession.h"

#include "engine/backup.h"
#include "base/decimal.h"
#include "base/textcollation.h"
#include "base/xmlvalue.h"
#include "base/variantvalue.h"
#include "engine/enginefunctions.h"
#include "engine/functions.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <thread>

namespace ts {

// ---------------------------------------------------------------- Engine::Impl

std::string Engine::Impl::versionText() const
{
    if (opts.compat2000)
        return "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38 \n\tCopyright (c) 1988-2003 "
               "Microsoft Corporation\n\tDeveloper Edition on Linux (Dorvane test server)\n";
    return "Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tSep 24 2019 13:48:23 \n\tCopyright (C) 2019 "
           "Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Dorvane test server)\n";
}

static bool execOn(sqlite3 *db, const std::string &sql, std::string *error)
{
    char *msg = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
        if (error) *error = msg ? msg : "sqlite error";
        sqlite3_free(msg);
        return false;
    }
    return true;
}

// Tables and views every database file holds: objects and declared column
// types (result metadata), schemas, users, indexes, and the catalogue views
// (INFORMATION_SCHEMA, sys.tables ...). A table of schema s other than dbo is
// the SQLite table "s.name"; __dv_tables.name holds that internal name.
static const char *kDatabaseTables = R"SQL(
CREATE TABLE IF NOT EXISTS __dv_dbinfo(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS __dv_tables(name nvarchar(128) COLLATE NOCASE PRIMARY KEY, object_id int,
  create_date datetime, pk_name nvarchar(128), schema_name nvarchar(128) COLLATE NOCASE DEFAULT 'dbo',
  obj_name nvarchar(128) COLLATE NOCASE, type char(2) DEFAULT 'U', parent nvarchar(128) COLLATE NOCASE,
  definition nvarchar(4000));
CREATE TABLE IF NOT EXISTS __dv_columns(tbl nvarchar(128) COLLATE NOCASE, col nvarchar(128) COLLATE NOCASE,
  ord int, type nvarchar(128), length int, prec int, scale int, nullable int, is_identity int, pk_ord int,
  uq_name nvarchar(128), computed nvarchar(4000), PRIMARY KEY(tbl, col));
CREATE TABLE IF NOT EXISTS __dv_triggers(name nvarchar(128) COLLATE NOCASE PRIMARY KEY, is_disabled int DEFAULT 0,
  is_instead_of int, events nvarchar(40));
CREATE TABLE IF NOT EXISTS __dv_schemas(name nvarchar(128) COLLATE NOCASE PRIMARY KEY, schema_id int);
INSERT OR IGNORE INTO __dv_schemas VALUES ('dbo', 1), ('guest', 2), ('INFORMATION_SCHEMA', 3), ('sys', 4);
CREATE TABLE IF NOT EXISTS __dv_users(name nvarchar(128) COLLATE NOCASE PRIMARY KEY,
  login nvarchar(128) COLLATE NOCASE, default_schema nvarchar(128), principal_id int);
CREATE TABLE IF NOT EXISTS __dv_indexes(tbl nvarchar(128) COLLATE NOCASE, name nvarchar(128) COLLATE NOCASE,
  index_id int, is_unique int, is_primary_key int, is_unique_constraint int, PRIMARY KEY(tbl, name));
CREATE TABLE IF NOT EXISTS __dv_index_columns(tbl nvarchar(128) COLLATE NOCASE, idx nvarchar(128) COLLATE NOCASE,
  key_ordinal int, col nvarchar(128) COLLATE NOCASE, is_descending int DEFAULT 0);
CREATE TABLE IF NOT EXISTS __dv_types(name nvarchar(128) COLLATE NOCASE, schema_name nvarchar(128) COLLATE NOCASE,
  user_type_id int UNIQUE, type nvarchar(128), length int, prec int, scale int, is_nullable int,
  PRIMARY KEY(schema_name, name));
CREATE TABLE IF NOT EXISTS __dv_column_types(tbl nvarchar(128) COLLATE NOCASE, col nvarchar(128) COLLATE NOCASE,
  user_type_id int, PRIMARY KEY(tbl, col));
)SQL";

static const char *kDatabaseViews = R"SQL(
CREATE VIEW IF NOT EXISTS __dv_objects AS SELECT name AS iname, coalesce(obj_name, name) AS name, object_id,
  coalesce(schema_name, 'dbo') AS schema_name, coalesce(type, 'U') AS type, parent, create_date, pk_name
  FROM __dv_tables;
CREATE VIEW IF NOT EXISTS __dv_is_tables AS SELECT dv_catalog() AS TABLE_CATALOG, schema_name AS TABLE_SCHEMA,
  name AS TABLE_NAME, CASE type WHEN 'V' THEN 'VIEW' ELSE 'BASE TABLE' END AS TABLE_TYPE FROM __dv_objects
  WHERE type IN ('U', 'V');
CREATE VIEW IF NOT EXISTS __dv_is_columns AS SELECT dv_catalog() AS TABLE_CATALOG, o.schema_name AS TABLE_SCHEMA,
  o.name AS TABLE_NAME, col AS COLUMN_NAME, ord AS ORDINAL_POSITION, NULL AS COLUMN_DEFAULT,
  CASE nullable WHEN 1 THEN 'YES' ELSE 'NO' END AS IS_NULLABLE, c.type AS DATA_TYPE,
  CASE WHEN c.type IN ('char','varchar','nchar','nvarchar','binary','varbinary') THEN length END AS CHARACTER_MAXIMUM_LENGTH,
  CASE WHEN c.type IN ('nchar','nvarchar') THEN (CASE WHEN length < 0 THEN -1 ELSE length * 2 END)
       WHEN c.type IN ('char','varchar','binary','varbinary') THEN length END AS CHARACTER_OCTET_LENGTH,
  CASE c.type WHEN 'int' THEN 10 WHEN 'bigint' THEN 19 WHEN 'smallint' THEN 5 WHEN 'tinyint' THEN 3
       WHEN 'float' THEN 53 WHEN 'real' THEN 24 WHEN 'money' THEN 19 WHEN 'smallmoney' THEN 10 WHEN 'decimal' THEN prec
       WHEN 'numeric' THEN prec END AS NUMERIC_PRECISION,
  CASE WHEN c.type IN ('int','bigint','smallint','tinyint','money','smallmoney','decimal','numeric') THEN
       (CASE WHEN c.type IN ('money','smallmoney') THEN 4 WHEN c.type IN ('decimal','numeric') THEN scale ELSE 0 END) END AS NUMERIC_SCALE,
  CASE c.type WHEN 'datetime' THEN 3 WHEN 'date' THEN 0 WHEN 'datetime2' THEN scale WHEN 'time' THEN scale
       WHEN 'datetimeoffset' THEN scale END AS DATETIME_PRECISION
  FROM __dv_columns c JOIN __dv_objects o ON o.iname = c.tbl;
CREATE VIEW IF NOT EXISTS __dv_is_tc AS
  SELECT dv_catalog() AS CONSTRAINT_CATALOG, o.schema_name AS CONSTRAINT_SCHEMA, i.name AS CONSTRAINT_NAME,
    dv_catalog() AS TABLE_CATALOG, o.schema_name AS TABLE_SCHEMA, o.name AS TABLE_NAME,
    CASE WHEN i.is_primary_key = 1 THEN 'PRIMARY KEY' ELSE 'UNIQUE' END AS CONSTRAINT_TYPE,
    'NO' AS IS_DEFERRABLE, 'NO' AS INITIALLY_DEFERRED
  FROM __dv_indexes i JOIN __dv_objects o ON o.iname = i.tbl WHERE i.is_primary_key = 1 OR i.is_unique_constraint = 1;
CREATE VIEW IF NOT EXISTS __dv_is_views AS SELECT dv_catalog() AS TABLE_CATALOG, schema_name AS TABLE_SCHEMA,
  name AS TABLE_NAME, (SELECT definition FROM __dv_tables t WHERE t.name = o.iname) AS VIEW_DEFINITION,
  'NONE' AS CHECK_OPTION, 'NO' AS IS_UPDATABLE FROM __dv_objects o WHERE type = 'V';
CREATE VIEW IF NOT EXISTS __dv_is_kcu AS
  SELECT dv_catalog() AS CONSTRAINT_CATALOG, o.schema_name AS CONSTRAINT_SCHEMA, i.name AS CONSTRAINT_NAME,
    dv_catalog() AS TABLE_CATALOG, o.schema_name AS TABLE_SCHEMA, o.name AS TABLE_NAME, ic.col AS COLUMN_NAME,
    ic.key_ordinal AS ORDINAL_POSITION
  FROM __dv_indexes i JOIN __dv_objects o ON o.iname = i.tbl
    JOIN __dv_index_columns ic ON ic.tbl = i.tbl AND ic.idx = i.name
  WHERE i.is_primary_key = 1 OR i.is_unique_constraint = 1;
CREATE VIEW IF NOT EXISTS __dv_sys_system_types AS SELECT column1 AS name, column2 AS system_type_id, column3 AS user_type_id,
  4 AS schema_id, 1 AS principal_id, column4 AS max_length, column5 AS precision, column6 AS scale,
  1 AS is_nullable, 0 AS is_user_defined, column2 = 240 AS is_assembly_type, 0 AS is_table_type
  FROM (VALUES ('image', 34, 34, 16, 0, 0), ('text', 35, 35, 16, 0, 0), ('uniqueidentifier', 36, 36, 16, 0, 0),
    ('date', 40, 40, 3, 10, 0), ('time', 41, 41, 5, 16, 7), ('datetime2', 42, 42, 8, 27, 7),
    ('datetimeoffset', 43, 43, 10, 34, 7), ('tinyint', 48, 48, 1, 3, 0), ('smallint', 52, 52, 2, 5, 0),
    ('int', 56, 56, 4, 10, 0), ('smalldatetime', 58, 58, 4, 16, 0), ('real', 59, 59, 4, 24, 0),
    ('money', 60, 60, 8, 19, 4), ('datetime', 61, 61, 8, 23, 3), ('float', 62, 62, 8, 53, 0),
    ('ntext', 99, 99, 16, 0, 0), ('bit', 104, 104, 1, 1, 0), ('decimal', 106, 106, 17, 38, 38),
    ('numeric', 108, 108, 17, 38, 38), ('smallmoney', 122, 122, 4, 10, 4), ('bigint', 127, 127, 8, 19, 0),
    ('varbinary', 165, 165, 8000, 0, 0), ('varchar', 167, 167, 8000, 0, 0), ('binary', 173, 173, 8000, 0, 0),
    ('char', 175, 175, 8000, 0, 0), ('timestamp', 189, 189, 8, 0, 0), ('xml', 241, 241, -1, 0, 0), ('sql_variant', 98, 98, 8016, 0, 0), ('hierarchyid', 240, 128, 892, 0, 0), ('geometry', 240, 129, -1, 0, 0), ('geography', 240, 130, -1, 0, 0), ('nvarchar', 231, 231, 8000, 0, 0),
    ('nchar', 239, 239, 8000, 0, 0), ('sysname', 231, 256, 256, 0, 0));
CREATE VIEW IF NOT EXISTS __dv_sys_types AS SELECT * FROM __dv_sys_system_types
  UNION ALL SELECT t.name, b.system_type_id, t.user_type_id, s.schema_id, NULL AS principal_id,
    CASE WHEN t.type IN ('nchar','nvarchar') THEN (CASE WHEN t.length < 0 THEN -1 ELSE t.length * 2 END)
         WHEN t.type IN ('char','varchar','binary','varbinary') THEN t.length
         WHEN t.type IN ('decimal','numeric') THEN (CASE WHEN t.prec <= 9 THEN 5 WHEN t.prec <= 19 THEN 9
              WHEN t.prec <= 28 THEN 13 ELSE 17 END)
         WHEN t.type = 'time' THEN (CASE WHEN t.scale <= 2 THEN 3 WHEN t.scale <= 4 THEN 4 ELSE 5 END)
         WHEN t.type = 'datetime2' THEN (CASE WHEN t.scale <= 2 THEN 6 WHEN t.scale <= 4 THEN 7 ELSE 8 END)
         WHEN t.type = 'datetimeoffset' THEN (CASE WHEN t.scale <= 2 THEN 8 WHEN t.scale <= 4 THEN 9 ELSE 10 END)
         ELSE b.max_length END,
    CASE WHEN t.type IN ('decimal','numeric') THEN t.prec
         WHEN t.type = 'time' THEN 8 + (CASE WHEN t.scale > 0 THEN t.scale + 1 ELSE 0 END)
         WHEN t.type = 'datetime2' THEN 19 + (CASE WHEN t.scale > 0 THEN t.scale + 1 ELSE 0 END)
         WHEN t.type = 'datetimeoffset' THEN 26 + (CASE WHEN t.scale > 0 THEN t.scale + 1 ELSE 0 END)
         ELSE b.precision END,
    CASE WHEN t.type IN ('decimal','numeric','time','datetime2','datetimeoffset') THEN t.scale ELSE b.scale END,
    t.is_nullable, 1, 0, 0
  FROM __dv_types t JOIN __dv_sys_system_types b ON b.name = t.type JOIN __dv_schemas s ON s.name = t.schema_name;
CREATE VIEW IF NOT EXISTS __dv_sys_tables AS SELECT o.name, o.object_id, s.schema_id, 'U' AS type,
  'USER_TABLE' AS type_desc, o.create_date, o.create_date AS modify_date
  FROM __dv_objects o JOIN __dv_schemas s ON s.name = o.schema_name WHERE o.type = 'U';
CREATE VIEW IF NOT EXISTS __dv_sys_views AS SELECT o.name, o.object_id, s.schema_id, 'V' AS type,
  'VIEW' AS type_desc, o.create_date, o.create_date AS modify_date
  FROM __dv_objects o JOIN __dv_schemas s ON s.name = o.schema_name WHERE o.type = 'V';
CREATE VIEW IF NOT EXISTS __dv_sys_objects AS SELECT o.name, o.object_id, s.schema_id,
  coalesce(p.object_id, 0) AS parent_object_id, o.type,
  CASE o.type WHEN 'U' THEN 'USER_TABLE' WHEN 'V' THEN 'VIEW' WHEN 'TR' THEN 'SQL_TRIGGER' END AS type_desc,
  o.create_date, o.create_date AS modify_date
  FROM __dv_objects o JOIN __dv_schemas s ON s.name = o.schema_name LEFT JOIN __dv_objects p ON p.iname = o.parent;
CREATE VIEW IF NOT EXISTS __dv_sys_schemas AS SELECT name, schema_id, 1 AS principal_id FROM __dv_schemas;
CREATE VIEW IF NOT EXISTS __dv_sys_columns AS SELECT o.object_id AS object_id, c.col AS name, c.ord AS column_id,
  c.type AS type_name,
  CASE WHEN c.type IN ('nchar','nvarchar') THEN (CASE WHEN c.length < 0 THEN -1 ELSE c.length * 2 END)
       WHEN c.type IN ('char','varchar','binary','varbinary') THEN c.length
       WHEN c.type IN ('int','real','smallmoney') THEN 4 WHEN c.type IN ('bigint','float','money','datetime') THEN 8
       WHEN c.type = 'smallint' THEN 2 WHEN c.type IN ('tinyint','bit') THEN 1 WHEN c.type = 'date' THEN 3
       WHEN c.type = 'time' THEN (CASE WHEN c.scale <= 2 THEN 3 WHEN c.scale <= 4 THEN 4 ELSE 5 END)
       WHEN c.type = 'datetime2' THEN (CASE WHEN c.scale <= 2 THEN 6 WHEN c.scale <= 4 THEN 7 ELSE 8 END)
       WHEN c.type = 'datetimeoffset' THEN (CASE WHEN c.scale <= 2 THEN 8 WHEN c.scale <= 4 THEN 9 ELSE 10 END)
       WHEN c.type = 'uniqueidentifier' THEN 16 WHEN c.type = 'timestamp' THEN 8 WHEN c.type = 'xml' THEN -1
       WHEN c.type = 'sql_variant' THEN 8016
       WHEN c.type = 'hierarchyid' THEN 892
       WHEN c.type IN ('geography', 'geometry') THEN -1
       WHEN c.type = 'smalldatetime' THEN 4
       WHEN c.type IN ('decimal','numeric') THEN (CASE WHEN c.prec <= 9 THEN 5 WHEN c.prec <= 19 THEN 9
         WHEN c.prec <= 28 THEN 13 ELSE 17 END)
       ELSE 17 END AS max_length,
  c.prec AS precision, c.scale AS scale, c.nullable AS is_nullable, c.is_identity AS is_identity,
  (SELECT system_type_id FROM __dv_sys_system_types t WHERE t.name = c.type) AS system_type_id,
  coalesce((SELECT user_type_id FROM __dv_column_types ct WHERE ct.tbl = c.tbl AND ct.col = c.col),
    (SELECT user_type_id FROM __dv_sys_system_types t WHERE t.name = c.type)) AS user_type_id,
  CASE WHEN c.computed IS NULL THEN 0 ELSE 1 END AS is_computed
  FROM __dv_columns c JOIN __dv_objects o ON o.iname = c.tbl;
CREATE VIEW IF NOT EXISTS __dv_sys_computed_columns AS SELECT c.*, cc.computed AS definition, 0 AS is_persisted
  FROM __dv_sys_columns c JOIN __dv_objects o ON o.object_id = c.object_id
    JOIN __dv_columns cc ON cc.tbl = o.iname AND cc.col = c.name WHERE cc.computed IS NOT NULL;
CREATE VIEW IF NOT EXISTS __dv_sys_triggers AS SELECT o.name, o.object_id, 1 AS parent_class,
  'OBJECT_OR_COLUMN' AS parent_class_desc, p.object_id AS parent_id, 'TR' AS type, 'SQL_TRIGGER' AS type_desc,
  o.create_date, o.create_date AS modify_date, 0 AS is_ms_shipped, t.is_disabled, 0 AS is_not_for_replication,
  t.is_instead_of AS is_instead_of_trigger
  FROM __dv_objects o JOIN __dv_triggers t ON t.name = o.iname JOIN __dv_objects p ON p.iname = o.parent WHERE o.type = 'TR';
CREATE VIEW IF NOT EXISTS __dv_sys_indexes AS SELECT o.object_id AS object_id, i.name AS name, i.index_id AS index_id,
  CASE WHEN i.index_id = 1 THEN 1 ELSE 2 END AS type,
  CASE WHEN i.index_id = 1 THEN 'CLUSTERED' ELSE 'NONCLUSTERED' END AS type_desc,
  i.is_unique AS is_unique, i.is_primary_key AS is_primary_key, i.is_unique_constraint AS is_unique_constraint,
  0 AS is_disabled, 0 AS has_filter
  FROM __dv_indexes i JOIN __dv_objects o ON o.iname = i.tbl;
CREATE VIEW IF NOT EXISTS __dv_sys_index_columns AS SELECT o.object_id AS object_id, i.index_id AS index_id,
  ic.key_ordinal AS index_column_id, c.ord AS column_id, ic.key_ordinal AS key_ordinal,
  ic.is_descending AS is_descending_key, 0 AS is_included_column
  FROM __dv_index_columns ic JOIN __dv_indexes i ON i.tbl = ic.tbl AND i.name = ic.idx
    JOIN __dv_objects o ON o.iname = ic.tbl JOIN __dv_columns c ON c.tbl = ic.tbl AND c.col = ic.col;
)SQL";

// Brings a database file made by an older server up to this layout: new
// columns of __dv_tables, catalogue views rebuilt, keys recorded as indexes.
static bool upgradeDatabase(sqlite3 *db, std::string *error)
{
    sqlite3_stmt *st = nullptr;
    int version = 0;
    if (sqlite3_prepare_v2(db, "PRAGMA main.user_version", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        version = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    if (version >= 4) return true;
    bool hasSchemaCol = false;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_table_info('__dv_tables') WHERE name = 'schema_name'", -1, &st, nullptr) == SQLITE_OK)
        hasSchemaCol = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    bool hasComputedCol = false;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_table_info('__dv_columns') WHERE name = 'computed'", -1, &st, nullptr) == SQLITE_OK)
        hasComputedCol = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    std::string sql = "BEGIN IMMEDIATE;";
    if (!hasComputedCol) sql += "ALTER TABLE __dv_columns ADD COLUMN computed nvarchar(4000);";
    if (!hasSchemaCol)
        sql += "ALTER TABLE __dv_tables ADD COLUMN schema_name nvarchar(128) COLLATE NOCASE DEFAULT 'dbo';"
               "ALTER TABLE __dv_tables ADD COLUMN obj_name nvarchar(128) COLLATE NOCASE;"
               "ALTER TABLE __dv_tables ADD COLUMN type char(2) DEFAULT 'U';"
               "ALTER TABLE __dv_tables ADD COLUMN parent nvarchar(128) COLLATE NOCASE;"
               "ALTER TABLE __dv_tables ADD COLUMN definition nvarchar(4000);"
               // Keys of the old layout: the primary key from pk_ord, a unique constraint per column.
               "INSERT OR IGNORE INTO __dv_indexes SELECT name, pk_name, 1, 1, 1, 0 FROM __dv_tables WHERE pk_name IS NOT NULL;"
               "INSERT INTO __dv_index_columns SELECT tbl, (SELECT pk_name FROM __dv_tables WHERE name = tbl), pk_ord, col, 0"
               "  FROM __dv_columns WHERE pk_ord > 0;"
               "INSERT OR IGNORE INTO __dv_indexes SELECT tbl, uq_name, 2 + ord, 1, 0, 1 FROM __dv_columns WHERE uq_name IS NOT NULL;"
               "INSERT INTO __dv_index_columns SELECT tbl, uq_name, 1, col, 0 FROM __dv_columns WHERE uq_name IS NOT NULL;";
    for (const char *v : {"__dv_objects", "__dv_is_tables", "__dv_is_columns", "__dv_is_tc", "__dv_is_kcu", "__dv_sys_tables",
                          "__dv_sys_views", "__dv_sys_objects", "__dv_sys_schemas", "__dv_sys_columns", "__dv_sys_indexes",
                          "__dv_sys_index_columns", "__dv_sys_types", "__dv_sys_computed_columns", "__dv_sys_triggers",
                          "__dv_is_views", "__dv_sys_system_types"})
        sql += std::string("DROP VIEW IF EXISTS ") + v + ";";
    sql += kDatabaseViews;
    sql += "PRAGMA main.user_version = 4; COMMIT;";
    if (!execOn(db, sql, error)) {
        execOn(db, "ROLLBACK", nullptr);
        return false;
    }
    return true;
}

static bool prepareDatabase(sqlite3 *db, std::string *error)
{
    return execOn(db, kDatabaseTables, error) && upgradeDatabase(db, error) && execOn(db, kDatabaseViews, error);
}

bool Engine::Impl::initDatabaseFile(const std::string &path, const std::string &dataLogical,
                                    const std::string &logLogical, std::string *error)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        if (error) *error = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close_v2(db);
        return false;
    }
    static const std::string dummy;
    registerFunctions(db, &dummy);
    bool ok = execOn(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF", error) && prepareDatabase(db, error)
        && execOn(db, "INSERT OR REPLACE INTO __dv_dbinfo VALUES ('data', " + quoteLiteral(dataLogical) + "), ('log', "
                          + quoteLiteral(logLogical) + ")", error);
    sqlite3_close_v2(db);
    return ok;
}

static bool writeLogFile(const std::string &path, int64_t sizeKb)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fputs("DORVANE-LOG 1\n", f);
    bool ok = std::fflush(f) == 0;
    std::fclose(f);
    if (ok && sizeKb > 0) std::filesystem::resize_file(path, std::uintmax_t(sizeKb) * 1024);
    return ok;
}

bool Engine::Impl::materialise(DbInfo &info, std::string *error)
{
    if (!info.pending) return true;
    const DbFile *data = info.dataFile();
    const DbFile *log = info.logFile();
    if (!data) return false;
    if (!initDatabaseFile(data->physical, data->logical, log ? log->logical : info.name + "_log", error)) return false;
    if (log && !fileExists(log->physical)) writeLogFile(log->physical, 0);
    catalog.markCreated(info.name);
    info.pending = false;
    return true;
}

bool Engine::Impl::inUse(const std::string &db, const SessionImpl *self) const
{
    std::string l = lower(db);
    for (const auto &[spid, s] : sessions) {
        if (s == self) continue;
        if (iequals(s->dbName, db) || s->attachedDbs.count(l)) return true;
    }
    return false;
}

sqlite3 *Engine::Impl::openConnection(const std::string &path, const std::string *currentDb, std::string *error)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        if (error) *error = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 30000);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    registerFunctions(db, currentDb);
    std::string err;
    if (!execOn(db, "PRAGMA synchronous=OFF; ATTACH DATABASE " + quoteLiteral(catalog.path()) + " AS dvcat; PRAGMA dvcat.synchronous=OFF", &err)
        || !prepareDatabase(db, &err)) {
        if (error) *error = err;
        sqlite3_close_v2(db);
        return nullptr;
    }
    return db;
}

// ---------------------------------------------------------------- Engine

Engine::Engine(EngineOptions opts) : d(std::make_unique<Impl>())
{
    d->opts = std::move(opts);
    // Paths are built as dataDir + "/" + name: without a folder they would
    // land in the file-system root. No folder means the current one.
    if (d->opts.dataDir.empty())
        d->opts.dataDir = ".";
}

Engine::~Engine() = default;

const EngineOptions &Engine::options() const { return d->opts; }

bool Engine::checkLogin(const std::string &user, const std::string &password, std::string *name)
{
    std::lock_guard<std::mutex> lock(d->mu);
    return d->catalog.checkLogin(user, password, name);
}

bool Engine::start(std::string *error)
{
    std::lock_guard<std::mutex> lock(d->mu);
    std::error_code ec;
    std::filesystem::create_directories(d->opts.dataDir, ec);
    if (!dirExists(d->opts.dataDir)) {
        if (error) *error = "cannot create data folder " + d->opts.dataDir;
        return false;
    }
    // Paths the server reports and resolves against it are absolute.
    d->opts.dataDir = std::filesystem::absolute(d->opts.dataDir, ec).lexically_normal().string();
    while (d->opts.dataDir.size() > 1 && d->opts.dataDir.back() == '/') d->opts.dataDir.pop_back();
    std::filesystem::create_directories(d->backupDir(), ec);
    if (!d->catalog.open(d->opts.dataDir, d->opts.compat2000 ? 80 : 150, error)) return false;
    struct Sys { const char *name; int dbid; const char *data; const char *log; const char *dl; const char *ll; };
    static const Sys sys[] = {
        {"master", 1, "master.mdf", "mastlog.ldf", "master", "mastlog"},
        {"tempdb", 2, "tempdb.mdf", "templog.ldf", "tempdev", "templog"},
        {"model", 3, "model.mdf", "modellog.ldf", "modeldev", "modellog"},
        {"msdb", 4, "MSDBData.mdf", "MSDBLog.ldf", "MSDBData", "MSDBLog"},
    };
    for (const auto &s : sys) {
        std::string dataPath = d->opts.dataDir + "/" + s.data;
        std::string logPath = d->opts.dataDir + "/" + s.log;
        auto info = d->catalog.find(s.name);
        if (!info) {
            DbInfo ni;
            ni.name = s.name;
            ni.dbid = s.dbid;
            ni.files.push_back({s.dl, dataPath, 0, 8192, -1, 8192, false});
            ni.files.push_back({s.ll, logPath, 1, 8192, -1, 8192, false});
            if (!d->catalog.add(ni, error)) return false;
        }
        // tempdb starts empty on every start, as SQL Server re-creates it.
        if (std::string(s.name) == "tempdb")
            for (const char *ext : {"", "-wal", "-shm"}) ::unlink((dataPath + ext).c_str());
        if (!fileExists(dataPath) && !d->initDatabaseFile(dataPath, s.dl, s.ll, error)) return false;
        if (!fileExists(logPath)) writeLogFile(logPath, 0);
    }
    return true;
}

std::unique_ptr<Session> Engine::openSession(const std::string &user, const std::string &database, int spid, Message *err)
{
    std::lock_guard<std::mutex> lock(d->mu);
    std::string want = database.empty() ? "master" : database;
    auto info = d->catalog.find(want);
    std::string error;
    auto fail = [&]() -> std::unique_ptr<Session> {
        if (err) {
            err->number = 4060;
            err->severity = 11;
            err->state = 1;
            err->text = "Cannot open database \"" + want + "\" requested by the login. The login failed.";
        }
        return nullptr;
    };
    if (!info || !d->materialise(*info, &error)) return fail();
    auto s = std::make_unique<SessionImpl>(d.get(), user, spid);
    if (!s->open(*info, &error)) return fail();
    d->sessions[spid] = s.get();
    return s;
}

// ---------------------------------------------------------------- SessionImpl basics

SessionImpl::SessionImpl(Engine::Impl *engine, std::string user, int spid)
    : m_engine(engine), m_user(std::move(user)), m_spid(spid)
{
}

SessionImpl::~SessionImpl()
{
    if (m_conn) {
        if (m_txnOpen) execSimple("ROLLBACK");
        m_trancount = 0;
        detachAll();
        sqlite3_close_v2(m_conn);
    }
    std::lock_guard<std::mutex> lock(m_engine->mu);
    // Local temporary tables end with the connection that made them.
    if (m_usedTemp) m_engine->dropTempTables(m_spid);
    auto it = m_engine->sessions.find(m_spid);
    if (it != m_engine->sessions.end() && it->second == this) m_engine->sessions.erase(it);
}

static int progressHandler(void *p)
{
    auto *sink = *static_cast<ResultSink **>(p);
    return sink && sink->cancelled() ? 1 : 0;
}

bool SessionImpl::open(const DbInfo &db, std::string *error)
{
    const DbFile *data = db.dataFile();
    if (!data) return false;
    std::string newName = db.name;
    sqlite3 *c = m_engine->openConnection(data->physical, &dbName, error);
    if (!c) return false;
    if (m_conn) {
        attachedDbs.clear(); // closing the connection drops its attachments
        sqlite3_close_v2(m_conn);
    }
    m_conn = c;
    dbName = newName;
    sqlite3_progress_handler(m_conn, 20000, progressHandler, &m_sink);
    sqlite3_create_function(m_conn, "dv_capture", -1, SQLITE_UTF8, this, [](sqlite3_context *ctx, int argc, sqlite3_value **argv) {
        auto *self = static_cast<SessionImpl *>(sqlite3_user_data(ctx));
        self->capture(sqlite3_value_int(argv[0]) != 0, argc - 1, argv + 1);
        sqlite3_result_null(ctx);
    }, nullptr, nullptr);
    return true;
}

std::string SessionImpl::currentDatabase() const
{
    std::lock_guard<std::mutex> lock(m_engine->mu);
    return dbName;
}

bool SessionImpl::execSimple(const std::string &sql, std::string *error)
{
    return execOn(m_conn, sql, error);
}

void SessionImpl::detachAll()
{
    if (m_txnOpen || !m_conn) return;
    std::set<std::string> names;
    {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        names.swap(attachedDbs);
        // tempdb (home of #tables) stays attached: it can be neither dropped,
        // detached nor restored, and re-attaching it per statement is slow.
        if (names.erase("tempdb")) attachedDbs.insert("tempdb");
    }
    for (const auto &n : names) execSimple("DETACH DATABASE " + quoteIdent("dv$" + n));
}

std::string SessionImpl::schemaFor(const std::string &db)
{
    if (db.empty() || iequals(db, dbName)) return "main";
    std::string l = lower(db);
    std::string alias = "dv$" + l;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        if (attachedDbs.count(l)) return alias;
        auto info = m_engine->catalog.find(db);
        std::string err;
        if (!info || !m_engine->materialise(*info, &err) || !info->dataFile())
            throw makeError(911, 16, "Database '" + db + "' does not exist. Make sure that the name is entered correctly.", true);
        path = info->dataFile()->physical;
        attachedDbs.insert(l);
    }
    std::string err;
    if (!execSimple("ATTACH DATABASE " + quoteLiteral(path) + " AS " + quoteIdent(alias), &err)) {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        attachedDbs.erase(l);
        throw makeError(911, 16, "Database '" + db + "' does not exist. Make sure that the name is entered correctly.", true);
    }
    // As for the current database: no sync per statement.
    execSimple("PRAGMA " + quoteIdent(alias) + ".synchronous=OFF");
    return alias;
}

std::optional<TableMeta> SessionImpl::table(const std::string &schema, const std::string &name)
{
    if (schema == "temp") {
        for (const auto &[var, tv] : m_tableVars)
            if (tv.first == name || iequals(var, name)) return tv.second;
        for (const auto &f : m_firing) {
            if (name != f.inserted && name != f.deleted) continue;
            TableMeta m = f.meta;
            m.name = name;
            m.objName = name == f.inserted ? "inserted" : "deleted";
            return m;
        }
        return std::nullopt;
    }
    sqlite3_stmt *st = nullptr;
    const std::string q = quoteIdent(schema);
    std::string sql = "SELECT col, type, length, prec, scale, nullable, is_identity, pk_ord, computed, (SELECT t.name || char(31) "
        "|| t.user_type_id FROM " + q + ".__dv_column_types ct JOIN " + q + ".__dv_types t ON t.user_type_id = ct.user_type_id "
        "WHERE ct.tbl = c.tbl AND ct.col = c.col) FROM " + q + ".__dv_columns c WHERE tbl = ?1 ORDER BY ord";
    if (sqlite3_prepare_v2(m_conn, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) { sqlite3_finalize(st); return std::nullopt; }
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    TableMeta meta;
    meta.name = name;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ColumnMeta c;
        c.name = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        c.type = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
        c.length = sqlite3_column_int(st, 2);
        c.precision = sqlite3_column_int(st, 3);
        c.scale = sqlite3_column_int(st, 4);
        c.nullable = sqlite3_column_int(st, 5) != 0;
        c.identity = sqlite3_column_int(st, 6) != 0;
        c.pkOrdinal = sqlite3_column_int(st, 7);
        if (const unsigned char *computed = sqlite3_column_text(st, 8)) c.computed = reinterpret_cast<const char *>(computed);
        if (const unsigned char *alias = sqlite3_column_text(st, 9)) {
            const std::string a = reinterpret_cast<const char *>(alias);
            c.userType = a.substr(0, a.find('\x1f'));
            c.userTypeId = std::atoi(a.c_str() + c.userType.size() + 1);
        }
        meta.columns.push_back(c);
    }
    sqlite3_finalize(st);
    if (meta.columns.empty()) return std::nullopt;
    sql = "SELECT coalesce(schema_name, 'dbo'), coalesce(obj_name, name), coalesce(type, 'U') FROM " + quoteIdent(schema)
        + ".__dv_tables WHERE name = ?1";
    meta.objName = name;
    if (sqlite3_prepare_v2(m_conn, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) {
            meta.owner = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            meta.objName = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
            meta.type = reinterpret_cast<const char *>(sqlite3_column_text(st, 2));
        }
    }
    sqlite3_finalize(st);
    return meta;
}

std::optional<std::string> SessionImpl::lookup(const std::string &sql, const std::vector<std::string> &args)
{
    sqlite3_stmt *st = nullptr;
    std::optional<std::string> out;
    if (sqlite3_prepare_v2(m_conn, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        for (size_t k = 0; k < args.size(); ++k) sqlite3_bind_text(st, int(k + 1), args[k].c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char *v = sqlite3_column_text(st, 0);
            out = v ? std::string(reinterpret_cast<const char *>(v)) : std::string();
        }
    }
    sqlite3_finalize(st);
    return out;
}

// sa is sysadmin: the dbo user, schema dbo. Other logins use the default
// schema of their user in the current database (CREATE/ALTER USER ... WITH
// DEFAULT_SCHEMA), dbo when they have none.
std::string SessionImpl::defaultSchema()
{
    if (iequals(m_user, "sa")) return "dbo";
    auto s = lookup("SELECT coalesce(default_schema, 'dbo') FROM main.__dv_users WHERE login = ?1 "
                    "OR (login IS NULL AND name = ?1) ORDER BY login IS NULL LIMIT 1", {m_user});
    return s && !s->empty() ? *s : std::string("dbo");
}

bool SessionImpl::schemaExists(const std::string &dbSchema, const std::string &name)
{
    return lookup("SELECT 1 FROM " + quoteIdent(dbSchema) + ".__dv_schemas WHERE name = ?1", {name}).has_value();
}

// The declaration of a stored base type: "varchar(20)", "decimal(9,2)", "time(3)".
static std::string typeDecl(const std::string &type, const std::string &length, const std::string &prec,
                            const std::string &scale)
{
    if (type == "decimal" || type == "numeric") return type + "(" + prec + "," + scale + ")";
    if (isTemporalType(type)) return type + "(" + scale + ")";
    if (type == "char" || type == "varchar" || type == "nchar" || type == "nvarchar" || type == "binary" || type == "varbinary")
        return type + "(" + (length == "-1" ? std::string("max") : length) + ")";
    return type;
}

// Unqualified, a type name is looked for in the default schema, then in dbo.
std::optional<AliasType> SessionImpl::aliasType(const std::string &schema, const std::string &name)
{
    const std::string first = schema.empty() ? defaultSchema() : schema;
    const std::string second = schema.empty() ? std::string("dbo") : schema;
    auto rows = catalogRows("SELECT name, type, length, prec, scale, is_nullable, user_type_id FROM main.__dv_types "
                            "WHERE name = ?1 AND schema_name IN (?2, ?3) ORDER BY schema_name = ?3 LIMIT 1",
                            {Value::text(name), Value::text(first), Value::text(second)});
    if (rows.empty()) return std::nullopt;
    const auto &r = rows.front();
    AliasType a;
    a.name = r[0].value_or("");
    a.decl = typeDecl(r[1].value_or(""), r[2].value_or("0"), r[3].value_or("0"), r[4].value_or("0"));
    a.nullable = r[5].value_or("1") != "0";
    a.userTypeId = std::atoi(r[6].value_or("0").c_str());
    return a;
}

std::string SessionImpl::objectType(const std::string &dbSchema, const std::string &internal)
{
    return lookup("SELECT coalesce(type, 'U') FROM " + quoteIdent(dbSchema) + ".__dv_tables WHERE name = ?1", {internal})
        .value_or(std::string());
}

Value SessionImpl::variable(const std::string &lowerName, bool *found)
{
    auto it = m_vars.find(lowerName);
    *found = it != m_vars.end();
    return *found ? it->second.second : Value::null();
}

ColumnMeta SessionImpl::variableType(const std::string &lowerName)
{
    auto it = m_vars.find(lowerName);
    return it == m_vars.end() ? ColumnMeta() : it->second.first;
}

Value SessionImpl::systemValue(const std::string &u)
{
    if (u == "@@VERSION") return Value::text(m_engine->versionText());
    if (u == "@@SERVERNAME") return Value::text(m_engine->opts.serverName);
    if (u == "@@SERVICENAME") return Value::text("MSSQLSERVER");
    if (u == "@@SPID") return Value::integer(m_spid);
    if (u == "@@ROWCOUNT") return Value::integer(m_rowcount);
    if (u == "@@IDENTITY") return m_identity;
    if (u == "SCOPE_IDENTITY()") return m_scopeIdentity;
    if (u == "@@TRANCOUNT") return Value::integer(m_trancount);
    if (u == "@@ERROR") return Value::integer(m_error);
    if (std::optional<Value> e = errorValue(u)) return *e;
    if (u == "@@LANGUAGE") return Value::text(m_language);
    if (u == "@@DATEFIRST") return Value::integer(m_dateFirst);
    if (u == "@@DATEFORMAT") return Value::text(m_dateFormat);
    if (u == "@@MAX_PRECISION") return Value::integer(38);
    if (u == "@@TEXTSIZE") return Value::integer(2147483647);
    if (u == "@@OPTIONS") return Value::integer(5496);
    if (u == "@@LOCK_TIMEOUT") return Value::integer(-1);
    if (u == "@@NESTLEVEL") return Value::integer(0);
    if (u == "@@FETCH_STATUS") return Value::integer(m_fetchStatus);
    if (u == "@@CURSOR_ROWS") return Value::integer(m_cursorRows);
    if (u.rfind("CURSOR_STATUS\x1f", 0) == 0) { // CURSOR_STATUS\x1fscope\x1fname
        const size_t sep = u.find('\x1f', 14);
        return cursorStatus(u.substr(14, sep - 14), u.substr(sep + 1));
    }
    if (u == "@@MICROSOFTVERSION") return Value::integer(m_engine->opts.compat2000 ? 134219767 : 251660240);
    if (u == "DB_NAME()") return Value::text(dbName);
    if (u == "DB_ID()") {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        auto info = m_engine->catalog.find(dbName);
        return info ? Value::integer(info->dbid) : Value::null();
    }
    if (u == "SUSER_SNAME()" || u == "SUSER_NAME()") return Value::text(m_user);
    if (u == "HOST_NAME()") return Value::text(m_hostName);
    if (u == "APP_NAME()") return Value::text(m_appName);
    if (u == "USER_NAME()") {
        if (iequals(m_user, "sa")) return Value::text("dbo");
        auto n = lookup("SELECT name FROM main.__dv_users WHERE login = ?1 OR (login IS NULL AND name = ?1) "
                        "ORDER BY login IS NULL LIMIT 1", {m_user});
        return Value::text(n ? *n : std::string("dbo"));
    }
    return Value::text("");
}

bool SessionImpl::identityInsert(const std::string &t)
{
    return !m_identityInsert.empty() && iequals(m_identityInsert, t);
}

// A separator no identifier typed in a batch contains, then the session id.
static std::string tempSuffix(int spid) { return "\x1f" + std::to_string(spid); }

std::string SessionImpl::localTempName(const std::string &name)
{
    m_usedTemp = true;
    return name + tempSuffix(m_spid);
}

// Drops the #tables of session `spid` from tempdb (caller holds mu).
void Engine::Impl::dropTempTables(int spid)
{
    auto info = catalog.find("tempdb");
    if (!info || !info->dataFile()) return;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(info->dataFile()->physical.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 30000);
        const std::string like = "%" + tempSuffix(spid);
        std::vector<std::string> names;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name FROM __dv_tables WHERE name LIKE ?1", -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, like.c_str(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(st) == SQLITE_ROW) names.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        }
        sqlite3_finalize(st);
        for (const auto &n : names)
            execOn(db, "DROP TABLE IF EXISTS " + quoteIdent(n) + "; DELETE FROM __dv_columns WHERE tbl = " + quoteLiteral(n)
                           + "; DELETE FROM __dv_column_types WHERE tbl = " + quoteLiteral(n)
                           + "; DELETE FROM __dv_tables WHERE name = " + quoteLiteral(n), nullptr);
    }
    sqlite3_close_v2(db);
}

// ---------------------------------------------------------------- reporting

void SessionImpl::message(Run &r, int number, int severity, const std::string &text, int line, int state,
                          const std::string &procedure)
{
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = text;
    m.line = line;
    m.procedure = procedure;
    if (severity > 10) ++m_errorCount;
    if (trapError(m)) return;
    if (severity > 10) r.anyError = true;
    r.sink.message(m);
}

void SessionImpl::report(Run &r, const SqlError &e, int line)
{
    Message m = e.msg;
    m.line = line;
    if (m.severity > 10) ++m_errorCount;
    if (trapError(m)) return;
    if (m.severity > 10) r.anyError = true;
    r.sink.message(m);
}

void SessionImpl::done(Run &r, bool error, bool hasCount, uint64_t count)
{
    r.anyDone = true;
    // A statement whose error a TRY block caught ends without the error flag.
    r.sink.done(r.done, error && !m_caught, hasCount && !m_nocount, count);
}

namespace {

bool startsWith(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// The text after a message's prefix.
std::string after(const std::string &msg, const char *prefix)
{
    return msg.substr(std::strlen(prefix));
}

std::string stripSchema(const std::string &s)
{
    size_t p = s.find('.');
    return p == std::string::npos ? s : s.substr(p + 1);
}

// SQLite's errors about names: a table or column that is missing or
// ambiguous, or a table that already exists (208, 207, 209, 2714).
std::optional<SqlError> nameError(const std::string &msg, const Translation &tr)
{
    if (startsWith(msg, "no such table: ")) {
        std::string t = stripSchema(after(msg, "no such table: "));
        auto it = tr.writtenNames.find(lower(t));
        return makeError(208, 16, "Invalid object name '" + (it != tr.writtenNames.end() ? it->second : t) + "'.", true);
    }
    if (startsWith(msg, "no such column: ")) {
        std::string c = after(msg, "no such column: ");
        size_t p = c.find_last_of('.');
        if (p != std::string::npos) c = c.substr(p + 1);
        return makeError(207, 16, "Invalid column name '" + c + "'.", true);
    }
    if (startsWith(msg, "ambiguous column name: "))
        return makeError(209, 16, "Ambiguous column name '" + stripSchema(after(msg, "ambiguous column name: ")) + "'.", true);
    if (startsWith(msg, "table ") && msg.find(" already exists") != std::string::npos) {
        std::string t = msg.substr(6, msg.find(" already exists") - 6);
        if (t.size() > 1 && t.front() == '"') t = t.substr(1, t.size() - 2);
        return makeError(2714, 16, "There is already an object named '" + stripSchema(t) + "' in the database.");
    }
    return std::nullopt;
}

// Error 515 from "NOT NULL constraint failed: table.column"; `currentDb` names the table's database.
SqlError notNullError(const std::string &msg, const Translation &tr, const std::string &currentDb)
{
    std::string tc = after(msg, "NOT NULL constraint failed: ");
    size_t p = tc.rfind('.');
    std::string t = p == std::string::npos ? tr.table : tc.substr(0, p);
    std::string c = p == std::string::npos ? tc : tc.substr(p + 1);
    std::string db = currentDb;
    if (tr.schema.rfind("dv$", 0) == 0) db = tr.schema.substr(3);
    if (t.find('.') == std::string::npos) t = "dbo." + t; // internal names of other schemas hold theirs
    // A table variable is named as written ("@t").
    std::string where = tr.schema == "temp" ? tr.table : db + "." + t;
    SqlError e = makeError(515, 16, "Cannot insert the value NULL into column '" + c + "', table '" + where
                           + "'; column does not allow nulls. " + (tr.verb == "UPDATE" ? "UPDATE" : "INSERT") + " fails.");
    e.msg.state = 2;
    return e;
}

// Error 2601 from "UNIQUE constraint failed: ...". Key constraints are checked
// by triggers; what reaches here is a unique index, named from `conn`'s schema.
SqlError uniqueIndexError(sqlite3 *conn, const std::string &msg, const Translation &tr)
{
    std::string tc = after(msg, "UNIQUE constraint failed: ");
    tc = tc.substr(0, tc.find(", "));
    std::string t = tc.substr(0, tc.rfind('.'));
    std::string index;
    sqlite3_stmt *st = nullptr;
    std::string q = "SELECT name FROM " + quoteIdent(tr.schema.empty() ? "main" : tr.schema)
        + ".sqlite_master WHERE type = 'index' AND tbl_name = ?1 AND name LIKE ?2";
    if (sqlite3_prepare_v2(conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, t.c_str(), -1, SQLITE_TRANSIENT);
        std::string like = t + "$%";
        sqlite3_bind_text(st, 2, like.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) {
            index = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            index = index.substr(t.size() + 1);
        }
    }
    sqlite3_finalize(st);
    return makeError(2601, 14, "Cannot insert duplicate key row in object '" + (t.find('.') == std::string::npos ? "dbo." + t : t)
                     + "' with unique index '" + index + "'.");
}

// Error 547 for a table variable's CHECK constraint (the type checks raise their own errors).
SqlError checkConstraintError(const Translation &tr, const std::string &currentDb)
{
    std::string db = tr.schema == "temp" ? "tempdb" : currentDb;
    std::string table = tr.schema == "temp" ? tr.table : "dbo." + tr.table;
    return makeError(547, 16, "The " + (tr.verb.empty() ? std::string("INSERT") : tr.verb)
                     + " statement conflicted with the CHECK constraint \"CK__" + tr.table + "\". The conflict occurred in database \""
                     + db + "\", table \"" + table + "\".");
}

// SQLite's errors that name no object: unknown functions, syntax, interruption,
// locks, misplaced aggregates and unequal UNIONs; anything else is 8180.
SqlError statementError(const std::string &msg)
{
    if (startsWith(msg, "no such function: "))
        return makeError(195, 15, "'" + after(msg, "no such function: ") + "' is not a recognized built-in function name.", true);
    if (msg.find("syntax error") != std::string::npos) {
        size_t q = msg.find("near \"");
        std::string near = q == std::string::npos ? "" : msg.substr(q + 6, msg.find('"', q + 6) - q - 6);
        return makeError(102, 15, "Incorrect syntax near '" + near + "'.", true);
    }
    if (msg == "interrupted") return makeError(0, 0, "", true);
    if (msg.find("database is locked") != std::string::npos || msg.find("database table is locked") != std::string::npos)
        return makeError(1222, 16, "Lock request time out period exceeded.");
    if (startsWith(msg, "misuse of aggregate") || msg.find("aggregate functions are not allowed") != std::string::npos)
        return makeError(147, 15, "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in a HAVING clause or a select list, and the column being aggregated is an outer reference.", true);
    if (msg.find("SELECTs to the left and right of UNION") != std::string::npos)
        return makeError(205, 16, "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal number of expressions in their target lists.", true);
    return makeError(8180, 16, "Statement(s) could not be prepared. " + msg, true);
}

} // namespace

SqlError SessionImpl::mapSqliteError(const std::string &msg, const Translation &tr)
{
    int number = 0, severity = 0;
    std::string text;
    if (decodeError(msg, number, severity, text)) {
        bool abort = number == 245 || number == 8114 || number == 241;
        SqlError e = makeError(number, severity, text, abort);
        if (number == 2627) e.msg.state = 1;
        return e;
    }
    if (auto e = nameError(msg, tr)) return *e;
    if (startsWith(msg, "NOT NULL constraint failed: ")) return notNullError(msg, tr, dbName);
    if (startsWith(msg, "UNIQUE constraint failed: ")) return uniqueIndexError(m_conn, msg, tr);
    if (startsWith(msg, "CHECK constraint failed")) return checkConstraintError(tr, dbName);
    return statementError(msg);
}

bool SessionImpl::prepare(const std::string &sql, const std::vector<Value> &params, sqlite3_stmt **st, std::string *error)
{
    *st = nullptr;
    if (sqlite3_prepare_v2(m_conn, sql.c_str(), -1, st, nullptr) != SQLITE_OK) {
        *error = sqlite3_errmsg(m_conn);
        sqlite3_finalize(*st);
        *st = nullptr;
        return false;
    }
    int n = sqlite3_bind_parameter_count(*st);
    for (int k = 1; k <= n && size_t(k) <= params.size(); ++k) {
        const Value &v = params[size_t(k - 1)];
        switch (v.kind) {
        case Value::Null: sqlite3_bind_null(*st, k); break;
        case Value::Int: sqlite3_bind_int64(*st, k, v.i); break;
        case Value::Float: sqlite3_bind_double(*st, k, v.d); break;
        case Value::Text: sqlite3_bind_text(*st, k, v.s.data(), int(v.s.size()), SQLITE_TRANSIENT); break;
        case Value::Blob: sqlite3_bind_blob(*st, k, v.s.data(), int(v.s.size()), SQLITE_TRANSIENT); break;
        }
    }
    return true;
}

Value SessionImpl::eval(const std::vector<Token> &toks, size_t begin, size_t end, bool variant)
{
    Translator t(toks, this, m_engine->opts.compat2000);
    Translation tr = t.translateExpr(begin, end, variant);
    sqlite3_stmt *st = nullptr;
    std::string err;
    if (!prepare(tr.sql.front(), tr.params, &st, &err)) throw mapSqliteError(err, tr);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        std::string msg = sqlite3_errmsg(m_conn);
        sqlite3_finalize(st);
        throw mapSqliteError(msg, tr);
    }
    Value v = columnValue(st, 0);
    sqlite3_finalize(st);
    return v;
}

// The stored text of a date or time variable given `text` (read in the
// session's DATEFORMAT); 241 for text that is no date.
static std::string temporalVariableText(const std::string &text, const ColumnMeta &m)
{
    std::string out;
    bool ok;
    bool outOfRange = false;
    if (m.type == "smalldatetime") ok = normaliseSmallDateTime(text, out, outOfRange);
    else if (m.type == "datetime") ok = normaliseDateTime(text, out);
    else if (m.type == "date") {
        ok = normaliseTemporal(text, "datetime2", 0, out);
        out = out.substr(0, 10);
    } else ok = normaliseTemporal(text, m.type, m.scale, out);
    if (outOfRange)
        throw makeError(242, 16, "The conversion of a varchar data type to a smalldatetime data type resulted in an "
                        "out-of-range value.", true);
    if (!ok) throw makeError(241, 16, "Conversion failed when converting date and/or time from character string.", true);
    return out;
}

void SessionImpl::setVariable(const std::string &name, const Value &v)
{
    auto it = m_vars.find(name);
    if (it == m_vars.end()) return;
    const ColumnMeta &m = it->second.first;
    Value out = v;
    if (v.kind != Value::Null) {
        if (m.type == "int" || m.type == "bigint" || m.type == "smallint" || m.type == "tinyint" || m.type == "bit") {
            if (v.kind == Value::Float) out = Value::integer(int64_t(v.d));
            else if (v.kind == Value::Text) {
                char *e = nullptr;
                long long x = std::strtoll(v.s.c_str(), &e, 10);
                if (!e || *e) throw makeError(245, 16, "Conversion failed when converting the varchar value '" + v.s + "' to data type " + m.type + ".", true);
                out = Value::integer(x);
            }
            if (m.type == "bit" && out.kind == Value::Int) out.i = out.i != 0;
        } else if (m.type == "float" || m.type == "real") {
            if (v.kind == Value::Int) out = Value::real(double(v.i));
            else if (v.kind == Value::Text) out = Value::real(std::atof(v.s.c_str()));
            if (m.type == "real") out.d = double(float(out.d));
        } else if (m.type == "decimal" || m.type == "numeric" || m.type == "money" || m.type == "smallmoney") {
            // Kept exact, as text with the variable's scale.
            num::Dec d;
            const bool ok = v.kind == Value::Int ? (d.units = static_cast<long>(v.i), true)
                : v.kind == Value::Float ? (d = num::fromDouble(v.d), true) : num::parse(v.s, d);
            if (!ok) throw makeError(8114, 16, "Error converting data type varchar to numeric.", true);
            const num::Type t = num::typeFromName(m.type, m.precision, m.scale);
            d = num::rescale(d, t.scale);
            if (!num::fits(d, t))
                throw makeError(8115, 16, "Arithmetic overflow error converting expression to data type "
                                + std::string(t.kind == num::Type::Decimal ? "numeric" : m.type) + ".", true);
            out = Value::text(num::format(d));
        } else if (v.kind == Value::Text
                   && (isTemporalType(m.type) || m.type == "datetime" || m.type == "smalldatetime" || m.type == "date")) {
            out = Value::text(temporalVariableText(valueText(v), m));
        } else if (m.type == "varbinary" || m.type == "binary") {
            out = Value::blob(valueText(v));
            if (m.type == "binary" && m.length > 0) out.s.resize(size_t(m.length), '\0');
        } else if (m.type == "sql_variant") {
            out = v.kind == Value::Text && isVariantText(v.s) ? v : Value::text(variantOfValue(v));
        } else if (m.type == "hierarchyid") {
            out = Value::blob(hierarchyIdBytes(v));
        } else if (m.type == "geography" || m.type == "geometry") {
            out = Value::blob(spatialBytes(v, m.type == "geography"));
        } else if (m.type == "xml") {
            XmlError e;
            std::string stored;
            if (!checkXml(valueText(v), &e, &stored)) throw makeError(e.number, 16, e.text);
            out = Value::text(stored);
        } else {
            std::string s = valueText(v);
            if (m.length > 0) {
                size_t n = 0, i = 0;
                for (; i < s.size(); ++i) if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) { if (n == size_t(m.length)) break; ++n; }
                s = s.substr(0, i);
            }
            if (m.length > 0 && (m.type == "char" || m.type == "nchar")) s = padText(s, size_t(m.length), m.type == "nchar");
            out = Value::text(s);
        }
    }
    it->second.second = out;
}

} // namespace ts
