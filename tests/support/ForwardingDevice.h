#pragma once

// Passes every call to an inner device; tests override what they watch.

#include "device/DeviceApi.h"

#include <QCursor>
#include <QGuiApplication>

#include <functional>

class ForwardingDevice : public DeviceApi
{
public:
    explicit ForwardingDevice(DeviceApi& inner) : m_inner(inner) {}

    uint32_t ListDevice(uint32_t* reserved, uint32_t flags) override
    {
        return m_inner.ListDevice(reserved, flags);
    }
    uint32_t GetDeviceInfo(DeviceInfoRecord* info) override { return m_inner.GetDeviceInfo(info); }
    uint32_t OtpList(uint32_t slot, OtpTokenRecord* records) override
    {
        return m_inner.OtpList(slot, records);
    }
    uint32_t OtpPersonalize(OtpTokenRecord record, const char* access, uint32_t accessLen,
                            uint8_t flag) override
    {
        return m_inner.OtpPersonalize(record, access, accessLen, flag);
    }
    uint32_t OtpCalculate(OtpTokenRecord record, const char* challenge, uint32_t challengeLen,
                          char* otp, uint32_t* reserved, const char* access,
                          uint32_t accessLen) override
    {
        return m_inner.OtpCalculate(record, challenge, challengeLen, otp, reserved, access,
                                    accessLen);
    }
    uint32_t OtpDelete(OtpTokenRecord record, const char* access, uint32_t accessLen) override
    {
        return m_inner.OtpDelete(record, access, accessLen);
    }
    uint32_t OtpReset() override { return m_inner.OtpReset(); }
    uint32_t OtpSetValueWithEnter(uint8_t enter) override
    {
        return m_inner.OtpSetValueWithEnter(enter);
    }
    uint32_t OtpHasAccess(uint32_t slot, uint8_t* hasAccess) override
    {
        return m_inner.OtpHasAccess(slot, hasAccess);
    }
    uint32_t OtpSetAccess(uint32_t slot, const char* code, uint32_t codeLen) override
    {
        return m_inner.OtpSetAccess(slot, code, codeLen);
    }
    uint32_t OtpChangeAccess(uint32_t slot, const char* oldCode, uint32_t oldLen,
                             const char* newCode, uint32_t newLen) override
    {
        return m_inner.OtpChangeAccess(slot, oldCode, oldLen, newCode, newLen);
    }

protected:
    DeviceApi& m_inner;
};

// True while the application shows the busy (wait) cursor.
inline bool waitCursorShown()
{
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

// Runs a hook before each call that waits for a touch.
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
