#include "programming/NewToken.h"

#include "core/Codecs.h"
#include "core/TokenText.h"
#include "programming/SeedHandling.h"

#include <algorithm>

using namespace otp::core;

namespace otp::programming {

OpResult<TokenDescription> check_new_token(const NewTokenInput& input)
{
    TokenDescription token;
    token.algorithm = input.algorithm;
    token.hash = input.hash;
    token.digits = input.digits;
    token.interval = input.interval;

    // The key lists its tokens up to the first empty serial number, so a
    // token without one could never be seen or removed again.
    token.serial = input.serial;
    if (token.serial.empty())
        return fail(Fault::Refused, "Please enter a serial number.");
    if (token.serial.size() > kSerialNumberLength)
        return fail(Fault::Refused, "The serial number is too long (at most 13 characters).");
    if (!is_valid_utf8(token.serial))
        return fail(Fault::Refused, "The serial number holds characters the key cannot store.");
    if (has_unstorable(token.serial))
        return fail(Fault::Refused,
                    "The serial number holds characters the seed files cannot store.");
    if (has_control(token.serial))
        return fail(Fault::Refused,
                    "The serial number must not contain a control character such as a line "
                    "break, nor an invisible or direction-changing one.");

    auto seed = input.seed.empty() ? hex_decode(input.seedHex) : input.seed;
    if (!seed)
        return fail(Fault::Refused, kInvalidSeedFormat);
    // The key takes exactly 20 or 32 bytes; a shorter text would be padded
    // with zeros and program a seed different from the one exported.
    if (seed->size() != seed_length(token.hash))
        return fail(Fault::Refused, token.hash == OtpHash::Sha1
                                        ? "SHA-1 needs a seed of 40 hexadecimal digits."
                                        : "SHA-256 needs a seed of 64 hexadecimal digits.");
    if (std::ranges::all_of(seed->view(), [](uint8_t b) { return b == 0; }))
        return fail(Fault::Refused,
                    "A seed of zeros only is refused: no generator gives one. Generate a seed "
                    "or enter another.");
    token.seed = std::move(*seed);

    if (auto user = check_user_name(input.user); !user)
        return std::unexpected(user.error());
    token.user = input.user;
    return token;
}

} // namespace otp::programming
