#pragma once
// Static-chunk parallel loop. Each index is handled by exactly one call and writes only its
// own output slot, so results do not depend on the thread count.
#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace spheres {

template <class Fn>
void ParallelFor(size_t count, int threads, Fn&& fn) {
    const size_t workers = std::min<size_t>(std::max(threads, 1), std::max<size_t>(count / 256, 1));
    if (workers <= 1) {
        for (size_t i = 0; i < count; ++i) fn(i);
        return;
    }
    std::vector<std::thread> pool;
    pool.reserve(workers);
    for (size_t w = 0; w < workers; ++w) {
        pool.emplace_back([&, w] {
            // Interleaved blocks balance work that is uneven across space.
            for (size_t start = w * 64; start < count; start += workers * 64)
                for (size_t i = start; i < std::min(count, start + 64); ++i) fn(i);
        });
    }
    for (auto& t : pool) t.join();
}

}  // namespace spheres
