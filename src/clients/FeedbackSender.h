#pragma once

#include "clients/PlainExchange.h"
#include "store/ClientEndpoints.h"

#include <string>

namespace tolvane::clients {

// What the user wrote in the Contact the Developer dialog.
struct FeedbackForm {
    std::string name;
    std::string email;
    std::string subject;
    std::string message;
};

// Where the sending shows its steps; called on the sending thread.
class FeedbackProgress {
public:
    virtual ~FeedbackProgress() = default;
    virtual void Report(const std::string& status, int percent) = 0;
};

// The body of the feedback mail: the sender's name and address, the message, the version.
std::string FeedbackBody(const FeedbackForm& form);

// The whole exchange: POP3 login, then the mail over SMTP, each step reported; stops between
// steps as soon as limits.cancel is raised, and any wait ends at once then too. True when the
// mail went out.
bool SendFeedback(const store::FeedbackEndpoints& endpoints, const FeedbackForm& form, FeedbackProgress& progress,
                  const WaitLimits& limits);

}  // namespace tolvane::clients
