#include "pin/PinPolicyRecord.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kInvalidBase64[] = "Invalid base64 input.";
constexpr char kReadFailed[] = "Failed to read PIN policy.";
constexpr char kNotInitialised[] = "Failed to read PIN policy. Ask Admin to initialize the device.";
constexpr char kWriteFailed[] = "Failed to write PIN policy.";
// The pseudo-token never yields an OTP; the key just wants a seed of some sort.
constexpr char kFillerSeed[] = "50827413";

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

enum class ReadFailure { Device, NotInitialised };

// The steps both readers share; an `enabled` of 0 is left for them to judge.
std::expected<PinPolicyRecord, ReadFailure> readStored(KeySession& device)
{
    const auto token = device.pin_record();
    if (!token)
        return std::unexpected(ReadFailure::Device);
    const std::string_view text(token->serial, strnlen(token->serial, sizeof token->serial));
    auto bytes = base64_decode(text);
    if (!bytes || bytes->size() != kPinPolicyRecordSize)
        return std::unexpected(ReadFailure::NotInitialised);
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

std::string base64_encode(std::span<const uint8_t> bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    uint32_t acc = 0;
    int bits = -6;
    for (uint8_t byte : bytes) {
        acc = (acc << 8) + byte;
        bits += 8;
        while (bits >= 0) {
            out.push_back(kAlphabet[(acc >> bits) & 0x3F]);
            bits -= 6;
        }
    }
    if (bits > -6)
        out.push_back(kAlphabet[((acc << 8) >> (bits + 8)) & 0x3F]);
    while (out.size() % 4 != 0)
        out.push_back('=');
    return out;
}

PinResult<std::vector<uint8_t>> base64_decode(std::string_view text)
{
    std::vector<uint8_t> out;
    if (text.empty())
        return out;
    if (text.size() % 4 != 0)
        return std::unexpected(Err{ErrCode::General, kInvalidBase64});

    std::array<int, 256> value;
    value.fill(-1);
    for (int i = 0; i < 64; ++i)
        value[static_cast<unsigned char>(kAlphabet[i])] = i;

    uint32_t acc = 0;
    int bits = -8;
    for (char ch : text) {
        if (ch == '=')
            break;
        const int v = value[static_cast<unsigned char>(ch)];
        if (v < 0)
            return std::unexpected(Err{ErrCode::General, kInvalidBase64});
        acc = (acc << 6) + static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 0) {
            out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

OtpTokenRecord pin_policy_token(const PinPolicyRecord& record)
{
    OtpTokenRecord token{};
    token.slot = VN_SLOT_PIN_RECORD;
    token.type = VN_TYPE_TOTP;
    token.hash = VN_HASH_SHA1;
    token.digits = 6;
    token.interval = 30;
    const PinPolicyBytes bytes = to_bytes(record);
    const std::string text = base64_encode(bytes);
    static_assert((kPinPolicyRecordSize + 2) / 3 * 4 < sizeof token.serial);
    std::memcpy(token.serial, text.data(), text.size());
    std::memcpy(token.seed, kFillerSeed, sizeof kFillerSeed - 1);
    token.seedLength = sizeof kFillerSeed - 1;
    return token;
}

PinResult<PinPolicyRecord> read_pin_policy(KeySession& device)
{
    auto stored = readStored(device);
    if (!stored)
        return std::unexpected(Err{ErrCode::General, stored.error() == ReadFailure::Device
                                                         ? kReadFailed
                                                         : kNotInitialised});
    if (stored->enabled == 0)
        return std::unexpected(Err{ErrCode::General, kNotInitialised});
    return *stored;
}

PinPolicyRecord read_pin_policy_or_zero(KeySession& device)
{
    return readStored(device).value_or(PinPolicyRecord{});
}

PinResult<PinPolicyRecord> read_pin_policy_to_update(KeySession& device)
{
    auto stored = readStored(device);
    if (!stored && stored.error() == ReadFailure::Device)
        return std::unexpected(Err{ErrCode::General, kReadFailed});
    return stored.value_or(PinPolicyRecord{});
}

PinResult<void> write_pin_policy(KeySession& device, const PinPolicyRecord& record)
{
    const auto written = device.write_pin_record(pin_policy_token(record));
    if (written)
        return {};
    // Deliberately not err_from_code(1): this message has no full stop.
    if (written.error().status == VN_ERR_TOUCH_TIMEOUT)
        return std::unexpected(Err{ErrCode::Timeout, "Token timed out"});
    return std::unexpected(Err{ErrCode::General, kWriteFailed});
}
