#include "net/SelfSignedCertificate.h"
#include "net/TlsContext.h"
#include "net/TlsTransport.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tolvane::net {
namespace {

struct SocketPair {
    SocketPair() {
        int pair[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair);
        fcntl(pair[0], F_SETFL, O_NONBLOCK);
        server = pair[0];
        client = pair[1];
    }
    ~SocketPair() {
        ::close(server);
        ::close(client);
    }
    std::atomic<int> server;
    int client;
};

// Drives a server transport call until it moves or fails, waiting as the transport asks.
template <typename Call>
IoResult Drive(int fd, Call call) {
    for (;;) {
        const IoResult result = call();
        if (!result.WouldBlock()) return result;
        pollfd watched{fd, static_cast<short>(result.waitFor == Readiness::Readable ? POLLIN : POLLOUT), 0};
        ::poll(&watched, 1, 5000);
    }
}

// A blocking OpenSSL client on the other end, as an FTP client would be.
class Client {
public:
    Client(int fd, int maxVersion) : context_(SSL_CTX_new(TLS_client_method())) {
        SSL_CTX_set_max_proto_version(context_, maxVersion);
        SSL_CTX_set_min_proto_version(context_, TLS1_VERSION);
        SSL_CTX_set_security_level(context_, 0);
        ssl_ = SSL_new(context_);
        static const unsigned char protocols[] = {2, 'h', '2', 3, 'f', 't', 'p'};
        SSL_set_alpn_protos(ssl_, protocols, sizeof protocols);
        SSL_set_fd(ssl_, fd);
    }
    // Freed without close_notify, OpenSSL would mark the session as not to be resumed.
    ~Client() {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }
    bool Handshake() { return SSL_connect(ssl_) == 1; }
    std::string Alpn() const {
        const unsigned char* chosen = nullptr;
        unsigned int length = 0;
        SSL_get0_alpn_selected(ssl_, &chosen, &length);
        return std::string(reinterpret_cast<const char*>(chosen), length);
    }
    void Write(const std::string& text) { SSL_write(ssl_, text.data(), static_cast<int>(text.size())); }
    // Everything up to the server's close_notify.
    std::string ReadToEnd() {
        std::string text;
        char buffer[4096];
        int read;
        while ((read = SSL_read(ssl_, buffer, sizeof buffer)) > 0) text.append(buffer, read);
        closeNotified_ = SSL_get_error(ssl_, read) == SSL_ERROR_ZERO_RETURN;
        return text;
    }
    bool CloseNotified() const { return closeNotified_; }

private:
    SSL_CTX* context_;
    SSL* ssl_;
    bool closeNotified_ = false;
};

class TlsTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(WriteSelfSignedCertificate(folder.path() / "cert.pem", folder.path() / "key.pem", "ftp.test", error))
            << error;
        context = TlsContext::Load(folder.path() / "cert.pem", folder.path() / "key.pem", error);
        ASSERT_TRUE(context) << error;
    }

    TempFolder folder;
    std::shared_ptr<TlsContext> context;
};

// Commands in, a reply and a whole file out in blocks larger than one record, the end marked.
TEST_F(TlsTransportTest, CarriesCommandsRepliesAndFiles) {
    std::string file(100 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 % 251);
    WriteText(folder.path() / "file", file);

    SocketPair pair;
    TlsTransport server(context, pair.server, false);
    std::string received, downloaded, alpn;
    bool closeNotified = false;
    std::thread client([&] {
        Client peer(pair.client, TLS1_3_VERSION);
        ASSERT_TRUE(peer.Handshake());
        alpn = peer.Alpn();
        peer.Write("USER anna\r\n");
        downloaded = peer.ReadToEnd();
        closeNotified = peer.CloseNotified();
    });
    char buffer[64];
    const IoResult command = Drive(pair.server, [&] { return server.Receive(buffer, sizeof buffer); });
    ASSERT_TRUE(command.Moved());
    received.assign(buffer, command.bytes);
    EXPECT_TRUE(Drive(pair.server, [&] { return server.Send("331 ok\r\n", 8, false); }).Moved());
    const int fd = ::open((folder.path() / "file").c_str(), O_RDONLY);
    off_t offset = 0;
    while (Drive(pair.server, [&] { return server.SendFile(fd, &offset, 1 << 20); }).Moved()) {
    }
    ::close(fd);
    server.Finish();
    client.join();
    EXPECT_EQ(received, "USER anna\r\n");
    EXPECT_EQ(alpn, "ftp");
    EXPECT_TRUE(closeNotified);
    EXPECT_EQ(downloaded, "331 ok\r\n" + file);
    EXPECT_EQ(offset, static_cast<off_t>(file.size()));
}

// Kernel TLS needs a TCP socket and the kernel's "tls" module; without them a data connection's
// file goes through the buffer, and arrives whole either way.
TEST_F(TlsTransportTest, DataConnectionSendsFileWithOrWithoutKernelTls) {
    std::string file(300 * 1024 + 5, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 13 % 253);
    WriteText(folder.path() / "file", file);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int clientFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(clientFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::atomic<int> serverFd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    ::close(listener);

    std::string downloaded;
    bool kernelSends = false;
    {
        TlsTransport server(context, serverFd, true);
        std::thread client([&] {
            Client peer(clientFd, TLS1_3_VERSION);
            ASSERT_TRUE(peer.Handshake());
            downloaded = peer.ReadToEnd();
        });
        ASSERT_TRUE(Drive(serverFd, [&] { return server.Handshake(); }).Moved());
        kernelSends = server.KernelSendsFile();
        const int fd = ::open((folder.path() / "file").c_str(), O_RDONLY);
        off_t offset = 0;
        while (Drive(serverFd, [&] { return server.SendFile(fd, &offset, 1 << 20); }).Moved()) {
        }
        ::close(fd);
        server.Finish();
        client.join();
    }
    ::close(serverFd);
    ::close(clientFd);
    std::ifstream modules("/proc/sys/net/ipv4/tcp_available_ulp");
    const std::string available((std::istreambuf_iterator<char>(modules)), std::istreambuf_iterator<char>());
    if (available.find("tls") == std::string::npos) {
        EXPECT_FALSE(kernelSends);
    }
    EXPECT_EQ(downloaded, file);
}

// TLS 1.1 and older are refused; the server ends the handshake with a failure.
TEST_F(TlsTransportTest, RefusesVersionsBeforeTls12) {
    SocketPair pair;
    TlsTransport server(context, pair.server, false);
    bool connected = true;
    std::thread client([&] {
        Client peer(pair.client, TLS1_1_VERSION);
        connected = peer.Handshake();
    });
    char byte;
    EXPECT_EQ(Drive(pair.server, [&] { return server.Receive(&byte, 1); }).status, IoStatus::Failed);
    ::shutdown(pair.server, SHUT_RDWR);
    client.join();
    EXPECT_FALSE(connected);
}

TEST_F(TlsTransportTest, MismatchedKeyIsNotLoaded) {
    std::string error;
    ASSERT_TRUE(WriteSelfSignedCertificate(folder.path() / "other.pem", folder.path() / "other.key", "x", error));
    EXPECT_FALSE(TlsContext::Load(folder.path() / "cert.pem", folder.path() / "other.key", error));
    EXPECT_NE(error.find("other.key"), std::string::npos);
}

}  // namespace
}  // namespace tolvane::net
