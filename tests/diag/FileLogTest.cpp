// The file log: its line format, owner-only creation, appending, and the
// stderr line when the file cannot be opened.

#include "diag/FileLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

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

} // namespace
