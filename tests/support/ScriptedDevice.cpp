#include "ScriptedDevice.h"

#include <algorithm>

namespace {

std::string bytes(const char* p, uint32_t n)
{
    return p ? std::string(p, n) : std::string();
}

} // namespace

std::vector<RecordedCall> ScriptedDevice::callsOf(DeviceCall call) const
{
    std::vector<RecordedCall> out;
    for (const auto& c : m_calls)
        if (c.call == call)
            out.push_back(c);
    return out;
}

uint32_t ScriptedDevice::run(RecordedCall entry, const std::function<uint32_t()>& inner)
{
    if (beforeCall)
        beforeCall(entry.call);
    auto once = m_once.find(entry.call);
    if (once != m_once.end() && !once->second.empty()) {
        entry.status = once->second.front();
        once->second.pop_front();
    } else if (auto always = m_always.find(entry.call); always != m_always.end()) {
        entry.status = always->second;
    } else {
        entry.status = inner();
    }
    m_calls.push_back(entry);
    return entry.status;
}

uint32_t ScriptedDevice::ListDevice(uint32_t* reserved, uint32_t flags)
{
    return run({.call = DeviceCall::ListDevice},
               [&] { return m_inner.ListDevice(reserved, flags); });
}

uint32_t ScriptedDevice::GetDeviceInfo(DeviceInfoRecord* info)
{
    return run({.call = DeviceCall::GetDeviceInfo}, [&] { return m_inner.GetDeviceInfo(info); });
}

uint32_t ScriptedDevice::OtpList(uint32_t slot, OtpTokenRecord* records)
{
    return run({.call = DeviceCall::OtpList, .slot = slot}, [&] {
        if (cannedListing.empty() || slot != VN_SLOT_ALL)
            return m_inner.OtpList(slot, records);
        std::ranges::copy(cannedListing, records);
        return uint32_t{VN_OK};
    });
}

uint32_t ScriptedDevice::OtpPersonalize(OtpTokenRecord rec, const char* access, uint32_t accessLen,
                                        uint8_t flag)
{
    return run({.call = DeviceCall::OtpPersonalize,
                .slot = rec.slot,
                .record = rec,
                .access = bytes(access, accessLen),
                .accessIsNull = access == nullptr,
                .flag = flag},
               [&] { return m_inner.OtpPersonalize(rec, access, accessLen, flag); });
}

uint32_t ScriptedDevice::OtpCalculate(OtpTokenRecord rec, const char* challenge,
                                      uint32_t challengeLen, char* otp, uint32_t* reserved,
                                      const char* access, uint32_t accessLen)
{
    return run({.call = DeviceCall::OtpCalculate,
                .slot = rec.slot,
                .record = rec,
                .access = bytes(access, accessLen),
                .accessIsNull = access == nullptr,
                .challenge = bytes(challenge, challengeLen),
                .challengeLen = challengeLen},
               [&] {
                   return m_inner.OtpCalculate(rec, challenge, challengeLen, otp, reserved, access,
                                               accessLen);
               });
}

uint32_t ScriptedDevice::OtpDelete(OtpTokenRecord rec, const char* access, uint32_t accessLen)
{
    return run({.call = DeviceCall::OtpDelete,
                .slot = rec.slot,
                .record = rec,
                .access = bytes(access, accessLen),
                .accessIsNull = access == nullptr},
               [&] { return m_inner.OtpDelete(rec, access, accessLen); });
}

uint32_t ScriptedDevice::OtpReset()
{
    return run({.call = DeviceCall::OtpReset}, [&] { return m_inner.OtpReset(); });
}

uint32_t ScriptedDevice::OtpSetValueWithEnter(uint8_t enter)
{
    return run({.call = DeviceCall::OtpSetValueWithEnter, .flag = enter},
               [&] { return m_inner.OtpSetValueWithEnter(enter); });
}

uint32_t ScriptedDevice::OtpHasAccess(uint32_t slot, uint8_t* hasAccess)
{
    return run({.call = DeviceCall::OtpHasAccess, .slot = slot},
               [&] { return m_inner.OtpHasAccess(slot, hasAccess); });
}

uint32_t ScriptedDevice::OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    return run({.call = DeviceCall::OtpSetAccess, .slot = slot, .access = bytes(code, codeLen)},
               [&] { return m_inner.OtpSetAccess(slot, code, codeLen); });
}

uint32_t ScriptedDevice::OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                         const char* newCode, uint32_t newLen)
{
    return run({.call = DeviceCall::OtpChangeAccess,
                .slot = slot,
                .access = bytes(newCode, newLen),
                .oldCode = bytes(oldCode, oldLen)},
               [&] { return m_inner.OtpChangeAccess(slot, oldCode, oldLen, newCode, newLen); });
}
