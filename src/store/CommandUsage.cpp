#include "store/CommandUsage.h"

#include <string_view>

namespace tolvane::store::cli {
namespace {

constexpr std::string_view kIpHomeUsage =
    "Usage: tolvaned [--home DIR] iphome COMMAND [ARGS]\n"
    "\n"
    "Manages the IP homes: the local address and port each set of accounts is served on.\n"
    "\n"
    "Commands:\n"
    "  list                        list the IP homes\n"
    "  add ADDRESS PORT [OPTIONS]  add the IP home titled ADDRESS-PORT\n"
    "      --name TEXT             display name (default: the title)\n"
    "      --max-users N           most users logged in at once (default: no limit)\n"
    "      --max-transfers N       most transfers at once (default: no limit)\n"
    "      --overwrite             uploads replace existing files\n"
    "      --disabled              do not bring the home online\n"
    "      and the options of set\n"
    "  show TITLE                  show an IP home's settings\n"
    "  set TITLE [OPTIONS]         change an IP home's network and FTPS settings\n"
    "      --pasv-ports MIN-MAX    ports for passive listeners, or \"none\" for any\n"
    "      --pasv-address HOST     address PASV names (a NAT router's; a name is resolved\n"
    "                              at start and on SIGHUP), \"\" for the local one\n"
    "      --trusted-proxies LIST  comma-separated addresses whose connections start with a\n"
    "                              PROXY header (v1 or v2), \"\" for none\n"
    "      --dual-stack            a home on \"::\" takes IPv4 clients too\n"
    "      --ipv6-only             a home on \"::\" takes IPv6 clients only (the default)\n"
    "  remove TITLE                remove an IP home with all its accounts;\n"
    "                              \"[Full Machine]\" cannot be removed\n"
    "\n"
    "FTPS options (a certificate: --certificate, else 'tolvaned tls self-signed'):\n"
    "  --tls off|allowed|login|data\n"
    "                              FTPS refused, allowed (default), required for login,\n"
    "                              required for data connections too\n"
    "  --tls-resumption required|same-address|off\n"
    "                              a TLS data connection must resume the control\n"
    "                              connection's session; or come from its address\n"
    "                              (default); or nothing more is asked\n"
    "  --implicit-tls | --explicit-tls\n"
    "                              TLS from the first byte (port 990), or after AUTH TLS\n"
    "  --certificate FILE          PEM certificate chain (absolute path)\n"
    "  --key FILE                  PEM private key (default: in the certificate's file)\n"
    "\n"
    "  --home DIR                  server home (default as for serving)\n"
    "  --help                      show this text\n"
    "\n"
    "A running daemon takes IP home changes on SIGHUP.\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

constexpr std::string_view kAccountOptionsUsage =
    "Account options (add and set; set keeps every value it is not given):\n"
    "  --password-stdin            read the password from the first line of standard input\n"
    "                              (not empty, no blank at either end); a new user needs it\n"
    "  --no-password               no password: only the anonymous account logs in without one\n"
    "  --root DIR                  home directory: absolute and existing\n"
    "  --rule DIR:LETTERS          directory rule, repeatable; letters out of RWDECLMrdcI\n"
    "                              (R read, W write, D delete, E execute, C rename,\n"
    "                              L list, M make dir, r remove dir, c rename dir,\n"
    "                              d deny, I inherit to subdirectories)\n"
    "  --no-rules                  remove every directory rule\n"
    "  --ip-rule Allow:PATTERN|Deny:PATTERN\n"
    "                              address rule, repeatable; PATTERN like 192.168.*.*\n"
    "  --no-ip-rules               remove every address rule\n"
    "  --relative-paths | --absolute-paths\n"
    "  --disabled | --enabled\n"
    "  --hide-hidden | --show-hidden\n"
    "  --max-users N|none          most sessions of the account at once\n"
    "  --multiple-logins N         most sessions from one client address...\n"
    "  --per-address-limit | --no-per-address-limit\n"
    "                              ...when this limit is in force\n"
    "  --timeout-minutes N         idle time-out, 0 for none\n"
    "  --login-message FILE        text file sent after login (empty: none)\n"
    "  --tls off|allowed|login|data|iphome\n"
    "                              FTPS: refused, allowed, required for login, required\n"
    "                              for data connections too, or as the IP home says\n"
    "  --ratio TYPE:UPLOAD:DOWNLOAD:CREDIT | --no-ratio\n"
    "                              TYPE: bytes-session, files-session, bytes-sessions\n"
    "                              or files-sessions\n"
    "  --log MASK | --no-log       session log file name, with %DATE %TIME %USER %IP\n"
    "  --log-content LIST          comma list of commands, replies, system; or none\n"
    "  --speed static:RECV:SEND:LIST | --speed dynamic | --speed none\n"
    "                              limits in kb/s\n"
    "  --speed-rule DAY-H:M-H:M-RECV,SEND,LIST\n"
    "                              time-of-day limit, repeatable; DAY Everyday or a weekday\n"
    "  --no-speed-rules            remove every time-of-day limit\n";

constexpr std::string_view kUserUsageHead =
    "Usage: tolvaned [--home DIR] user COMMAND [ARGS]\n"
    "\n"
    "Manages the users of an IP home. Every command takes --iphome TITLE\n"
    "(default \"[Full Machine]\"); a name may occur once in an IP home.\n"
    "\n"
    "Commands:\n"
    "  list                        list the users, with their groups\n"
    "  add NAME [--group GROUP] [ACCOUNT OPTIONS]\n"
    "                              add a user; --root is needed outside a group\n"
    "  show NAME                   show a user's settings\n"
    "  rename OLD NEW              rename a user\n"
    "  remove NAME                 remove a user\n"
    "  set NAME [ACCOUNT OPTIONS]  change a user's settings\n"
    "\n";

constexpr std::string_view kGroupUsageHead =
    "Usage: tolvaned [--home DIR] group COMMAND [ARGS]\n"
    "\n"
    "Manages the groups of an IP home. Members log in with the group's settings\n"
    "and their own password. Every command takes --iphome TITLE (default \"[Full Machine]\").\n"
    "\n"
    "Commands:\n"
    "  list                        list the groups and their members\n"
    "  add GROUP [ACCOUNT OPTIONS] add a group\n"
    "  show GROUP                  show a group's settings and members\n"
    "  remove GROUP                remove a group with its members\n"
    "  set GROUP [ACCOUNT OPTIONS] change a group's settings\n"
    "\n";

constexpr std::string_view kUsageTail =
    "\n"
    "  --home DIR                  server home (default as for serving)\n"
    "  --help                      show this text\n"
    "\n"
    "Changes take effect at the next login.\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

}  // namespace

std::string IpHomeUsage() { return std::string(kIpHomeUsage); }

std::string UserUsage() {
    return std::string(kUserUsageHead) + std::string(kAccountOptionsUsage) + std::string(kUsageTail);
}

std::string GroupUsage() {
    return std::string(kGroupUsageHead) + std::string(kAccountOptionsUsage) + std::string(kUsageTail);
}

}  // namespace tolvane::store::cli
