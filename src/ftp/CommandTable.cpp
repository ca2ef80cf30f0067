#include "ftp/CommandTable.h"

#include <algorithm>
#include <vector>

namespace tolvane::ftp {
namespace {

constexpr std::size_t kHelpColumns = 8;
constexpr std::size_t kHelpColumnWidth = 4;

}  // namespace

std::string HelpReply(std::span<const CommandRow> rows) {
    std::vector<std::string_view> verbs;
    for (const CommandRow& row : rows)
        if (row.listed) verbs.push_back(row.verb);
    std::sort(verbs.begin(), verbs.end());
    std::string reply = "214-Supported commands listing :\r\n";
    for (std::size_t first = 0; first < verbs.size(); first += kHelpColumns) {
        std::string line = "214-";
        const std::size_t end = std::min(first + kHelpColumns, verbs.size());
        for (std::size_t i = first; i < end; ++i) {
            line += verbs[i];
            if (i + 1 < end) line.append(kHelpColumnWidth + 1 - std::min(kHelpColumnWidth, verbs[i].size()), ' ');
        }
        reply += line + "\r\n";
    }
    return reply + "214 Listing complete\r\n";
}

std::string FeatReply(std::span<const CommandRow> rows, std::string_view mlstFacts, bool secureOffered) {
    std::vector<std::string> features;
    for (const CommandRow& row : rows) {
        if (row.feature.empty() || (row.secure && !secureOffered)) continue;
        features.emplace_back(row.feature);
        if (row.feature == "MLST") features.back() += " " + std::string(mlstFacts);
    }
    std::sort(features.begin(), features.end());
    std::string reply = "211-Features:\r\n";
    for (const std::string& feature : features) reply += " " + feature + "\r\n";
    return reply + "211 End\r\n";
}

std::string StoredName(const std::string& argument) {
    return argument.find(':') == std::string::npos ? argument : argument.substr(argument.rfind('/') + 1);
}

std::string TimedName(const std::string& argument) {
    const std::size_t blank = argument.find(' ');
    return blank == std::string::npos ? std::string() : argument.substr(blank + 1);
}

}  // namespace tolvane::ftp
