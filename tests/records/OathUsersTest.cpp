// The pam_oath users-file recorder: the lines it writes, the lines it keeps
// byte for byte, and what it refuses before the key is touched.

#include "core/Codecs.h"
#include "records/OathUsersRecorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const std::string kSeed = "3132333435363738393031323334353637383930";
// Hand-written lines pam_oath reads or skips: a comment, a CR LF line end,
// tabs and spaces, a line liboath has written back, no final newline.
const std::string kOthers = "# users\r\nHOTP   bob\t-  00ff  \n\nHOTP\tcarol\t-\tab\t7\t123456\t"
                            "2024-01-01T00:00:00L\n#HOTP alice - 00";

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TokenSpec token(OtpAlgorithm algorithm, std::string user, OtpHash hash = OtpHash::Sha1,
                int digits = 6, int interval = 30)
{
    const auto seed = hex_decode(hash == OtpHash::Sha1 ? kSeed : kSeed + kSeed.substr(0, 24));
    return {algorithm, hash, digits, interval, "SN1", *seed, std::move(user)};
}

struct Case
{
    const char* what;
    TokenSpec token;
    std::optional<std::string> before; // none: no file
    bool replace;
    std::string after; // the whole file; empty: refused, the file stays as it was
    std::string refusal = {};
};

TEST(OathUsersRecorder, WritesItsLineKeepsEveryOtherOrRefusesBeforeTheKeyIsTouched)
{
    using enum OtpAlgorithm;
    const Case cases[] = {
        {"HOTP, 6 digits, into a new file", token(Hotp, "alice"), std::nullopt, false,
         "HOTP alice - " + kSeed + "\n"},
        {"HOTP, 8 digits, after the other lines", token(Hotp, "alice", OtpHash::Sha1, 8), kOthers,
         false, kOthers + "\nHOTP/E/8 alice - " + kSeed + "\n"},
        {"TOTP 30 s, 6 digits", token(Totp, "alice"), "", false,
         "HOTP/T30/6 alice - " + kSeed + "\n"},
        {"TOTP 60 s, 8 digits", token(Totp, "alice", OtpHash::Sha1, 8, 60), kOthers + "\n", false,
         kOthers + "\nHOTP/T60/8 alice - " + kSeed + "\n"},
        {"replace: in place of the user's first line, the others dropped", token(Totp, "bob"),
         kOthers + "\nHOTP bob - 11\n", true,
         "# users\r\nHOTP/T30/6 bob - " + kSeed +
             "\n\nHOTP\tcarol\t-\tab\t7\t123456\t"
             "2024-01-01T00:00:00L\n#HOTP alice - 00\n"},
        {"a user in the file", token(Hotp, "carol"), kOthers, false, "",
         "The user carol already has a line in the pam_oath users file F (line 4), which is left "
         "as it is. Choose to replace that user's line, or another user name."},
        {"SHA-256", token(Hotp, "alice", OtpHash::Sha256), kOthers, false, "",
         "The token of user alice is SHA-256, which the pam_oath users file F cannot hold: "
         "liboath computes its OTPs with HMAC-SHA1 only. Choose SHA-1."},
        {"no user name", token(Hotp, ""), kOthers, true, "",
         "The token SN1 has no user name, and the pam_oath users file F finds a token by its "
         "user's login name. Give a user name."},
        {"white space", token(Hotp, "john doe"), std::nullopt, false, "",
         "The user name \"john doe\" cannot go into the pam_oath users file F: it holds white "
         "space, and pam_oath reads a name only up to the first space or tab."},
        {"a tab", token(Hotp, "john\tdoe"), std::nullopt, false, "", "it holds white space"},
        {"#", token(Totp, "a#b"), kOthers, false, "",
         "The user name \"a#b\" cannot go into the pam_oath users file F: it holds #, which "
         "marks a comment there."},
    };
    const fs::path folder = fs::path(testing::TempDir()) / "oath-users";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_all);
        const fs::path file = folder / "users.oath";
        int inFlight = -1; // a login that opened the file before it was replaced
        if (c.before) {
            std::ofstream(file, std::ios::binary) << *c.before;
            fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
            inFlight = ::open(file.c_str(), O_RDONLY);
        }
        OathUsersRecorder recorder(file, c.replace);
        const auto checked = recorder.check(c.token);
        if (c.after.empty()) {
            ASSERT_FALSE(checked);
            std::string detail = checked.error().detail;
            if (const auto at = detail.find(file.string()); at != std::string::npos)
                detail.replace(at, file.string().size(), "F");
            EXPECT_NE(detail.find(c.refusal), std::string::npos) << detail;
            EXPECT_EQ(c.before.value_or("<none>"), fs::exists(file) ? readAll(file) : "<none>");
        } else {
            ASSERT_TRUE(checked) << checked.error().detail;
            const auto outcomes = recorder.record(c.token, "VT1");
            ASSERT_EQ(1u, outcomes.size());
            EXPECT_TRUE(outcomes[0].recorded()) << outcomes[0].failure->detail;
            EXPECT_EQ(c.after, readAll(file));
            EXPECT_EQ(0600u,
                      static_cast<unsigned>(fs::status(file).permissions() & fs::perms::all));
            EXPECT_FALSE(fs::exists(file.string() + ".lock"));
            if (inFlight >= 0) { // its write-back copies what it reads now
                std::string seen(c.after.size() + 1, '\0');
                seen.resize(
                    static_cast<std::size_t>(::pread(inFlight, seen.data(), seen.size(), 0)));
                EXPECT_EQ(c.after, seen);
            }
        }
        if (inFlight >= 0)
            ::close(inFlight);
    }

    // A FILE.lock that stays (a login stopped while writing) makes every
    // login fail: refused and named, before the key is touched.
    std::ofstream(folder / "users.oath.lock");
    OathUsersRecorder waiting(folder / "users.oath", false, std::chrono::milliseconds(50));
    const auto stuck = waiting.check(token(Hotp, "dave"));
    ASSERT_FALSE(stuck);
    EXPECT_NE(stuck.error().detail.find("users.oath.lock stays in place"), std::string::npos);
}

} // namespace
