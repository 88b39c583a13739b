// Mesh distance queries: col::meshDistance vs FCL (BVHModel<OBBRSS>) on the same meshes and poses.
// Each run prints our queries/s, FCL's and the ratio (ours / FCL) as counters.
#include <benchmark/benchmark.h>
#include <fcl/fcl.h>

#include <cmath>
#include <memory>
#include <random>

#include "collision/NanoTimer.h"
#include "collision/TriangleTree.h"

namespace {

using namespace Vectormath::Aos;

struct Mesh {
    std::vector<Point3> pts;
    std::vector<std::vector<unsigned>> polys;
};

// Grid over (u, v) in [0,1)x[0,1] mapped by f; closed in u, rows i=0..nv.
template <class F>
Mesh grid(int nu, int nv, bool wrapV, F f) {
    Mesh m;
    const int rows = wrapV ? nv : nv + 1;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < nu; ++i) m.pts.push_back(f(float(i) / nu, float(j) / nv));
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            const unsigned a = j * nu + i, b = j * nu + (i + 1) % nu, c = ((j + 1) % rows) * nu + (i + 1) % nu,
                           d = ((j + 1) % rows) * nu + i;
            m.polys.push_back({a, b, c});
            m.polys.push_back({a, c, d});
        }
    return m;
}

Mesh blob(int n) {  // bumpy sphere, radius ~1
    return grid(2 * n, n, false, [](float u, float v) {
        const float th = 3.14159265f * v, ph = 6.2831853f * u;
        const float r = 1 + 0.15f * std::sin(3 * th) * std::cos(2 * ph);
        return Point3(r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph), r * std::cos(th));
    });
}

Mesh torus(int n) {  // radii 1 and 0.35
    return grid(2 * n, n, true, [](float u, float v) {
        const float a = 6.2831853f * u, b = 6.2831853f * v;
        return Point3((1 + 0.35f * std::cos(b)) * std::cos(a), (1 + 0.35f * std::cos(b)) * std::sin(a),
                      0.35f * std::sin(b));
    });
}

std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> fclModel(const Mesh& m) {
    std::vector<fcl::Vector3d> v;
    std::vector<fcl::Triangle> t;
    for (const auto& p : m.pts) v.emplace_back(p.getX(), p.getY(), p.getZ());
    for (const auto& p : m.polys) t.emplace_back(p[0], p[1], p[2]);
    auto model = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
    model->beginModel();
    model->addSubModel(v, t);
    model->endModel();
    return model;
}

fcl::Transform3d toFcl(const Matrix4& m) {
    fcl::Transform3d tf = fcl::Transform3d::Identity();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) tf.linear()(r, c) = m.getElem(c, r);
        tf.translation()(r) = m.getElem(3, r);
    }
    return tf;
}

// Shape pairs: 0 blob/blob, 1 torus/torus (non-convex, interlocking directions), 2 blob/torus.
void BM_MeshDistance(benchmark::State& state) {
    const int pair = int(state.range(0));
    const float gap = float(state.range(1)) * 1e-3f;
    const int res = int(state.range(2));
    const Mesh a = pair == 1 ? torus(res) : blob(res);
    const Mesh b = pair == 0 ? blob(res) : torus(res);
    col::TriangleTree ta, tb;
    ta.build(a.pts, a.polys);
    tb.build(b.pts, b.polys);
    const auto fa = fclModel(a), fb = fclModel(b);

    // Random orientations; slide mesh 1 along a random direction until the gap is as asked.
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    std::vector<Matrix4> poses;
    while (poses.size() < 64) {
        const Vector3 axis = normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f));
        const Matrix4 rot = Matrix4::rotation(3.14159f * u(rng), axis);
        const Vector3 dir = normalize(Vector3(u(rng), u(rng), u(rng) + 1e-3f));
        float t = 3.f;
        for (int it = 0; it < 40; ++it) {
            const float d = col::meshDistance(ta, tb, Matrix4::translation(dir * t) * rot).distance;
            if (std::fabs(d - gap) < 1e-2f * gap + 1e-5f) break;
            t += d > 0 ? (gap - d) : 0.05f;
        }
        const Matrix4 m12 = Matrix4::translation(dir * t) * rot;
        if (col::meshDistance(ta, tb, m12).distance > 0) poses.push_back(m12);
    }
    fcl::CollisionObjectd o1(fa), o2(fb);

    // Both sides must agree before their speeds mean anything.
    double maxDiff = 0;
    for (const auto& m : poses) {
        o1.setTransform(toFcl(m));
        o1.computeAABB();
        fcl::DistanceRequestd req(true);
        fcl::DistanceResultd out;
        fcl::distance(&o1, &o2, req, out);
        maxDiff = std::max(maxDiff, std::fabs(out.min_distance - col::meshDistance(ta, tb, m).distance));
    }
    double oursNs = 0, fclNs = 0, sum = 0;
    long queries = 0;
    col::NanoTimer timer;
    for (auto _ : state) {
        timer.start();
        for (const auto& m : poses) {
            const float d = col::meshDistance(ta, tb, m).distance;
            benchmark::DoNotOptimize(d);
            sum += d;
        }
        oursNs += timer.elapsed();
        timer.start();
        for (size_t i = 0; i < poses.size(); ++i) {
            o1.setTransform(toFcl(poses[i]));
            o1.computeAABB();
            fcl::DistanceRequestd req(true);
            fcl::DistanceResultd out;
            fcl::distance(&o1, &o2, req, out);
            sum += out.min_distance;
        }
        fclNs += timer.elapsed();
        queries += long(poses.size());
    }
    state.counters["tris"] = double(ta.triangleCount());
    state.counters["ours_qps"] = queries / (oursNs * 1e-9);
    state.counters["fcl_qps"] = queries / (fclNs * 1e-9);
    state.counters["ratio"] = fclNs / oursNs;
    state.counters["max_diff"] = maxDiff;
    benchmark::DoNotOptimize(sum);
}

// Args: shape pair, gap in 1e-3 units, mesh resolution.
BENCHMARK(BM_MeshDistance)
    ->ArgsProduct({{0, 1, 2}, {1, 100, 1000}, {24}})
    ->Args({0, 1, 48})
    ->Args({1, 1, 48})
    ->Unit(benchmark::kMillisecond);

}  // namespace
