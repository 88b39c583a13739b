// The progress reporter on a clock the test moves: how often it writes in a log and on a
// terminal, what a line says, the closing line, counters, Tick, and updates from many threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "geometry/Progress.h"

namespace {

using Packing::Progress;
using Packing::ProgressSettings;

struct FakeClock {
    std::atomic<int64_t> ms{0};
    ProgressSettings Settings(std::ostream& out, bool inPlace, double interval) {
        ProgressSettings s;
        s.out = &out;
        s.inPlace = inPlace;
        s.interval = interval;
        s.clock = [this] { return static_cast<double>(ms.load()) / 1000.0; };
        return s;
    }
};

size_t Lines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

TEST(Progress, LogGetsAtMostOneLinePerIntervalThenAClosingLine) {
    FakeClock clock;
    std::ostringstream out;
    std::atomic<int64_t> timeouts{7};
    {
        Progress p(clock.Settings(out, false, 5.0));
        p.begin("Sampling", 200, "points", true);
        p.track("time-outs", &timeouts);
        for (int t = 0; t < 12000; t += 100) {  // an update every 0.1 s for 12 s
            clock.ms = t;
            if (t == 6000) timeouts = 9;
            p.update(static_cast<uint64_t>(t / 100), t == 5000 ? "placed 3" : "");
        }
        EXPECT_EQ(Lines(out.str()), 2u) << out.str();  // at 5 s and at 10 s
        clock.ms = 12500;
    }  // the destructor closes the phase
    const std::string s = out.str();
    EXPECT_EQ(Lines(s), 3u) << s;
    EXPECT_NE(s.find("Sampling: 50/200 points (25 %), placed 3, time-outs 0, 5.0 s, about 15 s left\n"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("Sampling: 119/200 points, placed 3, time-outs 2, done in 12 s\n"), std::string::npos) << s;
    EXPECT_EQ(s.find('\r'), std::string::npos);
}

TEST(Progress, TerminalRedrawsOneLineInPlaceAndTickKeepsALongStepAlive) {
    FakeClock clock;
    std::ostringstream out;
    Progress p(clock.Settings(out, true, 0.25));
    p.begin("Compaction", 0, "objects");  // no total: no percentage, no estimate
    EXPECT_EQ(out.str(), "\r\x1b[KCompaction: 0 objects, 0.0 s");
    clock.ms = 100;
    p.update(1);  // within the interval: nothing
    EXPECT_EQ(out.str(), "\r\x1b[KCompaction: 0 objects, 0.0 s");
    // A loop without a count of its own: one of every 64 ticks reads the clock and redraws.
    clock.ms = 300;
    for (int i = 0; i < 64; ++i) Progress::Tick();
    EXPECT_EQ(out.str(), "\r\x1b[KCompaction: 0 objects, 0.0 s\r\x1b[KCompaction: 1 objects, 0.3 s");
    clock.ms = 61000;
    p.end("added 4");
    EXPECT_EQ(Lines(out.str()), 1u);
    EXPECT_NE(out.str().find("\r\x1b[KCompaction: 1 objects, added 4, done in 1 min 01 s\n"), std::string::npos);
    p.end();  // a closed phase says nothing more
    Progress::Tick();
    EXPECT_EQ(Lines(out.str()), 1u);
}

TEST(Progress, WorkersReportingOutOfOrderKeepTheLargestCountAndTheInterval) {
    FakeClock clock;
    std::ostringstream out;
    Progress p(clock.Settings(out, false, 1.0));
    p.begin("Sampling", 40000, "points");
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < 10000; ++i) {
                clock.ms += 1;  // 40 s of fake time in all
                p.update(static_cast<uint64_t>(i * 4 + w + 1));
            }
        });
    for (std::thread& t : workers) t.join();
    p.end();
    EXPECT_LE(Lines(out.str()), 41u) << out.str();
    EXPECT_GE(Lines(out.str()), 30u);
    EXPECT_NE(out.str().find("Sampling: 40000/40000 points, done in 40 s\n"), std::string::npos) << out.str();
}

TEST(Progress, SecondsReadAsAPersonWouldSayThem) {
    EXPECT_EQ(Packing::FormatSeconds(3.14), "3.1 s");
    EXPECT_EQ(Packing::FormatSeconds(59.9), "59 s");
    EXPECT_EQ(Packing::FormatSeconds(245), "4 min 05 s");
    EXPECT_EQ(Packing::FormatSeconds(7390), "2 h 03 min");
}

}  // namespace
