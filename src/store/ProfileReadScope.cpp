#include "store/ProfileReadScope.h"

#include <algorithm>

namespace tolvane::store {
namespace {

thread_local ProfileReadScope* openScope = nullptr;

}  // namespace

ProfileReadScope::ProfileReadScope() : outermost_(openScope == nullptr) {
    if (outermost_) openScope = this;
}

ProfileReadScope::~ProfileReadScope() {
    if (outermost_) openScope = nullptr;
}

std::shared_ptr<const ProfileReadScope::Values> ProfileReadScope::Find(const std::filesystem::path& file) {
    if (openScope == nullptr) return nullptr;
    const auto& taken = openScope->taken_;
    const auto found = std::find_if(taken.begin(), taken.end(),
                                    [&](const auto& entry) { return entry.first == file.native(); });
    return found == taken.end() ? nullptr : found->second;
}

void ProfileReadScope::Remember(const std::filesystem::path& file, std::shared_ptr<const Values> values) {
    if (openScope != nullptr) openScope->taken_.emplace_back(file.native(), std::move(values));
}

void ProfileReadScope::ForgetAll() {
    if (openScope != nullptr) openScope->taken_.clear();
}

}  // namespace tolvane::store
