// The folders the recorders write in: each checked with every folder above
// it before its lock file is made, refused with a message that names the
// destination, and held open, so that renaming it while the key waits for a
// touch cannot send a seed elsewhere.

#include "records/OathUsersRecorder.h"
#include "records/PskcRecorder.h"
#include "records/RecordsTestSupport.h"
#include "records/SeedFileRecorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::records;

namespace {

enum class Kind { SeedFiles, UsersFile, Pskc };

const TokenDescription kToken =
    describedToken(OtpAlgorithm::Totp, OtpHash::Sha1, 6, 30, "VK100000101", "alice");

OpResult<std::unique_ptr<Recorder>> recorder_in(Kind kind, const fs::path& folder)
{
    if (kind == Kind::SeedFiles)
        return std::make_unique<SeedFileRecorder>(folder);
    if (kind == Kind::UsersFile)
        return std::make_unique<OathUsersRecorder>(folder / "users.oath");
    auto pskc = PskcRecorder::open(folder / "tokens.pskc",
                                   pskc::PresharedKey{bytes_of("0123456789abcdef"), "k"});
    if (!pskc)
        return std::unexpected(pskc.error());
    return std::make_unique<PskcRecorder>(std::move(*pskc));
}

fs::path folder(const fs::path& path, mode_t mode, uid_t owner = ::geteuid())
{
    fs::create_directories(path);
    if (::chown(path.c_str(), owner, owner) != 0 || ::chmod(path.c_str(), mode) != 0)
        throw std::runtime_error("cannot set up " + path.string());
    return path;
}

TEST(DestinationFolder, EveryFolderAboveIsCheckedBeforeALockFileIsMadeAndTheRefusalNamesIt)
{
    const bool root = ::geteuid() == 0;
    struct Case
    {
        const char* what;
        Kind kind;
        std::function<fs::path(const fs::path&)> destination; // made below T
        std::string refusal; // with T for the top folder; empty: accepted
        bool asRoot = false; // needs root to give a folder to another account
    };
    const auto in = [](std::string path, mode_t mode, std::string above = {},
                       mode_t aboveMode = 0755, uid_t aboveOwner = ::geteuid()) {
        return [=](const fs::path& top) {
            if (!above.empty())
                folder(top / above, aboveMode, aboveOwner);
            return folder(top / path, mode);
        };
    };
    const Case cases[] = {
        {"a private folder in a team folder", Kind::SeedFiles, in("team/s", 0700, "team", 02770),
         "the seed folder T/team/s lies inside T/team, which other accounts can write: any of them "
         "could rename what is inside and put a folder of their own in its place. Choose a folder "
         "outside it, or make T/team writable by its owner alone (chmod go-w T/team)."},
        {"inside a sticky folder of root's", Kind::UsersFile, in("tmp/s", 0700, "tmp", 01777), "",
         true},
        {"inside another account's sticky folder", Kind::Pskc,
         in("tmp/s", 0700, "tmp", 01777, 4242),
         "the folder T/tmp/s of the PSKC file T/tmp/s/tokens.pskc lies inside T/tmp, which belongs "
         "to another account (uid 4242)",
         true},
        {"a users file in a folder its group can write", Kind::UsersFile, in("shared", 0770),
         "the folder T/shared of the pam_oath users file T/shared/users.oath can be written by "
         "other accounts"},
        {"a PSKC file in a folder all can write", Kind::Pskc, in("drop", 01777),
         "the folder T/drop of the PSKC file T/drop/tokens.pskc can be written by other accounts"},
        {"a folder of another account's", Kind::SeedFiles,
         [](const fs::path& top) { return folder(top / "srv", 0755, 4242); },
         "the seed folder T/srv belongs to another account (uid 4242), who could replace the files "
         "in it; choose a folder of your own.",
         true},
        {"a read-only folder", Kind::SeedFiles, in("ro", 0500),
         "the seed folder T/ro cannot be written (mode 0500); make it writable (chmod u+wx T/ro) "
         "or choose another folder"},
        {"no folder", Kind::UsersFile, [](const fs::path& top) { return top / "none"; },
         "the folder T/none of the pam_oath users file T/none/users.oath does not exist"},
        {"no home for the default folder", Kind::SeedFiles, [](const fs::path&) { return ""; },
         "No seed folder can be chosen: HOME is not set (or not an absolute path), and neither "
         "VNOTP_SEED_DIR nor XDG_DATA_HOME names an absolute folder. Set one of them, or name the "
         "seed folder."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asRoot && !root)
            continue;
        TempDir top;
        const fs::path destination = c.destination(top.path);
        std::string result;
        if (auto recorder = recorder_in(c.kind, destination); !recorder)
            result = "refused: " + recorder.error().detail;
        else
            result = record(**recorder, kToken);
        for (auto at = result.find(top.path.string()); at != std::string::npos;
             at = result.find(top.path.string()))
            result.replace(at, top.path.string().size(), "T");
        if (c.refusal.empty()) {
            EXPECT_EQ(result, "");
            continue;
        }
        EXPECT_EQ(result.substr(0, c.refusal.size() + 9), "refused: " + c.refusal);
        // Checked first: no lock file in a folder that is refused.
        for (const auto& entry : fs::recursive_directory_iterator(top.path))
            EXPECT_NE(entry.path().filename(), ".seedfiles.lock") << entry.path();
    }
}

TEST(DestinationFolder, ARenameWhileTheKeyWaitsCannotSendTheSeedsElsewhere)
{
    for (const Kind kind : {Kind::SeedFiles, Kind::UsersFile, Kind::Pskc}) {
        SCOPED_TRACE(static_cast<int>(kind));
        TempDir top;
        const fs::path destination = folder(top / "seeds", 0700, ::geteuid());
        auto recorder = recorder_in(kind, destination);
        ASSERT_TRUE(recorder) << recorder.error().detail;
        const auto folders = (*recorder)->open_folders();
        ASSERT_TRUE(folders);
        const auto locks = acquire_folder_locks(*folders);
        ASSERT_TRUE(locks && (*recorder)->check(kToken));
        // While the key waits for its touch: the folder renamed, and a link
        // to another account's folder in its place.
        fs::rename(destination, top / "moved");
        fs::create_directory(top / "theirs");
        fs::create_directory_symlink(top / "theirs", destination);
        for (const RecordOutcome& outcome : (*recorder)->record(kToken, "VK1000001"))
            EXPECT_TRUE(outcome.recorded()) << outcome.failure->detail;
        EXPECT_TRUE(fs::is_empty(top / "theirs"));
        const auto kept = snapshot(top / "moved");
        EXPECT_EQ(kept.size(), kind == Kind::SeedFiles ? 2u : 1u);
        for (const auto& [name, bytes] : kept)
            EXPECT_FALSE(bytes.empty()) << name;
    }
}

} // namespace
