#pragma once

#include "net/EventSocket.h"
#include "store/AccountDatabase.h"

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

namespace tolvane::testing {

// Picked below the ephemeral range: a port the kernel hands out for port 0 may be taken again
// by another test process's client or passive listener before our server binds it.
inline std::uint16_t FreePort() {
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> ports(20000, 32000);
    for (;;) {
        const auto port = static_cast<std::uint16_t>(ports(random));
        net::EventSocket probe;
        if (probe.Create(port, true)) return port;
    }
}

// Adds an IP home on 127.0.0.1:port to a server home, with one user who has full rights in
// the folder `files` of the home; returns that folder.
inline std::string AddIpHomeWithUser(const std::filesystem::path& home, std::uint16_t port, const std::string& user,
                                     store::AccountValues account = {}) {
    const auto database = store::DatabaseDir(home);
    const std::string title = "127.0.0.1-" + std::to_string(port);
    const std::string root = (home / "files").string() + "/";
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(database);
    store::IpHome ipHome;
    ipHome.serverName = "Test";
    ipHome.serverIp = "127.0.0.1";
    ipHome.serverPort = std::to_string(port);
    store::CreateIpHome(database, title);
    store::WriteIpHome(store::IpHomeFile(database, title), ipHome);
    account.password = "pw";
    account.rootDir = root;
    account.accessingRules = {{root, "RWDLI"}};
    store::CreateUser(store::UsersDir(database, title), user);
    store::WriteAccount(store::UserFile(store::UsersDir(database, title), user), account);
    return root;
}

}  // namespace tolvane::testing
