#pragma once
/// @file Progress.h
/// What a run says while it works, beside its report: the progress of its long phases on standard
/// error, and whether the heuristics print their per-iteration lines on standard output (not under
/// `--quiet`). Standard output never carries progress, so scripts that parse it see the same bytes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Packing {

/// Under `--quiet` the heuristics leave out their per-iteration lines (the compaction's
/// "Counter : " block, the hybrid's per-cell lines, the batch heuristics' per-batch lines); the
/// report and the per-phase lines stay. Set once by start-up, read from any thread.
void SetQuiet(bool quiet);
bool Quiet();

/// How a reporter writes.
struct ProgressSettings {
    std::ostream* out = nullptr;    ///< null: standard error
    bool inPlace = false;           ///< one line redrawn with '\r' (a terminal) instead of a line per report
    double interval = 5.0;          ///< seconds at least between two lines or redraws
    std::function<double()> clock;  ///< seconds on a steady clock; empty: std::chrono::steady_clock
};

/// Standard error; in place every 0.25 s when it is a terminal, otherwise one line every 5 s.
ProgressSettings DefaultProgressSettings();

/// Reports one phase at a time: begin, any number of updates from any thread, end (also by the
/// destructor). Lines look like
///     Sampling: 12000/27000 points (44 %), 3.1 s, about 4 s left
///     Compaction: 90/2197 points (4 %), added 2, time-outs 0, 35 s
/// and end() writes one closing line, "…, done in 95 s", in either mode. Between begin and end at
/// most one line per interval is written, never more, however often update() is called.
class Progress {
 public:
    Progress();
    explicit Progress(ProgressSettings settings);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Starts a phase of `total` units (0: the total is not known). The remaining time is estimated
    /// (elapsed · (total − done) / done) only with `estimateRemaining`: it is honest only where
    /// every unit costs about the same.
    void begin(std::string phase, uint64_t total = 0, std::string unit = "", bool estimateRemaining = false);
    /// Shows `counter` − its value at this call as "label N" on every later line (say, the
    /// relaxations that reached their limit during the phase).
    void track(std::string label, const std::atomic<int64_t>* counter);
    /// `done` units so far (the largest value given counts, so workers may report out of order);
    /// `extra` replaces the text after the count when not empty. Thread-safe; reads the clock once
    /// and takes no lock unless a line is due or `extra` is given.
    void update(uint64_t done, std::string_view extra = {});
    /// Closes the phase with its last figures (and `extra`, when not empty); nothing when no phase is open.
    void end(std::string_view extra = {});

    /// Redraws the open phase of the reporter begun last, with its last figures and the time so
    /// far, once its interval has passed. Loops that have no count of their own (a relaxation)
    /// call it every iteration, so a phase stuck in one long step still shows it is alive; it reads
    /// the clock only every 64th call. Call it on the thread that ends the phase.
    static void Tick();
    /// The line of the phase begun or drawn last by any reporter, for a window title; empty before
    /// the first. Thread-safe.
    static std::string Status();

 private:
    double Now() const;
    std::string Line(double now, bool closing) const;
    void Draw(double now, bool closing);
    void Refresh();

    struct Tracked {
        std::string label;
        const std::atomic<int64_t>* counter;
        int64_t start;
    };

    ProgressSettings m_settings;
    std::mutex m_mutex;  ///< guards everything below but the atomics
    std::string m_phase, m_unit, m_extra;
    std::vector<Tracked> m_tracked;
    uint64_t m_total = 0;
    bool m_estimate = false;
    double m_start = 0.0;
    std::atomic<bool> m_open{false};
    std::atomic<uint64_t> m_done{0};
    std::atomic<double> m_nextDraw{0.0};
};

/// "12 s", "3.1 s", "4 min 05 s", "2 h 03 min".
std::string FormatSeconds(double seconds);

}  // namespace Packing
