#include "ftp/ControlConnection.h"

#include "net/PlatformHelpers.h"

#include <algorithm>

namespace tolvane::ftp {

void ControlConnection::HELP(const std::string&) {
    SendReply("214-Supported commands listing :\r\n"
              "214-ABOR APPE CDUP CWD  DELE HELP LIST MKD\r\n"
              "214-NOOP PASS PASV PORT QUIT REST RETR RMD\r\n"
              "214-RNFR RNTO STOR SYST USER\r\n"
              "214 Listing complete\r\n");
}

void ControlConnection::SITE(const std::string&) { SendReply("500 SITE commands not implemented.\r\n"); }

void ControlConnection::NOOP(const std::string&) { SendReply("200 Command okay.\r\n"); }

void ControlConnection::SYST(const std::string&) {
    SendReply("215 UNIX Type: L8 - OS:" + net::OsDescription() + ".\r\n");
}

void ControlConnection::TYPE(const std::string& argument) {
    SendReply("200 TYPE has been set to " + argument + "\r\n");
}

void ControlConnection::PWD(const std::string&) {
    std::string path = net::ToClientPath(currentDirectory_);
    if (showRelativePath_) path.erase(0, std::min(homeDirectory_.size(), path.size()));
    SendReply("257 \"/" + path + "\" is current directory.\r\n");
}

void ControlConnection::QUIT(const std::string&) {
    SendReply("221 Good Bye!\r\n");
    SystemMessage(Tag() + "Closed connection to " + ClientAddress() + " ...\r\n", monitor::SystemMessage);
    RemoveConnectionsRow();
    Close();
}

void ControlConnection::ABOR(const std::string& argument) { CommandNotSupported(argument); }

void ControlConnection::CommandNotSupported(const std::string&) { SendReply("500 Command not supported.\r\n"); }

}  // namespace tolvane::ftp
