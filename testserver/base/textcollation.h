// Text comparison as SQL Server does it under a collation: the language's
// order (ICU's collator: pinyin for Chinese_PRC), case and accent sensitivity
// from the collation's name, trailing spaces ignored. The engine registers
// every collation this server can compare by with SQLite under its SQL Server
// name, so "COLLATE Chinese_PRC_CI_AS" on a column or an expression works as is.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Every collation compareText knows, for registering with SQLite: its name
// and a handle with which compareTextBy compares without a look-up by name.
struct TextCollationHandle {
    std::string name;
    const void *handle;
};
std::vector<TextCollationHandle> textCollations();
int compareTextBy(const void *handle, std::string_view a, std::string_view b);

// The stored form of a char(n) value, blank-padded to n bytes of the code
// page, or (unicode) of an nchar(n) value, padded to n UTF-16 units.
std::string padText(std::string_view value, size_t n, bool unicode);

} // namespace ts
