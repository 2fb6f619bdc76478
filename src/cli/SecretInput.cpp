#include "cli/SecretInput.h"

#include "core/SecretFile.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

using namespace otp::core;

namespace otp::cli {

OpResult<Password> read_secret_first_line(const std::string& path)
{
    FileDescriptor file;
    if (path != "-") {
        file = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st = {};
        if (!file || ::fstat(file.get(), &st) != 0)
            return fail(Fault::Refused,
                        fmt::format("{}: cannot be read ({})", path, std::strerror(errno)));
        if (S_ISDIR(st.st_mode))
            return fail(Fault::Refused, fmt::format("{}: is a folder, not a file", path));
        if (auto trusted = check_trusted_input(file.get(), path); !trusted)
            return std::unexpected(trusted.error());
    }
    auto line = read_first_line(file ? file.get() : STDIN_FILENO,
                                path == "-" ? "standard input" : path, kSecretInputLimit);
    if (!line)
        return std::unexpected(line.error());
    Password kept(*line);
    wipe(line->data(), line->capacity());
    return kept;
}

void warn_if_others_can_read(const std::filesystem::path& path, std::ostream& err)
{
    if (others_can_read(path))
        err << "vnotp-cli: warning: " << path.string()
            << " can be read by other accounts, and whoever reads it holds the secret; make it "
               "yours alone (chmod go-r "
            << path.string() << ")\n";
}

} // namespace otp::cli
