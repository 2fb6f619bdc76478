// Finding the key when one is plugged in (the window's start runs the same
// discovery without the wait), against the virtual key with injected statuses.

#include "app/KeyDiscovery.h"
#include "support/FakeMainWindow.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

using namespace otp;
using namespace otp::core;
using namespace otp::pskc;
using namespace otp::app;

namespace {

using Switches = std::vector<std::pair<int, bool>>;

const QString kFound = "Found a Vornik/Tessel device.\r\n";
const Switches kKeyButtons = {
    {ControlId::NewToken, true},  {ControlId::SetEnter, true}, {ControlId::Refresh, true},
    {ControlId::GetOtp, true},    {ControlId::Remove, true},   {ControlId::Reset, true},
    {ControlId::PinPolicy, true},
};

// The key is given its settle time before the library is asked. The key's
// buttons and serial number only for a key that could be read; a listing
// status that means nothing to the user is not even refreshed. Whatever was
// found, the window's key-dependent state is evaluated afresh.
TEST(KeyDiscovery, ArrivalWaitsThenReportsEnablesTheKeyButtonsAndRefreshes)
{
    const QString noKey = "Vornik/Tessel device not found.\r\nYou may need to run this tool as "
                          "administrator (error= 0x80564E02)\r\n";
    const QString twoKeys = "Multiple Vornik/Tessel devices found (Error= 0x80564E03)\r\n";
    using Arrange = std::function<void(VirtualKeyDevice&)>;
    const std::tuple<Arrange, QStringList, std::string> cases[] = {
        {[](VirtualKeyDevice&) {}, {kFound, "<refresh>"}, "VK1000001"},
        {[](VirtualKeyDevice& k) { k.unplug("VK1000001"); }, {noKey, "<refresh>"}, "OLD"},
        {[](VirtualKeyDevice& k) { k.addKey("VK1000002"); }, {twoKeys, "<refresh>"}, "OLD"},
        {[](VirtualKeyDevice& k) { k.failNext(DeviceCall::ListDevice, VN_ERR_STORAGE); },
         {},
         "OLD"},
        {[](VirtualKeyDevice& k) { k.failNext(DeviceCall::GetDeviceInfo, VN_ERR_STORAGE); },
         {kFound, "<refresh>"},
         "OLD"},
    };
    for (const auto& [arrange, events, serialAfter] : cases) {
        SCOPED_TRACE(events.value(0).toStdString());
        VirtualKeyDevice key;
        FakeMainWindow window{key};
        arrange(key);
        window.windowState.keySerialNumber = "OLD";
        window.windowState.cachedPin = "the last key's PIN";
        std::vector<std::chrono::milliseconds> waits;
        OnKeyArrival(window, [&](std::chrono::milliseconds wait) {
            EXPECT_TRUE(key.calls().empty());
            waits.push_back(wait);
        });
        EXPECT_EQ(waits, std::vector{std::chrono::milliseconds(2000)});
        // Whatever key is in hand now: the Update PIN button and the status
        // line are the key's, and the last key's PIN is not offered to it.
        EXPECT_EQ(window.events, events + QStringList{"<status:>"});
        EXPECT_EQ(window.pinButtonUpdates, 1);
        EXPECT_EQ(window.windowState.cachedPin, QString());
        EXPECT_EQ(window.switched, serialAfter == "OLD" ? Switches{} : kKeyButtons);
        EXPECT_EQ(window.windowState.keySerialNumber, serialAfter);
    }
}

} // namespace
