#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::clients {

struct MailRecipient {
    std::string address;
    std::string name;
};

// One mail: the envelope sender and recipients, the subject and body, and the header that
// SmtpMailer builds from them.
struct MailMessage {
    std::string sender;
    std::string subject;
    std::string header;
    std::time_t date = 0;
    std::string body;
    std::vector<MailRecipient> recipients;

    // Adds the entries of a ';'-separated list, each "address" or "name <address>". False at
    // the first entry with a '>' before its '<'; the entries before it stay added.
    bool AddRecipients(std::string_view list);
};

// The To header text: the recipients as name<address>, separated by ','.
std::string RecipientsText(const std::vector<MailRecipient>& recipients);

// The body as it goes after DATA: every line end made CR LF (a lone CR or LF would let a
// server see a different end of data than the one sent), a '.' added before every line that
// begins with one, and a CR LF at the end when the body does not end with one.
std::string TransparentBody(std::string_view body);

}  // namespace tolvane::clients
