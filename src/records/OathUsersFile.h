#pragma once

// The users file of pam_oath and liboath (`pam_oath.so usersfile=FILE`): one
// line per user, "TYPE USER PASSWORD HEXSEED [COUNTER [LASTOTP [TIME]]]", the
// fields separated by spaces or tabs. The tool writes "HOTP alice - <seed>"
// for an HOTP token of 6 digits, "HOTP/E/8 ..." for 8 digits and
// "HOTP/T30/6 ..." (step and digits) for a TOTP token; "-" means no password.
//
// liboath reads SHA-1 tokens only (a longer seed is still used with
// HMAC-SHA1), finds a user's first line by comparing the name byte for byte,
// and after each login rewrites the file through FILE.new and a rename while
// it holds FILE.lock, which it creates exclusively: a login that finds
// FILE.lock fails. Its write-back copies the file it opened BEFORE it took
// FILE.lock, so a login in flight while another writer replaces the file
// would write the old content back. The writer here therefore
//
//   1. waits while FILE.lock exists and then creates it exclusively itself,
//      so no login rewrites the file meanwhile (a login that ends in that
//      moment fails and is tried again by its user);
//   2. replaces the file atomically, keeping every other line byte for byte;
//   3. writes the new content into the replaced file too, which only a login
//      in flight still has open: the copy it makes once it has FILE.lock then
//      holds the new line as well;
//   4. removes FILE.lock at once.

#include "core/Error.h"
#include "core/SecretFile.h"
#include "core/TokenDescription.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace otp::records {

// A login's update holds FILE.lock for a few milliseconds.
inline constexpr std::chrono::milliseconds kOathLockPatience{3'000};

// One token as a users-file line, without its line end.
struct OathUsersLine
{
    std::string user;
    std::string serial; // for messages
    std::string text;   // holds the seed: wiped when it goes away

    OathUsersLine() = default;
    OathUsersLine(const OathUsersLine&) = default;
    OathUsersLine(OathUsersLine&&) = default;
    OathUsersLine& operator=(const OathUsersLine&) = default;
    OathUsersLine& operator=(OathUsersLine&&) = default;
    ~OathUsersLine();
};

// Refuses a token that the users file `file` cannot hold: no user name, a
// user name with white space or #, a SHA-256 token. The message names the
// user and the file and says why.
core::OpResult<void> check_oath_token(const core::TokenDescription& token,
                                      const std::filesystem::path& file);

// The token's line; an HOTP token whose counter has moved on carries it.
OathUsersLine oath_users_line(const core::TokenDescription& token, uint64_t counter = 0);

// The file's bytes with the lines added: appended at the end, or, with
// `replace`, in place of the user's first line (the user's other lines go).
// Refuses a user the file holds already unless `replace`, and two lines for
// one user.
core::OpResult<std::string> with_oath_lines(std::string_view bytes,
                                            std::span<const OathUsersLine> lines, bool replace,
                                            const std::filesystem::path& file);

// Whether the lines can be added to the file (in a folder held open and
// checked, core/OpenFolder.h) now: the file is safe to write and kept from
// other accounts, no FILE.lock stays longer than `patience`, no FILE.new is
// left over (liboath refuses every login while one is there), and
// with_oath_lines accepts them.
core::OpResult<void> check_oath_users_file(const core::FileAt& file,
                                           std::span<const OathUsersLine> lines, bool replace,
                                           std::chrono::milliseconds patience = kOathLockPatience);

// Adds the lines as described at the top, creating the file owner-only when
// it is missing. The caller holds the seed-folder lock of the file's folder.
core::OpResult<void> write_oath_users_file(const core::FileAt& file,
                                           std::span<const OathUsersLine> lines, bool replace,
                                           std::chrono::milliseconds patience = kOathLockPatience);

// Whether the users file (in a folder held open and checked) has a line for
// `user`; a missing file has none.
core::OpResult<bool> oath_users_file_holds(const core::FileAt& file, std::string_view user);

// The file's bytes without any line of `user`, every other line byte for
// byte; refused when the file has no line for the user.
core::OpResult<std::string> without_oath_user(std::string_view bytes, std::string_view user,
                                              const std::filesystem::path& file);

// Takes the user's lines out of the file as write_oath_users_file adds them
// (FILE.lock, an atomic replacement, the copy a login in flight holds), so
// that the user's token no longer logs in. The caller holds the seed-folder
// lock of the file's folder.
core::OpResult<void> remove_oath_user(const std::filesystem::path& file, std::string_view user,
                                      std::chrono::milliseconds patience = kOathLockPatience);

} // namespace otp::records
