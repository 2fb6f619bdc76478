#pragma once

// Forwards every call to an inner device and runs a hook just before each
// call that waits for a touch, so a test can see what the user sees at the
// moment the thread blocks.

#include "device/DeviceApi.h"

#include <functional>

class HookDevice final : public DeviceApi
{
public:
    explicit HookDevice(DeviceApi& inner) : m_inner(inner) {}

    std::function<void()> beforeTouch;

    uint32_t ListDevice(uint32_t* r, uint32_t f) override { return m_inner.ListDevice(r, f); }
    uint32_t GetDeviceInfo(DeviceInfoRecord* i) override { return m_inner.GetDeviceInfo(i); }
    uint32_t OtpList(uint32_t s, OtpTokenRecord* r) override { return m_inner.OtpList(s, r); }
    uint32_t OtpPersonalize(OtpTokenRecord r, const char* a, uint32_t n, uint8_t f) override
    {
        touching();
        return m_inner.OtpPersonalize(r, a, n, f);
    }
    uint32_t OtpCalculate(OtpTokenRecord r, const char* c, uint32_t cn, char* o, uint32_t* x,
                          const char* a, uint32_t an) override
    {
        touching();
        return m_inner.OtpCalculate(r, c, cn, o, x, a, an);
    }
    uint32_t OtpDelete(OtpTokenRecord r, const char* a, uint32_t n) override
    {
        touching();
        return m_inner.OtpDelete(r, a, n);
    }
    uint32_t OtpReset() override
    {
        touching();
        return m_inner.OtpReset();
    }
    uint32_t OtpSetValueWithEnter(uint8_t e) override { return m_inner.OtpSetValueWithEnter(e); }
    uint32_t OtpHasAccess(uint32_t s, uint8_t* h) override { return m_inner.OtpHasAccess(s, h); }
    uint32_t OtpSetAccess(uint32_t s, const char* c, uint32_t n) override
    {
        return m_inner.OtpSetAccess(s, c, n);
    }
    uint32_t OtpChangeAccess(uint32_t s, const char* o, uint32_t on, const char* c,
                             uint32_t cn) override
    {
        return m_inner.OtpChangeAccess(s, o, on, c, cn);
    }

private:
    void touching()
    {
        if (beforeTouch)
            beforeTouch();
    }

    DeviceApi& m_inner;
};
