// The text collations and the functions of text comparison on a SQLite
// connection: every collation base/textcollation.h knows, dv_like and dv_pad.
#include "base/collation.h"
#include "base/textcollation.h"
#include "engine/enginefunctions.h"

#include <sqlite3.h>

#include <optional>
#include <string>

namespace ts {

namespace {

int sqliteCompare(void *arg, int la, const void *a, int lb, const void *b)
{
    return compareTextBy(arg, std::string_view(static_cast<const char *>(a), size_t(la)),
                         std::string_view(static_cast<const char *>(b), size_t(lb)));
}

std::string_view valueText(sqlite3_value *v)
{
    const auto *t = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return t ? std::string_view(t, size_t(sqlite3_value_bytes(v))) : std::string_view();
}

// dv_like(value, pattern[, escape]): LIKE under the server collation.
void fnLike(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    std::optional<std::string_view> escape;
    if (argc > 2) escape = valueText(argv[2]);
    std::optional<bool> m = likeMatch(serverCollation().name, valueText(argv[0]), valueText(argv[1]), escape);
    if (!m) {
        std::string e = encodeError(506, 16, "The invalid escape character \"" + std::string(*escape)
                                    + "\" was specified in a LIKE predicate.");
        sqlite3_result_error(ctx, e.c_str(), int(e.size()));
        return;
    }
    sqlite3_result_int(ctx, *m ? 1 : 0);
}

// dv_pad(value, n, unicode): a char(n) value is held blank-padded to n bytes
// of the code page, an nchar(n) value to n UTF-16 units.
void fnPad(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) { sqlite3_result_value(ctx, argv[0]); return; }
    const std::string out = padText(valueText(argv[0]), size_t(sqlite3_value_int(argv[1])), sqlite3_value_int(argv[2]) != 0);
    sqlite3_result_text(ctx, out.data(), int(out.size()), SQLITE_TRANSIENT);
}

} // namespace

void registerTextFunctions(sqlite3 *db)
{
    for (const TextCollationHandle &c : textCollations())
        sqlite3_create_collation_v2(db, c.name.c_str(), SQLITE_UTF8, const_cast<void *>(c.handle), sqliteCompare,
                                    nullptr);
    sqlite3_create_function(db, "dv_like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnLike, nullptr, nullptr);
    sqlite3_create_function(db, "dv_like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnLike, nullptr, nullptr);
    sqlite3_create_function(db, "dv_pad", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnPad, nullptr, nullptr);
}

} // namespace ts
