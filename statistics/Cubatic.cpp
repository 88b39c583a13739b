#include "statistics/Cubatic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

namespace check {
namespace {

constexpr int kTrials = 2000;  // trial directions on a hemisphere, about 3 degrees apart
constexpr int kRefined = 8;    // best trials refined to their local maximum
constexpr int kMaxSteps = 1000;
constexpr double kStepTolerance = 1e-13;  // a refinement stops when n moves less than this
constexpr double kGoldenAngle = 2.39996322972865332;
// A body of revolution is as wide across a face diagonal as across the box; the bundled sphere
// meshes differ by up to 1.3 %, a cube or a regular tetrahedron by 41 %.
constexpr double kCubicAxesWidth = 0.05;

/// T[a][b][c][d] = < sum over the body axes of u_a u_b u_c u_d >, flattened: then
/// f(n) = T n n n n = < sum_k (u_k . n)^4 > costs 81 products for any n instead of 3 N.
using Moment4 = std::array<double, 81>;
using Direction = std::array<double, 3>;

/// g = T n n n, a quarter of the gradient of f; f(n) = n . g.
Direction Contract(const Moment4& t, const Direction& n) {
    double nnn[27];
    for (int m = 0; m < 27; ++m) nnn[m] = n[m / 9] * n[m / 3 % 3] * n[m % 3];
    Direction g{};
    for (int a = 0; a < 3; ++a)
        for (int m = 0; m < 27; ++m) g[a] += t[27 * a + m] * nnn[m];
    return g;
}

double Form(const Moment4& t, const Direction& n) {
    const Direction g = Contract(t, n);
    return n[0] * g[0] + n[1] * g[1] + n[2] * g[2];
}

/// Trial i of a Fibonacci spiral over the upper hemisphere: f(n) = f(-n) needs no other half.
Direction Trial(int i) {
    const double z = (i + 0.5) / kTrials, r = std::sqrt(1 - z * z), phi = i * kGoldenAngle;
    return {r * std::cos(phi), r * std::sin(phi), z};
}

/// Fixed-point ascent n <- g / |g| to a local maximum of f on the sphere. f is convex on R^3 (a sum
/// of fourth powers of linear forms) and homogeneous of degree 4, so no step lowers it:
/// f(m) >= f(n) + grad f(n) . (m - n) = f(n) + 4 (|g| - f(n)) >= f(n), as |g| >= n . g = f(n).
Direction Refine(const Moment4& t, Direction n) {
    for (int step = 0; step < kMaxSteps; ++step) {
        const Direction g = Contract(t, n);
        const double norm = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
        if (!(norm > 0)) break;
        double moved = 0;
        for (int a = 0; a < 3; ++a) {
            moved += (g[a] / norm - n[a]) * (g[a] / norm - n[a]);
            n[a] = g[a] / norm;
        }
        if (moved < kStepTolerance * kStepTolerance) break;
    }
    return n;
}

}  // namespace

double CubaticOrder(const std::vector<Matrix3>& frames, Vectormath::Aos::Vector3* outDirector) {
    if (frames.empty()) return 0.0;
    Moment4 t{};
    for (const Matrix3& frame : frames)
        for (int k = 0; k < 3; ++k) {
            const Vectormath::Aos::Vector3 axis = frame.getCol(k);
            Direction u = {axis.getX(), axis.getY(), axis.getZ()};
            const double length = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
            if (!(length > 0)) continue;
            for (double& x : u) x /= length;
            for (int m = 0; m < 81; ++m) t[m] += u[m / 27] * u[m / 9 % 3] * u[m / 3 % 3] * u[m % 3];
        }
    for (double& x : t) x /= double(frames.size());

    std::vector<std::pair<double, int>> scored(kTrials);
    for (int i = 0; i < kTrials; ++i) scored[i] = {Form(t, Trial(i)), i};
    std::partial_sort(scored.begin(), scored.begin() + kRefined, scored.end(), std::greater<>());
    double best = scored[0].first;
    Direction director = Trial(scored[0].second);
    for (int j = 0; j < kRefined; ++j) {
        const Direction n = Refine(t, Trial(scored[j].second));
        if (const double f = Form(t, n); f > best) {
            best = f;
            director = n;
        }
    }
    if (outDirector)
        *outDirector = Vectormath::Aos::Vector3(float(director[0]), float(director[1]), float(director[2]));
    // The three squared cosines of a frame sum to 1, so 1/14 sum_k (35 c^4 - 30 c^2 + 3) is
    // (5 sum_k c^4 - 3) / 2. Its mean over the sphere is 0, so the true maximum is not negative;
    // the clamp only removes the trial grid's rounding.
    return std::max(0.0, (5 * best - 3) / 2);
}

bool HasCubicAxes(const std::vector<Point3>& points) {
    if (points.empty()) return false;
    auto width = [&](const Direction& d) {
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        for (const Point3& p : points) {
            const double s = d[0] * p.getX() + d[1] * p.getY() + d[2] * p.getZ();
            lo = std::min(lo, s);
            hi = std::max(hi, s);
        }
        return hi - lo;
    };
    const double ext[3] = {width({1, 0, 0}), width({0, 1, 0}), width({0, 0, 1})};
    const double h = std::sqrt(0.5);
    for (int a = 0; a < 3; ++a) {
        const int b = (a + 1) % 3;
        const double across = std::max(ext[a], ext[b]);
        if (!(across > 0)) return false;
        for (double sign : {1.0, -1.0}) {
            Direction d{};
            d[a] = h;
            d[b] = sign * h;
            if (std::fabs(width(d) / across - 1) <= kCubicAxesWidth) return false;
        }
    }
    return true;
}

}  // namespace check
