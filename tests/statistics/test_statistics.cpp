// The packing report, the surface density, the Hopkins statistic and the viewer's key reports on
// small in-memory scenes.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "statistics/Report.h"
#include "statistics/ViewReports.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

using testscene::Scene;
using Vectormath::Aos::Vector3;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

/// The values after "NAME | Hopkins Value:" in a report.
std::vector<float> HopkinsValues(const std::string& report, const std::string& name) {
    const std::string head = name + " | Hopkins Value:";
    for (const std::string& l : Lines(report)) {
        if (l.rfind(head, 0) != 0) continue;
        std::istringstream in(l.substr(head.size()));
        std::vector<float> v;
        for (float x; in >> x;) v.push_back(x);
        return v;
    }
    ADD_FAILURE() << "no Hopkins line for " << name << " in\n" << report;
    return {};
}

std::string RunReport(Scene& s) {
    return StdoutOf([&] { s.algorithm->Statistic(); });
}

/// Two types of volume 1 and 1/8; tree spheres small enough to stay clear of the shrunk walls
/// (epsilon 0.1: walls at 0.9 h).
std::vector<PackingObjectInfo> TwoTypes() {
    return {testscene::MakeType("unit", 50.0f, 0.5f, 0.1f), testscene::MakeType("small", 50.0f, 0.25f, 0.1f)};
}

}  // namespace

TEST(PackingReport, TwoUnitObjectsInVolumeEightPrintTheWholeReport) {
    Scene s(1.0f, TwoTypes());
    s.GridPoints(0.6f, 0.3f);
    s.Place(0, Vector3(-0.5f, 0.0f, 0.0f));
    s.Place(0, Vector3(0.5f, 0.0f, 0.0f));
    const std::vector<std::string> lines = Lines(RunReport(s));
    const std::vector<std::string> expected = {
        "EPSILON: 0.1",
        "### Auto packing info ###",
        "Packing density/fraction: 25 %",
        "Surface density/fraction: 0 %",
        "Container Vol: 8",
        "Objects Vol: 2",
        "Volume per object type",
        "unit Vol: 1",
        "small Vol: 0.125",
        "Num. placed objects: 2",
        "unit | Num.: 2 | Distribution : 100 %",
        "small | Num.: 0 | Distribution : 0 %",
    };
    ASSERT_EQ(lines.size(), expected.size() + 2);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;
    // The value itself depends on where the probes land; its bounds are tested below.
    EXPECT_EQ(lines[12].rfind("unit | Hopkins Value: ", 0), 0u) << lines[12];
    EXPECT_EQ(lines[13], "small | Hopkins Value: -1");
}

TEST(PackingReport, EmptyPackingIsZeroEverywhereAndObjectsCountWithTheirTypeVolume) {
    Scene empty(1.0f, TwoTypes());
    const std::string out = RunReport(empty);
    for (const char* line : {"Packing density/fraction: 0 %\n", "Objects Vol: 0\n", "Num. placed objects: 0\n",
                             "unit | Num.: 0 | Distribution : 0 %\n", "small | Num.: 0 | Distribution : 0 %\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    EXPECT_EQ(out.find("nan"), std::string::npos) << out;
    EXPECT_EQ(HopkinsValues(out, "unit"), std::vector<float>{-1.0f});

    Scene s(1.0f, TwoTypes());
    MovingObject* o = s.Place(1, Vector3(0.0f, 0.0f, 0.0f));
    o->m_scaleMatrix = Vectormath::Aos::Matrix4::scale(Vector3(2.0f));
    o->m_volume = 99.0f;  // the type record's volume counts, not the object's copy or its scale
    const std::string one = RunReport(s);
    EXPECT_NE(one.find("Objects Vol: 0.125\n"), std::string::npos) << one;
    EXPECT_NE(one.find("small | Num.: 1 | Distribution : 100 %\n"), std::string::npos) << one;
}

TEST(Hopkins, RepetitionsSubsetsAndTypesWithTooFewObjects) {
    for (float subset : {1.0f, 0.01f, 4.0f}) {  // fractions giving one object and all objects still work
        Scene s(2.0f, TwoTypes());
        s.GridPoints(1.2f, 0.4f);
        s.algorithm->SetHopkinsRepeat(3);
        s.algorithm->SetHopkinsSubSet(subset);
        s.Place(0, Vector3(-1.0f, 0.0f, 0.0f));
        s.Place(0, Vector3(1.0f, 0.0f, 0.0f));
        s.Place(0, Vector3(0.0f, 1.0f, 0.0f));
        s.Place(1, Vector3(0.0f, -1.0f, 0.0f));  // one object: no neighbour to measure
        const std::string out = RunReport(s);
        const std::vector<float> unit = HopkinsValues(out, "unit");
        ASSERT_EQ(unit.size(), 3u) << subset;
        for (float v : unit) EXPECT_TRUE(v > 0.0f && v < 1.0f) << v << " subset " << subset;
        EXPECT_EQ(HopkinsValues(out, "small"), std::vector<float>(3, -1.0f));
        s.algorithm->SetHopkinsRepeat(0);
        EXPECT_NE(RunReport(s).find("unit | Hopkins Value:\n"), std::string::npos);
    }
}

TEST(Hopkins, ClusteredLayoutScoresAboveRegularOne) {
    // Regular: a 3x3x3 grid of spacing 1 in a container of half size 2. Clustered: the same 27
    // objects in three tight clumps. Clumped objects have near neighbours (small W) while random
    // probes are far from them (large U), so U / (U + W) rises towards 1; on the grid W is large
    // and every probe is close to some object, so it falls below one half.
    float mean[2] = {0.0f, 0.0f};
    for (int layout = 0; layout < 2; ++layout) {
        Scene s(2.0f, TwoTypes());
        s.GridPoints(1.4f, 0.2f);
        s.algorithm->SetHopkinsRepeat(4);
        const Vector3 clumps[3] = {Vector3(-1.2f), Vector3(1.2f), Vector3(1.2f, -1.2f, 1.2f)};
        for (int i = 0; i < 27; ++i) {
            const Vector3 cell(i % 3 - 1.0f, (i / 3) % 3 - 1.0f, i / 9 - 1.0f);
            s.Place(0, layout == 0 ? cell : clumps[i / 9] + 0.25f * Vector3(cell.getX(), cell.getY(), 0.0f));
        }
        const std::vector<float> v = HopkinsValues(RunReport(s), "unit");
        ASSERT_EQ(v.size(), 4u);
        mean[layout] = std::accumulate(v.begin(), v.end(), 0.0f) / 4;
    }
    EXPECT_LT(mean[0], 0.5f);
    EXPECT_GT(mean[1], 0.75f);
    EXPECT_GT(mean[1], mean[0] + 0.3f);
}

TEST(NearestNeighbor, SmallestDistanceToTheOthersAndZeroWithoutOthers) {
    Scene s(4.0f, TwoTypes());
    MovingObject* a = s.Place(0, Vector3(0.0f, 0.0f, 0.0f));
    MovingObject* b = s.Place(0, Vector3(3.0f, 0.0f, 0.0f));
    MovingObject* c = s.Place(0, Vector3(0.0f, 1.0f, 0.0f));
    std::vector<MovingObject*> one{a}, all{a, b, c}, others{b, c};
    EXPECT_EQ(s.algorithm->NearestNeighborDist(a, one), 0.0f);
    // Sphere trees of radius 0.1: surface gaps 2.8 and 0.8.
    EXPECT_NEAR(s.algorithm->NearestNeighborDist(a, all), 0.8f, 1e-5f);
    EXPECT_NEAR(s.algorithm->NearestNeighborDist(b, all), 2.8f, 1e-5f);
    // An object outside the candidate list is measured against all of them.
    EXPECT_NEAR(s.algorithm->NearestNeighborDist(a, others), 0.8f, 1e-5f);
}

TEST(SurfaceDensity, CapInsideTheShellOverShellVolumeAndZeroForEpsilonOutsideZeroToOne) {
    // Sphere of radius 0.5 centred on the shrunk wall plane x = 1.8 (h = 2, epsilon 0.1): half of
    // it lies in the shell. The wall sphere has radius 900 there, so the lens is a half ball up
    // to about r/R.
    Scene s(2.0f, TwoTypes());
    s.SetType(0, testscene::MakeType("unit", 50.0f, 0.5f, 0.5f));
    s.Place(0, Vector3(1.8f, 0.0f, 0.0f));
    s.Place(0, Vector3(0.0f, 0.0f, 0.0f));  // far from every wall: adds nothing
    const float shell = 64.0f - 0.729f * 64.0f, halfBall = 2.0f / 3.0f * 3.14159265f * 0.125f;
    EXPECT_NEAR(s.algorithm->SurfaceDensity(0.1f), halfBall / shell, 0.01f * halfBall / shell);
    // The container is left unscaled and immovable.
    EXPECT_EQ(s.container.m_scaleMatrix.getElem(0, 0), 1.0f);
    EXPECT_EQ(s.container.m_modelMatrix.getElem(2, 2), 1.0f);
    EXPECT_EQ(s.container.m_geometry->getScale(), 1.0f);
    EXPECT_EQ(s.container.m_inverseMass, 0.0f);

    for (float eps : {0.0f, -0.5f, 1.0f}) {
        std::ostringstream want;
        want << "Surface density needs an epsilon between 0 and 1 (got " << eps << "); reported as 0\n";
        EXPECT_EQ(StderrOf([&] { EXPECT_EQ(s.algorithm->SurfaceDensity(eps), 0.0f); }), want.str());
    }
}

TEST(KeyReports, DistanceReportPairStatisticsPerTypeAndTheSingleObjectCase) {
    // Three on a line at 0, 3 and 4: distances 3, 4, 1.
    DistanceSummary s, untouched{7, 8, 9};
    avgDistFruit({Vector3(0, 0, 0), Vector3(3, 0, 0), Vector3(4, 0, 0)}, s);
    EXPECT_FLOAT_EQ(s.avg, 8.0f / 3.0f);
    EXPECT_FLOAT_EQ(s.variance, 14.0f / 9.0f);
    EXPECT_FLOAT_EQ(s.deviation, std::sqrt(14.0f / 9.0f));
    avgDistFruit({Vector3(1, 2, 3)}, untouched);
    EXPECT_FLOAT_EQ(untouched.avg, 7);

    std::vector<PackingObjectInfo> types(2);
    types[0].name = "big";
    types[1].name = "small";
    std::ostringstream out;
    PrintDistanceReport(
        out, {{1, Vector3(0, 0, 0)}, {0, Vector3(5, 0, 0)}, {1, Vector3(0, 2, 0)}, {1, Vector3(0, 0, 2)}}, types);
    // One "big": zeros and 0 / 0. Three "small" at distances 2, 2 and 2 sqrt 2.
    EXPECT_EQ(out.str(),
              "Num. placed objects: 4\n"
              "big | Num.: 1 | Distribution : 25 % | avg dist: 0 | variance: 0 | standard deviation: 0 | "
              "percentage: -nan\n"
              "small | Num.: 3 | Distribution : 75 % | avg dist: 2.27614 | variance: 0.152509 | "
              "standard deviation: 0.390524 | percentage: 17.1573\n");

    // Key "s": density from the types' volumes, each type's mesh volume computed afresh.
    PackingGeometry* box = testscene::MakeBox(1.0f, 1.0f, 1.0f);  // volume 8
    types[0].volume = 1.0f;
    types[0].geometry = box;
    types[1].volume = 0.5f;
    std::ostringstream packing, none;
    PrintPackingReport(packing, {0, 1, 1, 0}, types, box);
    EXPECT_EQ(packing.str(),
              "### Auto packing info ###\nPacking density/fraction: 37.5 %\nContainer Vol: 8\nObjects Vol: 3\n"
              "Volume per object type\nbig Vol: 8\nsmall Vol: 0\n");
    PrintPackingReport(none, {}, types, box);
    EXPECT_NE(none.str().find("Packing density/fraction: 0 %\n"), std::string::npos) << none.str();
    testscene::FreeMesh(box);
}
