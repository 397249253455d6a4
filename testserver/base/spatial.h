// geography and geometry values: the shape model SQL Server serializes
// (points, figures, shapes), read from and written to well-known text and
// to SQL Server's own bytes. A geography point keeps longitude as x and
// latitude as y, as its text does; the bytes put latitude first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ts::geo {

// OpenGIS shape types as the serialized SHAPE structure numbers them.
enum ShapeType : uint8_t {
    kPoint = 1, kLineString = 2, kPolygon = 3, kMultiPoint = 4, kMultiLineString = 5, kMultiPolygon = 6,
    kCollection = 7
};

struct Point {
    double x = 0, y = 0;
    double z = 0, m = 0;
    bool hasZ = false, hasM = false;
};

// A point list: one ring, one line or one point.
struct Figure {
    uint8_t attribute = 1;  // 0 interior ring, 1 stroke, 2 exterior ring
    int32_t pointOffset = 0;
};

struct Shape {
    int32_t parent = -1;    // index of the containing shape; -1 at the top
    int32_t figureOffset = -1;  // -1 for an empty shape
    uint8_t type = kPoint;
};

struct Spatial {
    bool geography = false;
    int32_t srid = 0;
    bool valid = true;
    std::vector<Point> points;
    std::vector<Figure> figures;
    std::vector<Shape> shapes;

    bool hasZ() const;
    bool hasM() const;
    // The figures [first, last) of shape `s` and the points [first, last) of figure `f`.
    std::pair<size_t, size_t> figureRange(size_t s) const;
    std::pair<size_t, size_t> pointRange(size_t f) const;
    // Shapes whose parent is `s`, in order.
    std::vector<size_t> children(size_t s) const;
};

// A failure as SQL Server's spatial library reports it: the .NET exception
// type and its "24xxx: ..." message.
struct Failure {
    std::string exception;  // "System.FormatException"
    std::string message;
    bool failed() const { return !message.empty(); }
};

// Well-known text to a value (no SRID or range checks here).
Failure parseWkt(const std::string &text, bool geography, Spatial &out);
// STAsText (2D only) or ToString (with Z and M).
std::string toWkt(const Spatial &g, bool withZM);
// A coordinate as SQL Server writes it: up to 15 significant digits.
std::string formatNumber(double v);

// Serialized bytes (version 1) and back; reading checks every count.
std::string serialize(const Spatial &g);
Failure deserialize(const std::string &bytes, bool geography, Spatial &out);

// The checks SQL Server applies to a new instance: SRID range, latitudes,
// a known ellipsoid for geography; fills `valid` for geometry.
Failure check(Spatial &g);
// A point built by geography::Point(lat, long, srid) / geometry::Point(x, y, srid).
Spatial makePoint(bool geography, double a, double b, int32_t srid);

// The OGC type name of the top shape ("Point", "LineString" ...).
std::string typeName(const Spatial &g);

// Measures (spatialmeasure.cpp). Geometry is planar (GEOS); geography works
// on the SRID's ellipsoid in metres (GeographicLib). Returns false when the
// measure is not defined (SRIDs differ, an instance is empty) or, for area,
// not built here (`refusal` says why).
bool distance(const Spatial &a, const Spatial &b, double &out);
bool length(const Spatial &g, double &out);
bool area(const Spatial &g, double &out, std::string &refusal);
bool planarValid(const Spatial &g);
// STAsBinary: OGC well-known binary, little-endian, x (longitude) before y.
std::string toWkb(const Spatial &g);
// The ellipsoid of a geography SRID; false for SRIDs not supported here.
bool ellipsoid(int32_t srid, double &a, double &f);

} // namespace ts::geo
