#include "core/PrintableText.h"

#include <fmt/format.h>

namespace otp::core {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, 0 when
// there is none (overlong forms, surrogates and values past U+10FFFF too).
std::size_t utf8_sequence(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    // C1 controls (U+0080 to U+009F) act on a terminal as their 8-bit forms do.
    if (value >= 0x80 && value <= 0x9F)
        return 0;
    return length;
}

} // namespace

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.front());
        std::size_t taken = 1;
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else if (c >= 0x80 && (taken = utf8_sequence(text)) > 0)
            out += text.substr(0, taken);
        else {
            taken = 1;
            out += fmt::format("\\x{:02X}", c);
        }
        text.remove_prefix(taken);
    }
    return out;
}

} // namespace otp::core
