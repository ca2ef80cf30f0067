#include "store/AccountDisplay.h"

#include <algorithm>

namespace tolvane::store::cli {
namespace {

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
    ShowLine(out, "tls", values.tlsPolicy.empty() ? "as the IP home" : values.tlsPolicy);
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

}  // namespace

void ShowLine(std::ostream& out, std::string_view label, std::string_view value) {
    out << "  " << label << ':' << std::string(18 - std::min<std::size_t>(label.size(), 17), ' ') << value << '\n';
}

std::string OnOff(bool on) { return on ? "yes" : "no"; }
std::string OrNone(std::string_view text) { return text.empty() ? "none" : std::string(text); }

void ShowAccount(std::ostream& out, const AccountValues& values) {
    ShowLine(out, "password", values.password.empty() ? "not set" : "set");
    ShowLine(out, "root", OrNone(values.rootDir));
    ShowAccessRules(out, values);
    ShowLimits(out, values);
    ShowExtras(out, values);
}

}  // namespace tolvane::store::cli
