#pragma once

// Lets the test look at the window just before each call that waits for a
// touch (Personalize, Calculate, Delete, Reset): what the user sees while the
// key waits is what matters.

#include "app/ForwardingDevice.h"

#include <functional>

class TouchWatchDevice final : public ForwardingDevice
{
public:
    TouchWatchDevice(DeviceApi& inner, std::function<void()> beforeTouch)
        : ForwardingDevice(inner), m_beforeTouch(std::move(beforeTouch))
    {
    }

    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag) override
    {
        m_beforeTouch();
        return m_inner.OtpPersonalize(record, access, accessLen, flag);
    }
    uint32_t OtpCalculate(OtpTokenRecord record, const char* challenge, uint32_t challengeLen,
                          char* otp, uint32_t* reserved, const char* access,
                          uint32_t accessLen) override
    {
        m_beforeTouch();
        return m_inner.OtpCalculate(record, challenge, challengeLen, otp, reserved, access,
                                    accessLen);
    }
    uint32_t OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen) override
    {
        m_beforeTouch();
        return m_inner.OtpDelete(record, access, accessLen);
    }
    uint32_t OtpReset() override
    {
        m_beforeTouch();
        return m_inner.OtpReset();
    }

private:
    std::function<void()> m_beforeTouch;
};
