// hierarchyid in SQLite: values are blobs of the packed path, so that
// SQLite's byte comparison orders them as SQL Server does. The methods and
// conversions run here; a bad path raises 6522 with the text SQL Server
// wraps around the type's own exception.
#include "engine/functions.h"
#include "base/hierarchyid.h"
#include "tsql/sqltranslate.h"

namespace ts {

namespace {

std::string clrText(const std::string &method, const std::string &message)
{
    return fn::clrError("hierarchyid", "Microsoft.SqlServer.Types.HierarchyIdException", message, "SqlHierarchyId",
                        method);
}

void raiseClr(sqlite3_context *ctx, const std::string &method, const std::string &message)
{
    fn::raise(ctx, 6522, 16, clrText(method, message));
}

std::string parseFailure(const std::string &in)
{
    return "24001: SqlHierarchyId.Parse failed because the input string '" + in
        + "' is not a valid string representation of a SqlHierarchyId node.";
}

void resultPath(sqlite3_context *ctx, const hid::Path &p)
{
    std::string bytes;
    if (!hid::encode(p, bytes)) {
        raiseClr(ctx, "Write(BinaryWriter w)", "24002: SqlHierarchyId.Write failed because the node is too long.");
        return;
    }
    sqlite3_result_blob(ctx, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
}

// A stored value back to its path; raises for bytes that are no path.
bool pathOf(sqlite3_context *ctx, sqlite3_value *v, hid::Path &p)
{
    if (hid::decode(fn::blob(v), p)) return true;
    raiseClr(ctx, "Read(BinaryReader r)",
             "24000: SqlHierarchyId operation failed because HierarchyId object was constructed from an invalid "
             "binary string.");
    return false;
}

void fnParse(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    convertToHierarchyId(ctx, argv[0]);
}

void fnToString(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    hid::Path p;
    if (pathOf(ctx, argv[0], p)) fn::resultText(ctx, hid::toText(p));
}

void fnLevel(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    hid::Path p;
    if (pathOf(ctx, argv[0], p)) sqlite3_result_int64(ctx, sqlite3_int64(p.size()));
}

void fnAncestor(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    hid::Path p, up;
    if (!pathOf(ctx, argv[0], p)) return;
    const sqlite3_int64 n = sqlite3_value_int64(argv[1]);
    if (n < 0) {
        raiseClr(ctx, "GetAncestor(Int32 n)",
                 "24011: SqlHierarchyId.GetAncestor failed because 'n' was negative.");
        return;
    }
    if (!hid::ancestor(p, n, up)) return sqlite3_result_null(ctx);
    resultPath(ctx, up);
}

void fnDescendant(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    hid::Path parent, lo, hi, out;
    if (!pathOf(ctx, argv[0], parent)) return;
    const bool hasLo = sqlite3_value_type(argv[1]) != SQLITE_NULL;
    const bool hasHi = sqlite3_value_type(argv[2]) != SQLITE_NULL;
    if ((hasLo && !pathOf(ctx, argv[1], lo)) || (hasHi && !pathOf(ctx, argv[2], hi))) return;
    const std::string err = hid::descendant(parent, hasLo ? &lo : nullptr, hasHi ? &hi : nullptr, out);
    if (!err.empty()) {
        raiseClr(ctx, "GetDescendant(SqlHierarchyId child1, SqlHierarchyId child2)", err);
        return;
    }
    resultPath(ctx, out);
}

void fnIsDescendantOf(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    hid::Path child, parent;
    if (!pathOf(ctx, argv[0], child) || !pathOf(ctx, argv[1], parent)) return;
    sqlite3_result_int(ctx, hid::isDescendantOf(child, parent) ? 1 : 0);
}

void fnReparent(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    for (int k = 0; k < 3; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    hid::Path p, oldRoot, newRoot, out;
    if (!pathOf(ctx, argv[0], p) || !pathOf(ctx, argv[1], oldRoot) || !pathOf(ctx, argv[2], newRoot)) return;
    if (!hid::reparent(p, oldRoot, newRoot, out)) {
        raiseClr(ctx, "GetReparentedValue(SqlHierarchyId oldRoot, SqlHierarchyId newRoot)",
                 "24008: SqlHierarchyId.GetReparentedValue failed because 'oldRoot' was not an ancestor node of 'this'.  'oldRoot' was '"
                     + hid::toText(oldRoot) + "', and 'this' was '" + hid::toText(p) + "'.");
        return;
    }
    resultPath(ctx, out);
}

void fnRoot(sqlite3_context *ctx, int, sqlite3_value **)
{
    sqlite3_result_zeroblob(ctx, 0);
}

} // namespace

bool convertToHierarchyId(sqlite3_context *ctx, sqlite3_value *v)
{
    std::string bytes;
    if (sqlite3_value_type(v) == SQLITE_BLOB) {
        hid::Path p;
        bytes = fn::blob(v);
        if (!pathOf(ctx, v, p)) return false;
    } else {
        const std::string in = fn::text(v);
        if (!hid::textToBytes(in, bytes)) {
            raiseClr(ctx, "Parse(SqlString input)", parseFailure(in));
            return false;
        }
    }
    sqlite3_result_blob(ctx, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    return true;
}

std::string hierarchyIdBytes(const Value &v)
{
    std::string bytes;
    hid::Path p;
    if (v.kind == Value::Blob) {
        if (hid::decode(v.s, p)) return v.s;
        throw makeError(6522, 16, clrText("Read(BinaryReader r)", "24000: SqlHierarchyId operation failed because "
                                          "HierarchyId object was constructed from an invalid binary string."));
    }
    const std::string in = v.kind == Value::Int ? std::to_string(v.i) : v.s;
    if (!hid::textToBytes(in, bytes)) throw makeError(6522, 16, clrText("Parse(SqlString input)", parseFailure(in)));
    return bytes;
}

void registerHierarchyIdFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_hid_parse", 1, det, nullptr, fnParse, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_tostring", 1, det, nullptr, fnToString, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_level", 1, det, nullptr, fnLevel, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_ancestor", 2, det, nullptr, fnAncestor, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_descendant", 3, det, nullptr, fnDescendant, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_isdescendantof", 2, det, nullptr, fnIsDescendantOf, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_reparent", 3, det, nullptr, fnReparent, nullptr, nullptr);
    sqlite3_create_function(db, "dv_hid_root", 0, det, nullptr, fnRoot, nullptr, nullptr);
}

} // namespace ts
