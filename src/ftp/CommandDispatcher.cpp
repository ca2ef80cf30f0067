#include "ftp/ControlConnection.h"

#include "ftp/VerbMatch.h"


namespace tolvane::ftp {
namespace {

bool IsAbort(const std::string& verb) {
    // Clients put Telnet interrupt bytes before ABOR, so any verb containing it aborts.
    return SameVerb(verb, "ABOR") || verb.find("ABOR") != std::string::npos;
}

}  // namespace

// Served before login.
const ControlConnection::Command ControlConnection::kOpenCommands[] = {
    {"USER", &ControlConnection::USER},
    {"PASS", &ControlConnection::PASS},
    {"HELP", &ControlConnection::HELP},
};

// Served after login, tested in this order.
const ControlConnection::Command ControlConnection::kCommands[] = {
    {"SITE", &ControlConnection::SITE},
    {"NOOP", &ControlConnection::NOOP},
    {"RNFR", &ControlConnection::RNFR},
    {"RNTO", &ControlConnection::RNTO},
    {"SYST", &ControlConnection::SYST},
    {"APPE", &ControlConnection::APPE},
    {"MKD", &ControlConnection::MKD},
    {"DELE", &ControlConnection::DELE},
    {"RMD", &ControlConnection::RMD},
    {"REST", &ControlConnection::REST},
    {"CDUP", &ControlConnection::CDUP},
    {"PWD", &ControlConnection::PWD},
    {"PORT", &ControlConnection::PORT},
    {"LIST", &ControlConnection::LIST},
    {"CWD", &ControlConnection::CWD},
    {"RETR", &ControlConnection::RETR},
    {"STOR", &ControlConnection::STOR},
    {"TYPE", &ControlConnection::TYPE},
    {"PASV", &ControlConnection::PASV},
    {"QUIT", &ControlConnection::QUIT},
};

void ControlConnection::Dispatch(const std::string& verb, const std::string& argument) {
    if (IsAbort(verb)) {
        ABOR(argument);
        return;
    }
    restart_.BeforeCommand();
    previousVerb_ = verb;

    for (const Command& command : kOpenCommands) {
        if (SameVerb(verb, command.verb)) {
            (this->*command.handler)(argument);
            return;
        }
    }
    if (!loggedIn_) {
        SendReply("530 User not logged in.\r\n");
        return;
    }
    for (const Command& command : kCommands) {
        if (SameVerb(verb, command.verb)) {
            (this->*command.handler)(argument);
            return;
        }
    }
    SendReply("500 Command not supported.\r\n");
}

}  // namespace tolvane::ftp
