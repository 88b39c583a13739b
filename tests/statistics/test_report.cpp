// The JSON report: the figures Statistic() printed, written atomically, readable by a JSON parser.

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "statistics/Report.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

using testscene::Scene;
using Vectormath::Aos::Vector3;

namespace {

/// Parses the JSON file with Python's own parser and evaluates each expression over the
/// document `d`, one output line per expression (one interpreter start for all of them).
std::vector<std::string> Query(const std::string& file, const std::vector<std::string>& exprs) {
    std::string script = "import json,sys\nd=json.load(open(sys.argv[1]))\n";
    for (const std::string& e : exprs) script += "print(" + e + ")\n";
    const ProcessResult r = RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(file));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    lines.resize(exprs.size());
    return lines;
}

int Entries(const std::string& dir) {
    const std::filesystem::directory_iterator all(dir);
    return static_cast<int>(std::distance(begin(all), end(all)));
}

}  // namespace

TEST(JsonReport, HoldsTheReportFiguresAndParses) {
    Scene s(1.0f, {testscene::MakeType("unit", 50.0f, 0.5f, 0.1f),
                   testscene::MakeType("odd \"name\"\\", 50.0f, 0.25f, 0.1f)});
    s.GridPoints(0.6f, 0.3f);
    s.algorithm->SetHopkinsRepeat(2);
    s.Place(0, Vector3(-0.5f, 0.0f, 0.0f));
    s.Place(0, Vector3(0.5f, 0.0f, 0.0f));
    s.Place(1, Vector3(0.0f, 0.5f, 0.0f));
    const std::string console = StdoutOf([&] { s.algorithm->Statistic(); });
    PackingReport report = s.algorithm->report();
    report.configPath = "runs/a b.cfg";
    report.seed = 42u;
    report.improvementMinutes = 1.5;

    const std::string dir = MakeTempDir("report");
    const std::string file = dir + "/report.json";
    ASSERT_TRUE(WriteReportJson(report, file));
    const std::vector<std::string> got =
        Query(file, {"d['configuration'], d['seed']", "d['times']",
                     "d['statisticsComputed'], d['numObjects'], d['containerVolume'], d['objectsVolume']",
                     "round(d['packingDensityPercent'], 4), d['surfaceDensityPercent']", "d['parameters']",
                     "[(t['name'], t['volume'], t['count'], round(t['sharePercent'], 3)) for t in d['types']]",
                     "d['types'][1]['hopkins']", "' '.join('%g' % v for v in d['types'][0]['hopkins'])"});
    EXPECT_EQ(got[0], "runs/a b.cfg 42");
    EXPECT_EQ(got[1], "{'constructionMinutes': None, 'improvementMinutes': 1.5, 'statisticMinutes': None}");
    EXPECT_EQ(got[2], "True 3 8 2.125");
    EXPECT_EQ(got[3], "26.5625 0");
    EXPECT_EQ(got[4], "{'epsilon': 0.1, 'hopkinsSubSet': 1, 'hopkinsRepeat': 2}");
    EXPECT_EQ(got[5], "[('unit', 1, 2, 66.667), ('odd \"name\"\\\\', 0.125, 1, 33.333)]");
    EXPECT_EQ(got[6], "[-1, -1]");
    // The per-repetition values are the printed ones.
    EXPECT_NE(console.find("unit | Hopkins Value: " + got[7] + "\n"), std::string::npos) << console << got[7];

    // Nothing but the report is left in the folder.
    EXPECT_EQ(Entries(dir), 1);
}

TEST(JsonReport, NonFiniteNumbersBecomeNullAndAFailedWriteKeepsTheOldFile) {
    PackingReport r;
    r.statistics.emplace();
    r.statistics->packingDensityPercent = std::nan("");
    r.statistics->types.push_back({"t", 1.0f, 0, std::numeric_limits<float>::infinity(), {0.5f}});
    const std::string dir = MakeTempDir("report");
    const std::string file = dir + "/r.json";
    ASSERT_TRUE(WriteReportJson(r, file));
    EXPECT_EQ(Query(file, {"d['packingDensityPercent'], d['types'][0]['sharePercent'], d['seed']"})[0],
              "None None None");

    const std::string err = StderrOf([&] { EXPECT_FALSE(WriteReportJson(r, dir + "/missing/r.json")); });
    EXPECT_NE(err.find("Cannot write report " + dir + "/missing/r.json"), std::string::npos) << err;

    // A target that cannot be replaced (a folder) fails and leaves no temporary file behind.
    std::filesystem::create_directory(dir + "/taken");
    StderrOf([&] { EXPECT_FALSE(WriteReportJson(r, dir + "/taken")); });
    EXPECT_EQ(Entries(dir), 2);
}
