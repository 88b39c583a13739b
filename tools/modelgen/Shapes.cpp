#include "Shapes.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

namespace modelgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

V3 Normalize(V3 v) {
    const double l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {v.x / l, v.y / l, v.z / l};
}

int AddNormal(Model& m, V3 n) {
    m.normals.push_back(Normalize(n));
    return static_cast<int>(m.normals.size()) - 1;
}

// Flat-shaded polygon fan with one shared normal.
void AddFlatFan(Model& m, const std::vector<int>& ring, V3 normal) {
    const int n = AddNormal(m, normal);
    for (size_t i = 1; i + 1 < ring.size(); ++i) m.faces.push_back({{{ring[0], n}, {ring[i], n}, {ring[i + 1], n}}});
}

}  // namespace

Model Ellipsoid(double a, double b, double c, int subdivisions) {
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<V3> p = {{-1, t, 0},  {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                         {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    for (V3& v : p) v = Normalize(v);
    std::vector<std::array<int, 3>> tris = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                            {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                            {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                            {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int s = 0; s < subdivisions; ++s) {
        std::map<std::pair<int, int>, int> mid;
        auto midpoint = [&](int i, int j) {
            const auto key = std::make_pair(std::min(i, j), std::max(i, j));
            auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            p.push_back(Normalize({(p[i].x + p[j].x) / 2, (p[i].y + p[j].y) / 2, (p[i].z + p[j].z) / 2}));
            const int idx = static_cast<int>(p.size()) - 1;
            mid[key] = idx;
            return idx;
        };
        std::vector<std::array<int, 3>> next;
        for (const auto& tr : tris) {
            const int ab = midpoint(tr[0], tr[1]), bc = midpoint(tr[1], tr[2]), ca = midpoint(tr[2], tr[0]);
            next.push_back({tr[0], ab, ca});
            next.push_back({tr[1], bc, ab});
            next.push_back({tr[2], ca, bc});
            next.push_back({ab, bc, ca});
        }
        tris.swap(next);
    }
    Model m;
    for (const V3& u : p) {
        m.positions.push_back({u.x * a, u.y * b, u.z * c});
        // Gradient of the implicit ellipsoid is the exact surface normal.
        m.normals.push_back(Normalize({u.x / a, u.y / b, u.z / c}));
    }
    for (const auto& tr : tris) m.faces.push_back({{{tr[0], tr[0]}, {tr[1], tr[1]}, {tr[2], tr[2]}}});
    return m;
}

Model Box(double sx, double sy, double sz) {
    Model m;
    for (int i = 0; i < 8; ++i)
        m.positions.push_back({(i & 4) ? sx / 2 : -sx / 2, (i & 2) ? sy / 2 : -sy / 2, (i & 1) ? sz / 2 : -sz / 2});
    // Corner index bits: 4 = +x, 2 = +y, 1 = +z; each quad counter-clockwise seen from outside.
    AddFlatFan(m, {4, 6, 7, 5}, {1, 0, 0});
    AddFlatFan(m, {0, 1, 3, 2}, {-1, 0, 0});
    AddFlatFan(m, {2, 3, 7, 6}, {0, 1, 0});
    AddFlatFan(m, {0, 4, 5, 1}, {0, -1, 0});
    AddFlatFan(m, {1, 5, 7, 3}, {0, 0, 1});
    AddFlatFan(m, {0, 2, 6, 4}, {0, 0, -1});
    return m;
}

Model Tetrahedron(double s) {
    Model m;
    m.positions = {{s, s, s}, {s, -s, -s}, {-s, s, -s}, {-s, -s, s}};
    const int faces[4][3] = {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}};
    for (const auto& f : faces) {
        const V3 &a = m.positions[f[0]], &b = m.positions[f[1]], &c = m.positions[f[2]];
        const V3 u{b.x - a.x, b.y - a.y, b.z - a.z}, v{c.x - a.x, c.y - a.y, c.z - a.z};
        AddFlatFan(m, {f[0], f[1], f[2]}, {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x});
    }
    return m;
}

Model Cylinder(double radius, double height, int segments) {
    Model m;
    const double h = height / 2;
    for (int i = 0; i < segments; ++i) {
        const double a = 2 * kPi * i / segments;
        m.positions.push_back({radius * std::cos(a), radius * std::sin(a), -h});
        m.positions.push_back({radius * std::cos(a), radius * std::sin(a), h});
        m.normals.push_back({std::cos(a), std::sin(a), 0});
    }
    for (int i = 0; i < segments; ++i) {
        const int j = (i + 1) % segments;
        const int b0 = 2 * i, t0 = 2 * i + 1, b1 = 2 * j, t1 = 2 * j + 1;
        m.faces.push_back({{{b0, i}, {b1, j}, {t1, j}}});
        m.faces.push_back({{{b0, i}, {t1, j}, {t0, i}}});
    }
    std::vector<int> top, bottom;
    for (int i = 0; i < segments; ++i) top.push_back(2 * i + 1);
    for (int i = segments - 1; i >= 0; --i) bottom.push_back(2 * i);
    AddFlatFan(m, top, {0, 0, 1});
    AddFlatFan(m, bottom, {0, 0, -1});
    return m;
}

Model Torus(double majorRadius, double minorRadius, int majorSegments, int minorSegments) {
    Model m;
    for (int i = 0; i < majorSegments; ++i) {
        const double u = 2 * kPi * i / majorSegments;
        for (int j = 0; j < minorSegments; ++j) {
            const double v = 2 * kPi * j / minorSegments;
            const double ring = majorRadius + minorRadius * std::cos(v);
            m.positions.push_back({ring * std::cos(u), ring * std::sin(u), minorRadius * std::sin(v)});
            m.normals.push_back({std::cos(v) * std::cos(u), std::cos(v) * std::sin(u), std::sin(v)});
        }
    }
    auto at = [&](int i, int j) { return (i % majorSegments) * minorSegments + (j % minorSegments); };
    for (int i = 0; i < majorSegments; ++i)
        for (int j = 0; j < minorSegments; ++j) {
            const int a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            m.faces.push_back({{{a, a}, {b, b}, {c, c}}});
            m.faces.push_back({{{a, a}, {c, c}, {d, d}}});
        }
    return m;
}

std::string ToObj(const Model& m, const std::string& title) {
    std::string out = "# " + title + "\n# generated by densepack-modelgen\n";
    char line[160];
    // Fixed notation with a clean zero, so regenerating is byte-identical and readable.
    auto num = [](double v) { return std::fabs(v) < 5e-10 ? 0.0 : v; };
    for (const V3& p : m.positions) {
        std::snprintf(line, sizeof line, "v %.9f %.9f %.9f\n", num(p.x), num(p.y), num(p.z));
        out += line;
    }
    out += "vt 0 0\n";
    for (const V3& n : m.normals) {
        std::snprintf(line, sizeof line, "vn %.9f %.9f %.9f\n", num(n.x), num(n.y), num(n.z));
        out += line;
    }
    for (const auto& f : m.faces) {
        std::snprintf(line, sizeof line, "f %d/1/%d %d/1/%d %d/1/%d\n", f[0].position + 1, f[0].normal + 1,
                      f[1].position + 1, f[1].normal + 1, f[2].position + 1, f[2].normal + 1);
        out += line;
    }
    return out;
}

}  // namespace modelgen
