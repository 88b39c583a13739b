#include "algorithms/compression/WorkerPool.h"

namespace Packing::compression {
namespace {

// Polls before a waiting thread sleeps: batches of a sweep follow each other within microseconds,
// and a wake-up from sleep costs tens of them.
constexpr int kSpins = 4000;

}  // namespace

WorkerPool::WorkerPool(int threads) {
    for (int w = 1; w < threads; ++w) m_workers.emplace_back([this, w] { Work(w); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_batch.fetch_add(1, std::memory_order_release);
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers) t.join();
}

void WorkerPool::Drain(int worker) {
    const auto& task = *m_task;
    for (size_t k = m_next.fetch_add(1, std::memory_order_relaxed); k < m_count;
         k = m_next.fetch_add(1, std::memory_order_relaxed))
        task(k, worker);
}

void WorkerPool::ForEach(size_t count, const std::function<void(size_t, int)>& task) {
    if (m_workers.empty() || count <= 1) {
        for (size_t k = 0; k < count; ++k) task(k, 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_task = &task;
        m_count = count;
        m_next.store(0, std::memory_order_relaxed);
        m_busy = static_cast<int>(m_workers.size());
        m_batch.fetch_add(1, std::memory_order_release);
    }
    m_wake.notify_all();
    Drain(0);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return m_busy == 0; });
    m_task = nullptr;
}

void WorkerPool::Work(int worker) {
    uint64_t seen = 0;
    while (true) {
        // A new batch, found by polling first and sleeping only when none comes soon.
        uint64_t batch = m_batch.load(std::memory_order_acquire);
        for (int spin = 0; batch == seen && spin < kSpins; ++spin) {
            std::this_thread::yield();
            batch = m_batch.load(std::memory_order_acquire);
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [&] { return m_batch.load(std::memory_order_relaxed) != seen; });
        seen = m_batch.load(std::memory_order_relaxed);
        if (m_stop) return;
        lock.unlock();
        Drain(worker);
        lock.lock();
        if (--m_busy == 0) m_done.notify_one();
    }
}

}  // namespace Packing::compression
