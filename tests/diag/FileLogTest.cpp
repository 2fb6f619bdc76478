// The file log: its line format, owner-only creation, appending, and the
// stderr line when the file cannot be opened.

#include "diag/FileLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

using namespace otp;
using namespace otp::diag;

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& path)
{
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

// Runs log_to_file and answers what it wrote to standard error.
std::string logged(const fs::path& path, std::string_view message)
{
    testing::internal::CaptureStderr();
    log_to_file(path.string(), message);
    return testing::internal::GetCapturedStderr();
}

TEST(FileLog, StampsLocalTimeCreatesOwnerOnlyAppendsAndWritesOnlyTheStderrLineWhereItCannotOpen)
{
    // The tests run with TZ=Europe/Berlin: UTC+1 in winter, UTC+2 in summer.
    EXPECT_EQ(fileLogLine(0, "[OnSaveCmd]"), "[1970-01-01 01:00:00] [OnSaveCmd]");
    EXPECT_EQ(fileLogLine(1719835205, "x"), "[2024-07-01 14:00:05] x");
    std::string folder = fs::temp_directory_path() / "filelog-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const fs::path dir = folder, log = dir / "1.log", target = dir / "target";
    const mode_t umask = ::umask(0);
    EXPECT_EQ(logged(log, "[OnSaveCmd]"), "");
    ::umask(umask);
    EXPECT_EQ(fs::status(log).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(logged(log, "[OnSaveCmd] Failed"), "");
    const std::regex twoLines(
        R"(\[[-\d]{10} [:\d]{8}\] \[OnSaveCmd\]\n\[.{19}\] \[OnSaveCmd\] Failed\n)");
    EXPECT_TRUE(std::regex_match(contents(log), twoLines)) << contents(log);

    std::ofstream(target).flush();
    fs::create_symlink(target, dir / "link");
    fs::create_hard_link(target, dir / "hard");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0); // an ordinary open for writing blocks
    for (const fs::path& path :
         {dir / "absent" / "1.log", dir / "link", dir / "hard", dir / "fifo", dir})
        EXPECT_EQ(logged(path, "x"),
                  "Error: Could not open file " + path.string() + " for writing.\n");
    EXPECT_EQ(contents(target), "");
    fs::remove_all(dir);
}

// The log is the account's own: under $XDG_STATE_HOME (an absolute one), else
// under ~/.local/state, in folders made for the owner alone; never in a
// folder every account shares.
TEST(FileLog, LivesInTheAccountsStateFolderMadeOwnerOnly)
{
    std::string folder = fs::temp_directory_path() / "statelog-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const fs::path dir = folder;
    const std::string home = dir / "home", state = dir / "state";
    // XDG_STATE_HOME, HOME, the log file
    const std::tuple<const char*, const char*, fs::path> cases[] = {
        {state.c_str(), home.c_str(), dir / "state/vnotp/vnotp.log"},
        {nullptr, home.c_str(), dir / "home/.local/state/vnotp/vnotp.log"},
        {"relative/state", home.c_str(), dir / "home/.local/state/vnotp/vnotp.log"},
        {nullptr, nullptr, ""},
    };
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const auto& [xdg, homeVar, expected] : cases) {
        xdg ? ::setenv("XDG_STATE_HOME", xdg, 1) : ::unsetenv("XDG_STATE_HOME");
        homeVar ? ::setenv("HOME", homeVar, 1) : ::unsetenv("HOME");
        EXPECT_EQ(file_log_path(), expected);
        log_to_state_file("[OnSaveCmd]");
        if (expected.empty())
            continue;
        EXPECT_TRUE(
            std::regex_match(contents(expected), std::regex(R"((\[.{19}\] \[OnSaveCmd\]\n)+)")))
            << contents(expected);
        EXPECT_EQ(fs::status(expected).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        for (fs::path up = expected.parent_path(); up != dir; up = up.parent_path())
            EXPECT_EQ(fs::status(up).permissions(), fs::perms::owner_all) << up;
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(dir);
}

} // namespace
