#include "store/IpHomeCommands.h"

#include "store/AccountDatabase.h"
#include "store/AccountDisplay.h"
#include "store/CommandError.h"
#include "store/CommandPlaces.h"
#include "store/CommandValues.h"
#include "net/Endpoint.h"
#include "store/ProfileFile.h"
#include "store/TlsPolicy.h"

namespace tolvane::store::cli {
namespace fs = std::filesystem;
namespace {

int IpHomeList(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 0, "no arguments");
    const fs::path database = DatabaseDir(serverHome);
    for (const std::string& title : ListTitles(database, kIpHomeExtension)) {
        const IpHome home = ReadIpHome(IpHomeFile(database, title));
        out << title << '\t' << (home.disabled == 1 ? "disabled" : "enabled") << '\t' << home.serverName << '\n';
    }
    return kCommandSucceeded;
}

std::string Port(std::string_view text) {
    if (!IsDigits(text) || ParseProfileInt(text) < 1 || ParseProfileInt(text) > 65535)
        Misused("PORT must be a number from 1 to 65535, got " + Quoted(text));
    return std::to_string(ParseProfileInt(text));
}

std::string Address(std::string_view text) {
    if (!net::Endpoint::Parse(text)) Misused("ADDRESS must be an IPv4 or IPv6 address, got " + Quoted(text));
    return std::string(text);
}

void ApplyPassivePorts(IpHome& home, std::string_view text) {
    const auto range = ParsePortRange(text);
    if (!range) Misused("--pasv-ports must be MIN-MAX with 1 <= MIN <= MAX <= 65535, got " + Quoted(text));
    home.pasvPortMin = range->first;
    home.pasvPortMax = range->second;
}

std::string ProxyList(std::string_view text) {
    if (!IsAddressList(text)) Misused("--trusted-proxies must list IPv4 or IPv6 addresses, got " + Quoted(text));
    return std::string(text);
}

// The network options of add and set; "" clears an address or the proxy list, "none" the range.
void ApplyNetworkOptions(IpHome& home, const Arguments& arguments) {
    if (const auto ports = arguments.Last("--pasv-ports")) {
        if (*ports == "none") {
            home.pasvPortMin = home.pasvPortMax = 0;
        } else {
            ApplyPassivePorts(home, *ports);
        }
    }
    if (const auto address = arguments.Last("--pasv-address")) home.pasvAddress = *address;
    if (const auto proxies = arguments.Last("--trusted-proxies")) home.trustedProxies = ProxyList(*proxies);
    if (arguments.Has("--dual-stack")) home.ipv6Only = 0;
    if (arguments.Has("--ipv6-only")) home.ipv6Only = 1;
}

int OptionalCount(const Arguments& arguments, std::string_view option) {
    const auto text = arguments.Last(option);
    return text ? ParseProfileInt(Count(option, *text)) : -1;
}

std::string ExistingPemFile(std::string_view option, const std::string& text) {
    if (text.empty()) return text;
    if (!fs::path(text).is_absolute() || !IsFile(text)) Misused(std::string(option) + ": no file " + Quoted(text));
    return text;
}

// The FTPS options of add and set; set keeps every value it is not given.
void ApplyTlsOptions(const Arguments& arguments, IpHome& home) {
    if (const auto text = arguments.Last("--tls")) {
        if (!ParseTlsPolicy(*text)) Misused("--tls: expected off, allowed, login or data, got " + Quoted(*text));
        home.tlsPolicy = *text;
    }
    if (const auto text = arguments.Last("--tls-resumption")) {
        if (!ParseTlsResumption(*text))
            Misused("--tls-resumption: expected required, same-address or off, got " + Quoted(*text));
        home.tlsResumption = *text;
    }
    if (const auto text = arguments.Last("--certificate")) home.tlsCertificate = ExistingPemFile("--certificate", *text);
    if (const auto text = arguments.Last("--key")) home.tlsKey = ExistingPemFile("--key", *text);
    for (const auto& option : arguments.options) {
        if (option.first == "--implicit-tls") home.tlsImplicit = 1;
        if (option.first == "--explicit-tls") home.tlsImplicit = 0;
    }
}

int IpHomeAdd(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 2, "ADDRESS PORT");
    IpHome home;
    home.serverIp = Address(arguments.positionals[0]);
    home.serverPort = Port(arguments.positionals[1]);
    home.name = home.serverIp + "-" + home.serverPort;
    home.serverName = arguments.Last("--name").value_or(home.name);
    home.maxUsers = OptionalCount(arguments, "--max-users");
    home.maxTransfers = OptionalCount(arguments, "--max-transfers");
    home.disabled = arguments.Has("--disabled") ? 1 : 0;
    home.storeOverwrite = arguments.Has("--overwrite") ? 1 : 0;
    ApplyNetworkOptions(home, arguments);
    ApplyTlsOptions(arguments, home);
    const fs::path database = DatabaseDir(serverHome);
    if (IsFile(IpHomeFile(database, home.name))) Failed("IP home " + Quoted(home.name) + " already exists");
    std::error_code error;
    fs::create_directories(database, error);
    if (error || !CreateIpHome(database, home.name)) {
        DeleteIpHome(database, home.name);
        Failed(CannotWrite(database));
    }
    if (!WriteIpHome(IpHomeFile(database, home.name), home)) {
        DeleteIpHome(database, home.name);
        Failed(CannotWrite(database));
    }
    out << "added IP home " << home.name << '\n';
    return kCommandSucceeded;
}

std::string LimitText(int limit) { return limit < 0 ? "no limit" : std::to_string(limit); }

int IpHomeShow(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "TITLE");
    const HomeFolders folders = ExistingIpHome(serverHome, arguments.positionals[0]);
    const IpHome home = ReadIpHome(IpHomeFile(DatabaseDir(serverHome), folders.title));
    out << home.name << '\n';
    ShowLine(out, "name", home.serverName);
    ShowLine(out, "address", home.name == kDefaultIpHome ? "all local addresses" : home.serverIp);
    ShowLine(out, "port", home.serverPort);
    ShowLine(out, "max users", LimitText(home.maxUsers));
    ShowLine(out, "max transfers", LimitText(home.maxTransfers));
    ShowLine(out, "disabled", OnOff(home.disabled == 1));
    ShowLine(out, "overwrite", OnOff(home.storeOverwrite > 0));
    ShowLine(out, "tls", home.tlsPolicy.empty() ? "allowed" : home.tlsPolicy);
    ShowLine(out, "tls resumption", home.tlsResumption.empty() ? "same-address" : home.tlsResumption);
    ShowLine(out, "implicit tls", OnOff(home.tlsImplicit == 1));
    ShowLine(out, "certificate", home.tlsCertificate.empty() ? "the program-wide one" : home.tlsCertificate);
    ShowLine(out, "key", home.tlsKey.empty() ? "with the certificate" : home.tlsKey);
    ShowLine(out, "ipv6 only", OnOff(home.ipv6Only != 0));
    const auto ports = PassivePorts(home);
    ShowLine(out, "passive ports",
             ports ? std::to_string(ports->first) + "-" + std::to_string(ports->second) : std::string("any"));
    ShowLine(out, "passive address", home.pasvAddress.empty() ? "the address the client reached" : home.pasvAddress);
    ShowLine(out, "trusted proxies", home.trustedProxies.empty() ? "none" : home.trustedProxies);
    ShowLine(out, "users", std::to_string(ListTitles(folders.usersDir, kUserExtension).size()));
    ShowLine(out, "groups", std::to_string(ListTitles(folders.groupsDir, kGroupExtension).size()));
    return kCommandSucceeded;
}

int IpHomeSet(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "TITLE");
    const HomeFolders folders = ExistingIpHome(serverHome, arguments.positionals[0]);
    const fs::path file = IpHomeFile(DatabaseDir(serverHome), folders.title);
    IpHome home = ReadIpHome(file);
    ApplyNetworkOptions(home, arguments);
    ApplyTlsOptions(arguments, home);
    if (!WriteIpHome(file, home)) Failed(CannotWrite(file));
    out << "changed IP home " << folders.title << '\n';
    return kCommandSucceeded;
}

int IpHomeRemove(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "TITLE");
    const std::string& title = arguments.positionals[0];
    if (title == kDefaultIpHome) Failed(Quoted(title) + " is the default IP home and cannot be removed");
    ExistingIpHome(serverHome, title);
    if (!DeleteIpHome(DatabaseDir(serverHome), title)) Failed("cannot remove IP home " + Quoted(title) + " completely");
    out << "removed IP home " << title << '\n';
    return kCommandSucceeded;
}

}  // namespace

const std::vector<Option>& IpHomeOptionList() {
    static const std::vector<Option> kIpHomeOptions = {{"--name", true},      {"--max-users", true},
                                                       {"--max-transfers", true}, {"--overwrite", false},
                                                       {"--disabled", false},  {"--help", false},
                                                       {"--pasv-ports", true}, {"--pasv-address", true},
                                                       {"--trusted-proxies", true}, {"--dual-stack", false},
                                                       {"--ipv6-only", false}, {"--tls", true},
                                                       {"--tls-resumption", true}, {"--implicit-tls", false},
                                                       {"--explicit-tls", false}, {"--certificate", true},
                                                       {"--key", true}};
    return kIpHomeOptions;
}

int RunIpHome(const fs::path& serverHome, const std::string& verb, const Arguments& arguments, std::ostream& out) {
    if (verb == "list") return IpHomeList(serverHome, arguments, out);
    if (verb == "add") return IpHomeAdd(serverHome, arguments, out);
    if (verb == "show") return IpHomeShow(serverHome, arguments, out);
    if (verb == "set") return IpHomeSet(serverHome, arguments, out);
    return IpHomeRemove(serverHome, arguments, out);
}

}  // namespace tolvane::store::cli
