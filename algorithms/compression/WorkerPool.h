#pragma once
/// @file WorkerPool.h
/// Threads that live as long as their pool and run one batch of tasks at a time: the caller hands
/// over `count` tasks and works on them too, and ForEach returns once every task is done. The
/// compression runs several such batches per sweep, so a worker waits for the next one by spinning
/// briefly before it sleeps (starting a thread per batch cost more than the batch at 10,000 bodies).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Packing::compression {

class WorkerPool {
 public:
    /// `threads` in all, the caller's included: 1 or less starts no thread, and every batch then runs
    /// in the caller's thread.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int Threads() const { return static_cast<int>(m_workers.size()) + 1; }

    /// Calls task(k, worker) once for every k in [0, count), spread over the threads in no fixed
    /// order (`worker` in [0, Threads()) names the thread, for its scratch). Tasks must not depend
    /// on each other. Not reentrant.
    void ForEach(size_t count, const std::function<void(size_t k, int worker)>& task);

 private:
    void Work(int worker);
    void Drain(int worker);

    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void(size_t, int)>* m_task = nullptr;
    size_t m_count = 0;
    std::atomic<size_t> m_next{0};
    std::atomic<uint64_t> m_batch{0};  ///< batches started: a worker that saw this change has work
    int m_busy = 0;                    ///< workers still in the current batch
    bool m_stop = false;
};

}  // namespace Packing::compression
