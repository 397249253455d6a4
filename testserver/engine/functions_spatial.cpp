// geography and geometry in SQLite: values are blobs of SQL Server's
// serialized bytes. Construction, conversion, text and measures run here;
// the translator passes whether a value is geography (1) or geometry (0),
// which the bytes alone do not say. A failure raises 6522 with the text SQL
// Server wraps around the spatial library's exception.
#include "engine/functions.h"
#include "base/spatial.h"
#include "tsql/sqltranslate.h"

#include <cmath>

namespace ts {

namespace {

const char *typeOf(bool geography) { return geography ? "geography" : "geometry"; }

std::string clrText(bool geography, const std::string &method, const geo::Failure &f)
{
    return fn::clrError(typeOf(geography), f.exception, f.message, geography ? "SqlGeography" : "SqlGeometry", method);
}

void raiseClr(sqlite3_context *ctx, bool geography, const std::string &method, const geo::Failure &f)
{
    fn::raise(ctx, 6522, 16, clrText(geography, method, f));
}

void resultValue(sqlite3_context *ctx, const geo::Spatial &g)
{
    const std::string bytes = geo::serialize(g);
    sqlite3_result_blob(ctx, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
}

bool anyNull(int argc, sqlite3_value **argv)
{
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return true;
    return false;
}

// A stored value back to its shapes; raises for bytes that are none.
bool valueOf(sqlite3_context *ctx, sqlite3_value *v, bool geography, geo::Spatial &g)
{
    const geo::Failure f = geo::deserialize(fn::blob(v), geography, g);
    if (!f.failed()) return true;
    raiseClr(ctx, geography, "Read(BinaryReader r)", f);
    return false;
}

const char *const kTypeMethods[] = {"STGeomFromText", "STPointFromText", "STLineFromText", "STPolyFromText"};

// dv_geo_parse(text, srid, geography, kind): STGeomFromText and its typed
// forms (kind 1-3 asks for that shape type), Parse.
void fnParse(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const bool geography = sqlite3_value_int(argv[2]) != 0;
    const int kind = sqlite3_value_int(argv[3]);
    const std::string method = std::string(kTypeMethods[kind]) + "(SqlChars text, Int32 srid)";
    geo::Spatial g;
    geo::Failure f = geo::parseWkt(fn::text(argv[0]), geography, g);
    if (!f.failed() && kind && g.shapes[0].type != kind)
        f = geo::Failure{"System.FormatException", "24142: Expected \"" + std::string(kind == 1 ? "POINT"
                         : kind == 2 ? "LINESTRING" : "POLYGON") + "\" at position 0. The input has \""
                         + geo::typeName(g) + "\"."};
    g.srid = int32_t(sqlite3_value_int64(argv[1]));
    if (!f.failed()) f = geo::check(g);
    if (f.failed()) return raiseClr(ctx, geography, method, f);
    resultValue(ctx, g);
}

// dv_geo_point(a, b, srid, geography): geography::Point(lat, long, srid), geometry::Point(x, y, srid).
void fnPoint(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const bool geography = sqlite3_value_int(argv[3]) != 0;
    geo::Spatial g = geo::makePoint(geography, sqlite3_value_double(argv[0]), sqlite3_value_double(argv[1]),
                                    int32_t(sqlite3_value_int64(argv[2])));
    const geo::Failure f = geo::check(g);
    if (f.failed()) return raiseClr(ctx, geography, "Point(Double latitude, Double longitude, Int32 srid)", f);
    resultValue(ctx, g);
}

// dv_geo_text(value, geography, withZM): STAsText() and ToString().
void fnText(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    geo::Spatial g;
    if (valueOf(ctx, argv[0], sqlite3_value_int(argv[1]) != 0, g))
        fn::resultText(ctx, geo::toWkt(g, sqlite3_value_int(argv[2]) != 0));
}

// A coordinate of a single point, or NULL for anything else.
void pointMember(sqlite3_context *ctx, const geo::Spatial &g, const std::string &what)
{
    if (g.shapes.size() != 1 || g.shapes[0].type != geo::kPoint || g.points.size() != 1)
        return sqlite3_result_null(ctx);
    const geo::Point &p = g.points[0];
    if (what == "stx" || what == "long") return sqlite3_result_double(ctx, p.x);
    if (what == "sty" || what == "lat") return sqlite3_result_double(ctx, p.y);
    if (what == "z" && p.hasZ) return sqlite3_result_double(ctx, p.z);
    if (what == "m" && p.hasM) return sqlite3_result_double(ctx, p.m);
    sqlite3_result_null(ctx);
}

// dv_geo_member(value, geography, name): properties and measures of one value.
void fnMember(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const bool geography = sqlite3_value_int(argv[1]) != 0;
    geo::Spatial g;
    if (!valueOf(ctx, argv[0], geography, g)) return;
    const std::string what = fn::text(argv[2]);
    double d = 0;
    std::string refusal;
    if (what == "srid") return sqlite3_result_int64(ctx, g.srid);
    if (what == "numpoints") return sqlite3_result_int64(ctx, sqlite3_int64(g.points.size()));
    if (what == "isvalid") return sqlite3_result_int(ctx, g.valid ? 1 : 0);
    if (what == "isempty") return sqlite3_result_int(ctx, g.points.empty() ? 1 : 0);
    if (what == "type") return fn::resultText(ctx, geo::typeName(g));
    if (what == "asbinary") {
        const std::string wkb = geo::toWkb(g);
        return sqlite3_result_blob(ctx, wkb.data(), int(wkb.size()), SQLITE_TRANSIENT);
    }
    if (what == "length") return geo::length(g, d) ? sqlite3_result_double(ctx, d) : sqlite3_result_null(ctx);
    if (what == "area") {
        if (geo::area(g, d, refusal)) return sqlite3_result_double(ctx, d);
        if (refusal.empty()) return sqlite3_result_null(ctx);
        return raiseClr(ctx, geography, "STArea()", geo::Failure{"System.ArgumentException", refusal});
    }
    pointMember(ctx, g, what);
}

// dv_geo_distance(a, b, geography): NULL when the SRIDs differ or either is empty.
void fnDistance(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const bool geography = sqlite3_value_int(argv[2]) != 0;
    geo::Spatial a, b;
    if (!valueOf(ctx, argv[0], geography, a) || !valueOf(ctx, argv[1], geography, b)) return;
    double d = 0;
    if (geo::distance(a, b, d)) return sqlite3_result_double(ctx, d);
    sqlite3_result_null(ctx);
}

// Bytes or text to a checked value's bytes; the failure for the 6522 text.
geo::Failure spatialFrom(const Value &v, bool geography, std::string &bytes, std::string &method)
{
    geo::Spatial g;
    if (v.kind == Value::Blob) {
        method = "Read(BinaryReader r)";
        geo::Failure f = geo::deserialize(v.s, geography, g);
        if (!f.failed()) f = geo::check(g);
        if (!f.failed()) bytes = v.s;
        return f;
    }
    method = "Parse(SqlString s)";
    geo::Failure f = geo::parseWkt(v.kind == Value::Int ? std::to_string(v.i) : v.s, geography, g);
    g.srid = geography ? 4326 : 0;
    if (!f.failed()) f = geo::check(g);
    if (!f.failed()) bytes = geo::serialize(g);
    return f;
}

Value valueFrom(sqlite3_value *v)
{
    if (sqlite3_value_type(v) == SQLITE_BLOB) return Value::blob(fn::blob(v));
    if (sqlite3_value_type(v) == SQLITE_INTEGER) return Value::integer(sqlite3_value_int64(v));
    return Value::text(fn::text(v));
}

void fnConvert(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    convertToSpatial(ctx, argv[0], sqlite3_value_int(argv[1]) != 0);
}

} // namespace

bool convertToSpatial(sqlite3_context *ctx, sqlite3_value *v, bool geography)
{
    std::string bytes, method;
    const geo::Failure f = spatialFrom(valueFrom(v), geography, bytes, method);
    if (f.failed()) {
        raiseClr(ctx, geography, method, f);
        return false;
    }
    sqlite3_result_blob(ctx, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    return true;
}

std::string spatialBytes(const Value &v, bool geography)
{
    std::string bytes, method;
    const geo::Failure f = spatialFrom(v, geography, bytes, method);
    if (f.failed()) throw makeError(6522, 16, clrText(geography, method, f));
    return bytes;
}

void registerSpatialFunctions(sqlite3 *db)
{
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "dv_geo_parse", 4, det, nullptr, fnParse, nullptr, nullptr);
    sqlite3_create_function(db, "dv_geo_point", 4, det, nullptr, fnPoint, nullptr, nullptr);
    sqlite3_create_function(db, "dv_geo_text", 3, det, nullptr, fnText, nullptr, nullptr);
    sqlite3_create_function(db, "dv_geo_member", 3, det, nullptr, fnMember, nullptr, nullptr);
    sqlite3_create_function(db, "dv_geo_distance", 3, det, nullptr, fnDistance, nullptr, nullptr);
    sqlite3_create_function(db, "dv_geo_convert", 2, det, nullptr, fnConvert, nullptr, nullptr);
}

} // namespace ts
