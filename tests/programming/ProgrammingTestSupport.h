#pragma once

// What the New Token dialog and command tests share: a main window without
// widgets, a driver for modal dialogs that cannot hang a test, a device
// wrapper that notes what the screen showed while the key waited for a
// touch, and RFC 4226/6238 values computed apart from the key.

#include "device/AnsiText.h"
#include "device/MainWindowPort.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Keeps what the command did to the main window, in order: every message,
// "<status:...>" for status texts and "<refresh>" for token list refreshes.
class TestWindow final : public MainWindowPort
{
public:
    explicit TestWindow(DeviceApi& device) : m_device(device) {}

    DeviceApi& device() override { return m_device; }
    void AppendMessage(const QString& text) override
    {
        messages << text;
        events << text;
    }
    void SetStatusText(const QString& text) override
    {
        statusText = text;
        events << QStringLiteral("<status:%1>").arg(text);
    }
    void setControlEnabled(int id, bool enabled) override { enabledState[id] = enabled; }
    bool isControlEnabled(int id) const override
    {
        auto it = enabledState.find(id);
        return it != enabledState.end() && it->second;
    }
    void clearTokenRows() override { rows.clear(); }
    void appendTokenRow(const QStringList& cells) override { rows.push_back(cells); }
    int tokenRowCount() const override { return static_cast<int>(rows.size()); }
    int selectedTokenRow() const override { return -1; }
    QString tokenCell(int row, int column) const override { return rows.at(row).value(column); }
    void removeTokenRow(int row) override { rows.erase(rows.begin() + row); }

    // Lists the key's serial numbers, as the real refresh leaves them.
    void RefreshTokenList() override
    {
        events << QStringLiteral("<refresh>");
        rows.clear();
        listedSerials.clear();
        std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
        if (m_device.OtpList(VN_SLOT_ALL, listing.data()) != VN_OK)
            return;
        for (const auto& record : listing) {
            if (record.serial[0] == '\0')
                break;
            listedSerials.push_back(fieldText(record.serial, sizeof record.serial));
            rows.push_back({fromAnsi(listedSerials.back())});
        }
    }
    void change_pin_button_status() override {}
    QWidget* dialogParent() override { return nullptr; }

    QStringList messages;
    QStringList events;
    QString statusText;
    std::map<int, bool> enabledState;
    std::vector<QStringList> rows;

private:
    DeviceApi& m_device;
};

// Hands every modal dialog that opens while armed to the test's action. A
// dialog the action leaves open is closed, and the whole drive gives up after
// a bound, so a broken dialog fails the test instead of hanging it.
class ModalDriver
{
public:
    ModalDriver()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            if (m_clock.elapsed() > 20000) {
                dialog->close();
                return;
            }
            if (!m_act)
                return;
            ++m_seen;
            m_act(dialog);
            if (dialog->isVisible())
                dialog->close();
        });
    }
    ~ModalDriver() { m_timer.stop(); }

    void arm(std::function<void(QWidget*)> act)
    {
        m_act = std::move(act);
        m_seen = 0;
        m_clock.start();
        m_timer.start();
    }
    int dialogsSeen() const { return m_seen; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::function<void(QWidget*)> m_act;
    int m_seen = 0;
};

// Forwards to the device under test; while the key is asked to program a
// token it notes the New Token dialog's status line and the cursor.
class TouchWatch final : public DeviceApi
{
public:
    explicit TouchWatch(DeviceApi& inner) : m_inner(inner) {}

    QWidget* dialog = nullptr; // the dialog to watch; else the active modal one
    QStringList statusDuringTouch;
    std::vector<bool> busyDuringTouch;

    uint32_t OtpPersonalize(OtpTokenRecord r, const char* a, uint32_t n, uint8_t f) override
    {
        QWidget* shown = dialog ? dialog : QApplication::activeModalWidget();
        const auto* status = shown ? shown->findChild<QLabel*>("statusLine") : nullptr;
        statusDuringTouch << (status ? status->text() : QStringLiteral("<no dialog>"));
        const QCursor* cursor = QGuiApplication::overrideCursor();
        busyDuringTouch.push_back(cursor && cursor->shape() == Qt::WaitCursor);
        return m_inner.OtpPersonalize(r, a, n, f);
    }

    uint32_t ListDevice(uint32_t* r, uint32_t f) override { return m_inner.ListDevice(r, f); }
    uint32_t GetDeviceInfo(DeviceInfoRecord* i) override { return m_inner.GetDeviceInfo(i); }
    uint32_t OtpList(uint32_t s, OtpTokenRecord* r) override { return m_inner.OtpList(s, r); }
    uint32_t OtpCalculate(OtpTokenRecord r, const char* c, uint32_t cl, char* o, uint32_t* x,
                          const char* a, uint32_t al) override
    {
        return m_inner.OtpCalculate(r, c, cl, o, x, a, al);
    }
    uint32_t OtpDelete(OtpTokenRecord r, const char* a, uint32_t n) override
    {
        return m_inner.OtpDelete(r, a, n);
    }
    uint32_t OtpReset() override { return m_inner.OtpReset(); }
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
    DeviceApi& m_inner;
};

// RFC 4226 HOTP of `seed` at `counter`; RFC 6238 TOTP is the same with the
// time step as counter.
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
    const unsigned offset = mac[macLength - 1] & 0x0F;
    const uint32_t binary = (uint32_t(mac[offset] & 0x7F) << 24) |
                            (uint32_t(mac[offset + 1]) << 16) | (uint32_t(mac[offset + 2]) << 8) |
                            uint32_t(mac[offset + 3]);
    uint32_t modulus = 1;
    for (int i = 0; i < digits; ++i)
        modulus *= 10;
    std::string text = std::to_string(binary % modulus);
    return std::string(static_cast<std::size_t>(digits) - text.size(), '0') + text;
}

// Decodes RFC 4648 base32 (with '=' padding), as an authenticator app reads
// the TOTP CSV file. Written apart from the program's encoder on purpose.
inline std::vector<uint8_t> decodeBase32(const std::string& text)
{
    std::vector<uint8_t> out;
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
        const char* at = std::strchr(alphabet, c);
        if (!at || c == '\0')
            return {};
        buffer = (buffer << 5) | static_cast<uint32_t>(at - alphabet);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}
