#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

namespace tolvane::ftp {

// A session's download credit. A ratio counted over sessions keeps its credit in the account
// (or group) file, which other sessions of the account change at the same time: this session's
// changes reach the file as differences under the file's lock, and a download takes its part
// there, so no session writes back a value it read earlier.
class SessionCredit {
public:
    // `sharedFile` keeps the credit across sessions; empty when it lasts this session only.
    // Changes not yet written stay counted.
    void Reset(std::int64_t credit, std::filesystem::path sharedFile);
    std::int64_t Current() const;
    // Gives (positive) or takes (negative) credit; a shared file learns of it at the next
    // reservation or write-back.
    void Adjust(std::int64_t delta);
    // Takes `amount` when the credit covers it: bytes when `countsBytes`, else files, where any
    // credit but 0 covers one (as the ratio always did).
    bool Reserve(std::int64_t amount, bool countsBytes);
    // At the session's end: adds what changed since the last write to the shared file. A
    // download that the end cancels returns its unused credit later, on its own thread; from
    // now on each change is written as it comes.
    void WriteBack();

private:
    // Writes the file's credit plus this session's unwritten changes, less what `take` takes
    // of that, under the file's lock; false when the file could not be written.
    bool UpdateSharedFile(const std::function<std::int64_t(std::int64_t available)>& take);

    mutable std::mutex mutex_;
    std::int64_t current_ = 0;
    std::int64_t unwritten_ = 0;  // changes the shared file has not seen yet
    bool ended_ = false;
    std::filesystem::path sharedFile_;
};

// What a download took from the credit at RETR. What it does not use goes back when it ends,
// or all of it when it never starts.
class CreditReservation {
public:
    CreditReservation(std::shared_ptr<SessionCredit> credit, std::int64_t amount, bool countsBytes)
        : credit_(std::move(credit)), amount_(amount), countsBytes_(countsBytes) {}
    ~CreditReservation() { Settle(0); }
    CreditReservation(const CreditReservation&) = delete;
    CreditReservation& operator=(const CreditReservation&) = delete;

    // Bytes the download may still send after `sent`; a file counts once, whatever its size.
    std::int64_t BytesLeft(std::int64_t sent) const;
    // Returns what `sent` bytes did not use; only the first call counts.
    void Settle(std::int64_t sent);

private:
    const std::shared_ptr<SessionCredit> credit_;
    const std::int64_t amount_;
    const bool countsBytes_;
    std::once_flag settled_;
};

}  // namespace tolvane::ftp
