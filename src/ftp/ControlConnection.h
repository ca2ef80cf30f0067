#pragma once

#include "ftp/ServedIpHome.h"
#include "ftp/ServerShared.h"
#include "ftp/CommandTable.h"
#include "ftp/DataChannel.h"
#include "ftp/FileHandle.h"
#include "ftp/FileReceiveSocket.h"
#include "ftp/FileSendSocket.h"
#include "ftp/ListingSocket.h"
#include "ftp/LoginState.h"
#include "ftp/MachineFacts.h"
#include "ftp/PathResolver.h"
#include "ftp/PermissionSet.h"
#include "ftp/RestartMarker.h"
#include "ftp/SessionCredit.h"
#include "ftp/SessionLog.h"
#include "monitor/RowOwner.h"
#include "net/EventSocket.h"
#include "net/ListenSocket.h"
#include "store/AccountDatabase.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::ftp {

// One FTP session: the control connection and the session record every command works on.
// All handlers run on the session's worker; SendReply and Close may also be called from the
// data sockets and the window.
class ControlConnection : public net::EventSocket, public monitor::SessionHandle {
public:
    static constexpr std::size_t kMaxCommandLine = 4096;

    ControlConnection(std::shared_ptr<ServerShared> server, std::shared_ptr<ServedIpHome> ipHome,
                      int connectionNumber, bool serverOffline);

    // Builds the sessions of one IP home for its listening socket.
    static net::ListenSocket::ConnectionFactory FactoryFor(std::shared_ptr<ServerShared> server,
                                                           std::shared_ptr<ServedIpHome> ipHome);

    // Sends a complete reply (CR LF terminated lines) and logs it.
    void SendReply(std::string_view reply) override;
    // Reports a session event (text already tagged and CR LF terminated) to the server log and
    // the session log file.
    void SystemMessage(std::string_view text, std::uint32_t kind);
    // Ends the session from another thread: logs the kick and closes the connection. The caller
    // sends the farewell reply first and removes the connections row afterwards.
    void Kick() override;
    std::string UserName() const override;
    bool Live() const override { return IsOpen(); }
    int IdleSeconds() const override { return IdleTicks(); }
    // This session as its monitor rows know it.
    std::weak_ptr<monitor::RowOwner> RowKey();

    int ConnectionNumber() const { return connectionNumber_; }
    // The client's address and port, once greeted; its address alone as text.
    net::Endpoint Client() const;
    std::string ClientAddress() const;
    // " -[n]- ", the tag of this session's log lines.
    std::string Tag() const;

    ServerShared& Server() const { return *server_; }
    ServedIpHome& IpHome() const { return *ipHome_; }
    // The local address and port the client reached, once logged in.
    std::string ServerIpHome() const;

    // PROT P: data connections are secured as the control connection is.
    bool ProtectsData() const { return protectData_; }
    // The IP home or the account takes data connections only under PROT P.
    bool DataMustBeProtected() const { return dataMustBeProtected_; }
    // The data side: its sockets take their in-progress flags from it.
    DataChannel& Data() { return data_; }
    // How long a transfer may wait for its data connection or move nothing, in seconds: the
    // account's time-out when it has one.
    int DataTimeout() const;
    // The account's limit for a transfer of this kind starting now; none when it runs unpaced.
    std::optional<SpeedLimit> SpeedLimitFor(TransferKind kind) const;
    // What the data sockets keep up to date.
    void AddDownloadedBytes(std::uint64_t bytes) { downloadedBytes_.fetch_add(bytes); }
    void AddUploadedBytes(std::uint64_t bytes) { uploadedBytes_.fetch_add(bytes); }
    // Gives (positive) or takes (negative) download credit; the administrator does too.
    void AdjustCredit(std::int64_t delta) override { credit_->Adjust(delta); }
    std::int64_t Credit() const override { return credit_->Current(); }
    // Whether the loaded account runs a ratio; the window offers credit only then.
    bool RatioEnabled() const override { return ratioEnabled_.load(); }
    std::uint64_t UploadedBytes() const override { return uploadedBytes_.load(); }
    std::uint64_t DownloadedBytes() const override { return downloadedBytes_.load(); }
    int UploadedFiles() const override { return uploadedFiles_.load(); }
    int DownloadedFiles() const override { return downloadedFiles_.load(); }
    // Local path of the working directory.
    std::string CurrentDirectory() const override;
    // The administrator's "Update Account Info": the session re-reads its account as at login,
    // on its own worker, before its next command or at its next idle second.
    void RequestAccountReload() override { accountReloadRequested_.store(true); }

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
    // transport holds them back, so that the whole reply leaves in one segment.
    void SendLeadingLines(std::string_view lines);
    void Transmit(std::string_view reply, bool more);
    // Transmit with the reply lock held.
    void TransmitLocked(std::string_view reply, bool more);
    // Every verb, in the order Dispatch tries them.
    static std::span<const CommandRow> Commands();

    void SendGreeting(const net::Endpoint& client);
    // A connection from a trusted proxy is greeted once its PROXY header names the client.
    bool AwaitsProxyHeader(const net::Endpoint& peer);
    // The received bytes that are commands, once a header is taken off or ruled out.
    std::string TakeProxyBytes(std::string_view bytes);
    void SendMessageFile(const std::string& path);
    void TakeCommandLines();
    void ExecuteLine(std::string line);
    void RefuseLongLine();
    void LogCommand(const std::string& verb, const std::string& argument);
    void Dispatch(const std::string& verb, const std::string& argument);
    void Execute(const CommandRow& command, const std::string& argument);
    bool Permitted(const CommandRow& command, const CommandRequest& request) const;
    void RefusePermission();
    // Refuses a transfer command after its slot was taken: the slot is free before the reply.
    void RefuseTransfer(std::string_view reply);
    void RemoveConnectionsRow();
    int EffectiveTimeout() const;
    bool SilentTooLong() const;
    void TimeOut();

    // Login.
    void USER(const CommandRequest& request);
    void PASS(const CommandRequest& request);
    void LoadAccount(const std::string& name);
    void ApplyAccountSettings();
    struct Refusal {
        std::string reason;
        std::string reply;
    };
    std::optional<Refusal> AccountLimitRefusal(const std::string& name) const;
    std::optional<Refusal> TlsRefusal() const;
    void RefuseFailedLogin(const std::string& reason);
    void TakeLoginPlace(const std::string& name, const std::string& serverIpHome);
    void CompleteLogin(const std::string& name);
    void OpenSessionLog();
    void MarkRequest(const std::string& succeeded, const std::string& reason);
    void Refuse(const std::string& reason, const std::string& reply);
    void SetUserName(const std::string& name);
    void ReloadAccountIfRequested();

    // Paths and file commands.
    void CWD(const CommandRequest& request);
    void CDUP(const CommandRequest& request);
    void EnterDirectory(const std::string& candidate);
    ResolvedDirectory FolderReached(const std::string& candidate) const;
    PathResolver Resolver() const;
    void SetCurrentDirectory(const std::string& directory);
    PermissionSet PermissionsOf(const std::string& directory) const;
    PermissionSet FolderPermissions(const std::string& folder) const;
    std::function<PermissionSet(const std::string& folder)> FolderRightsSnapshot() const;
    // Local paths resolved once each, for the checks of one command.
    class RealPaths {
    public:
        std::string Of(const std::string& path);

    private:
        std::vector<std::pair<std::string, std::string>> resolved_;
    };
    static PermissionSet JudgeFolder(std::vector<std::string> rules, const std::string& homeDirectory, bool relative,
                                     const std::string& folder);
    static std::vector<std::string> RealRules(std::vector<std::string> rules, RealPaths& realPaths);
    bool RenameKeepsRules(const std::string& source, const std::string& target) const;
    ResolvedEntry ResolveName(const std::string& argument) const;
    void DELE(const CommandRequest& request);
    void MKD(const CommandRequest& request);
    void RMD(const CommandRequest& request);
    void RNFR(const CommandRequest& request);
    void RNTO(const CommandRequest& request);

    // Data connections and transfers.
    void PORT(const CommandRequest& request);
    void PASV(const CommandRequest& request);
    void EPSV(const CommandRequest& request);
    void EPRT(const CommandRequest& request);
    bool RefusedAfterEpsvAll();
    bool RefusedOverIpv6();
    bool RefusedBounce(int port);
    void LIST(const CommandRequest& request);
    void RETR(const CommandRequest& request);
    void STOR(const CommandRequest& request);
    void APPE(const CommandRequest& request);
    OpenedEntry OpenChecked(const std::string& path, bool folder, bool PermissionSet::*letter, int flags) const;
    // The folder a listing reads, opened and judged by its `L` letter now.
    OpenedEntry OpenListedFolder(const std::string& folder) const;
    OpenedEntry OpenUploadTarget(const ResolvedEntry& entry, UploadTarget& target) const;
    void StartUpload(std::string opening, UploadTarget target, std::int64_t offset, bool overwrite);
    RatioTerms Ratio() const;
    // What the download of `size` bytes takes from the credit; none without a ratio. Null when
    // the credit does not cover it.
    std::optional<std::shared_ptr<CreditReservation>> ReserveCredit(std::int64_t size);
    std::shared_ptr<ControlConnection> Self();
    void WriteBackCredit();

    // Simple commands.
    void HELP(const CommandRequest& request);
    void SITE(const CommandRequest& request);
    void NOOP(const CommandRequest& request);
    void SYST(const CommandRequest& request);
    void TYPE(const CommandRequest& request);
    void PWD(const CommandRequest& request);
    void QUIT(const CommandRequest& request);
    void FEAT(const CommandRequest& request);
    void OPTS(const CommandRequest& request);

    // TLS on the control and data connections.
    void AUTH(const CommandRequest& request);
    void PBSZ(const CommandRequest& request);
    void PROT(const CommandRequest& request);
    void CCC(const CommandRequest& request);
    bool RefusedWithoutTls();
    void SecureFromFirstByte();
    void STRU(const CommandRequest& request);
    void MODE(const CommandRequest& request);
    void ALLO(const CommandRequest& request);
    void CLNT(const CommandRequest& request);
    std::string CurrentClientPath() const;
    std::string GivenArgument(const std::string& argument) const;

    // Listings and facts of entries.
    void NLST(const CommandRequest& request);
    void MLSD(const CommandRequest& request);
    void MLST(const CommandRequest& request);
    void SIZE(const CommandRequest& request);
    void MDTM(const CommandRequest& request);
    void MFMT(const CommandRequest& request);
    void StartListing(const std::string& argument, ListingFormat format);
    bool ListingTarget(const std::string& path, ListingFormat format, std::string& folder, ListingOptions& options);
    std::string WithoutOptions(std::string argument) const;
    bool MaySee(const ResolvedEntry& entry) const;
    void ABOR(const CommandRequest& request);
    void REST(const CommandRequest& request);

    const std::shared_ptr<ServerShared> server_;
    const std::shared_ptr<ServedIpHome> ipHome_;
    const int connectionNumber_;
    const bool serverOffline_;

    SessionLog sessionLog_;
    std::mutex replyMutex_;  // replies come from the session, its data sockets and the window
    mutable std::mutex recordMutex_;
    net::Endpoint client_;

    bool greetingSent_ = false;
    // On an IP home with trusted proxies: what the first bytes of the connection must show.
    enum class ProxyCheck { Done, Header, NoHeader };
    ProxyCheck proxyCheck_ = ProxyCheck::Done;
    std::string proxyBytes_;  // a header not yet complete
    std::string pendingText_;
    bool discardingLongLine_ = false;
    bool discardPendingLines_ = false;  // lines sent in clear behind AUTH are not run secured
    bool protectData_ = false;
    bool dataMustBeProtected_ = false;
    std::chrono::steady_clock::time_point lastCommandAt_ = std::chrono::steady_clock::now();
    RestartMarker restart_;
    std::string previousVerb_;

    LoginState login_;
    LoggingSettings logging_;
    PermissionSet permissions_ = DefaultPermissions();
    int accountTimeout_ = -1;
    bool showRelativePath_ = false;
    std::string userName_;  // guarded by recordMutex_ once the session runs
    std::string homeDirectory_;
    std::string currentDirectory_;  // guarded by recordMutex_: the window shows it
    bool renamePending_ = false;
    bool renameIsFile_ = true;
    std::string renameSource_;
    unsigned mlstFacts_ = kAllFacts;  // what OPTS MLST chose

    std::string serverIpHome_;  // guarded by recordMutex_
    DataChannel data_{*this};
    std::atomic<std::uint64_t> downloadedBytes_{0};
    std::atomic<std::uint64_t> uploadedBytes_{0};
    std::atomic<int> downloadedFiles_{0};
    std::atomic<int> uploadedFiles_{0};
    const std::shared_ptr<SessionCredit> credit_ = std::make_shared<SessionCredit>();
    std::atomic<bool> ratioEnabled_{false};
    std::atomic<bool> accountReloadRequested_{false};
};

}  // namespace tolvane::ftp
