#pragma once

// Choosing the rate cap of one transfer when its command starts.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::ftp {

enum class TransferKind { Sending, Receiving, Listing };

// What a data socket paces by: bytes per second, in force only when `on`.
struct SpeedLimit {
    bool on = false;
    std::uint32_t bytesPerSecond = 0;

    bool operator==(const SpeedLimit&) const = default;
};

// kb/s per kind, from the dynamic rule in force; 0 means no limit.
struct DynamicSpeeds {
    double receiving = 0, sending = 0, listing = 0;
};

// Evaluates the rule texts "<day>-<H:M>-<H:M>-<recv>,<send>,<list>" (rules[0] is
// DynamicSpeedLimitRule0) at the local time `now`; only weekday, hour and minute count. A rule
// is in force on its weekday (full English name, exact) or "Everyday", from its first minute to
// its last one included; a window that crosses midnight never is. Among the rules in force the
// shortest window, counted in whole hours, wins; the earlier rule on ties. No rule in force:
// all zero.
DynamicSpeeds DynamicLimit(const std::vector<std::string>& rules, const std::tm& now);

double SpeedFor(const DynamicSpeeds& speeds, TransferKind kind);

// The limit to set on a new data socket for the account's mode: "-1" switches it off,
// "Static" and "Dynamic" take the given kb/s value; any other text yields nothing, so the
// socket keeps its unlimited start state. The value counts in 1024-byte units, fraction
// dropped; zero, negative and NaN values give no limit, values beyond 32 bits the largest one.
std::optional<SpeedLimit> ApplySpeedLimit(std::string_view mode, double staticKbPerSecond,
                                          double dynamicKbPerSecond);

}  // namespace tolvane::ftp
