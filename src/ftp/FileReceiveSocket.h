#pragma once

#include "ftp/DataSocket.h"
#include "ftp/FileSendSocket.h"
#include "ftp/UploadBuffer.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvane::ftp {

// Receives one file from the client (STOR, APPE). Every byte the client sent before closing
// reaches the file.
class FileReceiveSocket : public DataSocket {
public:
    // overwrite: start the file anew; otherwise write into it from restartOffset on.
    FileReceiveSocket(std::shared_ptr<ControlConnection> owner, std::string filePath, std::int64_t restartOffset,
                      bool overwrite, RatioTerms ratio);
    ~FileReceiveSocket() override;

    bool StartTransfer() override;
    // ABOR: the upload then ends silently when the client closes the data connection.
    void Abort() override { aborted_.store(true); }
    void CloseTransfer() override;
    std::int64_t BytesMoved() const override { return bytesReceived_.load(); }

protected:
    void OnReceive() override;
    void OnClose() override;

private:
    // Receives what is there; false when the file could not take it.
    bool ReceiveAvailable();
    bool WriteAll(const char* data, std::size_t length);
    void Account(std::size_t received);
    void UpdateProgress(bool force);
    void Log(const std::string& text);

    const std::string filePath_;
    const std::string fileName_;
    const std::int64_t restartOffset_;
    const bool overwrite_;
    const RatioTerms ratio_;
    int fileFd_ = -1;
    std::optional<UploadBuffer> buffer_;
    std::atomic<bool> aborted_{false};
    bool diskError_ = false;
    bool creditGiven_ = false;
    std::atomic<std::int64_t> bytesReceived_{0};
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace tolvane::ftp
