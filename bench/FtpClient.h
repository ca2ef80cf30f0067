#pragma once

#include "Channel.h"

#include <cstdint>
#include <string>

namespace bench {

// One blocking FTP control connection with passive data connections, as lean as a client can
// be: the benchmark measures servers, so the client does nothing it does not have to.
// With a TLS context, every session goes AUTH TLS, PBSZ 0, PROT P, and every data connection
// offers the latest session of this client for resumption, as many servers demand.
class FtpClient {
public:
    FtpClient(std::string host, std::uint16_t port, int timeoutSeconds, SSL_CTX* tls = nullptr);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Connects, reads the greeting within timeoutSeconds, logs in and (when binary is set)
    // switches to binary; false on any failure.
    bool Login(const std::string& user, const std::string& password, int timeoutSeconds, bool binary = true);
    // QUIT, then waits for the server to close; true when 221 came.
    bool Quit();
    void Disconnect();

    // Each returns the bytes moved, or -1 when the transfer failed.
    std::int64_t Retrieve(const std::string& path, char* buffer, std::size_t bufferSize);
    std::int64_t Store(const std::string& path, const char* block, std::size_t blockSize, std::int64_t total);
    std::int64_t List(const std::string& path, char* buffer, std::size_t bufferSize);
    bool ChangeDirectory(const std::string& path);

    const std::string& LastReply() const { return reply_; }
    // The protocol and cipher of the control connection, and whether the last data
    // connection resumed the session.
    std::string TlsSummary() const;

private:
    int Connect(std::uint16_t port) const;
    bool SecureControl();
    bool Command(const std::string& line, int& code);
    bool ReadReply(int& code);
    bool ReadLine(std::string& line);
    bool OpenPassive(Channel& data);
    bool StartData(Channel& data);
    void EndData(Channel& data);
    std::int64_t Download(const std::string& command, char* buffer, std::size_t bufferSize);

    std::string host_;
    std::uint16_t port_;
    int timeoutSeconds_;
    SSL_CTX* tls_;
    Channel control_;
    TlsSessionPtr session_{nullptr, &SSL_SESSION_free};
    bool dataResumed_ = false;
    std::string pending_;
    std::string reply_;
};

}  // namespace bench
