// The xml methods a query calls on a column or variable, evaluated with
// libxml2's XPath: dv_xml_value(x, path) gives the one value's text (the
// translator casts it to the type value() names), dv_xml_exist(x, path) 1 or
// 0, dv_xml_query(x, path) the selected nodes as xml text. NULL xml gives NULL.
#include "engine/functions_xml.h"

#include "base/xmlmodify.h"
#include "base/xmlvalue.h"
#include "engine/enginefunctions.h"

#include <string>

namespace ts {

namespace {

std::string argText(sqlite3_value *v)
{
    const unsigned char *p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char *>(p), size_t(sqlite3_value_bytes(v))) : std::string();
}

void fail(sqlite3_context *ctx, int number, const std::string &text)
{
    const std::string e = encodeError(number, 16, text);
    sqlite3_result_error(ctx, e.c_str(), int(e.size()));
}

// Evaluates the path for `method`; false (with the error set) when it cannot.
bool evaluate(sqlite3_context *ctx, sqlite3_value **a, const char *method, XmlPathResult &r)
{
    const std::string path = argText(a[1]);
    std::string error;
    if (evalXmlPath(argText(a[0]), path, r, &error)) return true;
    fail(ctx, 2216, std::string("XQuery [") + method + "()]: Syntax error near '" + path + "'");
    return false;
}

void fnValue(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    XmlPathResult r;
    if (!evaluate(ctx, a, "value", r)) return;
    if (r.values.size() > 1) {
        fail(ctx, 2389, "XQuery [value()]: 'value()' requires a singleton (or empty sequence), found operand of type "
                        "'xdt:untypedAtomic *'");
        return;
    }
    if (r.values.empty()) { sqlite3_result_null(ctx); return; }
    sqlite3_result_text(ctx, r.values.front().data(), int(r.values.front().size()), SQLITE_TRANSIENT);
}

void fnExist(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    XmlPathResult r;
    if (!evaluate(ctx, a, "exist", r)) return;
    const bool found = r.isNodeSet ? !r.values.empty() : (!r.values.empty() && r.values.front() != "false");
    sqlite3_result_int(ctx, found ? 1 : 0);
}

void fnQuery(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    XmlPathResult r;
    if (!evaluate(ctx, a, "query", r)) return;
    sqlite3_result_text(ctx, r.serialized.data(), int(r.serialized.size()), SQLITE_TRANSIENT);
}

// modify(): the xml changed by the XML DML statement; a NULL cannot be changed.
void fnModify(sqlite3_context *ctx, int, sqlite3_value **a)
{
    if (sqlite3_value_type(a[0]) == SQLITE_NULL) {
        fail(ctx, 5302, "Mutator 'modify()' on '" + argText(a[2]) + "' cannot be called on a null value.");
        return;
    }
    XmlDml dml;
    XmlError err;
    std::string out;
    if (!parseXmlDml(argText(a[1]), dml, err) || !applyXmlDml(argText(a[0]), dml, out, err)) {
        fail(ctx, err.number, err.text);
        return;
    }
    sqlite3_result_text(ctx, out.data(), int(out.size()), SQLITE_TRANSIENT);
}

} // namespace

void registerXmlFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_xml_value", 2, det, nullptr, fnValue, nullptr, nullptr);
    sqlite3_create_function(db, "dv_xml_exist", 2, det, nullptr, fnExist, nullptr, nullptr);
    sqlite3_create_function(db, "dv_xml_query", 2, det, nullptr, fnQuery, nullptr, nullptr);
    sqlite3_create_function(db, "dv_xml_modify", 3, det, nullptr, fnModify, nullptr, nullptr);
}

} // namespace ts
