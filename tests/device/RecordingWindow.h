#pragma once

// A main window without widgets for discovery and hot-plug: it keeps the
// messages, the order in which buttons were switched, the rows, and how often
// a token list refresh was asked for.

#include "device/MainWindowPort.h"

#include <map>
#include <utility>
#include <vector>

class RecordingWindow final : public MainWindowPort
{
public:
    explicit RecordingWindow(DeviceApi& device) : m_device(device) {}

    DeviceApi& device() override { return m_device; }
    void AppendMessage(const QString& text) override { messages << text; }
    void SetStatusText(const QString& text) override { statusText = text; }

    void setControlEnabled(int id, bool enabled) override
    {
        switched.emplace_back(id, enabled);
        m_enabled[id] = enabled;
    }
    bool isControlEnabled(int id) const override
    {
        const auto it = m_enabled.find(id);
        return it != m_enabled.end() && it->second;
    }

    void clearTokenRows() override { rows.clear(); }
    void appendTokenRow(const QStringList& cells) override { rows.push_back(cells); }
    int tokenRowCount() const override { return static_cast<int>(rows.size()); }
    int selectedTokenRow() const override { return -1; }
    QString tokenCell(int row, int column) const override { return rows.at(row).value(column); }
    void removeTokenRow(int row) override { rows.erase(rows.begin() + row); }

    void RefreshTokenList() override { ++refreshes; }
    void change_pin_button_status() override {}
    QWidget* dialogParent() override { return nullptr; }

    QStringList messages;
    QString statusText;
    std::vector<std::pair<int, bool>> switched;
    std::vector<QStringList> rows;
    int refreshes = 0;

private:
    DeviceApi& m_device;
    std::map<int, bool> m_enabled;
};
