// Programming tokens on a failing machine: files the recorders cannot take,
// a disk that fills up part-way, a process killed at any moment. What can be
// known to fail is refused before the key is touched; else each file a token
// goes to is as it was or complete, and each one that is not is reported.

#include "programming/ProgramToken.h"
#include "records/Destinations.h"
#include "records/RecordsTestSupport.h"
#include "records/SeedFileReader.h"
#include "support/FileSizeLimit.h"
#include "support/VirtualKeyDevice.h"

#include "KeyStore.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <thread>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::records;
using namespace otp::programming;

namespace {

const pskc::Credential kContainerKey = pskc::PresharedKey{bytes_of("0123456789abcdef"), "k"};

// A user name long enough to make a token's new seed files larger than the
// key's file, so that a full disk can fail them.
const std::string kUser = "ann.longname." + std::string(80, 'x') + "@example.org";

// The files a token goes to and any other in the seed folder, by name.
std::map<std::string, std::string> files(const TempDir& dir, const VirtualKeyDevice& key)
{
    auto files = snapshot(dir.path);
    for (const char* name : {"tseeds.xml", "tseeds.csv", "tokens.pskc"})
        files.try_emplace(name, "<missing>");
    files["key"] = slurp(fs::path(key.keyDir()) / "VK1000001.json");
    return files;
}

// Programs one TOTP token with the seed files and a container as recorders:
// Device when the key did not take it, else the files that did not. The
// ENTER flag stays as the key has it, so the key's file has one size.
OpResult<std::set<std::string>> programInto(VirtualKeyDevice& device, const TempDir& dir,
                                            const std::string& serial, std::string user = kUser)
{
    Destinations destinations;
    destinations.seedFolder = dir.path;
    destinations.pskc = PskcDestination{dir / "tokens.pskc", kContainerKey, {}};
    const auto recorders = open_recorders(destinations);
    if (!recorders)
        return std::unexpected(recorders.error());
    KeySession key(device);
    const auto programmed = program_token(
        key,
        {.token = describedToken(OtpAlgorithm::Totp, OtpHash::Sha1, 6, 30, serial, user),
         .keySerial = "VK1000001",
         .access = {},
         .appendEnter = false,
         .lockPatience = std::chrono::milliseconds(200)},
        (*recorders)->all());
    if (!programmed)
        return std::unexpected(programmed.error());
    std::set<std::string> unrecorded;
    for (const RecordOutcome& outcome : programmed->records)
        if (!outcome.recorded())
            unrecorded.insert(outcome.destination.filename());
    return unrecorded;
}

// Refused, naming the file or field, with the key and every file as they
// were. (The dialog's and the command line's tests refuse unparseable files
// and CSV fields too.)
TEST(Refusal, WhatCannotBeRecordedFailsBeforeTheKeyIsTouched)
{
    std::optional<OpResult<FolderLock>> held; // another writer's
    using Spoil = std::function<void(const TempDir&)>;
    const auto file = [](std::string name, fs::perms mode) -> Spoil {
        return [=](const TempDir& d) {
            spit(d / name, name.ends_with(".xml") ? "<data><tokens>" : "");
            fs::permissions(d / name, mode);
        };
    };
    using enum fs::perms;
    const Spoil link = [](const TempDir& d) { fs::create_symlink(d / "x", d / "tseeds.xml"); };
    const Spoil lock = [&](const TempDir& d) { held.emplace(FolderLock::acquire(d.path)); };
    const Spoil holdSerial = [](const TempDir& d) {
        VirtualKeyDevice other;
        ASSERT_TRUE(programInto(other, d, "VK1"));
    };
    const Spoil sign = [&](const TempDir& d) {
        holdSerial(d);
        std::string xml = slurp(d / "tokens.pskc");
        spit(d / "tokens.pskc", xml.insert(xml.rfind("</"), "<ds:Signature/>"));
    };
    const Spoil readOnlyContainer = [&](const TempDir& d) {
        holdSerial(d);
        fs::permissions(d / "tokens.pskc", fs::perms::owner_read);
    };
    // clang-format off
    const std::vector<std::tuple<Spoil, std::string, Fault, std::string, std::string>> cases = {
        {file("tseeds.xml", owner_read | owner_write), kUser, Fault::Refused, "tseeds.xml",
         "cannot be parsed"},
        {link, kUser, Fault::Refused, "tseeds.xml", "is a symbolic link"},
        {file("tseeds.csv", owner_read | owner_write | group_write), kUser, Fault::Refused,
         "tseeds.csv", "can be written by other accounts"},
        {file("tseeds.csv", owner_read | owner_write | others_read), kUser, Fault::Refused,
         "tseeds.csv: can be read by every account", "(chmod o-r "},
        {file("tseeds.xml", owner_read | owner_write | group_read | others_read), kUser,
         Fault::Refused, "tseeds.xml: can be read by every account", "chmod 600 "},
        {file("tseeds.csv", owner_read), kUser, Fault::Refused, "tseeds.csv: is read-only",
         "(chmod u+w "},
        {readOnlyContainer, kUser, Fault::Refused, "tokens.pskc: is read-only", "(chmod u+w "},
        {{}, "Ann \"A\"", Fault::Refused, "", "The user name must not contain a comma or a double"},
        {lock, kUser, Fault::Io, ".seedfiles.lock", "another program is writing the files"},
        {holdSerial, kUser, Fault::Conflict, "tokens.pskc", "the container already holds key VK1"},
        {sign, kUser, Fault::Unsupported, "tokens.pskc", "the container is signed"},
    };
    // clang-format on
    for (const auto& [spoil, user, fault, where, why] : cases) {
        SCOPED_TRACE(where + ": " + why);
        held.reset();
        VirtualKeyDevice key;
        TempDir dir;
        if (spoil)
            spoil(dir);
        const auto before = snapshot(dir.path);
        const auto programmed = programInto(key, dir, "VK1", user);
        ASSERT_FALSE(programmed);
        EXPECT_EQ(programmed.error().fault, fault);
        for (const std::string& part : {where.empty() ? "" : (dir / where).string(), why})
            EXPECT_NE(programmed.error().detail.find(part), std::string::npos)
                << programmed.error().detail;
        EXPECT_TRUE(key.storedSerials().empty());
        EXPECT_EQ(snapshot(dir.path), before);
    }
}

// Into new files, and into seed files and a container that hold a dozen
// tokens: all larger than the key's file, so that a full disk can fail any of
// them. At every file size limit near the old and the new size of any of the
// four files (a UTF-16 unit split or not), and at a stride between.
TEST(FullDisk, EachFileIsAsItWasOrCompleteAndEveryFailureIsReported)
{
    TempDir empty, filled;
    VirtualKeyDevice other;
    for (int n = 0; n < 12; ++n)
        ASSERT_EQ(programInto(other, filled, "OLD" + std::to_string(n)), std::set<std::string>());
    for (const TempDir* start : {&empty, &filled}) {
        std::map<std::string, std::string> before, after;
        {
            VirtualKeyDevice key;
            TempDir dir;
            fs::copy(start->path, dir.path);
            before = files(dir, key);
            ASSERT_EQ(programInto(key, dir, "VK100000101"), std::set<std::string>());
            after = files(dir, key);
        }
        ASSERT_LT(after["key"].size(),
                  std::min(after["tseeds.xml"].size(), after["tseeds.csv"].size()));
        std::set<std::size_t> limits;
        for (const auto& map : {before, after})
            for (const auto& [name, bytes] : map)
                for (std::size_t near = bytes.size() - 2; near <= bytes.size() + 2; ++near)
                    limits.insert(near);
        for (std::size_t limit = 0; limit < *limits.rbegin(); limit += *limits.rbegin() / 16)
            limits.insert(limit);

        for (const std::size_t limit : limits) {
            SCOPED_TRACE(testing::Message() << (start == &empty ? "new" : "full") << ", " << limit);
            VirtualKeyDevice key;
            TempDir dir;
            fs::copy(start->path, dir.path);
            OpResult<std::set<std::string>> programmed;
            {
                const FileSizeLimit full(static_cast<rlim_t>(limit));
                programmed = programInto(key, dir, "VK100000101");
            }
            const bool keyFits = limit >= after["key"].size();
            ASSERT_EQ(programmed.has_value(), keyFits);
            if (!keyFits) {
                EXPECT_EQ(programmed.error().fault, Fault::Device);
            }
            const auto now = files(dir, key);
            ASSERT_EQ(now.size(), after.size()); // no temporary file left behind, here
            for (const auto& entry : fs::directory_iterator(key.keyDir())) // nor there
                EXPECT_TRUE(entry.path().filename() == ".lock" ||
                            !entry.path().filename().string().starts_with('.'))
                    << entry.path();
            std::set<std::string> failed;
            for (const auto& [name, bytes] : now) {
                // A complete container reads as every token: its IVs are
                // random, so its bytes differ from run to run.
                const auto read = pskc::load_container(dir / name, kContainerKey);
                const bool complete =
                    name == "tokens.pskc"
                        ? bytes.size() == after[name].size() && read &&
                              read->packages().size() == (start == &empty ? 1 : 13)
                        : bytes == after[name];
                const bool fits = keyFits && limit >= after[name].size();
                EXPECT_TRUE(fits ? complete : bytes == before.at(name)) << name;
                if (!fits && name != "key")
                    failed.insert(name);
            }
            if (keyFits) {
                EXPECT_EQ(*programmed, failed);
            }
        }
    }
}

// A process that programs tokens one after another (removing them again
// before the key is full) is killed at random moments, fifty times; after
// each kill every file reads, and no token recorded before is gone.
TEST(Crash, AKilledProgrammingRunLeavesEveryFileReadableAndLosesNoRecordedToken)
{
    VirtualKeyDevice key;
    TempDir dir;
    // Kills fall within the time of a few tokens, however fast this machine
    // (or this build) programs one.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(programInto(key, dir, "FIRST"), std::set<std::string>());
    const auto perToken = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::mt19937 random(20240611);
    std::uniform_int_distribution<long> moment(0, 4 * perToken.count());
    std::array<std::size_t, 3> recorded{1, 1, 1}; // XML, CSV, container
    for (int kill = 0; kill < 50; ++kill) {
        SCOPED_TRACE(testing::Message() << "kill " << kill);
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            key.OtpReset(); // the previous run may have left the key nearly full
            for (int n = 0;; ++n) {
                if (!programInto(key, dir, "C" + std::to_string(kill) + "-" + std::to_string(n)))
                    ::_exit(1);
                (void)!::write(progress[1], "+", 1);
                if (n % 4 == 3)
                    key.OtpReset();
            }
        }
        ::close(progress[1]);
        // Each run records a token before the kill, however loaded the
        // machine; the kill then falls anywhere in the tokens that follow.
        char done = 0;
        ASSERT_EQ(::read(progress[0], &done, 1), 1);
        ::close(progress[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the programming loop ended on its own";

        // Whole rows too: one cut before its line end would have the next glued on.
        const auto now = files(dir, key);
        const auto xml = parse_seed_file(now.at("tseeds.xml"), "tseeds.xml");
        const auto csv = parse_seed_file(now.at("tseeds.csv"), "tseeds.csv");
        const auto container = pskc::load_container(dir / "tokens.pskc", kContainerKey);
        ASSERT_TRUE(xml && csv && now.at("tseeds.csv").ends_with(std::string("\r\0\n\0", 4)));
        ASSERT_TRUE(container) << container.error().detail;
        const std::array now_recorded{xml->size(), csv->size(), container->packages().size()};
        for (std::size_t i = 0; i < 3; ++i)
            ASSERT_GE(now_recorded[i], recorded[i]) << i;
        recorded = now_recorded;
        ASSERT_TRUE(vkey::KeyStore(key.keyDir()).load("VK1000001"));
    }
    EXPECT_GT(recorded[0], 50u); // every run recorded a token before its kill
    EXPECT_GT(recorded[2], 50u);
}

} // namespace
