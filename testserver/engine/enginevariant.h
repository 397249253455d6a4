// sql_variant functions and collation (enginevariant.cpp).
#pragma once

#include <sqlite3.h>

namespace ts {

void registerVariantFunctions(sqlite3 *db);
// CAST/CONVERT to sql_variant of a value whose type nothing names.
bool toVariant(sqlite3_context *ctx, sqlite3_value *v, bool storeResult);

// The date/time and uniqueidentifier collations (enginefunctions.cpp), which
// also order those base types inside sql_variant values.
int compareTimeText(void *, int na, const void *a, int nb, const void *b);
int compareGuidText(void *, int na, const void *a, int nb, const void *b);

} // namespace ts
