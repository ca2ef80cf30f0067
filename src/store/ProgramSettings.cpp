#include "store/ProgramSettings.h"

#include "monitor/ServerLog.h"
#include "store/ProfileFile.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <unistd.h>

namespace tolvane::store {
namespace fs = std::filesystem;
namespace {

constexpr Colour kLargestColour = 0xFFFFFF;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole decimal number; anything else (words, trailing junk, overflow) is no number at all.
std::optional<int> WholeNumber(std::string_view text) {
    text = Trim(text);
    if (text.starts_with("+-")) return std::nullopt;
    if (text.starts_with('+')) text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int ReadNumber(const ProfileFile& profile, SettingKey key, int fallback) {
    const auto stored = profile.Find(key.section, key.key);
    return stored ? WholeNumber(*stored).value_or(fallback) : fallback;
}

Colour ReadColour(const ProfileFile& profile, SettingKey key, Colour fallback) {
    const int value = ReadNumber(profile, key, static_cast<int>(fallback));
    return value >= 0 && static_cast<Colour>(value) <= kLargestColour ? static_cast<Colour>(value) : fallback;
}

// What the settings dialog selects for a kind: the named entry, or "Custom" with its stored colour.
ColourChoice ReadColourChoice(const ProfileFile& profile, const LogColourKeys& keys) {
    const std::string name = profile.ReadString(keys.text.section, keys.text.key, keys.defaultName);
    const NamedColour entry = FindColourChoice(name).value_or(*FindColourChoice(keys.defaultName));
    if (entry.name != kCustomColourName) return {std::string(entry.name), entry.colour};
    return {std::string(kCustomColourName), ReadColour(profile, keys.colour, kUnsetCustomColour)};
}

// ---- desktop entry ----

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// One argument of an Exec line: quoted, with the quoting escapes, then the escapes every string
// value gets (which double each backslash), and '%' doubled so that it is no field code.
std::string ExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
        if (c == '%') quoted += '%';
    }
    quoted += '"';
    std::string escaped;
    for (const char c : quoted) {
        escaped += c;
        if (c == '\\') escaped += '\\';
    }
    return escaped;
}

std::string DesktopEntry(const fs::path& programFile) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tolvane\n"
           "Comment=FTP server\n"
           "Exec=" + ExecArgument(programFile.string()) + "\n"
           "Terminal=false\n";
}

// Written beside the target and renamed over it, so that a session start never reads half an entry.
bool ReplaceFile(const fs::path& target, std::string_view text) {
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (error) return false;
    const fs::path temporary = target.string() + ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, target, error);
    if (error) fs::remove(temporary, error);
    return !error;
}

bool AddAutostartEntry(const fs::path& entry, const fs::path& programFile) {
    std::error_code error;
    const fs::path program = fs::absolute(programFile, error);
    if (error || HasControlCharacter(program.string())) return false;
    return ReplaceFile(entry, DesktopEntry(program));
}

bool RemoveAutostartEntry(const fs::path& entry) {
    std::error_code error;
    fs::remove(entry, error);  // an entry that is not there is no error
    return !error;
}

std::optional<fs::path> AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    const fs::path path(value);
    if (!path.is_absolute()) return std::nullopt;  // the base directory rules ignore relative ones
    return path;
}

}  // namespace

std::array<ColourChoice, kLogColourKindCount> DefaultColourChoices() {
    std::array<ColourChoice, kLogColourKindCount> choices;
    for (const LogColourKeys& keys : kLogColourKeys)
        choices[static_cast<std::size_t>(keys.kind)] = {std::string(keys.defaultName),
                                                        FindColourChoice(keys.defaultName)->colour};
    return choices;
}

std::optional<NamedColour> FindColourChoice(std::string_view name) {
    const auto found = std::find_if(kColourChoices.begin(), kColourChoices.end(),
                                    [name](const NamedColour& entry) { return SameProfileName(entry.name, name); });
    if (found == kColourChoices.end()) return std::nullopt;
    return *found;
}

ProgramSettings ReadProgramSettings(const fs::path& settingsFile) {
    const ProfileFile profile = ProfileFile::Load(settingsFile);
    ProgramSettings settings;
    settings.serverPort = ReadNumber(profile, kServerPortKey, settings.serverPort);
    settings.maximumUser = ReadNumber(profile, kMaximumUserKey, settings.maximumUser);
    settings.maximumTransfers = ReadNumber(profile, kMaximumTransfersKey, settings.maximumTransfers);
    settings.welcomeMsg = profile.ReadString(kWelcomeMsgKey.section, kWelcomeMsgKey.key, "");
    settings.startAsTrayIcon = ReadNumber(profile, kStartAsTrayIconKey, settings.startAsTrayIcon);
    settings.runAsSystemService = ReadNumber(profile, kRunAsSystemServiceKey, settings.runAsSystemService);
    settings.onlineAtStartup = ReadNumber(profile, kOnlineAtStartupKey, settings.onlineAtStartup);
    settings.languageSelection =
        profile.ReadString(kLanguageSelectionKey.section, kLanguageSelectionKey.key, kEnglishLanguage);
    settings.coolMenuActive = ReadNumber(profile, kCoolMenuActiveKey, settings.coolMenuActive);
    for (const LogColourKeys& keys : kLogColourKeys)
        settings.colours[static_cast<std::size_t>(keys.kind)] = ReadColourChoice(profile, keys);
    return settings;
}

FailedLoginSettings ReadFailedLoginSettings(const fs::path& settingsFile) {
    const ProfileFile profile = ProfileFile::Load(settingsFile);
    FailedLoginSettings settings;
    const auto read = [&profile](SettingKey key, int& value) {
        const int stored = ReadNumber(profile, key, value);
        if (stored >= 0) value = stored;
    };
    read(kFailedLoginDelayKey, settings.firstDelayMs);
    read(kFailedLoginMaxDelayKey, settings.largestDelayMs);
    read(kFailedLoginLimitKey, settings.limit);
    read(kFailedLoginWindowKey, settings.windowSeconds);
    read(kFailedLoginBlockKey, settings.blockSeconds);
    return settings;
}

Colour LogColours::Resolve(std::uint32_t kind) const {
    switch (kind) {
        case monitor::SystemMessage: return systemMessages;
        case monitor::RemoteCommand: return remoteCommands;
        case monitor::ServerReply: return serverReplies;
        case monitor::ErrorMessage: return errorMessages;
        default: return kind;
    }
}

LogColours ReadLogColours(const fs::path& settingsFile) {
    const ProfileFile profile = ProfileFile::Load(settingsFile);
    const auto read = [&profile](LogColourKind kind) {
        const LogColourKeys& keys = KeysOf(kind);
        return ReadColour(profile, keys.colour, keys.paneDefault);
    };
    return {read(LogColourKind::Background), read(LogColourKind::SystemMessages),
            read(LogColourKind::RemoteCommands), read(LogColourKind::ServerReplies),
            read(LogColourKind::ErrorMessages)};
}

bool WriteSetting(const fs::path& settingsFile, SettingKey key, int value) {
    return WriteProfileString(settingsFile, key.section, key.key, std::to_string(value));
}

bool WriteSetting(const fs::path& settingsFile, SettingKey key, std::string_view value) {
    return WriteProfileString(settingsFile, key.section, key.key, value);
}

bool WriteColourSetting(const fs::path& settingsFile, LogColourKind kind, const ColourChoice& choice) {
    const LogColourKeys& keys = KeysOf(kind);
    ProfileEditor editor(settingsFile);
    editor.Set(keys.text.section, keys.text.key, choice.name);
    editor.Set(keys.colour.section, keys.colour.key, std::to_string(choice.colour));
    return editor.Save();
}

bool WriteProgramPath(const fs::path& settingsFile, const fs::path& programFile) {
    std::string folder = programFile.parent_path().string();
    if (!folder.ends_with('/')) folder += '/';
    return WriteSetting(settingsFile, kExtendedPathKey, folder);
}

std::optional<fs::path> AutostartEntryFile() {
    std::optional<fs::path> config = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
    if (!config) {
        const auto home = AbsoluteFromEnvironment("HOME");
        if (!home) return std::nullopt;
        config = *home / ".config";
    }
    return *config / "autostart" / "tolvane.desktop";
}

bool SetRunAtSystemStart(bool on, const fs::path& programFile) {
    const auto entry = AutostartEntryFile();
    if (!entry) return false;
    return on ? AddAutostartEntry(*entry, programFile) : RemoveAutostartEntry(*entry);
}

}  // namespace tolvane::store
