#include "programming/ProgramToken.h"

#include "device/Discovery.h"
#include "programming/SeedHandling.h"
#include "programming/SerialProposal.h"
#include "tokens/TokenCommands.h"

#include <openssl/evp.h>

#include <array>

OpResult<ProgrammedToken> program_token(DeviceApi& device, std::string_view access,
                                        const NewTokenForm& form,
                                        std::span<TokenRecorder* const> recorders,
                                        const TouchPrompt& touchPrompt)
{
    auto token = check_new_token(form);
    if (!token)
        return std::unexpected(OpError{Fault::Refused, 0, token.error()});

    const OtpTokenRecord record = make_token_record(*token);
    if (touchPrompt)
        touchPrompt();
    const uint32_t status = device.OtpPersonalize(record, access.empty() ? "" : access.data(),
                                                  static_cast<uint32_t>(access.size()), 1);
    if (status != VN_OK)
        return std::unexpected(OpError{Fault::Device, status, save_result_text(status, form)});

    ProgrammedToken programmed{*token, save_result_text(status, form), {}};
    for (TokenRecorder* recorder : recorders) {
        if (auto recorded = recorder->record(*token); !recorded)
            programmed.recordFailures += recorded.error();
    }
    programmed.resultText += programmed.recordFailures;
    return programmed;
}

OpResult<QString> generate_seed_text(OtpHash hash)
{
    const std::size_t length = hash == OtpHash::Sha1 ? kSha1SeedLength : kSha256SeedLength;
    std::array<uint8_t, kSeedBufferSize> seed{};
    if (generate_seed(seed.data(), static_cast<int>(length)) != 0)
        return std::unexpected(
            OpError{Fault::Refused, 0, QStringLiteral("Failed to generate a seed.")});
    return QString::fromLatin1(to_hex_upper({seed.data(), length}));
}

OpResult<std::string> propose_serial(DeviceApi& device)
{
    auto key = find_the_key(device);
    if (!key)
        return std::unexpected(key.error());
    auto tokens = list_tokens(device);
    if (!tokens)
        return std::unexpected(tokens.error());
    std::vector<std::string> serials;
    for (const OtpTokenRecord& record : *tokens)
        serials.push_back(token_serial(record));
    return next_serial_number(serials, *key);
}

std::string expected_totp(const SeedFileToken& token, std::time_t now)
{
    uint64_t step = static_cast<uint64_t>(now) / static_cast<uint64_t>(token.interval);
    std::array<uint8_t, 8> counter{};
    // Big-endian. A plain loop: clang 14, which builds the fuzz targets,
    // cannot compile libstdc++ 12's range adaptors.
    for (auto byte = counter.rbegin(); byte != counter.rend(); ++byte) {
        *byte = static_cast<uint8_t>(step & 0xFF);
        step >>= 8;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    std::size_t macLength = 0;
    const char* digest = token.hash == OtpHash::Sha1 ? "SHA1" : "SHA256";
    if (EVP_Q_mac(nullptr, "HMAC", nullptr, digest, nullptr, token.seed.data(), token.seed.size(),
                  counter.data(), counter.size(), mac.data(), mac.size(), &macLength) == nullptr)
        return {};

    // RFC 4226 dynamic truncation.
    const std::size_t offset = mac[macLength - 1] & 0x0F;
    const uint32_t binary = (uint32_t{mac[offset]} & 0x7F) << 24 | uint32_t{mac[offset + 1]} << 16 |
                            uint32_t{mac[offset + 2]} << 8 | uint32_t{mac[offset + 3]};
    uint32_t modulus = 1;
    for (int i = 0; i < token.digits; ++i)
        modulus *= 10;
    std::string value = std::to_string(binary % modulus);
    value.insert(0, static_cast<std::size_t>(token.digits) - value.size(), '0');
    return value;
}

OpResult<void> verify_token(DeviceApi& device, const SeedFileToken& token, std::string_view access,
                            std::time_t now)
{
    if (token.algorithm != OtpAlgorithm::Totp)
        return std::unexpected(
            OpError{Fault::Refused, 0, QStringLiteral("Only a TOTP token can be verified.")});
    const auto onKey = compute_otp(device, make_token_record(token), access, now);
    if (!onKey)
        return std::unexpected(onKey.error());
    if (*onKey != expected_totp(token, now))
        return std::unexpected(
            OpError{Fault::Mismatch, 0,
                    QStringLiteral("The key's OTP for SN=%1 does not match its seed.")
                        .arg(QString::fromStdString(token.serial))});
    return {};
}
