#include "SphereTree.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numeric>

#include "Parallel.h"
#include "collision/SpheresFile.h"
#include "geometry/AtomicReplace.h"

namespace spheres {

namespace {
constexpr double kPi = 3.14159265358979323846;

double AngleBetween(const Vec3& a, const Vec3& b) { return std::acos(std::clamp(dot(a, b), -1.0, 1.0)); }

struct Build {
    Sphere sphere;
    Cone cone;
    int leaf = -1;
    std::vector<int> children;  ///< indices into the build list
};

Cone CombineCones(const std::vector<Cone>& parts) {
    Vec3 sum;
    int used = 0;
    for (const Cone& c : parts)
        if (dot(c.direction, c.direction) > 0.0) {
            sum += c.direction;
            ++used;
        }
    if (used == 0 || length(sum) < 1e-9 * used) return {};
    Cone out;
    out.direction = normalized(sum);
    out.angle = 0.0;
    for (const Cone& c : parts)
        if (dot(c.direction, c.direction) > 0.0)
            out.angle = std::max(out.angle, std::min(kPi, AngleBetween(out.direction, c.direction) + c.angle));
    return out;
}

}  // namespace

Cone ConeOfNormals(const std::vector<Vec3>& normals) {
    Vec3 sum;
    for (const Vec3& n : normals) sum += n;
    if (normals.empty() || length(sum) < 1e-9 * normals.size()) return {};
    Cone c;
    c.direction = normalized(sum);
    c.angle = 0.0;
    for (const Vec3& n : normals) c.angle = std::max(c.angle, AngleBetween(c.direction, n));
    return c;
}

std::vector<Cone> LeafCones(const MeshDistance& mesh, const std::vector<Sphere>& leaves, bool container, int threads) {
    std::vector<Cone> cones(leaves.size());
    ParallelFor(leaves.size(), threads, [&](size_t i) {
        const Sphere& s = leaves[i];
        std::vector<NearTriangle> near;
        std::vector<Vec3> normals;
        if (!container) {
            mesh.TrianglesWithin(s.center, s.radius * (1.0 + 2e-3), near);
        } else {
            mesh.TrianglesWithin(s.center, s.radius, near);
            if (near.empty()) {
                const double d = mesh.Closest(s.center).distance;
                mesh.TrianglesWithin(s.center, d * (1.0 + 1e-3), near);
            }
        }
        for (const NearTriangle& t : near) normals.push_back(mesh.FaceNormal(t.triangle));
        cones[i] = ConeOfNormals(normals);
    });
    return cones;
}

Sphere EnclosingSphere(const std::vector<Sphere>& parts) {
    auto radiusFor = [&](const Vec3& c) {
        double r = 0.0;
        for (const Sphere& s : parts) r = std::max(r, distance(c, s.center) + s.radius);
        return r;
    };
    Vec3 lo = parts[0].center, hi = lo;
    for (const Sphere& s : parts) {
        lo = vmin(lo, s.center - Vec3(1, 1, 1) * s.radius);
        hi = vmax(hi, s.center + Vec3(1, 1, 1) * s.radius);
    }
    Vec3 c = (lo + hi) * 0.5;
    Sphere best{c, radiusFor(c)};
    // Each step moves the centre toward the farthest point of the farthest sphere by a
    // shrinking fraction; this converges to the minimal enclosing sphere.
    for (int k = 1; k <= 400; ++k) {
        int far = 0;
        double farDist = -1.0;
        for (size_t i = 0; i < parts.size(); ++i) {
            const double d = distance(c, parts[i].center) + parts[i].radius;
            if (d > farDist) {
                farDist = d;
                far = static_cast<int>(i);
            }
        }
        const Vec3 toward = normalized(parts[far].center - c);
        const Vec3 farPoint = parts[far].center + toward * parts[far].radius;
        c += (farPoint - c) * (1.0 / (k + 1));
        const double r = radiusFor(c);
        if (r < best.radius) best = {c, r};
    }
    // A part that holds all others is the tightest answer.
    for (const Sphere& s : parts) {
        const double r = radiusFor(s.center);
        if (r <= s.radius && s.radius < best.radius) best = s;
    }
    return best;
}

std::vector<TreeNode> BuildTree(const std::vector<Sphere>& leaves, const std::vector<Cone>& cones, int fanOut) {
    std::vector<Build> build;
    build.reserve(2 * leaves.size());
    // Splits ids into up to fanOut groups by repeated median cuts along the longest axis.
    std::function<int(std::vector<int>)> make = [&](std::vector<int> ids) -> int {
        const int index = static_cast<int>(build.size());
        build.push_back({});
        if (ids.size() == 1) {
            build[index].sphere = leaves[ids[0]];
            build[index].cone = cones[ids[0]];
            build[index].leaf = ids[0];
            return index;
        }
        std::vector<std::vector<int>> groups;
        if (static_cast<int>(ids.size()) <= fanOut) {
            for (int id : ids) groups.push_back({id});
        } else {
            groups.push_back(std::move(ids));
            while (static_cast<int>(groups.size()) * 2 <= fanOut) {
                std::vector<std::vector<int>> split;
                for (auto& g : groups) {
                    Vec3 lo = leaves[g[0]].center, hi = lo;
                    for (int id : g) {
                        lo = vmin(lo, leaves[id].center);
                        hi = vmax(hi, leaves[id].center);
                    }
                    const Vec3 e = hi - lo;
                    const int axis = e.x >= e.y && e.x >= e.z ? 0 : (e.y >= e.z ? 1 : 2);
                    std::sort(g.begin(), g.end(), [&](int a, int b) {
                        const double ca = leaves[a].center[axis], cb = leaves[b].center[axis];
                        return ca < cb || (ca == cb && a < b);
                    });
                    const size_t mid = g.size() / 2;
                    split.emplace_back(g.begin(), g.begin() + mid);
                    split.emplace_back(g.begin() + mid, g.end());
                }
                groups.swap(split);
            }
        }
        std::vector<int> children;
        for (auto& g : groups) children.push_back(make(std::move(g)));
        std::vector<Sphere> parts;
        std::vector<Cone> partCones;
        for (int c : children) {
            parts.push_back(build[c].sphere);
            partCones.push_back(build[c].cone);
        }
        build[index].sphere = EnclosingSphere(parts);
        build[index].cone = CombineCones(partCones);
        build[index].children = std::move(children);
        return index;
    };
    std::vector<int> all(leaves.size());
    std::iota(all.begin(), all.end(), 0);
    make(all);

    // Breadth-first renumbering: children of a node get consecutive output indices.
    std::vector<TreeNode> out;
    std::vector<int> queue{0};
    out.push_back({});
    for (size_t head = 0; head < queue.size(); ++head) {
        const Build& b = build[queue[head]];
        TreeNode& node = out[head];
        node.sphere = b.sphere;
        node.cone = b.cone;
        if (!b.children.empty()) {
            node.first = static_cast<int>(queue.size());
            node.count = static_cast<int>(b.children.size());
            for (int c : b.children) {
                queue.push_back(c);
                out.push_back({});
            }
        }
    }
    return out;
}

int TreeDepth(const std::vector<TreeNode>& nodes) {
    std::vector<int> depth(nodes.size(), 1);
    int deepest = 1;
    for (size_t i = 0; i < nodes.size(); ++i) {
        deepest = std::max(deepest, depth[i]);
        for (int c = nodes[i].first; c >= 0 && c < nodes[i].first + nodes[i].count; ++c) depth[c] = depth[i] + 1;
    }
    return deepest;
}

std::string WriteSpheresFile(const std::string& path, const std::vector<TreeNode>& nodes, bool container) {
    std::vector<col::SpheresRow> rows;
    rows.reserve(nodes.size());
    for (const TreeNode& n : nodes) {
        const Sphere& sp = n.sphere;
        const Vec3& d = n.cone.direction;
        rows.push_back(
            {{sp.center.x, sp.center.y, sp.center.z, sp.radius, d.x, d.y, d.z, n.cone.angle}, n.first, n.count});
    }
    const std::string text =
        col::formatSpheres(container ? col::SphereTreeKind::Container : col::SphereTreeKind::Object, rows);
    // Replaced like every other output: synced and renamed into place, so a failed or killed run
    // leaves the previous tree.
    std::string reason;
    if (ReplaceWithText(path, text, reason)) return {};
    return "cannot write '" + path + "': " + reason;
}

}  // namespace spheres
