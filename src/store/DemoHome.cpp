#include "store/DemoHome.h"

#include "store/AccountDatabase.h"
#include "store/ProgramSettings.h"

#include <fstream>

namespace tolvane::store {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kDemoIpHome = "127.0.0.1-2121";

bool WriteSampleFiles(const fs::path& root) {
    std::error_code error;
    fs::create_directories(root / "pub", error);
    if (error) return false;
    std::ofstream(root / "README.txt") << "Welcome to the Tolvane demo home.\r\n";
    std::ofstream(root / "pub" / "hello.txt") << "Hello from Tolvane.\r\n";
    std::ofstream data(root / "pub" / "sample.bin", std::ios::binary);
    for (int i = 0; i < 65536; ++i) data.put(static_cast<char>(i * 7));
    return static_cast<bool>(data);
}

bool WriteDemoUser(const fs::path& usersDir, const fs::path& root) {
    AccountValues demo;
    demo.password = "demo";
    demo.rootDir = root.string();
    demo.accessingRules = {{root.string(), "RWDECLMrcI"}};
    demo.showRelativePath = true;
    demo.multipleLogins = "10";
    return CreateUser(usersDir, "demo") && WriteAccount(UserFile(usersDir, "demo"), demo);
}

}  // namespace

bool PrepareDemoHome(const fs::path& home) {
    const fs::path database = DatabaseDir(home);
    if (fs::exists(database)) return true;
    const fs::path root = fs::absolute(home) / "demo-files" / "";
    IpHome fullMachine;
    fullMachine.name = std::string(kDefaultIpHome);
    fullMachine.serverName = "Tolvane Daemon";
    fullMachine.serverIp = "All IP's";
    fullMachine.serverPort = "21";
    fullMachine.disabled = 1;
    IpHome demo;
    demo.name = std::string(kDemoIpHome);
    demo.serverName = "Tolvane Demo";
    demo.serverIp = "127.0.0.1";
    demo.serverPort = "2121";
    demo.storeOverwrite = 1;
    std::error_code error;
    return fs::create_directories(database, error) && CreateIpHome(database, kDefaultIpHome) &&
           WriteIpHome(IpHomeFile(database, kDefaultIpHome), fullMachine) && CreateIpHome(database, kDemoIpHome) &&
           WriteIpHome(IpHomeFile(database, kDemoIpHome), demo) && WriteSampleFiles(root) &&
           WriteDemoUser(UsersDir(database, kDemoIpHome), root) &&
           // The window opens the demo online too: a first try with curl must not meet a 421.
           WriteSetting(home / "Settings.ini", kOnlineAtStartupKey, 1);
}

}  // namespace tolvane::store
