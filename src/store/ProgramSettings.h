#pragma once

// Program-wide settings in <home>/Settings.ini. The file is hand-editable: a value of the wrong
// type or an unknown colour name reads as the key's default, never as garbage.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::store {

// 0x00BBGGRR, as the settings store colours.
using Colour = std::uint32_t;

struct SettingKey {
    std::string_view section;
    std::string_view key;
};

inline constexpr SettingKey kServerPortKey{"FTPServer-Options", "ServerPort"};
inline constexpr SettingKey kMaximumUserKey{"FTPServer-Options", "MaximumUser"};
inline constexpr SettingKey kMaximumTransfersKey{"FTPServer-Options", "MaximumTransfers"};
inline constexpr SettingKey kWelcomeMsgKey{"FTPServer-Options", "WelcomeMsg"};
inline constexpr SettingKey kStartAsTrayIconKey{"FTPServer-Options", "StartAsTrayIcon"};
inline constexpr SettingKey kRunAsSystemServiceKey{"FTPServer-Options", "RunAsSystemService"};
inline constexpr SettingKey kOnlineAtStartupKey{"FTPServer-Options", "OnlineAtStartup"};
inline constexpr SettingKey kLanguageSelectionKey{"Language", "Selection"};
inline constexpr SettingKey kCoolMenuActiveKey{"CoolMenu", "Active"};
inline constexpr SettingKey kExtendedPathKey{"Extended", "Path"};

// Slowing password guessing: a failed login's reply waits, longer for each failure from the
// address within the window, up to the largest delay; the limit'th failure refuses the address
// for the block time. A limit or delay of 0 turns that part off.
inline constexpr SettingKey kFailedLoginDelayKey{"FailedLogins", "FirstDelayMs"};
inline constexpr SettingKey kFailedLoginMaxDelayKey{"FailedLogins", "LargestDelayMs"};
inline constexpr SettingKey kFailedLoginLimitKey{"FailedLogins", "Limit"};
inline constexpr SettingKey kFailedLoginWindowKey{"FailedLogins", "WindowSeconds"};
inline constexpr SettingKey kFailedLoginBlockKey{"FailedLogins", "BlockSeconds"};

inline constexpr std::string_view kEnglishLanguage = "ResDLL_English";

// ---- colours ----

struct NamedColour {
    std::string_view name;
    Colour colour;
};

inline constexpr std::string_view kCustomColourName = "Custom";

// The choices of the colour lists, in list order. "Custom" carries a freely chosen colour;
// its value here is the one it starts with.
inline constexpr std::array<NamedColour, 8> kColourChoices{{
    {"Black", 0x000000},
    {"Blue", 0xFF6600},
    {"DarkBlue", 0x8C0000},
    {"Green", 0x00A000},
    {"Red", 0x0000FF},
    {"White", 0xFFFFFF},
    {"Yellow", 0x00FFFF},
    {kCustomColourName, 0x000000},
}};

// The table entry of that name, ignoring case; none for unknown names.
std::optional<NamedColour> FindColourChoice(std::string_view name);

// What a colour list selects: an entry name of the table and the colour it stands for.
struct ColourChoice {
    std::string name;
    Colour colour = 0;

    friend bool operator==(const ColourChoice&, const ColourChoice&) = default;
};

// The five colour settings of the log pane, in the order the dialog saves them.
enum class LogColourKind : std::size_t { Background, SystemMessages, ServerReplies, ErrorMessages, RemoteCommands };
inline constexpr std::size_t kLogColourKindCount = 5;

struct LogColourKeys {
    LogColourKind kind;
    SettingKey text;    // the entry name
    SettingKey colour;  // the colour value
    std::string_view defaultName;
    Colour paneDefault;  // what the log pane falls back to
};

inline constexpr std::array<LogColourKeys, kLogColourKindCount> kLogColourKeys{{
    {LogColourKind::Background, {"LoggingWindow", "BackgroundText"}, {"LoggingWindow", "BackgroundColor"}, "White",
     0xFFFFFF},
    {LogColourKind::SystemMessages, {"LoggingWindow", "SystemMessagesText"},
     {"LoggingWindow", "SystemMessagesColor"}, "Blue", 0xFF6400},
    {LogColourKind::ServerReplies, {"LoggingWindow", "ServerRepliesText"}, {"LoggingWindow", "ServerRepliesColor"},
     "Green", 0x00AA00},
    {LogColourKind::ErrorMessages, {"LoggingWindow", "ErrorMessagesText"}, {"LoggingWindow", "ErrorMessageColor"},
     "Red", 0x0000FF},
    {LogColourKind::RemoteCommands, {"LoggingWindow", "RemoteCommandsText"},
     {"LoggingWindow", "RemoteCommandsColor"}, "DarkBlue", 0x8C0000},
}};

constexpr const LogColourKeys& KeysOf(LogColourKind kind) { return kLogColourKeys[static_cast<std::size_t>(kind)]; }

// A "Custom" entry whose colour is missing from the file shows this.
inline constexpr Colour kUnsetCustomColour = 0xFFFFFF;

// ---- reading ----

// Each kind's default entry with that entry's colour.
std::array<ColourChoice, kLogColourKindCount> DefaultColourChoices();

struct ProgramSettings {
    int serverPort = 21;
    int maximumUser = -1;
    int maximumTransfers = -1;
    std::string welcomeMsg;
    int startAsTrayIcon = 0;
    int runAsSystemService = 0;
    int onlineAtStartup = 0;
    std::string languageSelection{kEnglishLanguage};
    int coolMenuActive = 1;
    // Indexed by LogColourKind; as the settings dialog selects them.
    std::array<ColourChoice, kLogColourKindCount> colours = DefaultColourChoices();

    const ColourChoice& ColourOf(LogColourKind kind) const { return colours[static_cast<std::size_t>(kind)]; }
};

ProgramSettings ReadProgramSettings(const std::filesystem::path& settingsFile);

struct FailedLoginSettings {
    int firstDelayMs = 500;
    int largestDelayMs = 4000;
    int limit = 10;
    int windowSeconds = 300;
    int blockSeconds = 900;
};

// A negative or unreadable value reads as its default.
FailedLoginSettings ReadFailedLoginSettings(const std::filesystem::path& settingsFile);

// The colours the log pane paints with, read from the `…Color` keys alone.
struct LogColours {
    Colour background = 0xFFFFFF;
    Colour systemMessages = 0xFF6400;
    Colour remoteCommands = 0x8C0000;
    Colour serverReplies = 0x00AA00;
    Colour errorMessages = 0x0000FF;

    // A kind's default colour turns into that kind's setting; any other value is literal.
    Colour Resolve(std::uint32_t kind) const;
};

LogColours ReadLogColours(const std::filesystem::path& settingsFile);

// ---- writing ----

bool WriteSetting(const std::filesystem::path& settingsFile, SettingKey key, int value);
bool WriteSetting(const std::filesystem::path& settingsFile, SettingKey key, std::string_view value);
// The entry name and its colour, together.
bool WriteColourSetting(const std::filesystem::path& settingsFile, LogColourKind kind, const ColourChoice& choice);
// The start-up record of where the program lives: its folder, ending in '/'.
bool WriteProgramPath(const std::filesystem::path& settingsFile, const std::filesystem::path& programFile);

// ---- start with the desktop session ----

// $XDG_CONFIG_HOME/autostart/tolvane.desktop, or under ~/.config when that is not set.
std::optional<std::filesystem::path> AutostartEntryFile();
// On: writes the autostart entry that runs `programFile`; off: removes it. True when the entry
// is as asked afterwards.
bool SetRunAtSystemStart(bool on, const std::filesystem::path& programFile);

}  // namespace tolvane::store
