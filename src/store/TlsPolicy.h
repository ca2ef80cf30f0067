#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::store {

// How much an IP home or an account asks of TLS, weakest first: no TLS at all, TLS when the
// client asks, logins only over TLS, and data connections too.
enum class TlsPolicy { Off, Allowed, Login, Data };

// Which data connections of a secured session are let through: only those whose TLS session
// resumes the control connection's, those or any from the control connection's own address,
// or all.
enum class TlsResumption { Required, SameAddress, Off };

// The words of the settings files and the command line; nothing for any other text.
std::optional<TlsPolicy> ParseTlsPolicy(std::string_view text);
std::string_view TlsPolicyName(TlsPolicy policy);
std::optional<TlsResumption> ParseTlsResumption(std::string_view text);
std::string_view TlsResumptionName(TlsResumption resumption);

}  // namespace tolvane::store
