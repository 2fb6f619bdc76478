// Discovery and the device-change handler, against the virtual key with injected statuses.

#include "support/FakeMainWindow.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"
#include "window/WindowDiscovery.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Switches = std::vector<std::pair<int, bool>>;
using std::chrono::milliseconds;

const QString kFound = "Found a Vornik/Tessel device.\r\n";
const Switches kKeyButtons = {
    {ControlId::NewToken, true},  {ControlId::SetEnter, true}, {ControlId::Refresh, true},
    {ControlId::GetOtp, true},    {ControlId::Remove, true},   {ControlId::Reset, true},
    {ControlId::PinPolicy, true},
};

struct DiscoveryCase
{
    const char* name;
    std::function<void(VirtualKeyDevice&, ScriptedDevice&)> arrange;
    QString message;
    bool buttons;
    int refreshes;
    std::string serialAfter; // the window starts with "OLD"
};

class Discovery : public testing::TestWithParam<DiscoveryCase>
{
};

TEST_P(Discovery, ReportsEnablesAndRefreshes)
{
    const DiscoveryCase& c = GetParam();
    VirtualKeyDevice key("VK1000001");
    ScriptedDevice device(key);
    c.arrange(key, device);
    FakeMainWindow window(device);
    window.keySerialNumber = "OLD";
    DetectDevice(window);
    EXPECT_EQ(window.messages, c.message.isEmpty() ? QStringList{} : QStringList{c.message});
    EXPECT_EQ(window.switched, c.buttons ? kKeyButtons : Switches{});
    EXPECT_EQ(window.refreshes, c.refreshes);
    EXPECT_EQ(window.keySerialNumber, c.serialAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Detect, Discovery,
    testing::Values(
        DiscoveryCase{"OneKey", [](auto&, auto&) {}, kFound, true, 1, "VK1000001"},
        DiscoveryCase{"NoKey", [](auto& key, auto&) { key.unplug("VK1000001"); },
                      "Vornik/Tessel device not found.\r\nYou may need to run this tool as "
                      "administrator (error= 0x80564E02)\r\n",
                      false, 1, "OLD"},
        DiscoveryCase{"SeveralKeys", [](auto& key, auto&) { key.addKey("VK1000002"); },
                      "Multiple Vornik/Tessel devices found (Error= 0x80564E03)\r\n", false, 1,
                      "OLD"},
        DiscoveryCase{"OtherListStatusIsSilent",
                      [](auto&, auto& d) { d.failNext(DeviceCall::ListDevice, VN_ERR_STORAGE); },
                      "", false, 0, "OLD"},
        DiscoveryCase{"DeviceInfoFails",
                      [](auto&, auto& d) { d.failNext(DeviceCall::GetDeviceInfo, VN_ERR_STORAGE); },
                      kFound, false, 1, "OLD"}),
    [](const auto& info) { return info.param.name; });

struct DeviceChange : testing::Test
{
    VirtualKeyDevice key{"VK1000001"};
    ScriptedDevice device{key};
    FakeMainWindow window{device};
    DeviceInterfaceBroadcast header = keyInterfaceBroadcast("VK1000001");
    std::vector<milliseconds> waits;
    ArrivalWait wait = [this](milliseconds d) { waits.push_back(d); };

    void SetUp() override { window.rows = {{"T1"}, {"T2"}}; }
};

TEST_F(DeviceChange, ArrivalOfOurKeyWaitsThenDiscovers)
{
    EXPECT_EQ(OnDeviceChange(window, DeviceEvent::Arrival, &header, wait), 0);
    EXPECT_EQ(waits, std::vector{milliseconds(2000)});
    EXPECT_EQ(window.messages, QStringList{kFound});
    EXPECT_EQ(window.refreshes, 1);
    EXPECT_EQ(window.switched, kKeyButtons);
}

TEST_F(DeviceChange, RemovalOnlyEmptiesTheList)
{
    EXPECT_EQ(OnDeviceChange(window, DeviceEvent::RemoveComplete, &header, wait), 0);
    EXPECT_TRUE(window.rows.empty());
    EXPECT_TRUE(window.messages.isEmpty());
    EXPECT_TRUE(window.switched.empty());
    EXPECT_TRUE(device.calls().empty());
}

struct IgnoredEvent
{
    const char* name;
    uint32_t eventCode;
    std::function<void(DeviceInterfaceBroadcast&)> spoil;
};

class Ignored : public DeviceChange, public testing::WithParamInterface<IgnoredEvent>
{
};

TEST_P(Ignored, NeitherWaitsNorTouchesTheWindow)
{
    GetParam().spoil(header);
    EXPECT_EQ(OnDeviceChange(window, GetParam().eventCode, &header, wait), 0);
    EXPECT_TRUE(waits.empty());
    EXPECT_TRUE(device.calls().empty());
    EXPECT_EQ(window.rows.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Filter, Ignored,
    testing::Values(
        IgnoredEvent{"LowerCaseVendor", DeviceEvent::Arrival,
                     [](auto& h) { h.name.replace("VID_096E", "vid_096e"); }},
        IgnoredEvent{"OtherVendor", DeviceEvent::Arrival,
                     [](auto& h) { h.name.replace("VID_096E", "VID_1050"); }},
        IgnoredEvent{"WrongClass", DeviceEvent::Arrival, [](auto& h) { h.classId.data2 ^= 1; }},
        IgnoredEvent{"WrongClassOnRemoval", DeviceEvent::RemoveComplete,
                     [](auto& h) { h.classId.data4[7] ^= 1; }},
        IgnoredEvent{"NotAnInterface", DeviceEvent::Arrival, [](auto& h) { h.deviceType = 2; }},
        IgnoredEvent{"QueryRemove", 0x8001, [](auto&) {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(DeviceChange, EventWithoutHeaderIsIgnored)
{
    EXPECT_EQ(OnDeviceChange(window, DeviceEvent::Arrival, nullptr, wait), 0);
    EXPECT_TRUE(waits.empty());
}

} // namespace
