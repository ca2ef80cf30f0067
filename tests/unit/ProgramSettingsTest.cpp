#include "store/ProgramSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "TempFolder.h"
#include "monitor/ServerLog.h"
#include "store/ProfileFile.h"

using namespace tolvane::store;
namespace fs = std::filesystem;

namespace {

class ProgramSettingsTest : public ::testing::Test {
protected:
    TempFolder folder;
    fs::path file = folder.path() / "Settings.ini";
};

TEST_F(ProgramSettingsTest, AFreshHomeReadsTheDefaults) {
    const ProgramSettings settings = ReadProgramSettings(file);
    EXPECT_EQ(settings.serverPort, 21);
    EXPECT_EQ(settings.maximumUser, -1);
    EXPECT_EQ(settings.maximumTransfers, -1);
    EXPECT_EQ(settings.welcomeMsg, "");
    EXPECT_EQ(settings.startAsTrayIcon, 0);
    EXPECT_EQ(settings.runAsSystemService, 0);
    EXPECT_EQ(settings.onlineAtStartup, 0);
    EXPECT_EQ(settings.languageSelection, "ResDLL_English");
    EXPECT_EQ(settings.coolMenuActive, 1);
    EXPECT_EQ(settings.ColourOf(LogColourKind::Background), (ColourChoice{"White", 0xFFFFFF}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::SystemMessages), (ColourChoice{"Blue", 0xFF6600}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::ServerReplies), (ColourChoice{"Green", 0x00A000}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::ErrorMessages), (ColourChoice{"Red", 0x0000FF}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::RemoteCommands), (ColourChoice{"DarkBlue", 0x8C0000}));
    EXPECT_FALSE(fs::exists(file)) << "reading never creates the file";

    // The pane falls back to each kind's own default, not to the list's entries.
    const LogColours pane = ReadLogColours(file);
    EXPECT_EQ(pane.background, 0xFFFFFFu);
    EXPECT_EQ(pane.systemMessages, 0xFF6400u);
    EXPECT_EQ(pane.remoteCommands, 0x8C0000u);
    EXPECT_EQ(pane.serverReplies, 0x00AA00u);
    EXPECT_EQ(pane.errorMessages, 0x0000FFu);
}

TEST_F(ProgramSettingsTest, HandEditedJunkReadsAsTheDefaults) {
    WriteText(file,
              "[ftpserver-options]\r\n"
              "ServerPort=twenty-one\r\n"
              "MaximumUser=12abc\r\n"
              "MaximumTransfers=99999999999999\r\n"
              "StartAsTrayIcon=\r\n"
              "OnlineAtStartup=1.5\r\n"
              "RunAsSystemService=+-1\r\n"
              "[LoggingWindow]\r\n"
              "SystemMessagesText=Purple\r\n"
              "SystemMessagesColor=blue\r\n"
              "ServerRepliesText=\r\n"
              "ServerRepliesColor=16777216\r\n"
              "RemoteCommandsColor=-1\r\n"
              "BackgroundText=custom\r\n"
              "BackgroundColor=0x00FF00\r\n"
              "ErrorMessagesText=Custom\r\n"
              "[CoolMenu]\r\n"
              "Active=yes\r\n");
    const ProgramSettings settings = ReadProgramSettings(file);
    EXPECT_EQ(settings.serverPort, 21);
    EXPECT_EQ(settings.maximumUser, -1) << "trailing junk is no number";
    EXPECT_EQ(settings.maximumTransfers, -1) << "out of range is no number";
    EXPECT_EQ(settings.startAsTrayIcon, 0);
    EXPECT_EQ(settings.onlineAtStartup, 0);
    EXPECT_EQ(settings.runAsSystemService, 0);
    EXPECT_EQ(settings.coolMenuActive, 1);
    EXPECT_EQ(settings.ColourOf(LogColourKind::SystemMessages), (ColourChoice{"Blue", 0xFF6600}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::ServerReplies), (ColourChoice{"Green", 0x00A000}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::Background), (ColourChoice{"Custom", 0xFFFFFF}))
        << "names match without regard to case; a custom colour that is no number is white";
    EXPECT_EQ(settings.ColourOf(LogColourKind::ErrorMessages), (ColourChoice{"Custom", 0xFFFFFF}))
        << "a custom entry without its colour is white";

    const LogColours pane = ReadLogColours(file);
    EXPECT_EQ(pane.systemMessages, 0xFF6400u);
    EXPECT_EQ(pane.serverReplies, 0x00AA00u) << "beyond 0x00FFFFFF is no colour";
    EXPECT_EQ(pane.remoteCommands, 0x8C0000u) << "negative is no colour";
    EXPECT_EQ(pane.background, 0xFFFFFFu);
}

TEST_F(ProgramSettingsTest, StoredValuesReadBackWithBlanksAndSigns) {
    WriteText(file,
              "[FTPServer-Options]\nServerPort= 2121 \nMaximumUser=+5\nMaximumTransfers=-1\n"
              "WelcomeMsg=/srv/ftp/welcome = hi.txt\n"
              "[LoggingWindow]\nErrorMessagesText=Custom\nErrorMessageColor=255\nServerRepliesText=yellow\n");
    const ProgramSettings settings = ReadProgramSettings(file);
    EXPECT_EQ(settings.serverPort, 2121);
    EXPECT_EQ(settings.maximumUser, 5);
    EXPECT_EQ(settings.maximumTransfers, -1);
    EXPECT_EQ(settings.welcomeMsg, "/srv/ftp/welcome = hi.txt");
    EXPECT_EQ(settings.ColourOf(LogColourKind::ErrorMessages), (ColourChoice{"Custom", 255}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::ServerReplies), (ColourChoice{"Yellow", 0x00FFFF}));
    EXPECT_EQ(ReadLogColours(file).errorMessages, 255u);
}

TEST_F(ProgramSettingsTest, WritersStoreUnderTheSettingsKeys) {
    ASSERT_TRUE(WriteSetting(file, kServerPortKey, 2121));
    ASSERT_TRUE(WriteSetting(file, kWelcomeMsgKey, "/srv/welcome.txt"));
    ASSERT_TRUE(WriteSetting(file, kLanguageSelectionKey, "ResDLL_German"));
    ASSERT_TRUE(WriteColourSetting(file, LogColourKind::ErrorMessages, {"Custom", 0x123456}));
    ASSERT_TRUE(WriteColourSetting(file, LogColourKind::ServerReplies, {"Yellow", 0x00FFFF}));
    ASSERT_TRUE(WriteProgramPath(file, "/opt/tolvane/bin/tolvane"));

    const ProfileFile profile = ProfileFile::Load(file);
    EXPECT_EQ(profile.ReadString("FTPServer-Options", "ServerPort", ""), "2121");
    EXPECT_EQ(profile.ReadString("Language", "Selection", ""), "ResDLL_German");
    EXPECT_EQ(profile.ReadString("LoggingWindow", "ErrorMessagesText", ""), "Custom");
    EXPECT_EQ(profile.ReadString("LoggingWindow", "ErrorMessageColor", ""), std::to_string(0x123456))
        << "the singular key name is the one the pane reads";
    EXPECT_EQ(profile.ReadString("Extended", "Path", ""), "/opt/tolvane/bin/");

    const ProgramSettings settings = ReadProgramSettings(file);
    EXPECT_EQ(settings.ColourOf(LogColourKind::ErrorMessages), (ColourChoice{"Custom", 0x123456}));
    EXPECT_EQ(settings.ColourOf(LogColourKind::ServerReplies), (ColourChoice{"Yellow", 0x00FFFF}));
    EXPECT_EQ(ReadLogColours(file).serverReplies, 0x00FFFFu) << "a named entry stores its colour too";
}

TEST(LogColoursTest, KindsResolveToTheirSettingAndOtherValuesStayLiteral) {
    const LogColours colours{1, 2, 3, 4, 5};
    EXPECT_EQ(colours.Resolve(tolvane::monitor::SystemMessage), 2u);
    EXPECT_EQ(colours.Resolve(tolvane::monitor::RemoteCommand), 3u);
    EXPECT_EQ(colours.Resolve(tolvane::monitor::ServerReply), 4u);
    EXPECT_EQ(colours.Resolve(tolvane::monitor::ErrorMessage), 5u);
    EXPECT_EQ(colours.Resolve(0xFF0000), 0xFF0000u);
}

TEST(ColourChoicesTest, TheTableHoldsTheListInOrder) {
    ASSERT_EQ(kColourChoices.size(), 8u);
    EXPECT_EQ(kColourChoices.front().name, "Black");
    EXPECT_EQ(kColourChoices.back().name, "Custom");
    EXPECT_EQ(FindColourChoice("darkblue")->colour, 0x8C0000u);
    EXPECT_EQ(FindColourChoice("Blue")->colour, 0xFF6600u);
    EXPECT_FALSE(FindColourChoice("Blu"));
    EXPECT_FALSE(FindColourChoice(""));
}

// Points the XDG variables at a temporary folder for one test and restores them after.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() { Set(old_); }

private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

    const char* name_;
    std::optional<std::string> old_;
};

class AutostartTest : public ::testing::Test {
protected:
    TempFolder folder;
    ScopedVariable config{"XDG_CONFIG_HOME", (folder.path() / "config").string()};
    ScopedVariable home{"HOME", (folder.path() / "home").string()};
    fs::path entry = folder.path() / "config" / "autostart" / "tolvane.desktop";
};

TEST_F(AutostartTest, OnWritesADesktopEntryAndOffRemovesIt) {
    ASSERT_EQ(AutostartEntryFile(), entry);
    ASSERT_TRUE(SetRunAtSystemStart(true, "/opt/tolvane/tolvane"));
    const std::string text = ReadText(entry);
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"/opt/tolvane/tolvane\"\n"), std::string::npos) << text;

    ASSERT_TRUE(SetRunAtSystemStart(false, "/opt/tolvane/tolvane"));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_TRUE(SetRunAtSystemStart(false, "/opt/tolvane/tolvane")) << "nothing to remove is success";
}

TEST_F(AutostartTest, ExecQuotesReservedCharactersOfThePath) {
    ASSERT_TRUE(SetRunAtSystemStart(true, "/opt/my \"ftp\"/$HOME/a\\b/100%/tolvane"));
    // Quoting escapes ", $ and \ with a backslash; the string escape then doubles every backslash.
    EXPECT_NE(ReadText(entry).find("\nExec=\"/opt/my \\\\\"ftp\\\\\"/\\\\$HOME/a\\\\\\\\b/100%%/tolvane\"\n"),
              std::string::npos)
        << ReadText(entry);
}

TEST_F(AutostartTest, RefusesWhatCannotBeWritten) {
    EXPECT_FALSE(SetRunAtSystemStart(true, "/opt/evil\nExec=rm -rf ~/tolvane")) << "a line break would add a key";
    EXPECT_FALSE(fs::exists(entry));

    WriteText(folder.path() / "config" / "autostart", "a file where the folder belongs");
    EXPECT_FALSE(SetRunAtSystemStart(true, "/opt/tolvane/tolvane"));
}

TEST_F(AutostartTest, WithoutAnAbsoluteConfigHomeTheEntryGoesUnderHome) {
    ScopedVariable relative{"XDG_CONFIG_HOME", "relative/config"};
    EXPECT_EQ(AutostartEntryFile(), folder.path() / "home" / ".config" / "autostart" / "tolvane.desktop");
    ScopedVariable noHome{"HOME", std::nullopt};
    EXPECT_FALSE(AutostartEntryFile());
    EXPECT_FALSE(SetRunAtSystemStart(true, "/opt/tolvane/tolvane"));
}

}  // namespace
