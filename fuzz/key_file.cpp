// A virtual key's file: anyone with access to the key directory can edit or
// damage it. Loading one either gives the key or a status, and a key that
// loads is written back to a file that loads as the same key.

#include "FuzzCheck.h"
#include "KeyState.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace {

// Every number and flag of the key as loaded stands in the file as written:
// loading never rounds, wraps or truncates one.
void checkSameNumbers(const nlohmann::json& loaded, const nlohmann::json& file)
{
    // A file may hold fields the key does not know; they are ignored.
    if (loaded.is_object()) {
        FUZZ_CHECK(file.is_object());
        for (auto it = loaded.begin(); it != loaded.end(); ++it)
            checkSameNumbers(*it, file.at(it.key()));
    } else if (loaded.is_array()) {
        FUZZ_CHECK(file.is_array() && file.size() == loaded.size());
        for (std::size_t i = 0; i < loaded.size(); ++i)
            checkSameNumbers(loaded[i], file[i]);
    } else if (loaded.is_number() || loaded.is_boolean()) {
        FUZZ_CHECK(file == loaded);
    }
}

} // namespace

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
    const std::string written = vkey::toJson(*key);
    const auto again = vkey::fromJson(written);
    FUZZ_CHECK(again && *again == *key);
    checkSameNumbers(nlohmann::json::parse(written), nlohmann::json::parse(text));
    return 0;
}
