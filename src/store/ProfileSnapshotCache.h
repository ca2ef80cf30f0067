#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tolvane::store {

// What tells one version of a file from another without reading it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileIdentity Of(const struct stat& info);
    bool operator==(const FileIdentity& other) const;
    // Changes within the file system's timestamp granularity could keep every field above equal;
    // a version becomes trustworthy once its timestamps are older than that.
    bool SettledAt(std::time_t now) const;
};

// Parsed profile files shared by every reader while the file stays the same version: a login
// reads the account file several times, and re-reading it cost a third of the login.
class ProfileSnapshotCache {
public:
    using Values = std::unordered_map<std::string, std::string>;
    static constexpr std::size_t kMaxEntries = 4096;

    static ProfileSnapshotCache& Instance();

    std::shared_ptr<const Values> Find(const std::filesystem::path& file, const FileIdentity& identity) const;
    void Store(const std::filesystem::path& file, const FileIdentity& identity, std::shared_ptr<const Values> values);

private:
    struct Entry {
        FileIdentity identity;
        std::shared_ptr<const Values> values;
    };

    mutable std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace tolvane::store
