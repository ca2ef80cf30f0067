#include "clients/FeedbackSender.h"

#include "clients/MailMessage.h"
#include "clients/Pop3Client.h"
#include "clients/SmtpMailer.h"
#include "Version.h"

namespace tolvane::clients {

std::string FeedbackBody(const FeedbackForm& form) {
    return form.name + "\r\n" + form.email + "\r\n\r\n" + form.message + "\r\n\r\nTolvane-Daemon Version " TOLVANE_VERSION " - Build 7";
}

bool SendFeedback(const store::FeedbackEndpoints& endpoints, const FeedbackForm& form, FeedbackProgress& progress,
                  const WaitLimits& limits) {
    progress.Report("Connecting to Server", 10);
    Pop3Client mailbox;
    mailbox.SetLimits(limits);
    if (!mailbox.Login(endpoints.pop3Host, endpoints.mailboxUser, endpoints.mailboxPassword, endpoints.pop3Port)) {
        if (!limits.Cancelled()) progress.Report("Failed to Connect to Server", 10);
        return false;
    }
    mailbox.Quit();
    if (limits.Cancelled()) return false;

    progress.Report("Login (USER)", 20);
    MailMessage message;
    message.sender = endpoints.mailboxAddress;
    message.subject = form.subject;
    message.body = FeedbackBody(form);
    message.AddRecipients(endpoints.recipient);
    if (limits.Cancelled()) return false;

    progress.Report("Login (PASS)", 30);
    SmtpMailer mailer(endpoints.smtpHost, endpoints.smtpPort);
    mailer.SetLimits(limits);
    if (!mailer.Connect()) {
        if (!limits.Cancelled()) progress.Report("Lost Server connection", 30);
        return false;
    }
    if (limits.Cancelled()) return false;

    progress.Report("Formating Message", 50);
    if (!mailer.SendMessage(message)) {
        if (!limits.Cancelled()) progress.Report("Failed to send message", 50);
        return false;
    }
    if (limits.Cancelled()) return false;

    progress.Report("Sending Message", 80);
    if (!mailer.Disconnect()) return false;
    progress.Report("Done...", 100);
    return true;
}

}  // namespace tolvane::clients
