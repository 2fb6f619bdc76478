#pragma once

// A main window without widgets for the token commands: it keeps every
// message, every status line text in order, the buttons' enabled states and
// the token rows, and it notes what the screen showed at the moment the key
// was asked to wait for a touch.

#include "device/AnsiText.h"
#include "device/MainWindowPort.h"

#include <QCursor>
#include <QGuiApplication>

#include <array>
#include <map>

class TestMainWindow final : public MainWindowPort
{
public:
    explicit TestMainWindow(DeviceApi& device) : m_device(device) {}

    DeviceApi& device() override { return m_device; }

    void AppendMessage(const QString& text) override { messages << text; }
    void SetStatusText(const QString& text) override
    {
        statusText = text;
        statusHistory << text;
    }

    void setControlEnabled(int id, bool enabled) override { m_enabled[id] = enabled; }
    bool isControlEnabled(int id) const override
    {
        const auto it = m_enabled.find(id);
        return it != m_enabled.end() && it->second;
    }

    void clearTokenRows() override
    {
        rows.clear();
        selected = -1;
    }
    void appendTokenRow(const QStringList& cells) override { rows.push_back(cells); }
    int tokenRowCount() const override { return static_cast<int>(rows.size()); }
    int selectedTokenRow() const override { return selected; }
    QString tokenCell(int row, int column) const override { return rows.at(row).value(column); }
    void removeTokenRow(int row) override
    {
        rows.erase(rows.begin() + row);
        selected = -1;
    }

    // Enough of a refresh to put the key's tokens into rows the way the real
    // list does: column 0 the serial, then type, hash, digits, interval.
    void RefreshTokenList() override
    {
        clearTokenRows();
        listedSerials.clear();
        std::array<OtpTokenRecord, VN_MAX_TOKENS> listing{};
        if (m_device.OtpList(VN_SLOT_ALL, listing.data()) != VN_OK)
            return;
        for (const auto& r : listing) {
            if (r.serial[0] == '\0')
                break;
            const std::string serial = fieldText(r.serial, sizeof r.serial);
            listedSerials.push_back(serial);
            rows.push_back({fromAnsi(serial), r.type == VN_TYPE_TOTP ? "TOTP" : "HOTP",
                            QString::number(r.hash), QString::number(r.digits),
                            QString::number(r.interval)});
        }
    }
    void change_pin_button_status() override { ++pinButtonUpdates; }

    QWidget* dialogParent() override { return nullptr; }

    // Called by the device wrapper just before a call that waits for a touch.
    void noteTouchWait()
    {
        statusDuringTouch << statusText;
        busyDuringTouch.push_back(QGuiApplication::overrideCursor() != nullptr &&
                                  QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor);
        resetEnabledDuringTouch.push_back(isControlEnabled(ControlId::Reset));
    }

    QStringList serialColumn() const
    {
        QStringList out;
        for (const auto& r : rows)
            out << r.value(0);
        return out;
    }

    QStringList messages;
    QString statusText = QStringLiteral("(untouched)");
    QStringList statusHistory;
    std::vector<QStringList> rows;
    int selected = -1;
    int pinButtonUpdates = 0;

    QStringList statusDuringTouch;
    std::vector<bool> busyDuringTouch;
    std::vector<bool> resetEnabledDuringTouch;

private:
    DeviceApi& m_device;
    std::map<int, bool> m_enabled;
};
