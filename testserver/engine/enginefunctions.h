// SQL functions the translated statements call (T-SQL semantics on SQLite).
#pragma once

#include "base/sqlitenames.h"

#include <sqlite3.h>

#include <cstdint>
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
bool normaliseSmallDateTime(const std::string &in, std::string &out, bool &outOfRange);

// The stored text of a datetime2(scale), time(scale) or datetimeoffset(scale)
// value: "YYYY-MM-DD HH:MM:SS[.f]", "HH:MM:SS[.f]", "YYYY-MM-DD HH:MM:SS[.f] +hh:mm"
// with exactly `scale` fraction digits (rounded); false when invalid.
bool normaliseTemporal(const std::string &in, const std::string &type, int scale, std::string &out);

// A date and/or time read from text: civil days since 1970-01-01, 100 ns
// ticks of the day and the offset in minutes (see normaliseTemporal).
struct DateTimeParts {
    bool hasDate = false, hasTime = false, hasOffset = false;
    int64_t days = 0, ticks = 0;
    int offset = 0;
};
// Text a statement converts reads in the session's DATEFORMAT and with month
// names; `storedForm` reads only the forms this server stores dates in.
bool parseDateTimeParts(const std::string &in, DateTimeParts &out, bool storedForm = false);
// The stored text of `v` as `type` ("datetime2", "time", "datetimeoffset") with `scale` fraction digits.
std::string formatDateTimeParts(const DateTimeParts &v, const std::string &type, int scale);

// DATEADD ... FORMAT, PATINDEX, STRING_AGG and TRY_CAST (enginebuiltins.cpp).
void registerBuiltinFunctions(sqlite3 *db);
void registerFormatFunction(sqlite3 *db); // FORMAT (engineformat.cpp)
void registerParseFunction(sqlite3 *db);  // PARSE, TRY_PARSE (engineparse.cpp)
// The ICU locale of a culture name ("de-DE"); "" for one ICU does not know.
std::string icuLocaleFor(const std::string &culture);
// The date type ("date", "datetime", "datetime2", "time", "datetimeoffset")
// whose stored text `text` is, and its fraction digits; "" for other text.
std::string dateTypeOfText(const std::string &text, int &scale);

// Registers the text collations, dv_like and dv_pad (textfunctions.cpp).
void registerTextFunctions(sqlite3 *db);
void registerTableFunctions(sqlite3 *db); // STRING_SPLIT, OPENJSON (enginetvf.cpp)

} // namespace ts
