#pragma once

#include "store/ProgramSettings.h"

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tolvane::ftp {

// Makes password guessing slow: remembers failed logins per client address, tells how long the
// reply to a failure waits (growing with each failure in the window, bounded) and refuses an
// address for a while once it reaches the limit. Shared by every session; thread-safe.
class LoginGuard {
public:
    using Clock = std::chrono::steady_clock;

    struct Failure {
        std::chrono::milliseconds delay{0};
        // This failure started a refusal: reported once, not for every later attempt.
        bool refusesNow = false;
    };

    void Configure(const store::FailedLoginSettings& settings);
    store::FailedLoginSettings Settings() const;
    bool Refuses(const std::string& address, Clock::time_point now = Clock::now()) const;
    Failure RecordFailure(const std::string& address, Clock::time_point now = Clock::now());

private:
    struct Record {
        int failures = 0;
        Clock::time_point windowStart;
        Clock::time_point refusedUntil;
    };

    bool Expired(const Record& record, Clock::time_point now) const;
    void ForgetExpired(Clock::time_point now);

    // Addresses remembered at most; beyond it, records whose time has passed are dropped first
    // and then new addresses are not remembered, so a crowd of addresses cannot exhaust memory.
    static constexpr std::size_t kMaxAddresses = 100'000;

    mutable std::mutex mutex_;
    store::FailedLoginSettings settings_;
    std::unordered_map<std::string, Record> records_;
};

}  // namespace tolvane::ftp
