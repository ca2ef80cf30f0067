#include "store/TlsPolicy.h"

#include <array>
#include <utility>

namespace tolvane::store {
namespace {

constexpr std::array<std::pair<TlsPolicy, std::string_view>, 4> kPolicyNames{{
    {TlsPolicy::Off, "off"},
    {TlsPolicy::Allowed, "allowed"},
    {TlsPolicy::Login, "login"},
    {TlsPolicy::Data, "data"},
}};

constexpr std::array<std::pair<TlsResumption, std::string_view>, 3> kResumptionNames{{
    {TlsResumption::Required, "required"},
    {TlsResumption::SameAddress, "same-address"},
    {TlsResumption::Off, "off"},
}};

template <typename Value, std::size_t N>
std::optional<Value> ValueNamed(const std::array<std::pair<Value, std::string_view>, N>& names, std::string_view text) {
    for (const auto& [value, name] : names)
        if (name == text) return value;
    return std::nullopt;
}

template <typename Value, std::size_t N>
std::string_view NameOf(const std::array<std::pair<Value, std::string_view>, N>& names, Value wanted) {
    for (const auto& [value, name] : names)
        if (value == wanted) return name;
    return {};
}

}  // namespace

std::optional<TlsPolicy> ParseTlsPolicy(std::string_view text) { return ValueNamed(kPolicyNames, text); }
std::string_view TlsPolicyName(TlsPolicy policy) { return NameOf(kPolicyNames, policy); }
std::optional<TlsResumption> ParseTlsResumption(std::string_view text) { return ValueNamed(kResumptionNames, text); }
std::string_view TlsResumptionName(TlsResumption resumption) { return NameOf(kResumptionNames, resumption); }

}  // namespace tolvane::store
