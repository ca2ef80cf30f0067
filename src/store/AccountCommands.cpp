#include "store/AccountCommands.h"

#include "store/AccountDatabase.h"
#include "store/IpRules.h"
#include "store/ProfileFile.h"
#include "store/SpeedRules.h"

#include <algorithm>
#include <arpa/inet.h>
#include <istream>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>

namespace tolvane::store {
namespace fs = std::filesystem;
namespace {

// ---- usage ---------------------------------------------------------------

constexpr std::string_view kIpHomeUsage =
    "Usage: tolvaned [--home DIR] iphome COMMAND [ARGS]\n"
    "\n"
    "Manages the IP homes: the local address and port each set of accounts is served on.\n"
    "\n"
    "Commands:\n"
    "  list                        list the IP homes\n"
    "  add ADDRESS PORT [OPTIONS]  add the IP home titled ADDRESS-PORT\n"
    "      --name TEXT             display name (default: the title)\n"
    "      --max-users N           most users logged in at once (default: no limit)\n"
    "      --max-transfers N       most transfers at once (default: no limit)\n"
    "      --overwrite             uploads replace existing files\n"
    "      --disabled              do not bring the home online\n"
    "  show TITLE                  show an IP home's settings\n"
    "  remove TITLE                remove an IP home with all its accounts;\n"
    "                              \"[Full Machine]\" cannot be removed\n"
    "\n"
    "  --home DIR                  server home (default as for serving)\n"
    "  --help                      show this text\n"
    "\n"
    "A running daemon takes IP home changes on SIGHUP.\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

constexpr std::string_view kAccountOptionsUsage =
    "Account options (add and set; set keeps every value it is not given):\n"
    "  --password-stdin            read the password from the first line of standard input\n"
    "  --root DIR                  home directory: absolute and existing\n"
    "  --rule DIR:LETTERS          directory rule, repeatable; letters out of RWDECLMrdcI\n"
    "                              (R read, W write, D delete, E execute, C rename,\n"
    "                              L list, M make dir, r remove dir, c rename dir,\n"
    "                              d deny, I inherit to subdirectories)\n"
    "  --no-rules                  remove every directory rule\n"
    "  --ip-rule Allow:PATTERN|Deny:PATTERN\n"
    "                              address rule, repeatable; PATTERN like 192.168.*.*\n"
    "  --no-ip-rules               remove every address rule\n"
    "  --relative-paths | --absolute-paths\n"
    "  --disabled | --enabled\n"
    "  --hide-hidden | --show-hidden\n"
    "  --max-users N|none          most sessions of the account at once\n"
    "  --multiple-logins N         most sessions from one client address...\n"
    "  --per-address-limit | --no-per-address-limit\n"
    "                              ...when this limit is in force\n"
    "  --timeout-minutes N         idle time-out, 0 for none\n"
    "  --login-message FILE        text file sent after login (empty: none)\n"
    "  --ratio TYPE:UPLOAD:DOWNLOAD:CREDIT | --no-ratio\n"
    "                              TYPE: bytes-session, files-session, bytes-sessions\n"
    "                              or files-sessions\n"
    "  --log MASK | --no-log       session log file name, with %DATE %TIME %USER %IP\n"
    "  --log-content LIST          comma list of commands, replies, system; or none\n"
    "  --speed static:RECV:SEND:LIST | --speed dynamic | --speed none\n"
    "                              limits in kb/s\n"
    "  --speed-rule DAY-H:M-H:M-RECV,SEND,LIST\n"
    "                              time-of-day limit, repeatable; DAY Everyday or a weekday\n"
    "  --no-speed-rules            remove every time-of-day limit\n";

constexpr std::string_view kUserUsageHead =
    "Usage: tolvaned [--home DIR] user COMMAND [ARGS]\n"
    "\n"
    "Manages the users of an IP home. Every command takes --iphome TITLE\n"
    "(default \"[Full Machine]\"); a name may occur once in an IP home.\n"
    "\n"
    "Commands:\n"
    "  list                        list the users, with their groups\n"
    "  add NAME [--group GROUP] [ACCOUNT OPTIONS]\n"
    "                              add a user; --root is needed outside a group\n"
    "  show NAME                   show a user's settings\n"
    "  rename OLD NEW              rename a user\n"
    "  remove NAME                 remove a user\n"
    "  set NAME [ACCOUNT OPTIONS]  change a user's settings\n"
    "\n";

constexpr std::string_view kGroupUsageHead =
    "Usage: tolvaned [--home DIR] group COMMAND [ARGS]\n"
    "\n"
    "Manages the groups of an IP home. Members log in with the group's settings\n"
    "and their own password. Every command takes --iphome TITLE (default \"[Full Machine]\").\n"
    "\n"
    "Commands:\n"
    "  list                        list the groups and their members\n"
    "  add GROUP [ACCOUNT OPTIONS] add a group\n"
    "  show GROUP                  show a group's settings and members\n"
    "  remove GROUP                remove a group with its members\n"
    "  set GROUP [ACCOUNT OPTIONS] change a group's settings\n"
    "\n";

constexpr std::string_view kUsageTail =
    "\n"
    "  --home DIR                  server home (default as for serving)\n"
    "  --help                      show this text\n"
    "\n"
    "Changes take effect at the next login.\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

// ---- errors --------------------------------------------------------------

struct CommandError {
    int code;
    std::string message;
};

[[noreturn]] void Misused(std::string message) { throw CommandError{kCommandMisused, std::move(message)}; }
[[noreturn]] void Failed(std::string message) { throw CommandError{kCommandFailed, std::move(message)}; }

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// ---- argument parsing ----------------------------------------------------

struct Option {
    std::string_view name;
    bool takesValue;
};

struct Arguments {
    std::vector<std::string> positionals;
    std::vector<std::pair<std::string, std::string>> options;  // in command-line order

    bool Has(std::string_view name) const {
        for (const auto& option : options)
            if (option.first == name) return true;
        return false;
    }
    std::optional<std::string> Last(std::string_view name) const {
        std::optional<std::string> value;
        for (const auto& option : options)
            if (option.first == name) value = option.second;
        return value;
    }
    std::vector<std::string> All(std::string_view name) const {
        std::vector<std::string> values;
        for (const auto& option : options)
            if (option.first == name) values.push_back(option.second);
        return values;
    }
};

const Option* FindOption(const std::vector<Option>& known, std::string_view name) {
    for (const Option& option : known)
        if (option.name == name) return &option;
    return nullptr;
}

// Line breaks would split a profile line; refused here so that no write is even tried.
void CheckValue(std::string_view option, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos) Misused(std::string(option) + ": line breaks are not allowed");
}

Arguments Parse(const std::vector<std::string>& words, std::size_t first, const std::vector<Option>& known) {
    Arguments arguments;
    bool optionsEnded = false;
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || !word.starts_with("--")) {
            arguments.positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const Option* option = FindOption(known, name);
        if (!option) Misused("unknown option " + Quoted(name));
        std::string value;
        if (option->takesValue && equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (option->takesValue) {
            if (++i == words.size()) Misused("option " + Quoted(name) + " needs a value");
            value = words[i];
        } else if (equals != std::string::npos) {
            Misused("option " + Quoted(name) + " takes no value");
        }
        CheckValue(name, value);
        arguments.options.emplace_back(name, std::move(value));
    }
    return arguments;
}

void ExpectPositionals(const Arguments& arguments, std::size_t count, std::string_view shape) {
    if (arguments.positionals.size() != count) Misused("expected " + std::string(shape));
}

// ---- value checks --------------------------------------------------------

// Names become file names: one entry of its folder, with room for the extension.
void CheckEntryName(std::string_view kind, std::string_view name, std::string_view extension) {
    if (!IsValidEntryName(name))
        Failed("invalid " + std::string(kind) + " name " + Quoted(name) +
               ": it must not be empty, '.' or '..', nor contain '/' or NUL");
    if (!FitsFileName(name, extension))
        Failed(std::string(kind) + " name too long: at most " + std::to_string(kMaxFileNameBytes - extension.size()) +
               " bytes");
}

bool IsDigits(std::string_view text) {
    return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string Count(std::string_view option, std::string_view text) {
    if (!IsDigits(text)) Misused(std::string(option) + ": expected a whole number, got " + Quoted(text));
    return std::to_string(ParseProfileInt(text));
}

std::string Speed(std::string_view option, std::string_view text) {
    if (!IsSpeedValue(text)) Misused(std::string(option) + ": expected a speed in kb/s, got " + Quoted(text));
    return std::string(text);
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::string WithTrailingSlash(std::string path) {
    if (!path.ends_with('/')) path += '/';
    return path;
}

std::string AbsoluteFolder(std::string_view option, std::string_view path) {
    if (!path.starts_with('/')) Misused(std::string(option) + ": " + Quoted(path) + " is not an absolute path");
    return WithTrailingSlash(std::string(path));
}

std::string ExistingRoot(std::string_view path) {
    std::string root = AbsoluteFolder("--root", path);
    std::error_code error;
    if (!fs::is_directory(root, error)) Failed("root directory " + Quoted(path) + " does not exist");
    return root;
}

AccessingRule Rule(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) Misused("--rule: expected DIR:LETTERS, got " + Quoted(text));
    const std::string letters(text.substr(colon + 1));
    if (!ArePermissionLetters(letters))
        Misused("--rule: letters must be out of " + AllPermissionLetters() + ", got " + Quoted(letters));
    return {AbsoluteFolder("--rule", text.substr(0, colon)), letters};
}

std::string CheckedIpRule(std::string_view text) {
    const auto rule = ParseIpRule(text);
    if (!rule || (rule->type != "Allow" && rule->type != "Deny"))
        Misused("--ip-rule: expected Allow:PATTERN or Deny:PATTERN, got " + Quoted(text));
    if (!IsValidIpRule(text)) Misused("--ip-rule: expected a pattern like 192.168.*.*, got " + Quoted(rule->pattern));
    return std::string(text);
}

std::string RatioType(std::string_view text) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"bytes-session", "Bytes per Session"},
        {"files-session", "Files per Session"},
        {"bytes-sessions", "Bytes per Sessions"},
        {"files-sessions", "Files per Sessions"}};
    for (const auto& [shortName, stored] : kTypes)
        if (text == shortName || text == stored) return std::string(stored);
    Misused("--ratio: unknown type " + Quoted(text));
}

std::string SpeedRule(std::string_view text) {
    if (!IsValidSpeedRule(text)) Misused("--speed-rule: expected DAY-H:M-H:M-RECV,SEND,LIST, got " + Quoted(text));
    return std::string(text);
}

// ---- account options -----------------------------------------------------

const std::vector<Option> kAccountOptions = {
    {"--password-stdin", false}, {"--root", true},           {"--rule", true},
    {"--no-rules", false},       {"--ip-rule", true},        {"--no-ip-rules", false},
    {"--relative-paths", false}, {"--absolute-paths", false}, {"--disabled", false},
    {"--enabled", false},        {"--hide-hidden", false},   {"--show-hidden", false},
    {"--max-users", true},       {"--multiple-logins", true}, {"--per-address-limit", false},
    {"--no-per-address-limit", false}, {"--timeout-minutes", true}, {"--login-message", true},
    {"--ratio", true},           {"--no-ratio", false},      {"--log", true},
    {"--no-log", false},         {"--log-content", true},    {"--speed", true},
    {"--speed-rule", true},      {"--no-speed-rules", false}, {"--iphome", true},
    {"--group", true},           {"--help", false}};

// A pair of opposite switches: the later one on the command line wins.
void ApplySwitch(const Arguments& arguments, std::string_view on, std::string_view off, bool& value) {
    for (const auto& option : arguments.options) {
        if (option.first == on) value = true;
        if (option.first == off) value = false;
    }
}

std::string ReadPassword(std::istream& in) {
    std::string password;
    if (!std::getline(in, password)) Failed("--password-stdin: no password on standard input");
    if (password.ends_with('\r')) password.pop_back();
    if (password.find('\0') != std::string::npos) Failed("--password-stdin: the password contains NUL");
    return password;
}

void ApplyRules(const Arguments& arguments, AccountValues& values) {
    if (arguments.Has("--no-rules") || arguments.Has("--rule")) values.accessingRules.clear();
    for (const std::string& text : arguments.All("--rule")) values.accessingRules.push_back(Rule(text));
    if (arguments.Has("--no-ip-rules") || arguments.Has("--ip-rule")) values.ipAccessRules.clear();
    for (const std::string& text : arguments.All("--ip-rule")) values.ipAccessRules.push_back(CheckedIpRule(text));
}

void ApplyLimits(const Arguments& arguments, AccountValues& values) {
    if (const auto text = arguments.Last("--max-users"))
        values.maxUsers = *text == "none" ? std::string() : Count("--max-users", *text);
    if (const auto text = arguments.Last("--multiple-logins")) values.multipleLogins = Count("--multiple-logins", *text);
    if (const auto text = arguments.Last("--timeout-minutes")) values.timeoutMinutes = Count("--timeout-minutes", *text);
    if (const auto text = arguments.Last("--login-message")) values.loginMessage = *text;
    ApplySwitch(arguments, "--relative-paths", "--absolute-paths", values.showRelativePath);
    ApplySwitch(arguments, "--disabled", "--enabled", values.disableAccount);
    ApplySwitch(arguments, "--hide-hidden", "--show-hidden", values.hideHidden);
    ApplySwitch(arguments, "--per-address-limit", "--no-per-address-limit", values.allow);
}

void ApplyRatio(const Arguments& arguments, AccountValues& values) {
    if (arguments.Has("--no-ratio")) values.ratioEnabled = false;
    const auto text = arguments.Last("--ratio");
    if (!text) return;
    const std::vector<std::string> parts = Split(*text, ':');
    if (parts.size() != 4) Misused("--ratio: expected TYPE:UPLOAD:DOWNLOAD:CREDIT, got " + Quoted(*text));
    values.ratioEnabled = true;
    values.ratioType = RatioType(parts[0]);
    values.upload = Count("--ratio upload", parts[1]);
    values.download = Count("--ratio download", parts[2]);
    values.credit = Count("--ratio credit", parts[3]);
}

void ApplyLogContent(std::string_view list, AccountValues& values) {
    values.logFtpCommands = values.logFtpReplies = values.logSystemMessages = false;
    if (list == "none") return;
    for (const std::string& item : Split(list, ',')) {
        if (item == "commands") values.logFtpCommands = true;
        else if (item == "replies") values.logFtpReplies = true;
        else if (item == "system") values.logSystemMessages = true;
        else Misused("--log-content: unknown item " + Quoted(item));
    }
}

void ApplyLogging(const Arguments& arguments, AccountValues& values) {
    if (arguments.Has("--no-log")) values.logEnabled = false;
    if (const auto mask = arguments.Last("--log")) {
        if (mask->empty() || mask->find('/') != std::string::npos)
            Misused("--log: the mask must be a non-empty file name");
        values.logEnabled = true;
        values.filenameMask = *mask;
    }
    if (const auto list = arguments.Last("--log-content")) ApplyLogContent(*list, values);
}

void ApplySpeedMode(std::string_view text, AccountValues& values) {
    if (text == "none") {
        values.speedLimitMode = SpeedLimitMode::None;
        return;
    }
    if (text == "dynamic") {
        values.speedLimitMode = SpeedLimitMode::Dynamic;
        return;
    }
    const std::vector<std::string> parts = Split(text, ':');
    if (parts.size() != 4 || parts[0] != "static")
        Misused("--speed: expected static:RECV:SEND:LIST, dynamic or none, got " + Quoted(text));
    values.speedLimitMode = SpeedLimitMode::Static;
    values.receivingSpeed = Speed("--speed", parts[1]);
    values.sendingSpeed = Speed("--speed", parts[2]);
    values.listingSpeed = Speed("--speed", parts[3]);
}

void ApplySpeed(const Arguments& arguments, AccountValues& values) {
    if (const auto text = arguments.Last("--speed")) ApplySpeedMode(*text, values);
    if (arguments.Has("--no-speed-rules") || arguments.Has("--speed-rule")) values.dynamicSpeedLimitRules.clear();
    for (const std::string& text : arguments.All("--speed-rule"))
        values.dynamicSpeedLimitRules.push_back(SpeedRule(text));
}

// Everything is checked before anything is written.
void ApplyAccountOptions(const Arguments& arguments, std::istream& in, AccountValues& values) {
    if (const auto root = arguments.Last("--root")) values.rootDir = ExistingRoot(*root);
    ApplyRules(arguments, values);
    ApplyLimits(arguments, values);
    ApplyRatio(arguments, values);
    ApplyLogging(arguments, values);
    ApplySpeed(arguments, values);
    if (arguments.Has("--password-stdin")) values.password = ReadPassword(in);
}

AccountValues NewAccountValues() {
    AccountValues values;
    values.filenameMask = std::string(kDefaultLogFilenameMask);
    return values;
}

// ---- reading back --------------------------------------------------------

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

// ---- database places -----------------------------------------------------

struct HomeFolders {
    std::string title;
    fs::path usersDir;
    fs::path groupsDir;
};

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

HomeFolders ExistingIpHome(const fs::path& serverHome, std::string_view title) {
    CheckEntryName("IP home", title, kIpHomeExtension);
    const fs::path database = DatabaseDir(serverHome);
    if (!IsFile(IpHomeFile(database, title)))
        Failed("no IP home " + Quoted(title) + " in " + database.string() + " (see 'tolvaned iphome list')");
    return {std::string(title), UsersDir(database, title), GroupsDir(database, title)};
}

HomeFolders SelectedIpHome(const fs::path& serverHome, const Arguments& arguments) {
    return ExistingIpHome(serverHome, arguments.Last("--iphome").value_or(std::string(kDefaultIpHome)));
}

AccountFiles ExistingUser(const HomeFolders& home, std::string_view name) {
    CheckEntryName("user", name, kUserExtension);
    const auto files = FindAccount(home.usersDir, home.groupsDir, name);
    if (!files) Failed("no user " + Quoted(name) + " in IP home " + Quoted(home.title));
    return *files;
}

void CheckUserNameFree(const HomeFolders& home, std::string_view name) {
    CheckEntryName("user", name, kUserExtension);
    if (FindAccount(home.usersDir, home.groupsDir, name))
        Failed("user " + Quoted(name) + " already exists in IP home " + Quoted(home.title));
}

fs::path ExistingGroupFile(const HomeFolders& home, std::string_view group) {
    CheckEntryName("group", group, kGroupExtension);
    const fs::path file = GroupFile(home.groupsDir, group);
    if (!IsFile(file)) Failed("no group " + Quoted(group) + " in IP home " + Quoted(home.title));
    return file;
}

std::string FolderOf(const fs::path& file) { return file.parent_path().string() + "/"; }

std::string CannotWrite(const fs::path& where) {
    return "cannot write to " + where.string() + " (is the folder writable?); nothing was changed";
}

// ---- showing -------------------------------------------------------------

void ShowLine(std::ostream& out, std::string_view label, std::string_view value) {
    out << "  " << label << ':' << std::string(18 - std::min<std::size_t>(label.size(), 17), ' ') << value << '\n';
}

std::string OnOff(bool on) { return on ? "yes" : "no"; }
std::string OrNone(std::string_view text) { return text.empty() ? "none" : std::string(text); }

std::string SpeedModeText(const AccountValues& values) {
    switch (values.speedLimitMode) {
    case SpeedLimitMode::Static: return "static";
    case SpeedLimitMode::Dynamic: return "dynamic";
    case SpeedLimitMode::None: break;
    }
    return "none";
}

void ShowAccessRules(std::ostream& out, const AccountValues& values) {
    if (values.accessingRules.empty()) ShowLine(out, "rules", "none");
    for (const AccessingRule& rule : values.accessingRules)
        ShowLine(out, "rule", rule.path + " " + (rule.letters.empty() ? "-" : rule.letters));
    if (values.ipAccessRules.empty()) ShowLine(out, "ip rules", "none");
    for (const std::string& rule : values.ipAccessRules) ShowLine(out, "ip rule", rule);
}

void ShowLimits(std::ostream& out, const AccountValues& values) {
    ShowLine(out, "disabled", OnOff(values.disableAccount));
    ShowLine(out, "relative paths", OnOff(values.showRelativePath));
    ShowLine(out, "hide hidden", OnOff(values.hideHidden));
    ShowLine(out, "max users", values.maxUsers.empty() ? "no limit" : values.maxUsers);
    ShowLine(out, "per-address limit",
             values.allow ? (values.multipleLogins.empty() ? "1" : values.multipleLogins) : "off");
    ShowLine(out, "timeout", values.timeoutMinutes.empty() ? "none" : values.timeoutMinutes + " minutes");
    ShowLine(out, "login message", OrNone(values.loginMessage));
}

void ShowExtras(std::ostream& out, const AccountValues& values) {
    ShowLine(out, "ratio", values.ratioEnabled ? values.ratioType + ", upload " + values.upload + ", download " +
                                                     values.download + ", credit " + values.credit
                                               : "off");
    std::string content;
    if (values.logFtpCommands) content += " commands";
    if (values.logFtpReplies) content += " replies";
    if (values.logSystemMessages) content += " system";
    ShowLine(out, "log", values.logEnabled ? values.filenameMask + " (" + OrNone(content.empty() ? "" : content.substr(1)) + ")"
                                           : "off");
    const std::string speeds = "receive " + OrNone(values.receivingSpeed) + ", send " + OrNone(values.sendingSpeed) +
                               ", list " + OrNone(values.listingSpeed) + " kb/s";
    ShowLine(out, "speed limit", SpeedModeText(values) + (values.speedLimitMode == SpeedLimitMode::Static ? ": " + speeds : ""));
    for (const std::string& rule : values.dynamicSpeedLimitRules) ShowLine(out, "speed rule", rule);
}

void ShowAccount(std::ostream& out, const AccountValues& values) {
    ShowLine(out, "password", values.password.empty() ? "not set" : "set");
    ShowLine(out, "root", OrNone(values.rootDir));
    ShowAccessRules(out, values);
    ShowLimits(out, values);
    ShowExtras(out, values);
}

// ---- iphome --------------------------------------------------------------

int IpHomeList(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 0, "no arguments");
    const fs::path database = DatabaseDir(serverHome);
    for (const std::string& title : ListTitles(database, kIpHomeExtension)) {
        const IpHome home = ReadIpHome(IpHomeFile(database, title));
        out << title << '\t' << (home.disabled == 1 ? "disabled" : "enabled") << '\t' << home.serverName << '\n';
    }
    return kCommandSucceeded;
}

std::string Port(std::string_view text) {
    if (!IsDigits(text) || ParseProfileInt(text) < 1 || ParseProfileInt(text) > 65535)
        Misused("PORT must be a number from 1 to 65535, got " + Quoted(text));
    return std::to_string(ParseProfileInt(text));
}

std::string Address(std::string_view text) {
    in_addr address{};
    if (inet_pton(AF_INET, std::string(text).c_str(), &address) != 1)
        Misused("ADDRESS must be a dotted IPv4 address, got " + Quoted(text));
    return std::string(text);
}

int OptionalCount(const Arguments& arguments, std::string_view option) {
    const auto text = arguments.Last(option);
    return text ? ParseProfileInt(Count(option, *text)) : -1;
}

int IpHomeAdd(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 2, "ADDRESS PORT");
    IpHome home;
    home.serverIp = Address(arguments.positionals[0]);
    home.serverPort = Port(arguments.positionals[1]);
    home.name = home.serverIp + "-" + home.serverPort;
    home.serverName = arguments.Last("--name").value_or(home.name);
    home.maxUsers = OptionalCount(arguments, "--max-users");
    home.maxTransfers = OptionalCount(arguments, "--max-transfers");
    home.disabled = arguments.Has("--disabled") ? 1 : 0;
    home.storeOverwrite = arguments.Has("--overwrite") ? 1 : 0;
    const fs::path database = DatabaseDir(serverHome);
    if (IsFile(IpHomeFile(database, home.name))) Failed("IP home " + Quoted(home.name) + " already exists");
    std::error_code error;
    fs::create_directories(database, error);
    if (error || !CreateIpHome(database, home.name)) {
        DeleteIpHome(database, home.name);
        Failed(CannotWrite(database));
    }
    if (!WriteIpHome(IpHomeFile(database, home.name), home)) {
        DeleteIpHome(database, home.name);
        Failed(CannotWrite(database));
    }
    out << "added IP home " << home.name << '\n';
    return kCommandSucceeded;
}

std::string LimitText(int limit) { return limit < 0 ? "no limit" : std::to_string(limit); }

int IpHomeShow(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "TITLE");
    const HomeFolders folders = ExistingIpHome(serverHome, arguments.positionals[0]);
    const IpHome home = ReadIpHome(IpHomeFile(DatabaseDir(serverHome), folders.title));
    out << home.name << '\n';
    ShowLine(out, "name", home.serverName);
    ShowLine(out, "address", home.name == kDefaultIpHome ? "all local addresses" : home.serverIp);
    ShowLine(out, "port", home.serverPort);
    ShowLine(out, "max users", LimitText(home.maxUsers));
    ShowLine(out, "max transfers", LimitText(home.maxTransfers));
    ShowLine(out, "disabled", OnOff(home.disabled == 1));
    ShowLine(out, "overwrite", OnOff(home.storeOverwrite > 0));
    ShowLine(out, "users", std::to_string(ListTitles(folders.usersDir, kUserExtension).size()));
    ShowLine(out, "groups", std::to_string(ListTitles(folders.groupsDir, kGroupExtension).size()));
    return kCommandSucceeded;
}

int IpHomeRemove(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "TITLE");
    const std::string& title = arguments.positionals[0];
    if (title == kDefaultIpHome) Failed(Quoted(title) + " is the default IP home and cannot be removed");
    ExistingIpHome(serverHome, title);
    if (!DeleteIpHome(DatabaseDir(serverHome), title)) Failed("cannot remove IP home " + Quoted(title) + " completely");
    out << "removed IP home " << title << '\n';
    return kCommandSucceeded;
}

// ---- user ----------------------------------------------------------------

int UserList(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 0, "no arguments");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    for (const std::string& user : ListTitles(home.usersDir, kUserExtension)) out << user << "\t-\n";
    for (const std::string& group : ListTitles(home.groupsDir, kGroupExtension))
        for (const std::string& user : ListTitles(GroupMembersDir(home.groupsDir, group), kUserExtension))
            out << user << '\t' << group << '\n';
    return kCommandSucceeded;
}

fs::path NewUserFolder(const HomeFolders& home, const Arguments& arguments) {
    const auto group = arguments.Last("--group");
    if (!group) return home.usersDir;
    ExistingGroupFile(home, *group);
    return GroupMembersDir(home.groupsDir, *group);
}

int UserAdd(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "NAME");
    const std::string& name = arguments.positionals[0];
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    CheckUserNameFree(home, name);
    const fs::path folder = NewUserFolder(home, arguments);
    if (!arguments.Has("--group") && !arguments.Has("--root")) Misused("--root DIR is needed for a user outside a group");
    AccountValues values = NewAccountValues();
    ApplyAccountOptions(arguments, streams.in, values);
    if (!CreateUser(folder, name)) Failed(CannotWrite(folder));
    if (!WriteAccount(UserFile(folder, name), values)) {
        DeleteUser(folder, name);
        Failed(CannotWrite(folder));
    }
    streams.out << "added user " << name << '\n';
    return kCommandSucceeded;
}

std::string GroupOf(const AccountFiles& files) {
    return files.accountFile == files.settingsFile ? std::string() : files.settingsFile.stem().string();
}

int UserShow(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "NAME");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const AccountFiles files = ExistingUser(home, arguments.positionals[0]);
    out << arguments.positionals[0] << '\n';
    ShowLine(out, "ip home", home.title);
    const std::string group = GroupOf(files);
    ShowLine(out, "group", group.empty() ? "none" : group + " (its settings apply at login, but the password)");
    ShowLine(out, "file", files.accountFile.string());
    ShowAccount(out, ReadAccountValues(files.accountFile));
    return kCommandSucceeded;
}

int UserRename(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 2, "OLD NEW");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const AccountFiles files = ExistingUser(home, arguments.positionals[0]);
    CheckUserNameFree(home, arguments.positionals[1]);
    const std::string folder = FolderOf(files.accountFile);
    if (!RenameUser(folder, arguments.positionals[0], arguments.positionals[1])) Failed(CannotWrite(folder));
    out << "renamed user " << arguments.positionals[0] << " to " << arguments.positionals[1] << '\n';
    return kCommandSucceeded;
}

int UserRemove(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "NAME");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const AccountFiles files = ExistingUser(home, arguments.positionals[0]);
    const std::string folder = FolderOf(files.accountFile);
    if (!DeleteUser(folder, arguments.positionals[0])) Failed(CannotWrite(folder));
    out << "removed user " << arguments.positionals[0] << '\n';
    return kCommandSucceeded;
}

int SetAccount(const fs::path& file, const Arguments& arguments, CommandStreams streams) {
    AccountValues values = ReadAccountValues(file);
    ApplyAccountOptions(arguments, streams.in, values);
    if (!WriteAccount(file, values)) Failed(CannotWrite(file.parent_path()));
    streams.out << "updated " << file.stem().string() << '\n';
    return kCommandSucceeded;
}

int UserSet(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "NAME");
    if (arguments.Has("--group")) Misused("--group: use 'user add' to place a new user in a group");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    return SetAccount(ExistingUser(home, arguments.positionals[0]).accountFile, arguments, streams);
}

// ---- group ---------------------------------------------------------------

int GroupList(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 0, "no arguments");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    for (const std::string& group : ListTitles(home.groupsDir, kGroupExtension))
        out << group << '\t' << ListTitles(GroupMembersDir(home.groupsDir, group), kUserExtension).size()
            << " members\n";
    return kCommandSucceeded;
}

int GroupAdd(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "GROUP");
    if (arguments.Has("--group")) Misused("--group is for users");
    const std::string& group = arguments.positionals[0];
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    CheckEntryName("group", group, kGroupExtension);
    if (IsFile(GroupFile(home.groupsDir, group)))
        Failed("group " + Quoted(group) + " already exists in IP home " + Quoted(home.title));
    AccountValues values = NewAccountValues();
    ApplyAccountOptions(arguments, streams.in, values);
    if (!CreateGroup(home.groupsDir, group) || !WriteAccount(GroupFile(home.groupsDir, group), values)) {
        DeleteGroup(home.groupsDir, group);
        Failed(CannotWrite(home.groupsDir));
    }
    streams.out << "added group " << group << '\n';
    return kCommandSucceeded;
}

int GroupShow(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "GROUP");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const fs::path file = ExistingGroupFile(home, arguments.positionals[0]);
    out << arguments.positionals[0] << '\n';
    ShowLine(out, "ip home", home.title);
    std::string members;
    for (const std::string& user : ListTitles(GroupMembersDir(home.groupsDir, arguments.positionals[0]), kUserExtension))
        members += (members.empty() ? "" : ", ") + user;
    ShowLine(out, "members", OrNone(members));
    ShowAccount(out, ReadAccountValues(file));
    return kCommandSucceeded;
}

int GroupRemove(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "GROUP");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    ExistingGroupFile(home, arguments.positionals[0]);
    if (!DeleteGroup(home.groupsDir, arguments.positionals[0])) Failed(CannotWrite(home.groupsDir));
    out << "removed group " << arguments.positionals[0] << '\n';
    return kCommandSucceeded;
}

int GroupSet(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "GROUP");
    if (arguments.Has("--group")) Misused("--group is for users");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    return SetAccount(ExistingGroupFile(home, arguments.positionals[0]), arguments, streams);
}

// ---- dispatch ------------------------------------------------------------

const std::vector<Option> kIpHomeOptions = {{"--name", true},      {"--max-users", true}, {"--max-transfers", true},
                                            {"--overwrite", false}, {"--disabled", false}, {"--help", false}};
const std::vector<Option> kListingOptions = {{"--iphome", true}, {"--help", false}};

int RunIpHome(const fs::path& serverHome, const std::string& verb, const Arguments& arguments, std::ostream& out) {
    if (verb == "list") return IpHomeList(serverHome, arguments, out);
    if (verb == "add") return IpHomeAdd(serverHome, arguments, out);
    if (verb == "show") return IpHomeShow(serverHome, arguments, out);
    return IpHomeRemove(serverHome, arguments, out);
}

int RunUser(const fs::path& serverHome, const std::string& verb, const Arguments& arguments, CommandStreams streams) {
    if (verb == "list") return UserList(serverHome, arguments, streams.out);
    if (verb == "add") return UserAdd(serverHome, arguments, streams);
    if (verb == "show") return UserShow(serverHome, arguments, streams.out);
    if (verb == "rename") return UserRename(serverHome, arguments, streams.out);
    if (verb == "remove") return UserRemove(serverHome, arguments, streams.out);
    return UserSet(serverHome, arguments, streams);
}

int RunGroup(const fs::path& serverHome, const std::string& verb, const Arguments& arguments, CommandStreams streams) {
    if (verb == "list") return GroupList(serverHome, arguments, streams.out);
    if (verb == "add") return GroupAdd(serverHome, arguments, streams);
    if (verb == "show") return GroupShow(serverHome, arguments, streams.out);
    if (verb == "remove") return GroupRemove(serverHome, arguments, streams.out);
    return GroupSet(serverHome, arguments, streams);
}

struct Noun {
    std::string_view name;
    std::vector<std::string_view> verbs;
    std::string usage;
};

const Noun& FindNoun(std::string_view name) {
    static const std::vector<Noun> kNouns = {
        {"iphome", {"list", "add", "show", "remove"}, std::string(kIpHomeUsage)},
        {"user", {"list", "add", "show", "rename", "remove", "set"},
         std::string(kUserUsageHead) + std::string(kAccountOptionsUsage) + std::string(kUsageTail)},
        {"group", {"list", "add", "show", "remove", "set"},
         std::string(kGroupUsageHead) + std::string(kAccountOptionsUsage) + std::string(kUsageTail)}};
    for (const Noun& noun : kNouns)
        if (noun.name == name) return noun;
    Misused("unknown command " + Quoted(name));
}

bool IsVerb(const Noun& noun, std::string_view verb) {
    for (std::string_view known : noun.verbs)
        if (known == verb) return true;
    return false;
}

const std::vector<Option>& OptionsOf(const Noun& noun, std::string_view verb) {
    if (noun.name == "iphome") return kIpHomeOptions;
    if (verb == "add" || verb == "set") return kAccountOptions;
    return kListingOptions;
}

int Dispatch(const fs::path& serverHome, const Noun& noun, const std::vector<std::string>& words,
             CommandStreams streams) {
    if (words.size() < 2) Misused("missing " + std::string(noun.name) + " command");
    if (words[1] == "--help" || words[1] == "-h") {
        streams.out << noun.usage;
        return kCommandSucceeded;
    }
    const std::string& verb = words[1];
    if (!IsVerb(noun, verb)) Misused("unknown " + std::string(noun.name) + " command " + Quoted(verb));
    const Arguments arguments = Parse(words, 2, OptionsOf(noun, verb));
    if (arguments.Has("--help")) {
        streams.out << noun.usage;
        return kCommandSucceeded;
    }
    if (noun.name == "iphome") return RunIpHome(serverHome, verb, arguments, streams.out);
    if (noun.name == "user") return RunUser(serverHome, verb, arguments, streams);
    return RunGroup(serverHome, verb, arguments, streams);
}

}  // namespace

int RunAccountCommand(const fs::path& serverHome, const std::vector<std::string>& words, CommandStreams streams) {
    std::string_view noun = words.empty() ? std::string_view() : std::string_view(words.front());
    try {
        return Dispatch(serverHome, FindNoun(noun), words, streams);
    } catch (const CommandError& error) {
        streams.err << "tolvaned: " << error.message << '\n';
        if (error.code == kCommandMisused)
            streams.err << "Try 'tolvaned " << (noun.empty() ? "--help" : std::string(noun) + " --help") << "'.\n";
        return error.code;
    }
}

AccountValues ReadAccountValues(const fs::path& file) {
    const ProfileFile profile = ProfileFile::Load(file);
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

}  // namespace tolvane::store
