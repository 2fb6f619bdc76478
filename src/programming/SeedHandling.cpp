#include "programming/SeedHandling.h"

#include <openssl/rand.h>

#include <random>

namespace otp::programming {

int generate_serial_number(char* buffer)
{
    // Serial numbers are public labels, not secrets, so the plain Mersenne
    // Twister is good enough here; seeds never come from it.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    std::mt19937 generator(1);
#else
    std::mt19937 generator(std::random_device{}());
#endif

    buffer[0] = buffer[1] = buffer[2] = buffer[3] = '0';
    for (std::size_t i = 4; i < kSerialNumberLength; ++i) {
        // Multiply-and-take-the-high-word maps a 32-bit draw to 0..8; draws
        // whose low word falls below 2^32 mod 9 (= 4) are thrown away so that
        // every digit is equally likely.
        uint64_t product = 0;
        do {
            product = static_cast<uint64_t>(generator()) * 9u;
        } while (static_cast<uint32_t>(product) < 4u);
        buffer[i] = static_cast<char>('1' + static_cast<int>(product >> 32));
    }
    return 0;
}

int generate_seed(uint8_t* out, int length)
{
    if (length <= 0)
        return 0;
    // The seed is the token's whole secret: it must come from the system's
    // cryptographic source. A generator seeded from one 32-bit value would
    // allow only 2^32 different seeds, few enough to try them all against one
    // observed OTP.
    return RAND_bytes(out, length) == 1 ? 0 : -1;
}

} // namespace otp::programming
