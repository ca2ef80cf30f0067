#include "server/ServiceUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tolvane::server {
namespace {

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string OnlyRoot(const std::string& name) {
    return "cannot switch to user " + name + ": only root can (start as root, or leave out --user)";
}

std::optional<passwd> PasswordEntry(const std::string& name, std::vector<char>& buffer) {
    passwd entry{};
    passwd* found = nullptr;
    buffer.resize(16384);
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return entry;
}

std::optional<gid_t> GroupId(const std::string& name) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    return entry.gr_gid;
}

}  // namespace

std::variant<ServiceUser, std::string> ServiceUser::LookUp(const std::string& user,
                                                           const std::optional<std::string>& group) {
    std::vector<char> buffer;
    const auto entry = PasswordEntry(user, buffer);
    if (!entry) return "no such user: " + user;
    gid_t gid = entry->pw_gid;
    if (group) {
        const auto groupId = GroupId(*group);
        if (!groupId) return "no such group: " + *group;
        gid = *groupId;
    }
    return ServiceUser(user, entry->pw_uid, gid);
}

std::optional<std::string> ServiceUser::BecomeEffective() const {
    if (geteuid() == uid_ && getegid() == gid_) return std::nullopt;
    if (geteuid() != 0) return OnlyRoot(name_);
    if (setegid(gid_) != 0) return Failure("cannot take the group of " + name_);
    if (seteuid(uid_) != 0) return Failure("cannot become " + name_);
    return std::nullopt;
}

std::optional<std::string> ServiceUser::RegainRoot() const {
    if (getuid() != 0) return std::nullopt;
    if (seteuid(0) != 0 || setegid(0) != 0) return Failure("cannot take root back");
    return std::nullopt;
}

std::optional<std::string> ServiceUser::DropForGood() const {
    const bool alreadyThere = getuid() == uid_ && geteuid() == uid_ && getgid() == gid_ && getegid() == gid_;
    if (getuid() != 0 && geteuid() != 0) {
        if (alreadyThere) return std::nullopt;
        return OnlyRoot(name_);
    }
    if (auto error = RegainRoot()) return error;
    if (setgroups(0, nullptr) != 0) return Failure("cannot clear the supplementary groups");
    if (setresgid(gid_, gid_, gid_) != 0) return Failure("cannot take the group of " + name_);
    if (setresuid(uid_, uid_, uid_) != 0) return Failure("cannot become " + name_);
    if (uid_ != 0 && (setuid(0) == 0 || seteuid(0) == 0)) return "root could be taken back after becoming " + name_;
    return std::nullopt;
}

}  // namespace tolvane::server
