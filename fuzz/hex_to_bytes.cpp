// Seed text as typed into the New Token dialog: any UTF-16 text, decoded
// into a buffer of a given capacity.

#include "FuzzCheck.h"
#include "core/Codecs.h"
#include "programming/SeedHandling.h"

#include <algorithm>
#include <memory>
#include <string>

namespace {

// The digits as the program's documentation names them, apart from its code.
int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

// First byte: the capacity (0..63); the rest: the text as UTF-16 code units.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t capacity = data[0] % 64;
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    // Exactly `capacity` bytes on the heap, so that AddressSanitizer sees any
    // write past them.
    auto out = std::make_unique<uint8_t[]>(capacity);
    std::size_t count = 12345;
    const bool ok = hex_to_bytes(text, out.get(), capacity, &count);

    const bool wellFormed = text.size() % 2 == 0 && text.size() / 2 <= capacity &&
                            std::ranges::all_of(text, [](char16_t c) { return hexDigit(c) >= 0; });
    FUZZ_CHECK(ok == wellFormed);
    if (!ok) {
        FUZZ_CHECK(count == 12345);
        return 0;
    }
    FUZZ_CHECK(count == text.size() / 2);
    for (std::size_t i = 0; i < count; ++i)
        FUZZ_CHECK(out[i] == hexDigit(text[2 * i]) * 16 + hexDigit(text[2 * i + 1]));
    std::string upper;
    for (const char16_t c : text)
        upper.push_back(static_cast<char>(c >= u'a' ? c - u'a' + u'A' : c));
    FUZZ_CHECK(to_hex_upper({out.get(), count}) == upper);
    return 0;
}
