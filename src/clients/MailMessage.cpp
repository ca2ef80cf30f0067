#include "clients/MailMessage.h"

namespace tolvane::clients {
namespace {

// One list entry; false when its '>' comes before its '<'.
bool ParseRecipient(std::string_view entry, MailRecipient& recipient) {
    const std::size_t open = entry.find('<');
    if (open == std::string_view::npos) {
        recipient = {std::string(entry), {}};
        return true;
    }
    const std::size_t close = entry.find('>');
    if (close != std::string_view::npos && close < open) return false;
    const std::size_t addressEnd = entry.find('>', open + 1);
    const std::size_t addressLength = addressEnd == std::string_view::npos ? std::string_view::npos : addressEnd - open - 1;
    recipient = {std::string(entry.substr(open + 1, addressLength)), std::string(entry.substr(0, open))};
    return true;
}

}  // namespace

bool MailMessage::AddRecipients(std::string_view list) {
    for (;;) {
        const std::size_t separator = list.find(';');
        MailRecipient recipient;
        if (!ParseRecipient(list.substr(0, separator), recipient)) return false;
        recipients.push_back(std::move(recipient));
        if (separator == std::string_view::npos) return true;
        list.remove_prefix(separator + 1);
    }
}

std::string RecipientsText(const std::vector<MailRecipient>& recipients) {
    std::string text;
    for (const MailRecipient& recipient : recipients) {
        if (!text.empty()) text += ',';
        text += recipient.name + "<" + recipient.address + ">";
    }
    return text;
}

std::string TransparentBody(std::string_view body) {
    std::string sent;
    sent.reserve(body.size() + body.size() / 16 + 3);
    bool lineStart = true;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
            sent += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') sent += '.';
        sent += c;
        lineStart = false;
    }
    if (!lineStart || sent.empty()) sent += "\r\n";
    return sent;
}

}  // namespace tolvane::clients
