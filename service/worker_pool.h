// The recognition workers: a fixed set of threads apart from the I/O threads, with a bounded
// number of jobs waiting, so that a flood of pictures is refused instead of queued forever.
#pragma once

#include <atomic>
#include <boost/asio/thread_pool.hpp>
#include <functional>

namespace service {

class WorkerPool {
  public:
    // threads workers; up to maxQueued jobs wait beyond the ones being worked on.
    WorkerPool(int threads, int maxQueued);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs job on a worker; false, and job not run, when the queue is full.
    bool TrySubmit(std::function<void()> job);
    // Waits for every job taken to end.
    void Join();

  private:
    boost::asio::thread_pool pool;
    std::atomic<int> pending{0};  // waiting and running
    const int limit;
};

}  // namespace service
