#pragma once

#include "ftp/DataSocket.h"
#include "ftp/DiskReservation.h"
#include "ftp/FileHandle.h"
#include "ftp/FileSendSocket.h"
#include "ftp/UploadBuffer.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace tolvane::ftp {

// Where an upload writes: the file its command opened, or else a new file `name` that is made
// in the folder its command opened once the data connection is there.
struct UploadTarget {
    FileHandle file;
    FileHandle folder;
    std::string name;
};

// Receives one file from the client (STOR, APPE). Every byte the client sent before closing
// reaches the file.
class FileReceiveSocket : public DataSocket {
public:
    // overwrite: start the file anew; otherwise write into it from restartOffset on.
    FileReceiveSocket(std::shared_ptr<ControlConnection> owner, UploadTarget target, std::int64_t restartOffset,
                      bool overwrite, RatioTerms ratio);
    ~FileReceiveSocket() override;

    bool StartTransfer() override;
    // ABOR: ends the upload at once with 426; what arrived so far stays in the file.
    void Abort() override;
    void CloseTransfer() override;
    std::int64_t BytesMoved() const override { return bytesReceived_.load(); }
    void EndStalled(std::string_view reply) override;

protected:
    void OnReceive() override;
    void OnClose() override;

private:
    // Receives what is there; false when the file could not take it.
    bool OpenTarget();
    bool ReceiveAvailable();
    bool WriteAll(const char* data, std::size_t length);
    void Account(std::size_t received);
    void UpdateProgress(bool force);
    void Log(const std::string& text);
    // Ends the upload once, from the worker, an ABOR or the window: the reply, then the close.
    bool EndOnce();
    void EndFailed(std::string_view reply);

    UploadTarget target_;
    const std::string fileName_;
    const std::int64_t restartOffset_;
    const bool overwrite_;
    const RatioTerms ratio_;
    FileHandle file_;
    // Gives back what it reserved before file_ closes; an upload that ended otherwise than by the
    // client's close (ABOR, a kick) does so here.
    std::optional<DiskReservation> reservation_;
    std::optional<UploadBuffer> buffer_;
    std::mutex endMutex_;  // the worker, an ABOR on the session and the window all end the upload
    bool ended_ = false;
    bool diskError_ = false;
    bool senderFinished_ = false;  // the stream ended: TLS clients wait for our close_notify, not we for their close
    bool creditGiven_ = false;
    std::atomic<std::int64_t> bytesReceived_{0};
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace tolvane::ftp
