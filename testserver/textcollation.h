// Text comparison as SQL Server does it under a collation: the language's
// order (ICU's collator: pinyin for Chinese_PRC), case and accent sensitivity
// from the collation's name, trailing spaces ignored. Every collation this
// server can compare by is registered with SQLite under its SQL Server name,
// so "COLLATE Chinese_PRC_CI_AS" on a column or an expression works as is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace ts {

// The collation's name as SQL Server spells it when this server can compare by
// it (case of `name` ignored); empty otherwise.
std::string textCollationName(std::string_view name);

// <0, 0 or >0 as `a` sorts before, with or after `b` under the named
// collation (which must be one textCollationName accepts).
int compareText(std::string_view collation, std::string_view a, std::string_view b);

// SQL Server's LIKE under a collation: % and _, [set], [a-z], [^set] and an
// escape character; characters compare by the collation; trailing spaces of
// `value` may be left unmatched, those of `pattern` must match. No value when
// the escape is not one character (error 506).
std::optional<bool> likeMatch(std::string_view collation, std::string_view value, std::string_view pattern,
                              std::optional<std::string_view> escape = std::nullopt);

// Registers the collations, dv_like(value, pattern[, escape]), which matches
// under the server collation, and dv_pad(value, n, unicode), the stored form
// of a char(n) or nchar(n) value, on a connection.
void registerTextFunctions(sqlite3 *db);

} // namespace ts
