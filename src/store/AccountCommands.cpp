#include "store/AccountCommands.h"

#include "store/AccountOptions.h"
#include "store/CommandArguments.h"
#include "store/CommandError.h"
#include "store/CommandUsage.h"
#include "store/GroupCommands.h"
#include "store/IpHomeCommands.h"
#include "store/UserCommands.h"

#include <ostream>
#include <string_view>

namespace tolvane::store {
namespace fs = std::filesystem;
namespace cli {
namespace {

const std::vector<Option> kListingOptions = {{"--iphome", true}, {"--help", false}};

struct Noun {
    std::string_view name;
    std::vector<std::string_view> verbs;
    std::string usage;
};

const Noun& FindNoun(std::string_view name) {
    static const std::vector<Noun> kNouns = {
        {"iphome", {"list", "add", "show", "set", "remove"}, IpHomeUsage()},
        {"user", {"list", "add", "show", "rename", "remove", "set"}, UserUsage()},
        {"group", {"list", "add", "show", "remove", "set"}, GroupUsage()}};
    for (const Noun& noun : kNouns)
        if (noun.name == name) return noun;
    Misused("unknown command " + Quoted(name));
}

bool IsVerb(const Noun& noun, std::string_view verb) {
    for (std::string_view known : noun.verbs)
        if (known == verb) return true;
    return false;
}

const std::vector<Option>& OptionsOf(const Noun& noun, std::string_view verb) {
    if (noun.name == "iphome") return IpHomeOptionList();
    if (verb == "add" || verb == "set") return AccountOptionList();
    return kListingOptions;
}

int Dispatch(const fs::path& serverHome, const Noun& noun, const std::vector<std::string>& words,
             CommandStreams streams) {
    if (words.size() < 2) Misused("missing " + std::string(noun.name) + " command");
    if (words[1] == "--help" || words[1] == "-h") {
        streams.out << noun.usage;
        return kCommandSucceeded;
    }
    const std::string& verb = words[1];
    if (!IsVerb(noun, verb)) Misused("unknown " + std::string(noun.name) + " command " + Quoted(verb));
    const Arguments arguments = Parse(words, 2, OptionsOf(noun, verb));
    if (arguments.Has("--help")) {
        streams.out << noun.usage;
        return kCommandSucceeded;
    }
    if (noun.name == "iphome") return RunIpHome(serverHome, verb, arguments, streams.out);
    if (noun.name == "user") return RunUser(serverHome, verb, arguments, streams);
    return RunGroup(serverHome, verb, arguments, streams);
}

}  // namespace
}  // namespace cli

int RunAccountCommand(const fs::path& serverHome, const std::vector<std::string>& words, CommandStreams streams) {
    std::string_view noun = words.empty() ? std::string_view() : std::string_view(words.front());
    try {
        return cli::Dispatch(serverHome, cli::FindNoun(noun), words, streams);
    } catch (const cli::CommandError& error) {
        streams.err << "tolvaned: " << error.message << '\n';
        if (error.code == kCommandMisused)
            streams.err << "Try 'tolvaned " << (noun.empty() ? "--help" : std::string(noun) + " --help") << "'.\n";
        return error.code;
    }
}

}  // namespace tolvane::store
