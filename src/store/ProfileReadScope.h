#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "store/ProfileSnapshotCache.h"

namespace tolvane::store {

// While a scope is open, a thread's reads take every profile file at the version its first read
// in the scope found. A command that reads an account several times then sees one version of
// it, never half an old and half a new one, and looks at the file once instead of on every read.
// An inner scope joins the outer one.
class ProfileReadScope {
public:
    using Values = ProfileSnapshotCache::Values;

    ProfileReadScope();
    ~ProfileReadScope();
    ProfileReadScope(const ProfileReadScope&) = delete;
    ProfileReadScope& operator=(const ProfileReadScope&) = delete;

    // The version taken in this thread's open scope; null outside a scope or before a first read.
    static std::shared_ptr<const Values> Find(const std::filesystem::path& file);
    static void Remember(const std::filesystem::path& file, std::shared_ptr<const Values> values);
    // After a write of this thread: the next read takes the file as it is now.
    static void ForgetAll();

private:
    bool outermost_;
    std::vector<std::pair<std::string, std::shared_ptr<const Values>>> taken_;  // a command reads few files
};

}  // namespace tolvane::store
