#pragma once

// Where the feedback mail and the update check go: settings of the installation, in
// <home>/Settings.ini, sections [Feedback] and [UpdateCheck]. Nothing is built in.

#include <filesystem>
#include <string>
#include <vector>

namespace tolvane::store {

struct FeedbackEndpoints {
    std::string smtpHost;
    int smtpPort = 25;
    std::string pop3Host;
    int pop3Port = 110;
    std::string mailboxUser;
    std::string mailboxPassword;
    std::string mailboxAddress;
    // One or more entries "address" or "name <address>", separated by ';'.
    std::string recipient;

    // The keys that are still unset; empty when the mail can be sent.
    std::vector<std::string> MissingKeys() const;
};

struct UpdateEndpoint {
    std::string host;
    int port = 80;
};

FeedbackEndpoints ReadFeedbackEndpoints(const std::filesystem::path& settingsFile);
UpdateEndpoint ReadUpdateEndpoint(const std::filesystem::path& settingsFile);

}  // namespace tolvane::store
