// vnotp-cli's encrypted export on virtual keys, read back by python3-pskc and
// by the narrow server import of strict_import.py, and checked against
// oathtool, which no one here wrote. (The containers it must refuse:
// cli_commands_test.)

#include "cli/CliSupport.h"

#include <nlohmann/json.hpp>

#include <set>

namespace {

using nlohmann::json;

const QString kSeed20 = QStringLiteral("3132333435363738393031323334353637383930");
const QString kSeed32 = kSeed20 + QStringLiteral("313233343536373839303132");

class CliPskc : public CliTest
{
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        password = write("password", "pass phrase\n");
        keyFile =
            write("key", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f\n");
    }

    // The container's keys as python3-pskc decrypts them.
    static json reference(const QStringList& args)
    {
        const ProcessRun dump = cli(QStringList{PSKC_REFERENCE} + args, {}, "/usr/bin/python3");
        EXPECT_EQ(dump.code, 0) << dump.err;
        return json::parse(dump.out, nullptr, false);
    }

    QString password;
    QString keyFile;
};

// `program --pskc` with a key file, as python3-pskc decrypts it and `pskc show`
// lists it; a comma in a user name is fine without a CSV file, a leading @ in
// an HOTP token's, whose CSV file has no user column. (A password and
// --no-plaintext writing no seed file: the README's examples.)
TEST_F(CliPskc, ProgramWritesWhatPythonPskcDecryptsAndShowLists)
{
    const json expected = json::parse(R"([
      {"id": "H1", "algorithm": "urn:ietf:params:xml:ns:keyprov:pskc:hotp", "suite": "sha1",
       "digits": 6, "encoding": "DECIMAL", "counter": 0, "interval": null,
       "user": "@alice", "manufacturer": "Halvorn Security", "model": "Vornik",
       "serial": "H1", "binding": "VT20000001",
       "secret": "3132333435363738393031323334353637383930"},
      {"id": "T1", "algorithm": "urn:ietf:params:xml:ns:keyprov:pskc:totp",
       "suite": "sha256", "digits": 8, "encoding": "DECIMAL", "counter": null,
       "interval": 60, "user": "Doe, Jane", "manufacturer": "Halvorn Security",
       "model": "Vornik", "serial": "T1", "binding": "VT20000001",
       "secret": "3132333435363738393031323334353637383930313233343536373839303132"}])");
    const QString pskc = keyFile + ".pskc";
    const QStringList credential = {"--pskc-key-file", keyFile};
    const ProcessRun hotp =
        cli(QStringList{"program", "--type", "hotp", "--serial", "H1", "--seed-file", "-", "--user",
                        "@alice", "--out-dir", dir.path(), "--pskc", pskc} +
                credential,
            kSeed20.toLatin1());
    ASSERT_EQ(hotp.code, 0) << hotp.err;
    const ProcessRun totp =
        cli(QStringList{"program", "--hash", "sha256", "--digits", "8", "--interval", "60",
                        "--serial", "T1", "--seed-file", "-", "--user", "Doe, Jane",
                        "--no-plaintext", "--pskc", pskc} +
                credential,
            kSeed32.toLatin1());
    ASSERT_EQ(totp.code, 0) << totp.err;

    ASSERT_EQ(reference({"dump", pskc, "--key-file", keyFile}), expected);
    // --serial matches the token's serial and the key's.
    for (const char* serial : {"t1", "vt20000001"})
        EXPECT_EQ(cli(QStringList{"pskc", "show", pskc, "--serial", serial, "--user", "JANE",
                                  "--show-seed"} +
                      credential)
                      .out,
                  "Profile: interop (AES-256-CBC, HMAC-SHA1, a pre-shared key)\n"
                  "SERIAL         KEY          TYPE   HASH     DIGITS INTERVAL USER\n"
                  "T1             VT20000001   TOTP   SHA-256  8      60       Doe, Jane SEED=" +
                      kSeed32.toStdString() + "\n")
            << serial;

    // Into a pam_oath users file: T1, read from the PSKC file, is refused
    // for its user name; H1 from hseeds.xml goes in without a password.
    const QString users = dir.filePath("users.oath");
    const ProcessRun refused =
        cli(QStringList{"pskc", "convert", pskc, "--oath-users", users} + credential);
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(has(refused.err, "\"Doe, Jane\" cannot go into the pam_oath users file"))
        << refused.err;
    EXPECT_FALSE(QFileInfo::exists(users));
    ASSERT_EQ(cli({"pskc", "convert", dir.filePath("hseeds.xml"), "--oath-users", users}).code, 0);
    EXPECT_EQ(contents(users), "HOTP @alice - " + kSeed20.toLatin1() + "\n");

    // Neither a UserId nor a Key Id is MAC-protected: whoever can write the
    // file can put a line break, an ESC sequence, bytes that are not UTF-8 or
    // one Key Id three times there.
    QByteArray doctored = contents(keyFile + ".pskc");
    doctored.replace("@alice", "a&#10;b&#27;[2J\xff").replace("Id=\"T1\"", "Id=\"H1\"");
    const qsizetype first = doctored.indexOf("<pskc:KeyPackage>");
    const qsizetype end = doctored.indexOf("</pskc:KeyPackage>") + qsizetype(18);
    doctored.insert(first, doctored.mid(first, end - first));
    const QString odd = write("odd.pskc", doctored);
    const ProcessRun text = cli({"pskc", "show", odd, "--pskc-key-file", keyFile});
    EXPECT_TRUE(has(text.out, "VT20000001   HOTP   SHA-1    6      -        a\\nb\\x1B[2J\\xFF\n"))
        << text.out;
    EXPECT_EQ(QString::fromStdString(text.err).count("holds the Key Id H1 more than once"), 1)
        << text.err;
    // Into the users file such a UserId is refused as --user refuses it, and named printably.
    const QString named =
        write("named.pskc", contents(keyFile + ".pskc").replace("@alice", "a&#10;b&#27;[2J\xff"));
    const ProcessRun toUsers =
        cli({"pskc", "convert", named, "--oath-users", users, "--pskc-key-file", keyFile});
    EXPECT_EQ(toUsers.code, 2);
    EXPECT_TRUE(has(toUsers.err, "user \"a\\nb\\x1B[2J\\xFF\": The user name holds characters"))
        << toUsers.err;
    EXPECT_EQ(contents(users), "HOTP @alice - " + kSeed20.toLatin1() + "\n");
    const ProcessRun asJson = cli({"pskc", "show", odd, "--json", "--pskc-key-file", keyFile});
    ASSERT_EQ(asJson.code, 0) << asJson.err;
    EXPECT_EQ(json::parse(asJson.out)["tokens"][0]["user"], "a\nb\x1b[2J\uFFFD");
    EXPECT_EQ(json::parse(asJson.out)["duplicates"], json::array({"H1"}));

    // A file written elsewhere with too few PBKDF2 iterations, or a salt
    // shorter than 16 bytes, is shown, but not extended; its tokens move into
    // a new file as they were.
    const QString weak = dir.filePath("weak.pskc"), moved = dir.filePath("moved.pskc");
    for (const auto& [iterations, salt, why] :
         {std::tuple{"1", "16", "(1 PBKDF2 iterations and a 16-byte salt"},
          std::tuple{"100000", "15", "(100000 PBKDF2 iterations and a 15-byte salt"}}) {
        ASSERT_EQ(
            cli({PSKC_REFERENCE, "write", weak, write("tokens.json", expected.dump().c_str()),
                 "--password-file", password, "--iterations", iterations, "--salt-length", salt},
                {}, "/usr/bin/python3")
                .code,
            0);
        EXPECT_EQ(cli({"pskc", "show", weak, "--pskc-password-file", password}).code, 0);
        const ProcessRun extend =
            cli({"program", "--no-plaintext", "--pskc", weak, "--pskc-password-file", password});
        EXPECT_EQ(extend.code, 2) << extend.err;
        EXPECT_TRUE(has(extend.err, why)) << extend.err;
        EXPECT_TRUE(has(extend.err, "pskc convert " + weak.toStdString() + " --out")) << extend.err;
    }
    EXPECT_EQ(cli({"pskc", "convert", weak, "--out", moved, "--pskc-password-file", password}).code,
              0);
    EXPECT_EQ(reference({"dump", moved, "--password-file", password}), expected);
}

// Between the first two keys another writer converts a seed file into the
// batch's container (removing the file only once that is written), and the
// batch keeps its token; a container it cannot extend refuses the third key.
TEST_F(CliPskc, BatchKeepsAnotherWritersTokensAndRefusesAFileItCannotExtend)
{
    const QStringList keys = {"VT20000001", "VT20000002", "VT20000003"};
    vnkey({"create", keys[1], "--touch", "auto:0"});
    vnkey({"create", keys[2], "--touch", "auto:0"});
    const QString pskc = dir.filePath("batch.pskc");
    // A seed file with one HOTP row, UTF-16LE as the tool writes it.
    const QString row = "C1," + kSeed20 + "\r\n";
    const QString other =
        write("hseeds.csv", QByteArray(reinterpret_cast<const char*>(row.utf16()), row.size() * 2));
    Running batch({"batch", "--keys", "3", "--type", "hotp", "--json", "--show-seed",
                   "--no-plaintext", "--pskc", pskc, "--pskc-password-file", password});
    for (const QString& key : keys) {
        for (const QString& out : {dir.filePath("missing/out.pskc"), pskc}) {
            if (key != keys[1])
                break; // the first attempt's output folder is missing: refused
            const ProcessRun converted =
                cli({"pskc", "convert", other, "--digits", "6", "--out", out, "--remove-sources",
                     "--pskc-password-file", password});
            EXPECT_EQ(converted.code, out == pskc ? 0 : 2) << converted.err;
            EXPECT_EQ(QFile::exists(other), out != pskc);
        }
        if (key == keys[2]) {
            ASSERT_TRUE(QFile::rename(pskc, dir.filePath("saved.pskc")));
            ASSERT_TRUE(QDir(dir.path()).mkdir("batch.pskc"));
        }
        vnkey({"plug", key});
        ASSERT_TRUE(batch.said(key + ", ")) << batch.err.toStdString();
        vnkey({"unplug", key});
    }
    const ProcessRun result = batch.finish();
    EXPECT_EQ(result.code, 2) << result.err;
    EXPECT_TRUE(has(result.err, "VT20000003, 0 tokens programmed, 1 failed")) << result.err;
    EXPECT_TRUE(has(vnkey({"show", keys[2]}).out, "Tokens: 0 of 20"));
    EXPECT_FALSE(has(result.err, "SEED=")) << result.err;

    const json summary = json::parse(result.out);
    const json stored =
        reference({"dump", dir.filePath("saved.pskc"), "--password-file", password});
    ASSERT_EQ(stored.size(), 3u) << stored;
    EXPECT_EQ(stored[1]["id"], "C1");
    // (That the seeds are the keys': the README's examples.)
    for (const auto& [at, key] : {std::pair{0, 0}, std::pair{2, 1}})
        EXPECT_EQ(stored[at]["id"], summary["keys"][key]["tokens"][0]["serial"]);
}

// A server's strict import (strict_import.py: RFC 6030's mandatory
// algorithms only, each token by its DeviceInfo/SerialNo, its hash by Suite)
// takes every token of the interop files that batch (three tokens on a key),
// program and `pskc convert` of a strong file write, with the key's seed,
// digits, time step and hash: the key's OTP equals oathtool's from what was
// imported. The strong file itself it refuses, and the strong file is not
// extended as an interop one.
TEST_F(CliPskc, InteropFilesImportIntoAStrictServerImportTokenByToken)
{
    const QString interop = dir.filePath("server.pskc"), strong = dir.filePath("strong.pskc"),
                  converted = dir.filePath("converted.pskc");
    const QStringList withPassword = {"--no-plaintext", "--pskc-password-file", password};
    const ProcessRun batch =
        cli(QStringList{"batch", "--keys", "1", "--tokens-per-key", "3", "--hash", "sha256",
                        "--digits", "8", "--pskc", interop} +
            withPassword);
    ASSERT_EQ(batch.code, 0) << batch.err;
    for (const QStringList& program :
         {QStringList{"--type", "hotp", "--serial", "H9", "--pskc", interop},
          QStringList{"--interval", "60", "--serial", "S1", "--pskc", strong, "--pskc-profile",
                      "strong"}})
        ASSERT_EQ(cli(QStringList{"program"} + program + withPassword).code, 0);
    const ProcessRun mixed = cli(
        QStringList{"program", "--serial", "S2", "--pskc", strong, "--pskc-profile", "interop"} +
        withPassword);
    EXPECT_EQ(mixed.code, 2);
    EXPECT_TRUE(has(mixed.err, "not the interop profile asked for")) << mixed.err;
    ASSERT_EQ(cli({"pskc", "convert", strong, "--out", converted, "--pskc-profile", "interop",
                   "--pskc-password-file", password})
                  .code,
              0);
    for (const auto& [file, profile] :
         {std::pair{strong, "Profile: strong (AES-256-CBC, HMAC-SHA256, PBKDF2 with HMAC-SHA256"},
          std::pair{converted, "Profile: interop (AES-128-CBC, HMAC-SHA1, PBKDF2 with HMAC-SHA1"}})
        EXPECT_TRUE(
            cli({"pskc", "show", file, "--pskc-password-file", password}).out.starts_with(profile));

    const auto strict = [&](const QString& file) {
        return cli({STRICT_IMPORT, file, "--password-file", password}, {}, "/usr/bin/python3");
    };
    EXPECT_TRUE(has(strict(strong).err, "a PBKDF2 PRF other than HMAC-SHA1"));
    json imported = json::parse(strict(interop).out, nullptr, false);
    ASSERT_TRUE(imported.is_array() && imported.size() == 4u) << strict(interop).err;
    imported.push_back(json::parse(strict(converted).out, nullptr, false).at(0));
    std::set<std::string> serials;
    for (const json& token : imported) {
        SCOPED_TRACE(token.dump());
        const std::string serial = token["serial"];
        serials.insert(serial);
        const bool hotp = token["algorithm"] == "hotp";
        const QStringList oathtool = {hotp ? "--hotp"
                                           : "--totp=" + QString::fromStdString(token["hash"]),
                                      "-d",
                                      QString::number(token["digits"].get<int>()),
                                      "-s",
                                      QString::number(token.value("interval", 30)),
                                      QString::fromStdString(token["secret"])};
        // A TOTP step may end between the two.
        const std::string before = cli(oathtool, {}, "/usr/bin/oathtool").out;
        const std::string key = cli({"otp", QString::fromStdString(serial)}).out;
        const std::string after = cli(oathtool, {}, "/usr/bin/oathtool").out;
        EXPECT_TRUE(!key.empty() && (key == before || key == after)) << key << " " << before;
        EXPECT_EQ(token["hash"], serial == "H9" || serial == "S1" ? "sha1" : "sha256");
        EXPECT_EQ(token["digits"], serial == "H9" || serial == "S1" ? 6 : 8);
        EXPECT_EQ(token.value("interval", 0), hotp ? 0 : serial == "S1" ? 60 : 30);
    }
    EXPECT_EQ(serials,
              (std::set<std::string>{"VT2000000101", "VT2000000102", "VT2000000103", "H9", "S1"}));
}

} // namespace
