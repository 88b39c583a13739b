#include "MeshDistance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace spheres {

Vec3 ClosestPointOnTriangle(const Vec3& p, const Vec3& a, const Vec3& b, const Vec3& c, int& outFeature) {
    const Vec3 ab = b - a, ac = c - a, ap = p - a;
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0) {
        outFeature = 0;
        return a;
    }
    const Vec3 bp = p - b;
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0.0 && d4 <= d3) {
        outFeature = 1;
        return b;
    }
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
        outFeature = 3;
        return a + ab * (d1 / (d1 - d3));
    }
    const Vec3 cp = p - c;
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0.0 && d5 <= d6) {
        outFeature = 2;
        return c;
    }
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
        outFeature = 5;
        return a + ac * (d2 / (d2 - d6));
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0) {
        outFeature = 4;
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    }
    const double denom = 1.0 / (va + vb + vc);
    outFeature = 6;
    return a + ab * (vb * denom) + ac * (vc * denom);
}

MeshDistance::MeshDistance(const TriMesh& mesh) : m_mesh(mesh) {
    const size_t nt = mesh.triangles.size();
    m_faceNormals.resize(nt);
    m_vertexNormals.assign(mesh.points.size(), Vec3{});
    m_edgeNormals.resize(nt);
    std::map<std::pair<int, int>, Vec3> edgeSum;
    for (size_t t = 0; t < nt; ++t) {
        const auto& tri = mesh.triangles[t];
        const Vec3 n =
            normalized(cross(mesh.points[tri[1]] - mesh.points[tri[0]], mesh.points[tri[2]] - mesh.points[tri[0]]));
        m_faceNormals[t] = n;
        for (int k = 0; k < 3; ++k) {
            const Vec3& p = mesh.points[tri[k]];
            const Vec3 e1 = normalized(mesh.points[tri[(k + 1) % 3]] - p);
            const Vec3 e2 = normalized(mesh.points[tri[(k + 2) % 3]] - p);
            const double angle = std::acos(std::clamp(dot(e1, e2), -1.0, 1.0));
            m_vertexNormals[tri[k]] += n * angle;
            int a = tri[k], b = tri[(k + 1) % 3];
            edgeSum[{std::min(a, b), std::max(a, b)}] += n;
        }
    }
    // Edge slots of a triangle: 3 = edge 01, 4 = edge 12, 5 = edge 20.
    for (size_t t = 0; t < nt; ++t) {
        const auto& tri = mesh.triangles[t];
        for (int k = 0; k < 3; ++k) {
            int a = tri[k], b = tri[(k + 1) % 3];
            m_edgeNormals[t][k] = edgeSum[{std::min(a, b), std::max(a, b)}];
        }
    }
    std::vector<Vec3> centroids(nt);
    m_order.resize(nt);
    for (size_t t = 0; t < nt; ++t) {
        const auto& tri = mesh.triangles[t];
        centroids[t] = (mesh.points[tri[0]] + mesh.points[tri[1]] + mesh.points[tri[2]]) / 3.0;
        m_order[t] = static_cast<int>(t);
    }
    m_nodes.reserve(2 * nt);
    Build(0, static_cast<int>(nt), centroids);
}

int MeshDistance::Build(int begin, int end, std::vector<Vec3>& centroids) {
    const int index = static_cast<int>(m_nodes.size());
    m_nodes.push_back({});
    Vec3 lo{1e300, 1e300, 1e300}, hi = -lo, clo = lo, chi = hi;
    for (int i = begin; i < end; ++i) {
        const auto& tri = m_mesh.triangles[m_order[i]];
        for (int k = 0; k < 3; ++k) {
            lo = vmin(lo, m_mesh.points[tri[k]]);
            hi = vmax(hi, m_mesh.points[tri[k]]);
        }
        clo = vmin(clo, centroids[m_order[i]]);
        chi = vmax(chi, centroids[m_order[i]]);
    }
    m_nodes[index].lo = lo;
    m_nodes[index].hi = hi;
    if (end - begin <= 4) {
        m_nodes[index].first = begin;
        m_nodes[index].count = end - begin;
        return index;
    }
    const Vec3 ext = chi - clo;
    const int axis = ext.x >= ext.y && ext.x >= ext.z ? 0 : (ext.y >= ext.z ? 1 : 2);
    const int mid = (begin + end) / 2;
    std::nth_element(m_order.begin() + begin, m_order.begin() + mid, m_order.begin() + end, [&](int a, int b) {
        const double ca = centroids[a][axis], cb = centroids[b][axis];
        return ca < cb || (ca == cb && a < b);
    });
    Build(begin, mid, centroids);  // left child is always index + 1
    const int right = Build(mid, end, centroids);
    m_nodes[index].first = right;
    m_nodes[index].count = 0;
    return index;
}

namespace {
double BoxDistance2(const Vec3& p, const Vec3& lo, const Vec3& hi) {
    double d2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        double v = p[i] < lo[i] ? lo[i] - p[i] : (p[i] > hi[i] ? p[i] - hi[i] : 0.0);
        d2 += v * v;
    }
    return d2;
}
}  // namespace

ClosestHit MeshDistance::Closest(const Vec3& p) const {
    double best2 = std::numeric_limits<double>::infinity();
    ClosestHit hit;
    int stack[128];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = m_nodes[stack[--top]];
        if (BoxDistance2(p, node.lo, node.hi) >= best2) continue;
        if (node.count > 0) {
            for (int i = node.first; i < node.first + node.count; ++i) {
                const int t = m_order[i];
                const auto& tri = m_mesh.triangles[t];
                int feature = 6;
                const Vec3 q = ClosestPointOnTriangle(p, m_mesh.points[tri[0]], m_mesh.points[tri[1]],
                                                      m_mesh.points[tri[2]], feature);
                const Vec3 d = p - q;
                const double d2 = dot(d, d);
                // Ties go to the lower triangle index so the result does not depend on traversal.
                if (d2 < best2 || (d2 == best2 && t < hit.triangle)) {
                    best2 = d2;
                    hit.point = q;
                    hit.triangle = t;
                    hit.feature = feature;
                }
            }
            continue;
        }
        const int left = static_cast<int>(&node - m_nodes.data()) + 1, right = node.first;
        const double dl = BoxDistance2(p, m_nodes[left].lo, m_nodes[left].hi);
        const double dr = BoxDistance2(p, m_nodes[right].lo, m_nodes[right].hi);
        // Push the farther child first so the nearer one is searched first.
        if (dl < dr) {
            stack[top++] = right;
            stack[top++] = left;
        } else {
            stack[top++] = left;
            stack[top++] = right;
        }
    }
    hit.distance = std::sqrt(best2);
    return hit;
}

Vec3 MeshDistance::PseudoNormal(const ClosestHit& hit) const {
    if (hit.feature == 6) return m_faceNormals[hit.triangle];
    if (hit.feature >= 3) return m_edgeNormals[hit.triangle][hit.feature - 3];
    return m_vertexNormals[m_mesh.triangles[hit.triangle][hit.feature]];
}

double MeshDistance::Depth(const Vec3& p, ClosestHit& outHit) const {
    outHit = Closest(p);
    if (outHit.distance == 0.0) return 0.0;
    return dot(p - outHit.point, PseudoNormal(outHit)) > 0.0 ? -outHit.distance : outHit.distance;
}

double MeshDistance::Depth(const Vec3& p) const {
    ClosestHit hit;
    return Depth(p, hit);
}

void MeshDistance::TrianglesWithin(const Vec3& p, double radius, std::vector<NearTriangle>& out) const {
    out.clear();
    const double r2 = radius * radius;
    int stack[128];
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const int ni = stack[--top];
        const Node& node = m_nodes[ni];
        if (BoxDistance2(p, node.lo, node.hi) > r2) continue;
        if (node.count == 0) {
            stack[top++] = node.first;
            stack[top++] = ni + 1;
            continue;
        }
        for (int i = node.first; i < node.first + node.count; ++i) {
            const int t = m_order[i];
            const auto& tri = m_mesh.triangles[t];
            int feature = 6;
            const Vec3 q =
                ClosestPointOnTriangle(p, m_mesh.points[tri[0]], m_mesh.points[tri[1]], m_mesh.points[tri[2]], feature);
            const double d = distance(p, q);
            if (d <= radius) out.push_back({t, q, d});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const NearTriangle& a, const NearTriangle& b) { return a.triangle < b.triangle; });
}

}  // namespace spheres
