// PSKC containers checked against python3-pskc, oathtool and pskctool, which
// no one here wrote: what one side encrypts the other reads back equal.

#include "export/Credentials.h"
#include "export/PskcFile.h"
#include "filelock/FolderLock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <fstream>
#include <pty.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace pskc;

namespace {

const std::string kSeed20 = "3132333435363738393031323334353637383930";
const std::string kSeed32 = kSeed20 + "313233343536373839303132";

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& path, std::string_view text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buffer{};
    while (pipe && std::fgets(buffer.data(), buffer.size(), pipe))
        out += buffer.data();
    const int status = pipe ? ::pclose(pipe) : -1;
    return status == 0 ? out : "exit " + std::to_string(status) + ": " + out;
}

SecretBytes hex(std::string_view text)
{
    SecretBytes bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes.data()[i] =
            static_cast<uint8_t>(std::stoi(std::string(text.substr(2 * i, 2)), nullptr, 16));
    return bytes;
}

std::string to_hex(const SecretBytes& bytes)
{
    std::string text;
    for (uint8_t b : bytes.view()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

nlohmann::json or_null(std::string_view text)
{
    return text.empty() ? nlohmann::json() : nlohmann::json(std::string(text));
}

template <typename T> nlohmann::json or_null(const std::optional<T>& value)
{
    return value ? nlohmann::json(*value) : nlohmann::json();
}

std::string algorithm(const KeyPackage& p)
{
    return std::string(p.kind == OtpKind::Hotp ? kHotpAlgorithm : kTotpAlgorithm);
}

// The three kinds of token the key programs, with the RFC 4226/6238 seeds
// and the OTP oathtool must give for each at counter 0 or at 59 s.
struct Token
{
    KeyPackage package;
    std::string oathtoolOptions;
    std::string otp;
};

std::vector<Token> tokens()
{
    return {
        {make_key_package("VT2024061101", OtpKind::Hotp, OtpHash::Sha1, 6, 0, hex(kSeed20), "",
                          "VT20240611"),
         "--hotp -d 6 -c 0", "755224"},
        {make_key_package("VT2024061102", OtpKind::Totp, OtpHash::Sha256, 8, 30, hex(kSeed32),
                          "J\xC3\xB6rg & <Co>", "VT20240611"),
         "--totp=sha256 -d 8 -s 30 -N @59", "46119246"},
        {make_key_package("0000123456789", OtpKind::Totp, OtpHash::Sha1, 6, 60, hex(kSeed20),
                          "ann@example.com"),
         "--totp -d 6 -s 60 -N @59", "755224"},
    };
}

class PskcTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "pskc-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        spit(m_dir / "password", "correct horse\r\nsecond line\n");
        spit(m_dir / "key16", "000102030405060708090a0b0c0d0e0f\n");
        spit(m_dir / "key32", " 000102030405060708090A0B0C0D0E0F101112131415161718191a1b1c1d1e1f ");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // "--password-file" or "--key-file" for the reference, and our credential.
    std::pair<std::string, Credential> credential(const std::string& file)
    {
        const fs::path path = m_dir / file;
        if (file == "password")
            return {"--password-file " + path.string(), *read_password_file(path)};
        return {"--key-file " + path.string(), *read_key_file(path)};
    }

    nlohmann::json reference(const std::string& args)
    {
        const std::string out = run("/usr/bin/python3 " PSKC_REFERENCE " " + args);
        return nlohmann::json::parse(out, nullptr, false);
    }

    fs::path m_dir;
};

TEST_F(PskcTest, ContainersWeWriteAndExtendReadEqualInPythonPskcOathtoolAndPskctool)
{
    for (const std::string file : {"password", "key16", "key32"}) {
        SCOPED_TRACE(file);
        const auto [option, credential] = this->credential(file);
        const fs::path out = m_dir / (file + ".pskc");
        const std::vector<Token> all = tokens();

        auto update = ContainerUpdate::open(out, credential);
        ASSERT_TRUE(update) << update.error().message;
        ASSERT_TRUE(update->add(all[0].package));
        struct stat st
        {
        };
        ASSERT_EQ(::stat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        // Extending: the file is read, decrypted and verified again.
        update = ContainerUpdate::open(out, credential);
        ASSERT_TRUE(update) << update.error().message;
        EXPECT_EQ(update->container().packages(), std::vector{all[0].package});
        ASSERT_TRUE(update->add(all[1].package));
        ASSERT_TRUE(update->add(all[2].package));
        EXPECT_EQ(update->add(all[2].package).error().kind, ErrorKind::Conflict);

        EXPECT_EQ(run("pskctool --validate " + out.string()), "OK\n");
        const nlohmann::json keys = reference("dump " + out.string() + " " + option);
        ASSERT_TRUE(keys.is_array() && keys.size() == all.size()) << keys;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const KeyPackage& p = all[i].package;
            const nlohmann::json& k = keys[i];
            EXPECT_EQ(k["id"], p.keyId);
            EXPECT_EQ(k["algorithm"], algorithm(p));
            EXPECT_EQ(k["suite"], or_null(p.hash == OtpHash::Sha256 ? kSha256Suite : ""));
            EXPECT_EQ(k["digits"], *p.digits);
            EXPECT_EQ(k["encoding"], "DECIMAL");
            EXPECT_EQ(k["counter"], or_null(p.counter));
            EXPECT_EQ(k["interval"], or_null(p.interval));
            EXPECT_EQ(k["user"], or_null(p.userId));
            EXPECT_EQ(k["manufacturer"], "Halvorn Security");
            EXPECT_EQ(k["model"], "Vornik");
            EXPECT_EQ(k["serial"], or_null(p.deviceSerial));
            EXPECT_EQ(k["secret"], to_hex(p.secret));

            const fs::path secret = m_dir / "secret.hex";
            spit(secret, k["secret"].get<std::string>());
            EXPECT_EQ(run("oathtool " + all[i].oathtoolOptions + " - < " + secret.string()),
                      all[i].otp + "\n");
        }
    }
}

TEST_F(PskcTest, ContainersPythonPskcWritesReadEqualAndStayReadableWhenExtended)
{
    const std::vector<Token> all = tokens();
    nlohmann::json wanted = nlohmann::json::array();
    for (const Token& token : {all[1], all[2]}) {
        const KeyPackage& p = token.package;
        wanted.push_back({{"id", p.keyId},
                          {"algorithm", algorithm(p)},
                          {"suite", p.hash == OtpHash::Sha256 ? "HMAC-SHA256" : "HMAC-SHA1"},
                          {"digits", *p.digits},
                          {"counter", or_null(p.counter)},
                          {"interval", or_null(p.interval)},
                          {"user", or_null(p.userId)},
                          {"manufacturer", p.manufacturer},
                          {"model", p.model},
                          {"serial", or_null(p.deviceSerial)},
                          {"secret", to_hex(p.secret)}});
    }
    spit(m_dir / "tokens.json", wanted.dump());

    for (const std::string file : {"password", "key16"}) {
        SCOPED_TRACE(file);
        const auto [option, credential] = this->credential(file);
        const fs::path theirs = m_dir / (file + "-theirs.pskc");
        ASSERT_EQ(run("/usr/bin/python3 " PSKC_REFERENCE " write " + theirs.string() + " " +
                      (m_dir / "tokens.json").string() + " " + option),
                  "");

        auto update = ContainerUpdate::open(theirs, credential);
        ASSERT_TRUE(update) << update.error().message;
        ASSERT_EQ(update->container().packages().size(), 2u);
        for (std::size_t i = 0; i < 2; ++i)
            EXPECT_EQ(update->container().packages()[i], all[i + 1].package) << i;

        ASSERT_TRUE(update->add(all[0].package));
        const nlohmann::json keys = reference("dump " + theirs.string() + " " + option);
        ASSERT_TRUE(keys.is_array() && keys.size() == 3u) << keys;
        EXPECT_EQ(keys[2]["id"], all[0].package.keyId);
        EXPECT_EQ(keys[2]["secret"], kSeed20);
        EXPECT_EQ(keys[0]["secret"], kSeed32);
    }
}

// Each case changes a container that holds two keys, or reads it with the
// wrong credential; the reader must refuse, and an update must leave the file
// exactly as it was.
TEST_F(PskcTest, ChangedContainersAndWrongCredentialsAreRefusedAndNeverOverwritten)
{
    const std::vector<Token> all = tokens();
    for (const std::string file : {"password", "key16"}) {
        const auto [option, credential] = this->credential(file);
        const fs::path good = m_dir / (file + ".pskc");
        auto update = ContainerUpdate::open(good, credential);
        ASSERT_TRUE(update && update->add(all[0].package) && update->add(all[1].package));
    }
    const std::string xml = slurp(m_dir / "password.pskc");
    const auto nth = [&](std::string_view tag, int n) {
        std::size_t at = 0;
        for (int i = 0; i <= n; ++i)
            at = xml.find(tag, at) + tag.size();
        return at;
    };
    const auto flipped = [&](std::size_t at) {
        std::string changed = xml;
        changed[at] = changed[at] == 'A' ? 'B' : 'A';
        return changed;
    };
    const std::size_t secondSecret = nth("<xenc:CipherValue>", 2); // after the MAC key's
    const std::size_t secondMac = nth("<pskc:ValueMAC>", 1);
    const std::size_t macKey = nth("<xenc:CipherValue>", 0) + 30;
    std::string plain = xml;
    const std::size_t from = plain.find("<pskc:EncryptedValue>");
    plain.replace(from, plain.find("</pskc:ValueMAC>") + 16 - from,
                  "<pskc:PlainValue>MTIzNDU2Nzg5MDEyMzQ1Njc4OTA=</pskc:PlainValue>");

    struct Case
    {
        std::string name;
        std::string content;
        std::string credentialFile;
        ErrorKind kind;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"value", flipped(secondSecret), "password", ErrorKind::Tampered,
         "the container has been changed: the MAC of the Secret of key VT2024061102 does not "
         "match"},
        {"mac", flipped(secondMac), "password", ErrorKind::Tampered, "key VT2024061102 does not"},
        {"mac key", flipped(macKey), "password", ErrorKind::Tampered,
         "the MACs of the Secret of key VT2024061101 and the Secret of key VT2024061102 do not"},
        {"clear text", plain, "password", ErrorKind::Unsupported,
         "key VT2024061101 holds its secret in clear text"},
        {"password", xml, "key16", ErrorKind::WrongProtection, "protected by a password"},
        {"no xml", xml.substr(0, 200), "password", ErrorKind::NotPskc, "not well-formed XML"},
        {"wrong password", xml, "wrong-password", ErrorKind::WrongPassword,
         "the password is wrong"},
        {"wrong key", slurp(m_dir / "key16.pskc"), "wrong-key16", ErrorKind::WrongKey,
         "the key is wrong"},
        {"key size", slurp(m_dir / "key16.pskc"), "key32", ErrorKind::WrongKey,
         "needs a 16-byte AES key"},
    };
    spit(m_dir / "wrong-password", "correct horse battery\n");
    spit(m_dir / "wrong-key16", "000102030405060708090a0b0c0d0e00");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = m_dir / "changed.pskc";
        spit(path, c.content);
        const Credential credential =
            c.credentialFile.starts_with("wrong-key")
                ? Credential(*read_key_file(m_dir / c.credentialFile))
            : c.credentialFile.starts_with("key")
                ? this->credential(c.credentialFile).second
                : Credential(*read_password_file(m_dir / c.credentialFile));
        const auto update = ContainerUpdate::open(path, credential);
        ASSERT_FALSE(update);
        EXPECT_EQ(update.error().kind, c.kind);
        EXPECT_NE(update.error().message.find(c.message), std::string::npos)
            << update.error().message;
        EXPECT_EQ(update.error().message.rfind(path.string() + ": ", 0), 0u)
            << update.error().message;
        EXPECT_EQ(slurp(path), c.content);
    }
}

// Two writers that opened the same file before either added to it: each add
// reads what the other wrote, so no token is lost; and while the folder's
// lock is held elsewhere nothing is written.
TEST_F(PskcTest, ConcurrentUpdatesKeepEachOthersTokensAndHonourTheLock)
{
    const std::vector<Token> all = tokens();
    for (const std::string file : {"password", "key16"}) {
        SCOPED_TRACE(file);
        const auto [option, credential] = this->credential(file);
        const fs::path path = m_dir / (file + "-shared.pskc");
        auto first = ContainerUpdate::open(path, credential);
        auto second = ContainerUpdate::open(path, credential);
        ASSERT_TRUE(first && second);
        ASSERT_TRUE(first->add(all[0].package));
        ASSERT_TRUE(second->add(all[1].package));
        ASSERT_TRUE(first->add(all[2].package));
        EXPECT_EQ(first->container().packages().size(), 3u);

        const std::string before = slurp(path);
        ContainerSettings impatient;
        impatient.lockPatience = std::chrono::milliseconds(0);
        auto waiting = ContainerUpdate::open(path, credential, impatient);
        ASSERT_TRUE(waiting);
        {
            const auto held = FolderLock::acquire(m_dir);
            ASSERT_TRUE(held);
            KeyPackage extra = all[0].package;
            extra.keyId = "EXTRA";
            EXPECT_EQ(waiting->add(extra).error().kind, ErrorKind::Io);
            EXPECT_EQ(ContainerUpdate::open(path, credential, impatient).error().kind,
                      ErrorKind::Io);
        }
        EXPECT_EQ(slurp(path), before);
        const nlohmann::json keys = reference("dump " + path.string() + " " + option);
        ASSERT_TRUE(keys.is_array() && keys.size() == 3u) << keys;
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(keys[i]["id"], all[i].package.keyId);
    }
}

TEST_F(PskcTest, CredentialFilesGiveTheFirstLineOrAnAesKeyOfHexDigits)
{
    EXPECT_EQ(read_password_file(m_dir / "password")->text(), "correct horse");
    EXPECT_EQ(std::get<PresharedKey>(credential("key32").second).key.size(), 32u);
    struct Case
    {
        std::string content;
        bool password;
        std::string message;
    };
    const std::vector<Case> refused = {
        {"\nsecond line", true, "the first line, the password, is empty"},
        {"0x000102030405060708090a0b0c0d0e0f", false, "hexadecimal digits only"},
        {"00 01020304050607", false, "hexadecimal digits only"},
        {"000102030405060708090a0b0c0d0e", false, "holds a 15-byte key"},
    };
    for (const Case& c : refused) {
        spit(m_dir / "credential", c.content);
        const Error error = c.password ? read_password_file(m_dir / "credential").error()
                                       : read_key_file(m_dir / "credential").error();
        EXPECT_EQ(error.kind, ErrorKind::InvalidInput) << c.content;
        EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
    }
}

TEST(PasswordPrompt, ReadsOneLineWithoutEchoingIt)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    std::expected<Password, Error> password = std::unexpected(Error{});
    std::thread asker([&] { password = prompt_password("PSKC password: ", slave); });

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
    ASSERT_TRUE(password) << password.error().message;
    EXPECT_EQ(password->text(), "s3cret pass");

    const ssize_t count = ::read(master, buffer, sizeof buffer);
    seen.assign(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    EXPECT_EQ(seen.find("s3cret"), std::string::npos) << seen;
    termios restored{};
    ASSERT_EQ(::tcgetattr(slave, &restored), 0);
    EXPECT_TRUE(restored.c_lflag & ECHO);
    ::close(master);
    ::close(slave);
}

} // namespace
