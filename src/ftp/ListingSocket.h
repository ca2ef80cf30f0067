#pragma once

#include "ftp/DataSocket.h"
#include "ftp/FileHandle.h"
#include "ftp/FileSendSocket.h"

#include <dirent.h>
#include <memory>
#include <optional>
#include <string>

namespace tolvane::ftp {

struct ListingOptions {
    bool hideHidden = false;
    bool showRelativePath = false;
    std::optional<RatioTerms> ratio;  // set when the account has a ratio
    std::int64_t credit = 0;          // the session's credit when LIST came
};

// Sends the listing of one directory (LIST), produced entry by entry while it is sent.
class ListingSocket : public DataSocket {
public:
    // `folder` was opened by the command (none: the listing is empty); `directory` names it.
    ListingSocket(std::shared_ptr<ControlConnection> owner, std::string directory, FileHandle folder,
                  ListingOptions options);
    ~ListingSocket() override;

    bool StartTransfer() override;

protected:
    void OnSend() override;

private:
    struct DirectoryCloser {
        void operator()(DIR* directory) const { closedir(directory); }
    };

    // Fills the pending text with the next lines; false when the directory has no more.
    bool FillPending();
    std::optional<std::string> NextLine();
    void Finish();

    const std::string directory_;
    FileHandle folder_;
    const ListingOptions options_;
    std::unique_ptr<DIR, DirectoryCloser> entries_;
    std::string pending_;
    std::size_t pendingSent_ = 0;
    bool finished_ = false;
};

}  // namespace tolvane::ftp
