#include "core/TokenText.h"

#include "core/Codecs.h"

namespace otp::core {

namespace {

// The code point of the three-byte UTF-8 sequence at `at`, or 0.
char32_t three_byte_point(std::string_view text, std::size_t at)
{
    if (at + 2 >= text.size())
        return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if ((byte(0) & 0xF0) != 0xE0 || (byte(1) & 0xC0) != 0x80 || (byte(2) & 0xC0) != 0x80)
        return 0;
    return static_cast<char32_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                 (byte(2) & 0x3F));
}

} // namespace

// Besides what a terminal takes as a control: "admin\u202Egpj.exe" shows as
// "adminexe.jpg", and a zero-width space makes a second user name that looks
// like an existing one.
bool has_control(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return true; // C1 controls, U+0080 to U+009F
        const char32_t point = three_byte_point(text, i);
        if ((point >= 0x200B && point <= 0x200D) || point == 0x2028 || point == 0x2029 ||
            (point >= 0x202A && point <= 0x202E) || point == 0x2060 ||
            (point >= 0x2066 && point <= 0x2069))
            return true;
    }
    return false;
}

bool has_unstorable(std::string_view text)
{
    for (const std::string_view mark : {"\xEF\xBB\xBF", "\xEF\xBF\xBE", "\xEF\xBF\xBF"})
        if (text.find(mark) != std::string_view::npos)
            return true;
    return false;
}

OpResult<void> check_user_name(std::string_view user)
{
    if (!is_valid_utf8(user) || has_unstorable(user))
        return fail(Fault::Refused, "The user name holds characters the seed files cannot store.");
    if (has_control(user))
        return fail(Fault::Refused,
                    "The user name must not contain a control character such as a line break, "
                    "nor an invisible or direction-changing one.");
    return {};
}

} // namespace otp::core
