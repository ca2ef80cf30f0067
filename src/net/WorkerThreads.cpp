#include "net/WorkerThreads.h"

#include <algorithm>
#include <malloc.h>
#include <memory>
#include <signal.h>

namespace tolvane::net {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kWorkerStackSize = 4 * 1024 * 1024;
#else
constexpr std::size_t kWorkerStackSize = 256 * 1024;
#endif

class ThreadAttributes {
public:
    ThreadAttributes() {
        pthread_attr_init(&attributes_);
        pthread_attr_setstacksize(&attributes_, kWorkerStackSize);
    }
    ~ThreadAttributes() { pthread_attr_destroy(&attributes_); }
    ThreadAttributes(const ThreadAttributes&) = delete;
    ThreadAttributes& operator=(const ThreadAttributes&) = delete;
    const pthread_attr_t* Get() const { return &attributes_; }

private:
    pthread_attr_t attributes_{};
};

struct Task {
    std::function<void()> body;
    WorkerThreads* owner;
};

}  // namespace

WorkerThreads& WorkerThreads::Instance() {
    static WorkerThreads instance;
    return instance;
}

bool WorkerThreads::Start(std::function<void()> body) {
    std::unique_lock lock(mutex_);
    if (!parked_.empty() && !retiring_) {
        const std::shared_ptr<Parked> worker = std::move(parked_.back());
        parked_.pop_back();
        worker->body = std::move(body);
        ++running_;
        // Woken under the lock, the worker would at once block on it again.
        lock.unlock();
        worker->handedOver.notify_one();
        return true;
    }
    JoinFinished(lock);
    static const ThreadAttributes attributes;
    auto task = std::make_unique<Task>(Task{std::move(body), this});
    pthread_t thread{};
    if (pthread_create(&thread, attributes.Get(), &WorkerThreads::Entry, task.get()) != 0) return false;
    task.release();
    ++threads_;
    ++running_;
    return true;
}

// Workers keep SIGPIPE blocked: sendfile has no MSG_NOSIGNAL, and a download to a peer that has
// just gone must end in EPIPE, not in the end of the process.
void* WorkerThreads::Entry(void* raw) {
    std::unique_ptr<Task> task(static_cast<Task*>(raw));
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    task->owner->Serve(std::move(task->body));
    return nullptr;
}

void WorkerThreads::Serve(std::function<void()> body) {
    std::unique_lock lock(mutex_, std::defer_lock);
    do {
        body();
        body = nullptr;  // whatever the body captured is gone before it counts as ended
        lock.lock();
        --running_;
        changed_.notify_all();
    } while (AwaitNextBody(lock, body));
    // An ended thread keeps its stack until joined: the last to leave joins those before it.
    std::vector<pthread_t> before;
    before.swap(finished_);
    finished_.push_back(pthread_self());
    --threads_;
    changed_.notify_all();
    lock.unlock();
    for (pthread_t thread : before) pthread_join(thread, nullptr);
}

bool WorkerThreads::AwaitNextBody(std::unique_lock<std::mutex>& lock, std::function<void()>& body) {
    if (retiring_) return false;
    // Shared with Start, which wakes it after letting go of the lock.
    const auto self = std::make_shared<Parked>();
    parked_.push_back(self);
    // Only now: a thread that shows as parked is one that Start can hand the next body.
    pthread_setname_np(pthread_self(), kParkedName);
    self->handedOver.wait_for(lock, kParkedLifetime, [&] { return self->body || retiring_; });
    if (!self->body) {
        std::erase(parked_, self);
        if (parked_.empty() && !retiring_) {
            // The last of a crowd's workers: hand what the crowd freed back to the system.
            lock.unlock();
            malloc_trim(0);
            lock.lock();
        }
        return false;
    }
    body = std::move(self->body);
    lock.unlock();
    pthread_setname_np(pthread_self(), kBusyName);
    return true;
}

void WorkerThreads::JoinFinished(std::unique_lock<std::mutex>& lock) {
    std::vector<pthread_t> ended;
    ended.swap(finished_);
    lock.unlock();
    for (pthread_t thread : ended) pthread_join(thread, nullptr);
    lock.lock();
}

void WorkerThreads::JoinAll() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return running_ == 0; });
    retiring_ = true;
    for (const auto& worker : parked_) worker->handedOver.notify_one();
    changed_.wait(lock, [this] { return threads_ == 0; });
    JoinFinished(lock);
    retiring_ = false;
}

std::size_t WorkerThreads::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

}  // namespace tolvane::net
