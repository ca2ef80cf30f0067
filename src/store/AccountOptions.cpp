#include "store/AccountOptions.h"

#include "store/AccountDatabase.h"
#include "store/CommandError.h"
#include "store/CommandPlaces.h"
#include "store/CommandValues.h"
#include "store/TlsPolicy.h"

#include <ostream>

namespace tolvane::store::cli {
namespace {

// A pair of opposite switches: the later one on the command line wins.
void ApplySwitch(const Arguments& arguments, std::string_view on, std::string_view off, bool& value) {
    for (const auto& option : arguments.options) {
        if (option.first == on) value = true;
        if (option.first == off) value = false;
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string ReadPassword(std::istream& in) {
    std::string password;
    if (!std::getline(in, password)) Failed("--password-stdin: no password on standard input");
    if (password.ends_with('\r')) password.pop_back();
    if (password.find('\0') != std::string::npos) Failed("--password-stdin: the password contains NUL");
    if (password.empty()) Failed("--password-stdin: the password is empty (use --no-password for none)");
    // The account file drops the blanks around a value: such a password could never be given.
    if (IsBlank(password.front()) || IsBlank(password.back()))
        Failed("--password-stdin: the password begins or ends with a blank, which the account file cannot keep");
    return password;
}

void ApplyRules(const Arguments& arguments, AccountValues& values) {
    if (arguments.Has("--no-rules") || arguments.Has("--rule")) values.accessingRules.clear();
    for (const std::string& text : arguments.All("--rule")) values.accessingRules.push_back(Rule(text));
    if (arguments.Has("--no-ip-rules") || arguments.Has("--ip-rule")) values.ipAccessRules.clear();
    for (const std::string& text : arguments.All("--ip-rule")) values.ipAccessRules.push_back(CheckedIpRule(text));
}

std::string TlsPolicyOption(std::string_view text) {
    if (text == "iphome") return {};
    if (!ParseTlsPolicy(text)) Misused("--tls: expected off, allowed, login, data or iphome, got " + Quoted(text));
    return std::string(text);
}

void ApplyLimits(const Arguments& arguments, AccountValues& values) {
    if (const auto text = arguments.Last("--max-users"))
        values.maxUsers = *text == "none" ? std::string() : Count("--max-users", *text);
    if (const auto text = arguments.Last("--multiple-logins")) values.multipleLogins = Count("--multiple-logins", *text);
    if (const auto text = arguments.Last("--timeout-minutes")) values.timeoutMinutes = Count("--timeout-minutes", *text);
    if (const auto text = arguments.Last("--login-message")) values.loginMessage = *text;
    if (const auto text = arguments.Last("--tls")) values.tlsPolicy = TlsPolicyOption(*text);
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

}  // namespace

const std::vector<Option>& AccountOptionList() {
    static const std::vector<Option> kAccountOptions = {
        {"--password-stdin", false}, {"--no-password", false}, {"--root", true},           {"--rule", true},
        {"--no-rules", false},       {"--ip-rule", true},        {"--no-ip-rules", false},
        {"--relative-paths", false}, {"--absolute-paths", false}, {"--disabled", false},
        {"--enabled", false},        {"--hide-hidden", false},   {"--show-hidden", false},
        {"--max-users", true},       {"--multiple-logins", true}, {"--per-address-limit", false},
        {"--no-per-address-limit", false}, {"--timeout-minutes", true}, {"--login-message", true},
        {"--ratio", true},           {"--no-ratio", false},      {"--log", true},
        {"--no-log", false},         {"--log-content", true},    {"--speed", true},
        {"--speed-rule", true},      {"--no-speed-rules", false}, {"--iphome", true},
        {"--group", true},           {"--tls", true},            {"--help", false}};
    return kAccountOptions;
}

std::optional<std::string> PasswordOption(const Arguments& arguments, std::istream& in) {
    if (arguments.Has("--password-stdin") && arguments.Has("--no-password"))
        Misused("--password-stdin and --no-password exclude each other");
    if (arguments.Has("--no-password")) return std::string();
    if (arguments.Has("--password-stdin")) return ReadPassword(in);
    return std::nullopt;
}

void ApplyAccountOptions(const Arguments& arguments, const std::optional<std::string>& password,
                         AccountValues& values) {
    if (const auto root = arguments.Last("--root")) values.rootDir = ExistingRoot(*root);
    ApplyRules(arguments, values);
    ApplyLimits(arguments, values);
    ApplyRatio(arguments, values);
    ApplyLogging(arguments, values);
    ApplySpeed(arguments, values);
    if (password) values.password = *password;
}

AccountValues NewAccountValues() {
    AccountValues values;
    values.filenameMask = std::string(kDefaultLogFilenameMask);
    return values;
}

int SetAccount(const std::filesystem::path& file, const Arguments& arguments, CommandStreams streams) {
    // Standard input is read before the account file is locked; the options apply to what the
    // file holds under the lock, so a concurrent set keeps its changes.
    const std::optional<std::string> password = PasswordOption(arguments, streams.in);
    const bool updated =
        UpdateAccount(file, [&](AccountValues& values) { ApplyAccountOptions(arguments, password, values); });
    if (!updated) Failed(CannotWrite(file.parent_path()));
    streams.out << "updated " << file.stem().string() << '\n';
    return kCommandSucceeded;
}

}  // namespace tolvane::store::cli
