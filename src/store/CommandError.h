#pragma once

// How an account command ends: its exit code, and on failure the message for standard error.

#include <string>
#include <string_view>
#include <utility>

namespace tolvane::store {

inline constexpr int kCommandSucceeded = 0;
inline constexpr int kCommandFailed = 1;
inline constexpr int kCommandMisused = 2;

namespace cli {

struct CommandError {
    int code;
    std::string message;
};

[[noreturn]] inline void Misused(std::string message) { throw CommandError{kCommandMisused, std::move(message)}; }
[[noreturn]] inline void Failed(std::string message) { throw CommandError{kCommandFailed, std::move(message)}; }

inline std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace cli
}  // namespace tolvane::store
