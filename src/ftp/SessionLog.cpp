#include "ftp/SessionLog.h"

#include "monitor/LogText.h"
#include "monitor/RecordStamp.h"

#include <array>
#include <fcntl.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

// strftime in the C locale whatever the process locale is (the window sets the user's).
std::string FormatTime(const char* format, std::time_t when) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    std::tm local{};
    localtime_r(&when, &local);
    std::array<char, 128> text{};
    const std::size_t length = strftime_l(text.data(), text.size(), format, &local, cLocale);
    return std::string(text.data(), length);
}

std::string ReplaceAll(std::string rest, std::string_view placeholder, std::string_view value, std::string& out) {
    for (std::size_t at; (at = rest.find(placeholder)) != std::string::npos;) {
        out += rest.substr(0, at);
        out += value;
        rest.erase(0, at + placeholder.size());
    }
    return rest;
}

bool IsPasswordLine(std::string_view line) {
    return line.size() >= 4 && strncasecmp(line.data(), "PASS", 4) == 0 &&
           (line.size() == 4 || line[4] == ' ' || line[4] == '\r' || line[4] == '\n');
}

// Keeps the verb and the line end of a PASS line, hides the password.
std::string MaskPassword(std::string_view line) {
    if (!IsPasswordLine(line)) return std::string(line);
    const std::size_t end = line.find_first_of("\r\n");
    return std::string(line.substr(0, 4)) + " >> Hidden <<" +
           std::string(end == std::string_view::npos ? std::string_view() : line.substr(end));
}

}  // namespace

std::string SessionLogFileName(std::string_view mask, std::time_t now, std::string_view user,
                               std::string_view address) {
    std::string out;
    std::string rest(mask);
    rest = ReplaceAll(std::move(rest), "%DATE", FormatTime("%A,%D%B%Y", now), out);
    rest = ReplaceAll(std::move(rest), "%TIME", FormatTime("%H:%M:%S", now), out);
    rest = ReplaceAll(std::move(rest), "%USER", user, out);
    rest = ReplaceAll(std::move(rest), "%IP", address, out);
    out += rest;
    for (char& c : out)
        if (c == '/' || c == '\0') c = '-';
    return out + ".log";
}

SessionLog::~SessionLog() { Close(); }

bool SessionLog::Open(const std::string& path, const LoggingSettings& settings) {
    std::lock_guard lock(mutex_);
    if (!settings.enabled || fd_ >= 0) return false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    settings_ = settings;
    return fd_ >= 0;
}

void SessionLog::Close() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool SessionLog::IsOpen() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

void SessionLog::WriteSystem(std::string_view text) {
    Write(&LoggingSettings::logSystemMessages, " - SYSTEM  <>" + std::string(text));
}

void SessionLog::WriteCommand(int connectionNumber, std::string_view commandLine) {
    Write(&LoggingSettings::logCommands,
          " - COMMAND -> -[" + std::to_string(connectionNumber) + "]- " + MaskPassword(commandLine));
}

void SessionLog::WriteReply(int connectionNumber, std::string_view reply) {
    Write(&LoggingSettings::logReplies, " - REPLY   <- -[" + std::to_string(connectionNumber) + "]- " + std::string(reply));
}

void SessionLog::Write(bool LoggingSettings::*wanted, const std::string& body) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0 || !(settings_.*wanted)) return;
    const std::string record = monitor::FormatRecordStampNow() + monitor::EscapeControlCharacters(body);
    [[maybe_unused]] const ssize_t written = ::write(fd_, record.data(), record.size());
}

}  // namespace tolvane::ftp
