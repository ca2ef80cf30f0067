// Whatever a local client sends the control socket as its request line, and the JSON strings the
// listings make of names from disk and from clients.
#include "control/ControlProtocol.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace tolvane::control;

// Reads a JsonString result back; aborts on anything but one well-formed, printable literal.
std::string Unquoted(std::string_view json) {
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
    std::string text;
    for (std::size_t i = 1; i + 1 < json.size(); ++i) {
        const char c = json[i];
        if (c < 0x20 || c > 0x7e || c == '"') std::abort();
        if (c != '\\') {
            text += c;
            continue;
        }
        if (i + 2 >= json.size()) std::abort();
        const char kind = json[++i];
        if (kind == '"' || kind == '\\') {
            text += kind;
        } else if (kind == 'u' && i + 5 < json.size() && json.substr(i + 1, 2) == "00") {
            text += static_cast<char>(std::stoi(std::string(json.substr(i + 3, 2)), nullptr, 16));
            i += 4;
        } else {
            std::abort();
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (Unquoted(JsonString(input)) != input) std::abort();

    const auto request = ParseRequest(input);
    if (!request) return 0;
    // A request is what the client could have sent: short, whole, printable words.
    if (input.size() > kMaxRequestBytes || request->words.empty() || request->words.size() > kMaxRequestWords)
        std::abort();
    for (const std::string& word : request->words) {
        if (word.empty() || word == "--json") std::abort();
        for (const char c : word)
            if (c < 0x21 || c > 0x7e) std::abort();
    }
    auto words = request->words;
    if (request->json) words.emplace_back("--json");
    const auto again = ParseRequest(RequestLine(words));
    if (!again || again->words != request->words || again->json != request->json) std::abort();
    return 0;
}
