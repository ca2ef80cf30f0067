#include "store/ProfileSnapshotCache.h"

namespace tolvane::store {
namespace {

constexpr std::time_t kTimestampSlack = 2;

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

FileIdentity FileIdentity::Of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool FileIdentity::operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

bool FileIdentity::SettledAt(std::time_t now) const {
    return modified.tv_sec + kTimestampSlack < now && changed.tv_sec + kTimestampSlack < now;
}

ProfileSnapshotCache& ProfileSnapshotCache::Instance() {
    static ProfileSnapshotCache cache;
    return cache;
}

std::shared_ptr<const ProfileSnapshotCache::Values> ProfileSnapshotCache::Find(const std::filesystem::path& file,
                                                                               const FileIdentity& identity) const {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(file.native());
    if (found == entries_.end() || !(found->second.identity == identity)) return nullptr;
    return found->second.values;
}

void ProfileSnapshotCache::Store(const std::filesystem::path& file, const FileIdentity& identity,
                                 std::shared_ptr<const Values> values) {
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMaxEntries && !entries_.contains(file.native())) entries_.clear();
    entries_.insert_or_assign(file.native(), Entry{identity, std::move(values)});
}

}  // namespace tolvane::store
