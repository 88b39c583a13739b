// The reports of the "a" and "s" keys on hand-made packings.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "geometry/PackingGeometry.h"
#include "statistics/ViewReports.h"

using Vectormath::Aos::Vector3;

namespace {

TEST(DistanceReport, PairStatisticsPerTypeAndTheSingleObjectCase) {
    // Three on a line at 0, 3 and 4: distances 3, 4, 1.
    DistanceSummary s;
    avgDistFruit({Vector3(0, 0, 0), Vector3(3, 0, 0), Vector3(4, 0, 0)}, s);
    EXPECT_FLOAT_EQ(s.avg, 8.0f / 3.0f);
    const float var =
        ((3 - 8.0f / 3) * (3 - 8.0f / 3) + (4 - 8.0f / 3) * (4 - 8.0f / 3) + (1 - 8.0f / 3) * (1 - 8.0f / 3)) / 3;
    EXPECT_FLOAT_EQ(s.variance, var);
    EXPECT_FLOAT_EQ(s.deviation, std::sqrt(var));

    DistanceSummary untouched{7, 8, 9};
    avgDistFruit({Vector3(1, 2, 3)}, untouched);
    EXPECT_FLOAT_EQ(untouched.avg, 7);

    std::vector<PackingObjectInfo> types(2);
    types[0].name = "big";
    types[1].name = "small";
    std::ostringstream out;
    PrintDistanceReport(
        out, {{1, Vector3(0, 0, 0)}, {0, Vector3(5, 0, 0)}, {1, Vector3(0, 2, 0)}, {1, Vector3(0, 0, 2)}}, types);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("Num. placed objects: 4\n", 0), 0u) << text;
    // One "big": zeros and 0 / 0.
    EXPECT_NE(text.find("big | Num.: 1 | Distribution : 25 % | avg dist: 0 | variance: 0 | standard deviation: 0 | "
                        "percentage: -nan\n"),
              std::string::npos)
        << text;
    // Three "small" at distances 2, 2 and 2*sqrt(2).
    std::ostringstream expected;
    DistanceSummary small;
    avgDistFruit({Vector3(0, 0, 0), Vector3(0, 2, 0), Vector3(0, 0, 2)}, small);
    expected << "small | Num.: 3 | Distribution : 75 % | avg dist: " << small.avg;
    EXPECT_NE(text.find(expected.str()), std::string::npos) << text;
    EXPECT_NEAR(small.avg, (4 + 2 * std::sqrt(2.0f)) / 3, 1e-6f);
}

TEST(PackingReport, DensityFromTypeVolumesAndTheEmptyPacking) {
    // A 2 x 2 x 2 box as the container: volume 8.
    PackingGeometry box;
    auto& v = box.editVertices();
    const float c[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                           {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
    const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                              {2, 3, 7}, {2, 7, 6}, {1, 2, 6}, {1, 6, 5}, {0, 4, 7}, {0, 7, 3}};
    for (const auto& f : faces)
        for (int k : f) v.push_back(Vector3(c[k][0], c[k][1], c[k][2]));
    box.m_numVertices = v.size();
    ASSERT_NEAR(calculateVolume(&box), 8.0f, 1e-5f);

    std::vector<PackingObjectInfo> types(2);
    types[0].name = "a";
    types[0].volume = 1.0f;
    types[0].geometry = &box;
    types[1].name = "b";
    types[1].volume = 0.5f;

    std::ostringstream out;
    PrintPackingReport(out, {0, 1, 1, 0}, types, &box);
    EXPECT_EQ(out.str(),
              "### Auto packing info ###\nPacking density/fraction: 37.5 %\nContainer Vol: 8\nObjects Vol: 3\n"
              "Volume per object type\na Vol: 8\nb Vol: 0\n");

    std::ostringstream empty;
    PrintPackingReport(empty, {}, types, &box);
    EXPECT_NE(empty.str().find("Packing density/fraction: 0 %\n"), std::string::npos) << empty.str();
}

}  // namespace
