#pragma once

#include <cstdio>

#include "monitor/ServerLog.h"

namespace tolvane::monitor {

// Prints the server log to a terminal or file for as long as it lives: one line per record,
// optionally coloured by kind with ANSI escapes.
class TerminalLogPrinter {
public:
    TerminalLogPrinter(ServerLog& log, std::FILE* out, bool colours);
    ~TerminalLogPrinter();

    TerminalLogPrinter(const TerminalLogPrinter&) = delete;
    TerminalLogPrinter& operator=(const TerminalLogPrinter&) = delete;

    static bool WantsColours(std::FILE* out);

private:
    void Print(const LogRecord& record) const;

    ServerLog& log_;
    std::FILE* const out_;
    const bool colours_;
    const int subscription_;
};

}  // namespace tolvane::monitor
