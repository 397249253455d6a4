// The system and metadata functions that read the current database's own
// tables at run time.
#include "engine/functions.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace ts {

namespace {

// dv_ident_current(object id): the last identity value given out for the
// table, 1 (the default seed) before its first row; a table made with another
// seed answers seed - 1 until then. NULL for no table or one without an identity.
void fnIdentCurrent(sqlite3_context *ctx, int, sqlite3_value **a)
{
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    sqlite3_stmt *st = nullptr;
    std::string table;
    if (sqlite3_prepare_v2(db, "SELECT o.iname FROM main.__dv_objects o WHERE o.object_id = ?1 AND o.type = 'U' AND EXISTS "
                               "(SELECT 1 FROM main.__dv_columns c WHERE c.tbl = o.iname AND c.is_identity = 1)",
                           -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_value(st, 1, a[0]);
        if (sqlite3_step(st) == SQLITE_ROW) table = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
    if (table.empty()) { sqlite3_result_null(ctx); return; }
    // sqlite_sequence exists only once a table with an identity was made.
    sqlite3_int64 seq = 1;
    if (sqlite3_prepare_v2(db, "SELECT seq FROM main.sqlite_sequence WHERE name = ?1", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table.c_str(), int(table.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) seq = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
    sqlite3_result_int64(ctx, seq);
}

} // namespace

// dv_newsequentialid(): each value greater than the last in uniqueidentifier
// order; the first group counts up from a random start, the rest is fixed for
// the process, as a machine's sequential GUIDs share their node part. That
// order weighs the first group's bytes from its last, so the count is written
// least significant byte first.
static void fnNewSequentialId(sqlite3_context *ctx, int, sqlite3_value **)
{
    static std::mutex lock;
    static uint32_t counter = 0;
    static unsigned char node[12];
    static bool seeded = false;
    uint32_t n;
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (!seeded) {
            sqlite3_randomness(int(sizeof node), node);
            sqlite3_randomness(int(sizeof counter), &counter);
            counter &= 0x7FFFFFFF;
            seeded = true;
        }
        n = ++counter;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", n & 0xFF,
                  (n >> 8) & 0xFF, (n >> 16) & 0xFF, n >> 24, node[0], node[1],
                  node[2], node[3], node[4], node[5], node[6], node[7], node[8], node[9], node[10], node[11]);
    fn::resultText(ctx, buf);
}

void registerMetaFunctions(sqlite3 *db)
{
    sqlite3_create_function(db, "dv_newsequentialid", 0, SQLITE_UTF8, nullptr, fnNewSequentialId, nullptr, nullptr);
    sqlite3_create_function(db, "dv_ident_current", 1, SQLITE_UTF8, nullptr, fnIdentCurrent, nullptr, nullptr);
}

} // namespace ts
