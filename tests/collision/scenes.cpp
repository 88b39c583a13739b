#include "scenes.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace colscene {

col::SphereTree buildTree(const std::vector<Sphere>& leaves, int branching, col::SphereTreeKind kind) {
    std::vector<col::SphereNode> nodes(1);
    struct Job {
        int node;
        std::vector<int> items;
    };
    std::vector<Job> queue;
    std::vector<int> all(leaves.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    queue.push_back({0, all});
    for (size_t q = 0; q < queue.size(); ++q) {
        const int self = queue[q].node;
        std::vector<int> items = std::move(queue[q].items);
        if (items.size() == 1) {
            const Sphere& s = leaves[static_cast<size_t>(items[0])];
            col::SphereNode& n = nodes[static_cast<size_t>(self)];
            n.center = Point3(s.x, s.y, s.z);
            n.radius = s.r;
            n.direction = Vector3(0, 0, 1);
            n.angle = 0.5f;
            continue;
        }
        // Bisect the largest group at the median of its longest axis until there are `branching`
        // groups: compact clusters give tighter spheres than equal slabs would.
        std::vector<std::vector<int>> groups{std::move(items)};
        while (static_cast<int>(groups.size()) < branching) {
            size_t big = 0;
            for (size_t g = 1; g < groups.size(); ++g)
                if (groups[g].size() > groups[big].size()) big = g;
            if (groups[big].size() < 2) break;
            std::vector<int>& grp = groups[big];
            float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
            for (int i : grp) {
                const float c[3] = {leaves[i].x, leaves[i].y, leaves[i].z};
                for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], c[k]), hi[k] = std::max(hi[k], c[k]);
            }
            int axis = 0;
            for (int k = 1; k < 3; ++k)
                if (hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
            auto coord = [&](int i) { return axis == 0 ? leaves[i].x : axis == 1 ? leaves[i].y : leaves[i].z; };
            std::sort(grp.begin(), grp.end(),
                      [&](int a, int b) { return coord(a) < coord(b) || (coord(a) == coord(b) && a < b); });
            std::vector<int> upper(grp.begin() + static_cast<long>(grp.size() / 2), grp.end());
            grp.resize(grp.size() / 2);
            groups.insert(groups.begin() + static_cast<long>(big) + 1, std::move(upper));
        }
        const int k = static_cast<int>(groups.size());
        const int first = static_cast<int>(nodes.size());
        nodes.resize(nodes.size() + static_cast<size_t>(k));
        nodes[static_cast<size_t>(self)].firstChild = first;
        nodes[static_cast<size_t>(self)].childCount = k;
        for (int g = 0; g < k; ++g) queue.push_back({first + g, std::move(groups[static_cast<size_t>(g)])});
    }
    // Children come after parents: fit each inner sphere once its children are final.
    for (size_t i = nodes.size(); i-- > 0;) {
        col::SphereNode& n = nodes[i];
        if (n.isLeaf()) continue;
        Point3 c(0, 0, 0);
        for (int ch = n.firstChild; ch < n.firstChild + n.childCount; ++ch)
            c += Vector3(nodes[ch].center) / float(n.childCount);
        float r = 0;
        for (int ch = n.firstChild; ch < n.firstChild + n.childCount; ++ch)
            r = std::max(r, std::sqrt(distSqr(c, nodes[ch].center)) + nodes[ch].radius);
        n.center = c;
        n.radius = r * 1.00001f;
        n.direction = Vector3(0, 0, 0);
        n.angle = 3.14159265f;
    }
    return col::SphereTree(std::move(nodes), kind);
}

std::vector<Sphere> randomLeaves(std::mt19937& rng, int count, float extent, float rmin, float rmax) {
    std::uniform_real_distribution<float> u(-1, 1), ur(rmin, rmax);
    std::vector<Sphere> out;
    while (static_cast<int>(out.size()) < count) {
        const float x = u(rng), y = u(rng), z = u(rng);
        if (x * x + y * y + z * z > 1) continue;
        out.push_back({x * extent, y * extent, z * extent, ur(rng)});
    }
    return out;
}

std::vector<Sphere> boxShell(float h, float cell) {
    std::vector<Sphere> out;
    const float r = cell * 0.5f * std::sqrt(3.0f);
    const int n = static_cast<int>(std::ceil((h + r + cell) / cell));
    for (int i = -n; i <= n; ++i)
        for (int j = -n; j <= n; ++j)
            for (int k = -n; k <= n; ++k) {
                const float p[3] = {cell * float(i), cell * float(j), cell * float(k)};
                const float m = std::max({std::fabs(p[0]), std::fabs(p[1]), std::fabs(p[2])});
                if (m >= h + r && m < h + r + cell) out.push_back({p[0], p[1], p[2], r});
            }
    return out;
}

Matrix4 randomPose(std::mt19937& rng, float range, float k) {
    std::uniform_real_distribution<float> u(-1, 1);
    Vector3 axis(u(rng), u(rng), u(rng));
    if (lengthSqr(axis) < 1e-4f) axis = Vector3(0, 0, 1);
    const float angle = 3.14159265f * u(rng);
    return Matrix4::translation(Vector3(range * u(rng), range * u(rng), range * u(rng))) *
           Matrix4::rotation(angle, normalize(axis)) * Matrix4::scale(Vector3(k));
}

std::string tempDir() {
    static const std::string dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("colcore-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

std::unique_ptr<col::ExtraData_SphereTree> roundTrip(const col::SphereTree& tree, const std::string& dir,
                                                     const std::string& name) {
    const std::string path = dir + "/" + name + ".spheres";
    if (!col::writeSpheresFile(path.c_str(), tree)) return nullptr;
    return std::make_unique<col::ExtraData_SphereTree>(path.c_str());
}

BruteResult bruteForce(const col::SphereTree& t1, const Matrix4& M1, float s1, const col::SphereTree& t2,
                       const Matrix4& M2, float s2) {
    struct W {
        double x, y, z, r;
        int i;
    };
    auto world = [](const col::SphereTree& t, const Matrix4& M, float s) {
        // Radii follow the matrix's uniform scale as the centres do, times the geometry value.
        const double k =
            std::sqrt(double(M.getElem(0, 0)) * M.getElem(0, 0) + double(M.getElem(0, 1)) * M.getElem(0, 1) +
                      double(M.getElem(0, 2)) * M.getElem(0, 2));
        std::vector<W> out;
        for (size_t i = 0; i < t.nodes().size(); ++i) {
            const col::SphereNode& n = t.nodes()[i];
            if (!n.isLeaf()) continue;
            double p[3];
            for (int r = 0; r < 3; ++r)
                p[r] = double(M.getElem(0, r)) * n.center.getX() + double(M.getElem(1, r)) * n.center.getY() +
                       double(M.getElem(2, r)) * n.center.getZ() + M.getElem(3, r);
            out.push_back({p[0], p[1], p[2], double(n.radius) * k * s, static_cast<int>(i)});
        }
        return out;
    };
    const auto a = world(t1, M1, s1), b = world(t2, M2, s2);
    BruteResult res;
    for (const W& p : a)
        for (const W& q : b) {
            const double d =
                std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z));
            const double R = p.r + q.r;
            const double tol = 1e-5 * (R + std::fabs(p.x) + std::fabs(p.y) + std::fabs(p.z));
            if (std::fabs(d - R) < tol)
                res.ambiguous.push_back({p.i, q.i});
            else if (d < R) {
                res.overlapping.push_back({p.i, q.i});
                res.overlap += col::lensVolume(static_cast<float>(d), static_cast<float>(p.r), static_cast<float>(q.r));
            }
        }
    return res;
}

void ellipsoidMesh(float a, float b, float c, int level, std::vector<Point3>& pts,
                   std::vector<std::vector<unsigned>>& tris) {
    const float t = (1.0f + std::sqrt(5.0f)) / 2;
    std::vector<Vector3> v = {{-1, t, 0},  {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                              {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    for (auto& x : v) x = normalize(x);
    std::vector<std::vector<unsigned>> f = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                            {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                            {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                            {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int l = 0; l < level; ++l) {
        std::map<std::pair<unsigned, unsigned>, unsigned> mid;
        auto midpoint = [&](unsigned i, unsigned j) {
            const auto key = std::minmax(i, j);
            auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            v.push_back(normalize(v[i] + v[j]));
            return mid[key] = static_cast<unsigned>(v.size() - 1);
        };
        std::vector<std::vector<unsigned>> g;
        for (const auto& tri : f) {
            const unsigned m0 = midpoint(tri[0], tri[1]), m1 = midpoint(tri[1], tri[2]), m2 = midpoint(tri[2], tri[0]);
            g.push_back({tri[0], m0, m2});
            g.push_back({tri[1], m1, m0});
            g.push_back({tri[2], m2, m1});
            g.push_back({m0, m1, m2});
        }
        f = std::move(g);
    }
    pts.clear();
    for (const auto& x : v) pts.push_back(Point3(x.getX() * a, x.getY() * b, x.getZ() * c));
    tris = std::move(f);
}

}  // namespace colscene
