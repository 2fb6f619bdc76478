// The file log: its line format, owner-only creation, appending, and the
// stderr line when the file cannot be opened.

#include "diag/FileLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class FileLogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string tmpl = fs::temp_directory_path() / "filelog-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string contents(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
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
    // The tests run with TZ=Europe/Berlin: the epoch is 01:00 there, and a
    // summer moment is two hours ahead of UTC.
    EXPECT_EQ(fileLogLine(0, "[OnSaveCmd]"), "[1970-01-01 01:00:00] [OnSaveCmd]");
    EXPECT_EQ(fileLogLine(1719835205, "x"), "[2024-07-01 14:00:05] x");
    EXPECT_EQ(fileLogLine(0, ""), "[1970-01-01 01:00:00] ");
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
    const std::string text = contents(log);
    const std::regex twoLines(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[OnSaveCmd\]\n)"
                              R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[OnSaveCmd\] Failed to write )"
                              R"(PIN policy\. Error: x\n)");
    EXPECT_TRUE(std::regex_match(text, twoLines)) << text;
}

TEST_F(FileLogTest, KeepsWhatIsAlreadyThere)
{
    const fs::path log = dir / "1.log";
    std::ofstream(log) << "earlier\n";
    log_to_file(log.string(), "later");
    EXPECT_EQ(contents(log).substr(0, 9), "earlier\n[");
}

struct Unopenable
{
    const char* name;
    void (*plant)(const fs::path& log, const fs::path& dir);
};

class FileLogRefuses : public FileLogTest, public testing::WithParamInterface<Unopenable>
{
};

TEST_P(FileLogRefuses, WritesOnlyTheStderrLine)
{
    const fs::path log = dir / "sub" / "1.log";
    fs::create_directories(dir / "sub");
    GetParam().plant(log, dir);

    EXPECT_EQ(logCapturingStderr(log, "secret-free text"),
              "Error: Could not open file " + log.string() + " for writing.\n");
    EXPECT_EQ(contents(dir / "target"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Planted, FileLogRefuses,
    testing::Values(Unopenable{"MissingDirectory",
                               [](const fs::path&, const fs::path& d) { fs::remove(d / "sub"); }},
                    Unopenable{"SymbolicLink",
                               [](const fs::path& log, const fs::path& d) {
                                   std::ofstream(d / "target").flush();
                                   fs::create_symlink(d / "target", log);
                               }},
                    Unopenable{"Fifo",
                               [](const fs::path& log, const fs::path&) {
                                   // Would block forever on an ordinary open for writing.
                                   ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
                               }},
                    Unopenable{"Directory", [](const fs::path& log,
                                               const fs::path&) { fs::create_directory(log); }}),
    [](const testing::TestParamInfo<Unopenable>& info) { return info.param.name; });

TEST_F(FileLogTest, MissingDirectoryIsNotCreated)
{
    const fs::path log = dir / "absent" / "1.log";
    logCapturingStderr(log, "x");
    EXPECT_FALSE(fs::exists(dir / "absent"));
}

} // namespace
