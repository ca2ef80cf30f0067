#include "control/ControlProtocol.h"

#include <cstdio>

namespace tolvane::control {

std::filesystem::path ControlSocketPath(const std::filesystem::path& home) { return home / "tolvaned.sock"; }

std::string RequestLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        line += word;
    }
    return line + '\n';
}

std::optional<Request> ParseRequest(std::string_view line) {
    if (line.size() > kMaxRequestBytes || !line.ends_with('\n')) return std::nullopt;
    line.remove_suffix(1);
    Request request;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ' ') {
            if (line[i] < 0x21 || line[i] > 0x7e) return std::nullopt;
            continue;
        }
        if (i == start) return std::nullopt;  // empty line, or two spaces in a row
        const std::string_view word = line.substr(start, i - start);
        if (word == "--json") {
            request.json = true;
        } else {
            request.words.emplace_back(word);
        }
        start = i + 1;
    }
    if (request.words.empty() || request.words.size() > kMaxRequestWords) return std::nullopt;
    return request;
}

std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte > 0x7e) {
            // Names on disk need not be UTF-8: each byte stands for itself (Latin-1).
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

}  // namespace tolvane::control
