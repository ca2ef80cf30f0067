#pragma once

#include "monitor/ServerLog.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::control {

// What an attached window and the server say to each other once attached. The window sends
// request lines as `tolvaned ctl` does; every answer, and everything a watching connection
// is sent, is a frame: a header line "<kind> <length>" and that many bytes.
inline constexpr std::string_view kOkFrame = "ok";
inline constexpr std::string_view kErrorFrame = "error";
inline constexpr std::string_view kLogFrame = "log";
inline constexpr std::string_view kRowsFrame = "rows";
inline constexpr std::size_t kMaxFrameHeaderBytes = 32;
// Backlog of log records a window is sent when it starts watching.
inline constexpr std::size_t kLogBacklog = 5000;

std::string Frame(std::string_view kind, std::string_view body);
struct FrameHeader {
    std::string kind;
    std::size_t length = 0;
};
std::optional<FrameHeader> ParseFrameHeader(std::string_view line, std::size_t maxLength);

// Fields of one line: tab separated, with tab, line feed, carriage return and backslash escaped.
std::string JoinFields(const std::vector<std::string>& fields);
std::vector<std::string> SplitFields(std::string_view line);

std::string EncodeRecord(const monitor::LogRecord& record);
std::optional<monitor::LogRecord> DecodeRecord(std::string_view body);

// A password on the wire as hexadecimal: a request line holds printable words only.
std::string HexOf(std::string_view bytes);
std::optional<std::string> BytesOfHex(std::string_view hex);

}  // namespace tolvane::control
