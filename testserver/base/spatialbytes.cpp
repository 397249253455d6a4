// Serialized spatial bytes read back, and the checks a new instance passes
// before it is stored.
#include "base/spatial.h"

#include <cmath>
#include <cstring>

namespace ts::geo {

namespace {

class ByteReader {
public:
    explicit ByteReader(const std::string &b) : m_b(b) {}
    bool u8(uint8_t &v)
    {
        if (m_pos + 1 > m_b.size()) return false;
        v = uint8_t(m_b[m_pos++]);
        return true;
    }
    bool u32(uint32_t &v)
    {
        if (m_pos + 4 > m_b.size()) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) v |= uint32_t(uint8_t(m_b[m_pos + size_t(k)])) << (8 * k);
        m_pos += 4;
        return true;
    }
    bool f64(double &d)
    {
        if (m_pos + 8 > m_b.size()) return false;
        uint64_t u = 0;
        for (int k = 0; k < 8; ++k) u |= uint64_t(uint8_t(m_b[m_pos + size_t(k)])) << (8 * k);
        std::memcpy(&d, &u, 8);
        m_pos += 8;
        return true;
    }
    bool done() const { return m_pos == m_b.size(); }
    size_t left() const { return m_b.size() - m_pos; }

private:
    const std::string &m_b;
    size_t m_pos = 0;
};

Failure badBytes()
{
    // .NET's own text for a value its reader cannot take.
    return Failure{"System.FormatException", "One of the identified items was in an invalid format."};
}

bool readPoints(ByteReader &r, Spatial &g, uint32_t n, uint8_t props)
{
    if (r.left() / 16 < n) return false;
    g.points.resize(n);
    for (Point &p : g.points) {
        double a = 0, b = 0;
        if (!r.f64(a) || !r.f64(b)) return false;
        p.x = g.geography ? b : a;
        p.y = g.geography ? a : b;
    }
    for (int pass = 0; pass < 2; ++pass) {
        if (!(props & (pass ? 0x02 : 0x01))) continue;
        for (Point &p : g.points) {
            double v = 0;
            if (!r.f64(v)) return false;
            (pass ? p.m : p.z) = v;
            (pass ? p.hasM : p.hasZ) = !std::isnan(v);
        }
    }
    return true;
}

// Figures and shapes of a complex value, each offset checked against the counts.
bool readStructure(ByteReader &r, Spatial &g, uint8_t version)
{
    uint32_t nf = 0, ns = 0;
    if (!r.u32(nf) || r.left() / 5 < nf) return false;
    for (uint32_t k = 0; k < nf; ++k) {
        Figure f;
        uint32_t off = 0;
        if (!r.u8(f.attribute) || !r.u32(off) || off > g.points.size()) return false;
        if (k && int32_t(off) < g.figures.back().pointOffset) return false;
        // Version 2 marks every straight figure 1; only arcs (2, 3) are refused here.
        if (f.attribute > (version == 1 ? 2 : 1)) return false;
        f.pointOffset = int32_t(off);
        g.figures.push_back(f);
    }
    if (!r.u32(ns) || ns == 0 || r.left() / 9 < ns) return false;
    for (uint32_t k = 0; k < ns; ++k) {
        Shape s;
        uint32_t parent = 0, fig = 0;
        if (!r.u32(parent) || !r.u32(fig) || !r.u8(s.type)) return false;
        s.parent = int32_t(parent);
        s.figureOffset = int32_t(fig);
        if (s.type < kPoint || s.type > kCollection || s.parent >= int32_t(k) || (k && s.parent < 0)
            || (!k && s.parent != -1) || s.figureOffset < -1 || s.figureOffset >= int32_t(nf))
            return false;
        g.shapes.push_back(s);
    }
    return r.done();
}

} // namespace

Failure deserialize(const std::string &bytes, bool geography, Spatial &out)
{
    out = Spatial{};
    out.geography = geography;
    ByteReader r(bytes);
    uint32_t srid = 0;
    uint8_t version = 0, props = 0;
    if (!r.u32(srid) || !r.u8(version) || !r.u8(props)) return badBytes();
    out.srid = int32_t(srid);
    if (version != 1 && version != 2)
        return Failure{"System.FormatException", "24210: " + std::string(geography ? "Geography" : "Geometry")
                       + " type with an unexpected version of " + std::to_string(version)
                       + " received; only versions up to 2 are accepted."};
    out.valid = (props & 0x04) != 0;
    const bool point = props & 0x08, segment = props & 0x10;
    if (point || segment) {
        if (!readPoints(r, out, point ? 1 : 2, props) || !r.done()) return badBytes();
        out.figures.push_back(Figure{1, 0});
        out.shapes.push_back(Shape{-1, 0, point ? kPoint : kLineString});
        return {};
    }
    uint32_t n = 0;
    if (!r.u32(n) || !readPoints(r, out, n, props) || !readStructure(r, out, version)) return badBytes();
    // Polygon rings in version 2 carry no exterior/interior mark: the first is exterior.
    for (size_t s = 0; s < out.shapes.size(); ++s) {
        if (out.shapes[s].type != kPolygon) continue;
        const auto [first, last] = out.figureRange(s);
        for (size_t f = first; f < last; ++f) out.figures[f].attribute = f == first ? 2 : 0;
    }
    return {};
}

Failure check(Spatial &g)
{
    if (!g.geography) {
        if (g.srid < 0 || g.srid > 999999)
            return Failure{"System.ArgumentException", "24100: The spatial reference identifier (SRID) is not valid. "
                           "SRIDs must be between 0 and 999999."};
        g.valid = planarValid(g);
        return {};
    }
    double a = 0, f = 0;
    if (!ellipsoid(g.srid, a, f))
        return Failure{"System.ArgumentException", "24204: The spatial reference identifier (SRID) is not valid. The "
                       "specified SRID must match one of the supported SRIDs displayed in the "
                       "sys.spatial_reference_systems catalog view."};
    for (const Point &p : g.points)
        if (p.y < -90 || p.y > 90)
            return Failure{"System.FormatException", "24201: Latitude values must be between -90 and 90 degrees."};
    double ignored = 0;
    std::string refusal;
    if (!area(g, ignored, refusal) && !refusal.empty())
        return Failure{"Microsoft.SqlServer.Types.GLArgumentException", refusal};
    g.valid = true;
    return {};
}

} // namespace ts::geo
