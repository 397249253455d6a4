// Names of the SQLite collations that hold SQL Server's orders. The translator
// writes them into the SQL it makes; the engine registers them on every
// connection.
#pragma once

namespace ts {

// Decimal and money columns: compares the numbers the texts denote, so that
// '12.5' equals '12.50' and '9' sorts before '10'.
constexpr const char *kDecimalCollation = "DVDEC";
// Date and time columns: compares the points in time the texts denote (any
// precision, offsets applied), so that '10:00:00.1' equals '10:00:00.1000000'.
// Texts that are no date or time compare bytewise.
constexpr const char *kTimeCollation = "DVTIME";
// Uniqueidentifier columns: any case, SQL Server's order.
constexpr const char *kGuidCollation = "DVGUID";
// sql_variant columns: type family first, then the base values (see variantvalue.h).
constexpr const char *kVariantCollation = "DVVARIANT";

} // namespace ts
