#pragma once

#include <cstdint>

namespace tolvane::ftp {

// The offset a REST command sets lives exactly into the command that follows it.
class RestartMarker {
public:
    // Called by the dispatcher before every command that is not an abort.
    void BeforeCommand();
    void Set(std::int64_t offset);

    bool Pending() const { return pending_; }
    std::int64_t Offset() const { return offset_; }

private:
    bool pending_ = false;
    bool setByPreviousCommand_ = false;
    std::int64_t offset_ = 0;
};

}  // namespace tolvane::ftp
