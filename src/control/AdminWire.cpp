#include "control/AdminWire.h"

#include <charconv>

namespace tolvane::control {
namespace {

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string Frame(std::string_view kind, std::string_view body) {
    return std::string(kind) + ' ' + std::to_string(body.size()) + '\n' + std::string(body);
}

std::optional<FrameHeader> ParseFrameHeader(std::string_view line, std::size_t maxLength) {
    if (!line.ends_with('\n')) return std::nullopt;
    line.remove_suffix(1);
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0) return std::nullopt;
    const auto length = ParseNumber<std::size_t>(line.substr(space + 1));
    if (!length || *length > maxLength) return std::nullopt;
    return FrameHeader{std::string(line.substr(0, space)), *length};
}

std::string JoinFields(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) line += '\t';
        for (const char c : fields[i]) {
            switch (c) {
            case '\t': line += "\\t"; break;
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            case '\\': line += "\\\\"; break;
            default: line += c;
            }
        }
    }
    return line;
}

std::vector<std::string> SplitFields(std::string_view line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string EncodeRecord(const monitor::LogRecord& record) {
    return JoinFields({std::to_string(record.sequence), record.stamp, record.text, std::to_string(record.kind), record.underline ? "1" : "0",
                       record.bold ? "1" : "0",
                       record.highlightOffset ? std::to_string(*record.highlightOffset) : "-",
                       record.raw ? "1" : "0"});
}

std::optional<monitor::LogRecord> DecodeRecord(std::string_view body) {
    const std::vector<std::string> fields = SplitFields(body);
    if (fields.size() != 8) return std::nullopt;
    const auto sequence = ParseNumber<std::uint64_t>(fields[0]);
    const auto kind = ParseNumber<std::uint32_t>(fields[3]);
    if (!sequence || !kind) return std::nullopt;
    monitor::LogRecord record;
    record.sequence = *sequence;
    record.stamp = fields[1];
    record.text = fields[2];
    record.kind = *kind;
    record.underline = fields[4] == "1";
    record.bold = fields[5] == "1";
    if (fields[6] != "-") {
        const auto offset = ParseNumber<std::size_t>(fields[6]);
        if (!offset) return std::nullopt;
        record.highlightOffset = *offset;
    }
    record.raw = fields[7] == "1";
    return record;
}

std::string HexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::optional<std::string> BytesOfHex(std::string_view hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const auto byte = [&] {
            unsigned value = 0;
            const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
            return error == std::errc() && end == hex.data() + i + 2 ? std::optional<unsigned>(value) : std::nullopt;
        }();
        if (!byte) return std::nullopt;
        bytes += static_cast<char>(*byte);
    }
    return bytes;
}

}  // namespace tolvane::control
