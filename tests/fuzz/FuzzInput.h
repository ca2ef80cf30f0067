#pragma once

// Cuts a fuzz input into the pieces a target feeds to the code under test.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::fuzz {

// The input as '\n'-separated lines; the line feeds themselves are dropped, every other byte kept.
class Lines {
public:
    Lines(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

    bool Empty() const { return rest_.empty(); }

    std::string Next() {
        const std::size_t end = rest_.find('\n');
        std::string line(rest_.substr(0, end));
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return line;
    }

    std::vector<std::string> Rest() {
        std::vector<std::string> lines;
        while (!Empty()) lines.push_back(Next());
        return lines;
    }

private:
    std::string_view rest_;
};

}  // namespace tolvane::fuzz
