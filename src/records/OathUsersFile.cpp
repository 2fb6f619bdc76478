#include "records/OathUsersFile.h"

#include "core/Codecs.h"
#include "core/OpenFolder.h"
#include "core/PrintableText.h"
#include "core/SecretFile.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

using namespace otp::core;

namespace otp::records {

namespace {

// Large enough for a million users.
constexpr std::size_t kMaximumUsersFileSize = 256u << 20;
constexpr std::string_view kFieldSeparators = " \t\r\v\f";

FileAt lock_file(const FileAt& file)
{
    return file.with_suffix(".lock");
}

// The user a line is for: its second field; none for a comment or a line
// of fewer fields.
std::string_view user_of(std::string_view line)
{
    std::string_view fields[2];
    for (std::string_view& field : fields) {
        const auto start = line.find_first_not_of(kFieldSeparators);
        if (start == std::string_view::npos)
            return {};
        line.remove_prefix(start);
        const auto end = std::min(line.find_first_of(kFieldSeparators), line.size());
        field = line.substr(0, end);
        line.remove_prefix(end);
    }
    return fields[0].starts_with('#') ? std::string_view() : fields[1];
}

// Takes the first line, with its line end, off `bytes`.
std::string_view take_line(std::string_view& bytes)
{
    const std::size_t end = std::min(bytes.find('\n'), bytes.size() - 1) + 1;
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end);
    return line;
}

void wipe_text(std::string& text)
{
    wipe(text.data(), text.size());
    text.clear();
}

std::unexpected<OpError> lock_stays(const FileAt& file)
{
    return fail(Fault::Io,
                fmt::format("{} stays in place: a login through pam_oath is updating {}, or one "
                            "that was stopped left it behind, and while it is there every login "
                            "through pam_oath fails. Remove it once no login is running.",
                            lock_file(file).shown.string(), file.shown.string()));
}

// FILE.lock as liboath takes it: created exclusively, write-locked, removed
// when done.
class UsersFileLock
{
public:
    static OpResult<UsersFileLock> take(const FileAt& file, std::chrono::milliseconds patience)
    {
        const FileAt path = lock_file(file);
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (;;) {
            FileDescriptor fd(::openat(path.folder, path.name.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (fd) {
                struct flock region = {};
                region.l_type = F_WRLCK;
                region.l_whence = SEEK_SET;
                ::fcntl(fd.get(), F_SETLK, &region); // created exclusively: ours alone anyway
                return UsersFileLock(path, std::move(fd));
            }
            if (errno != EEXIST)
                return fail(Fault::Io, fmt::format("{}: cannot be created ({})",
                                                   path.shown.string(), std::strerror(errno)));
            if (std::chrono::steady_clock::now() >= deadline)
                return lock_stays(file);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    UsersFileLock(UsersFileLock&& other) noexcept
        : m_path(std::move(other.m_path)), m_fd(std::move(other.m_fd))
    {
        other.m_path.reset();
    }
    UsersFileLock& operator=(UsersFileLock&&) = delete;
    ~UsersFileLock()
    {
        if (m_path)
            remove_file(*m_path);
    }

private:
    UsersFileLock(FileAt path, FileDescriptor fd) : m_path(std::move(path)), m_fd(std::move(fd)) {}
    std::optional<FileAt> m_path;
    FileDescriptor m_fd;
};

} // namespace

OathUsersLine::~OathUsersLine()
{
    wipe_text(text);
}

OpResult<void> check_oath_token(const TokenDescription& token, const std::filesystem::path& file)
{
    const std::string& user = token.user;
    if (user.empty())
        return fail(Fault::Refused,
                    fmt::format("The token {} has no user name, and the pam_oath users file {} "
                                "finds a token by its user's login name. Give a user name.",
                                printable(token.serial), file.string()));
    if (user.find_first_of(" \t\n\v\f\r") != std::string::npos)
        return fail(Fault::Refused,
                    fmt::format("The user name \"{}\" cannot go into the pam_oath users file {}: "
                                "it holds white space, and pam_oath reads a name only up to the "
                                "first space or tab.",
                                printable(user), file.string()));
    if (user.find('#') != std::string::npos)
        return fail(Fault::Refused,
                    fmt::format("The user name \"{}\" cannot go into the pam_oath users file {}: "
                                "it holds #, which marks a comment there.",
                                printable(user), file.string()));
    if (token.hash == OtpHash::Sha256)
        return fail(Fault::Refused,
                    fmt::format("The token of user {} is SHA-256, which the pam_oath users file {} "
                                "cannot hold: liboath computes its OTPs with HMAC-SHA1 only. "
                                "Choose SHA-1.",
                                printable(user), file.string()));
    return {};
}

OathUsersLine oath_users_line(const TokenDescription& token, uint64_t counter)
{
    std::string type = token.algorithm == OtpAlgorithm::Totp
                           ? fmt::format("HOTP/T{}/{}", token.interval, token.digits)
                       : token.digits == 6 ? std::string("HOTP")
                                           : fmt::format("HOTP/E/{}", token.digits);
    std::string seed = to_hex_lower(token.seed.view());
    OathUsersLine line;
    line.user = token.user;
    line.serial = token.serial;
    line.text = fmt::format("{} {} - {}", type, token.user, seed);
    if (token.algorithm == OtpAlgorithm::Hotp && counter != 0)
        line.text += fmt::format(" {}", counter);
    wipe_text(seed);
    return line;
}

OpResult<std::string> with_oath_lines(std::string_view bytes, std::span<const OathUsersLine> lines,
                                      bool replace, const std::filesystem::path& file)
{
    for (auto a = lines.begin(); a != lines.end(); ++a)
        for (auto b = a + 1; b != lines.end(); ++b)
            if (a->user == b->user)
                return fail(Fault::Conflict,
                            fmt::format("The user {} would get two tokens ({} and {}) in the "
                                        "pam_oath users file {}, which holds one per user.",
                                        printable(a->user), printable(a->serial),
                                        printable(b->serial), file.string()));

    std::string out;
    out.reserve(bytes.size() + lines.size() * 80);
    std::vector<bool> placed(lines.size(), false);
    for (std::size_t number = 1; !bytes.empty(); ++number) {
        const std::string_view line = take_line(bytes);
        const std::string_view user = user_of(line);
        const auto ours = std::ranges::find(lines, user, &OathUsersLine::user);
        if (user.empty() || ours == lines.end()) {
            out += line;
            continue;
        }
        if (!replace) {
            wipe_text(out);
            return fail(Fault::Refused,
                        fmt::format("The user {} already has a line in the pam_oath users file {} "
                                    "(line {}), which is left as it is. Choose to replace that "
                                    "user's line, or another user name.",
                                    printable(ours->user), file.string(), number));
        }
        const std::size_t index = static_cast<std::size_t>(ours - lines.begin());
        if (!placed[index])
            out.append(ours->text).append("\n");
        placed[index] = true;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (placed[i])
            continue;
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out.append(lines[i].text).append("\n");
    }
    return out;
}

OpResult<void> check_oath_users_file(const FileAt& file, std::span<const OathUsersLine> lines,
                                     bool replace, std::chrono::milliseconds patience)
{
    if (auto safe = check_private_file(file); !safe)
        return safe;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        const auto locked = file_exists(lock_file(file));
        if (!locked)
            return std::unexpected(locked.error());
        if (!*locked)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            return lock_stays(file);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // liboath writes its update to FILE.new, created exclusively; one left by
    // a login that was stopped makes every later login fail.
    const FileAt stale = file.with_suffix(".new");
    const auto left = file_exists(stale);
    if (!left)
        return std::unexpected(left.error());
    if (*left)
        return fail(Fault::Refused,
                    fmt::format("{} is left over from a login through pam_oath that was stopped "
                                "while it updated {}; while it is there every login through "
                                "pam_oath fails. Remove it (rm {}) once no login is running, and "
                                "try again.",
                                stale.shown.string(), file.shown.string(), stale.shown.string()));
    auto bytes = read_private_file(file, kMaximumUsersFileSize);
    if (!bytes)
        return std::unexpected(bytes.error());
    auto edited = with_oath_lines(bytes->value_or(std::string()), lines, replace, file.shown);
    if (bytes->has_value())
        wipe_text(**bytes);
    if (!edited)
        return std::unexpected(edited.error());
    wipe_text(*edited);
    return {};
}

namespace {

// Steps 1 to 4 at the top, with `edit` making the new bytes from the old.
template <class Edit>
OpResult<void> rewrite_oath_users_file(const FileAt& file, std::chrono::milliseconds patience,
                                       Edit edit)
{
    const auto lock = UsersFileLock::take(file, patience);
    if (!lock)
        return std::unexpected(lock.error());
    auto current = open_private_for_update(file, kMaximumUsersFileSize);
    if (!current)
        return std::unexpected(current.error());
    OpResult<std::string> edited = edit(*current ? (*current)->bytes : std::string());
    if (*current)
        wipe_text((*current)->bytes);
    if (!edited)
        return std::unexpected(edited.error());
    auto replaced = replace_private_file(file, *edited);
    // Step 3 at the top: a login in flight copies the file it opened once it
    // has FILE.lock. Nobody else can open that file any more, so its content
    // can change at will; if this fails, only such a login would lose the line.
    if (replaced && *current) {
        const int fd = (*current)->fd.get();
        if (::pwrite(fd, edited->data(), edited->size(), 0) == static_cast<ssize_t>(edited->size()))
            (void)::ftruncate(fd, static_cast<off_t>(edited->size()));
    }
    wipe_text(*edited);
    return replaced;
}

} // namespace

OpResult<void> write_oath_users_file(const FileAt& file, std::span<const OathUsersLine> lines,
                                     bool replace, std::chrono::milliseconds patience)
{
    return rewrite_oath_users_file(file, patience, [&](std::string_view bytes) {
        return with_oath_lines(bytes, lines, replace, file.shown);
    });
}

OpResult<bool> oath_users_file_holds(const FileAt& file, std::string_view user)
{
    if (auto safe = check_private_file(file); !safe)
        return std::unexpected(safe.error());
    auto bytes = read_private_file(file, kMaximumUsersFileSize);
    if (!bytes)
        return std::unexpected(bytes.error());
    if (!bytes->has_value())
        return false;
    bool holds = false;
    for (std::string_view rest = **bytes; !rest.empty() && !holds;)
        holds = user_of(take_line(rest)) == user;
    wipe_text(**bytes);
    return holds;
}

OpResult<std::string> without_oath_user(std::string_view bytes, std::string_view user,
                                        const std::filesystem::path& file)
{
    std::string out;
    out.reserve(bytes.size());
    bool found = false;
    while (!bytes.empty()) {
        const std::string_view line = take_line(bytes);
        if (user_of(line) == user)
            found = true;
        else
            out += line;
    }
    if (!found) {
        wipe_text(out);
        return fail(Fault::Refused, fmt::format("The pam_oath users file {} has no line for the "
                                                "user {}; it is left as it is.",
                                                file.string(), user));
    }
    return out;
}

OpResult<void> remove_oath_user(const std::filesystem::path& file, std::string_view user,
                                std::chrono::milliseconds patience)
{
    const std::filesystem::path folderPath = folder_of(file);
    const auto folder =
        OpenFolder::open(folderPath, fmt::format("the folder {} of the pam_oath users file {}",
                                                 folderPath.string(), file.string()));
    if (!folder)
        return std::unexpected(folder.error());
    const FileAt at = folder->file(file.filename(), file);
    if (auto safe = check_private_file(at); !safe)
        return safe;
    const auto exists = file_exists(at);
    if (!exists)
        return std::unexpected(exists.error());
    if (!*exists)
        return fail(Fault::Refused,
                    fmt::format("The pam_oath users file {} does not exist.", file.string()));
    return rewrite_oath_users_file(
        at, patience, [&](std::string_view bytes) { return without_oath_user(bytes, user, file); });
}

} // namespace otp::records
