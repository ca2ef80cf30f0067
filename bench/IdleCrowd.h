#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// Many control connections that log in and then stay idle, all driven by one epoll loop, so
// that the client holds tens of thousands of sessions with neither a thread nor much memory for
// each. Sessions connect from 127.0.0.2 and a few addresses above it, so the ephemeral ports
// of a single source address are not what limits them.
class IdleCrowd {
public:
    IdleCrowd(std::uint16_t port, std::string user, std::string password, int timeoutSeconds);
    ~IdleCrowd();
    IdleCrowd(const IdleCrowd&) = delete;
    IdleCrowd& operator=(const IdleCrowd&) = delete;

    // Opens count sessions at once: connect, greeting, USER, PASS. A session that fails starts
    // again, up to three attempts. Returns how many of them logged in; those stay held.
    int OpenBatch(int count);
    int Held() const { return handedOff_ + HeldHere(); }
    // Sessions whose descriptors this process holds itself.
    int HeldHere() const { return static_cast<int>(held_.size()); }
    // Hands every session held here to a child process that only keeps them open, so that this
    // process's own descriptor limit does not bound the crowd; false when no child could start.
    bool HandOff();
    // Held sessions the server has neither closed nor written to, the handed-off ones included.
    int StillIdle() const;
    void CloseAll();

private:
    struct Session;
    // A child process keeping handed-off sessions; it answers how many are still idle and ends,
    // closing them, when its pipe closes.
    struct Keeper {
        pid_t pid;
        int pipe;
    };
    bool Start(Session& session);
    // Reads what arrived and answers every complete reply; false when the session failed.
    bool Advance(Session& session);
    bool Answer(Session& session, int code);

    std::uint16_t port_;
    std::string user_, password_;
    int timeoutSeconds_;
    int epoll_ = -1;
    unsigned opened_ = 0;
    std::vector<int> held_;
    std::vector<Keeper> keepers_;
    int handedOff_ = 0;
};

// Milliseconds from the start of a new connection to the end of the server's 220 greeting;
// a negative value when no greeting came.
double GreetingMilliseconds(std::uint16_t port, int timeoutSeconds);

}  // namespace bench
