#pragma once

#include "ftp/DataSocket.h"
#include "ftp/FileHandle.h"
#include "ftp/FileSendSocket.h"
#include "ftp/PermissionSet.h"

#include <ctime>
#include <dirent.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace tolvane::ftp {

struct ListingEntry;

// LIST lines, NLST names or MLSD facts.
enum class ListingFormat { Long, Names, Facts };

struct ListingOptions {
    bool hideHidden = false;
    bool showRelativePath = false;
    std::optional<RatioTerms> ratio;  // set when the account has a ratio
    std::int64_t credit = 0;          // the session's credit when LIST came
    ListingFormat format = ListingFormat::Long;
    std::string onlyName = {};    // set: the listing is this one entry of the folder
    std::string pattern = {};     // set: only the folder's names that match this shell pattern
    std::string namePrefix = {};  // what NLST puts before each name
    unsigned facts = 0;           // the MLSD facts to show
    PermissionSet folderRights = {};  // the rights in the listed folder
    // The rights a folder's own rules give, for the perm fact of sub-folders.
    std::function<PermissionSet(const std::string& folder)> rightsOf = {};
};

// Sends the listing of one directory (LIST, NLST, MLSD), produced entry by entry while it is
// sent.
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
    std::optional<std::string> NextName();
    std::optional<std::string> LineFor(const std::string& name);
    std::optional<std::string> FactsLine(const std::string& name, const struct stat& status,
                                         const ListingEntry& listed) const;
    void Finish();

    const std::string directory_;
    FileHandle folder_;
    const ListingOptions options_;
    std::unique_ptr<DIR, DirectoryCloser> entries_;
    bool onlyNameGiven_ = false;
    std::time_t now_ = 0;
    std::string pending_;
    std::size_t pendingSent_ = 0;
    bool finished_ = false;
};

}  // namespace tolvane::ftp
