// Structure figures on packings whose values are known by hand: a simple cubic lattice of
// touching spheres, a dilute random gas, aligned and random ellipsoids, aligned and random cubes.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "statistics/Structure.h"
#include "support/TestScene.h"

namespace {

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Point3;
using Vectormath::Aos::Quat;
using Vectormath::Aos::Vector3;

constexpr double kPi = 3.14159265358979323846;

// The box [-h, h]^3 as container and one bundled model as the only type.
check::CheckScene Scene(float h, const char* model) {
    check::CheckScene s;
    std::vector<Point3> corners;
    for (int i = 0; i < 8; ++i) corners.push_back(Point3((i & 1) ? h : -h, (i & 2) ? h : -h, (i & 4) ? h : -h));
    std::string err;
    EXPECT_TRUE(s.container.Build(corners, testscene::kBoxTriangles, err)) << err;
    s.types.emplace_back();
    s.typeNames.push_back(model);
    EXPECT_TRUE(s.types[0].Load(std::string(DENSEPACK_MODELS_DIR) + "/" + model + ".obj", err)) << err;
    return s;
}

check::PlacedObject At(float x, float y, float z, float scale = 1.0f, const Quat& q = Quat::identity()) {
    return {0, Matrix4::translation(Vector3(x, y, z)) * Matrix4::rotation(q) * Matrix4::scale(Vector3(scale))};
}

/// g(r) in the bin that holds r (in diameters).
double RdfAt(const check::StructureReport& r, double at) {
    for (size_t k = 0; k < r.rdfR.size(); ++k)
        if (std::fabs(r.rdfR[k] - at) <= 0.01) return r.rdfG[k];
    ADD_FAILURE() << "no bin at r = " << at;
    return 0;
}

TEST(Structure, CubicLatticeOfTouchingSpheres) {
    // 8 x 8 x 8 spheres of diameter 1 at half-integer points of a box of side 8. With a margin of
    // 2 the bulk region is the central 4 x 4 x 4 cells, each filled by one sphere's volume.
    const check::CheckScene scene = Scene(4.0f, "sphere");
    std::vector<check::PlacedObject> objects;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
            for (int k = 0; k < 8; ++k) objects.push_back(At(i - 3.5f, j - 3.5f, k - 3.5f));
    check::StructureOptions opt;
    opt.margin = 2.0;
    opt.samples = 40000;
    const check::StructureReport r = check::AnalyzeStructure(scene, objects, opt);

    const double v = scene.types[0].Volume();  // the tessellated sphere, slightly below pi/6
    EXPECT_NEAR(r.globalFraction, v * 512 / 512.0, 1e-4);
    EXPECT_NEAR(r.bulkVolume, 64.0, 1e-9);
    EXPECT_EQ(r.bulkSamples, 40000);
    EXPECT_NEAR(r.bulkFraction, v, 4 * r.bulkFractionError);
    EXPECT_NEAR(r.bulkFraction, kPi / 6, 0.02);  // the tessellation loses 1.6 %
    EXPECT_GT(r.bulkFractionError, 0.001);

    // Six neighbours inside; on the faces, edges and corners fewer: 3 x 8 x 8 x 7 pairs in all.
    EXPECT_EQ(r.contactPairs, 3u * 8 * 8 * 7);
    EXPECT_DOUBLE_EQ(r.meanContacts, 2.0 * 1344 / 512);
    EXPECT_EQ(r.bulkObjects, 64u);
    EXPECT_DOUBLE_EQ(r.bulkMeanContacts, 6.0);

    // Shells at 1, sqrt 2, sqrt 3 hold 6, 12, 8 neighbours; nothing lies between them.
    ASSERT_EQ(r.rdfG.size(), 100u);
    const double density = 1.0, bin = 0.02;
    for (auto [at, n] : {std::pair{1.01, 6.0}, std::pair{1.41, 12.0}, std::pair{1.73, 8.0}}) {
        const double r0 = at - 0.01, r1 = at + 0.01;
        EXPECT_NEAR(RdfAt(r, at), n / (density * 4.0 / 3.0 * kPi * (r1 * r1 * r1 - r0 * r0 * r0)), 1e-6) << at;
        EXPECT_GT(RdfAt(r, at), 5.0);
    }
    double between = 0;
    for (size_t k = 0; k < r.rdfR.size(); ++k)
        if (std::fabs(r.rdfR[k] - 1.01) > bin && std::fabs(r.rdfR[k] - 1.41) > bin &&
            std::fabs(r.rdfR[k] - 1.73) > bin && std::fabs(r.rdfR[k] - 2.0) > bin)
            between += r.rdfG[k];
    EXPECT_EQ(between, 0.0);
    EXPECT_LT(r.worstPenetrationRelative, 0.01);
    EXPECT_TRUE(r.order.empty());  // a sphere has no shortest axis

    // A corner sphere pushed 0.2 into its x neighbour: it keeps that contact and leaves its y and
    // z neighbours (now 0.02 apart, beyond the tolerance).
    objects[0] = At(-3.3f, -3.5f, -3.5f);
    const check::StructureReport moved = check::AnalyzeStructure(scene, objects, opt);
    EXPECT_NEAR(moved.worstPenetration, 0.2, 0.01);
    EXPECT_EQ(moved.contactPairs, r.contactPairs - 2);

    // The JSON form carries every figure.
    const auto json = nlohmann::json::parse(JsonDump(check::StructureToJson(r, scene.typeNames)));
    EXPECT_EQ(json["bulkFraction"], r.bulkFraction);
    EXPECT_EQ(json["meanContacts"], 5.25);
    EXPECT_EQ(json["bulkMeanContacts"], 6);
    EXPECT_EQ(json["rdfG"], r.rdfG);
    EXPECT_EQ(json["sizeFactors"]["mean"], 1);
    EXPECT_EQ(json["sizeFactors"]["sd"], 0);
}

// The size factors are the model matrices' scales, their quantiles linear between sorted values.
TEST(Structure, SizeFactorsOfThePacking) {
    const check::SizeSummary s = check::SummarizeSizes({5, 1, 4, 2, 3});
    EXPECT_EQ(std::vector<double>({s.mean, s.min, s.q10, s.median, s.q90, s.max}),
              std::vector<double>({3, 1, 1.4, 3, 4.6, 5}));
    EXPECT_DOUBLE_EQ(s.sd, std::sqrt(2.0));
    const check::CheckScene scene = Scene(4.0f, "sphere");
    std::vector<check::PlacedObject> objects{At(-2, 0, 0), At(2, 0, 0)};
    objects[1].model = objects[1].model * Vectormath::Aos::Matrix4::scale(Vectormath::Aos::Vector3(1.4f));
    const check::StructureReport r = check::AnalyzeStructure(scene, objects, check::StructureOptions{});
    EXPECT_NEAR(r.sizes.mean, 1.2, 1e-6);
    EXPECT_NEAR(r.sizes.max, 1.4, 1e-6);
}

TEST(Structure, DiluteGasHasFlatRdf) {
    // Poisson points: g(r) = 1 at every r, also inside one diameter (the spheres overlap freely).
    const check::CheckScene scene = Scene(5.0f, "sphere");
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-4.9f, 4.9f);
    std::vector<check::PlacedObject> objects;
    for (int i = 0; i < 20000; ++i) objects.push_back(At(u(rng), u(rng), u(rng), 0.05f));
    check::StructureOptions opt;
    opt.margin = 1.0;
    opt.samples = 2000;
    opt.rdfBinDiameters = 1.0;
    const check::StructureReport r = check::AnalyzeStructure(scene, objects, opt);
    ASSERT_EQ(r.rdfG.size(), 20u);
    double mean = 0;
    for (size_t k = 2; k < r.rdfG.size(); ++k) {
        EXPECT_NEAR(r.rdfG[k], 1.0, 0.25) << "bin " << k;
        mean += r.rdfG[k] / double(r.rdfG.size() - 2);
    }
    EXPECT_NEAR(mean, 1.0, 0.04);
    EXPECT_NEAR(r.bulkVolume, 512.0, 512.0 * 1e-9);
    EXPECT_LT(r.meanContacts, 0.1);
}

TEST(Structure, NematicOrderOfTheShortAxisAndTheLargestEigenvalue) {
    // Oblate ellipsoids (short axis z in the model): all flat, turned at random about z, give
    // order 1; turned at random in space they give nearly 0.
    const check::CheckScene scene = Scene(6.0f, "mm");
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> angle(0.0f, 6.2831853f);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<check::PlacedObject> flat, random;
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j)
            for (int k = 0; k < 5; ++k) {
                const float x = i - 4.5f, y = j - 4.5f, z = 2 * k - 4.0f;
                flat.push_back(At(x, y, z, 1.0f, Quat::rotationZ(angle(rng))));
                random.push_back(At(x, y, z, 1.0f, normalize(Quat(g(rng), g(rng), g(rng), g(rng)))));
            }
    check::StructureOptions opt;
    opt.samples = 4000;
    opt.margin = 2.0;  // the bulk region then spans whole periods of the stack
    const check::StructureReport f = check::AnalyzeStructure(scene, flat, opt);
    const check::StructureReport r = check::AnalyzeStructure(scene, random, opt);
    ASSERT_EQ(f.order.size(), 1u);
    ASSERT_EQ(r.order.size(), 1u);
    EXPECT_EQ(f.order[0].count, 500u);
    EXPECT_NEAR(f.order[0].order, 1.0, 1e-5);
    EXPECT_NEAR(f.order[0].bulkOrder, 1.0, 1e-5);
    EXPECT_GT(f.order[0].bulkCount, 0u);
    EXPECT_LT(r.order[0].order, 0.12);
    // One ellipsoid per 1 x 1 x 2 cell of the stack.
    EXPECT_NEAR(f.bulkFraction, scene.types[0].Volume() / 2.0, 5 * f.bulkFractionError);

    // The order is the largest eigenvalue of Q.
    const double diag[9] = {0.2, 0, 0, 0, -0.7, 0, 0, 0, 0.5};
    EXPECT_NEAR(check::LargestEigenvalue(diag), 0.5, 1e-12);
    // Q = 3/2 u u^T - 1/2 I for u = (1, 1, 0) / sqrt 2: eigenvalues 1, -1/2, -1/2.
    const double q[9] = {0.25, 0.75, 0, 0.75, 0.25, 0, 0, 0, -0.5};
    EXPECT_NEAR(check::LargestEigenvalue(q), 1.0, 1e-12);
}

TEST(Structure, CubaticOrderOfCubesInTheBulkAndOverAll) {
    // 6 x 6 x 6 cubes one apart, the 4 x 4 x 4 of the bulk aligned up to quarter turns, the others at
    // random: these add mean 0 and s.d. sqrt(152 x 4/21) / 216 = 0.025 to 64 / 216 at the bulk's axis.
    check::CheckScene scene = Scene(3.0f, "cube");
    scene.typeNames[0] = "cube \"odd\" \\ name";  // escaped in the JSON
    std::mt19937 rng(9);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<check::PlacedObject> objects;
    for (int i = 0; i < 216; ++i) {
        const int x = i % 6, y = i / 6 % 6, z = i / 36;
        const bool bulk = std::min({x, y, z}) >= 1 && std::max({x, y, z}) <= 4;
        const Quat q = bulk ? Quat::rotationZ(float(i % 4 * kPi / 2)) : normalize(Quat(g(rng), g(rng), g(rng), g(rng)));
        objects.push_back(At(x - 2.5f, y - 2.5f, z - 2.5f, 1.0f, q));
    }
    check::StructureOptions opt;
    opt.samples = 2000;
    const check::StructureReport r = check::AnalyzeStructure(scene, objects, opt);
    ASSERT_EQ(r.order.size(), 1u);
    EXPECT_EQ(r.order[0].kind, check::OrderKind::Cubatic);
    EXPECT_NEAR(r.order[0].bulkOrder, 1.0, 1e-4);
    EXPECT_NEAR(r.order[0].order, 64.0 / 216, 0.1);
    const auto json = nlohmann::json::parse(JsonDump(check::StructureToJson(r, scene.typeNames)));
    EXPECT_EQ(json["order"][0], nlohmann::json({{"name", scene.typeNames[0]},
                                                {"count", 216},
                                                {"cubaticOrder", r.order[0].order},
                                                {"bulkCount", 64},
                                                {"bulkCubaticOrder", r.order[0].bulkOrder}}));
}

}  // namespace
