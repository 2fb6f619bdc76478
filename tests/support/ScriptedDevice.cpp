#include "ScriptedDevice.h"

namespace {

std::string bytes(const char* p, uint32_t n)
{
    return p ? std::string(p, n) : std::string();
}

} // namespace

const char* deviceCallName(DeviceCall call)
{
    switch (call) {
    case DeviceCall::ListDevice: return "VN_ListDevice";
    case DeviceCall::GetDeviceInfo: return "VN_GetDeviceInfo";
    case DeviceCall::OtpList: return "VN_OTP_List";
    case DeviceCall::OtpPersonalize: return "VN_OTP_Personalize";
    case DeviceCall::OtpCalculate: return "VN_OTP_Calculate";
    case DeviceCall::OtpDelete: return "VN_OTP_Delete";
    case DeviceCall::OtpReset: return "VN_OTP_Reset";
    case DeviceCall::OtpSetValueWithEnter: return "VN_OTP_SetValueWithEnter";
    case DeviceCall::OtpHasAccess: return "VN_OTP_HasAccess";
    case DeviceCall::OtpSetAccess: return "VN_OTP_SetAccess";
    case DeviceCall::OtpChangeAccess: return "VN_OTP_ChangeAccess";
    }
    return "?";
}

std::vector<RecordedCall> ScriptedDevice::callsOf(DeviceCall call) const
{
    std::vector<RecordedCall> out;
    for (const auto& c : m_calls)
        if (c.call == call)
            out.push_back(c);
    return out;
}

bool ScriptedDevice::scripted(DeviceCall call, uint32_t* status)
{
    if (auto it = m_once.find(call); it != m_once.end() && !it->second.empty()) {
        *status = it->second.front();
        it->second.pop_front();
        return true;
    }
    if (auto it = m_always.find(call); it != m_always.end()) {
        *status = it->second;
        return true;
    }
    return false;
}

uint32_t ScriptedDevice::record(RecordedCall entry, uint32_t status)
{
    entry.status = status;
    m_calls.push_back(std::move(entry));
    return status;
}

uint32_t ScriptedDevice::ListDevice(uint32_t* reserved, uint32_t flags)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::ListDevice, &status))
        status = m_inner.ListDevice(reserved, flags);
    return record({.call = DeviceCall::ListDevice}, status);
}

uint32_t ScriptedDevice::GetDeviceInfo(DeviceInfoRecord* info)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::GetDeviceInfo, &status))
        status = m_inner.GetDeviceInfo(info);
    return record({.call = DeviceCall::GetDeviceInfo}, status);
}

uint32_t ScriptedDevice::OtpList(uint32_t slot, OtpTokenRecord* records)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpList, &status))
        status = m_inner.OtpList(slot, records);
    return record({.call = DeviceCall::OtpList, .slot = slot}, status);
}

uint32_t ScriptedDevice::OtpPersonalize(OtpTokenRecord rec, const char* access,
                                        uint32_t accessLen, uint8_t flag)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpPersonalize, &status))
        status = m_inner.OtpPersonalize(rec, access, accessLen, flag);
    return record({.call = DeviceCall::OtpPersonalize,
                   .slot = rec.slot,
                   .record = rec,
                   .access = bytes(access, accessLen),
                   .accessIsNull = access == nullptr,
                   .flag = flag},
                  status);
}

uint32_t ScriptedDevice::OtpCalculate(OtpTokenRecord rec, const char* challenge,
                                      uint32_t challengeLen, char* otp, uint32_t* reserved,
                                      const char* access, uint32_t accessLen)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpCalculate, &status))
        status = m_inner.OtpCalculate(rec, challenge, challengeLen, otp, reserved, access,
                                      accessLen);
    return record({.call = DeviceCall::OtpCalculate,
                   .slot = rec.slot,
                   .record = rec,
                   .access = bytes(access, accessLen),
                   .accessIsNull = access == nullptr,
                   .challenge = bytes(challenge, challengeLen),
                   .challengeLen = challengeLen},
                  status);
}

uint32_t ScriptedDevice::OtpDelete(OtpTokenRecord rec, const char* access, uint32_t accessLen)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpDelete, &status))
        status = m_inner.OtpDelete(rec, access, accessLen);
    return record({.call = DeviceCall::OtpDelete,
                   .slot = rec.slot,
                   .record = rec,
                   .access = bytes(access, accessLen),
                   .accessIsNull = access == nullptr},
                  status);
}

uint32_t ScriptedDevice::OtpReset()
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpReset, &status))
        status = m_inner.OtpReset();
    return record({.call = DeviceCall::OtpReset}, status);
}

uint32_t ScriptedDevice::OtpSetValueWithEnter(uint8_t enter)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpSetValueWithEnter, &status))
        status = m_inner.OtpSetValueWithEnter(enter);
    return record({.call = DeviceCall::OtpSetValueWithEnter, .flag = enter}, status);
}

uint32_t ScriptedDevice::OtpHasAccess(uint32_t slot, uint8_t* hasAccess)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpHasAccess, &status))
        status = m_inner.OtpHasAccess(slot, hasAccess);
    return record({.call = DeviceCall::OtpHasAccess, .slot = slot}, status);
}

uint32_t ScriptedDevice::OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpSetAccess, &status))
        status = m_inner.OtpSetAccess(slot, code, codeLen);
    return record({.call = DeviceCall::OtpSetAccess, .slot = slot, .access = bytes(code, codeLen)},
                  status);
}

uint32_t ScriptedDevice::OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                                         const char* newCode, uint32_t newLen)
{
    uint32_t status = 0;
    if (!scripted(DeviceCall::OtpChangeAccess, &status))
        status = m_inner.OtpChangeAccess(slot, oldCode, oldLen, newCode, newLen);
    return record({.call = DeviceCall::OtpChangeAccess,
                   .slot = slot,
                   .access = bytes(newCode, newLen),
                   .oldCode = bytes(oldCode, oldLen)},
                  status);
}
