#include "store/ClientEndpoints.h"

#include "store/ProfileFile.h"

namespace tolvane::store {
namespace {

constexpr const char* kFeedback = "Feedback";
constexpr const char* kUpdateCheck = "UpdateCheck";

// A port out of range reads as the default.
int ReadPort(const ProfileFile& profile, const char* section, const char* key, int fallback) {
    const int port = profile.ReadInt(section, key, fallback);
    return port > 0 && port <= 65535 ? port : fallback;
}

}  // namespace

std::vector<std::string> FeedbackEndpoints::MissingKeys() const {
    std::vector<std::string> missing;
    const std::pair<const std::string*, const char*> required[] = {
        {&smtpHost, "SmtpHost"},         {&pop3Host, "Pop3Host"},
        {&mailboxUser, "MailboxUser"},   {&mailboxPassword, "MailboxPassword"},
        {&mailboxAddress, "MailboxAddress"}, {&recipient, "Recipient"},
    };
    for (const auto& [value, key] : required)
        if (value->empty()) missing.emplace_back(key);
    return missing;
}

FeedbackEndpoints ReadFeedbackEndpoints(const std::filesystem::path& settingsFile) {
    const ProfileFile profile = ProfileFile::Load(settingsFile);
    FeedbackEndpoints endpoints;
    endpoints.smtpHost = profile.ReadString(kFeedback, "SmtpHost", "");
    endpoints.smtpPort = ReadPort(profile, kFeedback, "SmtpPort", endpoints.smtpPort);
    endpoints.pop3Host = profile.ReadString(kFeedback, "Pop3Host", "");
    endpoints.pop3Port = ReadPort(profile, kFeedback, "Pop3Port", endpoints.pop3Port);
    endpoints.mailboxUser = profile.ReadString(kFeedback, "MailboxUser", "");
    endpoints.mailboxPassword = profile.ReadString(kFeedback, "MailboxPassword", "");
    endpoints.mailboxAddress = profile.ReadString(kFeedback, "MailboxAddress", "");
    endpoints.recipient = profile.ReadString(kFeedback, "Recipient", "");
    return endpoints;
}

UpdateEndpoint ReadUpdateEndpoint(const std::filesystem::path& settingsFile) {
    const ProfileFile profile = ProfileFile::Load(settingsFile);
    UpdateEndpoint endpoint;
    endpoint.host = profile.ReadString(kUpdateCheck, "Host", "");
    endpoint.port = ReadPort(profile, kUpdateCheck, "Port", endpoint.port);
    return endpoint;
}

}  // namespace tolvane::store
