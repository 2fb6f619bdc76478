#include "app/KeyDiscovery.h"

#include "device/KeySession.h"
#include "ui/AnsiText.h"

#include <thread>

using namespace otp::core;
using namespace otp::device;
using namespace otp::pskc;
using namespace otp::ui;

namespace otp::app {

namespace {

// The buttons that need a key, in the order they are enabled. Update PIN is
// not among them: it follows the key's PIN policy instead.
constexpr int kKeyButtons[] = {
    ControlId::NewToken, ControlId::SetEnter, ControlId::Refresh,   ControlId::GetOtp,
    ControlId::Remove,   ControlId::Reset,    ControlId::PinPolicy,
};

const QString kFound = QStringLiteral("Found a Vornik/Tessel device.\r\n");

} // namespace

void DetectDevice(MainWindowPort& window)
{
    KeySession session(window.device());
    const auto key = session.find_key();

    if (key) {
        window.state().keySerialNumber = *key;
        window.appendMessage(kFound);
        for (const int id : kKeyButtons)
            window.setControlEnabled(id, true);
        window.refreshTokenList();
        return;
    }

    switch (key.error().fault) {
    case Fault::KeyUnreadable:
        window.appendMessage(kFound);
        break;
    case Fault::NoKey:
        window.appendMessage(QStringLiteral("Vornik/Tessel device not found.\r\n"
                                            "You may need to run this tool as administrator "
                                            "(error= %1)\r\n")
                                 .arg(statusHex(key.error().status)));
        break;
    case Fault::MultipleKeys:
        window.appendMessage(QStringLiteral("Multiple Vornik/Tessel devices found (Error= %1)\r\n")
                                 .arg(statusHex(key.error().status)));
        break;
    default:
        // A status we cannot explain to the user: better to show nothing than
        // a list refresh that would only repeat the same failure.
        return;
    }
    // Also without a usable key: the refresh reports its own outcome.
    window.refreshTokenList();
}

void sleepOnThisThread(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

void OnKeyArrival(MainWindowPort& window, const ArrivalWait& wait)
{
    wait(kArrivalSettleTime);
    // The key in hand may not be the one the window last saw: everything the
    // window's start evaluates is evaluated again, and nothing learnt from
    // the previous key (its PIN, a refusal in the status line) stays.
    WindowState& state = window.state();
    state.cachedPin.clear();
    state.records = loadSeedRecordsChoice();
    DetectDevice(window);
    window.updatePinButton();
    window.setStatusText(QString());
}

void OnKeyRemoval(MainWindowPort& window)
{
    window.clearTokenRows();
}

} // namespace otp::app
