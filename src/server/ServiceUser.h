#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <variant>

namespace tolvane::server {

// The account a daemon started as root serves as: it binds its listening sockets as root, then
// gives root up for good.
class ServiceUser {
public:
    // The user and group by name (the group defaults to the user's own); an error text when
    // either is unknown.
    static std::variant<ServiceUser, std::string> LookUp(const std::string& user,
                                                         const std::optional<std::string>& group);

    // Files made meanwhile belong to the service user; root can still be taken back.
    std::optional<std::string> BecomeEffective() const;
    std::optional<std::string> RegainRoot() const;
    // Supplementary groups cleared, real, effective and saved IDs set; fails unless root is
    // then out of reach. Without root, only becoming the user one already is succeeds.
    std::optional<std::string> DropForGood() const;

    const std::string& Name() const { return name_; }

private:
    ServiceUser(std::string name, uid_t uid, gid_t gid) : name_(std::move(name)), uid_(uid), gid_(gid) {}

    std::string name_;
    uid_t uid_;
    gid_t gid_;
};

}  // namespace tolvane::server
