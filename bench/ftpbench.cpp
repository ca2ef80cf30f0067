// The benchmark client: runs the whole sequence against one FTP server and prints one
// "name value" line per figure. bench/compare.py runs it against each server in turn.
//
//   ftpbench --port P --user U --password W --home DIR --pid PID --clients N --tag NAME
//            [--phases single,crowd,rate,list,logins] [--tls]
//
// DIR is the user's home as the server shows it (big.bin, small.bin, list/ and up/ in it); the
// client reads sizes there and removes what it uploaded. PID is the server's, for its memory.
// With --tls every session is explicit FTPS with protected data, and every figure's name starts
// with "tls_".
#include "FtpClient.h"
#include "ProcessTree.h"
#include "TlsContext.h"

#include <atomic>
#include <barrier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

// N clients that log in at once, stay idle while the single transfers run, then each fetch the
// small file at once, each store it at once and all quit at once. Every step starts for all of
// them together and ends when the last is done.
void Crowd(const Options& options, const std::vector<char>& block) {
    const int count = options.clients;
    const std::int64_t small = static_cast<std::int64_t>(fs::file_size(fs::path(options.home) / "small.bin"));
    std::barrier sync(count + 1);
    std::atomic<int> retries{0}, loginFailures{0}, retrFailures{0}, storFailures{0}, quitFailures{0};
    std::vector<std::thread> clients;
    clients.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        clients.emplace_back([&, index] {
            bench::FtpClient client("127.0.0.1", options.port, options.timeout, options.tls);
            std::vector<char> buffer(kCrowdBuffer);
            sync.arrive_and_wait();  // every client is ready
            sync.arrive_and_wait();  // and goes
            const bool in = LoginWithRetries(client, options, retries);
            if (!in) loginFailures.fetch_add(1);
            sync.arrive_and_wait();
            sync.arrive_and_wait();
            if (in && client.Retrieve("small.bin", buffer.data(), buffer.size()) != small) retrFailures.fetch_add(1);
            sync.arrive_and_wait();
            sync.arrive_and_wait();
            const std::string name = "up/" + options.tag + "-" + std::to_string(index) + ".bin";
            if (in && client.Store(name, block.data(), block.size(), small) != small) storFailures.fetch_add(1);
            sync.arrive_and_wait();
            sync.arrive_and_wait();
            if (in && !client.Quit()) quitFailures.fetch_add(1);
            sync.arrive_and_wait();
        });
    }
    sync.arrive_and_wait();
    Phase login("login", options.pid);
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    Print("login_s", login.End());
    Print("login_retries", retries.load());
    Print("login_failures", loginFailures.load());

    SingleTransfers(options, "_idle", block);
    PrintMemory("_idle", options.pid);

    Phase retr("crowd_retr", options.pid);
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    Print("crowd_retr_s", retr.End());
    Print("crowd_retr_failures", retrFailures.load());

    Phase stor("crowd_stor", options.pid);
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    Print("crowd_stor_s", stor.End());
    Print("crowd_stor_failures", storFailures.load());
    for (int index = 0; index < count; ++index)
        fs::remove(fs::path(options.home) / ("up/" + options.tag + "-" + std::to_string(index) + ".bin"));

    Phase quit("quit", options.pid);
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    Print("quit_s", quit.End());
    Print("quit_failures", quitFailures.load());
    for (auto& client : clients) client.join();
}

// N clients that log in at once, the server's memory with them idle, and all quit at once: the
// crowd without its transfers.
void LoginCrowd(const Options& options) {
    const int count = options.clients;
    std::barrier sync(count + 1);
    std::atomic<int> retries{0}, loginFailures{0}, quitFailures{0};
    std::vector<std::thread> clients;
    clients.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        clients.emplace_back([&] {
            bench::FtpClient client("127.0.0.1", options.port, options.timeout, options.tls);
            sync.arrive_and_wait();
            sync.arrive_and_wait();
            const bool in = LoginWithRetries(client, options, retries);
            if (!in) loginFailures.fetch_add(1);
            sync.arrive_and_wait();
            sync.arrive_and_wait();
            if (in && !client.Quit()) quitFailures.fetch_add(1);
            sync.arrive_and_wait();
        });
    }
    sync.arrive_and_wait();
    Phase login("login", options.pid);
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    Print("login_s", login.End());
    Print("login_retries", retries.load());
    Print("login_failures", loginFailures.load());
    PrintMemory("_idle", options.pid);
    Phase quit("quit", options.pid);
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    Print("quit_s", quit.End());
    Print("quit_failures", quitFailures.load());
    for (auto& client : clients) client.join();
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
                                 "[--phases single,crowd,rate,list,logins] [--tls]\n");
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
    } catch (const std::exception& error) {
        std::printf("error %s\n", error.what());
        return 1;
    }
    return 0;
}
