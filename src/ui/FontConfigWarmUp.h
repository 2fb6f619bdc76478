#pragma once

// Loading the system's font configuration is the largest single cost of the
// window's start: fontconfig parses every file under /etc/fonts (a few dozen
// XML files) the first time any text is measured, about a third of all the
// work from process start to the first token list. None of it needs Qt, so
// it runs on a thread of its own while the program loads the window system's
// plugin; Qt then finds the configuration loaded.

#include <thread>

namespace otp::ui {

class FontConfigWarmUp
{
public:
    // Starts loading the configuration.
    FontConfigWarmUp();
    ~FontConfigWarmUp();
    FontConfigWarmUp(const FontConfigWarmUp&) = delete;
    FontConfigWarmUp& operator=(const FontConfigWarmUp&) = delete;

    // Waits until the configuration is loaded. Call it before the first text
    // is measured: a second load started meanwhile would not wait for this
    // one but parse everything again.
    void wait();

private:
    std::thread m_thread;
};

} // namespace otp::ui
