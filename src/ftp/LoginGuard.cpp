#include "ftp/LoginGuard.h"

#include <algorithm>

namespace tolvane::ftp {
namespace {

// The first delay doubled for each earlier failure in the window, up to the largest.
std::chrono::milliseconds DelayAfter(int failures, const store::FailedLoginSettings& settings) {
    long long delay = settings.firstDelayMs;
    for (int i = 1; i < failures && delay < settings.largestDelayMs; ++i) delay *= 2;
    return std::chrono::milliseconds(std::min<long long>(delay, settings.largestDelayMs));
}

}  // namespace

void LoginGuard::Configure(const store::FailedLoginSettings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

store::FailedLoginSettings LoginGuard::Settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

bool LoginGuard::Refuses(const std::string& address, Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    const auto found = records_.find(address);
    return found != records_.end() && found->second.refusedUntil > now;
}

LoginGuard::Failure LoginGuard::RecordFailure(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxAddresses && !records_.contains(address)) ForgetExpired(now);
    if (records_.size() >= kMaxAddresses && !records_.contains(address))
        return {DelayAfter(1, settings_), false};
    Record& record = records_[address];
    if (record.failures == 0 || now - record.windowStart > std::chrono::seconds(settings_.windowSeconds)) {
        record.failures = 0;
        record.windowStart = now;
    }
    ++record.failures;
    Failure failure{DelayAfter(record.failures, settings_), false};
    if (settings_.limit > 0 && record.failures >= settings_.limit) {
        record.refusedUntil = now + std::chrono::seconds(settings_.blockSeconds);
        record.failures = 0;
        failure.refusesNow = true;
    }
    return failure;
}

bool LoginGuard::Expired(const Record& record, Clock::time_point now) const {
    return record.refusedUntil <= now && now - record.windowStart > std::chrono::seconds(settings_.windowSeconds);
}

void LoginGuard::ForgetExpired(Clock::time_point now) {
    std::erase_if(records_, [&](const auto& entry) { return Expired(entry.second, now); });
}

}  // namespace tolvane::ftp
