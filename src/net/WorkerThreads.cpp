#include "net/WorkerThreads.h"

#include <memory>

namespace tolvane::net {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kWorkerStackSize = 4 * 1024 * 1024;
#else
constexpr std::size_t kWorkerStackSize = 256 * 1024;
#endif

struct Task {
    std::function<void()> body;
    WorkerThreads* owner;
};

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

}  // namespace

WorkerThreads& WorkerThreads::Instance() {
    static WorkerThreads instance;
    return instance;
}

bool WorkerThreads::Start(std::function<void()> body) {
    auto task = std::make_unique<Task>(Task{std::move(body), this});
    std::unique_lock lock(mutex_);
    JoinFinished(lock);
    static const ThreadAttributes attributes;
    pthread_t thread{};
    if (pthread_create(&thread, attributes.Get(), &WorkerThreads::Entry, task.get()) != 0) return false;
    task.release();
    ++running_;
    return true;
}

void* WorkerThreads::Entry(void* raw) {
    WorkerThreads* owner = nullptr;
    {
        std::unique_ptr<Task> task(static_cast<Task*>(raw));
        owner = task->owner;
        task->body();
    }  // the body and whatever it captured are gone before the worker counts as ended
    owner->MarkFinished(pthread_self());
    return nullptr;
}

void WorkerThreads::MarkFinished(pthread_t thread) {
    std::lock_guard lock(mutex_);
    finished_.push_back(thread);
    --running_;
    allEnded_.notify_all();
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
    allEnded_.wait(lock, [this] { return running_ == 0; });
    JoinFinished(lock);
}

std::size_t WorkerThreads::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

}  // namespace tolvane::net
