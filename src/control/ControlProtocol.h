#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::control {

// The control socket's exchange: the client sends one request line of words separated by
// single spaces and ended by a line feed; the server answers "ok" or "error" on the first line,
// then the text, and closes. A request is short and only printable ASCII, so anything else is
// refused before it is looked at.
struct Request {
    std::vector<std::string> words;  // the command and its arguments, "--json" taken out
    bool json = false;
};

inline constexpr std::size_t kMaxRequestBytes = 512;
inline constexpr std::size_t kMaxRequestWords = 8;
// A listing of a crowded server is large, but a server that sends without end is cut off.
inline constexpr std::size_t kMaxAnswerBytes = 64 << 20;

inline constexpr std::string_view kOkLine = "ok\n";
inline constexpr std::string_view kErrorLine = "error\n";

// Where the control socket of a server home lives.
std::filesystem::path ControlSocketPath(const std::filesystem::path& home);

std::string RequestLine(const std::vector<std::string>& words);
// The words of a request line (its line feed taken off), or nothing when it is malformed.
std::optional<Request> ParseRequest(std::string_view line);

// A JSON string literal of `text`, control characters and non-ASCII bytes escaped.
std::string JsonString(std::string_view text);

}  // namespace tolvane::control
