// The xml type's methods as SQLite functions (see functions_xml.cpp).
#pragma once

#include <sqlite3.h>

namespace ts {

void registerXmlFunctions(sqlite3 *db);

} // namespace ts
