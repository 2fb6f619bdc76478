// How long the tool takes from process start until the user sees the first
// token list of a key holding 20 tokens, next to how long Qt takes to bring up
// a bare dialog in a fresh process. Both run as child processes of this
// program, so the figures include loading the program and its libraries; the
// child reports on a pipe when it is ready and the parent stops the clock.
//
// Two baselines: a bare dialog (a QDialog made native and shown, nothing in
// it), and the same dialog showing one line of text in a label. The second
// is the fairer one for a window that must show text: the first never loads
// the fonts (the font configuration is read only when text is measured),
// which alone is a good part of the tool's start-up. The three children run
// interleaved, in a rotating order, and each figure is the median.
//
// Run from build/bin (the tool's device library sits there). The children run
// on an X server (the desktop's, or a private Xvfb when there is no display),
// which is where a user sees the window, and again on Qt's offscreen
// platform; QT_QPA_PLATFORM set by the caller measures that platform alone.

#include "app/CMainDlg.h"
#include "device/DeviceApi.h"
#include "ui/AppIcon.h"
#include "ui/FontConfigWarmUp.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::ui;
using namespace otp::app;

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTokens = 20;
constexpr int kRuns = 41;
constexpr char kReady[] = "ready\n";

void reportReady()
{
    // Straight to the pipe: stdio buffering must not delay the signal.
    (void)!::write(STDOUT_FILENO, kReady, sizeof kReady - 1);
}

// The tool as main() starts it, stopped once the window is up with its list.
int runToolChild(int argc, char* argv[])
{
    FontConfigWarmUp fontConfig;
    QApplication application(argc, argv);
    preloadAppIcon();
    QApplication::setWindowIcon(appIcon());
    LinkedDeviceApi device;
    fontConfig.wait();
    CMainDlg window(device, CMainDlg::Options{});
    if (!window.Create())
        return 2;
    window.show();
    if (window.tokenRowCount() != kTokens) {
        std::fprintf(stderr, "expected %d tokens, the list shows %d\n", kTokens,
                     window.tokenRowCount());
        return 3;
    }
    reportReady();
    return 0;
}

int runBareChild(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.winId();
    dialog.show();
    reportReady();
    return 0;
}

int runTextChild(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Found a device."), &dialog));
    dialog.winId();
    dialog.show();
    reportReady();
    return 0;
}

// The key the tool lists: the library's first key, with 20 tokens.
bool prepareKey()
{
    LinkedDeviceApi device;
    uint32_t reserved = 0;
    if (device.ListDevice(&reserved, 0) != VN_OK)
        return false;
    for (int i = 0; i < kTokens; ++i) {
        OtpTokenRecord record{};
        record.slot = VN_SLOT_ALL;
        record.type = i % 2 ? VN_TYPE_HOTP : VN_TYPE_TOTP;
        record.hash = VN_HASH_SHA1;
        record.digits = 6;
        record.interval = 30;
        std::snprintf(record.serial, sizeof record.serial, "BENCH%02d", i);
        record.seedLength = 20;
        std::memset(record.seed, 0x42, 20);
        if (device.OtpPersonalize(record, nullptr, 0, 1) != VN_OK)
            return false;
    }
    return true;
}

// Seconds from spawning `self mode` until it reports ready; negative on failure.
double timeChild(const char* self, const char* mode)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    char* const args[] = {const_cast<char*>(self), const_cast<char*>(mode), nullptr};

    pid_t pid = 0;
    const auto start = Clock::now();
    const int spawned = ::posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }

    std::string seen;
    char buffer[64];
    ssize_t n = 0;
    while (seen.find(kReady) == std::string::npos &&
           (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        seen.append(buffer, static_cast<std::size_t>(n));
    const auto stop = Clock::now();
    ::close(pipeFds[0]);

    int status = 0;
    ::waitpid(pid, &status, 0);
    if (seen.find(kReady) == std::string::npos || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double>(stop - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The three children, interleaved in a rotating order so that no child always
// follows the same one, on the platform the environment names. False when a
// child failed.
bool measure(const char* platform)
{
    // /proc/self/exe, so that the children are this very program wherever
    // it was started from.
    const char* const modes[] = {"--child-tool", "--child-bare", "--child-text"};
    std::vector<double> times[3];
    for (int run = 0; run < kRuns; ++run)
        for (int k = 0; k < 3; ++k) {
            const int which = (run + k) % 3;
            const double t = timeChild("/proc/self/exe", modes[which]);
            if (t < 0) {
                std::fprintf(stderr, "a child process failed on %s\n", platform);
                return false;
            }
            times[which].push_back(t);
        }
    const double toolMs = median(times[0]) * 1000.0;
    const double bareMs = median(times[1]) * 1000.0;
    const double textMs = median(times[2]) * 1000.0;
    std::printf("\nPlatform: %s; median of %d interleaved runs\n", platform, kRuns);
    std::printf("Process start to the first token list (%d tokens): %8.1f ms\n", kTokens, toolMs);
    std::printf("Process start to a bare Qt dialog:                 %8.1f ms\n", bareMs);
    std::printf("Process start to a dialog with one line of text:   %8.1f ms\n", textMs);
    std::printf("Ratio tool / bare dialog:                          %8.2f\n", toolMs / bareMs);
    std::printf("Ratio tool / dialog with a line of text:           %8.2f\n", toolMs / textMs);
    std::fflush(stdout);
    return true;
}

// A private X server for the children when there is no display: Xvfb picks
// a free display number and writes it on a pipe.
class PrivateXServer
{
public:
    PrivateXServer()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        const std::string fd = std::to_string(fds[1]);
        const char* const args[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen", "0",
                                    "1280x1024x24", "-nolisten",  "tcp",      nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawnp(&m_pid, "Xvfb", &actions, nullptr,
                                           const_cast<char* const*>(args), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            m_pid = 0;
            ::close(fds[0]);
            return;
        }
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (!number.empty())
            m_display = ":" + number;
    }
    ~PrivateXServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // Empty when Xvfb could not be started.
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = 0;
    std::string m_display;
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--child-tool") == 0)
        return runToolChild(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--child-bare") == 0)
        return runBareChild(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--child-text") == 0)
        return runTextChild(argc, argv);

    // "--prepare DIR" only fills DIR with the key, so that a profiler can run
    // one child on its own: VN_KEY_DIR=DIR bench_startup --child-tool.
    const bool prepareOnly = argc > 2 && std::strcmp(argv[1], "--prepare") == 0;
    QTemporaryDir keys;
    if (!keys.isValid())
        return 1;
    const QByteArray keyDir =
        prepareOnly ? QByteArray(argv[2]) : (keys.path() + QStringLiteral("/keys")).toLocal8Bit();
    ::setenv("VN_KEY_DIR", keyDir.constData(), 1);

    std::printf("Preparing a virtual key with %d tokens...\n", kTokens);
    if (!prepareKey()) {
        std::fprintf(stderr, "the virtual key could not be prepared\n");
        return 1;
    }
    if (prepareOnly)
        return 0;

    // A platform the caller chose is the only one measured.
    if (const char* chosen = std::getenv("QT_QPA_PLATFORM"))
        return measure(chosen) ? 0 : 1;

    // Otherwise on an X server, where the user sees the window (the
    // desktop's display, or a private Xvfb), and on Qt's offscreen platform,
    // which has no window system at all.
    std::unique_ptr<PrivateXServer> privateServer;
    if (std::getenv("DISPLAY") == nullptr) {
        privateServer = std::make_unique<PrivateXServer>();
        if (!privateServer->display().empty())
            ::setenv("DISPLAY", privateServer->display().c_str(), 1);
    }
    bool ok = true;
    if (std::getenv("DISPLAY") != nullptr) {
        const std::string label = privateServer
                                      ? "xcb on a private Xvfb " + privateServer->display()
                                      : std::string("xcb on this desktop's display");
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ok = measure(label.c_str());
    } else {
        std::printf("\nNo display and no Xvfb: the X server figures are left out.\n");
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return ok && measure("offscreen") ? 0 : 1;
}
