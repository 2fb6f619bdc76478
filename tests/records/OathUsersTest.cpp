// The pam_oath users file as its recorder writes it: its line, every other
// line kept byte for byte (for a login that opened the file before it was
// replaced, too), and the refusals before the key is touched, each naming the
// user and saying why. (The line of each kind of token, as liboath, pam_oath
// and FreeRADIUS read it: oath_reference_test.sh.)

#include "records/OathUsersRecorder.h"
#include "records/RecordsTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

using namespace otp;
using namespace otp::core;
using namespace otp::records;

namespace {

TEST(OathUsersRecorder, WritesItsLineKeepsEveryOtherAndRefusesBeforeTheKeyIsTouched)
{
    using enum OtpAlgorithm;
    const std::string seed = "3132333435363738393031323334353637383930";
    // Lines pam_oath reads or skips: a comment, a CR LF line end, tabs and
    // spaces, a line liboath has written back, no final newline.
    const std::string others = "# users\r\nHOTP   bob\t-  00ff  \n\nHOTP\tcarol\t-\tab\t7\t123456\t"
                               "2024-01-01T00:00:00L\n#HOTP alice - 00";
    const auto sha1 = [](OtpAlgorithm algorithm, std::string user) {
        return describedToken(algorithm, OtpHash::Sha1, 6, 30, "SN1", std::move(user));
    };
    struct Case
    {
        const char* what;
        TokenDescription token;
        std::optional<std::string> before; // none: no file
        bool replace;
        std::string after; // the whole file; empty: refused, the file stays as it was
        std::string refusal = {};
        mode_t mode = 0600;   // of the file before
        bool leftNew = false; // a FILE.new a stopped login left behind
        bool remove = false;  // the user's lines taken out instead (oath-users remove)
    };
    const Case cases[] = {
        {"HOTP, 6 digits, into a new file", sha1(Hotp, "alice"), std::nullopt, false,
         "HOTP alice - " + seed + "\n"},
        {"TOTP 30 s, 6 digits, into an empty file", sha1(Totp, "alice"), "", false,
         "HOTP/T30/6 alice - " + seed + "\n"},
        {"replace: in place of the user's first line, the others dropped", sha1(Totp, "bob"),
         others + "\nHOTP bob - 11\n", true,
         "# users\r\nHOTP/T30/6 bob - " + seed +
             "\n\nHOTP\tcarol\t-\tab\t7\t123456\t2024-01-01T00:00:00L\n#HOTP alice - 00\n"},
        {"a user in the file", sha1(Hotp, "carol"), others, false, "",
         "The user carol already has a line in the pam_oath users file F (line 4), which is left "
         "as it is. Choose to replace that user's line, or another user name."},
        {"SHA-256", describedToken(Hotp, OtpHash::Sha256, 6, 30, "SN1", "alice"), others, false, "",
         "The token of user alice is SHA-256, which the pam_oath users file F cannot hold: "
         "liboath computes its OTPs with HMAC-SHA1 only. Choose SHA-1."},
        {"no user name", sha1(Hotp, ""), others, true, "",
         "The token SN1 has no user name, and the pam_oath users file F finds a token by its "
         "user's login name. Give a user name."},
        {"white space", sha1(Hotp, "john doe"), std::nullopt, false, "",
         "The user name \"john doe\" cannot go into the pam_oath users file F: it holds white "
         "space, and pam_oath reads a name only up to the first space or tab."},
        {"#", sha1(Totp, "a#b"), others, false, "",
         "The user name \"a#b\" cannot go into the pam_oath users file F: it holds #, which "
         "marks a comment there."},
        {"one group may read it: kept so", sha1(Hotp, "dave"), "", false,
         "HOTP dave - " + seed + "\n", "", 0640},
        {"every account may read it", sha1(Hotp, "dave"), others, false, "",
         "F: can be read by every account, and so could the seed of the next token; it is left "
         "alone, and no seed is written to it. Make it readable by you alone (chmod o-r F, or "
         "chmod 600 F) and try again.",
         0644},
        {"read-only", sha1(Hotp, "dave"), others, false, "",
         "F: is read-only (mode 0400); it is left alone, and no seed is written to it. Make it "
         "writable (chmod u+w F) or choose another file, and try again.",
         0400},
        {"FILE.new left over", sha1(Hotp, "dave"), others, false, "",
         "F.new is left over from a login through pam_oath that was stopped while it updated F; "
         "while it is there every login through pam_oath fails. Remove it (rm F.new) once no "
         "login is running, and try again.",
         0600, true},
        {"remove: every line of the user",
         sha1(Hotp, "bob"),
         others + "\nHOTP bob - 11\n",
         false,
         "# users\r\n\nHOTP\tcarol\t-\tab\t7\t123456\t2024-01-01T00:00:00L\n#HOTP alice - 00\n",
         {},
         0600,
         false,
         true},
        {"remove a user without a line", sha1(Hotp, "alice"), others, false, "",
         "The pam_oath users file F has no line for the user alice; it is left as it is.", 0600,
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path file = dir / "users.oath";
        int inFlight = -1; // a login that opened the file before it was replaced
        if (c.before) {
            spit(file, *c.before);
            ::chmod(file.c_str(), c.mode);
            inFlight = ::open(file.c_str(), O_RDONLY);
        }
        if (c.leftNew)
            spit(file.string() + ".new", "");
        OathUsersRecorder recorder(file, c.replace);
        std::string result;
        if (!c.remove)
            result = record(recorder, c.token);
        else if (auto removed = remove_oath_user(file, c.token.user); !removed)
            result = "refused: " + removed.error().detail;
        for (auto at = result.find(file.string()); at != std::string::npos;
             at = result.find(file.string()))
            result.replace(at, file.string().size(), "F");
        EXPECT_EQ(result, c.after.empty() ? "refused: " + c.refusal : "");
        EXPECT_EQ(slurp(file), c.after.empty() ? c.before.value_or("<missing>") : c.after);
        if (fs::exists(file)) {
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                      static_cast<fs::perms>(c.before ? c.mode : 0600));
        }
        EXPECT_FALSE(fs::exists(file.string() + ".lock"));
        if (inFlight >= 0) { // its write-back copies what it reads then
            std::string seen(slurp(file).size() + 1, '\0');
            seen.resize(static_cast<std::size_t>(::pread(inFlight, seen.data(), seen.size(), 0)));
            EXPECT_EQ(seen, slurp(file));
            ::close(inFlight);
        }
    }

    // A FILE.lock that stays (a login stopped while writing) makes every
    // login fail: refused and named, before the key is touched.
    TempDir dir;
    spit(dir / "users.oath.lock", "");
    OathUsersRecorder waiting(dir / "users.oath", false, std::chrono::milliseconds(50));
    EXPECT_NE(record(waiting, sha1(Hotp, "dave")).find("users.oath.lock stays in place"),
              std::string::npos);
}

} // namespace
