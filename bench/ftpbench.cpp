// The benchmark client: runs the whole sequence against one FTP server and prints one
// "name value" line per figure. bench/compare.py runs it against each server in turn.
//
//   ftpbench --port P --user U --password W --home DIR --pid PID --clients N --tag NAME
//            [--phases single,crowd,rate,list,logins,scale] [--scale-sessions S] [--tls]
//
// DIR is the user's home as the server shows it (big.bin, small.bin, list/ and up/ in it); the
// client reads sizes there and removes what it uploaded. PID is the server's, for its memory.
// With --tls every session is explicit FTPS with protected data, and every figure's name starts
// with "tls_".
#include "FtpClient.h"
#include "IdleCrowd.h"
#include "ProcessTree.h"
#include "TlsContext.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kLargeBuffer = 1 << 20;
constexpr std::size_t kCrowdBuffer = 64 << 10;
constexpr int kLoginAttempts = 3;

struct Options {
    std::uint16_t port = 0;
    std::string user, password, home, tag = "bench";
    pid_t pid = 0;
    int clients = 20;
    int loginThreads = 8;
    double loginSeconds = 10;
    int loginTimeout = 10;
    int timeout = 300;
    std::string phases = "single,crowd,rate,list";  // a subset is for profiling one phase
    int scaleSessions = 0;                          // at most this many idle sessions; 0: the limits decide
    SSL_CTX* tls = nullptr;

    bool Runs(const char* phase) const { return ("," + phases + ",").find("," + std::string(phase) + ",") != std::string::npos; }
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Set once before any thread starts.
std::string metricPrefix;

void Print(const std::string& name, double value) {
    std::printf("%s%s %.6g\n", metricPrefix.c_str(), name.c_str(), value);
    std::fflush(stdout);
}

void PrintMemory(const char* suffix, pid_t server) {
    const auto memory = bench::MemoryOfTree(server);
    Print(std::string("pss_mib") + suffix, static_cast<double>(memory.pssKib) / 1024.0);
    Print(std::string("rss_mib") + suffix, static_cast<double>(memory.rssKib) / 1024.0);
}

// A phase of the run: its wall time, and the client's own processor time beside it so that a
// reader can see the client was not what limited the figure.
// The server's processor time too: on a shared machine it says what a phase cost the server
// better than the wall time does.
class Phase {
public:
    Phase(std::string name, pid_t server)
        : name_(std::move(name)), server_(server), cpu_(CpuSeconds()),
          serverCpu_(bench::CpuSecondsOfTree(server)), started_(Clock::now()) {}
    double End() {
        const double wall = Seconds(started_);
        Print("client_cpu_share_" + name_, wall > 0 ? (CpuSeconds() - cpu_) / wall : 0);
        Print("server_cpu_s_" + name_, bench::CpuSecondsOfTree(server_) - serverCpu_);
        return wall;
    }

private:
    std::string name_;
    pid_t server_;
    double cpu_;
    double serverCpu_;
    Clock::time_point started_;
};

std::vector<char> RandomBlock(std::size_t size) {
    std::vector<char> block(size);
    std::mt19937_64 generator(20261208);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = generator();
        std::memcpy(block.data() + i, &word, 8);
    }
    return block;
}

bool LoginWithRetries(bench::FtpClient& client, const Options& options, std::atomic<int>& retries) {
    for (int attempt = 0; attempt < kLoginAttempts; ++attempt) {
        if (attempt > 0) retries.fetch_add(1);
        if (client.Login(options.user, options.password, options.loginTimeout)) return true;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        const std::string reply = client.LastReply().empty() ? "(no reply: time-out or reset)" : client.LastReply();
        std::printf("note first failed login ended with: %s\n", reply.c_str());
    }
    return false;
}

void SingleTransfers(const Options& options, const char* suffix, const std::vector<char>& block) {
    const std::int64_t size = static_cast<std::int64_t>(fs::file_size(fs::path(options.home) / "big.bin"));
    std::vector<char> buffer(kLargeBuffer);
    bench::FtpClient client("127.0.0.1", options.port, options.timeout, options.tls);
    std::atomic<int> retries{0};
    if (!LoginWithRetries(client, options, retries)) {
        std::printf("error single login failed: %s\n", client.LastReply().c_str());
        return;
    }
    Phase retr(std::string("retr") + suffix, options.pid);
    const std::int64_t got = client.Retrieve("big.bin", buffer.data(), buffer.size());
    const double retrSeconds = retr.End();
    if (got == size) Print(std::string("retr_mbs") + suffix, size / retrSeconds / 1e6);
    else std::printf("error retr%s moved %lld of %lld\n", suffix, static_cast<long long>(got), static_cast<long long>(size));

    const std::string name = "up/" + options.tag + "-big.bin";
    Phase stor(std::string("stor") + suffix, options.pid);
    const std::int64_t put = client.Store(name, block.data(), block.size(), size);
    const double storSeconds = stor.End();
    if (put == size && fs::file_size(fs::path(options.home) / name) == static_cast<std::uintmax_t>(size))
        Print(std::string("stor_mbs") + suffix, size / storSeconds / 1e6);
    else std::printf("error stor%s: %s\n", suffix, client.LastReply().c_str());
    fs::remove(fs::path(options.home) / name);
    if (options.tls && *suffix == '\0') std::printf("tls %s\n", client.TlsSummary().c_str());
    client.Quit();
}

// One thing every client of a crowd does at the same moment: released together, timed to the
// last one done ("NAME_s"), with the clients whose part failed ("NAME_failures"). After runs
// in the main thread once the step is over, with the crowd waiting.
struct CrowdStep {
    std::string name;
    std::function<bool(bench::FtpClient& client, int index, std::vector<char>& buffer)> act;
    std::function<void()> after;
};

// N clients, each on a thread of its own, log in at once ("login"), and then take the steps
// together; clients that never logged in sit the steps out.
void RunCrowd(const Options& options, std::size_t bufferSize, const std::vector<CrowdStep>& steps) {
    const int count = options.clients;
    std::barrier sync(count + 1);
    std::atomic<int> retries{0};
    std::vector<std::atomic<int>> failures(steps.size());
    std::vector<std::thread> clients;
    clients.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        clients.emplace_back([&, index] {
            bench::FtpClient client("127.0.0.1", options.port, options.timeout, options.tls);
            std::vector<char> buffer(bufferSize);
            bool in = false;
            sync.arrive_and_wait();  // every client is ready
            for (std::size_t step = 0; step < steps.size(); ++step) {
                sync.arrive_and_wait();  // and goes
                const bool done = step == 0 ? (in = LoginWithRetries(client, options, retries))
                                            : in && steps[step].act(client, index, buffer);
                if (!done && (step == 0 || in)) failures[step].fetch_add(1);
                sync.arrive_and_wait();
            }
        });
    }
    sync.arrive_and_wait();
    for (std::size_t step = 0; step < steps.size(); ++step) {
        Phase phase(steps[step].name, options.pid);
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        Print(steps[step].name + "_s", phase.End());
        if (step == 0) Print("login_retries", retries.load());
        Print(steps[step].name + "_failures", failures[step].load());
        if (steps[step].after) steps[step].after();
    }
    for (auto& client : clients) client.join();
}

// The first step of every crowd; RunCrowd logs its clients in with retries.
CrowdStep LoginStep(std::function<void()> after) { return {"login", nullptr, std::move(after)}; }

CrowdStep QuitStep() {
    return {"quit", [](bench::FtpClient& client, int, std::vector<char>&) { return client.Quit(); }, nullptr};
}

// N clients that log in at once, stay idle while the single transfers run, then each fetch the
// small file at once, each store it at once and all quit at once.
void Crowd(const Options& options, const std::vector<char>& block) {
    const auto home = fs::path(options.home);
    const std::int64_t small = static_cast<std::int64_t>(fs::file_size(home / "small.bin"));
    auto upload = [&](int index) { return "up/" + options.tag + "-" + std::to_string(index) + ".bin"; };
    RunCrowd(options, kCrowdBuffer, {
        LoginStep([&] {
            SingleTransfers(options, "_idle", block);
            PrintMemory("_idle", options.pid);
        }),
        {"crowd_retr",
         [&](bench::FtpClient& client, int, std::vector<char>& buffer) {
             return client.Retrieve("small.bin", buffer.data(), buffer.size()) == small;
         },
         nullptr},
        {"crowd_stor",
         [&](bench::FtpClient& client, int index, std::vector<char>&) {
             return client.Store(upload(index), block.data(), block.size(), small) == small;
         },
         [&] {
             for (int index = 0; index < options.clients; ++index) fs::remove(home / upload(index));
         }},
        QuitStep(),
    });
}

// N clients that log in at once, the server's memory with them idle, and all quit at once: the
// crowd without its transfers.
void LoginCrowd(const Options& options) {
    RunCrowd(options, 0, {LoginStep([&] { PrintMemory("_idle", options.pid); }), QuitStep()});
}

// Connect, USER, PASS, QUIT in a loop from a few threads for a fixed time.
void LoginRate(const Options& options) {
    std::atomic<long> done{0}, failed{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    Phase phase("login_rate", options.pid);
    const auto started = Clock::now();
    for (int index = 0; index < options.loginThreads; ++index) {
        threads.emplace_back([&] {
            bench::FtpClient client("127.0.0.1", options.port, options.timeout, options.tls);
            while (!stop.load()) {
                if (client.Login(options.user, options.password, options.loginTimeout, false) && client.Quit())
                    done.fetch_add(1);
                else
                    failed.fetch_add(1);
                client.Disconnect();
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(options.loginSeconds));
    stop.store(true);
    for (auto& thread : threads) thread.join();
    const double seconds = Seconds(started);
    phase.End();
    Print("logins_per_s", static_cast<double>(done.load()) / seconds);
    Print("login_rate_failures", static_cast<double>(failed.load()));
}

void Listing(const Options& options) {
    bench::FtpClient client("127.0.0.1", options.port, options.timeout, options.tls);
    std::atomic<int> retries{0};
    std::vector<char> buffer(kCrowdBuffer);
    if (!LoginWithRetries(client, options, retries) || !client.ChangeDirectory("list")) {
        std::printf("error list: %s\n", client.LastReply().c_str());
        return;
    }
    Phase phase("list", options.pid);
    const std::int64_t bytes = client.List("", buffer.data(), buffer.size());
    const double seconds = phase.End();
    if (bytes > 0) Print("list_s", seconds);
    else std::printf("error list: %s\n", client.LastReply().c_str());
    Print("list_bytes", static_cast<double>(bytes));
    client.Quit();
}

// Descriptors left to the server for its own files and for the new clients greeted beside the
// idle sessions; tasks left to the rest of the machine, which a server with a thread or a
// process per session would otherwise take to the last pid.
constexpr int kServerDescriptorsSpare = 32;
constexpr int kMachineTasksSpare = 2048;
constexpr int kScaleBatch = 250;
constexpr int kGreetings = 9;
constexpr int kClientDescriptorsSpare = 64;

// Sessions the client may still open in this process before it hands them to a keeper.
int OwnRoom(const bench::IdleCrowd& crowd) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<int>(limit.rlim_cur) - kClientDescriptorsSpare - crowd.HeldHere();
}

// What the next batch of idle sessions may be, and what stops the line when nothing fits.
struct Room {
    int sessions;
    const char* limitedBy;
};

class ScaleRoom {
public:
    explicit ScaleRoom(const Options& options)
        : options_(options), descriptorsBefore_(bench::OpenDescriptors(options.pid)),
          tasksBefore_(bench::TasksOnMachine()) {}

    Room Next(int held) const {
        Room room{kScaleBatch, "nothing"};
        auto within = [&](long left, const char* what) {
            if (left < room.sessions) room = {static_cast<int>(std::max(0L, left)), what};
        };
        if (options_.scaleSessions > 0) within(options_.scaleSessions - held, "the sessions asked for");
        const long limit = bench::DescriptorLimit(options_.pid);
        const int open = bench::OpenDescriptors(options_.pid);
        if (limit > 0 && open >= 0)
            within((limit - kServerDescriptorsSpare - open) / PerSession(open - descriptorsBefore_, held),
                   "the server's descriptor limit");
        const int tasks = bench::TasksOnMachine();
        within((bench::TaskLimit() - kMachineTasksSpare - tasks) / PerSession(tasks - tasksBefore_, held),
               "the machine's pid_max");
        return room;
    }

private:
    // What each session has cost so far, at least one: a forking server's parent gains no
    // descriptors, a threaded server's process gains no tasks of its own.
    static long PerSession(long grown, int held) { return held > 0 ? std::max(1L, (grown + held - 1) / held) : 1; }

    const Options& options_;
    int descriptorsBefore_;
    int tasksBefore_;
};

void PrintGreetings(const Options& options) {
    std::vector<double> times;
    for (int i = 0; i < kGreetings; ++i) {
        const double milliseconds = bench::GreetingMilliseconds(options.port, options.loginTimeout);
        if (milliseconds >= 0) times.push_back(milliseconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Print("scale_greetings_missed", kGreetings - static_cast<int>(times.size()));
    if (times.empty()) return;
    std::sort(times.begin(), times.end());
    Print("scale_greet_ms_median", times[times.size() / 2]);
    Print("scale_greet_ms_worst", times.back());
}

// After the crowd has gone, the server's sessions take a moment to end; the next run should not
// meet them.
void AwaitServerSettled(const Options& options, int descriptors, int tasks) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline && (bench::OpenDescriptors(options.pid) > descriptors + kServerDescriptorsSpare ||
                                       bench::TasksOnMachine() > tasks + kMachineTasksSpare / 4))
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// The most idle logged-in sessions the server holds at once, opened in batches until its
// descriptor limit, the machine's pid_max or a batch that did not all get in stops them; its
// memory for each (PSS over its process tree, less what it held before) and the greeting time of
// a new client beside them. The client's own descriptors are no limit: whenever they run short,
// the sessions held so far go to a keeper process.
void ScaleLine(const Options& options) {
    const auto before = bench::MemoryOfTree(options.pid);
    const int descriptorsBefore = bench::OpenDescriptors(options.pid);
    const int tasksBefore = bench::TasksOnMachine();
    const ScaleRoom room(options);
    bench::IdleCrowd crowd(options.port, options.user, options.password, options.loginTimeout);
    Phase opening("scale_open", options.pid);
    const char* stoppedBy = nullptr;
    for (;;) {
        const Room next = room.Next(crowd.Held());
        if (next.sessions == 0) {
            stoppedBy = next.limitedBy;
            break;
        }
        if (OwnRoom(crowd) < next.sessions && !crowd.HandOff()) {
            stoppedBy = "the client's descriptor limit";
            break;
        }
        if (crowd.OpenBatch(next.sessions) < next.sessions) {
            stoppedBy = "sessions that did not get in";
            break;
        }
    }
    Print("scale_open_s", opening.End());
    const auto after = bench::MemoryOfTree(options.pid);
    PrintGreetings(options);
    const int held = crowd.StillIdle();
    Print("scale_sessions", held);
    if (held > 0) Print("scale_pss_kib_per_session", static_cast<double>(after.pssKib - before.pssKib) / held);
    Print("scale_pss_mib", static_cast<double>(after.pssKib) / 1024.0);
    // Running out of the server's descriptors is the line's own end; anything else is said.
    if (std::string(stoppedBy) != "the server's descriptor limit" && std::string(stoppedBy) != "the sessions asked for")
        std::printf("note scale: %d sessions held, stopped by %s\n", held, stoppedBy);
    crowd.CloseAll();
    AwaitServerSettled(options, descriptorsBefore, tasksBefore);
}

bool Parse(int argc, char** argv, Options& options, bool& tls) {
    for (int i = 1; i < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--tls") {
            tls = true;
            i -= 1;  // a flag without a value
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[i + 1];
        if (key == "--port") options.port = static_cast<std::uint16_t>(std::stoi(value));
        else if (key == "--user") options.user = value;
        else if (key == "--password") options.password = value;
        else if (key == "--home") options.home = value;
        else if (key == "--pid") options.pid = std::stoi(value);
        else if (key == "--clients") options.clients = std::stoi(value);
        else if (key == "--tag") options.tag = value;
        else if (key == "--login-threads") options.loginThreads = std::stoi(value);
        else if (key == "--login-seconds") options.loginSeconds = std::stod(value);
        else if (key == "--login-timeout") options.loginTimeout = std::stoi(value);
        else if (key == "--timeout") options.timeout = std::stoi(value);
        else if (key == "--phases") options.phases = value;
        else if (key == "--scale-sessions") options.scaleSessions = std::stoi(value);
        else return false;
    }
    return options.port != 0 && !options.user.empty() && !options.home.empty() && options.pid > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    // A TLS peer that closes first makes OpenSSL's writes raise SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        bool tls = false;
        if (!Parse(argc, argv, options, tls)) {
            std::fprintf(stderr, "usage: ftpbench --port P --user U --password W --home DIR --pid PID "
                                 "[--clients N] [--tag NAME] [--login-threads T] [--login-seconds S] "
                                 "[--phases single,crowd,rate,list,logins,scale] [--scale-sessions S] [--tls]\n");
            return 2;
        }
        std::optional<bench::TlsContext> context;
        if (tls) {
            context.emplace();
            options.tls = context->Get();
            metricPrefix = "tls_";
        }
        const std::vector<char> block = RandomBlock(kLargeBuffer);
        if (options.Runs("single")) SingleTransfers(options, "", block);
        if (options.Runs("crowd")) Crowd(options, block);
        if (options.Runs("logins")) LoginCrowd(options);
        if (options.Runs("rate")) LoginRate(options);
        if (options.Runs("list")) Listing(options);
        if (options.Runs("scale")) ScaleLine(options);
    } catch (const std::exception& error) {
        std::printf("error %s\n", error.what());
        return 1;
    }
    return 0;
}
