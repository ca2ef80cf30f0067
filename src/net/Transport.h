#pragma once

#include <cstddef>
#include <sys/types.h>

namespace tolvane::net {

// How one transfer of bytes went.
enum class IoStatus {
    Moved,       // `bytes` moved
    WouldBlock,  // nothing moved now; try again once the socket is ready as `waitFor` says
    Ended,       // the peer closed the stream; for SendFile, the file ended
    Failed,      // the connection is broken; `error` says why
};

enum class Readiness { Readable, Writable };

struct IoResult {
    IoStatus status = IoStatus::Failed;
    std::size_t bytes = 0;
    int error = 0;
    // A secure transport may need to read before it can write, or the other way round.
    Readiness waitFor = Readiness::Writable;

    bool Moved() const { return status == IoStatus::Moved; }
    bool WouldBlock() const { return status == IoStatus::WouldBlock; }
};

// The bytes of one connection, control or data: plain TCP, or a secure layer chosen per
// connection. The FTP code speaks only to this; the event loop decides when to call it.
class Transport {
public:
    virtual ~Transport() = default;

    // `more` says further bytes follow at once: the transport may hold these back so that both
    // leave together (the leading lines of a multi-line reply).
    virtual IoResult Send(const void* data, std::size_t length, bool more) = 0;
    virtual IoResult Receive(void* buffer, std::size_t length) = 0;
    // Up to count bytes of a file from *offset, advancing it.
    virtual IoResult SendFile(int fileFd, off_t* offset, std::size_t count) = 0;
    // Input the transport already holds (decrypted and not yet handed out), which the socket's
    // readiness would not announce.
    virtual bool HasBufferedInput() const { return false; }
    // Completes the opening exchange of a secure transport: Moved once done (at once for plain
    // TCP), WouldBlock while it waits for the peer, Failed when the peer is refused.
    virtual IoResult Handshake() { return {IoStatus::Moved, 0, 0, Readiness::Writable}; }
    // The secure session continues one the peer made before (on the control connection).
    virtual bool ResumedSession() const { return false; }
    // Ends the stream so that the peer can tell the end of the data from a cut.
    virtual void Finish() {}
};

}  // namespace tolvane::net
