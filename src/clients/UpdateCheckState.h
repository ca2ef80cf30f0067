#pragma once

#include "clients/VersionInfo.h"

#include <mutex>
#include <string>

namespace tolvane::clients {

// What an update check has to show: written by the check's worker, read by the dialog's timers.
class UpdateCheckState {
public:
    void SetStatus(std::string status);
    // Ends the check: the fetched text, its parsed values, the done flag.
    void Finish(std::string status, std::string fetched, VersionInfo latest);

    struct Snapshot {
        std::string status;
        std::string fetched;
        VersionInfo latest;
        bool done = false;
    };
    Snapshot Read() const;
    bool Done() const;

private:
    mutable std::mutex mutex_;
    Snapshot values_;
};

}  // namespace tolvane::clients
