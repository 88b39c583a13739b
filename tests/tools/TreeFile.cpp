#include "TreeFile.h"

#include <cmath>

#include "collision/ExtraData.h"

namespace toolstest {

std::string ModelsDir() { return DENSEPACK_MODELS_DIR; }

std::string ReadTree(const std::string& path, TreeFile& out) {
    const col::ExtraData_SphereTree tree(path.c_str());
    if (!tree.isValid()) return tree.error();
    out.kind = tree.tree()->kind() == col::SphereTreeKind::Container ? "container" : "object";
    for (const col::SphereNode& n : tree.tree()->nodes()) {
        FileNode f;
        f.c = {n.center.getX(), n.center.getY(), n.center.getZ()};
        f.r = n.radius;
        f.dir = {n.direction.getX(), n.direction.getY(), n.direction.getZ()};
        f.angle = n.angle;
        f.first = n.firstChild;
        f.count = n.childCount;
        out.nodes.push_back(f);
    }
    return "";
}

namespace {
// Distance to a triangle: inside the face region the plane distance, else the nearest edge.
Vec3 SegmentClosest(const Vec3& p, const Vec3& a, const Vec3& b) {
    const Vec3 ab = b - a;
    double t = spheres::dot(p - a, ab) / spheres::dot(ab, ab);
    t = std::fmax(0.0, std::fmin(1.0, t));
    return a + ab * t;
}
}  // namespace

double BruteDistance(const spheres::TriMesh& m, const Vec3& p, Vec3* outClosest) {
    double best = 1e300;
    for (const auto& tri : m.triangles) {
        const Vec3 &a = m.points[tri[0]], &b = m.points[tri[1]], &c = m.points[tri[2]];
        const Vec3 n = spheres::normalized(spheres::cross(b - a, c - a));
        const Vec3 q = p - n * spheres::dot(p - a, n);
        // q inside the triangle when it lies on the inner side of all three edges.
        const bool inside = spheres::dot(spheres::cross(b - a, q - a), n) >= 0 &&
                            spheres::dot(spheres::cross(c - b, q - b), n) >= 0 &&
                            spheres::dot(spheres::cross(a - c, q - c), n) >= 0;
        Vec3 cand[3] = {q, SegmentClosest(p, a, b), SegmentClosest(p, b, c)};
        if (!inside) cand[0] = SegmentClosest(p, c, a);
        for (const Vec3& k : cand) {
            const double d = spheres::distance(p, k);
            if (d < best) {
                best = d;
                if (outClosest) *outClosest = k;
            }
        }
    }
    return best;
}

double WindingNumber(const spheres::TriMesh& m, const Vec3& p) {
    double total = 0.0;
    for (const auto& tri : m.triangles) {
        const Vec3 a = m.points[tri[0]] - p, b = m.points[tri[1]] - p, c = m.points[tri[2]] - p;
        const double la = spheres::length(a), lb = spheres::length(b), lc = spheres::length(c);
        // Van Oosterom-Strackee solid angle of the triangle seen from p.
        const double num = spheres::dot(a, spheres::cross(b, c));
        const double den = la * lb * lc + spheres::dot(a, b) * lc + spheres::dot(b, c) * la + spheres::dot(c, a) * lb;
        total += 2.0 * std::atan2(num, den);
    }
    return total / (4.0 * 3.14159265358979323846);
}

}  // namespace toolstest
