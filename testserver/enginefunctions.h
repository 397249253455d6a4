// SQL functions the translated statements call (T-SQL semantics on SQLite).
#pragma once

#include <sqlite3.h>

#include <string>

namespace ts {

// Errors raised by these functions carry SQL Server's number and severity in
// the SQLite error text: "\x01DV|number|severity|text".
std::string encodeError(int number, int severity, const std::string &text);
bool decodeError(const std::string &sqliteMessage, int &number, int &severity, std::string &text);

// `currentDb` must outlive the connection (dv_catalog() reads it).
void registerFunctions(sqlite3 *db, const std::string *currentDb);

// Normalises date/time text to "YYYY-MM-DD HH:MM:SS.mmm"; false when invalid.
bool normaliseDateTime(const std::string &in, std::string &out);

} // namespace ts
