#include "cli/PskcOptions.h"

#include "export/Credentials.h"

#include <fmt/format.h>

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

std::expected<pskc::Credential, pskc::Error>
read_pskc_credential(const PskcCredentialOptions& options, const std::filesystem::path& file)
{
    if (!options.keyFile.empty())
        return pskc::read_key_file(options.keyFile);
    if (!options.passwordFile.empty())
        return pskc::read_password_file(options.passwordFile);
    auto password = pskc::prompt_password(fmt::format("Password of {}: ", file.string()));
    if (!password)
        return std::unexpected(password.error());
    std::error_code error;
    if (std::filesystem::exists(file, error))
        return *password;
    auto again = pskc::prompt_password("Repeat the password: ");
    if (!again)
        return std::unexpected(again.error());
    if (again->text() != password->text())
        return std::unexpected(
            pskc::Error{pskc::ErrorKind::InvalidInput, "the two passwords differ"});
    return *password;
}
