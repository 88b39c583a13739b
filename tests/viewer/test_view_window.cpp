// The viewer as a user meets it: densepack under a virtual X server showing a stored
// placement, driven with the mouse and keys, and its start-up when the shaders are missing.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "geometry/PackingGeometry.h"
#include "support/Ppm.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"

namespace {

const std::string kSource = DENSEPACK_SOURCE_DIR;

bool HaveXvfb() { return RunCommand("command -v xvfb-run && command -v import && command -v xdotool").status == 0; }

// Types are sorted by volume, largest first: cube (0.512) is index 0, tetrahedron index 1.
// Explicit, far-apart colours; the container is a see-through blue.
const char* kConfig =
    "[Construction Heuristic]\nPlacementAlgorithm\n[Preprocessing]\npoints.txt smallest 0.5 1\n"
    "[ModelPath]\n" DENSEPACK_SOURCE_DIR
    "/models/\n[Container]\nbox 0.1 0.1 0.9 0.5\n"
    "[Objects]\ncube 50 0.9 0.1 0.1 1.0\ntetrahedron 50 0.1 0.8 0.1 1.0\n";

// Two cubes left and two tetrahedra right of the container, none overlapping it.
using testscene::PlacementLine;
const std::string kPlacement = PlacementLine(0, -5, 2, 0, 0, 2.5f) + PlacementLine(0, -5, -3, 0, 0, 2.5f) +
                               PlacementLine(1, 5, 2, 0, 0, 3) + PlacementLine(1, 5, -3, 0, 0, 3);

// A working folder laid out like the project root: the shaders where start-up looks for them.
std::string ViewerDir(const std::string& tag) {
    const std::string dir = MakeTempDir(tag);
    RunCommand("ln -s " + ShellQuote(kSource + "/shaders") + " " + ShellQuote(dir + "/shaders"));
    WriteFile(dir + "/run.cfg", kConfig);
    WriteFile(dir + "/stored.txt", kPlacement);
    return dir;
}

Image Load(const std::string& png) {
    const std::string ppm = png + ".ppm";
    if (RunCommand("convert " + ShellQuote(png) + " " + ShellQuote(ppm)).status != 0) return {};
    return ReadPpm(ppm);
}

// Pixels of the 500 x 500 window at (500, 200) whose dominant channel is `channel` by a clear
// margin: shading scales all three channels alike, so the hue survives it.
struct HueCount {
    int count = 0;
    double sumX = 0, sumY = 0;
    double cx() const { return count ? sumX / count : 0; }
    double cy() const { return count ? sumY / count : 0; }
};

HueCount CountHue(const Image& img, int channel) {
    HueCount h;
    for (int y = 200; y < 700; ++y)
        for (int x = 500; x < 1000; ++x) {
            const uint8_t* p = img.at(x, y);
            const int c = p[channel], o1 = p[(channel + 1) % 3], o2 = p[(channel + 2) % 3];
            if (c > o1 + 40 && c > o2 + 40) {
                ++h.count;
                h.sumX += x;
                h.sumY += y;
            }
        }
    return h;
}

int CountWhite(const Image& img) {
    int n = 0;
    for (int y = 200; y < 700; ++y)
        for (int x = 500; x < 1000; ++x) {
            const uint8_t* p = img.at(x, y);
            n += p[0] == 255 && p[1] == 255 && p[2] == 255;
        }
    return n;
}

ProcessResult Shoot(const std::string& dir, const std::string& env, const std::string& shot,
                    const std::string& args = "-c run.cfg -v stored.txt") {
    return RunCommand("SCREENSHOT_DELAY=3 " + env + " " + kSource + "/tests/support/xvfb-screenshot.sh " +
                      ShellQuote(shot) + " " + ShellQuote(dir) + " " + DENSEPACK_EXE + " " + args);
}

class ViewWindow : public ::testing::Test {
 protected:
    void SetUp() override {
        if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run, ImageMagick or xdotool missing";
    }
};

TEST_F(ViewWindow, DrawsEveryTypeInItsColourOnWhite) {
    const std::string dir = ViewerDir("view-colours");
    const std::string shot = dir + "/shot.png";
    ProcessResult r = Shoot(dir, "", shot);
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(shot + ".stdout") << ReadFile(shot + ".stderr");
    Image img = Load(shot);
    ASSERT_TRUE(img.valid());

    const HueCount red = CountHue(img, 0), green = CountHue(img, 1), blue = CountHue(img, 2);
    EXPECT_GT(red.count, 200) << "cubes missing";
    EXPECT_GT(green.count, 100) << "tetrahedra missing";
    EXPECT_GT(blue.count, 200) << "container missing";
    // Cubes left of the centre, tetrahedra right, the container in the middle.
    EXPECT_LT(red.cx(), 720);
    EXPECT_GT(green.cx(), 780);
    EXPECT_NEAR(blue.cx(), 750, 15);
    // Most of the window is untouched background, and its corners are white.
    EXPECT_GT(CountWhite(img), 500 * 500 * 3 / 4);
    for (auto [x, y] : {std::pair{505, 205}, {995, 205}, {505, 695}, {995, 695}}) {
        const uint8_t* p = img.at(x, y);
        EXPECT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255) << x << "," << y;
    }
}

TEST_F(ViewWindow, RightDragZoomsAndLeftDragTurnsThePicture) {
    const std::string dir = ViewerDir("view-mouse");
    const std::string before = dir + "/before.png", zoomed = dir + "/zoomed.png", turned = dir + "/turned.png";
    // 200 px to the left with the right button: zoom 2, the eye twice as far away; then
    // 400 px to the left with the left button: two radians about the vertical axis.
    const std::string actions =
        "import -window root " + ShellQuote(before) +
        " && xdotool mousemove 900 450 mousedown 3 sleep 0.3 mousemove 700 450 sleep 0.3 mouseup 3"
        " && sleep 1 && import -window root " +
        ShellQuote(zoomed) +
        " && xdotool mousemove 950 450 mousedown 1 sleep 0.3 mousemove 550 450 sleep 0.3 mouseup 1";
    ProcessResult r = Shoot(dir, "ACTIONS=" + ShellQuote(actions), turned);
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(turned + ".stderr");

    const Image a = Load(before), b = Load(zoomed), c = Load(turned);
    ASSERT_TRUE(a.valid() && b.valid() && c.valid());
    const HueCount redA = CountHue(a, 0), redB = CountHue(b, 0), redC = CountHue(c, 0);
    ASSERT_GT(redA.count, 200);
    // Twice the distance: about a quarter of the area.
    EXPECT_LT(redB.count, redA.count * 0.5) << redA.count << " -> " << redB.count;
    ASSERT_GT(redB.count, 0);
    // The eye swings round the vertical axis: the cubes move sideways on the screen.
    ASSERT_GT(redC.count, 0);
    EXPECT_GT(std::abs(redC.cx() - redB.cx()), 20.0) << redB.cx() << " -> " << redC.cx();
}

TEST_F(ViewWindow, KeysWriteAPlacementThatLoadsBackAndAnObjExport) {
    const std::string dir = ViewerDir("view-keys");
    const std::string shot = dir + "/shot.png";
    ProcessResult r =
        Shoot(dir, "ACTIONS='xdotool mousemove 750 450 sleep 0.2 key g sleep 0.5 key e sleep 0.5 key s'", shot);
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(shot + ".stderr");
    const std::string out = ReadFile(shot + ".stdout");
    EXPECT_NE(out.find("### Auto packing info ###"), std::string::npos) << out;

    // "g": the program's own loader reads the file back with all four objects.
    ProcessResult back = RunCommand(std::string(DENSEPACK_EXE) + " --headless -c run.cfg -v testFile.txt", dir);
    EXPECT_EQ(back.status, 0) << back.out << back.err;
    EXPECT_NE(back.out.find("Placed objects: 4"), std::string::npos) << back.out;
    // Same poses as the file that was shown (written in "%g" form, so compare as numbers).
    std::istringstream written(ReadFile(dir + "/testFile.txt")), shown(kPlacement);
    float u = 0, v = 0;
    int numbers = 0;
    while (shown >> v) {
        ASSERT_TRUE(written >> u) << "number " << numbers;
        EXPECT_NEAR(u, v, 1e-5f) << "number " << numbers;
        ++numbers;
    }
    EXPECT_EQ(numbers, 4 * 49);

    // "e": container (12 triangles), two cubes (12 each), two tetrahedra (4 each).
    PackingGeometry exported;
    ASSERT_EQ(LoadOBJ(&exported, (dir + "/packing.obj").c_str()), 0);
    EXPECT_EQ(exported.m_numVertices / 3, 12u + 2 * 12u + 2 * 4u);
}

TEST_F(ViewWindow, MissingShadersEndStartUpWithTheirMessages) {
    const std::string dir = MakeTempDir("view-noshaders");
    WriteFile(dir + "/run.cfg", kConfig);
    WriteFile(dir + "/stored.txt", kPlacement);
    ProcessResult r = RunCommand(
        "xvfb-run -a -s '-screen 0 1280x1024x24' " + std::string(DENSEPACK_EXE) + " -c run.cfg -v stored.txt", dir);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("Failed to open shaders/Object.vert"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Shader shaders/Object.vert failed to compile"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Shaders failed to link!"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("cannot build the shader program"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Loading packing file"), std::string::npos) << "start-up went on";
}

}  // namespace

namespace {

// Run mode on a small grid of interior points: the objects appear while the placement runs.
TEST_F(ViewWindow, RunModeShowsTheObjectsBeingPlaced) {
    const std::string dir = ViewerDir("run-window");
    WriteFile(dir + "/run.cfg",
              "[Construction Heuristic]\nPlacementAlgorithm\n[Improvement Heuristic]\nnone\n"
              "[Preprocessing]\npoints.txt smallest 1.0 1\n[ModelPath]\n" DENSEPACK_SOURCE_DIR
              "/models/\n[Container]\nbox 0.1 0.1 0.9 0.3\n[Objects]\ncube 50 0.9 0.1 0.1 1.0\n"
              "tetrahedron 50 0.1 0.8 0.1 1.0\n");
    std::string points;
    for (int x = -2; x <= 2; ++x)
        for (int y = -2; y <= 2; ++y)
            for (int z = -2; z <= 2; ++z)
                points += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
    WriteFile(dir + "/points.txt", points);
    const std::string shot = dir + "/shot.png";
    // "c" hides the container so the objects show in their own colours.
    ProcessResult r = Shoot(dir, "ACTIONS='xdotool mousemove 750 450 sleep 0.2 key c'", shot, "-c run.cfg --seed 3");
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(shot + ".stderr");
    EXPECT_NE(ReadFile(shot + ".stdout").find("Construction Run"), std::string::npos);
    Image img = Load(shot);
    ASSERT_TRUE(img.valid());
    const int red = CountHue(img, 0).count, green = CountHue(img, 1).count, blue = CountHue(img, 2).count;
    EXPECT_GT(red + green, 50) << "no objects drawn";
    EXPECT_EQ(blue, 0) << "container still drawn after \"c\"";
    // Everything stays within the container's square around the window centre.
    const HueCount all{red + green, CountHue(img, 0).sumX + CountHue(img, 1).sumX, 0};
    EXPECT_NEAR(all.cx(), 750, 60);
}

}  // namespace
