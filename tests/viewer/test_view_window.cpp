// The orbit camera as the mouse drives it: clamped turns, zoom from right-drags, wheel events
// that only touch the pending eye translation, and the free camera's eye. Then the viewer as a
// user meets it: densepack under a virtual X server showing a stored placement, driven with the
// keys and the mouse; run mode; and start-up when the shaders are missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <sstream>
#include <string>

#include "geometry/PackingGeometry.h"
#include "support/Subprocess.h"
#include "support/TestScene.h"
#include "viewer/Camera.h"

namespace {

// The start-up set-up, with the 500 x 500 viewport of the first reshape.
Camera StartUpCamera() {
    Camera c;
    c.SetMode(Orbit);
    c.SetPosition(glm::vec3(0.0f, 0.0f, 30.0f));
    c.SetLookAt(glm::vec3(0.0f));
    c.SetClipping(0.1, 1000.0);
    c.SetFOV(20.0);
    c.SetViewport(0, 0, 500, 500);
    return c;
}

TEST(Camera, LeftDragTurnsAtMostOneClampedStepRightDragZoomsTheWheelOnlyTranslates) {
    Camera c = StartUpCamera();
    c.SetPos(0, 0, 1100, 300);
    c.Move2D(100, 300);  // 1000 px to the left in one event
    EXPECT_FLOAT_EQ(c.heading(), 5.0f);
    EXPECT_FLOAT_EQ(c.pitch(), 0.0f);
    c.Move2D(1100, 1300);  // back right and down
    EXPECT_FLOAT_EQ(c.heading(), 0.0f);
    EXPECT_FLOAT_EQ(c.pitch(), -5.0f);
    // A small drag is not clamped, and after the button is released motion does nothing.
    c.Move2D(1090, 1300);
    EXPECT_NEAR(c.heading(), 0.05f, 1e-6f);
    c.SetPos(0, 1, 1090, 1300);
    c.Move2D(0, 0);
    EXPECT_NEAR(c.heading(), 0.05f, 1e-6f);
    EXPECT_FLOAT_EQ(c.zoom(), 1.0f);

    // Right drags zoom the view only: 200 px to the left is +1, the eye twice as far away.
    Camera z = StartUpCamera();
    z.SetPos(2, 0, 300, 250);
    z.Move2D(100, 250);
    EXPECT_FLOAT_EQ(z.zoom(), 2.0f);
    EXPECT_FLOAT_EQ(z.heading(), 0.0f);
    z.Update(false);
    glm::mat4 projection, view, model;
    z.GetMatricies(projection, view, model);
    EXPECT_NEAR(glm::length(glm::vec3(glm::inverse(view)[3])), 60.0f, 1e-3f);
    EXPECT_FLOAT_EQ(z.eye().z, 30.0f);
    z.Move2D(300, 250);  // and back to the right
    EXPECT_FLOAT_EQ(z.zoom(), 1.0f);

    Camera w = StartUpCamera();
    for (int button : {3, 3, 4, 3}) w.SetPos(button, 0, 10, 10);
    EXPECT_NEAR(w.eyeDelta().y, 0.01f, 1e-7f);
    EXPECT_FLOAT_EQ(w.eyeDelta().x, 0.0f);
    w.Move2D(500, 500);  // no button held
    EXPECT_FLOAT_EQ(w.heading(), 0.0f);
    EXPECT_FLOAT_EQ(w.zoom(), 1.0f);
    w.Update(false);
    EXPECT_LT(glm::distance(w.eye(), glm::vec3(0, 0, 30)), 1e-5f);
    w.Move(Up);  // only the free mode moves
    EXPECT_NEAR(w.eyeDelta().y, 0.01f * 0.008f, 1e-9f);
    w.ChangeHeading(100.0f);
    EXPECT_FLOAT_EQ(w.heading(), 5.0f);
}

TEST(Camera, OrbitLooksAtTheOriginAndATurnRotatesTheEyeAboutItAndFadesOutFreeModeTranslates) {
    Camera c = StartUpCamera();
    c.Update(false);
    EXPECT_LT(glm::distance(c.eye(), glm::vec3(0, 0, 30)), 1e-5f);
    glm::mat4 projection, view, model;
    c.GetMatricies(projection, view, model);
    const glm::mat4 expected = glm::lookAtRH(glm::vec3(0, 0, 30), glm::vec3(0), glm::vec3(0, 1, 0));
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(view[i / 4][i % 4], expected[i / 4][i % 4], 1e-6f);
    EXPECT_EQ(model, glm::mat4(1.0f));
    // The origin lands in the centre of the screen.
    const glm::vec4 clip = c.GetMVP() * glm::vec4(0, 0, 0, 1);
    EXPECT_NEAR(glm::length(glm::vec2(clip) / clip.w), 0.0f, 1e-6f);

    c.SetPos(0, 0, 200, 200);
    c.Move2D(100, 200);  // heading 0.5 rad about +y
    c.Update(false);
    EXPECT_NEAR(glm::length(c.eye()), 30.0f, 1e-4f);
    EXPECT_NEAR(c.eye().x, 30.0f * std::sin(0.5f), 1e-4f);
    EXPECT_NEAR(c.eye().z, 30.0f * std::cos(0.5f), 1e-4f);
    EXPECT_NEAR(c.heading(), 0.5f * 0.005f, 1e-7f);
    const glm::vec3 before = c.eye();
    c.Update(false);
    EXPECT_NEAR(glm::distance(before, c.eye()), 30.0f * 0.0025f, 1e-4f);

    Camera f = StartUpCamera();
    f.SetMode(Free);
    f.SetPosition(glm::vec3(0, 0, 10));
    f.Update(false);
    f.Move(Forward);
    f.Move(Up);
    f.Update(false);
    EXPECT_NEAR(f.eye().z, 10.0f - 0.005f, 1e-6f);
    EXPECT_NEAR(f.eye().y, 0.005f, 1e-6f);
    EXPECT_NEAR(f.lookAt().z, 10.0f - 0.005f - 1.0f, 1e-5f);
}

TEST(Camera, FrameFitsTheSphereInTheNarrowerAngleFromTheGivenSideAndResetsZoomAndTurns) {
    Camera c = StartUpCamera();
    c.SetViewport(0, 0, 800, 400);  // wide: the height is the narrower angle
    c.SetPos(2, 0, 300, 0);
    c.Move2D(100, 0);  // zoom 2
    const glm::vec3 centre(1, 2, 3);
    c.Frame(centre, 4.0f, glm::vec3(0, 0, 5));
    EXPECT_FLOAT_EQ(c.zoom(), 1.0f);
    EXPECT_NEAR(glm::length(glm::normalize(c.viewedFrom()) - glm::vec3(0, 0, 1)), 0.0f, 1e-6f);
    c.Update(false);
    const auto screen = [&](glm::vec3 p) {
        const glm::vec4 clip = c.GetMVP() * glm::vec4(p, 1.0f);
        return glm::vec2(clip) / clip.w;
    };
    EXPECT_NEAR(glm::length(screen(centre)), 0.0f, 1e-5f);
    // The sphere's rim reaches most of the way to the top edge and stays inside it.
    const float top = screen(centre + glm::vec3(0, 4, 0)).y;
    EXPECT_GT(top, 0.7f);
    EXPECT_LT(top, 1.0f);
    EXPECT_NEAR(screen(centre + glm::vec3(4, 0, 0)).x, top / 2.0f, 1e-4f);

    // Straight down the up axis the view would be undefined; the side is tilted a little.
    c.Frame(centre, 4.0f, glm::vec3(0, 1, 0));
    c.Update(false);
    EXPECT_NEAR(glm::length(screen(centre)), 0.0f, 1e-4f);
}

const std::string kSource = DENSEPACK_SOURCE_DIR;

// Types are sorted by volume, largest first: cube (0.512) is index 0, tetrahedron index 1.
// Explicit, far-apart colours; the container is a see-through blue.
const std::string kConfig =
    "[Construction Heuristic]\nPlacementAlgorithm\n[Improvement Heuristic]\nnone\n[Preprocessing]\n"
    "points.txt smallest 0.5 1\n[ModelPath]\n" +
    kSource +
    "/models/\n[Container]\nbox 0.1 0.1 0.9 0.5\n[Objects]\ncube 50 0.9 0.1 0.1 1.0\ntetrahedron 50 0.1 0.8 0.1 1.0\n";

// Two cubes left and two tetrahedra right of the container, none overlapping it.
using testscene::PlacementLine;
const std::string kPlacement = PlacementLine(0, -5, 2, 0, 0, 2.5f) + PlacementLine(0, -5, -3, 0, 0, 2.5f) +
                               PlacementLine(1, 5, 2, 0, 0, 3) + PlacementLine(1, 5, -3, 0, 0, 3);

// A working folder laid out like the project root: the shaders where start-up looks for them.
std::string ViewerDir(const std::string& tag, bool shaders = true) {
    const std::string dir = MakeTempDir(tag);
    if (shaders) RunCommand("ln -s " + ShellQuote(kSource + "/shaders") + " " + ShellQuote(dir + "/shaders"));
    WriteFile(dir + "/run.cfg", kConfig);
    WriteFile(dir + "/stored.txt", kPlacement);
    return dir;
}

// A screenshot of the 1280 x 1024 screen as raw RGB bytes; empty when it cannot be read.
std::string Load(const std::string& png) {
    RunCommand("convert " + ShellQuote(png) + " -depth 8 rgb:" + ShellQuote(png + ".rgb"));
    const std::string rgb = ReadFile(png + ".rgb");
    return rgb.size() == 1280u * 1024u * 3u ? rgb : "";
}

// Pixels of the 500 x 500 window at (500, 200) whose dominant channel is `channel` by a clear
// margin (shading scales all three channels alike, so the hue survives it); channel 3 counts
// white pixels.
struct HueCount {
    int count = 0;
    double sumX = 0;
    double cx() const { return count ? sumX / count : 0; }
};

HueCount CountHue(const std::string& img, int channel) {
    HueCount h;
    for (int y = 200; y < 700; ++y)
        for (int x = 500; x < 1000; ++x) {
            const auto* p = reinterpret_cast<const uint8_t*>(&img[3 * (size_t(y) * 1280 + x)]);
            const bool hit = channel == 3
                                 ? p[0] == 255 && p[1] == 255 && p[2] == 255
                                 : p[channel] > p[(channel + 1) % 3] + 40 && p[channel] > p[(channel + 2) % 3] + 40;
            h.count += hit;
            h.sumX += hit ? x : 0;
        }
    return h;
}

ProcessResult Shoot(const std::string& dir, const std::string& actions, const std::string& shot,
                    const std::string& args = "-c run.cfg -v stored.txt") {
    return RunCommand("SCREENSHOT_DELAY=3 ACTIONS=" + ShellQuote(actions) + " " + kSource +
                      "/tests/support/xvfb-screenshot.sh " + ShellQuote(shot) + " " + ShellQuote(dir) + " " +
                      DENSEPACK_EXE + " " + args);
}

class ViewWindow : public ::testing::Test {
 protected:
    void SetUp() override {
        if (RunCommand("command -v xvfb-run && command -v import && command -v xdotool").status != 0)
            GTEST_SKIP() << "xvfb-run, ImageMagick or xdotool missing";
    }
};

TEST_F(ViewWindow, DrawsEveryTypeInItsColourAndFollowsTheKeysAndTheMouse) {
    const std::string dir = ViewerDir("view");
    const std::string before = dir + "/before.png", zoomed = dir + "/zoomed.png", turned = dir + "/turned.png";
    // "g" writes the placement, "e" exports it, "s" prints the report. Then 200 px to the left
    // with the right button: zoom 2, the eye twice as far away; then 400 px to the left with
    // the left button: two radians about the vertical axis.
    const ProcessResult r =
        Shoot(dir,
              "import -window root " + ShellQuote(before) +
                  " && xdotool mousemove 750 450 sleep 0.2 key g sleep 0.5 key e sleep 0.5 key s"
                  " && xdotool mousemove 900 450 mousedown 3 sleep 0.3 mousemove 700 450 sleep 0.3 mouseup 3"
                  " && sleep 1 && import -window root " +
                  ShellQuote(zoomed) +
                  " && xdotool mousemove 950 450 mousedown 1 sleep 0.3 mousemove 550 450 sleep 0.3 mouseup 1",
              turned);
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(turned + ".stdout") << ReadFile(turned + ".stderr");

    const std::string a = Load(before), b = Load(zoomed), c = Load(turned);
    ASSERT_FALSE(a.empty() || b.empty() || c.empty());
    const HueCount red = CountHue(a, 0), green = CountHue(a, 1), blue = CountHue(a, 2);
    EXPECT_GT(red.count, 200) << "cubes missing";
    EXPECT_GT(green.count, 100) << "tetrahedra missing";
    EXPECT_GT(blue.count, 200) << "container missing";
    // Cubes left of the centre, tetrahedra right, the container in the middle; most of the
    // window is untouched white background.
    EXPECT_LT(red.cx(), 720);
    EXPECT_GT(green.cx(), 780);
    EXPECT_NEAR(blue.cx(), 750, 15);
    EXPECT_GT(CountHue(a, 3).count, 500 * 500 * 3 / 4);
    // Twice the distance: about a quarter of the area. Then the eye swings round the vertical
    // axis: the cubes move sideways on the screen.
    const HueCount redB = CountHue(b, 0), redC = CountHue(c, 0);
    EXPECT_LT(redB.count, red.count * 0.5) << red.count << " -> " << redB.count;
    ASSERT_GT(redB.count, 0);
    ASSERT_GT(redC.count, 0);
    EXPECT_GT(std::abs(redC.cx() - redB.cx()), 20.0) << redB.cx() << " -> " << redC.cx();

    EXPECT_NE(ReadFile(turned + ".stdout").find("### Auto packing info ###"), std::string::npos);
    // "g": the program's own loader reads the file back with all four objects, at the poses
    // shown (written in "%g" form, so compared as numbers).
    const ProcessResult back = RunCommand(std::string(DENSEPACK_EXE) + " --headless -c run.cfg -v testFile.txt", dir);
    EXPECT_EQ(back.status, 0) << back.out << back.err;
    EXPECT_NE(back.out.find("Placed objects: 4"), std::string::npos) << back.out;
    std::istringstream written(ReadFile(dir + "/testFile.txt")), shown(kPlacement);
    float u = 0, v = 0;
    int numbers = 0;
    for (; shown >> v; ++numbers) {
        ASSERT_TRUE(written >> u) << "number " << numbers;
        EXPECT_NEAR(u, v, 1e-5f) << "number " << numbers;
    }
    EXPECT_EQ(numbers, 4 * 49);
    // "e": container (12 triangles), two cubes (12 each), two tetrahedra (4 each).
    PackingGeometry exported;
    ASSERT_EQ(LoadOBJ(&exported, (dir + "/packing.obj").c_str()), 0);
    EXPECT_EQ(exported.m_numVertices / 3, 12u + 2 * 12u + 2 * 4u);
}

// Run mode on a small grid of interior points: the objects appear while the placement runs.
TEST_F(ViewWindow, RunModeShowsTheObjectsBeingPlaced) {
    const std::string dir = ViewerDir("run-window");
    std::string points;
    for (int i = 0; i < 125; ++i)
        points +=
            std::to_string(i % 5 - 2) + " " + std::to_string(i / 5 % 5 - 2) + " " + std::to_string(i / 25 - 2) + "\n";
    WriteFile(dir + "/points.txt", points);
    const std::string shot = dir + "/shot.png";
    // "c" hides the container so the objects show in their own colours.
    // The window's title shows the phase at work.
    const std::string tree = dir + "/windows.txt";
    const ProcessResult r =
        Shoot(dir, "xdotool mousemove 750 450 sleep 0.2 key c && xwininfo -root -tree > " + ShellQuote(tree), shot,
              "-c run.cfg --seed 3");
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(shot + ".stderr");
    EXPECT_NE(ReadFile(shot + ".stdout").find("Construction Run"), std::string::npos);
    EXPECT_NE(ReadFile(tree).find("\"densepack: Placement: "), std::string::npos) << ReadFile(tree);
    const std::string img = Load(shot);
    ASSERT_FALSE(img.empty());
    const HueCount red = CountHue(img, 0), green = CountHue(img, 1);
    EXPECT_GT(red.count + green.count, 50) << "no objects drawn";
    EXPECT_EQ(CountHue(img, 2).count, 0) << "container still drawn after \"c\"";
    // Everything stays within the container's square around the window centre.
    EXPECT_NEAR((red.sumX + green.sumX) / (red.count + green.count), 750, 60);
}

// Width in pixels of the box around everything in the window that is not white background.
int DrawnWidth(const std::string& img) {
    int lo = 1000, hi = 499;
    for (int y = 200; y < 700; ++y)
        for (int x = 500; x < 1000; ++x) {
            const auto* p = reinterpret_cast<const uint8_t*>(&img[3 * (size_t(y) * 1280 + x)]);
            if (p[0] == 255 && p[1] == 255 && p[2] == 255) continue;
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
    return hi - lo + 1;
}

// The start camera shows the scene small in the middle; "f" and --frame fill the window with it.
TEST_F(ViewWindow, KeyFAndTheFrameOptionFillTheWindowWithThePacking) {
    const std::string dir = ViewerDir("frame");
    const std::string start = dir + "/start.png", keyed = dir + "/keyed.png", framed = dir + "/framed.png";
    const ProcessResult r =
        Shoot(dir, "import -window root " + ShellQuote(start) + " && xdotool mousemove 750 450 sleep 0.2 key f", keyed);
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(keyed + ".stderr");
    const ProcessResult f = Shoot(dir, "", framed, "-c run.cfg -v stored.txt --frame");
    ASSERT_EQ(f.status, 0) << f.out << f.err << ReadFile(framed + ".stderr");

    const std::string a = Load(start), b = Load(keyed), c = Load(framed);
    ASSERT_FALSE(a.empty() || b.empty() || c.empty());
    EXPECT_LT(DrawnWidth(a), 250) << "the start camera moved";
    EXPECT_GT(DrawnWidth(b), 250) << "\"f\" did not frame the packing";
    EXPECT_GT(DrawnWidth(c), 250) << "--frame did not frame the packing";
    EXPECT_LT(DrawnWidth(c), 500) << "framed too close: the packing is cut at the window's edges";
    // Every object is still there after framing (the colours of all three kinds show).
    for (const std::string* img : {&b, &c})
        for (int channel = 0; channel < 3; ++channel) EXPECT_GT(CountHue(*img, channel).count, 100) << channel;
}

TEST_F(ViewWindow, MissingShadersEndStartUpWithTheirMessages) {
    // The program's own status is kept in a file: xvfb-run now and then ends with a status of
    // its own when it cannot remove its temporary directory.
    const std::string dir = ViewerDir("view-noshaders", false);
    const ProcessResult r = RunCommand(
        "xvfb-run -a -s '-screen 0 1280x1024x24' sh -c '\"$0\" -c run.cfg -v "
        "stored.txt; echo $? >status.txt' " +
            std::string(DENSEPACK_EXE),
        dir);
    EXPECT_EQ(ReadFile(dir + "/status.txt"), "1\n") << r.out << r.err;
    for (const char* line : {"Failed to open shaders/Object.vert", "Shader shaders/Object.vert failed to compile",
                             "Shaders failed to link!"})
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("cannot build the shader program"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Loading packing file"), std::string::npos) << "start-up went on";
}

}  // namespace
