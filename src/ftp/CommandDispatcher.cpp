#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "ftp/VerbMatch.h"

#include <algorithm>

namespace tolvane::ftp {
namespace {

bool IsAbort(const std::string& verb) {
    // Clients put Telnet interrupt bytes before ABOR, so any verb containing it aborts.
    return SameVerb(verb, "ABOR") || verb.find("ABOR") != std::string::npos;
}

}  // namespace

// Tried in this order; USER, PASS, HELP, ABOR, FEAT, OPTS and the TLS verbs are served before
// login.
std::span<const CommandRow> ControlConnection::Commands() {
    static const CommandRow commands[] = {
        {.verb = "ABOR", .needsLogin = false, .handler = &ControlConnection::ABOR},
        {.verb = "USER", .needsLogin = false, .handler = &ControlConnection::USER},
        {.verb = "PASS", .needsLogin = false, .handler = &ControlConnection::PASS},
        {.verb = "HELP", .needsLogin = false, .handler = &ControlConnection::HELP},
        {.verb = "SITE", .listed = false, .handler = &ControlConnection::SITE},
        {.verb = "NOOP", .handler = &ControlConnection::NOOP},
        {.verb = "RNFR", .handler = &ControlConnection::RNFR},
        {.verb = "RNTO", .handler = &ControlConnection::RNTO},
        {.verb = "SYST", .handler = &ControlConnection::SYST},
        {.verb = "APPE",
         .takesTransferSlot = true,
         .folder = RuleFolder::Target,
         .letter = &PermissionSet::write,
         .handler = &ControlConnection::APPE},
        {.verb = "MKD",
         .folder = RuleFolder::Entry,
         .letter = &PermissionSet::makeDirectory,
         .handler = &ControlConnection::MKD},
        {.verb = "DELE",
         .folder = RuleFolder::Entry,
         .letter = &PermissionSet::deleteFiles,
         .handler = &ControlConnection::DELE},
        {.verb = "RMD",
         .folder = RuleFolder::Entry,
         .letter = &PermissionSet::removeDirectory,
         .handler = &ControlConnection::RMD},
        {.verb = "REST", .feature = "REST STREAM", .handler = &ControlConnection::REST},
        {.verb = "CDUP", .handler = &ControlConnection::CDUP},
        {.verb = "PWD", .listed = false, .handler = &ControlConnection::PWD},
        {.verb = "PORT", .handler = &ControlConnection::PORT},
        {.verb = "LIST", .handler = &ControlConnection::LIST},
        {.verb = "CWD", .feature = "TVFS", .handler = &ControlConnection::CWD},
        {.verb = "RETR",
         .takesTransferSlot = true,
         .folder = RuleFolder::Target,
         .letter = &PermissionSet::read,
         .handler = &ControlConnection::RETR},
        {.verb = "STOR",
         .takesTransferSlot = true,
         .folder = RuleFolder::Target,
         .letter = &PermissionSet::write,
         .nameOf = &StoredName,
         .handler = &ControlConnection::STOR},
        {.verb = "TYPE", .listed = false, .handler = &ControlConnection::TYPE},
        {.verb = "PASV", .handler = &ControlConnection::PASV},
        {.verb = "QUIT", .handler = &ControlConnection::QUIT},
        {.verb = "FEAT", .needsLogin = false, .listed = false, .handler = &ControlConnection::FEAT},
        {.verb = "OPTS", .needsLogin = false, .listed = false, .feature = "UTF8", .handler = &ControlConnection::OPTS},
        {.verb = "AUTH",
         .needsLogin = false,
         .listed = false,
         .feature = "AUTH TLS",
         .secure = true,
         .handler = &ControlConnection::AUTH},
        {.verb = "PBSZ",
         .needsLogin = false,
         .listed = false,
         .feature = "PBSZ",
         .secure = true,
         .handler = &ControlConnection::PBSZ},
        {.verb = "PROT",
         .needsLogin = false,
         .listed = false,
         .feature = "PROT",
         .secure = true,
         .handler = &ControlConnection::PROT},
        {.verb = "CCC", .needsLogin = false, .listed = false, .handler = &ControlConnection::CCC},
        {.verb = "NLST", .listed = false, .handler = &ControlConnection::NLST},
        {.verb = "MLSD", .listed = false, .handler = &ControlConnection::MLSD},
        {.verb = "MLST", .listed = false, .feature = "MLST", .handler = &ControlConnection::MLST},
        {.verb = "SIZE", .listed = false, .feature = "SIZE", .handler = &ControlConnection::SIZE},
        {.verb = "MDTM", .listed = false, .feature = "MDTM", .handler = &ControlConnection::MDTM},
        {.verb = "MFMT",
         .folder = RuleFolder::Target,
         .letter = &PermissionSet::write,
         .listed = false,
         .feature = "MFMT",
         .nameOf = &TimedName,
         .handler = &ControlConnection::MFMT},
        {.verb = "EPSV", .listed = false, .feature = "EPSV", .handler = &ControlConnection::EPSV},
        {.verb = "EPRT", .listed = false, .feature = "EPRT", .handler = &ControlConnection::EPRT},
        {.verb = "STRU", .listed = false, .handler = &ControlConnection::STRU},
        {.verb = "MODE", .listed = false, .handler = &ControlConnection::MODE},
        {.verb = "ALLO", .listed = false, .handler = &ControlConnection::ALLO},
        {.verb = "CLNT", .listed = false, .handler = &ControlConnection::CLNT},
    };
    return commands;
}

void ControlConnection::Dispatch(const std::string& verb, const std::string& argument) {
    const auto find = [commands = Commands()](std::string_view name) {
        return std::find_if(commands.begin(), commands.end(),
                            [name](const CommandRow& command) { return SameVerb(name, command.verb); });
    };
    // An abort leaves the restart marker and the previous verb as they were.
    if (IsAbort(verb)) return Execute(*find("ABOR"), argument);
    restart_.BeforeCommand();
    previousVerb_ = verb;

    const auto command = find(verb);
    if (command == Commands().end()) {
        SendReply(login_.loggedIn ? "500 Command not supported.\r\n" : "530 User not logged in.\r\n");
        return;
    }
    Execute(*command, argument);
}

void ControlConnection::Execute(const CommandRow& command, const std::string& argument) {
    if (command.needsLogin && !login_.loggedIn) {
        SendReply("530 User not logged in.\r\n");
        return;
    }
    CommandRequest request{argument, command.nameOf ? command.nameOf(argument) : argument, {}};
    if (command.takesTransferSlot && !data_.TakeTransferSlot()) return;
    if (command.folder == RuleFolder::Entry || command.folder == RuleFolder::Target)
        request.entry = ResolveName(request.name);
    if (!Permitted(command, request)) {
        if (command.takesTransferSlot) data_.GiveBackTransferSlot();
        RefusePermission();
        return;
    }
    (this->*command.handler)(request);
}

// A name outside the home is refused like a missing letter; a name the resolver refuses
// otherwise is left to the handler.
bool ControlConnection::Permitted(const CommandRow& command, const CommandRequest& request) const {
    const ResolvedEntry& entry = request.entry;
    switch (command.folder) {
    case RuleFolder::None: return true;
    case RuleFolder::Entry:
        return entry.refusal != PathRefusal::Outside &&
               (entry.Refused() || PermissionsOf(entry.directory).*command.letter);
    case RuleFolder::Target:
        return entry.refusal != PathRefusal::Outside &&
               (entry.Refused() || PermissionsOf(RealFolderOf(entry.path)).*command.letter);
    }
    return true;
}

void ControlConnection::RefusePermission() { SendReply("550 Permission denied.\r\n"); }

void ControlConnection::RefuseTransfer(std::string_view reply) {
    data_.GiveBackTransferSlot();
    SendReply(reply);
}

}  // namespace tolvane::ftp
