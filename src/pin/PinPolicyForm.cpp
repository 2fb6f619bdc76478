#include "pin/PinPolicyForm.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

using namespace otp::core;
using namespace otp::device;

namespace otp::pin {

namespace {

const char* fieldName(PolicyField field)
{
    switch (field) {
    case PolicyField::MinLength:
        return "the minimum PIN length";
    case PolicyField::MinNumeric:
        return "the minimum number of numeric letters";
    case PolicyField::MinLowercase:
        return "the minimum number of lowercase letters";
    case PolicyField::MinUppercase:
        return "the minimum number of uppercase letters";
    case PolicyField::MinSpecial:
        return "the minimum number of special letters";
    case PolicyField::MaxSequential:
        return "the maximum length of sequential letters";
    case PolicyField::MaxRepeating:
        return "the maximum number of repeating letters";
    case PolicyField::ExpiryDays:
        return "the days after which a newly set PIN expires";
    }
    return "";
}

uint8_t byteOf(const PolicyValues& v, PolicyField f)
{
    return static_cast<uint8_t>(v[f]);
}

} // namespace

uint32_t policy_field_max(PolicyField field)
{
    return field == PolicyField::ExpiryDays ? 65535u : 255u;
}

std::optional<uint32_t> parse_policy_field(std::string_view text, PolicyField field)
{
    if (text.empty() || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Overflow of uint32_t is out of range as well.
    if (ec != std::errc{} || end != text.data() + text.size() || value > policy_field_max(field))
        return std::nullopt;
    return value;
}

std::string policy_field_error(PolicyField field)
{
    return fmt::format("Please enter a whole number from 0 to {} for {}.", policy_field_max(field),
                       fieldName(field));
}

PolicyValues policy_values_of(const PinPolicyRecord& r)
{
    PolicyValues v;
    v.enabled = r.enabled != 0;
    v[PolicyField::MinLength] = r.minLength;
    v[PolicyField::MinNumeric] = r.minNumeric;
    v[PolicyField::MinLowercase] = r.minLowercase;
    v[PolicyField::MinUppercase] = r.minUppercase;
    v[PolicyField::MinSpecial] = r.minSpecial;
    v[PolicyField::MaxSequential] = r.maxSequential;
    v[PolicyField::MaxRepeating] = r.maxRepeating;
    v[PolicyField::ExpiryDays] = r.expiryDays;
    return v;
}

PinPolicyRecord policy_record_with(const PinPolicyRecord& stored, const PolicyValues& v)
{
    PinPolicyRecord r = stored; // keeps pinDigest and pinSetTime
    r.enabled = v.enabled ? 1 : 0;
    r.minLength = byteOf(v, PolicyField::MinLength);
    r.minNumeric = byteOf(v, PolicyField::MinNumeric);
    r.minLowercase = byteOf(v, PolicyField::MinLowercase);
    r.minUppercase = byteOf(v, PolicyField::MinUppercase);
    r.minSpecial = byteOf(v, PolicyField::MinSpecial);
    r.maxSequential = byteOf(v, PolicyField::MaxSequential);
    r.maxRepeating = byteOf(v, PolicyField::MaxRepeating);
    r.expiryDays = static_cast<uint16_t>(v[PolicyField::ExpiryDays]);
    return r;
}

} // namespace otp::pin
