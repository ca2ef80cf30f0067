#pragma once

// INI-style profile files: "[Section]" lines open a section, "Key=Value" lines
// give values. Section and key names match without regard to case; a value is
// the rest of the line after the first '=', without surrounding blanks or a
// trailing CR. The first of duplicate keys wins. Files may carry a UTF-8 BOM
// and CR LF line ends.
//
// Reads never fail: a missing, unreadable, oversized or non-regular file reads
// as empty, so every lookup returns the caller's default. Writes replace the
// file atomically (temporary file in the same folder, fsync, rename), so a
// reader sees either the old or the new file, never a mixture or a truncation.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tolvane::store {

// Larger files are treated as unreadable: hand-edited junk must not exhaust memory.
inline constexpr std::uintmax_t kMaxProfileFileSize = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxProfileFileLines = 100'000;

// Section and key names compare without regard to (ASCII) case.
bool SameProfileName(std::string_view a, std::string_view b);

// Decimal conversion of a stored number: leading blanks, optional sign, the
// digits that follow (0 when there are none). Saturates at the int range.
int ParseProfileInt(std::string_view text);

// Floating-point conversion of a stored number: leading blanks, optional sign,
// the longest number that follows (0 when there is none, or when it is not finite).
double ParseProfileDouble(std::string_view text);

// A parsed snapshot of one profile file, for callers that read many keys.
class ProfileFile {
public:
    static ProfileFile Load(const std::filesystem::path& file);
    // A snapshot of text read by the caller.
    static ProfileFile Parse(std::string_view text);

    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // The fallback applies when the key is missing or its value is empty.
    int ReadInt(std::string_view section, std::string_view key, int fallback) const;

private:
    using Values = std::unordered_map<std::string, std::string>;
    explicit ProfileFile(std::shared_ptr<const Values> values) : values_(std::move(values)) {}
    static std::shared_ptr<const Values> LoadCurrentVersion(const std::filesystem::path& file);

    // Lower-cased "section\nkey" to value; '\n' never occurs inside a parsed name. Shared with
    // every other snapshot of the same version of the file.
    std::shared_ptr<const Values> values_;
};

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view fallback);
int ReadProfileInt(const std::filesystem::path& file, std::string_view section,
                   std::string_view key, int fallback);
bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

// Removes the temporary copies that a save cut short by a crash left in the folders of `tree`.
void RemoveLeftoverCopies(const std::filesystem::path& tree);

// Collects key assignments and applies them all in one atomic replacement.
// Save re-reads the file under a lock on its folder, so concurrent savers of
// one file (the editor and a session writing back its credit) keep each
// other's keys. An existing key is replaced in place, a new key goes to the
// end of its section, a new section to the end of the file; every other line
// stays as it was.
class ProfileEditor {
public:
    // Reads the file as it is under the lock and makes assignments from it; false writes nothing.
    using Preparation = std::function<bool(const ProfileFile& current, ProfileEditor& editor)>;

    explicit ProfileEditor(std::filesystem::path file);

    // Refuses (returns false, records nothing) text that would break the line
    // format: line breaks or NUL anywhere, ']' in a section, '=' in a key, an empty key.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // As Set, but an empty value adds no key to a file that lacks it: files that never used a
    // newer setting stay as they were.
    bool SetOptional(std::string_view section, std::string_view key, std::string_view value);
    // All or nothing: false, with the file untouched, when a Set was refused or
    // the file could not be replaced; an existing file that cannot be read is
    // left untouched.
    bool Save();
    // Save, with the assignments made from what the file holds under the lock,
    // so that no other saver's change falls between the read and the write
    // (counters changed by a difference, values changed key by key).
    bool SaveAfter(const Preparation& prepare);

private:
    struct Assignment {
        std::string section;
        std::string key;
        std::string value;
        bool addIfMissing;
    };

    std::filesystem::path file_;
    std::vector<Assignment> assignments_;
    bool refused_ = false;
};

}  // namespace tolvane::store
