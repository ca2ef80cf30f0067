#include "FtpClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace bench {
namespace {

constexpr std::size_t kMaxReplyLine = 8192;

void SetTimeouts(int fd, int seconds) {
    timeval limit{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": only the port is used, the host is ours.
int PassivePort(const std::string& reply) {
    const auto open = reply.find('(');
    if (open == std::string::npos) return -1;
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h1, &h2, &h3, &h4, &p1, &p2) != 6) return -1;
    if (p1 > 255 || p2 > 255) return -1;
    return static_cast<int>(p1 * 256 + p2);
}

}  // namespace

FtpClient::FtpClient(std::string host, std::uint16_t port, int timeoutSeconds, SSL_CTX* tls)
    : host_(std::move(host)), port_(port), timeoutSeconds_(timeoutSeconds), tls_(tls) {}

FtpClient::~FtpClient() { Disconnect(); }

void FtpClient::Disconnect() {
    control_.Close();
    session_.reset();
    pending_.clear();
}

int FtpClient::Connect(std::uint16_t port) const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    SetTimeouts(fd, timeoutSeconds_);
    // The run leaves thousands of connections in TIME_WAIT on ephemeral ports; marked reusable,
    // they do not keep a server (or a test) that binds one of those ports with SO_REUSEADDR from
    // listening there.
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, host_.c_str(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool FtpClient::Login(const std::string& user, const std::string& password, int timeoutSeconds, bool binary) {
    Disconnect();
    int code = 0;
    const int fd = Connect(port_);
    if (fd < 0) return false;
    control_ = Channel(fd);
    SetTimeouts(fd, timeoutSeconds);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (!ReadReply(code) || code != 220) return false;
    if (tls_ && !SecureControl()) return false;
    if (!Command("USER " + user, code)) return false;
    if (code == 331 && !Command("PASS " + password, code)) return false;
    if (code != 230) return false;
    if (tls_ && !((Command("PBSZ 0", code) && code == 200) && (Command("PROT P", code) && code == 200))) return false;
    // The replies read under TLS carried the server's session tickets, if it sends any.
    if (tls_) session_ = control_.Session();
    SetTimeouts(fd, timeoutSeconds_);
    return !binary || (Command("TYPE I", code) && code == 200);
}

bool FtpClient::SecureControl() {
    int code = 0;
    return Command("AUTH TLS", code) && code == 234 && control_.StartTls(tls_, nullptr);
}

bool FtpClient::Quit() {
    int code = 0;
    const bool said = Command("QUIT", code) && code == 221;
    char rest[256];
    while (control_.Open() && control_.Receive(rest, sizeof rest) > 0) {
    }
    Disconnect();
    return said;
}

bool FtpClient::ChangeDirectory(const std::string& path) {
    int code = 0;
    return Command("CWD " + path, code) && code == 250;
}

bool FtpClient::Command(const std::string& line, int& code) {
    const std::string text = line + "\r\n";
    return control_.Open() && control_.SendAll(text.data(), text.size()) && ReadReply(code);
}

// A reply is one line "ddd text" or several, from "ddd-" to the line that starts "ddd ".
bool FtpClient::ReadReply(int& code) {
    std::string line;
    if (!ReadLine(line) || line.size() < 3) return false;
    reply_ = line;
    code = std::atoi(line.substr(0, 3).c_str());
    if (line.size() > 3 && line[3] == '-') {
        const std::string end = line.substr(0, 3) + " ";
        do {
            if (!ReadLine(line)) return false;
        } while (line.compare(0, 4, end) != 0);
        reply_ = line;
    }
    return code >= 100;
}

bool FtpClient::ReadLine(std::string& line) {
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending_.erase(0, end + 1);
            return true;
        }
        if (pending_.size() > kMaxReplyLine) return false;
        char chunk[1024];
        const ssize_t got = control_.Receive(chunk, sizeof chunk);
        if (got <= 0) return false;
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

bool FtpClient::OpenPassive(Channel& data) {
    int code = 0;
    if (!Command("PASV", code) || code != 227) return false;
    const int port = PassivePort(reply_);
    const int fd = port > 0 ? Connect(static_cast<std::uint16_t>(port)) : -1;
    if (fd < 0) return false;
    data = Channel(fd);
    return true;
}

// The data connection's handshake follows the 150 reply: servers start theirs on the command.
bool FtpClient::StartData(Channel& data) {
    if (!tls_) return true;
    const bool started = data.StartTls(tls_, session_.get());
    dataResumed_ = data.Resumed();
    return started;
}

void FtpClient::EndData(Channel& data) {
    data.Finish();
    if (auto latest = data.Session()) session_ = std::move(latest);
    data.Close();
}

std::string FtpClient::TlsSummary() const {
    return control_.Describe() + (dataResumed_ ? ", data resumed" : ", data not resumed");
}

std::int64_t FtpClient::Retrieve(const std::string& path, char* buffer, std::size_t bufferSize) {
    return Download("RETR " + path, buffer, bufferSize);
}

std::int64_t FtpClient::List(const std::string& path, char* buffer, std::size_t bufferSize) {
    return Download(path.empty() ? "LIST" : "LIST " + path, buffer, bufferSize);
}

std::int64_t FtpClient::Download(const std::string& command, char* buffer, std::size_t bufferSize) {
    Channel data;
    if (!OpenPassive(data)) return -1;
    int code = 0;
    if (!Command(command, code) || (code != 150 && code != 125) || !StartData(data)) return -1;
    std::int64_t total = 0;
    for (;;) {
        const ssize_t got = data.Receive(buffer, bufferSize);
        if (got < 0) total = -1;
        if (got <= 0) break;
        total += got;
    }
    EndData(data);
    if (!ReadReply(code) || code != 226) return -1;
    return total;
}

std::int64_t FtpClient::Store(const std::string& path, const char* block, std::size_t blockSize, std::int64_t total) {
    Channel data;
    if (!OpenPassive(data)) return -1;
    int code = 0;
    if (!Command("STOR " + path, code) || (code != 150 && code != 125) || !StartData(data)) return -1;
    std::int64_t left = total;
    bool sent = true;
    while (left > 0 && sent) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(blockSize)));
        sent = data.SendAll(block, piece);
        left -= static_cast<std::int64_t>(piece);
    }
    EndData(data);
    if (!sent || !ReadReply(code) || code != 226) return -1;
    return total;
}

}  // namespace bench
