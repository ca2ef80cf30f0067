#pragma once

// The account database: a tree of profile files under <server home>/Database/.
//
//   Database/<home>.FTP_IPHome                  settings of one IP home
//   Database/<home>/Users/<user>.FTP_User       a user outside any group
//   Database/<home>/Groups/<group>.FTP_Group    a group's settings
//   Database/<home>/Groups/<group>/<user>.FTP_User   a member of the group
//
// There is no in-memory copy: every reader goes to the files when it needs a
// value, so an edit takes effect at the next read. Folder paths end in '/'.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/AccountSettings.h"
#include "store/ProfileFile.h"

namespace tolvane::store {

inline constexpr std::string_view kDefaultIpHome = "[Full Machine]";
inline constexpr std::string_view kIpHomeExtension = ".FTP_IPHome";
inline constexpr std::string_view kGroupExtension = ".FTP_Group";
inline constexpr std::string_view kUserExtension = ".FTP_User";
// Read default of list elements, and the terminator writers put after the last one.
inline constexpr std::string_view kListEnd = "ERROR";

// ---- layout ----
std::filesystem::path DatabaseDir(const std::filesystem::path& serverHome);
std::filesystem::path LoggingDir(const std::filesystem::path& serverHome);
std::filesystem::path IpHomeFile(const std::filesystem::path& databaseDir, std::string_view title);
std::filesystem::path IpHomeDir(const std::filesystem::path& databaseDir, std::string_view title);
std::filesystem::path UsersDir(const std::filesystem::path& databaseDir, std::string_view title);
std::filesystem::path GroupsDir(const std::filesystem::path& databaseDir, std::string_view title);
std::filesystem::path GroupFile(const std::filesystem::path& groupsDir, std::string_view group);
std::filesystem::path GroupMembersDir(const std::filesystem::path& groupsDir, std::string_view group);
// `folder` is a users folder or a group's members folder.
std::filesystem::path UserFile(const std::filesystem::path& folder, std::string_view userName);

// A title or user name that names exactly one entry inside its folder.
bool IsValidEntryName(std::string_view name);
// The longest file name the file systems we run on take, extension included.
inline constexpr std::size_t kMaxFileNameBytes = 255;
// A valid entry name that still fits one file name once `extension` is appended.
bool FitsFileName(std::string_view name, std::string_view extension);
// Titles of the regular files in `folder` with the extension, sorted by name.
std::vector<std::string> ListTitles(const std::filesystem::path& folder, std::string_view extension);

// ---- IP homes ----
struct IpHome {
    std::string name;  // the file title
    std::string serverName;
    std::string serverIp;
    std::string serverPort;   // as stored; the port is its decimal conversion
    int maxUsers = -1;        // -1: no limit
    int maxTransfers = -1;    // -1: no limit
    int disabled = 0;         // exactly 1: the home is not brought online
    int storeOverwrite = -1;  // greater than 0: STOR replaces existing files
    std::string tlsCertificate;  // PEM paths; empty: the program-wide pair
    std::string tlsKey;          // empty: the key is in the certificate's file
    int tlsImplicit = 0;         // exactly 1: TLS from the first byte (FTPS on port 990)
    std::string tlsPolicy;       // off, allowed, login or data; empty: allowed
    std::string tlsResumption;   // required, same-address or off; empty: same-address
    int ipv6Only = 1;         // 0: a home on "::" takes IPv4 clients too
    int pasvPortMin = 0;      // both set (1..65535, min <= max): the passive port range
    int pasvPortMax = 0;
    std::string pasvAddress;     // empty: PASV names the control connection's local address
    std::string trustedProxies;  // comma-separated addresses; empty: no PROXY headers
    std::filesystem::path usersDir;
    std::filesystem::path groupsDir;
};

IpHome ReadIpHome(const std::filesystem::path& file);
// The passive port range when both ends are set and in order.
std::optional<std::pair<std::uint16_t, std::uint16_t>> PassivePorts(const IpHome& home);
// "10.0.0.1, ::1" -> {"10.0.0.1", "::1"}: the items between commas, blanks trimmed, empty ones left out.
std::vector<std::string> SplitAddressList(std::string_view text);
// Every item of the list is a numeric IPv4 or IPv6 address.
bool IsAddressList(std::string_view text);
// "MIN-MAX" with 1 <= MIN <= MAX <= 65535; nothing for any other text.
std::optional<std::pair<std::uint16_t, std::uint16_t>> ParsePortRange(std::string_view text);
// Writes the seven ServerSettings keys, and the network keys that differ from their defaults;
// a limit of -1 is written empty.
bool WriteIpHome(const std::filesystem::path& file, const IpHome& values);
// The five keys of the home created on a fresh installation.
bool WriteDefaultIpHome(const std::filesystem::path& file);

// ---- accounts ----
struct AccountFiles {
    std::filesystem::path accountFile;   // the user's own file; holds the password
    std::filesystem::path settingsFile;  // the group file for a group member, else the account file
};

// Users folder first, then the groups in name order; nothing for an unknown or malformed name.
std::optional<AccountFiles> FindAccount(const std::filesystem::path& usersDir,
                                        const std::filesystem::path& groupsDir, std::string_view userName);
// One key with the default "ERROR": Password from the account file, IPAccess
// from the settings file, other keys from the settings file when there is one.
std::string ReadAccountKey(const AccountFiles& files, std::string_view section, std::string_view key);
// A numbered list from the file ReadAccountKey would take its keys from.
std::vector<std::string> ReadAccountList(const AccountFiles& files, std::string_view section,
                                         std::string_view prefix, int firstIndex);
// Timeout and the SPEED-LIMIT mode, sending and receiving speeds come from
// `settingsFile`, everything else from `sourceFile`.
AccountSettings LoadAccountSettings(const std::filesystem::path& sourceFile,
                                    const std::filesystem::path& settingsFile);
// Rewrites every key the editor owns, in one replacement; other keys stay.
bool WriteAccount(const std::filesystem::path& file, const AccountValues& values);
// Reads the values, lets `change` change them and writes them back, all under the file's lock,
// so that concurrent updates keep each other's changes. Nothing is written when `change` throws.
bool UpdateAccount(const std::filesystem::path& file, const std::function<void(AccountValues&)>& change);
// The values a save would have to write to reproduce the file's editor-owned keys, read the
// way the editor reads them.
AccountValues ReadAccountValues(const std::filesystem::path& file);
AccountValues ReadAccountValues(const ProfileFile& profile);

// ---- numbered lists ----
// Values of <prefix><firstIndex>, <prefix><firstIndex + 1>, ... up to the first that reads "ERROR".
std::vector<std::string> ReadList(const ProfileFile& profile, std::string_view section, std::string_view prefix,
                                  int firstIndex);
std::vector<std::string> ReadList(const std::filesystem::path& file, std::string_view section,
                                  std::string_view prefix, int firstIndex);
bool WriteList(const std::filesystem::path& file, std::string_view section, std::string_view prefix,
               int firstIndex, const std::vector<std::string>& values);

// ---- entries ----
// Creation never overwrites: an existing entry of that name makes it fail.
bool CreateIpHome(const std::filesystem::path& databaseDir, std::string_view title);
bool CreateGroup(const std::filesystem::path& groupsDir, std::string_view group);
bool CreateUser(const std::filesystem::path& folder, std::string_view userName);
// Renaming keeps the file's content (also keys the editor does not own) and
// never replaces an existing entry. The default IP home keeps its name.
bool RenameIpHome(const std::filesystem::path& databaseDir, std::string_view oldTitle, std::string_view newTitle);
bool RenameGroup(const std::filesystem::path& groupsDir, std::string_view oldName, std::string_view newName);
bool RenameUser(const std::filesystem::path& folder, std::string_view oldName, std::string_view newName);
// Deleting an IP home or group removes its folder with everything inside; the default IP home stays.
bool DeleteIpHome(const std::filesystem::path& databaseDir, std::string_view title);
bool DeleteGroup(const std::filesystem::path& groupsDir, std::string_view group);
bool DeleteUser(const std::filesystem::path& folder, std::string_view userName);

}  // namespace tolvane::store
