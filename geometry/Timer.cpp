#include "geometry/Timer.h"

#include <chrono>

namespace Packing {

namespace {
int64_t NowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

void Timer::Start() { m_start = NowNs(); }

double Timer::Elapsed() {
    m_elapsed = static_cast<double>(NowNs() - m_start) / 1000000.0;
    return m_elapsed;
}

}  // namespace Packing
