#include "store/AccountDatabase.h"

#include "net/AsciiText.h"
#include "net/Endpoint.h"

#include <algorithm>
#include <climits>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace tolvane::store {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kServerSettings = "ServerSettings";
constexpr std::string_view kUserinformation = "Userinformation";
constexpr std::string_view kMiscOptions = "MISC-OPTIONS";
constexpr std::string_view kRatio = "RATIO";
constexpr std::string_view kIpAccess = "IPAccess";
constexpr std::string_view kLogging = "Logging";
constexpr std::string_view kSpeedLimit = "SPEED-LIMIT";

// Login reads every string into a 1024-byte buffer, the server its IP home texts into 256 bytes.
constexpr std::size_t kLoginValueLimit = 1023;
constexpr std::size_t kIpHomeValueLimit = 255;

std::string Truncated(std::string text, std::size_t limit) {
    if (text.size() > limit) text.resize(limit);
    return text;
}

fs::path Child(const fs::path& folder, std::string_view name, std::string_view extension = {}) {
    return folder / (std::string(name) + std::string(extension));
}

// Folder paths end in '/', but renaming and removing must act on the entry
// itself: with the slash a symbolic link would be followed.
fs::path Entry(const fs::path& folder) { return folder.has_filename() ? folder : folder.parent_path(); }

bool IsRegularFile(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error);
}

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// ---- account reading -----------------------------------------------------

const fs::path& KeySource(const AccountFiles& files, std::string_view section, std::string_view key) {
    if (SameProfileName(section, kUserinformation) && SameProfileName(key, "Password")) return files.accountFile;
    if (SameProfileName(section, kIpAccess) || !files.settingsFile.empty()) return files.settingsFile;
    return files.accountFile;
}

std::string LoginText(const ProfileFile& file, std::string_view section, std::string_view key,
                      std::string_view fallback) {
    return Truncated(file.ReadString(section, key, fallback), kLoginValueLimit);
}

// Login takes a flag as on only when it reads exactly "TRUE".
bool LoginFlag(const ProfileFile& file, std::string_view section, std::string_view key) {
    return LoginText(file, section, key, "FALSE") == "TRUE";
}

double LoginSpeed(const ProfileFile& file, std::string_view key) {
    return ParseProfileDouble(LoginText(file, kSpeedLimit, key, ""));
}

void LoadIdentity(const ProfileFile& source, AccountSettings& settings) {
    settings.password = LoginText(source, kUserinformation, "Password", "");
    settings.ipHome = LoginText(source, kUserinformation, "IPHome", "");
    if (settings.ipHome.empty()) settings.ipHome = kAllIpHomes;
}

void LoadLimits(const ProfileFile& source, const ProfileFile& group, AccountSettings& settings) {
    settings.loginMessage = LoginText(source, kMiscOptions, "LoginMessage", "");
    settings.disableAccount = LoginFlag(source, kMiscOptions, "DisableAccount");
    settings.hideHidden = LoginFlag(source, kMiscOptions, "HideHidden");
    settings.showRelativePath = LoginFlag(source, kMiscOptions, "ShowRelativePath");
    settings.allow = LoginFlag(source, kMiscOptions, "Allow");
    settings.multipleLogins = source.ReadInt(kMiscOptions, "MultipleLogins", 1);
    settings.maxUsers = source.ReadInt(kMiscOptions, "MaxUsers", -1);
    if (settings.maxUsers == -1) settings.maxUsers = kAccountUsersWithoutLimit;
    settings.timeout = group.ReadInt(kMiscOptions, "Timeout", -1);
    settings.tlsPolicy = LoginText(source, kMiscOptions, "TlsPolicy", "");
}

void LoadSpeedLimits(const ProfileFile& source, const ProfileFile& group, AccountSettings& settings) {
    settings.speedLimitMode = LoginText(group, kSpeedLimit, "Enabled", "-1");
    settings.sendingSpeed = LoginSpeed(group, "SendingSpeed");
    settings.receivingSpeed = LoginSpeed(group, "ReceivingSpeed");
    settings.listingSpeed = LoginSpeed(source, "ListingSpeed");
}

void LoadRatio(const ProfileFile& source, AccountSettings& settings) {
    // Unlike every other flag, the ratio is on unless it reads exactly "FALSE".
    settings.ratioEnabled = LoginText(source, kRatio, "RatioEnabled", "FALSE") != "FALSE";
    settings.ratioType = LoginText(source, kRatio, "RatioType", "");
    settings.download = source.ReadInt(kRatio, "Download", 0);
    settings.upload = source.ReadInt(kRatio, "Upload", 0);
    settings.credit = source.ReadInt(kRatio, "Credit", 0);
}

void LoadLogging(const ProfileFile& source, AccountSettings& settings) {
    settings.logEnabled = LoginFlag(source, kLogging, "Enabled");
    settings.logFilenameMask = LoginText(source, kLogging, "FilenameMask", kDefaultLogFilenameMask);
    settings.logFtpCommands = LoginFlag(source, kLogging, "LogFTPCommands");
    settings.logFtpReplies = LoginFlag(source, kLogging, "LogFTPReplies");
    settings.logSystemMessages = LoginFlag(source, kLogging, "LogSystemMessages");
}

// ---- writing -------------------------------------------------------------

std::string_view Flag(bool on) { return on ? "TRUE" : "FALSE"; }

std::string LimitText(int limit) { return limit == -1 ? std::string() : std::to_string(limit); }

std::string SpeedLimitModeText(SpeedLimitMode mode) {
    switch (mode) {
    case SpeedLimitMode::Dynamic: return "Dynamic";
    case SpeedLimitMode::Static: return "Static";
    case SpeedLimitMode::None: break;
    }
    return "-1";
}

// The editor's field holds minutes; 0 or empty means no time-out.
int TimeoutSeconds(std::string_view minutesText) {
    const long long minutes = ParseProfileInt(minutesText);
    if (minutes == 0) return -1;
    return static_cast<int>(std::clamp<long long>(minutes * 60, INT_MIN, INT_MAX));
}

std::string ListKey(std::string_view prefix, int index) { return std::string(prefix) + std::to_string(index); }

void SetList(ProfileEditor& editor, std::string_view section, std::string_view prefix, int firstIndex,
             const std::vector<std::string>& values) {
    int index = firstIndex;
    for (const std::string& value : values) editor.Set(section, ListKey(prefix, index++), value);
    editor.Set(section, ListKey(prefix, index), kListEnd);
}

std::vector<std::string> Formatted(const std::vector<AccessingRule>& rules) {
    std::vector<std::string> texts;
    texts.reserve(rules.size());
    for (const AccessingRule& rule : rules) texts.push_back(FormatAccessingRule(rule));
    return texts;
}

void SetUserinformation(ProfileEditor& editor, const AccountValues& values) {
    editor.Set(kUserinformation, "Password", values.password);
    editor.Set(kUserinformation, "RootDir", values.rootDir);
    SetList(editor, kUserinformation, "AccessingRules", 1, Formatted(values.accessingRules));
}

void SetMiscOptions(ProfileEditor& editor, const AccountValues& values) {
    editor.Set(kMiscOptions, "DisableAccount", Flag(values.disableAccount));
    editor.Set(kMiscOptions, "HideHidden", Flag(values.hideHidden));
    editor.Set(kMiscOptions, "ShowRelativePath", Flag(values.showRelativePath));
    editor.Set(kMiscOptions, "Allow", Flag(values.allow));
    editor.Set(kMiscOptions, "MaxUsers", values.maxUsers);
    editor.Set(kMiscOptions, "LoginMessage", values.loginMessage);
    editor.Set(kMiscOptions, "Timeout", std::to_string(TimeoutSeconds(values.timeoutMinutes)));
    editor.Set(kMiscOptions, "MultipleLogins", values.multipleLogins);
    editor.SetOptional(kMiscOptions, "TlsPolicy", values.tlsPolicy);
}

void SetRatio(ProfileEditor& editor, const AccountValues& values) {
    editor.Set(kRatio, "RatioEnabled", Flag(values.ratioEnabled));
    editor.Set(kRatio, "RatioType", values.ratioType);
    editor.Set(kRatio, "Upload", values.upload);
    editor.Set(kRatio, "Download", values.download);
    editor.Set(kRatio, "Credit", values.credit);
}

void SetLogging(ProfileEditor& editor, const AccountValues& values) {
    editor.Set(kLogging, "Enabled", Flag(values.logEnabled));
    editor.Set(kLogging, "FilenameMask", values.filenameMask);
    editor.Set(kLogging, "LogFTPCommands", Flag(values.logFtpCommands));
    editor.Set(kLogging, "LogFTPReplies", Flag(values.logFtpReplies));
    editor.Set(kLogging, "LogSystemMessages", Flag(values.logSystemMessages));
}

void SetSpeedLimit(ProfileEditor& editor, const AccountValues& values) {
    editor.Set(kSpeedLimit, "ReceivingSpeed", values.receivingSpeed);
    editor.Set(kSpeedLimit, "SendingSpeed", values.sendingSpeed);
    editor.Set(kSpeedLimit, "ListingSpeed", values.listingSpeed);
    editor.Set(kSpeedLimit, "Enabled", SpeedLimitModeText(values.speedLimitMode));
    SetList(editor, kSpeedLimit, "DynamicSpeedLimitRule", 0, values.dynamicSpeedLimitRules);
}

void SetAccountValues(ProfileEditor& editor, const AccountValues& values) {
    SetUserinformation(editor, values);
    SetMiscOptions(editor, values);
    SetRatio(editor, values);
    SetList(editor, kIpAccess, "IPAccessRule", 0, values.ipAccessRules);
    SetLogging(editor, values);
    SetSpeedLimit(editor, values);
}

// ---- reading back what the editor wrote ----------------------------------

// The editor shows a stored "-1" as an empty field.
std::string FieldText(const ProfileFile& profile, std::string_view section, std::string_view key) {
    std::string text = profile.ReadString(section, key, "");
    return text == "-1" ? std::string() : text;
}

bool NotFalse(const ProfileFile& profile, std::string_view section, std::string_view key) {
    return profile.ReadString(section, key, "FALSE") != "FALSE";
}

bool IsTrue(const ProfileFile& profile, std::string_view section, std::string_view key) {
    return profile.ReadString(section, key, "FALSE") == "TRUE";
}

std::string TimeoutMinutes(const ProfileFile& profile) {
    const int seconds = profile.ReadInt("MISC-OPTIONS", "Timeout", -1);
    return seconds <= 0 ? std::string() : std::to_string((seconds + 59) / 60);
}

SpeedLimitMode StoredSpeedMode(const ProfileFile& profile) {
    const std::string mode = profile.ReadString("SPEED-LIMIT", "Enabled", "-1");
    if (mode == "Dynamic") return SpeedLimitMode::Dynamic;
    if (mode == "Static") return SpeedLimitMode::Static;
    return SpeedLimitMode::None;
}

// ---- entries -------------------------------------------------------------

bool CreateEmptyFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fd >= 0 && ::close(fd) == 0;
}

bool CreateFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    return !error;
}

bool RemoveEntry(const fs::path& path) {
    std::error_code error;
    fs::remove(Entry(path), error);
    return !error;
}

bool RemoveTree(const fs::path& folder) {
    std::error_code error;
    fs::remove_all(Entry(folder), error);
    return !error;
}

bool RenameIfPresent(const fs::path& from, const fs::path& to) {
    if (!Exists(Entry(from))) return true;
    std::error_code error;
    fs::rename(Entry(from), Entry(to), error);
    return !error;
}

// A file with a folder of the same title beside it (IP homes and groups).
bool RenameFileAndFolder(const fs::path& oldFile, const fs::path& oldFolder, const fs::path& newFile,
                         const fs::path& newFolder) {
    if (!Exists(oldFile) || Exists(newFile) || Exists(Entry(newFolder))) return false;
    return RenameIfPresent(oldFolder, newFolder) && RenameIfPresent(oldFile, newFile);
}

bool AreValidNames(std::string_view first, std::string_view second) {
    return IsValidEntryName(first) && IsValidEntryName(second);
}

}  // namespace

// ---- layout --------------------------------------------------------------

fs::path DatabaseDir(const fs::path& serverHome) { return serverHome / "Database" / ""; }
fs::path LoggingDir(const fs::path& serverHome) { return serverHome / "Logging" / ""; }
fs::path IpHomeFile(const fs::path& databaseDir, std::string_view title) {
    return Child(databaseDir, title, kIpHomeExtension);
}
fs::path IpHomeDir(const fs::path& databaseDir, std::string_view title) { return Child(databaseDir, title) / ""; }
fs::path UsersDir(const fs::path& databaseDir, std::string_view title) {
    return IpHomeDir(databaseDir, title) / "Users" / "";
}
fs::path GroupsDir(const fs::path& databaseDir, std::string_view title) {
    return IpHomeDir(databaseDir, title) / "Groups" / "";
}
fs::path GroupFile(const fs::path& groupsDir, std::string_view group) {
    return Child(groupsDir, group, kGroupExtension);
}
fs::path GroupMembersDir(const fs::path& groupsDir, std::string_view group) { return Child(groupsDir, group) / ""; }
fs::path UserFile(const fs::path& folder, std::string_view userName) { return Child(folder, userName, kUserExtension); }

bool IsValidEntryName(std::string_view name) {
    // A control character in a name would forge lines and columns of the listings that show it.
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           std::none_of(name.begin(), name.end(), isControl);
}

bool FitsFileName(std::string_view name, std::string_view extension) {
    return IsValidEntryName(name) && name.size() + extension.size() <= kMaxFileNameBytes;
}

std::vector<std::string> ListTitles(const fs::path& folder, std::string_view extension) {
    std::vector<std::string> titles;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > extension.size() && name.ends_with(extension) && IsRegularFile(it->path())) {
            titles.push_back(name.substr(0, name.size() - extension.size()));
        }
    }
    std::sort(titles.begin(), titles.end());
    return titles;
}

// ---- IP homes ------------------------------------------------------------

namespace {

bool UsesNetworkKeys(const IpHome& home) {
    return home.ipv6Only != 1 || home.pasvPortMin != 0 || home.pasvPortMax != 0 || !home.pasvAddress.empty() ||
           !home.trustedProxies.empty();
}

// A home that never used them keeps the file it had.
void WriteNetworkKeys(ProfileEditor& editor, const fs::path& file, const IpHome& values) {
    if (!UsesNetworkKeys(values) && !UsesNetworkKeys(ReadIpHome(file))) return;
    editor.Set(kServerSettings, "IPv6Only", std::to_string(values.ipv6Only));
    editor.Set(kServerSettings, "PasvPortMin", std::to_string(values.pasvPortMin));
    editor.Set(kServerSettings, "PasvPortMax", std::to_string(values.pasvPortMax));
    editor.Set(kServerSettings, "PasvAddress", values.pasvAddress);
    editor.Set(kServerSettings, "TrustedProxies", values.trustedProxies);
}

}  // namespace

IpHome ReadIpHome(const fs::path& file) {
    const ProfileFile profile = ProfileFile::Load(file);
    const auto text = [&](std::string_view key) {
        return Truncated(profile.ReadString(kServerSettings, key, ""), kIpHomeValueLimit);
    };
    IpHome home;
    home.name = file.stem().string();
    home.serverName = text("ServerName");
    home.serverIp = text("ServerIP");
    home.serverPort = text("ServerPort");
    home.maxUsers = profile.ReadInt(kServerSettings, "MaxUsers", -1);
    home.maxTransfers = profile.ReadInt(kServerSettings, "MaxTransfers", -1);
    home.disabled = profile.ReadInt(kServerSettings, "Disabled", 0);
    home.storeOverwrite = profile.ReadInt(kServerSettings, "STORE_overwrite", -1);
    home.tlsCertificate = profile.ReadString(kServerSettings, "TlsCertificate", "");
    home.tlsKey = profile.ReadString(kServerSettings, "TlsKey", "");
    home.tlsImplicit = profile.ReadInt(kServerSettings, "TlsImplicit", 0);
    home.tlsPolicy = profile.ReadString(kServerSettings, "TlsPolicy", "");
    home.tlsResumption = profile.ReadString(kServerSettings, "TlsResumption", "");
    home.ipv6Only = profile.ReadInt(kServerSettings, "IPv6Only", 1);
    home.pasvPortMin = profile.ReadInt(kServerSettings, "PasvPortMin", 0);
    home.pasvPortMax = profile.ReadInt(kServerSettings, "PasvPortMax", 0);
    home.pasvAddress = text("PasvAddress");
    home.trustedProxies = text("TrustedProxies");
    home.usersDir = UsersDir(file.parent_path(), home.name);
    home.groupsDir = GroupsDir(file.parent_path(), home.name);
    return home;
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> PassivePorts(const IpHome& home) {
    const bool inRange = home.pasvPortMin >= 1 && home.pasvPortMax <= 65535 && home.pasvPortMin <= home.pasvPortMax;
    if (!inRange) return std::nullopt;
    return std::pair{static_cast<std::uint16_t>(home.pasvPortMin), static_cast<std::uint16_t>(home.pasvPortMax)};
}

std::vector<std::string> SplitAddressList(std::string_view text) {
    std::vector<std::string> items;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        const std::size_t first = item.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        item = item.substr(first, item.find_last_not_of(" \t") - first + 1);
        items.emplace_back(item);
    }
    return items;
}

bool IsAddressList(std::string_view text) {
    const auto items = SplitAddressList(text);
    return std::all_of(items.begin(), items.end(), [](const std::string& item) { return net::Endpoint::Parse(item); });
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> ParsePortRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto number = [](std::string_view digits) {
        return net::IsAsciiDigits(digits, 5) ? std::stoi(std::string(digits)) : 0;
    };
    IpHome range;
    range.pasvPortMin = number(text.substr(0, dash));
    range.pasvPortMax = number(text.substr(dash + 1));
    return PassivePorts(range);
}

bool WriteIpHome(const fs::path& file, const IpHome& values) {
    ProfileEditor editor(file);
    editor.Set(kServerSettings, "ServerName", values.serverName);
    editor.Set(kServerSettings, "ServerIP", values.serverIp);
    editor.Set(kServerSettings, "ServerPort", values.serverPort);
    editor.Set(kServerSettings, "MaxUsers", LimitText(values.maxUsers));
    editor.Set(kServerSettings, "MaxTransfers", LimitText(values.maxTransfers));
    editor.Set(kServerSettings, "Disabled", std::to_string(values.disabled));
    editor.Set(kServerSettings, "STORE_overwrite", std::to_string(values.storeOverwrite));
    editor.SetOptional(kServerSettings, "TlsPolicy", values.tlsPolicy);
    editor.SetOptional(kServerSettings, "TlsResumption", values.tlsResumption);
    editor.SetOptional(kServerSettings, "TlsCertificate", values.tlsCertificate);
    editor.SetOptional(kServerSettings, "TlsKey", values.tlsKey);
    editor.SetOptional(kServerSettings, "TlsImplicit", values.tlsImplicit == 1 ? "1" : "");
    WriteNetworkKeys(editor, file, values);
    return editor.Save();
}

bool WriteDefaultIpHome(const fs::path& file) {
    ProfileEditor editor(file);
    editor.Set(kServerSettings, "ServerName", "Tolvane Daemon");
    editor.Set(kServerSettings, "ServerIP", "All IP's");
    editor.Set(kServerSettings, "ServerPort", "21");
    editor.Set(kServerSettings, "MaxUsers", "");
    editor.Set(kServerSettings, "MaxTransfers", "");
    return editor.Save();
}

// ---- accounts ------------------------------------------------------------

std::optional<AccountFiles> FindAccount(const fs::path& usersDir, const fs::path& groupsDir,
                                        std::string_view userName) {
    if (!IsValidEntryName(userName)) return std::nullopt;
    const fs::path own = UserFile(usersDir, userName);
    if (IsRegularFile(own)) return AccountFiles{own, own};
    for (const std::string& group : ListTitles(groupsDir, kGroupExtension)) {
        const fs::path member = UserFile(GroupMembersDir(groupsDir, group), userName);
        if (IsRegularFile(member)) return AccountFiles{member, GroupFile(groupsDir, group)};
    }
    return std::nullopt;
}

std::string ReadAccountKey(const AccountFiles& files, std::string_view section, std::string_view key) {
    return Truncated(ReadProfileString(KeySource(files, section, key), section, key, kListEnd), kLoginValueLimit);
}

std::vector<std::string> ReadAccountList(const AccountFiles& files, std::string_view section,
                                         std::string_view prefix, int firstIndex) {
    std::vector<std::string> values =
        ReadList(ProfileFile::Load(KeySource(files, section, prefix)), section, prefix, firstIndex);
    for (std::string& value : values) value = Truncated(std::move(value), kLoginValueLimit);
    return values;
}

AccountSettings LoadAccountSettings(const fs::path& sourceFile, const fs::path& settingsFile) {
    const ProfileFile source = ProfileFile::Load(sourceFile);
    const std::optional<ProfileFile> separate =
        settingsFile == sourceFile ? std::nullopt : std::optional(ProfileFile::Load(settingsFile));
    const ProfileFile& group = separate ? *separate : source;

    AccountSettings settings;
    LoadIdentity(source, settings);
    LoadLimits(source, group, settings);
    settings.dynamicRuleFile = settingsFile;
    LoadSpeedLimits(source, group, settings);
    LoadRatio(source, settings);
    LoadLogging(source, settings);
    return settings;
}

bool WriteAccount(const fs::path& file, const AccountValues& values) {
    ProfileEditor editor(file);
    SetAccountValues(editor, values);
    return editor.Save();
}

bool UpdateAccount(const fs::path& file, const std::function<void(AccountValues&)>& change) {
    return ProfileEditor(file).SaveAfter([&change](const ProfileFile& current, ProfileEditor& editor) {
        AccountValues values = ReadAccountValues(current);
        change(values);
        SetAccountValues(editor, values);
        return true;
    });
}

AccountValues ReadAccountValues(const fs::path& file) { return ReadAccountValues(ProfileFile::Load(file)); }

AccountValues ReadAccountValues(const ProfileFile& profile) {
    AccountValues values;
    values.password = profile.ReadString("Userinformation", "Password", "");
    values.rootDir = profile.ReadString("Userinformation", "RootDir", "");
    for (const std::string& text : ReadList(profile, "Userinformation", "AccessingRules", 1))
        values.accessingRules.push_back(ParseAccessingRule(text));
    values.disableAccount = NotFalse(profile, "MISC-OPTIONS", "DisableAccount");
    values.hideHidden = NotFalse(profile, "MISC-OPTIONS", "HideHidden");
    values.showRelativePath = NotFalse(profile, "MISC-OPTIONS", "ShowRelativePath");
    values.allow = NotFalse(profile, "MISC-OPTIONS", "Allow");
    values.maxUsers = FieldText(profile, "MISC-OPTIONS", "MaxUsers");
    values.loginMessage = profile.ReadString("MISC-OPTIONS", "LoginMessage", "");
    values.timeoutMinutes = TimeoutMinutes(profile);
    values.multipleLogins = FieldText(profile, "MISC-OPTIONS", "MultipleLogins");
    values.tlsPolicy = profile.ReadString("MISC-OPTIONS", "TlsPolicy", "");
    values.ratioEnabled = NotFalse(profile, "RATIO", "RatioEnabled");
    values.ratioType = profile.ReadString("RATIO", "RatioType", "");
    values.upload = FieldText(profile, "RATIO", "Upload");
    values.download = FieldText(profile, "RATIO", "Download");
    values.credit = FieldText(profile, "RATIO", "Credit");
    values.ipAccessRules = ReadList(profile, "IPAccess", "IPAccessRule", 0);
    values.logEnabled = IsTrue(profile, "Logging", "Enabled");
    values.filenameMask = profile.ReadString("Logging", "FilenameMask", kDefaultLogFilenameMask);
    values.logFtpCommands = IsTrue(profile, "Logging", "LogFTPCommands");
    values.logFtpReplies = IsTrue(profile, "Logging", "LogFTPReplies");
    values.logSystemMessages = IsTrue(profile, "Logging", "LogSystemMessages");
    values.receivingSpeed = FieldText(profile, "SPEED-LIMIT", "ReceivingSpeed");
    values.sendingSpeed = FieldText(profile, "SPEED-LIMIT", "SendingSpeed");
    values.listingSpeed = FieldText(profile, "SPEED-LIMIT", "ListingSpeed");
    values.speedLimitMode = StoredSpeedMode(profile);
    values.dynamicSpeedLimitRules = ReadList(profile, "SPEED-LIMIT", "DynamicSpeedLimitRule", 0);
    return values;
}

// ---- numbered lists ------------------------------------------------------

std::vector<std::string> ReadList(const ProfileFile& profile, std::string_view section, std::string_view prefix,
                                  int firstIndex) {
    std::vector<std::string> values;
    // Each element needs a distinct key of a bounded file, so the index cannot run away.
    for (int index = firstIndex;; ++index) {
        std::string value = profile.ReadString(section, ListKey(prefix, index), kListEnd);
        if (value == kListEnd) return values;
        values.push_back(std::move(value));
    }
}

std::vector<std::string> ReadList(const fs::path& file, std::string_view section, std::string_view prefix,
                                  int firstIndex) {
    return ReadList(ProfileFile::Load(file), section, prefix, firstIndex);
}

bool WriteList(const fs::path& file, std::string_view section, std::string_view prefix, int firstIndex,
               const std::vector<std::string>& values) {
    ProfileEditor editor(file);
    SetList(editor, section, prefix, firstIndex, values);
    return editor.Save();
}

// ---- entries -------------------------------------------------------------

bool CreateIpHome(const fs::path& databaseDir, std::string_view title) {
    return IsValidEntryName(title) && CreateEmptyFile(IpHomeFile(databaseDir, title)) &&
           CreateFolder(UsersDir(databaseDir, title)) && CreateFolder(GroupsDir(databaseDir, title));
}

bool CreateGroup(const fs::path& groupsDir, std::string_view group) {
    return IsValidEntryName(group) && CreateEmptyFile(GroupFile(groupsDir, group)) &&
           CreateFolder(GroupMembersDir(groupsDir, group));
}

bool CreateUser(const fs::path& folder, std::string_view userName) {
    return IsValidEntryName(userName) && CreateEmptyFile(UserFile(folder, userName));
}

bool RenameIpHome(const fs::path& databaseDir, std::string_view oldTitle, std::string_view newTitle) {
    if (!AreValidNames(oldTitle, newTitle) || oldTitle == kDefaultIpHome || newTitle == kDefaultIpHome) return false;
    return RenameFileAndFolder(IpHomeFile(databaseDir, oldTitle), IpHomeDir(databaseDir, oldTitle),
                               IpHomeFile(databaseDir, newTitle), IpHomeDir(databaseDir, newTitle));
}

bool RenameGroup(const fs::path& groupsDir, std::string_view oldName, std::string_view newName) {
    return AreValidNames(oldName, newName) &&
           RenameFileAndFolder(GroupFile(groupsDir, oldName), GroupMembersDir(groupsDir, oldName),
                               GroupFile(groupsDir, newName), GroupMembersDir(groupsDir, newName));
}

bool RenameUser(const fs::path& folder, std::string_view oldName, std::string_view newName) {
    if (!AreValidNames(oldName, newName)) return false;
    const fs::path from = UserFile(folder, oldName);
    const fs::path to = UserFile(folder, newName);
    return Exists(from) && !Exists(to) && RenameIfPresent(from, to);
}

bool DeleteIpHome(const fs::path& databaseDir, std::string_view title) {
    return IsValidEntryName(title) && title != kDefaultIpHome && RemoveTree(IpHomeDir(databaseDir, title)) &&
           RemoveEntry(IpHomeFile(databaseDir, title));
}

bool DeleteGroup(const fs::path& groupsDir, std::string_view group) {
    return IsValidEntryName(group) && RemoveTree(GroupMembersDir(groupsDir, group)) &&
           RemoveEntry(GroupFile(groupsDir, group));
}

bool DeleteUser(const fs::path& folder, std::string_view userName) {
    return IsValidEntryName(userName) && RemoveEntry(UserFile(folder, userName));
}

}  // namespace tolvane::store
