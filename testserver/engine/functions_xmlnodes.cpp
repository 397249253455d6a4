// The rows of xml's nodes() method: a NULL xml gives none, each node the
// path selects one, in document order.
#include "engine/enginefunctions.h"
#include "engine/functions_xml.h"

#include "base/xmlvalue.h"

namespace ts {

bool xmlNodesRows(sqlite3 *, sqlite3_value **argv, std::vector<std::vector<Value>> &rows, std::string &error)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return true;
    auto text = [](sqlite3_value *v) {
        const unsigned char *p = sqlite3_value_text(v);
        return p ? std::string(reinterpret_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
    };
    const std::string path = text(argv[1]);
    std::vector<std::string> refs;
    std::string why;
    if (!xmlNodeRefs(text(argv[0]), path, refs, &why)) {
        error = why == "not nodes"
            ? encodeError(2373, 16, "XQuery [nodes()]: Only nodes can be returned by the nodes() method")
            : encodeError(2216, 16, "XQuery [nodes()]: Syntax error near '" + path + "'");
        return false;
    }
    for (std::string &r : refs) rows.push_back({Value::text(std::move(r))});
    return true;
}

} // namespace ts
