#pragma once

// A widgetless MainWindowPort that records messages, status texts, switched
// buttons and token rows (by their serial numbers).

#include "app/MainWindowPort.h"
#include "support/QtPrinters.h"

#include <map>
#include <utility>
#include <vector>

class FakeMainWindow final : public otp::app::MainWindowPort
{
public:
    explicit FakeMainWindow(otp::device::DeviceApi& device) : m_device(device) {}

    otp::device::DeviceApi& device() override { return m_device; }
    otp::app::WindowState& state() override { return windowState; }
    void appendMessage(const QString& text) override { events << text; }
    // The clock moves on by an hour whenever the status line changes, so that
    // a test sees when a TOTP challenge was taken.
    void setStatusText(const QString& text) override;
    void setControlEnabled(int id, bool on) override
    {
        switched.emplace_back(id, on);
        enabled[id] = on;
    }
    bool isControlEnabled(int id) const override { return enabled.contains(id) && enabled.at(id); }

    void clearTokenRows() override
    {
        rows.clear();
        selected = -1;
    }
    void appendTokenRow(const QStringList& cells) override { rows << cells.value(0); }
    int tokenRowCount() const override { return static_cast<int>(rows.size()); }
    int selectedTokenRow() const override { return selected; }
    QString tokenCell(int row, int column) const override { return column ? "" : rows.value(row); }
    void removeTokenRow(int row) override
    {
        rows.removeAt(row);
        selected = -1;
    }

    // Lists the serial numbers straight from the device; reports nothing.
    void refreshTokenList() override;
    void updatePinButton() override { ++pinButtonUpdates; }
    QWidget* dialogParent() override { return nullptr; }
    std::time_t now() override { return clock; }

    // Forgets the records, not the rows or the buttons' states.
    void clearRecords()
    {
        events.clear();
        switched.clear();
    }

    otp::app::WindowState windowState;
    std::time_t clock = 1'700'000'000;
    QString statusText;
    QStringList events; // messages, "<status:TEXT>" and "<refresh>"
    std::vector<std::pair<int, bool>> switched;
    std::map<int, bool> enabled;
    QStringList rows;  // the serial column
    int selected = -1; // reset whenever rows are cleared or removed
    int pinButtonUpdates = 0;

private:
    otp::device::DeviceApi& m_device;
};
