// vnotp-cli against virtual keys: exit codes and refusals, the commands in
// turn, --verify, the seed files next to the New Token dialog's.

#include "cli/CliJson.h"
#include "cli/CliSupport.h"
#include "device/LinkedDevice.h"
#include "pin/PinPolicyRecord.h"
#include "programming/CNewTokenDlg.h"
#include "records/SeedFileRecorder.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

#include <sys/stat.h>

using namespace otp::core;
using namespace otp::device;
using namespace otp::records;
using namespace otp::pin;
using namespace otp::tokens;
using namespace otp::programming;
using namespace otp::cli;

namespace {

using nlohmann::json;

const QString kKey = QStringLiteral("VT20000001");
const QString kSeed = QStringLiteral("3132333435363738393031323334353637383930");

// Each case first runs `before`: vnkey, "pin" (the key gets one) or "bad xml"
// (in the seed folder). "$D" is the scratch folder: "$D/seeds" an empty seed
// folder, and PSKC containers and their credentials, which stay as they are.
// (Seed folders and files another account can write: second_account_test.sh.)
TEST_F(CliTest, EachFailureHasItsCodeAndARefusalTouchesNothing)
{
    write("password", "pass phrase\n");
    write("wrong", "pass phrase!\n");
    write("key", QByteArray(64, 'a'));
    write("empty", "");
    write("blank", " \t\nabc\n");
    write("users", "# one a line\nann\n\nDoe, Jane\n");
    write("twice", "ann\nbob\n ann\n");
    write("spaced", "ann\nbob\nc d\n");
    write("team", "ann\nbob\n");
    write("newpin", "1357\n");
    ::chmod(
        qPrintable(write("users.oath", "HOTP bob - 3132333435363738393031323334353637383930\n")),
        0600);
    ::chmod(qPrintable(write("open-users", "ann\n")), 0662); // whoever writes it chooses
    ASSERT_EQ(cli({"program", "--serial", "G1", "--no-plaintext", "--pskc", dir.filePath("good"),
                   "--pskc-password-file", dir.filePath("password")})
                  .code,
              0);
    std::map<QString, QByteArray> containers = {{"good", contents(dir.filePath("good"))}};
    QByteArray& tampered = containers["tampered"] = containers["good"];
    const qsizetype secret =
        tampered.indexOf("<xenc:CipherValue>", tampered.indexOf("<pskc:Secret>"));
    tampered[secret + 20] = tampered[secret + 20] == 'A' ? 'B' : 'A';
    containers["cut"] = containers["good"].left(100);
    for (const auto& [name, bytes] : containers)
        write(name, bytes);

    struct Case
    {
        QStringList before;
        QStringList args;
        QByteArray input;
        int code;
        const char* inErr;
        QString program = QStringLiteral(BIN_DIR "/vnotp-cli"); // /bin/sh passes any bytes
    };
    const QStringList program = {"program", "--out-dir", "$D/seeds"};
    // clang-format off
    std::vector<Case> cases = {
        {{}, {"list", "--jsn"}, {}, 2, "unknown option '--jsn'; did you mean '--json'?"},
        {{}, {"--jsn", "list"}, {}, 2, "unknown option '--jsn'; did you mean '--json'?"},
        {{}, {"list", "--frobnicate"}, {}, 2, "unknown option '--frobnicate' (see"},
        {{}, {"--json", "list"}, {}, 2, "'--json' is an option of a command: give it after the command"},
        {{}, {"--pin-stdin", "otp", "NOPE"}, "1234\n", 2, "The key holds no token SN=NOPE."},
        {{}, {"--pin-file", "x", "lst"}, {}, 2, "unknown command 'lst'; did you mean 'list'?"},
        {{}, {"pskc", "shwo", "x"}, {}, 2, "unknown command 'shwo'; did you mean 'show'?"},
        {{}, {"plgu", "x"}, {}, 2, "unknown command 'plgu'; did you mean 'plug'?", BIN_DIR "/vnkey"},
        {{}, {"reset"}, {}, 2, "add --yes"},
        {{}, program + QStringList{"--serial", "12345678901234"}, {}, 2,
         "The serial number is too long (at most 13 characters)."},
        {{}, program + QStringList{"--seed-file", "-"}, "XYZ\n", 2, "Invalid seed format!"},
        {{}, program + QStringList{"--seed-file", "-"}, QByteArray(40, '0'), 2,
         "A seed of zeros only is refused"},
        {{}, program + QStringList{"--seed-file", "$D/blank"}, {}, 2, "$D/blank holds no seed"},
        {{}, program + QStringList{"--seed-file", "$D/seeds"}, {}, 2, "is a folder and holds no seed"},
        {{}, program + QStringList{"--seed-file", "-"}, {}, 2, "standard input holds no seed"},
        {{}, program + QStringList{"--seed-file", "/dev/zero"}, {}, 2, "longer than 4096 bytes"},
        {{}, program + QStringList{"--serial", "A\nB"}, {}, 2,
         "The serial number must not contain a control character such as a line break, nor an "
         "invisible or direction-changing one."},
        {{}, program + QStringList{"--user", "\x1b[2J"}, {}, 2,
         "The user name must not contain a control character such as a line break"},
        // C1, separators, bidirectional overrides and isolates, zero width.
        {{}, program + QStringList{"--user", "a\u0085b"}, {}, 2, "The user name must not contain"},
        {{}, program + QStringList{"--serial", "A\u2028B"}, {}, 2, "The serial number must not contain"},
        {{}, program + QStringList{"--user", "admin\u202Egpj.exe"}, {}, 2, "The user name must not contain"},
        {{}, program + QStringList{"--user", "\u2066ann\u2069"}, {}, 2, "The user name must not contain"},
        {{}, program + QStringList{"--serial", "VT\u200B1"}, {}, 2, "The serial number must not contain"},
        {{}, program + QStringList{"--user", "ann\u2060"}, {}, 2, "The user name must not contain"},
        {{}, {"-c", BIN_DIR "/vnotp-cli program --out-dir $D/seeds --user \"$(printf 'a\\357\\277\\277')\""},
         {}, 2, "The user name holds characters the seed files cannot store.", "/bin/sh"}, // U+FFFF
        {{}, {"remove", "X\x1b[2J\n"}, {}, 2, "remove deletes the token SN=X\\x1B[2J\\n for good"},
        {{}, {"-c", BIN_DIR "/vnotp-cli program --out-dir $D/seeds --user \"$(printf '\\377')\""}, {},
         2, "The user name holds characters the seed files cannot store.", "/bin/sh"},
        {{}, {"-c", BIN_DIR "/vnotp-cli otp \"$(printf 'A\\377')\""}, {}, 2, "not valid UTF-8", "/bin/sh"},
        {{}, program + QStringList{"--user", "Doe, Jane"}, {}, 2,
         "a double quote: the CSV seed file cannot hold them. With --pskc FILE --no-plaintext"},
        {{}, {"batch", "--users", "$D/users", "-o", "$D/seeds"}, {}, 2,
         "$D/users, line 4 (\"Doe, Jane\"): The user name must not contain a comma"},
        {{}, {"batch", "--users", "$D/twice", "--oath-users", "$D/u", "--oath-users-replace"}, {}, 2,
         "the users file $D/twice names \"ann\" twice (lines 1 and 3)"},
        {{}, {"batch", "--users", "$D/spaced", "--oath-users", "$D/u", "--no-plaintext"}, {}, 2,
         "The user name \"c d\" cannot go into the pam_oath users file $D/u"},
        {{}, {"batch", "--users", "$D/team", "--oath-users", "$D/users.oath", "--no-plaintext"}, {}, 2, "(line 1), which is left as it is. Choose to replace that "
         "user's line, or another user name. (--oath-users-replace replaces it)"},
        {{}, {"program", "--serial", "G1", "--no-plaintext", "--pskc", "$D/good",
              "--pskc-password-file", "$D/password"}, {}, 2, "$D/good already holds the token G1; "
         "give --serial a serial number no destination holds, such as VT2000000101"},
        {{}, {"pin", "set", "--new-pin-file", "$D/newpin"}, {}, 2,
         "Please enable PIN policy before setting a PIN."},
        {{}, {"pin", "policy", "--enable", "--max-repeating", "256"}, {}, 2,
         "--max-repeating: Please enter a whole number from 0 to 255 for the maximum number of "
         "repeating letters."},
        {{"pin"}, {"pin", "change", "--new-pin-file", "$D/newpin"}, {}, 6, "--pin-file"},
        {{}, {"batch", "-k", "1", "--pin-policy", "min-length=6", "--new-pin-file", "$D/newpin"}, {},
         2, "--new-pin-file: The minimum PIN length allowed is 6"},
        {{}, {"batch", "--users", "$D/open-users", "--oath-users", "$D/seeds/u", "--oath-users-replace"},
         {}, 2, "$D/open-users: can be written by other accounts, who could change what it holds; "
         "it is not read."},
        {{}, {"remove", "X"}, {}, 2, "add --yes"},
        {{}, program + QStringList{"--serial", "=1+2"}, {}, 2,
         "The serial number must not begin with =, +, - or @"},
        {{}, program + QStringList{"--type", "hotp", "--verify"}, {}, 2,
         "--verify works on TOTP tokens only"},
        {{}, program + QStringList{"--no-plaintext"}, {}, 2,
         "--no-plaintext needs --pskc or --oath-users"},
        {{}, program + QStringList{"--oath-users", "$D/users", "--user", "a b"}, {}, 2,
         "The user name \"a b\" cannot go into the pam_oath users file $D/users"},
        {{}, {"program", "--out-dir", "$D/missing"}, {}, 2, "the seed folder $D/missing does not exist"},
        // A mistyped name would leave the lost token valid and enrol a stranger.
        {{}, {"program", "--replace-for", "ann", "--oath-users", "$D/users.oath", "--no-plaintext"}, {}, 2,
         "--replace-for: \"ann\" has no line in the pam_oath users file $D/users.oath: there is no token to replace."},
        {{}, {"program", "--replace-for", "bob", "--oath-users", "$D/seeds/u", "--pskc", "$D/good",
              "--pskc-password-file", "$D/password", "--no-plaintext"}, {}, 2,
         "\"bob\" has no line in the pam_oath users file $D/seeds/u and no active token in the PSKC file $D/good"},
        {{"bad xml"}, program, {}, 2, "$D/seeds/tseeds.xml cannot be parsed"},
        {{}, {"otp", "NOPE"}, {}, 2, "The key holds no token SN=NOPE."},
        {{"unplug", kKey}, {"info"}, {}, 3, "0x80564E02"},
        {{"create", "VT20000002", "--plug", "--pin-mode", "Software"}, {"list"}, {}, 3, "0x80564E03"},
        {{"set", kKey, "--touch", "never", "--timeout", "1"}, {"reset", "--yes"}, {}, 4,
         "0x800A6984"},
        {{"pin"}, program, "1234\n", 6, "--pin-file"}, // standard input only with --pin-stdin
        {{"pin"}, QStringList{"--pin-stdin"} + program, "4321\n", 6, "PIN is incorrect."},
        {{"pin"}, QStringList{"--pin-file", "$D/empty"} + program, {}, 6, "holds no PIN; the key was not asked"},
        {{"pin"}, QStringList{"--pin-file", "$D/seeds"} + program, {}, 6, "$D/seeds: is a folder"},
    };
    const std::array<const char*, 4> refusedContainers[] = {
        {"good", "--pskc-password-file", "wrong", "the password is wrong"},
        {"tampered", "--pskc-password-file", "password", "MAC of the Secret of key G1 does not match"},
        {"good", "--pskc-key-file", "key", "protected by a password"},
        {"cut", "--pskc-password-file", "password", "not well-formed XML"},
    };
    // clang-format on
    for (const auto& [file, option, credential, inErr] : refusedContainers) {
        const QStringList used = {"$D/" + QString(file), option, "$D/" + QString(credential)};
        cases.push_back({{}, program + QStringList{"--pskc"} + used, {}, 2, inErr});
        cases.push_back({{}, QStringList{"pskc", "show"} + used, {}, 2, inErr});
    }
    const QString seeds = dir.filePath("seeds");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        fresh({kKey});
        QDir(seeds).removeRecursively();
        ::mkdir(qPrintable(seeds), 0700);
        if (c.before == QStringList{"pin"})
            set_pin(kKey);
        else if (c.before == QStringList{"bad xml"})
            write("seeds/tseeds.xml", "<data><tokens>");
        else if (!c.before.isEmpty())
            vnkey(c.before);
        const ProcessRun result =
            cli(QStringList(c.args).replaceInStrings("$D", dir.path()), c.input, c.program);
        EXPECT_EQ(result.code, c.code) << result.err;
        EXPECT_TRUE(has(result.err, QString(c.inErr).replace("$D", dir.path()).toStdString()))
            << result.err;
        // Only the key that was never touched was asked to be.
        EXPECT_EQ(has(result.err, "Please touch"), c.code == 4) << result.err;
        EXPECT_FALSE(has(result.out + result.err, "SEED=")) << result.err;
        EXPECT_FALSE(QFile::exists(seeds + "/tseeds.csv"));
        EXPECT_EQ(cli({"list"}).out, "");
    }
    for (const auto& [name, bytes] : containers)
        EXPECT_EQ(contents(dir.filePath(name)), bytes) << name.toStdString();
    EXPECT_EQ(contents(dir.filePath("users.oath")),
              "HOTP bob - 3132333435363738393031323334353637383930\n");
}

// Short options and values in any case; each success line names the key. The
// seed files are then written again by the New Token dialog, byte for byte.
// (The key's OTPs against oathtool and pam_oath: the README's examples and
// oath_reference_test.sh.)
TEST_F(CliTest, ProgramsListsComputesRemovesAndResetsAsTheWindowDoes)
{
    set_pin(kKey);
    const QString pin = write("pin", "1234\n");
    ::chmod(qPrintable(pin), 0644);
    const QStringList program = {"--pin-file", pin,     "program", "--seed-file", "-",
                                 "-u",         "alice", "-o",      dir.path()};
    const QString seed32 = kSeed + "313233343536373839303132";
    const ProcessRun hotp = cli(
        program + QStringList{"-t", "HOTP", "-s", "VT2000000101", "--no-enter"}, kSeed.toLatin1());
    ASSERT_EQ(hotp.code, 0) << hotp.err;
    EXPECT_FALSE(has(hotp.out, kSeed.toStdString())) << "seed shown unasked";
    EXPECT_TRUE(has(hotp.err, "warning: " + pin.toStdString() + " can be read by other accounts"));
    EXPECT_TRUE(has(vnkey({"show", kKey}).out, "ENTER after OTP: off"));
    const ProcessRun totp =
        cli(program + QStringList{"--verify", "-H", "SHA256", "-d", "8", "-i", "60"},
            seed32.toLatin1());
    ASSERT_EQ(totp.code, 0) << totp.err;

    EXPECT_EQ(cli({"list"}).out, "VT2000000101   HOTP   SHA-1    6      30\n"
                                 "VT2000000102   TOTP   SHA-256  8      60\n");
    EXPECT_EQ(json::parse(cli({"info", "--json"}).out)["key"]["pinSet"], true);
    // With the PIN from the file; the key counts from zero (RFC 4226).
    EXPECT_EQ(cli({"--pin-file", pin, "otp", "VT2000000101"}).out, "755224\n");

    EXPECT_EQ(cli({"--pin-file", pin, "remove", "-y", "VT2000000101"}).out,
              "Deleted token SN=VT2000000101 (HOTP) from key VT20000001\n");
    // The TOTP token's program set it on.
    EXPECT_EQ(cli({"enter", "OFF"}).out, "Key VT20000001 types ENTER after an OTP: off\n");
    EXPECT_TRUE(has(vnkey({"show", kKey}).out, "ENTER after OTP: off"));
    EXPECT_TRUE(has(cli({"reset", "-y"}).out, "Erased key VT20000001 (1 token)"));
    EXPECT_EQ(cli({"list"}).out, "");

    QTemporaryDir fromDialog;
    SeedFileRecorder files(fromDialog.path().toStdString());
    Recorder* const recorders[] = {&files};
    LinkedDevice device;
    for (const auto& [serial, seed, choices] :
         {std::tuple{"VT2000000101", kSeed, QStringList{"hotpRadio"}},
          {"VT2000000102",
           seed32,
           {"totpRadio", "sha256Radio", "digits8Radio", "interval60Radio"}}}) {
        CNewTokenDlg dialog(device.api(), kKey.toStdString(), "", serial, recorders);
        dialog.findChild<QLineEdit*>("seedEdit")->setText(seed);
        dialog.findChild<QLineEdit*>("userNameEdit")->setText("alice");
        for (const QString& choice : choices)
            dialog.findChild<QAbstractButton*>(choice)->setChecked(true);
        dialog.OnBnClickedSave();
        ASSERT_EQ(dialog.saveResult(), kProgrammingSucceeded);
    }
    for (const char* name : {"hseeds.xml", "hseeds.csv", "tseeds.xml", "tseeds.csv"}) {
        EXPECT_FALSE(contents(dir.filePath(name)).isEmpty()) << name;
        EXPECT_EQ(contents(dir.filePath(name)), contents(fromDialog.filePath(name))) << name;
    }
}

// The seed changes behind the program's back while it waits for the touch
// that verifies: the key then computes from a seed other than the recorded one.
TEST_F(CliTest, VerifyCatchesAKeyWhoseSeedIsNotTheRecordedOne)
{
    vnkey({"set", kKey, "--touch", "manual", "--timeout", "20"});
    Running program({"program", "--verify", "--serial", "V1", "--out-dir", dir.path()});
    ASSERT_TRUE(program.said("Please touch the key..."));
    vnkey({"touch"});
    ASSERT_TRUE(program.said("Please touch the key...")) << program.err.toStdString();
    edit_key(kKey, [](vkey::KeyState& key) { key.tokens.at(0).seed.at(0) ^= 1; });
    vnkey({"touch"});
    const ProcessRun result = program.finish();
    EXPECT_EQ(result.code, 4) << result.err;
    EXPECT_TRUE(has(result.err, "The key's OTP for SN=V1 (")) << result.err;
    EXPECT_TRUE(has(result.err, ") does not match its seed's (")) << result.err;
}

// Every --json document against the shipped JSON Schema, as Debian's
// python3-jsonschema reads it; then what a schema cannot say. The serial of
// 13 characters is the longest the key takes.
TEST_F(CliTest, EveryJsonOutputHasTheOneDocumentedShape)
{
    const QString pskc = dir.filePath("t.pskc");
    const QStringList credential = {"--pskc-password-file", write("password", "pass phrase\n")};
    const QString newPin = write("newpin", "1357\n");
    const QStringList commands[] = {
        QStringList{"program", "--verify", "-j", "--show-seed", "-u", "Doe, Jane", "--no-plaintext",
                    "--pskc", pskc} +
            credential,
        {"program", "-t", "hotp", "-s", "VT20000001013", "-j", "-o", dir.path()},
        {"batch", "-k", "1", "-n", "2", "-j", "-o", dir.path()},
        {"info", "-j"},
        {"list", "-j"},
        QStringList{"pskc", "show", pskc, "-j", "--show-seed"} + credential,
        QStringList{"pskc", "retire", pskc, "VT2000000101"} + credential,
        QStringList{"pskc", "show", pskc, "-j", "--retired"} + credential,
        {"pin", "policy", "--enable", "--min-length", "4", "-j"},
        {"pin", "set", "--new-pin-file", newPin, "-j"},
    };
    std::vector<json> shown;
    for (const QStringList& args : commands) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const ProcessRun result = cli(args);
        ASSERT_EQ(result.code, 0) << result.err;
        if (!args.contains("-j"))
            continue;
        const ProcessRun valid =
            cli({"-c",
                 "import json, sys, jsonschema as j; v = j.Draft202012Validator(json.load(open("
                 "sys.argv[1]))); v.check_schema(v.schema); v.validate(json.load(sys.stdin))",
                 JSON_SCHEMA},
                QByteArray::fromStdString(result.out), "/usr/bin/python3");
        EXPECT_EQ(valid.code, 0) << valid.err;
        shown.push_back(json::parse(result.out));
    }
    const json& verified = shown[0]["tokens"][0];
    EXPECT_EQ(verified["verified"], true);
    EXPECT_EQ(verified["verification"]["keyOtp"], verified["verification"]["seedOtp"]);
    for (const json& token :
         {verified, shown[2]["keys"][0]["tokens"][1], shown[4]["tokens"][3], shown[5]["tokens"][0]})
        EXPECT_EQ(token["keySerial"], kKey.toStdString()) << token;
    EXPECT_EQ(shown[5]["tokens"][0]["user"], "Doe, Jane");
    EXPECT_EQ(shown[5]["tokens"][0]["seed"], verified["seed"]);
    EXPECT_EQ(shown[3]["key"]["tokenCount"], 4);
    EXPECT_TRUE(shown[6]["tokens"][0].contains("retired")) << shown[6];
    EXPECT_EQ(shown[7]["policy"]["minLength"], 4);
    EXPECT_EQ(shown[8]["key"]["pinSet"], true);
    // Retired, the token is no longer listed as active.
    EXPECT_TRUE(cli(QStringList{"pskc", "show", pskc} + credential)
                    .out.ends_with(")\nSERIAL         KEY          TYPE   HASH     DIGITS INTERVAL "
                                   "USER\n"));
}

// Standard output holds the documented results only, whatever the key's PIN
// state, so a script can parse the JSON and read the OTP; diagnostics go to
// standard error with --verbose alone, where a key without a PIN record is a
// note, not an error. Nothing is written under /tmp but the scratch folder.
TEST_F(CliTest, StandardOutputHoldsOnlyResultsWhateverThePinState)
{
    const QString pin = write("pin", "1234\n");
    const std::string policy =
        pin_policy_text({.enabled = 1, .maxSequential = 9, .maxRepeating = 9});
    using Edit = std::function<void(vkey::KeyState&)>;
    const std::tuple<const char*, Edit, QStringList> keys[] = {
        {"software mode, no PIN record", [](vkey::KeyState& k) { k.hardwareAccess = false; }, {}},
        {"hardware mode with a PIN",
         [](vkey::KeyState& k) { k.accessCode = "1234"; },
         {"--pin-file", pin}},
        {"a PIN policy but no PIN",
         [&](vkey::KeyState& k) {
             k.hardwareAccess = false;
             k.pinRecord =
                 vkey::Token{VN_TYPE_TOTP, VN_HASH_SHA1, 6,
                             30,           policy,       {'5', '0', '8', '2', '7', '4', '1', '3'}};
         },
         {}},
    };
    const QRegularExpression tmpPath(R"re("(/tmp/[^"]*)")re");
    const QString keyFolder = qEnvironmentVariable("VN_KEY_DIR");
    const QRegularExpression writing(
        R"re(O_WRONLY|O_RDWR|O_CREAT|\b(mkdir|rename|unlink|link|symlink|chmod)\w*\()re");
    int run = 0;
    for (const auto& [what, edit, pinOptions] : keys) {
        SCOPED_TRACE(what);
        fresh({kKey});
        edit_key(kKey, edit);
        // Under strace, which records every file the program opens or changes.
        // A sanitizer build's leak check cannot run under ptrace, so it is off
        // for these runs alone.
        const auto traced = [&](const QStringList& args) {
            const QString trace = dir.filePath(QString("trace%1").arg(++run));
            const ProcessRun result =
                cli(QStringList{"-f", "-qq", "-e", "trace=%file", "-o", trace, "-E",
                                "ASAN_OPTIONS=detect_leaks=0", BIN_DIR "/vnotp-cli"} +
                        pinOptions + args,
                    {}, "/usr/bin/strace");
            for (const QString& line : QString(contents(trace)).split('\n')) {
                if (!writing.match(line).hasMatch())
                    continue;
                // The virtual key's folder is the key itself: it lies under /tmp
                // when the checkout does.
                for (const auto& path : tmpPath.globalMatch(line))
                    EXPECT_TRUE(path.captured(1).startsWith(dir.path() + "/") ||
                                path.captured(1).startsWith(keyFolder + "/"))
                        << line.toStdString();
            }
            return result;
        };
        const ProcessRun programmed = traced({"program", "-j", "-o", dir.path()});
        ASSERT_EQ(programmed.code, 0) << programmed.err;
        const json document = json::parse(programmed.out, nullptr, false);
        ASSERT_TRUE(document.is_object()) << programmed.out;
        const json token = document["tokens"][0];
        for (const QStringList& args : {QStringList{"info", "-j"}, QStringList{"list", "-j"}}) {
            const ProcessRun shown = traced(args);
            EXPECT_EQ(shown.code, 0) << shown.err;
            EXPECT_EQ(json::parse(shown.out, nullptr, false).value("command", ""),
                      args[0].toStdString())
                << shown.out;
            EXPECT_FALSE(has(shown.err, "rror")) << shown.err;
        }
        const ProcessRun otp = traced({"otp", QString::fromStdString(token["serial"])});
        EXPECT_TRUE(
            QRegularExpression("^\\d{6}\n$").match(QString::fromStdString(otp.out)).hasMatch())
            << otp.out << otp.err;
        EXPECT_FALSE(has(programmed.err + otp.err, "rror")) << programmed.err + otp.err;
        const ProcessRun verbose = traced({"-v", "info", "-j"});
        EXPECT_TRUE(json::parse(verbose.out, nullptr, false).is_object()) << verbose.out;
        EXPECT_EQ(has(verbose.err, "vnotp-cli: note: the key holds no PIN record"),
                  std::string(what) == "software mode, no PIN record")
            << verbose.err;
        EXPECT_FALSE(has(verbose.err, "rror")) << verbose.err;
    }
}

// A listed token's JSON is worded from its values: one the tool does not
// know is null, never text, and HOTP has no interval.
TEST(CliJson, AListedTokenIsWordedFromItsValues)
{
    const std::pair<ListedToken, json> cases[] = {
        {{"H", TokenType::Hotp, OtpHash::Sha256, 8, 60, {}},
         {{"type", "HOTP"}, {"hash", "SHA-256"}, {"digits", 8}, {"interval", nullptr}}},
        {{"C", TokenType::ChallengeResponse, OtpHash::Sha1, 6, 30, {}},
         {{"type", "CHALLENGE_RESPONSE"}, {"hash", "SHA-1"}, {"digits", 6}, {"interval", 30}}},
        {{"X", std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}},
         {{"type", nullptr}, {"hash", nullptr}, {"digits", nullptr}, {"interval", nullptr}}},
    };
    for (const auto& [token, expected] : cases) {
        const json shown = token_json(token, "K1");
        for (const auto& [field, value] : expected.items())
            EXPECT_EQ(shown[field], value) << token.serial << ' ' << field;
        EXPECT_EQ(shown["serial"], token.serial);
    }
}

} // namespace
