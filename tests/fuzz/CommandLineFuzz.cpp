// A whole control session fed arbitrary bytes: the line splitter, the dispatcher and every
// command handler behind it, with two real accounts in a real server home. Its bytes go through
// a substitute transport that drops replies; its own socket is only bound (never connected), so
// data connections in active mode fail at once, an input takes no network time and never
// reaches another host. A folder
// beside the account homes must come out of every input untouched.
#include "ftp/ControlConnection.h"
#include "net/SocketReactor.h"
#include "store/AccountDatabase.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using namespace tolvane;

constexpr std::string_view kTitle = "127.0.0.1-2121";
constexpr std::string_view kSecret = "not for clients\n";

// Replies are dropped; the input is handed out in irregular pieces, so lines also arrive split
// across receives.
class FuzzTransport final : public net::Transport {
public:
    explicit FuzzTransport(std::string_view input) : input_(input) {}

    net::IoResult Send(const void*, std::size_t length, bool) override { return {net::IoStatus::Moved, length}; }
    net::IoResult Receive(void* buffer, std::size_t length) override {
        if (input_.empty()) return {net::IoStatus::Ended};
        const std::size_t piece = std::min({length, input_.size(), std::size_t{1} + input_.size() % 700});
        std::copy_n(input_.data(), piece, static_cast<char*>(buffer));
        input_.remove_prefix(piece);
        return {net::IoStatus::Moved, piece};
    }
    net::IoResult SendFile(int, off_t*, std::size_t count) override { return {net::IoStatus::Moved, count}; }
    bool Exhausted() const { return input_.empty(); }

private:
    std::string_view input_;
};

class FuzzSession : public ftp::ControlConnection {
public:
    FuzzSession(std::shared_ptr<ftp::ServerShared> server, std::shared_ptr<ftp::ServedIpHome> ipHome,
                std::string_view input)
        : ControlConnection(std::move(server), std::move(ipHome), 1, false) {
        auto transport = std::make_unique<FuzzTransport>(input);
        transport_ = transport.get();
        SetTransport(std::move(transport));
    }

    void Run() {
        OnSend();
        while (IsOpen() && !transport_->Exhausted()) OnReceive();
        OnClose();
        OnWorkerExit();
    }

private:
    const FuzzTransport* transport_;
};

// The server home: user "u" in relative mode with every right in files/ but none in
// files/locked/, user "f" in full-path mode who may only read and list files/. Removed at exit.
struct Sandbox {
    Sandbox();
    ~Sandbox() { fs::remove_all(base); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    fs::path base;
    fs::path files;
    fs::path outside;
    std::string usersFolder;
    std::string groupsFolder;
};

void WriteUser(const fs::path& usersDir, const std::string& name, store::AccountValues account) {
    account.password = "pw";
    store::CreateUser(usersDir, name);
    store::WriteAccount(store::UserFile(usersDir, name), account);
}

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "tolvane-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    base = pattern;
    files = base / "files";
    outside = base / "outside";
    fs::create_directories(outside);
    std::ofstream(outside / "secret") << kSecret;
    const std::string root = files.string() + "/";
    const fs::path database = store::DatabaseDir(base);
    fs::create_directories(database);
    store::CreateIpHome(database, kTitle);
    const fs::path users = store::UsersDir(database, kTitle);

    store::AccountValues relative;
    relative.rootDir = root;
    relative.showRelativePath = true;
    relative.accessingRules = {{root, "RWDCLMrcI"}, {root + "locked/", "d"}};
    relative.logEnabled = true;
    relative.filenameMask = "%USER-%IP";
    relative.logFtpCommands = true;
    relative.speedLimitMode = store::SpeedLimitMode::Dynamic;
    relative.dynamicSpeedLimitRules = {"Everyday-0:00-23:59-10,20,30"};
    WriteUser(users, "u", relative);

    store::AccountValues fullPath;
    fullPath.rootDir = root;
    fullPath.accessingRules = {{root, "RLI"}};
    WriteUser(users, "f", fullPath);

    usersFolder = users.string() + "/";
    groupsFolder = store::GroupsDir(database, kTitle).string() + "/";
}

void ResetFiles(const Sandbox& box) {
    fs::remove_all(box.files);
    fs::create_directories(box.files / "sub");
    fs::create_directories(box.files / "locked");
    std::ofstream(box.files / "a.txt") << "alpha\n";
    std::ofstream(box.files / "sub" / "b.txt") << "beta\n";
}

bool OutsideUntouched(const Sandbox& box) {
    const auto entries = std::distance(fs::directory_iterator(box.outside), fs::directory_iterator());
    std::ifstream secret(box.outside / "secret");
    const std::string content((std::istreambuf_iterator<char>(secret)), std::istreambuf_iterator<char>());
    return entries == 1 && content == kSecret;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Sandbox box;
    ResetFiles(box);
    auto server = std::make_shared<ftp::ServerShared>(box.base.string() + "/");
    server->SetOnline(true);
    // Each wrong password would otherwise make an input wait, and lock out the next ones.
    server->Guard().Configure({.firstDelayMs = 0, .limit = 0});
    auto ipHome = std::make_shared<ftp::ServedIpHome>();
    ipHome->name = kTitle;
    ipHome->usersFolder = box.usersFolder;
    ipHome->groupsFolder = box.groupsFolder;
    {
        auto session = std::make_shared<FuzzSession>(server, ipHome,
                                                     std::string_view(reinterpret_cast<const char*>(data), size));
        if (!session->Create(0, true)) std::abort();
        session->Run();
    }
    net::SocketReactor::Instance().JoinAll();
    if (!OutsideUntouched(box)) std::abort();
    if (ipHome->usersLoggedIn.load() != 0 || ipHome->runningTransfers.load() != 0) std::abort();
    return 0;
}
