#pragma once

// The two questions the update check asks of a raw HTTP response.

#include <cstddef>
#include <optional>
#include <string_view>

namespace tolvane::clients {

// What follows the first blank line (CR LF CR LF); empty while there is none.
std::string_view ResponseBody(std::string_view response);

// Header length plus the Content-Length value: the size of the whole response. None while the
// header is incomplete, or when it has no Content-Length or one that is not a plain decimal
// number within range; such a response is complete only when the server closes.
std::optional<std::size_t> ExpectedResponseLength(std::string_view response);

}  // namespace tolvane::clients
