// The update check's answer as a hostile host may send it: the HTTP response around the version
// file, then the version file itself. Body and expected length stay within what the response
// says; version, build and date are single lines, and the description is whole CR LF lines.
#include "clients/HttpResponse.h"
#include "clients/VersionInfo.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

using namespace tolvane::clients;

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckVersionFile(std::string_view text) {
    const VersionInfo info = ParseVersionInfo(text);
    for (const std::string* line : {&info.version, &info.build, &info.date})
        Check(line->find('\n') == std::string::npos && line->size() <= text.size());
    Check(info.description.empty() || info.description.ends_with("\r\n"));
    Check(info.description.size() <= text.size() + static_cast<std::size_t>(std::ranges::count(text, '\n')));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view response(reinterpret_cast<const char*>(data), size);
    const std::string_view body = ResponseBody(response);
    const std::size_t headerEnd = response.find("\r\n\r\n");
    if (headerEnd == std::string_view::npos) {
        Check(body.empty() && !ExpectedResponseLength(response));
    } else {
        Check(body.data() == response.data() + headerEnd + 4 && body.size() == size - headerEnd - 4);
        if (const auto expected = ExpectedResponseLength(response)) Check(*expected >= headerEnd + 4);
    }
    CheckVersionFile(body);
    CheckVersionFile(response);
    return 0;
}
