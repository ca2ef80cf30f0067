// CheckIpAccess and MatchIpPattern with hostile rule texts and addresses.
#include "store/IpRules.h"
#include "FuzzInput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvane;
    fuzz::Lines lines(data, size);
    const std::string address = lines.Next();
    std::vector<std::string> rules = lines.Rest();
    const bool allowed = store::CheckIpAccess(rules, address);
    // No rules admit everyone; a granted access needs a matching "Allow" rule.
    if (rules.empty() && !allowed) std::abort();
    if (allowed && !rules.empty()) {
        bool someAllowMatches = false;
        for (const std::string& rule : rules) {
            const std::size_t colon = rule.find(':');
            if (colon != std::string::npos && rule.substr(0, colon) == "Allow" &&
                store::MatchIpPattern(std::string_view(rule).substr(colon + 1), address))
                someAllowMatches = true;
        }
        if (!someAllowMatches) std::abort();
    }
    // The first rule naming the address exactly decides it.
    for (const std::string& rule : rules) {
        const std::size_t colon = rule.find(':');
        if (colon == std::string::npos) continue;
        const auto match = store::MatchIpPattern(std::string_view(rule).substr(colon + 1), address);
        if (match && match->wildcards == 0) {
            if (allowed != (rule.substr(0, colon) == "Allow")) std::abort();
            break;
        }
    }
    return 0;
}
