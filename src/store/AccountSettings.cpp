#include "store/AccountSettings.h"

namespace tolvane::store {

namespace {
constexpr std::string_view kLetterOrder = "RWDECLMrdcI";
}

std::string FormatAccessingRule(const AccessingRule& rule) {
    std::string text = rule.path + ',';
    for (const char letter : kLetterOrder) {
        if (rule.letters.find(letter) != std::string::npos) text.push_back(letter);
    }
    return text;
}

AccessingRule ParseAccessingRule(std::string_view text) {
    const auto comma = text.find(',');
    if (comma == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, comma)), std::string(text.substr(comma + 1))};
}

}  // namespace tolvane::store
