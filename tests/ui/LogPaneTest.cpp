#include "monitor/RecordStamp.h"
#include "monitor/ServerLog.h"
#include "ui/LogPane.h"
#include "TempFolder.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using tolvane::monitor::ServerLog;
using tolvane::ui::LogPane;
namespace monitor = tolvane::monitor;

namespace {

constexpr std::time_t kNow = 1'800'000'000;
const QColor kGreen(0, 170, 0);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

ServerLog MakeLog() {
    return ServerLog(20000, [] { return kNow; });
}

QString Stamp() { return QString::fromStdString(monitor::FormatRecordStamp(kNow)); }

QStringList Lines(const LogPane& pane) {
    QStringList lines = pane.toPlainText().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QString LastLine(const LogPane& pane) {
    const QStringList lines = Lines(pane);
    return lines.isEmpty() ? QString() : lines.last();
}

// Colour and weight of the character at `column` of line `line`.
QTextCharFormat FormatAt(const LogPane& pane, int line, int column) {
    const QTextBlock block = pane.document()->findBlockByNumber(line);
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + column + 1);
    return cursor.charFormat();
}

QColor ColourAt(const LogPane& pane, int line, int column) { return FormatAt(pane, line, column).foreground().color(); }

}  // namespace

class LogPaneTest : public QObject {
    Q_OBJECT

private slots:
    void lineLimitRemovesTheOldestLines();
    void errorRepliesAreRedFromTheReplyCode();
    void coloursFollowTheSettings();
    void copyAllCopiesThePlainText();
    void burstFromManyThreadsKeepsTheLimit();
    void aFilterShowsAConnectionsLinesOrATextsAndFollowsTheLog();
};

// "2" is connection 2, not 12; any other text matches without regard to case.
void LogPaneTest::aFilterShowsAConnectionsLinesOrATextsAndFollowsTheLog() {
    TempFolder home;
    ServerLog log = MakeLog();
    for (int i = 0; i < 60; ++i) log.AppendLine(" -[1]- NOOP " + std::to_string(i) + "\r\n", monitor::RemoteCommand);
    log.AppendLine(" -[2]- User \"Alice\" logged in.\r\n", monitor::SystemMessage);
    log.AppendLine(" -[12]- User \"bob\" logged in.\r\n", monitor::SystemMessage);
    log.AppendLine(" -[12]- PASV\r\n", monitor::RemoteCommand);
    LogPane pane(log, home.path() / "Settings.ini");

    pane.SetFilter("2");
    QTRY_COMPARE(Lines(pane), QStringList({Stamp() + " -[2]- User \"Alice\" logged in."}));
    pane.SetFilter("#12");
    QTRY_COMPARE(Lines(pane), QStringList({Stamp() + " -[12]- User \"bob\" logged in.", Stamp() + " -[12]- PASV"}));
    // A user's name takes the lines of that user's sessions too.
    pane.SetFilter("bob");
    QTRY_COMPARE(Lines(pane), QStringList({Stamp() + " -[12]- User \"bob\" logged in."}));
    pane.SetFilter("bob", {"12"});
    QTRY_COMPARE(Lines(pane).size(), 2);
    pane.SetFilter("ALICE");
    QTRY_COMPARE(Lines(pane).size(), 1);
    log.AppendLine(" -[2]- 221 Bye alice\r\n", monitor::ServerReply);
    log.AppendLine(" -[1]- QUIT\r\n", monitor::RemoteCommand);
    QTRY_COMPARE(Lines(pane).size(), 2);
    QCOMPARE(LastLine(pane), Stamp() + " -[2]- 221 Bye alice");
    // Cleared: the newest lines of the log, as many as the pane keeps.
    pane.SetFilter("");
    QTRY_COMPARE(LastLine(pane), Stamp() + " -[1]- QUIT");
    QVERIFY(Lines(pane).size() <= LogPane::kLineCountLimit);
    QVERIFY(!Lines(pane).contains(Stamp() + " -[1]- NOOP 0"));
}

// The banner counts as five lines: the 45th time-stamped line removes the first banner line.
void LogPaneTest::lineLimitRemovesTheOldestLines() {
    TempFolder home;
    ServerLog log = MakeLog();
    LogPane pane(log, home.path() / "Settings.ini");
    QCOMPARE(pane.LineCount(), 5);

    log.AppendRaw("Tolvane-D v0.2\r\n", 0xFF0000, false, true);
    log.AppendRaw("B2\r\nB3\r\nB4\r\n\r\n", monitor::SystemMessage, false, true);
    QTRY_COMPARE(Lines(pane).size(), 5);
    QCOMPARE(Lines(pane).first(), QString("Tolvane-D v0.2"));
    QCOMPARE(ColourAt(pane, 0, 0), kBlue);
    QCOMPARE(pane.LineCount(), 5);  // raw text is not counted

    for (int i = 1; i <= 44; ++i) log.AppendLine(" - line " + std::to_string(i) + "\r\n", monitor::SystemMessage);
    QTRY_COMPARE(Lines(pane).size(), 49);
    QCOMPARE(Lines(pane).first(), QString("Tolvane-D v0.2"));
    QCOMPARE(Lines(pane).last(), Stamp() + " - line 44");
    QCOMPARE(pane.LineCount(), 49);

    log.AppendLine(" - line 45\r\n", monitor::SystemMessage);
    QTRY_COMPARE(LastLine(pane), Stamp() + " - line 45");
    QCOMPARE(Lines(pane).size(), 49);
    QCOMPARE(Lines(pane).first(), QString("B2"));
    log.AppendLine(" - line 46\r\n", monitor::SystemMessage);
    QTRY_COMPARE(LastLine(pane), Stamp() + " - line 46");
    QCOMPARE(Lines(pane).size(), 49);
    QCOMPARE(Lines(pane).first(), QString("B3"));

    // After Clear the count starts again at five; 46 lines applied in one go leave the last 44.
    pane.ClearAll();
    QCOMPARE(pane.toPlainText(), QString());
    QCOMPARE(pane.LineCount(), 5);
    for (int i = 1; i <= 44; ++i) log.AppendLine(" - again " + std::to_string(i) + "\r\n", monitor::SystemMessage);
    QTRY_COMPARE(Lines(pane).size(), 44);
    QCOMPARE(Lines(pane).first(), Stamp() + " - again 1");
    for (int i = 45; i <= 46; ++i) log.AppendLine(" - again " + std::to_string(i) + "\r\n", monitor::SystemMessage);
    QTRY_COMPARE(LastLine(pane), Stamp() + " - again 46");
    QCOMPARE(Lines(pane).size(), 44);
    QCOMPARE(Lines(pane).first(), Stamp() + " - again 3");

    // A banner of several lines at the front of a batch loses only the lines the limit takes.
    pane.ClearAll();
    log.AppendRaw("R1\r\nR2\r\nR3\r\n", monitor::SystemMessage, false, true);
    for (int i = 1; i <= 46; ++i) log.AppendLine(" - after banner " + std::to_string(i) + "\r\n", monitor::SystemMessage);
    QTRY_COMPARE(LastLine(pane), Stamp() + " - after banner 46");
    QCOMPARE(Lines(pane).size(), 47);
    QCOMPARE(Lines(pane).first(), QString("R3"));

    pane.ClearAll();
    for (int i = 1; i <= 100; ++i) log.AppendLine(" - batch " + std::to_string(i) + "\r\n", monitor::SystemMessage);
    QTRY_COMPARE(LastLine(pane), Stamp() + " - batch 100");
    QCOMPARE(Lines(pane).size(), 44);
    QCOMPARE(Lines(pane).first(), Stamp() + " - batch 57");
}

void LogPaneTest::errorRepliesAreRedFromTheReplyCode() {
    TempFolder home;
    ServerLog log = MakeLog();
    LogPane pane(log, home.path() / "Settings.ini");
    log.AppendLine(" -[1]- 550 File not found.\r\n", monitor::ServerReply);
    log.AppendLine(" -[1]- 250 CWD command successfull.\r\n", monitor::ServerReply);
    QTRY_COMPARE(Lines(pane).size(), 2);

    const QString error = Lines(pane).at(0);
    QCOMPARE(error, Stamp() + " -[1]- 550 File not found.");
    const int blank = static_cast<int>(error.indexOf(" 550"));
    for (int column = 0; column < blank; ++column) QCOMPARE(ColourAt(pane, 0, column), kGreen);
    for (int column = blank; column < error.size(); ++column) QCOMPARE(ColourAt(pane, 0, column), kRed);
    QCOMPARE(FormatAt(pane, 0, 0).fontWeight(), int(QFont::Bold));
    QCOMPARE(FormatAt(pane, 0, blank + 1).fontWeight(), int(QFont::Bold));

    const QString success = Lines(pane).at(1);
    for (int column = 0; column < success.size(); ++column) QCOMPARE(ColourAt(pane, 1, column), kGreen);
}

void LogPaneTest::coloursFollowTheSettings() {
    TempFolder home;
    const auto settings = home.path() / "Settings.ini";
    // Stored as decimal COLORREF values, 0x00BBGGRR.
    WriteText(settings, "[LoggingWindow]\r\nBackgroundColor=65535\r\nServerRepliesColor=255\r\n");
    ServerLog log = MakeLog();
    LogPane pane(log, settings);
    QCOMPARE(pane.palette().color(QPalette::Base), QColor(255, 255, 0));

    log.AppendLine(" -[2]- 200 Type set to I.\r\n", monitor::ServerReply);
    log.AppendLine(" -[2]- NOOP \r\n", monitor::RemoteCommand);
    log.AppendLine(" - literal\r\n", 0x123456);
    QTRY_COMPARE(Lines(pane).size(), 3);
    QCOMPARE(ColourAt(pane, 0, 0), kRed);
    QCOMPARE(ColourAt(pane, 1, 0), QColor(0, 0, 140));
    QCOMPARE(ColourAt(pane, 2, 0), QColor(0x56, 0x34, 0x12));

    // A changed colour applies from the next line on; the background only at the next start.
    WriteText(settings, "[LoggingWindow]\r\nBackgroundColor=0\r\nServerRepliesColor=16711680\r\n");
    log.AppendLine(" -[2]- 226 Transfer complete.\r\n", monitor::ServerReply);
    QTRY_COMPARE(Lines(pane).size(), 4);
    QCOMPARE(ColourAt(pane, 0, 0), kRed);
    QCOMPARE(ColourAt(pane, 3, 0), kBlue);
    QCOMPARE(pane.palette().color(QPalette::Base), QColor(255, 255, 0));
    LogPane later(log, settings);
    QCOMPARE(later.palette().color(QPalette::Base), QColor(0, 0, 0));
}

void LogPaneTest::copyAllCopiesThePlainText() {
    TempFolder home;
    ServerLog log = MakeLog();
    LogPane pane(log, home.path() / "Settings.ini");
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("left over");
    pane.CopyAll();
    QCOMPARE(clipboard->text(), QString());

    log.AppendLine(" -[3]- USER u\r\n", monitor::RemoteCommand);
    log.AppendLine(" -[3]- 331 Need password.\r\n", monitor::ServerReply);
    QTRY_COMPARE(Lines(pane).size(), 2);
    pane.CopyAll();
    QCOMPARE(clipboard->text(), Stamp() + " -[3]- USER u\n" + Stamp() + " -[3]- 331 Need password.\n");
}

// Workers only queue; the window applies what it can show, in the log's order.
void LogPaneTest::burstFromManyThreadsKeepsTheLimit() {
    TempFolder home;
    ServerLog log = MakeLog();
    LogPane pane(log, home.path() / "Settings.ini");
    constexpr int kThreads = 20;
    constexpr int kLinesEach = 500;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, &running, t] {
            for (int i = 0; i < kLinesEach; ++i) {
                log.AppendLine(" -[" + std::to_string(t) + "]- 550 line " + std::to_string(i) + "\r\n",
                               i % 2 ? monitor::ServerReply : monitor::SystemMessage);
            }
            running.fetch_sub(1);
        });
    }
    while (running.load() > 0) QCoreApplication::processEvents();
    for (auto& thread : threads) thread.join();

    const auto records = log.Records();
    QCOMPARE(records.size(), std::size_t{kThreads * kLinesEach});
    QStringList expected;
    for (auto record = records.end() - 44; record != records.end(); ++record) {
        const std::string line = record->stamp + record->text;
        expected << QString::fromStdString(line.substr(0, line.size() - 2));
    }
    QTRY_COMPARE(LastLine(pane), expected.last());
    QCOMPARE(Lines(pane), expected);
    QCOMPARE(pane.LineCount(), LogPane::kLineCountLimit);
}

QTEST_MAIN(LogPaneTest)
#include "LogPaneTest.moc"
