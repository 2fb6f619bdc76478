#include "cli/TokenTarget.h"

#include "cli/ExitCode.h"
#include "core/Codecs.h"
#include "core/PrintableText.h"
#include "tokens/TokenCommands.h"

using namespace otp::core;
using namespace otp::device;
using namespace otp::tokens;

namespace otp::cli {

std::optional<TokenTarget> find_token_target(CliContext& context, KeySession& key,
                                             const std::string& serial)
{
    // It is compared with the key's serial numbers and named in messages.
    if (!is_valid_utf8(serial)) {
        context.fail(ExitCode::Usage, "the serial number given is not valid UTF-8 text");
        return std::nullopt;
    }
    auto keySerial = key.find_key();
    if (!keySerial) {
        context.fail(keySerial.error());
        return std::nullopt;
    }
    auto access = context.access(key);
    if (!access) {
        context.fail(access.error());
        return std::nullopt;
    }
    auto token = token_with_serial(key, serial);
    if (!token) {
        // The serial given may have been pasted from a listing someone else wrote.
        OpError error = token.error();
        const std::string shown = printable(serial);
        for (auto at = error.detail.find(serial); !serial.empty() && at != std::string::npos;
             at = error.detail.find(serial, at + shown.size()))
            error.detail.replace(at, serial.size(), shown);
        context.fail(error);
        return std::nullopt;
    }
    return TokenTarget{std::move(*keySerial), std::move(*access), std::move(*token)};
}

} // namespace otp::cli
