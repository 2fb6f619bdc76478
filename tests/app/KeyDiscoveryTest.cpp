// Finding the key as the window opens and when a key is plugged in, against
// the virtual key with injected statuses.

#include "app/KeyDiscovery.h"
#include "support/FakeMainWindow.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

namespace {

using Switches = std::vector<std::pair<int, bool>>;

const QString kFound = "Found a Vornik/Tessel device.\r\n";
const Switches kKeyButtons = {
    {ControlId::NewToken, true},  {ControlId::SetEnter, true}, {ControlId::Refresh, true},
    {ControlId::GetOtp, true},    {ControlId::Remove, true},   {ControlId::Reset, true},
    {ControlId::PinPolicy, true},
};

struct Rig
{
    VirtualKeyDevice key{"VK1000001"};
    FakeMainWindow window{key};
};

// The key's buttons and serial number only for a key that could be read; a
// listing status that means nothing to the user is not even refreshed.
TEST(KeyDiscovery, ReportsEnablesTheKeyButtonsAndRefreshes)
{
    const QString noKey = "Vornik/Tessel device not found.\r\nYou may need to run this tool as "
                          "administrator (error= 0x80564E02)\r\n";
    const QString twoKeys = "Multiple Vornik/Tessel devices found (Error= 0x80564E03)\r\n";
    const std::tuple<std::function<void(Rig&)>, QStringList, std::string> cases[] = {
        {[](Rig&) {}, {kFound, "<refresh>"}, "VK1000001"},
        {[](Rig& r) { r.key.unplug("VK1000001"); }, {noKey, "<refresh>"}, "OLD"},
        {[](Rig& r) { r.key.addKey("VK1000002"); }, {twoKeys, "<refresh>"}, "OLD"},
        {[](Rig& r) { r.key.failNext(DeviceCall::ListDevice, VN_ERR_STORAGE); }, {}, "OLD"},
        {[](Rig& r) { r.key.failNext(DeviceCall::GetDeviceInfo, VN_ERR_STORAGE); },
         {kFound, "<refresh>"},
         "OLD"},
    };
    for (const auto& [arrange, events, serialAfter] : cases) {
        SCOPED_TRACE(events.value(0).toStdString());
        Rig rig;
        arrange(rig);
        rig.window.windowState.keySerialNumber = "OLD";
        DetectDevice(rig.window);
        EXPECT_EQ(rig.window.events, events);
        EXPECT_EQ(rig.window.switched, serialAfter == "OLD" ? Switches{} : kKeyButtons);
        EXPECT_EQ(rig.window.windowState.keySerialNumber, serialAfter);
    }
}

// A key plugged in is given its settle time before the library is asked.
TEST(KeyDiscovery, ArrivalWaitsThenDiscovers)
{
    Rig rig;
    std::vector<std::chrono::milliseconds> waits;
    OnKeyArrival(rig.window, [&](std::chrono::milliseconds wait) {
        EXPECT_TRUE(rig.key.calls().empty());
        waits.push_back(wait);
    });
    EXPECT_EQ(waits, std::vector{std::chrono::milliseconds(2000)});
    EXPECT_EQ(rig.window.events, (QStringList{kFound, "<refresh>"}));
}

} // namespace
