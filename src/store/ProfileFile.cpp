#include "store/ProfileFile.h"

#include "net/AsciiText.h"
#include "store/ProfileReadScope.h"
#include "store/ProfileSnapshotCache.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::store {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr mode_t kNewFileMode = 0600;  // account files hold clear-text passwords

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string MapKey(std::string_view section, std::string_view key) {
    return net::LowerAsciiText(section) + '\n' + net::LowerAsciiText(key);
}

// ---- reading -------------------------------------------------------------

enum class ReadStatus { Missing, Unreadable, Ok };

struct FileText {
    ReadStatus status = ReadStatus::Missing;
    std::string text;
    mode_t mode = kNewFileMode;
    FileIdentity identity{};
};

bool ReadAllBounded(int fd, std::string& text) {
    char chunk[16 * 1024];  // small: sessions run on threads with small stacks
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (text.size() + static_cast<std::size_t>(got) > kMaxProfileFileSize) return false;
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

// O_NONBLOCK so that a FIFO planted under an account name cannot hang the reader.
FileText ReadBounded(const fs::path& file) {
    const UniqueFd fd{::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (!fd) return {(errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Unreadable, {}};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > kMaxProfileFileSize) {
        return {ReadStatus::Unreadable, {}};
    }
    FileText result{ReadStatus::Ok, {}, static_cast<mode_t>(info.st_mode & 0777), FileIdentity::Of(info)};
    if (!ReadAllBounded(fd.get(), result.text) ||
        static_cast<std::size_t>(std::count(result.text.begin(), result.text.end(), '\n')) > kMaxProfileFileLines) {
        return {ReadStatus::Unreadable, {}};
    }
    return result;
}

std::string_view WithoutBom(std::string_view text) {
    if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
    return text;
}

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        visit(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

// ---- line syntax ---------------------------------------------------------

enum class LineKind { Section, Entry, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

// The meaningful part of a raw line: up to a NUL (values are C strings to
// every consumer), without a trailing CR, without surrounding blanks.
std::string_view LineContent(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    if (raw.ends_with('\r')) raw.remove_suffix(1);
    return Trim(raw);
}

ParsedLine ParseLine(std::string_view raw) {
    const std::string_view content = LineContent(raw);
    const auto close = content.find(']');
    if (content.starts_with('[') && close != std::string_view::npos) {
        return {LineKind::Section, Trim(content.substr(1, close - 1)), {}};
    }
    const auto equals = content.find('=');
    if (equals == std::string_view::npos) return {};
    return {LineKind::Entry, Trim(content.substr(0, equals)), Trim(content.substr(equals + 1))};
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsWritableSection(std::string_view section) {
    return !HasLineBreakOrNul(section) && section.find(']') == std::string_view::npos;
}

bool IsWritableKey(std::string_view key) {
    const std::string_view name = Trim(key);
    return !name.empty() && !name.starts_with('[') && !HasLineBreakOrNul(key) &&
           key.find('=') == std::string_view::npos;
}

// ---- editing -------------------------------------------------------------

// The lines of one file as they are, with just enough parsing to find sections and keys.
class ProfileDocument {
public:
    explicit ProfileDocument(std::string_view text) : hasBom_(text.starts_with(kBom)) {
        ForEachLine(WithoutBom(text), [this](std::string_view raw) {
            const ParsedLine parsed = ParseLine(raw);
            lines_.push_back({std::string(raw), parsed.kind, std::string(parsed.name)});
        });
        usesCrLf_ = !lines_.empty() && lines_.front().text.ends_with('\r');
    }

    // `add` false: only a key the file has already is changed.
    void Set(std::string_view section, std::string_view key, std::string_view value, bool add) {
        const auto header = FindSection(section);
        if (header == kNone) {
            if (add) AppendSection(section, key, value);
            return;
        }
        const auto end = SectionEnd(header);
        for (auto i = header + 1; i < end; ++i) {
            if (lines_[i].kind == LineKind::Entry && SameProfileName(lines_[i].name, Trim(key))) {
                lines_[i].text = MakeLine(lines_[i].name + '=' + std::string(value));
                return;
            }
        }
        if (add) Insert(LastContentLine(header, end) + 1, key, value);
    }

    std::string Serialise() const {
        std::string text(hasBom_ ? kBom : std::string_view{});
        for (const Line& line : lines_) text.append(line.text).push_back('\n');
        return text;
    }

private:
    struct Line {
        std::string text;
        LineKind kind;
        std::string name;
    };
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    std::size_t FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind == LineKind::Section && SameProfileName(lines_[i].name, Trim(section))) return i;
        }
        return kNone;
    }

    std::size_t SectionEnd(std::size_t header) const {
        auto i = header + 1;
        while (i < lines_.size() && lines_[i].kind != LineKind::Section) ++i;
        return i;
    }

    // New keys go after the section's last non-blank line, before the blank lines that separate sections.
    std::size_t LastContentLine(std::size_t header, std::size_t end) const {
        for (auto i = end; i > header + 1; --i) {
            if (!LineContent(lines_[i - 1].text).empty()) return i - 1;
        }
        return header;
    }

    void AppendSection(std::string_view section, std::string_view key, std::string_view value) {
        if (!lines_.empty() && !LineContent(lines_.back().text).empty()) {
            lines_.push_back({MakeLine(""), LineKind::Other, {}});
        }
        lines_.push_back({MakeLine("[" + std::string(section) + "]"), LineKind::Section, std::string(Trim(section))});
        Insert(lines_.size(), key, value);
    }

    void Insert(std::size_t at, std::string_view key, std::string_view value) {
        const std::string name(Trim(key));
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      Line{MakeLine(name + '=' + std::string(value)), LineKind::Entry, name});
    }

    std::string MakeLine(std::string text) const {
        if (usesCrLf_) text.push_back('\r');
        return text;
    }

    bool hasBom_;
    bool usesCrLf_ = false;
    std::vector<Line> lines_;
};

// ---- atomic replacement --------------------------------------------------

constexpr std::string_view kTemporaryPrefix = ".profile.";

fs::path FolderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Serialises savers of files in one folder; readers need no lock because rename is atomic.
void LockFolder(int folderFd) {
    while (::flock(folderFd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool ReplaceFile(int folderFd, const fs::path& folder, const fs::path& target, std::string_view text, mode_t mode) {
    std::string temporary = (folder / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
    const UniqueFd fd{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (!fd) return false;
    const bool replaced = WriteAll(fd.get(), text) && ::fchmod(fd.get(), mode) == 0 && ::fsync(fd.get()) == 0 &&
                          ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!replaced) {
        ::unlink(temporary.c_str());
        return false;
    }
    ::fsync(folderFd);  // makes the rename itself durable
    return true;
}

bool IsTemporaryCopy(const fs::path& file) {
    const std::string name = file.filename().string();
    return name.size() == kTemporaryPrefix.size() + 6 && name.starts_with(kTemporaryPrefix);
}

void RemoveTemporaryCopiesIn(const fs::path& folder) {
    const UniqueFd folderFd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (!folderFd) return;
    LockFolder(folderFd.get());  // a saver holds this lock for as long as its copy exists
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (IsTemporaryCopy(entry.path()) && entry.is_regular_file(error)) fs::remove(entry.path(), error);
}

}  // namespace

// ---- conversions ---------------------------------------------------------

bool SameProfileName(std::string_view a, std::string_view b) {
    return net::SameIgnoringAsciiCase(a, b);
}

int ParseProfileInt(std::string_view text) {
    text = TrimLeft(text);
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    constexpr long long kCap = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        magnitude = std::min(kCap, magnitude * 10 + (c - '0'));
    }
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

double ParseProfileDouble(std::string_view text) {
    text = TrimLeft(text);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) return 0.0;
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return (result.ec == std::errc{} && std::isfinite(value)) ? value : 0.0;
}

// ---- snapshot ------------------------------------------------------------

namespace {

std::unordered_map<std::string, std::string> ParseValues(std::string_view text) {
    std::unordered_map<std::string, std::string> values;
    std::string section;
    bool inSection = false;  // keys above the first section belong to none
    ForEachLine(WithoutBom(text), [&](std::string_view raw) {
        const ParsedLine line = ParseLine(raw);
        if (line.kind == LineKind::Section) {
            section = line.name;
            inSection = true;
        } else if (line.kind == LineKind::Entry && inSection) {
            values.try_emplace(MapKey(section, line.name), line.value);
        }
    });
    return values;
}

}  // namespace

ProfileFile ProfileFile::Load(const fs::path& file) {
    if (auto taken = ProfileReadScope::Find(file)) return ProfileFile(std::move(taken));
    auto values = LoadCurrentVersion(file);
    ProfileReadScope::Remember(file, values);
    return ProfileFile(std::move(values));
}

ProfileFile ProfileFile::Parse(std::string_view text) {
    return ProfileFile(std::make_shared<const Values>(ParseValues(text)));
}

std::shared_ptr<const ProfileFile::Values> ProfileFile::LoadCurrentVersion(const fs::path& file) {
    auto& cache = ProfileSnapshotCache::Instance();
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        if (auto cached = cache.Find(file, FileIdentity::Of(info))) return cached;
    }
    const FileText content = ReadBounded(file);
    auto values = std::make_shared<const Values>(content.status == ReadStatus::Ok ? ParseValues(content.text) : Values{});
    if (content.status == ReadStatus::Ok && content.identity.SettledAt(std::time(nullptr))) {
        cache.Store(file, content.identity, values);
    }
    return values;
}

std::optional<std::string> ProfileFile::Find(std::string_view section, std::string_view key) const {
    const auto found = values_->find(MapKey(section, key));
    if (found == values_->end()) return std::nullopt;
    return found->second;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const {
    return Find(section, key).value_or(std::string(fallback));
}

int ProfileFile::ReadInt(std::string_view section, std::string_view key, int fallback) const {
    const auto value = Find(section, key);
    return (value && !value->empty()) ? ParseProfileInt(*value) : fallback;
}

std::string ReadProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view fallback) {
    return ProfileFile::Load(file).ReadString(section, key, fallback);
}

int ReadProfileInt(const fs::path& file, std::string_view section, std::string_view key, int fallback) {
    return ProfileFile::Load(file).ReadInt(section, key, fallback);
}

bool WriteProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    ProfileEditor editor(file);
    editor.Set(section, key, value);
    return editor.Save();
}

// ---- editor --------------------------------------------------------------

ProfileEditor::ProfileEditor(fs::path file) : file_(std::move(file)) {}

bool ProfileEditor::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsWritableSection(section) || !IsWritableKey(key) || HasLineBreakOrNul(value)) {
        refused_ = true;
        return false;
    }
    assignments_.push_back({std::string(section), std::string(key), std::string(value), true});
    return true;
}

bool ProfileEditor::SetOptional(std::string_view section, std::string_view key, std::string_view value) {
    if (!Set(section, key, value)) return false;
    assignments_.back().addIfMissing = !value.empty();
    return true;
}

bool ProfileEditor::Save() {
    if (refused_) return false;
    if (assignments_.empty()) return true;
    return SaveAfter(nullptr);
}

bool ProfileEditor::SaveAfter(const Preparation& prepare) {
    const fs::path folder = FolderOf(file_);
    const UniqueFd folderFd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (!folderFd) return false;
    LockFolder(folderFd.get());
    const FileText current = ReadBounded(file_);
    if (current.status == ReadStatus::Unreadable) return false;  // replacing it would lose what we cannot read
    if (prepare && !prepare(ProfileFile::Parse(current.text), *this)) return false;
    if (refused_) return false;
    if (assignments_.empty()) return true;
    ProfileDocument document(current.text);
    for (const Assignment& assignment : assignments_) {
        document.Set(assignment.section, assignment.key, assignment.value, assignment.addIfMissing);
    }
    const bool replaced = ReplaceFile(folderFd.get(), folder, file_, document.Serialise(), current.mode);
    ProfileReadScope::ForgetAll();
    return replaced;
}

void RemoveLeftoverCopies(const fs::path& tree) {
    RemoveTemporaryCopiesIn(tree);
    std::error_code error;
    for (fs::recursive_directory_iterator it(tree, fs::directory_options::none, error), end; !error && it != end;
         it.increment(error))
        if (it->is_directory(error) && !it->is_symlink(error)) RemoveTemporaryCopiesIn(it->path());
}

}  // namespace tolvane::store
