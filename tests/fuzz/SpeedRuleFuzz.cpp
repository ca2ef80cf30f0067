// Dynamic speed rules as an administrator (or junk in an account file) may write them, evaluated
// at a time the input picks, and the limit a data socket would get from them.
#include "ftp/SpeedLimit.h"
#include "FuzzInput.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvane;
    if (size < 3) return 0;
    std::tm now{};
    now.tm_wday = data[0] % 9 - 1;  // one value on each side of the real range
    now.tm_hour = data[1] % 25;
    now.tm_min = data[2] % 61;
    fuzz::Lines lines(data + 3, size - 3);
    const std::string mode = lines.Next();
    const store::DynamicSpeeds speeds = store::DynamicLimit(lines.Rest(), now);
    for (const auto kind : {ftp::TransferKind::Sending, ftp::TransferKind::Receiving, ftp::TransferKind::Listing}) {
        const double speed = ftp::SpeedFor(speeds, kind);
        if (!std::isfinite(speed)) std::abort();
        for (const std::string_view accountMode : {std::string_view("Dynamic"), std::string_view(mode)}) {
            const auto limit = ftp::ApplySpeedLimit(accountMode, speed, speed);
            // A limit in force always lets bytes through, and only a positive speed sets one.
            if (limit && limit->on && (limit->bytesPerSecond == 0 || !(speed > 0))) std::abort();
        }
    }
    return 0;
}
