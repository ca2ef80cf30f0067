#pragma once

#include "ftp/PassivePortRange.h"
#include "net/Endpoint.h"
#include "net/TlsContext.h"
#include "store/TlsPolicy.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::ftp {

// One IP home while it is served: its limits and folders, filled before its listening socket
// listens and fixed from then on, and the live counters that all its sessions share. Sessions
// hold it by shared_ptr, so it outlives the listening socket.
struct ServedIpHome {
    std::string name;          // the IP home file's title, e.g. "127.0.0.1-2121"
    std::string usersFolder;   // ends in '/'
    std::string groupsFolder;  // ends in '/'
    bool overwriteAllowed = false;
    int transferLimit = -1;  // -1: no limit
    int userLimit = -1;      // -1: no limit
    std::shared_ptr<const net::TlsContext> tls;  // null: no certificate, no FTPS
    bool implicitTls = false;                    // TLS from the first byte
    store::TlsPolicy tlsPolicy = store::TlsPolicy::Allowed;
    store::TlsResumption tlsResumption = store::TlsResumption::SameAddress;
    // The ports passive listeners take; none: any port the system picks.
    std::shared_ptr<PassivePortRange> passivePorts;
    // The address PASV names instead of the control connection's own (a NAT router's).
    std::optional<net::Endpoint> passiveAddress;
    // Load balancers whose connections begin with a PROXY header naming the real client.
    std::vector<net::Endpoint> trustedProxies;

    std::atomic<int> runningTransfers{0};
    std::atomic<int> usersLoggedIn{0};
};

}  // namespace tolvane::ftp
