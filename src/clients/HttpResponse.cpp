#include "clients/HttpResponse.h"

#include "net/AsciiText.h"

#include <charconv>
#include <cstdint>

namespace tolvane::clients {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLengthField = "\r\ncontent-length:";

// Where the field begins in the header (searched without regard to case), or npos.
std::size_t FindField(std::string_view header, std::string_view field) {
    for (std::size_t at = 0; at + field.size() <= header.size(); ++at)
        if (net::SameIgnoringAsciiCase(header.substr(at, field.size()), field)) return at;
    return std::string_view::npos;
}

std::optional<std::size_t> DecimalValue(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string_view ResponseBody(std::string_view response) {
    const std::size_t end = response.find(kHeaderEnd);
    return end == std::string_view::npos ? std::string_view{} : response.substr(end + kHeaderEnd.size());
}

std::optional<std::size_t> ExpectedResponseLength(std::string_view response) {
    const std::size_t headerEnd = response.find(kHeaderEnd);
    if (headerEnd == std::string_view::npos) return std::nullopt;
    // The CR LF that ends the header's last line belongs to the search, so the last field is found too.
    const std::string_view header = response.substr(0, headerEnd + 2);
    const std::size_t field = FindField(header, kLengthField);
    if (field == std::string_view::npos) return std::nullopt;
    const std::size_t valueStart = field + kLengthField.size();
    const std::size_t valueEnd = header.find("\r\n", valueStart);
    const auto length = DecimalValue(header.substr(valueStart, valueEnd - valueStart));
    const std::size_t headerLength = headerEnd + kHeaderEnd.size();
    if (!length || *length > SIZE_MAX - headerLength) return std::nullopt;
    return headerLength + *length;
}

}  // namespace tolvane::clients
