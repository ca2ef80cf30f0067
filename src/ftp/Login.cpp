#include "ftp/ControlConnection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        struct stat status {};
        if (fd_ >= 0 && (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) Reset();
    }
    ~ReadOnlyFile() { Reset(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    ssize_t Read(char* buffer, std::size_t size) { return ::read(fd_, buffer, size); }

private:
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_;
};

}  // namespace

// Sends a text file as continuation lines of the reply that the caller completes.
void ControlConnection::SendMessageFile(const std::string& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        server_->Log().AppendLine(Tag() + "Unable to open specified Welcome file ...\r\n", monitor::ErrorMessage,
                                  false, true);
        return;
    }
    std::string pending;
    char chunk[1024];
    for (ssize_t length; (length = file.Read(chunk, sizeof chunk)) > 0;) {
        // A NUL byte ends what is taken from its chunk.
        const std::string_view taken(chunk, static_cast<std::size_t>(length));
        pending.append(taken.substr(0, taken.find('\0')));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            SendReply("xxx-" + pending.substr(start, end + 1 - start));
        }
        pending.erase(0, start);
        if (pending.size() > kMaxCommandLine) {
            // A file without line ends must not grow the pending text without bound.
            SendReply("xxx-" + pending + "\r\n");
            pending.clear();
        }
    }
    SendReply(pending.empty() ? std::string("220-\r\n") : "220-" + pending + "\r\n220-\r\n");
}

}  // namespace tolvane::ftp
