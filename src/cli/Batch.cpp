#include "cli/Batch.h"

#include "cli/CliJson.h"

#include "cli/ExitCode.h"
#include "cli/PinSetup.h"
#include "core/PrintableText.h"

#include <ostream>
#include <set>
#include <thread>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::pin;
using namespace otp::tokens;
using namespace otp::programming;

namespace otp::cli {

namespace {

// The user of key `number` (from 1), as the progress lines name it.
std::string user_of(const BatchSettings& settings, int number)
{
    return settings.users.empty() ? settings.token.user : settings.users.at(number - 1).name;
}

std::string for_user(const BatchSettings& settings, int number)
{
    const std::string user = user_of(settings, number);
    return user.empty() ? std::string() : " for \"" + printable(user) + "\"";
}

// The serial number of the one key plugged in that this run has not seen yet,
// or nothing when the user pressed Ctrl-C first. Says once per situation what
// it is waiting for.
std::optional<std::string> wait_for_new_key(CliContext& context, const BatchSettings& settings,
                                            const std::set<std::string>& done, int number)
{
    std::string said;
    auto say = [&](const std::string& text) {
        if (text != said)
            context.err << text << std::endl;
        said = text;
    };
    while (!context.interrupted()) {
        const auto key = KeySession(context.device).find_key();
        if (key && !done.contains(*key))
            return *key;
        if (key)
            say("key " + *key + " was already programmed in this run; remove it");
        else if (key.error().fault == Fault::MultipleKeys)
            say("more than one key is plugged in; leave only the next one");
        else if (key.error().fault == Fault::NoKey)
            say("waiting for key " + std::to_string(number) + " of " +
                std::to_string(settings.keys) + for_user(settings, number) + ": plug it in");
        else
            // "Plug it in" would be wrong: a key is there, and it does not answer.
            say("the key plugged in cannot be read (" + key.error().detail +
                "); remove it and plug in key " + std::to_string(number) + " of " +
                std::to_string(settings.keys) + for_user(settings, number));
        std::this_thread::sleep_for(settings.poll);
    }
    return std::nullopt;
}

void wait_for_removal(CliContext& context, const BatchSettings& settings, const std::string& serial)
{
    while (!context.interrupted()) {
        const auto key = KeySession(context.device).find_key();
        // With several keys plugged in the one just programmed may still be among them.
        const bool stillIn = key ? *key == serial : key.error().fault == Fault::MultipleKeys;
        if (!stillIn)
            return;
        std::this_thread::sleep_for(settings.poll);
    }
}

} // namespace

namespace {

std::string without_line_end(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Why a token failed, in words a summary line can stand on: the key's
// failure alone is only its status.
std::string reason_for(const OpError& error, const std::string& tokenSerial)
{
    if (error.fault != Fault::Device && error.fault != Fault::TimedOut)
        return without_line_end(error.detail);
    return "the key failed to take the token SN=" + tokenSerial + " (" +
           without_line_end(error.detail) +
           (error.fault == Fault::TimedOut ? ": nobody touched the key in time)" : ")");
}

// Why a token was not recorded: each file that failed, with its reason.
std::string unrecorded_reason(const ProgrammedToken& programmed)
{
    std::string reason = "programmed, but not recorded in";
    for (const RecordOutcome& outcome : programmed.records)
        if (outcome.failure)
            reason += " " + outcome.destination.string() + " (" +
                      without_line_end(outcome.failure->detail) + ")";
    return reason;
}

// The policy and the PIN a batch gives each key, before its tokens; the PIN
// then protects them. A key with a PIN already has it changed from the one
// given for the run.
OpResult<void> set_up_pin(CliContext& context, const BatchSettings& settings, KeySession& key,
                          Password& access)
{
    if (settings.pinPolicy)
        if (auto written = write_policy(context, key, *settings.pinPolicy); !written)
            return written;
    if (settings.newPin) {
        if (auto written = write_new_pin(context, key, settings.newPin->text(), access.text());
            !written)
            return written;
        access = *settings.newPin;
    }
    return {};
}

} // namespace

BatchSummary run_batch(CliContext& context, const BatchSettings& settings,
                       std::span<Recorder* const> recorders, HeldSerials& held)
{
    BatchSummary summary;
    auto failed = [&](int code) {
        if (summary.exitCode == 0)
            summary.exitCode = code;
    };
    std::set<std::string> done;
    const OtpHash hash = hash_of(settings.token);

    for (int number = 1; number <= settings.keys; ++number) {
        const auto serial = wait_for_new_key(context, settings, done, number);
        if (!serial) {
            summary.interrupted = true;
            break;
        }
        done.insert(*serial);
        summary.keysOffered = number;

        TokenOptions options = settings.token;
        options.user = user_of(settings, number);
        nlohmann::json keyJson = {
            {"serial", *serial},
            {"user", options.user.empty() ? nlohmann::json(nullptr) : nlohmann::json(options.user)},
            {"tokens", nlohmann::json::array()}};
        int programmedHere = 0;
        int failedHere = 0;
        std::string reason;
        auto tokenFailed = [&](const std::optional<std::string>& tokenSerial,
                               const std::string& why) {
            keyJson["tokens"].push_back(failed_token_json(options, tokenSerial, *serial, why));
            if (reason.empty())
                reason = why;
            ++failedHere;
        };
        KeySession key(context.device);
        auto access = context.access(key);
        OpResult<void> ready =
            access ? set_up_pin(context, settings, key, *access) : std::unexpected(access.error());
        if (!ready) {
            context.fail(ready.error());
            failed(exit_code_for(ready.error().fault));
            reason = without_line_end(ready.error().detail);
        }
        for (int i = 0; i < settings.tokensPerKey; ++i) {
            if (!ready) {
                tokenFailed(std::nullopt, "not programmed: " + reason);
                continue;
            }
            const auto tokenSerial = propose_serial(key, *serial, held.serials());
            const auto seed = generate_seed_bytes(hash);
            OpResult<ProgrammedToken> programmed =
                !tokenSerial ? std::unexpected(tokenSerial.error())
                : !seed      ? std::unexpected(seed.error())
                        : program_one(context, key, options, *serial, *access, *tokenSerial, *seed,
                                      recorders);
            if (!programmed) {
                context.fail(programmed.error());
                failed(exit_code_for(programmed.error().fault));
                tokenFailed(tokenSerial ? std::optional(*tokenSerial) : std::nullopt,
                            reason_for(programmed.error(), tokenSerial.value_or("")));
                // The key that failed one token is likely to fail the rest.
                ready = std::unexpected(programmed.error());
                continue;
            }
            for (const RecordOutcome& outcome : programmed->records)
                if (outcome.recorded())
                    held.add(programmed->token.serial, outcome.destination.string());
            if (programmed->verification)
                context.err << verification_line(*programmed) << std::endl;
            auto token = token_json(*programmed, settings.token.showSeed);
            if (!programmed->recorded()) {
                failed(ExitCode::SeedFile);
                token["reason"] = unrecorded_reason(*programmed);
                if (reason.empty())
                    reason = token["reason"];
                ++failedHere;
            } else {
                ++programmedHere;
            }
            keyJson["tokens"].push_back(token);
        }

        summary.tokensProgrammed += programmedHere;
        summary.tokensFailed += failedHere;
        (failedHere == 0 ? summary.keysProgrammed : summary.keysFailed) += 1;
        if (failedHere != 0)
            summary.failures.push_back({number, *serial, options.user, reason});
        keyJson["tokensFailed"] = failedHere;
        summary.keys.push_back(keyJson);
        context.err << "key " << number << " of " << settings.keys << ": " << *serial
                    << for_user(settings, number) << ", " << programmedHere
                    << (programmedHere == 1 ? " token" : " tokens") << " programmed"
                    << (failedHere ? ", " + std::to_string(failedHere) + " failed" : "")
                    << "; remove the key" << std::endl;
        // After the last key there is nothing to keep apart from it.
        if (number < settings.keys)
            wait_for_removal(context, settings, *serial);
    }
    if (!settings.users.empty())
        summary.usersLeft = static_cast<int>(settings.users.size()) - summary.keysOffered;
    if (summary.interrupted && summary.exitCode == 0)
        summary.exitCode = ExitCode::Interrupted;
    return summary;
}

} // namespace otp::cli
