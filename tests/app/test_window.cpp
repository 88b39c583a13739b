// The window path under a virtual X server: the window opens, passes the OpenGL 3.0 check
// and shows the white clear colour where nothing is drawn.

#include <gtest/gtest.h>

#include <string>

#include "support/Ppm.h"
#include "support/Subprocess.h"

namespace {

bool HaveXvfb() { return RunCommand("command -v xvfb-run && command -v import && command -v xdotool").status == 0; }

TEST(Window, OpensAndClearsToWhite) {
    if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run, ImageMagick or xdotool missing (tools/setup-deps.sh installs them)";
    const std::string dir = MakeTempDir("window");
    WriteFile(dir + "/run.cfg",
              "[Construction Heuristic]\nPlacementAlgorithm\n[Preprocessing]\npoints.txt smallest 0.5 1\n"
              "[ModelPath]\n" DENSEPACK_SOURCE_DIR "/tests/app/data/\n[Container]\nbox 0.8 0.8 0.8 0.2\n"
              "[Objects]\ncube 100 rand 1.0\n");
    WriteFile(dir + "/points.txt", "0 0 0\n");
    const std::string shot = dir + "/shot.png";
    ProcessResult r = RunCommand(std::string(DENSEPACK_SOURCE_DIR) + "/tests/support/xvfb-screenshot.sh " +
                                 ShellQuote(shot) + " " + ShellQuote(dir) + " " + DENSEPACK_EXE + " -c run.cfg");
    ASSERT_EQ(r.status, 0) << r.out << r.err << ReadFile(shot + ".stderr");
    ASSERT_EQ(RunCommand("convert " + ShellQuote(shot) + " " + ShellQuote(dir + "/shot.ppm")).status, 0);
    Image img = ReadPpm(dir + "/shot.ppm");
    ASSERT_TRUE(img.valid());
    ASSERT_EQ(img.width, 1280);

    // The 500 x 500 window sits at (500, 200); no window manager runs, so no decorations.
    int white = 0, total = 0;
    for (int y = 210; y < 690; y += 10)
        for (int x = 510; x < 990; x += 10) {
            const uint8_t* p = img.at(x, y);
            white += (p[0] == 255 && p[1] == 255 && p[2] == 255);
            ++total;
        }
    EXPECT_EQ(white, total) << "window area not white";
    const uint8_t* outside = img.at(100, 100);
    EXPECT_FALSE(outside[0] == 255 && outside[1] == 255 && outside[2] == 255) << "the root window is not the window";
}

}  // namespace
