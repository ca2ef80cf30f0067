#include "ftp/MachineFacts.h"

#include "net/AsciiText.h"

#include <array>
#include <cstdio>

namespace tolvane::ftp {
namespace {

struct FactName {
    unsigned fact;
    std::string_view name;
};
constexpr std::array<FactName, 6> kFactNames{{{kFactType, "type"},
                                              {kFactSize, "size"},
                                              {kFactModify, "modify"},
                                              {kFactPerm, "perm"},
                                              {kFactUnique, "unique"},
                                              {kFactMode, "UNIX.mode"}}};

std::string_view TypeName(FactKind kind) {
    switch (kind) {
    case FactKind::File: return "file";
    case FactKind::Directory: return "dir";
    case FactKind::CurrentDirectory: break;
    }
    return "cdir";
}

std::string Hex(std::uint64_t value) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "%llx", static_cast<unsigned long long>(value));
    return text.data();
}

std::string Octal(std::uint32_t mode) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & 07777));
    return text.data();
}

std::string FactValue(const FactEntry& entry, unsigned fact) {
    switch (fact) {
    case kFactType: return std::string(TypeName(entry.kind));
    case kFactSize: return std::to_string(entry.size);
    case kFactModify: return UtcTimestamp(entry.modified);
    case kFactPerm: return PermFact(entry);
    case kFactUnique: return Hex(entry.device) + "U" + Hex(entry.inode);
    default: return Octal(entry.mode);
    }
}

// Reads exactly `count` digits.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool AllDigits(std::string_view text) { return text.find_first_not_of("0123456789") == std::string_view::npos; }

}  // namespace

std::string PermFact(const FactEntry& entry) {
    const PermissionSet& holder = entry.holder;
    std::string letters;
    const auto add = [&letters](bool granted, char letter) {
        if (granted) letters += letter;
    };
    if (entry.kind == FactKind::File) {
        add(holder.write, 'a');
        add(holder.deleteFiles, 'd');
        add(holder.renameFile, 'f');
        add(holder.read, 'r');
        add(holder.write, 'w');
        return letters;
    }
    // A folder that cannot be entered grants nothing inside it.
    const bool enter = !entry.own.deny;
    const PermissionSet own = enter ? entry.own : PermissionSet{};
    const bool listed = entry.kind == FactKind::CurrentDirectory;
    add(own.write, 'c');
    add(!listed && holder.removeDirectory, 'd');
    add(enter, 'e');
    add(!listed && holder.renameDirectory, 'f');
    add(own.list, 'l');
    add(own.makeDirectory, 'm');
    add(own.deleteFiles, 'p');
    return letters;
}

std::string FactsText(const FactEntry& entry, unsigned facts) {
    std::string text;
    for (const FactName& fact : kFactNames) {
        if (!(facts & fact.fact) || (fact.fact == kFactSize && entry.kind != FactKind::File)) continue;
        text += fact.name;
        text += '=';
        text += FactValue(entry, fact.fact);
        text += ';';
    }
    return text + ' ';
}

std::string UtcTimestamp(std::time_t when) {
    std::tm utc{};
    if (gmtime_r(&when, &utc) == nullptr) {
        const std::time_t epoch = 0;
        gmtime_r(&epoch, &utc);
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text.data();
}

std::optional<std::time_t> ParseUtcTimestamp(std::string_view text) {
    constexpr std::size_t kLength = 14;
    if (text.size() < kLength) return std::nullopt;
    const std::string_view fraction = text.substr(kLength);
    if (!fraction.empty() && (fraction[0] != '.' || fraction.size() == 1 || !AllDigits(fraction.substr(1))))
        return std::nullopt;
    const auto year = Digits(text, 0, 4), month = Digits(text, 4, 2), day = Digits(text, 6, 2);
    const auto hour = Digits(text, 8, 2), minute = Digits(text, 10, 2), second = Digits(text, 12, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    std::tm utc{};
    utc.tm_year = *year - 1900;
    utc.tm_mon = *month - 1;
    utc.tm_mday = *day;
    utc.tm_hour = *hour;
    utc.tm_min = *minute;
    utc.tm_sec = *second;
    const std::time_t when = timegm(&utc);
    // timegm moves a day that does not exist (Feb 30) into the next month: refuse it.
    if (utc.tm_year != *year - 1900 || utc.tm_mon != *month - 1 || utc.tm_mday != *day || utc.tm_hour != *hour ||
        utc.tm_min != *minute || utc.tm_sec != *second)
        return std::nullopt;
    return when;
}

unsigned ParseFactList(std::string_view text) {
    unsigned facts = 0;
    while (!text.empty()) {
        const std::size_t end = text.find(';');
        const std::string_view name = text.substr(0, end);
        for (const FactName& fact : kFactNames)
            if (net::SameIgnoringAsciiCase(name, fact.name)) facts |= fact.fact;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return facts;
}

std::string FactListText(unsigned selected, bool all) {
    std::string text;
    for (const FactName& fact : kFactNames) {
        const bool chosen = selected & fact.fact;
        if (!chosen && !all) continue;
        text += fact.name;
        if (chosen && all) text += '*';
        text += ';';
    }
    return text;
}

}  // namespace tolvane::ftp
