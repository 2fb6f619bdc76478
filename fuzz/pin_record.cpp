// The PIN record as read from slot 1: any program can write that serial
// text, so its base64 and its 34-byte layout must take anything.

#include "FuzzCheck.h"
#include "pin/PinPolicyRecord.h"

#include <algorithm>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = base64_decode(text);
    if (!decoded)
        return 0;

    // Whatever decodes encodes back to text that decodes to the same bytes.
    const auto again = base64_decode(base64_encode(*decoded));
    FUZZ_CHECK(again && *again == *decoded);
    // Three bytes per four characters up to the first '='.
    FUZZ_CHECK(decoded->size() <= text.size() / 4 * 3);

    if (decoded->size() == kPinPolicyRecordSize) {
        const auto record = pin_policy_from_bytes(
            std::span<const uint8_t, kPinPolicyRecordSize>(decoded->data(), kPinPolicyRecordSize));
        const PinPolicyBytes bytes = to_bytes(record);
        FUZZ_CHECK(std::ranges::equal(bytes, *decoded));
        // The pseudo-token carries the record whole in its serial field.
        const OtpTokenRecord token = pin_policy_token(record);
        const std::string_view serial(token.serial, strnlen(token.serial, sizeof token.serial));
        const auto stored = base64_decode(serial);
        FUZZ_CHECK(stored && std::ranges::equal(*stored, bytes));
    }
    return 0;
}
