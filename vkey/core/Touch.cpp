#include "Touch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace vkey {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// A touch from before the last timeout cannot belong to this operation.
void dropStaleTouch(const std::string& path, int timeoutMs)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    double ageMs =
        (now.tv_sec - st.st_mtim.tv_sec) * 1000.0 + (now.tv_nsec - st.st_mtim.tv_nsec) / 1e6;
    if (ageMs > timeoutMs)
        ::unlink(path.c_str());
}

bool waitForManualTouch(const std::string& path, int timeoutMs)
{
    dropStaleTouch(path, timeoutMs);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // unlink succeeds for exactly one waiter, so one touch serves one operation.
        if (::unlink(path.c_str()) == 0)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

} // namespace

bool waitForTouch(const KeyStore& store, const std::string& serial, const TouchSetting& touch)
{
    switch (touch.mode) {
    case TouchMode::Auto:
        if (touch.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(touch.delayMs));
        return true;
    case TouchMode::Manual:
        return waitForManualTouch(store.touchFile(serial).string(), touch.timeoutMs);
    case TouchMode::Never:
        std::this_thread::sleep_for(std::chrono::milliseconds(touch.timeoutMs));
        return false;
    }
    return false;
}

} // namespace vkey
