#pragma once

// The words of an account command: positionals and "--name[=value]" options.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::store::cli {

struct Option {
    std::string_view name;
    bool takesValue;
};

struct Arguments {
    std::vector<std::string> positionals;
    std::vector<std::pair<std::string, std::string>> options;  // in command-line order

    bool Has(std::string_view name) const;
    // The value given last.
    std::optional<std::string> Last(std::string_view name) const;
    std::vector<std::string> All(std::string_view name) const;
};

// Parses words[first..] against the `known` options; "--" ends the options.
Arguments Parse(const std::vector<std::string>& words, std::size_t first, const std::vector<Option>& known);
void ExpectPositionals(const Arguments& arguments, std::size_t count, std::string_view shape);

}  // namespace tolvane::store::cli
