// batch over keys that the test plugs in and pulls out one after another:
// a key offered twice, keys with a PIN, a key that fails, Ctrl-C between keys.

#include "cli/CliSupport.h"

#include <nlohmann/json.hpp>

#include <csignal>

namespace {

const QStringList kKeys = {"VT30000001", "VT30000002", "VT30000003"};

// The first two keys have a PIN, given once on standard input for the run.
TEST_F(CliTest, BatchProgramsEachKeyOnceWithThePinGivenOnce)
{
    fresh(kKeys, false);
    set_pin(kKeys[0]);
    set_pin(kKeys[1]);
    Running batch(
        {"--pin-stdin", "batch", "--keys", "3", "--tokens-per-key", "2", "--out-dir", dir.path()},
        "1234\n");
    for (int number = 1; number <= 3; ++number) {
        const QString& key = kKeys[number - 1];
        const QString done = "key %1 of 3: %2, 2 tokens programmed; remove the key";
        vnkey({"plug", key});
        ASSERT_TRUE(batch.said(done.arg(number).arg(key))) << batch.err.toStdString();
        vnkey({"unplug", key});
        if (number == 1) {
            // The run must have seen the key go before it comes back.
            ASSERT_TRUE(batch.said("waiting for key 2 of 3")) << batch.err.toStdString();
            vnkey({"plug", key});
            ASSERT_TRUE(batch.said("key VT30000001 was already programmed in this run; remove it"))
                << batch.err.toStdString();
            vnkey({"unplug", key});
            ASSERT_TRUE(batch.said("waiting for key 2 of 3")) << batch.err.toStdString();
            // A key that does not answer is not asked to be plugged in.
            ASSERT_EQ(vnkey({"create", "VT30000009", "--touch", "auto:0"}).code, 0);
            QFile broken(qEnvironmentVariable("VN_KEY_DIR") + "/VT30000009.json");
            ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
            broken.write("{");
            broken.close();
            vnkey({"plug", "VT30000009"});
            ASSERT_TRUE(batch.said("the key plugged in cannot be read (0x"))
                << batch.err.toStdString();
            vnkey({"unplug", "VT30000009"});
            ASSERT_TRUE(batch.said("waiting for key 2 of 3")) << batch.err.toStdString();
        }
    }
    const ProcessRun result = batch.finish();
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              "3 keys programmed, 0 keys failed; 6 tokens programmed, 0 tokens failed\n");
    EXPECT_TRUE(has(vnkey({"show", "VT30000001"}).out, "Tokens: 2 of 20"));
    EXPECT_EQ(csvRows("tseeds.csv").size(), 1 + 6);
}

// A key never touched fails with all its tokens and the run goes on; Ctrl-C
// ends it with the summary and the first failure's exit code, else 130. The
// JSON runs take a user per key from a file and count the users left.
TEST_F(CliTest, BatchCountsAFailedKeyAndEndsOnCtrlCWithTheFirstFailuresCode)
{
    for (int run = 0; run < 4; ++run) {
        const int failed = run / 2;
        const bool json = run % 2;
        SCOPED_TRACE(testing::Message() << failed << " failed, json " << json);
        fresh(kKeys, false);
        if (failed)
            vnkey({"set", kKeys[0], "--touch", "never", "--timeout", "0.2"});
        const QString users = write("users", "user 1\nuser 2\nuser 3\n");
        Running batch(QStringList{"batch", "--tokens-per-key", "2", "--out-dir", dir.path()} +
                      (json ? QStringList{"--json", "--users", users} : QStringList{"-k", "3"}));
        for (int i = 0; i < 2; ++i) {
            vnkey({"plug", kKeys[i]});
            const QString user = json ? QString(" for \"user %1\"").arg(i + 1) : QString();
            ASSERT_TRUE(batch.said(kKeys[i] + user + ", ")) << batch.err.toStdString();
            vnkey({"unplug", kKeys[i]});
        }
        ASSERT_TRUE(batch.said("waiting for key 3 of 3")) << batch.err.toStdString();
        ::kill(static_cast<pid_t>(batch.process.processId()), SIGINT);
        const ProcessRun result = batch.finish();
        EXPECT_EQ(result.code, failed ? 4 : 130) << result.err;
        const int counts[] = {2 - failed, failed, 4 - 2 * failed, 2 * failed};
        if (!json) {
            // Serials go on past those the seed files of the earlier runs hold.
            const std::string failure =
                !failed ? std::string()
                        : "failed: key 1 (VT30000001): the key failed to take the token " +
                              QString::asprintf("SN=VT30000001%02d", 4 * run - 3).toStdString() +
                              " (0x800A6984: nobody touched the key in time)\n";
            EXPECT_EQ(result.out,
                      QString::asprintf("%d %s programmed, %d %s failed; %d tokens "
                                        "programmed, %d tokens failed; interrupted\n",
                                        counts[0], counts[0] == 1 ? "key" : "keys", counts[1],
                                        counts[1] == 1 ? "key" : "keys", counts[2], counts[3])
                              .toStdString() +
                          failure);
            EXPECT_TRUE(has(result.err, "To program what is left: vnotp-cli batch --tokens-per-key "
                                        "2 --out-dir " +
                                            dir.path().toStdString() +
                                            (failed ? " --keys 2\n" : " --keys 1\n")))
                << result.err;
            continue;
        }
        // A failed token too has the documented shape.
        const ProcessRun valid = cli({"-c",
                                      "import json, sys, jsonschema as j; "
                                      "j.Draft202012Validator(json.load(open(sys.argv[1])))"
                                      ".validate(json.load(sys.stdin))",
                                      JSON_SCHEMA},
                                     QByteArray::fromStdString(result.out), "/usr/bin/python3");
        EXPECT_EQ(valid.code, 0) << valid.err;
        nlohmann::json summary = nlohmann::json::parse(result.out, nullptr, false);
        EXPECT_EQ(summary["keys"][0]["tokensFailed"], counts[3]) << result.out;
        if (failed) {
            EXPECT_TRUE(has(summary["keys"][0]["tokens"][0]["reason"], "0x800A6984"));
            EXPECT_EQ(summary["keys"][0]["tokens"][1]["serial"], nullptr) << result.out;
            EXPECT_TRUE(has(result.err, "To program what is left: printf '%s\\n' 'user 1' "
                                        "'user 3' > " +
                                            users.toStdString() + ".left && vnotp-cli batch"))
                << result.err;
        }
        EXPECT_EQ(summary["keys"][1]["user"], "user 2") << result.out;
        summary.erase("keys");
        EXPECT_EQ(summary, nlohmann::json({{"version", 1},
                                           {"command", "batch"},
                                           {"usersLeft", 1},
                                           {"keysProgrammed", counts[0]},
                                           {"keysFailed", counts[1]},
                                           {"tokensProgrammed", counts[2]},
                                           {"tokensFailed", counts[3]},
                                           {"interrupted", true}}));
    }
}

// With fewer users than --keys the run ends with the last user.
TEST_F(CliTest, BatchEndsWhenTheUsersRunOut)
{
    fresh(kKeys, false);
    Running batch({"batch", "--keys", "3", "--users", write("users", "solo\n"), "-o", dir.path()});
    vnkey({"plug", kKeys[0]});
    ASSERT_TRUE(batch.said("key 1 of 1: VT30000001 for \"solo\", 1 token programmed"))
        << batch.err.toStdString();
    ASSERT_TRUE(batch.process.waitForFinished(10000)) << "waits for a key nobody is for";
    const ProcessRun result = batch.finish();
    EXPECT_EQ(
        result.out,
        "1 key programmed, 0 keys failed; 1 token programmed, 0 tokens failed; 0 users left\n");
}

} // namespace
