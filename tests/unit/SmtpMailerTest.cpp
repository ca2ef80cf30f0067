#include "clients/FeedbackSender.h"
#include "clients/Pop3Client.h"
#include "clients/SmtpMailer.h"

#include "ScriptedPeer.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tolvane;
using namespace tolvane::clients;
using tolvane::testing::PeerLink;
using tolvane::testing::ScriptedPeer;
using namespace std::chrono_literals;

namespace {

// Answers every command line with 250, DATA with 354 and the end of data with 250.
void ServeSmtpCommands(PeerLink& link, const std::string& recipientReply = "250 ok\r\n") {
    while (auto line = link.ReadLine()) {
        if (line->starts_with("QUIT")) {
            link.Send("221 bye\r\n");
            return;
        }
        if (line->starts_with("DATA")) {
            link.Send("354 go on\r\n");
            link.ReadUntil("\r\n.\r\n");
            link.Send("250 queued\r\n");
        } else {
            link.Send(line->starts_with("RCPT") ? recipientReply : "250 ok\r\n");
        }
    }
}

void SmtpSession(PeerLink& link) {
    link.Send("220 ready\r\n");
    ServeSmtpCommands(link);
}

void Pop3Session(PeerLink& link, const std::string& passReply = "+OK in\r\n") {
    link.Send("+OK POP3 ready\r\n");
    link.ReadLine();
    link.Send("+OK user\r\n");
    link.ReadLine();
    link.Send(passReply);
    if (link.ReadLine()) link.Send("+OK bye\r\n");
}

WaitLimits Quick() {
    WaitLimits limits;
    limits.timeout = 2s;
    return limits;
}

}  // namespace

TEST(SmtpMailerTest, SendsAMessageThroughTheWholeDialogue) {
    // The greeting comes in two pieces and HELO's reply has several lines.
    ScriptedPeer peer({[](PeerLink& link) {
        link.Send("2");
        std::this_thread::sleep_for(50ms);
        link.Send("20 ready\r\n");
        link.ReadLine();
        link.Send("250-hello\r\n250 SIZE 1000\r\n");
        ServeSmtpCommands(link, "550 no such user\r\n");
    }});
    SmtpMailer mailer("127.0.0.1", peer.Port());
    mailer.SetLimits(Quick());
    ASSERT_TRUE(mailer.Connect()) << mailer.LastError();
    MailMessage message;
    message.sender = "me@here";
    message.subject = "Bug Report";
    message.body = "hello\r\n.\r\n.x";
    ASSERT_TRUE(message.AddRecipients("Ann <ann@there>;bob@there"));
    EXPECT_TRUE(mailer.SendMessage(message)) << mailer.LastError();
    EXPECT_TRUE(mailer.Disconnect());
    ASSERT_TRUE(peer.WaitDone());
    const std::string sent = peer.Transcript();
    EXPECT_TRUE(sent.starts_with("HELO ")) << sent;
    EXPECT_NE(sent.find("\r\nMAIL From: <me@here>\r\nRCPT TO: <ann@there>\r\nRCPT TO: <bob@there>\r\nDATA\r\n"),
              std::string::npos)
        << sent;
    EXPECT_NE(sent.find("\r\nFrom: me@here\r\nTo: Ann <ann@there>,<bob@there>\r\nSubject: Bug Report\r\n"
                        "X-Mailer: <ZE Deri>\r\n\r\nhello\r\n..\r\n..x\r\n\r\n.\r\nQUIT\r\n"),
              std::string::npos)
        << sent;
    EXPECT_TRUE(sent.find("\r\nDATA\r\nDate: ") != std::string::npos);
}

TEST(SmtpMailerTest, RefusesWhatCannotBeSent) {
    SmtpMailer idle("127.0.0.1", 1);
    EXPECT_TRUE(idle.Disconnect());
    MailMessage message;
    EXPECT_FALSE(idle.SendMessage(message));
    EXPECT_EQ(idle.LastError(), "Must be connected");

    ScriptedPeer peer({SmtpSession});
    SmtpMailer mailer("127.0.0.1", peer.Port());
    mailer.SetLimits(Quick());
    ASSERT_TRUE(mailer.Connect());
    EXPECT_FALSE(mailer.SendMessage(message));
    EXPECT_EQ(mailer.LastError(), "No Recipients");
    message.AddRecipients("a@x\r\nRCPT TO: <b@y>");
    EXPECT_FALSE(mailer.SendMessage(message));
    EXPECT_TRUE(mailer.Disconnect());
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Transcript().find("MAIL"), std::string::npos);
}

TEST(SmtpMailerTest, HostileServersFailTheConnectWithoutHanging) {
    struct Case {
        ScriptedPeer::Script script;
        std::string lastError;
    };
    const std::vector<Case> cases{
        {[](PeerLink& link) { link.Send("421 busy\r\n"); }, "Server didn't respond."},
        {[](PeerLink& link) {
             link.Send("220 ready\r\n");
             link.ReadLine();
             link.Send("abc\r\n");
         },
         "0:SMTP server error"},
        {[](PeerLink& link) {
             link.Send(std::string(10 * 1024 * 1024, 'x'));
         },
         "Server didn't respond."},
        {[](PeerLink& link) { link.WaitClosed(); }, "Server didn't respond."},
    };
    for (const Case& test : cases) {
        ScriptedPeer peer({test.script});
        SmtpMailer mailer("127.0.0.1", peer.Port());
        WaitLimits limits;
        limits.timeout = 500ms;
        mailer.SetLimits(limits);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(mailer.Connect());
        EXPECT_EQ(mailer.LastError(), test.lastError);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    }
    SmtpMailer refused("127.0.0.1", tolvane::testing::FreePort());
    EXPECT_FALSE(refused.Connect());
    EXPECT_EQ(refused.LastError(), "Unable to connect to server");
}

TEST(SmtpMailerTest, AServerFallingSilentEndsTheDialogue) {
    ScriptedPeer peer({[](PeerLink& link) {
        link.Send("220 ready\r\n");
        link.ReadLine();
        link.Send("250 hello\r\n");
        link.WaitClosed();
    }});
    SmtpMailer mailer("127.0.0.1", peer.Port());
    WaitLimits limits;
    limits.timeout = 300ms;
    mailer.SetLimits(limits);
    ASSERT_TRUE(mailer.Connect());
    MailMessage message;
    message.AddRecipients("a@x");
    EXPECT_FALSE(mailer.SendMessage(message));
    EXPECT_EQ(mailer.LastError(), "Socket Error");
    // Nothing left to say QUIT on: no second wait.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(mailer.Disconnect());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms);
}

TEST(SmtpMailerTest, Pop3LoginAndItsRefusals) {
    ScriptedPeer peer({[](PeerLink& link) { Pop3Session(link); },
                       [](PeerLink& link) { Pop3Session(link, "-ERR wrong\r\n"); },
                       [](PeerLink& link) { link.Send("abc\r\n"); }});
    Pop3Client client;
    client.SetLimits(Quick());
    EXPECT_TRUE(client.Login("127.0.0.1", "box", "secret", peer.Port())) << client.LastError();
    EXPECT_TRUE(client.Quit());
    Pop3Client wrong;
    wrong.SetLimits(Quick());
    EXPECT_FALSE(wrong.Login("127.0.0.1", "box", "guess", peer.Port()));
    EXPECT_EQ(wrong.LastError(), "Bad Password Name");
    wrong.Quit();
    Pop3Client junk;
    junk.SetLimits(Quick());
    EXPECT_FALSE(junk.Login("127.0.0.1", "box", "secret", peer.Port()));
    EXPECT_EQ(junk.LastError(), "Bad Connection");
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_TRUE(peer.Transcript().starts_with("USER box\r\nPASS secret\r\nQUIT \r\nUSER box\r\nPASS guess\r\n"));

    Pop3Client refused;
    EXPECT_FALSE(refused.Login("127.0.0.1", "box", "secret", tolvane::testing::FreePort()));
    EXPECT_EQ(refused.LastError(), "Server cannot be connected");
}

namespace {

class RecordedProgress : public FeedbackProgress {
public:
    void Report(const std::string& status, int percent) override {
        const std::lock_guard lock(mutex_);
        steps_.push_back(status + " " + std::to_string(percent));
    }
    std::vector<std::string> Steps() const {
        const std::lock_guard lock(mutex_);
        return steps_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> steps_;
};

store::FeedbackEndpoints EndpointsAt(std::uint16_t pop3, std::uint16_t smtp) {
    store::FeedbackEndpoints endpoints;
    endpoints.pop3Host = endpoints.smtpHost = "127.0.0.1";
    endpoints.pop3Port = pop3;
    endpoints.smtpPort = smtp;
    endpoints.mailboxUser = "box";
    endpoints.mailboxPassword = "pw";
    endpoints.mailboxAddress = "box@maker";
    endpoints.recipient = "Maker <feedback@maker>";
    return endpoints;
}

}  // namespace

TEST(SmtpMailerTest, FeedbackGoesOutAfterTheMailboxLogin) {
    ScriptedPeer pop3({[](PeerLink& link) { Pop3Session(link); }});
    ScriptedPeer smtp({SmtpSession});
    RecordedProgress progress;
    const FeedbackForm form{"Ann", "ann@home", "Suggestion", "More colours"};
    EXPECT_TRUE(SendFeedback(EndpointsAt(pop3.Port(), smtp.Port()), form, progress, Quick()));
    EXPECT_EQ(progress.Steps(), (std::vector<std::string>{"Connecting to Server 10", "Login (USER) 20",
                                                          "Login (PASS) 30", "Formating Message 50",
                                                          "Sending Message 80", "Done... 100"}));
    ASSERT_TRUE(smtp.WaitDone());
    EXPECT_NE(smtp.Transcript().find("\r\nRCPT TO: <feedback@maker>\r\n"), std::string::npos);
    EXPECT_NE(smtp.Transcript().find("Subject: Suggestion\r\n"), std::string::npos);
    EXPECT_NE(smtp.Transcript().find("\r\n\r\nAnn\r\nann@home\r\n\r\nMore colours\r\n\r\n"
                                     "Tolvane-Daemon Version 0.2 - Build 7\r\n"),
              std::string::npos);
}

TEST(SmtpMailerTest, FeedbackStopsAtAFailureOrACancel) {
    ScriptedPeer refusing({[](PeerLink& link) { Pop3Session(link, "-ERR no\r\n"); }});
    RecordedProgress failed;
    EXPECT_FALSE(SendFeedback(EndpointsAt(refusing.Port(), 1), {}, failed, Quick()));
    EXPECT_EQ(failed.Steps().back(), "Failed to Connect to Server 10");

    ScriptedPeer silent({[](PeerLink& link) { link.WaitClosed(); }});
    std::atomic<bool> cancel{false};
    WaitLimits limits;
    limits.cancel = &cancel;
    RecordedProgress cancelled;
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(200ms);
        cancel.store(true);
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendFeedback(EndpointsAt(silent.Port(), 1), {}, cancelled, limits));
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_EQ(cancelled.Steps(), std::vector<std::string>{"Connecting to Server 10"});
}
