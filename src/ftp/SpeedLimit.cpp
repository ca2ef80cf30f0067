#include "ftp/SpeedLimit.h"

#include <limits>

namespace tolvane::ftp {
namespace {

// Negative speeds would wrap to a limit near 2^32 that pacing never reaches; no limit has
// the same effect without the out-of-range conversion.
SpeedLimit LimitOf(double kbPerSecond) {
    const double bytes = kbPerSecond * 1024.0;
    constexpr std::uint32_t kLargest = std::numeric_limits<std::uint32_t>::max();
    if (!(bytes >= 1.0)) return {};
    if (bytes >= static_cast<double>(kLargest)) return {true, kLargest};
    return {true, static_cast<std::uint32_t>(bytes)};
}

}  // namespace

double SpeedFor(const store::DynamicSpeeds& speeds, TransferKind kind) {
    switch (kind) {
    case TransferKind::Sending: return speeds.sending;
    case TransferKind::Receiving: return speeds.receiving;
    case TransferKind::Listing: break;
    }
    return speeds.listing;
}

std::optional<SpeedLimit> ApplySpeedLimit(std::string_view mode, double staticKbPerSecond,
                                          double dynamicKbPerSecond) {
    if (mode == "-1") return SpeedLimit{};
    if (mode == "Static") return LimitOf(staticKbPerSecond);
    if (mode == "Dynamic") return LimitOf(dynamicKbPerSecond);
    return std::nullopt;
}

}  // namespace tolvane::ftp
