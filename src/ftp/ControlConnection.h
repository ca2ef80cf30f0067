#pragma once

#include "ftp/ServedIpHome.h"
#include "ftp/ServerShared.h"
#include "ftp/DataSocket.h"
#include "ftp/FileSendSocket.h"
#include "ftp/PathResolver.h"
#include "ftp/PermissionSet.h"
#include "ftp/RestartMarker.h"
#include "ftp/SessionLog.h"
#include "net/EventSocket.h"
#include "net/ListenSocket.h"
#include "store/AccountDatabase.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::ftp {

class FileReceiveSocket;
class FileSendSocket;
class ListingSocket;
class PassiveListenSocket;

// One FTP session: the control connection and the session record every command works on.
// All handlers run on the session's worker; SendReply and Close may also be called from the
// data sockets and the window.
class ControlConnection : public net::EventSocket {
public:
    static constexpr std::size_t kMaxCommandLine = 4096;

    ControlConnection(std::shared_ptr<ServerShared> server, std::shared_ptr<ServedIpHome> ipHome,
                      int connectionNumber, bool serverOffline);

    // Builds the sessions of one IP home for its listening socket.
    static net::ListenSocket::ConnectionFactory FactoryFor(std::shared_ptr<ServerShared> server,
                                                           std::shared_ptr<ServedIpHome> ipHome);

    // Sends a complete reply (CR LF terminated lines) and logs it.
    void SendReply(std::string_view reply);
    // Reports a session event (text already tagged and CR LF terminated) to the server log and
    // the session log file.
    void SystemMessage(std::string_view text, std::uint32_t kind);
    // Ends the session from another thread: logs the kick and closes the connection. The caller
    // sends the farewell reply first and removes the connections row afterwards.
    void Kick();
    std::string UserName() const;

    int ConnectionNumber() const { return connectionNumber_; }
    std::string ClientAddress() const;
    // " -[n]- ", the tag of this session's log lines.
    std::string Tag() const;

    ServerShared& Server() const { return *server_; }
    ServedIpHome& IpHome() const { return *ipHome_; }
    // The local address and port the client reached, once logged in.
    std::string ServerIpHome() const;

    // What the data sockets keep up to date.
    std::atomic<bool>& DownloadActiveFlag() { return downloadActive_; }
    std::atomic<bool>& UploadActiveFlag() { return uploadActive_; }
    std::atomic<bool>& ListingActiveFlag() { return listingActive_; }
    void AddDownloadedBytes(std::uint64_t bytes) { downloadedBytes_.fetch_add(bytes); }
    void AddUploadedBytes(std::uint64_t bytes) { uploadedBytes_.fetch_add(bytes); }
    // Gives (positive) or takes (negative) download credit; the administrator does too.
    void AdjustCredit(std::int64_t delta) { currentCredit_.fetch_add(delta); }
    std::int64_t Credit() const { return currentCredit_.load(); }
    // Whether the loaded account runs a ratio; the window offers credit only then.
    bool RatioEnabled() const { return ratioEnabled_.load(); }
    std::uint64_t UploadedBytes() const { return uploadedBytes_.load(); }
    std::uint64_t DownloadedBytes() const { return downloadedBytes_.load(); }
    int UploadedFiles() const { return uploadedFiles_.load(); }
    int DownloadedFiles() const { return downloadedFiles_.load(); }
    // Local path of the working directory.
    std::string CurrentDirectory() const;
    // The administrator's "Update Account Info": the session re-reads its account as at login,
    // on its own worker, before its next command or at its next idle second.
    void RequestAccountReload() { accountReloadRequested_.store(true); }

    // Splits one command line (ending in CR) into verb and argument.
    static std::string CommandVerb(std::string_view line);
    static std::string CommandArgument(std::string_view line);

protected:
    void OnIdleTick() override;
    void OnReceive() override;
    void OnClose() override;
    void OnSend() override;
    void OnWorkerExit() override;

private:
    // Like SendReply, for the leading lines of a reply that a later SendReply completes: the
    // kernel holds them back, so that the whole reply leaves in one segment.
    void SendLeadingLines(std::string_view lines);
    void Transmit(std::string_view reply, bool more);
    using Handler = void (ControlConnection::*)(const std::string& argument);
    struct Command {
        std::string_view verb;
        Handler handler;
    };
    static const Command kOpenCommands[];
    static const Command kCommands[];

    void SendGreeting();
    void SendMessageFile(const std::string& path);
    void TakeCommandLines();
    void ExecuteLine(std::string line);
    void RefuseLongLine();
    void LogCommand(const std::string& verb, const std::string& argument);
    void Dispatch(const std::string& verb, const std::string& argument);
    void RemoveConnectionsRow();
    int EffectiveTimeout() const;
    bool SilentTooLong() const;
    void TimeOut();
    bool TransferRunning() const;

    // Login.
    void USER(const std::string& argument);
    void PASS(const std::string& argument);
    void LoadAccount(const std::string& name);
    void ApplyAccountSettings();
    std::vector<std::string> AccessingRules() const;
    void CompleteLogin(const std::string& name, const std::string& serverIpHome);
    void OpenSessionLog();
    void MarkRequest(const std::string& succeeded, const std::string& reason);
    void Refuse(const std::string& reason, const std::string& reply);
    void SetUserName(const std::string& name);
    void ReloadAccountIfRequested();

    // Paths and file commands.
    void CWD(const std::string& argument);
    void CDUP(const std::string& argument);
    void EnterDirectory(std::string candidate);
    PathResolver Resolver() const;
    void SetCurrentDirectory(const std::string& directory);
    PermissionSet PermissionsOf(const std::string& directory) const;
    PermissionSet FolderPermissions(const std::string& folder) const;
    static std::string TargetFolder(const ResolvedEntry& entry);
    ResolvedEntry ResolveName(const std::string& argument) const;
    void DELE(const std::string& argument);
    void MKD(const std::string& argument);
    void RMD(const std::string& argument);
    void RNFR(const std::string& argument);
    void RNTO(const std::string& argument);

    // Data connections and transfers.
    void PORT(const std::string& argument);
    void PASV(const std::string& argument);
    void LIST(const std::string& argument);
    void RETR(const std::string& argument);
    void STOR(const std::string& argument);
    void APPE(const std::string& argument);
    bool TakeTransferSlot();
    void GiveBackTransferSlot();
    bool ServerTransferLimitReached();
    bool DataConnectionReady();
    std::shared_ptr<PassiveListenSocket> OpenPassiveListener() const;
    void ClosePassiveListener();
    bool PrepareActiveSocket(const std::shared_ptr<DataSocket>& socket);
    void StartUpload(const std::shared_ptr<FileReceiveSocket>& socket);
    void HandOver(const std::shared_ptr<DataSocket>& socket);
    void ApplySpeedLimit(DataSocket& socket, TransferKind kind) const;
    RatioTerms Ratio() const;
    // Ends this session's data connections and passive listener without replies.
    void EndTransfers();
    void WriteBackCredit();

    // Simple commands.
    void HELP(const std::string& argument);
    void SITE(const std::string& argument);
    void NOOP(const std::string& argument);
    void SYST(const std::string& argument);
    void TYPE(const std::string& argument);
    void PWD(const std::string& argument);
    void QUIT(const std::string& argument);
    void ABOR(const std::string& argument);
    void REST(const std::string& argument);
    // Verbs whose handlers are not in this build yet.
    void CommandNotSupported(const std::string& argument);

    const std::shared_ptr<ServerShared> server_;
    const std::shared_ptr<ServedIpHome> ipHome_;
    const int connectionNumber_;
    const bool serverOffline_;

    SessionLog sessionLog_;
    std::mutex replyMutex_;  // replies come from the session, its data sockets and the window
    mutable std::mutex recordMutex_;
    std::string clientAddress_;

    bool greetingSent_ = false;
    std::string pendingText_;
    bool discardingLongLine_ = false;
    std::chrono::steady_clock::time_point lastCommandAt_ = std::chrono::steady_clock::now();
    RestartMarker restart_;
    std::string previousVerb_;

    bool loggedIn_ = false;
    bool userAccepted_ = false;
    store::AccountFiles accountFiles_;
    std::filesystem::path accountSettingsFile_;
    store::AccountSettings account_;
    LoggingSettings logging_;
    PermissionSet permissions_ = DefaultPermissions();
    bool countedAsUser_ = false;
    int accountTimeout_ = -1;
    bool showRelativePath_ = false;
    std::string userName_;  // guarded by recordMutex_ once the session runs
    std::string homeDirectory_;
    std::string currentDirectory_;  // guarded by recordMutex_: the window shows it
    bool renamePending_ = false;
    bool renameIsFile_ = true;
    std::string renameSource_;

    std::string serverIpHome_;  // guarded by recordMutex_
    bool passiveMode_ = false;
    int dataPort_ = 0;
    mutable std::mutex dataMutex_;  // the session and a kick from the window both reach these
    std::weak_ptr<PassiveListenSocket> passiveListener_;
    std::weak_ptr<FileSendSocket> downloadSocket_;
    std::weak_ptr<FileReceiveSocket> uploadSocket_;
    std::weak_ptr<ListingSocket> listingSocket_;
    std::atomic<std::uint64_t> downloadedBytes_{0};
    std::atomic<std::uint64_t> uploadedBytes_{0};
    std::atomic<int> downloadedFiles_{0};
    std::atomic<int> uploadedFiles_{0};
    std::atomic<std::int64_t> currentCredit_{0};
    std::atomic<bool> downloadActive_{false};
    std::atomic<bool> uploadActive_{false};
    std::atomic<bool> listingActive_{false};
    std::atomic<bool> ratioEnabled_{false};
    std::atomic<bool> accountReloadRequested_{false};
};

}  // namespace tolvane::ftp
