// The file log: its line format, owner-only creation, appending, and the
// stderr line when the file cannot be opened.

#include "diag/FileLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct FileLogTest : testing::Test
{
    void SetUp() override
    {
        std::string tmpl = fs::temp_directory_path() / "filelog-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string contents(const fs::path& path)
    {
        std::ostringstream out;
        out << std::ifstream(path, std::ios::binary).rdbuf();
        return out.str();
    }

    // Runs log_to_file and answers what it wrote to standard error.
    static std::string logCapturingStderr(const fs::path& path, std::string_view message)
    {
        testing::internal::CaptureStderr();
        log_to_file(path.string(), message);
        return testing::internal::GetCapturedStderr();
    }

    fs::path dir;
};

TEST(FileLogLine, StampsWithLocalTime)
{
    // The tests run with TZ=Europe/Berlin: UTC+1 in winter, UTC+2 in summer.
    EXPECT_EQ(fileLogLine(0, "[OnSaveCmd]"), "[1970-01-01 01:00:00] [OnSaveCmd]");
    EXPECT_EQ(fileLogLine(1719835205, "x"), "[2024-07-01 14:00:05] x");
}

TEST_F(FileLogTest, CreatesOwnerOnlyAndAppendsOneLinePerEntry)
{
    const fs::path log = dir / "1.log";
    const mode_t old = ::umask(0);
    EXPECT_EQ(logCapturingStderr(log, "[OnSaveCmd]"), "");
    ::umask(old);
    struct stat st = {};
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    log_to_file(log.string(), "[OnSaveCmd] Failed to write PIN policy. Error: x");
    const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )";
    const std::regex twoLines(stamp + R"(\[OnSaveCmd\]\n)" + stamp +
                              R"(\[OnSaveCmd\] Failed to write PIN policy\. Error: x\n)");
    EXPECT_TRUE(std::regex_match(contents(log), twoLines)) << contents(log);
}

TEST_F(FileLogTest, UnopenablePathWritesOnlyTheStderrLine)
{
    const fs::path target = dir / "target", link = dir / "link", fifo = dir / "fifo",
                   hardLink = dir / "hard";
    std::ofstream(target).flush();
    fs::create_symlink(target, link);
    fs::create_hard_link(target, hardLink);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // an ordinary open for writing blocks on it
    for (const fs::path& log : {dir / "absent" / "1.log", link, hardLink, fifo, dir})
        EXPECT_EQ(logCapturingStderr(log, "x"),
                  "Error: Could not open file " + log.string() + " for writing.\n");
    EXPECT_EQ(contents(target), "");
}

} // namespace
