#include "store/CommandArguments.h"

#include "store/CommandError.h"

namespace tolvane::store::cli {
namespace {

const Option* FindOption(const std::vector<Option>& known, std::string_view name) {
    for (const Option& option : known)
        if (option.name == name) return &option;
    return nullptr;
}

// Line breaks would split a profile line; refused here so that no write is even tried.
void CheckValue(std::string_view option, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos) Misused(std::string(option) + ": line breaks are not allowed");
}

}  // namespace

bool Arguments::Has(std::string_view name) const {
    for (const auto& option : options)
        if (option.first == name) return true;
    return false;
}

std::optional<std::string> Arguments::Last(std::string_view name) const {
    std::optional<std::string> value;
    for (const auto& option : options)
        if (option.first == name) value = option.second;
    return value;
}

std::vector<std::string> Arguments::All(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& option : options)
        if (option.first == name) values.push_back(option.second);
    return values;
}

Arguments Parse(const std::vector<std::string>& words, std::size_t first, const std::vector<Option>& known) {
    Arguments arguments;
    bool optionsEnded = false;
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || !word.starts_with("--")) {
            arguments.positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const Option* option = FindOption(known, name);
        if (!option) Misused("unknown option " + Quoted(name));
        std::string value;
        if (option->takesValue && equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (option->takesValue) {
            if (++i == words.size()) Misused("option " + Quoted(name) + " needs a value");
            value = words[i];
        } else if (equals != std::string::npos) {
            Misused("option " + Quoted(name) + " takes no value");
        }
        CheckValue(name, value);
        arguments.options.emplace_back(name, std::move(value));
    }
    return arguments;
}

void ExpectPositionals(const Arguments& arguments, std::size_t count, std::string_view shape) {
    if (arguments.positionals.size() != count) Misused("expected " + std::string(shape));
}

}  // namespace tolvane::store::cli
