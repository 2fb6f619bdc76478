// Seed text as typed into the New Token dialog or given to vnotp-cli: any
// bytes, decoded by the one hexadecimal decoder the program uses.

#include "FuzzCheck.h"
#include "core/Codecs.h"

#include <algorithm>
#include <string>
#include <string_view>

using namespace otp;
using namespace otp::core;

namespace {

// The digits as the program's documentation names them, apart from its code.
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto bytes = hex_decode(text);

    const bool wellFormed =
        text.size() % 2 == 0 && std::ranges::all_of(text, [](char c) { return hexDigit(c) >= 0; });
    FUZZ_CHECK(bytes.has_value() == wellFormed);
    if (!bytes)
        return 0;
    FUZZ_CHECK(bytes->size() == text.size() / 2);
    for (std::size_t i = 0; i < bytes->size(); ++i)
        FUZZ_CHECK(bytes->data()[i] == hexDigit(text[2 * i]) * 16 + hexDigit(text[2 * i + 1]));
    std::string upper(text);
    std::ranges::transform(upper, upper.begin(),
                           [](char c) { return c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c; });
    FUZZ_CHECK(to_hex_upper(bytes->view()) == upper);
    return 0;
}
