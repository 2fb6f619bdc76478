#include "cli/PinSetup.h"

#include "cli/SecretInput.h"
#include "cli/Terminal.h"
#include "pin/PinAccess.h"
#include "pin/PinComplexity.h"

#include <fmt/format.h>

#include <unistd.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace otp::cli {

const char* policy_option_name(PolicyField field)
{
    switch (field) {
    case PolicyField::MinLength:
        return "min-length";
    case PolicyField::MinNumeric:
        return "min-numeric";
    case PolicyField::MinLowercase:
        return "min-lowercase";
    case PolicyField::MinUppercase:
        return "min-uppercase";
    case PolicyField::MinSpecial:
        return "min-special";
    case PolicyField::MaxSequential:
        return "max-sequential";
    case PolicyField::MaxRepeating:
        return "max-repeating";
    case PolicyField::ExpiryDays:
        return "expiry-days";
    }
    return "";
}

OpError pin_failure(OpError error, const std::string& doing)
{
    error.detail = doing + error.detail;
    return error;
}

OpResult<Password> read_new_pin(const std::string& file, std::ostream& err)
{
    Password pin;
    if (!file.empty()) {
        auto line = read_secret_first_line(file);
        if (!line)
            return fail(Fault::Refused, "cannot read the new PIN: " + line.error().detail);
        if (file != "-")
            warn_if_others_can_read(file, err);
        pin = std::move(*line);
    } else if (isatty(STDIN_FILENO)) {
        auto typed = read_secret_line("New PIN: ");
        if (!typed)
            return std::unexpected(typed.error());
        auto again = read_secret_line("Confirm the new PIN: ");
        if (!again)
            return std::unexpected(again.error());
        if (typed->text() != again->text())
            return fail(Fault::Refused, "New PIN and confirm PIN do not match.");
        pin = std::move(*typed);
    } else {
        return fail(Fault::Refused,
                    "no terminal to type the new PIN at: give it with --new-pin-file FILE");
    }
    if (pin.empty())
        return fail(Fault::Refused, "PIN is empty.");
    return pin;
}

OpResult<void> apply_policy_list(const std::string& list, PolicyValues& values)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, end - start);
        start = end + 1;
        const auto equals = item.find('=');
        const std::string name = item.substr(0, equals);
        const auto field = std::ranges::find_if(
            kPolicyFields, [&](PolicyField f) { return name == policy_option_name(f); });
        if (field == kPolicyFields.end() || equals == std::string::npos)
            return fail(Fault::Refused,
                        fmt::format("--pin-policy takes NAME=NUMBER items separated by commas, "
                                    "NAME one of min-length, min-numeric, min-lowercase, "
                                    "min-uppercase, min-special, max-sequential, max-repeating, "
                                    "expiry-days; not '{}'",
                                    item));
        const auto value = parse_policy_field(item.substr(equals + 1), *field);
        if (!value)
            return fail(Fault::Refused, "--pin-policy " + name + ": " + policy_field_error(*field));
        values[*field] = *value;
    }
    return {};
}

OpResult<void> write_policy(CliContext& context, KeySession& key, const PolicyValues& values)
{
    // A key that answers the read with an error would lose its PIN state if
    // a zero record stood in.
    const auto stored = read_pin_policy_to_update(key);
    if (!stored)
        return std::unexpected(pin_failure(stored.error()));
    context.touchPrompt();
    if (auto written = write_pin_policy(key, policy_record_with(*stored, values)); !written)
        return std::unexpected(pin_failure(written.error(), "Failed to write PIN policy. Error: "));
    return {};
}

OpResult<void> write_new_pin(CliContext& context, KeySession& key, std::string_view newPin,
                             std::string_view currentPin)
{
    const auto policy = read_pin_policy(key);
    if (!policy)
        return fail(Fault::Refused,
                    "Please enable PIN policy before setting a PIN. (vnotp-cli pin policy "
                    "--enable)");
    if (auto check = check_pin_complexity(newPin, *policy); !check)
        return check;
    context.touchPrompt();
    if (auto changed = change_pin(key, newPin, currentPin); !changed)
        return std::unexpected(pin_failure(changed.error(), "Failed to change PIN. Error: "));
    return {};
}

} // namespace otp::cli
