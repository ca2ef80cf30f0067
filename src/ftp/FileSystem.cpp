#include "ftp/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

// A path the OS would read differently from what the caller checked: relative to the
// process's working folder, or cut short at a NUL byte.
bool Usable(std::string_view path) {
    return !path.empty() && path.front() == '/' && path.find('\0') == std::string_view::npos;
}

bool IsDotName(std::string_view name) { return name == "." || name == ".."; }

bool StatusOf(const std::string& path, struct stat& status) {
    return Usable(path) && ::stat(path.c_str(), &status) == 0;
}

bool LinkStatusOf(const std::string& path, struct stat& status) {
    return Usable(path) && ::lstat(path.c_str(), &status) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat status {};
    return StatusOf(path, status) && S_ISDIR(status.st_mode);
}

bool Exists(const std::string& path) {
    struct stat status {};
    return LinkStatusOf(path, status);
}

bool IsRegularFile(int fd) {
    struct stat status {};
    return fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Without RENAME_NOREPLACE (some file systems lack it) the target is checked first; the gap
// between check and rename is the best such a file system allows.
bool RenameAfterCheck(const std::string& from, const std::string& to) {
    if (Exists(to)) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool DirectoryExists(const std::string& path) {
    if (!Usable(path)) return false;
    const std::string_view trimmed = path.size() > 1 && path.back() == '/'
                                         ? std::string_view(path).substr(0, path.size() - 1)
                                         : std::string_view(path);
    const std::size_t slash = trimmed.rfind('/');
    if (slash == 0) return IsDirectory(path);
    const std::string_view name = trimmed.substr(slash + 1);
    if (name.empty() || IsDotName(name)) return false;
    return IsDirectory(std::string(trimmed));
}

bool FileOpenable(const std::string& path) {
    struct stat status {};
    if (!StatusOf(path, status) || !S_ISREG(status.st_mode)) return false;
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return IsRegularFile(file.Get());
}

EntryKind LookupEntry(const std::string& directory, const std::string& name) {
    if (name.empty() || IsDotName(name) || name.find('/') != std::string::npos) return EntryKind::None;
    const std::string path = directory.ends_with('/') ? directory + name : directory + '/' + name;
    struct stat status {};
    if (!LinkStatusOf(path, status)) return EntryKind::None;
    if (S_ISDIR(status.st_mode) || (S_ISLNK(status.st_mode) && IsDirectory(path))) return EntryKind::Directory;
    return EntryKind::File;
}

std::string RealPath(const std::string& path) {
    if (!Usable(path)) return {};
    const bool folder = path.ends_with('/');
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    const int error = errno;
    if (real) {
        std::string result(real.get());
        if (folder && !result.ends_with('/')) result += '/';
        return result;
    }
    // Only a name that is not there at all may be taken as written; a link that leads nowhere
    // (or on and on) must not be created through or judged where it stands.
    if (error == ENOTDIR) return path;  // nothing can be opened or made below a file
    const std::string trimmed = path.substr(0, path.find_last_not_of('/') + 1);
    if (error != ENOENT || Exists(trimmed)) return {};
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos || slash == 0) return path;
    const std::string parent = RealPath(trimmed.substr(0, slash + 1));
    if (parent.empty()) return {};
    return parent + path.substr(slash + 1);
}

FileHandle OpenReference(const std::string& path, bool folder) {
    if (!Usable(path)) return {};
    FileHandle reference(::open(path.c_str(), O_PATH | O_CLOEXEC | (folder ? O_DIRECTORY : 0)));
    struct stat status {};
    if (!reference || ::fstat(reference.Get(), &status) != 0) return {};
    if (folder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) return {};
    return reference;
}

std::string DescriptorPath(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target || target[0] != '/') return {};
    std::string path(target, static_cast<std::size_t>(length));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_nlink == 0) return {};  // removed: " (deleted)"
    if (S_ISDIR(status.st_mode) && !path.ends_with('/')) path += '/';
    return path;
}

FileHandle Reopen(int reference, int flags) {
    const std::string link = "/proc/self/fd/" + std::to_string(reference);
    return FileHandle(::open(link.c_str(), flags | O_CLOEXEC | O_NOCTTY));
}

FileHandle CreateIn(int folder, const std::string& name, bool replace) {
    if (name.empty() || IsDotName(name) || name.find('/') != std::string::npos) return {};
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
    FileHandle file(::openat(folder, name.c_str(), flags, 0644));
    return IsRegularFile(file.Get()) ? std::move(file) : FileHandle{};
}

std::string RealFolderOf(const std::string& path) {
    const std::string real = RealPath(path);
    return real.substr(0, real.rfind('/') + 1);
}

bool MakeDirectory(const std::string& path) { return Usable(path) && ::mkdir(path.c_str(), 0777) == 0; }

bool RemoveDirectory(const std::string& path) {
    struct stat status {};
    return LinkStatusOf(path, status) && S_ISDIR(status.st_mode) && ::rmdir(path.c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
    struct stat status {};
    if (!LinkStatusOf(path, status)) return false;
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) return false;
    return ::unlink(path.c_str()) == 0;
}

bool RenameEntry(const std::string& from, const std::string& to) {
    if (!Usable(from) || !Usable(to)) return false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == ENOSYS || errno == EINVAL) return RenameAfterCheck(from, to);
    return false;
}

}  // namespace tolvane::ftp
