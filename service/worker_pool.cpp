#include "service/worker_pool.h"

#include <boost/asio/post.hpp>

namespace service {

WorkerPool::WorkerPool(int threads, int maxQueued) : pool(threads), limit(threads + maxQueued) {}

WorkerPool::~WorkerPool() {
    Join();
}

bool WorkerPool::TrySubmit(std::function<void()> job) {
    if (pending.fetch_add(1) >= limit) {
        pending.fetch_sub(1);
        return false;
    }
    boost::asio::post(pool, [this, job = std::move(job)] {
        job();
        pending.fetch_sub(1);
    });
    return true;
}

void WorkerPool::Join() {
    pool.join();
}

}  // namespace service
