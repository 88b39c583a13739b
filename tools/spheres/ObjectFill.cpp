#include "ObjectFill.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Parallel.h"

namespace spheres {

namespace {

/// Max-tree over candidate values; ties go to the lower index so the order is reproducible.
class MaxTree {
 public:
    explicit MaxTree(const std::vector<double>& values) : m_size(1) {
        while (m_size < values.size()) m_size *= 2;
        m_value.assign(2 * m_size, -std::numeric_limits<double>::infinity());
        m_index.assign(2 * m_size, -1);
        for (size_t i = 0; i < values.size(); ++i) {
            m_value[m_size + i] = values[i];
            m_index[m_size + i] = static_cast<int>(i);
        }
        for (size_t n = m_size - 1; n >= 1; --n) Pull(n);
    }
    void Set(size_t i, double v) {
        size_t n = m_size + i;
        m_value[n] = v;
        for (n /= 2; n >= 1; n /= 2) Pull(n);
    }
    double TopValue() const { return m_value[1]; }
    int TopIndex() const { return m_index[1]; }

 private:
    void Pull(size_t n) {
        const size_t a = 2 * n, b = 2 * n + 1;
        const bool left = m_value[a] >= m_value[b];
        m_value[n] = left ? m_value[a] : m_value[b];
        m_index[n] = left ? m_index[a] : m_index[b];
    }
    size_t m_size;
    std::vector<double> m_value;
    std::vector<int> m_index;
};

/// Empty radius at p: distance to the surface (negative outside), reduced by placed spheres.
/// Returns early with a value <= floor once it is clear p cannot beat floor.
double EmptyRadius(const MeshDistance& mesh, const std::vector<Sphere>& placed, const Vec3& p, double floor) {
    double r = std::numeric_limits<double>::infinity();
    for (const Sphere& s : placed) {
        r = std::min(r, distance(p, s.center) - s.radius);
        if (r <= floor) return r;
    }
    return std::min(r, mesh.Depth(p));
}

}  // namespace

std::vector<Sphere> FillObject(const MeshDistance& mesh, const ObjectFillSettings& settings) {
    const Vec3 lo = mesh.BoxMin(), hi = mesh.BoxMax();
    const Vec3 ext = hi - lo;
    const double h = std::max({ext.x, ext.y, ext.z}) / std::max(settings.gridCells, 4);
    int dims[3];
    Vec3 origin;
    for (int a = 0; a < 3; ++a) {
        dims[a] = std::max(1, static_cast<int>(std::ceil(ext[a] / h)));
        origin[a] = lo[a] + 0.5 * (ext[a] - (dims[a] - 1) * h);
    }
    const size_t count = static_cast<size_t>(dims[0]) * dims[1] * dims[2];
    auto pointOf = [&](size_t i) {
        const int ix = static_cast<int>(i / (static_cast<size_t>(dims[1]) * dims[2]));
        const int iy = static_cast<int>((i / dims[2]) % dims[1]);
        const int iz = static_cast<int>(i % dims[2]);
        return Vec3{origin.x + ix * h, origin.y + iy * h, origin.z + iz * h};
    };

    std::vector<double> value(count);
    ParallelFor(count, settings.threads, [&](size_t i) { value[i] = mesh.Depth(pointOf(i)); });
    MaxTree tree(value);

    // Local search directions: the six axes and the eight diagonals.
    std::vector<Vec3> dirs;
    for (int a = 0; a < 3; ++a)
        for (int s = -1; s <= 1; s += 2) {
            Vec3 d;
            d[a] = s;
            dirs.push_back(d);
        }
    for (int sx = -1; sx <= 1; sx += 2)
        for (int sy = -1; sy <= 1; sy += 2)
            for (int sz = -1; sz <= 1; sz += 2) dirs.push_back(normalized(Vec3(sx, sy, sz)));

    const double tiny = 1e-9 * std::max({ext.x, ext.y, ext.z});
    std::vector<Sphere> placed;
    while (static_cast<int>(placed.size()) < settings.maxSpheres) {
        const double topValue = tree.TopValue();
        if (!(topValue > std::max(settings.minRadius, tiny))) break;
        // Hill-climb the empty radius from the best candidate with shrinking steps.
        Vec3 p = pointOf(static_cast<size_t>(tree.TopIndex()));
        double best = EmptyRadius(mesh, placed, p, -std::numeric_limits<double>::infinity());
        for (double step = 0.5 * h; step > h / 128.0; step *= 0.5) {
            bool moved = true;
            while (moved) {
                moved = false;
                for (const Vec3& d : dirs) {
                    const Vec3 q = p + d * step;
                    const double v = EmptyRadius(mesh, placed, q, best);
                    if (v > best) {
                        best = v;
                        p = q;
                        moved = true;
                    }
                }
            }
        }
        if (!(best > std::max(settings.minRadius, tiny))) break;
        // A hair smaller than the empty radius so rounding in the file cannot create overlap.
        const Sphere s{p, best * (1.0 - 1e-6)};
        placed.push_back(s);

        // Only candidates closer than radius + current best can lose value.
        const double reach = s.radius + best;
        int from[3], to[3];
        for (int a = 0; a < 3; ++a) {
            from[a] = std::max(0, static_cast<int>(std::floor((p[a] - reach - origin[a]) / h)));
            to[a] = std::min(dims[a] - 1, static_cast<int>(std::ceil((p[a] + reach - origin[a]) / h)));
        }
        for (int ix = from[0]; ix <= to[0]; ++ix)
            for (int iy = from[1]; iy <= to[1]; ++iy)
                for (int iz = from[2]; iz <= to[2]; ++iz) {
                    const size_t i = (static_cast<size_t>(ix) * dims[1] + iy) * dims[2] + iz;
                    if (value[i] <= 0.0) continue;
                    const double v = distance(pointOf(i), s.center) - s.radius;
                    if (v < value[i]) {
                        value[i] = v;
                        tree.Set(i, v);
                    }
                }
    }
    return placed;
}

}  // namespace spheres
