// SQL functions, aggregates and the collation that keep decimal, numeric,
// money and smallmoney exact (stored as decimal text) and real as a 4-byte float.
#pragma once

#include "base/sqlitenames.h"

#include <sqlite3.h>

#include <string>

namespace ts {

void registerNumberFunctions(sqlite3 *db);

// CAST/CONVERT to decimal, numeric, money, smallmoney, float or real. Raises
// 8114/8115 and returns false when the value does not convert; with
// `storeResult` the converted value becomes the function's result.
// `sourceType` (num::typeCode, "" = unknown) names the source in the overflow message.
bool convertNumber(sqlite3_context *ctx, sqlite3_value *v, const std::string &type, int precision, int scale,
                   bool storeResult, const std::string &sourceType = "");

// The canonical text of a decimal value with `scale` fraction digits (values
// read from storage: text, integer or a double from older files).
std::string decimalText(sqlite3_value *v, int scale);

} // namespace ts
