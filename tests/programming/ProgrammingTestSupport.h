#pragma once

// Shared by the New Token dialog and command tests: a main window without
// widgets, a bounded driver for modal dialogs, a device wrapper that notes
// what the screen showed while the key waited for a touch, and RFC 4226/6238
// values computed apart from the key.

#include "device/AnsiText.h"
#include "device/MainWindowPort.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Records, in order, every message, "<status:...>" and "<refresh>".
class TestWindow final : public MainWindowPort
{
public:
    explicit TestWindow(DeviceApi& device) : m_device(device) {}
    DeviceApi& device() override { return m_device; }
    void AppendMessage(const QString& text) override { events << text; }
    void SetStatusText(const QString& text) override { events << "<status:" + text + ">"; }
    void setControlEnabled(int id, bool enabled) override { enabledState[id] = enabled; }
    bool isControlEnabled(int id) const override
    {
        return enabledState.contains(id) && enabledState.at(id);
    }
    void clearTokenRows() override {}
    void appendTokenRow(const QStringList&) override {}
    int tokenRowCount() const override { return 0; }
    int selectedTokenRow() const override { return -1; }
    QString tokenCell(int, int) const override { return {}; }
    void removeTokenRow(int) override {}
    void change_pin_button_status() override {}
    QWidget* dialogParent() override { return nullptr; }
    // Lists the key's serial numbers, as the real refresh leaves them.
    void RefreshTokenList() override
    {
        events << "<refresh>";
        listedSerials.clear();
        std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
        m_device.OtpList(VN_SLOT_ALL, listing.data());
        for (const auto& r : listing)
            if (r.serial[0] != '\0')
                listedSerials.push_back(fieldText(r.serial, sizeof r.serial));
    }

    QStringList events;
    std::map<int, bool> enabledState;

private:
    DeviceApi& m_device;
};

// Hands each modal dialog that opens to the test's action; closes what the
// action leaves open and everything after 20 s, so no test can hang.
class ModalDriver
{
public:
    explicit ModalDriver(std::function<void(QWidget*)> act) : m_act(std::move(act))
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            if (m_clock.elapsed() < 20000) {
                ++seen;
                m_act(dialog);
            }
            if (dialog->isVisible())
                dialog->close();
        });
        m_timer.start(5);
    }
    int seen = 0;

private:
    std::function<void(QWidget*)> m_act;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

// Forwards to the device under test; when the key is asked to program a
// token, notes the dialog's status line and whether the cursor was busy.
class TouchWatch final : public DeviceApi
{
public:
    explicit TouchWatch(DeviceApi& inner) : d(inner) {}
    QWidget* dialog = nullptr; // else the active modal dialog
    QStringList statusDuringTouch;
    std::vector<bool> busyDuringTouch;

    uint32_t OtpPersonalize(OtpTokenRecord r, const char* a, uint32_t n, uint8_t f) override
    {
        QWidget* shown = dialog ? dialog : QApplication::activeModalWidget();
        const auto* status = shown ? shown->findChild<QLabel*>("statusLine") : nullptr;
        statusDuringTouch << (status ? status->text() : "<no dialog>");
        const QCursor* cursor = QGuiApplication::overrideCursor();
        busyDuringTouch.push_back(cursor && cursor->shape() == Qt::WaitCursor);
        return d.OtpPersonalize(r, a, n, f);
    }
    uint32_t ListDevice(uint32_t* r, uint32_t f) override { return d.ListDevice(r, f); }
    uint32_t GetDeviceInfo(DeviceInfoRecord* i) override { return d.GetDeviceInfo(i); }
    uint32_t OtpList(uint32_t s, OtpTokenRecord* r) override { return d.OtpList(s, r); }
    uint32_t OtpCalculate(OtpTokenRecord r, const char* c, uint32_t cl, char* o, uint32_t* x,
                          const char* a, uint32_t al) override
    {
        return d.OtpCalculate(r, c, cl, o, x, a, al);
    }
    uint32_t OtpDelete(OtpTokenRecord r, const char* a, uint32_t n) override
    {
        return d.OtpDelete(r, a, n);
    }
    uint32_t OtpReset() override { return d.OtpReset(); }
    uint32_t OtpSetValueWithEnter(uint8_t e) override { return d.OtpSetValueWithEnter(e); }
    uint32_t OtpHasAccess(uint32_t s, uint8_t* h) override { return d.OtpHasAccess(s, h); }
    uint32_t OtpSetAccess(uint32_t s, const char* c, uint32_t n) override
    {
        return d.OtpSetAccess(s, c, n);
    }
    uint32_t OtpChangeAccess(uint32_t s, const char* o, uint32_t on, const char* c,
                             uint32_t cn) override
    {
        return d.OtpChangeAccess(s, o, on, c, cn);
    }

private:
    DeviceApi& d;
};

// RFC 4226 HOTP of `seed` at `counter` (RFC 6238 TOTP: the time step as counter).
inline std::string referenceOtp(const std::vector<uint8_t>& seed, uint64_t counter, int digits,
                                bool sha256)
{
    unsigned char message[8];
    for (int i = 7; i >= 0; --i, counter >>= 8)
        message[i] = static_cast<unsigned char>(counter & 0xFF);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    HMAC(sha256 ? EVP_sha256() : EVP_sha1(), seed.data(), static_cast<int>(seed.size()), message,
         sizeof message, mac, &macLength);
    const unsigned at = mac[macLength - 1] & 0x0F;
    const uint32_t binary = (uint32_t(mac[at] & 0x7F) << 24) | (uint32_t(mac[at + 1]) << 16) |
                            (uint32_t(mac[at + 2]) << 8) | uint32_t(mac[at + 3]);
    std::string text = std::to_string(binary % (digits == 8 ? 100000000u : 1000000u));
    return std::string(static_cast<std::size_t>(digits) - text.size(), '0') + text;
}

// RFC 4648 base32 decoding, as an authenticator app reads the TOTP CSV file;
// written apart from the program's encoder on purpose.
inline std::vector<uint8_t> decodeBase32(const std::string& text)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::vector<uint8_t> out;
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        const char* at = c ? std::strchr(alphabet, c) : nullptr;
        if (!at)
            break; // '=' padding
        buffer = (buffer << 5) | static_cast<uint32_t>(at - alphabet);
        if ((bits += 5) >= 8)
            out.push_back(static_cast<uint8_t>(buffer >> (bits -= 8)));
    }
    return out;
}
