#include "cli/TokenTarget.h"

#include "device/Discovery.h"
#include "tokens/TokenCommands.h"

std::optional<TokenTarget> find_token_target(CliContext& context, const std::string& serial)
{
    if (auto key = find_the_key(context.device); !key) {
        context.fail(key.error());
        return std::nullopt;
    }
    auto access = context.access();
    if (!access) {
        context.fail(access.error());
        return std::nullopt;
    }
    const auto record = token_with_serial(context.device, serial);
    if (!record) {
        context.fail(record.error());
        return std::nullopt;
    }
    return TokenTarget{std::move(*access), *record};
}
