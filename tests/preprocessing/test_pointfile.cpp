// The interior point file: what loads, what is refused, and that writing never leaves a
// broken file behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "preprocessing/PointFile.h"
#include "support/Subprocess.h"

using Vectormath::Aos::Vector3;

namespace {

std::vector<Vector3> Load(const std::string& content, int* result) {
    const std::string dir = MakeTempDir("points");
    std::string path = dir + "/points.txt";
    WriteFile(path, content);
    std::vector<Vector3> points{Vector3(9, 9, 9)};  // loading appends
    *result = LoadPointFile(path, points);
    return points;
}

void ExpectPoints(const std::vector<Vector3>& got, const std::vector<Vector3>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].getX(), want[i].getX()) << i;
        EXPECT_EQ(got[i].getY(), want[i].getY()) << i;
        EXPECT_EQ(got[i].getZ(), want[i].getZ()) << i;
    }
}

TEST(PointFile, ReadsLinesWithOrWithoutFinalNewline) {
    int r = 1;
    ExpectPoints(Load("1 2 3\n4 5 6\n", &r), {Vector3(9, 9, 9), Vector3(1, 2, 3), Vector3(4, 5, 6)});
    EXPECT_EQ(r, 0);
    ExpectPoints(Load("1 2 3\n4 5 6", &r), {Vector3(9, 9, 9), Vector3(1, 2, 3), Vector3(4, 5, 6)});
    EXPECT_EQ(r, 0);
    ExpectPoints(Load("1e-3 -2.5 3\r\n\n7 8 9\n", &r), {Vector3(9, 9, 9), Vector3(1e-3f, -2.5f, 3), Vector3(7, 8, 9)});
    EXPECT_EQ(r, 0) << "blank lines and CRLF ends are harmless";
    ExpectPoints(Load("", &r), {Vector3(9, 9, 9)});
    EXPECT_EQ(r, 0) << "an empty file loads (and sampling is skipped)";
}

TEST(PointFile, DamagedFilesAreNotLoadableAndChangeNothing) {
    testing::internal::CaptureStderr();
    int r = 0;
    ExpectPoints(Load("1 2 3\n4 5\n", &r), {Vector3(9, 9, 9)});
    EXPECT_EQ(r, -1);
    ExpectPoints(Load("1 2 3\n# comment\n", &r), {Vector3(9, 9, 9)});
    EXPECT_EQ(r, -1);
    ExpectPoints(Load("1 2 3\n" + std::string(3000, '1') + "\n", &r), {Vector3(9, 9, 9)});
    EXPECT_EQ(r, -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("points.txt:2: expected three numbers"), std::string::npos) << err;
    EXPECT_NE(err.find("points.txt:2: line longer than 2047 characters"), std::string::npos) << err;

    testing::internal::CaptureStdout();
    std::string missing = "/nonexistent/points.txt";
    std::vector<Vector3> points;
    EXPECT_EQ(LoadPointFile(missing, points), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Preprocessing file not found: /nonexistent/points.txt\n");
}

TEST(PointFile, WriteThenLoadRoundTripsAndEmptyListKeepsTheFile) {
    const std::string dir = MakeTempDir("points-write");
    std::string path = dir + "/points.txt";
    std::vector<Vector3> points{Vector3(0.125f, -3, 1e-7f), Vector3(123456, 2, 3)};
    WritePointFile(path, points);
    EXPECT_EQ(ReadFile(path), "0.125 -3 1e-07\n123456 2 3\n");
    std::vector<Vector3> back;
    ASSERT_EQ(LoadPointFile(path, back), 0);
    ExpectPoints(back, points);

    std::vector<Vector3> empty;
    testing::internal::CaptureStdout();
    WritePointFile(path, empty);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Point array is empty!\n");
    EXPECT_EQ(ReadFile(path), "0.125 -3 1e-07\n123456 2 3\n");

    testing::internal::CaptureStderr();
    WritePointFile(dir + "/no/such/dir/points.txt", points);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cannot write point file"), std::string::npos);
    size_t leftovers = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) leftovers += e.path().filename() != "points.txt";
    EXPECT_EQ(leftovers, 0u) << "no temporary file is left behind";
}

}  // namespace
