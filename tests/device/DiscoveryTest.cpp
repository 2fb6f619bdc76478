// Discovery and the device-change handler, against the in-process virtual key
// with injected statuses.

#include "device/Discovery.h"
#include "support/FakeMainWindow.h"
#include "support/ScriptedDevice.h"
#include "support/VirtualKeyDevice.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Switches = std::vector<std::pair<int, bool>>;

const Switches kAllKeyButtonsInOrder = {
    {ControlId::NewToken, true},  {ControlId::SetEnter, true}, {ControlId::Refresh, true},
    {ControlId::GetOtp, true},    {ControlId::Remove, true},   {ControlId::Reset, true},
    {ControlId::PinPolicy, true},
};

struct DiscoveryCase
{
    const char* name;
    std::function<void(VirtualKeyDevice&, ScriptedDevice&)> arrange;
    QStringList messages;
    Switches switched;
    int refreshes;
    std::string keySerialAfter; // the window starts with "OLD-SERIAL"
};

class DiscoveryBranches : public testing::TestWithParam<DiscoveryCase>
{
};

TEST_P(DiscoveryBranches, ReportsEnablesAndRefreshes)
{
    const DiscoveryCase& c = GetParam();
    VirtualKeyDevice key("VK1000001");
    ScriptedDevice device(key);
    c.arrange(key, device);
    FakeMainWindow window(device);
    window.keySerialNumber = "OLD-SERIAL";

    DetectDevice(window);

    EXPECT_EQ(window.messages, c.messages);
    EXPECT_EQ(window.switched, c.switched);
    EXPECT_EQ(window.refreshes, c.refreshes);
    EXPECT_EQ(window.keySerialNumber, c.keySerialAfter);
    EXPECT_EQ(window.statusText, QString());
}

INSTANTIATE_TEST_SUITE_P(
    Detect, DiscoveryBranches,
    testing::Values(
        DiscoveryCase{"OneKey",
                      [](VirtualKeyDevice&, ScriptedDevice&) {},
                      {"Found a Vornik/Tessel device.\r\n"},
                      kAllKeyButtonsInOrder,
                      1,
                      "VK1000001"},
        DiscoveryCase{"NoKey",
                      [](VirtualKeyDevice& key, ScriptedDevice&) { key.unplug("VK1000001"); },
                      {"Vornik/Tessel device not found.\r\nYou may need to run this tool as "
                       "administrator (error= 0x80564E02)\r\n"},
                      {},
                      1,
                      "OLD-SERIAL"},
        DiscoveryCase{"SeveralKeys",
                      [](VirtualKeyDevice& key, ScriptedDevice&) { key.addKey("VK1000002"); },
                      {"Multiple Vornik/Tessel devices found (Error= 0x80564E03)\r\n"},
                      {},
                      1,
                      "OLD-SERIAL"},
        DiscoveryCase{"OtherListStatusIsSilent",
                      [](VirtualKeyDevice&, ScriptedDevice& device) {
                          device.failNext(DeviceCall::ListDevice, VN_ERR_STORAGE);
                      },
                      {},
                      {},
                      0,
                      "OLD-SERIAL"},
        DiscoveryCase{"DeviceInfoFailsKeepsOldSerial",
                      [](VirtualKeyDevice&, ScriptedDevice& device) {
                          device.failNext(DeviceCall::GetDeviceInfo, VN_ERR_STORAGE);
                      },
                      {"Found a Vornik/Tessel device.\r\n"},
                      {},
                      1,
                      "OLD-SERIAL"}),
    [](const testing::TestParamInfo<DiscoveryCase>& info) { return info.param.name; });

// ---- OnDeviceChange ----

struct DeviceChangeFixture : testing::Test
{
    VirtualKeyDevice key{"VK1000001"};
    ScriptedDevice device{key};
    FakeMainWindow window{device};
    std::vector<std::chrono::milliseconds> waits;
    ArrivalWait wait = [this](std::chrono::milliseconds d) { waits.push_back(d); };

    void SetUp() override
    {
        window.rows = {{"T1"}, {"T2"}};
        window.listedSerials = {"T1", "T2"};
        window.keySerialNumber = "VK1000001";
        window.setControlEnabled(ControlId::Remove, true);
        window.switched.clear();
    }
};

TEST_F(DeviceChangeFixture, ArrivalOfOurKeyWaitsThenDiscovers)
{
    const DeviceInterfaceBroadcast header = keyInterfaceBroadcast("VK1000001");
    EXPECT_EQ(OnDeviceChange(window, DeviceEvent::Arrival, &header, wait), 0);

    EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(2000)});
    EXPECT_EQ(window.messages, QStringList{"Found a Vornik/Tessel device.\r\n"});
    EXPECT_EQ(window.refreshes, 1);
    EXPECT_EQ(window.switched, kAllKeyButtonsInOrder);
}

TEST_F(DeviceChangeFixture, RemovalEmptiesTheListAndNothingElse)
{
    const DeviceInterfaceBroadcast header = keyInterfaceBroadcast("VK1000001");
    EXPECT_EQ(OnDeviceChange(window, DeviceEvent::RemoveComplete, &header, wait), 0);

    EXPECT_TRUE(window.rows.empty());
    EXPECT_TRUE(window.messages.isEmpty());
    EXPECT_TRUE(window.switched.empty());
    EXPECT_TRUE(window.isControlEnabled(ControlId::Remove));
    EXPECT_EQ(window.keySerialNumber, "VK1000001");
    EXPECT_EQ(window.listedSerials, (std::vector<std::string>{"T1", "T2"}));
    EXPECT_TRUE(waits.empty());
    EXPECT_TRUE(device.calls().empty());
}

struct IgnoredEvent
{
    const char* name;
    uint32_t eventCode;
    std::function<void(DeviceInterfaceBroadcast&)> spoil;
};

class IgnoredEvents : public DeviceChangeFixture, public testing::WithParamInterface<IgnoredEvent>
{
};

TEST_P(IgnoredEvents, NeitherWaitNorTouchTheWindow)
{
    DeviceInterfaceBroadcast header = keyInterfaceBroadcast("VK1000001");
    GetParam().spoil(header);

    EXPECT_EQ(OnDeviceChange(window, GetParam().eventCode, &header, wait), 0);

    EXPECT_TRUE(waits.empty());
    EXPECT_TRUE(device.calls().empty());
    EXPECT_TRUE(window.messages.isEmpty());
    EXPECT_EQ(window.rows.size(), 2u);
}

const auto kNoChange = [](DeviceInterfaceBroadcast&) {};

INSTANTIATE_TEST_SUITE_P(
    Filter, IgnoredEvents,
    testing::Values(
        IgnoredEvent{"LowerCaseVendor", DeviceEvent::Arrival,
                     [](DeviceInterfaceBroadcast& h) { h.name.replace("VID_096E", "vid_096e"); }},
        IgnoredEvent{"LowerCaseVendorOnRemoval", DeviceEvent::RemoveComplete,
                     [](DeviceInterfaceBroadcast& h) { h.name.replace("VID_096E", "vid_096e"); }},
        IgnoredEvent{"OtherVendor", DeviceEvent::Arrival,
                     [](DeviceInterfaceBroadcast& h) { h.name.replace("VID_096E", "VID_1050"); }},
        IgnoredEvent{"WrongClassFirstHalf", DeviceEvent::Arrival,
                     [](DeviceInterfaceBroadcast& h) { h.classId.data2 ^= 1; }},
        IgnoredEvent{"WrongClassSecondHalf", DeviceEvent::RemoveComplete,
                     [](DeviceInterfaceBroadcast& h) { h.classId.data4[7] ^= 1; }},
        IgnoredEvent{"NotAnInterface", DeviceEvent::Arrival,
                     [](DeviceInterfaceBroadcast& h) { h.deviceType = 2; }},
        IgnoredEvent{"QueryRemove", 0x8001, kNoChange},
        IgnoredEvent{"RemovePending", 0x8003, kNoChange},
        IgnoredEvent{"NodesChanged", 0x0007, kNoChange}),
    [](const testing::TestParamInfo<IgnoredEvent>& info) { return info.param.name; });

TEST_F(DeviceChangeFixture, EventWithoutHeaderIsIgnored)
{
    EXPECT_EQ(OnDeviceChange(window, DeviceEvent::Arrival, nullptr, wait), 0);
    EXPECT_TRUE(waits.empty());
    EXPECT_TRUE(device.calls().empty());
}

TEST(KeyInterfaceBroadcast, NamesTheKeyLikeTheUsbStack)
{
    const DeviceInterfaceBroadcast header = keyInterfaceBroadcast("VK1000001");
    EXPECT_EQ(header.name,
              "\\\\?\\USB#VID_096E&PID_0001#VK1000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_EQ(header.deviceType, 5u);
    EXPECT_TRUE(isOurKeyInterface(header));
}

} // namespace
