// A virtual key's file: anyone with access to the key directory can edit or
// damage it. Loading one either gives the key or a status, and a key that
// loads is written back to a file that loads as the same key.

#include "FuzzCheck.h"
#include "KeyState.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto key = vkey::fromJson(text);
    if (!key) {
        FUZZ_CHECK(key.error().status == VN_ERR_CORRUPT_KEY);
        return 0;
    }
    FUZZ_CHECK(vkey::isValidKeySerial(key->serial));
    FUZZ_CHECK(key->tokens.size() <= VN_MAX_TOKENS);
    for (const vkey::Token& token : key->tokens)
        FUZZ_CHECK(vkey::isValidOtpToken(token));
    const auto again = vkey::fromJson(vkey::toJson(*key));
    FUZZ_CHECK(again && *again == *key);
    return 0;
}
