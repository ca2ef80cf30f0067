#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace tolvane::net {

// Every socket worker of the process runs here, with a small stack, so that shutdown can join
// them all. A worker that has done its work parks for a while and takes the next: creating and
// ending a thread for each piece of work cost more than the work.
class WorkerThreads {
public:
    // A parked worker renames itself so that `ps -L` and the tests tell it from a busy one.
    static constexpr const char* kParkedName = "parked worker";
    static constexpr const char* kBusyName = "worker";
    static constexpr std::chrono::seconds kParkedLifetime{5};

    static WorkerThreads& Instance();

    bool Start(std::function<void()> body);
    // Waits until every started body has ended, ends the parked workers and joins every thread.
    // Callers close their sockets first.
    void JoinAll();
    // Bodies started and not yet ended.
    std::size_t Running() const;

private:
    // Start hands a body over to a parked worker through it.
    struct Parked {
        std::condition_variable handedOver;
        std::function<void()> body;
    };

    WorkerThreads() = default;
    static void* Entry(void* task);
    void Serve(std::function<void()> body);
    bool AwaitNextBody(std::unique_lock<std::mutex>& lock, std::function<void()>& body);
    void JoinFinished(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Parked>> parked_;  // the most recently parked last: it is handed the next body
    std::size_t running_ = 0;
    std::size_t threads_ = 0;
    bool retiring_ = false;
    std::vector<pthread_t> finished_;
};

}  // namespace tolvane::net
