// The session-log file name built from an account's mask, user name and address: whatever they
// hold, the result is one file name inside the logging folder.
#include "ftp/SessionLog.h"
#include "FuzzInput.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvane;
    std::int64_t when = 0;
    if (size >= sizeof when) {
        std::memcpy(&when, data, sizeof when);
        data += sizeof when;
        size -= sizeof when;
    }
    fuzz::Lines lines(data, size);
    const std::string mask = lines.Next();
    const std::string user = lines.Next();
    const std::string address = lines.Next();
    const std::string name = ftp::SessionLogFileName(mask, static_cast<std::time_t>(when), user, address);
    if (!name.ends_with(".log") || name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) std::abort();
    if (mask.find('%') == std::string::npos && name.size() != mask.size() + 4) std::abort();
    return 0;
}
