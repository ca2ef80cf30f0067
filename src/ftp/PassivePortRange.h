#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tolvane::ftp {

// The ports an IP home's passive listeners may take (a firewall lets only these through). A
// port is held from its lease until the lease ends, so no two listeners are handed one port;
// the next lease starts after the last port handed out, which spreads reuse over the range.
class PassivePortRange : public std::enable_shared_from_this<PassivePortRange> {
public:
    class Lease {
    public:
        Lease(std::shared_ptr<PassivePortRange> range, std::uint16_t port) : range_(std::move(range)), port_(port) {}
        ~Lease() { range_->GiveBack(port_); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        std::uint16_t Port() const { return port_; }

    private:
        const std::shared_ptr<PassivePortRange> range_;
        const std::uint16_t port_;
    };

    // `first` <= `last`, both from 1.
    PassivePortRange(std::uint16_t first, std::uint16_t last);

    // A port no other lease holds; null when every port of the range is held.
    std::unique_ptr<Lease> Take();
    std::size_t Size() const { return held_.size(); }

private:
    void GiveBack(std::uint16_t port);

    const std::uint16_t first_;
    std::mutex mutex_;
    std::vector<bool> held_;  // by port - first_
    std::size_t next_ = 0;
};

}  // namespace tolvane::ftp
