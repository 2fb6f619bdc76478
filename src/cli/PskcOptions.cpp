#include "cli/PskcOptions.h"

#include "cli/SecretInput.h"
#include "cli/Terminal.h"
#include "pskc/Credentials.h"

#include <fmt/format.h>

using namespace otp::core;
using namespace otp::pskc;

namespace otp::cli {

void add_pskc_credential_options(CLI::App& command, PskcCredentialOptions& options,
                                 CLI::Option* needs)
{
    auto* password = command.add_option(
        "--pskc-password-file", options.passwordFile,
        "PSKC password: the first line of this file (default: asked on the terminal)");
    auto* key = command.add_option("--pskc-key-file", options.keyFile,
                                   "PSKC pre-shared AES key instead of a password: 32, 48 or 64 "
                                   "hexadecimal digits in this file");
    password->excludes(key);
    if (needs) {
        password->needs(needs);
        key->needs(needs);
    }
}

void add_pskc_profile_option(CLI::App& command, PskcCredentialOptions& options, CLI::Option* needs)
{
    auto* profile =
        command
            .add_option("--pskc-profile", options.profile,
                        "Algorithms of a new PSKC file: interop (default; AES-128-CBC, "
                        "HMAC-SHA1, PBKDF2 with HMAC-SHA1, what every server importer reads) "
                        "or strong (AES-256-CBC, HMAC-SHA256, PBKDF2 with HMAC-SHA256). An "
                        "existing file keeps its own")
            ->check(CLI::IsMember({"interop", "strong"}));
    if (needs)
        profile->needs(needs);
}

pskc::ContainerSettings pskc_settings(const PskcCredentialOptions& options)
{
    pskc::ContainerSettings settings;
    if (const auto profile = pskc::parse_profile(options.profile)) {
        settings.profile = *profile;
        settings.requireProfile = true;
    }
    return settings;
}

OpResult<pskc::Credential> read_pskc_credential(const PskcCredentialOptions& options,
                                                const std::filesystem::path& file,
                                                std::ostream& err)
{
    for (const std::string& given : {options.keyFile, options.passwordFile})
        if (!given.empty())
            warn_if_others_can_read(given, err);
    if (!options.keyFile.empty())
        return pskc::read_key_file(options.keyFile);
    if (!options.passwordFile.empty())
        return pskc::read_password_file(options.passwordFile);
    auto password = read_secret_line(fmt::format("Password of {}: ", file.string()));
    if (!password && password.error().fault == Fault::Cancelled)
        return fail(Fault::Cancelled, "no password was entered");
    if (!password)
        return fail(Fault::Refused, "there is no terminal to ask for the password on; give a "
                                    "password file instead");
    if (password->empty())
        return fail(Fault::Refused, "the password is empty");
    std::error_code error;
    if (std::filesystem::exists(file, error))
        return *password;
    auto again = read_secret_line("Repeat the password: ");
    if (!again)
        return std::unexpected(again.error());
    if (again->text() != password->text())
        return fail(Fault::Refused, "the two passwords differ");
    return *password;
}

} // namespace otp::cli
