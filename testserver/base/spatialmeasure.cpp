// Measures of spatial values: geometry's on the plane with GEOS, geography's
// on the SRID's ellipsoid with GeographicLib's geodesics.
#include "base/spatial.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/GeodesicLine.hpp>
#include <GeographicLib/Gnomonic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <geos_c.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace ts::geo {

namespace {

// One GEOS context per thread, freed with it.
struct GeosContext {
    GEOSContextHandle_t h = GEOS_init_r();
    ~GeosContext() { GEOS_finish_r(h); }
};

GEOSContextHandle_t geos()
{
    thread_local GeosContext ctx;
    return ctx.h;
}

struct GeomDeleter {
    void operator()(GEOSGeometry *g) const { if (g) GEOSGeom_destroy_r(geos(), g); }
};
using Geom = std::unique_ptr<GEOSGeometry, GeomDeleter>;

Geom toGeos(const Spatial &g)
{
    GEOSWKTReader *r = GEOSWKTReader_create_r(geos());
    Geom out(GEOSWKTReader_read_r(geos(), r, toWkt(g, false).c_str()));
    GEOSWKTReader_destroy_r(geos(), r);
    return out;
}

struct Ellipsoid {
    int32_t srid;
    double a, invF;
};

// Geographic SRIDs and their ellipsoids (semi-major axis in metres, 1/f);
// 104001 is SQL Server's unit sphere.
const Ellipsoid kEllipsoids[] = {
    {4326, 6378137.0, 298.257223563},  // WGS 84
    {4269, 6378137.0, 298.257222101},  // NAD83 (GRS 1980)
    {4258, 6378137.0, 298.257222101},  // ETRS89 (GRS 1980)
    {4283, 6378137.0, 298.257222101},  // GDA94 (GRS 1980)
    {4267, 6378206.4, 294.978698213898},  // NAD27 (Clarke 1866)
    {4230, 6378388.0, 297.0},          // ED50 (International 1924)
    {4322, 6378135.0, 298.26},         // WGS 72
    {104001, 1.0, 0.0},
};

GeographicLib::Geodesic geodesicOf(int32_t srid)
{
    double a = 0, f = 0;
    ellipsoid(srid, a, f);
    return GeographicLib::Geodesic(a, f);
}

// The shortest distance from point p to the geodesic segment a-b: the
// distance along the segment is sampled, then narrowed by golden section.
double pointToSegment(const GeographicLib::Geodesic &geod, const Point &p, const Point &a, const Point &b)
{
    const GeographicLib::GeodesicLine line = geod.InverseLine(a.y, a.x, b.y, b.x);
    const double total = line.Distance();
    auto at = [&](double s) {
        double lat = 0, lon = 0, d = 0;
        line.Position(s, lat, lon);
        geod.Inverse(p.y, p.x, lat, lon, d);
        return d;
    };
    const int samples = 32;
    int best = 0;
    double bestD = at(0);
    for (int k = 1; k <= samples; ++k) {
        const double d = at(total * k / samples);
        if (d < bestD) { bestD = d; best = k; }
    }
    double lo = total * std::max(0, best - 1) / samples, hi = total * std::min(samples, best + 1) / samples;
    const double r = (std::sqrt(5.0) - 1) / 2;
    for (int k = 0; k < 60 && hi - lo > 1e-6; ++k) {
        const double m1 = hi - r * (hi - lo), m2 = lo + r * (hi - lo);
        if (at(m1) < at(m2)) hi = m2; else lo = m1;
    }
    return std::min(bestD, at((lo + hi) / 2));
}

using Segment = std::pair<Point, Point>;
using Ring = std::vector<Point>;

// A geography value taken apart: lone points, line and ring edges, and the
// rings of each polygon (exterior first).
struct Pieces {
    std::vector<Point> points;
    std::vector<Segment> edges;
    std::vector<std::vector<Ring>> polygons;
    bool empty() const { return points.empty() && edges.empty(); }
};

Pieces piecesOf(const Spatial &g)
{
    Pieces out;
    for (size_t s = 0; s < g.shapes.size(); ++s) {
        const uint8_t type = g.shapes[s].type;
        if (type != kPoint && type != kLineString && type != kPolygon) continue;
        const auto [first, last] = g.figureRange(s);
        if (type == kPolygon && first < last) out.polygons.emplace_back();
        for (size_t f = first; f < last; ++f) {
            const auto [p0, p1] = g.pointRange(f);
            if (type == kPoint) { out.points.push_back(g.points[p0]); continue; }
            for (size_t k = p0; k + 1 < p1; ++k) out.edges.emplace_back(g.points[k], g.points[k + 1]);
            if (type == kPolygon) out.polygons.back().emplace_back(g.points.begin() + long(p0), g.points.begin() + long(p1));
        }
    }
    return out;
}

// Points in the gnomonic projection about (lat0, lon0), where geodesics are
// (very nearly) straight lines; false for a point 90 degrees or more away.
bool project(const GeographicLib::Gnomonic &gn, const Point &centre, const Point &p, double &x, double &y)
{
    gn.Forward(centre.y, centre.x, p.y, p.x, x, y);
    return std::isfinite(x) && std::isfinite(y);
}

double side(double ax, double ay, double bx, double by, double cx, double cy)
{
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

// Whether two geodesic edges meet, tested as straight segments in the
// gnomonic projection about the first edge's start.
bool edgesMeet(const GeographicLib::Gnomonic &gn, const Segment &a, const Segment &b)
{
    double x[4], y[4];
    const Point *pts[4] = {&a.first, &a.second, &b.first, &b.second};
    for (int k = 0; k < 4; ++k)
        if (!project(gn, a.first, *pts[k], x[k], y[k])) return false;
    const double d1 = side(x[0], y[0], x[1], y[1], x[2], y[2]), d2 = side(x[0], y[0], x[1], y[1], x[3], y[3]);
    const double d3 = side(x[2], y[2], x[3], y[3], x[0], y[0]), d4 = side(x[2], y[2], x[3], y[3], x[1], y[1]);
    return ((d1 <= 0 && d2 >= 0) || (d1 >= 0 && d2 <= 0)) && ((d3 <= 0 && d4 >= 0) || (d3 >= 0 && d4 <= 0));
}

// Whether p lies inside a polygon (rings: exterior, then holes), by ray
// casting in the gnomonic projection about p itself.
bool inside(const GeographicLib::Gnomonic &gn, const Point &p, const std::vector<Ring> &rings)
{
    bool in = false;
    for (const Ring &ring : rings) {
        for (size_t k = 0; k + 1 < ring.size(); ++k) {
            double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            if (!project(gn, p, ring[k], x0, y0) || !project(gn, p, ring[k + 1], x1, y1)) return false;
            if ((y0 > 0) != (y1 > 0) && 0 < x0 + (x1 - x0) * (0 - y0) / (y1 - y0)) in = !in;
        }
    }
    return in;
}

// Zero when one value touches or contains the other.
bool touches(const GeographicLib::Gnomonic &gn, const Pieces &a, const Pieces &b)
{
    for (const Segment &ea : a.edges)
        for (const Segment &eb : b.edges)
            if (edgesMeet(gn, ea, eb)) return true;
    for (const auto &polygon : b.polygons) {
        for (const Point &p : a.points) if (inside(gn, p, polygon)) return true;
        for (const Segment &e : a.edges) if (inside(gn, e.first, polygon)) return true;
    }
    return false;
}

bool geodesicDistance(const Spatial &a, const Spatial &b, double &out)
{
    const Pieces pa = piecesOf(a), pb = piecesOf(b);
    if (pa.empty() || pb.empty()) return false;  // an empty instance: NULL
    const GeographicLib::Geodesic geod = geodesicOf(a.srid);
    const GeographicLib::Gnomonic gn(geod);
    if (touches(gn, pa, pb) || touches(gn, pb, pa)) { out = 0; return true; }
    double best = std::numeric_limits<double>::infinity();
    // Apart, the shortest distance runs from a point or vertex of one to the other.
    auto fromPoints = [&](const Pieces &from, const Pieces &to) {
        std::vector<Point> vertices = from.points;
        for (const Segment &e : from.edges) { vertices.push_back(e.first); vertices.push_back(e.second); }
        for (const Point &p : vertices) {
            for (const Point &q : to.points) {
                double d = 0;
                geod.Inverse(p.y, p.x, q.y, q.x, d);
                best = std::min(best, d);
            }
            for (const Segment &e : to.edges) best = std::min(best, pointToSegment(geod, p, e.first, e.second));
        }
    };
    fromPoints(pa, pb);
    fromPoints(pb, pa);
    out = best;
    return true;
}

// Two segments on one line sharing more than a point.
bool segmentsOverlap(const Point &a, const Point &b, const Point &c, const Point &d)
{
    auto cross = [](const Point &o, const Point &p, const Point &q) {
        return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x);
    };
    if (cross(a, b, c) != 0 || cross(a, b, d) != 0) return false;
    // Project on the longer axis of a-b and compare the intervals.
    const bool alongX = std::fabs(b.x - a.x) >= std::fabs(b.y - a.y);
    auto at = [&](const Point &p) { return alongX ? p.x : p.y; };
    const double lo = std::max(std::min(at(a), at(b)), std::min(at(c), at(d)));
    const double hi = std::min(std::max(at(a), at(b)), std::max(at(c), at(d)));
    return hi > lo;
}

} // namespace

bool ellipsoid(int32_t srid, double &a, double &f)
{
    for (const Ellipsoid &e : kEllipsoids) {
        if (e.srid != srid) continue;
        a = e.a;
        f = e.invF == 0 ? 0 : 1 / e.invF;
        return true;
    }
    return false;
}

bool distance(const Spatial &a, const Spatial &b, double &out)
{
    if (a.srid != b.srid) return false;  // SRIDs that differ give NULL
    if (a.geography) return geodesicDistance(a, b, out);
    Geom ga = toGeos(a), gb = toGeos(b);
    if (!ga || !gb || GEOSisEmpty_r(geos(), ga.get()) || GEOSisEmpty_r(geos(), gb.get())) return false;
    return GEOSDistance_r(geos(), ga.get(), gb.get(), &out) == 1;
}

bool length(const Spatial &g, double &out)
{
    if (!g.geography) {
        Geom gg = toGeos(g);
        return gg && GEOSLength_r(geos(), gg.get(), &out) == 1;
    }
    // Lines and polygon rings: the sum of their geodesic edges.
    const GeographicLib::Geodesic geod = geodesicOf(g.srid);
    out = 0;
    for (size_t s = 0; s < g.shapes.size(); ++s) {
        if (g.shapes[s].type != kLineString && g.shapes[s].type != kPolygon) continue;
        const auto [first, last] = g.figureRange(s);
        for (size_t f = first; f < last; ++f) {
            const auto [p0, p1] = g.pointRange(f);
            for (size_t k = p0; k + 1 < p1; ++k) {
                double d = 0;
                geod.Inverse(g.points[k].y, g.points[k].x, g.points[k + 1].y, g.points[k + 1].x, d);
                out += d;
            }
        }
    }
    return true;
}

bool area(const Spatial &g, double &out, std::string &refusal)
{
    if (!g.geography) {
        Geom gg = toGeos(g);
        return gg && GEOSArea_r(geos(), gg.get(), &out) == 1;
    }
    const GeographicLib::Geodesic geod = geodesicOf(g.srid);
    out = 0;
    for (size_t s = 0; s < g.shapes.size(); ++s) {
        if (g.shapes[s].type != kPolygon) continue;
        const auto [first, last] = g.figureRange(s);
        for (size_t f = first; f < last; ++f) {
            GeographicLib::PolygonArea poly(geod);
            const auto [p0, p1] = g.pointRange(f);
            for (size_t k = p0; k + 1 < p1; ++k) poly.AddPoint(g.points[k].y, g.points[k].x);
            double perimeter = 0, ringArea = 0;
            poly.Compute(false, true, perimeter, ringArea);
            // Counter-clockwise is positive; a clockwise exterior ring would
            // enclose the rest of the globe.
            if (f == first && ringArea < 0) {
                refusal = "24205: The specified input does not represent a valid geography instance because it "
                          "exceeds a single hemisphere. Each geography instance must fit inside a single hemisphere. "
                          "A common reason for this error is that a polygon has the wrong ring orientation.";
                return false;
            }
            out += f == first ? ringArea : -std::fabs(ringArea);
        }
    }
    return true;
}

std::string toWkb(const Spatial &g)
{
    Geom gg = toGeos(g);
    if (!gg) return std::string();
    GEOSWKBWriter *w = GEOSWKBWriter_create_r(geos());
    GEOSWKBWriter_setByteOrder_r(geos(), w, GEOS_WKB_NDR);
    size_t size = 0;
    unsigned char *bytes = GEOSWKBWriter_write_r(geos(), w, gg.get(), &size);
    GEOSWKBWriter_destroy_r(geos(), w);
    std::string out = bytes ? std::string(reinterpret_cast<const char *>(bytes), size) : std::string();
    if (bytes) GEOSFree_r(geos(), bytes);
    return out;
}

bool planarValid(const Spatial &g)
{
    Geom gg = toGeos(g);
    if (!gg || GEOSisValid_r(geos(), gg.get()) != 1) return false;
    // OGC lets a line run back over itself; SQL Server calls that invalid.
    for (size_t s = 0; s < g.shapes.size(); ++s) {
        if (g.shapes[s].type != kLineString) continue;
        const auto [first, last] = g.figureRange(s);
        for (size_t f = first; f < last; ++f) {
            const auto [p0, p1] = g.pointRange(f);
            bool distinct = false;
            for (size_t a = p0 + 1; a < p1; ++a)
                distinct = distinct || g.points[a].x != g.points[p0].x || g.points[a].y != g.points[p0].y;
            if (!distinct) return false;
            for (size_t a = p0; a + 1 < p1; ++a)
                for (size_t b = a + 1; b + 1 < p1; ++b)
                    if (segmentsOverlap(g.points[a], g.points[a + 1], g.points[b], g.points[b + 1])) return false;
        }
    }
    return true;
}

} // namespace ts::geo
