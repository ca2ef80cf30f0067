#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace tolvane::net {

// Every socket worker of the process is started here, with a small stack, so that shutdown can
// join them all: a worker that ends parks its handle, and the next start or JoinAll joins it.
class WorkerThreads {
public:
    static WorkerThreads& Instance();

    bool Start(std::function<void()> body);
    // Waits until every started worker has ended and joins it. Callers close their sockets first.
    void JoinAll();
    std::size_t Running() const;

private:
    WorkerThreads() = default;
    static void* Entry(void* task);
    void MarkFinished(pthread_t thread);
    void JoinFinished(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable allEnded_;
    std::size_t running_ = 0;
    std::vector<pthread_t> finished_;
};

}  // namespace tolvane::net
