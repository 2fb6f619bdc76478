#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/PrintableText.h"
#include "core/Codecs.h"
#include "records/FolderLock.h"
#include "records/OathUsersFile.h"

#include <ostream>

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;

namespace otp::cli {

namespace {

struct RemoveUserOptions
{
    std::string user;
    std::string file;
};

void run_remove_user(CliContext& context, const RemoveUserOptions& options)
{
    if (!is_valid_utf8(options.user) || options.user.empty()) {
        context.fail(ExitCode::Usage, "the user name given is empty or not valid UTF-8 text");
        return;
    }
    const std::filesystem::path file(options.file);
    const auto held = lock_file_folder(file, "the pam_oath users file");
    if (!held) {
        context.fail(held.error());
        return;
    }
    if (auto removed = remove_oath_user(file, options.user); !removed) {
        context.fail(removed.error());
        return;
    }
    context.out << "Removed the line of " << printable(options.user) << " from " << options.file
                << ": that token no longer logs in\n";
}

} // namespace

void add_oath_users_command(CLI::App& app, CliContext& context)
{
    auto* command =
        app.add_subcommand("oath-users", "The pam_oath users file: take a user's line out");
    command->require_subcommand(1);
    auto* remove = command->add_subcommand(
        "remove", "Removes the user's line, so that the user's token no longer logs in; every "
                  "other line stays byte for byte");
    auto options = std::make_shared<RemoveUserOptions>();
    remove->add_option("USER", options->user, "The user's login name")->required();
    remove->add_option("--oath-users", options->file, "The pam_oath users file")->required();
    remove->callback([&context, options] { run_remove_user(context, *options); });
}

} // namespace otp::cli
