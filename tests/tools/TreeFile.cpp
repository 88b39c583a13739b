#include "TreeFile.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace toolstest {

std::string ModelsDir() { return DENSEPACK_MODELS_DIR; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ReadTree(const std::string& path, TreeFile& out) {
    std::ifstream in(path);
    if (!in) return "cannot open " + path;
    std::string line, magic;
    int version = 0;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        if (magic.empty()) {
            ls >> magic >> version;
            if (magic != "densepack-spheres" || version != 1) return "bad header: " + line;
            continue;
        }
        std::string key;
        ls >> key;
        if (key == "kind") {
            ls >> out.kind;
            continue;
        }
        if (key == "nodes") {
            std::string l;
            ls >> out.declaredNodes >> l >> out.declaredLeaves;
            continue;
        }
        if (key == "end") {
            ended = true;
            break;
        }
        std::istringstream ns(line);
        FileNode n;
        if (!(ns >> n.c.x >> n.c.y >> n.c.z >> n.r >> n.dir.x >> n.dir.y >> n.dir.z >> n.angle >> n.first >> n.count))
            return "bad node line: " + line;
        out.nodes.push_back(n);
    }
    return ended ? "" : "missing end line";
}

std::string ValidateTree(const TreeFile& t) {
    const long n = static_cast<long>(t.nodes.size());
    if (n == 0 || n != t.declaredNodes) return "node count differs from the header";
    if (t.kind != "object" && t.kind != "container") return "bad kind";
    std::vector<int> parents(n, 0);
    long leaves = 0;
    for (long i = 0; i < n; ++i) {
        const FileNode& p = t.nodes[i];
        if (!(p.r > 0 && std::isfinite(p.r))) return "bad radius at node " + std::to_string(i);
        const double dl = std::sqrt(spheres::dot(p.dir, p.dir));
        const bool zero = p.dir.x == 0 && p.dir.y == 0 && p.dir.z == 0;
        if (!zero && std::fabs(dl - 1.0) > 1e-3) return "direction neither unit nor zero at node " + std::to_string(i);
        if (!(p.angle >= 0 && p.angle <= 3.14159266)) return "angle out of range at node " + std::to_string(i);
        if (p.count == 0) {
            ++leaves;
            if (p.first != -1) return "leaf with first != -1";
            continue;
        }
        if (p.first <= i || p.count < 1 || p.first + p.count > n) return "bad child range at node " + std::to_string(i);
        for (int c = p.first; c < p.first + p.count; ++c) {
            ++parents[c];
            const FileNode& k = t.nodes[c];
            if (spheres::distance(p.c, k.c) + k.r > p.r * (1 + 1e-4) + 1e-6)
                return "node " + std::to_string(i) + " does not enclose child " + std::to_string(c);
        }
    }
    for (long i = 1; i < n; ++i)
        if (parents[i] != 1) return "node " + std::to_string(i) + " has " + std::to_string(parents[i]) + " parents";
    if (parents[0] != 0) return "root has a parent";
    return leaves == t.declaredLeaves ? "" : "leaf count differs from the header";
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
