// vnkey as a user and an end-to-end test drive it: a separate process on the
// same key directory as the library.

#include "TestRecords.h"

#include "KeyStore.h"

#include <VN_Manager.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using testrec::token;
namespace fs = std::filesystem;

namespace {

struct Outcome
{
    int rc = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Vnkey : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("VN_KEY_DIR", dir().c_str(), 1);
        fs::create_directories(dir());
        vkey::KeyState key;
        key.serial = "K1";
        key.touch = {vkey::TouchMode::Auto, 0, 1000};
        ASSERT_TRUE(m_store.create(key).has_value());
        ASSERT_TRUE(m_store.plug("K1").has_value());
    }

    fs::path dir() const { return m_tmp.path() / "keys"; }

    // Starts vnkey with the test's environment; its output goes to files.
    pid_t spawn(const std::vector<std::string>& args)
    {
        ++m_runs;
        fs::path out = m_tmp.path() / ("out" + std::to_string(m_runs));
        fs::path err = m_tmp.path() / ("err" + std::to_string(m_runs));
        pid_t pid = ::fork();
        if (pid == 0) {
            int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(o, 1);
            ::dup2(e, 2);
            std::vector<char*> argv{const_cast<char*>(VNKEY_PATH)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(VNKEY_PATH, argv.data());
            ::_exit(127);
        }
        return pid;
    }

    Outcome finish(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        Outcome o;
        o.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = slurp(m_tmp.path() / ("out" + std::to_string(m_runs)));
        o.err = slurp(m_tmp.path() / ("err" + std::to_string(m_runs)));
        return o;
    }

    Outcome run(const std::vector<std::string>& args) { return finish(spawn(args)); }

    testrec::TempDir m_tmp;
    vkey::KeyStore m_store{m_tmp.path() / "keys"};
    int m_runs = 0;
};

} // namespace

TEST_F(Vnkey, RefusesBadArgumentsAndUnknownKeys)
{
    ASSERT_EQ(run({"create", "K2"}).rc, 0);
    struct Case
    {
        std::vector<std::string> args;
        int rc;
        std::string complaint;
    };
    const std::vector<Case> cases = {
        {{"plug", "NOPE"}, 1, "no key NOPE"},
        {{"unplug", "NOPE"}, 1, "no key NOPE"},
        {{"show", "NOPE"}, 1, "no key NOPE"},
        {{"remove", "NOPE"}, 1, "no key NOPE"},
        {{"touch", "NOPE"}, 1, "no key NOPE"},
        {{"touch", "K2"}, 1, "not plugged in"},
        {{"set", "NOPE", "--timeout", "3"}, 1, "no key NOPE"},
        {{"create", "K1"}, 1, "already exists"},
        {{"create", "bad/serial"}, 2, "not a valid key serial"},
        {{"create", "K9", "--touch", "sometimes"}, 2, "--touch"},
        {{"create", "K9", "--touch", "auto:-5"}, 2, "--touch"},
        {{"create", "K9", "--timeout", "-1"}, 2, "--timeout"},
        {{"create", "K9", "--pin-mode", "firmware"}, 2, "pin-mode"},
        {{"show"}, 2, "SERIAL is required"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{}, 2, "subcommand is required"},
    };
    for (const Case& c : cases) {
        Outcome o = run(c.args);
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(o.rc, c.rc) << o.err;
        EXPECT_NE(o.err.find(c.complaint), std::string::npos) << o.err;
    }
    EXPECT_FALSE(m_store.exists("K9")) << "a refused create leaves nothing behind";
}

TEST_F(Vnkey, EverySubcommandHasHelp)
{
    for (const char* sub : {"create", "set", "list", "plug", "unplug", "touch", "show", "remove"}) {
        Outcome o = run({sub, "--help"});
        EXPECT_EQ(o.rc, 0) << sub;
        EXPECT_NE(o.out.find("Usage"), std::string::npos) << sub;
    }
}

TEST_F(Vnkey, CreatesPlugsUnplugsAndRemovesKeysTheLibrarySees)
{
    EXPECT_EQ(run({"create", "K2", "--pin-mode", "software", "--touch", "auto:0"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK) << "a new key is not plugged in";
    Outcome listed = run({"list"});
    EXPECT_NE(listed.out.find("K1             plugged"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("K2             unplugged  software"), std::string::npos)
        << listed.out;

    ASSERT_EQ(run({"plug", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_ERR_MULTIPLE_DEVICES);
    ASSERT_EQ(run({"unplug", "K1"}).rc, 0);
    DeviceInfoRecord info{};
    ASSERT_EQ(VN_GetDeviceInfo(&info), VN_OK);
    EXPECT_STREQ(info.serialNumber, "K2");
    EXPECT_EQ(VN_OTP_ChangeAccess(VN_SLOT_ALL, "qmvr482", 7, "qmvr482", 7), VN_ERR_NO_HW_ACCESS);

    ASSERT_EQ(run({"remove", "K2"}).rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_ERR_NO_DEVICE);
    EXPECT_FALSE(fs::exists(dir() / "K2.json"));
    EXPECT_FALSE(fs::exists(dir() / "plugged" / "K2"));

    Outcome created = run({"create", "--plug"});
    ASSERT_EQ(created.rc, 0);
    EXPECT_EQ(VN_ListDevice(nullptr, 0), VN_OK) << created.out;
}

TEST_F(Vnkey, ShowsTokensAndPinRecordButSeedsOnlyOnRequest)
{
    ASSERT_EQ(VN_OTP_Personalize(token("K101"), nullptr, 0, 1), VN_OK);
    ASSERT_EQ(VN_OTP_Personalize(token("K102", VN_TYPE_TOTP, VN_HASH_SHA256, 8, 60), nullptr, 0, 1),
              VN_OK);
    char otp[VN_OTP_BUFFER_SIZE];
    ASSERT_EQ(VN_OTP_Calculate(token("K101"), nullptr, 0, otp, nullptr, nullptr, 0), VN_OK);
    ASSERT_EQ(VN_OTP_Calculate(token("K101"), nullptr, 0, otp, nullptr, nullptr, 0), VN_OK);
    ASSERT_EQ(VN_OTP_SetAccess(VN_SLOT_ALL, "1234", 4), VN_OK);
    ASSERT_EQ(VN_OTP_SetValueWithEnter(1), VN_OK);
    // PIN policy: enabled, no PIN, expiry 90 days, minimum length 6; in base64.
    OtpTokenRecord pin = token("AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAFoABgAAAAAAAA==", VN_TYPE_TOTP,
                               VN_HASH_SHA1, 6, 30, "50827413");
    pin.slot = VN_SLOT_PIN_RECORD;
    ASSERT_EQ(VN_OTP_Personalize(pin, nullptr, 0, 1), VN_OK);

    Outcome shown = run({"show", "K1"});
    ASSERT_EQ(shown.rc, 0) << shown.err;
    for (const char* part : {"Key K1 (plugged in)", "Access code: set", "ENTER after OTP: on",
                             "policy enabled", "expiry days: 90", "min length 6",
                             "K101           HOTP SHA-1   6 digits, interval 30, counter 2",
                             "K102           TOTP SHA-256 8 digits, interval 60"})
        EXPECT_NE(shown.out.find(part), std::string::npos) << part << "\n" << shown.out;
    EXPECT_EQ(shown.out.find("3132333435"), std::string::npos) << "no seed without --secrets";
    EXPECT_EQ(shown.out.find("1234"), std::string::npos) << "no access code without --secrets";

    Outcome secrets = run({"show", "K1", "--secrets"});
    EXPECT_NE(secrets.out.find("seed 3132333435363738393031323334353637383930"), std::string::npos)
        << secrets.out;
    EXPECT_NE(secrets.out.find("Access code: \"1234\""), std::string::npos) << secrets.out;
}

TEST_F(Vnkey, TouchReachesACallWaitingInAnotherProcess)
{
    ASSERT_EQ(VN_OTP_Personalize(token("K101"), nullptr, 0, 1), VN_OK);
    ASSERT_EQ(run({"set", "K1", "--touch", "manual", "--timeout", "5"}).rc, 0);
    auto reset = std::async(std::launch::async, [] { return VN_OTP_Reset(); });
    EXPECT_EQ(reset.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    Outcome touched = run({"touch"});
    EXPECT_EQ(touched.rc, 0) << touched.err;
    ASSERT_EQ(reset.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reset.get(), VN_OK);
    OtpTokenRecord records[VN_MAX_TOKENS] = {};
    ASSERT_EQ(VN_OTP_List(VN_SLOT_ALL, records), VN_OK);
    EXPECT_STREQ(records[0].serial, "");

    ASSERT_EQ(run({"set", "K1", "--touch", "never", "--timeout", "0.05"}).rc, 0);
    EXPECT_EQ(VN_OTP_Reset(), VN_ERR_TOUCH_TIMEOUT);
}

TEST_F(Vnkey, WriteWaitingForTheLockKeepsTheOtherWrite)
{
    std::string before = slurp(dir() / "K1.json");
    pid_t setter;
    std::future<uint32_t> personalize;
    {
        auto lock = m_store.lock();
        ASSERT_TRUE(lock.has_value());
        setter = spawn({"set", "K1", "--timeout", "7"});
        personalize = std::async(std::launch::async,
                                 [] { return VN_OTP_Personalize(token("K101"), nullptr, 0, 1); });
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        int status = 0;
        EXPECT_EQ(::waitpid(setter, &status, WNOHANG), 0) << "vnkey must wait for the lock";
        EXPECT_EQ(personalize.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
            << "the library must wait for the lock";
        EXPECT_EQ(slurp(dir() / "K1.json"), before);
    }
    EXPECT_EQ(finish(setter).rc, 0);
    EXPECT_EQ(personalize.get(), VN_OK);
    auto key = m_store.load("K1");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->touch.timeoutMs, 7000);
    ASSERT_EQ(key->tokens.size(), 1u);
    EXPECT_EQ(key->tokens[0].serial, "K101");
}

TEST_F(Vnkey, ConcurrentWritesAllSurvive)
{
    auto programming = std::async(std::launch::async, [] {
        int ok = 0;
        for (int i = 0; i < VN_MAX_TOKENS; ++i)
            ok += VN_OTP_Personalize(token("K1" + std::to_string(100 + i)), nullptr, 0, 1) == VN_OK;
        return ok;
    });
    int setOk = 0;
    for (int t = 1; t <= 10; ++t)
        setOk += run({"set", "K1", "--timeout", std::to_string(t)}).rc == 0;
    EXPECT_EQ(programming.get(), VN_MAX_TOKENS);
    EXPECT_EQ(setOk, 10);
    auto key = m_store.load("K1");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->tokens.size(), std::size_t{VN_MAX_TOKENS});
    EXPECT_EQ(key->touch.timeoutMs, 10000);
}

TEST_F(Vnkey, DamagedKeyIsReportedNotRewritten)
{
    const std::string damaged = "{\"format\": 1, \"serial\": ";
    std::ofstream(dir() / "K1.json", std::ios::trunc) << damaged;
    Outcome listed = run({"list"});
    EXPECT_EQ(listed.rc, 0);
    EXPECT_NE(listed.out.find("DAMAGED"), std::string::npos) << listed.out;
    Outcome shown = run({"show", "K1"});
    EXPECT_EQ(shown.rc, 1);
    EXPECT_NE(shown.err.find("damaged"), std::string::npos) << shown.err;
    EXPECT_EQ(run({"set", "K1", "--timeout", "3"}).rc, 1);
    EXPECT_EQ(VN_OTP_SetValueWithEnter(1), VN_ERR_CORRUPT_KEY);
    EXPECT_EQ(slurp(dir() / "K1.json"), damaged);
}
