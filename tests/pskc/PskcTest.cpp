// PSKC containers checked against python3-pskc, oathtool and pskctool, which
// no one here wrote, and against the narrow import of strict_import.py: what
// one side encrypts the other reads back equal.

#include "cli/Terminal.h"
#include "core/Codecs.h"
#include "pskc/Credentials.h"
#include "pskc/PskcFile.h"
#include "records/RecordsTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <pty.h>
#include <regex>
#include <set>
#include <thread>
#include <unistd.h>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::cli;

using namespace pskc;

namespace {

const std::string kSeed20 = "3132333435363738393031323334353637383930";
const std::string kSeed32 = kSeed20 + "313233343536373839303132";

std::string run(const std::string& command)
{
    std::string out(1 << 20, '\0');
    FILE* pipe = ::popen(command.c_str(), "r");
    out.resize(pipe ? std::fread(out.data(), 1, out.size(), pipe) : 0);
    const int status = pipe ? ::pclose(pipe) : -1;
    return status == 0 ? out : "exit " + std::to_string(status) + ": " + out;
}

nlohmann::json reference(const std::string& args, const char* script = PSKC_REFERENCE)
{
    return nlohmann::json::parse(run(std::string("/usr/bin/python3 ") + script + " " + args),
                                 nullptr, false);
}

// A key package as the strict import gives it.
nlohmann::json as_imported(const KeyPackage& p)
{
    nlohmann::json token = {{"serial", p.keyId},
                            {"algorithm", p.algorithm == OtpAlgorithm::Hotp ? "hotp" : "totp"},
                            {"hash", suite_of(p.hash)},
                            {"secret", to_hex_lower(p.secret.view())},
                            {"digits", *p.digits}};
    if (p.counter)
        token["counter"] = *p.counter;
    if (p.interval)
        token["interval"] = *p.interval;
    return token;
}

// A key package as the reference dumps it.
nlohmann::json as_dumped(const KeyPackage& p)
{
    const auto orNull = [](const auto& value) { return value ? nlohmann::json(*value) : nullptr; };
    const auto text = [](const std::string& s) { return s.empty() ? nullptr : nlohmann::json(s); };
    // clang-format off
    return {{"id", p.keyId}, {"digits", *p.digits}, {"encoding", "DECIMAL"},
            {"algorithm", p.algorithm == OtpAlgorithm::Hotp ? kHotpAlgorithm : kTotpAlgorithm},
            {"suite", suite_of(p.hash)},
            {"counter", orNull(p.counter)}, {"interval", orNull(p.interval)},
            {"user", text(p.userId)}, {"serial", p.keyId}, {"binding", text(p.deviceSerial)},
            {"manufacturer", p.manufacturer}, {"model", p.model},
            {"secret", to_hex_lower(p.secret.view())}};
    // clang-format on
}

// The three kinds of token the key programs, with the RFC 4226/6238 seeds,
// and oathtool's options and OTP for each at counter 0 or at 59 s.
KeyPackage package(OtpAlgorithm algorithm, OtpHash hash, int digits, int interval,
                   std::string serial, std::string user, std::string deviceSerial)
{
    return make_key_package({algorithm, hash, digits, interval, serial,
                             *hex_decode(hash == OtpHash::Sha1 ? kSeed20 : kSeed32), user},
                            deviceSerial);
}
const std::vector<KeyPackage> kPackages = {
    package(OtpAlgorithm::Hotp, OtpHash::Sha1, 6, 30, "VT2024061101", "", "VT20240611"),
    package(OtpAlgorithm::Totp, OtpHash::Sha256, 8, 30, "VT2024061102", "J\xC3\xB6rg & <Co>",
            "VT20240611"),
    package(OtpAlgorithm::Totp, OtpHash::Sha1, 6, 60, "0000123456789", "ann@example.com", "")};
const std::string kOathtool[][2] = {{"--hotp -d 6 -c 0", "755224"},
                                    {"--totp=sha256 -d 8 -s 30 -N @59", "46119246"},
                                    {"--totp -d 6 -s 60 -N @59", "755224"}};

class PskcTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        spit(m_dir / "password", "correct horse\r\nsecond line\n");
        spit(m_dir / "key16", "000102030405060708090a0b0c0d0e0f\n");
        spit(m_dir / "key32", " 000102030405060708090A0B0C0D0E0F101112131415161718191a1b1c1d1e1f ");
    }

    // Our credential from the file, and the reference's option for it.
    std::pair<Credential, std::string> credential(const std::string& file)
    {
        const fs::path path = m_dir / file;
        if (file == "password")
            return {*read_password_file(path), " --password-file " + path.string()};
        return {*read_key_file(path), " --key-file " + path.string()};
    }

    TempDir m_dir;
};

// Ours, in each profile: two writers open a new file before either adds to
// it, and each add reads what the other wrote, so no token is lost; the
// second, opened without a profile, extends the file in its own. Theirs:
// what python3-pskc writes reads equal and stays readable to it when
// extended. An interop file is also what a strict server import takes.
TEST_F(PskcTest, ContainersReadEqualInPythonPskcOathtoolAndPskctoolBothWays)
{
    std::set<std::string> ivs;
    std::size_t values = 0;
    nlohmann::json theirTokens = {as_dumped(kPackages[1]), as_dumped(kPackages[2])};
    theirTokens[1]["suite"] = "HMAC-SHA1"; // the reader takes the older Suite texts too
    theirTokens[0]["suite"] = "HMAC-SHA256";
    spit(m_dir / "tokens.json", theirTokens.dump());
    // clang-format off
    const std::tuple<std::string, Profile, std::string> cases[] = {
        {"password", Profile::Interop,
         "AES-128-CBC, HMAC-SHA1, PBKDF2 with HMAC-SHA1, 100000 iterations, 16-byte salt"},
        {"password", Profile::Strong,
         "AES-256-CBC, HMAC-SHA256, PBKDF2 with HMAC-SHA256, 100000 iterations, 16-byte salt"},
        {"key16", Profile::Interop, "AES-128-CBC, HMAC-SHA1, a pre-shared key"},
        {"key32", Profile::Strong, "AES-256-CBC, HMAC-SHA256, a pre-shared key"},
    };
    // clang-format on
    for (const auto& [file, profile, algorithms] : cases) {
        const std::string name = file + "-" + std::string(profile_name(profile));
        SCOPED_TRACE(name);
        const auto [credential, option] = this->credential(file);
        const fs::path ours = m_dir / (name + ".pskc");
        auto first = ContainerUpdate::open(ours, credential, {.profile = profile});
        auto second = ContainerUpdate::open(ours, credential);
        ASSERT_TRUE(first && second && first->add(kPackages[0]));
        EXPECT_EQ(fs::status(ours).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        ASSERT_TRUE(second->add(kPackages[1]) && first->add(kPackages[2]));
        EXPECT_EQ(first->add(kPackages[2]).error().fault, Fault::Conflict);
        const auto reopened = ContainerUpdate::open(ours, credential);
        const Container& read = reopened->container();
        EXPECT_EQ(read.packages(), kPackages);
        EXPECT_EQ(read.profile(), profile);
        EXPECT_EQ(read.algorithms(), algorithms);
        const Profile other = profile == Profile::Interop ? Profile::Strong : Profile::Interop;
        auto mixed =
            ContainerUpdate::open(ours, credential, {.profile = other, .requireProfile = true});
        EXPECT_NE(mixed->can_add("X").error().detail.find(
                      "not the " + std::string(profile_name(other)) + " profile asked for"),
                  std::string::npos);
        // Every encrypted value has an IV of its own, the same seed twice too.
        const std::string xml = slurp(ours);
        const std::regex cipherValue("<(\\w+:)?CipherValue>([^<]+)<");
        for (auto it = std::sregex_iterator(xml.begin(), xml.end(), cipherValue);
             it != std::sregex_iterator(); ++it, ++values)
            ivs.insert(to_hex_lower(base64_decode(it->str(2)).value()).substr(0, 32));

        EXPECT_EQ(run("pskctool --validate " + ours.string()), "OK\n");
        const nlohmann::json keys = reference("dump " + ours.string() + option);
        const nlohmann::json imported = reference(ours.string() + option, STRICT_IMPORT);
        ASSERT_TRUE(keys.is_array() && keys.size() == 3u) << keys;
        // A strict import takes the mandatory algorithms only.
        ASSERT_EQ(imported.is_array(), profile == Profile::Interop) << imported;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(keys[i], as_dumped(kPackages[i]));
            // From what a strict import took, where it takes the file.
            const auto& secret = (profile == Profile::Interop ? imported : keys)[i]["secret"];
            spit(m_dir / "secret.hex", secret.get<std::string>());
            EXPECT_EQ(
                run("oathtool " + kOathtool[i][0] + " - < " + (m_dir / "secret.hex").string()),
                kOathtool[i][1] + "\n");
            if (profile == Profile::Interop) {
                EXPECT_EQ(imported[i], as_imported(kPackages[i]));
            }
        }

        const fs::path theirs = m_dir / (name + "-theirs.pskc");
        ASSERT_EQ(run("/usr/bin/python3 " PSKC_REFERENCE " write " + theirs.string() + " " +
                      (m_dir / "tokens.json").string() + option),
                  "");
        auto update = ContainerUpdate::open(theirs, credential);
        ASSERT_TRUE(update) << update.error().detail;
        EXPECT_EQ(update->container().packages(), (std::vector{kPackages[1], kPackages[2]}));
        ASSERT_TRUE(update->add(kPackages[0]));
        const nlohmann::json extended = reference("dump " + theirs.string() + option);
        ASSERT_TRUE(extended.is_array() && extended.size() == 3u) << extended;
        EXPECT_EQ(extended[2], as_dumped(kPackages[0]));
        EXPECT_EQ(extended[0]["secret"], kSeed32);
    }
    EXPECT_EQ(values, 16u); // per container the MAC key and three secrets
    EXPECT_EQ(ivs.size(), values);
}

// Each case changes a container that holds two keys, or reads it with the
// wrong key; the reader must refuse, naming the file, and leave it as it was,
// in either profile. (vnotp-cli's tests give a wrong password, a key for a
// password and a file that is not XML.)
TEST_F(PskcTest, ChangedContainersAndWrongCredentialsAreRefusedAndNeverOverwritten)
{
    for (const Profile profile : {Profile::Interop, Profile::Strong}) {
        SCOPED_TRACE(profile_name(profile));
        for (const std::string file : {"password", "key16"}) {
            const fs::path path = m_dir / (file + std::string(profile_name(profile)) + ".pskc");
            auto update = ContainerUpdate::open(path, credential(file).first, {.profile = profile});
            ASSERT_TRUE(update && update->add(kPackages[0]) && update->add(kPackages[1]));
        }
        const std::string xml = slurp(m_dir /
                                      ("password" + std::string(profile_name(profile)) + ".pskc")),
                          keyed = slurp(m_dir /
                                        ("key16" + std::string(profile_name(profile)) + ".pskc"));
        // The offset just after the nth (from 0) occurrence of the tag.
        const auto after = [&](std::string_view tag, int n) {
            std::size_t at = 0;
            for (int i = 0; i <= n; ++i)
                at = xml.find(tag, at) + tag.size();
            return at;
        };
        const auto replaced = [&](std::size_t at, std::size_t length, std::string_view by) {
            return std::string(xml).replace(at, length, by);
        };
        const auto everywhere = [&](const std::string& from, const std::string& to) {
            return std::regex_replace(xml, std::regex(from), to);
        };
        const auto flipped = [&](std::size_t at) {
            return replaced(at, 1, xml[at] == 'A' ? "B" : "A");
        };
        const std::size_t mac = after("<pskc:ValueMAC>", 1), macLength = xml.find('<', mac) - mac;
        const auto macBytes = base64_decode(xml.substr(mac, macLength)).value();
        const std::size_t from = xml.find("<pskc:EncryptedValue>");
        const std::string plain =
            replaced(from, xml.find("</pskc:ValueMAC>") + 16 - from,
                     "<pskc:PlainValue>MTIzNDU2Nzg5MDEyMzQ1Njc4OTA=</pskc:PlainValue>");
        const bool interop = profile == Profile::Interop;
        const Credential password = credential("password").first;
        Credential wrongKey = credential("key16").first;
        std::get<PresharedKey>(wrongKey).key.data()[15] = 0;
        const std::string changed = "the container has been changed: the MAC of the Secret of "
                                    "key VT2024061102 does not match";
        // clang-format off
        const std::vector<std::tuple<std::string, Credential, Fault, std::string>> cases = {
            {flipped(after("<xenc:CipherValue>", 2)), password, Fault::Tampered, changed}, // 2nd secret
            {flipped(mac), password, Fault::Tampered, changed},
            {replaced(mac, macLength, base64_encode(std::span(macBytes).first(16))), password,
             Fault::Tampered, changed}, // a MAC cut short
            {flipped(after("<xenc:CipherValue>", 0) + 24), password, Fault::Tampered, // the MAC key
             "the MACs of the Secret of key VT2024061101 and the Secret of key VT2024061102 do not"},
            {plain, password, Fault::Unsupported, "key VT2024061101 holds its secret in clear text"},
            {everywhere(interop ? "#hmac-sha1" : "#hmac-sha256", interop ? "#hmac-sha256" : "#hmac-sha1"),
             password, Fault::WrongPassword, "the password is wrong"}, // the MAC algorithm swapped
            {everywhere(interop ? "#aes128-cbc" : "#aes256-cbc", interop ? "#aes256-cbc" : "#aes128-cbc"),
             password, Fault::NotPskc, "does not fit the cipher"},
            {everywhere("IterationCount>100000<", "IterationCount>99999<"), password,
             Fault::WrongPassword, "the password is wrong"},
            {keyed, wrongKey, Fault::WrongKey, "the key is wrong"},
            {keyed, credential("key32").first, Fault::WrongKey, "needs a 16-byte AES key"},
        };
        // clang-format on
        const fs::path path = m_dir / "changed.pskc";
        for (const auto& [content, credential, fault, message] : cases) {
            SCOPED_TRACE(message);
            ASSERT_NE(content, xml);
            spit(path, content);
            const auto update = ContainerUpdate::open(path, credential);
            ASSERT_FALSE(update);
            EXPECT_EQ(update.error().fault, fault);
            EXPECT_TRUE(update.error().detail.starts_with(path.string() + ": ") &&
                        update.error().detail.find(message) != std::string::npos)
                << update.error().detail;
            EXPECT_EQ(slurp(path), content);
        }
    }
}

TEST_F(PskcTest, CredentialFilesGiveTheFirstLineOrAnAesKeyOfHexDigits)
{
    // What the files give is what python3-pskc reads them as: see the test above.
    // clang-format off
    for (const auto& [content, password, message] : {
             std::tuple{"\nsecond line", true, "the first line, the password, is empty"},
             std::tuple{"0x000102030405060708090a0b0c0d0e0f", false, "hexadecimal digits only"},
             std::tuple{"00 01020304050607", false, "hexadecimal digits only"},
             std::tuple{"000102030405060708090a0b0c0d0e", false, "holds a 15-byte key"}}) {
        // clang-format on
        spit(m_dir / "credential", content);
        const OpError error = password ? read_password_file(m_dir / "credential").error()
                                       : read_key_file(m_dir / "credential").error();
        EXPECT_EQ(error.fault, Fault::Refused) << content;
        EXPECT_NE(error.detail.find(message), std::string::npos) << error.detail;
    }
}

TEST(PasswordPrompt, ReadsOneLineWithoutEchoingIt)
{
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    OpResult<Password> password = fail(Fault::Cancelled, "not asked");
    std::thread asker([&] { password = read_secret_line("PSKC password: ", slave); });
    // Type only once the prompt is shown: echo is off by then.
    std::string seen;
    char buffer[256];
    while (seen.find("PSKC password: ") == std::string::npos) {
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        ASSERT_GT(count, 0);
        seen.append(buffer, static_cast<std::size_t>(count));
    }
    ASSERT_EQ(::write(master, "s3cret pass\n", 12), 12);
    asker.join();
    EXPECT_TRUE(password && password->text() == "s3cret pass");
    const ssize_t count = ::read(master, buffer, sizeof buffer);
    seen.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    EXPECT_EQ(seen.find("s3cret"), std::string::npos) << seen;
    termios restored{}; // echo is back on
    EXPECT_TRUE(::tcgetattr(slave, &restored) == 0 && (restored.c_lflag & ECHO));
    ::close(master);
    ::close(slave);
}

} // namespace
