// The well-known text reader is written here rather than taken from GEOS:
// SQL Server's errors name the position and the text found there, and a
// value keeps its points, figures and shapes exactly as typed (GEOS's
// reader would hand back its own geometry and only a generic message).
#include "base/spatial.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ts::geo {

namespace {

const char *const kFormat = "System.FormatException";

Failure formatError(int number, const std::string &text)
{
    return Failure{kFormat, std::to_string(number) + ": " + text};
}

const char *const kLabels[] = {"", "POINT", "LINESTRING", "POLYGON", "MULTIPOINT", "MULTILINESTRING",
                               "MULTIPOLYGON", "GEOMETRYCOLLECTION"};

// Reads one tagged text after another, adding shapes, figures and points.
class WktReader {
public:
    WktReader(const std::string &s, bool geography, Spatial &out) : m_s(s), m_geography(geography), m_out(out) {}

    Failure read()
    {
        skip();
        if (m_pos >= m_s.size())
            return formatError(24112, "The well-known text (WKT) input is empty. To input an empty instance, specify an "
                               "empty instance of one of the following types: Point, LineString, Polygon, MultiPoint, "
                               "MultiLineString, MultiPolygon, CircularString, CompoundCurve, CurvePolygon or "
                               "GeometryCollection.");
        if (tagged(-1, 0) && (skip(), m_pos < m_s.size()) && !m_fail.failed())
            m_fail = formatError(24111, "The well-known text (WKT) input is not valid.");
        return m_fail;
    }

private:
    const std::string &m_s;
    bool m_geography;
    Spatial &m_out;
    size_t m_pos = 0;
    Failure m_fail;
    int m_ring = 0;

    void skip()
    {
        while (m_pos < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_pos]))) ++m_pos;
    }

    // The token at the current position, for messages.
    std::string found()
    {
        skip();
        if (m_pos >= m_s.size()) return "";
        size_t e = m_pos;
        if (std::isalnum(static_cast<unsigned char>(m_s[e])) || std::strchr("+-.", m_s[e]))
            while (e < m_s.size() && (std::isalnum(static_cast<unsigned char>(m_s[e])) || std::strchr("+-.", m_s[e])))
                ++e;
        else
            ++e;
        return m_s.substr(m_pos, e - m_pos);
    }

    bool fail(Failure f)
    {
        if (!m_fail.failed()) m_fail = std::move(f);
        return false;
    }

    bool endOfInput()
    {
        return fail(formatError(24209, "Unexpected end of input. Check that the input data is complete and has not "
                                "been truncated."));
    }

    bool expect(char c)
    {
        skip();
        if (m_pos >= m_s.size()) return endOfInput();
        if (m_s[m_pos] == c) { ++m_pos; return true; }
        return fail(formatError(24142, std::string("Expected \"") + c + "\" at position " + std::to_string(m_pos)
                                + ". The input has \"" + found() + "\"."));
    }

    bool peek(char c)
    {
        skip();
        return m_pos < m_s.size() && m_s[m_pos] == c;
    }

    std::string word()
    {
        skip();
        size_t e = m_pos;
        while (e < m_s.size() && std::isalpha(static_cast<unsigned char>(m_s[e]))) ++e;
        std::string w = m_s.substr(m_pos, e - m_pos);
        for (char &c : w) c = char(std::toupper(static_cast<unsigned char>(c)));
        return w;
    }

    bool emptyWord()
    {
        if (word() != "EMPTY") return false;
        m_pos += 5;
        return true;
    }

    bool number(double &v, bool nullable, bool &isNull)
    {
        skip();
        if (m_pos >= m_s.size()) return endOfInput();
        isNull = false;
        if (nullable && word() == "NULL") { m_pos += 4; isNull = true; return true; }
        const std::string tok = found();
        char *end = nullptr;
        v = tok.empty() ? 0 : std::strtod(tok.c_str(), &end);
        if (tok.empty() || end != tok.c_str() + tok.size() || !std::isfinite(v) || std::isalpha(static_cast<unsigned char>(tok[0])))
            return fail(formatError(24141, "A number is expected at position " + std::to_string(m_pos)
                                    + " of the input. The input has " + tok + "."));
        m_pos += tok.size();
        return true;
    }

    // "x y [z [m]]"; z may be NULL when m follows.
    bool coordinates()
    {
        Point p;
        bool isNull = false;
        if (!number(p.x, false, isNull) || !number(p.y, false, isNull)) return false;
        if (!peek(',') && !peek(')') && m_pos < m_s.size()) {
            double z = 0;
            if (!number(z, true, isNull)) return false;
            p.hasZ = !isNull;
            p.z = z;
            if (!peek(',') && !peek(')') && m_pos < m_s.size()) {
                bool mNull = false;
                if (!number(p.m, true, mNull)) return false;
                p.hasM = !mNull;
            }
        }
        m_out.points.push_back(p);
        return true;
    }

    // "(x y, x y ...)" as one figure; false after failing.
    bool pointList(uint8_t attribute)
    {
        if (!expect('(')) return false;
        m_out.figures.push_back(Figure{attribute, int32_t(m_out.points.size())});
        do {
            if (!coordinates()) return false;
        } while (peek(',') && (++m_pos, true));
        return expect(')');
    }

    size_t figurePoints() const { return m_out.points.size() - size_t(m_out.figures.back().pointOffset); }

    bool ring(bool exterior)
    {
        const int n = m_ring++;
        if (!pointList(exterior ? 2 : 1)) return false;
        if (!exterior) m_out.figures.back().attribute = 0;
        const Point &a = m_out.points[size_t(m_out.figures.back().pointOffset)];
        const Point &b = m_out.points.back();
        const std::string num = std::to_string(n);
        if (figurePoints() < 4)
            return fail(m_geography
                ? formatError(24305, "The Polygon input is not valid because the ring number " + std::to_string(n + 1)
                              + " does not have enough points. Each ring of a polygon must contain at least four points.")
                : n == 0 ? formatError(24118, "The Polygon input is not valid because the exterior ring does not have "
                                       "enough points. Each ring of a polygon must contain at least four points.")
                : formatError(24120, "The Polygon input is not valid because the interior ring number " + num
                              + " does not have enough points. Each ring of a polygon must contain at least four points."));
        if (a.x != b.x || a.y != b.y)
            return fail(m_geography
                ? formatError(24306, "The Polygon input is not valid because the start and end points of the ring number "
                              + std::to_string(n + 1) + " are not the same. Each ring of a polygon must have the same "
                              "start and end points.")
                : n == 0 ? formatError(24119, "The Polygon input is not valid because the start and end points of the "
                                       "exterior ring are not the same. Each ring of a polygon must have the same start "
                                       "and end points.")
                : formatError(24121, "The Polygon input is not valid because the start and end points of the interior "
                              "ring number " + num + " are not the same. Each ring of a polygon must have the same "
                              "start and end points."));
        return true;
    }

    // The body of a shape of `type` after its label (EMPTY already handled).
    bool body(uint8_t type, int32_t self)
    {
        switch (type) {
        case kPoint: return expect('(') && pointFigure() && expect(')');
        case kLineString:
            if (!pointList(1)) return false;
            if (figurePoints() < 2)
                return fail(formatError(24117, "The LineString input is not valid because it does not have enough "
                                        "points. A LineString must have at least two points."));
            return true;
        case kPolygon:
            m_ring = 0;
            if (!expect('(')) return false;
            do {
                if (!ring(m_ring == 0)) return false;
            } while (peek(',') && (++m_pos, true));
            return expect(')');
        default: return members(type, self);
        }
    }

    bool pointFigure()
    {
        m_out.figures.push_back(Figure{1, int32_t(m_out.points.size())});
        return coordinates();
    }

    // The members of a multi-shape or collection, each a child shape.
    bool members(uint8_t type, int32_t self)
    {
        if (!expect('(')) return false;
        do {
            if (type == kCollection) {
                if (!tagged(self, 0)) return false;
                continue;
            }
            const uint8_t child = uint8_t(type - 3);
            if (child == kPoint && !peek('(') && word() != "EMPTY") {
                // MULTIPOINT(1 2, 3 4): points without their own parentheses.
                m_out.shapes.push_back(Shape{self, int32_t(m_out.figures.size()), kPoint});
                if (!pointFigure()) return false;
                continue;
            }
            if (!tagged(self, child)) return false;
        } while (peek(',') && (++m_pos, true));
        return expect(')');
    }

    // A shape: its label (unless `implied` by a multi-shape), then EMPTY or its body.
    bool tagged(int32_t parent, uint8_t implied)
    {
        uint8_t type = implied;
        if (!implied) {
            const std::string label = word();
            for (uint8_t k = 1; k <= kCollection; ++k)
                if (label == kLabels[k]) type = k;
            for (const char *curve : {"CIRCULARSTRING", "COMPOUNDCURVE", "CURVEPOLYGON", "FULLGLOBE"})
                if (!type && label == curve)
                    return fail(Failure{"System.NotSupportedException", label + " instances are not built by this "
                                        "server; points, lines, polygons and their collections are."});
            if (!type) {
                skip();
                return fail(formatError(24114, "The label " + m_s.substr(m_pos) + " in the input well-known text (WKT) "
                                        "is not valid. Valid labels are POINT, LINESTRING, POLYGON, MULTIPOINT, "
                                        "MULTILINESTRING, MULTIPOLYGON, GEOMETRYCOLLECTION, CIRCULARSTRING, "
                                        "COMPOUNDCURVE, CURVEPOLYGON and FULLGLOBE (geography Data Type only)."));
            }
            m_pos += label.size();
        }
        const auto self = int32_t(m_out.shapes.size());
        m_out.shapes.push_back(Shape{parent, int32_t(m_out.figures.size()), type});
        if (emptyWord()) {
            m_out.shapes[size_t(self)].figureOffset = -1;
            return true;
        }
        const size_t figuresBefore = m_out.figures.size();
        if (!body(type, self)) return false;
        if (m_out.figures.size() == figuresBefore) m_out.shapes[size_t(self)].figureOffset = -1;
        return true;
    }
};

void appendCoordinates(std::string &out, const Spatial &g, const Point &p, bool withZM)
{
    out += formatNumber(p.x) + " " + formatNumber(p.y);
    if (!withZM || (!g.hasZ() && !g.hasM())) return;
    if (g.hasZ() || p.hasM) out += " " + (p.hasZ ? formatNumber(p.z) : std::string("NULL"));
    if (p.hasM) out += " " + formatNumber(p.m);
}

void appendFigure(std::string &out, const Spatial &g, size_t f, bool withZM)
{
    const auto [first, last] = g.pointRange(f);
    out += "(";
    for (size_t k = first; k < last; ++k) {
        if (k > first) out += ", ";
        appendCoordinates(out, g, g.points[k], withZM);
    }
    out += ")";
}

// The text of shape `s` after its label: EMPTY or its parenthesized body.
void appendShape(std::string &out, const Spatial &g, size_t s, bool withZM, bool label)
{
    const Shape &sh = g.shapes[s];
    if (label) out += std::string(kLabels[sh.type]) + " ";
    const auto [first, last] = g.figureRange(s);
    if (sh.type <= kPolygon && first == last) { out += "EMPTY"; return; }
    if (sh.type == kPoint) { appendFigure(out, g, first, withZM); return; }
    if (sh.type == kLineString) { appendFigure(out, g, first, withZM); return; }
    if (sh.type == kPolygon) {
        out += "(";
        for (size_t f = first; f < last; ++f) {
            if (f > first) out += ", ";
            appendFigure(out, g, f, withZM);
        }
        out += ")";
        return;
    }
    const std::vector<size_t> kids = g.children(s);
    if (kids.empty()) { out += "EMPTY"; return; }
    out += "(";
    for (size_t k = 0; k < kids.size(); ++k) {
        if (k) out += ", ";
        appendShape(out, g, kids[k], withZM, sh.type == kCollection);
    }
    out += ")";
}

void putU32(std::string &b, uint32_t v)
{
    for (int k = 0; k < 4; ++k) b += char((v >> (8 * k)) & 0xFF);
}

void putDouble(std::string &b, double d)
{
    uint64_t u = 0;
    std::memcpy(&u, &d, 8);
    for (int k = 0; k < 8; ++k) b += char((u >> (8 * k)) & 0xFF);
}

} // namespace

bool Spatial::hasZ() const
{
    for (const Point &p : points) if (p.hasZ) return true;
    return false;
}

bool Spatial::hasM() const
{
    for (const Point &p : points) if (p.hasM) return true;
    return false;
}

std::pair<size_t, size_t> Spatial::figureRange(size_t s) const
{
    if (shapes[s].figureOffset < 0) return {0, 0};
    const auto first = size_t(shapes[s].figureOffset);
    size_t last = figures.size();
    // The next shape that is not inside this one starts where this one ends.
    for (size_t k = s + 1; k < shapes.size(); ++k) {
        size_t up = k;
        bool inside = false;
        while (shapes[up].parent >= 0) {
            up = size_t(shapes[up].parent);
            if (up == s) { inside = true; break; }
        }
        if (!inside && shapes[k].figureOffset >= 0) { last = size_t(shapes[k].figureOffset); break; }
    }
    return {first, last};
}

std::pair<size_t, size_t> Spatial::pointRange(size_t f) const
{
    const auto first = size_t(figures[f].pointOffset);
    const size_t last = f + 1 < figures.size() ? size_t(figures[f + 1].pointOffset) : points.size();
    return {first, last};
}

std::vector<size_t> Spatial::children(size_t s) const
{
    std::vector<size_t> out;
    for (size_t k = s + 1; k < shapes.size(); ++k)
        if (shapes[k].parent == int32_t(s)) out.push_back(k);
    return out;
}

Failure parseWkt(const std::string &text, bool geography, Spatial &out)
{
    out = Spatial{};
    out.geography = geography;
    return WktReader(text, geography, out).read();
}

std::string formatNumber(double v)
{
    if (v == 0) return "0";  // no "-0"
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    std::string s = buf;
    const size_t e = s.find('e');
    if (e != std::string::npos) s[e] = 'E';
    return s;
}

std::string toWkt(const Spatial &g, bool withZM)
{
    std::string out;
    if (!g.shapes.empty()) appendShape(out, g, 0, withZM, true);
    return out;
}

std::string typeName(const Spatial &g)
{
    static const char *const names[] = {"", "Point", "LineString", "Polygon", "MultiPoint", "MultiLineString",
                                        "MultiPolygon", "GeometryCollection"};
    return g.shapes.empty() ? std::string() : names[g.shapes[0].type];
}

std::string serialize(const Spatial &g)
{
    std::string b;
    putU32(b, uint32_t(g.srid));
    b += char(1);
    const bool z = g.hasZ(), m = g.hasM();
    const bool single = g.shapes.size() == 1 && g.figures.size() == 1;
    const bool point = single && g.shapes[0].type == kPoint && g.points.size() == 1;
    const bool segment = single && g.shapes[0].type == kLineString && g.points.size() == 2;
    b += char((z ? 0x01 : 0) | (m ? 0x02 : 0) | (g.valid ? 0x04 : 0) | (point ? 0x08 : 0) | (segment ? 0x10 : 0));
    if (!point && !segment) putU32(b, uint32_t(g.points.size()));
    for (const Point &p : g.points) {
        putDouble(b, g.geography ? p.y : p.x);
        putDouble(b, g.geography ? p.x : p.y);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (z) for (const Point &p : g.points) putDouble(b, p.hasZ ? p.z : nan);
    if (m) for (const Point &p : g.points) putDouble(b, p.hasM ? p.m : nan);
    if (point || segment) return b;
    putU32(b, uint32_t(g.figures.size()));
    for (const Figure &f : g.figures) {
        b += char(f.attribute);
        putU32(b, uint32_t(f.pointOffset));
    }
    putU32(b, uint32_t(g.shapes.size()));
    for (const Shape &s : g.shapes) {
        putU32(b, uint32_t(s.parent));
        putU32(b, uint32_t(s.figureOffset));
        b += char(s.type);
    }
    return b;
}

Spatial makePoint(bool geography, double a, double b, int32_t srid)
{
    Spatial g;
    g.geography = geography;
    g.srid = srid;
    Point p;
    p.x = geography ? b : a;  // geography::Point(lat, long, srid)
    p.y = geography ? a : b;
    g.points.push_back(p);
    g.figures.push_back(Figure{1, 0});
    g.shapes.push_back(Shape{-1, 0, kPoint});
    return g;
}

} // namespace ts::geo
