#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "monitor/ServerLog.h"

namespace tolvane::monitor {

// Prints the server log to a terminal or file for as long as it lives: one line per record,
// optionally coloured by kind with ANSI escapes. A thread of its own does the writing, in
// batches, so that a session appending a record under the log's lock never waits for the output
// and a burst of records costs one write instead of one each. The writer gathers records for a
// short while before writing: waking it for every line cost the sessions more than the line. Everything appended before the
// printer ends is written before its destructor returns.
class TerminalLogPrinter {
public:
    // Colours for a terminal; a syslog priority before each line for the systemd journal, which
    // files each line under it (errors as err); bare lines for anything else.
    enum class Style { Plain, Colours, JournalPriorities };

    TerminalLogPrinter(ServerLog& log, std::FILE* out, Style style);
    ~TerminalLogPrinter();

    TerminalLogPrinter(const TerminalLogPrinter&) = delete;
    TerminalLogPrinter& operator=(const TerminalLogPrinter&) = delete;

    static bool WantsColours(std::FILE* out);
    // The journal when `out` is the stream systemd connected (JOURNAL_STREAM names it), else
    // colours on a terminal, else plain.
    static Style StyleFor(std::FILE* out);

private:
    void Print(const LogRecord& record);
    void WriteUntilStopped();

    static constexpr std::size_t kMaxPendingBytes = 1 << 20;
    static constexpr std::chrono::milliseconds kGatherTime{20};

    ServerLog& log_;
    std::FILE* const out_;
    const Style style_;
    std::mutex mutex_;
    std::condition_variable pendingSet_;
    std::condition_variable pendingDrained_;
    std::string pending_;
    bool stopping_ = false;
    bool writerIdle_ = false;
    std::thread writer_;
    const int subscription_;
};

}  // namespace tolvane::monitor
