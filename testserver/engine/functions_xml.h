// The xml type's methods as SQLite functions (see functions_xml.cpp).
#pragma once

#include "base/values.h"

#include <sqlite3.h>

#include <string>
#include <vector>

namespace ts {

void registerXmlFunctions(sqlite3 *db);

// nodes(xml, path) as the table-valued dv_xml_nodes: one row per selected
// node, its context node (functions_xmlnodes.cpp). False with `error` set.
bool xmlNodesRows(sqlite3 *db, sqlite3_value **argv, std::vector<std::vector<Value>> &rows, std::string &error);

} // namespace ts
