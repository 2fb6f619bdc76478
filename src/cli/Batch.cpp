#include "cli/Batch.h"

#include "cli/CliJson.h"

#include "cli/ExitCode.h"
#include "core/PrintableText.h"

#include <ostream>
#include <set>
#include <thread>

namespace {

// The user of key `number` (from 1), as the progress lines name it.
std::string user_of(const BatchSettings& settings, int number)
{
    return settings.users.empty() ? settings.token.user : settings.users.at(number - 1);
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
        else
            say("waiting for key " + std::to_string(number) + " of " +
                std::to_string(settings.keys) + for_user(settings, number) + ": plug it in");
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

BatchSummary run_batch(CliContext& context, const BatchSettings& settings,
                       std::span<Recorder* const> recorders)
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

        TokenOptions options = settings.token;
        options.user = user_of(settings, number);
        nlohmann::json keyJson = {
            {"serial", *serial},
            {"user", options.user.empty() ? nlohmann::json(nullptr) : nlohmann::json(options.user)},
            {"tokens", nlohmann::json::array()}};
        int programmedHere = 0;
        int failedHere = 0;
        KeySession key(context.device);
        const auto access = context.access(key);
        if (!access) {
            context.fail(access.error());
            failed(exit_code_for(access.error().fault));
            failedHere = settings.tokensPerKey;
        }
        for (int i = 0; access && i < settings.tokensPerKey; ++i) {
            const auto tokenSerial = propose_serial(key, *serial);
            auto seed = generate_seed_text(hash);
            OpResult<ProgrammedToken> programmed =
                !tokenSerial ? std::unexpected(tokenSerial.error())
                : !seed      ? std::unexpected(seed.error())
                        : program_one(context, key, options, *serial, *access, *tokenSerial, *seed,
                                      recorders);
            if (seed)
                wipe(seed->data(), seed->capacity());
            if (!programmed) {
                context.fail(programmed.error());
                failed(exit_code_for(programmed.error().fault));
                ++failedHere;
                // The key that failed one token is likely to fail the rest.
                failedHere += settings.tokensPerKey - i - 1;
                break;
            }
            if (!programmed->recorded()) {
                failed(ExitCode::SeedFile);
                ++failedHere;
            } else {
                ++programmedHere;
            }
            if (programmed->verification)
                context.err << verification_line(*programmed) << std::endl;
            keyJson["tokens"].push_back(token_json(*programmed, settings.token.showSeed));
        }

        summary.tokensProgrammed += programmedHere;
        summary.tokensFailed += failedHere;
        (failedHere == 0 ? summary.keysProgrammed : summary.keysFailed) += 1;
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
        summary.usersLeft = static_cast<int>(settings.users.size() - summary.keys.size());
    if (summary.interrupted && summary.exitCode == 0)
        summary.exitCode = ExitCode::Interrupted;
    return summary;
}
