#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace tolvane::ftp {

// What an account asks to have written to its session log file.
struct LoggingSettings {
    bool enabled = false;
    std::string fileNameMask = "%DATE-%TIME-%USER-%IP";
    bool logCommands = false;
    bool logReplies = false;
    bool logSystemMessages = false;
};

// File name of a session log: the placeholders %DATE, %TIME, %USER and %IP are replaced in that
// order, each pass only in what the earlier passes left, then ".log" is appended. Characters a
// file name cannot hold become '-', so the name never leads into another folder.
std::string SessionLogFileName(std::string_view mask, std::time_t now, std::string_view user,
                               std::string_view address);

// One session's log file. Written by the session and by its data sockets; each record is one
// write, whole.
class SessionLog {
public:
    SessionLog() = default;
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Opens (creating it when missing) the file at `path` for writing from its start, without
    // truncating it. A failure leaves the session without a log file.
    bool Open(const std::string& path, const LoggingSettings& settings);
    void Close();
    bool IsOpen() const;

    void WriteSystem(std::string_view text);
    void WriteCommand(int connectionNumber, std::string_view commandLine);
    void WriteReply(int connectionNumber, std::string_view reply);

private:
    void Write(bool LoggingSettings::*wanted, const std::string& body);

    mutable std::mutex mutex_;
    int fd_ = -1;
    LoggingSettings settings_;
};

}  // namespace tolvane::ftp
