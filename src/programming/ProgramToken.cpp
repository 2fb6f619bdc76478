#include "programming/ProgramToken.h"

#include "core/Codecs.h"
#include "programming/NewToken.h"
#include "programming/SeedHandling.h"
#include "programming/SerialProposal.h"
#include "records/FolderLock.h"

#include <fmt/chrono.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;

namespace otp::programming {

namespace {

// The key's OTP for the token it just took, against the one its seed gives.
OpResult<Verification> verify(KeySession& key, const TokenDescription& token,
                              std::string_view access, const ProgramEvents& events)
{
    if (token.algorithm != OtpAlgorithm::Totp)
        return fail(Fault::Refused, "Only a TOTP token can be verified.");
    Verification verification;
    verification.at = std::time(nullptr);
    if (events.touch)
        events.touch();
    auto onKey = key.calculate(token, verification.at, access);
    if (!onKey)
        return std::unexpected(onKey.error());
    verification.keyOtp = *onKey;
    verification.seedOtp = expected_totp(token, verification.at);
    if (verification.keyOtp != verification.seedOtp)
        return fail(Fault::Mismatch,
                    fmt::format("The key's OTP for SN={} ({}) does not match its seed's ({}) at "
                                "{:%Y-%m-%d %H:%M:%S} UTC.",
                                token.serial, verification.keyOtp, verification.seedOtp,
                                fmt::gmtime(verification.at)));
    return verification;
}

} // namespace

bool ProgrammedToken::recorded() const
{
    return std::ranges::all_of(records, &RecordOutcome::recorded);
}

OpResult<ProgrammedToken> program_token(KeySession& key, const ProgramRequest& request,
                                        std::span<Recorder* const> recorders,
                                        const ProgramEvents& events)
{
    const TokenDescription& token = request.token;
    std::vector<const OpenFolder*> folders;
    for (Recorder* recorder : recorders) {
        const auto more = recorder->open_folders();
        if (!more)
            return std::unexpected(more.error());
        folders.insert(folders.end(), more->begin(), more->end());
    }
    // Held until the token is recorded: another writer of these files must
    // neither change what the checks found nor lose its tokens to ours.
    const auto locks = acquire_folder_locks(folders, request.lockPatience);
    if (!locks)
        return std::unexpected(locks.error());
    for (Recorder* recorder : recorders)
        if (auto checked = recorder->check(token); !checked)
            return std::unexpected(checked.error());

    if (events.touch)
        events.touch();
    const auto taken = key.personalize(token, request.access.text());
    if (!taken)
        return std::unexpected(taken.error());
    if (events.keyTookToken)
        events.keyTookToken();

    ProgrammedToken programmed{token, request.keySerial, {}, {}, std::nullopt};
    for (Recorder* recorder : recorders) {
        auto outcomes = recorder->record(token, request.keySerial);
        std::ranges::move(outcomes, std::back_inserter(programmed.records));
    }
    if (events.recorded)
        events.recorded(token, programmed.records);

    programmed.enter = key.set_enter(request.appendEnter);
    if (request.verify)
        programmed.verification = verify(key, token, request.access.text(), events);
    return programmed;
}

OpResult<SecretBytes> generate_seed_bytes(OtpHash hash)
{
    SecretBytes seed(seed_length(hash));
    if (generate_seed(seed.data(), static_cast<int>(seed.size())) != 0)
        return fail(Fault::Crypto, "Failed to generate a seed.");
    return seed;
}

OpResult<std::string> generate_seed_text(OtpHash hash)
{
    auto seed = generate_seed_bytes(hash);
    if (!seed)
        return std::unexpected(seed.error());
    return to_hex_upper(seed->view());
}

OpResult<std::string> propose_serial(KeySession& key, const std::string& keySerial,
                                     std::span<const std::string> held)
{
    auto tokens = key.tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    std::vector<std::string> serials(held.begin(), held.end());
    for (const ListedToken& token : *tokens)
        serials.push_back(token.serial);
    // A random proposal (no key serial, or the count at its top) may still
    // meet a held serial, however unlikely.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string proposal = next_serial_number(serials, keySerial);
        if (std::ranges::find(serials, proposal) == serials.end())
            return proposal;
    }
    return fail(Fault::Refused, "no free serial number could be proposed; give one");
}

std::string expected_totp(const TokenDescription& token, std::time_t now)
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

} // namespace otp::programming
