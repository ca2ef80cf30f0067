#pragma once

// Choosing the rate cap of one transfer when its command starts.

#include "store/SpeedRules.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvane::ftp {

enum class TransferKind { Sending, Receiving, Listing };

// What a data socket paces by: bytes per second, in force only when `on`.
struct SpeedLimit {
    bool on = false;
    std::uint32_t bytesPerSecond = 0;

    bool operator==(const SpeedLimit&) const = default;
};

double SpeedFor(const store::DynamicSpeeds& speeds, TransferKind kind);

// The limit to set on a new data socket for the account's mode: "-1" switches it off,
// "Static" and "Dynamic" take the given kb/s value; any other text yields nothing, so the
// socket keeps its unlimited start state. The value counts in 1024-byte units, fraction
// dropped; zero, negative and NaN values give no limit, values beyond 32 bits the largest one.
std::optional<SpeedLimit> ApplySpeedLimit(std::string_view mode, double staticKbPerSecond,
                                          double dynamicKbPerSecond);

}  // namespace tolvane::ftp
