#include "statistics/ShellVolume.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "collision/SplitMix.h"

namespace Packing {
namespace {

using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

/// Cells per brick edge: bricks of 3 x 3 x 3 cells are about a tenth of a round object across,
/// small enough that most of an object touching the wall skips its point tests.
constexpr int kBrickCells = 3;
/// Face planes of a convex container beyond which the ray test is the cheaper inside test.
constexpr size_t kMaxPlanes = 256;
/// Fixed seed: the report must repeat exactly.
constexpr uint64_t kSeed = 0x5eed5a3b1e5ULL;

/// SplitMix64, a uniform double in [0, 1): the same numbers with any standard library.
struct Random {
    uint64_t state;
    double next() { return static_cast<double>(col::splitMix64(state) >> 11) * 0x1.0p-53; }
};

Point3 apply(const Matrix4& m, const Point3& p) {
    const Vector4 v = m * p;
    return Point3(v.getX(), v.getY(), v.getZ());
}

}  // namespace

VolumeSamples SampleVolume(const col::ExactMesh& mesh, double volume, size_t target) {
    VolumeSamples out;
    if (mesh.empty() || !(volume > 0) || target == 0) return out;
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) lo[k] = std::numeric_limits<double>::max(), hi[k] = -lo[k];
    for (const Point3& p : mesh.points())
        for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], double(p[k])), hi[k] = std::max(hi[k], double(p[k]));
    // Cubic cells of the volume's share per point; the box is then tiled by whole cells per axis.
    const double h = std::cbrt(volume / double(target));
    int n[3];
    for (int k = 0; k < 3; ++k) n[k] = std::max(1, static_cast<int>(std::ceil((hi[k] - lo[k]) / h)));
    int nb[3];
    for (int k = 0; k < 3; ++k) nb[k] = (n[k] + kBrickCells - 1) / kBrickCells;

    Random rng{kSeed};
    for (int bz = 0; bz < nb[2]; ++bz)
        for (int by = 0; by < nb[1]; ++by)
            for (int bx = 0; bx < nb[0]; ++bx) {
                VolumeSamples::Brick brick;
                brick.first = out.points.size();
                const int b[3] = {bx, by, bz};
                int c0[3], c1[3];
                for (int k = 0; k < 3; ++k) c0[k] = b[k] * kBrickCells, c1[k] = std::min(n[k], c0[k] + kBrickCells);
                for (int z = c0[2]; z < c1[2]; ++z)
                    for (int y = c0[1]; y < c1[1]; ++y)
                        for (int x = c0[0]; x < c1[0]; ++x) {
                            // Three draws per cell whether or not the point is kept, so a cell's
                            // point depends only on the grid.
                            const int cell[3] = {x, y, z};
                            float q[3];
                            for (int k = 0; k < 3; ++k)
                                q[k] = static_cast<float>(lo[k] + (hi[k] - lo[k]) * (cell[k] + rng.next()) / n[k]);
                            const Point3 p(q[0], q[1], q[2]);
                            if (mesh.contains(p)) out.points.push_back(p);
                        }
                brick.count = out.points.size() - brick.first;
                if (brick.count == 0) continue;
                float blo[3], bhi[3];
                for (int k = 0; k < 3; ++k) {
                    blo[k] = static_cast<float>(lo[k] + (hi[k] - lo[k]) * c0[k] / n[k]);
                    bhi[k] = static_cast<float>(lo[k] + (hi[k] - lo[k]) * c1[k] / n[k]);
                }
                brick.centre = Point3(0.5f * (blo[0] + bhi[0]), 0.5f * (blo[1] + bhi[1]), 0.5f * (blo[2] + bhi[2]));
                for (size_t i = brick.first; i < out.points.size(); ++i)
                    brick.radius = std::max(brick.radius, length(out.points[i] - brick.centre));
                out.bricks.push_back(brick);
            }
    if (out.points.empty()) return out;
    out.weight = volume / double(out.points.size());
    out.centre = Point3(static_cast<float>(0.5 * (lo[0] + hi[0])), static_cast<float>(0.5 * (lo[1] + hi[1])),
                        static_cast<float>(0.5 * (lo[2] + hi[2])));
    for (const VolumeSamples::Brick& b : out.bricks)
        out.radius = std::max(out.radius, length(b.centre - out.centre) + b.radius);
    return out;
}

// A convex container with not too many face planes is tested by them: far cheaper than casting
// rays at a cylinder's long thin triangles (0.25 ms against 18 ms per M&M at the wall), and the
// mesh may miss convexity by 1e-4 of its extent (ConvexShape's tolerance), far below what the
// sampling resolves. The 5120 planes of the sphere container cost more than the rays.
Shell::Shell(const col::ExactMesh& container, const Matrix4& X_WC, float s)
    : m_container(container),
      m_planes(container.convex() != nullptr && container.convex()->planes().size() <= kMaxPlanes),
      m_fromWorld(inverse(X_WC)),
      m_s(s) {}

bool Shell::inside(const Point3& p_C) const {
    if (m_planes) {
        for (const col::Plane& pl : m_container.convex()->planes())
            if (!(dot(pl.normal, Vector3(p_C)) < pl.offset)) return false;
        return true;
    }
    return m_container.contains(p_C);
}

Shell::Side Shell::side(const Point3& c_C, float r) const {
    // A margin far above the float rounding of the distances, far below a brick.
    const float need = r + 1e-5f * (1.0f + length(Vector3(c_C)));
    if (m_planes) {
        // Inside a convex polytope the wall's distance is the nearest face plane's; outside, the
        // farthest plane's is a lower bound.
        float m = -std::numeric_limits<float>::max();
        for (const col::Plane& pl : m_container.convex()->planes())
            m = std::max(m, dot(pl.normal, Vector3(c_C)) - pl.offset);
        return m < -need ? Side::Inside : m > need ? Side::Outside : Side::Across;
    }
    if (!(m_container.surfaceDistance(c_C) > need)) return Side::Across;
    return m_container.contains(c_C) ? Side::Inside : Side::Outside;
}

bool Shell::contains(const Point3& p_W) const {
    const Point3 p = apply(m_fromWorld, p_W);
    return !inside(Point3(Vector3(p) / m_s)) && inside(p);
}

double Shell::objectVolume(const VolumeSamples& samples, const Matrix4& X_WO) const {
    const Matrix4 m_CO = m_fromWorld * X_WO;
    const float k = length(X_WO.getCol0().getXYZ());
    // The shrunk copy's wall, seen from the container's frame, is the wall at 1/s the distance.
    auto shrunkSide = [&](const Point3& c_C, float r) { return side(Point3(Vector3(c_C) / m_s), r / m_s); };
    if (samples.points.empty() || shrunkSide(apply(m_CO, samples.centre), samples.radius * k) == Side::Inside)
        return 0.0;
    size_t in = 0;
    for (const VolumeSamples::Brick& b : samples.bricks) {
        const Point3 c = apply(m_CO, b.centre);
        const Side shrunk = shrunkSide(c, b.radius * k);
        if (shrunk == Side::Inside) continue;
        const Side outer = side(c, b.radius * k);
        if (outer == Side::Outside) continue;
        if (shrunk == Side::Outside && outer == Side::Inside) {
            in += b.count;
            continue;
        }
        // Across a wall: test the points against the walls the brick crosses.
        for (size_t i = b.first; i < b.first + b.count; ++i) {
            const Point3 p = apply(m_CO, samples.points[i]);
            in +=
                (shrunk == Side::Outside || !inside(Point3(Vector3(p) / m_s))) && (outer == Side::Inside || inside(p));
        }
    }
    return double(in) * samples.weight * double(k) * k * k;
}

}  // namespace Packing
