#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::control {

// The account database as an attached window edits it: the server sends its files whole, the
// window edits them in a folder of its own, and only what changed goes back, so that a file
// the administrator left alone (a session may be writing its credit) is never overwritten.
// One line per entry: "d" a folder, "f" a file with its content, "x" an entry removed; paths
// are relative and use '/'.
inline constexpr std::size_t kMaxDatabaseBytes = 16 << 20;

std::string EncodeDatabase(const std::filesystem::path& databaseDir);
bool WriteDatabase(std::string_view encoded, const std::filesystem::path& into);
// What differs in `edited` from what was fetched; empty when nothing does.
std::string DatabaseChanges(std::string_view fetched, const std::filesystem::path& edited);
// Applies changes beneath `databaseDir`; the reason when an entry would leave it or cannot be
// written (the entries before it stay applied).
std::optional<std::string> ApplyDatabaseChanges(const std::filesystem::path& databaseDir, std::string_view changes);

}  // namespace tolvane::control
