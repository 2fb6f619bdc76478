#pragma once

// A widgetless MainWindowPort that records messages, status texts, switched
// buttons and token rows.

#include "support/QtPrinters.h"
#include "app/MainWindowPort.h"

#include <map>
#include <utility>
#include <vector>

class FakeMainWindow final : public MainWindowPort
{
public:
    explicit FakeMainWindow(DeviceApi& device) : m_device(device) {}

    DeviceApi& device() override { return m_device; }
    WindowState& state() override { return windowState; }
    void AppendMessage(const QString& text) override;
    void SetStatusText(const QString& text) override;
    void setControlEnabled(int id, bool enabled) override;
    bool isControlEnabled(int id) const override;

    void clearTokenRows() override;
    void appendTokenRow(const QStringList& cells) override { rows.push_back(cells); }
    int tokenRowCount() const override { return static_cast<int>(rows.size()); }
    int selectedTokenRow() const override { return selected; }
    QString tokenCell(int row, int column) const override { return rows.at(row).value(column); }
    void removeTokenRow(int row) override;

    void RefreshTokenList() override;
    void change_pin_button_status() override { ++pinButtonUpdates; }
    QWidget* dialogParent() override { return nullptr; }
    // The clock moves on by an hour whenever the status line changes, so that
    // a test sees when a TOTP challenge was taken.
    std::time_t now() override { return clock; }

    QStringList serialColumn() const;
    // Forgets the records, not the rows or the buttons' states.
    void clearRecords();

    WindowState windowState;
    std::time_t clock = 1'700'000'000;
    QStringList messages;
    QString statusText;
    QStringList events; // messages, "<status:TEXT>" and "<refresh>"
    std::vector<std::pair<int, bool>> switched;
    std::vector<QStringList> rows;
    int selected = -1; // reset whenever rows are cleared or removed
    int refreshes = 0;
    int pinButtonUpdates = 0;

private:
    DeviceApi& m_device;
    std::map<int, bool> m_enabled;
};
