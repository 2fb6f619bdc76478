// The PIN record as read from slot 1: any program can write that serial
// text, so its base64 and its 34-byte layout must take anything.

#include "FuzzCheck.h"
#include "core/Codecs.h"
#include "device/DeviceApi.h"
#include "pin/PinPolicyRecord.h"

#include <algorithm>
#include <cstring>
#include <string_view>

using namespace otp;
using namespace otp::core;
using namespace otp::device;
using namespace otp::pin;

namespace {

// A key whose slot 1 holds the given serial field and that refuses anything
// else: the PIN readers must only ever list that slot, and the writer only
// replace it.
class SlotOneKey final : public DeviceApi
{
public:
    explicit SlotOneKey(std::string_view serial)
    {
        m_record.slot = VN_SLOT_PIN_RECORD;
        std::memcpy(m_record.serial, serial.data(),
                    std::min(serial.size(), sizeof m_record.serial));
    }
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override
    {
        FUZZ_CHECK(slot == VN_SLOT_PIN_RECORD);
        *records = m_record;
        return VN_OK;
    }
    uint32_t ListDevice(uint32_t*, uint32_t) override { return refuse(); }
    uint32_t GetDeviceInfo(DeviceInfoRecord*) override { return refuse(); }
    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t, uint8_t) override
    {
        FUZZ_CHECK(record.slot == VN_SLOT_PIN_RECORD && access == nullptr);
        m_record = record;
        return VN_OK;
    }
    uint32_t OtpCalculate(OtpTokenRecord, const char*, uint32_t, char*, uint32_t*, const char*,
                          uint32_t) override
    {
        return refuse();
    }
    uint32_t OtpDelete(OtpTokenRecord, const char*, uint32_t) override { return refuse(); }
    uint32_t OtpReset() override { return refuse(); }
    uint32_t OtpSetValueWithEnter(uint8_t) override { return refuse(); }
    uint32_t OtpHasAccess(uint32_t, uint8_t*) override { return refuse(); }
    uint32_t OtpSetAccess(uint32_t, const char*, uint32_t) override { return refuse(); }
    uint32_t OtpChangeAccess(uint32_t, const char*, uint32_t, const char*, uint32_t) override
    {
        return refuse();
    }

private:
    static uint32_t refuse()
    {
        fuzz_check_failed("the PIN readers call only OtpList", __FILE__, __LINE__);
    }
    OtpTokenRecord m_record{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // As read from a key: the serial field, cut at its first NUL or its end.
    SlotOneKey device(text);
    KeySession key(device);
    const auto policy = read_pin_policy(key);
    const PinPolicyRecord orZero = read_pin_policy_or_zero(key);
    if (policy)
        FUZZ_CHECK(policy->enabled != 0 && *policy == orZero);
    const std::string_view field =
        text.substr(0, std::min(text.find('\0'), sizeof(OtpTokenRecord::serial)));
    if (const auto stored = pin_record_base64_decode(field);
        stored && stored->size() == kPinPolicyRecordSize)
        FUZZ_CHECK(orZero == pin_policy_from_bytes(std::span<const uint8_t, kPinPolicyRecordSize>(
                                 stored->data(), kPinPolicyRecordSize)));
    else
        FUZZ_CHECK(!policy && orZero == PinPolicyRecord{});

    const auto decoded = pin_record_base64_decode(text);
    if (!decoded)
        return 0;

    // Whatever decodes encodes back to text that decodes to the same bytes.
    const auto again = base64_decode(base64_encode(*decoded));
    FUZZ_CHECK(again && *again == *decoded);
    // Three bytes per four characters up to the first '='.
    FUZZ_CHECK(decoded->size() <= text.size() / 4 * 3);

    if (decoded->size() == kPinPolicyRecordSize) {
        const auto record = pin_policy_from_bytes(
            std::span<const uint8_t, kPinPolicyRecordSize>(decoded->data(), kPinPolicyRecordSize));
        const PinPolicyBytes bytes = to_bytes(record);
        FUZZ_CHECK(std::ranges::equal(bytes, *decoded));
        // The pseudo-token carries the record whole: written and read back, it is the same.
        FUZZ_CHECK(write_pin_policy(key, record));
        FUZZ_CHECK(read_pin_policy_or_zero(key) == record);
    }
    return 0;
}
