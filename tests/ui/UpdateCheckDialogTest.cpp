#include "net/SocketReactor.h"
#include "store/ProfileFile.h"
#include "ui/UpdateCheckDialog.h"

#include "PythonServer.h"
#include "TempFolder.h"
#include "TestHome.h"

#include <QtTest>

#include <chrono>

using namespace tolvane;

class UpdateCheckDialogTest : public QObject {
    Q_OBJECT

private:
    std::filesystem::path SettingsFor(std::uint16_t port) {
        const auto settings = home_.path() / "Settings.ini";
        store::WriteProfileString(settings, "UpdateCheck", "Host", "127.0.0.1");
        store::WriteProfileString(settings, "UpdateCheck", "Port", std::to_string(port));
        return settings;
    }

    // A program file dated 3 February 2001.
    std::filesystem::path ProgramFile() {
        const auto program = home_.path() / "tolvane";
        WriteText(program, "program");
        std::tm date{};
        date.tm_year = 101;
        date.tm_mon = 1;
        date.tm_mday = 3;
        date.tm_hour = 12;
        const auto stamp = std::chrono::system_clock::from_time_t(std::mktime(&date));
        std::filesystem::last_write_time(program, std::chrono::file_clock::from_sys(stamp));
        return program;
    }

    TempFolder home_;

private slots:
    // The dialogs of a test are gone and have closed their sockets.
    void cleanup() { net::SocketReactor::Instance().JoinAll(); }

    void showsInstalledAndLatestValuesFromARealWebServer() {
        const auto site = home_.path() / "site";
        WriteText(site / "version.txt", "0.3\n16\n01/02/2001\nFixes\n");
        const std::uint16_t port = testing::FreePort();
        PythonServer web({"-m", "http.server", QString::number(port), "--bind", "127.0.0.1", "--directory",
                          QString::fromStdString(site.string())},
                         port);
        ui::UpdateCheckDialog dialog(SettingsFor(port), ProgramFile());
        QCOMPARE(dialog.InstalledVersion(), QString("0.2"));
        QCOMPARE(dialog.InstalledBuild(), QString("15"));
        QCOMPARE(dialog.InstalledDate(), QString("03/02/2001"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.Status(), QString("Done ..."), 5000);
        QCOMPARE(dialog.LatestVersion(), QString("0.3"));
        QCOMPARE(dialog.LatestBuild(), QString("16"));
        QCOMPARE(dialog.LatestDate(), QString("01/02/2001"));
        QCOMPARE(dialog.Description().trimmed(), QString("Fixes"));
        QVERIFY(web.Output().contains("GET /version.txt HTTP/1.1\" 200"));
    }

    void aRefusedConnectionFailsWithinASecond() {
        ui::UpdateCheckDialog dialog(SettingsFor(testing::FreePort()), ProgramFile());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.Status(), QString("Failed to connect to host ..."), 1200);
        QCOMPARE(dialog.LatestVersion(), QString());
        QCOMPARE(dialog.Description(), QString());
    }

    void anUnsetHostIsToldInsteadOfTried() {
        ui::UpdateCheckDialog dialog(home_.path() / "unset" / "Settings.ini", ProgramFile());
        QVERIFY(dialog.Status().contains("[UpdateCheck]"));
        QTest::qWait(200);
        QVERIFY(dialog.Status().contains("[UpdateCheck]"));
    }
};

QTEST_MAIN(UpdateCheckDialogTest)
#include "UpdateCheckDialogTest.moc"
