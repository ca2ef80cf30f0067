#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "monitor/RecordStamp.h"
#include "store/IpRules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

class ReadOnlyFile {
public:
    // An account without a message file names none; that needs no system call to fail.
    explicit ReadOnlyFile(const std::string& path)
        : fd_(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        struct stat status {};
        if (fd_ >= 0 && (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) Reset();
    }
    ~ReadOnlyFile() { Reset(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    ssize_t Read(char* buffer, std::size_t size) { return ::read(fd_, buffer, size); }

private:
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_;
};

bool IsAnonymous(std::string_view name) {
    constexpr std::string_view kAnonymous = "anonymous";
    return name.size() == kAnonymous.size() &&
           std::equal(name.begin(), name.end(), kAnonymous.begin(),
                      [](char a, char b) { return (a | 0x20) == b; });
}

// An account without a password cannot be logged in with an empty one.
bool PasswordMatches(const std::string& stored, const std::string& given) {
    return !stored.empty() && stored == given;
}

bool IsValidUserName(std::string_view name) {
    return name.size() < 50 && name.find_first_of(".:?/\\") == std::string_view::npos;
}

}  // namespace

// Sends a text file as continuation lines of the reply that the caller completes.
void ControlConnection::SendMessageFile(const std::string& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        server_->Log().AppendLine(Tag() + "Unable to open specified Welcome file ...\r\n", monitor::ErrorMessage,
                                  false, true);
        return;
    }
    std::string pending;
    char chunk[1024];
    for (ssize_t length; (length = file.Read(chunk, sizeof chunk)) > 0;) {
        // A NUL byte ends what is taken from its chunk.
        const std::string_view taken(chunk, static_cast<std::size_t>(length));
        pending.append(taken.substr(0, taken.find('\0')));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            SendLeadingLines("xxx-" + pending.substr(start, end + 1 - start));
        }
        pending.erase(0, start);
        if (pending.size() > kMaxCommandLine) {
            // A file without line ends must not grow the pending text without bound.
            SendLeadingLines("xxx-" + pending + "\r\n");
            pending.clear();
        }
    }
    SendLeadingLines(pending.empty() ? std::string("220-\r\n") : "220-" + pending + "\r\n220-\r\n");
}

void ControlConnection::MarkRequest(const std::string& succeeded, const std::string& reason) {
    auto& requests = server_->Registry().Requests();
    requests.SetCell(RowKey(), monitor::RequestColumns::Succeed, succeeded);
    requests.SetCell(RowKey(), monitor::RequestColumns::Reason, reason);
}

void ControlConnection::Refuse(const std::string& reason, const std::string& reply) {
    MarkRequest("No", reason);
    SendReply(reply);
}

void ControlConnection::USER(const CommandRequest& request) {
    const std::string& argument = request.argument;
    if (login_.loggedIn) {
        SendReply("500 User changing is not supported.\r\n");
        return;
    }
    // A refused USER leaves nothing that a following PASS could log in with.
    login_.userAccepted = false;
    if (ipHome_->tlsPolicy >= store::TlsPolicy::Login && !Secure()) {
        SendReply("530 This server takes logins only over TLS: send AUTH TLS first.\r\n");
        return;
    }
    SetUserName(argument);
    if (!IsValidUserName(argument)) {
        SendReply("500 The Username you provide is not valid.\r\n");
        return;
    }
    const bool anonymous = IsAnonymous(argument);
    const std::string name = anonymous ? "anonymous" : argument;
    if (anonymous) {
        SetUserName(name);
        if (!FileOpenable(ipHome_->usersFolder + "anonymous.FTP_User")) {
            Refuse("ANONYMOUS access denied", "421 No ANONYMOUS access allowed.\r\n");
            return;
        }
    }
    LoadAccount(name);
    const store::AccountSettings& account = login_.account;
    if (account.disableAccount) {
        if (anonymous) {
            Refuse("ANONYMOUS access denied", "421 No ANONYMOUS access allowed.\r\n");
        } else {
            Refuse("Account is disabled", "421-The Administrator disabled this Account temporarily\r\n"
                                          "421 Message him for further information\r\n");
        }
        return;
    }
    if (const auto refusal = AccountLimitRefusal(name)) return Refuse(refusal->reason, refusal->reply);
    login_.LoadSettings(login_.OwnSettingsFile());
    ApplyAccountSettings();
    // Refused before the password is sent, so that it never crosses in clear.
    if (const auto refusal = TlsRefusal()) return Refuse(refusal->reason, refusal->reply);
    login_.userAccepted = true;
    SendReply("331 Need password.\r\n");
}

// An account's own TLS policy adds to its IP home's; "off" keeps its logins out of TLS.
std::optional<ControlConnection::Refusal> ControlConnection::TlsRefusal() const {
    const auto policy = store::ParseTlsPolicy(login_.account.tlsPolicy);
    if (!policy) return std::nullopt;
    if (*policy >= store::TlsPolicy::Login && !Secure())
        return Refusal{"TLS required", "530 This account takes logins only over TLS: send AUTH TLS first.\r\n"};
    if (*policy == store::TlsPolicy::Off && Secure())
        return Refusal{"TLS refused", "530 This account takes no logins over TLS.\r\n"};
    return std::nullopt;
}

// The reply waits on this session's worker alone; an unknown user costs the same as a wrong
// password, so the wait tells nothing about which accounts exist.
void ControlConnection::RefuseFailedLogin(const std::string& reason) {
    const LoginGuard::Failure failure = server_->Guard().RecordFailure(ClientAddress());
    if (failure.refusesNow) {
        SystemMessage(Tag() + "Too many failed logins from " + ClientAddress() + ", refused for " +
                          std::to_string(server_->Guard().Settings().blockSeconds) + " seconds ...\r\n",
                      monitor::ErrorMessage);
    }
    if (failure.delay.count() > 0 && !PauseFor(failure.delay)) return;
    Refuse(reason, "530 Wrong User/Password combination.\r\n");
    Close();
}

// USER answers early; PASS checks again while it takes the place, so that clients that all sent
// USER before any of them logged in cannot pass the limits together.
std::optional<ControlConnection::Refusal> ControlConnection::AccountLimitRefusal(const std::string& name) const {
    const store::AccountSettings& account = login_.account;
    const auto& registry = server_->Registry();
    if (account.allow && registry.CountSessionsOf(name, ClientAddress()) >= account.multipleLogins)
        return Refusal{"Too many multiple Logins from IP", "421 Too many multiple Logins from your IP.\r\n"};
    if (registry.CountSessionsOf(name) >= account.maxUsers)
        return Refusal{IsAnonymous(name) ? "Too many ANONYMOUS users" : "Too many users on account",
                       "421 Too Many Users on this Account - try later\r\n"};
    return std::nullopt;
}

// Finds the account and takes its home, rules and settings as a first load.
void ControlConnection::LoadAccount(const std::string& name) {
    const auto found = store::FindAccount(ipHome_->usersFolder, ipHome_->groupsFolder, name);
    login_.accountFiles = found.value_or(store::AccountFiles{});
    homeDirectory_ = found ? login_.UserInformation("RootDir") : "ERROR";
    // Folder paths end in '/'; a hand-written root without it means the same folder.
    if (homeDirectory_.starts_with('/')) homeDirectory_ = PathResolver::Normalise(homeDirectory_ + "/");
    SetCurrentDirectory(homeDirectory_);
    permissions_ = FolderPermissions(homeDirectory_);
    login_.LoadSettings(login_.accountFiles.accountFile);
    ApplyAccountSettings();
}

void ControlConnection::ApplyAccountSettings() {
    const store::AccountSettings& account = login_.account;
    accountTimeout_ = account.timeout;
    dataMustBeProtected_ = ipHome_->tlsPolicy == store::TlsPolicy::Data ||
                           store::ParseTlsPolicy(account.tlsPolicy) == store::TlsPolicy::Data;
    ratioEnabled_.store(account.ratioEnabled);
    const bool keptAcrossSessions = account.ratioEnabled && account.ratioType.find("Sessions") != std::string::npos;
    credit_->Reset(account.credit, keptAcrossSessions ? login_.settingsSource : std::filesystem::path());
    showRelativePath_ = account.showRelativePath;
    logging_ = LoggingSettings{account.logEnabled, account.logFilenameMask, account.logFtpCommands,
                               account.logFtpReplies, account.logSystemMessages};
}

// The two loads of USER, without its checks; the working directory returns home.
void ControlConnection::ReloadAccountIfRequested() {
    if (!accountReloadRequested_.exchange(false) || !login_.loggedIn) return;
    const std::string name = UserName();
    LoadAccount(name);
    login_.LoadSettings(login_.OwnSettingsFile());
    ApplyAccountSettings();
    server_->Registry().Connections().SetCell(RowKey(), monitor::ConnectionColumns::CurrentDir,
                                              CurrentDirectory());
}

void ControlConnection::PASS(const CommandRequest& request) {
    if (login_.loggedIn) {
        SendReply("503 Already logged in.\r\n");
        return;
    }
    if (!login_.userAccepted) {
        SendReply("503 Login with USER first.\r\n");
        return;
    }
    const std::string name = UserName();
    if (server_->Guard().Refuses(ClientAddress())) {
        Refuse("Too many failed logins from IP", "530 Wrong User/Password combination.\r\n");
        Close();
        return;
    }
    if (homeDirectory_ == "ERROR") return RefuseFailedLogin("User Profile not found");
    if (!IsAnonymous(name) && !PasswordMatches(login_.UserInformation("Password"), request.argument))
        return RefuseFailedLogin("Wrong Password for User");
    if (!store::CheckIpAccess(store::ReadAccountList(login_.accountFiles, "IPAccess", "IPAccessRule", 0), ClientAddress())) {
        Refuse("Wrong IP for Account Access", "530 Not logged in. Access from your IP not allowed.\r\n");
        return;
    }
    const auto local = LocalName();
    const std::string localAddress = local ? local->Address() : std::string();
    if (login_.account.ipHome != store::kAllIpHomes && login_.account.ipHome != localAddress)
        return RefuseFailedLogin("Wrong Password for User");
    if (!DirectoryExists(homeDirectory_)) {
        Refuse("Home-Directory not found", "530 Home-Directory not found.\r\n");
        return;
    }
    login_.countedAsUser = true;
    const int users = ipHome_->usersLoggedIn.fetch_add(1) + 1;
    if (ipHome_->userLimit != -1 && users > ipHome_->userLimit) {
        SendReply("550 Too many users on server\r\n");
        Close();
        return;
    }
    std::optional<Refusal> refusal;
    {
        std::lock_guard places(server_->LoginPlaces());
        refusal = AccountLimitRefusal(name);
        if (!refusal) TakeLoginPlace(name, local ? local->AddressAndPort() : ":0");
    }
    if (refusal) {
        ipHome_->usersLoggedIn.fetch_sub(1);
        login_.countedAsUser = false;
        login_.userAccepted = false;
        return Refuse(refusal->reason, refusal->reply);
    }
    CompleteLogin(name);
}

// The session is counted in the connections table, where the limits of the next login look.
void ControlConnection::TakeLoginPlace(const std::string& name, const std::string& serverIpHome) {
    {
        std::lock_guard lock(recordMutex_);
        serverIpHome_ = serverIpHome;
    }
    auto& registry = server_->Registry();
    const int index =
        registry.Requests().IndexOf(RowKey()).value_or(static_cast<int>(registry.Connections().Count()));
    registry.Connections().Insert(index, RowKey(),
                                  {std::to_string(connectionNumber_), name, ClientAddress(),
                                   monitor::FormatRecordStampNow(), currentDirectory_, serverIpHome});
    if (Secure()) registry.Connections().SetEncrypted(RowKey(), true);
}

void ControlConnection::CompleteLogin(const std::string& name) {
    // No message set is no failure: a red line on every login would teach to ignore red lines.
    if (!login_.account.loginMessage.empty()) SendMessageFile(login_.account.loginMessage);
    SystemMessage(Tag() + "User \"" + name + "\" logged in.\r\n", monitor::SystemMessage);
    MarkRequest("Yes", "-");
    login_.loggedIn = true;
    SendReply("230 User \"" + name + "\" logged in.\r\n");
    OpenSessionLog();
}

void ControlConnection::OpenSessionLog() {
    if (!logging_.enabled) return;
    const std::string fileName = SessionLogFileName(logging_.fileNameMask, std::time(nullptr), UserName(), ClientAddress());
    sessionLog_.Open(server_->SessionLogFolder() + fileName, logging_);
}

}  // namespace tolvane::ftp
