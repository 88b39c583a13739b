#include "collision/ExactMesh.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace col {
namespace {

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

// Skew directions with no simple ratios between their components, so a ray from a point of a
// mesh built on a regular grid is unlikely to run through an edge or corner. A ray that comes
// close to one anyway is discarded and the next direction is used.
constexpr double kRayDirs[7][3] = {
    {0.5437237, 0.3119416, 0.7791013},   {-0.3011583, 0.6472951, 0.7002168},  {0.8149327, -0.4412263, 0.3757109},
    {-0.6633197, -0.5318273, 0.5264419}, {0.2291804, -0.8534166, -0.4681226}, {-0.7212318, 0.2038551, -0.6620154},
    {0.4113057, 0.6207723, -0.6673094},
};

Point3 apply(const Matrix4& m, const Point3& p) {
    const Vector4 v = m * p;
    return Point3(v.getX(), v.getY(), v.getZ());
}

}  // namespace

bool ExactMesh::build(const std::vector<Point3>& points, const std::vector<std::vector<unsigned>>& polygons) {
    *this = ExactMesh();
    std::vector<std::vector<unsigned>> tris;
    for (const auto& poly : polygons) {
        if (std::any_of(poly.begin(), poly.end(), [&](unsigned i) { return i >= points.size(); })) continue;
        for (size_t k = 1; k + 1 < poly.size(); ++k) tris.push_back({poly[0], poly[k], poly[k + 1]});
    }
    if (tris.empty()) return false;
    m_points = points;
    m_tree.build(m_points, tris);
    m_convex.build(m_points, tris);

    float lo[3], hi[3];
    for (int k = 0; k < 3; ++k) lo[k] = std::numeric_limits<float>::max(), hi[k] = -lo[k];
    for (const Point3& p : m_points)
        for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    m_centre = Point3((lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
    m_minExtent = std::min({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    m_maxExtent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    for (const Point3& p : m_points) m_radius = std::max(m_radius, length(p - m_centre));

    const unsigned first = tris[0][0];
    std::fill(std::begin(m_extremes), std::end(m_extremes), int(first));
    m_samples = m_points;
    for (const auto& t : tris) {
        const Point3 &a = m_points[t[0]], &b = m_points[t[1]], &c = m_points[t[2]];
        m_samples.push_back(lerp(0.5f, a, b));
        m_samples.push_back(lerp(0.5f, b, c));
        m_samples.push_back(lerp(0.5f, c, a));
        m_samples.push_back(Point3((Vector3(a) + Vector3(b) + Vector3(c)) / 3.0f));
        for (unsigned i : t)
            for (int k = 0; k < 3; ++k) {
                if (m_points[i][k] < m_points[size_t(m_extremes[2 * k])][k]) m_extremes[2 * k] = int(i);
                if (m_points[i][k] > m_points[size_t(m_extremes[2 * k + 1])][k]) m_extremes[2 * k + 1] = int(i);
            }
    }
    return true;
}

bool ExactMesh::contains(const Point3& p) const {
    const double o[3] = {p.getX(), p.getY(), p.getZ()};
    int votes = 0, cast = 0;
    for (const auto& d : kRayDirs) {
        const int parity = m_tree.rayParity(o, d);
        if (parity < 0) continue;
        votes += parity;
        if (++cast == 3) break;
    }
    // Every direction grazing means p sits on an edge or corner: on the surface, not inside.
    return cast > 0 && 2 * votes > cast;
}

float deepestInside(const ExactMesh& inner, const ExactMesh& outer, const Matrix4& m_OI) {
    float depth = 0.0f;
    const float r2 = outer.radius() * outer.radius();
    for (const Point3& s : inner.samples()) {
        const Point3 q = apply(m_OI, s);
        if (lengthSqr(q - outer.centre()) > r2) continue;
        if (outer.contains(q)) depth = std::max(depth, outer.surfaceDistance(q));
    }
    return depth;
}

float farthestOutside(const ExactMesh& obj, const ExactMesh& outer, const Matrix4& m_OB, bool& outAnyOutside) {
    float depth = 0.0f;
    outAnyOutside = false;
    for (const Point3& s : obj.samples()) {
        const Point3 q = apply(m_OB, s);
        if (outer.contains(q)) continue;
        outAnyOutside = true;
        depth = std::max(depth, outer.surfaceDistance(q));
    }
    return depth;
}

}  // namespace col
