#include "statistics/CheckMesh.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "collision/ColGeometry.h"
#include "collision/TriDist.h"

namespace check {
namespace {

constexpr int32_t kLeafSize = 4;

// Skew directions with no simple ratios between their components, so a ray from a point of a
// mesh built on a regular grid is unlikely to run through an edge or vertex. A ray that comes
// close to one anyway is discarded and the next direction is used.
constexpr double kRayDirs[7][3] = {
    {0.5437237, 0.3119416, 0.7791013},   {-0.3011583, 0.6472951, 0.7002168},  {0.8149327, -0.4412263, 0.3757109},
    {-0.6633197, -0.5318273, 0.5264419}, {0.2291804, -0.8534166, -0.4681226}, {-0.7212318, 0.2038551, -0.6620154},
    {0.4113057, 0.6207723, -0.6673094},
};
constexpr double kEdgeMargin = 1e-7;  // barycentric distance below which a hit counts as grazing

enum class Hit { None, Inside, Grazing };

/// Ray test (Moller-Trumbore) in double: a hit at t > 0 counts; a hit on or next to an edge,
/// or a ray in the triangle's plane that would meet it, is Grazing.
Hit RayHitsTriangle(const double o[3], const double d[3], const Point3& a, const Point3& b, const Point3& c) {
    const double e1[3] = {b.getX() - a.getX(), b.getY() - a.getY(), b.getZ() - a.getZ()};
    const double e2[3] = {c.getX() - a.getX(), c.getY() - a.getY(), c.getZ() - a.getZ()};
    const double p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
    const double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
    if (det == 0.0) return Hit::None;  // parallel: a degenerate sliver is no part of the parity
    const double inv = 1.0 / det;
    const double s[3] = {o[0] - a.getX(), o[1] - a.getY(), o[2] - a.getZ()};
    const double u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
    if (u < -kEdgeMargin || u > 1.0 + kEdgeMargin) return Hit::None;
    const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2], s[0] * e1[1] - s[1] * e1[0]};
    const double v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) * inv;
    if (v < -kEdgeMargin || u + v > 1.0 + kEdgeMargin) return Hit::None;
    const double t = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
    if (t <= 0.0) return Hit::None;
    if (u < kEdgeMargin || v < kEdgeMargin || u + v > 1.0 - kEdgeMargin) return Hit::Grazing;
    return Hit::Inside;
}

bool RayHitsBox(const double o[3], const double invD[3], const float lo[3], const float hi[3]) {
    double tmin = 0.0, tmax = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        double t0 = (lo[k] - o[k]) * invD[k];
        double t1 = (hi[k] - o[k]) * invD[k];
        if (t0 > t1) std::swap(t0, t1);
        tmin = std::max(tmin, t0);
        tmax = std::min(tmax, t1);
    }
    return tmin <= tmax;
}

float BoxDistanceSq(const Point3& p, const float lo[3], const float hi[3]) {
    float d2 = 0.0f;
    for (int k = 0; k < 3; ++k) {
        const float v = p[k];
        const float e = v < lo[k] ? lo[k] - v : (v > hi[k] ? v - hi[k] : 0.0f);
        d2 += e * e;
    }
    return d2;
}

}  // namespace

bool CheckMesh::Load(const std::string& path, std::string& outError) {
    col::ColGeometry geom;
    const int rc = col::loadGeometryFromFile(&geom, path.c_str());
    if (rc < 0) {
        outError = rc == -1 ? "cannot open " + path : "cannot read " + path;
        return false;
    }
    if (!Build(geom.getPoints(), geom.getPrimitives(), outError)) {
        outError = path + ": " + outError;
        return false;
    }
    return true;
}

bool CheckMesh::Build(std::vector<Point3> points, const std::vector<std::vector<unsigned>>& polygons,
                      std::string& outError) {
    m_points = std::move(points);
    m_tris.clear();
    for (const auto& poly : polygons) {
        for (size_t k = 1; k + 1 < poly.size(); ++k) m_tris.push_back({poly[0], poly[k], poly[k + 1]});
    }
    if (m_tris.empty()) {
        outError = "mesh has no triangles";
        return false;
    }

    m_volume = 0.0f;
    for (const auto& t : m_tris) {
        const Vectormath::Aos::Vector3 p0(m_points[t[0]]), p1(m_points[t[1]]), p2(m_points[t[2]]);
        m_volume += dot(p0, cross(p1, p2)) / 6.0f;
    }
    m_volume = std::fabs(m_volume);

    float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float hi[3] = {-lo[0], -lo[1], -lo[2]};
    for (const Point3& p : m_points) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    m_centre = Point3((lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f);
    m_minExtent = std::min({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    m_radius = 0.0f;
    for (const Point3& p : m_points) m_radius = std::max(m_radius, length(p - m_centre));

    m_samples = m_points;
    for (const auto& t : m_tris) {
        const Point3& a = m_points[t[0]];
        const Point3& b = m_points[t[1]];
        const Point3& c = m_points[t[2]];
        m_samples.push_back(lerp(0.5f, a, b));
        m_samples.push_back(lerp(0.5f, b, c));
        m_samples.push_back(lerp(0.5f, c, a));
        m_samples.push_back(
            Point3((Vectormath::Aos::Vector3(a) + Vectormath::Aos::Vector3(b) + Vectormath::Aos::Vector3(c)) / 3.0f));
    }

    std::vector<std::vector<unsigned>> triPolys;
    triPolys.reserve(m_tris.size());
    for (const auto& t : m_tris) triPolys.push_back({t[0], t[1], t[2]});
    m_tree.build(m_points, triPolys);

    std::vector<std::array<float, 3>> centroids(m_tris.size());
    for (size_t i = 0; i < m_tris.size(); ++i) {
        for (int k = 0; k < 3; ++k)
            centroids[i][k] =
                (m_points[m_tris[i][0]][k] + m_points[m_tris[i][1]][k] + m_points[m_tris[i][2]][k]) / 3.0f;
    }
    m_nodes.clear();
    m_nodes.reserve(2 * m_tris.size());
    BuildNode(0, static_cast<int32_t>(m_tris.size()), centroids);
    return true;
}

int32_t CheckMesh::BuildNode(int32_t first, int32_t count, std::vector<std::array<float, 3>>& centroids) {
    const int32_t self = static_cast<int32_t>(m_nodes.size());
    m_nodes.push_back({});
    Node node{};
    for (int k = 0; k < 3; ++k) {
        node.lo[k] = std::numeric_limits<float>::max();
        node.hi[k] = -std::numeric_limits<float>::max();
    }
    float clo[3] = {node.lo[0], node.lo[1], node.lo[2]}, chi[3] = {node.hi[0], node.hi[1], node.hi[2]};
    for (int32_t i = first; i < first + count; ++i) {
        for (unsigned v : m_tris[static_cast<size_t>(i)]) {
            for (int k = 0; k < 3; ++k) {
                node.lo[k] = std::min(node.lo[k], m_points[v][k]);
                node.hi[k] = std::max(node.hi[k], m_points[v][k]);
            }
        }
        for (int k = 0; k < 3; ++k) {
            clo[k] = std::min(clo[k], centroids[static_cast<size_t>(i)][k]);
            chi[k] = std::max(chi[k], centroids[static_cast<size_t>(i)][k]);
        }
    }
    if (count <= kLeafSize) {
        node.first = first;
        node.count = count;
        m_nodes[static_cast<size_t>(self)] = node;
        return self;
    }
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (chi[k] - clo[k] > chi[axis] - clo[axis]) axis = k;
    // Median split: triangles and their centroids are permuted together.
    std::vector<int32_t> idx(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) idx[static_cast<size_t>(i)] = first + i;
    const int32_t half = count / 2;
    std::nth_element(idx.begin(), idx.begin() + half, idx.end(), [&](int32_t a, int32_t b) {
        return centroids[static_cast<size_t>(a)][axis] < centroids[static_cast<size_t>(b)][axis];
    });
    std::vector<std::array<unsigned, 3>> tris(idx.size());
    std::vector<std::array<float, 3>> cents(idx.size());
    for (size_t i = 0; i < idx.size(); ++i) {
        tris[i] = m_tris[static_cast<size_t>(idx[i])];
        cents[i] = centroids[static_cast<size_t>(idx[i])];
    }
    std::copy(tris.begin(), tris.end(), m_tris.begin() + first);
    std::copy(cents.begin(), cents.end(), centroids.begin() + first);

    m_nodes[static_cast<size_t>(self)] = node;
    const int32_t l = BuildNode(first, half, centroids);
    const int32_t r = BuildNode(first + half, count - half, centroids);
    m_nodes[static_cast<size_t>(self)].first = l;
    m_nodes[static_cast<size_t>(self)].count = -r;  // inner node: minus the right child's index (never 0)
    return self;
}

int CheckMesh::RayParity(const double o[3], const double d[3]) const {
    const double invD[3] = {1.0 / d[0], 1.0 / d[1], 1.0 / d[2]};
    int hits = 0;
    std::vector<int32_t> stack{0};
    while (!stack.empty()) {
        const Node& n = m_nodes[static_cast<size_t>(stack.back())];
        stack.pop_back();
        if (!RayHitsBox(o, invD, n.lo, n.hi)) continue;
        if (n.count > 0) {
            for (int32_t i = n.first; i < n.first + n.count; ++i) {
                const auto& t = m_tris[static_cast<size_t>(i)];
                const Hit h = RayHitsTriangle(o, d, m_points[t[0]], m_points[t[1]], m_points[t[2]]);
                if (h == Hit::Grazing) return -1;
                if (h == Hit::Inside) ++hits;
            }
        } else {
            stack.push_back(n.first);
            stack.push_back(-n.count);
        }
    }
    return hits & 1;
}

bool CheckMesh::Inside(const Point3& p) const {
    const double o[3] = {p.getX(), p.getY(), p.getZ()};
    int votes = 0, cast = 0;
    for (const auto& d : kRayDirs) {
        const int parity = RayParity(o, d);
        if (parity < 0) continue;
        votes += parity;
        if (++cast == 3) break;
    }
    // Every direction grazing means p sits on an edge or vertex: on the surface, not inside.
    return cast > 0 && 2 * votes > cast;
}

float CheckMesh::SurfaceDistance(const Point3& p) const {
    const Point3 point[3] = {p, p, p};  // a degenerate triangle is exactly the point
    float best = std::numeric_limits<float>::infinity();
    std::vector<int32_t> stack{0};
    while (!stack.empty()) {
        const Node& n = m_nodes[static_cast<size_t>(stack.back())];
        stack.pop_back();
        const float boxD2 = BoxDistanceSq(p, n.lo, n.hi);
        if (boxD2 >= best * best) continue;
        if (n.count > 0) {
            for (int32_t i = n.first; i < n.first + n.count; ++i) {
                const auto& t = m_tris[static_cast<size_t>(i)];
                const Point3 tri[3] = {m_points[t[0]], m_points[t[1]], m_points[t[2]]};
                Point3 cp, cq;
                best = std::min(best, col::TriDist(cp, cq, point, tri));
            }
        } else {
            // Nearer child last, so it is popped first and tightens `best` early.
            const Node& a = m_nodes[static_cast<size_t>(n.first)];
            const Node& b = m_nodes[static_cast<size_t>(-n.count)];
            const bool aNearer = BoxDistanceSq(p, a.lo, a.hi) < BoxDistanceSq(p, b.lo, b.hi);
            stack.push_back(aNearer ? -n.count : n.first);
            stack.push_back(aNearer ? n.first : -n.count);
        }
    }
    return best;
}

}  // namespace check
