// The packing report, the surface density, the Hopkins statistic and the viewer's key reports on
// small in-memory scenes; the JSON report of the same figures, written atomically, read back by a
// JSON parser.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "statistics/Report.h"
#include "statistics/ViewReports.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

using testscene::Scene;
using Vectormath::Aos::Vector3;

namespace {

/// The values after "NAME | Hopkins Value:" on a line of a report.
std::vector<float> HopkinsValues(const std::string& report, const std::string& name) {
    const std::string head = "\n" + name + " | Hopkins Value:";
    const size_t at = report.find(head), end = report.find('\n', at + 1);
    if (at == std::string::npos) ADD_FAILURE() << "no Hopkins line for " << name << " in\n" << report;
    std::istringstream in(at == std::string::npos ? "" : report.substr(at + head.size(), end - at - head.size()));
    std::vector<float> v;
    for (float x; in >> x;) v.push_back(x);
    return v;
}

std::string RunReport(Scene& s) {
    return StdoutOf([&] { s.algorithm->Statistic(); });
}

/// Two types of volume 1 and 1/8; tree spheres small enough to stay clear of the shrunk walls
/// (epsilon 0.1: walls at 0.9 h).
std::vector<PackingObjectInfo> TwoTypes() {
    return {testscene::MakeType("unit", 50.0f, 0.5f, 0.1f), testscene::MakeType("small", 50.0f, 0.25f, 0.1f)};
}

/// Parses the JSON file with Python's own parser and evaluates each expression over the
/// document `d`, one output line per expression (one interpreter start for all of them).
nlohmann::json Parsed(const std::string& file) { return nlohmann::json::parse(ReadFile(file)); }

int Entries(const std::string& dir) {
    const std::filesystem::directory_iterator all(dir);
    return static_cast<int>(std::distance(begin(all), end(all)));
}

}  // namespace

TEST(PackingReport, WholeReportAndItsJsonFormThatParsesAndSurvivesFailedWrites) {
    Scene s(1.0f, {testscene::MakeType("unit", 50.0f, 0.5f, 0.1f),
                   testscene::MakeType("odd \"name\"\\", 50.0f, 0.25f, 0.1f)});
    s.GridPoints(0.6f, 0.3f);
    s.algorithm->SetHopkinsRepeat(2);
    s.Place(0, Vector3(-0.5f, 0.0f, 0.0f));
    s.Place(0, Vector3(0.5f, 0.0f, 0.0f));
    s.Place(1, Vector3(0.0f, 0.5f, 0.0f));
    const std::string console = RunReport(s);
    // The unit cubes reach the walls x = -1 and 1: 0.1 of each lies in the shell (volume 8 - 0.729 * 8).
    const float surface = 100.0f * 0.2f / (8.0f - 0.729f * 8.0f);
    std::ostringstream printed;
    printed << s.algorithm->report().statistics->surfaceDensityPercent;
    EXPECT_NEAR(std::stof(printed.str()), surface, 0.01f * surface);
    const std::string head =
        "EPSILON: 0.1\n### Auto packing info ###\nPacking density/fraction: 26.5625 %\nSurface density/fraction: " +
        printed.str() +
        " %\nContainer Vol: 8\nObjects Vol: 2.125\nVolume per object type\nunit Vol: 1\nodd \"name\"\\ Vol: 0.125\n"
        "Num. placed objects: 3\nunit | Num.: 2 | Distribution : 66.6667 %\nodd \"name\"\\ | Num.: 1 | Distribution : "
        "33.3333 %\nunit | Hopkins Value: ";  // the values depend on where the probes land
    EXPECT_EQ(console.substr(0, head.size()), head);
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 14) << console;
    EXPECT_NE(console.find("\nodd \"name\"\\ | Hopkins Value: -1 -1\n"), std::string::npos) << console;

    PackingReport report = s.algorithm->report();
    report.configPath = "runs/a b.cfg";
    report.seed = 42u;
    report.improvementMinutes = 1.5;
    const std::string dir = MakeTempDir("report"), file = dir + "/report.json";
    ASSERT_TRUE(WriteReportJson(report, file));
    const nlohmann::json d = Parsed(file);
    EXPECT_EQ(d["configuration"], "runs/a b.cfg");
    EXPECT_EQ(d["seed"], 42);
    EXPECT_EQ(d["times"], nlohmann::json::parse(R"({"constructionMinutes": null, "improvementMinutes": 1.5,
                                                    "statisticMinutes": null})"));
    EXPECT_EQ(d["parameters"], nlohmann::json::parse(R"({"epsilon": 0.1, "hopkinsSubSet": 1, "hopkinsRepeat": 2})"));
    EXPECT_EQ(std::vector<double>({d["numObjects"], d["containerVolume"], d["objectsVolume"]}),
              (std::vector<double>{3, 8, 2.125}));
    EXPECT_TRUE(d["statisticsComputed"]);
    EXPECT_NEAR(double(d["packingDensityPercent"]), 26.5625, 1e-4);
    std::ostringstream surfaceText, hopkins;
    surfaceText << double(d["surfaceDensityPercent"]);
    EXPECT_EQ(surfaceText.str(), printed.str());
    const nlohmann::json& unit = d["types"][0];
    const nlohmann::json& odd = d["types"][1];
    EXPECT_EQ(std::make_tuple(unit["name"], unit["volume"], unit["count"]), std::make_tuple("unit", 1, 2));
    EXPECT_EQ(std::make_tuple(odd["name"], odd["volume"], odd["count"]), std::make_tuple("odd \"name\"\\", 0.125, 1));
    EXPECT_NEAR(double(unit["sharePercent"]), 66.667, 1e-3);
    EXPECT_EQ(odd["hopkins"], nlohmann::json::parse("[-1, -1]"));
    // The per-repetition values are the printed floats (the file holds their shortest form).
    for (const auto& v : unit["hopkins"]) hopkins << (hopkins.tellp() > 0 ? " " : "") << float(v);
    EXPECT_NE(console.find("unit | Hopkins Value: " + hopkins.str() + "\n"), std::string::npos) << hopkins.str();

    // Nothing but the report is left in the folder.
    EXPECT_EQ(Entries(dir), 1);

    // Numbers JSON cannot hold become null; failed writes keep the old file.
    PackingReport r;
    r.statistics.emplace();
    r.statistics->packingDensityPercent = std::nan("");
    r.statistics->types.push_back({"t", 1.0f, 0, std::numeric_limits<float>::infinity(), {0.5f}});
    ASSERT_TRUE(WriteReportJson(r, file));
    const nlohmann::json nulls = Parsed(file);
    EXPECT_TRUE(nulls["packingDensityPercent"].is_null() && nulls["types"][0]["sharePercent"].is_null());

    const std::string err = StderrOf([&] { EXPECT_FALSE(WriteReportJson(r, dir + "/missing/r.json")); });
    EXPECT_NE(err.find("Cannot write report " + dir + "/missing/r.json"), std::string::npos) << err;

    // A target that cannot be replaced (a folder) fails and leaves no temporary file behind.
    std::filesystem::create_directory(dir + "/taken");
    StderrOf([&] { EXPECT_FALSE(WriteReportJson(r, dir + "/taken")); });
    EXPECT_EQ(Entries(dir), 2);
    EXPECT_TRUE(Parsed(file)["seed"].is_null()) << "the last good report is kept";
}

TEST(PackingReport, EmptyPackingIsZeroEverywhereAndObjectsCountWithTheirTypeVolume) {
    Scene empty(1.0f, TwoTypes());
    const std::string none = RunReport(empty);
    for (const char* line : {"Packing density/fraction: 0 %\n", "Objects Vol: 0\n", "Num. placed objects: 0\n",
                             "unit | Num.: 0 | Distribution : 0 %\n", "small | Num.: 0 | Distribution : 0 %\n"})
        EXPECT_NE(none.find(line), std::string::npos) << line << none;
    EXPECT_EQ(none.find("nan"), std::string::npos) << none;
    EXPECT_EQ(HopkinsValues(none, "unit"), std::vector<float>{-1.0f});

    MovingObject* o = empty.Place(1, Vector3(0.0f, 0.0f, 0.0f));
    o->m_scaleMatrix = Vectormath::Aos::Matrix4::scale(Vector3(2.0f));
    o->m_volume = 99.0f;  // the type record's volume counts, not the object's copy or its scale
    const std::string one = RunReport(empty);
    for (const char* line :
         {"Objects Vol: 0.125\n", "unit | Num.: 0 | Distribution : 0 %\n", "small | Num.: 1 | Distribution : 100 %\n"})
        EXPECT_NE(one.find(line), std::string::npos) << line << one;
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
        // A probe that lands touching an object has distance 0, so 0 is a possible value.
        for (float v : unit) EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << v << " subset " << subset;
        EXPECT_EQ(HopkinsValues(out, "small"), std::vector<float>(3, -1.0f));
        s.algorithm->SetHopkinsRepeat(0);
        EXPECT_NE(RunReport(s).find("unit | Hopkins Value:\n"), std::string::npos);
    }
}

TEST(Hopkins, ClusteredLayoutScoresAboveRegularOne) {
    // A 3x3x3 grid of spacing 1, then the same 27 objects in three tight clumps: clumps have near
    // neighbours (small W) and lie far from random probes (large U), so U / (U + W) rises to 1.
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

TEST(SurfaceDensity, ObjectVolumeInsideTheShellOverShellVolumeAndZeroForEpsilonOutsideZeroToOne) {
    // Unit cubes, h = 2, epsilon 0.1: the shell holds x from 1.8 to 2 of a cube touching the wall
    // x = 2 from inside and of one poking out through it; the one-sphere trees would have
    // counted a ball's cap, and the part beyond the wall.
    Scene s(2.0f, TwoTypes());
    s.SetType(0, testscene::MakeType("unit", 50.0f, 0.5f, 0.5f));
    s.Place(0, Vector3(1.5f, 0.0f, 0.0f));
    s.Place(0, Vector3(0.0f, 2.0f, 0.0f));
    s.Place(0, Vector3(0.0f, 0.0f, 0.0f));  // far from every wall: adds nothing
    const float shell = 64.0f - 0.729f * 64.0f;
    EXPECT_NEAR(s.algorithm->SurfaceDensity(0.1f), 0.4f / shell, 0.01f / shell);

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
