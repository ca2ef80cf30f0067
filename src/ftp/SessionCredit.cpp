#include "ftp/SessionCredit.h"

#include "store/ProfileFile.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace tolvane::ftp {
namespace {

constexpr std::string_view kRatio = "RATIO";
constexpr std::string_view kCredit = "Credit";

bool Covers(std::int64_t credit, std::int64_t amount, bool countsBytes) {
    return countsBytes ? amount <= credit : credit != 0;
}

// The account file keeps a 32-bit number.
std::string StoredCredit(std::int64_t credit) {
    return std::to_string(std::clamp<std::int64_t>(credit, std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void SessionCredit::Reset(std::int64_t credit, std::filesystem::path sharedFile) {
    std::lock_guard lock(mutex_);
    current_ = credit + unwritten_;
    sharedFile_ = std::move(sharedFile);
}

std::int64_t SessionCredit::Current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

void SessionCredit::Adjust(std::int64_t delta) {
    std::lock_guard lock(mutex_);
    current_ += delta;
    if (sharedFile_.empty()) return;
    unwritten_ += delta;
    if (ended_) UpdateSharedFile([](std::int64_t) { return std::int64_t{0}; });
}

bool SessionCredit::Reserve(std::int64_t amount, bool countsBytes) {
    std::lock_guard lock(mutex_);
    if (!sharedFile_.empty()) {
        bool covered = false;
        const bool written = UpdateSharedFile([&](std::int64_t available) {
            covered = Covers(available, amount, countsBytes);
            return covered ? amount : 0;
        });
        if (written) return covered;
    }
    // Without a shared file, or when it cannot be written, the session's own figure decides.
    if (!Covers(current_, amount, countsBytes)) return false;
    current_ -= amount;
    if (!sharedFile_.empty()) unwritten_ -= amount;
    return true;
}

void SessionCredit::WriteBack() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    if (sharedFile_.empty() || unwritten_ == 0) return;
    UpdateSharedFile([](std::int64_t) { return std::int64_t{0}; });
}

bool SessionCredit::UpdateSharedFile(const std::function<std::int64_t(std::int64_t available)>& take) {
    std::int64_t left = 0;
    const bool written = store::ProfileEditor(sharedFile_).SaveAfter(
        [&](const store::ProfileFile& file, store::ProfileEditor& editor) {
            const std::int64_t available = file.ReadInt(kRatio, kCredit, 0) + unwritten_;
            left = available - take(available);
            return editor.Set(kRatio, kCredit, StoredCredit(left));
        });
    if (!written) return false;
    unwritten_ = 0;
    current_ = left;
    return true;
}

std::int64_t CreditReservation::BytesLeft(std::int64_t sent) const {
    if (!countsBytes_) return std::numeric_limits<std::int64_t>::max();
    return std::max<std::int64_t>(0, amount_ - sent);
}

void CreditReservation::Settle(std::int64_t sent) {
    std::call_once(settled_, [&] {
        const std::int64_t unused = countsBytes_ ? BytesLeft(sent) : (sent == 0 ? amount_ : 0);
        if (unused > 0) credit_->Adjust(unused);
    });
}

}  // namespace tolvane::ftp
