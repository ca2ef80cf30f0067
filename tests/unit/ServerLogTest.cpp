#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "monitor/RecordStamp.h"
#include "monitor/ServerLog.h"
#include "monitor/TerminalLogPrinter.h"

using namespace tolvane::monitor;

namespace {

using Texts = std::vector<std::string>;

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

const std::string kStamp = "Mon,07Dec2026-22:46:37";

ServerLog MakeLog(std::size_t capacity = 10000) {
    return ServerLog(capacity, [] { return LocalTime(2026, 12, 7, 22, 46, 37); });
}

Texts TextsOf(const ServerLog& log) {
    Texts texts;
    for (const auto& record : log.Records()) {
        texts.push_back(record.text);
    }
    return texts;
}

std::string PrintedBy(ServerLog& log, TerminalLogPrinter::Style style, void (*write)(ServerLog&)) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    EXPECT_FALSE(TerminalLogPrinter::WantsColours(file.get()));
    {
        TerminalLogPrinter printer(log, file.get(), style);
        write(log);
    }
    log.AppendLine(" - after the printer\r\n", SystemMessage);
    std::string printed(4096, '\0');
    std::rewind(file.get());
    printed.resize(std::fread(printed.data(), 1, printed.size(), file.get()));
    return printed;
}

}  // namespace

TEST(ServerLogStamp, PrefixesEachLineWithEnglishLocalTime) {
    EXPECT_EQ(FormatRecordStamp(LocalTime(2027, 1, 3, 4, 5, 6)), "Sun,03Jan2027-04:05:06");
    auto log = MakeLog();
    log.AppendLine(" -[1]- USER bob\r\n", RemoteCommand);
    const auto record = log.Records().at(0);
    EXPECT_EQ(record.stamp + record.text, kStamp + " -[1]- USER bob\r\n");
    EXPECT_EQ(record.kind, RemoteCommand);
}

TEST(ServerLogSplitting, OneRecordPerTerminatedLineWithTheConnectionTag) {
    const std::vector<std::pair<std::string, Texts>> cases{
        {" -[3]- 211-Features:\r\n MDTM\r\n211 End\r\n",
         {" -[3]- 211-Features:\r\n", " -[3]-  MDTM\r\n", " -[3]- 211 End\r\n"}},
        {" - first\r\nsecond\r\n", {" - first\r\n", " -second\r\n"}},
        {" -[1]- one\r\ntwo\r\nthree", {" -[1]- one\r\n", " -[1]- two\r\n"}},
        {" -[1]- 200 OK\r\n", {" -[1]- 200 OK\r\n"}},
        {" -[1]- no line end", {" -[1]- no line end"}},
    };
    for (const auto& [text, expected] : cases) {
        auto log = MakeLog();
        log.AppendLine(text, ServerReply);
        EXPECT_EQ(TextsOf(log), expected) << text;
        EXPECT_EQ(log.Records().back().stamp, kStamp);
    }
    auto log = MakeLog();
    log.AppendRaw("Tolvane-D v0.2\r\nline ]- 550\r\n", 0xFF0000, false, true);
    const auto raw = log.Records().at(0);
    EXPECT_EQ(raw.stamp + raw.text, "Tolvane-D v0.2\r\nline ]- 550\r\n");
    EXPECT_FALSE(raw.highlightOffset);
}

TEST(ServerLogHighlight, ErrorReplyIsRedFromTheBlankBeforeItsCode) {
    auto log = MakeLog();
    log.AppendLine(" -[2]- 550 File not found.\r\n", ServerReply);
    log.AppendLine(" -[2]- 250 CWD command successfull.\r\n", ServerReply);
    log.AppendLine(" -[2]- 550-first\r\n550 last\r\n", ServerReply);

    const auto records = log.Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ((records[0].stamp + records[0].text).substr(records[0].highlightOffset.value()), " 550 File not found.\r\n");
    EXPECT_FALSE(records[1].highlightOffset);
    EXPECT_EQ((records[3].stamp + records[3].text).substr(records[3].highlightOffset.value()), " 550 last\r\n");
}

TEST(ServerLogMemory, KeepsOnlyTheNewestRecordsAndNeverReusesSequences) {
    auto log = MakeLog(3);
    for (int i = 1; i <= 5; ++i) {
        log.AppendLine(" - line " + std::to_string(i) + "\r\n", SystemMessage);
    }
    EXPECT_EQ(TextsOf(log), (Texts{" - line 3\r\n", " - line 4\r\n", " - line 5\r\n"}));
    const auto last = log.Records().back().sequence;
    log.Clear();
    EXPECT_TRUE(log.Records().empty());
    log.AppendLine(" - after clear\r\n", SystemMessage);
    EXPECT_GT(log.Records().at(0).sequence, last);
}

TEST(ServerLogConcurrency, AppendsFromManyThreadsArriveWholeAndInOrder) {
    constexpr int kThreads = 4, kAppends = 300;
    ServerLog log;
    std::vector<LogRecord> seen;  // written only under the log's lock
    log.Subscribe([&seen](const LogRecord& record) { seen.push_back(record); });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kAppends; ++i) {
                const auto n = std::to_string(i);
                log.AppendLine(" -[" + std::to_string(t) + "]- " + n + " a\r\n" + n + " b\r\n", SystemMessage);
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }

    ASSERT_EQ(seen.size(), 2u * kThreads * kAppends);
    std::vector<int> nextOfThread(kThreads, 0);
    for (std::size_t i = 0; i < seen.size(); i += 2) {
        const int t = seen[i].text[3] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << seen[i].text;
        const auto expected = " -[" + std::to_string(t) + "]- " + std::to_string(nextOfThread[t]++);
        EXPECT_EQ(seen[i].text + seen[i + 1].text, expected + " a\r\n" + expected + " b\r\n");
        EXPECT_EQ(seen[i].sequence + 1, seen[i + 1].sequence);
    }
    EXPECT_EQ(log.Records().back().sequence, seen.back().sequence);
}

TEST(ServerLogConcurrency, UnsubscribedSubscriberIsNeverCalledAgain) {
    ServerLog log;
    std::atomic<bool> unsubscribed{false}, stop{false};
    std::atomic<int> calls{0}, lateCalls{0}, appended{0};
    const int subscription = log.Subscribe([&](const LogRecord&) {
        ++calls;
        lateCalls += unsubscribed ? 1 : 0;
    });
    log.Subscribe([&appended](const LogRecord&) { ++appended; });
    std::thread writer([&] {
        while (!stop) {
            log.AppendLine(" - tick\r\n", SystemMessage);
        }
    });
    while (calls < 100) {
        std::this_thread::yield();
    }
    log.Unsubscribe(subscription);
    unsubscribed = true;
    const int callsAtUnsubscribe = calls;
    while (appended < callsAtUnsubscribe + 100) {
        std::this_thread::yield();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(lateCalls, 0);
    EXPECT_EQ(calls, callsAtUnsubscribe);
}

TEST(TerminalLogPrinter, PrintsOneLinePerRecordWhileItLives) {
    auto log = MakeLog();
    const auto printed = PrintedBy(log, TerminalLogPrinter::Style::Plain, [](ServerLog& target) {
        target.AppendRaw("Tolvane-D v0.2\r\n", 0xFF0000, false, true);
        target.AppendLine(" -[1]- 331-Password\r\n331 required\r\n", ServerReply);
        target.AppendLine(" - no line end", SystemMessage);
    });
    EXPECT_EQ(printed, "Tolvane-D v0.2\n" + kStamp + " -[1]- 331-Password\n" + kStamp + " -[1]- 331 required\n" +
                           kStamp + " - no line end\n");
}

TEST(TerminalLogPrinter, ColoursByKindAndShowsErrorRepliesInRed) {
    auto log = MakeLog();
    const auto printed = PrintedBy(log, TerminalLogPrinter::Style::Colours, [](ServerLog& target) {
        target.AppendLine(" -[2]- 550 File not found.\r\n", ServerReply);
        target.AppendLine(" - custom\r\n", 0x123456, true, false);
        target.AppendRaw("banner\r\n", SystemMessage, false, false);
    });
    EXPECT_EQ(printed, "\x1b[0;1;32m" + kStamp + " -[2]-\x1b[0;1;31m 550 File not found.\x1b[0m\n" +
                           "\x1b[0;4;38;2;86;52;18m" + kStamp + " - custom\x1b[0m\n\x1b[0;34mbanner\n\x1b[0m");
}

TEST(TerminalLogPrinter, JournalStyleGivesEveryLineItsPriorityAndNoColours) {
    auto log = MakeLog();
    const auto printed = PrintedBy(log, TerminalLogPrinter::Style::JournalPriorities, [](ServerLog& target) {
        target.AppendRaw("Tolvane-D v0.2\r\nsecond\r\n", 0xFF0000, false, true);
        target.AppendLine(" - No IP Home found\r\n", ErrorMessage);
        target.AppendLine(" -[2]- 550 File not found.\r\n", ServerReply);
        target.AppendLine(" - no line end", SystemMessage);
    });
    EXPECT_EQ(printed, "<5>Tolvane-D v0.2\n<5>second\n<3>" + kStamp + " - No IP Home found\n<6>" + kStamp +
                           " -[2]- 550 File not found.\n<5>" + kStamp + " - no line end\n");
}

TEST(TerminalLogPrinter, StalledOutputHoldsAppendersBackAndLosesNothing) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* out = ::fdopen(fds[1], "w");
    ASSERT_NE(out, nullptr);
    auto log = MakeLog();
    const std::string record(1000, 'x');
    constexpr int kRecords = 8000;  // far more than the pipe and the printer's backlog hold
    std::atomic<int> appended{0};
    std::string printed;
    {
        TerminalLogPrinter printer(log, out, TerminalLogPrinter::Style::Plain);
        std::thread appender([&] {
            for (int i = 0; i < kRecords; ++i, ++appended) log.AppendRaw(record + "\r\n", SystemMessage, false, false);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(appended.load(), kRecords) << "nobody reads the output, so appending must stall";
        char buffer[65536];
        while (printed.size() < static_cast<std::size_t>(kRecords) * (record.size() + 1)) {
            const ssize_t length = ::read(fds[0], buffer, sizeof buffer);
            ASSERT_GT(length, 0);
            printed.append(buffer, static_cast<std::size_t>(length));
        }
        appender.join();
    }
    std::fclose(out);
    ::close(fds[0]);
    EXPECT_EQ(printed.size(), static_cast<std::size_t>(kRecords) * (record.size() + 1));
}
