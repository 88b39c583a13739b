#include "geometry/Progress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <utility>

namespace Packing {

namespace {

std::atomic<bool> g_quiet{false};
std::atomic<Progress*> g_current{nullptr};

std::mutex g_statusMutex;
std::string g_status;  // guarded by g_statusMutex

void SetStatus(std::string line) {
    std::lock_guard<std::mutex> lock(g_statusMutex);
    g_status = std::move(line);
}

constexpr double kTerminalInterval = 0.25;
constexpr double kLogInterval = 5.0;
constexpr unsigned kTickStride = 64;  // calls of Tick per clock reading
constexpr const char* kEraseLine = "\r\x1b[K";

// Standard output and an in-place progress line share one terminal: every write to std::cout
// first wipes the standing line, so the output starts at the left margin and the line does not
// trail after it; the next redraw puts the line back below. Installed only when both streams are
// the same terminal, so a redirected standard output stays untouched.
std::mutex g_terminalMutex;
bool g_lineStanding = false;  // guarded by g_terminalMutex

void EraseStandingLine() {
    if (!g_lineStanding) return;
    std::fputs(kEraseLine, stderr);
    std::fflush(stderr);
    g_lineStanding = false;
}

class WipingBuffer : public std::streambuf {
 public:
    explicit WipingBuffer(std::streambuf* target) : m_target(target) {}

 protected:
    int overflow(int c) override {
        std::lock_guard<std::mutex> lock(g_terminalMutex);
        EraseStandingLine();
        return c == traits_type::eof() ? traits_type::not_eof(c) : m_target->sputc(static_cast<char>(c));
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(g_terminalMutex);
        EraseStandingLine();
        return m_target->sputn(s, n);
    }
    int sync() override { return m_target->pubsync(); }

 private:
    std::streambuf* m_target;
};

bool SameTerminal() {
    return isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1 &&
           std::string(ttyname(STDOUT_FILENO) ? ttyname(STDOUT_FILENO) : "") ==
               std::string(ttyname(STDERR_FILENO) ? ttyname(STDERR_FILENO) : "");
}

void GuardStandardOutput() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!SameTerminal()) return;
        // Never freed: std::cout is flushed after every static destructor has run.
        std::cout.rdbuf(new WipingBuffer(std::cout.rdbuf()));
    });
}

std::string Percent(uint64_t done, uint64_t total) {
    const uint64_t shown = done >= total ? 100 : done * 100 / total;
    return std::to_string(shown) + " %";
}

}  // namespace

void SetQuiet(bool quiet) { g_quiet = quiet; }
bool Quiet() { return g_quiet.load(std::memory_order_relaxed); }

ProgressSettings DefaultProgressSettings() {
    ProgressSettings s;
    s.inPlace = isatty(STDERR_FILENO) == 1;
    s.interval = s.inPlace ? kTerminalInterval : kLogInterval;
    return s;
}

std::string FormatSeconds(double seconds) {
    char text[48];
    if (!(seconds >= 0.0)) seconds = 0.0;
    if (seconds < 10.0) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (seconds < 60.0) {
        std::snprintf(text, sizeof text, "%.0f s", std::floor(seconds));
    } else if (seconds < 3600.0) {
        const long s = static_cast<long>(seconds);
        std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
    } else {
        const long m = static_cast<long>(seconds / 60.0);
        std::snprintf(text, sizeof text, "%ld h %02ld min", m / 60, m % 60);
    }
    return text;
}

Progress::Progress() : Progress(DefaultProgressSettings()) {}

Progress::Progress(ProgressSettings settings) : m_settings(std::move(settings)) {
    if (m_settings.out == nullptr) m_settings.out = &std::cerr;
    if (m_settings.inPlace && m_settings.out == &std::cerr) GuardStandardOutput();
}

Progress::~Progress() {
    end();
    Progress* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

double Progress::Now() const {
    if (m_settings.clock) return m_settings.clock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Progress::begin(std::string phase, uint64_t total, std::string unit, bool estimateRemaining) {
    end();
    const double now = Now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_phase = std::move(phase);
        m_unit = std::move(unit);
        m_extra.clear();
        m_tracked.clear();
        m_total = total;
        m_estimate = estimateRemaining;
        m_start = now;
        m_done = 0;
        // On a terminal the phase shows at once; a log gets its first line after one interval.
        m_nextDraw = m_settings.inPlace ? now : now + m_settings.interval;
        m_open = true;
        SetStatus(Line(now, false));
    }
    g_current = this;
    if (m_settings.inPlace) Refresh();
}

void Progress::track(std::string label, const std::atomic<int64_t>* counter) {
    if (counter == nullptr) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tracked.push_back({std::move(label), counter, counter->load()});
}

void Progress::update(uint64_t done, std::string_view extra) {
    if (!m_open.load(std::memory_order_relaxed)) return;
    uint64_t seen = m_done.load(std::memory_order_relaxed);
    while (done > seen && !m_done.compare_exchange_weak(seen, done, std::memory_order_relaxed)) {
    }
    if (!extra.empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_extra.assign(extra);
    }
    Refresh();
}

void Progress::Refresh() {
    const double now = Now();
    if (now < m_nextDraw.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open || now < m_nextDraw) return;  // another thread drew meanwhile
    m_nextDraw = now + m_settings.interval;
    Draw(now, false);
}

void Progress::end(std::string_view extra) {
    if (!m_open.exchange(false)) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!extra.empty()) m_extra.assign(extra);
    Draw(Now(), true);
    Progress* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

void Progress::Tick() {
    static thread_local unsigned calls = 0;
    if (++calls % kTickStride != 0) return;
    if (Progress* p = g_current.load()) p->Refresh();
}

std::string Progress::Line(double now, bool closing) const {
    const uint64_t done = m_done.load(std::memory_order_relaxed);
    const double elapsed = now - m_start;
    std::ostringstream s;
    s << m_phase << ": " << done;
    if (m_total > 0) s << '/' << m_total;
    if (!m_unit.empty()) s << ' ' << m_unit;
    if (m_total > 0 && !closing) s << " (" << Percent(done, m_total) << ')';
    if (!m_extra.empty()) s << ", " << m_extra;
    for (const Tracked& t : m_tracked) s << ", " << t.label << ' ' << t.counter->load() - t.start;
    if (closing) {
        s << ", done in " << FormatSeconds(elapsed);
        return s.str();
    }
    s << ", " << FormatSeconds(elapsed);
    if (m_estimate && m_total > 0 && done > 0 && done < m_total && elapsed >= 1.0) {
        const double left = elapsed * static_cast<double>(m_total - done) / static_cast<double>(done);
        s << ", about " << FormatSeconds(left) << " left";
    }
    return s.str();
}

std::string Progress::Status() {
    std::lock_guard<std::mutex> lock(g_statusMutex);
    return g_status;
}

void Progress::Draw(double now, bool closing) {
    const std::string line = Line(now, closing);
    SetStatus(line);
    std::ostream& out = *m_settings.out;
    if (!m_settings.inPlace) {
        out << line << '\n' << std::flush;
        return;
    }
    std::lock_guard<std::mutex> terminal(g_terminalMutex);
    out << kEraseLine << line;
    if (closing) out << '\n';
    out << std::flush;
    g_lineStanding = !closing && &out == &std::cerr;
}

}  // namespace Packing
