#include "cli/CliJson.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PinSetup.h"
#include "pin/PinAccess.h"
#include "tokens/TokenCommands.h"

#include <fmt/format.h>

#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;
using namespace otp::pin;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

namespace {

struct PolicyOptions
{
    std::optional<bool> enabled;
    std::array<std::string, kPolicyFieldCount> fields; // empty: as on the key
    bool json = false;
};

struct NewPinOptions
{
    std::string newPinFile;
    bool json = false;
};

std::string camel_case(std::string_view name)
{
    std::string text;
    for (std::size_t i = 0; i < name.size(); ++i)
        text += name[i] == '-' ? static_cast<char>(std::toupper(name[++i])) : name[i];
    return text;
}

// The key and its policy as `info` and `pin policy` show them.
void print_key(CliContext& context, KeySession& key, const std::string& command, bool json,
               const std::string& done)
{
    const auto info = describe_key(key);
    if (!info) {
        context.fail(info.error());
        return;
    }
    const PolicyValues values = policy_values_of(read_pin_policy_or_zero(key));
    if (json) {
        auto document = json_document(command);
        document["key"] = key_json(*info);
        if (command == "pin policy") {
            nlohmann::json policy = {{"enabled", values.enabled}};
            for (const PolicyField field : kPolicyFields)
                policy[camel_case(policy_option_name(field))] = values[field];
            document["policy"] = policy;
        }
        print_json(context.out, document);
        return;
    }
    if (!done.empty())
        context.out << done << '\n';
    context.out << fmt::format("Key {}: PIN policy {}, PIN {}set, PIN protection mode {}\n",
                               info->serial, values.enabled ? "on" : "off",
                               info->pinSet ? "" : "not ", info->pinMode);
    if (command == "pin policy")
        for (const PolicyField field : kPolicyFields)
            context.out << fmt::format("{:<16}{}\n", policy_option_name(field), values[field]);
}

void run_policy(CliContext& context, const PolicyOptions& options)
{
    KeySession key(context.device);
    const auto serial = key.find_key();
    if (!serial) {
        context.fail(serial.error());
        return;
    }
    const bool change = options.enabled || std::ranges::any_of(options.fields, [](const auto& f) {
                            return !f.empty();
                        });
    if (change) {
        // Every field is checked before the key is touched, as the dialog does.
        PolicyValues values = policy_values_of(read_pin_policy_or_zero(key));
        if (options.enabled)
            values.enabled = *options.enabled;
        for (const PolicyField field : kPolicyFields) {
            const std::string& text = options.fields[static_cast<std::size_t>(field)];
            if (text.empty())
                continue;
            const auto value = parse_policy_field(text, field);
            if (!value) {
                context.fail(ExitCode::Usage, "--" + std::string(policy_option_name(field)) + ": " +
                                                  policy_field_error(field));
                return;
            }
            values[field] = *value;
        }
        if (auto written = write_policy(context, key, values); !written) {
            context.fail(written.error());
            return;
        }
    }
    print_key(context, key, "pin policy", options.json,
              change ? "PIN policy saved on key " + *serial : std::string());
}

// `pin set` (no PIN yet) and `pin change` (the current PIN as every command
// takes it: --pin-file, --pin-stdin or the terminal).
void run_new_pin(CliContext& context, const NewPinOptions& options, bool change)
{
    const std::string command = change ? "pin change" : "pin set";
    if (options.newPinFile == "-" && context.pinStdin) {
        context.fail(ExitCode::Usage,
                     "--new-pin-file - and --pin-stdin cannot both read standard input");
        return;
    }
    KeySession key(context.device);
    const auto serial = key.find_key();
    if (!serial) {
        context.fail(serial.error());
        return;
    }
    const auto empty = is_access_empty(key);
    if (!empty) {
        context.fail(pin_failure(empty.error()));
        return;
    }
    if (*empty && change) {
        context.fail(ExitCode::Usage,
                     "key " + *serial +
                         " has no PIN yet; set the first one with vnotp-cli pin set");
        return;
    }
    if (!*empty && !change) {
        context.fail(ExitCode::Usage, "The device has a PIN already. Change it with vnotp-cli "
                                      "pin change");
        return;
    }
    // The current PIN is checked by the key before the new one is asked for.
    Password current;
    if (change) {
        auto access = context.access(key);
        if (!access) {
            context.fail(access.error());
            return;
        }
        current = std::move(*access);
    }
    const auto newPin = read_new_pin(options.newPinFile, context.err);
    if (!newPin) {
        context.fail(newPin.error());
        return;
    }
    if (auto written = write_new_pin(context, key, newPin->text(), current.text()); !written) {
        context.fail(written.error());
        return;
    }
    print_key(context, key, command, options.json,
              std::string(change ? "PIN changed" : "PIN set") + " on key " + *serial);
}

void add_new_pin_options(CLI::App& command, NewPinOptions& options)
{
    command.add_option("--new-pin-file", options.newPinFile,
                       "The new PIN: the first line of this file, - for standard input "
                       "(default: typed twice at the terminal)");
    command.add_flag("-j,--json", options.json, "One JSON document on standard output");
}

} // namespace

void add_pin_command(CLI::App& app, CliContext& context)
{
    auto* pin = app.add_subcommand(
        "pin", "The key's PIN policy and PIN, as the PIN Policy and Update PIN dialogs set them");
    pin->require_subcommand(1);

    auto* policy = pin->add_subcommand(
        "policy", "Shows the PIN policy; with options, saves it (the key waits for a touch)");
    auto policyOptions = std::make_shared<PolicyOptions>();
    policy->add_flag_callback(
        "--enable", [policyOptions] { policyOptions->enabled = true; }, "Switch the PIN policy on");
    policy->add_flag_callback(
        "--disable", [policyOptions] { policyOptions->enabled = false; },
        "Switch it off (its values and the PIN state stay on the key)");
    for (const PolicyField field : kPolicyFields) {
        const std::string name = policy_option_name(field);
        policy->add_option("--" + name, policyOptions->fields[static_cast<std::size_t>(field)],
                           fmt::format("0 to {}", policy_field_max(field)));
    }
    policy->add_flag("-j,--json", policyOptions->json, "One JSON document on standard output");
    policy->callback([&context, policyOptions] { run_policy(context, *policyOptions); });

    auto* set = pin->add_subcommand("set", "Sets the key's first PIN");
    auto setOptions = std::make_shared<NewPinOptions>();
    add_new_pin_options(*set, *setOptions);
    set->callback([&context, setOptions] { run_new_pin(context, *setOptions, false); });

    auto* change = pin->add_subcommand(
        "change", "Changes the key's PIN; the current one comes as for every command");
    auto changeOptions = std::make_shared<NewPinOptions>();
    add_new_pin_options(*change, *changeOptions);
    change->callback([&context, changeOptions] { run_new_pin(context, *changeOptions, true); });
}

} // namespace otp::cli
