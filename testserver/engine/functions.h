// The scalar function families (functions_*.cpp) and the small helpers they
// share for reading SQLite values and raising SQL Server's errors.
#pragma once

#include "base/decimal.h"
#include "base/values.h"

#include <sqlite3.h>

#include <string>

namespace ts {

void registerMathFunctions(sqlite3 *db);   // functions_math.cpp
void registerStringFunctions(sqlite3 *db); // functions_string.cpp
void registerDateFunctions(sqlite3 *db);   // functions_date.cpp
void registerJsonFunctions(sqlite3 *db);   // functions_json.cpp
void registerMetaFunctions(sqlite3 *db);   // functions_meta.cpp
void registerOffsetFunctions(sqlite3 *db); // functions_offset.cpp
void registerForJsonFunctions(sqlite3 *db); // functions_forjson.cpp
void registerForXmlFunctions(sqlite3 *db);  // functions_forxml.cpp
void registerHierarchyIdFunctions(sqlite3 *db); // functions_hierarchyid.cpp
// CAST to hierarchyid: path text parsed, bytes checked; false after raising.
bool convertToHierarchyId(sqlite3_context *ctx, sqlite3_value *v);
// A value given to a hierarchyid variable: its bytes, or throws 6522.
std::string hierarchyIdBytes(const Value &v);
void registerSpatialFunctions(sqlite3 *db); // functions_spatial.cpp
// CAST to geography/geometry: text read as WKT or bytes checked; false after raising.
bool convertToSpatial(sqlite3_context *ctx, sqlite3_value *v, bool geography);
// A value given to a geography/geometry variable: its bytes, or throws 6522.
std::string spatialBytes(const Value &v, bool geography);

namespace fn {

std::string text(sqlite3_value *v);
// The bytes of a value as a blob.
std::string blob(sqlite3_value *v);
void raise(sqlite3_context *ctx, int number, int severity, const std::string &message);
// The text of error 6522: `exception` thrown with `message` by `method` of
// the CLR class Microsoft.SqlServer.Types.`clrClass` behind the SQL type `type`.
std::string clrError(const std::string &type, const std::string &exception, const std::string &message,
                     const std::string &clrClass, const std::string &method);
void resultText(sqlite3_context *ctx, const std::string &s);
// The exact value of a number or of text that reads as one.
bool toDec(sqlite3_value *v, num::Dec &out);
bool toDouble(sqlite3_value *v, double &out);
// JSON's escapes for quotes, solidus, backslash and control characters.
std::string jsonEscape(const std::string &s);
// Binary as base64 text (FOR JSON, FOR XML).
std::string base64(const unsigned char *p, int n);
// A float as CONVERT's float style (0 to 3) writes it.
std::string floatText(double v, int style);

} // namespace fn

} // namespace ts
