// sql_variant values as the engine keeps them: SQLite text that carries the
// base type in front of the base value, so that one column holds ints,
// decimals, strings and dates side by side and still compares them the way
// SQL Server compares sql_variant values.
#pragma once

#include "base/values.h"

#include <string>
#include <string_view>

namespace ts {

struct Variant {
    std::string type;   // base type, lower case: "int", "nvarchar", "decimal" ...
    int length = 0;     // characters of a character type, bytes of a binary one
    int precision = 0;  // decimal and numeric
    int scale = 0;      // decimal, numeric, time, datetime2, datetimeoffset
    std::string value;  // the base value as the engine stores it (UTF-8 text, decimal text, raw bytes)
};

// Whether `type` may be the base type of a sql_variant (no (max) types, no xml,
// no CLR types, no sql_variant itself).
bool variantBaseAllowed(const std::string &type, int length);
// The stored form; a text that starts with a byte no T-SQL text holds.
std::string variantText(const Variant &v);
bool isVariantText(std::string_view s);
bool parseVariant(std::string_view s, Variant &out);
// The stored form of a value whose type nothing names: int or bigint, float,
// nvarchar or varbinary by its kind.
std::string variantOfValue(const Value &v);

// Orders two values the way SQL Server orders sql_variant values: by type
// family first (date and time above approximate numbers above exact numbers
// above character data above binary above uniqueidentifier), then by value
// within the family. The comparisons are the ones the engine's collations
// use for character, date/time and uniqueidentifier columns.
using TextCompare = int (*)(std::string_view a, std::string_view b);
struct VariantOrder {
    TextCompare text, time, guid;
};
int compareVariants(const Variant &a, const Variant &b, const VariantOrder &order);

// SQL_VARIANT_PROPERTY's answers: "BaseType", "Precision", "Scale",
// "TotalBytes", "Collation", "MaxLength" (any case). False for another name.
bool variantProperty(const Variant &v, std::string_view property, Variant &out);

// The column type the base value has on the wire.
ColumnDef variantBaseColumn(const Variant &v);
// The base value as a value of that column.
Value variantBaseValue(const Variant &v);

} // namespace ts
