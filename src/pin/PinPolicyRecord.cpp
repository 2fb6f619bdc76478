#include "pin/PinPolicyRecord.h"

#include "core/Codecs.h"

#include <algorithm>
#include <cstring>

using namespace otp::core;
using namespace otp::device;

namespace otp::pin {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kInvalidBase64[] = "Invalid base64 input.";
constexpr char kReadFailed[] = "Failed to read PIN policy.";
constexpr char kNotInitialised[] = "Failed to read PIN policy. Ask Admin to initialize the device.";
constexpr char kWriteFailed[] = "Failed to write PIN policy.";

template <class T> void putLittleEndian(uint8_t* out, T value)
{
    using U = std::make_unsigned_t<T>;
    auto v = static_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <class T> T getLittleEndian(const uint8_t* in)
{
    using U = std::make_unsigned_t<T>;
    U v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<U>(v | static_cast<U>(static_cast<U>(in[i]) << (8 * i)));
    return static_cast<T>(v);
}

// The key's own failure, with its fault and status, worded for the user.
std::unexpected<OpError> reworded(OpError error, std::string detail)
{
    error.detail = std::move(detail);
    return std::unexpected(std::move(error));
}

// The steps every reader shares; an `enabled` of 0 is left for them to judge.
OpResult<PinPolicyRecord> readStored(KeySession& device)
{
    const auto text = device.pin_record_text();
    if (!text)
        return reworded(text.error(), kReadFailed);
    auto bytes = pin_record_base64_decode(*text);
    if (!bytes || bytes->size() != kPinPolicyRecordSize)
        return fail(Fault::Refused, kNotInitialised);
    return pin_policy_from_bytes(
        std::span<const uint8_t, kPinPolicyRecordSize>(bytes->data(), kPinPolicyRecordSize));
}

} // namespace

PinPolicyBytes to_bytes(const PinPolicyRecord& r)
{
    PinPolicyBytes b{};
    b[0] = r.enabled;
    std::copy(r.pinDigest.begin(), r.pinDigest.end(), b.begin() + 1);
    putLittleEndian(b.data() + 17, r.pinSetTime);
    putLittleEndian(b.data() + 25, r.expiryDays);
    b[27] = r.minLength;
    b[28] = r.minNumeric;
    b[29] = r.minLowercase;
    b[30] = r.minUppercase;
    b[31] = r.minSpecial;
    b[32] = r.maxSequential;
    b[33] = r.maxRepeating;
    return b;
}

PinPolicyRecord pin_policy_from_bytes(std::span<const uint8_t, kPinPolicyRecordSize> b)
{
    PinPolicyRecord r;
    r.enabled = b[0];
    std::copy(b.begin() + 1, b.begin() + 17, r.pinDigest.begin());
    r.pinSetTime = getLittleEndian<int64_t>(b.data() + 17);
    r.expiryDays = getLittleEndian<uint16_t>(b.data() + 25);
    r.minLength = b[27];
    r.minNumeric = b[28];
    r.minLowercase = b[29];
    r.minUppercase = b[30];
    r.minSpecial = b[31];
    r.maxSequential = b[32];
    r.maxRepeating = b[33];
    return r;
}

OpResult<std::vector<uint8_t>> pin_record_base64_decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return fail(Fault::Refused, kInvalidBase64);
    std::string_view data = text.substr(0, std::min(text.find('='), text.size()));
    // A last character alone carries six bits, no whole byte: it is checked
    // and dropped.
    if (data.size() % 4 == 1) {
        if (std::string_view(kAlphabet).find(data.back()) == std::string_view::npos)
            return fail(Fault::Refused, kInvalidBase64);
        data.remove_suffix(1);
    }
    std::string padded(data);
    padded.append((4 - padded.size() % 4) % 4, '=');
    auto bytes = base64_decode(padded);
    if (!bytes)
        return fail(Fault::Refused, kInvalidBase64);
    return std::move(*bytes);
}

std::string pin_policy_text(const PinPolicyRecord& record)
{
    return base64_encode(to_bytes(record));
}

OpResult<PinPolicyRecord> read_pin_policy(KeySession& device)
{
    auto stored = readStored(device);
    if (stored && stored->enabled == 0)
        return fail(Fault::Refused, kNotInitialised);
    return stored;
}

PinPolicyRecord read_pin_policy_or_zero(KeySession& device)
{
    return readStored(device).value_or(PinPolicyRecord{});
}

OpResult<PinPolicyRecord> read_pin_policy_to_update(KeySession& device)
{
    auto stored = readStored(device);
    if (!stored && stored.error().from_key())
        return stored;
    return stored.value_or(PinPolicyRecord{});
}

OpResult<void> write_pin_policy(KeySession& device, const PinPolicyRecord& record)
{
    const auto written = device.write_pin_record(pin_policy_text(record));
    if (written)
        return {};
    // Deliberately without a full stop, unlike every other message here.
    if (written.error().fault == Fault::TimedOut)
        return reworded(written.error(), "Token timed out");
    return reworded(written.error(), kWriteFailed);
}

} // namespace otp::pin
