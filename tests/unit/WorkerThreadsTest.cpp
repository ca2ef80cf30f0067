#include "net/WorkerThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using tolvane::net::WorkerThreads;
using namespace std::chrono_literals;

namespace {

int ParkedThreadsOfThisProcess() {
    int parked = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (name == WorkerThreads::kParkedName) ++parked;
    }
    return parked;
}

// The kernel's thread id: glibc reuses a joined thread's descriptor, and with it std::thread::id.
pid_t RunAndWait(WorkerThreads& workers) {
    std::promise<pid_t> ran;
    auto id = ran.get_future();
    EXPECT_TRUE(workers.Start([&ran] { ran.set_value(::gettid()); }));
    EXPECT_EQ(id.wait_for(5s), std::future_status::ready);
    return id.get();
}

class WorkerThreadsTest : public ::testing::Test {
protected:
    void TearDown() override { workers.JoinAll(); }
    WorkerThreads& workers = WorkerThreads::Instance();
};

TEST_F(WorkerThreadsTest, AnEndedWorkerServesTheNextBodyAndIsEndedByJoinAll) {
    const pid_t first = RunAndWait(workers);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (ParkedThreadsOfThisProcess() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(ParkedThreadsOfThisProcess(), 1);
    EXPECT_EQ(RunAndWait(workers), first);

    workers.JoinAll();
    EXPECT_EQ(workers.Running(), 0u);
    EXPECT_EQ(ParkedThreadsOfThisProcess(), 0);
    EXPECT_NE(RunAndWait(workers), first) << "a new thread after JoinAll";
}

// A body that waits for the others must never be queued behind a busy worker.
TEST_F(WorkerThreadsTest, BodiesStartedAtOnceRunTogetherWhetherWorkersAreParkedOrNew) {
    for (int round = 0; round < 3; ++round) {
        constexpr int kBodies = 40;
        std::latch allRunning(kBodies);
        std::atomic<int> ended{0};
        for (int i = 0; i < kBodies; ++i) {
            ASSERT_TRUE(workers.Start([&] {
                allRunning.count_down();
                allRunning.wait();
                ++ended;
            }));
        }
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (ended.load() < kBodies && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(ended.load(), kBodies) << "round " << round;
        while (workers.Running() != 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    }
}

}  // namespace
