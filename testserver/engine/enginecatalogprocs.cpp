// The catalogue procedures a DBA types first (sp_who, sp_helpdb, sp_help,
// sp_tables, sp_columns, sp_databases, sp_spaceused) and the informational
// DBCC commands (CHECKDB, SQLPERF(LOGSPACE)), with SQL Server's result
// columns, messages and errors.
#include "engine/enginesession.h"

#include "engine/backup.h"
#include "base/textcollation.h"
#include "engine/enginefunctions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace ts {

namespace {

ColumnDef col(const char *name, SqlType type, int length = 0, bool nullable = true)
{
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.nullable = nullable;
    return c;
}

// nchar(n) values arrive blank-padded from SQL Server.
Value padded(const std::string &s, size_t n)
{
    size_t chars = 0;
    for (unsigned char ch : s) if ((ch & 0xC0) != 0x80) ++chars;
    return Value::text(chars >= n ? s : s + std::string(n - chars, ' '));
}

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// SQL Server's STR(x, width, 2) + ' MB', as sp_helpdb shows db_size.
std::string paddedMb(double mb)
{
    std::string s = fixed(mb, 2);
    if (s.size() < 10) s = std::string(10 - s.size(), ' ') + s;
    return s + " MB";
}

// "Dec  8 2026" from "YYYY-MM-DD ...".
std::string shortDate(const std::string &iso)
{
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int y = 0, m = 0, d = 0;
    if (std::sscanf(iso.c_str(), "%d-%d-%d", &y, &m, &d) != 3 || m < 1 || m > 12) return iso;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s %2d %d", months[m - 1], d, y);
    return buf;
}

// LIKE-style pattern match (% and _), case-insensitive, for the catalogue procedures' filters.
bool likeMatch(const std::string &pat, const std::string &s, size_t p = 0, size_t i = 0)
{
    while (p < pat.size()) {
        char c = pat[p];
        if (c == '%') {
            for (size_t k = i; k <= s.size(); ++k)
                if (likeMatch(pat, s, p + 1, k)) return true;
            return false;
        }
        if (i >= s.size()) return false;
        if (c != '_' && std::tolower(static_cast<unsigned char>(c)) != std::tolower(static_cast<unsigned char>(s[i])))
            return false;
        ++p;
        ++i;
    }
    return i == s.size();
}

// Strips [brackets] and an optional "dbo." / "db.dbo." prefix from an object name argument.
std::string plainObjectName(const std::string &arg, std::string *schema = nullptr, std::string *db = nullptr)
{
    std::vector<std::string> parts;
    std::string cur;
    bool bracket = false;
    for (char c : arg) {
        if (c == '[' && !bracket) { bracket = true; continue; }
        if (c == ']' && bracket) { bracket = false; continue; }
        if (c == '.' && !bracket) { parts.push_back(cur); cur.clear(); continue; }
        cur += c;
    }
    parts.push_back(cur);
    if (schema) *schema = parts.size() >= 2 ? parts[parts.size() - 2] : "";
    if (db) *db = parts.size() >= 3 ? parts[parts.size() - 3] : "";
    return parts.back();
}

struct TypeInfo {
    int odbc;       // ODBC 2 type code (sp_columns DATA_TYPE)
    int sqlType;    // SQL_DATA_TYPE
    int ssType;     // SS_DATA_TYPE (nullable variant when the column allows NULL)
};

TypeInfo typeInfo(const ColumnMeta &c)
{
    const std::string &t = c.type;
    bool n = c.nullable;
    if (t == "int") return {4, 4, n ? 38 : 56};
    if (t == "bigint") return {-5, -5, n ? 38 : 127};
    if (t == "smallint") return {5, 5, n ? 38 : 52};
    if (t == "tinyint") return {-6, -6, n ? 38 : 48};
    if (t == "bit") return {-7, -7, 50};
    if (t == "float") return {6, 6, n ? 109 : 62};
    if (t == "real") return {7, 7, n ? 109 : 59};
    if (t == "decimal") return {3, 3, n ? 106 : 55};
    if (t == "numeric") return {2, 2, n ? 108 : 63};
    if (t == "money") return {3, 3, n ? 110 : 60};
    if (t == "smallmoney") return {3, 3, n ? 110 : 122};
    if (t == "datetime") return {11, 9, n ? 111 : 61};
    if (t == "smalldatetime") return {11, 9, n ? 111 : 58};
    if (t == "date") return {-9, -9, 0};
    if (t == "nvarchar") return {c.length < 0 ? -10 : -9, c.length < 0 ? -10 : -9, 39};
    if (t == "varchar") return {c.length < 0 ? -1 : 12, c.length < 0 ? -1 : 12, 39};
    if (t == "nchar") return {-8, -8, 39};
    if (t == "char") return {1, 1, 47};
    if (t == "binary") return {-2, -2, 45};
    return {c.length < 0 ? -4 : -3, c.length < 0 ? -4 : -3, 37}; // varbinary
}

// Storage length in bytes as sp_help shows it.
int storageLength(const ColumnMeta &c)
{
    const std::string &t = c.type;
    if (t == "int" || t == "real" || t == "smallmoney" || t == "smalldatetime") return 4;
    if (t == "bigint" || t == "float" || t == "money" || t == "datetime") return 8;
    if (t == "smallint") return 2;
    if (t == "tinyint" || t == "bit") return 1;
    if (t == "date") return 3;
    if (t == "decimal" || t == "numeric") return c.precision <= 9 ? 5 : c.precision <= 19 ? 9 : c.precision <= 28 ? 13 : 17;
    if (t == "nvarchar" || t == "nchar") return c.length < 0 ? -1 : c.length * 2;
    return c.length;
}

// A column declared with an alias type shows the alias's name.
std::string typeDisplay(const ColumnMeta &c)
{
    return c.userType.empty() ? c.type : c.userType;
}

bool isCharType(const std::string &t)
{
    return t == "nvarchar" || t == "varchar" || t == "nchar" || t == "char";
}


using TextRows = std::vector<std::vector<std::optional<std::string>>>;

// A file's size as the catalogue gives it, or as it has grown on disk.
long long fileKb(const DbFile &f)
{
    return std::max<long long>(f.sizeKb, (fileSize(f.physical) + 1023) / 1024);
}

// The catalogue's databases in the order `sql` (a query of their names) lists them; the caller holds the engine lock.
std::vector<DbInfo> listedDatabases(Catalog &catalog, const char *sql)
{
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(catalog.db(), sql, -1, &st, nullptr);
    std::vector<std::string> names;
    while (sqlite3_step(st) == SQLITE_ROW) names.push_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    std::vector<DbInfo> dbs;
    for (const auto &n : names) if (auto info = catalog.find(n)) dbs.push_back(*info);
    return dbs;
}

// The first value of a one-value query as a number, or `fallback` when there is none.
long long firstNumber(const TextRows &rows, long long fallback)
{
    return rows.empty() || !rows[0][0] ? fallback : std::atoll(rows[0][0]->c_str());
}

struct WhoSession {
    int spid;
    std::string login, db;
    bool self;
};

std::vector<ColumnDef> whoColumns(bool compat2000)
{
    int cmdLen = compat2000 ? 16 : 26;
    std::vector<ColumnDef> cols = {col("spid", SqlType::SmallInt, 0, false), col("ecid", SqlType::SmallInt, 0, false),
        col("status", SqlType::NChar, 30, false), col("loginame", SqlType::NChar, 128), col("hostname", SqlType::NChar, 128, false),
        col("blk", SqlType::Char, 5), col("dbname", SqlType::NChar, 128), col("cmd", SqlType::NChar, cmdLen, false)};
    if (!compat2000) cols.push_back(col("request_id", SqlType::Int, 0, false));
    return cols;
}

std::vector<std::vector<Value>> whoRows(const std::vector<WhoSession> &sessions, bool compat2000)
{
    size_t cmdLen = compat2000 ? 16 : 26;
    std::vector<std::vector<Value>> rows;
    for (const auto &p : sessions) {
        std::vector<Value> row = {Value::integer(p.spid), Value::integer(0), padded(p.self ? "runnable" : "sleeping", 30),
            padded(p.login, 128), padded("", 128), padded("0", 5), padded(p.db, 128),
            padded(p.self ? "SELECT" : "AWAITING COMMAND", cmdLen)};
        if (!compat2000) row.push_back(Value::integer(0));
        rows.push_back(row);
    }
    return rows;
}

std::vector<ColumnDef> who2Columns()
{
    return {col("SPID", SqlType::Char, 5, false), col("Status", SqlType::VarChar, 30),
        col("Login", SqlType::NVarChar, 128), col("HostName", SqlType::VarChar, 128), col("BlkBy", SqlType::Char, 5),
        col("DBName", SqlType::NVarChar, 128), col("Command", SqlType::VarChar, 16), col("CPUTime", SqlType::Int),
        col("DiskIO", SqlType::BigInt), col("LastBatch", SqlType::VarChar, 14), col("ProgramName", SqlType::VarChar, 128),
        col("SPID", SqlType::Char, 5, false), col("REQUESTID", SqlType::Int, 0, false)};
}

std::vector<std::vector<Value>> who2Rows(const std::vector<WhoSession> &sessions)
{
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char last[32];
    std::strftime(last, sizeof last, "%m/%d %H:%M:%S", &tm);
    std::vector<std::vector<Value>> rows;
    for (const auto &p : sessions) {
        std::string spid = std::to_string(p.spid);
        rows.push_back({padded(spid, 5), Value::text(p.self ? "RUNNABLE" : "sleeping"), Value::text(p.login),
            Value::text("  ."), padded("  .", 5), Value::text(p.db), Value::text(p.self ? "SELECT INTO" : "AWAITING COMMAND"),
            Value::integer(0), Value::integer(0), Value::text(last), Value::text(""), padded(spid, 5), Value::integer(0)});
    }
    return rows;
}

// sp_helpdb's row for one database; `props` holds its collation and compatibility level.
std::vector<Value> helpdbRow(const DbInfo &d, const std::pair<std::string, int> &props)
{
    long long kb = 0;
    for (const auto &f : d.files) kb += fileKb(f);
    bool simple = iequals(d.name, "master") || iequals(d.name, "tempdb") || iequals(d.name, "msdb");
    std::string status = "Status=ONLINE, Updateability=READ_WRITE, UserAccess=MULTI_USER, Recovery="
        + std::string(simple ? "SIMPLE" : "FULL") + ", Version=" + (props.second == 80 ? "539" : "904") + ", Collation="
        + props.first + ", SQLSortOrder=52, IsAutoCreateStatistics, IsAutoUpdateStatistics";
    return {Value::text(d.name), Value::text(paddedMb(double(kb) / 1024.0)), Value::text("sa"), Value::integer(d.dbid),
            Value::text(shortDate(d.crdate)), Value::text(status), Value::integer(props.second)};
}

// sp_helpdb's second result set for one named database: its files.
std::vector<std::vector<Value>> helpdbFileRows(const DbInfo &d)
{
    std::vector<std::vector<Value>> files;
    int id = 0;
    for (const auto &f : d.files) {
        ++id;
        std::string growth = f.percentGrowth ? std::to_string(f.growth) + "%" : std::to_string(f.growth) + " KB";
        files.push_back({padded(f.logical, 128), Value::integer(id), padded(f.physical, 260),
                         f.type == 0 ? Value::text("PRIMARY") : Value::null(),
                         Value::text(std::to_string(fileKb(f)) + " KB"),
                         Value::text(f.maxKb < 0 ? "Unlimited" : std::to_string(f.maxKb) + " KB"),
                         Value::text(growth), Value::text(f.type == 0 ? "data only" : "log only")});
    }
    return files;
}

struct ListedObject {
    std::string owner, name, type;
};

// What sp_tables can list besides the user tables and views: the INFORMATION_SCHEMA and sys views.
void addSystemViews(std::vector<ListedObject> &list)
{
    static const char *isViews[] = {"COLUMNS", "KEY_COLUMN_USAGE", "TABLE_CONSTRAINTS", "TABLES"};
    for (const char *v : isViews) list.push_back({"INFORMATION_SCHEMA", v, "VIEW"});
    static const char *sysViews[] = {"backup_devices", "columns", "databases", "master_files", "objects", "sysdatabases",
                                     "sysdevices", "tables"};
    for (const char *v : sysViews) list.push_back({"sys", v, "SYSTEM TABLE"});
}

// sp_tables' @table_type: a list of quoted types; absent lists every type.
bool typeWanted(const std::optional<std::string> &types, const std::string &t)
{
    if (!types) return true;
    return types->find("'" + t + "'") != std::string::npos || types->find("\"" + t + "\"") != std::string::npos;
}

// sp_columns' PRECISION, LENGTH and CHAR_OCTET_LENGTH of a column.
struct OdbcSize {
    int precision = 0, length = 0;
    Value octet = Value::null();
};

OdbcSize odbcSize(const ColumnMeta &c)
{
    bool chars = isCharType(c.type) || c.type == "varbinary" || c.type == "binary";
    bool unicode = c.type == "nvarchar" || c.type == "nchar";
    static const std::map<std::string, std::pair<int, int>> fixedSizes = {
        {"int", {10, 4}}, {"bigint", {19, 8}}, {"smallint", {5, 2}}, {"tinyint", {3, 1}}, {"bit", {1, 1}},
        {"float", {15, 8}}, {"real", {7, 4}}, {"money", {19, 21}}, {"smallmoney", {10, 12}}, {"datetime", {23, 16}}, {"smalldatetime", {16, 16}},
        {"date", {10, 20}}};
    OdbcSize z;
    if (auto it = fixedSizes.find(c.type); it != fixedSizes.end()) {
        z.precision = it->second.first;
        z.length = it->second.second;
    } else if (c.type == "decimal" || c.type == "numeric") {
        z.precision = c.precision;
        z.length = c.precision + 2;
    } else if (chars) {
        z.precision = c.length < 0 ? (unicode ? 1073741823 : 2147483647) : c.length;
        z.length = c.length < 0 ? 2147483647 : unicode ? c.length * 2 : c.length;
        z.octet = Value::integer(z.length);
    }
    return z;
}

// sp_columns' row for column `c` (ordinal `ord`) of `meta`; `defaults` are pragma_table_info's names and defaults.
std::vector<Value> columnsRow(const std::string &current, const TableMeta &meta, const ColumnMeta &c, int ord,
                              const TextRows &defaults)
{
    TypeInfo ti = typeInfo(c);
    bool chars = isCharType(c.type) || c.type == "varbinary" || c.type == "binary";
    OdbcSize z = odbcSize(c);
    Value scale = Value::null(), radix = Value::null();
    if (!chars && c.type != "float" && c.type != "real")
        scale = Value::integer(c.type == "money" || c.type == "smallmoney" ? 4 : c.type == "datetime" ? 3 : c.scale);
    if (!chars && c.type != "datetime" && c.type != "smalldatetime" && c.type != "date") radix = Value::integer(10);
    Value def = Value::null();
    for (const auto &d : defaults)
        if (d[0] && iequals(*d[0], c.name) && d[1]) def = Value::text("(" + *d[1] + ")");
    std::string typeName = c.identity ? c.type + " identity" : c.type;
    return {Value::text(current), Value::text("dbo"), Value::text(meta.name), Value::text(c.name),
            Value::integer(ti.odbc), Value::text(typeName), Value::integer(z.precision), Value::integer(z.length),
            scale, radix, Value::integer(c.nullable ? 1 : 0), Value::null(), def,
            Value::integer(ti.sqlType), c.type == "datetime" || c.type == "smalldatetime" ? Value::integer(3) : Value::null(), z.octet,
            Value::integer(ord), Value::text(c.nullable ? "YES" : "NO"), Value::integer(ti.ssType)};
}

std::vector<ColumnDef> columnsColumns()
{
    return {col("TABLE_QUALIFIER", SqlType::NVarChar, 128), col("TABLE_OWNER", SqlType::NVarChar, 128),
            col("TABLE_NAME", SqlType::NVarChar, 128), col("COLUMN_NAME", SqlType::NVarChar, 128),
            col("DATA_TYPE", SqlType::SmallInt), col("TYPE_NAME", SqlType::NVarChar, 128), col("PRECISION", SqlType::Int),
            col("LENGTH", SqlType::Int), col("SCALE", SqlType::SmallInt), col("RADIX", SqlType::SmallInt),
            col("NULLABLE", SqlType::SmallInt), col("REMARKS", SqlType::VarChar, 254),
            col("COLUMN_DEF", SqlType::NVarChar, 4000), col("SQL_DATA_TYPE", SqlType::SmallInt),
            col("SQL_DATETIME_SUB", SqlType::SmallInt), col("CHAR_OCTET_LENGTH", SqlType::Int),
            col("ORDINAL_POSITION", SqlType::Int), col("IS_NULLABLE", SqlType::VarChar, 254),
            col("SS_DATA_TYPE", SqlType::TinyInt)};
}

// sp_help's Prec and Scale texts of a column (blank where the type has none).
std::pair<std::string, std::string> helpPrecScale(const ColumnMeta &c)
{
    if (c.type == "int") return {"10", "0"};
    if (c.type == "bigint") return {"19", "0"};
    if (c.type == "smallint") return {"5", "0"};
    if (c.type == "tinyint") return {"3", "0"};
    if (c.type == "float") return {"53", ""};
    if (c.type == "real") return {"24", ""};
    if (c.type == "money") return {"19", "4"};
    if (c.type == "smallmoney") return {"10", "4"};
    if (c.type == "decimal" || c.type == "numeric") return {std::to_string(c.precision), std::to_string(c.scale)};
    return {"", ""};
}

std::vector<std::vector<Value>> helpColumnRows(const TableMeta &meta)
{
    auto five = [](const std::string &s) { return Value::text(s.size() >= 5 ? s : std::string(5 - s.size(), ' ') + s); };
    std::vector<std::vector<Value>> rows;
    for (const auto &c : meta.columns) {
        auto [prec, scale] = helpPrecScale(c);
        bool chars = isCharType(c.type);
        rows.push_back({Value::text(c.name), Value::text(typeDisplay(c)), Value::text("no"), Value::integer(storageLength(c)),
                        five(prec), five(scale), Value::text(c.nullable ? "yes" : "no"),
                        Value::text(chars || c.type == "varbinary" ? "no" : "(n/a)"),
                        Value::text(chars || c.type == "varbinary" ? "no" : "(n/a)"),
                        chars ? Value::text("SQL_Latin1_General_CP1_CI_AS") : Value::null()});
    }
    return rows;
}

std::vector<ColumnDef> helpColumnColumns()
{
    return {col("Column_name", SqlType::NVarChar, 128), col("Type", SqlType::NVarChar, 128),
            col("Computed", SqlType::VarChar, 35), col("Length", SqlType::Int), col("Prec", SqlType::Char, 5),
            col("Scale", SqlType::Char, 5), col("Nullable", SqlType::VarChar, 35),
            col("TrimTrailingBlanks", SqlType::VarChar, 35), col("FixedLenNullInSource", SqlType::VarChar, 35),
            col("Collation", SqlType::NVarChar, 128)};
}

// "a, b" of the primary key's columns in key order.
std::string primaryKeyColumns(const TableMeta &meta)
{
    std::vector<const ColumnMeta *> keyCols;
    for (const auto &c : meta.columns) if (c.pkOrdinal > 0) keyCols.push_back(&c);
    std::sort(keyCols.begin(), keyCols.end(), [](auto *a, auto *b) { return a->pkOrdinal < b->pkOrdinal; });
    std::string pkCols, sep;
    for (auto *c : keyCols) { pkCols += sep + c->name; sep = ", "; }
    return pkCols;
}

// sp_help's constraint row for a key: the same "(n/a)" actions and states for each.
std::vector<Value> keyConstraintRow(const char *type, const std::string &name, const std::string &keys)
{
    return {Value::text(type), Value::text(name), Value::text("(n/a)"), Value::text("(n/a)"),
            Value::text("(n/a)"), Value::text("(n/a)"), Value::text(keys)};
}

// DBCC SQLPERF(LOGSPACE)'s row for one database.
std::vector<Value> logSpaceRow(const DbInfo &d)
{
    const DbFile *log = d.logFile();
    const DbFile *data = d.dataFile();
    double logKb = log ? double(fileKb(*log)) : 512.0;
    // A small part of the log file holds its header; the rest is log space.
    double sizeMb = std::max(0.25, (logKb - 8.0) / 1024.0);
    // What the transaction log holds is what SQLite's write-ahead log holds.
    double walKb = data && !d.pending ? double(std::max(0LL, fileSize(data->physical + "-wal"))) / 1024.0 : 0.0;
    double used = std::min(100.0, std::max(0.5, walKb / 1024.0 / sizeMb * 100.0));
    return {Value::text(d.name), Value::real(sizeMb), Value::real(used), Value::integer(0)};
}

// What DBCC CHECKDB finds in a database file: SQLite's integrity problems and each user table's row count.
struct FileCheck {
    int problems = 0;
    std::vector<std::pair<std::string, long long>> objects;
};

std::vector<std::pair<std::string, long long>> tableRowCounts(sqlite3 *conn)
{
    std::vector<std::pair<std::string, long long>> objects;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(conn, "SELECT name FROM __dv_tables WHERE coalesce(type, 'U') = 'U' ORDER BY name", -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return objects;
    }
    std::vector<std::string> names;
    while (sqlite3_step(st) == SQLITE_ROW) names.push_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    for (const auto &n : names) {
        sqlite3_stmt *c = nullptr;
        long long rows = 0;
        if (sqlite3_prepare_v2(conn, ("SELECT count(*) FROM " + quoteIdent(n)).c_str(), -1, &c, nullptr) == SQLITE_OK
            && sqlite3_step(c) == SQLITE_ROW)
            rows = sqlite3_column_int64(c, 0);
        sqlite3_finalize(c);
        objects.push_back({n, rows});
    }
    return objects;
}

// SQLite checks the file for real; each problem it reports is a consistency error.
FileCheck checkDatabaseFile(const std::string &path)
{
    FileCheck check;
    sqlite3 *conn = nullptr;
    if (sqlite3_open_v2(path.c_str(), &conn, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        ++check.problems;
        sqlite3_close_v2(conn);
        return check;
    }
    sqlite3_busy_timeout(conn, 30000);
    registerTextFunctions(conn); // the check walks the indexes of text columns in their order
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(conn, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char *t = sqlite3_column_text(st, 0);
            if (!t || std::string(reinterpret_cast<const char *>(t)) != "ok") ++check.problems;
        }
    } else {
        ++check.problems;
    }
    sqlite3_finalize(st);
    check.objects = tableRowCounts(conn);
    sqlite3_close_v2(conn);
    return check;
}

} // namespace

// One catalogue procedure call: its arguments, the database it looks at, and
// its result sets, each followed by a DONEINPROC with the row count. The
// handlers, one per procedure, answer as SQL Server's own procedures do.
struct SessionImpl::CatalogProc {
    using Handler = Flow (CatalogProc::*)();
    struct Entry {
        std::vector<std::string> params; // named parameters must be the procedure's own
        Handler handler;
    };
    static const std::map<std::string, Entry> &procedures();

    SessionImpl &session;
    ProcCall &call;
    std::string current; // the session's database

    void result(const std::vector<ColumnDef> &cols, const std::vector<std::vector<Value>> &rows);
    void info(int number, const std::string &text);
    bool badArguments(const std::vector<std::string> &params);
    bool wrongQualifier(const std::optional<std::string> &qualifier);
    Flow missingObject(const std::string &name);
    TextRows userTables();
    std::optional<TableMeta> findTable(const TextRows &tables, const std::string &objectName, std::string *created,
                                       std::string *pk);

    std::optional<std::vector<WhoSession>> whoSessions();
    Flow who();
    Flow who2();
    Flow databases();
    Flow helpdb();
    Flow tables();
    Flow columns();
    Flow help();
    bool helpType(const std::string &name);
    void helpIdentity(const TableMeta &meta);
    void helpIndexes(const TableMeta &meta, const std::string &pk);
    std::vector<std::vector<Value>> createdIndexes(const TableMeta &meta);
    Flow spaceused();
    long long pagesOf(const std::string &object);
    Flow spaceusedObject(const TextRows &tables, const std::string &name, long long pageSize);
    Flow spaceusedDatabase(long long pageSize);
};

const std::map<std::string, SessionImpl::CatalogProc::Entry> &SessionImpl::CatalogProc::procedures()
{
    static const std::map<std::string, Entry> table = {
        {"sp_who", {{"@loginame"}, &CatalogProc::who}},
        {"sp_who2", {{"@loginame"}, &CatalogProc::who2}},
        {"sp_helpdb", {{"@dbname"}, &CatalogProc::helpdb}},
        {"sp_help", {{"@objname"}, &CatalogProc::help}},
        {"sp_tables", {{"@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fusepattern"}, &CatalogProc::tables}},
        {"sp_columns", {{"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@odbcver"}, &CatalogProc::columns}},
        {"sp_databases", {{}, &CatalogProc::databases}},
        {"sp_spaceused", {{"@objname", "@updateusage", "@mode", "@oneresultset", "@include_total_xtp_storage"},
                          &CatalogProc::spaceused}}};
    return table;
}

bool SessionImpl::isCatalogProc(const std::string &proc)
{
    return CatalogProc::procedures().count(proc) > 0;
}

// Runs a query on the session's connection and returns its rows as text (NULL as nullopt).
std::vector<std::vector<std::optional<std::string>>> SessionImpl::catalogRows(const std::string &sql,
                                                                              const std::vector<Value> &params)
{
    std::vector<std::vector<std::optional<std::string>>> out;
    sqlite3_stmt *st = nullptr;
    std::string err;
    if (!prepare(sql, params, &st, &err)) return out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::optional<std::string>> row;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            if (sqlite3_column_type(st, c) == SQLITE_NULL) row.push_back(std::nullopt);
            else row.push_back(std::string(reinterpret_cast<const char *>(sqlite3_column_text(st, c))));
        }
        out.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return out;
}

SessionImpl::Flow SessionImpl::runCatalogProc(const std::string &proc, const std::vector<std::pair<std::string, Value>> &args,
                                              Run &r, int line)
{
    ProcCall call{*this, proc, args, r, line};
    CatalogProc cp{*this, call, {}};
    const CatalogProc::Entry &entry = CatalogProc::procedures().at(proc);
    if (cp.badArguments(entry.params)) return call.finish();
    {
        std::lock_guard<std::mutex> lock(m_engine->mu);
        cp.current = dbName;
    }
    return (cp.*entry.handler)();
}

void SessionImpl::CatalogProc::result(const std::vector<ColumnDef> &cols, const std::vector<std::vector<Value>> &rows)
{
    call.r.sink.columns(cols);
    for (const auto &row : rows) call.r.sink.row(row);
    session.done(call.r, false, true, rows.size());
}

// An informational message from the procedure.
void SessionImpl::CatalogProc::info(int number, const std::string &text)
{
    session.message(call.r, number, 10, text, call.line, 1, call.proc);
}

// Errors 8144 (more unnamed arguments than parameters) and 8145 (a name that is not a parameter).
bool SessionImpl::CatalogProc::badArguments(const std::vector<std::string> &params)
{
    for (size_t k = 0; k < call.args.size(); ++k) {
        const std::string &n = call.args[k].first;
        if (n.empty()) {
            if (k >= params.size()) {
                call.error(8144, 16, "Procedure or function " + call.proc + " has too many arguments specified.", 2);
                return true;
            }
            continue;
        }
        if (std::find(params.begin(), params.end(), lower(n)) == params.end()) {
            call.error(8145, 16, n + " is not a parameter for procedure " + call.proc + ".", 1);
            return true;
        }
    }
    return false;
}

// Error 15250 when @table_qualifier names another database than the current one.
bool SessionImpl::CatalogProc::wrongQualifier(const std::optional<std::string> &qualifier)
{
    if (!qualifier || iequals(*qualifier, current)) return false;
    call.error(15250, 16, "The database name component of the object qualifier must be the name of the current database.");
    return true;
}

SessionImpl::Flow SessionImpl::CatalogProc::missingObject(const std::string &name)
{
    call.error(15009, 16, "The object '" + name + "' does not exist in database '" + current + "' or is invalid for this operation.");
    return call.finish();
}

// The current database's user tables: name, create_date, pk_name.
TextRows SessionImpl::CatalogProc::userTables()
{
    return session.catalogRows("SELECT name, create_date, pk_name FROM main.__dv_tables WHERE coalesce(type, 'U') = 'U' ORDER BY name", {});
}

// The user table an object name argument names ("t", "dbo.t", "db.dbo.t", brackets allowed).
std::optional<TableMeta> SessionImpl::CatalogProc::findTable(const TextRows &tables, const std::string &objectName,
                                                             std::string *created, std::string *pk)
{
    std::string schema, db;
    std::string plain = plainObjectName(objectName, &schema, &db);
    if (!db.empty() && !iequals(db, current)) return std::nullopt;
    if (!schema.empty() && !iequals(schema, "dbo")) return std::nullopt;
    for (const auto &t : tables)
        if (iequals(*t[0], plain)) {
            if (created) *created = t[1].value_or("");
            if (pk) *pk = t[2].value_or("");
            return session.table("main", *t[0]);
        }
    return std::nullopt;
}

// The sessions sp_who and sp_who2 list: all of them, or those @loginame picks
// (ACTIVE, a session id or a login name); error 15007 for an unknown login.
std::optional<std::vector<WhoSession>> SessionImpl::CatalogProc::whoSessions()
{
    auto filter = call.arg(0, "@loginame");
    std::vector<WhoSession> procs;
    {
        std::lock_guard<std::mutex> lock(session.m_engine->mu);
        for (const auto &[spid, s] : session.m_engine->sessions) procs.push_back({spid, s->m_user, s->dbName, s == &session});
    }
    if (!filter) return procs;
    std::string f = *filter;
    bool numeric = !f.empty() && std::all_of(f.begin(), f.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    if (iequals(f, "active")) {
        // ACTIVE leaves out sessions waiting for their next command.
        procs.erase(std::remove_if(procs.begin(), procs.end(), [](const WhoSession &p) { return !p.self; }), procs.end());
    } else if (numeric) {
        int id = std::atoi(f.c_str());
        procs.erase(std::remove_if(procs.begin(), procs.end(), [&](const WhoSession &p) { return p.spid != id; }), procs.end());
    } else {
        bool any = false;
        for (const auto &p : procs) any = any || iequals(p.login, f);
        if (!any && !iequals(f, "sa") && !iequals(f, session.m_user)) {
            call.error(15007, 16, "'" + f + "' is not a valid login or you do not have permission.");
            return std::nullopt;
        }
        procs.erase(std::remove_if(procs.begin(), procs.end(), [&](const WhoSession &p) { return !iequals(p.login, f); }), procs.end());
    }
    return procs;
}

SessionImpl::Flow SessionImpl::CatalogProc::who()
{
    auto procs = whoSessions();
    if (!procs) return call.finish();
    bool old = session.m_engine->opts.compat2000;
    result(whoColumns(old), whoRows(*procs, old));
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::who2()
{
    auto procs = whoSessions();
    if (!procs) return call.finish();
    result(who2Columns(), who2Rows(*procs));
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::databases()
{
    std::vector<DbInfo> dbs;
    {
        std::lock_guard<std::mutex> lock(session.m_engine->mu);
        dbs = listedDatabases(session.m_engine->catalog, "SELECT name FROM sysdatabases ORDER BY name COLLATE NOCASE");
    }
    std::vector<std::vector<Value>> rows;
    for (const auto &d : dbs) {
        long long kb = 0;
        for (const auto &f : d.files) kb += fileKb(f);
        rows.push_back({Value::text(d.name), Value::integer(kb), Value::null()});
    }
    result({col("DATABASE_NAME", SqlType::NVarChar, 128, false), col("DATABASE_SIZE", SqlType::Int),
            col("REMARKS", SqlType::VarChar, 254)}, rows);
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::helpdb()
{
    auto name = call.arg(0, "@dbname");
    std::vector<DbInfo> dbs;
    std::map<std::string, std::pair<std::string, int>> props; // collation, compatibility level
    {
        std::lock_guard<std::mutex> lock(session.m_engine->mu);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(session.m_engine->catalog.db(),
                           "SELECT name, collation_name, compatibility_level FROM sys_databases ORDER BY name COLLATE NOCASE",
                           -1, &st, nullptr);
        std::vector<std::string> names;
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            std::string n = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            const unsigned char *coll = sqlite3_column_text(st, 1);
            props[lower(n)] = {coll ? reinterpret_cast<const char *>(coll) : "", sqlite3_column_int(st, 2)};
            names.push_back(n);
        }
        sqlite3_finalize(st);
        for (const auto &n : names)
            if (!name || iequals(n, *name))
                if (auto info = session.m_engine->catalog.find(n)) dbs.push_back(*info);
    }
    if (name && dbs.empty()) {
        call.error(15010, 16, "The database '" + *name + "' does not exist. Supply a valid database name. To see available databases, use sys.databases.");
        return call.finish();
    }
    std::vector<std::vector<Value>> rows;
    for (const auto &d : dbs) rows.push_back(helpdbRow(d, props[lower(d.name)]));
    result({col("name", SqlType::NVarChar, 128, false), col("db_size", SqlType::NVarChar, 13),
            col("owner", SqlType::NVarChar, 128), col("dbid", SqlType::SmallInt, 0, false),
            col("created", SqlType::NVarChar, 11, false), col("status", SqlType::NVarChar, 600),
            col("compatibility_level", SqlType::TinyInt, 0, false)}, rows);
    if (name)
        result({col("name", SqlType::NChar, 128), col("fileid", SqlType::SmallInt), col("filename", SqlType::NChar, 260),
                col("filegroup", SqlType::NVarChar, 128), col("size", SqlType::NVarChar, 18),
                col("maxsize", SqlType::NVarChar, 18), col("growth", SqlType::NVarChar, 18), col("usage", SqlType::VarChar, 9)},
               helpdbFileRows(dbs.front()));
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::tables()
{
    auto tables = userTables();
    auto namePat = call.arg(0, "@table_name");
    auto ownerPat = call.arg(1, "@table_owner");
    auto types = call.arg(3, "@table_type");
    if (wrongQualifier(call.arg(2, "@table_qualifier"))) return call.finish();
    std::vector<ListedObject> list;
    for (const auto &t : tables) list.push_back({"dbo", *t[0], "TABLE"});
    for (const auto &v : session.catalogRows("SELECT schema_name, obj_name FROM main.__dv_tables WHERE type = 'V'", {}))
        list.push_back({v[0].value_or("dbo"), v[1].value_or(""), "VIEW"});
    addSystemViews(list);
    std::sort(list.begin(), list.end(), [](const ListedObject &a, const ListedObject &b) {
        if (a.type != b.type) return a.type < b.type;
        if (!iequals(a.owner, b.owner)) return lower(a.owner) < lower(b.owner);
        return lower(a.name) < lower(b.name);
    });
    std::vector<std::vector<Value>> rows;
    for (const auto &t : list) {
        if (namePat && !likeMatch(*namePat, t.name)) continue;
        if (ownerPat && !likeMatch(*ownerPat, t.owner)) continue;
        if (!typeWanted(types, t.type)) continue;
        rows.push_back({Value::text(current), Value::text(t.owner), Value::text(t.name), Value::text(t.type), Value::null()});
    }
    result({col("TABLE_QUALIFIER", SqlType::NVarChar, 128), col("TABLE_OWNER", SqlType::NVarChar, 128),
            col("TABLE_NAME", SqlType::NVarChar, 128), col("TABLE_TYPE", SqlType::VarChar, 32),
            col("REMARKS", SqlType::VarChar, 254)}, rows);
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::columns()
{
    auto tables = userTables();
    auto namePat = call.arg(0, "@table_name");
    auto ownerPat = call.arg(1, "@table_owner");
    auto colPat = call.arg(3, "@column_name");
    if (!namePat) return call.missing("@table_name");
    if (wrongQualifier(call.arg(2, "@table_qualifier"))) return call.finish();
    std::vector<std::vector<Value>> rows;
    for (const auto &t : tables) {
        if (!likeMatch(*namePat, *t[0])) continue;
        if (ownerPat && !likeMatch(*ownerPat, "dbo")) continue;
        auto meta = session.table("main", *t[0]);
        if (!meta) continue;
        auto defaults = session.catalogRows("SELECT name, dflt_value FROM pragma_table_info(?1)", {Value::text(*t[0])});
        int ord = 0;
        for (const auto &c : meta->columns) {
            ++ord;
            if (colPat && !likeMatch(*colPat, c.name)) continue;
            rows.push_back(columnsRow(current, *meta, c, ord, defaults));
        }
    }
    result(columnsColumns(), rows);
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::help()
{
    auto tables = userTables();
    auto name = call.arg(0, "@objname");
    if (!name) {
        std::vector<std::vector<Value>> rows;
        for (const auto &t : tables) rows.push_back({Value::text(*t[0]), Value::text("dbo"), Value::text("user table")});
        result({col("Name", SqlType::NVarChar, 128), col("Owner", SqlType::NVarChar, 128),
                col("Object_type", SqlType::NVarChar, 31)}, rows);
        return call.finish();
    }
    std::string created, pk;
    auto meta = findTable(tables, *name, &created, &pk);
    if (!meta) return helpType(*name) ? call.finish() : missingObject(*name);
    result({col("Name", SqlType::NVarChar, 128, false), col("Owner", SqlType::NVarChar, 128, false),
            col("Type", SqlType::NVarChar, 31, false), col("Created_datetime", SqlType::DateTime, 0, false)},
           {{Value::text(meta->name), Value::text("dbo"), Value::text("user table"), Value::text(created)}});
    result(helpColumnColumns(), helpColumnRows(*meta));
    helpIdentity(*meta);
    result({col("RowGuidCol", SqlType::NVarChar, 128)}, {{Value::text("No rowguidcol column defined.")}});
    result({col("Data_located_on_filegroup", SqlType::NVarChar, 128)}, {{Value::text("PRIMARY")}});
    helpIndexes(*meta, pk);
    info(15470, "No foreign keys reference table '" + meta->name + "', or you do not have permissions.");
    return call.finish();
}

// sp_help on an alias type: its base (storage) type, size and nullability.
bool SessionImpl::CatalogProc::helpType(const std::string &name)
{
    std::string schema, db;
    std::string plain = plainObjectName(name, &schema, &db);
    if (!db.empty() && !iequals(db, current)) return false;
    std::optional<AliasType> alias = session.aliasType(schema, plain);
    ColumnMeta c;
    if (!alias || !parseTypeName(alias->decl, c)) return false;
    auto [prec, scale] = helpPrecScale(c);
    const bool chars = isCharType(c.type);
    if (chars || c.type == "binary" || c.type == "varbinary") prec = std::to_string(c.length);
    auto number = [](const std::string &v) { return v.empty() ? Value::null() : Value::integer(std::atoll(v.c_str())); };
    result({col("Type_name", SqlType::NVarChar, 128, false), col("Storage_type", SqlType::NVarChar, 128, false),
            col("Length", SqlType::SmallInt), col("Prec", SqlType::Int), col("Scale", SqlType::Int),
            col("Nullable", SqlType::VarChar, 35), col("Default_name", SqlType::NVarChar, 776),
            col("Rule_name", SqlType::NVarChar, 776), col("Collation", SqlType::NVarChar, 128)},
           {{Value::text(alias->name), Value::text(c.type), Value::integer(storageLength(c)), number(prec), number(scale),
             Value::text(alias->nullable ? "yes" : "no"), Value::text("none"), Value::text("none"),
             chars ? Value::text("SQL_Latin1_General_CP1_CI_AS") : Value::null()}});
    return true;
}

void SessionImpl::CatalogProc::helpIdentity(const TableMeta &meta)
{
    const ColumnMeta *identity = nullptr;
    for (const auto &c : meta.columns) if (c.identity) identity = &c;
    std::vector<ColumnDef> idCols = {col("Identity", SqlType::NVarChar, 128), col("Seed", SqlType::Numeric),
                                     col("Increment", SqlType::Numeric), col("Not For Replication", SqlType::Int)};
    for (auto &c : idCols) if (c.type == SqlType::Numeric) { c.precision = 38; c.scale = 0; }
    if (identity) {
        result(idCols, {{Value::text(identity->name), Value::text("1"), Value::text("1"), Value::integer(0)}});
    } else {
        result(idCols, {{Value::text("No identity column defined."), Value::null(), Value::null(), Value::null()}});
    }
}

// sp_help's indexes (the primary key, unique constraints and CREATE INDEX indexes) and constraints.
void SessionImpl::CatalogProc::helpIndexes(const TableMeta &meta, const std::string &pk)
{
    std::vector<std::vector<Value>> idx;
    std::vector<std::vector<Value>> cons;
    std::string pkCols = primaryKeyColumns(meta);
    if (!pk.empty() && !pkCols.empty()) {
        idx.push_back({Value::text(pk), Value::text("clustered, unique, primary key located on PRIMARY"), Value::text(pkCols)});
        cons.push_back(keyConstraintRow("PRIMARY KEY (clustered)", pk, pkCols));
    }
    auto uniques = session.catalogRows("SELECT uq_name, col FROM main.__dv_columns WHERE tbl = ?1 AND uq_name IS NOT NULL ORDER BY ord",
                                       {Value::text(meta.name)});
    for (const auto &u : uniques) {
        idx.push_back({Value::text(*u[0]), Value::text("nonclustered, unique, unique key located on PRIMARY"), Value::text(*u[1])});
        cons.push_back(keyConstraintRow("UNIQUE (non-clustered)", *u[0], *u[1]));
    }
    for (auto &row : createdIndexes(meta)) idx.push_back(std::move(row));
    if (idx.empty()) {
        info(15472, "The object '" + meta.name + "' does not have any indexes, or you do not have permissions.");
    } else {
        result({col("index_name", SqlType::NVarChar, 128, false), col("index_description", SqlType::VarChar, 210),
                col("index_keys", SqlType::NVarChar, 2126)}, idx);
    }
    if (cons.empty()) {
        info(15469, "No constraints are defined on object '" + meta.name + "', or you do not have permissions.");
    } else {
        result({col("constraint_type", SqlType::NVarChar, 146), col("constraint_name", SqlType::NVarChar, 128),
                col("delete_action", SqlType::NVarChar, 9), col("update_action", SqlType::NVarChar, 9),
                col("status_enabled", SqlType::VarChar, 8), col("status_for_replication", SqlType::VarChar, 19),
                col("constraint_keys", SqlType::NVarChar, 2126)}, cons);
    }
}

// sp_help's rows for the indexes CREATE INDEX made (stored as "table$index").
std::vector<std::vector<Value>> SessionImpl::CatalogProc::createdIndexes(const TableMeta &meta)
{
    std::vector<std::vector<Value>> idx;
    auto indexes = session.catalogRows("SELECT name FROM main.sqlite_master WHERE type = 'index' AND tbl_name = ?1 AND name LIKE ?2 ORDER BY name",
                                       {Value::text(meta.name), Value::text(meta.name + "$%")});
    for (const auto &ix : indexes) {
        std::string full = *ix[0];
        auto info = session.catalogRows("SELECT name FROM pragma_index_info(?1) ORDER BY seqno", {Value::text(full)});
        auto uniq = session.catalogRows("SELECT \"unique\" FROM pragma_index_list(?1) WHERE name = ?2",
                                        {Value::text(meta.name), Value::text(full)});
        std::string keys, sep;
        for (const auto &k : info) { keys += sep + k[0].value_or(""); sep = ", "; }
        bool unique = !uniq.empty() && uniq[0][0] && *uniq[0][0] == "1";
        idx.push_back({Value::text(full.substr(meta.name.size() + 1)),
                       Value::text(std::string("nonclustered") + (unique ? ", unique" : "") + " located on PRIMARY"), Value::text(keys)});
    }
    return idx;
}

SessionImpl::Flow SessionImpl::CatalogProc::spaceused()
{
    auto tables = userTables();
    auto name = call.arg(0, "@objname");
    long long pageSize = firstNumber(session.catalogRows("PRAGMA main.page_size", {}), 4096);
    if (name) return spaceusedObject(tables, *name, pageSize);
    return spaceusedDatabase(pageSize);
}

// Pages a table or index uses, from SQLite's dbstat table when it is available.
long long SessionImpl::CatalogProc::pagesOf(const std::string &object)
{
    auto rows = session.catalogRows("SELECT count(*) FROM dbstat('main') WHERE name = ?1", {Value::text(object)});
    if (!rows.empty() && rows[0][0]) return std::atoll(rows[0][0]->c_str());
    return 1;
}

SessionImpl::Flow SessionImpl::CatalogProc::spaceusedObject(const TextRows &tables, const std::string &name, long long pageSize)
{
    auto kb = [&](long long pages) { return std::to_string(pages * pageSize / 1024) + " KB"; };
    auto meta = findTable(tables, name, nullptr, nullptr);
    if (!meta) return missingObject(name);
    auto count = session.catalogRows("SELECT count(*) FROM main." + quoteIdent(meta->name), {});
    long long data = pagesOf(meta->name);
    long long index = 0;
    auto idx = session.catalogRows("SELECT name FROM main.sqlite_master WHERE type = 'index' AND tbl_name = ?1", {Value::text(meta->name)});
    for (const auto &i : idx) index += pagesOf(*i[0]);
    // SQL Server reserves whole extents of 8 pages.
    long long used = data + index;
    long long reserved = (used + 7) / 8 * 8;
    std::string rows = count.empty() || !count[0][0] ? "0" : *count[0][0];
    result({col("name", SqlType::NVarChar, 128), col("rows", SqlType::Char, 20), col("reserved", SqlType::VarChar, 18),
            col("data", SqlType::VarChar, 18), col("index_size", SqlType::VarChar, 18), col("unused", SqlType::VarChar, 18)},
           {{Value::text(meta->name), padded(std::string(rows.size() < 20 ? 20 - rows.size() : 0, ' ') + rows, 20),
             Value::text(kb(reserved)), Value::text(kb(data)), Value::text(kb(index)), Value::text(kb(reserved - used))}});
    return call.finish();
}

SessionImpl::Flow SessionImpl::CatalogProc::spaceusedDatabase(long long pageSize)
{
    std::optional<DbInfo> info;
    {
        std::lock_guard<std::mutex> lock(session.m_engine->mu);
        info = session.m_engine->catalog.find(current);
    }
    long long dataKb = 0, logKb = 0;
    if (info)
        for (const auto &f : info->files) (f.type == 0 ? dataKb : logKb) += fileKb(f);
    long long pages = firstNumber(session.catalogRows("PRAGMA main.page_count", {}), 0);
    long long freePages = firstNumber(session.catalogRows("PRAGMA main.freelist_count", {}), 0);
    long long usedKb = (pages - freePages) * pageSize / 1024;
    long long indexKb = 0;
    auto idx = session.catalogRows("SELECT name FROM main.sqlite_master WHERE type = 'index'", {});
    for (const auto &i : idx) indexKb += pagesOf(*i[0]) * pageSize / 1024;
    indexKb = std::min(indexKb, usedKb);
    long long reservedKb = (usedKb + 63) / 64 * 64;
    result({col("database_name", SqlType::NVarChar, 128), col("database_size", SqlType::VarChar, 18),
            col("unallocated space", SqlType::VarChar, 18)},
           {{Value::text(current), Value::text(fixed(double(dataKb + logKb) / 1024.0, 2) + " MB"),
             Value::text(fixed(std::max(0.0, double(dataKb - reservedKb) / 1024.0), 2) + " MB")}});
    result({col("reserved", SqlType::VarChar, 18), col("data", SqlType::VarChar, 18), col("index_size", SqlType::VarChar, 18),
            col("unused", SqlType::VarChar, 18)},
           {{Value::text(std::to_string(reservedKb) + " KB"), Value::text(std::to_string(usedKb - indexKb) + " KB"),
             Value::text(std::to_string(indexKb) + " KB"), Value::text(std::to_string(reservedKb - usedKb) + " KB")}});
    return call.finish();
}

// ---------------------------------------------------------------- DBCC

// One informational DBCC command: its statement and the messages it sends
// (the informational ones left out under WITH NO_INFOMSGS).
struct SessionImpl::DbccCommand {
    SessionImpl &session;
    const Stmt &s;
    Run &r;
    bool quiet = false;

    void info(int number, const std::string &text);
    void completed();
    Flow incorrect();
    Flow sqlperf();
    Flow checkdb();
    bool checkdbTarget(std::string &target, bool &byId);
    std::optional<DbInfo> checkedDatabase(std::string &target, bool byId);
    Flow reportCheck(const DbInfo &db, const FileCheck &check);
};

SessionImpl::Flow SessionImpl::runDbccInfo(const Stmt &s, Run &r)
{
    DbccCommand dbcc{*this, s, r};
    for (size_t k = s.begin; k < s.end && k < r.toks.size(); ++k) dbcc.quiet = dbcc.quiet || r.toks[k].isWord("NO_INFOMSGS");
    if (s.name == "SQLPERF") return dbcc.sqlperf();
    return dbcc.checkdb();
}

void SessionImpl::DbccCommand::info(int number, const std::string &text)
{
    if (!quiet) session.message(r, number, 10, text, s.line);
}

void SessionImpl::DbccCommand::completed()
{
    info(2528, "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
}

SessionImpl::Flow SessionImpl::DbccCommand::incorrect()
{
    session.message(r, 2526, 16, "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.", s.line);
    session.done(r, true, false, 0);
    return Flow::Next;
}

// SQLPERF(LOGSPACE): each database's log size and the share of it in use.
SessionImpl::Flow SessionImpl::DbccCommand::sqlperf()
{
    if (s.args.size() != 1 || !r.toks[s.args[0].tok].isWord("LOGSPACE")) return incorrect();
    std::vector<DbInfo> dbs;
    {
        std::lock_guard<std::mutex> lock(session.m_engine->mu);
        dbs = listedDatabases(session.m_engine->catalog, "SELECT name FROM sysdatabases ORDER BY dbid");
    }
    std::vector<ColumnDef> cols = {col("Database Name", SqlType::NVarChar, 128), col("Log Size (MB)", SqlType::Real),
                                   col("Log Space Used (%)", SqlType::Real), col("Status", SqlType::Int)};
    r.sink.columns(cols);
    uint64_t rows = 0;
    for (const auto &d : dbs) {
        r.sink.row(logSpaceRow(d));
        ++rows;
    }
    completed();
    session.done(r, false, true, rows);
    return Flow::Next;
}

// CHECKDB [ ( name | id | 0 [, NOINDEX | repair option ] ) ] [ WITH ... ]
SessionImpl::Flow SessionImpl::DbccCommand::checkdb()
{
    std::string target;
    {
        std::lock_guard<std::mutex> lock(session.m_engine->mu);
        target = session.dbName;
    }
    bool byId = false;
    if (!checkdbTarget(target, byId)) return incorrect();
    std::optional<DbInfo> db = checkedDatabase(target, byId);
    if (!db) {
        session.message(r, 2520, 16, "Could not find database '" + target + "'. The database either does not exist, or was dropped "
                        "before a statement tried to use it. Verify if the database exists by querying the sys.databases catalog view.", s.line);
        session.done(r, true, false, 0);
        return Flow::Next;
    }
    return reportCheck(*db, checkDatabaseFile(db->dataFile()->physical));
}

// The database CHECKDB's arguments name (0 or none: the current one); false when they are not CHECKDB's.
bool SessionImpl::DbccCommand::checkdbTarget(std::string &target, bool &byId)
{
    if (s.args.empty()) return true;
    const Token &k = r.toks[s.args.front().tok];
    if (k.kind == Token::Number) {
        if (std::atoi(k.value.c_str()) != 0) { target = k.value; byId = true; }
    } else if (k.kind == Token::String || k.kind == Token::NString || k.isName()) {
        target = k.value;
    } else {
        return false;
    }
    for (size_t a = 1; a < s.args.size(); ++a) {
        const Token &o = r.toks[s.args[a].tok];
        if (!o.isWord("NOINDEX") && !o.isWord("REPAIR_ALLOW_DATA_LOSS") && !o.isWord("REPAIR_FAST") && !o.isWord("REPAIR_REBUILD"))
            return false;
    }
    return true;
}

// The database to check, its file made if it was still pending; `target` becomes its name when given by id.
std::optional<DbInfo> SessionImpl::DbccCommand::checkedDatabase(std::string &target, bool byId)
{
    std::lock_guard<std::mutex> lock(session.m_engine->mu);
    if (byId) {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(session.m_engine->catalog.db(), "SELECT name FROM sysdatabases WHERE dbid = ?1", -1, &st, nullptr);
        sqlite3_bind_int(st, 1, std::atoi(target.c_str()));
        if (sqlite3_step(st) == SQLITE_ROW) target = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    std::optional<DbInfo> db = session.m_engine->catalog.find(target);
    std::string error;
    if (db && !session.m_engine->materialise(*db, &error)) db.reset();
    return db;
}

// The objects' row counts and the summary; consistency errors make it an error of severity 16.
SessionImpl::Flow SessionImpl::DbccCommand::reportCheck(const DbInfo &db, const FileCheck &check)
{
    info(2536, "DBCC results for '" + db.name + "'.");
    for (const auto &[n, rows] : check.objects) {
        info(2536, "DBCC results for '" + n + "'.");
        long long pages = rows == 0 ? 0 : std::max<long long>(1, rows / 100 + 1);
        info(2593, "There are " + std::to_string(rows) + " rows in " + std::to_string(pages) + " pages for object \"" + n + "\".");
    }
    std::string summary = "CHECKDB found 0 allocation errors and " + std::to_string(check.problems)
        + " consistency errors in database '" + db.name + "'.";
    if (check.problems > 0) {
        session.message(r, 8989, 16, summary, s.line);
        session.message(r, 8958, 16, "repair_allow_data_loss is the minimum repair level for the errors found by DBCC CHECKDB ("
                        + db.name + ").", s.line);
    } else {
        info(8989, summary);
    }
    completed();
    session.done(r, check.problems > 0, false, 0);
    return Flow::Next;
}

} // namespace ts
